// DrawPictureFZPX: the exact arithmetic of the four neighbours, masks, nil
// pictures, unopenable views, drawing a picture into itself, and the vector
// twins against the plain loop in every layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/DrawPictureF.h"
#include "tests/support/Plugin.h"

namespace {

using zpxhost::Host;
using zpxhost::RGBA;
using zpxtest::Grey;
using zpxtest::MakeGrey;
using zpxtest::RawWords;
using zpxtest::RedRows;
using Rows = std::vector<std::vector<int>>;

class Draw : public zpxtest::PluginTest {};

TEST_F(Draw, ExactExamples) {
    struct Case {
        const char* name;
        Rows source, mask, destination;  // mask: none when empty
        double x, y, alpha;
        Rows expected;
    } const cases[] = {
        {"half a pixel right splits the weight", {{255}}, {}, {{0, 0}}, 0.5, 0, 1.0, {{127, 127}}},
        // 100 / 2 + 201 / 2, then 201 / 2 + 7 / 2, each product truncated.
        {"half a pixel left", {{100, 201, 7}}, {}, {{9, 9}}, -0.5, 0, 1.0, {{150, 103}}},
        // 2 * 200 clamps to 255; at 1.5 the remainder is negative and the destination adds nothing.
        {"strength 2", {{200, 100}}, {}, {{50, 50}}, 0, 0, 2.0, {{255, 200}}},
        {"strength 1.5", {{200, 100}}, {}, {{50, 50}}, 0, 0, 1.5, {{255, 150}}},
        // -200 + 2 * 50 clamps to 0; -50 + 1.5 * 200 = 250.
        {"strength -1", {{200, 100}}, {}, {{50, 200}}, 0, 0, -1.0, {{0, 255}}},
        {"strength -0.5", {{200, 100}}, {}, {{50, 200}}, 0, 0, -0.5, {{0, 250}}},
        // White shows the destination, black draws at full weight, 128 keeps 127/255.
        {"mask", {{200, 200, 200}}, {{255, 0, 128}}, {{30, 30, 30}}, 0, 0, 1.0, {{30, 200, 99 + 15}}},
        {"outside a small mask is unmasked", {{200, 200, 200}, {200, 200, 200}}, {{255}}, {{40, 40, 40}, {40, 40, 40}},
         0, 0, 1.0, {{40, 200, 200}, {200, 200, 200}}},
    };
    for (const Case& c : cases) {
        REALpicture source = MakeGrey(host, c.source);
        if (!c.mask.empty()) {
            REALpicture mask = MakeGrey(host, c.mask);
            host.AttachMask(source, mask);
            host.Release(mask);
        }
        REALpicture destination = MakeGrey(host, c.destination);
        EXPECT_TRUE(DrawPictureF(destination, source, c.x, c.y, c.alpha, 0)) << c.name;
        EXPECT_EQ(RedRows(host, destination), c.expected) << c.name;
        EXPECT_EQ(host.AuditProblems({source, destination}), "") << c.name;
        host.Release(source);
        host.Release(destination);
    }
}

TEST_F(Draw, WholeNumberPositionsCopyWithoutReadingTheDestination) {
    REALpicture source = keep(zpxtest::MakePicture(host, 4, 3, false, zpxtest::TestPattern));
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
}

TEST_F(Draw, AlphaZeroKeepsEveryColourAndRewritesOnlyTheFourthByte) {
    REALpicture source = keep(zpxtest::MakePicture(host, 3, 3, false, zpxtest::TestPattern));
    REALpicture destination = keep(host.NewPicture(4, 2, false));
    for (uint32_t i = 0; i < 8; ++i) host.SetRawWord(destination, i % 4, i / 4, 0x03050700u * i + 0x5A);
    ASSERT_TRUE(DrawPictureF(destination, source, 0.5, 0.5, 0.0, 0));
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(host.RawWord(destination, i % 4, i / 4), 0x03050700u * i + 0xFF);
}

TEST_F(Draw, NilPicturesRaiseWithTheirOwnMessages) {
    REALpicture picture = keep(MakeGrey(host, {{1}}));
    EXPECT_FALSE(DrawPictureF(nullptr, nullptr, 0, 0, 1.0, 0));
    EXPECT_FALSE(DrawPictureF(nullptr, picture, 0, 0, 1.0, 0));
    EXPECT_EQ(host.Asks("REALGetPictureMask"), 0);
    EXPECT_FALSE(DrawPictureF(picture, nullptr, 0, 0, 1.0, 0));
    ASSERT_EQ(host.Raised().size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(host.Raised()[i].className, "NilObjectException");
    EXPECT_EQ(host.Raised()[0].message, std::optional<std::string>("source is nil"));
    EXPECT_EQ(host.Raised()[1].message, std::optional<std::string>("source is nil"));
    EXPECT_EQ(host.Raised()[2].message, std::optional<std::string>("picture is nil"));
}

TEST_F(Draw, AViewThatCannotBeOpenedLeavesTheDestinationUntouched) {
    zpxtest::LoadedHost loaded(zpxtest::HostOf(zpxhost::AppKind::Console));  // no private copy stands in for a source
    Host& console = loaded.host;
    REALpicture source = loaded.keep(zpxtest::MakePicture(console, 3, 2, false, zpxtest::TestPattern));
    zpxtest::AttachMask(console, source, [](int, int) { return 0; });
    REALpicture mask = console.MaskOf(source);
    REALpicture destination = loaded.keep(MakeGrey(console, {{5, 6}, {7, 8}}));
    const std::vector<uint32_t> before = RawWords(console, destination);
    for (REALpicture refused : {mask, destination, source}) {
        console.RefuseLock(refused, REALdescriptionConsoleBuffer);
        EXPECT_FALSE(DrawPictureF(destination, source, 0.5, 0.5, 1.0, 0));
        console.RefuseLock(refused, REALdescriptionConsoleBuffer, false);
        EXPECT_EQ(RawWords(console, destination), before);
        EXPECT_EQ(console.AuditProblems({source, destination}), "");
    }
    EXPECT_TRUE(console.Raised().empty());
}

// The views open mask, destination, source and close the other way round;
// the host hears that the destination and the mask changed, never the
// source; the mask reference goes last. A source that cannot be opened
// closes what was opened the same way.
TEST_F(Draw, OpensAndReleasesItsViewsInOrder) {
    REALpicture source = keep(zpxtest::MakePicture(host, 3, 2, true, zpxtest::TestPattern));
    REALpicture masked = keep(zpxtest::MakePicture(host, 3, 2, false, zpxtest::TestPattern));
    zpxtest::AttachMask(host, masked, [](int x, int) { return 80 * x; });
    REALpicture destination = keep(MakeGrey(host, {{1, 2}, {3, 4}}));
    const std::vector<std::string> openMask = {"lock M", "take M"};
    const std::vector<std::string> openDestination = {"lock D", "take D"};
    const std::vector<std::string> openSource = {"lock S", "take S"};
    const std::vector<std::string> closeSource = {"unlock S", "drop S"};
    const std::vector<std::string> closeDestination = {"unlock D", "clear D", "drop D"};
    const std::vector<std::string> closeMask = {"unlock M", "clear M", "drop M", "drop M"};
    auto join = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    struct Case {
        const char* name;
        REALpicture pic;
        bool refuseSource;
        std::vector<std::string> entries;
    } const cases[] = {
        {"unmasked", source, false, join({openDestination, openSource, closeSource, closeDestination})},
        {"masked", masked, false,
         join({openMask, openDestination, openSource, closeSource, closeDestination, closeMask})},
        // An alpha source that does not lock gets no private copy.
        {"source refused", source, true, join({openDestination, {"lock S"}, closeDestination})},
    };
    for (const Case& c : cases) {
        host.RefuseLock(c.pic, REALdescriptionBitmapContext, c.refuseSource);
        const REALpicture mask = host.MaskOf(c.pic);
        host.KeepJournal();
        EXPECT_EQ(DrawPictureF(destination, c.pic, 0.5, 0.5, 1.0, 0), !c.refuseSource) << c.name;
        EXPECT_EQ(zpxtest::JournalOf(host, {{destination, "D"}, {mask, "M"}, {c.pic, "S"}}), c.entries) << c.name;
        host.KeepJournal(false);
        host.RefuseLock(c.pic, REALdescriptionBitmapContext, false);
    }
}

TEST_F(Draw, DrawingAPictureIntoItselfGivesWhatDrawingACopyGives) {
    auto make = [&] { return keep(zpxtest::MakePicture(host, 7, 5, false, zpxtest::TestPattern)); };
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
}

// Every lane run leaves the plain loop's words, in every layout: sources
// around the vector widths placed inside, across every edge and far outside,
// strengths that leave weight to the destination or take it away, just
// below and above the remaining weight the destination starts to show at
// (1/255), zero, negative and the strongest either way whose products fit, and a
// picture drawn into itself.
class DrawPaths : public zpxtest::PluginLayoutTest {};

TEST_P(DrawPaths, EveryPathGivesThePlainWords) {
    struct Case {
        int sourceWidth, sourceHeight, width, height;
        double x, y, alpha;
    };
    const Case cases[] = {
        {1, 1, 5, 4, 0.37, 0.61, 1.0},         {2, 3, 9, 6, 1.5, 0.25, 0.5},          {9, 4, 12, 7, 0.37, 0.61, 1.0},
        {17, 5, 17, 5, 0.37, 0.61, 1.0},       {17, 5, 17, 5, -0.5, -0.25, 0.8},      {33, 6, 40, 9, 3.1, 1.9, 0.996},
        {33, 6, 40, 9, 3.1, 1.9, 0.999},       {40, 7, 33, 8, -5.7, 2.2, 2.5},        {40, 7, 33, 8, 2.0, 1.0, 1.0},
        {26, 8, 30, 9, 0.75, 0.5, -0.75},      {26, 8, 30, 9, 0.75, 0.5, 0.0},        {26, 8, 30, 9, 0.2, 0.9, 8421504.0},
        {26, 8, 30, 9, 0.2, 0.9, -8421503.0},  {26, 8, 30, 9, 1.0, 2.0, -8421503.0},
        {16, 4, 20, 6, 25.5, 1.5, 1.0},        {16, 4, 20, 6, -16.5, 0.5, 1.0},       {16, 4, 20, 6, 2.5, -5.5, 1.0},
        {16, 4, 20, 6, 2.0e9 + 0.5, 0.5, 1.0}, {16, 4, 20, 6, -2.0e9 - 0.5, 0.5, 1.0}};
    uint32_t seed = 11;
    for (const Case& c : cases) {
        for (bool alpha : {false, true}) {
            seed += 2;
            REALpicture source = zpxtest::RandomWords(host, c.sourceWidth, c.sourceHeight, alpha, seed);
            zpxtest::ExpectEveryPathGivesPlain(
                std::to_string(c.sourceWidth) + " at " + std::to_string(c.x) + ", " + std::to_string(c.y) +
                    ", alpha " + std::to_string(c.alpha) + (alpha ? ", alpha source" : ""),
                [&] {
                    REALpicture destination = zpxtest::RandomWords(host, c.width, c.height, false, seed + 1);
                    REALpicture self = zpxtest::RandomWords(host, c.sourceWidth, c.sourceHeight, alpha, seed);
                    EXPECT_TRUE(DrawPictureF(destination, source, c.x, c.y, c.alpha, 0));
                    EXPECT_TRUE(DrawPictureF(self, self, c.x - 1.0, c.y, c.alpha, 0));
                    std::vector<uint32_t> words = zpxtest::TakeWords(host, destination);
                    const std::vector<uint32_t> selfWords = zpxtest::TakeWords(host, self);
                    words.insert(words.end(), selfWords.begin(), selfWords.end());
                    return words;
                });
            host.Release(source);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, DrawPaths, ::testing::ValuesIn(zpxtest::EveryLayout()), zpxtest::SetupName);

}  // namespace
