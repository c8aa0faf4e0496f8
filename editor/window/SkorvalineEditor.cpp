// fxSkorvalineEditor: building and tearing down the window, the parameter records applied at
// idle, the control reports, the view switches and the filter-map menus and dialogs.
#include "editor/window/SkorvalineEditor.h"

#include "editor/controls/BarControl.h"
#include "editor/controls/BitmapControl.h"
#include "editor/controls/BitmapEx.h"
#include "editor/controls/Label.h"
#include "editor/controls/LabelButtons.h"
#include "editor/controls/PictureButtons.h"
#include "editor/controls/ViewContainer2.h"
#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/Frame.h"
#include "editor/toolkit/KickButton.h"
#include "editor/toolkit/OptionMenu.h"
#include "editor/toolkit/SplashScreen.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "filtermap/LittleEndian.h"
#include "plugin/Skorvaline.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <initializer_list>

using namespace VSTGUI;

namespace {

constexpr CColor kAmber{228, 189, 31, 0};
constexpr CColor kTeal{22, 112, 150, 0};
constexpr CColor kSky{75, 183, 228, 0};
constexpr CColor kMidGrey{128, 128, 128, 0};
constexpr CColor kLightGrey{192, 192, 192, 0};
constexpr long kLabelFont = 4;  // Arial 11

// Built-in pictures of the window.
constexpr long kBackgroundPicture = 10056;
constexpr long kLoadButtonPicture = 10057;
constexpr long kModeButtonPicture = 10058;
constexpr long kAboutPicture = 10059;
constexpr long kMenuFacePicture = 10060;
constexpr long kSplashPicture = 10002;

constexpr long kBarStyle = kBarVertical | kBarBottomUp;     // 66
constexpr long kBipolarStyle = kBarVertical | kBarBipolar;  // 16386

// GUI tags beyond the host's parameters.
constexpr int kTagDelaySwitchL = 54, kTagDelaySwitchR = 55;
constexpr int kTagCompSwitchL = 56, kTagCompSwitchR = 57;
constexpr int kTagAbout = 58;
constexpr int kTagMenuL = 59, kTagMenuR = 60;
constexpr int kTagLoadMenuL = 61, kTagLoadMenuR = 62;
constexpr int kTagProcessMenuL = 63, kTagProcessMenuR = 64;
constexpr int kTagGenerateMenuL = 65, kTagGenerateMenuR = 66;
constexpr int kLastTag = 66;
constexpr int kLeftMap = 26, kRightMap = 31;
constexpr int kLoadLeft = 46, kLoadRight = 45;
// The longest path a dialog may answer (the file name buffer holds 259 characters).
constexpr std::size_t kMaxPathChars = 259;

// A channel panel's parameter indices, left then right.
struct ChannelTags {
    int delay, preDelay, warp, res, cut, sat, thr, ratio, attack, release, fbSame, fbCross;
    int delaySwitch, compSwitch, tab, map, menu, loadMenu, processMenu, generateMenu, load, mode;
    const char* fbSameName;
    const char* fbCrossName;
    const char* analysingText;
    const char* openTitle;
};
// clang-format off
constexpr ChannelTags kChannelTags[2] = {
    {2, 0, 10, 12, 14, 24, 16, 17, 18, 19, 6, 7,
     kTagDelaySwitchL, kTagCompSwitchL, 38, kLeftMap, kTagMenuL, kTagLoadMenuL, kTagProcessMenuL,
     kTagGenerateMenuL, kLoadLeft, 36,
     "FbLL", "FbLR", "Analysing left channel", "Open 24-bit BMP File for Left Channel"},
    {3, 1, 11, 13, 15, 25, 20, 21, 22, 23, 9, 8,
     kTagDelaySwitchR, kTagCompSwitchR, 39, kRightMap, kTagMenuR, kTagLoadMenuR, kTagProcessMenuR,
     kTagGenerateMenuR, kLoadRight, 37,
     "FbRR", "FbRL", "Analysing right channel", "Open 24-bit BMP File for Right Channel"},
};
// clang-format on

const CRect kPanelRects[3] = {CRect(10, 10, 565, 190), CRect(10, 200, 565, 380),
                              CRect(575, 40, 775, 292)};

bool isBarParameter(int i)
{
    return (i >= 0 && i <= 3) || (i >= 6 && i <= 25) || (i >= 40 && i <= 44) || i == 50;
}

int roundToInt(float v)
{
    return int(std::lrint(v));  // nearest, halves to even
}

}  // namespace

// ---- construction --------------------------------------------------------------------------

fxSkorvalineEditor::fxSkorvalineEditor(fxSkorvaline* effect) : AEffGUIEditor(effect), fx(effect)
{
    rect = ERect{0, 0, kHeight, kWidth};
}

fxSkorvalineEditor::~fxSkorvalineEditor()
{
    if (frame) {
        cancelDialogs();
        tearDown();
    }
}

// ---- open and close ----------------------------------------------------------------------

