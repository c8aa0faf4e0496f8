// Four bands in SSE lanes against four scalar CDrivenSVF bands: outputs and every state field
// over long random runs with target, glide and reset changes, hostile targets included.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "dsp/DrivenSVF4.h"
#include "DspTestSupport.h"

namespace {

using skvtest::sameAsScalar;

::testing::AssertionResult sameState(const CDrivenSVF::State& lane, const CDrivenSVF::State& ref)
{
    const float* a = &lane.cutoffTarget;
    const float* b = &ref.cutoffTarget;
    static const char* const names[] = {
        "cutoffTarget", "dampingTarget", "denormal", "glide",     "low",     "highPass", "band",
        "high",         "output",        "cutoff",   "freqCoeff", "damping", "q"};
    static_assert(sizeof(CDrivenSVF::State) == 13 * sizeof(float), "13 fields");
    for (int f = 0; f < 13; ++f)
        if (!sameAsScalar(a[f], b[f]))
            return ::testing::AssertionFailure()
                   << names[f] << ": lane " << a[f] << ", scalar " << b[f];
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(DrivenSVF4, FreshLanesAreFreshBands)
{
    const CDrivenSVF4 four;
    const CDrivenSVF one;
    for (int l = 0; l < 4; ++l)
        EXPECT_TRUE(sameState(four.getLane(l), one.getState())) << l;
}

TEST(DrivenSVF4, LanesMatchScalarBandsOverLongRandomRuns)
{
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> uni(0.0f, 1.0f);
    CDrivenSVF4 four;
    CDrivenSVF ref[4];
    alignas(16) float x[4];
    for (int n = 0; n < 200000; ++n) {
        if (n % 997 == 0) {
            // New targets per lane, now and then beyond the cap, at the extremes of the
            // damping control, or hostile (negative cutoff, out-of-range damping).
            for (int l = 0; l < 4; ++l) {
                const float pick = uni(rng);
                float cutoff = 0.001f + 0.45f * uni(rng) * uni(rng);
                float damping = uni(rng);
                if (pick < 0.1f)
                    cutoff = 0.5f + uni(rng);
                else if (pick < 0.15f)
                    cutoff = -0.2f * uni(rng);
                else if (pick < 0.25f)
                    damping = 1.0f;
                else if (pick < 0.35f)
                    damping = 0.0f;
                else if (pick < 0.4f)
                    damping = 3.0f * uni(rng) - 1.0f;
                four.setCutoffTarget(l, cutoff);
                ref[l].setCutoffTarget(cutoff);
                four.setDampingTarget(l, damping);
                ref[l].setDampingTarget(damping);
            }
        }
        if (n % 5003 == 0) {
            const float glide = n % 3 == 0 ? 0.0f : (n % 3 == 1 ? 0.999f : uni(rng));
            four.setGlide(glide);
            for (CDrivenSVF& b : ref)
                b.setGlide(glide);
        }
        if (n % 31013 == 0) {
            four.resetBands();
            for (CDrivenSVF& b : ref)
                b.resetBand();
        }
        for (float& in : x)
            in = 2.0f * uni(rng) - 1.0f;
        alignas(16) float y[4];
        _mm_store_ps(y, four.processSample(_mm_load_ps(x)));
        for (int l = 0; l < 4; ++l) {
            const float expected = ref[l].processSample(x[l]);
            ASSERT_TRUE(sameAsScalar(y[l], expected))
                << "sample " << n << " lane " << l << ": " << y[l] << " vs " << expected;
            if (n % 1000 == 999) {
                ASSERT_TRUE(sameState(four.getLane(l), ref[l].getState()))
                    << "sample " << n << " lane " << l;
            }
        }
    }
}

TEST(DrivenSVF4, NonFiniteTargetsSpreadLikeTheScalarBand)
{
    CDrivenSVF4 four;
    CDrivenSVF ref[4];
    const float cutoffs[4] = {NAN, 0.1f, INFINITY, 0.2f};
    const float dampings[4] = {0.5f, NAN, 0.5f, 0.9f};
    for (int l = 0; l < 4; ++l) {
        four.setCutoffTarget(l, cutoffs[l]);
        ref[l].setCutoffTarget(cutoffs[l]);
        four.setDampingTarget(l, dampings[l]);
        ref[l].setDampingTarget(dampings[l]);
    }
    for (int n = 0; n < 50; ++n) {
        alignas(16) float y[4];
        _mm_store_ps(y, four.processSample(_mm_set1_ps(0.3f)));
        for (int l = 0; l < 4; ++l) {
            ASSERT_TRUE(sameAsScalar(y[l], ref[l].processSample(0.3f))) << n << " " << l;
            ASSERT_TRUE(sameState(four.getLane(l), ref[l].getState())) << n << " " << l;
        }
    }
    // The two finite lanes stay finite beside the poisoned ones.
    EXPECT_TRUE(std::isfinite(four.getLane(3).output));
    EXPECT_TRUE(std::isnan(four.getLane(0).output));
}

TEST(DrivenSVF4, MaskedStoreKeepsTheOtherLanes)
{
    CDrivenSVF4 four;
    for (int l = 0; l < 4; ++l)
        four.setCutoffTarget(l, 0.05f * static_cast<float>(l + 1));
    const CDrivenSVF4 before = four;
    CDrivenSVF4::Regs r = four.load();
    for (int n = 0; n < 10; ++n)
        CDrivenSVF4::step(r, _mm_set1_ps(0.5f));
    // Lanes 0 and 2 take the new state, 1 and 3 stay.
    four.store(r, _mm_castsi128_ps(_mm_setr_epi32(-1, 0, -1, 0)));
    CDrivenSVF ref0;
    ref0.setState(before.getLane(0));
    for (int n = 0; n < 10; ++n)
        ref0.processSample(0.5f);
    EXPECT_TRUE(sameState(four.getLane(0), ref0.getState()));
    EXPECT_TRUE(sameState(four.getLane(1), before.getLane(1)));
    EXPECT_TRUE(sameState(four.getLane(3), before.getLane(3)));
    EXPECT_NE(four.getLane(2).band, 0.0f);

    // Flipping the offsets of the masked lanes only.
    four.flipDenormal(_mm_castsi128_ps(_mm_setr_epi32(0, -1, 0, 0)));
    EXPECT_EQ(four.getLane(1).denormal, -before.getLane(1).denormal);
    EXPECT_EQ(four.getLane(3).denormal, before.getLane(3).denormal);
}
