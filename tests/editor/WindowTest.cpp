// Window tests on a real X display (the test command starts a private Xvfb): a frame on a
// test parent window, gestures driven through XTest and XDND messages sent by a source
// written here. Everything runs on the test's one thread: a gesture's steps are played from
// inside the control's own modal loop (through the editor's runIdleWork), each followed by
// round trips that make the frame see it on its next pointer query or event read, so no
// step depends on timing. The input lock keeps parallel test processes off the shared
// pointer. Skipped only when DISPLAY is unset; a display that is set but unreachable fails.
#include "editor/controls/BarControl.h"
#include "editor/toolkit/Bitmap.h"
#include "editor/controls/BitmapControl.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/Frame.h"
#include "editor/toolkit/GUIEditor.h"
#include "editor/toolkit/KickButton.h"
#include "editor/controls/Label.h"
#include "editor/toolkit/OptionMenu.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "resources/BuiltInResources.h"
#include "vst/AudioEffectX.h"

// gtest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "tests/editor/EditorTestSupport.h"
#include "tests/editor/XTestSession.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace VSTGUI;
using skvtest::kAmber;
using skvtest::kSky;
using skvtest::kTeal;
using skvtest::syncAll;

namespace {

// What the host and the listener saw, in order.
struct Seen {
    std::string what;  // "begin", "end" or "value"
    long tag;
    float value;
    bool operator==(const Seen& o) const
    {
        return what == o.what && tag == o.tag && value == o.value;
    }
};
std::vector<Seen> gSeen;

std::ostream& operator<<(std::ostream& os, const Seen& s)
{
    return os << s.what << " " << s.tag << " " << s.value;
}

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float)
{
    if (opcode == audioMasterBeginEdit)
        gSeen.push_back({"begin", index, 0.f});
    if (opcode == audioMasterEndEdit)
        gSeen.push_back({"end", index, 0.f});
    return 0;
}

class TestEffect : public AudioEffectX {
public:
    TestEffect() : AudioEffectX(hostCallback, 1, 60) {}
};

// Owns the frame the way a plug-in editor does and draws controls like the editor's
// listener ("update the control"). Its idle work plays the script of the running gesture.
class TestEditor : public AEffGUIEditor, public CControlListener {
public:
    TestEditor(AudioEffect* e, Display* input) : AEffGUIEditor(e), input(input) {}
    void setFrame(CFrame* f) { frame = f; }
    void valueChanged(CDrawContext* context, CControl* control) override
    {
        gSeen.push_back({"value", control->getTag(), control->getValue()});
        lastControl = control;
        control->redrawIfDirty(context);
    }
    void runIdleWork() override
    {
        script.step();
        // A gesture that no longer advances (a step waiting for something that never comes)
        // is ended by letting go of everything, so that the test fails instead of hanging.
        if (script.turnsWithoutProgress() > kStuckTurns && !stuck) {
            stuck = true;
            skvtest::releaseAllInput(input);
            KeyCode esc = XKeysymToKeycode(input, XK_Escape);
            XTestFakeKeyEvent(input, esc, True, CurrentTime);
            XTestFakeKeyEvent(input, esc, False, CurrentTime);
            syncAll(input, frame);
        }
        AEffGUIEditor::runIdleWork();
    }

    static constexpr int kStuckTurns = 1000;
    skvtest::CUserScript script;
    CControl* lastControl = nullptr;
    bool stuck = false;

private:
    Display* input;
};

class WindowTest : public ::testing::Test {
protected:
    // The parent window's place on the screen (1280 x 1024): room on every side, so that
    // the pointer can leave the frame in any direction.
    static constexpr int kOriginX = 240;
    static constexpr int kOriginY = 160;
    static constexpr int kWidth = 400;
    static constexpr int kHeight = 250;