bool fxSkorvalineEditor::open(void* ptr)
{
    if (frame)
        close();
    if (closePending)
        return false;  // the previous window's gesture or menu is still unwinding
    postUpdate();
    AEffGUIEditor::open(ptr);
    leftTabState = rightTabState = -1.f;
    compressorState[0] = compressorState[1] = 0.f;
    lastFileTag = -1;
    recorded.store(0, std::memory_order_relaxed);
    mapRefresh.store(0, std::memory_order_relaxed);

    auto* background = new CBitmap(kBackgroundPicture);
    frame =
        new CFrame(CRect(0, 0, background->getWidth(), background->getHeight()), ptr, this, kSky);
    frame->setBackground(background);
    background->release();
    if (!frame->isOpen()) {
        // No display (a scanner) or a parent window that is not there.
        AEffGUIEditor::close();  // releases the frame
        return false;
    }

    buildChannelPanel(true);
    buildChannelPanel(false);
    buildGlobalPanel();
    showFilterTab(38, fx->getParameter(38));
    showFilterTab(39, fx->getParameter(39));

    auto* aboutPicture = new CBitmap(kAboutPicture);
    aboutButton =
        new CAboutButton(CRect(kWidth - (aboutPicture->getWidth() + 10),
                               kHeight - (aboutPicture->getHeight() + 1), kWidth, kHeight),
                         this, kTagAbout, aboutPicture);
    aboutPicture->release();
    auto* splashPicture = new CBitmap(kSplashPicture);
    splash = new CSplashScreen(CRect(598, 7, 753, 40), this, kTagAbout, splashPicture,
                               CRect(0, 0, 787, 390), CPoint(0, 0));
    splashPicture->release();
    frame->addView(aboutButton);
    frame->addView(splash);

    for (int i : {2,  0,  12, 24, 16, 17, 18, 19, 10, 14, 6,  7,  3,  1,  13,
                  25, 20, 21, 22, 23, 11, 15, 9,  8,  50, 40, 41, 42, 43, 44})
        refreshDisplay(i);
    showCompressorControl(kTagCompSwitchL, compressorState[0]);
    showCompressorControl(kTagCompSwitchR, compressorState[1]);

    channel[0].map->setDirty(true);
    channel[1].map->setDirty(true);
    frame->setDirtyInRect(frame->getViewSize());
    windowOpen.store(true, std::memory_order_release);
    return true;
}

void fxSkorvalineEditor::close()
{
    windowOpen.store(false, std::memory_order_release);
    if (!frame)
        return;
    cancelDialogs();
    if (frame->inMouseLoop()) {
        // Called from inside audioMasterIdle, which a gesture or menu loop of this very frame
        // runs: end the loop and let it unwind before the views go.
        frame->requestClose();
        closePending = true;
        return;
    }
    tearDown();
}

void fxSkorvalineEditor::tearDown()
{
    closePending = false;
    windowOpen.store(false, std::memory_order_release);
    // Views a switch has taken out of their panel belong to the editor alone.
    for (ChannelViews& c : channel) {
        CView* switchable[] = {c.map,        c.menu,           c.loadButton,
                               c.modeButton, c.analysingLabel, c.slaveLabel};
        for (CView* v : switchable)
            if (v && !c.panel->containsView(v))
                v->release();
    }
    const int pairs[2][4] = {{18, 19, 2, 0}, {22, 23, 3, 1}};
    for (int side = 0; side < 2; ++side) {
        for (int k = 0; k < 4; ++k) {
            const int i = pairs[side][k];
            CView* views[] = {bars[i], displays[i]};
            for (CView* v : views)
                if (v && !channel[side].panel->containsView(v))
                    v->release();
        }
    }
    AEffGUIEditor::close();
    channel[0] = ChannelViews();
    channel[1] = ChannelViews();
    for (auto& p : panels)
        p = nullptr;
    for (int i = 0; i < kNumTags; ++i) {
        bars[i] = nullptr;
        displays[i] = nullptr;
        radios[i] = nullptr;
    }
    aboutButton = nullptr;
    splash = nullptr;
}

void fxSkorvalineEditor::idle()
{
    if (inIdle)
        return;  // effEditIdle from inside our own idle work
    if (frame && !closePending) {
        applyRecorded();
        pollDialogs();
    }
    AEffGUIEditor::idle();
    // A close requested inside a loop that this idle ran is carried out once it unwound.
    if (closePending && frame && !frame->inMouseLoop())
        tearDown();
}

// ---- building ----------------------------------------------------------------------------

CBarControl* fxSkorvalineEditor::makeBar(int index, int x, long style)
{
    auto* bar = new CVerticalBarControl(index, this, CRect(x, 25, x + 16, 154), kTeal, kTeal,
                                        kAmber, style);
    bar->setValue(fx->getParameter(index));
    bars[index] = bar;
    return bar;
}

CLabel* fxSkorvalineEditor::makeLabel(const CRect& r, const char* text)
{
    auto* label = new CLabel(r, text);
    label->setFont(kLabelFont);
    label->setFontColor(kAmber);
    label->setBackColor(kTeal);
    return label;
}

CLabel* fxSkorvalineEditor::makeHeading(int x, const char* text)
{
    return makeLabel(CRect(x - 7, 10, x + 23, 22), text);
}

