// The plug-in's methods on photo-sized pictures, called by name through the
// emulated host exactly as a host calls them. Each operation prepares its
// pictures once; only the method call (and dropping its result) is timed.
//
//   zpxbench [--benchmark_filter=BlurZPX]   Google Benchmark over every operation
//   zpxbench --peak-memory [FILTER]         the working memory of one call of each operation
//   zpxbench --time NAME [--repeat N]       N calls of one operation; the median on standard error,
//                                           in the form the zpx program prints with --repeat;
//                                           BENCH_CLOCK=cpu: process CPU time, not the wall clock
//   zpxbench --list                         the operation names
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "bench/CallocTally.h"
#include "bench/Photo.h"
#include "host/Host.h"

namespace {

using zpxhost::Host;
using zpxhost::Value;

// ---- pictures ----

// One host for the whole run, with the real module loaded.
Host& TheHost() {
    // Pixels keep their storage between locks: moving them would be timed too.
    static Host host([] {
        zpxhost::HostConfig config;
        config.movePixelsOnUnlock = false;
        return config;
    }());
    static const bool loaded = host.LoadModule(ZPX_MODULE_PATH);
    if (!loaded) {
        fprintf(stderr, "zpxbench: cannot load the module: %s\n", host.LoadError().c_str());
        exit(2);
    }
    return host;
}

// The test picture of bench/Photo.h; `seed` makes a second, different one of the same size.
REALpicture MakePhoto(int width, int height, uint32_t seed) {
    REALpicture picture = TheHost().NewPicture(width, height, false);
    TheHost().FillRGB(picture, zpxbench::PhotoRGB(width, height, seed).data());
    return picture;
}

// A grey mask: a diagonal ramp, so that every level from see-through to opaque occurs.
REALpicture MakeMask(int width, int height) {
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t level = static_cast<uint8_t>((int64_t(x) * 255 / width + int64_t(y) * 255 / height) / 2);
            uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
            p[0] = p[1] = p[2] = level;
        }
    }
    REALpicture mask = TheHost().NewPicture(width, height, false);
    TheHost().FillRGB(mask, rgb.data());
    return mask;
}

enum class Kind { Photo, OtherPhoto, MaskedPhoto };

// Pictures live until the program ends; each kind and size is made once.
REALpicture Picture(Kind kind, int width, int height) {
    struct Made {
        Kind kind;
        int width, height;
        REALpicture picture;
    };
    static std::vector<Made> made;
    for (const Made& entry : made) {
        if (entry.kind == kind && entry.width == width && entry.height == height) return entry.picture;
    }
    REALpicture picture = MakePhoto(width, height, kind == Kind::OtherPhoto ? 77 : 0);
    if (kind == Kind::MaskedPhoto) {
        REALpicture mask = MakeMask(width, height);
        TheHost().AttachMask(picture, mask);
        TheHost().Release(mask);  // the picture holds its own reference
    }
    made.push_back({kind, width, height, picture});
    return picture;
}

// ---- operations ----

struct Prepared {
    REALpicture receiver;
    std::vector<Value> arguments;
};

struct Operation {
    std::string name;
    std::string method;
    std::function<Prepared()> prepare;
    int iterations = 0;  // 0: as many as Google Benchmark wants
};

struct Size {
    int width, height;
};
constexpr Size kPhoto{4000, 3000};
constexpr Size kQuarter{1000, 750};
constexpr Size kDouble{8000, 6000};

std::string SizeText(Size size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }
std::string Change(Size from, Size to) { return SizeText(from) + "->" + SizeText(to); }

const char* const kKernelNames[] = {"", "triangle", "box", "lanczos3", "lanczos8", "mitchell", "keys", "keys6"};

void AddScaling(std::vector<Operation>& operations, int mode, Size from, Size to, int iterations = 0) {
    operations.push_back({"ScalingZPX/" + std::to_string(mode) + "-" + kKernelNames[mode] + "/" + Change(from, to),
                          "ScalingZPX",
                          [=] {
                              return Prepared{Picture(Kind::Photo, from.width, from.height),
                                              {mode, to.width, to.height}};
                          },
                          iterations});
}

