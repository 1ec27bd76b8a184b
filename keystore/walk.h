// One walk over a store of the key store, shared by every lookup that needs the entries.
#pragma once

#include "keystore/alias.h"
#include "platform/handles.h"

// walkEntries opens `storeName`, and for each certificate with certificate information (and,
// when `keyEntriesOnly`, passing the key entry test) calls `visit(cert)` until it returns
// false. Returns false when the store does not open, else true. The store and the context the
// walk stopped on are released here.
template <typename Visit>
bool walkEntries(const char* storeName, bool keyEntriesOnly, Visit&& visit) {
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
        if (!visit(cert.get())) {
            break;
        }
    }
    return true;
}
