// The emulation's system stores: persistence, order, replacement, deletion and faults.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "bridge/text.h"
#include "platform/api.h"
#include "platform/handles.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

class CertStoreTest : public EmulationTest {
protected:
    static HCERTSTORE openMy() {
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    }

    static void add(HCERTSTORE store, const char* fixture, DWORD disposition = 3) {
        CertContext cert(createFixture(fixture));
        ASSERT_TRUE(cert);
        ASSERT_TRUE(CertAddCertificateContextToStore(store, cert.get(), disposition, nullptr));
    }

    static std::vector<std::string> thumbprints(HCERTSTORE store) {
        std::vector<std::string> found;
        CertContext cert;
        while (nextCertificate(store, cert)) {
            BYTE hash[20];
            DWORD size = sizeof(hash);
            EXPECT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, hash,
                                                          &size));
            char text[kTextBufferSize];
            std::vector<BYTE> reversed(hash, hash + 20);
            std::reverse(reversed.begin(), reversed.end());
            formatSerialHex(20, reversed.data(), text);
            found.emplace_back(text);
        }
        return found;
    }

    static void setProvInfo(PCCERT_CONTEXT cert, const WCHAR* container, DWORD type) {
        CRYPT_KEY_PROV_INFO info{};
        info.pwszContainerName = const_cast<WCHAR*>(container);
        info.pwszProvName = const_cast<WCHAR*>(L"Microsoft Enhanced Cryptographic Provider v1.0");
        info.dwProvType = type;
        info.dwKeySpec = AT_KEYEXCHANGE;
        ASSERT_TRUE(CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    }

    static bool hasProperty(PCCERT_CONTEXT cert, DWORD id) {
        DWORD size = 0;
        return CertGetCertificateContextProperty(cert, id, nullptr, &size) != FALSE;
    }
};

TEST_F(CertStoreTest, AddedCertificatesPersistInDescendingThumbprintOrder) {
    {
        StoreHandle store(openMy());
        ASSERT_TRUE(store);
        for (const char* name : {"plain-cn.der", "serial-zero.der", "utf8-latin.der"}) {
            add(store.get(), name);
        }
    }
    StoreHandle reopened(openMy());
    const std::vector<std::string> found = thumbprints(reopened.get());
    ASSERT_EQ(3u, found.size());
    EXPECT_TRUE(std::is_sorted(found.rbegin(), found.rend()));

    CertContext none(CertEnumCertificatesInStore(reopened.get(), nullptr));
    ASSERT_TRUE(none);
    none.reset(CertEnumCertificatesInStore(reopened.get(), none.release()));
    none.reset(CertEnumCertificatesInStore(reopened.get(), none.release()));
    SetLastError(0);
    none.reset(CertEnumCertificatesInStore(reopened.get(), none.release()));
    EXPECT_FALSE(none);
    EXPECT_EQ(static_cast<DWORD>(CRYPT_E_NOT_FOUND), GetLastError());
}

TEST_F(CertStoreTest, StoreNamesIgnoreCaseAndUnknownNamesAreCreated) {
    {
        StoreHandle store(CertOpenSystemStoreA(0, "my"));
        ASSERT_TRUE(store);
        add(store.get(), "plain-cn.der");
    }
    StoreHandle upper(openMy());
    EXPECT_EQ(1u, thumbprints(upper.get()).size());
    StoreHandle invented(CertOpenSystemStoreA(0, "No Such Store"));
    ASSERT_TRUE(invented);
    EXPECT_TRUE(thumbprints(invented.get()).empty());
    StoreHandle existing(CertOpenStore(
            CERT_STORE_PROV_SYSTEM_W, 0, 0,
            CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG, L"Never Made"));
    EXPECT_FALSE(existing);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

// Only the data properties reach the store; the handle properties stay on the context.
TEST_F(CertStoreTest, ReplaceExistingTakesTheNewPropertiesAndNeverTheHandles) {
    StoreHandle store(openMy());
    CertContext first(createFixture("plain-cn.der"));
    setProvInfo(first.get(), L"one", PROV_RSA_FULL);
    ProviderContext provider;
    ASSERT_TRUE(CryptAcquireContextA(provider.out(), nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
    const HCRYPTPROV handle = provider.release();  // the context owns it from here
    ASSERT_TRUE(CertSetCertificateContextProperty(first.get(), CERT_KEY_PROV_HANDLE_PROP_ID, 0,
                                                  &handle));
    EXPECT_TRUE(hasProperty(first.get(), CERT_KEY_CONTEXT_PROP_ID));
    CertContext stored;
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), first.get(),
                                                 CERT_STORE_ADD_REPLACE_EXISTING, stored.out()));
    EXPECT_TRUE(hasProperty(stored.get(), CERT_KEY_PROV_INFO_PROP_ID));
    EXPECT_FALSE(hasProperty(stored.get(), CERT_KEY_PROV_HANDLE_PROP_ID));
    EXPECT_FALSE(hasProperty(stored.get(), CERT_KEY_CONTEXT_PROP_ID));
    stored.reset();

    CertContext second(createFixture("plain-cn.der"));  // same certificate, no properties
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), second.get(),
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    store.reset();
    StoreHandle reopened(openMy());
    CertContext found(CertEnumCertificatesInStore(reopened.get(), nullptr));
    ASSERT_TRUE(found);
    EXPECT_FALSE(hasProperty(found.get(), CERT_KEY_PROV_INFO_PROP_ID));
    EXPECT_EQ(1u, thumbprints(reopened.get()).size());
}

