// A JNIEnv that stands in for the VM: it implements only the JNI functions the library may call,
// ends the process naming any other one, and keeps books on what the library borrowed.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include <jni.h>

class FakeJni {
public:
    FakeJni();
    ~FakeJni();
    FakeJni(const FakeJni&) = delete;
    FakeJni& operator=(const FakeJni&) = delete;

    JNIEnv* env() { return &block_.env; }

    // Objects as the VM would pass them to a native method. These bypass the function table,
    // so they are not in the books.
    jstring newString(const std::string& modifiedUtf8);
    jbyteArray newByteArray(const std::vector<unsigned char>& bytes);
    // elementClass is a class name as FindClass takes it: "[B" or "java/lang/String".
    jobjectArray newObjectArray(const std::string& elementClass,
                                const std::vector<jobject>& elements);

    // Readers of results. A reference of the wrong kind is a book problem and reads as empty.
    std::string textOf(jstring text);
    std::vector<unsigned char> bytesOf(jbyteArray array);
    std::vector<jobject> elementsOf(jobjectArray array);
    std::string elementClassOf(jobjectArray array);

    // bookProblems lists every broken rule seen so far, and every string or array still
    // borrowed: each Get has its Release, byte arrays go back with mode 0, NewStringUTF gets
    // valid modified UTF-8, references are ones this VM made and of the kind the call takes,
    // indexes are in range. Empty when the books are clean.
    std::vector<std::string> bookProblems() const;

private:
    enum class Kind { String, ByteArray, ObjectArray, Class };
    struct Object {
        Kind kind;
        std::string text;  // a string's modified UTF-8, a class's or an array element's class name
        std::vector<jbyte> bytes;
        std::vector<jobject> elements;
    };

    // The env pointer handed to the library leads back to its FakeJni through this block.
    struct Block {
        JNIEnv env;
        FakeJni* owner;
    };
    // A buffer lent to the library: its owner and, for byte arrays, the elements as lent.
    struct Loan {
        jobject owner;
        std::unique_ptr<char[]> buffer;
        size_t length;
    };

    static FakeJni& of(JNIEnv* env) { return *reinterpret_cast<Block*>(env)->owner; }
    jobject adopt(std::unique_ptr<Object> object);
    // find checks that `reference` is an object of this VM, the second form also its kind;
    // otherwise it books a problem under `call` and returns null.
    Object* find(jobject reference, const char* call);
    Object* find(jobject reference, Kind kind, const char* call);
    void addProblem(std::string problem) { problems_.push_back(std::move(problem)); }

    static jclass JNICALL findClass(JNIEnv* env, const char* name);
    static jboolean JNICALL isInstanceOf(JNIEnv* env, jobject object, jclass type);
    static jstring JNICALL newStringUtf(JNIEnv* env, const char* text);
    static const char* JNICALL getStringUtfChars(JNIEnv* env, jstring text, jboolean* isCopy);
    static void JNICALL releaseStringUtfChars(JNIEnv* env, jstring text, const char* chars);
    static jsize JNICALL getArrayLength(JNIEnv* env, jarray array);
    static void JNICALL deleteLocalRef(JNIEnv* env, jobject reference);
    static jobjectArray JNICALL newObjectArrayOf(JNIEnv* env, jsize length, jclass elementClass,
                                                 jobject initial);
    static jobject JNICALL getObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index);
    static void JNICALL setObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index,
                                              jobject value);
    static jbyteArray JNICALL newByteArrayOf(JNIEnv* env, jsize length);
    static jbyte* JNICALL getByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy);
    static void JNICALL releaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements,
                                                 jint mode);
    static void JNICALL setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                           const jbyte* bytes);

    JNINativeInterface_ table_{};
    Block block_{};
    std::vector<std::unique_ptr<Object>> objects_;
    std::unordered_set<const void*> known_;
    std::map<std::string, jclass> classes_;
    std::map<const char*, Loan> stringLoans_;
    std::map<const jbyte*, Loan> byteLoans_;
    std::vector<std::string> problems_;
};

// isModifiedUtf8 tells whether `text`, up to its terminating NUL, is the JVM's modified UTF-8:
// sequences of one to three bytes in their shortest form, NUL only as C0 80, no four-byte
// forms (characters beyond U+FFFF come as two three-byte surrogates).
bool isModifiedUtf8(const char* text);
