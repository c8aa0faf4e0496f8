// The audio engine as a host sees it: parameter texts and values, the delay grid, block
// partition, the signal path's identities, resume, tempo sync, gating, stability and
// determinism. Every case runs through the test host on a private copy of Skorvaline.so.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/TestHost.h"
#include "support/TestSignals.h"
#include "vst/VstAbi.h"

namespace {

using Buffer = std::vector<float>;
using skvtest::noise;

std::string configWithResolution(const std::string& r, const std::string& zip = "yes")
{
    return "<?xml version=\"1.0\"?>\n<Skorvaline><Skin path=\"\"/><ControllerMap/>"
           "<Files zip-presets=\"" +
           zip + "\"/><Processing resolution=\"" + r + "\"/></Skorvaline>\n";
}

// A dry-free, feedback-free path: the output is the wet signal of one pass.
void setWetOnly(skvtest::CTestHost& host)
{
    for (VstInt32 i = 6; i <= 9; ++i)
        host.setParameter(i, 0.5f);  // feedback gains 0
    host.setParameter(43, 1.0f);     // mix: wet only
    host.setParameter(49, 0.4f);     // no oversampling delay
    host.setParameter(50, 1.0f);     // no gating
}

void resume(skvtest::CTestHost& host)
{
    host.dispatch(effMainsChanged, 0, 0);
    host.dispatch(effMainsChanged, 0, 1);
}

// Runs the whole input through processReplacing in host blocks of `block` samples.
void run(skvtest::CTestHost& host, const Buffer& inL, const Buffer& inR, Buffer& outL, Buffer& outR,
         std::size_t block)
{
    outL.assign(inL.size(), 0.0f);
    outR.assign(inR.size(), 0.0f);
    host.processReplacing(inL, inR, outL, outR, block);
}

class Engine : public ::testing::Test {
protected:
    std::unique_ptr<skvtest::CTestHost> host = std::make_unique<skvtest::CTestHost>();

    void SetUp() override
    {
        host->timeInfo.tempo = 120.0;
        host->timeInfo.sampleRate = 44100.0;
        host->timeInfo.timeSigNumerator = 4;
        host->timeInfo.timeSigDenominator = 4;
        host->timeInfo.flags = kVstTempoValid | kVstTimeSigValid | kVstPpqPosValid | kVstBarsValid;
        ASSERT_NE(host->create(), nullptr);
    }

    void set(VstInt32 index, float value) { host->setParameter(index, value); }
    float get(VstInt32 index) { return host->getParameter(index); }
    std::string display(VstInt32 index) { return host->getString(effGetParamDisplay, index); }
    void resume() { ::resume(*host); }
    void run(const Buffer& inL, const Buffer& inR, Buffer& outL, Buffer& outR, std::size_t block)
    {
        ::run(*host, inL, inR, outL, outR, block);
    }
    void runSilence(std::size_t samples, std::size_t block = 512)
    {
        Buffer z(samples, 0.0f), oL, oR;
        run(z, z, oL, oR, block);
    }
    void wetOnly() { setWetOnly(*host); }
};

std::size_t firstAbove(const Buffer& b, float threshold, std::size_t from = 0)
{
    for (std::size_t i = from; i < b.size(); ++i)
        if (std::fabs(b[i]) > threshold)
            return i;
    return b.size();
}

// The left output of a fresh effect with the given config.xml, wet only at order 2 with a left
// delay of 11023 samples, for an impulse at `at` in silence of `length` samples, processed in
// host blocks of `block`.
Buffer wetImpulseResponse(const std::string& config, std::size_t block, std::size_t length,
                          std::size_t at)
{
    skvtest::CTestHost host;
    host.writeConfig(config);
    if (!host.create()) {
        ADD_FAILURE() << "no effect";
        return {};
    }
    setWetOnly(host);
    host.setParameter(40, 0.0f);
    host.setParameter(2, 1.0f / 16.0f);
    resume(host);
    Buffer in(length, 0.0f), outL, outR;
    in[at] = 1.0f;
    run(host, in, in, outL, outR, block);
    return outL;
}

}  // namespace

