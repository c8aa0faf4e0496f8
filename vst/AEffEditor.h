// SDK-level editor base: the effect's dispatcher forwards the effEdit* opcodes to these
// operations. A window-system editor (AEffGUIEditor in editor/) derives from it and appends
// its own virtual operations (setParameter, draw, runIdleWork) after the ones declared here.
// All operations run on the host's user-interface thread.
#pragma once

#include "vst/VstAbi.h"

#include <atomic>

class AudioEffect;

class AEffEditor {
public:
    /// The editor does not attach itself; the effect calls setEditor with it.
    explicit AEffEditor(AudioEffect* effect) : effect(effect) {}
    virtual ~AEffEditor() = default;

    AEffEditor(const AEffEditor&) = delete;
    AEffEditor& operator=(const AEffEditor&) = delete;

    /// Stores the address of the editor's own rectangle (which must stay valid) in *rect.
    virtual bool getRect(ERect** rect)
    {
        if (rect) {
            *rect = nullptr;
        }
        return false;
    }
    /// ptr is the host's parent window (an X11 Window id cast to a pointer).
    virtual bool open(void* ptr)
    {
        systemWindow = ptr;
        return false;
    }
    virtual void close() { systemWindow = nullptr; }
    /// Called periodically by the host while the window is shown.
    virtual void idle()
    {
        if (updateFlag.exchange(false, std::memory_order_acq_rel)) {
            update();
        }
    }
    /// Redraws what changed; called from idle once postUpdate has marked the editor.
    virtual void update() {}
    /// Marks the editor for a refresh at its next idle; safe from any thread that may
    /// set parameters, as it only sets a flag.
    virtual void postUpdate() { updateFlag.store(true, std::memory_order_release); }
    /// Answer true when the key was used.
    virtual bool onKeyDown(VstKeyCode& /*keyCode*/) { return false; }
    virtual bool onKeyUp(VstKeyCode& /*keyCode*/) { return false; }
    /// 0 circular, 1 circular relative, 2 linear.
    virtual bool setKnobMode(VstInt32 /*mode*/) { return false; }
    virtual bool onWheel(float /*distance*/) { return false; }

    AudioEffect* getEffect() const { return effect; }
    void* getSystemWindow() const { return systemWindow; }

protected:
    AudioEffect* effect = nullptr;
    void* systemWindow = nullptr;
    std::atomic<bool> updateFlag{false};
};
