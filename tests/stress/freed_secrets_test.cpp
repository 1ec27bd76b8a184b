// No private key byte is left in memory given back while the library signs, decrypts, imports
// and installs with a key: every block that operator delete or OpenSSL's allocator frees is
// searched for pieces of the key's secret numbers, in both byte orders, before it goes back.

#include <execinfo.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include <openssl/crypto.h>

#include "crypto/cipher.h"
#include "crypto/sign.h"
#include "keystore/alias.h"
#include "keystore/write.h"
#include "tests/unit/crypto/crypto_fixture.h"

namespace {

// A piece of a secret this long, starting anywhere, is found: the pieces searched for start
// every eight bytes, so any run of 23 bytes holds one.
constexpr size_t kPieceLength = 16;
constexpr size_t kPieceStep = 8;
constexpr size_t kMostHits = 16;
constexpr int kMostFrames = 24;

struct Piece {
    std::uint64_t head;
    std::array<BYTE, kPieceLength> bytes;
    const char* secret;
    bool bigEndian;
};

struct Hit {
    const char* during;
    const char* secret;
    bool bigEndian;
    size_t offset;
    size_t blockLength;
    const char* file;  // where OpenSSL freed it; null for operator delete
    int line;
    void* frames[kMostFrames];
    int frameCount;
};

// Filled before the search is switched on and only read while it is on.
std::vector<Piece> pieces;
std::atomic<bool> searching{false};
const char* during = "";
Hit hits[kMostHits];
std::atomic<size_t> hitCount{0};
// Set while the fake VM gives back the copies of Java arrays it lent: those are the VM's.
thread_local bool inVirtualMachine = false;
thread_local bool inSearch = false;

void searchFreedBlock(void* block, const char* file, int line) {
    if (block == nullptr || !searching.load() || inVirtualMachine || inSearch) {
        return;
    }
    inSearch = true;
    const size_t length = malloc_usable_size(block);
    const BYTE* bytes = static_cast<const BYTE*>(block);
    for (size_t at = 0; at + kPieceLength <= length; ++at) {
        std::uint64_t head = 0;
        std::memcpy(&head, bytes + at, sizeof(head));
        auto piece = std::lower_bound(pieces.begin(), pieces.end(), head,
                                      [](const Piece& candidate, std::uint64_t wanted) {
                                          return candidate.head < wanted;
                                      });
        for (; piece != pieces.end() && piece->head == head; ++piece) {
            if (std::memcmp(piece->bytes.data(), bytes + at, kPieceLength) != 0) {
                continue;
            }
            const size_t index = hitCount.fetch_add(1);
            if (index < kMostHits) {
                Hit& hit = hits[index];
                hit = Hit{during, piece->secret, piece->bigEndian, at, length, file, line, {}, 0};
                hit.frameCount = backtrace(hit.frames, kMostFrames);
            }
            inSearch = false;
            return;  // one hit tells enough of a block
        }
    }
    inSearch = false;
}

void* allocateForOpenSsl(size_t length, const char*, int) { return std::malloc(length); }

// A moved block is searched as freed: what was in it stays behind.
void* reallocateForOpenSsl(void* block, size_t length, const char* file, int line) {
    if (block == nullptr) {
        return std::malloc(length);
    }
    void* moved = std::malloc(length);
    if (moved == nullptr) {
        return nullptr;
    }
    std::memcpy(moved, block, std::min(length, malloc_usable_size(block)));
    searchFreedBlock(block, file, line);
    std::free(block);
    return moved;
}

void freeForOpenSsl(void* block, const char* file, int line) {
    searchFreedBlock(block, file, line);
    std::free(block);
}

// OpenSSL takes other allocators only before its first allocation.
const bool openSslHooked =
        CRYPTO_set_mem_functions(allocateForOpenSsl, reallocateForOpenSsl, freeForOpenSsl) == 1;

void* allocate(size_t length) {
    void* block = std::malloc(length == 0 ? 1 : length);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void release(void* block) {
    searchFreedBlock(block, nullptr, 0);
    std::free(block);
}

}  // namespace

// Every form of the global allocation functions, so that no pair mixes this allocator with
// another (a sanitizer's among them).
void* operator new(size_t length) { return allocate(length); }
void* operator new[](size_t length) { return allocate(length); }
void* operator new(size_t length, const std::nothrow_t&) noexcept {
    return std::malloc(length == 0 ? 1 : length);
}
void* operator new[](size_t length, const std::nothrow_t&) noexcept {
    return std::malloc(length == 0 ? 1 : length);
}
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, size_t) noexcept { release(block); }
void operator delete[](void* block, size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }

