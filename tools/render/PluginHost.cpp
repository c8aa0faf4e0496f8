// The render tool's VST 2.x host: loading the module, the callbacks a plug-in may make
// while it renders, and the dispatcher calls the tool needs.
#include "PluginHost.h"

#include "RenderError.h"
#include "vst/VstText.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace render {

namespace {

using EntryProc = AEffect* (*)(audioMasterCallback);

// The plug-in calls back before the host knows its record (inside the entry point, with a
// null effect), so the callback reaches the one host of this process through a static.
CPluginHost* gHost = nullptr;

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr, float)
{
    return gHost ? gHost->callback(opcode, ptr) : 0;
}

// Text buffers handed to the plug-in: far above the official 8/24/64 bytes, since many
// plug-ins write more than those limits allow.
constexpr size_t kTextBuffer = 512;

std::string shortDlError()
{
    const char* e = dlerror();
    return e ? e : "unknown error";
}

}  // namespace

CPluginHost::CPluginHost(const fs::path& module, const CTransport& transport, int blockSize)
    : module_(module), transport_(transport), blockSize_(blockSize)
{
    std::error_code ec;
    if (!fs::exists(module, ec))
        throw CRenderError(module.string() + ": no such plug-in file");
    if (fs::is_directory(module, ec))
        throw CRenderError(module.string() + ": is a folder, not a plug-in");
    // A path without a slash would make dlopen search the library path instead of the file.
    std::string path = module.has_parent_path() ? module.string() : "./" + module.string();
    dlerror();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        throw CRenderError(module.string() + ": cannot load the plug-in (" + shortDlError() + ")");

    auto entry = reinterpret_cast<EntryProc>(dlsym(handle_, "VSTPluginMain"));
    if (!entry)
        entry = reinterpret_cast<EntryProc>(dlsym(handle_, "main"));
    if (!entry) {
        dlclose(handle_);
        throw CRenderError(module.string() +
                           ": not a VST 2.x plug-in (no VSTPluginMain or main entry point)");
    }
    gHost = this;
    effect_ = entry(hostCallback);
    std::string problem;
    if (!effect_)
        problem = "the plug-in's entry point created no effect";
    else if (effect_->magic != kEffectMagic)
        problem = "not a VST 2.x effect (its record lacks the VST magic)";
    else if (!effect_->dispatcher)
        problem = "not a VST 2.x effect (no dispatcher)";
    else if ((effect_->flags & effFlagsIsSynth) != 0 || effect_->numInputs < 1)
        problem = "is an instrument, not an effect with audio inputs";
    else if (effect_->numOutputs != 2)
        problem =
            "is not an effect with 2 outputs (it has " + std::to_string(effect_->numOutputs) + ")";
    else if (!effect_->process && !effect_->processReplacing)
        problem = "has no process function";
    if (!problem.empty()) {
        // A record with the right magic is still the plug-in's to free, through close.
        if (effect_ && effect_->magic == kEffectMagic && effect_->dispatcher)
            effect_->dispatcher(effect_, effClose, 0, 0, nullptr, 0.0f);
        effect_ = nullptr;
        gHost = nullptr;
        dlclose(handle_);
        throw CRenderError(module.string() + ": " + problem);
    }
}

CPluginHost::~CPluginHost()
{
    if (effect_) {
        if (running_)
            suspend();
        // Close frees the effect; the record is never touched again afterwards.
        dispatch(effClose);
        effect_ = nullptr;
    }
    gHost = nullptr;
    if (handle_)
        dlclose(handle_);
}

