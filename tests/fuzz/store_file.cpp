// The emulation's certificate files: the magic, then sections of (id, length, bytes), the
// encoding first. The input is written as the one certificate file of "MY", "CA", "Root" and
// "AddressBook", named by the thumbprint of its first section when that decodes, as the store
// would name it; then the stores are walked, directly and through the natives, and a property is
// written back and read again. The key entry container holds key1, so that key entries open.

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <jni.h>

#include "bridge/text.h"
#include "keystore/alias.h"
#include "keystore/write.h"
#include "platform/api.h"
#include "platform/handles.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/natives.h"

namespace {

constexpr char kMagic[] = "BRVCERT1";
constexpr size_t kMagicLength = sizeof(kMagic) - 1;
constexpr const char* kStoreFolders[] = {"MY", "CA", "ROOT", "ADDRESSBOOK"};
constexpr size_t kAliasesAsked = 4;
// A property id of no meaning to the library, written back through the store.
constexpr DWORD kWrittenProperty = 0x7A7A;

std::vector<std::string> containersBefore;

DWORD readNumber(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | (static_cast<DWORD>(at[1]) << 8) |
           (static_cast<DWORD>(at[2]) << 16) | (static_cast<DWORD>(at[3]) << 24);
}

// The file's sections as the store would read them: (id, bytes) in file order. Returns false
// for a file it would refuse as damaged.
bool readSections(const std::vector<BYTE>& file,
                  std::vector<std::pair<DWORD, std::vector<BYTE>>>* out) {
    if (file.size() < kMagicLength + 8 || std::memcmp(file.data(), kMagic, kMagicLength) != 0) {
        return false;
    }
    size_t offset = kMagicLength;
    while (offset < file.size()) {
        if (file.size() - offset < 8) {
            return false;
        }
        const DWORD id = readNumber(file.data() + offset);
        const DWORD length = readNumber(file.data() + offset + 4);
        offset += 8;
        if (file.size() - offset < length || (out->empty() != (id == 0))) {
            return false;
        }
        out->emplace_back(id,
                          std::vector<BYTE>(file.data() + offset, file.data() + offset + length));
        offset += length;
    }
    return true;
}

std::string thumbprintName(const std::vector<std::pair<DWORD, std::vector<BYTE>>>& sections) {
    if (!sections.empty()) {
        const std::vector<BYTE>& encoding = sections[0].second;
        CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoding.data(),
                                                      static_cast<DWORD>(encoding.size())));
        BYTE thumbprint[20];
        DWORD length = sizeof(thumbprint);
        if (cert && CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID,
                                                      thumbprint, &length)) {
            static const char kDigits[] = "0123456789ABCDEF";
            std::string name;
            for (const BYTE byte : thumbprint) {
                name.push_back(kDigits[byte >> 4]);
                name.push_back(kDigits[byte & 0x0F]);
            }
            return name;
        }
    }
    return std::string(40, '0');
}

// A key-provider information block holds its names and parameters inside itself, terminated.
void checkKeyProvInfo(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        return;
    }
    fuzz::require(size >= sizeof(CRYPT_KEY_PROV_INFO),
                  "a key-provider information block too short");
    std::vector<BYTE> block(size);
    fuzz::require(CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, block.data(),
                                                    &size) &&
                          size == block.size(),
                  "key-provider information reads back at another size");
    const BYTE* begin = block.data();
    const BYTE* end = begin + block.size();
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(begin);
    for (const WCHAR* name : {info->pwszContainerName, info->pwszProvName}) {
        if (name == nullptr) {
            continue;
        }
        const auto* at = reinterpret_cast<const BYTE*>(name);
        fuzz::require(at >= begin && at < end, "a key-provider name outside its block");
        bool terminated = false;
        for (const WCHAR* unit = name; reinterpret_cast<const BYTE*>(unit + 1) <= end; ++unit) {
            if (*unit == 0) {
                terminated = true;
                break;
            }
        }
        fuzz::require(terminated, "a key-provider name without its terminator in the block");
    }
    if (info->cProvParam > 0) {
        const auto* parameters = reinterpret_cast<const BYTE*>(info->rgProvParam);
        fuzz::require(parameters >= begin &&
                              info->cProvParam <= (end - parameters) / sizeof(CRYPT_KEY_PROV_PARAM),
                      "key-provider parameters outside their block");
        for (DWORD i = 0; i < info->cProvParam; ++i) {
            const CRYPT_KEY_PROV_PARAM& parameter = info->rgProvParam[i];
            const auto* value = parameter.pbData;
            fuzz::require(parameter.cbData == 0 || (value >= begin && value <= end &&
                                                    parameter.cbData <= end - value),
                          "a key-provider parameter's data outside its block");
        }
    }
}

