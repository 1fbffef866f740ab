#include "cli/MethodRun.h"

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

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// While a call runs, the host's yield hook keeps the status line up to date:
// "ScaleZPX… 1.2 s", wiped when the call returns.
class LiveProgress {
public:
    LiveProgress(zpxhost::Host& host, const std::string& method, Progress* progress) : host_(host), method_(method) {
        progress_ = progress != nullptr ? progress : &own_;
        if (progress_->Shows()) host_.SetYieldHook([this] { progress_->Advance(0); });
    }
    ~LiveProgress() {
        if (progress_->Shows()) host_.SetYieldHook(nullptr);
        progress_->Wipe();
    }
    LiveProgress(const LiveProgress&) = delete;
    LiveProgress& operator=(const LiveProgress&) = delete;

    void CallStarts() { progress_->Begin(method_); }
    void CallEnded() { progress_->Wipe(); }

private:
    zpxhost::Host& host_;
    std::string method_;
    Progress own_;
    Progress* progress_;
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
    return Progress::StandardErrorIfTerminal() != nullptr ? kTerminalYieldMilliseconds : 0;
}

MethodResult RunMethod(Session& session, const std::string& method, REALpicture receiver,
                       const std::vector<Value>& arguments, const CallSettings& settings,
                       const std::function<void()>& beforeCallAgain, Progress* runProgress) {
    LiveProgress progress(session.host(), method, runProgress);
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