void AddScale(std::vector<Operation>& operations, const std::string& method, Kind kind, bool antiAlias, Size from,
              Size to) {
    operations.push_back({method + (antiAlias ? "/AntiAlias/" : "/") + Change(from, to), method, [=] {
                              return Prepared{Picture(kind, from.width, from.height),
                                              {to.width, to.height, antiAlias}};
                          }});
}

std::vector<Operation> Operations() {
    std::vector<Operation> operations;
    AddScale(operations, "ScaleZPX", Kind::Photo, false, kPhoto, kQuarter);
    AddScale(operations, "ScaleZPX", Kind::Photo, true, kQuarter, kPhoto);
    AddScale(operations, "ScaleImageAndMaskZPX", Kind::MaskedPhoto, false, kQuarter, kPhoto);
    AddScale(operations, "ScaleImageAndMaskZPX", Kind::MaskedPhoto, true, kQuarter, kPhoto);
    AddScale(operations, "ScaleImageAndMaskZPX", Kind::MaskedPhoto, false, kPhoto, kQuarter);
    for (int mode = 1; mode <= 7; ++mode) AddScaling(operations, mode, kPhoto, kQuarter);
    for (int mode = 1; mode <= 7; ++mode) AddScaling(operations, mode, kQuarter, kPhoto);
    for (int mode : {1, 3}) AddScaling(operations, mode, kPhoto, kDouble, 3);
    for (int radius : {2, 10, 50, 200}) {
        operations.push_back({"BlurZPX/radius:" + std::to_string(radius) + "/" + SizeText(kPhoto), "BlurZPX", [=] {
                                  return Prepared{Picture(Kind::Photo, kPhoto.width, kPhoto.height), {double(radius)}};
                              }});
    }
    // The destination changes with every call; the time does not depend on its colours.
    operations.push_back({"DrawPictureFZPX/" + SizeText(kPhoto) + "@0.37,0.61", "DrawPictureFZPX", [] {
                              return Prepared{Picture(Kind::OtherPhoto, kPhoto.width, kPhoto.height),
                                              {Picture(Kind::Photo, kPhoto.width, kPhoto.height), 0.37, 0.61}};
                          }});
    return operations;
}

// One call; false when the method failed (nil, false or a raised exception).
bool CallOnce(const Operation& operation, const Prepared& prepared) {
    Host& host = TheHost();
    size_t raisedBefore = host.Raised().size();
    Value result = host.Call(operation.method, prepared.receiver, prepared.arguments);
    bool succeeded = host.Raised().size() == raisedBefore;
    if (auto* picture = std::get_if<REALpicture>(&result)) {
        if (*picture == nullptr) return false;
        host.Release(*picture);
    } else if (auto* flag = std::get_if<bool>(&result)) {
        succeeded = succeeded && *flag;
    }
    return succeeded;
}

// ---- Google Benchmark ----

void RegisterBenchmarks(const std::vector<Operation>& operations) {
    for (const Operation& operation : operations) {
        auto* registered = benchmark::RegisterBenchmark(operation.name.c_str(), [operation](benchmark::State& state) {
            Prepared prepared = operation.prepare();
            for (auto _ : state) {
                if (!CallOnce(operation, prepared)) {
                    state.SkipWithError("the method failed");
                    break;
                }
            }
        });
        registered->Unit(benchmark::kMillisecond)->UseRealTime();
        if (operation.iterations > 0) registered->Iterations(operation.iterations);
    }
}

// ---- --time ----

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t count = values.size();
    return count % 2 == 1 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

double Milliseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1000 + double(now.tv_nsec) / 1e6;
}

