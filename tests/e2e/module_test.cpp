// The built module, loaded the way a host loads it: dlopen, REALPluginMain
// with the host's resolver, then methods called by their declarations.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/Host.h"
#include "tests/support/Pictures.h"

namespace {

using zpxhost::Host;
using zpxhost::HostConfig;
using zpxhost::Registration;
using zpxhost::Value;

// The five declarations in the order the module registers them.
const std::vector<std::string> kDeclarations = {
    "DrawPictureFZPX(pic as picture, x as double, y as double, alpha as double = 1.0, yield as integer = 0) as "
    "boolean",
    "ScaleZPX(width as integer, height as integer, AntiAlias as boolean=false, YieldTicks as integer=0) as picture",
    "ScaleImageAndMaskZPX(width as integer, height as integer, AntiAlias as boolean=false, YieldTicks as "
    "integer=0) as picture",
    "ScalingZPX(mode as integer, width as integer, height as integer, yield as integer = 0) as picture",
    "BlurZPX(Radius as double, yield as integer = 0) as picture",
};

std::string WithReceiver(const std::string& declaration) {
    const size_t open = declaration.find('(');
    return declaration.substr(0, open + 1) + "extends ref as Picture, " + declaration.substr(open + 1);
}

struct Generation {
    std::optional<double> version;
    Registration::Form form;
    uint32_t recordVersion;
};

void PrintTo(const Generation& generation, std::ostream* out) {
    *out << (generation.version ? std::to_string(*generation.version) : std::string("no version"));
}

std::string GenerationName(const ::testing::TestParamInfo<Generation>& info) {
    if (!info.param.version) return "NoVersion";
    std::string name = "V" + std::to_string(static_cast<long long>(*info.param.version * 1000 + 0.5));
    return name;
}

class ModuleGenerations : public ::testing::TestWithParam<Generation> {};

TEST_P(ModuleGenerations, RegistersThePictureMethods) {
    HostConfig config;
    config.version = GetParam().version;
    Host host(config);
    ASSERT_TRUE(host.LoadModule(ZPX_MODULE_PATH)) << host.LoadError();
    const Registration& registered = host.Registered();
    ASSERT_EQ(registered.form, GetParam().form);
    EXPECT_EQ(registered.recordVersion, GetParam().recordVersion);
    EXPECT_EQ(host.PluginVersion(), static_cast<int>(GetParam().recordVersion));
    const bool module = registered.form == Registration::Module;
    EXPECT_EQ(registered.name, module ? "PictureTessaroExtensionZPX" : "Picture");
    std::vector<std::string> declarations;
    for (const Registration::Row& row : registered.rows) {
        declarations.push_back(row.declaration);
        EXPECT_EQ(row.flags, module ? 0x14u : registered.recordVersion == 9 && registered.classFlags == 0 ? 0u : 4u);
    }
    std::vector<std::string> expected = kDeclarations;
    if (module) std::transform(expected.begin(), expected.end(), expected.begin(), WithReceiver);
    EXPECT_EQ(declarations, expected);

    // Whatever the form, the host calls ScaleZPX by its declaration.
    REALpicture source = zpxtest::MakePicture(host, 8, 6, false, zpxtest::TestPattern);
    Value result = host.Call("ScaleZPX", source, {4, 3});
    REALpicture scaled = std::get<REALpicture>(result);
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(host.Width(scaled), 4);
    EXPECT_EQ(host.Height(scaled), 3);
    EXPECT_EQ(host.AuditProblems({source, scaled}), "");
    host.Release(scaled);
    host.Release(source);
}

INSTANTIATE_TEST_SUITE_P(Hosts, ModuleGenerations,
                         ::testing::Values(Generation{std::nullopt, Registration::ClassExtension, 9},
                                           Generation{2010.028, Registration::ClassExtension, 9},
                                           Generation{2012.0, Registration::ClassExtension, 10},
                                           Generation{2013.0, Registration::Module, 11},
                                           Generation{2013.04, Registration::Module, 13},
                                           Generation{3000.0, Registration::ClassExtension, 13}),
                         GenerationName);

TEST(Module, EveryAnsweredEntryIsAskedOnce) {
    Host host;
    ASSERT_TRUE(host.LoadModule(ZPX_MODULE_PATH)) << host.LoadError();
    REALpicture source = zpxtest::MakePicture(host, 8, 6, false, zpxtest::TestPattern);
    for (int i = 0; i < 3; ++i) {
        Value result = host.Call("ScaleZPX", source, {5 + i, 3});
        host.Release(std::get<REALpicture>(result));
    }
    for (const char* entry : {"REALGetPropValueInt", "REALLockPictureDescription", "unlockPictureDescription",
                              "REALLockObject", "REALUnlockObject", "newPicture", "REALPictureClearCache"}) {
        EXPECT_EQ(host.Asks(entry), 1) << entry;
    }
    host.Release(source);
}

}  // namespace
