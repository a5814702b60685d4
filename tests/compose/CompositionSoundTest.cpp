#include "compose/CompositionSound.h"
#include "platform/media/AudioFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace reelbox;

namespace {

// Sample `frame` of channel `c`: exact in float, tells channel and frame apart.
float value(qint64 frame, int c) {
    return float((c + 1) * 100000 + frame);
}

QString writeSource(const QDir& dir, const QString& name, int channels, qint64 frames) {
    std::vector<std::vector<float>> data{size_t(channels), std::vector<float>(size_t(frames))};
    for (int c = 0; c < channels; ++c)
        for (qint64 i = 0; i < frames; ++i)
            data[size_t(c)][size_t(i)] = value(i, c);
    const QString path = dir.filePath(name);
    writeAudioFile(path, data, 48000);
    return path;
}

} // namespace

// A mono source on both sides, the first two of more channels, tick t at frame 80 t, tracks
// summed, silence in gaps and past a source's end; chunked reads equal one read.
TEST(CompositionSound, ReadsEverySegmentIntoPlace) {
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    const QString mono = writeSource(dir, "mono.caf", 1, 2000);
    const QString three = writeSource(dir, "three.caf", 3, 2000);
    const QString brief = writeSource(dir, "brief.caf", 2, 100);

    struct Segment {
        int track;
        QString path;
        Ticks sourceStart, duration, start;
    };
    struct Probe {
        qint64 frame;
        float left, right;
    };
    struct Case {
        const char* name;
        std::vector<Segment> segments;
        std::vector<Probe> probes;
    };
    const std::vector<Case> cases = {
        {"mono on both sides", {{0, mono, 0, 10, 0}}, {{5, value(5, 0), value(5, 0)}}},
        {"first two of three", {{0, three, 0, 10, 0}}, {{7, value(7, 0), value(7, 1)}}},
        {"ticks to frames",
         {{0, mono, 2, 5, 3}},
         {{239, 0, 0}, {240, value(160, 0), value(160, 0)}, {639, value(559, 0), value(559, 0)}}},
        {"tracks summed",
         {{0, mono, 0, 4, 0}, {1, three, 1, 4, 2}},
         {{100, value(100, 0), value(100, 0)},
          {200, value(200, 0) + value(120, 0), value(200, 0) + value(120, 1)},
          {400, value(320, 0), value(320, 1)}}},
        {"gap and source end silent",
         {{0, brief, 0, 10, 0}, {0, mono, 0, 2, 20}},
         {{99, value(99, 0), value(99, 1)},
          {100, 0, 0},
          {1000, 0, 0},
          {1600, value(0, 0), value(0, 0)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Composition composition;
        std::vector<std::int32_t> ids;
        for (const Segment& s : c.segments) {
            while (int(ids.size()) <= s.track)
                ids.push_back(composition.addTrack(CompositionTrack::Kind::audio));
            composition.insert(ids[size_t(s.track)],
                               {s.path, 0, s.sourceStart, s.duration, s.start});
        }
        CompositionSound sound(composition);
        ASSERT_FALSE(sound.isEmpty());
        const qint64 total = sound.lengthFrames();
        ASSERT_EQ(total, composition.duration() * 80);
        std::vector<float> whole(size_t(total) * 2), chunked(size_t(total) * 2);
        sound.read(whole.data(), 0, total);
        for (qint64 at = 0; at < total; at += 37)
            sound.read(chunked.data() + at * 2, at, std::min<qint64>(37, total - at));
        EXPECT_EQ(whole, chunked);
        for (const Probe& p : c.probes) {
            SCOPED_TRACE(p.frame);
            EXPECT_EQ(whole[size_t(p.frame * 2)], p.left);
            EXPECT_EQ(whole[size_t(p.frame * 2 + 1)], p.right);
        }
    }
    EXPECT_TRUE(CompositionSound(Composition()).isEmpty());
}
