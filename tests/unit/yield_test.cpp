// Cooperative yielding with a clock the test drives: the record itself, and
// how many yield points each method passes.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "effects/Blur.h"
#include "effects/DrawPictureF.h"
#include "plugin/Yield.h"
#include "resample/Resampler.h"
#include "scale/Scalers.h"
#include "tests/support/Plugin.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::Host;

class YieldTest : public zpxtest::PluginTest {
protected:
    void SetUp() override {
        zpxtest::PluginTest::SetUp();
        zpxtest::SetTicks(1000);
        zpxtest::SetMilliseconds(500000);
    }
};

// The clock advances by each step (ticks for a positive interval,
// milliseconds for a negative one) before a yield point; with no steps there
// is one yield point at the clock as set. Clock differences wrap around in 32
// bits. At the ends of the range the interval and the wrapped difference are
// compared as 64-bit magnitudes: an interval of -2^31 waits 2^31 ms, which
// only a difference of exactly -2^31 reaches, and a tick difference of -2^31
// passes every interval.
TEST_F(YieldTest, HandsOverOnceTheIntervalHasPassed) {
    constexpr int32_t kMin = INT32_MIN, kMax = INT32_MAX;
    constexpr uint64_t k2To31 = uint64_t(1) << 31;
    struct Case {
        const char* name;
        uint64_t clock;  // ticks and milliseconds at Start
        int32_t interval;
        std::optional<int32_t> lastTime;  // set after Start
        std::vector<int> steps;
        int yields;
    } const cases[] = {
        // The first yield point compares with 0: at once; then every 2 ticks,
        // and at every point when rows are slower than the interval.
        {"ticks", 1000, 2, {}, {0, 1, 1, 3, 3, 3, 3, 3}, 7},
        // 1000 ms in steps of 10: the first point, then one per 100 ms.
        {"milliseconds", 500000, -100, {}, std::vector<int>(100, 10), 10},
        {"interval 0 never", 1000, 0, {}, std::vector<int>(10, 100), 0},
        {"the first point waits while the clock is below the interval", 5, 60, {}, {0}, 0},
        {"-2^31 ms, 2^31 - 1 passed", k2To31 - 1, kMin, 0, {}, 0},
        {"-2^31 ms, a difference of -2^31", k2To31, kMin, 0, {}, 1},
        {"-2^31 ms, a difference of 2^31 - 1 after the wrap", k2To31, kMin, 1, {}, 0},
        {"2^31 - 1 ticks, a difference of -2^31", k2To31, kMax, 0, {}, 1},
        {"2^31 - 1 ticks, 2^31 - 2 passed", k2To31 - 2, kMax, 0, {}, 0},
        {"1 tick, a difference of -2^31", 2 * k2To31 - 1, 1, kMax, {}, 1},
        {"2 ticks, 17 passed across the wrap", 1, 2, -16, {}, 1},
    };
    // Without the host's entry only the hand-over is skipped. (Asked before
    // the cases, as an answered entry is not asked again.)
    host.SetMissing("REALYieldToRB");
    YieldData missing;
    missing.Start(1);
    missing.YieldPoint();
    EXPECT_EQ(host.Yields(), 0);
    EXPECT_EQ(missing.lastTime, 1000);
    host.SetMissing("REALYieldToRB", false);
    for (const Case& c : cases) {
        zpxtest::SetTicks(uint32_t(c.clock));
        zpxtest::SetMilliseconds(c.clock);
        const int before = host.Yields();
        YieldData record;
        record.Start(c.interval);
        if (c.lastTime) record.lastTime = *c.lastTime;
        if (c.steps.empty()) record.YieldPoint();
        for (int step : c.steps) {
            if (c.interval < 0) zpxtest::AdvanceMilliseconds(uint64_t(step));
            else zpxtest::AdvanceTicks(uint32_t(step));
            record.YieldPoint();
        }
        EXPECT_EQ(host.Yields() - before, c.yields) << c.name;
    }
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

// While the interval has not passed a yield point reads the clock once and
// nothing more; a hand-over reads it once more, afterwards.
TEST_F(YieldTest, OneClockReadingPerYieldPointAndOneAfterAHandOver) {
    for (int32_t interval : {5, -5}) {
        YieldData record;
        record.Start(interval);
        record.lastTime = interval > 0 ? 1000 : 500000;
        const int readings = zpxtest::ClockReadings();
        for (int i = 0; i < 10; ++i) record.YieldPoint();
        EXPECT_EQ(zpxtest::ClockReadings() - readings, 10) << interval;
    }
    EXPECT_EQ(host.Yields(), 0);
    // A frozen clock far from 0: the blur's first yield point hands over,
    // its other 13 only read.
    REALpicture tall = keep(zpxtest::MakePicture(host, 4, 6, false, zpxtest::TestPattern));
    const int readings = zpxtest::ClockReadings();
    host.Release(BlurZPX(tall, 1.0, 100));
    EXPECT_EQ(host.Yields(), 1);
    EXPECT_EQ(zpxtest::ClockReadings() - readings, 2 * 6 + 2 + 1);
}

// ScaleImageAndMaskZPX of nil returns before it touches the record it shares
// with ScaleZPX, which resets it even for nil.
TEST_F(YieldTest, ScaleImageAndMaskOfNilLeavesTheSharedRecordAlone) {
    yield.interval = 7;
    yield.lastTime = 1234;
    EXPECT_EQ(ScalePictureImageAndMask(nullptr, 3, 3, true, 9), nullptr);
    EXPECT_EQ(yield.interval, 7);
    EXPECT_EQ(yield.lastTime, 1234);
    EXPECT_EQ(ScalePicture(nullptr, 3, 3, false, 9), nullptr);
    EXPECT_EQ(yield.interval, 9);
    EXPECT_EQ(host.Yields(), 1);
}

// With every yield point handing over, the hand-overs count the yield points
// a call passes: none for interval 0, the same for any other.
TEST_F(YieldTest, EachMethodPassesItsYieldPoints) {
    zpxtest::MakeEveryYieldPointHandOver();
    REALpicture grey = keep(zpxtest::MakePicture(host, 3, 2, false, zpxtest::TestPattern));
    REALpicture alpha = keep(zpxtest::MakePicture(host, 2, 2, true, zpxtest::TestPattern));
    REALpicture masked = keep(zpxtest::MakePicture(host, 2, 2, false, zpxtest::TestPattern));
    zpxtest::AttachMask(host, masked, [](int x, int y) { return 90 * x + 9 * y; });
    REALpicture large = keep(zpxtest::MakePicture(host, 9, 6, false, zpxtest::TestPattern));
    REALpicture tall = keep(zpxtest::MakePicture(host, 4, 6, false, zpxtest::TestPattern));
    REALpicture destination = keep(zpxtest::MakePicture(host, 3, 3, false, zpxtest::TestPattern));
    auto drop = [&](REALpicture result) {
        if (result != nullptr) host.Release(result);
    };
    struct Case {
        std::string name;
        std::function<void(int32_t)> call;
        std::vector<std::pair<int32_t, int>> yields;  // interval, yield points passed
    } const cases[] = {
        // The box scaler: once per row and once at the end, even on failure.
        {"ScaleZPX", [&](int32_t i) { drop(ScalePicture(grey, 4, 7, false, i)); }, {{1, 7 + 1}, {0, 0}}},
        {"ScaleZPX of nil", [&](int32_t i) { drop(ScalePicture(nullptr, 4, 7, false, i)); }, {{-5, 1}}},
        // The smooth scaler: three before the rows, then four per row.
        {"ScaleZPX smooth", [&](int32_t i) { drop(ScalePicture(alpha, 3, 5, true, i)); }, {{1, 3 + 4 * 5}, {0, 0}}},
        // The image and its mask count on the same record.
        {"ScaleImageAndMaskZPX smooth with a mask",
         [&](int32_t i) { drop(ScalePictureImageAndMask(masked, 3, 5, true, i)); }, {{1, 2 * (3 + 4 * 5)}}},
        {"ScaleImageAndMaskZPX smooth with alpha",
         [&](int32_t i) { drop(ScalePictureImageAndMask(alpha, 3, 5, true, i)); }, {{1, 2 * (3 + 4 * 5)}}},
        {"ScaleImageAndMaskZPX", [&](int32_t i) { drop(ScalePictureImageAndMask(alpha, 3, 5, false, i)); },
         {{-1, 2 * (5 + 1)}, {0, 0}}},
        // Seven yield points and one per result row.
        {"ScalingZPX", [&](int32_t i) { drop(PictureScalingZPX(large, 3, 4, 5, i)); }, {{-10, 7 + 5}, {0, 0}}},
        // The four before the result, then the last one.
        {"ScalingZPX whose result cannot be created",
         [&](int32_t i) {
             host.FailPictureCreation(1);
             drop(PictureScalingZPX(large, 3, 4, 5, i));
         },
         {{-10, 4 + 1}, {0, 0}}},
        // After the table, each row of both passes, and at the end.
        {"BlurZPX", [&](int32_t i) { drop(BlurZPX(tall, 1.0, i)); }, {{1, 2 * 6 + 2}, {-3, 2 * 6 + 2}, {0, 0}}},
        {"BlurZPX giving the receiver", [&](int32_t i) { drop(BlurZPX(tall, 0.5, i)); }, {{1, 0}}},
        // Before the rows, after each and at the end.
        {"DrawPictureFZPX", [&](int32_t i) { DrawPictureF(destination, masked, 0.5, 0.5, 1.0, i); },
         {{-2, 3 + 2}, {0, 0}}},
    };
    for (const Case& c : cases) {
        for (auto [interval, expected] : c.yields) {
            const int before = host.Yields();
            c.call(interval);
            EXPECT_EQ(host.Yields() - before, expected) << c.name << ", interval " << interval;
        }
    }
}

}  // namespace
