// Programs and their filter maps inside one process: built-in and file references, pictures
// carried as image text, edited pictures travelling through the state chunk, the scan window
// and the stored tempo a program brings along.
#include "plugin/Skorvaline.h"

#include "filtermap/BitmapArrayAnalyser.h"
#include "plugin/ParameterTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr int kLeft = skv::kParamFilterLSelect;
constexpr int kRight = skv::kParamFilterRSelect;

std::shared_ptr<kfx::CBitmapArrayAnalyser> mapOf(fxSkorvaline& fx, int channel)
{
    std::shared_ptr<kfx::CBitmapArrayAnalyser> map;
    fx.getFilterMap(map, channel);
    return map;
}

std::vector<float> valuesOf(const kfx::CBitmapArrayAnalyser& map)
{
    std::vector<float> values(static_cast<std::size_t>(map.getWidth()) * map.getHeight());
    map.getValues(values.data(), static_cast<unsigned>(values.size()));
    return values;
}

std::string pathOf(fxSkorvaline& fx, int channel)
{
    char text[300];
    std::memset(text, 'x', sizeof text);
    fx.getFilterMapPath(text, channel);
    return text;
}

std::string corpusFile(const char* name)
{
    return std::string(SKV_TESTDATA_DIR) + "/bmp/" + name;
}

}  // namespace

TEST(FilterMapState, ProgramZeroStartsWithBuiltInPictureZeroInBothChannels)
{
    fxSkorvaline fx(nullptr);
    for (int channel : {kLeft, kRight}) {
        SCOPED_TRACE(channel);
        const auto map = mapOf(fx, channel);
        ASSERT_TRUE(map);
        EXPECT_TRUE(map->isValid());
        EXPECT_EQ(map->getWidth(), 560);
        EXPECT_EQ(map->getHeight(), 281);
        EXPECT_EQ(pathOf(fx, channel), "#0");
        int w = 0, h = 0;
        EXPECT_EQ(fx.currentProgram().getImage(channel == kLeft), map->encodeImage(w, h));
    }
    EXPECT_EQ(mapOf(fx, kLeft)->getName(), "L");
    EXPECT_EQ(mapOf(fx, kRight)->getName(), "R");
    // Any channel number other than the left one means right.
    EXPECT_EQ(mapOf(fx, 0), mapOf(fx, kRight));
}

TEST(FilterMapState, BuiltInReferenceLoadsThePictureAndKeepsItsText)
{
    fxSkorvaline fx(nullptr);
    fx.loadFilterMap("#1", kLeft, true);
    const auto map = mapOf(fx, kLeft);
    EXPECT_EQ(map->getWidth(), 1034);
    EXPECT_EQ(map->getHeight(), 689);
    EXPECT_EQ(pathOf(fx, kLeft), "#1");
    int w = 0, h = 0;
    EXPECT_EQ(fx.currentProgram().getImage(true), map->encodeImage(w, h));
    // The other channel is untouched.
    EXPECT_EQ(mapOf(fx, kRight)->getWidth(), 560);

    // Without clearing, the program's stored picture wins over the reference.
    fx.loadFilterMap("#2", kLeft, false);
    EXPECT_EQ(map->getWidth(), 1034);
    EXPECT_EQ(pathOf(fx, kLeft), "#2");
    fx.loadFilterMap("#2", kLeft, true);
    EXPECT_EQ(map->getWidth(), 787);
    EXPECT_EQ(map->getHeight(), 390);
}

TEST(FilterMapState, UnknownBuiltInNumberLeavesNoValidPicture)
{
    // Only #0 to #2 exist. "#3" and nonsense after "#" load nothing: the channel then scans
    // the seeded random columns, the same on every instance, and the state keeps the reference.
    for (const char* reference : {"#3", "#", "#-1", "#abc", "#99999999999999999999"}) {
        SCOPED_TRACE(reference);
        fxSkorvaline fx(nullptr);
        fx.loadFilterMap(reference, kRight, true);
        EXPECT_FALSE(mapOf(fx, kRight)->isValid());
        EXPECT_EQ(mapOf(fx, kRight)->getWidth(), 0);
        EXPECT_TRUE(fx.currentProgram().getImage(false).empty());
        EXPECT_EQ(pathOf(fx, kRight), reference);
        EXPECT_TRUE(mapOf(fx, kLeft)->isValid());
    }
}

TEST(FilterMapState, FileReferenceLoadsTheFileAndCarriesItsPicture)
{
    fxSkorvaline fx(nullptr);
    const std::string file = corpusFile("rgb24_w13_h7_gimp.bmp");
    fx.loadFilterMap(file.c_str(), kLeft, true);
    const auto map = mapOf(fx, kLeft);
    EXPECT_EQ(map->getWidth(), 13);
    EXPECT_EQ(map->getHeight(), 7);
    EXPECT_EQ(pathOf(fx, kLeft), file);
    EXPECT_FALSE(fx.currentProgram().getImage(true).empty());
}

TEST(FilterMapState, MissingFileKeepsThePreviousPicture)
{
    fxSkorvaline fx(nullptr);
    const auto map = mapOf(fx, kLeft);
    const std::vector<float> before = valuesOf(*map);
    fx.loadFilterMap("/no/such/folder/map.bmp", kLeft, true);
    EXPECT_EQ(pathOf(fx, kLeft), "/no/such/folder/map.bmp");
    EXPECT_EQ(valuesOf(*map), before);
}

