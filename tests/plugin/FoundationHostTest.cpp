// What a host observes of the effect: entry point, record fields, names, can-do answers,
// MIDI control changes, program names, the host calls at construction and resume, and
// config.xml beside the library. Every test loads its own copy of Skorvaline.so.
#include "support/TestHost.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

using skvtest::CTestHost;
using skvtest::HostCall;
namespace fs = std::filesystem;

namespace {

class FoundationHost : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(host.create(), nullptr); }
    CTestHost host;
};

}  // namespace

TEST(FoundationEntry, ExportsOnlyTheTwoEntryNames)
{
    CTestHost host;
    std::vector<std::string> symbols = host.exportedSymbols();
    ASSERT_FALSE(symbols.empty()) << "nm found nothing";
    const std::vector<std::string> toolchain = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    bool hasMain = false, hasVstMain = false;
    for (const std::string& name : symbols) {
        if (name == "main") {
            hasMain = true;
        }
        else if (name == "VSTPluginMain") {
            hasVstMain = true;
        }
        else {
            EXPECT_NE(std::find(toolchain.begin(), toolchain.end(), name), toolchain.end())
                << "unexpected export " << name;
        }
    }
    EXPECT_TRUE(hasMain);
    EXPECT_TRUE(hasVstMain);
}

TEST(FoundationEntry, BothNamesCreateAnEffect)
{
    for (const char* name : {"main", "VSTPluginMain"}) {
        SCOPED_TRACE(name);
        CTestHost host;
        AEffect* effect = host.create(name);
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->magic, 0x56737450);
        const HostCall* first = host.calls.empty() ? nullptr : &host.calls.front();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->opcode, audioMasterVersion);
        EXPECT_TRUE(first->effectWasNull);
    }
}

TEST(FoundationEntry, HostVersionZeroGivesNoInstance)
{
    CTestHost host;
    host.versionAnswer = 0;
    EXPECT_EQ(host.create(), nullptr);
    ASSERT_EQ(host.calls.size(), 1u);  // asked for the version, nothing else
    EXPECT_EQ(host.calls[0].opcode, audioMasterVersion);
    EXPECT_FALSE(fs::exists(host.dataFolder()));  // no effect was constructed
}

TEST(FoundationEntry, TwoCopiesLoadIndependently)
{
    CTestHost first;
    CTestHost second;
    AEffect* a = first.create();
    AEffect* b = second.create();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a->dispatcher, b->dispatcher);  // two separate copies of the code
    EXPECT_TRUE(fs::exists(first.configFile()));
    EXPECT_TRUE(fs::exists(second.configFile()));
}

TEST_F(FoundationHost, RecordShowsTheEffect)
{
    AEffect* e = host.effect();
    EXPECT_EQ(e->numPrograms, 16);
    EXPECT_EQ(e->numParams, 53);
    EXPECT_EQ(e->numInputs, 2);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->uniqueID, 0x536B764C);
    EXPECT_EQ(e->version, 1);
    EXPECT_EQ(e->initialDelay, 0);
    EXPECT_FLOAT_EQ(e->ioRatio, 1.0f);
    EXPECT_EQ(e->flags & (effFlagsCanReplacing | effFlagsProgramChunks),
              effFlagsCanReplacing | effFlagsProgramChunks);
    EXPECT_EQ(e->flags & (effFlagsHasVu | effFlagsHasClip), 0);
    EXPECT_NE(e->processReplacing, nullptr);
    EXPECT_NE(e->process, nullptr);
    EXPECT_EQ(host.dispatch(effGetProgram), 0);
}

TEST_F(FoundationHost, NamesAndVersions)
{
    EXPECT_EQ(host.getString(effGetEffectName), "Skorvaline v1.0");
    EXPECT_EQ(host.getString(effGetProductString), "Skorvaline v1.0");
    EXPECT_EQ(host.dispatch(effGetEffectName, 0, 0, std::vector<char>(64).data()), 1);
    std::string vendor = host.getString(effGetVendorString);
    EXPECT_FALSE(vendor.empty());
    EXPECT_NE(vendor.find('.'), std::string::npos);  // a web domain
    EXPECT_EQ(host.dispatch(effGetVendorVersion), 1000);
    EXPECT_EQ(host.dispatch(effGetVstVersion), 2300);
    EXPECT_EQ(host.dispatch(effGetPlugCategory), 1);
    EXPECT_EQ(host.dispatch(effGetVu), 0);
    EXPECT_EQ(host.dispatch(effGetTailSize), 0);
}

