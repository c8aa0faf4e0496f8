// Our own BMP reader, used instead of a platform loader. It accepts what common programs
// write (40/52/56/64/108/124-byte and OS/2 12-byte headers, top-down rows, RLE4/RLE8, 1/2/4/8
// bits with a colour table, 16/32-bit BI_RGB and bit-field files, 24 bits) and turns each
// into one canonical form: bottom row first, rows padded to 4 bytes, 1/2/4/8 bits with the
// file's own table or 24 bits (16- and 32-bit pixels are widened to 8-bit blue, green, red
// by bit replication). Every length is checked before it is read; anything doubtful fails.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kfx {

// A picture in the holder's canonical form.
struct CBmpPicture {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;                          // 1, 2, 4, 8 or 24 (or 16/32 from image text)
    std::array<std::uint8_t, 1024> colourTable{};  // blue, green, red, 0; unused entries 0
    std::vector<std::uint8_t> pixels;              // stride * height bytes, bottom row first

    int stride() const;
};

// One colour channel of a 16- or 32-bit pixel, described by its mask (any run of bits).
struct CBitfieldChannel {
    int shift = 0;
    int bits = 0;

    explicit CBitfieldChannel(std::uint32_t mask);
    // The field widened to 8 bits by repeating its bit pattern (5-bit f: f<<3 | f>>2), so
    // that full scale stays 255; fields wider than 8 bits keep their top 8 bits.
    std::uint8_t widen(std::uint32_t pixel) const;
};

// Row length in bytes of a picture: whole 32-bit words, ((width * bits + 31) div 32) * 4.
std::int64_t bmpStride(std::int64_t width, int bitsPerPixel);

// A BMP file (starting with "BM" and its 14-byte file header). False on any fault.
bool readBmpFile(const std::uint8_t* data, std::size_t size, CBmpPicture& out);
// A bitmap resource: the same without the file header; the pixels follow the colour table.
bool readBmpResource(const std::uint8_t* data, std::size_t size, CBmpPicture& out);

}  // namespace kfx
