// DrawPictureFZPX: the exact arithmetic of the four neighbours, masks, nil
// pictures, unopenable views, layouts, yielding, and the cases this library
// settles itself (unplaceable coordinates, huge alpha, small masks, drawing a
// picture into itself).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "effects/DrawPictureF.h"
#include "host/Host.h"
#include "plugin/PixelPath.h"
#include "plugin/PluginMain.h"
#include "tests/support/AllocationFaults.h"
#include "tests/support/Pictures.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;
using zpxtest::MakeGrey;
using zpxtest::RedRows;
using Rows = std::vector<std::vector<int>>;

std::vector<uint32_t> RawWords(const Host& host, REALpicture picture) {
    std::vector<uint32_t> words;
    for (int y = 0; y < host.Height(picture); ++y) {
        for (int x = 0; x < host.Width(picture); ++x) words.push_back(host.RawWord(picture, x, y));
    }
    return words;
}

RGBA Grey(int level) { return RGBA{uint8_t(level), uint8_t(level), uint8_t(level), 255}; }

class Draw : public ::testing::Test {
protected:
    void SetUp() override { host.LoadEntry(REALPluginMain); }
    void TearDown() override { zpxtest::ResetAllocationFaults(); }
    // A grey picture with the given mask attached; the host holds the mask.
    REALpicture Masked(const Rows& colour, const Rows& mask) {
        REALpicture picture = MakeGrey(host, colour);
        REALpicture maskPicture = MakeGrey(host, mask);
        host.AttachMask(picture, maskPicture);
        host.Release(maskPicture);
        return picture;
    }
    Host host;
};

TEST_F(Draw, HalfPixelPositionsSplitTheWeightEqually) {
    // One red pixel half a pixel right: two pixels of red 127.
    REALpicture red = zpxtest::MakePicture(host, 1, 1, false, [](int, int) { return RGBA{255, 0, 0, 255}; });
    REALpicture destination = MakeGrey(host, {{0, 0}});
    EXPECT_TRUE(DrawPictureF(destination, red, 0.5, 0.0, 1.0, 0));
    EXPECT_EQ(zpxtest::StoredPixels(host, destination), (std::vector<RGBA>{{127, 0, 0, 255}, {127, 0, 0, 255}}));
    // Half a pixel left: 100 / 2 + 201 / 2, then 201 / 2 + 7 / 2, each product truncated.
    REALpicture greys = MakeGrey(host, {{100, 201, 7}});
    EXPECT_TRUE(DrawPictureF(destination, greys, -0.5, 0.0, 1.0, 0));
    EXPECT_EQ(RedRows(host, destination), (Rows{{50 + 100, 100 + 3}}));
    EXPECT_EQ(host.AuditProblems({red, destination, greys}), "");
    for (REALpicture picture : {red, destination, greys}) host.Release(picture);
}

TEST_F(Draw, WholeNumberPositionsCopyWithoutReadingTheDestination) {
    REALpicture source = zpxtest::MakePicture(host, 4, 3, false, zpxtest::TestPattern);
    for (auto [x, y] : {std::pair{2, 1}, std::pair{-1, -2}}) {
        for (int background : {0, 255}) {
            REALpicture destination =
                zpxtest::MakePicture(host, 6, 5, false, [&](int, int) { return Grey(background); });
            ASSERT_TRUE(DrawPictureF(destination, source, x, y, 1.0, 0));
            for (int Y = 0; Y < 5; ++Y) {
                for (int X = 0; X < 6; ++X) {
                    const bool over = X - x >= 0 && X - x < 4 && Y - y >= 0 && Y - y < 3;
                    EXPECT_EQ(host.GetPixel(destination, X, Y),
                              over ? zpxtest::TestPattern(X - x, Y - y) : Grey(background));
                }
            }
            host.Release(destination);
        }
    }
    host.Release(source);
}

