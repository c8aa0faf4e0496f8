// The filter map of one channel as the effect and the editor see it: forwards every image
// operation to its own holder, rebuilds an array of filter-map values after each change,
// and hands the audio thread one column at a time from a scan window. The array swap and
// the column read share one plain mutex; everything else is lock-free plain values.
#pragma once

#include "filtermap/BitmapHelper.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace kfx {

/// The scan interface (slot order is part of the design). Setters and getters only store
/// and return: no lock, no clamping; getColumn keeps every read inside the array.
class IBitmapAnalyserInfo {
public:
    virtual ~IBitmapAnalyserInfo() = default;
    virtual void setLoopStart(float value) = 0;
    virtual float getLoopStart() const = 0;
    virtual void setLoopStop(float value) = 0;
    virtual float getLoopStop() const = 0;
    virtual void setScanIndex(float value) = 0;
    virtual float getScanIndex() const = 0;
    virtual void setVerticalOffset(float value) = 0;
    virtual float getVerticalOffset() const = 0;
    virtual void setAnalysis(float value) = 0;
    virtual float getAnalysis() const = 0;
    /// Audio thread: copies up to `count` values of the current column into `destination`;
    /// elements not copied keep their contents. `position` is not read.
    virtual void getColumn(float* destination, int count, float position) = 0;
};

class CBitmapArrayAnalyser : public IBitmapHelper, public IBitmapAnalyserInfo {
public:
    explicit CBitmapArrayAnalyser(std::string name);
    ~CBitmapArrayAnalyser() override;

    /// IBitmapHelper, forwarded to the holder; changes are followed by analyse().
    std::unique_ptr<CPlatformImage> createCopy() const override { return helper.createCopy(); }
    std::string getName() const override { return name; }
    bool isValid() const override { return helper.isValid(); }
    void loadFromFile(const std::string& path) override;
    void loadFromResource(const IResourceModule* module, int number) override;
    void attachImage(std::unique_ptr<CPlatformImage> image) override;
    bool saveToFile(const std::string& path) const override { return helper.saveToFile(path); }
    int getWidth() const override { return helper.getWidth(); }
    int getHeight() const override { return helper.getHeight(); }
    void getValues(float* values, unsigned int capacity) const override
    {
        helper.getValues(values, capacity);
    }
    std::string encodeImage(int& width, int& height) const override
    {
        return helper.encodeImage(width, height);
    }
    void decodeImage(const std::string& text, int width, int height) override;
    bool isModified() const override { return helper.isModified(); }
    void rotateClockwise(int unused) override;
    void normalize(bool perColumn) override;
    void differences(bool absolute) override;
    void invert() override;
    void flip(bool vertical) override;
    void generateRandom(double unused) override;
    void generateMandelbrot(double shape) override;
    void convertTo24Bit() override;
    void importArray(const float* values, int columns, int rows) override;
    /// Rebuilds the value array from the holder (user-interface thread). The new array is
    /// allocated and filled before the lock is taken; only the swap happens under it.
    /// Throws std::bad_alloc on failure, keeping the previous array.
    virtual void analyse();

    /// IBitmapAnalyserInfo
    void setLoopStart(float value) override { loopStart.store(value, std::memory_order_relaxed); }
    float getLoopStart() const override { return loopStart.load(std::memory_order_relaxed); }
    void setLoopStop(float value) override { loopStop.store(value, std::memory_order_relaxed); }
    float getLoopStop() const override { return loopStop.load(std::memory_order_relaxed); }
    void setScanIndex(float value) override { scanIndex.store(value, std::memory_order_relaxed); }
    float getScanIndex() const override { return scanIndex.load(std::memory_order_relaxed); }
    void setVerticalOffset(float value) override
    {
        verticalOffset.store(value, std::memory_order_relaxed);
    }
    float getVerticalOffset() const override
    {
        return verticalOffset.load(std::memory_order_relaxed);
    }
    void setAnalysis(float value) override { analysis.store(value, std::memory_order_relaxed); }
    float getAnalysis() const override { return analysis.load(std::memory_order_relaxed); }
    void getColumn(float* destination, int count, float position) override;
    /// getColumn for the audio thread, which must never wait: when the user-interface thread
    /// is swapping in a new array at this moment, answers false and leaves destination as it
    /// was (the previous column plays on for one more scan step).
    bool tryGetColumn(float* destination, int count);

    /// Audio thread: whether the value array holds a picture, and its width in columns, as of
    /// the last analyse(). isValid() and getWidth() read the holder, which the editor's thread
    /// may be replacing at that moment (its blocks can be freed under the reader); these read
    /// only what analyse() published.
    bool hasArray() const { return arrayWidth.load(std::memory_order_acquire) > 0; }
    int getArrayWidth() const { return arrayWidth.load(std::memory_order_acquire); }

    /// The holder itself, for callers that need its extra read access (tests, drawing).
    const CBitmapHelper& getHelper() const { return helper; }

private:
    /// The column at the scan window's current index into destination; the caller holds lock.
    void copyColumn(float* destination, int count);
    int width = 0;  // of the array, under the lock
    int height = 0;
    std::mutex lock;
    std::string name;
    /// Plain values shared by both threads; atomics only so that the unlocked access
    /// between the threads is well defined (relaxed order, no extra cost on x86).
    std::atomic<float> loopStart{0.0f};
    std::atomic<float> loopStop{1.0f};
    std::atomic<float> scanIndex{0.0f};
    std::atomic<float> verticalOffset{0.0f};
    std::atomic<float> analysis{0.0f};
    std::atomic<int> arrayWidth{0};  // width of `values`, 0 while there is no array
    CBitmapHelper helper;
    std::unique_ptr<float[]> values;
};

}  // namespace kfx
