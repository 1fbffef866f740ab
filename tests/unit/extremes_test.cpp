// Extreme arguments for the five methods: sizes 0, -1, 1, 32767, 32768 and
// 2^31 - 1 in every combination (whose buffers and pictures would pass 2^31
// bytes), radii, coordinates and strengths that are NaN, infinite or 1e300,
// modes outside 1..7 and yield intervals at the ends of their range. Each call
// gives its documented result (nil, false, the receiver, or a picture of the
// requested size) without asking for a large working buffer, with nothing
// left behind, and, in the sanitizer build, without undefined behaviour.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "effects/Blur.h"
#include "effects/DrawPictureF.h"
#include "resample/Resampler.h"
#include "scale/Scalers.h"
#include "tests/support/Plugin.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// No working buffer of the calls below needs more than this: the largest are
// tables of one entry per pixel of a 32768-pixel side.
constexpr size_t kSmallBuffer = size_t(8) << 20;
constexpr int64_t kLargestPlainSide = 32767;

const int32_t kSizes[] = {0, -1, 1, 32767, 32768, kMax};

// What the host can make: a plain picture up to 32767 a side, one with an
// alpha channel (made by the Picture constructor) of any size, both below
// 2^31 bytes.
bool HostMakes(int64_t width, int64_t height, bool alphaResult) {
    if (width < 1 || height < 1 || width > 2147483647 / 4 / height) return false;
    return alphaResult || (width <= kLargestPlainSide && height <= kLargestPlainSide);
}

struct SizeCall {
    const char* name;
    bool keepsAlpha;  // a source with an alpha channel gives a result with one
    std::function<REALpicture(REALpicture, int32_t, int32_t)> call;
};

const SizeCall kSizeCalls[] = {
    {"ScaleZPX", true, [](REALpicture p, int32_t w, int32_t h) { return ScalePicture(p, w, h, false, 0); }},
    {"ScaleZPX anti-aliased", true, [](REALpicture p, int32_t w, int32_t h) { return ScalePicture(p, w, h, true, 0); }},
    // The alpha channel becomes a mask on a plain result.
    {"ScaleImageAndMaskZPX", false,
     [](REALpicture p, int32_t w, int32_t h) { return ScalePictureImageAndMask(p, w, h, false, 0); }},
    {"ScaleImageAndMaskZPX anti-aliased", false,
     [](REALpicture p, int32_t w, int32_t h) { return ScalePictureImageAndMask(p, w, h, true, 0); }},
    {"ScalingZPX", true, [](REALpicture p, int32_t w, int32_t h) { return PictureScalingZPX(p, 1, w, h, 0); }},
};

class Extremes : public zpxtest::PluginLayoutTest {
protected:
    // A 3 x 2 source with a mask, so that the mask is scaled too.
    REALpicture Source(bool alpha) {
        REALpicture source = zpxtest::MakePicture(host, 3, 2, alpha, zpxtest::TestPattern);
        zpxtest::AttachMask(host, source, [](int x, int y) { return (x * 128 + y * 255) % 256; });
        return source;
    }
};

// Nil receivers give nil without raising, whatever the size.
TEST_P(Extremes, EverySizeCombinationGivesNilOrAPictureOfThatSize) {
    // Results with an alpha channel come from the host's constructor on
    // either host; the console buffer is tried with plain pictures only.
    const bool desktop = GetParam().config.app == zpxhost::AppKind::Desktop;
    for (bool alpha : desktop ? std::vector<bool>{false, true} : std::vector<bool>{false}) {
        REALpicture source = Source(alpha);
        const std::vector<RGBA> before = zpxtest::StoredPixels(host, source);
        for (const SizeCall& method : kSizeCalls) {
            for (int32_t width : kSizes) {
                for (int32_t height : kSizes) {
                    const std::string what = std::string(method.name) + (alpha ? " with alpha " : " ") +
                                             std::to_string(width) + " x " + std::to_string(height);
                    EXPECT_EQ(method.call(nullptr, width, height), nullptr) << what << " of nil";
                    zpxtest::ResetAllocationFaults();
                    REALpicture result = method.call(source, width, height);
                    EXPECT_LE(zpxtest::LargestAllocation(), kSmallBuffer) << what;
                    EXPECT_EQ(result != nullptr, HostMakes(width, height, alpha && method.keepsAlpha)) << what;
                    if (result != nullptr) {
                        EXPECT_EQ(host.Width(result), width) << what;
                        EXPECT_EQ(host.Height(result), height) << what;
                        EXPECT_TRUE(host.PaddingIntact(result)) << what;
                        EXPECT_EQ(host.AuditProblems({source, result}), "") << what;
                        host.Release(result);
                    }
                    EXPECT_EQ(host.AuditProblems({source}), "") << what;
                }
            }
        }
        EXPECT_EQ(zpxtest::StoredPixels(host, source), before);
        EXPECT_TRUE(host.Raised().empty());
        host.Release(source);
    }
}

