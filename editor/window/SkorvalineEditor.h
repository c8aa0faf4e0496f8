// fxSkorvalineEditor: the plug-in's window (788 x 390): three rounded panels (left channel,
// right channel, global) on the background picture, every control tagged with the parameter
// it shows, the views that switches swap in and out, the filter-map menus and file dialogs.
//
// Threads: open, close, idle, valueChanged and the view switches run on the host's
// user-interface thread (which need not be the process's main thread). setParameter and
// refreshFilterMap may come from any thread, the audio thread included: they only record
// what changed in atomics and mark the editor for an update; idle applies the records.
#pragma once

#include "editor/toolkit/Control.h"
#include "editor/toolkit/GUIEditor.h"
#include "editor/window/FilePicker.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class fxSkorvaline;

namespace VSTGUI {
class CBarControl;
class CBitmapControl;
class CFormatDisplay;
class CKickButton;
class CLabel;
class CLabelRadioButton;
class CLabelRollButton;
class CMultiStateButton;
class COptionMenu;
class CAboutButton;
class CSplashScreen;
class CViewContainer2;
}  // namespace VSTGUI

class fxSkorvalineEditor : public AEffGUIEditor, public VSTGUI::CControlListener {
public:
    static constexpr int kWidth = 788;
    static constexpr int kHeight = 390;
    /// Parameter indices and GUI tags up to this bound have a slot in the tables below.
    static constexpr int kNumTags = 64;

    explicit fxSkorvalineEditor(fxSkorvaline* effect);
    ~fxSkorvalineEditor() override;

    /// ptr: the host's parent window. Answers false (and shows nothing) when there is no X
    /// display or the parent window cannot take a child. An open while open closes first.
    bool open(void* ptr) override;
    /// Called while a gesture, a menu or a dialog of the window runs (a host may close from
    /// inside audioMasterIdle, which those loops call), it ends them and the window goes when
    /// they have unwound, at the end of the idle that ran them.
    void close() override;
    void idle() override;
    /// Any thread; records index (0..63) and, for 56/57, the value. Nothing while closed.
    void setParameter(VstInt32 index, float value) override;

    void valueChanged(VSTGUI::CDrawContext* context, VSTGUI::CControl* control) override;

    virtual void beginParameterEdit(long index);
    virtual void endParameterEdit(long index);
    /// tag 38 / 39 and the radio's value: which views the channel's filter-map area shows.
    virtual void showFilterTab(long tag, float value);
    /// tag 54 / 55: Delay (value 0) or Pre-delay bar of the channel.
    virtual void showDelayControl(long tag, float value);
    /// tag 56 / 57: Attack (value 0) or Release bar of the channel.
    virtual void showCompressorControl(long tag, float value);
    /// Load button tag 46 (left) / 45 (right): starts the open dialog unless the same button's
    /// dialog runs or ended less than a second ago; the file is loaded when the answer comes
    /// (idle). Answers whether a file was loaded now, which with a dialog beside the host's
    /// loop is never the case.
    virtual bool openFilterMapFile(long tag);
    /// channel 26 = left, other values right. From the effect (any thread) it is recorded and
    /// applied at idle; forced (from open, UI thread) it applies at once.
    virtual void refreshFilterMap(const char* name, int channel, bool force);

    bool isOpen() const { return windowOpen.load(std::memory_order_acquire); }
    /// For tests and the benchmark: the views by tag (null while closed or not made).
    VSTGUI::CBarControl* getBar(int index) const { return bars[index]; }
    VSTGUI::CFormatDisplay* getDisplay(int index) const { return displays[index]; }
    VSTGUI::CBitmapControl* getFilterMapControl(bool left) const
    {
        return channel[left ? 0 : 1].map;
    }
    VSTGUI::CViewContainer2* getPanel(int which) const { return panels[which]; }
    VSTGUI::CControl* getControl(int tag) const;
    /// Dialogs running now (0..4).
    int runningDialogs() const;

private:
    /// The views of one channel panel that the editor keeps pointers to.
    struct ChannelViews {
        VSTGUI::CViewContainer2* panel = nullptr;
        VSTGUI::CLabelRollButton* delayRoll = nullptr;
        VSTGUI::CLabelRollButton* compRoll = nullptr;
        VSTGUI::CLabelRadioButton* tabRadio = nullptr;
        VSTGUI::CBitmapControl* map = nullptr;
        VSTGUI::COptionMenu* menu = nullptr;
        VSTGUI::COptionMenu* loadMenu = nullptr;
        VSTGUI::COptionMenu* generateMenu = nullptr;
        VSTGUI::COptionMenu* processMenu = nullptr;
        VSTGUI::CKickButton* loadButton = nullptr;
        VSTGUI::CMultiStateButton* modeButton = nullptr;
        VSTGUI::CLabel* analysingLabel = nullptr;
        VSTGUI::CLabel* slaveLabel = nullptr;  // right channel only
    };
    /// One running file dialog and what to do with its answer.
    struct PendingDialog {
        std::unique_ptr<VSTGUI::IFilePicker> picker;
        long tag = -1;
    };
    enum DialogSlot {
        kSlotLoadLeft,
        kSlotLoadRight,
        kSlotExportLeft,
        kSlotExportRight,
        kNumDialogSlots
    };

