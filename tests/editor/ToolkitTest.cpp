// The view toolkit without a display: reference counting, view trees and what reaches which
// view (mouse, keys, wheel, drops), dirty state, the modal view, the idle-work timing, the
// drawing primitives, pictures and fonts, and the stock controls' rules. Frames made
// without a parent window draw into off-screen contexts.
#include "LibraryCaches.h"
#include "editor/controls/BarControl.h"
#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/Frame.h"
#include "editor/toolkit/GUIEditor.h"
#include "editor/toolkit/KickButton.h"
#include "editor/controls/Label.h"
#include "editor/toolkit/OptionMenu.h"
#include "editor/toolkit/ParamDisplay.h"
#include "editor/toolkit/SplashScreen.h"
#include "vst/AudioEffectX.h"

#include <gtest/gtest.h>

#include "tests/editor/EditorTestSupport.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

using namespace VSTGUI;
using namespace skvtest;

namespace {
const CColor kRed{255, 0, 0, 0};
const CColor kGreen{0, 255, 0, 0};

// Counts its destructions and records what reaches it.
class CProbe : public CView {
public:
    CProbe(const CRect& r, std::vector<std::string>* log = nullptr, const char* name = "",
           long keyAnswer = -1)
        : CView(r), log(log), name(name), keyAnswer(keyAnswer)
    {
    }
    ~CProbe() override { ++destroyed; }
    void onMouseDown(CDrawContext*, CPoint& where, long) override { clicks.push_back(where); }
    long onKeyDown(VstKeyCode&) override
    {
        if (log)
            log->push_back(name);
        return keyAnswer;
    }
    bool onWheel(CDrawContext*, const CPoint& where, float distance) override
    {
        wheel += distance;
        wheelAt = where;
        return true;
    }
    bool onDrop(const std::vector<std::string>& items, long, const CPoint& where) override
    {
        drops += int(items.size());
        dropAt = where;
        return true;
    }
    void draw(CDrawContext* context) override
    {
        context->setFillColor(colour);
        context->fillRect(size);
        setDirty(false);
    }
    static int destroyed;
    std::vector<std::string>* log;
    std::string name;
    long keyAnswer;
    std::vector<CPoint> clicks;
    float wheel = 0.f;
    CPoint wheelAt, dropAt;
    int drops = 0;
    CColor colour = kRed;
};
int CProbe::destroyed = 0;

int gIdleCalls = 0;
VstIntPtr countingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    if (opcode == audioMasterIdle)
        ++gIdleCalls;
    return 0;
}
}  // namespace

TEST(View, ContainersTakeOverTheCreatorsReference)
{
    CProbe::destroyed = 0;
    {
        CFrame frame(CRect(0, 0, 100, 100), nullptr, nullptr);
        auto* kept = new CProbe(CRect(0, 0, 10, 10));
        auto* owned = new CProbe(CRect(0, 0, 10, 10));
        frame.addView(kept);
        frame.addView(owned);
        kept->retain();
        EXPECT_EQ(kept->referenceCount(), 2);
        EXPECT_TRUE(frame.removeView(kept, false));  // detached, not destroyed
        EXPECT_FALSE(frame.containsView(kept));
        EXPECT_EQ(kept->getParentView(), nullptr);
        EXPECT_EQ(kept->referenceCount(), 2);
        frame.addView(kept);
        EXPECT_TRUE(frame.removeView(kept, true));  // the container's reference goes
        EXPECT_EQ(kept->referenceCount(), 1);
        EXPECT_EQ(CProbe::destroyed, 0);
        kept->release();
        EXPECT_EQ(CProbe::destroyed, 1);
        EXPECT_FALSE(frame.removeView(kept, false));  // not a child (pointer only compared)
    }
    EXPECT_EQ(CProbe::destroyed, 2);  // the frame destroyed the child it still held
}

