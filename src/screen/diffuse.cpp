#include "screen/screen.h"

#include <cstdint>

namespace {
constexpr int diffuse_first = row_bytes + 1;                   // 961
constexpr int diffuse_last = (screen_height - 1) * row_bytes;  // 229,440
constexpr int diffuse_blocks = screen_height - 2;              // 238 blocks of 960 bytes

// The sums of the three neighbours of block bytes b .. b + 959 that the
// ascending sweep has not yet rewritten when it reaches them (above, already
// final; right and below, still old): independent of each other, so the
// compiler vectorises this loop. `count` is 960, or 959 for the last block,
// whose last byte has no neighbour below inside the picture.
void sum_fixed_neighbours(const unsigned char* s, int b, int count, std::uint16_t* sums)
{
    for (int k = 0; k < count; ++k) {
        const int i = b + k;
        sums[k] = static_cast<std::uint16_t>(s[i - row_bytes] + s[i + 3] + s[i + row_bytes]);
    }
}

// The left neighbour is the value computed three bytes earlier, so each of
// the three channels is a recurrence along the row: new = (previous new +
// sum) / 4. The three chains run interleaved in registers across all blocks.
void sweep_block(unsigned char* s, int b, const std::uint16_t* sums, unsigned& c0, unsigned& c1, unsigned& c2)
{
    unsigned char* const d = s + b;
    for (int k = 0; k < row_bytes; k += 3) {
        c0 = (c0 + sums[k]) >> 2;
        c1 = (c1 + sums[k + 1]) >> 2;
        c2 = (c2 + sums[k + 2]) >> 2;
        d[k] = static_cast<unsigned char>(c0);
        d[k + 1] = static_cast<unsigned char>(c1);
        d[k + 2] = static_cast<unsigned char>(c2);
    }
}
} // namespace

// Equal to averaging byte by byte in ascending order: the sweep is cut into
// blocks of 960 bytes (bytes 1..959 of row r and byte 0 of row r + 1); each
// block's above neighbours lie in the previous block, already final.
void diffuse_screen()
{
    unsigned char* const s = screen_buf;
    std::uint16_t sums[row_bytes];
    unsigned c0 = s[diffuse_first - 3];
    unsigned c1 = s[diffuse_first - 2];
    unsigned c2 = s[diffuse_first - 1];
    for (int block = 0; block < diffuse_blocks; ++block) {
        const int b = diffuse_first + block * row_bytes;
        if (block + 1 < diffuse_blocks) {
            sum_fixed_neighbours(s, b, row_bytes, sums);
        } else {
            // The neighbour below index 229,440 lies past the picture: 0.
            sum_fixed_neighbours(s, b, row_bytes - 1, sums);
            sums[row_bytes - 1] = static_cast<std::uint16_t>(s[diffuse_last - row_bytes] + s[diffuse_last + 3]);
        }
        sweep_block(s, b, sums, c0, c1, c2);
    }
}
