// The frame as an XDND drop target: registering the window (and, for file managers' sake, the
// host's top-level through a proxy), answering the source's enter, position, leave and drop
// messages, and fetching the dragged data through the XdndSelection. The data is fetched at
// the first position already, so that the status we send says whether the view under the
// pointer would really take it.
#include "editor/toolkit/FramePlatform.h"

#include "editor/toolkit/DropData.h"
#include "editor/toolkit/XErrorTrap.h"

#include <X11/Xatom.h>

#include <cstring>

namespace VSTGUI {

namespace {

constexpr long kXdndVersion = 5;
// A drop is never this large; a property that keeps growing is not read further.
constexpr std::size_t kMaxPropertyBytes = 16u << 20;

// Reads a whole window property; empty on failure.
std::string readProperty(Display* d, Window w, Atom property)
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
        // Xlib hands 32-bit items out as longs, so their size in memory is not 4 bytes, while
        // the offset of the next request still counts 32-bit units on the server.
        std::size_t unit = format == 32 ? sizeof(long) : std::size_t(format / 8);
        data.append(reinterpret_cast<char*>(bytes), n * unit);
        XFree(bytes);
        if (after == 0 || n == 0)
            break;
        offset += format == 32 ? long(n) : long(n * unit / 4);
        if (data.size() > kMaxPropertyBytes)
            break;
    }
    return data;
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

void internAtoms(Display* d, CFrame::Platform& p)
{
    auto atom = [d](const char* n) { return XInternAtom(d, n, False); };
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
}

// Makes `on` drag-aware with our window as the one that handles its drags.
void announceDropTarget(Display* d, const CFrame::Platform& p, Window on)
{
    long version = kXdndVersion;
    long proxy = long(p.window);
    XChangeProperty(d, on, p.aXdndAware, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&version), 1);
    XChangeProperty(d, on, p.aXdndProxy, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&proxy), 1);
}

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

// The types an XdndEnter offers: up to three in the message itself, more in the source's
// XdndTypeList property (bit 0 of l[1] says which).
std::vector<Atom> offeredTypes(Display* d, const CFrame::Platform& p, const long* l)
{
    std::vector<Atom> types;
    if (l[1] & 1) {
        const std::string raw = readProperty(d, p.dragSource, p.aXdndTypeList);
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
    return types;
}

// The type we ask for: file lists first, then UTF-8 text, then any plain text; None when
// nothing offered is one of them.
Atom preferredType(const CFrame::Platform& p, const std::vector<Atom>& types)
{
    const Atom preferred[] = {p.aUriList, p.aUtf8, p.aTextPlainUtf8, p.aTextPlain, XA_STRING};
    for (Atom want : preferred)
        for (Atom a : types)
            if (a == want)
                return a;
    return None;
}

}  // namespace

void CFrame::registerDropTarget()
{
    Platform& p = *platform;
    Display* d = p.display;
    internAtoms(d, p);
    // File managers' drag sources (GTK, Qt) look only at the top-level under the pointer and
    // then follow its XdndProxy; a proxy names itself in its own XdndProxy.
    announceDropTarget(d, p, p.window);
    // The host's own drop handling, if its top-level has any, stays in charge there.
    const Window top = topLevelOf(d, parentWindow, p.aWmState);
    if (top && !hasProperty(d, top, p.aXdndAware)) {
        announceDropTarget(d, p, top);
        p.proxiedTopLevel = top;
    }
}

void CFrame::withdrawDropTarget()
{
    withdrawProxy();
    if (platform->window) {
        XDeleteProperty(platform->display, platform->window, platform->aXdndAware);
        XDeleteProperty(platform->display, platform->window, platform->aXdndProxy);
    }
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

void CFrame::onXdndMessage(XEvent& ev)
{
    const Platform& p = *platform;
    // Sources address the window they found: ours, or the top-level we are proxy for.
    const Window target = ev.xclient.window;
    if (ev.xclient.format != 32 ||
        (target != p.window && (!p.proxiedTopLevel || target != p.proxiedTopLevel)))
        return;
    // Drag messages name the source's windows, which may be gone or forged.
    CXErrorTrap trap(p.display);
    const Atom t = ev.xclient.message_type;
    const long* l = ev.xclient.data.l;
    if (t == p.aXdndEnter) {
        beginDrag(Window(l[0]), target);
        platform->dragType = preferredType(p, offeredTypes(p.display, p, l));
    }
    else if (t == p.aXdndPosition) {
        onXdndPosition(l, target);
    }
    else if (t == p.aXdndLeave) {
        if (Window(l[0]) == p.dragSource)
            beginDrag(0, 0);
    }
    else if (t == p.aXdndDrop) {
        onXdndDrop(l, target);
    }
}

void CFrame::onXdndPosition(const long* l, unsigned long target)
{
    Platform& p = *platform;
    Display* d = p.display;
    if (Window(l[0]) != p.dragSource)
        beginDrag(Window(l[0]), target);  // no enter seen: nothing is offered
    p.dragTarget = Window(target);
    // The position comes in root coordinates, x in the high half of l[2].
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

void CFrame::onXdndDrop(const long* l, unsigned long target)
{
    Platform& p = *platform;
    if (Window(l[0]) != p.dragSource)
        return;
    p.dragTarget = Window(target);
    if (p.dragType == None) {
        sendXdndFinished(p.display, p, false);
        beginDrag(0, 0);
    }
    else if (p.dataKnown) {
        finishDrop();
    }
    else {
        p.dropPending = true;
        // A drop without a position before it: the selection is asked for at the drop's time.
        if (!p.dataRequested)
            p.dragTime = Time(l[2]);
        requestDragData();
    }
    XFlush(p.display);
}

void CFrame::onDropData(XEvent& ev)
{
    Platform& p = *platform;
    Display* d = p.display;
    // Only the answer to our own latest request; a late one for an earlier drag is stale.
    if (!p.dataRequested || p.dataKnown || ev.xselection.selection != p.aXdndSelection ||
        ev.xselection.time != p.requestTime)
        return;
    p.dataKnown = true;
    if (ev.xselection.property != None) {
        std::string data;
        {
            CXErrorTrap trap(d);
            data = readProperty(d, p.window, ev.xselection.property);
            XDeleteProperty(d, p.window, ev.xselection.property);
        }
        storeDragData(std::move(data));
    }
    CXErrorTrap trap(d);
    if (p.statusPending) {
        p.statusPending = false;
        sendXdndStatus(d, p, acceptsDrop(p.dragItems, p.dragKind, p.dragPoint));
    }
    if (p.dropPending)
        finishDrop();
    XFlush(d);
}

void CFrame::storeDragData(std::string data)
{
    Platform& p = *platform;
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
    // The source's SelectionNotify carries this time back; onDropData matches on it.
    p.requestTime = p.dragTime;
    XConvertSelection(p.display, p.aXdndSelection, p.dragType, p.aDropProperty, p.window,
                      p.dragTime);
}

void CFrame::finishDrop()
{
    Platform& p = *platform;
    bool accepted = false;
    // The host may close the editor from idle work that a view's onDrop runs (a modal
    // loop); our own reference keeps the frame alive until the source has had its answer.
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

}  // namespace VSTGUI
