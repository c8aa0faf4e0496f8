// Helpers shared by the signal-processing tests: seeded noise and the bit patterns of floats
// and doubles, for comparisons that must hold to the bit.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace skvtest {

/// n values uniform in [-amplitude, amplitude], the same for the same seed.
inline std::vector<float> noise(int n, unsigned seed, float amplitude = 1.0f)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-amplitude, amplitude);
    std::vector<float> v(static_cast<std::size_t>(n));
    for (float& x : v)
        x = d(rng);
    return v;
}

inline std::uint32_t bitsOf(float v)
{
    std::uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

inline std::uint64_t bitsOf(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

}  // namespace skvtest
