// The pieces the fuzz targets share.

#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include "keystore/alias.h"
#include "platform/handles.h"
#include "tests/fuzz/natives.h"

namespace fuzz {

namespace {

std::string homeFolder;

int removeOne(const char* path, const struct stat*, int, struct FTW*) {
    std::remove(path);
    return 0;
}

void removeHome() {
    if (!homeFolder.empty()) {
        removeTree(homeFolder);
    }
}

bool isWritableFolder(const char* path) { return path != nullptr && access(path, W_OK) == 0; }

}  // namespace

const std::string& startFuzzHome() {
    if (!homeFolder.empty()) {
        return homeFolder;
    }
    // The runner names a folder it removes whatever way the run ends.
    const char* base = std::getenv("BRISVANDER_FUZZ_TMP");
    if (!isWritableFolder(base)) {
        base = "/dev/shm";
    }
    if (!isWritableFolder(base)) {
        const char* temporary = std::getenv("TMPDIR");
        base = isWritableFolder(temporary) ? temporary : "/tmp";
    }
    std::string pattern = std::string(base) + "/brisvander-fuzz-XXXXXX";
    require(mkdtemp(pattern.data()) != nullptr, "no temporary folder for the emulated home");
    homeFolder = pattern;
    setenv("BRISVANDER_HOME", homeFolder.c_str(), 1);
    std::atexit(removeHome);
    return homeFolder;
}

void silenceStandardOutput() {
    if (std::getenv("BRISVANDER_FUZZ_VERBOSE") != nullptr) {
        return;
    }
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    require(null >= 0 && dup2(null, STDOUT_FILENO) >= 0, "standard output cannot be silenced");
    close(null);
}

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz: broken: %s\n", what);
        std::fflush(stderr);
        std::abort();
    }
}

void requireCleanBooks(const FakeJni& jni, const char* after) {
    const std::vector<std::string> problems = jni.bookProblems();
    if (problems.empty()) {
        return;
    }
    std::fprintf(stderr, "fuzz: the fake JNIEnv's books after %s:\n", after);
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "  %s\n", problem.c_str());
    }
    require(false, "the natives broke a JNI rule");
}

HandleBalance::~HandleBalance() {
    const emu::HandleCounts now = emu::openHandles();
    if (now.stores != at_.stores || now.certificates != at_.certificates ||
        now.providers != at_.providers || now.keys != at_.keys || now.hashes != at_.hashes) {
        std::fprintf(stderr,
                     "fuzz: open handles before and after: stores %ld %ld, certificates %ld %ld, "
                     "providers %ld %ld, keys %ld %ld, hashes %ld %ld\n",
                     at_.stores, now.stores, at_.certificates, now.certificates, at_.providers,
                     now.providers, at_.keys, now.keys, at_.hashes, now.hashes);
        require(false, "a platform handle was not given back");
    }
}

void removeTree(const std::string& path) {
    nftw(path.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
}

void writeFile(const std::string& path, const std::vector<BYTE>& bytes) {
    const size_t slash = path.rfind('/');
    require(slash != std::string::npos && emu::ensureFolder(path.substr(0, slash)),
            "no folder for a fuzz file");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    require(file != nullptr, "a fuzz file cannot be made");
    const bool written =
            bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    require(std::fclose(file) == 0 && written, "a fuzz file cannot be written");
}

std::vector<std::string> fileNames(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* listing = opendir(path.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                names.emplace_back(entry->d_name);
            }
        }
        closedir(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<BYTE> readFixture(const std::string& relativePath) {
    std::ifstream file(std::string(BRISVANDER_FIXTURES) + "/" + relativePath, std::ios::binary);
    require(static_cast<bool>(file), "a fixture is missing");
    return std::vector<BYTE>(std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>());
}

std::vector<std::vector<BYTE>> fixtureCrtKeyInfo(const std::string& name) {
    std::vector<std::vector<BYTE>> elements;
    for (const char* number : {"n", "p", "q", "dp", "dq", "qinv", "d", "e"}) {
        elements.push_back(readFixture("keyentry/" + name + "/" + number + ".bin"));
    }
    return elements;
}

jobjectArray newCrtKeyInfo(FakeJni& jni, const std::vector<std::vector<BYTE>>& elements) {
    std::vector<jobject> arrays;
    for (const std::vector<BYTE>& element : elements) {
        arrays.push_back(jni.newByteArray(element));
    }
    return jni.newObjectArray("java/lang/Object", arrays);
}

std::string storeFolder(const std::string& fileName) {
    return startFuzzHome() + "/stores/" + fileName;
}

std::string containerFolder() { return startFuzzHome() + "/containers"; }

std::string installFixtureKeyEntry(bool keepStores) {
    const std::vector<BYTE> leaf = readFixture("keyentry/leaf.der");
    std::string alias;
    {
        FakeJni jni;
        jobjectArray crtKeyInfo = newCrtKeyInfo(jni, fixtureCrtKeyInfo("key1"));
        jobjectArray chain = jni.newObjectArray("[B", {jni.newByteArray(leaf)});
        require(Java_quorvant_jce_provider_ms_Brisvander_setKeyEntry(jni.env(), nullptr, crtKeyInfo,
                                                                     nullptr, chain) == JNI_TRUE,
                "the fixture key entry does not install");
        requireCleanBooks(jni, "setKeyEntry of the fixture entry");
    }
    CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, leaf.data(),
                                                  static_cast<DWORD>(leaf.size())));
    require(static_cast<bool>(cert), "the fixture certificate does not decode");
    alias = buildEntryAlias(cert.get());
    if (!keepStores) {
        removeTree(startFuzzHome() + "/stores");
    }
    return alias;
}

uint8_t InputReader::takeByte() { return atEnd() ? 0 : *next_++; }

std::vector<BYTE> InputReader::takeBlock() {
    const size_t length = takeByte() | (static_cast<size_t>(takeByte()) << 8);
    const size_t available = atEnd() ? 0 : static_cast<size_t>(end_ - next_);
    const size_t taken = std::min(length, available);
    std::vector<BYTE> block(next_, next_ + taken);
    next_ += taken;
    return block;
}

std::vector<BYTE> InputReader::takeRest() {
    std::vector<BYTE> rest(next_, std::max(next_, end_));
    next_ = end_;
    return rest;
}

jobjectArray takeObjectArray(FakeJni& jni, InputReader& reader,
                             std::vector<ElementKind>* outKinds) {
    const uint8_t count = reader.takeByte();
    if (count == 0xFF) {
        return nullptr;
    }
    std::vector<jobject> elements;
    for (uint8_t i = 0; i < count; ++i) {
        const auto kind = static_cast<ElementKind>(reader.takeByte() % kElementKinds);
        if (outKinds != nullptr) {
            outKinds->push_back(kind);
        }
        switch (kind) {
            case ByteArrayElement:
                elements.push_back(jni.newByteArray(reader.takeBlock()));
                break;
            case NullElement:
                elements.push_back(nullptr);
                break;
            case StringElement: {
                const std::vector<BYTE> text = reader.takeBlock();
                elements.push_back(jni.newString(std::string(text.begin(), text.end())));
                break;
            }
            default:
                elements.push_back(jni.newObjectArray("java/lang/Object", {}));
                break;
        }
    }
    return jni.newObjectArray("java/lang/Object", elements);
}

}  // namespace fuzz
