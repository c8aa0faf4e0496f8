// The LV2 state holds the effect's preset-bank document as plain text, whatever config.xml
// says about compressing VST chunks, so a state is readable and moves between the two formats
// unchanged. File paths of filter maps inside it go through the host's path mapping.
// User-interface side only (state save and restore).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace skv::lv2 {

/// The document text of a bank chunk: unpacked when zlib-compressed, otherwise the text up to
/// its terminating zero. False for anything else (damaged, or larger than 256 MiB unpacked).
bool documentFromChunk(const unsigned char* data, std::size_t size, std::string& document);

/// Maps a path; an empty answer leaves the path as it is.
using PathMapper = std::function<std::optional<std::string>(const std::string&)>;

/// Passes the "path" of every "Bitmap L"/"Bitmap R" entry that names a file (not empty, not a
/// built-in "#n" picture) through map and rewrites the document. With absoluteOnly set only
/// absolute paths are mapped (abstract paths are made from absolute ones). False, leaving the
/// document untouched, when it is not XML.
bool mapFilterMapPaths(std::string& document, const PathMapper& map, bool absoluteOnly);

}  // namespace skv::lv2
