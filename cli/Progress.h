// The status line zpx keeps on a terminal while a run takes a while: what it
// is doing ("reading photo.png 40%", "ScalingZPX… 1.2 s", "writing out.png
// 75%"), shown once the run has taken half a second, redrawn at most ten
// times a second and wiped when the run ends. Nothing is shown when standard
// error is not a terminal.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace zpxcli {

class Progress {
public:
    using Clock = std::chrono::steady_clock;

    // Draws on `terminal`, or nowhere when it is null.
    explicit Progress(std::FILE* terminal = StandardErrorIfTerminal());
    ~Progress() { Wipe(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    static std::FILE* StandardErrorIfTerminal();
    bool Shows() const { return terminal_ != nullptr; }

    // A step of `total` parts (rows); 0 for a step measured by its time alone.
    void Begin(const std::string& what, int total = 0);
    void Advance(int done) {
        done_ = done;
        if (terminal_ != nullptr) Draw();
    }
    // Wipes the line; the next step draws it again.
    void Wipe();

private:
    void Draw();

    static constexpr double kShowAfterMs = 500;
    static constexpr double kRedrawEveryMs = 100;

    std::FILE* terminal_;
    Clock::time_point runStart_ = Clock::now();
    Clock::time_point stepStart_ = runStart_;
    Clock::time_point lastDrawn_;
    std::string what_;
    int total_ = 0;
    int done_ = 0;
    bool shown_ = false;
};

}  // namespace zpxcli
