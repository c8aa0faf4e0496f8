// What every instance in a process shares: the bank store and the configuration record, used
// by two instances of one loaded library on two host threads at once (these storms are also
// run under the thread sanitizer), and the data folder, which stays beside the library however
// it was loaded and is rewritten only when the record changed.
#include "support/TestHost.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

using skvtest::CTestHost;
namespace fs = std::filesystem;

namespace {

const char* const kCompleteConfig =
    "<?xml version=\"1.0\"?><Skorvaline><Skin path=\"\"/><ControllerMap/>"
    "<Files zip-presets=\"yes\"/><Processing resolution=\"8\"/></Skorvaline>";
// Without "Processing": every load that reads it writes a complete file back.
const char* const kIncompleteConfig =
    "<?xml version=\"1.0\"?><Skorvaline><Skin path=\"\"/><ControllerMap/>"
    "<Files zip-presets=\"yes\"/></Skorvaline>";

/// Replaces the file whole, as an editor saving it would.
void replaceFile(const fs::path& file, const std::string& text, int serial)
{
    fs::path temporary = file;
    temporary += ".editor" + std::to_string(serial);
    std::ofstream(temporary, std::ios::binary) << text;
    fs::rename(temporary, file);
}

std::size_t entriesIn(const fs::path& folder)
{
    std::size_t n = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++n;
    }
    return n;
}

}  // namespace

TEST(SharedStateStorm, StatesSavedAndRestoredOnTwoThreads)
{
    CTestHost first;
    CTestHost second;
    second.openPath = first.libraryPath();
    ASSERT_NE(first.create(), nullptr);
    ASSERT_NE(second.create(), nullptr);
    first.setParameter(43, 0.25f);
    second.setParameter(43, 0.75f);
    std::atomic<int> failures{0};
    auto storm = [&failures](CTestHost& host, float expected) {
        for (int i = 0; i < 300; ++i) {
            const bool isPreset = i % 2 == 0;
            const std::vector<unsigned char> chunk = host.getChunk(isPreset);
            if (chunk.empty() || host.setChunk(chunk, isPreset) != 1 ||
                host.getParameter(43) != expected) {
                ++failures;
            }
        }
    };
    std::thread a(storm, std::ref(first), 0.25f);
    std::thread b(storm, std::ref(second), 0.75f);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(SharedStateStorm, InstancesCreatedAndClosedOnTwoThreads)
{
    CTestHost first;
    CTestHost second;
    second.openPath = first.libraryPath();
    ASSERT_NE(first.create(), nullptr);
    first.close();
    std::atomic<bool> running{true};
    std::atomic<int> failures{0};
    auto storm = [&](CTestHost& host) {
        for (int i = 0; i < 100; ++i) {
            if (host.create() == nullptr) {
                ++failures;
                continue;
            }
            host.close();
        }
    };
    // Meanwhile the user keeps saving the file, now and then without a section, so that loads
    // read it and write it back.
    std::thread editor([&] {
        for (int i = 0; running; ++i) {
            replaceFile(first.configFile(), i % 2 ? kIncompleteConfig : kCompleteConfig, i);
            std::this_thread::yield();
        }
    });
    std::thread a(storm, std::ref(first));
    std::thread b(storm, std::ref(second));
    a.join();
    b.join();
    running = false;
    editor.join();
    EXPECT_EQ(failures.load(), 0);
    // One instance more reads whatever the editor left and completes it.
    ASSERT_NE(first.create(), nullptr);
    first.close();
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.LoadFile(first.configFile().c_str()), tinyxml2::XML_SUCCESS);
    EXPECT_NE(document.RootElement()->FirstChildElement("Processing"), nullptr);
    EXPECT_EQ(entriesIn(first.dataFolder()), 1u);  // no temporary file left behind
}

TEST(SharedDataFolder, StaysBesideALibraryLoadedByARelativePath)
{
    CTestHost host;
    skvtest::CScratchFolder project;
    const fs::path start = fs::current_path();
    fs::current_path(host.folder());
    host.openPath = "./Skorvaline.so";
    ASSERT_NE(host.create(), nullptr);
    host.close();
    // The host moves into the user's project folder and opens another instance.
    fs::current_path(project.path());
    ASSERT_NE(host.create(), nullptr);
    host.close();
    fs::current_path(start);
    EXPECT_FALSE(fs::exists(project.path() / "Skorvaline Data"));
    EXPECT_TRUE(fs::is_regular_file(host.configFile()));
}

TEST(SharedDataFolder, UnchangedRecordIsNeverRewritten)
{
    CTestHost host;
    host.writeConfig(kCompleteConfig);
    struct stat before {};
    ASSERT_EQ(::stat(host.configFile().c_str(), &before), 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(host.create(), nullptr);
        host.close();
    }
    // A rewrite renames a new file into place, which gives it a new inode.
    struct stat after {};
    ASSERT_EQ(::stat(host.configFile().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(host.readConfig(), kCompleteConfig);
}
