// The wrapper's work: the internal VST 2.x host, ports to parameters, events, audio and state.
#include "lv2/Lv2Wrapper.h"

#include "lv2/StateDocument.h"
#include "plugin/Skorvaline.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/time/time.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace skv::lv2 {

namespace {

// What the effect hears when it asks for the host's version: a VST 2.4 host.
constexpr VstIntPtr kHostVersion = 2400;
// The engine counts frames in 32-bit integers; larger blocks are handed over in pieces.
constexpr std::uint32_t kMaxPiece = 1u << 30;

bool sameBits(float a, float b)
{
    // Bits, not values: -0 against +0 or two NaNs must count as a change.
    return std::memcmp(&a, &b, sizeof a) == 0;  // NOLINT(bugprone-suspicious-memory-comparison)
}

// Frees a path the host's map-path feature returned, with the host's own function if it has one.
struct PathFreer {
    const LV2_State_Free_Path* freePath;
    void operator()(char* path) const
    {
        if (!path) {
            return;
        }
        if (freePath) {
            freePath->free_path(freePath->handle, path);
        }
        else {
            std::free(path);
        }
    }
};

std::unique_ptr<fxSkorvaline> plainEffect(audioMasterCallback audioMaster)
{
    return std::make_unique<fxSkorvaline>(audioMaster);
}

}  // namespace

std::unique_ptr<CLv2Wrapper>
CLv2Wrapper::create(double sampleRate, const LV2_Feature* const* features, EffectFactory factory)
{
    auto* map = const_cast<LV2_URID_Map*>(findFeature<LV2_URID_Map>(features, LV2_URID__map));
    try {
        std::unique_ptr<CLv2Wrapper> wrapper(
            new CLv2Wrapper(sampleRate, map, factory ? factory : &plainEffect));
        wrapper->readOptions(features);
        return wrapper;
    }
    catch (...) {
        // Nothing may unwind into the host; no instance is the answer.
        return nullptr;
    }
}

CLv2Wrapper::CLv2Wrapper(double rate, LV2_URID_Map* map, EffectFactory factory)
    : sampleRate(rate), hasMap(map != nullptr)
{
    // Without a map every URID stays 0, which no event type or option key ever is.
    auto id = [map](const char* uri) { return map ? map->map(map->handle, uri) : LV2_URID(0); };
    urids = Urids{id(LV2_ATOM__Blank),
                  id(LV2_ATOM__Object),
                  id(LV2_ATOM__Int),
                  id(LV2_ATOM__Long),
                  id(LV2_ATOM__Float),
                  id(LV2_ATOM__Double),
                  id(LV2_ATOM__String),
                  id(LV2_MIDI__MidiEvent),
                  id(LV2_TIME__Position),
                  id(LV2_TIME__bar),
                  id(LV2_TIME__barBeat),
                  id(LV2_TIME__beat),
                  id(LV2_TIME__beatUnit),
                  id(LV2_TIME__beatsPerBar),
                  id(LV2_TIME__beatsPerMinute),
                  id(LV2_TIME__speed),
                  id(LV2_TIME__frame),
                  id(kStateBankUri),
                  id(LV2_BUF_SIZE__nominalBlockLength),
                  id(LV2_BUF_SIZE__maxBlockLength)};

    // Callbacks made while the effect is being built find no wrapper yet and get the answers
    // of a host without time information.
    fx = factory(&CLv2Wrapper::hostCallback);
    if (!fx) {
        throw std::bad_alloc();
    }
    fx->getAeffect()->user = this;
    fx->setSampleRate(static_cast<float>(sampleRate));
    // Samples per beat follow the real sample rate before any port sets a synced time.
    fx->updateTempo();
    for (int i = 0; i < kNumParams; ++i) {
        seen[i] = fx->currentProgram().getValue(i);
    }
}

CLv2Wrapper::~CLv2Wrapper()
{
    // Hosts clean a UI up before its instance; one that does not finds a UI that knows it.
    if (IUiLink* link = ui.exchange(nullptr, std::memory_order_acq_rel)) {
        link->instanceGone();
    }
}

