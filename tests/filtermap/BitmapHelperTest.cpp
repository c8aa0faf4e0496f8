// The picture holder: export layout, values, image text, drawable copies, failures.
#include "filtermap/Base64.h"
#include "filtermap/BitmapHelper.h"

#include "TestBmp.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <iterator>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace skvtest;

namespace {

// The same value rule written out independently: k is the float nearest 1/255.
// A 4-bit picture 5x2 with a 3-entry table whose red never equals its index.
std::vector<std::uint8_t> make4Bit()
{
    const std::vector<std::uint8_t> table = {1, 2, 200, 0, 3, 4, 30, 0, 5, 6, 255, 0};
    // Row 0: indices 0 1 2 0 1; row 1: 2 2 1 0 0 (two nibbles a byte, rows padded to 4).
    return makeBmp(5, 2, 4, {0x01, 0x20, 0x10, 0, 0x22, 0x10, 0x00, 0}, table);
}

}  // namespace

TEST(BitmapHelper, FreshHolderIsNotValid)
{
    kfx::CBitmapHelper h("name");
    EXPECT_FALSE(h.isValid());
    EXPECT_EQ(h.getWidth(), 0);
    EXPECT_EQ(h.getHeight(), 0);
    int w = 7, ht = 9;
    EXPECT_EQ(h.encodeImage(w, ht), "");
    EXPECT_EQ(w, 7);
    EXPECT_EQ(ht, 9);
    EXPECT_EQ(h.getName(), "name");
    EXPECT_FALSE(h.isModified());
    EXPECT_EQ(h.createCopy(), nullptr);
    // The fresh header block is zero but for a grey-ramp colour table.
    const auto& block = *h.getHeaderBlock();
    ASSERT_EQ(block.size(), 1068u);
    EXPECT_EQ(block[40 + 4 * 77 + 2], 77);
    EXPECT_EQ(block[40 + 4 * 255 + 0], 255);
    EXPECT_EQ(block[0], 0);
}

TEST(BitmapHelper, OneByOne24BitExportIs1086BytesWithPixelsAt1082)
{
    kfx::CBitmapHelper h("h");
    loadBytes(h, make24(1, 1, [](int, int) { return 0x123456u; }));
    ASSERT_TRUE(h.isValid());
    const auto path = tempPath("one.bmp");
    h.saveToFile(path.string());
    const auto f = readFile(path);
    std::filesystem::remove(path);
    ASSERT_EQ(f.size(), 1086u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(getU32(f.data() + 2), 1086u);
    EXPECT_EQ(getU32(f.data() + 6), 0u);
    EXPECT_EQ(getU32(f.data() + 10), 1082u);
    EXPECT_EQ(getU32(f.data() + 14), 40u);  // info header size
    EXPECT_EQ(getU32(f.data() + 18), 1u);
    EXPECT_EQ(getU32(f.data() + 22), 1u);
    EXPECT_EQ(f[26], 1);                          // planes
    EXPECT_EQ(f[28], 24);                         // bits
    EXPECT_EQ(getU32(f.data() + 30), 0u);         // compression
    EXPECT_EQ(getU32(f.data() + 34), 4u);         // image size
    EXPECT_EQ(f[14 + 40 + 4 * 200 + 1], 200);     // the grey ramp sits in the file even at 24 bits
    EXPECT_EQ(getU32(f.data() + 14 + 1064), 0u);  // spare bytes
    EXPECT_EQ(f[1082], 0x56);
    EXPECT_EQ(f[1083], 0x34);
    EXPECT_EQ(f[1084], 0x12);
    EXPECT_EQ(f[1085], 0);
}

TEST(BitmapHelper, ExportAndReloadKeepPixelsAtEveryDepth)
{
    for (int bits : {1, 2, 4, 8, 24}) {
        SCOPED_TRACE(bits);
        const int w = 13, ht = 5, s = strideOf(w, bits);
        std::vector<std::uint8_t> px(std::size_t(s * ht));
        for (std::size_t i = 0; i < px.size(); ++i)
            px[i] = std::uint8_t(i * 37 + 11);
        for (int y = 0; y < ht; ++y)  // keep padding zero: the export's rows are the held rows
            for (int i = (w * bits + 7) / 8; i < s; ++i)
                px[std::size_t(y) * std::size_t(s) + std::size_t(i)] = 0;
        if (bits < 8 &&
            (w * bits) % 8 != 0)  // bits of the last byte beyond the row are padding too
            for (int y = 0; y < ht; ++y)
                px[std::size_t(y) * std::size_t(s) + std::size_t((w * bits) / 8)] &=
                    std::uint8_t(0xFF << (8 - (w * bits) % 8));
        std::vector<std::uint8_t> table;
        if (bits <= 8)
            for (int i = 0; i < (1 << bits); ++i)
                table.insert(table.end(),
                             {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 3), 0});
        kfx::CBitmapHelper a("a"), b("b");
        loadBytes(a, makeBmp(w, ht, bits, px, table));
        ASSERT_TRUE(a.isValid());
        EXPECT_EQ(*a.getPixelBlock(), px);
        const auto path = tempPath("depth.bmp");
        a.saveToFile(path.string());
        b.loadFromFile(path.string());
        std::filesystem::remove(path);
        ASSERT_TRUE(b.isValid());
        EXPECT_EQ(b.getBitsPerPixel(), bits);
        EXPECT_EQ(*b.getPixelBlock(), px);
        EXPECT_EQ(*b.getHeaderBlock(), *a.getHeaderBlock());
    }
}

