// Public key import.

#include "crypto/public_key.h"

#include "bridge/diagnostics.h"
#include "crypto/contexts.h"

HCRYPTPROV importPublicKey(const BYTE* key, DWORD keyLength, HCRYPTKEY* outKey) {
    // The algorithm's parameters stay empty, not an encoded NULL.
    CERT_PUBLIC_KEY_INFO info{};
    info.Algorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_RSA);
    info.PublicKey.cbData = keyLength;
    info.PublicKey.pbData = const_cast<BYTE*>(key);
    info.PublicKey.cUnusedBits = 0;
    HCRYPTPROV context = 0;
    const TemporaryContextKind kind = acquireTemporaryContext(&context);
    if (kind == NoTemporaryContext) {
        reportError(
                "Could not acquire context for temporary container used for importing public key.",
                1);
        return 0;
    }
    HCRYPTKEY imported = 0;
    if (CryptImportPublicKeyInfo(context, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &info,
                                 &imported)) {
        *outKey = imported;
    } else if (kind == VerifyOnlyContext) {
        reportError("Could not import public key into temporary container.", 1);
    } else {
        reportError("Could not import public key into container.", 1);
    }
    return context;
}
