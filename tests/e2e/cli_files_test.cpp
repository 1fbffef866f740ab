// zpx's files under hostile conditions: special files where pictures belong,
// outputs that must keep what they are, writes cut short by signals and full
// disks, files that claim far more than they hold, and standard output that
// cannot be written. Whatever happens, every file is as it was or whole.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cli/ImageFile.h"
#include "tests/e2e/ZpxRunner.h"
#include "tests/support/HostileImages.h"

#if defined(ZPX_PROGRAM_PATH) && defined(ZPX_FILE_FAULTS_PATH)
namespace zpxcli {
namespace {

namespace fs = std::filesystem;
using zpxtest::CountLines;
using zpxtest::ReadText;
using zpxtest::ZpxRun;
using zpxtest::ZpxSetting;

Image Gradient(int width, int height) {
    Image image = Image::Blank(width, height, false);
    for (size_t i = 0; i < image.rgba.size(); i += 4) image.rgba[i] = image.rgba[i + 1] = uint8_t(i / 4 * 7);
    return image;
}

// zpx with the hostile system of FileFaults.c; each variable is NAME=value.
ZpxSetting Faults(std::vector<std::string> variables) {
    variables.push_back("LD_PRELOAD=" ZPX_FILE_FAULTS_PATH);
    return {variables, std::nullopt};
}

class ZpxFiles : public zpxtest::ZpxRunner {
protected:
    void SetUp() override {
        ZpxRunner::SetUp();
        SaveImageFile(PathOf("in.png"), Gradient(8, 6));
        ASSERT_EQ(::mkfifo(PathOf("fifo.png").c_str(), 0644), 0);
        ASSERT_EQ(::mkfifo(PathOf("fifo.pgm").c_str(), 0644), 0);
        fs::create_symlink("fifo.png", PathOf("fifo-link.png"));
        fs::create_symlink("missing.png", PathOf("dangling.png"));
        fs::create_directory(PathOf("directory.png"));
        MakeSocket(PathOf("socket.png"));
    }

    void MakeSocket(const std::string& path) {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        ASSERT_LT(path.size(), sizeof address.sun_path);
        std::strcpy(address.sun_path, path.c_str());
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }

