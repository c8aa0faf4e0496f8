// The control base: value, dirty state and listener; double-click timing; the gesture
// begin and end sent to the effect; and the idle work that modal mouse loops run.
#include "editor/toolkit/Control.h"

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/Frame.h"
#include "editor/toolkit/GUIEditor.h"

#include <chrono>

namespace VSTGUI {

// A monotonic clock: double clicks and idle pacing must not jump when the wall clock is set.
long long currentMillis()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

CMouseLoop::CMouseLoop(CFrame* f) : frame(f)
{
    if (frame)
        frame->enterMouseLoop();
}

CMouseLoop::~CMouseLoop()
{
    if (frame)
        frame->leaveMouseLoop();
}

CControl::CControl(const CRect& r, CControlListener* l, long t, CBitmap* background)
    : CView(r), listener(l), tag(t), doubleClickDelay(CFrame::doubleClickTime())
{
    setBackground(background);
}

CControl::~CControl()
{
    setBackground(nullptr);
}

// A value set from outside (host automation, a program change) makes the control dirty by
// itself; the next draw records the value it showed.
bool CControl::isDirty() const
{
    return dirty || value != oldValue;
}

void CControl::setDirty(bool state)
{
    dirty = state;
    if (!state)
        oldValue = value;
}

void CControl::setBackground(CBitmap* background)
{
    if (background)
        background->retain();
    if (pBackground)
        pBackground->release();
    pBackground = background;
}

void CControl::clampValue()
{
    if (value > vmax)
        value = vmax;
    if (value < vmin)
        value = vmin;
}

void CControl::runIdleWork()
{
    if (AEffGUIEditor* editor = getEditor())
        editor->runIdleWork();
}

bool CControl::isDoubleClick()
{
    // The second click of a pair starts no new pair: a triple click is a double click and a
    // single one, not two double clicks.
    long long now = currentMillis();
    bool dbl = lastClickTime >= 0 && now - lastClickTime <= (long long)doubleClickDelay;
    lastClickTime = dbl ? -1 : now;
    return dbl;
}

void CControl::beginEdit()
{
    if (parentFrame)
        parentFrame->beginEdit(tag);
}

void CControl::endEdit()
{
    if (parentFrame)
        parentFrame->endEdit(tag);
}

// Tells the listener only about a real change, so that a drag that ends where it began
// sends no parameter change to the effect.
void CControl::notify(CDrawContext* context)
{
    if (listener && isDirty())
        listener->valueChanged(context, this);
}

void CControl::callListener(CDrawContext* context)
{
    if (listener)
        listener->valueChanged(context, this);
}

void CControl::drawBackground(CDrawContext* context, const CRect& rect, const CPoint& offset)
{
    if (!pBackground)
        return;
    if (transparent)
        pBackground->drawTransparent(context, rect, offset);
    else
        pBackground->draw(context, rect, offset);
}

// -1 stands for "ask the server": mouse-down handlers called with it (by tests, by code
// that forwards a click) see the buttons held right now.
long CControl::resolveButtons(CDrawContext* context, long buttons)
{
    if (buttons != -1)
        return buttons;
    return context ? context->getMouseButtons() : 0;
}

// One turn of a drag loop. The loop polls the pointer instead of reading events, which
// belong to the frame's idle; the idle work keeps the host and the window alive meanwhile
// (and paces the loop).
bool CControl::followMouse(CDrawContext* context, CPoint& where)
{
    runIdleWork();
    // The host may have closed the editor from inside that idle work.
    if (!context || (parentFrame && parentFrame->isCloseRequested()))
        return false;
    const long buttons = context->getMouseButtons();
    context->getMouseLocation(where);
    return (buttons & kLButton) != 0;
}

}  // namespace VSTGUI
