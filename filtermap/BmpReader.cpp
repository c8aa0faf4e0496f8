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

bool readBmp(const std::uint8_t* data, std::size_t size, bool withFileHeader, CBmpPicture& out)
{
    if (data == nullptr)
        return false;
    const CBytes in{data, size};
    std::size_t base = 0;
    std::size_t pixelOffset = 0;  // 0: the pixels follow the colour table
    if (withFileHeader) {
        if (!in.has(0, kFileHeaderSize) || data[0] != 'B' || data[1] != 'M')
            return false;
        pixelOffset = in.u32(10);
        base = kFileHeaderSize;
    }
    if (!in.has(base, 4))
        return false;
    const std::uint32_t headerSize = in.u32(base);
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t bpp = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t coloursUsed = 0;
    std::size_t entrySize = 4;
    if (headerSize == 12) {  // OS/2 1.x core header: 16-bit sizes, 3-byte table entries
        if (!in.has(base, 12))
            return false;
        width = in.u16(base + 4);
        height = in.u16(base + 6);
        bpp = in.u16(base + 10);
        entrySize = 3;
    }
    else if (headerSize == 16 || (headerSize >= 40 && headerSize <= 1024)) {
        if (!in.has(base, headerSize))
            return false;
        width = in.i32(base + kOffWidth);
        height = in.i32(base + kOffHeight);
        bpp = in.u16(base + kOffBits);
        if (headerSize >= 40) {
            compression = in.u32(base + kOffCompression);
            coloursUsed = in.u32(base + kOffColoursUsed);
        }
    }
    else {
        return false;
    }

    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide ||
        width * height > kMaxPixels)
        return false;
    if (!isBmpDepth(bpp))
        return false;
    const bool rle = compression == kBiRle8 || compression == kBiRle4;
    const bool fields = isBitfields(compression);
    if (!(compression == kBiRgb || (compression == kBiRle8 && bpp == 8) ||
          (compression == kBiRle4 && bpp == 4) || (fields && (bpp == 16 || bpp == 32))))
        return false;
    if (rle && topDown)  // not defined for RLE
        return false;

    // Channel masks: inside V2+ headers, else 3 (or 4 with alpha) words after the header.
    std::size_t maskBytes = 0;
    std::uint32_t masks[3] = {0, 0, 0};
    if (fields) {
        std::size_t at = base + kInfoHeaderSize;
        if (headerSize < 52) {
            at = base + headerSize;
            maskBytes = compression == kBiAlphaBitfields ? 16 : 12;
            if (!in.has(at, maskBytes))
                return false;
        }
        for (int i = 0; i < 3; ++i)
            masks[i] = in.u32(at + 4 * std::size_t(i));
    }
    else if (bpp == 16 || bpp == 32) {
        plainChannelMasks(int(bpp), masks);
    }

    // Colour table: biClrUsed entries (2^bits when 0), never more than the depth can
    // index, and no more than fit before the pixels when the file says where they are.
    const std::size_t tableStart = base + headerSize + maskBytes;
    std::size_t entries = 0;
    // An offset that points back into the headers would read them as pixels.
    if (pixelOffset != 0 && pixelOffset < tableStart)
        return false;
    if (bpp <= 8) {
        const std::size_t nominal = std::size_t(1) << bpp;
        entries = (coloursUsed != 0 && entrySize == 4) ? std::min<std::size_t>(coloursUsed, nominal)
                                                       : nominal;
        if (pixelOffset != 0)
            entries = std::min(entries, (pixelOffset - tableStart) / entrySize);
        // Indices without a single colour would all read as black: such a file is broken.
        if (entries == 0 || !in.has(tableStart, entries * entrySize))
            return false;
    }
    if (pixelOffset == 0) {
        // Deeper pictures may carry an optional table of biClrUsed entries before the pixels.
        const std::size_t tableBytes =
            bpp <= 8 ? entries * entrySize : std::size_t(coloursUsed) * entrySize;
        if (bpp > 8 && coloursUsed > 256)
            return false;
        pixelOffset = tableStart + tableBytes;
    }
    if (pixelOffset >= size)
        return false;

    CBmpPicture pic;
    pic.width = int(width);
    pic.height = int(height);
    pic.bitsPerPixel = bpp == 16 || bpp == 32 ? 24 : int(bpp);
    pic.colourCount = int(entries);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t e = tableStart + i * entrySize;
        pic.colourTable[4 * i + 0] = data[e + 0];
        pic.colourTable[4 * i + 1] = data[e + 1];
        pic.colourTable[4 * i + 2] = data[e + 2];
    }
    const std::size_t stride = std::size_t(pic.stride());
    pic.pixels.assign(stride * std::size_t(height), 0);

    if (rle) {
        if (!decodeRle(in, pixelOffset, pic))
            return false;
    }
    else {
        const std::size_t srcStride = std::size_t(bmpStride(width, int(bpp)));
        const std::size_t rowBytes = std::size_t((width * bpp + 7) / 8);
        // The last row's padding may be missing; its pixels may not.
        if (!in.has(pixelOffset, srcStride * std::size_t(height - 1) + rowBytes))
            return false;
        for (std::int64_t y = 0; y < height; ++y) {
            const std::int64_t fileRow = topDown ? height - 1 - y : y;
            const std::uint8_t* src = data + pixelOffset + std::size_t(fileRow) * srcStride;
            std::uint8_t* dst = pic.pixels.data() + std::size_t(y) * stride;
            if (bpp == 16 || bpp == 32)
                widenRow(src, pic.width, int(bpp), masks, dst);
            else
                std::copy(src, src + rowBytes, dst);
        }
    }
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
