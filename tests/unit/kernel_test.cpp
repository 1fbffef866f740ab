// The seven kernels and the contribution lists built from them, to the bit.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "picture/CBuffer.h"
#include "resample/Contributions.h"
#include "resample/FilterKernel.h"

namespace {

double W(int mode, double t) { return FindFilterKernel(mode)->weight(t); }

// Radii, the centres, the ends of each support and the residues the
// floating-point forms leave where the exact ones are zero.
TEST(FilterKernel, RadiiAndValuesToTheBit) {
    const double radii[] = {1, 0.5, 3, 8, 2, 2, 3};
    for (int mode = 1; mode <= 7; ++mode) {
        ASSERT_NE(FindFilterKernel(mode), nullptr);
        EXPECT_EQ(FindFilterKernel(mode)->mode, mode);
        EXPECT_EQ(FindFilterKernel(mode)->radius, radii[mode - 1]);
        EXPECT_EQ(W(mode, 0.0), mode == 5 ? 0.8888888888888888 : 1.0) << mode;
    }
    for (int mode : {0, 8, -1, 1 << 30}) EXPECT_EQ(FindFilterKernel(mode), nullptr);
    struct Value {
        int mode;
        double t, weight;
    } const values[] = {
        {2, 0.5, 1.0},   {2, 0.5000001, 0.0}, {1, 0.5, 0.5},  {1, 1.0, 0.0},   {6, 1.0, 0.0},
        {6, 2.0, 0.0},   {6, 0.5, 0.59375},   {7, 0.5, 0.5833333333333333},    {7, 1.0, -2.220446049250313e-16},
        {7, 2.0, -8.881784197001252e-16},     {7, 3.0, 0.0},  {7, 3.0000001, 0.0}, {5, 1.0, 0.05555555555555536},
        {5, 2.0, 0.0},   {5, 7.5, 0.0},       {3, 1.0, 3.223762155880876e-17}, {3, 3.0, 0.0}, {4, 8.0, 0.0},
    };
    for (const Value& v : values) EXPECT_EQ(W(v.mode, v.t), v.weight) << "mode " << v.mode << " at " << v.t;
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
        for (int t = 0; t < lists[i].count; ++t) {
            taps.emplace_back(lists[i].entries[t].weight, lists[i].entries[t].pixel);
        }
        return taps;
    }
};
using Taps = std::vector<std::pair<float, int>>;

TEST(Contributions, ListsToTheBit) {
    // The float of W(1) = 0.05555555555555536 prints as 0.05555556, but the
    // literal 0.05555556f is the next float up: spell it exactly.
    const float side = 0x1.c71c72p-5f;
    const float one = static_cast<float>(-std::ldexp(1.0, -52)), two = static_cast<float>(-std::ldexp(1.0, -50));
    struct Case {
        const char* name;
        int mode, source, destination;
        size_t index;
        Taps taps;
        float weightSum;  // NAN: not checked
    } const cases[] = {
        {"equal box", 2, 5, 5, 0, {{1.0f, 0}}, 1.0f},
        {"equal box", 2, 5, 5, 4, {{1.0f, 4}}, 1.0f},
        {"equal Mitchell softens", 5, 5, 5, 2, {{side, 1}, {0.8888889f, 2}, {side, 3}}, 1.0f},
        {"equal Mitchell at the edge", 5, 5, 5, 0, {{0.8888889f, 0}, {side, 1}}, 0.9444444f},
        {"equal Keys 6 keeps its residues", 7, 7, 7, 3, {{two, 1}, {one, 2}, {1.0f, 3}, {one, 4}, {two, 5}}, NAN},
        {"shrinking triangle", 1, 8, 4, 0, {{0.75f, 0}, {0.75f, 1}, {0.25f, 2}}, 1.75f},
        {"shrinking triangle", 1, 8, 4, 1, {{0.25f, 1}, {0.75f, 2}, {0.75f, 3}, {0.25f, 4}}, 2.0f},
        {"shrinking triangle at the end", 1, 8, 4, 3, {{0.25f, 5}, {0.75f, 6}, {0.75f, 7}}, NAN},
        {"box two to one", 2, 2, 1, 0, {{1.0f, 0}, {1.0f, 1}}, 2.0f},
        {"triangle from one pixel", 1, 1, 3, 0, {{0.6666667f, 0}}, NAN},
        {"triangle from one pixel", 1, 1, 3, 1, {{1.0f, 0}}, NAN},
        {"enlarging Keys keeps negative taps", 6, 4, 8, 0, {{0.87890625f, 0}, {-0.10546875f, 1}}, 0.7734375f},
    };
    for (const Case& c : cases) {
        const Table table(c.mode, c.source, c.destination);
        EXPECT_EQ(table.Taps(c.index), c.taps) << c.name << ", list " << c.index;
        if (!std::isnan(c.weightSum)) {
            EXPECT_EQ(table.lists[c.index].weightSum, c.weightSum) << c.name << ", list " << c.index;
        }
    }
    const Table mitchell(5, 5, 5);
    EXPECT_EQ(mitchell.lists[4].weightSum, 0.9444444f);
    const Table lanczos(3, 6, 2);
    for (const ContributionList& list : lanczos.lists) {
        ASSERT_EQ(list.count, 6);
        EXPECT_EQ(list.weightSum, 2.8554957f);
    }
    EXPECT_GT(lanczos.lists[0].entries[1].weight, lanczos.lists[0].entries[0].weight);
    EXPECT_GT(lanczos.lists[1].entries[4].weight, lanczos.lists[1].entries[5].weight);
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
