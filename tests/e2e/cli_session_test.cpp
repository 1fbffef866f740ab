// zpx's glue between files and the host, in process: method failures become
// exit status 1 with every host reference given back, masks keep grey
// levels, and the timing line reports the median.
#include <gtest/gtest.h>

#include <stdexcept>

#include "cli/Errors.h"
#include "cli/MethodRun.h"
#include "cli/Session.h"

namespace zpxcli {
namespace {

Image Grey(int width, int height, uint8_t level) {
    Image image = Image::Blank(width, height, false);
    for (size_t i = 0; i < image.rgba.size(); i += 4) image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = level;
    image.isGrey = true;
    return image;
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

TEST(cliSession, NilResultIsAMethodFailureAndLeavesNothingBehind) {
    Session session(HostOptions{});
    HostPicture picture = session.MakePicture(Grey(6, 6, 90));
    session.host().RefuseLocks(REALdescriptionBitmapContext);
    std::string message;
    EXPECT_EQ(ExitStatusOf(session, picture.get(), CallSettings{}, &message), kExitMethodFailed);
    EXPECT_EQ(message, "ScaleZPX returned nil");
    EXPECT_EQ(session.host().AuditProblems({picture.get()}), "");
}

TEST(cliSession, HostCodeThrowingInAYieldIsAMethodFailure) {
    Session session(HostOptions{});
    HostPicture picture = session.MakePicture(Grey(6, 6, 90));
    session.host().SetYieldHook([] { throw std::runtime_error("window closed"); });
    CallSettings settings;
    settings.yield = -1;
    std::string message;
    EXPECT_EQ(ExitStatusOf(session, picture.get(), settings, &message), kExitMethodFailed);
    EXPECT_NE(message.find("window closed"), std::string::npos) << message;
    EXPECT_EQ(session.host().AuditProblems({picture.get()}), "");
}

TEST(cliSession, RepeatedCallsKeepOnlyTheLastResult) {
    Session session(HostOptions{});
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

TEST(cliSession, GreyFileMakesAMaskOfItsLevels) {
    HostOptions options;
    options.alpha = true;
    Session session(options);
    HostPicture mask = session.MakePlainPicture(Grey(2, 2, 200));
    EXPECT_FALSE(session.host().HasAlpha(mask.get()));
    EXPECT_EQ(session.host().GetPixel(mask.get(), 1, 1), (zpxhost::RGBA{200, 200, 200, 255}));
}

TEST(cliSession, UnknownMethodOrUnusableOptionsAreUsageErrors) {
    Session session(HostOptions{});
    try {
        session.DeclarationOf("SharpenZPX");
        FAIL();
    } catch (const CliError& error) {
        EXPECT_EQ(error.status(), kExitUnusable);
    }
    HostOptions noAlphaLayout;
    noAlphaLayout.alpha = true;
    noAlphaLayout.layout = 6;
    EXPECT_THROW(noAlphaLayout.Config(), CliError);
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