TEST(BitmapHelper, ValuesComeFromBlueAt24BitsAndFromTableRedBelow)
{
    kfx::CBitmapHelper h("h");
    // Blue = 0, 128, 255 across; green and red always 255 and never read.
    loadBytes(
        h, make24(3, 2, [](int x, int y) {
            return 0xFFFF00u | std::uint32_t(x == 0 ? 0 : x == 1 ? 128 : 255) | std::uint32_t(y);
        }));
    std::vector<float> v(6, 42.0f);
    h.getValues(v.data(), 6);
    EXPECT_EQ(v[0], -1.0f);                       // (0, 0)
    EXPECT_EQ(v[1], expectedValue(1));            // (0, 1): blue 1
    EXPECT_NEAR(v[2], 0.0039216f, 1e-7);          // (1, 0): 128
    EXPECT_EQ(v[4], std::nextafter(1.0f, 2.0f));  // 255 gives 1.0000001, not 1
    EXPECT_EQ(v[4], 1.0000001f);

    kfx::CBitmapHelper p("p");
    loadBytes(p, make4Bit());
    ASSERT_EQ(p.getBitsPerPixel(), 4);
    std::vector<float> q(10);
    p.getValues(q.data(), 10);
    const int reds[3] = {200, 30, 255};
    const int indices[2][5] = {{0, 1, 2, 0, 1}, {2, 2, 1, 0, 0}};
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 2; ++y)
            EXPECT_EQ(q[std::size_t(x * 2 + y)], expectedValue(reds[indices[y][x]]))
                << x << "," << y;
}

TEST(BitmapHelper, CapacityOneShortWritesNothing)
{
    kfx::CBitmapHelper h("h");
    loadBytes(h, makeGrey24(4, 3, [](int x, int y) { return x * 10 + y; }));
    std::vector<float> v(12, 42.0f);
    h.getValues(v.data(), 11);
    for (float f : v)
        EXPECT_EQ(f, 42.0f);
    h.getValues(v.data(), 12);
    EXPECT_EQ(v[2 * 3 + 1], expectedValue(21));  // column by column, bottom row first
}

TEST(BitmapHelper, FailedLoadLeavesHolderNotValid)
{
    kfx::CBitmapHelper h("h");
    loadBytes(h, makeGrey24(4, 3, [](int, int) { return 9; }));
    ASSERT_TRUE(h.isValid());
    h.loadFromFile("/nonexistent/skv/none.bmp");
    EXPECT_FALSE(h.isValid());
    EXPECT_EQ(h.getWidth(), 0);
    EXPECT_EQ(h.getHeight(), 0);
    int w = 0, ht = 0;
    EXPECT_EQ(h.encodeImage(w, ht), "");
    loadBytes(h, {'B', 'M', 0, 0});
    EXPECT_FALSE(h.isValid());
    h.loadFromResource(nullptr, 10000);
    EXPECT_FALSE(h.isValid());
    h.loadFromFile(std::filesystem::temp_directory_path().string());  // a folder, not a file
    EXPECT_FALSE(h.isValid());
    h.loadFromFile("");
    EXPECT_FALSE(h.isValid());
    EXPECT_FALSE(h.isModified());
}

