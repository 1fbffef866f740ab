// BlurZPX: the exact examples, a slow direct-window reference, layouts, the
// receiver coming back for small radii, and every failure path.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "effects/Blur.h"
#include "effects/BlurLanes.h"
#include "host/Host.h"
#include "plugin/PixelPath.h"
#include "plugin/PluginMain.h"
#include "tests/support/AllocationFaults.h"
#include "tests/support/Pictures.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;
using Pixels = std::vector<RGBA>;

// Each pass sums the 2r + 1 clamped neighbours directly and truncates its own division.
Pixels DirectBlur(const Pixels& in, int width, int height, int r) {
    auto pass = [r](const Pixels& from, int lines, int length, auto at) {
        Pixels out(from.size(), RGBA{0, 0, 0, 255});
        for (int line = 0; line < lines; ++line) {
            for (int i = 0; i < length; ++i) {
                int red = 0, green = 0, blue = 0;
                for (int k = -r; k <= r; ++k) {
                    const RGBA& c = from[at(line, std::clamp(i + k, 0, length - 1))];
                    red += c.r, green += c.g, blue += c.b;
                }
                const int n = 2 * r + 1;
                out[at(line, i)] = RGBA{uint8_t(red / n), uint8_t(green / n), uint8_t(blue / n), 255};
            }
        }
        return out;
    };
    Pixels columns = pass(in, width, height, [width](int x, int y) { return size_t(y) * width + x; });
    return pass(columns, height, width, [width](int y, int x) { return size_t(y) * width + x; });
}

class Blur : public ::testing::Test {
protected:
    void SetUp() override { host.LoadEntry(REALPluginMain); }
    void TearDown() override { zpxtest::ResetAllocationFaults(); }
    Host host;
};

TEST_F(Blur, ThreePixelsOfRedGiveTheStatedAverages) {
    const uint8_t reds[] = {0, 0, 255};
    REALpicture source = zpxtest::MakePicture(host, 3, 1, false, [&](int x, int) { return RGBA{reds[x], 0, 0, 255}; });
    REALpicture result = BlurZPX(source, 1.0, 0);
    ASSERT_NE(result, nullptr);
    EXPECT_NE(result, source);
    EXPECT_EQ(zpxtest::RedRows(host, result), (std::vector<std::vector<int>>{{0, 85, 170}}));
    EXPECT_EQ(host.AuditProblems({source, result}), "");
    host.Release(result);
    host.Release(source);
}

TEST_F(Blur, RadiusBelowOneReturnsTheReceiverWithOneMoreReference) {
    REALpicture source = zpxtest::MakeGrey(host, {{1, 2}, {3, 4}});
    const double inf = std::numeric_limits<double>::infinity();
    for (double radius : {0.9, 0.0, -3.0, std::nan(""), inf, -inf, 1e300, 2147483648.0, -2147483649.0}) {
        EXPECT_EQ(BlurZPX(source, radius, 1), source) << radius;
        EXPECT_EQ(host.RefCount(source), 2);
        host.Release(source);
    }
    EXPECT_EQ(host.LockCount(source), 0);
    EXPECT_EQ(host.Yields(), 0);
    EXPECT_EQ(BlurZPX(nullptr, 0.5, 0), nullptr);
    EXPECT_EQ(BlurZPX(nullptr, 2.0, 0), nullptr);
    // Fits 32 bits, but its division table does not fit a working buffer.
    EXPECT_EQ(BlurZPX(source, 2147483647.0, 0), nullptr);
    EXPECT_EQ(host.AuditProblems({source}), "");
    host.Release(source);
}

TEST_F(Blur, UniformPicturesStayUniformForRadiiFarBeyondTheirSize) {
    REALpicture source = zpxtest::MakePicture(host, 5, 3, false, [](int, int) { return RGBA{10, 200, 77, 255}; });
    for (double radius : {1.0, 2.5, 7.0, 5000.0}) {
        REALpicture result = BlurZPX(source, radius, 0);
        for (const RGBA& pixel : zpxtest::StoredPixels(host, result)) EXPECT_EQ(pixel, (RGBA{10, 200, 77, 255}));
        host.Release(result);
    }
    host.Release(source);
}

