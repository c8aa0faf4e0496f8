// The file and message dialogs: the zenity or kdialog child process (spawned without the
// host's library overrides and watched without blocking), its answer, and the path-entry
// pop-up used when neither program is installed.
#include "editor/window/FileDialog.h"

#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/OptionMenu.h"
#include "editor/toolkit/WindowSurface.h"
#include "editor/toolkit/XConnection.h"
#include "editor/toolkit/XErrorTrap.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cairo.h>
#include <cerrno>
#include <fcntl.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): the POSIX signal sets, not in <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#if !(defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34)))
#include <dirent.h>
#define SKV_NO_SPAWN_CLOSEFROM 1
#endif

namespace VSTGUI {

namespace {

// ---------------------------------------------------------------------------------------
// Child processes

// The host's environment less the loader variables: a host that bundles its own libraries
// points LD_LIBRARY_PATH at them, and the desktop's GTK or Qt program then loads the host's
// copies and dies. Copied, never changed in place: the variables belong to the host.
std::vector<std::string> childEnvironment()
{
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry(*e);
        if (entry.rfind("LD_LIBRARY_PATH=", 0) == 0 || entry.rfind("LD_PRELOAD=", 0) == 0)
            continue;
        env.push_back(entry);
    }
    return env;
}

// The first executable file called name in a folder of PATH, or empty.
std::string findOnPath(const char* name)
{
    const char* list = std::getenv("PATH");
    const std::string folders = list ? list : "/usr/local/bin:/usr/bin:/bin";
    std::size_t from = 0;
    while (from <= folders.size()) {
        std::size_t end = folders.find(':', from);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = folders.substr(from, end - from);
        from = end + 1;
        // Empty and relative entries mean the host's working folder: whatever lies there is
        // not the desktop's dialog program.
        if (folder.empty() || folder[0] != '/')
            continue;
        std::string candidate = folder + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

#ifndef SKV_NO_SPAWN_CLOSEFROM
// The child closes everything from 3 up between fork and exec: nothing the host has open,
// with or without close-on-exec, reaches the dialog program, whatever other threads do.
bool addCloseOthers(posix_spawn_file_actions_t* actions)
{
    return posix_spawn_file_actions_addclosefrom_np(actions, 3) == 0;
}
#else
// Without closefrom among the spawn actions the descriptors that would survive exec (those
// lacking close-on-exec) are listed now and closed in the child. One that another thread
// opens without close-on-exec between this listing and the spawn still leaks; one closed
// meanwhile is harmless (the spawn ignores a close that finds nothing open).
bool addCloseOthers(posix_spawn_file_actions_t* actions)
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return false;
    const int own = ::dirfd(dir);
    bool ok = true;
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end || fd < 3 || fd == own)
            continue;
        const int flags = ::fcntl(int(fd), F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            ok = ok && posix_spawn_file_actions_addclose(actions, int(fd)) == 0;
    }
    ::closedir(dir);
    return ok;
}
#endif

void closeIfOpen(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

}  // namespace

// One dialog program: started with posix_spawn (no shell), standard input and error on
// /dev/null, standard output a pipe we read without blocking, always reaped.
class CFileDialog::CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess() { terminate(); }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // args[0] is the name the program sees as its own.
    bool spawn(const std::string& program, const std::vector<std::string>& args);
    // Reads what the child wrote; true once it has ended and been reaped.
    bool poll();
    // SIGTERM, half a second for it to go, then SIGKILL; reaped either way.
    void terminate();
    pid_t getPid() const { return running ? pid : 0; }
    const std::string& getOutput() const { return output; }
    bool outputOverflowed() const { return overflow; }
    // Exit status 0, or unknown (the system reaped the child for a host that ignores
    // SIGCHLD: then only the answer tells).
    bool succeeded() const
    {
        return !statusKnown || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

private:
    static constexpr std::size_t kMaxOutput = 256 * 1024;

    void drain();
    bool reap(int options);
    void sendSignal(int signal);

    pid_t pid = 0;
    int outFd = -1;
    int pidFd = -1;
    bool running = false;
    bool statusKnown = false;
    int status = 0;
    bool overflow = false;
    std::string output;
};

bool CFileDialog::CChildProcess::spawn(const std::string& program,
                                       const std::vector<std::string>& args)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    // A host that closed its own standard descriptors gets the pipe as 0..2, which the
    // child's set-up below would overwrite: keep both ends above them.
    for (int& fd : fds) {
        if (fd >= 3)
            continue;
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
    if (fds[0] < 0 || fds[1] < 0) {
        closeIfOpen(fds[0]);
        closeIfOpen(fds[1]);
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the child's copy; the pipe's own ends keep it.
    bool ok = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
              posix_spawn_file_actions_adddup2(&actions, fds[1], 1) == 0 &&
              posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0 &&
              addCloseOthers(&actions);
    // Ignored signals survive exec: a host that ignores SIGTERM would make the child deaf
    // to our cancel, one that blocks signals would hand the mask on.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    ok = ok && posix_spawnattr_setsigmask(&attr, &none) == 0 &&
         posix_spawnattr_setsigdefault(&attr, &all) == 0 &&
         posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;

    const std::vector<std::string> env = childEnvironment();
    std::vector<char*> argv, envp;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    // glibc's posix_spawn reports a failed exec as its result, so a program that cannot run
    // is known here and the next way of showing the dialog is tried.
    const int error =
        ok ? posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data()) : EINVAL;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    closeIfOpen(fds[1]);
    if (error != 0) {
        closeIfOpen(fds[0]);
        pid = 0;
        return false;
    }
    outFd = fds[0];
    ::fcntl(outFd, F_SETFL, ::fcntl(outFd, F_GETFL) | O_NONBLOCK);
#ifdef SYS_pidfd_open
    // Signals go through a pidfd where the kernel has them: if the host ignores SIGCHLD the
    // system reaps the child the moment it ends, its pid is free for reuse, and a kill(pid)
    // from a late cancel could reach a stranger. A pidfd always names our child.
    pidFd = int(::syscall(SYS_pidfd_open, pid, 0));
#endif
    running = true;
    return true;
}

void CFileDialog::CChildProcess::drain()
{
    char buffer[4096];
    while (outFd >= 0) {
        const ssize_t n = ::read(outFd, buffer, sizeof buffer);
        if (n > 0) {
            if (output.size() + std::size_t(n) <= kMaxOutput)
                output.append(buffer, std::size_t(n));
            else
                overflow = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;           // nothing more for now
        closeIfOpen(outFd);  // end of file (or a broken pipe)
    }
}

bool CFileDialog::CChildProcess::reap(int options)
{
    int st = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &st, options);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    running = false;
    if (r == pid) {
        statusKnown = true;
        status = st;
    }
    // Otherwise ECHILD: the system reaped the child already (the host ignores SIGCHLD or set
    // SA_NOCLDWAIT) or a waitpid(-1) of the host did. It is gone; its status is lost.
    closeIfOpen(pidFd);
    return true;
}

void CFileDialog::CChildProcess::sendSignal(int signal)
{
#ifdef SYS_pidfd_send_signal
    if (pidFd >= 0) {
        if (::syscall(SYS_pidfd_send_signal, pidFd, signal, nullptr, 0) == 0 || errno == ESRCH)
            return;
    }
#endif
    ::kill(pid, signal);
}

bool CFileDialog::CChildProcess::poll()
{
    if (!running)
        return true;
    drain();
    if (!reap(WNOHANG))
        return false;
    // What it wrote before it ended is in the pipe now. End of file need not follow: a
    // process it started may still hold the pipe.
    drain();
    closeIfOpen(outFd);
    return true;
}

void CFileDialog::CChildProcess::terminate()
{
    if (running) {
        sendSignal(SIGTERM);
        for (int i = 0; i < 50 && !reap(WNOHANG); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (running) {
            sendSignal(SIGKILL);
            reap(0);  // a killed process always ends
        }
    }
    closeIfOpen(outFd);
    closeIfOpen(pidFd);
}

namespace {

// ---------------------------------------------------------------------------------------
// zenity's options

// zenity's options changed between versions: 3.90 to 3.92 refuse --attach and
// --confirm-overwrite (an unknown option ends zenity at once, so the user would see nothing),
// later versions list --confirm-overwrite as a no-op. What a zenity takes is read from its
// --help-all once per program path and process.
struct CZenityOptions {
    bool attach = false;
    bool confirmOverwrite = false;
};

std::mutex& zenityMutex()
{
    static std::mutex m;
    return m;
}

std::map<std::string, CZenityOptions>& zenityTable()
{
    static std::map<std::string, CZenityOptions> table;
    return table;
}

bool zenityOptionsKnown(const std::string& program, CZenityOptions* options = nullptr)
{
    std::lock_guard<std::mutex> lock(zenityMutex());
    auto it = zenityTable().find(program);
    if (it == zenityTable().end())
        return false;
    if (options)
        *options = it->second;
    return true;
}

void rememberZenityOptions(const std::string& program, const std::string& help)
{
    CZenityOptions o;
    o.attach = help.find("--attach") != std::string::npos;
    o.confirmOverwrite = help.find("--confirm-overwrite") != std::string::npos;
    std::lock_guard<std::mutex> lock(zenityMutex());
    zenityTable()[program] = o;
}

// zenity reads --text as C-style escapes (a backslash starts one) and then as Pango markup:
// a file name with a backslash, '&' or '<' would come out mangled or not at all.
std::string zenityText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

std::string withSlash(const std::string& folder)
{
    return !folder.empty() && folder.back() != '/' ? folder + "/" : folder;
}

// The path in a dialog program's answer (one line), or empty when the answer counts as a
// cancel: nothing, several lines, or too long for the editor's buffers.
std::string answeredPath(std::string out)
{
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    if (out.empty() || out.size() >= kMaxDialogPath || out.find('\n') != std::string::npos ||
        out.find('\0') != std::string::npos) {
        return {};
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// X helpers

// The host's top-level window holding window: the nearest ancestor a window manager marked
// with WM_STATE (the application's own window, not the manager's frame around it), else
// the ancestor just below the root. 0 when the window is gone.
unsigned long findTopLevel(Display* d, unsigned long window)
{
    CXErrorTrap trap(d);
    const Atom wmState = XInternAtom(d, "WM_STATE", True);
    Window current = window;
    Window top = 0;
    for (int depth = 0; depth < 64 && current; ++depth) {
        if (wmState != None) {
            Atom type = None;
            int format = 0;
            unsigned long n = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(d, current, wmState, 0, 0, False, AnyPropertyType, &type,
                                   &format, &n, &after, &data) == Success) {
                if (data)
                    XFree(data);
                if (type != None) {
                    top = current;
                    break;
                }
            }
        }
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(d, current, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        if (!parent || parent == root) {
            top = current;
            break;
        }
        current = parent;
    }
    return trap.failed() ? 0 : top;
}

void appendUtf8(std::string& s, std::uint32_t cp)
{
    if (cp < 0x80) {
        s += char(cp);
    }
    else if (cp < 0x800) {
        s += char(0xC0 | (cp >> 6));
        s += char(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000) {
        s += char(0xE0 | (cp >> 12));
        s += char(0x80 | ((cp >> 6) & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    }
    else {
        s += char(0xF0 | (cp >> 18));
        s += char(0x80 | ((cp >> 12) & 0x3F));
        s += char(0x80 | ((cp >> 6) & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    }
}

bool isContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::size_t nextCharStart(const std::string& s, std::size_t i)
{
    ++i;
    while (i < s.size() && isContinuation(s[i]))
        ++i;
    return i;
}

std::size_t previousCharStart(const std::string& s, std::size_t i)
{
    while (i > 0) {
        --i;
        if (!isContinuation(s[i]))
            break;
    }
    return i;
}

// The pop-up's own colours beside the toolkit's pop-up palette.
constexpr CColor kPopupField{18, 22, 28, 0};
constexpr CColor kPopupHint{140, 150, 160, 0};

constexpr int kPopupWidth = 480;
constexpr int kPopupPad = 10;
constexpr int kPopupTitleHeight = 18;
constexpr int kPopupGap = 6;
constexpr int kPopupFieldHeight = 22;
constexpr int kPopupLineHeight = 16;
constexpr int kPopupMaxLines = 6;

}  // namespace

// ---------------------------------------------------------------------------------------
// The fallback pop-up

// A path-entry box (or a message box) of our own, for desktops without a dialog program:
// an override-redirect window that grabs the pointer and keyboard like the toolkit's pop-up
// menu, but driven by poll() instead of a loop of its own. It has its own X connection, so
// that the frame's idle, which handles every event of the frame's connection, never sees
// (or swallows) the pop-up's events.
class CFileDialog::CPathEntry {
public:
    enum class Mode { Open, Save, Message };

    CPathEntry(Mode m, std::string t, std::string message)
        : mode(m), title(std::move(t)), messageText(std::move(message))
    {
    }
    ~CPathEntry() { close(); }
    CPathEntry(const CPathEntry&) = delete;
    CPathEntry& operator=(const CPathEntry&) = delete;

    // Shows the pop-up centred over anchor (a top-level window; 0: the screen). false when
    // the display cannot be reached.
    bool open(const std::string& displayName, unsigned long anchor);
    State poll();
    const std::string& getAnswer() const { return answer; }
    unsigned long getWindow() const { return window; }
    bool hasInput() const { return pointerGrabbed && keyboardGrabbed; }

private:
    void close();
    void place(unsigned long anchor);
    void wrapMessage();
    void grabInput();
    void paint();
    void onKey(XKeyEvent& key);
    void confirm();

    Mode mode;
    std::string title;
    std::string messageText;
    std::vector<std::string> lines;  // the message, wrapped
    std::string text;                // what the user typed
    std::string note;                // why Return was refused
    std::string armed;               // an existing file Return was pressed on once (Save)
    std::string answer;
    Display* display = nullptr;
    Window window = 0;
    std::unique_ptr<CWindowSurface> surface;
    int x = 0, y = 0, width = kPopupWidth, height = 0;
    bool pointerGrabbed = false;
    bool keyboardGrabbed = false;
    State state = State::Running;
};

bool CFileDialog::CPathEntry::open(const std::string& displayName, unsigned long anchor)
{
    display = openDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!display)
        return false;
    wrapMessage();
    const int body =
        mode == Mode::Message ? int(lines.size()) * kPopupLineHeight : kPopupFieldHeight;
    height = 2 * kPopupPad + kPopupTitleHeight + kPopupGap + body + kPopupGap + kPopupLineHeight;
    place(anchor);
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.event_mask = ExposureMask | KeyPressMask | ButtonPressMask;
    a.background_pixel = BlackPixel(display, DefaultScreen(display));
    window = XCreateWindow(display, DefaultRootWindow(display), x, y, unsigned(width),
                           unsigned(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWEventMask | CWBackPixel, &a);
    XClassHint hint;
    hint.res_name = const_cast<char*>(kPathEntryWindowClass);
    hint.res_class = const_cast<char*>(kPathEntryWindowClass);
    XSetClassHint(display, window, &hint);
    XStoreName(display, window, title.c_str());
    surface = std::make_unique<CWindowSurface>(display, window, width, height);
    XMapRaised(display, window);
    XSync(display, False);
    grabInput();
    paint();
    return true;
}

void CFileDialog::CPathEntry::close()
{
    if (!display)
        return;
    surface.reset();
    if (window)
        XDestroyWindow(display, window);  // ends our grabs with it
    window = 0;
    XCloseDisplay(display);
    display = nullptr;
}

void CFileDialog::CPathEntry::place(unsigned long anchor)
{
    const int screen = DefaultScreen(display);
    const int screenW = DisplayWidth(display, screen);
    const int screenH = DisplayHeight(display, screen);
    int cx = screenW / 2, cy = screenH / 2;
    if (anchor) {
        CXErrorTrap trap(display);
        XWindowAttributes wa{};
        int rx = 0, ry = 0;
        Window child = 0;
        if (XGetWindowAttributes(display, anchor, &wa) && wa.map_state == IsViewable &&
            XTranslateCoordinates(display, anchor, DefaultRootWindow(display), 0, 0, &rx, &ry,
                                  &child) &&
            !trap.failed()) {
            cx = rx + wa.width / 2;
            cy = ry + wa.height / 2;
        }
    }
    x = std::max(0, std::min(cx - width / 2, screenW - width));
    y = std::max(0, std::min(cy - height / 2, screenH - height));
}

void CFileDialog::CPathEntry::wrapMessage()
{
    if (mode != Mode::Message)
        return;
    cairo_surface_t* measure = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 4, 4);
    {
        CDrawContext c(nullptr, measure);
        c.setFont(kNormalFont);
        const long room = width - 2 * kPopupPad;
        std::string line;
        std::size_t i = 0;
        // Greedy by characters, breaking after the last space that fits where there is one.
        while (i < messageText.size() && int(lines.size()) < kPopupMaxLines) {
            const std::size_t next = nextCharStart(messageText, i);
            const std::string longer = line + messageText.substr(i, next - i);
            if (messageText[i] == '\n' || c.getStringWidth(longer.c_str()) > room) {
                std::size_t cut = line.rfind(' ');
                if (messageText[i] == '\n' || cut == std::string::npos || cut == 0) {
                    lines.push_back(line);
                    line.clear();
                    if (messageText[i] == '\n')
                        i = next;
                    continue;
                }
                lines.push_back(line.substr(0, cut));
                line = line.substr(cut + 1);
                continue;
            }
            line = longer;
            i = next;
        }
        if (!line.empty() && int(lines.size()) < kPopupMaxLines)
            lines.push_back(line);
        if (lines.empty())
            lines.emplace_back();
    }
    cairo_surface_destroy(measure);
}

void CFileDialog::CPathEntry::grabInput()
{
    // The click that started the dialog may still hold the pointer (the frame's implicit
    // grab while the button is down): the grab is retried on every poll until it holds.
    if (!pointerGrabbed) {
        pointerGrabbed = XGrabPointer(display, window, True, ButtonPressMask, GrabModeAsync,
                                      GrabModeAsync, None, None, CurrentTime) == GrabSuccess;
    }
    if (!keyboardGrabbed) {
        keyboardGrabbed = XGrabKeyboard(display, window, True, GrabModeAsync, GrabModeAsync,
                                        CurrentTime) == GrabSuccess;
    }
}

void CFileDialog::CPathEntry::paint()
{
    {
        CDrawContext c(nullptr, surface->getImage());
        c.setFillColor(popup::kGround);
        c.fillRect(CRect(0, 0, width, height));
        c.setFrameColor(popup::kRim);
        c.drawRect(CRect(0, 0, width - 1, height - 1));
        c.setFont(kSystemFont);
        c.setFontColor(popup::kText);
        int top = kPopupPad;
        c.drawString(title.c_str(),
                     CRect(kPopupPad, top, width - kPopupPad, top + kPopupTitleHeight), false,
                     kLeftText);
        top += kPopupTitleHeight + kPopupGap;
        c.setFont(kNormalFont);
        const char* hint = nullptr;
        if (mode == Mode::Message) {
            for (const std::string& line : lines) {
                c.drawString(line.c_str(),
                             CRect(kPopupPad, top, width - kPopupPad, top + kPopupLineHeight),
                             false, kLeftText);
                top += kPopupLineHeight;
            }
            hint = "Return closes this message.";
        }
        else {
            const CRect field(kPopupPad, top, width - kPopupPad, top + kPopupFieldHeight);
            c.setFillColor(kPopupField);
            c.fillRect(field);
            c.setFrameColor(popup::kRim);
            c.drawRect(CRect(field.left, field.top, field.right - 1, field.bottom - 1));
            // A long path shows its end: the file name is what the user is typing.
            const long room = field.width() - 14;
            std::size_t from = 0;
            while (from < text.size() && c.getStringWidth(text.c_str() + from) > room)
                from = nextCharStart(text, from);
            const char* shown = text.c_str() + from;
            const long shownWidth = *shown ? c.getStringWidth(shown) : 0;
            if (*shown) {
                c.drawString(shown, CRect(field.left + 5, field.top, field.right - 5, field.bottom),
                             false, kLeftText);
            }
            const int caret = field.left + 6 + int(shownWidth);
            c.setFrameColor(popup::kText);
            c.drawLine(CPoint(caret, field.top + 4), CPoint(caret, field.bottom - 5));
            top = field.bottom + kPopupGap;
            hint = mode == Mode::Open ? "Type the path of a BMP file: Return opens it, Escape "
                                        "cancels."
                                      : "Type the path to write: Return saves, Escape cancels.";
        }
        c.setFont(kNormalFontSmall);
        c.setFontColor(note.empty() ? kPopupHint : popup::kMark);
        c.drawString(note.empty() ? hint : note.c_str(),
                     CRect(kPopupPad, top, width - kPopupPad, top + kPopupLineHeight), false,
                     kLeftText);
    }
    surface->presentArea(CRect(0, 0, width, height));
    XFlush(display);
}

void CFileDialog::CPathEntry::onKey(XKeyEvent& key)
{
    char bytes[32];
    KeySym sym = NoSymbol;
    const int n = XLookupString(&key, bytes, sizeof bytes, &sym, nullptr);
    if (sym == XK_Escape) {
        state = State::Cancelled;
        return;
    }
    const bool enter = sym == XK_Return || sym == XK_KP_Enter;
    if (mode == Mode::Message) {
        if (enter || sym == XK_space)
            state = State::Accepted;
        return;
    }
    if (enter) {
        confirm();
        return;
    }
    if (sym == XK_BackSpace) {
        if (!text.empty())
            text.erase(previousCharStart(text, text.size()));
    }
    else if ((key.state & ControlMask) && (sym == XK_u || sym == XK_U)) {
        text.clear();
    }
    else {
        std::string typed;
        if (sym >= 0x1000100 && sym <= 0x110FFFF) {
            appendUtf8(typed, std::uint32_t(sym - 0x1000000));  // a Unicode keysym
        }
        else {
            for (int i = 0; i < n; ++i) {
                const auto ch = static_cast<unsigned char>(bytes[i]);
                if (ch >= 0x20 && ch != 0x7F)
                    appendUtf8(typed, ch);  // XLookupString answers Latin-1
            }
        }
        if (typed.empty())
            return;
        if (text.size() + typed.size() >= kMaxDialogPath) {
            note = "A path may be at most 259 bytes long.";
            paint();
            return;
        }
        text += typed;
    }
    note.clear();
    armed.clear();
    paint();
}

void CFileDialog::CPathEntry::confirm()
{
    std::string p = text;
    if (p == "~" || p.rfind("~/", 0) == 0) {
        const char* home = std::getenv("HOME");
        p = std::string(home ? home : "") + p.substr(1);
    }
    if (p.empty()) {
        state = State::Cancelled;
        return;
    }
    std::error_code error;
    const std::filesystem::path chosen(p);
    const auto status = std::filesystem::status(chosen, error);
    if (p.size() >= kMaxDialogPath) {
        note = "A path may be at most 259 bytes long.";
    }
    else if (mode == Mode::Open && !std::filesystem::is_regular_file(status)) {
        note = "There is no file at this path.";
    }
    else if (mode == Mode::Save && std::filesystem::is_directory(status)) {
        note = "This is a folder: add a file name.";
    }
    else if (mode == Mode::Save && std::filesystem::exists(status) && armed != p) {
        armed = p;
        note = "The file exists: Return again replaces it.";
    }
    else if (mode == Mode::Save && chosen.has_parent_path() &&
             !std::filesystem::is_directory(chosen.parent_path(), error)) {
        note = "There is no folder at this path.";
    }
    else {
        answer = p;
        state = State::Accepted;
        return;
    }
    paint();
}

CFileDialog::State CFileDialog::CPathEntry::poll()
{
    if (state != State::Running || !display)
        return state;
    grabInput();
    // A round trip: every event the server made for us so far is in the queue after it.
    XSync(display, False);
    while (state == State::Running && XPending(display)) {
        XEvent ev;
        XNextEvent(display, &ev);
        switch (ev.type) {
        case Expose:
            if (ev.xexpose.count == 0)
                paint();
            break;
        case KeyPress:
            onKey(ev.xkey);
            break;
        case ButtonPress: {
            const bool inside = ev.xbutton.x_root >= x && ev.xbutton.x_root < x + width &&
                                ev.xbutton.y_root >= y && ev.xbutton.y_root < y + height;
            if (!inside)
                state = State::Cancelled;  // a click outside cancels
            else if (mode == Mode::Message)
                state = State::Accepted;
            break;
        }
        default:
            break;
        }
    }
    if (state != State::Running)
        close();
    return state;
}

// ---------------------------------------------------------------------------------------
// CFileDialog

CFileDialog::CFileDialog()
{
    if (const char* home = std::getenv("HOME"))
        startFolder = home;
}

CFileDialog::~CFileDialog()
{
    cancel();
}

bool CFileDialog::start(Kind k, const std::string& t, unsigned long parent, Display* d)
{
    if (state == State::Running)
        return false;
    kind = k;
    message = false;
    title = t;
    text.clear();
    path.clear();
    displayName = d ? DisplayString(d) : "";
    topLevel = d && parent ? findTopLevel(d, parent) : 0;
    zenityPath = findOnPath("zenity");
    kdialogPath = findOnPath("kdialog");
    return launchFrom(Backend::Zenity);
}

void CFileDialog::showError(const std::string& m, unsigned long parent, Display* d)
{
    cancel();
    message = true;
    title = "Error";
    text = m;
    path.clear();
    displayName = d ? DisplayString(d) : "";
    topLevel = d && parent ? findTopLevel(d, parent) : 0;
    zenityPath = findOnPath("zenity");
    kdialogPath = findOnPath("kdialog");
    launchFrom(Backend::Zenity);
}

bool CFileDialog::launchFrom(Backend first)
{
    child.reset();
    popup.reset();
    probing = false;
    for (Backend b : {Backend::Zenity, Backend::KDialog, Backend::PathEntry}) {
        if (b < first)
            continue;
        if (b == Backend::PathEntry ? launchPathEntry() : launchProgram(b)) {
            backend = b;
            state = State::Running;
            return true;
        }
    }
    backend = Backend::Nothing;
    state = State::Failed;
    return false;
}

bool CFileDialog::launchProgram(Backend which)
{
    const bool zenity = which == Backend::Zenity;
    const std::string& program = zenity ? zenityPath : kdialogPath;
    if (program.empty())
        return false;
    CZenityOptions options;
    if (zenity && !zenityOptionsKnown(program, &options)) {
        child = std::make_unique<CChildProcess>();
        if (child->spawn(program, {"zenity", "--help-all"})) {
            probing = true;
            return true;
        }
        child.reset();
        return false;  // a zenity that cannot even print its help cannot show a dialog
    }
    std::vector<std::string> args;
    const std::string window = std::to_string(topLevel);
    if (zenity) {
        args.emplace_back("zenity");
        if (message) {
            args.emplace_back("--error");
            args.push_back("--text=" + zenityText(text));
        }
        else {
            args.emplace_back("--file-selection");
            args.push_back("--title=" + title);
            // GTK matches patterns by case; the files of Windows users end in .BMP as often.
            args.emplace_back("--file-filter=BMP files (*.bmp) | *.bmp *.BMP");
            if (!startFolder.empty())
                args.push_back("--filename=" + withSlash(startFolder));
            if (kind == Kind::Save) {
                args.emplace_back("--save");
                if (options.confirmOverwrite)
                    args.emplace_back("--confirm-overwrite");
            }
        }
        if (topLevel && options.attach)
            args.push_back("--attach=" + window);
    }
    else {
        args.emplace_back("kdialog");
        if (message) {
            args.emplace_back("--error");
            args.push_back(text);
        }
        else {
            // kdialog's save dialog asks before it replaces a file; both only offer files
            // that exist when opening.
            args.emplace_back("--title");
            args.push_back(title);
            args.emplace_back(kind == Kind::Open ? "--getopenfilename" : "--getsavefilename");
            args.push_back(startFolder.empty() ? "." : withSlash(startFolder));
            args.emplace_back("*.bmp *.BMP|BMP files (*.bmp)");
        }
        if (topLevel) {
            args.emplace_back("--attach");
            args.push_back(window);
        }
    }
    child = std::make_unique<CChildProcess>();
    if (child->spawn(program, args))
        return true;
    child.reset();
    return false;
}

bool CFileDialog::launchPathEntry()
{
    const auto mode = message              ? CPathEntry::Mode::Message
                      : kind == Kind::Open ? CPathEntry::Mode::Open
                                           : CPathEntry::Mode::Save;
    popup = std::make_unique<CPathEntry>(mode, title, text);
    if (popup->open(displayName, topLevel))
        return true;
    popup.reset();
    return false;
}

CFileDialog::State CFileDialog::poll()
{
    if (state != State::Running)
        return state;
    if (popup) {
        state = popup->poll();
        if (state == State::Accepted && !message)
            path = popup->getAnswer();
        if (state != State::Running)
            popup.reset();
        return state;
    }
    if (child && child->poll())
        finishChild();
    return state;
}

void CFileDialog::finishChild()
{
    if (probing) {
        rememberZenityOptions(zenityPath, child->getOutput());
        launchFrom(Backend::Zenity);  // now with the options this zenity takes
        return;
    }
    const bool succeeded = child->succeeded() && !child->outputOverflowed();
    const std::string answer = message ? std::string() : answeredPath(child->getOutput());
    child.reset();
    if (message) {
        state = succeeded ? State::Accepted : State::Cancelled;
        return;
    }
    if (!succeeded || answer.empty()) {
        state = State::Cancelled;
        return;
    }
    path = answer;
    state = State::Accepted;
}

void CFileDialog::cancel()
{
    if (state != State::Running)
        return;
    child.reset();  // terminates and reaps it
    popup.reset();
    probing = false;
    state = State::Cancelled;
}

std::string CFileDialog::result() const
{
    return state == State::Accepted ? path : std::string();
}

pid_t CFileDialog::getChildPid() const
{
    return child ? child->getPid() : 0;
}

unsigned long CFileDialog::getPopupWindow() const
{
    return popup ? popup->getWindow() : 0;
}

bool CFileDialog::popupHasInput() const
{
    return popup && popup->hasInput();
}

}  // namespace VSTGUI
