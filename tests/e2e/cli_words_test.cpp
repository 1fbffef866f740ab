// How zpx reads what people type: the forms of --size, and the near misses
// it suggests instead of an unknown word.
#include <gtest/gtest.h>

#include "cli/Commands.h"
#include "cli/Errors.h"
#include "cli/Mistakes.h"

namespace zpxcli {
namespace {

TEST(cliSizes, EveryFormGivesTheSizeItSays) {
    struct Case {
        const char* text;
        int inputWidth, inputHeight;
        int width, height;
    } const cases[] = {
        {"320x240", 640, 480, 320, 240},
        {"320X240", 640, 480, 320, 240},  // exact, either x
        {"320x", 640, 480, 320, 240},
        {"x100", 640, 480, 133, 100},  // 133.33 rounds down
        {"x90", 640, 480, 120, 90},
        {"3x", 2, 1, 3, 2},  // 1.5 rounds up
        {"1x", 1000, 10, 1, 1},
        {"x1", 10, 1000, 1, 1},  // never below one pixel
        {"50%", 640, 480, 320, 240},
        {"12.5%", 640, 480, 80, 60},
        {"150%", 3, 3, 5, 5},
        {"0.01%", 640, 480, 1, 1},
        {"32767x", 32767, 1, 32767, 1},
        {"100%", 32767, 4096, 32767, 4096},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PictureSizeValidator()(std::string(c.text)), "") << c.text;
        PictureSize size = ResolvePictureSize(c.text, {c.inputWidth, c.inputHeight});
        EXPECT_EQ(size.width, c.width) << c.text << " of " << c.inputWidth << " x " << c.inputHeight;
        EXPECT_EQ(size.height, c.height) << c.text << " of " << c.inputWidth << " x " << c.inputHeight;
    }
}

TEST(cliSizes, FormsThatSayNothingUsableAreRefused) {
    for (const char* text : {"",    "x",   "%",   "320", "320x240x", "0x10",    "10x0",     "x0",   "0%",    "-5%",
                             "+5%", "5 %", "5%%", "abc", "32768x1",  "1x32768", "3276701%", "1e3%", "0x10%", " 10x10"})
        EXPECT_NE(PictureSizeValidator()(std::string(text)), "") << "'" << text << "'";
    // Forms that are right in themselves but give a side beyond the limit.
    for (const char* text : {"32767x", "200%"}) {
        try {
            ResolvePictureSize(text, {20000, 30000});
            ADD_FAILURE() << text;
        } catch (const CliError& error) {
            EXPECT_EQ(error.status(), kExitUnusable);
            EXPECT_NE(std::string(error.what()).find("each side must be 1 to 32767"), std::string::npos)
                << error.what();
        }
    }
}

TEST(cliMistakes, NearestNameSuggestsCloseSpellingsAndUniqueStarts) {
    const std::vector<std::string> commands{"info", "scale", "scale-mask", "resample", "blur", "draw", "demo"};
    const std::vector<std::string> options{"--help", "--size", "--antialias", "--yield", "--repeat"};
    struct Case {
        const char* typed;
        const std::vector<std::string>& among;
        const char* nearest;
    } const cases[] = {
        {"scal", commands, "scale"},   {"scalemask", commands, "scale-mask"},
        {"blurr", commands, "blur"},   {"resampel", commands, "resample"},
        {"sharpen", commands, ""},     {"x", commands, ""},
        {"--sise", options, "--size"}, {"--antialais", options, "--antialias"},
        {"-s", options, "--size"},     {"--anti", options, "--antialias"},
        {"-r", options, "--repeat"},   {"--SIZE", options, "--size"},
        {"--colour", options, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(NearestName(c.typed, c.among), c.nearest) << c.typed;
}

}  // namespace
}  // namespace zpxcli
