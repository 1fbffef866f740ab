// ScaleZPX and the box-averaging scaler.
#include <gtest/gtest.h>

#include "host/Host.h"
#include "plugin/PluginMain.h"
#include "scale/Scalers.h"
#include "tests/support/Pictures.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;
using zpxtest::MakeGrey;
using zpxtest::RedRows;
using Rows = std::vector<std::vector<int>>;

class ScaleFast : public ::testing::Test {
protected:
    void SetUp() override { host.LoadEntry(REALPluginMain); }
    REALpicture Scale(REALpicture source, int width, int height, bool antiAlias = false, int yieldTicks = 0) {
        return ScalePicture(source, width, height, antiAlias, yieldTicks);
    }
    Host host;
};

TEST_F(ScaleFast, BoxAveragesWithTheHalfInsideTheDivision) {
    REALpicture source = MakeGrey(host, {{1, 2, 0, 0}, {2, 2, 0, 0}, {0, 0, 9, 9}, {0, 0, 9, 8}});
    REALpicture result = Scale(source, 2, 2);
    // (0.5 + 7) / 4 = 1.875 -> 1; (0.5 + 35) / 4 = 8.875 -> 8
    EXPECT_EQ(RedRows(host, result), (Rows{{1, 0}, {0, 8}}));
    EXPECT_EQ(host.AuditProblems({source, result}), "");
    host.Release(source);
    host.Release(result);
}

TEST_F(ScaleFast, OddRatioBoxesOverlap) {
    REALpicture source = MakeGrey(host, {{0, 4, 8}, {40, 44, 48}, {80, 84, 88}});
    REALpicture result = Scale(source, 2, 2);
    // Ratio 1.5, box 2 x 2; column 1 starts at source column 1, row 1 at row 1.
    EXPECT_EQ(RedRows(host, result), (Rows{{22, 26}, {62, 66}}));
    host.Release(source);
    host.Release(result);
}

TEST_F(ScaleFast, EnlargingRepeatsTheTruncatedSourcePixel) {
    REALpicture source = MakeGrey(host, {{10, 20}, {30, 40}});
    REALpicture result = Scale(source, 5, 5);
    EXPECT_EQ(RedRows(host, result), (Rows{{10, 10, 10, 20, 20},
                                           {10, 10, 10, 20, 20},
                                           {10, 10, 10, 20, 20},
                                           {30, 30, 30, 40, 40},
                                           {30, 30, 30, 40, 40}}));
    host.Release(source);
    host.Release(result);
}

TEST_F(ScaleFast, SameSizeReturnsTheReceiverWithOneMoreReference) {
    REALpicture source = MakeGrey(host, {{1, 2}, {3, 4}});
    for (bool antiAlias : {false, true}) {
        REALpicture result = Scale(source, 2, 2, antiAlias);
        EXPECT_EQ(result, source);
        EXPECT_EQ(host.RefCount(source), 2);
        host.Release(result);
    }
    EXPECT_EQ(host.LockCount(source), 0);
    EXPECT_EQ(Scale(nullptr, 0, 0), nullptr);
    host.Release(source);
}

TEST_F(ScaleFast, InvalidSizesGiveNil) {
    REALpicture source = MakeGrey(host, {{1, 2}, {3, 4}});
    EXPECT_EQ(Scale(source, 0, 3), nullptr);
    EXPECT_EQ(Scale(source, 3, -1), nullptr);
    EXPECT_EQ(Scale(nullptr, 3, 3), nullptr);
    EXPECT_EQ(Scale(source, 40000, 2), nullptr);
    EXPECT_TRUE(host.Raised().empty());
    EXPECT_EQ(host.AuditProblems({source}), "");
    host.Release(source);
}

TEST_F(ScaleFast, AlphaIsDroppedAndTheResultIsOpaque) {
    REALpicture source = zpxtest::MakePicture(host, 4, 2, true, [](int x, int) {
        return RGBA{200, 100, 50, static_cast<uint8_t>(x * 60)};
    });
    REALpicture result = Scale(source, 2, 1);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(host.HasAlpha(result));
    for (int x = 0; x < 2; ++x) EXPECT_EQ(host.GetPixel(result, x, 0).a, 255);
    EXPECT_EQ(host.AuditProblems({source, result}), "");
    host.Release(source);
    host.Release(result);
}

TEST_F(ScaleFast, YieldsOncePerRowAndOnceAtTheEnd) {
    zpxtest::MakeEveryYieldPointHandOver();
    REALpicture source = MakeGrey(host, {{1, 2, 3}, {4, 5, 6}});
    REALpicture result = Scale(source, 4, 7, false, 1);
    EXPECT_EQ(host.Yields(), 7 + 1);
    host.Release(result);
    result = Scale(source, 4, 7, false, 0);
    EXPECT_EQ(host.Yields(), 8);
    host.Release(result);
    // A failure still yields once at the end.
    EXPECT_EQ(Scale(nullptr, 4, 7, false, -5), nullptr);
    EXPECT_EQ(host.Yields(), 9);
    host.Release(source);
}

TEST_F(ScaleFast, AnExceptionFromTheYieldReleasesEverything) {
    zpxtest::MakeEveryYieldPointHandOver();
    REALpicture source = MakeGrey(host, {{1, 2, 3}, {4, 5, 6}});
    for (int throwAt = 1; throwAt <= 5; ++throwAt) {
        int yields = 0;
        host.SetYieldHook([&] {
            if (++yields == throwAt) throw std::runtime_error("host code failed");
        });
        EXPECT_THROW(Scale(source, 3, 4, false, 1), std::runtime_error);
        EXPECT_EQ(host.AuditProblems({source}), "") << "thrown at yield " << throwAt;
    }
    host.Release(source);
}

class ScaleFastLayouts : public ::testing::TestWithParam<zpxtest::HostSetup> {};

// The same picture scaled in every layout the host can hand out gives the
// same pixels, with the fourth byte each layout writes.
TEST_P(ScaleFastLayouts, IdenticalPixelsInEveryLayout) {
    std::vector<RGBA> reference;
    {
        Host host;
        host.LoadEntry(REALPluginMain);
        REALpicture source = zpxtest::MakePicture(host, 37, 23, false, zpxtest::TestPattern);
        REALpicture result = ScalePicture(source, 11, 9, false, 0);
        reference = zpxtest::StoredPixels(host, result);
        host.Release(source);
        host.Release(result);
    }
    Host host(GetParam().config);
    host.LoadEntry(REALPluginMain);
    for (bool alpha : {false, true}) {
        REALpicture source = zpxtest::MakePicture(host, 37, 23, alpha, zpxtest::TestPattern);
        for (auto [width, height] : {std::pair{11, 9}, std::pair{80, 50}}) {
            REALpicture result = ScalePicture(source, width, height, false, 0);
            ASSERT_NE(result, nullptr);
            EXPECT_TRUE(host.PaddingIntact(result));
            if (width == 11) {
                EXPECT_EQ(zpxtest::StoredPixels(host, result), reference);
            }
            EXPECT_EQ(host.GetPixel(result, 3, 2).a, 255);
            if (GetParam().config.app != zpxhost::AppKind::Desktop) {
                EXPECT_EQ(host.RawWord(result, 3, 2) >> 24, 0u);
            }
            EXPECT_EQ(host.AuditProblems({source, result}), "");
            host.Release(result);
        }
        host.Release(source);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ScaleFastLayouts, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
