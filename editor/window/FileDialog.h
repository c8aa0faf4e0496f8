// CFileDialog: the editor's open and save dialogs for BMP files, and its error message box,
// run without blocking. X11 has no file dialog, so the desktop's dialog program (zenity,
// else kdialog, found on PATH) runs as a child process that poll() watches from the editor's
// idle; a host that holds a lock around idle is never frozen by a modal loop. Without
// either program a path-entry pop-up of our own (its own X connection) stands in.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>

struct _XDisplay;

namespace VSTGUI {

/// Answers this many bytes long or longer count as a cancel: the editor's paths are held in
/// buffers of 260 characters, terminator included.
constexpr std::size_t kMaxDialogPath = 260;
/// WM_CLASS of the fallback pop-up's window (tests look for it).
constexpr const char* kPathEntryWindowClass = "SkorvalinePathEntry";

class CFileDialog {
public:
    enum class Kind { Open, Save };
    enum class State { Idle, Running, Accepted, Cancelled, Failed };
    /// What shows the running dialog.
    enum class Backend { Nothing, Zenity, KDialog, PathEntry };

    CFileDialog();
    ~CFileDialog();  // cancels a running dialog
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    /// All calls: the editor's user-interface thread.
    /// Starts a dialog and returns at once: Open lets the user pick an existing BMP file,
    /// Save a file name to write (asking before an existing file is replaced). The dialog
    /// is attached to the top-level window that holds parentX11Window (0: none); display is
    /// the connection that window id belongs to (null: none). false, with nothing started,
    /// while a dialog is running; also false when nothing at all can be shown (Failed).
    bool start(Kind kind, const std::string& title, unsigned long parentX11Window,
               ::_XDisplay* display);
    /// Shows message as an error box, the same way (cancels a running dialog first). poll()
    /// reports Running while it shows, then Accepted or Cancelled; result() stays empty.
    void showError(const std::string& message, unsigned long parentX11Window, ::_XDisplay* display);
    /// Never blocks: reads what the child wrote, reaps it when it ended, or handles the
    /// pop-up's pending input. The final state stays until the next start.
    State poll();
    State getState() const { return state; }
    /// The chosen path once Accepted (empty otherwise).
    std::string result() const;
    /// Ends a running dialog as Cancelled: the child gets SIGTERM (SIGKILL if it has not
    /// ended after half a second) and is reaped before this returns.
    void cancel();

    Backend getBackend() const { return backend; }
    bool isMessage() const { return message; }
    /// Folder the file dialogs open in (default: $HOME).
    void setStartFolder(const std::string& folder) { startFolder = folder; }
    /// The running child's process id (0 when none), and the pop-up's X window and whether it
    /// holds the pointer and keyboard yet: for tests.
    pid_t getChildPid() const;
    unsigned long getPopupWindow() const;
    bool popupHasInput() const;

private:
    class CChildProcess;
    class CPathEntry;

    /// Starts the next way of showing the dialog, from backend on; false when none is left.
    bool launchFrom(Backend first);
    bool launchProgram(Backend which);
    bool launchPathEntry();
    void finishChild();

    State state = State::Idle;
    Backend backend = Backend::Nothing;
    Kind kind = Kind::Open;
    bool message = false;
    bool probing = false;  // the child is zenity answering --help-all, not the dialog
    std::string title;
    std::string text;  // the message of an error box
    std::string path;  // the answer
    std::string startFolder;
    std::string zenityPath;
    std::string kdialogPath;
    std::string displayName;
    unsigned long topLevel = 0;
    std::unique_ptr<CChildProcess> child;
    std::unique_ptr<CPathEntry> popup;
};

}  // namespace VSTGUI
