// A test-only JNI library for the JUnit suite: drives reportError with a chosen last error, and
// sets up store content through the same emulation the module uses (they share its files).

#include <jni.h>

#include "bridge/diagnostics.h"
#include "bridge/jni_scope.h"
#include "platform/api.h"
#include "platform/handles.h"

extern "C" JNIEXPORT void JNICALL Java_quorvant_jce_provider_ms_DiagnosticsProbe_report(
        JNIEnv* env, jclass, jstring messageText, jint lastError, jboolean withSystemMessage) {
    JavaChars message(env, messageText);
    if (!message) {
        return;
    }
    SetLastError(static_cast<DWORD>(lastError));
    reportError(message.c_str(), withSystemMessage ? 1 : 0);
}

// Puts a certificate into one of the current user's stores, for tests that need entries before
// the write side exists to make them.
extern "C" JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_DiagnosticsProbe_addCertificate(
        JNIEnv* env, jclass, jstring storeText, jbyteArray encodedArray) {
    JavaChars storeName(env, storeText);
    JavaBytes encoded(env, encodedArray);
    if (!storeName || !encoded) {
        return JNI_FALSE;
    }
    StoreHandle store(CertOpenSystemStoreA(0, storeName.c_str()));
    CertContext cert(
            CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(), encoded.size()));
    return store && cert &&
                           CertAddCertificateContextToStore(store.get(), cert.get(),
                                                            CERT_STORE_ADD_REPLACE_EXISTING,
                                                            nullptr)
                   ? JNI_TRUE
                   : JNI_FALSE;
}
