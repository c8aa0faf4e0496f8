// The edit host's threads: user interface (jobs, idle every 40 ms), audio and automation.
#include "support/EditHost.h"

#include "editor/toolkit/XConnection.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <stdexcept>
#include <vector>

namespace skvtest {

CEditHost::CEditHost()
{
    if (!testHost.create()) {
        throw std::runtime_error("the plug-in did not create an effect");
    }
    input = VSTGUI::openDisplay();
    if (!input) {
        throw std::runtime_error("no X display");
    }
    testHost.onCall = [this](VstInt32 opcode, VstInt32) {
        // audioMasterIdle comes from inside the editor's own loops on the user-interface
        // thread, which effEditIdle does not leave meanwhile: those turns count as idles too.
        // A host may close the editor right there.
        if (opcode != audioMasterIdle)
            return;
        ++idleCount;
        if (closeWhen && !closedInIdle.load() && closeWhen()) {
            closedInIdle = true;
            editorOpen = false;
            testHost.dispatch(effEditClose);
        }
    };
    uiThread = std::thread([this] { uiLoop(); });
    onUiThread([this] { ui = VSTGUI::openDisplay(); });
}

CEditHost::~CEditHost()
{
    stopAutomation();
    audioRunning = false;
    if (audioThread.joinable()) {
        audioThread.join();
    }
    closeEditor();
    onUiThread([this] {
        testHost.onCall = nullptr;
        testHost.close();
        if (ui) {
            XCloseDisplay(ui);
        }
    });
    running = false;
    jobsChanged.notify_all();
    uiThread.join();
    XCloseDisplay(input);
}

void CEditHost::uiLoop()
{
    auto next = std::chrono::steady_clock::now();
    while (running.load()) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(jobsMutex);
            jobsChanged.wait_until(lock, next, [this] { return !jobs.empty() || !running; });
            if (!jobs.empty()) {
                job = std::move(jobs.front());
                jobs.pop_front();
            }
        }
        if (job) {
            job();
            continue;
        }
        if (std::chrono::steady_clock::now() >= next) {
            next += kIdlePeriod;
            if (editorOpen.load()) {
                testHost.dispatch(effEditIdle);
            }
            ++idleCount;
        }
    }
}

void CEditHost::onUiThread(const std::function<void()>& job)
{
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    {
        std::lock_guard<std::mutex> lock(jobsMutex);
        jobs.emplace_back([&] {
            job();
            std::lock_guard<std::mutex> l(doneMutex);
            done = true;
            doneChanged.notify_all();
        });
    }
    jobsChanged.notify_all();
    std::unique_lock<std::mutex> lock(doneMutex);
    doneChanged.wait(lock, [&] { return done; });
}

bool CEditHost::openEditor()
{
    bool opened = false;
    onUiThread([&] {
        ERect* rect = nullptr;
        if (testHost.dispatch(effEditGetRect, 0, 0, &rect) && rect) {
            rectW = rect->right - rect->left;
            rectH = rect->bottom - rect->top;
        }
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;  // stays where it is put, window manager or not
        top = XCreateWindow(ui, DefaultRootWindow(ui), kX, kY, 1, 1, 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWOverrideRedirect, &attrs);
        XSync(ui, False);
        opened = testHost.dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(top)) == 1;
        editorOpen = opened;
    });
    std::this_thread::sleep_for(kMapDelay);
    onUiThread([&] {
        XResizeWindow(ui, top, unsigned(std::max(1, rectW)), unsigned(std::max(1, rectH)));
        XMapWindow(ui, top);
        XSync(ui, False);
    });
    return opened;
}

void CEditHost::closeEditor()
{
    onUiThread([&] {
        if (editorOpen.exchange(false)) {
            testHost.dispatch(effEditClose);
        }
        if (top) {
            XDestroyWindow(ui, top);
            XSync(ui, False);
            top = 0;
        }
    });
}

void CEditHost::closeInsideIdleWhen(std::function<bool()> when)
{
    onUiThread([&] {
        closedInIdle = false;
        closeWhen = std::move(when);
    });
}

Window CEditHost::pluginWindow()
{
    if (!top) {
        return 0;
    }
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    Window found = 0;
    if (XQueryTree(input, top, &root, &parent, &children, &n) && n > 0) {
        found = children[0];
    }
    if (children) {
        XFree(children);
    }
    return found;
}

bool CEditHost::waitIdles(int n)
{
    const long target = idleCount.load() + n;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (idleCount.load() < target) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;  // the user-interface thread is stuck
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void CEditHost::startAudio()
{
    audioRunning = true;
    audioThread = std::thread([this] {
        constexpr int kBlock = 512;
        std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
        unsigned seed = 1;
        AEffect* fx = testHost.effect();
        while (audioRunning.load()) {
            for (int i = 0; i < kBlock; ++i) {
                seed = seed * 1664525u + 1013904223u;
                inL[std::size_t(i)] = float(int(seed >> 9) - (1 << 22)) / float(1 << 23);
                inR[std::size_t(i)] = -inL[std::size_t(i)];
            }
            float* in[2] = {inL.data(), inR.data()};
            float* out[2] = {outL.data(), outR.data()};
            fx->processReplacing(fx, in, out, kBlock);
            std::this_thread::sleep_for(std::chrono::milliseconds(11));  // 512 frames at 44.1k
        }
    });
}

void CEditHost::startAutomation(VstInt32 index)
{
    automationRunning = true;
    automationThread = std::thread([this, index] {
        AEffect* fx = testHost.effect();
        for (int step = 0; automationRunning.load(); ++step) {
            fx->setParameter(fx, index, float(step % 21) / 20.f);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
}

void CEditHost::stopAutomation()
{
    automationRunning = false;
    if (automationThread.joinable()) {
        automationThread.join();
    }
}

void CEditHost::moveTo(int x, int y)
{
    XTestFakeMotionEvent(input, DefaultScreen(input), kX + x, kY + y, CurrentTime);
    XSync(input, False);
}

void CEditHost::button(bool down)
{
    XTestFakeButtonEvent(input, 1, down ? True : False, CurrentTime);
    XSync(input, False);
}

XImage* CEditHost::screenshot()
{
    const Window w = pluginWindow();
    if (!w) {
        return nullptr;
    }
    XWindowAttributes a{};
    if (!XGetWindowAttributes(input, w, &a) || a.map_state != IsViewable) {
        return nullptr;
    }
    return XGetImage(input, w, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
}

}  // namespace skvtest
