#include "editor/toolkit/Frame.h"

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/DropData.h"
#include "editor/toolkit/GUIEditor.h"
#include "editor/toolkit/WindowSurface.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/keysym.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace VSTGUI {

namespace {
int gFrameCount = 0;  // frames alive; the first "registers" the window class

constexpr long kXdndVersion = 5;

// Xlib's default error handler ends the process, and the process is the host. Requests that
// name other clients' windows (a drag source that has gone, a forged XDND message, a parent
// window the host destroyed before closing the editor) run inside a trap that records the
// error instead. Errors of other connections still reach the handler that was installed.
class CXErrorTrap {
public:
    explicit CXErrorTrap(Display* d) : display(d)
    {
        if (active)
            return;  // an outer trap on the UI thread already catches everything
        XSync(display, False);
        owner = true;
        active = this;
        previous = XSetErrorHandler(&CXErrorTrap::handler);
    }
    ~CXErrorTrap()
    {
        if (!owner)
            return;
        XSync(display, False);
        XSetErrorHandler(previous);
        active = nullptr;
    }
    CXErrorTrap(const CXErrorTrap&) = delete;
    CXErrorTrap& operator=(const CXErrorTrap&) = delete;
    // True when a request made so far inside the trap failed.
    bool failed()
    {
        XSync(display, False);
        return (active ? active : this)->errorSeen;
    }

private:
    static int handler(Display* d, XErrorEvent* e)
    {
        if (active && d == active->display) {
            active->errorSeen = true;
            return 0;
        }
        return active && active->previous ? active->previous(d, e) : 0;
    }

    static CXErrorTrap* active;
    Display* display;
    int (*previous)(Display*, XErrorEvent*) = nullptr;
    bool owner = false;
    bool errorSeen = false;
};
CXErrorTrap* CXErrorTrap::active = nullptr;

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
    CRect exposed;
    // XDND target state
    Atom aXdndAware, aXdndEnter, aXdndPosition, aXdndStatus, aXdndLeave, aXdndDrop, aXdndFinished,
        aXdndSelection, aXdndTypeList, aXdndActionCopy, aUriList, aUtf8, aTextPlain, aTextPlainUtf8,
        aDropProperty;
    Window dragSource = 0;
    Atom dragType = None;
    CPoint dragPoint;
    bool dropPending = false;
};

