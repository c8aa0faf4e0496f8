// A host with an editor window, modelled on how Linux hosts drive one: the plug-in loaded
// with dlopen (CTestHost), effEditGetRect asked before the first open, the editor opened on
// a 1 x 1 top-level window that is still unmapped and only resized and mapped 100 ms later,
// effEditOpen, effEditIdle and effEditClose on a user-interface thread of the host's own
// (not the test's thread) that idles every 40 ms, processReplacing on an audio thread and
// setParameter on an automation thread. The test thread plays the user through XTest and
// takes screenshots on a connection of its own.
#pragma once

#include "support/TestHost.h"

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace skvtest {

class CEditHost {
public:
    // Where the host's top-level window lies on the screen.
    static constexpr int kX = 40;
    static constexpr int kY = 40;
    static constexpr auto kIdlePeriod = std::chrono::milliseconds(40);
    static constexpr auto kMapDelay = std::chrono::milliseconds(100);

    /// Loads and creates the effect and starts the user-interface thread.
    CEditHost();
    /// Stops every thread, closes an open editor and the effect.
    ~CEditHost();
    CEditHost(const CEditHost&) = delete;
    CEditHost& operator=(const CEditHost&) = delete;

    CTestHost& host() { return testHost; }
    /// The test thread's own connection.
    Display* display() const { return input; }

    /// Runs job on the user-interface thread and waits for it.
    void onUiThread(const std::function<void()>& job);
    /// What effEditGetRect answered before the first open (width, height; 0 if nothing).
    int rectWidth() const { return rectW; }
    int rectHeight() const { return rectH; }
    /// Opens the editor as a host does; true when effEditOpen answered 1. Returns once the
    /// top-level is mapped (after kMapDelay).
    bool openEditor();
    /// effEditClose, then the top-level goes.
    void closeEditor();
    /// The host closes the editor from inside its audioMasterIdle answer, once, as soon as
    /// when() holds there.
    void closeInsideIdleWhen(std::function<bool()> when);
    bool closedInsideIdle() const { return closedInIdle.load(); }

    Window topLevel() const { return top; }
    /// The plug-in's window under the top-level (0 when there is none).
    Window pluginWindow();
    /// Waits for n more turns of the user-interface thread: effEditIdle calls, and the
    /// audioMasterIdle calls that the editor's own loops make. false after 20 s without.
    bool waitIdles(int n);

    void startAudio();
    /// Sets index to values cycling through 0..1 every few milliseconds until stopped.
    void startAutomation(VstInt32 index);
    void stopAutomation();

    /// Pointer moves and left-button presses, at window coordinates of the plug-in's window.
    void moveTo(int x, int y);
    void button(bool down);
    /// The plug-in's window as the server shows it (null without one); XDestroyImage it.
    XImage* screenshot();

private:
    void uiLoop();

    CTestHost testHost;
    Display* input = nullptr;
    Display* ui = nullptr;  // used only on the user-interface thread
    Window top = 0;
    int rectW = 0, rectH = 0;

    std::mutex jobsMutex;
    std::condition_variable jobsChanged;
    std::deque<std::function<void()>> jobs;
    std::atomic<bool> running{true};
    std::atomic<bool> editorOpen{false};
    std::atomic<long> idleCount{0};
    std::thread uiThread;

    std::function<bool()> closeWhen;  // user-interface thread only
    std::atomic<bool> closedInIdle{false};

    std::atomic<bool> audioRunning{false};
    std::thread audioThread;
    std::atomic<bool> automationRunning{false};
    std::thread automationThread;
};

}  // namespace skvtest
