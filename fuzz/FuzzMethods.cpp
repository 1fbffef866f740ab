// Random calls of the five picture methods, as a host's application could make
// them, under a random host: its version, application kind and pixel layout,
// entries and host methods it lacks, locks it refuses, pictures and buffers it
// cannot make, and host code that throws or calls the library again while a
// call runs. After every call the emulated host's audit must be clean (every
// reference, description lock and buffer the library took given back) and no
// byte past any row's pixels may have been written; where nothing was made to
// fail, the chosen pixel path must give the plain path's bytes, also when host
// code draws into the source at every hand-over. Anything else
// aborts with the problem printed, and libFuzzer keeps the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "effects/Blur.h"
#include "effects/DrawPictureF.h"
#include "host/Host.h"
#include "lanes/PixelPath.h"
#include "plugin/PluginMain.h"
#include "resample/Resampler.h"
#include "scale/Scalers.h"
#include "tests/support/AllocationFaults.h"
#include "tests/support/Audit.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::AppKind;
using zpxhost::Host;
using zpxhost::HostConfig;
using zpxhost::HostMethod;

// Thrown by the host code this program plays; it must reach the caller
// through the library. Not a std::exception, so nothing can mistake it.
struct HostCodeThrew {};

constexpr int kMaxPictureSide = 64;
constexpr int kMaxPictures = 4;
constexpr int kMaxCalls = 8;
constexpr size_t kMaxHeld = zpxtest::kMaxAudited;
// Results a call may legitimately make are kept small so that a run stays
// fast; sizes the library must refuse are passed through unchanged.
constexpr int64_t kMaxResultPixels = int64_t(1) << 15;

constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const int32_t kEdgeInts[] = {0,       -1,      1,     2,      3,       7,           63,         64,
                             65,      32767,   32768, 32769,  46341,   65535,       65536,      1 << 24,
                             1 << 30, kIntMax, -2,    -32768, kIntMin, kIntMin + 1, kIntMax - 1};
const double kEdgeDoubles[] = {0.0,          -0.0,         0.5,           -0.5,     1.0,
                               -1.0,         0.999999999,  1.5,           2.5,      63.5,
                               64.0,         1e-300,       -1e-300,       1e300,    -1e300,
                               kInf,         -kInf,        kNaN,          4.9e-324, 1.7976931348623157e308,
                               2147483647.0, 2147483648.0, -2147483649.0, 32767.5,  9007199254740993.0,
                               0.25,         1.0 / 3.0};
// Host versions from 2013.0 up to 3000.0 (and NaN) take the methods as a
// module, whose records the library keeps for its whole life: in one process
// that loads it for every input they would pile up and look like leaks to
// libFuzzer. The methods behave there as in 2012.0 and later, drawn here.
const std::optional<double> kVersions[] = {std::nullopt, 0.0,    -1.0,   2009.0,   2010.028, 2010.029, 2011.03, 2011.04,
                                           2011.041,     2012.0, 2012.5, 2012.999, 3000.0,   3000.5,   1e300,   kInf};
// Entries a host may lack. The reference and unlock entries are not among
// them: without those nothing taken could ever be given back.
const char* const kEntryNames[] = {
    "REALGetPropValueInt", "REALGetPropValueBool", "REALSetPropValueString", "REALSetPropValueInt",
    "PluginNewInstance", "REALLoadObjectMethod", "pluginObjectType", "newPicture", "pluginPictureGraphicsGetter",
    "REALGetPictureMask", "REALLockPictureDescription", "REALPictureClearCache", "PluginRegisterClassExtension",
    "PluginRegisterModule", "RuntimeRaiseException", "REALYieldToRB", "REALBuildString", "REALSetStringEncoding",
    "REALGetRBVersion", "RegisterPluginVersion"};
const char* const kClassNames[] = {"Picture", "NilObjectException", "OutOfMemoryException", "RuntimeException"};
const HostMethod kHostMethods[] = {HostMethod::DrawPicture, HostMethod::PictureConstructor, HostMethod::CopyMask,
                                   HostMethod::SetMask};