TEST_F(Engine, ParameterTextsAndValues)
{
    EXPECT_EQ(host->getString(effGetParamName, 10), "L Warp  ");
    EXPECT_EQ(host->getString(effGetParamName, 53), "-unspecified-");
    EXPECT_EQ(host->getString(effGetParamLabel, 44), "dB");
    set(40, 0.0f);
    EXPECT_EQ(display(40), "      2");
    EXPECT_EQ(host->getString(effGetParamLabel, 40), "taps");
    set(40, 1.0f);
    EXPECT_EQ(display(40), "     80");
    set(0, 0.0f);
    EXPECT_EQ(display(0), "off");
    set(44, 0.0f);
    EXPECT_EQ(display(44), "-oo");
    set(44, 1.0f);
    EXPECT_EQ(display(44), "0.00");
    EXPECT_FLOAT_EQ(get(44), 1.0f);
    set(49, 0.49f);
    EXPECT_EQ(display(49), "n/a");
    set(49, 0.5f);
    EXPECT_EQ(display(49), "4x");
    set(18, 0.0f);
    EXPECT_EQ(display(18), "0.10");
    set(10, 1.0f);
    EXPECT_FLOAT_EQ(get(10), 0.99999f);
    set(6, 0.25f);
    EXPECT_EQ(display(6), "-0.50");
    EXPECT_FLOAT_EQ(get(6), 0.25f);
    set(17, 0.3f);
    EXPECT_EQ(display(17), "0.60");
    EXPECT_NEAR(get(17), 0.3f, 1e-6);
    set(4, 0.7f);
    EXPECT_EQ(display(4), "bkwrd");

    // Out-of-range and NaN values are held inside 0..1.
    set(43, 7.0f);
    EXPECT_EQ(get(43), 1.0f);
    set(43, std::nanf(""));
    EXPECT_EQ(get(43), 0.0f);

    // Texts the table does not have leave the host's buffer as it was.
    for (VstInt32 index : {26, 29, 36, 38, 47, 53, 60}) {
        char buffer[32];
        std::memset(buffer, 'x', sizeof buffer);
        host->dispatch(effGetParamDisplay, index, 0, buffer);
        EXPECT_EQ(buffer[0], 'x') << index;
    }
    char label[32];
    std::memset(label, 'x', sizeof label);
    host->dispatch(effGetParamLabel, 16, 0, label);
    EXPECT_EQ(label[0], 'x');

    // The editor's view switches are kept by the effect, beyond the host's 53.
    set(54, 1.0f);
    EXPECT_EQ(get(54), 1.0f);
    EXPECT_EQ(get(55), 0.0f);
    EXPECT_EQ(get(53), 0.0f);
}

TEST_F(Engine, DelayGridFreeAndSynced)
{
    set(40, 0.0f);  // order 2
    set(47, 0.1f);  // free
    set(2, 0.5f);
    EXPECT_EQ(display(2), "2.000");
    EXPECT_FLOAT_EQ(get(2), 0.5f);

    // Eighths at 120 BPM: 32 units, the value stays on the grid point 0.5.
    set(47, 0.3f);
    runSilence(64);  // first poll of the host's tempo
    set(2, 0.5f);
    EXPECT_EQ(display(2), "32");
    EXPECT_FLOAT_EQ(get(2), 0.5f);
    // A value between grid points snaps (0.3 of 4 s in quarters: 10 units, 2.5 s).
    set(47, 0.5f);
    set(3, 0.3f);
    EXPECT_EQ(display(3), "10");
    EXPECT_FLOAT_EQ(get(3), 0.3125f);
    EXPECT_FLOAT_EQ(host->getParameter(3), 0.3125f);

    // Pre-delays below order + 1 samples are off, also in free mode.
    set(47, 0.0f);
    set(1, 2.5f / 176400.0f);
    EXPECT_EQ(display(1), "off");
}

