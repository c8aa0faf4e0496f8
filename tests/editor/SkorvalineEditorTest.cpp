// The editor window with the effect it belongs to, built in: layout after open, the view
// switches, parameter records applied at idle, the filter-map menus and the file dialogs
// (through a scripted picker standing in for the desktop's dialog programs). The window is
// a real child window on a test parent when DISPLAY is set; cases that need no window run
// without one.
#include "editor/controls/BarControl.h"
#include "editor/controls/BitmapControl.h"
#include "editor/controls/Label.h"
#include "editor/controls/LabelButtons.h"
#include "editor/controls/PictureButtons.h"
#include "editor/controls/ViewContainer2.h"
#include "editor/toolkit/Bitmap.h"
#include "editor/toolkit/DrawContext.h"
#include "editor/toolkit/Frame.h"
#include "editor/toolkit/KickButton.h"
#include "editor/toolkit/OptionMenu.h"
#include "editor/window/SkorvalineEditor.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "plugin/SkorvalineEdit.h"

// gtest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "tests/editor/EditorFixture.h"

#include <X11/Xlib.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace VSTGUI;
namespace fs = std::filesystem;

namespace {

using skvtest::callsOf;
using skvtest::countIn;
using SkorvalineEditorTest = skvtest::CEditorFixture;

TEST_F(SkorvalineEditorTest, OpenShowsThreePanelsDelayAndAttack)
{
    ASSERT_TRUE(open());
    EXPECT_EQ(editor->getFrame()->getNbViews(), 5);  // three panels, about button, splash
    EXPECT_TRUE(panel(0)->containsView(editor->getBar(2)));
    EXPECT_FALSE(panel(0)->containsView(editor->getBar(0)));
    EXPECT_TRUE(panel(1)->containsView(editor->getBar(22)) &&
                !panel(1)->containsView(editor->getBar(23)));
}

TEST_F(SkorvalineEditorTest, ViewsAndTextsSitWhereTheLayoutPutsThem)
{
    ASSERT_TRUE(open());
    CRect r;
    EXPECT_EQ(editor->getBar(12)->getViewRect(r), CRect(75, 25, 91, 154));
    EXPECT_EQ(editor->getControl(45)->getViewRect(r), CRect(352, 42, 367, 58));
    EXPECT_EQ(editor->getControl(37)->getViewRect(r), CRect(352, 59, 367, 75));
    EXPECT_EQ(std::string(static_cast<CParamDisplay*>(editor->getDisplay(43))->getText()), [&] {
        char text[256] = {};
        fx->getParameterDisplay(43, text);
        return std::string(text);
    }());
}

TEST_F(SkorvalineEditorTest, ReopeningRestoresDelayAndAttackViews)
{
    ASSERT_TRUE(open());
    report(54, 0.5f);  // Pre-delay on the left
    report(57, 0.5f);  // Release on the right
    ASSERT_TRUE(panel(0)->containsView(editor->getBar(0)));
    editor->close();
    ASSERT_TRUE(open());
    EXPECT_TRUE(panel(0)->containsView(editor->getBar(2)));
    EXPECT_FALSE(panel(0)->containsView(editor->getBar(0)));
    EXPECT_TRUE(panel(1)->containsView(editor->getBar(22)));
    EXPECT_EQ(panel(0)->getNbViews(), 35);
}

TEST_F(SkorvalineEditorTest, HiddenViewsAreReleasedExactlyOnceAtClose)
{
    ASSERT_TRUE(open());
    report(54, 0.5f);
    report(56, 0.5f);
    CView* hiddenDelay = editor->getBar(2);
    CView* hiddenAttack = editor->getBar(18);
    hiddenDelay->retain();
    hiddenAttack->retain();
    editor->close();
    // Only the test's own reference is left: the editor dropped its one.
    EXPECT_EQ(hiddenDelay->referenceCount(), 1);
    EXPECT_EQ(hiddenAttack->referenceCount(), 1);
    hiddenDelay->release();
    hiddenAttack->release();
}

TEST_F(SkorvalineEditorTest, SlaveTabShowsOnlyItsLabelAndBackRestoresTheMapViewsOnce)
{
    ASSERT_TRUE(open());
    CBitmapControl* map = editor->getFilterMapControl(false);
    report(39, 0.9f);
    EXPECT_FALSE(panel(1)->containsView(map));
    EXPECT_EQ(panel(1)->getNbViews(), 32);  // the slave label instead of the four map views
    report(39, 0.1f);
    EXPECT_EQ(countIn(panel(1), map), 1);
    EXPECT_EQ(countIn(panel(1), editor->getControl(60)) +
                  countIn(panel(1), editor->getControl(45)) +
                  countIn(panel(1), editor->getControl(37)),
              3);
}

TEST_F(SkorvalineEditorTest, ParameterChangesReachControlsOnlyAtIdle)
{
    ASSERT_TRUE(open());
    fx->setParameter(43, 0.25f);
    EXPECT_NE(editor->getBar(43)->getValue(), 0.25f);
    editor->idle();
    EXPECT_EQ(editor->getBar(43)->getValue(), 0.25f);
    fx->setParameter(55, 0.5f);  // the right Delay/Pre-delay switch, from outside
    editor->idle();
    EXPECT_TRUE(panel(1)->containsView(editor->getBar(1)));
}

TEST_F(SkorvalineEditorTest, FilterOrderChangesBothDisplaysRows)
{
    ASSERT_TRUE(open());
    fx->setParameter(40, 1.0f);
    editor->idle();
    EXPECT_EQ(editor->getFilterMapControl(true)->getFilterOrder(), 80);
    EXPECT_EQ(editor->getFilterMapControl(false)->getFilterOrder(), 80);
    fx->setParameter(40, 0.0f);
    editor->idle();
    EXPECT_EQ(editor->getFilterMapControl(false)->getFilterOrder(), 1);
}

TEST_F(SkorvalineEditorTest, LoopStartChangesTheParameterWithoutAutomation)
{
    ASSERT_TRUE(open());
    CBitmapControl* map = editor->getFilterMapControl(true);
    const std::size_t automatedBefore = callsOf(audioMasterAutomate);
    CPoint where(map->getViewSize().left + 30, map->getViewSize().top + 40);
    map->onMouseDown(nullptr, where, kLButton | kShift);
    EXPECT_EQ(map->getLastReport(), 27);
    EXPECT_FLOAT_EQ(fx->getParameter(27), map->getStart());
    EXPECT_EQ(callsOf(audioMasterAutomate), automatedBefore);
}

TEST_F(SkorvalineEditorTest, LoadButtonOpensOneDialogPerClickThenTheGuardHolds)
{
    ASSERT_TRUE(open());
    report(46, 1.f);  // press
    report(46, 0.f);  // release of the same click
    ASSERT_EQ(dialogs.started.size(), 1u);
    EXPECT_EQ(dialogs.started[0].title, "Open 24-bit BMP File for Left Channel");
    dialogs.path = std::string(SKV_TESTDATA_DIR) + "/bmp/big_rgb24_560x281_imagemagick_bmp3.bmp";
    dialogs.answer = IFilePicker::State::Accepted;
    editor->idle();
    EXPECT_EQ(editor->getFilterMapControl(true)->getImageWidth(), 560);
    report(46, 1.f);  // within a second of the dialog's end: ignored
    report(45, 1.f);  // the other channel's button still opens
    ASSERT_EQ(dialogs.started.size(), 2u);
    EXPECT_EQ(dialogs.started[1].title, "Open 24-bit BMP File for Right Channel");
}

TEST_F(SkorvalineEditorTest, CancelAndOverlongPathsChangeNothing)
{
    ASSERT_TRUE(open());
    char before[2][300] = {};
    fx->getFilterMapPath(before[0], 26);
    fx->getFilterMapPath(before[1], 31);
    report(45, 1.f);
    dialogs.answer = IFilePicker::State::Cancelled;
    editor->idle();
    EXPECT_EQ(editor->runningDialogs(), 0);
    report(46, 1.f);
    dialogs.answer = IFilePicker::State::Accepted;
    dialogs.path = "/" + std::string(259, 'a');  // 260 characters
    editor->idle();
    char after[2][300] = {};
    fx->getFilterMapPath(after[0], 26);
    fx->getFilterMapPath(after[1], 31);
    EXPECT_EQ(dialogs.started.size(), 2u);
    EXPECT_STREQ(before[0], after[0]);
    EXPECT_STREQ(before[1], after[1]);
}

TEST_F(SkorvalineEditorTest, ExportWritesTheMapOfTheMenusChannel)
{
    ASSERT_TRUE(open());
    fx->loadFilterMap((std::string(SKV_TESTDATA_DIR) + "/bmp/grey8_w16_h16_pillow.bmp").c_str(), 31,
                      true);
    dialogs.answer = IFilePicker::State::Accepted;
    for (int tag : {59, 60}) {
        dialogs.path = (scratch.path() / (std::to_string(tag) + ".bmp")).string();
        report(tag, 3.f);
        editor->idle();
    }
    std::shared_ptr<kfx::CBitmapArrayAnalyser> left, right;
    fx->getFilterMap(left, 26);
    kfx::CBitmapArrayAnalyser readLeft("check"), readRight("check");
    readLeft.loadFromFile((scratch.path() / "59.bmp").string());
    readRight.loadFromFile((scratch.path() / "60.bmp").string());
    EXPECT_EQ(dialogs.started[0].title, "Export BMP file");
    EXPECT_EQ(readLeft.getWidth(), left->getWidth());
    EXPECT_EQ(readRight.getWidth(), 16);
}

TEST_F(SkorvalineEditorTest, FailedExportKeepsTheOldFileAndTellsTheUser)
{
    ASSERT_TRUE(open());
    const fs::path target = scratch.path() / "kept.bmp";
    std::ofstream(target) << "old";
    fs::create_directory(scratch.path() / "kept.bmp.part");  // the temporary cannot be made
    dialogs.answer = IFilePicker::State::Accepted;
    dialogs.path = target.string();
    report(59, 3.f);
    editor->idle();
    EXPECT_EQ(fs::file_size(target), 3u);
    EXPECT_EQ(dialogs.errors.size(), 1u);
}

TEST_F(SkorvalineEditorTest, CloseEndsARunningDialog)
{
    ASSERT_TRUE(open());
    report(46, 1.f);
    ASSERT_EQ(editor->runningDialogs(), 1);
    editor->close();
    EXPECT_EQ(dialogs.cancelled, 1);
    EXPECT_EQ(editor->runningDialogs(), 0);
}

TEST_F(SkorvalineEditorTest, ProcessItemStoresTheEditedMapInTheProgram)
{
    ASSERT_TRUE(open());
    report(63, 7.f);  // Invert
    char path[300] = {};
    fx->getFilterMapPath(path, 26);
    EXPECT_STREQ(path, "");
    EXPECT_TRUE(editor->getFilterMapControl(true)->isDirty());
}

TEST_F(SkorvalineEditorTest, OpenWhileOpenClosesTheFirstWindow)
{
    ASSERT_TRUE(open());
    const long pictures = CBitmap::livePlatformPictures();
    ASSERT_TRUE(open());
    EXPECT_EQ(windowsUnderParent(), 1);
    EXPECT_EQ(CBitmap::livePlatformPictures(), pictures);
}

TEST_F(SkorvalineEditorTest, CloseWhileTheSplashScreenShows)
{
    ASSERT_TRUE(open());
    CFrame* frame = editor->getFrame();
    CPoint where(620, 20);  // the splash screen's click area
    frame->onMouseDown(nullptr, where, kLButton);
    ASSERT_NE(frame->getModalView(), nullptr);
    editor->close();
    EXPECT_EQ(editor->getFrame(), nullptr);
    EXPECT_EQ(windowsUnderParent(), 0);
}

TEST_F(SkorvalineEditorTest, OpenWithoutDisplayAnswersFalse)
{
    const std::string saved = std::getenv("DISPLAY");
    ::unsetenv("DISPLAY");
    const bool opened = open();
    ::setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_FALSE(opened);
    EXPECT_EQ(editor->getFrame(), nullptr);
}

TEST_F(SkorvalineEditorTest, FiftyOpenCloseCyclesLeaveNothingBehind)
{
    ASSERT_TRUE(open());
    editor->close();
    const long pictures = CBitmap::livePlatformPictures();
    const auto descriptors = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    const int windows = windowsUnderParent();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(open());
        editor->idle();
        editor->close();
    }
    EXPECT_EQ(CBitmap::livePlatformPictures(), pictures);
    EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), descriptors);
    EXPECT_EQ(windowsUnderParent(), windows);
}

TEST_F(SkorvalineEditorTest, AudioThreadParameterReportsNeverTouchViews)
{
    ASSERT_TRUE(open());
    std::atomic<bool> stop{false};
    // The engine's scan steps and host automation arrive on other threads meanwhile.
    std::thread audio([&] {
        for (int i = 0; !stop.load(); ++i)
            fx->setParameter(i % 2 ? 30 : 43, float(i % 100) / 100.f);
    });
    for (int i = 0; i < 200; ++i)
        editor->idle();
    stop = true;
    audio.join();
    editor->idle();
    EXPECT_FLOAT_EQ(editor->getBar(43)->getValue(), fx->getParameter(43));
}

}  // namespace
