// Compressor, soft clipper and the 2x path of os2Distort, for one channel and for a pair of
// channels in the lanes of SSE registers.
#include "dsp/Saturation.h"

#include <emmintrin.h>

#include <cstring>
#include <functional>

#include "dsp/LanePairs.h"

os2Distort::os2Distort() : lowpass(std::make_unique<Filter<kFilterCoefficients>>())
{
    std::memcpy(lowpassB, kLowpassB, sizeof lowpassB);
    std::memcpy(lowpassA, kLowpassA, sizeof lowpassA);
    lowpass->clear();
    lowpass->setCoefficients(lowpassB, lowpassA);
}

void os2Distort::configure(bool oversampleOn, float driveK, float thresholdPower, float attack,
                           float release, float ratioFactor) noexcept
{
    oversample = oversampleOn;
    drive = driveK;
    threshold = thresholdPower;
    attackCoeff = attack;
    releaseCoeff = release;
    ratio = ratioFactor;
    thresholdLog = skv::fastLog10(threshold);
}

void os2Distort::reset() noexcept
{
    lowpass->clear();
}

struct os2Distort::Compressor {
    float envelope, gain, offset;
    float threshold, thresholdLog, attack, release, ratio;

    inline void step(float x) noexcept
    {
        const float p = x * x + offset;
        const float c = p > envelope ? attack : release;
        envelope = p + c * (envelope - p) + kEnvelopeBias;
        float target = 1.0f;
        if (threshold < 1.0f) {
            const float level = skv::fastLog10Sqrt(envelope);
            if (level > thresholdLog)
                target = skv::fastExp(-((level - thresholdLog) * ratio) * skv::kLn10);
        }
        // Flushed so that a target of 0 (exp underflow) cannot leave a subnormal gain.
        gain = skv::flushDenormal(target + kGainGlide * (gain - target));
    }
};

os2Distort::Compressor os2Distort::compressor() const noexcept
{
    return {envelope, gain, offset, threshold, thresholdLog, attackCoeff, releaseCoeff, ratio};
}

template <bool Oversample>
void os2Distort::run(float* io, int n) noexcept
{
    Compressor comp = compressor();
    const float k = drive;
    if (!Oversample) {
        for (int i = 0; i < n; ++i) {
            const float x = limitInput(io[i]);
            comp.step(x);
            const float y = x * comp.gain + comp.offset;
            comp.offset = -comp.offset;
            io[i] = clip(y, k);
        }
    }
    else {
        // Two passes over each chunk: first the compressor gains (the envelope and
        // gain recursions with the log/exp law between them), then interpolation, clipping
        // and the down-sampler, whose recursion is the other long chain. The operations and
        // their order per sample are those of the sample-by-sample description.
        float h0 = history[0], h1 = history[1], h2 = history[2], h3 = history[3];
        auto run = lowpass->beginRun();
        float y = lowpass->lastOutput;
        float gains[kChunk];
        for (int start = 0; start < n; start += kChunk) {
            const int len = n - start < kChunk ? n - start : kChunk;
            float* chunk = io + start;
            float off = comp.offset;
            for (int i = 0; i < len; ++i) {
                comp.step(limitInput(chunk[i]));
                gains[i] = comp.gain;
                comp.offset = -comp.offset;
            }
            for (int i = 0; i < len; ++i) {
                h0 = h1;
                h1 = h2;
                h2 = h3;
                h3 = limitInput(chunk[i]);
                // Catmull-Rom between h1 and h2 at t = 0.5.
                const float t = 0.5f;
                const float m1 = 0.5f * (h2 - h0);
                const float m2 = 0.5f * (h3 - h1);
                const float c3 = 2.0f * (h1 - h2) + m1 + m2;
                const float c2 = 3.0f * (h1 - h2) + 2.0f * m1 + m2;
                const float mid = ((c3 * t - c2) * t + m1) * t + h1;
                const float g = gains[i];
                lowpass->step(run, clip((mid + off) * g, k));
                y = lowpass->step(run, clip((h1 - off) * g, k));
                off = -off;
                chunk[i] = y;
            }
        }
        lowpass->endRun(run);
        lowpass->lastOutput = y;
        history[0] = h0;
        history[1] = h1;
        history[2] = h2;
        history[3] = h3;
    }
    envelope = comp.envelope;
    gain = comp.gain;
    offset = comp.offset;
}

