// The natives of quorvant.jce.provider.ms.Brisvander, the key store bridge.

#include <jni.h>

#include "bridge/diagnostics.h"
#include "bridge/jni_scope.h"
#include "keystore/read.h"

namespace {

// Java's own line: its modified UTF-8 as it is, no prefix. A null string prints nothing.
void printString(JNIEnv* env, jstring textString) {
    JavaChars text(env, textString);
    if (!text) {
        return;
    }
    printLine(text.c_str());
}

}  // namespace

// TODO(brisvander): the read side and the write side fill in the bodies that answer their
// neutral result below; until then they open no store.

extern "C" JNIEXPORT void JNICALL
Java_quorvant_jce_provider_ms_Brisvander_printString(JNIEnv* env, jclass, jstring text) {
    neutralOnThrow([&] { printString(env, text); });
}

extern "C" JNIEXPORT jint JNICALL Java_quorvant_jce_provider_ms_Brisvander_size(JNIEnv*, jclass) {
    return neutralOnThrow<jint>([] { return countEntries(); });
}

extern "C" JNIEXPORT jobjectArray JNICALL Java_quorvant_jce_provider_ms_Brisvander_aliases(JNIEnv*,
                                                                                           jclass) {
    return nullptr;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_quorvant_jce_provider_ms_Brisvander_containsAlias(JNIEnv*, jclass, jstring) {
    return JNI_FALSE;
}

extern "C" JNIEXPORT jstring JNICALL
Java_quorvant_jce_provider_ms_Brisvander_getCertificateAlias(JNIEnv*, jclass, jbyteArray) {
    return nullptr;
}

extern "C" JNIEXPORT jbyteArray JNICALL
Java_quorvant_jce_provider_ms_Brisvander_getCertificate(JNIEnv*, jclass, jstring) {
    return nullptr;
}

extern "C" JNIEXPORT jobjectArray JNICALL
Java_quorvant_jce_provider_ms_Brisvander_getCertificateChain(JNIEnv*, jclass, jstring) {
    return nullptr;
}

extern "C" JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_Brisvander_isKeyEntry(JNIEnv*,
                                                                                          jclass,
                                                                                          jstring) {
    return JNI_FALSE;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_quorvant_jce_provider_ms_Brisvander_isCertificateEntry(JNIEnv*, jclass, jstring) {
    return JNI_FALSE;
}

// The key of an entry never crosses the boundary: signing and decryption reach it by alias.
extern "C" JNIEXPORT jobject JNICALL Java_quorvant_jce_provider_ms_Brisvander_getKey(JNIEnv*,
                                                                                     jclass,
                                                                                     jobject,
                                                                                     jobject) {
    return nullptr;
}

extern "C" JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_Brisvander_setKeyEntry(
        JNIEnv*, jclass, jobjectArray, jobject, jobjectArray) {
    return JNI_FALSE;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_quorvant_jce_provider_ms_Brisvander_setCertificateEntry(JNIEnv*, jclass, jbyteArray) {
    return JNI_FALSE;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_quorvant_jce_provider_ms_Brisvander_deleteEntry(JNIEnv*, jclass, jstring) {
    return JNI_FALSE;
}