TEST_P(Extremes, ModesOutsideTheTableAndSizesBelowOneLockNothing) {
    REALpicture source = keep(Source(false));
    for (int32_t mode : {0, 8, -1, kMin, kMax}) EXPECT_EQ(PictureScalingZPX(source, mode, 4, 4, 0), nullptr) << mode;
    for (int32_t side : {0, -1, kMin}) {
        EXPECT_EQ(PictureScalingZPX(source, 1, side, 4, 0), nullptr);
        EXPECT_EQ(PictureScalingZPX(source, 1, 4, side, 0), nullptr);
    }
    EXPECT_EQ(host.LockCount(source), 0);
    EXPECT_EQ(host.PictureCreations(), 0);
}

// The source sizes a blur accepts are 1..32767 a side; a radius whose whole
// part is below 1 or beyond 32 bits gives the receiver; a radius whose
// division table would pass 2^31 bytes gives nil without asking for it.
TEST_P(Extremes, BlurRadiiAndSourceSides) {
    REALpicture small = keep(zpxtest::MakePicture(host, 3, 2, false, zpxtest::TestPattern));
    for (double radius : {kNaN, kInf, -kInf, 1e300, -1e300, 0.999, 0.0, -1.0, 2147483648.0, -2147483649.0}) {
        EXPECT_EQ(BlurZPX(nullptr, radius, 0), nullptr) << radius;
        REALpicture result = BlurZPX(small, radius, 0);
        EXPECT_EQ(result, small) << radius;
        EXPECT_EQ(host.RefCount(small), 2) << radius;
        host.Release(result);
    }
    EXPECT_EQ(host.LockCount(small), 0);
    EXPECT_EQ(BlurZPX(nullptr, 2.0, 0), nullptr);
    EXPECT_TRUE(host.Raised().empty());
    for (double radius : {2147483647.0, 1073741824.0, 1048575.0}) {
        zpxtest::ResetAllocationFaults();
        EXPECT_EQ(BlurZPX(small, radius, 0), nullptr) << radius;
        EXPECT_LE(zpxtest::LargestAllocation(), kSmallBuffer) << radius;
        EXPECT_EQ(host.AuditProblems({small}), "") << radius;
    }

    for (auto [width, height, blurs] : {std::tuple{32767, 1, true}, std::tuple{1, 32767, true},
                                        std::tuple{32768, 1, false}, std::tuple{1, 32768, false}}) {
        REALpicture source = host.NewPicture(width, height, false);
        REALpicture result = BlurZPX(source, 1.0, 0);
        EXPECT_EQ(result != nullptr, blurs) << width << " x " << height;
        if (result != nullptr) {
            EXPECT_EQ(host.GetPixel(result, width - 1, height - 1), (RGBA{255, 255, 255, 255}));
            host.Release(result);
        }
        EXPECT_EQ(host.AuditProblems({small, source}), "");
        host.Release(source);
    }
}

