// The BMP reader against files written by third-party programs (MANIFEST.tsv lists each
// file's size, depth and known pixels) and against broken and hostile files.
#include "filtermap/BitmapHelper.h"
#include "filtermap/BmpReader.h"
#include "filtermap/FilterMapConfig.h"

#include "TestBmp.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>
#include <sstream>

using namespace skvtest;

namespace {

const std::string kCorpus = std::string(SKV_TESTDATA_DIR) + "/bmp/";

struct CManifestLine {
    std::string file;
    int width, height, bpp;
    std::string samples;
};

std::vector<CManifestLine> readManifest()
{
    std::vector<CManifestLine> lines;
    std::ifstream in(kCorpus + "MANIFEST.tsv");
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string col;
        while (std::getline(ss, col, '\t'))
            cols.push_back(col);
        if (cols.size() < 15)
            continue;
        lines.push_back(
            {cols[0], std::stoi(cols[4]), std::stoi(cols[5]), std::stoi(cols[6]), cols[14]});
    }
    return lines;
}

bool readFileBytes(const std::vector<std::uint8_t>& bytes, kfx::CBmpPicture& pic)
{
    // An exact-size heap copy, so that any read past the end is seen by the sanitizer.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return kfx::readBmpFile(copy.get(), bytes.size(), pic);
}

std::vector<std::uint8_t> smallValid8()
{
    std::vector<std::uint8_t> table;
    for (int i = 0; i < 4; ++i)
        table.insert(table.end(),
                     {std::uint8_t(10 * i), std::uint8_t(20 * i), std::uint8_t(30 * i + 5), 0});
    return makeBmp(3, 2, 8, {0, 1, 2, 0, 3, 2, 1, 0}, table);
}

// Whether the reader takes `bytes`; a holder that had a picture and is then given the same
// bytes as a user's file must agree (refused files leave it not valid).
bool accepts(const std::vector<std::uint8_t>& bytes)
{
    kfx::CBmpPicture pic;
    const bool read = readFileBytes(bytes, pic);
    kfx::CBitmapHelper holder("h");
    loadBytes(holder, smallValid8());
    loadBytes(holder, bytes);
    EXPECT_EQ(holder.isValid(), read);
    if (!read) {
        EXPECT_EQ(holder.getWidth(), 0);
        int w = 0, h = 0;
        EXPECT_EQ(holder.encodeImage(w, h), "");
    }
    return read;
}

}  // namespace

TEST(BmpReader, EveryCorpusFileLoadsWithItsSizeAndKnownPixels)
{
    const auto manifest = readManifest();
    ASSERT_EQ(manifest.size(), 70u);
    const std::regex sample(R"(\((\d+),(\d+)\)→(\d+),(\d+),(\d+)(?: i=(\d+))?)");
    for (const auto& m : manifest) {
        SCOPED_TRACE(m.file);
        kfx::CBitmapHelper holder("corpus");
        holder.loadFromFile(kCorpus + m.file);
        ASSERT_TRUE(holder.isValid());
        EXPECT_EQ(holder.getWidth(), m.width);
        EXPECT_EQ(holder.getHeight(), m.height);
        // Up to 8 bits the depth and table are kept; deeper files are held at 24 bits.
        EXPECT_EQ(holder.getBitsPerPixel(), m.bpp <= 8 ? m.bpp : 24);
        EXPECT_EQ(holder.getStride(), strideOf(m.width, holder.getBitsPerPixel()));
        int checked = 0;
        for (std::sregex_iterator it(m.samples.begin(), m.samples.end(), sample), end; it != end;
             ++it, ++checked) {
            const int x = std::stoi((*it)[1]), y = std::stoi((*it)[2]);
            const int b = std::stoi((*it)[3]), g = std::stoi((*it)[4]), r = std::stoi((*it)[5]);
            SCOPED_TRACE("pixel " + std::to_string(x) + "," + std::to_string(y));
            const auto& header = *holder.getHeaderBlock();
            const int s = holder.sampleAt(x, y);
            float expected;
            if (m.bpp <= 8) {
                if ((*it)[6].matched) {
                    EXPECT_EQ(s, std::stoi((*it)[6]));
                }
                EXPECT_EQ(header[40 + 4 * std::size_t(s) + 0], b);
                EXPECT_EQ(header[40 + 4 * std::size_t(s) + 1], g);
                EXPECT_EQ(header[40 + 4 * std::size_t(s) + 2], r);
                expected = expectedValue(r);
            }
            else {
                EXPECT_EQ(rawByte(holder, x, y, 0), b);
                EXPECT_EQ(rawByte(holder, x, y, 1), g);
                EXPECT_EQ(rawByte(holder, x, y, 2), r);
                expected = expectedValue(b);
            }
            std::vector<float> values(std::size_t(m.width) * std::size_t(m.height));
            holder.getValues(values.data(), unsigned(values.size()));
            EXPECT_EQ(values[std::size_t(x) * std::size_t(m.height) + std::size_t(y)], expected);
        }
        EXPECT_GE(checked, 4);
    }
}

