// The stores and key containers on a full disk: every write fails with ERROR_DISK_FULL and
// leaves every file as it was, and everything still reads.

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keystore/write.h"
#include "platform/emu/emulation.h"
#include "tests/stress/store_files.h"
#include "tests/unit/crypto/fake_jni.h"
#include "tests/unit/crypto/test_keys.h"
#include "tests/unit/platform/emu/writer_process.h"
#include "tests/unit/support/cert_factory.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

constexpr DWORD kDescriptionPropertyId = 13;  // the platform's CERT_DESCRIPTION_PROP_ID

// Every file under `folder` by its path below it, with its bytes and mode.
using FolderImage = std::map<std::string, std::pair<int, Bytes>>;

void takeImage(const std::string& folder, const std::string& below, FolderImage* out) {
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = folder + "/" + name;
        const int mode = fileMode(path);
        struct stat info;
        if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            (*out)[below + name + "/"] = {mode, {}};
            takeImage(path, below + name + "/", out);
        } else {
            Bytes bytes;
            readFileBytes(path, &bytes);
            (*out)[below + name] = {mode, bytes};
        }
    }
    closedir(directory);
}

// A key entry installed as Java's setKeyEntry does it.
bool installThroughKeyStore(const RsaTestKey& key, const Bytes& encoded) {
    FakeJni jni;
    std::vector<jobject> numbers;
    for (const Bytes& number : key.crt) {
        numbers.push_back(jni.bytes(number));
    }
    const bool installed =
            installKeyEntry(jni.env(), jni.objects(numbers), jni.objects({jni.bytes(encoded)}));
    EXPECT_EQ(std::vector<std::string>{}, jni.bookProblems());
    return installed;
}

