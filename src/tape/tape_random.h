// Random numbers for made-up tapes: a small generator of its own, whose
// sequence is the same with every standard library, which the "same seed,
// same file" promise needs.
#pragma once

#include <cstdint>

struct TapRandom {
    std::uint64_t state;
    std::uint32_t next()
    {
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return std::uint32_t((z ^ (z >> 31)) >> 32);
    }
    // A number from lo to hi, both included.
    std::uint32_t between(std::uint32_t lo, std::uint32_t hi)
    {
        return lo + next() % (hi - lo + 1);
    }
};
