// Prints the error text that SDL gives when its video cannot be started, by
// the same calls as the demo's start-up, so that a test can expect it exactly.
#include <cstdio>

#include <SDL.h>

int main(int, char**)
{
    SDL_Init(0);
    const int result = SDL_Init(SDL_INIT_VIDEO);
    if (result >= 0) {
        SDL_Quit();
        return 2;
    }
    std::fputs(SDL_GetError(), stdout);
    SDL_Quit();
    return 0;
}
