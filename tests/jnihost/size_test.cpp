// Brisvander.size: the key entries of "MY" by their key-provider information, and every
// certificate of "AddressBook".

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/jnihost/host.h"

namespace {

// What a "MY" certificate's key container is when size runs.
enum class Container { Present, Deleted, Never };

// A certificate of "MY"; providerType 0 means no key-provider information at all.
struct PersonalCert {
    const char* fixture;
    DWORD providerType;
    Container container;
};

struct SizeCase {
    const char* name;
    std::vector<PersonalCert> personal;
    std::vector<const char*> addressBook;
    const char* fault;  // a line for the emulation's fault file, or null
    int expected;
};

const SizeCase kSizeCases[] = {
        {"EmptyStores", {}, {}, nullptr, 0},
        {"RsaFullKeyEntry", {{"plain-cn.der", PROV_RSA_FULL, Container::Present}}, {}, nullptr, 1},
        // size does not open the container, so one the provider type cannot open still counts.
        {"RsaSigKeyEntry", {{"plain-cn.der", PROV_RSA_SIG, Container::Never}}, {}, nullptr, 1},
        {"DssNotCounted", {{"plain-cn.der", PROV_DSS, Container::Never}}, {}, nullptr, 0},
        {"RsaAesNotCounted", {{"plain-cn.der", PROV_RSA_AES, Container::Never}}, {}, nullptr, 0},
        {"WithoutKeyProviderNotCounted", {{"plain-cn.der", 0, Container::Never}}, {}, nullptr, 0},
        {"DeletedContainerStillCounted",
         {{"plain-cn.der", PROV_RSA_FULL, Container::Deleted}},
         {},
         nullptr,
         1},
        {"EveryAddressBookCertificate",
         {},
         {"plain-cn.der", "serial-zero.der", "dn-c-first.der"},
         nullptr,
         3},
        {"OneCertificateInBothStores",
         {{"plain-cn.der", PROV_RSA_FULL, Container::Present}},
         {"plain-cn.der"},
         nullptr,
         2},
        {"MixedStores",
         {{"plain-cn.der", PROV_RSA_FULL, Container::Present},
          {"serial-zero.der", PROV_RSA_AES, Container::Never},
          {"serial-high-bit.der", 0, Container::Never},
          {"dn-c-first.der", PROV_RSA_SIG, Container::Never},
          {"dn-cn-first.der", PROV_DSS, Container::Never},
          {"value-quotes.der", PROV_RSA_FULL, Container::Deleted}},
         {"serial-20-bytes.der", "attr-person.der"},
         nullptr,
         5},
        // When "MY" does not open, "AddressBook" is not counted either.
        {"PersonalStoreUnavailable",
         {{"plain-cn.der", PROV_RSA_FULL, Container::Present}},
         {"serial-zero.der", "dn-c-first.der", "dn-cn-first.der"},
         "CertOpenStore MY",
         0},
        {"AddressBookUnavailable",
         {{"plain-cn.der", PROV_RSA_FULL, Container::Present}},
         {"serial-zero.der", "dn-c-first.der"},
         "CertOpenStore AddressBook",
         1},
};

// gtest names a failing case by this rather than by the bytes of the struct.
void PrintTo(const SizeCase& c, std::ostream* out) { *out << c.name; }

class SizeTest : public HostTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(SizeTest, CountsEntries) {
    const SizeCase& c = GetParam();
#ifdef _WIN32
    if (c.fault != nullptr) {
        GTEST_SKIP() << "a store that fails to open needs the emulation's fault injection";
    }
#endif
    std::vector<std::unique_ptr<KeyProvider>> providers;
    for (const PersonalCert& cert : c.personal) {
        if (cert.providerType == 0) {
            ASSERT_NO_FATAL_FAILURE(addCertificate(Store::Personal, cert.fixture));
            continue;
        }
        const std::string container = uniqueName("size");
        if (cert.container != Container::Never) {
            ASSERT_NO_FATAL_FAILURE(createContainer(container));
        }
        providers.push_back(
                std::make_unique<KeyProvider>(container, MS_ENHANCED_PROV_A, cert.providerType));
        ASSERT_NO_FATAL_FAILURE(
                addCertificate(Store::Personal, cert.fixture, providers.back()->info()));
        if (cert.container == Container::Deleted) {
            ASSERT_NO_FATAL_FAILURE(deleteContainer(container));
        }
    }
    for (const char* fixture : c.addressBook) {
        ASSERT_NO_FATAL_FAILURE(addCertificate(Store::AddressBook, fixture));
    }
    if (c.fault != nullptr) {
        ASSERT_NO_FATAL_FAILURE(injectFault(c.fault));
    }
    EXPECT_EQ(c.expected, natives().size(env(), nullptr));
}

INSTANTIATE_TEST_SUITE_P(Cases, SizeTest, ::testing::ValuesIn(kSizeCases),
                         [](const ::testing::TestParamInfo<SizeCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
