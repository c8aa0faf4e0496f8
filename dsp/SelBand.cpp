// Band filter bank: column analysis, tuning refresh and the posted-request handling.
#include "dsp/SelBand.h"

#include <algorithm>
#include <cstddef>

CSelBand::CSelBand() : outputScale(std::log(static_cast<float>(kInitialBands)))
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
    if (flags & kPendingBands) {
        activeBands = pendingBands.load(std::memory_order_relaxed);
        outputScale = std::log(static_cast<float>(activeBands));
    }
    if (flags & kPendingReset) {
        for (int g = 0; g < capacity / CDrivenSVF4::kLanes; ++g)
            groups[static_cast<std::size_t>(g)].resetBands();
    }
    if (flags & kPendingSmoothing)
        smoothing = pendingSmoothing.load(std::memory_order_relaxed);
    if (flags & kPendingGlide) {
        // Read after the reset above, so a reset posted after a smoothing request leaves
        // 0.5 and a smoothing request posted after a reset leaves its own value.
        const float g = pendingGlide.load(std::memory_order_relaxed);
        for (CDrivenSVF4& group : groups)
            group.setGlide(g);
    }
}

void CSelBand::setBandTargets(int i, float cutoff, float damping) noexcept
{
    CDrivenSVF4& group = groups[static_cast<std::size_t>(i / CDrivenSVF4::kLanes)];
    group.setCutoffTarget(i % CDrivenSVF4::kLanes, cutoff);
    group.setDampingTarget(i % CDrivenSVF4::kLanes, damping);
}

void CSelBand::refreshTunings() noexcept
{
    const float exponent = cutoffExponent();
    for (int i = 0; i < activeBands; ++i)
        setBandTargets(i, std::pow(peakPosition[i], exponent), resonanceTarget(peakHeight[i]));
}

