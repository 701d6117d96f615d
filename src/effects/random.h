// The random source: one 32-bit linear congruential state, 1 until seeded.
// Start-up seeds it once with 960; only the fire draws from it, so every run
// places the same sparks.
#pragma once

#include <cstdint>

extern std::uint32_t rng_state;

// Sets the state.
void rng_seed(std::uint32_t seed);

// Advances the state to state * 214013 + 2531011 (mod 2^32) and returns bits
// 16..30 of the new state: a value in 0..32767.
inline int rng_next()
{
    rng_state = rng_state * 214013u + 2531011u;
    return static_cast<int>((rng_state >> 16) & 0x7fffu);
}
