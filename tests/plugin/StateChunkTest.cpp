// The state chunk as a host sees it: the preset bank document (plain or zlib), program and
// bank chunks, version-1 records, and hostile chunks that must leave every program as it was.
// Documents are read back here with tinyxml2 directly, not with the effect's own store.
#include "plugin/StateTestSupport.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <regex>

using skvtest::CTestHost;

namespace {

// A complete config.xml with chunk compression off, so chunks are readable text.
const char* const kZipOffConfig =
    "<?xml version=\"1.0\"?><Skorvaline><Skin path=\"\"/><ControllerMap/>"
    "<Files zip-presets=\"no\"/><Processing resolution=\"8\"/>"
    "<Globals><param a=\"b\"/></Globals></Skorvaline>";

struct PresetView {
    std::map<std::string, std::string> attributes;
    std::map<std::string, std::map<std::string, std::string>> params;
};

std::vector<PresetView> readDocument(const std::string& text)
{
    tinyxml2::XMLDocument document;
    EXPECT_EQ(document.Parse(text.c_str()), tinyxml2::XML_SUCCESS) << text.substr(0, 200);
    std::vector<PresetView> presets;
    const tinyxml2::XMLElement* bank = document.FirstChildElement("Bank");
    if (!bank) {
        ADD_FAILURE() << "no Bank element";
        return presets;
    }
    for (const auto* p = bank->FirstChildElement("Preset"); p;
         p = p->NextSiblingElement("Preset")) {
        PresetView view;
        for (const auto* a = p->FirstAttribute(); a; a = a->Next()) {
            view.attributes[a->Name()] = a->Value();
        }
        for (const auto* e = p->FirstChildElement("param"); e; e = e->NextSiblingElement("param")) {
            auto& entry = view.params[e->Attribute("id") ? e->Attribute("id") : ""];
            for (const auto* a = e->FirstAttribute(); a; a = a->Next()) {
                if (std::strcmp(a->Name(), "id") != 0) {
                    entry[a->Name()] = a->Value();
                }
            }
        }
        presets.push_back(view);
    }
    return presets;
}

// The chunk as text; it must end with exactly one terminating zero.
std::string chunkText(const std::vector<unsigned char>& chunk)
{
    EXPECT_FALSE(chunk.empty());
    if (chunk.empty()) {
        return {};
    }
    EXPECT_EQ(chunk.back(), 0);
    std::string text(chunk.begin(), chunk.end() - 1);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    return text;
}

// The document without its "modified" dates, which move with the clock.
std::string withoutDates(const std::string& text)
{
    static const std::regex date("modified=\"[^\"]*\"");
    return std::regex_replace(text, date, "modified=\"\"");
}

std::vector<unsigned char> bytesOf(const std::string& text, bool withZero = true)
{
    std::vector<unsigned char> bytes(text.begin(), text.end());
    if (withZero) {
        bytes.push_back(0);
    }
    return bytes;
}

std::vector<unsigned char> zlibCompress(const std::vector<unsigned char>& data, int level = 9)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<unsigned char> out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level),
              Z_OK);
    out.resize(size);
    return out;
}

// The text of a compressed chunk (with its terminating zero); empty when it does not unpack.
std::vector<unsigned char> zlibUncompress(const std::vector<unsigned char>& chunk)
{
    std::vector<unsigned char> text(16 << 20);
    uLongf size = text.size();
    if (uncompress(text.data(), &size, chunk.data(), static_cast<uLong>(chunk.size())) != Z_OK)
        return {};
    text.resize(size);
    return text;
}

std::string valueText(float v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%0.5g", static_cast<double>(v));
    return text;
}

class StateChunk : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.writeConfig(kZipOffConfig);
        ASSERT_NE(host.create(), nullptr);
    }

    std::string bankText() { return chunkText(host.getChunk(false)); }
    std::string programText() { return chunkText(host.getChunk(true)); }
    std::string programName(int index) { return host.getString(effGetProgramNameIndexed, index); }

    CTestHost host;
};

}  // namespace

