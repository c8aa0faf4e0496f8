// Test host: dlopen of a private copy of the plug-in and a recording host callback.
#include "support/TestHost.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef SKV_PLUGIN_LIBRARY
#error "SKV_PLUGIN_LIBRARY must name the built Skorvaline.so"
#endif

namespace fs = std::filesystem;

namespace skvtest {

namespace {

// Callbacks made inside the entry call carry a null effect: they belong to the host that is
// creating an instance right now on this thread.
thread_local CTestHost* creatingHost = nullptr;

}  // namespace

CTestHost::CTestHost()
{
    fs::copy_file(SKV_PLUGIN_LIBRARY, libraryPath());
}

CTestHost::~CTestHost()
{
    close();
    if (library) {
        ::dlclose(library);
    }
}

void CTestHost::writeConfig(const std::string& text) const
{
    fs::create_directories(dataFolder());
    std::ofstream(configFile(), std::ios::binary) << text;
}

std::string CTestHost::readConfig() const
{
    std::ifstream in(configFile(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

AEffect* CTestHost::create(const char* entryName)
{
    if (!library) {
        // RTLD_NODELETE keeps each copy (and the drawing libraries it pulls in) mapped after
        // dlclose: pixman, under cairo, keeps process-lifetime tables that only look leaked once
        // their library is gone, which would drown real reports of the leak checker.
        const fs::path path = openPath.empty() ? libraryPath() : openPath;
        library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!library) {
            throw std::runtime_error(std::string("dlopen failed: ") + ::dlerror());
        }
    }
    using Entry = AEffect* (*)(audioMasterCallback);
    auto entry = reinterpret_cast<Entry>(::dlsym(library, entryName));
    if (!entry) {
        return nullptr;
    }
    creatingHost = this;
    fx = entry(&CTestHost::callback);
    creatingHost = nullptr;
    if (fx) {
        fx->resvd1 = reinterpret_cast<VstIntPtr>(this);
    }
    return fx;
}

void CTestHost::close()
{
    if (fx) {
        fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f);
        fx = nullptr;
    }
}

VstIntPtr CTestHost::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                              float opt)
{
    if (opcode == effClose) {
        VstIntPtr result = fx->dispatcher(fx, opcode, index, value, ptr, opt);
        fx = nullptr;
        return result;
    }
    return fx->dispatcher(fx, opcode, index, value, ptr, opt);
}

void CTestHost::setParameter(VstInt32 index, float value)
{
    fx->setParameter(fx, index, value);
}

float CTestHost::getParameter(VstInt32 index)
{
    return fx->getParameter(fx, index);
}

std::string CTestHost::getString(VstInt32 opcode, VstInt32 index, std::size_t bufferSize)
{
    std::vector<char> buffer(bufferSize, 0);
    dispatch(opcode, index, 0, buffer.data());
    return std::string(buffer.data(), ::strnlen(buffer.data(), bufferSize));
}

void CTestHost::processReplacing(const std::vector<float>& inL, const std::vector<float>& inR,
                                 std::vector<float>& outL, std::vector<float>& outR,
                                 std::size_t block)
{
    run(fx->processReplacing, inL, inR, outL, outR, block);
}

void CTestHost::process(const std::vector<float>& inL, const std::vector<float>& inR,
                        std::vector<float>& outL, std::vector<float>& outR, std::size_t block)
{
    run(fx->process, inL, inR, outL, outR, block);
}

void CTestHost::run(AEffectProcessProc call, const std::vector<float>& inL,
                    const std::vector<float>& inR, std::vector<float>& outL,
                    std::vector<float>& outR, std::size_t block)
{
    const std::size_t frames = inL.size();
    if (block == 0) {
        block = frames;
    }
    for (std::size_t pos = 0; pos < frames; pos += block) {
        const std::size_t n = std::min(block, frames - pos);
        // The host's buffers are not const; in and out may be the same (in-place processing).
        float* in[2] = {const_cast<float*>(inL.data() + pos), const_cast<float*>(inR.data() + pos)};
        float* out[2] = {outL.data() + pos, outR.data() + pos};
        call(fx, in, out, static_cast<VstInt32>(n));
    }
}

std::vector<unsigned char> CTestHost::getChunk(bool isPreset)
{
    void* data = nullptr;
    VstIntPtr size = dispatch(effGetChunk, isPreset ? 1 : 0, 0, &data);
    if (size <= 0 || !data) {
        return {};
    }
    auto* bytes = static_cast<unsigned char*>(data);
    return std::vector<unsigned char>(bytes, bytes + size);
}

VstIntPtr CTestHost::setChunk(const std::vector<unsigned char>& data, bool isPreset)
{
    std::vector<unsigned char> copy = data;  // host-owned, valid during the call only
    return dispatch(effSetChunk, isPreset ? 1 : 0, static_cast<VstIntPtr>(copy.size()),
                    copy.data());
}

VstIntPtr CTestHost::sendMidi(const std::vector<std::vector<unsigned char>>& messages)
{
    std::vector<VstMidiEvent> events(messages.size());
    // VstEvents declares two pointers; room for more follows it, as hosts allocate.
    std::vector<unsigned char> storage(
        // NOLINTNEXTLINE(bugprone-sizeof-expression): the list holds pointers, one per event
        sizeof(VstEvents) + messages.size() * sizeof(VstEvent*));
    auto* list = reinterpret_cast<VstEvents*>(storage.data());
    list->numEvents = static_cast<VstInt32>(messages.size());
    VstEvent** slots = list->events;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        VstMidiEvent& event = events[i];
        event = VstMidiEvent{};
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        for (std::size_t b = 0; b < messages[i].size() && b < 3; ++b) {
            event.midiData[b] = static_cast<char>(messages[i][b]);
        }
        slots[i] = reinterpret_cast<VstEvent*>(&event);
    }
    return dispatch(effProcessEvents, 0, 0, list);
}

