// skorvaline-render as a general VST 2.x host: it loads a pass-through effect built only for
// these tests, passes audio through it exactly, sets its parameters and state, and answers
// its questions about the song position (tempo, playing transport, advancing ppq), the
// sample rate and the block size.
#include "RenderToolSupport.h"

using namespace skvtest;

namespace {

class RenderHost : public ::testing::Test {
protected:
    CRenderScratch scratch;
    const fs::path effect = testEffect(0);
};

}  // namespace

TEST_F(RenderHost, PassThroughEffectReturnsTheInputExactly)
{
    const CAudio input = makeTestSignal(44100, 10000);
    writeAudio(scratch.path("in.wav"), input, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const CToolRun r = scratch.runWith(
        effect, {"in.wav", "out.wav", "--format", "float", "--tail", "0.1", "--block", "333"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const CAudio out = readAudio(scratch.path("out.wav"));
    ASSERT_EQ(out.frames(), 10000u + 4410u);
    for (size_t i = 0; i < out.frames(); ++i)
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(out.at(i, c), i < 10000 ? input.at(i, c) : 0.0f) << "frame " << i;
}

TEST_F(RenderHost, MonoInputFeedsBothInputs)
{
    CAudio mono = makeTestSignal(22050, 3000);
    mono.channels = 1;
    mono.samples.resize(3000);
    writeAudio(scratch.path("mono.aiff"), mono, SF_FORMAT_AIFF | SF_FORMAT_FLOAT);
    const CToolRun r =
        scratch.runWith(effect, {"mono.aiff", "out.wav", "--format", "float", "--tail", "0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const CAudio out = readAudio(scratch.path("out.wav"));
    ASSERT_EQ(out.channels, 2);
    ASSERT_EQ(out.rate, 22050);
    ASSERT_EQ(out.frames(), 3000u);
    for (size_t i = 0; i < out.frames(); ++i) {
        ASSERT_EQ(out.at(i, 0), mono.samples[i]);
        ASSERT_EQ(out.at(i, 1), mono.samples[i]);
    }
}

TEST_F(RenderHost, FlacInputAndTwentyFourBitOutputKeepTheSamples)
{
    writeAudio(scratch.path("in.flac"), makeTestSignal(32000, 5000),
               SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const CAudio input = readAudio(scratch.path("in.flac"));  // as the file holds it
    const CToolRun r =
        scratch.runWith(effect, {"in.flac", "out.wav", "--format", "24", "--tail", "0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int format = 0;
    const CAudio out = readAudio(scratch.path("out.wav"), &format);
    EXPECT_EQ(format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_24);
    ASSERT_EQ(out.rate, 32000);
    ASSERT_EQ(out.frames(), 5000u);
    // 16-bit samples in a 24-bit file: off by at most the 24-bit rounding.
    for (size_t i = 0; i < out.frames(); ++i)
        for (int c = 0; c < 2; ++c)
            ASSERT_NEAR(out.at(i, c), input.at(i, c), 2.0 / (1 << 23)) << "frame " << i;
}

TEST_F(RenderHost, OggVorbisInputIsRead)
{
    writeAudio(scratch.path("in.ogg"), makeTestSignal(44100, 6000),
               SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    const CAudio input = readAudio(scratch.path("in.ogg"));
    const CToolRun r =
        scratch.runWith(effect, {"in.ogg", "out.wav", "--format", "float", "--tail", "0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const CAudio out = readAudio(scratch.path("out.wav"));
    ASSERT_EQ(out.frames(), input.frames());
    EXPECT_EQ(out.samples, input.samples);
}

TEST_F(RenderHost, SetAndListWorkOnAnotherEffect)
{
    const CAudio input = makeTestSignal(44100, 2000);
    writeAudio(scratch.path("in.wav"), input, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    CToolRun r = scratch.runWith(effect, {"in.wav", "out.wav", "--format", "float", "--tail", "0",
                                          "--set", "GAIN=0.25", "--list-params"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto gain = paramLine(r.out, 0);
    ASSERT_GE(gain.size(), 4u) << r.out;
    EXPECT_EQ(gain[1], "Gain");
    EXPECT_EQ(gain[2], "0.25000");
    EXPECT_EQ(gain[3], "0.250");
    // The effect asked for the host's version while it was being created.
    const auto version = paramLine(r.out, 2);
    ASSERT_GE(version.size(), 4u) << r.out;
    EXPECT_EQ(version[3], "2400");
    const CAudio out = readAudio(scratch.path("out.wav"));
    for (size_t i = 0; i < out.frames(); ++i)
        ASSERT_EQ(out.at(i, 0), input.at(i, 0) * 0.25f);
}

TEST_F(RenderHost, TimeInfoGivesTempoPlayingTransportAndAdvancingPpq)
{
    const int rate = 48000, block = 300;
    const size_t frames = 4000;
    writeAudio(scratch.path("in.wav"), makeTestSignal(rate, frames),
               SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const CToolRun r =
        scratch.runWith(effect, {"in.wav", "out.wav", "--format", "float", "--tail", "0.05",
                                 "--tempo", "90", "--block", "300", "--set", "Probe=1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const CAudio out = readAudio(scratch.path("out.wav"));
    ASSERT_EQ(out.frames(), frames + 2400);
    for (size_t i = 0; i < out.frames(); ++i) {
        // Left: the quarter-note position at the start of the block holding frame i.
        const size_t blockStartFrame = i / block * block;  // whole blocks: division on purpose
        const double blockStart = static_cast<double>(blockStartFrame);
        const double ppq = blockStart / rate * 90.0 / 60.0;
        ASSERT_NEAR(out.at(i, 0), ppq, 1e-5 * (1.0 + ppq)) << "frame " << i;
        ASSERT_EQ(out.at(i, 1), 90.0f) << "frame " << i << " (negative: a host fault code)";
    }
}

TEST_F(RenderHost, PresetRoundTripThroughAnotherEffect)
{
    const CAudio input = makeTestSignal(44100, 1000);
    writeAudio(scratch.path("in.wav"), input, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    CToolRun r = scratch.runWith(
        effect, {"--set", "Gain=0.5", "--save-preset", "half.xml", "--list-params"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(readText(scratch.path("half.xml")).find("value=\"0.5\""), std::string::npos);
    r = scratch.runWith(
        effect, {"in.wav", "out.wav", "--format", "float", "--tail", "0", "--preset", "half.xml"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const CAudio out = readAudio(scratch.path("out.wav"));
    for (size_t i = 0; i < out.frames(); ++i)
        ASSERT_EQ(out.at(i, 1), input.at(i, 1) * 0.5f);
}

TEST_F(RenderHost, EntryPointNamedMainIsFound)
{
    writeAudio(scratch.path("in.wav"), makeTestSignal(44100, 100), SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const CToolRun r =
        scratch.runWith(testEffect(4), {"in.wav", "out.wav", "--tail", "0", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readAudio(scratch.path("out.wav")).frames(), 100u);
}

TEST_F(RenderHost, ProgressBarOnlyOnATerminal)
{
    // Long enough to pass the quarter second before the first bar.
    writeAudio(scratch.path("in.wav"), makeTestSignal(44100, 44100),
               SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const std::vector<std::string> args{
        "--plugin", scratch.plugin().string(), "in.wav", "out.wav", "--tail", "120", "--format",
        "16"};
    const CToolRun plain = scratch.run(args);
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.err, "");

    int master = -1;
    const CToolArgv argv(kRenderTool, args);
    const std::string dir = scratch.work().string();
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0)
        argv.execIn(dir);
    std::string terminal;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            terminal.append(buffer, static_cast<size_t>(n));
        else if (!(n < 0 && errno == EINTR))
            break;  // EIO once the child has closed the terminal
    }
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(exitCodeOf(status), 0) << terminal;
    EXPECT_NE(terminal.find("% "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("x real time"), std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" left"), std::string::npos) << terminal;
}
