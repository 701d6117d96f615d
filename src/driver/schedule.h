// The effect schedule: a fixed timeline counted in frames that decides what
// each frame draws into screen_buf.
#pragma once

#include <cstdint>

struct schedule_record {
    std::int32_t frame_no;    // 1 in the first step
    bool scene_running;       // latched when frame_no becomes 300
    std::int32_t scene_clock; // frame_no - 299 from frame 300 on
    bool fan_running;         // latched when scene_clock becomes 300
    std::int32_t fan_clock;   // frame_no - 598 from frame 599 on
    std::int32_t seg_x;       // the segment group covers seg_x - 2 .. seg_x + 1
    float fan_step;           // angle step handed to the fans
    float fan_start;          // start angle handed to the fans
};

inline constexpr schedule_record schedule_initial = {
    0, false, 0, false, 0, 2, 0.02f, 0.0f,
};

extern schedule_record schedule_state;

// Puts schedule_state back to its values before the first frame.
void schedule_reset();

// Advances the counters and draws one frame into screen_buf. The counters
// stop at 2,147,483,647 instead of overflowing; by then the timeline has long
// settled on the end picture, which they keep showing.
void schedule_step();
