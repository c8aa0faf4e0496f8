// The FFT and the spectrogram grid the picture draws.
#include "Spectrum.h"

#include <algorithm>
#include <cmath>

namespace render {

namespace {
constexpr double kPi = 3.14159265358979323846;
// Floor of the dB scale: digital silence shows as this level rather than minus infinity.
constexpr float kFloorDb = -160.0f;
}  // namespace

// Iterative radix-2: the bit-reversal permutation first, then butterflies of growing span.
// A few thousand columns of 4096 points are nothing next to the render, so no library.
void fftInPlace(std::vector<std::complex<double>>& a)
{
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * kPi / static_cast<double>(len);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < len / 2; ++k) {
                std::complex<double> u = a[i + k];
                std::complex<double> v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= step;
            }
        }
    }
}

float CSpectrogram::levelAt(int column, double hzLow, double hz, double hzHigh) const
{
    const std::vector<float>& spectrum = dB[static_cast<size_t>(column)];
    const double binHz = static_cast<double>(sampleRate) / fftSize;
    const double last = static_cast<double>(spectrum.size() - 1);
    const double lo = std::clamp(hzLow / binHz, 0.0, last);
    const double hi = std::clamp(hzHigh / binHz, 0.0, last);
    // A pixel row that spans several bins (high frequencies on the log axis) shows the
    // loudest of them, so that a narrow peak is not averaged away; a row narrower than a
    // bin (low frequencies) interpolates between its two neighbours.
    if (hi - lo >= 1.0) {
        float best = kFloorDb;
        for (size_t b = static_cast<size_t>(std::ceil(lo)); b <= static_cast<size_t>(hi); ++b)
            best = std::max(best, spectrum[b]);
        return best;
    }
    const double pos = std::clamp(hz / binHz, 0.0, last);
    const size_t b = static_cast<size_t>(pos);
    const size_t b1 = std::min(b + 1, spectrum.size() - 1);
    const double frac = pos - static_cast<double>(b);
    return static_cast<float>(spectrum[b] * (1.0 - frac) + spectrum[b1] * frac);
}

CSpectrogram computeSpectrogram(const std::vector<float>& signal, int sampleRate, size_t spanFrames,
                                int columns, int fftSize)
{
    CSpectrogram s;
    s.fftSize = fftSize;
    s.sampleRate = sampleRate;
    s.columns = std::max(columns, 1);
    std::vector<double> window(static_cast<size_t>(fftSize));
    double windowSum = 0.0;
    for (int i = 0; i < fftSize; ++i) {
        // Hann: low side lobes, so a loud echo does not smear over the whole column.
        window[static_cast<size_t>(i)] = 0.5 - 0.5 * std::cos(2.0 * kPi * i / fftSize);
        windowSum += window[static_cast<size_t>(i)];
    }
    // A full-scale sine gives a peak of windowSum / 2: that is 0 dB.
    const double reference = windowSum / 2.0;
    std::vector<std::complex<double>> buffer(static_cast<size_t>(fftSize));
    s.dB.assign(static_cast<size_t>(s.columns),
                std::vector<float>(static_cast<size_t>(fftSize / 2 + 1)));
    for (int c = 0; c < s.columns; ++c) {
        const double centre = (c + 0.5) * static_cast<double>(spanFrames) / s.columns;
        // Windows stay inside the span where it is long enough: one hanging over its end
        // would see the cut to silence as a broadband click in the last columns.
        long start = static_cast<long>(centre) - fftSize / 2;
        if (spanFrames > static_cast<size_t>(fftSize))
            start = std::clamp(start, 0L, static_cast<long>(spanFrames) - fftSize);
        for (int i = 0; i < fftSize; ++i) {
            const long at = start + i;
            double x = at >= 0 && static_cast<size_t>(at) < signal.size()
                           ? signal[static_cast<size_t>(at)]
                           : 0.0;
            buffer[static_cast<size_t>(i)] = {x * window[static_cast<size_t>(i)], 0.0};
        }
        fftInPlace(buffer);
        std::vector<float>& out = s.dB[static_cast<size_t>(c)];
        for (size_t b = 0; b < out.size(); ++b) {
            const double magnitude = std::abs(buffer[b]) / reference;
            out[b] = magnitude > 1e-8 ? static_cast<float>(20.0 * std::log10(magnitude)) : kFloorDb;
        }
    }
    return s;
}

}  // namespace render