    void SetUp() override
    {
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name)
            GTEST_SKIP() << "DISPLAY is not set";
        lock = std::make_unique<skvtest::CXInputLock>();
        ASSERT_TRUE(lock->held()) << "cannot lock " << lock->getPath();
        display = VSTGUI::openDisplay();
        ASSERT_NE(display, nullptr) << "cannot connect to the X display " << name;
        int ev, err, major, minor;
        if (!XTestQueryExtension(display, &ev, &err, &major, &minor))
            GTEST_SKIP() << "the X server lacks XTest";
        skvtest::releaseAllInput(display);
        // Override-redirect: a window manager, if there is one, leaves it where we put it.
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        attrs.background_pixel = BlackPixel(display, DefaultScreen(display));
        parent = XCreateWindow(display, DefaultRootWindow(display), kOriginX, kOriginY, kWidth,
                               kHeight, 0, CopyFromParent, InputOutput, CopyFromParent,
                               CWOverrideRedirect | CWBackPixel, &attrs);
        XMapRaised(display, parent);
        XSync(display, False);
        editor = std::make_unique<TestEditor>(&effect, display);
        frame =
            new CFrame(CRect(0, 0, kWidth, kHeight), reinterpret_cast<void*>(parent), editor.get());
        editor->setFrame(frame);
        ASSERT_TRUE(frame->isOpen());
        settle();
        // Clicks must land on our window: nothing of another client may lie above it.
        moveTo(5, 5);
        Window root, child;
        int rx, ry, wx, wy;
        unsigned int mask;
        XQueryPointer(display, parent, &root, &child, &rx, &ry, &wx, &wy, &mask);
        ASSERT_EQ(child, frame->getWindow()) << "another window covers the test window";
        moveTo(-20, -20);
        settle();
        gSeen.clear();
    }

    void TearDown() override
    {
        if (display) {
            if (editor)
                editor->close();  // releases the frame
            editor.reset();
            if (parent)
                XDestroyWindow(display, parent);
            skvtest::releaseAllInput(display);
            XCloseDisplay(display);
        }
        lock.reset();
    }

    // Lets the frame handle whatever the server has for it.
    void settle()
    {
        for (int i = 0; i < 3; ++i) {
            syncAll(display, frame);
            editor->idle();
        }
    }

    // Input in frame coordinates (the frame sits at the parent's origin).
    void moveTo(int x, int y)
    {
        XTestFakeMotionEvent(display, DefaultScreen(display), kOriginX + x, kOriginY + y,
                             CurrentTime);
        syncAll(display, frame);
    }
    void button(unsigned b, bool down)
    {
        XTestFakeButtonEvent(display, b, down, CurrentTime);
        syncAll(display, frame);
    }
    void key(KeySym sym, bool down)
    {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), down, CurrentTime);
        syncAll(display, frame);
    }
    void tap(KeySym sym)
    {
        key(sym, true);
        key(sym, false);
    }

    // Runs the frame until the scripted gesture has played out: the press that starts it
    // is in the frame's queue, and the control's modal loop plays the rest.
    void play()
    {
        for (int i = 0; i < 20 && !editor->script.finished() && !editor->stuck; ++i) {
            syncAll(display, frame);
            editor->idle();
        }
        EXPECT_TRUE(editor->script.finished())
            << "the gesture stopped after step " << editor->script.stepsRun();
        EXPECT_FALSE(editor->stuck) << "the gesture made no progress and was broken off";
        editor->script.clear();
        settle();
    }

    // A label over much of the frame, attached and drawn.
    CLabel* addLabel()
    {
        auto* label = new CLabel(CRect(40, 30, 258, 160), "Analysing left channel");
        frame->addView(label);
        settle();
        return label;
    }

    // Mapped pop-up menu windows, bottom first, in frame coordinates.
    std::vector<CRect> menuWindows()
    {
        syncAll(display, frame);
        std::vector<CRect> found;
        Window root, par, *kids = nullptr;
        unsigned n = 0;
        if (!XQueryTree(display, DefaultRootWindow(display), &root, &par, &kids, &n))
            return found;
        for (unsigned i = 0; i < n; ++i) {
            XClassHint hint{};
            if (!XGetClassHint(display, kids[i], &hint))
                continue;
            const bool ours = hint.res_class && std::strcmp(hint.res_class, kMenuWindowClass) == 0;
            XFree(hint.res_name);
            XFree(hint.res_class);
            XWindowAttributes wa;
            if (ours && XGetWindowAttributes(display, kids[i], &wa) && wa.map_state == IsViewable)
                found.emplace_back(wa.x - kOriginX, wa.y - kOriginY, wa.x - kOriginX + wa.width,
                                   wa.y - kOriginY + wa.height);
        }
        if (kids)
            XFree(kids);
        return found;
    }
    // The centre of an item of a menu window, given the items and separators above it.
    static CPoint menuItem(const CRect& menu, int itemsBefore, int separatorsBefore = 0)
    {
        return CPoint(menu.left + 20, menu.top + kMenuPadding + itemsBefore * kMenuItemHeight +
                                          separatorsBefore * kMenuSeparatorHeight +
                                          kMenuItemHeight / 2);
    }

    // The filter-map menu of the editor: "Load Preset BMP" and "Process" sub-menus, then
    // "Export to .bmp".
    COptionMenu* addFilterMapMenu(long style = kNoTextStyle)
    {
        auto* menu = new COptionMenu(CRect(100, 20, 115, 36), editor.get(), 59, nullptr, style);
        presets = new COptionMenu(CRect(), editor.get(), 61);
        for (const char* e : {"1 - Fractal Mayhem (v1)", "2 - Digital Interference (v1.2)",
                              "3 - Title Screen (v1.2)"})
            presets->addEntry(e);
        process = new COptionMenu(CRect(), editor.get(), 63);
        for (const char* e : {"Rotate Clockwise", "Flip Horizontal", "Flip Vertical",
                              "Normalize (columns)", "Normalize (all)", "Differences",
                              "Differences (absolute)", "Invert", "-", "Convert to 24-bit BMP"})
            process->addEntry(e);
        menu->addEntry(presets, "Load Preset BMP");
        menu->addEntry(process, "Process");
        menu->addEntry("Export to .bmp");
        presets->release();
        process->release();
        frame->addView(menu);
        settle();
        return menu;
    }

    std::unique_ptr<skvtest::CXInputLock> lock;
    Display* display = nullptr;
    Window parent = 0;
    TestEffect effect;
    std::unique_ptr<TestEditor> editor;
    CFrame* frame = nullptr;
    COptionMenu* presets = nullptr;
    COptionMenu* process = nullptr;
};

