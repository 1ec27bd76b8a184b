// Cipher texts through the decrypt native, with the fixed key1 as CRT key info or as the key
// entry an alias names. Input: a mode byte (bit 0: by alias, bit 1: the last block, bit 2: the
// alias is the block that follows, else the entry's own), then the cipher text, least
// significant byte first.

#include <cstdint>
#include <string>
#include <vector>

#include <jni.h>

#include "platform/api.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/natives.h"

namespace {

std::string entryAlias;
std::vector<std::vector<BYTE>> crtKeyInfo;
constexpr size_t kModulusLength = 256;  // key1 is an RSA 2048 key

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startFuzzHome();
    fuzz::silenceStandardOutput();
    entryAlias = fuzz::installFixtureKeyEntry(true);
    crtKeyInfo = fuzz::fixtureCrtKeyInfo("key1");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::HandleBalance balance;
    FakeJni jni;
    fuzz::InputReader reader(data, size);
    const uint8_t mode = reader.takeByte();
    const bool byAlias = (mode & 1) != 0;
    const jboolean isFinal = (mode & 2) != 0 ? JNI_TRUE : JNI_FALSE;
    const bool ownAlias = (mode & 4) == 0;
    jbyteArray alias = nullptr;
    jobjectArray key = nullptr;
    if (byAlias) {
        alias = ownAlias ? jni.newByteArray(std::vector<BYTE>(entryAlias.begin(), entryAlias.end()))
                         : jni.newByteArray(reader.takeBlock());
    } else {
        key = fuzz::newCrtKeyInfo(jni, crtKeyInfo);
    }
    jbyteArray cipherText = jni.newByteArray(reader.takeRest());
    jbyteArray plain = Java_quorvant_jce_provider_ms_MSCipherRSAJNI_decrypt(
            jni.env(), nullptr, key, alias, cipherText, isFinal);
    fuzz::requireCleanBooks(jni, "decrypt");
    if (!byAlias || ownAlias) {
        // The key is there: every cipher text decrypts, or is bad data, the one byte 1.
        fuzz::require(plain != nullptr, "decrypt with the fixed key gave no answer");
    }
    if (plain != nullptr) {
        fuzz::require(jni.bytesOf(plain).size() <= kModulusLength - 11,
                      "a plain text longer than a block can hold");
    }
    return 0;
}
