// The frame: its child window on the host's parent, painting (exposes, dirty views, the
// modal view on top), mouse and key routing and the pointer queries of mouse loops. The
// window's drag-and-drop side is in FrameDragDrop.cpp.
#include "editor/toolkit/Frame.h"

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/FramePlatform.h"
#include "editor/toolkit/GUIEditor.h"
#include "editor/toolkit/XConnection.h"
#include "editor/toolkit/XErrorTrap.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace VSTGUI {

namespace {
int gFrameCount = 0;  // frames alive; the first "registers" the window class

// A pixel of the colour (8 bits each) in visual, allocated in colormap where the visual
// has no fixed channels.
unsigned long pixelFor(Display* d, Visual* v, Colormap cmap, int r, int g, int b)
{
    if (v->c_class == TrueColor) {
        auto channel = [](int value, unsigned long mask) {
            if (!mask)
                return 0ul;
            int shift = 0;
            while (!((mask >> shift) & 1ul))
                ++shift;
            const unsigned long top = mask >> shift;
            return ((static_cast<unsigned long>(value) * top + 127ul) / 255ul) << shift;
        };
        return channel(r, v->red_mask) | channel(g, v->green_mask) | channel(b, v->blue_mask);
    }
    XColor c{};
    c.red = static_cast<unsigned short>(r * 257);
    c.green = static_cast<unsigned short>(g * 257);
    c.blue = static_cast<unsigned short>(b * 257);
    c.flags = DoRed | DoGreen | DoBlue;
    return XAllocColor(d, cmap, &c) ? c.pixel : BlackPixel(d, DefaultScreen(d));
}
}  // namespace

std::string CFrame::windowClassName()
{
    Dl_info info{};
    unsigned long base = 0;
    if (dladdr(reinterpret_cast<void*>(&CFrame::windowClassName), &info) && info.dli_fbase)
        base = reinterpret_cast<unsigned long>(info.dli_fbase);
    char name[32];
    std::snprintf(name, sizeof name, "Plugin%08x", unsigned(base & 0xFFFFFFFFu));
    return name;
}

CFrame::CFrame(const CRect& r, void* parent, AEffGUIEditor* ed, const CColor& windowColor)
    : CViewContainer(CRect(0, 0, r.width(), r.height()), nullptr), editor(ed),
      parentWindow(reinterpret_cast<unsigned long>(parent)), platform(new Platform)
{
    parentFrame = this;
    ++gFrameCount;
    if (!parentWindow)
        return;
    Display* d = openDisplay();
    if (!d)
        return;
    platform->display = d;
    // The parent id comes from the host; a stale one must leave the frame without a window,
    // not end the process.
    CXErrorTrap trap(d);
    createWindow(r, windowColor);
    registerDropTarget();
    XMapWindow(d, platform->window);
    if (trap.failed()) {
        withdrawProxy();
        XDestroyWindow(d, platform->window);
        platform->window = 0;
        return;
    }
    platform->surface =
        std::make_unique<CWindowSurface>(d, platform->window, r.width(), r.height());
    setDirty(true);
}

void CFrame::createWindow(const CRect& r, const CColor& windowColor)
{
    Display* d = platform->display;
    // The screen's default visual whatever the parent's: on a host's 32-bit ARGB parent our
    // opaque drawing would carry alpha 0 and show through under a compositor. A window of
    // another visual than its parent's needs a colormap and border pixel of its own.
    const int screen = DefaultScreen(d);
    Visual* visual = DefaultVisual(d, screen);
    platform->colormap = XCreateColormap(d, RootWindow(d, screen), visual, AllocNone);
    XSetWindowAttributes attrs{};
    // No key events: a window that selects them takes them from the host's top-level, whose
    // shortcuts (Space for the transport) would stop working under the pointer. Keys reach
    // the editor through the host (effEditKeyDown / effEditKeyUp) instead.
    attrs.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
    attrs.colormap = platform->colormap;
    attrs.border_pixel = 0;
    // What an expose shows until the next idle paints it.
    attrs.background_pixel = pixelFor(d, visual, platform->colormap, windowColor.red,
                                      windowColor.green, windowColor.blue);
    platform->cursor = XCreateFontCursor(d, XC_left_ptr);
    attrs.cursor = platform->cursor;
    const Window w = XCreateWindow(
        d, parentWindow, r.left, r.top, unsigned(std::max(1, r.width())),
        unsigned(std::max(1, r.height())), 0, DefaultDepth(d, screen), InputOutput, visual,
        CWEventMask | CWColormap | CWBorderPixel | CWBackPixel | CWCursor, &attrs);
    platform->window = w;
    // Hosts and window-manager rules find plug-in windows by this class.
    std::string cls = windowClassName();
    XClassHint hint;
    hint.res_name = const_cast<char*>(cls.c_str());
    hint.res_class = const_cast<char*>(cls.c_str());
    XSetClassHint(d, w, &hint);
    XStoreName(d, w, "Window");
}

