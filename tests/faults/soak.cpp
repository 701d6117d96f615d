// A long run of the drawing core: frames 1..N, each from 1,520 on checked to
// be exactly end_pic; no allocation while frames are drawn; resident memory
// the same at the end as once every buffer is in use; then a stretch started
// just below the counters' limit that runs past it and still shows the end
// picture. Prints one line of figures; exit status 0 when every check held.
//
//   faults_soak [--frames N] [--limit-frames M] [--assets DIR]
//
// Without --assets the test fixture assets of seed 2026 are used; with it the
// three files are loaded from DIR as start-up loads them.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include <fcntl.h>
#include <unistd.h>

#include "driver/assets.h"
#include "driver/schedule.h"
#include "effects/polar.h"
#include "effects/random.h"
#include "screen/screen.h"
#include "testkit.h"

// Allocation counting: every operator new, and where no sanitizer owns the
// allocator, every malloc, calloc and realloc as well.
namespace {
long allocations = 0;
}

#if defined(__SANITIZE_ADDRESS__)
#define SOAK_OWN_MALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_OWN_MALLOC 0
#endif
#endif
#ifndef SOAK_OWN_MALLOC
#define SOAK_OWN_MALLOC 1
#endif

#if SOAK_OWN_MALLOC
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size)
{
    ++allocations;
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size)
{
    ++allocations;
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size)
{
    ++allocations;
    return __libc_realloc(p, size);
}
void free(void* p)
{
    __libc_free(p);
}
}
#endif

void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    ++allocations;
    return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {
constexpr std::int32_t end_picture_from = 1520;
constexpr std::int32_t settled_frame = 1600; // every buffer has been touched by then
constexpr std::uint32_t fixture_seed = 2026;
constexpr std::int32_t counter_top = std::numeric_limits<std::int32_t>::max();

// Resident memory in KiB from /proc/self/statm: all of it, and the part not
// backed by files (the heap, the stack, the pictures), which is what a leak
// would grow. Read with plain system calls so that measuring allocates
// nothing.
struct memory_use {
    long resident_kib = -1;
    long anonymous_kib = -1;
};

memory_use memory_now()
{
    memory_use m;
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return m;
    char text[128];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return m;
    text[n] = '\0';
    char* p = nullptr;
    std::strtol(text, &p, 10); // total size
    const long resident = std::strtol(p, &p, 10);
    const long shared = std::strtol(p, &p, 10);
    const long page_kib = sysconf(_SC_PAGESIZE) / 1024;
    m.resident_kib = resident * page_kib;
    m.anonymous_kib = (resident - shared) * page_kib;
    return m;
}

long parse_count(const char* text, const char* option)
{
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || v < 0 || v > counter_top) {
        std::fprintf(stderr, "faults_soak: bad value '%s' for %s\n", text, option);
        std::exit(2);
    }
    return static_cast<long>(v);
}

bool shows_end_picture()
{
    return std::memcmp(screen_buf, end_pic, picture_bytes) == 0;
}
} // namespace

int main(int argc, char** argv)
{
    long frames = 1'000'000;
    long limit_frames = 2000;
    const char* assets = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc)
            frames = parse_count(argv[++i], "--frames");
        else if (std::strcmp(argv[i], "--limit-frames") == 0 && i + 1 < argc)
            limit_frames = parse_count(argv[++i], "--limit-frames");
        else if (std::strcmp(argv[i], "--assets") == 0 && i + 1 < argc)
            assets = argv[++i];
        else {
            std::fprintf(stderr, "usage: faults_soak [--frames N] [--limit-frames M] [--assets DIR]\n");
            return 2;
        }
    }

    reset_demo_state();
    if (assets != nullptr)
        load_assets(assets);
    else
        make_test_assets(fixture_seed);
    polar_init();
    rng_seed(960);

    long wrong_frames = 0;
    long first_wrong = 0;
    memory_use settled;
    bool settled_seen = false;
    const long allocations_before = allocations;
    const auto start = std::chrono::steady_clock::now();
    for (long f = 1; f <= frames; ++f) {
        schedule_step();
        if (f >= end_picture_from && !shows_end_picture() && wrong_frames++ == 0)
            first_wrong = f;
        if (f == settled_frame) {
            settled = memory_now();
            settled_seen = true;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const memory_use at_end = memory_now();
    if (!settled_seen)
        settled = at_end;

    // Just below the counters' limit: half the stretch before it, half after.
    schedule_state.frame_no = counter_top - static_cast<std::int32_t>(limit_frames / 2);
    schedule_state.scene_clock = schedule_state.frame_no - 299;
    schedule_state.fan_clock = schedule_state.frame_no - 598;
    const schedule_record below_limit = schedule_state;
    long wrong_past_limit = 0;
    for (long k = 0; k < limit_frames; ++k) {
        schedule_step();
        if (!shows_end_picture())
            ++wrong_past_limit;
    }
    const long allocated = allocations - allocations_before;
    // Each counter goes up by one a frame until it stops at the limit.
    auto expected = [&](std::int32_t start) {
        const long long v = static_cast<long long>(start) + limit_frames;
        return static_cast<std::int32_t>(v < counter_top ? v : counter_top);
    };
    const bool counters_held = schedule_state.frame_no == expected(below_limit.frame_no) &&
                               schedule_state.scene_clock == expected(below_limit.scene_clock) &&
                               schedule_state.fan_clock == expected(below_limit.fan_clock);

    std::printf("frames %ld in %.1f s (%.0f a second), then %ld from just below the counters' limit; "
                "resident memory %ld KiB (%ld KiB not file-backed) at frame %d, %ld KiB (%ld KiB) at the end; "
                "allocations %ld\n",
                frames, seconds, seconds > 0 ? frames / seconds : 0.0, limit_frames, settled.resident_kib,
                settled.anonymous_kib, static_cast<int>(settled_frame), at_end.resident_kib, at_end.anonymous_kib,
                allocated);

    bool ok = true;
    if (wrong_frames > 0) {
        std::printf("FAIL: %ld frames from %d on differ from end_pic, the first %ld\n", wrong_frames,
                    end_picture_from, first_wrong);
        ok = false;
    }
    if (wrong_past_limit > 0 || !counters_held) {
        std::printf("FAIL: past the counters' limit %ld frames differ from end_pic; counters %d %d %d\n",
                    wrong_past_limit, schedule_state.frame_no, schedule_state.scene_clock, schedule_state.fan_clock);
        ok = false;
    }
    if (allocated != 0) {
        std::printf("FAIL: %ld allocations while drawing\n", allocated);
        ok = false;
    }
    // The pictures are static and nothing is allocated, so memory that is
    // not file-backed must not grow at all once every buffer is in use; a
    // little slack covers the stack and the C library's own pages.
    // Under AddressSanitizer its runtime grows shadow and stack pages of its
    // own as it goes, so there the figures are shown but not judged.
    constexpr long slack_kib = 64;
    if (SOAK_OWN_MALLOC && at_end.anonymous_kib > settled.anonymous_kib + slack_kib) {
        std::printf("FAIL: memory grew by %ld KiB\n", at_end.anonymous_kib - settled.anonymous_kib);
        ok = false;
    }
    return ok ? 0 : 1;
}
