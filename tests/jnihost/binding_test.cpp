// The module's face: every native is found by its JNI name and answers null references with
// its neutral result, taking only what the JNI rules allow.

#include <functional>

#include <gtest/gtest.h>

#include "tests/jnihost/host.h"

namespace {

TEST(Binding, FindsAllTwentyNatives) { EXPECT_NE(nullptr, hostModule()) << loadError(); }

// Each call passes null for every reference; it tells whether the result was the neutral one.
struct NullCall {
    const char* name;
    std::function<bool(const Natives&, JNIEnv*)> isNeutral;
};

const NullCall kNullCalls[] = {
        {"printString",
         [](const Natives& n, JNIEnv* e) {
             n.printString(e, nullptr, nullptr);
             return true;
         }},
        // With empty stores, the calls without arguments have nothing to answer either.
        {"size", [](const Natives& n, JNIEnv* e) { return n.size(e, nullptr) == 0; }},
        {"aliases", [](const Natives& n, JNIEnv* e) { return n.aliases(e, nullptr) == nullptr; }},
        {"containsAlias",
         [](const Natives& n, JNIEnv* e) { return !n.containsAlias(e, nullptr, nullptr); }},
        {"getCertificateAlias",
         [](const Natives& n, JNIEnv* e) {
             return n.getCertificateAlias(e, nullptr, nullptr) == nullptr;
         }},
        {"getCertificate",
         [](const Natives& n, JNIEnv* e) {
             return n.getCertificate(e, nullptr, nullptr) == nullptr;
         }},
        {"getCertificateChain",
         [](const Natives& n, JNIEnv* e) {
             return n.getCertificateChain(e, nullptr, nullptr) == nullptr;
         }},
        {"isKeyEntry",
         [](const Natives& n, JNIEnv* e) { return !n.isKeyEntry(e, nullptr, nullptr); }},
        {"isCertificateEntry",
         [](const Natives& n, JNIEnv* e) { return !n.isCertificateEntry(e, nullptr, nullptr); }},
        {"getKey", [](const Natives& n,
                      JNIEnv* e) { return n.getKey(e, nullptr, nullptr, nullptr) == nullptr; }},
        {"setKeyEntry",
         [](const Natives& n, JNIEnv* e) {
             return !n.setKeyEntry(e, nullptr, nullptr, nullptr, nullptr);
         }},
        {"setCertificateEntry",
         [](const Natives& n, JNIEnv* e) { return !n.setCertificateEntry(e, nullptr, nullptr); }},
        {"deleteEntry",
         [](const Natives& n, JNIEnv* e) { return !n.deleteEntry(e, nullptr, nullptr); }},
        {"getAllCertificates",
         [](const Natives& n, JNIEnv* e) {
             return n.getAllCertificates(e, nullptr, nullptr) == nullptr;
         }},
        {"sign",
         [](const Natives& n, JNIEnv* e) {
             return n.sign(e, nullptr, nullptr, nullptr, nullptr, nullptr) == nullptr;
         }},
        {"verify",
         [](const Natives& n, JNIEnv* e) {
             return !n.verify(e, nullptr, nullptr, nullptr, nullptr, nullptr);
         }},
        // The boolean picks the key source or the padding step, so both values are tried.
        {"encrypt final",
         [](const Natives& n, JNIEnv* e) {
             return n.encrypt(e, nullptr, nullptr, nullptr, JNI_TRUE) == nullptr;
         }},
        {"encrypt not final",
         [](const Natives& n, JNIEnv* e) {
             return n.encrypt(e, nullptr, nullptr, nullptr, JNI_FALSE) == nullptr;
         }},
        {"decrypt final",
         [](const Natives& n, JNIEnv* e) {
             return n.decrypt(e, nullptr, nullptr, nullptr, nullptr, JNI_TRUE) == nullptr;
         }},
        {"decrypt not final",
         [](const Natives& n, JNIEnv* e) {
             return n.decrypt(e, nullptr, nullptr, nullptr, nullptr, JNI_FALSE) == nullptr;
         }},
        {"getKeyLength public",
         [](const Natives& n, JNIEnv* e) {
             return n.getKeyLength(e, nullptr, nullptr, nullptr, JNI_TRUE) == 0;
         }},
        {"getKeyLength by alias",
         [](const Natives& n, JNIEnv* e) {
             return n.getKeyLength(e, nullptr, nullptr, nullptr, JNI_FALSE) == 0;
         }},
        {"getBlockSize public",
         [](const Natives& n, JNIEnv* e) {
             return n.getBlockSize(e, nullptr, nullptr, nullptr, JNI_TRUE) == 0;
         }},
        {"getBlockSize by alias",
         [](const Natives& n, JNIEnv* e) {
             return n.getBlockSize(e, nullptr, nullptr, nullptr, JNI_FALSE) == 0;
         }},
};

using BindingTest = HostTest;

TEST_F(BindingTest, NullReferencesGiveNeutralResults) {
    for (const NullCall& call : kNullCalls) {
        SCOPED_TRACE(call.name);
        FakeJni jni;  // one per call, so that a broken rule names its call
        EXPECT_TRUE(call.isNeutral(natives(), jni.env()));
        EXPECT_TRUE(cleanBooks(jni));
    }
}

}  // namespace