TEST(BitmapHelper, ResourceModuleSuppliesBitmapsWithoutFileHeader)
{
    struct CModule : kfx::IResourceModule {
        std::vector<std::uint8_t> file = make4Bit();
        bool findBitmap(int number, const unsigned char*& data, std::size_t& size) const override
        {
            if (number != 10007)
                return false;
            data = file.data() + 14;
            size = file.size() - 14;
            return true;
        }
    } module;
    kfx::CBitmapHelper h("h");
    h.loadFromResource(&module, 10007);
    ASSERT_TRUE(h.isValid());
    EXPECT_EQ(h.getWidth(), 5);
    EXPECT_EQ(h.sampleAt(2, 0), 2);
    h.loadFromResource(&module, 10008);
    EXPECT_FALSE(h.isValid());
}

TEST(BitmapHelper, EncodeDecodeRoundTrip)
{
    kfx::CBitmapHelper a("a"), b("b");
    loadBytes(a, makeGrey24(7, 5, [](int x, int y) { return x * 31 + y * 7; }));
    int w = 0, ht = 0;
    const std::string text = a.encodeImage(w, ht);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(ht, 5);
    const auto payload = kfx::base64Decode(text);
    ASSERT_EQ(payload.size(), 40u + 24u * 5u);
    EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + 40, a.getHeaderBlock()->begin()));
    b.decodeImage(text, 0, 0);
    ASSERT_TRUE(b.isValid());
    EXPECT_EQ(b.getWidth(), 7);
    EXPECT_EQ(*b.getPixelBlock(), *a.getPixelBlock());
    EXPECT_EQ(b.encodeImage(w, ht), text);
    EXPECT_FALSE(b.isModified());
}

TEST(BitmapHelper, DecodedPaletteFollowsTheReceivingHoldersTable)
{
    kfx::CBitmapHelper a("a"), b("b");
    loadBytes(a, make4Bit());
    int w, ht;
    b.decodeImage(a.encodeImage(w, ht), 0, 0);
    ASSERT_TRUE(b.isValid());
    std::vector<float> v(10);
    b.getValues(v.data(), 10);
    EXPECT_EQ(v[2 * 2 + 0], expectedValue(2));  // index 2 through the grey ramp
}

TEST(BitmapHelper, DecodeRejectsIncompleteOrImpossibleText)
{
    kfx::CBitmapHelper h("h");
    loadBytes(h, makeGrey24(3, 2, [](int x, int) { return x; }));
    int w, ht;
    const std::string before = h.encodeImage(w, ht);
    std::vector<std::uint8_t> good = kfx::base64Decode(before);
    auto tryPayload = [&](const std::vector<std::uint8_t>& p) {
        h.decodeImage(kfx::base64Encode(p.data(), p.size()), 0, 0);
        EXPECT_EQ(h.encodeImage(w, ht), before);
    };
    tryPayload(
        std::vector<std::uint8_t>(good.begin(), good.begin() + 39));      // shorter than a header
    tryPayload(std::vector<std::uint8_t>(good.begin(), good.end() - 1));  // a pixel byte short
    auto bad = [&](std::size_t at, std::uint32_t value, bool word = false) {
        auto p = good;
        if (word)
            putU16(p.data() + at, value);
        else
            putU32(p.data() + at, value);
        tryPayload(p);
    };
    bad(0, 39);           // header length below 40
    bad(0, 1069);         // longer than the header block
    bad(0, 200);          // longer than the payload
    bad(4, 0);            // zero width
    bad(8, 0xFFFFFFFEu);  // negative height
    bad(4, 100000);       // over the side cap
    bad(14, 3, true);     // unknown depth
    bad(14, 0, true);
    bad(16, 1);  // RLE: pixel bytes would not be rows
    bad(8, 3);   // one row more than the bytes hold
    h.decodeImage("", 0, 0);
    EXPECT_EQ(h.encodeImage(w, ht), before);
    h.decodeImage("!!!!====", 0, 0);
    EXPECT_EQ(h.encodeImage(w, ht), before);
}

