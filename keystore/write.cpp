// The write side of the key store: certificate entries and deletion.

#include "keystore/write.h"

#include <memory>

#include "bridge/diagnostics.h"
#include "bridge/jni_scope.h"
#include "bridge/text.h"
#include "crypto/key_blob.h"
#include "keystore/alias.h"
#include "platform/handles.h"

namespace {

// Deletes the first certificate of `storeName` whose alias matches, key entries only when
// `keyEntriesOnly`. The deletion frees the context it is given, whether it works or not.
bool deleteFirstMatch(const char* storeName, bool keyEntriesOnly, const char* alias) {
    StoreHandle store(openStore(storeName));
    if (!store) {
        return false;
    }
    CertContext cert;
    while (nextCertificate(store.get(), cert)) {
        if (cert.get()->pCertInfo == nullptr ||
            (keyEntriesOnly && !isKeyEntryCertificate(cert.get()))) {
            continue;
        }
        if (matchesJavaText(buildEntryAlias(cert.get()).c_str(), alias)) {
            return CertDeleteCertificateFromStore(cert.release()) != FALSE;
        }
    }
    return false;
}

// Messages of the steps that add a chain certificate to "CA" or "Root".
struct ChainStoreMessages {
    const char* storeNotOpen;  // without the system message
    const char* noContext;     // "Root" adds the system message, "CA" does not
    int noContextWithSystemMessage;
    const char* notAdded;  // with the system message
};

constexpr ChainStoreMessages kIntermediateMessages = {
        "Could not open intermediate CA system store. Cannot install certificate chain.",
        "Could not create certificate context for intermediate certificate in intermediate CA "
        "system store. Cannot install certificate chain.",
        0,
        "Could not install intermediate certificate in intermediate CA system store. Cannot "
        "install certificate chain.",
};

constexpr ChainStoreMessages kRootMessages = {
        "Could not open root CA system store. Cannot install certificate chain.",
        "Could not create certificate context for root certificate in root CA system store. "
        "Cannot install certificate chain.",
        1,
        "Could not install root certificate in root CA system store. Cannot install certificate "
        "chain.",
};

// Adds chain element `index` to `storeName` ("CA" or "Root"), opening and closing the store.
bool addChainCertificate(JNIEnv* env, jobjectArray chain, jsize index, const char* storeName,
                         const ChainStoreMessages& messages) {
    StoreHandle store(openStore(storeName));
    if (!store) {
        reportError(messages.storeNotOpen, 0);
        return false;
    }
    // Read when needed; an element that is not a byte[] makes no context, as a null one.
    ElementBytes encoded(env, chain, index);
    CertContext cert(encoded ? CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                            encoded.size())
                             : nullptr);
    if (!cert) {
        reportError(messages.noContext, messages.noContextWithSystemMessage);
        return false;
    }
    if (!CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_REPLACE_EXISTING,
                                          nullptr)) {
        reportError(messages.notAdded, 1);
        return false;
    }
    return true;
}

