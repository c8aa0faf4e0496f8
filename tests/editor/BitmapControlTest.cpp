// The filter-map display and its picture store: hand-overs of the holder's drawable copy,
// drawing with and without a picture, marker gestures; plus label drops and uri-lists.
#include "editor/controls/BitmapControl.h"
#include "editor/controls/BitmapEx.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/DropData.h"
#include "editor/controls/Label.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "filtermap/PlatformImage.h"
#include "resources/BuiltInResources.h"

#include <gtest/gtest.h>

#include "tests/editor/EditorTestSupport.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace VSTGUI;
using namespace skvtest;

namespace {

std::shared_ptr<kfx::CBitmapArrayAnalyser> builtInMap(int number)
{
    auto holder = std::make_shared<kfx::CBitmapArrayAnalyser>("L");
    holder->loadFromResource(&skv::CBuiltInResources::instance(), 10000 + number);
    return holder;
}

// The gesture each notification of a filter-map display reports.
struct ReportRecorder : CControlListener {
    std::vector<long> reports;
    void valueChanged(CDrawContext*, CControl* c) override
    {
        reports.push_back(static_cast<CBitmapControl*>(c)->getLastReport());
    }
};
}  // namespace

TEST(BitmapEx, TwoHandOversLeaveOnePicture)
{
    const long before = CBitmap::livePlatformPictures();
    auto holder = builtInMap(0);
    ASSERT_TRUE(holder->isValid());
    auto* store = new CBitmapExArray;
    EXPECT_EQ(store->getWidth(), 0);
    EXPECT_EQ(store->getSurface(), nullptr);
    EXPECT_FALSE(store->isBusy());
    {
        CBitmapControl map(CRect(135, 25, 352, 154), nullptr, 26, store, kTeal, kSky, kAmber);
        store->release();  // the display keeps its own reference
        map.setFilterMap(holder);
        // Keep the first picture alive ourselves to watch the store let go of it.
        cairo_surface_t* first = cairo_surface_reference(store->getSurface());
        ASSERT_NE(first, nullptr);
        map.setFilterMap(holder);
        EXPECT_NE(store->getSurface(), first);
        EXPECT_EQ(cairo_surface_get_reference_count(first), 1u);  // ours only
        cairo_surface_destroy(first);
        EXPECT_EQ(CBitmap::livePlatformPictures(), before + 1);
        EXPECT_EQ(store->getWidth(), 560);
        EXPECT_EQ(store->getHeight(), 281);
        EXPECT_EQ(map.getImageWidth(), 560);
    }
    EXPECT_EQ(CBitmap::livePlatformPictures(), before);
}

TEST(BitmapEx, EmptyHandOverKeepsTheSize)
{
    auto* store = new CBitmapEx;
    auto holder = builtInMap(0);
    EXPECT_TRUE(store->setPicture(holder->createCopy()));
    EXPECT_TRUE(store->setPicture(nullptr));
    EXPECT_EQ(store->getSurface(), nullptr);
    EXPECT_EQ(store->getWidth(), 560);
    EXPECT_EQ(store->getHeight(), 281);
    // A malformed picture (fewer pixels than its size says) is refused, not read past.
    auto bad = std::make_unique<kfx::CPlatformImage>();
    bad->width = 10;
    bad->height = 10;
    bad->pixels.resize(50);
    EXPECT_TRUE(store->setPicture(std::move(bad)));
    EXPECT_EQ(store->getSurface(), nullptr);
    store->release();
}

TEST(BitmapEx, LoadIsNotBusyAfterwardsAndFailsOnMissingFiles)
{
    auto* store = new CBitmapEx;
    EXPECT_FALSE(store->load("/nonexistent/skv.bmp"));
    EXPECT_FALSE(store->isBusy());
    EXPECT_FALSE(store->load(nullptr));
    store->release();
}

TEST(BitmapControl, EmptyPictureStillDrawsBackgroundAndMarkers)
{
    CBitmapControl map(CRect(0, 0, 217, 129), nullptr, 26, nullptr, kTeal, kSky, kAmber);
    COffscreenContext ctx(nullptr, 217, 129, kBlackCColor);
    map.draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(100, 50)), kTeal);
    // Initial loop 60..200 and scan line at 60 (+2 each): band rows 124..126 from x 62 to 201.
    EXPECT_EQ(ctx.getPoint(CPoint(62, 124)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(201, 126)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(202, 125)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(62, 127)), kTeal);
    // Scan line from vh - 31 - 6 = 92 to 123 at analysis mode 0.
    EXPECT_EQ(ctx.getPoint(CPoint(62, 92)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(62, 91)), kTeal);
    map.setAnalysisMode(0.5f);
    map.draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(62, 1)), kAmber);
}

