// The parameter rules as pure functions: the conversions between normalised and engine
// values (delay and step grids, compressor times, curves) and the display formats. The table
// that applies them to the engine is in plugin/SkorvalineParameters.cpp.
#include "plugin/ParameterTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "dsp/DspMath.h"
#include "vst/VstText.h"

namespace skv {

using namespace engine;

namespace {

void copyDisplay(const char* from, char* text)
{
    copyText(text, from, kDisplayMaxChars);
}

// Samples per beat as the synced rules use it: at least one sample, so that a degenerate tempo
// cannot divide by zero, and finite, since zero units of an infinite beat would give NaN.
double usableBeat(double spb)
{
    constexpr double kLongest = std::numeric_limits<double>::max();
    if (!(spb >= 1.0))
        return 1.0;
    return spb < kLongest ? spb : kLongest;
}

// Whole units of 1/c beat covering x of four seconds, at least 0 (both synced modes).
double syncedUnits(double c, float x, double spb)
{
    const double n = std::ceil((c * static_cast<double>(x) * kFullDelay - 0.5) / spb);
    return n < 0.0 ? 0.0 : n;
}

// Per-sample coefficient under which a level falls to a quarter within `samples` samples.
float quarterWithin(double samples)
{
    return static_cast<float>(std::pow(0.25, 1.0 / samples));
}

}  // namespace

float sanitizeNormalised(float x)
{
    if (!(x >= 0.0f))
        return 0.0f;  // NaN and negatives
    return x > 1.0f ? 1.0f : x;
}

double syncUnitsPerBeat(float sync)
{
    if (!(sync >= kSyncThreshold))
        return 0.0;
    const double k = roundHalfEven(static_cast<double>(6.0f * sync));
    if (k <= 1.0)
        return 16.0;
    if (k >= 6.0)
        return 0.5;
    switch (static_cast<int>(k)) {
    case 2:
        return 8.0;
    case 3:
        return 4.0;
    case 4:
        return 2.0;
    default:
        return 1.0;
    }
}

DelayTime computeDelayTime(float x, float sync, int order, double spb)
{
    DelayTime r;
    r.normalised = x;
    const double c = syncUnitsPerBeat(sync);
    if (c == 0.0) {
        float length = x * static_cast<float>(kFullDelay) - static_cast<float>(order);
        // The ceiling only matters for values beyond 1, which the ring could not hold.
        if (length > static_cast<float>(kMaxSyncedDelay))
            length = static_cast<float>(kMaxSyncedDelay);
        r.length = length < 1.0f ? 0.0f : length;
        return r;
    }
    spb = usableBeat(spb);
    const double n = syncedUnits(c, x, spb);
    r.synced = true;
    r.units = static_cast<int>(n);
    r.beats = n / c;
    double length = r.beats * spb - order;
    if (length > kMaxSyncedDelay)
        length = kMaxSyncedDelay;
    double snapped = (order + length) / kFullDelay;
    r.normalised = static_cast<float>(std::clamp(snapped, 0.0, 1.0));
    r.length = length < 1.0 ? 0.0f : static_cast<float>(length);
    return r;
}

StepTime computeStepTime(float x, float sync, double spb)
{
    StepTime r;
    const double c = syncUnitsPerBeat(sync);
    double length;
    if (c == 0.0) {
        length = static_cast<double>(x) * kFullDelay;
    }
    else {
        spb = usableBeat(spb);
        const double n = syncedUnits(c, x, spb);
        r.synced = true;
        r.units = static_cast<int>(n);
        r.unitsPerBeat = c;
        length = n / c * spb;
    }
    r.length = length < kMinStepSamples ? kMinStepSamples : length;
    return r;
}

double compressorRateMs(float r)
{
    const double rd = r;
    return std::pow(0.1, 1.0 - rd) * std::pow(1000.0, rd);
}

float compressorRateCoefficient(float r)
{
    return quarterWithin(kMsSamples * compressorRateMs(r));
}

float compressorDecayCoefficient(float r, float d)
{
    const double span = 19.5 * static_cast<double>(d) + 0.5;
    return quarterWithin(kMsSamples * compressorRateMs(r) * span);
}

float compressorRatio(float x)
{
    return 2.0f * x;
}

float compressorRatioCurve(float x)
{
    return 1.0f - std::exp(-2.0f * x);
}

float compressorRatioFromCurve(float k)
{
    const float rest = 1.0f - k;
    if (!(rest > 0.0f))
        return 1.0f;
    return -0.5f * std::log(rest);
}

int filterOrderFromNormalised(float x)
{
    const double order = roundHalfEven(78.0 * static_cast<double>(x) + 2.0);
    return static_cast<int>(std::clamp(order, double(kMinOrder), double(kMaxOrder)));
}

int bandCountForOrder(int order)
{
    return order < kBandOrderThreshold ? 2 : order / 4;
}

float timeConstantSmoothing(float x)
{
    return 1.0f - std::exp(-15.0f * x);
}

float envelopeCoefficient(float x)
{
    return x >= 1.0f ? 1.0f : 1.0f - std::exp(-14.0f * x);
}

float feedbackGain(float x)
{
    return 2.0f * x - 1.0f;
}

float feedbackNormalised(float g)
{
    return (g + 1.0f) * 0.5f;
}

float warpValue(float x)
{
    return x > kWarpCeiling ? kWarpCeiling : x;
}

float resonanceValue(float x)
{
    return 0.99f * x + 1e-13f;
}

float resonanceNormalised(float r)
{
    return (r - 1e-13f) * 1.010101f;
}

float fourthPower(float x)
{
    return x * x * x * x;
}

float fourthRoot(float g)
{
    return g > 0.0f ? std::sqrt(std::sqrt(g)) : 0.0f;
}

void formatFixed(double value, int decimals, char* text)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%0.*f", decimals, value);
    copyDisplay(buffer, text);
}

void formatDecibel(float gain, char* text)
{
    if (!(gain > 0.0f)) {
        copyDisplay("-oo", text);
        return;
    }
    formatFixed(20.0 * std::log10(static_cast<double>(gain)), 2, text);
}

void formatInteger(int value, char* text)
{
    if (value >= 100000000) {
        copyDisplay("Huge!", text);
        return;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%7d", value);
    copyDisplay(buffer, text);
}

void formatDecay(float coefficient, char* text)
{
    if (coefficient >= 1.0f) {
        copyDisplay("oo", text);
        return;
    }
    if (!(coefficient > 0.0f)) {  // falls at once
        formatFixed(0.0, 2, text);
        return;
    }
    const double t = std::log(0.25) / std::log(static_cast<double>(coefficient)) / kMsSamples;
    formatFixed(t, t < 10.0 ? 2 : (t < 100.0 ? 1 : 0), text);
}

}  // namespace skv