TEST_F(Draw, AlphaZeroKeepsEveryColourAndRewritesOnlyTheFourthByte) {
    REALpicture source = zpxtest::MakePicture(host, 3, 3, false, zpxtest::TestPattern);
    REALpicture destination = host.NewPicture(4, 2, false);
    for (uint32_t i = 0; i < 8; ++i) host.SetRawWord(destination, i % 4, i / 4, 0x03050700u * i + 0x5A);
    ASSERT_TRUE(DrawPictureF(destination, source, 0.5, 0.5, 0.0, 0));
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(host.RawWord(destination, i % 4, i / 4), 0x03050700u * i + 0xFF);
    host.Release(source);
    host.Release(destination);
}

TEST_F(Draw, StrengthAboveOneOrBelowZeroClampsEachChannel) {
    REALpicture source = MakeGrey(host, {{200, 100}});
    REALpicture destination = MakeGrey(host, {{50, 50}});
    auto drawOnto = [&](int left, int right, double alpha) {
        host.SetPixel(destination, 0, 0, Grey(left));
        host.SetPixel(destination, 1, 0, Grey(right));
        EXPECT_TRUE(DrawPictureF(destination, source, 0, 0, alpha, 0));
        return RedRows(host, destination)[0];
    };
    // 2 * 200 clamps to 255; at 1.5 the remainder is negative and the destination adds nothing.
    EXPECT_EQ(drawOnto(50, 50, 2.0), (std::vector<int>{255, 200}));
    EXPECT_EQ(drawOnto(50, 50, 1.5), (std::vector<int>{255, 150}));
    // -200 + 2 * 50 clamps to 0; -50 + 1.5 * 200 = 250.
    EXPECT_EQ(drawOnto(50, 200, -1.0), (std::vector<int>{0, 255}));
    EXPECT_EQ(drawOnto(50, 200, -0.5), (std::vector<int>{0, 250}));
    host.Release(source);
    host.Release(destination);
}

TEST_F(Draw, MaskThinsEachNeighbourAndSmallMasksCountOutsideAsUnmasked) {
    // White shows the destination, black draws at full weight, 128 keeps 127/255.
    REALpicture source = Masked({{200, 200, 200}}, {{255, 0, 128}});
    REALpicture destination = MakeGrey(host, {{30, 30, 30}});
    EXPECT_TRUE(DrawPictureF(destination, source, 0, 0, 1.0, 0));
    EXPECT_EQ(RedRows(host, destination), (Rows{{30, 200, 99 + 15}}));
    EXPECT_EQ(host.AuditProblems({source, destination}), "");
    host.Release(source);

    REALpicture smallMask = Masked({{200, 200, 200}, {200, 200, 200}}, {{255}});
    REALpicture another = MakeGrey(host, {{40, 40, 40}, {40, 40, 40}});
    EXPECT_TRUE(DrawPictureF(another, smallMask, 0, 0, 1.0, 0));
    EXPECT_EQ(RedRows(host, another), (Rows{{40, 200, 200}, {200, 200, 200}}));
    for (REALpicture picture : {destination, smallMask, another}) host.Release(picture);
}

