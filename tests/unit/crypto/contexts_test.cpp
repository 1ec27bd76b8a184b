// Temporary contexts, public key import, and the private key lookups by entry alias.

#include "crypto/contexts.h"

#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "bridge/text.h"
#include "crypto/public_key.h"
#include "tests/unit/crypto/crypto_fixture.h"

namespace {

class ContextsTest : public CryptoTest {
protected:
    bool containerExists(const char* name) {
        struct stat info;
        return stat((home() + "/containers/" + name + ".key").c_str(), &info) == 0;
    }

    static DWORD keyBits(HCRYPTKEY key) {
        DWORD bits = 0;
        DWORD length = sizeof(bits);
        return CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &length, 0) ? bits
                                                                                            : 0;
    }

    // Looks `alias` up by acquireKeyByAlias; answers the key's bits (0 without a key) and
    // whether a context came back.
    DWORD lookUp(const std::string& alias, bool* outContext, Printed* printed) {
        HCRYPTKEY rawKey = 0;
        const HCRYPTPROV rawContext = capture(printed, [&] {
            return acquireKeyByAlias(reinterpret_cast<const BYTE*>(alias.data()),
                                     static_cast<DWORD>(alias.size()), &rawKey);
        });
        ProviderContext context(rawContext);
        KeyHandle key(rawKey);
        *outContext = static_cast<bool>(context);
        return key ? keyBits(key.get()) : 0;
    }

    bool signingContextFor(const std::string& alias) {
        Printed printed;
        ProviderContext context(capture(&printed, [&] {
            return acquireSigningContextByAlias(reinterpret_cast<const BYTE*>(alias.data()),
                                                static_cast<DWORD>(alias.size()));
        }));
        EXPECT_EQ(Printed{}, printed) << "the signing lookup prints nothing";
        return static_cast<bool>(context);
    }
};

TEST_F(ContextsTest, TemporaryContextIsVerifyOnlyWhenItCanBe) {
    HCRYPTPROV raw = 0;
    EXPECT_EQ(VerifyOnlyContext, acquireTemporaryContext(&raw));
    ProviderContext(raw).reset();
    EXPECT_FALSE(containerExists("QUORVJCECONTTMP")) << "neither made nor opened";

    writeFaults("CryptAcquireContextA verify\n");
    EXPECT_EQ(TemporaryContainer, acquireTemporaryContext(&raw));
    ProviderContext(raw).reset();
    EXPECT_TRUE(containerExists("QUORVJCECONTTMP")) << "made on the first call";
    EXPECT_EQ(TemporaryContainer, acquireTemporaryContext(&raw)) << "opened on a later one";
    ProviderContext(raw).reset();

    writeFaults("CryptAcquireContextA verify\nCryptAcquireContextA quorvjceconttmp\n");
    raw = 7;
    EXPECT_EQ(NoTemporaryContext, acquireTemporaryContext(&raw));
    EXPECT_EQ(0u, raw);
}

