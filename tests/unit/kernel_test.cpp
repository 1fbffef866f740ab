// The seven kernels and the contribution lists built from them, to the bit.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "plugin/CBuffer.h"
#include "resample/Contributions.h"
#include "resample/FilterKernel.h"

namespace {

double W(int mode, double t) { return FindFilterKernel(mode)->weight(t); }

TEST(FilterKernel, ModeTable) {
    const double radii[] = {1, 0.5, 3, 8, 2, 2, 3};
    for (int mode = 1; mode <= 7; ++mode) {
        ASSERT_NE(FindFilterKernel(mode), nullptr);
        EXPECT_EQ(FindFilterKernel(mode)->mode, mode);
        EXPECT_EQ(FindFilterKernel(mode)->radius, radii[mode - 1]);
    }
    for (int mode : {0, 8, -1, 1 << 30}) EXPECT_EQ(FindFilterKernel(mode), nullptr);
}

TEST(FilterKernel, ValuesAtTheCentre) {
    for (int mode : {1, 2, 3, 4, 6, 7}) EXPECT_EQ(W(mode, 0.0), 1.0) << mode;
    EXPECT_EQ(W(5, 0.0), 0.8888888888888888);
}

TEST(FilterKernel, BoundsAndResidues) {
    EXPECT_EQ(W(2, 0.5), 1.0);
    EXPECT_EQ(W(2, 0.5000001), 0.0);
    EXPECT_EQ(W(1, 0.5), 0.5);
    EXPECT_EQ(W(1, 1.0), 0.0);
    EXPECT_EQ(W(6, 1.0), 0.0);
    EXPECT_EQ(W(6, 2.0), 0.0);
    EXPECT_EQ(W(6, 0.5), 0.59375);
    EXPECT_EQ(W(7, 0.5), 0.5833333333333333);
    EXPECT_EQ(W(7, 1.0), -2.220446049250313e-16);
    EXPECT_EQ(W(7, 2.0), -8.881784197001252e-16);
    EXPECT_EQ(W(7, 3.0), 0.0);
    EXPECT_EQ(W(7, 3.0000001), 0.0);
    EXPECT_EQ(W(5, 1.0), 0.05555555555555536);
    EXPECT_EQ(W(5, 2.0), 0.0);
    EXPECT_EQ(W(5, 7.5), 0.0);
    EXPECT_EQ(W(3, 1.0), 3.223762155880876e-17);
    EXPECT_EQ(W(3, 3.0), 0.0);
    EXPECT_EQ(W(4, 8.0), 0.0);
    for (int t = 1; t < 8; ++t) EXPECT_LT(std::fabs(W(4, t)), 1e-16) << t;
    EXPECT_NE(W(4, 7.0), 0.0);
}

struct Table {
    std::vector<ContributionList> lists;
    Table(int mode, int source, int destination) : lists(size_t(destination)) {
        BuildContributions(*FindFilterKernel(mode), source, destination, lists.data());
    }
    ~Table() { FreeContributions(lists.data(), static_cast<int32_t>(lists.size())); }
    std::vector<std::pair<float, int>> Taps(size_t i) const {
        std::vector<std::pair<float, int>> taps;
        for (int t = 0; t < lists[i].count; ++t) taps.emplace_back(lists[i].entries[t].weight, lists[i].entries[t].pixel);
        return taps;
    }
};
using Taps = std::vector<std::pair<float, int>>;

TEST(Contributions, EqualLengthsBoxIsTheIdentity) {
    Table table(2, 5, 5);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(table.Taps(i), (Taps{{1.0f, int(i)}}));
        EXPECT_EQ(table.lists[i].weightSum, 1.0f);
    }
}

TEST(Contributions, EqualLengthsMitchellSoftens) {
    // The float of W(1) = 0.05555555555555536 prints as 0.05555556, but the
    // literal 0.05555556f is the next float up: spell it exactly.
    const float side = 0x1.c71c72p-5f;
    Table table(5, 5, 5);
    EXPECT_EQ(table.Taps(2), (Taps{{side, 1}, {0.8888889f, 2}, {side, 3}}));
    EXPECT_EQ(table.lists[2].weightSum, 1.0f);
    EXPECT_EQ(table.Taps(0), (Taps{{0.8888889f, 0}, {side, 1}}));
    EXPECT_EQ(table.lists[0].weightSum, 0.9444444f);
    EXPECT_EQ(table.lists[4].weightSum, 0.9444444f);
}

