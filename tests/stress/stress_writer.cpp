// A child process for the stress tests, writing the stores and key containers through the key
// store and the emulation.
//   stress_writer mixed SEED
//     one thread, under umask 000, adds, deletes, sets friendly names and installs key entries
//     until killed (or 40 calls); before each call it reports "begin KIND STORE THUMBPRINT ..."
//     and after it "done", each line written whole at once, so a parent that kills it knows
//     which calls returned and which one may have been under way.
//   stress_writer threads SEED SECONDS SHARED LOG
//     eight threads add, delete and install for SECONDS: each its own certificates and key
//     entries, and all of them the certificates in the file SHARED (each a 4-byte length and
//     the encoding). Every call goes into LOG as "KIND STORE THUMBPRINT START END RESULT
//     [BLOB]" (times from the monotonic clock, which every process shares), with a line
//     "problem ..." for anything a thread saw go wrong and, last, "handles S C P K H" with the
//     emulation's count of handles still out.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <jni.h>
#include <openssl/sha.h>

#include "keystore/alias.h"
#include "keystore/write.h"
#include "platform/api.h"
#include "platform/emu/emulation.h"
#include "platform/handles.h"
#include "tests/stress/store_files.h"
#include "tests/unit/crypto/fake_jni.h"
#include "tests/unit/crypto/test_keys.h"
#include "tests/unit/support/cert_factory.h"

namespace {

// Small keys: the tests check where keys go, not how strong they are.
constexpr unsigned kKeyBits = 512;
constexpr long kMixedCalls = 40;
constexpr int kThreads = 8;
constexpr int kOwnCertificates = 4;
constexpr size_t kMostKeyEntries = 3;
constexpr int kCallsBetweenChecks = 16;

// Writes `line` and a newline in one write, so that a reader sees it whole or not at all.
void report(const std::string& line) {
    const std::string whole = line + "\n";
    size_t done = 0;
    while (done < whole.size()) {
        const ssize_t result = write(1, whole.data() + done, whole.size() - done);
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            std::_Exit(3);
        }
        done += static_cast<size_t>(result);
    }
}

std::string sha1Hex(const Bytes& bytes) {
    BYTE digest[SHA_DIGEST_LENGTH];
    SHA1(bytes.data(), bytes.size(), digest);
    return upperHex(digest, sizeof(digest));
}

long long monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::string aliasOf(const Bytes& encoded) {
    CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                  static_cast<DWORD>(encoded.size())));
    return cert ? buildEntryAlias(cert.get()) : std::string();
}

// A key entry's key and its self-signed certificate.
struct KeyEntry {
    RsaTestKey key;
    Bytes encoded;
};

KeyEntry makeKeyEntry(const std::string& subject, long serial) {
    KeyEntry entry{makeRsaTestKey(kKeyBits), {}};
    entry.encoded =
            makeCertificate(subject, entry.key.pair.get(), subject, entry.key.pair.get(), serial);
    return entry;
}

// Installs `entry` through the key store, as Java's setKeyEntry does.
bool installThroughKeyStore(const KeyEntry& entry, std::string* outProblem) {
    FakeJni jni;
    std::vector<jobject> numbers;
    for (const Bytes& number : entry.key.crt) {
        numbers.push_back(jni.bytes(number));
    }
    const jobjectArray crtKeyInfo = jni.objects(numbers);
    const jobjectArray chain = jni.objects({jni.bytes(entry.encoded)});
    const bool installed = installKeyEntry(jni.env(), crtKeyInfo, chain);
    for (const std::string& problem : jni.bookProblems()) {
        *outProblem += problem + "; ";
    }
    return installed;
}

// Finds `thumbprint` in `store` and sets its friendly name to `name`.
bool setFriendlyName(const char* storeName, const std::string& thumbprint, const Bytes& name) {
    StoreHandle store(CertOpenSystemStoreA(0, storeName));
    CertContext cert;
    while (nextCertificate(store.get(), cert)) {
        BYTE hash[20];
        DWORD size = sizeof(hash);
        if (CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, hash, &size) &&
            upperHex(hash, size) == thumbprint) {
            CRYPT_DATA_BLOB blob{static_cast<DWORD>(name.size()), const_cast<BYTE*>(name.data())};
            return CertSetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, 0,
                                                     &blob) != FALSE;
        }
    }
    return false;
}