// Random sizes from a single pixel up, radii below and far above the sizes.
TEST_F(Blur, MatchesDirectWindowsOnRandomPictures) {
    std::mt19937 random(20240611);
    auto draw = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const std::pair<int, int> fixedSizes[] = {{1, 1}, {1, 9}, {9, 1}};
    for (int round = 0; round < 60; ++round) {
        const auto [width, height] = round < 3 ? fixedSizes[round] : std::pair{draw(1, 24), draw(1, 24)};
        const int r = round % 4 == 3 ? draw(20, 60) : draw(1, 6);
        REALpicture source = zpxtest::MakePicture(host, width, height, false, [&](int, int) {
            return RGBA{uint8_t(draw(0, 255)), uint8_t(draw(0, 255)), uint8_t(draw(0, 255)), 255};
        });
        REALpicture result = BlurZPX(source, r + 0.75, 0);
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(zpxtest::StoredPixels(host, result),
                  DirectBlur(zpxtest::StoredPixels(host, source), width, height, r))
            << width << " x " << height << ", r " << r;
        EXPECT_TRUE(host.PaddingIntact(result));
        host.Release(result);
        host.Release(source);
    }
}

TEST_F(Blur, YieldsAfterTheTableEachRowOfBothPassesAndAtTheEnd) {
    zpxtest::MakeEveryYieldPointHandOver();
    REALpicture source = zpxtest::MakePicture(host, 4, 6, false, zpxtest::TestPattern);
    for (int interval : {1, -3, 0}) {
        const int before = host.Yields();
        host.Release(BlurZPX(source, 1.0, interval));
        EXPECT_EQ(host.Yields() - before, interval == 0 ? 0 : 2 * 6 + 2) << interval;
    }
    host.Release(source);
}

TEST_F(Blur, FailuresGiveNilAndLeaveNothingBehind) {
    REALpicture source = zpxtest::MakePicture(host, 7, 5, false, zpxtest::TestPattern);
    // Table, three column sums and row copy (which holds the vector twin's
    // rows on the other paths): the same five on every path.
    for (PixelPath path : {PixelPath::Plain, PixelPath::Baseline}) {
        ForcePixelPath(path);
        zpxtest::ResetAllocationFaults();
        host.Release(BlurZPX(source, 2.0, 0));
        const int allocations = zpxtest::AllocationsSeen();
        EXPECT_EQ(allocations, 5);
        for (int n = 1; n <= allocations; ++n) {
            zpxtest::FailNthAllocation(n);
            EXPECT_EQ(BlurZPX(source, 2.0, 0), nullptr) << PixelPathName(path) << ", allocation " << n;
            EXPECT_EQ(host.AuditProblems({source}), "") << "allocation " << n;
        }
    }
    zpxtest::ResetAllocationFaults();
    host.FailPictureCreation(1);
    EXPECT_EQ(BlurZPX(source, 2.0, 0), nullptr);
    REALpicture tooWide = host.NewPicture(32768, 1, false);
    const int creations = host.PictureCreations();
    EXPECT_EQ(BlurZPX(tooWide, 2.0, 0), nullptr);
    EXPECT_EQ(host.PictureCreations(), creations);
    REALpicture unlockable = host.NewPicture(3, 3, true);  // no private copy stands in for an alpha picture
    host.RefuseLock(unlockable, REALdescriptionBitmapContext);
    EXPECT_EQ(BlurZPX(unlockable, 2.0, 0), nullptr);
    EXPECT_TRUE(host.Raised().empty());
    EXPECT_EQ(host.AuditProblems({source, tooWide, unlockable}), "");
    for (REALpicture picture : {source, tooWide, unlockable}) host.Release(picture);
}

TEST_F(Blur, AnExceptionFromAYieldReachesTheCallerAndReleasesEverything) {
    zpxtest::MakeEveryYieldPointHandOver();
    REALpicture source = zpxtest::MakePicture(host, 5, 3, false, zpxtest::TestPattern);
    for (int throwAt = 1; throwAt <= 2 * 3 + 2; ++throwAt) {
        int yields = 0;
        host.SetYieldHook([&] {
            if (++yields == throwAt) throw std::runtime_error("host code failed");
        });
        EXPECT_THROW(BlurZPX(source, 1.0, 1), std::runtime_error);
        EXPECT_EQ(host.AuditProblems({source}), "") << "thrown at yield " << throwAt;
    }
    host.Release(source);
}

// The one-multiply quotient of the vector passes, for every sum a 16-bit lane
// can hold and every window they take.
TEST(BlurLanes, QuotientsEqualIntegerDivisionForEveryLaneValue) {
    for (int32_t span = 3; span <= 2 * kLargestLaneRadius + 1; span += 2) {
        const WindowDivisor divisor = DivisorFor(span);
        int wrong = 0;
        for (uint32_t n = 0; n <= 0xFFFF; ++n) wrong += Divide(n, divisor) != n / static_cast<uint32_t>(span);
        EXPECT_EQ(wrong, 0) << "window of " << span;
    }
}

