// Small numeric helpers for the per-sample paths: float-to-int conversions without library
// calls. lrintf is a real call unless errno math is off, so rounding uses the SSE conversion,
// which rounds to nearest with halves to even under the default MXCSR mode.
#pragma once

#include <xmmintrin.h>

namespace skv {

/// Nearest integer, halves to even (SSE cvtss2si); v must lie within the int range.
inline int roundToInt(float v);

/// Smallest integer not below v; v must lie within the int range.
inline int ceilToInt(float v);

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

inline int nextPowerOfTwo(int n)
{
    int p = 1;
    while (p < n && p < (1 << 30))
        p <<= 1;
    return p;
}

}  // namespace skv
