// The bundle binary's plug-in symbol, lv2_descriptor, and the C functions of the descriptor
// and the state interface, each handing over to the instance's CLv2Wrapper. The effect is the
// one with its editor, which the UI (Lv2Ui.cpp) opens.
#include "lv2/Lv2Wrapper.h"
#include "plugin/SkorvalineEdit.h"

#include <cstring>

namespace {

using skv::lv2::CLv2Wrapper;

std::unique_ptr<fxSkorvaline> effectWithEditor(audioMasterCallback audioMaster)
{
    // An effect whose editor could not be made has no window; the instance is refused, as the
    // VST 2.x entry point refuses it.
    auto effect = std::make_unique<fxSkorvalineEdit>(audioMaster);
    if (!effect->getWindow()) {
        return nullptr;
    }
    return effect;
}

CLv2Wrapper* wrapperOf(LV2_Handle instance)
{
    return static_cast<CLv2Wrapper*>(instance);
}

LV2_Handle instantiate(const LV2_Descriptor* /*descriptor*/, double sampleRate,
                       const char* /*bundlePath*/, const LV2_Feature* const* features)
{
    return CLv2Wrapper::create(sampleRate, features, &effectWithEditor).release();
}

void connectPort(LV2_Handle instance, uint32_t port, void* data)
{
    wrapperOf(instance)->connectPort(port, data);
}

void activate(LV2_Handle instance)
{
    wrapperOf(instance)->activate();
}

void run(LV2_Handle instance, uint32_t frames)
{
    wrapperOf(instance)->run(frames);
}

void deactivate(LV2_Handle instance)
{
    wrapperOf(instance)->deactivate();
}

void cleanup(LV2_Handle instance)
{
    delete wrapperOf(instance);
}

LV2_State_Status save(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle,
                      uint32_t /*flags*/, const LV2_Feature* const* features)
{
    return wrapperOf(instance)->save(store, handle, features);
}

LV2_State_Status restore(LV2_Handle instance, LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle handle, uint32_t /*flags*/,
                         const LV2_Feature* const* features)
{
    return wrapperOf(instance)->restore(retrieve, handle, features);
}

const void* extensionData(const char* uri)
{
    static const LV2_State_Interface state = {save, restore};
    if (std::strcmp(uri, LV2_STATE__interface) == 0) {
        return &state;
    }
    return nullptr;
}

const LV2_Descriptor descriptor = {skv::lv2::kPluginUri, instantiate, connectPort,  activate, run,
                                   deactivate,           cleanup,     extensionData};

}  // namespace

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor*
lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : nullptr;
}
