// Picture holder: loading, the header and pixel blocks, values, export and image text.
// The generators and transforms are in BitmapTransforms.cpp.
#include "filtermap/BitmapHelper.h"

#include "filtermap/Base64.h"
#include "filtermap/BmpReader.h"
#include "filtermap/FilterMapConfig.h"
#include "filtermap/LittleEndian.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kfx {

namespace {

// A file bigger than the largest acceptable picture (2^24 pixels at 32 bits plus headers)
// is refused before it is read into memory.
constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t(kMaxPixels) * 4 + (1u << 20);

// Red, green and blue masks of a 16- or 32-bit picture. Bit-field pictures keep theirs
// right after the 40-byte info header, where a BMP file with that header has them too.
void channelMasks(const std::uint8_t* header, int bits, std::uint32_t masks[3])
{
    if (isBitfields(getU32(header + kOffCompression))) {
        for (int i = 0; i < 3; ++i)
            masks[i] = getU32(header + kInfoHeaderSize + 4 * std::size_t(i));
    }
    else {
        plainChannelMasks(bits, masks);
    }
}

// Every byte or false: a short write is a full disk, not something to retry.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

}  // namespace

// The engine is seeded with the time plus the holder's address, so that holders made in the
// same second differ.
CBitmapHelper::CBitmapHelper(std::string name_)
    : name(std::move(name_)),
      engine(std::uint32_t(std::uint64_t(std::time(nullptr)) +
                           std::uint64_t(reinterpret_cast<std::uintptr_t>(this))))
{
    freshHeaderBlock();
}

CBitmapHelper::~CBitmapHelper() = default;

void CBitmapHelper::freshHeaderBlock()
{
    auto block = std::make_shared<std::vector<std::uint8_t>>(kHeaderBlockSize, 0);
    for (std::size_t i = 0; i < kColourTableEntries; ++i) {
        std::uint8_t* e = block->data() + kColourTableOffset + 4 * i;
        e[0] = e[1] = e[2] = std::uint8_t(i);
    }
    headerBlock = std::move(block);
}

void CBitmapHelper::clearPicture()
{
    pixelBlock.reset();
    width = height = stride = bitsPerPixel = 0;
}

void CBitmapHelper::adopt(CBmpPicture&& picture)
{
    // A new header block each time: shared owners of the old one keep what they saw.
    auto block = std::make_shared<std::vector<std::uint8_t>>(*headerBlock);
    std::uint8_t* h = block->data();
    // A mirrored bit-field picture keeps its masks (after the info header), so keep saying so.
    const std::uint32_t oldCompression = getU32(h + kOffCompression);
    const bool keepsMasks = isBitfields(oldCompression) && picture.bitsPerPixel == bitsPerPixel &&
                            (bitsPerPixel == 16 || bitsPerPixel == 32);
    std::fill(h, h + kInfoHeaderSize, std::uint8_t(0));
    width = picture.width;
    height = picture.height;
    bitsPerPixel = picture.bitsPerPixel;
    stride = picture.stride();
    putU32(h + kOffHeaderSize, std::uint32_t(kInfoHeaderSize));
    putU32(h + kOffWidth, std::uint32_t(width));
    putU32(h + kOffHeight, std::uint32_t(height));
    putU16(h + kOffPlanes, 1);
    putU16(h + kOffBits, std::uint32_t(bitsPerPixel));
    putU32(h + kOffImageSize, std::uint32_t(std::size_t(stride) * std::size_t(height)));
    if (keepsMasks)
        putU32(h + kOffCompression, oldCompression);
    // Only the picture's own entries: the rest keep the grey ramp of a fresh header block,
    // through which image text decoded later (it carries no table) is read.
    if (bitsPerPixel <= 8) {
        const std::size_t own = std::min<std::size_t>(std::size_t(std::max(picture.colourCount, 0)),
                                                      kColourTableEntries);
        std::copy(picture.colourTable.begin(),
                  picture.colourTable.begin() + std::ptrdiff_t(4 * own), h + kColourTableOffset);
    }
    headerBlock = std::move(block);
    picture.pixels.resize(std::size_t(stride) * std::size_t(height), 0);
    pixelBlock = std::make_shared<std::vector<std::uint8_t>>(std::move(picture.pixels));
}

void CBitmapHelper::adoptBuffer(const std::uint8_t* data, std::size_t size, bool withFileHeader)
{
    CBmpPicture picture;
    const bool ok =
        withFileHeader ? readBmpFile(data, size, picture) : readBmpResource(data, size, picture);
    if (ok)
        adopt(std::move(picture));
}

bool CBitmapHelper::isValid() const
{
    return headerBlock && pixelBlock && getU32(headerBlock->data() + kOffImageSize) != 0;
}

int CBitmapHelper::getWidth() const
{
    return isValid() ? static_cast<std::int32_t>(getU32(headerBlock->data() + kOffWidth)) : 0;
}

