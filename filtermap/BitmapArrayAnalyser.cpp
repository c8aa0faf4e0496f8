// Filter-map analyser: value array and scan-window column read-out.
#include "filtermap/BitmapArrayAnalyser.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace kfx {

namespace {

// Nearest integer, halves to even, with non-finite and huge products pinned so that no
// setting can produce an undefined conversion.
long roundClamped(double v)
{
    if (!(v == v))
        return 0;
    if (v > 1e9)
        return 1000000000L;
    if (v < -1e9)
        return -1000000000L;
    return std::lrint(v);
}

}  // namespace

CBitmapArrayAnalyser::CBitmapArrayAnalyser(std::string name_)
    : name(std::move(name_)), helper("BitmapHelper")
{
}

CBitmapArrayAnalyser::~CBitmapArrayAnalyser() = default;

void CBitmapArrayAnalyser::analyse()
{
    const int w = helper.getWidth();
    const int h = helper.getHeight();
    const std::uint64_t count = std::uint64_t(w) * std::uint64_t(h);
    if (count * sizeof(float) > std::numeric_limits<std::uint32_t>::max())
        throw std::bad_alloc();
    std::unique_ptr<float[]> fresh;
    if (count > 0) {
        fresh.reset(new float[std::size_t(count)]);
        helper.getValues(fresh.get(), unsigned(count));
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        values.swap(fresh);
        width = w;
        height = h;
        arrayWidth.store(values && h > 0 ? w : 0, std::memory_order_release);
    }
    // The previous array is released here, outside the lock.
}

void CBitmapArrayAnalyser::getColumn(float* destination, int count, float)
{
    std::lock_guard<std::mutex> guard(lock);
    copyColumn(destination, count);
}

bool CBitmapArrayAnalyser::tryGetColumn(float* destination, int count)
{
    std::unique_lock<std::mutex> guard(lock, std::try_to_lock);
    if (!guard.owns_lock())
        return false;
    copyColumn(destination, count);
    return true;
}

void CBitmapArrayAnalyser::copyColumn(float* destination, int count)
{
    if (destination == nullptr || width <= 0 || height <= 0 || !values)
        return;
    const float w = float(width);
    const float h = float(height);
    const long startColumn = roundClamped(loopStart.load(std::memory_order_relaxed) * w);
    const long stopColumn = roundClamped(loopStop.load(std::memory_order_relaxed) * w);
    const long length = stopColumn - startColumn;
    long column = startColumn +
                  roundClamped(double(scanIndex.load(std::memory_order_relaxed) * float(length)));
    // Keep every read inside the array: the column into the picture, the row offset in
    // 0..height (a NaN offset counts as 0), so the count is never negative.
    column = column < 0 ? 0 : (column >= width ? width - 1 : column);
    long rowOffset = 0;
    if (analysis.load(std::memory_order_relaxed) < 0.5f) {
        const double r = std::floor(double(verticalOffset.load(std::memory_order_relaxed) * h));
        rowOffset = r > 0.0 ? long(r < h ? r : h) : 0;
    }
    long n = long(height) - rowOffset;
    n = count < n ? count : n;
    if (n <= 0)
        return;
    std::memcpy(destination,
                values.get() + std::size_t(column) * std::size_t(height) + std::size_t(rowOffset),
                std::size_t(n) * sizeof(float));
}

#define SKV_FORWARD_AND_ANALYSE(call)                                                              \
    do {                                                                                           \
        helper.call;                                                                               \
        analyse();                                                                                 \
    } while (false)

void CBitmapArrayAnalyser::loadFromFile(const std::string& path)
{
    SKV_FORWARD_AND_ANALYSE(loadFromFile(path));
}
void CBitmapArrayAnalyser::loadFromResource(const IResourceModule* module, int number)
{
    SKV_FORWARD_AND_ANALYSE(loadFromResource(module, number));
}
void CBitmapArrayAnalyser::attachImage(std::unique_ptr<CPlatformImage> image)
{
    SKV_FORWARD_AND_ANALYSE(attachImage(std::move(image)));
}
void CBitmapArrayAnalyser::decodeImage(const std::string& text, int w, int h)
{
    // Text that is refused (empty, as every program selection without picture text gives)
    // leaves the picture, and so the array, as it was: no need to rebuild it.
    const auto before = helper.getPixelBlock();
    helper.decodeImage(text, w, h);
    if (helper.getPixelBlock() != before)
        analyse();
}
void CBitmapArrayAnalyser::rotateClockwise(int unused)
{
    SKV_FORWARD_AND_ANALYSE(rotateClockwise(unused));
}
void CBitmapArrayAnalyser::normalize(bool perColumn)
{
    SKV_FORWARD_AND_ANALYSE(normalize(perColumn));
}
void CBitmapArrayAnalyser::differences(bool absolute)
{
    SKV_FORWARD_AND_ANALYSE(differences(absolute));
}
void CBitmapArrayAnalyser::invert()
{
    SKV_FORWARD_AND_ANALYSE(invert());
}
void CBitmapArrayAnalyser::flip(bool vertical)
{
    SKV_FORWARD_AND_ANALYSE(flip(vertical));
}
void CBitmapArrayAnalyser::generateRandom(double unused)
{
    SKV_FORWARD_AND_ANALYSE(generateRandom(unused));
}
void CBitmapArrayAnalyser::generateMandelbrot(double shape)
{
    SKV_FORWARD_AND_ANALYSE(generateMandelbrot(shape));
}
void CBitmapArrayAnalyser::convertTo24Bit()
{
    SKV_FORWARD_AND_ANALYSE(convertTo24Bit());
}
void CBitmapArrayAnalyser::importArray(const float* array, int columns, int rows)
{
    SKV_FORWARD_AND_ANALYSE(importArray(array, columns, rows));
}

#undef SKV_FORWARD_AND_ANALYSE

}  // namespace kfx