void os2Distort::process(float* inOut, int n) noexcept
{
    if (oversample)
        run<true>(inOut, n);
    else
        run<false>(inOut, n);
    recoverIfNonFinite();
}

float os2Distort::processSample(float x) noexcept
{
    process(&x, 1);
    return x;
}

void os2Distort::recoverIfNonFinite() noexcept
{
    // Inputs are held finite, so only non-finite settings get here; start clean instead of
    // carrying NaN in the envelope, gain or filter ring for good.
    if (std::isfinite(envelope) && std::isfinite(gain) && std::isfinite(lowpass->lastOutput))
        return;
    envelope = 0.0f;
    gain = 1.0f;
    for (float& h : history)
        h = 0.0f;
    lowpass->clear();
}

// ---------------------------------------------------------------------------------------------
// Two units at once. A channel's recursions (envelope, gain, down-sampler) are chains of
// dependent operations that leave most of the core idle; running the left channel in lane 0
// and the right in lane 1 of the same instructions does the pair for little more than the
// cost of one. Each lane does the single-channel operations in the single-channel order (no
// fused or reordered arithmetic; the filter input meets its offset in a __m128d), so the two
// forms agree to the bit. The work goes in three passes over chunks of a block: the envelope
// recursion, with the interpolation points of the 2x path alongside (they depend on the input
// only); the gain law, which depends on nothing but the envelope and so runs two samples of
// both channels per register; then the gain recursion with the clipper and, for the 2x path,
// the down-sampler. Keeping the long log/exp computation out of the loops that carry a
// recursion lets those loops run at the speed of their recursion. Unused lanes carry zeros or
// copies, which stay finite and never subnormal.

#define SKV_LANES_INLINE [[gnu::always_inline]] inline

namespace {

using skv::gatherPair;
using skv::lane0;
using skv::lane1;
using skv::loadPair;
using skv::pairOf;
using skv::scatterPair;
using skv::storePair;

inline __m128 twicePairOf(float a, float b) noexcept
{
    return _mm_setr_ps(a, b, a, b);
}
SKV_LANES_INLINE __m128 pick(__m128 mask, __m128 a, __m128 b) noexcept
{
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}
SKV_LANES_INLINE __m128 negate(__m128 v) noexcept
{
    return _mm_xor_ps(v, _mm_set1_ps(-0.0f));
}

// std::min(hi, std::max(lo, x)) lane by lane: maxps/minps return their second operand when
// the comparison fails, as std::max/std::min return their first, so NaN ends at lo either way.
SKV_LANES_INLINE __m128 clamp(__m128 x, float lo, float hi) noexcept
{
    return _mm_min_ps(_mm_max_ps(x, _mm_set1_ps(lo)), _mm_set1_ps(hi));
}

// os2Distort::limitInput and os2Distort::clip.
SKV_LANES_INLINE __m128 limitInput(__m128 x) noexcept
{
    return clamp(x, -os2Distort::kInputLimit, os2Distort::kInputLimit);
}
SKV_LANES_INLINE __m128 clip(__m128 y, __m128 k) noexcept
{
    const __m128 c = clamp(y, -1.0f, 1.0f);
    const __m128 cubic = _mm_sub_ps(_mm_set1_ps(1.0f), _mm_mul_ps(c, c));
    return _mm_add_ps(c, _mm_mul_ps(_mm_mul_ps(k, c), cubic));
}

// skv::fastLog2, bit for bit.
SKV_LANES_INLINE __m128 fastLog2(__m128 v) noexcept
{
    const __m128i bits = _mm_castps_si128(v);
    const __m128i e = _mm_sub_epi32(_mm_and_si128(_mm_srli_epi32(bits, 23), _mm_set1_epi32(0xFF)),
                                    _mm_set1_epi32(128));
    const __m128 m = _mm_castsi128_ps(
        _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(static_cast<int>(0x807FFFFFu))),
                     _mm_set1_epi32(0x3F800000)));
    const __m128 poly =
        _mm_mul_ps(m, _mm_sub_ps(_mm_set1_ps(2.0f), _mm_mul_ps(m, _mm_set1_ps(1.0f / 3.0f))));
    return _mm_add_ps(_mm_sub_ps(poly, _mm_set1_ps(2.0f / 3.0f)), _mm_cvtepi32_ps(e));
}

