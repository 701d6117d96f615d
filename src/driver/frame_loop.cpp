#include "driver/frame_loop.h"

#include <SDL.h>

#include "driver/display.h"
#include "driver/schedule.h"

int quit_flag = 0;

// One pass per frame: draw into screen_buf, show it, take the events; the
// quit test comes last, so the frame in which Escape arrives is shown whole.
void run_frame_loop()
{
    while (quit_flag == 0) {
        schedule_step();
        present_screen();
        drain_events();
    }
}

// Polls until the queue is empty; setting quit_flag does not stop the drain.
void drain_events()
{
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        if ((event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) || event.type == SDL_QUIT)
            quit_flag = 1;
    }
}
