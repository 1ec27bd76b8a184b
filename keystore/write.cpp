// The write side of the key store: certificate entries and deletion.

#include "keystore/write.h"

#include "bridge/text.h"
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

}  // namespace

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