    void ExpectRefusedUnchanged(const ZpxRun& run, const std::map<std::string, std::string>& before,
                                const std::string& what) {
        EXPECT_EQ(run.status, 2) << what << ": " << run.err;
        EXPECT_EQ(CountLines(run.err), 1) << what << ": " << run.err;
        EXPECT_EQ(Snapshot(), before) << what;
    }
};

using cliFiles = ZpxFiles;

struct Refusal {
    const char* name;
    std::vector<std::string> arguments;
};

// Nothing but a regular file is read or replaced: no open() that blocks on a
// FIFO, no FIFO, device or socket turned into a file, no dangling link followed.
TEST_F(cliFiles, SpecialFilesAreRefusedAndKept) {
    const Refusal refusals[] = {
        {"a FIFO as IN", {"scale", "fifo.png", "out.png", "--size", "2x2"}},
        {"a FIFO as DEST", {"draw", "fifo.png", "in.png", "out.png", "--at", "0,0"}},
        {"a FIFO as SRC", {"draw", "in.png", "fifo.png", "out.png", "--at", "0,0"}},
        {"a FIFO as --mask", {"scale-mask", "in.png", "out.png", "--size", "2x2", "--mask", "fifo.pgm"}},
        {"a FIFO as OUT", {"scale", "in.png", "fifo.png", "--size", "2x2"}},
        {"a link to a FIFO as OUT", {"scale", "in.png", "fifo-link.png", "--size", "2x2"}},
        {"a FIFO as --out-mask", {"scale-mask", "in.png", "out.png", "--size", "2x2", "--out-mask", "fifo.pgm"}},
        {"a socket as OUT", {"scale", "in.png", "socket.png", "--size", "2x2"}},
        {"a directory as OUT", {"scale", "in.png", "directory.png", "--size", "2x2"}},
        {"a link to nothing as OUT", {"scale", "in.png", "dangling.png", "--size", "2x2"}},
    };
    const auto before = Snapshot();
    for (const Refusal& refusal : refusals)
        ExpectRefusedUnchanged(Finish(Start(refusal.arguments), std::chrono::seconds(20)), before, refusal.name);
}

// What OUT is before a run, and what it must still be after.
struct Replacement {
    const char* name;
    std::string out;
    void (*prepare)(ZpxFiles& test);
    void (*check)(ZpxFiles& test);
};

// Writing OUT changes its contents, not what it is.
TEST_F(cliFiles, ReplacingKeepsWhatOutIs) {
    const Replacement replacements[] = {
        {"its mode", "out.png",
         [](ZpxFiles& test) {
             fs::copy_file(test.PathOf("in.png"), test.PathOf("out.png"));
             fs::permissions(test.PathOf("out.png"), fs::perms::owner_read | fs::perms::owner_write);
         },
         [](ZpxFiles& test) {
             EXPECT_EQ(fs::status(test.PathOf("out.png")).permissions(),
                       fs::perms::owner_read | fs::perms::owner_write);
         }},
        {"a symbolic link", "link.png",
         [](ZpxFiles& test) {
             fs::copy_file(test.PathOf("in.png"), test.PathOf("target.png"));
             fs::create_symlink("target.png", test.PathOf("link.png"));
         },
         [](ZpxFiles& test) {
             EXPECT_TRUE(fs::is_symlink(test.PathOf("link.png")));
             EXPECT_EQ(LoadImageFile(test.PathOf("target.png")).width, 3);
         }},
        {"a hard link", "linked.png",
         [](ZpxFiles& test) {
             fs::copy_file(test.PathOf("in.png"), test.PathOf("linked.png"));
             fs::create_hard_link(test.PathOf("linked.png"), test.PathOf("other-name.png"));
         },
         [](ZpxFiles& test) {
             EXPECT_TRUE(fs::equivalent(test.PathOf("linked.png"), test.PathOf("other-name.png")));
             EXPECT_EQ(LoadImageFile(test.PathOf("other-name.png")).width, 3);
         }},
        // The longest name a file may have: no longer one for its temporary.
        {"a name of 255 bytes", std::string(251, 'n') + ".png", [](ZpxFiles&) {}, [](ZpxFiles&) {}},
    };
    for (const Replacement& replacement : replacements) {
        replacement.prepare(*this);
        ZpxRun run = Zpx({"scale", "in.png", replacement.out, "--size", "3x2"});
        ASSERT_EQ(run.status, 0) << replacement.name << ": " << run.err;
        EXPECT_EQ(LoadImageFile(PathOf(replacement.out)).width, 3) << replacement.name;
        replacement.check(*this);
    }
}

// The new contents are on disk before they take OUT's place, so that a power
// cut leaves the old file or the new, never an empty one.
TEST_F(cliFiles, OutputReachesTheDiskBeforeItsName) {
    const std::string log = AsidePath("calls");
    ZpxRun run = Zpx({"scale", "in.png", "out.png", "--size", "3x2"}, Faults({"ZPX_TEST_CALL_LOG=" + log}));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string calls = ReadText(log);
    ASSERT_NE(calls.find("rename"), std::string::npos) << calls;
    EXPECT_LT(calls.find("fsync"), calls.find("rename")) << calls;
}

// A failure at any output leaves every file as it was, IN among them when it is OUT too.
TEST_F(cliFiles, AFailedOutputChangesNothing) {
    fs::create_directory(PathOf("mask.pgm"));
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        ZpxSetting setting;
    } failures[] = {
        {"--out-mask in a missing directory",
         {"scale-mask", "in.png", "in.png", "--size", "3x2", "--out-mask", "missing/m.pgm"}, {}},
        {"--out-mask a directory", {"scale-mask", "in.png", "in.png", "--size", "3x2", "--out-mask", "mask.pgm"}, {}},
        {"--out-mask on a full disk", {"scale-mask", "in.png", "in.png", "--size", "3x2", "--out-mask", "m.pgm"},
         Faults({"ZPX_TEST_FULL_AFTER=1"})},
        {"OUT on a full disk", {"scale-mask", "in.png", "in.png", "--size", "3x2", "--out-mask", "m.pgm"},
         Faults({"ZPX_TEST_FULL_AFTER=0"})},
        {"OUT on a full disk, named temporaries", {"scale", "in.png", "in.png", "--size", "3x2"},
         Faults({"ZPX_TEST_FULL_AFTER=0", "ZPX_TEST_NO_TMPFILE=1"})},
    };
    const auto before = Snapshot();
    for (const auto& failure : failures) ExpectRefusedUnchanged(Zpx(failure.arguments, failure.setting), before, failure.name);
}

// A write cut short by a signal leaves nothing behind: OUT is as it was, and
// no temporary file remains, even after SIGKILL. Where the file system has no
// unnamed temporary files, the named ones are removed on every signal but SIGKILL.
TEST_F(cliFiles, InterruptedWritesLeaveNothingBehind) {
    fs::copy_file(PathOf("in.png"), PathOf("old.png"));
    const auto before = Snapshot();
    for (bool named : {false, true}) {
        for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
            if (named && signal == SIGKILL) continue;
            for (const char* out : {"new.png", "old.png"}) {
                const std::string mark = AsidePath("writing");
                std::vector<std::string> faults{"ZPX_TEST_STALL_MARK=" + mark};
                if (named) faults.push_back("ZPX_TEST_NO_TMPFILE=1");
                pid_t zpx = Start({"scale", "in.png", out, "--size", "3x2"}, Faults(faults));
                for (int waited = 0; !fs::exists(mark) && waited < 60000; waited += 5)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                EXPECT_TRUE(fs::exists(mark)) << "zpx never wrote " << out;
                ::kill(zpx, signal);
                ZpxRun run = Finish(zpx);
                fs::remove(mark);
                const std::string what = std::string(strsignal(signal)) + (named ? ", named temporaries, " : ", ") + out;
                EXPECT_EQ(run.status, 128 + signal) << what << ": " << run.err;
                EXPECT_EQ(Snapshot(), before) << what;
            }
        }
    }
}