TEST(BmpReader, CorpusFilesRoundTripThroughExportWithIdenticalPixels)
{
    for (const auto& m : readManifest()) {
        SCOPED_TRACE(m.file);
        kfx::CBitmapHelper a("a"), b("b");
        a.loadFromFile(kCorpus + m.file);
        const auto path = tempPath("corpus_roundtrip.bmp");
        a.saveToFile(path.string());
        b.loadFromFile(path.string());
        std::filesystem::remove(path);
        ASSERT_TRUE(b.isValid());
        EXPECT_EQ(*a.getPixelBlock(), *b.getPixelBlock());
        EXPECT_EQ(*a.getHeaderBlock(), *b.getHeaderBlock());
    }
}

TEST(BmpReader, ResourceFormIsTheFileWithoutItsFileHeader)
{
    const auto file = smallValid8();
    kfx::CBmpPicture fromFile, fromResource;
    ASSERT_TRUE(kfx::readBmpFile(file.data(), file.size(), fromFile));
    ASSERT_TRUE(kfx::readBmpResource(file.data() + 14, file.size() - 14, fromResource));
    EXPECT_EQ(fromFile.pixels, fromResource.pixels);
    EXPECT_EQ(fromFile.colourTable, fromResource.colourTable);
    EXPECT_EQ(fromFile.pixels, (std::vector<std::uint8_t>{0, 1, 2, 0, 3, 2, 1, 0}));
}

TEST(BmpReader, ShortTablesAndDeltasAndEndOfBitmapEarly)
{
    // RLE8 3x4: row 0 "5 5 5" as a run, EOL, delta (0, 1) to (0, 2), absolute "7 8 9"
    // (padded to 16 bits), EOB before the last row: untouched pixels stay index 0.
    std::vector<std::uint8_t> table(4 * 9, 0);
    std::vector<std::uint8_t> rle = {3, 5, 0, 0, 0, 2, 0, 1, 0, 3, 7, 8, 9, 0, 0, 1};
    auto f = makeBmp(3, 4, 8, rle, table, 1);
    kfx::CBmpPicture pic;
    ASSERT_TRUE(readFileBytes(f, pic));
    EXPECT_EQ(pic.pixels,
              (std::vector<std::uint8_t>{5, 5, 5, 0, 0, 0, 0, 0, 7, 8, 9, 0, 0, 0, 0, 0}));
    // RLE4 5x1: run of 5 alternating nibbles 1,2 then EOB.
    auto f4 = makeBmp(5, 1, 4, {5, 0x12, 0, 1}, std::vector<std::uint8_t>(4 * 16, 0), 2);
    ASSERT_TRUE(readFileBytes(f4, pic));
    EXPECT_EQ(pic.pixels[0], 0x12);
    EXPECT_EQ(pic.pixels[1], 0x12);
    EXPECT_EQ(pic.pixels[2], 0x10);
}