CFormatDisplay* fxSkorvalineEditor::makeDisplay(int index, int x)
{
    auto* display = new CFormatDisplay(CRect(x - 7, 156, x + 23, 168), nullptr, index);
    display->setText("---");
    display->setFont(kLabelFont);
    display->setFontColor(kAmber);
    display->setBackColor(kTeal);
    displays[index] = display;
    return display;
}

void fxSkorvalineEditor::buildChannelPanel(bool left)
{
    const int side = left ? 0 : 1;
    channel[side].panel = new CViewContainer2(kPanelRects[side], frame, kMidGrey, kSky, kLightGrey);
    panels[side] = channel[side].panel;
    // Creation, in the order the window has always been built.
    ChannelHeadings headings{};
    buildFilterColumns(side, headings);
    buildFilterMapArea(side);
    buildMapButtons(side);
    buildDynamicsColumns(side, headings);
    insertChannelViews(side, headings);
    frame->addView(channel[side].panel);
}

void fxSkorvalineEditor::buildFilterColumns(int side, ChannelHeadings& headings)
{
    const ChannelTags& t = kChannelTags[side];
    ChannelViews& c = channel[side];
    // Delay and pre-delay share a column; the roll button above it swaps them.
    makeBar(t.delay, 15, kBarStyle);
    makeBar(t.preDelay, 15, kBarStyle);
    c.delayRoll = new CLabelRollButton(CRect(8, 10, 38, 22), this, t.delaySwitch, kTeal, kAmber,
                                       kTeal, kSky, "Dly", "Delay");
    c.delayRoll->addEntry("Pre", "Pre-delay");
    makeDisplay(t.delay, 15);
    makeDisplay(t.preDelay, 15);
    makeBar(t.warp, 45, kBarStyle);
    headings.warp = makeHeading(45, "Wrp");
    makeDisplay(t.warp, 45);
    makeBar(t.res, 75, kBarStyle);
    headings.res = makeHeading(75, "Res");
    makeDisplay(t.res, 75);
    makeBar(t.cut, 105, kBarStyle);
    headings.cut = makeHeading(105, "Cut");
    makeDisplay(t.cut, 105);
}

void fxSkorvalineEditor::buildFilterMapArea(int side)
{
    const ChannelTags& t = kChannelTags[side];
    ChannelViews& c = channel[side];
    const bool left = side == 0;
    auto* store = new CBitmapExArray();
    c.map = new CBitmapControl(CRect(135, 25, 352, 154), this, t.map, store, kTeal, kSky, kAmber);
    store->release();
    refreshFilterMap("", t.map, true);
    applyMapParameter(t.map);  // start, stop and vertical offset
    // A file manager's drop loads the picture the way the load button's dialog does.
    const int mapChannel = t.map;
    c.map->setFileDropLoader(
        [this, mapChannel](const std::string& path) {
            fx->loadFilterMap(path.c_str(), mapChannel, true);
        },
        kMaxPathChars);
    // The labels that stand in for the map while it is analysed or slaved.
    c.analysingLabel = makeLabel(CRect(134, 24, 352, 154), t.analysingText);
    if (!left)
        c.slaveLabel = makeLabel(CRect(134, 24, 352, 154), "Right channel filter in slave mode");
    c.tabRadio =
        new CLabelRadioButton(left ? CRect(133, 10, 281, 22) : CRect(133, 10, 354, 22), this, t.tab,
                              kTeal, kAmber, kTeal, kSky, "Filter Map", nullptr, 4);
    c.tabRadio->addEntry("LP Analysis");
    if (!left)
        c.tabRadio->addEntry("Slave");
    c.tabRadio->setValue(fx->getParameter(t.tab));
    radios[t.tab] = c.tabRadio;
}

void fxSkorvalineEditor::buildMapButtons(int side)
{
    const ChannelTags& t = kChannelTags[side];
    ChannelViews& c = channel[side];
    // The small buttons stand in one column, each below the previous one's bottom.
    auto* face = new CBitmap(kMenuFacePicture);
    int top = 25;
    c.menu = new COptionMenu(CRect(352, top, 352 + face->getWidth(), top + face->getHeight()), this,
                             t.menu, face, kNoTextStyle);
    top += face->getHeight() + 1;
    face->release();
    buildMapMenu(side);

    // The load button's picture holds its two states one above the other, the mode
    // button's its three.
    auto* loadPicture = new CBitmap(kLoadButtonPicture);
    const int loadHeight = loadPicture->getHeight() / 2;
    c.loadButton = new CKickButton(CRect(352, top, 352 + loadPicture->getWidth(), top + loadHeight),
                                   this, t.load, loadPicture, loadHeight);
    top += loadHeight + 1;
    loadPicture->release();
    auto* modePicture = new CBitmap(kModeButtonPicture);
    const int modeHeight = modePicture->getHeight() / 3;
    c.modeButton =
        new CMultiStateButton(CRect(352, top, 352 + modePicture->getWidth(), top + modeHeight),
                              this, t.mode, modePicture, 3);
    modePicture->release();
    c.modeButton->setValue(fx->getParameter(t.mode));
}

