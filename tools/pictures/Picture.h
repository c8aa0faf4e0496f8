// A picture as the generator draws it, its compact BMP encoding, and the registry through
// which each source file of the generator contributes pictures.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace skvpic {

struct CPicture {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 24;                             // 1, 4, 8 (indexed) or 24
    std::vector<std::array<std::uint8_t, 3>> palette;  // red, green, blue; indexed pictures only
    std::vector<std::uint32_t> pixels;  // top row first: an index, or 0xRRGGBB at 24 bits

    CPicture(int w, int h, int bits)
        : width(w), height(h), bitsPerPixel(bits), pixels(std::size_t(w) * std::size_t(h), 0)
    {
    }
    std::uint32_t& at(int x, int yFromTop)
    {
        return pixels[std::size_t(yFromTop) * std::size_t(width) + std::size_t(x)];
    }
};

/// A standard BMP file: 40-byte info header, biClrUsed = palette size with exactly that many
/// table entries, pixels right after the table (so the file minus its first 14 bytes is a
/// valid bitmap resource), bottom row first, rows padded to 4 bytes.
std::vector<std::uint8_t> encodeBmp(const CPicture& picture);

struct CPictureMaker {
    int resource;          // bitmap resource number, e.g. 10000
    const char* fileName;  // written as <resource>-<fileName>.bmp
    CPicture (*draw)();
};

bool registerPicture(const CPictureMaker& maker);
const std::vector<CPictureMaker>& registeredPictures();

/// Deterministic integer hash, for noise and glitches that must not depend on a library's
/// random-number implementation.
std::uint32_t hash3(std::int32_t x, std::int32_t y, std::uint32_t seed);

}  // namespace skvpic

#define SKV_PICTURE_CONCAT2(a, b) a##b
#define SKV_PICTURE_CONCAT(a, b) SKV_PICTURE_CONCAT2(a, b)
#define SKV_REGISTER_PICTURE(resource, fileName, drawFunction)                                     \
    static const bool SKV_PICTURE_CONCAT(registered_, __LINE__) =                                  \
        ::skvpic::registerPicture({resource, fileName, drawFunction})
