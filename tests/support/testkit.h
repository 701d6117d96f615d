// Test support: a clean demo state and deterministic asset fixtures.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/schedule.h"
#include "screen/screen.h"

// Zeroes the four pictures and the spark sprite, puts the random source back
// to its unseeded state 1 and the schedule to its first frame.
void reset_demo_state();

// Fills end_pic, mask_pic and spark_sprite from a fixed seed: a random end
// picture, a mask with many 255 bytes (and some 254s, which keep their byte),
// a spark sprite of hot colours with transparent pixels. The same seed always
// gives the same bytes.
void make_test_assets(std::uint32_t seed);

// Everything a frame can change: the two working pictures, the random source
// and the schedule's record, so that frames can be drawn again from one state.
struct demo_snapshot {
    unsigned char screen[picture_bytes];
    unsigned char fire[picture_bytes];
    std::uint32_t rng;
    schedule_record schedule;
};
void save_demo_state(demo_snapshot& s);
void restore_demo_state(const demo_snapshot& s);

// The fixtures' own generator (xorshift32), independent of the demo's.
std::uint32_t fixture_next(std::uint32_t& state);

// CRC-32 (the zlib polynomial) of a byte range, for golden frame checksums.
std::uint32_t crc32_of(const unsigned char* bytes, std::size_t count);