TEST(BitmapHelper, DecodeAcceptsLongerHeadersAndIgnoresLineBreaks)
{
    kfx::CBitmapHelper h("h");
    // 44-byte header: pixels start at byte 44; 2x1 24-bit, stride 8.
    std::vector<std::uint8_t> p = infoHeader(44, 2, 1, 24, 0, 8);
    p.resize(44 + 8, 0);
    p[44] = 9;
    p[47] = 200;
    std::string text = kfx::base64Encode(p.data(), p.size());
    std::string broken;
    for (std::size_t i = 0; i < text.size(); ++i) {
        broken += text[i];
        if (i % 3 == 1)
            broken += (i % 2) ? "\r\n" : " \n\t";
    }
    h.decodeImage(broken, 1, 1);
    ASSERT_TRUE(h.isValid());
    EXPECT_EQ(h.getWidth(), 2);
    EXPECT_EQ(h.sampleAt(0, 0), 9);
    EXPECT_EQ(h.sampleAt(1, 0), 200);
    int w = 0, ht = 0;
    EXPECT_EQ(kfx::base64Decode(h.encodeImage(w, ht)).size(), 52u);
}

TEST(BitmapHelper, CreateCopyIsTopRowFirstArgb)
{
    kfx::CBitmapHelper h("h");
    loadBytes(h, make24(3, 2, [](int x, int y) {
                  return std::uint32_t(0x010203 * (x + 1) + 0x400000 * y);
              }));
    auto copy = h.createCopy();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->width, 3);
    EXPECT_EQ(copy->height, 2);
    // The file's (x, y) holds red 1*(x+1)+64y, green 2(x+1), blue 3(x+1).
    EXPECT_EQ(copy->at(0, 1), 0xFF010203u);  // bottom row is the last row of the copy
    EXPECT_EQ(copy->at(2, 0), 0xFF430609u);
    kfx::CBitmapHelper p("p");
    loadBytes(p, make4Bit());
    auto pc = p.createCopy();
    EXPECT_EQ(pc->at(2, 1), 0xFFFF0605u);  // index 2 of the table: red 255, green 6, blue 5
    // attachImage takes a copy back, at 24 bits.
    kfx::CBitmapHelper back("back");
    back.attachImage(std::move(pc));
    ASSERT_TRUE(back.isValid());
    EXPECT_EQ(back.getBitsPerPixel(), 24);
    EXPECT_EQ(rawByte(back, 2, 0, 2), 255);
    back.attachImage(nullptr);
    EXPECT_FALSE(back.isValid());
}

TEST(BitmapHelper, SaveToUnopenablePathWritesNothing)
{
    kfx::CBitmapHelper h("h");
    loadBytes(h, makeGrey24(2, 2, [](int, int) { return 1; }));
    h.saveToFile("/nonexistent/skv/out.bmp");
    EXPECT_FALSE(std::filesystem::exists("/nonexistent/skv/out.bmp"));
    kfx::CBitmapHelper empty("e");
    const auto path = tempPath("empty.bmp");
    empty.saveToFile(path.string());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(h.isModified());
}

namespace {

// Image text of a 40-byte-header picture (optionally followed by `extra` header bytes, as
// a longer header would carry) with the given rows.
std::string imageText(int width, int height, int bits, std::uint32_t compression,
                      const std::vector<std::uint8_t>& pixels,
                      const std::vector<std::uint8_t>& extra = {})
{
    std::vector<std::uint8_t> p =
        infoHeader(40 + extra.size(), width, height, bits, compression, pixels.size());
    std::copy(extra.begin(), extra.end(), p.begin() + 40);
    p.insert(p.end(), pixels.begin(), pixels.end());
    return kfx::base64Encode(p.data(), p.size());
}

}  // namespace

