// The parameter indices and the parameter rules as plain data and pure functions: the rules
// that turn a normalised value (0..1) into an engine value and back, and the display formats.
// The table that names each parameter and binds it to its rules lives in
// plugin/SkorvalineParameters.cpp; programs, preset files, MIDI, the editor and the LV2 ports
// share the indices. Nothing here touches the effect, so every rule is testable alone.
#pragma once

#include <cstddef>

#include "plugin/EngineConfig.h"

namespace skv {

/// Parameter indices. 0..52 are seen by the host; 54 and 55 are the editor's view switches
/// kept by the effect only.
enum ParameterIndex : int {
    kParamLPreDelay = 0,
    kParamRPreDelay,
    kParamLDelay,
    kParamRDelay,
    kParamLDirection,
    kParamRDirection,
    kParamFeedbackLL,
    kParamFeedbackLR,
    kParamFeedbackRL,
    kParamFeedbackRR,
    kParamLWarp,  // 10
    kParamRWarp,
    kParamLResonance,
    kParamRResonance,
    kParamLCutoff,
    kParamRCutoff,
    kParamLCompThreshold,
    kParamLCompRatio,
    kParamLCompRate,
    kParamLCompDecay,
    kParamRCompThreshold,  // 20
    kParamRCompRatio,
    kParamRCompRate,
    kParamRCompDecay,
    kParamLSaturate,
    kParamRSaturate,
    kParamFilterLSelect,  // 26
    kParamLStartLoop,
    kParamLStopLoop,
    kParamLOffsetVert,
    kParamLIndex,  // 30
    kParamFilterRSelect,
    kParamRStartLoop,
    kParamRStopLoop,
    kParamROffsetVert,
    kParamRIndex,
    kParamAnalysisL,
    kParamAnalysisR,
    kParamTabFilterL,
    kParamTabFilterR,
    kParamFilterOrder,  // 40
    kParamStepTime,
    kParamTimeConstant,
    kParamMix,
    kParamVolume,
    kParamLoadBitmapL,
    kParamLoadBitmapR,
    kParamSyncDelay,
    kParamSyncScan,
    kParamOversample,
    kParamEnvFollowDecay,  // 50
    kParamLAnalysisWarp,
    kParamRAnalysisWarp,
    kNumParams,  // 53
    kParamLViewSwitch = 54,
    kParamRViewSwitch = 55,
};

/// Texts written for an index beyond the table.
constexpr const char* kUnspecifiedName = "-unspecified-";
/// Display texts are cut to this many characters (the host's buffer holds 8 plus the zero).
constexpr std::size_t kDisplayMaxChars = 8;

// The table's texts and defaults (defined beside the table in plugin/SkorvalineParameters.cpp;
// any thread).

/// Name exactly as the host and stored presets see it ("L Warp  " keeps two trailing spaces);
/// "-unspecified-" for any index outside 0..52.
const char* parameterName(int index);

/// Unit label, or nullptr where the effect writes no label (the host's buffer stays as it was).
const char* parameterLabel(int index);

/// Default normalised value of a program. Indices 26, 31, 45 and 46 carry no default of their
/// own and start at 0; indices outside 0..52 answer 0.
float parameterDefault(int index);

/// Index of a parameter name (exact match, trailing spaces included), or -1.
int parameterIndexOf(const char* name);

// --- small conversions -------------------------------------------------------------------

/// A normalised value made safe for the engine: NaN becomes 0, the rest is clamped into 0..1.
float sanitizeNormalised(float x);

// --- delay, step and sync rules ----------------------------------------------------------

/// Units per beat selected by a Sync Delay / Sync Scan value: 0 in free mode (below one sixth),
/// otherwise by k = round(6 * sync): 1 -> 16, 2 -> 8, 3 -> 4, 4 -> 2, 5 -> 1, and from 11/12
/// up (k = 6) 0.5, that is one unit per two beats, continuing the halving of the table.
double syncUnitsPerBeat(float sync);

/// Result of the delay-time rule for one line.
struct DelayTime {
    float length = 0.0f;      // samples at 44.1 kHz, 0 when below 1
    double beats = 0.0;       // length in beats (synced mode), 0 in free mode
    int units = 0;            // unit count (synced mode), 0 in free mode
    float normalised = 0.0f;  // the parameter value afterwards (snapped in synced mode)
    bool synced = false;
};

/// Delay-time rule for the pre-delays and main delays: x the normalised value, sync the Sync
/// Delay setting, order the current filter order, spb the samples per beat (held within 1 and
/// the largest finite double).
DelayTime computeDelayTime(float x, float sync, int order, double spb);

/// Result of the step-time rule.
struct StepTime {
    double length = engine::kMinStepSamples;  // samples, at least 32
    int units = 0;
    double unitsPerBeat = 0.0;  // 0 in free mode
    bool synced = false;
};

/// Step-time rule for the scan: as the delay rule with Sync Scan, no order subtracted, no
/// ceiling, no snapping, and at least 32 samples.
StepTime computeStepTime(float x, float sync, double spb);

// --- compressor rules --------------------------------------------------------------------

/// Rate time in milliseconds for rate value r: 0.1 ms at 0 to 1000 ms at 1, logarithmic.
double compressorRateMs(float r);
/// Per-sample rate coefficient: the level falls to a quarter within the rate time.
float compressorRateCoefficient(float r);
/// Decay coefficient: 0.5 to 20 times the rate time, by the decay value d.
float compressorDecayCoefficient(float r, float d);

/// Ratio passed to the compressor (2x) and the kept curve value k = 1 - e^(-2x) with its inverse.
float compressorRatio(float x);
float compressorRatioCurve(float x);
float compressorRatioFromCurve(float k);

// --- other engine values ------------------------------------------------------------------

/// Filter order 2..80 from its normalised value, halves to even.
int filterOrderFromNormalised(float x);
/// Band count of the band filter banks for a filter order: 2 below 12, else order / 4.
int bandCountForOrder(int order);
/// Smoothing factor b = 1 - e^(-15x) of the lattices and band units.
float timeConstantSmoothing(float x);
/// Envelope-follower coefficient f = 1 - e^(-14x), exactly 1 at x = 1.
float envelopeCoefficient(float x);
/// Feedback gain g = 2x - 1 and back.
float feedbackGain(float x);
float feedbackNormalised(float g);
/// Warp w = x, at most 0.99999.
float warpValue(float x);
/// Resonance r = 0.99x + 1e-13 and back.
float resonanceValue(float x);
float resonanceNormalised(float r);
/// Fourth power (volume and threshold gains) and its inverse.
float fourthPower(float x);
float fourthRoot(float g);

// --- display texts --------------------------------------------------------------------------
// Each writes a zero-terminated text of at most kDisplayMaxChars characters into text, which
// must hold kDisplayMaxChars + 1 bytes.

/// Fixed-point with the given number of decimals, no field width ("%0.<d>f").
void formatFixed(double value, int decimals, char* text);
/// "-oo" for a gain of 0 or below, else 20 log10(gain) with two decimals.
void formatDecibel(float gain, char* text);
/// "%7d" cut to eight characters; "Huge!" from 100000000 up.
void formatInteger(int value, char* text);
/// Display of a per-sample decay coefficient: "oo" at exactly 1, otherwise the milliseconds
/// for the level to fall to a quarter at 44.1 kHz, 2/1/0 decimals below 10/100/above.
void formatDecay(float coefficient, char* text);

}  // namespace skv
