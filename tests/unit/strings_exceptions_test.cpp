// Host strings and exceptions raised by the library.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "plugin/HostCallbacks.h"
#include "plugin/HostStrings.h"
#include "tests/support/Plugin.h"

namespace {

class StringsAndExceptions : public zpxtest::PluginTest {};

// The named class, else RuntimeException, else nothing; no string for an
// empty or missing message.
TEST_F(StringsAndExceptions, RaisesWhatItCan) {
    using Message = std::optional<std::string>;
    struct Case {
        const char* message;
        bool named, runtime;  // which classes the host can make
        const char* raised;   // nullptr: nothing raised
        Message expected;
    } const cases[] = {
        {"picture is nil", true, true, "NilObjectException", Message("picture is nil")},
        {"source is nil", false, true, "RuntimeException", Message("source is nil")},
        {"source is nil", false, false, nullptr, std::nullopt},
        {"", true, true, "NilObjectException", std::nullopt},
        {nullptr, true, true, "NilObjectException", std::nullopt},
    };
    for (const Case& c : cases) {
        host.ClearRaised();
        host.SetInstantiable("NilObjectException", c.named);
        host.SetInstantiable("RuntimeException", c.runtime);
        RaiseException("NilObjectException", c.message, REALencodingASCII, 0);
        ASSERT_EQ(host.Raised().size(), c.raised ? 1u : 0u) << (c.message ? c.message : "no message");
        if (c.raised != nullptr) {
            EXPECT_EQ(host.Raised()[0].className, c.raised);
            EXPECT_EQ(host.Raised()[0].message, c.expected);
            EXPECT_EQ(host.Raised()[0].errorNumber, 0);
        }
        EXPECT_EQ(host.AuditProblems({}), "");
    }
}

TEST_F(StringsAndExceptions, BuilderRefusesNullBytesAndLengthsOutOfRange) {
    EXPECT_EQ(REALBuildUnicodeString(nullptr, 3, REALencodingASCII), nullptr);
    EXPECT_EQ(REALBuildUnicodeString("abc", 0, REALencodingASCII), nullptr);
    EXPECT_EQ(REALBuildUnicodeString("abc", -1, REALencodingASCII), nullptr);
    EXPECT_EQ(REALBuildUnicodeString("abc", 2147483648LL, REALencodingASCII), nullptr);
    REALstring built = REALBuildUnicodeString("abc", 2, REALencodingASCII);
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(host.Text(built), "ab");
    EXPECT_EQ(host.Encoding(built), REALencodingASCII);
    REALUnlockString(built);
    EXPECT_EQ(host.AuditProblems({}), "");
}

TEST_F(StringsAndExceptions, RunningOutOfMemoryRaisesOnceWithoutRecursion) {
    host.FailStringBuilds(2);  // the string asked for, then the exception's own message
    EXPECT_EQ(REALBuildUnicodeString("abc", 3, REALencodingASCII), nullptr);
    ASSERT_EQ(host.Raised().size(), 1u);
    EXPECT_EQ(host.Raised()[0].className, "OutOfMemoryException");
    EXPECT_FALSE(host.Raised()[0].message.has_value());
    EXPECT_EQ(host.AuditProblems({}), "");

    host.ClearRaised();
    host.FailStringBuilds(1);
    EXPECT_EQ(REALBuildUnicodeString("abc", 3, REALencodingASCII), nullptr);
    ASSERT_EQ(host.Raised().size(), 1u);
    EXPECT_EQ(host.Raised()[0].message, std::optional<std::string>("Failed to allocate memory for a string."));
    EXPECT_EQ(host.AuditProblems({}), "");
}

}  // namespace
