// ScaleZPX without AntiAlias: the box-averaging scaler, its integer means,
// and its lane rows, which give the plain scaler's bytes on every pixel
// path, at the box sizes around their 257-pixel limit and without their tables.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "scale/BoxLanes.h"
#include "scale/Scalers.h"
#include "tests/support/Plugin.h"

namespace {

using Rows = std::vector<std::vector<int>>;

class ScaleBox : public zpxtest::PluginTest {};

TEST_F(ScaleBox, ExactExamples) {
    struct Case {
        const char* name;
        Rows source;
        int width, height;
        Rows expected;
    } cases[] = {
        // (0.5 + 7) / 4 = 1.875 -> 1; (0.5 + 35) / 4 = 8.875 -> 8
        {"the half inside the division", {{1, 2, 0, 0}, {2, 2, 0, 0}, {0, 0, 9, 9}, {0, 0, 9, 8}}, 2, 2,
         {{1, 0}, {0, 8}}},
        // Ratio 1.5, box 2 x 2; column 1 starts at source column 1, row 1 at row 1.
        {"overlapping boxes", {{0, 4, 8}, {40, 44, 48}, {80, 84, 88}}, 2, 2, {{22, 26}, {62, 66}}},
        {"enlarging repeats the truncated source pixel", {{10, 20}, {30, 40}}, 5, 5,
         {{10, 10, 10, 20, 20}, {10, 10, 10, 20, 20}, {10, 10, 10, 20, 20}, {30, 30, 30, 40, 40},
          {30, 30, 30, 40, 40}}},
    };
    for (const Case& c : cases) {
        REALpicture source = zpxtest::MakeGrey(host, c.source);
        REALpicture result = ScalePicture(source, c.width, c.height, false, 0);
        EXPECT_EQ(zpxtest::RedRows(host, result), c.expected) << c.name;
        EXPECT_EQ(host.AuditProblems({source, result}), "") << c.name;
        host.Release(source);
        host.Release(result);
    }
}

TEST_F(ScaleBox, SameSizeReturnsTheReceiverWithOneMoreReference) {
    REALpicture source = zpxtest::MakeGrey(host, {{1, 2}, {3, 4}});
    for (bool antiAlias : {false, true}) {
        EXPECT_EQ(ScalePicture(source, 2, 2, antiAlias, 0), source);
        EXPECT_EQ(host.RefCount(source), 2);
        host.Release(source);
    }
    EXPECT_EQ(host.LockCount(source), 0);
    host.Release(source);
}

TEST(BoxMeans, TheLanesGiveTheTruncatedDoubleMeanOfEverySum) {
    for (int64_t area = 1; area <= kLargestLaneBox; ++area) {
        int64_t wrong = 0;
        for (uint32_t sum = 0; sum <= 255 * area; ++sum) {
            wrong += BoxMeanOnLanes(sum, area) != MeanChannel(sum, static_cast<double>(area));
        }
        EXPECT_EQ(wrong, 0) << "area " << area;
    }
}

struct BoxCase {
    int sourceWidth, sourceHeight;
    std::vector<std::pair<int, int>> sizes;
};

std::vector<BoxCase> BoxCases() {
    const std::vector<std::pair<int, int>> sizes = {{1, 1},   {17, 9},  {30, 18}, {60, 36}, {130, 80},
                                                    {3, 120}, {200, 5}, {5, 37},  {61, 1},  {1, 37}};
    std::vector<BoxCase> cases = {{61, 37, sizes}, {1, 1, sizes}, {33, 300, sizes}};
    // Reductions by a whole factor, where each box starts at the end of the
    // one before; the widths leave every remainder of a vector.
    for (int factor : {1, 2, 3, 4, 5, 8, 15}) {
        for (int width : {1, 7, 8, 9, 17, 33}) cases.push_back({width * factor, 3 * factor, {{width, 3}}});
    }
    // Boxes of 256 and 257 pixels take the lane row, larger ones the plain one.
    for (auto [width, height] : {std::pair{257, 2}, {258, 2}, {32, 16}, {34, 17}, {16, 16}, {17, 17}, {255, 255}}) {
        cases.push_back({width, height, {{1, 1}, {2, 1}, {1, 2}}});
    }
    return cases;
}

class BoxPaths : public zpxtest::PluginLayoutTest {};

TEST_P(BoxPaths, EveryPathGivesThePlainBytes) {
    uint32_t seed = 7;
    for (const BoxCase& c : BoxCases()) {
        for (bool alpha : {false, true}) {
            REALpicture source = zpxtest::RandomWords(host, c.sourceWidth, c.sourceHeight, alpha, seed++);
            for (const auto& size : c.sizes) {
                const int width = size.first, height = size.second;  // C++17 lambdas capture no structured bindings
                zpxtest::ExpectEveryPathGivesPlain(
                    std::to_string(c.sourceWidth) + "x" + std::to_string(c.sourceHeight) + " to " +
                        std::to_string(width) + "x" + std::to_string(height) + (alpha ? " with alpha" : ""),
                    [&] { return zpxtest::TakeWords(host, ScalePictureFast(source, width, height)); });
            }
            EXPECT_EQ(host.AuditProblems({source}), "");
            host.Release(source);
        }
    }
}

// A table the lane row cannot allocate hands the work to the plain row.
TEST_P(BoxPaths, AFailedTableStillGivesThePlainBytes) {
    REALpicture source = zpxtest::RandomWords(host, 45, 29, false, 3);
    ForcePixelPath(PixelPath::Plain);
    const std::vector<uint32_t> plain = zpxtest::TakeWords(host, ScalePictureFast(source, 11, 7));
    ForcePixelPath(BestPixelPath());
    zpxtest::ResetAllocationFaults();
    host.Release(ScalePictureFast(source, 11, 7));
    const int allocations = zpxtest::AllocationsSeen();
    for (int n = 1; n <= allocations; ++n) {
        zpxtest::FailNthAllocation(n);
        REALpicture result = ScalePictureFast(source, 11, 7);
        zpxtest::ResetAllocationFaults();
        if (result != nullptr) {
            EXPECT_EQ(zpxtest::TakeWords(host, result), plain) << "allocation " << n;
        }
        EXPECT_EQ(host.AuditProblems({source}), "") << "allocation " << n;
    }
    host.Release(source);
}

INSTANTIATE_TEST_SUITE_P(Layouts, BoxPaths, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