const int32_t kLockKinds[] = {REALdescriptionBitmapContext, REALdescriptionConsoleBuffer};
const PixelPath kPixelPaths[] = {PixelPath::Plain, PixelPath::Baseline, PixelPath::Avx2, PixelPath::Avx512};

// ---- drawing values that sit on edges ----

int32_t DrawInt(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
        case 0: return input.PickValueInArray(kEdgeInts);
        case 1: return input.ConsumeIntegralInRange(-2, 80);
        case 2: return input.ConsumeIntegralInRange(32760, 32775);
        default: return input.ConsumeIntegral<int32_t>();
    }
}

double DrawDouble(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
        case 0: return input.PickValueInArray(kEdgeDoubles);
        case 1: return input.ConsumeIntegralInRange(-80 * 256, 80 * 256) / 256.0;  // fractional coordinates
        case 2: return input.ConsumeFloatingPointInRange(-100.0, 100.0);
        default: {
            uint64_t bits = input.ConsumeIntegral<uint64_t>();
            double value;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
    }
}

int32_t DrawMode(FuzzedDataProvider& input) {
    return input.ConsumeBool() ? input.ConsumeIntegralInRange(-1, 9) : input.PickValueInArray(kEdgeInts);
}

// The library asks the host for any result size it does not refuse itself
// (plain pictures up to 32767 a side, pictures with alpha of any size), and
// the emulated host makes it however large. To keep runs fast, sizes the
// library would pass on are cut down to a small result; those it refuses
// stay as drawn. ScalingZPX builds its contribution lists and runs its
// horizontal pass before it learns that a plain result is too large: a side
// whose lists and buffer would still be allowed (below 2^28) is cut to just
// too large.
void KeepResultSmall(int32_t& width, int32_t& height, bool sourceHasAlpha) {
    const bool refused = width < 1 || height < 1 || (!sourceHasAlpha && (width > 32767 || height > 32767));
    if (refused || int64_t(width) * height <= kMaxResultPixels) return;
    int32_t& shorter = width < height ? width : height;
    int32_t& longer = width < height ? height : width;
    shorter = static_cast<int32_t>(std::min<int64_t>(shorter, kMaxResultPixels));
    longer = static_cast<int32_t>(kMaxResultPixels / shorter);
}

void KeepPassSmall(int32_t& side) {
    if (side > 32768 && side < (1 << 28)) side = 32768;
}

// ---- one method call ----

enum class Method { DrawPictureF, Scale, ScaleImageAndMask, Scaling, Blur };
const Method kMethods[] = {Method::DrawPictureF, Method::Scale, Method::ScaleImageAndMask, Method::Scaling,
                           Method::Blur};

struct Call {
    Method method = Method::Scale;
    int receiver = 0;  // a choice among the pictures at hand; 0 is nil
    int other = 0;     // DrawPictureFZPX's source, chosen alike
    int32_t width = 0, height = 0, mode = 0, ticks = 0;
    REALboolean antiAlias = 0;  // the host's byte: any non-zero value is true
    double x = 0, y = 0, alpha = 1;  // x is BlurZPX's radius

    static Call Draw(FuzzedDataProvider& input) {
        Call call;
        call.method = input.PickValueInArray(kMethods);
        call.receiver = input.ConsumeIntegralInRange(0, 31);
        call.other = input.ConsumeIntegralInRange(0, 31);
        call.width = DrawInt(input);
        call.height = DrawInt(input);
        call.mode = DrawMode(input);
        call.ticks = DrawInt(input);
        call.antiAlias = input.ConsumeIntegral<REALboolean>();
        call.x = DrawDouble(input);
        call.y = DrawDouble(input);
        call.alpha = DrawDouble(input);
        return call;
    }

