// The editor as an LV2 UI, as a host with X11 UIs shows it: the UI found through lilv,
// lv2ui_descriptor from its binary, instantiated on the plug-in instance (instance access) in
// a parent window of the test's, idled by the test. A drag played through real X input must
// reach the host's parameter port through write_function, and the host writing the values
// back must leave the effect where the user put it; a host change of a port shows in the
// window; the UI closes, reopens, refuses a second one and missing features.
#include "tests/editor/LibraryCaches.h"
#include <gtest/gtest.h>

#include "Lv2TestSupport.h"
#include "tests/editor/XTestSession.h"

#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <X11/extensions/XTest.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using skvtest::CLv2TestHost;

namespace {

constexpr const char* kUiUri = "https://skorvaline.org/plugins/skorvaline#editor";
constexpr int kWidth = 788, kHeight = 390;
// The Mix bar (parameter 43) in window coordinates: global panel at (575,40), bar column
// x = 135, bar (x, 25, x + 16, 154).
constexpr int kMix = 43;
constexpr std::uint32_t kMixPort = skvtest::kLv2FirstParamPort + kMix;
constexpr int kMixLeft = 575 + 135, kMixTop = 40 + 25, kMixBottom = 40 + 154;
constexpr unsigned long kAmber = (228ul << 16) | (189ul << 8) | 31ul;

struct Write {
    std::uint32_t port;
    std::uint32_t size;
    std::uint32_t protocol;
    float value;
};
struct Touch {
    std::uint32_t port;
    bool grabbed;
};

// What a host with one UI keeps: the writes and touches the UI made, the sizes it asked for.
struct UiRecorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Write> writes;
    std::vector<Touch> touches;
    std::vector<std::pair<int, int>> sizes;
    // Run once from inside the first write, as a host closing the UI from its handler would.
    std::function<void()> onFirstWrite;

    static void write(LV2UI_Controller controller, std::uint32_t port, std::uint32_t size,
                      std::uint32_t protocol, const void* buffer)
    {
        auto* self = static_cast<UiRecorder*>(controller);
        float value = 0.0f;
        if (size == sizeof value)
            std::memcpy(&value, buffer, sizeof value);
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->writes.push_back({port, size, protocol, value});
            self->changed.notify_all();
            hook.swap(self->onFirstWrite);
        }
        if (hook)
            hook();
    }
    static void touch(LV2UI_Feature_Handle handle, std::uint32_t port, bool grabbed)
    {
        auto* self = static_cast<UiRecorder*>(handle);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->touches.push_back({port, grabbed});
    }
    static int resize(LV2UI_Feature_Handle handle, int width, int height)
    {
        auto* self = static_cast<UiRecorder*>(handle);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->sizes.emplace_back(width, height);
        return 0;
    }
    std::vector<Write> writesCopy()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return writes;
    }
    // Waits (20 s at most: a stuck UI) until a write satisfies the condition.
    template <typename Condition>
    bool waitForWrite(Condition condition)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] {
            for (const Write& w : writes)
                if (condition(w))
                    return true;
            return false;
        });
    }
};

// Library caches go back after the last test (see LibraryCaches.h); the UI's libraries stay
// loaded (see findUi), so their caches outlive every instance.
const ::testing::Environment* const gLibraryCaches =
    ::testing::AddGlobalTestEnvironment(new skvtest::CLibraryCaches);

