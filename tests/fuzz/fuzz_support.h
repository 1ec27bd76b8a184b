// What the fuzz targets share: an emulated home of the process's own, quiet standard output,
// checks that end the run as a crash would, the fake JNIEnv's books, and a reader that turns
// fuzz input into the Java objects a native takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <jni.h>

#include "platform/api.h"
#include "platform/emu/emulation.h"
#include "tests/jnihost/fake_jni.h"

namespace fuzz {

// startFuzzHome points BRISVANDER_HOME at a new folder of this process alone, removed when the
// process exits: under $BRISVANDER_FUZZ_TMP when set, else on /dev/shm when it can be (every
// emulated write syncs, which costs nothing there). Returns the folder; later calls return the
// same one.
const std::string& startFuzzHome();

// silenceStandardOutput sends standard output to /dev/null: failing natives report there, and
// a fuzz run would print millions of lines. Standard error, where the sanitizers and libFuzzer
// write, stays. BRISVANDER_FUZZ_VERBOSE set keeps standard output too.
void silenceStandardOutput();

// require ends the run with `what` on standard error when `condition` does not hold, through
// abort(), so that libFuzzer keeps the input as a crash.
void require(bool condition, const char* what);

// requireCleanBooks ends the run, listing them, when the fake JNIEnv saw a broken rule: a Get
// without its Release, a reference of the wrong kind or null where the call needs one, text
// that is not modified UTF-8. `after` names the call the books were checked after.
void requireCleanBooks(const FakeJni& jni, const char* after);

// The emulation's open handles when made; the destructor ends the run when they differ then.
class HandleBalance {
public:
    HandleBalance() : at_(emu::openHandles()) {}
    ~HandleBalance();
    HandleBalance(const HandleBalance&) = delete;
    HandleBalance& operator=(const HandleBalance&) = delete;

private:
    emu::HandleCounts at_;
};

// removeTree removes `path` and everything under it; a path that is not there is no error.
void removeTree(const std::string& path);

// writeFile writes `bytes` to `path`, making the folders on the way. Ends the run on failure.
void writeFile(const std::string& path, const std::vector<BYTE>& bytes);

// fileNames lists the names in folder `path`, sorted; empty for a folder that is not there.
std::vector<std::string> fileNames(const std::string& path);

// readFixture reads tests/fixtures/`relativePath`. Ends the run when it cannot.
std::vector<BYTE> readFixture(const std::string& relativePath);

// The CRT key info of fixture key `name` ("key1", "key2"): n p q dp dq qinv d e, each least
// significant byte first, as KeyEncoding hands them over.
std::vector<std::vector<BYTE>> fixtureCrtKeyInfo(const std::string& name);

// newCrtKeyInfo makes the Object[] of byte[] that the natives take as CRT key info.
jobjectArray newCrtKeyInfo(FakeJni& jni, const std::vector<std::vector<BYTE>>& elements);

// installFixtureKeyEntry installs key1 with the one-certificate chain keyentry/leaf.der through
// setKeyEntry, as the provider does, and removes every store but the container after, when
// `keepStores` is false. Ends the run when the installation fails. Returns the entry's alias.
std::string installFixtureKeyEntry(bool keepStores);

// The store and container folders of the fuzz home.
std::string storeFolder(const std::string& fileName);
std::string containerFolder();

// Reads fuzz input from the front. Past the end every read gives zeros or nothing, so any input
// decodes to something.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : next_(data), end_(data + size) {}
    bool atEnd() const { return next_ >= end_; }
    uint8_t takeByte();
    // takeBlock reads a length, 16 bits little-endian, then up to that many bytes.
    std::vector<BYTE> takeBlock();
    std::vector<BYTE> takeRest();

private:
    const uint8_t* next_;
    const uint8_t* end_;
};

// The kinds of element takeObjectArray makes. A hostile or careless caller can put anything
// into an Object[]; the natives declare no more.
enum ElementKind : uint8_t {
    ByteArrayElement = 0,
    NullElement = 1,
    StringElement = 2,
    ObjectArrayElement = 3,
    kElementKinds = 4,
};

// takeObjectArray reads an Object[]: a count byte (0xFF for a null array), then per element a
// kind byte (modulo kElementKinds) and, for a byte[] or a String, a block with its bytes.
// `outKinds`, when given, receives the kinds as made.
jobjectArray takeObjectArray(FakeJni& jni, InputReader& reader,
                             std::vector<ElementKind>* outKinds = nullptr);

}  // namespace fuzz