TEST_F(FoundationHost, UnsupportedQueriesAnswerFalse)
{
    std::vector<char> buffer(256, 'x');
    EXPECT_EQ(host.dispatch(effGetParameterProperties, 0, 0, buffer.data()), 0);
    EXPECT_EQ(host.dispatch(effString2Parameter, 0, 0, const_cast<char*>("0.5")), 0);
    EXPECT_EQ(host.dispatch(effSetBypass, 0, 1), 0);
    EXPECT_EQ(host.dispatch(effGetInputProperties, 0, 0, buffer.data()), 0);
    EXPECT_EQ(host.dispatch(effGetOutputProperties, 1, 0, buffer.data()), 0);
    EXPECT_EQ(buffer[0], 'x');
    for (int i = 0; i < 53; ++i) {
        ASSERT_EQ(host.dispatch(effCanBeAutomated, i), 1) << i;
    }
}

TEST_F(FoundationHost, EditorRectIsKnownBeforeTheFirstOpen)
{
    // Hosts size their window from effEditGetRect before they open the editor.
    ERect* rect = nullptr;
    ASSERT_EQ(host.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 788);
    EXPECT_EQ(rect->bottom - rect->top, 390);
    EXPECT_EQ(host.effect()->flags & effFlagsHasEditor, effFlagsHasEditor);
}

TEST_F(FoundationHost, CanDoMatchesExactly)
{
    auto canDo = [&](const char* text) {
        return host.dispatch(effCanDo, 0, 0, const_cast<char*>(text));
    };
    EXPECT_EQ(canDo("receiveVstEvents"), 1);
    EXPECT_EQ(canDo("receiveVstMidiEvent"), 1);
    EXPECT_EQ(canDo("receiveVstEventsX"), -1);
    EXPECT_EQ(canDo("receiveVstMidiEvents"), -1);
    EXPECT_EQ(canDo("receiveVstEvent"), -1);
    EXPECT_EQ(canDo("ReceiveVstEvents"), -1);
    EXPECT_EQ(canDo("bypass"), -1);
    EXPECT_EQ(canDo(""), -1);
}

TEST_F(FoundationHost, ControllersTwentyToSeventyTwoSetParameters)
{
    host.calls.clear();
    const float before0 = host.getParameter(0);
    const float before52 = host.getParameter(52);

    // Outside the range, and a note-on on the controller numbers: nothing changes.
    EXPECT_EQ(host.sendMidi({{0xB0, 19, 100}, {0xB3, 73, 100}, {0x90, 20, 127}, {0x90, 72, 1}}), 1);
    EXPECT_EQ(host.getParameter(0), before0);
    EXPECT_EQ(host.getParameter(52), before52);
    EXPECT_EQ(host.count(audioMasterUpdateDisplay), 0u);

    EXPECT_EQ(host.sendMidi({{0xB0, 20, 127}}), 1);
    EXPECT_EQ(host.getParameter(0), 1.0f);
    EXPECT_EQ(host.count(audioMasterUpdateDisplay), 1u);

    // Any channel; 64/127 as single precision.
    EXPECT_EQ(host.sendMidi({{0xBF, 72, 64}}), 1);
    EXPECT_FLOAT_EQ(host.getParameter(52), 64.0f * 0.007874016f);
    EXPECT_EQ(host.count(audioMasterUpdateDisplay), 2u);

    // Several in one list: one display update for the whole list (it arrives on the audio
    // thread, where a host call per controller would be a burst of them).
    host.calls.clear();
    EXPECT_EQ(host.sendMidi({{0xB1, 21, 0}, {0xB2, 22, 127}, {0x80, 23, 5}}), 1);
    EXPECT_EQ(host.count(audioMasterUpdateDisplay), 1u);
    EXPECT_EQ(host.getParameter(1), 0.0f);
    EXPECT_EQ(host.getParameter(2), 1.0f);
}

TEST_F(FoundationHost, OtherEventTypesAndEmptyListsAreIgnored)
{
    host.calls.clear();
    VstMidiSysexEvent sysex{};
    sysex.type = kVstSysExType;
    sysex.byteSize = sizeof sysex;
    VstEvents list{};
    list.numEvents = 1;
    list.events[0] = reinterpret_cast<VstEvent*>(&sysex);
    EXPECT_EQ(host.dispatch(effProcessEvents, 0, 0, &list), 1);
    list.numEvents = 0;
    EXPECT_EQ(host.dispatch(effProcessEvents, 0, 0, &list), 1);
    EXPECT_EQ(host.count(audioMasterUpdateDisplay), 0u);
}