// A view that records the drops it receives.
class CDropProbe : public CView {
public:
    using CView::CView;
    bool onDrop(const std::vector<std::string>& it, long k, const CPoint& w) override
    {
        items = it;
        kind = k;
        where = w;
        return true;
    }
    bool acceptsDrop(const std::vector<std::string>&, long, const CPoint&) const override
    {
        return true;
    }
    std::vector<std::string> items;
    long kind = -1;
    CPoint where;
};

// The source side of an XDND drag, on a connection of its own: sends the protocol's
// messages to the frame's window and serves the data the frame asks for.
class CDragSource {
public:
    CDragSource(CFrame* f, TestEditor* e, const std::string& type, std::string data)
        : frame(f), editor(e), payload(std::move(data))
    {
        d = VSTGUI::openDisplay();
        window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
        dataType = atom(type.c_str());
        XSetSelectionOwner(d, atom("XdndSelection"), window, CurrentTime);
        XSync(d, False);
    }
    ~CDragSource()
    {
        XDestroyWindow(d, window);
        XCloseDisplay(d);
    }
    Atom atom(const char* n) { return XInternAtom(d, n, False); }
    void send(const char* type, long l0, long l1, long l2, long l3, long l4)
    {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = frame->getWindow();
        e.xclient.message_type = atom(type);
        e.xclient.format = 32;
        e.xclient.data.l[0] = l0;
        e.xclient.data.l[1] = l1;
        e.xclient.data.l[2] = l2;
        e.xclient.data.l[3] = l3;
        e.xclient.data.l[4] = l4;
        XSendEvent(d, frame->getWindow(), False, NoEventMask, &e);
        XFlush(d);
    }
    void enter() { send("XdndEnter", long(window), 5L << 24, long(dataType), 0, 0); }
    // At (x, y) in root coordinates.
    void position(int x, int y)
    {
        send("XdndPosition", long(window), 0, (long(x) << 16) | long(y), CurrentTime,
             long(atom("XdndActionCopy")));
    }
    void drop() { send("XdndDrop", long(window), 0, CurrentTime, 0, 0); }

