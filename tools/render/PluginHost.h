// A minimal offline VST 2.x host: loads a plug-in module with dlopen through its entry point
// ("VSTPluginMain", then "main"), answers the callbacks a host must answer, and drives the
// effect block by block. One instance per process (the callback finds it through a static).
#pragma once

#include "vst/VstAbi.h"

#include <filesystem>
#include <string>
#include <vector>

namespace render {

/// What the host tells the plug-in about the song position.
struct CTransport {
    double sampleRate = 44100.0;
    double tempo = 120.0;
    int numerator = 4;
    int denominator = 4;
};

class CPluginHost {
public:
    /// Loads the module and creates the effect; throws CRenderError naming the file when the
    /// module cannot be loaded, has no entry point, returns no effect or a record without
    /// the VST magic, or is not an effect with inputs and 2 outputs. The transport and the
    /// largest block are what the host answers from the start: effects ask for the time
    /// information while they are being created.
    CPluginHost(const std::filesystem::path& module, const CTransport& transport, int blockSize);
    /// Suspends, closes the effect and unloads the module.
    ~CPluginHost();
    CPluginHost(const CPluginHost&) = delete;
    CPluginHost& operator=(const CPluginHost&) = delete;

    const std::filesystem::path& modulePath() const { return module_; }

    /// Opens the effect and gives it the sample rate and largest block (while suspended).
    void open();

    int numParams() const { return effect_->numParams; }
    int numPrograms() const { return effect_->numPrograms; }
    std::string effectName();
    std::string paramName(int index);
    /// Every parameter's name, by index.
    std::vector<std::string> paramNames();
    std::string paramDisplay(int index);
    std::string paramLabel(int index);
    float getParam(int index);
    void setParam(int index, float value);

    int currentProgram();
    void setProgram(int index);
    std::string programName();
    /// Name of program `index` through getProgramNameIndexed; false if unsupported.
    bool programNameIndexed(int index, std::string& name);

    VstInt32 uniqueId() const { return effect_->uniqueID; }
    bool hasChunks() const { return (effect_->flags & effFlagsProgramChunks) != 0; }
    /// The plug-in's state chunk (bank when !program); empty when it gives none.
    std::string getChunk(bool program);
    /// Hands a chunk to the plug-in; the plug-in's own answer (1 accepted, 0 refused).
    VstIntPtr setChunk(const std::string& data, bool program);

    /// mainsChanged(1) and startProcess; rewinds the transport to sample 0.
    void resume();
    /// stopProcess and mainsChanged(0).
    void suspend();
    /// Processes `frames` (≤ the block size) of stereo audio; inputs beyond the plug-in's
    /// input count are ignored, missing ones are fed silence. Advances the transport.
    void process(const float* inL, const float* inR, float* outL, float* outR, int frames);

    /// Answers one host opcode (public for the static trampoline).
    VstIntPtr callback(VstInt32 opcode, void* ptr);

private:
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f);
    std::string dispatchText(VstInt32 opcode, VstInt32 index);
    void fillTimeInfo();

    std::filesystem::path module_;
    void* handle_ = nullptr;
    AEffect* effect_ = nullptr;
    bool running_ = false;
    CTransport transport_;
    int blockSize_ = 512;
    double samplePos_ = 0.0;
    bool transportChanged_ = true;
    VstTimeInfo timeInfo_{};
    std::vector<std::vector<float>> scratch_;  // silent inputs and unused outputs
    std::vector<float*> inputs_, outputs_;
};

/// The default plug-in: Skorvaline.so in the build folder that holds this executable's folder.
std::filesystem::path defaultPluginPath();

}  // namespace render
