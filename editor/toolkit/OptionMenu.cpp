// The option menu's entries and the pop-up session: one override-redirect window per open
// level, a pointer grab for the session, mouse and keyboard navigation and the choice.
#include "editor/toolkit/OptionMenu.h"

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/Frame.h"
#include "editor/toolkit/GUIEditor.h"
#include "editor/toolkit/WindowSurface.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace VSTGUI {

COptionMenu::COptionMenu(const CRect& r, CControlListener* l, long t, CBitmap* background, long s)
    : CParamDisplay(r, background, s)
{
    listener = l;
    tag = t;
}

COptionMenu::~COptionMenu()
{
    removeAllEntry();
}

bool COptionMenu::addEntry(const char* text)
{
    if (entries.size() >= std::size_t(kMaxEntries))
        return false;
    entries.push_back({text ? text : "", nullptr});
    return true;
}

bool COptionMenu::addEntry(COptionMenu* sub, const char* title)
{
    if (!sub || entries.size() >= std::size_t(kMaxEntries))
        return false;
    sub->retain();
    entries.push_back({title ? title : "", sub});
    return true;
}

void COptionMenu::removeAllEntry()
{
    for (Entry& e : entries)
        if (e.subMenu)
            e.subMenu->release();
    entries.clear();
}

const char* COptionMenu::getEntry(int i) const
{
    return i >= 0 && i < int(entries.size()) ? entries[std::size_t(i)].text.c_str() : nullptr;
}

COptionMenu* COptionMenu::getSubMenu(int i) const
{
    return i >= 0 && i < int(entries.size()) ? entries[std::size_t(i)].subMenu : nullptr;
}

bool COptionMenu::isSeparator(int i) const
{
    return i >= 0 && i < int(entries.size()) && !entries[std::size_t(i)].subMenu &&
           entries[std::size_t(i)].text == "-";
}

COptionMenu* COptionMenu::getLastItemMenu(long& index) const
{
    index = lastResult;
    return lastMenu;
}

void COptionMenu::draw(CDrawContext* context)
{
    if (style & kNoTextStyle) {
        drawBackground(context, size);
        setDirty(false);
        return;
    }
    drawBack(context);
    const char* current = getEntry(getCurrent());
    if (current && !isSeparator(getCurrent()))
        drawText(context, current, size, fontColor);
    setDirty(false);
}

void COptionMenu::onMouseDown(CDrawContext* context, CPoint&, long buttons)
{
    buttons = resolveButtons(context, buttons);
    if (!(buttons & (kLButton | kRButton)))
        return;
    CRect r = frameRect();
    popup(context, r.left, (style & kPopupStyle) ? r.top : r.bottom);
}

namespace {

// One open level of the pop-up: a menu shown in its own window.
struct Level {
    COptionMenu* menu = nullptr;
    Window window = 0;
    int x = 0, y = 0, width = 0, height = 0;  // root coordinates
    int hover = -1;
    std::vector<int> itemTop;                 // per item, window coordinates
    std::unique_ptr<CWindowSurface> surface;  // drawn here, then copied to the window
};

int itemHeight(const COptionMenu* m, int i)
{
    return m->isSeparator(i) ? kMenuSeparatorHeight : kMenuItemHeight;
}

class PopupSession {
public:
    PopupSession(CFrame* f, COptionMenu* top) : frame(f), d(f->getDisplay()), topMenu(top)
    {
        screenW = DisplayWidth(d, DefaultScreen(d));
        screenH = DisplayHeight(d, DefaultScreen(d));
        measure = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 4, 4);
    }
    ~PopupSession()
    {
        while (!levels.empty())
            closeLevel();
        cairo_surface_destroy(measure);
    }

    // Runs until a choice or a cancel; answers the owning menu and index, or null.
    COptionMenu* run(int rootX, int rootY, int& index);

private:
    // Takes the pointer (and, if it can, the keyboard) for the menu's windows.
    bool grabInput(Window grabWindow);
    // What happens while no event waits: the editor's idle work, which paces the loop.
    void idleWhileOpen();
    void handle(XEvent& ev);
    void onExpose(XEvent& ev);
    void onMotion(const XEvent& ev);
    void onButtonPress(const XEvent& ev);
    void onButtonRelease(const XEvent& ev);
    void onKeyPress(XEvent& ev);
    // A click or Return on an item: a sub-menu opens, any other item ends the session.
    void choose(std::size_t level, int item);
    int levelOfWindow(Window w) const;
    void openLevel(COptionMenu* menu, int x, int y, int alignRight);
    void closeLevel();
    void paint(Level& l);
    int levelAt(int rx, int ry) const;
    int itemAt(const Level& l, int ry) const;
    void hoverTo(std::size_t level, int item, bool openSub);
    // Opens the sub-menu of the innermost level's highlighted item on its first item.
    void enterSubMenu();
    int nextSelectable(const Level& l, int from, int step) const;

