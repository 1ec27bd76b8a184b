// The read side through the natives: listing, lookups, entry queries, chains and store export.

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/jnihost/host.h"

namespace {

// Entry aliases of the fixtures, as the platform writes them (all ASCII).
constexpr const char* kAlice = "CN=Alice Example,05";
constexpr const char* kZero = "CN=Serial Zero,00";
constexpr const char* kHighBit = "CN=Serial High Bit,0080";

class ReadSideTest : public HostTest {
protected:
    // Makes `fixture` a key entry of "MY" with a container of its own; a container deleted
    // afterwards when `withContainer` is false.
    void addKeyEntry(const char* fixture, bool withContainer = true) {
        const std::string container = uniqueName("read");
        ASSERT_NO_FATAL_FAILURE(createContainer(container));
        providers_.push_back(
                std::make_unique<KeyProvider>(container, MS_ENHANCED_PROV_A, PROV_RSA_FULL));
        ASSERT_NO_FATAL_FAILURE(
                addCertificate(Store::Personal, fixture, providers_.back()->info()));
        if (!withContainer) {
            ASSERT_NO_FATAL_FAILURE(deleteContainer(container));
        }
    }

    std::vector<std::string> listAliases() {
        std::vector<std::string> texts;
        jobjectArray listed = natives().aliases(env(), nullptr);
        if (listed != nullptr) {
            EXPECT_EQ("java/lang/String", jni_.elementClassOf(listed));
            for (jobject element : jni_.elementsOf(listed)) {
                texts.push_back(jni_.textOf(static_cast<jstring>(element)));
            }
        }
        return texts;
    }

    bool contains(const std::string& alias) {
        return natives().containsAlias(env(), nullptr, jni_.newString(alias)) != JNI_FALSE;
    }
    bool isKeyEntry(const std::string& alias) {
        return natives().isKeyEntry(env(), nullptr, jni_.newString(alias)) != JNI_FALSE;
    }
    bool isCertificateEntry(const std::string& alias) {
        return natives().isCertificateEntry(env(), nullptr, jni_.newString(alias)) != JNI_FALSE;
    }
    std::vector<BYTE> certificate(const std::string& alias) {
        jbyteArray found = natives().getCertificate(env(), nullptr, jni_.newString(alias));
        return found == nullptr ? std::vector<BYTE>() : jni_.bytesOf(found);
    }
    // The chain as encodings; `outNull` tells a null result from an empty one.
    std::vector<std::vector<BYTE>> chain(const std::string& alias, bool* outNull) {
        jobjectArray found = natives().getCertificateChain(env(), nullptr, jni_.newString(alias));
        *outNull = found == nullptr;
        std::vector<std::vector<BYTE>> links;
        if (found != nullptr) {
            EXPECT_EQ("[B", jni_.elementClassOf(found));
            for (jobject element : jni_.elementsOf(found)) {
                links.push_back(jni_.bytesOf(static_cast<jbyteArray>(element)));
            }
        }
        return links;
    }
    // getCertificateAlias of `bytes`; "(null)" for a null answer.
    std::string aliasOfBytes(const std::vector<BYTE>& bytes) {
        jstring found = natives().getCertificateAlias(env(), nullptr, jni_.newByteArray(bytes));
        return found == nullptr ? "(null)" : jni_.textOf(found);
    }

    std::vector<std::unique_ptr<KeyProvider>> providers_;
};

TEST_F(ReadSideTest, ListsKeyEntriesFirstAndSharedCertificatesTwice) {
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "serial-zero.der"));
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "plain-cn.der"));
    ASSERT_NO_FATAL_FAILURE(addKeyEntry("plain-cn.der"));
    ASSERT_NO_FATAL_FAILURE(addKeyEntry("serial-high-bit.der"));
    std::vector<std::string> listed = listAliases();
    ASSERT_EQ(4u, listed.size());
    std::vector<std::string> keyEntries(listed.begin(), listed.begin() + 2);
    std::vector<std::string> certificateEntries(listed.begin() + 2, listed.end());
    std::sort(keyEntries.begin(), keyEntries.end());
    std::sort(certificateEntries.begin(), certificateEntries.end());
    EXPECT_EQ((std::vector<std::string>{kAlice, kHighBit}), keyEntries);
    EXPECT_EQ((std::vector<std::string>{kAlice, kZero}), certificateEntries);
}

