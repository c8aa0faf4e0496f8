// skorvaline-gallery [out.png]: builds a frame with one of each control the editor uses, in
// the editor's colours, lets it draw, and writes what the window shows as a PNG (default
// gallery.png). With a display the frame sits on a real top-level window and the PNG is
// read back from the server; without one it is drawn off screen.
#include "editor/BarControl.h"
#include "editor/Bitmap.h"
#include "editor/BitmapControl.h"
#include "editor/BitmapEx.h"
#include "editor/DrawContext.h"
#include "editor/Frame.h"
#include "editor/KickButton.h"
#include "editor/Label.h"
#include "editor/LabelButtons.h"
#include "editor/OptionMenu.h"
#include "editor/PictureButtons.h"
#include "editor/SplashScreen.h"
#include "editor/ViewContainer2.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "resources/BuiltInResources.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

using namespace VSTGUI;

namespace {
const CColor kAmber{228, 189, 31, 0};
const CColor kTeal{22, 112, 150, 0};
const CColor kSky{75, 183, 228, 0};
const CColor kMid{128, 128, 128, 0};
const CColor kLight{192, 192, 192, 0};

template <class T> T* styled(T* c) {
    c->setFont(kNormalFontSmall);
    c->setFontColor(kAmber);
    c->setBackColor(kTeal);
    return c;
}

void populate(CFrame* frame) {
    auto* background = new CBitmap(10056);
    frame->setBackground(background);
    background->release();

    auto* panel = new CViewContainer2(CRect(10, 10, 565, 190), frame, kMid, kSky, kLight);
    const float values[] = {0.f, 0.35f, 0.8f, 1.f};
    const char* heads[] = {"Dly", "Wrp", "Res", "Cut"};
    for (int i = 0; i < 4; ++i) {
        int x = 15 + 30 * i;
        auto* bar = new CVerticalBarControl(i, nullptr, CRect(x, 25, x + 16, 154), kTeal, kTeal, kAmber, 66);
        bar->setValue(values[i]);
        panel->addView(bar);
        if (i == 0) {
            auto* roll = styled(new CLabelRollButton(CRect(x - 7, 10, x + 23, 22), nullptr, 54, kTeal, kAmber, kTeal,
                                                     kSky, "Dly", "Delay"));
            roll->addEntry("Pre", "Pre-delay");
            panel->addView(roll);
        } else {
            panel->addView(styled(new CLabel(CRect(x - 7, 10, x + 23, 22), heads[i])));
        }
        auto* display = styled(new CFormatDisplay(CRect(x - 7, 156, x + 23, 168)));
        char text[32];
        std::snprintf(text, sizeof text, "%d%%", int(values[i] * 100));
        display->setText(text);
        panel->addView(display);
    }
    for (int i = 0; i < 2; ++i) {
        int x = 494 + 30 * i;
        auto* bar = new CVerticalBarControl(6 + i, nullptr, CRect(x, 25, x + 16, 154), kTeal, kTeal, kAmber, 16386);
        bar->setValue(i ? 0.25f : 0.8f);
        panel->addView(bar);
        panel->addView(styled(new CLabel(CRect(x - 7, 10, x + 23, 22), i ? "FbLR" : "FbLL")));
        panel->addView(styled(new CFormatDisplay(CRect(x - 7, 156, x + 23, 168))));
    }
    auto* radio = styled(new CLabelRadioButton(CRect(133, 10, 281, 22), nullptr, 38, kTeal, kAmber, kTeal, kSky,
                                               "Filter Map", nullptr, 4));
    radio->addEntry("LP Analysis");
    panel->addView(radio);
    auto holder = std::make_shared<kfx::CBitmapArrayAnalyser>("L");
    holder->loadFromResource(&skv::CBuiltInResources::instance(), 10000);
    holder->setLoopStart(0.1f);
    holder->setLoopStop(0.3f);
    holder->setScanIndex(0.4f);
    auto* store = new CBitmapExArray;
    auto* map = new CBitmapControl(CRect(135, 25, 352, 154), nullptr, 26, store, kTeal, kSky, kAmber);
    store->release();
    map->setFilterMap(holder);
    panel->addView(map);
    auto* face = new CBitmap(10060);
    auto* menu = new COptionMenu(CRect(352, 25, 367, 41), nullptr, 59, face, nullptr, kNoTextStyle);
    face->release();
    menu->addEntry("Export to .bmp");
    panel->addView(menu);
    auto* load = new CBitmap(10057);
    panel->addView(new CKickButton(CRect(352, 42, 367, 58), nullptr, 46, load, 16));
    load->release();
    auto* modes = new CBitmap(10058);
    auto* mode = new CMultiStateButton(CRect(352, 59, 367, 75), nullptr, 36, modes, 3);
    mode->setValue(1.f / 3.f);
    panel->addView(mode);
    modes->release();
    auto* sat = new CVerticalBarControl(24, nullptr, CRect(374, 25, 390, 154), kTeal, kTeal, kAmber, 66);
    sat->setValue(0.6f);
    panel->addView(sat);
    panel->addView(styled(new CLabel(CRect(367, 10, 397, 22), "Sat")));
    frame->addView(panel);

    auto* global = new CViewContainer2(CRect(575, 40, 775, 292), frame, kMid, kSky, kLight);
    global->addView(styled(new CLabel(CRect(8, 185, 102, 197), "Oversampling")));
    auto* os = styled(new CLabelRadioButton(CRect(103, 185, 187, 197), nullptr, 49, kTeal, kAmber, kTeal, kSky, "--"));
    os->addEntry("2x");
    os->setValue(0.5f);
    global->addView(os);
    global->addView(styled(new CLabel(CRect(8, 199, 102, 211), "Sync Delay")));
    auto* sync = styled(new CLabelRadioButton(CRect(103, 199, 187, 211), nullptr, 47, kTeal, kAmber, kTeal, kSky, "--"));
    for (const char* e : {"16", "8", "4", "2", "1"}) sync->addEntry(e);
    global->addView(sync);
    frame->addView(global);

    auto* aboutPicture = new CBitmap(10059);
    frame->addView(new CAboutButton(CRect(589, 291, 788, 390), nullptr, 58, aboutPicture));
    aboutPicture->release();
    auto* title = new CBitmap(10002);
    frame->addView(new CSplashScreen(CRect(598, 7, 753, 40), nullptr, 58, title, CRect(0, 0, 787, 390)));
    title->release();
}

// Reads the window's pixels back from the server into an image surface.
cairo_surface_t* grab(Display* d, Window w, int width, int height) {
    XImage* img = XGetImage(d, w, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (!img) return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned long px = XGetPixel(img, x, y);
            uint32_t v = uint32_t(px & 0xFFFFFFu);
            std::memcpy(data + y * stride + x * 4, &v, 4);
        }
    cairo_surface_mark_dirty(s);
    XDestroyImage(img);
    return s;
}
}  // namespace

