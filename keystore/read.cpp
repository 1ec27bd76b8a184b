// The read side of the key store: counting, listing and looking up entries.

#include "keystore/read.h"

#include "keystore/alias.h"
#include "platform/handles.h"

int countEntries() {
    StoreHandle personal(openStore("MY"));
    if (!personal) {
        return 0;  // "AddressBook" is not counted either
    }
    int count = 0;
    CertContext cert;
    while (nextCertificate(personal.get(), cert)) {
        if (cert.get()->pCertInfo != nullptr && hasKeyEntryProvider(cert.get())) {
            ++count;
        }
    }
    personal.reset();
    StoreHandle addressBook(openStore("AddressBook"));
    if (!addressBook) {
        return count;
    }
    while (nextCertificate(addressBook.get(), cert)) {
        if (cert.get()->pCertInfo != nullptr) {
            ++count;
        }
    }
    return count;
}
