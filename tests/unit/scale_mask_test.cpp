// ScaleImageAndMaskZPX: the mask scaled with the image, pictures with an alpha
// channel turned into plain pictures with a mask, and nothing left behind on
// any failure path.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "scale/Scalers.h"
#include "tests/support/Plugin.h"

namespace {

using zpxhost::Host;
using zpxhost::HostMethod;
using zpxhost::RGBA;
using zpxtest::RedRows;
using Rows = std::vector<std::vector<int>>;

// Grey 10, 20 / 30, 40 with a mask black on the left and white on the right.
REALpicture MaskedPicture(Host& host) {
    REALpicture picture = zpxtest::MakeGrey(host, {{10, 20}, {30, 40}});
    zpxtest::AttachMask(host, picture, [](int x, int) { return 255 * x; });
    return picture;
}

// Opaque red on the left, transparent on the right.
REALpicture HalfTransparent(Host& host) {
    return zpxtest::MakePicture(host, 2, 2, true, [](int x, int) {
        return x == 0 ? RGBA{255, 0, 0, 255} : RGBA{0, 0, 0, 0};
    });
}

// Empty for no picture or no mask.
Rows MaskRows(const Host& host, REALpicture picture) {
    if (picture == nullptr || host.MaskOf(picture) == nullptr) return {};
    return RedRows(host, host.MaskOf(picture));
}

class ScaleMask : public zpxtest::PluginTest {};

TEST_F(ScaleMask, SameSizeIsTheReceiverAndUnmaskedPicturesScaleAsScaleZPX) {
    REALpicture masked = keep(MaskedPicture(host)), alpha = keep(HalfTransparent(host));
    for (REALpicture picture : {masked, alpha}) {
        REALpicture result = ScalePictureImageAndMask(picture, 2, 2, true, 0);
        EXPECT_EQ(result, picture);
        host.Release(result);
    }
    EXPECT_EQ(host.PictureCreations() + host.LockCount(masked) + host.LockCount(alpha), 0);
    EXPECT_EQ(host.MaskOf(alpha), nullptr);
    REALpicture plain = keep(zpxtest::MakePicture(host, 5, 4, false, zpxtest::TestPattern));
    for (bool antiAlias : {false, true}) {
        for (auto [width, height] : {std::pair{9, 7}, std::pair{3, 2}, std::pair{0, 2}}) {
            REALpicture expected = ScalePicture(plain, width, height, antiAlias, 0);
            REALpicture result = ScalePictureImageAndMask(plain, width, height, antiAlias, 0);
            EXPECT_EQ(result == nullptr, expected == nullptr);
            if (result != nullptr) {
                EXPECT_EQ(zpxtest::StoredPixels(host, result), zpxtest::StoredPixels(host, expected));
                EXPECT_EQ(host.MaskOf(result), nullptr);
                host.Release(expected);
                host.Release(result);
            }
        }
    }
}

// Each failure in turn on the smooth alpha path, each in a fresh host.
TEST(ScaleMaskFailures, EveryFailureLeavesTheResultAndNothingElse) {
    const std::vector<int> none, box{0, 0, 255, 255};
    struct Failure {
        std::string name;
        std::function<void(Host&)> arrange;
        std::vector<int> maskRow;  // of the result's mask; empty for none
        bool nil;
    };
    std::vector<Failure> failures = {
        {"no CopyMask", [](Host& host) { host.SetMethodMissing(HostMethod::CopyMask); }, none, false},
        {"no mask setter", [](Host& host) { host.SetMethodMissing(HostMethod::SetMask); }, none, false},
        {"no mask entry", [](Host& host) { host.SetMissing("REALGetPictureMask"); }, none, false},
    };
    // Creations: the plain copy (nothing to scale without it), CopyMask, the
    // image, the scaled mask, the result's mask. Whatever the smooth scaler
    // cannot make, image or mask, the box scaler makes.
    const std::vector<int> creationMasks[] = {none, none, box, box, none};
    for (int k = 1; k <= 5; ++k) {
        failures.push_back({"creation " + std::to_string(k), [k](Host& host) { host.FailPictureCreationAt(k); },
                            creationMasks[k - 1], k == 1});
    }
    // The image's five tables, then the mask's.
    for (int n = 1; n <= 10; ++n) {
        failures.push_back(
            {"allocation " + std::to_string(n), [n](Host&) { zpxtest::FailNthAllocation(n); }, box, false});
    }
    for (const Failure& failure : failures) {
        Host host;
        host.LoadEntry(REALPluginMain);
        REALpicture source = HalfTransparent(host);
        failure.arrange(host);
        REALpicture result = ScalePictureImageAndMask(source, 4, 4, true, 0);
        zpxtest::ResetAllocationFaults();
        EXPECT_EQ(result == nullptr, failure.nil) << failure.name;
        const Rows mask = MaskRows(host, result);
        EXPECT_EQ(mask.empty() ? none : mask[0], failure.maskRow) << failure.name;
        EXPECT_EQ(host.AuditProblems({source, result}), "") << failure.name;
        host.Release(source);
        if (result != nullptr) host.Release(result);
    }
}

class ScaleMaskLayouts : public zpxtest::PluginLayoutTest {};

// The mask is scaled like an image: interpolated at 4 x 4, box-averaged at
// 1 x 1. An alpha picture comes back plain, drawn by the host, with its
// transparency as that mask.
TEST_P(ScaleMaskLayouts, TheMaskFollowsTheImage) {
    REALpicture masked = keep(MaskedPicture(host)), alpha = keep(HalfTransparent(host));
    for (REALpicture source : {masked, alpha}) {
        REALpicture smooth = ScalePictureImageAndMask(source, 4, 4, true, 0);
        REALpicture boxed = ScalePictureImageAndMask(source, 1, 1, false, 0);
        EXPECT_EQ(MaskRows(host, smooth), Rows(4, {0, 128, 255, 255}));
        EXPECT_EQ(MaskRows(host, boxed), (Rows{{127}}));  // (0.5 + 510) / 4
        EXPECT_FALSE(host.HasAlpha(smooth));
        EXPECT_TRUE(host.PaddingIntact(smooth));
        EXPECT_EQ(host.GetPixel(smooth, 0, 0), source == alpha ? (RGBA{255, 0, 0, 255}) : (RGBA{10, 10, 10, 255}));
        EXPECT_EQ(host.AuditProblems({masked, alpha, smooth, boxed}), "");
        host.Release(smooth);
        host.Release(boxed);
    }
    EXPECT_EQ(host.MethodCalls(HostMethod::CopyMask), 2);
    EXPECT_EQ(host.MaskOf(alpha), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ScaleMaskLayouts, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
