// Entry point. Linux hosts look up "VSTPluginMain" first, then "main"; both names lead here.
// A C++ function cannot be called main and return a pointer, so the second name is given
// as the assembler name of a separate declaration of the same function.
#include "plugin/SkorvalineEdit.h"

#include <new>

namespace {

AEffect* createEffect(audioMasterCallback audioMaster)
{
    // No callback, or a host that does not answer its version: no usable host.
    if (!audioMaster || audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) {
        return nullptr;
    }
    fxSkorvalineEdit* effect = nullptr;
    try {
        effect = new fxSkorvalineEdit(audioMaster);
    }
    catch (...) {
        // Includes std::bad_alloc: nothing may unwind into the host.
        return nullptr;
    }
    // An effect whose editor could not be made has no window: the instance is refused.
    if (!effect->getWindow()) {
        delete effect;
        return nullptr;
    }
    return effect->getAeffect();
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback audioMaster)
{
    return createEffect(audioMaster);
}

// The same function under the name "main" (an alias: one address, two symbols).
__attribute__((visibility("default"), alias("VSTPluginMain"))) AEffect*
skvMainEntry(audioMasterCallback audioMaster) __asm__("main");

}  // extern "C"