TEST(BitmapHelper, EncodeDecodeRoundTripAtEveryDepth)
{
    for (int bits : {1, 2, 4, 8, 24}) {
        SCOPED_TRACE(bits);
        const int w = 11, ht = 3, s = strideOf(w, bits);
        std::vector<std::uint8_t> px(std::size_t(s * ht));
        for (std::size_t i = 0; i < px.size(); ++i)
            px[i] = std::uint8_t(i * 53 + 7);
        std::vector<std::uint8_t> table;
        if (bits <= 8)
            for (int i = 0; i < (1 << bits); ++i)
                table.insert(table.end(),
                             {std::uint8_t(i), std::uint8_t(i), std::uint8_t(255 - i), 0});
        kfx::CBitmapHelper a("a"), b("b");
        loadBytes(a, makeBmp(w, ht, bits, px, table));
        ASSERT_TRUE(a.isValid());
        int ow = 0, oh = 0;
        const std::string text = a.encodeImage(ow, oh);
        // Every line but the last holds exactly 76 characters.
        for (std::size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos;
             pos = end + 2)
            ASSERT_EQ(end - pos, 76u);
        b.decodeImage(text, 0, 0);
        ASSERT_TRUE(b.isValid());
        EXPECT_EQ(b.getBitsPerPixel(), bits);
        EXPECT_EQ(b.getWidth(), w);
        EXPECT_EQ(b.getHeight(), ht);
        EXPECT_EQ(*b.getPixelBlock(), *a.getPixelBlock());
        EXPECT_EQ(b.encodeImage(ow, oh), text);
    }
    // Deeper pictures arrive only as image text; they come back unchanged as well.
    for (int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        const int w = 3, ht = 2, s = strideOf(w, bits);
        std::vector<std::uint8_t> px(std::size_t(s * ht));
        for (std::size_t i = 0; i < px.size(); ++i)
            px[i] = std::uint8_t(i * 29 + 1);
        const std::string text = imageText(w, ht, bits, 0, px);
        kfx::CBitmapHelper h("h");
        h.decodeImage(text, 0, 0);
        ASSERT_TRUE(h.isValid());
        EXPECT_EQ(h.getBitsPerPixel(), bits);
        EXPECT_EQ(h.sampleAt(1, 1), px[std::size_t(s + bits / 8)]);  // the first byte of the pixel
        int ow = 0, oh = 0;
        EXPECT_EQ(h.encodeImage(ow, oh), text);
    }
}

