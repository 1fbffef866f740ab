#include "cli/Progress.h"

#include <unistd.h>

namespace zpxcli {

namespace {

double MillisecondsBetween(Progress::Clock::time_point from, Progress::Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

Progress::Progress(std::FILE* terminal) : terminal_(terminal) {}

std::FILE* Progress::StandardErrorIfTerminal() { return ::isatty(STDERR_FILENO) == 1 ? stderr : nullptr; }

void Progress::Begin(const std::string& what, int total) {
    what_ = what;
    total_ = total;
    done_ = 0;
    stepStart_ = Clock::now();
    lastDrawn_ = Clock::time_point();
}

void Progress::Draw() {
    const Clock::time_point now = Clock::now();
    if (MillisecondsBetween(runStart_, now) < kShowAfterMs) return;
    if (shown_ && MillisecondsBetween(lastDrawn_, now) < kRedrawEveryMs) return;
    if (total_ > 0)
        std::fprintf(terminal_, "\r\033[K%s %d%%", what_.c_str(), int(100.0 * done_ / total_));
    else
        std::fprintf(terminal_, "\r\033[K%s\u2026 %.1f s", what_.c_str(), MillisecondsBetween(stepStart_, now) / 1000);
    std::fflush(terminal_);
    shown_ = true;
    lastDrawn_ = now;
}

void Progress::Wipe() {
    if (!shown_) return;
    std::fputs("\r\033[K", terminal_);
    std::fflush(terminal_);
    shown_ = false;
}

}  // namespace zpxcli
