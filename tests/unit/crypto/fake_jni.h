// A JNIEnv for unit tests of the natives' bodies: only the JNI functions the library may call
// (any other one ends the test run), with books on every buffer lent out and given back.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jni.h>

class FakeJni {
public:
    FakeJni() {
        // Every slot first ends the run, so that a call outside the allowed list is seen.
        void** slots = reinterpret_cast<void**>(&table_);
        for (size_t i = 0; i < sizeof(table_) / sizeof(void*); ++i) {
            slots[i] = reinterpret_cast<void*>(&unexpectedCall);
        }
        table_.GetArrayLength = getArrayLength;
        table_.GetObjectArrayElement = getObjectArrayElement;
        table_.GetByteArrayElements = getByteArrayElements;
        table_.ReleaseByteArrayElements = releaseByteArrayElements;
        table_.GetStringUTFChars = getStringUtfChars;
        table_.ReleaseStringUTFChars = releaseStringUtfChars;
        table_.NewByteArray = newByteArray;
        table_.SetByteArrayRegion = setByteArrayRegion;
        table_.DeleteLocalRef = deleteLocalRef;
        table_.FindClass = findClass;
        table_.IsInstanceOf = isInstanceOf;
        block_.env.functions = &table_;
        block_.owner = this;
    }
    FakeJni(const FakeJni&) = delete;
    FakeJni& operator=(const FakeJni&) = delete;

    JNIEnv* env() { return &block_.env; }

    jbyteArray bytes(const std::vector<unsigned char>& content) {
        Object* object = adopt(Kind::Bytes);
        object->bytes.assign(content.begin(), content.end());
        return reinterpret_cast<jbyteArray>(object);
    }
    jbyteArray bytes(const std::string& content) {
        return bytes(std::vector<unsigned char>(content.begin(), content.end()));
    }
    jstring string(const std::string& modifiedUtf8) {
        Object* object = adopt(Kind::String);
        object->text = modifiedUtf8;
        return reinterpret_cast<jstring>(object);
    }
    jobjectArray objects(const std::vector<jobject>& elements) {
        Object* object = adopt(Kind::Objects);
        object->elements = elements;
        return reinterpret_cast<jobjectArray>(object);
    }

    // The VM cannot give the elements of `array` (GetByteArrayElements answers null).
    void refuseElements(jbyteArray array) { of(array)->refused = true; }

    std::vector<unsigned char> contentOf(jbyteArray array) {
        if (array == nullptr) {
            return {};
        }
        const Object* object = of(array);
        return std::vector<unsigned char>(object->bytes.begin(), object->bytes.end());
    }

    // Every byte array whose elements were given back, in the order of their release.
    const std::vector<jbyteArray>& releases() const { return releases_; }

    // Broken rules seen so far, and buffers not given back; empty when the books are clean.
    std::vector<std::string> bookProblems() const {
        std::vector<std::string> problems = problems_;
        if (!loans_.empty()) {
            problems.push_back(std::to_string(loans_.size()) + " buffers never given back");
        }
        return problems;
    }

private:
    enum class Kind { Bytes, String, Objects };
    struct Object {
        Kind kind;
        std::vector<jbyte> bytes;
        std::string text;
        std::vector<jobject> elements;
        bool refused = false;
    };
    struct Loan {
        Object* owner;
        std::unique_ptr<char[]> buffer;
    };
    struct Block {
        JNIEnv env;
        FakeJni* owner;
    };

    static void unexpectedCall() {
        std::fputs("FakeJni: a JNI function outside the allowed list was called\n", stderr);
        std::abort();
    }
    static FakeJni& self(JNIEnv* env) { return *reinterpret_cast<Block*>(env)->owner; }
    static Object* of(void* reference) { return static_cast<Object*>(reference); }

    Object* adopt(Kind kind) {
        objects_.push_back(std::make_unique<Object>());
        objects_.back()->kind = kind;
        return objects_.back().get();
    }
    Object* find(void* reference, Kind kind, const char* call) {
        for (const auto& object : objects_) {
            if (object.get() == reference) {
                if (object->kind != kind) {
                    problems_.push_back(std::string(call) + " on an object of another kind");
                    return nullptr;
                }
                return object.get();
            }
        }
        problems_.push_back(std::string(call) + (reference ? " on a stranger" : " on null"));
        return nullptr;
    }
    char* lend(Object* owner, const void* content, size_t length) {
        // Never null, not even for an empty array, as the VM lends it.
        loans_.push_back({owner, std::make_unique<char[]>(length + 1)});
        if (length > 0) {
            std::memcpy(loans_.back().buffer.get(), content, length);
        }
        return loans_.back().buffer.get();
    }
    bool giveBack(void* buffer, const char* call, Object** outOwner) {
        for (auto loan = loans_.begin(); loan != loans_.end(); ++loan) {
            if (loan->buffer.get() == buffer) {
                *outOwner = loan->owner;
                if (loan->owner->kind == Kind::Bytes && !loan->owner->bytes.empty()) {
                    std::memcpy(loan->owner->bytes.data(), buffer, loan->owner->bytes.size());
                }
                loans_.erase(loan);
                return true;
            }
        }
        problems_.push_back(std::string(call) + " of a buffer never lent");
        return false;
    }

