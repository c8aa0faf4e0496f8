// Threads: a second thread storms the parameter path (filter order, time constant, sync,
// step time, delays, analysis and tab switches, programs with their filter maps) while the
// audio thread processes with tempo sync on, so that its tempo poll re-snaps delays and its
// scan steps move the indices. Meant for the thread-sanitizer build, where it runs without
// any suppression; in a normal build it checks that nothing deadlocks and the audio stays
// finite.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "EngineProbe.h"

TEST(EngineStress, ParameterStormWhileProcessing)
{
    enginetest::setScriptedTime(120.0);
    enginetest::CEngineProbe fx(&enginetest::scriptedHost);
    fx.setParameter(41, 0.0f);  // a scan step every 32 samples
    fx.setParameter(39, 0.5f);  // right channel analyses its delay line
    fx.setParameter(47, 0.3f);  // tempo-synced delays and scan: the audio thread polls
    fx.setParameter(48, 0.3f);
    std::atomic<bool> stop{false};
    std::atomic<bool> finite{true};
    std::atomic<long> blocks{0};

    std::thread audio([&] {
        std::vector<float> inL(64), inR(64), outL(64), outR(64);
        std::mt19937 gen(5);
        std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
        while (!stop.load()) {
            for (int i = 0; i < 64; ++i) {
                inL[i] = dist(gen);
                inR[i] = dist(gen);
            }
            fx.block(inL.data(), inR.data(), outL.data(), outR.data(), 64);
            for (int i = 0; i < 64; ++i)
                if (!std::isfinite(outL[i]) || !std::isfinite(outR[i]))
                    finite = false;
            blocks.fetch_add(1);
        }
    });

    std::mt19937 gen(9);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const VstInt32 storm[] = {40, 42, 47, 48, 41, 36, 37, 2, 3, 4, 18, 38, 39, 27, 28, 30};
    for (int i = 0; i < 3000 || blocks.load() < 200; ++i) {
        const VstInt32 index = storm[i % (sizeof storm / sizeof storm[0])];
        fx.setParameter(index, unit(gen));
        if (i % 97 == 0)
            fx.setProgram(i % 16);
        if (i % 211 == 0)
            fx.loadFilterMap(i % 2 ? "#1" : "#2", i % 3 ? 26 : 31, true);
        if (i % 13 == 0)
            std::this_thread::yield();
        if (i > 200000)
            break;
    }
    stop = true;
    audio.join();
    EXPECT_TRUE(finite.load());
    EXPECT_GE(blocks.load(), 200);
}
