// Configuration record: first start, prefix matching, rewrite on failure, hostile files,
// an unwritable data folder, the atomic save and the resolution the engine is handed.
#include "config/Config.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class ConfigFile : public ::testing::Test {
protected:
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

TEST_F(ConfigFile, MissingGlobalsRewritesTheFileWithWhatWasRead)
{
    write(
        "<Skorvaline><Skin path=\"s\"/><ControllerMap><Control param=\"Volume\">7</Control>"
        "</ControllerMap><Files zip-presets=\"no\"/><Processing resolution=\"64\"/></Skorvaline>");
    CConfig config = load();
    EXPECT_EQ(config.getResolution(), 64);
    tinyxml2::XMLDocument document;
    const tinyxml2::XMLElement* root = parsed(document);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->FirstChildElement("Skin")->Attribute("path"), "s");
    const tinyxml2::XMLElement* control =
        root->FirstChildElement("ControllerMap")->FirstChildElement();
    ASSERT_NE(control, nullptr);
    EXPECT_STREQ(control->Name(), "Control");
    EXPECT_STREQ(control->Attribute("param"), "Volume");
    EXPECT_STREQ(control->GetText(), "7");
    EXPECT_STREQ(root->FirstChildElement("Files")->Attribute("zip-presets"), "no");
    EXPECT_STREQ(root->FirstChildElement("Processing")->Attribute("resolution"), "64");
    EXPECT_EQ(root->FirstChildElement("Globals"), nullptr);
}

TEST_F(ConfigFile, ControllerEntryIsWrittenBackAsControl)
{
    write("<Skorvaline><Skin/><ControllerMap><Ctl param=\"Volume\">7</Ctl></ControllerMap>"
          "<Files zip-presets=\"yes\"/><Processing resolution=\"8\"/>"
          "<Globals><x answer=\"42\"/></Globals></Skorvaline>");
    CConfig config = load();
    EXPECT_EQ(config.controllerMap.at("Volume"), 7);
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

TEST_F(ConfigFile, UnwritableDataFolderIsIgnored)
{
    // A plain file where the folder should be: nothing can be created or written there.
    std::ofstream(data) << "not a folder";
    CConfig config = load();
    EXPECT_TRUE(config.getZipPresets());
    EXPECT_EQ(config.getResolution(), 8);
    EXPECT_FALSE(config.save());
    EXPECT_TRUE(fs::is_regular_file(data));
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
