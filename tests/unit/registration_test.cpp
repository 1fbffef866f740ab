// Loading and registration: record versions, flag conversion, the two class
// layouts and the module of extension methods, for every host generation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "host/Host.h"
#include "plugin/HostCallbacks.h"
#include "plugin/PluginMain.h"
#include "tests/support/AllocationFaults.h"
#include "tests/support/Pictures.h"

namespace {

using zpxhost::Host;
using zpxhost::HostConfig;
using zpxhost::Registration;

const char* const kDeclarations[] = {
    "DrawPictureFZPX(pic as picture, x as double, y as double, alpha as double = 1.0, yield as integer = 0) as "
    "boolean",
    "ScaleZPX(width as integer, height as integer, AntiAlias as boolean=false, YieldTicks as integer=0) as picture",
    "ScaleImageAndMaskZPX(width as integer, height as integer, AntiAlias as boolean=false, YieldTicks as "
    "integer=0) as picture",
    "ScalingZPX(mode as integer, width as integer, height as integer, yield as integer = 0) as picture",
    "BlurZPX(Radius as double, yield as integer = 0) as picture",
};

void FakeMethod() {}

HostConfig WithVersion(std::optional<double> version) { return zpxtest::HostOf(zpxhost::AppKind::Desktop, version); }

struct Expectation {
    std::optional<double> version;
    uint32_t recordVersion;
    Registration::Form form;
    uint32_t flags;
    size_t rowWords;
};

const Expectation kGenerations[] = {
    {std::nullopt, 9, Registration::ClassExtension, 0, 4}, {2010.028, 9, Registration::ClassExtension, 0, 4},
    {2010.029, 9, Registration::ClassExtension, 4, 4},     {2012.0, 10, Registration::ClassExtension, 4, 6},
    {2013.0, 11, Registration::Module, 0x14, 6},           {2013.03, 12, Registration::Module, 0x14, 6},
    {2013.04, 13, Registration::Module, 0x14, 6},          {2999.9, 13, Registration::Module, 0x14, 6},
    {3000.0, 13, Registration::ClassExtension, 4, 6}};

// The record version, flags and form each host generation gets; the module
// form's rows take the receiver as their first parameter.
void ExpectRegisteredFor(const Host& host, const Expectation& expected, const std::string& name) {
    const Registration registered = host.Registered();
    EXPECT_EQ(host.PluginVersion(), static_cast<int>(expected.recordVersion)) << name;
    ASSERT_EQ(registered.form, expected.form) << name;
    EXPECT_EQ(registered.recordVersion, expected.recordVersion) << name;
    ASSERT_EQ(registered.rows.size(), 5u) << name;
    for (size_t i = 0; i < 5; ++i) {
        const Registration::Row& row = registered.rows[i];
        EXPECT_NE(row.function, nullptr) << name;
        EXPECT_EQ(row.setter, nullptr) << name;
        EXPECT_EQ(row.flags, expected.flags) << name << ", row " << i;
        EXPECT_EQ(row.extra, std::vector<REALword>(expected.rowWords - 4, 0)) << name;
        if (expected.form == Registration::ClassExtension) {
            EXPECT_EQ(row.declaration, kDeclarations[i]) << name;
        }
    }
    if (expected.form == Registration::ClassExtension) {
        EXPECT_EQ(registered.name, "Picture") << name;
        EXPECT_EQ(registered.classFlags, expected.flags) << name;
        EXPECT_EQ(registered.words.size(), expected.recordVersion == 9 ? 25u : 29u) << name;
        return;
    }
    EXPECT_EQ(registered.name, "PictureTessaroExtensionZPX") << name;
    EXPECT_EQ(registered.classFlags, 0u) << name;
    EXPECT_EQ(registered.words.size(), 24u) << name;
    EXPECT_EQ(registered.rows[0].declaration,
              "DrawPictureFZPX(extends ref as Picture, pic as picture, x as double, y as double, alpha as double = "
              "1.0, yield as integer = 0) as boolean")
        << name;
    EXPECT_EQ(registered.rows[4].declaration,
              "BlurZPX(extends ref as Picture, Radius as double, yield as integer = 0) as picture")
        << name;
}

std::vector<uint32_t> FlagsOf(const std::vector<Registration::Row>& rows) {
    std::vector<uint32_t> flags;
    for (const Registration::Row& row : rows) flags.push_back(row.flags);
    return flags;
}

std::vector<uint32_t> FlagsOf(const std::vector<Registration::Prop>& properties) {
    std::vector<uint32_t> flags;
    for (const Registration::Prop& property : properties) flags.push_back(property.flags);
    return flags;
}

// The library's own records, loaded by one host after another in every
// order of generations: each load registers what a first load would.
TEST(Registration, EveryLoadRegistersAfreshWhateverCameBefore) {
    for (const Expectation& first : kGenerations) {
        for (const Expectation& second : kGenerations) {
            for (const Expectation* load : {&first, &second}) {
                Host host(WithVersion(load->version));
                host.LoadEntry(REALPluginMain);
                ExpectRegisteredFor(host, *load,
                                    ::testing::PrintToString(first.version) + " then " +
                                        ::testing::PrintToString(second.version));
            }
        }
    }
}

// Flag words of the rows below: bits 18 to 20 together, bit 20 with a
// host-defined bit, 19 and 18 alone, and 18 with 20.
constexpr uint32_t kBits18To20 = 0x001C0000, kBit20AndBit0 = 0x00100001, kBits18And20 = 0x00140000;

// A record with every table: two methods (one with non-zero reserved words),
// a shared method, a property and a shared property.
struct EveryTableClass {
    REALmethodDefinition methods[2] = {
        {reinterpret_cast<void*>(FakeMethod), nullptr, "Go(x as integer)", kBits18To20, 7, 9},
        {reinterpret_cast<void*>(FakeMethod), nullptr, "Stop", kBit20AndBit0, 0, 0}};
    REALmethodDefinition sharedMethods[1] = {
        {reinterpret_cast<void*>(FakeMethod), nullptr, "Make as integer", REALflagBit19, 0, 0}};
    REALproperty properties[1] = {};
    REALproperty sharedProperties[1] = {};
    REALclassDefinition record{};