TEST_F(CertStoreTest, PropertySetOnAStoreCopyPersists) {
    {
        StoreHandle store(openMy());
        add(store.get(), "plain-cn.der");
        CertContext cert(CertEnumCertificatesInStore(store.get(), nullptr));
        setProvInfo(cert.get(), L"quorvjcecont", PROV_RSA_FULL);
    }
    StoreHandle reopened(openMy());
    CertContext cert(CertEnumCertificatesInStore(reopened.get(), nullptr));
    ASSERT_TRUE(cert);
    std::unique_ptr<BYTE[]> block(getCertProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID));
    ASSERT_TRUE(block);
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block.get());
    EXPECT_EQ("quorvjcecont", toAnsiString(info->pwszContainerName));
    EXPECT_EQ(MS_ENHANCED_PROV_A, toAnsiString(info->pwszProvName));
}

TEST_F(CertStoreTest, AddNewRefusesACertificateAlreadyThere) {
    StoreHandle store(openMy());
    add(store.get(), "plain-cn.der");
    CertContext again(createFixture("plain-cn.der"));
    EXPECT_FALSE(CertAddCertificateContextToStore(store.get(), again.get(), CERT_STORE_ADD_NEW,
                                                  nullptr));
    EXPECT_EQ(static_cast<DWORD>(CRYPT_E_EXISTS), GetLastError());
}

TEST_F(CertStoreTest, DeletedCertificateIsGoneThroughEveryHandle) {
    StoreHandle first(openMy());
    add(first.get(), "plain-cn.der");
    add(first.get(), "serial-zero.der");
    StoreHandle second(openMy());
    CertContext throughSecond(CertEnumCertificatesInStore(second.get(), nullptr));
    CertContext throughFirst(CertEnumCertificatesInStore(first.get(), nullptr));
    ASSERT_TRUE(throughFirst && throughSecond);
    EXPECT_TRUE(CertDeleteCertificateFromStore(throughFirst.release()));
    EXPECT_TRUE(CertDeleteCertificateFromStore(throughSecond.release()));  // already gone: fine
    EXPECT_EQ(1u, thumbprints(first.get()).size());
    StoreHandle reopened(openMy());
    EXPECT_EQ(1u, thumbprints(reopened.get()).size());
    CertContext loose(createFixture("plain-cn.der"));
    EXPECT_TRUE(CertDeleteCertificateFromStore(loose.release()));  // in no store
}

// Sets the times of the "MY" folder and its files an hour back, as a store nobody touched for
// long has them, so that the emulation may keep what it read of it.
void ageStoreFiles(const std::string& home) {
    const std::string folder = home + "/stores/MY";
    const timespec anHourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    DIR* listing = opendir(folder.c_str());
    ASSERT_NE(listing, nullptr);
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_name[0] != '.') {
            utimensat(AT_FDCWD, (folder + "/" + entry->d_name).c_str(), anHourAgo, 0);
        }
    }
    closedir(listing);
    ASSERT_EQ(0, utimensat(AT_FDCWD, folder.c_str(), anHourAgo, 0));
}