namespace {
// Tells the drag source that the drop is over and whether it was taken (as a copy).
void sendXdndFinished(Display* d, const CFrame::Platform& p, bool accepted)
{
    XEvent fin{};
    fin.xclient.type = ClientMessage;
    fin.xclient.window = p.dragSource;
    fin.xclient.message_type = p.aXdndFinished;
    fin.xclient.format = 32;
    fin.xclient.data.l[0] = long(p.window);
    fin.xclient.data.l[1] = accepted ? 1 : 0;
    fin.xclient.data.l[2] = accepted ? long(p.aXdndActionCopy) : 0;
    XSendEvent(d, p.dragSource, False, NoEventMask, &fin);
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

CFrame::CFrame(const CRect& r, void* parent, AEffGUIEditor* ed)
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
    XSetWindowAttributes attrs{};
    attrs.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | KeyPressMask |
                       KeyReleaseMask | StructureNotifyMask;
    attrs.background_pixmap = None;
    platform->cursor = XCreateFontCursor(d, XC_left_ptr);
    attrs.cursor = platform->cursor;
    Window w = XCreateWindow(d, parentWindow, r.left, r.top, unsigned(std::max(1, r.width())),
                             unsigned(std::max(1, r.height())), 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWEventMask | CWBackPixmap | CWCursor, &attrs);
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
    // Registering the drop target: announce the protocol version we speak.
    long version = kXdndVersion;
    XChangeProperty(d, w, p.aXdndAware, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&version), 1);
    XMapWindow(d, w);
    if (trap.failed()) {
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
            if (platform->window) {
                XDeleteProperty(d, platform->window, platform->aXdndAware);
                XDestroyWindow(d, platform->window);
            }
            if (platform->cursor)
                XFreeCursor(d, platform->cursor);
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

VstKeyCode keyFromEvent(XKeyEvent& e)
{
    VstKeyCode k{};
    char buf[8] = {};
    KeySym sym = 0;
    int n = XLookupString(&e, buf, sizeof buf - 1, &sym, nullptr);
    switch (sym) {
    case XK_BackSpace:
        k.virt = VKEY_BACK;
        break;
    case XK_Tab:
        k.virt = VKEY_TAB;
        break;
    case XK_Return:
        k.virt = VKEY_RETURN;
        break;
    case XK_KP_Enter:
        k.virt = VKEY_ENTER;
        break;
    case XK_Escape:
        k.virt = VKEY_ESCAPE;
        break;
    case XK_space:
        k.virt = VKEY_SPACE;
        break;
    case XK_Next:
        k.virt = VKEY_NEXT;
        break;
    case XK_End:
        k.virt = VKEY_END;
        break;
    case XK_Home:
        k.virt = VKEY_HOME;
        break;
    case XK_Left:
    case XK_KP_Left:
        k.virt = VKEY_LEFT;
        break;
    case XK_Up:
    case XK_KP_Up:
        k.virt = VKEY_UP;
        break;
    case XK_Right:
    case XK_KP_Right:
        k.virt = VKEY_RIGHT;
        break;
    case XK_Down:
    case XK_KP_Down:
        k.virt = VKEY_DOWN;
        break;
    case XK_Prior:
        k.virt = VKEY_PAGEUP;
        break;
    case XK_Insert:
        k.virt = VKEY_INSERT;
        break;
    case XK_Delete:
        k.virt = VKEY_DELETE;
        break;
    default:
        if (n == 1 && (unsigned char)buf[0] >= 32)
            k.character = (unsigned char)buf[0];
        break;
    }
    if (e.state & ShiftMask)
        k.modifier |= MODIFIER_SHIFT;
    if (e.state & Mod1Mask)
        k.modifier |= MODIFIER_ALTERNATE;
    if (e.state & ControlMask)
        k.modifier |= MODIFIER_CONTROL;
    return k;
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
    case KeyPress: {
        VstKeyCode k = keyFromEvent(ev.xkey);
        onKeyDown(k);
        break;
    }
    case KeyRelease: {
        VstKeyCode k = keyFromEvent(ev.xkey);
        onKeyUp(k);
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
        if (ev.xclient.window != p.window || ev.xclient.format != 32)
            break;
        // Drag messages name the source's windows, which may be gone or forged.
        CXErrorTrap trap(d);
        Atom t = ev.xclient.message_type;
        const long* l = ev.xclient.data.l;
        if (t == p.aXdndEnter) {
            p.dragSource = Window(l[0]);
            p.dragType = None;
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
            p.dragSource = Window(l[0]);
            Window child;
            int x = 0, y = 0;
            XTranslateCoordinates(d, DefaultRootWindow(d), p.window, int((l[2] >> 16) & 0xFFFF),
                                  int(l[2] & 0xFFFF), &x, &y, &child);
            p.dragPoint = CPoint(x, y);
            XEvent reply{};
            reply.xclient.type = ClientMessage;
            reply.xclient.display = d;
            reply.xclient.window = p.dragSource;
            reply.xclient.message_type = p.aXdndStatus;
            reply.xclient.format = 32;
            reply.xclient.data.l[0] = long(p.window);
            bool accept = p.dragType != None;
            reply.xclient.data.l[1] = accept ? 1 : 0;
            reply.xclient.data.l[4] = accept ? long(p.aXdndActionCopy) : 0;
            XSendEvent(d, p.dragSource, False, NoEventMask, &reply);
            XFlush(d);
        }
        else if (t == p.aXdndLeave) {
            p.dragSource = 0;
            p.dragType = None;
        }
        else if (t == p.aXdndDrop) {
            p.dragSource = Window(l[0]);
            if (p.dragType == None) {
                sendXdndFinished(d, p, false);
                XFlush(d);
                break;
            }
            p.dropPending = true;
            XConvertSelection(d, p.aXdndSelection, p.dragType, p.aDropProperty, p.window,
                              Time(l[2]));
            XFlush(d);
        }
        break;
    }
    case SelectionNotify: {
        if (!p.dropPending || ev.xselection.selection != p.aXdndSelection)
            break;
        p.dropPending = false;
        bool accepted = false;
        if (ev.xselection.property != None) {
            std::string data;
            {
                CXErrorTrap trap(d);
                data = readProperty(d, p.window, ev.xselection.property);
                XDeleteProperty(d, p.window, ev.xselection.property);
            }
            std::vector<std::string> items;
            long kind = kDropFiles;
            if (p.dragType == p.aUriList) {
                items = parseUriList(data);
            }
            else {
                kind = kDropText;
                if (data.size() > kMaxDropPathLength)
                    data.resize(kMaxDropPathLength);
                items.push_back(data);
            }
            if (!items.empty()) {
                retain();
                accepted = onDrop(items, kind, p.dragPoint);
                release();
            }
        }
        if (!p.window)
            break;  // the drop target itself went away meanwhile
        {
            CXErrorTrap trap(d);
            sendXdndFinished(d, p, accepted);
        }
        p.dragSource = 0;
        break;
    }
    default:
        break;
    }
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
