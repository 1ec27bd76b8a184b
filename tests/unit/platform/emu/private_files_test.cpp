// What the emulation writes is the user's alone, whatever the umask: the key containers above
// all, which hold private keys in the clear.

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/handles.h"
#include "tests/unit/crypto/test_keys.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

class PrivateFilesTest : public EmulationTest {
protected:
    void SetUp() override {
        EmulationTest::SetUp();
        // A root folder that the emulation makes itself, under the most permissive umask.
        root_ = home() + "/made/by/emulation";
        setenv("BRISVANDER_HOME", root_.c_str(), 1);
        previousMask_ = umask(0);
    }

    void TearDown() override {
        umask(previousMask_);
        setenv("BRISVANDER_HOME", home().c_str(), 1);
        EmulationTest::TearDown();
    }

    std::string root_;
    mode_t previousMask_ = 0;
};

TEST_F(PrivateFilesTest, FoldersAndFilesAreTheUsersAloneUnderAnOpenUmask) {
    const RsaTestKey& key = testKey();
    {
        ProviderContext made;
        ASSERT_TRUE(CryptAcquireContextA(made.out(), "private", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                         CRYPT_NEWKEYSET));
        KeyHandle imported;
        // The import rewrites the container through a temporary file, which the rename makes
        // the container: the container's mode is the one the temporary file was made with.
        ASSERT_TRUE(CryptImportKey(made.get(), key.blob.data(), static_cast<DWORD>(key.blob.size()),
                                   0, 0, imported.out()));
    }
    ASSERT_NO_FATAL_FAILURE(
            putCertificate("MY", readAliasFixture("plain-cn.der"), "private", false));
    const struct {
        const char* path;
        mode_t mode;
    } expected[] = {
            {"", 0700},
            {"/containers", 0700},
            {"/containers/.lock", 0600},
            {"/containers/PRIVATE.key", 0600},
            {"/stores", 0700},
            {"/stores/MY", 0700},
            {"/stores/MY/.lock", 0600},
    };
    for (const auto& [path, mode] : expected) {
        SCOPED_TRACE(path);
        struct stat info;
        ASSERT_EQ(0, lstat((root_ + path).c_str(), &info));
        EXPECT_EQ(mode, info.st_mode & 07777);
    }
    size_t certificates = 0;
    DIR* folder = opendir((root_ + "/stores/MY").c_str());
    ASSERT_NE(folder, nullptr);
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        struct stat info;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cer") == 0 &&
            lstat((root_ + "/stores/MY/" + name).c_str(), &info) == 0) {
            ++certificates;
            EXPECT_EQ(0600u, info.st_mode & 07777) << name;
        }
    }
    closedir(folder);
    EXPECT_EQ(1u, certificates);
}

}  // namespace
