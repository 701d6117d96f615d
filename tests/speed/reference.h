// The straightforward drawing routines, kept as the yardstick for the
// optimised core: byte-by-byte sweeps, and one sine and one cosine per point
// of every polar figure. They work on the same global pictures and state as
// the core (screen_buf, fire_buf, mask_pic, end_pic, spark_sprite, rng_state,
// schedule_state), so a test or benchmark snapshots and restores that state
// to run both on the same input.
#pragma once

// Blurs screen_buf in place, one byte at a time, indices 961..229,440
// ascending; the neighbour below the last index counts as 0.
void reference_diffuse_screen();

// Copies a w x h sprite into fire_buf with the clip and transparency tests of
// the core's stamp_sprite, pixel by pixel.
void reference_stamp_sprite(const unsigned char* sprite, int x, int y, int w, int h);

// One fire step: 2,500 stamps, the byte-by-byte rising sweep, the spark rows
// cleared, fire_buf copied to screen_buf and the mask applied byte by byte.
void reference_fire_frame();

// Draws the 17,902 points of a ring, a sine and a cosine per point.
void reference_draw_ring(int radius, int red, int green, int blue);

// The three fans, a sine and a cosine per point.
void reference_draw_fan70(float step, float start);
void reference_draw_fan90(float step, float start);
void reference_draw_fan100(float step, float start);

// One step of the timeline on schedule_state, drawing with the reference
// routines above, including their own copies of the primitives.
void reference_schedule_step();
