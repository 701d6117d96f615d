#include "screen/screen.h"

#include <bit>
#include <cstdint>
#include <cstring>

// The diffusion equals averaging byte by byte in ascending order, but runs as
// a recurrence along each row. The sweep is cut into 238 blocks of 960 bytes
// (bytes 1..959 of row r and byte 0 of row r + 1). When the sweep reaches a
// byte, its neighbours above (in the previous block) already hold their new
// values and those to the right and below still hold their old ones, so their
// sum can be formed for a whole block at once. What remains is the left
// neighbour, the value computed three bytes earlier: per channel a chain
// new = (previous new + sum) / 4 running through the whole picture.
//
// That chain is stepped four pixels at a time. For whole numbers u and b,
// floor((floor(u / 4) + b) / 4) = floor((u + 4 b) / 16), so with the sums
// a, b, c, d of four consecutive pixels and the new value v before them:
//   new1 = (v + a) / 4,              new2 = (v + a + 4 b) / 16,
//   new3 = (v + a + 4 b + 16 c) / 64, new4 = (v + a + 4 b + 16 c + 64 d) / 256,
// all floors. Only new4 feeds the next four pixels. The three channels of a
// pixel ride together in 16-bit fields of one 64-bit word; no field exceeds
// 255 + 85 * 765 = 65,280, so no carry reaches the next field.

namespace {
constexpr int diffuse_first = row_bytes + 1;                  // 961
constexpr int diffuse_last = (screen_height - 1) * row_bytes; // 229,440
constexpr int diffuse_blocks = screen_height - 2;             // 238 blocks of 960 bytes
constexpr int block_pixels = row_bytes / pixel_bytes;         // 320
constexpr int chain_stride = 4;                               // pixels per chain step

// The low 8 bits of the three channel fields; the fourth field is scratch.
constexpr std::uint64_t channel_fields = 0x0000'00ff'00ff'00ffull;

// Per byte of a block, the sum above + right + below; then the block's new
// values. One spare entry each, for the scratch field of the last pixel.
struct block_work {
    std::uint16_t sums[row_bytes + 1];
    std::uint16_t values[row_bytes + 1];
};

// Fields of pixel p (three channels, then the next entry as scratch).
inline std::uint64_t load_fields(const std::uint16_t* entries, int p)
{
    std::uint64_t v;
    std::memcpy(&v, entries + pixel_bytes * p, sizeof v);
    return v;
}

inline void store_fields(std::uint16_t* entries, int p, std::uint64_t v)
{
    std::memcpy(entries + pixel_bytes * p, &v, sizeof v);
}

// The sums of the three neighbours of block bytes b .. b + 959 that the sweep
// does not change before it reaches them; vectorised by the compiler.
// `count` is 960, or 959 for the last block, whose last byte has no
// neighbour below inside the picture.
void sum_fixed_neighbours(const unsigned char* s, int b, int count, std::uint16_t* sums)
{
    for (int k = 0; k < count; ++k) {
        const int i = b + k;
        sums[k] = static_cast<std::uint16_t>(s[i - row_bytes] + s[i + 3] + s[i + row_bytes]);
    }
}

// The chain through one block, four pixels per step; `v` holds the new
// values of the pixel before the block (one per field) and is left holding
// those of its last pixel. The scratch field of each store is overwritten by
// the next store, and masked to 0 before it could reach a sum.
void chain_block(block_work& w, std::uint64_t& v)
{
    for (int p = 0; p < block_pixels; p += chain_stride) {
        const std::uint64_t a = load_fields(w.sums, p);
        const std::uint64_t ab = a + (load_fields(w.sums, p + 1) << 2);
        const std::uint64_t abc = ab + (load_fields(w.sums, p + 2) << 4);
        const std::uint64_t abcd = abc + (load_fields(w.sums, p + 3) << 6);
        store_fields(w.values, p, ((v + a) >> 2) & channel_fields);
        store_fields(w.values, p + 1, ((v + ab) >> 4) & channel_fields);
        store_fields(w.values, p + 2, ((v + abc) >> 6) & channel_fields);
        v = ((v + abcd) >> 8) & channel_fields;
        store_fields(w.values, p + 3, v);
    }
}

// The straightforward chain, one byte at a time; for hosts whose 64-bit words
// do not keep their lowest field at the lowest address.
[[maybe_unused]] void chain_block_bytes(block_work& w, unsigned& c0, unsigned& c1, unsigned& c2)
{
    for (int k = 0; k < row_bytes; k += 3) {
        c0 = (c0 + w.sums[k]) >> 2;
        c1 = (c1 + w.sums[k + 1]) >> 2;
        c2 = (c2 + w.sums[k + 2]) >> 2;
        w.values[k] = static_cast<std::uint16_t>(c0);
        w.values[k + 1] = static_cast<std::uint16_t>(c1);
        w.values[k + 2] = static_cast<std::uint16_t>(c2);
    }
}
} // namespace

void diffuse_screen()
{
    unsigned char* const s = screen_buf;
    block_work w;
    w.sums[row_bytes] = 0;
    // The left neighbours of the first block: bytes 958..960, never changed.
    unsigned c0 = s[diffuse_first - 3];
    unsigned c1 = s[diffuse_first - 2];
    unsigned c2 = s[diffuse_first - 1];
    std::uint64_t v = c0 | (std::uint64_t{c1} << 16) | (std::uint64_t{c2} << 32);

    for (int block = 0; block < diffuse_blocks; ++block) {
        const int b = diffuse_first + block * row_bytes;
        if (block + 1 < diffuse_blocks) {
            sum_fixed_neighbours(s, b, row_bytes, w.sums);
        } else {
            // The neighbour below index 229,440 lies past the picture: 0.
            sum_fixed_neighbours(s, b, row_bytes - 1, w.sums);
            w.sums[row_bytes - 1] = static_cast<std::uint16_t>(s[diffuse_last - row_bytes] + s[diffuse_last + 3]);
        }
        if constexpr (std::endian::native == std::endian::little)
            chain_block(w, v);
        else
            chain_block_bytes(w, c0, c1, c2);
        unsigned char* const d = s + b;
        for (int k = 0; k < row_bytes; ++k)
            d[k] = static_cast<unsigned char>(w.values[k]);
    }
}
