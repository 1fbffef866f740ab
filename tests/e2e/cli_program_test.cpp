// The zpx program as a person runs it: the built binary on files in a
// temporary directory, judged by exit status, standard error and the files
// it leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/Demo.h"
#include "cli/ImageFile.h"
#include "tests/e2e/ZpxRunner.h"

#ifdef ZPX_PROGRAM_PATH
namespace zpxcli {
namespace {

using zpxtest::CountLines;
using zpxtest::ReadText;
using zpxtest::ZpxRun;

class ZpxProgram : public zpxtest::ZpxRunner {
protected:
    void SetUp() override {
        ZpxRunner::SetUp();
        WriteInputs();
    }
    void WriteInputs() const;
};

// Suite names start with "cli" so that `ctest -R cli` picks them out.
using cliProgram = ZpxProgram;

// Square blocks of one colour each, 2 x 2 so that halving by box averaging
// is exact, or 1 x 1 for what halving gives.
Image Blocks(int blocksAcross, int blocksDown, int side = 2) {
    Image image = Image::Blank(blocksAcross * side, blocksDown * side, false);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            uint8_t* pixel = image.PixelAt(x, y);
            pixel[0] = static_cast<uint8_t>(40 * (x / side) + 10);
            pixel[1] = static_cast<uint8_t>(60 * (y / side) + 20);
            pixel[2] = static_cast<uint8_t>(200 - 30 * (x / side) - 20 * (y / side));
        }
    }
    return image;
}

Image Greys(int width, int height, std::initializer_list<uint8_t> levels) {
    Image image = Image::Blank(width, height, false);
    image.isGrey = true;
    size_t i = 0;
    for (uint8_t level : levels) {
        image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = level;
        i += 4;
    }
    return image;
}

// One channel of every pixel, row by row.
std::vector<int> Channel(const Image& image, int channel) {
    std::vector<int> values;
    for (size_t i = static_cast<size_t>(channel); i < image.rgba.size(); i += 4) values.push_back(image.rgba[i]);
    return values;
}

// The input files every test may use.
void ZpxProgram::WriteInputs() const {
    SaveImageFile(PathOf("in.png"), Blocks(4, 3));
    SaveImageFile(PathOf("in.ppm"), Blocks(4, 3));
    SaveImageFile(PathOf("good.png"), Blocks(2, 2));
    std::ofstream(PathOf("text.png")) << "this is not a picture\n";
    SaveImageFile(PathOf("small.pgm"), Greys(2, 1, {0, 255}));
    Image withAlpha = Blocks(2, 2);
    withAlpha.hasAlpha = true;
    SaveImageFile(PathOf("alpha.png"), withAlpha);
    SaveImageFile(PathOf("edge.png"), Greys(2, 2, {0, 255, 0, 255}));
    SaveImageFile(PathOf("reds.png"), Greys(3, 1, {0, 0, 255}));
    SaveImageFile(PathOf("ground.png"), Greys(4, 3, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}));
    SaveImageFile(PathOf("sprite.png"), Greys(2, 2, {10, 20, 30, 40}));
    SaveImageFile(PathOf("black.png"), Greys(2, 1, {0, 0}));
    SaveImageFile(PathOf("red2.png"), Greys(2, 1, {255, 255}));
    SaveImageFile(PathOf("half.pgm"), Greys(2, 1, {0, 255}));
    SaveImageFile(PathOf("grey.png"), Greys(2, 2, {100, 100, 100, 100}));
    SaveImageFile(PathOf("mask.pgm"), Greys(2, 2, {0, 255, 0, 255}));
    Image translucent = Greys(2, 2, {100, 100, 100, 100});
    translucent.hasAlpha = true;
    translucent.rgba[7] = translucent.rgba[15] = 0;  // right column transparent
    SaveImageFile(PathOf("translucent.png"), translucent);
    std::filesystem::create_symlink("good.png", PathOf("good-link.png"));
    std::ofstream(PathOf("escape.pam")) << "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n\x1B]0;gotcha\x07 1\nENDHDR\n\x01";
}

TEST_F(cliProgram, ScalesPngAndPpmFiles) {
    for (const char* input : {"in.png", "in.ppm"}) {
        for (const char* output : {"out.png", "out.ppm", "out.pam"}) {
            ZpxRun run = Zpx({"scale", input, output, "--size", "4x3"});
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(LoadImageFile(PathOf(output)).rgba, Blocks(4, 3, 1).rgba) << input << " to " << output;
        }
    }
}