    // One exchange: the server has both sides' requests, the frame handles its events, the
    // source sees the frame's answers and serves data requests.
    void exchange()
    {
        XSync(d, False);
        XSync(frame->getDisplay(), False);
        editor->idle();
        XSync(frame->getDisplay(), False);
        XSync(d, False);
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == ClientMessage && e.xclient.message_type == atom("XdndStatus"))
                status = (e.xclient.data.l[1] & 1) != 0;
            if (e.type == ClientMessage && e.xclient.message_type == atom("XdndFinished")) {
                finished = true;
                accepted = (e.xclient.data.l[1] & 1) != 0;
            }
            if (e.type == SelectionRequest) {
                XSelectionRequestEvent& r = e.xselectionrequest;
                XChangeProperty(d, r.requestor, r.property, r.target, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(payload.data()),
                                int(payload.size()));
                XEvent n{};
                n.xselection.type = SelectionNotify;
                n.xselection.requestor = r.requestor;
                n.xselection.selection = r.selection;
                n.xselection.target = r.target;
                n.xselection.property = r.property;
                n.xselection.time = r.time;
                XSendEvent(d, r.requestor, False, NoEventMask, &n);
                XFlush(d);
            }
        }
    }
    // Exchanges until flag is set (a few rounds always suffice; the bound only ends a
    // broken run).
    bool exchangeUntil(const bool& flag)
    {
        for (int i = 0; i < 10 && !flag; ++i)
            exchange();
        return flag;
    }

    Display* d;
    Window window;
    Atom dataType;
    bool status = false, finished = false, accepted = false;

private:
    CFrame* frame;
    TestEditor* editor;
    std::string payload;
};

}  // namespace

TEST_F(WindowTest, ChildWindowCarriesClassNameAndDropSupport)
{
    Window w = frame->getWindow();
    Window root, par, *kids = nullptr;
    unsigned n = 0;
    XQueryTree(display, w, &root, &par, &kids, &n);
    if (kids)
        XFree(kids);
    EXPECT_EQ(par, parent);
    XWindowAttributes wa;
    XGetWindowAttributes(display, w, &wa);
    EXPECT_EQ(wa.width, kWidth);
    EXPECT_EQ(wa.height, kHeight);
    EXPECT_EQ(wa.map_state, IsViewable);
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(display, w, &hint));
    const std::string cls = hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
    EXPECT_EQ(cls, CFrame::windowClassName());
    ASSERT_EQ(cls.size(), 14u);
    EXPECT_EQ(cls.substr(0, 6), "Plugin");
    EXPECT_EQ(cls.find_first_not_of("0123456789abcdef", 6), std::string::npos) << cls;
    char* name = nullptr;
    ASSERT_TRUE(XFetchName(display, w, &name));
    EXPECT_STREQ(name, "Window");
    XFree(name);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, w, XInternAtom(display, "XdndAware", False), 0, 1, False, XA_ATOM,
                       &type, &format, &count, &after, &data);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(*reinterpret_cast<long*>(data), 5);
    XFree(data);
}

