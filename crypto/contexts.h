// Provider contexts for keys imported for one call, and the private key of a key entry found
// by its alias.
#pragma once

#include <jni.h>

#include "platform/api.h"

// Every context the library opens for a key of its own uses this provider, with PROV_RSA_FULL.
constexpr const char* kProviderName = "Microsoft Enhanced Cryptographic Provider v1.0";
// The container a key from Java goes into when no verify-only context can be had. It is never
// deleted, so the last key imported into it stays there.
constexpr const char* kTemporaryContainer = "quorvjceconttmp";

enum TemporaryContextKind : int {
    NoTemporaryContext = 0,
    VerifyOnlyContext = 1,
    TemporaryContainer = 2,  // quorvjceconttmp, made now or opened as it was
};

// acquireTemporaryContext opens a verify-only context of the Enhanced provider, else creates
// the temporary container, else opens it. Returns which it got, with the context in
// `outContext`, or NoTemporaryContext with `outContext` 0. The caller releases the context.
// Prints nothing.
TemporaryContextKind acquireTemporaryContext(HCRYPTPROV* outContext);

// acquireKeyByAlias walks "MY" for the first key entry whose entry alias is the `aliasLength`
// bytes at `alias` (no terminator; compared as Java text, whole) and opens its container, with
// the Enhanced provider in place of one whose name begins with "Microsoft Base". Returns that
// context, or 0 when no key entry matches or its container does not open. Writes `outKey`
// only when it gets a key: the signature key, else the key-exchange key. When neither comes,
// reports "Could not get handle for private key." and still returns the context if it has
// one. When "MY" does not open, prints "Cannot open key store." on standard error and returns
// 0. The caller destroys the key and releases the context.
HCRYPTPROV acquireKeyByAlias(const BYTE* alias, DWORD aliasLength, HCRYPTKEY* outKey);

// acquireSigningContextByAlias is the walk of acquireKeyByAlias for signing: the provider name
// is used as stored, a candidate whose container does not open is passed over before its alias
// is built, and no key is fetched. Returns the context, or 0. The caller releases it. Prints
// nothing.
HCRYPTPROV acquireSigningContextByAlias(const BYTE* alias, DWORD aliasLength);

// What one user of importCrtKeyInfo prints for each way it can fail.
struct CrtImportMessages {
    const char* noBlob;                  // without the system message
    const char* noContext;               // with it, as the two below
    const char* verifyOnlyImportFailed;  // the import failed in a verify-only context
    const char* containerImportFailed;   // the import failed in the temporary container
};

enum CrtImportResult : int {
    CrtKeyImported = 0,
    CrtNoBlob = 1,
    CrtNoContext = 2,
    CrtImportFailed = 3,
};

// importCrtKeyInfo builds the private key blob of `crtKeyInfo`, acquires a temporary context
// and imports the blob there, exportable; the blob is wiped and freed once the import has
// been tried. On CrtKeyImported `outContext` and `outKey` hold the context and the key, which
// the caller destroys and releases; on any other result both are 0 and the matching message
// of `messages` has been reported (a context whose import failed is released here).
CrtImportResult importCrtKeyInfo(JNIEnv* env, jobjectArray crtKeyInfo,
                                 const CrtImportMessages& messages, HCRYPTPROV* outContext,
                                 HCRYPTKEY* outKey);
