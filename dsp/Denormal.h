// Anti-denormal guard shared by the recursive units: a tiny offset whose sign alternates every
// sample (so it never builds up a DC term) and a flush of magnitudes below 1e-10 to zero.
// Subnormal floats cost a hundred cycles each on x86; the guard keeps every state well clear.
#pragma once

#include <cmath>

#include "dsp/DspConfig.h"

namespace skv {

/// Returns v, or 0 when |v| is below the threshold. Branch-free on SSE (compare and mask).
inline float flushDenormal(float v, float threshold = kDenormalThreshold);

/// Returns the offset to add this sample and flips its sign for the next one.
inline float nextDenormalOffset(float& offset);

// ---------------------------------------------------------------------------------------------

inline float flushDenormal(float v, float threshold)
{
    return std::fabs(v) < threshold ? 0.0f : v;
}

inline float nextDenormalOffset(float& offset)
{
    const float current = offset;
    offset = -offset;
    return current;
}

}  // namespace skv
