// A tiny VST 2.x effect built only for the render tool's tests: it shows that the tool is a
// general host. Two inputs, two outputs; "Gain" scales the signal (1 = pass-through);
// "Probe" replaces the audio by what the host reported (left: ppq position at the block
// start, right: tempo, or a negative code for a host fault) so the tests can read the time
// information out of the rendered file; "Host Version" displays the host's version answer.
// Its state chunk is a one-preset bank document holding the gain. SKV_TEST_VARIANT builds
// broken variants: 1 one output, 2 no entry point, 3 entry returns null, 4 entry named
// "main" only.
#include "vst/VstAbi.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef SKV_TEST_VARIANT
#define SKV_TEST_VARIANT 0
#endif

namespace {

enum { kGain, kProbe, kHostVersion, kNumParams };

// Codes on the right channel in probe mode: what the host got wrong.
constexpr float kNoTimeInfo = -1.0f;
constexpr float kWrongSampleRate = -2.0f;
constexpr float kBlockTooLong = -3.0f;
constexpr float kNotResumed = -4.0f;
constexpr float kNotPlaying = -5.0f;

struct PassThrough {
    AEffect effect{};
    audioMasterCallback host = nullptr;
    float gain = 1.0f;
    float probe = 0.0f;
    VstIntPtr hostVersion = 0;
    float sampleRate = 44100.0f;
    VstIntPtr blockSize = 1024;
    bool resumed = false;
    std::string chunk;
};

PassThrough* self(AEffect* e)
{
    return static_cast<PassThrough*>(e->object);
}

void copyText(void* ptr, const std::string& text, size_t capacity)
{
    std::snprintf(static_cast<char*>(ptr), capacity, "%s", text.c_str());
}

VstIntPtr dispatcher(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                     float opt)
{
    PassThrough* p = self(e);
    switch (opcode) {
    case effClose:
        delete p;
        return 0;
    case effSetSampleRate:
        p->sampleRate = opt;
        return 0;
    case effSetBlockSize:
        p->blockSize = value;
        return 0;
    case effMainsChanged:
        p->resumed = value != 0;
        return 0;
    case effGetParamName: {
        static const char* const names[kNumParams] = {"Gain", "Probe", "Host Version"};
        // Longer than the official 8 bytes, as many effects do; hosts give room for it.
        copyText(ptr, index >= 0 && index < kNumParams ? names[index] : "", 32);
        return 0;
    }
    case effGetParamDisplay: {
        char text[32] = "";
        if (index == kGain)
            std::snprintf(text, sizeof text, "%.3f", static_cast<double>(p->gain));
        else if (index == kProbe)
            std::snprintf(text, sizeof text, "%s", p->probe >= 0.5f ? "on" : "off");
        else if (index == kHostVersion)
            std::snprintf(text, sizeof text, "%ld", static_cast<long>(p->hostVersion));
        copyText(ptr, text, 8);
        return 0;
    }
    case effGetParamLabel:
        copyText(ptr, "", 8);
        return 0;
    case effGetProgramName:
        copyText(ptr, "Unity", 24);
        return 0;
    case effGetProgramNameIndexed:
        if (index != 0)
            return 0;
        copyText(ptr, "Unity", 24);
        return 1;
    case effGetEffectName:
        copyText(ptr, "PassThrough", 32);
        return 1;
    case effGetChunk: {
        char text[256];
        std::snprintf(text, sizeof text,
                      "<?xml version=\"1.0\"?>\n<Bank name=\"Default\">\n"
                      "    <Preset name=\"Unity\" plugin=\"PassThrough\">\n"
                      "        <param id=\"Gain\" value=\"%.9g\"/>\n    </Preset>\n</Bank>\n",
                      static_cast<double>(p->gain));
        p->chunk.assign(text, std::strlen(text) + 1);
        *static_cast<void**>(ptr) = p->chunk.data();
        return static_cast<VstIntPtr>(p->chunk.size());
    }
    case effSetChunk: {
        // Accepts only its own documents, as a chunk-based effect should.
        const std::string data(static_cast<const char*>(ptr), static_cast<size_t>(value));
        const size_t at = data.find("id=\"Gain\" value=\"");
        if (data.find("plugin=\"PassThrough\"") == std::string::npos || at == std::string::npos)
            return 0;
        p->gain = static_cast<float>(std::atof(data.c_str() + at + 17));
        return 1;
    }
    case effGetVstVersion:
        return 2400;
    case effGetPlugCategory:
        return kPlugCategEffect;
    default:
        return 0;
    }
}

void processReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 frames)
{
    PassThrough* p = self(e);
    if (p->probe < 0.5f) {
        for (int c = 0; c < 2; ++c)
            for (VstInt32 i = 0; i < frames; ++i)
                outputs[c][i] = inputs[c][i] * p->gain;
        return;
    }
    const auto* t = reinterpret_cast<const VstTimeInfo*>(
        p->host(e, audioMasterGetTime, 0, kVstPpqPosValid | kVstTempoValid, nullptr, 0.0f));
    float left = 0.0f, right = 0.0f;
    const VstInt32 needed = kVstPpqPosValid | kVstTempoValid;
    if (!t || (t->flags & needed) != needed)
        right = kNoTimeInfo;
    else if (t->sampleRate != static_cast<double>(p->sampleRate))
        right = kWrongSampleRate;
    else if (frames > p->blockSize)
        right = kBlockTooLong;
    else if (!p->resumed)
        right = kNotResumed;
    else if ((t->flags & kVstTransportPlaying) == 0)
        right = kNotPlaying;
    else {
        left = static_cast<float>(t->ppqPos);
        right = static_cast<float>(t->tempo);
    }
    for (VstInt32 i = 0; i < frames; ++i) {
        outputs[0][i] = left;
        outputs[1][i] = right;
    }
}

