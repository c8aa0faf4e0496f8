// Off-screen pixel checks of the custom controls' drawing rules, with expected rows and
// columns worked out by hand from the rules (not from the controls' own helpers).
#include "editor/controls/BarControl.h"
#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/controls/Label.h"
#include "editor/controls/LabelButtons.h"
#include "editor/controls/PictureButtons.h"
#include "editor/controls/ViewContainer2.h"

#include <gtest/gtest.h>

#include "tests/editor/EditorTestSupport.h"

using namespace VSTGUI;
using namespace skvtest;

namespace {
// Rows of column x that have colour c, as [first, last] (or -1, -1).
std::pair<int, int> rowsOf(COffscreenContext& ctx, int x, const CColor& c)
{
    int first = -1, last = -1;
    for (int y = 0; y < ctx.getHeight(); ++y)
        if (ctx.getPoint(CPoint(x, y)) == c) {
            if (first < 0)
                first = y;
            last = y;
        }
    return {first, last};
}

// A 16 x 129 bar as the editor places it (height of (x, 25, x + 16, 154)).
std::pair<int, int> barRows(long style, float value, int column = 8)
{
    CVerticalBarControl bar(7, nullptr, CRect(0, 0, 16, 129), kTeal, kTeal, kAmber, style);
    bar.setValue(value);
    COffscreenContext ctx(nullptr, 16, 129, kBlackCColor);
    bar.draw(&ctx);
    return rowsOf(ctx, column, kAmber);
}
}  // namespace

TEST(BarControl, BottomUpStyleFillsFromTheBottom)
{
    // h = 129, d = 124: value 1 -> rows 2..126, 0.5 -> 126 - 62 = 64..126, 0 -> the line 126.
    EXPECT_EQ(barRows(66, 1.f), std::make_pair(2, 126));
    EXPECT_EQ(barRows(66, 0.5f), std::make_pair(64, 126));
    EXPECT_EQ(barRows(66, 0.f), std::make_pair(126, 126));
}

TEST(BarControl, BipolarStyleRunsFromTheMiddle)
{
    // m = 124 / 2 + 2 = 64; a = 1 - value.
    EXPECT_EQ(barRows(16386, 0.5f), std::make_pair(64, 64));
    EXPECT_EQ(barRows(16386, 1.f), std::make_pair(2, 64));
    EXPECT_EQ(barRows(16386, 0.f), std::make_pair(64, 126));
}

TEST(BarControl, HorizontalStylesRunAlongX)
{
    // 129 wide, 16 high: d = 124. From the left (0x08): columns 2..round(a d) + 2; from the
    // right: width - 3 - round(a d) .. width - 3; rows 2..13.
    auto columns = [](long style, float value) {
        CBarControl bar(7, nullptr, CRect(0, 0, 129, 16), kTeal, kTeal, kAmber, style);
        bar.setValue(value);
        COffscreenContext ctx(nullptr, 129, 16, kBlackCColor);
        bar.draw(&ctx);
        int first = -1, last = -1;
        for (int x = 0; x < 129; ++x)
            if (ctx.getPoint(CPoint(x, 8)) == kAmber) {
                if (first < 0)
                    first = x;
                last = x;
            }
        return std::make_pair(first, last);
    };
    EXPECT_EQ(columns(0x0001 | 0x0008, 0.5f), std::make_pair(2, 64));
    EXPECT_EQ(columns(0x0001, 0.5f), std::make_pair(64, 126));
    EXPECT_EQ(columns(0x0001 | 0x0008, 1.f), std::make_pair(2, 126));
    CBarControl bar(7, nullptr, CRect(10, 0, 139, 16), kTeal, kTeal, kAmber, 0x0001 | 0x0010);
    CPoint p(10 + 2 + 31, 5);  // (x - left - 2) / (width - 4), taken from the right edge
    bar.onMouseDown(nullptr, p, kLButton);
    EXPECT_NEAR(bar.getValue(), 1.f - 31.f / 125.f, 1e-6);
}

