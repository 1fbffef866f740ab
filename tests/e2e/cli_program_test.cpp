// The zpx program as a person runs it: the built binary on files in a
// temporary directory, judged by exit status, standard error and the files
// it leaves behind.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ImageFile.h"

#ifdef ZPX_PROGRAM_PATH
namespace zpxcli {
namespace {

namespace fs = std::filesystem;

struct ZpxRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int CountLines(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

class ZpxProgram : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zpx-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

    // Runs zpx in the temporary directory with no terminal anywhere.
    ZpxRun Zpx(const std::vector<std::string>& arguments) const {
        fs::path outFile = dir_ / ".stdout", errFile = dir_ / ".stderr";
        pid_t child = ::fork();
        if (child == 0) {
            int in = ::open("/dev/null", O_RDONLY);
            int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(in, 0);
            ::dup2(out, 1);
            ::dup2(err, 2);
            if (::chdir(dir_.c_str()) != 0) ::_exit(127);
            std::vector<char*> argv{const_cast<char*>(ZPX_PROGRAM_PATH)};
            for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            ::execv(ZPX_PROGRAM_PATH, argv.data());
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ZpxRun run;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = ReadText(outFile);
        run.err = ReadText(errFile);
        fs::remove(outFile);
        fs::remove(errFile);
        return run;
    }

    std::set<std::string> Files() const {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(dir_))
            names.insert(fs::relative(entry.path(), dir_).string());
        return names;
    }

    fs::path dir_;
};

// Suite names start with "cli" so that `ctest -R cli` picks them out.
using cliProgram = ZpxProgram;

// 2 x 2 blocks of one colour each, so that halving by box averaging is exact.
Image Blocks(int blocksAcross, int blocksDown) {
    Image image = Image::Blank(blocksAcross * 2, blocksDown * 2, false);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            uint8_t* pixel = image.PixelAt(x, y);
            pixel[0] = static_cast<uint8_t>(40 * (x / 2) + 10);
            pixel[1] = static_cast<uint8_t>(60 * (y / 2) + 20);
            pixel[2] = static_cast<uint8_t>(200 - 30 * (x / 2) - 20 * (y / 2));
        }
    }
    return image;
}

void ExpectHalvedBlocks(const Image& result) {
    ASSERT_EQ(result.width, 4);
    ASSERT_EQ(result.height, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            const uint8_t* pixel = result.PixelAt(x, y);
            EXPECT_EQ(pixel[0], 40 * x + 10) << x << "," << y;
            EXPECT_EQ(pixel[1], 60 * y + 20) << x << "," << y;
            EXPECT_EQ(pixel[2], 200 - 30 * x - 20 * y) << x << "," << y;
            EXPECT_EQ(pixel[3], 255) << x << "," << y;
        }
    }
}

TEST_F(cliProgram, ScalesPngAndPpmFiles) {
    SaveImageFile(PathOf("in.png"), Blocks(4, 3));
    SaveImageFile(PathOf("in.ppm"), Blocks(4, 3));
    for (const char* input : {"in.png", "in.ppm"}) {
        for (const char* output : {"out.png", "out.ppm", "out.pam"}) {
            ZpxRun run = Zpx({"scale", input, output, "--size", "4x3"});
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.err, "");
            ExpectHalvedBlocks(LoadImageFile(PathOf(output)));
        }
    }
}

TEST_F(cliProgram, EnlargesByRepeatingPixels) {
    Image two = Image::Blank(2, 2, false);
    two.PixelAt(1, 0)[0] = 255;
    SaveImageFile(PathOf("two.png"), two);
    ASSERT_EQ(Zpx({"scale", "two.png", "five.png", "--size", "5x5"}).status, 0);
    Image five = LoadImageFile(PathOf("five.png"));
    ASSERT_EQ(five.width, 5);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(five.PixelAt(x, 0)[0], x < 3 ? 0 : 255) << x;
}

// Whatever storage the host gives pictures, the same file comes out.
class cliHostVariants : public ZpxProgram, public testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(cliHostVariants, GiveTheSameResult) {
    SaveImageFile(PathOf("in.png"), Blocks(4, 3));
    std::vector<std::string> arguments = GetParam();
    for (const char* word : {"scale", "in.png", "out.png", "--size", "4x3"}) arguments.push_back(word);
    ZpxRun run = Zpx(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectHalvedBlocks(LoadImageFile(PathOf("out.png")));
}

INSTANTIATE_TEST_SUITE_P(
    Options, cliHostVariants,
    testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--layout", "1"},
                    std::vector<std::string>{"--layout", "4"}, std::vector<std::string>{"--alpha"},
                    std::vector<std::string>{"--alpha", "--layout", "1"}, std::vector<std::string>{"--app", "console"},
                    std::vector<std::string>{"--app", "web", "--alpha"},
                    std::vector<std::string>{"--host-version", "2012.0"},
                    std::vector<std::string>{"--host-version", "none"}));

