// The host's transport as the effect's tempo poll expects it: a VST 2.x time record kept from
// the last time:Position the LV2 host sent, and moved on by each block while the transport
// rolls, since hosts send a position only when something changes. Written and read on the
// audio thread only (run() applies positions, the engine's poll reads the record).
#pragma once

#include "vst/VstAbi.h"

#include <cstdint>
#include <optional>

namespace skv::lv2 {

/// The fields of one time:Position object; absent ones stay empty. Beats count in the time
/// signature's beat unit, as LV2 counts them.
struct TimePosition {
    std::optional<double> beatsPerMinute;
    std::optional<double> speed;  // 0 stopped, 1 playing at normal speed
    std::optional<std::int64_t> bar;
    std::optional<double> barBeat;  // beats since the bar started
    std::optional<double> beat;     // beats since the song started
    std::optional<double> beatsPerBar;
    std::optional<double> beatUnit;  // 4 for quarter notes
    std::optional<std::int64_t> frame;
};

class CHostTransport {
public:
    /// Takes a position: tempo, signature and positions it carries replace the held ones.
    void apply(const TimePosition& position);
    /// Moves the song position on by a processed block while the transport rolls.
    void advance(std::uint32_t frames, double sampleRate);
    /// The record for audioMasterGetTime; null until the host sent a position, so the effect
    /// keeps its defaults (120 BPM, 4/4) with hosts that send none.
    const VstTimeInfo* timeInfo() const { return known ? &info : nullptr; }

private:
    // Length of one beat of the signature in quarter notes.
    double quartersPerBeat() const;

    VstTimeInfo info{};
    double speed = 0.0;
    bool known = false;
};

}  // namespace skv::lv2
