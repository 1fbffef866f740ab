// The emulated host's side of registration: reading declarations, loading,
// and calling a registered function by its declaration. (Its decoding of the
// class and module records is what registration_test reads back for every
// host generation.)
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <stdexcept>

#include "host/Host.h"

namespace {

using zpxhost::Host;
using zpxhost::ParsedDeclaration;
using zpxhost::ParseDeclaration;
using zpxhost::Value;
using zpxhost::ValueType;

template <typename Fn>
Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(Host::Resolve(name));
}

// Declarations with defaults in either form are read by the calls below.
TEST(HostDeclarations, ReadsTheHostsOwnMethodsAndRefusesMalformedOnes) {
    const ParsedDeclaration draw = ParseDeclaration(REAL_DRAWPICTURE_DECLARATION);
    ASSERT_TRUE(draw.valid) << draw.error;
    ASSERT_EQ(draw.parameters.size(), 9u);
    EXPECT_EQ(std::get<int32_t>(*draw.parameters[7].defaultValue), -10000);
    EXPECT_EQ(draw.result, ValueType::None);
    const ParsedDeclaration copyMask = ParseDeclaration(REAL_COPYMASK_DECLARATION);
    EXPECT_TRUE(copyMask.valid && copyMask.parameters.empty() && copyMask.result == ValueType::Picture);
    const ParsedDeclaration setMask = ParseDeclaration(REAL_SETMASK_DECLARATION);
    EXPECT_TRUE(setMask.valid && setMask.parameters.size() == 1 && setMask.parameters[0].assigns);
    EXPECT_TRUE(ParseDeclaration("Name()").valid);
    for (const char* bad : {"", "F(x as string)", "F(x integer)", "F(a as integer, extends b as picture)",
                            "F(x as integer = 1.5)", "F(x as boolean = 0)", "F(x as integer", "F() as integer x"})
        EXPECT_FALSE(ParseDeclaration(bad).valid) << bad;
}

// ---- a small library of our own, called by declaration ----

struct Recorded {
    REALpicture self = nullptr, pic = nullptr;
    double x = 0, y = 0, alpha = 0;
    int32_t yield = -1;
};
Recorded gRecorded;
REALboolean gFlag = 0;
REALResolver gTestResolver = nullptr;

bool Record(REALpicture self, REALpicture pic, double x, double y, double alpha, int32_t yield) {
    gRecorded = {self, pic, x, y, alpha, yield};
    return x < y;
}

// Makes a width x height picture; a true flag hands control to the host first.
REALpicture Make(REALpicture, int32_t width, int32_t height, REALboolean yieldFirst, int32_t) {
    gFlag = yieldFirst;
    if (yieldFirst != 0) reinterpret_cast<REALYieldToRBFn>(gTestResolver("REALYieldToRB"))();
    return reinterpret_cast<REALNewPictureFn>(gTestResolver("newPicture"))(width, height, 32);
}

REALmethodDefinition classRows[] = {
        {reinterpret_cast<void*>(&Record), nullptr,
         "Record(pic as picture, x as double, y as double, alpha as double = 1.0, yield as integer = 0) as boolean", 0,
         0, 0},
        {reinterpret_cast<void*>(&Make), nullptr,
         "Make(width as integer, height as integer, yieldFirst as boolean=false, unused as integer=0) as picture", 0, 0,
         0}};

void RegisterTestMethods(REALResolver resolver, bool asModule) {
    gTestResolver = resolver;
    static REALmethodDefinition moduleRows[] = {
        {reinterpret_cast<void*>(&Record), nullptr,
         "Record(extends ref as Picture, pic as picture, x as double, y as double, alpha as double = 1.0, yield as "
         "integer = 0) as boolean",
         0x10, 0, 0}};
    if (asModule) {
        static REALmoduleDefinition module{11, "TestModule", moduleRows, 1, {}};
        reinterpret_cast<REALRegisterModuleFn>(resolver("PluginRegisterModule"))(&module);
    } else {
        static REALclassDefinition picture{};
        picture.version = 13;
        picture.name = "Picture";
        picture.methods = classRows;
        picture.methodCount = 2;
        reinterpret_cast<REALRegisterClassExtensionFn>(resolver("PluginRegisterClassExtension"))(&picture);
    }
}

void ClassPluginMain(REALResolver resolver) { RegisterTestMethods(resolver, false); }
void ModulePluginMain(REALResolver resolver) { RegisterTestMethods(resolver, true); }