void fxSkorvalineEditor::buildMapMenu(int side)
{
    const ChannelTags& t = kChannelTags[side];
    ChannelViews& c = channel[side];
    c.loadMenu = new COptionMenu(CRect(), this, t.loadMenu);
    c.loadMenu->addEntry("1 - Fractal Mayhem (v1)");
    c.loadMenu->addEntry("2 - Digital Interference (v1.2)");
    c.loadMenu->addEntry("3 - Title Screen (v1.2)");
    c.generateMenu = new COptionMenu(CRect(), this, t.generateMenu);
    c.generateMenu->addEntry("Random");
    c.generateMenu->addEntry("Mandelbrot 1");
    c.generateMenu->addEntry("Mandelbrot 2");
    c.processMenu = new COptionMenu(CRect(), this, t.processMenu);
    for (const char* item : {"Rotate Clockwise", "Flip Horizontal", "Flip Vertical",
                             "Normalize (columns)", "Normalize (all)", "Differences",
                             "Differences (absolute)", "Invert", "-", "Convert to 24-bit BMP"})
        c.processMenu->addEntry(item);
    // The main menu keeps the sub-menus; the editor keeps only pointers.
    c.menu->addEntry(c.loadMenu, "Load Preset BMP");
    c.menu->addEntry(c.generateMenu, "Generate");
    c.menu->addEntry(c.processMenu, "Process");
    c.menu->addEntry("Export to .bmp");
    c.loadMenu->release();
    c.generateMenu->release();
    c.processMenu->release();
}

void fxSkorvalineEditor::buildDynamicsColumns(int side, ChannelHeadings& headings)
{
    const ChannelTags& t = kChannelTags[side];
    ChannelViews& c = channel[side];
    makeBar(t.sat, 374, kBarStyle);
    headings.sat = makeHeading(374, "Sat");
    makeDisplay(t.sat, 374);
    makeBar(t.thr, 404, kBarStyle);
    headings.thr = makeHeading(404, "Thr");
    makeDisplay(t.thr, 404);
    makeBar(t.ratio, 434, kBarStyle);
    headings.ratio = makeHeading(434, "Ratio");
    makeDisplay(t.ratio, 434);
    // Attack and release share a column, as delay and pre-delay do.
    makeBar(t.attack, 464, kBarStyle);
    makeBar(t.release, 464, kBarStyle);
    c.compRoll = new CLabelRollButton(CRect(457, 10, 487, 22), this, t.compSwitch, kTeal, kAmber,
                                      kTeal, kSky, "Att", "Attack");
    c.compRoll->addEntry("Rel", "Release");
    makeDisplay(t.attack, 464);
    makeDisplay(t.release, 464);
    makeBar(t.fbSame, 494, kBipolarStyle);
    headings.fbSame = makeHeading(494, t.fbSameName);
    makeDisplay(t.fbSame, 494);
    makeBar(t.fbCross, 524, kBipolarStyle);
    headings.fbCross = makeHeading(524, t.fbCrossName);
    makeDisplay(t.fbCross, 524);
}

void fxSkorvalineEditor::insertChannelViews(int side, const ChannelHeadings& h)
{
    // Insertion: drawing and hit order. The switches add the rest (pre-delay, release, the
    // filter-map area's views).
    const ChannelTags& t = kChannelTags[side];
    ChannelViews& c = channel[side];
    CViewContainer2* p = c.panel;
    const auto add = [p](std::initializer_list<CView*> views) {
        for (CView* v : views)
            p->addView(v);
    };
    add({bars[t.delay], c.delayRoll, displays[t.delay], bars[t.res], h.res, bars[t.cut], h.cut,
         bars[t.warp], h.warp, bars[t.sat], h.sat, bars[t.fbSame], h.fbSame, bars[t.fbCross],
         h.fbCross});
    if (side == 0)
        p->addView(c.tabRadio);
    add({displays[t.warp], displays[t.res], displays[t.cut], bars[t.thr], h.thr, displays[t.thr],
         bars[t.ratio], h.ratio, displays[t.ratio], c.compRoll, displays[t.sat], displays[t.fbSame],
         displays[t.fbCross]});
    if (side == 1)
        p->addView(c.tabRadio);
}

void fxSkorvalineEditor::buildGlobalPanel()
{
    auto* p = new CViewContainer2(kPanelRects[2], frame, kMidGrey, kSky, kLightGrey);
    panels[2] = p;
    struct Column {
        int index, x;
        const char* heading;
    };
    const Column columns[] = {{50, 15, "Fade"}, {40, 45, "Ord"},  {41, 75, "Step"},
                              {42, 105, "Tc"},  {43, 135, "Mix"}, {44, 165, "Out"}};
    for (const Column& col : columns) {
        p->addView(makeBar(col.index, col.x, kBarStyle));
        p->addView(makeHeading(col.x, col.heading));
        p->addView(makeDisplay(col.index, col.x));
    }
    auto radio = [this, p](int tag, const CRect& r, std::initializer_list<const char*> entries) {
        auto it = entries.begin();
        auto* b = new CLabelRadioButton(r, this, tag, kTeal, kAmber, kTeal, kSky, *it, nullptr, 0);
        for (++it; it != entries.end(); ++it)
            b->addEntry(*it);
        b->setValue(fx->getParameter(tag));
        radios[tag] = b;
        p->addView(b);
    };
    p->addView(makeLabel(CRect(8, 185, 102, 197), "Oversampling"));
    radio(49, CRect(103, 185, 187, 197), {"--", "2x"});
    p->addView(makeLabel(CRect(8, 199, 102, 211), "Sync Delay"));
    radio(47, CRect(103, 199, 187, 211), {"--", "16", "8", "4", "2", "1"});
    p->addView(makeLabel(CRect(8, 213, 102, 225), "Sync Filter"));
    radio(48, CRect(103, 213, 187, 225), {"--", "16", "8", "4", "2", "1"});
    p->addView(makeLabel(CRect(8, 227, 102, 239), "Direction"));
    p->addView(makeLabel(CRect(103, 227, 117, 239), "L"));
    radio(4, CRect(117, 227, 145, 239), {">", "<"});
    p->addView(makeLabel(CRect(145, 227, 159, 239), "R"));
    radio(5, CRect(159, 227, 187, 239), {">", "<"});
    frame->addView(p);
}

