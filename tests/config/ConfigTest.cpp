// Configuration record: first start, prefix matching, rewrite on failure, hostile files,
// an unwritable data folder, the atomic save and the resolution the engine is handed.
#include "config/Config.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class ConfigFile : public ::testing::Test {
protected:
    // The user's folder points into the scratch folder, so that no test writes to ~/.config.
    ConfigFile()
    {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old)
            savedXdg = old;
        hadXdg = old != nullptr;
        ::setenv("XDG_CONFIG_HOME", (folder / "user").c_str(), 1);
    }
    ~ConfigFile() override
    {
        if (hadXdg)
            ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    void write(const std::string& text)
    {
        fs::create_directories(data);
        std::ofstream(file, std::ios::binary) << text;
    }
    std::string read() const
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    CConfig load(const std::string& product = "Skorvaline")
    {
        CConfig config;
        config.load(product, "", module);
        return config;
    }
    /// The written file parsed again, root element checked.
    const tinyxml2::XMLElement* parsed(tinyxml2::XMLDocument& document)
    {
        EXPECT_EQ(document.LoadFile(file.c_str()), tinyxml2::XML_SUCCESS);
        return document.RootElement();
    }

    skvtest::CScratchFolder scratch;
    const fs::path folder = scratch.path();
    std::string savedXdg;
    bool hadXdg = false;
    const fs::path module = folder / "Skorvaline.so";
    const fs::path data = folder / "Skorvaline Data";
    const fs::path file = data / "config.xml";
};

constexpr const char* kFullFile = R"(<?xml version="1.0"?>
<Skorvaline>
    <Skin path="skins/dark"/>
    <ControllerMap>
        <Control param="Volume">7</Control>
        <Whatever param="Mix">12abc</Whatever>
        <Control param="Empty"/>
    </ControllerMap>
    <Files zip-presets="no"/>
    <Processing resolution="32"/>
    <Globals>
        <param colour="blue"/>
        <entry colour="red" ignored="x"/>
        <noattributes/>
    </Globals>
</Skorvaline>
)";

}  // namespace

TEST_F(ConfigFile, FirstStartWritesTheDefaultFile)
{
    CConfig config = load();
    EXPECT_EQ(config.configPath, file);
    EXPECT_EQ(config.skinsPath, data / "Skins");
    EXPECT_EQ(config.pluginPath, module);
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(read(), "<?xml version=\"1.0\"?>\n"
                      "<Skorvaline>\n"
                      "    <Skin path=\"\"/>\n"
                      "    <ControllerMap/>\n"
                      "    <Files zip-presets=\"yes\"/>\n"
                      "    <Processing resolution=\"8\"/>\n"
                      "</Skorvaline>\n");
    EXPECT_TRUE(config.getZipPresets());
    EXPECT_EQ(config.getResolution(), 8);
}

TEST_F(ConfigFile, ReadsEverySection)
{
    write(kFullFile);
    CConfig config = load();
    EXPECT_EQ(config.skinPath, "skins/dark");
    EXPECT_FALSE(config.getZipPresets());
    EXPECT_EQ(config.getResolution(), 32);
    ASSERT_EQ(config.controllerMap.size(), 2u);  // the child without text is skipped
    EXPECT_EQ(config.controllerMap.at("Volume"), 7);
    EXPECT_EQ(config.controllerMap.at("Mix"), 12);
    ASSERT_EQ(config.globals.size(), 1u);  // same name overwritten, first attribute only
    EXPECT_EQ(config.globals.at("colour"), "red");
    // A complete file is not rewritten on load.
    EXPECT_EQ(read(), kFullFile);
}

TEST_F(ConfigFile, ZipPresetsIsAnExactYes)
{
    for (const char* value : {"no", "YES", "yes ", ""}) {
        SCOPED_TRACE(value);
        write(std::string("<Skorvaline><Skin/><ControllerMap/><Files zip-presets=\"") + value +
              "\"/><Processing resolution=\"8\"/><Globals/></Skorvaline>");
        EXPECT_FALSE(load().getZipPresets());
    }
    write("<Skorvaline><Skin/><ControllerMap/><Files zip-presets=\"yes\"/>"
          "<Processing resolution=\"8\"/><Globals/></Skorvaline>");
    EXPECT_TRUE(load().getZipPresets());
    write("<Skorvaline><Skin/><ControllerMap/><Files/><Processing/><Globals/></Skorvaline>");
    CConfig config = load();
    EXPECT_FALSE(config.getZipPresets());  // absent attribute: cleared, not the default
    EXPECT_EQ(config.resolution, 0);
}

