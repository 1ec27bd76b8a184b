// Loads the library under test the way the JVM does and finds its twenty natives by name.
#pragma once

#include <memory>
#include <string>

#include <jni.h>

// The natives, typed as the Java classes declare them.
struct Natives {
    void(JNICALL* printString)(JNIEnv*, jclass, jstring);
    jint(JNICALL* size)(JNIEnv*, jclass);
    jobjectArray(JNICALL* aliases)(JNIEnv*, jclass);
    jboolean(JNICALL* containsAlias)(JNIEnv*, jclass, jstring);
    jstring(JNICALL* getCertificateAlias)(JNIEnv*, jclass, jbyteArray);
    jbyteArray(JNICALL* getCertificate)(JNIEnv*, jclass, jstring);
    jobjectArray(JNICALL* getCertificateChain)(JNIEnv*, jclass, jstring);
    jboolean(JNICALL* isKeyEntry)(JNIEnv*, jclass, jstring);
    jboolean(JNICALL* isCertificateEntry)(JNIEnv*, jclass, jstring);
    jobject(JNICALL* getKey)(JNIEnv*, jclass, jstring, jcharArray);
    jboolean(JNICALL* setKeyEntry)(JNIEnv*, jclass, jobjectArray, jcharArray, jobjectArray);
    jboolean(JNICALL* setCertificateEntry)(JNIEnv*, jclass, jbyteArray);
    jboolean(JNICALL* deleteEntry)(JNIEnv*, jclass, jstring);
    jobjectArray(JNICALL* getAllCertificates)(JNIEnv*, jclass, jstring);
    jbyteArray(JNICALL* sign)(JNIEnv*, jclass, jobjectArray, jbyteArray, jstring, jbyteArray);
    jboolean(JNICALL* verify)(JNIEnv*, jclass, jbyteArray, jstring, jbyteArray, jbyteArray);
    jbyteArray(JNICALL* encrypt)(JNIEnv*, jclass, jbyteArray, jbyteArray, jboolean);
    jbyteArray(JNICALL* decrypt)(JNIEnv*, jclass, jobjectArray, jbyteArray, jbyteArray, jboolean);
    jint(JNICALL* getKeyLength)(JNIEnv*, jclass, jobjectArray, jbyteArray, jboolean);
    jint(JNICALL* getBlockSize)(JNIEnv*, jclass, jobjectArray, jbyteArray, jboolean);
};

class NativeModule {
public:
    // load opens the module at `path` (dlopen on Linux, LoadLibraryA on Windows) and finds
    // every native under the plain JNI name, as the 64-bit and Linux VMs look them up. Returns
    // null with `outError` naming the module's failure or every missing name.
    static std::unique_ptr<NativeModule> load(const std::string& path, std::string* outError);
    ~NativeModule();
    NativeModule(const NativeModule&) = delete;
    NativeModule& operator=(const NativeModule&) = delete;

    const Natives& natives() const { return natives_; }

private:
    explicit NativeModule(void* handle) : handle_(handle) {}

    void* handle_;
    Natives natives_{};
};