    static jsize JNICALL getArrayLength(JNIEnv* env, jarray array) {
        FakeJni& jni = self(env);
        for (const auto& object : jni.objects_) {
            if (object.get() == of(array) && object->kind != Kind::String) {
                return static_cast<jsize>(object->kind == Kind::Bytes ? object->bytes.size()
                                                                      : object->elements.size());
            }
        }
        jni.problems_.push_back("GetArrayLength on a non-array");
        return 0;
    }
    static jobject JNICALL getObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
        Object* object = self(env).find(array, Kind::Objects, "GetObjectArrayElement");
        if (object == nullptr) {
            return nullptr;
        }
        if (index < 0 || static_cast<size_t>(index) >= object->elements.size()) {
            self(env).problems_.push_back("GetObjectArrayElement past the end");
            return nullptr;
        }
        return object->elements[static_cast<size_t>(index)];
    }
    static jbyte* JNICALL getByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy) {
        Object* object = self(env).find(array, Kind::Bytes, "GetByteArrayElements");
        if (isCopy != nullptr) {
            *isCopy = JNI_TRUE;
        }
        if (object == nullptr || object->refused) {
            return nullptr;
        }
        return reinterpret_cast<jbyte*>(
                self(env).lend(object, object->bytes.data(), object->bytes.size()));
    }
    static void JNICALL releaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements,
                                                 jint mode) {
        FakeJni& jni = self(env);
        if (mode != 0) {
            jni.problems_.push_back("ReleaseByteArrayElements with mode " + std::to_string(mode));
        }
        Object* owner = nullptr;
        if (jni.giveBack(elements, "ReleaseByteArrayElements", &owner) && owner != of(array)) {
            jni.problems_.push_back("ReleaseByteArrayElements with another array");
        }
        jni.releases_.push_back(array);
    }
    static const char* JNICALL getStringUtfChars(JNIEnv* env, jstring text, jboolean* isCopy) {
        if (isCopy != nullptr) {
            *isCopy = JNI_TRUE;
        }
        Object* object = self(env).find(text, Kind::String, "GetStringUTFChars");
        return object == nullptr
                       ? nullptr
                       : self(env).lend(object, object->text.c_str(), object->text.size() + 1);
    }
    static void JNICALL releaseStringUtfChars(JNIEnv* env, jstring, const char* chars) {
        Object* owner = nullptr;
        self(env).giveBack(const_cast<char*>(chars), "ReleaseStringUTFChars", &owner);
    }
    static jbyteArray JNICALL newByteArray(JNIEnv* env, jsize length) {
        if (length < 0) {
            self(env).problems_.push_back("NewByteArray of a negative length");
            return nullptr;
        }
        return self(env).bytes(std::vector<unsigned char>(static_cast<size_t>(length)));
    }
    static void JNICALL setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                           const jbyte* bytes) {
        Object* object = self(env).find(array, Kind::Bytes, "SetByteArrayRegion");
        if (object == nullptr) {
            return;
        }
        if (start < 0 || length < 0 ||
            static_cast<size_t>(start) + static_cast<size_t>(length) > object->bytes.size()) {
            self(env).problems_.push_back("SetByteArrayRegion out of range");
            return;
        }
        if (length > 0) {
            std::memcpy(object->bytes.data() + start, bytes, static_cast<size_t>(length));
        }
    }
    static void JNICALL deleteLocalRef(JNIEnv*, jobject) {}
    // Only byte[] is ever asked for; the FakeJni itself stands for its class.
    static jclass JNICALL findClass(JNIEnv* env, const char* name) {
        if (name == nullptr || std::strcmp(name, "[B") != 0) {
            self(env).problems_.push_back(std::string("FindClass of ") + (name ? name : "null"));
            return nullptr;
        }
        return reinterpret_cast<jclass>(&self(env));
    }
    static jboolean JNICALL isInstanceOf(JNIEnv* env, jobject object, jclass type) {
        FakeJni& jni = self(env);
        if (type != reinterpret_cast<jclass>(&jni)) {
            jni.problems_.push_back("IsInstanceOf with a class FindClass never gave");
            return JNI_FALSE;
        }
        if (object == nullptr) {
            return JNI_TRUE;
        }
        for (const auto& candidate : jni.objects_) {
            if (candidate.get() == of(object)) {
                return candidate->kind == Kind::Bytes ? JNI_TRUE : JNI_FALSE;
            }
        }
        jni.problems_.push_back("IsInstanceOf on a stranger");
        return JNI_FALSE;
    }

    JNINativeInterface_ table_{};
    Block block_{};
    std::vector<std::unique_ptr<Object>> objects_;
    std::vector<Loan> loans_;
    std::vector<jbyteArray> releases_;
    std::vector<std::string> problems_;
};
