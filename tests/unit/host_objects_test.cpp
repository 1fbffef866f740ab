// The emulated host's reference counting and audit, its resolver and the
// exceptions it records. (Its strings and yielding are exercised through the
// library in strings_exceptions_test and yield_test.)
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "host/Host.h"

namespace {

using zpxhost::Host;
using zpxhost::HostConfig;

template <typename Fn>
Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(Host::Resolve(name));
}

void LockObject(const void* object) {
    Entry<REALLockObjectFn>("REALLockObject")(static_cast<REALobject>(const_cast<void*>(object)));
}
void UnlockObject(const void* object) {
    Entry<REALUnlockObjectFn>("REALUnlockObject")(static_cast<REALobject>(const_cast<void*>(object)));
}

TEST(HostAudit, CatchesALeakAndAnOverReleaseWithoutCrashing) {
    Host host;
    REALpicture kept = host.NewPicture(2, 2, false);
    REALpicture leaked = host.NewPicture(1, 1, false);
    EXPECT_NE(host.AuditProblems({kept}).find("leaked: #2 Picture 1x1"), std::string::npos);
    LockObject(kept);
    EXPECT_NE(host.AuditProblems({kept, leaked}).find("2 references"), std::string::npos);
    UnlockObject(kept);
    EXPECT_EQ(host.AuditProblems({kept, leaked}), "");

    UnlockObject(leaked);
    UnlockObject(leaked);  // one too many
    int unknown = 0;
    UnlockObject(&unknown);
    std::string problems = host.AuditProblems({kept});
    EXPECT_NE(problems.find("REALUnlockObject: #2 Picture 1x1 is already dead"), std::string::npos) << problems;
    EXPECT_NE(problems.find("is no object of this host"), std::string::npos) << problems;
    EXPECT_NE(host.AuditProblems({kept, leaked}).find("expected #2 Picture 1x1 alive, but it is dead"),
              std::string::npos);
    EXPECT_EQ(host.RefCount(leaked), 0);

    REALpictureDescription description{};
    ASSERT_TRUE(Entry<REALLockPictureDescriptionFn>("REALLockPictureDescription")(kept, &description, 8));
    host.Release(kept);
    EXPECT_NE(host.AuditProblems({}).find("#1 Picture 2x2 died with its description still locked"), std::string::npos);
}

TEST(HostAudit, ReferencesHeldByHostObjectsAreTheHostsOwn) {
    Host host;
    REALpicture picture = host.NewPicture(2, 2, false);
    REALpicture mask = Entry<REALGetPictureMaskFn>("REALGetPictureMask")(picture, true);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(host.RefCount(mask), 2);
    UnlockObject(mask);
    EXPECT_EQ(host.AuditProblems({picture}), "") << "the picture holds its mask";

    REALobject graphics = Entry<REALGetPictureGraphicsFn>("pluginPictureGraphicsGetter")(picture);
    ASSERT_NE(graphics, nullptr);
    EXPECT_NE(host.AuditProblems({picture}).find("leaked: #3 Graphics of #1"), std::string::npos);
    UnlockObject(graphics);
    host.Release(picture);
    EXPECT_EQ(host.AuditProblems({}), "");
    EXPECT_TRUE(host.LiveObjects().empty()) << "the mask died with its picture";
}

TEST(HostResolver, CountsAsksAndAnswersOnlyWhatItServes) {
    HostConfig config;
    config.version = std::nullopt;
    Host host(config);
    EXPECT_EQ(Host::Resolve("REALGetRBVersion"), nullptr);
    EXPECT_EQ(Host::Resolve("REALNoSuchEntry"), nullptr);
    EXPECT_NE(Host::Resolve("newPicture"), nullptr);
    host.SetMissing("newPicture");
    EXPECT_EQ(Host::Resolve("newPicture"), nullptr);
    host.SetMissing("newPicture", false);
    EXPECT_NE(Host::Resolve("newPicture"), nullptr);
    EXPECT_EQ(host.Asks("newPicture"), 3);
    EXPECT_EQ(host.Asks("REALGetRBVersion"), 1);
    host.ResetAsks();
    EXPECT_EQ(host.Asks("newPicture"), 0);

    Entry<RegisterPluginVersionFn>("RegisterPluginVersion")(11);
    EXPECT_EQ(host.PluginVersion(), 11);
}

TEST(HostExceptions, RaisedExceptionsAreRecordedAndTheirObjectsFreed) {
    Host host;
    auto newInstance = Entry<REALnewInstanceFn>("PluginNewInstance");
    auto setString = Entry<REALSetPropValueStringFn>("REALSetPropValueString");
    auto setInt = Entry<REALSetPropValueInt32Fn>("REALSetPropValueInt");
    auto raise = Entry<REALRaiseExceptionFn>("RuntimeRaiseException");

    REALobject exception = newInstance("NilObjectException");
    ASSERT_NE(exception, nullptr);
    REALstring message = Entry<REALBuildStringFn>("REALBuildString")("picture is nil", 14);
    EXPECT_TRUE(setString(exception, "Message", message));
    EXPECT_TRUE(setInt(exception, "ErrorNumber", 7));
    EXPECT_FALSE(setInt(exception, "Size", 7));
    raise(exception);
    Entry<REALUnlockStringFn>("REALUnlockString")(message);
    EXPECT_EQ(host.RefCount(message), 1) << "the exception holds its message";
    UnlockObject(exception);
    EXPECT_EQ(host.AuditProblems({}), "");

    ASSERT_EQ(host.Raised().size(), 1u);
    EXPECT_EQ(host.Raised()[0].className, "NilObjectException");
    EXPECT_EQ(host.Raised()[0].message, std::optional<std::string>("picture is nil"));
    EXPECT_EQ(host.Raised()[0].errorNumber, 7);

    host.SetInstantiable("OutOfMemoryException", false);
    EXPECT_EQ(newInstance("OutOfMemoryException"), nullptr);
    EXPECT_EQ(newInstance("NoSuchException"), nullptr);
    EXPECT_EQ(host.AuditProblems({}), "");
}

}  // namespace
