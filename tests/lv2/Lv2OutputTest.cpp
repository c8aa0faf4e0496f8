// Audio through the LV2 front door against the VST 2.x build: the same input and settings give
// the same bits; time:Position drives tempo sync; MIDI controllers move parameters; run()
// allocates nothing.
#include <gtest/gtest.h>

#include "Lv2TestSupport.h"
#include "support/AllocationProbe.h"

using lv2test::kBlock;
using skvtest::CLv2TestHost;
using skvtest::CTestHost;

namespace {

struct Outputs {
    std::vector<float> l, r;
};

Outputs runVst(CTestHost& host, const lv2test::Stereo& in)
{
    Outputs out{std::vector<float>(in.l.size()), std::vector<float>(in.r.size())};
    host.processReplacing(in.l, in.r, out.l, out.r, kBlock);
    return out;
}

Outputs runLv2(CLv2TestHost& host, const lv2test::Stereo& in)
{
    Outputs out;
    host.run(in.l, in.r, out.l, out.r, kBlock);
    return out;
}

}  // namespace

TEST(Lv2Output, DefaultProgramIsBitIdenticalToTheVstBuild)
{
    const lv2test::Stereo in = lv2test::testInput();
    CTestHost vst;
    ASSERT_TRUE(lv2test::startVst(vst));
    CLv2TestHost lv2;
    ASSERT_TRUE(lv2.instantiate());
    const Outputs a = runVst(vst, in);
    const Outputs b = runLv2(lv2, in);
    EXPECT_EQ(lv2test::firstDifference(a.l, b.l), a.l.size());
    EXPECT_EQ(lv2test::firstDifference(a.r, b.r), a.r.size());
}

TEST(Lv2Output, OrderEightyWithFilterMapsIsBitIdenticalToTheVstBuild)
{
    const lv2test::Stereo in = lv2test::testInput();
    CTestHost vst;
    ASSERT_TRUE(lv2test::startVst(vst));
    const std::string document = lv2test::mapsDocument(
        lv2test::vstDocument(vst), lv2test::bmpFile("big_rgb24_560x281_imagemagick_bmp3.bmp"));
    ASSERT_EQ(vst.setChunk(std::vector<unsigned char>(document.begin(), document.end() + 1), false),
              1);
    vst.setParameter(40, 1.0f);
    CLv2TestHost lv2;
    ASSERT_TRUE(lv2.instantiate());
    ASSERT_EQ(lv2.restore(lv2test::bankState(document)), LV2_STATE_SUCCESS);
    lv2.control(40) = 1.0f;
    const Outputs a = runVst(vst, in);
    const Outputs b = runLv2(lv2, in);
    EXPECT_EQ(lv2test::firstDifference(a.l, b.l), a.l.size());
    EXPECT_EQ(lv2test::firstDifference(a.r, b.r), a.r.size());
    // The maps took part: without them the same order sounds different.
    CLv2TestHost plain;
    ASSERT_TRUE(plain.instantiate());
    plain.control(40) = 1.0f;
    EXPECT_LT(lv2test::firstDifference(runLv2(plain, in).l, b.l), b.l.size());
}

TEST(Lv2Output, TempoSyncFollowsTimePosition)
{
    const lv2test::Stereo in = lv2test::testInput();
    // The VST 2.x host starts at 120 BPM and then reports 90, as the LV2 host that sends its
    // first position with the first block.
    CTestHost vst;
    vst.timeInfo.tempo = 120.0;
    vst.timeInfo.timeSigNumerator = 4;
    vst.timeInfo.timeSigDenominator = 4;
    vst.timeInfo.flags =
        kVstTempoValid | kVstTimeSigValid | kVstPpqPosValid | kVstBarsValid | kVstTransportPlaying;
    ASSERT_TRUE(lv2test::startVst(vst));
    vst.setParameter(47, 0.3f);  // delays synced to eighths of a beat
    vst.timeInfo.tempo = 90.0;
    const Outputs reference = runVst(vst, in);

    auto runAt = [&](float bpm) {
        CLv2TestHost lv2;
        EXPECT_TRUE(lv2.instantiate());
        lv2.control(47) = 0.3f;
        lv2.queueTimePosition(bpm, 1.0f, 0, 0.0f, 0.0);
        return runLv2(lv2, in);
    };
    const Outputs at90 = runAt(90.0f);
    const Outputs at120 = runAt(120.0f);
    EXPECT_EQ(lv2test::firstDifference(reference.l, at90.l), reference.l.size());
    EXPECT_EQ(lv2test::firstDifference(reference.r, at90.r), reference.r.size());
    // The tempo matters: R Delay 0.205 snaps to 10 eighths at 90 BPM and 14 at 120 (L Delay
    // 0.055 happens to land on 11025 samples at both).
    EXPECT_LT(lv2test::firstDifference(at90.r, at120.r), reference.r.size());
}

