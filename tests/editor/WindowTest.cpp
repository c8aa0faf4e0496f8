// Window tests on a real X display (test.sh starts Xvfb): a frame on a test parent window,
// gestures driven through XTest from a second connection while the frame idles, and an
// XDND drop sent by a source written here. Skipped when no display is reachable.
#include "editor/BarControl.h"
#include "editor/BitmapControl.h"
#include "editor/DrawContext.h"
#include "editor/Frame.h"
#include "editor/GUIEditor.h"
#include "editor/Label.h"
#include "editor/OptionMenu.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "resources/BuiltInResources.h"
#include "vst/AudioEffectX.h"

// gtest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

using namespace VSTGUI;

namespace {

std::mutex gLogMutex;
std::vector<std::string> gLog;

void logLine(const std::string& s) {
    std::lock_guard<std::mutex> lock(gLogMutex);
    gLog.push_back(s);
}

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float) {
    if (opcode == audioMasterBeginEdit) logLine("begin " + std::to_string(index));
    if (opcode == audioMasterEndEdit) logLine("end " + std::to_string(index));
    return 0;
}

class TestEffect : public AudioEffectX {
public:
    TestEffect() : AudioEffectX(hostCallback, 1, 60) {}
};

// Owns the frame the way a plug-in editor does, and draws controls like the editor's
// listener ("update the control").
class TestEditor : public AEffGUIEditor, public CControlListener {
public:
    explicit TestEditor(AudioEffect* e) : AEffGUIEditor(e) {}
    void setFrame(CFrame* f) { frame = f; }
    void valueChanged(CDrawContext* context, CControl* control) override {
        logLine("value " + std::to_string(control->getTag()) + " " + std::to_string(control->getValue()));
        lastControl = control;
        control->redrawIfDirty(context);
    }
    CControl* lastControl = nullptr;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") || !(display = XOpenDisplay(nullptr))) GTEST_SKIP() << "no X display";
        int ev, err, major, minor;
        if (!XTestQueryExtension(display, &ev, &err, &major, &minor)) GTEST_SKIP() << "no XTest";
        parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 400, 250, 0, 0, 0);
        XMapWindow(display, parent);
        XSync(display, False);
        editor = std::make_unique<TestEditor>(&effect);
        frame = new CFrame(CRect(0, 0, 400, 250), reinterpret_cast<void*>(parent), editor.get());
        editor->setFrame(frame);
        {
            std::lock_guard<std::mutex> lock(gLogMutex);
            gLog.clear();
        }
        // Let the window appear and settle the pointer away from everything.
        XTestFakeMotionEvent(display, DefaultScreen(display), 390, 240, 0);
        XSync(display, False);
        pump(50);
    }
    void TearDown() override {
        if (!display) return;
        editor->close();  // releases the frame
        editor.reset();
        XDestroyWindow(display, parent);
        XCloseDisplay(display);
    }
    // Idles the editor for ms milliseconds.
    void pump(int ms) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            editor->idle();
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    }
    // Runs the user's actions in a thread of its own (own connection) while the editor idles.
    void drive(const std::function<void(Display*)>& user) {
        std::atomic<bool> done{false};
        std::thread t([&] {
            Display* d = XOpenDisplay(nullptr);
            user(d);
            XCloseDisplay(d);
            done = true;
        });
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done && std::chrono::steady_clock::now() < limit) {
            editor->idle();
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        t.join();
        pump(60);
    }
    std::vector<std::string> log() {
        std::lock_guard<std::mutex> lock(gLogMutex);
        return gLog;
    }

    Display* display = nullptr;
    Window parent = 0;
    TestEffect effect;
    std::unique_ptr<TestEditor> editor;
    CFrame* frame = nullptr;
};

void move(Display* d, int x, int y) {
    XTestFakeMotionEvent(d, DefaultScreen(d), x, y, 0);
    XFlush(d);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
}
void button(Display* d, unsigned b, bool down) {
    XTestFakeButtonEvent(d, b, down, 0);
    XFlush(d);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
}