TEST_F(WindowTest, MouseStateBitsComeFromTheServer)
{
    moveTo(50, 50);
    key(XK_Shift_L, true);
    button(1, true);
    EXPECT_EQ(frame->getMouseButtons(), kLButton | kShift);
    CPoint where;
    ASSERT_TRUE(frame->getCurrentLocation(where));
    EXPECT_EQ(where, CPoint(50, 50));
    button(1, false);
    key(XK_Shift_L, false);
    key(XK_Control_L, true);
    button(2, true);
    EXPECT_EQ(frame->getMouseButtons(), kMButton | kControl);
    button(2, false);
    key(XK_Control_L, false);
    button(3, true);
    EXPECT_EQ(frame->getMouseButtons(), kRButton);
    button(3, false);
    EXPECT_EQ(frame->getMouseButtons(), 0);
    // A left-handed pointer mapping: the physical left button acts as the right one.
    unsigned char map[256];
    const int n = XGetPointerMapping(display, map, 256);
    ASSERT_GE(n, 3);
    std::vector<unsigned char> swapped(map, map + n);
    std::swap(swapped[0], swapped[2]);
    ASSERT_EQ(XSetPointerMapping(display, swapped.data(), n), MappingSuccess);
    button(1, true);
    EXPECT_EQ(frame->getMouseButtons(), kRButton);
    button(1, false);
    button(3, true);
    EXPECT_EQ(frame->getMouseButtons(), kLButton);
    button(3, false);
    EXPECT_EQ(XSetPointerMapping(display, map, n), MappingSuccess);  // no button is held now
    settle();
}

TEST_F(WindowTest, BarDragBeginsAndEndsAnEditAroundItsValues)
{
    auto* bar =
        new CVerticalBarControl(7, editor.get(), CRect(20, 20, 36, 149), kTeal, kTeal, kAmber, 66);
    frame->addView(bar);
    settle();
    // Press at y = 84, drag up past the top, then far below the bar, and let go.
    const int path[] = {80, 70, 60, 50, 40, 30, 20, 10, 220};
    for (int y : path)
        editor->script.then([this, y] { moveTo(28, y); });
    editor->script.then([this] { button(1, false); });
    moveTo(28, 84);
    button(1, true);
    play();
    // Value (bottom-up bar): 1 - (y - top - 2) / (height - 4), clamped; a repeated value is
    // not reported.
    std::vector<Seen> expected{{"begin", 7, 0.f}};
    for (int y : {84, 80, 70, 60, 50, 40, 30})
        expected.push_back({"value", 7, 1.f - float(y - 22) / 125.f});
    expected.push_back({"value", 7, 1.f});  // y = 20 and 10: above the top, clamped
    expected.push_back({"value", 7, 0.f});  // y = 220: below the bottom
    expected.push_back({"end", 7, 0.f});
    EXPECT_EQ(gSeen, expected);
    EXPECT_EQ(bar->getValue(), 0.f);
}

TEST_F(WindowTest, FineDragWithShiftMovesInSmallSteps)
{
    auto* bar =
        new CVerticalBarControl(7, editor.get(), CRect(20, 20, 36, 149), kTeal, kTeal, kAmber, 66);
    bar->setValue(0.5f);
    frame->addView(bar);
    settle();
    gSeen.clear();
    // Three loop turns with the pointer at the top: three steps of 0.00025 towards 1.
    editor->script.then([] {});
    editor->script.then([] {});
    editor->script.then([this] { button(1, false); });
    key(XK_Shift_L, true);
    moveTo(28, 22);
    button(1, true);
    play();
    key(XK_Shift_L, false);
    ASSERT_EQ(gSeen.size(), 5u);
    EXPECT_EQ(gSeen.front(), (Seen{"begin", 7, 0.f}));
    EXPECT_EQ(gSeen.back(), (Seen{"end", 7, 0.f}));
    EXPECT_NEAR(bar->getValue(), 0.5f + 3 * 0.00025f, 1e-6f);
}