TEST_F(Draw, NilPicturesRaiseWithTheirOwnMessages) {
    REALpicture picture = MakeGrey(host, {{1}});
    EXPECT_FALSE(DrawPictureF(nullptr, nullptr, 0, 0, 1.0, 0));
    EXPECT_FALSE(DrawPictureF(nullptr, picture, 0, 0, 1.0, 0));
    EXPECT_EQ(host.Asks("REALGetPictureMask"), 0);
    EXPECT_FALSE(DrawPictureF(picture, nullptr, 0, 0, 1.0, 0));
    ASSERT_EQ(host.Raised().size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(host.Raised()[i].className, "NilObjectException");
    EXPECT_EQ(host.Raised()[0].message, std::optional<std::string>("source is nil"));
    EXPECT_EQ(host.Raised()[1].message, std::optional<std::string>("source is nil"));
    EXPECT_EQ(host.Raised()[2].message, std::optional<std::string>("picture is nil"));
    EXPECT_EQ(host.AuditProblems({picture}), "");
    host.Release(picture);
}

TEST_F(Draw, AViewThatCannotBeOpenedLeavesTheDestinationUntouched) {
    zpxhost::HostConfig config;
    config.app = zpxhost::AppKind::Console;  // no private copy stands in for a source
    Host console(config);
    console.LoadEntry(REALPluginMain);
    REALpicture source = zpxtest::MakePicture(console, 3, 2, false, zpxtest::TestPattern);
    REALpicture mask = MakeGrey(console, {{0, 0, 0}, {0, 0, 0}});
    console.AttachMask(source, mask);
    REALpicture destination = MakeGrey(console, {{5, 6}, {7, 8}});
    const std::vector<uint32_t> before = RawWords(console, destination);
    for (REALpicture refused : {mask, destination, source}) {
        console.RefuseLock(refused, REALdescriptionConsoleBuffer);
        EXPECT_FALSE(DrawPictureF(destination, source, 0.5, 0.5, 1.0, 0));
        console.RefuseLock(refused, REALdescriptionConsoleBuffer, false);
        EXPECT_EQ(RawWords(console, destination), before);
        EXPECT_EQ(console.AuditProblems({source, mask, destination}), "");
    }
    EXPECT_TRUE(console.Raised().empty());
    for (REALpicture picture : {source, mask, destination}) console.Release(picture);
}

TEST_F(Draw, UnplaceableCoordinatesAndOverflowingStrengthsAreRefused) {
    REALpicture source = MakeGrey(host, {{100, 200}});
    REALpicture destination = MakeGrey(host, {{5, 6, 7}});
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    for (double x : {nan, inf, -inf, 2147483648.0, -2147483648.5, 1e300}) {
        EXPECT_FALSE(DrawPictureF(destination, source, x, 0.0, 1.0, 0)) << x;
        EXPECT_FALSE(DrawPictureF(destination, source, 0.0, x, 1.0, 0)) << x;
    }
    for (double alpha : {nan, inf, -inf, 3e6, -3e6}) EXPECT_FALSE(DrawPictureF(destination, source, 0.5, 0, alpha, 0));
    EXPECT_EQ(host.Asks("REALGetPictureMask"), 0);
    EXPECT_EQ(host.LockCount(destination), 0);
    EXPECT_TRUE(host.Raised().empty());
    EXPECT_EQ(RedRows(host, destination), (Rows{{5, 6, 7}}));
    // The extremes that still fit are drawn.
    EXPECT_TRUE(DrawPictureF(destination, source, 2147483647.5, -2147483648.0, 1.0, 0));
    EXPECT_EQ(RedRows(host, destination), (Rows{{5, 6, 7}}));
    EXPECT_TRUE(DrawPictureF(destination, source, 0.5, 0, -1e6, 0));
    EXPECT_EQ(RedRows(host, destination), (Rows{{0, 0, 0}}));
    EXPECT_TRUE(DrawPictureF(destination, source, 0.5, 0, 1e6, 0));
    EXPECT_EQ(RedRows(host, destination), (Rows{{255, 255, 255}}));
    host.Release(source);
    host.Release(destination);
}

TEST_F(Draw, DrawingAPictureIntoItselfGivesWhatDrawingACopyGives) {
    auto make = [&] { return zpxtest::MakePicture(host, 7, 5, false, zpxtest::TestPattern); };
    REALpicture self = make(), copy = make(), destination = make();
    zpxtest::ResetAllocationFaults();
    ASSERT_TRUE(DrawPictureF(destination, copy, 1.5, 0.25, 0.9, 0));
    EXPECT_EQ(zpxtest::AllocationsSeen(), 0);
    ASSERT_TRUE(DrawPictureF(self, self, 1.5, 0.25, 0.9, 0));
    EXPECT_EQ(zpxtest::AllocationsSeen(), 1);
    EXPECT_EQ(zpxtest::StoredPixels(host, self), zpxtest::StoredPixels(host, destination));

    const std::vector<uint32_t> before = RawWords(host, self);
    zpxtest::FailNthAllocation(1);
    EXPECT_FALSE(DrawPictureF(self, self, 1.5, 0.25, 0.9, 0));
    EXPECT_EQ(RawWords(host, self), before);
    EXPECT_EQ(host.AuditProblems({self, copy, destination}), "");
    for (REALpicture picture : {self, copy, destination}) host.Release(picture);
}

TEST_F(Draw, YieldsBeforeTheRowsAfterEachAndAtTheEndAndPassesExceptionsOn) {
    zpxtest::MakeEveryYieldPointHandOver();
    REALpicture source = Masked({{1, 2}, {3, 4}}, {{0, 9}, {90, 255}});
    REALpicture destination = MakeGrey(host, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    EXPECT_TRUE(DrawPictureF(destination, source, 0.5, 0.5, 1.0, 0));
    EXPECT_EQ(host.Yields(), 0);
    EXPECT_TRUE(DrawPictureF(destination, source, 0.5, 0.5, 1.0, -2));
    EXPECT_EQ(host.Yields(), 3 + 2);
    for (int throwAt = 1; throwAt <= 3 + 2; ++throwAt) {
        int yields = 0;
        host.SetYieldHook([&] {
            if (++yields == throwAt) throw std::runtime_error("host code failed");
        });
        EXPECT_THROW(DrawPictureF(destination, source, 0.5, 0.5, 1.0, 1), std::runtime_error);
        EXPECT_EQ(host.AuditProblems({source, destination}), "") << "thrown at yield " << throwAt;
    }
    host.Release(source);
    host.Release(destination);
}

// A picture of random words, the fourth byte included.
REALpicture RandomWords(Host& host, int width, int height, bool alpha, std::mt19937& random) {
    REALpicture picture = host.NewPicture(width, height, alpha);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) host.SetRawWord(picture, x, y, random());
    }
    return picture;
}

