// compare_builds [-j N] REFERENCE BUILD...: the zpx program of each build
// folder runs every method on the same pictures, and every output file must
// be byte-identical to the reference build's. Cross builds run under their
// emulator (each folder's run script), so one native program can check the
// 32-bit and arm64 builds against the 64-bit one.
//
// The pictures: the demo's test picture, opaque and with alpha, and small
// random ones at odd sizes with grey masks. Each case runs in the desktop and
// the console host. Outputs are PAM, so the bytes compared are the module's
// pixels and nothing an encoder chose. A difference names the case, the
// build, its architecture and pixel path, and the first differing pixel.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cli/ImageFile.h"
#include "cli/TestPicture.h"

namespace {

using zpxcli::Image;

struct Build {
    std::string folder;
    std::string identity;  // "x86-64 avx512", "arm64 neon": architecture and pixel path
};

struct Case {
    std::string name;  // also the output file's stem
    std::vector<std::string> arguments;  // zpx's arguments, with OUT where the output goes
};

// One run of one case by one build.
struct Run {
    const Build* build;
    const Case* testCase;
    std::string output;
    std::string log;
    int status = -1;
};

Image RandomImage(int width, int height, bool hasAlpha, std::mt19937& random) {
    Image image = Image::Blank(width, height, hasAlpha);
    for (size_t i = 0; i < image.rgba.size(); ++i) {
        image.rgba[i] = (i % 4 == 3 && !hasAlpha) ? 255 : static_cast<uint8_t>(random() >> 24);
    }
    return image;
}

// A grey mask of the picture's size: random levels, with whole rows of 0 and
// of 255 so that the fully drawn and the untouched cases are there too.
Image RandomMask(int width, int height, std::mt19937& random) {
    Image mask = RandomImage(width, height, false, random);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = mask.PixelAt(x, y);
            const uint8_t level = y % 5 == 1 ? 0 : y % 5 == 3 ? 255 : pixel[0];
            pixel[0] = pixel[1] = pixel[2] = level;
        }
    }
    mask.isGrey = true;
    return mask;
}

struct Input {
    std::string stem;
    int width, height;
    bool hasAlpha;
    std::string mask;  // for a picture without alpha
};

// Writes the pictures into folder and returns them.
std::vector<Input> WriteInputs(const std::string& folder) {
    std::mt19937 random(20261206);
    std::vector<Input> inputs;
    auto add = [&](const std::string& stem, const Image& image) {
        zpxcli::SaveImageFile(folder + "/" + stem + ".png", image);
        Input input{stem, image.width, image.height, image.hasAlpha, ""};
        if (!image.hasAlpha) {
            input.mask = folder + "/" + stem + "-mask.pgm";
            zpxcli::SaveImageFile(input.mask, RandomMask(image.width, image.height, random));
        }
        inputs.push_back(input);
    };
    add("test", zpxcli::MakeTestPicture(false));
    add("test-alpha", zpxcli::MakeTestPicture(true));
    add("random-37x23", RandomImage(37, 23, false, random));
    add("random-101x7-alpha", RandomImage(101, 7, true, random));
    add("random-1x53", RandomImage(1, 53, false, random));
    add("random-64x65-alpha", RandomImage(64, 65, true, random));
    return inputs;
}

