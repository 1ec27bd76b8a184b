// Text conversion, property fetch and serial formatting helpers.

#include "bridge/text.h"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<WCHAR> wide(std::initializer_list<unsigned> units) {
    std::vector<WCHAR> text;
    for (unsigned unit : units) {
        text.push_back(static_cast<WCHAR>(unit));
    }
    text.push_back(0);
    return text;
}

TEST(FormatSerialHex, WritesMostSignificantByteFirst) {
    const std::pair<std::vector<BYTE>, const char*> cases[] = {
            {{0x01, 0xAB, 0x00}, "00AB01"},  // stored least significant first; leading 00 kept
            {{0x05}, "05"},
            {{0x80, 0x00}, "0080"},
            {{}, ""},
    };
    for (const auto& [serial, expected] : cases) {
        SCOPED_TRACE(expected);
        char out[kTextBufferSize];
        formatSerialHex(static_cast<int>(serial.size()), serial.data(), out);
        EXPECT_STREQ(expected, out);
    }
}

TEST(FormatSerialHex, NegativeCountWritesTheEmptyText) {
    char out[kTextBufferSize] = "junk";
    formatSerialHex(-3, nullptr, out);
    EXPECT_STREQ("", out);
}

// A serial too long for the alias buffer keeps its most significant bytes and never writes
// past the buffer; the same serial always gives the same text.
TEST(FormatSerialHex, LongSerialStaysInsideTheBuffer) {
    for (const int count : {kMaxSerialBytes, kMaxSerialBytes + 1, 4096}) {
        SCOPED_TRACE(count);
        std::vector<BYTE> serial(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            serial[static_cast<size_t>(i)] = static_cast<BYTE>(i);
        }
        std::vector<char> out(kTextBufferSize + 64, 'X');
        formatSerialHex(count, serial.data(), out.data());
        EXPECT_EQ(std::strlen(out.data()), static_cast<size_t>(2 * kMaxSerialBytes));
        for (size_t i = kTextBufferSize; i < out.size(); ++i) {
            ASSERT_EQ(out[i], 'X') << "written past the buffer at " << i;
        }
        char first[3] = {out[0], out[1], 0};
        char expected[3];
        std::snprintf(expected, sizeof(expected), "%02X", static_cast<BYTE>(count - 1));
        EXPECT_STREQ(expected, first) << "the most significant byte comes first";
    }
}

TEST(ToAnsiString, ConvertsToTheAnsiCodePage) {
    const std::pair<std::vector<WCHAR>, std::string> cases[] = {
            {wide({}), ""},
            {wide({'C', 'N', '=', 'a'}), "CN=a"},
            {wide({0xE9, 0x20AC, 0xFC}), "\xE9\x80\xFC"},
            {wide({0x65E5, 0x672C}), "??"},           // no mapping: one ? per UTF-16 unit
            {wide({0xD83D, 0xDE00}), "??"},           // a surrogate pair
            {wide({0x0100, 0x0142, 0x221E}), "Al8"},  // best fit
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(expected, toAnsiString(text.data()));
    }
}

TEST(ToAnsiString, TextThatDoesNotFitGivesTheEmptyString) {
    std::vector<WCHAR> fits(kTextBufferSize - 1, L'x');
    fits.push_back(0);
    EXPECT_EQ(std::string(kTextBufferSize - 1, 'x'), toAnsiString(fits.data()));
    std::vector<WCHAR> tooLong(kTextBufferSize, L'x');
    tooLong.push_back(0);
    EXPECT_EQ("", toAnsiString(tooLong.data()));
    EXPECT_EQ("", toAnsiString(nullptr));
}

TEST(ToWideString, FillsTheBufferWithZerosPastTheText) {
    const WCHAR* converted = toWideString("quorvjcecont");
    const char expected[] = "quorvjcecont";
    for (int i = 0; i < kTextBufferSize; ++i) {
        const WCHAR want = i < 12 ? static_cast<WCHAR>(expected[i]) : 0;
        ASSERT_EQ(want, converted[i]) << "at " << i;
    }
    EXPECT_EQ(static_cast<WCHAR>(0x20AC), toWideString("\x80")[0]);
}

