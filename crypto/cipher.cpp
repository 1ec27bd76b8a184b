// The RSA cipher with a public key from Java, or a private key from Java or a key entry.

#include "crypto/cipher.h"

#include <algorithm>
#include <cstring>

#include "bridge/diagnostics.h"
#include "bridge/jni_scope.h"
#include "crypto/contexts.h"
#include "crypto/key_blob.h"
#include "crypto/public_key.h"
#include "platform/handles.h"

namespace {

// What decryption answers when the provider rejects the cipher text as bad data.
constexpr BYTE kBadDataMarker[] = {1};

}  // namespace

jbyteArray encryptWithPublicKey(JNIEnv* env, jbyteArray keyArray, jbyteArray plainArray,
                                jboolean isFinal) {
    JavaBytes publicKey(env, keyArray);
    JavaBytes plain(env, plainArray);
    if (!publicKey || !plain) {
        return nullptr;
    }
    HCRYPTKEY rawKey = 0;
    ProviderContext context(importPublicKey(publicKey.data(), publicKey.size(), &rawKey));
    KeyHandle key(rawKey);
    publicKey.reset();
    if (!key) {
        return nullptr;  // importPublicKey has said why
    }
    const BOOL last = isFinal ? TRUE : FALSE;
    DWORD cipherLength = plain.size();
    if (!CryptEncrypt(key.get(), 0, last, 0, nullptr, &cipherLength, 0)) {
        reportError("Could not determine the size of the resulting buffer for encryption.", 1);
        return nullptr;
    }
    // The plain text is encrypted in place, so the buffer holds the larger of the two.
    SecretBlock buffer(std::max<size_t>(cipherLength, plain.size()));
    std::memcpy(buffer.data(), plain.data(), plain.size());
    DWORD dataLength = plain.size();
    if (!CryptEncrypt(key.get(), 0, last, 0, buffer.data(), &dataLength, cipherLength)) {
        reportError("Could not encrypt data.", 1);
        return nullptr;
    }
    return toJavaBytes(env, buffer.data(), cipherLength);
}

jbyteArray decryptWithPrivateKey(JNIEnv* env, jobjectArray crtKeyInfo, jbyteArray aliasArray,
                                 jbyteArray cipherArray, jboolean isFinal) {
    JavaBytes cipher(env, cipherArray);
    if (!cipher) {
        return nullptr;
    }
    HCRYPTPROV rawContext = 0;
    HCRYPTKEY rawKey = 0;
    if (crtKeyInfo == nullptr) {
        JavaBytes alias(env, aliasArray);
        if (!alias) {
            return nullptr;
        }
        rawContext = acquireKeyByAlias(alias.data(), alias.size(), &rawKey);
    } else {
        static constexpr CrtImportMessages kMessages = {
                "Could not create the private key blob from the CRT key info.",
                "Could not acquire context for temporary container.",
                "Could not import private key into temporary container for decryption.",
                "Could not import private key into container for decryption.",
        };
        const CrtImportResult imported =
                importCrtKeyInfo(env, crtKeyInfo, kMessages, &rawContext, &rawKey);
        if (imported == CrtNoBlob || imported == CrtImportFailed) {
            return nullptr;
        }
    }
    ProviderContext context(rawContext);
    KeyHandle key(rawKey);
    if (!key) {
        return nullptr;
    }
    SecretBlock buffer(cipher.size());
    std::memcpy(buffer.data(), cipher.data(), cipher.size());
    DWORD plainLength = cipher.size();
    if (!CryptDecrypt(key.get(), 0, isFinal ? TRUE : FALSE, 0, buffer.data(), &plainLength)) {
        if (GetLastError() == static_cast<DWORD>(NTE_BAD_DATA)) {
            return toJavaBytes(env, kBadDataMarker, sizeof(kBadDataMarker));
        }
        reportError("Could not decrypt the encrypted data.", 1);
        return nullptr;
    }
    return toJavaBytes(env, buffer.data(), std::min(plainLength, buffer.size()));
}
