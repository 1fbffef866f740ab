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
#include "cli/Module.h"
#include "tests/e2e/ZpxRunner.h"
#include "tests/support/HostileImages.h"

#ifdef ZPX_PROGRAM_PATH
namespace zpxcli {
namespace {

namespace fs = std::filesystem;
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
    const std::vector<uint8_t> jpeg = EncodeImage(Blocks(8, 8), ImageFormat::Jpeg);
    std::ofstream(PathOf("cut.jpg"), std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), 400);
    const std::vector<uint8_t> tiff = zpxtest::TiffClaiming(16000, 8000, true);
    std::ofstream(PathOf("huge.tif"), std::ios::binary).write(reinterpret_cast<const char*>(tiff.data()), tiff.size());
    std::ofstream(PathOf("escape.pam")) << "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n\x1B]0;gotcha\x07 1\nENDHDR\n\x01";
    Image tall = Image::Blank(1, kMaxImageSide, false);
    tall.isGrey = true;
    SaveImageFile(PathOf("tall.pgm"), tall);
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
    testing::Values(std::vector<std::string>{"--alpha-channel", "--layout", "1"},
                    std::vector<std::string>{"--app", "web", "--alpha-channel"},
                    std::vector<std::string>{"--host-version", "none"}));

struct BadRun {
    const char* name;
    std::vector<std::string> arguments;
    int status = 2;
    std::string says = "";  // part of the line on standard error
};

void PrintTo(const BadRun& run, std::ostream* out) { *out << run.name; }

class cliRefuses : public ZpxProgram, public testing::WithParamInterface<BadRun> {};

