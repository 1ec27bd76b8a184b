// RSA signing with a key entry's key or a key from Java.

#include "crypto/sign.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "bridge/diagnostics.h"
#include "bridge/jni_scope.h"
#include "crypto/contexts.h"
#include "platform/handles.h"

namespace {

struct HashName {
    const char* name;
    ALG_ID algorithm;
};

constexpr HashName kHashNames[] = {
        {"SHA1", CALG_SHA1},
        {"MD5", CALG_MD5},
        {"MD2", CALG_MD2},
};

}  // namespace

ALG_ID lookupHashAlgorithm(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    for (const HashName& entry : kHashNames) {
        if (std::strcmp(entry.name, name) == 0) {
            return entry.algorithm;
        }
    }
    return 0;
}

jbyteArray signData(JNIEnv* env, jobjectArray crtKeyInfo, jbyteArray aliasArray, jstring nameText,
                    jbyteArray dataArray) {
    JavaBytes alias(env, aliasArray);
    if (aliasArray != nullptr && !alias) {
        return nullptr;
    }
    JavaChars name(env, nameText);
    JavaBytes data(env, dataArray);
    if (!name || !data) {
        return nullptr;
    }
    const ALG_ID algorithm = lookupHashAlgorithm(name.c_str());
    if (algorithm == 0) {
        printErrorLine(kInvalidHashLine);
        return nullptr;
    }
    name.reset();
    HCRYPTPROV rawContext = 0;
    HCRYPTKEY rawKey = 0;
    if (aliasArray != nullptr) {
        rawContext = acquireSigningContextByAlias(alias.data(), alias.size());
        alias.reset();
    } else {
        static constexpr CrtImportMessages kMessages = {
                "Could not create the private key blob from the CRT key info.",
                "Could not acquire temporary context for signing.",
                "Could not temporary import the private key used for signing.",
                "Could not import the private key used for signing.",
        };
        const CrtImportResult imported =
                importCrtKeyInfo(env, crtKeyInfo, kMessages, &rawContext, &rawKey);
        if (imported == CrtNoBlob || imported == CrtImportFailed) {
            return nullptr;
        }
    }
    ProviderContext context(rawContext);
    KeyHandle key(rawKey);
    if (!context) {
        return nullptr;  // no key entry matched, or no temporary context (reported)
    }
    HashHandle hash;
    if (!CryptCreateHash(context.get(), algorithm, 0, 0, hash.out())) {
        reportError("Could not create hash for signing.", 1);
        return nullptr;
    }
    if (!CryptHashData(hash.get(), data.data(), data.size(), 0)) {
        reportError("Could not compute the cryptographic hash of the buffer for signing.", 1);
        return nullptr;
    }
    // The signature key first, then the key-exchange key: a key from Java is always the latter.
    DWORD length = 0;
    const auto querySize = [&](DWORD keySpec) {
        length = 0;
        return CryptSignHashA(hash.get(), keySpec, nullptr, 0, nullptr, &length) && length > 0;
    };
    if (!querySize(AT_SIGNATURE) && !querySize(AT_KEYEXCHANGE)) {
        reportError("Could not determine the size of the signature and allocate memory.", 1);
        return nullptr;
    }
    std::vector<BYTE> signature(length);
    DWORD signatureLength = 0;
    // Each attempt gets the buffer's own length, whatever a failed one before it left there.
    const auto signWith = [&](DWORD keySpec) {
        signatureLength = length;
        return CryptSignHashA(hash.get(), keySpec, nullptr, 0, signature.data(),
                              &signatureLength) != FALSE;
    };
    if (!signWith(AT_SIGNATURE) && !signWith(AT_KEYEXCHANGE)) {
        reportError("Could not sign the hash value.", 1);
        return nullptr;
    }
    return toJavaBytes(env, signature.data(), std::min(signatureLength, length));
}
