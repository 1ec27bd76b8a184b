// Key entry installation through the natives: store placement, every failure message, the one
// shared container, and the installed entry used by alias.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/jnihost/host.h"

namespace {

constexpr const char* kLeafAlias = "CN=Entry Mid Two,54";
constexpr const char* kOtherAlias = "CN=Second Entry,55";

const std::vector<const char*> kChainFixtures = {"keyentry/root.der", "keyentry/mid1.der",
                                                 "keyentry/mid2.der"};

class KeyEntryTest : public HostTest {
protected:
    // "CA" and "Root" outlive a test under Wine; over the emulation each test has its own.
    void SetUp() override {
        HostTest::SetUp();
#ifdef _WIN32
        removeCertificates(Store::Authorities, kChainFixtures);
        removeCertificates(Store::Roots, kChainFixtures);
#endif
    }
    void TearDown() override {
#ifdef _WIN32
        removeCertificates(Store::Authorities, kChainFixtures);
        removeCertificates(Store::Roots, kChainFixtures);
#endif
        HostTest::TearDown();
    }

    jobjectArray crtKeyInfo(const std::string& key) {
        std::vector<jobject> elements;
        for (const char* number : {"n", "p", "q", "dp", "dq", "qinv", "d", "e"}) {
            elements.push_back(
                    jni_.newByteArray(readFixture("keyentry/" + key + "/" + number + ".bin")));
        }
        return jni_.newObjectArray("[B", elements);
    }

    // A chain of fixtures; "junk" stands for bytes that form no certificate.
    jobjectArray chain(const std::vector<std::string>& fixtures) {
        std::vector<jobject> elements;
        for (const std::string& fixture : fixtures) {
            elements.push_back(jni_.newByteArray(fixture == "junk"
                                                         ? std::vector<BYTE>{0x30, 0x03, 0x02, 0x01}
                                                         : readFixture("keyentry/" + fixture)));
        }
        return jni_.newObjectArray("[B", elements);
    }

    // Installs and gives what the library printed on standard output.
    bool install(const std::string& key, const std::vector<std::string>& fixtures,
                 std::string* outPrinted) {
        ::testing::internal::CaptureStdout();
        const bool installed = natives().setKeyEntry(env(), nullptr, crtKeyInfo(key), nullptr,
                                                     chain(fixtures)) != JNI_FALSE;
        *outPrinted = ::testing::internal::GetCapturedStdout();
        return installed;
    }

    bool holds(Store store, const char* fixture) {
        const std::vector<BYTE> wanted = readFixture(fixture);
        StoreHandle handle(openStore(store));
        CertContext cert;
        while (handle && nextCertificate(handle.get(), cert)) {
            if (std::vector<BYTE>(cert.get()->pbCertEncoded,
                                  cert.get()->pbCertEncoded + cert.get()->cbCertEncoded) ==
                wanted) {
                return true;
            }
        }
        return false;
    }