int CBitmapHelper::getHeight() const
{
    return isValid() ? static_cast<std::int32_t>(getU32(headerBlock->data() + kOffHeight)) : 0;
}

void CBitmapHelper::loadFromFile(const std::string& path)
{
    freshHeaderBlock();
    clearPicture();
    // Only plain files: opening a pipe or a device could block or never end.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return;
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file)
        return;
    const std::streamoff length = file.tellg();
    if (length <= 0 || std::uintmax_t(length) > kMaxFileBytes)
        return;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), length))
        return;
    adoptBuffer(bytes.data(), bytes.size(), true);
}

void CBitmapHelper::loadFromResource(const IResourceModule* module, int number)
{
    freshHeaderBlock();
    clearPicture();
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    if (module != nullptr && module->findBitmap(number, data, size))
        adoptBuffer(data, size, false);
}

void CBitmapHelper::attachImage(std::unique_ptr<CPlatformImage> image)
{
    freshHeaderBlock();
    clearPicture();
    if (!image || image->width < 1 || image->height < 1 || image->width > kMaxSide ||
        image->height > kMaxSide || std::int64_t(image->width) * image->height > kMaxPixels ||
        image->pixels.size() < std::size_t(image->width) * std::size_t(image->height))
        return;
    CBmpPicture picture;
    picture.width = image->width;
    picture.height = image->height;
    picture.bitsPerPixel = 24;
    const std::size_t s = std::size_t(picture.stride());
    picture.pixels.assign(s * std::size_t(picture.height), 0);
    for (int y = 0; y < picture.height; ++y) {
        std::uint8_t* row = picture.pixels.data() + std::size_t(y) * s;
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t c = image->at(x, picture.height - 1 - y);
            row[3 * x + 0] = std::uint8_t(c);
            row[3 * x + 1] = std::uint8_t(c >> 8);
            row[3 * x + 2] = std::uint8_t(c >> 16);
        }
    }
    adopt(std::move(picture));
}

int CBitmapHelper::sampleAt(int x, int y) const
{
    const std::uint8_t* row = pixelBlock->data() + std::size_t(y) * std::size_t(stride);
    return bitsPerPixel >= 8 ? row[std::size_t(x) * bytesPerPixel()]
                             : packedIndex(row, x, bitsPerPixel);
}

float CBitmapHelper::valueOfSample(int v)
{
    constexpr float k = 1.0f / 255.0f;  // the float nearest 1/255, 0.003921569
    return float((double(v) * double(k) - 0.5) * 2.0);
}

void CBitmapHelper::getValues(float* values, unsigned int capacity) const
{
    if (!isValid() || values == nullptr ||
        std::uint64_t(capacity) < std::uint64_t(width) * std::uint64_t(height))
        return;
    // Below 9 bits the sample is a colour-table index and the red component is the value.
    float lookup[256];
    for (int v = 0; v < 256; ++v)
        lookup[v] = valueOfSample(
            bitsPerPixel <= 8 ? headerBlock->data()[kColourTableOffset + 4 * std::size_t(v) + 2]
                              : v);
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y)
            values[std::size_t(x) * std::size_t(height) + std::size_t(y)] = lookup[sampleAt(x, y)];
}

void CBitmapHelper::rowColours(int y, std::uint8_t* bgr) const
{
    const std::uint8_t* row = pixelBlock->data() + std::size_t(y) * std::size_t(stride);
    if (bitsPerPixel <= 8) {
        const std::uint8_t* table = headerBlock->data() + kColourTableOffset;
        for (int x = 0; x < width; ++x)
            std::memcpy(bgr + 3 * std::size_t(x), table + 4 * std::size_t(sampleAt(x, y)), 3);
    }
    else if (bitsPerPixel == 24) {
        std::memcpy(bgr, row, 3 * std::size_t(width));
    }
    else {
        std::uint32_t masks[3];
        channelMasks(headerBlock->data(), bitsPerPixel, masks);
        widenRow(row, width, bitsPerPixel, masks, bgr);
    }
}

std::unique_ptr<CPlatformImage> CBitmapHelper::createCopy() const
{
    if (!isValid())
        return nullptr;
    auto image = std::make_unique<CPlatformImage>();
    image->width = width;
    image->height = height;
    image->pixels.resize(std::size_t(width) * std::size_t(height));
    std::vector<std::uint8_t> bgr(3 * std::size_t(width));
    for (int y = 0; y < height; ++y) {
        rowColours(y, bgr.data());
        std::uint32_t* out =
            image->pixels.data() + std::size_t(height - 1 - y) * std::size_t(width);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* c = bgr.data() + 3 * std::size_t(x);
            out[x] = 0xFF000000u | (std::uint32_t(c[2]) << 16) | (std::uint32_t(c[1]) << 8) | c[0];
        }
    }
    return image;
}

