// The built-in demo input: an eight-second phrase synthesised in code (plucked strings by
// Karplus-Strong, a kick, a snare and hi-hats at 120 BPM) so the tool can show what the
// effect does without any file. Sparse at the end, so echoes stand out in the output.
#pragma once

#include "AudioFile.h"

namespace render {

/// Tempo the phrase is written in; the demo tells the plug-in this tempo.
constexpr double kDemoTempo = 120.0;
/// Length of the phrase: 16 beats at 120 BPM.
constexpr double kDemoSeconds = 8.0;

/// Synthesises the stereo phrase at `sampleRate`. The result depends on nothing but the
/// rate: the noise comes from a fixed-seed std::mt19937 with our own integer-to-float step.
CAudioBuffer makeDemoPhrase(int sampleRate = 44100);

}  // namespace render