// The effect writes the display text straight into the control's buffer: the text is the
// effect's (units, tempo-synced names), the editor only shows it.
void fxSkorvalineEditor::refreshDisplay(int index)
{
    if (CFormatDisplay* d = displays[index]) {
        fx->getParameterDisplay(index, d->getTextBuffer());
        d->setDirty(true);
    }
}

CControl* fxSkorvalineEditor::getControl(int tag) const
{
    if (tag < 0 || tag > kLastTag)
        return nullptr;
    if (tag < kNumTags && bars[tag])
        return bars[tag];
    if (tag < kNumTags && radios[tag])
        return radios[tag];
    for (const ChannelViews& c : channel) {
        CControl* all[] = {c.delayRoll,    c.compRoll,    c.map,        c.menu,      c.loadMenu,
                           c.generateMenu, c.processMenu, c.loadButton, c.modeButton};
        for (CControl* v : all)
            if (v && v->getTag() == tag)
                return v;
    }
    if (tag == kTagAbout)
        return aboutButton;
    return nullptr;
}

// ---- view switches -----------------------------------------------------------------------

void fxSkorvalineEditor::attach(CViewContainer2* panel, CView* view)
{
    if (panel && view && !panel->containsView(view)) {
        view->retain();  // the panel takes its own reference; the editor keeps one
        panel->addView(view);
        view->release();
    }
}

void fxSkorvalineEditor::detach(CViewContainer2* panel, CView* view)
{
    if (panel && view && panel->containsView(view)) {
        // The panel's reference passes to the editor: removeView without forgetting.
        panel->removeView(view, false);
    }
}

// The filter-map area shows either the map with its buttons or one label standing in for
// them: the left tab has two states (map, analysis), the right three (map, analysis, slave).
// Views taken out stay alive in the editor (detach) and come back unchanged.
void fxSkorvalineEditor::showFilterTab(long tag, float value)
{
    if (tag != 38 && tag != 39)
        return;
    ChannelViews& c = channel[tag == 38 ? 0 : 1];
    if (!c.panel)
        return;
    CView* area[] = {c.map, c.menu, c.loadButton, c.modeButton, c.analysingLabel, c.slaveLabel};
    for (CView* v : area)
        detach(c.panel, v);
    if (tag == 38) {
        leftTabState = 2.f * value;
        if (leftTabState > 1.f) {
            attach(c.panel, c.analysingLabel);
            return;
        }
    }
    else {
        rightTabState = 3.f * value;
        if (rightTabState >= 2.f) {
            attach(c.panel, c.slaveLabel);
            return;
        }
        if (rightTabState >= 1.f) {
            attach(c.panel, c.analysingLabel);
            return;
        }
    }
    attach(c.panel, c.map);
    attach(c.panel, c.menu);
    attach(c.panel, c.loadButton);
    attach(c.panel, c.modeButton);
}

// Delay and pre-delay share one column; the roll button's value picks the pair of bar and
// display shown (showCompressorControl does the same for attack and release).
void fxSkorvalineEditor::showDelayControl(long tag, float value)
{
    if (tag != kTagDelaySwitchL && tag != kTagDelaySwitchR)
        return;
    const int side = tag == kTagDelaySwitchL ? 0 : 1;
    const ChannelTags& t = kChannelTags[side];
    CViewContainer2* p = channel[side].panel;
    for (int i : {t.delay, t.preDelay}) {
        detach(p, bars[i]);
        detach(p, displays[i]);
    }
    const int shown = value == 0.f ? t.delay : t.preDelay;
    attach(p, bars[shown]);
    attach(p, displays[shown]);
}

void fxSkorvalineEditor::showCompressorControl(long tag, float value)
{
    if (tag != kTagCompSwitchL && tag != kTagCompSwitchR)
        return;
    const int side = tag == kTagCompSwitchL ? 0 : 1;
    const ChannelTags& t = kChannelTags[side];
    CViewContainer2* p = channel[side].panel;
    for (int i : {t.attack, t.release}) {
        detach(p, bars[i]);
        detach(p, displays[i]);
    }
    const int shown = value == 0.f ? t.attack : t.release;
    attach(p, bars[shown]);
    attach(p, displays[shown]);
}

// ---- parameters to controls --------------------------------------------------------------

