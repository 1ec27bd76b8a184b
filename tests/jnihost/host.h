// What every scenario shares: the module under test, the fixture folder, a test fixture with
// fresh stores and a fresh fake JNIEnv, and helpers that set up stores through the platform.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/handles.h"
#include "tests/jnihost/fake_jni.h"
#include "tests/jnihost/module.h"

// loadModule loads the library under test once for the whole run; hostModule() is then the
// module, or null with loadError() saying why. unloadModule unloads it after the last test.
void loadModule(const std::string& modulePath, const std::string& fixturesFolder);
void unloadModule();
const NativeModule* hostModule();
const std::string& loadError();

// readFixture gives the bytes of a file under the fixture folder, e.g. "alias/plain-cn.der",
// or an empty vector when it cannot be read.
std::vector<BYTE> readFixture(const std::string& relativePath);

// cleanBooks succeeds when `env` saw every JNI rule kept; otherwise it lists what broke.
::testing::AssertionResult cleanBooks(const FakeJni& env);

// The stores of the key store and of chains, opened with the calls the library itself uses.
enum class Store { Personal, AddressBook, Authorities, Roots };
StoreHandle openStore(Store store);

// The fixture of a scenario that calls the library. Each test starts with "MY" and
// "AddressBook" empty, on Linux in a fresh emulation root folder of its own; key containers
// made through createContainer are gone after it; the fake JNIEnv's books are checked at the
// end.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const Natives& natives() const { return hostModule()->natives(); }
    JNIEnv* env() { return jni_.env(); }

    // addCertificate puts the certificate of `fixture` (a file of alias/, or a path under the
    // fixture folder such as "chain/leaf.der") into `store`, replacing an earlier copy,
    // with `keyProvider` as its key-provider information when not null.
    void addCertificate(Store store, const char* fixture,
                        const CRYPT_KEY_PROV_INFO* keyProvider = nullptr);
    // createContainer makes an empty key container of the Enhanced provider; deleteContainer
    // removes it again.
    void createContainer(const std::string& name);
    void deleteContainer(std::string name);  // a copy: `name` may be an element of the list
    // removeCertificates deletes the certificates of these fixtures (paths under the fixture
    // folder) from `store`, for stores that tests do not empty, such as "CA" and "Root".
    void removeCertificates(Store store, const std::vector<const char*>& fixtures);
    // injectFault adds a line to the emulation's fault file (Linux only).
    void injectFault(const std::string& line);
    // uniqueName gives a name no other test of this run uses, for key containers.
    std::string uniqueName(const char* stem);

    FakeJni jni_;

private:
    void emptyStore(Store store);
    void removeMatching(Store store, const std::function<bool(PCCERT_CONTEXT)>& matches);

    std::string home_;
    std::vector<std::string> containers_;
};

// KeyProvider holds a CRYPT_KEY_PROV_INFO with names it owns.
class KeyProvider {
public:
    KeyProvider(const std::string& container, const std::string& provider, DWORD providerType);
    KeyProvider(const KeyProvider&) = delete;
    KeyProvider& operator=(const KeyProvider&) = delete;
    const CRYPT_KEY_PROV_INFO* info() const { return &info_; }

private:
    std::wstring container_;
    std::wstring provider_;
    CRYPT_KEY_PROV_INFO info_{};
};
