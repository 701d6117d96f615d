#include <gtest/gtest.h>

#include <cstring>

#include "effects/fire.h"
#include "effects/polar.h"
#include "effects/random.h"
#include "screen/screen.h"
#include "testkit.h"

namespace {

struct Effects : ::testing::Test {
    void SetUp() override { reset_demo_state(); }
};

int index_of(int column, int row, int channel = 0)
{
    return row * row_bytes + column * pixel_bytes + channel;
}

TEST_F(Effects, RandomSourceFirstValues)
{
    struct Case {
        std::uint32_t seed;
        int values[4];
    };
    const Case cases[] = {
        {960, {3173, 4269, 410, 1778}},
        {1, {41, 18467, 6334, 26500}},
    };
    for (const Case& c : cases) {
        rng_seed(c.seed);
        for (int v : c.values)
            EXPECT_EQ(rng_next(), v) << "seed " << c.seed;
    }
    rng_seed(960);
    int landed = 0;
    for (int t = 0; t < 2500; ++t)
        landed += rng_next() < screen_width;
    EXPECT_EQ(landed, 31);
}

TEST_F(Effects, DiffusionOfASinglePointIsAscendingAndInPlace)
{
    screen_buf[index_of(100, 100)] = 255;
    diffuse_screen();
    const int expected[4][4] = {
        {0, 63, 15, 3},  // row 99, columns 99..102
        {63, 31, 11, 3}, // row 100
        {15, 11, 5, 2},  // row 101
        {3, 3, 2, 1},    // row 102
    };
    int lit = 0;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(screen_buf[index_of(99 + c, 99 + r)], expected[r][c]) << r << "," << c;
    for (int i = 0; i < picture_bytes; ++i)
        lit += screen_buf[i] != 0;
    EXPECT_EQ(lit, 15);
}

TEST_F(Effects, DiffusionOfUniformPicturesChangesOnlyTheLastByte)
{
    for (int v : {0, 255, 77}) {
        std::memset(screen_buf, v, picture_bytes);
        diffuse_screen();
        for (int i = 0; i < picture_bytes; ++i) {
            const int want = (i == 229440) ? 3 * v / 4 : v;
            ASSERT_EQ(screen_buf[i], want) << "value " << v << " index " << i;
        }
    }
}

TEST_F(Effects, DiffusionNeverChangesByte960OrTheOuterRows)
{
    std::uint32_t s = 5;
    for (unsigned char& b : screen_buf)
        b = static_cast<unsigned char>(fixture_next(s));
    unsigned char before[picture_bytes];
    std::memcpy(before, screen_buf, picture_bytes);
    diffuse_screen();
    EXPECT_EQ(screen_buf[960], before[960]);
    for (int i = 0; i < row_bytes; ++i)
        ASSERT_EQ(screen_buf[i], before[i]) << i;
    for (int i = 229441; i < picture_bytes; ++i)
        ASSERT_EQ(screen_buf[i], before[i]) << i;
}

TEST_F(Effects, StampClipsColumnsRowsAndTheBottomLimit)
{
    unsigned char sprite[150];
    for (int i = 0; i < 50; ++i) {
        sprite[3 * i] = static_cast<unsigned char>(1 + i % 10); // column + 1
        sprite[3 * i + 1] = static_cast<unsigned char>(1 + i / 10); // row + 1
        sprite[3 * i + 2] = 9;
    }
    struct Case {
        int x, y;
        int first_col, last_col; // buffer columns drawn
        int first_row, last_row; // buffer rows drawn; first > last: none
    };
    const Case cases[] = {
        {0, 144, 1, 9, 144, 148},
        {310, 144, 310, 319, 144, 148},
        {319, 144, 319, 319, 144, 148},
        {320, 144, 0, -1, 0, -1},
        {32767, 144, 0, -1, 0, -1},
        {50, 194, 50, 59, 194, 198},
        {50, 195, 0, -1, 0, -1},
        {50, -2, 50, 59, 1, 2},
        {-5, 0, 1, 4, 1, 4},
    };
    for (const Case& c : cases) {
        std::memset(fire_buf, 0, picture_bytes);
        stamp_sprite(sprite, c.x, c.y, 10, 5);
        for (int row = 0; row < screen_height; ++row) {
            for (int col = 0; col < screen_width; ++col) {
                const bool drawn = row >= c.first_row && row <= c.last_row && col >= c.first_col &&
                                   col <= c.last_col;
                const unsigned char* p = fire_buf + index_of(col, row);
                if (!drawn) {
                    ASSERT_EQ(p[0] | p[1] | p[2], 0) << c.x << "," << c.y << " at " << col << "," << row;
                    continue;
                }
                EXPECT_EQ(p[0], 1 + (col - c.x)) << c.x << "," << c.y;
                EXPECT_EQ(p[1], 1 + (row - c.y)) << c.x << "," << c.y;
            }
        }
    }
}

TEST_F(Effects, StampSkipsTransparentPixelsButCopiesZeroBytes)
{
    unsigned char sprite[6] = {0, 0, 0, 0, 0, 7};
    std::memset(fire_buf, 0x55, picture_bytes);
    stamp_sprite(sprite, 10, 10, 2, 1);
    EXPECT_EQ(fire_buf[index_of(10, 10)], 0x55);
    EXPECT_EQ(fire_buf[index_of(10, 10, 2)], 0x55);
    EXPECT_EQ(fire_buf[index_of(11, 10)], 0);
    EXPECT_EQ(fire_buf[index_of(11, 10, 1)], 0);
    EXPECT_EQ(fire_buf[index_of(11, 10, 2)], 7);
    stamp_sprite(sprite, 10, 10, 0, 1);
    stamp_sprite(sprite, 10, 10, 2, -1);
    EXPECT_EQ(fire_buf[index_of(11, 10, 2)], 7);
}

TEST_F(Effects, FireSinglePointRisesAndSpreadsRight)
{
    fire_buf[index_of(100, 144)] = 200;
    fire_frame();
    const int expected[] = {51, 13, 4, 2};
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(fire_buf[index_of(100 + k, 143)], expected[k]);
    int lit = 0;
    for (int i = 0; i < picture_bytes; ++i)
        lit += fire_buf[i] != 0;
    EXPECT_EQ(lit, 4);
    EXPECT_EQ(std::memcmp(screen_buf, fire_buf, picture_bytes), 0);
}

TEST_F(Effects, FireSweepSaturatesAndNeverIgnitesZero)
{
    // A neighbourhood summing to 1020 stays 255; 1016..1019 gives 254 + 1.
    std::memset(fire_buf + index_of(0, 60), 255, 3 * row_bytes);
    fire_buf[index_of(10, 80)] = 3; // sum 3 below a zero row: becomes 0
    fire_frame();
    EXPECT_EQ(fire_buf[index_of(100, 61)], 255);
    EXPECT_EQ(fire_buf[index_of(10, 80)], 0);
    std::memset(fire_buf, 0, picture_bytes);
    std::memset(fire_buf + index_of(0, 90), 255, 2 * row_bytes);
    fire_buf[index_of(20, 90)] = 252; // 255 left, right and below, 252 itself: 1017
    fire_frame();
    EXPECT_EQ(fire_buf[index_of(20, 90)], 255);
}

TEST_F(Effects, FireSweepRangeEndsOneByteLate)
{
    // Byte 0 of row 50 is outside the sweep, byte 0 of row 150 inside it.
    fire_buf[48000] = 100;
    fire_buf[48003] = 100;
    fire_buf[144000] = 100;
    fire_buf[144003] = 100;
    fire_frame();
    EXPECT_EQ(fire_buf[48000], 100);
    EXPECT_EQ(fire_buf[144000], (100 + 100 + 0 + fire_buf[143997]) / 4 + 1);
}

TEST_F(Effects, FireMaskCoversBytesOneTo192000)
{
    std::memset(fire_buf, 200, picture_bytes);
    std::memset(mask_pic, 255, picture_bytes);
    mask_pic[5000] = 254;
    fire_frame();
    EXPECT_NE(screen_buf[0], 0);        // offset 0 is outside the mask
    EXPECT_EQ(screen_buf[1], 0);
    EXPECT_NE(screen_buf[5000], 0);     // 254 keeps its byte
    EXPECT_EQ(screen_buf[192000], 0);   // byte 0 of row 200 is inside
    EXPECT_NE(screen_buf[192001], 0);
    EXPECT_NE(fire_buf[1], 0);          // the fire itself is never masked
}

TEST_F(Effects, FireWithoutSparksStaysBlack)
{
    rng_seed(960);
    for (int f = 0; f < 20; ++f)
        fire_frame();
    for (int i = 0; i < picture_bytes; ++i)
        ASSERT_EQ(screen_buf[i] | fire_buf[i], 0) << i;
}

TEST_F(Effects, FireLeavesRowsOutsideItsBandBlack)
{
    make_test_assets(3);
    std::memset(mask_pic, 0, picture_bytes);
    rng_seed(960);
    for (int f = 0; f < 60; ++f)
        fire_frame();
    int lit = 0;
    for (int i = 0; i < picture_bytes; ++i) {
        const int row = i / row_bytes;
        const bool can_burn = (i > 48000 && i <= 144000) && !(row >= 144 && row <= 148);
        if (!can_burn) {
            ASSERT_EQ(screen_buf[i], 0) << i;
        }
        lit += screen_buf[i] != 0;
    }
    EXPECT_GT(lit, 1000);
}

// The colour bytes (blue, green, red) of the pixel put_pixel(x, y) writes.
const unsigned char* pixel_at(int x, int y)
{
    return screen_buf + 3 * (screen_width * (y - 1) + x);
}

int lit_pixels()
{
    int n = 0;
    for (int p = 0; p < picture_pixels; ++p)
        n += (screen_buf[3 * p] | screen_buf[3 * p + 1] | screen_buf[3 * p + 2]) != 0;
    return n;
}

TEST_F(Effects, RingPixelsAndBounds)
{
    struct Case {
        int radius;
        int pixels;
        int first_x, first_y, last_x, last_y;
    };
    const Case cases[] = {
        {10, 69, 165, 128, 154, 111},
        {95, 744, 210, 200, 103, 43},
    };
    for (const Case& c : cases) {
        reset_demo_state();
        draw_ring(c.radius, 1, 2, 3);
        EXPECT_EQ(lit_pixels(), c.pixels) << c.radius;
        EXPECT_EQ(pixel_at(c.first_x, c.first_y)[0], 3) << c.radius;
        EXPECT_EQ(pixel_at(c.last_x, c.last_y)[2], 1) << c.radius;
        for (int p = 0; p < picture_pixels; ++p) {
            if (screen_buf[3 * p] == 0)
                continue;
            const int x = p % screen_width, y = p / screen_width + 1;
            EXPECT_TRUE(x >= 160 - c.radius && x <= 160 + c.radius - 1) << x;
            EXPECT_TRUE(y >= 120 - c.radius && y <= 120 + c.radius - 1) << y;
        }
    }
    // The pixel that needs the sine of the unrounded sum.
    reset_demo_state();
    draw_ring(10, 9, 9, 9);
    EXPECT_EQ(pixel_at(168, 126)[0], 9);
    reset_demo_state();
    draw_ring(0, 9, 9, 9);
    EXPECT_EQ(lit_pixels(), 1);
    EXPECT_EQ(pixel_at(160, 120)[1], 9);
}

TEST_F(Effects, FanPointsTakeTheirColourFromTheirPosition)
{
    struct Case {
        void (*draw)(float, float);
        float step, start;
        int first_x, first_y, last_x, last_y;
        int order; // 0: (x, 255, y), 1: (y, 255, x), 2: (255, y, x)
    };
    const Case cases[] = {
        {draw_fan70, 0.02f, 0.0f, 229, 121, 159, 110, 0},
        {draw_fan90, 0.02f, 0.0f, 249, 121, 167, 113, 1},
        {draw_fan100, 0.02f, 0.0f, 259, 121, 155, 111, 2},
        {draw_fan70, 0.07f, -10.0f, 98, 153, 153, 112, 0},
        {draw_fan100, 10.0f, 0.05f, 78, 61, 165, 111, 2},
    };
    for (const Case& c : cases) {
        reset_demo_state();
        c.draw(c.step, c.start);
        int bad = 0;
        for (int p = 0; p < picture_pixels; ++p) {
            const unsigned char* px = screen_buf + 3 * p;
            if ((px[0] | px[1] | px[2]) == 0)
                continue;
            const int x = p % screen_width, y = p / screen_width + 1;
            const int rgb[3][3] = {{x, 255, y}, {y, 255, x}, {255, y, x}};
            const int* want = rgb[c.order];
            bad += px[2] != (want[0] & 255) || px[1] != (want[1] & 255) || px[0] != (want[2] & 255);
            EXPECT_TRUE(x >= 60 && x <= 260 && y >= 20 && y <= 220);
        }
        EXPECT_EQ(bad, 0);
        EXPECT_NE(pixel_at(c.first_x, c.first_y)[1], 0) << c.first_x;
        EXPECT_NE(pixel_at(c.last_x, c.last_y)[1], 0) << c.last_x;
    }
    // The single sweep at step 10 lights at most its 91 points.
    reset_demo_state();
    draw_fan100(10.0f, 0.05f);
    EXPECT_LE(lit_pixels(), 91);
    EXPECT_GT(lit_pixels(), 80);
    // draw_fan100's x of 256..260 wraps into blue 0..4.
    reset_demo_state();
    draw_fan100(0.02f, 0.0f);
    EXPECT_EQ(pixel_at(259, 121)[0], 3);
}

TEST_F(Effects, FanWhoseStartIsNotBelowItsEndDrawsNothing)
{
    draw_fan70(0.02f, 1.0e10f); // start + 180 rounds back to start
    draw_fan90(0.02f, 1.0e10f);
    draw_fan100(0.02f, 1.0e10f);
    EXPECT_EQ(lit_pixels(), 0);
}

} // namespace
