// Writers killed at any moment while they add, delete, set properties and install key entries:
// what each reported done is there, what was under way is there whole or not at all, and every
// file in the stores and key containers reads back whole.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keystore/write.h"
#include "platform/emu/emulation.h"
#include "tests/stress/store_files.h"
#include "tests/unit/platform/emu/writer_process.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

constexpr int kRounds = 60;
constexpr int kMostCallsBeforeKill = 5;
constexpr int kMostMicrosecondsBeforeKill = 4000;

// What the stores and containers hold, flattened: "AddressBook/THUMBPRINT" to the hex of its
// friendly name ("" for none), "MY/THUMBPRINT" to "", and "container/FILE" to the SHA-1 of its
// key-exchange blob ("empty" for a container with no key).
using Holdings = std::map<std::string, std::string>;

// A call the writer reported begun: the holdings it changes, each to the value it leaves.
struct Call {
    std::string line;
    std::vector<std::pair<std::string, std::string>> changes;
    bool makesContainer = false;  // a container made empty comes first
};

const std::string kSharedContainer = "container/" + emu::toFileName(kKeyEntryContainer) + ".key";

Call parseBegin(const std::string& line) {
    std::istringstream words(line);
    std::string begin;
    std::string kind;
    std::string store;
    std::string thumbprint;
    words >> begin >> kind >> store >> thumbprint;
    Call call;
    call.line = line;
    const std::string key = store + "/" + thumbprint;
    if (kind == "add") {
        call.changes.push_back({key, ""});
    } else if (kind == "delete") {
        call.changes.push_back({key, "-"});  // "-" stands for gone
    } else if (kind == "property") {
        std::string name;
        words >> name;
        call.changes.push_back({key, name});
    } else if (kind == "install" || kind == "keyed") {
        std::string blob;
        std::string container;
        words >> blob >> container;
        // The key goes in before the certificate that names it.
        call.changes.push_back(
                {kind == "install" ? kSharedContainer : "container/" + container, blob});
        call.changes.push_back({key, ""});
        call.makesContainer = true;
    } else {
        ADD_FAILURE() << "the writer reported " << line;
    }
    return call;
}

void applyCall(const Call& call, Holdings* holdings) {
    for (const auto& [key, value] : call.changes) {
        if (value == "-") {
            holdings->erase(key);
        } else {
            (*holdings)[key] = value;
        }
    }
}

// Reads the holdings from the files, failing on any file that does not read back whole, on a
// temporary file anyone but the user could read, and on a store whose enumeration differs from
// its files.
Holdings readHoldings(const std::string& home) {
    Holdings holdings;
    for (const char* storeName : {"AddressBook", "MY"}) {
        const FolderContents folder = readFolder(home + "/stores/" + emu::toFileName(storeName));
        EXPECT_EQ(std::vector<std::string>{}, folder.problems) << storeName;
        std::set<std::string> files;
        for (const auto& [thumbprint, cert] : folder.certificates) {
            files.insert(thumbprint);
            const auto name = cert.properties.find(CERT_FRIENDLY_NAME_PROP_ID);
            holdings[std::string(storeName) + "/" + thumbprint] =
                    name == cert.properties.end() || std::string(storeName) == "MY"
                            ? ""
                            : upperHex(name->second.data(), name->second.size());
        }
        EXPECT_EQ(files, storedThumbprints(storeName))
                << storeName << ": the emulation lists other certificates than the files hold";
        for (const std::string& temporary : folder.temporaries) {
            EXPECT_EQ(0600,
                      fileMode(home + "/stores/" + emu::toFileName(storeName) + "/" + temporary))
                    << temporary;
        }
    }
    const std::string containers = home + "/containers";
    const FolderContents folder = readFolder(containers);
    EXPECT_EQ(std::vector<std::string>{}, folder.problems) << "containers";
    for (const auto& [name, slots] : folder.containers) {
        const auto slot = slots.find(AT_KEYEXCHANGE);
        BYTE digest[SHA_DIGEST_LENGTH];
        if (slot != slots.end()) {
            SHA1(slot->second.data(), slot->second.size(), digest);
        }
        holdings["container/" + name] =
                slot == slots.end() ? "empty" : upperHex(digest, sizeof(digest));
        EXPECT_EQ(0600, fileMode(containers + "/" + name)) << name;
    }
    for (const std::string& temporary : folder.temporaries) {
        EXPECT_EQ(0600, fileMode(containers + "/" + temporary)) << temporary;
    }
    const int folderMode = fileMode(containers);
    EXPECT_TRUE(folderMode == -1 || folderMode == 0700) << std::oct << folderMode;
    return holdings;
}

