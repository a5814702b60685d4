#include "edit/TrackInputs.h"
#include "EditFixtures.h"

#include <gtest/gtest.h>

using namespace reelbox;

TEST(TrackInputs, OnePerTrackWithAStemWithItsStartAndHiddenParts) {
    test::EditFixture f;
    Take take;
    take.folder = QStringLiteral("/takes/t");
    take.info = f.state.info;
    take.info.edit.hidden[f.audio2().key()] = {{1, 2}};
    const QString overdubMovie = QStringLiteral("/takes/t/overdubs/o.mov");
    EXPECT_EQ(mediaFiles(take), (QStringList{"/takes/t/take.mov", overdubMovie}));

    const std::map<QString, QStringList> stems{{"/takes/t/take.mov", {"m0.caf", "m1.caf"}},
                                               {overdubMovie, {"o0.caf"}}};
    const auto inputs = trackInputs(take, stems);
    ASSERT_EQ(inputs.size(), 3u);
    EXPECT_EQ(inputs[0].stem, QStringLiteral("m0.caf"));
    EXPECT_EQ(inputs[0].start, 0);
    EXPECT_TRUE(inputs[0].hidden.empty());
    EXPECT_EQ(inputs[1].stem, QStringLiteral("m1.caf"));
    EXPECT_EQ(inputs[1].hidden, (SpanList{{1, 2}}));
    EXPECT_EQ(inputs[2].stem, QStringLiteral("o0.caf"));
    EXPECT_DOUBLE_EQ(inputs[2].start, 1.5); // start + nudge
    EXPECT_EQ(inputs[2].track.id, f.overdubTrack);

    // Tracks without a stem are left out: channels beyond (or before) the movie's stems, an
    // overdub without stems, an overdub that no longer exists.
    for (const qint64 channel : {5LL, -1LL}) {
        Take other = take;
        other.info.tracks[1].source.channel = channel;
        other.info.tracks.push_back({});
        other.info.tracks.back().source = Track::Source::overdub(QUuid::createUuid(), 0);
        const auto kept = trackInputs(other, {{"/takes/t/take.mov", {"m0.caf", "m1.caf"}}});
        ASSERT_EQ(kept.size(), 1u) << channel;
        EXPECT_EQ(kept[0].track.id, f.input1);
    }
    take.info.mainRemoved = true;
    EXPECT_EQ(mediaFiles(take), QStringList{"/takes/t/overdubs/o.mov"});
}
