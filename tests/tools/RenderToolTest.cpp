// skorvaline-render driving Skorvaline.so: the built-in demo, the dry path at mix 0,
// parameters set by name, presets saved and loaded, and filter maps given as BMP files.
#include "RenderToolSupport.h"

#include <cairo.h>
#include <map>
#include <tinyxml2.h>

using namespace skvtest;

namespace {

constexpr int kDemoRate = 44100;
// The demo phrase is 16 beats at 120 BPM; the default tail is 4 seconds.
constexpr size_t kDemoFrames = 8 * kDemoRate;
constexpr size_t kDefaultTailFrames = 4 * kDemoRate;

// Every "param" of the first preset: id -> attributes (without the date).
std::map<std::string, std::map<std::string, std::string>> presetParams(const fs::path& file)
{
    std::map<std::string, std::map<std::string, std::string>> out;
    tinyxml2::XMLDocument doc;
    if (doc.LoadFile(file.c_str()) != tinyxml2::XML_SUCCESS) {
        ADD_FAILURE() << file << " is not XML";
        return out;
    }
    const tinyxml2::XMLElement* bank = doc.FirstChildElement("Bank");
    const tinyxml2::XMLElement* preset = bank ? bank->FirstChildElement("Preset") : nullptr;
    if (!preset) {
        ADD_FAILURE() << file << " has no preset";
        return out;
    }
    for (const tinyxml2::XMLElement* p = preset->FirstChildElement("param"); p;
         p = p->NextSiblingElement("param")) {
        auto& attributes = out[p->Attribute("id") ? p->Attribute("id") : ""];
        for (const tinyxml2::XMLAttribute* a = p->FirstAttribute(); a; a = a->Next())
            if (std::string(a->Name()) != "id")
                attributes[a->Name()] = a->Value();
    }
    return out;
}

struct CPngSize {
    int width = 0, height = 0;
};

CPngSize pngSize(const fs::path& file)
{
    cairo_surface_t* s = cairo_image_surface_create_from_png(file.c_str());
    CPngSize size;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        size.width = cairo_image_surface_get_width(s);
        size.height = cairo_image_surface_get_height(s);
    }
    cairo_surface_destroy(s);
    return size;
}

class RenderTool : public ::testing::Test {
protected:
    CRenderScratch scratch;

    // A float WAV test input in the work folder.
    fs::path makeInput(const std::string& name, size_t frames, int rate = 44100)
    {
        fs::path p = scratch.path(name);
        writeAudio(p, makeTestSignal(rate, frames), SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        return p;
    }
};

}  // namespace

TEST_F(RenderTool, DemoWithoutArgumentsWritesPhrasePlusTailAndPicture)
{
    // The tool finds Skorvaline.so in the folder above its own, as in a build folder.
    fs::create_directories(scratch.root() / "tools");
    const fs::path tool = scratch.root() / "tools" / "skorvaline-render";
    fs::copy_file(kRenderTool, tool);
    const CToolRun r = scratch.run({}, tool);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "") << "nothing on stderr when it is not a terminal";
    EXPECT_NE(r.out.find(scratch.path("skorvaline-demo.wav").string()), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(scratch.path("skorvaline-demo.png").string()), std::string::npos) << r.out;
    EXPECT_EQ(scratch.files(),
              (std::vector<std::string>{"skorvaline-demo.png", "skorvaline-demo.wav"}));

    int format = 0;
    const CAudio out = readAudio(scratch.path("skorvaline-demo.wav"), &format);
    EXPECT_EQ(format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
    EXPECT_EQ(out.rate, kDemoRate);
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.frames(), kDemoFrames + kDefaultTailFrames);
    double energy = 0.0;
    for (float s : out.samples)
        energy += static_cast<double>(s) * s;
    EXPECT_GT(energy, 1.0) << "the demo is not silent";
    EXPECT_TRUE(fs::exists(scratch.root() / "Skorvaline Data" / "config.xml"));

    const CPngSize png = pngSize(scratch.path("skorvaline-demo.png"));
    EXPECT_GE(png.width, 800);
    EXPECT_GE(png.height, 400);
}

