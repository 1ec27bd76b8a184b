// The stores under processes that are killed, and under two processes writing at once.

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/handles.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

struct Writer {
    pid_t pid = -1;
    FILE* output = nullptr;
};

Writer startWriter(const char* mode, int seed, int count) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], 1);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        const std::string seedText = std::to_string(seed);
        const std::string countText = std::to_string(count);
        execl(BRISVANDER_STORE_WRITER, "store_writer", mode, seedText.c_str(), countText.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    return {pid, fdopen(pipeEnds[0], "r")};
}

// Reads what the writer reported until it ends; returns its lines.
std::vector<std::string> finish(Writer writer, int* status) {
    std::vector<std::string> lines;
    char line[256];
    while (std::fgets(line, sizeof(line), writer.output) != nullptr) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
            lines.push_back(text);
        }
    }
    std::fclose(writer.output);
    waitpid(writer.pid, status, 0);
    return lines;
}

std::set<std::string> storedThumbprints() {
    std::set<std::string> found;
    StoreHandle store(
            CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
    CertContext cert;
    while (nextCertificate(store.get(), cert)) {
        BYTE hash[20];
        DWORD size = sizeof(hash);
        EXPECT_TRUE(
                CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, hash, &size));
        char text[41];
        for (int i = 0; i < 20; ++i) {
            std::snprintf(text + 2 * i, 3, "%02X", hash[i]);
        }
        found.insert(text);
    }
    return found;
}

size_t certificateFiles(const std::string& folder) {
    size_t count = 0;
    if (DIR* directory = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(directory)) {
            const std::string name = entry->d_name;
            count += name.size() == 44 && name.compare(40, 4, ".cer") == 0 ? 1 : 0;
        }
        closedir(directory);
    }
    return count;
}

using StoreDurabilityTest = EmulationTest;

// Every certificate that a killed writer reported added is there and whole, and every file
// in the store is a whole certificate: a kill at any moment tears nothing.
TEST_F(StoreDurabilityTest, KilledWritersLoseNothingReportedAndTearNothing) {
    std::mt19937 random(20261211);
    std::set<std::string> reported;
    for (int round = 0; round < 8; ++round) {
        Writer writer = startWriter("add", round + 1, 400);
        ASSERT_GT(writer.pid, 0);
        usleep(static_cast<useconds_t>(std::uniform_int_distribution<int>(20, 150)(random)) * 1000);
        kill(writer.pid, SIGKILL);
        int status = 0;
        for (const std::string& line : finish(writer, &status)) {
            reported.insert(line.substr(line.find(' ') + 1));
        }
        EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
    }
    ASSERT_FALSE(reported.empty()) << "no writer got as far as one certificate";
    const std::set<std::string> stored = storedThumbprints();
    for (const std::string& thumbprint : reported) {
        EXPECT_EQ(1u, stored.count(thumbprint)) << thumbprint << " was reported but is missing";
    }
    EXPECT_EQ(certificateFiles(home() + "/stores/MY"), stored.size())
            << "a certificate file in the store does not read back whole";
}

TEST_F(StoreDurabilityTest, TwoProcessesAddingAndDeletingAtOnceLoseNothing) {
    Writer first = startWriter("add-delete", 1, 120);
    Writer second = startWriter("add-delete", 2, 120);
    int status = 0;
    std::set<std::string> kept;
    std::set<std::string> deleted;
    for (Writer* writer : {&first, &second}) {
        for (const std::string& line : finish(*writer, &status)) {
            (line.rfind("added", 0) == 0 ? kept : deleted).insert(line.substr(line.find(' ') + 1));
        }
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(120u, kept.size());
    EXPECT_EQ(120u, deleted.size());
    EXPECT_EQ(kept, storedThumbprints());
}

}  // namespace
