// The process-wide factory of the editor's file dialogs.
#include "editor/window/FilePicker.h"

namespace VSTGUI {

namespace {
FilePickerFactory& factory()
{
    static FilePickerFactory current;
    return current;
}
}  // namespace

void setFilePickerFactory(FilePickerFactory f)
{
    factory() = std::move(f);
}

std::unique_ptr<IFilePicker> makeFilePicker()
{
    if (factory())
        return factory()();
    // The desktop's dialog programs are wired in here by the dialog component; without it
    // no dialog can be shown and the request changes nothing.
    return nullptr;
}

}  // namespace VSTGUI
