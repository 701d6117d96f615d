// Benchmarks of the drawing core: each optimised routine beside its
// straightforward reference in the same run, then the whole timeline frame by
// frame, and a summary of the ratios at the end.
//
//   afterglow-bench [--timeline-runs=N] [Google Benchmark options]
//
// --timeline-runs=N times the whole timeline N times (default 5; the
// reference half as often); 0 leaves the timeline out.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "driver/display.h"
#include "driver/schedule.h"
#include "effects/fire.h"
#include "effects/polar.h"
#include "effects/random.h"
#include "reference.h"
#include "screen/screen.h"
#include "testkit.h"

namespace {

// Frames are timed in the thread's own CPU time: the figures stay meaningful
// on a machine that is busy with other work.
double thread_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

constexpr int timeline_frames = 1700;
constexpr int ring_phase_first = 1499; // every frame from here draws 25 rings
constexpr int fixture_seed = 2026;
constexpr std::uint32_t demo_seed = 960;

double seconds_since(double t0)
{
    return thread_seconds() - t0;
}

// The demo as it starts, with the fixture assets of the golden frames.
void start_demo()
{
    reset_demo_state();
    make_test_assets(fixture_seed);
    rng_seed(demo_seed);
}

// The state just before the given frame is drawn.
void prepare_before_frame(int frame)
{
    start_demo();
    while (schedule_state.frame_no < frame - 1)
        schedule_step();
}

using draw_fn = void (*)();

// A routine on the picture of a given frame, drawn again and again in place.
void bench_in_place(benchmark::State& state, int frame, draw_fn draw)
{
    prepare_before_frame(frame);
    for (auto _ : state) {
        draw();
        benchmark::ClobberMemory();
    }
}

void optimised_rings()
{
    for (int k = 1; k <= 5; ++k) {
        const int b = 30 + 5 * k;
        for (int radius : {b - 20, b, b + 20, b + 40, 10})
            draw_ring(radius, 0, 0, 0);
    }
}

void reference_rings()
{
    for (int k = 1; k <= 5; ++k) {
        const int b = 30 + 5 * k;
        for (int radius : {b - 20, b, b + 20, b + 40, 10})
            reference_draw_ring(radius, 0, 0, 0);
    }
}

using fan_fn = void (*)(float, float);

// A fan at step 0.02 and start 0 over and over. With `fresh` the start
// alternates between +0 and -0, which draw the same points but are different
// parameters to the optimised fans, so that every call works its pixels out
// anew instead of replaying the previous call's.
void bench_fan(benchmark::State& state, fan_fn fan, bool fresh)
{
    prepare_before_frame(601);
    bool negative = false;
    for (auto _ : state) {
        fan(0.02f, negative ? -0.0f : 0.0f);
        if (fresh)
            negative = !negative;
        benchmark::ClobberMemory();
    }
}

// One frame of the timeline, drawn again and again from the same state; only
// the step itself is timed.
void bench_frame(benchmark::State& state, int frame, draw_fn step)
{
    static demo_snapshot before;
    prepare_before_frame(frame);
    save_demo_state(before);
    for (auto _ : state) {
        restore_demo_state(before);
        const auto t0 = thread_seconds();
        step();
        benchmark::ClobberMemory();
        state.SetIterationTime(seconds_since(t0));
    }
}

// The presentation's row copy into a texture-like destination of 960-byte
// rows, and the same copy done byte by byte.
alignas(64) unsigned char surface[picture_bytes];

void reference_copy_rows(unsigned char* pixels, int pitch, int rows)
{
    for (int r = 0; r < rows && r < screen_height; ++r) {
        const unsigned char* src = screen_buf + row_bytes * r;
        unsigned char* dst = pixels + static_cast<long>(r) * pitch;
        for (int k = 0; k < row_bytes; ++k) {
            dst[k] = src[k];
            benchmark::ClobberMemory();
        }
    }
}

void bench_copy(benchmark::State& state, void (*copy)(unsigned char*, int, int))
{
    prepare_before_frame(700);
    for (auto _ : state) {
        copy(surface, row_bytes, screen_height);
        benchmark::DoNotOptimize(surface);
        benchmark::ClobberMemory();
    }
}

// A pair of benchmarks, "<what>/optimised" and "<what>/reference".
template <typename Optimised, typename Reference>
void register_pair(const std::string& what, Optimised optimised, Reference reference, bool manual_time = false)
{
    auto* o = benchmark::RegisterBenchmark((what + "/optimised").c_str(), optimised);
    auto* r = benchmark::RegisterBenchmark((what + "/reference").c_str(), reference);
    for (auto* b : {o, r}) {
        b->Unit(benchmark::kMicrosecond);
        if (manual_time)
            b->UseManualTime();
    }
}

// The frames timed one by one; each of their phases gets a benchmark.
struct phase_frame {
    const char* phase;
    int frame;
};
const phase_frame phase_frames[] = {
    {"fire", 150},         {"glow", 300},        {"segments", 450},    {"bands_bars", 550},
    {"fan70_first", 601},  {"fan70_phase1", 650}, {"fan90_phase2", 800}, {"fan100_phase3", 1000},
    {"fan100_twice", 1023}, {"fan90_phase4", 1300}, {"fan70_phase5", 1400}, {"rings", 1510},
    {"end_picture", 1600},
};

void register_benchmarks()
{
    register_pair(
        "diffuse_screen", [](benchmark::State& s) { bench_in_place(s, 700, diffuse_screen); },
        [](benchmark::State& s) { bench_in_place(s, 700, reference_diffuse_screen); });
    register_pair(
        "fire_frame", [](benchmark::State& s) { bench_in_place(s, 150, fire_frame); },
        [](benchmark::State& s) { bench_in_place(s, 150, reference_fire_frame); });
    struct fan_pair {
        const char* name;
        fan_fn optimised, reference;
    };
    const fan_pair fans[] = {
        {"draw_fan70", draw_fan70, reference_draw_fan70},
        {"draw_fan90", draw_fan90, reference_draw_fan90},
        {"draw_fan100", draw_fan100, reference_draw_fan100},
    };
    for (const fan_pair& f : fans) {
        register_pair(
            std::string(f.name) + "_fresh", [f](benchmark::State& s) { bench_fan(s, f.optimised, true); },
            [f](benchmark::State& s) { bench_fan(s, f.reference, true); });
        register_pair(
            std::string(f.name) + "_repeated", [f](benchmark::State& s) { bench_fan(s, f.optimised, false); },
            [f](benchmark::State& s) { bench_fan(s, f.reference, false); });
    }
    register_pair(
        "rings_frame", [](benchmark::State& s) { bench_in_place(s, 1510, optimised_rings); },
        [](benchmark::State& s) { bench_in_place(s, 1510, reference_rings); });
    for (const phase_frame& p : phase_frames) {
        const int frame = p.frame;
        register_pair(
            "schedule_step_" + std::string(p.phase) + "_" + std::to_string(frame),
            [frame](benchmark::State& s) { bench_frame(s, frame, schedule_step); },
            [frame](benchmark::State& s) { bench_frame(s, frame, reference_schedule_step); }, true);
    }
    register_pair(
        "copy_rows", [](benchmark::State& s) { bench_copy(s, copy_rows); },
        [](benchmark::State& s) { bench_copy(s, reference_copy_rows); });
}

// Keeps every result's time per iteration, in microseconds, for the summary.
class recording_reporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> micros;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            // Process CPU time, or for the frames the thread CPU time that
            // the benchmark measured itself.
            const bool manual_time = run.run_name.time_type == "manual_time";
            const double t = manual_time ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            double scale = 1.0;
            switch (run.time_unit) {
            case benchmark::kNanosecond: scale = 1e-3; break;
            case benchmark::kMicrosecond: scale = 1.0; break;
            case benchmark::kMillisecond: scale = 1e3; break;
            case benchmark::kSecond: scale = 1e6; break;
            }
            // Manual-time runs carry "/manual_time" after the name.
            std::string name = run.benchmark_name();
            const std::string manual = "/manual_time";
            if (name.size() > manual.size() && name.compare(name.size() - manual.size(), manual.size(), manual) == 0)
                name.resize(name.size() - manual.size());
            micros[name] = t * scale;
        }
    }
};