TEST(View, MouseGoesToTheTopmostEnabledViewInContainerCoordinates)
{
    CFrame frame(CRect(0, 0, 200, 200), nullptr, nullptr);
    auto* panel = new CViewContainer(CRect(10, 10, 110, 110), &frame);
    auto* below = new CProbe(CRect(5, 5, 50, 50));
    auto* above = new CProbe(CRect(30, 30, 80, 80));
    auto* disabled = new CProbe(CRect(0, 0, 100, 100));
    disabled->setMouseEnabled(false);
    panel->addView(below);
    panel->addView(above);
    panel->addView(disabled);
    frame.addView(panel);
    CPoint p(50, 50);
    frame.onMouseDown(nullptr, p, kLButton);
    ASSERT_EQ(above->clicks.size(), 1u);
    EXPECT_EQ(above->clicks[0], CPoint(40, 40));
    CPoint q(20, 20);
    frame.onMouseDown(nullptr, q, kLButton);
    ASSERT_EQ(below->clicks.size(), 1u);
    EXPECT_EQ(below->clicks[0], CPoint(10, 10));
    CPoint r(110, 50);  // the panel's right edge is outside it
    frame.onMouseDown(nullptr, r, kLButton);
    EXPECT_TRUE(disabled->clicks.empty());
    EXPECT_EQ(above->clicks.size() + below->clicks.size(), 2u);
    EXPECT_EQ(frame.getViewAt(CPoint(50, 50)), above);
    // Wheel and drops take the same way.
    EXPECT_TRUE(frame.onWheel(nullptr, CPoint(50, 50), 2.f));
    EXPECT_EQ(above->wheel, 2.f);
    EXPECT_EQ(above->wheelAt, CPoint(40, 40));
    EXPECT_TRUE(frame.onDrop({"/a", "/b"}, kDropFiles, CPoint(20, 20)));
    EXPECT_EQ(below->drops, 2);
    EXPECT_EQ(below->dropAt, CPoint(10, 10));
    EXPECT_FALSE(frame.onDrop({"/a"}, kDropFiles, CPoint(150, 150)));
}

TEST(Frame, KeysGoToFocusThenModalThenChildrenFromTheLast)
{
    std::vector<std::string> log;
    CFrame frame(CRect(0, 0, 100, 100), nullptr, nullptr);
    auto* first = new CProbe(CRect(), &log, "first");
    auto* second = new CProbe(CRect(), &log, "second");
    auto* third = new CProbe(CRect(), &log, "third");
    frame.addView(first);
    frame.addView(second);
    frame.addView(third);
    frame.setFocusView(first);
    EXPECT_TRUE(frame.setModalView(second));
    VstKeyCode key{'a', 0, 0};
    EXPECT_EQ(frame.onKeyDown(key), -1);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "second", "third", "second", "first"}));
    third->keyAnswer = 1;
    log.clear();
    EXPECT_EQ(frame.onKeyDown(key), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "second", "third"}));
    // A second modal view is refused; clearing always works; removal clears both roles.
    EXPECT_FALSE(frame.setModalView(third));
    EXPECT_EQ(frame.getModalView(), second);
    frame.removeView(second, true);
    EXPECT_EQ(frame.getModalView(), nullptr);
    EXPECT_TRUE(frame.setModalView(nullptr));
    frame.removeView(first, true);
    EXPECT_EQ(frame.getFocusView(), nullptr);
}

TEST(Control, DirtyMeansValueDiffersFromTheOldValueOrTheFlag)
{
    CControl control(CRect(0, 0, 10, 10));
    // Old value 1, value 0 at start: a new control is dirty.
    EXPECT_EQ(control.getOldValue(), 1.f);
    EXPECT_EQ(control.getValue(), 0.f);
    EXPECT_EQ(control.getDefaultValue(), 0.5f);
    EXPECT_EQ(control.getWheelInc(), 0.1f);
    EXPECT_EQ(control.getMin(), 0.f);
    EXPECT_EQ(control.getMax(), 1.f);
    EXPECT_GE(control.getDoubleClickDelay(), 250u);
    EXPECT_TRUE(control.isDirty());
    control.setDirty(false);
    EXPECT_FALSE(control.isDirty());
    EXPECT_EQ(control.getOldValue(), 0.f);
    control.setValue(0.25f);
    EXPECT_TRUE(control.isDirty());
    control.setDirty(false);
    control.setDirty(true);
    EXPECT_TRUE(control.isDirty());
    control.setValue(3.f);
    control.clampValue();
    EXPECT_EQ(control.getValue(), 1.f);
    control.setValue(-3.f);
    control.clampValue();
    EXPECT_EQ(control.getValue(), 0.f);
}