    CFrame* frame;
    Display* d;
    COptionMenu* topMenu;
    std::vector<Level> levels;
    int screenW, screenH;
    cairo_surface_t* measure;
    COptionMenu* chosen = nullptr;  // the menu owning the chosen item; null: cancelled
    int chosenIndex = -1;
    bool done = false;
};

void PopupSession::openLevel(COptionMenu* menu, int x, int y, int alignRight)
{
    Level l;
    l.menu = menu;
    {
        CDrawContext m(nullptr, measure);
        m.setFont(kNormalFont);
        int w = kMenuMinWidth;
        for (int i = 0; i < menu->getNbEntries(); ++i)
            w = std::max(w, int(m.getStringWidth(menu->getEntry(i))) + 34);
        l.width = w;
    }
    int h = kMenuPadding;
    for (int i = 0; i < menu->getNbEntries(); ++i) {
        l.itemTop.push_back(h);
        h += itemHeight(menu, i);
    }
    l.height = std::max(h + kMenuPadding, 2 * kMenuPadding + 1);
    if (x + l.width > screenW)
        x = alignRight >= 0 ? alignRight - l.width : screenW - l.width;
    if (y + l.height > screenH)
        y = std::max(0, screenH - l.height);
    l.x = std::max(0, x);
    l.y = std::max(0, y);
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.save_under = True;
    a.event_mask =
        ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask;
    a.background_pixel = BlackPixel(d, DefaultScreen(d));
    l.window = XCreateWindow(d, DefaultRootWindow(d), l.x, l.y, unsigned(l.width),
                             unsigned(l.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                             CWOverrideRedirect | CWSaveUnder | CWEventMask | CWBackPixel, &a);
    XClassHint hint;
    hint.res_name = const_cast<char*>(kMenuWindowClass);
    hint.res_class = const_cast<char*>(kMenuWindowClass);
    XSetClassHint(d, l.window, &hint);
    l.surface = std::make_unique<CWindowSurface>(d, l.window, l.width, l.height);
    XMapRaised(d, l.window);
    levels.push_back(std::move(l));
    XFlush(d);
}

void PopupSession::closeLevel()
{
    levels.back().surface.reset();
    XDestroyWindow(d, levels.back().window);
    levels.pop_back();
    XFlush(d);
}

void PopupSession::paint(Level& l)
{
    {
        CDrawContext c(nullptr, l.surface->getImage());
        c.setFillColor(popup::kGround);
        c.fillRect(CRect(0, 0, l.width, l.height));
        c.setFrameColor(popup::kRim);
        c.drawRect(CRect(0, 0, l.width - 1, l.height - 1));
        c.setFont(kNormalFont);
        for (int i = 0; i < l.menu->getNbEntries(); ++i) {
            int top = l.itemTop[std::size_t(i)];
            if (l.menu->isSeparator(i)) {
                c.setFrameColor(popup::kRule);
                c.drawLine(CPoint(8, top + 3), CPoint(l.width - 9, top + 3));
                continue;
            }
            CRect row(kMenuPadding, top, l.width - kMenuPadding, top + kMenuItemHeight);
            bool hot = i == l.hover;
            if (hot) {
                c.setFillColor(popup::kHot);
                c.fillRect(row);
            }
            c.setFontColor(hot ? popup::kHotText : popup::kText);
            c.drawString(l.menu->getEntry(i),
                         CRect(row.left + 10, row.top, row.right - 16, row.bottom), false,
                         kLeftText);
            if (l.menu->getSubMenu(i)) {
                // A small right-pointing triangle marks a sub-menu.
                c.setFrameColor(hot ? popup::kHotText : popup::kMark);
                int cx = row.right - 9, cy = row.top + kMenuItemHeight / 2;
                for (int k = 0; k < 4; ++k)
                    c.drawLine(CPoint(cx + k, cy - 3 + k), CPoint(cx + k, cy + 3 - k));
            }
        }
    }
    l.surface->presentArea(CRect(0, 0, l.width, l.height));
    XFlush(d);
}

int PopupSession::levelAt(int rx, int ry) const
{
    for (int i = int(levels.size()) - 1; i >= 0; --i) {
        const Level& l = levels[std::size_t(i)];
        if (rx >= l.x && rx < l.x + l.width && ry >= l.y && ry < l.y + l.height)
            return i;
    }
    return -1;
}

int PopupSession::itemAt(const Level& l, int ry) const
{
    int y = ry - l.y;
    for (int i = 0; i < l.menu->getNbEntries(); ++i) {
        int top = l.itemTop[std::size_t(i)];
        if (y >= top && y < top + itemHeight(l.menu, i))
            return l.menu->isSeparator(i) ? -1 : i;
    }
    return -1;
}

int PopupSession::nextSelectable(const Level& l, int from, int step) const
{
    int n = l.menu->getNbEntries();
    if (n == 0)
        return -1;
    int i = from;
    for (int k = 0; k < n; ++k) {
        i = (i + step + n) % n;
        if (!l.menu->isSeparator(i))
            return i;
    }
    return -1;
}

void PopupSession::hoverTo(std::size_t level, int item, bool openSub)
{
    while (levels.size() > level + 1)
        closeLevel();
    Level& l = levels[level];
    if (l.hover != item) {
        l.hover = item;
        paint(l);
    }
    COptionMenu* sub = l.menu->getSubMenu(item);
    if (openSub && sub) {
        int top = l.y + l.itemTop[std::size_t(item)] - kMenuPadding;
        openLevel(sub, l.x + l.width - 2, top, l.x + 2);
    }
}

void PopupSession::enterSubMenu()
{
    hoverTo(levels.size() - 1, levels.back().hover, true);
    const int first = nextSelectable(levels.back(), -1, 1);
    if (first >= 0)
        hoverTo(levels.size() - 1, first, false);
}

COptionMenu* PopupSession::run(int rootX, int rootY, int& index)
{
    openLevel(topMenu, rootX, rootY, -1);
    XSync(d, False);
    if (!grabInput(levels[0].window))
        return nullptr;
    while (!done) {
        if (!XPending(d)) {
            idleWhileOpen();
            if (frame->isCloseRequested())
                break;  // the host closed the editor from inside that idle work
            continue;
        }
        XEvent ev;
        XNextEvent(d, &ev);
        handle(ev);
    }
    XUngrabKeyboard(d, CurrentTime);
    XUngrabPointer(d, CurrentTime);
    XFlush(d);
    index = chosenIndex;
    return chosen;
}

bool PopupSession::grabInput(Window grabWindow)
{
    // Without the pointer grab a click outside the menu would never reach us and the menu
    // could not be dismissed. The click that opened it gave us the pointer already, so a
    // failure means another client holds a grab right now: give it a moment, then give up.
    bool grabbed = false;
    for (int i = 0; i < 50 && !grabbed; ++i) {
        grabbed = XGrabPointer(
                      d, grabWindow, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                      GrabModeAsync, GrabModeAsync, None, None, CurrentTime) == GrabSuccess;
        if (!grabbed)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!grabbed)
        return false;
    // The keyboard grab only adds Escape and arrow keys; clicks work without it.
    XGrabKeyboard(d, grabWindow, True, GrabModeAsync, GrabModeAsync, CurrentTime);
    return true;
}

void PopupSession::idleWhileOpen()
{
    // Like any modal loop of the toolkit: the editor keeps redrawing and the host keeps
    // idling while the menu is open (runIdleWork also paces this loop).
    if (AEffGUIEditor* editor = frame->getEditor())
        editor->runIdleWork();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(AEffGUIEditor::kIdleRateMin));
}