// With BENCH_CLOCK=cpu the CPU time of the process, which other work on a
// shared machine disturbs less than the wall clock.
int TimeOne(const std::vector<Operation>& operations, const std::string& name, int repeat) {
    auto found = std::find_if(operations.begin(), operations.end(),
                              [&](const Operation& operation) { return operation.name == name; });
    if (found == operations.end()) {
        fprintf(stderr, "zpxbench: no operation named '%s' (see zpxbench --list)\n", name.c_str());
        return 2;
    }
    Prepared prepared = found->prepare();
    const char* clockName = std::getenv("BENCH_CLOCK");
    const clockid_t clock =
        clockName != nullptr && std::strcmp(clockName, "cpu") == 0 ? CLOCK_PROCESS_CPUTIME_ID : CLOCK_MONOTONIC;
    std::vector<double> milliseconds;
    for (int i = 0; i < repeat; ++i) {
        double start = Milliseconds(clock);
        bool succeeded = CallOnce(*found, prepared);
        milliseconds.push_back(Milliseconds(clock) - start);
        if (!succeeded) {
            fprintf(stderr, "zpxbench: %s failed\n", name.c_str());
            return 1;
        }
    }
    fprintf(stderr, "%s: median %.3f ms, min %.3f ms, max %.3f ms over %d calls\n", found->method.c_str(),
            MedianOf(milliseconds), *std::min_element(milliseconds.begin(), milliseconds.end()),
            *std::max_element(milliseconds.begin(), milliseconds.end()), repeat);
    return 0;
}

// ---- --peak-memory ----

double Megabytes(size_t bytes) { return double(bytes) / 1e6; }

// The host's bytes for a plain picture of the operation's result size.
size_t HostPictureBytes(REALpicture picture) {
    const Host& host = TheHost();
    return (size_t(host.Width(picture)) * 4 + size_t(host.Config().rowPadding)) * size_t(host.Height(picture));
}

int PeakMemory(const std::vector<Operation>& operations, const std::string& filter) {
    Host& host = TheHost();
    printf("%-52s %12s %8s %12s %9s %12s\n", "operation", "working MB", "callocs", "largest MB", "pictures",
           "result MB");
    for (const Operation& operation : operations) {
        if (operation.name.find(filter) == std::string::npos) continue;
        Prepared prepared = operation.prepare();
        int picturesBefore = host.PictureCreations();
        zpxbench::StartCallocTally();
        Value result = host.Call(operation.method, prepared.receiver, prepared.arguments);
        zpxbench::CallocTally tally = zpxbench::StopCallocTally();
        int pictures = host.PictureCreations() - picturesBefore;
        double resultMegabytes = 0;
        if (auto* picture = std::get_if<REALpicture>(&result); picture != nullptr && *picture != nullptr) {
            resultMegabytes = Megabytes(HostPictureBytes(*picture));
            host.Release(*picture);
        }
        printf("%-52s %12.3f %8zu %12.3f %9d %12.3f%s%s\n", operation.name.c_str(), Megabytes(tally.peakBytes),
               tally.allocations, Megabytes(tally.largestBlock), pictures, resultMegabytes,
               tally.complete ? "" : "  (too many blocks: a lower bound)",
               tally.leftAlive != 0 ? "  (blocks left alive!)" : "");
    }
    printf("working MB: the most calloc'd bytes alive at once during the call (the plug-in's working buffers);\n"
           "pictures: host pictures the call asked for; result MB: the host's storage of the returned picture.\n");
    return 0;
}

int Usage() {
    fprintf(stderr,
            "usage: zpxbench [Google Benchmark options]\n"
            "       zpxbench --peak-memory [FILTER]\n"
            "       zpxbench --time NAME [--repeat N]\n"
            "       zpxbench --list\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Operation> operations = Operations();
    if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const Operation& operation : operations) printf("%s\n", operation.name.c_str());
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--peak-memory") == 0) return PeakMemory(operations, argc >= 3 ? argv[2] : "");
    if (argc >= 2 && std::strcmp(argv[1], "--time") == 0) {
        if (argc != 3 && !(argc == 5 && std::strcmp(argv[3], "--repeat") == 0)) return Usage();
        int repeat = argc == 5 ? std::atoi(argv[4]) : 1;
        if (repeat < 1) return Usage();
        return TimeOne(operations, argv[2], repeat);
    }
    RegisterBenchmarks(operations);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return Usage();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
