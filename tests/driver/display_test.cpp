// The row copy into the texture and the layout of the picture on the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

#include "driver/display.h"
#include "screen/screen.h"
#include "testkit.h"

namespace {
constexpr unsigned char untouched = 0xa5;

// screen_buf filled with bytes that differ from row to row and column to column.
void fill_screen_pattern()
{
    for (int i = 0; i < picture_bytes; ++i)
        screen_buf[i] = static_cast<unsigned char>(i * 7 + i / row_bytes);
}

struct copy_case {
    int pitch;
    int rows;          // as given to copy_rows
    int rows_expected; // rows that must arrive
};

void PrintTo(const copy_case& c, std::ostream* os)
{
    *os << "pitch " << c.pitch << ", rows " << c.rows;
}

class CopyRows : public ::testing::TestWithParam<copy_case> {};

TEST_P(CopyRows, CopiesWholeRowsToTheirPitchAndNothingElse)
{
    const copy_case c = GetParam();
    reset_demo_state();
    fill_screen_pattern();
    // Room for every row asked for, so a copy past 240 rows would show.
    const int dest_rows = std::max(c.rows, screen_height) + 2;
    std::vector<unsigned char> dest(static_cast<std::size_t>(dest_rows) * c.pitch, untouched);

    copy_rows(dest.data(), c.pitch, c.rows);

    for (int r = 0; r < dest_rows; ++r) {
        const unsigned char* row = dest.data() + static_cast<std::size_t>(r) * c.pitch;
        for (int b = 0; b < c.pitch; ++b) {
            const bool copied = r < c.rows_expected && b < row_bytes;
            const unsigned char want = copied ? screen_buf[r * row_bytes + b] : untouched;
            ASSERT_EQ(row[b], want) << "row " << r << " byte " << b;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CopyRows,
                         ::testing::Values(copy_case{960, 240, 240},   // the texture's own pitch
                                           copy_case{1024, 240, 240},  // padded rows
                                           copy_case{963, 240, 240},   // a pitch that is no multiple of 4
                                           copy_case{960, 0, 0},       // nothing at all
                                           copy_case{1024, -5, 0},     // below zero
                                           copy_case{960, 1, 1},       // the top row only
                                           copy_case{1024, 300, 240},  // more rows than the picture
                                           copy_case{960, 241, 240}));

struct layout_case {
    int output_width, output_height;
    picture_layout want;
};

void PrintTo(const layout_case& c, std::ostream* os)
{
    *os << c.output_width << " x " << c.output_height;
}

class FitPicture : public ::testing::TestWithParam<layout_case> {};

TEST_P(FitPicture, LargestCentredFourByThreeArea)
{
    const layout_case c = GetParam();
    const picture_layout got = fit_picture(c.output_width, c.output_height);
    EXPECT_EQ(got.x, c.want.x);
    EXPECT_EQ(got.y, c.want.y);
    EXPECT_EQ(got.width, c.want.width);
    EXPECT_EQ(got.height, c.want.height);
    EXPECT_EQ(got.factor, c.want.factor);
}

INSTANTIATE_TEST_SUITE_P(Table, FitPicture,
                         ::testing::Values(layout_case{640, 480, {0, 0, 640, 480, 2}},
                                           layout_case{320, 240, {0, 0, 320, 240, 1}},
                                           layout_case{1920, 1080, {240, 0, 1440, 1080, 4}},
                                           layout_case{1366, 768, {171, 0, 1024, 768, 3}},
                                           layout_case{1280, 1024, {0, 32, 1280, 960, 4}},
                                           layout_case{800, 600, {0, 0, 800, 600, 2}},
                                           layout_case{639, 480, {0, 0, 639, 479, 1}},
                                           layout_case{3840, 2160, {480, 0, 2880, 2160, 9}},
                                           layout_case{200, 100, {33, 0, 133, 100, 1}},
                                           layout_case{0, 0, {0, 0, 0, 0, 1}}));
} // namespace