TEST_F(WindowTest, FilterMapDragStopsAtTheImageEdges)
{
    auto holder = std::make_shared<kfx::CBitmapArrayAnalyser>("L");
    holder->loadFromResource(&skv::CBuiltInResources::instance(), 10000);  // 560 x 281
    holder->setVerticalOffset(0.f);
    auto* map =
        new CBitmapControl(CRect(10, 10, 227, 139), editor.get(), 26, nullptr, kTeal, kSky, kAmber);
    map->setFilterMap(holder);
    frame->addView(map);
    settle();
    // Press at (100, 70); a small move first, then far right and down.
    std::vector<int> seenScroll, seenOffset;
    auto record = [&] {
        seenScroll.push_back(map->getScroll());
        seenOffset.push_back(map->getOffsetPixels());
    };
    editor->script.then([this] { moveTo(90, 80); });
    editor->script.then([&, this] {
        record();
        moveTo(600, 500);
    });
    editor->script.then([&, this] {
        record();
        button(1, false);
    });
    moveTo(100, 70);
    button(1, true);
    play();
    // scroll = 0 + (100 - x), offset = 0 + (y - 70); limits 560 - 217 + 3 and 281 - 129 + 3.
    EXPECT_EQ(seenScroll, (std::vector<int>{10, 0}));
    EXPECT_EQ(seenOffset, (std::vector<int>{10, 155}));
    EXPECT_EQ(map->getLastReport(), 29);
    // From (220, 130) far to the left and up: scroll 0 + 450 stops at 346, offset at 0.
    editor->script.then([this] { moveTo(-230, -150); });
    editor->script.then([this] { button(1, false); });
    moveTo(220, 130);
    button(1, true);
    play();
    EXPECT_EQ(map->getScroll(), 346);
    EXPECT_EQ(map->getOffsetPixels(), 0);
    EXPECT_EQ(std::count(gSeen.begin(), gSeen.end(), Seen{"begin", 26, 0.f}), 2);
    EXPECT_EQ(std::count(gSeen.begin(), gSeen.end(), Seen{"end", 26, 0.f}), 2);
    EXPECT_EQ(gSeen.front(), (Seen{"begin", 26, 0.f}));
    EXPECT_EQ(gSeen.back(), (Seen{"end", 26, 0.f}));
}

TEST_F(WindowTest, KickButtonReportsPressAndReleaseInsideAGesture)
{
    auto* picture = new CBitmap(10057);
    auto* kick = new CKickButton(CRect(100, 100, 115, 116), editor.get(), 46, picture, 16);
    picture->release();
    frame->addView(kick);
    settle();
    editor->script.then([this] { moveTo(150, 150); });  // leaves the button
    editor->script.then([this] { moveTo(110, 105); });  // and comes back
    editor->script.then([this] { button(1, false); });
    moveTo(107, 108);
    button(1, true);
    play();
    EXPECT_EQ(gSeen, (std::vector<Seen>{{"begin", 46, 0.f},
                                        {"value", 46, 1.f},
                                        {"value", 46, 0.f},
                                        {"value", 46, 1.f},
                                        {"end", 46, 0.f},
                                        {"value", 46, 0.f}}));
}

TEST_F(WindowTest, WheelButtonsReachTheViewUnderThePointer)
{
    auto* bar =
        new CVerticalBarControl(7, editor.get(), CRect(20, 20, 36, 149), kTeal, kTeal, kAmber, 66);
    frame->addView(bar);
    settle();
    moveTo(28, 60);
    button(4, true);
    button(4, false);
    button(4, true);
    button(4, false);
    settle();
    EXPECT_FLOAT_EQ(bar->getValue(), 0.2f);
    button(5, true);
    button(5, false);
    settle();
    EXPECT_FLOAT_EQ(bar->getValue(), 0.1f);
    key(XK_Shift_L, true);
    button(4, true);
    button(4, false);
    settle();
    key(XK_Shift_L, false);
    EXPECT_NEAR(bar->getValue(), 0.101f, 1e-6f);
    moveTo(200, 200);  // away from the bar: nothing takes the wheel
    button(4, true);
    button(4, false);
    settle();
    EXPECT_NEAR(bar->getValue(), 0.101f, 1e-6f);
}

