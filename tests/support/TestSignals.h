// Test signals shared by the test programs: reproducible noise from a seed.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

namespace skvtest {

/// n samples of white noise, uniform in [-amplitude, amplitude], the same for the same seed.
inline std::vector<float> noise(std::size_t n, unsigned seed, float amplitude = 1.0f)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> b(n);
    for (float& v : b)
        v = dist(gen);
    return b;
}

}  // namespace skvtest