VstIntPtr CLv2Wrapper::hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                    VstIntPtr /*value*/, void* /*ptr*/, float opt)
{
    auto* self = effect ? static_cast<CLv2Wrapper*>(effect->user) : nullptr;
    switch (opcode) {
    case audioMasterAutomate:
        // Only recorded: the UI passes it on from its own thread, whichever thread this is.
        if (self && index >= 0 && index < kNumParams && std::isfinite(opt) &&
            self->ui.load(std::memory_order_acquire)) {
            self->editorValue[index].store(std::clamp(opt, 0.0f, 1.0f), std::memory_order_relaxed);
            self->editorChanged[index].store(true, std::memory_order_release);
        }
        return 0;
    case audioMasterIdle:
        // Only the editor's loops ask, on the UI thread.
        if (IUiLink* link = self ? self->ui.load(std::memory_order_acquire) : nullptr) {
            link->hostIdle();
        }
        return 0;
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
        if (IUiLink* link = self ? self->ui.load(std::memory_order_acquire) : nullptr;
            link && index >= 0 && index < kNumParams) {
            link->gesture(index, opcode == audioMasterBeginEdit);
        }
        return 0;
    case audioMasterVersion:
        return kHostVersion;
    case audioMasterGetTime:
        // The engine reads the record during the same run() that kept it up to date.
        return self ? reinterpret_cast<VstIntPtr>(self->transport.timeInfo()) : 0;
    case audioMasterGetSampleRate:
        return self ? static_cast<VstIntPtr>(self->sampleRate) : 0;
    case audioMasterGetBlockSize:
        return self ? static_cast<VstIntPtr>(self->nominalBlock) : 0;
    default:
        // A MIDI wish and display refreshes mean nothing to an LV2 host.
        return 0;
    }
}

void CLv2Wrapper::readOptions(const LV2_Feature* const* features)
{
    const auto* options = findFeature<LV2_Options_Option>(features, LV2_OPTIONS__options);
    std::uint32_t maxBlock = 0;
    for (const LV2_Options_Option* o = options; o && o->key != 0; ++o) {
        if (!hasMap || o->context != LV2_OPTIONS_INSTANCE || o->type != urids.atomInt ||
            !o->value || o->size < sizeof(int32_t)) {
            continue;
        }
        const int32_t v = *static_cast<const int32_t*>(o->value);
        if (v <= 0) {
            continue;
        }
        if (o->key == urids.nominalBlockLength) {
            nominalBlock = static_cast<std::uint32_t>(v);
        }
        else if (o->key == urids.maxBlockLength) {
            maxBlock = static_cast<std::uint32_t>(v);
        }
    }
    if (nominalBlock == 0) {
        nominalBlock = maxBlock;
    }
    if (nominalBlock > 0) {
        fx->setBlockSize(static_cast<VstInt32>(std::min<std::uint32_t>(nominalBlock, kMaxPiece)));
    }
}

void CLv2Wrapper::connectPort(std::uint32_t port, void* data)
{
    switch (port) {
    case kPortInL:
    case kPortInR:
        audioIn[port - kPortInL] = static_cast<const float*>(data);
        return;
    case kPortOutL:
    case kPortOutR:
        audioOut[port - kPortOutL] = static_cast<float*>(data);
        return;
    case kPortControl:
        control = static_cast<const LV2_Atom_Sequence*>(data);
        return;
    case kPortLIndexOut:
    case kPortRIndexOut:
        positionPorts[port - kPortLIndexOut] = static_cast<float*>(data);
        return;
    default:
        if (port >= kPortFirstParam && port < kPortFirstParam + kNumParams) {
            paramPorts[port - kPortFirstParam] = static_cast<const float*>(data);
        }
        return;
    }
}

void CLv2Wrapper::activate()
{
    fx->resume();
}

void CLv2Wrapper::deactivate()
{
    fx->suspend();
}

void CLv2Wrapper::applyChangedPorts()
{
    for (int i = 0; i < kNumParams; ++i) {
        const float* port = paramPorts[i];
        if (port && !sameBits(*port, seen[i])) {
            seen[i] = *port;
            // The editor set the effect already; setting its value again, possibly an older
            // one while a drag goes on, would move the effect and the editor back.
            if (!consumeEcho(i, *port)) {
                fx->setParameter(i, *port);
            }
        }
    }
}

// ---- the UI --------------------------------------------------------------------------------

bool CLv2Wrapper::attachUi(IUiLink* link)
{
    IUiLink* none = nullptr;
    return link && ui.compare_exchange_strong(none, link, std::memory_order_acq_rel);
}

