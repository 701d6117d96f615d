#include "effects/fire.h"

#include <cstring>

#include "effects/random.h"
#include "screen/screen.h"

unsigned char spark_sprite[spark_sprite_bytes];

namespace {
constexpr int spark_tries = 2500;
constexpr int stamp_row_limit = 200;                      // stamps need y + h < 200
constexpr int sweep_first = 50 * row_bytes + 1;           // 48,001
constexpr int sweep_last = 150 * row_bytes;               // 144,000, included
constexpr int spark_rows_first = spark_row * row_bytes;   // 138,240
constexpr int spark_rows_bytes = spark_height * row_bytes; // 4,800
constexpr int mask_last = stamp_row_limit * row_bytes;    // 192,000, included
} // namespace

void stamp_sprite(const unsigned char* sprite, int x, int y, int w, int h)
{
    if (h <= 0 || w <= 0)
        return;
    // The bottom test is on the start row and height alone: it either admits
    // or rejects the whole stamp.
    if (!(y < stamp_row_limit - h))
        return;
    const unsigned char* p = sprite;
    // 64-bit loop bounds: y + h and x + w may pass the int range.
    for (long long i = y; i < static_cast<long long>(y) + h; ++i) {
        for (long long j = x; j < static_cast<long long>(x) + w; ++j, p += pixel_bytes) {
            if ((p[0] | p[1] | p[2]) == 0 || j <= 0 || j >= screen_width || i <= 0)
                continue;
            unsigned char* d = fire_buf + row_bytes * i + pixel_bytes * j;
            d[0] = p[0];
            d[1] = p[1];
            d[2] = p[2];
        }
    }
}

void fire_frame()
{
    for (int t = 0; t < spark_tries; ++t)
        stamp_sprite(spark_sprite, rng_next(), spark_row, spark_width, spark_height);

    unsigned char* const f = fire_buf;
    for (int o = sweep_first; o <= sweep_last; ++o) {
        int v = (f[o + 3] + f[o - 3] + f[o + row_bytes] + f[o]) >> 2;
        if (v != 0 && v != 255)
            ++v;
        f[o] = static_cast<unsigned char>(v);
    }

    std::memset(f + spark_rows_first, 0, spark_rows_bytes);
    std::memcpy(screen_buf, f, picture_bytes);
    for (int i = 1; i <= mask_last; ++i)
        if (mask_pic[i] == 255)
            screen_buf[i] = 0;
}