VstIntPtr CPluginHost::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                float opt)
{
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string CPluginHost::dispatchText(VstInt32 opcode, VstInt32 index)
{
    char buffer[kTextBuffer] = {};
    dispatch(opcode, index, 0, buffer);
    buffer[kTextBuffer - 1] = '\0';
    return buffer;
}

void CPluginHost::open()
{
    // Same order as common Linux hosts: open, then rate and block size, all while suspended.
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(transport_.sampleRate));
    dispatch(effSetBlockSize, 0, blockSize_);
    dispatch(effSetProcessPrecision, 0, 0);  // 32-bit float processing

    const size_t n = static_cast<size_t>(blockSize_);
    const size_t ins = static_cast<size_t>(effect_->numInputs);
    scratch_.assign(ins + 2, std::vector<float>(n, 0.0f));
    inputs_.resize(ins);
    for (size_t i = 0; i < ins; ++i)
        inputs_[i] = scratch_[i].data();
    outputs_.resize(2);
}

std::string CPluginHost::effectName()
{
    std::string name = dispatchText(effGetEffectName, 0);
    if (name.empty())
        name = dispatchText(effGetProductString, 0);
    if (name.empty())
        name = module_.stem().string();
    return name;
}

std::string CPluginHost::paramName(int index)
{
    return dispatchText(effGetParamName, index);
}
std::vector<std::string> CPluginHost::paramNames()
{
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(std::max(numParams(), 0)));
    for (int i = 0; i < numParams(); ++i)
        names.push_back(paramName(i));
    return names;
}
std::string CPluginHost::paramDisplay(int index)
{
    return dispatchText(effGetParamDisplay, index);
}
std::string CPluginHost::paramLabel(int index)
{
    return dispatchText(effGetParamLabel, index);
}

float CPluginHost::getParam(int index)
{
    return effect_->getParameter ? effect_->getParameter(effect_, index) : 0.0f;
}

void CPluginHost::setParam(int index, float value)
{
    if (effect_->setParameter)
        effect_->setParameter(effect_, index, value);
}

int CPluginHost::currentProgram()
{
    return static_cast<int>(dispatch(effGetProgram));
}

void CPluginHost::setProgram(int index)
{
    dispatch(effBeginSetProgram);
    dispatch(effSetProgram, 0, index);
    dispatch(effEndSetProgram);
}

std::string CPluginHost::programName()
{
    return dispatchText(effGetProgramName, 0);
}

bool CPluginHost::programNameIndexed(int index, std::string& name)
{
    char buffer[kTextBuffer] = {};
    if (dispatch(effGetProgramNameIndexed, index, 0, buffer) != 1)
        return false;
    buffer[kTextBuffer - 1] = '\0';
    name = buffer;
    return true;
}

std::string CPluginHost::getChunk(bool program)
{
    void* data = nullptr;
    VstIntPtr size = dispatch(effGetChunk, program ? 1 : 0, 0, &data);
    if (size <= 0 || !data)
        return {};
    return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}

VstIntPtr CPluginHost::setChunk(const std::string& data, bool program)
{
    // The plug-in gets a private copy: the interface passes a non-const pointer.
    std::vector<char> copy(data.begin(), data.end());
    copy.push_back('\0');
    return dispatch(effSetChunk, program ? 1 : 0, static_cast<VstIntPtr>(data.size()), copy.data());
}

void CPluginHost::resume()
{
    samplePos_ = 0.0;
    transportChanged_ = true;
    dispatch(effMainsChanged, 0, 1);
    dispatch(effStartProcess);
    running_ = true;
}

void CPluginHost::suspend()
{
    running_ = false;
    dispatch(effStopProcess);
    dispatch(effMainsChanged, 0, 0);
}

void CPluginHost::process(const float* inL, const float* inR, float* outL, float* outR, int frames)
{
    const size_t n = static_cast<size_t>(std::clamp(frames, 0, blockSize_));
    // Inputs are copied: a plug-in may scribble on its input buffers.
    for (size_t i = 0; i < inputs_.size(); ++i) {
        const float* src = i == 0 ? inL : i == 1 ? inR : nullptr;
        if (src)
            std::copy(src, src + n, scratch_[i].begin());
        else
            std::fill(scratch_[i].begin(), scratch_[i].begin() + static_cast<long>(n), 0.0f);
    }
    outputs_[0] = outL;
    outputs_[1] = outR;
    const bool replacing =
        (effect_->flags & effFlagsCanReplacing) != 0 && effect_->processReplacing;
    if (replacing) {
        effect_->processReplacing(effect_, inputs_.data(), outputs_.data(),
                                  static_cast<VstInt32>(n));
    }
    else {
        // The old accumulating call adds into the outputs.
        std::fill(outL, outL + n, 0.0f);
        std::fill(outR, outR + n, 0.0f);
        effect_->process(effect_, inputs_.data(), outputs_.data(), static_cast<VstInt32>(n));
    }
    samplePos_ += static_cast<double>(n);
}