void CLv2Wrapper::detachUi(IUiLink* link)
{
    IUiLink* expected = link;
    if (ui.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel)) {
        // Changes the closed editor made but no UI passed on are dropped with it; its last
        // ones went at its last idle.
        for (auto& changed : editorChanged) {
            changed.store(false, std::memory_order_relaxed);
        }
    }
}

void CLv2Wrapper::expectEcho(int index, float value)
{
    EchoQueue& q = echoes[index];
    const unsigned head = q.head.load(std::memory_order_relaxed);
    if (head - q.tail.load(std::memory_order_acquire) >= EchoQueue::kSlots) {
        return;
    }
    q.values[head % EchoQueue::kSlots].store(value, std::memory_order_relaxed);
    q.head.store(head + 1, std::memory_order_release);
}

bool CLv2Wrapper::consumeEcho(int index, float value)
{
    EchoQueue& q = echoes[index];
    const unsigned head = q.head.load(std::memory_order_acquire);
    for (unsigned k = q.tail.load(std::memory_order_relaxed); k != head; ++k) {
        if (sameBits(q.values[k % EchoQueue::kSlots].load(std::memory_order_relaxed), value)) {
            q.tail.store(k + 1, std::memory_order_release);
            return true;
        }
    }
    return false;
}

void CLv2Wrapper::handleEvents()
{
    if (!control || !hasMap) {
        return;
    }
    LV2_ATOM_SEQUENCE_FOREACH(control, ev)
    {
        if (ev->body.type == urids.midiEvent) {
            // Controllers act as in the VST 2.x build: through processEvents, one at a time.
            // Every message that can set a parameter has three bytes; shorter ones are skipped.
            if (ev->body.size < 3) {
                continue;
            }
            const auto* bytes = static_cast<const std::uint8_t*>(LV2_ATOM_BODY_CONST(&ev->body));
            VstMidiEvent midi{};
            midi.type = kVstMidiType;
            midi.byteSize = sizeof midi;
            for (int b = 0; b < 3; ++b) {
                midi.midiData[b] = static_cast<char>(bytes[b]);
            }
            VstEvents list{};
            list.numEvents = 1;
            list.events[0] = reinterpret_cast<VstEvent*>(&midi);
            fx->processEvents(&list);
        }
        else if (ev->body.type == urids.atomObject || ev->body.type == urids.atomBlank) {
            const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&ev->body);
            if (object->body.otype != urids.timePosition) {
                continue;
            }
            TimePosition position;
            LV2_ATOM_OBJECT_FOREACH(object, property)
            {
                const LV2_Atom* v = &property->value;
                std::optional<double> number;
                if (v->type == urids.atomFloat) {
                    number = reinterpret_cast<const LV2_Atom_Float*>(v)->body;
                }
                else if (v->type == urids.atomDouble) {
                    number = reinterpret_cast<const LV2_Atom_Double*>(v)->body;
                }
                else if (v->type == urids.atomInt) {
                    number = reinterpret_cast<const LV2_Atom_Int*>(v)->body;
                }
                else if (v->type == urids.atomLong) {
                    number = static_cast<double>(reinterpret_cast<const LV2_Atom_Long*>(v)->body);
                }
                if (!number) {
                    continue;
                }
                const LV2_URID key = property->key;
                if (key == urids.timeBeatsPerMinute) {
                    position.beatsPerMinute = number;
                }
                else if (key == urids.timeSpeed) {
                    position.speed = number;
                }
                else if (key == urids.timeBar) {
                    position.bar = static_cast<std::int64_t>(*number);
                }
                else if (key == urids.timeBarBeat) {
                    position.barBeat = number;
                }
                else if (key == urids.timeBeat) {
                    position.beat = number;
                }
                else if (key == urids.timeBeatsPerBar) {
                    position.beatsPerBar = number;
                }
                else if (key == urids.timeBeatUnit) {
                    position.beatUnit = number;
                }
                else if (key == urids.timeFrame) {
                    position.frame = static_cast<std::int64_t>(*number);
                }
            }
            transport.apply(position);
        }
    }
}

