// ScalingZPX end to end through the picture views: exact examples, layouts,
// failure paths and the yield points.
#include <gtest/gtest.h>

#include <algorithm>

#include "host/Host.h"
#include "plugin/PixelPath.h"
#include "plugin/PluginMain.h"
#include "resample/Resampler.h"
#include "tests/support/AllocationFaults.h"
#include "tests/support/Pictures.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;
using zpxtest::MakeGrey;
using zpxtest::RedRows;
using Rows = std::vector<std::vector<int>>;

class Resample : public ::testing::Test {
protected:
    void SetUp() override { host.LoadEntry(REALPluginMain); }
    void TearDown() override { zpxtest::ResetAllocationFaults(); }
    Host host;
};

TEST_F(Resample, EqualSizeKeepsColoursExceptMitchell) {
    REALpicture source = MakeGrey(host, {{0, 90, 0}});
    for (int mode : {1, 2, 3, 4, 6, 7}) {
        REALpicture result = PictureScalingZPX(source, mode, 3, 1, 0);
        EXPECT_EQ(RedRows(host, result), (Rows{{0, 90, 0}})) << "mode " << mode;
        host.Release(result);
    }
    REALpicture softened = PictureScalingZPX(source, 5, 3, 1, 0);
    EXPECT_EQ(RedRows(host, softened), (Rows{{5, 80, 5}}));
    EXPECT_EQ(host.AuditProblems({source, softened}), "");
    host.Release(softened);
    host.Release(source);
}

TEST_F(Resample, OnePixelFillsAnySize) {
    REALpicture source = zpxtest::MakePicture(host, 1, 1, false, [](int, int) { return RGBA{12, 200, 99, 255}; });
    for (int mode = 1; mode <= 7; ++mode) {
        REALpicture result = PictureScalingZPX(source, mode, 5, 3, 0);
        for (const RGBA& pixel : zpxtest::StoredPixels(host, result)) EXPECT_EQ(pixel, (RGBA{12, 200, 99, 255}));
        host.Release(result);
    }
    host.Release(source);
}

TEST_F(Resample, BoxShrinkRoundsTheMeanUp) {
    REALpicture source = MakeGrey(host, {{0, 1}});
    REALpicture result = PictureScalingZPX(source, 2, 1, 1, 0);
    EXPECT_EQ(RedRows(host, result), (Rows{{1}}));
    host.Release(result);
    host.Release(source);
}

TEST_F(Resample, Lanczos3EnlargementClampsOvershootAndLobes) {
    REALpicture source = MakeGrey(host, {{0, 255, 0, 0}});
    REALpicture result = PictureScalingZPX(source, 3, 8, 1, 0);
    EXPECT_EQ(RedRows(host, result), (Rows{{0, 63, 215, 237, 72, 0, 0, 10}}));
    host.Release(result);
    host.Release(source);
}

TEST_F(Resample, InvalidArgumentsGiveNilWithoutLocking) {
    REALpicture source = MakeGrey(host, {{1, 2}, {3, 4}});
    EXPECT_EQ(PictureScalingZPX(source, 0, 2, 2, 0), nullptr);
    EXPECT_EQ(PictureScalingZPX(source, 8, 2, 2, 0), nullptr);
    EXPECT_EQ(PictureScalingZPX(source, 1, 0, 2, 0), nullptr);
    EXPECT_EQ(PictureScalingZPX(source, 1, 2, -1, 0), nullptr);
    EXPECT_EQ(PictureScalingZPX(nullptr, 1, 2, 2, 0), nullptr);
    EXPECT_EQ(host.LockCount(source), 0);
    EXPECT_EQ(host.AuditProblems({source}), "");
    host.Release(source);
}

TEST_F(Resample, TooWideForAPlainPictureRunsTheRowsThenGivesNil) {
    REALpicture source = MakeGrey(host, {{1, 2}, {3, 4}});
    zpxtest::ResetAllocationFaults();
    EXPECT_EQ(PictureScalingZPX(source, 1, 32768, 1, 0), nullptr);
    EXPECT_GE(zpxtest::LargestAllocation(), size_t(32768) * 2 * 4);
    EXPECT_EQ(host.AuditProblems({source}), "");
    host.Release(source);
}

TEST_F(Resample, AlphaSourceGivesAnOpaqueAlphaResult) {
    REALpicture source = zpxtest::MakePicture(host, 4, 4, true, [](int x, int y) {
        return RGBA{100, 50, 25, static_cast<uint8_t>(x * 80 + y)};
    });
    REALpicture result = PictureScalingZPX(source, 5, 3, 2, 0);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(host.HasAlpha(result));
    for (const RGBA& pixel : zpxtest::StoredPixels(host, result)) EXPECT_EQ(pixel.a, 255);
    host.Release(result);
    host.Release(source);
}

TEST_F(Resample, SevenYieldPointsAndOnePerResultRow) {
    zpxtest::MakeEveryYieldPointHandOver();
    REALpicture source = zpxtest::MakePicture(host, 9, 6, false, zpxtest::TestPattern);
    REALpicture result = PictureScalingZPX(source, 3, 4, 5, -10);
    EXPECT_EQ(host.Yields(), 7 + 5);
    host.Release(result);
    result = PictureScalingZPX(source, 3, 4, 5, 0);
    EXPECT_EQ(host.Yields(), 7 + 5);
    host.Release(result);
    host.Release(source);
}