// Whatever storage the host gives pictures, the same file comes out. (Each
// storage is the library's tests' business; these see the options reach the host.)
class cliHostVariants : public ZpxProgram, public testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(cliHostVariants, GiveTheSameResult) {
    std::vector<std::string> arguments = GetParam();
    for (const char* word : {"scale", "in.png", "out.png", "--size", "4x3"}) arguments.push_back(word);
    ZpxRun run = Zpx(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(LoadImageFile(PathOf("out.png")).rgba, Blocks(4, 3, 1).rgba);
}

INSTANTIATE_TEST_SUITE_P(
    Options, cliHostVariants,
    testing::Values(std::vector<std::string>{"--alpha", "--layout", "1"},
                    std::vector<std::string>{"--app", "web", "--alpha"},
                    std::vector<std::string>{"--host-version", "none"}));

struct BadRun {
    const char* name;
    std::vector<std::string> arguments;
};

void PrintTo(const BadRun& run, std::ostream* out) { *out << run.name; }

class cliRefuses : public ZpxProgram, public testing::WithParamInterface<BadRun> {};

TEST_P(cliRefuses, WithOneLineAndNoOutput) {
    const auto before = Snapshot();

    ZpxRun run = Zpx(GetParam().arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    EXPECT_EQ(run.err.rfind("zpx: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count_if(run.err.begin(), run.err.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }), 1)
        << "control bytes on the terminal: " << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, cliRefuses,
    testing::Values(BadRun{"MissingFile", {"scale", "absent.png", "out.png", "--size", "4x4"}},
                    BadRun{"NotAnImage", {"scale", "text.png", "out.png", "--size", "4x4"}},
                    BadRun{"ZeroWidth", {"scale", "good.png", "out.png", "--size", "0x10"}},
                    BadRun{"NoSize", {"scale", "good.png", "out.png"}},
                    BadRun{"UnknownOption", {"scale", "good.png", "out.png", "--size", "4x4", "--sharpen"}},
                    BadRun{"UnknownCommand", {"sharpen", "good.png", "out.png"}},
                    BadRun{"UnknownOutputType", {"scale", "good.png", "out.gif", "--size", "4x4"}},
                    BadRun{"MissingOutputDirectory", {"scale", "good.png", "no/such/out.png", "--size", "4x4"}},
                    BadRun{"NoModule", {"--plugin", "absent.so", "scale", "good.png", "out.png", "--size", "4x4"}},
                    BadRun{"ModeUnknownName", {"resample", "good.png", "o.png", "--mode", "cubic", "--size", "4x4"}},
                    BadRun{"RadiusNotANumber", {"blur", "good.png", "o.png", "--radius", "wide"}},
                    BadRun{"PositionNotNumbers", {"draw", "good.png", "good.png", "o.png", "--at", "x,y"}},
                    BadRun{"DrawMaskOfAnotherSize",
                           {"draw", "good.png", "good.png", "o.png", "--at", "0,0", "--mask", "small.pgm"}},
                    BadRun{"MaskBesideAnAlphaChannel",
                           {"scale-mask", "alpha.png", "o.png", "--size", "2x2", "--mask", "good.png"}},
                    BadRun{"OutMaskIsOut", {"scale-mask", "good.png", "o.png", "--size", "2x2", "--out-mask", "o.png"}},
                    BadRun{"OutMaskUnwritable",
                           {"scale-mask", "good.png", "o.png", "--size", "2x2", "--out-mask", "no/such/m.pgm"}},
                    BadRun{"OutMaskIsOutByAnotherName",
                           {"scale-mask", "good.png", "o.png", "--size", "2x2", "--out-mask", "./o.png"}},
                    BadRun{"OutMaskIsOutThroughALink",
                           {"scale-mask", "good.png", "good.png", "--size", "2x2", "--out-mask", "good-link.png"}},
                    BadRun{"HeaderWithControlBytes", {"scale", "escape.pam", "o.png", "--size", "2x2"}}),
    [](const testing::TestParamInfo<BadRun>& info) { return std::string(info.param.name); });

// An empty value is what a script's unset variable gives: never taken as 0 or as no file.
INSTANTIATE_TEST_SUITE_P(
    OptionValues, cliRefuses,
    testing::Values(BadRun{"EmptyAlpha", {"draw", "good.png", "good.png", "o.png", "--at", "0,0", "--alpha", ""}},
                    BadRun{"EmptyRadius", {"blur", "good.png", "o.png", "--radius", ""}},
                    BadRun{"EmptyYield", {"blur", "good.png", "o.png", "--radius", "2", "--yield", ""}},
                    BadRun{"EmptyRepeat", {"scale", "good.png", "o.png", "--size", "2x2", "--repeat", ""}},
                    BadRun{"EmptyMask", {"draw", "good.png", "good.png", "o.png", "--at", "0,0", "--mask", ""}},
                    BadRun{"EmptyOutMask", {"scale-mask", "good.png", "o.png", "--size", "2x2", "--out-mask", ""}},
                    // zpx writes no picture it would refuse to read.
                    BadRun{"SizeBeyondWhatZpxReads", {"scale", "good.png", "o.png", "--size", "16385x8192"}}),
    [](const testing::TestParamInfo<BadRun>& info) { return std::string(info.param.name); });

std::vector<int> Repeated(std::vector<int> row, int times) {
    std::vector<int> rows;
    for (int i = 0; i < times; ++i) rows.insert(rows.end(), row.begin(), row.end());
    return rows;
}

// Each command on pictures small enough to work out by hand: one channel of
// the file it writes.
TEST_F(cliProgram, CommandsGiveTheirExactResults) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        const char* file;
        int channel;
        std::vector<int> expected;
        std::string err;  // what standard error holds, in one line, or nothing
    } const cases[] = {
        {"anti-aliased enlargement interpolates", {"scale", "edge.png", "o.png", "--size", "4x4", "--antialias"},
         "o.png", 1, Repeated({0, 128, 255, 255}, 4), ""},
        {"blur averages neighbours", {"blur", "reds.png", "o.ppm", "--radius", "1.9"}, "o.ppm", 0, {0, 85, 170}, ""},
        {"drawing at whole pixels copies", {"draw", "ground.png", "sprite.png", "o.png", "--at", "1,1"}, "o.png", 0,
         {9, 9, 9, 9, 9, 10, 20, 9, 9, 30, 40, 9}, ""},
        {"drawing through a mask", {"draw", "black.png", "red2.png", "o.png", "--at", "0,0", "--mask", "half.pgm"},
         "o.png", 0, {255, 0}, ""},
        // Every repeated call starts from the destination as it was read.
        {"drawing repeatedly",
         {"draw", "black.png", "red2.png", "o.png", "--at", "0,0", "--alpha", "0.5", "--repeat", "3"}, "o.png", 0,
         {127, 127}, "DrawPictureFZPX: median"},
        {"a mask file scales like the picture",
         {"scale-mask", "grey.png", "o.png", "--size", "4x4", "--antialias", "--mask", "mask.pgm", "--out-mask",
          "m.pgm"},
         "m.pgm", 0, Repeated({0, 128, 255, 255}, 4), ""},
        {"with a file of its own the mask leaves the picture opaque",
         {"scale-mask", "grey.png", "o.png", "--size", "4x4", "--antialias", "--mask", "mask.pgm", "--out-mask",
          "m.pgm"},
         "o.png", 3, std::vector<int>(16, 255), ""},
        {"the mask as PNG alpha",
         {"scale-mask", "grey.png", "o.png", "--size", "4x4", "--antialias", "--mask", "mask.pgm"}, "o.png", 3,
         Repeated({255, 127, 0, 0}, 4), ""},
        {"a file without alpha drops the mask",
         {"scale-mask", "grey.png", "o.ppm", "--size", "4x4", "--mask", "mask.pgm"}, "o.ppm", 0,
         Repeated({100, 100, 100, 100}, 4), "mask was dropped"},
        {"an alpha channel is the mask",
         {"scale-mask", "translucent.png", "o.png", "--size", "4x4", "--antialias", "--out-mask", "m.pgm"}, "m.pgm", 0,
         Repeated({0, 128, 255, 255}, 4), ""},
        {"an opaque picture has a black mask",
         {"scale-mask", "grey.png", "o.png", "--size", "3x3", "--out-mask", "m.pgm"}, "m.pgm", 0,
         std::vector<int>(9, 0), ""},
    };
    for (const Case& c : cases) {
        const ZpxRun run = Zpx(c.arguments);
        ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
        EXPECT_EQ(CountLines(run.err), c.err.empty() ? 0 : 1) << c.name << ": " << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.name << ": " << run.err;
        EXPECT_EQ(Channel(LoadImageFile(PathOf(c.file)), c.channel), c.expected) << c.name;
    }
}

TEST_F(cliProgram, ResampleModeNamesMatchTheirNumbers) {
    const char* names[] = {"triangle", "box", "lanczos3", "lanczos8", "mitchell", "keys", "keys6"};
    for (int mode = 1; mode <= 7; ++mode) {
        const char* name = names[mode - 1];
        ASSERT_EQ(Zpx({"resample", "in.png", "byname.png", "--mode", name, "--size", "13x5"}).status, 0) << name;
        ASSERT_EQ(Zpx({"resample", "in.png", "bynumber.png", "--mode", std::to_string(mode), "--size", "13x5"}).status,
                  0);
        EXPECT_EQ(LoadImageFile(PathOf("byname.png")).rgba, LoadImageFile(PathOf("bynumber.png")).rgba) << name;
    }
}

TEST_F(cliProgram, RepeatPrintsTheMedianOfTheCalls) {
    ZpxRun run = Zpx({"scale", "in.png", "out.png", "--size", "20x20", "--repeat", "3"});
    ASSERT_EQ(run.status, 0) << run.err;
    double median = 0, least = 0, most = 0;
    int calls = 0, length = 0;
    ASSERT_EQ(std::sscanf(run.err.c_str(), "ScaleZPX: median %lf ms, min %lf ms, max %lf ms over %d calls\n%n",
                          &median, &least, &most, &calls, &length),
              4)
        << run.err;
    EXPECT_EQ(static_cast<size_t>(length), run.err.size()) << run.err;
    EXPECT_EQ(calls, 3);
    EXPECT_LE(least, median);
    EXPECT_LE(median, most);
    EXPECT_EQ(LoadImageFile(PathOf("out.png")).width, 20);
}

TEST_F(cliProgram, InfoShowsTheRegistration) {
    ZpxRun current = Zpx({"info"});
    ASSERT_EQ(current.status, 0) << current.err;
    EXPECT_NE(current.out.find("ScaleZPX("), std::string::npos) << current.out;
    EXPECT_NE(current.out.find("record version:    13"), std::string::npos) << current.out;
}

TEST_F(cliProgram, HelpNamesEveryCommand) {
    ZpxRun help = Zpx({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"info", "scale", "scale-mask", "resample", "blur", "draw", "demo"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

// Every panel of every method, with the pictures the host makes in each
// storage, written as loadable pictures with a gallery that shows them all.
TEST_F(cliProgram, DemoRunsEveryPanelIntoAGallery) {
    for (const char* directory : {"plain", "console"}) {
        std::vector<std::string> arguments{"demo", directory};
        if (directory == std::string("console")) arguments.insert(arguments.begin(), {"--app", "console", "--alpha"});
        ZpxRun run = Zpx(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_NE(run.out.find(std::to_string(DemoPanels().size()) + " panels, 0 failed"), std::string::npos)
            << run.out;
        const std::string html = ReadText(dir_ / directory / "index.html");
        EXPECT_EQ(html.find("Not registered"), std::string::npos);
        for (const char* method : {"ScaleZPX", "ScaleImageAndMaskZPX", "ScalingZPX", "BlurZPX", "DrawPictureFZPX"})
            EXPECT_NE(html.find("<b>" + std::string(method) + "</b>"), std::string::npos) << method;
        for (const DemoPanel& panel : DemoPanels()) {
            EXPECT_NE(html.find("src=\"" + panel.id + ".png\""), std::string::npos) << panel.id;
            EXPECT_NO_THROW(LoadImageFile(PathOf(std::string(directory) + "/" + panel.id + ".png"))) << panel.id;
        }
    }
    EXPECT_EQ(LoadImageFile(PathOf("plain/source.png")).width, 640);
    // The transparency scaled with the icon reaches the file as alpha.
    EXPECT_TRUE(LoadImageFile(PathOf("plain/scale-mask-icon-antialias.png")).hasAlpha);
}

}  // namespace
}  // namespace zpxcli
#endif  // ZPX_PROGRAM_PATH
