#include <cstdio>
#include <cstdlib>

#include <SDL.h>

#include "driver/assets.h"
#include "driver/display.h"
#include "driver/frame_loop.h"
#include "driver/key_wait.h"
#include "effects/polar.h"
#include "effects/random.h"

int main(int, char**)
{
    SDL_Init(0);
    std::atexit(SDL_Quit);

    load_assets(nullptr);

    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
        wait_for_key();
        std::exit(1);
    }
    if (!open_display()) {
        std::fprintf(stderr, "Couldn't set display mode: %s\n", SDL_GetError());
        wait_for_key();
        SDL_Quit();
        std::exit(5);
    }
    SDL_ShowCursor(SDL_DISABLE);
    polar_init();
    rng_seed(960);
    run_frame_loop();
    return 0;
}
