// Small numeric helpers, the one home of rounding for the whole tree. The per-sample paths
// convert without library calls: lrintf is a real call unless errno math is off, so roundToInt
// uses the SSE conversion, which rounds to nearest with halves to even under the default MXCSR
// mode. Parameter rules and pixel positions use roundHalfEven instead, which gives the same
// answer whatever rounding mode a host left behind.
#pragma once

#include <cmath>
#include <xmmintrin.h>

namespace skv {

/// Nearest integer, halves to even (SSE cvtss2si); v must lie within the int range.
inline int roundToInt(float v);

/// Smallest integer not below v; v must lie within the int range.
inline int ceilToInt(float v);

/// Nearest integer, halves to even, independent of the floating-point environment (parameter
/// rules, tempo, pixel positions; not meant for per-sample paths).
inline double roundHalfEven(double v);

/// roundHalfEven as an int; v must lie within the int range.
inline int roundHalfEvenToInt(double v);

/// Smallest power of two not below n (1 for n <= 1); n at most 2^30.
inline int nextPowerOfTwo(int n);

// ---------------------------------------------------------------------------------------------

inline int roundToInt(float v)
{
    return _mm_cvtss_si32(_mm_set_ss(v));
}

inline int ceilToInt(float v)
{
    // Truncation moves toward zero, which is already the ceiling for negative values.
    const int t = _mm_cvttss_si32(_mm_set_ss(v));
    return t + (static_cast<float>(t) < v ? 1 : 0);
}

inline double roundHalfEven(double v)
{
    const double r = std::floor(v);
    const double diff = v - r;
    if (diff > 0.5)
        return r + 1.0;
    if (diff < 0.5)
        return r;
    return std::fmod(r, 2.0) == 0.0 ? r : r + 1.0;
}

inline int roundHalfEvenToInt(double v)
{
    return static_cast<int>(roundHalfEven(v));
}

inline int nextPowerOfTwo(int n)
{
    int p = 1;
    while (p < n && p < (1 << 30))
        p <<= 1;
    return p;
}

}  // namespace skv