TEST_F(FoundationHost, ProgramNamesAreCutAt23Characters)
{
    EXPECT_EQ(host.getString(effGetProgramName), "Default");
    char name[] = "A name far longer than twenty-three";
    host.dispatch(effSetProgramName, 0, 0, name);
    // The host's 24-byte buffer, guarded on both sides.
    char buffer[40];
    std::memset(buffer, '#', sizeof buffer);
    host.dispatch(effGetProgramName, 0, 0, buffer + 8);
    EXPECT_STREQ(buffer + 8, "A name far longer than ");
    EXPECT_EQ(std::strlen(buffer + 8), 23u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(buffer[i], '#');
    }
    for (int i = 8 + 24; i < 40; ++i) {
        EXPECT_EQ(buffer[i], '#');
    }

    char shortName[] = "Short";
    host.dispatch(effSetProgramName, 0, 0, shortName);
    EXPECT_EQ(host.getString(effGetProgramName), "Short");
}

TEST_F(FoundationHost, ProgramNameIndexedAnswersOnlyForSixteenPrograms)
{
    char name[] = "Renamed";
    host.dispatch(effSetProgramName, 0, 0, name);
    char buffer[32] = "untouched";
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, 0, 0, buffer), 1);
    EXPECT_STREQ(buffer, "Renamed");
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, 15, 0, buffer), 1);
    EXPECT_STREQ(buffer, "Default");
    std::strcpy(buffer, "untouched");
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, 16, 0, buffer), 0);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, -1, 0, buffer), 0);
    EXPECT_STREQ(buffer, "untouched");
}

TEST_F(FoundationHost, ProgramsKeepTheirOwnValues)
{
    host.setParameter(5, 0.25f);
    host.dispatch(effSetProgram, 0, 1);
    EXPECT_EQ(host.dispatch(effGetProgram), 1);
    host.setParameter(5, 0.75f);
    host.dispatch(effSetProgram, 0, 0);
    EXPECT_FLOAT_EQ(host.getParameter(5), 0.25f);
    host.dispatch(effSetProgram, 0, 1);
    EXPECT_FLOAT_EQ(host.getParameter(5), 0.75f);
    host.dispatch(effSetProgram, 0, 16);  // no such program
    EXPECT_EQ(host.dispatch(effGetProgram), 1);
}

TEST(FoundationConstruction, HostCallsDuringConstruction)
{
    CTestHost host;
    ASSERT_NE(host.create(), nullptr);
    // version (entry), needIdle (constructor), getTime (tempo update), wantMidi (resume).
    ASSERT_GE(host.calls.size(), 4u);
    EXPECT_EQ(host.calls[0].opcode, audioMasterVersion);
    EXPECT_EQ(host.count(audioMasterNeedIdle), 1u);
    ASSERT_EQ(host.count(audioMasterGetTime), 1u);
    EXPECT_EQ(host.last(audioMasterGetTime)->value, 0x2E01);
    ASSERT_EQ(host.count(audioMasterWantMidi), 1u);
    EXPECT_EQ(host.last(audioMasterWantMidi)->value, 1);
    auto position = [&](VstInt32 opcode) {
        for (std::size_t i = 0; i < host.calls.size(); ++i) {
            if (host.calls[i].opcode == opcode) {
                return i;
            }
        }
        return host.calls.size();
    };
    EXPECT_LT(position(audioMasterNeedIdle), position(audioMasterGetTime));
    EXPECT_LT(position(audioMasterGetTime), position(audioMasterWantMidi));
    // Nothing the design does not name is asked during construction.
    for (const HostCall& call : host.calls) {
        EXPECT_TRUE(call.opcode == audioMasterVersion || call.opcode == audioMasterNeedIdle ||
                    call.opcode == audioMasterGetTime || call.opcode == audioMasterWantMidi ||
                    call.opcode == audioMasterUpdateDisplay || call.opcode == audioMasterAutomate)
            << "opcode " << call.opcode;
    }
}

TEST(FoundationConstruction, NullOrBadTimeInfoStillGivesAnInstance)
{
    {
        CTestHost host;
        host.answerTimeInfo = false;
        ASSERT_NE(host.create(), nullptr);
        EXPECT_EQ(host.count(audioMasterGetTime), 1u);
    }
    {
        CTestHost host;
        host.timeInfo.flags = kVstTempoValid | kVstTimeSigValid;
        host.timeInfo.tempo = -3.0;
        host.timeInfo.timeSigNumerator = 0;
        host.timeInfo.timeSigDenominator = -7;
        ASSERT_NE(host.create(), nullptr);
    }
}

TEST_F(FoundationHost, ResumeAnnouncesMidiEveryTime)
{
    host.calls.clear();
    host.dispatch(effMainsChanged, 0, 0);
    EXPECT_EQ(host.count(audioMasterWantMidi), 0u);  // suspend does nothing
    host.dispatch(effMainsChanged, 0, 1);
    host.dispatch(effMainsChanged, 0, 1);
    ASSERT_EQ(host.count(audioMasterWantMidi), 2u);
    EXPECT_EQ(host.last(audioMasterWantMidi)->value, 1);
    EXPECT_FALSE(host.last(audioMasterWantMidi)->effectWasNull);
}

