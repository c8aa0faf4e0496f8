// The editor window among the clients of a real desktop: a file manager's drag that looks
// only at the top-level under the pointer (as GTK and Qt do) and follows its XdndProxy, a
// host's key listener on its top-level while the pointer is over the editor, and a host that
// hands the editor a 32-bit ARGB parent.
#include "editor/controls/BitmapControl.h"
#include "editor/controls/Label.h"
#include "editor/toolkit/DrawContext.h"

#include "tests/editor/EditorFixture.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <fstream>
#include <iterator>
#include <string>

using namespace VSTGUI;

namespace {

// A drag source on a connection of its own. It finds the target the way GTK's does: the
// top-level under the pointer (a child of the root), its XdndAware, then its XdndProxy,
// which must name itself; messages go to the proxy and name the top-level.
class CDragSource {
public:
    explicit CDragSource(fxSkorvalineEditor* ed) : editor(ed), d(VSTGUI::openDisplay())
    {
        source = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
        selection = atom("XdndSelection");
    }
    ~CDragSource()
    {
        XDestroyWindow(d, source);
        XCloseDisplay(d);
    }
    CDragSource(const CDragSource&) = delete;
    CDragSource& operator=(const CDragSource&) = delete;

    // Finds the target at root point (x, y); false when nothing there takes drops.
    bool find(int x, int y)
    {
        Window child = 0;
        int tx, ty;
        XTranslateCoordinates(d, DefaultRootWindow(d), DefaultRootWindow(d), x, y, &tx, &ty,
                              &child);
        topLevel = child;
        if (!topLevel || readWindow(topLevel, "XdndAware", XA_ATOM) == 0)
            return false;
        const Window proxy = readWindow(topLevel, "XdndProxy", XA_WINDOW);
        proxyTarget =
            proxy && readWindow(proxy, "XdndProxy", XA_WINDOW) == proxy ? proxy : topLevel;
        return true;
    }
    Window proxyWindow() const { return proxyTarget; }

    // Offers uri-list data at (x, y); answers whether the target's XdndStatus accepts.
    bool offer(const std::string& uriList, int x, int y)
    {
        data = uriList;
        XSetSelectionOwner(d, selection, source, CurrentTime);
        send("XdndEnter", {long(source), 5L << 24, long(atom("text/uri-list")), 0, 0});
        send("XdndPosition", {long(source), 0, (long(x) << 16) | long(y), CurrentTime,
                              long(atom("XdndActionCopy"))});
        XEvent reply = awaitMessage("XdndStatus");
        return reply.type == ClientMessage && (reply.xclient.data.l[1] & 1) &&
               Window(reply.xclient.data.l[0]) == topLevel;
    }
    // Drops what was offered; answers whether XdndFinished says it was taken.
    bool drop()
    {
        send("XdndDrop", {long(source), 0, CurrentTime, 0, 0});
        XEvent reply = awaitMessage("XdndFinished");
        return reply.type == ClientMessage && (reply.xclient.data.l[1] & 1);
    }

private:
    Atom atom(const char* name) { return XInternAtom(d, name, False); }
    Window readWindow(Window w, const char* property, Atom type)
    {
        Atom actual = None;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* bytes = nullptr;
        Window value = 0;
        if (XGetWindowProperty(d, w, atom(property), 0, 1, False, type, &actual, &format, &n,
                               &after, &bytes) == Success &&
            bytes && n == 1)
            value = Window(*reinterpret_cast<unsigned long*>(bytes));
        if (bytes)
            XFree(bytes);
        return value;
    }
    void send(const char* type, std::initializer_list<long> values)
    {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = topLevel;
        ev.xclient.message_type = atom(type);
        ev.xclient.format = 32;
        int i = 0;
        for (long v : values)
            ev.xclient.data.l[i++] = v;
        XSendEvent(d, proxyTarget, False, NoEventMask, &ev);
        XSync(d, False);
    }
    // Serves selection requests and lets the editor idle until the message arrives.
    XEvent awaitMessage(const char* type)
    {
        const Atom wanted = atom(type);
        for (int turn = 0; turn < 200; ++turn) {
            editor->idle();
            XSync(d, False);
            while (XPending(d)) {
                XEvent ev;
                XNextEvent(d, &ev);
                if (ev.type == SelectionRequest)
                    answer(ev.xselectionrequest);
                else if (ev.type == ClientMessage && ev.xclient.message_type == wanted)
                    return ev;
            }
        }
        return XEvent{};
    }
    void answer(const XSelectionRequestEvent& request)
    {
        XEvent notify{};
        notify.xselection.type = SelectionNotify;
        notify.xselection.requestor = request.requestor;
        notify.xselection.selection = request.selection;
        notify.xselection.target = request.target;
        notify.xselection.time = request.time;
        notify.xselection.property = request.property;
        XChangeProperty(d, request.requestor, request.property, request.target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data.data()), int(data.size()));
        XSendEvent(d, request.requestor, False, NoEventMask, &notify);
        XSync(d, False);
    }

