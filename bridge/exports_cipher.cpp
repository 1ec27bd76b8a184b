// The natives of quorvant.jce.provider.ms.MSCipherRSAJNI: the RSA cipher and key sizes.

#include <jni.h>

#include "bridge/jni_scope.h"
#include "crypto/cipher.h"
#include "crypto/key_size.h"

extern "C" JNIEXPORT jbyteArray JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_encrypt(
        JNIEnv* env, jclass, jbyteArray publicKey, jbyteArray plainText, jboolean isFinal) {
    return neutralOnThrow<jbyteArray>(
            [&] { return encryptWithPublicKey(env, publicKey, plainText, isFinal); });
}

extern "C" JNIEXPORT jbyteArray JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_decrypt(
        JNIEnv* env, jclass, jobjectArray crtKeyInfo, jbyteArray alias, jbyteArray cipherText,
        jboolean isFinal) {
    return neutralOnThrow<jbyteArray>(
            [&] { return decryptWithPrivateKey(env, crtKeyInfo, alias, cipherText, isFinal); });
}

extern "C" JNIEXPORT jint JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_getKeyLength(
        JNIEnv* env, jclass, jobjectArray crtKeyInfo, jbyteArray keyOrAlias, jboolean isPublic) {
    return neutralOnThrow<jint>(
            [&] { return queryKeyLength(env, crtKeyInfo, keyOrAlias, isPublic); });
}

extern "C" JNIEXPORT jint JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_getBlockSize(
        JNIEnv* env, jclass, jobjectArray crtKeyInfo, jbyteArray keyOrAlias, jboolean isPublic) {
    return neutralOnThrow<jint>(
            [&] { return queryBlockSize(env, crtKeyInfo, keyOrAlias, isPublic); });
}
