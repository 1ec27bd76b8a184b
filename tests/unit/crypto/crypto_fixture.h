// The fixture of the cryptographic services' tests: fresh emulated stores and containers, a
// fake JNIEnv whose books are checked at the end, key entries set up as installation leaves
// them, and the exact lines a call prints.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keystore/alias.h"
#include "platform/api.h"
#include "platform/handles.h"
#include "tests/unit/crypto/fake_jni.h"
#include "tests/unit/crypto/test_keys.h"
#include "tests/unit/support/cert_factory.h"
#include "tests/unit/support/emulation_fixture.h"

// What a call wrote on standard output and standard error.
struct Printed {
    std::string out;
    std::string err;
};

inline bool operator==(const Printed& a, const Printed& b) {
    return a.out == b.out && a.err == b.err;
}

inline std::ostream& operator<<(std::ostream& stream, const Printed& printed) {
    return stream << "stdout \"" << printed.out << "\", stderr \"" << printed.err << "\"";
}

// One reportError line with the system text of `code`'s wording, as the emulation has it.
inline std::string reported(const char* message, const char* systemText = nullptr) {
    std::string line = std::string("Brisvander: ") + message + "\n";
    if (systemText != nullptr) {
        line += std::string("SYSMSG: ") + systemText + "\r\n\n";
    }
    return line;
}

class CryptoTest : public EmulationTest {
protected:
    void TearDown() override {
        for (const std::string& problem : jni_.bookProblems()) {
            ADD_FAILURE() << "JNI books: " << problem;
        }
        EmulationTest::TearDown();
    }

    JNIEnv* env() { return jni_.env(); }

    // freshStores empties the root folder: no stores, no containers, no faults.
    void freshStores() {
        std::system(("rm -rf '" + home() + "'/* '" + home() + "'/.[!.]*").c_str());
    }

    jobjectArray crtOf(const RsaTestKey& key) {
        std::vector<jobject> elements;
        for (const Bytes& number : key.crt) {
            elements.push_back(jni_.bytes(number));
        }
        return jni_.objects(elements);
    }

    jbyteArray bytes(const Bytes& content) { return jni_.bytes(content); }
    jbyteArray bytes(const std::string& content) { return jni_.bytes(content); }
    jstring text(const std::string& content) { return jni_.string(content); }

    // Runs `call` with both streams captured into `printed`.
    template <typename Call>
    auto capture(Printed* printed, Call&& call) {
        fflush(stdout);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        auto result = call();
        fflush(stdout);
        printed->out = testing::internal::GetCapturedStdout();
        printed->err = testing::internal::GetCapturedStderr();
        return result;
    }

    // addKeyEntry makes what key entry installation leaves behind: the container, made with
    // CRYPT_NEWKEYSET, holding `blob` when it is not empty, and a certificate in "MY" whose
    // key-provider information names the container, `provider` and `providerType`. The key
    // goes in through the Enhanced provider, which shares its containers with the others.
    // Returns the certificate's entry alias.
    std::string addKeyEntry(const char* subject, long serial, const std::string& container,
                            const Bytes& blob, const char* provider = MS_ENHANCED_PROV_A,
                            DWORD providerType = PROV_RSA_FULL, bool makeContainer = true) {
        if (makeContainer) {
            ProviderContext made;
            EXPECT_TRUE(CryptAcquireContextA(made.out(), container.c_str(), MS_ENHANCED_PROV_A,
                                             PROV_RSA_FULL, CRYPT_NEWKEYSET));
            KeyHandle key;
            EXPECT_TRUE(blob.empty() ||
                        CryptImportKey(made.get(), blob.data(), static_cast<DWORD>(blob.size()), 0,
                                       CRYPT_EXPORTABLE, key.out()));
        }
        const Bytes encoded =
                makeCertificate(subject, signer_.get(), subject, signer_.get(), serial);
        CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                      static_cast<DWORD>(encoded.size())));
        EXPECT_TRUE(cert);
        std::vector<WCHAR> containerName(container.begin(), container.end());
        containerName.push_back(0);
        std::vector<WCHAR> providerName(provider, provider + std::strlen(provider) + 1);
        CRYPT_KEY_PROV_INFO info{};
        info.pwszContainerName = containerName.data();
        info.pwszProvName = providerName.data();
        info.dwProvType = providerType;
        info.dwKeySpec = AT_KEYEXCHANGE;
        EXPECT_TRUE(CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0,
                                                      &info));
        StoreHandle store(openStore("MY"));
        EXPECT_TRUE(store);
        EXPECT_TRUE(CertAddCertificateContextToStore(store.get(), cert.get(),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
        return buildEntryAlias(cert.get());
    }

    FakeJni jni_;

private:
    TestKey signer_ = makeTestKey();
};