// skv::fastExp for all four lanes. The table covers n = round(-131072 t) up to 2^23 with
// either bound; anything else (rare: t below about -64, or non-finite settings) goes through
// the scalar function itself.
[[gnu::noinline, gnu::cold]] __m128 fastExpOneByOne(__m128 t) noexcept
{
    alignas(16) float v[4];
    _mm_store_ps(v, t);
    for (float& x : v)
        x = skv::fastExp(x);
    return _mm_load_ps(v);
}

SKV_LANES_INLINE __m128 fastExp(__m128 t) noexcept
{
    constexpr float kTableEnd = static_cast<float>((skv::kExpHiSize - 1) << skv::kExpLoBits);
    const __m128 v = _mm_mul_ps(_mm_set1_ps(-skv::kExpScale), t);
    const __m128 inTable =
        _mm_and_ps(_mm_cmpge_ps(v, _mm_setzero_ps()), _mm_cmplt_ps(v, _mm_set1_ps(kTableEnd)));
    if (_mm_movemask_ps(inTable) != 15)
        return fastExpOneByOne(t);
    alignas(16) int n[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(n), _mm_cvtps_epi32(v));  // as roundToInt
    const skv::ExpTables& tab = skv::kExpTables;
    constexpr int kLoMask = skv::kExpLoSize - 1;
    const __m128 hi = _mm_setr_ps(tab.hi[n[0] >> skv::kExpLoBits], tab.hi[n[1] >> skv::kExpLoBits],
                                  tab.hi[n[2] >> skv::kExpLoBits], tab.hi[n[3] >> skv::kExpLoBits]);
    const __m128 lo = _mm_setr_ps(tab.lo[n[0] & kLoMask], tab.lo[n[1] & kLoMask],
                                  tab.lo[n[2] & kLoMask], tab.lo[n[3] & kLoMask]);
    return _mm_mul_ps(hi, lo);
}

// Filter<5> for two filters, two steps per input sample as the 2x path runs it; each lane
// stores into its own ring. The offset flips at every step, so within a sample the first step
// adds it and the second its negation, and it is back where it was for the next sample.
struct LowpassPair {
    using Run = Filter<os2Distort::kFilterCoefficients>::Run;
    static_assert(std::tuple_size<decltype(Run::w)>::value == 4, "fourth-order down-sampler");

    __m128 w1, w2, w3, w4;
    __m128 negA1, negA2, negA3, negA4;
    __m128 b0, b1, b2, b3, b4;
    __m128d denormal, negatedDenormal;
    float* ringL;
    float* ringR;
    int writeL, writeR, maskL, maskR;

    LowpassPair(const Run& l, const Run& r, float* bufL, float* bufR, int mL, int mR) noexcept
        : w1(pairOf(l.w[0], r.w[0])), w2(pairOf(l.w[1], r.w[1])), w3(pairOf(l.w[2], r.w[2])),
          w4(pairOf(l.w[3], r.w[3])), negA1(pairOf(l.negA[0], r.negA[0])),
          negA2(pairOf(l.negA[1], r.negA[1])), negA3(pairOf(l.negA[2], r.negA[2])),
          negA4(pairOf(l.negA[3], r.negA[3])), b0(pairOf(l.b[0], r.b[0])),
          b1(pairOf(l.b[1], r.b[1])), b2(pairOf(l.b[2], r.b[2])), b3(pairOf(l.b[3], r.b[3])),
          b4(pairOf(l.b[4], r.b[4])), denormal(_mm_setr_pd(l.denormal, r.denormal)),
          negatedDenormal(_mm_setr_pd(-l.denormal, -r.denormal)), ringL(bufL), ringR(bufR),
          writeL(l.writeIndex), writeR(r.writeIndex), maskL(mL), maskR(mR)
    {
    }