TEST(BitmapControl, BusyPictureSkipsDrawingButCleans)
{
    auto* store = new CBitmapEx;
    CBitmapControl map(CRect(0, 0, 50, 40), nullptr, 26, store, kTeal, kSky, kAmber);
    store->setBusy(true);
    COffscreenContext ctx(nullptr, 50, 40, kBlackCColor);
    map.setDirty(true);
    map.draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(10, 10)), kBlackCColor);
    EXPECT_FALSE(map.isDirty());
    store->release();
}

TEST(BitmapControl, ShowsTheImageFromTheBottomWithTheOffset)
{
    auto holder = builtInMap(0);
    holder->setVerticalOffset(0.f);
    CBitmapControl map(CRect(0, 0, 217, 129), nullptr, 26, nullptr, kTeal, kSky, kAmber);
    map.setFilterMap(holder);
    auto copy = holder->createCopy();
    COffscreenContext ctx(nullptr, 217, 129, kBlackCColor);
    map.draw(&ctx);
    // Source offset y = 281 - 0 - 129 + 8 = 160: window row 2 shows image row 160 (top first).
    for (int x : {10, 100}) {
        uint32_t px = copy->at(x - 2, 160 + 10 - 2) & 0xFFFFFFu;
        CColor c = ctx.getPoint(CPoint(x, 10));
        EXPECT_EQ((uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | c.blue, px) << x;
    }
}

TEST(BitmapControl, MarkerGesturesClampAndReport)
{
    ReportRecorder rec;
    auto holder = builtInMap(0);
    holder->setLoopStart(0.25f);
    holder->setLoopStop(0.5f);
    CBitmapControl map(CRect(135, 25, 352, 154), &rec, 26, nullptr, kTeal, kSky, kAmber);
    map.setFilterMap(holder);
    EXPECT_EQ(map.getStartPixel(), 140);
    EXPECT_EQ(map.getStopPixel(), 280);
    // Stop left of the start: start + 1.
    CPoint p(135 + 2 + 50, 60);
    map.onMouseDown(nullptr, p, kRButton | kShift);
    EXPECT_EQ(map.getStopPixel(), 141);
    EXPECT_EQ(rec.reports.back(), 28);
    // Start beyond the stop: stop - 1.
    CPoint q(135 + 2 + 200, 60);
    map.onMouseDown(nullptr, q, kLButton | kShift);
    EXPECT_EQ(map.getStartPixel(), 140);
    // Start left of the image edge stops at 0 instead of going negative.
    CPoint edge(135, 60);
    map.onMouseDown(nullptr, edge, kLButton | kShift);
    EXPECT_EQ(map.getStartPixel(), 0);
    EXPECT_EQ(rec.reports.back(), 27);
    EXPECT_FLOAT_EQ(map.getStart(), 0.f);
    map.onMouseDown(nullptr, p, kLButton | kControl);
    EXPECT_EQ(map.getValue(), 0.5f);
    EXPECT_EQ(map.getLastReport(), 26);
}

TEST(BitmapControl, FractionSetters)
{
    auto holder = builtInMap(0);
    CBitmapControl map(CRect(0, 0, 217, 129), nullptr, 31, nullptr, kTeal, kSky, kAmber);
    map.setFilterMap(holder);
    map.setStart(0.1f);           // round(56.0) = 56
    map.setStop(0.30089f);        // round(168.4984) = 168
    map.setScanPosition(0.5f);    // 56 + round(56) = 112
    map.setVerticalOffset(0.5f);  // round(140.5) = 140 (halves to even)
    EXPECT_EQ(map.getStartPixel(), 56);
    EXPECT_EQ(map.getStopPixel(), 168);
    EXPECT_EQ(map.getScanPixel(), 112);
    EXPECT_EQ(map.getOffsetPixels(), 140);
    EXPECT_FLOAT_EQ(map.getVerticalOffset(), 140.f / 281.f);
}

TEST(Label, FileDropShowsCountPathAndPosition)
{
    CLabel label(CRect(134, 24, 352, 154), "Analysing left channel");
    label.setDirty(false);
    EXPECT_TRUE(label.onDrop({"/tmp/a.bmp", "/tmp/b.bmp"}, kDropFiles, CPoint(150, 30)));
    EXPECT_STREQ(label.getText(), "2 : /tmp/a.bmp at 16");
    EXPECT_TRUE(label.isDirty());
    std::string longPath = "/" + std::string(400, 'x');
    label.onDrop({longPath}, kDropFiles, CPoint(134, 30));
    EXPECT_EQ(std::strlen(label.getText()), 255u);
    EXPECT_EQ(std::string(label.getText()).substr(0, 5), "1 : /");
    // Text drops and empty lists are accepted but change nothing.
    EXPECT_TRUE(label.onDrop({"hello"}, kDropText, CPoint(140, 30)));
    EXPECT_TRUE(label.onDrop({}, kDropFiles, CPoint(140, 30)));
    EXPECT_EQ(std::strlen(label.getText()), 255u);
}

TEST(DropData, UriListsBecomeLocalPaths)
{
    auto paths =
        parseUriList("# comment\r\nfile:///tmp/a%20b.bmp\r\nfile://localhost/tmp/c.bmp\r\n"
                     "http://example.com/x\r\nfile://elsewhere.invalid/tmp/d\r\nfile:///bad%zz\r\n"
                     "file:///nul%00x\r\n\r\nfile:/tmp/e.bmp");
    EXPECT_EQ(paths, (std::vector<std::string>{"/tmp/a b.bmp", "/tmp/c.bmp", "/tmp/e.bmp"}));
    std::string longest = "/" + std::string(1023, 'p');
    std::string tooLong = "/" + std::string(1024, 'p');
    EXPECT_EQ(parseUriList("file://" + longest).size(), 1u);
    EXPECT_TRUE(parseUriList("file://" + tooLong).empty());
    EXPECT_TRUE(parseUriList("").empty());
    EXPECT_TRUE(parseUriList(std::string("\0\0\0", 3)).empty());
}

TEST(DropData, LinksResolveToTheirTargets)
{
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("skv_drop_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "target.bmp") << "x";
    fs::create_symlink(dir / "target.bmp", dir / "link.bmp");
    auto paths = parseUriList("file://" + (dir / "link.bmp").string());
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], fs::canonical(dir / "target.bmp").string());
    fs::remove_all(dir);
}

