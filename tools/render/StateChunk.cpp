// Reading and editing a plug-in's preset-bank XML state: inflating compressed chunks, the
// first preset's filter-map entries, and decoding a filter map's image text for drawing.
#include "StateChunk.h"

#include "filtermap/LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <tinyxml2.h>
#include <zlib.h>

namespace render {

namespace {

// A state chunk inflating to more than this is not a preset document we want in memory.
constexpr size_t kMaxInflated = size_t(512) << 20;
// Largest filter map drawn; bigger headers are taken as corrupt. The pixel count is bounded
// too: a 1-bit picture would otherwise turn a modest chunk into gigabytes of samples.
constexpr int kMaxPictureSide = 1 << 15;
constexpr size_t kMaxPicturePixels = size_t(1) << 26;

bool inflateAll(const void* data, size_t size, std::string& out)
{
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return false;
    zs.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    zs.avail_in = static_cast<uInt>(std::min<size_t>(size, 0xFFFFFFFFu));
    char buffer[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buffer);
        zs.avail_out = sizeof buffer;
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END)
            break;
        out.append(buffer, sizeof buffer - zs.avail_out);
        if (out.size() > kMaxInflated) {
            rc = Z_MEM_ERROR;
            break;
        }
        // All input used, room left in the output and still no stream end: the chunk was cut
        // short, and the text so far is no whole document.
        if (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0) {
            rc = Z_DATA_ERROR;  // stream ended early
            break;
        }
    }
    inflateEnd(&zs);
    return rc == Z_STREAM_END;
}

const tinyxml2::XMLElement* findEntry(const tinyxml2::XMLElement* preset, const std::string& id)
{
    for (const tinyxml2::XMLElement* p = preset->FirstChildElement(); p;
         p = p->NextSiblingElement()) {
        const char* pid = p->Attribute("id");
        if (pid && id == pid)
            return p;
    }
    return nullptr;
}

std::string attribute(const tinyxml2::XMLElement* e, const char* name)
{
    const char* v = e ? e->Attribute(name) : nullptr;
    return v ? v : "";
}

}  // namespace

const tinyxml2::XMLElement* firstBank(const tinyxml2::XMLDocument& doc)
{
    for (const tinyxml2::XMLElement* e = doc.FirstChildElement(); e; e = e->NextSiblingElement())
        if (std::strncmp(e->Name(), "Bank", 4) == 0)
            return e;
    return nullptr;
}

std::string xmlChunk(const std::string& xml)
{
    std::string chunk = xml.compare(0, 5, "<?xml") == 0 ? xml : "<?xml version=\"1.0\"?>\n" + xml;
    chunk.push_back('\0');
    return chunk;
}