TEST_F(StateChunk, UncompressedBankIsTheDocumentAndOneZeroByte)
{
    const std::vector<unsigned char> chunk = host.getChunk(false);
    ASSERT_FALSE(chunk.empty());
    const std::string text = chunkText(chunk);
    EXPECT_EQ(chunk.size(), std::strlen(reinterpret_cast<const char*>(chunk.data())) + 1);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\"?>", 0), 0u) << text.substr(0, 60);

    const std::vector<PresetView> presets = readDocument(text);
    ASSERT_EQ(presets.size(), 16u);
    for (const PresetView& preset : presets) {
        EXPECT_EQ(preset.attributes.at("name"), "Default");
        EXPECT_EQ(preset.attributes.at("plugin"), "Skorvaline");
        EXPECT_EQ(preset.attributes.at("plugin-version"), "1.2");
        EXPECT_EQ(preset.attributes.at("group"), "");
        EXPECT_EQ(preset.attributes.at("sub-group"), "");
        EXPECT_EQ(preset.attributes.at("tuning-map"), "");
        EXPECT_EQ(preset.attributes.count("author"), 0u);
        EXPECT_TRUE(std::regex_match(preset.attributes.at("modified"),
                                     std::regex("[0-9]{4}-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|"
                                                "Nov|Dec)-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")));
        // 53 parameters and the two filter-map entries.
        EXPECT_EQ(preset.params.size(), 55u);
        // Built-in pictures are referenced by number only.
        EXPECT_EQ(preset.params.at("Bitmap L").at("path"), "#0");
        EXPECT_EQ(preset.params.at("Bitmap L").count("base64"), 0u);
        EXPECT_EQ(preset.params.at("Bitmap R").at("path"), "#0");
        EXPECT_EQ(preset.params.at("L Warp  ").at("value"), "0.75");
        EXPECT_EQ(preset.params.at("R Delay").at("value"), "0.205");
        EXPECT_EQ(preset.params.at("Filter Order").at("value"), "0.2");
    }
}

TEST(StateChunkCompressed, DefaultChunkIsZlibLevelNineOfTheTextAndItsZero)
{
    CTestHost host;
    ASSERT_NE(host.create(), nullptr);
    const std::vector<unsigned char> chunk = host.getChunk(true);
    ASSERT_GE(chunk.size(), 2u);
    // Deflate, 32 KiB window, best compression.
    EXPECT_EQ(chunk[0], 0x78);
    EXPECT_EQ(chunk[1], 0xDA);
    const std::string document = chunkText(zlibUncompress(chunk));
    const std::vector<PresetView> presets = readDocument(document);
    ASSERT_EQ(presets.size(), 1u);
    EXPECT_EQ(presets[0].params.at("Mix").at("value"), "0.7");

    // And it loads back: a compressed chunk of a changed program restores the change.
    host.setParameter(43, 0.25f);
    const std::vector<unsigned char> changed = host.getChunk(true);
    host.setParameter(43, 0.9f);
    EXPECT_EQ(host.setChunk(changed, true), 1);
    EXPECT_FLOAT_EQ(host.getParameter(43), 0.25f);
}