    /// The column headings of a channel panel, held here only until the panel takes them.
    struct ChannelHeadings {
        VSTGUI::CLabel* warp = nullptr;
        VSTGUI::CLabel* res = nullptr;
        VSTGUI::CLabel* cut = nullptr;
        VSTGUI::CLabel* sat = nullptr;
        VSTGUI::CLabel* thr = nullptr;
        VSTGUI::CLabel* ratio = nullptr;
        VSTGUI::CLabel* fbSame = nullptr;
        VSTGUI::CLabel* fbCross = nullptr;
    };

    void buildChannelPanel(bool left);
    /// Its steps (side 0 left, 1 right), called in the order the views are made.
    void buildFilterColumns(int side, ChannelHeadings& headings);
    void buildFilterMapArea(int side);
    void buildMapButtons(int side);
    void buildMapMenu(int side);
    void buildDynamicsColumns(int side, ChannelHeadings& headings);
    void insertChannelViews(int side, const ChannelHeadings& headings);
    void buildGlobalPanel();
    VSTGUI::CBarControl* makeBar(int index, int x, long style);
    VSTGUI::CLabel* makeHeading(int x, const char* text);
    VSTGUI::CFormatDisplay* makeDisplay(int index, int x);
    VSTGUI::CLabel* makeLabel(const VSTGUI::CRect& r, const char* text);
    void refreshDisplay(int index);
    /// Adds view to panel unless it is there already; removes without destroying.
    static void attach(VSTGUI::CViewContainer2* panel, VSTGUI::CView* view);
    static void detach(VSTGUI::CViewContainer2* panel, VSTGUI::CView* view);
    void applyParameter(int index);
    void applyMapParameter(int index);
    void refreshDependentDisplays(int index);
    void applyRecorded();
    void showFilterMapOf(int channelTag);
    void reportMapChange(VSTGUI::CBitmapControl* map, long tag);
    void onMenuChoice(long tag, float value);
    void runMenuOperation(long tag, float value);
    void startDialog(DialogSlot slot, long tag);
    void pollDialogs();
    void finishDialog(DialogSlot slot, VSTGUI::IFilePicker::State state);
    void exportFilterMap(int channel, const std::string& path);
    void cancelDialogs();
    /// Releases the views no panel holds, destroys the frame, forgets every pointer.
    void tearDown();
    long long nowSeconds() const;

    fxSkorvaline* fx;
    ChannelViews channel[2];
    VSTGUI::CViewContainer2* panels[3] = {};
    VSTGUI::CBarControl* bars[kNumTags] = {};
    VSTGUI::CFormatDisplay* displays[kNumTags] = {};
    VSTGUI::CLabelRadioButton* radios[kNumTags] = {};
    VSTGUI::CAboutButton* aboutButton = nullptr;
    VSTGUI::CSplashScreen* splash = nullptr;

    float leftTabState = -1.f, rightTabState = -1.f;
    float compressorState[2] = {0.f, 0.f};
    long long lastFileTime = 0;
    long lastFileTag = -1;
    PendingDialog dialogs[kNumDialogSlots];
    std::unique_ptr<VSTGUI::IFilePicker> errorPicker;  // telling of a failed export
    std::string exportError;                           // empty after a good export

    /// Written by any thread, read by idle.
    std::atomic<bool> windowOpen{false};
    std::atomic<std::uint64_t> recorded{0};
    std::atomic<float> recordedCompressor[2] = {{0.f}, {0.f}};
    std::atomic<unsigned> mapRefresh{0};  // bit 0 left, bit 1 right
    bool closePending = false;
};
