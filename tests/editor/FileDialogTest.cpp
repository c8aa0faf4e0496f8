// The file dialogs without a desktop: fake zenity and kdialog scripts first on PATH record
// their arguments, environment and open descriptors and answer a path, fail or sleep, while
// the test process carries LD_LIBRARY_PATH and LD_PRELOAD like a host with bundled
// libraries. With neither program on PATH the fallback pop-up is driven by XTest keys (those
// cases need DISPLAY; test.sh starts Xvfb). Waits are loops of poll() bounded in turns.
#include "editor/window/FileDialog.h"

#include <gtest/gtest.h>

#include "tests/editor/XTestSession.h"
#include "tests/support/ScratchFolder.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): sigaction is POSIX
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace VSTGUI;
using State = CFileDialog::State;
using Kind = CFileDialog::Kind;

namespace {

// zenity --help-all as versions that take both options print them (abridged).
const char* const kFullHelp = "  --attach=WINDOW   Set the parent window to attach to\n"
                              "  --confirm-overwrite   Confirm file selection if filename "
                              "already exists\n";
// As zenity 3.91 prints it: neither option exists.
const char* const kBareHelp = "  --file-selection   Display file selection dialog\n";

// Sets an environment variable for one test and puts back what was there.
class CEnvironmentVariable {
public:
    CEnvironmentVariable(const char* n, const char* value) : name(n)
    {
        if (const char* old = std::getenv(name)) {
            had = true;
            previous = old;
        }
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~CEnvironmentVariable()
    {
        if (had)
            ::setenv(name, previous.c_str(), 1);
        else
            ::unsetenv(name);
    }
    CEnvironmentVariable(const CEnvironmentVariable&) = delete;
    CEnvironmentVariable& operator=(const CEnvironmentVariable&) = delete;

private:
    const char* name;
    bool had = false;
    std::string previous;
};

// What one run of a fake program recorded.
struct Record {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::set<int> fds;  // open in a program the fake started, its own listing left out
    std::string in, out, err;

    bool hasArg(const std::string& a) const
    {
        return std::find(args.begin(), args.end(), a) != args.end();
    }
    bool hasEnv(const std::string& prefix) const
    {
        return std::any_of(env.begin(), env.end(),
                           [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    }
};

class FileDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bin = scratch.path() / "bin";
        std::filesystem::create_directory(bin);
        // A host with bundled libraries; the dialog program must not see them.
        libraryPath = std::make_unique<CEnvironmentVariable>("LD_LIBRARY_PATH", "/opt/host/lib");
        preload = std::make_unique<CEnvironmentVariable>("LD_PRELOAD", "/opt/host/libhook.so");
        marker = std::make_unique<CEnvironmentVariable>("SKV_DIALOG_MARK", "kept");
        path = std::make_unique<CEnvironmentVariable>("PATH", bin.c_str());
    }
    void TearDown() override
    {
        if (display) {
            if (topLevel)
                XDestroyWindow(display, topLevel);
            XCloseDisplay(display);
        }
    }

    // A fake dialog program: answers --help-all with help, records any other run into
    // <name>.log, then runs behaviour (shell text).
    void writeFake(const std::string& name, const std::string& behaviour,
                   const char* help = kFullHelp)
    {
        const std::string log = (scratch.path() / (name + ".log")).string();
        std::ofstream f(bin / name);
        f << "#!/bin/sh\n"
          << "if [ \"$1\" = --help-all ]; then printf '%s' '" << help << "'; exit 0; fi\n"
          << "log='" << log << "'\n"
          << "for a in \"$@\"; do printf 'arg:%s\\n' \"$a\" >> \"$log\"; done\n"
          << "/usr/bin/env | /bin/sed 's/^/env:/' >> \"$log\"\n"
          << "/bin/ls -l /proc/self/fd | /bin/sed 's/^/fd:/' >> \"$log\"\n"
          << "printf 'in:%s\\nout:%s\\nerr:%s\\n' \"$(/bin/readlink /proc/$$/fd/0)\" "
             "\"$(/bin/readlink /proc/$$/fd/1)\" \"$(/bin/readlink /proc/$$/fd/2)\" >> \"$log\"\n"
          << behaviour << "\n";
        f.close();
        std::filesystem::permissions(bin / name, std::filesystem::perms::owner_all);
    }

