// lv2apply, the LV2 render tool of lilv, renders a WAV file through the bundle: with the mix at
// 0 the file comes back unchanged, at the default mix its silent tail carries the echoes.
#include <gtest/gtest.h>

#include "lv2/Lv2TestHost.h"
#include "support/ScratchFolder.h"
#include "support/TestSignals.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifdef SKV_HAVE_SNDFILE
#include <sndfile.h>

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;

bool writeWav(const fs::path& path, const std::vector<short>& frames)
{
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    sf_writef_short(file, frames.data(), static_cast<sf_count_t>(frames.size() / 2));
    sf_close(file);
    return true;
}

std::vector<short> readWav(const fs::path& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file || info.channels != 2)
        return {};
    std::vector<short> frames(static_cast<std::size_t>(info.frames) * 2);
    sf_readf_short(file, frames.data(), info.frames);
    sf_close(file);
    return frames;
}

int lv2apply(const fs::path& lv2Path, const fs::path& in, const fs::path& out,
             const std::string& controls)
{
    const std::string command = "LV2_PATH='" + lv2Path.string() + "' lv2apply -i '" + in.string() +
                                "' -o '" + out.string() + "' " + controls + " " +
                                skvtest::kLv2PluginUri + " >/dev/null 2>&1";
    return std::system(command.c_str());
}

}  // namespace

TEST(Lv2Render, Lv2applyRendersAWavThroughTheBundle)
{
#ifdef SKV_SANITIZED
    GTEST_SKIP() << "lv2apply cannot load a bundle built with sanitizers";
#endif
    if (std::system("command -v lv2apply >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "lv2apply missing (Debian: lilv-utils)";
    skvtest::CScratchFolder scratch;
    fs::create_directories(scratch.path() / "lv2");
    fs::copy(SKV_LV2_BUNDLE, scratch.path() / "lv2" / "Skorvaline.lv2",
             fs::copy_options::recursive);
    // Half a second of noise, then a second and a half of silence.
    const std::vector<float> noise = skvtest::noise(kRate, 5, 0.4f);
    std::vector<short> input(2 * 2 * kRate, 0);
    for (int i = 0; i < kRate / 2; ++i) {
        input[2 * i] = static_cast<short>(std::lround(noise[i] * 32767.0f));
        input[2 * i + 1] = static_cast<short>(std::lround(noise[kRate / 2 + i] * 32767.0f));
    }
    const fs::path in = scratch.path() / "in.wav";
    ASSERT_TRUE(writeWav(in, input));

    const fs::path dry = scratch.path() / "dry.wav";
    ASSERT_EQ(lv2apply(scratch.path() / "lv2", in, dry, "-c mix 0"), 0);
    EXPECT_EQ(readWav(dry), input);

    const fs::path wet = scratch.path() / "wet.wav";
    ASSERT_EQ(lv2apply(scratch.path() / "lv2", in, wet, ""), 0);
    const std::vector<short> echoes = readWav(wet);
    ASSERT_EQ(echoes.size(), input.size());
    double tail = 0.0;
    for (std::size_t i = 2 * kRate; i < echoes.size(); ++i)
        tail += std::abs(echoes[i]);
    EXPECT_GT(tail, 0.0);
}
#endif
