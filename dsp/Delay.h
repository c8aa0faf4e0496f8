// Fractional delay line: a power-of-two ring read through four-point third-order Lagrange
// interpolation, a delay time that glides to its target at most 0.75 sample per sample, and a
// backward playback mode in segments one delay long joined by a 100-sample cross-fade.
// The taps and weights are recomputed only when the delay in force actually changes.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>

#include "dsp/Denormal.h"
#include "dsp/DspConfig.h"
#include "dsp/DspMath.h"

/// One delay line. Every operation except construction and destruction is meant for the audio
/// thread's per-sample loop (processSample) or for the gaps between samples (setDelay,
/// setReverse, clear); nothing here locks or allocates after construction.
template <typename T>
class Delay {
public:
    /// Delay in samples a new line starts at.
    static constexpr int kStartDelay = 1000;

    /// Ring of the smallest power of two not below `requestedLength` samples, zero-filled.
    /// Throws std::bad_alloc if the ring cannot be allocated.
    explicit Delay(int requestedLength);
    ~Delay();

    Delay(const Delay&) = delete;
    Delay& operator=(const Delay&) = delete;

    /// Silences the ring and the last output; indices, delays and reverse state stay as they are.
    void clear();

    /// clear(), the write position back to 0 and the taps placed afresh at the next sample.
    /// The delay in force, its glide and the reverse state carry on: a line that has settled
    /// plays at exactly its length again, and a line still gliding (a new one starts at
    /// kStartDelay) keeps gliding instead of jumping.
    void restart();

    /// Backward playback on for value >= 0.5; takes effect at the next sample.
    void setReverse(float value);

    /// New target delay in samples. Held in [0, length - 2]; NaN counts as 0. While reverse is
    /// set, also restarts the segment at the newest sample.
    void setDelay(float d);

    /// setDelay(d), and that delay in force at once, without a glide.
    void jumpTo(float d);

    /// One sample step: glide, taps when needed, write x, read the delayed value.
    T processSample(T x);

    /// The ring's k-th oldest sample (k = 0: the one the next sample overwrites), for
    /// 0 <= k < getLength(): what a reader of the whole history (the self-analysis) takes.
    T oldest(int k) const { return buffer[(writeIndex + k) & mask]; }

    int getLength() const { return length; }  ///< ring length, a power of two
    T getLastOutput() const { return lastOutput; }
    float getTargetDelay() const { return targetDelay; }
    float getCurrentDelay() const { return currentDelay; }  ///< the delay in force
    float getGlideRate() const { return glideRate; }        ///< signed change per sample
    bool isReverse() const { return reverse; }
    /// Backward playback: samples left in the current segment, and the segment length.
    int getReverseCounter() const { return reverseCounter; }
    int getReversePeriod() const { return reversePeriod; }
    /// How many samples before the newest one the read position lies (forward: the oldest
    /// interpolation tap; backward: the playing head).
    int getReadAge() const { return (writeIndex - 1 - readIndex) & mask; }

private:
    /// 64-byte-aligned ring storage.
    static T* allocateRing(int count);
    static void freeRing(T* ring);

    void glide();
    void recomputeTaps();

    int writeIndex;  // ring position written next
    int readIndex;   // forward: oldest interpolation tap; reverse: the playing head
    int fadeIndex;   // reverse: the head of the next segment while cross-fading
    int length;      // ring length, a power of two
    int intDelay;    // tap distance of readIndex behind writeIndex: ceil(currentDelay) + 1
    float targetDelay;
    float currentDelay;
    float appliedDelay;  // currentDelay for which taps and weights were last computed
    float glideRate;     // signed change of currentDelay per sample
    float fraction;      // ceil(currentDelay) - currentDelay, in [0, 1)
    float lagrangeNodes[4];
    float coeffs[4];
    T* buffer;
    T lastOutput;
    bool reverse;
    int reverseCounter;  // samples left in the current backward segment
    int reversePeriod;   // backward segment length in samples
    int mask;
};

// ---------------------------------------------------------------------------------------------

template <typename T>
Delay<T>::Delay(int requestedLength)
    : writeIndex(0), readIndex(0), fadeIndex(0), length(skv::nextPowerOfTwo(requestedLength)),
      intDelay(0),
      // The owner sets the target before the first sample; until then the line stays where it
      // starts instead of gliding towards an unset value.
      targetDelay(static_cast<float>(kStartDelay)), currentDelay(targetDelay), appliedDelay(-1.0f),
      glideRate(0.0f), fraction(0.0f), lagrangeNodes{}, coeffs{}, buffer(nullptr), lastOutput(T(0)),
      reverse(false),
      // A line switched to reverse before any setDelay plays segments as long as the delay it
      // starts with, so its first jump comes after one such segment.
      reverseCounter(kStartDelay), reversePeriod(kStartDelay), mask(length - 1)
{
    writeIndex = mask;
    buffer = allocateRing(length);
}

template <typename T>
Delay<T>::~Delay()
{
    freeRing(buffer);
}

template <typename T>
T* Delay<T>::allocateRing(int count)
{
    const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 1u;
    void* p = ::operator new(n * sizeof(T), std::align_val_t(64));
    std::memset(p, 0, n * sizeof(T));
    return static_cast<T*>(p);
}

template <typename T>
void Delay<T>::freeRing(T* ring)
{
    if (ring)
        ::operator delete(static_cast<void*>(ring), std::align_val_t(64));
}

template <typename T>
void Delay<T>::clear()
{
    std::memset(buffer, 0, static_cast<std::size_t>(length) * sizeof(T));
    lastOutput = T(0);
}

template <typename T>
void Delay<T>::restart()
{
    clear();
    writeIndex = 0;
    // The read head was placed relative to the old write position: without this it would keep
    // its old distance from nowhere and shift the delay by the jump of writeIndex.
    appliedDelay = -1.0f;
}

