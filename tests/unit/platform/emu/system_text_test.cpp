// The emulation's last error and system message texts.

#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/api.h"

namespace {

constexpr DWORD kAllocateFromSystem =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;

TEST(FormatMessageA, GivesTheWindowsTextWithItsLineEnd) {
    const std::pair<DWORD, const char*> cases[] = {
            {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
            {ERROR_MORE_DATA, "More data is available.\r\n"},
            {static_cast<DWORD>(NTE_BAD_DATA), "Bad Data.\r\n"},
            {static_cast<DWORD>(NTE_BAD_KEYSET), "Keyset does not exist\r\n"},
            {static_cast<DWORD>(CRYPT_E_ASN1_BADTAG), "ASN1 bad tag value met.\r\n"},
            {0x800704C7u, "The operation was canceled by the user.\r\n"},
    };
    for (const auto& [code, expected] : cases) {
        SCOPED_TRACE(expected);
        char* text = nullptr;
        const DWORD length = FormatMessageA(kAllocateFromSystem, nullptr, code, 0,
                                            reinterpret_cast<LPSTR>(&text), 0, nullptr);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::strlen(expected), length);
        EXPECT_STREQ(expected, text);
        LocalFree(text);
    }
}

TEST(FormatMessageA, CodeWithoutTextAllocatesNothing) {
    char* text = nullptr;
    EXPECT_EQ(0u, FormatMessageA(kAllocateFromSystem, nullptr, 0x2000BEEFu, 0,
                                 reinterpret_cast<LPSTR>(&text), 0, nullptr));
    EXPECT_EQ(nullptr, text);
    EXPECT_EQ(ERROR_MR_MID_NOT_FOUND, GetLastError());
}

TEST(LastError, BelongsToTheCallingThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenThere = 1;
    std::thread([&] {
        seenThere = GetLastError();
        SetLastError(ERROR_INVALID_HANDLE);
    }).join();
    EXPECT_EQ(ERROR_SUCCESS, seenThere);
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
}

}  // namespace
