#include "model/EditState.h"
#include "model/TimeMap.h"

#include <gtest/gtest.h>

using namespace reelbox;

// Merging sorts and joins touching spans; subtracting keeps the pieces outside. Inverted spans
// (a file may hold them) cover nothing.
TEST(EditStateSpans, MergedAndSubtract) {
    EXPECT_EQ(EditState::merged({{0, 1}, {1, 2}}), (SpanList{{0, 2}}));
    EXPECT_EQ(EditState::merged({{2, 3}, {0, 1}}), (SpanList{{0, 1}, {2, 3}}));
    EXPECT_EQ(EditState::merged({{0, 5}, {1, 2}, {4, 8}}), (SpanList{{0, 8}}));
    EXPECT_EQ(EditState::merged({{5, 1}, {2, 3}, {4, 4}}), (SpanList{{2, 3}}));
    EXPECT_EQ(EditState::merged({}), SpanList{});
    const SpanList spans{{0, 2}, {3, 6}, {7, 8}};
    EXPECT_EQ(EditState::subtract({4, 5}, spans), (SpanList{{0, 2}, {3, 4}, {5, 6}, {7, 8}}));
    EXPECT_EQ(EditState::subtract({1, 7.5}, spans), (SpanList{{0, 1}, {7.5, 8}}));
    EXPECT_EQ(EditState::subtract({2, 3}, spans), spans); // touching is not overlapping
    EXPECT_EQ(EditState::subtract({-1, 10}, spans), SpanList{});
    EXPECT_EQ(EditState::subtract({7, 3}, {{0, 10}}), (SpanList{{0, 10}}));

    EditState e;
    const Lane lane = Lane::audio(QUuid::createUuid());
    e.hidden[lane.key()] = {{4, 1}, {2, 3}};
    EXPECT_EQ(e.hiddenParts(lane), (SpanList{{2, 3}}));
}

// In and out points are clamped to the take; pieces not longer than 0.01 s are dropped.
TEST(EditStateKeptSpans, CutsTrimsAndSlivers) {
    const auto edit = [](SpanList cuts, double in = 0, std::optional<double> out = {}) {
        EditState e;
        e.cuts = std::move(cuts);
        e.inPoint = in;
        e.outPoint = out;
        return e;
    };
    struct Case {
        EditState edit;
        double duration;
        SpanList kept;
    };
    const std::vector<Case> cases{
        {{}, 10, {{0, 10}}},
        {{}, 0.01, {}},
        {{}, 0.02, {{0, 0.02}}},
        {edit({{0, 10}}), 10, {}},
        {edit({{5, 6}, {3, 4}, {4, 4.5}, {8.995, 12}}, 1, 9), 10, {{1, 3}, {4.5, 5}, {6, 8.995}}},
        {edit({{2, 3}, {3.005, 5}}), 10, {{0, 2}, {5, 10}}},
        {edit({}, 12), 10, {}},
        {edit({}, -3, 40), 10, {{0, 10}}},
        {edit({}, 6, 4), 10, {}},                        // the out point is raised to the in point
        {edit({{6, 2}, {8, 9}}), 10, {{0, 8}, {9, 10}}}, // an inverted cut covers nothing
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].edit.keptSpans(cases[i].duration), cases[i].kept) << "case " << i;
}

TEST(EditStateSegments, SplitsCutTheLaneIntoPieces) {
    EditState e;
    e.splits = {5, 0, 12};
    EXPECT_EQ(e.segments(std::nullopt, 10), (SpanList{{0, 5}, {5, 10}}));

    const Lane lane = Lane::audio(QUuid::createUuid());
    e.splits = {5};
    e.laneSplits[lane.key()] = {7, 2};
    EXPECT_EQ(e.splitsIn(lane), (std::vector<double>{2, 5, 7}));
    EXPECT_EQ(e.segments(lane, 10), (SpanList{{0, 2}, {2, 5}, {5, 7}, {7, 10}}));
    EXPECT_EQ(e.segments(Lane::mainVideo(), 10), (SpanList{{0, 5}, {5, 10}}));

    e.laneSplits[lane.key()] = {5.0005};
    EXPECT_EQ(e.segments(lane, 10), (SpanList{{0, 5}, {5.0005, 10}}));
}

TEST(EditStateRemoved, TheMidpointDecides) {
    EditState e;
    e.cuts = {{5, 7}};
    EXPECT_TRUE(e.isRemoved({4, 6}));
    EXPECT_FALSE(e.isRemoved({4, 5.9}));
    e.inPoint = 2;
    e.outPoint = 8;
    EXPECT_TRUE(e.isRemoved({0, 3}));
    EXPECT_TRUE(e.isRemoved({7.5, 9}));
    EXPECT_FALSE(e.isRemoved({1, 3}));
    EXPECT_FALSE(e.isRemoved({7, 9}));
}

TEST(LaneKeys, CanonicalUpperCaseUuids) {
    const QUuid id = QUuid::fromString(QStringLiteral("{0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d}"));
    // "video.main" and "audio.<UUID>": the codec's tests read and write them.
    EXPECT_EQ(Lane::overdubVideo(id).key(),
              QStringLiteral("video.0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"));

    // A stored key with lower-case letters matches no lane.
    EditState e;
    e.hidden[QStringLiteral("audio.0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d")] = {{0, 1}};
    EXPECT_TRUE(e.hiddenParts(Lane::audio(id)).empty());
}

TEST(TimeMapping, OutputToSourceAndBack) {
    const TimeMap map{{{1, 3}, {5, 6}, {8, 10}}};
    EXPECT_DOUBLE_EQ(map.sourceTime(0), 1);
    EXPECT_DOUBLE_EQ(map.sourceTime(1.5), 2.5);
    EXPECT_DOUBLE_EQ(map.sourceTime(2), 5); // the boundary belongs to the next span
    EXPECT_DOUBLE_EQ(map.sourceTime(3.5), 8.5);
    EXPECT_DOUBLE_EQ(map.sourceTime(99), 10); // past the end: the last span's end
    EXPECT_DOUBLE_EQ(TimeMap().sourceTime(4), 0);

    EXPECT_DOUBLE_EQ(map.outputTime(2.5), 1.5);
    EXPECT_DOUBLE_EQ(map.outputTime(0), 0); // before the first span
    EXPECT_DOUBLE_EQ(map.outputTime(4), 2); // inside a gap: where the next span begins
    EXPECT_DOUBLE_EQ(map.outputTime(8.5), 3.5);
    EXPECT_DOUBLE_EQ(map.outputTime(50), 5); // after the last span: the total
    EXPECT_DOUBLE_EQ(map.totalLength(), 5);

    for (double t = 0; t < 5; t += 0.25)
        EXPECT_NEAR(map.outputTime(map.sourceTime(t)), t, 1e-12) << t;
}