TEST(GUIEditor, IdleWorkRunsAtMostEvery50msAndSleeps4msBetween)
{
    gIdleCalls = 0;
    AudioEffectX effect(countingHost, 1, 1);
    AEffGUIEditor editor(&effect);
    using clock = std::chrono::steady_clock;
    editor.runIdleWork();  // the stamp starts at construction: the first call runs
    const auto firstRun = clock::now();
    ASSERT_EQ(gIdleCalls, 1);
    const auto before = clock::now();
    editor.runIdleWork();
    const auto after = clock::now();
    if (after - firstRun < std::chrono::milliseconds(40)) {  // more than 50 ms remained
        EXPECT_EQ(gIdleCalls, 1);
        EXPECT_GE(after - before, std::chrono::milliseconds(4));
    }
    while (gIdleCalls < 2 && clock::now() - firstRun < std::chrono::seconds(5))
        editor.runIdleWork();
    EXPECT_EQ(gIdleCalls, 2);
    EXPECT_GE(clock::now() - firstRun, std::chrono::milliseconds(50));
}

TEST(GUIEditor, IdleTurnsUpdateFlagIntoOneUpdate)
{
    struct CountingEditor : AEffGUIEditor {
        using AEffGUIEditor::AEffGUIEditor;
        void update() override { ++updates; }
        int updates = 0;
    };
    AudioEffectX effect(countingHost, 1, 1);
    CountingEditor editor(&effect);
    editor.idle();
    EXPECT_EQ(editor.updates, 0);
    editor.postUpdate();
    editor.postUpdate();
    editor.idle();
    editor.idle();
    EXPECT_EQ(editor.updates, 1);
    ERect* rect = nullptr;
    EXPECT_TRUE(editor.getRect(&rect));
    ASSERT_NE(rect, nullptr);
}

TEST(DrawContext, PrimitivesLandOnWholePixels)
{
    COffscreenContext ctx(nullptr, 20, 20, kTeal);
    for (int y = 0; y < 20; ++y)  // created filled (and outlined) in the background colour
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(ctx.getPoint(CPoint(x, y)), kTeal);
    ctx.setFillColor(kRed);
    ctx.fillRect(CRect(2, 3, 6, 5));  // half-open: columns 2..5, rows 3..4
    EXPECT_EQ(ctx.getPoint(CPoint(2, 3)), kRed);
    EXPECT_EQ(ctx.getPoint(CPoint(5, 4)), kRed);
    EXPECT_EQ(ctx.getPoint(CPoint(6, 4)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(5, 5)), kTeal);
    ctx.setFrameColor(kGreen);
    ctx.drawLine(CPoint(10, 2), CPoint(10, 8));  // both ends drawn
    EXPECT_EQ(ctx.getPoint(CPoint(10, 2)), kGreen);
    EXPECT_EQ(ctx.getPoint(CPoint(10, 8)), kGreen);
    EXPECT_EQ(ctx.getPoint(CPoint(10, 9)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(11, 5)), kTeal);
    ctx.drawRect(CRect(12, 12, 16, 16));  // outline through both corners
    EXPECT_EQ(ctx.getPoint(CPoint(12, 12)), kGreen);
    EXPECT_EQ(ctx.getPoint(CPoint(16, 16)), kGreen);
    EXPECT_EQ(ctx.getPoint(CPoint(14, 14)), kTeal);
    // The offset moves everything; the clip stops it.
    ctx.setOffset(CPoint(1, 1));
    ctx.pushClip(CRect(0, 0, 2, 2));
    ctx.fillRect(CRect(0, 0, 10, 10));
    ctx.popClip();
    EXPECT_EQ(ctx.getPoint(CPoint(1, 1)), kRed);
    EXPECT_EQ(ctx.getPoint(CPoint(2, 2)), kRed);
    EXPECT_EQ(ctx.getPoint(CPoint(3, 1)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(1, 3)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(0, 0)), kTeal);
}