// The single-precision quotient of the 32-bit lanes on both sides of every
// multiple of every window they take; as it never falls while n grows, that
// covers every sum in between too.
TEST(BlurLanes, WideQuotientsEqualIntegerDivisionAroundEveryMultiple) {
    for (int32_t span = 3; span <= 2 * kLargestWideLaneRadius + 1; span += 2) {
        const float reciprocal = WideReciprocal(span);
        int wrong = 0;
        for (uint32_t k = 0; k <= 255; ++k) {
            const uint32_t multiple = k * static_cast<uint32_t>(span);
            for (uint32_t n : {multiple, multiple + 1, multiple + static_cast<uint32_t>(span) - 1}) {
                wrong += WideDivide(n, reciprocal) != n / static_cast<uint32_t>(span);
            }
        }
        EXPECT_EQ(wrong, 0) << "window of " << span;
    }
}

std::vector<uint32_t> RawWords(const Host& host, REALpicture picture) {
    std::vector<uint32_t> words;
    for (int y = 0; y < host.Height(picture); ++y) {
        for (int x = 0; x < host.Width(picture); ++x) words.push_back(host.RawWord(picture, x, y));
    }
    return words;
}

// Every vector twin gives the plain passes' words, in every layout: random
// words (their fourth byte too, which the lanes average and then overwrite),
// widths around the vector widths, radii on both sides of the largest the
// 16-bit lanes take and far beyond the picture, and white pictures whose
// widest windows fill the 16-bit lanes exactly.
TEST(BlurPaths, EveryPathGivesThePlainWords) {
    struct Case {
        int width, height, r;
        bool white;
    };
    const Case cases[] = {{1, 1, 1, false},   {1, 19, 3, false},   {19, 1, 2, false},   {7, 5, 1, false},
                          {9, 4, 2, false},   {15, 3, 7, false},   {16, 8, 5, false},   {33, 6, 16, false},
                          {70, 9, 40, false}, {300, 2, 128, true}, {2, 300, 128, true}, {260, 3, 128, false},
                          {40, 9, 129, false}, {300, 2, 200, true}, {3, 70, 131, false}, {9, 7, 5000, false},
                          {2, 300, 1000, true}};
    for (const zpxtest::HostSetup& setup : zpxtest::EveryLayout()) {
        Host host(setup.config);
        host.LoadEntry(REALPluginMain);
        std::mt19937 random(7);
        for (const Case& c : cases) {
            for (bool alpha : {false, true}) {
                REALpicture source = host.NewPicture(c.width, c.height, alpha);
                for (int y = 0; y < c.height; ++y) {
                    for (int x = 0; x < c.width; ++x) host.SetRawWord(source, x, y, c.white ? 0xFFFFFFFFu : random());
                }
                ForcePixelPath(PixelPath::Plain);
                REALpicture plain = BlurZPX(source, c.r, 0);
                for (PixelPath path : {PixelPath::Baseline, PixelPath::Avx2, PixelPath::Avx512}) {
                    if (!PixelPathAvailable(path)) continue;
                    ForcePixelPath(path);
                    REALpicture fast = BlurZPX(source, c.r, 0);
                    EXPECT_EQ(RawWords(host, fast), RawWords(host, plain))
                        << setup.name << ", " << PixelPathName(path) << ", " << c.width << " x " << c.height << ", r "
                        << c.r << (alpha ? ", alpha source" : "");
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

class BlurLayouts : public ::testing::TestWithParam<zpxtest::HostSetup> {};

// Also from a source with an alpha channel: the result is plain and opaque.

TEST_P(BlurLayouts, IdenticalPixelsInEveryLayout) {
    const double radii[] = {1.0, 3.0, 30.0};
    std::vector<Pixels> reference;
    {
        Host host;
        host.LoadEntry(REALPluginMain);
        REALpicture source = zpxtest::MakePicture(host, 23, 17, false, zpxtest::TestPattern);
        for (double radius : radii) {
            REALpicture result = BlurZPX(source, radius, 0);
            reference.push_back(zpxtest::StoredPixels(host, result));
            host.Release(result);
        }
        host.Release(source);
    }
    Host host(GetParam().config);
    host.LoadEntry(REALPluginMain);
    for (bool alpha : {false, true}) {
        REALpicture source = zpxtest::MakePicture(host, 23, 17, alpha, zpxtest::TestPattern);
        for (size_t i = 0; i < reference.size(); ++i) {
            REALpicture result = BlurZPX(source, radii[i], 0);
            ASSERT_NE(result, nullptr);
            EXPECT_EQ(zpxtest::StoredPixels(host, result), reference[i]) << "radius " << radii[i];
            EXPECT_FALSE(host.HasAlpha(result));
            EXPECT_TRUE(host.PaddingIntact(result));
            EXPECT_EQ(host.AuditProblems({source, result}), "");
            host.Release(result);
        }
        host.Release(source);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, BlurLayouts, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
