// Text handed across the VST 2.x interface: names, labels, displays and host strings go into
// fixed-size buffers owned by the other side. Shared by the effect (plug-in side) and the
// render tool (host side), which includes only vst/ headers and links none of our libraries,
// so this stays header-only.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace skv {

/// Writes at most maxChars characters of text into out and terminates it, so out must hold
/// maxChars + 1 bytes (e.g. kVstMaxParamStrLen for a display text).
inline void copyText(char* out, std::string_view text, std::size_t maxChars)
{
    const std::size_t n = text.size() < maxChars ? text.size() : maxChars;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace skv
