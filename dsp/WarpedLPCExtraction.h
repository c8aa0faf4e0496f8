// Warped LPC analysis: windows a short frame, takes its warped autocorrelation (allpass chain
// of coefficient λ in place of unit delays, the same warping as the lattice filter) or the
// plain one for λ <= 0, adds a noise floor and solves a regularised Levinson–Durbin recursion
// for the (negated) reflection coefficients of the lattice. Sized for orders up to 80 although
// the nominal coefficient capacity is 60: the recursion needs order + 1 predictor values.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>
#include <xmmintrin.h>

#include "dsp/Denormal.h"
#include "dsp/DspConfig.h"
#include "dsp/UnitProcessorBase.h"

namespace usp {

/// Allocation failure of the analysis buffers at construction.
class CMemoryAllocationError : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "Memory allocation failure"; }
};

/// LPC extraction with frames of up to FrameCapacity samples and at least CoeffCapacity
/// coefficients. extract() runs on the audio thread (at a scan step) and never allocates.
template <typename T, int FrameCapacity, int CoeffCapacity>
class CWarpedLPCExtraction : public CUnitProcessorBase<T> {
public:
    /// Largest order served: the effect's 80 (or the nominal capacity if larger), and below the
    /// frame capacity because r[0..order] lives in a frame-sized buffer.
    static constexpr int kMaxOrder =
        std::min(std::max(CoeffCapacity, skv::kLpcMaxOrder), FrameCapacity - 1);

    /// Throws CMemoryAllocationError (a std::bad_alloc) if a buffer cannot be allocated.
    CWarpedLPCExtraction();
    ~CWarpedLPCExtraction() override;  // slot 0

    T process(T x) override;  // slot 2: the unit does not filter; always 0
    void reset() override;    // slot 3: clears the working buffers

    /// n >= FrameCapacity: unchanged, returns FrameCapacity. Otherwise sets the frame length,
    /// rebuilds the window and returns n. n < 1 leaves everything as it is and returns the
    /// current length (a window needs at least one sample).
    int setFrameLength(int n);

    /// Analyses frameLength samples of data (needs no alignment) and writes `order` values
    /// to out: negated reflection coefficients, |v| >= 1 replaced by ±0.01. Orders above
    /// kMaxOrder get zeros past kMaxOrder. Warp <= 0 selects the plain autocorrelation.
    void extract(const T* data, T* out, int order, T warp);

    /// Output rule for one raw (negated) reflection coefficient: kept when it stays inside
    /// the unit interval after rounding to T, otherwise 0.01 with its sign (NaN gives +0.01),
    /// so that a failed recursion can never hand the lattice an unstable value.
    static T limitCoefficient(double v);

    int frameLength;
    int lpcOrder;
    T analysisWarp;
    T* window;    ///< FrameCapacity values, 16-byte aligned, zero past frameLength
    T* frame;     ///< the windowed frame
    T* levelSum;  ///< 16 values: four copies of the frame's magnitude sum
    T* autocorr;  ///< r[0..order]
    T warpedFrame[FrameCapacity];
    double predictor[kMaxOrder + 1];
    double reflection[kMaxOrder];

private:
    static T* allocateBuffer(int n);
    static void freeBuffer(T* p);
    /// One pass of the allpass y[i] = x[i-1] + λ(y[i-1] - x[i]) over warpedFrame, in place
    /// (|y| below 1e-10 stored as 0). Returns the correlation of frame with warpedFrame as it
    /// was before the pass: both in one sweep, two independent chains the processor overlaps.
    double correlateAndWarp(T lambda, int n);
};

// ---------------------------------------------------------------------------------------------

template <typename T, int F, int C>
T* CWarpedLPCExtraction<T, F, C>::allocateBuffer(int n)
{
    const std::size_t bytes = sizeof(T) * static_cast<std::size_t>(n);
    void* p = ::operator new(bytes, std::align_val_t(16), std::nothrow);
    if (p)
        std::memset(p, 0, bytes);
    return static_cast<T*>(p);
}

template <typename T, int F, int C>
void CWarpedLPCExtraction<T, F, C>::freeBuffer(T* p)
{
    if (p)
        ::operator delete(static_cast<void*>(p), std::align_val_t(16));
}

template <typename T, int F, int C>
CWarpedLPCExtraction<T, F, C>::CWarpedLPCExtraction()
    : frameLength(skv::kLpcDefaultFrame), lpcOrder(30), analysisWarp(T(0)), window(nullptr),
      frame(nullptr), levelSum(nullptr), autocorr(nullptr), warpedFrame{}, predictor{}, reflection{}
{
    window = allocateBuffer(F);
    frame = allocateBuffer(F);
    levelSum = allocateBuffer(16);
    autocorr = allocateBuffer(F);
    if (!window || !frame || !levelSum || !autocorr) {
        // The destructor does not run for a failed construction: release what we got.
        freeBuffer(window);
        freeBuffer(frame);
        freeBuffer(levelSum);
        freeBuffer(autocorr);
        throw CMemoryAllocationError();
    }
    frameLength = 0;  // so that the call below builds the window
    setFrameLength(skv::kLpcDefaultFrame);
}

template <typename T, int F, int C>
CWarpedLPCExtraction<T, F, C>::~CWarpedLPCExtraction()
{
    freeBuffer(window);
    freeBuffer(frame);
    freeBuffer(levelSum);
    freeBuffer(autocorr);
}

template <typename T, int F, int C>
T CWarpedLPCExtraction<T, F, C>::process(T)
{
    return T(0);
}

template <typename T, int F, int C>
void CWarpedLPCExtraction<T, F, C>::reset()
{
    autocorr[0] = T(0);
    std::memset(warpedFrame, 0, sizeof(warpedFrame));
    std::memset(predictor, 0, sizeof(predictor));
    std::memset(reflection, 0, sizeof(reflection));
}