void fxSkorvalineEditor::setParameter(VstInt32 index, float value)
{
    // Any thread, the audio thread included: atomics only, no views, no locks, no heap.
    if (windowOpen.load(std::memory_order_acquire) && index >= 0 && index < kNumTags) {
        if (index == kTagCompSwitchL || index == kTagCompSwitchR)
            recordedCompressor[index - kTagCompSwitchL].store(value, std::memory_order_relaxed);
        recorded.fetch_or(std::uint64_t(1) << index, std::memory_order_release);
    }
    postUpdate();
}

// The holder may be in the middle of a change on the caller's thread; the editor takes the
// new picture at idle, on its own thread, through the holder's copy.
void fxSkorvalineEditor::refreshFilterMap(const char*, int channelTag, bool force)
{
    if (force) {
        showFilterMapOf(channelTag);
        return;
    }
    if (windowOpen.load(std::memory_order_acquire)) {
        mapRefresh.fetch_or(channelTag == kLeftMap ? 1u : 2u, std::memory_order_release);
        postUpdate();
    }
}

void fxSkorvalineEditor::showFilterMapOf(int channelTag)
{
    std::shared_ptr<kfx::CBitmapArrayAnalyser> holder;
    fx->getFilterMap(holder, channelTag);
    if (CBitmapControl* map = channel[channelTag == kLeftMap ? 0 : 1].map) {
        map->setFilterMap(holder);
        map->setDirty(true);
    }
}

void fxSkorvalineEditor::applyRecorded()
{
    // exchange takes the records and clears them in one step: a record made while idle applies
    // them is kept for the next idle instead of being lost.
    const unsigned maps = mapRefresh.exchange(0, std::memory_order_acquire);
    if (maps & 1u)
        showFilterMapOf(kLeftMap);
    if (maps & 2u)
        showFilterMapOf(kRightMap);
    std::uint64_t mask = recorded.exchange(0, std::memory_order_acquire);
    for (int i = 0; mask; ++i, mask >>= 1)
        if (mask & 1u)
            applyParameter(i);
}

// The filter-map parameters of a channel: a new picture choice (26, right 31) shows start,
// stop and vertical offset anew; 27-29 (32-34) are those three one by one; 30 (35) is the
// scan position.
void fxSkorvalineEditor::applyMapParameter(int index)
{
    const int base = index < kRightMap ? kLeftMap : kRightMap;
    CBitmapControl* map = channel[base == kLeftMap ? 0 : 1].map;
    if (!map)
        return;
    switch (index - base) {
    case 0:
        map->setStart(fx->getParameter(index + 1));
        map->setStop(fx->getParameter(index + 2));
        map->setVerticalOffset(fx->getParameter(index + 3));
        break;
    case 1:
        map->setStart(fx->getParameter(index));
        break;
    case 2:
        map->setStop(fx->getParameter(index));
        break;
    case 3:
        map->setVerticalOffset(fx->getParameter(index));
        break;
    default:
        map->setScanPosition(fx->getParameter(index));
        map->setDirty(true);
        break;
    }
}

// Displays whose text follows a switch: Sync Delay (47) changes how the delay times read,
// Sync Scan (48) how the step time reads.
void fxSkorvalineEditor::refreshDependentDisplays(int index)
{
    if (index == 47) {
        refreshDisplay(2);
        refreshDisplay(3);
    }
    else if (index == 48) {
        refreshDisplay(41);
    }
}

void fxSkorvalineEditor::applyParameter(int index)
{
    auto show = [this](CControl* c, int p) {
        if (c)
            c->setValue(fx->getParameter(p));
    };
    if (isBarParameter(index) && index != 40) {
        if (bars[index]) {
            show(bars[index], index);
            refreshDisplay(index);
        }
        return;
    }
    switch (index) {
    case 4:
    case 5:
        show(radios[index], index);
        break;
    case kLeftMap:
    case 27:
    case 28:
    case 29:
    case 30:
    case kRightMap:
    case 32:
    case 33:
    case 34:
    case 35:
        applyMapParameter(index);
        break;
    case 36:
    case 37: {
        const ChannelViews& c = channel[index == 36 ? 0 : 1];
        show(c.modeButton, index);
        if (c.map)
            c.map->setAnalysisMode(fx->getParameter(index));
        break;
    }
    case 38:
    case 39:
        show(radios[index], index);
        showFilterTab(index, fx->getParameter(index));
        break;
    case 40: {
        const int order = roundToInt(79.f * fx->getParameter(40) + 1.f);
        for (ChannelViews& c : channel)
            if (c.map)
                c.map->setFilterOrder(order);
        show(bars[40], 40);
        refreshDisplay(40);
        break;
    }
    case 47:
    case 48:
    case 49:
        show(radios[index], index);
        if (radios[index])
            radios[index]->setDirty(true);
        refreshDependentDisplays(index);
        break;
    case kTagDelaySwitchL:
    case kTagDelaySwitchR: {
        const ChannelViews& c = channel[index - kTagDelaySwitchL];
        show(c.delayRoll, index);
        showDelayControl(index, fx->getParameter(index));
        break;
    }
    case kTagCompSwitchL:
    case kTagCompSwitchR: {
        const int side = index - kTagCompSwitchL;
        compressorState[side] = recordedCompressor[side].load(std::memory_order_relaxed);
        showCompressorControl(index, compressorState[side]);
        break;
    }
    default:
        break;  // 45, 46, 51-53 and the rest: nothing to show
    }
}

