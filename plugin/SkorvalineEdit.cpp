// fxSkorvalineEdit: the editor's owner and the names hosts display.
#include "plugin/SkorvalineEdit.h"

#include <cstring>

namespace {

constexpr const char* kHostVisibleName = "Skorvaline v1.0";

void copyName(char* out, std::size_t capacity)
{
  std::strncpy(out, kHostVisibleName, capacity - 1);
  out[capacity - 1] = 0;
}

}  // namespace

bool fxSkorvalineEdit::outOfMemory = false;

fxSkorvalineEdit::fxSkorvalineEdit(audioMasterCallback audioMaster) : fxSkorvaline(audioMaster)
{
  // The editor is created last, once the effect is complete:
  //   editor = new (std::nothrow) fxSkorvalineEditor(this);  (its constructor attaches it
  //   with setEditor, which sets effFlagsHasEditor)
  //   if (!editor) outOfMemory = true;
  // Until the editor library exists the effect has no editor and the flag stays clear.
}

fxSkorvalineEdit::~fxSkorvalineEdit() = default;

void fxSkorvalineEdit::setParameter(VstInt32 index, float value)
{
  fxSkorvaline::setParameter(index, value);
  // With an editor: pass index and value on so its controls follow
  //   if (editor) static_cast<fxSkorvalineEditor*>(editor)->setParameter(index, value);
}

bool fxSkorvalineEdit::getEffectName(char* name)
{
  copyName(name, kVstMaxEffectNameLen);
  return true;
}

bool fxSkorvalineEdit::getProductString(char* text)
{
  copyName(text, kVstMaxProductStrLen);
  return true;
}