std::string valueIn(const Holdings& holdings, const std::string& key) {
    const auto found = holdings.find(key);
    return found == holdings.end() ? "-" : found->second;
}

// Every holding is as the reported calls left it, except those the call under way changes,
// which may also be as it leaves them (a container it makes also empty), and its certificate
// only once its key is in.
void expectHoldings(const Holdings& expected, const Call* underWay, const Holdings& found) {
    std::set<std::string> keys;
    for (const Holdings* holdings : {&expected, &found}) {
        for (const auto& entry : *holdings) {
            keys.insert(entry.first);
        }
    }
    for (const std::string& key : keys) {
        const std::string was = valueIn(expected, key);
        const std::string is = valueIn(found, key);
        std::set<std::string> allowed = {was};
        if (underWay != nullptr) {
            for (const auto& [changed, value] : underWay->changes) {
                if (changed == key) {
                    allowed.insert(value);
                    if (underWay->makesContainer && key.rfind("container/", 0) == 0 && was == "-") {
                        allowed.insert("empty");
                    }
                }
            }
        }
        EXPECT_EQ(1u, allowed.count(is))
                << key << " is " << is << ", reported " << was
                << (underWay != nullptr ? " with under way: " + underWay->line : "");
    }
    if (underWay != nullptr && underWay->makesContainer) {
        const auto& [container, blob] = underWay->changes[0];
        if (valueIn(found, underWay->changes[1].first) != "-") {
            EXPECT_EQ(blob, valueIn(found, container))
                    << "a key entry's certificate came before its key: " << underWay->line;
        }
    }
}

using KilledWritersTest = EmulationTest;

TEST_F(KilledWritersTest, LeaveEveryReportedCallDoneAndEveryFileWhole) {
    std::mt19937 random(20260314);
    Holdings expected;
    int killedUnderWay = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Writer writer = startWriter(BRISVANDER_STRESS_WRITER, {"mixed", std::to_string(round + 1)});
        ASSERT_GT(writer.pid, 0);
        const int callsBeforeKill =
                std::uniform_int_distribution<int>(0, kMostCallsBeforeKill)(random);
        std::vector<Call> begun;
        size_t reported = 0;
        std::string line;
        const auto take = [&](const std::string& text) {
            if (text.rfind("begin ", 0) == 0 && begun.size() == reported) {
                begun.push_back(parseBegin(text));
            } else if (text == "done" && begun.size() == reported + 1) {
                applyCall(begun[reported++], &expected);
            } else {
                ADD_FAILURE() << "the writer reported " << text;
            }
        };
        while (static_cast<int>(reported) < callsBeforeKill && readReport(writer, &line)) {
            take(line);
        }
        usleep(static_cast<useconds_t>(
                std::uniform_int_distribution<int>(0, kMostMicrosecondsBeforeKill)(random)));
        kill(writer.pid, SIGKILL);
        int status = 0;
        for (const std::string& rest : finish(writer, &status)) {
            take(rest);
        }
        ASSERT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ||
                    (WIFEXITED(status) && WEXITSTATUS(status) == 0))
                << "the writer failed on its own";
        const Call* underWay = begun.size() > reported ? &begun.back() : nullptr;
        killedUnderWay += underWay != nullptr ? 1 : 0;
        const Holdings found = readHoldings(home());
        expectHoldings(expected, underWay, found);
        if (HasFailure()) {
            return;
        }
        expected = found;  // what was under way is settled now, one way or the other
    }
    EXPECT_GT(killedUnderWay, kRounds / 4) << "too few writers were killed inside a call";
    // Deleting the containers leaves no key behind, not even in what killed writers left.
    for (const auto& [file, slots] : readFolder(home() + "/containers").containers) {
        HCRYPTPROV none = 0;
        EXPECT_TRUE(CryptAcquireContextA(&none, file.substr(0, file.size() - 4).c_str(),
                                         MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET))
                << file;
    }
    const FolderContents left = readFolder(home() + "/containers");
    EXPECT_TRUE(left.containers.empty());
    for (const std::string& temporary : left.temporaries) {
        // Only a container that was being made and never came to be can leave one: no key.
        Bytes bytes;
        readFileBytes(home() + "/containers/" + temporary, &bytes);
        EXPECT_LE(bytes.size(), 8u) << temporary << " holds a copy of a deleted key";
    }
}

}  // namespace