int main(int argc, char** argv) {
    const char* out = argc > 1 ? argv[1] : "gallery.png";
    const CRect size(0, 0, 788, 390);
    Display* d = XOpenDisplay(nullptr);
    cairo_surface_t* result = nullptr;
    if (d && DefaultDepth(d, DefaultScreen(d)) == 24) {
        Window parent = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 788, 390, 0, 0, 0);
        XStoreName(d, parent, "Skorvaline gallery");
        XMapWindow(d, parent);
        XSync(d, False);
        auto* frame = new CFrame(size, reinterpret_cast<void*>(parent), nullptr);
        populate(frame);
        for (int i = 0; i < 20; ++i) {
            frame->idle();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        frame->setDirty(true);
        frame->idle();
        XSync(frame->getDisplay(), False);
        result = grab(frame->getDisplay(), frame->getWindow(), 788, 390);
        frame->release();
        XDestroyWindow(d, parent);
    }
    if (d) XCloseDisplay(d);
    if (!result) {
        auto* frame = new CFrame(size, nullptr, nullptr);
        populate(frame);
        COffscreenContext ctx(frame, 788, 390, kBlackCColor);
        frame->draw(&ctx);
        ctx.flush();
        result = cairo_surface_reference(ctx.getSurface());
        frame->release();
    }
    cairo_status_t st = cairo_surface_write_to_png(result, out);
    cairo_surface_destroy(result);
    if (st != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "skorvaline-gallery: cannot write %s\n", out);
        return 1;
    }
    std::printf("%s\n", out);
    return 0;
}
