// The filter-map picture holder. A filter map is a picture whose columns the effect scans
// over time; each pixel's 8-bit sample becomes a lattice reflection coefficient in -1..1.
// The holder keeps the picture as a BMP info header + colour table (the header block) and
// bottom-row-first, 4-byte-padded rows (the pixel block); those two blocks are the truth,
// and drawable copies are made from them on request (createCopy). All operations run on
// the user-interface thread; the audio thread only reads the analyser's derived array.
#pragma once

#include "filtermap/PlatformImage.h"
#include "filtermap/ResourceModule.h"

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kfx {

struct CBmpPicture;

/// The image interface of a filter map; slot order is part of the design.
class IBitmapHelper {
public:
    virtual ~IBitmapHelper() = default;
    /// A drawable copy of the picture (null when not valid); the caller owns it.
    virtual std::unique_ptr<CPlatformImage> createCopy() const = 0;
    virtual std::string getName() const = 0;
    virtual bool isValid() const = 0;
    /// Loads a BMP file; any failure leaves the holder not valid (never reported).
    virtual void loadFromFile(const std::string& path) = 0;
    /// Loads bitmap resource `number` found through `module` (null: not valid).
    virtual void loadFromResource(const IResourceModule* module, int number) = 0;
    /// Takes over `image` (may be null) as the new picture, stored at 24 bits per pixel.
    virtual void attachImage(std::unique_ptr<CPlatformImage> image) = 0;
    /// Writes exactly `path` as a BMP file: header block whole, pixels at offset 1082. The
    /// file is replaced only once the whole picture was written; false (old file untouched)
    /// when the holder is not valid or any step failed, so the caller can tell the user.
    virtual bool saveToFile(const std::string& path) const = 0;
    virtual int getWidth() const = 0;
    virtual int getHeight() const = 0;
    /// values[x * height + y] for pixel (x, y), y = 0 the bottom row, if capacity suffices.
    virtual void getValues(float* values, unsigned int capacity) const = 0;
    /// Base64 image text of info header + pixel block; empty text when not valid.
    virtual std::string encodeImage(int& width, int& height) const = 0;
    /// Rebuilds the picture from image text; the two numbers are not used. Text that does
    /// not describe a complete picture leaves the picture as it was.
    virtual void decodeImage(const std::string& text, int width, int height) = 0;
    virtual bool isModified() const = 0;
    virtual void rotateClockwise(int unused) = 0;
    virtual void normalize(bool perColumn) = 0;
    virtual void differences(bool absolute) = 0;
    virtual void invert() = 0;
    virtual void flip(bool vertical) = 0;
    virtual void generateRandom(double unused) = 0;
    virtual void generateMandelbrot(double shape) = 0;
    virtual void convertTo24Bit() = 0;
    virtual void importArray(const float* values, int columns, int rows) = 0;
};

class CBitmapHelper : public IBitmapHelper {
public:
    explicit CBitmapHelper(std::string name);
    ~CBitmapHelper() override;

    std::unique_ptr<CPlatformImage> createCopy() const override;
    std::string getName() const override { return name; }
    bool isValid() const override;
    void loadFromFile(const std::string& path) override;
    void loadFromResource(const IResourceModule* module, int number) override;
    void attachImage(std::unique_ptr<CPlatformImage> image) override;
    bool saveToFile(const std::string& path) const override;
    int getWidth() const override;
    int getHeight() const override;
    void getValues(float* values, unsigned int capacity) const override;
    std::string encodeImage(int& width, int& height) const override;
    void decodeImage(const std::string& text, int width, int height) override;
    bool isModified() const override { return modified; }
    void rotateClockwise(int unused) override;
    void normalize(bool perColumn) override;
    void differences(bool absolute) override;
    void invert() override;
    void flip(bool vertical) override;
    void generateRandom(double unused) override;
    void generateMandelbrot(double shape) override;
    void convertTo24Bit() override;
    void importArray(const float* values, int columns, int rows) override;

    /// Escape-time count of the fractal generator: 600 minus the iterations a point needs to
    /// leave the circle of radius 2 (0 if it never does; 600 if it starts outside). shape 0
    /// is the plain set; shape > 0 twists the orbit by its smoothed history.
    static int escape(double cu, double cv, double shape);
    /// Filter-map value of an 8-bit sample: (v * k - 0.5) * 2, k the float nearest 1/255.
    static float valueOfSample(int v);

    /// Read access for tests and the editor's drawing (both blocks are shared-owned).
    int getBitsPerPixel() const { return bitsPerPixel; }
    int getStride() const { return stride; }
    std::shared_ptr<const std::vector<std::uint8_t>> getHeaderBlock() const { return headerBlock; }
    std::shared_ptr<const std::vector<std::uint8_t>> getPixelBlock() const { return pixelBlock; }
    /// First byte of pixel (x, y) (colour-table index below 8 bits); requires isValid().
    int sampleAt(int x, int y) const;

private:
    void freshHeaderBlock();
    void clearPicture();
    /// The read-back: takes `picture` as the holder's new picture, filling the info header
    /// and, for 8 bits or fewer, the colour table from it.
    void adopt(CBmpPicture&& picture);
    void adoptBuffer(const std::uint8_t* data, std::size_t size, bool withFileHeader);
    /// True when valid at 24 bits or more, converting shallower pictures first.
    bool ensure24Bit();
    /// Blue, green, red of every pixel of row y (3 x width bytes): through the colour table
    /// up to 8 bits, through the channel masks at 16 and 32 bits.
    void rowColours(int y, std::uint8_t* bgr) const;
    std::size_t bytesPerPixel() const { return std::size_t(bitsPerPixel / 8); }
    void setAllBytes(int x, int y, std::uint8_t value);
    double normal();
    double uniform();
    bool mandelbrotAttempt(double shape);

    std::shared_ptr<std::vector<std::uint8_t>> headerBlock;  // kHeaderBlockSize bytes
    int width = 0;
    int height = 0;
    int stride = 0;
    int bitsPerPixel = 0;
    std::shared_ptr<std::vector<std::uint8_t>> pixelBlock;  // stride * height bytes
    std::string name;
    bool modified = false;

    std::mt19937 engine;
    bool hasKeptNormal = false;
    double keptRho = 0.0;
    double keptAngle = 0.0;
};

}  // namespace kfx