// Another process's changes reach the store folder behind this process's back: a deletion and
// a new property must be seen by the next handle however long the store sat unchanged.
TEST_F(CertStoreTest, ChangesByAnotherProcessAreSeenByTheNextHandle) {
    {
        StoreHandle store(openMy());
        add(store.get(), "plain-cn.der");
        add(store.get(), "serial-zero.der");
    }
    ageStoreFiles(home());
    for (int open = 0; open < 2; ++open) {  // the second open takes what the first one read
        StoreHandle settled(openMy());
        EXPECT_EQ(2u, thumbprints(settled.get()).size());
    }
    // The other process deletes one certificate.
    const std::string folder = home() + "/stores/MY/";
    DIR* listing = opendir(folder.c_str());
    ASSERT_NE(listing, nullptr);
    std::vector<std::string> files;
    while (const dirent* entry = readdir(listing)) {
        if (std::strlen(entry->d_name) == 44) {
            files.emplace_back(entry->d_name);
        }
    }
    closedir(listing);
    ASSERT_EQ(2u, files.size());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(0, unlink((folder + files.back()).c_str()));
    {
        StoreHandle afterDelete(openMy());
        EXPECT_EQ(1u, thumbprints(afterDelete.get()).size());
    }
    // The folder settles; then a property is set on the other certificate, which rewrites its
    // file.
    ageStoreFiles(home());
    {
        StoreHandle store(openMy());
        EXPECT_EQ(1u, thumbprints(store.get()).size());
    }
    {
        StoreHandle other(openMy());
        CertContext cert(CertEnumCertificatesInStore(other.get(), nullptr));
        ASSERT_TRUE(cert);
        EXPECT_FALSE(hasProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID));
        setProvInfo(cert.get(), L"quorvjcecont", PROV_RSA_FULL);
    }
    StoreHandle reopened(openMy());
    CertContext cert(CertEnumCertificatesInStore(reopened.get(), nullptr));
    ASSERT_TRUE(cert);
    EXPECT_TRUE(hasProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID));
}

TEST_F(CertStoreTest, ContextOutlivesItsStoreAndCloseSaysSo) {
    StoreHandle store(openMy());
    add(store.get(), "plain-cn.der");
    CertContext held(CertEnumCertificatesInStore(store.get(), nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(CertCloseStore(store.release(), CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(static_cast<DWORD>(CRYPT_E_PENDING_CLOSE), GetLastError());
    EXPECT_GT(held.get()->cbCertEncoded, 0u);
    EXPECT_TRUE(CertDeleteCertificateFromStore(held.release()));
    StoreHandle reopened(openMy());
    EXPECT_TRUE(thumbprints(reopened.get()).empty());
}

TEST_F(CertStoreTest, FilesAreTheUsersAloneAndForeignFilesArePassedOver) {
    {
        StoreHandle store(openMy());
        add(store.get(), "plain-cn.der");
    }
    const std::string folder = home() + "/stores/MY";
    struct stat info;
    ASSERT_EQ(0, stat(folder.c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 0777);
    StoreHandle store(openMy());
    const std::string name = thumbprints(store.get()).at(0);
    ASSERT_EQ(0, stat((folder + "/" + name + ".cer").c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777);

    const std::pair<const char*, const char*> foreign[] = {
            {"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF.cer", "not a certificate"},
            {"0000000000000000000000000000000000000000.cer", ""},
            {"notes.txt", "hello"},
    };
    for (const auto& [file, content] : foreign) {
        FILE* out = std::fopen((folder + "/" + file).c_str(), "w");
        std::fputs(content, out);
        std::fclose(out);
    }
    // A file whose content is a real certificate under another thumbprint is foreign too.
    std::system(("cp '" + folder + "/" + name + ".cer' '" + folder +
                 "/1111111111111111111111111111111111111111.cer'")
                        .c_str());
    StoreHandle reopened(openMy());
    EXPECT_EQ(std::vector<std::string>{name}, thumbprints(reopened.get()));
}

TEST_F(CertStoreTest, FaultFileMakesANamedStoreFail) {
    writeFaults("# comment\nCertOpenStore MY\nCertOpenStore AddressBook 0x80070057\n");
    SetLastError(0);
    EXPECT_EQ(nullptr, openMy());
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(nullptr, CertOpenSystemStoreA(0, "AddressBook"));
    EXPECT_EQ(static_cast<DWORD>(E_INVALIDARG), GetLastError());
    StoreHandle other(CertOpenSystemStoreA(0, "CA"));
    EXPECT_TRUE(other);
}

// The fault file is a test's tool: in a user's own data folder it is never read.
TEST_F(CertStoreTest, FaultFileIsIgnoredWithoutBrisvanderHome) {
    writeFaults("CertOpenStore MY\n");
    const std::string dataHome = home() + "/data";
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    std::system(("mkdir -p '" + dataHome + "/brisvander' && cp '" + home() + "/" +
                 emu::kFaultFileName + "' '" + dataHome + "/brisvander/'")
                        .c_str());
    unsetenv("BRISVANDER_HOME");
    StoreHandle store(openMy());
    EXPECT_TRUE(store);
    store.reset();
    setenv("BRISVANDER_HOME", home().c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(nullptr, openMy());
}

}  // namespace