    std::string Describe() const {
        char text[256];
        switch (method) {
            case Method::DrawPictureF:
                std::snprintf(text, sizeof text, "DrawPictureFZPX(#%d, #%d, x=%.17g, y=%.17g, alpha=%.17g, yield=%d)",
                              receiver, other, x, y, alpha, ticks);
                break;
            case Method::Scale:
            case Method::ScaleImageAndMask:
                std::snprintf(text, sizeof text, "%s(#%d, %d, %d, AntiAlias=%d, YieldTicks=%d)",
                              method == Method::Scale ? "ScaleZPX" : "ScaleImageAndMaskZPX", receiver, width, height,
                              antiAlias, ticks);
                break;
            case Method::Scaling:
                std::snprintf(text, sizeof text, "ScalingZPX(#%d, mode=%d, %d, %d, yield=%d)", receiver, mode, width,
                              height, ticks);
                break;
            case Method::Blur:
                std::snprintf(text, sizeof text, "BlurZPX(#%d, Radius=%.17g, yield=%d)", receiver, x, ticks);
                break;
        }
        return text;
    }
};

struct Outcome {
    REALpicture picture = nullptr;
    bool drawn = false;
};

// Method calls made in this process, nested ones included, reported at exit.
uint64_t gCalls = 0;
uint64_t gPrograms = 0;

void ReportCalls() {
    std::fprintf(stderr, "fuzz_methods: %llu method calls in %llu programs\n", (unsigned long long)gCalls,
                 (unsigned long long)gPrograms);
}

// ZPX_FUZZ_TRACE=1 prints every call before it runs, to read a saved input.
bool Tracing() {
    static const bool tracing = std::getenv("ZPX_FUZZ_TRACE") != nullptr;
    return tracing;
}

void Trace(const char* what, const Call& call) {
    if (Tracing()) std::fprintf(stderr, "%s %s\n", what, call.Describe().c_str());
}

Outcome Invoke(Call call, REALpicture receiver, REALpicture other, const char* label) {
    if (receiver != nullptr) {
        const Host& host = *Host::Current();
        KeepResultSmall(call.width, call.height, host.HasAlpha(receiver));
        if (call.method == Method::Scaling) {
            KeepPassSmall(call.width);
            KeepPassSmall(call.height);
        }
    }
    Trace(label, call);
    ++gCalls;
    switch (call.method) {
        case Method::DrawPictureF:
            return {nullptr, DrawPictureF(receiver, other, call.x, call.y, call.alpha, call.ticks)};
        case Method::Scale: return {ScalePicture(receiver, call.width, call.height, call.antiAlias, call.ticks), false};
        case Method::ScaleImageAndMask:
            return {ScalePictureImageAndMask(receiver, call.width, call.height, call.antiAlias, call.ticks), false};
        case Method::Scaling:
            return {PictureScalingZPX(receiver, call.mode, call.width, call.height, call.ticks), false};
        case Method::Blur: return {BlurZPX(receiver, call.x, call.ticks), false};
    }
    return {};
}

// ---- host code that acts in the middle of a call ----

struct HookPlan {
    // RepaintEveryTime acts on every run, with another pixel and word each time.
    enum Action { None, Throw, CallAgain, SwapMask, Repaint, RepaintEveryTime } action = None;
    int atRun = 1;  // acts on this run of the hook within the call (1-based), and on no other
    Call nested;
    int picture = 0;
    int maskWidth = 0, maskHeight = 0;
    uint32_t word = 0;

    static HookPlan Draw(FuzzedDataProvider& input) {
        HookPlan plan;
        plan.action = static_cast<Action>(input.ConsumeIntegralInRange(0, 4));  // every kind but RepaintEveryTime
        plan.atRun = input.ConsumeIntegralInRange(1, 6);
        if (plan.action == CallAgain) plan.nested = Call::Draw(input);
        plan.picture = input.ConsumeIntegralInRange(0, 31);
        plan.maskWidth = input.ConsumeIntegralInRange(0, kMaxPictureSide);
        plan.maskHeight = input.ConsumeIntegralInRange(1, kMaxPictureSide);
        plan.word = input.ConsumeIntegral<uint32_t>();
        return plan;
    }
};

// What may fail during one call.
struct Faults {
    int allocation = 0;    // this calloc of the call fails (0: none)
    int creationAt = 0;    // this picture creation fails (0: none)
    int creations = 0;     // the next this many creations fail
    int stringBuilds = 0;  // the next this many string builds throw std::bad_alloc
    HookPlan yieldHook;
    std::array<HookPlan, 4> methodHooks;