template <typename T, int F, int C>
int CWarpedLPCExtraction<T, F, C>::setFrameLength(int n)
{
    if (n >= F)
        return F;
    if (n < 1)
        return frameLength;
    frameLength = n;
    const T step = T(2) * this->pi / static_cast<T>(n);
    T angle = T(0);
    for (int i = 0; i < n; ++i) {
        window[i] = T(0.5) - T(0.49) * std::cos(angle);
        angle += step;
    }
    for (int i = n; i < F; ++i)
        window[i] = T(0);
    return n;
}

template <typename T, int F, int C>
double CWarpedLPCExtraction<T, F, C>::correlateAndWarp(T lambda, int n)
{
    double s = 0.0;
    T xPrev = T(0);  // x[i-1], the input of the previous sample before it was overwritten
    T yPrev = T(0);
    for (int i = 0; i < n; ++i) {
        const T x = warpedFrame[i];
        s += static_cast<double>(frame[i]) * x;
        const T y = skv::flushDenormal(xPrev + lambda * (yPrev - x));
        warpedFrame[i] = y;
        xPrev = x;
        yPrev = y;
    }
    return s;
}

template <typename T, int F, int C>
void CWarpedLPCExtraction<T, F, C>::extract(const T* data, T* out, int order, T warp)
{
    if (!out || order <= 0)
        return;
    // The engine hands over 512 samples and asks for that length; it exceeds the capacity,
    // so the request leaves the frame (and its window) as it is.
    if (frameLength != skv::kSelfAnalysisLength)
        setFrameLength(skv::kSelfAnalysisLength);
    analysisWarp = warp;
    lpcOrder = order;
    const int p = order < kMaxOrder ? order : kMaxOrder;
    for (int i = p; i < order; ++i)
        out[i] = T(0);
    const int n = frameLength;

    // Window and level gate: four lanes at a time, the tail (if any) one by one so that no
    // sample past the frame is read.
    float level = 0.0f;
    if (data) {
        __m128 sum4 = _mm_setzero_ps();
        const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
        int i = 0;
        for (; i + 4 <= n; i += 4) {
            const __m128 x = _mm_loadu_ps(data + i);
            _mm_store_ps(frame + i, _mm_mul_ps(x, _mm_load_ps(window + i)));
            sum4 = _mm_add_ps(sum4, _mm_and_ps(x, absMask));
        }
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, sum4);
        for (; i < n; ++i) {
            frame[i] = data[i] * window[i];
            lanes[i & 3] += std::fabs(data[i]);
        }
        level = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    }
    for (int l = 0; l < 16; ++l)
        levelSum[l] = level;
    // Silence (NaN input counts as silence too).
    if (!(level > 0.0f)) {
        reset();
        for (int i = 0; i < p; ++i)
            out[i] = T(0);
        return;
    }

    // Autocorrelation r[0..p], normalised by the frame's energy (rounded to T when warped).
    double energy = 0.0;
    for (int i = 0; i < n; ++i)
        energy += static_cast<double>(frame[i]) * frame[i];
    const bool warped = warp > T(0);
    const T warpedEnergy = static_cast<T>(energy);
    bool degenerate = !(energy > 0.0);
    if (warped) {
        // warpedFrame starts as the frame after one allpass pass.
        std::memcpy(warpedFrame, frame, sizeof(T) * static_cast<std::size_t>(n));
        correlateAndWarp(warp, n);
        degenerate = !(std::fabs(warpedEnergy) > T(skv::kDenormalThreshold));
    }
    if (degenerate) {
        for (int j = 0; j <= p; ++j)
            autocorr[j] = T(0);
    }
    else if (warped) {
        autocorr[0] = T(1);
        for (int j = 1; j <= p; ++j)
            autocorr[j] = static_cast<T>(correlateAndWarp(warp, n) / warpedEnergy);
    }
    else {
        autocorr[0] = T(1);
        for (int j = 1; j <= p; ++j) {
            double s = 0.0;
            for (int i = 0; i + j < n; ++i)
                s += static_cast<double>(frame[i]) * frame[i + j];
            autocorr[j] = static_cast<T>(s / energy);
        }
    }

    // Noise floor, then the regularised recursion (the floor keeps r[0] positive).
    autocorr[0] = autocorr[0] + T(0.0007) * static_cast<T>(p);
    const double r0 = autocorr[0];
    double* a = predictor;
    a[0] = 1.0;
    for (int j = 1; j <= p; ++j)
        a[j] = 0.0;
    double err = r0;
    double previous[kMaxOrder + 1];
    for (int i = 0; i < p; ++i) {
        double acc = 0.0;
        for (int j = 1; j <= i; ++j)
            acc += a[j] * autocorr[i + 1 - j];
        const double k = (autocorr[i + 1] - acc) / (err + 0.003 * r0);
        reflection[i] = -k;
        for (int j = 1; j <= i; ++j)
            previous[j] = a[j];
        a[i + 1] = k;
        for (int j = 1; j <= i; ++j)
            a[j] = previous[j] - k * previous[i + 1 - j];
        err = err * (1.0 - k * k);
    }

    for (int i = 0; i < p; ++i)
        out[i] = limitCoefficient(reflection[i]);
}

template <typename T, int F, int C>
T CWarpedLPCExtraction<T, F, C>::limitCoefficient(double v)
{
    // Tested after rounding, so a value that rounds to ±1 is caught too.
    const T rounded = static_cast<T>(v);
    return std::fabs(rounded) < T(1) ? rounded : (v < 0.0 ? T(-0.01) : T(0.01));
}

}  // namespace usp
