#include "driver/display.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include <SDL.h>

#include "screen/screen.h"

namespace {
constexpr int aspect_width = 4;
constexpr int aspect_height = 3;

SDL_Window* window = nullptr;
SDL_Renderer* renderer = nullptr;
SDL_Texture* screen_texture = nullptr;   // 320 x 240 BGR24, streaming, nearest
SDL_Texture* prescale_texture = nullptr; // whole multiple of 320 x 240, target, linear
int prescale_factor = 0;                 // factor of prescale_texture, 0 when none
bool targets_supported = false;
int max_texture_width = 0;               // 0: the renderer names no limit
int max_texture_height = 0;
int texture_rows = 0;                    // rows of screen_texture
int fitted_width = -1;                   // output size the layout was made for
int fitted_height = -1;
SDL_Rect picture_rect = {0, 0, 0, 0};

// The prescale texture takes the window's pixel format where the renderer
// offers it, so that the final stretch needs no conversion through temporary
// surfaces in every frame; otherwise ARGB8888.
Uint32 prescale_format()
{
    const Uint32 window_format = SDL_GetWindowPixelFormat(window);
    SDL_RendererInfo info;
    if (window_format != SDL_PIXELFORMAT_UNKNOWN && SDL_GetRendererInfo(renderer, &info) == 0)
        for (Uint32 i = 0; i < info.num_texture_formats; ++i)
            if (info.texture_formats[i] == window_format)
                return window_format;
    return SDL_PIXELFORMAT_ARGB8888;
}

// Lays the picture out for an output of width x height: sets picture_rect and,
// where the renderer has render targets, makes prescale_texture the size of
// the whole-factor enlargement (kept when the factor is unchanged). Without a
// prescale texture the picture goes to its final size with nearest-neighbour
// sampling.
void fit_to_output(int width, int height)
{
    const picture_layout layout = fit_picture(width, height);
    picture_rect = {layout.x, layout.y, layout.width, layout.height};
    fitted_width = width;
    fitted_height = height;
    if (!targets_supported)
        return;

    int factor = layout.factor;
    if (max_texture_width > 0)
        factor = std::min(factor, max_texture_width / screen_width);
    if (max_texture_height > 0)
        factor = std::min(factor, max_texture_height / screen_height);
    factor = std::max(factor, 1);
    if (prescale_texture != nullptr && factor == prescale_factor)
        return;

    if (prescale_texture != nullptr)
        SDL_DestroyTexture(prescale_texture);
    prescale_factor = 0;
    prescale_texture = SDL_CreateTexture(renderer, prescale_format(), SDL_TEXTUREACCESS_TARGET,
                                         factor * screen_width, factor * screen_height);
    if (prescale_texture == nullptr)
        return;
    SDL_SetTextureBlendMode(prescale_texture, SDL_BLENDMODE_NONE);
    SDL_SetTextureScaleMode(prescale_texture, SDL_ScaleModeLinear);
    prescale_factor = factor;
}
} // namespace

picture_layout fit_picture(int output_width, int output_height)
{
    picture_layout layout{};
    const int w = std::max(output_width, 0);
    const int h = std::max(output_height, 0);
    if (static_cast<long long>(w) * aspect_height >= static_cast<long long>(h) * aspect_width) {
        layout.height = h;
        layout.width = static_cast<int>(static_cast<long long>(h) * aspect_width / aspect_height);
    } else {
        layout.width = w;
        layout.height = static_cast<int>(static_cast<long long>(w) * aspect_height / aspect_width);
    }
    layout.x = (w - layout.width) / 2;
    layout.y = (h - layout.height) / 2;
    layout.factor = std::max(1, std::min(layout.width / screen_width, layout.height / screen_height));
    return layout;
}

bool open_display()
{
    // A window made at the desktop's size: one made small and switched to
    // full screen later is not resized on an X server without a window manager.
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0)
        return false;
    window = SDL_CreateWindow("afterglow", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, desktop.w, desktop.h,
                              SDL_WINDOW_FULLSCREEN_DESKTOP);
    if (window == nullptr)
        return false;

    // Any renderer with vsync (SDL_RENDER_VSYNC may turn it off), else SDL's
    // software renderer.
    renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_PRESENTVSYNC);
    if (renderer == nullptr)
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    if (renderer == nullptr)
        return false;

    // BGR24 keeps the bytes blue, green, red in memory, as in screen_buf.
    screen_texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_BGR24, SDL_TEXTUREACCESS_STREAMING, screen_width,
                                       screen_height);
    if (screen_texture == nullptr)
        return false;
    SDL_SetTextureBlendMode(screen_texture, SDL_BLENDMODE_NONE);
    SDL_SetTextureScaleMode(screen_texture, SDL_ScaleModeNearest);
    if (SDL_QueryTexture(screen_texture, nullptr, nullptr, nullptr, &texture_rows) != 0)
        return false;

    SDL_RendererInfo info;
    if (SDL_GetRendererInfo(renderer, &info) == 0) {
        max_texture_width = info.max_texture_width;
        max_texture_height = info.max_texture_height;
    }
    targets_supported = SDL_RenderTargetSupported(renderer) == SDL_TRUE;

    int width = 0;
    int height = 0;
    if (SDL_GetRendererOutputSize(renderer, &width, &height) != 0)
        return false;
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
    fit_to_output(width, height);
    return true;
}

void copy_rows(unsigned char* pixels, int pitch, int rows)
{
    rows = std::min(rows, screen_height);
    for (int r = 0; r < rows; ++r)
        std::memcpy(pixels + static_cast<std::ptrdiff_t>(r) * pitch, screen_buf + row_bytes * r, row_bytes);
}

void present_screen()
{
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(screen_texture, nullptr, &pixels, &pitch) == 0) {
        copy_rows(static_cast<unsigned char*>(pixels), pitch, texture_rows);
        SDL_UnlockTexture(screen_texture);
    }

    int width = 0;
    int height = 0;
    if (SDL_GetRendererOutputSize(renderer, &width, &height) == 0 && (width != fitted_width || height != fitted_height))
        fit_to_output(width, height);

    SDL_Texture* shown = screen_texture;
    if (prescale_texture != nullptr && SDL_SetRenderTarget(renderer, prescale_texture) == 0) {
        SDL_RenderCopy(renderer, screen_texture, nullptr, nullptr);
        SDL_SetRenderTarget(renderer, nullptr);
        shown = prescale_texture;
    }
    SDL_RenderClear(renderer);
    SDL_RenderCopy(renderer, shown, nullptr, &picture_rect);
    SDL_RenderPresent(renderer);
}
