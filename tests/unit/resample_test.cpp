// ScalingZPX end to end through the picture views: exact examples and
// failure paths, and its fast passes against the plain ones: the division by
// weightSum through the reciprocal, and whole pictures on every pixel path in
// every layout, at widths around the vector sizes and at extreme ratios.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "resample/Resampler.h"
#include "resample/ResamplerLanes.h"
#include "tests/support/Plugin.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;
using Rows = std::vector<std::vector<int>>;

class Resample : public zpxtest::PluginTest {};

TEST_F(Resample, ExactExamples) {
    struct Case {
        std::string name;
        int mode;
        Rows source;
        int width, height;
        Rows expected;
    };
    std::vector<Case> cases = {
        {"box shrinking rounds the mean up", 2, {{0, 1}}, 1, 1, {{1}}},
        {"Lanczos 3 clamps overshoot and keeps its lobes", 3, {{0, 255, 0, 0}}, 8, 1,
         {{0, 63, 215, 237, 72, 0, 0, 10}}},
    };
    // At the same size every kernel keeps the colours but Mitchell, which softens.
    for (int mode = 1; mode <= 7; ++mode) {
        cases.push_back({"same size", mode, {{0, 90, 0}}, 3, 1, mode == 5 ? Rows{{5, 80, 5}} : Rows{{0, 90, 0}}});
    }
    for (const Case& c : cases) {
        REALpicture source = zpxtest::MakeGrey(host, c.source);
        REALpicture result = PictureScalingZPX(source, c.mode, c.width, c.height, 0);
        EXPECT_EQ(zpxtest::RedRows(host, result), c.expected) << c.name << ", mode " << c.mode;
        EXPECT_EQ(host.AuditProblems({source, result}), "") << c.name;
        host.Release(result);
        host.Release(source);
    }
}

TEST_F(Resample, OnePixelFillsAnySize) {
    REALpicture source = zpxtest::MakePicture(host, 1, 1, false, [](int, int) { return RGBA{12, 200, 99, 255}; });
    for (int mode = 1; mode <= 7; ++mode) {
        REALpicture result = PictureScalingZPX(source, mode, 5, 3, 0);
        EXPECT_EQ(zpxtest::StoredPixels(host, result), std::vector<RGBA>(15, RGBA{12, 200, 99, 255})) << mode;
        host.Release(result);
    }
    host.Release(source);
}

TEST_F(Resample, TooWideForAPlainPictureRunsTheRowsThenGivesNil) {
    REALpicture source = zpxtest::MakeGrey(host, {{1, 2}, {3, 4}});
    zpxtest::ResetAllocationFaults();
    EXPECT_EQ(PictureScalingZPX(source, 1, 32768, 1, 0), nullptr);
    EXPECT_GE(zpxtest::LargestAllocation(), size_t(32768) * 2 * 4);
    EXPECT_EQ(host.AuditProblems({source}), "");
    host.Release(source);
}