class Lv2UiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name)
            GTEST_SKIP() << "DISPLAY is not set";
        // The parent window lies under the pointer that other window tests drive.
        lock = std::make_unique<skvtest::CXInputLock>();
        ASSERT_TRUE(lock->held());
        display = VSTGUI::openDisplay();
        ASSERT_NE(display, nullptr);
        skvtest::releaseAllInput(display);
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        parent =
            XCreateWindow(display, DefaultRootWindow(display), 0, 0, kWidth, kHeight, 0,
                          CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &attrs);
        XMapWindow(display, parent);
        XSync(display, False);

        ASSERT_TRUE(host.instantiate());
        findUi();
        ASSERT_NE(descriptor, nullptr);
        idleInterface = static_cast<const LV2UI_Idle_Interface*>(
            descriptor->extension_data(LV2_UI__idleInterface));
        ASSERT_NE(idleInterface, nullptr);
    }
    void TearDown() override
    {
        for (LV2UI_Handle ui : open)
            descriptor->cleanup(ui);
        open.clear();
        if (library)
            dlclose(library);
        if (display) {
            skvtest::releaseAllInput(display);
            if (parent)
                XDestroyWindow(display, parent);
            XCloseDisplay(display);
        }
    }

    // The UI as hosts find it: declared for the plug-in, its binary loaded with dlopen.
    void findUi()
    {
        LilvUIs* uis = lilv_plugin_get_uis(host.plugin());
        LILV_FOREACH(uis, i, uis)
        {
            const LilvUI* ui = lilv_uis_get(uis, i);
            if (std::strcmp(lilv_node_as_uri(lilv_ui_get_uri(ui)), kUiUri) != 0)
                continue;
            uiBinary = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);
        }
        lilv_uis_free(uis);
        ASSERT_NE(uiBinary, nullptr);
        // RTLD_NODELETE, as the VST 2.x test host loads its copy: the binary now pulls in the
        // drawing libraries, and pixman's process-lifetime tables would look leaked to the leak
        // checker once they were unloaded.
        library = dlopen(uiBinary, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(library, nullptr) << dlerror();
        using Entry = const LV2UI_Descriptor* (*)(std::uint32_t);
        auto entry = reinterpret_cast<Entry>(dlsym(library, "lv2ui_descriptor"));
        ASSERT_NE(entry, nullptr);
        descriptor = entry(0);
        lilv_free(uiBinary);
        uiBinary = nullptr;
    }

    // Instantiates with the features a host gives; leaving out instance access or the parent
    // shows what the UI does without them.
    LV2UI_Handle instantiate(bool instanceAccess = true, bool withParent = true,
                             const char* pluginUri = skvtest::kLv2PluginUri)
    {
        std::vector<const LV2_Feature*> features;
        if (instanceAccess)
            features.push_back(&instanceFeature);
        if (withParent)
            features.push_back(&parentFeature);
        features.push_back(&resizeFeature);
        features.push_back(&touchFeature);
        features.push_back(nullptr);
        instanceFeature.data = lilv_instance_get_handle(host.instance());
        parentFeature.data = reinterpret_cast<void*>(parent);
        widget = nullptr;
        LV2UI_Handle ui =
            descriptor->instantiate(descriptor, pluginUri, SKV_LV2_BUNDLE, &UiRecorder::write,
                                    &recorder, &widget, features.data());
        if (ui)
            open.push_back(ui);
        return ui;
    }
    void cleanup(LV2UI_Handle ui)
    {
        descriptor->cleanup(ui);
        open.erase(std::find(open.begin(), open.end(), ui));
    }
    int idle(LV2UI_Handle ui) { return idleInterface->idle(ui); }

    std::vector<Window> children()
    {
        Window root, par, *list = nullptr;
        unsigned n = 0;
        XQueryTree(display, parent, &root, &par, &list, &n);
        std::vector<Window> result(list, list + n);
        if (list)
            XFree(list);
        return result;
    }
    // One block of silence, after the host has put what its UI wrote into the port.
    void runBlock()
    {
        std::vector<float> in(lv2test::kBlock), outL, outR;
        host.run(in, in, outL, outR, lv2test::kBlock);
    }
    // The effect's value of a parameter, as its saved state has it (program 0 is current).
    float savedValue(int index)
    {
        std::vector<skvtest::Lv2Property> properties;
        EXPECT_EQ(host.save(properties), LV2_STATE_SUCCESS);
        if (properties.empty())
            return -1.0f;
        tinyxml2::XMLDocument xml;
        xml.Parse(properties[0].value.c_str());
        const tinyxml2::XMLElement* preset =
            xml.FirstChildElement("Bank")->FirstChildElement("Preset");
        LilvNode* name = lilv_port_get_name(
            host.plugin(),
            lilv_plugin_get_port_by_index(host.plugin(), skvtest::kLv2FirstParamPort + index));
        std::string wanted = lilv_node_as_string(name);
        lilv_node_free(name);
        for (auto* e = preset->FirstChildElement("param"); e; e = e->NextSiblingElement("param")) {
            std::string id = e->Attribute("id");
            while (!id.empty() && id.back() == ' ')
                id.pop_back();
            if (id == wanted)
                return e->FloatAttribute("value", -1.0f);
        }
        return -1.0f;
    }
    // The user drags the Mix bar from its middle to its top, on a thread of its own with its
    // own connection, while this thread idles the UI as the host's UI thread does. Each step
    // waits for the UI to have passed the previous one on.
    bool dragMixToTop(LV2UI_Handle ui)
    {
        std::atomic<bool> done{false};
        bool followed = false;
        std::thread user([&] {
            Display* d = VSTGUI::openDisplay();
            const int x = kMixLeft + 8;
            XTestFakeMotionEvent(d, DefaultScreen(d), x, (kMixTop + kMixBottom) / 2, CurrentTime);
            XTestFakeButtonEvent(d, 1, True, CurrentTime);
            XSync(d, False);
            const bool pressed = recorder.waitForWrite(
                [](const Write& w) { return w.port == kMixPort && w.value < 0.9f; });
            XTestFakeMotionEvent(d, DefaultScreen(d), x, kMixTop + 2, CurrentTime);
            XSync(d, False);
            const bool moved = pressed && recorder.waitForWrite([](const Write& w) {
                return w.port == kMixPort && w.value > 0.95f;
            });
            XTestFakeButtonEvent(d, 1, False, CurrentTime);
            XSync(d, False);
            XCloseDisplay(d);
            followed = moved;
            done = true;
        });
        while (!done) {
            idle(ui);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        user.join();
        // The release ends the gesture at the next idle.
        for (int i = 0; i < 3; ++i)
            idle(ui);
        return followed;
    }
    bool xtest()
    {
        int ev, err, major, minor;
        return XTestQueryExtension(display, &ev, &err, &major, &minor);
    }
    unsigned long pixelOf(Window w, int x, int y)
    {
        XImage* image = XGetImage(display, w, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return ~0ul;
        const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }

    std::unique_ptr<skvtest::CXInputLock> lock;
    Display* display = nullptr;
    Window parent = 0;
    CLv2TestHost host;
    char* uiBinary = nullptr;
    void* library = nullptr;
    const LV2UI_Descriptor* descriptor = nullptr;
    const LV2UI_Idle_Interface* idleInterface = nullptr;
    UiRecorder recorder;
    LV2UI_Resize resizeData{&recorder, &UiRecorder::resize};
    LV2UI_Touch touchData{&recorder, &UiRecorder::touch};
    LV2_Feature instanceFeature{LV2_INSTANCE_ACCESS_URI, nullptr};
    LV2_Feature parentFeature{LV2_UI__parent, nullptr};
    LV2_Feature resizeFeature{LV2_UI__resize, &resizeData};
    LV2_Feature touchFeature{LV2_UI__touch, &touchData};
    LV2UI_Widget widget = nullptr;
    std::vector<LV2UI_Handle> open;
};

}  // namespace