// ---- controls to parameters --------------------------------------------------------------

// The map control reports one value per gesture (start, stop or vertical offset), named by
// its last report.
void fxSkorvalineEditor::reportMapChange(CBitmapControl* map, long tag)
{
    const long report = map->getLastReport();
    if (report == tag + 1)
        fx->setParameter(VstInt32(report), map->getStart());
    else if (report == tag + 2)
        fx->setParameter(VstInt32(report), map->getStop());
    else if (report == tag + 3)
        fx->setParameterAutomated(VstInt32(report), map->getVerticalOffset());
}

// A choice in a channel's filter-map menu: the main menu's own item is the export, the
// load menu names a built-in picture, the others run an operation on the picture.
void fxSkorvalineEditor::onMenuChoice(long tag, float v)
{
    if (tag == kTagMenuL || tag == kTagMenuR) {
        if (isOpen())
            startDialog(tag == kTagMenuL ? kSlotExportLeft : kSlotExportRight, tag);
    }
    else if (tag == kTagLoadMenuL || tag == kTagLoadMenuR) {
        char reference[8];
        std::snprintf(reference, sizeof reference, "#%d", roundToInt(v));
        fx->loadFilterMap(reference, tag == kTagLoadMenuL ? kLeftMap : kRightMap, true);
    }
    else {
        runMenuOperation(tag, v);
    }
}

void fxSkorvalineEditor::valueChanged(CDrawContext* context, CControl* control)
{
    if (!control)
        return;
    const long tag = control->getTag();
    const float v = control->getValue();
    if (tag < 0 || tag > kLastTag)
        return;
    auto update = [context, control]() { control->redrawIfDirty(context); };
    if ((tag >= 0 && tag <= 25) || tag == 30 || tag == 35 || (tag >= 40 && tag <= 44) ||
        tag == 50) {
        if (tag == 40) {
            refreshDisplay(2);
            refreshDisplay(3);
        }
        fx->setParameterAutomated(VstInt32(tag), v);
        update();
        return;
    }
    switch (tag) {
    case kLeftMap:
    case kRightMap:
        reportMapChange(static_cast<CBitmapControl*>(control), tag);
        update();
        break;
    case 36:
    case 37:
    case 47:
    case 48:
    case 49:
        fx->setParameter(VstInt32(tag), v);
        update();
        break;
    case 38:
    case 39:
        fx->setParameter(VstInt32(tag), v);
        update();
        showFilterTab(tag, v);
        break;
    case kLoadLeft:
    case kLoadRight:
        openFilterMapFile(tag);
        fx->setParameter(VstInt32(tag), v);
        break;
    case kTagDelaySwitchL:
    case kTagDelaySwitchR:
        fx->setParameter(VstInt32(tag), v);
        update();
        showDelayControl(tag, v);
        break;
    case kTagCompSwitchL:
    case kTagCompSwitchR:
        fx->setParameter(VstInt32(tag), v);
        update();
        compressorState[tag - kTagCompSwitchL] = v;
        showCompressorControl(tag, v);
        break;
    case kTagMenuL:
    case kTagMenuR:
    case kTagLoadMenuL:
    case kTagLoadMenuR:
    case kTagProcessMenuL:
    case kTagProcessMenuR:
    case kTagGenerateMenuL:
    case kTagGenerateMenuR:
        onMenuChoice(tag, v);
        break;
    default:
        break;  // 27-29, 32-34, 51-53, 58
    }
}

void fxSkorvalineEditor::runMenuOperation(long tag, float value)
{
    const bool left = tag == kTagProcessMenuL || tag == kTagGenerateMenuL;
    const bool process = tag == kTagProcessMenuL || tag == kTagProcessMenuR;
    const int channelTag = left ? kLeftMap : kRightMap;
    const int n = roundToInt(value);
    std::shared_ptr<kfx::CBitmapArrayAnalyser> holder;
    fx->getFilterMap(holder, channelTag);
    if (holder) {
        if (process) {
            switch (n) {
            case 0:
                holder->rotateClockwise(1);
                break;
            case 1:
                holder->flip(false);
                break;
            case 2:
                holder->flip(true);
                break;
            case 3:
                holder->normalize(true);
                break;
            case 4:
                holder->normalize(false);
                break;
            case 5:
                holder->differences(false);
                break;
            case 6:
                holder->differences(true);
                break;
            case 7:
                holder->invert();
                break;
            case 9:
                holder->convertTo24Bit();
                break;
            default:
                break;  // the separator
            }
        }
        else {
            switch (n) {
            case 0:
                holder->generateRandom(1.0);
                break;
            case 1:
                holder->generateMandelbrot(0.0);
                break;
            case 2:
                holder->generateMandelbrot(0.1);
                break;
            default:
                break;
            }
        }
    }
    showFilterMapOf(channelTag);
    fx->storeFilterMapImage(channelTag);
}

void fxSkorvalineEditor::beginParameterEdit(long index)
{
    beginEdit(index);
}

void fxSkorvalineEditor::endParameterEdit(long index)
{
    endEdit(index);
}