    bool isKeyEntry(const std::string& alias) {
        return natives().isKeyEntry(env(), nullptr, jni_.newString(alias)) != JNI_FALSE;
    }
};

// The first line the library printed, and whether a system message line followed it.
std::string firstLine(const std::string& printed) { return printed.substr(0, printed.find('\n')); }
bool hasSystemMessage(const std::string& printed) {
    const size_t second = printed.find('\n');
    return second != std::string::npos && printed.compare(second + 1, 8, "SYSMSG: ") == 0;
}

struct PlacementCase {
    const char* name;
    std::vector<std::string> chain;
    std::vector<const char*> inAuthorities;
    std::vector<const char*> inRoots;
    std::vector<const char*> faults;  // stores that must not be opened (Linux only)
};

const PlacementCase kPlacementCases[] = {
        {"ChainOfOne", {"leaf.der"}, {}, {}, {"CertOpenStore CA", "CertOpenStore Root"}},
        {"ChainOfTwo", {"leaf.der", "mid2.der"}, {}, {"keyentry/mid2.der"}, {"CertOpenStore CA"}},
        {"ChainOfFour",
         {"leaf.der", "mid2.der", "mid1.der", "root.der"},
         {"keyentry/mid2.der", "keyentry/mid1.der"},
         {"keyentry/root.der"},
         {}},
};

void PrintTo(const PlacementCase& c, std::ostream* out) { *out << c.name; }

class PlacementTest : public KeyEntryTest, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(PlacementTest, PutsEachCertificateInItsStore) {
    const PlacementCase& c = GetParam();
#ifndef _WIN32
    for (const char* fault : c.faults) {
        ASSERT_NO_FATAL_FAILURE(injectFault(fault));
    }
#endif
    std::string printed;
    EXPECT_TRUE(install("key1", c.chain, &printed));
    EXPECT_EQ("", printed);
    EXPECT_TRUE(holds(Store::Personal, "keyentry/leaf.der"));
    EXPECT_TRUE(isKeyEntry(kLeafAlias));
    for (const char* fixture : c.inAuthorities) {
        EXPECT_TRUE(holds(Store::Authorities, fixture)) << fixture;
    }
    for (const char* fixture : c.inRoots) {
        EXPECT_TRUE(holds(Store::Roots, fixture)) << fixture;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PlacementTest, ::testing::ValuesIn(kPlacementCases),
                         [](const ::testing::TestParamInfo<PlacementCase>& info) {
                             return std::string(info.param.name);
                         });

struct FailureCase {
    const char* name;
    std::vector<std::string> chain;
    const char* message;
    bool systemMessage;
    bool leafInstalled;
    std::vector<const char*> inAuthorities;
};

const FailureCase kFailureCases[] = {
        {"EmptyChain",
         {},
         "Brisvander: Invalid number of certificates in certificate chain. Must be at least one "
         "certificate. Cannot create key entry.",
         false,
         false,
         {}},
        {"MalformedPersonal",
         {"junk"},
         "Brisvander: Could not create certificate context for personal certificate for MY system "
         "store. Cannot create key entry.",
         false,
         false,
         {}},
        {"MalformedIntermediate",
         {"leaf.der", "junk", "root.der"},
         "Brisvander: Could not create certificate context for intermediate certificate in "
         "intermediate CA system store. Cannot install certificate chain.",
         false,
         true,
         {}},
        {"MalformedRoot",
         {"leaf.der", "mid2.der", "junk"},
         "Brisvander: Could not create certificate context for root certificate in root CA system "
         "store. Cannot install certificate chain.",
         true,
         true,
         {"keyentry/mid2.der"}},
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class FailureTest : public KeyEntryTest, public ::testing::WithParamInterface<FailureCase> {};

// Nothing is rolled back: what the earlier steps did stays.
TEST_P(FailureTest, ReportsTheStepAndKeepsTheEarlierOnes) {
    const FailureCase& c = GetParam();
    std::string printed;
    EXPECT_FALSE(install("key1", c.chain, &printed));
    EXPECT_EQ(c.message, firstLine(printed));
    EXPECT_EQ(c.systemMessage, hasSystemMessage(printed)) << printed;
    EXPECT_EQ(c.leafInstalled, holds(Store::Personal, "keyentry/leaf.der"));
    for (const char* fixture : c.inAuthorities) {
        EXPECT_TRUE(holds(Store::Authorities, fixture)) << fixture;
    }
    // The key was imported before any certificate was looked at.
    ProviderContext container;
    EXPECT_TRUE(CryptAcquireContextA(container.out(), "quorvjcecont", MS_ENHANCED_PROV_A,
                                     PROV_RSA_FULL, 0));
    KeyHandle key;
    EXPECT_TRUE(CryptGetUserKey(container.get(), AT_KEYEXCHANGE, key.out()));
}

INSTANTIATE_TEST_SUITE_P(Cases, FailureTest, ::testing::ValuesIn(kFailureCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(KeyEntryTest, CrtKeyInfoOfTheWrongShapeIsRefusedFirst) {
    std::string printed;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(natives().setKeyEntry(env(), nullptr, jni_.newObjectArray("[B", {}), nullptr,
                                       chain({"leaf.der"})));
    printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(
            "Brisvander: Could not create the private key blob from the CRT key info. Cannot "
            "create key entry.\n",
            printed);
    EXPECT_FALSE(holds(Store::Personal, "keyentry/leaf.der"));
}

// Every key entry names the one container: a second installation replaces the key the first
// entry's certificate points to, and both certificates stay key entries.
TEST_F(KeyEntryTest, SecondInstallationReusesTheOneContainer) {
    std::string printed;
    ASSERT_TRUE(install("key1", {"leaf.der"}, &printed)) << printed;
    ASSERT_TRUE(install("key1", {"leaf.der"}, &printed)) << "installing again replaces the copy";
    ASSERT_TRUE(install("key2", {"other.der"}, &printed)) << printed;
    EXPECT_TRUE(isKeyEntry(kLeafAlias));
    EXPECT_TRUE(isKeyEntry(kOtherAlias));

    // Signing by the first entry's alias now uses the second key.
    const std::vector<BYTE> data = {'s', 'h', 'a', 'r', 'e', 'd'};
    const std::string alias(kLeafAlias);
    jbyteArray signature =
            natives().sign(env(), nullptr, nullptr,
                           jni_.newByteArray(std::vector<BYTE>(alias.begin(), alias.end())),
                           jni_.newString("SHA1"), jni_.newByteArray(data));
    ASSERT_NE(nullptr, signature);
    const auto verifies = [&](const char* publicKey) {
        return natives().verify(env(), nullptr, jni_.newByteArray(readFixture(publicKey)),
                                jni_.newString("SHA1"), signature,
                                jni_.newByteArray(data)) != JNI_FALSE;
    };
    EXPECT_TRUE(verifies("keyentry/key2-public.der"));
    EXPECT_FALSE(verifies("keyentry/key1-public.der"));
}

TEST_F(KeyEntryTest, InstalledEntryIsListedChainedAndUsedByAlias) {
    std::string printed;
    ASSERT_TRUE(install("key1", {"leaf.der", "mid2.der", "mid1.der", "root.der"}, &printed))
            << printed;
    jobjectArray listed = natives().aliases(env(), nullptr);
    ASSERT_NE(nullptr, listed);
    std::vector<std::string> aliases;
    for (jobject element : jni_.elementsOf(listed)) {
        aliases.push_back(jni_.textOf(static_cast<jstring>(element)));
    }
    EXPECT_EQ(std::vector<std::string>{kLeafAlias}, aliases);

    jobjectArray links = natives().getCertificateChain(env(), nullptr, jni_.newString(kLeafAlias));
    ASSERT_NE(nullptr, links);
    std::vector<std::vector<BYTE>> found;
    for (jobject element : jni_.elementsOf(links)) {
        found.push_back(jni_.bytesOf(static_cast<jbyteArray>(element)));
    }
    std::vector<std::vector<BYTE>> expected;
    for (const char* fixture :
         {"keyentry/leaf.der", "keyentry/mid2.der", "keyentry/mid1.der", "keyentry/root.der"}) {
        expected.push_back(readFixture(fixture));
    }
    EXPECT_EQ(expected, found);

    const std::string alias(kLeafAlias);
    const std::vector<BYTE> aliasBytes(alias.begin(), alias.end());
    const std::vector<BYTE> data = {'r', 'o', 'u', 'n', 'd', ' ', 't', 'r', 'i', 'p'};
    jbyteArray signature = natives().sign(env(), nullptr, nullptr, jni_.newByteArray(aliasBytes),
                                          jni_.newString("SHA1"), jni_.newByteArray(data));
    ASSERT_NE(nullptr, signature);
    EXPECT_TRUE(natives().verify(env(), nullptr,
                                 jni_.newByteArray(readFixture("keyentry/key1-public.der")),
                                 jni_.newString("SHA1"), signature, jni_.newByteArray(data)));

    jbyteArray cipherText = natives().encrypt(
            env(), nullptr, jni_.newByteArray(readFixture("keyentry/key1-public.der")),
            jni_.newByteArray(data), JNI_TRUE);
    ASSERT_NE(nullptr, cipherText);
    jbyteArray plainText = natives().decrypt(env(), nullptr, nullptr, jni_.newByteArray(aliasBytes),
                                             cipherText, JNI_TRUE);
    ASSERT_NE(nullptr, plainText);
    EXPECT_EQ(data, jni_.bytesOf(plainText));
}

}  // namespace