TEST_F(Resample, EveryAllocationFailingInTurnLeavesNothingBehind) {
    REALpicture source = zpxtest::MakePicture(host, 9, 6, false, zpxtest::TestPattern);
    // The buffer, the list array and the second list array (height > width)
    // are needed; a list's entries are not, and the lane row's five tables
    // only decide which row runs.
    struct Case {
        PixelPath path;
        std::vector<int> essential, laneTables;
    };
    for (const Case& path :
         {Case{PixelPath::Plain, {1, 2, 7}, {}}, Case{PixelPath::Baseline, {1, 2, 12}, {7, 8, 9, 10, 11}}}) {
        ForcePixelPath(path.path);
        zpxtest::ResetAllocationFaults();
        REALpicture whole = PictureScalingZPX(source, 3, 4, 12, 0);
        const int allocations = zpxtest::AllocationsSeen();
        ASSERT_EQ(allocations, 2 + 4 + 1 + 12 + static_cast<int>(path.laneTables.size()));
        for (int n = 1; n <= allocations; ++n) {
            zpxtest::FailNthAllocation(n);
            REALpicture result = PictureScalingZPX(source, 3, 4, 12, 0);
            zpxtest::ResetAllocationFaults();
            const auto among = [n](const std::vector<int>& allocations) {
                return std::count(allocations.begin(), allocations.end(), n) > 0;
            };
            EXPECT_EQ(result == nullptr, among(path.essential)) << "allocation " << n;
            if (result != nullptr) {
                EXPECT_EQ(zpxtest::StoredPixels(host, result) == zpxtest::StoredPixels(host, whole),
                          among(path.laneTables))
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

void ExpectSameChannel(double accumulator, float weightSum) {
    EXPECT_EQ(NormalisedChannelByReciprocal(accumulator, NormaliserFor(weightSum)),
              NormalisedChannel(accumulator, weightSum))
        << "accumulator " << accumulator << ", weightSum " << weightSum;
}

TEST(ResampleNormaliser, ReciprocalGivesTheQuotientsChannel) {
    const float weightSums[] = {1.0f,       2.0f,       0.5f,  4.0f,   0.9444444f, 2.8554957f, 1.75f,
                                0.7734375f, 3.0f,       -0.5f, -1.3f,  1e-38f,     1e-45f,     3e38f,
                                0.0f,       -0.0f,      12.6f, 24.13f, INFINITY,   NAN};
    for (float weightSum : weightSums) {
        const double divisor = static_cast<double>(weightSum);
        // Products that land on, and one step either side of, every step of
        // the truncation and the clamps.
        for (int step = -3; step <= 259; ++step) {
            const double tie = (static_cast<double>(step) - 0.5) * divisor;
            ExpectSameChannel(tie, weightSum);
            ExpectSameChannel(std::nextafter(tie, INFINITY), weightSum);
            ExpectSameChannel(std::nextafter(tie, -INFINITY), weightSum);
        }
        uint64_t seed = 42;
        for (int i = 0; i < 20000; ++i) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            const double fraction = static_cast<double>(seed >> 11) / 9007199254740992.0;
            ExpectSameChannel((fraction * 300.0 - 20.0) * divisor, weightSum);
        }
        for (double accumulator : {0.0, -0.0, 1e300, -1e300, 255.0, 0.5, 1e-300}) {
            ExpectSameChannel(accumulator, weightSum);
        }
    }
}

// Grey steps: flat runs and sharp edges, where the filters' sums meet the
// steps of the truncation exactly.
REALpicture Steps(Host& host, int width, int height) {
    return zpxtest::MakePicture(host, width, height, false, [](int x, int y) {
        const uint8_t level = static_cast<uint8_t>((x / 3 * 37 + y / 2 * 91) % 256);
        return RGBA{level, static_cast<uint8_t>(255 - level), static_cast<uint8_t>(level / 2), 255};
    });
}

// The vector passes against their plain twins on pictures with every kind of
// content, for every kernel, shrinking and enlarging each way.
class ResamplePaths : public zpxtest::PluginLayoutTest {};

TEST_P(ResamplePaths, EveryPathGivesThePlainBytes) {
    REALpicture sources[] = {zpxtest::RandomWords(host, 67, 41, false, 5), zpxtest::RandomWords(host, 1, 1, true, 6),
                             Steps(host, 40, 33), zpxtest::MakePicture(host, 61, 37, false, zpxtest::TestPattern)};
    // Widths around 4, 8 and 16 columns, one pixel, the same size, and ratios
    // far beyond a vector's reach both ways.
    const std::pair<int, int> sizes[] = {{1, 1},  {7, 3},   {8, 8},    {15, 17}, {16, 5},  {33, 2},
                                         {80, 82}, {134, 66}, {250, 1}, {1, 200}, {61, 37}};
    for (REALpicture source : sources) {
        for (int mode = 1; mode <= 7; ++mode) {
            for (const std::pair<int, int>& size : sizes) {
                const int width = size.first, height = size.second;  // C++17 lambdas capture no structured bindings
                zpxtest::ExpectEveryPathGivesPlain(
                    std::to_string(host.Width(source)) + " wide, mode " + std::to_string(mode) + " to " +
                        std::to_string(width) + "x" + std::to_string(height),
                    [&] { return zpxtest::TakeWords(host, PictureScalingZPX(source, mode, width, height, 0)); });
            }
        }
    }
    EXPECT_EQ(host.AuditProblems({sources[0], sources[1], sources[2], sources[3]}), "");
    for (REALpicture source : sources) host.Release(source);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ResamplePaths, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
