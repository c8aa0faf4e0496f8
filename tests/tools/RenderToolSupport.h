// Helpers of the render tool tests. Every test gets a fresh scratch folder holding its own
// copy of Skorvaline.so (the effect writes "Skorvaline Data/config.xml" beside itself) and a
// work folder where the built tool runs with its output captured; audio files are read and
// written with libsndfile, independently of the tool's own code.
#pragma once

#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <pty.h>
#include <sndfile.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace skvtest {

namespace fs = std::filesystem;

inline const fs::path kRenderTool = SKV_RENDER_TOOL;
inline const fs::path kSkorvaline = SKV_PLUGIN_LIBRARY;
inline const fs::path kBmpFolder = fs::path(SKV_TESTDATA_DIR) / "bmp";

/// A test effect variant: 0 pass-through, 1 one output, 2 no entry, 3 null effect, 4 "main".
inline fs::path testEffect(int variant)
{
    return fs::path(SKV_TEST_EFFECT_DIR) /
           ("skv_test_passthrough" + std::to_string(variant) + ".so");
}

struct CToolRun {
    int exitCode = -1;  // exit status, or 128 + signal number
    std::string out, err;
};

inline std::string readText(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeText(const fs::path& p, const std::string& text)
{
    std::ofstream(p, std::ios::binary) << text;
}

inline int exitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

/// The argument vector execv wants: the tool, then its arguments, built before a fork.
class CToolArgv {
public:
    CToolArgv(const fs::path& tool, const std::vector<std::string>& args) : strings_{tool.string()}
    {
        strings_.insert(strings_.end(), args.begin(), args.end());
        for (std::string& a : strings_)
            pointers_.push_back(a.data());
        pointers_.push_back(nullptr);
    }
    CToolArgv(const CToolArgv&) = delete;
    CToolArgv& operator=(const CToolArgv&) = delete;

    /// In a forked child: runs the tool in `folder`; exits 126 or 127 when that fails.
    [[noreturn]] void execIn(const std::string& folder) const
    {
        if (::chdir(folder.c_str()) != 0)
            ::_exit(126);
        ::execv(pointers_[0], pointers_.data());
        ::_exit(127);
    }

private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

class CRenderScratch {
public:
    CRenderScratch() : root_(scratch_.path())
    {
        fs::create_directories(work());
        fs::create_directories(root_ / "io");
        fs::copy_file(kSkorvaline, plugin());
    }
    CRenderScratch(const CRenderScratch&) = delete;
    CRenderScratch& operator=(const CRenderScratch&) = delete;

    const fs::path& root() const { return root_; }
    /// Where the tool runs and writes its outputs.
    fs::path work() const { return root_ / "work"; }
    fs::path plugin() const { return root_ / "Skorvaline.so"; }
    fs::path path(const std::string& name) const { return work() / name; }

    /// Starts the tool in the work folder; output goes to files of the scratch folder.
    pid_t start(const std::vector<std::string>& args, const fs::path& tool = kRenderTool) const
    {
        const std::string out = (root_ / "io" / "stdout").string();
        const std::string err = (root_ / "io" / "stderr").string();
        const CToolArgv argv(tool, args);
        const std::string dir = work().string();
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o < 0 || e < 0)
                ::_exit(126);
            ::dup2(o, 1);
            ::dup2(e, 2);
            argv.execIn(dir);
        }
        return pid;
    }

    CToolRun wait(pid_t pid) const
    {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        CToolRun r;
        r.exitCode = exitCodeOf(status);
        r.out = readText(root_ / "io" / "stdout");
        r.err = readText(root_ / "io" / "stderr");
        return r;
    }

    /// Runs the tool exactly with these arguments.
    CToolRun run(const std::vector<std::string>& args, const fs::path& tool = kRenderTool) const
    {
        return wait(start(args, tool));
    }

    /// Runs the tool hosting the effect `effectModule`.
    CToolRun runWith(const fs::path& effectModule, std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"--plugin", effectModule.string()});
        return run(args);
    }

    /// Runs the tool on this folder's copy of Skorvaline.so.
    CToolRun render(std::vector<std::string> args) const
    {
        return runWith(plugin(), std::move(args));
    }

    /// Names of everything in the work folder, hidden temporary files included.
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(work()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    skvtest::CScratchFolder scratch_;
    fs::path root_;
};

/// Interleaved audio as read from a file.
struct CAudio {
    int rate = 44100;
    int channels = 2;
    std::vector<float> samples;

    size_t frames() const { return channels ? samples.size() / static_cast<size_t>(channels) : 0; }
    float at(size_t frame, int channel) const
    {
        return samples[frame * static_cast<size_t>(channels) + static_cast<size_t>(channel)];
    }
};

inline CAudio readAudio(const fs::path& p, int* format = nullptr)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(p.c_str(), SFM_READ, &info);
    if (!f) {
        ADD_FAILURE() << p << ": " << sf_strerror(nullptr);
        return {};
    }
    CAudio a;
    a.rate = info.samplerate;
    a.channels = info.channels;
    a.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    EXPECT_EQ(sf_readf_float(f, a.samples.data(), info.frames), info.frames);
    if (format)
        *format = info.format;
    sf_close(f);
    return a;
}

inline void writeAudio(const fs::path& p, const CAudio& a, int format)
{
    SF_INFO info{};
    info.samplerate = a.rate;
    info.channels = a.channels;
    info.format = format;
    SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << p << ": " << sf_strerror(nullptr);
    ASSERT_EQ(sf_writef_float(f, a.samples.data(), static_cast<sf_count_t>(a.frames())),
              static_cast<sf_count_t>(a.frames()));
    sf_close(f);
}

/// Stereo test input with different channels: a 441 Hz sine of amplitude 0.5 on the left,
/// deterministic noise of amplitude 0.3 (a 32-bit linear congruential generator) on the right.
inline CAudio makeTestSignal(int rate, size_t frames)
{
    CAudio a;
    a.rate = rate;
    a.channels = 2;
    a.samples.resize(frames * 2);
    uint32_t state = 12345u;
    for (size_t i = 0; i < frames; ++i) {
        state = state * 1664525u + 1013904223u;
        a.samples[2 * i] =
            static_cast<float>(0.5 * std::sin(2.0 * 3.14159265358979323846 * 441.0 * i / rate));
        a.samples[2 * i + 1] = static_cast<float>((state >> 8) / 8388608.0 - 1.0) * 0.3f;
    }
    return a;
}

inline bool startsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

/// The --list-params line of a parameter index, split into its fields.
inline std::vector<std::string> paramLine(const std::string& listing, int index)
{
    size_t at = 0;
    while (at < listing.size()) {
        size_t end = listing.find('\n', at);
        if (end == std::string::npos)
            end = listing.size();
        const std::string line = listing.substr(at, end - at);
        at = end + 1;
        // Columns are separated by two or more spaces; names hold single spaces.
        std::vector<std::string> fields;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && line[i] == ' ')
                ++i;
            size_t j = i;
            while (j < line.size() &&
                   !(line[j] == ' ' && (j + 1 >= line.size() || line[j + 1] == ' ')))
                ++j;
            if (j > i)
                fields.push_back(line.substr(i, j - i));
            i = j;
        }
        if (!fields.empty() && fields[0] == std::to_string(index))
            return fields;
    }
    return {};
}

}  // namespace skvtest