TEST_F(ReadSideTest, EmptyKeyStoreListsNull) {
    EXPECT_EQ(nullptr, natives().aliases(env(), nullptr));
}

// A key entry whose container is gone is no entry for anything but size.
TEST_F(ReadSideTest, DeletedContainerHidesTheKeyEntry) {
    ASSERT_NO_FATAL_FAILURE(addKeyEntry("plain-cn.der", false));
    EXPECT_TRUE(listAliases().empty());
    EXPECT_FALSE(contains(kAlice));
    EXPECT_FALSE(isKeyEntry(kAlice));
    EXPECT_TRUE(certificate(kAlice).empty());
    EXPECT_EQ("(null)", aliasOfBytes(readFixture("alias/plain-cn.der")));
    EXPECT_EQ(1, natives().size(env(), nullptr));
}

TEST_F(ReadSideTest, QueriesTellTheKindsOfEntryApart) {
    ASSERT_NO_FATAL_FAILURE(addKeyEntry("plain-cn.der"));
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "serial-zero.der"));
    struct Case {
        const char* alias;
        bool contained;
        bool keyEntry;
        bool certificateEntry;
        const char* fixture;  // what getCertificate gives, or null
    };
    const Case cases[] = {
            {kAlice, true, true, false, "alias/plain-cn.der"},
            {kZero, true, false, true, "alias/serial-zero.der"},
            // Exact comparison: letter case, blanks, leading zeros of the serial.
            {"cn=Alice Example,05", false, false, false, nullptr},
            {"CN=Alice Example, 05", false, false, false, nullptr},
            {"CN=Alice  Example,05", false, false, false, nullptr},
            {"CN=Alice Example,5", false, false, false, nullptr},
            {"CN=Alice Example,0005", false, false, false, nullptr},
            {"CN=Serial Zero,", false, false, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.alias);
        EXPECT_EQ(c.contained, contains(c.alias));
        EXPECT_EQ(c.keyEntry, isKeyEntry(c.alias));
        EXPECT_EQ(c.certificateEntry, isCertificateEntry(c.alias));
        EXPECT_EQ(c.fixture == nullptr ? std::vector<BYTE>() : readFixture(c.fixture),
                  certificate(c.alias));
    }
    EXPECT_EQ(nullptr, natives().getKey(env(), nullptr, jni_.newString(kAlice), nullptr));
}

TEST_F(ReadSideTest, FindsTheAliasOfExactBytes) {
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "serial-zero.der"));
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::Personal, "plain-cn.der"));  // no key entry
    const std::vector<BYTE> zero = readFixture("alias/serial-zero.der");
    struct Case {
        const char* name;
        std::vector<BYTE> bytes;
        const char* alias;
    };
    const Case cases[] = {
            {"in AddressBook only", zero, kZero},
            {"in MY without a key entry", readFixture("alias/plain-cn.der"), "(null)"},
            {"cut short by one byte", std::vector<BYTE>(zero.begin(), zero.end() - 1), "(null)"},
            {"empty", {}, "(null)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.alias, aliasOfBytes(c.bytes));
    }
}

TEST_F(ReadSideTest, PersonalStoreUnavailable) {
#ifdef _WIN32
    GTEST_SKIP() << "a store that fails to open needs the emulation's fault injection";
#endif
    ASSERT_NO_FATAL_FAILURE(addKeyEntry("plain-cn.der"));
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "serial-zero.der"));
    ASSERT_NO_FATAL_FAILURE(injectFault("CertOpenStore MY"));
    EXPECT_EQ(std::vector<std::string>{kZero}, listAliases());
    EXPECT_TRUE(contains(kZero));
    EXPECT_EQ("(null)", aliasOfBytes(readFixture("alias/serial-zero.der")));
    EXPECT_FALSE(certificate(kZero).empty());
}

struct ChainCase {
    const char* name;
    const char* leaf;
    const char* leafAlias;
    std::vector<const char*> authorities;  // put into "CA"
    std::vector<const char*> roots;        // put into "Root"
    std::vector<const char*> expected;
};