CFrame::~CFrame()
{
    modalView = nullptr;
    focusView = nullptr;
    removeAll(true);
    setBackground(nullptr);
    if (platform->display) {
        Display* d = platform->display;
        {
            // Some hosts destroy the parent window (and with it ours) before closing the
            // editor; the window may be gone without our having seen its DestroyNotify.
            CXErrorTrap trap(d);
            platform->surface.reset();
            withdrawDropTarget();
            if (platform->window)
                XDestroyWindow(d, platform->window);
            if (platform->cursor)
                XFreeCursor(d, platform->cursor);
            if (platform->colormap)
                XFreeColormap(d, platform->colormap);
        }
        XCloseDisplay(d);
    }
    --gFrameCount;
}

bool CFrame::isOpen() const
{
    return platform->window != 0;
}
Display* CFrame::getDisplay() const
{
    return platform->display;
}
unsigned long CFrame::getWindow() const
{
    return platform->window;
}

std::unique_ptr<CDrawContext> CFrame::createDrawContext()
{
    if (!platform->window || !platform->surface)
        return nullptr;
    auto ctx = std::make_unique<CDrawContext>(this, platform->surface->getImage());
    ctx->setDamageSink(platform->surface.get());
    return ctx;
}

void CFrame::present()
{
    if (!platform->window || !platform->surface || platform->surface->getDamage().isEmpty())
        return;
    platform->surface->present();
    XFlush(platform->display);
}

void CFrame::draw(CDrawContext* context)
{
    drawRect(context, size);
}

void CFrame::drawRect(CDrawContext* context, const CRect& update)
{
    if (!context)
        return;
    bool was = drawing;
    drawing = true;
    CViewContainer::drawInRect(context, update);
    if (modalView && modalView->frameRect().rectOverlap(update)) {
        // The modal view lies above every other view, wherever it sits in the tree.
        const CPoint origin = modalViewOrigin();
        const CPoint outer = context->getOffset();
        context->setOffset(CPoint(outer.h + origin.h, outer.v + origin.v));
        CRect clip = update;
        clip.offset(-origin.h, -origin.v);
        modalView->drawInRect(context, clip);
        context->setOffset(outer);
    }
    drawing = was;
}

CPoint CFrame::modalViewOrigin() const
{
    const CRect inFrame = modalView->frameRect();
    return CPoint(inFrame.left - modalView->getViewSize().left,
                  inFrame.top - modalView->getViewSize().top);
}

void CFrame::paintArea(const CRect& area)
{
    drawRect(createDrawContext().get(), area);
    present();
}

void CFrame::redrawDirtyViews()
{
    if (!platform->window || drawing || !isDirty())
        return;
    drawDirtyViews(createDrawContext().get());
    present();
}

void CFrame::drawDirtyViews(CDrawContext* context)
{
    if (!context || drawing)
        return;
    drawing = true;
    if (modalView) {
        // The modal view covers what lies below it: views that change meanwhile stay dirty
        // and are drawn when the frame is redrawn after the modal view is gone.
        if (modalView->isDirty()) {
            const CPoint outer = context->getOffset();
            context->setOffset(modalViewOrigin());
            modalView->redrawIfDirty(context);
            context->setOffset(outer);
        }
    }
    else {
        redrawIfDirty(context);
    }
    drawing = false;
}

void CFrame::idle()
{
    if (!platform->display)
        return;
    if (inMouseLoop()) {
        while (dispatchOnePaint()) {
        }
    }
    else {
        while (XPending(platform->display)) {
            XEvent ev;
            XNextEvent(platform->display, &ev);
            handleEvent(ev);
        }
    }
    redrawDirtyViews();
    present();  // what event handlers drew
}

bool CFrame::dispatchOnePaint()
{
    if (!platform->window)
        return false;
    XEvent ev;
    if (!XCheckTypedWindowEvent(platform->display, platform->window, Expose, &ev))
        return false;
    handleEvent(ev);
    return true;
}

namespace {
long buttonsFromState(unsigned int state)
{
    long b = 0;
    if (state & Button1Mask)
        b |= kLButton;
    if (state & Button2Mask)
        b |= kMButton;
    if (state & Button3Mask)
        b |= kRButton;
    if (state & ShiftMask)
        b |= kShift;
    if (state & ControlMask)
        b |= kControl;
    if (state & Mod1Mask)
        b |= kAlt;
    return b;
}
}  // namespace