// Installs chain element 0 in "MY", bound to the container's key by its three properties.
// The key context and key-provider handle properties, set with flags 0, hand `provider` to the
// certificate context, which releases it when freed; until the first of them is set, the
// holder here releases it.
bool installPersonalCertificate(JNIEnv* env, jobjectArray chain, ProviderContext* provider) {
    StoreHandle personal(openStore("MY"));
    if (!personal) {
        reportError("Could not open MY system store. Cannot create key entry", 0);
        return false;
    }
    ElementBytes encoded(env, chain, 0);
    CertContext cert(encoded ? CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                            encoded.size())
                             : nullptr);
    if (!cert) {
        reportError(
                "Could not create certificate context for personal certificate for MY system "
                "store. Cannot create key entry.",
                0);
        return false;
    }
    CERT_KEY_CONTEXT keyContext{};
    keyContext.cbSize = sizeof(CERT_KEY_CONTEXT);  // 12 on 32-bit Windows, 24 on 64-bit
    keyContext.hCryptProv = provider->get();
    keyContext.dwKeySpec = AT_KEYEXCHANGE;
    if (!CertSetCertificateContextProperty(cert.get(), CERT_KEY_CONTEXT_PROP_ID, 0, &keyContext)) {
        reportError(
                "Could not connect the private key with personal certificate in MY system "
                "store. Cannot install certificate chain",
                1);
        return false;
    }
    const HCRYPTPROV handle = provider->release();  // the certificate context owns it now
    if (!CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_HANDLE_PROP_ID, 0, &handle)) {
        reportError(
                "Could not connect the private key with personal certificate in MY store. "
                "Cannot install certificate chain.",
                1);
        return false;
    }
    // The container name goes in through the shared conversion buffer, used before any other
    // conversion can overwrite it.
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = const_cast<LPWSTR>(toWideString(kKeyEntryContainer));
    std::unique_ptr<WCHAR[]> providerName(new WCHAR[sizeof(MS_ENHANCED_PROV_A)]);
    for (size_t i = 0; i < sizeof(MS_ENHANCED_PROV_A); ++i) {
        providerName[i] = static_cast<WCHAR>(MS_ENHANCED_PROV_A[i]);  // ASCII
    }
    info.pwszProvName = providerName.get();
    info.dwProvType = PROV_RSA_FULL;
    info.dwFlags = 0;
    info.cProvParam = 0;
    info.rgProvParam = nullptr;
    info.dwKeySpec = AT_KEYEXCHANGE;
    if (!CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
        reportError(
                "Failed to set the key attributes for personal certificate in MY system "
                "store. Cannot install certificate chain.",
                1);
        return false;
    }
    if (!CertAddCertificateContextToStore(personal.get(), cert.get(),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        reportError(
                "Failed to install the personal certificate in MY system store. Cannot "
                "install certificate chain.",
                1);
        return false;
    }
    return true;
}

}  // namespace

bool installKeyEntry(JNIEnv* env, jobjectArray crtKeyInfo, jobjectArray chain) {
    BYTE* rawBlob = nullptr;
    const int blobLength = buildPrivateKeyBlob(env, crtKeyInfo, &rawBlob);
    SecretBlock blob(rawBlob, static_cast<size_t>(blobLength > 0 ? blobLength : 0));
    if (!blob || blobLength == 0) {
        reportError(
                "Could not create the private key blob from the CRT key info. Cannot create "
                "key entry.",
                0);
        return false;
    }
    ProviderContext provider;
    if (!CryptAcquireContextA(provider.out(), kKeyEntryContainer, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                              CRYPT_NEWKEYSET) &&
        !CryptAcquireContextA(provider.out(), kKeyEntryContainer, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                              0)) {
        reportError("Could not acquire context for key entry.", 1);
        return false;
    }
    {
        KeyHandle key;
        if (!CryptImportKey(provider.get(), blob.data(), blob.size(), 0, CRYPT_EXPORTABLE,
                            key.out())) {
            reportError("Could not import private key into container. No key entry created.", 1);
            return false;
        }
        blob.reset();
    }  // the key lives on in the container
    const jsize count = chain != nullptr ? env->GetArrayLength(chain) : 0;
    if (count < 1) {
        reportError(
                "Invalid number of certificates in certificate chain. Must be at least one "
                "certificate. Cannot create key entry.",
                0);
        return false;
    }
    if (!installPersonalCertificate(env, chain, &provider)) {
        return false;
    }
    provider.reset();
    for (jsize index = 1; index + 1 < count; ++index) {
        if (!addChainCertificate(env, chain, index, "CA", kIntermediateMessages)) {
            return false;
        }
    }
    return count == 1 || addChainCertificate(env, chain, count - 1, "Root", kRootMessages);
}

bool addCertificateEntry(const BYTE* encoded, DWORD length) {
    StoreHandle store(openStore("AddressBook"));
    if (!store) {
        return false;
    }
    CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded, length));
    return cert &&
           CertAddCertificateContextToStore(store.get(), cert.get(),
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
}

bool deleteEntryByAlias(const char* alias) {
    // A matching certificate entry whose deletion fails does not end the search.
    return deleteFirstMatch("AddressBook", false, alias) || deleteFirstMatch("MY", true, alias);
}
