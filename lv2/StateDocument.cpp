// Chunk bytes to document text, and the path rewrite of the filter-map entries.
#include "lv2/StateDocument.h"

#include <tinyxml2.h>
#include <zlib.h>

#include <cstring>
#include <vector>

namespace skv::lv2 {

namespace {

// As the effect's own limit for a chunk: far above any real bank, far below a zip bomb's reach.
constexpr std::size_t kMaxDocumentBytes = std::size_t(256) << 20;
constexpr std::size_t kPiece = 16384;

bool inflateAll(const unsigned char* data, std::size_t size, std::string& text)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return false;
    }
    text.clear();
    unsigned char piece[kPiece];
    std::size_t fed = 0;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            if (fed == size) {
                break;
            }
            const std::size_t take = std::min(kPiece, size - fed);
            stream.next_in = const_cast<Bytef*>(data + fed);
            stream.avail_in = static_cast<uInt>(take);
            fed += take;
        }
        stream.next_out = piece;
        stream.avail_out = kPiece;
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            break;
        }
        const std::size_t produced = kPiece - stream.avail_out;
        if (text.size() + produced > kMaxDocumentBytes) {
            result = Z_MEM_ERROR;
            break;
        }
        text.append(reinterpret_cast<const char*>(piece), produced);
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

}  // namespace

bool documentFromChunk(const unsigned char* data, std::size_t size, std::string& document)
{
    if (!data || size == 0) {
        return false;
    }
    std::string text;
    const char* begin = reinterpret_cast<const char*>(data);
    if (inflateAll(data, size, text)) {
        begin = text.data();
        size = text.size();
    }
    const void* zero = std::memchr(begin, 0, size);
    const std::size_t length = zero ? static_cast<const char*>(zero) - begin : size;
    if (length < 5 || std::memcmp(begin, "<?xml", 5) != 0) {
        return false;
    }
    document.assign(begin, length);
    return true;
}

bool mapFilterMapPaths(std::string& document, const PathMapper& map, bool absoluteOnly)
{
    tinyxml2::XMLDocument xml;
    if (xml.Parse(document.data(), document.size()) != tinyxml2::XML_SUCCESS) {
        return false;
    }
    // Entries are found wherever they sit, as the bank reader finds its sections.
    bool changed = false;
    std::vector<tinyxml2::XMLElement*> pending{xml.FirstChildElement()};
    while (!pending.empty()) {
        tinyxml2::XMLElement* element = pending.back();
        pending.pop_back();
        if (!element) {
            continue;
        }
        pending.push_back(element->NextSiblingElement());
        pending.push_back(element->FirstChildElement());
        const char* id = element->Attribute("id");
        const char* path = element->Attribute("path");
        if (!id || !path ||
            (std::strcmp(id, "Bitmap L") != 0 && std::strcmp(id, "Bitmap R") != 0)) {
            continue;
        }
        if (path[0] == 0 || path[0] == '#' || (absoluteOnly && path[0] != '/')) {
            continue;
        }
        if (const std::optional<std::string> mapped = map(path)) {
            element->SetAttribute("path", mapped->c_str());
            changed = true;
        }
    }
    if (changed) {
        tinyxml2::XMLPrinter printer;
        xml.Print(&printer);
        document.assign(printer.CStr(), printer.CStrSize() > 0 ? printer.CStrSize() - 1 : 0);
    }
    return true;
}

}  // namespace skv::lv2
