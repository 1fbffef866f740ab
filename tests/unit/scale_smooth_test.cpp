// The anti-aliased enlarger and ScaleZPX's choice of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <vector>

#include "host/Host.h"
#include "plugin/PixelPath.h"
#include "plugin/PluginMain.h"
#include "scale/Scalers.h"
#include "tests/support/AllocationFaults.h"
#include "tests/support/Pictures.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;
using Rows = std::vector<std::vector<int>>;

std::vector<uint32_t> RawWords(const Host& host, REALpicture picture) {
    std::vector<uint32_t> words;
    for (int y = 0; y < host.Height(picture); ++y)
        for (int x = 0; x < host.Width(picture); ++x) words.push_back(host.RawWord(picture, x, y));
    return words;
}

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

class ScaleSmooth : public ::testing::Test {
protected:
    void SetUp() override { host.LoadEntry(REALPluginMain); }
    void TearDown() override { zpxtest::ResetAllocationFaults(); }
    Host host;
};

// Every fraction a ratio can leave, alpha bytes included; a one-pixel source
// fills any size with its own word; 126 beside 1 at t = 0.9 gives 5, not the
// 4 of a sum that adds the half last.
TEST_F(ScaleSmooth, EqualsTheFourTapFormWordForWord) {
    const int sizes[][4] = {{7, 5, 23, 11}, {3, 4, 100, 9}, {13, 2, 14, 3},
                            {5, 6, 61, 64}, {1, 1, 5, 3},   {2, 1, 20, 2}};
    for (const auto& size : sizes) {
        REALpicture source = zpxtest::MakePicture(host, size[0], size[1], true, [](int x, int y) {
            RGBA pixel = zpxtest::TestPattern(x, y);
            pixel.a = static_cast<uint8_t>(x * 97 + y * 53 + 40);
            return pixel;
        });
        if (size[2] == 20) {
            host.SetRawWord(source, 0, 0, 0x7E7E7E7Eu);
            host.SetRawWord(source, 1, 0, 0x01010101u);
        }
        REALpicture result = ScalePictureNiceBigger(source, size[2], size[3]);
        const std::vector<uint32_t> words = RawWords(host, result);
        EXPECT_EQ(words, FourTapEnlargement(RawWords(host, source), size[0], size[1], size[2], size[3]))
            << size[0] << "x" << size[1] << " to " << size[2] << "x" << size[3];
        if (size[0] == 1) {
            EXPECT_EQ(words, std::vector<uint32_t>(15, host.RawWord(source, 0, 0)));
        }
        if (size[2] == 20) {
            EXPECT_EQ(words[9], 0x05050505u);
        }
        host.Release(result);
        host.Release(source);
    }
}

TEST_F(ScaleSmooth, ScaleZPXSmoothsOnlyWhenBothSidesGrowAndBoxesWithoutTables) {
    REALpicture source = zpxtest::MakeGrey(host, {{0, 255}, {0, 255}});
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
    // The same five tables on every path; the vector twin keeps its rows in
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
    host.Release(source);
}

TEST_F(ScaleSmooth, YieldsAndReleasesEverythingWhenHostCodeThrows) {
    zpxtest::MakeEveryYieldPointHandOver();
    REALpicture source = zpxtest::MakePicture(host, 2, 2, true, zpxtest::TestPattern);
    host.Release(ScalePicture(source, 3, 5, true, 1));
    host.Release(ScalePicture(source, 3, 5, true, 0));
    EXPECT_EQ(host.Yields(), 3 + 4 * 5);
    for (int throwAt = 1; throwAt <= 3 + 4 * 5; ++throwAt) {
        int yields = 0;
        host.SetYieldHook([&] {
            if (++yields == throwAt) throw std::runtime_error("host code failed");
        });
        EXPECT_THROW(ScalePicture(source, 3, 5, true, 1), std::runtime_error);
        EXPECT_EQ(host.AuditProblems({source}), "") << "thrown at yield " << throwAt;
    }
    host.SetYieldHook(nullptr);
    host.SetMethodHook(zpxhost::HostMethod::PictureConstructor, [] { throw std::runtime_error("constructor"); });
    EXPECT_THROW(ScalePicture(source, 3, 5, true, 0), std::runtime_error);
    EXPECT_EQ(host.AuditProblems({source}), "");
    host.Release(source);
}