    static Faults Draw(FuzzedDataProvider& input) {
        Faults faults;
        if (!input.ConsumeBool()) return faults;
        faults.allocation = input.ConsumeIntegralInRange(0, 40);
        faults.creationAt = input.ConsumeIntegralInRange(0, 4);
        faults.creations = input.ConsumeIntegralInRange(0, 1);
        faults.stringBuilds = input.ConsumeIntegralInRange(0, 1);
        faults.yieldHook = HookPlan::Draw(input);
        for (HookPlan& plan : faults.methodHooks) {
            if (input.ConsumeBool()) plan = HookPlan::Draw(input);
        }
        return faults;
    }

    bool Any() const {
        bool hooks = yieldHook.action != HookPlan::None;
        for (const HookPlan& plan : methodHooks) hooks = hooks || plan.action != HookPlan::None;
        return allocation != 0 || creationAt != 0 || creations != 0 || stringBuilds != 0 || hooks;
    }
};

[[noreturn]] void Fail(const std::string& what, const std::string& call) {
    std::fprintf(stderr, "\n==== fuzz_methods: %s\n     during %s\n", what.c_str(), call.c_str());
    std::fflush(stderr);
    std::abort();
}

// Every word as stored, row by row; none for no picture.
std::vector<uint32_t> RawWords(const Host& host, REALpicture picture) {
    std::vector<uint32_t> words;
    if (picture == nullptr) return words;
    for (int y = 0; y < host.Height(picture); ++y) {
        for (int x = 0; x < host.Width(picture); ++x) words.push_back(host.RawWord(picture, x, y));
    }
    return words;
}

// ---- one fuzz input: a host, its pictures and a sequence of calls ----

class Session {
public:
    explicit Session(FuzzedDataProvider& input) : input_(input) {}

    void Run() {
        StartHost();
        MakePictures();
        const int calls = input_.ConsumeIntegralInRange(1, kMaxCalls);
        for (int i = 0; i < calls && input_.remaining_bytes() > 0; ++i)
            RunCall(Call::Draw(input_), Faults::Draw(input_));
        for (REALpicture picture : held_) host_->Release(picture);
        held_.clear();
        std::string problems = host_->AuditProblems({});
        if (!problems.empty()) Fail("problems after the last release:\n" + problems, "the end of the session");
        ForcePixelPath(BestPixelPath());
    }

private:
    HostConfig DrawConfig() {
        HostConfig config;
        config.version = input_.PickValueInArray(kVersions);
        config.app = static_cast<AppKind>(input_.ConsumeIntegralInRange(0, 3));
        config.plainLayout = input_.ConsumeIntegralInRange(1, 6);
        config.alphaLayout =
            input_.ConsumeBool() ? input_.ConsumeIntegralInRange(1, 2) : input_.ConsumeIntegralInRange(1, 6);
        config.rowPadding = 4 * input_.ConsumeIntegralInRange(0, 4);
        return config;
    }

    void MissEntries() {
        for (const char* name : kEntryNames) {
            if (input_.ConsumeIntegralInRange(0, 15) != 0) continue;
            host_->SetMissing(name);
            if (Tracing()) std::fprintf(stderr, "host: no entry %s\n", name);
        }
    }

    void StartHost() {
        zpxtest::ResetAllocationFaults();
        const HostConfig config = DrawConfig();
        if (Tracing())
            std::fprintf(stderr, "host: version %.17g, application %d, layouts %d/%d, row padding %d\n",
                         config.version.value_or(-12345.0), static_cast<int>(config.app), config.plainLayout,
                         config.alphaLayout, config.rowPadding);
        host_ = std::make_unique<Host>(config);
        MissEntries();  // while loading
        host_->LoadEntry(REALPluginMain);
        MissEntries();  // afterwards, for entries the library asks for later
        for (HostMethod method : kHostMethods)
            host_->SetMethodMissing(method, input_.ConsumeIntegralInRange(0, 7) == 0);
        host_->SetGraphicsMissing(input_.ConsumeIntegralInRange(0, 7) == 0);
        for (const char* name : kClassNames) host_->SetInstantiable(name, input_.ConsumeIntegralInRange(0, 7) != 0);
        for (int32_t kind : kLockKinds) host_->RefuseLocks(kind, input_.ConsumeIntegralInRange(0, 15) == 0);
        ForcePixelPath(input_.PickValueInArray(kPixelPaths));
        if (Tracing()) std::fprintf(stderr, "pixel path: %s\n", PixelPathName(ActivePixelPath()));
        everyPointHandsOver_ = input_.ConsumeBool();
        if (everyPointHandsOver_) {
            zpxtest::MakeEveryYieldPointHandOver();
        } else {
            zpxtest::SetTicks(input_.ConsumeIntegral<uint32_t>(), input_.ConsumeIntegralInRange<uint32_t>(0, 120));
            zpxtest::SetMilliseconds(input_.ConsumeIntegral<uint32_t>(),
                                     input_.ConsumeIntegralInRange<uint64_t>(0, 2000));
        }
    }

