// The natives of quorvant.jce.provider.ms.MSCipherRSAJNI: the RSA cipher and key sizes.

#include <jni.h>

// TODO(brisvander): the cipher and the key size queries fill these in; until then they answer
// failure.
extern "C" JNIEXPORT jbyteArray JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_encrypt(
        JNIEnv*, jclass, jbyteArray, jbyteArray, jboolean) {
    return nullptr;
}

extern "C" JNIEXPORT jbyteArray JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_decrypt(
        JNIEnv*, jclass, jobjectArray, jbyteArray, jbyteArray, jboolean) {
    return nullptr;
}

extern "C" JNIEXPORT jint JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_getKeyLength(
        JNIEnv*, jclass, jobjectArray, jbyteArray, jboolean) {
    return 0;
}

extern "C" JNIEXPORT jint JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_getBlockSize(
        JNIEnv*, jclass, jobjectArray, jbyteArray, jboolean) {
    return 0;
}
