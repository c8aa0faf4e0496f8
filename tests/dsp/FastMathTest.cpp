// Fast logarithm and exponential lookup against the library functions and the closed form
// of the approximation.
#include <gtest/gtest.h>

#include <cmath>

#include "dsp/FastMath.h"
#include "DspTestSupport.h"

namespace {

using skvtest::referenceLog2;

constexpr double kMaxLog2Error = 0.00971;  // max of |log2 m - approximation| on [1, 2)

}  // namespace

TEST(FastMath, LogIsExactAtPowersOfTwo)
{
    for (int k = -120; k <= 120; ++k) {
        const float v = std::ldexp(1.0f, k);
        EXPECT_NEAR(skv::fastLog2(v), static_cast<float>(k), 1e-6 * (1 + std::abs(k))) << "2^" << k;
    }
}

TEST(FastMath, LogFollowsItsClosedFormAndStaysWithinItsError)
{
    double worst = 0.0;
    for (double v = 1e-30; v < 1e30; v *= 1.0137) {
        const float vf = static_cast<float>(v);
        const double exact = std::log10(static_cast<double>(vf));
        const double approx = skv::fastLog10(vf);
        EXPECT_NEAR(skv::fastLog2(vf), referenceLog2(vf), 2e-5 * (1.0 + std::fabs(exact))) << vf;
        worst = std::max(worst, std::fabs(approx - exact));
        EXPECT_NEAR(skv::fastLog10Sqrt(vf), 0.5 * approx, 1e-5 * (1.0 + std::fabs(exact)));
    }
    EXPECT_LE(worst, kMaxLog2Error * std::log10(2.0) + 1e-5);
    // The bound is tight: the sweep gets close to it.
    EXPECT_GT(worst, 0.9 * kMaxLog2Error * std::log10(2.0));
}

TEST(FastMath, LogOfZeroAndNegativeIsFinite)
{
    EXPECT_TRUE(std::isfinite(skv::fastLog10(0.0f)));
    EXPECT_TRUE(std::isfinite(skv::fastLog10(-1.0f)));
    EXPECT_TRUE(std::isfinite(skv::fastLog10(1e-42f)));  // subnormal
}

TEST(FastMath, ExpLookupAtZeroIsExactlyOne)
{
    EXPECT_EQ(skv::expLookup(0), 1.0f);
    EXPECT_EQ(skv::fastExp(0.0f), 1.0f);
    EXPECT_EQ(skv::fastExp(-0.0f), 1.0f);
    EXPECT_EQ(skv::kExpTables.hi[0], 1.0f);
    EXPECT_EQ(skv::kExpTables.lo[0], 1.0f);
}

TEST(FastMath, TablesHoldTheirExponentials)
{
    for (int i = 0; i < skv::kExpHiSize; ++i)
        ASSERT_NEAR(skv::kExpTables.hi[i], std::exp(-i / 64.0), 6e-8 * std::exp(-i / 64.0)) << i;
    for (int j = 0; j < skv::kExpLoSize; ++j)
        ASSERT_NEAR(skv::kExpTables.lo[j], std::exp(-j / 131072.0), 6e-8) << j;
}

TEST(FastMath, LookupRelativeErrorBelowOneMillionthOverTheTable)
{
    const int last = 4096 * 2048 + 2047;
    double worst = 0.0;
    for (int n = 0; n <= last; n += 331) {
        const double exact = std::exp(-n / 131072.0);
        worst = std::max(worst, std::fabs(skv::expLookup(n) - exact) / exact);
    }
    const double atLast = std::exp(-last / 131072.0);
    worst = std::max(worst, std::fabs(skv::expLookup(last) - atLast) / atLast);
    EXPECT_LT(worst, 1e-6);
}

TEST(FastMath, BeyondTheTableExpIsComputedDirectly)
{
    const int first = 4097 * 2048;  // hi = 4097
    EXPECT_EQ(skv::expLookup(first), std::exp(static_cast<float>(first) * (-1.0f / 131072.0f)));
    EXPECT_NEAR(skv::expLookup(first), std::exp(-first / 131072.0), 1e-6 * std::exp(-64.0));
    // Far beyond: underflows to 0 instead of reading outside the tables.
    EXPECT_EQ(skv::expLookup(1 << 30), 0.0f);
    EXPECT_EQ(skv::fastExp(-1000.0f), 0.0f);
    EXPECT_NEAR(skv::fastExp(-70.0f), std::exp(-70.0), 1e-6 * std::exp(-70.0));
}

TEST(FastMath, FastExpQuantisesItsArgumentToTheTableStep)
{
    // Rounding t to 1/131072 adds at most half a step of relative error.
    for (float t = 0.0f; t > -64.0f; t -= 0.0173f) {
        const double exact = std::exp(static_cast<double>(t));
        ASSERT_NEAR(skv::fastExp(t), exact, (0.5 / 131072.0 + 1e-6) * exact) << t;
    }
}

TEST(FastMath, HostileExpArgumentsStaySafe)
{
    EXPECT_TRUE(std::isnan(skv::fastExp(std::nanf(""))));
    EXPECT_NEAR(skv::fastExp(0.5f), std::exp(0.5f), 1e-6);  // positive: direct
    EXPECT_NEAR(skv::expLookup(-5), std::exp(5.0f / 131072.0f), 1e-6);
}