TEST(DrawContext, FontTableAndArialResolvesToAMetricCompatibleFace)
{
    const int heights[] = {12, 18, 14, 12, 11, 10, 9, 13};
    for (int id = 0; id < 8; ++id)
        EXPECT_EQ(CDrawContext::fontHeight(id), heights[id]) << id;
    EXPECT_EQ(CDrawContext::fontHeight(8), 12);  // outside 0..7 means 0
    EXPECT_EQ(CDrawContext::fontHeight(-1), 12);
    EXPECT_STREQ(CDrawContext::fontFace(7), "Symbol");
    EXPECT_STREQ(CDrawContext::fontFace(4), "Arial");
    COffscreenContext ctx(nullptr, 10, 10);
    ctx.setFont(kNormalFontSmall);
    cairo_scaled_font_t* font = cairo_get_scaled_font(ctx.getCairo());
    ASSERT_EQ(cairo_scaled_font_get_type(font), CAIRO_FONT_TYPE_FT);
    FT_Face face = cairo_ft_scaled_font_lock_face(font);
    ASSERT_NE(face, nullptr);
    const std::string family = face->family_name ? face->family_name : "";
    cairo_ft_scaled_font_unlock_face(font);
    EXPECT_TRUE(family == "Arial" || family == "Liberation Sans") << family;
}

TEST(DrawContext, TextIsCentredInItsRectangle)
{
    COffscreenContext ctx(nullptr, 80, 20, kTeal);
    ctx.setFont(kNormalFontSmall);
    ctx.setFontColor(kAmber);
    ctx.drawString("Ratio", CRect(10, 4, 70, 16));
    // The inked pixels' extent is centred on the rectangle (to a pixel of rounding).
    int left = 80, right = -1, top = 20, bottom = -1;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 80; ++x)
            if (ctx.getPoint(CPoint(x, y)) != kTeal) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GE(right, left);
    EXPECT_NEAR((left + right + 1) / 2.0, 40.0, 1.5);
    EXPECT_GE(left, 10);
    EXPECT_LT(right, 70);
    EXPECT_GE(top, 4);
    EXPECT_LT(bottom, 16);
}

TEST(Bitmap, BuiltInPicturesHaveTheirSizes)
{
    const struct {
        long id;
        int w, h;
    } pictures[] = {{10056, 788, 390}, {10057, 15, 32}, {10058, 15, 48},
                    {10059, 189, 98},  {10060, 15, 16}, {10002, 787, 390}};
    for (const auto& p : pictures) {
        auto* pic = new CBitmap(p.id);
        EXPECT_TRUE(pic->isLoaded()) << p.id;
        EXPECT_EQ(pic->getWidth(), p.w) << p.id;
        EXPECT_EQ(pic->getHeight(), p.h) << p.id;
        pic->release();
    }
    auto* missing = new CBitmap(12345L);
    EXPECT_FALSE(missing->isLoaded());
    EXPECT_EQ(missing->getWidth(), 0);
    missing->release();
}

TEST(Bitmap, TransparentDrawingLeavesOutTheTransparentColour)
{
    auto* pic = new CBitmap(4, 1);  // white
    {
        COffscreenContext pc(pic);
        pc.setFillColor(kRed);
        pc.fillRect(CRect(1, 0, 2, 1));
        pc.setFillColor(kTeal);
        pc.fillRect(CRect(3, 0, 4, 1));
    }
    COffscreenContext ctx(nullptr, 6, 1, kGreen);
    pic->drawTransparent(&ctx, CRect(1, 0, 5, 1));
    EXPECT_EQ(ctx.getPoint(CPoint(0, 0)), kGreen);
    EXPECT_EQ(ctx.getPoint(CPoint(1, 0)), kGreen);  // white: left out
    EXPECT_EQ(ctx.getPoint(CPoint(2, 0)), kRed);
    EXPECT_EQ(ctx.getPoint(CPoint(3, 0)), kGreen);
    EXPECT_EQ(ctx.getPoint(CPoint(4, 0)), kTeal);
    pic->setTransparentColor(kRed);
    pic->drawTransparent(&ctx, CRect(1, 0, 5, 1));
    EXPECT_EQ(ctx.getPoint(CPoint(1, 0)), kWhiteCColor);
    EXPECT_EQ(ctx.getPoint(CPoint(2, 0)), kRed);  // left as it was
    // Plain drawing copies 1:1 from the source offset.
    pic->draw(&ctx, CRect(0, 0, 2, 1), CPoint(2, 0));
    EXPECT_EQ(ctx.getPoint(CPoint(0, 0)), kWhiteCColor);
    EXPECT_EQ(ctx.getPoint(CPoint(1, 0)), kTeal);
    pic->release();
}

