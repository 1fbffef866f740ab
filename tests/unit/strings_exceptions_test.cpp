// Host strings and exceptions raised by the library.
#include <gtest/gtest.h>

#include <string>

#include "host/Host.h"
#include "plugin/HostCallbacks.h"
#include "plugin/HostStrings.h"
#include "plugin/PluginMain.h"

namespace {

using zpxhost::Host;

class StringsAndExceptions : public ::testing::Test {
protected:
    void SetUp() override { host.LoadEntry(REALPluginMain); }
    Host host;
};

TEST_F(StringsAndExceptions, RaisesTheNamedClassWithMessageAndNumber) {
    RaiseException("NilObjectException", "picture is nil", REALencodingASCII, 0);
    ASSERT_EQ(host.Raised().size(), 1u);
    EXPECT_EQ(host.Raised()[0].className, "NilObjectException");
    EXPECT_EQ(host.Raised()[0].message, std::optional<std::string>("picture is nil"));
    EXPECT_EQ(host.Raised()[0].errorNumber, 0);
    EXPECT_EQ(host.AuditProblems({}), "");
}

TEST_F(StringsAndExceptions, FallsBackToRuntimeException) {
    host.SetInstantiable("NilObjectException", false);
    RaiseException("NilObjectException", "source is nil", REALencodingASCII, 0);
    ASSERT_EQ(host.Raised().size(), 1u);
    EXPECT_EQ(host.Raised()[0].className, "RuntimeException");
    EXPECT_EQ(host.Raised()[0].message, std::optional<std::string>("source is nil"));
    EXPECT_EQ(host.AuditProblems({}), "");
}

TEST_F(StringsAndExceptions, RaisesNothingWhenNoExceptionCanBeMade) {
    host.SetInstantiable("NilObjectException", false);
    host.SetInstantiable("RuntimeException", false);
    RaiseException("NilObjectException", "source is nil", REALencodingASCII, 0);
    EXPECT_TRUE(host.Raised().empty());
    EXPECT_EQ(host.AuditProblems({}), "");
}

TEST_F(StringsAndExceptions, EmptyOrNullMessagesBuildNoString) {
    RaiseException("NilObjectException", "", REALencodingASCII, 0);
    RaiseException("NilObjectException", nullptr, REALencodingASCII, 0);
    ASSERT_EQ(host.Raised().size(), 2u);
    EXPECT_FALSE(host.Raised()[0].message.has_value());
    EXPECT_FALSE(host.Raised()[1].message.has_value());
    EXPECT_EQ(host.AuditProblems({}), "");
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