void CFrame::handleEvent(XEvent& ev)
{
    switch (ev.type) {
    case Expose:
        onExpose(ev);
        break;
    case ButtonPress:
        onButtonPress(ev);
        break;
    case DestroyNotify:
        // The host destroyed its parent window (and ours with it) while the editor is
        // open: from now on there is nothing to draw into.
        if (ev.xdestroywindow.window == platform->window)
            platform->window = 0;
        break;
    case MappingNotify:
        if (ev.xmapping.request != MappingPointer)
            XRefreshKeyboardMapping(&ev.xmapping);
        break;
    case ClientMessage:
        onXdndMessage(ev);
        break;
    case SelectionNotify:
        onDropData(ev);
        break;
    default:
        break;
    }
}

void CFrame::onExpose(XEvent& ev)
{
    // The server splits an uncovered region into a run of rectangles and counts down to the
    // last; one paint of their union is enough.
    const CRect r(ev.xexpose.x, ev.xexpose.y, ev.xexpose.x + ev.xexpose.width,
                  ev.xexpose.y + ev.xexpose.height);
    platform->exposed.unite(r);
    if (ev.xexpose.count == 0) {
        const CRect area = platform->exposed;
        platform->exposed = CRect();
        paintArea(area);
    }
}

void CFrame::onButtonPress(XEvent& ev)
{
    CPoint where(ev.xbutton.x, ev.xbutton.y);
    const unsigned int b = ev.xbutton.button;
    // X reports the wheel as buttons 4 (up) and 5 (down); 6 and 7 scroll sideways.
    if (b == Button4 || b == Button5) {
        onWheel(createDrawContext().get(), where, b == Button4 ? 1.f : -1.f);
        present();
        return;
    }
    if (b > Button3)
        return;
    // The press itself is not yet in the state mask of its own event.
    const long buttons = buttonsFromState(ev.xbutton.state) | (b == Button1   ? kLButton
                                                               : b == Button2 ? kMButton
                                                                              : kRButton);
    onMouseDown(createDrawContext().get(), where, buttons);
    present();
}

bool CFrame::setModalView(CView* view)
{
    if (view && modalView)
        return false;
    CView* old = modalView;
    modalView = view;
    if (old)
        old->onModalChange(false);
    if (view)
        view->onModalChange(true);
    return true;
}

void CFrame::setFocusView(CView* view)
{
    if (view == focusView)
        return;
    CView* old = focusView;
    focusView = view;
    if (old)
        old->loseFocus(nullptr);
    if (view)
        view->takeFocus(nullptr);
}

void CFrame::viewRemoved(CView* view)
{
    if (view == modalView)
        setModalView(nullptr);
    if (view == focusView)
        focusView = nullptr;
}

void CFrame::onMouseDown(CDrawContext* context, CPoint& where, long buttons)
{
    if (modalView) {
        if (modalView->getMouseEnabled() && modalView->hitTest(where, buttons)) {
            CView* v = modalView;
            v->retain();
            v->onMouseDown(context, where, buttons);
            v->release();
        }
        return;
    }
    CViewContainer::onMouseDown(context, where, buttons);
}

long CFrame::routeKey(VstKeyCode& key, KeyHandler handler)
{
    long r = focusView ? (focusView->*handler)(key) : -1;
    if (r == -1 && modalView)
        r = (modalView->*handler)(key);
    if (r == -1)
        r = offerKeyToChildren(key, handler);
    return r;
}

long CFrame::onKeyDown(VstKeyCode& key)
{
    return routeKey(key, &CView::onKeyDown);
}

long CFrame::onKeyUp(VstKeyCode& key)
{
    return routeKey(key, &CView::onKeyUp);
}

bool CFrame::onWheel(float distance)
{
    CPoint where;
    if (!getCurrentLocation(where))
        return false;
    const bool used = onWheel(createDrawContext().get(), where, distance);
    present();
    return used;
}

void CFrame::beginEdit(long tag)
{
    if (editor)
        editor->beginEdit(tag);
}

void CFrame::endEdit(long tag)
{
    if (editor)
        editor->endEdit(tag);
}

bool CFrame::queryPointer(CPoint& where, unsigned int& mask)
{
    if (!platform->window)
        return false;
    Window root, child;
    int rx, ry, wx, wy;
    if (!XQueryPointer(platform->display, platform->window, &root, &child, &rx, &ry, &wx, &wy,
                       &mask))
        return false;
    where = CPoint(wx, wy);
    return true;
}

long CFrame::getMouseButtons()
{
    CPoint where;
    unsigned int mask = 0;
    // The server's masks already follow the pointer mapping: with a swapped (left-handed)
    // mapping the physical left button arrives as button 3 and is reported as kRButton.
    return queryPointer(where, mask) ? buttonsFromState(mask) : 0;
}

bool CFrame::getCurrentLocation(CPoint& where)
{
    unsigned int mask = 0;
    return queryPointer(where, mask);
}

}  // namespace VSTGUI
