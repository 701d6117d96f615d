#include "effects/fire.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "effects/random.h"
#include "screen/screen.h"

unsigned char spark_sprite[spark_sprite_bytes];

namespace {
constexpr int spark_tries = 2500;
constexpr int stamp_row_limit = 200;                       // stamps need y + h < 200
constexpr int sweep_first = 50 * row_bytes + 1;            // 48,001
constexpr int sweep_blocks = 100;                          // 48,001 .. 144,000 in blocks of 960
constexpr int spark_rows_first = spark_row * row_bytes;    // 138,240
constexpr int spark_rows_bytes = spark_height * row_bytes; // 4,800
constexpr int mask_last = stamp_row_limit * row_bytes;     // 192,000, included
constexpr unsigned char mask_hole = 255;

// One value of the sweep: the floor of the mean, raised by one unless it is
// 0 or 255 (so 254 becomes 255 and nothing wraps).
inline unsigned ignite(unsigned sum)
{
    const unsigned v = sum >> 2;
    return v + ((v - 1u) < 254u ? 1u : 0u);
}

// The sums of the three neighbours of block bytes b .. b + 959 that the sweep
// reads unchanged (right, below and the byte itself): independent of each
// other, so the compiler vectorises this loop.
void sum_fixed_neighbours(const unsigned char* f, int b, std::uint16_t* sums)
{
    for (int k = 0; k < row_bytes; ++k) {
        const int o = b + k;
        sums[k] = static_cast<std::uint16_t>(f[o + 3] + f[o + row_bytes] + f[o]);
    }
}

// The rising sweep over offsets 48,001..144,000 in ascending order. The left
// neighbour is the value computed three bytes earlier, so each channel is a
// recurrence kept in a register across the whole sweep.
void rise()
{
    unsigned char* const f = fire_buf;
    std::uint16_t sums[row_bytes];
    unsigned c0 = f[sweep_first - 3];
    unsigned c1 = f[sweep_first - 2];
    unsigned c2 = f[sweep_first - 1];
    for (int block = 0; block < sweep_blocks; ++block) {
        const int b = sweep_first + block * row_bytes;
        sum_fixed_neighbours(f, b, sums);
        unsigned char* const d = f + b;
        for (int k = 0; k < row_bytes; k += 3) {
            c0 = ignite(c0 + sums[k]);
            c1 = ignite(c1 + sums[k + 1]);
            c2 = ignite(c2 + sums[k + 2]);
            d[k] = static_cast<unsigned char>(c0);
            d[k + 1] = static_cast<unsigned char>(c1);
            d[k + 2] = static_cast<unsigned char>(c2);
        }
    }
}

// fire_buf over screen_buf, with bytes 1..192,000 cleared where the mask byte
// is 255; written as a select so that it vectorises.
void copy_masked()
{
    screen_buf[0] = fire_buf[0];
    for (int i = 1; i <= mask_last; ++i)
        screen_buf[i] = mask_pic[i] == mask_hole ? 0 : fire_buf[i];
    std::memcpy(screen_buf + mask_last + 1, fire_buf + mask_last + 1, picture_bytes - mask_last - 1);
}
} // namespace

// Clips the stamp to the rows and columns it may draw before looping, instead
// of testing every pixel; the sprite bytes of clipped pixels are skipped.
void stamp_sprite(const unsigned char* sprite, int x, int y, int w, int h)
{
    if (h <= 0 || w <= 0)
        return;
    // The bottom test is on the start row and height alone: it either admits
    // or rejects the whole stamp.
    if (!(y < stamp_row_limit - h))
        return;
    // 64-bit bounds: y + h and x + w may pass the int range. Rows from 1,
    // columns 1..319; the last row is below 199 by the test above.
    const long long first_row = std::max<long long>(y, 1);
    const long long end_row = static_cast<long long>(y) + h;
    const long long first_col = std::max<long long>(x, 1);
    const long long end_col = std::min<long long>(static_cast<long long>(x) + w, screen_width);
    if (first_row >= end_row || first_col >= end_col)
        return;
    const std::ptrdiff_t sprite_row = static_cast<std::ptrdiff_t>(w) * pixel_bytes;
    for (long long i = first_row; i < end_row; ++i) {
        const unsigned char* p = sprite + (i - y) * sprite_row + (first_col - x) * pixel_bytes;
        unsigned char* d = fire_buf + row_bytes * i + pixel_bytes * first_col;
        for (long long j = first_col; j < end_col; ++j, p += pixel_bytes, d += pixel_bytes) {
            if ((p[0] | p[1] | p[2]) == 0)
                continue;
            d[0] = p[0];
            d[1] = p[1];
            d[2] = p[2];
        }
    }
}

void fire_frame()
{
    // A try whose column is 320 or more draws nothing (about 101 in 102).
    for (int t = 0; t < spark_tries; ++t) {
        const int x = rng_next();
        if (x < screen_width)
            stamp_sprite(spark_sprite, x, spark_row, spark_width, spark_height);
    }
    rise();
    std::memset(fire_buf + spark_rows_first, 0, spark_rows_bytes);
    copy_masked();
}