TEST(BarControl, BarSpansColumnsTwoToWidthMinusThree)
{
    CVerticalBarControl bar(7, nullptr, CRect(0, 0, 16, 129), kTeal, kTeal, kAmber, 66);
    bar.setValue(1.f);
    COffscreenContext ctx(nullptr, 16, 129, kBlackCColor);
    bar.draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(1, 60)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(2, 60)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(13, 60)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(14, 60)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(8, 1)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(8, 127)), kTeal);
    EXPECT_FALSE(bar.isDirty());
}

TEST(BarControl, MouseKeysAndWheelFollowTheTables)
{
    Recorder rec;
    CVerticalBarControl bar(7, &rec, CRect(10, 20, 26, 149), kTeal, kTeal, kAmber, 66);
    bar.setDirty(false);
    CPoint p(15, 20 + 2 + 125 / 4 * 0 + 31);  // (y - top - 2) / (h - 4) = 31 / 125
    bar.onMouseDown(nullptr, p, kLButton);
    EXPECT_NEAR(bar.getValue(), 1.f - 31.f / 125.f, 1e-6);
    ASSERT_EQ(rec.values.size(), 1u);
    CPoint below(15, 500);
    bar.onMouseDown(nullptr, below, kLButton);
    EXPECT_EQ(bar.getValue(), 0.f);  // clamped
    bar.onMouseDown(nullptr, below, kLButton | kControl);
    EXPECT_EQ(bar.getValue(), 0.5f);
    bar.onMouseDown(nullptr, below, kRButton | kShift);
    EXPECT_NEAR(bar.getValue(), 0.5f - 0.000025f, 1e-7);
    bar.setValue(0.5f);
    VstKeyCode up{0, VKEY_UP, 0};
    EXPECT_EQ(bar.onKeyDown(up), 1);
    EXPECT_NEAR(bar.getValue(), 0.6f, 1e-6);
    VstKeyCode left{0, VKEY_LEFT, MODIFIER_SHIFT};
    bar.onKeyDown(left);
    EXPECT_NEAR(bar.getValue(), 0.59f, 1e-6);
    VstKeyCode other{'a', 0, 0};
    EXPECT_EQ(bar.onKeyDown(other), -1);
    bar.onWheel(nullptr, CPoint(), 10.f);
    EXPECT_EQ(bar.getValue(), 1.f);
}

TEST(BarControl, OffscreenSurfaceLivesWhileAttached)
{
    CViewContainer panel(CRect(0, 0, 100, 100), nullptr);
    auto* bar =
        new CVerticalBarControl(7, nullptr, CRect(10, 10, 26, 139), kTeal, kTeal, kAmber, 66);
    EXPECT_FALSE(bar->hasOffscreen());
    panel.addView(bar);
    EXPECT_TRUE(bar->hasOffscreen());
    bar->retain();
    panel.removeView(bar, true);
    EXPECT_FALSE(bar->hasOffscreen());
    // Detached, it still draws (through a surface of the moment).
    bar->setValue(1.f);
    COffscreenContext ctx(nullptr, 40, 150, kBlackCColor);
    bar->draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(18, 80)), kAmber);
    bar->release();
}

