// Fault injection for the demo's SDL calls, loaded with LD_PRELOAD into the
// real binary. It replaces a few SDL functions, passes each call on to the
// real SDL unless told to make it fail, and keeps a count of every call.
//
// Environment:
//   AFTERGLOW_SDL_FAULTS    Comma-separated list of calls to make fail, every
//                           time they are called:
//                             create_window    SDL_CreateWindow returns NULL
//                             create_renderer  SDL_CreateRenderer returns NULL
//                             create_texture   SDL_CreateTexture returns NULL
//                             lock_texture     SDL_LockTexture returns -1
//                             no_render_targets
//                                              SDL_RenderTargetSupported
//                                              returns SDL_FALSE
//                           A failing call (except SDL_RenderTargetSupported)
//                           sets SDL's error text to
//                           "injected fault: <SDL function name>".
//   AFTERGLOW_SDL_FAULT_LOG Path of a file to append records to (none when
//                           unset). Lines, each ending in "\n":
//                             "first <SDL function>"  on the first call of each
//                                                     replaced function (so a
//                                                     test can see that frames
//                                                     are being presented)
//                             "SDL_Quit <name>=<calls>/<failures> ..."
//                                                     on every SDL_Quit call,
//                                                     with the counts so far of
//                                                     every replaced function
//                                                     except SDL_Quit
//
// Replaced functions: SDL_CreateWindow, SDL_CreateRenderer, SDL_CreateTexture,
// SDL_LockTexture, SDL_RenderTargetSupported, SDL_RenderPresent (counted
// only), SDL_Quit (recorded).
// To add a fault: one entry in the table below and a wrapper like the others.
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <SDL.h>

namespace {
enum call_id {
    create_window,
    create_renderer,
    create_texture,
    lock_texture,
    render_target_supported,
    render_present,
    call_count
};

struct call_record {
    const char* fault_name; // name in AFTERGLOW_SDL_FAULTS, nullptr: never fails
    const char* sdl_name;
    long calls;
    long failures;
};

call_record records[call_count] = {
    {"create_window", "SDL_CreateWindow", 0, 0},
    {"create_renderer", "SDL_CreateRenderer", 0, 0},
    {"create_texture", "SDL_CreateTexture", 0, 0},
    {"lock_texture", "SDL_LockTexture", 0, 0},
    {"no_render_targets", "SDL_RenderTargetSupported", 0, 0},
    {nullptr, "SDL_RenderPresent", 0, 0},
};

// Appends text to the log file, if one is named; one write per record so
// that lines from separate calls never interleave.
void log_text(const char* text)
{
    const char* path = std::getenv("AFTERGLOW_SDL_FAULT_LOG");
    if (path == nullptr || *path == '\0')
        return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const ssize_t ignored = write(fd, text, std::strlen(text));
    (void)ignored;
    close(fd);
}

// True when name appears as a whole item of the comma-separated fault list.
bool fault_wanted(const char* name)
{
    const char* list = std::getenv("AFTERGLOW_SDL_FAULTS");
    if (list == nullptr || name == nullptr)
        return false;
    const std::size_t len = std::strlen(name);
    for (const char* p = list; *p != '\0';) {
        const char* end = std::strchr(p, ',');
        const std::size_t item = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
        if (item == len && std::strncmp(p, name, len) == 0)
            return true;
        if (end == nullptr)
            break;
        p = end + 1;
    }
    return false;
}

// Counts a call and says whether it must fail; a failing call sets SDL's
// error text when set_error is true.
bool enter(call_id id, bool set_error = true)
{
    call_record& r = records[id];
    if (r.calls++ == 0) {
        char line[128];
        std::snprintf(line, sizeof line, "first %s\n", r.sdl_name);
        log_text(line);
    }
    if (!fault_wanted(r.fault_name))
        return false;
    ++r.failures;
    if (set_error)
        SDL_SetError("injected fault: %s", r.sdl_name);
    return true;
}

// The real SDL function of this name.
template <typename F>
F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
} // namespace

extern "C" {

SDL_Window* SDL_CreateWindow(const char* title, int x, int y, int w, int h, Uint32 flags)
{
    if (enter(create_window))
        return nullptr;
    static auto next = real<SDL_Window* (*)(const char*, int, int, int, int, Uint32)>("SDL_CreateWindow");
    return next(title, x, y, w, h, flags);
}

SDL_Renderer* SDL_CreateRenderer(SDL_Window* window, int index, Uint32 flags)
{
    if (enter(create_renderer))
        return nullptr;
    static auto next = real<SDL_Renderer* (*)(SDL_Window*, int, Uint32)>("SDL_CreateRenderer");
    return next(window, index, flags);
}

SDL_Texture* SDL_CreateTexture(SDL_Renderer* renderer, Uint32 format, int access, int w, int h)
{
    if (enter(create_texture))
        return nullptr;
    static auto next = real<SDL_Texture* (*)(SDL_Renderer*, Uint32, int, int, int)>("SDL_CreateTexture");
    return next(renderer, format, access, w, h);
}

int SDL_LockTexture(SDL_Texture* texture, const SDL_Rect* rect, void** pixels, int* pitch)
{
    if (enter(lock_texture))
        return -1;
    static auto next = real<int (*)(SDL_Texture*, const SDL_Rect*, void**, int*)>("SDL_LockTexture");
    return next(texture, rect, pixels, pitch);
}

SDL_bool SDL_RenderTargetSupported(SDL_Renderer* renderer)
{
    if (enter(render_target_supported, false))
        return SDL_FALSE;
    static auto next = real<SDL_bool (*)(SDL_Renderer*)>("SDL_RenderTargetSupported");
    return next(renderer);
}

void SDL_RenderPresent(SDL_Renderer* renderer)
{
    enter(render_present);
    static auto next = real<void (*)(SDL_Renderer*)>("SDL_RenderPresent");
    next(renderer);
}

void SDL_Quit(void)
{
    char line[512];
    int n = std::snprintf(line, sizeof line, "SDL_Quit");
    for (const call_record& r : records) {
        if (n > 0 && static_cast<std::size_t>(n) < sizeof line)
            n += std::snprintf(line + n, sizeof line - n, " %s=%ld/%ld", r.sdl_name, r.calls, r.failures);
    }
    if (n > 0 && static_cast<std::size_t>(n) < sizeof line - 1) {
        line[n] = '\n';
        line[n + 1] = '\0';
    }
    log_text(line);
    static auto next = real<void (*)(void)>("SDL_Quit");
    next();
}
}
