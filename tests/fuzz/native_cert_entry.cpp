// Certificate bytes from Java through setCertificateEntry and getCertificateAlias, and the alias
// that comes back through the natives that take one. Input: the certificate encoding.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <jni.h>

#include "platform/api.h"
#include "platform/handles.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/natives.h"

namespace {

// Every entry alias names its entry to the natives that take one: the alias of the one
// certificate entry finds it, and deleting by it leaves the store empty.
void checkAliasRoundTrip(FakeJni& jni, const std::string& aliasText,
                         const std::vector<BYTE>& encoding) {
    JNIEnv* env = jni.env();
    jstring alias = jni.newString(aliasText);
    fuzz::require(Java_quorvant_jce_provider_ms_Brisvander_containsAlias(env, nullptr, alias),
                  "containsAlias does not find the alias getCertificateAlias gave");
    fuzz::require(
            Java_quorvant_jce_provider_ms_Brisvander_isCertificateEntry(env, nullptr, alias) &&
                    !Java_quorvant_jce_provider_ms_Brisvander_isKeyEntry(env, nullptr, alias),
            "a certificate entry reads as another kind");
    jbyteArray certificate =
            Java_quorvant_jce_provider_ms_Brisvander_getCertificate(env, nullptr, alias);
    fuzz::require(certificate != nullptr && jni.bytesOf(certificate) == encoding,
                  "getCertificate does not give the certificate back");
    fuzz::require(Java_quorvant_jce_provider_ms_Brisvander_getCertificateChain(env, nullptr,
                                                                               alias) == nullptr,
                  "a certificate entry has a chain");
    fuzz::require(Java_quorvant_jce_provider_ms_Brisvander_size(env, nullptr) == 1,
                  "the store does not hold exactly the one entry");
    jobjectArray aliases = Java_quorvant_jce_provider_ms_Brisvander_aliases(env, nullptr);
    const std::vector<jobject> listed = aliases ? jni.elementsOf(aliases) : std::vector<jobject>();
    fuzz::require(listed.size() == 1 && jni.textOf(static_cast<jstring>(listed[0])) == aliasText,
                  "aliases does not list the entry's alias alone");
    fuzz::require(Java_quorvant_jce_provider_ms_Brisvander_deleteEntry(env, nullptr, alias),
                  "deleteEntry does not delete the entry its alias names");
    fuzz::require(!Java_quorvant_jce_provider_ms_Brisvander_containsAlias(env, nullptr, alias) &&
                          Java_quorvant_jce_provider_ms_Brisvander_size(env, nullptr) == 0,
                  "the entry is still there after its deletion");
    fuzz::requireCleanBooks(jni, "the natives that take an alias");
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
        JNIEnv* env = jni.env();
        const std::vector<BYTE> input(data, data + size);
        jbyteArray encoded = jni.newByteArray(input);
        const bool added = Java_quorvant_jce_provider_ms_Brisvander_setCertificateEntry(
                                   env, nullptr, encoded) == JNI_TRUE;
        fuzz::requireCleanBooks(jni, "setCertificateEntry");
        jstring alias =
                Java_quorvant_jce_provider_ms_Brisvander_getCertificateAlias(env, nullptr, encoded);
        fuzz::requireCleanBooks(jni, "getCertificateAlias");

        CertContext decoded(
                CertCreateCertificateContext(X509_ASN_ENCODING, data, static_cast<DWORD>(size)));
        fuzz::require(added == static_cast<bool>(decoded),
                      "setCertificateEntry added other than what decodes as a certificate");
        // getCertificateAlias compares whole encodings, so only the bytes of the certificate
        // alone find it.
        const bool whole = decoded && decoded.get()->cbCertEncoded == size;
        fuzz::require(alias == nullptr || added, "an alias for a certificate never added");
        fuzz::require(alias != nullptr || !whole,
                      "getCertificateAlias does not find the certificate just added");
        if (alias != nullptr) {
            checkAliasRoundTrip(jni, jni.textOf(alias), input);
        }
    }
    fuzz::removeTree(fuzz::storeFolder(""));
    return 0;
}
