// Presets and banks of the preset bank document, and the two text forms every stored value
// takes: the local date-and-time text and the "%0.5g" number text. Both texts are produced
// and read the same way whatever the process locale, so a bank saved under a German locale
// loads under an English one.
#pragma once

#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

/// One preset: a few descriptive texts and the parameter entries. Both maps order their keys
/// by byte-wise comparison, which is also the order in which they are written.
struct CPreset {
    using Attributes = std::map<std::string, std::string>;

    std::string plugin;
    std::string pluginVersion;
    std::string group;
    std::string subGroup;
    std::string name;
    std::string author;
    std::string modified;
    std::string tuningMap;
    std::map<std::string, Attributes> params;
};

/// An ordered list of presets with its own name, author and date.
struct CBank {
    CBank();

    std::vector<std::shared_ptr<CPreset>> presets;
    std::string name = "Default";
    std::string author = "-";
    std::string modified;
};

/// "YYYY-Mmm-DD HH:MM:SS" with English month abbreviations, e.g. "2026-Dec-07 01:52:33".
std::string formatDateText(const std::tm& local);
/// The local date and time now, in whole seconds, as formatDateText.
std::string currentDateText();

/// The value as printf's "%0.5g" prints it in the C locale ("0.5", "0.12346", "1e-06").
std::string formatNumber(float value);
/// Text to number as the C library's atof reads it in the C locale: leading white space, any
/// exponent form, "inf"/"nan"; the longest valid prefix counts and no number at all gives 0.
double parseNumber(std::string_view text);
