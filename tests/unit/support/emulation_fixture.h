// A fresh, empty root folder for the emulation in every test, and the books checked at the end:
// every store, context and provider handle the test opened has been given back.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/emu/emulation.h"
#include "platform/handles.h"
#include "tests/unit/support/fixtures.h"

class EmulationTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/brisvander-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
        setenv("BRISVANDER_HOME", home_.c_str(), 1);
    }

    void TearDown() override {
        const emu::HandleCounts counts = emu::openHandles();
        EXPECT_EQ(0, counts.stores) << "stores left open";
        EXPECT_EQ(0, counts.certificates) << "certificate contexts not freed";
        EXPECT_EQ(0, counts.providers) << "provider contexts not released";
        EXPECT_EQ(0, counts.keys) << "keys not destroyed";
        EXPECT_EQ(0, counts.hashes) << "hashes not destroyed";
        std::system(("rm -rf '" + home_ + "'").c_str());
        unsetenv("BRISVANDER_HOME");
    }

    const std::string& home() const { return home_; }

    void writeFaults(const std::string& lines) {
        FILE* file = std::fopen((home_ + "/" + emu::kFaultFileName).c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(lines.c_str(), file);
        std::fclose(file);
    }

    static PCCERT_CONTEXT createFixture(const std::string& name) {
        const std::vector<BYTE> bytes = readAliasFixture(name);
        return CertCreateCertificateContext(X509_ASN_ENCODING, bytes.data(),
                                            static_cast<DWORD>(bytes.size()));
    }

    // putCertificate adds `encoded` to the store `storeName`, replacing a copy; a key entry's
    // certificate when `container` is given, whose container is made when `makeContainer`.
    static void putCertificate(const char* storeName, const std::vector<BYTE>& encoded,
                               const char* container = nullptr, bool makeContainer = true) {
        StoreHandle store(CertOpenSystemStoreA(0, storeName));
        CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                      static_cast<DWORD>(encoded.size())));
        ASSERT_TRUE(store && cert);
        if (container != nullptr) {
            std::vector<WCHAR> name(container, container + std::strlen(container) + 1);
            CRYPT_KEY_PROV_INFO info{};
            info.pwszContainerName = name.data();
            info.pwszProvName =
                    const_cast<WCHAR*>(L"Microsoft Enhanced Cryptographic Provider v1.0");
            info.dwProvType = PROV_RSA_FULL;
            info.dwKeySpec = AT_KEYEXCHANGE;
            ASSERT_TRUE(CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0,
                                                          &info));
            if (makeContainer) {
                ProviderContext made;
                ASSERT_TRUE(CryptAcquireContextA(made.out(), container, MS_ENHANCED_PROV_A,
                                                 PROV_RSA_FULL, CRYPT_NEWKEYSET));
            }
        }
        ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), cert.get(),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    }

private:
    std::string home_;
};
