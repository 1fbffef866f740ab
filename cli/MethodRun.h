// Running one method the way a person at a terminal wants it run: timed,
// repeated when asked, with a live line while a long call yields, and every
// way it can fail turned into one clear sentence.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/Progress.h"
#include "cli/Session.h"

namespace zpxcli {

struct CallSettings {
    std::optional<int32_t> yield;  // the method's yield argument; unset: see EffectiveYield
    std::optional<int> repeat;     // unset: one call, no timing line

    // A terminal gets a short millisecond interval, so that the live line can
    // move; a file or pipe gets no yielding at all.
    int32_t EffectiveYield() const;
    int Calls() const { return repeat.value_or(1); }
};

constexpr int32_t kTerminalYieldMilliseconds = -50;

struct MethodResult {
    zpxhost::Value value;         // the last call's result
    HostPicture picture;          // that result when it is a picture
    std::vector<double> milliseconds;  // each call's time, the call alone
};

// Calls the method settings.Calls() times on the same receiver, releasing
// every result but the last. Throws MethodFailure when a call raised a host
// exception, returned nil or false, or host code threw; prints the timing
// line on standard error when --repeat was given. beforeCallAgain, untimed
// and run before every call but the first, lets a method that changes its
// receiver start every call from the same input. The run's status line, when
// given, shows the call; otherwise the call has one of its own.
MethodResult RunMethod(Session& session, const std::string& method, REALpicture receiver,
                       const std::vector<zpxhost::Value>& arguments, const CallSettings& settings,
                       const std::function<void()>& beforeCallAgain = nullptr, Progress* progress = nullptr);

// "ScaleZPX: median 12.345 ms, min 12.001 ms, max 13.020 ms over 3 calls"
std::string TimingSummary(const std::string& method, std::vector<double> milliseconds);

}  // namespace zpxcli
