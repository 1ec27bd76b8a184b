// Temporary provider contexts and the private key lookup by entry alias.

#include "crypto/contexts.h"

#include <cstring>
#include <memory>
#include <string>

#include "bridge/diagnostics.h"
#include "bridge/text.h"
#include "crypto/key_blob.h"
#include "keystore/alias.h"
#include "keystore/walk.h"
#include "platform/handles.h"

namespace {

constexpr const char kBaseProviderPrefix[] = "Microsoft Base";
constexpr size_t kBaseProviderPrefixLength = sizeof(kBaseProviderPrefix) - 1;

// The alias bytes from Java are modified UTF-8 without a terminator; one with a NUL inside can
// name no entry, whose alias text ends at its first NUL.
bool matchesAliasBytes(const std::string& entryAlias, const BYTE* alias, DWORD aliasLength) {
    const char* text = reinterpret_cast<const char*>(alias);
    if (aliasLength > 0 && std::memchr(text, 0, aliasLength) != nullptr) {
        return false;
    }
    const std::string javaAlias(text, aliasLength);
    return matchesJavaText(entryAlias.c_str(), javaAlias.c_str());
}

// The key-provider information of a key entry candidate, or null when `cert` is none: no
// information, or a provider type other than PROV_RSA_FULL and PROV_RSA_SIG.
std::unique_ptr<BYTE[]> fetchCandidateInfo(PCCERT_CONTEXT cert) {
    std::unique_ptr<BYTE[]> block(getCertProperty(cert, CERT_KEY_PROV_INFO_PROP_ID));
    if (block == nullptr) {
        return nullptr;
    }
    const DWORD type = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block.get())->dwProvType;
    return type == PROV_RSA_FULL || type == PROV_RSA_SIG ? std::move(block) : nullptr;
}

}  // namespace

TemporaryContextKind acquireTemporaryContext(HCRYPTPROV* outContext) {
    *outContext = 0;
    if (CryptAcquireContextA(outContext, nullptr, kProviderName, PROV_RSA_FULL,
                             CRYPT_VERIFYCONTEXT)) {
        return VerifyOnlyContext;
    }
    if (CryptAcquireContextA(outContext, kTemporaryContainer, kProviderName, PROV_RSA_FULL,
                             CRYPT_NEWKEYSET) ||
        CryptAcquireContextA(outContext, kTemporaryContainer, kProviderName, PROV_RSA_FULL, 0)) {
        return TemporaryContainer;
    }
    *outContext = 0;
    return NoTemporaryContext;
}

HCRYPTPROV acquireKeyByAlias(const BYTE* alias, DWORD aliasLength, HCRYPTKEY* outKey) {
    ProviderContext context;
    const bool opened = walkEntries("MY", false, [&](PCCERT_CONTEXT cert) {
        const std::unique_ptr<BYTE[]> block = fetchCandidateInfo(cert);
        if (block == nullptr) {
            return true;
        }
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block.get());
        // Names that convert to nothing go as "", never as a null name.
        const std::string container = toAnsiString(info->pwszContainerName);
        std::string provider = toAnsiString(info->pwszProvName);
        // The Base provider cannot use key-exchange keys above 1024 bits; Enhanced shares its
        // containers and can.
        if (provider.compare(0, kBaseProviderPrefixLength, kBaseProviderPrefix) == 0) {
            provider = kProviderName;
        }
        // The result is left alone: a container that does not open leaves the handle 0, and
        // the alias is compared all the same.
        CryptAcquireContextA(context.out(), container.c_str(), provider.c_str(), info->dwProvType,
                             containerOpenFlags(*info));
        if (!matchesAliasBytes(buildEntryAlias(cert), alias, aliasLength)) {
            context.reset();
            return true;
        }
        HCRYPTKEY key = 0;
        if (CryptGetUserKey(context.get(), AT_SIGNATURE, &key) ||
            CryptGetUserKey(context.get(), AT_KEYEXCHANGE, &key)) {
            *outKey = key;
        } else {
            reportError("Could not get handle for private key.", 1);
        }
        return false;
    });
    if (!opened) {
        printErrorLine("Cannot open key store.");
        return 0;
    }
    return context.release();
}

HCRYPTPROV acquireSigningContextByAlias(const BYTE* alias, DWORD aliasLength) {
    ProviderContext context;
    walkEntries("MY", false, [&](PCCERT_CONTEXT cert) {
        const std::unique_ptr<BYTE[]> block = fetchCandidateInfo(cert);
        if (block == nullptr) {
            return true;
        }
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block.get());
        const std::string container = toAnsiString(info->pwszContainerName);
        const std::string provider = toAnsiString(info->pwszProvName);
        if (!CryptAcquireContextA(context.out(), container.c_str(), provider.c_str(),
                                  info->dwProvType, containerOpenFlags(*info))) {
            return true;
        }
        if (!matchesAliasBytes(buildEntryAlias(cert), alias, aliasLength)) {
            context.reset();
            return true;
        }
        return false;
    });
    return context.release();
}

CrtImportResult importCrtKeyInfo(JNIEnv* env, jobjectArray crtKeyInfo,
                                 const CrtImportMessages& messages, HCRYPTPROV* outContext,
                                 HCRYPTKEY* outKey) {
    *outContext = 0;
    *outKey = 0;
    BYTE* rawBlob = nullptr;
    const int blobLength = buildPrivateKeyBlob(env, crtKeyInfo, &rawBlob);
    SecretBlock blob(rawBlob, blobLength > 0 ? static_cast<size_t>(blobLength) : 0);
    if (blobLength <= 0 || !blob) {
        reportError(messages.noBlob, 0);
        return CrtNoBlob;
    }
    HCRYPTPROV rawContext = 0;
    const TemporaryContextKind kind = acquireTemporaryContext(&rawContext);
    ProviderContext context(rawContext);
    if (kind == NoTemporaryContext) {
        reportError(messages.noContext, 1);
        return CrtNoContext;
    }
    KeyHandle key;
    if (!CryptImportKey(context.get(), blob.data(), blob.size(), 0, CRYPT_EXPORTABLE, key.out())) {
        reportError(kind == VerifyOnlyContext ? messages.verifyOnlyImportFailed
                                              : messages.containerImportFailed,
                    1);
        return CrtImportFailed;
    }
    blob.reset();
    *outContext = context.release();
    *outKey = key.release();
    return CrtKeyImported;
}
