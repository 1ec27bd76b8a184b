// The store model's key entry test and entry alias.

#include "keystore/alias.h"

#include <cstring>
#include <memory>

#include "bridge/text.h"
#include "platform/handles.h"

namespace {

// A block from getCertProperty, freed with delete[].
using PropertyBlock = std::unique_ptr<BYTE[]>;

PropertyBlock fetchKeyProvInfo(PCCERT_CONTEXT cert) {
    return PropertyBlock(getCertProperty(cert, CERT_KEY_PROV_INFO_PROP_ID));
}

bool isKeyEntryProviderType(DWORD type) { return type == PROV_RSA_FULL || type == PROV_RSA_SIG; }

}  // namespace

bool hasKeyEntryProvider(PCCERT_CONTEXT cert) {
    const PropertyBlock block = fetchKeyProvInfo(cert);
    return block != nullptr &&
           isKeyEntryProviderType(
                   reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block.get())->dwProvType);
}

DWORD containerOpenFlags(const CRYPT_KEY_PROV_INFO& info) {
    return info.dwFlags & ~(CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET);
}

bool isKeyEntryCertificate(PCCERT_CONTEXT cert) {
    const PropertyBlock block = fetchKeyProvInfo(cert);
    if (block == nullptr) {
        return false;
    }
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block.get());
    if (!isKeyEntryProviderType(info->dwProvType)) {
        return false;
    }
    // Names that convert to nothing go as "", never as a null name.
    const std::string container = toAnsiString(info->pwszContainerName);
    const std::string provider = toAnsiString(info->pwszProvName);
    ProviderContext context;
    return CryptAcquireContextA(context.out(), container.c_str(), provider.c_str(),
                                info->dwProvType, containerOpenFlags(*info)) != FALSE;
}

std::string buildEntryAlias(PCCERT_CONTEXT cert) {
    if (cert == nullptr || cert->pCertInfo == nullptr) {
        return std::string();
    }
    char issuer[kTextBufferSize];
    // The platform gives the empty text for a name that does not fit, never a cut one.
    CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Issuer,
                   CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG, issuer, kTextBufferSize);
    issuer[kTextBufferSize - 1] = '\0';
    char serial[kTextBufferSize];
    const CRYPT_INTEGER_BLOB& number = cert->pCertInfo->SerialNumber;
    formatSerialHex(static_cast<int>(number.cbData), number.pbData, serial);
    std::string alias;
    alias.reserve(std::strlen(issuer) + std::strlen(serial) + 1);
    alias.append(issuer);
    alias.push_back(',');
    alias.append(serial);
    return alias;
}

HCERTSTORE openStore(const char* name) {
    if (std::strcmp(name, "MY") == 0 || std::strcmp(name, "CA") == 0 ||
        std::strcmp(name, "Root") == 0) {
        const WCHAR* wideName = std::strcmp(name, "MY") == 0   ? L"MY"
                                : std::strcmp(name, "CA") == 0 ? L"CA"
                                                               : L"Root";
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                             wideName);
    }
    return CertOpenSystemStoreA(0, name);
}
