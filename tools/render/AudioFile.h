// Audio file input and output through libsndfile. Input: anything libsndfile reads (WAV,
// AIFF, FLAC, OGG, ...), mono or stereo. Output: WAV or FLAC chosen by the file extension,
// written to a temporary file and renamed into place when complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace render {

/// Deinterleaved audio held in memory: one vector of frames per channel.
struct CAudioBuffer {
    int sampleRate = 44100;
    std::vector<std::vector<float>> channels;
    /// Samples that were NaN or infinite in the file and were read as silence.
    size_t repairedSamples = 0;

    size_t frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

/// Replaces the non-finite samples among samples[0..n) with silence; returns how many there
/// were.
std::size_t silenceNonFinite(float* samples, std::size_t n);

/// Reads a whole file; a mono file is duplicated into two channels, and NaN or infinite
/// samples (float files) become 0 so they cannot poison an effect's state. Throws
/// CRenderError naming the file.
CAudioBuffer readAudioFile(const std::filesystem::path& path);

enum class ESampleFormat { kPcm16, kPcm24, kFloat32 };

/// Parses "16", "24", "float" or "32" (also "pcm16", "pcm24", "f32"); false if unknown.
bool parseSampleFormat(const std::string& text, ESampleFormat& format);

/// Streams stereo frames into a temporary file beside the target; commit() renames it.
class CAudioWriter {
public:
    /// Throws CRenderError for an unsupported extension or format, or an unwritable folder.
    CAudioWriter(const std::filesystem::path& target, int sampleRate, ESampleFormat format);
    ~CAudioWriter();
    CAudioWriter(const CAudioWriter&) = delete;
    CAudioWriter& operator=(const CAudioWriter&) = delete;

    /// Appends `frames` stereo frames from two channel arrays.
    void write(const float* left, const float* right, size_t frames);
    /// Finishes the file (header sizes) and renames it onto the target.
    void commit();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace render
