// skorvaline-gallery [out.png]: builds a frame in the editor's layout with one of each
// control it uses, in the editor's colours and with sample values, and writes what the
// window shows as a PNG (default gallery.png), so that the look can be reviewed. With a
// display it also writes <out>-menu.png: the filter-map menu open with its "Process"
// sub-menu. Without a display only the first picture is made, drawn off screen.
#include "editor/controls/BarControl.h"
#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/XConnection.h"
#include "editor/controls/BitmapControl.h"
#include "editor/controls/BitmapEx.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/Frame.h"
#include "editor/toolkit/GUIEditor.h"
#include "editor/toolkit/KickButton.h"
#include "editor/controls/Label.h"
#include "editor/controls/LabelButtons.h"
#include "editor/toolkit/OptionMenu.h"
#include "editor/controls/PictureButtons.h"
#include "editor/toolkit/SplashScreen.h"
#include "editor/controls/ViewContainer2.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "resources/BuiltInResources.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fontconfig/fontconfig.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

using namespace VSTGUI;

namespace {
const CColor kAmber{228, 189, 31, 0};
const CColor kTeal{22, 112, 150, 0};
const CColor kSky{75, 183, 228, 0};
const CColor kMid{128, 128, 128, 0};
const CColor kLight{192, 192, 192, 0};

template <class T>
T* styled(T* c)
{
    c->setFont(kNormalFontSmall);
    c->setFontColor(kAmber);
    c->setBackColor(kTeal);
    return c;
}

// One bar column of a panel: heading (a label or the given switch), bar, value display.
void column(CViewContainer* panel, int x, long tag, float value, const char* heading,
            const char* display, long style = 66, CView* headingView = nullptr)
{
    auto* bar = new CVerticalBarControl(tag, nullptr, CRect(x, 25, x + 16, 154), kTeal, kTeal,
                                        kAmber, style);
    bar->setValue(value);
    panel->addView(bar);
    panel->addView(headingView ? headingView
                               : styled(new CLabel(CRect(x - 7, 10, x + 23, 22), heading)));
    auto* text = styled(new CFormatDisplay(CRect(x - 7, 156, x + 23, 168)));
    text->setText(display);
    panel->addView(text);
}

CLabelRollButton* rollButton(int x, long tag, const char* s0, const char* l0, const char* s1,
                             const char* l1)
{
    auto* roll = styled(new CLabelRollButton(CRect(x - 7, 10, x + 23, 22), nullptr, tag, kTeal,
                                             kAmber, kTeal, kSky, s0, l0));
    roll->addEntry(s1, l1);
    return roll;
}

COptionMenu* filterMapMenu(long tag)
{
    auto* face = new CBitmap(10060);
    auto* menu = new COptionMenu(CRect(352, 25, 367, 41), nullptr, tag, face, kNoTextStyle);
    face->release();
    auto* presets = new COptionMenu(CRect(), nullptr, tag + 2);
    for (const char* e :
         {"1 - Fractal Mayhem (v1)", "2 - Digital Interference (v1.2)", "3 - Title Screen (v1.2)"})
        presets->addEntry(e);
    auto* generate = new COptionMenu(CRect(), nullptr, tag + 6);
    for (const char* e : {"Random", "Mandelbrot 1", "Mandelbrot 2"})
        generate->addEntry(e);
    auto* process = new COptionMenu(CRect(), nullptr, tag + 4);
    for (const char* e : {"Rotate Clockwise", "Flip Horizontal", "Flip Vertical",
                          "Normalize (columns)", "Normalize (all)", "Differences",
                          "Differences (absolute)", "Invert", "-", "Convert to 24-bit BMP"})
        process->addEntry(e);
    menu->addEntry(presets, "Load Preset BMP");
    menu->addEntry(generate, "Generate");
    menu->addEntry(process, "Process");
    menu->addEntry("Export to .bmp");
    presets->release();
    generate->release();
    process->release();
    return menu;
}

// The left panel shows the filter map; the right one the "LP Analysis" tab.
CViewContainer2* channelPanel(CFrame* frame, bool left, COptionMenu** menuOut)
{
    const CRect r = left ? CRect(10, 10, 565, 190) : CRect(10, 200, 565, 380);
    auto* panel = new CViewContainer2(r, frame, kMid, kSky, kLight);
    const long base = left ? 0 : 1;
    column(panel, 15, 2 + base, left ? 0.42f : 0.3f, nullptr, left ? "420" : "300", 66,
           rollButton(15, 54 + base, "Dly", "Delay", "Pre", "Pre-delay"));
    column(panel, 45, 10 + base, 0.62f, "Wrp", "0.62");
    column(panel, 75, 12 + base, left ? 0.8f : 0.55f, "Res", left ? "80%" : "55%");
    column(panel, 105, 14 + base, left ? 0.35f : 0.7f, "Cut", left ? "2100" : "6300");
    column(panel, 374, 24 + base, 0.5f, "Sat", "0.0");
    column(panel, 404, left ? 16 : 20, 0.7f, "Thr", "-12.0");
    column(panel, 434, left ? 17 : 21, 0.25f, "Ratio", "3.0");
    column(panel, 464, left ? 18 : 22, 0.15f, nullptr, "8.0", 66,
           rollButton(464, 56 + base, "Att", "Attack", "Rel", "Release"));
    column(panel, 494, left ? 6 : 9, left ? 0.75f : 0.6f, left ? "FbLL" : "FbRR",
           left ? "0.50" : "0.20", 16386);
    column(panel, 524, left ? 7 : 8, left ? 0.3f : 0.5f, left ? "FbLR" : "FbRL",
           left ? "-0.40" : "0.00", 16386);
    auto* tab =
        styled(new CLabelRadioButton(CRect(133, 10, left ? 281 : 354, 22), nullptr, 38 + base,
                                     kTeal, kAmber, kTeal, kSky, "Filter Map", nullptr, 4));
    tab->addEntry("LP Analysis");
    if (!left)
        tab->addEntry("Slave");
    tab->setValue(left ? 0.f : 0.5f);
    if (left) {
        auto holder = std::make_shared<kfx::CBitmapArrayAnalyser>("L");
        holder->loadFromResource(&skv::CBuiltInResources::instance(), 10000);
        holder->setLoopStart(0.1f);
        holder->setLoopStop(0.3f);
        holder->setScanIndex(0.4f);
        auto* store = new CBitmapExArray;
        auto* map =
            new CBitmapControl(CRect(135, 25, 352, 154), nullptr, 26, store, kTeal, kSky, kAmber);
        store->release();
        map->setFilterMap(holder);
        panel->addView(map);
        COptionMenu* menu = filterMapMenu(59);
        panel->addView(menu);
        if (menuOut)
            *menuOut = menu;
        auto* load = new CBitmap(10057);
        panel->addView(new CKickButton(CRect(352, 42, 367, 58), nullptr, 46, load, 16));
        load->release();
        auto* modes = new CBitmap(10058);
        auto* mode = new CMultiStateButton(CRect(352, 59, 367, 75), nullptr, 36, modes, 3);
        mode->setValue(1.f / 3.f);
        panel->addView(mode);
        modes->release();
    }
    else {
        panel->addView(styled(new CLabel(CRect(134, 24, 352, 154), "Analysing right channel")));
    }
    panel->addView(tab);  // last: its tab reaches into the area below
    return panel;
}

CViewContainer2* globalPanel(CFrame* frame)
{
    auto* panel = new CViewContainer2(CRect(575, 40, 775, 292), frame, kMid, kSky, kLight);
    const struct {
        long tag;
        const char* heading;
        float value;
        const char* display;
    } bars[] = {{50, "Fade", 0.2f, "20"},  {40, "Ord", 0.38f, "31"}, {41, "Step", 0.5f, "1/16"},
                {42, "Tc", 0.45f, "0.45"}, {43, "Mix", 0.6f, "60%"}, {44, "Out", 0.75f, "-2.5"}};
    for (int i = 0; i < 6; ++i)
        column(panel, 15 + 30 * i, bars[i].tag, bars[i].value, bars[i].heading, bars[i].display);
    auto row = [&](const char* label, int top, long tag, std::initializer_list<const char*> entries,
                   float value) {
        panel->addView(styled(new CLabel(CRect(8, top, 102, top + 12), label)));
        auto it = entries.begin();
        auto* radio = styled(new CLabelRadioButton(CRect(103, top, 187, top + 12), nullptr, tag,
                                                   kTeal, kAmber, kTeal, kSky, *it, nullptr, 0));
        for (++it; it != entries.end(); ++it)
            radio->addEntry(*it);
        radio->setValue(value);
        panel->addView(radio);
    };
    row("Oversampling", 185, 49, {"--", "2x"}, 0.5f);
    row("Sync Delay", 199, 47, {"--", "16", "8", "4", "2", "1"}, 0.f);
    row("Sync Filter", 213, 48, {"--", "16", "8", "4", "2", "1"}, 3.f / 6.f);
    panel->addView(styled(new CLabel(CRect(8, 227, 102, 239), "Direction")));
    panel->addView(styled(new CLabel(CRect(103, 227, 117, 239), "L")));
    panel->addView(styled(new CLabel(CRect(145, 227, 159, 239), "R")));
    for (int i = 0; i < 2; ++i) {
        const int left = i ? 159 : 117;
        auto* dir = styled(new CLabelRadioButton(CRect(left, 227, left + 28, 239), nullptr, 4 + i,
                                                 kTeal, kAmber, kTeal, kSky, ">", nullptr, 0));
        dir->addEntry("<");
        dir->setValue(i ? 0.5f : 0.f);
        panel->addView(dir);
    }
    return panel;
}

COptionMenu* populate(CFrame* frame)
{
    auto* background = new CBitmap(10056);
    frame->setBackground(background);
    background->release();
    COptionMenu* menu = nullptr;
    frame->addView(channelPanel(frame, true, &menu));
    frame->addView(channelPanel(frame, false, nullptr));
    frame->addView(globalPanel(frame));
    auto* aboutPicture = new CBitmap(10059);
    frame->addView(new CAboutButton(CRect(589, 291, 788, 390), nullptr, 58, aboutPicture));
    aboutPicture->release();
    auto* title = new CBitmap(10002);
    frame->addView(
        new CSplashScreen(CRect(598, 7, 753, 40), nullptr, 58, title, CRect(0, 0, 787, 390)));
    title->release();
    return menu;
}

// Reads a part of a window (the root window: what the screen shows) into an image surface.
cairo_surface_t* grab(Display* d, Window w, int width, int height)
{
    XImage* img = XGetImage(d, w, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (!img)
        return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint32_t v = uint32_t(XGetPixel(img, x, y) & 0xFFFFFFu);
            std::memcpy(data + y * stride + x * 4, &v, 4);
        }
    cairo_surface_mark_dirty(s);
    XDestroyImage(img);
    return s;
}

bool save(cairo_surface_t* s, const std::string& path)
{
    const bool ok = s && cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    if (s)
        cairo_surface_destroy(s);
    if (ok)
        std::printf("%s\n", path.c_str());
    else
        std::fprintf(stderr, "skorvaline-gallery: cannot write %s\n", path.c_str());
    return ok;
}

// Mapped pop-up menu windows, bottom first.
std::vector<Window> menuWindows(Display* d)
{
    std::vector<Window> found;
    Window root, par, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &par, &kids, &n))
        return found;
    for (unsigned i = 0; i < n; ++i) {
        XClassHint hint{};
        if (!XGetClassHint(d, kids[i], &hint))
            continue;
        const bool ours = hint.res_class && std::strcmp(hint.res_class, kMenuWindowClass) == 0;
        XFree(hint.res_name);
        XFree(hint.res_class);
        XWindowAttributes wa;
        if (ours && XGetWindowAttributes(d, kids[i], &wa) && wa.map_state == IsViewable)
            found.push_back(kids[i]);
    }
    if (kids)
        XFree(kids);
    return found;
}

