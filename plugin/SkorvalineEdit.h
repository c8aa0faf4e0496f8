// The effect with its editor: the class the entry point creates. It names itself
// "Skorvaline v1.0" to hosts and forwards every parameter change to the editor, if any.
#pragma once

#include "plugin/Skorvaline.h"

class fxSkorvalineEditor;

class fxSkorvalineEdit : public fxSkorvaline {
public:
    explicit fxSkorvalineEdit(audioMasterCallback audioMaster);
    ~fxSkorvalineEdit() override;

    void setParameter(VstInt32 index, float value) override;
    void engineMovedParameter(VstInt32 index, float value) override;
    bool getEffectName(char* name) override;
    bool getProductString(char* text) override;
    /// After loadFilterMap: the editor's filter-map display follows (any thread).
    void filterMapLoaded(const char* reference, int channel) override;

    fxSkorvalineEditor* getWindow() const { return window; }

    /// Set by the constructor when the editor could not be created; the entry point then
    /// destroys the half-built effect and answers null. The entry point clears it before each
    /// construction. One per thread: hosts create instances on several threads at once, and
    /// one construction's failure must not be read as another's.
    static thread_local bool outOfMemory;

private:
    /// The editor, owned by the SDK base once attached; typed so that the audio thread's
    /// forwarding needs no cast.
    fxSkorvalineEditor* window = nullptr;
};
