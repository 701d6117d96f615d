#include "frame_out.h"

#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <png.h>
#include <unistd.h>

#include "screen/screen.h"

volatile int stop_requested = 0;

namespace {
// libpng and zlib take their memory from this arena, which is reset for every
// picture, so encoding a frame allocates nothing. One encoder needs about
// 300 KiB (mostly zlib's window and hash tables); a larger request than the
// arena holds falls back to the heap rather than failing.
constexpr std::size_t arena_bytes = 1u << 20;
constexpr std::size_t arena_align = alignof(std::max_align_t);
alignas(std::max_align_t) unsigned char arena[arena_bytes];
std::size_t arena_used = 0;

// Encoded bytes are gathered here and written to the file in large pieces.
constexpr std::size_t out_bytes = 64 * 1024;
unsigned char out_buf[out_bytes];
std::size_t out_used = 0;
int out_fd = -1;
int out_errno = 0; // first failed write of the current picture, 0 if none

constexpr std::size_t message_bytes = 256;
char png_message[message_bytes];

// Hands out the next aligned piece of the arena (libpng's malloc hook).
png_voidp arena_alloc(png_structp, png_alloc_size_t size)
{
    const std::size_t start = (arena_used + arena_align - 1) & ~(arena_align - 1);
    if (start <= arena_bytes && size <= arena_bytes - start) {
        arena_used = start + size;
        return arena + start;
    }
    return std::malloc(size);
}

// Arena pieces are released all at once by the next picture; only heap
// fallbacks are freed here (libpng's free hook).
void arena_free(png_structp, png_voidp p)
{
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const auto base = reinterpret_cast<std::uintptr_t>(arena);
    if (at >= base && at < base + arena_bytes)
        return;
    std::free(p);
}

// Writes out_buf to out_fd and empties it; records the first failure.
void flush_out()
{
    if (out_errno == 0 && out_used > 0 && !write_all(out_fd, out_buf, out_used))
        out_errno = errno != 0 ? errno : EIO;
    out_used = 0;
}

// Appends encoded bytes to out_buf (libpng's write hook). After a failed
// write the rest of the picture is dropped; the caller reports the failure.
void on_png_write(png_structp, png_bytep data, std::size_t length)
{
    while (length > 0 && out_errno == 0) {
        const std::size_t n = length < out_bytes - out_used ? length : out_bytes - out_used;
        std::memcpy(out_buf + out_used, data, n);
        out_used += n;
        data += n;
        length -= n;
        if (out_used == out_bytes)
            flush_out();
    }
}

// Nothing to do: the picture's bytes are flushed when it is complete.
void on_png_flush(png_structp) {}

// Keeps libpng's error text and returns to write_png_picture's setjmp.
[[noreturn]] void on_png_error(png_structp png, png_const_charp message)
{
    std::snprintf(png_message, sizeof png_message, "PNG encoder: %s", message);
    png_longjmp(png, 1);
}

// Warnings do not affect the file; they are dropped.
void on_png_warning(png_structp, png_const_charp) {}
} // namespace

bool write_all(int fd, const unsigned char* bytes, std::size_t count)
{
    while (count > 0) {
        const ssize_t n = write(fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR && !stop_requested) {
            continue;
        } else {
            if (n == 0)
                errno = EIO;
            return false;
        }
    }
    return true;
}

bool write_png_picture(int fd, const unsigned char* picture, const char** reason)
{
    arena_used = 0;
    out_fd = fd;
    out_used = 0;
    out_errno = 0;
    std::strcpy(png_message, "PNG encoder: out of memory");

    png_structp png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, on_png_error,
                                                on_png_warning, nullptr, arena_alloc, arena_free);
    if (png == nullptr) {
        *reason = png_message;
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        *reason = png_message;
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        *reason = out_errno != 0 ? std::strerror(out_errno) : png_message;
        return false;
    }
    png_set_write_fn(png, nullptr, on_png_write, on_png_flush);
    png_set_IHDR(png, info, screen_width, screen_height, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png); // the rows are read as blue, green, red
    for (int r = 0; r < screen_height; ++r)
        png_write_row(png, picture + r * row_bytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);

    flush_out();
    if (out_errno != 0) {
        *reason = std::strerror(out_errno);
        return false;
    }
    return true;
}
