// What the editor needs of a file dialog: one that runs beside the host's event loop. start
// returns at once, the editor polls from its idle and applies the answer when it arrives, so
// a host that holds a lock around effEditIdle never waits for the user. The editor makes one
// picker per dialog through a factory, which tests replace with a scripted one.
#pragma once

#include <functional>
#include <memory>
#include <string>

struct _XDisplay;

namespace VSTGUI {

class IFilePicker {
public:
    enum class Kind { Open, Save };
    enum class State { Idle, Running, Accepted, Cancelled, Failed };

    virtual ~IFilePicker() = default;
    /// Shows a dialog for BMP files titled title over the host's window; false when none
    /// could be shown. Returns at once.
    virtual bool start(Kind kind, const std::string& title, unsigned long parentWindow,
                       _XDisplay* display) = 0;
    /// Non-blocking; Accepted once the user confirmed a path (see result).
    virtual State poll() = 0;
    virtual std::string result() const = 0;
    /// Ends a running dialog; nothing is left behind (no process, no window).
    virtual void cancel() = 0;
    /// Tells the user that something failed, without waiting for an answer.
    virtual void showError(const std::string& message, unsigned long parentWindow,
                           _XDisplay* display) = 0;
};

using FilePickerFactory = std::function<std::unique_ptr<IFilePicker>()>;

/// The pickers the editor makes from now on (process-wide; null restores the desktop's).
void setFilePickerFactory(FilePickerFactory factory);
std::unique_ptr<IFilePicker> makeFilePicker();

}  // namespace VSTGUI
