// A VST 2.x host for tests: copies the built Skorvaline.so into a fresh scratch folder (so
// config.xml beside it starts clean and two hosts load two independent copies), opens it
// with dlopen as a Linux host does, finds the entry by name, answers and records every host
// callback, and drives the dispatcher and the process calls.
#pragma once

#include "support/ScratchFolder.h"
#include "vst/VstAbi.h"

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace skvtest {

/// One call the plug-in made into the host.
struct HostCall {
    VstInt32 opcode = 0;
    VstInt32 index = 0;
    VstIntPtr value = 0;
    float opt = 0.0f;
    bool effectWasNull = false;
};

class CTestHost {
public:
    /// Creates the scratch folder and copies the library into it; nothing is loaded yet.
    CTestHost();
    /// Closes the effect if still open and unloads the library; the scratch folder goes after.
    ~CTestHost();
    CTestHost(const CTestHost&) = delete;
    CTestHost& operator=(const CTestHost&) = delete;

    const std::filesystem::path& folder() const { return scratch.path(); }
    std::filesystem::path libraryPath() const { return folder() / "Skorvaline.so"; }
    std::filesystem::path dataFolder() const { return folder() / "Skorvaline Data"; }
    std::filesystem::path configFile() const { return dataFolder() / "config.xml"; }
    /// Writes text into a file of the data folder (created if needed), before create().
    void writeConfig(const std::string& text) const;
    std::string readConfig() const;

    /// The path handed to dlopen: this host's copy unless set before the first create. Another
    /// host's libraryPath() gives a second instance of one loaded library, as a host opens two
    /// plug-ins; a relative path is taken from the current folder as dlopen takes it.
    std::filesystem::path openPath;

    /// Loads the library (first time) and calls the entry point by the given symbol name.
    /// Returns the effect record or null.
    AEffect* create(const char* entryName = "VSTPluginMain");
    /// effClose (the effect deletes itself); the record is gone afterwards.
    void close();
    AEffect* effect() const { return fx; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f);
    void setParameter(VstInt32 index, float value);
    float getParameter(VstInt32 index);
    std::string getString(VstInt32 opcode, VstInt32 index = 0, std::size_t bufferSize = 256);
    /// Runs processReplacing (or process) over two channels of equal length, in host blocks of
    /// `block` frames (0: one call for everything). The outputs must be as long as the inputs
    /// and may be the input vectors themselves.
    void processReplacing(const std::vector<float>& inL, const std::vector<float>& inR,
                          std::vector<float>& outL, std::vector<float>& outR,
                          std::size_t block = 0);
    void process(const std::vector<float>& inL, const std::vector<float>& inR,
                 std::vector<float>& outL, std::vector<float>& outR, std::size_t block = 0);
    /// getChunk copied out of the effect's buffer.
    std::vector<unsigned char> getChunk(bool isPreset);
    VstIntPtr setChunk(const std::vector<unsigned char>& data, bool isPreset);
    /// Sends MIDI events (3 bytes each) through effProcessEvents; answers its return.
    VstIntPtr sendMidi(const std::vector<std::vector<unsigned char>>& messages);

    // Answers the host gives.
    VstIntPtr versionAnswer = 2400;
    bool answerTimeInfo = true;
    VstTimeInfo timeInfo{};
    VstIntPtr sampleRateAnswer = 44100;
    VstIntPtr blockSizeAnswer = 1024;

    // Record of every call. The plug-in may call from several threads (audio, user
    // interface): count() and countOf() read under the record's lock.
    std::vector<HostCall> calls;
    std::size_t count(VstInt32 opcode) const;
    std::size_t countOf(VstInt32 opcode, VstInt32 index) const;
    const HostCall* last(VstInt32 opcode) const;
    /// Called for every call after it was recorded, on the caller's thread, outside the lock.
    std::function<void(VstInt32 opcode, VstInt32 index)> onCall;

    /// The library's exported dynamic symbols (nm -D --defined-only).
    std::vector<std::string> exportedSymbols() const;

private:
    static VstIntPtr callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                              void* ptr, float opt);
    VstIntPtr answer(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                     float opt);
    void run(AEffectProcessProc call, const std::vector<float>& inL, const std::vector<float>& inR,
             std::vector<float>& outL, std::vector<float>& outR, std::size_t block);

    mutable std::mutex callsMutex;
    CScratchFolder scratch;
    void* library = nullptr;
    AEffect* fx = nullptr;
};

}  // namespace skvtest
