// Turning dropped data into what onDrop receives: a text/uri-list becomes local file paths
// (percent-decoded, symbolic links resolved), each at most kMaxDropPathLength characters.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace VSTGUI {

constexpr std::size_t kMaxDropPathLength = 1024;

/// Local paths of the file: URIs in a text/uri-list (comments, blank lines, other schemes,
/// remote hosts, malformed escapes and paths longer than kMaxDropPathLength are left out:
/// a shortened path would name some other file).
std::vector<std::string> parseUriList(const std::string& list);

/// Decodes %XX escapes; false on a malformed escape or an escaped NUL.
bool percentDecode(const std::string& in, std::string& out);

/// The target of a symbolic link chain (the path itself if it is none or cannot be resolved).
std::string resolveLink(const std::string& path);

}  // namespace VSTGUI