TEST_F(ContextsTest, PublicKeyImportReportsByTheKindOfContext) {
    const Bytes good = testKey().publicKey;
    const Bytes empty;
    struct Case {
        const char* name;
        const char* faults;
        const Bytes& key;
        bool context;
        bool imported;
        std::string out;
    };
    const Case cases[] = {
            {"verify-only", "", good, true, true, ""},
            {"temporary container", "CryptAcquireContextA verify\n", good, true, true, ""},
            {"empty in verify-only", "", empty, true, false,
             reported("Could not import public key into temporary container.",
                      "ASN1 unexpected end of data.")},
            {"empty in the container", "CryptAcquireContextA verify\n", empty, true, false,
             reported("Could not import public key into container.",
                      "ASN1 unexpected end of data.")},
            {"no context", "CryptAcquireContextA verify\nCryptAcquireContextA quorvjceconttmp\n",
             good, false, false,
             reported("Could not acquire context for temporary container used for importing "
                      "public key.",
                      "Keyset does not exist")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshStores();
        writeFaults(c.faults);
        HCRYPTKEY rawKey = 0;
        Printed printed;
        ProviderContext context(capture(&printed, [&] {
            return importPublicKey(c.key.data(), static_cast<DWORD>(c.key.size()), &rawKey);
        }));
        KeyHandle key(rawKey);
        EXPECT_EQ(c.context, static_cast<bool>(context));
        EXPECT_EQ(c.imported, static_cast<bool>(key));
        EXPECT_EQ((Printed{c.out, ""}), printed);
    }
}

TEST_F(ContextsTest, KeyLookupFindsTheEntryByItsWholeAlias) {
    const std::string alias = addKeyEntry("Signer", 0x21, "c-signer", testKey().blob);
    ASSERT_EQ("CN=Signer,21", alias);
    struct Case {
        std::string alias;
        bool found;
    };
    const Case cases[] = {
            {alias, true},
            {"CN=Signer,2", false},   // a proper prefix
            {alias + "1", false},     // longer
            {"cn=Signer,21", false},  // case counts
            {"", false},
            {std::string("CN=Signer,21\0x", 14), false},  // a NUL inside names nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.alias);
        bool context = false;
        Printed printed;
        EXPECT_EQ(c.found ? 1024u : 0u, lookUp(c.alias, &context, &printed));
        EXPECT_EQ(c.found, context);
        EXPECT_EQ(Printed{}, printed);
        EXPECT_EQ(c.found, signingContextFor(c.alias));
    }
}

TEST_F(ContextsTest, KeyLookupTakesTheSignatureKeyThenTheExchangeKey) {
    const RsaTestKey& small = testKey(1024);
    const RsaTestKey& large = testKey(2048);
    const std::string both = addKeyEntry("Both", 1, "c-both", small.blobFor(CALG_RSA_SIGN));
    {
        ProviderContext container;
        ASSERT_TRUE(CryptAcquireContextA(container.out(), "c-both", MS_ENHANCED_PROV_A,
                                         PROV_RSA_FULL, 0));
        KeyHandle exchange;
        ASSERT_TRUE(CryptImportKey(container.get(), large.blob.data(),
                                   static_cast<DWORD>(large.blob.size()), 0, 0, exchange.out()));
    }
    const std::string exchangeOnly = addKeyEntry("Exchange", 2, "c-exchange", large.blob);
    const std::string signatureOnly =
            addKeyEntry("Signature", 3, "c-signature", small.blobFor(CALG_RSA_SIGN));
    const struct {
        const std::string& alias;
        DWORD bits;
    } cases[] = {{both, 1024}, {exchangeOnly, 2048}, {signatureOnly, 1024}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.alias);
        bool context = false;
        Printed printed;
        EXPECT_EQ(c.bits, lookUp(c.alias, &context, &printed));
        EXPECT_EQ(Printed{}, printed);
    }
}

TEST_F(ContextsTest, KeyLookupReportsAKeyEntryWithoutKey) {
    const std::string gone =
            addKeyEntry("Gone", 1, "c-gone", {}, MS_ENHANCED_PROV_A, PROV_RSA_FULL, false);
    const std::string empty = addKeyEntry("Empty", 2, "c-empty", {});
    bool context = true;
    Printed printed;
    EXPECT_EQ(0u, lookUp(gone, &context, &printed));
    EXPECT_FALSE(context) << "its container does not open";
    EXPECT_EQ((Printed{reported("Could not get handle for private key.",
                                "The parameter is incorrect."),
                       ""}),
              printed);
    EXPECT_EQ(0u, lookUp(empty, &context, &printed));
    EXPECT_TRUE(context) << "the open context comes back, without a key";
    EXPECT_EQ(
            (Printed{reported("Could not get handle for private key.", "Key does not exist."), ""}),
            printed);
    EXPECT_FALSE(signingContextFor(gone));
    EXPECT_TRUE(signingContextFor(empty));
}