void sendToMenu(Display* d, Window w, int type, int rootX, int rootY, unsigned keycode = 0)
{
    XEvent e{};
    if (type == MotionNotify) {
        e.xmotion.type = MotionNotify;
        e.xmotion.window = w;
        e.xmotion.x_root = rootX;
        e.xmotion.y_root = rootY;
    }
    else {
        e.xkey.type = KeyPress;
        e.xkey.window = w;
        e.xkey.keycode = keycode;
    }
    XSendEvent(d, w, False, NoEventMask, &e);
    XFlush(d);
}

// While the pop-up menu runs, its idle work points at "Process" (with synthetic events, so
// the real pointer is left alone), waits for the sub-menu, grabs the screen and closes the
// menu with Escape.
class CMenuShooter : public AEffGUIEditor {
public:
    CMenuShooter(Display* d, int w, int h) : AEffGUIEditor(nullptr), d(d), width(w), height(h) {}
    void setFrame(CFrame* f) { frame = f; }
    void runIdleWork() override
    {
        AEffGUIEditor::runIdleWork();
        if (done)
            return;
        XSync(frame->getDisplay(), False);
        std::vector<Window> menus = menuWindows(d);
        if (++turns > 2000 && !menus.empty()) {  // the sub-menu never came: give up
            sendToMenu(d, menus.back(), KeyPress, 0, 0, XKeysymToKeycode(d, XK_Escape));
            done = true;
            return;
        }
        if (menus.size() == 1 && !pointed) {
            XWindowAttributes wa;
            XGetWindowAttributes(d, menus[0], &wa);
            sendToMenu(d, menus[0], MotionNotify, wa.x + 20,
                       wa.y + kMenuPadding + 2 * kMenuItemHeight + 9);
            pointed = true;
        }
        else if (menus.size() == 2 && !subMenuSeen) {
            subMenuSeen = true;  // its first paint is still in the menu's queue: next turn
        }
        else if (menus.size() == 2) {
            shot = grab(d, DefaultRootWindow(d), width, height);
            sendToMenu(d, menus.back(), KeyPress, 0, 0, XKeysymToKeycode(d, XK_Escape));
            done = true;
        }
    }
    cairo_surface_t* shot = nullptr;

private:
    Display* d;
    int width, height;
    int turns = 0;
    bool pointed = false, subMenuSeen = false, done = false;
};

