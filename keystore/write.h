// The write side of the key store: certificate entries and deletion.
#pragma once

#include "platform/api.h"

// addCertificateEntry adds `encoded` to "AddressBook", replacing a copy already there. Returns
// false when the store does not open, the bytes form no certificate or the addition fails.
// Prints nothing.
bool addCertificateEntry(const BYTE* encoded, DWORD length);

// deleteEntryByAlias deletes the certificate whose entry alias reads as `alias` (Java's
// modified UTF-8): the first in "AddressBook", else the first key entry of "MY". The key
// container and the chain certificates stay. Returns whether a certificate was deleted.
// Prints nothing.
bool deleteEntryByAlias(const char* alias);
