// The whole engine through processReplacing at 44.1 kHz stereo, in host blocks of 512 and 64
// samples, with the configured processing resolution (8 samples unless config.xml beside the
// program says otherwise). The "RTF" counter is seconds of audio per second of CPU time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "plugin/Skorvaline.h"

namespace {

constexpr double kRate = 44100.0;

struct Bench {
    std::unique_ptr<fxSkorvaline> fx = std::make_unique<fxSkorvaline>(nullptr);
    std::vector<float> inL, inR, outL, outR;

    explicit Bench(int block) : inL(block), inR(block), outL(block), outR(block)
    {
        std::mt19937 gen(1);
        std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
        for (int i = 0; i < block; ++i) {
            inL[i] = dist(gen);
            inR[i] = dist(gen);
        }
    }
    void block()
    {
        float* in[2] = {inL.data(), inR.data()};
        float* out[2] = {outL.data(), outR.data()};
        AEffect* e = fx->getAeffect();
        e->processReplacing(e, in, out, static_cast<VstInt32>(inL.size()));
    }
    void warm(int blocks)
    {
        for (int i = 0; i < blocks; ++i)
            block();
    }
    // Order 80 with the 2x output stage: the costliest lattice setting.
    void order80()
    {
        fx->setParameter(40, 1.0f);
        fx->setParameter(49, 0.6f);
    }
    // Order 80 driven hard (input doubled) for 400 blocks.
    void loud()
    {
        order80();
        for (auto& v : inL)
            v *= 2.0f;
        for (auto& v : inR)
            v *= 2.0f;
        warm(400);
    }
};

void runBlocks(benchmark::State& state, Bench& b)
{
    for (auto _ : state) {
        b.block();
        benchmark::DoNotOptimize(b.outL.data());
        benchmark::ClobberMemory();
    }
    state.counters["RTF"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * b.inL.size() / kRate,
                           benchmark::Counter::kIsRate);
}

void order80Lattice(benchmark::State& state)
{
    Bench b(static_cast<int>(state.range(0)));
    b.order80();
    b.warm(200);
    runBlocks(state, b);
}

void defaultProgram(benchmark::State& state)
{
    Bench b(static_cast<int>(state.range(0)));
    b.warm(200);
    runBlocks(state, b);
}

void order12(benchmark::State& state)
{
    Bench b(static_cast<int>(state.range(0)));
    b.fx->setParameter(40, 10.0f / 78.0f);
    b.warm(200);
    runBlocks(state, b);
}

void bandBank80(benchmark::State& state)
{
    Bench b(static_cast<int>(state.range(0)));
    b.order80();                   // 20 bands
    b.fx->setParameter(36, 1.0f);  // band filters on both channels
    b.fx->setParameter(37, 1.0f);
    b.warm(200);
    runBlocks(state, b);
}

// Self-analysis of both delay lines at order 80; range(1) is the step time: 0.002 gives a scan
// step every 352 samples, 0 the shortest step of 31.
void lpcAnalysis80(benchmark::State& state)
{
    Bench b(static_cast<int>(state.range(0)));
    b.order80();
    b.fx->setParameter(38, 0.7f);  // left: self-analysis
    b.fx->setParameter(39, 0.5f);  // right: self-analysis
    b.fx->setParameter(41, static_cast<float>(state.range(1)) / 1000.0f);
    b.warm(200);
    runBlocks(state, b);
}

// Loud input, then silence: the silent blocks must cost what busy ones do.
void silentAfterLoud(benchmark::State& state)
{
    Bench b(static_cast<int>(state.range(0)));
    b.loud();
    std::fill(b.inL.begin(), b.inL.end(), 0.0f);
    std::fill(b.inR.begin(), b.inR.end(), 0.0f);
    b.warm(4000);  // 46 s of silence at 512: every tail has decayed
    runBlocks(state, b);
}

void busyLoud(benchmark::State& state)
{
    Bench b(static_cast<int>(state.range(0)));
    b.loud();
    runBlocks(state, b);
}

}  // namespace

BENCHMARK(order80Lattice)->Arg(512)->Arg(64);
BENCHMARK(defaultProgram)->Arg(512)->Arg(64);
BENCHMARK(order12)->Arg(512)->Arg(64);
BENCHMARK(bandBank80)->Arg(512)->Arg(64);
BENCHMARK(lpcAnalysis80)->Args({512, 2})->Args({512, 0});
BENCHMARK(busyLoud)->Arg(512);
BENCHMARK(silentAfterLoud)->Arg(512);