    Record readRecord(const std::string& name)
    {
        Record r;
        std::ifstream f(scratch.path() / (name + ".log"));
        std::string line;
        while (std::getline(f, line)) {
            auto take = [&](const char* prefix, std::string& into) {
                if (line.rfind(prefix, 0) != 0)
                    return false;
                into = line.substr(std::strlen(prefix));
                return true;
            };
            std::string value;
            if (take("arg:", value)) {
                r.args.push_back(value);
            }
            else if (take("env:", value)) {
                r.env.push_back(value);
            }
            else if (take("fd:", value)) {
                // "lr-x------ 1 u g 64 <date> 3 -> /proc/123/fd": number before the arrow;
                // the listing's own descriptor names the listed folder.
                const std::size_t arrow = value.find(" -> ");
                if (arrow == std::string::npos)
                    continue;
                const std::string target = value.substr(arrow + 4);
                const std::size_t space = value.rfind(' ', arrow - 1);
                const int fd = std::atoi(value.substr(space + 1, arrow - space - 1).c_str());
                if (target.rfind("/proc/", 0) == 0 && target.size() > 3 &&
                    target.compare(target.size() - 3, 3, "/fd") == 0) {
                    continue;
                }
                r.fds.insert(fd);
            }
            else if (!take("in:", r.in) && !take("out:", r.out)) {
                take("err:", r.err);
            }
        }
        return r;
    }

    // Polls until the dialog is no longer running (bounded: a hang fails the test).
    static State finish(CFileDialog& dialog)
    {
        for (int i = 0; i < 20000 && dialog.poll() == State::Running; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return dialog.getState();
    }

    static bool reaped(pid_t pid)
    {
        return ::waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD &&
               !std::filesystem::exists("/proc/" + std::to_string(pid));
    }

    // A top-level window holding a child window, as a host holds the editor's parent; true
    // when a display is there.
    bool openHostWindows()
    {
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name || !(display = VSTGUI::openDisplay()))
            return false;
        XSetWindowAttributes a{};
        a.override_redirect = True;
        topLevel =
            XCreateWindow(display, DefaultRootWindow(display), 300, 300, 400, 300, 0,
                          CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &a);
        inner = XCreateSimpleWindow(display, topLevel, 10, 10, 200, 100, 0, 0, 0);
        XMapWindow(display, inner);
        XMapRaised(display, topLevel);
        XSync(display, False);
        return true;
    }

    std::string answerWith(const std::string& p) { return "printf '%s\\n' '" + p + "'"; }

    skvtest::CScratchFolder scratch;
    std::filesystem::path bin;
    std::unique_ptr<CEnvironmentVariable> libraryPath, preload, marker, path;
    Display* display = nullptr;
    Window topLevel = 0;
    Window inner = 0;
};

TEST_F(FileDialogTest, ZenityOpenDialogCarriesTitleFilterAndTheHostsTopLevel)
{
    if (!openHostWindows())
        GTEST_SKIP() << "DISPLAY is not set";
    writeFake("zenity", answerWith("/maps/left.bmp"));
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Open, "Open 24-bit BMP File for Left Channel", inner, display));
    EXPECT_EQ(dialog.getBackend(), CFileDialog::Backend::Zenity);
    ASSERT_EQ(finish(dialog), State::Accepted);
    EXPECT_EQ(dialog.result(), "/maps/left.bmp");
    const Record r = readRecord("zenity");
    EXPECT_EQ(std::vector<std::string>(r.args.begin(), r.args.begin() + 3),
              (std::vector<std::string>{"--file-selection",
                                        "--title=Open 24-bit BMP File for Left Channel",
                                        "--file-filter=BMP files (*.bmp) | *.bmp *.BMP"}));
    EXPECT_TRUE(r.hasArg("--attach=" + std::to_string(topLevel))) << "attached to the top level";
    EXPECT_FALSE(r.hasArg("--save"));
}

