// The emulation's keys, hashes, signatures and RSA cipher, checked against the platform's
// answers and against OpenSSL.

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/handles.h"
#include "tests/unit/crypto/test_keys.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

class KeyTest : public EmulationTest {
protected:
    void SetUp() override {
        EmulationTest::SetUp();
        ASSERT_TRUE(CryptAcquireContextA(verifyOnly_.out(), nullptr, MS_ENHANCED_PROV_A,
                                         PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    }
    void TearDown() override {
        verifyOnly_.reset();
        EmulationTest::TearDown();
    }

    static BOOL import(HCRYPTPROV context, const Bytes& blob, KeyHandle* key) {
        return CryptImportKey(context, blob.data(), static_cast<DWORD>(blob.size()), 0,
                              CRYPT_EXPORTABLE, key->out());
    }

    static BOOL importPublic(HCRYPTPROV context, const Bytes& encoded, KeyHandle* key,
                             const Bytes& parameters = {}) {
        CERT_PUBLIC_KEY_INFO info{};
        info.Algorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_RSA);
        info.Algorithm.Parameters.cbData = static_cast<DWORD>(parameters.size());
        info.Algorithm.Parameters.pbData = const_cast<BYTE*>(parameters.data());
        info.PublicKey.cbData = static_cast<DWORD>(encoded.size());
        info.PublicKey.pbData = const_cast<BYTE*>(encoded.data());
        return CryptImportPublicKeyInfo(context, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &info,
                                        key->out());
    }

    // Signs `data` in `context` with the key of slot `spec`; empty on failure.
    static Bytes sign(HCRYPTPROV context, ALG_ID algorithm, const Bytes& data, DWORD spec) {
        HashHandle hash;
        DWORD length = 0;
        if (!CryptCreateHash(context, algorithm, 0, 0, hash.out()) ||
            !CryptHashData(hash.get(), data.data(), static_cast<DWORD>(data.size()), 0) ||
            !CryptSignHashA(hash.get(), spec, nullptr, 0, nullptr, &length)) {
            return {};
        }
        Bytes signature(length);
        if (!CryptSignHashA(hash.get(), spec, nullptr, 0, signature.data(), &length)) {
            return {};
        }
        signature.resize(length);
        return signature;
    }

    static BOOL verify(HCRYPTPROV context, ALG_ID algorithm, const Bytes& data,
                       const Bytes& signature, HCRYPTKEY key) {
        HashHandle hash;
        return CryptCreateHash(context, algorithm, 0, 0, hash.out()) &&
               CryptHashData(hash.get(), data.data(), static_cast<DWORD>(data.size()), 0) &&
               CryptVerifySignatureA(hash.get(), signature.data(),
                                     static_cast<DWORD>(signature.size()), key, nullptr, 0);
    }

    static Bytes encrypt(HCRYPTKEY key, const Bytes& plain) {
        Bytes buffer(plain);
        buffer.resize(std::max<size_t>(plain.size(), 512));
        DWORD length = static_cast<DWORD>(plain.size());
        if (!CryptEncrypt(key, 0, TRUE, 0, buffer.data(), &length,
                          static_cast<DWORD>(buffer.size()))) {
            return {};
        }
        buffer.resize(length);
        return buffer;
    }

    ProviderContext verifyOnly_;
    const Bytes data_ = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};
};

