#include "cli/MethodRun.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "cli/Errors.h"
#include "cli/FailureReasons.h"

namespace zpxcli {

using Clock = std::chrono::steady_clock;
using zpxhost::Value;

namespace {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// While a call runs, the host's yield hook keeps a status line on the
// terminal: "ScaleZPX… 1.2 s" once the call has taken half a second, redrawn
// at most ten times a second and wiped when the call returns.
class LiveProgress {
public:
    LiveProgress(zpxhost::Host& host, const std::string& method) : host_(host), method_(method) {
        if (StderrIsTerminal()) host_.SetYieldHook([this] { OnYield(); });
    }
    ~LiveProgress() {
        host_.SetYieldHook(nullptr);
        Wipe();
    }
    LiveProgress(const LiveProgress&) = delete;
    LiveProgress& operator=(const LiveProgress&) = delete;

    void CallStarts() { start_ = Clock::now(); }
    void CallEnded() { Wipe(); }

private:
    static constexpr double kShowAfterMs = 500;
    static constexpr double kRedrawEveryMs = 100;

    void OnYield() {
        Clock::time_point now = Clock::now();
        double elapsed = std::chrono::duration<double, std::milli>(now - start_).count();
        if (elapsed < kShowAfterMs) return;
        if (shown_ && std::chrono::duration<double, std::milli>(now - lastDrawn_).count() < kRedrawEveryMs) return;
        std::fprintf(stderr, "\r\033[K%s\u2026 %.1f s", method_.c_str(), elapsed / 1000);
        std::fflush(stderr);
        shown_ = true;
        lastDrawn_ = now;
    }

    void Wipe() {
        if (!shown_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

    zpxhost::Host& host_;
    std::string method_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDrawn_;
    bool shown_ = false;
};

std::string RaisedText(const zpxhost::RaisedException& raised) {
    std::string text = "raised " + raised.className;
    if (raised.message) text += ": " + *raised.message;
    return text;
}

// The result of one call, with zpx's reference on a picture result.
struct OneCall {
    Value value;
    HostPicture picture;
    double milliseconds = 0;
};

OneCall CallOnce(Session& session, LiveProgress& progress, const std::string& method, REALpicture receiver,
                 const std::vector<Value>& arguments, int32_t yield) {
    size_t raisedBefore = session.RaisedCount();
    OneCall call;
    progress.CallStarts();
    Clock::time_point start = Clock::now();
    try {
        call.value = session.Call(method, receiver, arguments, yield);
    } catch (const std::invalid_argument& error) {
        throw UsageError(method + ": " + error.what());
    } catch (const CliError&) {
        throw;
    } catch (const std::exception& error) {
        throw MethodFailure(method + ": host code threw: " + error.what());
    }
    call.milliseconds = MillisecondsSince(start);
    progress.CallEnded();
    if (auto* picture = std::get_if<REALpicture>(&call.value); picture && *picture)
        call.picture = HostPicture(session.host(), *picture);

    if (session.RaisedCount() > raisedBefore)
        throw MethodFailure(method + " " + RaisedText(session.host().Raised()[raisedBefore]));
    const char* failure = nullptr;
    if (std::holds_alternative<REALpicture>(call.value) && !call.picture) failure = " returned nil";
    if (auto* flag = std::get_if<bool>(&call.value); flag && !*flag) failure = " returned false";
    if (failure != nullptr) {
        std::string reason = FailureReason(session.host(), method, receiver, arguments);
        throw MethodFailure(method + failure + (reason.empty() ? "" : ": " + reason));
    }
    return call;
}

}  // namespace

int32_t CallSettings::EffectiveYield() const {
    if (yield) return *yield;
    return StderrIsTerminal() ? kTerminalYieldMilliseconds : 0;
}

MethodResult RunMethod(Session& session, const std::string& method, REALpicture receiver,
                       const std::vector<Value>& arguments, const CallSettings& settings,
                       const std::function<void()>& beforeCallAgain) {
    LiveProgress progress(session.host(), method);
    MethodResult result;
    for (int i = 0; i < settings.Calls(); ++i) {
        if (i > 0 && beforeCallAgain) beforeCallAgain();
        OneCall call = CallOnce(session, progress, method, receiver, arguments, settings.EffectiveYield());
        result.milliseconds.push_back(call.milliseconds);
        result.value = call.value;
        result.picture = std::move(call.picture);
    }
    if (settings.repeat) std::fprintf(stderr, "%s\n", TimingSummary(method, result.milliseconds).c_str());
    return result;
}

std::string TimingSummary(const std::string& method, std::vector<double> milliseconds) {
    if (milliseconds.empty()) return method + ": no calls";
    std::sort(milliseconds.begin(), milliseconds.end());
    size_t count = milliseconds.size();
    double median = count % 2 == 1 ? milliseconds[count / 2]
                                   : (milliseconds[count / 2 - 1] + milliseconds[count / 2]) / 2;
    char text[200];
    std::snprintf(text, sizeof text, ": median %.3f ms, min %.3f ms, max %.3f ms over %zu call%s", median,
                  milliseconds.front(), milliseconds.back(), count, count == 1 ? "" : "s");
    return method + text;
}

}  // namespace zpxcli
