// The demo's entry: reads the assets, opens the display and runs the frame
// loop until Escape or the quit event.
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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

// Video drivers that show nothing. SDL falls back to them when it finds no
// display; the demo would then run unseen, with no key to end it.
constexpr const char* unseen_drivers[] = {"offscreen", "dummy"};

// Starts SDL's video. A driver that shows nothing counts as a failure unless
// SDL_VIDEODRIVER asked for a driver by name (as the tests do); SDL's error
// text is then the one it gives when it finds no video device at all.
bool start_video()
{
    if (SDL_Init(SDL_INIT_VIDEO) < 0)
        return false;
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    const char* driver = SDL_GetCurrentVideoDriver();
    if ((asked != nullptr && *asked != '\0') || driver == nullptr)
        return true;
    for (const char* unseen : unseen_drivers) {
        if (std::strcmp(driver, unseen) == 0) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            SDL_SetError("No available video device");
            return false;
        }
    }
    return true;
}
} // namespace

// Start-up, the frame loop and shutdown. SDL2 on Linux has no entry wrapper,
// so SDL's core is started and SDL_Quit registered here before anything else.
int main(int, char**)
{
    SDL_Init(0);
    std::atexit(SDL_Quit);

    // Every asset is read before SDL is asked for anything.
    load_assets(nullptr);

    if (!start_video()) {
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