TEST(Lv2Output, MidiControllersMoveParametersAsInTheVstBuild)
{
    const lv2test::Stereo in = lv2test::testInput();
    const std::size_t split = 40 * kBlock;
    auto head = [&](const std::vector<float>& v) {
        return std::vector<float>(v.begin(), v.begin() + split);
    };
    auto tail = [&](const std::vector<float>& v) {
        return std::vector<float>(v.begin() + split, v.end());
    };
    const lv2test::Stereo first{head(in.l), head(in.r)};
    const lv2test::Stereo second{tail(in.l), tail(in.r)};

    CTestHost vst;
    ASSERT_TRUE(lv2test::startVst(vst));
    runVst(vst, first);
    vst.sendMidi({{0xB3, 63, 0}, {0xB0, 26, 100}});  // Mix to 0, L Resonance up
    const Outputs a = runVst(vst, second);

    CLv2TestHost lv2;
    ASSERT_TRUE(lv2.instantiate());
    runLv2(lv2, first);
    lv2.queueMidi(0xB3, 63, 0);
    lv2.queueMidi(0xB0, 26, 100);
    const Outputs b = runLv2(lv2, second);
    EXPECT_EQ(lv2test::firstDifference(a.l, b.l), a.l.size());
    // With the mix at 0 the output is the dry input, once the mix has glided there.
    EXPECT_EQ(lv2test::firstDifference(std::vector<float>(b.l.end() - kBlock, b.l.end()),
                                       std::vector<float>(second.l.end() - kBlock, second.l.end())),
              kBlock);
}

TEST(Lv2Output, ScanPositionsShowAndTakeTheIndexParameters)
{
    const lv2test::Stereo in{std::vector<float>(kBlock), std::vector<float>(kBlock)};
    CLv2TestHost lv2;
    ASSERT_TRUE(lv2.instantiate());
    lv2.queueMidi(0xB0, 50, 64);  // controller 50: L Index
    runLv2(lv2, in);
    EXPECT_NEAR(lv2.position(0), 64.0f / 127.0f, 1e-6f);
    // The host moving the input port sets the position; an unmoved port leaves it alone.
    lv2.control(35) = 0.25f;
    runLv2(lv2, in);
    EXPECT_NEAR(lv2.position(1), 0.25f, 1e-6f);
    EXPECT_NEAR(lv2.position(0), 64.0f / 127.0f, 1e-6f);
}

TEST(Lv2Output, RunAllocatesNothing)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new cannot be replaced in this build";
    const lv2test::Stereo in = lv2test::testInput();
    CLv2TestHost lv2;
    ASSERT_TRUE(lv2.instantiate());
    // Every kind of event and port change once before counting, so the test host's own URIDs
    // are mapped.
    lv2.queueMidi(0xB0, 63, 10);
    lv2.queueTimePosition(100.0f, 1.0f, 2, 1.0f, 9.0);
    lv2.control(40) = 0.9f;
    runLv2(lv2, {std::vector<float>(kBlock), std::vector<float>(kBlock)});
    long allocations = 0;
    Outputs out{std::vector<float>(in.l.size()), std::vector<float>(in.r.size())};
    for (std::size_t at = 0; at + kBlock <= in.l.size(); at += kBlock) {
        const std::vector<float> l(in.l.data() + at, in.l.data() + at + kBlock);
        const std::vector<float> r(in.r.data() + at, in.r.data() + at + kBlock);
        std::vector<float> ol(kBlock), or_(kBlock);
        lv2.queueMidi(0xB0, static_cast<std::uint8_t>(20 + at / kBlock % 53), 64);
        lv2.queueTimePosition(90.0f + static_cast<float>(at % 7), 1.0f, 0, 0.0f, 0.0);
        lv2.control(47) = (at / kBlock) % 2 ? 0.3f : 0.0f;
        lv2.control(40) = (at / kBlock) % 3 ? 1.0f : 0.5f;
        skvtest::startCountingAllocations();
        lv2.run(l, r, ol, or_, kBlock);
        allocations += skvtest::stopCountingAllocations();
    }
    EXPECT_EQ(allocations, 0);
}

TEST(Lv2Output, InPlaceBuffersGiveTheSameOutput)
{
    // Hosts may hand the same buffer as input and output (the bundle does not forbid it).
    const lv2test::Stereo in = lv2test::testInput();
    CLv2TestHost separate;
    ASSERT_TRUE(separate.instantiate());
    const Outputs reference = runLv2(separate, in);
    CLv2TestHost inPlace;
    ASSERT_TRUE(inPlace.instantiate());
    std::vector<float> l = in.l;
    std::vector<float> r = in.r;
    LilvInstance* instance = inPlace.instance();
    for (std::size_t at = 0; at < l.size(); at += kBlock) {
        lilv_instance_connect_port(instance, 0, l.data() + at);
        lilv_instance_connect_port(instance, 1, r.data() + at);
        lilv_instance_connect_port(instance, 2, l.data() + at);
        lilv_instance_connect_port(instance, 3, r.data() + at);
        lilv_instance_run(instance, static_cast<std::uint32_t>(std::min(kBlock, l.size() - at)));
    }
    EXPECT_EQ(lv2test::firstDifference(reference.l, l), l.size());
    EXPECT_EQ(lv2test::firstDifference(reference.r, r), r.size());
}
