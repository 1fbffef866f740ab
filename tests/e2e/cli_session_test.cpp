// zpx's glue between files and the host, in process: method failures become
// exit status 1 with every host reference given back, and the timing line
// reports the median.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "cli/Errors.h"
#include "cli/MethodRun.h"
#include "cli/Progress.h"
#include "cli/Session.h"

namespace zpxcli {
namespace {

Image Grey(int width, int height, uint8_t level) {
    Image image = Image::Blank(width, height, false);
    for (size_t i = 0; i < image.rgba.size(); i += 4) image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = level;
    image.isGrey = true;
    return image;
}

// The host options of a zpx run with this build's module.
HostOptions WithBuiltModule() {
    HostOptions options;
    options.plugin = ZPX_MODULE_PATH;
    return options;
}

int ExitStatusOf(Session& session, REALpicture receiver, const CallSettings& settings, std::string* message) {
    try {
        RunMethod(session, "ScaleZPX", receiver, {3, 3, false}, settings);
    } catch (const CliError& error) {
        *message = error.what();
        return error.status();
    }
    return kExitSuccess;
}

// A nil result and host code throwing in a yield both end in status 1, with
// every host reference given back.
TEST(cliSession, MethodFailuresLeaveNothingBehind) {
    for (bool throwing : {false, true}) {
        Session session(WithBuiltModule());
        HostPicture picture = session.MakePicture(Grey(6, 6, 90));
        CallSettings settings;
        if (throwing) {
            session.host().SetYieldHook([] { throw std::runtime_error("window closed"); });
            settings.yield = -1;
        } else {
            session.host().RefuseLocks(REALdescriptionBitmapContext);
        }
        std::string message;
        EXPECT_EQ(ExitStatusOf(session, picture.get(), settings, &message), kExitMethodFailed);
        EXPECT_NE(message.find(throwing ? "window closed" : "ScaleZPX returned nil"), std::string::npos) << message;
        EXPECT_EQ(session.host().AuditProblems({picture.get()}), "");
    }
}

TEST(cliSession, RepeatedCallsKeepOnlyTheLastResult) {
    Session session(WithBuiltModule());
    HostPicture picture = session.MakePicture(Grey(6, 6, 90));
    CallSettings settings;
    settings.repeat = 4;
    testing::internal::CaptureStderr();
    MethodResult result = RunMethod(session, "ScaleZPX", picture.get(), {3, 2, false}, settings);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(result.milliseconds.size(), 4u);
    EXPECT_EQ(session.host().AuditProblems({picture.get(), result.picture.get()}), "");
    Image image = session.ReadPicture(result.picture.get());
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.PixelAt(2, 1)[1], 90);
}

// The status line: nothing in the first half second, then the step and how
// far it got, wiped at the end.
TEST(cliProgress, ShowsTheStepOnceTheRunTakesAWhile) {
    std::FILE* terminal = std::tmpfile();
    ASSERT_NE(terminal, nullptr);
    {
        Progress progress(terminal);
        progress.Begin("reading photo.png", 200);
        progress.Advance(10);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        progress.Advance(100);
        progress.Advance(150);  // redrawn at most ten times a second
        progress.Begin("BlurZPX");
        progress.Advance(0);  // a new step at once
    }
    std::rewind(terminal);
    char text[256] = {0};
    std::fread(text, 1, sizeof text - 1, terminal);
    std::fclose(terminal);
    EXPECT_STREQ(text, "\r\033[Kreading photo.png 50%\r\033[KBlurZPX\u2026 0.0 s\r\033[K");
}

TEST(cliTiming, SummaryGivesMedianMinimumAndMaximum) {
    EXPECT_EQ(TimingSummary("ScaleZPX", {3.0, 1.0, 2.0}),
              "ScaleZPX: median 2.000 ms, min 1.000 ms, max 3.000 ms over 3 calls");
    EXPECT_EQ(TimingSummary("BlurZPX", {4.0, 1.0, 2.0, 10.0}),
              "BlurZPX: median 3.000 ms, min 1.000 ms, max 10.000 ms over 4 calls");
    EXPECT_EQ(TimingSummary("BlurZPX", {1.5}), "BlurZPX: median 1.500 ms, min 1.500 ms, max 1.500 ms over 1 call");
}

}  // namespace
}  // namespace zpxcli
