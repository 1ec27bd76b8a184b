// The fake JNIEnv itself: a scenario is only as good as the books it checks.

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/jnihost/fake_jni.h"

namespace {

TEST(ModifiedUtf8, AcceptsOnlyTheJvmForm) {
    const std::pair<const char*, bool> cases[] = {
            {"", true},
            {"CN=Alice, O=Example", true},
            {"\xC0\x80", true},                  // NUL, the one two-byte form below U+0080
            {"Caf\xC3\xA9", true},               // U+00E9
            {"\xE2\x82\xAC", true},              // U+20AC
            {"\xED\xA0\xBD\xED\xB8\x80", true},  // U+1F600 as two surrogates
            {"Caf\xE9", false},                  // Latin-1, as ANSI text would be
            {"\xF0\x9F\x98\x80", false},         // standard UTF-8 four-byte form
            {"\xC1\x81", false},                 // 'A' in two bytes
            {"\xE0\x81\x81", false},             // 'A' in three bytes
            {"\x80", false},                     // stray continuation byte
            {"\xC3", false},                     // cut short
            {"\xE2\x82", false},                 // cut short
    };
    for (const auto& [text, valid] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        EXPECT_EQ(valid, isModifiedUtf8(text));
    }
}

TEST(FakeJni, KeptRulesLeaveCleanBooksAndWriteBack) {
    FakeJni jni;
    JNIEnv* env = jni.env();
    jbyteArray array = jni.newByteArray({1, 2, 3});
    jbyte* elements = env->GetByteArrayElements(array, nullptr);
    ASSERT_EQ(3, env->GetArrayLength(array));
    elements[0] = 9;  // reaches the array only on release, mode 0
    EXPECT_EQ((std::vector<unsigned char>{1, 2, 3}), jni.bytesOf(array));
    env->ReleaseByteArrayElements(array, elements, 0);
    EXPECT_EQ((std::vector<unsigned char>{9, 2, 3}), jni.bytesOf(array));

    jstring text = jni.newString("CN=A,05");
    const char* chars = env->GetStringUTFChars(text, nullptr);
    EXPECT_STREQ("CN=A,05", chars);
    env->ReleaseStringUTFChars(text, chars);

    jobjectArray result = env->NewObjectArray(2, env->FindClass("java/lang/String"), nullptr);
    env->SetObjectArrayElement(result, 1, env->NewStringUTF("x"));
    jbyteArray bytes = env->NewByteArray(2);
    const jbyte two[] = {7, 8};
    env->SetByteArrayRegion(bytes, 0, 2, two);
    EXPECT_EQ("java/lang/String", jni.elementClassOf(result));
    EXPECT_EQ(nullptr, jni.elementsOf(result)[0]);
    EXPECT_EQ("x", jni.textOf(static_cast<jstring>(jni.elementsOf(result)[1])));
    EXPECT_EQ((std::vector<unsigned char>{7, 8}), jni.bytesOf(bytes));
    EXPECT_EQ(std::vector<std::string>(), jni.bookProblems());
}

// Each case breaks one rule through the table, as a faulty native method would.
struct Misuse {
    const char* name;
    std::function<void(FakeJni&, JNIEnv*)> act;
    const char* problem;  // a part of the problem the books must show
};

const Misuse kMisuses[] = {
        {"string kept",
         [](FakeJni& jni, JNIEnv* env) { env->GetStringUTFChars(jni.newString("a"), nullptr); },
         "\"a\" was never given back"},
        {"bytes kept",
         [](FakeJni& jni, JNIEnv* env) {
             env->GetByteArrayElements(jni.newByteArray({1}), nullptr);
         },
         "byte[1] were never given back"},
        {"bytes given back without copying",
         [](FakeJni& jni, JNIEnv* env) {
             jbyteArray array = jni.newByteArray({1});
             env->ReleaseByteArrayElements(array, env->GetByteArrayElements(array, nullptr),
                                           JNI_ABORT);
         },
         "mode 2, not 0"},
        {"bytes given back twice",
         [](FakeJni& jni, JNIEnv* env) {
             jbyteArray array = jni.newByteArray({1});
             jbyte* elements = env->GetByteArrayElements(array, nullptr);
             env->ReleaseByteArrayElements(array, elements, 0);
             env->ReleaseByteArrayElements(array, elements, 0);
         },
         "given back twice"},
        {"characters given back to another string",
         [](FakeJni& jni, JNIEnv* env) {
             const char* chars = env->GetStringUTFChars(jni.newString("a"), nullptr);
             env->ReleaseStringUTFChars(jni.newString("a"), chars);
         },
         "another string"},
        {"ANSI text to NewStringUTF",
         [](FakeJni&, JNIEnv* env) { env->NewStringUTF("CN=Caf\xE9"); },
         "not modified UTF-8: 43 4E 3D 43 61 66 E9"},
        {"a class the library never needs",
         [](FakeJni&, JNIEnv* env) { env->FindClass("java/lang/Object"); },
         "no class java/lang/Object"},
        {"a byte[] stored into a String[]",
         [](FakeJni&, JNIEnv* env) {
             jobjectArray strings =
                     env->NewObjectArray(1, env->FindClass("java/lang/String"), nullptr);
             env->SetObjectArrayElement(strings, 0, env->NewByteArray(1));
         },
         "SetObjectArrayElement: a reference of the wrong kind"},
        {"an initial element",
         [](FakeJni&, JNIEnv* env) {
             env->NewObjectArray(1, env->FindClass("[B"), env->NewByteArray(1));
         },
         "initial element other than null"},
        {"a region past the end",
         [](FakeJni&, JNIEnv* env) {
             const jbyte three[] = {1, 2, 3};
             env->SetByteArrayRegion(env->NewByteArray(2), 0, 3, three);
         },
         "region 0+3 outside a byte[2]"},
        {"an element past the end",
         [](FakeJni& jni, JNIEnv* env) {
             env->GetObjectArrayElement(jni.newObjectArray("[B", {nullptr}), 1);
         },
         "index 1 out of range"},
        {"a reference of another VM",
         [](FakeJni&, JNIEnv* env) {
             FakeJni other;
             env->GetArrayLength(other.newByteArray({1}));
         },
         "a reference this VM never made"},
};

TEST(FakeJni, BooksShowEachBrokenRule) {
    for (const Misuse& misuse : kMisuses) {
        SCOPED_TRACE(misuse.name);
        FakeJni jni;
        misuse.act(jni, jni.env());
        std::string problems;
        for (const std::string& problem : jni.bookProblems()) {
            problems += problem + "\n";
        }
        EXPECT_NE(std::string::npos, problems.find(misuse.problem)) << problems;
    }
}

// One forbidden call of each shape: no arguments, plain arguments, variadic.
TEST(FakeJniDeathTest, ForbiddenCallEndsTheRunNamingIt) {
    FakeJni jni;
    JNIEnv* env = jni.env();
    EXPECT_DEATH(env->ExceptionCheck(), "the library called ExceptionCheck,");
    EXPECT_DEATH(env->NewString(nullptr, 0), "the library called NewString,");
    // Through the table: JNIEnv's own CallStaticVoidMethod forwards to the V form.
    EXPECT_DEATH(env->functions->CallStaticVoidMethod(env, nullptr, nullptr, 1, 2),
                 "the library called CallStaticVoidMethod,");
}

}  // namespace
