// The diagnostics channel: the exact lines on standard output and standard error.

#include "bridge/diagnostics.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/api.h"

namespace {

TEST(ReportError, WritesTheMessageLineAndTheSystemText) {
    struct Case {
        const char* name;
        int withSystemMessage;
        DWORD lastError;
        const char* expected;
    };
    const Case cases[] = {
            {"message only", 0, ERROR_ACCESS_DENIED, "Brisvander: Could not open the store.\n"},
            {"access denied", 1, ERROR_ACCESS_DENIED,
             "Brisvander: Could not open the store.\nSYSMSG: Access is denied.\r\n\n"},
            {"bad keyset", 1, static_cast<DWORD>(NTE_BAD_KEYSET),
             "Brisvander: Could not open the store.\nSYSMSG: Keyset does not exist\r\n\n"},
            {"no system text", 1, 0x2000BEEFu,
             "Brisvander: Could not open the store.\nSYSMSG: Unknown error 0x2000BEEF.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(c.lastError);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        reportError("Could not open the store.", c.withSystemMessage);
        EXPECT_EQ(c.expected, testing::internal::GetCapturedStdout());
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
    }
}

TEST(PrintErrorLine, WritesToStandardErrorWithoutPrefix) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    printErrorLine("Invalid hash algorithm. Only supporting SHA1, MD5 and MD2.");
    EXPECT_EQ("Invalid hash algorithm. Only supporting SHA1, MD5 and MD2.\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST(PrintLine, WritesTheBytesUnchanged) {
    for (const std::string text : {"", "plain",
                                   "Gr\xC3\xBC\xC3\x9F"
                                   "e \xC0\x80"}) {
        SCOPED_TRACE(text);
        testing::internal::CaptureStdout();
        printLine(text.c_str());
        EXPECT_EQ(text + "\n", testing::internal::GetCapturedStdout());
    }
}

}  // namespace