// The whole timeline, frame by frame: the fastest of several runs for each
// frame, in seconds.
struct timeline_times {
    std::vector<double> frame; // index 1..1700
    double best_total = 0;     // the fastest whole run
};

timeline_times time_timeline(draw_fn step, int runs)
{
    timeline_times t;
    t.frame.assign(timeline_frames + 1, 1e9);
    t.best_total = 1e9;
    for (int run = 0; run < runs; ++run) {
        start_demo();
        double total = 0;
        for (int f = 1; f <= timeline_frames; ++f) {
            const auto t0 = thread_seconds();
            step();
            benchmark::ClobberMemory();
            const double s = seconds_since(t0);
            t.frame[f] = std::min(t.frame[f], s);
            total += s;
        }
        t.best_total = std::min(t.best_total, total);
    }
    return t;
}

struct frame_range {
    const char* name;
    int first, last;
};
const frame_range timeline_phases[] = {
    {"fire", 1, 209},         {"glow", 210, 398},         {"segments", 399, 505},
    {"bands and bars", 506, 600}, {"fans", 601, 1447},      {"bands after fans", 1448, 1498},
    {"rings", 1499, 1519},    {"end picture", 1520, 1700},
};

double sum_frames(const timeline_times& t, int first, int last)
{
    double s = 0;
    for (int f = first; f <= last; ++f)
        s += t.frame[f];
    return s;
}