    EveryTableClass() {
        properties[0].name = "Level";
        properties[0].mFlags = REALflagBit18;
        sharedProperties[0].name = "Count";
        sharedProperties[0].mFlags = kBits18And20;
        record.name = "Picture";
        record.methods = methods;
        record.methodCount = 2;
        record.sharedMethods = sharedMethods;
        record.sharedMethodCount = 1;
        record.properties = properties;
        record.propertyCount = 1;
        record.sharedProperties = sharedProperties;
        record.sharedPropertyCount = 1;
        record.mFlags = kBits18To20;
    }
};

// Every table is converted (bits 18 and 19 copied to 2 and 3 from 2010.029
// on; 18 to 20 cleared everywhere), reserved words travel with their rows,
// the module form takes the methods alone; a missing "RegisterPluginVersion"
// is skipped, and a missing registration entry, or a failed allocation or no
// methods in the module form, leave the methods unregistered.
TEST(Registration, EveryTableAndEveryWayTheModuleFormStops) {
    struct Case {
        const char* name;
        double version;
        std::function<void(Host&, EveryTableClass&)> arrange;
        Registration::Form form;
        uint32_t classFlags;
        std::vector<uint32_t> rowFlags, sharedRowFlags, propertyFlags, sharedPropertyFlags;
        std::vector<std::vector<REALword>> extra;
        int pluginVersion;
    } const cases[] = {
        {"class", 2012.0, nullptr, Registration::ClassExtension, 0xC, {0xC, 0x1}, {0x8}, {0x4}, {0x4},
         {{7, 9}, {0, 0}}, 10},
        {"older class", 2010.028, nullptr, Registration::ClassExtension, 0, {0, 0x1}, {0}, {0}, {0}, {{}, {}}, 9},
        {"module", 2013.0, nullptr, Registration::Module, 0, {0x1C, 0x11}, {}, {}, {}, {{7, 9}, {0, 0}}, 11},
        {"no RegisterPluginVersion", 2013.04, [](Host& h, EveryTableClass&) { h.SetMissing("RegisterPluginVersion"); },
         Registration::Module, 0, {0x1C, 0x11}, {}, {}, {}, {{7, 9}, {0, 0}}, -1},
        {"module record not allocated", 2013.0, [](Host&, EveryTableClass&) { zpxtest::FailNthAllocation(1); },
         Registration::None, 0, {}, {}, {}, {}, {}, 11},
        {"module rows not allocated", 2013.0, [](Host&, EveryTableClass&) { zpxtest::FailNthAllocation(2); },
         Registration::None, 0, {}, {}, {}, {}, {}, 11},
        {"module without methods", 2013.0, [](Host&, EveryTableClass& c) { c.record.methodCount = 0; },
         Registration::None, 0, {}, {}, {}, {}, {}, 11},
        {"class without methods", 2012.0, [](Host&, EveryTableClass& c) { c.record.methodCount = 0; },
         Registration::ClassExtension, 0xC, {}, {0x8}, {0x4}, {0x4}, {}, 10},
        {"no class registration entry", 2012.0,
         [](Host& h, EveryTableClass&) { h.SetMissing("PluginRegisterClassExtension"); }, Registration::None, 0, {},
         {}, {}, {}, {}, 10},
        {"no module registration entry", 2013.0,
         [](Host& h, EveryTableClass&) { h.SetMissing("PluginRegisterModule"); }, Registration::None, 0, {}, {}, {},
         {}, {}, 11},
    };
    for (const Case& c : cases) {
        Host host(WithVersion(c.version));
        EveryTableClass picture;
        if (c.arrange) c.arrange(host, picture);
        PluginMainWith(Host::Resolve, &picture.record);
        zpxtest::ResetAllocationFaults();
        const Registration registered = host.Registered();
        EXPECT_EQ(host.PluginVersion(), c.pluginVersion) << c.name;
        ASSERT_EQ(registered.form, c.form) << c.name;
        if (c.form == Registration::None) continue;
        EXPECT_EQ(FlagsOf(registered.rows), c.rowFlags) << c.name;
        EXPECT_EQ(FlagsOf(registered.sharedRows), c.sharedRowFlags) << c.name;
        EXPECT_EQ(FlagsOf(registered.properties), c.propertyFlags) << c.name;
        EXPECT_EQ(FlagsOf(registered.sharedProperties), c.sharedPropertyFlags) << c.name;
        std::vector<std::vector<REALword>> extra;
        for (const Registration::Row& row : registered.rows) extra.push_back(row.extra);
        EXPECT_EQ(extra, c.extra) << c.name;
        EXPECT_EQ(registered.classFlags, c.classFlags) << c.name;
    }
}

TEST(Registration, ModuleGetsASetterRowBeforeItsMethodRow) {
    Host host(WithVersion(2013.04));
    REALmethodDefinition rows[] = {
        {reinterpret_cast<void*>(FakeMethod), reinterpret_cast<void*>(abort), "Level(index as integer) as double",
         REALdefaultMethodFlags, 0, 0},
    };
    REALclassDefinition record{};
    record.name = "Picture";
    record.methods = rows;
    record.methodCount = 1;
    PluginMainWith(Host::Resolve, &record);
    const Registration& registered = host.Registered();
    ASSERT_EQ(registered.rows.size(), 2u);
    EXPECT_EQ(registered.rows[0].function, reinterpret_cast<void*>(abort));
    EXPECT_EQ(registered.rows[0].declaration,
              "Level(extends ref as Picture, index as integer, assigns value as double)");
    EXPECT_EQ(registered.rows[1].declaration, "Level(extends ref as Picture, index as integer) as double");
}

TEST(HostEntries, AnAnsweredEntryIsAskedOnceAndAMissingOneAgain) {
    Host host;
    host.LoadEntry(REALPluginMain);
    host.ResetAsks();
    REALpicture one = host.NewPicture(2, 2, false);
    int32_t width = 0;
    EXPECT_TRUE(REALGetPropValueInt32(ObjectOf(one), "Width", &width));
    EXPECT_TRUE(REALGetPropValueInt32(ObjectOf(one), "Height", &width));
    EXPECT_EQ(host.Asks("REALGetPropValueInt"), 1);

    host.SetMissing("REALPictureClearCache");
    REALPictureClearCache(one);
    REALPictureClearCache(one);
    EXPECT_EQ(host.Asks("REALPictureClearCache"), 2);
    EXPECT_EQ(host.ClearCacheCount(one), 0);
    host.SetMissing("REALPictureClearCache", false);
    REALPictureClearCache(one);
    REALPictureClearCache(one);
    EXPECT_EQ(host.Asks("REALPictureClearCache"), 3);
    EXPECT_EQ(host.ClearCacheCount(one), 2);
    host.Release(one);
}

TEST(HostEntries, MissingEntriesReportFailureWithoutEffect) {
    Host host;
    host.LoadEntry(REALPluginMain);
    REALpicture one = host.NewPicture(3, 1, false);
    host.SetMissing("REALGetPropValueInt");
    host.SetMissing("REALLockObject");
    int32_t width = 77;
    EXPECT_FALSE(REALGetPropValueInt32(ObjectOf(one), "Width", &width));
    REALLockObject(one);
    EXPECT_EQ(host.RefCount(one), 1);
    host.SetMissing("newPicture");
    EXPECT_EQ(REALNewPicture(4, 4, 32), nullptr);
    host.Release(one);
    EXPECT_EQ(host.AuditProblems({}), "");
}

TEST(AddClassParameter, PutsTheClauseWhereTheDeclarationAllows) {
    const std::pair<const char*, const char*> cases[] = {
        {"Name as integer", "Name(extends ref as Picture) as integer"},
        {"Scale(w as integer)", "Scale(extends ref as Picture, w as integer)"},
        {"Refresh", "Refresh(extends ref as Picture)"},
        {"", "(extends ref as Picture)"},
        // An empty parameter list takes the clause alone, which a host parses.
        {"Clear()", "Clear(extends ref as Picture)"},
        {"Clear( ) as boolean", "Clear(extends ref as Picture) as boolean"},
    };
    for (auto [declaration, expected] : cases) {
        char* text = AddClassParameter(declaration, "Picture");
        EXPECT_STREQ(text, expected);
        free(text);
    }
    const std::pair<const char*, const char*> setters[] = {
        {"Size(extends ref as Picture) as integer", "Size(extends ref as Picture, assigns value as integer)"},
        {"Size as integer", "Size(assigns value as integer)"},
        {"Size", nullptr},
    };
    for (auto [declaration, expected] : setters) {
        char* text = RewriteSetterDeclaration(declaration);
        EXPECT_STREQ(text, expected);
        free(text);
    }
}

TEST(AddClassParameter, OverlongDeclarationsAreCutNeverOverrun) {
    const std::string longName(1500, 'n');
    for (const std::string& declaration :
         {longName, longName + "(x as integer)", longName + " as integer", "F(" + longName + ")",
          "F " + longName, std::string(998, 'a') + "(b)", std::string(999, 'a') + " c"}) {
        char* added = AddClassParameter(declaration.c_str(), "Picture");
        ASSERT_NE(added, nullptr);
        EXPECT_LE(strlen(added), 999u);
        char* setter = RewriteSetterDeclaration(added);
        if (setter != nullptr) {
            EXPECT_LE(strlen(setter), 999u);
        }
        free(setter);
        free(added);
    }
}

TEST(Registration, OlderLayoutCarriesShortenedPropertyRows) {
    Host host(WithVersion(2011.0));
    REALmethodDefinition rows[1] = {{reinterpret_cast<void*>(FakeMethod), nullptr, "Go", REALdefaultMethodFlags, 0, 0}};
    REALproperty properties[2] = {};
    properties[0].name = "Level";
    properties[0].declaration = "Level as integer";
    properties[0].mFlags = REALflagBit19;
    properties[1].name = "Second";  // read at the shorter row's stride
    properties[1].reserved1 = 99;
    REALclassDefinition record{};
    record.name = "Picture";
    record.methods = rows;
    record.methodCount = 1;
    record.properties = properties;
    record.propertyCount = 2;
    PluginMainWith(Host::Resolve, &record);
    const Registration& registered = host.Registered();
    ASSERT_EQ(registered.recordVersion, 9u);
    ASSERT_EQ(registered.properties.size(), 2u);
    EXPECT_EQ(registered.properties[0].name, "Level");
    EXPECT_EQ(registered.properties[0].flags, REALflagShared);
    EXPECT_EQ(registered.properties[1].name, "Second");
    ASSERT_EQ(registered.words.size(), 25u);
    EXPECT_EQ(registered.words[16], 0u);
    EXPECT_EQ(registered.words[17], 0u);
    EXPECT_EQ(FixProperties(nullptr, 3), nullptr);
    EXPECT_EQ(FixProperties(properties, 0), nullptr);
}

}  // namespace
