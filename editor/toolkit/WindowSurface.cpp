// The window's back buffer: a cairo image laid out as the server's visual wants it, the
// damaged area collected while drawing, and XPutImage of that area on present.
#include "editor/toolkit/WindowSurface.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace VSTGUI {

namespace {
bool littleEndian()
{
    const std::uint32_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// Position of the highest set bit of a colour mask, counted from bit 0 (-1 for none).
int topBit(unsigned long mask)
{
    int bit = -1;
    for (int i = 0; i < int(sizeof mask * 8); ++i)
        if (mask & (1ul << i))
            bit = i;
    return bit;
}
}  // namespace

CWindowSurface::CWindowSurface(Display* d, unsigned long w, int wd, int ht)
    : display(d), window(w), width(std::max(1, wd)), height(std::max(1, ht)),
      image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height))
{
    XWindowAttributes wa{};
    // The window's visual decides the image format; the frame creates ours with the screen's
    // default visual, which is almost always the 24-bit one.
    XGetWindowAttributes(display, window, &wa);
    gc = XCreateGC(display, window, 0, nullptr);
    // The usual 24-bit true-colour visual takes cairo's 0x00RRGGBB words directly.
    Visual* v = wa.visual;
    if (v) {
        redMask = v->red_mask;
        greenMask = v->green_mask;
        blueMask = v->blue_mask;
    }
    if (v && wa.depth >= 24 && v->c_class == TrueColor && v->red_mask == 0xFF0000 &&
        v->green_mask == 0xFF00 && v->blue_mask == 0xFF) {
        ximage = XCreateImage(display, v, unsigned(wa.depth), ZPixmap, 0,
                              reinterpret_cast<char*>(cairo_image_surface_get_data(image)),
                              unsigned(width), unsigned(height), 32,
                              cairo_image_surface_get_stride(image));
        if (ximage && ximage->bits_per_pixel == 32) {
            // The words are in this machine's order; Xlib converts for the server if needed.
            ximage->byte_order = littleEndian() ? LSBFirst : MSBFirst;
        }
        else if (ximage) {
            ximage->data = nullptr;
            XDestroyImage(ximage);
            ximage = nullptr;
        }
    }
    if (!ximage) {
        // Any other visual: an image of the server's own format, filled pixel by pixel.
        ximage = XCreateImage(display, v, unsigned(wa.depth > 0 ? wa.depth : 24), ZPixmap, 0,
                              nullptr, unsigned(width), unsigned(height), 32, 0);
        if (ximage) {
            ximage->data =
                static_cast<char*>(std::calloc(std::size_t(ximage->bytes_per_line) * height, 1));
            if (!ximage->data) {
                XDestroyImage(ximage);
                ximage = nullptr;
            }
        }
    }
}

CWindowSurface::~CWindowSurface()
{
    if (ximage) {
        if (ximage->data == reinterpret_cast<char*>(cairo_image_surface_get_data(image)))
            ximage->data = nullptr;  // cairo's pixels: not Xlib's to free
        XDestroyImage(ximage);
    }
    if (gc)
        XFreeGC(display, gc);
    cairo_surface_destroy(image);
}

void CWindowSurface::addDamage(const CRect& area)
{
    damage.unite(area);
}

// Only the union of what was drawn since the last present goes to the server: one request
// per present, whatever the number of views drawn.
void CWindowSurface::present()
{
    if (damage.isEmpty())
        return;
    const CRect area = damage;
    damage = CRect();
    presentArea(area);
}

void CWindowSurface::presentArea(const CRect& area)
{
    CRect r = area;
    r.bound(CRect(0, 0, width, height));
    if (r.isEmpty() || !ximage)
        return;
    // cairo may hold drawing back; flushing makes the pixels read below the ones drawn.
    cairo_surface_flush(image);
    const unsigned char* pixels = cairo_image_surface_get_data(image);
    if (ximage->data != reinterpret_cast<const char*>(pixels)) {
        // Converting copy for visuals that do not take 0x00RRGGBB words.
        const int stride = cairo_image_surface_get_stride(image);
        // Each 8-bit channel is moved so that its top bit meets the top bit of the visual's
        // mask; the mask then drops the bits a narrower channel (5 or 6 bits) has no room for.
        const int rs = topBit(redMask) - 7, gs = topBit(greenMask) - 7, bs = topBit(blueMask) - 7;
        auto place = [](unsigned long c, int shift, unsigned long mask) {
            return (shift >= 0 ? c << shift : c >> -shift) & mask;
        };
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                std::uint32_t px;
                std::memcpy(&px, pixels + y * stride + x * 4, 4);
                XPutPixel(ximage, x, y,
                          place((px >> 16) & 255, rs, redMask) |
                              place((px >> 8) & 255, gs, greenMask) |
                              place(px & 255, bs, blueMask));
            }
    }
    XPutImage(display, window, gc, ximage, r.left, r.top, r.left, r.top, unsigned(r.width()),
              unsigned(r.height()));
}

}  // namespace VSTGUI