TEST(StateChunkCompressed, FilePictureTravelsAsTextThroughManyZlibPieces)
{
    // A program referring to a BMP file carries the picture as Base64 text: for this 560 x 281
    // 24-bit file that is far more than one 16 KiB zlib piece, in and out.
    const std::string file =
        std::string(SKV_TESTDATA_DIR) + "/bmp/big_rgb24_560x281_imagemagick_bmp3.bmp";
    CTestHost host;
    ASSERT_NE(host.create(), nullptr);
    const std::string document = "<?xml version=\"1.0\"?><Bank name=\"b\"><Preset name=\"File\" "
                                 "plugin=\"Skorvaline\"><param id=\"Bitmap L\" path=\"" +
                                 file + "\"/><param id=\"Mix\" value=\"0.5\"/></Preset></Bank>";
    ASSERT_EQ(host.setChunk(bytesOf(document), true), 1);
    const std::vector<unsigned char> chunk = host.getChunk(true);
    ASSERT_FALSE(chunk.empty());

    const std::string text = chunkText(zlibUncompress(chunk));
    const std::vector<PresetView> presets = readDocument(text);
    ASSERT_EQ(presets.size(), 1u);
    EXPECT_EQ(presets[0].params.at("Bitmap L").at("path"), file);
    // 40 header bytes and 281 rows of 1680 bytes, 4 characters per 3 bytes, CR LF after 76.
    const std::size_t payload = 40 + 1680 * 281;
    const std::size_t characters = (payload + 2) / 3 * 4;
    // The XML reader turns each CR LF line break into a LF; decoding skips both anyway.
    std::string base64 = presets[0].params.at("Bitmap L").at("base64");
    EXPECT_EQ(std::count(base64.begin(), base64.end(), '\n'), static_cast<long>(characters / 76));
    base64.erase(
        std::remove_if(base64.begin(), base64.end(), [](char c) { return c == '\r' || c == '\n'; }),
        base64.end());
    EXPECT_EQ(base64.size(), characters);

    CTestHost other;
    ASSERT_NE(other.create(), nullptr);
    ASSERT_EQ(other.setChunk(chunk, true), 1);
    const std::string again = chunkText(zlibUncompress(other.getChunk(true)));
    auto plain = [](std::string t) {
        t.erase(std::remove(t.begin(), t.end(), '\r'), t.end());
        return withoutDates(t);
    };
    EXPECT_TRUE(plain(again) == plain(text));
}

TEST_F(StateChunk, ProgramChunkRoundTripKeepsFiveSignificantDigits)
{
    // Awkward values that "%0.5g" must cut; the sync modes stay off so nothing snaps.
    const std::map<int, float> values = {{6, 0.1234567f},   {9, 0.987654f},    {12, 0.333333f},
                                         {14, 0.0123456f},  {24, 0.00098765f}, {42, 0.4444444f},
                                         {43, 0.1f / 3.0f}, {50, 0.7777777f},  {51, 0.2468013f}};
    for (const auto& [index, value] : values) {
        host.setParameter(index, value);
    }
    char name[32] = "Round Trip";
    host.dispatch(effSetProgramName, 0, 0, name);
    const std::string saved = programText();

    CTestHost other;
    other.writeConfig(kZipOffConfig);
    ASSERT_NE(other.create(), nullptr);
    ASSERT_EQ(other.setChunk(bytesOf(saved), true), 1);
    EXPECT_EQ(other.getString(effGetProgramName), "Round Trip");
    for (const auto& [index, value] : values) {
        SCOPED_TRACE(index);
        const float restored = other.getParameter(index);
        EXPECT_NEAR(restored, value, std::fabs(value) * 1e-4f + 1e-7f);
        EXPECT_EQ(valueText(restored), valueText(value));
    }
    // Saving the restored program gives the same document but for its date.
    const std::string again = chunkText(other.getChunk(true));
    EXPECT_EQ(withoutDates(again), withoutDates(saved));
}

TEST_F(StateChunk, ProgramChunkLandsInTheCurrentProgram)
{
    char name[32] = "Saved in zero";
    host.dispatch(effSetProgramName, 0, 0, name);
    host.setParameter(43, 0.25f);
    const std::vector<unsigned char> chunk = host.getChunk(true);

    host.dispatch(effSetProgram, 0, 1);
    ASSERT_EQ(host.dispatch(effGetProgram), 1);
    EXPECT_EQ(programName(1), "Default");
    ASSERT_EQ(host.setChunk(chunk, true), 1);
    EXPECT_EQ(host.dispatch(effGetProgram), 1);
    EXPECT_EQ(programName(1), "Saved in zero");
    EXPECT_FLOAT_EQ(host.getParameter(43), 0.25f);
    EXPECT_EQ(programName(2), "Default");

    const std::vector<PresetView> bank = readDocument(bankText());
    ASSERT_EQ(bank.size(), 16u);
    EXPECT_EQ(bank[1].params.at("Mix").at("value"), "0.25");
    EXPECT_EQ(bank[2].params.at("Mix").at("value"), "0.7");
}