// Mapped pop-up menu windows in stacking order, as root rectangles.
std::vector<CRect> menuWindows(Display* d) {
    std::vector<CRect> found;
    Window root, par, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &par, &kids, &n)) return found;
    for (unsigned i = 0; i < n; ++i) {
        XClassHint hint{};
        if (!XGetClassHint(d, kids[i], &hint)) continue;
        bool ours = hint.res_class && std::strcmp(hint.res_class, kMenuWindowClass) == 0;
        XFree(hint.res_name);
        XFree(hint.res_class);
        XWindowAttributes wa;
        if (ours && XGetWindowAttributes(d, kids[i], &wa) && wa.map_state == IsViewable)
            found.push_back(CRect(wa.x, wa.y, wa.x + wa.width, wa.y + wa.height));
    }
    if (kids) XFree(kids);
    return found;
}

std::vector<CRect> waitForMenus(Display* d, std::size_t count) {
    for (int i = 0; i < 100; ++i) {
        auto m = menuWindows(d);
        if (m.size() >= count) return m;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return menuWindows(d);
}

}  // namespace

TEST_F(WindowTest, ChildWindowCarriesClassNameAndDropSupport) {
    ASSERT_TRUE(frame->isOpen());
    Window w = frame->getWindow();
    Window root, par, *kids = nullptr;
    unsigned n = 0;
    XQueryTree(display, w, &root, &par, &kids, &n);
    if (kids) XFree(kids);
    EXPECT_EQ(par, parent);
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(display, w, &hint));
    EXPECT_EQ(std::string(hint.res_class), CFrame::windowClassName());
    EXPECT_EQ(std::string(hint.res_class).substr(0, 6), "Plugin");
    EXPECT_EQ(std::string(hint.res_class).size(), 14u);
    XFree(hint.res_name);
    XFree(hint.res_class);
    char* name = nullptr;
    ASSERT_TRUE(XFetchName(display, w, &name));
    EXPECT_STREQ(name, "Window");
    XFree(name);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, w, XInternAtom(display, "XdndAware", False), 0, 1, False, XA_ATOM, &type, &format,
                       &count, &after, &data);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(*reinterpret_cast<long*>(data), 5);
    XFree(data);
}

