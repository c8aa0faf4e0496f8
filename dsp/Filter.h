// Recursive filter in direct form II with float state and a sign-flipping double offset
// against denormals: the down-sampling low-pass of the output stage's 2x path (Filter<5>).
// Its state is the last N-1 values of the recursion, newest first; a run of steps keeps it in
// locals (registers) and writes it back once, so nothing is shifted in memory per step.
#pragma once

#include <array>
#include <cstddef>
#include <utility>

/// Recursive filter of order N-1 with N coefficients per side (Filter<5>: fourth order).
/// Audio thread only, except setCoefficients as noted.
template <int N>
class Filter {
public:
    static_assert(N >= 2, "at least one feedback tap");
    static constexpr int kStateTaps = N - 1;

    /// Loads a0..aN and b0..bN (N+1 values each; a0 and the last slot take no part).
    /// Construction thread, or the audio thread between samples.
    void setCoefficients(const double* bCoeffs, const double* aCoeffs) noexcept;

    /// Silences the state and the last output; the offset carries on with its sign.
    void clear() noexcept;

    /// One step: w0 = x - a1 w1 - ... - a(N-1) w(N-1) + denormal, output b0 w0 + ... .
    float processSample(double x) noexcept;

    /// The state of a run of steps held in locals (a hot loop loads it, steps, stores it),
    /// with copies of the coefficients so that the whole recursion can live in registers.
    struct Run {
        std::array<float, kStateTaps> w;      ///< w[0] is the newest stored value
        std::array<float, kStateTaps> negA;   ///< -a1 .. -a(N-1)
        std::array<float, kStateTaps + 1> b;  ///< b0 .. b(N-1)
        double denormal;
    };
    Run beginRun() const noexcept;
    inline float step(Run& run, double x) noexcept;
    /// Stores the run's state, and `output` as the filter's last output.
    void endRun(const Run& run, float output) noexcept;

    double getDenormal() const noexcept { return denormal; }
    float getNegA(int i) const noexcept { return negA[i]; }
    float getB(int i) const noexcept { return b[i]; }
    float getLastOutput() const noexcept { return lastOutput; }
    /// The stored values of the recursion, newest first.
    const std::array<float, kStateTaps>& getState() const noexcept { return state; }

    /// Magnitude of the offset added to every recursion; its sign flips every step.
    static constexpr double kDenormalOffset = 1e-13;

private:
    template <std::size_t... K, std::size_t... S>
    inline float stepImpl(Run& r, double x, std::index_sequence<K...>,
                          std::index_sequence<S...>) noexcept;

    std::array<float, kStateTaps> state{};
    float lastOutput = 0.0f;
    double denormal = kDenormalOffset;
    float negA[N + 1] = {};
    float b[N + 1] = {};
};

// ---------------------------------------------------------------------------------------------

template <int N>
void Filter<N>::setCoefficients(const double* bCoeffs, const double* aCoeffs) noexcept
{
    for (int i = 0; i <= N; ++i) {
        negA[i] = static_cast<float>(-aCoeffs[i]);
        b[i] = static_cast<float>(bCoeffs[i]);
    }
}

template <int N>
void Filter<N>::clear() noexcept
{
    state.fill(0.0f);
    lastOutput = 0.0f;
}

template <int N>
typename Filter<N>::Run Filter<N>::beginRun() const noexcept
{
    Run r;
    r.w = state;
    for (int k = 0; k < kStateTaps; ++k) {
        r.negA[k] = negA[k + 1];
        r.b[k] = b[k];
    }
    r.b[kStateTaps] = b[kStateTaps];
    r.denormal = denormal;
    return r;
}

template <int N>
template <std::size_t... K, std::size_t... S>
inline float Filter<N>::stepImpl(Run& r, double x, std::index_sequence<K...>,
                                 std::index_sequence<S...>) noexcept
{
    // The input and the offset meet in double; the taps are summed in float, from the oldest
    // to the newest, so that only one product and one addition wait for the previous step
    // (a double sum would put two conversions on that chain as well and halve the speed of
    // the 2x path). The difference to a double sum is float rounding, a few units in the
    // last place of w0; the filter is well damped, so it does not build up.
    float acc = static_cast<float>(x + r.denormal);
    ((acc += r.negA[kStateTaps - 1 - K] * r.w[kStateTaps - 1 - K]), ...);
    const float w0 = acc;
    r.denormal = -r.denormal;
    float y = r.b[0] * w0;
    ((y += r.b[K + 1] * r.w[K]), ...);
    r.w = std::array<float, kStateTaps>{w0, r.w[S]...};
    return y;
}

template <int N>
inline float Filter<N>::step(Run& r, double x) noexcept
{
    return stepImpl(r, x, std::make_index_sequence<kStateTaps>(),
                    std::make_index_sequence<kStateTaps - 1>());
}

template <int N>
void Filter<N>::endRun(const Run& run, float output) noexcept
{
    state = run.w;
    denormal = run.denormal;
    lastOutput = output;
}

template <int N>
float Filter<N>::processSample(double x) noexcept
{
    Run r = beginRun();
    const float y = step(r, x);
    endRun(r, y);
    return y;
}
