// The natives of quorvant.jce.provider.ms.Brisvander, the key store bridge.

#include <memory>
#include <string>
#include <vector>

#include <jni.h>

#include "bridge/diagnostics.h"
#include "bridge/jni_scope.h"
#include "keystore/read.h"
#include "keystore/resolve.h"
#include "keystore/write.h"

namespace {

// Java's own line: its modified UTF-8 as it is, no prefix. A null string prints nothing.
void printString(JNIEnv* env, jstring textString) {
    JavaChars text(env, textString);
    if (!text) {
        return;
    }
    printLine(text.c_str());
}

jobjectArray aliases(JNIEnv* env) {
    const std::vector<std::string> found = listAliases();
    if (found.empty()) {
        return nullptr;  // no entries: null, not an empty array
    }
    return toJavaStringArray(env, found);
}

jboolean containsAlias(JNIEnv* env, jstring aliasText) {
    JavaChars alias(env, aliasText);
    if (!alias) {
        return JNI_FALSE;
    }
    return containsEntryAlias(alias.c_str()) ? JNI_TRUE : JNI_FALSE;
}

jstring getCertificateAlias(JNIEnv* env, jbyteArray encodedArray) {
    JavaBytes encoded(env, encodedArray);
    if (!encoded || encoded.size() == 0) {
        return nullptr;
    }
    std::string alias;
    const bool found = findCertificateAlias(encoded.data(), encoded.size(), &alias);
    encoded.reset();
    return found ? toJavaString(env, alias.c_str()) : nullptr;
}

// Resolves `aliasText` in `scope` into an owned copy of the certificate, or an empty holder.
std::unique_ptr<BYTE[]> resolveJavaAlias(JNIEnv* env, jstring aliasText, EntryScope scope,
                                         DWORD* outLength) {
    JavaChars alias(env, aliasText);
    if (!alias) {
        return nullptr;
    }
    BYTE* rawBytes = nullptr;
    *outLength = 0;
    resolveAlias(alias.c_str(), &rawBytes, outLength, scope);
    return std::unique_ptr<BYTE[]>(rawBytes);
}

jbyteArray getCertificate(JNIEnv* env, jstring aliasText) {
    DWORD length = 0;
    const std::unique_ptr<BYTE[]> encoded = resolveJavaAlias(env, aliasText, AllEntries, &length);
    return encoded ? toJavaBytes(env, encoded.get(), length) : nullptr;
}

jobjectArray getCertificateChain(JNIEnv* env, jstring aliasText) {
    DWORD length = 0;
    std::unique_ptr<BYTE[]> encoded = resolveJavaAlias(env, aliasText, KeyEntries, &length);
    if (!encoded) {
        return nullptr;
    }
    std::vector<std::vector<BYTE>> chain;
    if (!buildCertificateChain(encoded.get(), length, &chain)) {
        return nullptr;
    }
    encoded.reset();
    return toJavaByteArrays(env, chain, chain.size());
}

jboolean isEntryIn(JNIEnv* env, jstring aliasText, EntryScope scope) {
    DWORD length = 0;
    return resolveJavaAlias(env, aliasText, scope, &length) ? JNI_TRUE : JNI_FALSE;
}

// The second argument, whatever it holds, is never read.
jboolean setKeyEntry(JNIEnv* env, jobjectArray crtKeyInfo, jobjectArray chain) {
    return installKeyEntry(env, crtKeyInfo, chain) ? JNI_TRUE : JNI_FALSE;
}

jboolean setCertificateEntry(JNIEnv* env, jbyteArray encodedArray) {
    JavaBytes encoded(env, encodedArray);
    if (!encoded) {
        return JNI_FALSE;
    }
    return addCertificateEntry(encoded.data(), encoded.size()) ? JNI_TRUE : JNI_FALSE;
}

jboolean deleteEntry(JNIEnv* env, jstring aliasText) {
    JavaChars alias(env, aliasText);
    if (!alias) {
        return JNI_FALSE;
    }
    return deleteEntryByAlias(alias.c_str()) ? JNI_TRUE : JNI_FALSE;
}

}  // namespace

extern "C" JNIEXPORT void JNICALL
Java_quorvant_jce_provider_ms_Brisvander_printString(JNIEnv* env, jclass, jstring text) {
    neutralOnThrow([&] { printString(env, text); });
}

extern "C" JNIEXPORT jint JNICALL Java_quorvant_jce_provider_ms_Brisvander_size(JNIEnv*, jclass) {
    return neutralOnThrow<jint>([] { return countEntries(); });
}

extern "C" JNIEXPORT jobjectArray JNICALL
Java_quorvant_jce_provider_ms_Brisvander_aliases(JNIEnv* env, jclass) {
    return neutralOnThrow<jobjectArray>([&] { return aliases(env); });
}

extern "C" JNIEXPORT jboolean JNICALL
Java_quorvant_jce_provider_ms_Brisvander_containsAlias(JNIEnv* env, jclass, jstring alias) {
    return neutralOnThrow<jboolean>([&] { return containsAlias(env, alias); });
}

extern "C" JNIEXPORT jstring JNICALL Java_quorvant_jce_provider_ms_Brisvander_getCertificateAlias(
        JNIEnv* env, jclass, jbyteArray encoded) {
    return neutralOnThrow<jstring>([&] { return getCertificateAlias(env, encoded); });
}

extern "C" JNIEXPORT jbyteArray JNICALL
Java_quorvant_jce_provider_ms_Brisvander_getCertificate(JNIEnv* env, jclass, jstring alias) {
    return neutralOnThrow<jbyteArray>([&] { return getCertificate(env, alias); });
}

extern "C" JNIEXPORT jobjectArray JNICALL
Java_quorvant_jce_provider_ms_Brisvander_getCertificateChain(JNIEnv* env, jclass, jstring alias) {
    return neutralOnThrow<jobjectArray>([&] { return getCertificateChain(env, alias); });
}

extern "C" JNIEXPORT jboolean JNICALL
Java_quorvant_jce_provider_ms_Brisvander_isKeyEntry(JNIEnv* env, jclass, jstring alias) {
    return neutralOnThrow<jboolean>([&] { return isEntryIn(env, alias, KeyEntries); });
}

extern "C" JNIEXPORT jboolean JNICALL
Java_quorvant_jce_provider_ms_Brisvander_isCertificateEntry(JNIEnv* env, jclass, jstring alias) {
    return neutralOnThrow<jboolean>([&] { return isEntryIn(env, alias, CertificateEntries); });
}

// The key of an entry never crosses the boundary: signing and decryption reach it by alias.
extern "C" JNIEXPORT jobject JNICALL Java_quorvant_jce_provider_ms_Brisvander_getKey(JNIEnv*,
                                                                                     jclass,
                                                                                     jobject,
                                                                                     jobject) {
    return nullptr;
}

extern "C" JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_Brisvander_setKeyEntry(
        JNIEnv* env, jclass, jobjectArray crtKeyInfo, jobject, jobjectArray chain) {
    return neutralOnThrow<jboolean>([&] { return setKeyEntry(env, crtKeyInfo, chain); });
}

extern "C" JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_Brisvander_setCertificateEntry(
        JNIEnv* env, jclass, jbyteArray encoded) {
    return neutralOnThrow<jboolean>([&] { return setCertificateEntry(env, encoded); });
}

extern "C" JNIEXPORT jboolean JNICALL
Java_quorvant_jce_provider_ms_Brisvander_deleteEntry(JNIEnv* env, jclass, jstring alias) {
    return neutralOnThrow<jboolean>([&] { return deleteEntry(env, alias); });
}
