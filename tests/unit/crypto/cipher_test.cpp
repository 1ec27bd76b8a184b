// The RSA cipher natives' bodies over a fake JNIEnv, against OpenSSL.

#include "crypto/cipher.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/unit/crypto/crypto_fixture.h"

namespace {

const char* const kNoTemporaryContext =
        "CryptAcquireContextA verify\nCryptAcquireContextA quorvjceconttmp\n";

class CipherTest : public CryptoTest {
protected:
    // Null results read as `kNull`, to tell them from an empty array.
    const Bytes kNull = {0xDE, 0xAD};

    Bytes encrypt(const Bytes& publicKey, const Bytes& plain, Printed* printed) {
        const jbyteArray result = capture(printed, [&] {
            return encryptWithPublicKey(env(), bytes(publicKey), bytes(plain), JNI_TRUE);
        });
        return result == nullptr ? kNull : jni_.contentOf(result);
    }

    Bytes decrypt(jobjectArray crt, const std::string* alias, const Bytes& cipher,
                  Printed* printed) {
        const jbyteArray result = capture(printed, [&] {
            return decryptWithPrivateKey(env(), crt, alias ? bytes(*alias) : nullptr, bytes(cipher),
                                         JNI_FALSE);
        });
        return result == nullptr ? kNull : jni_.contentOf(result);
    }