TEST(LabelRollButton, AlternatesValuesAndMarkerSides)
{
    Recorder rec;
    CLabelRollButton roll(CRect(0, 0, 30, 12), &rec, 54, kTeal, kAmber, kTeal, kSky, "Dly",
                          "Delay");
    roll.addEntry("Pre", "Pre-delay");
    auto markerAt = [&](int x) {
        COffscreenContext ctx(nullptr, 30, 12, kBlackCColor);
        roll.draw(&ctx);
        return ctx.getPoint(CPoint(x, 2)) == kSky && ctx.getPoint(CPoint(x, 10)) == kSky &&
               ctx.getPoint(CPoint(x, 1)) == kTeal;
    };
    EXPECT_TRUE(markerAt(28));  // entry 0: right - 2
    EXPECT_FALSE(markerAt(2));
    CPoint p(5, 5);
    roll.onMouseDown(nullptr, p, kLButton);
    EXPECT_EQ(roll.getValue(), 0.5f);
    EXPECT_TRUE(markerAt(2));  // entry 1: left + 2
    EXPECT_FALSE(markerAt(28));
    roll.onMouseDown(nullptr, p, kLButton);
    EXPECT_EQ(roll.getValue(), 0.f);
    roll.onMouseDown(nullptr, p, kRButton);  // only the left button
    EXPECT_EQ(roll.getValue(), 0.f);
    EXPECT_EQ(rec.values, (std::vector<float>{0.5f, 0.f}));
    roll.setValue(0.5f);  // from outside: value only, the shown entry stays
    EXPECT_EQ(roll.getCurrentEntry(), 0);
}

TEST(LabelRadioButton, CellsSelectionAndClicks)
{
    Recorder rec;
    // 84 wide, three cells starting at 0, 28, 56, each 28 wide; tab extension 4.
    CLabelRadioButton radio(CRect(0, 0, 84, 12), &rec, 39, kTeal, kAmber, kTeal, kSky, "Filter Map",
                            nullptr, 4);
    radio.addEntry("LP Analysis");
    radio.addEntry("Slave");
    auto draw = [&](float v) {
        radio.setValue(v);
        auto ctx = std::make_unique<COffscreenContext>(nullptr, 84, 20, kBlackCColor);
        radio.draw(ctx.get());
        return ctx;
    };
    auto ctx = draw(0.5f);
    // Selected middle cell: filled from the top row to bottom + 4, columns 29..54.
    EXPECT_EQ(ctx->getPoint(CPoint(29, 0)), kTeal);
    EXPECT_EQ(ctx->getPoint(CPoint(29, 15)), kTeal);
    EXPECT_EQ(ctx->getPoint(CPoint(29, 16)), kBlackCColor);
    EXPECT_EQ(ctx->getPoint(CPoint(28, 5)), kBlackCColor);  // the gap at x_i
    // Other cells: from top + 1 to bottom, not into the tab.
    EXPECT_EQ(ctx->getPoint(CPoint(1, 0)), kBlackCColor);
    EXPECT_EQ(ctx->getPoint(CPoint(1, 1)), kTeal);
    EXPECT_EQ(ctx->getPoint(CPoint(1, 12)), kBlackCColor);
    ctx = draw(1.f);  // exactly 1 selects no cell
    EXPECT_EQ(radio.selectedCell(), -1);
    for (int x : {1, 29, 57}) {
        EXPECT_EQ(ctx->getPoint(CPoint(x, 0)), kBlackCColor) << x;
        EXPECT_EQ(ctx->getPoint(CPoint(x, 13)), kBlackCColor) << x;
    }
    radio.setDirty(false);
    CPoint mid(42, 5);
    radio.onMouseDown(nullptr, mid, kLButton);
    EXPECT_EQ(radio.getValue(), 0.5f);
    EXPECT_EQ(radio.selectedCell(), 1);
    CPoint edge(84, 5);  // exactly on the right edge
    radio.onMouseDown(nullptr, edge, kRButton);
    EXPECT_EQ(radio.getValue(), 1.f);
    EXPECT_EQ(radio.selectedCell(), -1);
    EXPECT_EQ(rec.values, (std::vector<float>{0.5f, 1.f}));
}

