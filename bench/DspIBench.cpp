// The lattice in its reference form (two channels one after the other) against the fused
// two-lane kernel on each of its paths (SSE2, FMA) and against the fused kernel as it was
// before its recursion was reassociated, in the same run, at orders 12, 40 and 80; the delay
// line steady and gliding; one LPC extraction at order 80. Per-frame figures are counters.
#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <random>
#include <vector>

#include "dsp/Delay.h"
#include "dsp/LatticeStereoKernel.h"
#include "dsp/UnitWIIRLattice.h"
#include "dsp/WarpedLPCExtraction.h"
#include "LatticeKernelBefore.h"

namespace {

using Lattice = usp::CUnitWIIRLattice<float, 81>;

std::vector<float> noise(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    std::vector<float> v(static_cast<std::size_t>(n));
    for (float& x : v)
        x = d(rng);
    return v;
}

// ns per item: the inverted rate of items/1e9 per second.
void nsPer(benchmark::State& state, const char* name, std::int64_t items)
{
    state.counters[name] = benchmark::Counter(static_cast<double>(items) * 1e-9,
                                              benchmark::Counter::kIsIterationInvariantRate |
                                                  benchmark::Counter::kInvert);
}

// A resonant but stable column, as a filter map would hand over (targets are negated inside).
void prepare(Lattice& lat, int order, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.9f, 0.9f);
    std::vector<float> column(80);
    for (float& v : column)
        v = d(rng);
    lat.setOrder(order);
    lat.setSmoothing(0.9f);
    lat.setTargetCoefficients(column.data(), 80);
    for (int i = 0; i < 50; ++i)
        lat.glideCoefficients(0.6f, 0.9f);
}

constexpr int kFrames = 512;

// A left/right pair of prepared lattices fed kFrames of noise per pass in sub-blocks of
// `block` samples, with one glide per sub-block as the engine does.
struct LatticeRun {
    Lattice left, right;
    const int block;
    const std::vector<float> inL = noise(kFrames, 3), inR = noise(kFrames, 4);
    std::vector<float> outL = std::vector<float>(kFrames), outR = std::vector<float>(kFrames);

    LatticeRun(int order, int blockSize) : block(blockSize)
    {
        prepare(left, order, 1);
        prepare(right, order, 2);
    }

    // The written order: one channel after the other per sample.
    void reference()
    {
        for (int pos = 0; pos < kFrames; pos += block) {
            right.glideCoefficients(0.6f, 0.9f);
            left.glideCoefficients(0.6f, 0.9f);
            for (int i = pos; i < pos + block; ++i) {
                outL[i] = left.process(inL[i]);
                outR[i] = right.process(inR[i]);
            }
        }
        keep();
    }

    // The same work through the fused stereo kernel, on the path in force.
    void kernel()
    {
        for (int pos = 0; pos < kFrames; pos += block) {
            right.glideCoefficients(0.6f, 0.9f);
            left.glideCoefficients(0.6f, 0.9f);
            usp::processStereoLattice(left, right, inL.data() + pos, inR.data() + pos,
                                      outL.data() + pos, outR.data() + pos, block);
        }
        keep();
    }

    // The same work through the fused kernel as it was before the reassociation.
    void before()
    {
        for (int pos = 0; pos < kFrames; pos += block) {
            right.glideCoefficients(0.6f, 0.9f);
            left.glideCoefficients(0.6f, 0.9f);
            benchref::processStereoLatticeBefore(left, right, inL.data() + pos, inR.data() + pos,
                                                 outL.data() + pos, outR.data() + pos, block);
        }
        keep();
    }

    // The coefficient glides alone, as every form above runs them: the share of the time that
    // is not the recursion, so that the kernels can also be compared without it.
    void glides()
    {
        for (int pos = 0; pos < kFrames; pos += block) {
            right.glideCoefficients(0.6f, 0.9f);
            left.glideCoefficients(0.6f, 0.9f);
        }
        keep();
    }

    void keep()
    {
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::ClobberMemory();
    }
};