TEST_P(cliRefuses, WithOneLineAndNoOutput) {
    const auto before = Snapshot();

    ZpxRun run = Zpx(GetParam().arguments);
    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    EXPECT_EQ(run.err.rfind("zpx: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(GetParam().says), std::string::npos) << run.err;
    EXPECT_EQ(std::count_if(run.err.begin(), run.err.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }), 1)
        << "control bytes on the terminal: " << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, cliRefuses,
    testing::Values(BadRun{"MissingFile", {"scale", "absent.png", "out.png", "--size", "4x4"}},
                    BadRun{"NotAnImage", {"scale", "text.png", "out.png", "--size", "4x4"}},
                    BadRun{"TruncatedJpeg", {"scale", "cut.jpg", "out.png", "--size", "4x4"}},
                    BadRun{"TiffClaimingMoreThanItHolds", {"scale", "huge.tif", "out.png", "--size", "4x4"}},
                    BadRun{"ZeroWidth", {"scale", "good.png", "out.png", "--size", "0x10"}},
                    BadRun{"NoSize", {"scale", "good.png", "out.png"}},
                    BadRun{"UnknownOption",
                           {"scale", "good.png", "out.png", "--size", "4x4", "--sharpen"},
                           2,
                           "unknown option '--sharpen' for scale (see zpx scale --help)"},
                    BadRun{"UnknownCommand",
                           {"sharpen", "good.png", "out.png"},
                           2,
                           "unknown command 'sharpen': the commands are info, scale, scale-mask, resample, blur, "
                           "draw and demo (see zpx --help)"},
                    BadRun{"UnknownOutputType", {"scale", "good.png", "out.gif", "--size", "4x4"}},
                    BadRun{"MissingOutputDirectory", {"scale", "good.png", "no/such/out.png", "--size", "4x4"}},
                    BadRun{"NoModule",
                           {"--plugin", "absent.so", "scale", "good.png", "out.png", "--size", "4x4"},
                           2,
                           "cannot load the module ./absent.so: cannot open shared object file"},
                    BadRun{"ModeUnknownName", {"resample", "good.png", "o.png", "--mode", "cubic", "--size", "4x4"}},
                    BadRun{"RadiusNotANumber", {"blur", "good.png", "o.png", "--radius", "wide"}},
                    BadRun{"PositionNotNumbers", {"draw", "good.png", "good.png", "o.png", "--at", "x,y"}},
                    BadRun{"DrawMaskOfAnotherSize",
                           {"draw", "good.png", "good.png", "o.png", "--at", "0,0", "--mask", "small.pgm"}},
                    BadRun{"MaskBesideAnAlphaChannel",
                           {"--alpha-channel", "scale-mask", "alpha.png", "o.png", "--size", "2x2", "--mask", "good.png"}},
                    BadRun{"CarryMaskWithAlphaChannels",
                           {"--alpha-channel", "blur", "alpha.png", "o.png", "--radius", "1", "--carry-mask"}},
                    BadRun{"QualityOutOfRange", {"scale", "good.png", "o.jpg", "--size", "2x2", "--quality", "101"}},
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

// What the line says: the word zpx does not know, the nearest one it does and
// the help to read; why a method gave nil or false when zpx can tell.
INSTANTIATE_TEST_SUITE_P(
    Messages, cliRefuses,
    testing::Values(
        BadRun{"MisspeltCommand", {"scal", "x.png", "y.png"}, 2,
               "unknown command 'scal'; did you mean 'scale'? (see zpx --help)"},
        BadRun{"NoCommand", {}, 2, "a command is needed: info, scale, scale-mask, resample, blur, draw or demo"},
        BadRun{"ShortOption", {"scale", "good.png", "o.png", "-s", "4x4"}, 2,
               "unknown option '-s' for scale; did you mean '--size'? (see zpx scale --help)"},
        BadRun{"MisspeltOption", {"scale", "good.png", "o.png", "--sise", "4x4"}, 2,
               "unknown option '--sise' for scale; did you mean '--size'? (see zpx scale --help)"},
        BadRun{"MisspeltHostOptionAfterTheCommand", {"scale", "good.png", "o.png", "--size", "4x4", "--ap", "web"}, 2,
               "unknown option '--ap' for scale; did you mean '--app'? (see zpx --help)"},
        BadRun{"FormerHostFlag", {"--alpha", "scale", "good.png", "o.png", "--size", "4x4"}, 2,
               "unknown option '--alpha'; did you mean '--alpha-channel'? (see zpx --help)"},
        BadRun{"OptionBeforeItsCommand", {"--size", "4x4", "scale", "good.png", "o.png"}, 2,
               "'--size' is an option of scale, scale-mask and resample: it goes after the command's name"},
        BadRun{"HostOptionValue", {"--app", "mobile", "scale", "good.png", "o.png", "--size", "4x4"}, 2,
               "--app: must be desktop, console or web, not 'mobile' (see zpx --help)"},
        BadRun{"HostOptionValueAfterTheCommand", {"scale", "good.png", "o.png", "--size", "4x4", "--app", "mobile"}, 2,
               "--app: must be desktop, console or web, not 'mobile' (see zpx --help)"},
        BadRun{"EmptyPluginPath", {"--plugin", "", "info"}, 2, "--plugin: needs a path (see zpx --help)"},
        BadRun{"SizeBeyondTheLimit", {"scale", "good.png", "o.png", "--size", "900000%"}, 2,
               "--size 900000% of a 4 x 4 picture is 36000 x 36000; each side must be 1 to 32767"},
        BadRun{"SizeBeyondWhatZpxReadsBack", {"scale", "good.png", "o.png", "--size", "23171x23171"}, 2,
               "--size: size 23171x23171 is more than 134217728 pixels in all, the most zpx reads"},
        BadRun{"AlphaPicturesOnAnOldHost",
               {"--host-version", "2011.0", "--alpha-channel", "resample", "good.png", "o.png", "--mode", "1",
                "--size", "2x2"},
               1,
               "ScalingZPX returned nil: the host (version 2011) is older than 2011.04 and makes no pictures with "
               "an alpha channel"},
        BadRun{"IntermediateBeyondTheLibrarysLimit", {"resample", "tall.pgm", "o.png", "--mode", "1", "--size",
               "32767x1"}, 1,
               "ScalingZPX returned nil: its first pass needs a 32767 x 32767 intermediate picture of 4294705156 "
               "bytes"},
        BadRun{"BlurTableBeyondTheLibrarysLimit", {"blur", "good.png", "o.png", "--radius", "1048575"}, 1,
               "BlurZPX returned nil: radius 1048575 needs a division table of 2147483648 bytes"},
        BadRun{"PositionBeyond32Bits", {"draw", "good.png", "good.png", "o.png", "--at", "3e9,0"}, 1,
               "DrawPictureFZPX returned false: position 3000000000 lies beyond the 32-bit pixel positions"},
        BadRun{"StrengthThatCouldOverflow", {"draw", "good.png", "good.png", "o.png", "--at", "0,0", "--alpha", "9e6"},
               1, "DrawPictureFZPX returned false: strength 9000000 could overflow the drawing's sums"},
        // A bare name is a file here, never one the dynamic linker finds.
        BadRun{"PluginNameIsAPath", {"--plugin", "libm.so.6", "info"}, 2,
               "cannot load the module ./libm.so.6: cannot open shared object file"},
        BadRun{"EntryThrowsAStandardException", {"--plugin", ZPX_THROWING_STANDARD_MODULE, "info"}, 2,
               "its entry threw: the entry gave up"},
        BadRun{"EntryThrowsSomethingElse", {"--plugin", ZPX_THROWING_OTHER_MODULE, "info"}, 2,
               "its entry threw something that is not a std::exception"}),
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
         Repeated({100, 100, 100, 100}, 4), "holds no transparency"},
        {"an alpha channel is the mask",
         {"scale-mask", "translucent.png", "o.png", "--size", "4x4", "--antialias", "--out-mask", "m.pgm"}, "m.pgm", 0,
         Repeated({0, 128, 255, 255}, 4), ""},
        {"an opaque picture has a black mask",
         {"scale-mask", "grey.png", "o.png", "--size", "3x3", "--out-mask", "m.pgm"}, "m.pgm", 0,
         std::vector<int>(9, 0), ""},
        // 8 x 6 blocks of 2 x 2 halved: one pixel per block.
        {"a size by percentage", {"scale", "in.png", "o.png", "--size", "50%"}, "o.png", 0, Channel(Blocks(4, 3, 1), 0),
         ""},
        {"a size by width", {"resample", "in.png", "o.png", "--mode", "box", "--size", "4x"}, "o.png", 0,
         Channel(Blocks(4, 3, 1), 0), ""},
        {"--antialias that cannot apply says so", {"scale", "edge.png", "o.png", "--size", "1x1", "--antialias"},
         "o.png", 0, {127}, "--antialias had no effect: the smooth enlargement acts only when both sides grow"},
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
// storage, written as loadable pictures with a gallery that shows them all
// and says nothing of the machine it was made on.
TEST_F(cliProgram, DemoRunsEveryPanelIntoAGallery) {
    const std::vector<const DemoPanel*> panels = AllDemoPanels();
    for (const char* directory : {"plain", "console"}) {
        std::vector<std::string> arguments{"demo", directory};
        if (directory == std::string("console"))
            arguments.insert(arguments.begin(), {"--app", "console", "--alpha-channel"});
        ZpxRun run = Zpx(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_NE(run.out.find(std::to_string(panels.size()) + " results, 0 failed"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find((dir_ / directory / "index.html").string() + " (open it in a browser)\n"),
                  std::string::npos)
            << run.out;
        const std::string html = ReadText(dir_ / directory / "index.html");
        EXPECT_EQ(html.find("Not registered"), std::string::npos);
        EXPECT_EQ(html.find(dir_.string()), std::string::npos);
        EXPECT_EQ(html.find(ZPX_BUILD_DIR), std::string::npos);
        for (const DemoSection& section : DemoSections())
            EXPECT_NE(html.find("<section id=\"" + section.id + "\">"), std::string::npos) << section.id;
        std::set<std::string> pictures;
        for (size_t at = html.find("src=\""); at != std::string::npos; at = html.find("src=\"", at + 1))
            pictures.insert(html.substr(at + 5, html.find('"', at + 5) - at - 5));
        for (const DemoPanel* panel : panels) EXPECT_EQ(pictures.count(panel->id + ".png"), 1u) << panel->id;
        for (const std::string& picture : pictures)
            EXPECT_NO_THROW(LoadImageFile(PathOf(std::string(directory) + "/" + picture))) << picture;
    }
    EXPECT_EQ(LoadImageFile(PathOf("plain/source.png")).width, 640);
    // The transparency scaled with the icon reaches the file as alpha.
    EXPECT_TRUE(LoadImageFile(PathOf("plain/scale-mask-icon-antialias.png")).hasAlpha);
}

// What --version says: both versions, the module's path and the host played.
TEST_F(cliProgram, VersionNamesProgramModuleAndHost) {
    ZpxRun run = Zpx({"--host-version", "2013.0", "--version"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string version = ProgramVersion();
    const std::string module = (fs::path(ZPX_PROGRAM_PATH).parent_path() / "libpicturezpx.so").string();
    EXPECT_EQ(run.out, "zpx " + version + "\nmodule: picturezpx " + version + " (" + module +
                           ")\nhost: emulated, desktop host 2013.0, plain pictures in layout 6\n");
}

// The program finds its module beside itself or where the install put it,
// from any directory, with nothing of the build folder compiled in: the
// installed tree works after being moved, and its manual names every option
// the program's help lists.
TEST_F(cliProgram, InstalledTreeWorksWhereverItIsMoved) {
    const fs::path installed = dir_ / "installed", moved = dir_ / "moved";
    ZpxRun install = Run(ZPX_CMAKE_COMMAND, {"--install", ZPX_BUILD_DIR, "--prefix", installed.string()});
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    fs::rename(installed, moved);
    const std::string program = (moved / "bin" / "zpx").string();

    ZpxRun version = Run(program, {"--version"});
    ASSERT_EQ(version.status, 0) << version.err;
    EXPECT_NE(version.out.find("module: picturezpx " + std::string(ProgramVersion()) + " (" + moved.string() + "/lib"),
              std::string::npos)
        << version.out;
    ZpxRun scale = Run(program, {"scale", "in.png", "out.png", "--size", "4x3"});
    ASSERT_EQ(scale.status, 0) << scale.err;
    EXPECT_EQ(LoadImageFile(PathOf("out.png")).rgba, Blocks(4, 3, 1).rgba);

    std::string manual = ReadText(moved / "share" / "man" / "man1" / "zpx.1");
    for (size_t at = manual.find("\\-"); at != std::string::npos; at = manual.find("\\-", at)) manual.erase(at, 1);
    for (const char* command : {"", "info", "scale", "scale-mask", "resample", "blur", "draw", "demo"}) {
        std::vector<std::string> arguments{"--help"};
        if (*command) arguments.insert(arguments.begin(), command);
        const std::string help = Run(program, arguments).out;
        for (size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
            std::string option = help.substr(at, help.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at + 2) - at);
            EXPECT_NE(manual.find(option), std::string::npos) << option << " of zpx " << command;
        }
        if (*command) {
            EXPECT_NE(manual.find("\\fB" + std::string(command) + "\\fR"), std::string::npos) << command;
        }
    }
}

// The program alone, without its module beside it: one line saying where it
// looked; a bare --plugin name is the file in the current directory.
TEST_F(cliProgram, ProgramWithoutItsModuleSaysWhereItLooked) {
    const fs::path alone = dir_ / "alone";
    fs::create_directory(alone);
    fs::copy_file(ZPX_PROGRAM_PATH, alone / "zpx");
    const std::string program = (alone / "zpx").string();

    ZpxRun lost = Run(program, {"info"});
    EXPECT_EQ(lost.status, 2);
    const fs::path beside = alone / "libpicturezpx.so", installed = dir_ / "lib" / "picturezpx" / "libpicturezpx.so";
    EXPECT_EQ(lost.err, "zpx: cannot find the module libpicturezpx.so beside zpx (" + beside.string() +
                            ") or where it is installed (" + installed.string() +
                            "); give its path with --plugin PATH\n");

    fs::copy_file(fs::path(ZPX_PROGRAM_PATH).parent_path() / "libpicturezpx.so", dir_ / "libpicturezpx.so");
    ZpxRun found = Run(program, {"--plugin", "libpicturezpx.so", "info"});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_NE(found.out.find("module:            ./libpicturezpx.so"), std::string::npos) << found.out;
}

}  // namespace
}  // namespace zpxcli
#endif  // ZPX_PROGRAM_PATH