    fxSkorvalineEditor* editor;
    Display* d;
    Window source = 0;
    Window topLevel = 0;
    Window proxyTarget = 0;
    Atom selection = None;
    std::string data;
};

class DesktopHostTest : public skvtest::CXTestEditorFixture {
protected:
    std::string writeFile(const char* name, const std::string& bytes)
    {
        std::string path = (scratch.path() / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // A picture the filter map takes, under a name with the extension in capitals.
    std::string copyBmp(const char* name)
    {
        std::ifstream in(std::string(SKV_TESTDATA_DIR) + "/bmp/grey8_w16_h16_pillow.bmp",
                         std::ios::binary);
        return writeFile(name, std::string(std::istreambuf_iterator<char>(in), {}));
    }
};

TEST_F(DesktopHostTest, DropFromAFileManagerOnTheLeftMapLoadsTheBmp)
{
    ASSERT_TRUE(open());
    const std::string path = copyBmp("dropped.BMP");
    CDragSource source(editor);
    // Left map (135,25)-(352,154) in the left panel at (10,10); the parent is at the corner.
    ASSERT_TRUE(source.find(200, 100));
    EXPECT_EQ(source.proxyWindow(), editor->getFrame()->getWindow());
    EXPECT_TRUE(source.offer("file://" + path + "\r\n", 200, 100));
    EXPECT_TRUE(source.drop());
    EXPECT_EQ(fx->currentProgram().getPath(true), path);
}

TEST_F(DesktopHostTest, DropOfATextFileOnTheMapIsRefused)
{
    ASSERT_TRUE(open());
    const std::string before = fx->currentProgram().getPath(true);
    const std::string path = writeFile("notes.txt", "not a picture");
    CDragSource source(editor);
    ASSERT_TRUE(source.find(200, 100));
    EXPECT_FALSE(source.offer("file://" + path + "\r\n", 200, 100));
    EXPECT_FALSE(source.drop());
    EXPECT_EQ(fx->currentProgram().getPath(true), before);
}

TEST_F(DesktopHostTest, DropOnTheAnalysingLabelShowsCountPathAndPosition)
{
    fx->setParameter(38, 1.f);  // "LP Analysis": the label lies where the map was
    ASSERT_TRUE(open());
    const std::string path = writeFile("notes.txt", "any file");
    CDragSource source(editor);
    ASSERT_TRUE(source.find(200, 100));
    EXPECT_TRUE(source.offer("file://" + path + "\r\n", 200, 100));
    EXPECT_TRUE(source.drop());
    // The label (134,24) in the panel at (10,10): x 200 lies 56 pixels in.
    const std::string shown = "1 : " + path + " at 56";
    int found = 0;
    for (int i = 0; i < panel(0)->getNbViews(); ++i) {
        auto* label = dynamic_cast<CLabel*>(panel(0)->getView(i));
        found += label && shown == label->getText() ? 1 : 0;
    }
    EXPECT_EQ(found, 1);
}

TEST_F(DesktopHostTest, ClosingTakesTheProxyOffTheHostTopLevel)
{
    ASSERT_TRUE(open());
    const Atom proxy = XInternAtom(display, "XdndProxy", False);
    auto propertyCount = [&] {
        int n = 0;
        Atom* atoms = XListProperties(display, parent, &n);
        int found = 0;
        for (int i = 0; i < n; ++i)
            found += atoms[i] == proxy ? 1 : 0;
        if (atoms)
            XFree(atoms);
        return found;
    };
    EXPECT_EQ(propertyCount(), 1);
    editor->close();
    XSync(display, False);
    EXPECT_EQ(propertyCount(), 0);
}

TEST_F(DesktopHostTest, SpaceOverTheEditorReachesTheHostTopLevel)
{
    XSelectInput(display, parent, KeyPressMask | KeyReleaseMask);
    ASSERT_TRUE(open());
    editor->idle();
    XSetInputFocus(display, parent, RevertToPointerRoot, CurrentTime);
    XTestFakeMotionEvent(display, DefaultScreen(display), 300, 300, CurrentTime);
    const KeyCode space = XKeysymToKeycode(display, XK_space);
    XTestFakeKeyEvent(display, space, True, CurrentTime);
    XTestFakeKeyEvent(display, space, False, CurrentTime);
    skvtest::syncAll(display, editor->getFrame());
    editor->idle();
    XEvent ev;
    ASSERT_TRUE(XCheckWindowEvent(display, parent, KeyPressMask, &ev));
    EXPECT_EQ(ev.xkey.keycode, space);
    // The pointer was over the editor's window, which let the key pass up.
    EXPECT_EQ(ev.xkey.subwindow, Window(editor->getFrame()->getWindow()));
    XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
}

TEST_F(DesktopHostTest, EditorOnAnArgbParentDrawsOpaquePixels)
{
    XVisualInfo argb{};
    if (!XMatchVisualInfo(display, DefaultScreen(display), 32, TrueColor, &argb))
        GTEST_SKIP() << "the X server has no 32-bit visual";
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.colormap = XCreateColormap(display, DefaultRootWindow(display), argb.visual, AllocNone);
    attrs.border_pixel = 0;
    attrs.background_pixel = 0;  // fully transparent
    Window argbParent = XCreateWindow(
        display, DefaultRootWindow(display), 0, 0, 788, 390, 0, 32, InputOutput, argb.visual,
        CWOverrideRedirect | CWColormap | CWBorderPixel | CWBackPixel, &attrs);
    XMapWindow(display, argbParent);
    XSync(display, False);
    ASSERT_EQ(editor->open(reinterpret_cast<void*>(argbParent)), 1);
    for (int i = 0; i < 3; ++i)
        editor->idle();
    XSync(editor->getFrame()->getDisplay(), False);
    const Window w = editor->getFrame()->getWindow();
    XWindowAttributes wa{};
    ASSERT_TRUE(XGetWindowAttributes(display, w, &wa));
    // A window without an alpha channel: whatever it draws, a compositor shows it opaque.
    EXPECT_EQ(wa.depth, DefaultDepth(display, DefaultScreen(display)));
    EXPECT_EQ(wa.visual, DefaultVisual(display, DefaultScreen(display)));
    XImage* shot = XGetImage(display, w, 300, 14, 1, 1, AllPlanes, ZPixmap);
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(XGetPixel(shot, 0, 0) & 0xFFFFFFu, 0x4BB7E4u);  // the left panel's sky fill
    XDestroyImage(shot);
    editor->close();
    XDestroyWindow(display, argbParent);
    XFreeColormap(display, attrs.colormap);
}

}  // namespace
