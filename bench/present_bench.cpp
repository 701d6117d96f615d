// The demo's frame loop with its real display: what present_screen costs per
// frame, and how many frames per second the whole loop (schedule step,
// presentation, event drain) reaches, in wall-clock time.
//
//   afterglow-present-bench [frames]
//
// Run it under SDL_VIDEODRIVER=dummy, or on an X display (Xvfb) with
// SDL_RENDER_VSYNC=0 to leave the display's refresh out of the figures.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <SDL.h>

#include "driver/display.h"
#include "driver/frame_loop.h"
#include "driver/schedule.h"
#include "effects/polar.h"
#include "effects/random.h"
#include "screen/screen.h"
#include "testkit.h"

// Counts the heap allocations made through malloc (SDL's and the driver's
// alike) where the C library lets a program stand in for it.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define AFTERGLOW_COUNT_MALLOC 1
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
namespace {
long malloc_calls = 0;
long malloc_bytes = 0;
} // namespace
extern "C" void* malloc(std::size_t n)
{
    ++malloc_calls;
    malloc_bytes += static_cast<long>(n);
    return __libc_malloc(n);
}
extern "C" void* calloc(std::size_t count, std::size_t size)
{
    ++malloc_calls;
    malloc_bytes += static_cast<long>(count * size);
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, std::size_t n)
{
    ++malloc_calls;
    malloc_bytes += static_cast<long>(n);
    return __libc_realloc(p, n);
}
#endif

namespace {
using wall_clock = std::chrono::steady_clock;

constexpr int default_frames = 1700;
constexpr int fixture_seed = 2026;
constexpr std::uint32_t demo_seed = 960;

double seconds_between(wall_clock::time_point a, wall_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

struct spread {
    double mean, median, p99, worst;
};

spread spread_of(std::vector<double> t)
{
    std::sort(t.begin(), t.end());
    double sum = 0;
    for (double v : t)
        sum += v;
    return {sum / static_cast<double>(t.size()), t[t.size() / 2], t[t.size() * 99 / 100], t.back()};
}

void print_spread(const char* what, const spread& s)
{
    std::printf("  %-34s mean %8.3f  median %8.3f  99%% %8.3f  worst %8.3f ms\n", what, s.mean * 1e3,
                s.median * 1e3, s.p99 * 1e3, s.worst * 1e3);
}

void start_timeline()
{
    reset_demo_state();
    make_test_assets(fixture_seed);
    rng_seed(demo_seed);
}
} // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : default_frames;
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
        return 1;
    }
    if (!open_display()) {
        std::fprintf(stderr, "Couldn't set display mode: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    polar_init();

    const char* renderer_name = "?";
    int out_w = 0;
    int out_h = 0;
    SDL_Window* window = SDL_GetWindowFromID(1);
    SDL_Renderer* renderer = window != nullptr ? SDL_GetRenderer(window) : nullptr;
    SDL_RendererInfo info{};
    if (renderer != nullptr && SDL_GetRendererInfo(renderer, &info) == 0)
        renderer_name = info.name;
    if (renderer != nullptr)
        SDL_GetRendererOutputSize(renderer, &out_w, &out_h);
    const char* vsync = SDL_GetHint(SDL_HINT_RENDER_VSYNC);
    std::printf("video driver %s, renderer %s, output %d x %d, SDL_RENDER_VSYNC=%s, %d frames\n",
                SDL_GetCurrentVideoDriver(), renderer_name, out_w, out_h, (vsync && *vsync) ? vsync : "(unset)", frames);

    // The loop as the demo runs it, each part timed.
    std::vector<double> step_t, present_t, drain_t, frame_t;
    for (auto* v : {&step_t, &present_t, &drain_t, &frame_t})
        v->reserve(static_cast<std::size_t>(frames));
    long present_calls = 0;
    long present_bytes = 0;
    start_timeline();
    const auto run_start = wall_clock::now();
    for (int f = 0; f < frames; ++f) {
        const auto t0 = wall_clock::now();
        schedule_step();
        const auto t1 = wall_clock::now();
#ifdef AFTERGLOW_COUNT_MALLOC
        const long calls_before = malloc_calls;
        const long bytes_before = malloc_bytes;
#endif
        present_screen();
        const auto t2 = wall_clock::now();
#ifdef AFTERGLOW_COUNT_MALLOC
        present_calls += malloc_calls - calls_before;
        present_bytes += malloc_bytes - bytes_before;
#endif
        drain_events();
        const auto t3 = wall_clock::now();
        step_t.push_back(seconds_between(t0, t1));
        present_t.push_back(seconds_between(t1, t2));
        drain_t.push_back(seconds_between(t2, t3));
        frame_t.push_back(seconds_between(t0, t3));
    }
    const double run_seconds = seconds_between(run_start, wall_clock::now());

    std::printf("per frame, wall clock:\n");
    print_spread("schedule_step", spread_of(step_t));
    print_spread("present_screen (copy + SDL)", spread_of(present_t));
    print_spread("drain_events", spread_of(drain_t));
    print_spread("whole frame", spread_of(frame_t));
#ifdef AFTERGLOW_COUNT_MALLOC
    std::printf("  allocations inside present_screen (SDL's): %.1f per frame, %.0f bytes per frame\n",
                static_cast<double>(present_calls) / frames, static_cast<double>(present_bytes) / frames);
#else
    (void)present_calls;
    (void)present_bytes;
#endif
    std::printf("the demo's loop: %d frames in %.3f s, %.0f frames per second\n", frames, run_seconds,
                frames / run_seconds);

    // The row copy alone, for comparison with the SDL part of the presentation.
    static unsigned char texture_like[picture_bytes];
    std::vector<double> copy_t;
    for (int k = 0; k < 2000; ++k) {
        const auto t0 = wall_clock::now();
        copy_rows(texture_like, row_bytes, screen_height);
        copy_t.push_back(seconds_between(t0, wall_clock::now()));
    }
    print_spread("copy_rows alone (240 rows)", spread_of(copy_t));
    SDL_Quit();
    return 0;
}
