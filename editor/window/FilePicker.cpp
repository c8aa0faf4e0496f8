// The process-wide factory of the editor's file dialogs. By default they are the desktop's
// dialog programs run beside the host's loop (CFileDialog, where the build has it).
#include "editor/window/FilePicker.h"

#if __has_include("editor/window/FileDialog.h")
#include "editor/window/FileDialog.h"
#define SKV_HAVE_FILE_DIALOG 1
#endif

namespace VSTGUI {

namespace {

FilePickerFactory& factory()
{
    static FilePickerFactory current;
    return current;
}

#ifdef SKV_HAVE_FILE_DIALOG
// CFileDialog seen through the editor's picker interface.
class CDesktopPicker : public IFilePicker {
public:
    bool start(Kind kind, const std::string& title, unsigned long parentWindow,
               _XDisplay* display) override
    {
        return dialog.start(kind == Kind::Open ? CFileDialog::Kind::Open : CFileDialog::Kind::Save,
                            title, parentWindow, display);
    }
    State poll() override
    {
        switch (dialog.poll()) {
        case CFileDialog::State::Idle:
            return State::Idle;
        case CFileDialog::State::Running:
            return State::Running;
        case CFileDialog::State::Accepted:
            return State::Accepted;
        case CFileDialog::State::Cancelled:
            return State::Cancelled;
        case CFileDialog::State::Failed:
            break;
        }
        return State::Failed;
    }
    std::string result() const override { return dialog.result(); }
    void cancel() override { dialog.cancel(); }
    void showError(const std::string& message, unsigned long parentWindow,
                   _XDisplay* display) override
    {
        dialog.showError(message, parentWindow, display);
    }

private:
    CFileDialog dialog;
};
#endif

}  // namespace

void setFilePickerFactory(FilePickerFactory f)
{
    factory() = std::move(f);
}

std::unique_ptr<IFilePicker> makeFilePicker()
{
    if (factory())
        return factory()();
#ifdef SKV_HAVE_FILE_DIALOG
    return std::make_unique<CDesktopPicker>();
#else
    return nullptr;  // no dialog can be shown: the request changes nothing
#endif
}

}  // namespace VSTGUI
