// Finding a parameter by the name a user typed, and the closest names when there is none.
#include "NameMatch.h"

#include "Text.h"

#include <algorithm>

namespace render {

namespace {

// Levenshtein distance with one row of the table: typing slips (a letter missing, swapped
// or doubled) stay within one or two edits.
size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string normaliseName(const std::string& name)
{
    return lowerCase(trimmed(name));
}

int findName(const std::vector<std::string>& names, const std::string& wanted)
{
    const std::string w = normaliseName(wanted);
    for (size_t i = 0; i < names.size(); ++i)
        if (normaliseName(names[i]) == w)
            return static_cast<int>(i);
    return -1;
}

std::vector<std::string> closeMatches(const std::vector<std::string>& names,
                                      const std::string& wanted, size_t limit)
{
    const std::string w = normaliseName(wanted);
    std::vector<std::pair<size_t, std::string>> scored;
    for (const std::string& name : names) {
        const std::string n = normaliseName(name);
        // Plug-ins may report a name twice (both channels' "Mix"); it is suggested once.
        if (n.empty() || std::any_of(scored.begin(), scored.end(),
                                     [&](const auto& s) { return normaliseName(s.second) == n; }))
            continue;
        size_t d = editDistance(w, n);
        // One name containing the other ("delay" in "l delay") counts as close.
        if (!w.empty() && (n.find(w) != std::string::npos || w.find(n) != std::string::npos))
            d = std::min(d, size_t(1));
        // Longer names tolerate more slips; short ones would otherwise match everything.
        const size_t allowed = std::max<size_t>(2, std::max(w.size(), n.size()) / 3);
        if (d <= allowed)
            scored.emplace_back(d, trimmed(name));
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (size_t i = 0; i < scored.size() && i < limit; ++i)
        out.push_back(scored[i].second);
    return out;
}

}  // namespace render
