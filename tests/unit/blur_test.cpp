// BlurZPX: a slow direct-window reference, the failure paths, the division
// of the vector passes for every sum it can meet, and those passes against
// the plain ones in every layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>

#include "effects/Blur.h"
#include "effects/BlurLanes.h"
#include "tests/support/Plugin.h"

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

class Blur : public zpxtest::PluginTest {};

TEST_F(Blur, FailuresGiveNilAndLeaveNothingBehind) {
    REALpicture source = keep(zpxtest::MakePicture(host, 7, 5, false, zpxtest::TestPattern));
    // Table, three column sums and row copy (which holds the lane rows'
    // working rows on the other paths): the same five on every path.
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
    REALpicture tooWide = keep(host.NewPicture(32768, 1, false));
    const int creations = host.PictureCreations();
    EXPECT_EQ(BlurZPX(tooWide, 2.0, 0), nullptr);
    EXPECT_EQ(host.PictureCreations(), creations);
    REALpicture unlockable = keep(host.NewPicture(3, 3, true));  // no private copy stands in for an alpha picture
    host.RefuseLock(unlockable, REALdescriptionBitmapContext);
    EXPECT_EQ(BlurZPX(unlockable, 2.0, 0), nullptr);
    EXPECT_TRUE(host.Raised().empty());
}

// The one-multiply quotient of the lane rows (the blur's windows, the box
// scaler's means), for every sum a 16-bit lane can hold and every divisor
// they take.
TEST(Divisor16, QuotientsEqualIntegerDivisionForEveryLaneValue) {
    for (int32_t d = 2; d <= 257; ++d) {
        const Divisor16 divisor = Divisor16For(d);
        int wrong = 0;
        for (uint32_t n = 0; n <= 0xFFFF; ++n) wrong += Divide16(n, divisor) != n / static_cast<uint32_t>(d);
        EXPECT_EQ(wrong, 0) << "divisor " << d;
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

// Every lane row gives the plain rows' words in every layout, and plain
// pictures the direct windows' pixels: an example worked by hand, then random words
// (their fourth byte too, which the lanes average and then overwrite), widths
// around the vector widths, random sizes from a single pixel up, radii (with
// a fraction, which is dropped) on both sides of the largest the 16-bit lanes
// take and far beyond the picture, uniform pictures, and white ones whose
// widest windows fill the 16-bit lanes exactly.
class BlurPaths : public zpxtest::PluginLayoutTest {};

TEST_P(BlurPaths, EveryPathGivesThePlainWords) {
    const uint8_t reds[] = {0, 0, 255};
    REALpicture three =
        keep(zpxtest::MakePicture(host, 3, 1, false, [&](int x, int) { return RGBA{reds[x], 0, 0, 255}; }));
    REALpicture blurred = keep(BlurZPX(three, 1.0, 0));
    EXPECT_NE(blurred, three);
    EXPECT_EQ(zpxtest::RedRows(host, blurred), (std::vector<std::vector<int>>{{0, 85, 170}}));

    struct Case {
        int width, height, r;
        std::optional<uint32_t> fill;  // every word
    };
    constexpr uint32_t kWhite = 0xFFFFFFFFu, kUniform = 0xFF4DC80Au;
    std::vector<Case> cases = {
        {1, 1, 1, {}},      {1, 19, 3, {}},       {19, 1, 2, {}},       {1, 9, 2, {}},        {9, 1, 3, {}},
        {7, 5, 1, {}},      {9, 4, 2, {}},        {15, 3, 7, {}},       {16, 8, 5, {}},       {33, 6, 16, {}},
        {70, 9, 40, {}},    {300, 2, 128, kWhite}, {2, 300, 128, kWhite}, {260, 3, 128, {}},  {40, 9, 129, {}},
        {30, 4, 129, {}},   {300, 2, 200, kWhite}, {3, 70, 131, {}},    {3, 40, 200, {}},     {9, 7, 5000, {}},
        {2, 300, 1000, kWhite}, {5, 3, 5000, kUniform}, {5, 3, 2, kUniform}};
    std::mt19937 random(20240611);
    auto draw = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    for (int round = 0; round < 57; ++round) {
        cases.push_back({draw(1, 24), draw(1, 24), round % 4 == 3 ? draw(20, 60) : draw(1, 6), {}});
    }
    uint32_t seed = 7;
    for (const Case& c : cases) {
        for (bool alpha : {false, true}) {
            REALpicture source = zpxtest::RandomWords(host, c.width, c.height, alpha, seed++);
            for (int y = 0; c.fill && y < c.height; ++y) {
                for (int x = 0; x < c.width; ++x) host.SetRawWord(source, x, y, *c.fill);
            }
            const std::string what = std::to_string(c.width) + " x " + std::to_string(c.height) + ", r " +
                                     std::to_string(c.r) + (alpha ? ", alpha source" : "");
            const double radius = c.r + 0.75;
            if (!alpha) {
                REALpicture result = BlurZPX(source, radius, 0);
                ASSERT_NE(result, nullptr) << what;
                EXPECT_EQ(zpxtest::StoredPixels(host, result),
                          DirectBlur(zpxtest::StoredPixels(host, source), c.width, c.height, c.r))
                    << what;
                zpxtest::TakeWords(host, result);
            }
            zpxtest::ExpectEveryPathGivesPlain(what,
                                               [&] { return zpxtest::TakeWords(host, BlurZPX(source, radius, 0)); });
            host.Release(source);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, BlurPaths, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
