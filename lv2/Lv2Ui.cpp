// The bundle binary's second exported symbol, lv2ui_descriptor: the editor window as an LV2 X11
// UI. It lives in the plug-in's own binary, so the host's instance-access handle is a
// CLv2Wrapper of this very copy of the code, and UI and effect share one set of process-wide
// records (configuration, bank store, pictures).
//
// A UI opens the instance's editor as a child of the host's parent window and drives it from
// the host's idle calls. What the user changes reaches the host through write_function, always
// on the UI thread: at the end of each idle, and from inside the editor's own loops (a drag, a
// menu), which ask for host idle time as they run. Host changes to the ports need no
// port_event: run() hands them to the effect, and the effect to the editor, as a VST 2.x host's
// setParameter does; the editor shows the effect, not the host's copy of the ports.
#include "editor/toolkit/Frame.h"
#include "editor/window/SkorvalineEditor.h"
#include "lv2/Lv2Wrapper.h"
#include "plugin/SkorvalineEdit.h"

#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace {

using skv::lv2::CLv2Wrapper;

using skv::lv2::findFeature;

class CLv2EditorUi final : public skv::lv2::IUiLink {
public:
    /// Null when a feature it needs is missing, the instance already shows its editor in
    /// another UI, or the window cannot be opened.
    static CLv2EditorUi* create(const char* pluginUri, LV2UI_Write_Function write,
                                LV2UI_Controller controller, LV2UI_Widget* widget,
                                const LV2_Feature* const* features);
    ~CLv2EditorUi();
    CLv2EditorUi(const CLv2EditorUi&) = delete;
    CLv2EditorUi& operator=(const CLv2EditorUi&) = delete;

    /// 0 while the window is there, 1 once it is gone (or its instance is).
    int idle();
    /// The host's cleanup; from inside this UI's own idle (a host callback made there) the
    /// window closes once the idle has unwound, and the UI goes at the end of that idle.
    void cleanup();

    void hostIdle() override;
    void gesture(int index, bool begin) override;
    void instanceGone() override;

private:
    CLv2EditorUi(CLv2Wrapper* wrapper, fxSkorvalineEditor* editor, LV2UI_Write_Function write,
                 LV2UI_Controller controller, const LV2UI_Touch* touch)
        : wrapper(wrapper), editor(editor), write(write), controller(controller), touch(touch)
    {
    }
    /// Writes the editor's changes since the last call into the host's ports.
    void passOnChanges();
    bool windowThere() const;

    CLv2Wrapper* wrapper;
    fxSkorvalineEditor* editor;
    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    const LV2UI_Touch* touch;
    bool inIdle = false;
    bool cleanupPending = false;
};

CLv2EditorUi* CLv2EditorUi::create(const char* pluginUri, LV2UI_Write_Function write,
                                   LV2UI_Controller controller, LV2UI_Widget* widget,
                                   const LV2_Feature* const* features)
{
    auto* wrapper = static_cast<CLv2Wrapper*>(
        const_cast<void*>(findFeature<void>(features, LV2_INSTANCE_ACCESS_URI)));
    const void* parent = findFeature<void>(features, LV2_UI__parent);
    if (!pluginUri || std::strcmp(pluginUri, skv::lv2::kPluginUri) != 0 || !wrapper || !parent ||
        !write || !widget) {
        return nullptr;
    }
    auto* effect = dynamic_cast<fxSkorvalineEdit*>(&wrapper->effect());
    fxSkorvalineEditor* editor = effect ? effect->getWindow() : nullptr;
    if (!editor) {
        return nullptr;
    }
    auto* ui = new (std::nothrow) CLv2EditorUi(wrapper, editor, write, controller,
                                               findFeature<LV2UI_Touch>(features, LV2_UI__touch));
    if (!ui) {
        return nullptr;
    }
    // One editor per effect, so one UI per instance: a second one while the first is open is
    // refused, and the first stays as it was.
    if (!wrapper->attachUi(ui)) {
        ui->wrapper = nullptr;
        delete ui;
        return nullptr;
    }
    bool opened = false;
    try {
        opened = editor->open(const_cast<void*>(parent));
    }
    catch (...) {
        opened = false;
    }
    if (!opened) {
        delete ui;
        return nullptr;
    }
    const VSTGUI::CFrame* frame = editor->getFrame();
    *widget = reinterpret_cast<LV2UI_Widget>(static_cast<std::uintptr_t>(frame->getWindow()));
    const VSTGUI::CRect size = frame->getViewSize();
    if (const auto* resize = findFeature<LV2UI_Resize>(features, LV2_UI__resize)) {
        resize->ui_resize(resize->handle, size.width(), size.height());
    }
    return ui;
}

CLv2EditorUi::~CLv2EditorUi()
{
    if (wrapper) {
        editor->close();
        wrapper->detachUi(this);
    }
}

bool CLv2EditorUi::windowThere() const
{
    const VSTGUI::CFrame* frame = editor->getFrame();
    return editor->isOpen() && frame && frame->isOpen();
}

int CLv2EditorUi::idle()
{
    if (!wrapper) {
        return 1;
    }
    if (inIdle) {
        return windowThere() ? 0 : 1;  // the host idling us from inside a callback of ours
    }
    inIdle = true;
    editor->idle();
    passOnChanges();
    inIdle = false;
    if (cleanupPending) {
        delete this;
        return 1;
    }
    return windowThere() ? 0 : 1;
}

void CLv2EditorUi::cleanup()
{
    if (!inIdle) {
        delete this;
        return;
    }
    if (wrapper) {
        editor->close();  // ends the running loop; the views go when it has unwound
    }
    cleanupPending = true;
}

void CLv2EditorUi::passOnChanges()
{
    if (!wrapper || cleanupPending) {
        return;
    }
    wrapper->takeEditorChanges([this](int index, float value) {
        // A host may clean the UI up from inside its write_function; then it hears no more.
        if (!cleanupPending) {
            write(controller, skv::lv2::kPortFirstParam + static_cast<std::uint32_t>(index),
                  sizeof value, 0, &value);
        }
    });
}

void CLv2EditorUi::hostIdle()
{
    passOnChanges();
}

void CLv2EditorUi::gesture(int index, bool begin)
{
    // The values of the gesture so far come before its end, and the beginning before them.
    passOnChanges();
    if (touch && !cleanupPending) {
        touch->touch(touch->handle, skv::lv2::kPortFirstParam + static_cast<std::uint32_t>(index),
                     begin);
    }
}

void CLv2EditorUi::instanceGone()
{
    // The effect closes its editor as it goes.
    wrapper = nullptr;
    editor = nullptr;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor* /*descriptor*/, const char* pluginUri,
                         const char* /*bundlePath*/, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget,
                         const LV2_Feature* const* features)
{
    try {
        return CLv2EditorUi::create(pluginUri, write, controller, widget, features);
    }
    catch (...) {
        // Nothing may unwind into the host.
        return nullptr;
    }
}

void cleanup(LV2UI_Handle handle)
{
    static_cast<CLv2EditorUi*>(handle)->cleanup();
}

int idle(LV2UI_Handle handle)
{
    return static_cast<CLv2EditorUi*>(handle)->idle();
}

const void* extensionData(const char* uri)
{
    static const LV2UI_Idle_Interface idleInterface = {idle};
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0) {
        return &idleInterface;
    }
    return nullptr;
}

const LV2UI_Descriptor descriptor = {skv::lv2::kUiUri, instantiate, cleanup, nullptr,
                                     extensionData};

}  // namespace

extern "C" __attribute__((visibility("default"))) const LV2UI_Descriptor*
lv2ui_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : nullptr;
}