TEST_F(StateChunk, BankChunkRestoresEveryProgram)
{
    for (int p = 0; p < 16; ++p) {
        host.dispatch(effSetProgram, 0, p);
        char name[32];
        std::snprintf(name, sizeof name, "Program %02d", p);
        host.dispatch(effSetProgramName, 0, 0, name);
        host.setParameter(43, static_cast<float>(p) / 16.0f);
    }
    host.dispatch(effSetProgram, 0, 5);
    const std::vector<unsigned char> chunk = host.getChunk(false);

    CTestHost other;
    other.writeConfig(kZipOffConfig);
    ASSERT_NE(other.create(), nullptr);
    other.dispatch(effSetProgram, 0, 3);
    ASSERT_EQ(other.setChunk(chunk, false), 1);
    // The host's current program stays current and takes its restored values.
    EXPECT_EQ(other.dispatch(effGetProgram), 3);
    EXPECT_FLOAT_EQ(other.getParameter(43), 3.0f / 16.0f);
    for (int p = 0; p < 16; ++p) {
        char name[32];
        std::snprintf(name, sizeof name, "Program %02d", p);
        EXPECT_EQ(other.getString(effGetProgramNameIndexed, p), name);
    }
}

TEST_F(StateChunk, PresetOfAnotherPluginIsSkipped)
{
    host.setParameter(43, 0.3f);
    const std::string before = withoutDates(bankText());
    const std::string foreign =
        "<?xml version=\"1.0\"?><Bank name=\"x\" modified=\"\" author=\"\">"
        "<Preset name=\"Other\" plugin=\"Skorvalin\" plugin-version=\"1.2\">"
        "<param id=\"Mix\" value=\"0.9\"/></Preset></Bank>";
    EXPECT_EQ(host.setChunk(bytesOf(foreign), true), 1);
    EXPECT_FLOAT_EQ(host.getParameter(43), 0.3f);
    EXPECT_TRUE(withoutDates(bankText()) == before);
}

TEST_F(StateChunk, MissingEntriesReadAsZeroAndAbsentPictureTextAsEmpty)
{
    // A preset with only a name: every parameter reads 0 (as atof of nothing), both references
    // become empty. Entries are matched by the exact names, trailing spaces included.
    const std::string sparse =
        "<?xml version=\"1.0\"?><Bank name=\"x\"><Preset name=\"Sparse\" plugin=\"Skorvaline\">"
        "<param id=\"L Warp\" value=\"0.5\"/><param id=\"Volume\" value=\"1e-1\"/></Preset></Bank>";
    ASSERT_EQ(host.setChunk(bytesOf(sparse), true), 1);
    const std::vector<PresetView> presets = readDocument(programText());
    ASSERT_EQ(presets.size(), 1u);
    EXPECT_EQ(presets[0].attributes.at("name"), "Sparse");
    EXPECT_EQ(presets[0].params.at("L Warp  ").at("value"), "0");
    EXPECT_EQ(presets[0].params.at("Volume").at("value"), "0.1");
    EXPECT_EQ(presets[0].params.at("Bitmap L").at("path"), "");
    EXPECT_EQ(presets[0].params.at("Bitmap L").at("base64"), "");
    EXPECT_FLOAT_EQ(host.getParameter(44), 0.1f);
}

TEST_F(StateChunk, VersionOneBankMapsEveryField)
{
    const std::vector<unsigned char> bank = statetest::makeV1Bank();
    ASSERT_EQ(bank.size(), 9984u);
    ASSERT_EQ(host.setChunk(bank, false), 1);

    const std::vector<PresetView> presets = readDocument(bankText());
    ASSERT_EQ(presets.size(), 16u);
    for (int r = 0; r < 16; ++r) {
        SCOPED_TRACE(r);
        const PresetView& p = presets[r];
        EXPECT_EQ(p.attributes.at("name"), "V1 program " + std::to_string(r));
        for (const auto& [offset, index] : statetest::v1Offsets()) {
            const std::string name = host.getString(effGetParamName, index);
            EXPECT_EQ(p.params.at(name).at("value"), valueText(statetest::v1Value(r, index)))
                << name << " at offset " << offset;
        }
        // What version 1 never had.
        EXPECT_EQ(p.params.at("Sync Scan").at("value"), "0");
        EXPECT_EQ(p.params.at("L Analysis Warp").at("value"), "0.6");
        EXPECT_EQ(p.params.at("R Analysis Warp").at("value"), "0.6");
        for (const char* unset :
             {"Filter L Select", "Filter R Select", "LoadBitmap L", "LoadBitmap R"}) {
            EXPECT_EQ(p.params.at(unset).at("value"), "0") << unset;
        }
        EXPECT_EQ(p.params.at("Bitmap L").at("path"),
                  "C:\\maps\\left" + std::to_string(r) + ".bmp");
        // A file path travels with its picture text, empty here: version 1 carried none.
        EXPECT_EQ(p.params.at("Bitmap L").at("base64"), "");
        EXPECT_EQ(p.params.at("Bitmap R").at("path"), "#" + std::to_string(r % 3));
    }
}

