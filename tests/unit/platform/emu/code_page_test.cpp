// The emulation's Windows-1252 conversions, as the platform performs them.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/api.h"

namespace {

TEST(WideCharToMultiByte, MapsBestFitsAndDefaults) {
    struct Case {
        unsigned unit;
        BYTE expected;
        bool usedDefault;
    };
    const Case cases[] = {
            {0xE9, 0xE9, false},   {0x20AC, 0x80, false}, {0x0081, 0x81, false},
            {0x201C, 0x93, false}, {0x00A0, 0xA0, false}, {0x0100, 'A', false},
            {0x0142, 'l', false},  {0x221E, '8', false},  {0x2002, ' ', false},
            {0x65E5, '?', true},   {0xD800, '?', true},   {0xFFFD, '?', true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        const WCHAR text[2] = {static_cast<WCHAR>(c.unit), 0};
        char out[4] = {};
        BOOL usedDefault = FALSE;
        EXPECT_EQ(2, WideCharToMultiByte(CP_ACP, 0, text, -1, out, 4, nullptr, &usedDefault));
        EXPECT_EQ(c.expected, static_cast<BYTE>(out[0]));
        EXPECT_EQ(0, out[1]);
        EXPECT_EQ(c.usedDefault, usedDefault != FALSE);
    }
}

TEST(WideCharToMultiByte, TooSmallABufferIsFilledWithoutTerminator) {
    std::vector<WCHAR> text(1024, L'x');
    text.push_back(0);
    std::vector<char> out(1030, 'Z');
    SetLastError(0);
    EXPECT_EQ(0,
              WideCharToMultiByte(CP_ACP, 0, text.data(), -1, out.data(), 1024, nullptr, nullptr));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(std::string(1024, 'x'), std::string(out.data(), 1024));
    EXPECT_EQ('Z', out[1024]);

    text.erase(text.begin());  // 1023 characters and the terminator fit exactly
    EXPECT_EQ(1024,
              WideCharToMultiByte(CP_ACP, 0, text.data(), -1, out.data(), 1024, nullptr, nullptr));
    EXPECT_EQ(0, out[1023]);
}

TEST(WideCharToMultiByte, SizeQueryAndEmptyText) {
    const WCHAR empty[1] = {0};
    char out[2] = {'Z', 'Z'};
    EXPECT_EQ(1, WideCharToMultiByte(CP_ACP, 0, empty, -1, out, 2, nullptr, nullptr));
    EXPECT_EQ(0, out[0]);
    const WCHAR three[4] = {L'a', L'b', L'c', 0};
    EXPECT_EQ(4, WideCharToMultiByte(CP_ACP, 0, three, -1, nullptr, 0, nullptr, nullptr));
}

TEST(MultiByteToWideChar, EveryByteMaps) {
    const std::pair<BYTE, unsigned> cases[] = {
            {0x80, 0x20AC}, {0x81, 0x0081}, {0x8D, 0x008D}, {0x9F, 0x0178},
            {0xA0, 0x00A0}, {0xE9, 0x00E9}, {'A', 'A'},
    };
    for (const auto& [byte, expected] : cases) {
        SCOPED_TRACE(byte);
        const char text[2] = {static_cast<char>(byte), 0};
        WCHAR out[2] = {};
        EXPECT_EQ(2, MultiByteToWideChar(CP_ACP, 0, text, -1, out, 2));
        EXPECT_EQ(static_cast<WCHAR>(expected), out[0]);
    }
    for (int byte = 1; byte < 256; ++byte) {
        const char text[2] = {static_cast<char>(byte), 0};
        WCHAR wideForm[2] = {};
        char back[2] = {};
        ASSERT_EQ(2, MultiByteToWideChar(CP_ACP, 0, text, -1, wideForm, 2));
        ASSERT_EQ(2, WideCharToMultiByte(CP_ACP, 0, wideForm, -1, back, 2, nullptr, nullptr));
        ASSERT_EQ(text[0], back[0]) << "byte " << byte << " does not survive the round trip";
    }
}

TEST(MultiByteToWideChar, TooSmallABufferFails) {
    WCHAR out[3] = {};
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abcd", -1, out, 3));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

}  // namespace
