// Conversion of LV2 time positions (beats in the signature's unit, bars counted from 0) into
// the quarter-note positions of a VST 2.x time record.
#include "lv2/HostTransport.h"

#include <cmath>

namespace skv::lv2 {

namespace {

bool usable(const std::optional<double>& v)
{
    return v && std::isfinite(*v);
}

}  // namespace

double CHostTransport::quartersPerBeat() const
{
    return 4.0 / info.timeSigDenominator;
}

void CHostTransport::apply(const TimePosition& p)
{
    if (!known) {
        info.timeSigNumerator = 4;
        info.timeSigDenominator = 4;
        known = true;
    }
    info.flags |= kVstTransportChanged;
    if (usable(p.beatsPerMinute) && *p.beatsPerMinute > 0.0) {
        info.tempo = *p.beatsPerMinute;
        info.flags |= kVstTempoValid;
    }
    if (usable(p.beatsPerBar) && *p.beatsPerBar >= 1.0 && *p.beatsPerBar < 1000.0 &&
        usable(p.beatUnit) && *p.beatUnit >= 1.0 && *p.beatUnit <= 256.0) {
        info.timeSigNumerator = static_cast<VstInt32>(std::lround(*p.beatsPerBar));
        info.timeSigDenominator = static_cast<VstInt32>(std::lround(*p.beatUnit));
        info.flags |= kVstTimeSigValid;
    }
    const double quarters = quartersPerBeat();
    const double beatsPerBar = info.timeSigNumerator;
    // The song position: the global beat when given, otherwise bar and beat within it.
    if (usable(p.beat)) {
        info.ppqPos = *p.beat * quarters;
        info.flags |= kVstPpqPosValid;
    }
    else if (p.bar && usable(p.barBeat)) {
        info.ppqPos = (static_cast<double>(*p.bar) * beatsPerBar + *p.barBeat) * quarters;
        info.flags |= kVstPpqPosValid;
    }
    if (p.bar) {
        info.barStartPos = static_cast<double>(*p.bar) * beatsPerBar * quarters;
        info.flags |= kVstBarsValid;
    }
    else if (usable(p.beat) && usable(p.barBeat)) {
        info.barStartPos = (*p.beat - *p.barBeat) * quarters;
        info.flags |= kVstBarsValid;
    }
    if (usable(p.speed)) {
        speed = *p.speed;
        if (speed != 0.0) {
            info.flags |= kVstTransportPlaying;
        }
        else {
            info.flags &= ~kVstTransportPlaying;
        }
    }
    if (p.frame) {
        info.samplePos = static_cast<double>(*p.frame);
    }
}

void CHostTransport::advance(std::uint32_t frames, double sampleRate)
{
    if (!known) {
        return;
    }
    // The change flag describes one block only.
    info.flags &= ~kVstTransportChanged;
    if (speed == 0.0 || !(sampleRate > 0.0)) {
        return;
    }
    info.samplePos += frames * speed;
    if (!(info.flags & kVstTempoValid) || !(info.flags & kVstPpqPosValid)) {
        return;
    }
    info.ppqPos += frames * speed * info.tempo / (60.0 * sampleRate);
    if (info.flags & kVstBarsValid) {
        // The bar start follows when the position crosses into the next bar.
        const double barLength = info.timeSigNumerator * quartersPerBeat();
        if (info.ppqPos >= info.barStartPos + barLength || info.ppqPos < info.barStartPos) {
            info.barStartPos +=
                std::floor((info.ppqPos - info.barStartPos) / barLength) * barLength;
        }
    }
}

}  // namespace skv::lv2