TEST(Contributions, EqualLengthsKeys6KeepsItsResidues) {
    Table table(7, 7, 7);
    const float one = static_cast<float>(-std::ldexp(1.0, -52));
    const float two = static_cast<float>(-std::ldexp(1.0, -50));
    EXPECT_EQ(table.Taps(3), (Taps{{two, 1}, {one, 2}, {1.0f, 3}, {one, 4}, {two, 5}}));
}

TEST(Contributions, ShrinkingTriangle) {
    Table table(1, 8, 4);
    EXPECT_EQ(table.Taps(0), (Taps{{0.75f, 0}, {0.75f, 1}, {0.25f, 2}}));
    EXPECT_EQ(table.lists[0].weightSum, 1.75f);
    EXPECT_EQ(table.Taps(1), (Taps{{0.25f, 1}, {0.75f, 2}, {0.75f, 3}, {0.25f, 4}}));
    EXPECT_EQ(table.lists[1].weightSum, 2.0f);
    EXPECT_EQ(table.Taps(3), (Taps{{0.25f, 5}, {0.75f, 6}, {0.75f, 7}}));
}

TEST(Contributions, ShrinkingBoxTwoToOne) {
    Table table(2, 2, 1);
    EXPECT_EQ(table.Taps(0), (Taps{{1.0f, 0}, {1.0f, 1}}));
    EXPECT_EQ(table.lists[0].weightSum, 2.0f);
}

TEST(Contributions, EnlargingTriangleFromOnePixel) {
    Table table(1, 1, 3);
    EXPECT_EQ(table.Taps(0), (Taps{{0.6666667f, 0}}));
    EXPECT_EQ(table.Taps(1), (Taps{{1.0f, 0}}));
    EXPECT_EQ(table.Taps(2), (Taps{{0.6666667f, 0}}));
}

TEST(Contributions, EnlargingKeysKeepsNegativeTaps) {
    Table table(6, 4, 8);
    EXPECT_EQ(table.Taps(0), (Taps{{0.87890625f, 0}, {-0.10546875f, 1}}));
    EXPECT_EQ(table.lists[0].weightSum, 0.7734375f);
}

TEST(Contributions, ShrinkingLanczos3SixToTwo) {
    Table table(3, 6, 2);
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(table.lists[i].count, 6);
        EXPECT_EQ(table.lists[i].weightSum, 2.8554957f);
    }
    EXPECT_EQ(table.lists[0].entries[1].weight, 1.0f * table.lists[0].entries[1].weight);
    EXPECT_GT(table.lists[0].entries[1].weight, table.lists[0].entries[0].weight);
    EXPECT_GT(table.lists[1].entries[4].weight, table.lists[1].entries[5].weight);
}

TEST(Contributions, CapacityAlwaysLeavesOneEntryToSpare) {
    for (int mode = 1; mode <= 7; ++mode) {
        for (auto [source, destination] : {std::pair{7, 3}, {100, 7}, {3, 11}, {9, 9}, {1000, 999}, {13, 1}}) {
            const int64_t capacity = ContributionCapacity(*FindFilterKernel(mode), source, destination);
            Table table(mode, source, destination);
            for (const ContributionList& list : table.lists) EXPECT_LT(list.count, capacity) << mode;
        }
    }
    const int64_t enlarging[] = {4, 3, 8, 18, 6, 6, 8};
    for (int mode = 1; mode <= 7; ++mode) {
        EXPECT_EQ(ContributionCapacity(*FindFilterKernel(mode), 4, 8), enlarging[mode - 1]);
    }
}

TEST(Contributions, HugeWindowsAreRefusedNotShortened) {
    // Shrinking 2^31-1 source pixels to one stretches Lanczos 8 over ~2^35 entries.
    std::vector<ContributionList> lists(1);
    BuildContributions(*FindFilterKernel(4), 2147483647, 1, lists.data());
    EXPECT_EQ(lists[0].entries, nullptr);
    EXPECT_EQ(lists[0].count, 0);
    EXPECT_EQ(lists[0].weightSum, 0.0f);
}

}  // namespace
