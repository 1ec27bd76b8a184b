// Certificate bytes through the emulation's decoder, the entry alias and the key entry test.
// Input: the certificate encoding. Bytes after the certificate, which the decoder leaves out,
// choose the key-provider information the key entry test reads: the provider type, the flags,
// then the container name as UTF-16 units, low byte first.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/text.h"
#include "keystore/alias.h"
#include "keystore/write.h"
#include "platform/api.h"
#include "platform/handles.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr DWORD kNameTypes[] = {
        CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG,  // the alias's form
        CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_CRLF_FLAG,
        CERT_OID_NAME_STR | CERT_NAME_STR_NO_PLUS_FLAG,
        CERT_SIMPLE_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG,
};

// The name's text as CertNameToStrA writes it, NULs inside included: the size it asks for is the
// size it fills.
std::string nameText(const CERT_NAME_BLOB& name, DWORD type) {
    const DWORD needed = CertNameToStrA(X509_ASN_ENCODING, &name, type, nullptr, 0);
    fuzz::require(needed >= 1, "a name's text needs no room, not even for its terminator");
    std::vector<char> text(needed + 1, 'x');
    const DWORD written = CertNameToStrA(X509_ASN_ENCODING, &name, type, text.data(), needed);
    fuzz::require(written == needed, "a name's text filled other than the room it asked for");
    fuzz::require(text[needed - 1] == '\0' && text[needed] == 'x',
                  "a name's text is not terminated where its size says, or runs past it");
    if (needed > 1) {
        // One byte short of the room it asked for gives the empty text, never a cut one.
        std::vector<char> shortText(needed - 1, 'x');
        CertNameToStrA(X509_ASN_ENCODING, &name, type, shortText.data(), needed - 1);
        fuzz::require(shortText[0] == '\0', "a name's text was cut short to fit");
    }
    return std::string(text.data(), needed - 1);
}

bool isInside(const BYTE* at, size_t length, PCCERT_CONTEXT cert) {
    const BYTE* begin = cert->pbCertEncoded;
    return length == 0 ||
           (at >= begin && at + length <= begin + cert->cbCertEncoded && at + length >= at);
}

void checkContext(PCCERT_CONTEXT cert, const uint8_t* data, size_t size) {
    fuzz::require(cert->cbCertEncoded > 0 && cert->cbCertEncoded <= size,
                  "the context's encoding is empty or longer than the input");
    fuzz::require(std::memcmp(cert->pbCertEncoded, data, cert->cbCertEncoded) == 0,
                  "the context's encoding is not the front of the input");
    const CERT_INFO* info = cert->pCertInfo;
    fuzz::require(info != nullptr, "a decoded certificate without certificate information");
    fuzz::require(isInside(info->Issuer.pbData, info->Issuer.cbData, cert) &&
                          isInside(info->Subject.pbData, info->Subject.cbData, cert),
                  "a name blob lies outside the encoding");
    fuzz::require(info->SignatureAlgorithm.pszObjId != nullptr &&
                          info->SubjectPublicKeyInfo.Algorithm.pszObjId != nullptr,
                  "an algorithm without its identifier");
    for (DWORD i = 0; i < info->cExtension; ++i) {
        const CERT_EXTENSION& extension = info->rgExtension[i];
        fuzz::require(extension.pszObjId != nullptr &&
                              isInside(extension.Value.pbData, extension.Value.cbData, cert),
                      "an extension without its identifier, or outside the encoding");
    }
}

// The key entry test must answer from the container without changing the containers: a
// listing of the store that made or removed one would lose a user's key.
void checkKeyEntryTest(PCCERT_CONTEXT cert, const uint8_t* extra, size_t extraLength) {
    fuzz::require(!hasKeyEntryProvider(cert) && !isKeyEntryCertificate(cert),
                  "a certificate without key-provider information passes the key entry test");
    std::vector<WCHAR> container;
    for (size_t i = 2; i + 1 < extraLength; i += 2) {
        container.push_back(static_cast<WCHAR>(extra[i] | (extra[i + 1] << 8)));
    }
    container.push_back(0);
    const std::string defaultContainer = kKeyEntryContainer;
    std::vector<WCHAR> defaultName(defaultContainer.begin(), defaultContainer.end());
    defaultName.push_back(0);
    const std::string enhanced = MS_ENHANCED_PROV_A;
    std::vector<WCHAR> provider(enhanced.begin(), enhanced.end());
    provider.push_back(0);

    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = extraLength > 0 ? container.data() : defaultName.data();
    info.pwszProvName = provider.data();
    const uint8_t type = extraLength > 0 ? extra[0] : 0;
    info.dwProvType = type == 0 ? PROV_RSA_FULL : type == 1 ? PROV_RSA_SIG : type;
    const uint8_t flags = extraLength > 1 ? extra[1] : 0;
    info.dwFlags = (flags & 0x7E) | ((flags & 1) != 0 ? CRYPT_VERIFYCONTEXT : 0);
    info.dwKeySpec = AT_KEYEXCHANGE;
    fuzz::require(CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info),
                  "key-provider information cannot be set");
    const std::vector<std::string> before = fuzz::fileNames(fuzz::containerFolder());
    const bool providerTypeFits = hasKeyEntryProvider(cert);
    const bool isKeyEntry = isKeyEntryCertificate(cert);
    fuzz::require(before == fuzz::fileNames(fuzz::containerFolder()),
                  "the key entry test made or removed a key container");
    fuzz::require(providerTypeFits || !isKeyEntry,
                  "a key entry whose provider type is not a key entry's");
    if (extraLength == 0) {
        fuzz::require(isKeyEntry, "the key entry's own container does not pass the test");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startFuzzHome();
    fuzz::silenceStandardOutput();
    ProviderContext context;
    fuzz::require(CryptAcquireContextA(context.out(), kKeyEntryContainer, MS_ENHANCED_PROV_A,
                                       PROV_RSA_FULL, CRYPT_NEWKEYSET),
                  "the key entry container cannot be made");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::HandleBalance balance;
    CertContext cert(
            CertCreateCertificateContext(X509_ASN_ENCODING, data, static_cast<DWORD>(size)));
    if (!cert) {
        return 0;
    }
    checkContext(cert.get(), data, size);
    const CERT_INFO* info = cert.get()->pCertInfo;

    const std::string alias = buildEntryAlias(cert.get());
    char serial[kTextBufferSize];
    formatSerialHex(static_cast<int>(info->SerialNumber.cbData), info->SerialNumber.pbData, serial);
    std::string issuer = nameText(info->Issuer, kNameTypes[0]);
    if (issuer.size() >= static_cast<size_t>(kTextBufferSize)) {
        issuer.clear();  // the alias's buffer holds at most 1023 characters
    }
    // The alias is C text: a NUL inside the issuer's text ends it there.
    fuzz::require(alias == std::string(issuer.c_str()) + "," + serial,
                  "the alias is not the issuer's text, a comma and the serial in hex");
    for (const DWORD type : kNameTypes) {
        nameText(info->Issuer, type);
        nameText(info->Subject, type);
    }
    // toJavaText is how the alias crosses to Java; it must give modified UTF-8.
    fuzz::require(isModifiedUtf8(toJavaText(alias.c_str()).c_str()),
                  "the alias does not convert to modified UTF-8");

    const size_t extraLength = size - cert.get()->cbCertEncoded;
    checkKeyEntryTest(cert.get(), data + cert.get()->cbCertEncoded, extraLength);
    return 0;
}
