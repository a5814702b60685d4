#include "model/Take.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace reelbox;

namespace {
Overdub overdubAt(double start, double nudge, double duration) {
    Overdub o;
    o.id = QUuid::createUuid();
    o.fileName = QStringLiteral("o.mov");
    o.start = start;
    o.nudge = nudge;
    o.duration = duration;
    return o;
}
} // namespace

TEST(TakeInfoTimeline, TheLongerOfMainAndOverdubs) {
    TakeInfo info;
    info.duration = 10;
    EXPECT_DOUBLE_EQ(info.timelineDuration(), 10);
    info.overdubs.push_back(overdubAt(8, -0.1, 5));
    EXPECT_DOUBLE_EQ(info.timelineDuration(), 12.9);
    info.overdubs.push_back(overdubAt(1, 0, 2));
    EXPECT_DOUBLE_EQ(info.timelineDuration(), 12.9);
    info.mainRemoved = true;
    info.overdubs.clear();
    EXPECT_DOUBLE_EQ(info.timelineDuration(), 0);
}

// Where the sound of inputs and overdubs comes from: TrackInputs' tests.
TEST(TakeAudioSource, ATrackOfAnOverdubThatIsGoneHasNone) {
    Take take;
    take.folder = QStringLiteral("/library/2024-03-01 17.05.09");
    take.info.overdubs.push_back(overdubAt(3, 0.5, 4));
    Track orphan;
    orphan.source = Track::Source::overdub(QUuid::createUuid(), 0);
    EXPECT_EQ(take.audioSource(orphan), std::nullopt);
}

TEST(TakeChoices, RawStringsRoundTripInChooserOrder) {
    QStringList rooms;
    for (ReverbRoom room : allReverbRooms) {
        rooms << rawString(room);
        EXPECT_EQ(reverbRoomFromRaw(rawString(room)), room);
    }
    EXPECT_EQ(rooms, (QStringList{"Small Room", "Medium Room", "Large Room", "Hall", "Large Hall",
                                  "Plate", "Cathedral"}));
    for (auto format : allFormats)
        EXPECT_EQ(formatFromRaw(rawString(format)), format);
    for (auto aspect : allAspects)
        EXPECT_EQ(aspectFromRaw(rawString(aspect)), aspect);
    for (auto layout : allLayouts)
        EXPECT_EQ(layoutFromRaw(rawString(layout)), layout);
    EXPECT_EQ(formatFromRaw(QStringLiteral("MP4 . H.264")), std::nullopt);
    EXPECT_EQ(reverbRoomFromRaw(QStringLiteral("small room")), std::nullopt);
}