std::size_t CTestHost::count(VstInt32 opcode) const
{
    std::lock_guard<std::mutex> lock(callsMutex);
    std::size_t n = 0;
    for (const HostCall& call : calls) {
        n += call.opcode == opcode ? 1 : 0;
    }
    return n;
}

std::size_t CTestHost::countOf(VstInt32 opcode, VstInt32 index) const
{
    std::lock_guard<std::mutex> lock(callsMutex);
    std::size_t n = 0;
    for (const HostCall& call : calls) {
        n += call.opcode == opcode && call.index == index ? 1 : 0;
    }
    return n;
}

const HostCall* CTestHost::last(VstInt32 opcode) const
{
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
        if (it->opcode == opcode) {
            return &*it;
        }
    }
    return nullptr;
}

std::vector<std::string> CTestHost::exportedSymbols() const
{
    std::string command = "nm -D --defined-only '" + libraryPath().string() + "'";
    std::vector<std::string> names;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return names;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (!name.empty()) {
            names.push_back(name);
        }
    }
    ::pclose(pipe);
    return names;
}

VstIntPtr CTestHost::callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                              void* ptr, float opt)
{
    CTestHost* host = nullptr;
    if (effect && effect->resvd1) {
        host = reinterpret_cast<CTestHost*>(effect->resvd1);
    }
    else {
        host = creatingHost;
    }
    return host ? host->answer(effect, opcode, index, value, ptr, opt) : 0;
}

VstIntPtr CTestHost::answer(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                            void* /*ptr*/, float opt)
{
    {
        std::lock_guard<std::mutex> lock(callsMutex);
        calls.push_back(HostCall{opcode, index, value, opt, effect == nullptr});
    }
    if (onCall) {
        onCall(opcode, index);
    }
    switch (opcode) {
    case audioMasterVersion:
        return versionAnswer;
    case audioMasterGetTime:
        return answerTimeInfo ? reinterpret_cast<VstIntPtr>(&timeInfo) : 0;
    case audioMasterGetSampleRate:
        return sampleRateAnswer;
    case audioMasterGetBlockSize:
        return blockSizeAnswer;
    default:
        return 0;
    }
}

}  // namespace skvtest