TEST_F(Resample, EveryAllocationFailingInTurnLeavesNothingBehind) {
    REALpicture source = zpxtest::MakePicture(host, 9, 6, false, zpxtest::TestPattern);
    // The buffer, the list array and the second list array (height > width)
    // are needed; a list's entries are not, and the vector pass's decoded row
    // only decides which twin runs.
    struct Case {
        PixelPath path;
        std::vector<int> essential;
        int decodedRow;
    };
    for (const Case& path : {Case{PixelPath::Plain, {1, 2, 7}, 0}, Case{PixelPath::Baseline, {1, 2, 8}, 7}}) {
        ForcePixelPath(path.path);
        zpxtest::ResetAllocationFaults();
        REALpicture whole = PictureScalingZPX(source, 3, 4, 12, 0);
        const int allocations = zpxtest::AllocationsSeen();
        ASSERT_EQ(allocations, 2 + 4 + 1 + 12 + (path.decodedRow ? 1 : 0));
        for (int n = 1; n <= allocations; ++n) {
            zpxtest::FailNthAllocation(n);
            REALpicture result = PictureScalingZPX(source, 3, 4, 12, 0);
            zpxtest::ResetAllocationFaults();
            const bool essential = std::count(path.essential.begin(), path.essential.end(), n) > 0;
            EXPECT_EQ(result == nullptr, essential) << "allocation " << n;
            if (result != nullptr) {
                EXPECT_EQ(zpxtest::StoredPixels(host, result) == zpxtest::StoredPixels(host, whole),
                          n == path.decodedRow)
                    << "allocation " << n;
                host.Release(result);
            }
            EXPECT_EQ(host.AuditProblems({source, whole}), "") << "allocation " << n;
        }
        host.Release(whole);
    }
    ForcePixelPath(BestPixelPath());
    host.Release(source);
}

TEST_F(Resample, AnExceptionFromAYieldReleasesEverything) {
    zpxtest::MakeEveryYieldPointHandOver();
    REALpicture source = zpxtest::MakePicture(host, 9, 6, false, zpxtest::TestPattern);
    for (int throwAt = 1; throwAt <= 7 + 4; ++throwAt) {
        int yields = 0;
        host.SetYieldHook([&] {
            if (++yields == throwAt) throw std::runtime_error("host code failed");
        });
        EXPECT_THROW(PictureScalingZPX(source, 5, 4, 4, 1), std::runtime_error);
        EXPECT_EQ(host.AuditProblems({source}), "") << "thrown at yield " << throwAt;
    }
    host.Release(source);
}

// The vector passes against their plain twins on pictures with every kind of
// content, for every kernel, shrinking and enlarging each way.
TEST(ResamplePaths, EveryPathGivesThePlainBytes) {
    Host host;
    host.LoadEntry(REALPluginMain);
    uint32_t seed = 12345;
    auto noise = [&](int, int) {
        seed = seed * 1103515245u + 12345u;
        return RGBA{static_cast<uint8_t>(seed >> 24), static_cast<uint8_t>(seed >> 16), static_cast<uint8_t>(seed >> 8),
                    255};
    };
    REALpicture sources[] = {zpxtest::MakePicture(host, 61, 37, false, noise),
                             zpxtest::MakePicture(host, 61, 37, false, zpxtest::TestPattern)};
    const std::pair<int, int> sizes[] = {{17, 9}, {61, 37}, {130, 80}, {1, 1}, {200, 5}, {3, 120}};
    for (REALpicture source : sources) {
        for (int mode = 1; mode <= 7; ++mode) {
            for (auto [width, height] : sizes) {
                ForcePixelPath(PixelPath::Plain);
                REALpicture plain = PictureScalingZPX(source, mode, width, height, 0);
                for (PixelPath path : {PixelPath::Baseline, PixelPath::Avx2, PixelPath::Avx512}) {
                    if (!PixelPathAvailable(path)) continue;
                    ForcePixelPath(path);
                    REALpicture fast = PictureScalingZPX(source, mode, width, height, 0);
                    EXPECT_EQ(zpxtest::StoredPixels(host, fast), zpxtest::StoredPixels(host, plain))
                        << PixelPathName(path) << ", mode " << mode << " to " << width << "x" << height;
                    host.Release(fast);
                }
                host.Release(plain);
            }
        }
    }
    ForcePixelPath(BestPixelPath());
    for (REALpicture source : sources) host.Release(source);
}

class ResampleLayouts : public ::testing::TestWithParam<zpxtest::HostSetup> {};

TEST_P(ResampleLayouts, IdenticalPixelsInEveryLayout) {
    std::vector<std::vector<RGBA>> reference;
    const std::pair<int, int> sizes[] = {{13, 7}, {50, 41}};
    {
        Host host;
        host.LoadEntry(REALPluginMain);
        REALpicture source = zpxtest::MakePicture(host, 31, 19, false, zpxtest::TestPattern);
        for (int mode = 1; mode <= 7; ++mode) {
            for (auto [width, height] : sizes) {
                REALpicture result = PictureScalingZPX(source, mode, width, height, 0);
                reference.push_back(zpxtest::StoredPixels(host, result));
                host.Release(result);
            }
        }
        host.Release(source);
    }
    Host host(GetParam().config);
    host.LoadEntry(REALPluginMain);
    REALpicture source = zpxtest::MakePicture(host, 31, 19, false, zpxtest::TestPattern);
    size_t next = 0;
    for (int mode = 1; mode <= 7; ++mode) {
        for (auto [width, height] : sizes) {
            REALpicture result = PictureScalingZPX(source, mode, width, height, 0);
            ASSERT_NE(result, nullptr);
            EXPECT_EQ(zpxtest::StoredPixels(host, result), reference[next++]) << "mode " << mode;
            EXPECT_TRUE(host.PaddingIntact(result));
            EXPECT_EQ(host.AuditProblems({source, result}), "");
            host.Release(result);
        }
    }
    host.Release(source);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ResampleLayouts, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
