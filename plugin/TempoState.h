// The tempo in force, shared by the audio thread (whose tempo poll reads the host) and the
// user-interface thread (program selection sets a program's tempo; the delay and step rules and
// the state read it). Both numbers travel in one 64-bit atomic, so a reader never mixes the
// tempo of one update with the samples per beat of another, and neither side ever waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

namespace skv {

struct TempoSnapshot {
    float bpm = 120.0f;
    /// Rounded samples per beat at the host's sample rate. Held as a float: exact for every
    /// tempo above 0.2 BPM at 192 kHz (below 2^24 samples), and the delay rule's 4-second
    /// ceiling makes longer beats indistinguishable anyway.
    float samplesPerBeat = 22050.0f;

    bool operator==(const TempoSnapshot& o) const
    {
        return bpm == o.bpm && samplesPerBeat == o.samplesPerBeat;
    }
    bool operator!=(const TempoSnapshot& o) const { return !(*this == o); }
};

class CTempoState {
public:
    CTempoState() { bits.store(pack(TempoSnapshot{}), std::memory_order_relaxed); }

    TempoSnapshot load() const { return unpack(bits.load(std::memory_order_acquire)); }
    void store(const TempoSnapshot& t) { bits.store(pack(t), std::memory_order_release); }

    /// The tempo poll's store: returns the snapshot it replaced. A program selected on the
    /// other thread between the poll's read and its store is what the poll then compares
    /// against, so a tempo set by a program is never lost from the comparison.
    TempoSnapshot replace(const TempoSnapshot& fresh)
    {
        return unpack(bits.exchange(pack(fresh), std::memory_order_acq_rel));
    }

private:
    static std::uint64_t pack(const TempoSnapshot& t)
    {
        std::uint32_t a = 0, b = 0;
        std::memcpy(&a, &t.bpm, sizeof a);
        std::memcpy(&b, &t.samplesPerBeat, sizeof b);
        return (std::uint64_t(a) << 32) | b;
    }
    static TempoSnapshot unpack(std::uint64_t v)
    {
        TempoSnapshot t;
        const auto a = static_cast<std::uint32_t>(v >> 32);
        const auto b = static_cast<std::uint32_t>(v);
        std::memcpy(&t.bpm, &a, sizeof a);
        std::memcpy(&t.samplesPerBeat, &b, sizeof b);
        return t;
    }

    std::atomic<std::uint64_t> bits{0};
};

}  // namespace skv