    // Filter<5>::step after the input has met the offset (w0 = in + -a4 w4 + ... + -a1 w1).
    SKV_LANES_INLINE __m128 recurse(__m128 in) noexcept
    {
        __m128 acc = _mm_add_ps(in, _mm_mul_ps(negA4, w4));
        acc = _mm_add_ps(acc, _mm_mul_ps(negA3, w3));
        acc = _mm_add_ps(acc, _mm_mul_ps(negA2, w2));
        const __m128 w0 = _mm_add_ps(acc, _mm_mul_ps(negA1, w1));
        ringL[writeL] = lane0(w0);
        ringR[writeR] = lane1(w0);
        writeL = (writeL + 1) & maskL;
        writeR = (writeR + 1) & maskR;
        w4 = w3;
        w3 = w2;
        w2 = w1;
        w1 = w0;
        return w0;
    }

    // Lanes 0-1 of x feed the first step, lanes 2-3 the second; returns the second's output.
    SKV_LANES_INLINE __m128 twoSteps(__m128 x) noexcept
    {
        // The input and the offset meet in double and are rounded to float, as in Filter<5>.
        const __m128 first = _mm_cvtpd_ps(_mm_add_pd(_mm_cvtps_pd(x), denormal));
        const __m128 second =
            _mm_cvtpd_ps(_mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), negatedDenormal));
        recurse(first);
        const __m128 oldest = w4;  // w4 of the second step, shifted out by it
        const __m128 w0 = recurse(second);
        __m128 y = _mm_mul_ps(b0, w0);
        y = _mm_add_ps(y, _mm_mul_ps(b1, w2));
        y = _mm_add_ps(y, _mm_mul_ps(b2, w3));
        y = _mm_add_ps(y, _mm_mul_ps(b3, w4));
        return _mm_add_ps(y, _mm_mul_ps(b4, oldest));
    }

    SKV_LANES_INLINE void store(Run& l, Run& r) const noexcept
    {
        double d[2];
        _mm_storeu_pd(d, denormal);
        l.denormal = d[0];
        r.denormal = d[1];
        l.writeIndex = writeL;
        r.writeIndex = writeR;
    }
};

// Catmull-Rom between h1 and h2 at t = 0.5, in the single-channel order.
SKV_LANES_INLINE __m128 midpoint(__m128 h0, __m128 h1, __m128 h2, __m128 h3) noexcept
{
    const __m128 t = _mm_set1_ps(0.5f);
    const __m128 m1 = _mm_mul_ps(t, _mm_sub_ps(h2, h0));
    const __m128 m2 = _mm_mul_ps(t, _mm_sub_ps(h3, h1));
    const __m128 d = _mm_sub_ps(h1, h2);
    const __m128 c3 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(2.0f), d), m1), m2);
    const __m128 c2 = _mm_add_ps(
        _mm_add_ps(_mm_mul_ps(_mm_set1_ps(3.0f), d), _mm_mul_ps(_mm_set1_ps(2.0f), m1)), m2);
    const __m128 cubic = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(c3, t), c2), t), m1);
    return _mm_add_ps(_mm_mul_ps(cubic, t), h1);
}

// The compressor of both units (os2Distort::Compressor) and the 2x path's interpolation, pass
// by pass over a chunk of at most os2Distort::kChunk samples. The chunk buffers hold, per sample,
// the envelopes and the gain targets of both channels (L, R) and, for the 2x path, the midpoint and
// the input two samples back (mid L, mid R, h1 L, h1 R).
struct OutputStagePair {
    static constexpr int kChunk = os2Distort::kChunk;

    __m128 envelope, gain, offset;       ///< lanes L, R
    __m128 attack, release;              ///< lanes L, R
    __m128 active, thresholdLog, ratio;  ///< lanes L, R, L, R; active: threshold < 1
    __m128 h0, h1, h2, h3;               ///< 2x path: the last four inputs, oldest first
    alignas(16) float envelopes[2 * kChunk + 2];
    alignas(16) float targets[2 * kChunk + 2];
    alignas(16) float points[4 * kChunk];

