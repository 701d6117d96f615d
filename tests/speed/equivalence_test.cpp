// The optimised drawing core against the straightforward reference: every
// routine on random pictures, and the whole timeline frame by frame, must
// leave exactly the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "driver/schedule.h"
#include "effects/fire.h"
#include "effects/polar.h"
#include "effects/random.h"
#include "reference.h"
#include "screen/screen.h"
#include "testkit.h"

// Counts the C++ allocations made while `counting_allocations` is set.
namespace {
bool counting_allocations = false;
long allocations = 0;
} // namespace

void* operator new(std::size_t size)
{
    if (counting_allocations)
        ++allocations;
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        std::abort();
    return p;
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

constexpr int timeline_frames = 1700;

// Index of the first byte where two pictures differ, or -1.
long first_difference(const unsigned char* a, const unsigned char* b)
{
    if (std::memcmp(a, b, picture_bytes) == 0)
        return -1;
    for (long i = 0; i < picture_bytes; ++i)
        if (a[i] != b[i])
            return i;
    return -1;
}

void fill_random(unsigned char* bytes, int count, std::uint32_t& state)
{
    for (int i = 0; i < count; ++i)
        bytes[i] = static_cast<unsigned char>(fixture_next(state) >> 24);
}

// A picture of random bytes, or sparse bright dots on black, or large flat
// areas: the sweeps' carries, saturation and zero paths all get exercised.
void fill_picture(unsigned char* pic, int kind, std::uint32_t& state)
{
    switch (kind % 4) {
    case 0:
        fill_random(pic, picture_bytes, state);
        break;
    case 1:
        std::memset(pic, 0, picture_bytes);
        for (int k = 0; k < 2000; ++k)
            pic[fixture_next(state) % picture_bytes] = 255;
        break;
    case 2:
        for (int i = 0; i < picture_bytes; ++i)
            pic[i] = static_cast<unsigned char>((i / 4000) % 2 ? 255 : (i / 8000) * 37);
        break;
    default:
        std::memset(pic, 255, picture_bytes);
        break;
    }
}

demo_snapshot optimised_side;
demo_snapshot reference_side;

void expect_same_state(int frame)
{
    const long screen_diff = first_difference(optimised_side.screen, reference_side.screen);
    ASSERT_EQ(screen_diff, -1) << "screen_buf differs after frame " << frame << " at byte " << screen_diff;
    const long fire_diff = first_difference(optimised_side.fire, reference_side.fire);
    ASSERT_EQ(fire_diff, -1) << "fire_buf differs after frame " << frame << " at byte " << fire_diff;
    ASSERT_EQ(optimised_side.rng, reference_side.rng) << "frame " << frame;
    const schedule_record& o = optimised_side.schedule;
    const schedule_record& r = reference_side.schedule;
    ASSERT_EQ(o.frame_no, r.frame_no);
    ASSERT_EQ(o.scene_running, r.scene_running);
    ASSERT_EQ(o.scene_clock, r.scene_clock);
    ASSERT_EQ(o.fan_running, r.fan_running);
    ASSERT_EQ(o.fan_clock, r.fan_clock);
    ASSERT_EQ(o.seg_x, r.seg_x);
    ASSERT_EQ(std::memcmp(&o.fan_step, &r.fan_step, sizeof(float)), 0) << "frame " << frame;
    ASSERT_EQ(std::memcmp(&o.fan_start, &r.fan_start, sizeof(float)), 0) << "frame " << frame;
}

// Runs the optimised and the reference timeline side by side from the
// current state, comparing everything after every frame.
void expect_same_timeline()
{
    save_demo_state(optimised_side);
    save_demo_state(reference_side);
    for (int frame = 1; frame <= timeline_frames; ++frame) {
        restore_demo_state(reference_side);
        reference_schedule_step();
        save_demo_state(reference_side);
        restore_demo_state(optimised_side);
        schedule_step();
        save_demo_state(optimised_side);
        expect_same_state(frame);
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

struct Timeline : ::testing::Test {
    void SetUp() override
    {
        reset_demo_state();
        polar_init();
    }
};

TEST_F(Timeline, GoldenAssetsMatchReferenceEveryFrame)
{
    make_test_assets(2026);
    rng_seed(960);
    expect_same_timeline();
}

TEST_F(Timeline, OtherFixtureAssetsMatchReferenceEveryFrame)
{
    make_test_assets(31337);
    rng_seed(960);
    expect_same_timeline();
}

// Wholly random asset bytes: a mask of random 0/255 bytes, a sprite without
// structure, another seed of the random source.
TEST_F(Timeline, RandomAssetsMatchReferenceEveryFrame)
{
    std::uint32_t s = 0x5eed1234u;
    fill_random(end_pic, picture_bytes, s);
    for (unsigned char& b : mask_pic)
        b = (fixture_next(s) & 1) ? 255 : static_cast<unsigned char>(fixture_next(s) >> 24);
    fill_random(spark_sprite, spark_sprite_bytes, s);
    rng_seed(fixture_next(s));
    expect_same_timeline();
}

// The diffusion on pictures of every kind, twice in a row so that its own
// output feeds it too.
TEST(Diffusion, MatchesReferenceOnRandomScreens)
{
    static unsigned char input[picture_bytes];
    static unsigned char expected[picture_bytes];
    std::uint32_t s = 99;
    for (int kind = 0; kind < 12; ++kind) {
        fill_picture(input, kind, s);
        std::memcpy(screen_buf, input, picture_bytes);
        reference_diffuse_screen();
        reference_diffuse_screen();
        std::memcpy(expected, screen_buf, picture_bytes);
        std::memcpy(screen_buf, input, picture_bytes);
        diffuse_screen();
        diffuse_screen();
        const long diff = first_difference(screen_buf, expected);
        EXPECT_EQ(diff, -1) << "picture kind " << kind << ", byte " << diff;
    }
}

// Fire steps on random fire_buf, mask, sprite and random-source state, all
// bytes of both buffers compared after each of several steps.
TEST(Fire, MatchesReferenceOnRandomPictures)
{
    std::uint32_t s = 4711;
    for (int round = 0; round < 8; ++round) {
        reset_demo_state();
        fill_picture(fire_buf, round, s);
        fill_picture(mask_pic, round + 1, s);
        if (round % 2)
            for (unsigned char& b : mask_pic)
                b = (fixture_next(s) % 3 == 0) ? 255 : b;
        fill_random(spark_sprite, spark_sprite_bytes, s);
        for (int i = 0; i < 150; i += 3)
            if (fixture_next(s) % 3 == 0)
                spark_sprite[i] = spark_sprite[i + 1] = spark_sprite[i + 2] = 0;
        fill_random(screen_buf, picture_bytes, s);
        rng_seed(fixture_next(s));
        save_demo_state(optimised_side);
        save_demo_state(reference_side);
        for (int step = 0; step < 4; ++step) {
            restore_demo_state(reference_side);
            reference_fire_frame();
            save_demo_state(reference_side);
            restore_demo_state(optimised_side);
            fire_frame();
            save_demo_state(optimised_side);
            expect_same_state(step);
            if (HasFatalFailure())
                return;
        }
    }
}

// Stamps at and across every clip edge, of several sizes, with transparent
// and opaque pixels.
TEST(Fire, StampMatchesReferenceAtEveryEdge)
{
    static unsigned char base[picture_bytes];
    static unsigned char expected[picture_bytes];
    static unsigned char sprite[3 * 12 * 12];
    std::uint32_t s = 8;
    fill_random(base, picture_bytes, s);
    fill_random(sprite, sizeof sprite, s);
    for (int i = 0; i < static_cast<int>(sizeof sprite); i += 3)
        if (fixture_next(s) % 4 == 0)
            sprite[i] = sprite[i + 1] = sprite[i + 2] = 0;
    const int xs[] = {-12, -11, -10, -1, 0, 1, 5, 150, 308, 309, 310, 311, 318, 319, 320, 321, 32767, -2147483647 - 1};
    const int ys[] = {-13, -12, -5, -2, -1, 0, 1, 2, 100, 144, 187, 188, 189, 194, 195, 199, 200, 238, 2147483647};
    const int sizes[][2] = {{10, 5}, {1, 1}, {12, 12}, {0, 5}, {5, 0}, {-3, 4}, {7, 3}};
    for (const auto& size : sizes) {
        for (int x : xs) {
            for (int y : ys) {
                std::memcpy(fire_buf, base, picture_bytes);
                reference_stamp_sprite(sprite, x, y, size[0], size[1]);
                std::memcpy(expected, fire_buf, picture_bytes);
                std::memcpy(fire_buf, base, picture_bytes);
                stamp_sprite(sprite, x, y, size[0], size[1]);
                const long diff = first_difference(fire_buf, expected);
                ASSERT_EQ(diff, -1) << "stamp " << size[0] << "x" << size[1] << " at " << x << "," << y
                                    << ": byte " << diff;
            }
        }
    }
}

// Draws the same figure with the optimised and the reference routine on the
// same random screen and compares the whole picture.
template <typename Optimised, typename Reference>
void expect_same_figure(Optimised optimised, Reference reference, std::uint32_t& s, const char* what)
{
    static unsigned char input[picture_bytes];
    static unsigned char expected[picture_bytes];
    fill_random(input, picture_bytes, s);
    std::memcpy(screen_buf, input, picture_bytes);
    reference();
    std::memcpy(expected, screen_buf, picture_bytes);
    std::memcpy(screen_buf, input, picture_bytes);
    optimised();
    const long diff = first_difference(screen_buf, expected);
    EXPECT_EQ(diff, -1) << what << ": byte " << diff;
}

// Every radius a ring may have, in random colours (colour components beyond
// 8 bits included), twice each so that a table, once built, is used again.
TEST(Rings, EveryRadiusMatchesReference)
{
    polar_init();
    std::uint32_t s = 2024;
    for (int round = 0; round < 2; ++round) {
        for (int radius = 0; radius <= ring_max_radius; ++radius) {
            const int r = static_cast<int>(fixture_next(s) % 600) - 100;
            const int g = static_cast<int>(fixture_next(s) % 256);
            const int b = round == 0 ? 0 : static_cast<int>(fixture_next(s) % 256);
            expect_same_figure([&] { draw_ring(radius, r, g, b); },
                               [&] { reference_draw_ring(radius, r, g, b); }, s,
                               ("ring " + std::to_string(radius)).c_str());
        }
    }
}

// Without polar_init the figures still draw correctly (their tables are
// built on first use). Under ctest each case runs in its own process, so
// nothing else has built them here.
TEST(Rings, WorkWithoutInit)
{
    std::uint32_t s = 5;
    for (int radius : {95, 10, 0, 119, 1})
        expect_same_figure([&] { draw_ring(radius, 0, 0, 0); }, [&] { reference_draw_ring(radius, 0, 0, 0); },
                           s, "ring without init");
    expect_same_figure([&] { draw_fan90(0.02f, 0.0f); }, [&] { reference_draw_fan90(0.02f, 0.0f); }, s,
                       "fan without init");
}

enum fan_member { fan70, fan90, fan100 };

void draw_optimised_fan(fan_member m, float step, float start)
{
    switch (m) {
    case fan70: draw_fan70(step, start); break;
    case fan90: draw_fan90(step, start); break;
    case fan100: draw_fan100(step, start); break;
    }
}

void draw_reference_fan(fan_member m, float step, float start)
{
    switch (m) {
    case fan70: reference_draw_fan70(step, start); break;
    case fan90: reference_draw_fan90(step, start); break;
    case fan100: reference_draw_fan100(step, start); break;
    }
}

void expect_same_fan(fan_member m, float step, float start, std::uint32_t& s)
{
    const std::string what = "fan member " + std::to_string(m) + " step " + std::to_string(step) + " start " +
                             std::to_string(start);
    expect_same_figure([&] { draw_optimised_fan(m, step, start); },
                       [&] { draw_reference_fan(m, step, start); }, s, what.c_str());
}

// Random parameters across the schedule's ranges (steps 0.02..8.03, starts
// -580..0), each drawn twice in a row (the second draw replays what the first
// worked out) and members interleaved, so a replay never shows another
// member's or another call's pixels.
TEST(Fans, RandomParametersMatchReference)
{
    polar_init();
    std::uint32_t s = 77;
    for (int k = 0; k < 150; ++k) {
        const auto m = static_cast<fan_member>(fixture_next(s) % 3);
        const float step = 0.02f + static_cast<float>(fixture_next(s) % 100000) * (8.01f / 100000.0f);
        const float start = -static_cast<float>(fixture_next(s) % 581) -
                            ((k % 2) ? static_cast<float>(fixture_next(s) % 1000) / 1000.0f : 0.0f);
        expect_same_fan(m, step, start, s);
        expect_same_fan(m, step, start, s);
        if (k % 5 == 0)
            expect_same_fan(static_cast<fan_member>((m + 1) % 3), step, start, s);
    }
    // The heaviest calls, the single call of the third phase, a start that is
    // not below its end, and starts from the schedule's extremes.
    for (fan_member m : {fan70, fan90, fan100}) {
        expect_same_fan(m, 0.02f, 0.0f, s);
        expect_same_fan(m, 0.02f, -580.0f, s);
        expect_same_fan(m, 8.03f, -580.0f, s);
        expect_same_fan(m, 10.0f, 0.05f, s);
        expect_same_fan(m, 0.5f, INFINITY, s);
    }
}

// Exactly the calls the timeline makes, in its order: the parameters are
// read off the schedule after each of its steps.
TEST(Fans, ScheduleCallsMatchReference)
{
    polar_init();
    struct phase {
        int after, before;
        fan_member member;
    };
    const phase phases[] = {
        {2, 100, fan70}, {100, 250, fan90}, {250, 600, fan100}, {600, 750, fan90}, {750, 850, fan70},
    };
    struct call {
        fan_member member;
        float step, start;
    };
    std::vector<call> calls;
    reset_demo_state();
    for (int frame = 1; frame <= 1450; ++frame) {
        schedule_step();
        const schedule_record& r = schedule_state;
        if (r.fan_clock == 425)
            calls.push_back({fan100, 10.0f, 0.05f});
        for (const phase& p : phases)
            if (r.fan_clock > p.after && r.fan_clock < p.before)
                calls.push_back({p.member, r.fan_step, r.fan_start});
    }
    ASSERT_EQ(calls.size(), 97u + 149u + 1u + 349u + 149u + 99u);
    std::uint32_t s = 3;
    for (const call& c : calls)
        expect_same_fan(c.member, c.step, c.start, s);
}

// The compiler turns a sine and a cosine of the same argument into one
// sincos call, in the fans and in their reference alike. That gives the same
// values as the two separate calls, bit for bit, over the angles that fans
// reach (single-precision angles from -600 to 1,500).
TEST(Fans, SincosEqualsSeparateSineAndCosine)
{
    double (*volatile sine)(double) = std::sin;
    double (*volatile cosine)(double) = std::cos;
    std::uint32_t s = 12345;
    for (int k = 0; k < 1000000; ++k) {
        const float angle = -600.0f + static_cast<float>(fixture_next(s) % 2100000u) / 1000.0f +
                            static_cast<float>(fixture_next(s) % 1000u) * 1e-6f;
        const double a = angle;
        double sn = 0;
        double cs = 0;
        ::sincos(a, &sn, &cs);
        const double separate_sin = sine(a);
        const double separate_cos = cosine(a);
        ASSERT_EQ(std::memcmp(&sn, &separate_sin, sizeof sn), 0) << "sin " << angle;
        ASSERT_EQ(std::memcmp(&cs, &separate_cos, sizeof cs), 0) << "cos " << angle;
    }
}

// The whole timeline draws without a single allocation once the start-up
// tables exist.
TEST(Allocation, NoneInTheWholeTimeline)
{
    reset_demo_state();
    make_test_assets(2026);
    rng_seed(960);
    polar_init();
    counting_allocations = true;
    for (int frame = 1; frame <= timeline_frames; ++frame)
        schedule_step();
    counting_allocations = false;
    EXPECT_EQ(allocations, 0);
}

} // namespace