// A key entry of a container of its own, made through the emulation.
bool installInOwnContainer(const KeyEntry& entry, const std::string& container) {
    {
        ProviderContext made;
        KeyHandle key;
        if (!CryptAcquireContextA(made.out(), container.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                  CRYPT_NEWKEYSET) ||
            !CryptImportKey(made.get(), entry.key.blob.data(),
                            static_cast<DWORD>(entry.key.blob.size()), 0, CRYPT_EXPORTABLE,
                            key.out())) {
            return false;
        }
    }
    CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, entry.encoded.data(),
                                                  static_cast<DWORD>(entry.encoded.size())));
    std::vector<WCHAR> containerName(container.begin(), container.end());
    containerName.push_back(0);
    std::vector<WCHAR> providerName(MS_ENHANCED_PROV_A,
                                    MS_ENHANCED_PROV_A + sizeof(MS_ENHANCED_PROV_A));
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = containerName.data();
    info.pwszProvName = providerName.data();
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    StoreHandle store(CertOpenSystemStoreA(0, "MY"));
    return cert && store &&
           CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info) &&
           CertAddCertificateContextToStore(store.get(), cert.get(),
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
}

struct Target {
    std::string store;
    std::string thumbprint;
    std::string alias;
};

std::vector<Target> listTargets(const char* storeName) {
    std::vector<Target> targets;
    StoreHandle store(CertOpenSystemStoreA(0, storeName));
    CertContext cert;
    while (nextCertificate(store.get(), cert)) {
        BYTE hash[20];
        DWORD size = sizeof(hash);
        CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, hash, &size);
        targets.push_back({storeName, upperHex(hash, size), buildEntryAlias(cert.get())});
    }
    return targets;
}

int runMixed(long seed) {
    umask(0);  // what the library writes must be private whatever the umask
    TestKey signer = makeTestKey();
    std::mt19937 random(static_cast<unsigned>(seed));
    std::vector<Target> named = listTargets("AddressBook");
    std::vector<Target> keyEntries = listTargets("MY");
    const auto pick = [&](size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random);
    };
    for (long index = 0; index < kMixedCalls; ++index) {
        const int kind = std::uniform_int_distribution<int>(0, 99)(random);
        const std::string subject = "Mixed " + std::to_string(seed) + " " + std::to_string(index);
        const long serial = seed * 1000 + index;
        bool done = false;
        if (kind < 35) {
            const Bytes encoded =
                    makeCertificate(subject, signer.get(), subject, signer.get(), serial);
            report("begin add AddressBook " + sha1Hex(encoded));
            done = addCertificateEntry(encoded.data(), static_cast<DWORD>(encoded.size()));
            named.push_back({"AddressBook", sha1Hex(encoded), aliasOf(encoded)});
        } else if (kind < 55 && (!named.empty() || !keyEntries.empty())) {
            const size_t at = pick(named.size() + keyEntries.size());
            std::vector<Target>& from = at < named.size() ? named : keyEntries;
            const size_t within = at < named.size() ? at : at - named.size();
            const Target target = from[within];
            from.erase(from.begin() + static_cast<long>(within));
            report("begin delete " + target.store + " " + target.thumbprint);
            done = deleteEntryByAlias(target.alias.c_str());
        } else if (kind < 75 && !named.empty()) {
            const Target& target = named[pick(named.size())];
            const std::string text =
                    "Friendly " + std::to_string(seed) + " " + std::to_string(index);
            const Bytes name(text.begin(), text.end());
            report("begin property AddressBook " + target.thumbprint + " " +
                   upperHex(name.data(), name.size()));
            done = setFriendlyName("AddressBook", target.thumbprint, name);
        } else if (kind < 85) {
            const KeyEntry entry = makeKeyEntry(subject, serial);
            report("begin install MY " + sha1Hex(entry.encoded) + " " + sha1Hex(entry.key.blob));
            std::string problem;
            done = installThroughKeyStore(entry, &problem) && problem.empty();
            keyEntries.push_back({"MY", sha1Hex(entry.encoded), aliasOf(entry.encoded)});
        } else {
            const KeyEntry entry = makeKeyEntry(subject, serial);
            const std::string container =
                    "mixed-" + std::to_string(seed) + "-" + std::to_string(index);
            report("begin keyed MY " + sha1Hex(entry.encoded) + " " + sha1Hex(entry.key.blob) +
                   " " + emu::toFileName(container) + ".key");
            done = installInOwnContainer(entry, container);
            keyEntries.push_back({"MY", sha1Hex(entry.encoded), aliasOf(entry.encoded)});
        }
        if (!done) {
            report("failed");
            return 1;
        }
        report("done");
    }
    return 0;
}