TEST(BitmapHelper, DeepPicturesFromTextDrawConvertAndExportWithTheirChannels)
{
    // 5-6-5 words red, green, blue, white; the text's 40-byte header carries no masks.
    const std::vector<std::uint8_t> words = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF};
    kfx::CBitmapHelper h("h");
    h.decodeImage(imageText(4, 1, 16, 3, words), 0, 0);
    ASSERT_TRUE(h.isValid());
    auto copy = h.createCopy();
    EXPECT_EQ(copy->at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(copy->at(1, 0), 0xFF00FF00u);
    EXPECT_EQ(copy->at(2, 0), 0xFF0000FFu);
    EXPECT_EQ(copy->at(3, 0), 0xFFFFFFFFu);
    // Mirrored, the picture keeps its channel layout.
    h.flip(false);
    EXPECT_EQ(h.createCopy()->at(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(h.createCopy()->at(3, 0), 0xFFFF0000u);
    h.flip(false);
    // Exported and read back: a 24-bit picture of the same colours.
    const auto path = tempPath("deep16.bmp");
    h.saveToFile(path.string());
    kfx::CBitmapHelper back("back");
    back.loadFromFile(path.string());
    std::filesystem::remove(path);
    ASSERT_TRUE(back.isValid());
    EXPECT_EQ(back.getBitsPerPixel(), 24);
    const int expected[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}};
    for (int x = 0; x < 4; ++x)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(rawByte(back, x, 0, c), expected[x][c]) << x << "," << c;
    h.convertTo24Bit();
    EXPECT_EQ(*h.getPixelBlock(), *back.getPixelBlock());

    // Masks given in a longer header win: 5-5-5 here, so 0x7C00 is full red.
    std::vector<std::uint8_t> masks(12, 0);
    putU32(masks.data() + 0, 0x7C00);
    putU32(masks.data() + 4, 0x03E0);
    putU32(masks.data() + 8, 0x001F);
    kfx::CBitmapHelper m("m");
    m.decodeImage(imageText(1, 1, 16, 3, {0x00, 0x7C, 0, 0}, masks), 0, 0);
    ASSERT_TRUE(m.isValid());
    EXPECT_EQ(m.createCopy()->at(0, 0), 0xFFFF0000u);
    // Without bit fields a 16-bit picture is 5-5-5.
    kfx::CBitmapHelper plain("plain");
    plain.decodeImage(imageText(1, 1, 16, 0, {0x00, 0x7C, 0, 0}), 0, 0);
    EXPECT_EQ(plain.createCopy()->at(0, 0), 0xFFFF0000u);

    // 32 bits: blue, green, red, unused; the export reloads with identical samples.
    kfx::CBitmapHelper d("d");
    d.decodeImage(imageText(2, 1, 32, 0, {10, 20, 30, 99, 40, 50, 60, 99}), 0, 0);
    ASSERT_TRUE(d.isValid());
    EXPECT_EQ(d.createCopy()->at(1, 0), 0xFF3C3228u);
    const auto path32 = tempPath("deep32.bmp");
    d.saveToFile(path32.string());
    kfx::CBitmapHelper back32("back32");
    back32.loadFromFile(path32.string());
    std::filesystem::remove(path32);
    ASSERT_TRUE(back32.isValid());
    for (int x = 0; x < 2; ++x)
        EXPECT_EQ(back32.sampleAt(x, 0), d.sampleAt(x, 0));
    EXPECT_EQ(rawByte(back32, 1, 0, 2), 60);
}

TEST(BitmapHelper, LoadingSomethingOtherThanAPlainFileDoesNotBlock)
{
    const auto fifo = tempPath("fifo.bmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    kfx::CBitmapHelper h("h");
    loadBytes(h, makeGrey24(2, 2, [](int, int) { return 1; }));
    h.loadFromFile(fifo.string());  // opening a pipe without a writer would wait for ever
    std::filesystem::remove(fifo);
    EXPECT_FALSE(h.isValid());
}

TEST(BitmapHelper, TableEntriesBeyondAPicturesOwnKeepTheGreyRamp)
{
    kfx::CBitmapHelper h("h");
    loadBytes(h, make4Bit());  // three colours of its own
    ASSERT_TRUE(h.isValid());
    // 8-bit image text carries no table: it reads through the one the holder has.
    h.decodeImage(imageText(4, 1, 8, 0, {1, 3, 16, 200}), 0, 0);
    ASSERT_EQ(h.getBitsPerPixel(), 8);
    std::vector<float> v(4);
    h.getValues(v.data(), 4);
    EXPECT_EQ(v[0], expectedValue(30));  // the 4-bit picture's own entry 1
    EXPECT_EQ(v[1], expectedValue(3));
    EXPECT_EQ(v[2], expectedValue(16));
    EXPECT_EQ(v[3], expectedValue(200));
}

TEST(BitmapHelper, ExportThatFailsKeepsTheExistingFile)
{
    skvtest::CScratchFolder scratch;
    const auto path = scratch.path() / "map.bmp";
    kfx::CBitmapHelper small("small"), big("big");
    loadBytes(small, makeGrey24(2, 2, [](int x, int y) { return x + y; }));
    loadBytes(big, makeGrey24(64, 64, [](int x, int y) { return x ^ y; }));
    ASSERT_TRUE(small.saveToFile(path.string()));
    const auto before = readFile(path);
    // A disk that fills up after 4 KiB: the 12 KiB picture cannot be written whole.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const rlimit full{4096, old.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &full);
    const bool saved = big.saveToFile(path.string());
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(saved);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()),
                            std::filesystem::directory_iterator()),
              1);  // no temporary file left behind
}