TEST_F(WindowTest, MouseStateBitsComeFromTheServer) {
    KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    XTestFakeMotionEvent(display, DefaultScreen(display), 50, 50, 0);
    XTestFakeKeyEvent(display, shift, True, 0);
    XTestFakeButtonEvent(display, 1, True, 0);
    XSync(display, False);
    EXPECT_EQ(frame->getMouseButtons(), kLButton | kShift);
    CPoint where;
    ASSERT_TRUE(frame->getCurrentLocation(where));
    EXPECT_EQ(where, CPoint(50, 50));
    XTestFakeButtonEvent(display, 1, False, 0);
    XTestFakeKeyEvent(display, shift, False, 0);
    XTestFakeButtonEvent(display, 3, True, 0);
    XSync(display, False);
    EXPECT_EQ(frame->getMouseButtons(), kRButton);
    XTestFakeButtonEvent(display, 3, False, 0);
    XSync(display, False);
    // A left-handed pointer mapping: the physical left button acts as the right one.
    unsigned char map[32];
    int n = XGetPointerMapping(display, map, 32);
    unsigned char swapped[32];
    std::memcpy(swapped, map, sizeof map);
    std::swap(swapped[0], swapped[2]);
    if (XSetPointerMapping(display, swapped, n) == MappingSuccess) {
        XTestFakeButtonEvent(display, 1, True, 0);
        XSync(display, False);
        EXPECT_EQ(frame->getMouseButtons(), kRButton);
        XTestFakeButtonEvent(display, 1, False, 0);
        XSync(display, False);
        while (XSetPointerMapping(display, map, n) == MappingBusy) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pump(30);
}

TEST_F(WindowTest, BarDragBeginsAndEndsAnEditAroundItsValues) {
    auto* bar = new CVerticalBarControl(7, editor.get(), CRect(20, 20, 36, 149), CColor{22, 112, 150, 0},
                                        CColor{22, 112, 150, 0}, CColor{228, 189, 31, 0}, 66);
    frame->addView(bar);
    pump(30);
    drive([](Display* d) {
        move(d, 28, 84);
        button(d, 1, true);
        for (int y = 80; y >= 10; y -= 10) move(d, 28, y);
        move(d, 28, 220);
        button(d, 1, false);
    });
    auto l = log();
    ASSERT_GE(l.size(), 3u);
    EXPECT_EQ(l.front(), "begin 7");
    EXPECT_EQ(l.back(), "end 7");
    for (std::size_t i = 1; i + 1 < l.size(); ++i) EXPECT_EQ(l[i].substr(0, 8), "value 7 ") << l[i];
    EXPECT_EQ(bar->getValue(), 0.f);  // dragged below the bar: clamped
    // The press itself set 1 - (84 - 20 - 2) / 125.
    EXPECT_EQ(l[1], "value 7 " + std::to_string(1.f - 62.f / 125.f));
    EXPECT_NE(std::find(l.begin(), l.end(), "value 7 " + std::to_string(1.f)), l.end());
}

TEST_F(WindowTest, FilterMapDragStopsAtTheImageEdges) {
    auto holder = std::make_shared<kfx::CBitmapArrayAnalyser>("L");
    holder->loadFromResource(&skv::CBuiltInResources::instance(), 10000);
    auto* map = new CBitmapControl(CRect(10, 10, 227, 139), editor.get(), 26, nullptr, CColor{22, 112, 150, 0},
                                   CColor{75, 183, 228, 0}, CColor{228, 189, 31, 0});
    map->setFilterMap(holder);
    frame->addView(map);
    pump(30);
    drive([](Display* d) {
        move(d, 100, 70);
        button(d, 1, true);
        move(d, 399, 249);  // right and down: scroll 0, offset grows to its limit
        move(d, 380, 240);
        button(d, 1, false);
    });
    EXPECT_EQ(map->getScroll(), 0);
    EXPECT_EQ(map->getOffsetPixels(), std::min(281 - 129 + 3, 0 + (240 - 70)));
    EXPECT_EQ(map->getLastReport(), 29);
    drive([](Display* d) {
        move(d, 390, 200);
        button(d, 1, true);
        move(d, 5, 5);  // far left and up: scroll to its limit, offset back to 0
        button(d, 1, false);
    });
    EXPECT_EQ(map->getScroll(), 560 - 217 + 3);
    EXPECT_EQ(map->getOffsetPixels(), 0);
    auto l = log();
    EXPECT_EQ(std::count(l.begin(), l.end(), "begin 26"), 2);
    EXPECT_EQ(std::count(l.begin(), l.end(), "end 26"), 2);
}

TEST_F(WindowTest, SubMenuSelectionReportsTheOwningMenuAndIndex) {
    auto* menu = new COptionMenu(CRect(100, 20, 115, 36), editor.get(), 59, nullptr, nullptr, kNoTextStyle);
    auto* presets = new COptionMenu(CRect(), editor.get(), 61);
    for (const char* e : {"1 - Fractal Mayhem (v1)", "2 - Digital Interference (v1.2)", "3 - Title Screen (v1.2)"})
        presets->addEntry(e);
    auto* process = new COptionMenu(CRect(), editor.get(), 63);
    for (const char* e : {"Rotate Clockwise", "Flip Horizontal", "Flip Vertical", "Normalize (columns)",
                          "Normalize (all)", "Differences", "Differences (absolute)", "Invert", "-",
                          "Convert to 24-bit BMP"})
        process->addEntry(e);
    menu->addEntry(presets, "Load Preset BMP");
    menu->addEntry(process, "Process");
    menu->addEntry("Export to .bmp");
    presets->release();
    process->release();
    frame->addView(menu);
    pump(30);
    std::vector<CRect> seen;
    drive([&](Display* d) {
        move(d, 107, 28);
        button(d, 1, true);
        button(d, 1, false);
        auto menus = waitForMenus(d, 1);
        if (menus.empty()) return;
        const CRect top = menus[0];
        move(d, top.left + 20, top.top + kMenuPadding + kMenuItemHeight + kMenuItemHeight / 2);  // "Process"
        menus = waitForMenus(d, 2);
        seen = menus;
        if (menus.size() < 2) return;
        const CRect sub = menus[1];
        int y = sub.top + kMenuPadding + 8 * kMenuItemHeight + kMenuSeparatorHeight + kMenuItemHeight / 2;
        move(d, sub.left + 20, y);
        button(d, 1, true);
        button(d, 1, false);
    });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].left, 100);
    EXPECT_EQ(seen[0].top, 36);  // below the control
    EXPECT_EQ(editor->lastControl, process);
    EXPECT_EQ(process->getValue(), 9.f);
    long index = -1;
    EXPECT_EQ(menu->getLastItemMenu(index), process);
    EXPECT_EQ(index, 9);
    EXPECT_TRUE(menuWindows(display).empty());
}

