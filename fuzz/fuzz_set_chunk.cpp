// libFuzzer target for the state chunk: the first byte chooses a program or a bank chunk, the
// rest is handed to setChunk as a host would. Whatever the bytes, the effect must answer 0 or
// 1, and afterwards still produce a chunk that loads back. Seeds: fuzz/corpus/set_chunk
// (plain and compressed documents, version-1 records and banks).
#include "plugin/Skorvaline.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One instance for the whole run, like a host restoring many states into one plug-in.
    static fxSkorvaline* effect = new fxSkorvaline(nullptr);
    if (size < 1)
        return 0;
    const bool isPreset = (data[0] & 1) != 0;
    std::vector<std::uint8_t> chunk(data + 1, data + size);
    const VstInt32 answer = effect->setChunk(chunk.empty() ? nullptr : chunk.data(),
                                             static_cast<VstInt32>(chunk.size()), isPreset);
    if (answer != 0 && answer != 1)
        std::abort();

    void* saved = nullptr;
    const VstInt32 savedSize = effect->getChunk(&saved, isPreset);
    if (savedSize <= 0 || saved == nullptr)
        std::abort();
    std::vector<std::uint8_t> again(static_cast<std::uint8_t*>(saved),
                                    static_cast<std::uint8_t*>(saved) + savedSize);
    if (effect->setChunk(again.data(), savedSize, isPreset) != 1)
        std::abort();
    return 0;
}
