// The effect behind an LV2 front door. CLv2Wrapper owns one fxSkorvaline, plays the VST 2.x
// host for it through an internal host callback (version, and the time record kept from the
// host's time:Position), and drives it through its AudioEffect interface: a control port the
// host changed becomes a setParameter, MIDI becomes processEvents, run() is processReplacing,
// and the LV2 state is the bank chunk as document text. Nothing of the effect knows LV2.
//
// Threads, as LV2 defines them: create, activate, deactivate, restore and the destructor are
// the instantiation class; run() is the audio thread (no allocation, no host calls); save()
// may run beside run(), as getChunk may beside process in a VST 2.x host.
// No UI is declared yet: the editor window, once it exists, comes as an LV2 X11 UI opened on
// this instance through instance access.
#pragma once

#include "lv2/HostTransport.h"
#include "lv2/Lv2Ports.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <array>
#include <memory>

class fxSkorvaline;

namespace skv::lv2 {

class CLv2Wrapper {
public:
    /// Null when the effect cannot be created. Without urid:map (a host that gives no
    /// features) the instance processes audio and control ports, but takes no events and
    /// keeps no state.
    static std::unique_ptr<CLv2Wrapper> create(double sampleRate,
                                               const LV2_Feature* const* features);
    ~CLv2Wrapper();
    CLv2Wrapper(const CLv2Wrapper&) = delete;
    CLv2Wrapper& operator=(const CLv2Wrapper&) = delete;

    void connectPort(std::uint32_t port, void* data);
    void activate();
    void deactivate();
    /// One block: changed control ports, then the control sequence's events, then the audio.
    void run(std::uint32_t frames);

    LV2_State_Status save(LV2_State_Store_Function store, LV2_State_Handle handle,
                          const LV2_Feature* const* features);
    /// A state without the bank property resets every program to its defaults; a property
    /// that is not a readable bank document is refused and changes nothing.
    LV2_State_Status restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                             const LV2_Feature* const* features);

    fxSkorvaline& effect() { return *fx; }
    /// Block length the host announced as nominal (or its maximum), 0 when it gave none.
    std::uint32_t nominalBlockLength() const { return nominalBlock; }

private:
    CLv2Wrapper(double sampleRate, LV2_URID_Map* map);
    struct Urids {
        LV2_URID atomBlank, atomObject, atomInt, atomLong, atomFloat, atomDouble, atomString;
        LV2_URID midiEvent, timePosition, timeBar, timeBarBeat, timeBeat, timeBeatUnit,
            timeBeatsPerBar, timeBeatsPerMinute, timeSpeed, timeFrame, bank;
        LV2_URID nominalBlockLength, maxBlockLength;
    };
    static VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                  void* ptr, float opt);
    void readOptions(const LV2_Feature* const* features);
    void applyChangedPorts();
    void handleEvents();
    /// After a restore the ports' present values count as seen, so the restored parameters
    /// stand until the host moves a port.
    void takePortValuesAsSeen();

    std::unique_ptr<fxSkorvaline> fx;
    CHostTransport transport;
    Urids urids{};
    double sampleRate;
    bool hasMap;
    std::uint32_t nominalBlock = 0;

    const float* audioIn[2] = {nullptr, nullptr};
    float* audioOut[2] = {nullptr, nullptr};
    const LV2_Atom_Sequence* control = nullptr;
    std::array<const float*, kNumParams> paramPorts{};
    float* positionPorts[2] = {nullptr, nullptr};
    // The value of each control port when it was last looked at; a port acts when it differs.
    std::array<float, kNumParams> seen{};
};

}  // namespace skv::lv2