void PopupSession::handle(XEvent& ev)
{
    switch (ev.type) {
    case Expose:
        onExpose(ev);
        break;
    case MotionNotify:
        onMotion(ev);
        break;
    case ButtonPress:
        onButtonPress(ev);
        break;
    case ButtonRelease:
        onButtonRelease(ev);
        break;
    case KeyPress:
        onKeyPress(ev);
        break;
    default:
        break;
    }
}

int PopupSession::levelOfWindow(Window w) const
{
    for (std::size_t i = 0; i < levels.size(); ++i)
        if (levels[i].window == w)
            return int(i);
    return -1;
}

void PopupSession::onExpose(XEvent& ev)
{
    const int li = levelOfWindow(ev.xexpose.window);
    if (li >= 0 && ev.xexpose.count == 0) {
        paint(levels[std::size_t(li)]);
    }
    else if (ev.xexpose.window == frame->getWindow()) {
        // The editor's own window shares our connection: its paint goes back to the frame.
        XPutBackEvent(d, &ev);
        frame->dispatchOnePaint();
    }
}

void PopupSession::onMotion(const XEvent& ev)
{
    const int li = levelAt(ev.xmotion.x_root, ev.xmotion.y_root);
    if (li < 0)
        return;
    const int item = itemAt(levels[std::size_t(li)], ev.xmotion.y_root);
    if (item >= 0 && item != levels[std::size_t(li)].hover)
        hoverTo(std::size_t(li), item, true);
}

