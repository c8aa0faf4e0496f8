// skorvaline-editor-shot PLUGIN.so OUT.png: loads a VST 2.x effect with dlopen, opens its own
// editor on a plain top-level window of the current X display (parent mapped first, as Linux
// hosts do), lets it idle until it has drawn, and writes the window's pixels as a PNG. The
// editor tests show that this picture equals the editor's off-screen render, so a host's
// screenshot can be held against it pixel for pixel. Exit status 0 on success.
#include "vst/VstAbi.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

namespace {

using EntryProc = AEffect* (*)(audioMasterCallback);

// The least a host must answer: its version (2.4, so the effect takes it for a current
// host); everything else is "not supported".
VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "skorvaline-editor-shot: %s\n", message.c_str());
    return 1;
}

// Mapping completes asynchronously; the editor is opened, as hosts do, only once its parent
// is on screen, or the first pictures would be drawn into a window nobody can see.
void waitForMap(Display* d, Window w)
{
    XEvent ev;
    do {
        XWindowEvent(d, w, StructureNotifyMask, &ev);
    } while (ev.type != MapNotify);
}

bool writePng(XImage* image, int width, int height, const char* path)
{
    cairo_surface_t* png = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    auto* rows = cairo_image_surface_get_data(png);
    const int stride = cairo_image_surface_get_stride(png);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            reinterpret_cast<std::uint32_t*>(rows + y * stride)[x] =
                std::uint32_t(XGetPixel(image, x, y) & 0xFFFFFFu);
    cairo_surface_mark_dirty(png);
    const bool ok = cairo_surface_write_to_png(png, path) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(png);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return fail("usage: skorvaline-editor-shot PLUGIN.so OUT.png");
    std::string path = argv[1];
    // Without a slash dlopen would search the library path instead of opening the file.
    if (path.find('/') == std::string::npos)
        path = "./" + path;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return fail(dlerror());
    auto entry = reinterpret_cast<EntryProc>(dlsym(library, "VSTPluginMain"));
    if (!entry)
        entry = reinterpret_cast<EntryProc>(dlsym(library, "main"));
    AEffect* effect = entry ? entry(hostCallback) : nullptr;
    if (!effect || effect->magic != kEffectMagic)
        return fail(path + ": not a VST 2.x plug-in");
    auto call = [effect](VstInt32 op, VstIntPtr value = 0, void* ptr = nullptr) {
        return effect->dispatcher(effect, op, 0, value, ptr, 0.0f);
    };
    call(effOpen);
    ERect* rect = nullptr;
    call(effEditGetRect, 0, &rect);
    if (!rect || !(effect->flags & effFlagsHasEditor))
        return fail(path + ": the plug-in has no editor");
    const int width = rect->right - rect->left;
    const int height = rect->bottom - rect->top;

    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return fail("no X display (DISPLAY is not set or not reachable)");
    Window parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, unsigned(width),
                                        unsigned(height), 0, 0, 0);
    XSelectInput(display, parent, StructureNotifyMask);
    XMapWindow(display, parent);
    waitForMap(display, parent);
    call(effEditOpen, 0, reinterpret_cast<void*>(parent));
    // Hosts idle the editor at about 30 Hz; a second of that lets every deferred paint land.
    for (int i = 0; i < 30; ++i) {
        call(effEditIdle);
        XSync(display, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    XImage* image =
        XGetImage(display, parent, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    const bool written = image && writePng(image, width, height, argv[2]);
    if (image)
        XDestroyImage(image);
    call(effEditClose);
    call(effClose);
    XDestroyWindow(display, parent);
    XCloseDisplay(display);
    return written ? 0 : fail(std::string("cannot write ") + argv[2]);
}