std::string Size(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

// Every method on every input: reduced and enlarged, each kernel, a blur, a
// fractional draw with partial strength; in both hosts.
std::vector<Case> MakeCases(const std::string& folder, const std::vector<Input>& inputs) {
    std::vector<Case> cases;
    for (const char* app : {"desktop", "console"}) {
        for (const Input& in : inputs) {
            const std::string file = folder + "/" + in.stem + ".png";
            const std::string stem = std::string(app) + "-" + in.stem;
            const bool large = in.width * in.height > 10000;
            const std::string down = Size(in.width * 3 / 8 + 1, in.height * 5 / 9 + 1);
            const std::string up = large ? Size(in.width + 97, in.height + 33) : Size(in.width * 3 + 1, in.height * 2 + 3);
            std::vector<std::string> host = {"--app", app};
            if (in.hasAlpha) host.push_back("--alpha-channel");
            auto add = [&](const std::string& name, std::vector<std::string> arguments) {
                std::vector<std::string> all = host;
                all.insert(all.end(), arguments.begin(), arguments.end());
                cases.push_back({stem + "-" + name, all});
            };
            std::vector<std::string> mask;
            if (!in.hasAlpha) mask = {"--mask", in.mask};
            add("scale-down", {"scale", file, "OUT", "--size", down});
            add("scale-up-antialias", {"scale", file, "OUT", "--size", up, "--antialias"});
            std::vector<std::string> scaleMask = {"scale-mask", file, "OUT", "--size", up, "--antialias"};
            scaleMask.insert(scaleMask.end(), mask.begin(), mask.end());
            add("scale-mask-up-antialias", scaleMask);
            for (int mode = 1; mode <= 7; ++mode) {
                // The large pictures shrink (the costly direction under emulation
                // is enlarging them), the small ones grow.
                add("resample-" + std::to_string(mode),
                    {"resample", file, "OUT", "--mode", std::to_string(mode), "--size", large ? down : up});
            }
            add("blur", {"blur", file, "OUT", "--radius", large ? "2" : "3"});
            std::vector<std::string> draw = {"draw", folder + "/random-64x65-alpha.png", file, "OUT",
                                             "--at", "11.375,-2.75", "--alpha", "0.625"};
            draw.insert(draw.end(), mask.begin(), mask.end());
            add("draw", draw);
        }
    }
    return cases;
}

// Runs PROGRAM ARGUMENTS with standard output and error into log; returns the child.
pid_t Start(const std::vector<std::string>& command, const std::string& log) {
    const pid_t child = fork();
    if (child != 0) return child;
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int nothing = open("/dev/null", O_RDONLY);
    if (fd < 0 || nothing < 0) _exit(127);
    dup2(nothing, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Runs every command, at most jobs at a time; fills in each run's status.
void RunAll(std::vector<Run>& runs, const std::string& folder, int jobs) {
    std::map<pid_t, Run*> running;
    size_t next = 0;
    while (next < runs.size() || !running.empty()) {
        while (next < runs.size() && static_cast<int>(running.size()) < jobs) {
            Run& run = runs[next++];
            std::vector<std::string> command = {run.build->folder + "/run", run.build->folder + "/zpx"};
            for (const std::string& word : run.testCase->arguments) command.push_back(word == "OUT" ? run.output : word);
            running[Start(command, run.log)] = &run;
        }
        int status = 0;
        const pid_t done = wait(&status);
        if (done < 0) break;
        auto found = running.find(done);
        if (found == running.end()) continue;
        found->second->status = ExitStatus(status);
        running.erase(found);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Pixel(const Image& image, int x, int y) {
    const uint8_t* p = image.PixelAt(x, y);
    char text[40];
    std::snprintf(text, sizeof text, "rgba(%d,%d,%d,%d)", p[0], p[1], p[2], p[3]);
    return text;
}

// Where two differing output files part, in words.
std::string FirstDifference(const std::string& referencePath, const std::string& otherPath) {
    Image reference, other;
    try {
        reference = zpxcli::LoadImageFile(referencePath);
        other = zpxcli::LoadImageFile(otherPath);
    } catch (const zpxcli::ImageError& error) {
        return std::string("unreadable output: ") + error.what();
    }
    if (reference.width != other.width || reference.height != other.height) {
        return "size " + Size(other.width, other.height) + " where the reference is " +
               Size(reference.width, reference.height);
    }
    if (reference.hasAlpha != other.hasAlpha) return "alpha channel present in one output only";
    for (int y = 0; y < reference.height; ++y) {
        for (int x = 0; x < reference.width; ++x) {
            if (std::equal(reference.PixelAt(x, y), reference.PixelAt(x, y) + 4, other.PixelAt(x, y))) continue;
            return "first differing pixel (" + std::to_string(x) + ", " + std::to_string(y) + "): " +
                   Pixel(other, x, y) + " where the reference has " + Pixel(reference, x, y);
        }
    }
    return "same pixels, different file bytes";
}

std::string Identify(const std::string& folder, const std::string& scratch) {
    const std::string log = scratch + "/identity.txt";
    int status = 0;
    waitpid(Start({folder + "/run", folder + "/tests/build_identity"}, log), &status, 0);
    std::string identity = ReadFile(log);
    while (!identity.empty() && identity.back() == '\n') identity.pop_back();
    return ExitStatus(status) == 0 ? identity : "unknown build (build_identity failed: " + identity + ")";
}

int Usage() {
    std::fprintf(stderr, "usage: compare_builds [-j N] REFERENCE_BUILD BUILD...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int jobs = 2;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-j" && i + 1 < argc) {
            jobs = std::max(1, std::atoi(argv[++i]));
        } else {
            folders.push_back(word);
        }
    }
    if (folders.size() < 2) return Usage();
    const auto start = std::chrono::steady_clock::now();

    char scratchTemplate[] = "/tmp/zpx-compare-XXXXXX";
    if (mkdtemp(scratchTemplate) == nullptr) {
        std::perror("compare_builds: temporary folder");
        return 2;
    }
    const std::string scratch = scratchTemplate;
    std::vector<Build> builds;
    for (const std::string& folder : folders) {
        if (access((folder + "/zpx").c_str(), X_OK) != 0 || access((folder + "/run").c_str(), X_OK) != 0) {
            std::fprintf(stderr, "compare_builds: %s has no zpx program or run script\n", folder.c_str());
            return 2;
        }
        builds.push_back({folder, Identify(folder, scratch)});
    }
    const std::vector<Case> cases = MakeCases(scratch, WriteInputs(scratch));

    std::vector<Run> runs;
    for (size_t b = 0; b < builds.size(); ++b) {
        for (const Case& testCase : cases) {
            const std::string stem = scratch + "/" + std::to_string(b) + "-" + testCase.name;
            runs.push_back({&builds[b], &testCase, stem + ".pam", stem + ".log"});
        }
    }
    RunAll(runs, scratch, jobs);

    int differences = 0;
    for (size_t c = 0; c < cases.size(); ++c) {
        const Run& reference = runs[c];
        if (reference.status != 0) {
            std::fprintf(stderr, "%s: the reference build %s (%s) failed with status %d:\n%s", cases[c].name.c_str(),
                         reference.build->folder.c_str(), reference.build->identity.c_str(), reference.status,
                         ReadFile(reference.log).c_str());
            ++differences;
            continue;
        }
        const std::string expected = ReadFile(reference.output);
        for (size_t b = 1; b < builds.size(); ++b) {
            const Run& run = runs[b * cases.size() + c];
            std::string problem;
            if (run.status != 0) {
                problem = "exit status " + std::to_string(run.status) + ":\n" + ReadFile(run.log);
            } else if (ReadFile(run.output) != expected) {
                problem = FirstDifference(reference.output, run.output) + "\n";
            }
            if (problem.empty()) continue;
            std::fprintf(stderr, "%s: %s (%s) differs from %s (%s): %s", cases[c].name.c_str(), run.build->folder.c_str(),
                         run.build->identity.c_str(), reference.build->folder.c_str(),
                         reference.build->identity.c_str(), problem.c_str());
            ++differences;
        }
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("compare_builds: %zu cases on %zu builds (", cases.size(), builds.size());
    for (size_t b = 0; b < builds.size(); ++b) std::printf("%s%s", b ? ", " : "", builds[b].identity.c_str());
    std::printf("), %.0f s: %s\n", seconds,
                differences == 0 ? "every output byte-identical" : (std::to_string(differences) + " differences").c_str());
    if (differences == 0) {
        // Kept on failure, for a look at the pictures.
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    } else {
        std::fprintf(stderr, "compare_builds: the pictures and outputs are in %s\n", scratch.c_str());
    }
    return differences == 0 ? 0 : 1;
}
