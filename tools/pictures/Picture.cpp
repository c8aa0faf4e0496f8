// Compact BMP encoding and the picture registry of the generator.
#include "tools/pictures/Picture.h"

#include "filtermap/LittleEndian.h"

namespace skvpic {

using kfx::appendU16;
using kfx::appendU32;

namespace {

std::vector<CPictureMaker>& registry()
{
    static std::vector<CPictureMaker> makers;
    return makers;
}

}  // namespace

std::vector<std::uint8_t> encodeBmp(const CPicture& p)
{
    const bool indexed = p.bitsPerPixel <= 8;
    const std::uint32_t entries = indexed ? std::uint32_t(p.palette.size()) : 0;
    const std::uint32_t stride = std::uint32_t(((p.width * p.bitsPerPixel + 31) / 32) * 4);
    const std::uint32_t imageSize = stride * std::uint32_t(p.height);
    const std::uint32_t offset = 14 + 40 + 4 * entries;
    std::vector<std::uint8_t> out;
    out.reserve(offset + imageSize);
    out.push_back('B');
    out.push_back('M');
    appendU32(out, offset + imageSize);
    appendU32(out, 0);
    appendU32(out, offset);
    appendU32(out, 40);
    appendU32(out, std::uint32_t(p.width));
    appendU32(out, std::uint32_t(p.height));
    appendU16(out, 1);
    appendU16(out, std::uint32_t(p.bitsPerPixel));
    appendU32(out, 0);  // BI_RGB
    appendU32(out, imageSize);
    appendU32(out, 2835);  // 72 dpi
    appendU32(out, 2835);
    appendU32(out, entries);
    appendU32(out, entries);
    for (const auto& c : p.palette) {
        out.push_back(c[2]);
        out.push_back(c[1]);
        out.push_back(c[0]);
        out.push_back(0);
    }
    for (int y = p.height - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(stride, 0);
        for (int x = 0; x < p.width; ++x) {
            const std::uint32_t v =
                p.pixels[std::size_t(y) * std::size_t(p.width) + std::size_t(x)];
            if (p.bitsPerPixel == 24) {
                row[3 * std::size_t(x) + 0] = std::uint8_t(v);
                row[3 * std::size_t(x) + 1] = std::uint8_t(v >> 8);
                row[3 * std::size_t(x) + 2] = std::uint8_t(v >> 16);
            }
            else if (p.bitsPerPixel == 8) {
                row[std::size_t(x)] = std::uint8_t(v);
            }
            else {
                const int perByte = 8 / p.bitsPerPixel;
                const int shift = 8 - p.bitsPerPixel * (x % perByte + 1);
                row[std::size_t(x / perByte)] |=
                    std::uint8_t((v & ((1u << p.bitsPerPixel) - 1)) << shift);
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

bool registerPicture(const CPictureMaker& maker)
{
    registry().push_back(maker);
    return true;
}

const std::vector<CPictureMaker>& registeredPictures()
{
    return registry();
}

std::uint32_t hash3(std::int32_t x, std::int32_t y, std::uint32_t seed)
{
    std::uint32_t h =
        std::uint32_t(x) * 374761393u + std::uint32_t(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    h *= 2654435761u;
    return h ^ (h >> 15);
}

}  // namespace skvpic
