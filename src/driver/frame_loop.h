// The frame loop: schedule step, presentation, event drain, quit test.
#pragma once

// 0 at start; set to 1 by an Escape key press or the quit event, never reset.
extern int quit_flag;

// Runs frames until quit_flag is set; the first frame always runs.
void run_frame_loop();

// Takes every pending SDL event; Escape pressed or the quit event sets
// quit_flag, every other event is dropped.
void drain_events();
