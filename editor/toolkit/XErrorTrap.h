// A scope in which X errors of one connection are recorded instead of reported. Xlib's default
// error handler ends the process, and the process is the host: requests that name other
// clients' windows (a drag source that has gone, a forged XDND message, a parent the host
// destroyed before closing the editor, a dialog's attach target) run inside such a trap.
//
// Traps nest, also across connections (the path-entry pop-up has a connection of its own):
// an error goes to the innermost trap of its own connection, and errors of connections
// without a trap reach the handler that was installed before the outermost trap. Traps are
// used on the user-interface thread only, as Xlib's error handler is process-wide.
#pragma once

#include <X11/Xlib.h>

namespace VSTGUI {

class CXErrorTrap {
public:
    explicit CXErrorTrap(Display* d) : display(d), outer(innermost())
    {
        XSync(display, False);
        if (!outer)
            hostHandler() = XSetErrorHandler(&CXErrorTrap::handler);
        innermost() = this;
    }
    ~CXErrorTrap()
    {
        XSync(display, False);
        innermost() = outer;
        if (!outer)
            XSetErrorHandler(hostHandler());
    }
    CXErrorTrap(const CXErrorTrap&) = delete;
    CXErrorTrap& operator=(const CXErrorTrap&) = delete;

    /// True when a request of this connection made so far inside the trap failed.
    bool failed()
    {
        XSync(display, False);
        return errorSeen;
    }

private:
    using Handler = int (*)(Display*, XErrorEvent*);

    static CXErrorTrap*& innermost()
    {
        static CXErrorTrap* trap = nullptr;
        return trap;
    }
    static Handler& hostHandler()
    {
        static Handler h = nullptr;
        return h;
    }
    static int handler(Display* d, XErrorEvent* e)
    {
        for (CXErrorTrap* t = innermost(); t; t = t->outer) {
            if (t->display == d) {
                t->errorSeen = true;
                return 0;
            }
        }
        return hostHandler() ? hostHandler()(d, e) : 0;
    }

    Display* display;
    CXErrorTrap* outer;
    bool errorSeen = false;
};

}  // namespace VSTGUI
