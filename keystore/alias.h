// The store model: what makes a certificate a key entry, and the entry alias that names it.
#pragma once

#include <string>

#include "platform/api.h"

// The stores that may answer an alias lookup. Any other value is a valid argument that finds
// nothing.
enum EntryScope : int {
    KeyEntries = 1,          // "MY", key entries only
    CertificateEntries = 2,  // "AddressBook"
    AllEntries = 3,          // "MY" (key entries only), then "AddressBook"
};

// hasKeyEntryProvider tells whether `cert` has key-provider information of provider type
// PROV_RSA_FULL or PROV_RSA_SIG: the part of the key entry test that needs no container.
bool hasKeyEntryProvider(PCCERT_CONTEXT cert);

// containerOpenFlags gives the flags of `info` that CryptAcquireContextA takes to open the key
// container it names: the stored flags without CRYPT_NEWKEYSET and CRYPT_DELETEKEYSET, which
// any program can store in a certificate's property, so that looking a certificate over never
// makes or removes a key container.
DWORD containerOpenFlags(const CRYPT_KEY_PROV_INFO& info);

// isKeyEntryCertificate applies the whole key entry test to a certificate of "MY": the
// provider type, and the key container named by its key-provider information opens (the
// context is released at once). Prints nothing.
bool isKeyEntryCertificate(PCCERT_CONTEXT cert);

// buildEntryAlias builds the entry alias of `cert` in the ANSI code page: its issuer name text
// (the platform's X.500 form, semicolon separated, at most 1023 characters, else empty), a
// comma, and the serial number in hex, most significant byte first. Returns the empty string
// for a context without certificate information.
std::string buildEntryAlias(PCCERT_CONTEXT cert);

// openStore opens one of the current user's stores the way the key store does: "MY", "CA" and
// "Root" through the system store provider, "AddressBook" and any other name by name. Returns
// null when it does not open; the caller closes it.
HCERTSTORE openStore(const char* name);