// One certificate some threads work on and what one thread believes of it.
struct Owned {
    Bytes encoded;
    std::string thumbprint;
    std::string alias;
    bool present = false;
};

Owned ownedOf(Bytes encoded) {
    Owned owned;
    owned.thumbprint = sha1Hex(encoded);
    owned.alias = aliasOf(encoded);
    owned.encoded = std::move(encoded);
    return owned;
}

class StressThread {
public:
    StressThread(long seed, int index, const std::vector<Bytes>& shared, long long deadline)
        : seed_(seed), index_(index), deadline_(deadline), random_(seed * 100 + index) {
        for (const Bytes& encoded : shared) {
            shared_.push_back(ownedOf(encoded));
        }
        for (int i = 0; i < kOwnCertificates; ++i) {
            const std::string subject = "Own " + name() + " " + std::to_string(i);
            own_.push_back(
                    ownedOf(makeCertificate(subject, signer_.get(), subject, signer_.get(), i)));
        }
    }

    void run() {
        for (long call = 0; monotonicNow() < deadline_; ++call) {
            const int kind = std::uniform_int_distribution<int>(0, 99)(random_);
            if (kind < 25) {
                Owned& cert = own_[pick(own_.size())];
                const long long start = monotonicNow();
                const bool added = addCertificateEntry(cert.encoded.data(),
                                                       static_cast<DWORD>(cert.encoded.size()));
                log("add AddressBook", cert, start, added);
                expect(added, "own add failed", cert);
                cert.present = true;
            } else if (kind < 45) {
                Owned& cert = own_[pick(own_.size())];
                const long long start = monotonicNow();
                const bool deleted = deleteEntryByAlias(cert.alias.c_str());
                log("delete AddressBook", cert, start, deleted);
                expect(deleted == cert.present, "own delete answered wrongly", cert);
                cert.present = false;
            } else if (kind < 65) {
                installOrDeleteKeyEntry();
            } else if (kind < 85) {
                Owned& cert = shared_[pick(shared_.size())];
                const long long start = monotonicNow();
                const bool added = addCertificateEntry(cert.encoded.data(),
                                                       static_cast<DWORD>(cert.encoded.size()));
                log("add AddressBook", cert, start, added);
                expect(added, "shared add failed", cert);
            } else {
                Owned& cert = shared_[pick(shared_.size())];
                const long long start = monotonicNow();
                const bool deleted = deleteEntryByAlias(cert.alias.c_str());
                log("delete AddressBook", cert, start, deleted);
            }
            if (call % kCallsBetweenChecks == kCallsBetweenChecks - 1) {
                checkOwnEntries();
            }
        }
    }

    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::string name() const { return std::to_string(seed_) + "/" + std::to_string(index_); }

