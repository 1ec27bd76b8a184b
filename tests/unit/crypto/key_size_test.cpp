// Key length and block size queries over a fake JNIEnv.

#include "crypto/key_size.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/unit/crypto/crypto_fixture.h"

namespace {

using Query = jint (*)(JNIEnv*, jobjectArray, jbyteArray, jboolean);

struct QueryKind {
    const char* name;
    Query query;
};

const QueryKind kQueries[] = {{"getKeyLength", queryKeyLength}, {"getBlockSize", queryBlockSize}};

class KeySizeTest : public CryptoTest {};

TEST_F(KeySizeTest, AnswersTheBitsOfEachKeySource) {
    const RsaTestKey& key = testKey();
    const std::string alias = addKeyEntry("Sized", 4, "c-sized", key.blob);
    for (const QueryKind& kind : kQueries) {
        SCOPED_TRACE(kind.name);
        Printed printed;
        EXPECT_EQ(1024, capture(&printed, [&] {
                      return kind.query(env(), nullptr, bytes(key.publicKey), JNI_TRUE);
                  }));
        EXPECT_EQ(1024, capture(&printed, [&] {
                      // The CRT key info is ignored when the key is public, even another one.
                      return kind.query(env(), crtOf(testKey(2048)), bytes(key.publicKey),
                                        JNI_TRUE);
                  }));
        EXPECT_EQ(2048, capture(&printed,
                                [&] {
                                    return kind.query(env(), crtOf(testKey(2048)), bytes(alias),
                                                      JNI_FALSE);
                                }))
                << "the CRT key info before the alias";
        EXPECT_EQ(1024, capture(&printed, [&] {
                      return kind.query(env(), nullptr, bytes(alias), JNI_FALSE);
                  }));
        EXPECT_EQ(Printed{}, printed);
    }
}

TEST_F(KeySizeTest, PrintsEachFailureExactly) {
    const RsaTestKey& key = testKey();
    struct Case {
        const char* name;
        std::string faults;
        std::function<jint(Query)> call;
        jint result;
        std::string keyLengthOut;
        std::string blockSizeOut;
    };
    const auto withCrt = [this, &key](bool bad) {
        return [this, &key, bad](Query query) {
            RsaTestKey crtKey = key;
            if (bad) {
                crtKey.crt[0].push_back(0);
            }
            return query(env(), crtOf(crtKey), bytes(std::string("unused")), JNI_FALSE);
        };
    };
    const auto withPublic = [this](const Bytes& publicKey) {
        return [this, publicKey](Query query) {
            return query(env(), nullptr, bytes(publicKey), JNI_TRUE);
        };
    };
    const char* noTemporary = "CryptAcquireContextA verify\nCryptAcquireContextA quorvjceconttmp\n";
    const std::string publicFailed =
            reported("Could not import public key into temporary container.",
                     "ASN1 unexpected end of data.");
    const std::vector<Case> cases = {
            {"no blob", "", withCrt(true), 0,
             reported("Could not create the private key blob from the CRT key info."),
             reported("Could not create the private key blob from the CRT key info. Cannot "
                      "determine block size.")},
            {"import refused, verify-only", "CryptImportKey\n", withCrt(false), 0,
             reported("Could not import private key into temporary container in order to "
                      "determine key length.",
                      "Bad Data."),
             reported("Could not import private key into temporary container in order to "
                      "determine block size.",
                      "Bad Data.")},
            {"import refused, container", "CryptAcquireContextA verify\nCryptImportKey\n",
             withCrt(false), 0,
             reported("Could not import private key into container in order to determine key "
                      "length.",
                      "Bad Data."),
             reported("Could not import private key into container in order to determine block "
                      "size.",
                      "Bad Data.")},
            {"no temporary context", noTemporary, withCrt(false), -1,
             reported("Could not acquire context. Cannot determine key length.",
                      "Keyset does not exist"),
             reported("Could not acquire context for temporary container. Cannot determine block "
                      "size.",
                      "Keyset does not exist")},
            {"parameter not read", "CryptGetKeyParam\n", withPublic(key.publicKey), -1,
             reported("Cannot determine key length.", "Bad Key."),
             reported("Could not determine block size.", "Bad Key.")},
            {"public key not imported", "", withPublic({}), -1,
             publicFailed + reported("Cannot determine key length.", "The parameter is incorrect."),
             publicFailed +
                     reported("Could not determine block size.", "The parameter is incorrect.")},
            {"no public key context", noTemporary, withPublic(key.publicKey), -1,
             reported("Could not acquire context for temporary container used for importing "
                      "public key.",
                      "Keyset does not exist"),
             reported("Could not acquire context for temporary container used for importing "
                      "public key.",
                      "Keyset does not exist")},
            {"no entry for the alias", "",
             [this](Query query) {
                 return query(env(), nullptr, bytes(std::string("CN=Nobody,01")), JNI_FALSE);
             },
             -1, "", ""},
    };
    for (const Case& c : cases) {
        for (const QueryKind& kind : kQueries) {
            SCOPED_TRACE(std::string(c.name) + ", " + kind.name);
            freshStores();
            writeFaults(c.faults);
            Printed printed;
            EXPECT_EQ(c.result, capture(&printed, [&] { return c.call(kind.query); }));
            const std::string& out = kind.query == queryKeyLength ? c.keyLengthOut : c.blockSizeOut;
            EXPECT_EQ((Printed{out, ""}), printed);
        }
    }
}

TEST_F(KeySizeTest, ArrayTheVmCannotGiveAnswersZero) {
    for (const QueryKind& kind : kQueries) {
        SCOPED_TRACE(kind.name);
        const jbyteArray refused = bytes(testKey().publicKey);
        jni_.refuseElements(refused);
        EXPECT_EQ(0, kind.query(env(), nullptr, refused, JNI_TRUE));
        EXPECT_EQ(0, kind.query(env(), crtOf(testKey()), nullptr, JNI_FALSE));
    }
}

}  // namespace