namespace {

void JNICALL releaseBytesAsVm(JNIEnv* env, jbyteArray array, jbyte* elements, jint mode);
void JNICALL releaseCharsAsVm(JNIEnv* env, jstring text, const char* chars);
decltype(JNINativeInterface_::ReleaseByteArrayElements) releaseBytes = nullptr;
decltype(JNINativeInterface_::ReleaseStringUTFChars) releaseChars = nullptr;

void JNICALL releaseBytesAsVm(JNIEnv* env, jbyteArray array, jbyte* elements, jint mode) {
    inVirtualMachine = true;
    releaseBytes(env, array, elements, mode);
    inVirtualMachine = false;
}

void JNICALL releaseCharsAsVm(JNIEnv* env, jstring text, const char* chars) {
    inVirtualMachine = true;
    releaseChars(env, text, chars);
    inVirtualMachine = false;
}

void addPieces(const Bytes& littleEndianNumber, const char* secret) {
    for (const bool bigEndian : {false, true}) {
        const Bytes number = bigEndian ? reversed(littleEndianNumber) : littleEndianNumber;
        for (size_t at = 0; at + kPieceLength <= number.size(); at += kPieceStep) {
            Piece piece{0, {}, secret, bigEndian};
            std::copy(number.begin() + static_cast<long>(at),
                      number.begin() + static_cast<long>(at + kPieceLength), piece.bytes.begin());
            std::memcpy(&piece.head, piece.bytes.data(), sizeof(piece.head));
            pieces.push_back(piece);
        }
    }
}

// A frame as "module(+offset) [address]" named by addr2line where it can: the test's own
// functions have hidden names, which only the debug information keeps.
std::string nameFrame(const std::string& frame) {
    const size_t open = frame.find("(+0x");
    const size_t close = frame.find(')', open);
    if (open == std::string::npos || close == std::string::npos) {
        return frame;
    }
    // A return address: the call is the byte before it.
    const unsigned long long offset =
            std::strtoull(frame.substr(open + 2, close - open - 2).c_str(), nullptr, 16) - 1;
    const std::string command = "addr2line -C -f -p -e '" + frame.substr(0, open) + "' " +
                                std::to_string(offset) + " 2>/dev/null";
    std::string named;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[1024];
        while (std::fgets(line, sizeof(line), pipe) != nullptr) {
            named += line;
        }
        pclose(pipe);
    }
    while (!named.empty() && named.back() == '\n') {
        named.pop_back();
    }
    return named.empty() || named[0] == '?' ? frame : named;
}

std::string describeHits() {
    std::string text;
    const size_t count = std::min(hitCount.load(), kMostHits);
    for (size_t i = 0; i < count; ++i) {
        const Hit& hit = hits[i];
        text += std::string("during ") + hit.during + ": " + hit.secret +
                (hit.bigEndian ? " (big-endian)" : " (little-endian)") + " at " +
                std::to_string(hit.offset) + " of a block of " + std::to_string(hit.blockLength) +
                ", freed " +
                (hit.file != nullptr
                         ? "by OpenSSL at " + std::string(hit.file) + ":" + std::to_string(hit.line)
                         : std::string("by operator delete")) +
                "\n";
        char** symbols = backtrace_symbols(hit.frames, hit.frameCount);
        for (int frame = 0; symbols != nullptr && frame < hit.frameCount; ++frame) {
            text += "    " + nameFrame(symbols[frame]) + "\n";
        }
        std::free(symbols);
    }
    return text;
}

class FreedSecretsTest : public CryptoTest {
protected:
    void SetUp() override {
        CryptoTest::SetUp();
        ASSERT_TRUE(openSslHooked) << "OpenSSL allocated before its allocator could be set";
        table_ = *env()->functions;
        releaseBytes = table_.ReleaseByteArrayElements;
        releaseChars = table_.ReleaseStringUTFChars;
        table_.ReleaseByteArrayElements = releaseBytesAsVm;
        table_.ReleaseStringUTFChars = releaseCharsAsVm;
        env()->functions = &table_;
        const char* names[] = {"n", "p", "q", "dp", "dq", "qinv", "d"};
        for (int i = 1; i < 7; ++i) {
            addPieces(key_.crt[static_cast<size_t>(i)], names[i]);
        }
        std::sort(pieces.begin(), pieces.end(),
                  [](const Piece& a, const Piece& b) { return a.head < b.head; });
        void* warmUp[2];
        backtrace(warmUp, 2);  // loads what backtrace needs before any free is searched
    }

    void TearDown() override {
        searching = false;
        pieces.clear();
        CryptoTest::TearDown();
    }

    // Runs `call` with the search on and answers how many freed blocks held a secret.
    template <typename Call>
    size_t search(const char* what, Call&& call) {
        during = what;
        hitCount = 0;
        searching = true;
        call();
        searching = false;
        return hitCount.load();
    }