TEST_F(Engine, ZeroLengthBlockWritesNothing)
{
    float inL[4] = {1, 1, 1, 1}, inR[4] = {1, 1, 1, 1};
    float outL[4] = {7, 7, 7, 7}, outR[4] = {7, 7, 7, 7};
    float* in[2] = {inL, inR};
    float* out[2] = {outL, outR};
    host->effect()->processReplacing(host->effect(), in, out, 0);
    host->effect()->process(host->effect(), in, out, 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(outL[i], 7.0f);
        EXPECT_EQ(outR[i], 7.0f);
    }
}

TEST_F(Engine, ProcessAddsWhereProcessReplacingReplaces)
{
    wetOnly();
    set(43, 0.0f);
    set(44, 1.0f);
    runSilence(2048);
    Buffer in = noise(256, 3, 0.5f);
    Buffer outL(256, 0.25f), outR(256, -0.25f);
    host->process(in, in, outL, outR);
    for (std::size_t i = 0; i < in.size(); ++i) {
        EXPECT_FLOAT_EQ(outL[i], 0.25f + in[i]);
        EXPECT_FLOAT_EQ(outR[i], -0.25f + in[i]);
    }
}

TEST_F(Engine, MixZeroGivesInputTimesVolume)
{
    for (VstInt32 i = 6; i <= 9; ++i)
        set(i, 0.5f);
    set(43, 0.0f);
    set(44, 0.7f);
    runSilence(4096);
    Buffer inL = noise(1024, 1, 0.8f), inR = noise(1024, 2, 0.8f), outL, outR;
    run(inL, inR, outL, outR, 256);
    const double gain = 0.7 * 0.7 * 0.7 * 0.7;
    for (std::size_t i = 0; i < inL.size(); ++i) {
        ASSERT_NEAR(outL[i], inL[i] * gain, 1e-6) << i;
        ASSERT_NEAR(outR[i], inR[i] * gain, 1e-6) << i;
    }
}

TEST_F(Engine, DelayIsExactAfterEveryResume)
{
    wetOnly();
    set(40, 0.0f);         // order 2
    set(2, 1.0f / 16.0f);  // 11025 - 2 samples
    set(3, 1.0f / 16.0f);
    resume();
    const std::size_t delay = 11023, subBlock = 8;  // default resolution
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // Audio runs for a while (the write position moves on), then the host resumes.
        Buffer busy = noise(7000 + 1000 * round, 9, 0.3f), oL, oR;
        run(busy, busy, oL, oR, 512);
        resume();
        Buffer impulse(16384, 0.0f);
        impulse[100] = 1.0f;
        run(impulse, impulse, oL, oR, 512);
        EXPECT_EQ(firstAbove(oL, 1e-4f), 100 + delay + subBlock);
        EXPECT_EQ(firstAbove(oR, 1e-4f), 100 + delay + subBlock);
    }
}

TEST(EnginePartition, SubBlocksFollowTheResolution)
{
    // With R = 32 a block of 64 runs as two sub-blocks (the filter output arrives 32 samples
    // later), a block of 50 as fifty sub-blocks of one sample.
    for (std::size_t block : {64u, 50u}) {
        SCOPED_TRACE(block);
        // Silence first, so that the mix has reached its target before the impulse.
        const std::size_t at = block * 100 + 10;
        const Buffer out = wetImpulseResponse(configWithResolution("32"), block, block * 400, at);
        EXPECT_EQ(firstAbove(out, 1e-4f), at + 11023u + (block == 64 ? 32u : 1u));
    }
}