TEST_F(KeyTest, ImportRefusesWhatIsNoPrivateKeyBlob) {
    const RsaTestKey& key = testKey();
    struct Case {
        const char* name;
        Bytes blob;
        HRESULT error;
    };
    std::vector<Case> cases;
    Bytes publicType = key.blob;
    publicType[0] = PUBLICKEYBLOB;
    cases.push_back({"bType 0x06 with RSA2", publicType, NTE_BAD_DATA});
    Bytes magic = key.blob;
    magic[11] = '1';
    cases.push_back({"magic RSA1", magic, NTE_BAD_DATA});
    Bytes version = key.blob;
    version[1] = 3;
    cases.push_back({"version 3", version, NTE_BAD_DATA});
    cases.push_back({"one byte short", Bytes(key.blob.begin(), key.blob.end() - 1), NTE_BAD_DATA});
    cases.push_back({"header only", Bytes(key.blob.begin(), key.blob.begin() + 20), NTE_BAD_DATA});
    cases.push_back(
            {"less than a header", Bytes(key.blob.begin(), key.blob.begin() + 19), NTE_BAD_DATA});
    cases.push_back({"another algorithm", key.blobFor(0x6610), NTE_BAD_ALGID});
    Bytes tiny = key.blob;
    tiny[12] = 0x00;
    tiny[13] = 0x01;  // 256 bits: below what the providers take
    cases.push_back({"256 bits", tiny, NTE_BAD_DATA});
    Bytes shortModulus = key.blob;
    shortModulus[20 + 127] = 0;  // the modulus does not fill its 1024 bits
    cases.push_back({"modulus short of its bit length", shortModulus, NTE_BAD_DATA});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeyHandle imported;
        EXPECT_FALSE(import(verifyOnly_.get(), c.blob, &imported));
        EXPECT_EQ(static_cast<DWORD>(c.error), GetLastError());
        EXPECT_FALSE(imported);
    }
    KeyHandle imported;
    Bytes trailing = key.blob;
    trailing.push_back(0xEE);
    EXPECT_TRUE(import(verifyOnly_.get(), trailing, &imported)) << "bytes after the blob";
    EXPECT_FALSE(CryptImportKey(0, key.blob.data(), static_cast<DWORD>(key.blob.size()), 0, 0,
                                imported.out()));
    EXPECT_FALSE(CryptImportKey(verifyOnly_.get(), key.blob.data(),
                                static_cast<DWORD>(key.blob.size()), 0, 0x80, imported.out()));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_FLAGS), GetLastError());
}

// A key-exchange key lands in AT_KEYEXCHANGE, a signature key in AT_SIGNATURE; the other slot
// stays empty, in a verify-only context as in a container.
TEST_F(KeyTest, ImportFillsTheSlotOfTheKeyAlgorithm) {
    const RsaTestKey& key = testKey();
    struct Case {
        const char* name;
        const char* container;  // null: a verify-only context
        ALG_ID algorithm;
        DWORD filled;
        DWORD empty;
    };
    const Case cases[] = {
            {"exchange, verify-only", nullptr, CALG_RSA_KEYX, AT_KEYEXCHANGE, AT_SIGNATURE},
            {"signature, verify-only", nullptr, CALG_RSA_SIGN, AT_SIGNATURE, AT_KEYEXCHANGE},
            {"exchange, container", "exchange", CALG_RSA_KEYX, AT_KEYEXCHANGE, AT_SIGNATURE},
            {"signature, container", "signature", CALG_RSA_SIGN, AT_SIGNATURE, AT_KEYEXCHANGE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProviderContext context;
        ASSERT_TRUE(CryptAcquireContextA(context.out(), c.container, MS_ENHANCED_PROV_A,
                                         PROV_RSA_FULL,
                                         c.container ? CRYPT_NEWKEYSET : CRYPT_VERIFYCONTEXT));
        KeyHandle user;
        EXPECT_FALSE(CryptGetUserKey(context.get(), c.filled, user.out())) << "empty at first";
        EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());
        KeyHandle imported;
        ASSERT_TRUE(import(context.get(), key.blobFor(c.algorithm), &imported));
        EXPECT_TRUE(CryptGetUserKey(context.get(), c.filled, user.out()));
        EXPECT_FALSE(CryptGetUserKey(context.get(), c.empty, user.out()));
        EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());
        EXPECT_EQ(reversed(opensslSign(key, EVP_sha1(), data_)),
                  sign(context.get(), CALG_SHA1, data_, c.filled));
        EXPECT_TRUE(sign(context.get(), CALG_SHA1, data_, c.empty).empty());
        EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());
    }
}