void CPluginHost::fillTimeInfo()
{
    VstTimeInfo& t = timeInfo_;
    t = VstTimeInfo{};
    const double seconds = samplePos_ / transport_.sampleRate;
    const double beatsPerBar = transport_.numerator * 4.0 / transport_.denominator;
    t.samplePos = samplePos_;
    t.sampleRate = transport_.sampleRate;
    t.nanoSeconds = seconds * 1e9;
    t.ppqPos = seconds * transport_.tempo / 60.0;
    t.tempo = transport_.tempo;
    t.barStartPos = std::floor(t.ppqPos / beatsPerBar + 1e-9) * beatsPerBar;
    t.timeSigNumerator = transport_.numerator;
    t.timeSigDenominator = transport_.denominator;
    t.flags = kVstNanosValid | kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstTimeSigValid;
    if (running_)
        t.flags |= kVstTransportPlaying;
    if (transportChanged_)
        t.flags |= kVstTransportChanged;
    if (running_)
        transportChanged_ = false;
}

VstIntPtr CPluginHost::callback(VstInt32 opcode, void* ptr)
{
    switch (opcode) {
    case audioMasterVersion:
        return 2400;
    case audioMasterAutomate:
    case audioMasterCurrentId:
    case audioMasterIdle:
    case audioMasterWantMidi:
    case audioMasterIOChanged:
    case audioMasterNeedIdle:
        return 0;
    case audioMasterGetTime:
        fillTimeInfo();
        return reinterpret_cast<VstIntPtr>(&timeInfo_);
    case audioMasterGetSampleRate:
        return static_cast<VstIntPtr>(std::lround(transport_.sampleRate));
    case audioMasterGetBlockSize:
        return blockSize_;
    case audioMasterGetInputLatency:
    case audioMasterGetOutputLatency:
        return 0;
    case audioMasterWillReplaceOrAccumulate:
        return 1;  // replacing
    case audioMasterGetCurrentProcessLevel:
        return 4;  // offline rendering
    case audioMasterGetAutomationState:
        return 1;  // automation off
    case audioMasterGetVendorString:
        if (ptr)
            skv::copyText(static_cast<char*>(ptr), "Skorvaline", kVstMaxVendorStrLen - 1);
        return 1;
    case audioMasterGetProductString:
        if (ptr)
            skv::copyText(static_cast<char*>(ptr), "skorvaline-render", kVstMaxProductStrLen - 1);
        return 1;
    case audioMasterGetVendorVersion:
        return 1000;
    case audioMasterGetLanguage:
        return 1;  // English
    case audioMasterCanDo: {
        const char* what = static_cast<const char*>(ptr);
        if (!what)
            return 0;
        // Only what this host really does: time info and start/stop calls. No events are
        // sent, windows are never opened and the offline interface is not offered.
        for (const char* yes : {"sendVstTimeInfo", "startStopProcess"})
            if (std::strcmp(what, yes) == 0)
                return 1;
        return 0;
    }
    case audioMasterUpdateDisplay:
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
        return 1;
    case audioMasterSizeWindow:
    case audioMasterGetDirectory:
    case audioMasterOpenFileSelector:
    case audioMasterCloseFileSelector:
    default:
        return 0;
    }
}

fs::path defaultPluginPath()
{
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return "Skorvaline.so";
    buffer[n] = '\0';
    // The tool lives in <build>/tools/; the plug-in module in <build>/.
    return fs::path(buffer).parent_path().parent_path() / "Skorvaline.so";
}

}  // namespace render