// Every vector twin leaves the plain loop's words, in every layout: sources
// around the vector widths placed inside, across every edge and far outside,
// strengths that leave weight to the destination or take it away, just
// below and above the remaining weight the destination starts to show at
// (1/255), zero, negative and the largest the guard lets through, and a
// picture drawn into itself.
TEST(DrawPaths, EveryPathGivesThePlainWords) {
    struct Case {
        int sourceWidth, sourceHeight, width, height;
        double x, y, alpha;
    };
    const Case cases[] = {
        {1, 1, 5, 4, 0.37, 0.61, 1.0},         {2, 3, 9, 6, 1.5, 0.25, 0.5},          {9, 4, 12, 7, 0.37, 0.61, 1.0},
        {17, 5, 17, 5, 0.37, 0.61, 1.0},       {17, 5, 17, 5, -0.5, -0.25, 0.8},      {33, 6, 40, 9, 3.1, 1.9, 0.996},
        {33, 6, 40, 9, 3.1, 1.9, 0.999},       {40, 7, 33, 8, -5.7, 2.2, 2.5},        {40, 7, 33, 8, 2.0, 1.0, 1.0},
        {26, 8, 30, 9, 0.75, 0.5, -0.75},      {26, 8, 30, 9, 0.75, 0.5, 0.0},        {26, 8, 30, 9, 0.2, 0.9, 2.0e6},
        {16, 4, 20, 6, 25.5, 1.5, 1.0},        {16, 4, 20, 6, -16.5, 0.5, 1.0},       {16, 4, 20, 6, 2.5, -5.5, 1.0},
        {16, 4, 20, 6, 2.0e9 + 0.5, 0.5, 1.0}, {16, 4, 20, 6, -2.0e9 - 0.5, 0.5, 1.0}};
    for (const zpxtest::HostSetup& setup : zpxtest::EveryLayout()) {
        Host host(setup.config);
        host.LoadEntry(REALPluginMain);
        std::mt19937 random(11);
        for (const Case& c : cases) {
            for (bool alpha : {false, true}) {
                REALpicture source = RandomWords(host, c.sourceWidth, c.sourceHeight, alpha, random);
                REALpicture start = RandomWords(host, c.width, c.height, false, random);
                std::vector<uint32_t> plainWords, plainSelf;
                for (PixelPath path : {PixelPath::Plain, PixelPath::Baseline, PixelPath::Avx2, PixelPath::Avx512}) {
                    if (!PixelPathAvailable(path)) continue;
                    ForcePixelPath(path);
                    REALpicture destination = host.NewPicture(c.width, c.height, false);
                    REALpicture self = host.NewPicture(c.sourceWidth, c.sourceHeight, alpha);
                    for (int y = 0; y < c.height; ++y) {
                        for (int x = 0; x < c.width; ++x) host.SetRawWord(destination, x, y, host.RawWord(start, x, y));
                    }
                    for (int y = 0; y < c.sourceHeight; ++y) {
                        for (int x = 0; x < c.sourceWidth; ++x) host.SetRawWord(self, x, y, host.RawWord(source, x, y));
                    }
                    EXPECT_TRUE(DrawPictureF(destination, source, c.x, c.y, c.alpha, 0));
                    EXPECT_TRUE(DrawPictureF(self, self, c.x - 1.0, c.y, c.alpha, 0));
                    if (path == PixelPath::Plain) {
                        plainWords = RawWords(host, destination);
                        plainSelf = RawWords(host, self);
                    } else {
                        const std::string what = setup.name + ", " + PixelPathName(path) + ", " +
                                                 std::to_string(c.sourceWidth) + " at " + std::to_string(c.x) + ", " +
                                                 std::to_string(c.y) + ", alpha " + std::to_string(c.alpha);
                        EXPECT_EQ(RawWords(host, destination), plainWords) << what;
                        EXPECT_EQ(RawWords(host, self), plainSelf) << what << ", into itself";
                    }
                    host.Release(destination);
                    host.Release(self);
                }
                host.Release(source);
                host.Release(start);
            }
        }
        ForcePixelPath(BestPixelPath());
    }
}