TEST(ToWideString, TextThatDoesNotFitGivesTheEmptyText) {
    const std::string tooLong(kTextBufferSize, 'x');
    const WCHAR* converted = toWideString(tooLong.c_str());
    for (int i = 0; i < kTextBufferSize; ++i) {
        ASSERT_EQ(0, converted[i]) << "at " << i;
    }
}

TEST(ToWideString, EachThreadHasItsOwnBuffer) {
    const WCHAR* mine = toWideString("quorvjcecont");
    std::thread([] { toWideString("other"); }).join();
    EXPECT_EQ(static_cast<WCHAR>('q'), mine[0]);
}

TEST(ToJavaText, ConvertsAnsiToModifiedUtf8) {
    const std::pair<std::string, std::string> cases[] = {
            {"CN=Alice,05", "CN=Alice,05"},  // ASCII unchanged
            {"", ""},
            {"CN=Caf\xE9", "CN=Caf\xC3\xA9"},
            {"\x80", "\xE2\x82\xAC"},
            {"\x81\x9F\xA0\xFF", "\xC2\x81\xC5\xB8\xC2\xA0\xC3\xBF"},
    };
    for (const auto& [ansi, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(expected, toJavaText(ansi.c_str()));
        EXPECT_TRUE(matchesJavaText(ansi.c_str(), expected.c_str()));
    }
}

TEST(MatchesJavaText, ComparesWholeTextsExactly) {
    const std::pair<const char*, const char*> different[] = {
            {"CN=Alice,05", "CN=alice,05"},
            {"CN=Alice,05", "CN=Alice,5"},
            {"CN=Alice,05", "CN=Alice,05 "},
            {"CN=Caf\xE9,01", "CN=Caf\xE9,01"},  // the raw ANSI byte is not what Java sends
            {"CN=Caf\xE9,01", "CN=Cafe,01"},
    };
    for (const auto& [ansi, java] : different) {
        SCOPED_TRACE(java);
        EXPECT_FALSE(matchesJavaText(ansi, java));
    }
}

// The block holds the structure and the names it points to.
TEST(GetCertProperty, ReturnsTheKeyProviderInformationAsOneBlock) {
    FILE* file = std::fopen(BRISVANDER_FIXTURES "/alias/plain-cn.der", "rb");
    ASSERT_NE(file, nullptr);
    std::vector<BYTE> encoded(4096);
    encoded.resize(std::fread(encoded.data(), 1, encoded.size(), file));
    std::fclose(file);
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                       static_cast<DWORD>(encoded.size()));
    ASSERT_NE(cert, nullptr);

    EXPECT_EQ(nullptr, getCertProperty(cert, CERT_KEY_PROV_INFO_PROP_ID));

    std::vector<WCHAR> container = wide({'q', 'u', 'o', 'r', 'v'});
    std::vector<WCHAR> provider = wide({'P', 'r', 'o', 'v'});
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container.data();
    info.pwszProvName = provider.data();
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    ASSERT_TRUE(CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    container[0] = 'X';  // the context keeps its own copy

    BYTE* block = getCertProperty(cert, CERT_KEY_PROV_INFO_PROP_ID);
    ASSERT_NE(block, nullptr);
    const auto* stored = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block);
    EXPECT_EQ("quorv", toAnsiString(stored->pwszContainerName));
    EXPECT_EQ("Prov", toAnsiString(stored->pwszProvName));
    EXPECT_EQ(PROV_RSA_FULL, stored->dwProvType);
    EXPECT_EQ(AT_KEYEXCHANGE, stored->dwKeySpec);
    delete[] block;
    CertFreeCertificateContext(cert);
}

}  // namespace
