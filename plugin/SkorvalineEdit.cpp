// fxSkorvalineEdit: the editor's owner and the names hosts display.
#include "plugin/SkorvalineEdit.h"

#include "editor/window/SkorvalineEditor.h"
#include "vst/VstText.h"

#include <new>

namespace {

constexpr const char* kHostVisibleName = "Skorvaline v1.0";

}  // namespace

fxSkorvalineEdit::fxSkorvalineEdit(audioMasterCallback audioMaster) : fxSkorvaline(audioMaster)
{
    // The editor comes last, once the effect is complete; attaching it sets
    // effFlagsHasEditor. Without it the window stays null, which the entry points check.
    window = new (std::nothrow) fxSkorvalineEditor(this);
    if (!window)
        return;
    setEditor(window);
}

fxSkorvalineEdit::~fxSkorvalineEdit()
{
    // The window goes while the effect it shows is still whole; the SDK base deletes the
    // editor afterwards.
    if (window)
        window->close();
}

void fxSkorvalineEdit::setParameter(VstInt32 index, float value)
{
    fxSkorvaline::setParameter(index, value);
    // The editor hears of every change, so its controls follow automation, programs, MIDI and
    // the engine's scan steps; it may be called on the audio thread and only records.
    if (window)
        window->setParameter(index, value);
}

void fxSkorvalineEdit::filterMapLoaded(const char* reference, int channel)
{
    if (window)
        window->refreshFilterMap(reference, channel, false);
}

void fxSkorvalineEdit::engineMovedParameter(VstInt32 index, float value)
{
    // The engine's own moves (scan index, re-snapped delays) reach the editor the same way as
    // host changes, without passing through the program. Audio thread: the editor records.
    if (window) {
        window->setParameter(index, value);
    }
    else {
        fxSkorvaline::engineMovedParameter(index, value);
    }
}

bool fxSkorvalineEdit::getEffectName(char* name)
{
    skv::copyText(name, kHostVisibleName, kVstMaxEffectNameLen - 1);
    return true;
}

bool fxSkorvalineEdit::getProductString(char* text)
{
    skv::copyText(text, kHostVisibleName, kVstMaxProductStrLen - 1);
    return true;
}
