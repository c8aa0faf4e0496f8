// The effect behind an LV2 front door. CLv2Wrapper owns one fxSkorvaline, plays the VST 2.x
// host for it through an internal host callback (version, and the time record kept from the
// host's time:Position), and drives it through its AudioEffect interface: a control port the
// host changed becomes a setParameter, MIDI becomes processEvents, run() is processReplacing,
// and the LV2 state is the bank chunk as document text. Nothing of the effect knows LV2.
//
// Threads, as LV2 defines them: create, activate, deactivate, restore and the destructor are
// the instantiation class; run() is the audio thread (no allocation, no host calls); save()
// may run beside run(), as getChunk may beside process in a VST 2.x host.
//
// The editor comes as an LV2 X11 UI opened on this instance through instance access. The
// wrapper knows nothing of the editor: the entry point hands it a factory for the effect
// class that carries one, and the UI attaches an IUiLink. What the editor reports to its
// host on the UI thread (audioMasterAutomate, begin and end of a gesture, its own loops'
// audioMasterIdle) is kept here until the UI passes it on through the host's
// write_function; the values written are remembered, so that the host echoing them back
// into the ports is not taken for a change of its own.
#pragma once

#include "lv2/HostTransport.h"
#include "lv2/Lv2Ports.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <array>
#include <atomic>
#include <cstring>
#include <memory>

class fxSkorvaline;

namespace skv::lv2 {

/// The data of the host feature named `uri` in a null-terminated feature list (which may be
/// null), or null when the host does not offer it.
template <typename T>
const T* findFeature(const LV2_Feature* const* features, const char* uri)
{
    for (int i = 0; features && features[i]; ++i) {
        if (std::strcmp(features[i]->URI, uri) == 0) {
            return static_cast<const T*>(features[i]->data);
        }
    }
    return nullptr;
}

/// Makes the effect an instance drives; null when it cannot be made.
using EffectFactory = std::unique_ptr<fxSkorvaline> (*)(audioMasterCallback audioMaster);

/// The open UI of an instance, as the wrapper sees it. Every call comes on the UI thread
/// (the editor's), except instanceGone.
class IUiLink {
public:
    /// The editor's own loop (a gesture, a menu) gives the host time: the UI passes on the
    /// changes made so far, so that the host follows while the loop runs.
    virtual void hostIdle() = 0;
    /// A gesture on parameter index begins (true) or ends.
    virtual void gesture(int index, bool begin) = 0;
    /// The instance is being destroyed before its UI: the link must not reach it any more.
    virtual void instanceGone() = 0;

protected:
    ~IUiLink() = default;
};

class CLv2Wrapper {
public:
    /// Null when the effect cannot be created. Without urid:map (a host that gives no
    /// features) the instance processes audio and control ports, but takes no events and
    /// keeps no state. factory null: the effect without editor.
    static std::unique_ptr<CLv2Wrapper>
    create(double sampleRate, const LV2_Feature* const* features, EffectFactory factory = nullptr);
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

    /// UI thread. One UI at a time: false when another is attached.
    bool attachUi(IUiLink* link);
    /// UI thread; nothing when link is not the attached one.
    void detachUi(IUiLink* link);
    /// UI thread: hands every parameter the editor has set since the last call, with its
    /// latest value, to send(index, value), and remembers the value as one the host will
    /// write back into the parameter's port.
    template <typename Send>
    void takeEditorChanges(Send&& send)
    {
        for (int i = 0; i < kNumParams; ++i) {
            if (editorChanged[i].exchange(false, std::memory_order_acq_rel)) {
                const float value = editorValue[i].load(std::memory_order_relaxed);
                expectEcho(i, value);
                send(i, value);
            }
        }
    }
    /// Block length the host announced as nominal (or its maximum), 0 when it gave none.
    std::uint32_t nominalBlockLength() const { return nominalBlock; }

private:
    CLv2Wrapper(double sampleRate, LV2_URID_Map* map, EffectFactory factory);
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
    /// Values written to a port for the host, oldest first, until the host's echo of each
    /// arrives. One writer (the UI thread), one reader (run()); when full, further values go
    /// unremembered and their echo acts as a change from the host (the value the effect has).
    struct EchoQueue {
        static constexpr unsigned kSlots = 8;
        std::array<std::atomic<float>, kSlots> values{};
        std::atomic<unsigned> head{0};  // written by the UI thread
        std::atomic<unsigned> tail{0};  // written by run()
    };
    void expectEcho(int index, float value);
    /// run(): whether a port's new value is the echo of one the UI wrote; if so it and the
    /// values written before it are done with (hosts that deliver only the latest skip those).
    bool consumeEcho(int index, float value);

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

    std::atomic<IUiLink*> ui{nullptr};
    // The editor's changes not yet handed to the UI; any thread may set them.
    std::array<std::atomic<bool>, kNumParams> editorChanged{};
    std::array<std::atomic<float>, kNumParams> editorValue{};
    std::array<EchoQueue, kNumParams> echoes{};
};

}  // namespace skv::lv2
