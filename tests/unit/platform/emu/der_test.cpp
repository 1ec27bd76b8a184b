// The emulation's DER reader: identifiers and times.

#include "platform/emu/der.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(FormatOid, WritesDottedArcs) {
    const std::pair<std::vector<BYTE>, const char*> cases[] = {
            {{0x55, 0x04, 0x03}, "2.5.4.3"},
            {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01}, "1.2.840.113549.1.1.1"},
            {{0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x19},
             "0.9.2342.19200300.100.1.25"},
            {{0x88, 0x37}, "2.999"},
    };
    for (const auto& [content, expected] : cases) {
        SCOPED_TRACE(expected);
        std::string text;
        ASSERT_TRUE(emu::formatOid(content.data(), content.size(), &text));
        EXPECT_EQ(expected, text);
    }
    std::string text;
    const BYTE unfinished[] = {0x55, 0x84};
    EXPECT_FALSE(emu::formatOid(unfinished, sizeof(unfinished), &text));
}

TEST(ParseDerTime, CountsHundredNanosecondsSince1601) {
    struct Case {
        BYTE tag;
        const char* text;
        unsigned long long ticks;
    };
    const Case cases[] = {
            {emu::kTagUtcTime, "700101000000Z", 116444736000000000ull},
            {emu::kTagGeneralizedTime, "16010101000000Z", 0ull},
            {emu::kTagUtcTime, "491231235959Z",
             2524607999ull * 10000000ull + 116444736000000000ull},
            {emu::kTagGeneralizedTime, "20000229120000Z",
             951825600ull * 10000000ull + 116444736000000000ull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FILETIME time{};
        ASSERT_TRUE(emu::parseDerTime(c.tag, reinterpret_cast<const BYTE*>(c.text),
                                      std::strlen(c.text), &time));
        EXPECT_EQ(c.ticks, (static_cast<unsigned long long>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
    }
    FILETIME time{};
    const char* bad = "701301000000Z";
    EXPECT_FALSE(
            emu::parseDerTime(emu::kTagUtcTime, reinterpret_cast<const BYTE*>(bad), 13, &time));
}

}  // namespace
