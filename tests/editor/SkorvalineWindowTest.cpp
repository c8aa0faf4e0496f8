// The editor window through real X input and screenshots: what the window shows against an
// off-screen render of the same frame, drags on bars and on the filter-map display, and a
// host that closes the editor from inside audioMasterIdle while a gesture or a menu runs.
// The test thread is the user-interface thread: it calls idle as a host does; the steps of a
// gesture are played from inside audioMasterIdle, which the gesture's own loop calls.
#include "editor/controls/BarControl.h"
#include "editor/controls/BitmapControl.h"
#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"

#include "tests/editor/EditorFixture.h"
#include "tests/editor/EditorTestSupport.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <cairo.h>

#include <cmath>

using namespace VSTGUI;
using skvtest::callsOf;
using skvtest::gIdleHook;

namespace {

class SkorvalineWindowTest : public skvtest::CXTestEditorFixture {
protected:
    void moveTo(int x, int y)
    {
        XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
        skvtest::syncAll(display, editor->getFrame());
    }
    void button(bool down)
    {
        XTestFakeButtonEvent(display, 1, down ? True : False, CurrentTime);
        skvtest::syncAll(display, editor->getFrame());
    }
    // Plays script from inside audioMasterIdle; idles like a host until it is done (or the
    // frame is gone and nothing is left to drive).
    void run(skvtest::CUserScript& script, int maxIdles = 400)
    {
        gIdleHook = [&script] { script.step(); };
        for (int i = 0; i < maxIdles && !script.finished(); ++i) {
            script.step();
            editor->idle();
        }
        gIdleHook = nullptr;
    }
    // Frame coordinates of a view's centre (the parent lies at the screen's corner).
    static CPoint centreOf(CView* view)
    {
        const CRect r = view->frameRect();
        return CPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    int topLevelWindows()
    {
        Window root, par, *children = nullptr;
        unsigned n = 0;
        XQueryTree(display, DefaultRootWindow(display), &root, &par, &children, &n);
        int mapped = 0;
        for (unsigned i = 0; i < n; ++i) {
            XWindowAttributes a;
            if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable)
                ++mapped;
        }
        if (children)
            XFree(children);
        return mapped;
    }
};

CColor pixelAt(XImage* image, int x, int y)
{
    const unsigned long p = XGetPixel(image, x, y);
    return CColor{std::uint8_t((p >> 16) & 0xFF), std::uint8_t((p >> 8) & 0xFF),
                  std::uint8_t(p & 0xFF), 0};
}

bool sameRgb(const CColor& a, const CColor& b)
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

TEST_F(SkorvalineWindowTest, ScreenMatchesTheOffscreenRenderAndTheColours)
{
    fx->setParameter(43, 0.5f);
    ASSERT_TRUE(open());
    for (int i = 0; i < 3; ++i)
        editor->idle();
    XSync(editor->getFrame()->getDisplay(), False);
    XImage* shot =
        XGetImage(display, editor->getFrame()->getWindow(), 0, 0, 788, 390, AllPlanes, ZPixmap);
    ASSERT_NE(shot, nullptr);
    COffscreenContext render(editor->getFrame(), 788, 390, kBlackCColor);
    editor->getFrame()->drawRect(&render, editor->getFrame()->getViewSize());

    // The screenshot beside the test program, for people to look at.
    cairo_surface_t* png = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 788, 390);
    auto* rows = cairo_image_surface_get_data(png);
    const int stride = cairo_image_surface_get_stride(png);
    int differing = 0;
    for (int y = 0; y < 390; ++y) {
        for (int x = 0; x < 788; ++x) {
            const CColor c = pixelAt(shot, x, y);
            differing += sameRgb(c, render.getPoint(CPoint(x, y))) ? 0 : 1;
            reinterpret_cast<std::uint32_t*>(rows + y * stride)[x] =
                (std::uint32_t(c.red) << 16) | (std::uint32_t(c.green) << 8) | c.blue;
        }
    }
    cairo_surface_mark_dirty(png);
    cairo_surface_write_to_png(png, "skorvaline-editor-window.png");
    cairo_surface_destroy(png);
    EXPECT_EQ(differing, 0);

    // Left panel (10,10)-(565,190): corner outside the rounding, border, fill.
    EXPECT_TRUE(sameRgb(pixelAt(shot, 10, 10), skvtest::kMid));
    EXPECT_TRUE(sameRgb(pixelAt(shot, 300, 10), skvtest::kLight));
    EXPECT_TRUE(sameRgb(pixelAt(shot, 300, 14), skvtest::kSky));
    // Mix bar (710,65)-(726,194) at 0.5: trough at the top, fill at the bottom.
    EXPECT_TRUE(sameRgb(pixelAt(shot, 718, 68), skvtest::kTeal) &&
                sameRgb(pixelAt(shot, 718, 190), skvtest::kAmber));
    XDestroyImage(shot);
}