    const Bytes plain_ = {'a', ' ', 's', 'e', 'c', 'r', 'e', 't'};
};

TEST_F(CipherTest, InteroperatesWithOpenSsl) {
    const RsaTestKey& key = testKey();
    for (const Bytes& plain : {plain_, Bytes(), Bytes(117, 0x42)}) {
        SCOPED_TRACE(plain.size());
        Printed printed;
        const Bytes cipher = encrypt(key.publicKey, plain, &printed);
        EXPECT_EQ(Printed{}, printed);
        ASSERT_EQ(128u, cipher.size()) << "a 1024-bit key's block, whatever the plain text";
        EXPECT_EQ(plain, opensslDecrypt(key, reversed(cipher)));
        EXPECT_EQ(plain, decrypt(crtOf(key), nullptr, cipher, &printed));
        EXPECT_EQ(plain,
                  decrypt(crtOf(key), nullptr, reversed(opensslEncrypt(key, plain)), &printed));
        EXPECT_EQ(Printed{}, printed);
    }
}

TEST_F(CipherTest, DecryptsWithAKeyEntryByAlias) {
    const RsaTestKey& key = testKey(2048);
    const std::string alias = addKeyEntry("Decrypter", 7, "c-decrypter", key.blob);
    Printed printed;
    const Bytes cipher = reversed(opensslEncrypt(key, plain_));
    EXPECT_EQ(plain_, decrypt(nullptr, &alias, cipher, &printed));
    EXPECT_EQ(Printed{}, printed);
    EXPECT_EQ(kNull, decrypt(nullptr, nullptr, cipher, &printed)) << "neither key nor alias";
    EXPECT_EQ(Printed{}, printed);
}

TEST_F(CipherTest, BadDataGivesTheOneByteMarker) {
    const RsaTestKey& key = testKey();
    const Bytes cipher = reversed(opensslEncrypt(key, plain_));
    const struct {
        const char* name;
        const RsaTestKey& key;
        Bytes cipher;
    } cases[] = {
            {"another key pair", testKey(1024, 1), cipher},
            {"PKCS #1 byte order", key, reversed(cipher)},
            {"no cipher text", key, {}},
            {"one byte short", key, Bytes(cipher.begin(), cipher.end() - 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Printed printed;
        EXPECT_EQ(Bytes{1}, decrypt(crtOf(c.key), nullptr, c.cipher, &printed));
        EXPECT_EQ(Printed{}, printed);
    }
}

TEST_F(CipherTest, EncryptPrintsEachFailureExactly) {
    const RsaTestKey& key = testKey();
    struct Case {
        const char* name;
        std::string faults;
        Bytes publicKey;
        Bytes plain;
        std::string out;
    };
    const std::vector<Case> cases = {
            {"no context", kNoTemporaryContext, key.publicKey, plain_,
             reported("Could not acquire context for temporary container used for importing "
                      "public key.",
                      "Keyset does not exist")},
            {"public key not imported",
             "",
             {0x04, 0x00},
             plain_,
             reported("Could not import public key into temporary container.",
                      "ASN1 bad tag value met.")},
            {"no size", "CryptEncrypt query\n", key.publicKey, plain_,
             reported("Could not determine the size of the resulting buffer for encryption.",
                      "Bad Key.")},
            {"not encrypted", "CryptEncrypt encrypt\n", key.publicKey, plain_,
             reported("Could not encrypt data.", "Bad Key.")},
            {"plain text over k - 11", "", key.publicKey, Bytes(118, 0x42),
             reported("Could not encrypt data.", "Bad Length.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshStores();
        writeFaults(c.faults);
        Printed printed;
        EXPECT_EQ(kNull, encrypt(c.publicKey, c.plain, &printed));
        EXPECT_EQ((Printed{c.out, ""}), printed);
    }
}

TEST_F(CipherTest, DecryptPrintsEachFailureExactly) {
    const RsaTestKey& key = testKey();
    const Bytes cipher = reversed(opensslEncrypt(key, plain_));
    struct Case {
        const char* name;
        std::string faults;
        std::function<std::string()> setUp;  // the alias to decrypt with; "" for the CRT
        bool badCrt;
        Bytes result;
        Printed printed;
    };
    const auto crt = [] { return std::string(); };
    const Bytes none = kNull;
    const std::vector<Case> cases = {
            {"no blob",
             "",
             crt,
             true,
             none,
             {reported("Could not create the private key blob from the CRT key info."), ""}},
            {"import refused, verify-only",
             "CryptImportKey\n",
             crt,
             false,
             none,
             {reported("Could not import private key into temporary container for decryption.",
                       "Bad Data."),
              ""}},
            {"import refused, container",
             "CryptAcquireContextA verify\nCryptImportKey\n",
             crt,
             false,
             none,
             {reported("Could not import private key into container for decryption.", "Bad Data."),
              ""}},
            {"no temporary context",
             kNoTemporaryContext,
             crt,
             false,
             none,
             {reported("Could not acquire context for temporary container.",
                       "Keyset does not exist"),
              ""}},
            {"no entry for the alias",
             "",
             [] { return std::string("CN=Nobody,01"); },
             false,
             none,
             {}},
            {"entry without key",
             "",
             [this] { return addKeyEntry("Empty", 1, "c-empty", {}); },
             false,
             none,
             {reported("Could not get handle for private key.", "Key does not exist."), ""}},
            {"MY does not open",
             "CertOpenStore MY\n",
             [this] { return addKeyEntry("Entry", 2, "c-entry", testKey().blob); },
             false,
             none,
             {"", "Cannot open key store.\n"}},
            {"bad data", "CryptDecrypt 0x80090005\n", crt, false, {1}, {}},
            {"other failure",
             "CryptDecrypt\n",
             crt,
             false,
             none,
             {reported("Could not decrypt the encrypted data.", "An internal error occurred."),
              ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshStores();
        const std::string alias = c.setUp();
        writeFaults(c.faults);
        RsaTestKey crtKey = key;
        if (c.badCrt) {
            crtKey.crt.pop_back();
        }
        Printed printed;
        EXPECT_EQ(c.result, decrypt(alias.empty() ? crtOf(crtKey) : nullptr,
                                    alias.empty() ? nullptr : &alias, cipher, &printed));
        EXPECT_EQ(c.printed, printed);
    }
}

TEST_F(CipherTest, TheTemporaryContainerKeepsTheLastKeyImported) {
    const RsaTestKey& key = testKey();
    writeFaults("CryptAcquireContextA verify\n");
    Printed printed;
    const Bytes cipher = reversed(opensslEncrypt(key, plain_));
    EXPECT_EQ(plain_, decrypt(crtOf(key), nullptr, cipher, &printed));
    EXPECT_EQ(plain_, decrypt(crtOf(key), nullptr, cipher, &printed)) << "opened as it was";
    EXPECT_EQ(Printed{}, printed);
    writeFaults("");
    ProviderContext temporary;
    ASSERT_TRUE(CryptAcquireContextA(temporary.out(), "quorvjceconttmp", MS_ENHANCED_PROV_A,
                                     PROV_RSA_FULL, 0));
    KeyHandle kept;
    EXPECT_TRUE(CryptGetUserKey(temporary.get(), AT_KEYEXCHANGE, kept.out()));
}

TEST_F(CipherTest, InputArraysStayAsTheyWere) {
    const RsaTestKey& key = testKey();
    const jbyteArray publicKey = bytes(key.publicKey);
    const jbyteArray plain = bytes(plain_);
    const jbyteArray cipher = encryptWithPublicKey(env(), publicKey, plain, JNI_TRUE);
    ASSERT_NE(nullptr, cipher);
    const Bytes cipherText = jni_.contentOf(cipher);
    EXPECT_EQ(key.publicKey, jni_.contentOf(publicKey));
    EXPECT_EQ(plain_, jni_.contentOf(plain));
    const jbyteArray decrypted =
            decryptWithPrivateKey(env(), crtOf(key), nullptr, cipher, JNI_TRUE);
    EXPECT_EQ(plain_, jni_.contentOf(decrypted));
    EXPECT_EQ(cipherText, jni_.contentOf(cipher)) << "decrypted in a copy, not in place";
}

}  // namespace
