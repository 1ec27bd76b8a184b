// The shared part of the scenarios: the module, the fixture folder and the store fixture.

#include "tests/jnihost/host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#ifndef _WIN32
#include "platform/emu/emulation.h"
#endif

namespace {

std::unique_ptr<NativeModule> module;
std::string moduleError = "the module was not loaded";
std::string fixtures;
int namesGiven = 0;

std::string lastErrorText() {
    char text[32];
    std::snprintf(text, sizeof(text), "last error 0x%08lX",
                  static_cast<unsigned long>(GetLastError()));
    return text;
}

std::wstring toWide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

void loadModule(const std::string& modulePath, const std::string& fixturesFolder) {
    fixtures = fixturesFolder;
    module = NativeModule::load(modulePath, &moduleError);
}

void unloadModule() { module.reset(); }

const NativeModule* hostModule() { return module.get(); }

const std::string& loadError() { return moduleError; }

std::vector<BYTE> readFixture(const std::string& relativePath) {
    std::ifstream file(fixtures + "/" + relativePath, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>());
}

::testing::AssertionResult cleanBooks(const FakeJni& env) {
    const std::vector<std::string> problems = env.bookProblems();
    if (problems.empty()) {
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "the fake JNIEnv's books are not clean:";
    for (const std::string& problem : problems) {
        failure << "\n  " << problem;
    }
    return failure;
}

StoreHandle openStore(Store store) {
    if (store == Store::AddressBook) {
        return StoreHandle(CertOpenSystemStoreA(0, "AddressBook"));
    }
    const WCHAR* name = store == Store::Personal      ? L"MY"
                        : store == Store::Authorities ? L"CA"
                                                      : L"Root";
    return StoreHandle(
            CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name));
}

KeyProvider::KeyProvider(const std::string& container, const std::string& provider,
                         DWORD providerType)
    : container_(toWide(container)), provider_(toWide(provider)) {
    info_.pwszContainerName = &container_[0];
    info_.pwszProvName = &provider_[0];
    info_.dwProvType = providerType;
    info_.dwKeySpec = AT_KEYEXCHANGE;
}

void HostTest::SetUp() {
    ASSERT_NE(nullptr, hostModule()) << loadError();
#ifndef _WIN32
    // The library's copy of the emulation and ours meet only in files under this folder.
    std::string pattern =
            (std::filesystem::temp_directory_path() / "brisvander-host-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
    home_ = pattern;
    setenv("BRISVANDER_HOME", home_.c_str(), 1);
#endif
    emptyStore(Store::Personal);
    emptyStore(Store::AddressBook);
}

void HostTest::TearDown() {
#ifndef _WIN32
    std::error_code ignored;
    // Faults go first, so that they do not get in the way of the cleanup below.
    std::filesystem::remove(std::filesystem::path(home_) / emu::kFaultFileName, ignored);
#endif
    while (!containers_.empty()) {
        deleteContainer(containers_.back());
    }
    EXPECT_TRUE(cleanBooks(jni_));
#ifndef _WIN32
    unsetenv("BRISVANDER_HOME");
    if (!home_.empty()) {
        std::filesystem::remove_all(home_, ignored);
    }
#endif
}

void HostTest::emptyStore(Store store) {
    removeMatching(store, [](PCCERT_CONTEXT) { return true; });
}

void HostTest::removeCertificates(Store store, const std::vector<const char*>& fixtures) {
    std::vector<std::vector<BYTE>> encodings;
    for (const char* fixture : fixtures) {
        encodings.push_back(readFixture(fixture));
    }
    removeMatching(store, [&encodings](PCCERT_CONTEXT cert) {
        const std::vector<BYTE> encoded(cert->pbCertEncoded,
                                        cert->pbCertEncoded + cert->cbCertEncoded);
        return std::find(encodings.begin(), encodings.end(), encoded) != encodings.end();
    });
}

void HostTest::removeMatching(Store store, const std::function<bool(PCCERT_CONTEXT)>& matches) {
#ifdef _WIN32
    // Wine 8 drops a deletion made through the system store once the handle closes; one made
    // through its registry store, which holds the current user's certificates, persists.
    const WCHAR* names[] = {L"MY", L"AddressBook", L"CA", L"Root"};
    StoreHandle handle(CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER,
                                     names[static_cast<int>(store)]));
#else
    StoreHandle handle(openStore(store));
#endif
    ASSERT_TRUE(handle) << "cannot open the store, " << lastErrorText();
    // Each delete frees the context and changes the store, so every round starts over.
    for (bool deleted = true; deleted;) {
        deleted = false;
        CertContext cert;
        while (nextCertificate(handle.get(), cert)) {
            if (matches(cert.get())) {
                ASSERT_TRUE(CertDeleteCertificateFromStore(cert.release())) << lastErrorText();
                deleted = true;
                break;
            }
        }
    }
}

void HostTest::addCertificate(Store store, const char* fixture,
                              const CRYPT_KEY_PROV_INFO* keyProvider) {
    const std::string path(fixture);
    const std::vector<BYTE> encoded =
            readFixture(path.find('/') == std::string::npos ? "alias/" + path : path);
    ASSERT_FALSE(encoded.empty()) << "cannot read " << fixture;
    CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                  static_cast<DWORD>(encoded.size())));
    ASSERT_TRUE(cert) << fixture << ": " << lastErrorText();
    if (keyProvider != nullptr) {
        ASSERT_TRUE(CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0,
                                                      keyProvider))
                << fixture << ": " << lastErrorText();
    }
    StoreHandle target(openStore(store));
    ASSERT_TRUE(target) << lastErrorText();
    ASSERT_TRUE(CertAddCertificateContextToStore(target.get(), cert.get(),
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
            << fixture << ": " << lastErrorText();
}

void HostTest::createContainer(const std::string& name) {
    ProviderContext context;
    ASSERT_TRUE(CryptAcquireContextA(context.out(), name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET))
            << name << ": " << lastErrorText();
    containers_.push_back(name);
}

void HostTest::deleteContainer(std::string name) {
    for (auto it = containers_.begin(); it != containers_.end(); ++it) {
        if (*it == name) {
            containers_.erase(it);
            break;
        }
    }
    // CRYPT_DELETEKEYSET hands back no context.
    HCRYPTPROV none = 0;
    ASSERT_TRUE(CryptAcquireContextA(&none, name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_DELETEKEYSET))
            << name << ": " << lastErrorText();
}

void HostTest::injectFault(const std::string& line) {
#ifdef _WIN32
    FAIL() << "fault injection needs the emulation: " << line;
#else
    std::ofstream faults(std::filesystem::path(home_) / emu::kFaultFileName, std::ios::app);
    faults << line << '\n';
    ASSERT_TRUE(faults.good()) << "cannot write the fault file";
#endif
}

std::string HostTest::uniqueName(const char* stem) {
    return std::string("brisvander-host-") + stem + "-" + std::to_string(++namesGiven);
}
