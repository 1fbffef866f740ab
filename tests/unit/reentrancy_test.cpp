// Re-entrancy: host code that runs while an operation hands over control
// calls the library again, on the picture the operation reads and on other
// pictures, with every method inside every method (ScaleZPX inside
// ScaleImageAndMaskZPX included, which share the global yield record). The
// interrupted operation completes with the pixels of an undisturbed call, its
// views hold their description locks at every hand-over exactly as when
// undisturbed, each inner call gives its own undisturbed result and takes
// back every lock it took, and nothing is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "effects/Blur.h"
#include "effects/DrawPictureF.h"
#include "resample/Resampler.h"
#include "scale/Scalers.h"
#include "tests/support/Plugin.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;

struct OpRow {
    const char* name;
    // A new picture made from the target, or nothing after drawing the target into the destination.
    std::function<REALpicture(REALpicture target, REALpicture destination, int32_t yield)> run;
    // Hand-overs after the operation (or one of its scalers) released its
    // views: the final yield of the box scaler and of ScalingZPX.
    int unlockedYields;
    bool sharesTheGlobalRecord;  // the two scalers yield on one record
};

const OpRow kOps[] = {
    {"DrawPictureF",
     [](REALpicture target, REALpicture destination, int32_t yield) {
         EXPECT_TRUE(DrawPictureF(destination, target, 0.5, 0.25, 0.9, yield));
         return REALpicture{nullptr};
     },
     0, false},
    {"ScaleZPX", [](REALpicture t, REALpicture, int32_t y) { return ScalePicture(t, 3, 7, false, y); }, 1, true},
    {"ScaleZPXSmooth", [](REALpicture t, REALpicture, int32_t y) { return ScalePicture(t, 9, 6, true, y); }, 0, true},
    {"ScaleImageAndMaskZPX",  // image, then mask
     [](REALpicture t, REALpicture, int32_t y) { return ScalePictureImageAndMask(t, 3, 7, false, y); }, 2, true},
    {"ScaleImageAndMaskZPXSmooth",
     [](REALpicture t, REALpicture, int32_t y) { return ScalePictureImageAndMask(t, 9, 6, true, y); }, 0, true},
    {"ScalingZPX", [](REALpicture t, REALpicture, int32_t y) { return PictureScalingZPX(t, 3, 6, 3, y); }, 1, false},
    {"BlurZPX", [](REALpicture t, REALpicture, int32_t y) { return BlurZPX(t, 1.0, y); }, 0, false},
};
const OpRow& kDraw = kOps[0];
const OpRow& kScaleZPX = kOps[1];

// What a call gave: the result's pixels and its mask's, or DrawPictureF's
// destination after the call.
struct Outcome {
    std::vector<RGBA> pixels;
    std::vector<RGBA> mask;
    bool operator==(const Outcome& o) const { return pixels == o.pixels && mask == o.mask; }
};

// One reference the test holds, given back also when host code throws.
struct Held {
    Host& host;
    REALpicture picture;
    ~Held() {
        if (picture != nullptr) host.Release(picture);
    }
};

// Runs op on target (reading it) with the given yield interval. DrawPictureF
// draws target into a new picture of its own.
Outcome Call(Host& host, const OpRow& op, REALpicture target, int32_t yield) {
    Held destination{host,
                     zpxtest::MakePicture(host, 6, 5, false, [](int x, int y) { return zpxtest::TestPattern(y, x); })};
    Held created{host, op.run(target, destination.picture, yield)};
    const REALpicture result = &op == &kDraw ? destination.picture : created.picture;
    Outcome outcome;
    if (result == nullptr) return outcome;
    outcome.pixels = zpxtest::StoredPixels(host, result);
    if (REALpicture mask = host.MaskOf(result)) outcome.mask = zpxtest::StoredPixels(host, mask);
    return outcome;
}

REALpicture MaskedPicture(Host& host, int width, int height, int shift) {
    REALpicture picture = zpxtest::MakePicture(host, width, height, false,
                                               [shift](int x, int y) { return zpxtest::TestPattern(x + shift, y); });
    zpxtest::AttachMask(host, picture, [](int x, int y) { return (x * 89 + y * 53) % 256; });
    return picture;
}

constexpr int32_t kYield = 1;

// The hook of a re-entrant run: at each hand-over of the interrupted call it
// notes the description locks held, calls `inner`, and checks that the inner
// call took back every lock it took. With more than one level, the calls made
// there are interrupted in turn, each at its first hand-over only.
struct Reentry {
    Reentry(Host& h, std::function<void()> call, int levels = 1)
        : host(h), inner(std::move(call)), handOvers(size_t(levels), 0) {}

    Host& host;
    std::function<void()> inner;
    std::vector<int> handOvers;  // of the call running at each level
    int level = 0;
    std::vector<int> locksAtHandOver;
    int innerCalls = 0;

    void Install() {
        host.SetYieldHook([this] {
            if (level >= int(handOvers.size())) return;
            if (level > 0 && handOvers[size_t(level)] > 0) return;
            ++handOvers[size_t(level)];
            const int held = host.HeldLocks();
            if (level == 0) locksAtHandOver.push_back(held);
            ++level;
            if (level < int(handOvers.size())) handOvers[size_t(level)] = 0;
            inner();
            --level;
            ++innerCalls;
            EXPECT_EQ(host.HeldLocks(), held) << "an inner call kept a lock";
        });
    }
};