TEST_F(Lv2UiTest, DeclaredAsX11UiInThePluginsOwnBinaryWithTheFeaturesItNeeds)
{
    LilvWorld* world = host.world();
    LilvNode* uiNode = lilv_new_uri(world, kUiUri);
    LilvNode* required = lilv_new_uri(world, LV2_CORE__requiredFeature);
    LilvNode* extension = lilv_new_uri(world, LV2_CORE__extensionData);
    LilvNode* parentUri = lilv_new_uri(world, LV2_UI__parent);
    LilvNode* accessUri = lilv_new_uri(world, LV2_INSTANCE_ACCESS_URI);
    LilvNode* idleUri = lilv_new_uri(world, LV2_UI__idleInterface);
    LilvNode* x11 = lilv_new_uri(world, LV2_UI__X11UI);
    LilvUIs* uis = lilv_plugin_get_uis(host.plugin());
    const LilvUI* ui = lilv_uis_get_by_uri(uis, uiNode);
    ASSERT_NE(ui, nullptr);
    EXPECT_TRUE(lilv_ui_is_a(ui, x11));
    EXPECT_TRUE(
        lilv_node_equals(lilv_ui_get_binary_uri(ui), lilv_plugin_get_library_uri(host.plugin())));
    EXPECT_TRUE(lilv_world_ask(world, uiNode, required, parentUri) &&
                lilv_world_ask(world, uiNode, required, accessUri));
    EXPECT_TRUE(lilv_world_ask(world, uiNode, extension, idleUri));
    lilv_uis_free(uis);
    for (LilvNode* n : {uiNode, required, extension, parentUri, accessUri, idleUri, x11})
        lilv_node_free(n);
}

