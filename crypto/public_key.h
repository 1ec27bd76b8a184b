// An RSA public key from Java, imported for one call.
#pragma once

#include "platform/api.h"

// importPublicKey imports the DER of a PKCS #1 RSAPublicKey (`keyLength` bytes at `key`, not
// kept) as rsaEncryption with empty parameters into a temporary context. Returns the context,
// also when the import into it failed, or 0 when none could be acquired; writes `outKey` only
// when the import succeeds. Reports "Could not acquire context for temporary container used
// for importing public key.", or the failed import for the kind of context. The caller
// destroys the key and releases the context.
HCRYPTPROV importPublicKey(const BYTE* key, DWORD keyLength, HCRYPTKEY* outKey);
