// The emulation's certificate contexts: decoding, errors of the decoder, and properties.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include "platform/api.h"
#include "tests/unit/support/fixtures.h"

namespace {

struct FreeContext {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, FreeContext>;

Context create(const std::vector<BYTE>& bytes, size_t length) {
    return Context(CertCreateCertificateContext(X509_ASN_ENCODING, bytes.data(),
                                                static_cast<DWORD>(length)));
}

// The fields the library reads agree with OpenSSL's view of the same certificates.
TEST(CertCreateCertificateContext, DecodesWhatTheLibraryReads) {
    for (const char* name : {"plain-cn.der", "serial-high-bit.der", "serial-20-bytes.der",
                             "serial-zero.der", "len-long.der", "utf8-latin.der"}) {
        SCOPED_TRACE(name);
        const std::vector<BYTE> bytes = readAliasFixture(name);
        ASSERT_FALSE(bytes.empty());
        Context cert = create(bytes, bytes.size());
        ASSERT_TRUE(cert);
        const CERT_INFO* info = cert->pCertInfo;
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(bytes.size(), cert->cbCertEncoded);

        const BYTE* cursor = bytes.data();
        std::unique_ptr<X509, decltype(&X509_free)> x509(
                d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size())), X509_free);
        ASSERT_TRUE(x509);
        unsigned char* issuer = nullptr;
        const int issuerLength = i2d_X509_NAME(X509_get_issuer_name(x509.get()), &issuer);
        EXPECT_EQ(
                std::vector<BYTE>(issuer, issuer + issuerLength),
                std::vector<BYTE>(info->Issuer.pbData, info->Issuer.pbData + info->Issuer.cbData));
        OPENSSL_free(issuer);

        // The serial blob is the INTEGER's content, least significant byte first.
        unsigned char* serial = nullptr;
        const int serialLength = i2d_ASN1_INTEGER(X509_get_serialNumber(x509.get()), &serial);
        std::vector<BYTE> content(serial + 2, serial + serialLength);
        std::vector<BYTE> blob(info->SerialNumber.pbData,
                               info->SerialNumber.pbData + info->SerialNumber.cbData);
        std::reverse(blob.begin(), blob.end());
        EXPECT_EQ(content, blob);
        OPENSSL_free(serial);
        EXPECT_STREQ("1.2.840.113549.1.1.1", info->SubjectPublicKeyInfo.Algorithm.pszObjId);
        EXPECT_EQ(static_cast<DWORD>(X509_get_version(x509.get())), info->dwVersion);
    }
}

// The certificate with the last byte of its outer SEQUENCE's length raised by one.
std::vector<BYTE> withOuterLengthPlusOne(std::vector<BYTE> bytes) {
    const size_t lengthBytes = (bytes[1] & 0x80) != 0 ? (bytes[1] & 0x7F) : 0;
    bytes[1 + lengthBytes] = static_cast<BYTE>(bytes[1 + lengthBytes] + 1);
    return bytes;
}

TEST(CertCreateCertificateContext, ReportsTheDecoderError) {
    const std::vector<BYTE> bytes = readAliasFixture("plain-cn.der");
    ASSERT_FALSE(bytes.empty());
    struct Case {
        const char* name;
        std::vector<BYTE> input;
        HRESULT error;
    };
    const Case cases[] = {
            {"empty", {}, CRYPT_E_ASN1_EOD},
            {"first ten bytes", std::vector<BYTE>(bytes.begin(), bytes.begin() + 10),
             CRYPT_E_ASN1_EOD},
            {"junk", {0x61, 0x62, 0x63}, CRYPT_E_ASN1_BADTAG},
            {"one byte short", std::vector<BYTE>(bytes.begin(), bytes.end() - 1),
             CRYPT_E_ASN1_CORRUPT},
            // Every part there, but the outer length claims one byte more: the encoding kept
            // would be empty.
            {"outer length past the end", withOuterLengthPlusOne(bytes), CRYPT_E_ASN1_CORRUPT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        Context cert = create(c.input, c.input.size());
        EXPECT_FALSE(cert);
        EXPECT_EQ(static_cast<DWORD>(c.error), GetLastError());
    }
}

TEST(CertCreateCertificateContext, AcceptsTrailingBytesOutsideTheCertificate) {
    std::vector<BYTE> bytes = readAliasFixture("plain-cn.der");
    const size_t length = bytes.size();
    bytes.push_back(0);
    bytes.push_back(0);
    Context cert = create(bytes, bytes.size());
    ASSERT_TRUE(cert);
    EXPECT_EQ(length, cert->cbCertEncoded);
}

TEST(CertDuplicateCertificateContext, KeepsTheContextUntilTheLastFree) {
    const std::vector<BYTE> bytes = readAliasFixture("plain-cn.der");
    PCCERT_CONTEXT first = CertCreateCertificateContext(X509_ASN_ENCODING, bytes.data(),
                                                        static_cast<DWORD>(bytes.size()));
    ASSERT_NE(first, nullptr);
    PCCERT_CONTEXT second = CertDuplicateCertificateContext(first);
    EXPECT_EQ(first, second);
    EXPECT_TRUE(CertFreeCertificateContext(first));
    EXPECT_EQ(bytes.size(), second->cbCertEncoded);  // still valid
    EXPECT_TRUE(CertFreeCertificateContext(second));
    EXPECT_TRUE(CertFreeCertificateContext(nullptr));
}

TEST(CertGetCertificateContextProperty, AnswersSizeMissingAndShortBuffer) {
    const std::vector<BYTE> bytes = readAliasFixture("plain-cn.der");
    Context cert = create(bytes, bytes.size());
    ASSERT_TRUE(cert);
    DWORD size = 99;
    EXPECT_FALSE(CertGetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, nullptr,
                                                   &size));
    EXPECT_EQ(static_cast<DWORD>(CRYPT_E_NOT_FOUND), GetLastError());
    EXPECT_EQ(0u, size);

    BYTE name[] = {'n', 0, 'm', 0};
    CRYPT_DATA_BLOB blob{sizeof(name), name};
    ASSERT_TRUE(
            CertSetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, 0, &blob));
    ASSERT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, nullptr,
                                                  &size));
    EXPECT_EQ(sizeof(name), size);
    BYTE small[2];
    size = sizeof(small);
    EXPECT_FALSE(CertGetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, small,
                                                   &size));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    EXPECT_EQ(sizeof(name), size);
    BYTE large[16] = {};
    size = sizeof(large);
    ASSERT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, large,
                                                  &size));
    EXPECT_EQ(sizeof(name), size);
    EXPECT_EQ(0, std::memcmp(large, name, sizeof(name)));

    ASSERT_TRUE(
            CertSetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, 0, nullptr));
    EXPECT_FALSE(CertGetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, nullptr,
                                                   &size));
}

TEST(CertSetCertificateContextProperty, KeyContextMustHaveItsOwnSize) {
    const std::vector<BYTE> bytes = readAliasFixture("plain-cn.der");
    Context cert = create(bytes, bytes.size());
    CERT_KEY_CONTEXT keyContext{12, 0, AT_KEYEXCHANGE};
    if (sizeof(CERT_KEY_CONTEXT) != 12) {
        EXPECT_FALSE(CertSetCertificateContextProperty(cert.get(), CERT_KEY_CONTEXT_PROP_ID, 0,
                                                       &keyContext));
        EXPECT_EQ(static_cast<DWORD>(E_INVALIDARG), GetLastError());
    }
}

}  // namespace
