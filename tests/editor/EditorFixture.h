// Shared by the editor window's tests: the effect with its editor built in, on a host
// callback that records every call and runs a hook from inside audioMasterIdle (where a
// gesture's loop lets the host breathe), a scripted file picker, and a mapped parent window.
// The fixture holds the display's input lock: its mapped window lies under the pointer that
// other window tests drive.
#pragma once

#include "editor/controls/ViewContainer2.h"
#include "editor/toolkit/Frame.h"
#include "editor/window/SkorvalineEditor.h"
#include "plugin/SkorvalineEdit.h"

// gtest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "support/ScratchFolder.h"
#include "tests/editor/XTestSession.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace skvtest {

struct HostRecord {
    VstInt32 opcode;
    VstInt32 index;
};
inline std::mutex gCallsMutex;
inline std::vector<HostRecord> gCalls;
// Run from inside audioMasterIdle when set (UI thread).
inline std::function<void()> gIdleHook;

inline VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float)
{
    {
        std::lock_guard<std::mutex> lock(gCallsMutex);
        gCalls.push_back({opcode, index});
    }
    if (opcode == audioMasterIdle && gIdleHook)
        gIdleHook();
    return opcode == audioMasterVersion ? 2400 : 0;
}

inline std::size_t callsOf(VstInt32 opcode, VstInt32 index = -1)
{
    std::lock_guard<std::mutex> lock(gCallsMutex);
    std::size_t n = 0;
    for (const HostRecord& c : gCalls)
        n += c.opcode == opcode && (index < 0 || c.index == index) ? 1 : 0;
    return n;
}

// A dialog that answers what the test scripted, when the test says so.
struct ScriptedDialogs {
    struct Record {
        VSTGUI::IFilePicker::Kind kind;
        std::string title;
    };
    std::vector<Record> started;
    std::vector<std::string> errors;
    int cancelled = 0;
    VSTGUI::IFilePicker::State answer = VSTGUI::IFilePicker::State::Running;
    std::string path;
};
inline ScriptedDialogs* gDialogs = nullptr;

class CScriptedPicker : public VSTGUI::IFilePicker {
public:
    bool start(Kind kind, const std::string& title, unsigned long, _XDisplay*) override
    {
        gDialogs->started.push_back({kind, title});
        return true;
    }
    State poll() override { return gDialogs->answer; }
    std::string result() const override { return gDialogs->path; }
    void cancel() override { ++gDialogs->cancelled; }
    void showError(const std::string& message, unsigned long, _XDisplay*) override
    {
        gDialogs->errors.push_back(message);
    }
};

inline int countIn(const VSTGUI::CViewContainer* panel, const VSTGUI::CView* view)
{
    int n = 0;
    for (int i = 0; i < panel->getNbViews(); ++i)
        n += panel->getView(i) == view ? 1 : 0;
    return n;
}

class CEditorFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name)
            GTEST_SKIP() << "DISPLAY is not set";
        // A mapped window lies under the pointer that other window tests drive.
        lock = std::make_unique<CXInputLock>();
        ASSERT_TRUE(lock->held());
        display = VSTGUI::openDisplay();
        ASSERT_NE(display, nullptr);
        releaseAllInput(display);
        // Override-redirect: a window manager, if any, leaves it at the screen's corner, so
        // that frame and screen coordinates agree.
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        parent =
            XCreateWindow(display, DefaultRootWindow(display), 0, 0, 788, 390, 0, CopyFromParent,
                          InputOutput, CopyFromParent, CWOverrideRedirect, &attrs);
        XMapWindow(display, parent);
        XSync(display, False);
        fx = std::make_unique<fxSkorvalineEdit>(&hostCallback);
        editor = fx->getWindow();
        gDialogs = &dialogs;
        VSTGUI::setFilePickerFactory([] { return std::make_unique<CScriptedPicker>(); });
    }
    void TearDown() override
    {
        gIdleHook = nullptr;
        fx.reset();
        VSTGUI::setFilePickerFactory(nullptr);
        gDialogs = nullptr;
        if (display) {
            XDestroyWindow(display, parent);
            XCloseDisplay(display);
        }
    }
    bool open() { return editor->open(reinterpret_cast<void*>(parent)); }
    VSTGUI::CViewContainer2* panel(int i) const { return editor->getPanel(i); }
    // A control reports a value, as a click on it would.
    void report(int tag, float value)
    {
        VSTGUI::CControl* c = editor->getControl(tag);
        ASSERT_NE(c, nullptr) << tag;
        c->setValue(value);
        editor->valueChanged(nullptr, c);
    }
    int windowsUnderParent()
    {
        Window root, par, *children = nullptr;
        unsigned n = 0;
        XQueryTree(display, parent, &root, &par, &children, &n);
        if (children)
            XFree(children);
        return int(n);
    }

    std::unique_ptr<CXInputLock> lock;
    Display* display = nullptr;
    Window parent = 0;
    std::unique_ptr<fxSkorvalineEdit> fx;
    fxSkorvalineEditor* editor = nullptr;
    ScriptedDialogs dialogs;
    CScratchFolder scratch;
};

// The fixture for cases that drive the window with XTest input; skipped on servers without it.
class CXTestEditorFixture : public CEditorFixture {
protected:
    void SetUp() override
    {
        CEditorFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        int ev, err, major, minor;
        if (!XTestQueryExtension(display, &ev, &err, &major, &minor))
            GTEST_SKIP() << "the X server lacks XTest";
    }
    void TearDown() override
    {
        if (display)
            releaseAllInput(display);
        CEditorFixture::TearDown();
    }
};

}  // namespace skvtest
