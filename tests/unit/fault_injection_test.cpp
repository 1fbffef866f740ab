// Fault injection for the five methods, on desktop, older desktop and console
// hosts, with and without alpha channel and mask (and AntiAlias for the
// scalers). A clean call is profiled first: its allocations, the host entries
// it asks for, the pictures it has the host create, its locks, its yield
// points and the host methods it runs. Then, each in a fresh host, every one
// of them fails in turn:
//   allocation    the n-th calloc of the call returns null;
//   missing entry one host entry the call asked for is missing;
//   creation      the k-th picture creation fails, instances of Picture,
//                 Graphics objects or one host method are unavailable;
//   lock          one picture's lock in either kind, the n-th lock request,
//                 or every request is refused, or one picture's lock is
//                 granted with a description the views cannot use;
//   exception     host code throws: the yield hook at every yield point, and
//                 every call of DrawPicture, the Picture constructor,
//                 CopyMask and the mask setter.
// After each: no crash, the exception (if any) reaches the caller, otherwise
// the result is the clean one or one of the method's documented fallbacks, or
// nil (false, the destination untouched) where the failure leaves the method
// nothing to work with; the inputs are unchanged, and the host's audit finds
// nothing left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "effects/Blur.h"
#include "effects/DrawPictureF.h"
#include "host/Host.h"
#include "lanes/PixelPath.h"
#include "plugin/PluginMain.h"
#include "resample/Resampler.h"
#include "scale/Scalers.h"
#include "tests/support/AllocationFaults.h"
#include "tests/support/LockFaults.h"
#include "tests/support/Pictures.h"
#include "tests/support/TestClock.h"

namespace {

using zpxhost::AppKind;
using zpxhost::Host;
using zpxhost::HostConfig;
using zpxhost::HostMethod;
using zpxhost::RGBA;
using zpxhost::Spoiled;

// ---- the methods and the variants they run in ----

enum class Method { DrawPictureF, ScaleZPX, ScaleImageAndMaskZPX, ScalingZPX, BlurZPX };

const char* NameOf(Method method) {
    return std::array{"DrawPictureF", "ScaleZPX", "ScaleImageAndMaskZPX", "ScalingZPX", "BlurZPX"}[size_t(method)];
}

struct HostKind {
    const char* name;
    AppKind app;
    double version;
    int32_t servedKind;  // the description kind this host hands out
};

// An older host (below 2012.0) keeps a refused lock open until it is undone.
const HostKind kHostKinds[] = {
    {"Desktop", AppKind::Desktop, 2019.0, REALdescriptionBitmapContext},
    {"OlderDesktop", AppKind::Desktop, 2011.5, REALdescriptionBitmapContext},
    {"Console", AppKind::Console, 2019.0, REALdescriptionConsoleBuffer},
};

struct Variant {
    Method method;
    HostKind host;
    bool alpha;
    bool mask;
    bool antiAlias;