TEST(MultiStateButton, FramesAndCycle)
{
    // A 15 x 48 picture of three 16-pixel frames in red, green, blue.
    auto* pic = stackedPicture(15, 16, {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}});
    Recorder rec;
    CMultiStateButton button(CRect(0, 0, 15, 16), &rec, 36, pic, 3);
    pic->release();
    auto colour = [&]() {
        COffscreenContext ctx(nullptr, 15, 16, kBlackCColor);
        button.draw(&ctx);
        return ctx.getPoint(CPoint(7, 8));
    };
    EXPECT_EQ(colour(), (CColor{255, 0, 0, 0}));
    CPoint p(3, 3);
    button.onMouseDown(nullptr, p, kLButton);
    EXPECT_FLOAT_EQ(button.getValue(), 1.f / 3.f);
    EXPECT_EQ(colour(), (CColor{0, 255, 0, 0}));
    button.onMouseDown(nullptr, p, kLButton);
    EXPECT_FLOAT_EQ(button.getValue(), 2.f / 3.f);
    EXPECT_EQ(colour(), (CColor{0, 0, 255, 0}));
    button.onMouseDown(nullptr, p, kLButton);
    EXPECT_EQ(button.getValue(), 0.f);
    EXPECT_EQ(rec.values.size(), 3u);
    // A value of 1 (from the host) would point past the last frame: the last frame is
    // shown, and the next click goes on from it to the first.
    button.setValue(1.f);
    EXPECT_EQ(colour(), (CColor{0, 0, 255, 0}));
    button.onMouseDown(nullptr, p, kLButton);
    EXPECT_EQ(button.getValue(), 0.f);
}

TEST(ViewContainer2, PanelCornersBorderAndFill)
{
    CViewContainer2 panel(CRect(0, 0, 100, 60), nullptr, kMid, kSky, kLight);
    COffscreenContext ctx(nullptr, 100, 60, kBlackCColor);
    panel.draw(&ctx);
    // Corners keep the corner colour outside the rounding.
    for (CPoint p :
         {CPoint(0, 0), CPoint(99, 0), CPoint(0, 59), CPoint(99, 59), CPoint(2, 2), CPoint(97, 57)})
        EXPECT_EQ(ctx.getPoint(p), kMid) << p.h << "," << p.v;
    // Straight edges: two border pixels, then the fill.
    EXPECT_EQ(ctx.getPoint(CPoint(0, 30)), kLight);
    EXPECT_EQ(ctx.getPoint(CPoint(1, 30)), kLight);
    EXPECT_EQ(ctx.getPoint(CPoint(2, 30)), kSky);
    EXPECT_EQ(ctx.getPoint(CPoint(98, 30)), kLight);
    EXPECT_EQ(ctx.getPoint(CPoint(97, 30)), kSky);
    EXPECT_EQ(ctx.getPoint(CPoint(50, 0)), kLight);
    EXPECT_EQ(ctx.getPoint(CPoint(50, 59)), kLight);
    EXPECT_EQ(ctx.getPoint(CPoint(50, 57)), kSky);
    // On the diagonal of a corner: outside, ring, inside.
    EXPECT_EQ(ctx.getPoint(CPoint(14, 14)), kSky);
    EXPECT_EQ(ctx.getPoint(CPoint(85, 45)), kSky);
}

TEST(AboutButton, DrawsItsPictureAtTheTopLeftCorner)
{
    auto* pic = solidPicture(4, 3, kAmber);
    CAboutButton about(CRect(2, 1, 10, 8), nullptr, 58, pic);
    pic->release();
    COffscreenContext ctx(nullptr, 12, 10, kTeal);
    about.draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(2, 1)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(5, 3)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(6, 3)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(5, 4)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(1, 1)), kTeal);
}

TEST(AboutButton, TogglesAndAlwaysCalls)
{
    Recorder rec;
    CAboutButton about(CRect(0, 0, 20, 20), &rec, 58, nullptr);
    CPoint p(1, 1);
    about.onMouseDown(nullptr, p, kLButton);
    about.onMouseDown(nullptr, p, kLButton);
    EXPECT_EQ(rec.values, (std::vector<float>{1.f, 0.f}));
}