TEST(BitmapControl, LoopBandCoversTheViewWhenTheLoopReachesPastBothEdges)
{
    auto holder = builtInMap(0);  // 560 wide; the holder's loop starts as the whole picture
    holder->setLoopStart(0.f);
    holder->setLoopStop(1.f);
    CBitmapControl map(CRect(0, 0, 217, 129), nullptr, 26, nullptr, kTeal, kSky, kAmber);
    map.setFilterMap(holder);
    COffscreenContext ctx(nullptr, 217, 129, kBlackCColor);
    map.draw(&ctx);
    // Start at the view's left edge, stop far right of it: band from 1 to view width - 2.
    EXPECT_EQ(ctx.getPoint(CPoint(1, 125)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(100, 124)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(214, 126)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(215, 125)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(100, 127)), kTeal);
    // A loop wholly right of the view shows no band.
    map.setStart(0.9f);
    map.setStop(1.f);
    map.draw(&ctx);
    for (int x : {1, 100, 214})
        EXPECT_EQ(ctx.getPoint(CPoint(x, 125)), kTeal) << x;
    // Stop within the view and start left of it: from 1.
    map.setStart(0.f);
    map.setStop(0.25f);  // 140
    map.draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(1, 125)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(141, 125)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(142, 125)), kTeal);
}

TEST(BitmapControl, ScanLineSpansTheFilterOrderRows)
{
    CBitmapControl map(CRect(0, 0, 217, 129), nullptr, 26, nullptr, kTeal, kSky, kAmber);
    map.setFilterOrder(80);
    COffscreenContext ctx(nullptr, 217, 129, kBlackCColor);
    map.draw(&ctx);
    // Scan column 60 at x 62, from 129 - 80 - 6 = 43 to 123.
    EXPECT_EQ(ctx.getPoint(CPoint(62, 43)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(62, 42)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(62, 123)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(63, 80)), kTeal);
    map.setAnalysisMode(2.f / 3.f);
    map.draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(62, 1)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(62, 0)), kTeal);
}