TEST_F(WindowTest, SubMenuSelectionReportsTheOwningMenuAndIndex)
{
    COptionMenu* menu = addFilterMapMenu();
    std::vector<CRect> menus, cascaded;
    // Let go of the opening click (it picks nothing), point at "Process", then click
    // "Convert to 24-bit BMP" below the separator.
    editor->script.then([this] { button(1, false); },
                        [&] { return !(menus = menuWindows()).empty(); });
    editor->script.then([&, this] {
        CPoint p = menuItem(menus[0], 1);
        moveTo(p.h, p.v);
    });
    editor->script.then(
        [&, this] {
            CPoint p = menuItem(cascaded[1], 8, 1);  // eight items and the separator above it
            moveTo(p.h, p.v);
        },
        [&] { return (cascaded = menuWindows()).size() == 2; });
    editor->script.then([this] {
        button(1, true);
        button(1, false);
    });
    moveTo(107, 28);
    button(1, true);
    play();
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].left, 100);
    EXPECT_EQ(menus[0].top, 36);  // below the control
    ASSERT_EQ(cascaded.size(), 2u);
    EXPECT_GE(cascaded[1].left, menus[0].right - 4);  // beside its parent item
    EXPECT_EQ(cascaded[1].top, menus[0].top + kMenuItemHeight);
    EXPECT_EQ(editor->lastControl, process);
    EXPECT_EQ(process->getValue(), 9.f);
    long index = -1;
    EXPECT_EQ(menu->getLastItemMenu(index), process);
    EXPECT_EQ(index, 9);
    EXPECT_EQ(gSeen, (std::vector<Seen>{{"value", 63, 9.f}}));
    EXPECT_TRUE(menuWindows().empty());
}

TEST_F(WindowTest, KeyboardWalksIntoASubMenuAndChooses)
{
    COptionMenu* menu = addFilterMapMenu();
    // Down, Down: "Process"; Right opens it on its first item; Up wraps round to the last
    // item, Up again skips the separator; Return chooses.
    editor->script.then([this] { button(1, false); }, [&] { return !menuWindows().empty(); });
    editor->script.then([this] { tap(XK_Down); });
    editor->script.then([this] { tap(XK_Down); });
    editor->script.then([this] { tap(XK_Right); });
    editor->script.then([this] { tap(XK_Up); }, [&] { return menuWindows().size() == 2; });
    editor->script.then([this] { tap(XK_Up); });
    editor->script.then([this] { tap(XK_Return); });
    moveTo(107, 28);
    button(1, true);
    play();
    long index = -1;
    EXPECT_EQ(menu->getLastItemMenu(index), process);
    EXPECT_EQ(index, 7);  // "Invert": up from the first item wraps to 9, then 7 past the separator
    EXPECT_EQ(editor->lastControl, process);
    EXPECT_TRUE(menuWindows().empty());
}

TEST_F(WindowTest, MainMenuItemReportsTheTopMenu)
{
    COptionMenu* menu = addFilterMapMenu(kNoTextStyle | kPopupStyle);
    std::vector<CRect> menus;
    editor->script.then([this] { button(1, false); },
                        [&] { return !(menus = menuWindows()).empty(); });
    editor->script.then([&, this] {
        CPoint p = menuItem(menus[0], 2);
        moveTo(p.h, p.v);
    });
    editor->script.then([this] {
        button(1, true);
        button(1, false);
    });
    moveTo(107, 28);
    button(1, true);
    play();
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].top, 20);  // style 0x200: over the control, from its top
    EXPECT_EQ(editor->lastControl, menu);
    EXPECT_EQ(menu->getValue(), 2.f);
    EXPECT_EQ(gSeen, (std::vector<Seen>{{"value", 59, 2.f}}));
}

TEST_F(WindowTest, EscapeCancelsTheMenu)
{
    addFilterMapMenu();
    editor->script.then([this] { button(1, false); }, [&] { return !menuWindows().empty(); });
    editor->script.then([this] { tap(XK_Escape); });
    moveTo(107, 28);
    button(1, true);
    play();
    EXPECT_EQ(editor->lastControl, nullptr);
    EXPECT_TRUE(gSeen.empty());
    EXPECT_TRUE(menuWindows().empty());
}

TEST_F(WindowTest, ClickOutsideCancelsTheMenu)
{
    addFilterMapMenu();
    editor->script.then([this] { button(1, false); }, [&] { return !menuWindows().empty(); });
    editor->script.then([this] { moveTo(-100, 200); });  // not even on our window
    editor->script.then([this] {
        button(1, true);
        button(1, false);
    });
    moveTo(107, 28);
    button(1, true);
    play();
    EXPECT_EQ(editor->lastControl, nullptr);
    EXPECT_TRUE(gSeen.empty());
    EXPECT_TRUE(menuWindows().empty());
}

