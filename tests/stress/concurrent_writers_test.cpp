// Two processes of eight threads each adding, deleting and installing key entries at once, for
// a minute: nothing lost, nothing twice, no file torn, and every handle given back.

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keystore/write.h"
#include "platform/emu/emulation.h"
#include "tests/stress/store_files.h"
#include "tests/unit/platform/emu/writer_process.h"
#include "tests/unit/support/cert_factory.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

constexpr long kSeconds = 60;
constexpr int kProcesses = 2;
constexpr int kSharedCertificates = 4;

// One call a writer thread made.
struct Logged {
    std::string kind;  // add, delete, install
    std::string key;   // STORE/THUMBPRINT
    long long start = 0;
    long long end = 0;
    bool result = false;
    std::string blob;  // the SHA-1 of an installed key's blob
};

// Reads a writer's log, failing on the problems it saw and on handles it did not give back.
std::vector<Logged> readLog(const std::string& path) {
    std::vector<Logged> calls;
    FILE* file = std::fopen(path.c_str(), "r");
    EXPECT_NE(file, nullptr) << path;
    if (file == nullptr) {
        return calls;
    }
    bool sawHandles = false;
    char text[1024];
    while (std::fgets(text, sizeof(text), file) != nullptr) {
        std::string line(text);
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "handles") {
            sawHandles = true;
            EXPECT_EQ("handles 0 0 0 0 0", line) << "handles the writer did not give back";
            continue;
        }
        if (kind != "add" && kind != "delete" && kind != "install") {
            ADD_FAILURE() << line;
            continue;
        }
        Logged call;
        call.kind = kind;
        std::string store;
        std::string thumbprint;
        int result = 0;
        words >> store >> thumbprint >> call.start >> call.end >> result >> call.blob;
        call.key = store + "/" + thumbprint;
        call.result = result != 0;
        calls.push_back(call);
    }
    std::fclose(file);
    EXPECT_TRUE(sawHandles) << path << " was not written to its end";
    return calls;
}

// Of calls on one thing, those that may have taken effect last: no other call began after one
// of them had returned.
std::vector<const Logged*> lastCandidates(const std::vector<const Logged*>& calls) {
    long long latestStart = 0;
    for (const Logged* call : calls) {
        latestStart = std::max(latestStart, call->start);
    }
    std::vector<const Logged*> candidates;
    for (const Logged* call : calls) {
        if (call->end >= latestStart) {
            candidates.push_back(call);
        }
    }
    return candidates;
}

using ConcurrentWritersTest = EmulationTest;

TEST_F(ConcurrentWritersTest, TwoProcessesOfEightThreadsLoseNothingAndDuplicateNothing) {
    // The certificates every thread works on, the same bytes in both processes.
    const std::string sharedPath = home() + "/shared-certificates";
    {
        TestKey signer = makeTestKey();
        FILE* file = std::fopen(sharedPath.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        for (int i = 0; i < kSharedCertificates; ++i) {
            const std::string subject = "Shared " + std::to_string(i);
            const Bytes encoded =
                    makeCertificate(subject, signer.get(), subject, signer.get(), 100 + i);
            const BYTE length[4] = {static_cast<BYTE>(encoded.size()),
                                    static_cast<BYTE>(encoded.size() >> 8), 0, 0};
            std::fwrite(length, 1, sizeof(length), file);
            std::fwrite(encoded.data(), 1, encoded.size(), file);
        }
        ASSERT_EQ(0, std::fclose(file));
    }
    std::vector<Writer> writers;
    std::vector<std::string> logs;
    for (int i = 0; i < kProcesses; ++i) {
        logs.push_back(home() + "/writer-log-" + std::to_string(i));
        writers.push_back(startWriter(BRISVANDER_STRESS_WRITER,
                                      {"threads", std::to_string(i + 1), std::to_string(kSeconds),
                                       sharedPath, logs.back()}));
        ASSERT_GT(writers.back().pid, 0);
    }
    std::vector<Logged> calls;
    for (int i = 0; i < kProcesses; ++i) {
        int status = 0;
        EXPECT_EQ(std::vector<std::string>{}, finish(writers[i], &status))
                << "the writer printed something";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << i;
        const std::vector<Logged> logged = readLog(logs[i]);
        calls.insert(calls.end(), logged.begin(), logged.end());
    }
    ASSERT_FALSE(HasFailure());

    std::map<std::string, std::vector<const Logged*>> byKey;
    std::vector<const Logged*> installs;
    for (const Logged& call : calls) {
        byKey[call.key].push_back(&call);
        if (call.kind == "install") {
            installs.push_back(&call);
        }
    }
    ASSERT_FALSE(installs.empty());

    std::set<std::string> found;
    for (const char* storeName : {"AddressBook", "MY"}) {
        const std::string folder = home() + "/stores/" + emu::toFileName(storeName);
        const FolderContents contents = readFolder(folder);
        EXPECT_EQ(std::vector<std::string>{}, contents.problems) << storeName;
        EXPECT_EQ(std::vector<std::string>{}, contents.temporaries) << storeName;
        std::set<std::string> files;
        for (const auto& entry : contents.certificates) {
            files.insert(entry.first);
            found.insert(std::string(storeName) + "/" + entry.first);
        }
        EXPECT_EQ(files, storedThumbprints(storeName)) << storeName;
    }
    for (const std::string& key : found) {
        EXPECT_EQ(1u, byKey.count(key)) << key << " is stored but no thread put it there";
    }
    size_t checked = 0;
    for (const auto& [key, keyCalls] : byKey) {
        std::set<bool> allowed;
        for (const Logged* call : lastCandidates(keyCalls)) {
            allowed.insert(call->kind != "delete");
        }
        const bool present = found.count(key) != 0;
        EXPECT_EQ(1u, allowed.count(present))
                << key << (present ? " is there after its last delete" : " is lost");
        checked += allowed.size() == 1 ? 1 : 0;
    }
    EXPECT_GT(checked, byKey.size() / 2) << "too few certificates had a settled last call";

    const FolderContents containers = readFolder(home() + "/containers");
    EXPECT_EQ(std::vector<std::string>{}, containers.problems);
    EXPECT_EQ(std::vector<std::string>{}, containers.temporaries);
    const auto shared = containers.containers.find(emu::toFileName(kKeyEntryContainer) + ".key");
    ASSERT_NE(shared, containers.containers.end());
    const auto slot = shared->second.find(AT_KEYEXCHANGE);
    ASSERT_NE(slot, shared->second.end());
    BYTE digest[SHA_DIGEST_LENGTH];
    SHA1(slot->second.data(), slot->second.size(), digest);
    std::set<std::string> lastKeys;
    for (const Logged* call : lastCandidates(installs)) {
        lastKeys.insert(call->blob);
    }
    EXPECT_EQ(1u, lastKeys.count(upperHex(digest, sizeof(digest))))
            << "the key container holds a key that no last installation put there";
}

}  // namespace
