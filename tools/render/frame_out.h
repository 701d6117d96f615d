// Writing finished frames out: whole-buffer writes to a file descriptor and
// PNG encoding of a picture, neither of which allocates per frame.
#pragma once

#include <cstddef>

// Set by the renderer's signal handler; a write blocked on a pipe or a
// terminal gives up when it is set.
extern volatile int stop_requested;

// Writes all count bytes to fd, retrying short writes and interrupted calls
// (unless stop_requested is set). Returns false with errno set on failure.
bool write_all(int fd, const unsigned char* bytes, std::size_t count);

// Encodes a picture (320 x 240 pixels of blue, green, red bytes) as an 8-bit
// RGB PNG and writes it to fd. On failure returns false and sets *reason to a
// static message (strerror of the failed write, or the PNG library's text).
bool write_png_picture(int fd, const unsigned char* picture, const char** reason);
