// The natives of quorvant.jce.provider.ms.MSSignatureJNI: RSA signing and verification.

#include <jni.h>

// TODO(brisvander): signing and verification fill these in; until then they answer failure.
extern "C" JNIEXPORT jbyteArray JNICALL Java_quorvant_jce_provider_ms_MSSignatureJNI_sign(
        JNIEnv*, jclass, jobjectArray, jbyteArray, jstring, jbyteArray) {
    return nullptr;
}

extern "C" JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_MSSignatureJNI_verify(
        JNIEnv*, jclass, jbyteArray, jstring, jbyteArray, jbyteArray) {
    return JNI_FALSE;
}