class Reentrancy : public zpxtest::PluginLayoutTest {
protected:
    void SetUp() override {
        zpxtest::MakeEveryYieldPointHandOver();
        zpxtest::PluginLayoutTest::SetUp();
        source = MaskedPicture(host, 5, 4, 0);
        other = MaskedPicture(host, 4, 3, 9);
    }
    void TearDown() override {
        zpxtest::PluginLayoutTest::TearDown();
        host.SetYieldHook(nullptr);
        EXPECT_EQ(host.AuditProblems({source, other}), "");
        host.Release(source);
        host.Release(other);
    }
    // Undisturbed: the outcome and the locks held at each hand-over.
    std::pair<Outcome, std::vector<int>> Undisturbed(const OpRow& op) {
        Reentry quiet{host, [] {}};
        quiet.Install();
        Outcome outcome = Call(host, op, source, kYield);
        host.SetYieldHook(nullptr);
        return {outcome, quiet.locksAtHandOver};
    }
    REALpicture source = nullptr;
    REALpicture other = nullptr;
};

TEST_P(Reentrancy, EveryMethodInsideEveryMethodOnTheSameAndAnotherPicture) {
    for (const OpRow& outer : kOps) {
        const auto [expected, expectedLocks] = Undisturbed(outer);
        ASSERT_FALSE(expected.pixels.empty()) << outer.name;
        // The views stay locked at every hand-over but those after a scaler's end.
        EXPECT_EQ(std::count(expectedLocks.begin(), expectedLocks.end(), 0), outer.unlockedYields) << outer.name;
        for (const OpRow& inner : kOps) {
            for (REALpicture target : {source, other}) {
                const std::string what = std::string(inner.name) + " on " +
                                         (target == source ? "the same" : "another") + " picture inside " + outer.name;
                const Outcome innerExpected = Call(host, inner, target, 0);
                int innerMismatches = 0;
                Reentry reentry{host, [&] {
                                    if (!(Call(host, inner, target, kYield) == innerExpected)) ++innerMismatches;
                                }};
                reentry.Install();
                const Outcome got = Call(host, outer, source, kYield);
                host.SetYieldHook(nullptr);
                EXPECT_TRUE(got == expected) << what << ": the interrupted call's pixels changed";
                EXPECT_EQ(reentry.locksAtHandOver, expectedLocks) << what;
                EXPECT_EQ(reentry.innerCalls, int(expectedLocks.size())) << what;
                EXPECT_EQ(innerMismatches, 0) << what;
                EXPECT_EQ(host.AuditProblems({source, other}), "") << what;
            }
        }
    }
}

// Calls three deep, each on the same picture: every level completes with its
// own undisturbed result.
TEST_P(Reentrancy, ThreeLevelsDeepOnTheSamePicture) {
    for (const OpRow& row : kOps) {
        const Outcome expected = Call(host, row, source, 0);
        int mismatches = 0;
        Reentry reentry{host,
                        [&] {
                            if (!(Call(host, row, source, kYield) == expected)) ++mismatches;
                        },
                        3};
        reentry.Install();
        EXPECT_TRUE(Call(host, row, source, kYield) == expected) << row.name;
        host.SetYieldHook(nullptr);
        EXPECT_EQ(mismatches, 0) << row.name;
        EXPECT_EQ(host.AuditProblems({source, other}), "") << row.name;
    }
}

// Host code that throws inside a call made during a hand-over: the exception
// leaves the inner call and then the interrupted one, and both give back
// everything they took.
TEST_P(Reentrancy, AnExceptionInsideAReenteredCallUnwindsBoth) {
    struct HostCodeFailure {};
    for (const OpRow& outer : kOps) {
        for (const OpRow& inner : kOps) {
            int handOvers = 0;
            host.SetYieldHook([&] {
                // The outer call's first hand-over starts the inner call; its
                // first hand-over throws.
                if (++handOvers == 1) {
                    Call(host, inner, source, kYield);
                } else if (handOvers == 2) {
                    throw HostCodeFailure();
                }
            });
            EXPECT_THROW(Call(host, outer, source, kYield), HostCodeFailure) << inner.name << " in " << outer.name;
            host.SetYieldHook(nullptr);
            EXPECT_EQ(host.AuditProblems({source, other}), "") << inner.name << " in " << outer.name;
        }
    }
}

// ScaleZPX and ScaleImageAndMaskZPX share one yield record: a call started in
// a hand-over sets it anew, and the interrupted call goes on with that
// interval (here 0: it hands over no more). Operations with a record of their
// own keep their interval. The pixels are the same either way.
TEST_P(Reentrancy, TheSharedYieldRecordTakesTheInnerInterval) {
    for (const OpRow& outer : kOps) {
        const auto [expected, expectedLocks] = Undisturbed(outer);
        const int before = host.Yields();
        Reentry reentry{host, [&] { Call(host, kScaleZPX, other, 0); }};
        reentry.Install();
        EXPECT_TRUE(Call(host, outer, source, kYield) == expected) << outer.name;
        host.SetYieldHook(nullptr);
        EXPECT_EQ(host.Yields() - before, outer.sharesTheGlobalRecord ? 1 : int(expectedLocks.size())) << outer.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, Reentrancy, ::testing::ValuesIn(zpxtest::DesktopAndConsole()), zpxtest::SetupName);

}  // namespace