std::string menuPath(const std::string& out)
{
    const std::size_t dot = out.rfind(".png");
    return (dot == std::string::npos ? out : out.substr(0, dot)) + "-menu.png";
}
}  // namespace

int main(int argc, char** argv)
{
    const std::string out = argc > 1 ? argv[1] : "gallery.png";
    const CRect size(0, 0, 788, 390);
    Display* d = VSTGUI::openDisplay();
    bool ok = true;
    if (d && DefaultDepth(d, DefaultScreen(d)) == 24) {
        // At the screen's corner, above everything, so that grabbing the screen shows it.
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        Window parent = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 788, 390, 0, CopyFromParent,
                                      InputOutput, CopyFromParent, CWOverrideRedirect, &attrs);
        XStoreName(d, parent, "Skorvaline gallery");
        XMapRaised(d, parent);
        XSync(d, False);
        CMenuShooter editor(d, 788, 390);
        auto* frame = new CFrame(size, reinterpret_cast<void*>(parent), &editor);
        editor.setFrame(frame);
        COptionMenu* menu = populate(frame);
        for (int i = 0; i < 5; ++i) {
            XSync(frame->getDisplay(), False);
            frame->idle();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        XSync(frame->getDisplay(), False);
        ok = save(grab(frame->getDisplay(), frame->getWindow(), 788, 390), out) && ok;
        if (menu) {
            const CRect r = menu->frameRect();
            menu->popup(frame->createDrawContext().get(), r.left, r.bottom);
            ok = save(editor.shot, menuPath(out)) && ok;
        }
        editor.close();  // releases the frame
        XDestroyWindow(d, parent);
    }
    else {
        auto* frame = new CFrame(size, nullptr, nullptr);
        populate(frame);
        COffscreenContext ctx(frame, 788, 390, kBlackCColor);
        frame->draw(&ctx);
        ctx.flush();
        ok = save(cairo_surface_reference(ctx.getSurface()), out);
        frame->release();
    }
    if (d)
        XCloseDisplay(d);
    // Hand back the libraries' process-wide caches, so that leak checkers see only ours.
    cairo_debug_reset_static_data();
    FcFini();
    return ok ? 0 : 1;
}