bool CBitmapHelper::saveToFile(const std::string& path) const
{
    if (!isValid() || path.empty())
        return false;
    const std::size_t imageSize = pixelBlock->size();
    std::vector<std::uint8_t> fileHeader(kFileHeaderSize, 0);
    fileHeader[0] = 'B';
    fileHeader[1] = 'M';
    putU32(fileHeader.data() + 2, std::uint32_t(kExportPixelOffset + imageSize));
    putU32(fileHeader.data() + 10, std::uint32_t(kExportPixelOffset));

    // The file is written whole beside the target and only then renamed over it: a full disk
    // or a failing device leaves the user's existing file as it was. A link is followed, so
    // the file it names is what gets replaced.
    std::error_code error;
    std::filesystem::path target(path);
    if (std::filesystem::is_symlink(target, error)) {
        target = std::filesystem::weakly_canonical(target, error);
        if (error)
            return false;
    }
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode))
        return false;
    std::string temporary = target.string() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool written = ::fchmod(fd, exists ? (info.st_mode & 07777) : 0644) == 0;
    written = written && writeAll(fd, fileHeader.data(), fileHeader.size());
    written = written && writeAll(fd, headerBlock->data(), kHeaderBlockSize);
    written = written && writeAll(fd, pixelBlock->data(), imageSize);
    written = ::fsync(fd) == 0 && written;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string CBitmapHelper::encodeImage(int& widthOut, int& heightOut) const
{
    if (!isValid())
        return std::string();
    // The payload is the info header as long as it says it is (at most the header block,
    // which decodeImage guarantees) and the whole pixel block; no colour table.
    const std::size_t headerLength =
        std::min<std::size_t>(getU32(headerBlock->data() + kOffHeaderSize), kHeaderBlockSize);
    std::vector<std::uint8_t> payload(headerBlock->begin(),
                                      headerBlock->begin() + std::ptrdiff_t(headerLength));
    payload.insert(payload.end(), pixelBlock->begin(), pixelBlock->end());
    widthOut = width;
    heightOut = height;
    return base64Encode(payload.data(), payload.size());
}

void CBitmapHelper::decodeImage(const std::string& text, int, int)
{
    const std::vector<std::uint8_t> payload = base64Decode(text);
    if (payload.size() < kInfoHeaderSize)
        return;
    // Everything the pixels depend on is checked before anything changes: a header length
    // inside both the payload and the header block, positive sizes under the cap, a depth
    // and uncompressed layout we can index, and a full stride x height of pixel bytes.
    const std::uint8_t* p = payload.data();
    const std::uint32_t headerLength = getU32(p + kOffHeaderSize);
    if (headerLength < kInfoHeaderSize || headerLength > kHeaderBlockSize ||
        headerLength > payload.size())
        return;
    const std::int64_t w = static_cast<std::int32_t>(getU32(p + kOffWidth));
    const std::int64_t h = static_cast<std::int32_t>(getU32(p + kOffHeight));
    const std::uint32_t bits = getU16(p + kOffBits);
    const std::uint32_t compression = getU32(p + kOffCompression);
    if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide || w * h > kMaxPixels || !isBmpDepth(bits))
        return;
    if (!(compression == kBiRgb || (isBitfields(compression) && (bits == 16 || bits == 32))))
        return;
    const std::size_t s = std::size_t(bmpStride(w, int(bits)));
    const std::size_t imageSize = s * std::size_t(h);
    if (imageSize > payload.size() - headerLength)
        return;

    auto block = std::make_shared<std::vector<std::uint8_t>>(*headerBlock);
    std::copy(p, p + headerLength, block->begin());
    // The size field must describe the block we keep, or export and isValid would not.
    putU32(block->data() + kOffImageSize, std::uint32_t(imageSize));
    // Bit-field text with a 40-byte header carries no masks; give it the usual ones
    // (5-6-5, or 8-8-8 at 32 bits) where drawing, conversion and export look for them.
    if (isBitfields(compression) && headerLength < kInfoHeaderSize + 12) {
        putU32(block->data() + kInfoHeaderSize + 0, bits == 16 ? 0xF800u : 0xFF0000u);
        putU32(block->data() + kInfoHeaderSize + 4, bits == 16 ? 0x07E0u : 0x00FF00u);
        putU32(block->data() + kInfoHeaderSize + 8, bits == 16 ? 0x001Fu : 0x0000FFu);
    }
    headerBlock = std::move(block);
    width = int(w);
    height = int(h);
    bitsPerPixel = int(bits);
    stride = int(s);
    pixelBlock =
        std::make_shared<std::vector<std::uint8_t>>(p + headerLength, p + headerLength + imageSize);
}

void CBitmapHelper::importArray(const float*, int, int)
{
    // The holder has no array import; the analyser's slot exists for other filter maps.
}

}  // namespace kfx
