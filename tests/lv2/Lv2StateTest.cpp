// LV2 state: the bank document moves from one instance to another as hosts move it (lilv),
// filter-map paths go through the host's map-path feature, an empty state resets to the
// defaults, and a damaged state is refused without changing anything.
#include <gtest/gtest.h>

#include "Lv2TestSupport.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

using lv2test::kBlock;
using skvtest::CLv2TestHost;
using skvtest::Lv2Property;

namespace fs = std::filesystem;

namespace {

const std::string kStringType = "http://lv2plug.in/ns/ext/atom#String";

struct Outputs {
    std::vector<float> l, r;
};

Outputs run(CLv2TestHost& host, const lv2test::Stereo& in)
{
    Outputs out;
    host.run(in.l, in.r, out.l, out.r, kBlock);
    return out;
}

lv2test::Stereo silentBlock()
{
    return {std::vector<float>(kBlock), std::vector<float>(kBlock)};
}

std::string bankDocument(CLv2TestHost& host, const LV2_State_Map_Path* mapPath = nullptr)
{
    std::vector<Lv2Property> properties;
    EXPECT_EQ(host.save(properties, mapPath), LV2_STATE_SUCCESS);
    EXPECT_EQ(properties.size(), 1u);
    return properties.empty() ? std::string() : properties[0].value.c_str();
}

// Paths relative to a session folder, as hosts that keep a session's files together map them.
struct SessionPaths {
    std::string folder;  // ends in '/'
    LV2_State_Map_Path feature{this, &SessionPaths::abstractPath, &SessionPaths::absolutePath};

    static char* abstractPath(LV2_State_Map_Path_Handle handle, const char* path)
    {
        const std::string& root = static_cast<SessionPaths*>(handle)->folder;
        const std::string p = path;
        return strdup(p.compare(0, root.size(), root) == 0 ? p.substr(root.size()).c_str() : path);
    }
    static char* absolutePath(LV2_State_Map_Path_Handle handle, const char* path)
    {
        const std::string& root = static_cast<SessionPaths*>(handle)->folder;
        return strdup(path[0] == '/' ? path : (root + path).c_str());
    }
};

}  // namespace

TEST(Lv2State, HostSavedStateReproducesParametersMapsAndOutput)
{
    CLv2TestHost a;
    ASSERT_TRUE(a.instantiate());
    ASSERT_EQ(a.restore(lv2test::bankState(lv2test::mapsDocument(
                  bankDocument(a), lv2test::bmpFile("big_rgb24_560x281_imagemagick_bmp3.bmp")))),
              LV2_STATE_SUCCESS);
    a.control(43) = 0.4f;  // Mix
    a.control(40) = 1.0f;  // order 80
    run(a, silentBlock());
    const std::string saved = a.saveLilvState();
    ASSERT_FALSE(saved.empty());

    CLv2TestHost b;
    ASSERT_TRUE(b.instantiate());
    ASSERT_TRUE(b.restoreLilvState(saved));
    run(b, silentBlock());
    EXPECT_EQ(lv2test::documentDifference(bankDocument(b), bankDocument(a)), "");

    const lv2test::Stereo in = lv2test::testInput();
    const Outputs outA = run(a, in);
    const Outputs outB = run(b, in);
    EXPECT_EQ(lv2test::firstDifference(outA.l, outB.l), outA.l.size());
    EXPECT_EQ(lv2test::firstDifference(outA.r, outB.r), outA.r.size());
}

TEST(Lv2State, FilterMapPathsGoThroughTheHostsPathMapping)
{
    skvtest::CScratchFolder sessions;
    const std::string first = (sessions.path() / "first").string() + "/";
    const std::string second = (sessions.path() / "second").string() + "/";
    for (const std::string& s : {first, second}) {
        fs::create_directories(s + "maps");
        fs::copy_file(lv2test::bmpFile("big_rgb24_560x281_imagemagick_bmp3.bmp"),
                      s + "maps/left.bmp");
    }
    CLv2TestHost a;
    ASSERT_TRUE(a.instantiate());
    ASSERT_EQ(a.restore(lv2test::bankState(lv2test::withFilterMap(
                  bankDocument(a), "Bitmap L", first + "maps/left.bmp", nullptr))),
              LV2_STATE_SUCCESS);
    SessionPaths firstSession{first};
    const std::string stored = bankDocument(a, &firstSession.feature);
    EXPECT_NE(stored.find("path=\"maps/left.bmp\""), std::string::npos);
    EXPECT_EQ(stored.find(first), std::string::npos);

    // The session moved: the same abstract path now names the file in the second folder.
    CLv2TestHost b;
    ASSERT_TRUE(b.instantiate());
    SessionPaths secondSession{second};
    ASSERT_EQ(b.restore(lv2test::bankState(stored), &secondSession.feature), LV2_STATE_SUCCESS);
    EXPECT_NE(bankDocument(b).find("path=\"" + second + "maps/left.bmp\""), std::string::npos);
}

TEST(Lv2State, DamagedStateIsRefusedAndChangesNothing)
{
    const lv2test::Stereo in = lv2test::testInput();
    CLv2TestHost reference;
    CLv2TestHost damaged;
    std::string document;
    for (CLv2TestHost* host : {&reference, &damaged}) {
        ASSERT_TRUE(host->instantiate());
        document = lv2test::mapsDocument(
            bankDocument(*host), lv2test::bmpFile("big_rgb24_560x281_imagemagick_bmp3.bmp"));
        ASSERT_EQ(host->restore(lv2test::bankState(document)), LV2_STATE_SUCCESS);
    }
    const std::string before = lv2test::withoutTimes(bankDocument(damaged));
    const std::string cut = document.substr(0, document.size() / 2);
    const std::vector<std::vector<Lv2Property>> bad = {
        {{skvtest::kLv2BankUri, kStringType, "not a bank"}},
        {{skvtest::kLv2BankUri, kStringType, cut + std::string(1, '\0')}},
        {{skvtest::kLv2BankUri, "http://lv2plug.in/ns/ext/atom#Int", document}},
    };
    for (const auto& state : bad)
        EXPECT_NE(damaged.restore(state), LV2_STATE_SUCCESS);
    EXPECT_EQ(lv2test::documentDifference(bankDocument(damaged), before), "");
    const Outputs a = run(reference, in);
    const Outputs b = run(damaged, in);
    EXPECT_EQ(lv2test::firstDifference(a.l, b.l), a.l.size());
}

TEST(Lv2State, EmptyStateResetsEveryProgramToItsDefaults)
{
    CLv2TestHost fresh;
    ASSERT_TRUE(fresh.instantiate());
    CLv2TestHost host;
    ASSERT_TRUE(host.instantiate());
    ASSERT_EQ(host.restore(lv2test::bankState(lv2test::mapsDocument(
                  bankDocument(host), lv2test::bmpFile("big_rgb24_560x281_imagemagick_bmp3.bmp")))),
              LV2_STATE_SUCCESS);
    EXPECT_EQ(host.restore({}), LV2_STATE_SUCCESS);
    EXPECT_EQ(lv2test::documentDifference(bankDocument(host), bankDocument(fresh)), "");
}
