// Abstract interface of the unit processors (the warped lattice filters and the warped LPC
// extraction): a per-sample process, reset and initialise, and the sample rate. The virtual
// slots keep a fixed order; derived classes append theirs after these.
#pragma once

#include <cmath>

#include "dsp/DspConfig.h"

namespace usp {

/// Base of every unit processor. process() runs on the audio thread; the others are called
/// between blocks. Fields are public so that the engine can read the last output and the
/// alternating offset without a virtual call.
template <typename T>
class CUnitProcessorBase {
public:
    CUnitProcessorBase();
    virtual ~CUnitProcessorBase() = default;  // slot 0

    CUnitProcessorBase(const CUnitProcessorBase&) = delete;
    CUnitProcessorBase& operator=(const CUnitProcessorBase&) = delete;

    virtual void setSampleRate(T rate);  // slot 1: stores sampleRate (Hz)
    virtual T process(T x) = 0;          // slot 2: one sample
    virtual void reset();                // slot 3: output = 0
    virtual void initialize();           // slot 4: calls reset

    T denormalOffset;  ///< alternating tiny offset, negated by the units every sample
    T pi;              ///< 4·atan(1) in T precision
    T output;          ///< last output sample
    T sampleRate;      ///< Hz; the time base is 44100 unless set otherwise
};

// ---------------------------------------------------------------------------------------------

template <typename T>
CUnitProcessorBase<T>::CUnitProcessorBase()
    : denormalOffset(T(skv::kDenormalOffset)), pi(T(4.0 * std::atan(1.0))), output(T(0)),
      sampleRate(T(skv::kTimeBaseRate))
{
}

template <typename T>
void CUnitProcessorBase<T>::setSampleRate(T rate)
{
    sampleRate = rate;
}

template <typename T>
void CUnitProcessorBase<T>::reset()
{
    output = T(0);
}

template <typename T>
void CUnitProcessorBase<T>::initialize()
{
    reset();
}

}  // namespace usp
