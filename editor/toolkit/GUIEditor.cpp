// AEffGUIEditor: the host's editor calls (open, close, idle, keys, wheel) passed on to the
// frame, and the idle work that modal loops run so that the host keeps idling meanwhile.
#include "editor/toolkit/GUIEditor.h"

#include "editor/toolkit/Control.h"
#include "editor/toolkit/Frame.h"
#include "vst/AudioEffectX.h"

#include <chrono>
#include <thread>

using namespace VSTGUI;

VstInt32 AEffGUIEditor::knobMode = 0;

AEffGUIEditor::AEffGUIEditor(AudioEffect* effect_) : AEffEditor(effect_), lastTicks(currentMillis())
{
}

AEffGUIEditor::~AEffGUIEditor()
{
    if (frame)
        frame->release();
    frame = nullptr;
}

bool AEffGUIEditor::getRect(ERect** r)
{
    if (!r)
        return false;
    *r = &rect;
    return true;
}

bool AEffGUIEditor::open(void* ptr)
{
    AEffEditor::open(ptr);
    return true;
}

void AEffGUIEditor::close()
{
    if (frame)
        frame->release();
    frame = nullptr;
    AEffEditor::close();
}

void AEffGUIEditor::idle()
{
    if (inIdle)
        return;
    AEffEditor::idle();
    if (frame)
        frame->idle();
}

bool AEffGUIEditor::onKeyDown(VstKeyCode& key)
{
    return frame && frame->onKeyDown(key) != -1;
}
bool AEffGUIEditor::onKeyUp(VstKeyCode& key)
{
    return frame && frame->onKeyUp(key) != -1;
}

bool AEffGUIEditor::setKnobMode(VstInt32 mode)
{
    knobMode = mode;
    return true;
}

bool AEffGUIEditor::onWheel(float distance)
{
    return frame && frame->onWheel(distance);
}

void AEffGUIEditor::setParameter(VstInt32, float) {}

void AEffGUIEditor::draw(ERect* r)
{
    if (!frame)
        return;
    frame->paintArea(r ? CRect(r->left, r->top, r->right, r->bottom) : frame->getViewSize());
}

void AEffGUIEditor::runIdleWork()
{
    // What the running gesture drew (its listener updates controls at once) appears now,
    // not only at the next full run.
    if (frame)
        frame->present();
    // Mouse loops call this on every turn: the short sleep keeps them from spinning a core,
    // and the full run, which calls into the host, comes only every kIdleRate ms.
    long long now = currentMillis();
    if (now < lastTicks) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdleRateMin));
        if (now < lastTicks - kIdleRateMax)
            return;
    }
    // Inside a mouse loop the frame handles paint events only; input waits for the loop's
    // end, so that no second gesture starts inside the first.
    idle();
    if (frame)
        frame->dispatchOnePaint();
    lastTicks = now + kIdleRate;
    // The host may call effEditIdle from inside its idle; that call must not re-enter.
    inIdle = true;
    if (effect)
        effect->masterIdle();
    inIdle = false;
}

// Gestures reach the host only through an AudioEffectX (level 2); a level-1 effect has no
// way to tell them.
void AEffGUIEditor::beginEdit(long index)
{
    if (auto* fx = dynamic_cast<AudioEffectX*>(effect))
        fx->beginEdit(VstInt32(index));
}

void AEffGUIEditor::endEdit(long index)
{
    if (auto* fx = dynamic_cast<AudioEffectX*>(effect))
        fx->endEdit(VstInt32(index));
}
