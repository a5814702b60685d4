#include "edit/Group.h"
#include "EditFixtures.h"

#include <gtest/gtest.h>

using namespace reelbox;

// A removed main recording has no lanes; an overdub without tracks is listed all the same.
TEST(Groups, TakeFirstThenOverdubsWithTheirLanes) {
    test::EditFixture f;
    auto list = groups(f.state.info);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].group, Group::take());
    EXPECT_EQ(list[0].lanes, (std::vector<Lane>{Lane::mainVideo(), f.audio1(), f.audio2()}));
    EXPECT_EQ(list[1].group, Group::overdub(f.overdubId));
    EXPECT_EQ(list[1].lanes,
              (std::vector<Lane>{Lane::overdubVideo(f.overdubId), Lane::audio(f.overdubTrack)}));

    f.state.info.mainRemoved = true;
    f.state.info.overdubs[0].hasVideo = false;
    Overdub empty;
    empty.id = QUuid::createUuid();
    f.state.info.overdubs.push_back(empty);
    list = groups(f.state.info);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].lanes, std::vector<Lane>{Lane::audio(f.overdubTrack)});
    EXPECT_TRUE(list[1].lanes.empty());
    EXPECT_TRUE(lanes(f.state.info, Group::take()).empty());
}

TEST(Groups, NamesSpansAndVisibility) {
    test::EditFixture f;
    const TakeInfo& info = f.state.info;
    EXPECT_EQ(groupName(info, Group::take()), QStringLiteral("Take"));
    EXPECT_EQ(groupName(info, Group::overdub(f.overdubId)), QStringLiteral("Overdub 1"));

    EXPECT_EQ(groupSpan(info, Group::take(), 9.5), (TimeSpan{0, 9.5}));
    EXPECT_EQ(groupSpan(info, Group::overdub(f.overdubId), 10), (TimeSpan{1.5, 7.5}));
    EXPECT_EQ(groupSpan(info, Group::overdub(QUuid::createUuid()), 10), (TimeSpan{0, 0}));

    TakeInfo early = info;
    early.overdubs[0].nudge = -3;
    EXPECT_EQ(groupSpan(early, Group::overdub(f.overdubId), 10), (TimeSpan{0, 5}));

    TakeInfo hidden = info;
    hidden.showMainVideo = false;
    hidden.overdubs[0].showVideo = false;
    EXPECT_FALSE(isVideoShown(hidden, Group::take()));
    EXPECT_FALSE(isVideoShown(hidden, Group::overdub(f.overdubId)));
    EXPECT_TRUE(isVideoShown(hidden, Group::overdub(QUuid::createUuid())));
}