struct BadRun {
    const char* name;
    std::vector<std::string> arguments;
};

void PrintTo(const BadRun& run, std::ostream* out) { *out << run.name; }

class cliRefuses : public ZpxProgram, public testing::WithParamInterface<BadRun> {};

TEST_P(cliRefuses, WithOneLineAndNoOutput) {
    SaveImageFile(PathOf("good.png"), Blocks(2, 2));
    std::ofstream(PathOf("text.png")) << "this is not a picture\n";
    std::vector<uint8_t> png = EncodeImage(Blocks(8, 8), ImageFormat::Png);
    std::ofstream(PathOf("cut.png"), std::ios::binary).write(reinterpret_cast<const char*>(png.data()), 60);
    std::ofstream(PathOf("huge.ppm"), std::ios::binary) << "P6\n100000 100000\n255\n";
    std::set<std::string> before = Files();

    ZpxRun run = Zpx(GetParam().arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    EXPECT_EQ(run.err.rfind("zpx: ", 0), 0u) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Files(), before);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, cliRefuses,
    testing::Values(BadRun{"MissingFile", {"scale", "absent.png", "out.png", "--size", "4x4"}},
                    BadRun{"NotAnImage", {"scale", "text.png", "out.png", "--size", "4x4"}},
                    BadRun{"TruncatedPng", {"scale", "cut.png", "out.png", "--size", "4x4"}},
                    BadRun{"HugeHeader", {"scale", "huge.ppm", "out.png", "--size", "4x4"}},
                    BadRun{"ZeroWidth", {"scale", "good.png", "out.png", "--size", "0x10"}},
                    BadRun{"SizeNotANumber", {"scale", "good.png", "out.png", "--size", "abc"}},
                    BadRun{"NoSize", {"scale", "good.png", "out.png"}},
                    BadRun{"UnknownOption", {"scale", "good.png", "out.png", "--size", "4x4", "--sharpen"}},
                    BadRun{"UnknownCommand", {"sharpen", "good.png", "out.png"}},
                    BadRun{"UnknownOutputType", {"scale", "good.png", "out.gif", "--size", "4x4"}},
                    BadRun{"MissingOutputDirectory", {"scale", "good.png", "no/such/out.png", "--size", "4x4"}},
                    BadRun{"LayoutWithoutAlpha",
                           {"--alpha", "--layout", "5", "scale", "good.png", "o.png", "--size", "4x4"}},
                    BadRun{"NoModule", {"--plugin", "absent.so", "scale", "good.png", "out.png", "--size", "4x4"}}),
    [](const testing::TestParamInfo<BadRun>& info) { return std::string(info.param.name); });

TEST_F(cliProgram, RepeatPrintsTheMedianOfTheCalls) {
    SaveImageFile(PathOf("in.png"), Blocks(16, 16));
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

    ZpxRun older = Zpx({"--host-version", "2012.0", "info"});
    ASSERT_EQ(older.status, 0) << older.err;
    EXPECT_NE(older.out.find("class extension of Picture"), std::string::npos) << older.out;
    EXPECT_NE(older.out.find("record version:    10"), std::string::npos) << older.out;
}

TEST_F(cliProgram, HelpExplainsEveryCommand) {
    ZpxRun help = Zpx({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"info", "scale", "demo", "--host-version", "--app", "--layout", "--alpha", "--plugin"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    ZpxRun scaleHelp = Zpx({"scale", "--help"});
    EXPECT_EQ(scaleHelp.status, 0);
    for (const char* word : {"--size", "--antialias", "--yield", "--repeat", "e.g."})
        EXPECT_NE(scaleHelp.out.find(word), std::string::npos) << word;
}

TEST_F(cliProgram, DemoWritesAGalleryOfLoadablePictures) {
    ZpxRun run = Zpx({"demo", "gallery"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string html = ReadText(dir_ / "gallery" / "index.html");
    EXPECT_NE(html.find("ScaleZPX"), std::string::npos);
    int images = 0;
    const std::string source = "src=\"";
    for (size_t at = html.find(source); at != std::string::npos; at = html.find(source, at), ++images) {
        at += source.size();
        std::string file = PathOf("gallery/" + html.substr(at, html.find('"', at) - at));
        EXPECT_NO_THROW(LoadImageFile(file)) << file;
    }
    EXPECT_GE(images, 5);
    EXPECT_EQ(LoadImageFile(PathOf("gallery/source.png")).width, 640);
}

}  // namespace
}  // namespace zpxcli
#endif  // ZPX_PROGRAM_PATH
