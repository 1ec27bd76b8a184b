// RSA signature verification.

#include "crypto/verify.h"

#include "bridge/diagnostics.h"
#include "bridge/jni_scope.h"
#include "crypto/public_key.h"
#include "crypto/sign.h"
#include "platform/handles.h"

jboolean verifySignature(JNIEnv* env, jbyteArray keyArray, jstring nameText,
                         jbyteArray signatureArray, jbyteArray dataArray) {
    JavaBytes publicKey(env, keyArray);
    JavaChars name(env, nameText);
    JavaBytes signature(env, signatureArray);
    JavaBytes data(env, dataArray);
    if (!publicKey || !name || !signature || !data) {
        return JNI_FALSE;
    }
    const ALG_ID algorithm = lookupHashAlgorithm(name.c_str());
    if (algorithm == 0) {
        printErrorLine(kInvalidHashLine);
        return JNI_FALSE;
    }
    name.reset();
    HCRYPTKEY rawKey = 0;
    ProviderContext context(importPublicKey(publicKey.data(), publicKey.size(), &rawKey));
    KeyHandle key(rawKey);
    publicKey.reset();
    if (!context) {
        return JNI_FALSE;
    }
    // Without a key (its import failed and was reported) the hash is still made, and the
    // verification then fails.
    HashHandle hash;
    if (!CryptCreateHash(context.get(), algorithm, 0, 0, hash.out())) {
        reportError(
                "Could not create the cryptographic hash required for verification of signature.",
                1);
        return JNI_FALSE;
    }
    if (!CryptHashData(hash.get(), data.data(), data.size(), 0)) {
        reportError(
                "Could not compute the cryptographic hash required for verification of signature",
                1);
        return JNI_FALSE;
    }
    return CryptVerifySignatureA(hash.get(), signature.data(), signature.size(), key.get(), nullptr,
                                 0)
                   ? JNI_TRUE
                   : JNI_FALSE;
}
