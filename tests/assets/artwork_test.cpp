// The shipped artwork, as the build packs it into the play folder: sizes, where
// the mask cuts, the sprite's colours, and what frame 150 shows with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "driver/assets.h"
#include "driver/schedule.h"
#include "effects/fire.h"
#include "effects/random.h"
#include "screen/screen.h"
#include "testkit.h"

namespace {

const std::string play_dir = AFTERGLOW_PLAY_DIR;

// The fire is visible in rows 50..143 only: nothing rises above row 50, the
// spark rows 144..148 are cleared before the copy, and rows 149 on never
// light. A 255 anywhere else in the mask would cut nothing.
constexpr int fire_top = 50;
constexpr int fire_bottom = 143;

int row_of(int byte_index) { return byte_index / row_bytes; }

class shipped_artwork : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_demo_state();
        load_assets(play_dir.c_str());
    }
};

TEST_F(shipped_artwork, files_have_the_sizes_the_demo_reads)
{
    const struct {
        const char* name;
        std::uintmax_t bytes;
    } files[] = {{end_file, picture_bytes}, {mask_file, picture_bytes}, {spark_file, spark_sprite_bytes}};
    for (const auto& f : files)
        EXPECT_EQ(std::filesystem::file_size(play_dir + "/" + f.name), f.bytes) << f.name;
}

TEST_F(shipped_artwork, mask_cuts_a_fair_part_of_the_fire_and_nothing_else)
{
    int cut = 0;
    int cut_pixels = 0;
    int stray = 0;
    for (int i = 0; i < picture_bytes; ++i) {
        if (mask_pic[i] != 255)
            continue;
        if (row_of(i) < fire_top || row_of(i) > fire_bottom)
            ++stray;
        else
            ++cut;
    }
    for (int p = 0; p < picture_bytes; p += pixel_bytes)
        if (mask_pic[p] == 255 && mask_pic[p + 1] == 255 && mask_pic[p + 2] == 255)
            ++cut_pixels;
    const int fire_bytes = (fire_bottom - fire_top + 1) * row_bytes;
    EXPECT_EQ(stray, 0);
    // The word is large: between a fifth and two thirds of the fire's bytes.
    EXPECT_GT(cut, fire_bytes / 5);
    EXPECT_LT(cut, fire_bytes * 2 / 3);
    // Most of it blanks whole pixels (the letters); the rest only some bytes.
    EXPECT_GT(cut_pixels * pixel_bytes, cut / 2);
}

TEST_F(shipped_artwork, sprite_is_hot_and_mostly_opaque)
{
    int opaque = 0;
    int hot = 0;
    for (int p = 0; p < spark_width * spark_height * pixel_bytes; p += pixel_bytes) {
        const int blue = spark_sprite[p], green = spark_sprite[p + 1], red = spark_sprite[p + 2];
        if ((blue | green | red) == 0)
            continue;
        ++opaque;
        // Hot colours: red leads, then green, then blue.
        EXPECT_GE(red, green) << "pixel " << p / pixel_bytes;
        EXPECT_GE(green, blue) << "pixel " << p / pixel_bytes;
        if (red == 255 && green >= 200)
            ++hot;
    }
    EXPECT_GE(opaque, spark_width * spark_height * 3 / 4);
    EXPECT_GE(hot, 4);
    for (int i = spark_width * spark_height * pixel_bytes; i < spark_sprite_bytes; ++i)
        ASSERT_EQ(spark_sprite[i], 0) << "byte " << i;
}

TEST_F(shipped_artwork, frame_150_shows_the_logo_cut_out_of_burning_fire)
{
    rng_seed(960);
    for (int f = 0; f < 150; ++f)
        schedule_step();

    // The rows the word spans: from its first to its last 255 in the mask.
    int first = picture_bytes, last = 0;
    for (int i = 0; i < picture_bytes; ++i)
        if (mask_pic[i] == 255) {
            first = std::min(first, i);
            last = i;
        }
    ASSERT_LT(first, last);

    // The frame's diffusion softens the cut edges a little, so the letters
    // are judged as a whole: almost all dark, more than half of their bytes
    // exactly zero, while the red of the flames around them burns bright.
    long logo = 0, logo_zero = 0, logo_sum = 0;
    long flame = 0, flame_sum = 0, flame_bright = 0;
    constexpr int red = 2;
    for (int i = first - first % row_bytes; i <= last; ++i) {
        if (mask_pic[i] == 255) {
            ++logo;
            logo_sum += screen_buf[i];
            if (screen_buf[i] == 0)
                ++logo_zero;
        } else if (i % pixel_bytes == red) {
            ++flame;
            flame_sum += screen_buf[i];
            if (screen_buf[i] >= 160)
                ++flame_bright;
        }
    }
    ASSERT_GT(logo, 0);
    ASSERT_GT(flame, 0);
    EXPECT_GT(logo_zero * 2, logo);
    EXPECT_LT(logo_sum * 10 / logo, flame_sum / flame);
    EXPECT_GT(flame_sum / flame, 80);
    EXPECT_GT(flame_bright, flame / 10);
}

} // namespace
