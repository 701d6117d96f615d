#include "testkit.h"

#include <cstring>

#include <zlib.h>

#include "driver/schedule.h"
#include "effects/fire.h"
#include "effects/random.h"
#include "screen/screen.h"

void reset_demo_state()
{
    std::memset(screen_buf, 0, sizeof screen_buf);
    std::memset(fire_buf, 0, sizeof fire_buf);
    std::memset(mask_pic, 0, sizeof mask_pic);
    std::memset(end_pic, 0, sizeof end_pic);
    std::memset(spark_sprite, 0, sizeof spark_sprite);
    rng_seed(1);
    schedule_reset();
}

void save_demo_state(demo_snapshot& s)
{
    std::memcpy(s.screen, screen_buf, picture_bytes);
    std::memcpy(s.fire, fire_buf, picture_bytes);
    s.rng = rng_state;
    s.schedule = schedule_state;
}

void restore_demo_state(const demo_snapshot& s)
{
    std::memcpy(screen_buf, s.screen, picture_bytes);
    std::memcpy(fire_buf, s.fire, picture_bytes);
    rng_state = s.rng;
    schedule_state = s.schedule;
}

std::uint32_t fixture_next(std::uint32_t& state)
{
    if (state == 0)
        state = 0x9e3779b9u;
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void make_test_assets(std::uint32_t seed)
{
    std::uint32_t s = seed;
    for (unsigned char& b : end_pic)
        b = static_cast<unsigned char>(fixture_next(s) >> 24);
    // A mask of blocks: whole 8 x 8 pixel cells of 255, some of 254, the
    // rest random below 254, so per-byte and per-cell effects both show.
    for (int r = 0; r < screen_height; ++r) {
        for (int c = 0; c < screen_width; ++c) {
            std::uint32_t cell = static_cast<std::uint32_t>((r / 8) * 40 + c / 8) * 2654435761u;
            for (int k = 0; k < pixel_bytes; ++k) {
                unsigned char v;
                switch ((cell >> 28) % 4) {
                case 0: v = 255; break;
                case 1: v = (k == 1) ? 255 : 254; break;
                default: v = static_cast<unsigned char>(fixture_next(s) % 254); break;
                }
                mask_pic[r * row_bytes + c * pixel_bytes + k] = v;
            }
        }
    }
    // Sparks: hot colours, every third pixel transparent, one pixel with a
    // zero blue byte only (opaque), and random bytes past the first 150.
    for (int i = 0; i < spark_width * spark_height; ++i) {
        unsigned char* p = spark_sprite + 3 * i;
        if (i % 3 == 2) {
            p[0] = p[1] = p[2] = 0;
        } else {
            p[0] = static_cast<unsigned char>(fixture_next(s) % 64);
            p[1] = static_cast<unsigned char>(128 + fixture_next(s) % 128);
            p[2] = 255;
        }
    }
    spark_sprite[3 * 4 + 0] = 0;
    spark_sprite[3 * 4 + 1] = 0;
    spark_sprite[3 * 4 + 2] = 7;
    for (int i = spark_width * spark_height * 3; i < spark_sprite_bytes; ++i)
        spark_sprite[i] = static_cast<unsigned char>(fixture_next(s));
}

std::uint32_t crc32_of(const unsigned char* bytes, std::size_t count)
{
    return static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), bytes, static_cast<uInt>(count)));
}
