// CBarControl: a bar slider drawn into an off-screen surface of its own size (which exists
// while the bar is attached to a view), dragged with the mouse, with fine modes on shift,
// the default value on control-click, wheel and arrow keys.
#pragma once

#include "editor/toolkit/Control.h"

#include <memory>

namespace VSTGUI {

class COffscreenContext;

enum CBarStyle : long {
    kBarHorizontal = 0x0001,
    kBarVertical = 0x0002,
    kBarFromLeft = 0x0008,       // horizontal: filled from the left (otherwise the right)
    kBarFromRightEdge = 0x0010,  // horizontal: mouse value taken from the right edge
    kBarBottomUp = 0x0040,       // vertical: filled from the bottom; mouse counts from the bottom
    kBarBipolar = 0x4000,        // 0.5 is the middle; the bar runs from the middle to the value
};

class CBarControl : public CControl {
public:
    /// Colours: background, a second one that is kept but not drawn, the bar.
    CBarControl(long tag, CControlListener* listener, const CRect& size, const CColor& background,
                const CColor& second, const CColor& bar, long style = kBarVertical | kBarBottomUp);
    ~CBarControl() override;

    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, CPoint& where, long buttons = -1) override;
    bool onWheel(CDrawContext* context, const CPoint& where, float distance) override;
    long onKeyDown(VstKeyCode& key) override;
    void onAttached(CView* parent) override;
    void onRemoved() override;

    void setStyle(long s)
    {
        style = s;
        setDirty(true);
    }
    long getStyle() const { return style; }
    CColor getSecondColor() const { return secondColor; }
    bool hasOffscreen() const { return offscreen != nullptr; }
    /// The bar's rectangle inside the control (both edges included) for the current value.
    CRect barRect() const;
    /// The value the pointer at where (container coordinates) points at, not clamped.
    float positionValue(const CPoint& where) const;

    static constexpr float kFineDragStep = 0.00025f;
    static constexpr float kFineClickStep = 0.000025f;

private:
    void stepTowards(float target, float step);
    void drawInto(CDrawContext* off);

    CColor backColor, secondColor, barColor;
    long style;
    int width, height;
    std::unique_ptr<COffscreenContext> offscreen;
};

class CVerticalBarControl : public CBarControl {
public:
    using CBarControl::CBarControl;
};

}  // namespace VSTGUI
