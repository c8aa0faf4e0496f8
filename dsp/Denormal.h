// Anti-denormal flush shared by the recursive units: magnitudes below 1e-10 become zero. (The
// units also add a tiny offset whose sign alternates every sample, so it never builds up a DC
// term; its sizes are in DspConfig.h.) Subnormal floats cost a hundred cycles each on x86; the
// guard keeps every state well clear.
#pragma once

#include <cmath>
#include <xmmintrin.h>

#include "dsp/DspConfig.h"

namespace skv {

/// Returns v, or 0 when |v| is below the threshold. Branch-free on SSE (compare and mask).
inline float flushDenormal(float v, float threshold = kDenormalThreshold);

/// flushDenormal lane by lane (+0 where |v| is below the threshold), for the units that run
/// channels or bands in SSE lanes.
inline __m128 flushDenormal(__m128 v, float threshold = kDenormalThreshold);

// ---------------------------------------------------------------------------------------------

inline float flushDenormal(float v, float threshold)
{
    return std::fabs(v) < threshold ? 0.0f : v;
}

inline __m128 flushDenormal(__m128 v, float threshold)
{
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), v);
    return _mm_andnot_ps(_mm_cmplt_ps(magnitude, _mm_set1_ps(threshold)), v);
}

}  // namespace skv
