// The whole engine's output as golden data: for a dozen settings that between them reach every
// pass of the signal path (orders, oversampling, reverse lines, tempo sync, band banks, self-
// analysis, slave mode, valid and invalid filter maps, odd and even host blocks), three seconds
// of test signal are rendered through the plug-in's binary interface and a hash of the output
// bits is compared with the stored one. Restructuring the code must leave every hash as it is;
// a change that is meant to alter the sound updates the hashes in its own commit.
//
// The lattice path is forced to the SSE2 kernel (present on every x86-64), so the hashes do not
// depend on the processor the tests run on; one setting also covers the written-order lattice.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "support/TestHost.h"
#include "support/TestSignals.h"

namespace {

using skvtest::CTestHost;

constexpr std::size_t kFrames = 3 * 44100;

const char* const kZipOffConfig =
    "<?xml version=\"1.0\"?><Skorvaline><Skin path=\"\"/><ControllerMap/>"
    "<Files zip-presets=\"no\"/><Processing resolution=\"8\"/><Globals/></Skorvaline>";

// FNV-1a over the bit patterns of both channels, left then right.
std::uint64_t hashBits(const std::vector<float>& l, const std::vector<float>& r)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const auto* channel : {&l, &r}) {
        for (float v : *channel) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &v, sizeof bits);
            for (int b = 0; b < 4; ++b) {
                h ^= (bits >> (8 * b)) & 0xffu;
                h *= 0x100000001b3ull;
            }
        }
    }
    return h;
}

// The bank document with program 0's filter maps pointing at the given references.
std::string withMaps(const std::string& document, const char* left, const char* right)
{
    tinyxml2::XMLDocument xml;
    xml.Parse(document.c_str());
    tinyxml2::XMLElement* preset = xml.FirstChildElement("Bank")->FirstChildElement("Preset");
    for (auto* e = preset->FirstChildElement("param"); e; e = e->NextSiblingElement("param")) {
        const char* id = e->Attribute("id");
        if (std::strcmp(id, "Bitmap L") == 0 || std::strcmp(id, "Bitmap R") == 0) {
            e->SetAttribute("path", std::strcmp(id, "Bitmap L") == 0 ? left : right);
            e->DeleteAttribute("base64");
        }
    }
    tinyxml2::XMLPrinter printer;
    xml.Print(&printer);
    return printer.CStr();
}

struct Setting {
    const char* name;
    std::size_t block;
    const char* leftMap;  // nullptr: the default program's (no valid picture)
    const char* rightMap;
    std::vector<std::pair<int, float>> parameters;
    std::uint64_t expected;
    const char* latticePath = "sse2";
};

// Renders the setting: a fresh library copy, 44.1 kHz at 120 BPM, one second of noise (different
// on each side) with an impulse every quarter second on the left, then two seconds of echoes.
std::uint64_t render(const Setting& s)
{
    ::setenv("SKV_LATTICE_PATH", s.latticePath, 1);
    CTestHost host;
    host.writeConfig(kZipOffConfig);
    host.timeInfo.tempo = 120.0;
    host.timeInfo.sampleRate = 44100.0;
    host.timeInfo.timeSigNumerator = 4;
    host.timeInfo.timeSigDenominator = 4;
    host.timeInfo.flags = kVstTempoValid | kVstTimeSigValid | kVstPpqPosValid | kVstBarsValid;
    AEffect* fx = host.create();
    ::unsetenv("SKV_LATTICE_PATH");
    EXPECT_NE(fx, nullptr);
    if (!fx) {
        return 0;
    }
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    host.dispatch(effSetBlockSize, 0, static_cast<VstIntPtr>(s.block));
    if (s.leftMap) {
        const std::vector<unsigned char> chunk = host.getChunk(false);
        const std::string document =
            withMaps(std::string(chunk.begin(), chunk.end() - 1), s.leftMap, s.rightMap);
        EXPECT_EQ(
            host.setChunk(std::vector<unsigned char>(document.begin(), document.end() + 1), false),
            1);
    }
    for (const auto& [index, value] : s.parameters) {
        host.setParameter(index, value);
    }
    host.dispatch(effMainsChanged, 0, 1);

    std::vector<float> inL = skvtest::noise(kFrames, 31, 0.5f);
    std::vector<float> inR = skvtest::noise(kFrames, 32, 0.5f);
    for (std::size_t i = 44100; i < kFrames; ++i) {
        inL[i] = 0.0f;
        inR[i] = 0.0f;
    }
    for (std::size_t i = 0; i < 44100; i += 11025) {
        inL[i] = 1.0f;
    }
    std::vector<float> outL(kFrames), outR(kFrames);
    host.processReplacing(inL, inR, outL, outR, s.block);
    return hashBits(outL, outR);
}