class TextControls : public ::testing::TestWithParam<bool> {};

TEST_P(TextControls, DrawBackgroundAndCentredTextInTheirColours)
{
    CLabel asLabel(CRect(10, 5, 70, 17), "Ratio");
    CFormatDisplay asDisplay(CRect(10, 5, 70, 17));
    asDisplay.setText("Ratio");
    CParamDisplay& label = GetParam() ? static_cast<CParamDisplay&>(asLabel) : asDisplay;
    label.setFont(kNormalFontSmall);
    label.setFontColor(kAmber);
    label.setBackColor(kTeal);
    EXPECT_TRUE(label.isDirty());
    COffscreenContext ctx(nullptr, 80, 22, kGreen);
    label.draw(&ctx);
    EXPECT_FALSE(label.isDirty());
    EXPECT_EQ(ctx.getPoint(CPoint(10, 5)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(69, 16)), kTeal);
    EXPECT_EQ(ctx.getPoint(CPoint(70, 16)), kGreen);
    EXPECT_EQ(ctx.getPoint(CPoint(9, 5)), kGreen);
    // Smoothed text: weigh each pixel by how far it moved from the background towards
    // the text colour (0 background .. 1 text colour, from the red channel).
    double weight = 0, sumX = 0, strongest = 0;
    for (int y = 5; y < 17; ++y)
        for (int x = 10; x < 70; ++x) {
            const CColor c = ctx.getPoint(CPoint(x, y));
            const double w = double(c.red - kTeal.red) / double(kAmber.red - kTeal.red);
            weight += w;
            sumX += w * x;
            strongest = std::max(strongest, w);
        }
    ASSERT_GT(weight, 10.0);
    EXPECT_GT(strongest, 0.9);  // some pixels are (nearly) the text colour itself
    EXPECT_NEAR(sumX / weight, (11 + 70) / 2.0, 3.0);  // centred in (left + 1 .. right)
}

INSTANTIATE_TEST_SUITE_P(LabelAndFormatDisplay, TextControls, ::testing::Bool());

TEST(ParamDisplay, TextIsCutTo255Characters)
{
    CParamDisplay display(CRect(0, 0, 10, 10));
    const std::string longText(300, 'x');
    display.setText(longText.c_str());
    EXPECT_EQ(std::strlen(display.getText()), 255u);
    display.setText(nullptr);
    EXPECT_STREQ(display.getText(), "");
}

TEST(KickButton, ModifierClickTogglesThenReturnsToZero)
{
    Recorder rec;
    CKickButton kick(CRect(0, 0, 15, 16), &rec, 46, nullptr, 16);
    COffscreenContext ctx(nullptr, 15, 16);
    kick.draw(&ctx);
    CPoint p(3, 3);
    kick.onMouseDown(&ctx, p, kLButton | kShift);
    EXPECT_EQ(rec.values, (std::vector<float>{1.f, 0.f}));
    kick.onMouseDown(&ctx, p, kRButton);  // not a left click
    EXPECT_EQ(rec.values.size(), 2u);
}

TEST(KickButton, DrawsTheSecondFrameWhileTheValueIsNotZero)
{
    auto* pic = stackedPicture(15, 16, {kRed, kGreen});
    CKickButton kick(CRect(0, 0, 15, 16), nullptr, 46, pic, 16);
    pic->release();
    COffscreenContext ctx(nullptr, 15, 16);
    kick.draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(7, 7)), kRed);
    kick.setValue(0.5f);
    kick.draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(7, 7)), kGreen);
}

