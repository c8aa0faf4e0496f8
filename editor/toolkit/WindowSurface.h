// The drawing surface of an X window: an RGB24 cairo image the size of the window (a back
// buffer) whose changed parts are copied to the window with XPutImage. Drawing happens in
// client memory exactly as for off-screen pictures, nothing flickers, and cairo's Xlib
// backend (which keeps per-connection state it never gives back) is not involved.
#pragma once

#include "editor/toolkit/GuiTypes.h"

#include <cairo.h>

struct _XDisplay;
struct _XImage;
struct _XGC;

namespace VSTGUI {

class CWindowSurface {
public:
    /// window: an X Window id on display, of width x height pixels.
    CWindowSurface(::_XDisplay* display, unsigned long window, int width, int height);
    ~CWindowSurface();
    CWindowSurface(const CWindowSurface&) = delete;
    CWindowSurface& operator=(const CWindowSurface&) = delete;

    cairo_surface_t* getImage() const { return image; }
    int getWidth() const { return width; }
    int getHeight() const { return height; }
    /// Records that area (window coordinates) was drawn into; present copies what was noted.
    void addDamage(const CRect& area);
    const CRect& getDamage() const { return damage; }
    /// Copies the noted area to the window (nothing when none); the caller flushes.
    void present();
    /// Copies area to the window now, noted or not.
    void presentArea(const CRect& area);

private:
    ::_XDisplay* display;
    unsigned long window;
    int width, height;
    cairo_surface_t* image;
    ::_XImage* ximage = nullptr;  // wraps image's pixels when the visual takes them as they are
    unsigned long redMask = 0, greenMask = 0, blueMask = 0;
    ::_XGC* gc = nullptr;
    CRect damage;
};

}  // namespace VSTGUI