TEST_F(ConfigFile, RootAndSectionsMatchByPrefix)
{
    write("<!-- comment first --><SkorvalineExtra><SkinFoo path=\"p\"/><ControllerMapX/>"
          "<FilesAndMore zip-presets=\"no\"/><Processing2 resolution=\"16\"/><Globalsy/>"
          "</SkorvalineExtra>");
    CConfig config = load();
    EXPECT_EQ(config.skinPath, "p");
    EXPECT_FALSE(config.getZipPresets());
    EXPECT_EQ(config.getResolution(), 16);
}

TEST_F(ConfigFile, ARootNameStartingWithADigitGetsFx)
{
    EXPECT_EQ(CConfig::rootNameFor("Skorvaline"), "Skorvaline");
    EXPECT_EQ(CConfig::rootNameFor("9Lives"), "fx9Lives");
    load("9Lives");
    tinyxml2::XMLDocument document;
    std::ifstream probe(folder / "9Lives Data" / "config.xml");
    EXPECT_TRUE(probe.good());
}

TEST_F(ConfigFile, MissingGlobalsIsACompleteFileAndIsNotRewritten)
{
    // Globals are written only when there are some, so a file without them is complete.
    const std::string text =
        "<Skorvaline><Skin path=\"s\"/><ControllerMap><Control param=\"Volume\">7</Control>"
        "</ControllerMap><Files zip-presets=\"no\"/><Processing resolution=\"64\"/></Skorvaline>";
    write(text);
    CConfig config = load();
    EXPECT_EQ(config.getResolution(), 64);
    EXPECT_EQ(config.controllerMap.at("Volume"), 7);
    EXPECT_EQ(read(), text);
}

TEST_F(ConfigFile, ControllerEntryIsWrittenBackAsControl)
{
    write("<Skorvaline><Skin/><ControllerMap><Ctl param=\"Volume\">7</Ctl></ControllerMap>"
          "<Files zip-presets=\"yes\"/><Processing resolution=\"8\"/>"
          "<Globals><x answer=\"42\"/></Globals></Skorvaline>");
    CConfig config = load();
    EXPECT_EQ(config.controllerMap.at("Volume"), 7);
    config.resolution = 9;  // a change, so that the record is written
    ASSERT_TRUE(config.save());
    tinyxml2::XMLDocument document;
    const tinyxml2::XMLElement* root = parsed(document);
    const tinyxml2::XMLElement* control =
        root->FirstChildElement("ControllerMap")->FirstChildElement();
    ASSERT_NE(control, nullptr);
    EXPECT_STREQ(control->Name(), "Control");
    EXPECT_STREQ(control->GetText(), "7");
    const tinyxml2::XMLElement* param = root->FirstChildElement("Globals")->FirstChildElement();
    ASSERT_NE(param, nullptr);
    EXPECT_STREQ(param->Name(), "param");
    EXPECT_STREQ(param->Attribute("answer"), "42");
}

TEST_F(ConfigFile, HostileFilesFallBackToDefaultsAndAreRewritten)
{
    for (const std::string& text :
         {std::string("this is not XML at all \x01\x02"), std::string(""),
          std::string("<Other><Skin/></Other>"), std::string("<Skorvaline><Skin"),
          std::string("<Skorvaline><!--Skin--><ControllerMap/></Skorvaline>"),
          std::string("\xEF\xBB\xBF<Skorvaline/>")}) {
        SCOPED_TRACE(text);
        write(text);
        CConfig config = load();
        EXPECT_TRUE(config.getZipPresets());
        EXPECT_EQ(config.getResolution(), 8);
        tinyxml2::XMLDocument document;
        const tinyxml2::XMLElement* root = parsed(document);
        ASSERT_NE(root, nullptr);
        EXPECT_STREQ(root->Name(), "Skorvaline");
        EXPECT_STREQ(root->FirstChildElement("Processing")->Attribute("resolution"), "8");
    }
}