// Every vector twin gives the plain passes' words, in every layout: random
// words (alpha bytes too), a one-pixel source, sizes around the vector
// widths, ratios just above one and far above, wide and tall.
TEST(ScaleSmoothPaths, EveryPathGivesThePlainWords) {
    const int sizes[][4] = {{1, 1, 5, 3},     {1, 1, 17, 9},  {2, 2, 3, 3},       {3, 2, 4, 7},
                            {5, 4, 6, 5},     {7, 5, 23, 11}, {16, 3, 17, 4},     {17, 9, 64, 33},
                            {31, 2, 32, 3},   {4, 31, 9, 32}, {33, 17, 1000, 40}, {9, 9, 250, 11},
                            {2, 40, 130, 41}, {61, 3, 67, 5}, {2, 1, 20, 2},      {3, 2, 30, 5}};
    for (const zpxtest::HostSetup& setup : zpxtest::EveryLayout()) {
        Host host(setup.config);
        host.LoadEntry(REALPluginMain);
        std::mt19937 random(5);
        for (const auto& size : sizes) {
            for (bool alpha : {false, true}) {
                // Alpha sources: bytes of 126 and 1 side by side, whose blends
                // at t = 0.9 (and others) round differently when the half is
                // added last.
                REALpicture source = host.NewPicture(size[0], size[1], alpha);
                for (int y = 0; y < size[1]; ++y) {
                    for (int x = 0; x < size[0]; ++x) {
                        host.SetRawWord(source, x, y,
                                        alpha ? ((x + y) % 2 == 0 ? 0x7E7E7E7Eu : 0x01010101u) : random());
                    }
                }
                ForcePixelPath(PixelPath::Plain);
                REALpicture plain = ScalePictureNiceBigger(source, size[2], size[3]);
                ASSERT_NE(plain, nullptr);
                for (PixelPath path : {PixelPath::Baseline, PixelPath::Avx2, PixelPath::Avx512}) {
                    if (!PixelPathAvailable(path)) continue;
                    ForcePixelPath(path);
                    REALpicture fast = ScalePictureNiceBigger(source, size[2], size[3]);
                    EXPECT_EQ(RawWords(host, fast), RawWords(host, plain))
                        << setup.name << ", " << PixelPathName(path) << ", " << size[0] << "x" << size[1] << " to "
                        << size[2] << "x" << size[3];
                    EXPECT_TRUE(host.PaddingIntact(fast));
                    host.Release(fast);
                }
                host.Release(plain);
                host.Release(source);
            }
        }
        ForcePixelPath(BestPixelPath());
    }
}

class ScaleSmoothLayouts : public ::testing::TestWithParam<zpxtest::HostSetup> {};

// Left column 0, right column 255 in every byte, alpha included: the same
// bytes wherever they sit. Opaque pictures: the same colours in every layout.
TEST_P(ScaleSmoothLayouts, ExamplesAndIdenticalPixelsInEveryLayout) {
    std::vector<RGBA> reference;
    {
        Host host;
        host.LoadEntry(REALPluginMain);
        REALpicture source = zpxtest::MakePicture(host, 11, 7, false, zpxtest::TestPattern);
        REALpicture result = ScalePicture(source, 30, 19, true, 0);
        reference = zpxtest::StoredPixels(host, result);
        host.Release(source);
        host.Release(result);
    }
    Host host(GetParam().config);
    host.LoadEntry(REALPluginMain);
    for (bool alpha : {false, true}) {
        REALpicture edge = host.NewPicture(2, 2, alpha);
        for (int y = 0; y < 2; ++y) {
            host.SetRawWord(edge, 0, y, 0);
            host.SetRawWord(edge, 1, y, 0xFFFFFFFFu);
        }
        for (auto [side, row] : {std::pair{8, std::vector<int>{0, 40, 128, 215, 255, 255, 255, 255}},
                                 std::pair{4, std::vector<int>{0, 128, 255, 255}}}) {
            REALpicture result = ScalePicture(edge, side, side, true, 0);
            for (int offset = 0; offset < 4; ++offset) {
                for (int y = 0; y < side; ++y) {
                    std::vector<int> bytes;
                    for (int x = 0; x < side; ++x)
                        bytes.push_back(int(host.RawWord(result, x, y) >> (8 * offset)) & 255);
                    EXPECT_EQ(bytes, row) << side << "x" << side << " byte " << offset << " row " << y;
                }
            }
            host.Release(result);
        }
        REALpicture source = zpxtest::MakePicture(host, 11, 7, alpha, zpxtest::TestPattern);
        REALpicture result = ScalePicture(source, 30, 19, true, 0);
        EXPECT_EQ(zpxtest::StoredPixels(host, result), reference);
        EXPECT_TRUE(host.PaddingIntact(result));
        EXPECT_EQ(host.AuditProblems({edge, source, result}), "");
        host.Release(edge);
        host.Release(source);
        host.Release(result);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ScaleSmoothLayouts, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
