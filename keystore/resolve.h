// Alias resolution: the certificate of the entry an alias names.
#pragma once

#include "keystore/alias.h"
#include "platform/api.h"

// resolveAlias finds the certificate whose entry alias is `alias` (Java's modified UTF-8, as
// GetStringUTFChars gives it) in the stores `scope` names, "MY" (key entries only) before
// "AddressBook", and hands back a copy of its encoded bytes. Returns 1 if found, else 0 with
// `outBytes` null. A null alias returns 0 and leaves both outputs as they are. The caller frees
// the copy with delete[]. Prints nothing.
int resolveAlias(const char* alias, BYTE** outBytes, DWORD* outLength, EntryScope scope);
