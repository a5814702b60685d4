// An edit with many cuts must not let sound and picture drift apart: every cut is rounded
// once on the picture's 600-tick time line and once on the sound's 48 kHz one.
#include "model/TakeInfoCodec.h"
#include "model/TimeMap.h"
#include "platform/media/VideoDecoder.h"
#include "support/CliRun.h"
#include "support/MediaFixtures.h"
#include "support/TestSupport.h"

#include <QDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace reelbox;

namespace {

// Onsets of the clicks: the first sample of each run above the threshold.
std::vector<double> clickTimes(const reelbox::testing::DecodedAudio& audio) {
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

// Start times of the white frames.
std::vector<double> flashTimes(const QString& path, double duration) {
    VideoDecoder decoder(path);
    std::vector<double> flashes;
    bool previousWhite = false;
    for (int frame = 0; frame < int(duration * 30); ++frame) {
        const double t = frame / 30.0;
        const QImage image = decoder.frameAt(t + 0.001).scaled(16, 9);
        if (image.isNull())
            break;
        double sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                sum += qGray(image.pixel(x, y));
        const bool white = sum / (image.width() * image.height()) > 235;
        if (white && !previousWhite)
            flashes.push_back(t);
        previousWhite = white;
    }
    return flashes;
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
        double nearest = 1e9;
        for (double flash : flashes)
            if (std::fabs(flash - click) < std::fabs(nearest))
                nearest = flash - click;
        EXPECT_LE(std::fabs(nearest), 1.0 / 30) << "click at " << click;
    }
    EXPECT_GE(checked, 25);
    EXPECT_GT(clicks.back(), duration - 4);
}
