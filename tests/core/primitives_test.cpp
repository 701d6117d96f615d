#include <gtest/gtest.h>

#include <cstring>

#include "screen/screen.h"
#include "testkit.h"

namespace {

struct Primitives : ::testing::Test {
    void SetUp() override { reset_demo_state(); }
};

// Counts bytes that differ from 0 outside [first, last).
int nonzero_outside(int first, int last)
{
    int n = 0;
    for (int i = 0; i < picture_bytes; ++i)
        if ((i < first || i >= last) && screen_buf[i] != 0)
            ++n;
    return n;
}

TEST_F(Primitives, PutPixelAddressesRowAboveItsY)
{
    struct Case {
        int x, y;
        int first_byte;
    };
    const Case cases[] = {
        {5, 10, 8655},
        {0, 1, 0},
        {319, 240, 230397},
        {320, 21, 21 * row_bytes},     // column 0 of row 21
        {321, 21, 21 * row_bytes + 3}, // column 1 of row 21
    };
    for (const Case& c : cases) {
        reset_demo_state();
        put_pixel(c.x, c.y, 1, 2, 3);
        EXPECT_EQ(screen_buf[c.first_byte], 3) << c.x << "," << c.y;
        EXPECT_EQ(screen_buf[c.first_byte + 1], 2);
        EXPECT_EQ(screen_buf[c.first_byte + 2], 1);
        EXPECT_EQ(nonzero_outside(c.first_byte, c.first_byte + 3), 0);
    }
}

TEST_F(Primitives, ColoursKeepTheirLowEightBits)
{
    put_pixel(10, 10, 260, -1, 256);
    const unsigned char* p = screen_buf + 3 * (320 * 9 + 10);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 255);
    EXPECT_EQ(p[2], 4);
}

TEST_F(Primitives, BandAndSegmentCoverTheSameRows)
{
    fill_band(20, 5, 10, 20, 30);
    for (int i = 0; i < picture_bytes; i += 3) {
        const int row = i / row_bytes;
        const bool inside = row >= 20 && row <= 24;
        EXPECT_EQ(screen_buf[i], inside ? 30 : 0) << i;
        EXPECT_EQ(screen_buf[i + 1], inside ? 20 : 0) << i;
        EXPECT_EQ(screen_buf[i + 2], inside ? 10 : 0) << i;
    }
    reset_demo_state();
    draw_vsegment(7, 20, 5, 255, 255, 255);
    for (int row = 0; row < screen_height; ++row)
        EXPECT_EQ(screen_buf[row * row_bytes + 21], (row >= 20 && row <= 24) ? 255 : 0) << row;
    EXPECT_EQ(nonzero_outside(0, 0), 5 * 3);
}

TEST_F(Primitives, SegmentPastTheRightEdgeLandsOneRowLower)
{
    draw_vsegment(320, 20, 5, 255, 255, 255);
    for (int row = 0; row < screen_height; ++row)
        EXPECT_EQ(screen_buf[row * row_bytes], (row >= 21 && row <= 25) ? 255 : 0) << row;
    EXPECT_EQ(nonzero_outside(0, 0), 5 * 3);
}

TEST_F(Primitives, CountsOfZeroAndBelowDrawNothing)
{
    for (int n : {0, -1, -1000}) {
        fill_band(20, n, 255, 255, 255);
        draw_vsegment(5, 20, n, 255, 255, 255);
        draw_bars(64, n, 255, 255, 255);
    }
    EXPECT_EQ(nonzero_outside(0, 0), 0);
}

TEST_F(Primitives, BarsLeaveTheTopAndBottomRows)
{
    std::memset(screen_buf, 7, picture_bytes);
    draw_bars(64, 5, 1, 2, 3);
    int changed = 0;
    for (int row = 0; row < screen_height; ++row) {
        for (int c = 0; c < screen_width; ++c) {
            const unsigned char* p = screen_buf + row * row_bytes + 3 * c;
            const bool inside = row >= 1 && row <= 238 && c >= 64 && c <= 68;
            if (inside) {
                EXPECT_EQ(p[0], 3);
                EXPECT_EQ(p[2], 1);
                ++changed;
            } else {
                EXPECT_EQ(p[0], 7) << row << "," << c;
            }
        }
    }
    EXPECT_EQ(changed, 1190);
}

TEST_F(Primitives, ClearZeroesEveryByte)
{
    std::memset(screen_buf, 0xab, picture_bytes);
    clear_screen();
    EXPECT_EQ(nonzero_outside(0, 0), 0);
}

} // namespace
