#include "compose/CompositionFrameSource.h"
#include "support/MediaFixtures.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace reelbox;
namespace fixtures = reelbox::testing;

TEST(CompositionFrameSource, TheFrameOfEveryTrackAtATime) {
    QTemporaryDir dir;
    const QString a = fixtures::writeNumberedMovie(dir.filePath("a.mov"), {64, 36}, 60); // 2 s
    const QString b = fixtures::writeNumberedMovie(dir.filePath("b.mov"), {64, 36}, 30, 60);
    Composition composition;
    const auto main = composition.addTrack(CompositionTrack::Kind::video);
    const auto overdub = composition.addTrack(CompositionTrack::Kind::video);
    // Main: source 0 … 0.5 s at 0, then source 1.5 … 2 s at 0.5 s (a cut in between).
    composition.insert(main, {a, 0, 0, 300, 0});
    composition.insert(main, {a, 0, 900, 300, 300});
    // Overdub: its whole second from 0.25 s.
    composition.insert(overdub, {b, 0, 0, 600, 150});

    CompositionFrameSource source(composition);
    auto frames = source.framesAt(0);
    ASSERT_EQ(frames.size(), 1u); // the overdub hasn't begun
    EXPECT_EQ(fixtures::indexOfColour(frames.at(main)), 0);

    frames = source.framesAt(200); // 1/3 s
    EXPECT_EQ(fixtures::indexOfColour(frames.at(main)), 10);
    EXPECT_EQ(fixtures::indexOfColour(frames.at(overdub)), 60 + 2);

    frames = source.framesAt(320); // after the cut: source 1.5 s + 20 ticks
    EXPECT_EQ(fixtures::indexOfColour(frames.at(main)), 46);
    EXPECT_EQ(fixtures::indexOfColour(frames.at(overdub)), 60 + 8);

    frames = source.framesAt(760); // past the overdub's end
    EXPECT_EQ(frames.count(overdub), 0u);
    EXPECT_EQ(frames.count(main), 0u); // and past the main's last segment

    // Going back in time seeks.
    frames = source.framesAt(20);
    EXPECT_EQ(fixtures::indexOfColour(frames.at(main)), 1);
}
