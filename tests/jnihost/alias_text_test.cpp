// The platform's part of the entry alias, issuer text and serial number, for the certificates
// whose expected alias is known: the emulation must write what Windows writes.

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "tests/jnihost/host.h"

namespace {

constexpr DWORD kNameFlags = CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG;
constexpr DWORD kTextBufferSize = 1024;

// The tables write bytes outside 0x20-0x7E, and the backslash, as \xHH; so do the messages.
std::string escape(const std::string& text) {
    std::string escaped;
    char hex[8];
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E || byte == '\\') {
            std::snprintf(hex, sizeof(hex), "\\x%02X", byte);
            escaped += hex;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string unescape(const std::string& escaped) {
    std::string text;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped.compare(i, 2, "\\x") == 0 && i + 4 <= escaped.size()) {
            text += static_cast<char>(std::stoi(escaped.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            text += escaped[i];
        }
    }
    return text;
}

// readAliasTable gives file name -> alias, from lines "NAME.der<TAB>escaped alias".
std::map<std::string, std::string> readAliasTable(const std::string& relativePath) {
    const std::vector<BYTE> bytes = readFixture(relativePath);
    std::map<std::string, std::string> table;
    std::string line;
    for (size_t i = 0; i <= bytes.size(); ++i) {
        if (i < bytes.size() && bytes[i] != '\n') {
            line += static_cast<char>(bytes[i]);
            continue;
        }
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) {
            table[line.substr(0, tab)] = unescape(line.substr(tab + 1));
        }
        line.clear();
    }
    return table;
}

// The alias as the library builds it: the issuer text, a comma, then the serial number blob,
// which is stored least significant byte first, written from its last byte to its first.
std::string platformAlias(PCCERT_CONTEXT cert) {
    char issuer[kTextBufferSize];
    issuer[0] = '\0';
    CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Issuer, kNameFlags, issuer,
                   kTextBufferSize);
    std::string alias = std::string(issuer) + ",";
    const CRYPT_INTEGER_BLOB& serial = cert->pCertInfo->SerialNumber;
    char digits[4];
    for (DWORD i = serial.cbData; i > 0; --i) {
        std::snprintf(digits, sizeof(digits), "%02X", serial.pbData[i - 1]);
        alias += digits;
    }
    return alias;
}

TEST(AliasText, MatchesTheExpectedTable) {
    std::map<std::string, std::string> expected = readAliasTable("alias/expected.tsv");
    ASSERT_FALSE(expected.empty()) << "no alias/expected.tsv under the fixture folder";
#ifdef _WIN32
    // Wine's crypt32 writes a few names differently from Windows; those lines are its own.
    const std::map<std::string, std::string> wine = readAliasTable("alias/wine-differs.tsv");
    ASSERT_FALSE(wine.empty());
    for (const auto& [file, alias] : wine) {
        expected[file] = alias;
    }
#endif
    for (const auto& [file, alias] : expected) {
        SCOPED_TRACE(file);
        const std::vector<BYTE> encoded = readFixture("alias/" + file);
        ASSERT_FALSE(encoded.empty());
        CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                      static_cast<DWORD>(encoded.size())));
        ASSERT_TRUE(cert);
        ASSERT_NE(nullptr, cert.get()->pCertInfo);
        EXPECT_EQ(escape(alias), escape(platformAlias(cert.get())));
    }
}

}  // namespace
