// The multi-state button and the about button: picking the frame of their picture to show
// and stepping the value on a click.
#include "editor/controls/PictureButtons.h"

#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"

#include <cmath>

namespace VSTGUI {

CMultiStateButton::CMultiStateButton(const CRect& r, CControlListener* l, long t, CBitmap* picture,
                                     int n)
    : CControl(r, l, t, picture), states(std::max(1, n))
{
}

int CMultiStateButton::currentFrame() const
{
    int k = int(std::floor(double(states) * double(value)));
    return std::min(std::max(k, 0), states - 1);
}

void CMultiStateButton::draw(CDrawContext* context)
{
    if (pBackground)
        drawBackground(context, size,
                       CPoint(0, currentFrame() * pBackground->getHeight() / states));
    setDirty(false);
}

void CMultiStateButton::onMouseDown(CDrawContext* context, CPoint&, long buttons)
{
    buttons = resolveButtons(context, buttons);
    if (!(buttons & kLButton))
        return;
    value = float((currentFrame() + 1) % states) / float(states);
    clampValue();
    callListener(context);
}

CAboutButton::CAboutButton(const CRect& r, CControlListener* l, long t, CBitmap* picture)
    : CControl(r, l, t, picture)
{
}

void CAboutButton::draw(CDrawContext* context)
{
    if (pBackground)
        drawBackground(context, CRect(size.left, size.top, size.left + pBackground->getWidth(),
                                      size.top + pBackground->getHeight()));
    setDirty(false);
}

void CAboutButton::onMouseDown(CDrawContext* context, CPoint&, long buttons)
{
    buttons = resolveButtons(context, buttons);
    if (!(buttons & kLButton))
        return;
    value = value != 0.f ? 0.f : 1.f;
    clampValue();
    callListener(context);
}

}  // namespace VSTGUI