TEST_F(ContextsTest, OnlyRsaFullAndRsaSigEntriesAreCandidates) {
    const struct {
        DWORD type;
        bool candidate;
    } cases[] = {
            {PROV_RSA_FULL, true}, {PROV_RSA_SIG, true}, {PROV_RSA_AES, false}, {PROV_DSS, false}};
    long serial = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        // The container exists and holds the key: only the type keeps it out.
        const std::string alias =
                addKeyEntry("Typed", serial++, "c-typed-" + std::to_string(c.type), testKey().blob,
                            MS_ENHANCED_PROV_A, c.type);
        bool context = false;
        Printed printed;
        lookUp(alias, &context, &printed);
        // PROV_RSA_SIG is a candidate, but the Enhanced provider refuses that type.
        EXPECT_EQ(c.type == PROV_RSA_FULL, context);
        if (c.type == PROV_RSA_SIG) {
            EXPECT_EQ((Printed{reported("Could not get handle for private key.",
                                        "The parameter is incorrect."),
                               ""}),
                      printed)
                    << "a candidate whose container does not open is still compared";
        } else {
            EXPECT_EQ(Printed{}, printed);
        }
        EXPECT_EQ(c.type == PROV_RSA_FULL, signingContextFor(alias));
    }
}

// A key entry named after the Base provider is opened through Enhanced when a key is fetched,
// which can use its large exchange key, and through Base itself for signing.
TEST_F(ContextsTest, BaseProviderIsReplacedOnlyWhenTheKeyIsFetched) {
    const Bytes& large = testKey(2048).blob;
    const struct {
        const char* provider;
        DWORD bits;  // what acquireKeyByAlias gets; 0: no key
    } cases[] = {
            {MS_DEF_PROV_A, 2048},
            {"Microsoft base Cryptographic Provider v1.0", 0},  // differs in case: kept
    };
    long serial = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.provider);
        const std::string alias =
                addKeyEntry("Base", serial, "c-base-" + std::to_string(serial), large, c.provider);
        ++serial;
        bool context = false;
        Printed printed;
        EXPECT_EQ(c.bits, lookUp(alias, &context, &printed));
        EXPECT_TRUE(context);
        const Printed expected = c.bits != 0
                                         ? Printed{}
                                         : Printed{reported("Could not get handle for private key.",
                                                            "Key does not exist."),
                                                   ""};
        EXPECT_EQ(expected, printed) << "through Base the large exchange key is out of reach";
        // The signing lookup keeps the provider as stored: Base, whose exchange slot then
        // answers nothing.
        ProviderContext signing(acquireSigningContextByAlias(
                reinterpret_cast<const BYTE*>(alias.data()), static_cast<DWORD>(alias.size())));
        ASSERT_TRUE(signing);
        KeyHandle key;
        EXPECT_FALSE(CryptGetUserKey(signing.get(), AT_KEYEXCHANGE, key.out()));
    }
}

TEST_F(ContextsTest, FirstOfTwoEntriesWithOneAliasAnswers) {
    // Same subject and serial, other bytes (another signer): two entries with one alias.
    const std::string first = addKeyEntry("Twin", 9, "c-twin-a", testKey(1024).blob);
    const std::string second = addKeyEntry("Twin", 9, "c-twin-b", testKey(2048).blob);
    ASSERT_EQ(first, second);
    // Which is first is the store's order; the lookups agree with the walk.
    StoreHandle store(openStore("MY"));
    CertContext cert;
    ASSERT_TRUE(nextCertificate(store.get(), cert));
    const std::unique_ptr<BYTE[]> block(getCertProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID));
    const std::string container = toAnsiString(
            reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block.get())->pwszContainerName);
    cert.reset();
    store.reset();
    bool context = false;
    Printed printed;
    EXPECT_EQ(container == "c-twin-a" ? 1024u : 2048u, lookUp(first, &context, &printed));
}

TEST_F(ContextsTest, KeyLookupSaysWhenMyDoesNotOpen) {
    const std::string alias = addKeyEntry("Signer", 1, "c-signer", testKey().blob);
    writeFaults("CertOpenStore MY\n");
    bool context = true;
    Printed printed;
    EXPECT_EQ(0u, lookUp(alias, &context, &printed));
    EXPECT_FALSE(context);
    EXPECT_EQ((Printed{"", "Cannot open key store.\n"}), printed);
    EXPECT_FALSE(signingContextFor(alias));
}

}  // namespace
