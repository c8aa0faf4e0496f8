// The momentary button: its two picture states and the press-and-release gesture.
#include "editor/toolkit/KickButton.h"

#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/Frame.h"

namespace VSTGUI {

CKickButton::CKickButton(const CRect& r, CControlListener* l, long t, CBitmap* background, int h,
                         const CPoint& off)
    : CControl(r, l, t, background), heightOfOneImage(h), offset(off)
{
}

void CKickButton::draw(CDrawContext* context)
{
    drawBackground(context, size,
                   CPoint(offset.h, offset.v + (value != 0.f ? heightOfOneImage : 0)));
    setDirty(false);
}

void CKickButton::report(CDrawContext* context)
{
    if (!isDirty())
        return;
    callListener(context);
    redrawIfDirty(context);
}

void CKickButton::onMouseDown(CDrawContext* context, CPoint& where, long buttons)
{
    buttons = resolveButtons(context, buttons);
    if (!(buttons & kLButton))
        return;
    if (buttons & (kShift | kControl | kAlt)) {
        value = value != 0.f ? 0.f : 1.f;
        report(context);
        value = 0.f;
        report(context);
        return;
    }
    CMouseLoop loop(parentFrame);
    beginEdit();
    CPoint p = where;
    do {
        value = size.pointInside(p) ? 1.f : 0.f;
        report(context);
    } while (followMouse(context, p));
    endEdit();
    value = 0.f;
    report(context);
}

}  // namespace VSTGUI
