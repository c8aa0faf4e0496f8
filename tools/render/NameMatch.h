// Matching the parameter names a user types against the names a plug-in reports: case and
// surrounding spaces are ignored ("L Warp  " is found as "l warp"), and an unknown name gets
// a short list of the closest names for the error message.
#pragma once

#include <string>
#include <vector>

namespace render {

/// Lower case, surrounding white space removed.
std::string normaliseName(const std::string& name);

/// Index of the first name equal to `wanted` after normalising both; -1 if none.
int findName(const std::vector<std::string>& names, const std::string& wanted);

/// Up to `limit` names close to `wanted` (edit distance or shared words), closest first.
std::vector<std::string> closeMatches(const std::vector<std::string>& names,
                                      const std::string& wanted, size_t limit = 4);

}  // namespace render