    REALpicture NewFilledPicture(int width, int height, bool alpha) {
        REALpicture picture = host_->NewPicture(width, height, alpha);
        std::vector<uint8_t> rgba(size_t(width) * height * 4);
        uint32_t state = input_.ConsumeIntegral<uint32_t>() | 1;
        const int style = input_.ConsumeIntegralInRange(0, 3);
        for (size_t i = 0; i < rgba.size(); ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const bool alphaByte = i % 4 == 3;
            if (style == 1)
                rgba[i] = alphaByte ? 0 : uint8_t(state);  // fully transparent
            else if (style == 2)
                rgba[i] = alphaByte ? 255 : uint8_t(state & 0x81);  // opaque, extremes
            else if (style == 3)
                rgba[i] = uint8_t(i / 4 * 37);  // gradient
            else
                rgba[i] = uint8_t(state);
        }
        host_->FillRGBA(picture, rgba.data());
        return picture;
    }

    void MakePictures() {
        const int count = input_.ConsumeIntegralInRange(1, kMaxPictures);
        for (int i = 0; i < count; ++i) {
            const int width = input_.ConsumeIntegralInRange(1, kMaxPictureSide);
            const int height = input_.ConsumeIntegralInRange(1, kMaxPictureSide);
            REALpicture picture = NewFilledPicture(width, height, input_.ConsumeBool());
            held_.push_back(picture);
            REALpicture mask = nullptr;
            if (input_.ConsumeBool()) {
                // Kept as a picture of its own too, so that calls can name it.
                mask = AttachNewMask(picture,
                                     input_.ConsumeBool() ? width : input_.ConsumeIntegralInRange(1, kMaxPictureSide),
                                     input_.ConsumeBool() ? height : input_.ConsumeIntegralInRange(1, kMaxPictureSide));
                held_.push_back(mask);
            }
            for (int32_t kind : kLockKinds) {
                if (input_.ConsumeIntegralInRange(0, 15) == 0) host_->RefuseLock(picture, kind);
            }
            if (Tracing())
                std::fprintf(stderr, "picture #%zu: %d x %d%s, mask %d x %d\n", held_.size() - (mask ? 1 : 0), width,
                             height, host_->HasAlpha(picture) ? " with alpha" : "", mask ? host_->Width(mask) : 0,
                             mask ? host_->Height(mask) : 0);
        }
    }

    // The host takes its own reference on the mask; the caller's stays with
    // the caller.
    REALpicture AttachNewMask(REALpicture picture, int width, int height) {
        REALpicture mask = NewFilledPicture(width, height, false);
        host_->AttachMask(picture, mask);
        return mask;
    }

    // The pictures a call can name: nil or one the caller holds (as a host's
    // caller holds its receiver and arguments throughout a call).
    REALpicture Choose(int choice) const {
        if (choice == 0 || held_.empty()) return nullptr;
        return held_[size_t(choice - 1) % held_.size()];
    }

    // A result the caller now holds one more reference to. Large results are
    // not kept as receivers: box-scaling one of them to a long thin size would
    // read the whole of it for every pixel.
    void Keep(REALpicture result) {
        if (result == nullptr) return;
        bool known = false;
        for (REALpicture picture : held_) known = known || picture == result;
        const bool large = host_->Width(result) > 2 * kMaxPictureSide || host_->Height(result) > 2 * kMaxPictureSide;
        if (known || large || held_.size() == kMaxHeld) {
            host_->Release(result);
        } else {
            held_.push_back(result);
        }
    }

