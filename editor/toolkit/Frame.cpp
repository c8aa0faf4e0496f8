#include "editor/toolkit/Frame.h"

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/DropData.h"
#include "editor/toolkit/GUIEditor.h"
#include "editor/toolkit/WindowSurface.h"
#include "editor/toolkit/XErrorTrap.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace VSTGUI {

namespace {
int gFrameCount = 0;  // frames alive; the first "registers" the window class

constexpr long kXdndVersion = 5;

// Reads a whole window property; empty on failure.
std::string readProperty(Display* d, Window w, Atom property, Atom* typeOut = nullptr)
{
    std::string data;
    long offset = 0;
    for (;;) {
        Atom type = None;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* bytes = nullptr;
        if (XGetWindowProperty(d, w, property, offset, 65536, False, AnyPropertyType, &type,
                               &format, &n, &after, &bytes) != Success ||
            !bytes) {
            break;
        }
        if (typeOut)
            *typeOut = type;
        std::size_t unit = format == 32 ? sizeof(long) : std::size_t(format / 8);
        data.append(reinterpret_cast<char*>(bytes), n * unit);
        XFree(bytes);
        if (after == 0 || n == 0)
            break;
        offset += format == 32 ? long(n) : long(n * unit / 4);
        if (data.size() > (16u << 20))
            break;  // a drop is never this large; stop reading
    }
    return data;
}
}  // namespace

struct CFrame::Platform {
    Display* display = nullptr;
    Window window = 0;
    std::unique_ptr<CWindowSurface> surface;  // the window's back buffer
    Cursor cursor = 0;
    Colormap colormap = 0;
    CRect exposed;
    // XDND target state
    Atom aXdndAware, aXdndProxy, aXdndEnter, aXdndPosition, aXdndStatus, aXdndLeave, aXdndDrop,
        aXdndFinished, aXdndSelection, aXdndTypeList, aXdndActionCopy, aUriList, aUtf8, aTextPlain,
        aTextPlainUtf8, aDropProperty, aWmState;
    // The host's top-level that we made drag-aware with us as its proxy (0: none).
    Window proxiedTopLevel = 0;
    Window dragSource = 0;
    Window dragTarget = 0;  // the window the source addresses: ours or proxiedTopLevel
    Atom dragType = None;
    CPoint dragPoint;
    Time dragTime = CurrentTime;
    // The dragged data, fetched at the first position so that the status can say whether
    // the view under the pointer would take it.
    std::vector<std::string> dragItems;
    long dragKind = kDropFiles;
    bool dataRequested = false;
    bool dataKnown = false;
    Time requestTime = CurrentTime;
    bool statusPending = false;  // a position waits for the data to be answered
    bool dropPending = false;    // a drop waits for the data
};

