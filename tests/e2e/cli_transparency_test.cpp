// What each command does with a file's transparency: it becomes the input
// picture's mask, the methods that honour masks carry it exactly, the others
// say in one line that their result is opaque, --carry-mask takes it through
// the method, and no file gets an alpha channel that is opaque everywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/ImageFile.h"
#include "tests/e2e/ZpxRunner.h"

#ifdef ZPX_PROGRAM_PATH
namespace zpxcli {
namespace {

using zpxtest::CountLines;
using zpxtest::ZpxRun;

// A 2 x 2 RGBA picture, pixel by pixel.
Image Rgba2x2(std::vector<std::vector<uint8_t>> pixels) {
    Image image = Image::Blank(2, 2, true);
    for (size_t i = 0; i < 4; ++i)
        for (size_t c = 0; c < 4; ++c) image.rgba[i * 4 + c] = pixels[i][c];
    return image;
}

Image Flat(int width, int height, uint8_t level) {
    Image image = Image::Blank(width, height, false);
    for (size_t i = 0; i < image.rgba.size(); i += 4) image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = level;
    return image;
}

class cliTransparency : public zpxtest::ZpxRunner {
protected:
    void SetUp() override {
        ZpxRunner::SetUp();
        // The left column opaque, the right one transparent, under colours of their own.
        SaveImageFile(PathOf("icon.png"), Rgba2x2({{200, 10, 10, 255}, {0, 0, 250, 0}, {200, 10, 10, 255}, {0, 0, 250, 0}}));
        // A soft shadow: black at low opacity, over nothing.
        SaveImageFile(PathOf("shadow.png"), Rgba2x2({{0, 0, 0, 21}, {0, 0, 0, 21}, {0, 0, 0, 21}, {0, 0, 0, 21}}));
        // Alpha that says nothing: 255 everywhere.
        SaveImageFile(PathOf("opaque-rgba.png"), Rgba2x2({{9, 9, 9, 255}, {9, 9, 9, 255}, {9, 9, 9, 255}, {9, 9, 9, 255}}));
        SaveImageFile(PathOf("ground.png"), Flat(2, 2, 100));
    }
};

struct TransparencyCase {
    const char* name;
    std::vector<std::string> arguments;
    bool alpha;                 // the output has an alpha channel
    int channel;                // which channel of the output is checked
    std::vector<int> expected;  // that channel, row by row
    const char* err;            // what the one line on standard error says, or nothing
};

std::vector<int> Channel(const Image& image, int channel) {
    std::vector<int> values;
    for (size_t i = static_cast<size_t>(channel); i < image.rgba.size(); i += 4) values.push_back(image.rgba[i]);
    return values;
}

TEST_F(cliTransparency, EachCommandFollowsItsRule) {
    const TransparencyCase cases[] = {
        {"scale-mask takes the alpha as the mask", {"scale-mask", "icon.png", "o.png", "--size", "4x2"}, true, 3,
         {255, 255, 0, 0, 255, 255, 0, 0}, ""},
        {"scale-mask keeps the colours under transparency", {"scale-mask", "icon.png", "o.png", "--size", "4x2"},
         true, 2, {10, 10, 250, 250, 10, 10, 250, 250}, ""},
        // Drawn over white, the shadow used to come out (234, 234, 234).
        {"scale-mask keeps a faint shadow exact at 2x", {"scale-mask", "shadow.png", "o.png", "--size", "4x4"}, true,
         0, std::vector<int>(16, 0), ""},
        {"the faint shadow's opacity", {"scale-mask", "shadow.png", "o.png", "--size", "4x4"}, true, 3,
         std::vector<int>(16, 21), ""},
        {"--mask replaces the file's transparency",
         {"scale-mask", "icon.png", "o.png", "--size", "2x2", "--mask", "ground.png"}, true, 3,
         {155, 155, 155, 155}, ""},
        {"draw draws through the sprite's transparency", {"draw", "ground.png", "icon.png", "o.png", "--at", "0,0"},
         false, 0, {200, 100, 200, 100}, ""},
        {"scale says its result is opaque", {"scale", "icon.png", "o.png", "--size", "4x2"}, false, 2,
         {10, 10, 250, 250, 10, 10, 250, 250}, "ScaleZPX's result is opaque (scale-mask keeps it)"},
        {"resample says its result is opaque",
         {"resample", "icon.png", "o.png", "--mode", "box", "--size", "4x2"}, false, 2,
         {10, 10, 250, 250, 10, 10, 250, 250}, "--carry-mask keeps it"},
        {"resample --carry-mask", {"resample", "icon.png", "o.png", "--mode", "box", "--size", "4x2", "--carry-mask"},
         true, 3, {255, 255, 0, 0, 255, 255, 0, 0}, ""},
        // Mask levels 0 and 255 averaged over three columns, edges repeated.
        {"blur --carry-mask", {"blur", "icon.png", "o.png", "--radius", "1", "--carry-mask"}, true, 3,
         {170, 85, 170, 85}, ""},
        {"blur says its result is opaque", {"blur", "icon.png", "o.png", "--radius", "1"}, false, 3,
         {255, 255, 255, 255}, "BlurZPX's result is opaque"},
        {"alpha that says nothing is not written", {"scale-mask", "opaque-rgba.png", "o.png", "--size", "2x2"}, false,
         3, {255, 255, 255, 255}, ""},
        {"alpha channels give opaque results, written without alpha",
         {"--alpha-channel", "resample", "icon.png", "o.png", "--mode", "box", "--size", "4x2"}, false, 3,
         std::vector<int>(8, 255), "result is opaque"},
        {"with alpha channels scale-mask still carries it",
         {"--alpha-channel", "scale-mask", "icon.png", "o.png", "--size", "4x2"}, true, 3,
         {255, 255, 0, 0, 255, 255, 0, 0}, ""},
        {"a format without alpha drops it and says so", {"scale-mask", "icon.png", "o.jpg", "--size", "2x2"}, false, 3,
         {255, 255, 255, 255}, "o.jpg holds no transparency"},
    };
    for (const TransparencyCase& c : cases) {
        const ZpxRun run = Zpx(c.arguments);
        ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
        EXPECT_EQ(CountLines(run.err), *c.err ? 1 : 0) << c.name << ": " << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.name << ": " << run.err;
        const std::string out = *std::find_if(c.arguments.begin(), c.arguments.end(),
                                              [](const std::string& word) { return word.rfind("o.", 0) == 0; });
        const Image result = LoadImageFile(PathOf(out));
        EXPECT_EQ(result.hasAlpha, c.alpha) << c.name;
        EXPECT_EQ(Channel(result, c.channel), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace zpxcli
#endif  // ZPX_PROGRAM_PATH
