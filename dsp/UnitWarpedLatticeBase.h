// Common part of the warped lattice filters: order, reflection coefficients and their one-pole
// glide towards a target column, the two ping-pong state arrays, the warp λ (the coefficient
// of the first-order allpass that replaces each unit delay) and the delay-free-loop gain.
// Every coefficient, order and reset operation takes the recursive lock; process() does not,
// because the engine holds the lock around its whole per-sample filtering pass.
#pragma once

#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>

#include "dsp/DspConfig.h"
#include "dsp/DspMath.h"
#include "dsp/UnitProcessorBase.h"

namespace usp {

/// Abstract warped lattice of up to Capacity stages. Arrays hold `count` = order + 1 values;
/// entries 0..order-1 filter, entry `order` is carried along unused.
///
/// Storage: one 32-byte-aligned block, sized for Capacity at construction, holds the four
/// arrays at offsets 0, n, 2n, 3n (n = count rounded up to 4). An order change lays the arrays
/// out again inside that block, so setOrder never allocates and is safe at a scan step on the
/// audio thread.
template <typename T, int Capacity>
class CUnitWarpedLatticeBase : public CUnitProcessorBase<T> {
public:
    static_assert(Capacity >= 2, "a lattice needs at least two stages");
    /// Largest array stride: Capacity + 1 values rounded up to a multiple of 4.
    static constexpr int kMaxStride = ((Capacity + 1) + 3) & ~3;

    CUnitWarpedLatticeBase();
    ~CUnitWarpedLatticeBase() override;  // slot 0: frees the block

    // Slots 1, 2 and 4 come from the base (setSampleRate, process, initialize).
    void reset() override;                                          // slot 3
    virtual void setCoefficients(const T* v, int n);                // slot 5: immediate
    virtual void setCoefficientsAt(const T* v, int n, T position);  // slot 6: rotated targets
    virtual void setTargetCoefficients(const T* v, int n);          // slot 7: glide targets
    virtual void setOrder(int m);                                   // slot 8: clamp to 2..Capacity
    virtual void updateCoefficients();                              // slot 9: nothing here
    virtual void allocateArrays();                                  // slot 10: lay out the block

    /// One glide step of warp, coefficient scale and coefficients, then C and G. Called once
    /// per sub-block. targetWarp is held inside (-1, 1) and targetScale in [-1, 1]; NaN keeps
    /// the current value.
    void glideCoefficients(T targetWarp, T targetScale);
    /// The warp and scale steps of glideCoefficients (targets held as there), setting warp,
    /// coefficient scale and C; for callers that run the coefficient stages themselves (they
    /// hold the lock, write mutableCoefficients and end with finishGlide).
    void glideWarpAndScale(T targetWarp, T targetScale);
    /// The end of a glide run outside this class: G from the gain recursion's sum, and a new
    /// revision.
    void finishGlide(T sum);
    /// G = 1 / (1 - sum), or 1 when that is not finite (it would poison the state for good).
    static T gainFromSum(T sum);
    /// Targets and coefficients to 1e-7 (a practically transparent filter).
    void resetCoefficients();
    /// Zeroes both state arrays.
    void clearState();
    /// The weight of the old coefficient per glide step (e), for the glides to come.
    void setSmoothing(T e);
    /// Warp λ at once, held inside (-1, 1) as a glide target is (NaN keeps it); C and G follow.
    void setWarp(T lambda);
    /// Coefficient scale b at once, held in [-1, 1] as a glide target is (NaN keeps it).
    void setCoeffScale(T b);

    /// The coefficient, order and reset operations take this recursive lock themselves; the
    /// owner holds it (std::lock_guard on the lattice) around a whole per-sample pass, which
    /// calls process() or the stereo kernel without taking it again.
    void lock() { stateLock.lock(); }
    void unlock() { stateLock.unlock(); }
    bool try_lock() { return stateLock.try_lock(); }

