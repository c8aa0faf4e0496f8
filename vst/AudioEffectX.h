// SDK-shaped level-2 base: routes the 2.x opcodes (events, names, can-do, pins, categories,
// key and knob editor calls) to virtual operations with the usual defaults, and offers the
// host services an effect calls (time info, MIDI wish, idle, display refresh, edit gestures).
// Every host service is skipped when the effect has no host callback.
#pragma once

#include "vst/AudioEffect.h"

class AudioEffectX : public AudioEffect {
public:
    AudioEffectX(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    ~AudioEffectX() override = default;

    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                         float opt) override;

    // Host -> effect (defaults as the SDK has them).
    /// Answer 1 when the events were taken. Called before the block's process call.
    virtual VstInt32 processEvents(VstEvents* /*events*/) { return 0; }
    virtual bool canParameterBeAutomated(VstInt32 /*index*/) { return true; }
    virtual bool string2parameter(VstInt32 /*index*/, char* /*text*/) { return false; }
    virtual VstInt32 getNumCategories() { return 1; }
    /// Text buffer of kVstMaxProgNameLen bytes; answer false for a program that does not exist.
    virtual bool getProgramNameIndexed(VstInt32 /*category*/, VstInt32 /*index*/, char* /*text*/)
    {
        return false;
    }
    virtual bool copyProgram(VstInt32 /*destination*/) { return false; }
    virtual void inputConnected(VstInt32 /*index*/, bool /*state*/) {}
    virtual void outputConnected(VstInt32 /*index*/, bool /*state*/) {}
    virtual bool getInputProperties(VstInt32 /*index*/, VstPinProperties* /*properties*/)
    {
        return false;
    }
    virtual bool getOutputProperties(VstInt32 /*index*/, VstPinProperties* /*properties*/)
    {
        return false;
    }
    virtual VstPlugCategory getPlugCategory()
    {
        return (cEffect.flags & effFlagsIsSynth) ? kPlugCategSynth : kPlugCategUnknown;
    }
    virtual bool setBypass(bool /*onOff*/) { return false; }
    /// Buffers: effect name kVstMaxEffectNameLen, vendor and product kVstMaxVendorStrLen bytes.
    virtual bool getEffectName(char* /*name*/) { return false; }
    virtual bool getErrorText(char* /*text*/) { return false; }
    virtual bool getVendorString(char* /*text*/) { return false; }
    virtual bool getProductString(char* /*text*/) { return false; }
    virtual VstInt32 getVendorVersion() { return 0; }
    virtual VstIntPtr vendorSpecific(VstInt32 /*lArg*/, VstIntPtr /*lArg2*/, void* /*ptrArg*/,
                                     float /*floatArg*/)
    {
        return 0;
    }
    /// 1 yes, 0 don't know, -1 no.
    virtual VstInt32 canDo(char* /*text*/) { return 0; }
    /// Samples; 0 means default or unknown.
    virtual VstInt32 getGetTailSize() { return 0; }
    virtual VstInt32 fxIdle() { return 0; }
    virtual bool getParameterProperties(VstInt32 /*index*/, void* /*properties*/) { return false; }
    virtual bool keysRequired() { return false; }
    virtual VstInt32 getVstVersion() { return kVstVersion; }
    virtual bool beginSetProgram() { return false; }
    virtual bool endSetProgram() { return false; }
    virtual VstInt32 startProcess() { return 0; }
    virtual VstInt32 stopProcess() { return 0; }

    // Effect -> host.
    /// Announces MIDI input (audioMasterWantMidi with the filter as value).
    virtual void wantEvents(VstInt32 filter = 1);
    /// The host's time record for the fields in filter (kVst*Valid bits), or null; the record
    /// belongs to the host and is only valid until the next call.
    virtual VstTimeInfo* getTimeInfo(VstInt32 filter);
    virtual bool needIdle();
    /// Tells the host that names or values changed outside automation.
    virtual bool updateDisplay();
    /// Start and end of a user gesture on a parameter.
    virtual bool beginEdit(VstInt32 index);
    virtual bool endEdit(VstInt32 index);
    virtual bool ioChanged();
    virtual VstInt32 getHostSampleRate();
    virtual VstInt32 getHostBlockSize();
    virtual bool sizeWindow(VstInt32 width, VstInt32 height);
    virtual bool canHostDo(char* text);

    void isSynth(bool state = true) { setFlag(effFlagsIsSynth, state); }
    void noTail(bool state = true) { setFlag(effFlagsNoSoundInStop, state); }
};