void CSelBand::setFromColumn(const float* values) noexcept
{
    applyPendingChanges();
    const int n = activeBands;
    const float step = 1.0f / static_cast<float>(n);
    const float column = static_cast<float>(kColumnLength);
    const float exponent = cutoffExponent();
    float total = 0.0f;
    // Sum of the segment sums that produce a gain; the fallback normaliser below.
    float contributing = 0.0f;
    for (int i = 0; i < n; ++i) {
        const int start = static_cast<int>(std::floor(static_cast<float>(i) * step * column));
        // For some counts (41 for one) n * step * 80 rounds to just below 80, which would drop
        // the column's last value; the last segment always runs to the end.
        const int end =
            i == n - 1
                ? kColumnLength
                : std::min(static_cast<int>(std::floor(static_cast<float>(i + 1) * step * column)),
                           kColumnLength);
        float peak = 0.0f;
        int peakIndex = start;
        float segSum = 0.0f;
        for (int k = start; k < end; ++k) {
            const float v = std::isfinite(values[k]) ? values[k] : 0.0f;
            if (v > peak) {
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
        setBandTargets(i, std::pow(position, exponent) + kLowestCutoff, resonanceTarget(peak));
    }
    // The gains are normalised by the column's total level. A total of 0 or less leaves
    // that undefined (0 gives NaN gains, a negative total negative ones); the normaliser
    // then becomes the sum over the segments that have a gain, so those gains add up as
    // they would for a column of positive segments, and with no such segment all are 0.
    float norm = total;
    if (!(total > 0.0f))
        norm = contributing;
    const float scale = norm > 0.0f ? (column / norm) * 2.0f : 0.0f;
    for (int i = 0; i < n; ++i)
        gainTarget[i] = gainTarget[i] * scale;
}

// ---- per-sample work ------------------------------------------------------------------------

float CSelBand::processSample(float x, float warp, float resonance) noexcept
{
    // warp + 0 is warp again (a -0 bend turns +0, which gives the same power).
    float w = warp;
    float y;
    process(&x, &y, 1, w, 0.0f, resonance);
    return y;
}

void CSelBand::process(const float* in, float* out, int n, float& warp, float warpIncrement,
                       float resonance) noexcept
{
    if (n <= 0)
        return;
    applyPendingChanges();
    resonanceParam = resonance;
    alignas(16) float x[kChunk];
    alignas(16) float sums[kChunk];
    float w = warp;
    for (int done = 0; done < n;) {
        // A stretch ends before the next refresh, so targets only change at its start.
        const int phase = static_cast<int>(sampleCounter & (kRefreshPeriod - 1));
        const int len = std::min({n - done, kChunk, static_cast<int>(kRefreshPeriod) - phase});
        // The warp is accumulated sample by sample, as the caller's per-sample loop would.
        w += warpIncrement;
        if (phase == 0) {
            warpParam = w;
            refreshTunings();
        }
        for (int j = 1; j < len; ++j)
            w += warpIncrement;
        for (int j = 0; j < len; ++j) {
            // NaN becomes silence; everything else is held to full scale.
            const float v = in[done + j];
            x[j] = v > 1.0f ? 1.0f : (v < -1.0f ? -1.0f : (v == v ? v : 0.0f));
        }
        runBands(x, sums, len);
        for (int j = 0; j < len; ++j)
            out[done + j] = outputScale * sums[j];
        sampleCounter += static_cast<std::uint32_t>(len);
        done += len;
    }
    warpParam = w;
    warp = w;
}

void CSelBand::runBands(const float* x, float* sums, int n) noexcept
{
    for (int start = 0; start < n;) {
        // After a blow-up the rest goes one sample at a time, so a run of blow-ups costs no
        // more than per-sample processing (rerunning the whole rest each time would not).
        const int end = start == 0 ? n : start + 1;
        sumBands(x + start, sums + start, end - start);
        int bad = start;
        while (bad < end && std::isfinite(sums[bad]))
            ++bad;
        if (bad == end) {
            start = end;
            continue;
        }
        // Sample `bad` blew up: it gives silence and the bands start afresh from the next
        // sample, exactly as if they had stopped there (the steps already taken beyond it are
        // dropped, and their denormal sign flips undone).
        recoverFromNonFinite(end - bad - 1);
        sums[bad] = 0.0f;
        start = bad + 1;
    }
    output = sums[n - 1];
}

void CSelBand::sumBands(const float* x, float* sums, int n) noexcept
{
    alignas(16) float products[kChunk * CDrivenSVF4::kLanes];
    const int groupsUsed = groupsInUse();
    const int n4 = n & ~3;
    for (int g = 0; g < groupsUsed; ++g) {
        runGroup(g, x, n, products);
        // products holds [sample][lane]; four samples at a time are turned into
        // [lane][sample] so each band's products add to four sums at once, bands in order.
        const int lanes = std::min(activeBands - g * CDrivenSVF4::kLanes, CDrivenSVF4::kLanes);
        for (int j = 0; j < n4; j += 4) {
            __m128 r0 = _mm_load_ps(products + 4 * j);
            __m128 r1 = _mm_load_ps(products + 4 * j + 4);
            __m128 r2 = _mm_load_ps(products + 4 * j + 8);
            __m128 r3 = _mm_load_ps(products + 4 * j + 12);
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            // The first band adds to 0 as a running sum starting at 0 would (-0 + 0 = +0).
            __m128 acc = g == 0 ? _mm_setzero_ps() : _mm_loadu_ps(sums + j);
            acc = _mm_add_ps(acc, r0);
            if (lanes > 1)
                acc = _mm_add_ps(acc, r1);
            if (lanes > 2)
                acc = _mm_add_ps(acc, r2);
            if (lanes > 3)
                acc = _mm_add_ps(acc, r3);
            _mm_storeu_ps(sums + j, acc);
        }
        for (int j = n4; j < n; ++j) {
            float acc = g == 0 ? 0.0f : sums[j];
            for (int l = 0; l < lanes; ++l)
                acc += products[4 * j + l];
            sums[j] = acc;
        }
    }
}

void CSelBand::runGroup(int group, const float* x, int n, float* products) noexcept
{
    // One group at a time keeps its state in registers over the stretch. (Two interleaved
    // groups measured no faster: the step is bound by throughput, not by its recursion.)
    const std::size_t g = static_cast<std::size_t>(group);
    CDrivenSVF4::Regs r = groups[g].load();
    float* gs = &gainSmoothed[g * CDrivenSVF4::kLanes];
    const __m128 target = _mm_load_ps(&gainTarget[g * CDrivenSVF4::kLanes]);
    __m128 smoothed = _mm_load_ps(gs);
    const __m128 s = _mm_set1_ps(smoothing);
    for (int j = 0; j < n; ++j) {
        // Flushed, so that a gain gliding to 0 never decays into subnormals.
        const __m128 gain =
            skv::flushDenormal(_mm_add_ps(target, _mm_mul_ps(s, _mm_sub_ps(smoothed, target))));
        smoothed = gain;
        const __m128 y = CDrivenSVF4::step(r, _mm_set1_ps(x[j]));
        _mm_store_ps(products + j * CDrivenSVF4::kLanes, _mm_mul_ps(y, gain));
    }
    if (activeBands >= (group + 1) * CDrivenSVF4::kLanes) {
        groups[g].store(r);
        _mm_store_ps(gs, smoothed);
    }
    else {
        // Lanes beyond the active bands ran along but keep their old state, as idle bands do.
        const __m128 mask = laneMask(group);
        groups[g].store(r, mask);
        CDrivenSVF4::blend(gs, smoothed, mask);
    }
}

__m128 CSelBand::laneMask(int group) const noexcept
{
    const int lanes = activeBands - group * CDrivenSVF4::kLanes;
    // Lane l is active when l < lanes.
    return _mm_castsi128_ps(_mm_cmplt_epi32(_mm_setr_epi32(0, 1, 2, 3), _mm_set1_epi32(lanes)));
}

void CSelBand::recoverFromNonFinite(int extraSteps) noexcept
{
    // Only reachable through hostile targets; start the bands afresh rather than let NaN
    // stay in their states and gains for good.
    const int groupsUsed = groupsInUse();
    for (int g = 0; g < kGroups; ++g) {
        CDrivenSVF4& group = groups[static_cast<std::size_t>(g)];
        group.resetBands();
        group.setGlide(smoothing);
        if ((extraSteps & 1) != 0 && g < groupsUsed)
            group.flipDenormal(laneMask(g));
    }
    gainSmoothed.fill(0.0f);
    output = 0.0f;
}
