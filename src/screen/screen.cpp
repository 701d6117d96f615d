#include "screen/screen.h"

#include <cstring>

alignas(64) unsigned char screen_buf[picture_bytes];
alignas(64) unsigned char fire_buf[picture_bytes];
alignas(64) unsigned char mask_pic[picture_bytes];
alignas(64) unsigned char end_pic[picture_bytes];

void clear_screen()
{
    std::memset(screen_buf, 0, picture_bytes);
}

void fill_band(int y, int h, int red, int green, int blue)
{
    if (h < 1)
        return;
    const auto b = static_cast<unsigned char>(blue);
    const auto g = static_cast<unsigned char>(green);
    const auto r = static_cast<unsigned char>(red);
    unsigned char* p = screen_buf + row_bytes * y;
    unsigned char* const end = screen_buf + row_bytes * (y + h);
    for (; p < end; p += pixel_bytes) {
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
}

void draw_vsegment(int x, int y, int len, int red, int green, int blue)
{
    for (int k = 0; k < len; ++k)
        put_pixel(x, y + 1 + k, red, green, blue);
}

void draw_bars(int x, int w, int red, int green, int blue)
{
    const auto b = static_cast<unsigned char>(blue);
    const auto g = static_cast<unsigned char>(green);
    const auto r = static_cast<unsigned char>(red);
    for (int c = x; c < x + w; ++c) {
        for (int row = 1; row <= screen_height - 2; ++row) {
            unsigned char* p = screen_buf + row_bytes * row + pixel_bytes * c;
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
}