TEST_F(WindowTest, XdndDropOfTwoFilesReachesTheLabelUnderThePoint)
{
    auto* label = addLabel();
    CDragSource source(frame, editor.get(), "text/uri-list",
                       "file:///tmp/skv%20drop/first.bmp\r\nfile:///tmp/second.bmp\r\n");
    source.enter();
    source.position(kOriginX + 100, kOriginY + 90);
    EXPECT_TRUE(source.exchangeUntil(source.status));
    source.drop();
    EXPECT_TRUE(source.exchangeUntil(source.finished));
    EXPECT_TRUE(source.accepted);
    EXPECT_STREQ(label->getText(), "2 : /tmp/skv drop/first.bmp at 60");
    settle();
    EXPECT_FALSE(label->isDirty());  // and drawn
}

TEST_F(WindowTest, XdndTextDropArrivesAsKindOne)
{
    auto* probe = new CDropProbe(CRect(200, 100, 300, 200));
    frame->addView(probe);
    settle();
    CDragSource source(frame, editor.get(), "text/plain", "hello, world");
    source.enter();
    source.position(kOriginX + 250, kOriginY + 120);
    EXPECT_TRUE(source.exchangeUntil(source.status));
    source.drop();
    EXPECT_TRUE(source.exchangeUntil(source.finished));
    EXPECT_TRUE(source.accepted);
    EXPECT_EQ(probe->kind, kDropText);
    EXPECT_EQ(probe->items, (std::vector<std::string>{"hello, world"}));
    EXPECT_EQ(probe->where, CPoint(250, 120));
}

TEST_F(WindowTest, DragMessagesNamingAVanishedSourceAreHarmless)
{
    auto* label = addLabel();
    CDragSource source(frame, editor.get(), "text/uri-list", "file:///tmp/x.bmp\r\n");
    // A window that existed once: every request naming it fails with BadWindow, which must
    // not reach Xlib's default handler (it would end the process, that is, the host).
    Window gone = XCreateSimpleWindow(source.d, DefaultRootWindow(source.d), 0, 0, 1, 1, 0, 0, 0);
    XDestroyWindow(source.d, gone);
    XSync(source.d, False);
    source.send("XdndEnter", long(gone), (5L << 24) | 1, 0, 0, 0);  // type list to be read from it
    source.send("XdndPosition", long(gone), 0, ((kOriginX + 100L) << 16) | (kOriginY + 90L),
                CurrentTime, 0);
    source.send("XdndDrop", long(gone), 0, CurrentTime, 0, 0);
    source.exchange();
    source.exchange();
    EXPECT_TRUE(frame->isOpen());
    EXPECT_STREQ(label->getText(), "Analysing left channel");
    // A proper drag afterwards still works.
    source.enter();
    source.position(kOriginX + 100, kOriginY + 90);
    source.drop();
    EXPECT_TRUE(source.exchangeUntil(source.finished));
    EXPECT_STREQ(label->getText(), "1 : /tmp/x.bmp at 60");
}

TEST_F(WindowTest, ParentDestroyedBeforeTheEditorClosesIsSurvived)
{
    addLabel();
    XDestroyWindow(display, parent);
    parent = 0;
    XSync(display, False);
    editor->close();  // the frame's window is gone without the frame having been told
    EXPECT_EQ(editor->getFrame(), nullptr);
}

TEST_F(WindowTest, ParentDestroyedWhileOpenStopsDrawing)
{
    auto* label = addLabel();
    XDestroyWindow(display, parent);
    parent = 0;
    settle();
    EXPECT_FALSE(frame->isOpen());
    label->setText("changed");
    settle();  // nothing to draw into, and no error
    EXPECT_TRUE(label->isDirty());
}

TEST_F(WindowTest, StaleParentWindowLeavesTheFrameWithoutAWindow)
{
    Window gone = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XDestroyWindow(display, gone);
    XSync(display, False);
    auto* orphan = new CFrame(CRect(0, 0, 50, 50), reinterpret_cast<void*>(gone), editor.get());
    EXPECT_FALSE(orphan->isOpen());
    orphan->idle();
    orphan->release();
}
