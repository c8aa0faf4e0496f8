// Small BMP files and pictures built inside the tests, laid out field by field at offsets
// written out here (not taken from the reader), so that the reader under test is checked
// against an independent layout.
#pragma once

#include "filtermap/BitmapHelper.h"
#include "filtermap/LittleEndian.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace skvtest {

using kfx::getU32;
using kfx::putU16;
using kfx::putU32;

inline int strideOf(int width, int bits)
{
    return ((width * bits + 31) / 32) * 4;
}

// Filter-map value of an 8-bit level v, written out from the definition: (v k - 0.5) 2 in
// double precision, k = 0.0039215688593685627 the float nearest 1/255.
inline float expectedValue(int v)
{
    const double k = 0.0039215688593685627;
    return float((v * k - 0.5) * 2.0);
}

// A BMP info header of `size` bytes: the 40-byte fields (one plane, no resolution), then
// zeros up to `size`, which the size field states.
inline std::vector<std::uint8_t> infoHeader(std::size_t size, int width, int height, int bits,
                                            std::uint32_t compression, std::size_t imageSize,
                                            std::size_t coloursUsed = 0)
{
    std::vector<std::uint8_t> h(size, 0);
    putU32(h.data() + 0, std::uint32_t(size));
    putU32(h.data() + 4, std::uint32_t(width));
    putU32(h.data() + 8, std::uint32_t(height));
    putU16(h.data() + 12, 1);
    putU16(h.data() + 14, std::uint32_t(bits));
    putU32(h.data() + 16, compression);
    putU32(h.data() + 20, std::uint32_t(imageSize));
    putU32(h.data() + 32, std::uint32_t(coloursUsed));
    return h;
}

// A BMP file with a 40-byte header. `rows` are the file's rows in file order (bottom row
// first unless height < 0), each already padded; `table` holds B,G,R,0 entries.
inline std::vector<std::uint8_t> makeBmp(int width, int height, int bits,
                                         const std::vector<std::uint8_t>& pixelBytes,
                                         const std::vector<std::uint8_t>& table = {},
                                         std::uint32_t compression = 0)
{
    const std::size_t offset = 14 + 40 + table.size();
    std::vector<std::uint8_t> f(14, 0);
    f[0] = 'B';
    f[1] = 'M';
    putU32(f.data() + 2, std::uint32_t(offset + pixelBytes.size()));
    putU32(f.data() + 10, std::uint32_t(offset));
    const auto header =
        infoHeader(40, width, height, bits, compression, pixelBytes.size(), table.size() / 4);
    f.insert(f.end(), header.begin(), header.end());
    f.insert(f.end(), table.begin(), table.end());
    f.insert(f.end(), pixelBytes.begin(), pixelBytes.end());
    return f;
}

// A 24-bit file whose pixel (x, y) (y from the bottom) has the three bytes given by `bgr`.
template <typename F>
std::vector<std::uint8_t> make24(int width, int height, F bgr)
{
    const int s = strideOf(width, 24);
    std::vector<std::uint8_t> px(std::size_t(s) * std::size_t(height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = bgr(x, y);
            px[std::size_t(y * s + 3 * x) + 0] = std::uint8_t(c);
            px[std::size_t(y * s + 3 * x) + 1] = std::uint8_t(c >> 8);
            px[std::size_t(y * s + 3 * x) + 2] = std::uint8_t(c >> 16);
        }
    return makeBmp(width, height, 24, px);
}

// A grey 24-bit file: every byte of pixel (x, y) is sample(x, y).
template <typename F>
std::vector<std::uint8_t> makeGrey24(int width, int height, F sample)
{
    return make24(width, height, [&](int x, int y) {
        const std::uint32_t v = std::uint32_t(sample(x, y)) & 0xFF;
        return v | (v << 8) | (v << 16);
    });
}

inline std::filesystem::path tempPath(const std::string& name)
{
    return std::filesystem::temp_directory_path() /
           ("skv_filtermap_" + std::to_string(::getpid()) + "_" + name);
}

inline void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
}

// Loads `bytes` into `holder` through a temporary file, as a user's file would arrive.
inline void loadBytes(kfx::IBitmapHelper& holder, const std::vector<std::uint8_t>& bytes,
                      const std::string& name = "picture.bmp")
{
    const auto path = tempPath(name);
    writeFile(path, bytes);
    holder.loadFromFile(path.string());
    std::filesystem::remove(path);
}

// The sample of pixel (x, y) read straight from the holder's blocks.
inline int rawByte(const kfx::CBitmapHelper& h, int x, int y, int byte = 0)
{
    const std::size_t at = std::size_t(y) * std::size_t(h.getStride()) +
                           std::size_t(x) * std::size_t(h.getBitsPerPixel() / 8) +
                           std::size_t(byte);
    return (*h.getPixelBlock())[at];
}

}  // namespace skvtest
