// The emulation's issuer lookup: matching by name and key, the check flags, self-signed ends.

#include <vector>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/handles.h"
#include "tests/unit/support/cert_factory.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

using Bytes = std::vector<BYTE>;

class IssuerTest : public EmulationTest {
protected:
    void SetUp() override {
        EmulationTest::SetUp();
        store_.reset(CertOpenSystemStoreA(0, "CA"));
        ASSERT_TRUE(store_);
    }
    void TearDown() override {
        store_.reset();
        EmulationTest::TearDown();
    }

    void put(const Bytes& encoded) {
        CertContext cert(context(encoded));
        ASSERT_TRUE(CertAddCertificateContextToStore(store_.get(), cert.get(),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    }
    static PCCERT_CONTEXT context(const Bytes& encoded) {
        return CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                            static_cast<DWORD>(encoded.size()));
    }
    // Asks for the issuer of `subject`; gives the issuer's encoding or empty, and the flags.
    Bytes issuerOf(const Bytes& subject, DWORD* flags) {
        CertContext cert(context(subject));
        CertContext issuer(
                CertGetIssuerCertificateFromStore(store_.get(), cert.get(), nullptr, flags));
        return issuer ? Bytes(issuer.get()->pbCertEncoded,
                              issuer.get()->pbCertEncoded + issuer.get()->cbCertEncoded)
                      : Bytes();
    }

    StoreHandle store_;
    TestKey caKey_ = makeTestKey();
    TestKey otherKey_ = makeTestKey();
    TestKey leafKey_ = makeTestKey();
};

TEST_F(IssuerTest, ChecksClearOnlyTheFlagsThatPass) {
    const Bytes authority =
            makeCertificate("Authority", caKey_.get(), "Authority", caKey_.get(), 1);
    put(authority);
    struct Case {
        const char* name;
        Bytes subject;
        DWORD flagsIn;
        DWORD flagsOut;
    };
    const Case cases[] = {
            {"good", makeCertificate("Leaf", leafKey_.get(), "Authority", caKey_.get(), 2), 3, 0},
            {"signed by another key",
             makeCertificate("Forged", leafKey_.get(), "Authority", otherKey_.get(), 3), 3,
             CERT_STORE_SIGNATURE_FLAG},
            {"expired",
             makeCertificate("Old", leafKey_.get(), "Authority", caKey_.get(), 4, false, -1), 3,
             CERT_STORE_TIME_VALIDITY_FLAG},
            {"flags passed on from an earlier step",
             makeCertificate("Leaf", leafKey_.get(), "Authority", caKey_.get(), 5),
             3 | CERT_STORE_NO_ISSUER_FLAG | CERT_STORE_NO_CRL_FLAG,
             CERT_STORE_NO_ISSUER_FLAG | CERT_STORE_NO_CRL_FLAG},
            {"revocation without lists",
             makeCertificate("Leaf", leafKey_.get(), "Authority", caKey_.get(), 6),
             CERT_STORE_REVOCATION_FLAG, CERT_STORE_REVOCATION_FLAG | CERT_STORE_NO_CRL_FLAG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD flags = c.flagsIn;
        EXPECT_EQ(authority, issuerOf(c.subject, &flags)) << "the issuer comes back either way";
        EXPECT_EQ(c.flagsOut, flags);
    }
}

TEST_F(IssuerTest, NamesMustMatchAndKeyIdsToo) {
    put(makeCertificate("Authority", caKey_.get(), "Authority", caKey_.get(), 1, true));
    DWORD flags = CERT_STORE_SIGNATURE_FLAG;
    EXPECT_TRUE(
            issuerOf(makeCertificate("Leaf", leafKey_.get(), "Stranger", caKey_.get(), 2), &flags)
                    .empty());
    EXPECT_EQ(static_cast<DWORD>(CRYPT_E_NOT_FOUND), GetLastError());
    EXPECT_EQ(CERT_STORE_SIGNATURE_FLAG | CERT_STORE_NO_ISSUER_FLAG, flags);
    flags = 0;
    EXPECT_TRUE(
            issuerOf(makeCertificate("Leaf", leafKey_.get(), "Authority", otherKey_.get(), 3, true),
                     &flags)
                    .empty())
            << "the same name with another key is no issuer";
    flags = 0;
    EXPECT_FALSE(
            issuerOf(makeCertificate("Leaf", leafKey_.get(), "Authority", caKey_.get(), 4, true),
                     &flags)
                    .empty());
}

TEST_F(IssuerTest, SelfSignedHasNoIssuer) {
    const Bytes root = makeCertificate("Self", caKey_.get(), "Self", caKey_.get(), 1);
    DWORD flags = 0;
    EXPECT_TRUE(issuerOf(root, &flags).empty());
    EXPECT_EQ(static_cast<DWORD>(CRYPT_E_NOT_FOUND), GetLastError());
    put(root);
    EXPECT_TRUE(issuerOf(root, &flags).empty());
    EXPECT_EQ(static_cast<DWORD>(CRYPT_E_SELF_SIGNED), GetLastError());
}

TEST_F(IssuerTest, RefusesUnknownFlags) {
    DWORD flags = 0x8;
    EXPECT_TRUE(
            issuerOf(makeCertificate("Leaf", leafKey_.get(), "Authority", caKey_.get(), 2), &flags)
                    .empty());
    EXPECT_EQ(static_cast<DWORD>(E_INVALIDARG), GetLastError());
}

}  // namespace