void CLv2Wrapper::run(std::uint32_t frames)
{
    applyChangedPorts();
    handleEvents();
    if (audioIn[0] && audioIn[1] && audioOut[0] && audioOut[1]) {
        for (std::uint32_t done = 0; done < frames;) {
            const std::uint32_t n = std::min(frames - done, kMaxPiece);
            float* inputs[2] = {const_cast<float*>(audioIn[0] + done),
                                const_cast<float*>(audioIn[1] + done)};
            float* outputs[2] = {audioOut[0] + done, audioOut[1] + done};
            fx->processReplacing(inputs, outputs, static_cast<VstInt32>(n));
            done += n;
        }
    }
    transport.advance(frames, sampleRate);
    for (int c = 0; c < 2; ++c) {
        if (positionPorts[c]) {
            *positionPorts[c] = fx->getParameter(kPositionParams[c]);
        }
    }
}

// ---- state ---------------------------------------------------------------------------------

LV2_State_Status CLv2Wrapper::save(LV2_State_Store_Function store, LV2_State_Handle handle,
                                   const LV2_Feature* const* features)
{
    if (!hasMap) {
        return LV2_STATE_ERR_NO_FEATURE;
    }
    try {
        void* data = nullptr;
        const VstInt32 size = fx->getChunk(&data, false);
        std::string document;
        if (size <= 0 ||
            !documentFromChunk(static_cast<const unsigned char*>(data), size, document)) {
            return LV2_STATE_ERR_UNKNOWN;
        }
        const auto* mapPath = findFeature<LV2_State_Map_Path>(features, LV2_STATE__mapPath);
        const PathFreer freer{findFeature<LV2_State_Free_Path>(features, LV2_STATE__freePath)};
        if (mapPath) {
            mapFilterMapPaths(
                document,
                [&](const std::string& path) -> std::optional<std::string> {
                    std::unique_ptr<char, PathFreer> mapped(
                        mapPath->abstract_path(mapPath->handle, path.c_str()), freer);
                    if (!mapped) {
                        return std::nullopt;
                    }
                    return std::string(mapped.get());
                },
                true);
        }
        return store(handle, urids.bank, document.c_str(), document.size() + 1, urids.atomString,
                     LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    }
    catch (...) {
        return LV2_STATE_ERR_UNKNOWN;
    }
}

LV2_State_Status CLv2Wrapper::restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                                      const LV2_Feature* const* features)
{
    if (!hasMap) {
        return LV2_STATE_ERR_NO_FEATURE;
    }
    try {
        std::size_t size = 0;
        std::uint32_t type = 0;
        std::uint32_t flags = 0;
        const void* value = retrieve(handle, urids.bank, &size, &type, &flags);
        if (!value) {
            // LV2 hosts reset a plug-in with an empty state: every program back to its defaults.
            fxSkorvaline& effect = *fx;
            std::fill(effect.getPrograms(), effect.getPrograms() + fxSkorvaline::kNumPrograms,
                      fxSkorvalineProgram());
            effect.setProgram(0);
            takePortValuesAsSeen();
            return LV2_STATE_SUCCESS;
        }
        if (type != urids.atomString) {
            return LV2_STATE_ERR_BAD_TYPE;
        }
        std::string document;
        if (!documentFromChunk(static_cast<const unsigned char*>(value), size, document)) {
            return LV2_STATE_ERR_UNKNOWN;
        }
        const auto* mapPath = findFeature<LV2_State_Map_Path>(features, LV2_STATE__mapPath);
        const PathFreer freer{findFeature<LV2_State_Free_Path>(features, LV2_STATE__freePath)};
        if (mapPath) {
            const bool parsed = mapFilterMapPaths(
                document,
                [&](const std::string& path) -> std::optional<std::string> {
                    std::unique_ptr<char, PathFreer> mapped(
                        mapPath->absolute_path(mapPath->handle, path.c_str()), freer);
                    if (!mapped) {
                        return std::nullopt;
                    }
                    return std::string(mapped.get());
                },
                false);
            if (!parsed) {
                return LV2_STATE_ERR_UNKNOWN;
            }
        }
        // The zero byte ends the text as it ends a VST 2.x chunk.
        if (fx->setChunk(document.data(), static_cast<VstInt32>(document.size() + 1), false) == 0) {
            return LV2_STATE_ERR_UNKNOWN;
        }
        takePortValuesAsSeen();
        return LV2_STATE_SUCCESS;
    }
    catch (...) {
        return LV2_STATE_ERR_UNKNOWN;
    }
}

void CLv2Wrapper::takePortValuesAsSeen()
{
    for (int i = 0; i < kNumParams; ++i) {
        seen[i] = paramPorts[i] ? *paramPorts[i] : fx->currentProgram().getValue(i);
    }
}

}  // namespace skv::lv2
