// Playing an edited take through the Test Output: the sound the device receives is the mix,
// sample for sample from the seek point, and every click is heard within a frame of the flash
// picture shown with it.
#include "model/TakeInfoCodec.h"
#include "platform/media/AudioFile.h"
#include "support/CliRun.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>
#include <gtest/gtest.h>

using namespace reelbox;

namespace {

std::vector<float> readStereo(const QString& path) {
    AudioFileReader reader(path);
    std::vector<float> samples(size_t(reader.frames() * reader.channels()));
    reader.read(samples.data(), reader.frames());
    return samples;
}

} // namespace

TEST(PlaySync, TheOutputIsTheMixAndClicksMeetTheirFlashes) {
    test::TemporaryHome home;
    qputenv("REELBOX_VIRTUAL_DEVICES", "1");
    const QString take = test::cliOutput({"synth-take", "--root", home.filePath("library"),
                                          "--seconds", "6", "--channels", "1", "--size", "160x90"});
    ASSERT_FALSE(take.isEmpty());

    // Cut 1.5 … 2.7 s out; the settle line names the mix the editor made.
    const QString settled =
        test::cliOutput({"edit", take, "-"},
                        {.input = "seek 1.5\nsplit\nseek 2.7\nsplit\nselect-timeline 2\nremove\n"});
    const auto match = QRegularExpression(R"re("processedAudio": "([^"]+)")re").match(settled);
    ASSERT_TRUE(match.hasMatch()) << settled.toStdString();
    // The line also tells when the new preview was ready to play.
    const QJsonObject settle = QJsonDocument::fromJson(settled.toUtf8()).object();
    ASSERT_TRUE(settle["previewMilliseconds"].isDouble()) << settled.toStdString();
    EXPECT_LE(settle["previewMilliseconds"].toDouble(), settle["milliseconds"].toDouble());
    const std::vector<float> mix = readStereo(match.captured(1));

    const QString recorded = home.filePath("out.caf");
    const QString frames = home.filePath("frames");
    test::cliOutput({"play", take, "--from", "0.5", "--seconds", "3.5", "--record-output", recorded,
                     "--frames", frames});
    const std::vector<float> heard = readStereo(recorded);
    ASSERT_GE(heard.size(), size_t(2 * 48000 * 3.4));

    // Sample for sample the mix from output time 0.5 s.
    const size_t from = 2 * 24000;
    size_t differing = 0;
    for (size_t i = 0; i < heard.size() && from + i < mix.size(); ++i)
        differing += heard[i] != mix[from + i];
    EXPECT_EQ(differing, 0u);

    // Clicks in what was heard, and the flash pictures by the time they were shown.
    float peak = 0;
    for (float s : heard)
        peak = std::max(peak, std::fabs(s));
    std::vector<double> clicksMs;
    for (size_t i = 0, last = 0; i < heard.size() / 2; ++i)
        if (std::fabs(heard[2 * i]) > 0.75f * peak) {
            if (clicksMs.empty() || i - last > 4800)
                clicksMs.push_back(i / 48.0);
            last = i;
        }
    std::vector<double> flashesMs;
    for (const QString& name : QDir(frames).entryList({"*.jpg"})) {
        const QImage image = QImage(QDir(frames).filePath(name)).scaled(8, 8);
        double sum = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                sum += qGray(image.pixel(x, y));
        if (sum / 64 > 235)
            flashesMs.push_back(name.chopped(4).toDouble());
    }
    // Output 0.5 … 4 s is source 0.5 … 1.5 and 2.7 … 5.2: the flashes at 1 s, 3, 4 and 5.
    ASSERT_GE(clicksMs.size(), 3u);
    for (double click : clicksMs) {
        double nearest = 1e9;
        for (double flash : flashesMs)
            nearest = std::min(nearest, std::fabs(flash - click));
        EXPECT_LE(nearest, 1000.0 / 30) << "click at " << click << " ms";
    }
}