TEST_F(RenderTool, DemoIsTheSameEveryTime)
{
    ASSERT_EQ(scratch.render({"--quiet"}).exitCode, 0);
    const std::string first = readText(scratch.path("skorvaline-demo.wav"));
    ASSERT_EQ(scratch.render({"--quiet"}).exitCode, 0);
    EXPECT_TRUE(first == readText(scratch.path("skorvaline-demo.wav")));
}

TEST_F(RenderTool, MixZeroWithoutFeedbackGivesInputTimesVolumeGain)
{
    const size_t frames = 20000;
    const fs::path in = makeInput("in.wav", frames);
    const CToolRun r = scratch.render({in.string(), "out.wav", "--format", "float", "--tail", "0.5",
                                       "--set", "L->L Feedback=0.5", "--set", "L->R Feedback=0.5",
                                       "--set", "R->L Feedback=0.5", "--set", "R->R Feedback=0.5",
                                       "--set", "Mix=0", "--set", "Volume=0.8", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const CAudio input = readAudio(in);
    const CAudio out = readAudio(scratch.path("out.wav"));
    ASSERT_EQ(out.frames(), frames + 22050);
    // Volume x gives the gain x^4. Mix and volume glide from the program's values during
    // the first blocks; from the third block of 512 on they sit on their targets.
    const double gain = 0.8 * 0.8 * 0.8 * 0.8;
    for (size_t i = 1024; i < out.frames(); ++i) {
        for (int c = 0; c < 2; ++c) {
            const double expected = i < frames ? gain * input.at(i, c) : 0.0;
            ASSERT_NEAR(out.at(i, c), expected, 1e-5) << "frame " << i << " channel " << c;
        }
    }
}

TEST_F(RenderTool, SetByNameChangesTheParameterListParamsShows)
{
    CToolRun before = scratch.render({"--list-params"});
    ASSERT_EQ(before.exitCode, 0) << before.err;
    // "L Warp  " is reported with two trailing spaces; case and spaces do not matter.
    const CToolRun after =
        scratch.render({"--set", "  l WARP =0.3", "--set", "mix=0.25", "--list-params"});
    ASSERT_EQ(after.exitCode, 0) << after.err;
    const auto warpBefore = paramLine(before.out, 10), warpAfter = paramLine(after.out, 10);
    const auto mixAfter = paramLine(after.out, 43);
    ASSERT_GE(warpAfter.size(), 3u) << after.out;
    ASSERT_GE(warpBefore.size(), 3u) << before.out;
    ASSERT_GE(mixAfter.size(), 3u) << after.out;
    EXPECT_EQ(warpAfter[1], "L Warp");
    EXPECT_EQ(warpBefore[2], "0.75000");
    EXPECT_EQ(warpAfter[2], "0.30000");
    EXPECT_EQ(mixAfter[1], "Mix");
    EXPECT_EQ(mixAfter[2], "0.25000");
    EXPECT_EQ(scratch.files(), std::vector<std::string>{}) << "listing renders nothing";
}

TEST_F(RenderTool, ListProgramsNamesSixteenPrograms)
{
    const CToolRun r = scratch.render({"--list-programs"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("   15  "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("   16  "), std::string::npos) << r.out;
}

TEST_F(RenderTool, PresetSavedAndLoadedGivesTheSameStateAndSound)
{
    // Saved without rendering: a render moves the scan position, which the state records.
    CToolRun r = scratch.render({"--set", "Mix=0.25", "--set", "L Delay=0.3", "--set",
                                 "Filter Order=0.5", "--save-preset", "p.xml", "--list-params"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto saved = presetParams(scratch.path("p.xml"));
    ASSERT_EQ(saved.count("Mix"), 1u);
    EXPECT_EQ(saved.at("Mix").at("value"), "0.25");
    EXPECT_EQ(saved.at("Filter Order").at("value"), "0.5");

    r = scratch.render({"--preset", "p.xml", "--save-preset", "q.xml", "--list-params"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(presetParams(scratch.path("q.xml")), saved);
    EXPECT_EQ(paramLine(r.out, 43).at(2), "0.25000");

    const fs::path in = makeInput("in.wav", 30000);
    r = scratch.render({in.string(), "a.wav", "--set", "Mix=0.25", "--set", "L Delay=0.3", "--set",
                        "Filter Order=0.5", "--tail", "1", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = scratch.render({in.string(), "b.wav", "--preset", "p.xml", "--tail", "1", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readAudio(scratch.path("a.wav")).samples, readAudio(scratch.path("b.wav")).samples);
}

TEST_F(RenderTool, PresetLandsInTheSelectedProgram)
{
    ASSERT_EQ(
        scratch.render({"--set", "Mix=0.125", "--save-preset", "p.xml", "--list-params"}).exitCode,
        0);
    const CToolRun r = scratch.render({"--program", "3", "--preset", "p.xml", "--list-params"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(paramLine(r.out, 43).at(2), "0.12500");
}

TEST_F(RenderTool, MapLeftFromAThirdPartyBmpChangesTheOutput)
{
    const fs::path bmp = kBmpFolder / "big_rgb24_560x281_imagemagick_bmp3.bmp";
    const fs::path in = makeInput("in.wav", 44100);
    CToolRun r = scratch.render({in.string(), "plain.wav", "--tail", "1", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = scratch.render({in.string(), "mapped.wav", "--map-left", bmp.string(), "--tail", "1",
                        "--save-preset", "mapped.xml", "--png", "mapped.png", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const CAudio plain = readAudio(scratch.path("plain.wav"));
    const CAudio mapped = readAudio(scratch.path("mapped.wav"));
    ASSERT_EQ(plain.frames(), mapped.frames());
    double difference = 0.0;
    for (size_t i = 0; i < plain.frames(); ++i)
        difference =
            std::max(difference, std::fabs(static_cast<double>(plain.at(i, 0)) - mapped.at(i, 0)));
    EXPECT_GT(difference, 1e-3) << "the left filter map made no difference";

    // The state names the file by its absolute path and carries the picture it read.
    const auto params = presetParams(scratch.path("mapped.xml"));
    EXPECT_EQ(params.at("Bitmap L").at("path"), bmp.string());
    EXPECT_FALSE(params.at("Bitmap L").at("base64").empty());
    EXPECT_EQ(params.at("Bitmap R").at("path"), "#0");

    // The picture gets a row for the filter maps when one can be read back.
    ASSERT_EQ(scratch.render({in.string(), "plain2.wav", "--png", "plain.png", "--quiet"}).exitCode,
              0);
    EXPECT_GT(pngSize(scratch.path("mapped.png")).height,
              pngSize(scratch.path("plain.png")).height);
}

TEST_F(RenderTool, MapRightRelativePathIsStoredAbsolute)
{
    const fs::path bmp = scratch.path("map.bmp");
    fs::copy_file(kBmpFolder / "grey8_w16_h16_pillow.bmp", bmp);
    const CToolRun r =
        scratch.render({"--map-right", "map.bmp", "--save-preset", "p.xml", "--list-params"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(presetParams(scratch.path("p.xml")).at("Bitmap R").at("path"), bmp.string());
}

TEST_F(RenderTool, TailKeepsRenderingAfterTheInput)
{
    const fs::path in = makeInput("in.wav", 4410, 48000);
    const CToolRun r =
        scratch.render({in.string(), "out.flac", "--tail", "2.5", "--format", "16", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int format = 0;
    const CAudio out = readAudio(scratch.path("out.flac"), &format);
    EXPECT_EQ(format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
    EXPECT_EQ(format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
    EXPECT_EQ(out.rate, 48000);
    EXPECT_EQ(out.frames(), 4410u + 120000u);
    // The default program's echoes ring on after the input has ended.
    double tailEnergy = 0.0;
    for (size_t i = 4410 + 48000; i < out.frames(); ++i)
        tailEnergy += static_cast<double>(out.at(i, 0)) * out.at(i, 0);
    EXPECT_GT(tailEnergy, 1e-3);
}
