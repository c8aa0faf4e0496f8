// libFuzzer target for the state chunk. The first byte chooses the kind of chunk (bit 0: a
// program chunk) and the current program (bits 1-4); the rest is handed to setChunk as a host
// would. Whatever the bytes, the effect must answer 0 or 1, and a chunk it accepted must leave
// a current program that saves and loads back. A refused chunk changed nothing and needs no
// such check; that, and checking one program rather than the bank (whose chunk is the same
// program text sixteen times), keeps the target above a thousand runs a second. Seeds:
// fuzz/corpus/set_chunk (plain and compressed documents, version-1 records and banks, a
// document of tiny elements beyond the bounds).
#include "plugin/Skorvaline.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A 4 x 1 picture at 24 bits as image text.
constexpr const char* kTinyPicture =
    "KAAAAAQAAAABAAAAAQAYAAAAAAAMAAAAAAAAAAAAAAAAAAAAAAAAAJAAAJAAVZAAqpAA/w==";

// One instance for the whole run, like a host restoring many states into one plug-in. Every
// program starts with a tiny picture on both channels: selecting a program, or restoring a
// chunk that leaves its pictures alone, would otherwise rebuild a built-in picture each run.
fxSkorvaline* makeEffect()
{
    auto* effect = new fxSkorvaline(nullptr);
    std::string bank = "<?xml version=\"1.0\"?><Bank name=\"b\">";
    for (int i = 0; i < fxSkorvaline::kNumPrograms; ++i) {
        bank += "<Preset name=\"p\" plugin=\"Skorvaline\">";
        for (const char* id : {"Bitmap L", "Bitmap R"})
            bank +=
                std::string("<param id=\"") + id + "\" path=\"\" base64=\"" + kTinyPicture + "\"/>";
        bank += "</Preset>";
    }
    bank += "</Bank>";
    if (effect->setChunk(bank.data(), VstInt32(bank.size() + 1), false) != 1)
        std::abort();
    return effect;
}

// Saves the current program and loads it back; both must succeed.
void roundTrip(fxSkorvaline& effect)
{
    const bool isPreset = true;
    void* saved = nullptr;
    const VstInt32 savedSize = effect.getChunk(&saved, isPreset);
    if (savedSize <= 0 || saved == nullptr)
        std::abort();
    std::vector<std::uint8_t> again(static_cast<std::uint8_t*>(saved),
                                    static_cast<std::uint8_t*>(saved) + savedSize);
    if (effect.setChunk(again.data(), savedSize, isPreset) != 1)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fxSkorvaline* effect = makeEffect();
    if (size < 1)
        return 0;
    const bool isPreset = (data[0] & 1) != 0;
    effect->setProgram((data[0] >> 1) & 15);
    std::vector<std::uint8_t> chunk(data + 1, data + size);
    const VstInt32 answer = effect->setChunk(chunk.empty() ? nullptr : chunk.data(),
                                             static_cast<VstInt32>(chunk.size()), isPreset);
    if (answer != 0 && answer != 1)
        std::abort();
    if (answer == 0)
        return 0;
    roundTrip(*effect);
    return 0;
}