TEST(HostCall, PassesDeclaredTypesAndFillsDefaults) {
    for (REALPluginMainFn entry : {&ClassPluginMain, &ModulePluginMain}) {
        Host host;
        host.LoadEntry(entry);
        REALpicture self = host.NewPicture(1, 1, false);
        REALpicture other = host.NewPicture(1, 1, true);
        Value result = host.Call("record", self, {other, 1.5, int32_t(2)});
        EXPECT_EQ(std::get<bool>(result), true);
        EXPECT_EQ(gRecorded.self, self);
        EXPECT_EQ(gRecorded.pic, other);
        EXPECT_EQ(gRecorded.x, 1.5);
        EXPECT_EQ(gRecorded.y, 2.0);
        EXPECT_EQ(gRecorded.alpha, 1.0);
        EXPECT_EQ(gRecorded.yield, 0);
        result = host.Call("Record", self, {REALpicture{nullptr}, 3.0, -1.0, std::monostate{}, int32_t(-50)});
        EXPECT_EQ(std::get<bool>(result), false);
        EXPECT_EQ(gRecorded.pic, nullptr);
        EXPECT_EQ(gRecorded.alpha, 1.0);
        EXPECT_EQ(gRecorded.yield, -50);

        EXPECT_THROW(host.Call("Record", self, {other, true, 1.0}), std::invalid_argument);
        EXPECT_THROW(host.Call("Record", self, {other, 1.0}), std::invalid_argument);
        EXPECT_THROW(host.Call("Record", self, {other, 1.0, 1.0, 1.0, int32_t(0), int32_t(0)}), std::invalid_argument);
        EXPECT_THROW(host.Call("Unknown", self, {}), std::invalid_argument);
        host.Release(self);
        host.Release(other);
    }
}

TEST(HostCall, ReturnsPicturesAndLetsHostExceptionsThrough) {
    Host host;
    host.LoadEntry(&ClassPluginMain);
    Value made = host.Call("Make", nullptr, {int32_t(3), int32_t(2)});
    REALpicture picture = std::get<REALpicture>(made);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(host.Width(picture), 3);
    EXPECT_EQ(host.AuditProblems({picture}), "");
    host.Release(picture);

    host.SetYieldHook([] { throw std::runtime_error("stop"); });
    EXPECT_THROW(host.Call("Make", nullptr, {int32_t(3), int32_t(2), true}), std::runtime_error);
    EXPECT_EQ(host.Yields(), 1);
    EXPECT_EQ(host.AuditProblems({}), "");
}

// A true argument reaches the method as the configured byte, or as a byte
// drawn for each call that is never 0 or 1.
TEST(HostCall, PassesTrueAsTheConfiguredByteOrOneDrawnPerCall) {
    std::set<int> drawn;
    for (uint8_t trueByte : {0x80, 0x00}) {
        zpxhost::HostConfig config;
        config.trueByte = trueByte;
        Host host(config);
        host.LoadEntry(&ClassPluginMain);
        for (int call = 0; call < 8; ++call) {
            host.Release(std::get<REALpicture>(host.Call("Make", nullptr, {int32_t(1), int32_t(1), true})));
            if (trueByte != 0) {
                EXPECT_EQ(gFlag, trueByte);
            } else {
                drawn.insert(gFlag);
            }
        }
        host.Release(std::get<REALpicture>(host.Call("Make", nullptr, {int32_t(1), int32_t(1), false})));
        EXPECT_EQ(gFlag, 0);
    }
    EXPECT_GT(drawn.size(), 1u);
    EXPECT_EQ(drawn.count(0) + drawn.count(1), 0u);
}

// The host reads the records a library registered when it looks, not once at
// registration: rows the library changes afterwards are what it calls. Only
// the older class layout, which the library frees once registered, is copied.
TEST(HostRegistration, ReadsTheLibrarysRecordsWhenItLooks) {
    Host host;
    host.LoadEntry(&ClassPluginMain);
    const char* declaration = classRows[1].declaration;
    classRows[1].declaration =
        "Build(width as integer, height as integer, yieldFirst as boolean=false, unused as integer=0) as picture";
    EXPECT_THROW(host.Call("Make", nullptr, {int32_t(1), int32_t(1)}), std::invalid_argument);
    host.Release(std::get<REALpicture>(host.Call("Build", nullptr, {int32_t(1), int32_t(1)})));
    classRows[1].declaration = declaration;

    REALmethodDefinitionV9 olderRows[] = {{reinterpret_cast<void*>(&Make), nullptr, "Older", 0}};
    REALclassDefinitionV9 older{};
    older.version = 9;
    older.name = "Picture";
    older.methods = olderRows;
    older.methodCount = 1;
    Entry<REALRegisterClassExtensionFn>("PluginRegisterClassExtension")(&older);
    older = REALclassDefinitionV9{};
    olderRows[0] = {};
    EXPECT_EQ(host.Registered().name, "Picture");
    EXPECT_EQ(host.Registered().rows.at(0).declaration, "Older");
}

// The built library, when there is one: a host closes it when it dies, so the
// next host loads it afresh.
TEST(HostLoad, EachHostLoadsTheModuleAfreshAndReportsWhatItCannotLoad) {
    {
        Host host;
        EXPECT_FALSE(host.LoadModule(""));
        EXPECT_FALSE(host.LoadModule("/nonexistent/libnothing.so"));
        EXPECT_FALSE(host.LoadError().empty());
    }
    const char* path = ZPX_MODULE_PATH;
    if (std::string(path).empty() || !std::ifstream(path).good()) GTEST_SKIP() << "no built module";
    for (int round = 0; round < 2; ++round) {
        {
            Host host;
            ASSERT_TRUE(host.LoadModule(ZPX_MODULE_PATH)) << host.LoadError();
            EXPECT_EQ(host.Registrations().size(), 1u);
        }
        void* stillLoaded = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(stillLoaded, nullptr) << "round " << round;
        if (stillLoaded != nullptr) dlclose(stillLoaded);
    }
}

}  // namespace