TEST_F(FileDialogTest, ZenitySaveDialogAsksBeforeReplacing)
{
    writeFake("zenity", answerWith("/maps/out.bmp"));
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Save, "Export BMP file", 0, nullptr));
    ASSERT_EQ(finish(dialog), State::Accepted);
    const Record r = readRecord("zenity");
    EXPECT_TRUE(r.hasArg("--title=Export BMP file"));
    EXPECT_TRUE(r.hasArg("--save"));
    EXPECT_TRUE(r.hasArg("--confirm-overwrite"));
}

TEST_F(FileDialogTest, ZenityLackingAttachAndOverwriteOptionsIsNotGivenThem)
{
    if (!openHostWindows())
        GTEST_SKIP() << "DISPLAY is not set";
    // zenity 3.91 ends at once on an option it does not know: the dialog would never show.
    writeFake("zenity", answerWith("/maps/out.bmp"), kBareHelp);
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Save, "Export BMP file", inner, display));
    ASSERT_EQ(finish(dialog), State::Accepted);
    const Record r = readRecord("zenity");
    EXPECT_TRUE(r.hasArg("--save"));
    EXPECT_FALSE(r.hasArg("--confirm-overwrite"));
    EXPECT_FALSE(r.hasArg("--attach=" + std::to_string(topLevel)));
}

TEST_F(FileDialogTest, ChildRunsWithoutLoaderVariablesAndWithOnlyStandardDescriptors)
{
    writeFake("zenity", answerWith("/maps/left.bmp"));
    // Descriptors of the host that lack close-on-exec must not reach the child either.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Open, "Open", 0, nullptr));
    ASSERT_EQ(finish(dialog), State::Accepted);
    ::close(leaked);
    const Record r = readRecord("zenity");
    EXPECT_FALSE(r.hasEnv("LD_LIBRARY_PATH=") || r.hasEnv("LD_PRELOAD="));
    EXPECT_TRUE(r.hasEnv("SKV_DIALOG_MARK=kept")) << "the rest of the environment is passed on";
    EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), "/opt/host/lib") << "the host's own is kept";
    EXPECT_EQ(r.fds, (std::set<int>{0, 1, 2}));
}

TEST_F(FileDialogTest, ChildReadsNothingAndWritesErrorsNowhere)
{
    writeFake("zenity", answerWith("/maps/left.bmp"));
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Open, "Open", 0, nullptr));
    ASSERT_EQ(finish(dialog), State::Accepted);
    const Record r = readRecord("zenity");
    EXPECT_EQ(r.in, "/dev/null");
    EXPECT_EQ(r.err, "/dev/null");
    EXPECT_EQ(r.out.rfind("pipe:", 0), 0u) << r.out;
}

TEST_F(FileDialogTest, FailedExitEmptyAnswerAndOverlongPathCountAsCancel)
{
    const std::string longPath = "/" + std::string(kMaxDialogPath - 1, 'a');  // 260 bytes
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"exit 1 after a path", answerWith("/maps/left.bmp") + "; exit 1"},
        {"empty answer", "exit 0"},
        {"260-byte path", answerWith(longPath)},
        {"two lines", "printf '/a.bmp\\n/b.bmp\\n'"},
    };
    for (const auto& [what, behaviour] : cases) {
        SCOPED_TRACE(what);
        writeFake("zenity", behaviour);
        CFileDialog dialog;
        ASSERT_TRUE(dialog.start(Kind::Open, "Open", 0, nullptr));
        EXPECT_EQ(finish(dialog), State::Cancelled);
        EXPECT_EQ(dialog.result(), "");
    }
}

TEST_F(FileDialogTest, PathOf259BytesIsAccepted)
{
    const std::string longest = "/" + std::string(kMaxDialogPath - 2, 'a');
    writeFake("zenity", answerWith(longest));
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Open, "Open", 0, nullptr));
    ASSERT_EQ(finish(dialog), State::Accepted);
    EXPECT_EQ(dialog.result(), longest);
}

