// fxSkorvaline: construction and destruction order, dispatcher answers, MIDI control changes,
// resume, the tempo update, and what the engine moved by itself on its way into the program.
#include "plugin/Skorvaline.h"

#include "config/Config.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "plugin/HostCallbacks.h"
#include "plugin/ParameterTable.h"
#include "plugin/SkorvalineProgram.h"
#include "vst/AEffEditor.h"
#include "vst/VstText.h"

#include <algorithm>
#include <cfloat>
#include <cstring>

namespace {

constexpr const char* kEffectName = "Skorvaline v1.2";
constexpr const char* kVendorString = "skorvaline.org";

constexpr int kLastController = fxSkorvaline::kFirstController + fxSkorvaline::kNumParams - 1;
constexpr unsigned char kControlChangeStatus = 0xB0;
constexpr float kMidiValueScale = 1.0f / 127.0f;

}  // namespace

fxSkorvaline::fxSkorvaline(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParams)
{
    // 2. Filter-map holders, LPC unit and aligned work buffers.
    createWorkBuffers();

    // 3. What the host sees; only announced to a real host.
    if (audioMaster) {
        setNumInputs(2);
        setNumOutputs(2);
        hasClip(false);
        hasVu(false);
        canProcessReplacing(true);
        needIdle();
        setUniqueID(kUniqueId);
    }
    // 4.
    programsAreChunks(true);

    // 5. The process-wide configuration; the engine reads its resolution once, here.
    CConfig& config = CConfig::get();
    config.load(kProductName, "");
    engine.resolution = config.getResolution();

    // 6. Sixteen programs with their defaults.
    programs = new fxSkorvalineProgram[kNumPrograms];

    // 7. Audio units and their starting values.
    createAudioUnits();

    // 8. Tempo from the host, kept by the program that is about to be selected.
    const skv::HostTime time = updateTempo();
    if (programs) {
        currentProgram().setTempo(static_cast<float>(time.tempo));
    }

    // 9. Program 0 pushes every value into the engine and loads both filter maps. Nothing of
    // the engine's start-up values may be kept by the program, hence not setProgram.
    if (programs) {
        selectProgram(0);
    }

    // 10.
    resume();
}

fxSkorvaline::~fxSkorvaline()
{
    CConfig::get().save();
    destroyAudioUnits();
    delete[] programs;
    programs = nullptr;
    // The SDK base deletes the editor.
}

void fxSkorvaline::suspend()
{
    // Audio state survives a suspend until the next resume.
}

void fxSkorvaline::resume()
{
    wantEvents(1);
    resumeHook();
    clearAudioState();
}

void fxSkorvaline::setProgramName(char* name)
{
    // Cut to the record's 23 characters; the record never splits a UTF-8 character.
    std::string text(name, ::strnlen(name, 4096));
    if (text.size() > static_cast<std::size_t>(kMaxProgramNameChars)) {
        text.resize(kMaxProgramNameChars + 1);  // the record decides where the cut falls
    }
    currentProgram().setName(text.c_str());
}

void fxSkorvaline::getProgramName(char* name)
{
    skv::copyText(name, currentProgram().getName(), kMaxProgramNameChars);
}

bool fxSkorvaline::getProgramNameIndexed(VstInt32 /*category*/, VstInt32 index, char* text)
{
    if (index < 0 || index >= kNumPrograms) {
        return false;
    }
    skv::copyText(text, programs[index].getName(), kMaxProgramNameChars);
    return true;
}

VstInt32 fxSkorvaline::processEvents(VstEvents* events)
{
    // Hosts allocate numEvents pointers behind the declared two: index through a plain pointer.
    VstEvent* const* list = events->events;
    bool changed = false;
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        if (!event || event->type != kVstMidiType) {
            continue;
        }
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        const auto status = static_cast<unsigned char>(midi->midiData[0]);
        if ((status & 0xF0) != kControlChangeStatus) {
            continue;
        }
        const int controller = static_cast<unsigned char>(midi->midiData[1]);
        if (controller < kFirstController || controller > kLastController) {
            continue;
        }
        // Data bytes are 7-bit; a stray high bit must not push the value above 1.
        const int data = static_cast<unsigned char>(midi->midiData[2]) & 0x7F;
        setParameter(controller - kFirstController, static_cast<float>(data) * kMidiValueScale);
        changed = true;
    }
    // Once per list: this runs on the audio thread, and a burst of controllers would otherwise
    // cost the host one display refresh each.
    if (changed) {
        updateDisplay();
    }
    return 1;
}

VstInt32 fxSkorvaline::canDo(char* text)
{
    if (std::strcmp(text, "receiveVstEvents") == 0 ||
        std::strcmp(text, "receiveVstMidiEvent") == 0) {
        return 1;
    }
    return -1;
}

bool fxSkorvaline::getEffectName(char* name)
{
    skv::copyText(name, kEffectName, kVstMaxEffectNameLen - 1);
    return true;
}

bool fxSkorvaline::getProductString(char* text)
{
    skv::copyText(text, kEffectName, kVstMaxProductStrLen - 1);
    return true;
}

bool fxSkorvaline::getVendorString(char* text)
{
    skv::copyText(text, kVendorString, kVstMaxVendorStrLen - 1);
    return true;
}

skv::HostTime fxSkorvaline::updateTempo()
{
    const skv::HostTime time = skv::readHostTime(getTimeInfo(skv::kTimeInfoRequest));
    tempoState.store(tempoFor(time.tempo));
    return time;
}

skv::TempoSnapshot fxSkorvaline::tempoFor(double bpm) const
{
    skv::TempoSnapshot t;
    // readHostTime and the program loader keep the tempo positive and finite; as a float it
    // must stay so (1e-305 BPM would become 0). The samples per beat come from the exact tempo.
    t.bpm = static_cast<float>(
        std::clamp(bpm, static_cast<double>(FLT_MIN), static_cast<double>(FLT_MAX)));
    t.samplesPerBeat = static_cast<float>(
        std::min(skv::samplesPerBeat(hostSampleRate.load(std::memory_order_relaxed), bpm),
                 static_cast<double>(FLT_MAX)));
    return t;
}

void fxSkorvaline::setSampleRate(float rate)
{
    AudioEffectX::setSampleRate(rate);
    hostSampleRate.store(rate, std::memory_order_relaxed);
    // The beat's length in samples follows at once; the audio thread re-snaps synced delays
    // and the step to it at its next block start.
    tempoState.store(tempoFor(tempoState.load().bpm));
}

void fxSkorvaline::engineMovedParameter(VstInt32 /*index*/, float /*value*/)
{
    if (editor) {
        editor->postUpdate();
    }
}

void fxSkorvaline::captureEngineValues()
{
    if (!programs) {
        return;
    }
    fxSkorvalineProgram& program = currentProgram();
    for (int line = 0; line < skv::kNumLines; ++line) {
        program.setValue(skv::kParamLPreDelay + line,
                         engine.delay[line].value.load(std::memory_order_relaxed));
    }
    for (int c = 0; c < 2; ++c) {
        if (const auto* map = engine.map(c)) {
            program.setValue(c == 0 ? skv::kParamLIndex : skv::kParamRIndex,
                             skv::sanitizeNormalised(map->getScanIndex()));
        }
    }
    program.setTempo(tempoState.load().bpm);
}

float fxSkorvaline::programValue(VstInt32 index) const
{
    return programs ? currentProgram().getValue(index) : 0.0f;
}

void fxSkorvaline::setProgramValue(VstInt32 index, float value)
{
    if (programs) {
        currentProgram().setValue(index, value);
    }
}
