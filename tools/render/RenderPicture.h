// The --png picture: input and output side by side, each as a stereo waveform over a
// log-frequency spectrogram on a shared time axis, titled with the program and its main
// settings, and the two filter maps underneath when the state chunk carries them.
#pragma once

#include "AudioFile.h"
#include "StateChunk.h"

#include <string>
#include <utility>
#include <vector>

namespace render {

struct CPictureContent {
    std::string title;  // e.g. Skorvaline v1.2 - program 0 "Default"
    /// Short (name, value with unit) pairs listed under the title.
    std::vector<std::pair<std::string, std::string>> settings;
    std::string inputLabel, outputLabel;
    const CAudioBuffer* input = nullptr;
    const CAudioBuffer* output = nullptr;
    /// Frame where the input ends and the tail begins in the output (0: not marked).
    size_t tailStart = 0;
    /// Filter maps, drawn only when showMaps; a map without pixels gets a note in its box.
    CFilterMapPicture mapLeft, mapRight;
    std::string mapLeftLabel, mapRightLabel;
    bool showMaps = false;
};

/// Draws the picture; returns the PNG file's bytes. Throws CRenderError if cairo fails.
std::string drawPicturePng(const CPictureContent& content);

}  // namespace render
