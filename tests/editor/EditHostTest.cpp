// The built plug-in's editor as a host with threads sees it (tests/support/EditHost.h): the
// window opened on a still unmapped top-level, idled from the host's own user-interface
// thread while audio runs and automation arrives on two more threads, a drag through real
// X input, a close from inside audioMasterIdle during a drag, and repeated open/close.
#include <gtest/gtest.h>

#include "support/EditHost.h"
#include "support/ScratchFolder.h"
#include "tests/editor/XTestSession.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <memory>

namespace {

namespace fs = std::filesystem;

// The Mix bar (parameter 43) in plug-in window coordinates: global panel at (575,40), bar
// column x = 135, bar (x, 25, x + 16, 154).
constexpr int kMixLeft = 575 + 135, kMixTop = 40 + 25, kMixBottom = 40 + 154;

class EditHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name)
            GTEST_SKIP() << "DISPLAY is not set";
        lock = std::make_unique<skvtest::CXInputLock>();
        ASSERT_TRUE(lock->held());
        edit = std::make_unique<skvtest::CEditHost>();
        int ev, err, major, minor;
        if (!XTestQueryExtension(edit->display(), &ev, &err, &major, &minor))
            GTEST_SKIP() << "the X server lacks XTest";
        skvtest::releaseAllInput(edit->display());
    }
    void TearDown() override
    {
        if (edit)
            skvtest::releaseAllInput(edit->display());
        edit.reset();
    }
    bool viewable(Window w)
    {
        XWindowAttributes a{};
        return w && XGetWindowAttributes(edit->display(), w, &a) && a.map_state == IsViewable &&
               a.width == 788 && a.height == 390;
    }
    static long descriptors()
    {
        return long(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
    }

    std::unique_ptr<skvtest::CXInputLock> lock;
    std::unique_ptr<skvtest::CEditHost> edit;
};

TEST_F(EditHostTest, OpensOnAnUnmappedTopLevelThatIsMappedLater)
{
    ASSERT_TRUE(edit->openEditor());
    ASSERT_TRUE(edit->waitIdles(3));
    EXPECT_EQ(edit->rectWidth(), 788);
    EXPECT_EQ(edit->rectHeight(), 390);
    EXPECT_TRUE(viewable(edit->pluginWindow()));
}

TEST_F(EditHostTest, ControlsFollowAutomationWhileAudioRuns)
{
    ASSERT_TRUE(edit->openEditor());
    edit->startAudio();
    edit->startAutomation(43);
    ASSERT_TRUE(edit->waitIdles(25));
    edit->stopAutomation();
    edit->host().effect()->setParameter(edit->host().effect(), 43, 1.f);
    ASSERT_TRUE(edit->waitIdles(3));
    XImage* shot = edit->screenshot();
    ASSERT_NE(shot, nullptr);
    // A full bar: bar colour (amber) from the top of the trough to its bottom.
    const unsigned long amber = (228ul << 16) | (189ul << 8) | 31ul;
    EXPECT_EQ(XGetPixel(shot, kMixLeft + 8, kMixTop + 3) & 0xFFFFFF, amber);
    EXPECT_EQ(XGetPixel(shot, kMixLeft + 8, kMixBottom - 4) & 0xFFFFFF, amber);
    XDestroyImage(shot);
}

TEST_F(EditHostTest, BarDragIsAutomatedThroughTheHost)
{
    ASSERT_TRUE(edit->openEditor());
    edit->startAudio();
    ASSERT_TRUE(edit->waitIdles(2));
    edit->moveTo(kMixLeft + 8, (kMixTop + kMixBottom) / 2);
    edit->button(true);
    ASSERT_TRUE(edit->waitIdles(3));
    edit->moveTo(kMixLeft + 8, kMixTop + 2);
    ASSERT_TRUE(edit->waitIdles(3));
    edit->button(false);
    ASSERT_TRUE(edit->waitIdles(3));
    EXPECT_EQ(edit->host().countOf(audioMasterBeginEdit, 43), 1u);
    EXPECT_EQ(edit->host().countOf(audioMasterEndEdit, 43), 1u);
    EXPECT_GT(edit->host().getParameter(43), 0.95f);
}

