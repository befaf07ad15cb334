// The run's pseudo-random generator: 15-bit numbers (0..32767) from a linear congruential
// sequence, ours so that both builds draw the same numbers from the same seed.
#pragma once

#include <cstdint>

struct StippleRandom {
    std::uint32_t state;

    explicit StippleRandom(std::uint32_t seed) : state(seed) {}

    int Next() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFF);
    }
};