class FullDiskTest : public EmulationTest {
protected:
    void SetUp() override {
        EmulationTest::SetUp();
        disk_ = home() + "/disk";
        ASSERT_EQ(0, mkdir(disk_.c_str(), 0700));
        if (mount("tmpfs", disk_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,mode=0700") !=
            0) {
            const int error = errno;
            GTEST_SKIP() << "a small tmpfs cannot be mounted here (" << std::strerror(error)
                         << "), so no disk can be filled: the full-disk behaviour goes untested";
        }
        mounted_ = true;
        setenv("BRISVANDER_HOME", disk_.c_str(), 1);
    }

    void TearDown() override {
        if (mounted_) {
            umount2(disk_.c_str(), MNT_DETACH);
        }
        setenv("BRISVANDER_HOME", home().c_str(), 1);
        EmulationTest::TearDown();
    }

    // Fills the disk up to its last byte with one file in the root folder.
    void fillDisk() {
        const int descriptor =
                open((disk_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(descriptor, 0);
        const std::vector<char> chunk(65536, 'x');
        for (size_t size = chunk.size(); size > 0; size /= 2) {
            while (write(descriptor, chunk.data(), size) == static_cast<ssize_t>(size)) {
            }
        }
        EXPECT_EQ(ENOSPC, errno);
        close(descriptor);
    }

    void freeDisk() { ASSERT_EQ(0, unlink((disk_ + "/filler").c_str())); }

    std::string disk_;
    bool mounted_ = false;
    TestKey signer_ = makeTestKey();
};

TEST_F(FullDiskTest, EveryWriteFailsCleanlyAndEverythingStillReads) {
    const Bytes stored = makeCertificate("Stored", signer_.get(), "Stored", signer_.get(), 1);
    const Bytes another = makeCertificate("Another", signer_.get(), "Another", signer_.get(), 2);
    const RsaTestKey& key = testKey(1024);
    const Bytes keyCert = makeCertificate("Key", key.pair.get(), "Key", key.pair.get(), 3);
    ASSERT_TRUE(addCertificateEntry(stored.data(), static_cast<DWORD>(stored.size())));
    ASSERT_TRUE(installThroughKeyStore(key, keyCert));
    {
        ProviderContext spare;
        ASSERT_TRUE(CryptAcquireContextA(spare.out(), "spare", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                         CRYPT_NEWKEYSET));
    }
    StoreHandle book(CertOpenSystemStoreA(0, "AddressBook"));
    CertContext bookCert;
    ASSERT_TRUE(nextCertificate(book.get(), bookCert));
    const BYTE oldName[] = {'o', 'l', 'd'};
    CRYPT_DATA_BLOB oldBlob{sizeof(oldName), const_cast<BYTE*>(oldName)};
    ASSERT_TRUE(CertSetCertificateContextProperty(bookCert.get(), CERT_FRIENDLY_NAME_PROP_ID, 0,
                                                  &oldBlob));

    ASSERT_NO_FATAL_FAILURE(fillDisk());
    FolderImage before;
    takeImage(disk_, "", &before);

    const BYTE newName[] = {'n', 'e', 'w'};
    CRYPT_DATA_BLOB newBlob{sizeof(newName), const_cast<BYTE*>(newName)};
    const struct {
        const char* call;
        std::function<BOOL()> attempt;
    } writes[] = {
            {"a new certificate",
             [&] {
                 CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, another.data(),
                                                               static_cast<DWORD>(another.size())));
                 return CertAddCertificateContextToStore(book.get(), cert.get(),
                                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
             }},
            {"a certificate replaced",
             [&] {
                 return CertAddCertificateContextToStore(book.get(), bookCert.get(),
                                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
             }},
            {"a property",
             [&] {
                 return CertSetCertificateContextProperty(bookCert.get(),
                                                          CERT_FRIENDLY_NAME_PROP_ID, 0, &newBlob);
             }},
            {"a new container",
             [&] {
                 ProviderContext made;
                 return CryptAcquireContextA(made.out(), "never-made", MS_ENHANCED_PROV_A,
                                             PROV_RSA_FULL, CRYPT_NEWKEYSET);
             }},
            {"a key import",
             [&] {
                 ProviderContext spare;
                 KeyHandle imported;
                 return CryptAcquireContextA(spare.out(), "spare", MS_ENHANCED_PROV_A,
                                             PROV_RSA_FULL, 0) &&
                        CryptImportKey(spare.get(), key.blob.data(),
                                       static_cast<DWORD>(key.blob.size()), 0, 0, imported.out());
             }},
    };
    for (const auto& [call, attempt] : writes) {
        SCOPED_TRACE(call);
        SetLastError(0);
        EXPECT_FALSE(attempt());
        EXPECT_EQ(ERROR_DISK_FULL, GetLastError());
    }
    EXPECT_FALSE(addCertificateEntry(another.data(), static_cast<DWORD>(another.size())));
    fflush(stdout);
    testing::internal::CaptureStdout();
    const bool installed = installThroughKeyStore(testKey(1024, 1), keyCert);
    fflush(stdout);
    EXPECT_EQ(
            "Brisvander: Could not import private key into container. No key entry created.\n"
            "SYSMSG: There is not enough space on the disk.\r\n\n",
            testing::internal::GetCapturedStdout());
    EXPECT_FALSE(installed);

    FolderImage after;
    takeImage(disk_, "", &after);
    EXPECT_TRUE(before == after) << "a failed write changed or left behind a file";

    // Everything still reads: the stores, the properties and the key.
    EXPECT_EQ(2u, storedThumbprints("AddressBook").size() + storedThumbprints("MY").size());
    BYTE name[8];
    DWORD nameLength = sizeof(name);
    ASSERT_TRUE(CertGetCertificateContextProperty(bookCert.get(), CERT_FRIENDLY_NAME_PROP_ID, name,
                                                  &nameLength));
    EXPECT_EQ(Bytes(oldName, oldName + sizeof(oldName)), Bytes(name, name + nameLength))
            << "the context keeps a property that was never stored";
    ProviderContext container;
    KeyHandle userKey;
    HashHandle hash;
    BYTE signature[128];
    DWORD signatureLength = sizeof(signature);
    ASSERT_TRUE(CryptAcquireContextA(container.out(), kKeyEntryContainer, MS_ENHANCED_PROV_A,
                                     PROV_RSA_FULL, 0));
    EXPECT_TRUE(CryptGetUserKey(container.get(), AT_KEYEXCHANGE, userKey.out()));
    ASSERT_TRUE(CryptCreateHash(container.get(), CALG_SHA1, 0, 0, hash.out()));
    ASSERT_TRUE(CryptHashData(hash.get(), oldName, sizeof(oldName), 0));
    EXPECT_TRUE(
            CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, signature, &signatureLength));

    // Once there is room again, a later write stores only what it was given.
    ASSERT_NO_FATAL_FAILURE(freeDisk());
    const BYTE* noData = nullptr;
    CRYPT_DATA_BLOB description{0, const_cast<BYTE*>(noData)};
    ASSERT_TRUE(CertSetCertificateContextProperty(bookCert.get(), kDescriptionPropertyId, 0,
                                                  &description));
    const FolderContents bookFolder = readFolder(disk_ + "/stores/ADDRESSBOOK");
    ASSERT_EQ(1u, bookFolder.certificates.size());
    const auto& properties = bookFolder.certificates.begin()->second.properties;
    const auto storedName = properties.find(CERT_FRIENDLY_NAME_PROP_ID);
    ASSERT_NE(storedName, properties.end());
    EXPECT_EQ(Bytes(oldName, oldName + sizeof(oldName)), storedName->second)
            << "a property whose write failed was stored by a later one";
}

}  // namespace
