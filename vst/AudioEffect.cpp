// Level-1 dispatcher and the static trampolines the AEffect record points at.
#include "vst/AudioEffect.h"

#include "vst/AEffEditor.h"

namespace {

// The record's object field is how a static trampoline finds its C++ effect; a host that
// calls with a null record gets the neutral answer instead of a crash.
AudioEffect* effectOf(AEffect* e)
{
    return e ? static_cast<AudioEffect*>(e->object) : nullptr;
}

}  // namespace

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams)
{
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = &AudioEffect::dispatchEffectClass;
    cEffect.process = &AudioEffect::processClass;
    cEffect.setParameter = &AudioEffect::setParameterClass;
    cEffect.getParameter = &AudioEffect::getParameterClass;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    // Defaults until the effect states its own I/O; hosts read these right after the entry
    // point returns, before any dispatcher call.
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.flags = 0;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = vstFourCC('N', 'o', 'E', 'f');
    cEffect.version = 1;
    cEffect.processReplacing = &AudioEffect::processClassReplacing;
}

AudioEffect::~AudioEffect()
{
    delete editor;
    editor = nullptr;
}

// A change the user made: the effect takes it first, then the host records it as
// automation (and may call setParameter back with the same value).
void AudioEffect::setParameterAutomated(VstInt32 index, float value)
{
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::setEditor(AEffEditor* newEditor)
{
    editor = newEditor;
    setFlag(effFlagsHasEditor, editor != nullptr);
}

// NOLINTNEXTLINE(readability-function-size): one short case per opcode, the host's table
VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                  float opt)
{
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        // The index comes from the host's own bookkeeping, which may be out of step with
        // ours (a session saved with another program count): out of range is ignored.
        if (value >= 0 && value < numPrograms) {
            setProgram(static_cast<VstInt32>(value));
        }
        return 0;
    case effGetProgram:
        return getProgram();
    // Text requests carry the host's buffer in ptr; without one there is nowhere to write.
    case effSetProgramName:
        if (ptr) {
            setProgramName(static_cast<char*>(ptr));
        }
        return 0;
    case effGetProgramName:
        if (ptr) {
            getProgramName(static_cast<char*>(ptr));
        }
        return 0;
    case effGetParamLabel:
        if (ptr) {
            getParameterLabel(index, static_cast<char*>(ptr));
        }
        return 0;
    case effGetParamDisplay:
        if (ptr) {
            getParameterDisplay(index, static_cast<char*>(ptr));
        }
        return 0;
    case effGetParamName:
        if (ptr) {
            getParameterName(index, static_cast<char*>(ptr));
        }
        return 0;
    case effGetVu:
        // An obsolete query; the level travels as a 0..32767 integer.
        return static_cast<VstIntPtr>(getVu() * 32767.0f);
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<VstInt32>(value));
        return 0;
    case effMainsChanged:
        if (value) {
            resume();
        }
        else {
            suspend();
        }
        return 0;
    case effEditGetRect:
        return editor && editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen:
        return editor && editor->open(ptr) ? 1 : 0;
    case effEditClose:
        if (editor) {
            editor->close();
        }
        return 0;
    case effEditIdle:
        if (editor) {
            editor->idle();
        }
        return 0;
    case effIdentify:
        // Some hosts probe with this right after the entry point; "NvEf" is the answer they
        // look for.
        return vstFourCC('N', 'v', 'E', 'f');
    case effGetChunk:
        if (!ptr) {
            return 0;
        }
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        // The byte count arrives pointer-sized; a size VstInt32 cannot hold would wrap in
        // the narrowing below, so it is refused like an empty chunk.
        if (!ptr || value <= 0 || value > 0x7fffffff) {
            return 0;
        }
        return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default:
        return 0;
    }
}

VstInt32 AudioEffect::getMasterVersion()
{
    return static_cast<VstInt32>(callHost(audioMasterVersion));
}

VstInt32 AudioEffect::getCurrentUniqueId()
{
    return static_cast<VstInt32>(callHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle()
{
    callHost(audioMasterIdle);
}

bool AudioEffect::isInputConnected(VstInt32 input)
{
    // The host answers 0 for "connected" here, so no host means connected too.
    return callHost(audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnected(VstInt32 output)
{
    return callHost(audioMasterPinConnected, output, 1) == 0;
}

// Every call into the host goes through here; an effect made without a host callback (the
// tests, a scanner) gets 0, the answer of a host that supports nothing.
VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                float opt)
{
    if (!audioMaster) {
        return 0;
    }
    return audioMaster(&cEffect, opcode, index, value, ptr, opt);
}

void AudioEffect::setFlag(VstInt32 flag, bool state)
{
    if (state) {
        cEffect.flags |= flag;
    }
    else {
        cEffect.flags &= ~flag;
    }
}

VstIntPtr AudioEffect::dispatchEffectClass(AEffect* e, VstInt32 opcode, VstInt32 index,
                                           VstIntPtr value, void* ptr, float opt)
{
    AudioEffect* effect = effectOf(e);
    if (!effect) {
        return 0;
    }
    // An exception must never unwind into the host's C frames.
    try {
        if (opcode == effClose) {
            // After close the host never touches the record again: the effect goes with it.
            effect->dispatcher(opcode, index, value, ptr, opt);
            delete effect;
            return 1;
        }
        return effect->dispatcher(opcode, index, value, ptr, opt);
    }
    catch (...) {
        return 0;
    }
}

float AudioEffect::getParameterClass(AEffect* e, VstInt32 index)
{
    AudioEffect* effect = effectOf(e);
    return effect ? effect->getParameter(index) : 0.0f;
}

void AudioEffect::setParameterClass(AEffect* e, VstInt32 index, float value)
{
    if (AudioEffect* effect = effectOf(e)) {
        effect->setParameter(index, value);
    }
}

// Empty blocks and missing buffer arrays are filtered here, once for every effect, so that
// process code may assume at least one frame in valid buffers.
void AudioEffect::processClass(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames)
{
    AudioEffect* effect = effectOf(e);
    if (effect && sampleFrames > 0 && inputs && outputs) {
        effect->process(inputs, outputs, sampleFrames);
    }
}

void AudioEffect::processClassReplacing(AEffect* e, float** inputs, float** outputs,
                                        VstInt32 sampleFrames)
{
    AudioEffect* effect = effectOf(e);
    if (effect && sampleFrames > 0 && inputs && outputs) {
        effect->processReplacing(inputs, outputs, sampleFrames);
    }
}
