// Regressions found by fault injection: hosts that lack the entry to give
// back what the library would take, and exceptions from the host's drawing
// while a picture is read through a private copy.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "effects/Blur.h"
#include "effects/DrawPictureF.h"
#include "host/Host.h"
#include "plugin/PluginMain.h"
#include "resample/Resampler.h"
#include "scale/Scalers.h"
#include "tests/support/Pictures.h"

namespace {

using zpxhost::Host;
using zpxhost::HostMethod;

// Every method once on picture (drawn into destination); true when any gave a result.
bool AnyMethodSucceeds(Host& host, REALpicture picture, REALpicture destination) {
    bool any = DrawPictureF(destination, picture, 0.5, 0.5, 1.0, 0);
    for (REALpicture result : {ScalePicture(picture, 5, 4, true, 0), ScalePictureImageAndMask(picture, 5, 4, true, 0),
                               PictureScalingZPX(picture, 3, 5, 4, 0), BlurZPX(picture, 1.0, 0)}) {
        if (result == nullptr) continue;
        any = true;
        host.Release(result);
    }
    return any;
}

class MissingGiveBack : public ::testing::TestWithParam<std::string> {};

// Without REALLockObject a view used to drop the caller's reference (the
// picture died under the host, its mask with it); without REALUnlockObject or
// unlockPictureDescription every reference or lock taken stayed for good. Now
// nothing is taken and every method gives nil or false; the receiver itself
// still comes back with the caller's reference.
TEST_P(MissingGiveBack, NothingIsTakenAndEveryMethodGivesNil) {
    Host host;
    host.LoadEntry(REALPluginMain);
    host.SetMissing(GetParam());
    REALpicture picture = zpxtest::MakePicture(host, 3, 2, false, zpxtest::TestPattern);
    zpxtest::AttachMask(host, picture, [](int x, int y) { return 100 * x + 20 * y; });
    REALpicture destination = host.NewPicture(4, 3, false);
    EXPECT_FALSE(AnyMethodSucceeds(host, picture, destination));
    EXPECT_EQ(host.RefCount(picture), 1);
    // No description lock is asked for that could not be ended.
    if (GetParam() == "unlockPictureDescription") {
        EXPECT_EQ(host.LockCount(picture), 0);
    }
    EXPECT_EQ(host.AuditProblems({picture, destination}), "");
    REALpicture same = ScalePicture(picture, 3, 2, false, 0);
    EXPECT_EQ(same, picture);
    EXPECT_EQ(host.RefCount(picture), GetParam() == "REALLockObject" ? 1 : 2);
    if (GetParam() != "REALLockObject") host.Release(same);
    host.Release(picture);
    host.Release(destination);
}

INSTANTIATE_TEST_SUITE_P(Entries, MissingGiveBack,
                         ::testing::Values("REALLockObject", "REALUnlockObject", "unlockPictureDescription"));

// A picture that does not lock is read through a copy the host draws; when
// that drawing throws, the copy goes with the exception.
TEST(PrivateCopyFaults, AnExceptionFromTheHostsDrawingLeavesNoCopyBehind) {
    Host host;
    host.LoadEntry(REALPluginMain);
    REALpicture picture = zpxtest::MakePicture(host, 3, 2, false, zpxtest::TestPattern);
    REALpicture destination = host.NewPicture(4, 3, false);
    host.RefuseLock(picture, REALdescriptionBitmapContext);
    host.SetMethodHook(HostMethod::DrawPicture, [] { throw std::runtime_error("host drawing failed"); });
    EXPECT_THROW(ScalePicture(picture, 5, 4, false, 0), std::runtime_error);
    EXPECT_THROW(PictureScalingZPX(picture, 3, 5, 4, 0), std::runtime_error);
    EXPECT_THROW(BlurZPX(picture, 1.0, 0), std::runtime_error);
    EXPECT_THROW(DrawPictureF(destination, picture, 0.5, 0.5, 1.0, 0), std::runtime_error);
    EXPECT_EQ(host.AuditProblems({picture, destination}), "");
    host.SetMethodHook(HostMethod::DrawPicture, nullptr);
    // Undisturbed, the copy is read and dropped again.
    REALpicture result = ScalePicture(picture, 5, 4, false, 0);
    EXPECT_NE(result, nullptr);
    EXPECT_EQ(host.AuditProblems({picture, destination, result}), "");
    host.Release(result);
    host.Release(picture);
    host.Release(destination);
}

}  // namespace
