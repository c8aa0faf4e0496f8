// Band filter bank: column analysis, tuning refresh and the posted-request handling.
#include "dsp/SelBand.h"

#include <algorithm>

CSelBand::CSelBand()
    : outputScale(std::log(static_cast<float>(kInitialBands)))
{
    peakPosition.fill(0.01f);
    peakHeight.fill(0.1f);
    gainTarget.fill(0.0f);
    gainSmoothed.fill(0.0f);
}

void CSelBand::setActiveBands(int n) noexcept
{
    pendingBands.store(std::clamp(n, 1, kCapacity), std::memory_order_relaxed);
    pendingFlags.fetch_or(kPendingBands, std::memory_order_release);
}

void CSelBand::resetBands() noexcept
{
    pendingGlide.store(CDrivenSVF::kInitialGlide, std::memory_order_relaxed);
    pendingFlags.fetch_or(kPendingReset | kPendingGlide, std::memory_order_release);
}

void CSelBand::setSmoothing(float s) noexcept
{
    // A NaN weight would poison every glide for good.
    s = s == s ? std::clamp(s, 0.0f, 1.0f) : kInitialSmoothing;
    pendingSmoothing.store(s, std::memory_order_relaxed);
    pendingGlide.store(s, std::memory_order_relaxed);
    pendingFlags.fetch_or(kPendingSmoothing | kPendingGlide, std::memory_order_release);
}

void CSelBand::applyRequests(unsigned flags) noexcept
{
    if (flags & kPendingBands)
    {
        activeBands = pendingBands.load(std::memory_order_relaxed);
        outputScale = std::log(static_cast<float>(activeBands));
    }
    if (flags & kPendingReset)
    {
        for (int i = 0; i < capacity; ++i)
            bands[static_cast<std::size_t>(i)].resetBand();
    }
    if (flags & kPendingSmoothing)
        smoothing = pendingSmoothing.load(std::memory_order_relaxed);
    if (flags & kPendingGlide)
    {
        // Read after the reset above, so a reset posted after a smoothing request leaves
        // 0.5 and a smoothing request posted after a reset leaves its own value.
        const float g = pendingGlide.load(std::memory_order_relaxed);
        for (CDrivenSVF& b : bands)
            b.setGlide(g);
    }
}

void CSelBand::refreshTunings() noexcept
{
    const float exponent = 3.2f * warpParam + 0.8f;
    for (int i = 0; i < activeBands; ++i)
    {
        bands[i].setCutoffTarget(std::pow(peakPosition[i], exponent));
        bands[i].setDampingTarget(resonanceTarget(peakHeight[i]));
    }
}

void CSelBand::setFromColumn(const float* values) noexcept
{
    applyPendingChanges();
    const int n = activeBands;
    const float step = 1.0f / static_cast<float>(n);
    const float exponent = 3.2f * warpParam + 0.8f;
    float total = 0.0f;
    // Sum of the segment sums that produce a gain; the fallback normaliser below.
    float contributing = 0.0f;
    for (int i = 0; i < n; ++i)
    {
        const int start = static_cast<int>(std::floor(static_cast<float>(i) * step * 80.0f));
        // For some counts (41 for one) n * step * 80 rounds to just below 80, which would drop
        // the column's last value; the last segment always runs to the end.
        const int end = i == n - 1 ? kColumnLength
                                   : std::min(static_cast<int>(std::floor(
                                                  static_cast<float>(i + 1) * step * 80.0f)),
                                              kColumnLength);
        float peak = 0.0f;
        int peakIndex = start;
        float segSum = 0.0f;
        for (int k = start; k < end; ++k)
        {
            const float v = std::isfinite(values[k]) ? values[k] : 0.0f;
            if (v > peak)
            {
                peak = v;
                peakIndex = k;
            }
            segSum += v + kLevelBias;
        }
        const int segLen = end - start;
        // Rounding of i*step*80 could in principle give an empty segment: no gain then.
        float mean = segLen > 0 ? segSum / static_cast<float>(segLen) : 0.0f;
        if (mean < kMinMean)
            mean = 0.0f;
        else
            contributing += segSum;
        total += segSum;

        const float position = (static_cast<float>(peakIndex) + 0.5f) * kPositionStep;
        if (peak > kFullPeak)
            peak = 1.0f;
        peakPosition[i] = position;
        peakHeight[i] = peak;
        gainTarget[i] = mean;
        bands[i].setCutoffTarget(std::pow(position, exponent) + kLowestCutoff);
        bands[i].setDampingTarget(resonanceTarget(peak));
    }
    // The gains are normalised by the column's total level. A total of 0 or less leaves
    // that undefined (0 gives NaN gains, a negative total negative ones); the normaliser
    // then becomes the sum over the segments that have a gain, so those gains add up as
    // they would for a column of positive segments, and with no such segment all are 0.
    float norm = total;
    if (!(total > 0.0f))
        norm = contributing;
    const float scale = norm > 0.0f ? (80.0f / norm) * 2.0f : 0.0f;
    for (int i = 0; i < n; ++i)
        gainTarget[i] = gainTarget[i] * scale;
}

void CSelBand::process(const float* in, float* out, int n, float& warp, float warpIncrement,
                       float resonance) noexcept
{
    float w = warp;
    for (int i = 0; i < n; ++i)
    {
        w += warpIncrement;
        out[i] = processSample(in[i], w, resonance);
    }
    warp = w;
}

void CSelBand::recoverFromNonFinite() noexcept
{
    // Only reachable through hostile targets; start the bands afresh rather than let NaN
    // stay in their states and gains for good.
    for (CDrivenSVF& b : bands)
    {
        b.resetBand();
        b.setGlide(smoothing);
    }
    gainSmoothed.fill(0.0f);
    output = 0.0f;
}