// Coordinates and strengths that cannot be placed give false and leave the
// destination as it was; far but representable ones draw nothing of the
// source and rewrite the destination as it was, fourth byte included.
TEST_P(Extremes, DrawingAtUnplaceablePositionsAndStrengths) {
    REALpicture source = keep(zpxtest::MakePicture(host, 3, 2, false, zpxtest::TestPattern));
    REALpicture destination =
        keep(zpxtest::MakePicture(host, 4, 3, false, [](int x, int y) { return zpxtest::TestPattern(x + 5, y); }));
    const std::vector<RGBA> before = zpxtest::StoredPixels(host, destination);
    for (double bad : {kNaN, kInf, -kInf, 1e300, -1e300, 2147483648.0, -2147483648.5, -2147483649.0}) {
        EXPECT_FALSE(DrawPictureF(destination, source, bad, 0.0, 1.0, 0)) << bad;
        EXPECT_FALSE(DrawPictureF(destination, source, 0.0, bad, 1.0, 0)) << bad;
    }
    // Beyond the strengths whose channel products fit 32 bits: 255 * 8421505
    // does not, and with a negative strength neither does the destination's
    // 255 * (1 + 8421504).
    for (double bad : {kNaN, kInf, -kInf, 1e300, -1e300, 8421505.0, -8421504.0}) {
        EXPECT_FALSE(DrawPictureF(destination, source, 0.5, 0.5, bad, 0)) << bad;
        EXPECT_FALSE(DrawPictureF(destination, source, 0.0, 0.0, bad, 0)) << bad;
    }
    EXPECT_EQ(zpxtest::StoredPixels(host, destination), before);
    EXPECT_EQ(host.LockCount(destination), 0);
    EXPECT_EQ(host.Asks("REALGetPictureMask"), 0);
    for (double far : {2147483647.0, -2147483648.0, 2147483647.5, -2147483647.5}) {
        EXPECT_TRUE(DrawPictureF(destination, source, far, far, 1.0, 0)) << far;
        EXPECT_EQ(zpxtest::StoredPixels(host, destination), before) << far;
    }
    // Every strength whose products fit is drawn, each channel clamped.
    for (double x : {0.0, 0.5}) {
        EXPECT_TRUE(DrawPictureF(destination, source, x, 0.0, 8421504.0, 0)) << x;
        EXPECT_EQ(host.GetPixel(destination, 2, 0), (RGBA{255, 0, 0, 255})) << x;  // red 74 over 3
        EXPECT_TRUE(DrawPictureF(destination, source, x, 0.0, -8421503.0, 0)) << x;
        EXPECT_EQ(host.GetPixel(destination, 0, 0), (RGBA{0, 0, 0, 255})) << x;
    }
    EXPECT_TRUE(host.Raised().empty());
}

// Yield intervals at the ends of the 32-bit range: the clock differences wrap
// without overflow, and the pixels are those of a call that never yields.
TEST_P(Extremes, YieldIntervalsAtTheEndsOfTheirRange) {
    REALpicture source = keep(Source(false));
    REALpicture destination = keep(zpxtest::MakePicture(host, 4, 3, false, zpxtest::TestPattern));
    const std::function<REALpicture(int32_t)> calls[] = {
        [&](int32_t yield) { return ScalePicture(source, 5, 4, true, yield); },
        [&](int32_t yield) { return ScalePictureImageAndMask(source, 2, 1, false, yield); },
        [&](int32_t yield) { return PictureScalingZPX(source, 7, 5, 3, yield); },
        [&](int32_t yield) { return BlurZPX(source, 1.0, yield); },
    };
    for (const auto& call : calls) {
        REALpicture quiet = call(0);
        for (int32_t yield : {kMin, kMin + 1, -1, 1, kMax}) {
            REALpicture result = call(yield);
            ASSERT_NE(result, nullptr);
            EXPECT_EQ(zpxtest::StoredPixels(host, result), zpxtest::StoredPixels(host, quiet)) << yield;
            host.Release(result);
        }
        host.Release(quiet);
    }
    for (int32_t yield : {kMin, -1, kMax}) EXPECT_TRUE(DrawPictureF(destination, source, 0.5, 0.5, 0.5, yield));
}

INSTANTIATE_TEST_SUITE_P(Hosts, Extremes, ::testing::ValuesIn(zpxtest::DesktopAndConsole()), zpxtest::SetupName);

}  // namespace
