// ScalingZPX's fast passes against the plain ones: the division by weightSum
// through the reciprocal, and whole pictures on every pixel path in every
// layout, at widths around the vector sizes and at extreme ratios.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "host/Host.h"
#include "plugin/PixelPath.h"
#include "plugin/PluginMain.h"
#include "resample/ResampleVector.h"
#include "resample/ResampleWide.h"
#include "resample/Resampler.h"
#include "tests/support/Pictures.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;

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
        for (double accumulator : {0.0, -0.0, 1e300, -1e300, 255.0, 0.5, 1e-300}) ExpectSameChannel(accumulator, weightSum);
    }
}

REALpicture Noise(Host& host, int width, int height, bool alpha, uint32_t seed) {
    return zpxtest::MakePicture(host, width, height, alpha, [&](int, int) {
        seed = seed * 1103515245u + 12345u;
        return RGBA{static_cast<uint8_t>(seed >> 24), static_cast<uint8_t>(seed >> 16), static_cast<uint8_t>(seed >> 8),
                    static_cast<uint8_t>(seed >> 4)};
    });
}

// Grey steps: flat runs and sharp edges, where the filters' sums meet the
// steps of the truncation exactly.
REALpicture Steps(Host& host, int width, int height) {
    return zpxtest::MakePicture(host, width, height, false, [](int x, int y) {
        const uint8_t level = static_cast<uint8_t>((x / 3 * 37 + y / 2 * 91) % 256);
        return RGBA{level, static_cast<uint8_t>(255 - level), static_cast<uint8_t>(level / 2), 255};
    });
}

class ResampleEveryPath : public ::testing::TestWithParam<zpxtest::HostSetup> {
protected:
    void SetUp() override { host.LoadEntry(REALPluginMain); }
    void TearDown() override { ForcePixelPath(BestPixelPath()); }
    std::vector<RGBA> ScaledOn(PixelPath path, REALpicture source, int mode, int width, int height) {
        ForcePixelPath(path);
        REALpicture result = PictureScalingZPX(source, mode, width, height, 0);
        EXPECT_NE(result, nullptr);
        std::vector<RGBA> pixels = zpxtest::StoredPixels(host, result);
        host.Release(result);
        return pixels;
    }
    Host host{GetParam().config};
};

TEST_P(ResampleEveryPath, EveryPathGivesThePlainBytes) {
    REALpicture sources[] = {Noise(host, 67, 41, false, 5), Noise(host, 1, 1, true, 6), Steps(host, 40, 33)};
    // Widths around 4, 8 and 16 columns, one pixel, and ratios far beyond a
    // vector's reach both ways.
    const std::pair<int, int> sizes[] = {{1, 1},  {7, 3},   {8, 8},    {15, 17}, {16, 5},
                                         {33, 2}, {80, 82}, {134, 66}, {250, 1}, {1, 200}};
    for (REALpicture source : sources) {
        for (int mode = 1; mode <= 7; ++mode) {
            for (auto [width, height] : sizes) {
                const std::vector<RGBA> plain = ScaledOn(PixelPath::Plain, source, mode, width, height);
                for (PixelPath path : {PixelPath::Baseline, PixelPath::Avx2, PixelPath::Avx512}) {
                    if (!PixelPathAvailable(path)) continue;
                    EXPECT_EQ(ScaledOn(path, source, mode, width, height), plain)
                        << PixelPathName(path) << ", mode " << mode << " to " << width << "x" << height;
                }
            }
        }
    }
    for (REALpicture source : sources) host.Release(source);
    EXPECT_EQ(host.AuditProblems({}), "");
}

INSTANTIATE_TEST_SUITE_P(Layouts, ResampleEveryPath, ::testing::ValuesIn(zpxtest::EveryLayout()),
                         zpxtest::SetupName);

}  // namespace