TEST_F(Engine, DefaultProgramTexts)
{
    // Program 0's values through the table's conversions, worked out by hand.
    const std::pair<VstInt32, const char*> expected[] = {
        {0, "off"},    {1, "off"},     {2, "0.220"}, {3, "0.820"}, {4, "fwrd"},  {6, "0.20"},
        {7, "0.56"},   {8, "0.50"},    {10, "0.75"}, {11, "0.80"}, {12, "0.56"}, {13, "0.54"},
        {14, "0.63"},  {16, "-24.08"}, {17, "0.20"}, {18, "3.98"}, {19, "33.0"}, {22, "3.98"},
        {24, "0.05"},  {27, "0.02"},   {28, "0.20"}, {30, "0.00"}, {32, "0.10"}, {40, "     18"},
        {41, "0.840"}, {42, "0.650"},  {43, "0.70"}, {44, "0.00"}, {49, "4x"},   {50, "0.74"},
        {51, "0.60"},
    };
    for (const auto& [index, text] : expected)
        EXPECT_EQ(display(index), text) << index;
    EXPECT_EQ(host->getString(effGetParamLabel, 2), "seconds");
    EXPECT_EQ(host->getString(effGetParamLabel, 43), "D-W");
    EXPECT_EQ(host->getString(effGetParamLabel, 12), " ");
}

TEST_F(Engine, SyncDelayExamplesLandOnTheSample)
{
    // Free mode (Sync 0.1) and eighths at 120 BPM (Sync 0.3) both give 0.5 -> 88198 samples at
    // order 2; the wet signal arrives one sub-block (8 samples) after the delay.
    for (float sync : {0.1f, 0.3f}) {
        SCOPED_TRACE(sync);
        wetOnly();
        set(40, 0.0f);
        set(47, sync);
        runSilence(512);  // the first block of a synced mode polls the host's tempo
        set(2, 0.5f);
        EXPECT_EQ(display(2), sync < 0.2f ? "2.000" : "32");
        EXPECT_EQ(get(2), 0.5f);
        // The line glides to its new length at 0.75 sample per sample at most; once there, a
        // resume empties it and the impulse comes back exactly one delay later.
        runSilence(120000);
        resume();
        Buffer in(100 + 88198 + 600, 0.0f), oL, oR;
        in[100] = 1.0f;
        run(in, in, oL, oR, 512);
        EXPECT_EQ(firstAbove(oL, 1e-4f), 100u + 88198u + 8u);
    }
}

TEST(EngineConfiguration, UnusableResolutionFallsBackToEightSamples)
{
    for (const char* resolution : {"0", "-3", "junk"}) {
        SCOPED_TRACE(resolution);
        const std::size_t at = 64 * 100 + 3;
        const Buffer out = wetImpulseResponse(configWithResolution(resolution), 64, 64 * 400, at);
        for (float v : out)
            ASSERT_TRUE(std::isfinite(v));
        EXPECT_EQ(firstAbove(out, 1e-4f), at + 11023u + 8u);
    }
}

TEST(EngineInstances, InPlaceProcessingMatchesSeparateBuffers)
{
    // Hosts often hand the same buffers in and out.
    skvtest::CTestHost a, b;
    ASSERT_NE(a.create(), nullptr);
    ASSERT_NE(b.create(), nullptr);
    Buffer inL = noise(30000, 31, 0.5f), inR = noise(30000, 32, 0.5f);
    Buffer sepL(inL.size()), sepR(inL.size());
    Buffer ioL = inL, ioR = inR;
    a.processReplacing(inL, inR, sepL, sepR, 500);
    b.processReplacing(ioL, ioR, ioL, ioR, 500);
    EXPECT_EQ(sepL, ioL);
    EXPECT_EQ(sepR, ioR);
}

TEST(EngineInstances, HostBlockSizeDoesNotChangeTheSound)
{
    // With every smoothed value settled, blocks of 512 and of 64 run the same sub-blocks; only
    // the per-block ramps may leave last-bit differences.
    skvtest::CTestHost a, b;
    ASSERT_NE(a.create(), nullptr);
    ASSERT_NE(b.create(), nullptr);
    Buffer warmL = noise(65536, 41, 0.3f), warmR = noise(65536, 42, 0.3f), oL, oR;
    run(a, warmL, warmR, oL, oR, 512);
    run(b, warmL, warmR, oL, oR, 64);
    Buffer inL = noise(131072, 43, 0.5f), inR = noise(131072, 44, 0.5f), aL, aR, bL, bR;
    run(a, inL, inR, aL, aR, 512);
    run(b, inL, inR, bL, bR, 64);
    float peak = 0.0f, diff = 0.0f;
    for (std::size_t i = 0; i < aL.size(); ++i) {
        peak = std::max(peak, std::fabs(aL[i]));
        diff = std::max({diff, std::fabs(aL[i] - bL[i]), std::fabs(aR[i] - bR[i])});
    }
    EXPECT_GT(peak, 0.05f);
    EXPECT_LT(diff, 1e-3f * peak);
}