    void RunHook(const HookPlan& plan, int& runs) {
        if (depth_ != 1) return;
        ++runs;
        if (plan.action == HookPlan::RepaintEveryTime) return RepaintPixel(plan, runs);
        if (runs != plan.atRun) return;
        switch (plan.action) {
            case HookPlan::None: return;
            case HookPlan::Throw: throw HostCodeThrew{};
            case HookPlan::CallAgain: {
                ++depth_;
                Outcome nested =
                    Invoke(plan.nested, Choose(plan.nested.receiver), Choose(plan.nested.other), "  from host code:");
                --depth_;
                if (nested.picture != nullptr) host_->Release(nested.picture);
                return;
            }
            case HookPlan::SwapMask: {
                REALpicture picture = Choose(1 + plan.picture);
                if (picture == nullptr) return;
                if (plan.maskWidth == 0)
                    host_->AttachMask(picture, nullptr);
                else
                    host_->Release(AttachNewMask(picture, plan.maskWidth, plan.maskHeight));
                return;
            }
            case HookPlan::Repaint:
            case HookPlan::RepaintEveryTime:
                return RepaintPixel(plan, 1);
        }
    }

    // The n-th repaint of a plan: a pixel and word of its own.
    void RepaintPixel(const HookPlan& plan, int n) {
        REALpicture picture = Choose(1 + plan.picture);
        if (picture == nullptr) return;
        const uint32_t word = plan.word * uint32_t(n);
        const int x = int((word % 64 + uint32_t(n) * 7) % uint32_t(host_->Width(picture)));
        const int y = int((word / 64 % 64 + uint32_t(n) * 3) % uint32_t(host_->Height(picture)));
        host_->SetRawWord(picture, x, y, word);
    }

    void Arm(const Faults& faults, std::array<int, 5>& runs) {
        host_->FailPictureCreation(faults.creations);
        host_->FailPictureCreationAt(faults.creationAt);
        host_->FailStringBuilds(faults.stringBuilds);
        host_->SetYieldHook([this, &faults, &runs] { RunHook(faults.yieldHook, runs[4]); });
        for (size_t m = 0; m < 4; ++m) {
            host_->SetMethodHook(kHostMethods[m],
                                 [this, &faults, &runs, m] { RunHook(faults.methodHooks[m], runs[m]); });
        }
        zpxtest::FailNthAllocation(faults.allocation);
    }

    void Disarm() {
        zpxtest::ResetAllocationFaults();
        host_->FailPictureCreation(0);
        host_->FailPictureCreationAt(0);
        host_->FailStringBuilds(0);
        host_->SetYieldHook(nullptr);
        for (HostMethod method : kHostMethods) host_->SetMethodHook(method, nullptr);
    }

    // Host code's exceptions pass through the library; so does the host's
    // std::bad_alloc from a string build it was told to fail. Anything else
    // escapes to libFuzzer as a crash.
    Outcome Attempt(const Call& call, const Faults& faults) {
        std::array<int, 5> runs{};
        Arm(faults, runs);
        Outcome outcome;
        depth_ = 1;
        try {
            outcome =
                Invoke(call, Choose(call.receiver), Choose(call.other), faults.Any() ? "call with faults:" : "call:");
        } catch (const HostCodeThrew&) {
        } catch (const std::bad_alloc&) {
            if (faults.stringBuilds == 0) throw;
        }
        depth_ = 0;
        Disarm();
        return outcome;
    }

    void CheckHost(const Call& call) {
        const std::string problems = zpxtest::AuditOf(*host_, held_);
        if (!problems.empty()) Fail("the host's audit is not clean:\n" + problems, call.Describe());
        for (size_t i = 0; i < held_.size(); ++i) {
            for (REALpicture picture : {held_[i], host_->MaskOf(held_[i])}) {
                if (picture != nullptr && !host_->PaddingIntact(picture))
                    Fail("bytes past the pixels of a row were written (picture #" + std::to_string(i + 1) + ")",
                         call.Describe());
            }
        }
    }

