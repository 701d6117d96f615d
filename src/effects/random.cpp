#include "effects/random.h"

std::uint32_t rng_state = 1;

void rng_seed(std::uint32_t seed)
{
    rng_state = seed;
}
