// RSA signing, and the digest names signing and verification share.
#pragma once

#include <jni.h>

#include "platform/api.h"

// The line both print, on standard error, for a digest name lookupHashAlgorithm does not know.
constexpr const char* kInvalidHashLine =
        "Invalid hash algorithm. Only supporting SHA1, MD5 and MD2.";

// lookupHashAlgorithm answers the algorithm of the digest name `name` (modified UTF-8),
// compared whole and case-sensitively: "SHA1" CALG_SHA1, "MD5" CALG_MD5, "MD2" CALG_MD2.
// Returns 0 for any other name and for a null one. Prints nothing.
ALG_ID lookupHashAlgorithm(const char* name);

// signData is MSSignatureJNI.sign: hashes `dataArray` under the digest `nameText` and signs it
// with the key entry whose alias bytes are `aliasArray` or, when that is null, with the key in
// `crtKeyInfo`. Returns the signature, least significant byte first, or null after printing
// why (nothing when no key entry matches).
jbyteArray signData(JNIEnv* env, jobjectArray crtKeyInfo, jbyteArray aliasArray, jstring nameText,
                    jbyteArray dataArray);