TEST_F(WindowTest, EscapeCancelsTheMenu) {
    auto* menu = new COptionMenu(CRect(100, 20, 115, 36), editor.get(), 59, nullptr, nullptr, kNoTextStyle);
    menu->addEntry("Export to .bmp");
    frame->addView(menu);
    pump(30);
    drive([&](Display* d) {
        move(d, 107, 28);
        button(d, 1, true);
        button(d, 1, false);
        waitForMenus(d, 1);
        KeyCode esc = XKeysymToKeycode(d, XK_Escape);
        XTestFakeKeyEvent(d, esc, True, 0);
        XTestFakeKeyEvent(d, esc, False, 0);
        XFlush(d);
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
    });
    EXPECT_EQ(editor->lastControl, nullptr);
    EXPECT_TRUE(menuWindows(display).empty());
}

TEST_F(WindowTest, XdndDropOfTwoFilesReachesTheLabelUnderThePoint) {
    auto* label = new CLabel(CRect(40, 30, 258, 160), "Analysing left channel");
    frame->addView(label);
    pump(30);
    Display* src = XOpenDisplay(nullptr);
    ASSERT_NE(src, nullptr);
    Window source = XCreateSimpleWindow(src, DefaultRootWindow(src), 0, 0, 1, 1, 0, 0, 0);
    auto atom = [src](const char* n) { return XInternAtom(src, n, False); };
    const Atom selection = atom("XdndSelection"), uriList = atom("text/uri-list");
    XSetSelectionOwner(src, selection, source, CurrentTime);
    auto send = [&](const char* type, long l1, long l2, long l3, long l4) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = frame->getWindow();
        e.xclient.message_type = atom(type);
        e.xclient.format = 32;
        e.xclient.data.l[0] = long(source);
        e.xclient.data.l[1] = l1;
        e.xclient.data.l[2] = l2;
        e.xclient.data.l[3] = l3;
        e.xclient.data.l[4] = l4;
        XSendEvent(src, frame->getWindow(), False, NoEventMask, &e);
        XFlush(src);
    };
    const std::string payload = "file:///tmp/skv%20drop/first.bmp\r\nfile:///tmp/second.bmp\r\n";
    bool status = false, finished = false, accepted = false;
    auto serve = [&]() {
        while (XPending(src)) {
            XEvent e;
            XNextEvent(src, &e);
            if (e.type == ClientMessage && e.xclient.message_type == atom("XdndStatus")) status = (e.xclient.data.l[1] & 1) != 0;
            if (e.type == ClientMessage && e.xclient.message_type == atom("XdndFinished")) {
                finished = true;
                accepted = (e.xclient.data.l[1] & 1) != 0;
            }
            if (e.type == SelectionRequest) {
                XSelectionRequestEvent& r = e.xselectionrequest;
                XChangeProperty(src, r.requestor, r.property, r.target, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(payload.data()), int(payload.size()));
                XEvent n{};
                n.xselection.type = SelectionNotify;
                n.xselection.requestor = r.requestor;
                n.xselection.selection = r.selection;
                n.xselection.target = r.target;
                n.xselection.property = r.property;
                n.xselection.time = r.time;
                XSendEvent(src, r.requestor, False, NoEventMask, &n);
                XFlush(src);
            }
        }
    };
    auto until = [&](bool& flag) {
        for (int i = 0; i < 300 && !flag; ++i) {
            editor->idle();
            serve();
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    };
    send("XdndEnter", 5L << 24, long(uriList), 0, 0);
    send("XdndPosition", 0, (100L << 16) | 90L, CurrentTime, long(atom("XdndActionCopy")));
    until(status);
    EXPECT_TRUE(status);
    send("XdndDrop", 0, CurrentTime, 0, 0);
    until(finished);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(accepted);
    EXPECT_STREQ(label->getText(), "2 : /tmp/skv drop/first.bmp at 60");
    XDestroyWindow(src, source);
    XCloseDisplay(src);
}