    size_t pick(size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random_);
    }

    void log(const std::string& what, const Owned& cert, long long start, bool result,
             const std::string& extra = "") {
        lines_.push_back(what + " " + cert.thumbprint + " " + std::to_string(start) + " " +
                         std::to_string(monotonicNow()) + " " + (result ? "1" : "0") +
                         (extra.empty() ? "" : " " + extra));
    }

    void expect(bool holds, const std::string& problem, const Owned& cert) {
        if (!holds) {
            lines_.push_back("problem thread " + name() + ": " + problem + " " + cert.thumbprint);
        }
    }

    void installOrDeleteKeyEntry() {
        size_t present = 0;
        for (const Owned& entry : keyEntries_) {
            present += entry.present ? 1 : 0;
        }
        if (present < kMostKeyEntries && pick(2) == 0) {
            const std::string subject = "Key " + name() + " " + std::to_string(keyEntries_.size());
            const KeyEntry entry = makeKeyEntry(subject, static_cast<long>(keyEntries_.size()));
            keyEntries_.push_back(ownedOf(entry.encoded));
            Owned& cert = keyEntries_.back();
            std::string problem;
            const long long start = monotonicNow();
            const bool installed = installThroughKeyStore(entry, &problem);
            log("install MY", cert, start, installed, sha1Hex(entry.key.blob));
            expect(installed && problem.empty(), "install failed " + problem, cert);
            cert.present = true;
            return;
        }
        for (Owned& cert : keyEntries_) {
            if (cert.present) {
                const long long start = monotonicNow();
                const bool deleted = deleteEntryByAlias(cert.alias.c_str());
                log("delete MY", cert, start, deleted);
                expect(deleted, "key entry delete failed", cert);
                cert.present = false;
                return;
            }
        }
    }

    // What this thread has done is what it sees, whatever the others do meanwhile, and no
    // store lists a certificate twice.
    void checkOwnEntries() {
        for (const char* storeName : {"AddressBook", "MY"}) {
            std::vector<std::string> listed;
            for (const Target& target : listTargets(storeName)) {
                listed.push_back(target.thumbprint);
            }
            std::sort(listed.begin(), listed.end());
            if (std::adjacent_find(listed.begin(), listed.end()) != listed.end()) {
                lines_.push_back("problem thread " + name() + ": " + storeName +
                                 " lists a certificate twice");
            }
            const std::vector<Owned>& mine = std::strcmp(storeName, "MY") == 0 ? keyEntries_ : own_;
            for (const Owned& cert : mine) {
                const bool seen = std::binary_search(listed.begin(), listed.end(), cert.thumbprint);
                expect(seen == cert.present,
                       std::string(cert.present ? "missing from " : "still in ") + storeName, cert);
            }
        }
    }

    long seed_;
    int index_;
    long long deadline_;
    std::mt19937 random_;
    TestKey signer_ = makeTestKey();
    std::vector<Owned> own_;
    std::vector<Owned> shared_;
    std::vector<Owned> keyEntries_;
    std::vector<std::string> lines_;
};

std::vector<Bytes> readShared(const std::string& path) {
    Bytes file;
    std::vector<Bytes> certs;
    if (!readFileBytes(path, &file)) {
        return certs;
    }
    for (size_t at = 0; at + 4 <= file.size();) {
        const DWORD length = littleEndianNumber(file.data() + at);
        at += 4;
        if (file.size() - at < length) {
            return {};
        }
        certs.emplace_back(file.data() + at, file.data() + at + length);
        at += length;
    }
    return certs;
}

int runThreads(long seed, long seconds, const std::string& sharedPath, const std::string& logPath) {
    const std::vector<Bytes> shared = readShared(sharedPath);
    if (shared.empty()) {
        return 2;
    }
    const long long deadline = monotonicNow() + seconds * 1000000000LL;
    std::vector<std::unique_ptr<StressThread>> workers;
    for (int i = 0; i < kThreads; ++i) {
        workers.push_back(std::make_unique<StressThread>(seed, i, shared, deadline));
    }
    std::vector<std::thread> threads;
    for (auto& worker : workers) {
        threads.emplace_back([&worker] { worker->run(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    FILE* log = std::fopen(logPath.c_str(), "w");
    if (log == nullptr) {
        return 2;
    }
    for (const auto& worker : workers) {
        for (const std::string& line : worker->lines()) {
            std::fprintf(log, "%s\n", line.c_str());
        }
    }
    workers.clear();
    const emu::HandleCounts counts = emu::openHandles();
    std::fprintf(log, "handles %ld %ld %ld %ld %ld\n", counts.stores, counts.certificates,
                 counts.providers, counts.keys, counts.hashes);
    return std::fclose(log) == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "mixed") == 0) {
        return runMixed(std::atol(argv[2]));
    }
    if (argc == 6 && std::strcmp(argv[1], "threads") == 0) {
        return runThreads(std::atol(argv[2]), std::atol(argv[3]), argv[4], argv[5]);
    }
    std::fprintf(stderr, "usage: stress_writer mixed SEED | threads SEED SECONDS SHARED LOG\n");
    return 2;
}
