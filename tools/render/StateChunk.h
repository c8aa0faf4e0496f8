// What the render tool understands of a plug-in's state chunk: the preset-bank XML text
// (plain, or zlib-compressed), its "Bitmap L"/"Bitmap R" entries, and the Base64 image
// text of a filter map (40-byte BMP info header followed by the pixel rows, bottom row
// first). Everything here treats the chunk as untrusted input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}  // namespace tinyxml2

namespace render {

/// The XML text of a chunk: inflated when it is a zlib stream, taken as it is when it
/// begins with "<?xml"; empty when it is neither. Trailing zero bytes are dropped.
std::string chunkToXml(const void* data, size_t size);

/// The document's first top-level element whose name begins with "Bank"; null if none.
const tinyxml2::XMLElement* firstBank(const tinyxml2::XMLDocument& doc);

/// The chunk handed to a plug-in for preset-bank text: the XML declaration added when
/// missing (plug-ins recognise XML chunks by it) and a terminating zero byte.
std::string xmlChunk(const std::string& xml);

/// Points entry `entryId` ("Bitmap L" or "Bitmap R") of the first preset of the document at
/// `path` and removes its "base64" image text, so the plug-in loads the file. Returns the
/// new document text; on failure returns empty text and sets `error`.
std::string setFilterMapPath(const std::string& xml, const std::string& entryId,
                             const std::string& path, std::string& error);

/// One preset as the picture and the messages need it.
struct CPresetSummary {
    bool valid = false;
    std::string pathLeft, pathRight;
    std::string imageLeft, imageRight;  // Base64 image text, empty when not stored
};

/// Reads the first preset of the document; valid is false when there is none.
CPresetSummary readFirstPreset(const std::string& xml);

/// A filter map decoded for drawing: one 8-bit sample per pixel, top row first.
struct CFilterMapPicture {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    std::vector<uint8_t> samples;
};

/// Standard Base64; characters outside the alphabet are skipped, "=" ends the text.
std::vector<uint8_t> decodeBase64(const std::string& text);

/// Decodes image text into `picture`; false (picture untouched) for text that is too short,
/// has an impossible header, or holds fewer pixel bytes than the header announces.
bool decodeImageText(const std::string& text, CFilterMapPicture& picture);

}  // namespace render
