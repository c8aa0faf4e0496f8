// The editor window on an X display (DISPLAY must be set; skipped otherwise): opening it on a
// parent window (every panel and control built, the filter maps copied, the window made) and
// an idle with nothing to redraw, the cost a host pays every 40 ms or so while the window is
// shown. Goals: open under 100 ms, an idle with nothing dirty under 0.2 ms.
#include <benchmark/benchmark.h>

#include "editor/toolkit/Frame.h"
#include "editor/toolkit/XConnection.h"
#include "editor/window/SkorvalineEditor.h"
#include "plugin/SkorvalineEdit.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <memory>

namespace {

struct Window788 {
    Display* display = VSTGUI::openDisplay();
    Window parent = 0;
    Window788()
    {
        if (display) {
            parent =
                XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 788, 390, 0, 0, 0);
            XMapWindow(display, parent);
            XSync(display, False);
        }
    }
    ~Window788()
    {
        if (display) {
            XDestroyWindow(display, parent);
            XCloseDisplay(display);
        }
    }
};

void BM_OpenWindow(benchmark::State& state)
{
    Window788 w;
    if (!w.display) {
        state.SkipWithError("no X display");
        return;
    }
    fxSkorvalineEdit fx(nullptr);
    fxSkorvalineEditor* editor = fx.getWindow();
    for (auto _ : state) {
        editor->open(reinterpret_cast<void*>(w.parent));
        editor->idle();  // the first drawing is part of opening
        XSync(editor->getFrame()->getDisplay(), False);
        state.PauseTiming();
        editor->close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenWindow)->Unit(benchmark::kMillisecond);

void BM_IdleNothingDirty(benchmark::State& state)
{
    Window788 w;
    if (!w.display) {
        state.SkipWithError("no X display");
        return;
    }
    fxSkorvalineEdit fx(nullptr);
    fxSkorvalineEditor* editor = fx.getWindow();
    editor->open(reinterpret_cast<void*>(w.parent));
    for (int i = 0; i < 5; ++i)
        editor->idle();
    for (auto _ : state)
        editor->idle();
    editor->close();
}
BENCHMARK(BM_IdleNothingDirty)->Unit(benchmark::kMicrosecond);

// What the engine's scan steps cost the window: both scan markers move every idle.
void BM_IdleScanMarkersMoved(benchmark::State& state)
{
    Window788 w;
    if (!w.display) {
        state.SkipWithError("no X display");
        return;
    }
    fxSkorvalineEdit fx(nullptr);
    fxSkorvalineEditor* editor = fx.getWindow();
    editor->open(reinterpret_cast<void*>(w.parent));
    editor->idle();
    float position = 0.f;
    for (auto _ : state) {
        position = position > 0.99f ? 0.f : position + 0.01f;
        editor->setParameter(30, position);
        editor->setParameter(35, position);
        editor->idle();
    }
    editor->close();
}
BENCHMARK(BM_IdleScanMarkersMoved)->Unit(benchmark::kMicrosecond);

}  // namespace