TEST_F(Engine, ChannelsMeetOnlyThroughTheFeedbackMatrix)
{
    // Left impulse, only L->R feedback: the left echo comes after the left delay and one
    // sub-block, the right one after both delays and two sub-blocks; without the cross gain
    // the right channel stays silent.
    for (float crossGain : {1.0f, 0.5f}) {
        SCOPED_TRACE(crossGain);
        wetOnly();
        set(7, crossGain);  // L->R
        set(40, 0.0f);
        set(2, 1.0f / 16.0f);  // 11023 samples (whole: no interpolation spreads the onset)
        set(3, 1.0f / 8.0f);   // 22048 samples
        runSilence(8192);
        resume();
        Buffer inL(34000, 0.0f), inR(34000, 0.0f), oL, oR;
        inL[40] = 1.0f;
        run(inL, inR, oL, oR, 512);
        EXPECT_EQ(firstAbove(oL, 1e-6f), 40u + 11023u + 8u);
        if (crossGain > 0.5f)
            EXPECT_EQ(firstAbove(oR, 1e-6f), 40u + 11023u + 8u + 22048u + 8u);
        else
            EXPECT_EQ(firstAbove(oR, 1e-6f), oR.size());
    }
}

TEST_F(Engine, TabFilterRightFollowsTheLeftColumn)
{
    // Both channels alike in everything but their filter source: the left one analyses its
    // own delay line, the right one copies the left column (slave) or reads its filter map.
    // Only the copy makes the two outputs equal. The analysis reads the oldest part of the
    // 262144-sample ring, so the comparison starts once the ring is full.
    for (float tabR : {1.0f, 0.2f}) {
        SCOPED_TRACE(tabR);
        const std::pair<VstInt32, float> both[] = {
            {2, 0.01f}, {3, 0.01f}, {6, 0.7f},  {9, 0.7f},  {7, 0.5f},  {8, 0.5f},
            {10, 0.7f}, {11, 0.7f}, {12, 0.5f}, {13, 0.5f}, {14, 0.6f}, {15, 0.6f},
            {16, 0.5f}, {20, 0.5f}, {17, 0.3f}, {21, 0.3f}, {18, 0.4f}, {22, 0.4f},
            {19, 0.4f}, {23, 0.4f}, {24, 0.2f}, {25, 0.2f}};
        for (const auto& [index, value] : both)
            set(index, value);
        set(42, 0.0f);  // coefficients jump to their targets
        set(41, 0.0f);  // a scan step every 32 samples
        set(38, 0.5f);  // left: self-analysis
        set(39, tabR);
        resume();
        Buffer warm = noise(280000, 4, 0.3f), oL, oR;
        run(warm, warm, oL, oR, 512);
        Buffer in = noise(16384, 5, 0.3f);
        run(in, in, oL, oR, 512);
        std::size_t differ = 0;
        double energy = 0.0;
        for (std::size_t i = 0; i < in.size(); ++i) {
            differ += oL[i] != oR[i];
            energy += double(oL[i]) * oL[i];
        }
        EXPECT_GT(energy, 1.0);
        if (tabR == 1.0f)
            EXPECT_EQ(differ, 0u);
        else
            EXPECT_GT(differ, in.size() / 2);
    }
}

