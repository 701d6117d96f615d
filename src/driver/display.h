// The SDL2 display: a desktop-sized full-screen window, a renderer, and a
// 320 x 240 streaming texture of BGR24 that plays the part of the 24-bit
// display surface. The picture fills the largest centred 4:3 area, black
// around it, scaled by the largest whole factor with nearest-neighbour
// sampling and then to the final size with linear filtering.
#pragma once

// Where the picture goes on an output of the given size in pixels.
struct picture_layout {
    int x, y;          // top left corner of the 4:3 area on the output
    int width, height; // size of the 4:3 area
    int factor;        // largest whole factor of 320 x 240 that fits, at least 1
};

// The largest 4:3 area of the output, centred (odd leftovers go right and
// down), and the whole prescale factor that fits in it.
picture_layout fit_picture(int output_width, int output_height);

// Opens the display. On failure returns false with SDL's error text set.
bool open_display();

// Copies rows 0 .. rows - 1 of screen_buf (at most 240 of them, none when
// rows <= 0) to a destination whose rows start pitch bytes apart; only the
// first 960 bytes of each destination row are written.
void copy_rows(unsigned char* pixels, int pitch, int rows);

// Copies screen_buf into the texture and brings the whole picture to the
// screen; when the texture cannot be locked the previous picture is shown.
void present_screen();
