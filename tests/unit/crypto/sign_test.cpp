// Signing and verification, the natives' bodies over a fake JNIEnv.

#include "crypto/sign.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/verify.h"
#include "tests/unit/crypto/crypto_fixture.h"

namespace {

const std::string kInvalidHash = "Invalid hash algorithm. Only supporting SHA1, MD5 and MD2.\n";

TEST(LookupHashAlgorithm, KnowsThreeNamesExactly) {
    const std::pair<const char*, ALG_ID> cases[] = {
            {"SHA1", CALG_SHA1}, {"MD5", CALG_MD5}, {"MD2", CALG_MD2}, {"sha1", 0},  {"SHA-1", 0},
            {"SHA256", 0},       {"", 0},           {"MD4", 0},        {"SHA1 ", 0}, {"md5", 0},
    };
    for (const auto& [name, algorithm] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(algorithm, lookupHashAlgorithm(name));
    }
    EXPECT_EQ(0u, lookupHashAlgorithm(nullptr));
}

class SignTest : public CryptoTest {
protected:
    // Signs with the CRT key info of `key`, or with the entry `alias` when given.
    Bytes sign(const RsaTestKey& key, const char* digest, const Bytes& data,
               const std::string* alias = nullptr, Printed* printed = nullptr) {
        Printed ignored;
        const jbyteArray result = capture(printed ? printed : &ignored, [&] {
            return signData(env(), crtOf(key), alias ? bytes(*alias) : nullptr, text(digest),
                            bytes(data));
        });
        return result == nullptr ? Bytes() : jni_.contentOf(result);
    }

    bool verify(const Bytes& publicKey, const char* digest, const Bytes& signature,
                const Bytes& data, Printed* printed = nullptr) {
        Printed ignored;
        return capture(printed ? printed : &ignored, [&] {
                   return verifySignature(env(), bytes(publicKey), text(digest), bytes(signature),
                                          bytes(data));
               }) == JNI_TRUE;
    }

