// The effect object as the host sees it: two inputs and outputs, sixteen programs, 53
// automatable parameters, program chunks. fxSkorvaline carries all audio and state logic;
// fxSkorvalineEdit (plugin/SkorvalineEdit.h) adds the editor and is what the entry point
// creates. The implementation is split by subsystem:
//   plugin/Skorvaline.cpp            construction, dispatcher answers, names, MIDI, resume,
//                                    tempo update
//   plugin/SkorvalineState.cpp       programs, filter-map loading and state chunks
//   plugin/SkorvalineParameters.cpp  the parameter table: one row and rule per parameter
//                                    (set/getParameter, names, labels, displays)
//   plugin/SkorvalineProcess.cpp     the block in named steps, the block-start helpers and the
//                                    audio units' life cycle
//   plugin/SkorvalineScan.cpp        the scan step and the maths of its columns
//
// Threads: the dispatcher runs on the host's user-interface thread, process and
// processReplacing (and processEvents) on its audio thread; setParameter may come from either.
#pragma once

#include "plugin/SkorvalineProgram.h"
#include "plugin/EngineState.h"
#include "plugin/HostCallbacks.h"
#include "plugin/TempoState.h"
#include "vst/AudioEffectX.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace kfx {
class CBitmapArrayAnalyser;
}
namespace skv {
struct BlockSetup;
struct WorkArrays;
struct ParameterCall;
}  // namespace skv
struct CPreset;

class fxSkorvaline : public AudioEffectX {
    // The parameter table's rules reach setDelayTime, recomputeStepTime and applyParameter
    // through it.
    friend struct skv::ParameterCall;

public:
    static constexpr VstInt32 kNumPrograms = 16;
    static constexpr VstInt32 kNumParams = skv::kNumParams;
    /// Program names hold 23 characters; longer names are cut.
    static constexpr int kMaxProgramNameChars = kVstMaxProgNameLen - 1;
    static constexpr VstInt32 kUniqueId = vstFourCC('S', 'k', 'v', 'L');
    /// The product name: the configuration's data folder and root element, and the "plugin"
    /// of every preset the effect writes or accepts.
    static constexpr const char* kProductName = "Skorvaline";
    /// MIDI controllers 20..72 drive parameters 0..52.
    static constexpr int kFirstController = 20;

    explicit fxSkorvaline(audioMasterCallback audioMaster);
    ~fxSkorvaline() override;

    // ---- Skorvaline.cpp: dispatcher answers ----------------------------------------------
    void suspend() override;
    void resume() override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;
    VstInt32 processEvents(VstEvents* events) override;
    VstInt32 canDo(char* text) override;
    VstPlugCategory getPlugCategory() override { return kPlugCategEffect; }
    bool getEffectName(char* name) override;
    bool getProductString(char* text) override;
    bool getVendorString(char* text) override;
    VstInt32 getVendorVersion() override { return 1000; }
    VstInt32 getVstVersion() override { return 2300; }
    float getVu() override { return 0.0f; }
    bool canParameterBeAutomated(VstInt32 /*index*/) override { return true; }
    bool getParameterProperties(VstInt32 /*index*/, void* /*properties*/) override { return false; }
    bool string2parameter(VstInt32 /*index*/, char* /*text*/) override { return false; }
    bool setBypass(bool /*onOff*/) override { return false; }
    bool getInputProperties(VstInt32 /*index*/, VstPinProperties* /*p*/) override { return false; }
    bool getOutputProperties(VstInt32 /*index*/, VstPinProperties* /*p*/) override { return false; }
    VstInt32 getGetTailSize() override { return 0; }

