// The demo's entry: reads the assets, opens the display and runs the frame
// loop until Escape or the quit event.
#include <cstdio>
#include <cstdint>
#include <cstdlib>

#include <SDL.h>

#include "driver/assets.h"
#include "driver/display.h"
#include "driver/frame_loop.h"
#include "driver/key_wait.h"
#include "effects/polar.h"
#include "effects/random.h"

namespace {
constexpr int status_no_video = 1;
constexpr int status_no_display = 5;
constexpr std::uint32_t rng_start_seed = 960;
} // namespace

// Start-up, the frame loop and shutdown. SDL2 on Linux has no entry wrapper,
// so SDL's core is started and SDL_Quit registered here before anything else.
int main(int, char**)
{
    SDL_Init(0);
    std::atexit(SDL_Quit);

    // Every asset is read before SDL is asked for anything.
    load_assets(nullptr);

    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
        wait_for_key();
        std::exit(status_no_video);
    }
    if (!open_display()) {
        std::fprintf(stderr, "Couldn't set display mode: %s\n", SDL_GetError());
        wait_for_key();
        SDL_Quit();
        std::exit(status_no_display);
    }
    SDL_ShowCursor(SDL_DISABLE);
    polar_init();
    rng_seed(rng_start_seed);
    run_frame_loop();
    return 0;
}
