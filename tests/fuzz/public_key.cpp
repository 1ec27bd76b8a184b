// Public key encodings through importPublicKey, and through the natives that take one from Java:
// encrypt, the key size queries and verify. Input: the DER of a PKCS #1 RSAPublicKey.

#include <algorithm>
#include <cstdint>
#include <vector>

#include <jni.h>

#include "crypto/public_key.h"
#include "platform/api.h"
#include "platform/handles.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/natives.h"

namespace {

const std::vector<BYTE> kPlainText = {'f', 'u', 'z', 'z'};

// A key that imports answers its size, and encrypts a short text into one block of that size.
void checkImportedKey(HCRYPTKEY key) {
    DWORD bits = 0;
    DWORD length = sizeof(bits);
    fuzz::require(CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &length, 0),
                  "an imported public key has no length");
    fuzz::require(bits > 0 && bits % 8 == 0, "an imported public key's length is no byte count");
    DWORD cipherLength = static_cast<DWORD>(kPlainText.size());
    fuzz::require(
            CryptEncrypt(key, 0, TRUE, 0, nullptr, &cipherLength, 0) && cipherLength == bits / 8,
            "the cipher text's size is not the modulus's");
    // The text goes in place; a key too small for it refuses it.
    std::vector<BYTE> buffer(std::max<size_t>(cipherLength, kPlainText.size()));
    std::copy(kPlainText.begin(), kPlainText.end(), buffer.begin());
    DWORD dataLength = static_cast<DWORD>(kPlainText.size());
    if (CryptEncrypt(key, 0, TRUE, 0, buffer.data(), &dataLength,
                     static_cast<DWORD>(buffer.size()))) {
        fuzz::require(dataLength == cipherLength, "a cipher text other than one block");
    }
}

void callNatives(const std::vector<BYTE>& encoded) {
    FakeJni jni;
    JNIEnv* env = jni.env();
    jbyteArray publicKey = jni.newByteArray(encoded);
    Java_quorvant_jce_provider_ms_MSCipherRSAJNI_encrypt(env, nullptr, publicKey,
                                                         jni.newByteArray(kPlainText), JNI_TRUE);
    fuzz::requireCleanBooks(jni, "encrypt");
    const jint bits = Java_quorvant_jce_provider_ms_MSCipherRSAJNI_getKeyLength(
            env, nullptr, nullptr, publicKey, JNI_TRUE);
    const jint block = Java_quorvant_jce_provider_ms_MSCipherRSAJNI_getBlockSize(
            env, nullptr, nullptr, publicKey, JNI_TRUE);
    fuzz::require(bits == block, "a public key's block size is not its length");
    fuzz::requireCleanBooks(jni, "getKeyLength and getBlockSize");
    const size_t signatureLength = bits > 0 ? static_cast<size_t>(bits) / 8 : 1;
    fuzz::require(!Java_quorvant_jce_provider_ms_MSSignatureJNI_verify(
                          env, nullptr, publicKey, jni.newString("SHA1"),
                          jni.newByteArray(std::vector<BYTE>(signatureLength, 0x5A)),
                          jni.newByteArray(kPlainText)),
                  "a made-up signature verifies");
    fuzz::requireCleanBooks(jni, "verify");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startFuzzHome();
    fuzz::silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::HandleBalance balance;
    const std::vector<BYTE> encoded(data, data + size);
    {
        HCRYPTKEY rawKey = 0;
        ProviderContext context(importPublicKey(encoded.data(), static_cast<DWORD>(size), &rawKey));
        KeyHandle key(rawKey);
        fuzz::require(static_cast<bool>(context), "no context for the public key");
        if (key) {
            checkImportedKey(key.get());
        }
    }
    callNatives(encoded);
    return 0;
}
