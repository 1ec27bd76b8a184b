// Key length and block size queries.

#include "crypto/key_size.h"

#include "bridge/diagnostics.h"
#include "bridge/jni_scope.h"
#include "crypto/contexts.h"
#include "crypto/public_key.h"
#include "platform/handles.h"

namespace {

// What one query reads, and prints when the parameter cannot be read.
struct KeySizeQuery {
    DWORD parameter;
    CrtImportMessages importMessages;
    const char* parameterFailed;
};

constexpr jint kNoKeyFromCrt = 0;
constexpr jint kNoValue = -1;

jint queryKeyParameter(JNIEnv* env, jobjectArray crtKeyInfo, jbyteArray keyOrAliasArray,
                       jboolean isPublic, const KeySizeQuery& query) {
    JavaBytes keyOrAlias(env, keyOrAliasArray);
    if (!keyOrAlias) {
        return 0;
    }
    HCRYPTPROV rawContext = 0;
    HCRYPTKEY rawKey = 0;
    if (isPublic) {
        rawContext = importPublicKey(keyOrAlias.data(), keyOrAlias.size(), &rawKey);
    } else if (crtKeyInfo == nullptr) {
        rawContext = acquireKeyByAlias(keyOrAlias.data(), keyOrAlias.size(), &rawKey);
    } else {
        const CrtImportResult imported =
                importCrtKeyInfo(env, crtKeyInfo, query.importMessages, &rawContext, &rawKey);
        if (imported == CrtNoBlob || imported == CrtImportFailed) {
            return kNoKeyFromCrt;
        }
    }
    ProviderContext context(rawContext);
    KeyHandle key(rawKey);
    keyOrAlias.reset();
    if (!context) {
        return kNoValue;
    }
    // A context without a key reaches the query too: it fails, and says so.
    DWORD value = 0;
    DWORD length = sizeof(value);
    if (!CryptGetKeyParam(key.get(), query.parameter, reinterpret_cast<BYTE*>(&value), &length,
                          0)) {
        reportError(query.parameterFailed, 1);
        return kNoValue;
    }
    return static_cast<jint>(value);
}

}  // namespace

jint queryKeyLength(JNIEnv* env, jobjectArray crtKeyInfo, jbyteArray keyOrAliasArray,
                    jboolean isPublic) {
    static constexpr KeySizeQuery kQuery = {
            KP_KEYLEN,
            {
                    "Could not create the private key blob from the CRT key info.",
                    "Could not acquire context. Cannot determine key length.",
                    "Could not import private key into temporary container in order to determine "
                    "key length.",
                    "Could not import private key into container in order to determine key length.",
            },
            "Cannot determine key length.",
    };
    return queryKeyParameter(env, crtKeyInfo, keyOrAliasArray, isPublic, kQuery);
}

jint queryBlockSize(JNIEnv* env, jobjectArray crtKeyInfo, jbyteArray keyOrAliasArray,
                    jboolean isPublic) {
    static constexpr KeySizeQuery kQuery = {
            KP_BLOCKLEN,
            {
                    "Could not create the private key blob from the CRT key info. Cannot determine "
                    "block size.",
                    "Could not acquire context for temporary container. Cannot determine block "
                    "size.",
                    "Could not import private key into temporary container in order to determine "
                    "block size.",
                    "Could not import private key into container in order to determine block size.",
            },
            "Could not determine block size.",
    };
    return queryKeyParameter(env, crtKeyInfo, keyOrAliasArray, isPublic, kQuery);
}