TEST_F(KeyTest, ContainerKeysLastAndVerifyOnlyKeysDoNot) {
    const RsaTestKey& key = testKey();
    {
        ProviderContext made;
        ASSERT_TRUE(CryptAcquireContextA(made.out(), "lasting", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                         CRYPT_NEWKEYSET));
        KeyHandle imported;
        ASSERT_TRUE(import(made.get(), key.blob, &imported));
        KeyHandle inMemory;
        ASSERT_TRUE(import(verifyOnly_.get(), key.blob, &inMemory));
    }
    verifyOnly_.reset();
    struct stat info;
    ASSERT_EQ(0, stat((home() + "/containers/LASTING.key").c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777) << "a container holds private keys";
    // Opened again, through each provider that shares the containers.
    for (const char* provider : {MS_ENHANCED_PROV_A, MS_DEF_PROV_A, MS_STRONG_PROV_A}) {
        SCOPED_TRACE(provider);
        ProviderContext again;
        ASSERT_TRUE(CryptAcquireContextA(again.out(), "LASTING", provider, PROV_RSA_FULL, 0));
        const Bytes signature = sign(again.get(), CALG_SHA1, data_, AT_KEYEXCHANGE);
        EXPECT_EQ(reversed(opensslSign(key, EVP_sha1(), data_)), signature);
    }
    ProviderContext fresh;
    ASSERT_TRUE(CryptAcquireContextA(fresh.out(), nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
    KeyHandle none;
    EXPECT_FALSE(CryptGetUserKey(fresh.get(), AT_KEYEXCHANGE, none.out()));
    EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());
    ASSERT_TRUE(CryptAcquireContextA(verifyOnly_.out(), nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
}

// Imports into one container at once, each into its own slot, keep both keys: the file is
// read, changed and written under the folder's lock.
TEST_F(KeyTest, ImportsAtOnceIntoOneContainerKeepEveryKey) {
    ProviderContext made;
    ASSERT_TRUE(CryptAcquireContextA(made.out(), "shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET));
    made.reset();
    const RsaTestKey& key = testKey();
    std::vector<std::thread> threads;
    for (const ALG_ID algorithm : {CALG_RSA_KEYX, CALG_RSA_SIGN}) {
        threads.emplace_back([&key, algorithm] {
            for (int round = 0; round < 20; ++round) {
                ProviderContext context;
                KeyHandle imported;
                EXPECT_TRUE(CryptAcquireContextA(context.out(), "shared", MS_ENHANCED_PROV_A,
                                                 PROV_RSA_FULL, 0));
                EXPECT_TRUE(import(context.get(), key.blobFor(algorithm), &imported));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ProviderContext context;
    ASSERT_TRUE(
            CryptAcquireContextA(context.out(), "shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
    KeyHandle user;
    EXPECT_TRUE(CryptGetUserKey(context.get(), AT_KEYEXCHANGE, user.out()));
    EXPECT_TRUE(CryptGetUserKey(context.get(), AT_SIGNATURE, user.out()));
}

TEST_F(KeyTest, ADamagedContainerHoldsNoKey) {
    ProviderContext context;
    ASSERT_TRUE(CryptAcquireContextA(context.out(), "damaged", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET));
    KeyHandle imported;
    ASSERT_TRUE(import(context.get(), testKey().blob, &imported));
    const std::string path = home() + "/containers/DAMAGED.key";
    ASSERT_EQ(0, truncate(path.c_str(), 100));  // cut through the key's record
    KeyHandle user;
    EXPECT_FALSE(CryptGetUserKey(context.get(), AT_KEYEXCHANGE, user.out()));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
    unlink(path.c_str());
    EXPECT_FALSE(import(context.get(), testKey().blob, &imported)) << "the container is gone";
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
}

// A slot of no bytes is an empty slot; writing the container back, as an import into the other
// slot does, copies nothing out of it.
TEST_F(KeyTest, AnEmptySlotHoldsNoKeyAndSurvivesAnImport) {
    ProviderContext context;
    ASSERT_TRUE(CryptAcquireContextA(context.out(), "hollow", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET));
    const char file[] = "BRVKEYS1\x02\0\0\0\0\0\0\0";  // AT_SIGNATURE, 0 bytes
    FILE* container = std::fopen((home() + "/containers/HOLLOW.key").c_str(), "wb");
    ASSERT_NE(container, nullptr);
    std::fwrite(file, 1, sizeof(file) - 1, container);
    std::fclose(container);
    KeyHandle user;
    EXPECT_FALSE(CryptGetUserKey(context.get(), AT_SIGNATURE, user.out()));
    EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());
    KeyHandle imported;
    ASSERT_TRUE(import(context.get(), testKey().blob, &imported));
    EXPECT_TRUE(CryptGetUserKey(context.get(), AT_KEYEXCHANGE, user.out()));
    EXPECT_FALSE(CryptGetUserKey(context.get(), AT_SIGNATURE, user.out()));
}

TEST_F(KeyTest, TheBaseProviderCannotUseExchangeKeysAbove1024Bits) {
    const RsaTestKey& large = testKey(2048);
    ProviderContext made;
    ASSERT_TRUE(CryptAcquireContextA(made.out(), "large", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET));
    KeyHandle imported;
    ASSERT_TRUE(import(made.get(), large.blob, &imported));
    ProviderContext base;
    ASSERT_TRUE(CryptAcquireContextA(base.out(), "large", MS_DEF_PROV_A, PROV_RSA_FULL, 0));
    KeyHandle user;
    EXPECT_FALSE(CryptGetUserKey(base.get(), AT_KEYEXCHANGE, user.out()));
    EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());
    EXPECT_TRUE(sign(base.get(), CALG_SHA1, data_, AT_KEYEXCHANGE).empty());
    EXPECT_FALSE(import(base.get(), large.blob, &user));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_DATA), GetLastError());
    EXPECT_TRUE(import(base.get(), large.blobFor(CALG_RSA_SIGN), &user)) << "signature keys may";
    EXPECT_TRUE(import(base.get(), testKey().blob, &user)) << "1024 bits may";
}

TEST_F(KeyTest, PublicKeyImportAnswersAsTheDecoderDoes) {
    const RsaTestKey& key = testKey();
    // A whole SubjectPublicKeyInfo, as Java's getEncoded() gives it.
    unsigned char* spki = nullptr;
    const int spkiLength = i2d_PUBKEY(key.pair.get(), &spki);
    const Bytes wrapped(spki, spki + spkiLength);
    OPENSSL_free(spki);
    struct Case {
        const char* name;
        Bytes encoded;
        HRESULT error;  // 0: imports
    };
    const Case cases[] = {
            {"RSAPublicKey", key.publicKey, 0},
            {"empty", {}, CRYPT_E_ASN1_EOD},
            {"junk", {0x01, 0x02, 0x03, 0x04}, CRYPT_E_ASN1_BADTAG},
            {"cut short by one byte", Bytes(key.publicKey.begin(), key.publicKey.end() - 1),
             CRYPT_E_ASN1_CORRUPT},
            {"SubjectPublicKeyInfo", wrapped, CRYPT_E_ASN1_BADTAG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeyHandle imported;
        EXPECT_EQ(c.error == 0, importPublic(verifyOnly_.get(), c.encoded, &imported) != FALSE);
        EXPECT_EQ(c.error == 0, static_cast<bool>(imported));
        if (c.error != 0) {
            EXPECT_EQ(static_cast<DWORD>(c.error), GetLastError());
        }
    }
    KeyHandle imported;
    EXPECT_TRUE(importPublic(verifyOnly_.get(), key.publicKey, &imported, {0x05, 0x00}))
            << "an encoded NULL as parameters";
    DWORD bits = 0;
    DWORD length = sizeof(bits);
    ASSERT_TRUE(
            CryptGetKeyParam(imported.get(), KP_ALGID, reinterpret_cast<BYTE*>(&bits), &length, 0));
    EXPECT_EQ(CALG_RSA_KEYX, bits);
}

TEST_F(KeyTest, KeyParametersAreTheModulusInBits) {
    KeyHandle publicKey;
    ASSERT_TRUE(importPublic(verifyOnly_.get(), testKey(2048).publicKey, &publicKey));
    KeyHandle privateKey;
    ASSERT_TRUE(import(verifyOnly_.get(), testKey().blob, &privateKey));
    const struct {
        HCRYPTKEY key;
        DWORD parameter;
        DWORD bits;
    } cases[] = {
            {publicKey.get(), KP_KEYLEN, 2048},
            {publicKey.get(), KP_BLOCKLEN, 2048},
            {privateKey.get(), KP_KEYLEN, 1024},
            {privateKey.get(), KP_BLOCKLEN, 1024},
    };
    for (const auto& c : cases) {
        DWORD value = 0;
        DWORD length = sizeof(value);
        ASSERT_TRUE(
                CryptGetKeyParam(c.key, c.parameter, reinterpret_cast<BYTE*>(&value), &length, 0));
        EXPECT_EQ(c.bits, value);
        EXPECT_EQ(4u, length);
    }
    DWORD value = 0;
    DWORD length = 3;
    EXPECT_FALSE(CryptGetKeyParam(privateKey.get(), KP_KEYLEN, reinterpret_cast<BYTE*>(&value),
                                  &length, 0));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    EXPECT_EQ(4u, length);
    length = 4;
    EXPECT_FALSE(CryptGetKeyParam(0, KP_KEYLEN, reinterpret_cast<BYTE*>(&value), &length, 0));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(KeyTest, SignaturesAreOpenSslsReversed) {
    const RsaTestKey& key = testKey();
    KeyHandle imported;
    ASSERT_TRUE(import(verifyOnly_.get(), key.blob, &imported));
    const struct {
        const char* name;
        ALG_ID algorithm;
        const EVP_MD* digest;
    } cases[] = {
            {"SHA1", CALG_SHA1, EVP_sha1()},
            {"MD5", CALG_MD5, EVP_md5()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes signature = sign(verifyOnly_.get(), c.algorithm, data_, AT_KEYEXCHANGE);
        ASSERT_EQ(128u, signature.size());
        EXPECT_EQ(reversed(opensslSign(key, c.digest, data_)), signature);
        EXPECT_EQ(signature, sign(verifyOnly_.get(), c.algorithm, data_, AT_KEYEXCHANGE))
                << "deterministic";
    }
    // OpenSSL here has no MD2; its well-known digest of "abc" shows what was signed.
    const Bytes abc = {'a', 'b', 'c'};
    Bytes expected = kMd2DigestInfo;
    const Bytes md2 = {0xda, 0x85, 0x3b, 0x0d, 0x3f, 0x88, 0xd9, 0x9b,
                       0x30, 0x28, 0x3a, 0x69, 0xe6, 0xde, 0xd6, 0xbb};
    expected.insert(expected.end(), md2.begin(), md2.end());
    EXPECT_EQ(
            expected,
            opensslRecover(key, reversed(sign(verifyOnly_.get(), CALG_MD2, abc, AT_KEYEXCHANGE))));
}

// Keys imported before are handed out again only for the very same bytes: a blob that differs
// in one byte of its modulus, or only in its key algorithm, is a key of its own.
TEST_F(KeyTest, AKeyImportedAgainIsTheSameKeyAndNoOther) {
    const RsaTestKey& key = testKey();
    const RsaTestKey& other = testKey(1024, 1);
    Bytes changedModulus = key.blob;
    changedModulus[20] ^= 0x02;  // the modulus's lowest byte, after the 20 bytes of header
    const Bytes expected = reversed(opensslSign(key, EVP_sha1(), data_));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        for (const Bytes* blob :
             {&key.blob, &other.blob, const_cast<const Bytes*>(&changedModulus)}) {
            KeyHandle imported;
            ASSERT_TRUE(import(verifyOnly_.get(), *blob, &imported));
            const Bytes signature = sign(verifyOnly_.get(), CALG_SHA1, data_, AT_KEYEXCHANGE);
            EXPECT_EQ(blob == &key.blob, signature == expected);
        }
        KeyHandle signingKey;
        ASSERT_TRUE(import(verifyOnly_.get(), key.blobFor(CALG_RSA_SIGN), &signingKey));
        DWORD algorithm = 0;
        DWORD length = sizeof(algorithm);
        ASSERT_TRUE(CryptGetKeyParam(signingKey.get(), KP_ALGID,
                                     reinterpret_cast<BYTE*>(&algorithm), &length, 0));
        EXPECT_EQ(static_cast<DWORD>(CALG_RSA_SIGN), algorithm);
        for (const RsaTestKey* publicKey : {&key, &other}) {
            KeyHandle imported;
            ASSERT_TRUE(importPublic(verifyOnly_.get(), publicKey->publicKey, &imported));
            EXPECT_EQ(publicKey == &key, verify(verifyOnly_.get(), CALG_SHA1, data_, expected,
                                                imported.get()) != FALSE);
        }
    }
}

TEST_F(KeyTest, SignHashAnswersSizeQueriesAndFinishesTheHash) {
    KeyHandle imported;
    ASSERT_TRUE(import(verifyOnly_.get(), testKey().blob, &imported));
    HashHandle hash;
    ASSERT_TRUE(CryptCreateHash(verifyOnly_.get(), CALG_SHA1, 0, 0, hash.out()));
    ASSERT_TRUE(CryptHashData(hash.get(), data_.data(), static_cast<DWORD>(data_.size()), 0));
    DWORD length = 0;
    ASSERT_TRUE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, nullptr, &length));
    EXPECT_EQ(128u, length);
    EXPECT_TRUE(CryptHashData(hash.get(), data_.data(), 1, 0)) << "the query leaves it open";
    Bytes signature(128);
    length = 127;
    EXPECT_FALSE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, signature.data(), &length));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    EXPECT_EQ(128u, length);
    ASSERT_TRUE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, signature.data(), &length));
    EXPECT_FALSE(CryptHashData(hash.get(), data_.data(), 1, 0));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_HASH_STATE), GetLastError());
    EXPECT_FALSE(CryptCreateHash(verifyOnly_.get(), 0x800C, 0, 0, hash.out())) << "SHA-256";
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_ALGID), GetLastError());
    EXPECT_FALSE(CryptDestroyHash(0));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(KeyTest, VerificationAcceptsOnlyTheMatchingLittleEndianSignature) {
    const RsaTestKey& key = testKey();
    KeyHandle publicKey;
    ASSERT_TRUE(importPublic(verifyOnly_.get(), key.publicKey, &publicKey));
    KeyHandle otherKey;
    ASSERT_TRUE(importPublic(verifyOnly_.get(), testKey(1024, 1).publicKey, &otherKey));
    const Bytes signature = reversed(opensslSign(key, EVP_sha1(), data_));
    Bytes otherData = data_;
    otherData[0] ^= 1;
    struct Case {
        const char* name;
        ALG_ID algorithm;
        Bytes data;
        Bytes signature;
        HCRYPTKEY key;
        DWORD error;  // 0: verifies
    };
    const Case cases[] = {
            {"matching", CALG_SHA1, data_, signature, publicKey.get(), 0},
            {"PKCS #1 order", CALG_SHA1, data_, reversed(signature), publicKey.get(),
             static_cast<DWORD>(NTE_BAD_SIGNATURE)},
            {"other data", CALG_SHA1, otherData, signature, publicKey.get(),
             static_cast<DWORD>(NTE_BAD_SIGNATURE)},
            {"other digest", CALG_MD5, data_, signature, publicKey.get(),
             static_cast<DWORD>(NTE_BAD_SIGNATURE)},
            {"one byte short", CALG_SHA1, data_, Bytes(signature.begin(), signature.end() - 1),
             publicKey.get(), static_cast<DWORD>(NTE_BAD_SIGNATURE)},
            {"other key", CALG_SHA1, data_, signature, otherKey.get(),
             static_cast<DWORD>(NTE_BAD_SIGNATURE)},
            {"no key", CALG_SHA1, data_, signature, 0, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.error == 0,
                  verify(verifyOnly_.get(), c.algorithm, c.data, c.signature, c.key) != FALSE);
        if (c.error != 0) {
            EXPECT_EQ(c.error, GetLastError());
        }
    }
}

TEST_F(KeyTest, EncryptionIsPkcs1LittleEndianWithinItsLimits) {
    const RsaTestKey& key = testKey();
    KeyHandle publicKey;
    ASSERT_TRUE(importPublic(verifyOnly_.get(), key.publicKey, &publicKey));
    DWORD length = 5;
    ASSERT_TRUE(CryptEncrypt(publicKey.get(), 0, TRUE, 0, nullptr, &length, 0));
    EXPECT_EQ(128u, length) << "the size query answers the modulus length";
    for (size_t plainLength : {0, 1, 117}) {
        SCOPED_TRACE(plainLength);
        const Bytes plain(plainLength, 0x5A);
        const Bytes cipher = encrypt(publicKey.get(), plain);
        ASSERT_EQ(128u, cipher.size());
        EXPECT_EQ(plain, opensslDecrypt(key, reversed(cipher)));
        EXPECT_NE(cipher, encrypt(publicKey.get(), plain)) << "random padding";
    }
    Bytes buffer(200, 0x5A);
    length = 118;
    EXPECT_FALSE(CryptEncrypt(publicKey.get(), 0, TRUE, 0, buffer.data(), &length, 200));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_LEN), GetLastError());
    length = 10;
    EXPECT_FALSE(CryptEncrypt(publicKey.get(), 0, TRUE, 0, buffer.data(), &length, 127));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    EXPECT_EQ(128u, length) << "the needed size, as Windows answers";
    length = 10;
    EXPECT_FALSE(CryptEncrypt(publicKey.get(), 0, TRUE, CRYPT_OAEP, buffer.data(), &length, 200));
}

