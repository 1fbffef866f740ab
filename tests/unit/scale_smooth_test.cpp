// The anti-aliased enlarger and ScaleZPX's choice of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scale/Scalers.h"
#include "tests/support/Plugin.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;
using zpxtest::RawWords;

// The enlargement in its literal form, which the scaler shortens to the two
// middle taps: all four taps, float sums in tap order, the half added second.
std::vector<uint32_t> FourTapEnlargement(const std::vector<uint32_t>& source, int srcW, int srcH, int dstW, int dstH) {
    auto taps = [](int srcLength, int dstLength, int i) {
        const float t = static_cast<float>(i * srcLength % dstLength) / static_cast<float>(dstLength);
        return std::vector<float>{0.0f, (t * 3.0f * t) - ((t + t) * t * t), ((t + t) * t * t) - (t * 3.0f * t) + 1.0f,
                                  0.0f};
    };
    auto byteAt = [&](int x, int y, int c) {
        const uint32_t word = source[size_t(std::clamp(y, 0, srcH - 1) * srcW + std::clamp(x, 0, srcW - 1))];
        return static_cast<float>((word >> (8 * c)) & 0xFF);
    };
    std::vector<uint32_t> result(size_t(dstW * dstH), 0);
    std::vector<float> columns(static_cast<size_t>(srcW));
    auto column = [&](int k) { return columns[size_t(std::clamp(k, 0, srcW - 1))]; };
    for (int c = 0; c < 4; ++c) {
        for (int y = 0; y < dstH; ++y) {
            const int k = y * srcH / dstH;
            const std::vector<float> w = taps(srcH, dstH, y);
            for (int x = 0; x < srcW; ++x) {
                columns[size_t(x)] = 0.0f + byteAt(x, k - 1, c) * w[3] + byteAt(x, k, c) * w[2] +
                                     byteAt(x, k + 1, c) * w[1] + byteAt(x, k + 2, c) * w[0];
            }
            for (int x = 0; x < dstW; ++x) {
                const int j = x * srcW / dstW;
                const std::vector<float> h = taps(srcW, dstW, x);
                const float v =
                    column(j - 1) * h[3] + 0.5f + column(j) * h[2] + column(j + 1) * h[1] + column(j + 2) * h[0];
                const uint32_t byte = v <= 0.0f ? 0u : v >= 255.0f ? 255u : static_cast<uint32_t>(v);
                result[size_t(y * dstW + x)] |= byte << (8 * c);
            }
        }
    }
    return result;
}

class ScaleSmooth : public zpxtest::PluginTest {};

TEST_F(ScaleSmooth, ScaleZPXSmoothsOnlyWhenBothSidesGrowAndBoxesWithoutTables) {
    REALpicture source = keep(zpxtest::MakeGrey(host, {{0, 255}, {0, 255}}));
    auto rowOf = [&](REALpicture result) { return zpxtest::RedRows(host, result).back(); };
    const std::pair<std::pair<int, int>, std::vector<int>> cases[] = {
        {{4, 4}, {0, 128, 255, 255}}, {{4, 2}, {0, 0, 255, 255}}, {{2, 4}, {0, 255}}};
    for (const auto& [size, row] : cases) {
        REALpicture result = ScalePicture(source, size.first, size.second, true, 0);
        EXPECT_EQ(rowOf(result), row) << size.first << "x" << size.second;
        host.Release(result);
    }
    // Not growing both ways, the enlarger creates nothing and allocates nothing.
    const int creations = host.PictureCreations();
    zpxtest::ResetAllocationFaults();
    EXPECT_EQ(ScalePictureNiceBigger(source, 2, 4), nullptr);
    EXPECT_EQ(ScalePictureNiceBigger(source, 6, 1), nullptr);
    EXPECT_EQ(host.PictureCreations() - creations + zpxtest::AllocationsSeen(), 0);
    // The same five tables on every path; the lane row keeps its rows in
    // the column buffer, which it sizes for them.
    for (PixelPath path : {PixelPath::Plain, PixelPath::Baseline}) {
        ForcePixelPath(path);
        zpxtest::ResetAllocationFaults();
        REALpicture smooth = ScalePicture(source, 4, 4, true, 0);
        EXPECT_EQ(zpxtest::AllocationsSeen(), 5);
        if (path == PixelPath::Plain) {
            EXPECT_EQ(zpxtest::LargestAllocation(), size_t(16 * 4 + 20));
        }
        for (int n = 1; n <= 5; ++n) {
            zpxtest::FailNthAllocation(n);
            REALpicture result = ScalePicture(source, 4, 4, true, 0);
            EXPECT_EQ(rowOf(result), (std::vector<int>{0, 0, 255, 255})) << PixelPathName(path) << ", table " << n;
            EXPECT_EQ(host.AuditProblems({source, smooth, result}), "") << "table " << n;
            host.Release(result);
        }
        host.Release(smooth);
    }
}

