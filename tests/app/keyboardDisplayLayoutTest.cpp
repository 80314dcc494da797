#include "app/keyboardDisplay.h"

#include <gtest/gtest.h>

#include <string>

TEST(keyboardDisplayLayout, rowsTileTheWidthWithoutGapsOrOverlap)
{
    const int w = 600, h = 200, longest = 15;
    for (int row = 0; row < 4; ++row) {
        const std::wstring letters = keyboardDisplayRows[row].letters;
        const float offset = keyboardDisplayRows[row].offset;
        int expectedX = 0;
        for (size_t c = 0; c < letters.size(); ++c) {
            const bool last = c + 1 == letters.size();
            const keyRect r = keyboardKeyRect(static_cast<int>(c), row, offset, last, w, h, longest);
            // The first key keeps a one-pixel gap; every later key starts where the previous ended.
            if (c == 1) {
                EXPECT_EQ(r.x, static_cast<int>((1 + offset) * w / longest));
            } else if (c > 1) {
                EXPECT_EQ(r.x, expectedX) << "row " << row << " column " << c;
            }
            expectedX = r.x + r.width;
            EXPECT_EQ(r.y, h * row / 5);
            EXPECT_EQ(r.height, h / 5);
            if (last) {
                EXPECT_EQ(r.x + r.width, w) << "the last key reaches the right edge";
            }
        }
    }
}

TEST(keyboardDisplayLayout, firstKeyIsWidenedByTheRowOffset)
{
    const keyRect plain = keyboardKeyRect(0, 0, 0.0f, false, 300, 100, 15);
    const keyRect shifted = keyboardKeyRect(0, 3, 1.0f, false, 300, 100, 15);
    EXPECT_EQ(plain.x, 0);
    EXPECT_EQ(plain.width, 300 / 15 - 1);
    EXPECT_EQ(shifted.width, 300 * 2 / 15 - 1);
    const keyRect status = keyboardStatusRect(300, 100);
    EXPECT_EQ(status.y, 80);
    EXPECT_EQ(status.width, 300);
    EXPECT_EQ(status.height, 20);
}

TEST(clampToShare, draggedEdgeStopsAtTheShareLimits)
{
    // Desktop 1000 x 800: width between 200 and 500, height between 160 and 400.
    RECT r{100, 100, 150, 150};
    clampToShare(WMSZ_BOTTOMRIGHT, &r, 1000, 800, 0.2, 0.5);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 100);
    EXPECT_EQ(r.right, 300);
    EXPECT_EQ(r.bottom, 260);

    RECT big{0, 0, 900, 700};
    clampToShare(WMSZ_TOPLEFT, &big, 1000, 800, 0.2, 0.5);
    EXPECT_EQ(big.right, 900);
    EXPECT_EQ(big.bottom, 700);
    EXPECT_EQ(big.left, 400);
    EXPECT_EQ(big.top, 300);

    RECT fine{10, 10, 310, 210};
    clampToShare(WMSZ_RIGHT, &fine, 1000, 800, 0.2, 0.5);
    EXPECT_EQ(fine.right, 310);
    EXPECT_EQ(fine.bottom, 210);
}