TEST_F(Engine, MainDelaysKeepTheirOwnValuesAfterATempoChange)
{
    set(40, 0.0f);
    set(47, 0.3f);  // eighths
    runSilence(64);
    set(2, 0.5f);
    set(3, 0.25f);
    EXPECT_FLOAT_EQ(get(2), 0.5f);
    EXPECT_FLOAT_EQ(get(3), 0.25f);
    host->timeInfo.tempo = 100.0;  // 26460 samples per beat
    runSilence(32 * 600, 32);      // past the next poll (every 500 blocks while steady)
    // 27 and 14 eighths of 26460 samples.
    EXPECT_NEAR(get(2), 27.0 / 8.0 * 26460.0 / 176400.0, 1e-6);
    EXPECT_NEAR(get(3), 14.0 / 8.0 * 26460.0 / 176400.0, 1e-6);
    EXPECT_EQ(display(2), "27");
    EXPECT_EQ(display(3), "14");
}

TEST_F(Engine, SyncedDelaysDoNotCreepWithTempoChanges)
{
    // Each tempo change re-snaps from the value the user set, never from the previous snap
    // (which rounds up and so could only grow).
    set(40, 0.0f);
    set(47, 0.3f);  // eighths
    set(48, 0.3f);
    runSilence(64);  // the first synced block polls the host: 120 BPM
    const float user[4] = {0.013f, 0.021f, 0.0371f, 0.0543f};
    for (VstInt32 i = 0; i < 4; ++i)
        set(i, user[i]);
    float at120[4];
    std::string shown[4];
    for (VstInt32 i = 0; i < 4; ++i) {
        at120[i] = get(i);
        shown[i] = display(i);
    }
    for (int change = 0; change < 100; ++change) {
        host->timeInfo.tempo = change % 2 == 0 ? 121.0 : 120.0;
        // Polls come every 500 blocks while the tempo is steady, 5 blocks after a change.
        runSilence(64 * (change == 0 ? 502 : 7), 64);
    }
    for (VstInt32 i = 0; i < 4; ++i) {
        EXPECT_EQ(get(i), at120[i]) << i;
        EXPECT_EQ(display(i), shown[i]) << i;
    }
}

TEST(EngineTempo, SnappedDelayReturnsAfterATempoRoundTrip)
{
    skvtest::CTestHost host;
    host.timeInfo.tempo = 120.0;
    host.timeInfo.flags = kVstTempoValid;
    host.writeConfig(configWithResolution("8", "no"));  // a readable chunk
    ASSERT_NE(host.create(), nullptr);
    host.setParameter(40, 0.0f);
    host.setParameter(47, 0.3f);
    Buffer z(64 * 7, 0.0f), oL, oR;
    run(host, z, z, oL, oR, 64);
    host.setParameter(2, 0.27f);
    const float at120 = host.getParameter(2);  // 18 eighths
    host.timeInfo.tempo = 90.0;
    Buffer steady(64 * 502, 0.0f);
    run(host, steady, steady, oL, oR, 64);  // the next poll, 500 blocks after the last
    // 90 BPM: 29400 samples per beat; the snap comes from 0.27 (13 eighths), not from the
    // 120 BPM snap (which would give 14).
    const double units = std::ceil((8.0 * double(0.27f) * 176400.0 - 0.5) / 29400.0);
    ASSERT_EQ(units, 13.0);
    const float at90 = host.getParameter(2);
    EXPECT_NEAR(at90, units / 8.0 * 29400.0 / 176400.0, 1e-6);
    // A state saved now holds the snap of the moment.
    const auto chunk = host.getChunk(true);
    const std::string text(chunk.begin(), chunk.end());
    const std::size_t entry = text.find("\"L Delay\"");
    ASSERT_NE(entry, std::string::npos);
    const std::size_t value = text.find("value=\"", entry);
    ASSERT_NE(value, std::string::npos);
    EXPECT_NEAR(std::stod(text.substr(value + 7)), at90, 1e-5);  // five significant digits
    host.timeInfo.tempo = 120.0;
    run(host, steady, steady, oL, oR, 64);
    EXPECT_EQ(host.getParameter(2), at120);
}

