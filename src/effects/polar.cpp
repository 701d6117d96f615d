#include "effects/polar.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "screen/screen.h"

// Both figures draw only through the sines and cosines of their own angles,
// and every point they light takes a colour that does not depend on the order
// of the points: a ring's is fixed, a fan's is a function of the pixel. So a
// figure's effect on screen_buf is a set of pixels. The rings keep one such
// set per radius, worked out once from the 17,902 angles that every ring
// shares; each fan keeps the set of its last call, which the schedule repeats
// for five or eight frames before it changes the parameters.

namespace {
constexpr int centre_x = 160;
constexpr int centre_y = 120;
constexpr float ring_first_angle = 1.0f;
constexpr double ring_advance = 0.01;
constexpr float ring_last_angle = 180.0f;
constexpr float fan_turn = 180.0f;
constexpr int fan_inner_radius = 10;

// Stamps that tell which pixels a set already holds while it is being
// built: a pixel belongs to the current set when its stamp equals the
// current generation.
std::uint32_t pixel_stamp[picture_pixels];
std::uint32_t stamp_generation = 0;

// A fresh generation, so that no pixel is yet marked.
std::uint32_t new_generation()
{
    if (++stamp_generation == 0) {
        std::memset(pixel_stamp, 0, sizeof pixel_stamp);
        stamp_generation = 1;
    }
    return stamp_generation;
}

// Marks pixel p; true when it was not yet in the current set.
inline bool mark_pixel(int p, std::uint32_t generation)
{
    if (pixel_stamp[p] == generation)
        return false;
    pixel_stamp[p] = generation;
    return true;
}

// The 17,902 points shared by every ring: the sine of the unrounded sum and
// the cosine of the stored single-precision angle, exactly as a ring traced
// point by point computes them.
struct ring_point {
    double cosine;
    double sine;
};
ring_point ring_table[ring_points];
int ring_table_points = 0;

// The distinct pixels (byte offsets into screen_buf) of each ring of radius
// 0..119, radius r at ring_pixels[ring_first[r] .. ring_first[r + 1] - 1].
// A ring of radius r covers fewer than 8 r pixels (744 at radius 95, 55,525
// for all 120 radii): room for 10 (r + 1) each is ample.
constexpr int ring_radii = ring_max_radius + 1;
constexpr int ring_pixel_capacity = 10 * ring_radii * (ring_radii + 1) / 2;
std::uint32_t ring_pixels[ring_pixel_capacity];
int ring_first[ring_radii + 1];
int ring_listed_radii = 0; // radii 0 .. ring_listed_radii - 1 have their sets
bool tables_ready = false;

// Pixel index of ring point k at this radius, as put_pixel would address it.
inline int ring_pixel(const ring_point& point, int radius)
{
    const int y = static_cast<int>(point.sine * radius + centre_y);
    const int x = static_cast<int>(point.cosine * radius + centre_x);
    return screen_width * (y - 1) + x;
}

void build_ring_tables()
{
    // The angles advance in single precision from 1.0 until one is no longer
    // below 180: 17,902 points (the header's ring_points).
    float angle = ring_first_angle;
    ring_table_points = 0;
    do {
        const double s = static_cast<double>(angle) + ring_advance;
        angle = static_cast<float>(s);
        ring_table[ring_table_points].sine = std::sin(s);
        ring_table[ring_table_points].cosine = std::cos(static_cast<double>(angle));
        ++ring_table_points;
    } while (angle < ring_last_angle && ring_table_points < ring_points);

    int count = 0;
    ring_listed_radii = 0;
    for (int radius = 0; radius < ring_radii; ++radius) {
        ring_first[radius] = count;
        const std::uint32_t generation = new_generation();
        int previous = -1;
        for (int k = 0; k < ring_table_points; ++k) {
            const int p = ring_pixel(ring_table[k], radius);
            // Neighbouring points mostly share a pixel: skip the stamp then.
            if (p == previous)
                continue;
            previous = p;
            if (!mark_pixel(p, generation))
                continue;
            if (count == ring_pixel_capacity)
                return; // cannot happen; the larger radii are then traced
            ring_pixels[count++] = static_cast<std::uint32_t>(pixel_bytes * p);
        }
        ring_first[radius + 1] = count;
        ring_listed_radii = radius + 1;
    }
}

// The fans: one cached set per member, for the step and start of its last
// call. A fan stays within 100 pixels of the centre, so its set has at most
// 201 x 201 pixels.
constexpr int fan_pixel_capacity = 201 * 201;

struct fan_pixel {
    std::uint32_t offset;              // byte offset into screen_buf
    unsigned char blue, green, red, _; // the colour put_pixel stores there
};

struct fan_cache {
    bool valid;
    std::uint32_t step_bits, start_bits;
    int count;
    fan_pixel pixels[fan_pixel_capacity];
};

enum class fan_colour { x_255_y, y_255_x, w_y_x };

struct fan_member {
    int outer;
    fan_colour order;
    fan_cache* cache;
};

fan_cache fan70_cache, fan90_cache, fan100_cache;
constexpr fan_member fan70_member = {70, fan_colour::x_255_y, &fan70_cache};
constexpr fan_member fan90_member = {90, fan_colour::y_255_x, &fan90_cache};
constexpr fan_member fan100_member = {100, fan_colour::w_y_x, &fan100_cache};

std::uint32_t float_bits(float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// The colour arguments of a fan point at (x, y), in put_pixel's order.
struct fan_rgb {
    int red, green, blue;
};

inline fan_rgb fan_point_colour(fan_colour order, int x, int y)
{
    switch (order) {
    case fan_colour::x_255_y: return {x, 255, y};
    case fan_colour::y_255_x: return {y, 255, x};
    case fan_colour::w_y_x: break;
    }
    return {255, y, x};
}

// Traces the fan point by point (a sine and a cosine each, as ever), drawing
// every point and collecting the distinct pixels into the member's cache.
void trace_fan(const fan_member& m, float step, float start)
{
    fan_cache& cache = *m.cache;
    cache.valid = false;
    const std::uint32_t generation = new_generation();
    int count = 0;
    bool complete = true;

    const float end = start + fan_turn;
    float angle = start;
    while (angle < end) {
        for (int n = m.outer; n >= fan_inner_radius; --n) {
            angle = angle + step;
            const int x = static_cast<int>(n * std::cos(static_cast<double>(angle)) + centre_x);
            const int y = static_cast<int>(n * std::sin(static_cast<double>(angle)) + centre_y);
            const fan_rgb c = fan_point_colour(m.order, x, y);
            put_pixel(x, y, c.red, c.green, c.blue);
            const int p = screen_width * (y - 1) + x;
            if (!complete || !mark_pixel(p, generation))
                continue;
            if (count == fan_pixel_capacity) {
                complete = false;
                continue;
            }
            cache.pixels[count++] = {static_cast<std::uint32_t>(pixel_bytes * p), static_cast<unsigned char>(c.blue),
                                     static_cast<unsigned char>(c.green), static_cast<unsigned char>(c.red), 0};
        }
    }
    cache.count = count;
    cache.step_bits = float_bits(step);
    cache.start_bits = float_bits(start);
    cache.valid = complete;
}

// Draws a fan: replays the cached pixels when the member's last call had the
// same step and start (compared bit for bit), traces it otherwise.
void draw_fan(const fan_member& m, float step, float start)
{
    const fan_cache& c = *m.cache;
    if (!(c.valid && c.step_bits == float_bits(step) && c.start_bits == float_bits(start))) {
        trace_fan(m, step, start);
        return;
    }
    for (int i = 0; i < c.count; ++i) {
        const fan_pixel& px = c.pixels[i];
        unsigned char* p = screen_buf + px.offset;
        p[0] = px.blue;
        p[1] = px.green;
        p[2] = px.red;
    }
}
} // namespace

void polar_init()
{
    if (tables_ready)
        return;
    build_ring_tables();
    tables_ready = true;
}

void draw_ring(int radius, int red, int green, int blue)
{
    if (!tables_ready)
        polar_init();
    if (radius >= 0 && radius < ring_listed_radii) {
        const auto b = static_cast<unsigned char>(blue);
        const auto g = static_cast<unsigned char>(green);
        const auto r = static_cast<unsigned char>(red);
        for (int i = ring_first[radius]; i < ring_first[radius + 1]; ++i) {
            unsigned char* p = screen_buf + ring_pixels[i];
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
        return;
    }
    // A radius without a set: every point from the shared table.
    for (int k = 0; k < ring_table_points; ++k) {
        unsigned char* p = screen_buf + pixel_bytes * ring_pixel(ring_table[k], radius);
        p[0] = static_cast<unsigned char>(blue);
        p[1] = static_cast<unsigned char>(green);
        p[2] = static_cast<unsigned char>(red);
    }
}

void draw_fan70(float step, float start)
{
    draw_fan(fan70_member, step, start);
}

void draw_fan90(float step, float start)
{
    draw_fan(fan90_member, step, start);
}

void draw_fan100(float step, float start)
{
    draw_fan(fan100_member, step, start);
}
