// Cooperative yielding with a clock the test drives.
#include <gtest/gtest.h>

#include "host/Host.h"
#include "plugin/PluginMain.h"
#include "plugin/Yield.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::Host;

class YieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.LoadEntry(REALPluginMain);
        zpxtest::SetTicks(1000);
        zpxtest::SetMilliseconds(500000);
    }
    Host host;
};

TEST_F(YieldTest, IntervalZeroNeverHandsOver) {
    YieldData record;
    record.Start(0);
    for (int i = 0; i < 10; ++i) {
        record.YieldPoint();
        zpxtest::AdvanceTicks(100);
    }
    EXPECT_EQ(host.Yields(), 0);
}

TEST_F(YieldTest, TicksHandOverOnceTheIntervalHasPassed) {
    YieldData record;
    record.Start(2);
    record.YieldPoint();  // the first yield point compares with 0: at once
    EXPECT_EQ(host.Yields(), 1);
    EXPECT_EQ(record.lastTime, 1000);
    zpxtest::AdvanceTicks(1);
    record.YieldPoint();
    EXPECT_EQ(host.Yields(), 1);
    zpxtest::AdvanceTicks(1);
    record.YieldPoint();
    EXPECT_EQ(host.Yields(), 2);
    // Rows slower than the interval hand over at every yield point.
    for (int i = 0; i < 5; ++i) {
        zpxtest::AdvanceTicks(3);
        record.YieldPoint();
    }
    EXPECT_EQ(host.Yields(), 7);
}

TEST_F(YieldTest, MillisecondsHandOverAtMostOncePerInterval) {
    YieldData record;
    record.Start(-100);
    for (int step = 0; step < 1000; step += 10) {
        record.YieldPoint();
        zpxtest::AdvanceMilliseconds(10);
    }
    // 1000 ms in steps of 10: the first point, then one per 100 ms.
    EXPECT_EQ(host.Yields(), 10);
}

TEST_F(YieldTest, FirstYieldPointWaitsWhenTheClockIsBelowTheInterval) {
    zpxtest::SetTicks(5);
    YieldData record;
    record.Start(60);
    record.YieldPoint();
    EXPECT_EQ(host.Yields(), 0);
}

TEST_F(YieldTest, TheClockIsReadAgainAfterTheHandOver) {
    YieldData record;
    record.Start(-100);
    // The host spends 250 ms in the hand-over; that time does not count.
    host.SetYieldHook([] { zpxtest::AdvanceMilliseconds(250); });
    record.YieldPoint();
    EXPECT_EQ(record.lastTime, 500250);
    zpxtest::AdvanceMilliseconds(99);
    record.YieldPoint();
    EXPECT_EQ(host.Yields(), 1);
    zpxtest::AdvanceMilliseconds(1);
    record.YieldPoint();
    EXPECT_EQ(host.Yields(), 2);
}

TEST_F(YieldTest, TickDifferencesWrapAroundIn32Bits) {
    zpxtest::SetTicks(0xFFFFFFF0u);
    YieldData record;
    record.Start(2);
    record.lastTime = static_cast<int32_t>(0xFFFFFFF0u);
    zpxtest::SetTicks(0x00000001u);  // 17 ticks later, across the wrap
    record.YieldPoint();
    EXPECT_EQ(host.Yields(), 1);
}

TEST_F(YieldTest, AMissingHostEntryOnlySkipsTheHandOver) {
    host.SetMissing("REALYieldToRB");
    YieldData record;
    record.Start(1);
    record.YieldPoint();
    EXPECT_EQ(host.Yields(), 0);
    EXPECT_EQ(record.lastTime, 1000);
}

}  // namespace
