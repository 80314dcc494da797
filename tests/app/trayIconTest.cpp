#include "app/trayIcon.h"

#include <gtest/gtest.h>

#include <set>

TEST(trayIcon, simpleDisplayShowsOnlyTheFirstFourIcons)
{
    std::set<int> seen;
    for (int bits = 0; bits < (1 << 9); ++bits) {
        trayIconState s;
        s.imeStateDisplay = 0;
        s.agentActive = bits & 1;
        s.gameSwitch = bits & 2;
        s.gameModeFlags = (bits & 4) ? 0x80 : 0;
        s.imeOpen = bits & 8;
        s.capsOn = bits & 16;
        s.kanaOn = bits & 32;
        s.fullShape = bits & 64;
        s.alphanumericMode = bits & 128;
        s.katakanaMode = bits & 256;
        seen.insert(chooseTrayIconIndex(s));
    }
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2, 3}));
}

TEST(trayIcon, practiceModeWithClosedImeShowsPracticeIconAndOpenImeItsMode)
{
    trayIconState s;
    s.imeStateDisplay = 1;
    s.agentActive = true;
    s.gameSwitch = true;
    s.gameModeFlags = 0x80;
    EXPECT_EQ(chooseTrayIconIndex(s), 3);
    s.gameModeFlags = 0;
    EXPECT_EQ(chooseTrayIconIndex(s), 2);
    s.imeOpen = true;
    EXPECT_EQ(chooseTrayIconIndex(s), 16);  // hiragana
    s.kanaOn = true;
    EXPECT_EQ(chooseTrayIconIndex(s), 17);
}

TEST(trayIcon, imeStateDisplayCoversModesAndLocks)
{
    trayIconState s;
    s.imeStateDisplay = 1;
    s.agentActive = true;
    s.imeOpen = true;
    s.alphanumericMode = true;
    EXPECT_EQ(chooseTrayIconIndex(s), 8);
    s.capsOn = true;
    EXPECT_EQ(chooseTrayIconIndex(s), 9);
    s.fullShape = true;
    EXPECT_EQ(chooseTrayIconIndex(s), 11);
    s.alphanumericMode = false;
    s.katakanaMode = true;
    s.kanaOn = true;
    EXPECT_EQ(chooseTrayIconIndex(s), 15);
    s.fullShape = false;
    EXPECT_EQ(chooseTrayIconIndex(s), 13);

    s = trayIconState{};
    s.imeStateDisplay = 1;
    EXPECT_EQ(chooseTrayIconIndex(s), 0);  // closed IME, agent stopped
    s.agentActive = true;
    EXPECT_EQ(chooseTrayIconIndex(s), 4);
    s.capsOn = true;
    EXPECT_EQ(chooseTrayIconIndex(s), 5);
    s.kanaOn = true;
    EXPECT_EQ(chooseTrayIconIndex(s), 7);
    s.agentActive = false;
    EXPECT_EQ(chooseTrayIconIndex(s), 7);  // kana lock wins even when stopped
}

TEST(trayIcon, indicesMapToTheirResourceIds)
{
    EXPECT_EQ(trayIconSet::resourceIdOf(0), 7001);
    EXPECT_EQ(trayIconSet::resourceIdOf(1), 7000);
    EXPECT_EQ(trayIconSet::resourceIdOf(13), 7014);
    EXPECT_EQ(trayIconSet::resourceIdOf(14), 7013);
    EXPECT_EQ(trayIconSet::resourceIdOf(17), 7017);
    EXPECT_EQ(trayIconSet::resourceIdOf(18), 7001);
    EXPECT_EQ(trayIconSet::resourceIdOf(-1), 7001);
}