const ChainCase kChainCases[] = {
        {"SelfSigned", "alias/plain-cn.der", kAlice, {}, {}, {"alias/plain-cn.der"}},
        {"IssuedByARoot",
         "chain/rooted-leaf.der",
         "CN=Chain Root,40",
         {},
         {"chain/root.der"},
         {"chain/rooted-leaf.der", "chain/root.der"}},
        {"IntermediateInCaRootInRoot",
         "chain/leaf.der",
         "CN=Chain Intermediate,30",
         {"chain/intermediate.der"},
         {"chain/root.der"},
         {"chain/leaf.der", "chain/intermediate.der", "chain/root.der"}},
        // Root is asked once, so an intermediate found only there ends the chain.
        {"IntermediateOnlyInRoot",
         "chain/leaf.der",
         "CN=Chain Intermediate,30",
         {},
         {"chain/intermediate.der", "chain/root.der"},
         {"chain/leaf.der", "chain/intermediate.der"}},
};

void PrintTo(const ChainCase& c, std::ostream* out) { *out << c.name; }

class ChainTest : public ReadSideTest, public ::testing::WithParamInterface<ChainCase> {};

TEST_P(ChainTest, WalksCaThenAsksRootOnce) {
    const ChainCase& c = GetParam();
    // "CA" and "Root" outlive a test under Wine: start and end without this chain's certificates.
    const std::vector<const char*> chainFixtures = {"chain/root.der", "chain/intermediate.der"};
    ASSERT_NO_FATAL_FAILURE(removeCertificates(Store::Authorities, chainFixtures));
    ASSERT_NO_FATAL_FAILURE(removeCertificates(Store::Roots, chainFixtures));
    ASSERT_NO_FATAL_FAILURE(addKeyEntry(c.leaf));
    for (const char* fixture : c.authorities) {
        ASSERT_NO_FATAL_FAILURE(addCertificate(Store::Authorities, fixture));
    }
    for (const char* fixture : c.roots) {
        ASSERT_NO_FATAL_FAILURE(addCertificate(Store::Roots, fixture));
    }
    bool isNull = true;
    const std::vector<std::vector<BYTE>> links = chain(c.leafAlias, &isNull);
    ASSERT_FALSE(isNull);
    std::vector<std::vector<BYTE>> expected;
    for (const char* fixture : c.expected) {
        expected.push_back(readFixture(fixture));
    }
    EXPECT_EQ(expected, links);
    removeCertificates(Store::Authorities, chainFixtures);
    removeCertificates(Store::Roots, chainFixtures);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChainTest, ::testing::ValuesIn(kChainCases),
                         [](const ::testing::TestParamInfo<ChainCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ReadSideTest, ChainOfACertificateEntryIsNull) {
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "plain-cn.der"));
    bool isNull = false;
    chain(kAlice, &isNull);
    EXPECT_TRUE(isNull);
}

TEST_F(ReadSideTest, ExportsAnyStoreAndNullForAnEmptyOne) {
    jobjectArray empty =
            natives().getAllCertificates(env(), nullptr, jni_.newString("AddressBook"));
    EXPECT_EQ(nullptr, empty);
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "plain-cn.der"));
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "serial-zero.der"));
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "serial-high-bit.der"));
    jobjectArray exported =
            natives().getAllCertificates(env(), nullptr, jni_.newString("AddressBook"));
    ASSERT_NE(nullptr, exported);
    EXPECT_EQ("[B", jni_.elementClassOf(exported));
    std::vector<std::vector<BYTE>> found;
    for (jobject element : jni_.elementsOf(exported)) {
        found.push_back(jni_.bytesOf(static_cast<jbyteArray>(element)));
    }
    std::vector<std::vector<BYTE>> expected = {readFixture("alias/plain-cn.der"),
                                               readFixture("alias/serial-zero.der"),
                                               readFixture("alias/serial-high-bit.der")};
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, found);
    // Any name opens: the platform makes an unknown system store, empty.
    EXPECT_EQ(nullptr, natives().getAllCertificates(env(), nullptr,
                                                    jni_.newString(uniqueName("Made Up Store"))));
}

}  // namespace
