// Base64 for filter-map image text.
#include "filtermap/Base64.h"

namespace kfx {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kLineLength = 76;

int valueOf(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

}  // namespace

std::string base64Encode(const std::uint8_t* data, std::size_t size)
{
    std::string text;
    text.reserve((size + 2) / 3 * 4 + (size / 57 + 1) * 2);
    int line = 0;
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t n = size - i < 3 ? size - i : 3;
        const std::uint32_t b0 = data[i];
        const std::uint32_t b1 = n > 1 ? data[i + 1] : 0;
        const std::uint32_t b2 = n > 2 ? data[i + 2] : 0;
        const std::uint32_t group = (b0 << 16) | (b1 << 8) | b2;
        text += kAlphabet[(group >> 18) & 63];
        text += kAlphabet[(group >> 12) & 63];
        text += n > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        text += n > 2 ? kAlphabet[group & 63] : '=';
        // The break comes after the group, padding included, so padding never starts a line.
        line += 4;
        if (line >= kLineLength) {
            text += "\r\n";
            line = 0;
        }
    }
    return text;
}

std::vector<std::uint8_t> base64Decode(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t group = 0;
    int count = 0;
    for (const char ch : text) {
        if (ch == '=')
            break;
        const int v = valueOf(static_cast<unsigned char>(ch));
        if (v < 0)
            continue;
        group = (group << 6) | std::uint32_t(v);
        if (++count == 4) {
            bytes.push_back(std::uint8_t(group >> 16));
            bytes.push_back(std::uint8_t(group >> 8));
            bytes.push_back(std::uint8_t(group));
            group = 0;
            count = 0;
        }
    }
    // A last run of 2 or 3 characters carries 1 or 2 bytes; a single character none.
    if (count == 2) {
        bytes.push_back(std::uint8_t(group >> 4));
    }
    else if (count == 3) {
        bytes.push_back(std::uint8_t(group >> 10));
        bytes.push_back(std::uint8_t(group >> 2));
    }
    return bytes;
}

}  // namespace kfx
