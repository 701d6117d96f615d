#include "driver/schedule.h"

#include <cstring>
#include <limits>

#include "effects/fire.h"
#include "effects/polar.h"
#include "screen/screen.h"

schedule_record schedule_state = schedule_initial;

namespace {
constexpr std::int32_t counter_max = std::numeric_limits<std::int32_t>::max();

constexpr std::int32_t fire_frames_end = 210;   // fire while frame_no < 210
constexpr std::int32_t scene_start_frame = 300; // scene_clock starts here
constexpr std::int32_t fan_start_scene = 300;   // fan_clock starts here
constexpr std::int32_t clear_after = 1258;      // clear while scene_clock > 1258
constexpr std::int32_t sweep_from = 100;        // segments/bands/bars: 100..1257
constexpr std::int32_t sweep_until = 1258;
constexpr std::int32_t seg_last_left = 319;     // segments while seg_x - 2 < 319
constexpr std::int32_t seg_advance = 3;
constexpr std::int32_t rings_after = 900;       // rings while fan_clock > 900
constexpr std::int32_t end_after = 1220;        // end picture while scene_clock > 1220

constexpr int band_rows[] = {20, 80, 140, 200};
constexpr int bar_columns[] = {64, 128, 192, 256};
constexpr int band_height = 5;
constexpr int bar_width = 5;
constexpr int white = 255;

// One fan phase: the open range of fan_clock in which it draws, the
// scene_clock period of its parameter updates, and the updates themselves.
struct fan_phase {
    std::int32_t after, before;
    std::int32_t period;
    float start_change;
    double step_change;
    void (*draw)(float step, float start);
};

constexpr fan_phase fan_phases_before_single[] = {
    {2, 100, 8, -10.0f, 0.05, draw_fan70},
    {100, 250, 5, -8.0f, 0.005, draw_fan90},
};
constexpr std::int32_t single_fan_clock = 425;
constexpr float single_fan_step = 10.0f;
constexpr float single_fan_start = 0.05f;
constexpr fan_phase fan_phases_after_single[] = {
    {250, 600, 8, -5.0f, 0.15, draw_fan100},
    {600, 750, 5, 8.0f, -0.01, draw_fan90},
    {750, 850, 8, -5.0f, 0.08, draw_fan70},
};

// Counters stop at the top of their range rather than overflow.
void advance(std::int32_t& counter)
{
    if (counter < counter_max)
        ++counter;
}

// Updates the fan parameters when the phase's test holds and draws its fan
// unless `draw` is false.
void run_fan_phase(const fan_phase& phase, bool draw)
{
    schedule_record& s = schedule_state;
    if (!(s.fan_clock > phase.after && s.fan_clock < phase.before))
        return;
    if (s.scene_clock % phase.period == 0) {
        s.fan_start = s.fan_start + phase.start_change;
        s.fan_step = static_cast<float>(static_cast<double>(s.fan_step) + phase.step_change);
    }
    if (draw)
        phase.draw(s.fan_step, s.fan_start);
}

// The moving segments (advancing seg_x) or the bands, then the bars; with
// `draw` false only seg_x advances.
void draw_segments_or_bands(bool draw)
{
    schedule_record& s = schedule_state;
    if (s.seg_x - 2 < seg_last_left) {
        if (draw)
            for (int y : band_rows)
                for (int x = s.seg_x - 2; x <= s.seg_x + 1; ++x)
                    draw_vsegment(x, y, band_height, white, white, white);
        s.seg_x += seg_advance;
    } else if (draw) {
        for (int y : band_rows)
            fill_band(y, band_height, white, white, white);
    }
    if (draw)
        for (int x : bar_columns)
            draw_bars(x, bar_width, white, white, white);
}

void draw_rings()
{
    for (int k = 1; k <= 5; ++k) {
        const int b = 30 + 5 * k;
        const int radii[] = {b - 20, b, b + 20, b + 40, 10};
        for (int radius : radii)
            draw_ring(radius, 0, 0, 0);
    }
}
} // namespace

void schedule_reset()
{
    schedule_state = schedule_initial;
}

void schedule_step()
{
    schedule_record& s = schedule_state;

    advance(s.frame_no);
    if (s.frame_no == scene_start_frame)
        s.scene_running = true;
    if (s.frame_no < fire_frames_end)
        fire_frame();
    if (s.scene_running)
        advance(s.scene_clock);
    // From scene_clock 1221 on the step ends by copying end_pic over every
    // byte of screen_buf, so nothing drawn before that copy can show: such a
    // frame keeps the step's changes of state (seg_x, the fan parameters) and
    // skips the drawing, which reads nothing but screen_buf.
    const bool covered = s.scene_clock > end_after;
    if (s.scene_clock > clear_after && !covered)
        clear_screen();
    if (s.scene_clock == fan_start_scene)
        s.fan_running = true;
    if (s.fan_running)
        advance(s.fan_clock);
    if (s.scene_clock >= sweep_from && s.scene_clock < sweep_until)
        draw_segments_or_bands(!covered);

    if (!covered)
        diffuse_screen();

    for (const fan_phase& phase : fan_phases_before_single)
        run_fan_phase(phase, !covered);
    if (s.fan_clock == single_fan_clock && !covered)
        draw_fan100(single_fan_step, single_fan_start);
    for (const fan_phase& phase : fan_phases_after_single)
        run_fan_phase(phase, !covered);

    if (s.fan_clock > rings_after && !covered)
        draw_rings();
    if (covered)
        std::memcpy(screen_buf, end_pic, picture_bytes);
}
