// Shared set-up of the LV2 tests: the VST 2.x reference host prepared like the LV2 host
// (44.1 kHz, blocks of 512, uncompressed chunks), bank documents with chosen filter maps,
// and the test signal.
#pragma once

#include "filtermap/BitmapHelper.h"
#include "lv2/Lv2TestHost.h"
#include "support/TestHost.h"
#include "support/TestSignals.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace lv2test {

constexpr std::size_t kBlock = 512;
constexpr std::size_t kFrames = 3 * 44100;  // three seconds, the last block shorter

inline const char* const kZipOffConfig =
    "<?xml version=\"1.0\"?><Skorvaline><Skin path=\"\"/><ControllerMap/>"
    "<Files zip-presets=\"no\"/><Processing resolution=\"8\"/><Globals/></Skorvaline>";

inline std::string bmpFile(const char* name)
{
    return std::string(SKV_TESTDATA_DIR) + "/bmp/" + name;
}

struct Stereo {
    std::vector<float> l, r;
};

/// One second of noise (different on each side), then silence for the echoes.
inline Stereo testInput()
{
    Stereo in{skvtest::noise(kFrames, 11, 0.5f), skvtest::noise(kFrames, 12, 0.5f)};
    for (std::size_t i = 44100; i < kFrames; ++i) {
        in.l[i] = 0.0f;
        in.r[i] = 0.0f;
    }
    return in;
}

/// Creates the effect in the VST 2.x host as a DAW starts it.
inline bool startVst(skvtest::CTestHost& host)
{
    host.writeConfig(kZipOffConfig);
    if (!host.create()) {
        return false;
    }
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    host.dispatch(effSetBlockSize, 0, static_cast<VstIntPtr>(kBlock));
    host.dispatch(effMainsChanged, 0, 1);
    return true;
}

/// The bank document of the VST 2.x instance (its uncompressed chunk without the zero).
inline std::string vstDocument(skvtest::CTestHost& host)
{
    const std::vector<unsigned char> chunk = host.getChunk(false);
    return std::string(chunk.begin(), chunk.end() - (chunk.empty() ? 0 : 1));
}

/// The document with program 0's filter-map entry `id` ("Bitmap L"/"Bitmap R") set to a path
/// and, when base64 is given, that picture text (otherwise the picture is read from the path).
inline std::string withFilterMap(const std::string& document, const char* id,
                                 const std::string& path, const std::string* base64)
{
    tinyxml2::XMLDocument xml;
    xml.Parse(document.c_str());
    tinyxml2::XMLElement* preset = xml.FirstChildElement("Bank")->FirstChildElement("Preset");
    for (auto* e = preset->FirstChildElement("param"); e; e = e->NextSiblingElement("param")) {
        if (std::strcmp(e->Attribute("id"), id) == 0) {
            e->SetAttribute("path", path.c_str());
            if (base64) {
                e->SetAttribute("base64", base64->c_str());
            }
            else {
                e->DeleteAttribute("base64");
            }
        }
    }
    tinyxml2::XMLPrinter printer;
    xml.Print(&printer);
    return printer.CStr();
}

/// An edited filter map as a state carries one: a BMP file's picture inverted, as image text.
inline std::string editedPicture()
{
    kfx::CBitmapHelper map("R");
    map.loadFromFile(bmpFile("grey8_w16_h16_pillow.bmp"));
    map.invert();
    int width = 0;
    int height = 0;
    return map.encodeImage(width, height);
}

/// A document with the left map read from a file and the right one an edited picture.
inline std::string mapsDocument(const std::string& document, const std::string& leftFile)
{
    const std::string edited = editedPicture();
    return withFilterMap(withFilterMap(document, "Bitmap L", leftFile, nullptr), "Bitmap R", "",
                         &edited);
}

/// The bank property an LV2 state holds for a document.
inline std::vector<skvtest::Lv2Property> bankState(const std::string& document)
{
    return {{skvtest::kLv2BankUri, "http://lv2plug.in/ns/ext/atom#String",
             document + std::string(1, '\0')}};
}

/// A document without its save times, which differ between two saves of the same state.
inline std::string withoutTimes(const std::string& document)
{
    static const std::regex modified(" modified=\"[^\"]*\"");
    return std::regex_replace(document, modified, "");
}

/// Empty when two documents are equal once their save times and carriage returns are left out,
/// otherwise the text around the first difference (documents carry whole pictures: too long to
/// print in full). Hosts' Turtle writers turn the CR LF line ends inside the pictures' Base64
/// text into LF, which the decoder skips like any line end.
inline std::string documentDifference(const std::string& a, const std::string& b)
{
    std::string x = withoutTimes(a);
    std::string y = withoutTimes(b);
    x.erase(std::remove(x.begin(), x.end(), '\r'), x.end());
    y.erase(std::remove(y.begin(), y.end(), '\r'), y.end());
    if (x == y) {
        return {};
    }
    std::size_t i = 0;
    while (i < x.size() && i < y.size() && x[i] == y[i]) {
        ++i;
    }
    const std::size_t from = i < 80 ? 0 : i - 80;
    return "at " + std::to_string(i) + ": ..." + x.substr(from, 160) + "\n  vs ..." +
           y.substr(from, 160);
}

/// Index of the first sample where two signals differ, or the length when they are equal.
inline std::size_t firstDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    std::size_t i = 0;
    // Bits, not values: a -0 for a +0 or another NaN is a difference too.
    // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
    while (i < a.size() && i < b.size() && std::memcmp(&a[i], &b[i], sizeof(float)) == 0) {
        ++i;
    }
    return i;
}

}  // namespace lv2test
