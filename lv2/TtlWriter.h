// The bundle's Turtle description, written from the parameter table at build time so that
// port names, symbols and defaults can never drift from what the effect reports.
#pragma once

#include <string>

namespace skv::lv2 {

/// manifest.ttl: the plug-in's URI, its binary and where its description lives.
std::string manifestTtl();
/// Skorvaline.ttl: features, extension data and every port.
std::string pluginTtl();

}  // namespace skv::lv2
