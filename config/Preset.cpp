// Date and number texts of the preset bank document.
#include "config/Preset.h"

#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale.h>  // NOLINT(modernize-deprecated-headers): newlocale is POSIX

CBank::CBank() : modified(currentDateText()) {}

std::string formatDateText(const std::tm& local)
{
    // Spelled out here rather than taken from strftime("%b"), which follows LC_TIME.
    static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int month = (local.tm_mon >= 0 && local.tm_mon < 12) ? local.tm_mon : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%s-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  kMonths[month], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string currentDateText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return formatDateText(local);
}

std::string formatNumber(float value)
{
    // std::to_chars with a precision is defined as printf in the C locale, whatever the
    // process locale says about the decimal point.
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                      std::chars_format::general, 5);
    return std::string(text, result.ptr);
}

double parseNumber(std::string_view text)
{
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t{});
    // strtod needs a terminated string; the view may point into a larger buffer.
    const std::string copy(text);
    if (cLocale == locale_t{})
        return std::strtod(copy.c_str(), nullptr);
    return strtod_l(copy.c_str(), nullptr, cLocale);
}
