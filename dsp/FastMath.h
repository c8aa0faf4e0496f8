// Cheap logarithm and exponential for the compressor's gain law.
// fastLog2 reads the float's exponent and corrects the mantissa with a quadratic
// (max error about 0.0097 in log2); fastExp multiplies two table entries
// (e^(-i/64) and e^(-j/131072)) and falls back to std::exp below the table's range.
// The tables are constants evaluated at compile time (FastMath.cpp), so nothing is
// computed or allocated on the audio path and no static-initialisation order applies.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "dsp/DspMath.h"

namespace skv {

/// Number of entries of the coarse table e^(-i/64), i = 0..4096.
constexpr int kExpHiSize = 4097;
/// Number of entries of the fine table e^(-j/131072), j = 0..2047.
constexpr int kExpLoSize = 2048;
/// Steps of the table argument per unit of t: n = round(-131072 t).
constexpr float kExpScale = 131072.0f;
/// Bits of n resolved by the fine table.
constexpr int kExpLoBits = 11;
/// log10(2) as the float the gain law uses.
constexpr float kLog10Of2 = 0.30103001f;
/// Half of kLog10Of2: log10 of the square root of a power value.
constexpr float kHalfLog10Of2 = 0.150515f;
/// ln(10), turning a decade count into an exp argument.
constexpr float kLn10 = 2.3025851f;

struct ExpTables {
    float hi[kExpHiSize];  ///< hi[i] = e^(-i/64)
    float lo[kExpLoSize];  ///< lo[j] = e^(-j/131072)
};

/// The two constant tables (defined in FastMath.cpp by a constant expression).
extern const ExpTables kExpTables;

/// log2 approximation: v = m * 2^(E-127) with 1 <= m < 2 gives
/// m*(2 - m/3) - 2/3 + (E - 128). Exact at powers of two. Any bit pattern is
/// accepted (zero gives about -127, negative values give a meaningless but finite result).
inline float fastLog2(float v) noexcept
{
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int e = static_cast<int>((bits >> 23) & 0xFFu) - 128;
    // Keep sign and mantissa, force the biased exponent to 127 (2^0).
    bits = (bits & 0x807FFFFFu) | 0x3F800000u;
    float m;
    std::memcpy(&m, &bits, sizeof m);
    return m * (2.0f - m * (1.0f / 3.0f)) - 2.0f / 3.0f + static_cast<float>(e);
}

/// log10 approximation built on fastLog2 (absolute error <= about 0.0029).
inline float fastLog10(float v) noexcept
{
    return fastLog2(v) * kLog10Of2;
}

/// log10 of sqrt(p) for a power-like value p (the envelope level of the compressor).
inline float fastLog10Sqrt(float p) noexcept
{
    return fastLog2(p) * kHalfLog10Of2;
}

/// Table value for a non-negative step count n: e^(-n/131072) when n >> 11 <= 4096;
/// larger n are computed directly.
inline float expLookup(int n) noexcept
{
    const int hi = n >> kExpLoBits;
    if (n >= 0 && hi < kExpHiSize)
        return kExpTables.hi[hi] * kExpTables.lo[n & (kExpLoSize - 1)];
    return std::exp(static_cast<float>(n) * (-1.0f / kExpScale));
}

/// e^t for t <= 0 through the tables: about 1e-7 relative error down to t = -64.02,
/// std::exp beyond that (and for positive or non-finite t, which the gain law never passes).
inline float fastExp(float t) noexcept
{
    const float v = -kExpScale * t;
    // Largest n the tables cover is 4096*2048 + 2047; checking the float first keeps the
    // integer conversion in range.
    if (v >= 0.0f && v < 8390655.5f)
        return expLookup(roundToInt(v));
    return std::exp(t);
}

}  // namespace skv
