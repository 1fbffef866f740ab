// Every operation in every layout the host hands out: the same picture gives
// the same pixels as in the default layout, whether it has an alpha channel
// or not, with opaque results and no byte written past a row; and every pixel
// path gives the plain path's pixels while host code repaints the source at
// every hand-over.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "effects/Blur.h"
#include "effects/DrawPictureF.h"
#include "host/Host.h"
#include "plugin/PluginMain.h"
#include "resample/Resampler.h"
#include "scale/Scalers.h"
#include "tests/support/Pictures.h"
#include "tests/support/Plugin.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::AppKind;
using zpxhost::Host;
using zpxhost::RGBA;

struct Operation {
    std::string name;
    int width, height;                                            // of the source
    std::function<REALpicture(Host&, REALpicture, int32_t)> run;  // a new picture from the source, yield
    bool keepsAlpha;  // a source with an alpha channel gives a result with one
};

// Two draws into one destination, the first through a mask.
REALpicture DrawScene(Host& host, REALpicture source, int32_t yield) {
    REALpicture destination =
        zpxtest::MakePicture(host, 12, 10, false, [](int x, int y) { return zpxtest::TestPattern(y, x); });
    zpxtest::AttachMask(host, source, [](int x, int y) { return x * 29 + y * 3; });
    EXPECT_TRUE(DrawPictureF(destination, source, 1.3, -0.6, 0.8, yield));
    host.AttachMask(source, nullptr);
    EXPECT_TRUE(DrawPictureF(destination, source, -2.25, 3.5, 1.2, yield));
    return destination;
}

std::vector<Operation> Operations() {
    std::vector<Operation> operations = {
        {"ScaleZPX reducing", 37, 23, [](Host&, REALpicture p, int32_t y) { return ScalePicture(p, 11, 9, false, y); },
         true},
        {"ScaleZPX enlarging", 37, 23,
         [](Host&, REALpicture p, int32_t y) { return ScalePicture(p, 80, 50, false, y); }, true},
        {"ScaleZPX smooth", 11, 7, [](Host&, REALpicture p, int32_t y) { return ScalePicture(p, 30, 19, true, y); },
         true},
        {"DrawPictureFZPX", 9, 7, DrawScene, false},
    };
    for (int mode = 1; mode <= 7; ++mode) {
        for (std::pair<int, int> size : {std::pair{13, 7}, std::pair{50, 41}}) {
            const int width = size.first, height = size.second;  // C++17 lambdas capture no structured bindings
            operations.push_back(
                {"ScalingZPX mode " + std::to_string(mode) + " to " + std::to_string(width), 31, 19,
                 [=](Host&, REALpicture p, int32_t y) { return PictureScalingZPX(p, mode, width, height, y); }, true});
        }
    }
    for (double radius : {1.0, 3.0, 30.0, 200.0}) {
        operations.push_back({"BlurZPX radius " + std::to_string(radius), 23, 17,
                              [=](Host&, REALpicture p, int32_t y) { return BlurZPX(p, radius, y); }, false});
    }
    return operations;
}

// The pixels of the operation's result, after checking what every layout must give.
std::vector<RGBA> PixelsOf(Host& host, const Operation& operation, bool alpha) {
    REALpicture source = zpxtest::MakePicture(host, operation.width, operation.height, alpha, zpxtest::TestPattern);
    REALpicture result = operation.run(host, source, 0);
    if (result == nullptr) {
        ADD_FAILURE() << operation.name << ": no result";
        host.Release(source);
        return {};
    }
    const std::vector<RGBA> pixels = zpxtest::StoredPixels(host, result);
    EXPECT_TRUE(host.PaddingIntact(result)) << operation.name;
    EXPECT_EQ(host.HasAlpha(result), alpha && operation.keepsAlpha) << operation.name;
    if (host.Config().app != AppKind::Desktop) {
        const std::vector<uint32_t> words = zpxtest::RawWords(host, result);
        EXPECT_EQ(std::count_if(words.begin(), words.end(), [](uint32_t word) { return word >> 24 != 0; }), 0)
            << operation.name << ": words with a fourth byte";
    }
    EXPECT_EQ(host.AuditProblems({source, result}), "") << operation.name;
    host.Release(source);
    host.Release(result);
    return pixels;
}

class Layouts : public ::testing::TestWithParam<zpxtest::HostSetup> {};

TEST_P(Layouts, EveryOperationGivesTheDefaultLayoutsPixels) {
    const std::vector<Operation> operations = Operations();
    std::vector<std::vector<RGBA>> reference;
    {
        Host host;
        host.LoadEntry(REALPluginMain);
        for (const Operation& operation : operations) reference.push_back(PixelsOf(host, operation, false));
    }
    Host host(GetParam().config);
    host.LoadEntry(REALPluginMain);
    for (size_t i = 0; i < operations.size(); ++i) {
        for (bool alpha : {false, true}) {
            EXPECT_EQ(PixelsOf(host, operations[i], alpha), reference[i])
                << operations[i].name << (alpha ? " from an alpha source" : "");
        }
    }
}

// The box scaler and the resampler drop transparency, and a blur is plain:
// every result pixel is opaque.
TEST_P(Layouts, TranslucentSourcesGiveOpaqueResults) {
    Host host(GetParam().config);
    host.LoadEntry(REALPluginMain);
    REALpicture source = zpxtest::MakePicture(host, 4, 4, true, [](int x, int y) {
        return RGBA{200, 100, 50, static_cast<uint8_t>(x * 60 + y)};
    });
    for (REALpicture result :
         {ScalePicture(source, 2, 1, false, 0), PictureScalingZPX(source, 2, 5, 3, 0), BlurZPX(source, 1.0, 0)}) {
        ASSERT_NE(result, nullptr);
        for (const RGBA& pixel : zpxtest::StoredPixels(host, result)) EXPECT_EQ(pixel.a, 255);
        host.Release(result);
    }
    EXPECT_EQ(host.AuditProblems({source}), "");
    host.Release(source);
}

// Host code that draws into the source at every hand-over, a different pixel
// each time: every path reads the source in the order the plain path does.
TEST_P(Layouts, EveryPathGivesThePlainPixelsWhileHostCodeRepaintsTheSource) {
    Host host(GetParam().config);
    host.LoadEntry(REALPluginMain);
    zpxtest::MakeEveryYieldPointHandOver();
    for (const Operation& operation : Operations()) {
        zpxtest::ExpectEveryPathGivesPlain(operation.name, [&] {
            REALpicture source = zpxtest::RandomWords(host, operation.width, operation.height, false, 17);
            uint32_t handOvers = 0;
            host.SetYieldHook([&] {
                ++handOvers;
                host.SetRawWord(source, int(handOvers * 7 % uint32_t(operation.width)),
                                int(handOvers * 3 % uint32_t(operation.height)), 0x9E3779B9u * handOvers);
            });
            REALpicture result = operation.run(host, source, 1);
            host.SetYieldHook(nullptr);
            EXPECT_GT(handOvers, 0u) << operation.name;
            host.Release(source);
            return zpxtest::TakeWords(host, result);
        });
    }
}

INSTANTIATE_TEST_SUITE_P(Every, Layouts, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