TEST_F(EditHostTest, CloseFromInsideAudioMasterIdleDuringADrag)
{
    ASSERT_TRUE(edit->openEditor());
    edit->startAudio();
    ASSERT_TRUE(edit->waitIdles(2));
    skvtest::CTestHost& host = edit->host();
    edit->closeInsideIdleWhen([&host] { return host.countOf(audioMasterBeginEdit, 43) > 0; });
    edit->moveTo(kMixLeft + 8, (kMixTop + kMixBottom) / 2);
    edit->button(true);
    ASSERT_TRUE(edit->waitIdles(10));
    edit->button(false);
    ASSERT_TRUE(edit->waitIdles(3));
    EXPECT_TRUE(edit->closedInsideIdle());
    EXPECT_EQ(edit->pluginWindow(), 0u);  // the frame and its window are gone
    EXPECT_EQ(host.countOf(audioMasterEndEdit, 43), 1u);
}

TEST_F(EditHostTest, FiftyOpenCloseCyclesKeepDescriptorsAndWindows)
{
    edit->startAudio();
    edit->startAutomation(30);
    ASSERT_TRUE(edit->openEditor());
    edit->closeEditor();
    const long before = descriptors();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(edit->openEditor());
        ASSERT_NE(edit->pluginWindow(), 0u);
        ASSERT_TRUE(edit->waitIdles(1));
        edit->closeEditor();
    }
    EXPECT_EQ(descriptors(), before);
}

}  // namespace

#if __has_include("editor/window/FileDialog.h")
// With the desktop's dialog programs: a fake zenity first on PATH notes each start in a log
// and answers a BMP file at once.
class EditHostDialogTest : public EditHostTest {
protected:
    void SetUp() override
    {
        EditHostTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        fs::create_directories(scratch.path() / "bin");
        log = scratch.path() / "starts.log";
        const fs::path program = scratch.path() / "bin" / "zenity";
        std::ofstream(program) << "#!/bin/sh\n"
                               << "if [ \"$1\" = --help-all ]; then exit 0; fi\n"
                               << "echo started >> '" << log.string() << "'\n"
                               << "echo '" << SKV_TESTDATA_DIR
                               << "/bmp/grey8_w16_h16_pillow.bmp'\n";
        fs::permissions(program, fs::perms::owner_all);
        const char* path = std::getenv("PATH");
        savedPath = path ? path : "";
        ::setenv("PATH", ((scratch.path() / "bin").string() + ":" + savedPath).c_str(), 1);
    }
    void TearDown() override
    {
        ::setenv("PATH", savedPath.c_str(), 1);
        EditHostTest::TearDown();
    }
    int starts() const
    {
        std::ifstream in(log);
        int n = 0;
        for (std::string line; std::getline(in, line);)
            ++n;
        return n;
    }
    void click(int x, int y)
    {
        edit->moveTo(x, y);
        edit->button(true);
        ASSERT_TRUE(edit->waitIdles(3));
        edit->button(false);
        ASSERT_TRUE(edit->waitIdles(8));  // the dialog answers, idle applies it
    }

    skvtest::CScratchFolder scratch;
    fs::path log;
    std::string savedPath;
};

TEST_F(EditHostDialogTest, OneDialogPerClickAndTheGuardHoldsPerButton)
{
    ASSERT_TRUE(edit->openEditor());
    ASSERT_TRUE(edit->waitIdles(2));
    // Load buttons: (352,42)-(367,58) in the left panel at (10,10), the right one at (10,200).
    click(10 + 359, 10 + 50);
    EXPECT_EQ(starts(), 1);  // press and release of one click
    click(10 + 359, 10 + 50);
    EXPECT_EQ(starts(), 1);  // within a second of that dialog's end
    click(10 + 359, 200 + 50);
    EXPECT_EQ(starts(), 2);  // the other channel's button
}
#endif