void process(AEffect* e, float** inputs, float** outputs, VstInt32 frames)
{
    float* replaced[2] = {outputs[0], outputs[1]};
    processReplacing(e, inputs, replaced, frames);
}

void setParameter(AEffect* e, VstInt32 index, float value)
{
    if (index == kGain)
        self(e)->gain = value;
    else if (index == kProbe)
        self(e)->probe = value;
}

float getParameter(AEffect* e, VstInt32 index)
{
    return index == kGain ? self(e)->gain : index == kProbe ? self(e)->probe : 0.0f;
}

[[maybe_unused]] AEffect* createEffect(audioMasterCallback host)
{
    if (SKV_TEST_VARIANT == 3 || !host)
        return nullptr;
    auto* p = new PassThrough;
    p->host = host;
    p->hostVersion = host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f);
    AEffect& e = p->effect;
    e.magic = kEffectMagic;
    e.dispatcher = dispatcher;
    e.process = process;
    e.setParameter = setParameter;
    e.getParameter = getParameter;
    e.numPrograms = 1;
    e.numParams = kNumParams;
    e.numInputs = 2;
    e.numOutputs = SKV_TEST_VARIANT == 1 ? 1 : 2;
    e.flags = effFlagsCanReplacing | effFlagsProgramChunks;
    e.ioRatio = 1.0f;
    e.object = p;
    e.uniqueID = vstFourCC('S', 'k', 'P', 'T');
    e.version = 1;
    e.processReplacing = processReplacing;
    return &e;
}

}  // namespace

#if SKV_TEST_VARIANT == 4
// The old Linux entry name only; C++ cannot name a function "main" that returns a pointer.
extern "C" __attribute__((visibility("default"))) AEffect*
skvTestMain(audioMasterCallback host) __asm__("main");
extern "C" AEffect* skvTestMain(audioMasterCallback host)
{
    return createEffect(host);
}
#elif SKV_TEST_VARIANT != 2
extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host)
{
    return createEffect(host);
}
#endif
