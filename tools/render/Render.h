// One run of skorvaline-render, from parsed options to files: reads the input (or
// synthesises the demo phrase), loads the effect as a host does, applies program, preset,
// filter maps and parameter settings in that order, renders the input and the tail block by
// block, and only then puts every output file in place, so a failed run leaves none.
#pragma once

#include "Options.h"

namespace render {

/// Runs the command line; returns the exit code. Throws CRenderError with the one-line reason.
int runRender(const CRenderOptions& options);

}  // namespace render
