// The emulation's provider contexts and key containers.

#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/handles.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

using ProviderTest = EmulationTest;

TEST_F(ProviderTest, AcquireAnswersAsThePlatformDoes) {
    ProviderContext made;
    ASSERT_TRUE(CryptAcquireContextA(made.out(), "existing", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET));
    made.reset();
    struct Case {
        const char* name;
        const char* container;
        const char* provider;
        DWORD type;
        DWORD flags;
        HRESULT error;  // 0: succeeds
    };
    const Case cases[] = {
            {"verify-only", nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, 0},
            {"verify-only with a name", "x", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT,
             NTE_BAD_FLAGS},
            {"missing container", "absent", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0, NTE_BAD_KEYSET},
            {"existing container", "existing", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0, 0},
            {"other letter case", "EXISTING", "microsoft enhanced cryptographic provider v1.0",
             PROV_RSA_FULL, 0, 0},
            {"shared with Base", "existing", MS_DEF_PROV_A, PROV_RSA_FULL, 0, 0},
            {"shared with Strong", "existing", MS_STRONG_PROV_A, PROV_RSA_FULL, 0, 0},
            {"made twice", "existing", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET,
             NTE_EXISTS},
            {"wrong type", "existing", MS_ENHANCED_PROV_A, PROV_RSA_AES, 0, NTE_PROV_TYPE_NO_MATCH},
            {"type 0", "existing", MS_ENHANCED_PROV_A, 0, 0, NTE_BAD_PROV_TYPE},
            {"unknown provider", "existing", "No Such Provider", PROV_RSA_FULL, 0,
             NTE_KEYSET_NOT_DEF},
            {"default provider", "existing", nullptr, PROV_RSA_FULL, 0, 0},
            {"unknown flags", "existing", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0xFF, NTE_BAD_FLAGS},
            {"absent default container", nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0,
             NTE_BAD_KEYSET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProviderContext context;
        SetLastError(0);
        const BOOL acquired =
                CryptAcquireContextA(context.out(), c.container, c.provider, c.type, c.flags);
        EXPECT_EQ(c.error == 0, acquired != FALSE);
        EXPECT_EQ(c.error == 0, static_cast<bool>(context));
        if (c.error != 0) {
            EXPECT_EQ(static_cast<DWORD>(c.error), GetLastError());
        }
    }
}

TEST_F(ProviderTest, DeleteKeysetRemovesTheContainer) {
    ProviderContext made;
    ASSERT_TRUE(CryptAcquireContextA(made.out(), "doomed", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET));
    made.reset();
    struct stat info;
    ASSERT_EQ(0, stat((home() + "/containers/DOOMED.key").c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777);
    HCRYPTPROV none = 1;
    EXPECT_TRUE(CryptAcquireContextA(&none, "doomed", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_DELETEKEYSET));
    EXPECT_EQ(0u, none);
    EXPECT_FALSE(CryptAcquireContextA(&none, "doomed", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
    EXPECT_FALSE(CryptAcquireContextA(&none, "doomed", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                      CRYPT_DELETEKEYSET));
}

TEST_F(ProviderTest, ReleaseTwiceOrOfNothingFails) {
    HCRYPTPROV context = 0;
    ASSERT_TRUE(CryptAcquireContextA(&context, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
    EXPECT_TRUE(CryptReleaseContext(context, 0));
    EXPECT_FALSE(CryptReleaseContext(context, 0));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_FALSE(CryptReleaseContext(0, 0));
}

TEST_F(ProviderTest, FaultFileTakesTheVerifyOnlyContextAway) {
    writeFaults("CryptAcquireContextA verify\n");
    HCRYPTPROV context = 0;
    EXPECT_FALSE(CryptAcquireContextA(&context, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                      CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(0u, context);
}

}  // namespace
