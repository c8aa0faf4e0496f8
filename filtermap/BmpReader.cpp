// BMP reader: parses the header variants into one canonical picture (see BmpReader.h).
#include "filtermap/BmpReader.h"

#include "filtermap/FilterMapConfig.h"

#include <algorithm>

namespace kfx {

namespace {

// Bounds-checked little-endian access to the input bytes.
struct CBytes {
    const std::uint8_t* data;
    std::size_t size;

    bool has(std::size_t offset, std::size_t length) const
    {
        return offset <= size && length <= size - offset;
    }
    std::uint32_t u16(std::size_t o) const { return getU16(data + o); }
    std::uint32_t u32(std::size_t o) const { return getU32(data + o); }
    std::int32_t i32(std::size_t o) const { return static_cast<std::int32_t>(u32(o)); }
};

// One colour channel of a 16- or 32-bit pixel, described by its mask (any run of bits).
struct CBitfieldChannel {
    int shift = 0;
    int bits = 0;

    explicit CBitfieldChannel(std::uint32_t mask)
    {
        if (mask == 0)
            return;
        while (((mask >> shift) & 1u) == 0)
            ++shift;
        const std::uint32_t m = mask >> shift;
        while (bits < 32 && (m >> bits) != 0)
            ++bits;
    }

    std::uint8_t widen(std::uint32_t pixel) const
    {
        if (bits == 0)
            return 0;
        const std::uint32_t f =
            (bits >= 32 ? pixel >> shift : (pixel >> shift) & ((1u << bits) - 1u));
        if (bits >= 8)
            return std::uint8_t(f >> (bits - 8));
        std::uint32_t r = 0;
        int filled = 0;
        while (filled < 8) {
            r = (r << bits) | f;
            filled += bits;
        }
        return std::uint8_t(r >> (filled - 8));
    }
};

// RLE8 / RLE4 stream into the bottom-up index rows. Runs that would cross the right edge,
// deltas that leave the picture and streams cut short before the last row all fail.
bool decodeRle(const CBytes& in, std::size_t p, CBmpPicture& pic)
{
    const int bits = pic.bitsPerPixel;
    const bool rle8 = bits == 8;
    const std::size_t stride = std::size_t(pic.stride());
    const int w = pic.width;
    const int h = pic.height;
    int x = 0;
    int y = 0;
    while (y < h) {
        if (!in.has(p, 2))
            return false;
        const std::uint32_t a = in.data[p];
        const std::uint32_t b = in.data[p + 1];
        p += 2;
        if (a > 0) {
            if (std::int64_t(x) + a > w)
                return false;
            std::uint8_t* row = pic.pixels.data() + std::size_t(y) * stride;
            for (std::uint32_t i = 0; i < a; ++i)
                setPackedIndex(row, x++, bits, rle8 ? b : ((i & 1) ? (b & 0xF) : (b >> 4)));
        }
        else if (b == 0) {
            x = 0;
            ++y;
        }
        else if (b == 1) {
            break;
        }
        else if (b == 2) {
            if (!in.has(p, 2))
                return false;
            x += in.data[p];
            y += in.data[p + 1];
            p += 2;
            if (x > w || y > h)
                return false;
        }
        else {
            const std::size_t bytes = rle8 ? b : (b + 1) / 2;
            if (std::int64_t(x) + b > w || !in.has(p, bytes))
                return false;
            std::uint8_t* row = pic.pixels.data() + std::size_t(y) * stride;
            for (std::uint32_t i = 0; i < b; ++i) {
                const std::uint32_t v = rle8 ? in.data[p + i] : in.data[p + i / 2];
                setPackedIndex(row, x++, bits, rle8 ? v : ((i & 1) ? (v & 0xF) : (v >> 4)));
            }
            p += bytes + (bytes & 1);  // absolute runs are padded to 16 bits
        }
    }
    return true;
}

// What the headers say, in the reader's terms.
struct CBmpLayout {
    std::size_t base = 0;         // where the info header starts
    std::size_t pixelOffset = 0;  // 0: the pixels follow the colour table
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // made positive once topDown is known
    bool topDown = false;
    std::uint32_t bpp = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t coloursUsed = 0;
    std::size_t entrySize = 4;  // bytes per colour-table entry
    std::size_t maskBytes = 0;  // channel masks stored between the header and the table
    std::uint32_t masks[3] = {0, 0, 0};
    std::size_t tableStart = 0;
    std::size_t entries = 0;  // colour-table entries the picture uses

