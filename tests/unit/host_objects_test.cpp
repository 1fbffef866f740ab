// The emulated host's reference counting and audit, on which every test of
// the library relies to see what it left behind. (Its resolver's switches and
// counts are read back in registration_test's HostEntries, the exceptions it
// records in strings_exceptions_test, its strings and yielding there and in
// yield_test.)
#include <gtest/gtest.h>

#include <string>

#include "host/Host.h"

namespace {

using zpxhost::Host;

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

}  // namespace
