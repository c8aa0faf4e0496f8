// The bar slider: its off-screen surface (made when attached, dropped when removed), the
// drawing of the bar into it, and the mouse, wheel and key gestures that move the value.
#include "editor/controls/BarControl.h"

#include "dsp/DspMath.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/Frame.h"

namespace VSTGUI {

CBarControl::CBarControl(long t, CControlListener* l, const CRect& r, const CColor& bg,
                         const CColor& second, const CColor& bar, long s)
    : CControl(r, l, t), backColor(bg), secondColor(second), barColor(bar), style(s),
      width(r.width()), height(r.height())
{
}

CBarControl::~CBarControl() = default;

// The off-screen surface lives only while the bar is in a view tree: a switch keeps the
// bars it has taken out alive, and they need no pixels meanwhile.
void CBarControl::onAttached(CView*)
{
    offscreen = std::make_unique<COffscreenContext>(parentFrame, width, height, backColor);
}

void CBarControl::onRemoved()
{
    offscreen.reset();
}

CRect CBarControl::barRect() const
{
    const bool bipolar = (style & kBarBipolar) != 0;
    const bool inverted = bipolar && !(style & (kBarFromLeft | 0x20));
    const double a = inverted ? 1.0 - double(value) : double(value);
    // The bar fills the inside of a 2-pixel margin (3 at the far edge, where the outline's
    // last pixel lies); bipolar bars grow from the middle towards either end.
    auto span = [&](int extent, bool fromFar, int& lo, int& hi) {
        const int d = extent - 5;
        if (fromFar) {
            lo = extent - 3 - skv::roundHalfEvenToInt(a * d);
            hi = extent - 3;
        }
        else if (bipolar) {
            const int m = d / 2 + 2;
            const int p = skv::roundHalfEvenToInt(a * d) + 2;
            lo = a >= 0.5 ? m : p;
            hi = a >= 0.5 ? p : m;
        }
        else {
            lo = 2;
            hi = skv::roundHalfEvenToInt(a * d) + 2;
        }
    };
    CRect r;
    if (style & kBarHorizontal) {
        span(width, !(style & kBarFromLeft) && !bipolar, r.left, r.right);
        r.top = 2;
        r.bottom = height - 3;
    }
    else {
        span(height, (style & kBarBottomUp) != 0, r.top, r.bottom);
        r.left = 2;
        r.right = width - 3;
    }
    return r;
}

void CBarControl::drawInto(CDrawContext* off)
{
    off->setFillColor(backColor);
    off->fillRect(CRect(0, 0, width, height));
    CRect b = barRect();
    // Outline plus flood fill of its inside amount to filling both edges included.
    off->setFrameColor(barColor);
    off->drawRect(b);
    off->setFillColor(barColor);
    off->fillRect(CRect(b.left, b.top, b.right + 1, b.bottom + 1));
}

void CBarControl::draw(CDrawContext* context)
{
    if (context)
        COffscreenContext::paintAndCopy(offscreen.get(), parentFrame, width, height, backColor,
                                        context, size, [this](CDrawContext* c) { drawInto(c); });
    setDirty(false);
}

float CBarControl::positionValue(const CPoint& where) const
{
    float pos;
    if (style & kBarHorizontal) {
        pos = float(where.h - size.left - 2) / float(std::max(1, width - 4));
        if (style & kBarFromRightEdge)
            pos = 1.f - pos;
    }
    else {
        pos = float(where.v - size.top - 2) / float(std::max(1, height - 4));
        if (style & (kBarBottomUp | kBarBipolar))
            pos = 1.f - pos;
    }
    return pos;
}

void CBarControl::stepTowards(float target, float step)
{
    if (value < target)
        value = std::min(target, value + step);
    else if (value > target)
        value = std::max(target, value - step);
    clampValue();
}

void CBarControl::onMouseDown(CDrawContext* context, CPoint& where, long buttons)
{
    buttons = resolveButtons(context, buttons);
    if ((buttons & kLButton) && (buttons & kControl)) {
        value = defaultValue;
        notify(context);
        return;
    }
    if ((buttons & kRButton) && (buttons & kShift)) {
        stepTowards(positionValue(where), kFineClickStep);
        notify(context);
        return;
    }
    if (!(buttons & kLButton))
        return;
    // A fine drag creeps towards the pointer instead of jumping to it, so that shift can be
    // pressed anywhere on the bar without the value leaping first.
    const bool fine = (buttons & kShift) != 0;
    CMouseLoop loop(parentFrame);
    beginEdit();
    CPoint p = where;
    do {
        if (fine) {
            stepTowards(positionValue(p), kFineDragStep);
        }
        else {
            value = positionValue(p);
            clampValue();
        }
        notify(context);
    } while (followMouse(context, p));
    endEdit();
}

bool CBarControl::onWheel(CDrawContext* context, const CPoint&, float distance)
{
    float inc = wheelInc * distance;
    // The host's wheel call carries no modifiers; shift is asked of the server.
    if (context && (context->getMouseButtons() & kShift))
        inc *= 0.01f;
    value += inc;
    clampValue();
    notify(context);
    return true;
}

long CBarControl::onKeyDown(VstKeyCode& key)
{
    float dir;
    switch (key.virt) {
    case VKEY_LEFT:
    case VKEY_DOWN:
        dir = -1.f;
        break;
    case VKEY_UP:
    case VKEY_RIGHT:
        dir = 1.f;
        break;
    default:
        return -1;
    }
    float inc = dir * wheelInc;
    if (key.modifier & MODIFIER_SHIFT)
        inc *= 0.1f;
    value += inc;
    clampValue();
    notify(nullptr);
    return 1;
}

}  // namespace VSTGUI