    const Bytes data_ = {'t', 'o', ' ', 'b', 'e', ' ', 's', 'i', 'g', 'n', 'e', 'd'};
};

// What the natives sign, reversed, is what OpenSSL signs; and the two verify each other.
TEST_F(SignTest, InteroperatesWithOpenSsl) {
    const RsaTestKey& key = testKey();
    const struct {
        const char* digest;
        const EVP_MD* md;
    } cases[] = {{"SHA1", EVP_sha1()}, {"MD5", EVP_md5()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.digest);
        const Bytes signature = sign(key, c.digest, data_);
        ASSERT_EQ(128u, signature.size());
        EXPECT_EQ(opensslSign(key, c.md, data_), reversed(signature));
        EXPECT_EQ(signature, sign(key, c.digest, data_)) << "the same bytes twice";
        EXPECT_TRUE(
                verify(key.publicKey, c.digest, reversed(opensslSign(key, c.md, data_)), data_));
    }
    // MD2, which OpenSSL here lacks: the signed DigestInfo holds the known digest of "abc".
    Bytes expected = kMd2DigestInfo;
    const Bytes md2 = {0xda, 0x85, 0x3b, 0x0d, 0x3f, 0x88, 0xd9, 0x9b,
                       0x30, 0x28, 0x3a, 0x69, 0xe6, 0xde, 0xd6, 0xbb};
    expected.insert(expected.end(), md2.begin(), md2.end());
    const Bytes signature = sign(key, "MD2", {'a', 'b', 'c'});
    EXPECT_EQ(expected, opensslRecover(key, reversed(signature)));
    EXPECT_TRUE(verify(key.publicKey, "MD2", signature, {'a', 'b', 'c'}));
}

TEST_F(SignTest, VerifiesOnlyWhatMatches) {
    const RsaTestKey& key = testKey();
    const Bytes signature = sign(key, "SHA1", data_);
    Bytes otherData = data_;
    otherData.back() ^= 0x01;
    const struct {
        const char* name;
        const Bytes& publicKey;
        const char* digest;
        Bytes signature;
        Bytes data;
        bool valid;
    } cases[] = {
            {"as signed", key.publicKey, "SHA1", signature, data_, true},
            {"reversed into PKCS #1 order", key.publicKey, "SHA1", reversed(signature), data_,
             false},
            {"another digest", key.publicKey, "MD5", signature, data_, false},
            {"data one byte off", key.publicKey, "SHA1", signature, otherData, false},
            {"another key", testKey(1024, 1).publicKey, "SHA1", signature, data_, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Printed printed;
        EXPECT_EQ(c.valid, verify(c.publicKey, c.digest, c.signature, c.data, &printed));
        EXPECT_EQ(Printed{}, printed) << "a signature that does not match prints nothing";
    }
    const Bytes empty;
    EXPECT_TRUE(verify(key.publicKey, "MD5", sign(key, "MD5", empty), empty)) << "empty data";
}

TEST_F(SignTest, SignsWithAKeyEntryAndIgnoresTheCrtKeyInfoThen) {
    const RsaTestKey& entryKey = testKey();
    const RsaTestKey& other = testKey(1024, 1);
    const std::string exchange = addKeyEntry("Exchange", 1, "c-exchange", entryKey.blob);
    const std::string signature =
            addKeyEntry("Signature", 2, "c-signature", entryKey.blobFor(CALG_RSA_SIGN));
    for (const std::string& alias : {exchange, signature}) {
        SCOPED_TRACE(alias);
        Printed printed;
        // The CRT key info of another key is passed too: the alias decides.
        const Bytes made = sign(other, "SHA1", data_, &alias, &printed);
        EXPECT_EQ(Printed{}, printed);
        EXPECT_EQ(opensslSign(entryKey, EVP_sha1(), data_), reversed(made));
    }
    // With an alias the CRT key info is not read at all.
    Printed printed;
    const jbyteArray result = capture(&printed, [&] {
        return signData(env(), nullptr, bytes(exchange), text("SHA1"), bytes(data_));
    });
    EXPECT_EQ(opensslSign(entryKey, EVP_sha1(), data_), reversed(jni_.contentOf(result)));
}

// Every way signing fails, on fresh stores each, with exactly what it prints.
TEST_F(SignTest, PrintsEachFailureExactly) {
    struct Case {
        const char* name;
        std::string faults;
        std::function<std::string()> setUp;  // answers the alias to sign with, or ""
        const char* digest;
        bool badCrt;
        Printed printed;
    };
    const auto noAlias = [] { return std::string(); };
    const auto withEntry = [this] { return addKeyEntry("Entry", 1, "c-entry", testKey().blob); };
    const auto withEmptyEntry = [this] { return addKeyEntry("Empty", 2, "c-empty", {}); };
    const auto withLostEntry = [this] {
        return addKeyEntry("Lost", 3, "c-lost", {}, MS_ENHANCED_PROV_A, PROV_RSA_FULL, false);
    };
    const char* noTemporary = "CryptAcquireContextA verify\nCryptAcquireContextA quorvjceconttmp\n";
    const std::vector<Case> cases = {
            {"lower-case name", "", noAlias, "sha1", false, {"", kInvalidHash}},
            {"hyphenated name", "", withEntry, "SHA-1", false, {"", kInvalidHash}},
            {"SHA256", "", noAlias, "SHA256", false, {"", kInvalidHash}},
            {"empty name", "", noAlias, "", false, {"", kInvalidHash}},
            {"MY does not open", "CertOpenStore MY\n", withEntry, "SHA1", false, {}},
            {"no entry for the alias",
             "",
             [] { return std::string("CN=Nobody,01"); },
             "SHA1",
             false,
             {}},
            {"entry without container", "", withLostEntry, "SHA1", false, {}},
            {"entry without key",
             "",
             withEmptyEntry,
             "SHA1",
             false,
             {reported("Could not determine the size of the signature and allocate memory.",
                       "Key does not exist."),
              ""}},
            {"no blob",
             "",
             noAlias,
             "SHA1",
             true,
             {reported("Could not create the private key blob from the CRT key info."), ""}},
            {"no temporary context",
             noTemporary,
             noAlias,
             "SHA1",
             false,
             {reported("Could not acquire temporary context for signing.", "Keyset does not exist"),
              ""}},
            {"import refused, verify-only",
             "CryptImportKey\n",
             noAlias,
             "SHA1",
             false,
             {reported("Could not temporary import the private key used for signing.", "Bad Data."),
              ""}},
            {"import refused, container",
             "CryptAcquireContextA verify\nCryptImportKey\n",
             noAlias,
             "SHA1",
             false,
             {reported("Could not import the private key used for signing.", "Bad Data."), ""}},
            {"hash not created",
             "CryptCreateHash\n",
             noAlias,
             "SHA1",
             false,
             {reported("Could not create hash for signing.", "Invalid algorithm specified."), ""}},
            {"data not hashed",
             "CryptHashData\n",
             withEntry,
             "MD5",
             false,
             {reported("Could not compute the cryptographic hash of the buffer for signing.",
                       "Hash not valid for use in specified state."),
              ""}},
            {"no signature size",
             "CryptSignHashA query\n",
             noAlias,
             "MD2",
             false,
             {reported("Could not determine the size of the signature and allocate memory.",
                       "Key does not exist."),
              ""}},
            {"no signature",
             "CryptSignHashA sign\n",
             withEntry,
             "SHA1",
             false,
             {reported("Could not sign the hash value.", "Key does not exist."), ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshStores();
        const std::string alias = c.setUp();
        writeFaults(c.faults);
        RsaTestKey key = testKey();
        if (c.badCrt) {
            key.crt[3].pop_back();
        }
        Printed printed;
        const jbyteArray result = capture(&printed, [&] {
            return signData(env(), crtOf(key), alias.empty() ? nullptr : bytes(alias),
                            text(c.digest), bytes(data_));
        });
        EXPECT_EQ(nullptr, result);
        EXPECT_EQ(c.printed, printed);
        const emu::HandleCounts counts = emu::openHandles();
        EXPECT_EQ(0, counts.providers + counts.keys + counts.hashes + counts.stores +
                             counts.certificates)
                << "every handle given back";
    }
}

TEST_F(SignTest, VerifyPrintsEachFailureExactly) {
    const RsaTestKey& key = testKey();
    const Bytes signature = reversed(opensslSign(key, EVP_sha1(), data_));
    struct Case {
        const char* name;
        std::string faults;
        Bytes publicKey;
        const char* digest;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
            {"digest name in other case", "", key.publicKey, "Sha1", "", kInvalidHash},
            {"no context", "CryptAcquireContextA verify\nCryptAcquireContextA quorvjceconttmp\n",
             key.publicKey, "SHA1",
             reported("Could not acquire context for temporary container used for importing "
                      "public key.",
                      "Keyset does not exist"),
             ""},
            {"key not imported, verify-only",
             "",
             {0x30, 0x03, 0x02, 0x01},
             "SHA1",
             reported("Could not import public key into temporary container.",
                      "ASN1 corrupted data."),
             ""},
            {"key not imported, container",
             "CryptAcquireContextA verify\n",
             {},
             "SHA1",
             reported("Could not import public key into container.",
                      "ASN1 unexpected end of data."),
             ""},
            {"hash not created", "CryptCreateHash\n", key.publicKey, "SHA1",
             reported("Could not create the cryptographic hash required for verification of "
                      "signature.",
                      "Invalid algorithm specified."),
             ""},
            {"data not hashed", "CryptHashData\n", key.publicKey, "MD5",
             reported("Could not compute the cryptographic hash required for verification of "
                      "signature",
                      "Hash not valid for use in specified state."),
             ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshStores();
        writeFaults(c.faults);
        Printed printed;
        EXPECT_FALSE(verify(c.publicKey, c.digest, signature, data_, &printed));
        EXPECT_EQ((Printed{c.out, c.err}), printed);
    }
}

TEST_F(SignTest, MissingArgumentsEndWithNullAndReadNothingElse) {
    const RsaTestKey& key = testKey();
    Printed printed;
    EXPECT_EQ(nullptr, capture(&printed, [&] {
                  return signData(env(), crtOf(key), nullptr, nullptr, bytes(data_));
              }));
    EXPECT_EQ(nullptr, capture(&printed, [&] {
                  return signData(env(), crtOf(key), nullptr, text("SHA1"), nullptr);
              }));
    EXPECT_EQ(Printed{}, printed);
    EXPECT_EQ(nullptr, capture(&printed, [&] {
                  return signData(env(), nullptr, nullptr, text("SHA1"), bytes(data_));
              }));
    EXPECT_EQ(
            (Printed{reported("Could not create the private key blob from the CRT key info."), ""}),
            printed)
            << "neither an alias nor a CRT key info";
    const jbyteArray refused = bytes(data_);
    jni_.refuseElements(refused);
    EXPECT_EQ(JNI_FALSE, capture(&printed, [&] {
                  return verifySignature(env(), bytes(key.publicKey), text("SHA1"), refused,
                                         bytes(data_));
              }));
    EXPECT_EQ(Printed{}, printed);
    EXPECT_EQ(JNI_FALSE, verifySignature(env(), nullptr, text("SHA1"), bytes(data_), bytes(data_)));
}

}  // namespace
