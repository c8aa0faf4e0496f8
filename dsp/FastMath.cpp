// Compile-time construction of the exponential tables. The values are computed in
// double (Taylor series on a reduced argument, integer powers of e^-1 by repeated
// multiplication) and rounded once to float, which matches std::exp to within one float
// rounding; a constant expression also makes the tables constant-initialised.
#include "dsp/FastMath.h"

namespace skv {
namespace {

// e^x for |x| <= 0.5 by its Taylor series; 20 terms are far below double precision.
constexpr double expSmall(double x)
{
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k <= 20; ++k) {
        term *= x / k;
        sum += term;
    }
    return sum;
}

constexpr ExpTables buildTables()
{
    ExpTables t{};
    // hi[i] = e^(-q) * e^(-r/64) with i = 64 q + r.
    double wholePowers[65] = {};
    constexpr double kInvE = 0.36787944117144233;  // e^-1 to double precision
    wholePowers[0] = 1.0;
    for (int q = 1; q <= 64; ++q)
        wholePowers[q] = wholePowers[q - 1] * kInvE;
    double fractionPowers[64] = {};
    for (int r = 0; r < 64; ++r)
        fractionPowers[r] = r <= 32 ? expSmall(-r / 64.0) : expSmall(1.0 - r / 64.0) * kInvE;
    for (int i = 0; i < kExpHiSize; ++i)
        t.hi[i] = static_cast<float>(wholePowers[i / 64] * fractionPowers[i % 64]);
    for (int j = 0; j < kExpLoSize; ++j)
        t.lo[j] = static_cast<float>(expSmall(-j / 131072.0));
    return t;
}

}  // namespace

extern const ExpTables kExpTables;
constexpr ExpTables kExpTables = buildTables();

}  // namespace skv
