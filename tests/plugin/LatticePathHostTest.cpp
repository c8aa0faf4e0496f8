// The whole effect through the test host with each lattice path (SKV_LATTICE_PATH, read when
// the library loads): at order 80 with the 2x output stage, the fused kernel's SSE2 and FMA
// paths must give what the written-order lattice gives, up to rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "support/TestHost.h"
#include "support/TestSignals.h"

namespace {

// Ten seconds of noise (left) and of an impulse train (right) through a fresh copy of the
// library on the given path, at order 80, oversampled, dry signal muted.
std::vector<float> render(const char* path, std::vector<float>* right)
{
    ::setenv("SKV_LATTICE_PATH", path, 1);
    skvtest::CTestHost host;
    EXPECT_NE(host.create(), nullptr);
    ::unsetenv("SKV_LATTICE_PATH");
    host.setParameter(40, 1.0f);  // filter order 80
    host.setParameter(49, 0.6f);  // oversampled saturation
    constexpr std::size_t kLength = 441000;
    std::vector<float> inL = skvtest::noise(kLength, 21, 0.5f);
    std::vector<float> inR(kLength, 0.0f);
    for (std::size_t i = 0; i < kLength; i += 4410)
        inR[i] = 1.0f;
    std::vector<float> outL(kLength), outR(kLength);
    host.processReplacing(inL, inR, outL, outR, 512);
    *right = outR;
    return outL;
}

double rms(const std::vector<float>& a)
{
    double sum = 0.0;
    for (float v : a)
        sum += static_cast<double>(v) * v;
    return std::sqrt(sum / static_cast<double>(a.size()));
}

double rmsDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
    return std::sqrt(sum / static_cast<double>(a.size()));
}

}  // namespace

TEST(LatticePathHost, FusedPathsGiveTheWrittenOrdersAudioUpToRounding)
{
    std::vector<float> writtenR, sse2R, fmaR;
    const std::vector<float> writtenL = render("written", &writtenR);
    const std::vector<float> sse2L = render("sse2", &sse2R);
    const std::vector<float> fmaL = render("fma", &fmaR);  // SSE2 again without FMA
    ASSERT_GT(rms(writtenL), 1e-3);
    ASSERT_GT(rms(writtenR), 1e-4);
    for (const auto* ch : {&sse2L, &fmaL})
        EXPECT_LE(rmsDifference(*ch, writtenL), 1e-4 * rms(writtenL));
    for (const auto* ch : {&sse2R, &fmaR})
        EXPECT_LE(rmsDifference(*ch, writtenR), 1e-4 * rms(writtenR));
}