class DrawLayouts : public ::testing::TestWithParam<zpxtest::HostSetup> {};

// Two draws into one destination, the first through a mask; the pixels that
// result, with the fourth byte each layout writes, are the same everywhere.
std::vector<RGBA> DrawScene(Host& host, bool alphaSource) {
    REALpicture source = zpxtest::MakePicture(host, 9, 7, alphaSource, zpxtest::TestPattern);
    REALpicture mask = zpxtest::MakePicture(host, 9, 7, false, [](int x, int y) { return Grey(x * 29 + y * 3); });
    REALpicture destination = zpxtest::MakePicture(host, 12, 10, false, [](int x, int y) {
        return zpxtest::TestPattern(y, x);
    });
    host.AttachMask(source, mask);
    EXPECT_TRUE(DrawPictureF(destination, source, 1.3, -0.6, 0.8, 0));
    host.AttachMask(source, nullptr);
    EXPECT_TRUE(DrawPictureF(destination, source, -2.25, 3.5, 1.2, 0));
    std::vector<RGBA> pixels = zpxtest::StoredPixels(host, destination);
    EXPECT_TRUE(host.PaddingIntact(destination));
    if (host.Config().app != zpxhost::AppKind::Desktop) {
        EXPECT_EQ(host.RawWord(destination, 0, 0) >> 24, 0u);
    }
    EXPECT_EQ(host.AuditProblems({source, mask, destination}), "");
    for (REALpicture picture : {source, mask, destination}) host.Release(picture);
    return pixels;
}

TEST_P(DrawLayouts, IdenticalPixelsInEveryLayout) {
    std::vector<RGBA> reference;
    {
        Host host;
        host.LoadEntry(REALPluginMain);
        reference = DrawScene(host, false);
    }
    Host host(GetParam().config);
    host.LoadEntry(REALPluginMain);
    EXPECT_EQ(DrawScene(host, false), reference);
    EXPECT_EQ(DrawScene(host, true), reference);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DrawLayouts, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
