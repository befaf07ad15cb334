// The run's pseudo-random generator: 15-bit numbers (0..32767) from a linear congruential
// sequence, ours so that both builds draw the same numbers from the same seed.
#pragma once

#include <cstdint>

struct StippleRandom {
    static constexpr std::uint32_t kMultiplier = 214013u;
    static constexpr std::uint32_t kIncrement = 2531011u;

    std::uint32_t state;

    explicit StippleRandom(std::uint32_t seed) : state(seed) {}

    int Next() {
        state = state * kMultiplier + kIncrement;
        return static_cast<int>((state >> 16) & 0x7FFF);
    }

    // Moves on as `steps` calls of Next would, in as many steps as `steps` has bits: each step is
    // the affine map state -> state * m + c, and maps compose into one of the same kind.
    void Skip(std::uint64_t steps) {
        std::uint32_t m = kMultiplier, c = kIncrement;  // the map of 2^k calls
        for (; steps != 0; steps >>= 1) {
            if (steps & 1) state = state * m + c;
            c = c * m + c;
            m = m * m;
        }
    }
};