TEST_F(SkorvalineWindowTest, BarDragIsAnAutomatedGesture)
{
    ASSERT_TRUE(open());
    CBarControl* bar = editor->getBar(43);
    const CRect r = bar->frameRect();
    const CPoint c = centreOf(bar);
    skvtest::CUserScript script;
    script.then([&] { moveTo(c.h, c.v); });
    script.then([&] { button(true); });
    script.then([&] { moveTo(c.h, r.bottom - 3); });  // value 0 at the bottom
    script.then([&] { button(false); });
    run(script);
    editor->idle();
    EXPECT_EQ(callsOf(audioMasterBeginEdit, 43), 1u);
    EXPECT_EQ(callsOf(audioMasterEndEdit, 43), 1u);
    EXPECT_GE(callsOf(audioMasterAutomate, 43), 1u);
    EXPECT_LT(fx->getParameter(43), 0.05f);
}

TEST_F(SkorvalineWindowTest, FilterMapDragAutomatesTheVerticalOffset)
{
    ASSERT_TRUE(open());
    CBitmapControl* map = editor->getFilterMapControl(true);
    const CPoint c = centreOf(map);
    skvtest::CUserScript script;
    script.then([&] { moveTo(c.h, c.v); });
    script.then([&] { button(true); });
    script.then([&] { moveTo(c.h, c.v + 40); });
    script.then([&] { button(false); });
    run(script);
    EXPECT_EQ(map->getLastReport(), 29);
    EXPECT_GE(callsOf(audioMasterAutomate, 29), 1u);
    EXPECT_FLOAT_EQ(fx->getParameter(29), map->getVerticalOffset());
}

TEST_F(SkorvalineWindowTest, CloseInsideABarDragEndsItAndTheFrameGoesAfterwards)
{
    ASSERT_TRUE(open());
    const CPoint c = centreOf(editor->getBar(44));
    skvtest::CUserScript script;
    script.then([&] { moveTo(c.h, c.v); });
    script.then([&] { button(true); });
    script.then([&] { moveTo(c.h, c.v + 10); },
                [] { return callsOf(audioMasterBeginEdit, 44) > 0; });
    // The host closes from inside audioMasterIdle, which the drag loop calls.
    script.then([&] { editor->close(); });
    run(script);
    EXPECT_EQ(editor->getFrame(), nullptr);
    EXPECT_FALSE(editor->isOpen());
    EXPECT_EQ(callsOf(audioMasterEndEdit, 44), 1u);
}

TEST_F(SkorvalineWindowTest, OpenInsideABarDragIsRefusedUntilTheDragUnwound)
{
    ASSERT_TRUE(open());
    const CPoint c = centreOf(editor->getBar(44));
    bool reopened = true;
    skvtest::CUserScript script;
    script.then([&] { moveTo(c.h, c.v); });
    script.then([&] { button(true); });
    script.then([&] { reopened = open(); }, [] { return callsOf(audioMasterBeginEdit, 44) > 0; });
    run(script);
    EXPECT_FALSE(reopened);
    EXPECT_EQ(editor->getFrame(), nullptr);
    EXPECT_TRUE(open());
}

TEST_F(SkorvalineWindowTest, CloseWhileTheFilterMapMenuIsOpen)
{
    ASSERT_TRUE(open());
    const int before = topLevelWindows();
    const CPoint c = centreOf(editor->getControl(59));
    skvtest::CUserScript script;
    script.then([&] { moveTo(c.h, c.v); });
    script.then([&] { button(true); });
    script.then([&] { button(false); }, [&] { return topLevelWindows() > before; });
    script.then([&] { editor->close(); });
    run(script);
    EXPECT_EQ(editor->getFrame(), nullptr);
    EXPECT_EQ(topLevelWindows(), before);  // the pop-up is gone too
}

TEST_F(SkorvalineWindowTest, TwoInstancesAreIndependent)
{
    Window secondParent =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 800, 0, 788, 390, 0, 0, 0);
    XMapWindow(display, secondParent);
    XSync(display, False);
    auto other = std::make_unique<fxSkorvalineEdit>(&skvtest::hostCallback);
    ASSERT_TRUE(other->getWindow()->open(reinterpret_cast<void*>(secondParent)));
    ASSERT_TRUE(open());
    const float otherBefore = other->getParameter(43);
    const CPoint c = centreOf(editor->getBar(43));
    skvtest::CUserScript script;
    script.then([&] { moveTo(c.h, c.v); });
    script.then([&] { button(true); });
    script.then([&] { moveTo(c.h, c.v - 30); });
    script.then([&] { button(false); });
    run(script);
    other->getWindow()->idle();
    EXPECT_NE(fx->getParameter(43), otherBefore);
    EXPECT_EQ(other->getParameter(43), otherBefore);
    EXPECT_EQ(other->getWindow()->getBar(43)->getValue(), otherBefore);
    other.reset();
    XDestroyWindow(display, secondParent);
}

}  // namespace