TEST_F(Lv2UiTest, OpensAsMappedChildOfTheParentAndTellsItsSize)
{
    LV2UI_Handle ui = instantiate();
    ASSERT_NE(ui, nullptr);
    EXPECT_EQ(idle(ui), 0);
    const std::vector<Window> under = children();
    ASSERT_EQ(under.size(), 1u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(widget), under[0]);
    XWindowAttributes a{};
    ASSERT_TRUE(XGetWindowAttributes(display, under[0], &a));
    EXPECT_TRUE(a.map_state == IsViewable && a.width == kWidth && a.height == kHeight);
    EXPECT_EQ(recorder.sizes, (std::vector<std::pair<int, int>>{{kWidth, kHeight}}));
}

TEST_F(Lv2UiTest, DragIsWrittenToTheParameterPortBetweenTouches)
{
    if (!xtest())
        GTEST_SKIP() << "the X server lacks XTest";
    LV2UI_Handle ui = instantiate();
    ASSERT_NE(ui, nullptr);
    ASSERT_TRUE(dragMixToTop(ui));
    const std::vector<Write> writes = recorder.writesCopy();
    ASSERT_FALSE(writes.empty());
    for (const Write& w : writes)
        EXPECT_TRUE(w.port == kMixPort && w.size == sizeof(float) && w.protocol == 0)
            << w.port << " " << w.size << " " << w.protocol;
    EXPECT_GT(writes.back().value, 0.95f);
    std::lock_guard<std::mutex> lock(recorder.mutex);
    EXPECT_EQ(recorder.touches.size(), 2u);
    EXPECT_TRUE(recorder.touches.front().port == kMixPort && recorder.touches.front().grabbed &&
                recorder.touches.back().port == kMixPort && !recorder.touches.back().grabbed);
}

TEST_F(Lv2UiTest, HostWritingTheValuesBackLeavesTheEffectWhereTheUserPutIt)
{
    if (!xtest())
        GTEST_SKIP() << "the X server lacks XTest";
    LV2UI_Handle ui = instantiate();
    ASSERT_NE(ui, nullptr);
    ASSERT_TRUE(dragMixToTop(ui));
    const std::vector<Write> writes = recorder.writesCopy();
    ASSERT_GE(writes.size(), 2u);
    const float last = writes.back().value;
    EXPECT_FLOAT_EQ(savedValue(kMix), last);
    // The host delivers the first value of the drag one block late: an echo, not a change.
    host.control(kMix) = writes.front().value;
    runBlock();
    EXPECT_FLOAT_EQ(savedValue(kMix), last);
    for (std::size_t i = 1; i < writes.size(); ++i) {
        host.control(kMix) = writes[i].value;
        runBlock();
    }
    EXPECT_FLOAT_EQ(savedValue(kMix), last);
    // Once the echoes are in, the host's own changes act again.
    host.control(kMix) = 0.25f;
    runBlock();
    EXPECT_FLOAT_EQ(savedValue(kMix), 0.25f);
}

