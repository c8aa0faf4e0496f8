// Command line of skorvaline-render. Parsing only checks the form of each option; whether
// a parameter name exists is known only once the plug-in is loaded.
#pragma once

#include "AudioFile.h"

#include <optional>
#include <string>
#include <vector>

namespace render {

/// One --set NAME=VALUE: the name as typed, the value already checked to lie in 0..1.
struct CParamSetting {
    std::string name;
    float value = 0.0f;
};

struct CRenderOptions {
    std::string input;   // empty: built-in demo
    std::string output;  // empty: built-in demo
    std::string plugin;  // empty: Skorvaline.so of the build folder
    std::optional<int> program;
    std::vector<CParamSetting> sets;  // in command-line order
    std::string preset;
    std::string savePreset;
    std::string mapLeft;
    std::string mapRight;
    std::string png;
    std::optional<double> tempo;
    int block = 512;
    double tail = 4.0;
    ESampleFormat format = ESampleFormat::kPcm24;
    bool listParams = false;
    bool listPrograms = false;
    bool help = false;
    bool quiet = false;

    bool demo() const { return input.empty(); }
    /// Only listing was asked for: no rendering happens.
    bool listOnly() const { return (listParams || listPrograms) && input.empty(); }
};

/// Largest block the tool hands to a plug-in in one call.
constexpr int kMaxBlock = 65536;
/// Longest tail accepted, in seconds (an hour).
constexpr double kMaxTail = 3600.0;

/// Parses argv[1..]; throws CRenderError with exit code 2 for a malformed command line,
/// including a --set value that is not a number in 0..1.
CRenderOptions parseOptions(const std::vector<std::string>& args);

/// The --help text.
std::string usageText();

}  // namespace render