TEST(BmpReader, BrokenAndHostileFilesAreRefused)
{
    const auto good = smallValid8();
    ASSERT_TRUE(accepts(good));
    auto with = [&](std::size_t at, std::uint32_t value, int bytes = 4) {
        auto f = good;
        if (bytes == 4)
            putU32(f.data() + at, value);
        else
            putU16(f.data() + at, value);
        return f;
    };
    EXPECT_FALSE(accepts({}));
    EXPECT_FALSE(accepts({'B'}));
    EXPECT_FALSE(accepts({'B', 'M'}));
    auto notBmp = good;
    notBmp[0] = 'P';
    notBmp[1] = 'K';
    EXPECT_FALSE(accepts(notBmp));
    EXPECT_FALSE(accepts(with(18, 0)));            // zero width
    EXPECT_FALSE(accepts(with(18, 0xFFFFFFFDu)));  // negative width
    EXPECT_FALSE(accepts(with(22, 0)));            // zero height
    EXPECT_FALSE(accepts(with(22, 0x80000000u)));  // height whose negation overflows
    EXPECT_FALSE(accepts(with(18, 40000)));        // side over the cap
    auto huge = with(18, 20000);
    putU32(huge.data() + 22, 20000);  // 4e8 pixels, each side allowed
    EXPECT_FALSE(accepts(huge));
    for (std::uint32_t bits : {0u, 3u, 5u, 7u, 12u, 64u, 0xFFFFu})
        EXPECT_FALSE(accepts(with(28, bits, 2))) << bits;
    for (std::uint32_t size : {0u, 11u, 13u, 39u, 2000u, 0xFFFFFFFFu})
        EXPECT_FALSE(accepts(with(14, size))) << size;
    for (std::uint32_t compression : {2u, 3u, 4u, 5u, 6u, 99u})
        EXPECT_FALSE(accepts(with(30, compression)))
            << compression;                                       // none fits an 8-bit BI_RGB body
    EXPECT_FALSE(accepts(with(10, std::uint32_t(good.size()))));  // pixels at the very end
    EXPECT_FALSE(accepts(with(10, 0xFFFFFFF0u)));
    EXPECT_TRUE(accepts(with(46, 0xFFFFFFFFu)));  // absurd biClrUsed: capped at 2^8
    EXPECT_FALSE(accepts(with(10, 20)));          // pixels inside the info header
    EXPECT_FALSE(accepts(with(10, 14 + 40 - 1)));
    EXPECT_TRUE(accepts(with(10, 14 + 40 + 4)));  // a one-entry table, then pixels
    EXPECT_FALSE(accepts(with(10, 14 + 40)));     // indices but no colour table
    EXPECT_FALSE(
        accepts(makeBmp(3, 2, 8, {0, 1, 2, 0, 3, 2, 1, 0})));  // the same without biClrUsed
    // Truncated anywhere before the last row's pixels.
    for (std::size_t n = 0; n + 1 < good.size(); ++n) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + std::ptrdiff_t(n));
        EXPECT_FALSE(accepts(cut)) << n;
    }
}

TEST(BmpReader, RleOverrunsAndTruncationAreRefused)
{
    const std::vector<std::uint8_t> table(4 * 256, 0);
    auto rle8 = [&](const std::vector<std::uint8_t>& body, int height = 2) {
        return makeBmp(4, height, 8, body, table, 1);
    };
    EXPECT_TRUE(accepts(rle8({4, 1, 0, 0, 4, 2, 0, 1})));
    EXPECT_FALSE(accepts(rle8({5, 1, 0, 1})));  // run past the right edge
    EXPECT_FALSE(accepts(rle8({255, 1, 0, 1})));
    EXPECT_FALSE(accepts(rle8({0, 5, 1, 2, 3, 4, 5, 0})));  // absolute run past the edge
    EXPECT_FALSE(accepts(rle8({0, 4, 1, 2})));              // absolute run cut short
    EXPECT_FALSE(accepts(rle8({0, 2, 5, 0})));              // delta below the picture
    EXPECT_FALSE(accepts(rle8({0, 2, 9, 0})));              // delta past the right edge
    EXPECT_FALSE(accepts(rle8({4, 1, 0})));                 // stream ends mid-escape
    EXPECT_FALSE(accepts(rle8({4, 1})));                    // stream ends before the last row
    auto topDown = rle8({4, 1, 0, 0, 4, 2, 0, 1});
    putU32(topDown.data() + 22, std::uint32_t(-2));
    EXPECT_FALSE(accepts(topDown));
    EXPECT_FALSE(accepts(makeBmp(3, 1, 4, {4, 0x11, 0, 1}, table, 2)));  // RLE4 overrun
}

TEST(BmpReader, BitfieldFilesWithoutTheirMasksAreRefused)
{
    // 16-bit BI_BITFIELDS with a 40-byte header needs 12 mask bytes after the header.
    auto f = makeBmp(1, 1, 16, {}, {}, 3);
    f.resize(14 + 40 + 6);
    putU32(f.data() + 10, std::uint32_t(f.size() - 2));
    EXPECT_FALSE(accepts(f));
}

TEST(BmpReader, MutatedCorpusFilesNeverReadOutsideTheirBuffers)
{
    std::mt19937 rng(1234);
    int accepted = 0;
    for (const auto& m : readManifest()) {
        if (m.width * m.height > 4096)
            continue;
        const auto original = readFile(kCorpus + m.file);
        for (int round = 0; round < 60; ++round) {
            auto f = original;
            const int flips = 1 + int(rng() % 4);
            for (int i = 0; i < flips; ++i)
                f[rng() % std::min<std::size_t>(f.size(), 80 + (round % 3) * 2000)] =
                    std::uint8_t(rng());
            if (round % 5 == 0)
                f.resize(rng() % f.size());
            kfx::CBmpPicture pic;
            if (readFileBytes(f, pic)) {
                ++accepted;
                ASSERT_LE(std::int64_t(pic.width) * pic.height, kfx::kMaxPixels);
                ASSERT_EQ(pic.pixels.size(), std::size_t(pic.stride()) * std::size_t(pic.height));
            }
        }
    }
    EXPECT_GT(accepted, 0);
}
