// The LV2 face of the effect: its URI, the property that carries its state, and the port
// layout shared by the wrapper and the generator of the bundle's Turtle description.
// Port symbols are derived from the parameter names, which never change because stored presets
// key their values by them; so a session saved with one build loads in the next.
#pragma once

#include "plugin/ParameterTable.h"

#include <cstdint>
#include <string>

namespace skv::lv2 {

constexpr const char* kPluginUri = "https://skorvaline.org/plugins/skorvaline";
/// The state property: the preset-bank document of all sixteen programs, as text.
constexpr const char* kStateBankUri = "https://skorvaline.org/plugins/skorvaline#bank";
/// The editor as an X11 UI of the plug-in.
constexpr const char* kUiUri = "https://skorvaline.org/plugins/skorvaline#editor";
/// File name of the plug-in binary inside the bundle; the UI lives in the same binary, so that
/// it reaches the very effect object the host instantiated.
constexpr const char* kBinaryName = "Skorvaline_lv2.so";

enum PortIndex : std::uint32_t {
    kPortInL = 0,
    kPortInR,
    kPortOutL,
    kPortOutR,
    kPortControl,         // atom sequence: MIDI and time:Position
    kPortFirstParam = 5,  // parameter i is port kPortFirstParam + i
    kPortLIndexOut = kPortFirstParam + kNumParams,
    kPortRIndexOut,
    kNumPorts,
};
static_assert(kPortLIndexOut == 58 && kNumPorts == 60);

/// The parameters the engine itself moves, also shown to hosts as outputs.
constexpr int kPositionParams[2] = {kParamLIndex, kParamRIndex};

/// Port symbol of parameter 0..52: the name in lower case with every run of other characters
/// as one underscore ("L->R Feedback" gives "l_r_feedback"); unique among the parameters and
/// a valid LV2 symbol (never empty, never starting with a digit).
std::string parameterSymbol(int index);
/// The parameter name without the trailing spaces some names carry.
std::string parameterLabel(int index);
/// Symbol and name of the output port that shows scan position 0 (left) or 1 (right).
std::string positionSymbol(int channel);
std::string positionLabel(int channel);

}  // namespace skv::lv2
