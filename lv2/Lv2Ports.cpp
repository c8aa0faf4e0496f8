// Port symbols and names derived from the parameter table.
#include "lv2/Lv2Ports.h"

#include <cctype>

namespace skv::lv2 {

namespace {

std::string symbolFromName(const std::string& name)
{
    std::string symbol;
    bool gap = false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) && u < 0x80) {
            if (gap && !symbol.empty()) {
                symbol += '_';
            }
            symbol += static_cast<char>(std::tolower(u));
            gap = false;
        }
        else {
            gap = true;
        }
    }
    if (symbol.empty() || std::isdigit(static_cast<unsigned char>(symbol[0]))) {
        symbol.insert(0, "p");
    }
    return symbol;
}

}  // namespace

std::string parameterSymbol(int index)
{
    std::string symbol = symbolFromName(parameterName(index));
    // Two names that differ only in punctuation would collide; the later one carries its index.
    for (int i = 0; i < index; ++i) {
        if (symbolFromName(parameterName(i)) == symbol) {
            return symbol + "_" + std::to_string(index);
        }
    }
    return symbol;
}

std::string parameterLabel(int index)
{
    std::string label = parameterName(index);
    while (!label.empty() && label.back() == ' ') {
        label.pop_back();
    }
    return label;
}

std::string positionSymbol(int channel)
{
    return parameterSymbol(kPositionParams[channel]) + "_position";
}

std::string positionLabel(int channel)
{
    return parameterLabel(kPositionParams[channel]) + " position";
}

}  // namespace skv::lv2
