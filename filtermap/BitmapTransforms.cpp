// Generators and transforms of the picture holder. They work on the pixel block (the
// holder's truth), write their result into every byte of a pixel (so 24-bit pictures
// become grey) and set the modified flag as each operation's contract says.
#include "filtermap/BitmapHelper.h"

#include "filtermap/BmpReader.h"
#include "filtermap/FilterMapConfig.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kfx {

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

// A same-depth copy of the holder's picture description, pixels to be filled in.
CBmpPicture blankLike(int width, int height, int bits, const std::vector<std::uint8_t>& header)
{
    CBmpPicture picture;
    picture.width = width;
    picture.height = height;
    picture.bitsPerPixel = bits;
    std::memcpy(picture.colourTable.data(), header.data() + kColourTableOffset,
                picture.colourTable.size());
    picture.pixels.assign(std::size_t(picture.stride()) * std::size_t(height), 0);
    return picture;
}

}  // namespace

double CBitmapHelper::uniform()
{
    return double(engine()) * (1.0 / 4294967296.0);
}

// Normal deviate, mean 0 and standard deviation 2, made in pairs (Box-Muller): the
// second value of a pair is kept for the next call, across operations.
double CBitmapHelper::normal()
{
    constexpr double mean = 0.0, sigma = 2.0;
    if (hasKeptNormal) {
        hasKeptNormal = false;
        return mean + sigma * keptRho * std::sin(kTwoPi * keptAngle);
    }
    keptAngle = uniform();
    const double u2 = uniform();
    keptRho = std::sqrt(-2.0 * std::log(1.0 - u2));
    hasKeptNormal = true;
    return mean + sigma * keptRho * std::cos(kTwoPi * keptAngle);
}

void CBitmapHelper::setAllBytes(int x, int y, std::uint8_t value)
{
    const std::size_t n = bytesPerPixel();
    std::uint8_t* p =
        pixelBlock->data() + std::size_t(y) * std::size_t(stride) + std::size_t(x) * n;
    std::memset(p, value, n);
}

bool CBitmapHelper::ensure24Bit()
{
    // Checked first: converting an invalid holder would set the modified flag.
    if (!isValid())
        return false;
    if (bitsPerPixel < 24)
        convertTo24Bit();
    return bitsPerPixel >= 24;
}

int CBitmapHelper::escape(double cu, double cv, double shape)
{
    double x = cu, y = cv, sx = 0.0, sy = 0.0;
    int n = 0;
    if (x * x + y * y > 4.0)
        return kEscapeIterations;
    while (n < kEscapeIterations) {
        double xn = x * x - y * y + cu;
        double yn = 2.0 * x * y + cv;
        if (shape > 0.0) {
            sx = sx + (xn - sx) * 0.1;
            sy = sy + (yn - sy) * 0.1;
            xn = xn - (1.0 - shape) * sy;
            yn = yn + (1.0 - shape) * sx;
        }
        ++n;
        const double r = xn * xn + yn * yn;
        if (r > 4.0 || std::isnan(r))
            return kEscapeIterations - n;
        x = xn;
        y = yn;
    }
    return kEscapeIterations - n;
}

void CBitmapHelper::convertTo24Bit()
{
    modified = true;
    if (!isValid())
        return;
    CBmpPicture picture = blankLike(width, height, 24, *headerBlock);
    const std::size_t s = std::size_t(picture.stride());
    for (int y = 0; y < height; ++y)
        rowColours(y, picture.pixels.data() + std::size_t(y) * s);
    adopt(std::move(picture));  // 24 bits: the header block's colour table stays as it was
}

void CBitmapHelper::normalize(bool perColumn)
{
    if (!ensure24Bit())
        return;
    auto stretch = [this](int x0, int x1) {
        int max = 0, min = 255;
        for (int x = x0; x < x1; ++x)
            for (int y = 0; y < height; ++y) {
                const int s = sampleAt(x, y);
                max = s > max ? s : max;
                min = s < min ? s : min;
            }
        // Equal extremes give an infinite scale whose product is not a number: 0.
        const float scale = max > min ? 255.0f / float(max - min) : 0.0f;
        for (int x = x0; x < x1; ++x)
            for (int y = 0; y < height; ++y) {
                const long v = max > min ? std::lrint(scale * float(sampleAt(x, y) - min)) : 0;
                setAllBytes(x, y, std::uint8_t(v & 0xFF));
            }
    };
    if (perColumn) {
        for (int x = 0; x < width; ++x)
            stretch(x, x + 1);
    }
    else {
        stretch(0, width);
    }
    modified = true;
}