TEST_F(FoundationHost, HostileDispatcherArgumentsAreRefused)
{
    EXPECT_EQ(host.dispatch(effGetProgramName, 0, 0, nullptr), 0);
    EXPECT_EQ(host.dispatch(effSetProgramName, 0, 0, nullptr), 0);
    EXPECT_EQ(host.dispatch(effCanDo, 0, 0, nullptr), 0);
    EXPECT_EQ(host.dispatch(effProcessEvents, 0, 0, nullptr), 0);
    EXPECT_EQ(host.dispatch(effGetChunk, 0, 0, nullptr), 0);
    EXPECT_EQ(host.dispatch(effSetChunk, 0, -5, nullptr), 0);
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, 0, 0, nullptr), 0);
    EXPECT_EQ(host.dispatch(9999), 0);
}

TEST(FoundationConfig, FirstStartWritesTheDefaultFile)
{
    CTestHost host;
    ASSERT_FALSE(fs::exists(host.dataFolder()));
    ASSERT_NE(host.create(), nullptr);
    ASSERT_TRUE(fs::exists(host.configFile()));
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.LoadFile(host.configFile().c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* root = document.RootElement();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->Name(), "Skorvaline");
    EXPECT_STREQ(root->FirstChildElement("Skin")->Attribute("path"), "");
    EXPECT_EQ(root->FirstChildElement("ControllerMap")->FirstChild(), nullptr);
    EXPECT_STREQ(root->FirstChildElement("Files")->Attribute("zip-presets"), "yes");
    EXPECT_STREQ(root->FirstChildElement("Processing")->Attribute("resolution"), "8");
    EXPECT_EQ(root->FirstChildElement("Globals"), nullptr);
}

TEST(FoundationConfig, CloseLeavesEditsMadeWhileTheHostRan)
{
    CTestHost host;
    host.writeConfig(
        "<SkorvalineX><SkinY path=\"skin\"/><ControllerMap>"
        "<Any param=\"Volume\">7</Any></ControllerMap><Files zip-presets=\"YES\"/>"
        "<Processing resolution=\"16\"/><Globals><g k=\"v\"/></Globals></SkorvalineX>");
    ASSERT_NE(host.create(), nullptr);
    // The user changes the file, deleting the controller entry, while the effect is open.
    const std::string edited = "<Skorvaline><Skin path=\"\"/><ControllerMap/>"
                               "<Files zip-presets=\"no\"/><Processing resolution=\"32\"/>"
                               "</Skorvaline>";
    host.writeConfig(edited);
    host.close();
    EXPECT_EQ(host.readConfig(), edited);
}

TEST(FoundationConfig, BrokenFilesGiveAnInstanceAndACompleteFile)
{
    for (const std::string& text : {std::string("\x89PNG not xml"), std::string(),
                                    std::string("<Skorvaline><Skin path=\"a\"/></Skorvaline>")}) {
        SCOPED_TRACE(text);
        CTestHost host;
        host.writeConfig(text);
        ASSERT_NE(host.create(), nullptr);
        tinyxml2::XMLDocument document;
        ASSERT_EQ(document.LoadFile(host.configFile().c_str()), tinyxml2::XML_SUCCESS);
        const tinyxml2::XMLElement* root = document.RootElement();
        ASSERT_NE(root, nullptr);
        EXPECT_NE(root->FirstChildElement("Processing"), nullptr);
        EXPECT_STREQ(root->FirstChildElement("Files")->Attribute("zip-presets"), "yes");
    }
}

TEST(FoundationConfig, UnwritableDataFolderMovesToTheUserConfigFolder)
{
    CTestHost host;
    skvtest::CScratchFolder user;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", user.path().c_str(), 1);
    // A plain file where the folder should be: it can be neither created nor written.
    std::ofstream(host.dataFolder()) << "a plain file where the folder should be";
    ASSERT_NE(host.create(), nullptr);
    host.close();
    const fs::path file = user.path() / "Skorvaline Data" / "config.xml";
    EXPECT_TRUE(fs::is_regular_file(file));
    // Read back from there: with compression off, the next instance's chunks are plain text.
    std::ofstream(file) << "<Skorvaline><Skin path=\"\"/><ControllerMap/>"
                           "<Files zip-presets=\"no\"/><Processing resolution=\"8\"/>"
                           "</Skorvaline>";
    ASSERT_NE(host.create(), nullptr);
    const std::vector<unsigned char> chunk = host.getChunk(true);
    ASSERT_FALSE(chunk.empty());
    EXPECT_EQ(chunk[0], '<');
    EXPECT_TRUE(fs::is_regular_file(host.dataFolder()));
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}