// No file may make zpx take memory its pictures do not need: the image data,
// not the file's other bytes, must be able to fill what a PNG header claims,
// and a reader reads no further than its picture.
TEST_F(cliFiles, FilesClaimingMoreThanTheyHoldCostLittleMemory) {
    // A 1-bit 11585 x 11585 PNG (512 MiB as a picture) of 12 bytes of image
    // data, followed by a private chunk of 16 KB.
    std::vector<uint8_t> png = EncodeImage(Gradient(1, 1), ImageFormat::Png);
    const uint8_t header[] = {0, 0, 0x2D, 0x41, 0, 0, 0x2D, 0x41, 1, 0};  // width, height, bit depth 1, grey
    std::memcpy(&png[16], header, sizeof header);
    const uint32_t crc = crc32(0, &png[12], 17);
    for (int i = 0; i < 4; ++i) png[29 + i] = uint8_t(crc >> (24 - 8 * i));
    std::vector<uint8_t> chunk(12 + 16384, 0);
    chunk[2] = 0x40;  // 16384 bytes of "prIv", with a checksum nobody reaches
    std::memcpy(&chunk[4], "prIv", 4);
    png.insert(png.end() - 12, chunk.begin(), chunk.end());
    std::ofstream(PathOf("claims.png"), std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());

    // An 8 x 6 PGM followed by a gigabyte (a hole: it takes no disk).
    std::ofstream(PathOf("tail.pgm"), std::ios::binary) << "P5\n8 6\n255\n" << std::string(48, '\x40');
    fs::resize_file(PathOf("tail.pgm"), uint64_t(1) << 30);

    constexpr long kMostKilobytes = 200 * 1024;
    ZpxRun claims = Zpx({"scale", "claims.png", "out.png", "--size", "2x2"});
    EXPECT_EQ(claims.status, 2);
    EXPECT_NE(claims.err.find("too little image data for 11585 x 11585 pixels"), std::string::npos) << claims.err;
    EXPECT_LT(claims.peakKilobytes, kMostKilobytes);
    ZpxRun tail = Zpx({"scale", "tail.pgm", "out.png", "--size", "4x3"});
    EXPECT_EQ(tail.status, 0) << tail.err;
    EXPECT_LT(tail.peakKilobytes, kMostKilobytes);

    // JPEG, WebP and TIFF headers of 128 to 484 megabyte pictures over a few hundred bytes.
    const std::pair<const char*, std::vector<uint8_t>> headers[] = {
        {"claims.jpg", zpxtest::JpegClaiming(16000, 8000)},
        {"claims.webp", zpxtest::WebPClaiming(11000, 11000)},
        {"claims.tif", zpxtest::TiffClaiming(16000, 8000, true)},
    };
    for (const auto& [name, bytes] : headers) {
        std::ofstream(PathOf(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        ZpxRun run = Zpx({"scale", name, "out.png", "--size", "2x2"});
        EXPECT_EQ(run.status, 2) << name << ": " << run.err;
        EXPECT_NE(run.err.find("too little image data"), std::string::npos) << run.err;
        EXPECT_LT(run.peakKilobytes, kMostKilobytes) << name;
    }
}

// A picture goes from file to host picture, through the method, and from the
// result straight into the file: a run peaks near two copies of its largest
// picture (here the result, with the source picture and the method's own
// buffer beside it), not four. The sanitizer's allocator keeps what is freed,
// so only a plain build can show it.
TEST_F(cliFiles, ARunPeaksNearTwoPictures) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer holds freed memory back";
#endif
    SaveImageFile(PathOf("photo.ppm"), Gradient(2000, 1500));
    ZpxRun idle = Zpx({"info"});
    ZpxRun run = Zpx({"resample", "photo.ppm", "big.ppm", "--mode", "box", "--size", "4000x3000"});
    ASSERT_EQ(run.status, 0) << run.err;
    const double result = 4000.0 * 3000 * 4 / 1024;
    EXPECT_LT((run.peakKilobytes - idle.peakKilobytes) / result, 2.25)
        << run.peakKilobytes << " KiB at the peak, " << idle.peakKilobytes << " KiB with the module alone";
}

// What a command prints must get out: a full disk or a closed descriptor
// is a failure, not a quiet success.
TEST_F(cliFiles, UnwritableStandardOutputIsAFailure) {
    for (const char* out : {"/dev/full", ""}) {
        for (const char* argument : {"info", "--help"}) {
            ZpxRun run = Zpx({argument}, {{}, std::string(out)});
            EXPECT_NE(run.status, 0) << argument << (*out ? " > " : " >&-") << out;
            EXPECT_NE(run.err.find("zpx: cannot write standard output"), std::string::npos) << run.err;
        }
    }
    ZpxRun silent = Zpx({"scale", "in.png", "out.png", "--size", "3x2"}, {{}, std::string()});
    EXPECT_EQ(silent.status, 0) << "a command that prints nothing needs no standard output: " << silent.err;
    EXPECT_EQ(LoadImageFile(PathOf("out.png")).width, 3);
}

}  // namespace
}  // namespace zpxcli
#endif  // ZPX_PROGRAM_PATH && ZPX_FILE_FAULTS_PATH
