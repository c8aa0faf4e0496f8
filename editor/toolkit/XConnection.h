// Opening a connection to the X server, with a few quick retries. Connecting to a local
// server can fail for a moment with EAGAIN when the server has not yet accepted the
// connections that came just before (measured on Xvfb: about one attempt in fifteen while
// clients connect and close in quick succession); failing the editor's open for that would
// leave the user with no window and the host with a failed effEditOpen.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace VSTGUI {

/// XOpenDisplay(name), tried up to eight times in about an eighth of a second in all; null
/// at once without a name (none given and $DISPLAY unset or empty), and null when every
/// attempt failed (no server, a wrong name, refused authorisation).
inline Display* openDisplay(const char* name = nullptr)
{
    // Without a display name there is nothing to wait for.
    const char* const effective = name && *name ? name : std::getenv("DISPLAY");
    if (!effective || !*effective)
        return nullptr;
    std::chrono::milliseconds pause(1);
    for (int attempt = 0;; ++attempt) {
        if (Display* d = XOpenDisplay(name))
            return d;
        if (attempt == 7)
            return nullptr;
        std::this_thread::sleep_for(pause);
        pause *= 2;
    }
}

}  // namespace VSTGUI
