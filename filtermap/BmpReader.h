// Our own BMP reader, used instead of a platform loader. It accepts what common programs
// write (40/52/56/64/108/124-byte and OS/2 12-byte headers, top-down rows, RLE4/RLE8, 1/2/4/8
// bits with a colour table, 16/32-bit BI_RGB and bit-field files, 24 bits) and turns each
// into one canonical form: bottom row first, rows padded to 4 bytes, 1/2/4/8 bits with the
// file's own table or 24 bits (16- and 32-bit pixels are widened to 8-bit blue, green, red
// by bit replication). Every length is checked before it is read; anything doubtful fails.
// The layout helpers here (header fields, packed indices, channel masks) serve the holder too.
#pragma once

#include "filtermap/LittleEndian.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kfx {

/// A picture in the holder's canonical form.
struct CBmpPicture {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;                          // 1, 2, 4, 8 or 24 (or 16/32 from image text)
    std::array<std::uint8_t, 1024> colourTable{};  // blue, green, red, 0; unused entries 0
    /// Entries of colourTable the picture defines; the holder keeps its own beyond them.
    int colourCount = 256;
    std::vector<std::uint8_t> pixels;  // stride * height bytes, bottom row first

    int stride() const;
};

/// Compression codes of the info header that pictures here may carry.
enum : std::uint32_t {
    kBiRgb = 0,
    kBiRle8 = 1,
    kBiRle4 = 2,
    kBiBitfields = 3,
    kBiAlphaBitfields = 6
};

/// Offsets of the fields of the 40-byte info header.
constexpr std::size_t kOffHeaderSize = 0, kOffWidth = 4, kOffHeight = 8, kOffPlanes = 12,
                      kOffBits = 14, kOffCompression = 16, kOffImageSize = 20, kOffColoursUsed = 32;

inline bool isBmpDepth(std::uint32_t bits)
{
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
           bits == 32;
}

inline bool isBitfields(std::uint32_t compression)
{
    return compression == kBiBitfields || compression == kBiAlphaBitfields;
}

/// Index of pixel x in a row of 1, 2, 4 or 8 bits per pixel, leftmost pixel in the high bits.
inline int packedIndex(const std::uint8_t* row, int x, int bits)
{
    const int perByte = 8 / bits;
    const int shift = 8 - bits * (x % perByte + 1);
    return (row[x / perByte] >> shift) & ((1 << bits) - 1);
}

inline void setPackedIndex(std::uint8_t* row, int x, int bits, std::uint32_t index)
{
    const int perByte = 8 / bits;
    const int shift = 8 - bits * (x % perByte + 1);
    const std::uint32_t mask = ((1u << bits) - 1u) << shift;
    row[x / perByte] = std::uint8_t((row[x / perByte] & ~mask) | ((index << shift) & mask));
}

/// Red, green and blue masks of a 16-bit (5-5-5) or 32-bit (8-8-8) picture without bit fields.
void plainChannelMasks(int bitsPerPixel, std::uint32_t masks[3]);

/// Blue, green, red of `width` little-endian 16- or 32-bit pixels; each channel, given by
/// its mask in `masks` (red, green, blue), widened to 8 bits by repeating its bit pattern
/// (5-bit f: f<<3 | f>>2) so that full scale stays 255; wider fields keep their top 8 bits.
void widenRow(const std::uint8_t* src, int width, int bitsPerPixel, const std::uint32_t masks[3],
              std::uint8_t* bgr);

/// Row length in bytes of a picture: whole 32-bit words, ((width * bits + 31) div 32) * 4.
std::int64_t bmpStride(std::int64_t width, int bitsPerPixel);

/// A BMP file (starting with "BM" and its 14-byte file header). False on any fault.
bool readBmpFile(const std::uint8_t* data, std::size_t size, CBmpPicture& out);
/// A bitmap resource: the same without the file header; the pixels follow the colour table.
bool readBmpResource(const std::uint8_t* data, std::size_t size, CBmpPicture& out);

}  // namespace kfx
