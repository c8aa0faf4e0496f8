// What the effect reads from the host's time information, with the fallbacks for hosts that
// answer nothing or nonsense: 120 BPM, 4/4, positions 0. Pure functions, so the rules are
// testable without a host.
#pragma once

#include "vst/VstAbi.h"

namespace skv {

/// Fields the tempo update asks for: transport changed, ppq, tempo, bars, time signature.
constexpr VstInt32 kTimeInfoRequest =
    kVstTransportChanged | kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstTimeSigValid;
static_assert(kTimeInfoRequest == 0x2E01);

constexpr double kDefaultTempo = 120.0;
constexpr int kDefaultTimeSig = 4;
/// Used for samples per beat when the host never gave a usable sample rate.
constexpr double kDefaultSampleRate = 44100.0;

struct HostTime {
    double tempo = kDefaultTempo;  // BPM, > 0
    double songPosition = 0.0;     // quarter notes
    double barStart = 0.0;         // quarter notes
    int timeSigNumerator = kDefaultTimeSig;
    int timeSigDenominator = kDefaultTimeSig;
};

/// Reads the fields whose valid flag is set; null, missing or unusable fields (tempo not above
/// 0 or not finite, signature parts not above 0, positions not finite) keep the defaults.
HostTime readHostTime(const VstTimeInfo* info);

/// Samples per beat at the given tempo, rounded to nearest (halves to even), at least 1 and
/// finite.
/// A sample rate that is not finite or not above 0 counts as 44100 Hz.
double samplesPerBeat(double sampleRate, double tempo);

}  // namespace skv
