// setKeyEntry with CRT key info and a certificate chain from Java, then the read side over the
// stores it filled. Input: two Object[] as fuzz::takeObjectArray reads them, the CRT key info
// first, then the chain.

#include <cstdint>
#include <string>
#include <vector>

#include <jni.h>

#include "bridge/text.h"
#include "keystore/alias.h"
#include "platform/api.h"
#include "platform/handles.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/natives.h"

namespace {

// The read side answers for every entry it lists; at most this many are asked after.
constexpr size_t kAliasesAsked = 4;

void readEntries(FakeJni& jni) {
    JNIEnv* env = jni.env();
    Java_quorvant_jce_provider_ms_Brisvander_size(env, nullptr);
    jobjectArray aliases = Java_quorvant_jce_provider_ms_Brisvander_aliases(env, nullptr);
    fuzz::requireCleanBooks(jni, "aliases");
    if (aliases == nullptr) {
        return;
    }
    const std::vector<jobject> listed = jni.elementsOf(aliases);
    for (size_t i = 0; i < listed.size() && i < kAliasesAsked; ++i) {
        jstring alias = jni.newString(jni.textOf(static_cast<jstring>(listed[i])));
        fuzz::require(Java_quorvant_jce_provider_ms_Brisvander_containsAlias(env, nullptr, alias),
                      "containsAlias does not find a listed alias");
        Java_quorvant_jce_provider_ms_Brisvander_isKeyEntry(env, nullptr, alias);
        Java_quorvant_jce_provider_ms_Brisvander_getCertificate(env, nullptr, alias);
        Java_quorvant_jce_provider_ms_Brisvander_getCertificateChain(env, nullptr, alias);
        fuzz::requireCleanBooks(jni, "the natives that take an alias");
    }
}

// An installed entry is a key entry under its certificate's alias, and its chain starts with
// that certificate.
void checkInstalledEntry(FakeJni& jni, jobjectArray chain) {
    JNIEnv* env = jni.env();
    const std::vector<jobject> links = jni.elementsOf(chain);
    fuzz::require(!links.empty() && links[0] != nullptr,
                  "an entry installed without a certificate");
    const std::vector<unsigned char> first = jni.bytesOf(static_cast<jbyteArray>(links[0]));
    CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, first.data(),
                                                  static_cast<DWORD>(first.size())));
    fuzz::require(static_cast<bool>(cert), "an entry installed from bytes that do not decode");
    jstring alias = jni.newString(toJavaText(buildEntryAlias(cert.get()).c_str()));
    fuzz::require(Java_quorvant_jce_provider_ms_Brisvander_isKeyEntry(env, nullptr, alias),
                  "the installed entry is no key entry under its alias");
    jobjectArray got =
            Java_quorvant_jce_provider_ms_Brisvander_getCertificateChain(env, nullptr, alias);
    fuzz::require(got != nullptr, "the installed entry has no chain");
    const std::vector<jobject> gotLinks = jni.elementsOf(got);
    const std::vector<BYTE> encoding(cert.get()->pbCertEncoded,
                                     cert.get()->pbCertEncoded + cert.get()->cbCertEncoded);
    fuzz::require(
            !gotLinks.empty() && jni.bytesOf(static_cast<jbyteArray>(gotLinks[0])) == encoding,
            "the installed entry's chain does not start with its certificate");
    fuzz::requireCleanBooks(jni, "the read side after setKeyEntry");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startFuzzHome();
    fuzz::silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        const fuzz::HandleBalance balance;
        FakeJni jni;
        fuzz::InputReader reader(data, size);
        jobjectArray crtKeyInfo = fuzz::takeObjectArray(jni, reader);
        jobjectArray chain = fuzz::takeObjectArray(jni, reader);
        const bool installed = Java_quorvant_jce_provider_ms_Brisvander_setKeyEntry(
                                       jni.env(), nullptr, crtKeyInfo, nullptr, chain) == JNI_TRUE;
        fuzz::requireCleanBooks(jni, "setKeyEntry");
        if (installed) {
            checkInstalledEntry(jni, chain);
        }
        readEntries(jni);
    }
    fuzz::removeTree(fuzz::storeFolder(""));
    fuzz::removeTree(fuzz::containerFolder());
    return 0;
}