// Every property the file holds, but the handles that never persist and the thumbprint, which
// comes from the encoding, reads back as the file has it.
void checkProperties(PCCERT_CONTEXT cert, const std::map<DWORD, std::vector<BYTE>>& expected) {
    for (const auto& [id, value] : expected) {
        if (id == CERT_KEY_PROV_INFO_PROP_ID || id == CERT_SHA1_HASH_PROP_ID) {
            continue;  // laid out on the way out, or derived
        }
        DWORD size = 0;
        const bool present = CertGetCertificateContextProperty(cert, id, nullptr, &size);
        fuzz::require(present || value.empty(), "a property of the file is lost");
        if (!present) {
            continue;
        }
        std::vector<BYTE> got(size);
        fuzz::require(size == value.size() &&
                              (size == 0 ||
                               CertGetCertificateContextProperty(cert, id, got.data(), &size)) &&
                              got == value,
                      "a property reads back other than the file has it");
    }
}

std::map<DWORD, std::vector<BYTE>> persistedProperties(
        const std::vector<std::pair<DWORD, std::vector<BYTE>>>& sections) {
    std::map<DWORD, std::vector<BYTE>> properties;
    for (size_t i = 1; i < sections.size(); ++i) {
        const DWORD id = sections[i].first;
        if (id != CERT_KEY_PROV_HANDLE_PROP_ID && id != CERT_KEY_CONTEXT_PROP_ID) {
            properties[id] = sections[i].second;  // the last of an id wins
        }
    }
    return properties;
}

// Walks "MY" directly: the key entry test, the alias and the issuer of every certificate. The
// first certificate gets a property written through the store, which a new handle reads back.
void walkPersonalStore(const std::map<DWORD, std::vector<BYTE>>& properties, bool fileReads) {
    StoreHandle store(openStore("MY"));
    fuzz::require(static_cast<bool>(store), "MY does not open");
    StoreHandle authorities(openStore("CA"));
    CertContext cert;
    int count = 0;
    while (nextCertificate(store.get(), cert)) {
        ++count;
        checkKeyProvInfo(cert.get());
        checkProperties(cert.get(), properties);
        hasKeyEntryProvider(cert.get());
        isKeyEntryCertificate(cert.get());
        buildEntryAlias(cert.get());
        DWORD flags = CERT_STORE_SIGNATURE_FLAG | CERT_STORE_TIME_VALIDITY_FLAG;
        CertContext issuer(
                CertGetIssuerCertificateFromStore(authorities.get(), cert.get(), nullptr, &flags));
    }
    fuzz::require(count == (fileReads ? 1 : 0),
                  "MY holds other than the one file's certificate, when it reads");
    if (count == 0) {
        return;
    }
    {
        nextCertificate(store.get(), cert);  // back to the first
        fuzz::require(static_cast<bool>(cert), "MY's certificate is gone on a second walk");
        const BYTE mark[] = {'f', 'u', 'z', 'z'};
        CRYPT_DATA_BLOB blob{sizeof(mark), const_cast<BYTE*>(mark)};
        fuzz::require(CertSetCertificateContextProperty(cert.get(), kWrittenProperty, 0, &blob),
                      "a property cannot be written through the store");
    }
    std::map<DWORD, std::vector<BYTE>> written = properties;
    written[kWrittenProperty] = std::vector<BYTE>{'f', 'u', 'z', 'z'};
    StoreHandle again(openStore("MY"));
    CertContext reread;
    fuzz::require(nextCertificate(again.get(), reread), "the rewritten file no longer reads");
    checkProperties(reread.get(), written);
    checkKeyProvInfo(reread.get());
}

