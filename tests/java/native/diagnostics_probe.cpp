// A test-only JNI library that drives reportError under a real JVM, since no native of the
// module reports through it with a chosen last error.

#include <jni.h>

#include "bridge/diagnostics.h"
#include "bridge/jni_scope.h"
#include "platform/api.h"

extern "C" JNIEXPORT void JNICALL Java_quorvant_jce_provider_ms_DiagnosticsProbe_report(
        JNIEnv* env, jclass, jstring messageText, jint lastError, jboolean withSystemMessage) {
    JavaChars message(env, messageText);
    if (!message) {
        return;
    }
    SetLastError(static_cast<DWORD>(lastError));
    reportError(message.c_str(), withSystemMessage ? 1 : 0);
}