namespace {
// An XDND message from our window to the drag source: data.l[1] and the slot of the action
// (l[2] in XdndFinished, l[4] in XdndStatus) as the message type has them.
void sendToDragSource(Display* d, const CFrame::Platform& p, Atom type, bool accepted,
                      int actionSlot)
{
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.display = d;
    message.xclient.window = p.dragSource;
    message.xclient.message_type = type;
    message.xclient.format = 32;
    message.xclient.data.l[0] = long(p.dragTarget);
    message.xclient.data.l[1] = accepted ? 1 : 0;
    message.xclient.data.l[actionSlot] = accepted ? long(p.aXdndActionCopy) : 0;
    XSendEvent(d, p.dragSource, False, NoEventMask, &message);
}

// Tells the drag source that the drop is over and whether it was taken (as a copy).
void sendXdndFinished(Display* d, const CFrame::Platform& p, bool accepted)
{
    sendToDragSource(d, p, p.aXdndFinished, accepted, 2);
}

void sendXdndStatus(Display* d, const CFrame::Platform& p, bool accept)
{
    sendToDragSource(d, p, p.aXdndStatus, accept, 4);
}

bool hasProperty(Display* d, Window w, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* bytes = nullptr;
    const bool found = XGetWindowProperty(d, w, property, 0, 1, False, AnyPropertyType, &type,
                                          &format, &n, &after, &bytes) == Success &&
                       type != None;
    if (bytes)
        XFree(bytes);
    return found;
}

// The window a drag source takes for the host's top-level: GTK and Qt look for the client
// window (the one with WM_STATE) under the pointer, and without a window manager they take
// the root's child. Walks up from the parent window; 0 on failure.
Window topLevelOf(Display* d, Window from, Atom wmState)
{
    Window w = from, withState = 0, rootChild = 0;
    for (int depth = 0; w && depth < 64; ++depth) {
        if (hasProperty(d, w, wmState))
            withState = w;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(d, w, &root, &parent, &children, &n))
            return 0;
        if (children)
            XFree(children);
        if (parent == root) {
            rootChild = w;
            break;
        }
        w = parent;
    }
    return withState ? withState : rootChild;
}

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
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return;
    platform->display = d;
    // The parent id comes from the host; a stale one must leave the frame without a window,
    // not end the process.
    CXErrorTrap trap(d);
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
    Window w = XCreateWindow(
        d, parentWindow, r.left, r.top, unsigned(std::max(1, r.width())),
        unsigned(std::max(1, r.height())), 0, DefaultDepth(d, screen), InputOutput, visual,
        CWEventMask | CWColormap | CWBorderPixel | CWBackPixel | CWCursor, &attrs);
    platform->window = w;
    std::string cls = windowClassName();
    XClassHint hint;
    hint.res_name = const_cast<char*>(cls.c_str());
    hint.res_class = const_cast<char*>(cls.c_str());
    XSetClassHint(d, w, &hint);
    XStoreName(d, w, "Window");

    auto atom = [d](const char* n) { return XInternAtom(d, n, False); };
    Platform& p = *platform;
    p.aXdndAware = atom("XdndAware");
    p.aXdndProxy = atom("XdndProxy");
    p.aXdndEnter = atom("XdndEnter");
    p.aXdndPosition = atom("XdndPosition");
    p.aXdndStatus = atom("XdndStatus");
    p.aXdndLeave = atom("XdndLeave");
    p.aXdndDrop = atom("XdndDrop");
    p.aXdndFinished = atom("XdndFinished");
    p.aXdndSelection = atom("XdndSelection");
    p.aXdndTypeList = atom("XdndTypeList");
    p.aXdndActionCopy = atom("XdndActionCopy");
    p.aUriList = atom("text/uri-list");
    p.aUtf8 = atom("UTF8_STRING");
    p.aTextPlain = atom("text/plain");
    p.aTextPlainUtf8 = atom("text/plain;charset=utf-8");
    p.aDropProperty = atom("SKV_DROP");
    p.aWmState = atom("WM_STATE");
    // Registering the drop target: announce the protocol version we speak. File managers'
    // drag sources (GTK, Qt) look only at the top-level under the pointer and then follow
    // its XdndProxy; a proxy names itself in its own XdndProxy.
    long version = kXdndVersion;
    long self = long(w);
    XChangeProperty(d, w, p.aXdndAware, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&version), 1);
    XChangeProperty(d, w, p.aXdndProxy, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&self), 1);
    // The host's own drop handling, if its top-level has any, stays in charge there.
    const Window top = topLevelOf(d, parentWindow, p.aWmState);
    if (top && !hasProperty(d, top, p.aXdndAware)) {
        XChangeProperty(d, top, p.aXdndAware, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&version), 1);
        XChangeProperty(d, top, p.aXdndProxy, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&self), 1);
        p.proxiedTopLevel = top;
    }
    XMapWindow(d, w);
    if (trap.failed()) {
        withdrawProxy();
        XDestroyWindow(d, w);
        platform->window = 0;
        return;
    }
    platform->surface = std::make_unique<CWindowSurface>(d, w, r.width(), r.height());
    setDirty(true);
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
            withdrawProxy();
            if (platform->window) {
                XDeleteProperty(d, platform->window, platform->aXdndAware);
                XDeleteProperty(d, platform->window, platform->aXdndProxy);
                XDestroyWindow(d, platform->window);
            }
            if (platform->cursor)
                XFreeCursor(d, platform->cursor);
            if (platform->colormap)
                XFreeColormap(d, platform->colormap);
        }
        XCloseDisplay(d);
    }
    --gFrameCount;
}

