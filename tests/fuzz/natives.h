// The natives the fuzz targets call, declared as bridge/exports_*.cpp define them (the fuzz tree
// builds no Java side, so there are no generated JNI headers to include).
#pragma once

#include <jni.h>

extern "C" {

JNIEXPORT jint JNICALL Java_quorvant_jce_provider_ms_Brisvander_size(JNIEnv* env, jclass type);
JNIEXPORT jobjectArray JNICALL Java_quorvant_jce_provider_ms_Brisvander_aliases(JNIEnv* env,
                                                                                jclass type);
JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_Brisvander_containsAlias(JNIEnv* env,
                                                                                  jclass type,
                                                                                  jstring alias);
JNIEXPORT jstring JNICALL Java_quorvant_jce_provider_ms_Brisvander_getCertificateAlias(
        JNIEnv* env, jclass type, jbyteArray encoded);
JNIEXPORT jbyteArray JNICALL Java_quorvant_jce_provider_ms_Brisvander_getCertificate(JNIEnv* env,
                                                                                     jclass type,
                                                                                     jstring alias);
JNIEXPORT jobjectArray JNICALL Java_quorvant_jce_provider_ms_Brisvander_getCertificateChain(
        JNIEnv* env, jclass type, jstring alias);
JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_Brisvander_isKeyEntry(JNIEnv* env,
                                                                               jclass type,
                                                                               jstring alias);
JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_Brisvander_isCertificateEntry(
        JNIEnv* env, jclass type, jstring alias);
JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_Brisvander_setKeyEntry(
        JNIEnv* env, jclass type, jobjectArray crtKeyInfo, jobject password, jobjectArray chain);
JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_Brisvander_setCertificateEntry(
        JNIEnv* env, jclass type, jbyteArray encoded);
JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_Brisvander_deleteEntry(JNIEnv* env,
                                                                                jclass type,
                                                                                jstring alias);
JNIEXPORT jobjectArray JNICALL Java_quorvant_jce_provider_ms_MSCertStoreJNI_getAllCertificates(
        JNIEnv* env, jclass type, jstring storeName);
JNIEXPORT jbyteArray JNICALL Java_quorvant_jce_provider_ms_MSSignatureJNI_sign(
        JNIEnv* env, jclass type, jobjectArray crtKeyInfo, jbyteArray alias, jstring digestName,
        jbyteArray data);
JNIEXPORT jboolean JNICALL Java_quorvant_jce_provider_ms_MSSignatureJNI_verify(
        JNIEnv* env, jclass type, jbyteArray publicKey, jstring digestName, jbyteArray signature,
        jbyteArray data);
JNIEXPORT jbyteArray JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_encrypt(
        JNIEnv* env, jclass type, jbyteArray publicKey, jbyteArray plainText, jboolean isFinal);
JNIEXPORT jbyteArray JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_decrypt(
        JNIEnv* env, jclass type, jobjectArray crtKeyInfo, jbyteArray alias, jbyteArray cipherText,
        jboolean isFinal);
JNIEXPORT jint JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_getKeyLength(
        JNIEnv* env, jclass type, jobjectArray crtKeyInfo, jbyteArray keyOrAlias,
        jboolean isPublic);
JNIEXPORT jint JNICALL Java_quorvant_jce_provider_ms_MSCipherRSAJNI_getBlockSize(
        JNIEnv* env, jclass type, jobjectArray crtKeyInfo, jbyteArray keyOrAlias,
        jboolean isPublic);

}  // extern "C"