    jobjectArray chainOf(const Bytes& encoded) { return jni_.objects({bytes(encoded)}); }

    const RsaTestKey& key_ = testKey(1024, 7);
    JNINativeInterface_ table_{};
};

TEST_F(FreedSecretsTest, NoKeyByteIsLeftInFreedMemory) {
    TestKey signer = makeTestKey();
    const Bytes cert = makeCertificate("Secret", key_.pair.get(), "Secret", key_.pair.get(), 5);
    const Bytes data = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};
    const Bytes cipher = reversed(opensslEncrypt(key_, {'p', 'l', 'a', 'i', 'n'}));
    std::string alias;
    {
        CertContext context(CertCreateCertificateContext(X509_ASN_ENCODING, cert.data(),
                                                         static_cast<DWORD>(cert.size())));
        alias = buildEntryAlias(context.get());
    }
    const Bytes aliasBytes(alias.begin(), alias.end());
    const auto signs = [&](jobjectArray crt, jbyteArray aliasArray) {
        Printed printed;
        jbyteArray signature = capture(&printed, [&] {
            return signData(env(), crt, aliasArray, text("SHA1"), bytes(data));
        });
        EXPECT_NE(nullptr, signature) << printed;
    };
    const auto decrypts = [&](jobjectArray crt, jbyteArray aliasArray) {
        Printed printed;
        jbyteArray plain = capture(&printed, [&] {
            return decryptWithPrivateKey(env(), crt, aliasArray, bytes(cipher), JNI_TRUE);
        });
        EXPECT_EQ(Bytes({'p', 'l', 'a', 'i', 'n'}), jni_.contentOf(plain)) << printed;
    };

    const struct {
        const char* call;
        std::function<void()> run;
    } calls[] = {
            {"installKeyEntry",
             [&] {
                 Printed printed;
                 EXPECT_TRUE(capture(&printed, [&] {
                     return installKeyEntry(env(), crtOf(key_), chainOf(cert));
                 })) << printed;
             }},
            {"signing with CRT key info", [&] { signs(crtOf(key_), nullptr); }},
            {"decrypting with CRT key info", [&] { decrypts(crtOf(key_), nullptr); }},
            {"signing by alias", [&] { signs(nullptr, bytes(aliasBytes)); }},
            {"decrypting by alias", [&] { decrypts(nullptr, bytes(aliasBytes)); }},
            {"CryptImportKey",
             [&] {
                 for (const char* container : {static_cast<const char*>(nullptr), "imported"}) {
                     ProviderContext context;
                     KeyHandle imported;
                     EXPECT_TRUE(CryptAcquireContextA(
                             context.out(), container, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                             container == nullptr ? CRYPT_VERIFYCONTEXT : CRYPT_NEWKEYSET));
                     EXPECT_TRUE(CryptImportKey(context.get(), key_.blob.data(),
                                                static_cast<DWORD>(key_.blob.size()), 0, 0,
                                                imported.out()));
                 }
             }},
            // The emulation keeps the keys it used last; other keys push this one out, and
            // with it everything that held its numbers goes back.
            {"the kept keys leaving",
             [&] {
                 for (int i = 0; i < 24; ++i) {
                     signs(crtOf(testKey(512, i)), nullptr);
                 }
             }},
    };
    for (const auto& [call, run] : calls) {
        EXPECT_EQ(0u, search(call, run)) << describeHits();
    }
}

}  // namespace

namespace {

// The search itself finds a piece of a secret left in a block, whoever frees it.
TEST_F(FreedSecretsTest, FindsAPieceOfTheKeyLeftInAFreedBlock) {
    const Bytes& p = key_.crt[1];
    const Bytes& d = key_.crt[6];
    const Bytes piece = reversed(Bytes(p.begin() + 3, p.begin() + 29));
    const size_t found = search("a check of the search", [&] {
        BYTE* left = new BYTE[piece.size() + 7];
        std::memcpy(left + 7, piece.data(), piece.size());
        asm volatile("" : : "r"(left) : "memory");  // the copy is not optimised away
        delete[] left;
        void* copy = OPENSSL_malloc(d.size());
        std::memcpy(copy, d.data(), d.size());
        asm volatile("" : : "r"(copy) : "memory");
        OPENSSL_free(copy);
    });
    ASSERT_EQ(2u, found);
    EXPECT_STREQ("p", hits[0].secret);
    EXPECT_TRUE(hits[0].bigEndian);
    EXPECT_EQ(nullptr, hits[0].file);
    EXPECT_STREQ("d", hits[1].secret);
    EXPECT_NE(nullptr, hits[1].file);
}

}  // namespace
