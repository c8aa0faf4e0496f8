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

    /// The editor; null when it could not be created, and the entry points then refuse the
    /// instance.
    fxSkorvalineEditor* getWindow() const { return window; }

private:
    /// The editor, owned by the SDK base once attached; typed so that the audio thread's
    /// forwarding needs no cast.
    fxSkorvalineEditor* window = nullptr;
};
