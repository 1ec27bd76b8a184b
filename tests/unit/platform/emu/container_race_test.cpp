// Key containers made and filled by many threads at once.

#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/handles.h"
#include "tests/unit/crypto/test_keys.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 20;

using ContainerRaceTest = EmulationTest;

// CRYPT_NEWKEYSET makes a container only where there is none: of threads making the same one
// at once exactly one succeeds, and a key imported by the winner is not wiped by a loser that
// made the container again.
TEST_F(ContainerRaceTest, OnlyOneOfManyMakesTheSameContainer) {
    const RsaTestKey& key = testKey();
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string name = "raced-" + std::to_string(round);
        std::atomic<int> waiting{kThreads};
        std::atomic<int> made{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&] {
                waiting.fetch_sub(1);
                while (waiting.load() > 0) {
                }
                ProviderContext context;
                if (CryptAcquireContextA(context.out(), name.c_str(), MS_ENHANCED_PROV_A,
                                         PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
                    made.fetch_add(1);
                    KeyHandle imported;
                    EXPECT_TRUE(CryptImportKey(context.get(), key.blob.data(),
                                               static_cast<DWORD>(key.blob.size()), 0, 0,
                                               imported.out()));
                } else {
                    EXPECT_EQ(static_cast<DWORD>(NTE_EXISTS), GetLastError());
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(1, made.load());
        ProviderContext context;
        KeyHandle kept;
        ASSERT_TRUE(CryptAcquireContextA(context.out(), name.c_str(), MS_ENHANCED_PROV_A,
                                         PROV_RSA_FULL, 0));
        EXPECT_TRUE(CryptGetUserKey(context.get(), AT_KEYEXCHANGE, kept.out()))
                << "the winner's key was wiped by a container made again";
        if (HasFailure()) {
            return;
        }
    }
}

// A container deleted while keys are being imported into it stays deleted: an import under way
// does not write it back, and the ones after fail.
TEST_F(ContainerRaceTest, ADeletedContainerStaysDeletedUnderImports) {
    const RsaTestKey& key = testKey();
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string name = "doomed-" + std::to_string(round);
        ProviderContext context;
        ASSERT_TRUE(CryptAcquireContextA(context.out(), name.c_str(), MS_ENHANCED_PROV_A,
                                         PROV_RSA_FULL, CRYPT_NEWKEYSET));
        std::atomic<int> imports{0};
        std::atomic<bool> deleted{false};
        std::thread importer([&] {
            for (;;) {
                const bool startedAfterDelete = deleted.load();
                KeyHandle imported;
                if (!CryptImportKey(context.get(), key.blob.data(),
                                    static_cast<DWORD>(key.blob.size()), 0, 0, imported.out())) {
                    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
                    return;
                }
                EXPECT_FALSE(startedAfterDelete) << "an import into a deleted container worked";
                if (startedAfterDelete) {
                    return;
                }
                imports.fetch_add(1);
            }
        });
        while (imports.load() < 2 + round % 3) {
        }
        HCRYPTPROV none = 0;
        EXPECT_TRUE(CryptAcquireContextA(&none, name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                         CRYPT_DELETEKEYSET));
        deleted = true;
        importer.join();
        EXPECT_NE(0,
                  access((home() + "/containers/" + emu::toFileName(name) + ".key").c_str(), F_OK))
                << "an import brought the deleted container back";
        if (HasFailure()) {
            return;
        }
    }
}

}  // namespace