TEST_F(StateChunk, VersionOneProgramRecordGoesIntoTheCurrentProgram)
{
    host.dispatch(effSetProgram, 0, 2);
    std::vector<unsigned char> record = statetest::makeV1Record(7);
    ASSERT_EQ(host.setChunk(record, true), 1);
    EXPECT_EQ(programName(2), "V1 program 7");
    EXPECT_EQ(programName(0), "Default");
    const std::vector<PresetView> presets = readDocument(programText());
    ASSERT_EQ(presets.size(), 1u);
    EXPECT_EQ(presets[0].params.at("Mix").at("value"), valueText(statetest::v1Value(7, 43)));

    // One byte short of a record: refused, nothing changes.
    const std::string before = withoutDates(bankText());
    record.pop_back();
    EXPECT_EQ(host.setChunk(record, true), 0);
    EXPECT_TRUE(withoutDates(bankText()) == before);
}

TEST_F(StateChunk, HostileChunksAreRefusedAndChangeNothing)
{
    host.setParameter(43, 0.31f);
    char name[32] = "Keep me";
    host.dispatch(effSetProgramName, 0, 0, name);
    const std::string before = withoutDates(bankText());

    std::mt19937 random(1234);
    std::vector<unsigned char> garbage(9983);
    for (auto& b : garbage) {
        b = static_cast<unsigned char>(random());
    }
    garbage[0] = 'G';  // neither a zlib header nor "<?xml"

    const std::string valid = programText();
    std::vector<unsigned char> truncatedZip = zlibCompress(bytesOf(valid));
    truncatedZip.resize(truncatedZip.size() / 2);
    std::vector<unsigned char> damagedZip = zlibCompress(bytesOf(valid));
    damagedZip[damagedZip.size() / 2] ^= 0x55;
    damagedZip[damagedZip.size() / 2 + 1] ^= 0xAA;

    // A few hundred megabytes of zeros squeezed into a small chunk.
    std::vector<unsigned char> bomb;
    {
        z_stream s{};
        ASSERT_EQ(deflateInit(&s, 1), Z_OK);
        std::vector<unsigned char> zeros(1 << 20, 0);
        std::vector<unsigned char> out(1 << 16);
        for (int mb = 0; mb < 300; ++mb) {
            s.next_in = zeros.data();
            s.avail_in = static_cast<uInt>(zeros.size());
            do {
                s.next_out = out.data();
                s.avail_out = static_cast<uInt>(out.size());
                deflate(&s, mb == 299 ? Z_FINISH : Z_NO_FLUSH);
                bomb.insert(bomb.end(), out.data(), out.data() + (out.size() - s.avail_out));
            } while (s.avail_out == 0);
        }
        deflateEnd(&s);
    }

    const std::vector<std::pair<const char*, std::vector<unsigned char>>> cases = {
        {"garbage bank", garbage},
        {"truncated zlib", truncatedZip},
        {"damaged zlib", damagedZip},
        {"zip bomb", bomb},
        {"not well-formed", bytesOf("<?xml version=\"1.0\"?><Bank name=\"x\"><Preset")},
        {"no bank element", bytesOf("<?xml version=\"1.0\"?><Banq name=\"x\"><Preset name=\"p\" "
                                    "plugin=\"Skorvaline\"><param id=\"Mix\" value=\"1\"/>"
                                    "</Preset></Banq>")},
        {"bank without presets", bytesOf("<?xml version=\"1.0\"?><Bank name=\"x\"/>")},
        {"preset without params",
         bytesOf("<?xml version=\"1.0\"?><Bank name=\"x\"><Preset name=\"p\" "
                 "plugin=\"Skorvaline\"/></Bank>")},
        {"param without attributes",
         bytesOf("<?xml version=\"1.0\"?><Bank name=\"x\"><Preset name=\"p\" "
                 "plugin=\"Skorvaline\"><param/></Preset></Bank>")},
        {"compressed broken XML", zlibCompress(bytesOf("<?xml version=\"1.0\"?><Bank"))},
        {"empty zlib text", zlibCompress({})},
    };
    for (const auto& [what, data] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(host.setChunk(data, false), 0);
        // As a program chunk, 624 bytes or more of anything but XML or zlib data are read as a
        // version-1 record.
        if (data.size() < 624 || data[0] == 0x78 || data[0] == '<') {
            EXPECT_EQ(host.setChunk(data, true), 0);
        }
        EXPECT_TRUE(withoutDates(bankText()) == before);
        EXPECT_FLOAT_EQ(host.getParameter(43), 0.31f);
    }
    // Zero bytes and a null pointer.
    EXPECT_EQ(host.dispatch(effSetChunk, 0, 0, garbage.data()), 0);
    EXPECT_EQ(host.dispatch(effSetChunk, 1, 16, nullptr), 0);
    EXPECT_TRUE(withoutDates(bankText()) == before);
}

