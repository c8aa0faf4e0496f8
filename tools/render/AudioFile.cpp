// Reading audio files whole and writing the render through libsndfile into a temporary
// file beside the target.
#include "AudioFile.h"

#include "RenderError.h"
#include "TempFile.h"
#include "Text.h"

#include <algorithm>
#include <cmath>
#include <sndfile.h>

namespace fs = std::filesystem;

namespace render {

namespace {

// Frames read or written per libsndfile call; keeps the interleaving buffer small.
constexpr size_t kChunkFrames = 8192;

}  // namespace

CAudioBuffer readAudioFile(const fs::path& path)
{
    std::error_code ec;
    if (!fs::exists(path, ec))
        throw CRenderError(path.string() + ": no such file");
    if (fs::is_directory(path, ec))
        throw CRenderError(path.string() + ": is a folder, not an audio file");

    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        std::string reason = sf_strerror(nullptr);
        throw CRenderError(path.string() + ": cannot read audio (" + reason + ")");
    }
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> guard(file, sf_close);
    if (info.channels < 1 || info.channels > 2)
        throw CRenderError(path.string() + ": has " + std::to_string(info.channels) +
                           " channels; only mono and stereo files are supported");
    if (info.samplerate < 1000 || info.samplerate > 768000)
        throw CRenderError(path.string() + ": unsupported sample rate " +
                           std::to_string(info.samplerate) + " Hz");

    CAudioBuffer buffer;
    buffer.sampleRate = info.samplerate;
    buffer.channels.assign(2, {});
    // Streamed formats may report no length or a wrong one; the reservation is a hint only,
    // and the vectors grow with what is really read.
    if (info.frames > 0 && info.frames < (sf_count_t(1) << 31)) {
        buffer.channels[0].reserve(static_cast<size_t>(info.frames));
        buffer.channels[1].reserve(static_cast<size_t>(info.frames));
    }
    const int nch = info.channels;
    std::vector<float> interleaved(kChunkFrames * static_cast<size_t>(nch));
    for (;;) {
        checkInterrupt();
        sf_count_t got = sf_readf_float(file, interleaved.data(), kChunkFrames);
        if (got <= 0)
            break;
        const size_t values = static_cast<size_t>(got) * static_cast<size_t>(nch);
        // A NaN fed to a recursive filter stays in its state for good; silence is the harmless
        // stand-in, counted for the warning.
        buffer.repairedSamples += silenceNonFinite(interleaved.data(), values);
        for (sf_count_t i = 0; i < got; ++i) {
            float l = interleaved[static_cast<size_t>(i * nch)];
            // A mono file feeds both inputs, so the stereo effect hears it in the centre.
            float r = nch == 2 ? interleaved[static_cast<size_t>(i * nch + 1)] : l;
            buffer.channels[0].push_back(l);
            buffer.channels[1].push_back(r);
        }
    }
    if (sf_error(file) != SF_ERR_NO_ERROR)
        throw CRenderError(path.string() + ": read error (" + sf_strerror(file) + ")");
    if (buffer.frames() == 0)
        throw CRenderError(path.string() + ": contains no audio");
    return buffer;
}

bool parseSampleFormat(const std::string& text, ESampleFormat& format)
{
    const std::string t = lowerCase(text);
    if (t == "16" || t == "pcm16" || t == "s16") {
        format = ESampleFormat::kPcm16;
    }
    else if (t == "24" || t == "pcm24" || t == "s24") {
        format = ESampleFormat::kPcm24;
    }
    else if (t == "float" || t == "32" || t == "f32" || t == "float32") {
        format = ESampleFormat::kFloat32;
    }
    else {
        return false;
    }
    return true;
}

struct CAudioWriter::Impl {
    explicit Impl(const fs::path& target) : temp(target) {}
    CTempFile temp;
    SNDFILE* file = nullptr;
    std::vector<float> interleaved;
};

CAudioWriter::CAudioWriter(const fs::path& target, int sampleRate, ESampleFormat format)
{
    const std::string ext = lowerCase(target.extension().string());
    int major = 0;
    if (ext == ".wav") {
        major = SF_FORMAT_WAV;
    }
    else if (ext == ".flac") {
        major = SF_FORMAT_FLAC;
    }
    else {
        throw CRenderError(target.string() +
                           ": unsupported output type (use a .wav or .flac file name)");
    }
    int sub = SF_FORMAT_PCM_24;
    if (format == ESampleFormat::kPcm16)
        sub = SF_FORMAT_PCM_16;
    if (format == ESampleFormat::kFloat32) {
        if (major == SF_FORMAT_FLAC)
            throw CRenderError(target.string() + ": FLAC cannot hold 32-bit float samples "
                                                 "(use --format 16 or 24, or a .wav file)");
        sub = SF_FORMAT_FLOAT;
    }
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = major | sub;
    if (!sf_format_check(&info))
        throw CRenderError(target.string() + ": libsndfile cannot write this format");

    impl_ = std::make_unique<Impl>(target);
    // The descriptor stays with the temporary file, which flushes and closes it on commit.
    impl_->file = sf_open_fd(impl_->temp.fd(), SFM_WRITE, &info, SF_FALSE);
    if (!impl_->file)
        throw CRenderError(target.string() + ": cannot write audio (" + sf_strerror(nullptr) + ")");
    // Integer formats clip instead of wrapping around when the effect goes above 0 dBFS.
    sf_command(impl_->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    impl_->interleaved.resize(kChunkFrames * 2);
}

CAudioWriter::~CAudioWriter()
{
    if (impl_ && impl_->file)
        sf_close(impl_->file);
}

void CAudioWriter::write(const float* left, const float* right, size_t frames)
{
    while (frames > 0) {
        size_t n = std::min(frames, kChunkFrames);
        for (size_t i = 0; i < n; ++i) {
            impl_->interleaved[2 * i] = left[i];
            impl_->interleaved[2 * i + 1] = right[i];
        }
        sf_count_t put =
            sf_writef_float(impl_->file, impl_->interleaved.data(), static_cast<sf_count_t>(n));
        if (put != static_cast<sf_count_t>(n))
            throw CRenderError(impl_->temp.target().string() + ": write failed (" +
                               sf_strerror(impl_->file) + ")");
        left += n;
        right += n;
        frames -= n;
    }
}

void CAudioWriter::commit()
{
    SNDFILE* file = impl_->file;
    impl_->file = nullptr;
    if (sf_close(file) != 0)
        throw CRenderError(impl_->temp.target().string() + ": write failed while closing");
    impl_->temp.commit();
}

std::size_t silenceNonFinite(float* samples, std::size_t n)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(samples[i])) {
            samples[i] = 0.0f;
            ++count;
        }
    }
    return count;
}

}  // namespace render
