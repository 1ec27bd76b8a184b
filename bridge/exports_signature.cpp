// The natives of quorvant.jce.provider.ms.MSSignatureJNI: RSA signing and verification.

#include <jni.h>

#include "bridge/jni_scope.h"
#include "crypto/sign.h"
#include "crypto/verify.h"

extern "C" JNIEXPORT jbyteArray JNICALL Java_quorvant_jce_provider_ms_MSSignatureJNI_sign(
        JNIEnv* env, jclass, jobjectArray crtKeyInfo, jbyteArray alias, jstring digestName,
        jbyteArray data) {
    return neutralOnThrow<jbyteArray>(
            [&] { return signData(env, crtKeyInfo, alias, digestName, data); });
}

extern "C" JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_MSSignatureJNI_verify(
        JNIEnv* env, jclass, jbyteArray publicKey, jstring digestName, jbyteArray signature,
        jbyteArray data) {
    return neutralOnThrow<jboolean>(
            [&] { return verifySignature(env, publicKey, digestName, signature, data); });
}