void BM_LatticeReference(benchmark::State& state)
{
    LatticeRun run(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        run.reference();
    nsPer(state, "ns_per_frame", kFrames);
}

// range(2): 0 the kernel before the reassociation, 1 the SSE2 path, 2 the FMA path.
void BM_LatticeStereoKernel(benchmark::State& state)
{
    const int variant = static_cast<int>(state.range(2));
    if (variant == 2 && !usp::latticePathAvailable(usp::LatticePath::kFma)) {
        state.SkipWithError("no FMA on this processor");
        return;
    }
    const usp::LatticePath previous = usp::latticePath();
    usp::selectLatticePath(variant == 2 ? usp::LatticePath::kFma : usp::LatticePath::kSse2);
    LatticeRun run(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        if (variant == 0)
            run.before();
        else
            run.kernel();
    }
    usp::selectLatticePath(previous);
    nsPer(state, "ns_per_frame", kFrames);
}

double threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// All forms inside the same iteration, one block after the other, so that a busy machine
// slows them alike: the reference, the fused kernel before the reassociation ("before"), and
// the present kernel on its SSE2 and FMA paths. Reports each one's CPU time per frame and
// the speed-ups over "before", with the coefficient glides (the same in every form, and a
// large share at short blocks) and without them.
void BM_LatticeSpeedup(benchmark::State& state)
{
    const int order = static_cast<int>(state.range(0));
    const int block = static_cast<int>(state.range(1));
    const bool fma = usp::latticePathAvailable(usp::LatticePath::kFma);
    const usp::LatticePath previous = usp::latticePath();
    LatticeRun ref(order, block), old(order, block), sse2(order, block), fused(order, block),
        glide(order, block);
    double refNs = 0.0, oldNs = 0.0, sse2Ns = 0.0, fmaNs = 0.0, glideNs = 0.0, frames = 0.0;
    for (auto _ : state) {
        const double t0 = threadCpuNs();
        ref.reference();
        const double t1 = threadCpuNs();
        old.before();
        const double t2 = threadCpuNs();
        usp::selectLatticePath(usp::LatticePath::kSse2);
        sse2.kernel();
        const double t3 = threadCpuNs();
        if (fma) {
            usp::selectLatticePath(usp::LatticePath::kFma);
            fused.kernel();
        }
        const double t4 = threadCpuNs();
        glide.glides();
        const double t5 = threadCpuNs();
        glideNs += t5 - t4;
        refNs += t1 - t0;
        oldNs += t2 - t1;
        sse2Ns += t3 - t2;
        fmaNs += t4 - t3;
        frames += kFrames;
    }
    usp::selectLatticePath(previous);
    state.counters["ref_ns_per_frame"] = refNs / frames;
    state.counters["before_ns_per_frame"] = oldNs / frames;
    state.counters["sse2_ns_per_frame"] = sse2Ns / frames;
    state.counters["sse2_speedup"] = sse2Ns > 0.0 ? oldNs / sse2Ns : 0.0;
    state.counters["glide_ns_per_frame"] = glideNs / frames;
    const auto withoutGlides = [glideNs](double before, double now) {
        return now > glideNs ? (before - glideNs) / (now - glideNs) : 0.0;
    };
    state.counters["sse2_kernel_speedup"] = withoutGlides(oldNs, sse2Ns);
    if (fma) {
        state.counters["fma_ns_per_frame"] = fmaNs / frames;
        state.counters["fma_speedup"] = fmaNs > 0.0 ? oldNs / fmaNs : 0.0;
        state.counters["fma_kernel_speedup"] = withoutGlides(oldNs, fmaNs);
    }
}

void latticeArgs(benchmark::internal::Benchmark* b)
{
    for (int order : {12, 40, 80})
        for (int block : {8, 64, 512})
            b->Args({order, block});
}
void kernelArgs(benchmark::internal::Benchmark* b)
{
    for (int order : {12, 40, 80})
        for (int block : {8, 64, 512})
            for (int variant : {0, 1, 2})
                b->Args({order, block, variant});
}
BENCHMARK(BM_LatticeReference)->Apply(latticeArgs);
BENCHMARK(BM_LatticeStereoKernel)->Apply(kernelArgs);
BENCHMARK(BM_LatticeSpeedup)->Apply(latticeArgs);

// kFrames samples through the line.
void play(Delay<float>& line, const std::vector<float>& in, std::vector<float>& out)
{
    for (int i = 0; i < kFrames; ++i)
        out[i] = line.processSample(in[i]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
}

// One line at a steady fractional delay: taps and weights stay as they are.
void BM_DelaySteady(benchmark::State& state)
{
    Delay<float> line(176400);
    line.setDelay(22050.37f);
    const std::vector<float> in = noise(kFrames, 5);
    std::vector<float> out(kFrames);
    for (int i = 0; i < 40000; ++i)  // let the start-up glide settle
        line.processSample(0.0f);
    for (auto _ : state)
        play(line, in, out);
    nsPer(state, "ns_per_sample", kFrames);
}
BENCHMARK(BM_DelaySteady);

// One line whose target keeps moving, so every sample glides and recomputes its weights.
void BM_DelayGliding(benchmark::State& state)
{
    Delay<float> line(176400);
    const std::vector<float> in = noise(kFrames, 6);
    std::vector<float> out(kFrames);
    bool up = false;
    for (auto _ : state) {
        line.setDelay((up = !up) ? 30000.0f : 1000.0f);
        play(line, in, out);
    }
    nsPer(state, "ns_per_sample", kFrames);
}
BENCHMARK(BM_DelayGliding);

// Backward playback, for comparison with the forward paths.
void BM_DelayReverse(benchmark::State& state)
{
    Delay<float> line(176400);
    line.setReverse(1.0f);
    line.setDelay(4410.0f);
    const std::vector<float> in = noise(kFrames, 7);
    std::vector<float> out(kFrames);
    for (auto _ : state)
        play(line, in, out);
    nsPer(state, "ns_per_sample", kFrames);
}
BENCHMARK(BM_DelayReverse);

// One extraction as at a scan step in analysis mode: 128-sample frame, order 80, the
// engine's analysis warp 0.85 (warped) and 0 (plain) for comparison.
void BM_LpcExtraction(benchmark::State& state)
{
    const float warp = static_cast<float>(state.range(1)) / 100.0f;
    const int order = static_cast<int>(state.range(0));
    usp::CWarpedLPCExtraction<float, 256, 60> lpc;
    std::vector<float> frame = noise(512, 8);
    // Some colour, so that the recursion has real work to do.
    for (int i = 1; i < 512; ++i)
        frame[i] += 0.9f * frame[i - 1];
    std::vector<float> out(80);
    for (auto _ : state) {
        lpc.extract(frame.data(), out.data(), order, warp);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    nsPer(state, "ns_per_extraction", 1);
}
BENCHMARK(BM_LpcExtraction)->Args({80, 85})->Args({80, 0})->Args({12, 85});

}  // namespace