template <typename T>
void Delay<T>::setReverse(float value)
{
    reverse = value >= 0.5f;
}

template <typename T>
void Delay<T>::setDelay(float d)
{
    // An unchecked target would put the taps anywhere (NaN even poisons the glide for good);
    // the owner's range is [0, length - 2], so hold every request there.
    const float maxDelay = static_cast<float>(length - 2 > 0 ? length - 2 : 0);
    if (!(d >= 0.0f))
        d = 0.0f;
    else if (d > maxDelay)
        d = maxDelay;
    targetDelay = d;
    if (reverse) {
        readIndex = writeIndex;
        fadeIndex = writeIndex;
        reverseCounter = skv::roundToInt(d);
        reversePeriod = skv::ceilToInt(d);
    }
}

template <typename T>
void Delay<T>::jumpTo(float d)
{
    setDelay(d);
    currentDelay = targetDelay;
    glideRate = 0.0f;
}

template <typename T>
inline void Delay<T>::glide()
{
    const float diff = targetDelay - currentDelay;
    if (diff == 0.0f && glideRate == 0.0f)
        return;
    float step;
    // Large changes move by at most the ratio of the two delays per sample, so a short delay
    // opening up to a long one starts slowly in proportion.
    if (diff > 0.0f) {
        const float ratio = (targetDelay + 1.0f) / (currentDelay + 1e-12f);
        const float limit = ratio < 0.0f ? -ratio : ratio;
        step = diff < limit ? diff : limit;
    }
    else {
        const float ratio = (currentDelay + 1.0f) / (targetDelay + 1e-12f);
        const float limit = -(ratio < 0.0f ? -ratio : ratio);
        step = diff > limit ? diff : limit;
    }
    float rate = 0.95f * step + 0.5f * (glideRate - 0.95f * step);
    if (rate > skv::kMaxGlideRate)
        rate = skv::kMaxGlideRate;
    else if (rate < -skv::kMaxGlideRate)
        rate = -skv::kMaxGlideRate;
    glideRate = skv::flushDenormal(rate);
    currentDelay += rate;
    // The rate carries momentum, so a glide towards 0 would overshoot to about -0.37 sample
    // and read the oldest samples of the ring (seconds old) at up to 40 % weight for some 30
    // samples. Targets are never negative: stop at 0 instead.
    if (currentDelay < 0.0f) {
        currentDelay = 0.0f;
        glideRate = 0.0f;
    }
}

template <typename T>
inline void Delay<T>::recomputeTaps()
{
    const int n = skv::ceilToInt(currentDelay);
    intDelay = n + 1;
    fraction = static_cast<float>(n) - currentDelay;
    const float f = 2.0f - fraction;
    lagrangeNodes[0] = f;
    lagrangeNodes[1] = f - 1.0f;
    lagrangeNodes[2] = f - 2.0f;
    lagrangeNodes[3] = f - 3.0f;
    // Third-order Lagrange basis at nodes 0..3, evaluated at f (node 2 is the sample n old).
    const float f0 = lagrangeNodes[0], f1 = lagrangeNodes[1];
    const float f2 = lagrangeNodes[2], f3 = lagrangeNodes[3];
    const float sixth = 1.0f / 6.0f;
    coeffs[0] = -sixth * (f1 * f2 * f3);
    coeffs[1] = 0.5f * (f0 * f2 * f3);
    coeffs[2] = -0.5f * (f0 * f1 * f3);
    coeffs[3] = sixth * (f0 * f1 * f2);
    if (intDelay >= length) {
        fraction = 0.0f;
        intDelay = length - 1;
    }
    if (!reverse) {
        // Unsigned arithmetic: the AND equals adding or subtracting length until in range.
        readIndex =
            static_cast<int>((static_cast<unsigned>(writeIndex) - static_cast<unsigned>(intDelay)) &
                             static_cast<unsigned>(mask));
    }
    appliedDelay = currentDelay;
}

template <typename T>
inline T Delay<T>::processSample(T x)
{
    glide();
    if (currentDelay != appliedDelay)
        recomputeTaps();

    T y;
    buffer[writeIndex] = x;
    if (!reverse) {
        const int r = readIndex;
        const int r1 = (r + 1) & mask;
        const int r2 = (r1 + 1) & mask;
        const int r3 = (r2 + 1) & mask;
        y = coeffs[0] * buffer[r3] + coeffs[1] * buffer[r2] + coeffs[2] * buffer[r1] +
            coeffs[3] * buffer[r];
        readIndex = r1;
    }
    else {
        const int k = reverseCounter;
        if (k > skv::kReverseCrossfade) {
            y = buffer[readIndex];
        }
        else if (k == skv::kReverseCrossfade) {
            fadeIndex = writeIndex;  // the newest sample starts the next segment
            y = buffer[readIndex];
        }
        else if (k <= 0) {
            // A segment no longer than the cross-fade never reaches the count that places the
            // next head, which would then keep running back into ever older audio: start the
            // new segment at the newest sample instead (no cross-fade is possible anyway).
            if (reversePeriod <= skv::kReverseCrossfade)
                fadeIndex = writeIndex;
            readIndex = fadeIndex;
            reverseCounter = reversePeriod;
            y = buffer[readIndex];
        }
        else {
            const T a = buffer[readIndex];
            const T b = buffer[fadeIndex];
            y = static_cast<float>(k) * 0.01f * (a - b) + b;
        }
        reverseCounter -= 1;
        readIndex = (readIndex - 1) & mask;
        fadeIndex = (fadeIndex - 1) & mask;
    }
    writeIndex = (writeIndex + 1) & mask;
    lastOutput = y;
    return y;
}
