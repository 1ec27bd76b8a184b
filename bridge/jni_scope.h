// Holders for the Java strings and arrays a native method reads, and the few ways it builds
// Java results. Every Get has its Release on every path; byte arrays go back with mode 0.
#pragma once

#include <string>
#include <vector>

#include <jni.h>

#include "bridge/text.h"
#include "platform/api.h"

// A Java byte[]'s elements, given back with mode 0 on every path, also when only read.
// A null array, or elements the VM cannot give, leave the holder empty.
class JavaBytes {
public:
    JavaBytes(JNIEnv* env, jbyteArray array)
        : env_(env),
          array_(array),
          elements_(array ? env->GetByteArrayElements(array, nullptr) : nullptr),
          length_(elements_ ? env->GetArrayLength(array) : 0) {}
    ~JavaBytes() { reset(); }
    JavaBytes(const JavaBytes&) = delete;
    JavaBytes& operator=(const JavaBytes&) = delete;
    explicit operator bool() const { return elements_ != nullptr; }
    const BYTE* data() const { return reinterpret_cast<const BYTE*>(elements_); }
    DWORD size() const { return static_cast<DWORD>(length_); }
    void reset() {
        if (elements_ != nullptr) {
            env_->ReleaseByteArrayElements(array_, elements_, 0);
            elements_ = nullptr;
        }
    }

private:
    JNIEnv* env_;
    jbyteArray array_;
    jbyte* elements_;
    jsize length_;
};

// A Java String's modified UTF-8 characters, given back as soon as reset() or the end of scope.
class JavaChars {
public:
    JavaChars(JNIEnv* env, jstring text)
        : env_(env), text_(text), chars_(text ? env->GetStringUTFChars(text, nullptr) : nullptr) {}
    ~JavaChars() { reset(); }
    JavaChars(const JavaChars&) = delete;
    JavaChars& operator=(const JavaChars&) = delete;
    explicit operator bool() const { return chars_ != nullptr; }
    const char* c_str() const { return chars_; }
    void reset() {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(text_, chars_);
            chars_ = nullptr;
        }
    }

private:
    JNIEnv* env_;
    jstring text_;
    const char* chars_;
};

// A local reference the native method made itself, deleted when the holder goes, so that a
// walk over a long Object[] stays within the VM's local reference capacity. A null reference
// leaves the holder empty.
class LocalRef {
public:
    LocalRef(JNIEnv* env, jobject reference) : env_(env), reference_(reference) {}
    ~LocalRef() { reset(); }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    explicit operator bool() const { return reference_ != nullptr; }
    jobject get() const { return reference_; }
    void reset() {
        if (reference_ != nullptr) {
            env_->DeleteLocalRef(reference_);
            reference_ = nullptr;
        }
    }

private:
    JNIEnv* env_;
    jobject reference_;
};

// byteArrayAt answers element `index` of `array` as a new local reference when it is a byte[].
// An element of any other type, which the VM's array functions must never see, answers null,
// as a null element does, its reference already deleted. `index` must be in range. The caller
// deletes the answer.
inline jbyteArray byteArrayAt(JNIEnv* env, jobjectArray array, jsize index) {
    const jobject element = env->GetObjectArrayElement(array, index);
    if (element == nullptr) {
        return nullptr;
    }
    const LocalRef bytesClass(env, env->FindClass("[B"));
    if (!bytesClass || !env->IsInstanceOf(element, static_cast<jclass>(bytesClass.get()))) {
        env->DeleteLocalRef(element);
        return nullptr;
    }
    return static_cast<jbyteArray>(element);
}

// The bytes of element `index` of a Java Object[], read as JavaBytes reads a byte[]: a null
// element or one that is not a byte[] leaves the holder empty. The elements go back before the
// element's local reference is deleted.
class ElementBytes {
public:
    ElementBytes(JNIEnv* env, jobjectArray array, jsize index)
        : element_(env, byteArrayAt(env, array, index)),
          bytes_(env, static_cast<jbyteArray>(element_.get())) {}
    ElementBytes(const ElementBytes&) = delete;
    ElementBytes& operator=(const ElementBytes&) = delete;
    explicit operator bool() const { return static_cast<bool>(bytes_); }
    const BYTE* data() const { return bytes_.data(); }
    DWORD size() const { return bytes_.size(); }
    void reset() {
        bytes_.reset();
        element_.reset();
    }

private:
    LocalRef element_;  // declared first, so destroyed after bytes_
    JavaBytes bytes_;
};

// toJavaBytes copies `length` bytes into a new Java byte[]. Returns null if the VM cannot
// make the array.
inline jbyteArray toJavaBytes(JNIEnv* env, const BYTE* bytes, DWORD length) {
    jbyteArray array = env->NewByteArray(static_cast<jsize>(length));
    if (array != nullptr && length > 0) {
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(length),
                                reinterpret_cast<const jbyte*>(bytes));
    }
    return array;
}

inline jbyteArray toJavaBytes(JNIEnv* env, const std::vector<BYTE>& bytes) {
    return toJavaBytes(env, bytes.data(), static_cast<DWORD>(bytes.size()));
}

// toJavaString makes a Java String of platform (ANSI) text, through its UTF-16 form, so that
// NewStringUTF only ever sees valid modified UTF-8. Returns null if the VM cannot make it.
inline jstring toJavaString(JNIEnv* env, const char* ansiText) {
    return env->NewStringUTF(toJavaText(ansiText).c_str());
}

// toJavaStringArray makes a String[] of platform (ANSI) texts. Returns null if the VM cannot
// make the array or an element. Each element's local reference goes as soon as it is stored,
// so a long list stays within the VM's local reference capacity.
inline jobjectArray toJavaStringArray(JNIEnv* env, const std::vector<std::string>& texts) {
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) {
        return nullptr;
    }
    jobjectArray array =
            env->NewObjectArray(static_cast<jsize>(texts.size()), stringClass, nullptr);
    for (size_t i = 0; array != nullptr && i < texts.size(); ++i) {
        jstring element = toJavaString(env, texts[i].c_str());
        if (element == nullptr) {
            return nullptr;
        }
        env->SetObjectArrayElement(array, static_cast<jsize>(i), element);
        env->DeleteLocalRef(element);
    }
    return array;
}

// toJavaByteArrays makes a byte[][] of `length` elements, the first ones from `elements` and
// any past them null. Returns null if the VM cannot make the array or an element.
inline jobjectArray toJavaByteArrays(JNIEnv* env, const std::vector<std::vector<BYTE>>& elements,
                                     size_t length) {
    jclass bytesClass = env->FindClass("[B");
    if (bytesClass == nullptr) {
        return nullptr;
    }
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(length), bytesClass, nullptr);
    for (size_t i = 0; array != nullptr && i < elements.size() && i < length; ++i) {
        jbyteArray element = toJavaBytes(env, elements[i]);
        if (element == nullptr) {
            return nullptr;
        }
        env->SetObjectArrayElement(array, static_cast<jsize>(i), element);
        env->DeleteLocalRef(element);
    }
    return array;
}

// neutralOnThrow runs a native method's body and answers the neutral result of its type if a
// C++ exception (in practice std::bad_alloc) escapes, so that none ever reaches the VM.
template <typename Result, typename Body>
Result neutralOnThrow(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return Result{};
    }
}

template <typename Body>
void neutralOnThrow(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}
