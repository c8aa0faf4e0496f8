// The demo phrase's instruments (a plucked string, kick, snare, hi-hat) and its score.
#include "DemoPhrase.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace render {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Uniform noise in [-1, 1) from the raw 32-bit engine output; the standard distributions
// are implementation-defined, this conversion is not.
class CNoise {
public:
    explicit CNoise(unsigned seed) : engine_(seed) {}
    float next() { return static_cast<float>(static_cast<double>(engine_()) / 2147483648.0 - 1.0); }

private:
    std::mt19937 engine_;
};

struct CStereo {
    std::vector<float>& left;
    std::vector<float>& right;

    void add(size_t at, float value, float pan)
    {
        if (at >= left.size())
            return;
        // Constant-power pan, pan in -1 (left) .. 1 (right).
        double angle = (pan + 1.0) * kPi / 4.0;
        left[at] += static_cast<float>(value * std::cos(angle));
        right[at] += static_cast<float>(value * std::sin(angle));
    }
};

double midiToHz(int note)
{
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

void pluck(CStereo& out, CNoise& noise, int sampleRate, size_t start, int note, float level,
           float pan, double seconds)
{
    const double hz = midiToHz(note);
    const size_t period = std::max<size_t>(2, static_cast<size_t>(std::lround(sampleRate / hz)));
    std::vector<float> ring(period);
    // A softened noise burst makes a rounder attack than raw white noise.
    float smooth = 0.0f;
    for (auto& s : ring) {
        smooth = 0.5f * smooth + 0.5f * noise.next();
        s = smooth;
    }
    const size_t length = static_cast<size_t>(seconds * sampleRate);
    // Loss per period chosen so the string falls by 60 dB over about `seconds`.
    const float loss =
        static_cast<float>(std::pow(0.001, static_cast<double>(period) / (seconds * sampleRate)));
    size_t index = 0;
    const size_t fade = static_cast<size_t>(0.02 * sampleRate);
    for (size_t i = 0; i < length; ++i) {
        size_t nextIndex = index + 1 == period ? 0 : index + 1;
        float y = ring[index];
        ring[index] = 0.5f * (ring[index] + ring[nextIndex]) * loss;
        float gain = i + fade > length ? static_cast<float>(length - i) / fade : 1.0f;
        out.add(start + i, y * level * gain, pan);
        index = nextIndex;
    }
}

void kick(CStereo& out, int sampleRate, size_t start, float level)
{
    const size_t length = static_cast<size_t>(0.45 * sampleRate);
    double phase = 0.0;
    for (size_t i = 0; i < length; ++i) {
        double t = static_cast<double>(i) / sampleRate;
        double hz = 45.0 + 110.0 * std::exp(-t * 30.0);
        phase += 2.0 * kPi * hz / sampleRate;
        double env = std::exp(-t * 9.0) * std::min(1.0, t * 2000.0);
        out.add(start + i, static_cast<float>(std::sin(phase) * env * level), 0.0f);
    }
}

void snare(CStereo& out, CNoise& noise, int sampleRate, size_t start, float level)
{
    const size_t length = static_cast<size_t>(0.25 * sampleRate);
    float previous = 0.0f;
    double phase = 0.0;
    for (size_t i = 0; i < length; ++i) {
        double t = static_cast<double>(i) / sampleRate;
        float n = noise.next();
        float bright = n - 0.6f * previous;  // first difference: tilts the noise upward
        previous = n;
        phase += 2.0 * kPi * 190.0 / sampleRate;
        double body = std::sin(phase) * std::exp(-t * 35.0);
        double value = (0.55 * bright * std::exp(-t * 22.0) + 0.6 * body) * level;
        out.add(start + i, static_cast<float>(value), 0.1f);
    }
}

void hat(CStereo& out, CNoise& noise, int sampleRate, size_t start, float level, float pan)
{
    const size_t length = static_cast<size_t>(0.06 * sampleRate);
    float previous = 0.0f;
    for (size_t i = 0; i < length; ++i) {
        double t = static_cast<double>(i) / sampleRate;
        float n = noise.next();
        float high = n - previous;
        previous = n;
        out.add(start + i, static_cast<float>(high * std::exp(-t * 70.0) * level), pan);
    }
}

}  // namespace

CAudioBuffer makeDemoPhrase(int sampleRate)
{
    CAudioBuffer buffer;
    buffer.sampleRate = sampleRate;
    const size_t frames = static_cast<size_t>(std::lround(kDemoSeconds * sampleRate));
    buffer.channels.assign(2, std::vector<float>(frames, 0.0f));
    CStereo out{buffer.channels[0], buffer.channels[1]};
    CNoise noise(20240611u);

    const double beat = 60.0 / kDemoTempo;
    auto at = [&](double beats) {
        return static_cast<size_t>(std::lround(beats * beat * sampleRate));
    };

    // Plucked line in A minor pentatonic, in eighths: {beat, MIDI note, level, pan}.
    struct Note {
        double beat;
        int note;
        float level;
        float pan;
    };
    const Note notes[] = {
        {0.0, 57, 0.55f, -0.3f}, {0.5, 64, 0.40f, 0.3f},   {1.0, 69, 0.45f, -0.1f},
        {1.5, 72, 0.35f, 0.4f},  {2.5, 67, 0.40f, -0.4f},  {3.0, 64, 0.40f, 0.2f},
        {4.0, 60, 0.55f, -0.3f}, {4.5, 67, 0.40f, 0.3f},   {5.0, 72, 0.45f, -0.1f},
        {5.5, 76, 0.35f, 0.4f},  {6.5, 74, 0.40f, -0.4f},  {7.0, 72, 0.40f, 0.2f},
        {8.0, 62, 0.55f, -0.3f}, {8.5, 69, 0.40f, 0.3f},   {9.0, 74, 0.45f, -0.1f},
        {9.75, 72, 0.35f, 0.4f}, {10.5, 69, 0.40f, -0.2f}, {11.0, 67, 0.40f, 0.3f},
        {12.0, 57, 0.60f, 0.0f}, {12.0, 64, 0.40f, -0.5f}, {12.0, 69, 0.40f, 0.5f},
    };
    // The closing chord dies away (with its own short fade) just as the phrase ends, so the
    // phrase never stops with a click.
    for (const Note& n : notes)
        pluck(out, noise, sampleRate, at(n.beat), n.note, n.level, n.pan,
              n.beat >= 12.0 ? kDemoSeconds - 12.0 * 60.0 / kDemoTempo : 1.4);

    for (double b : {0.0, 2.0, 2.75, 4.0, 6.0, 6.75, 8.0, 10.0, 10.75, 12.0})
        kick(out, sampleRate, at(b), 0.8f);
    for (double b : {1.0, 3.0, 5.0, 7.0, 9.0, 11.0})
        snare(out, noise, sampleRate, at(b), 0.5f);
    for (int i = 0; i < 24; ++i)
        hat(out, noise, sampleRate, at(0.5 + i * 0.5), i % 2 ? 0.12f : 0.2f, i % 2 ? 0.5f : -0.5f);

    // Leave 6 dB of headroom for the effect's feedback to build up into.
    float peak = 0.0f;
    for (const auto& ch : buffer.channels)
        for (float s : ch)
            peak = std::max(peak, std::fabs(s));
    if (peak > 0.0f) {
        const float scale = 0.5f / peak;
        for (auto& ch : buffer.channels)
            for (float& s : ch)
                s *= scale;
    }
    return buffer;
}

}  // namespace render
