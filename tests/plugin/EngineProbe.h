// In-process access to the audio engine for tests that need to see inside it: the units, the
// columns and the scan clock, which no host can observe directly. A probe is the effect itself
// (fxSkorvaline) with its engine state made readable, optionally driven by a scripted host that
// answers only the time-information request.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "plugin/Skorvaline.h"
#include "vst/VstAbi.h"

namespace enginetest {

// The time information the scripted host hands out (tests run one probe at a time).
inline VstTimeInfo& scriptedTime()
{
    static VstTimeInfo info{};
    return info;
}

// Counts how often the probe asked for the time.
inline int& timeRequests()
{
    static int n = 0;
    return n;
}

inline VstIntPtr scriptedHost(AEffect* /*effect*/, VstInt32 opcode, VstInt32 /*index*/,
                              VstIntPtr /*value*/, void* /*ptr*/, float /*opt*/)
{
    if (opcode == audioMasterVersion)
        return 2400;
    if (opcode == audioMasterGetTime) {
        ++timeRequests();
        return reinterpret_cast<VstIntPtr>(&scriptedTime());
    }
    return 0;
}

// Sets the scripted host to tempo bpm in 4/4 at song position ppq (bar start at the bar of ppq).
inline void setScriptedTime(double bpm, double ppq = 0.0, double barStart = 0.0)
{
    VstTimeInfo& t = scriptedTime();
    t = VstTimeInfo{};
    t.sampleRate = 44100.0;
    t.tempo = bpm;
    t.ppqPos = ppq;
    t.barStartPos = barStart;
    t.timeSigNumerator = 4;
    t.timeSigDenominator = 4;
    t.flags = kVstTempoValid | kVstPpqPosValid | kVstBarsValid | kVstTimeSigValid;
}

class CEngineProbe : public fxSkorvaline {
public:
    explicit CEngineProbe(audioMasterCallback host = nullptr) : fxSkorvaline(host) {}

    using fxSkorvaline::engine;
    using fxSkorvaline::samplesPerBeat;

    // Runs n samples of the given stereo input through processReplacing in one block.
    void block(const float* inL, const float* inR, float* outL, float* outR, int n)
    {
        float* in[2] = {const_cast<float*>(inL), const_cast<float*>(inR)};
        float* out[2] = {outL, outR};
        processReplacing(in, out, n);
    }
    // Runs `samples` of silence in host blocks of `size`.
    void silence(int samples, int size = 64)
    {
        std::vector<float> z(static_cast<std::size_t>(size), 0.0f), oL(z.size()), oR(z.size());
        for (int done = 0; done < samples; done += size) {
            const int n = std::min(size, samples - done);
            block(z.data(), z.data(), oL.data(), oR.data(), n);
        }
    }
    void resumeNow()
    {
        suspend();
        resume();
    }
};

}  // namespace enginetest
