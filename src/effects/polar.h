// The polar figures: rings and spiral fans traced point by point through
// put_pixel around the centre (160, 120) in put_pixel's coordinates. Angles
// are stored as 32-bit floats between points; sines, cosines, products and
// offsets are double precision; coordinates are truncated toward zero.
#pragma once

inline constexpr int ring_points = 17902;   // points of every ring
inline constexpr int ring_max_radius = 119; // largest radius inside the picture

// Draws the 17,902 points of the ring of this radius (0..119) in one colour:
// the angle runs from 1.01 to 180.00035 in single-precision steps of 0.01.
void draw_ring(int radius, int red, int green, int blue);

// Spiral fans from outer radius 70, 90 or 100 down to 10: sweeps of points
// whose angle grows by step per point, until the angle is no longer below
// start + 180. Each point takes its colour from its own coordinates:
// fan70 (x, 255, y), fan90 (y, 255, x), fan100 (255, y, x).
void draw_fan70(float step, float start);
void draw_fan90(float step, float start);
void draw_fan100(float step, float start);

// Builds the tables the figures draw from. Called once at start-up so that no
// frame pays for it; the figures build them themselves if it was not called.
void polar_init();