void callNatives() {
    FakeJni jni;
    JNIEnv* env = jni.env();
    Java_quorvant_jce_provider_ms_Brisvander_size(env, nullptr);
    jobjectArray aliases = Java_quorvant_jce_provider_ms_Brisvander_aliases(env, nullptr);
    fuzz::requireCleanBooks(jni, "aliases");
    const std::vector<jobject> listed = aliases ? jni.elementsOf(aliases) : std::vector<jobject>();
    for (size_t i = 0; i < listed.size() && i < kAliasesAsked; ++i) {
        const std::string text = jni.textOf(static_cast<jstring>(listed[i]));
        jstring alias = jni.newString(text);
        fuzz::require(Java_quorvant_jce_provider_ms_Brisvander_containsAlias(env, nullptr, alias),
                      "containsAlias does not find a listed alias");
        Java_quorvant_jce_provider_ms_Brisvander_isKeyEntry(env, nullptr, alias);
        Java_quorvant_jce_provider_ms_Brisvander_isCertificateEntry(env, nullptr, alias);
        Java_quorvant_jce_provider_ms_Brisvander_getCertificate(env, nullptr, alias);
        Java_quorvant_jce_provider_ms_Brisvander_getCertificateChain(env, nullptr, alias);
        jbyteArray aliasBytes = jni.newByteArray(std::vector<BYTE>(text.begin(), text.end()));
        Java_quorvant_jce_provider_ms_MSSignatureJNI_sign(env, nullptr, nullptr, aliasBytes,
                                                          jni.newString("SHA1"),
                                                          jni.newByteArray({'f', 'u', 'z', 'z'}));
        Java_quorvant_jce_provider_ms_MSCipherRSAJNI_getKeyLength(env, nullptr, nullptr, aliasBytes,
                                                                  JNI_FALSE);
        fuzz::requireCleanBooks(jni, "the natives that take an alias");
    }
    jobjectArray all = Java_quorvant_jce_provider_ms_MSCertStoreJNI_getAllCertificates(
            env, nullptr, jni.newString("MY"));
    fuzz::requireCleanBooks(jni, "getAllCertificates");
    for (const jobject encoded : all ? jni.elementsOf(all) : std::vector<jobject>()) {
        fuzz::require(encoded != nullptr, "getAllCertificates left out a certificate it counted");
        fuzz::require(Java_quorvant_jce_provider_ms_Brisvander_getCertificateAlias(
                              env, nullptr, static_cast<jbyteArray>(encoded)) != nullptr,
                      "a certificate of the store has no alias");
    }
    fuzz::requireCleanBooks(jni, "getCertificateAlias");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startFuzzHome();
    fuzz::silenceStandardOutput();
    fuzz::installFixtureKeyEntry(false);
    containersBefore = fuzz::fileNames(fuzz::containerFolder());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<BYTE> file(data, data + size);
    std::vector<std::pair<DWORD, std::vector<BYTE>>> sections;
    const bool wellFormed = readSections(file, &sections);
    const std::string name = thumbprintName(sections);
    for (const char* folder : kStoreFolders) {
        fuzz::writeFile(fuzz::storeFolder(folder) + "/" + name + ".cer", file);
    }
    // The store reads a file only when it is whole and its encoding is the one it is named by.
    bool fileReads = false;
    if (wellFormed && name != std::string(40, '0')) {
        CertContext cert(
                CertCreateCertificateContext(X509_ASN_ENCODING, sections[0].second.data(),
                                             static_cast<DWORD>(sections[0].second.size())));
        fileReads = static_cast<bool>(cert);
    }
    {
        const fuzz::HandleBalance balance;
        walkPersonalStore(persistedProperties(sections), fileReads);
        callNatives();
    }
    // Reading the stores must leave every key container as it was.
    fuzz::require(fuzz::fileNames(fuzz::containerFolder()) == containersBefore,
                  "walking the stores made or removed a key container");
    fuzz::removeTree(fuzz::storeFolder(""));
    return 0;
}
