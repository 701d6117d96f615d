// The opening fire: sparks stamped into rows 144..148 of fire_buf rise through
// rows 50..149, and each frame the whole of fire_buf is copied over
// screen_buf with the logo mask applied.
#pragma once

inline constexpr int spark_sprite_bytes = 1200; // as read from "newfire.raw"
inline constexpr int spark_width = 10;          // the first 150 bytes are used
inline constexpr int spark_height = 5;
inline constexpr int spark_row = 144;           // top row of every spark

// The spark sprite: 10 x 5 pixels packed row after row, in the pictures' byte
// order; a pixel of three zero bytes is transparent.
extern unsigned char spark_sprite[spark_sprite_bytes];

// Copies a w x h sprite into fire_buf with its top-left pixel at column x,
// row y (rows as they are, 0 = top). A pixel is drawn only when it is not
// three zero bytes, 0 < column < 320, row > 0 and y < 200 - h; skipped pixels
// still consume their sprite bytes. Reads at most 3 * w * h sprite bytes.
void stamp_sprite(const unsigned char* sprite, int x, int y, int w, int h);

// One step of the fire: 2,500 spark tries at x = rng_next() in row 144, the
// in-place rising sweep over offsets 48,001..144,000, rows 144..148 cleared,
// fire_buf copied over screen_buf, then every screen byte 1..192,000 whose
// mask byte is 255 set to 0.
void fire_frame();