    bool rle() const { return compression == kBiRle8 || compression == kBiRle4; }
    bool deep() const { return bpp == 16 || bpp == 32; }
};

// The file header (when there is one) and the info header in its OS/2, 16-byte or
// 40-to-1024-byte form.
bool readHeaders(const CBytes& in, bool withFileHeader, CBmpLayout& b)
{
    if (withFileHeader) {
        if (!in.has(0, kFileHeaderSize) || in.data[0] != 'B' || in.data[1] != 'M')
            return false;
        b.pixelOffset = in.u32(10);
        b.base = kFileHeaderSize;
    }
    if (!in.has(b.base, 4))
        return false;
    b.headerSize = in.u32(b.base);
    if (b.headerSize == 12) {  // OS/2 1.x core header: 16-bit sizes, 3-byte table entries
        if (!in.has(b.base, 12))
            return false;
        b.width = in.u16(b.base + 4);
        b.height = in.u16(b.base + 6);
        b.bpp = in.u16(b.base + 10);
        b.entrySize = 3;
        return true;
    }
    if (b.headerSize != 16 && (b.headerSize < 40 || b.headerSize > 1024))
        return false;
    if (!in.has(b.base, b.headerSize))
        return false;
    b.width = in.i32(b.base + kOffWidth);
    b.height = in.i32(b.base + kOffHeight);
    b.bpp = in.u16(b.base + kOffBits);
    if (b.headerSize >= 40) {
        b.compression = in.u32(b.base + kOffCompression);
        b.coloursUsed = in.u32(b.base + kOffColoursUsed);
    }
    return true;
}

// Size, depth and compression within what the holder takes, and in a combination the
// format defines.
bool checkFormat(CBmpLayout& b)
{
    b.topDown = b.height < 0;
    if (b.topDown)
        b.height = -b.height;
    if (b.width < 1 || b.height < 1 || b.width > kMaxSide || b.height > kMaxSide ||
        b.width * b.height > kMaxPixels)
        return false;
    if (!isBmpDepth(b.bpp))
        return false;
    const std::uint32_t c = b.compression;
    if (!(c == kBiRgb || (c == kBiRle8 && b.bpp == 8) || (c == kBiRle4 && b.bpp == 4) ||
          (isBitfields(c) && b.deep())))
        return false;
    return !(b.rle() && b.topDown);  // not defined for RLE
}

// Channel masks: inside V2+ headers, else 3 (or 4 with alpha) words after the header.
bool readMasks(const CBytes& in, CBmpLayout& b)
{
    if (isBitfields(b.compression)) {
        std::size_t at = b.base + kInfoHeaderSize;
        if (b.headerSize < 52) {
            at = b.base + b.headerSize;
            b.maskBytes = b.compression == kBiAlphaBitfields ? 16 : 12;
            if (!in.has(at, b.maskBytes))
                return false;
        }
        for (int i = 0; i < 3; ++i)
            b.masks[i] = in.u32(at + 4 * std::size_t(i));
    }
    else if (b.deep()) {
        plainChannelMasks(int(b.bpp), b.masks);
    }
    return true;
}

// Colour table: biClrUsed entries (2^bits when 0), never more than the depth can index,
// and no more than fit before the pixels when the file says where they are. Also settles
// where the pixels start when the file does not say.
bool locateTableAndPixels(const CBytes& in, CBmpLayout& b)
{
    b.tableStart = b.base + b.headerSize + b.maskBytes;
    // An offset that points back into the headers would read them as pixels.
    if (b.pixelOffset != 0 && b.pixelOffset < b.tableStart)
        return false;
    if (b.bpp <= 8) {
        const std::size_t nominal = std::size_t(1) << b.bpp;
        b.entries = (b.coloursUsed != 0 && b.entrySize == 4)
                        ? std::min<std::size_t>(b.coloursUsed, nominal)
                        : nominal;
        if (b.pixelOffset != 0)
            b.entries = std::min(b.entries, (b.pixelOffset - b.tableStart) / b.entrySize);
        // Indices without a single colour would all read as black: such a file is broken.
        if (b.entries == 0 || !in.has(b.tableStart, b.entries * b.entrySize))
            return false;
    }
    if (b.pixelOffset == 0) {
        // Deeper pictures may carry an optional table of biClrUsed entries before the pixels.
        const std::size_t tableBytes =
            b.bpp <= 8 ? b.entries * b.entrySize : std::size_t(b.coloursUsed) * b.entrySize;
        if (b.bpp > 8 && b.coloursUsed > 256)
            return false;
        b.pixelOffset = b.tableStart + tableBytes;
    }
    return b.pixelOffset < in.size;
}

// An empty picture of the canonical form with the file's colour table.
CBmpPicture makeCanonical(const CBytes& in, const CBmpLayout& b)
{
    CBmpPicture pic;
    pic.width = int(b.width);
    pic.height = int(b.height);
    pic.bitsPerPixel = b.deep() ? 24 : int(b.bpp);
    pic.colourCount = int(b.entries);
    for (std::size_t i = 0; i < b.entries; ++i) {
        const std::size_t e = b.tableStart + i * b.entrySize;
        pic.colourTable[4 * i + 0] = in.data[e + 0];
        pic.colourTable[4 * i + 1] = in.data[e + 1];
        pic.colourTable[4 * i + 2] = in.data[e + 2];
    }
    pic.pixels.assign(std::size_t(pic.stride()) * std::size_t(b.height), 0);
    return pic;
}

// Uncompressed rows, bottom row first in the result; 16- and 32-bit pixels widened.
bool copyRows(const CBytes& in, const CBmpLayout& b, CBmpPicture& pic)
{
    const std::size_t stride = std::size_t(pic.stride());
    const std::size_t srcStride = std::size_t(bmpStride(b.width, int(b.bpp)));
    const std::size_t rowBytes = std::size_t((b.width * b.bpp + 7) / 8);
    // The last row's padding may be missing; its pixels may not.
    if (!in.has(b.pixelOffset, srcStride * std::size_t(b.height - 1) + rowBytes))
        return false;
    for (std::int64_t y = 0; y < b.height; ++y) {
        const std::int64_t fileRow = b.topDown ? b.height - 1 - y : y;
        const std::uint8_t* src = in.data + b.pixelOffset + std::size_t(fileRow) * srcStride;
        std::uint8_t* dst = pic.pixels.data() + std::size_t(y) * stride;
        if (b.deep())
            widenRow(src, pic.width, int(b.bpp), b.masks, dst);
        else
            std::copy(src, src + rowBytes, dst);
    }
    return true;
}

bool readBmp(const std::uint8_t* data, std::size_t size, bool withFileHeader, CBmpPicture& out)
{
    if (data == nullptr)
        return false;
    const CBytes in{data, size};
    CBmpLayout layout;
    if (!readHeaders(in, withFileHeader, layout) || !checkFormat(layout) ||
        !readMasks(in, layout) || !locateTableAndPixels(in, layout))
        return false;
    CBmpPicture pic = makeCanonical(in, layout);
    const bool decoded =
        layout.rle() ? decodeRle(in, layout.pixelOffset, pic) : copyRows(in, layout, pic);
    if (!decoded)
        return false;
    out = std::move(pic);
    return true;
}

}  // namespace

void plainChannelMasks(int bitsPerPixel, std::uint32_t masks[3])
{
    const bool is16 = bitsPerPixel == 16;
    masks[0] = is16 ? 0x7C00u : 0xFF0000u;
    masks[1] = is16 ? 0x03E0u : 0x00FF00u;
    masks[2] = is16 ? 0x001Fu : 0x0000FFu;
}

void widenRow(const std::uint8_t* src, int width, int bitsPerPixel, const std::uint32_t masks[3],
              std::uint8_t* bgr)
{
    const CBitfieldChannel red(masks[0]), green(masks[1]), blue(masks[2]);
    const std::size_t bytes = std::size_t(bitsPerPixel / 8);
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = src + std::size_t(x) * bytes;
        const std::uint32_t v = bytes == 2 ? getU16(p) : getU32(p);
        bgr[3 * x + 0] = blue.widen(v);
        bgr[3 * x + 1] = green.widen(v);
        bgr[3 * x + 2] = red.widen(v);
    }
}

std::int64_t bmpStride(std::int64_t width, int bitsPerPixel)
{
    return ((width * bitsPerPixel + 31) / 32) * 4;
}

int CBmpPicture::stride() const
{
    return int(bmpStride(width, bitsPerPixel));
}

bool readBmpFile(const std::uint8_t* data, std::size_t size, CBmpPicture& out)
{
    return readBmp(data, size, true, out);
}

bool readBmpResource(const std::uint8_t* data, std::size_t size, CBmpPicture& out)
{
    return readBmp(data, size, false, out);
}

}  // namespace kfx
