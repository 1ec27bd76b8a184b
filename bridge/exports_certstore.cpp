// The native of quorvant.jce.provider.ms.MSCertStoreJNI: export of a named system store.

#include <jni.h>

#include "bridge/jni_scope.h"
#include "keystore/read.h"

namespace {

jobjectArray getAllCertificates(JNIEnv* env, jstring storeName) {
    JavaChars name(env, storeName);
    if (!name) {
        return nullptr;
    }
    StoreExport exported;
    const bool found = exportStore(name.c_str(), &exported);
    name.reset();
    if (!found) {
        return nullptr;  // no store, or an empty one
    }
    // Certificates the second pass did not meet stay null.
    return toJavaByteArrays(env, exported.certificates, exported.count);
}

}  // namespace

extern "C" JNIEXPORT jobjectArray JNICALL
Java_quorvant_jce_provider_ms_MSCertStoreJNI_getAllCertificates(JNIEnv* env, jclass,
                                                                jstring storeName) {
    return neutralOnThrow<jobjectArray>([&] { return getAllCertificates(env, storeName); });
}
