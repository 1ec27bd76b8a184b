// CertNameToStrA of the emulation against the documented Windows text of the alias fixtures.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/text.h"
#include "keystore/alias.h"
#include "platform/api.h"
#include "tests/unit/support/fixtures.h"

namespace {

using Bytes = std::vector<BYTE>;

constexpr DWORD kLibraryType = CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG;

// The tsv writes every byte outside 0x20-0x7E, and the backslash, as \xHH.
std::string decodeEscapes(const std::string& escaped) {
    std::string text;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == '\\' && i + 3 < escaped.size() && escaped[i + 1] == 'x') {
            text.push_back(static_cast<char>(std::stoi(escaped.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else {
            text.push_back(escaped[i]);
        }
    }
    return text;
}

struct FreeContext {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, FreeContext>;

// The entry alias of each fixture is the documented platform's, byte for byte.
TEST(CertNameToStrA, BuildsTheFixtureAliases) {
    std::ifstream table(BRISVANDER_FIXTURES "/alias/expected.tsv");
    ASSERT_TRUE(table.is_open());
    int lineCount = 0;
    std::string line;
    while (std::getline(table, line)) {
        const size_t tab = line.find('\t');
        ASSERT_NE(std::string::npos, tab) << line;
        const std::string file = line.substr(0, tab);
        SCOPED_TRACE(file);
        ++lineCount;
        const Bytes bytes = readAliasFixture(file);
        ASSERT_FALSE(bytes.empty());
        Context cert(CertCreateCertificateContext(X509_ASN_ENCODING, bytes.data(),
                                                  static_cast<DWORD>(bytes.size())));
        ASSERT_TRUE(cert);
        EXPECT_EQ(decodeEscapes(line.substr(tab + 1)), buildEntryAlias(cert.get()));
    }
    EXPECT_EQ(20, lineCount);
}

// Small DER builders, so that each case reads as the name it encodes.
Bytes tlv(BYTE tag, const Bytes& content) {
    Bytes out{tag};
    const size_t length = content.size();
    if (length < 0x80) {
        out.push_back(static_cast<BYTE>(length));
    } else if (length < 0x100) {
        out.insert(out.end(), {0x81, static_cast<BYTE>(length)});
    } else {
        out.insert(out.end(), {0x82, static_cast<BYTE>(length >> 8), static_cast<BYTE>(length)});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes text(const std::string& value) { return Bytes(value.begin(), value.end()); }
Bytes printable(const std::string& value) { return tlv(0x13, text(value)); }
Bytes utf8(const std::string& value) { return tlv(0x0C, text(value)); }

const Bytes kCn = {0x55, 0x04, 0x03};
const Bytes kO = {0x55, 0x04, 0x0A};
const Bytes kOu = {0x55, 0x04, 0x0B};

Bytes attribute(const Bytes& oid, const Bytes& value) {
    Bytes content = tlv(0x06, oid);
    content.insert(content.end(), value.begin(), value.end());
    return tlv(0x30, content);
}

Bytes rdn(const std::vector<Bytes>& attributes) {
    Bytes content;
    for (const Bytes& one : attributes) {
        content.insert(content.end(), one.begin(), one.end());
    }
    return tlv(0x31, content);
}

Bytes name(const std::vector<Bytes>& rdns) {
    Bytes content;
    for (const Bytes& one : rdns) {
        content.insert(content.end(), one.begin(), one.end());
    }
    return tlv(0x30, content);
}

Bytes cnName(const Bytes& value) { return name({rdn({attribute(kCn, value)})}); }

CERT_NAME_BLOB blobOf(const Bytes& bytes) {
    return {static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
}

// The whole text up to the result's count, NULs inside included.
std::string format(const Bytes& encoded, DWORD type = kLibraryType) {
    CERT_NAME_BLOB blob = blobOf(encoded);
    char out[kTextBufferSize];
    std::memset(out, 'X', sizeof(out));
    const DWORD count = CertNameToStrA(X509_ASN_ENCODING, &blob, type, out, sizeof(out));
    EXPECT_GE(count, 1u);
    EXPECT_EQ('\0', out[count - 1]);
    return std::string(out, count - 1);
}

TEST(CertNameToStrA, QuotesValuesAsWindowsDoes) {
    const std::pair<Bytes, std::string> cases[] = {
            {cnName(printable("")), "CN=\"\""},
            {cnName(utf8(" lead")), "CN=\" lead\""},
            {cnName(utf8("trail ")), "CN=\"trail \""},
            // Odd lengths with a blank in the middle are not quoted: only the last character
            // counts.
            {cnName(utf8("a b")), "CN=a b"},
            {cnName(utf8("ab c")), "CN=ab c"},
            {cnName(tlv(0x1E, {0x00, 'a', 0x00, 'b', 0x00, ' '})), "CN=\"ab \""},
            {cnName(tlv(0x1E, {0x00, 'a', 0x00, ' ', 0x00, 'b'})), "CN=a b"},
            {cnName(utf8("\tx")), "CN=\"\tx\""},
            {cnName(utf8("x\r")), "CN=\"x\r\""},
            {cnName(utf8("x\v")), "CN=\"x\v\""},
            {cnName(utf8("\fx")), "CN=\"\fx\""},
            // U+00A0 and U+2002 are no blanks here; U+2002 then becomes a blank in 1252.
            {cnName(utf8("a\xC2\xA0")), "CN=a\xA0"},
            {cnName(utf8("\xE2\x80\x82"
                         "a")),
             "CN= a"},
            {cnName(utf8("a,b")), "CN=\"a,b\""},
            {cnName(utf8("a+b")), "CN=\"a+b\""},
            {cnName(utf8("a=b")), "CN=\"a=b\""},
            {cnName(utf8("a\nb")), "CN=\"a\nb\""},
            {cnName(utf8("a<b")), "CN=\"a<b\""},
            {cnName(utf8("a>b")), "CN=\"a>b\""},
            {cnName(utf8("#1")), "CN=\"#1\""},
            {cnName(utf8("a;b")), "CN=\"a;b\""},
            {cnName(utf8("\"ab\"")), "CN=\"\"\"ab\"\"\""},
            {cnName(utf8("The \"Best\" CA")), "CN=\"The \"\"Best\"\" CA\""},
            {cnName(utf8("a\rb\tc  d")), "CN=a\rb\tc  d"},
            {cnName(utf8("C:\\ca/x'y(z):?&")), "CN=C:\\ca/x'y(z):?&"},
    };
    for (const auto& [encoded, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(expected, format(encoded));
    }
}

TEST(CertNameToStrA, DecodesValuesByType) {
    const std::pair<Bytes, std::string> cases[] = {
            {cnName(tlv(0x16, text("a\xE9"))), "CN=a\xE9"},          // IA5 as Latin-1
            {cnName(tlv(0x14, text("Caf\xC3\xA9"))), "CN=Caf\xE9"},  // T61 holding UTF-8
            {cnName(tlv(0x14, text("Caf\xE9"))), "CN=Caf\xE9"},      // T61 as Latin-1
            {cnName(utf8("a\xFF"
                         "b")),
             "CN=a?b"},  // invalid: U+FFFD
            {cnName(utf8("\xE2\x82\xAC\xC4\x80\xC5\x82")),
             "CN=\x80"
             "Al"},                                                    // euro, best fit
            {cnName(utf8("\xE6\x97\xA5\xF0\x9F\x98\x80")), "CN=???"},  // one ? per unit
            {cnName(tlv(0x1E, {0x20, 0xAC, 0x00, 'x'})), "CN=\x80x"},
            {cnName(tlv(0x1C, {0, 0, 0, 'U', 0, 0, 0, 0xE9, 0, 1, 0xF6, 0})), "CN=U\xE9??"},
            {cnName(tlv(0x04, {0x0A, 0x56, 0xCF})), "CN=#0A56CF"},
            {cnName(tlv(0x02, {0x05})), "CN=#020105"},
            {cnName(tlv(0x05, {})), "CN=#0500"},
            {cnName(tlv(0x30, {})), "CN=#3000"},
            {cnName(tlv(0x01, {0xFF})), "CN=#0101FF"},
            {cnName(tlv(0x80, {0x2C, 0x22})), "CN=#80022C22"},  // no quotes for ',' or '"' bytes
            {cnName(Bytes{0x5F, 0x21, 0x01, 0x2C}), "CN=#5F21012C"},  // high tag number
    };
    for (const auto& [encoded, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(expected, format(encoded));
    }
}

TEST(CertNameToStrA, WritesTheWindowsKeys) {
    const std::pair<Bytes, const char*> cases[] = {
            {{0x55, 0x04, 0x03}, "CN"},
            {{0x55, 0x04, 0x04}, "SN"},
            {{0x55, 0x04, 0x05}, "SERIALNUMBER"},
            {{0x55, 0x04, 0x06}, "C"},
            {{0x55, 0x04, 0x07}, "L"},
            {{0x55, 0x04, 0x08}, "S"},
            {{0x55, 0x04, 0x09}, "STREET"},
            {{0x55, 0x04, 0x0A}, "O"},
            {{0x55, 0x04, 0x0B}, "OU"},
            {{0x55, 0x04, 0x0C}, "T"},
            {{0x55, 0x04, 0x0D}, "Description"},
            {{0x55, 0x04, 0x11}, "PostalCode"},
            {{0x55, 0x04, 0x12}, "POBox"},
            {{0x55, 0x04, 0x14}, "Phone"},
            {{0x55, 0x04, 0x18}, "X21Address"},
            {{0x55, 0x04, 0x2A}, "G"},
            {{0x55, 0x04, 0x2B}, "I"},
            {{0x55, 0x04, 0x2E}, "dnQualifier"},
            {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01}, "E"},
            {{0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x19}, "DC"},
            {{0x55, 0x04, 0x0F}, "OID.2.5.4.15"},
            {{0x55, 0x04, 0x61}, "OID.2.5.4.97"},
            {{0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x01},
             "OID.0.9.2342.19200300.100.1.1"},
            {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x02}, "OID.1.2.840.113549.1.9.2"},
            {{0x2A, 0x03, 0x04}, "OID.1.2.3.4"},
    };
    for (const auto& [oid, key] : cases) {
        SCOPED_TRACE(key);
        EXPECT_EQ(std::string(key) + "=v", format(name({rdn({attribute(oid, printable("v"))})})));
    }
}

TEST(CertNameToStrA, KeepsEncodedOrderAndSeparators) {
    // The SET is not DER-sorted on purpose: its order is kept.
    const Bytes encoded =
            name({rdn({attribute(kOu, printable("zzzz")), attribute(kOu, printable("aaaa"))}),
                  rdn({attribute(kO, printable("Org"))}),
                  rdn({attribute({0x2A, 0x03, 0x04}, printable("a b,"))})});
    const std::pair<DWORD, const char*> cases[] = {
            {kLibraryType, "OU=zzzz + OU=aaaa; O=Org; OID.1.2.3.4=\"a b,\""},
            {CERT_X500_NAME_STR, "OU=zzzz + OU=aaaa, O=Org, OID.1.2.3.4=\"a b,\""},
            {CERT_OID_NAME_STR, "2.5.4.11=zzzz + 2.5.4.11=aaaa, 2.5.4.10=Org, 1.2.3.4=\"a b,\""},
            {CERT_SIMPLE_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG, "zzzz + aaaa; Org; \"a b,\""},
            {kLibraryType | CERT_NAME_STR_REVERSE_FLAG,
             "OID.1.2.3.4=\"a b,\"; O=Org; OU=zzzz + OU=aaaa"},
    };
    for (const auto& [type, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(expected, format(encoded, type));
    }
}

TEST(CertNameToStrA, CountsANulInsideAValue) {
    const Bytes encoded = cnName(printable(std::string("a\0b", 3)));
    CERT_NAME_BLOB blob = blobOf(encoded);
    EXPECT_EQ(7u, CertNameToStrA(X509_ASN_ENCODING, &blob, kLibraryType, nullptr, 0));
    char out[16];
    ASSERT_EQ(7u, CertNameToStrA(X509_ASN_ENCODING, &blob, kLibraryType, out, sizeof(out)));
    EXPECT_STREQ("CN=a", out);
    EXPECT_EQ(std::string("CN=a\0b", 7), std::string(out, 7));
}

TEST(CertNameToStrA, GivesTheWholeTextOrNone) {
    const Bytes encoded = cnName(printable("abc"));  // "CN=abc": 7 with the NUL
    CERT_NAME_BLOB blob = blobOf(encoded);
    struct Case {
        bool withBuffer;
        DWORD length;
        DWORD result;
        const char* written;  // null: buffer untouched
    };
    const Case cases[] = {
            {false, 0, 7, nullptr}, {false, 100, 7, nullptr}, {true, 0, 7, nullptr},
            {true, 7, 7, "CN=abc"}, {true, 100, 7, "CN=abc"}, {true, 6, 1, ""},
            {true, 1, 1, ""},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.length);
        char out[100];
        std::memset(out, 'X', sizeof(out));
        EXPECT_EQ(one.result, CertNameToStrA(X509_ASN_ENCODING, &blob, kLibraryType,
                                             one.withBuffer ? out : nullptr, one.length));
        if (one.written == nullptr) {
            EXPECT_EQ('X', out[0]);
        } else {
            EXPECT_STREQ(one.written, out);
        }
    }
}

TEST(CertNameToStrA, GivesTheEmptyTextWhenTheNameDoesNotDecode) {
    const Bytes good = cnName(printable("abc"));
    struct Case {
        const char* what;
        DWORD encodingType;
        Bytes encoded;
        DWORD error;  // 0: last error left as it was
    };
    const Case cases[] = {
            {"empty name", X509_ASN_ENCODING, {0x30, 0x00}, 0},
            {"no bytes", X509_ASN_ENCODING, {}, static_cast<DWORD>(CRYPT_E_ASN1_EOD)},
            {"cut short", X509_ASN_ENCODING, Bytes(good.begin(), good.end() - 1),
             static_cast<DWORD>(CRYPT_E_ASN1_EOD)},
            {"SET outside",
             X509_ASN_ENCODING,
             {0x31, 0x00},
             static_cast<DWORD>(CRYPT_E_ASN1_BADTAG)},
            {"SEQUENCE for the RDN",
             X509_ASN_ENCODING,
             {0x30, 0x02, 0x30, 0x00},
             static_cast<DWORD>(CRYPT_E_ASN1_BADTAG)},
            {"no identifier", X509_ASN_ENCODING, name({rdn({tlv(0x30, printable("x"))})}),
             static_cast<DWORD>(CRYPT_E_ASN1_BADTAG)},
            {"encoding type 0", 0, good, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.what);
        CERT_NAME_BLOB blob = blobOf(one.encoded);
        char out[100];
        std::memset(out, 'X', sizeof(out));
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(1u, CertNameToStrA(one.encodingType, &blob, kLibraryType, out, sizeof(out)));
        EXPECT_STREQ("", out);
        EXPECT_EQ(one.error, GetLastError());
        EXPECT_EQ(1u, CertNameToStrA(one.encodingType, &blob, kLibraryType, nullptr, 0));
    }
}

}  // namespace