TEST_F(KeyTest, DecryptionAnswersBadDataForEveryBadCipherText) {
    const RsaTestKey& key = testKey();
    KeyHandle privateKey;
    ASSERT_TRUE(import(verifyOnly_.get(), key.blob, &privateKey));
    KeyHandle otherKey;
    ProviderContext other;
    ASSERT_TRUE(CryptAcquireContextA(other.out(), nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
    ASSERT_TRUE(import(other.get(), testKey(1024, 1).blob, &otherKey));
    const Bytes plain = {'s', 'e', 'c', 'r', 'e', 't'};
    const Bytes cipher = reversed(opensslEncrypt(key, plain));
    struct Case {
        const char* name;
        HCRYPTKEY key;
        Bytes cipher;
        DWORD length;
        HRESULT error;  // 0: decrypts to `plain`
    };
    const Case cases[] = {
            {"matching", privateKey.get(), cipher, 128, 0},
            {"other key", otherKey.get(), cipher, 128, NTE_BAD_DATA},
            {"PKCS #1 order", privateKey.get(), reversed(cipher), 128, NTE_BAD_DATA},
            {"length 0", privateKey.get(), cipher, 0, NTE_BAD_DATA},
            {"one block less a byte", privateKey.get(), cipher, 127, NTE_BAD_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes buffer = c.cipher;
        DWORD length = c.length;
        const BOOL decrypted = CryptDecrypt(c.key, 0, TRUE, 0, buffer.data(), &length);
        EXPECT_EQ(c.error == 0, decrypted != FALSE);
        if (c.error == 0) {
            EXPECT_EQ(plain, Bytes(buffer.begin(), buffer.begin() + length));
        } else {
            EXPECT_EQ(static_cast<DWORD>(c.error), GetLastError());
        }
    }
    Bytes empty = reversed(opensslEncrypt(key, {}));
    DWORD length = 128;
    ASSERT_TRUE(CryptDecrypt(privateKey.get(), 0, FALSE, 0, empty.data(), &length));
    EXPECT_EQ(0u, length);
    KeyHandle publicKey;
    ASSERT_TRUE(importPublic(verifyOnly_.get(), key.publicKey, &publicKey));
    Bytes buffer = cipher;
    length = 128;
    EXPECT_FALSE(CryptDecrypt(publicKey.get(), 0, TRUE, 0, buffer.data(), &length));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEY), GetLastError());
}

TEST_F(KeyTest, HandlesGoBackOnceOnly) {
    KeyHandle imported;
    ASSERT_TRUE(import(verifyOnly_.get(), testKey().blob, &imported));
    const HCRYPTKEY key = imported.release();
    EXPECT_TRUE(CryptDestroyKey(key));
    EXPECT_FALSE(CryptDestroyKey(key));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_FALSE(CryptDestroyKey(0));
}

TEST_F(KeyTest, FaultFileFailsTheNamedCalls) {
    const RsaTestKey& key = testKey();
    KeyHandle imported;
    ASSERT_TRUE(import(verifyOnly_.get(), key.blob, &imported));
    KeyHandle publicKey;
    ASSERT_TRUE(importPublic(verifyOnly_.get(), key.publicKey, &publicKey));
    writeFaults(
            "CryptImportKey 0x80090020\n"
            "CryptImportPublicKeyInfo\n"
            "CryptSignHashA sign\n"
            "CryptEncrypt encrypt\n"
            "CryptDecrypt 0x80090005\n"
            "CryptGetKeyParam\n"
            "CryptAcquireContextA quorvjceconttmp\n");
    KeyHandle none;
    EXPECT_FALSE(import(verifyOnly_.get(), key.blob, &none));
    EXPECT_EQ(static_cast<DWORD>(NTE_FAIL), GetLastError());
    EXPECT_FALSE(importPublic(verifyOnly_.get(), key.publicKey, &none));
    HashHandle hash;
    ASSERT_TRUE(CryptCreateHash(verifyOnly_.get(), CALG_SHA1, 0, 0, hash.out()));
    DWORD length = 0;
    EXPECT_TRUE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, nullptr, &length));
    Bytes signature(length);
    EXPECT_FALSE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, signature.data(), &length));
    length = 0;
    EXPECT_TRUE(CryptEncrypt(publicKey.get(), 0, TRUE, 0, nullptr, &length, 0));
    EXPECT_TRUE(encrypt(publicKey.get(), {1, 2, 3}).empty());
    Bytes cipher(128);
    length = 128;
    EXPECT_FALSE(CryptDecrypt(imported.get(), 0, TRUE, 0, cipher.data(), &length));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_DATA), GetLastError());
    DWORD bits = 0;
    length = sizeof(bits);
    EXPECT_FALSE(CryptGetKeyParam(imported.get(), KP_KEYLEN, reinterpret_cast<BYTE*>(&bits),
                                  &length, 0));
    ProviderContext temporary;
    EXPECT_FALSE(CryptAcquireContextA(temporary.out(), "quorvjceconttmp", MS_ENHANCED_PROV_A,
                                      PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
    EXPECT_TRUE(CryptAcquireContextA(temporary.out(), "other", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET));
}

}  // namespace