TEST_F(Lv2UiTest, HostChangeOfAPortShowsInTheWindowAndIsNotWrittenBack)
{
    LV2UI_Handle ui = instantiate();
    ASSERT_NE(ui, nullptr);
    ASSERT_EQ(idle(ui), 0);
    const Window w = reinterpret_cast<std::uintptr_t>(widget);
    EXPECT_NE(pixelOf(w, kMixLeft + 8, kMixTop + 3), kAmber);  // Mix starts at 0.7
    host.control(kMix) = 1.0f;
    runBlock();
    // The window shows it after the next idle has drawn; the frame's connection is its own.
    bool full = false;
    for (int i = 0; i < 100 && !full; ++i) {
        idle(ui);
        XSync(display, False);
        full = pixelOf(w, kMixLeft + 8, kMixTop + 3) == kAmber;
        if (!full)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(full);
    EXPECT_TRUE(recorder.writesCopy().empty());
}

TEST_F(Lv2UiTest, CloseTakesTheWindowAwayAndReopenBringsItBack)
{
    LV2UI_Handle ui = instantiate();
    ASSERT_NE(ui, nullptr);
    idle(ui);
    cleanup(ui);
    XSync(display, False);
    EXPECT_TRUE(children().empty());
    for (int round = 0; round < 3; ++round) {
        ui = instantiate();
        ASSERT_NE(ui, nullptr);
        EXPECT_EQ(idle(ui), 0);
        EXPECT_EQ(children().size(), 1u);
        cleanup(ui);
        XSync(display, False);
    }
    EXPECT_TRUE(children().empty());
}

TEST_F(Lv2UiTest, SecondUiOnTheSameInstanceIsRefusedWhileTheFirstIsOpen)
{
    LV2UI_Handle first = instantiate();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(instantiate(), nullptr);
    EXPECT_EQ(idle(first), 0);
    EXPECT_EQ(children().size(), 1u);
    cleanup(first);
    EXPECT_NE(instantiate(), nullptr);
}

TEST_F(Lv2UiTest, MissingInstanceAccessParentOrPluginGivesNoUi)
{
    EXPECT_EQ(instantiate(false, true), nullptr);
    EXPECT_EQ(instantiate(true, false), nullptr);
    EXPECT_EQ(instantiate(true, true, "urn:another:plugin"), nullptr);
    XSync(display, False);
    EXPECT_TRUE(children().empty());
}

TEST_F(Lv2UiTest, ParentDestroyedByTheHostEndsTheUi)
{
    LV2UI_Handle ui = instantiate();
    ASSERT_NE(ui, nullptr);
    ASSERT_EQ(idle(ui), 0);
    XDestroyWindow(display, parent);
    XSync(display, False);
    parent = 0;
    int gone = 0;
    for (int i = 0; i < 100 && !gone; ++i) {
        gone = idle(ui);
        if (!gone)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(gone, 0);
    cleanup(ui);  // the host's cleanup still follows, without a window to close
}

TEST_F(Lv2UiTest, CleanupFromInsideAWriteDuringADragEndsTheUiOnceTheDragUnwinds)
{
    if (!xtest())
        GTEST_SKIP() << "the X server lacks XTest";
    LV2UI_Handle ui = instantiate();
    ASSERT_NE(ui, nullptr);
    bool cleanedUp = false;
    recorder.onFirstWrite = [&] {
        cleanup(ui);
        cleanedUp = true;
    };
    std::thread user([&] {
        Display* d = VSTGUI::openDisplay();
        XTestFakeMotionEvent(d, DefaultScreen(d), kMixLeft + 8, (kMixTop + kMixBottom) / 2,
                             CurrentTime);
        XTestFakeButtonEvent(d, 1, True, CurrentTime);
        XSync(d, False);
        recorder.waitForWrite([](const Write& w) { return w.port == kMixPort; });
        XTestFakeButtonEvent(d, 1, False, CurrentTime);
        XSync(d, False);
        XCloseDisplay(d);
    });
    // The idle that runs the drag runs the cleanup too; the handle is gone after it.
    int last = 0;
    for (int i = 0; i < 10000 && !cleanedUp; ++i) {
        last = idle(ui);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    user.join();
    ASSERT_TRUE(cleanedUp);
    EXPECT_EQ(last, 1);
    XSync(display, False);
    EXPECT_TRUE(children().empty());
    EXPECT_EQ(recorder.writesCopy().size(), 1u);
}

TEST_F(Lv2UiTest, DragWhileTheHostRunsAudioEndsWithPortAndEffectAgreeing)
{
    if (!xtest())
        GTEST_SKIP() << "the X server lacks XTest";
    LV2UI_Handle ui = instantiate();
    ASSERT_NE(ui, nullptr);
    // The host's audio thread puts each value the UI wrote into the port before its next
    // block, as hosts pass them over from their UI thread.
    std::atomic<bool> audioRunning{true};
    std::thread audio([&] {
        std::size_t applied = 0;
        auto applyWrites = [&] {
            std::lock_guard<std::mutex> lock(recorder.mutex);
            for (; applied < recorder.writes.size(); ++applied)
                host.control(kMix) = recorder.writes[applied].value;
        };
        while (audioRunning) {
            applyWrites();
            runBlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        applyWrites();
        runBlock();
    });
    const bool followed = dragMixToTop(ui);
    audioRunning = false;
    audio.join();
    ASSERT_TRUE(followed);
    const float last = recorder.writesCopy().back().value;
    EXPECT_FLOAT_EQ(host.control(kMix), last);
    EXPECT_FLOAT_EQ(savedValue(kMix), last);
}

TEST_F(Lv2UiTest, InstanceFreedBeforeItsUiLeavesAUiThatOnlyEnds)
{
    LV2UI_Handle ui = instantiate();
    ASSERT_NE(ui, nullptr);
    ASSERT_EQ(idle(ui), 0);
    // A host that frees the plug-in first: the effect closes its window as it goes.
    host.freeInstance();
    XSync(display, False);
    EXPECT_TRUE(children().empty());
    EXPECT_EQ(idle(ui), 1);
    cleanup(ui);
}
