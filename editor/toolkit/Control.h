// Controls: views with a tag, a value in min..max and a listener told about user changes.
// A control is dirty while its value differs from the value last drawn (the old value) or
// while its dirty flag is set; drawing ends with setDirty(false).
#pragma once

#include "editor/toolkit/View.h"

namespace VSTGUI {

class CControl;
class CBitmap;

class CControlListener {
public:
    virtual ~CControlListener() = default;
    virtual void valueChanged(CDrawContext* context, CControl* control) = 0;
};

class CControl : public CView {
public:
    CControl(const CRect& size, CControlListener* listener = nullptr, long tag = 0,
             CBitmap* background = nullptr);
    ~CControl() override;

    bool isDirty() const override;
    void setDirty(bool state = true) override;

    virtual void setValue(float v) { value = v; }
    virtual float getValue() const { return value; }
    virtual void setMin(float v) { vmin = v; }
    virtual float getMin() const { return vmin; }
    virtual void setMax(float v) { vmax = v; }
    virtual float getMax() const { return vmax; }
    virtual void setOldValue(float v) { oldValue = v; }
    virtual float getOldValue() const { return oldValue; }
    virtual void setDefaultValue(float v) { defaultValue = v; }
    virtual float getDefaultValue() const { return defaultValue; }
    virtual void setTag(long t) { tag = t; }
    virtual long getTag() const { return tag; }
    virtual void setListener(CControlListener* l) { listener = l; }
    virtual CControlListener* getListener() const { return listener; }
    virtual void setWheelInc(float v) { wheelInc = v; }
    virtual float getWheelInc() const { return wheelInc; }
    virtual void setBackground(CBitmap* background);
    virtual CBitmap* getBackground() const { return pBackground; }
    /// Clamps the value into min..max.
    virtual void clampValue();
    /// Lets the editor do its idle work (redrawing, host idle) from inside a mouse loop.
    virtual void runIdleWork();
    /// True when this click follows the previous one within the double-click delay.
    virtual bool isDoubleClick();
    /// Begin / end of a gesture on this control's tag (through the frame to the effect).
    void beginEdit();
    void endEdit();
    unsigned long getDoubleClickDelay() const { return doubleClickDelay; }

protected:
    /// Calls the listener if the value or the dirty flag says something changed.
    void notify(CDrawContext* context);
    /// Calls the listener unconditionally.
    void callListener(CDrawContext* context);
    /// The background picture (if any) 1:1 into rect from offset, leaving out its transparent
    /// colour when the control is transparent.
    void drawBackground(CDrawContext* context, const CRect& rect, const CPoint& offset = CPoint());
    /// Mouse state to act on: the given buttons, or the platform's when -1.
    long resolveButtons(CDrawContext* context, long buttons);
    /// One turn of a mouse loop after its work: idle work, then the pointer position (into
    /// where, context coordinates); true while the left button is still held.
    bool followMouse(CDrawContext* context, CPoint& where);

    CControlListener* listener;
    long tag;
    float oldValue = 1.f;
    float defaultValue = 0.5f;
    float value = 0.f;
    float vmin = 0.f;
    float vmax = 1.f;
    float wheelInc = 0.1f;
    long long lastClickTime = -1;  // ms
    unsigned long doubleClickDelay;
    CBitmap* pBackground = nullptr;
};

/// Marks a frame as running a mouse loop for the guard's lifetime.
class CMouseLoop {
public:
    explicit CMouseLoop(CFrame* frame);
    ~CMouseLoop();
    CMouseLoop(const CMouseLoop&) = delete;
    CMouseLoop& operator=(const CMouseLoop&) = delete;

private:
    CFrame* frame;
};

/// Milliseconds of a monotonic clock.
long long currentMillis();

}  // namespace VSTGUI
