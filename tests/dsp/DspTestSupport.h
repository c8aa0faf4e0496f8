// Helpers shared by the signal-processing tests (noise comes from support/TestSignals.h):
// seeded random values, bit patterns for
// comparisons that must hold to the bit, the comparison of SSE lanes with their scalar
// reference, and the compressor's approximate log2 written from its definition.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "support/TestSignals.h"

namespace skvtest {

/// n values uniform in [lo, hi] drawn from rng.
inline std::vector<float> randomValues(std::mt19937& rng, int n, float lo, float hi)
{
    std::uniform_real_distribution<float> d(lo, hi);
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

/// A lane's value against its scalar reference: the lanes repeat the scalar operations one for
/// one, so an SSE2 build must match exactly (NaN matching NaN). A build that lets the compiler
/// fuse multiplies and adds (FMA targets) may round differently and gets a small tolerance.
inline bool sameAsScalar(float lane, float scalar)
{
#ifdef __FMA__
    constexpr double kTolerance = 1e-4;
#else
    constexpr double kTolerance = 0.0;
#endif
    if (std::isnan(lane) || std::isnan(scalar))
        return std::isnan(lane) && std::isnan(scalar);
    return lane == scalar ||
           std::fabs(static_cast<double>(lane) - scalar) <= kTolerance * (1.0 + std::fabs(scalar));
}

/// The compressor's log2 approximation from its definition, with frexp: v = f 2^k,
/// 0.5 <= f < 1, so the mantissa m = 2f and the unbiased exponent k - 1; the formula
/// subtracts one more.
inline double referenceLog2(double v)
{
    int k = 0;
    const double m = 2.0 * std::frexp(v, &k);
    return m * (2.0 - m / 3.0) - 2.0 / 3.0 + (k - 2);
}

}  // namespace skvtest