TEST_F(FileDialogTest, CancelTerminatesAndReapsARunningDialog)
{
    writeFake("zenity", "exec /bin/sleep 60");
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Open, "Open", 0, nullptr));
    // The first child answers --help-all; wait for the dialog itself.
    for (int i = 0; i < 5000 && !std::filesystem::exists(scratch.path() / "zenity.log"); ++i) {
        dialog.poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const pid_t pid = dialog.getChildPid();
    ASSERT_GT(pid, 0);
    dialog.cancel();
    EXPECT_EQ(dialog.getState(), State::Cancelled);
    EXPECT_TRUE(reaped(pid)) << "no zombie, no orphan";
    EXPECT_EQ(dialog.getChildPid(), 0);
}

TEST_F(FileDialogTest, DestroyingARunningDialogReapsItsChild)
{
    writeFake("zenity", "exec /bin/sleep 60");
    pid_t pid = 0;
    {
        CFileDialog dialog;
        ASSERT_TRUE(dialog.start(Kind::Save, "Export BMP file", 0, nullptr));
        pid = dialog.getChildPid();
        ASSERT_GT(pid, 0);
    }
    EXPECT_TRUE(reaped(pid));
}

TEST_F(FileDialogTest, HostIgnoringSigchldStillGetsTheAnswerAndNoZombie)
{
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &old);
    writeFake("zenity", answerWith("/maps/right.bmp"));
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Open, "Open", 0, nullptr));
    const State answered = finish(dialog);
    const std::string answer = dialog.result();
    writeFake("zenity", "exit 1");
    ASSERT_TRUE(dialog.start(Kind::Open, "Open", 0, nullptr));
    const pid_t pid = dialog.getChildPid();
    const State cancelled = finish(dialog);
    ::sigaction(SIGCHLD, &old, nullptr);
    EXPECT_EQ(answered, State::Accepted);
    EXPECT_EQ(answer, "/maps/right.bmp");
    EXPECT_EQ(cancelled, State::Cancelled);
    EXPECT_TRUE(pid == 0 || reaped(pid));
}

TEST_F(FileDialogTest, CancelWithSigchldIgnoredReapsWithoutHanging)
{
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &old);
    writeFake("zenity", "exec /bin/sleep 60");
    CFileDialog dialog;
    const bool started = dialog.start(Kind::Open, "Open", 0, nullptr);
    for (int i = 0; i < 5000 && !std::filesystem::exists(scratch.path() / "zenity.log"); ++i) {
        dialog.poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const pid_t pid = dialog.getChildPid();
    dialog.cancel();
    ::sigaction(SIGCHLD, &old, nullptr);
    ASSERT_TRUE(started);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(dialog.getState(), State::Cancelled);
    EXPECT_TRUE(reaped(pid));
}

TEST_F(FileDialogTest, KDialogStandsInWithoutZenity)
{
    if (!openHostWindows())
        GTEST_SKIP() << "DISPLAY is not set";
    writeFake("kdialog", answerWith("/maps/right.bmp"));
    CFileDialog dialog;
    dialog.setStartFolder("/maps");
    ASSERT_TRUE(dialog.start(Kind::Open, "Open 24-bit BMP File for Right Channel", inner, display));
    EXPECT_EQ(dialog.getBackend(), CFileDialog::Backend::KDialog);
    ASSERT_EQ(finish(dialog), State::Accepted);
    EXPECT_EQ(dialog.result(), "/maps/right.bmp");
    const Record r = readRecord("kdialog");
    EXPECT_EQ(r.args, (std::vector<std::string>{"--title", "Open 24-bit BMP File for Right Channel",
                                                "--getopenfilename", "/maps/",
                                                "*.bmp *.BMP|BMP files (*.bmp)", "--attach",
                                                std::to_string(topLevel)}));
}

TEST_F(FileDialogTest, KDialogChildIsCleanAndItsCancelCounts)
{
    writeFake("kdialog", answerWith("/maps/x.bmp") + "; exit 1");
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Save, "Export BMP file", 0, nullptr));
    EXPECT_EQ(finish(dialog), State::Cancelled);
    const Record r = readRecord("kdialog");
    EXPECT_TRUE(r.hasArg("--getsavefilename"));
    EXPECT_FALSE(r.hasEnv("LD_LIBRARY_PATH=") || r.hasEnv("LD_PRELOAD="));
    EXPECT_EQ(r.fds, (std::set<int>{0, 1, 2}));
}

