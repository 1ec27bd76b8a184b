// The write side of the key store: certificate entries and deletion.
#pragma once

#include <jni.h>

#include "platform/api.h"

// The one container every key entry's key goes into, and its provider. Each installation
// imports into its key-exchange slot, so it replaces the key an earlier entry's certificate
// names: stored certificates and other programs rely on this one name.
constexpr const char* kKeyEntryContainer = "quorvjcecont";

// installKeyEntry imports the private key `crtKeyInfo` into the key container, installs the
// chain's first certificate in "MY" bound to that container, the ones between in "CA" one by
// one and the last in "Root". Returns false on the first failing step, after reporting it;
// nothing done before is undone.
bool installKeyEntry(JNIEnv* env, jobjectArray crtKeyInfo, jobjectArray chain);

// addCertificateEntry adds `encoded` to "AddressBook", replacing a copy already there. Returns
// false when the store does not open, the bytes form no certificate or the addition fails.
// Prints nothing.
bool addCertificateEntry(const BYTE* encoded, DWORD length);

// deleteEntryByAlias deletes the certificate whose entry alias reads as `alias` (Java's
// modified UTF-8): the first in "AddressBook", else the first key entry of "MY". The key
// container and the chain certificates stay. Returns whether a certificate was deleted.
// Prints nothing.
bool deleteEntryByAlias(const char* alias);
