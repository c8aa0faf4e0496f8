// The render tool reports every problem the user can fix as one line: a CRenderError
// carries that line (file name and reason) up to main, which prints it and exits non-zero.
#pragma once

#include <stdexcept>
#include <string>

namespace render {

class CRenderError : public std::runtime_error {
public:
    explicit CRenderError(const std::string& message, int exitCode = 1)
        : std::runtime_error(message), exitCode_(exitCode)
    {
    }
    /// 1 for failures while rendering, 2 for wrong command lines, 130 after an interrupt.
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

/// SIGINT, SIGTERM and SIGHUP only set a flag; long loops poll it through checkInterrupt.
void installInterruptHandler();
/// Throws CRenderError (exit code 130) when an interrupt arrived.
void checkInterrupt();

}  // namespace render