TEST(EngineStart, DelaysGlideFromTheirStartLengthAfterConstruction)
{
    // A new line starts at 1000 samples and glides towards its set length at 0.75 sample per
    // sample (the ratio limit (11023 + 1) / 1001 is far above that, so from the first sample
    // on): the output at time t reads d(t) = 1000 + 0.75 (t + 1) back. An impulse at s comes
    // back where t - d(t) = s, i.e. t = 4 s + 4003, one sub-block (8 samples) later still.
    skvtest::CTestHost fresh;
    ASSERT_NE(fresh.create(), nullptr);
    setWetOnly(fresh);
    fresh.setParameter(40, 0.0f);
    fresh.setParameter(2, 1.0f / 16.0f);  // 11023 samples at order 2
    resume(fresh);
    // Past the first block, in which the mix still ramps from its start value 0 (dry).
    const std::size_t s = 1000;
    Buffer in(20000, 0.0f), oL, oR;
    in[s] = 1.0f;
    run(fresh, in, in, oL, oR, 512);
    const std::size_t expected = 4 * s + 4003 + 8;
    const std::size_t first = firstAbove(oL, 1e-4f);
    // The four interpolation taps reach up to two samples ahead of the read point, which the
    // quarter-speed playback stretches to eight.
    EXPECT_GE(first + 8, expected);
    EXPECT_LE(first, expected);
}

TEST_F(Engine, SyncedDelaysFollowANewSampleRateAtOnce)
{
    // 120 BPM at 48 kHz: 24000 samples per beat, so 0.5 gives ceil(8 * 0.5 * 176400 / 24000)
    // = 30 eighths (32 at 44.1 kHz), without waiting for the next tempo poll.
    host->dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    set(40, 0.0f);
    set(47, 0.3f);
    set(2, 0.5f);
    EXPECT_EQ(display(2), "30");
    EXPECT_FLOAT_EQ(get(2), float(30.0 / 8.0 * 24000.0 / 176400.0));
}

TEST_F(Engine, RatioAnswersStayNormalised)
{
    set(17, 1.0f);
    set(21, 1.0f);
    EXPECT_LE(get(17), 1.0f);
    EXPECT_LE(get(21), 1.0f);
    EXPECT_GT(get(17), 0.9999f);
}

TEST(EngineTempo, TempoNearZeroKeepsTheDelaysFinite)
{
    // The host's tempo is positive, so it is taken, but its beat lasts longer than a double
    // can count: every synced delay simply reaches its longest length.
    skvtest::CTestHost host;
    host.timeInfo.tempo = 1e-305;
    host.timeInfo.flags = kVstTempoValid;
    ASSERT_NE(host.create(), nullptr);
    host.setParameter(47, 0.3f);  // eighths
    host.setParameter(48, 0.3f);
    Buffer in(4096, 0.25f), outL(in.size()), outR(in.size());
    host.processReplacing(in, in, outL, outR);  // the first synced block polls the tempo
    for (VstInt32 index : {0, 1, 2, 3})
        host.setParameter(index, 0.5f);
    host.setParameter(3, 0.0f);
    for (VstInt32 index : {0, 1, 2}) {
        EXPECT_EQ(host.getParameter(index), 1.0f) << index;
        EXPECT_EQ(host.getString(effGetParamDisplay, index), "1") << index;
    }
    EXPECT_EQ(host.getParameter(3), 0.0f);
    EXPECT_EQ(host.getString(effGetParamDisplay, 3), "0");
    host.processReplacing(in, in, outL, outR);
    for (std::size_t i = 0; i < outL.size(); ++i)
        ASSERT_TRUE(std::isfinite(outL[i]) && std::isfinite(outR[i])) << i;
}

TEST_F(Engine, EnvelopeFollowerGatesTheFeedback)
{
    auto secondEcho = [this](float envFollow) {
        set(6, 1.0f);  // L->L gain 1
        set(7, 0.5f);
        set(8, 0.5f);
        set(9, 0.5f);
        set(43, 1.0f);
        set(49, 0.4f);
        set(50, envFollow);
        set(40, 0.0f);
        set(2, 1.0f / 16.0f);
        runSilence(16384);  // the delay glides to its length before the echoes are measured
        resume();
        Buffer in(3 * 11025 + 2000, 0.0f), oL, oR;
        in[10] = 1.0f;
        run(in, in, oL, oR, 512);
        double energy = 0.0;
        for (std::size_t i = 2 * 11023; i < 2 * 11023 + 1500; ++i)
            energy += oL[i] * oL[i];
        return energy;
    };
    const double ungated = secondEcho(1.0f);
    const double gated = secondEcho(0.0f);
    EXPECT_GT(ungated, 1e-4);
    EXPECT_LT(gated, ungated * 1e-3);
}

