// Warped IIR (all-pole) lattice: the per-sample recursion of the filter, with a prediction
// pass (what the stored allpass chain contributes) followed by an update pass that pushes the
// output through the chain into the other state array. Incoming coefficients are negated.
// process() is the reference form, in exactly the written order; LatticeStereoKernel.h holds
// the fused two-channel form the engine uses, reassociated for speed (equal up to rounding).
#pragma once

#include <mutex>

#include "dsp/Denormal.h"
#include "dsp/UnitWarpedLatticeBase.h"

namespace usp {

/// One channel's warped lattice filter. process() runs on the audio thread with the lattice held
/// by the caller; everything else takes the lock itself.
template <typename T, int Capacity>
class CUnitWIIRLattice : public CUnitWarpedLatticeBase<T, Capacity> {
    using Base = CUnitWarpedLatticeBase<T, Capacity>;

public:
    CUnitWIIRLattice();

    /// One sample through the filter; outputs below 1e-10 in magnitude come back as 0 (the
    /// state still takes the unflushed value).
    T process(T x) override;
    /// Resize as the base does, then one glide step when the array length changed.
    void setOrder(int m) override;
    /// One glide step that keeps warp and coefficient scale where they are.
    void updateCoefficients() override;
};

// ---------------------------------------------------------------------------------------------

template <typename T, int Capacity>
CUnitWIIRLattice<T, Capacity>::CUnitWIIRLattice()
{
    this->setInputScale(T(-1));
    updateCoefficients();
}

template <typename T, int Capacity>
void CUnitWIIRLattice<T, Capacity>::setOrder(int m)
{
    std::lock_guard<std::recursive_mutex> guard(this->mutex());
    const int oldCount = this->getCount();
    Base::setOrder(m);
    if (this->getCount() != oldCount)
        updateCoefficients();
}

template <typename T, int Capacity>
void CUnitWIIRLattice<T, Capacity>::updateCoefficients()
{
    std::lock_guard<std::recursive_mutex> guard(this->mutex());
    this->glideCoefficients(this->getWarp(), this->getCoeffScale());
}

template <typename T, int Capacity>
T CUnitWIIRLattice<T, Capacity>::process(T x)
{
    const T* p = this->stateToRead();
    T* q = this->stateToWrite();
    const T* k = this->getCoefficients();
    const T lambda = this->getWarp();
    const T c = this->getWarpComplement();
    const int n = this->getOrder();

    // Prediction pass: the chain's contribution from the stored state. z lags `back` by two
    // stages (the allpass delays the backward wave once more than the forward one).
    T u = c * p[0];
    T acc = k[0] * u;
    T back = -acc;
    T z = T(0);
    for (int j = 1; j < n; ++j) {
        const T uj = c * p[j] + lambda * (k[j - 1] * z - u);
        z = back;
        acc = acc + k[j] * uj;
        back = back - k[j] * uj;
        u = uj;
    }
    const T y = this->getGain() * (x + acc);

    // Update pass: y travels through the warped chain into q.
    T v = lambda * p[0] + y;
    T f = y;
    for (int j = 1; j < n; ++j) {
        const T m = p[j - 1] - lambda * v;
        v = lambda * p[j] + m - f * k[j - 1];
        q[j] = v;
        f = f - m * k[j - 1];
    }

    const T out = skv::flushDenormal(y);
    this->advance(1, out);
    return out;
}

}  // namespace usp
