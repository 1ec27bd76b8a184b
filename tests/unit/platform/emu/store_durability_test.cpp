// The stores under processes that are killed, and under two processes writing at once.

#include <unistd.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/handles.h"
#include "tests/unit/platform/emu/writer_process.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

Writer startWriter(const char* mode, int seed, int count) {
    return ::startWriter(BRISVANDER_STORE_WRITER,
                         {mode, std::to_string(seed), std::to_string(count)});
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
        // Only our SIGKILL: a writer that aborted (a sanitizer's report) or failed is a fault.
        EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ||
                    (WIFEXITED(status) && WEXITSTATUS(status) == 0));
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
