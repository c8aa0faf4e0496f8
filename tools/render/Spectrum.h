// Short-time spectra for the picture: a plain radix-2 FFT and one Hann-windowed spectrum
// per picture column, in dB relative to a full-scale sine.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace render {

/// In-place forward FFT; the size must be a power of two.
void fftInPlace(std::vector<std::complex<double>>& data);

/// Magnitude spectra on a grid of columns; bins 0..fftSize/2.
struct CSpectrogram {
    int fftSize = 0;
    int sampleRate = 0;
    int columns = 0;
    std::vector<std::vector<float>> dB;  // [column][bin]

    /// Level at `hz` in `column`: interpolated between bins below, the loudest bin of the
    /// span [hzLow, hzHigh] where one picture row covers several bins.
    float levelAt(int column, double hzLow, double hz, double hzHigh) const;
};

/// Spectra of `signal` centred on `columns` evenly spaced times covering `spanFrames` frames
/// (which may exceed the signal: the rest reads as silence); the first and last windows are
/// moved inward so that they lie inside the span.
CSpectrogram computeSpectrogram(const std::vector<float>& signal, int sampleRate, size_t spanFrames,
                                int columns, int fftSize = 4096);

}  // namespace render
