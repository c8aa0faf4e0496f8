// The progress bar: when to draw it, and its text.
#include "Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace render {

CProgress::CProgress(bool enabled, size_t totalFrames, int sampleRate)
    : enabled_(enabled), total_(std::max<size_t>(totalFrames, 1)), sampleRate_(sampleRate),
      start_(std::chrono::steady_clock::now()), last_(start_)
{
}

CProgress::~CProgress()
{
    finish();
}

bool CProgress::stderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

std::string CProgress::formatLine(double fraction, double speed, double secondsLeft, int width)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(std::lround(fraction * width));
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '-');
    char line[160];
    if (speed > 0.0 && std::isfinite(secondsLeft)) {
        const long left = std::lround(std::max(0.0, secondsLeft));
        std::snprintf(line, sizeof line, "[%s] %3d%%  %6.1fx real time  %ld:%02ld left",
                      bar.c_str(), static_cast<int>(std::floor(fraction * 100.0)), speed, left / 60,
                      left % 60);
    }
    else {
        std::snprintf(line, sizeof line, "[%s] %3d%%", bar.c_str(),
                      static_cast<int>(std::floor(fraction * 100.0)));
    }
    return line;
}

void CProgress::update(size_t framesDone)
{
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    // Short renders finish before the bar would be worth drawing.
    if (!drawn_ && now - start_ < std::chrono::milliseconds(250))
        return;
    // Redrawing on every block would cost more terminal output than the render itself.
    if (drawn_ && now - last_ < std::chrono::milliseconds(100))
        return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double audioSeconds = static_cast<double>(framesDone) / sampleRate_;
    // Over the first moments the speed is mostly start-up cost; no estimate is shown then.
    const double speed = elapsed > 0.05 ? audioSeconds / elapsed : 0.0;
    const double fraction = static_cast<double>(framesDone) / static_cast<double>(total_);
    const double left =
        speed > 0.0
            ? (static_cast<double>(total_ - std::min(framesDone, total_)) / sampleRate_) / speed
            : NAN;
    // Carriage return and erase-to-end-of-line redraw the bar in place, and a shorter line
    // leaves nothing of a longer one behind.
    std::fprintf(stderr, "\r%s\033[K", formatLine(fraction, speed, left, 30).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

// The bar line is erased rather than ended with a newline, so that the summary that follows
// starts on a clean line.
void CProgress::finish()
{
    if (enabled_ && drawn_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
    drawn_ = false;
    enabled_ = false;
}

}  // namespace render