void CFrame::withdrawProxy()
{
    Platform& p = *platform;
    if (!p.proxiedTopLevel)
        return;
    // Only what is still ours: the host may have taken the top-level over meanwhile.
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* bytes = nullptr;
    if (XGetWindowProperty(p.display, p.proxiedTopLevel, p.aXdndProxy, 0, 1, False, XA_WINDOW,
                           &type, &format, &n, &after, &bytes) == Success &&
        bytes && n == 1 && format == 32 && *reinterpret_cast<unsigned long*>(bytes) == p.window) {
        XDeleteProperty(p.display, p.proxiedTopLevel, p.aXdndProxy);
        XDeleteProperty(p.display, p.proxiedTopLevel, p.aXdndAware);
    }
    if (bytes)
        XFree(bytes);
    p.proxiedTopLevel = 0;
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
    Platform& p = *platform;
    Display* d = p.display;
    switch (ev.type) {
    case Expose: {
        CRect r(ev.xexpose.x, ev.xexpose.y, ev.xexpose.x + ev.xexpose.width,
                ev.xexpose.y + ev.xexpose.height);
        p.exposed.unite(r);
        if (ev.xexpose.count == 0) {
            CRect area = p.exposed;
            p.exposed = CRect();
            paintArea(area);
        }
        break;
    }
    case ButtonPress: {
        CPoint where(ev.xbutton.x, ev.xbutton.y);
        unsigned int b = ev.xbutton.button;
        if (b == Button4 || b == Button5) {
            onWheel(createDrawContext().get(), where, b == Button4 ? 1.f : -1.f);
            present();
            break;
        }
        if (b > Button3)
            break;
        // The press itself is not yet in the state mask of its own event.
        long buttons = buttonsFromState(ev.xbutton.state) | (b == Button1   ? kLButton
                                                             : b == Button2 ? kMButton
                                                                            : kRButton);
        onMouseDown(createDrawContext().get(), where, buttons);
        present();
        break;
    }
    case DestroyNotify:
        // The host destroyed its parent window (and ours with it) while the editor is
        // open: from now on there is nothing to draw into.
        if (ev.xdestroywindow.window == p.window)
            p.window = 0;
        break;
    case MappingNotify:
        if (ev.xmapping.request != MappingPointer)
            XRefreshKeyboardMapping(&ev.xmapping);
        break;
    case ClientMessage: {
        // Sources address the window they found: ours, or the top-level we are proxy for.
        const Window target = ev.xclient.window;
        if (ev.xclient.format != 32 ||
            (target != p.window && (!p.proxiedTopLevel || target != p.proxiedTopLevel)))
            break;
        // Drag messages name the source's windows, which may be gone or forged.
        CXErrorTrap trap(d);
        Atom t = ev.xclient.message_type;
        const long* l = ev.xclient.data.l;
        if (t == p.aXdndEnter) {
            beginDrag(Window(l[0]), target);
            std::vector<Atom> types;
            if (l[1] & 1) {
                Atom listType = None;
                std::string raw = readProperty(d, p.dragSource, p.aXdndTypeList, &listType);
                for (std::size_t i = 0; i + sizeof(long) <= raw.size(); i += sizeof(long)) {
                    long a;
                    std::memcpy(&a, raw.data() + i, sizeof a);
                    types.push_back(Atom(a));
                }
            }
            else {
                for (int i = 2; i < 5; ++i)
                    if (l[i])
                        types.push_back(Atom(l[i]));
            }
            const Atom preferred[] = {p.aUriList, p.aUtf8, p.aTextPlainUtf8, p.aTextPlain,
                                      XA_STRING};
            for (Atom want : preferred) {
                for (Atom a : types)
                    if (a == want)
                        p.dragType = a;
                if (p.dragType != None)
                    break;
            }
        }
        else if (t == p.aXdndPosition) {
            if (Window(l[0]) != p.dragSource)
                beginDrag(Window(l[0]), target);  // no enter seen: nothing is offered
            p.dragTarget = target;
            Window child;
            int x = 0, y = 0;
            XTranslateCoordinates(d, DefaultRootWindow(d), p.window, int((l[2] >> 16) & 0xFFFF),
                                  int(l[2] & 0xFFFF), &x, &y, &child);
            p.dragPoint = CPoint(x, y);
            p.dragTime = Time(l[3]);
            if (p.dragType == None) {
                sendXdndStatus(d, p, false);
            }
            else if (p.dataKnown) {
                sendXdndStatus(d, p, acceptsDrop(p.dragItems, p.dragKind, p.dragPoint));
            }
            else {
                // The answer waits for the data (the source sends nothing new until then).
                p.statusPending = true;
                requestDragData();
            }
            XFlush(d);
        }
        else if (t == p.aXdndLeave) {
            if (Window(l[0]) == p.dragSource)
                beginDrag(0, 0);
        }
        else if (t == p.aXdndDrop) {
            if (Window(l[0]) != p.dragSource)
                break;
            p.dragTarget = target;
            if (p.dragType == None) {
                sendXdndFinished(d, p, false);
                beginDrag(0, 0);
            }
            else if (p.dataKnown) {
                finishDrop();
            }
            else {
                p.dropPending = true;
                if (!p.dataRequested)
                    p.dragTime = Time(l[2]);
                requestDragData();
            }
            XFlush(d);
        }
        break;
    }
    case SelectionNotify: {
        if (!p.dataRequested || p.dataKnown || ev.xselection.selection != p.aXdndSelection ||
            ev.xselection.time != p.requestTime)
            break;
        p.dataKnown = true;
        if (ev.xselection.property != None) {
            std::string data;
            {
                CXErrorTrap trap(d);
                data = readProperty(d, p.window, ev.xselection.property);
                XDeleteProperty(d, p.window, ev.xselection.property);
            }
            if (p.dragType == p.aUriList) {
                p.dragKind = kDropFiles;
                p.dragItems = parseUriList(data);
            }
            else {
                p.dragKind = kDropText;
                if (data.size() > kMaxDropPathLength)
                    data.resize(kMaxDropPathLength);
                p.dragItems.push_back(data);
            }
        }
        CXErrorTrap trap(d);
        if (p.statusPending) {
            p.statusPending = false;
            sendXdndStatus(d, p, acceptsDrop(p.dragItems, p.dragKind, p.dragPoint));
        }
        if (p.dropPending)
            finishDrop();
        XFlush(d);
        break;
    }
    default:
        break;
    }
}

void CFrame::beginDrag(unsigned long source, unsigned long target)
{
    Platform& p = *platform;
    p.dragSource = Window(source);
    p.dragTarget = Window(target);
    p.dragType = None;
    p.dragItems.clear();
    p.dragKind = kDropFiles;
    p.dataRequested = p.dataKnown = p.statusPending = p.dropPending = false;
}

void CFrame::requestDragData()
{
    Platform& p = *platform;
    if (p.dataRequested)
        return;
    p.dataRequested = true;
    p.requestTime = p.dragTime;
    XConvertSelection(p.display, p.aXdndSelection, p.dragType, p.aDropProperty, p.window,
                      p.dragTime);
}

void CFrame::finishDrop()
{
    Platform& p = *platform;
    bool accepted = false;
    retain();
    if (!p.dragItems.empty()) {
        const std::vector<std::string> items = p.dragItems;
        accepted = onDrop(items, p.dragKind, p.dragPoint);
    }
    if (p.window)  // the drop target itself may have gone meanwhile
        sendXdndFinished(p.display, p, accepted);
    beginDrag(0, 0);
    release();
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