    // ---- SkorvalineState.cpp: programs and chunks ------------------------------------------
    /// Ignores an index outside 0..15. The program left keeps what the engine moved meanwhile.
    void setProgram(VstInt32 program) override;
    /// Stores the rate and keeps it where the audio thread's tempo update reads it.
    void setSampleRate(float rate) override;
    VstInt32 getChunk(void** data, bool isPreset) override;
    VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) override;

    // ---- SkorvalineParameters.cpp: parameter table ------------------------------------------
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void getParameterName(VstInt32 index, char* text) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;

    // ---- SkorvalineProcess.cpp: audio ------------------------------------------------------
    void process(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    // ---- fxSkorvaline's own virtual operations, in slot order ------------------------------
    // Audio (SkorvalineProcess.cpp, the scan in SkorvalineScan.cpp).
    /// The whole audio block: replacing 1 writes the outputs, 0 adds to them (audio thread).
    virtual void processBlock(float** inputs, float** outputs, VstInt32 sampleFrames,
                              int replacing);
    /// One channel's step through its filter map into column (count values, at most 100);
    /// seeded random values from stepCounter when the map holds no valid picture.
    virtual void scanFilterMap(float* column, int stepCounter, int count,
                               kfx::CBitmapArrayAnalyser* map);
    /// Empty; called at the end of resume.
    virtual void resumeHook() {}
    /// Empty; nothing calls it.
    virtual void spareHook() {}
    // Display texts (SkorvalineParameters.cpp).
    /// "%0.<decimals>f", cut to the display's 8 characters.
    virtual void formatFloat(float value, char* text, int decimals);
    /// Display of a per-sample decay coefficient (milliseconds to a quarter, "oo" at 1).
    virtual void formatDecayTime(char* text, float coefficient);
    // Filter maps of the current program (SkorvalineState.cpp; user-interface thread).
    /// Loads a channel's filter map (channel 26 = left, 31 = right) from a reference: "#n" for
    /// built-in picture n, otherwise a BMP file path. With clearText set the program's stored
    /// picture is dropped first, so the reference is read afresh.
    virtual void loadFilterMap(const char* reference, int channel, bool clearText);
    /// Hands out a share of the left (26) or right (any other value) filter map.
    virtual void getFilterMap(std::shared_ptr<kfx::CBitmapArrayAnalyser>& holder, int channel);
    /// Copies the current program's reference of the channel (at most 259 characters + zero).
    virtual void getFilterMapPath(char* text, int channel);
    /// After a generator or transform: the edited picture becomes the program's image text
    /// and its reference is emptied, so the state carries the picture itself.
    virtual void storeFilterMapImage(int channel);
    /// Drops the caller's share of a filter map.
    virtual void releaseShared(std::shared_ptr<kfx::CBitmapArrayAnalyser> holder);
    virtual void spareHook2() {}
    virtual void spareHook3() {}
    /// Appends program `program` as one preset entry to the process-wide bank document.
    virtual void writeProgramXml(VstInt32 program);
    /// Reads the bank document's preset at the program's position (or the document's current
    /// preset) into program `program`; a preset of another plug-in leaves it unchanged.
    virtual void readProgramXml(VstInt32 program);
    /// Called after loadFilterMap changed a channel's picture; the class with the editor
    /// passes it on so the filter-map display follows.
    virtual void filterMapLoaded(const char* /*reference*/, int /*channel*/) {}
    /// The engine moved a parameter by itself (the scan index at a scan step, a delay re-snapped
    /// to a new tempo). Called on the audio thread: overrides may only record and mark.
    virtual void engineMovedParameter(VstInt32 index, float value);

    // ---- Skorvaline.cpp: helpers for the other files ---------------------------------------
    /// Asks the host for time information and publishes the tempo it gives (120 BPM, 4/4 and
    /// positions 0 where the host gives nothing usable); answers what the host said.
    skv::HostTime updateTempo();
    /// The tempo snapshot for bpm at the host's sample rate.
    skv::TempoSnapshot tempoFor(double bpm) const;
    /// Samples per beat of the tempo in force (any thread).
    double currentSamplesPerBeat() const { return tempoState.load().samplesPerBeat; }
    /// Stores what the engine moved by itself (scan indices, re-snapped delays, the polled
    /// tempo) into the current program, so that a saved or left program holds the values of
    /// the moment (user-interface thread).
    void captureEngineValues();
    /// The current program's value of a parameter (0 for an index outside 0..52).
    float programValue(VstInt32 index) const;
    /// Stores a value into the current program (ignored for an index outside 0..52).
    void setProgramValue(VstInt32 index, float value);
    fxSkorvalineProgram& currentProgram() { return programs[curProgram]; }
    const fxSkorvalineProgram& currentProgram() const { return programs[curProgram]; }
    fxSkorvalineProgram* getPrograms() { return programs; }

    // ---- SkorvalineProcess.cpp: life cycle of the audio units (non-virtual) ------------------
    /// Construction step 2: empty filter-map holders, LPC unit, aligned work buffers.
    void createWorkBuffers();
    /// Construction step 7: the audio units and their starting values.
    void createAudioUnits();
    /// Resume: clear delay lines, lattices, band banks, saturation, tone memories, envelope.
    void clearAudioState();
    /// Destruction, after the configuration is saved: units, buffers, LPC unit, filter maps.
    void destroyAudioUnits();

protected:
    /// Program 0..15 storage, one array for the effect's life.
    fxSkorvalineProgram* programs = nullptr;

    /// Tempo in force: published by the tempo update (construction, then the audio thread's
    /// poll) and by program selection; read by both threads.
    skv::CTempoState tempoState;
    /// The host's sample rate as setSampleRate gave it; the audio thread's tempo update reads it.
    std::atomic<float> hostSampleRate{44100.0f};

    // Engine state (SkorvalineParameters.cpp, SkorvalineProcess.cpp).
    skv::EngineState engine;
    /// getParameter's answer before it is held in 0..1.
    float readParameter(VstInt32 index);
    /// Engine side of setParameter (no program store, no editor mark); x already in 0..1.
    void applyParameter(VstInt32 index, float x);
    /// Delay-time rule for line 0..3 (pre L, pre R, L, R); updates the program's value.
    void setDelayTime(int line, float x);
    /// Step-time rule from the posted Step Time and Sync Scan (any thread); publishes the
    /// results for the display and posts them to the audio thread.
    void recomputeStepTime();
    /// Selects a program without keeping anything of the one left (construction, setChunk).
    void selectProgram(VstInt32 program);
    /// Block start: tempo poll while a sync mode is on (audio thread).
    void pollTempo();
    /// Block start: hands posted lengths, directions and step times to the delay lines and the
    /// scan, re-snapping synced lengths after a tempo change (audio thread).
    void applyPendingLines();
    /// Block start: filter order and smoothing posted since the last block reach the lattices
    /// here, so no other thread touches them while audio runs (audio thread).
    void applyPendingLattice();
    // Steps of processBlock (SkorvalineProcess.cpp; audio thread).
    /// Block start: the targets, the tempo poll, the posted settings and the increments.
    skv::BlockSetup startBlock(VstInt32 sampleFrames);
    /// One sub-block through the envelope, the glide and the four passes into the output
    /// (x and out: left and right at the sub-block's first frame).
    void processSubBlock(const skv::BlockSetup& b, const float* const x[2], float* const out[2],
                         bool replacing);
    /// Pass 1: the input through the pre-delays, the scan clock with its scan steps.
    void preDelayAndScan(const skv::BlockSetup& b, const float* const x[2],
                         const skv::WorkArrays& w);
    /// Resets a channel whose held filter output blew up (or turned non-finite).
    void guardBlowUp(const skv::BlockSetup& b, const skv::WorkArrays& w);
    /// A scan step of both channels: new columns, new lattice targets and band gains
    /// (SkorvalineScan.cpp; audio thread).
    void scanStep();
    /// Self-analysis: warped LPC of the line's oldest samples, pre-emphasised, into column.
    void analyseDelayLine(int line, float* column);
    /// Clears a blown-up channel's line, lattice and saturation; when its output turned
    /// non-finite also the n samples of heldOutput, the tone memories and the pre-delay.
    void blowUp(int channel, float* heldOutput, int n, bool finite);
    /// The left or right filter map (no share taken).
    kfx::CBitmapArrayAnalyser* filterMapInfo(bool left) const;
    /// The last getChunk's bytes, owned here until the next getChunk.
    std::vector<unsigned char> chunk;
    /// Reads a bank-document preset into a program record (no engine change).
    static void readPresetInto(const CPreset& preset, fxSkorvalineProgram& program);
    /// Parses chunk bytes (zlib, XML text or version-1 records) into copies of the programs;
    /// false, leaving `programs` untouched, when the bytes are not a usable state.
    bool decodeChunk(const unsigned char* data, std::size_t size, bool isPreset,
                     std::vector<fxSkorvalineProgram>& scratch);

    /// The editor's two view switches (indices 54 and 55): kept by the effect, never saved.
    float viewSwitch[2] = {0.0f, 0.0f};
};