// AntiAlias is a host boolean: whatever non-zero byte the host passes for
// true, both scaling methods enlarge smoothly, as they do when called directly.
TEST(ScaleSmoothBooleans, AntiAliasIsTrueAsAnyNonZeroByte) {
    for (int trueByte : {0x01, 0x02, 0x40, 0x80, 0xFE, 0xFF}) {
        zpxhost::HostConfig config;
        config.trueByte = static_cast<uint8_t>(trueByte);
        Host host(config);
        host.LoadEntry(REALPluginMain);
        REALpicture source = zpxtest::MakeGrey(host, {{0, 255}, {0, 255}});
        const std::vector<int> smooth = {0, 128, 255, 255};
        for (const char* method : {"ScaleZPX", "ScaleImageAndMaskZPX"}) {
            const auto result = std::get<REALpicture>(host.Call(method, source, {4, 4, true}));
            EXPECT_EQ(zpxtest::RedRows(host, result).back(), smooth) << method << ", true as " << trueByte;
            host.Release(result);
        }
        host.Release(source);
    }
}

// Every lane row gives the plain rows' words, and the path under test gives
// the four-tap form's, in every layout, whatever byte holds which channel:
// random words (alpha bytes too), every fraction a ratio can leave, a
// one-pixel source (which fills any size with its own word), sizes around
// the vector widths, ratios just above one and far above, wide and tall.
// Alternating bytes of 126 and 1 blend at t = 0.9 (and others) differently
// when the half is added last: 126 beside 1 at t = 0.9 gives 5, not 4.
class ScaleSmoothPaths : public zpxtest::PluginLayoutTest {};

TEST_P(ScaleSmoothPaths, EveryPathGivesThePlainWords) {
    const int sizes[][4] = {{1, 1, 5, 3},     {1, 1, 17, 9},  {2, 2, 3, 3},       {3, 2, 4, 7},   {5, 4, 6, 5},
                            {7, 5, 23, 11},   {16, 3, 17, 4}, {17, 9, 64, 33},    {31, 2, 32, 3}, {4, 31, 9, 32},
                            {33, 17, 1000, 40}, {9, 9, 250, 11}, {2, 40, 130, 41}, {61, 3, 67, 5}, {2, 1, 20, 2},
                            {3, 2, 30, 5},    {3, 4, 100, 9}, {13, 2, 14, 3},     {2, 2, 8, 8},   {5, 6, 61, 64}};
    enum Words { Random, RandomWithAlpha, AlternatingWithAlpha };
    uint32_t seed = 5;
    for (const auto& size : sizes) {
        for (Words kind : {Random, RandomWithAlpha, AlternatingWithAlpha}) {
            REALpicture source = zpxtest::RandomWords(host, size[0], size[1], kind != Random, seed++);
            for (int y = 0; (kind == AlternatingWithAlpha || size[2] == 20) && y < size[1]; ++y) {
                for (int x = 0; x < size[0]; ++x) {
                    host.SetRawWord(source, x, y, (x + y) % 2 == 0 ? 0x7E7E7E7Eu : 0x01010101u);
                }
            }
            const std::string what = std::to_string(size[0]) + "x" + std::to_string(size[1]) + " to " +
                                     std::to_string(size[2]) + "x" + std::to_string(size[3]) + ", words " +
                                     std::to_string(int(kind));
            const std::vector<uint32_t> words =
                zpxtest::TakeWords(host, ScalePictureNiceBigger(source, size[2], size[3]));
            EXPECT_EQ(words, FourTapEnlargement(RawWords(host, source), size[0], size[1], size[2], size[3])) << what;
            if (size[0] == 1 && size[1] == 1) {
                EXPECT_EQ(words, std::vector<uint32_t>(size_t(size[2] * size[3]), host.RawWord(source, 0, 0))) << what;
            }
            if (size[2] == 20) {
                EXPECT_EQ(words[9], 0x05050505u) << what;
            }
            zpxtest::ExpectEveryPathGivesPlain(
                what, [&] { return zpxtest::TakeWords(host, ScalePictureNiceBigger(source, size[2], size[3])); });
            host.Release(source);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ScaleSmoothPaths, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
