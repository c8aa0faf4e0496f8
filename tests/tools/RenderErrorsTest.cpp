// skorvaline-render on bad input: every case exits non-zero with one line on stderr naming
// the file and the reason, and leaves no output file (nor a temporary one) behind; an
// existing output and the input are never touched.
#include "RenderToolSupport.h"

using namespace skvtest;

namespace {

class RenderErrors : public ::testing::Test {
protected:
    CRenderScratch scratch;
    std::vector<std::string> inputs;  // files the test put in the work folder

    void SetUp() override
    {
        writeAudio(scratch.path("in.wav"), makeTestSignal(44100, 4410),
                   SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        inputs.emplace_back("in.wav");
    }

    void addFile(const std::string& name, const std::string& text)
    {
        writeText(scratch.path(name), text);
        inputs.push_back(name);
    }

    // Runs the tool with the given plug-in and checks the failure and what is left behind.
    void expectFailure(const fs::path& plugin, std::vector<std::string> args,
                       const std::vector<std::string>& mentions)
    {
        args.insert(args.begin(), {"--plugin", plugin.string()});
        const CToolRun r = scratch.run(args);
        std::string command;
        for (const std::string& a : args)
            command += " " + a;
        SCOPED_TRACE("skorvaline-render" + command);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_EQ(r.out, "");
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_TRUE(startsWith(r.err, "skorvaline-render: ")) << r.err;
        for (const std::string& m : mentions)
            EXPECT_NE(r.err.find(m), std::string::npos) << "\"" << m << "\" not in: " << r.err;
        std::vector<std::string> expected = inputs;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(scratch.files(), expected);
    }

    void expectFailure(std::vector<std::string> args, const std::vector<std::string>& mentions)
    {
        expectFailure(scratch.plugin(), std::move(args), mentions);
    }
};

}  // namespace

TEST_F(RenderErrors, UnreadableOrUnsupportedInput)
{
    expectFailure({"missing.wav", "out.wav"}, {"missing.wav", "no such file"});
    addFile("notes.wav", "these are not samples\n");
    expectFailure({"notes.wav", "out.wav"}, {"notes.wav", "cannot read audio"});
    fs::create_directory(scratch.path("folder.wav"));
    inputs.emplace_back("folder.wav");
    expectFailure({"folder.wav", "out.wav"}, {"folder.wav", "is a folder"});
    CAudio three;
    three.channels = 3;
    three.samples.assign(300, 0.25f);
    writeAudio(scratch.path("three.wav"), three, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    inputs.emplace_back("three.wav");
    expectFailure({"three.wav", "out.wav"}, {"three.wav", "3 channels"});
    writeAudio(scratch.path("empty.wav"), CAudio{}, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    inputs.emplace_back("empty.wav");
    expectFailure({"empty.wav", "out.wav"}, {"empty.wav", "no audio"});
}

TEST_F(RenderErrors, UnwritableOrUnsupportedOutput)
{
    expectFailure({"in.wav", "out.mp3"}, {"out.mp3", "unsupported output type"});
    expectFailure({"in.wav", "out.flac", "--format", "float"}, {"out.flac", "FLAC"});
    expectFailure({"in.wav", "nowhere/out.wav"},
                  {"nowhere/out.wav", "cannot create a file in nowhere"});
    expectFailure({"in.wav", "out.wav", "--png", "nowhere/out.png"}, {"nowhere/out.png"});
    expectFailure({"in.wav", "out.wav", "--format", "12"}, {"--format", "12"});
}

TEST_F(RenderErrors, OutputNeverReplacesAFileTheRunReads)
{
    const std::string before = readText(scratch.path("in.wav"));
    expectFailure({"in.wav", "in.wav"}, {"in.wav", "is also the input"});
    expectFailure({"in.wav", "./in.wav"}, {"in.wav", "is also the input"});
    fs::create_symlink("in.wav", scratch.path("link.wav"));
    inputs.emplace_back("link.wav");
    expectFailure({"link.wav", "in.wav"}, {"in.wav", "is also the input"});
    expectFailure({"in.wav", "out.wav", "--png", "out.wav"}, {"out.wav", "named as both"});
    expectFailure({"in.wav", "out.wav", "--save-preset", "in.wav"},
                  {"in.wav", "is also the input"});
    EXPECT_EQ(readText(scratch.path("in.wav")), before);
}

TEST_F(RenderErrors, PluginThatCannotBeUsed)
{
    expectFailure(scratch.path("missing.so"), {"in.wav", "out.wav"},
                  {"missing.so", "no such plug-in file"});
    addFile("text.so", "not a library\n");
    expectFailure(scratch.path("text.so"), {"in.wav", "out.wav"},
                  {"text.so", "cannot load the plug-in"});
    expectFailure(testEffect(2), {"in.wav", "out.wav"},
                  {testEffect(2).string(), "no VSTPluginMain or main entry point"});
    expectFailure(testEffect(3), {"in.wav", "out.wav"},
                  {testEffect(3).string(), "created no effect"});
    expectFailure(testEffect(1), {"in.wav", "out.wav"},
                  {testEffect(1).string(), "not an effect with 2 outputs"});
}

TEST_F(RenderErrors, UnknownParameterNameListsCloseMatches)
{
    expectFailure({"in.wav", "out.wav", "--set", "L Delya=0.5"},
                  {"no parameter named \"L Delya\"", "\"L Delay\""});
    expectFailure({"in.wav", "out.wav", "--set", "Feedbak=0.5"}, {"\"Feedbak\""});
    expectFailure(testEffect(0), {"in.wav", "out.wav", "--set", "Gian=0.5"},
                  {testEffect(0).string(), "\"Gian\"", "\"Gain\""});
}

TEST_F(RenderErrors, ValueOutsideZeroToOne)
{
    expectFailure({"in.wav", "out.wav", "--set", "Mix=1.5"}, {"Mix=1.5", "outside 0..1"});
    expectFailure({"in.wav", "out.wav", "--set", "Mix=-0.01"}, {"outside 0..1"});
    expectFailure({"in.wav", "out.wav", "--set", "Mix=abc"}, {"\"abc\" is not a number"});
    expectFailure({"in.wav", "out.wav", "--set", "Mix=nan"}, {"\"nan\" is not a number"});
    expectFailure({"in.wav", "out.wav", "--set", "Mix"}, {"not NAME=VALUE"});
    expectFailure({"in.wav", "out.wav", "--program", "16"}, {"--program 16", "16 programs"});
    expectFailure({"in.wav", "out.wav", "--tail"}, {"--tail needs a value"});
    expectFailure({"in.wav", "out.wav", "--block", "0"}, {"--block"});
}

TEST_F(RenderErrors, PresetTheToolOrThePluginRefuses)
{
    addFile("text.xml", "just some words\n");
    expectFailure({"in.wav", "out.wav", "--preset", "text.xml"},
                  {"text.xml", "not a preset-bank XML document"});
    addFile("broken.xml", "<?xml version=\"1.0\"?>\n<Bank name=\"b\">\n<Preset name=\"p\"\n");
    expectFailure({"in.wav", "out.wav", "--preset", "broken.xml"},
                  {"broken.xml", "not well-formed XML"});
    addFile("nobank.xml", "<?xml version=\"1.0\"?>\n<Presets/>\n");
    expectFailure({"in.wav", "out.wav", "--preset", "nobank.xml"},
                  {"nobank.xml", "no \"Bank\" element"});
    addFile(
        "other.xml",
        "<?xml version=\"1.0\"?>\n<Bank name=\"b\" modified=\"-\" author=\"-\">"
        "<Preset name=\"p\" plugin=\"Other\"><param id=\"Mix\" value=\"0.5\"/></Preset></Bank>\n");
    expectFailure({"in.wav", "out.wav", "--preset", "other.xml"},
                  {"other.xml", "no Skorvaline preset"});
    // The pass-through effect answers setChunk with 0 for a document that is not its own.
    expectFailure(testEffect(0), {"in.wav", "out.wav", "--preset", "other.xml"},
                  {"other.xml", "the plug-in refused this preset"});
    // A preset without any parameter entries cannot be loaded by Skorvaline's bank reader.
    addFile("empty.xml", "<?xml version=\"1.0\"?>\n<Bank name=\"b\" modified=\"-\" author=\"-\">"
                         "<Preset name=\"p\" plugin=\"Skorvaline\"/></Bank>\n");
    expectFailure({"in.wav", "out.wav", "--preset", "empty.xml"},
                  {"empty.xml", "the plug-in refused this preset"});
    expectFailure({"in.wav", "out.wav", "--preset", "missing.xml"},
                  {"missing.xml", "no such file"});
}

TEST_F(RenderErrors, FilterMapThatCannotBeUsed)
{
    expectFailure({"in.wav", "out.wav", "--map-left", "missing.bmp"},
                  {"missing.bmp", "no such file"});
    addFile("words.bmp", "no picture here\n");
    expectFailure({"in.wav", "out.wav", "--map-right", "words.bmp"},
                  {"words.bmp", "not a BMP file"});
    // Looks like a BMP file but holds no readable picture: only the effect can tell.
    addFile("broken.bmp", std::string("BM") + std::string(60, '\x7f'));
    expectFailure({"in.wav", "out.wav", "--map-left", "broken.bmp"},
                  {"broken.bmp", "cannot read this picture"});
    // The pass-through effect's state has no filter-map entries.
    expectFailure(
        testEffect(0),
        {"in.wav", "out.wav", "--map-left", (kBmpFolder / "grey8_w16_h16_pillow.bmp").string()},
        {"\"Bitmap L\""});
}

TEST_F(RenderErrors, FailedRunLeavesAnExistingOutputAlone)
{
    addFile("out.wav", "an older render\n");
    expectFailure({"in.wav", "out.wav", "--set", "Nothing=0.5"}, {"Nothing"});
    EXPECT_EQ(readText(scratch.path("out.wav")), "an older render\n");
}

TEST_F(RenderErrors, InterruptedRenderLeavesNoOutput)
{
    // An hour of tail: far longer than the test waits.
    const pid_t pid = scratch.start({"--plugin", scratch.plugin().string(), "in.wav", "out.wav",
                                     "--tail", "3600", "--png", "out.png"});
    // Wait until the render is under way (its temporary output exists), then interrupt it.
    bool started = false;
    for (int i = 0; i < 600 && !started; ++i) {
        for (const std::string& name : scratch.files())
            started = started || startsWith(name, ".out.wav.");
        if (!started)
            ::usleep(50000);
    }
    ASSERT_TRUE(started) << "no temporary output appeared";
    ::usleep(200000);
    ::kill(pid, SIGINT);
    const CToolRun r = scratch.wait(pid);
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
    EXPECT_EQ(scratch.files(), std::vector<std::string>{"in.wav"});
}