TEST_F(FileDialogTest, ZenityThatCannotRunGivesWayToKDialog)
{
    std::ofstream(bin / "zenity") << "#!/nonexistent/interpreter\n";
    std::filesystem::permissions(bin / "zenity", std::filesystem::perms::owner_all);
    writeFake("kdialog", answerWith("/maps/k.bmp"));
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Open, "Open", 0, nullptr));
    EXPECT_EQ(dialog.getBackend(), CFileDialog::Backend::KDialog);
    EXPECT_EQ(finish(dialog), State::Accepted);
    EXPECT_EQ(dialog.result(), "/maps/k.bmp");
}

TEST_F(FileDialogTest, ErrorMessageGoesToZenityAsPlainText)
{
    writeFake("zenity", "exit 0");
    CFileDialog dialog;
    dialog.showError("Cannot write <a&b>\\c.bmp", 0, nullptr);
    EXPECT_TRUE(dialog.isMessage());
    EXPECT_EQ(finish(dialog), State::Accepted);
    const Record r = readRecord("zenity");
    EXPECT_EQ(r.args, (std::vector<std::string>{"--error",
                                                "--text=Cannot write &lt;a&amp;b&gt;\\\\c.bmp"}));
}

TEST_F(FileDialogTest, StartWhileRunningIsRefused)
{
    writeFake("zenity", "exec /bin/sleep 60");
    CFileDialog dialog;
    ASSERT_TRUE(dialog.start(Kind::Open, "Open", 0, nullptr));
    const pid_t pid = dialog.getChildPid();
    EXPECT_FALSE(dialog.start(Kind::Open, "Open", 0, nullptr));
    EXPECT_EQ(dialog.getChildPid(), pid);
    EXPECT_EQ(dialog.getState(), State::Running);
}

TEST_F(FileDialogTest, NeitherProgramNorDisplayFails)
{
    CEnvironmentVariable noDisplay("DISPLAY", nullptr);
    CFileDialog dialog;
    EXPECT_FALSE(dialog.start(Kind::Open, "Open", 0, nullptr));
    EXPECT_EQ(dialog.getState(), State::Failed);
    EXPECT_EQ(dialog.poll(), State::Failed);
}

// The fallback pop-up: PATH holds neither program. Real key and button events through XTest,
// under the input lock shared with the other window tests.
class PathEntryTest : public FileDialogTest {
protected:
    void SetUp() override
    {
        FileDialogTest::SetUp();
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name)
            GTEST_SKIP() << "DISPLAY is not set";
        lock = std::make_unique<skvtest::CXInputLock>();
        ASSERT_TRUE(lock->held());
        ASSERT_TRUE(openHostWindows());
        int ev, err, major, minor;
        if (!XTestQueryExtension(display, &ev, &err, &major, &minor))
            GTEST_SKIP() << "the X server lacks XTest";
        skvtest::releaseAllInput(display);
    }
    void TearDown() override
    {
        if (display)
            skvtest::releaseAllInput(display);
        FileDialogTest::TearDown();
        lock.reset();
    }

    // Starts the pop-up and polls until it holds the keyboard.
    void startPopup(CFileDialog& dialog, Kind kind)
    {
        ASSERT_TRUE(dialog.start(kind, "Open 24-bit BMP File for Left Channel", inner, display));
        ASSERT_EQ(dialog.getBackend(), CFileDialog::Backend::PathEntry);
        for (int i = 0; i < 5000 && !dialog.popupHasInput(); ++i) {
            dialog.poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(dialog.popupHasInput());
    }

    void tap(KeySym sym)
    {
        const KeyCode code = XKeysymToKeycode(display, sym);
        const bool shift = XkbKeycodeToKeysym(display, code, 0, 0) != sym;
        const KeyCode shiftCode = XKeysymToKeycode(display, XK_Shift_L);
        if (shift)
            XTestFakeKeyEvent(display, shiftCode, True, CurrentTime);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        if (shift)
            XTestFakeKeyEvent(display, shiftCode, False, CurrentTime);
        XSync(display, False);
    }
    void type(const std::string& text)
    {
        for (char c : text)
            tap(KeySym(static_cast<unsigned char>(c)));  // ASCII keysyms are the characters
    }

    // Pop-up windows on the screen, found by their class.
    int popupsOnScreen()
    {
        Window root, parent, *children = nullptr;
        unsigned int n = 0;
        int found = 0;
        XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &n);
        for (unsigned i = 0; i < n; ++i) {
            XClassHint hint{};
            if (XGetClassHint(display, children[i], &hint)) {
                found += hint.res_class && std::string(hint.res_class) == kPathEntryWindowClass;
                XFree(hint.res_name);
                XFree(hint.res_class);
            }
        }
        if (children)
            XFree(children);
        return found;
    }

    std::unique_ptr<skvtest::CXInputLock> lock;
};

