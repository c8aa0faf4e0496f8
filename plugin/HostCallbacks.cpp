// Time-information fallbacks of the tempo update: what the effect takes from a host's
// VstTimeInfo, and the samples per beat that every synced length is built on.
#include "plugin/HostCallbacks.h"

#include "dsp/DspMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace skv {

HostTime readHostTime(const VstTimeInfo* info)
{
    HostTime time;
    if (!info) {
        return time;
    }
    if ((info->flags & kVstTempoValid) && std::isfinite(info->tempo) && info->tempo > 0.0) {
        time.tempo = info->tempo;
    }
    if ((info->flags & kVstPpqPosValid) && std::isfinite(info->ppqPos)) {
        time.songPosition = info->ppqPos;
    }
    if ((info->flags & kVstBarsValid) && std::isfinite(info->barStartPos)) {
        time.barStart = info->barStartPos;
    }
    if (info->flags & kVstTimeSigValid) {
        time.timeSigNumerator =
            info->timeSigNumerator > 0 ? info->timeSigNumerator : kDefaultTimeSig;
        time.timeSigDenominator =
            info->timeSigDenominator > 0 ? info->timeSigDenominator : kDefaultTimeSig;
    }
    return time;
}

double samplesPerBeat(double sampleRate, double tempo)
{
    if (!std::isfinite(sampleRate) || sampleRate <= 0.0) {
        sampleRate = kDefaultSampleRate;
    }
    if (!std::isfinite(tempo) || tempo <= 0.0) {
        tempo = kDefaultTempo;
    }
    // A positive tempo near 0 (below about 1e-300) makes the beat overflow to infinity.
    const double rounded = roundHalfEven(sampleRate / (tempo / 60.0));
    return std::clamp(rounded, 1.0, std::numeric_limits<double>::max());
}

}  // namespace skv
