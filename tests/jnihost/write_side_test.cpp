// The write side through the natives: certificate entries, deletion, and key entries.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/jnihost/host.h"

namespace {

constexpr const char* kAlice = "CN=Alice Example,05";

class WriteSideTest : public HostTest {
protected:
    bool setCertificateEntry(const std::vector<BYTE>& bytes) {
        return natives().setCertificateEntry(env(), nullptr, jni_.newByteArray(bytes)) != JNI_FALSE;
    }
    bool deleteEntry(const std::string& alias) {
        return natives().deleteEntry(env(), nullptr, jni_.newString(alias)) != JNI_FALSE;
    }
    bool isKeyEntry(const std::string& alias) {
        return natives().isKeyEntry(env(), nullptr, jni_.newString(alias)) != JNI_FALSE;
    }
    bool isCertificateEntry(const std::string& alias) {
        return natives().isCertificateEntry(env(), nullptr, jni_.newString(alias)) != JNI_FALSE;
    }
    int size() { return natives().size(env(), nullptr); }
};

TEST_F(WriteSideTest, AddedCertificateBecomesACertificateEntry) {
    const std::vector<BYTE> alice = readFixture("alias/plain-cn.der");
    EXPECT_TRUE(setCertificateEntry(alice));
    EXPECT_TRUE(setCertificateEntry(alice)) << "adding it again replaces the copy";
    EXPECT_TRUE(isCertificateEntry(kAlice));
    EXPECT_FALSE(isKeyEntry(kAlice));
    EXPECT_EQ(1, size());
}

TEST_F(WriteSideTest, NoCertificateLeavesTheStoreAsItWas) {
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "serial-zero.der"));
    const std::vector<BYTE> alice = readFixture("alias/plain-cn.der");
    const std::vector<std::vector<BYTE>> refused = {
            std::vector<BYTE>(alice.begin(), alice.end() - 1), {0x61, 0x62, 0x63}, {}};
    for (const std::vector<BYTE>& bytes : refused) {
        EXPECT_FALSE(setCertificateEntry(bytes));
    }
    EXPECT_EQ(1, size());
}

// Wine 8 loses a deletion made through a system store once the store is closed, so the
// deleting scenarios run over the emulation only; the test that empties stores works around it.
TEST_F(WriteSideTest, AliasInBothStoresGoesInTwoCalls) {
#ifdef _WIN32
    GTEST_SKIP() << "Wine keeps certificates deleted through a system store";
#endif
    const std::string container = uniqueName("delete");
    ASSERT_NO_FATAL_FAILURE(createContainer(container));
    const KeyProvider provider(container, MS_ENHANCED_PROV_A, PROV_RSA_FULL);
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::Personal, "plain-cn.der", provider.info()));
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, "plain-cn.der"));
    EXPECT_TRUE(deleteEntry(kAlice));
    EXPECT_FALSE(isCertificateEntry(kAlice));
    EXPECT_TRUE(isKeyEntry(kAlice));
    EXPECT_TRUE(deleteEntry(kAlice));
    EXPECT_FALSE(isKeyEntry(kAlice));
    EXPECT_FALSE(deleteEntry(kAlice));
    EXPECT_EQ(0, size());
}

TEST_F(WriteSideTest, KeyEntryWithoutItsContainerIsNotDeleted) {
    const KeyProvider provider(uniqueName("never-made"), MS_ENHANCED_PROV_A, PROV_RSA_FULL);
    ASSERT_NO_FATAL_FAILURE(addCertificate(Store::Personal, "plain-cn.der", provider.info()));
    EXPECT_FALSE(deleteEntry(kAlice));
    EXPECT_FALSE(deleteEntry("CN=Nobody,01"));
    EXPECT_EQ(1, size());
}

}  // namespace
