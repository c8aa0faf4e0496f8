// Left/right pairs in the two low lanes of an SSE register, as the two-channel kernels hold
// them: lane 0 left, lane 1 right, the upper lanes zero. SSE2 only (the x86-64 baseline).
#pragma once

#include <emmintrin.h>

namespace skv {

/// (a, b, 0, 0).
inline __m128 pairOf(float a, float b) noexcept
{
    return _mm_setr_ps(a, b, 0.0f, 0.0f);
}

inline float lane0(__m128 v) noexcept
{
    return _mm_cvtss_f32(v);
}

inline float lane1(__m128 v) noexcept
{
    return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1)));
}

/// Lanes 0 and 1 from and to two adjacent floats (one 8-byte movq; __m128i accesses may alias
/// anything).
inline __m128 loadPair(const float* p) noexcept
{
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

inline void storePair(float* p, __m128 v) noexcept
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(v));
}

/// Lane 0 from *l, lane 1 from *r; and back.
inline __m128 gatherPair(const float* l, const float* r) noexcept
{
    return _mm_unpacklo_ps(_mm_load_ss(l), _mm_load_ss(r));
}

inline void scatterPair(float* l, float* r, __m128 v) noexcept
{
    _mm_store_ss(l, v);
    _mm_store_ss(r, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1)));
}

}  // namespace skv
