// The vector box scaler gives the plain scaler's bytes on every pixel path:
// its integer division over every sum it can meet, and whole pictures in
// every layout, at the box sizes around its 257-pixel limit, and when its
// tables cannot be had.
#include <gtest/gtest.h>

#include <utility>

#include "host/Host.h"
#include "plugin/PixelPath.h"
#include "plugin/PluginMain.h"
#include "scale/BoxVector.h"
#include "scale/Scalers.h"
#include "tests/support/AllocationFaults.h"
#include "tests/support/Pictures.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;

TEST(BoxMeans, MultiplierGivesTheTruncatedDoubleMeanOfEverySum) {
    for (int64_t area = 1; area <= box_vector::kLargestArea; ++area) {
        const uint32_t multiplier = box_vector::MeanMultiplier(area);
        ASSERT_NE(multiplier, 0u) << "area " << area;
        int64_t wrong = 0;
        for (uint32_t sum = 0; sum <= 255 * area; ++sum) {
            const uint32_t plain = static_cast<uint32_t>((0.5 + static_cast<double>(sum)) / static_cast<double>(area));
            wrong += box_vector::MeanByMultiplier(sum, multiplier) != plain;
        }
        EXPECT_EQ(wrong, 0) << "area " << area;
    }
    EXPECT_EQ(box_vector::MeanMultiplier(0), 0u);
    EXPECT_EQ(box_vector::MeanMultiplier(box_vector::kLargestArea + 1), 0u);
}

REALpicture Noise(Host& host, int width, int height, bool alpha, uint32_t seed) {
    return zpxtest::MakePicture(host, width, height, alpha, [&](int, int) {
        seed = seed * 1103515245u + 12345u;
        return RGBA{static_cast<uint8_t>(seed >> 24), static_cast<uint8_t>(seed >> 16), static_cast<uint8_t>(seed >> 8),
                    static_cast<uint8_t>(seed >> 4)};
    });
}

const PixelPath kFastPaths[] = {PixelPath::Baseline, PixelPath::Avx2, PixelPath::Avx512};

class BoxPaths : public ::testing::TestWithParam<zpxtest::HostSetup> {
protected:
    void SetUp() override { host.LoadEntry(REALPluginMain); }
    void TearDown() override {
        ForcePixelPath(BestPixelPath());
        zpxtest::ResetAllocationFaults();
    }
    std::vector<RGBA> ScaledOn(PixelPath path, REALpicture source, int width, int height) {
        ForcePixelPath(path);
        REALpicture result = ScalePictureFast(source, width, height);
        EXPECT_NE(result, nullptr);
        std::vector<RGBA> pixels = zpxtest::StoredPixels(host, result);
        EXPECT_TRUE(host.PaddingIntact(result));
        host.Release(result);
        return pixels;
    }
    void ExpectEveryPathPlain(REALpicture source, int width, int height) {
        const std::vector<RGBA> plain = ScaledOn(PixelPath::Plain, source, width, height);
        for (PixelPath path : kFastPaths) {
            if (!PixelPathAvailable(path)) continue;
            EXPECT_EQ(ScaledOn(path, source, width, height), plain)
                << PixelPathName(path) << " to " << width << "x" << height;
        }
    }
    Host host{GetParam().config};
};

TEST_P(BoxPaths, EveryPathGivesThePlainBytes) {
    const std::pair<int, int> sources[] = {{61, 37}, {1, 1}, {33, 300}};
    const std::pair<int, int> sizes[] = {{1, 1},  {17, 9},  {30, 18}, {60, 36}, {130, 80},
                                         {3, 120}, {200, 5}, {5, 37},  {61, 1},  {1, 37}};
    uint32_t seed = 7;
    for (auto [sourceWidth, sourceHeight] : sources) {
        for (bool alpha : {false, true}) {
            REALpicture source = Noise(host, sourceWidth, sourceHeight, alpha, seed++);
            for (auto [width, height] : sizes) ExpectEveryPathPlain(source, width, height);
            EXPECT_EQ(host.AuditProblems({source}), "");
            host.Release(source);
        }
    }
}

// Reductions by a whole factor, where each box starts at the end of the one
// before and the vector scaler reads every running sum once; the widths leave
// every remainder of a vector group.
TEST_P(BoxPaths, WholeFactorReductions) {
    uint32_t seed = 5;
    for (int factor : {1, 2, 3, 4, 5, 8, 15}) {
        for (int width : {1, 7, 8, 9, 17, 33}) {
            REALpicture source = Noise(host, width * factor, 3 * factor, false, seed++);
            ExpectEveryPathPlain(source, width, 3);
            host.Release(source);
        }
    }
}

// Boxes of 256 and 257 pixels take the vector scaler, larger ones the plain
// one; all of them give the same bytes on every path.
TEST_P(BoxPaths, BoxesAroundTheLargestVectorBox) {
    const std::pair<int, int> sources[] = {{257, 2}, {258, 2}, {32, 16}, {34, 17}, {16, 16}, {17, 17}, {255, 255}};
    uint32_t seed = 99;
    for (auto [sourceWidth, sourceHeight] : sources) {
        REALpicture source = Noise(host, sourceWidth, sourceHeight, false, seed++);
        ExpectEveryPathPlain(source, 1, 1);
        ExpectEveryPathPlain(source, 2, 1);
        ExpectEveryPathPlain(source, 1, 2);
        host.Release(source);
    }
}

// A table the vector scaler cannot allocate hands the work to the plain one.
TEST_P(BoxPaths, AFailedTableStillGivesThePlainBytes) {
    REALpicture source = Noise(host, 45, 29, false, 3);
    const std::vector<RGBA> plain = ScaledOn(PixelPath::Plain, source, 11, 7);
    ForcePixelPath(BestPixelPath());
    zpxtest::FailNthAllocation(0);
    host.Release(ScalePictureFast(source, 11, 7));
    const int allocations = zpxtest::AllocationsSeen();
    for (int n = 1; n <= allocations; ++n) {
        zpxtest::FailNthAllocation(n);
        REALpicture result = ScalePictureFast(source, 11, 7);
        zpxtest::ResetAllocationFaults();
        if (result != nullptr) {
            EXPECT_EQ(zpxtest::StoredPixels(host, result), plain) << "allocation " << n;
        }
        EXPECT_EQ(host.AuditProblems({source, result}), "");
        if (result != nullptr) host.Release(result);
    }
    host.Release(source);
}

INSTANTIATE_TEST_SUITE_P(Layouts, BoxPaths, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
