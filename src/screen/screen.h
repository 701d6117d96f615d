// The picture layout shared by every full-screen buffer, the screen buffer's
// pixel primitives, and the per-frame diffusion.
//
// A picture is 320 columns by 240 rows of 3-byte pixels, rows top to bottom
// with no gap between them: 960 bytes per row, 230,400 bytes in all. The bytes
// of a pixel are blue, green, red. The pixel in column c of row r starts at
// byte 960 * r + 3 * c.
//
// Every primitive takes its colour as red, green, blue and stores only the low
// 8 bits of each, blue first. None of them clips or tests its arguments: the
// caller keeps every position inside the picture.
#pragma once

#include <cstdint>

inline constexpr int screen_width = 320;
inline constexpr int screen_height = 240;
inline constexpr int pixel_bytes = 3;
inline constexpr int row_bytes = screen_width * pixel_bytes;        // 960
inline constexpr int picture_bytes = row_bytes * screen_height;     // 230,400
inline constexpr int picture_pixels = screen_width * screen_height; // 76,800

// The four pictures: zero at start, never resized, alive for the whole run.
extern unsigned char screen_buf[picture_bytes]; // drawn every frame, presented
extern unsigned char fire_buf[picture_bytes];   // the fire simulation
extern unsigned char mask_pic[picture_bytes];   // the logo mask ("vorpa2.raw")
extern unsigned char end_pic[picture_bytes];    // the closing picture ("end.raw")

// Writes pixel 320 * (y - 1) + x: column x of row y - 1, so y = 1 is the top
// row. The index is linear, so x = 320 and 321 land in columns 0 and 1 of the
// row below; the pixel index must lie in 0..76,799.
inline void put_pixel(int x, int y, int red, int green, int blue)
{
    unsigned char* p = screen_buf + 3 * (screen_width * (y - 1) + x);
    p[0] = static_cast<unsigned char>(blue);
    p[1] = static_cast<unsigned char>(green);
    p[2] = static_cast<unsigned char>(red);
}

// Sets all 230,400 bytes of screen_buf to 0.
void clear_screen();

// Sets every pixel of rows y .. y + h - 1 (row numbers as they are, 0 = top)
// to the colour; nothing when h < 1.
void fill_band(int y, int h, int red, int green, int blue);

// Draws column x over rows y .. y + len - 1 through put_pixel(x, y + 1 + k);
// nothing when len < 1.
void draw_vsegment(int x, int y, int len, int red, int green, int blue);

// Sets columns x .. x + w - 1 of rows 1..238 to the colour, column by column;
// rows 0 and 239 are never touched. Nothing when w < 1.
void draw_bars(int x, int w, int red, int green, int blue);

// Blurs screen_buf in place: each byte index 961..229,440 in ascending order
// becomes the floor of the mean of its neighbours at -3, -960, +3 and +960, as
// they are at that moment (earlier neighbours already hold their new values).
// The one neighbour past the end, below index 229,440, counts as 0.
void diffuse_screen();
