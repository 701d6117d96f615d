// Events with the real SDL under its dummy video driver: which events end
// the frame loop, and that every pending event is taken before it ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <SDL.h>

#include "driver/display.h"
#include "driver/frame_loop.h"
#include "driver/schedule.h"
#include "testkit.h"

namespace {
SDL_Event key_event(Uint32 type, SDL_Keycode sym)
{
    SDL_Event e{};
    e.type = type;
    e.key.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = SDL_GetScancodeFromKey(sym);
    return e;
}

SDL_Event plain_event(Uint32 type)
{
    SDL_Event e{};
    e.type = type;
    return e;
}

SDL_Event mouse_motion()
{
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = 100;
    e.motion.y = 50;
    e.motion.xrel = 3;
    return e;
}

SDL_Event mouse_button(Uint32 type)
{
    SDL_Event e{};
    e.type = type;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    return e;
}

int pending_events()
{
    return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
}

class Events : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        ASSERT_TRUE(open_display()) << SDL_GetError();
    }
    static void TearDownTestSuite() { SDL_Quit(); }

    void SetUp() override
    {
        reset_demo_state();
        quit_flag = 0;
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }

    static void push_all(const std::vector<SDL_Event>& events)
    {
        for (SDL_Event e : events)
            ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
        ASSERT_EQ(pending_events(), static_cast<int>(events.size()));
    }
};

TEST_F(Events, OtherKeysReleasesAndMouseDoNothing)
{
    push_all({
        key_event(SDL_KEYUP, SDLK_ESCAPE),
        key_event(SDL_KEYDOWN, SDLK_a),
        key_event(SDL_KEYDOWN, SDLK_SPACE),
        key_event(SDL_KEYDOWN, SDLK_RETURN),
        key_event(SDL_KEYDOWN, SDLK_q),
        key_event(SDL_KEYUP, SDLK_a),
        mouse_motion(),
        mouse_button(SDL_MOUSEBUTTONDOWN),
        mouse_button(SDL_MOUSEBUTTONUP),
        plain_event(SDL_MOUSEWHEEL),
        plain_event(SDL_TEXTINPUT),
        plain_event(SDL_APP_WILLENTERBACKGROUND),
    });
    drain_events();
    EXPECT_EQ(quit_flag, 0);
    EXPECT_EQ(pending_events(), 0);
}

struct ending_case {
    const char* name;
    std::vector<SDL_Event> events;
};

void PrintTo(const ending_case& c, std::ostream* os)
{
    *os << c.name;
}

class EndingEvents : public Events, public ::testing::WithParamInterface<ending_case> {};

// The events are pending before the first frame: the loop finishes that one
// frame, drains the whole queue and returns without another schedule step.
TEST_P(EndingEvents, EndTheLoopAfterTheFrameInProgress)
{
    push_all(GetParam().events);
    run_frame_loop();
    EXPECT_EQ(quit_flag, 1);
    EXPECT_EQ(schedule_state.frame_no, 1);
    EXPECT_EQ(pending_events(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EndingEvents,
    ::testing::Values(
        ending_case{"escape_alone", {key_event(SDL_KEYDOWN, SDLK_ESCAPE)}},
        ending_case{"escape_among_others",
                    {key_event(SDL_KEYDOWN, SDLK_a), mouse_motion(), key_event(SDL_KEYDOWN, SDLK_ESCAPE),
                     key_event(SDL_KEYUP, SDLK_ESCAPE), mouse_button(SDL_MOUSEBUTTONDOWN),
                     key_event(SDL_KEYDOWN, SDLK_ESCAPE)}},
        ending_case{"quit_event", {mouse_motion(), plain_event(SDL_QUIT), key_event(SDL_KEYDOWN, SDLK_b)}}),
    [](const ::testing::TestParamInfo<ending_case>& info) { return std::string(info.param.name); });
} // namespace