// Parameters: 4/5 direction, 36/37 analysis (band kind above 2/3), 38/39 the filter tabs
// (left: self-analysis from 1/2; right: self-analysis from 1/3, slave from 2/3), 40 order
// (2 + 78x, halves to even), 47/48 Sync Delay and Scan, 49 oversampling (from 1/2, the
// default), 24/25 saturation, 43 mix.
const std::vector<Setting>& settings()
{
    static const std::vector<Setting> all = {
        {"default program, block 512", 512, nullptr, nullptr, {}, 0xba853d5d438f8fcbull},
        {"default program, block 50", 50, nullptr, nullptr, {}, 0xd7c0454fcb926c25ull},
        {"default program, block 64", 64, nullptr, nullptr, {}, 0x319ba21f0c72131bull},
        {"order 2", 512, "#10001", "#10000", {{40, 0.0f}}, 0xcd4e6c1a157de1c3ull},
        {"order 18", 512, "#10001", "#10000", {{40, 16.0f / 78.0f}}, 0x3afd2906144e6b1eull},
        {"order 80", 512, "#10001", "#10000", {{40, 1.0f}, {49, 0.4f}}, 0x68481776bdaff8ebull},
        {"order 80, block 50",
         50,
         "#10001",
         "#10000",
         {{40, 1.0f}, {49, 0.4f}},
         0x9294e7c871e36f38ull},
        {"order 80, written-order lattice",
         512,
         "#10001",
         "#10000",
         {{40, 1.0f}, {49, 0.4f}},
         0xda875e66333e383cull,
         "written"},
        {"order 80 oversampled, hard saturation",
         512,
         "#10001",
         "#10000",
         {{40, 1.0f}, {49, 0.6f}, {24, 0.6f}, {25, 0.8f}},
         0xa99129beadb6e493ull},
        {"reverse lines",
         64,
         "#10001",
         "#10000",
         {{4, 1.0f}, {5, 1.0f}, {43, 0.75f}},
         0x61e3b057d6f4fa39ull},
        {"synced delays", 512, "#10001", "#10000", {{47, 0.3f}, {48, 0.3f}}, 0x102909146ea209bfull},
        {"band banks",
         512,
         "#10001",
         "#10000",
         {{36, 1.0f}, {37, 1.0f}, {40, 0.5f}},
         0xe2223f5629d79dd9ull},
        {"self-analysis",
         512,
         "#10001",
         "#10000",
         {{38, 1.0f}, {39, 0.5f}, {40, 0.3f}},
         0x69b5c7012b6e67bdull},
        {"slave", 512, "#10001", "#10000", {{39, 1.0f}, {40, 0.6f}}, 0x280963effa70dcbfull},
        {"invalid maps at order 80", 512, "#0", "#99", {{40, 1.0f}}, 0x5668553078903f2aull},
    };
    return all;
}

}  // namespace

TEST(GoldenOutput, EverySettingRendersItsStoredHash)
{
    for (const Setting& s : settings()) {
        const std::uint64_t h = render(s);
        EXPECT_EQ(h, s.expected) << s.name << ": 0x" << std::hex << h << "ull";
    }
}

TEST(GoldenOutput, EverySettingSoundsDifferent)
{
    // A hash table of equal entries would pass for an engine that ignores its settings.
    const auto& all = settings();
    for (std::size_t i = 0; i < all.size(); ++i) {
        for (std::size_t j = i + 1; j < all.size(); ++j) {
            EXPECT_NE(all[i].expected, all[j].expected) << all[i].name << " / " << all[j].name;
        }
    }
}
