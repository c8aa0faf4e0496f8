// libFuzzer target for config.xml: any bytes, read as the configuration loader reads the file.
// Whatever the bytes, the record must then print as a file that reads back completely into
// the same record. Seeds: fuzz/corpus/config (files as written, hand-edited shapes).
#include "config/Config.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CConfig config;
    config.rootName = CConfig::rootNameFor("Skorvaline");
    (void)config.readText(std::string_view(reinterpret_cast<const char*>(data), size));
    // Keep the engine's view usable whatever was read.
    const int resolution = config.getResolution();
    if (resolution < 1 || resolution > CConfig::kMaxResolution)
        std::abort();

    const std::string text = config.toText();
    CConfig again;
    again.rootName = config.rootName;
    if (!again.readText(text) || again.toText() != text)
        std::abort();
    return 0;
}
