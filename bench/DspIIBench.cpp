// Cost per channel-sample of the output stage (os2Distort, plain and 2x, per sample, per
// sub-block, and both channels in one two-lane pass), one driven SVF band, and the band bank
// with 3 and 20 bands.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/DrivenSVF.h"
#include "dsp/Saturation.h"
#include "dsp/SelBand.h"

namespace {

std::vector<float> noise(int n)
{
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> d(-0.9f, 0.9f);
    std::vector<float> v(static_cast<size_t>(n));
    for (float& x : v)
        x = d(rng);
    return v;
}

void perSample(benchmark::State& state, std::int64_t samples)
{
    // Inverted rate of samples/1e9 per second: nanoseconds per sample.
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(samples) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A compressing setting, so the log/exp gain law runs on most samples.
void configure(os2Distort& d, bool os)
{
    d.configure(os, 0.5f, 0.05f, 0.3f, 0.999f, 1.2f);
}

void BM_Os2DistortPerSample(benchmark::State& state)
{
    const bool os = state.range(0) != 0;
    const int n = 256;
    os2Distort d;
    configure(d, os);
    const std::vector<float> in = noise(n);
    std::vector<float> out(n);
    for (auto _ : state) {
        for (int i = 0; i < n; ++i)
            out[i] = d.processSample(in[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    perSample(state, n);
}
BENCHMARK(BM_Os2DistortPerSample)->Arg(0)->Arg(1);

void BM_Os2DistortBlock(benchmark::State& state)
{
    const bool os = state.range(0) != 0;
    const int block = static_cast<int>(state.range(1));
    const int n = 256;
    os2Distort d;
    configure(d, os);
    const std::vector<float> in = noise(n);
    std::vector<float> buf(n);
    for (auto _ : state) {
        buf = in;
        for (int pos = 0; pos < n; pos += block)
            d.process(buf.data() + pos, block);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    perSample(state, n);
}
// Plain and 2x, each per sub-block of 8, 32 and 256 samples.
void outputStageArgs(benchmark::internal::Benchmark* b)
{
    for (int os : {0, 1})
        for (int block : {8, 32, 256})
            b->Args({os, block});
}
BENCHMARK(BM_Os2DistortBlock)->Apply(outputStageArgs);

// Both channels in one two-lane pass (processStereo), left and right with their own settings,
// per sub-block of range(1) samples (the engine's default is 8). ns per channel-sample.
void BM_Os2DistortStereo(benchmark::State& state)
{
    const bool os = state.range(0) != 0;
    const int block = static_cast<int>(state.range(1));
    const int n = 256;
    os2Distort left, right;
    configure(left, os);
    right.configure(os, 0.3f, 0.1f, 0.5f, 0.998f, 0.8f);
    const std::vector<float> inL = noise(n);
    std::vector<float> inR(inL.rbegin(), inL.rend());
    std::vector<float> bufL(n), bufR(n);
    for (auto _ : state) {
        bufL = inL;
        bufR = inR;
        for (int pos = 0; pos < n; pos += block)
            processStereo(left, right, bufL.data() + pos, bufR.data() + pos, block);
        benchmark::DoNotOptimize(bufL.data());
        benchmark::DoNotOptimize(bufR.data());
        benchmark::ClobberMemory();
    }
    perSample(state, 2 * n);
}
BENCHMARK(BM_Os2DistortStereo)->Apply(outputStageArgs);

void BM_DrivenSVF(benchmark::State& state)
{
    const int n = 256;
    CDrivenSVF svf;
    svf.setGlide(0.9f);
    const std::vector<float> in = noise(n);
    float acc = 0;
    int flip = 0;
    for (auto _ : state) {
        // Moving targets keep the glide (and so the sine and root) busy.
        svf.setCutoffTarget((flip ^= 1) ? 0.05f : 0.3f);
        svf.setDampingTarget(flip ? 0.2f : 0.9f);
        for (int i = 0; i < n; ++i)
            acc += svf.processSample(in[i]);
        benchmark::DoNotOptimize(acc);
    }
    perSample(state, n);
}
BENCHMARK(BM_DrivenSVF);

// A bank of `bands` bands tuned from a sine-shaped column.
void prepare(CSelBand& bank, int bands)
{
    bank.setActiveBands(bands);
    bank.setSmoothing(0.99f);
    bank.applyPendingChanges();
    std::vector<float> column(80);
    for (int k = 0; k < 80; ++k)
        column[k] = 0.9f * std::sin(0.37f * k);
    bank.setFromColumn(column.data());
}

void BM_SelBand(benchmark::State& state)
{
    const int n = 256;
    CSelBand bank;
    prepare(bank, static_cast<int>(state.range(0)));
    const std::vector<float> in = noise(n);
    std::vector<float> out(n);
    for (auto _ : state) {
        for (int i = 0; i < n; ++i)
            out[i] = bank.processSample(in[i], 0.6f, 0.9f);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    perSample(state, n);
}
BENCHMARK(BM_SelBand)->Arg(3)->Arg(20);

// The loop-level entry point the engine calls once per sub-block, range(1) samples long
// (the engine's default is 8).
void BM_SelBandBlock(benchmark::State& state)
{
    const int block = static_cast<int>(state.range(1));
    const int n = 256;
    CSelBand bank;
    prepare(bank, static_cast<int>(state.range(0)));
    const std::vector<float> in = noise(n);
    std::vector<float> out(n);
    float warp = 0.6f;
    for (auto _ : state) {
        for (int pos = 0; pos < n; pos += block)
            bank.process(in.data() + pos, out.data() + pos, block, warp, 0.0f, 0.9f);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    perSample(state, n);
}
BENCHMARK(BM_SelBandBlock)->Args({3, 8})->Args({3, 32})->Args({20, 8})->Args({20, 32});

}  // namespace
