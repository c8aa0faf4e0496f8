// AEffGUIEditor: the SDK editor with a view frame. It adds three virtual operations after
// AEffEditor's (setParameter, draw, runIdleWork), owns the frame while the window is open,
// and hands gesture begin/end from the frame to the effect. All calls on the UI thread.
#pragma once

#include "vst/AEffEditor.h"

namespace VSTGUI {
class CFrame;
}

class AEffGUIEditor : public AEffEditor {
public:
    explicit AEffGUIEditor(AudioEffect* effect);
    ~AEffGUIEditor() override;

    bool getRect(ERect** rect) override;
    bool open(void* ptr) override;
    /// Destroys the frame (and with it every attached view).
    void close() override;
    /// Unless called from inside the editor's own idle work: the SDK's update-flag handling,
    /// then the frame handles its window's events and draws dirty views.
    void idle() override;
    bool onKeyDown(VstKeyCode& keyCode) override;
    bool onKeyUp(VstKeyCode& keyCode) override;
    bool setKnobMode(VstInt32 mode) override;
    bool onWheel(float distance) override;

    /// The effect reports a parameter change (from any source); nothing here.
    virtual void setParameter(VstInt32 index, float value);
    /// Redraws the frame within rect (the whole frame when null).
    virtual void draw(ERect* rect);
    /// Idle work from inside mouse loops: at most every kIdleRate ms a full run (editor idle,
    /// one paint event, host idle); between runs it waits kIdleRateMin ms and returns while
    /// more than kIdleRateMax ms remain.
    virtual void runIdleWork();

    void beginEdit(long index);
    void endEdit(long index);
    VSTGUI::CFrame* getFrame() const { return frame; }
    static VstInt32 getKnobMode() { return knobMode; }
    bool isInIdle() const { return inIdle; }

    static constexpr long kIdleRate = 100;
    static constexpr long kIdleRateMax = 50;
    static constexpr long kIdleRateMin = 4;

protected:
    ERect rect{0, 0, 0, 0};
    VSTGUI::CFrame* frame = nullptr;
    long long lastTicks;
    bool inIdle = false;
    static VstInt32 knobMode;
};