TEST_F(Engine, ExtremeSettingsStayFiniteAndBounded)
{
    for (VstInt32 i = 6; i <= 9; ++i)
        set(i, 1.0f);
    set(12, 1.0f);
    set(13, 1.0f);
    set(40, 1.0f);
    set(10, 0.999f);
    set(11, 0.999f);
    set(24, 1.0f);
    set(25, 1.0f);
    set(41, 0.001f);
    Buffer inL = noise(441000, 11, 1.0f), inR = noise(441000, 12, 1.0f), oL, oR;
    run(inL, inR, oL, oR, 512);
    float peak = 0.0f;
    for (std::size_t i = 0; i < oL.size(); ++i) {
        ASSERT_TRUE(std::isfinite(oL[i]) && std::isfinite(oR[i])) << i;
        peak = std::max({peak, std::fabs(oL[i]), std::fabs(oR[i])});
    }
    EXPECT_LT(peak, 10.0f);
}

TEST_F(Engine, ExtremeSettingsInEveryFilterModeStayFiniteAndBounded)
{
    // Band filters on the left, self-analysis on the right, both lines backward, tempo-synced
    // delays and scan, everything at its loudest.
    for (VstInt32 i = 6; i <= 9; ++i)
        set(i, 1.0f);
    set(4, 1.0f);
    set(5, 1.0f);
    set(12, 1.0f);
    set(13, 1.0f);
    set(40, 1.0f);
    set(10, 1.0f);
    set(11, 0.0f);
    set(24, 1.0f);
    set(25, 1.0f);
    set(36, 1.0f);
    set(39, 0.5f);
    set(47, 0.9f);
    set(48, 1.0f);
    set(41, 0.0f);
    set(44, 1.0f);
    Buffer inL = noise(5 * 44100, 13, 1.0f), inR = noise(5 * 44100, 14, 1.0f), oL, oR;
    run(inL, inR, oL, oR, 333);
    float peak = 0.0f;
    for (std::size_t i = 0; i < oL.size(); ++i) {
        ASSERT_TRUE(std::isfinite(oL[i]) && std::isfinite(oR[i])) << i;
        peak = std::max({peak, std::fabs(oL[i]), std::fabs(oR[i])});
    }
    EXPECT_LT(peak, 10.0f);
    EXPECT_GT(peak, 0.1f);
}

TEST_F(Engine, HostileInputSamplesDoNotPoisonTheState)
{
    Buffer in = noise(4096, 7, 0.5f), oL, oR;
    in[100] = std::nanf("");
    in[200] = INFINITY;
    run(in, in, oL, oR, 512);
    Buffer clean = noise(44100, 8, 0.5f);
    run(clean, clean, oL, oR, 512);
    for (std::size_t i = 0; i < oL.size(); ++i)
        ASSERT_TRUE(std::isfinite(oL[i]) && std::isfinite(oR[i])) << i;
}

TEST(EngineInstances, TwoInstancesGiveIdenticalOutput)
{
    skvtest::CTestHost a, b;
    ASSERT_NE(a.create(), nullptr);
    ASSERT_NE(b.create(), nullptr);
    Buffer inL = noise(44100, 21, 0.5f), inR = noise(44100, 22, 0.5f);
    Buffer aL(inL.size()), aR(inL.size()), bL(inL.size()), bR(inL.size());
    a.processReplacing(inL, inR, aL, aR);
    b.processReplacing(inL, inR, bL, bR);
    EXPECT_EQ(aL, bL);
    EXPECT_EQ(aR, bR);
    double energy = 0.0;
    for (float v : aL)
        energy += v * v;
    EXPECT_GT(energy, 1.0);
}
