// Small text helpers shared by the render tool's option parsing, name matching and
// messages; plug-in names and displays come padded with spaces, typed names in any case.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace render {

/// `s` without leading and trailing white space.
inline std::string trimmed(const std::string& s)
{
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
        --b;
    return s.substr(a, b - a);
}

/// `s` in lower case (ASCII letters).
inline std::string lowerCase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace render