void CBitmapHelper::differences(bool absolute)
{
    if (!ensure24Bit())
        return;
    for (int x = 0; x < width; ++x) {
        int prev = 0;  // the bottom row is compared with 0
        for (int y = 0; y < height; ++y) {
            const int s = sampleAt(x, y);
            const int d = s - prev;
            long v;
            if (absolute) {
                v = 2 * std::abs(d);
                v = v > 255 ? 255 : v;
            }
            else {
                v = std::lrint((d + 255) * 0.5);  // halves to even: -255 -> 0, 0 -> 128
            }
            setAllBytes(x, y, std::uint8_t(v));
            prev = s;
        }
    }
    modified = true;
}

void CBitmapHelper::invert()
{
    if (!ensure24Bit())
        return;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            setAllBytes(x, y, std::uint8_t(255 - sampleAt(x, y)));
    modified = true;
}

void CBitmapHelper::flip(bool vertical)
{
    modified = true;
    if (!isValid())
        return;
    CBmpPicture picture = blankLike(width, height, bitsPerPixel, *headerBlock);
    const std::size_t s = std::size_t(stride);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src =
            pixelBlock->data() + std::size_t(vertical ? height - 1 - y : y) * s;
        std::uint8_t* dst = picture.pixels.data() + std::size_t(y) * s;
        if (vertical) {
            std::memcpy(dst, src, s);
        }
        else if (bitsPerPixel >= 8) {
            const std::size_t n = bytesPerPixel();
            for (int x = 0; x < width; ++x)
                std::memcpy(dst + std::size_t(x) * n, src + std::size_t(width - 1 - x) * n, n);
        }
        else {
            for (int x = 0; x < width; ++x)
                setPackedIndex(dst, x, bitsPerPixel,
                               std::uint32_t(packedIndex(src, width - 1 - x, bitsPerPixel)));
        }
    }
    adopt(std::move(picture));
}

void CBitmapHelper::rotateClockwise(int)
{
    modified = true;
    if (!ensure24Bit())
        return;
    // Old pixel (x, y) goes to (y, oldWidth - 1 - x): the old left column becomes the top row.
    CBmpPicture picture = blankLike(height, width, bitsPerPixel, *headerBlock);
    const std::size_t n = bytesPerPixel();
    const std::size_t newStride = std::size_t(picture.stride());
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = pixelBlock->data() + std::size_t(y) * std::size_t(stride);
        for (int x = 0; x < width; ++x) {
            std::uint8_t* dst =
                picture.pixels.data() + std::size_t(width - 1 - x) * newStride + std::size_t(y) * n;
            std::memcpy(dst, src + std::size_t(x) * n, n);
        }
    }
    adopt(std::move(picture));
}

void CBitmapHelper::generateRandom(double)
{
    modified = true;
    if (!isValid())
        return;
    for (int y = 0; y < height; ++y) {
        if (bitsPerPixel >= 8) {
            for (int x = 0; x < width; ++x) {
                double v;
                do {
                    v = 0.15 * normal();
                } while (v < 0.0);  // half-normal, scale 0.3
                long level = std::lrint(v * 255.0);
                level = level > 255 ? 255 : level;
                setAllBytes(x, y, std::uint8_t(level));
            }
        }
        else {
            std::uint8_t* row = pixelBlock->data() + std::size_t(y) * std::size_t(stride);
            for (int i = 0; i < stride; ++i)
                row[i] = std::uint8_t(std::rand() % 255);
        }
    }
}

bool CBitmapHelper::mandelbrotAttempt(double shape)
{
    const float a = float(0.5 * normal());
    const float b = float(0.5 * normal());
    const float c = float(0.05 * normal());
    int last = 0, changes = 0;
    for (int i = 0; i < height; ++i) {
        for (int k = 0; k < width; ++k) {
            const double cu = double(a) + double(c) * k / width;
            const double cv = double(b) + double(c) * i / height;
            const int h = escape(cu, cv, shape);
            setAllBytes(k, i, std::uint8_t(h % 256));
            if (std::abs(h - last) > 5) {
                ++changes;
                last = h;
            }
        }
    }
    return changes > 10;
}

void CBitmapHelper::generateMandelbrot(double shape)
{
    // Pictures that cannot show more than ten changes are refused rather than retried for
    // ever; a run of failed attempts gives the old pixels back.
    if (!isValid() || bitsPerPixel < 8 || std::int64_t(width) * height <= 10)
        return;
    const std::vector<std::uint8_t> original = *pixelBlock;
    for (int attempt = 0; attempt < kMandelbrotMaxAttempts; ++attempt) {
        if (mandelbrotAttempt(shape)) {
            normalize(false);
            modified = true;
            return;
        }
    }
    *pixelBlock = original;
}

}  // namespace kfx