    OutputStagePair(const os2Distort::Compressor& l, const os2Distort::Compressor& r) noexcept
        : envelope(pairOf(l.envelope, r.envelope)), gain(pairOf(l.gain, r.gain)),
          offset(pairOf(l.offset, r.offset)), attack(pairOf(l.attack, r.attack)),
          release(pairOf(l.release, r.release)),
          active(_mm_cmplt_ps(twicePairOf(l.threshold, r.threshold), _mm_set1_ps(1.0f))),
          thresholdLog(twicePairOf(l.thresholdLog, r.thresholdLog)),
          ratio(twicePairOf(l.ratio, r.ratio)), h0(_mm_setzero_ps()), h1(_mm_setzero_ps()),
          h2(_mm_setzero_ps()), h3(_mm_setzero_ps())
    {
    }

    // One envelope step (the candidates for both weights are formed and one is kept, which
    // shortens the recursion and gives the same values as choosing the weight first).
    SKV_LANES_INLINE static __m128 follow(__m128 env, __m128 x, __m128 off, __m128 attack,
                                          __m128 release) noexcept
    {
        const __m128 p = _mm_add_ps(_mm_mul_ps(x, x), off);
        const __m128 d = _mm_sub_ps(env, p);
        const __m128 rising = _mm_add_ps(p, _mm_mul_ps(attack, d));
        const __m128 falling = _mm_add_ps(p, _mm_mul_ps(release, d));
        return _mm_add_ps(pick(_mm_cmpgt_ps(p, env), rising, falling),
                          _mm_set1_ps(os2Distort::kEnvelopeBias));
    }

    // Pass 1: the envelopes of len samples and, with Oversample, the interpolation points.
    // The offset itself advances in pass 3.
    template <bool Oversample>
    SKV_LANES_INLINE void runEnvelopes(const float* l, const float* r, int len) noexcept
    {
        __m128 env = envelope, off = offset;
        __m128 a = h0, b = h1, c = h2, d = h3;
        for (int i = 0; i < len; ++i) {
            const __m128 x = limitInput(gatherPair(l + i, r + i));
            env = follow(env, x, off, attack, release);
            off = negate(off);
            storePair(envelopes + 2 * i, env);
            if (Oversample) {
                a = b;
                b = c;
                c = d;
                d = x;
                _mm_store_ps(points + 4 * i, _mm_movelh_ps(midpoint(a, b, c, d), b));
            }
        }
        envelope = env;
        h0 = a;
        h1 = b;
        h2 = c;
        h3 = d;
        // An odd count leaves half a register for pass 2: give it a real envelope.
        if (len & 1)
            storePair(envelopes + 2 * len, env);
    }

    // Pass 2: the gain targets, two samples of both channels per register.
    SKV_LANES_INLINE void runTargets(int len) noexcept
    {
        for (int i = 0; i < 2 * len; i += 4) {
            const __m128 env = _mm_load_ps(envelopes + i);
            const __m128 level = _mm_mul_ps(fastLog2(env), _mm_set1_ps(skv::kHalfLog10Of2));
            const __m128 reduce = _mm_and_ps(active, _mm_cmpgt_ps(level, thresholdLog));
            // Lanes that do not reduce look up e^0 and keep 1.
            const __m128 t = _mm_mul_ps(negate(_mm_mul_ps(_mm_sub_ps(level, thresholdLog), ratio)),
                                        _mm_set1_ps(skv::kLn10));
            _mm_store_ps(targets + i,
                         pick(reduce, fastExp(_mm_and_ps(reduce, t)), _mm_set1_ps(1.0f)));
        }
    }

    // The gain glides towards the target and is flushed, as in os2Distort::Compressor.
    SKV_LANES_INLINE static __m128 glide(__m128 gain, __m128 target) noexcept
    {
        return skv::flushDenormal(_mm_add_ps(
            target, _mm_mul_ps(_mm_set1_ps(os2Distort::kGainGlide), _mm_sub_ps(gain, target))));
    }

    // Pass 3 without oversampling: gain, offset and clipper.
    SKV_LANES_INLINE void runPlain(float* l, float* r, int len, __m128 k) noexcept
    {
        __m128 g = gain, off = offset;
        for (int i = 0; i < len; ++i) {
            const __m128 x = limitInput(gatherPair(l + i, r + i));
            g = glide(g, loadPair(targets + 2 * i));
            scatterPair(l + i, r + i, clip(_mm_add_ps(_mm_mul_ps(x, g), off), k));
            off = negate(off);
        }
        gain = g;
        offset = off;
    }

