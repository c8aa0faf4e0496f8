// Support for window tests that drive a frame through real X input. The X server has one
// core pointer and keyboard, one pointer mapping and one active grab at a time, all shared
// by every client: two test processes moving the pointer at once (ctest -j) steal each
// other's clicks and grabs. CXInputLock gives one process at a time the input of a display.
// Gestures are played deterministically: each step is injected with XTest and followed by a
// round trip on both connections, so the frame's next pointer query or event read sees it.
#pragma once

#include "editor/toolkit/Frame.h"
#include "editor/toolkit/XConnection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace skvtest {

// Exclusive use of the input devices of the display named by $DISPLAY, among all processes
// that take this lock (a file lock, released when the holder ends in any way).
class CXInputLock {
public:
    CXInputLock()
    {
        const char* name = std::getenv("DISPLAY");
        std::string tag = name ? name : "none";
        for (char& c : tag)
            if (c == ':' || c == '/' || c == '.')
                c = '_';
        path =
            (std::filesystem::temp_directory_path() / ("skv-x11-input" + tag + ".lock")).string();
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd >= 0 && ::flock(fd, LOCK_EX) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~CXInputLock()
    {
        if (fd >= 0)
            ::close(fd);  // closing drops the lock
    }
    CXInputLock(const CXInputLock&) = delete;
    CXInputLock& operator=(const CXInputLock&) = delete;
    bool held() const { return fd >= 0; }
    const std::string& getPath() const { return path; }

private:
    std::string path;
    int fd = -1;
};

// Round trips on the test connection, then on the frame's: afterwards the server has acted
// on everything the test sent, and every event it produced for the frame is in the frame's
// queue (events generated before a reply are delivered before it).
inline void syncAll(Display* test, VSTGUI::CFrame* frame)
{
    XSync(test, False);
    if (frame && frame->getDisplay())
        XSync(frame->getDisplay(), False);
}

// Releases buttons and modifier keys that a previous, aborted run may have left held.
inline void releaseAllInput(Display* d)
{
    Window root, child;
    int rx, ry, wx, wy;
    unsigned int mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
    const unsigned int buttonMasks[] = {Button1Mask, Button2Mask, Button3Mask, Button4Mask,
                                        Button5Mask};
    for (unsigned b = 0; b < 5; ++b)
        if (mask & buttonMasks[b])
            XTestFakeButtonEvent(d, b + 1, False, CurrentTime);
    char keys[32];
    XQueryKeymap(d, keys);
    for (int code = 8; code < 256; ++code)
        if (keys[code / 8] & (1 << (code % 8)))
            XTestFakeKeyEvent(d, unsigned(code), False, CurrentTime);
    XSync(d, False);
}

// A list of user actions played one per turn of a loop that calls step(): the modal loop
// of a gesture (through the editor's runIdleWork) or the test's own idle loop. A step may
// wait for a condition (a pop-up window being mapped, say); it runs on the first turn on
// which its condition holds.
class CUserScript {
public:
    using Action = std::function<void()>;
    using Condition = std::function<bool()>;

    void then(Action action, Condition ready = {})
    {
        steps.push_back({std::move(action), std::move(ready)});
    }
    // Runs the next step if it is ready; true when one ran.
    bool step()
    {
        if (next >= steps.size()) {
            ++idleTurns;
            return false;
        }
        Step& s = steps[next];
        if (s.ready && !s.ready()) {
            ++idleTurns;
            return false;
        }
        idleTurns = 0;
        ++next;
        s.action();
        return true;
    }
    bool finished() const { return next >= steps.size(); }
    std::size_t stepsRun() const { return next; }
    // Turns since the last step ran (a stuck gesture shows as a growing count).
    int turnsWithoutProgress() const { return idleTurns; }
    void clear()
    {
        steps.clear();
        next = 0;
        idleTurns = 0;
    }

private:
    struct Step {
        Action action;
        Condition ready;
    };
    std::vector<Step> steps;
    std::size_t next = 0;
    int idleTurns = 0;
};

}  // namespace skvtest
