// Base64 with the standard alphabet as used by filter-map image text: a CR LF after every
// group that brings the line to 76 characters, "=" padding, and a lenient decoder that
// skips anything outside the alphabet and stops at the first "=".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kfx {

std::string base64Encode(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> base64Decode(const std::string& text);

}  // namespace kfx