// ---- file dialogs ------------------------------------------------------------------------

long long fxSkorvalineEditor::nowSeconds() const
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool fxSkorvalineEditor::openFilterMapFile(long tag)
{
    const DialogSlot slot = tag == kLoadLeft ? kSlotLoadLeft : kSlotLoadRight;
    if (!isOpen() || dialogs[slot].picker)
        return false;  // the press started it; this is the release (or a click meanwhile)
    // The click that dismissed a dialog may land on the button too; a dialog that ended
    // within the last second does not open again at once.
    const long long now = nowSeconds();
    if (tag == lastFileTag && now - lastFileTime <= 1)
        return false;
    startDialog(slot, tag);
    return false;
}

// Dialogs run beside the host's loop (a child process); their answers are collected by
// pollDialogs at idle. Each slot holds at most one dialog.
void fxSkorvalineEditor::startDialog(DialogSlot slot, long tag)
{
    if (!frame || !isOpen() || dialogs[slot].picker)
        return;
    std::unique_ptr<IFilePicker> picker = makeFilePicker();
    const bool load = slot == kSlotLoadLeft || slot == kSlotLoadRight;
    const char* title =
        load ? kChannelTags[slot == kSlotLoadLeft ? 0 : 1].openTitle : "Export BMP file";
    if (!picker ||
        !picker->start(load ? IFilePicker::Kind::Open : IFilePicker::Kind::Save, title,
                       reinterpret_cast<unsigned long>(systemWindow), frame->getDisplay())) {
        if (load) {
            lastFileTime = nowSeconds();
            lastFileTag = tag;
        }
        return;
    }
    dialogs[slot].picker = std::move(picker);
    dialogs[slot].tag = tag;
}

void fxSkorvalineEditor::pollDialogs()
{
    // An error box needs no answer; it is dropped (and its process reaped) once it ended.
    if (errorPicker) {
        const IFilePicker::State state = errorPicker->poll();
        if (state != IFilePicker::State::Running)
            errorPicker.reset();
    }
    for (int s = 0; s < kNumDialogSlots; ++s) {
        if (!dialogs[s].picker)
            continue;
        const IFilePicker::State state = dialogs[s].picker->poll();
        if (state != IFilePicker::State::Running && state != IFilePicker::State::Idle)
            finishDialog(DialogSlot(s), state);
    }
}

void fxSkorvalineEditor::finishDialog(DialogSlot slot, IFilePicker::State state)
{
    std::unique_ptr<IFilePicker> picker = std::move(dialogs[slot].picker);
    const long tag = dialogs[slot].tag;
    dialogs[slot].tag = -1;
    std::string path = state == IFilePicker::State::Accepted ? picker->result() : std::string();
    // An empty answer or one too long for the file name buffer counts as cancel.
    if (path.size() > kMaxPathChars)
        path.clear();
    if (slot == kSlotLoadLeft || slot == kSlotLoadRight) {
        if (!path.empty())
            fx->loadFilterMap(path.c_str(), tag == kLoadLeft ? kLeftMap : kRightMap, true);
        // The guard counts from the end of the dialog.
        lastFileTime = nowSeconds();
        lastFileTag = tag;
        return;
    }
    if (!path.empty()) {
        exportFilterMap(slot == kSlotExportLeft ? kLeftMap : kRightMap, path);
        if (!exportError.empty() && frame) {
            picker->showError(exportError, reinterpret_cast<unsigned long>(systemWindow),
                              frame->getDisplay());
            errorPicker = std::move(picker);
        }
    }
}

void fxSkorvalineEditor::exportFilterMap(int channelTag, const std::string& path)
{
    exportError.clear();
    std::shared_ptr<kfx::CBitmapArrayAnalyser> holder;
    fx->getFilterMap(holder, channelTag);
    if (!holder || !holder->isValid()) {
        exportError = "There is no filter map to export.";
        return;
    }
    // Written beside the target and renamed over it only when complete, so a failed write
    // never destroys a file that was there.
    const std::string temporary = path + ".part";
    holder->saveToFile(temporary);
    bool complete = false;
    {
        std::ifstream in(temporary, std::ios::binary | std::ios::ate);
        const std::streamoff size = in ? std::streamoff(in.tellg()) : -1;
        // Complete means the size the file header declares is the size on disk: a full disk
        // leaves a shorter file.
        unsigned char head[6] = {};
        if (size >= 54) {
            in.seekg(0);
            in.read(reinterpret_cast<char*>(head), 6);
            const std::streamoff declared = std::streamoff(kfx::getU32(head + 2));
            complete = in && head[0] == 'B' && head[1] == 'M' && declared == size;
        }
    }
    if (!complete || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        exportError = "Could not write " + path;
    }
}

void fxSkorvalineEditor::cancelDialogs()
{
    for (PendingDialog& d : dialogs) {
        if (d.picker)
            d.picker->cancel();
        d.picker.reset();
        d.tag = -1;
    }
    if (errorPicker)
        errorPicker->cancel();
    errorPicker.reset();
}

int fxSkorvalineEditor::runningDialogs() const
{
    int n = 0;
    for (const PendingDialog& d : dialogs)
        n += d.picker ? 1 : 0;
    return n;
}
