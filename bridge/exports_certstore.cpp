// The native of quorvant.jce.provider.ms.MSCertStoreJNI: export of a named system store.

#include <jni.h>

// TODO(brisvander): the store export fills this in; until then no store is opened.
extern "C" JNIEXPORT jobjectArray JNICALL
Java_quorvant_jce_provider_ms_MSCertStoreJNI_getAllCertificates(JNIEnv*, jclass, jstring) {
    return nullptr;
}