TEST_F(PathEntryTest, TypedPathOfAnExistingFileAndReturnAccept)
{
    const std::string file = (scratch.path() / "map-1.bmp").string();
    std::ofstream(file) << "BM";
    CFileDialog dialog;
    startPopup(dialog, Kind::Open);
    EXPECT_EQ(popupsOnScreen(), 1);
    type(file);
    tap(XK_Return);
    EXPECT_EQ(finish(dialog), State::Accepted);
    EXPECT_EQ(dialog.result(), file);
    EXPECT_EQ(popupsOnScreen(), 0);
}

TEST_F(PathEntryTest, EscapeCancels)
{
    CFileDialog dialog;
    startPopup(dialog, Kind::Open);
    type("/tmp/x.bmp");
    tap(XK_Escape);
    EXPECT_EQ(finish(dialog), State::Cancelled);
    EXPECT_EQ(dialog.result(), "");
    EXPECT_EQ(popupsOnScreen(), 0);
}

TEST_F(PathEntryTest, ClickOutsideCancels)
{
    CFileDialog dialog;
    startPopup(dialog, Kind::Open);
    XTestFakeMotionEvent(display, DefaultScreen(display), 5, 5, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    EXPECT_EQ(finish(dialog), State::Cancelled);
    EXPECT_EQ(popupsOnScreen(), 0);
}

TEST_F(PathEntryTest, OpenRefusesAPathWithoutAFile)
{
    CFileDialog dialog;
    startPopup(dialog, Kind::Open);
    type((scratch.path() / "missing.bmp").string());
    tap(XK_Return);
    dialog.poll();
    EXPECT_EQ(dialog.poll(), State::Running) << "the user may correct the path";
    tap(XK_Escape);
    EXPECT_EQ(finish(dialog), State::Cancelled);
}

TEST_F(PathEntryTest, SaveOverAnExistingFileNeedsASecondReturn)
{
    const std::string file = (scratch.path() / "out.bmp").string();
    std::ofstream(file) << "BM";
    CFileDialog dialog;
    startPopup(dialog, Kind::Save);
    type(file);
    tap(XK_Return);
    EXPECT_EQ(dialog.poll(), State::Running);
    tap(XK_Return);
    EXPECT_EQ(finish(dialog), State::Accepted);
    EXPECT_EQ(dialog.result(), file);
}

TEST_F(PathEntryTest, BackspaceEditsTheTypedPath)
{
    const std::string file = (scratch.path() / "map.bmp").string();
    std::ofstream(file) << "BM";
    CFileDialog dialog;
    startPopup(dialog, Kind::Open);
    type(file + "xy");
    tap(XK_BackSpace);
    tap(XK_BackSpace);
    tap(XK_Return);
    EXPECT_EQ(finish(dialog), State::Accepted);
    EXPECT_EQ(dialog.result(), file);
}

TEST_F(PathEntryTest, ErrorMessageShowsInThePopupUntilReturn)
{
    CFileDialog dialog;
    dialog.showError("Cannot write /maps/out.bmp: Permission denied", inner, display);
    ASSERT_EQ(dialog.getBackend(), CFileDialog::Backend::PathEntry);
    for (int i = 0; i < 5000 && !dialog.popupHasInput(); ++i) {
        dialog.poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(popupsOnScreen(), 1);
    tap(XK_Return);
    EXPECT_EQ(finish(dialog), State::Accepted);
    EXPECT_EQ(popupsOnScreen(), 0);
}

}  // namespace
