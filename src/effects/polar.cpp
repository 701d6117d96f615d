#include "effects/polar.h"

#include <cmath>

#include "screen/screen.h"

namespace {
constexpr int centre_x = 160;
constexpr int centre_y = 120;
constexpr float ring_first_angle = 1.0f;
constexpr double ring_advance = 0.01;
constexpr float ring_last_angle = 180.0f;
constexpr float fan_turn = 180.0f;
constexpr int fan_inner_radius = 10;

enum class fan_colour { x_255_y, y_255_x, w_y_x };

// One fan: sweeps from the outer radius down to 10, the angle growing by
// step per point, until the stored angle is no longer below start + 180.
void draw_fan(int outer, fan_colour order, float step, float start)
{
    const float end = start + fan_turn;
    float angle = start;
    while (angle < end) {
        for (int n = outer; n >= fan_inner_radius; --n) {
            angle = angle + step;
            const int x = static_cast<int>(n * std::cos(static_cast<double>(angle)) + centre_x);
            const int y = static_cast<int>(n * std::sin(static_cast<double>(angle)) + centre_y);
            switch (order) {
            case fan_colour::x_255_y: put_pixel(x, y, x, 255, y); break;
            case fan_colour::y_255_x: put_pixel(x, y, y, 255, x); break;
            case fan_colour::w_y_x: put_pixel(x, y, 255, y, x); break;
            }
        }
    }
}
} // namespace

void polar_init() {}

void draw_ring(int radius, int red, int green, int blue)
{
    float angle = ring_first_angle;
    do {
        const double s = static_cast<double>(angle) + ring_advance;
        angle = static_cast<float>(s);
        const int y = static_cast<int>(std::sin(s) * radius + centre_y);
        const int x = static_cast<int>(std::cos(static_cast<double>(angle)) * radius + centre_x);
        put_pixel(x, y, red, green, blue);
    } while (angle < ring_last_angle);
}

void draw_fan70(float step, float start)
{
    draw_fan(70, fan_colour::x_255_y, step, start);
}

void draw_fan90(float step, float start)
{
    draw_fan(90, fan_colour::y_255_x, step, start);
}

void draw_fan100(float step, float start)
{
    draw_fan(100, fan_colour::w_y_x, step, start);
}