    int getOrder() const noexcept { return order; }  ///< N, stages in use, 2..Capacity
    int getCount() const noexcept { return count; }  ///< N + 1, the length of every array
    T getWarp() const noexcept { return warp; }      ///< λ
    T getWarpComplement() const noexcept { return warpComplement; }  ///< C = 1 - λ²
    T getGain() const noexcept { return gain; }                      ///< G = 1 / (1 - Σ f·k)
    T getSmoothing() const noexcept { return smoothing; }
    T getCoeffScale() const noexcept { return coeffScale; }  ///< b, applied during the glide
    T getInputScale() const noexcept { return inputScale; }  ///< applied to incoming values
    /// Raised by every operation that changes coefficients, targets, state, order, warp or
    /// gain, so a caller that computed something from them can tell whether it still holds.
    unsigned getRevision() const noexcept { return revision; }
    const T* getCoefficients() const noexcept { return coeffs; }              ///< k[0..count-1]
    const T* getTargetCoefficients() const noexcept { return targetCoeffs; }  ///< s[...]
    /// The coefficients for a glide run outside this class (the two-lane glide of both
    /// channels), with the lock held; it ends with finishGlide.
    T* mutableCoefficients() noexcept { return coeffs; }

    /// Whether the next sample reads the first of the two state arrays.
    bool readsFirstState() const noexcept { return pingPong; }
    /// The state array the next sample reads, and the one it writes (for kernels that run
    /// samples outside process(); they end with advance).
    const T* stateToRead() const noexcept { return pingPong ? stateA : stateB; }
    const T* stateToWrite() const noexcept { return pingPong ? stateB : stateA; }
    T* stateToRead() noexcept { return pingPong ? stateA : stateB; }
    T* stateToWrite() noexcept { return pingPong ? stateB : stateA; }
    /// The bookkeeping of n samples: the ping-pong side and the offset sign flip n times, the
    /// revision rises by n and `lastOutput` becomes the output.
    void advance(int n, T lastOutput) noexcept;

protected:
    /// Coefficient rule shared by the setters: slot stays as it is for |v| >= 1 (or NaN),
    /// which would make the lattice unstable; tiny v give 1e-7; otherwise inputScale·v.
    void applyCoefficient(T& slot, T v) const;
    /// C and G from the coefficients and warp in force, without moving anything.
    void refreshDerived();
    /// One stage of the gain recursion behind G: sum += f·k, then f and g advance together
    /// (each from the other's old value).
    static void gainStage(T lambda, T k, T& f, T& g, T& sum);
    /// Sign of the coefficient values the setters take in (the all-pole form negates them).
    void setInputScale(T scale) noexcept { inputScale = scale; }
    /// The lock, for the derived filters' own operations.
    std::recursive_mutex& mutex() noexcept { return stateLock; }

private:
    /// Warp held inside (-1, 1): an allpass with |λ| >= 1 is unstable.
    static T holdWarp(T lambda, T current);
    /// Scale held in [-1, 1]: |b| > 1 can push coefficients past 1.
    static T holdScale(T b, T current);