std::string chunkToXml(const void* data, size_t size)
{
    if (!data || size == 0)
        return {};
    std::string text;
    if (!inflateAll(data, size, text)) {
        text.clear();
        const char* bytes = static_cast<const char*>(data);
        if (size >= 5 && std::memcmp(bytes, "<?xml", 5) == 0)
            text.assign(bytes, size);
        else
            return {};
    }
    // Chunks carry a terminating zero; the document ends there.
    size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

std::string setFilterMapPath(const std::string& xml, const std::string& entryId,
                             const std::string& path, std::string& error)
{
    tinyxml2::XMLDocument doc;
    if (doc.Parse(xml.c_str(), xml.size()) != tinyxml2::XML_SUCCESS) {
        error = "the plug-in's state is not a preset document";
        return {};
    }
    const tinyxml2::XMLElement* bank = firstBank(doc);
    const tinyxml2::XMLElement* preset = bank ? bank->FirstChildElement() : nullptr;
    const tinyxml2::XMLElement* entry = preset ? findEntry(preset, entryId) : nullptr;
    if (!entry) {
        error = "the plug-in's state has no \"" + entryId + "\" entry";
        return {};
    }
    auto* editable = const_cast<tinyxml2::XMLElement*>(entry);
    editable->SetAttribute("path", path.c_str());
    editable->DeleteAttribute("base64");
    tinyxml2::XMLPrinter printer;
    doc.Print(&printer);
    return std::string(printer.CStr(), static_cast<size_t>(printer.CStrSize() - 1));
}

CPresetSummary readFirstPreset(const std::string& xml)
{
    CPresetSummary s;
    tinyxml2::XMLDocument doc;
    if (xml.empty() || doc.Parse(xml.c_str(), xml.size()) != tinyxml2::XML_SUCCESS)
        return s;
    const tinyxml2::XMLElement* bank = firstBank(doc);
    const tinyxml2::XMLElement* preset = bank ? bank->FirstChildElement() : nullptr;
    if (!preset)
        return s;
    s.valid = true;
    const tinyxml2::XMLElement* left = findEntry(preset, "Bitmap L");
    const tinyxml2::XMLElement* right = findEntry(preset, "Bitmap R");
    s.pathLeft = attribute(left, "path");
    s.imageLeft = attribute(left, "base64");
    s.pathRight = attribute(right, "path");
    s.imageRight = attribute(right, "base64");
    return s;
}

std::vector<uint8_t> decodeBase64(const std::string& text)
{
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t accumulator = 0;
    int count = 0;
    for (char ch : text) {
        int v;
        if (ch >= 'A' && ch <= 'Z')
            v = ch - 'A';
        else if (ch >= 'a' && ch <= 'z')
            v = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9')
            v = ch - '0' + 52;
        else if (ch == '+')
            v = 62;
        else if (ch == '/')
            v = 63;
        else if (ch == '=')
            break;
        else
            continue;
        accumulator = accumulator << 6 | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(accumulator >> 16));
            out.push_back(static_cast<uint8_t>(accumulator >> 8));
            out.push_back(static_cast<uint8_t>(accumulator));
            accumulator = 0;
            count = 0;
        }
    }
    // A last run of 2 or 3 characters carries 1 or 2 bytes; a single one carries nothing.
    if (count == 2) {
        out.push_back(static_cast<uint8_t>(accumulator >> 4));
    }
    else if (count == 3) {
        out.push_back(static_cast<uint8_t>(accumulator >> 10));
        out.push_back(static_cast<uint8_t>(accumulator >> 2));
    }
    return out;
}

bool decodeImageText(const std::string& text, CFilterMapPicture& picture)
{
    const std::vector<uint8_t> payload = decodeBase64(text);
    if (payload.size() < 40)
        return false;
    const uint32_t headerSize = kfx::getU32(payload.data());
    const int32_t width = static_cast<int32_t>(kfx::getU32(payload.data() + 4));
    const int32_t rawHeight = static_cast<int32_t>(kfx::getU32(payload.data() + 8));
    const int bits = int(kfx::getU16(payload.data() + 14));
    if (headerSize < 40 || headerSize > payload.size())
        return false;
    if (width <= 0 || width > kMaxPictureSide || rawHeight == 0 || rawHeight < -kMaxPictureSide ||
        rawHeight > kMaxPictureSide)
        return false;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    const bool topDown = rawHeight < 0;
    const int height = topDown ? -rawHeight : rawHeight;
    if (static_cast<size_t>(width) * static_cast<size_t>(height) > kMaxPicturePixels)
        return false;
    const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
    if (stride * static_cast<size_t>(height) > payload.size() - headerSize)
        return false;

    const uint8_t* pixels = payload.data() + headerSize;
    picture.width = width;
    picture.height = height;
    picture.bitsPerPixel = bits;
    picture.samples.assign(static_cast<size_t>(width) * height, 0);
    for (int row = 0; row < height; ++row) {
        // Stored rows run bottom first unless the height is negative.
        const uint8_t* line =
            pixels + stride * static_cast<size_t>(topDown ? row : height - 1 - row);
        uint8_t* dst = picture.samples.data() + static_cast<size_t>(row) * width;
        for (int x = 0; x < width; ++x) {
            if (bits >= 8) {
                dst[x] = line[static_cast<size_t>(x) * (bits / 8)];
            }
            else {
                const int perByte = 8 / bits;
                const int shift = 8 - bits * (x % perByte + 1);
                const int index = (line[x / perByte] >> shift) & ((1 << bits) - 1);
                // Palette pictures of few colours are spread over the whole grey range so
                // that their structure shows; the colour table is not part of image text.
                dst[x] = static_cast<uint8_t>(index * 255 / ((1 << bits) - 1));
            }
        }
    }
    return true;
}

}  // namespace render