    // Pass 3 of the 2x path: gain, the two clipped points (the midpoint with the offset
    // added, h1 with it subtracted, in one register), the down-sampler; returns the last
    // output (or `last` for an empty chunk).
    SKV_LANES_INLINE __m128 runOversampled(float* l, float* r, int len, __m128 k, LowpassPair& low,
                                           __m128 last) noexcept
    {
        const __m128 k2 = _mm_movelh_ps(k, k);
        __m128 g = gain;
        // h1 - offset is h1 + (-offset) exactly.
        __m128 off = _mm_movelh_ps(offset, negate(offset));
        LowpassPair f = low;
        __m128 y = last;
        for (int i = 0; i < len; ++i) {
            g = glide(g, loadPair(targets + 2 * i));
            const __m128 both = _mm_add_ps(_mm_load_ps(points + 4 * i), off);
            off = negate(off);
            y = f.twoSteps(clip(_mm_mul_ps(both, _mm_movelh_ps(g, g)), k2));
            scatterPair(l + i, r + i, y);
        }
        low = f;
        gain = g;
        offset = off;  // lanes 0-1 hold the next sample's offset
        return y;
    }
};

bool overlap(const float* a, const float* b, int n) noexcept
{
    const std::less<> before;
    return before(a, b + n) && before(b, a + n);
}

}  // namespace

void processStereo(os2Distort& left, os2Distort& right, float* l, float* r, int n) noexcept
{
    if (&left == &right || left.oversample != right.oversample || (n > 0 && overlap(l, r, n))) {
        left.process(l, n);
        right.process(r, n);
        return;
    }

    OutputStagePair stage(left.compressor(), right.compressor());
    const __m128 k = pairOf(left.drive, right.drive);
    constexpr int kChunk = os2Distort::kChunk;

    if (!left.oversample) {
        for (int start = 0; start < n; start += kChunk) {
            const int len = n - start < kChunk ? n - start : kChunk;
            stage.runEnvelopes<false>(l + start, r + start, len);
            stage.runTargets(len);
            stage.runPlain(l + start, r + start, len, k);
        }
    }
    else {
        Filter<os2Distort::kFilterCoefficients>& lowL = *left.lowpass;
        Filter<os2Distort::kFilterCoefficients>& lowR = *right.lowpass;
        auto runL = lowL.beginRun();
        auto runR = lowR.beginRun();
        LowpassPair low(runL, runR, lowL.buffer, lowR.buffer, lowL.mask, lowR.mask);
        stage.h0 = pairOf(left.history[0], right.history[0]);
        stage.h1 = pairOf(left.history[1], right.history[1]);
        stage.h2 = pairOf(left.history[2], right.history[2]);
        stage.h3 = pairOf(left.history[3], right.history[3]);
        __m128 y = pairOf(lowL.lastOutput, lowR.lastOutput);
        for (int start = 0; start < n; start += kChunk) {
            const int len = n - start < kChunk ? n - start : kChunk;
            stage.runEnvelopes<true>(l + start, r + start, len);
            stage.runTargets(len);
            y = stage.runOversampled(l + start, r + start, len, k, low, y);
        }
        low.store(runL, runR);
        lowL.endRun(runL);
        lowR.endRun(runR);
        lowL.lastOutput = lane0(y);
        lowR.lastOutput = lane1(y);
        const __m128 hist[4] = {stage.h0, stage.h1, stage.h2, stage.h3};
        for (int j = 0; j < 4; ++j) {
            left.history[j] = lane0(hist[j]);
            right.history[j] = lane1(hist[j]);
        }
    }

    left.envelope = lane0(stage.envelope);
    right.envelope = lane1(stage.envelope);
    left.gain = lane0(stage.gain);
    right.gain = lane1(stage.gain);
    left.offset = lane0(stage.offset);
    right.offset = lane1(stage.offset);
    left.recoverIfNonFinite();
    right.recoverIfNonFinite();
}

#undef SKV_LANES_INLINE
