// Alias resolution over the key store's two stores.

#include "keystore/resolve.h"

#include <cstring>

#include "bridge/text.h"
#include "keystore/walk.h"

namespace {

// Copies the encoding of `cert` for the caller, who frees it with delete[].
void copyEncoding(PCCERT_CONTEXT cert, BYTE** outBytes, DWORD* outLength) {
    *outLength = cert->cbCertEncoded;
    *outBytes = new BYTE[cert->cbCertEncoded];
    std::memcpy(*outBytes, cert->pbCertEncoded, cert->cbCertEncoded);
}

// Walks one store for the first certificate, key entries only when `keyEntriesOnly`, whose
// alias matches. A store that does not open holds nothing.
bool findInStore(const char* storeName, bool keyEntriesOnly, const char* alias, BYTE** outBytes,
                 DWORD* outLength) {
    bool found = false;
    walkEntries(storeName, keyEntriesOnly, [&](PCCERT_CONTEXT cert) {
        found = matchesJavaText(buildEntryAlias(cert).c_str(), alias);
        if (found) {
            copyEncoding(cert, outBytes, outLength);
        }
        return !found;
    });
    return found;
}

}  // namespace

int resolveAlias(const char* alias, BYTE** outBytes, DWORD* outLength, EntryScope scope) {
    if (alias == nullptr) {
        return 0;
    }
    *outBytes = nullptr;
    if ((scope == KeyEntries || scope == AllEntries) &&
        findInStore("MY", true, alias, outBytes, outLength)) {
        return 1;
    }
    if ((scope == CertificateEntries || scope == AllEntries) &&
        findInStore("AddressBook", false, alias, outBytes, outLength)) {
        return 1;
    }
    return 0;
}