void PopupSession::onButtonPress(const XEvent& ev)
{
    if (ev.xbutton.button > 3)
        return;  // wheel steps
    const int li = levelAt(ev.xbutton.x_root, ev.xbutton.y_root);
    if (li < 0) {
        done = true;  // a click outside cancels
        return;
    }
    choose(std::size_t(li), itemAt(levels[std::size_t(li)], ev.xbutton.y_root));
}

void PopupSession::onButtonRelease(const XEvent& ev)
{
    if (ev.xbutton.button > 3)
        return;
    const int li = levelAt(ev.xbutton.x_root, ev.xbutton.y_root);
    if (li < 0)
        return;
    const Level& l = levels[std::size_t(li)];
    const int item = itemAt(l, ev.xbutton.y_root);
    // A release picks an item only after the pointer travelled to it (press, drag,
    // release); the release of the click that opened the menu does not.
    if (item >= 0 && item == l.hover && !l.menu->getSubMenu(item))
        choose(std::size_t(li), item);
}

void PopupSession::onKeyPress(XEvent& ev)
{
    const KeySym sym = XLookupKeysym(&ev.xkey, 0);
    const Level& l = levels.back();
    const std::size_t last = levels.size() - 1;
    if (sym == XK_Escape) {
        done = true;
    }
    else if (sym == XK_Down || sym == XK_Up) {
        const int item = nextSelectable(l, l.hover < 0 ? (sym == XK_Down ? -1 : 0) : l.hover,
                                        sym == XK_Down ? 1 : -1);
        if (item >= 0)
            hoverTo(last, item, false);
    }
    else if (sym == XK_Right) {
        if (l.hover >= 0 && l.menu->getSubMenu(l.hover))
            enterSubMenu();
    }
    else if (sym == XK_Left) {
        if (levels.size() > 1)
            closeLevel();
    }
    else if (sym == XK_Return || sym == XK_KP_Enter || sym == XK_space) {
        if (l.hover >= 0 && l.menu->getSubMenu(l.hover))
            enterSubMenu();
        else if (l.hover >= 0)
            choose(last, l.hover);
    }
}

void PopupSession::choose(std::size_t level, int item)
{
    const Level& l = levels[level];
    if (item < 0)
        return;
    if (l.menu->getSubMenu(item)) {
        hoverTo(level, item, true);
        return;
    }
    chosen = l.menu;
    chosenIndex = item;
    done = true;
}

}  // namespace

bool COptionMenu::popup(CDrawContext* context, int x, int y)
{
    if (!parentFrame || !parentFrame->isOpen())
        return false;
    Display* d = parentFrame->getDisplay();
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(d, parentFrame->getWindow(), DefaultRootWindow(d), x, y, &rx, &ry,
                          &child);
    COptionMenu* owner = nullptr;
    int index = -1;
    retain();
    {
        CMouseLoop marker(parentFrame);
        PopupSession session(parentFrame, this);
        owner = session.run(rx, ry, index);
    }
    if (owner) {
        owner->setValue(float(index));
        lastResult = index;
        lastMenu = owner;
        if (owner != this) {
            // Keep the top menu's own choice, but make the listener see a change.
            setDirty(true);
        }
        owner->setDirty(true);
        if (listener)
            listener->valueChanged(context, owner);
    }
    release();
    return owner != nullptr;
}

}  // namespace VSTGUI