TEST_F(ConfigFile, ValuesReadBeforeAFailureStay)
{
    // "Files" is a comment here, which is an error inside that section.
    write("<Skorvaline><Skin path=\"kept\"/><ControllerMap><C param=\"a\">3</C></ControllerMap>"
          "<!--Files--><Processing resolution=\"99\"/><Globals/></Skorvaline>");
    CConfig config = load();
    EXPECT_EQ(config.skinPath, "kept");
    EXPECT_EQ(config.controllerMap.at("a"), 3);
    EXPECT_EQ(config.getResolution(), 8);  // never reached
    EXPECT_NE(read().find("path=\"kept\""), std::string::npos);
}

TEST_F(ConfigFile, BlockedDataFolderFallsBackToTheUserFolder)
{
    // A plain file where the folder should be: nothing can be created or written there, as
    // in a read-only install. The record lives under $XDG_CONFIG_HOME instead.
    std::ofstream(data) << "not a folder";
    CConfig config = load();
    const fs::path userFile = folder / "user" / "Skorvaline Data" / "config.xml";
    EXPECT_EQ(config.configPath, userFile);
    config.resolution = 48;
    ASSERT_TRUE(config.save());
    EXPECT_EQ(load().getResolution(), 48);
    EXPECT_TRUE(fs::is_regular_file(data));
}

TEST_F(ConfigFile, FileBesideAReadOnlyInstallIsReadBeforeTheUsersOwn)
{
    // The install's file is read first; the user's file, where there is one, is read over it.
    write("<Skorvaline><Skin path=\"installed\"/><ControllerMap/><Files zip-presets=\"no\"/>"
          "<Processing resolution=\"16\"/></Skorvaline>");
    ::chmod(data.c_str(), 0555);
    if (::access(data.c_str(), W_OK) == 0 && ::mkdir((data / "probe").c_str(), 0755) == 0) {
        fs::remove(data / "probe");
        GTEST_SKIP() << "permissions do not stop this user from writing";
    }
    CConfig config = load();
    EXPECT_EQ(config.skinPath, "installed");
    EXPECT_EQ(config.getResolution(), 16);
    const fs::path userFile = folder / "user" / "Skorvaline Data" / "config.xml";
    ASSERT_EQ(config.configPath, userFile);
    std::ofstream(userFile) << "<Skorvaline><Skin path=\"mine\"/><ControllerMap/>"
                               "<Files zip-presets=\"no\"/><Processing resolution=\"32\"/>"
                               "</Skorvaline>";
    EXPECT_EQ(load().skinPath, "mine");
}

TEST_F(ConfigFile, SaveReplacesTheFileWholeAndLeavesNoTemporary)
{
    CConfig config = load();
    config.resolution = 128;
    config.globals["a"] = "b";
    ASSERT_TRUE(config.save());
    EXPECT_NE(read().find("resolution=\"128\""), std::string::npos);
    for (const auto& entry : fs::directory_iterator(data)) {
        EXPECT_EQ(entry.path().filename(), "config.xml");
    }
    // A config.xml that is a folder cannot be replaced: the save fails, nothing is left behind.
    fs::remove(file);
    fs::create_directories(file / "inside");
    config.resolution = 256;
    EXPECT_FALSE(config.save());
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(data)) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(ConfigFile, ResolutionHandedToTheEngineStaysUsable)
{
    const std::pair<const char*, int> cases[] = {{"0", 8},
                                                 {"-5", 8},
                                                 {"abc", 8},
                                                 {"1", 1},
                                                 {"4096", 4096},
                                                 {"4097", 4096},
                                                 {"99999999999999999999", 4096},
                                                 {"-99999999999999999999", 8},
                                                 {"12x", 12}};
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        write(std::string("<Skorvaline><Skin/><ControllerMap/><Files zip-presets=\"yes\"/>"
                          "<Processing resolution=\"") +
              text + "\"/><Globals/></Skorvaline>");
        EXPECT_EQ(load().getResolution(), expected);
    }
}

