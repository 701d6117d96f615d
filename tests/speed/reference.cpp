#include "reference.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "driver/schedule.h"
#include "effects/fire.h"
#include "effects/random.h"
#include "screen/screen.h"

namespace {
constexpr int diffuse_first = row_bytes + 1;                   // 961
constexpr int diffuse_last = (screen_height - 1) * row_bytes;  // 229,440

constexpr int spark_tries = 2500;
constexpr int stamp_row_limit = 200;                       // stamps need y + h < 200
constexpr int sweep_first = 50 * row_bytes + 1;            // 48,001
constexpr int sweep_last = 150 * row_bytes;                // 144,000, included
constexpr int spark_rows_first = spark_row * row_bytes;    // 138,240
constexpr int spark_rows_bytes = spark_height * row_bytes; // 4,800
constexpr int mask_last = stamp_row_limit * row_bytes;     // 192,000, included

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

// The timeline's constants, as the core's schedule has them.
constexpr std::int32_t counter_max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t fire_frames_end = 210;
constexpr std::int32_t scene_start_frame = 300;
constexpr std::int32_t fan_start_scene = 300;
constexpr std::int32_t clear_after = 1258;
constexpr std::int32_t sweep_from = 100;
constexpr std::int32_t sweep_until = 1258;
constexpr std::int32_t seg_last_left = 319;
constexpr std::int32_t seg_advance = 3;
constexpr std::int32_t rings_after = 900;
constexpr std::int32_t end_after = 1220;

constexpr int band_rows[] = {20, 80, 140, 200};
constexpr int bar_columns[] = {64, 128, 192, 256};
constexpr int band_height = 5;
constexpr int bar_width = 5;
constexpr int white = 255;

struct fan_phase {
    std::int32_t after, before;
    std::int32_t period;
    float start_change;
    double step_change;
    void (*draw)(float step, float start);
};

constexpr fan_phase fan_phases_before_single[] = {
    {2, 100, 8, -10.0f, 0.05, reference_draw_fan70},
    {100, 250, 5, -8.0f, 0.005, reference_draw_fan90},
};
constexpr std::int32_t single_fan_clock = 425;
constexpr float single_fan_step = 10.0f;
constexpr float single_fan_start = 0.05f;
constexpr fan_phase fan_phases_after_single[] = {
    {250, 600, 8, -5.0f, 0.15, reference_draw_fan100},
    {600, 750, 5, 8.0f, -0.01, reference_draw_fan90},
    {750, 850, 8, -5.0f, 0.08, reference_draw_fan70},
};

void advance(std::int32_t& counter)
{
    if (counter < counter_max)
        ++counter;
}

void run_fan_phase(const fan_phase& phase)
{
    schedule_record& s = schedule_state;
    if (!(s.fan_clock > phase.after && s.fan_clock < phase.before))
        return;
    if (s.scene_clock % phase.period == 0) {
        s.fan_start = s.fan_start + phase.start_change;
        s.fan_step = static_cast<float>(static_cast<double>(s.fan_step) + phase.step_change);
    }
    phase.draw(s.fan_step, s.fan_start);
}

// The primitives the timeline uses, as the core first had them.
void reference_fill_band(int y, int h, int red, int green, int blue)
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

void reference_draw_vsegment(int x, int y, int len, int red, int green, int blue)
{
    for (int k = 0; k < len; ++k)
        put_pixel(x, y + 1 + k, red, green, blue);
}

void reference_draw_bars(int x, int w, int red, int green, int blue)
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

void draw_segments_or_bands()
{
    schedule_record& s = schedule_state;
    if (s.seg_x - 2 < seg_last_left) {
        for (int y : band_rows)
            for (int x = s.seg_x - 2; x <= s.seg_x + 1; ++x)
                reference_draw_vsegment(x, y, band_height, white, white, white);
        s.seg_x += seg_advance;
    } else {
        for (int y : band_rows)
            reference_fill_band(y, band_height, white, white, white);
    }
    for (int x : bar_columns)
        reference_draw_bars(x, bar_width, white, white, white);
}

void draw_rings()
{
    for (int k = 1; k <= 5; ++k) {
        const int b = 30 + 5 * k;
        const int radii[] = {b - 20, b, b + 20, b + 40, 10};
        for (int radius : radii)
            reference_draw_ring(radius, 0, 0, 0);
    }
}
} // namespace

void reference_diffuse_screen()
{
    unsigned char* const s = screen_buf;
    for (int i = diffuse_first; i < diffuse_last; ++i)
        s[i] = static_cast<unsigned char>((s[i - 3] + s[i - row_bytes] + s[i + 3] + s[i + row_bytes]) >> 2);
    // The last byte's neighbour below lies past the picture and counts as 0.
    const int i = diffuse_last;
    s[i] = static_cast<unsigned char>((s[i - 3] + s[i - row_bytes] + s[i + 3]) >> 2);
}

void reference_stamp_sprite(const unsigned char* sprite, int x, int y, int w, int h)
{
    if (h <= 0 || w <= 0)
        return;
    if (!(y < stamp_row_limit - h))
        return;
    const unsigned char* p = sprite;
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

void reference_fire_frame()
{
    for (int t = 0; t < spark_tries; ++t)
        reference_stamp_sprite(spark_sprite, rng_next(), spark_row, spark_width, spark_height);

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

void reference_draw_ring(int radius, int red, int green, int blue)
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

void reference_draw_fan70(float step, float start)
{
    draw_fan(70, fan_colour::x_255_y, step, start);
}

void reference_draw_fan90(float step, float start)
{
    draw_fan(90, fan_colour::y_255_x, step, start);
}

void reference_draw_fan100(float step, float start)
{
    draw_fan(100, fan_colour::w_y_x, step, start);
}

void reference_schedule_step()
{
    schedule_record& s = schedule_state;

    advance(s.frame_no);
    if (s.frame_no == scene_start_frame)
        s.scene_running = true;
    if (s.frame_no < fire_frames_end)
        reference_fire_frame();
    if (s.scene_running)
        advance(s.scene_clock);
    if (s.scene_clock > clear_after)
        std::memset(screen_buf, 0, picture_bytes);
    if (s.scene_clock == fan_start_scene)
        s.fan_running = true;
    if (s.fan_running)
        advance(s.fan_clock);
    if (s.scene_clock >= sweep_from && s.scene_clock < sweep_until)
        draw_segments_or_bands();

    reference_diffuse_screen();

    for (const fan_phase& phase : fan_phases_before_single)
        run_fan_phase(phase);
    if (s.fan_clock == single_fan_clock)
        reference_draw_fan100(single_fan_step, single_fan_start);
    for (const fan_phase& phase : fan_phases_after_single)
        run_fan_phase(phase);

    if (s.fan_clock > rings_after)
        draw_rings();
    if (s.scene_clock > end_after)
        std::memcpy(screen_buf, end_pic, picture_bytes);
}
