#include "model/Take.h"
#include "support/TestSupport.h"

#include <QDir>
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

TEST(TakeInfoTracks, OneTrackPerEnabledChannel) {
    TrackEffects effects;
    effects.lowCut = true;
    const auto sound = TakeInfo::tracksFrom({{true, -2, 0.7}}, effects);
    ASSERT_EQ(sound.size(), 1u);
    EXPECT_EQ(sound[0].name, QStringLiteral("Sound"));
    EXPECT_EQ(sound[0].source, Track::Source::input(0));
    EXPECT_EQ(sound[0].volumeDB, -2);
    EXPECT_EQ(sound[0].pan, 0);
    EXPECT_EQ(sound[0].effects, effects);
    EXPECT_FALSE(sound[0].id.isNull());

    const auto secondOnly = TakeInfo::tracksFrom({{false, 0, 0}, {true, 0, 0}}, {});
    ASSERT_EQ(secondOnly.size(), 1u);
    EXPECT_EQ(secondOnly[0].name, QStringLiteral("Input 2"));
    EXPECT_EQ(secondOnly[0].source, Track::Source::input(1));

    const auto three = TakeInfo::tracksFrom({{true, 0, 0}, {false, 0, 0}, {true, 0, 0}}, {});
    ASSERT_EQ(three.size(), 2u);
    EXPECT_EQ(three[0].name, QStringLiteral("Input 1"));
    EXPECT_EQ(three[1].name, QStringLiteral("Input 3"));
    EXPECT_TRUE(TakeInfo::tracksFrom({}, {}).empty());
    EXPECT_TRUE(TakeInfo::tracksFrom({{false, 0, 0}}, {}).empty());
}

TEST(TakeAudioSource, InputsComeFromTheMovieOverdubsFromTheirFile) {
    Take take;
    take.folder = QStringLiteral("/library/2024-03-01 17.05.09");
    const Overdub o = overdubAt(3, 0.5, 4);
    take.info.overdubs.push_back(o);

    Track input;
    input.source = Track::Source::input(2);
    EXPECT_EQ(take.audioSource(input),
              (AudioSource{QStringLiteral("/library/2024-03-01 17.05.09/take.mov"), 0}));

    Track fromOverdub;
    fromOverdub.source = Track::Source::overdub(o.id, 0);
    EXPECT_EQ(take.audioSource(fromOverdub),
              (AudioSource{QStringLiteral("/library/2024-03-01 17.05.09/overdubs/o.mov"), 3.5}));

    Track orphan;
    orphan.source = Track::Source::overdub(QUuid::createUuid(), 0);
    EXPECT_EQ(take.audioSource(orphan), std::nullopt);
}

TEST(TakeExportSettings, PositionOfALaneWithoutEntryIsCentred) {
    ExportSettings settings;
    settings.positions[Lane::mainVideo().key()] = {0.5, -1};
    EXPECT_EQ(settings.position(Lane::mainVideo()), (ExportSettings::Position{0.5, -1}));
    EXPECT_EQ(settings.position(Lane::overdubVideo(QUuid::createUuid())),
              (ExportSettings::Position{0, 0}));
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