TEST(Config, OwnModulePathIsThisProgram)
{
    fs::path path = CConfig::ownModulePath();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(path.filename(), "skv_config_tests");
}

TEST(Config, ProcessWideRecordIsOneObject)
{
    EXPECT_EQ(&CConfig::get(), &CConfig::get());
    EXPECT_TRUE(CConfig::get().initialised);
}

TEST_F(ConfigFile, FifoNamedConfigXmlIsNeitherWaitedOnNorReplaced)
{
    fs::create_directories(data);
    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
    // A load that blocks on the FIFO is released by a writer after a generous wait, so that
    // the failure is reported instead of hanging the test run.
    auto loading = std::async(std::launch::async, [&] { return load(); });
    if (loading.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        const int writer = ::open(file.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        loading.wait();
        FAIL() << "loading waited on the FIFO";
    }
    CConfig config = loading.get();
    EXPECT_EQ(config.getResolution(), 8);
    config.save();
    EXPECT_TRUE(fs::is_fifo(file));
}

TEST_F(ConfigFile, DeviceBehindALinkIsNotReadAndTheLinkStays)
{
    fs::create_directories(data);
    fs::create_symlink("/dev/zero", file);
    CConfig config = load();
    EXPECT_TRUE(config.getZipPresets());
    config.resolution = 16;
    EXPECT_FALSE(config.save());
    EXPECT_TRUE(fs::is_symlink(file));
}

TEST_F(ConfigFile, PlantedTemporaryLinkIsNotWrittenThrough)
{
    // The name a temporary file used to have, pointing at a file of someone else's.
    fs::create_directories(data);
    const fs::path victim = folder / "victim.txt";
    std::ofstream(victim) << "keep me";
    fs::path planted = file;
    planted += ".tmp" + std::to_string(::getpid());
    fs::create_symlink(victim, planted);
    load();
    std::ifstream in(victim);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "keep me");
    EXPECT_TRUE(fs::is_regular_file(file));
}

TEST_F(ConfigFile, SymlinkedFileIsWrittenThroughItsLink)
{
    // A user who keeps config.xml among their own files links it into the data folder.
    const fs::path kept = folder / "dotfiles" / "skorvaline.xml";
    fs::create_directories(kept.parent_path());
    std::ofstream(kept) << "<Skorvaline><Skin path=\"a\"/></Skorvaline>";  // incomplete
    fs::create_directories(data);
    fs::create_symlink(kept, file);
    load();
    EXPECT_TRUE(fs::is_symlink(file));
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.LoadFile(kept.c_str()), tinyxml2::XML_SUCCESS);
    EXPECT_NE(document.RootElement()->FirstChildElement("Processing"), nullptr);
}

TEST_F(ConfigFile, SaveKeepsEditsMadeSinceTheLoad)
{
    CConfig config = load();
    // The user edits the file while the host runs; nothing in the record has changed.
    const std::string edited =
        "<Skorvaline><Skin path=\"\"/><ControllerMap/><Files zip-presets=\"no\"/>"
        "<Processing resolution=\"32\"/></Skorvaline>";
    write(edited);
    EXPECT_TRUE(config.save());
    EXPECT_EQ(read(), edited);
}

TEST_F(ConfigFile, ReloadForgetsEntriesTheFileNoLongerHas)
{
    CConfig config;
    write("<Skorvaline><Skin path=\"\"/><ControllerMap><C param=\"Volume\">7</C></ControllerMap>"
          "<Files zip-presets=\"yes\"/><Processing resolution=\"8\"/>"
          "<Globals><g colour=\"red\"/></Globals></Skorvaline>");
    config.load("Skorvaline", "", module);
    write("<Skorvaline><Skin path=\"\"/><ControllerMap/><Files zip-presets=\"yes\"/>"
          "<Processing resolution=\"8\"/></Skorvaline>");
    config.load("Skorvaline", "", module);
    EXPECT_TRUE(config.controllerMap.empty());
    EXPECT_TRUE(config.globals.empty());
}
