// Compressor, soft clipper and the 2x path of os2Distort.
#include "dsp/Saturation.h"

#include <cstring>


os2Distort::os2Distort()
    : lowpass(std::make_unique<Filter<kFilterCoefficients>>())
{
    std::memcpy(lowpassB, kLowpassB, sizeof lowpassB);
    std::memcpy(lowpassA, kLowpassA, sizeof lowpassA);
    lowpass->clear();
    lowpass->setCoefficients(lowpassB, lowpassA);
}

void os2Distort::configure(bool oversampleOn, float driveK, float thresholdPower, float attack,
                           float release, float ratioFactor) noexcept
{
    oversample = oversampleOn;
    drive = driveK;
    threshold = thresholdPower;
    attackCoeff = attack;
    releaseCoeff = release;
    ratio = ratioFactor;
    thresholdLog = skv::fastLog10(threshold);
}

void os2Distort::reset() noexcept
{
    lowpass->clear();
}

// The compressor's per-sample state and settings, held in locals for a run of samples.
struct os2Distort::Compressor
{
    float envelope, gain, offset;
    float threshold, thresholdLog, attack, release, ratio;

    inline void step(float x) noexcept
    {
        const float p = x * x + offset;
        const float c = p > envelope ? attack : release;
        envelope = p + c * (envelope - p) + kEnvelopeBias;
        float target = 1.0f;
        if (threshold < 1.0f)
        {
            const float level = skv::fastLog10Sqrt(envelope);
            if (level > thresholdLog)
                target = skv::fastExp(-((level - thresholdLog) * ratio) * skv::kLn10);
        }
        // Flushed so that a target of 0 (exp underflow) cannot leave a subnormal gain.
        gain = skv::flushDenormal(target + kGainGlide * (gain - target));
    }
};

template <bool Oversample>
void os2Distort::run(float* io, int n) noexcept
{
    Compressor comp{envelope, gain, offset, threshold, thresholdLog,
                    attackCoeff, releaseCoeff, ratio};
    const float k = drive;
    if (!Oversample)
    {
        for (int i = 0; i < n; ++i)
        {
            const float x = limitInput(io[i]);
            comp.step(x);
            const float y = x * comp.gain + comp.offset;
            comp.offset = -comp.offset;
            io[i] = clip(y, k);
        }
    }
    else
    {
        // Two passes over chunks of the block: first the compressor gains (the envelope and
        // gain recursions with the log/exp law between them), then interpolation, clipping
        // and the down-sampler, whose recursion is the other long chain. The operations and
        // their order per sample are those of the sample-by-sample description.
        float h0 = history[0], h1 = history[1], h2 = history[2], h3 = history[3];
        auto run = lowpass->beginRun();
        float y = lowpass->lastOutput;
        float gains[kChunk];
        for (int start = 0; start < n; start += kChunk)
        {
            const int len = n - start < kChunk ? n - start : kChunk;
            float* chunk = io + start;
            float off = comp.offset;
            for (int i = 0; i < len; ++i)
            {
                comp.step(limitInput(chunk[i]));
                gains[i] = comp.gain;
                comp.offset = -comp.offset;
            }
            for (int i = 0; i < len; ++i)
            {
                h0 = h1;
                h1 = h2;
                h2 = h3;
                h3 = limitInput(chunk[i]);
                // Catmull-Rom between h1 and h2 at t = 0.5.
                const float t = 0.5f;
                const float m1 = 0.5f * (h2 - h0);
                const float m2 = 0.5f * (h3 - h1);
                const float c3 = 2.0f * (h1 - h2) + m1 + m2;
                const float c2 = 3.0f * (h1 - h2) + 2.0f * m1 + m2;
                const float mid = ((c3 * t - c2) * t + m1) * t + h1;
                const float g = gains[i];
                lowpass->step(run, clip((mid + off) * g, k));
                y = lowpass->step(run, clip((h1 - off) * g, k));
                off = -off;
                chunk[i] = y;
            }
        }
        lowpass->endRun(run);
        lowpass->lastOutput = y;
        history[0] = h0;
        history[1] = h1;
        history[2] = h2;
        history[3] = h3;
    }
    envelope = comp.envelope;
    gain = comp.gain;
    offset = comp.offset;
}

void os2Distort::process(float* inOut, int n) noexcept
{
    if (oversample)
        run<true>(inOut, n);
    else
        run<false>(inOut, n);
    recoverIfNonFinite();
}

float os2Distort::processSample(float x) noexcept
{
    process(&x, 1);
    return x;
}

void os2Distort::recoverIfNonFinite() noexcept
{
    // Inputs are held finite, so only non-finite settings get here; start clean instead of
    // carrying NaN in the envelope, gain or filter ring for good.
    if (std::isfinite(envelope) && std::isfinite(gain) && std::isfinite(lowpass->lastOutput))
        return;
    envelope = 0.0f;
    gain = 1.0f;
    for (float& h : history)
        h = 0.0f;
    lowpass->clear();
}
