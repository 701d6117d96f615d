#include "screen/screen.h"

namespace {
constexpr int diffuse_first = row_bytes + 1;                   // 961
constexpr int diffuse_last = (screen_height - 1) * row_bytes;  // 229,440
} // namespace

void diffuse_screen()
{
    unsigned char* const s = screen_buf;
    for (int i = diffuse_first; i < diffuse_last; ++i)
        s[i] = static_cast<unsigned char>((s[i - 3] + s[i - row_bytes] + s[i + 3] + s[i + row_bytes]) >> 2);
    // The last byte's neighbour below lies past the picture and counts as 0.
    const int i = diffuse_last;
    s[i] = static_cast<unsigned char>((s[i - 3] + s[i - row_bytes] + s[i + 3]) >> 2);
}
