// In-process access to the audio engine for tests that need to see inside it: the units, the
// columns and the scan clock, which no host can observe directly. A probe is the effect itself
// (fxSkorvaline) with its engine state made readable, optionally driven by a scripted host that
// answers only the time-information request.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

// The column of a map without a picture, written out from the C runtime generator seeded
// with `seed` (state = state * 214013 + 2531011, output bits 16..30), three outputs per value.
inline std::vector<float> seededColumn(unsigned seed, int count)
{
    std::uint32_t state = seed;
    auto next = [&state] {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFF);
    };
    std::vector<float> v(static_cast<std::size_t>(count));
    for (float& x : v) {
        double p = 0.9;
        for (int k = 0; k < 3; ++k)
            p *= next() % 10000 * 0.0002 - 1.0;
        x = static_cast<float>(p);
    }
    return v;
}

class CEngineProbe : public fxSkorvaline {
public:
    explicit CEngineProbe(audioMasterCallback host = nullptr) : fxSkorvaline(host) {}

    using fxSkorvaline::engine;

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
