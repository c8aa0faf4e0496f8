// fxSkorvalineEdit: the editor's owner and the names hosts display.
#include "plugin/SkorvalineEdit.h"

#include "editor/GUIEditor.h"
#include "plugin/ParameterTable.h"

namespace {

constexpr const char* kHostVisibleName = "Skorvaline v1.0";

}  // namespace

thread_local bool fxSkorvalineEdit::outOfMemory = false;

fxSkorvalineEdit::fxSkorvalineEdit(audioMasterCallback audioMaster) : fxSkorvaline(audioMaster)
{
    // The editor window is created here, last, once the effect is complete; a failure to
    // create it sets outOfMemory for the entry point. The window and its layout are not part of
    // this build yet, so the effect runs without an editor and effFlagsHasEditor stays clear.
}

fxSkorvalineEdit::~fxSkorvalineEdit() = default;

void fxSkorvalineEdit::setParameter(VstInt32 index, float value)
{
    fxSkorvaline::setParameter(index, value);
    // An attached editor hears of every change, so its controls follow automation, programs
    // and MIDI (it may be called on the audio thread: the editor only marks itself for redraw).
    if (auto* view = dynamic_cast<AEffGUIEditor*>(getEditor())) {
        view->setParameter(index, value);
    }
}

void fxSkorvalineEdit::engineMovedParameter(VstInt32 index, float value)
{
    // The engine's own moves (scan index, re-snapped delays) reach the editor the same way as
    // host changes, without passing through the program.
    if (auto* view = dynamic_cast<AEffGUIEditor*>(getEditor())) {
        view->setParameter(index, value);
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