    HostConfig Config() const { return zpxtest::HostOf(host.app, host.version); }
    std::string Name() const {
        return std::string(NameOf(method)) + host.name + (alpha ? "Alpha" : "") + (mask ? "Mask" : "") +
               (antiAlias ? "AntiAlias" : "");
    }
};

void PrintTo(Method method, std::ostream* out) { *out << NameOf(method); }

bool TakesMask(Method method) { return method == Method::DrawPictureF || method == Method::ScaleImageAndMaskZPX; }
bool TakesAntiAlias(Method method) { return method == Method::ScaleZPX || method == Method::ScaleImageAndMaskZPX; }

std::vector<Variant> EveryVariant() {
    std::vector<Variant> variants;
    for (Method method :
         {Method::DrawPictureF, Method::ScaleZPX, Method::ScaleImageAndMaskZPX, Method::ScalingZPX, Method::BlurZPX}) {
        for (const HostKind& host : kHostKinds) {
            for (bool alpha : {false, true}) {
                for (bool mask : {false, true}) {
                    if (mask && !TakesMask(method)) continue;
                    for (bool antiAlias : {false, true}) {
                        if (antiAlias && !TakesAntiAlias(method)) continue;
                        variants.push_back({method, host, alpha, mask, antiAlias});
                    }
                }
            }
        }
    }
    return variants;
}

// ---- inputs ----

// Opacity 0, 127 or 255, and mask levels 0 (opaque) or 64..255, mixed.
uint8_t Opacity(int x, int y) { return static_cast<uint8_t>(((x + y) % 3) * 255 / 2); }
int MaskLevel(int x, int y) { return (x + 2 * y) % 3 == 0 ? 0 : 64 + (x * 97 + y * 61) % 192; }

// A pattern where the picture is opaque and unmasked, white elsewhere: a copy
// the host draws through the mask or over white then holds exactly the
// picture's colours, so a failure that makes the library read a picture
// through such a copy must still give the clean result.
REALpicture Picture(Host& host, int width, int height, bool alpha, bool withMask, int shift) {
    REALpicture picture = zpxtest::MakePicture(host, width, height, alpha, [&](int x, int y) {
        const uint8_t opacity = alpha ? Opacity(x + shift, y) : 255;
        const bool masked = withMask && MaskLevel(x, y) != 0;
        if (opacity < 255 || masked) return RGBA{255, 255, 255, opacity};
        return zpxtest::TestPattern(x + shift, y);
    });
    if (withMask) zpxtest::AttachMask(host, picture, MaskLevel);
    return picture;
}

// The pictures of one call, each with one reference held by the test. The
// source is DrawPictureF's picture to draw; the other methods have none.
struct Inputs {
    REALpicture receiver = nullptr;
    REALpicture source = nullptr;
};

Inputs MakeInputs(Host& host, const Variant& variant) {
    if (variant.method == Method::DrawPictureF) {
        return {Picture(host, 6, 5, variant.alpha, false, 7), Picture(host, 4, 3, variant.alpha, variant.mask, 0)};
    }
    return {Picture(host, 5, 4, variant.alpha, variant.mask, 0), nullptr};
}

// Every input picture and its mask, in a fixed order, so that the same role
// can be found in another host.
std::vector<REALpicture> InputPictures(const Host& host, const Inputs& inputs) {
    std::vector<REALpicture> pictures;
    for (REALpicture picture : {inputs.receiver, inputs.source}) {
        pictures.push_back(picture);
        pictures.push_back(picture != nullptr ? host.MaskOf(picture) : nullptr);
    }
    return pictures;
}

// A fresh host with the library loaded and the variant's pictures made.
struct Session {
    explicit Session(const Variant& variant) : host(variant.Config()) {
        zpxtest::LoadCountingLocks(REALPluginMain);
        inputs = MakeInputs(host, variant);
        host.ResetAsks();
        zpxtest::RefuseNthLock(0);
        zpxtest::ResetAllocationFaults();
    }
    Host host;
    Inputs inputs;
};

// ---- outcomes ----

struct HostCodeFailure : std::runtime_error {
    HostCodeFailure() : std::runtime_error("host code failed") {}
};

struct Image {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;
    std::vector<RGBA> pixels;
    bool operator==(const Image& o) const {
        return width == o.width && height == o.height && hasAlpha == o.hasAlpha && pixels == o.pixels;
    }
};

Image ImageOf(const Host& host, REALpicture picture) {
    return {host.Width(picture), host.Height(picture), host.HasAlpha(picture), zpxtest::StoredPixels(host, picture)};
}

// A mask that is black everywhere hides nothing and counts as none: the host
// makes the result's mask that way, and it stays so when the scaled mask
// cannot be drawn into it.
std::optional<Image> MaskImageOf(const Host& host, REALpicture picture) {
    if (picture == nullptr || host.MaskOf(picture) == nullptr) return std::nullopt;
    Image mask = ImageOf(host, host.MaskOf(picture));
    for (const RGBA& level : mask.pixels) {
        if (level.r != 0) return mask;
    }
    return std::nullopt;
}

enum class Result { Threw, Failed, Succeeded, Broken };

struct Outcome {
    Result result = Result::Broken;
    Image image;                // the new picture, or DrawPictureF's destination after the call
    std::optional<Image> mask;  // the new picture's mask
    bool paddingIntact = true;
    std::string problem;  // what made the outcome Broken
};

constexpr int32_t kYield = 1;
// DrawPictureF: a fractional position, part strength.
constexpr double kDrawX = 1.5, kDrawY = 0.25, kDrawAlpha = 0.75;
// The scalers enlarge both ways (so AntiAlias counts); ScalingZPX shrinks one
// way and enlarges the other, taller than wide, so both list arrays are needed.
constexpr int kScaledWidth = 7, kScaledHeight = 6;
constexpr int32_t kScalingMode = 6, kScalingWidth = 4, kScalingHeight = 6;
constexpr double kBlurRadius = 1.5;

REALpicture CallForPicture(const Variant& variant, REALpicture receiver) {
    switch (variant.method) {
        case Method::ScaleZPX:
            return ScalePicture(receiver, kScaledWidth, kScaledHeight, variant.antiAlias, kYield);
        case Method::ScaleImageAndMaskZPX:
            return ScalePictureImageAndMask(receiver, kScaledWidth, kScaledHeight, variant.antiAlias, kYield);
        case Method::ScalingZPX:
            return PictureScalingZPX(receiver, kScalingMode, kScalingWidth, kScalingHeight, kYield);
        case Method::BlurZPX:
            return BlurZPX(receiver, kBlurRadius, kYield);
        case Method::DrawPictureF:
            break;
    }
    return nullptr;
}

// Takes what a new picture holds and drops the caller's reference to it.
void TakeResult(Host& host, REALpicture result, Outcome& outcome) {
    if (result == nullptr) {
        outcome.result = Result::Failed;
        return;
    }
    try {
        outcome.image = ImageOf(host, result);
        outcome.mask = MaskImageOf(host, result);
        outcome.paddingIntact = host.PaddingIntact(result);
        host.Release(result);
        outcome.result = Result::Succeeded;
    } catch (const std::exception& e) {
        outcome.problem = std::string("the result is no live picture: ") + e.what();
    }
}

Outcome CallMethod(Session& session, const Variant& variant) {
    Host& host = session.host;
    const Inputs& in = session.inputs;
    Outcome outcome;
    try {
        if (variant.method == Method::DrawPictureF) {
            const bool drawn = DrawPictureF(in.receiver, in.source, kDrawX, kDrawY, kDrawAlpha, kYield);
            outcome.result = drawn ? Result::Succeeded : Result::Failed;
            outcome.image = ImageOf(host, in.receiver);
            outcome.paddingIntact = host.PaddingIntact(in.receiver);
            return outcome;
        }
        TakeResult(host, CallForPicture(variant, in.receiver), outcome);
    } catch (const HostCodeFailure&) {
        outcome.result = Result::Threw;
    } catch (const std::exception& e) {
        outcome.problem = std::string("unexpected exception: ") + e.what();
    }
    return outcome;
}

// ---- the clean call ----

constexpr HostMethod kHostMethods[] = {HostMethod::DrawPicture, HostMethod::PictureConstructor, HostMethod::CopyMask,
                                       HostMethod::SetMask};
const char* NameOf(HostMethod method) {
    return std::array{"DrawPicture", "Picture constructor", "CopyMask", "mask setter"}[size_t(method)];
}

// Every entry name the library may ask of the host's resolver after loading.
const char* const kEntryNames[] = {
    "REALLockObject", "REALUnlockObject", "REALGetPropValueInt", "REALGetPropValueBool", "REALSetPropValueString",
    "REALSetPropValueInt", "PluginNewInstance", "REALLoadObjectMethod", "pluginObjectType", "newPicture",
    "pluginPictureGraphicsGetter", "REALGetPictureMask", "REALLockPictureDescription", "unlockPictureDescription",
    "REALPictureClearCache", "RuntimeRaiseException", "REALYieldToRB", "REALBuildString", "REALSetStringEncoding",
    "REALUnlockString"};

struct Profile {
    Outcome outcome;
    int allocations = 0;
    int creations = 0;
    int yields = 0;
    int lockRequests = 0;
    std::vector<std::string> entries;
    std::map<HostMethod, int> methodCalls;
    std::vector<int> lockedRoles;  // indices into InputPictures
};

Profile ProfileCleanCall(const Variant& variant) {
    Session session(variant);
    Host& host = session.host;
    Profile profile;
    const int creationsBefore = host.PictureCreations();
    profile.outcome = CallMethod(session, variant);
    profile.allocations = zpxtest::AllocationsSeen();
    profile.lockRequests = zpxtest::LockRequests();
    profile.creations = host.PictureCreations() - creationsBefore;
    profile.yields = host.Yields();
    for (const char* name : kEntryNames) {
        if (host.Asks(name) > 0) profile.entries.push_back(name);
    }
    for (HostMethod method : kHostMethods) profile.methodCalls[method] = host.MethodCalls(method);
    const std::vector<REALpicture> pictures = InputPictures(host, session.inputs);
    for (size_t role = 0; role < pictures.size(); ++role) {
        if (pictures[role] != nullptr && host.LockCount(pictures[role]) > 0) profile.lockedRoles.push_back(int(role));
    }
    return profile;
}

// ---- the fault cases ----

enum class FaultKind { Allocation, MissingEntry, Creation, Lock, Exception };
constexpr FaultKind kFaultKinds[] = {FaultKind::Allocation, FaultKind::MissingEntry, FaultKind::Creation,
                                     FaultKind::Lock, FaultKind::Exception};
const char* NameOf(FaultKind kind) {
    return std::array{"allocation", "missing entry", "creation", "lock", "exception"}[size_t(kind)];
}

struct FaultCase {
    FaultKind kind;
    std::string name;
    std::function<void(Session&)> arrange;  // runs right before the call
    bool mayFail = true;                    // false: the method must still give a result
};

// The scalers only allocate the smooth scaler's tables, and box-scale without them.
bool AllocatesOnlyWhatItCanDoWithout(Method method) {
    return method == Method::ScaleZPX || method == Method::ScaleImageAndMaskZPX;
}

void AddAllocationCases(const Variant& variant, const Profile& clean, std::vector<FaultCase>& cases) {
    for (int n = 1; n <= clean.allocations; ++n) {
        cases.push_back({FaultKind::Allocation, "allocation " + std::to_string(n),
                         [n](Session&) { zpxtest::FailNthAllocation(n); },
                         !AllocatesOnlyWhatItCanDoWithout(variant.method)});
    }
}

// Entries a method can do without: telling the host of changed pixels,
// yielding, learning the application kind (the locks tell it), the mask
// (drawn or scaled without one) and the alpha flag (read as plain).
bool CanDoWithout(const std::string& entry) {
    static const std::set<std::string> optional = {"REALPictureClearCache", "REALYieldToRB", "pluginObjectType",
                                                   "REALGetPictureMask", "REALGetPropValueBool"};
    return optional.count(entry) > 0;
}

void AddMissingEntryCases(const Profile& clean, std::vector<FaultCase>& cases) {
    for (const std::string& name : clean.entries) {
        cases.push_back({FaultKind::MissingEntry, "no " + name, [name](Session& s) { s.host.SetMissing(name); },
                         !CanDoWithout(name)});
    }
}

bool Asked(const Profile& clean, const std::string& name) {
    return std::find(clean.entries.begin(), clean.entries.end(), name) != clean.entries.end();
}

void AddCreationCases(const Profile& clean, std::vector<FaultCase>& cases) {
    for (int k = 1; k <= clean.creations; ++k) {
        cases.push_back({FaultKind::Creation, "creation " + std::to_string(k),
                         [k](Session& s) { s.host.FailPictureCreationAt(k); }});
    }
    if (Asked(clean, "PluginNewInstance")) {
        cases.push_back({FaultKind::Creation, "Picture not instantiable",
                         [](Session& s) { s.host.SetInstantiable("Picture", false); }});
    }
    // The host's drawing only copies pixels and masks; without it they are
    // copied directly, or left as the host made them.
    if (Asked(clean, "pluginPictureGraphicsGetter")) {
        cases.push_back({FaultKind::Creation, "no Graphics", [](Session& s) { s.host.SetGraphicsMissing(); }, false});
    }
    for (HostMethod method : kHostMethods) {
        const bool used = clean.methodCalls.at(method) > 0;
        cases.push_back({FaultKind::Creation, std::string("no ") + NameOf(method),
                         [method](Session& s) { s.host.SetMethodMissing(method); },
                         used && method == HostMethod::PictureConstructor});
    }
}

void AddLockCases(const Variant& variant, const Profile& clean, std::vector<FaultCase>& cases) {
    const int32_t served = variant.host.servedKind;
    for (int role : clean.lockedRoles) {
        for (int32_t kind : {REALdescriptionBitmapContext, REALdescriptionConsoleBuffer}) {
            cases.push_back(
                {FaultKind::Lock, "input " + std::to_string(role) + " refuses kind " + std::to_string(kind),
                 [role, kind](Session& s) { s.host.RefuseLock(InputPictures(s.host, s.inputs)[size_t(role)], kind); },
                 kind == served});
        }
    }
    // A lock granted with a description or console block the views cannot use.
    for (int role : clean.lockedRoles) {
        for (Spoiled spoiled : zpxtest::SpoilsOf(variant.host.app)) {
            cases.push_back({FaultKind::Lock,
                             "input " + std::to_string(role) + " spoiled " + std::to_string(static_cast<int>(spoiled)),
                             [role, spoiled](Session& s) {
                                 s.host.Spoil(InputPictures(s.host, s.inputs)[size_t(role)], spoiled);
                             }});
        }
    }
    for (int n = 1; n <= clean.lockRequests; ++n) {
        cases.push_back({FaultKind::Lock, "lock request " + std::to_string(n) + " refused",
                         [n](Session&) { zpxtest::RefuseNthLock(n); }});
    }
    cases.push_back({FaultKind::Lock, "every lock refused", [served](Session& s) { s.host.RefuseLocks(served); }});
}

// Throws on the n-th run of the hook. The host runs a copy of its hook each
// time, so the count lives outside it.
std::function<void()> ThrowingOnCall(int n) {
    auto calls = std::make_shared<int>(0);
    return [n, calls] {
        if (++*calls == n) throw HostCodeFailure();
    };
}

void AddExceptionCases(const Profile& clean, std::vector<FaultCase>& cases) {
    for (int n = 1; n <= clean.yields; ++n) {
        cases.push_back({FaultKind::Exception, "throw at yield " + std::to_string(n),
                         [n](Session& s) { s.host.SetYieldHook(ThrowingOnCall(n)); }});
    }
    for (auto [method, calls] : clean.methodCalls) {
        for (int n = 1; n <= calls; ++n) {
            cases.push_back({FaultKind::Exception,
                             std::string("throw from ") + NameOf(method) + " call " + std::to_string(n),
                             [method = method, n](Session& s) { s.host.SetMethodHook(method, ThrowingOnCall(n)); }});
        }
    }
}

std::vector<FaultCase> FaultCases(const Variant& variant, const Profile& clean) {
    std::vector<FaultCase> cases;
    AddAllocationCases(variant, clean, cases);
    AddMissingEntryCases(clean, cases);
    AddCreationCases(clean, cases);
    AddLockCases(variant, clean, cases);
    AddExceptionCases(clean, cases);
    return cases;
}

// ---- what a failure may give ----

// Results the methods document for a host or memory that cannot serve them:
// each arrangement's clean result is as acceptable as the undisturbed one.
struct Fallback {
    const char* name;
    std::function<bool(const Variant&)> applies;
    std::function<void(Session&, Variant&)> arrange;
};

const std::vector<Fallback>& Fallbacks() {
    static const std::vector<Fallback> fallbacks = {
        // The scalers box-scale what the smooth scaler cannot (no tables).
        {"box scaling", [](const Variant& v) { return v.antiAlias; },
         [](Session&, Variant& v) { v.antiAlias = false; }},
        // Drawing without the mask entry draws unmasked.
        {"unmasked drawing", [](const Variant& v) { return v.method == Method::DrawPictureF && v.mask; },
         [](Session& s, Variant&) { s.host.SetMissing("REALGetPictureMask"); }},
        // A picture whose alpha channel the host does not report is read as a
        // plain one, its colours as stored (premultiplied), and gives a plain result.
        {"alpha channel unknown", [](const Variant& v) { return v.alpha; },
         [](Session& s, Variant&) { s.host.SetMissing("REALGetPropValueBool"); }},
        // Without the host's drawing, the plain copy of a picture with an alpha
        // channel holds the console buffer's words as they are, or nothing at
        // all on the desktop.
        {"no host drawing", [](const Variant& v) { return v.method == Method::ScaleImageAndMaskZPX && v.alpha; },
         [](Session& s, Variant&) { s.host.SetGraphicsMissing(); }},
    };
    return fallbacks;
}

struct Accepted {
    std::vector<Image> images;
    std::vector<std::optional<Image>> masks;
};

Accepted AcceptedResults(const Variant& variant, const Profile& clean) {
    Accepted accepted{{clean.outcome.image}, {clean.outcome.mask}};
    for (const Fallback& fallback : Fallbacks()) {
        if (!fallback.applies(variant)) continue;
        Variant changed = variant;
        Session session(variant);
        fallback.arrange(session, changed);
        const Outcome outcome = CallMethod(session, changed);
        EXPECT_EQ(outcome.result, Result::Succeeded) << fallback.name;
        accepted.images.push_back(outcome.image);
        accepted.masks.push_back(outcome.mask);
    }
    // ScaleImageAndMaskZPX returns the scaled image without a mask when a mask step cannot be done.
    if (variant.method == Method::ScaleImageAndMaskZPX) accepted.masks.push_back(std::nullopt);
    return accepted;
}

// ScalingZPX gives a column or row whose contribution list it could not
// allocate black; every other pixel is the clean one.
bool CleanOrBlack(const Image& got, const Image& clean) {
    if (got.width != clean.width || got.height != clean.height || got.hasAlpha != clean.hasAlpha) return false;
    for (size_t i = 0; i < got.pixels.size(); ++i) {
        const RGBA& p = got.pixels[i];
        if (p != clean.pixels[i] && (p.r != 0 || p.g != 0 || p.b != 0)) return false;
    }
    return true;
}

template <class T>
bool OneOf(const T& value, const std::vector<T>& values) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

std::string Judge(const Variant& variant, const FaultCase& fault, const Outcome& got, const Accepted& accepted,
                  const Image& destinationBefore) {
    if (got.result == Result::Broken) return got.problem;
    if (fault.kind == FaultKind::Exception) {
        return got.result == Result::Threw ? "" : "the exception did not reach the caller";
    }
    if (got.result == Result::Threw) return "threw without a throwing host";
    if (!got.paddingIntact) return "wrote past the end of a row";
    if (got.result == Result::Failed) {
        if (!fault.mayFail) return "failed where the method can do without what failed";
        const bool untouched = variant.method != Method::DrawPictureF || got.image == destinationBefore;
        return untouched ? "" : "failed, yet changed the destination";
    }
    const bool blackLines = variant.method == Method::ScalingZPX && fault.kind == FaultKind::Allocation &&
                            CleanOrBlack(got.image, accepted.images.front());
    if (!blackLines && !OneOf(got.image, accepted.images))
        return "pixels neither the clean nor a documented fallback result";
    if (!OneOf(got.mask, accepted.masks)) return "mask neither the clean nor a documented fallback mask";
    return "";
}

std::vector<Image> InputImages(const Host& host, const Inputs& inputs) {
    std::vector<Image> images;
    for (REALpicture picture : InputPictures(host, inputs)) {
        if (picture != nullptr) images.push_back(ImageOf(host, picture));
    }
    return images;
}

// ---- the suites ----

class FaultInjection : public ::testing::TestWithParam<Method> {
protected:
    void SetUp() override { zpxtest::MakeEveryYieldPointHandOver(); }
    void TearDown() override {
        zpxtest::ResetAllocationFaults();
        zpxtest::RefuseNthLock(0);
    }
};

// One fault in a fresh host: what went wrong, or "".
std::string RunFaultCase(const Variant& variant, const FaultCase& fault, const Accepted& accepted) {
    Session session(variant);
    Host& host = session.host;
    const std::vector<Image> inputsBefore = InputImages(host, session.inputs);
    fault.arrange(session);
    const Outcome got = CallMethod(session, variant);
    zpxtest::ResetAllocationFaults();
    zpxtest::RefuseNthLock(0);
    host.SetYieldHook(nullptr);
    for (HostMethod method : kHostMethods) host.SetMethodHook(method, nullptr);

    std::string problems = Judge(variant, fault, got, accepted, inputsBefore.front());
    if (!host.Raised().empty()) problems += "; raised " + host.Raised().front().className;
    try {
        std::vector<Image> inputsAfter = InputImages(host, session.inputs);
        // DrawPictureF writes its destination, the first input.
        if (variant.method == Method::DrawPictureF) inputsAfter.front() = inputsBefore.front();
        if (inputsAfter != inputsBefore) problems += "; an input picture changed";
    } catch (const std::exception& e) {
        problems += std::string("; an input picture is gone: ") + e.what();
    }
    const std::string audit = host.AuditProblems({session.inputs.receiver, session.inputs.source});
    if (!audit.empty()) problems += "; audit: " + audit;
    return problems;
}

TEST_P(FaultInjection, EveryFaultInTurnLeavesNothingBehind) {
    for (const Variant& variant : EveryVariant()) {
        if (variant.method != GetParam()) continue;
        const Profile clean = ProfileCleanCall(variant);
        ASSERT_EQ(clean.outcome.result, Result::Succeeded) << variant.Name() << ": " << clean.outcome.problem;
        const Accepted accepted = AcceptedResults(variant, clean);
        for (const FaultCase& fault : FaultCases(variant, clean)) {
            const std::string problems = RunFaultCase(variant, fault, accepted);
            EXPECT_TRUE(problems.empty()) << variant.Name() << ", " << fault.name << ": " << problems;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, FaultInjection,
                         ::testing::Values(Method::DrawPictureF, Method::ScaleZPX, Method::ScaleImageAndMaskZPX,
                                           Method::ScalingZPX, Method::BlurZPX),
                         [](const ::testing::TestParamInfo<Method>& info) { return NameOf(info.param); });

// The number of cases the suite above runs, by kind, for the README. Counted
// here again because each test may run in a process of its own. The vector
// pixel paths allocate a few working rows more than the plain one.
TEST(FaultInjectionTotals, CountsTheCases) {
    zpxtest::MakeEveryYieldPointHandOver();
    std::map<FaultKind, int> counts;
    int total = 0;
    for (const Variant& variant : EveryVariant()) {
        for (const FaultCase& fault : FaultCases(variant, ProfileCleanCall(variant))) {
            ++counts[fault.kind];
            ++total;
        }
    }
    zpxtest::ResetAllocationFaults();
    std::ostringstream line;
    line << total << " fault cases over " << EveryVariant().size() << " method variants on the "
         << PixelPathName(ActivePixelPath()) << " pixel path:";
    for (FaultKind kind : kFaultKinds) {
        line << " " << NameOf(kind) << " " << counts[kind] << (kind == FaultKind::Exception ? "" : ",");
        std::string key = NameOf(kind);
        for (char& c : key) c = c == ' ' ? '_' : c;
        RecordProperty(key, counts[kind]);
    }
    RecordProperty("fault_cases", total);
    std::printf("%s\n", line.str().c_str());
    EXPECT_GT(total, 0);
}

}  // namespace
