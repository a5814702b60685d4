#include "model/TakeInfoCodec.h"
#include "model/TimeMap.h"
#include "platform/media/VideoDecoder.h"
#include "support/CliRun.h"
#include "support/MediaFixtures.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>
#include <gtest/gtest.h>

using namespace reelbox;
using reelbox::testing::DecodedAudio;

namespace {

// Onsets of the clicks in seconds: the first sample of each run above the threshold.
std::vector<double> clickTimes(const DecodedAudio& audio) {
    float peak = 0;
    for (float s : audio.samples)
        peak = std::max(peak, std::fabs(s));
    std::vector<double> onsets;
    qint64 last = -48000;
    for (qint64 i = 0; i < audio.frames(); ++i) {
        float level = 0;
        for (int c = 0; c < audio.channels; ++c)
            level = std::max(level, std::fabs(audio.samples[size_t(i * audio.channels + c)]));
        if (level > 0.75f * peak) {
            if (i - last > 4800)
                onsets.push_back(double(i) / 48000);
            last = i;
        }
    }
    return onsets;
}

bool isFlash(const QImage& picture) {
    const QImage small = picture.scaled(16, 9);
    double sum = 0;
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x)
            sum += qGray(small.pixel(x, y));
    return sum / (small.width() * small.height()) > 235;
}

// Start times of the white frames.
std::vector<double> flashTimes(const QString& path, double duration) {
    VideoDecoder decoder(path);
    std::vector<double> flashes;
    bool previousWhite = false;
    for (int frame = 0; frame < int(duration * 30); ++frame) {
        const double t = frame / 30.0;
        const QImage image = decoder.frameAt(t + 0.001);
        if (image.isNull())
            break;
        const bool white = isFlash(image);
        if (white && !previousWhite)
            flashes.push_back(t);
        previousWhite = white;
    }
    return flashes;
}

double distanceToNearest(double time, const std::vector<double>& times) {
    double nearest = 1e9;
    for (double t : times)
        nearest = std::min(nearest, std::fabs(t - time));
    return nearest;
}

} // namespace

TEST(ExportSync, TwentyCutsKeepSoundAndPictureWithinOneFrame) {
    test::TemporaryHome home;
    const QString root = home.filePath("library");
    const QString take = test::cliOutput(
        {"synth-take", "--root", root, "--seconds", "40", "--channels", "1", "--size", "160x90"});
    ASSERT_FALSE(take.isEmpty());

    // Twenty cuts at times and lengths that fall between frames and between ticks.
    const QString infoPath = QDir(take).filePath("take.json");
    TakeInfo info = decodeTakeInfo(test::readFile(infoPath));
    for (int i = 0; i < 20; ++i) {
        const double start = 0.6 + i * 1.7 + 0.00731 * i;
        info.edit.cuts.push_back({start, start + 0.21337 + 0.0019 * i});
    }
    test::writeFile(infoPath, encodeTakeInfo(info));

    const QString out = home.filePath("out.mp4");
    test::cliOutput({"export", take, out, "--format", "h264"});

    const auto clicks = clickTimes(reelbox::testing::readAllAudio(out));
    const double duration = 40 - 20 * 0.21337 - 0.0019 * 190;
    const auto flashes = flashTimes(out, duration);
    ASSERT_GE(clicks.size(), 25u);
    ASSERT_GE(flashes.size(), 25u);

    // Each click lies within one frame of its flash, the last one, after every cut, too. A
    // flash cut to less than a frame by a cut next to it may not be shown at all: those
    // clicks prove nothing and are left out.
    const TimeMap map{info.edit.keptSpans(info.duration)};
    const auto nearCutEdge = [&](double second) {
        for (const TimeSpan& cut : info.edit.cuts)
            if (std::fabs(cut.start - second) < 1.0 / 30 || std::fabs(cut.end - second) < 1.0 / 30)
                return true;
        return false;
    };
    int checked = 0;
    for (double click : clicks) {
        if (nearCutEdge(std::round(map.sourceTime(click))))
            continue;
        ++checked;
        EXPECT_LE(distanceToNearest(click, flashes), 1.0 / 30) << "click at " << click;
    }
    EXPECT_GE(checked, 25);
    EXPECT_GT(clicks.back(), duration - 4);
}

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
    const QJsonObject settle = QJsonDocument::fromJson(settled.toUtf8()).object();
    ASSERT_TRUE(settle["previewMilliseconds"].isDouble()) << settled.toStdString();
    EXPECT_LE(settle["previewMilliseconds"].toDouble(), settle["milliseconds"].toDouble());
    const std::vector<float> mix = reelbox::testing::readAllAudio(match.captured(1)).samples;

    const QString recorded = home.filePath("out.caf");
    const QString frames = home.filePath("frames");
    test::cliOutput({"play", take, "--from", "0.5", "--seconds", "3.5", "--record-output", recorded,
                     "--frames", frames});
    const DecodedAudio output = reelbox::testing::readAllAudio(recorded);
    const std::vector<float>& heard = output.samples;
    ASSERT_GE(heard.size(), size_t(2 * 48000 * 3.4));

    // Sample for sample the mix from output time 0.5 s.
    const size_t from = 2 * 24000;
    size_t differing = 0;
    for (size_t i = 0; i < heard.size() && from + i < mix.size(); ++i)
        differing += heard[i] != mix[from + i];
    EXPECT_EQ(differing, 0u);

    // Clicks in what was heard, and the flash pictures by the time they were shown (their
    // names, in milliseconds). Output 0.5 … 4 s is source 0.5 … 1.5 and 2.7 … 5.2: the
    // flashes at 1 s, 3, 4 and 5.
    const std::vector<double> clicks = clickTimes(output);
    std::vector<double> flashes;
    for (const QString& name : QDir(frames).entryList({"*.jpg"}))
        if (isFlash(QImage(QDir(frames).filePath(name))))
            flashes.push_back(name.chopped(4).toDouble() / 1000);
    ASSERT_GE(clicks.size(), 3u);
    for (double click : clicks)
        EXPECT_LE(distanceToNearest(click, flashes), 1.0 / 30) << "click at " << click << " s";
}