    std::recursive_mutex stateLock;
    T* targetCoeffs;  // s[0..count-1]
    T* coeffs;        // k[0..count-1]
    T* stateA;
    T* stateB;
    T warp;            // λ
    T smoothing;       // e, weight of the old coefficient per glide step
    T warpComplement;  // C = 1 - λ²
    T gain;            // G = 1 / (1 - Σ f·k)
    T coeffScale;      // b, applied to the targets during the glide
    int order;         // N, stages in use, 2..Capacity
    int count;         // N + 1
    bool pingPong;     // true: read stateA this sample
    T inputScale;      // applied to incoming coefficient values
    unsigned revision;
    T* storage;  // the aligned allocation, Capacity-sized, holding the four arrays
};

// ---------------------------------------------------------------------------------------------

template <typename T, int Capacity>
CUnitWarpedLatticeBase<T, Capacity>::CUnitWarpedLatticeBase()
    : targetCoeffs(nullptr), coeffs(nullptr), stateA(nullptr), stateB(nullptr), warp(T(0.5)),
      smoothing(T(0.99)), warpComplement(T(0.75)), gain(T(1)), coeffScale(T(0.95)), order(0),
      count(0), pingPong(true), inputScale(T(1)), revision(0), storage(nullptr)
{
    const std::size_t bytes = sizeof(T) * 4u * static_cast<std::size_t>(kMaxStride);
    storage = static_cast<T*>(::operator new(bytes, std::align_val_t(32)));
    std::memset(storage, 0, bytes);
    CUnitWarpedLatticeBase::setOrder(2);
    // Half-life of 0.2 s at one glide step per sample.
    smoothing = T(std::pow(0.5, 1.0 / (0.2 * static_cast<double>(this->sampleRate))));
    clearState();
    resetCoefficients();
}

template <typename T, int Capacity>
CUnitWarpedLatticeBase<T, Capacity>::~CUnitWarpedLatticeBase()
{
    ::operator delete(static_cast<void*>(storage), std::align_val_t(32));
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::allocateArrays()
{
    const int n = (count + 3) & ~3;
    std::memset(storage, 0, sizeof(T) * 4u * static_cast<std::size_t>(kMaxStride));
    targetCoeffs = storage;
    coeffs = storage + n;
    stateA = storage + 2 * n;
    stateB = storage + 3 * n;
    ++revision;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::setOrder(int m)
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    const int n = m < skv::kLatticeMinOrder ? skv::kLatticeMinOrder : (m > Capacity ? Capacity : m);
    if (n == order)
        return;
    // The new layout overlaps the old one, so the arrays go aside first (on the stack: no
    // allocation on this path).
    T saved[4][kMaxStride];
    const int oldCount = count;
    T* const old[4] = {targetCoeffs, coeffs, stateA, stateB};
    for (int a = 0; a < 4; ++a)
        for (int i = 0; i < oldCount; ++i)
            saved[a][i] = old[a][i];

    order = n;
    count = n + 1;
    allocateArrays();

    const int keep = oldCount < count ? oldCount : count;
    T* const now[4] = {targetCoeffs, coeffs, stateA, stateB};
    for (int a = 0; a < 4; ++a)
        for (int i = 0; i < keep; ++i)
            now[a][i] = saved[a][i];
    for (int i = keep; i < count; ++i) {
        targetCoeffs[i] = T(skv::kCoeffFloor);
        coeffs[i] = T(skv::kCoeffFloor);
        stateA[i] = T(0);
        stateB[i] = T(0);
    }
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::updateCoefficients()
{
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::applyCoefficient(T& slot, T v) const
{
    const T mag = v < T(0) ? -v : v;
    if (!(mag < T(1)))
        return;  // NaN lands here too
    slot = mag < T(skv::kCoeffTiny) ? T(skv::kCoeffFloor) : inputScale * v;
}

template <typename T, int Capacity>
inline void CUnitWarpedLatticeBase<T, Capacity>::gainStage(T lambda, T k, T& f, T& g, T& sum)
{
    sum = sum + f * k;
    const T fNew = -lambda * (f - k * g);
    const T gNew = g - f * k;
    f = fNew;
    g = gNew;
}

template <typename T, int Capacity>
inline T CUnitWarpedLatticeBase<T, Capacity>::gainFromSum(T sum)
{
    const T inv = T(1) / (T(1) - sum);
    return (inv - inv == T(0)) ? inv : T(1);
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::setTargetCoefficients(const T* v, int n)
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    if (!v)
        return;
    const int m = n < count ? n : count;
    for (int i = 0; i < m; ++i)
        applyCoefficient(targetCoeffs[i], v[i]);
    ++revision;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::setCoefficients(const T* v, int n)
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    if (!v)
        return;
    const int m = n < count ? n : count;
    // The target rule applies here too: a coefficient of magnitude 1 or more would make the
    // lattice unstable at once.
    for (int i = 0; i < m; ++i)
        applyCoefficient(coeffs[i], v[i]);
    setTargetCoefficients(v, n);
    refreshDerived();
    ++revision;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::setCoefficientsAt(const T* v, int n, T position)
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    if (!v || n <= 0)
        return;
    if (!(position > T(0)))
        position = T(0);  // NaN too
    else if (position >= T(1))
        position = T(1);
    const int start = skv::roundToInt(static_cast<float>(n) * static_cast<float>(position));
    const int m = n < count ? n : count;
    for (int i = 0; i < m; ++i)
        applyCoefficient(targetCoeffs[i], v[(start + i) % n]);
    ++revision;
}

template <typename T, int Capacity>
T CUnitWarpedLatticeBase<T, Capacity>::holdWarp(T lambda, T current)
{
    const T maxWarp = T(0.9999);
    if (lambda != lambda)
        return current;
    if (lambda > maxWarp)
        return maxWarp;
    if (lambda < -maxWarp)
        return -maxWarp;
    return lambda;
}

template <typename T, int Capacity>
T CUnitWarpedLatticeBase<T, Capacity>::holdScale(T b, T current)
{
    if (b != b)
        return current;
    if (b > T(1))
        return T(1);
    if (b < T(-1))
        return T(-1);
    return b;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::glideWarpAndScale(T targetWarp, T targetScale)
{
    targetWarp = holdWarp(targetWarp, warp);
    targetScale = holdScale(targetScale, coeffScale);
    T lambda = targetWarp + T(0.95) * (warp - targetWarp);
    if ((lambda < T(0) ? -lambda : lambda) < T(skv::kDenormalThreshold))
        lambda = T(0);
    warp = lambda;
    coeffScale = targetScale + T(0.95) * (coeffScale - targetScale);
    warpComplement = T(1) - lambda * lambda;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::finishGlide(T sum)
{
    gain = gainFromSum(sum);
    ++revision;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::setSmoothing(T e)
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    smoothing = e;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::setWarp(T lambda)
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    warp = holdWarp(lambda, warp);
    refreshDerived();
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::setCoeffScale(T b)
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    coeffScale = holdScale(b, coeffScale);
    ++revision;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::advance(int n, T lastOutput) noexcept
{
    if ((n & 1) != 0) {
        pingPong = !pingPong;
        this->denormalOffset = -this->denormalOffset;
    }
    revision += static_cast<unsigned>(n);
    this->output = lastOutput;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::glideCoefficients(T targetWarp, T targetScale)
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    glideWarpAndScale(targetWarp, targetScale);
    const T lambda = warp;
    const T b = coeffScale;
    const T e = smoothing;
    T f = -lambda;
    T g = T(1);
    T sum = T(0);
    for (int j = 0; j < order; ++j) {
        const T k = e * coeffs[j] + (T(1) - e) * b * targetCoeffs[j];
        coeffs[j] = k;
        gainStage(lambda, k, f, g, sum);
    }
    gain = gainFromSum(sum);
    ++revision;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::refreshDerived()
{
    const T lambda = warp;
    warpComplement = T(1) - lambda * lambda;
    T f = -lambda;
    T g = T(1);
    T sum = T(0);
    for (int j = 0; j < order; ++j)
        gainStage(lambda, coeffs[j], f, g, sum);
    gain = gainFromSum(sum);
    ++revision;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::resetCoefficients()
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    for (int i = 0; i < count; ++i) {
        targetCoeffs[i] = T(skv::kCoeffFloor);
        coeffs[i] = T(skv::kCoeffFloor);
    }
    // Keeps G in step with the coefficients, so a reset filter is transparent even before
    // the next glide.
    refreshDerived();
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::clearState()
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    std::memset(stateA, 0, sizeof(T) * static_cast<std::size_t>(count));
    std::memset(stateB, 0, sizeof(T) * static_cast<std::size_t>(count));
    ++revision;
}

template <typename T, int Capacity>
void CUnitWarpedLatticeBase<T, Capacity>::reset()
{
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    this->output = T(0);
    warp = T(skv::kResetWarp);
    if (!((coeffScale < T(0) ? -coeffScale : coeffScale) < T(1)))
        coeffScale = T(0.9);
    clearState();
    resetCoefficients();
}

}  // namespace usp