TEST_F(StateChunk, SmallChunkOfTinyElementsIsRefusedAndChangesNothing)
{
    host.setParameter(43, 0.31f);
    const std::string before = withoutDates(bankText());
    // A few kilobytes of zlib data holding half a million tiny entries: each one costs the
    // parser far more memory than its seven bytes of text.
    std::string text = "<?xml version=\"1.0\"?><Bank name=\"x\"><Preset name=\"p\" "
                       "plugin=\"Skorvaline\"><param id=\"Mix\" value=\"1\"/>";
    for (int i = 0; i < 500000; ++i) {
        text += "<p i=\"\"/>";
    }
    text += "</Preset></Bank>";
    const std::vector<unsigned char> chunk = zlibCompress(bytesOf(text));
    ASSERT_LT(chunk.size(), 65536u);
    EXPECT_EQ(host.setChunk(chunk, false), 0);
    EXPECT_EQ(host.setChunk(chunk, true), 0);
    EXPECT_TRUE(withoutDates(bankText()) == before);
}

TEST_F(StateChunk, VersionOneDataThatLooksCompressedIsStillRead)
{
    // A first value whose low bytes happen to form a zlib header ("x^", 0x78 0x5E) must not stop
    // a version-1 record or bank of the exact size from loading.
    std::vector<unsigned char> record = statetest::makeV1Record(3);
    record[0] = 0x78;
    record[1] = 0x5E;
    record[2] = 0x00;
    record[3] = 0x3E;  // 0.1251...: a sane pre-delay value
    ASSERT_EQ((0x78 * 256 + 0x5E) % 31, 0);
    EXPECT_EQ(host.setChunk(record, true), 1);
    EXPECT_EQ(programName(0), "V1 program 3");

    std::vector<unsigned char> bank = statetest::makeV1Bank();
    std::copy(record.begin(), record.begin() + 4, bank.begin());
    EXPECT_EQ(host.setChunk(bank, false), 1);
    EXPECT_EQ(programName(15), "V1 program 15");
}

TEST_F(StateChunk, GetChunkMemoryStaysValidUntilTheNextCall)
{
    void* first = nullptr;
    const VstIntPtr size = host.dispatch(effGetChunk, 1, 0, &first);
    ASSERT_GT(size, 0);
    const std::string copy(static_cast<const char*>(first), static_cast<std::size_t>(size));
    // Other dispatcher traffic does not disturb it.
    host.setParameter(43, 0.2f);
    host.getString(effGetProgramName);
    EXPECT_EQ(std::string(static_cast<const char*>(first), static_cast<std::size_t>(size)), copy);
}
