// Progress bar for long renders, on stderr and only when stderr is a terminal (scripts and
// logs get nothing): percentage, speed as a multiple of real time, and time left.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace render {

class CProgress {
public:
    /// `enabled` false makes every call a no-op; `totalFrames` at `sampleRate`.
    CProgress(bool enabled, size_t totalFrames, int sampleRate);
    ~CProgress();

    /// Draws after the first quarter second, then at most ten times a second.
    void update(size_t framesDone);
    /// Clears the bar line.
    void finish();

    /// The bar text for a state, without the carriage return (for tests).
    static std::string formatLine(double fraction, double speed, double secondsLeft, int width);

    /// Whether stderr is a terminal.
    static bool stderrIsTerminal();

private:
    bool enabled_;
    bool drawn_ = false;
    size_t total_;
    int sampleRate_;
    std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace render