int worst_frame(const timeline_times& t, int first, int last)
{
    int worst = first;
    for (int f = first; f <= last; ++f)
        if (t.frame[f] > t.frame[worst])
            worst = f;
    return worst;
}

void print_pair_summary(const recording_reporter& r)
{
    std::printf("\nOptimised against reference, CPU time per call (microseconds):\n");
    std::printf("  %-40s %12s %12s %9s\n", "", "optimised", "reference", "ratio");
    for (const auto& [name, t] : r.micros) {
        const std::string suffix = "/optimised";
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string what = name.substr(0, name.size() - suffix.size());
        auto ref = r.micros.find(what + "/reference");
        if (ref == r.micros.end())
            continue;
        std::printf("  %-40s %12.2f %12.2f %8.1fx\n", what.c_str(), t, ref->second, ref->second / t);
    }
}

void print_timeline_summary(const timeline_times& o, const timeline_times& r, double table_seconds)
{
    const double o_sum = sum_frames(o, 1, timeline_frames);
    const double r_sum = sum_frames(r, 1, timeline_frames);
    std::printf("\nWhole timeline, frames 1..%d (CPU time, fastest run of each frame, ms):\n", timeline_frames);
    std::printf("  %-20s %11s %12s %12s %9s\n", "phase", "frames", "optimised", "reference", "ratio");
    for (const frame_range& p : timeline_phases) {
        const double os = sum_frames(o, p.first, p.last);
        const double rs = sum_frames(r, p.first, p.last);
        std::printf("  %-20s %5d..%-5d %12.3f %12.3f %8.1fx\n", p.name, p.first, p.last, os * 1e3, rs * 1e3,
                    rs / os);
    }
    std::printf("  %-20s %5d..%-5d %12.3f %12.3f %8.1fx\n", "all", 1, timeline_frames, o_sum * 1e3, r_sum * 1e3,
                r_sum / o_sum);
    std::printf("  fastest whole run: optimised %.3f ms, reference %.3f ms, ratio %.1fx\n", o.best_total * 1e3,
                r.best_total * 1e3, r.best_total / o.best_total);
    const int ow = worst_frame(o, 1, timeline_frames);
    const int rw = worst_frame(r, 1, timeline_frames);
    std::printf("  worst single frame: optimised %.4f ms (frame %d), reference %.4f ms (frame %d)\n",
                o.frame[ow] * 1e3, ow, r.frame[rw] * 1e3, rw);
    const int orw = worst_frame(o, ring_phase_first, timeline_frames);
    const int rrw = worst_frame(r, ring_phase_first, timeline_frames);
    std::printf("  worst frame with rings (%d..%d): optimised %.4f ms (frame %d), reference %.4f ms (frame %d)\n",
                ring_phase_first, timeline_frames, o.frame[orw] * 1e3, orw, r.frame[rrw] * 1e3, rrw);
    std::printf("  start-up tables (polar_init, first call): %.3f ms\n", table_seconds * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    // The tables are built once, before anything else has warmed the caches.
    const auto t0 = thread_seconds();
    polar_init();
    const double table_seconds = seconds_since(t0);

    int timeline_runs = 5;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--timeline-runs=", 16) == 0)
            timeline_runs = std::max(0, std::atoi(argv[i] + 16));
        else
            args.push_back(argv[i]);
    }
    int bench_argc = static_cast<int>(args.size());
    benchmark::Initialize(&bench_argc, args.data());
    if (benchmark::ReportUnrecognizedArguments(bench_argc, args.data()))
        return 1;

    register_benchmarks();
    recording_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    print_pair_summary(reporter);
    if (timeline_runs > 0) {
        const timeline_times optimised = time_timeline(schedule_step, timeline_runs);
        const timeline_times reference = time_timeline(reference_schedule_step, std::max(1, timeline_runs / 2));
        print_timeline_summary(optimised, reference, table_seconds);
    } else {
        std::printf("  start-up tables (polar_init, first call): %.3f ms\n", table_seconds * 1e3);
    }
    benchmark::Shutdown();
    return 0;
}