TEST(SplashScreen, ShowsModallyAboveEverythingAndNotifiesWhenHidden)
{
    Recorder rec;
    CFrame frame(CRect(0, 0, 100, 60), nullptr, nullptr);
    auto* bar =
        new CVerticalBarControl(1, nullptr, CRect(10, 10, 26, 50), kTeal, kTeal, kAmber, 66);
    frame.addView(bar);
    auto* title = solidPicture(100, 60, kRed);
    auto* splash = new CSplashScreen(CRect(80, 0, 100, 10), &rec, 58, title, CRect(0, 0, 100, 60));
    title->release();
    frame.addView(splash);
    auto* later = new CProbe(CRect(40, 20, 60, 40));  // added after the splash screen
    later->colour = kGreen;
    frame.addView(later);
    COffscreenContext ctx(&frame, 100, 60);
    frame.draw(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(90, 5)), kGreyCColor);  // hidden: only its click area, undrawn
    CPoint click(85, 5);
    frame.onMouseDown(&ctx, click, kLButton);
    EXPECT_EQ(frame.getModalView(), splash);
    EXPECT_TRUE(rec.values.empty());
    EXPECT_EQ(ctx.getPoint(CPoint(15, 30)), kRed);
    // Changes below it stay dirty and undrawn while it is shown, also through a repaint.
    bar->setValue(1.f);
    frame.drawDirtyViews(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(15, 30)), kRed);
    EXPECT_TRUE(bar->isDirty());
    frame.drawRect(&ctx, CRect(0, 0, 100, 60));
    EXPECT_EQ(ctx.getPoint(CPoint(50, 30)), kRed);
    // Clicks reach only the modal view; the next one hides it.
    CPoint anywhere(50, 30);
    frame.onMouseDown(&ctx, anywhere, kLButton);
    EXPECT_EQ(frame.getModalView(), nullptr);
    EXPECT_EQ(splash->getViewSize(), CRect(80, 0, 100, 10));
    EXPECT_EQ(rec.values, (std::vector<float>{0.f}));
    EXPECT_EQ(later->clicks.size(), 0u);
    frame.drawDirtyViews(&ctx);
    EXPECT_EQ(ctx.getPoint(CPoint(15, 30)), kAmber);
    EXPECT_EQ(ctx.getPoint(CPoint(50, 30)), kGreen);
}

TEST(OptionMenu, EntriesSeparatorsAndSubMenus)
{
    auto* menu = new COptionMenu(CRect(0, 0, 15, 16), nullptr, 59);
    auto* sub = new COptionMenu(CRect(), nullptr, 63);
    EXPECT_TRUE(menu->addEntry(sub, "Process"));
    EXPECT_EQ(sub->referenceCount(), 2);
    sub->release();
    EXPECT_TRUE(menu->addEntry("-"));
    EXPECT_TRUE(menu->addEntry("Export to .bmp"));
    EXPECT_EQ(menu->getNbEntries(), 3);
    EXPECT_EQ(menu->getSubMenu(0), sub);
    EXPECT_STREQ(menu->getEntry(0), "Process");
    EXPECT_TRUE(menu->isSeparator(1));
    EXPECT_FALSE(menu->isSeparator(2));
    EXPECT_EQ(menu->getEntry(3), nullptr);
    // Without a window there is nothing to pop up.
    EXPECT_FALSE(menu->popup(nullptr, 0, 16));
    menu->release();
}

TEST(OptionMenu, FaceOnlyStyleDrawsJustThePicture)
{
    auto* face = solidPicture(15, 16, kGreen);
    COptionMenu menu(CRect(2, 2, 17, 18), nullptr, 59, face, kNoTextStyle);
    face->release();
    menu.addEntry("Export to .bmp");
    COffscreenContext ctx(nullptr, 20, 20, kTeal);
    menu.draw(&ctx);
    for (int y = 2; y < 18; ++y)
        for (int x = 2; x < 17; ++x)
            ASSERT_EQ(ctx.getPoint(CPoint(x, y)), kGreen) << x << "," << y;
    EXPECT_EQ(ctx.getPoint(CPoint(17, 10)), kTeal);
}

namespace {
// Library caches go back after the last test (see LibraryCaches.h).
const ::testing::Environment* const gLibraryCaches =
    ::testing::AddGlobalTestEnvironment(new skvtest::CLibraryCaches);
}  // namespace