TEST(FilterMapState, MissingFileWithItsPictureInTheProgramRestoresThePicture)
{
    // State saved on another machine: the file is gone but the program carries the picture.
    fxSkorvaline source(nullptr);
    source.loadFilterMap("#2", kLeft, true);
    const std::string text = source.currentProgram().getImage(true);

    fxSkorvaline fx(nullptr);
    fxSkorvalineProgram& program = fx.getPrograms()[1];
    program.setPath("/home/someone/maps/gone.bmp", true);
    program.setImage(true, text);
    fx.setProgram(1);
    const auto map = mapOf(fx, kLeft);
    EXPECT_EQ(map->getWidth(), 787);
    EXPECT_EQ(map->getHeight(), 390);
    EXPECT_EQ(pathOf(fx, kLeft), "/home/someone/maps/gone.bmp");
}

TEST(FilterMapState, EditedPictureTravelsThroughTheChunkToAnotherInstance)
{
    fxSkorvaline fx(nullptr);
    const auto map = mapOf(fx, kLeft);
    map->invert();
    map->flip(true);
    ASSERT_TRUE(map->isModified());
    fx.storeFilterMapImage(kLeft);
    EXPECT_EQ(pathOf(fx, kLeft), "");
    int w = 0, h = 0;
    EXPECT_EQ(fx.currentProgram().getImage(true), map->encodeImage(w, h));
    // The right map was not edited: storing it changes nothing.
    fx.storeFilterMapImage(kRight);
    EXPECT_EQ(pathOf(fx, kRight), "#0");

    void* data = nullptr;
    const VstInt32 size = fx.getChunk(&data, false);
    ASSERT_GT(size, 0);
    const std::vector<unsigned char> chunk(static_cast<unsigned char*>(data),
                                           static_cast<unsigned char*>(data) + size);

    fxSkorvaline other(nullptr);
    const auto otherMap = mapOf(other, kLeft);
    ASSERT_NE(valuesOf(*otherMap), valuesOf(*map));
    std::vector<unsigned char> copy = chunk;
    ASSERT_EQ(other.setChunk(copy.data(), size, false), 1);
    EXPECT_EQ(valuesOf(*otherMap), valuesOf(*map));
    EXPECT_EQ(pathOf(other, kLeft), "");
    EXPECT_EQ(valuesOf(*mapOf(other, kRight)), valuesOf(*mapOf(fx, kRight)));
}

TEST(FilterMapState, LoadingGivesTheMapItsScanWindowFromTheProgram)
{
    fxSkorvaline fx(nullptr);
    fxSkorvalineProgram& program = fx.currentProgram();
    program.setValue(skv::kParamRStartLoop, 0.25f);
    program.setValue(skv::kParamRStopLoop, 0.75f);
    program.setValue(skv::kParamROffsetVert, 0.125f);
    program.setValue(skv::kParamRIndex, 0.5f);
    fx.loadFilterMap("#0", kRight, false);
    const auto map = mapOf(fx, kRight);
    EXPECT_FLOAT_EQ(map->getLoopStart(), 0.25f);
    EXPECT_FLOAT_EQ(map->getLoopStop(), 0.75f);
    EXPECT_FLOAT_EQ(map->getVerticalOffset(), 0.125f);
    EXPECT_FLOAT_EQ(map->getScanIndex(), 0.5f);
}

TEST(FilterMapState, SelectedProgramBringsItsTempo)
{
    // With Sync Delay at 0.3 (eighths of a beat) and L Delay 0.5, the unit count shows the tempo
    // in use: 32 eighths at 120 BPM, 16 at 60 BPM. A stored tempo of 0 or below, or above
    // 10000, is taken as 120.
    const struct {
        float stored;
        const char* units;
    } cases[] = {{60.0f, "16"}, {120.0f, "32"},   {0.0f, "32"},
                 {-5.0f, "32"}, {20000.0f, "32"}, {240.0f, "64"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        fxSkorvaline fx(nullptr);
        fxSkorvalineProgram& program = fx.getPrograms()[3];
        program.setValue(skv::kParamSyncDelay, 0.3f);
        program.setValue(skv::kParamLDelay, 0.5f);
        program.setTempo(c.stored);
        fx.setProgram(3);
        char text[64] = "";
        fx.getParameterDisplay(skv::kParamLDelay, text);
        EXPECT_STREQ(text, c.units);
    }
}

TEST(FilterMapState, ProgramSwitchPushesEveryValueAndBothMaps)
{
    fxSkorvaline fx(nullptr);
    fxSkorvalineProgram& program = fx.getPrograms()[7];
    program.setValue(skv::kParamMix, 0.125f);
    program.setValue(skv::kParamFilterOrder, 1.0f);
    program.setPath("#2", true);
    program.setPath("#1", false);
    fx.setProgram(7);
    EXPECT_EQ(fx.getProgram(), 7);
    EXPECT_FLOAT_EQ(fx.getParameter(skv::kParamMix), 0.125f);
    char text[64] = "";
    fx.getParameterDisplay(skv::kParamFilterOrder, text);
    EXPECT_STREQ(text, "     80");
    EXPECT_EQ(mapOf(fx, kLeft)->getWidth(), 787);
    EXPECT_EQ(mapOf(fx, kRight)->getWidth(), 1034);
    // Out-of-range program numbers are ignored.
    fx.setProgram(16);
    fx.setProgram(-1);
    EXPECT_EQ(fx.getProgram(), 7);
}