    void RunCall(const Call& call, const Faults& faults) {
        // The first picture a library opens teaches it the application kind,
        // which decides how later pictures are opened: both runs must start
        // knowing it.
        const bool kindKnown = IsDesktop || IsConsole;
        const bool compare =
            !faults.Any() && kindKnown && ActivePixelPath() != PixelPath::Plain && input_.ConsumeBool();
        if (compare) return RunComparedCall(call);
        Outcome outcome = Attempt(call, faults);
        Keep(outcome.picture);
        CheckHost(call);
    }

    // The call on the active path, then again on the plain path from the same
    // pixels: both must give the same bytes. Where every yield point hands
    // over, so that both runs hand over at the same points, host code may
    // draw into the source at every hand-over, the same pixels in both runs.
    void RunComparedCall(const Call& call) {
        REALpicture destination = call.method == Method::DrawPictureF ? Choose(call.receiver) : nullptr;
        const int sourceChoice = call.method == Method::DrawPictureF ? call.other : call.receiver;
        REALpicture source = Choose(sourceChoice);
        Faults faults;
        if (everyPointHandsOver_ && source != nullptr && input_.ConsumeBool()) {
            faults.yieldHook.action = HookPlan::RepaintEveryTime;
            faults.yieldHook.picture = sourceChoice - 1;
            faults.yieldHook.word = input_.ConsumeIntegral<uint32_t>();
        }
        const std::vector<uint32_t> before = RawWords(*host_, destination);
        const std::vector<uint32_t> sourceBefore = RawWords(*host_, source);
        const PixelPath path = ActivePixelPath();
        Outcome fast = Attempt(call, faults);
        const std::vector<uint32_t> fastBytes = RawWords(*host_, destination ? destination : fast.picture);
        if (source) Restore(source, sourceBefore);
        if (destination) Restore(destination, before);
        ForcePixelPath(PixelPath::Plain);
        Outcome plain = Attempt(call, faults);
        ForcePixelPath(path);
        const std::vector<uint32_t> plainBytes = RawWords(*host_, destination ? destination : plain.picture);
        const bool sameShape = (fast.picture == nullptr) == (plain.picture == nullptr) && fast.drawn == plain.drawn &&
                               SameShape(fast.picture, plain.picture);
        if (!sameShape || fastBytes != plainBytes)
            Fail(std::string("the ") + PixelPathName(path) + " path differs from the plain path" +
                     FirstDifference(fastBytes, plainBytes),
                 call.Describe());
        Keep(fast.picture);
        Keep(plain.picture);
        CheckHost(call);
    }

    static std::string FirstDifference(const std::vector<uint32_t>& fast, const std::vector<uint32_t>& plain) {
        for (size_t i = 0; i < std::min(fast.size(), plain.size()); ++i) {
            if (fast[i] == plain[i]) continue;
            char text[96];
            std::snprintf(text, sizeof text, " (pixel %zu: %08x, plain %08x)", i, fast[i], plain[i]);
            return text;
        }
        return " (" + std::to_string(fast.size()) + " pixels, plain " + std::to_string(plain.size()) + ")";
    }

    bool SameShape(REALpicture a, REALpicture b) const {
        if (a == nullptr || b == nullptr) return true;
        return host_->Width(a) == host_->Width(b) && host_->Height(a) == host_->Height(b) &&
               host_->HasAlpha(a) == host_->HasAlpha(b);
    }

    void Restore(REALpicture picture, const std::vector<uint32_t>& words) {
        size_t i = 0;
        for (int y = 0; y < host_->Height(picture); ++y) {
            for (int x = 0; x < host_->Width(picture); ++x) host_->SetRawWord(picture, x, y, words[i++]);
        }
    }

    FuzzedDataProvider& input_;
    std::unique_ptr<Host> host_;
    std::vector<REALpicture> held_;
    int depth_ = 0;
    bool everyPointHandsOver_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(ReportCalls);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ++gPrograms;
    FuzzedDataProvider input(data, size);
    Session(input).Run();
    return 0;
}
