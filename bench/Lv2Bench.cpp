// The LV2 front door against the VST 2.x one: the same effect, blocks of 512 and 64 samples,
// once through CLv2Wrapper::run (ports compared, control sequence read, scan positions written)
// and once through processReplacing alone. The two should cost the same within noise; the
// "RTF" counter is seconds of audio per second of CPU time.
#include <benchmark/benchmark.h>

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include <array>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lv2/Lv2Wrapper.h"
#include "plugin/Skorvaline.h"

namespace {

constexpr double kRate = 44100.0;

// A minimal URID map, enough for the wrapper's event and option types.
struct UridMap {
    std::vector<std::string> uris;
    LV2_URID_Map feature{this, &UridMap::map};
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri)
    {
        auto& list = static_cast<UridMap*>(handle)->uris;
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i] == uri)
                return static_cast<LV2_URID>(i + 1);
        list.emplace_back(uri);
        return static_cast<LV2_URID>(list.size());
    }
};

struct Bench {
    UridMap urids;
    std::unique_ptr<skv::lv2::CLv2Wrapper> lv2;
    std::vector<float> inL, inR, outL, outR;
    std::array<float, skv::kNumParams> controls{};
    float positions[2] = {0.0f, 0.0f};
    LV2_Atom_Sequence sequence{};

    explicit Bench(int block) : inL(block), inR(block), outL(block), outR(block)
    {
        const LV2_Feature map{LV2_URID__map, &urids.feature};
        const LV2_Feature* features[] = {&map, nullptr};
        lv2 = skv::lv2::CLv2Wrapper::create(kRate, features);
        std::mt19937 gen(1);
        std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
        for (int i = 0; i < block; ++i) {
            inL[i] = dist(gen);
            inR[i] = dist(gen);
        }
        // An empty control sequence, as hosts hand one over every block.
        sequence.atom.type = UridMap::map(&urids, LV2_ATOM__Sequence);
        sequence.atom.size = sizeof(LV2_Atom_Sequence_Body);
        for (int i = 0; i < skv::kNumParams; ++i) {
            controls[i] = lv2->effect().currentProgram().getValue(i);
            lv2->connectPort(skv::lv2::kPortFirstParam + i, &controls[i]);
        }
        lv2->connectPort(skv::lv2::kPortInL, inL.data());
        lv2->connectPort(skv::lv2::kPortInR, inR.data());
        lv2->connectPort(skv::lv2::kPortOutL, outL.data());
        lv2->connectPort(skv::lv2::kPortOutR, outR.data());
        lv2->connectPort(skv::lv2::kPortControl, &sequence);
        lv2->connectPort(skv::lv2::kPortLIndexOut, &positions[0]);
        lv2->connectPort(skv::lv2::kPortRIndexOut, &positions[1]);
        lv2->activate();
    }
    void runLv2() { lv2->run(static_cast<std::uint32_t>(inL.size())); }
    void runVst()
    {
        float* in[2] = {inL.data(), inR.data()};
        float* out[2] = {outL.data(), outR.data()};
        lv2->effect().processReplacing(in, out, static_cast<VstInt32>(inL.size()));
    }
};

template <bool ThroughLv2>
void BM_Block(benchmark::State& state)
{
    Bench b(static_cast<int>(state.range(0)));
    for (int i = 0; i < 200; ++i)
        ThroughLv2 ? b.runLv2() : b.runVst();
    for (auto _ : state) {
        ThroughLv2 ? b.runLv2() : b.runVst();
        benchmark::DoNotOptimize(b.outL.data());
    }
    const double frames = static_cast<double>(state.iterations()) * state.range(0);
    state.counters["RTF"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Block, false)->Name("ProcessReplacing")->Arg(512)->Arg(64);
BENCHMARK_TEMPLATE(BM_Block, true)->Name("Lv2Run")->Arg(512)->Arg(64);
