// Building, fingerprinting and finding again the benchmarks' emulated stores.

#include "benchmarks/bench_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/x509.h>

#include "keystore/alias.h"
#include "platform/emu/emulation.h"
#include "platform/handles.h"
#include "tests/unit/support/cert_factory.h"

namespace {

constexpr const char kManifestName[] = "manifest.txt";
constexpr const char kContainer[] = "bench";
constexpr const WCHAR kContainerWide[] = L"bench";
constexpr const WCHAR kProviderWide[] = L"Microsoft Enhanced Cryptographic Provider v1.0";

using Bytes = std::vector<BYTE>;

bool readFile(const std::string& path, Bytes* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

Bytes littleEndian(EVP_PKEY* key, const char* name, size_t length) {
    BIGNUM* number = nullptr;
    EVP_PKEY_get_bn_param(key, name, &number);
    Bytes out(length);
    BN_bn2lebinpad(number, out.data(), static_cast<int>(length));
    BN_clear_free(number);
    return out;
}

// The PRIVATEKEYBLOB of `key` as a key-exchange key: header, RSAPUBKEY, then n, p, q, dp, dq,
// qinv and d, least significant byte first.
Bytes buildKeyExchangeBlob(EVP_PKEY* key) {
    const int bits = EVP_PKEY_get_bits(key);
    const size_t k = static_cast<size_t>(bits) / 8;
    Bytes blob = {0x07, 0x02, 0x00, 0x00, 0x00, 0xA4, 0x00, 0x00, 'R', 'S', 'A', '2'};
    for (int i = 0; i < 4; ++i) {
        blob.push_back(static_cast<BYTE>((bits >> (8 * i)) & 0xFF));
    }
    const Bytes exponent = littleEndian(key, OSSL_PKEY_PARAM_RSA_E, 4);
    blob.insert(blob.end(), exponent.begin(), exponent.end());
    const std::pair<const char*, size_t> parts[] = {
            {OSSL_PKEY_PARAM_RSA_N, k},
            {OSSL_PKEY_PARAM_RSA_FACTOR1, k / 2},
            {OSSL_PKEY_PARAM_RSA_FACTOR2, k / 2},
            {OSSL_PKEY_PARAM_RSA_EXPONENT1, k / 2},
            {OSSL_PKEY_PARAM_RSA_EXPONENT2, k / 2},
            {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, k / 2},
            {OSSL_PKEY_PARAM_RSA_D, k},
    };
    for (const auto& [name, length] : parts) {
        const Bytes number = littleEndian(key, name, length);
        blob.insert(blob.end(), number.begin(), number.end());
    }
    return blob;
}

Bytes sha1Of(const Bytes& bytes) {
    Bytes digest(20);
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), nullptr, EVP_sha1(), nullptr);
    return digest;
}

// Adds `encoded` to `store`; a key entry naming the shared container when `keyEntry`.
bool addCertificate(HCERTSTORE store, const Bytes& encoded, bool keyEntry) {
    CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                  static_cast<DWORD>(encoded.size())));
    if (!cert) {
        return false;
    }
    if (keyEntry) {
        CRYPT_KEY_PROV_INFO info{};
        info.pwszContainerName = const_cast<LPWSTR>(kContainerWide);
        info.pwszProvName = const_cast<LPWSTR>(kProviderWide);
        info.dwProvType = PROV_RSA_FULL;
        info.dwKeySpec = AT_KEYEXCHANGE;
        if (!CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
            return false;
        }
    }
    return CertAddCertificateContextToStore(store, cert.get(), CERT_STORE_ADD_REPLACE_EXISTING,
                                            nullptr) != FALSE;
}

bool fail(const char* what) {
    std::fprintf(stderr, "bench store: %s\n", what);
    return false;
}

// The folder is the emulation's data folder, empty. The signing entry's certificate is drawn
// again until its thumbprint is below every other one of "MY": the emulation enumerates by
// descending thumbprint, so the signing entry comes last. The walk that checks this runs on a
// freshly opened store.
bool buildStore(const std::string& dataHome, int certificates, EVP_PKEY* signingKey,
                BenchStore* out) {
    if (!pointEmulationAt(dataHome)) {
        return fail("the emulation's root folder is not in the store's folder");
    }
    {
        ProviderContext container;
        if (!CryptAcquireContextA(container.out(), kContainer, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                  CRYPT_NEWKEYSET)) {
            return fail("the key container does not open");
        }
        const Bytes blob = buildKeyExchangeBlob(signingKey);
        KeyHandle key;
        if (!CryptImportKey(container.get(), blob.data(), static_cast<DWORD>(blob.size()), 0, 0,
                            key.out())) {
            return fail("the signing key does not import");
        }
    }
    StoreHandle personal(openStore("MY"));
    StoreHandle book(openStore("AddressBook"));
    if (!personal || !book) {
        return fail("the stores do not open");
    }
    const TestKey issuerKey = makeTestKey();
    const int keyEntries = certificates / 2;
    const int certificateEntries = certificates - keyEntries;
    long serial = 1;
    Bytes lowest(20, 0xFF);
    for (int i = 0; i + 1 < keyEntries; ++i) {
        const Bytes encoded = makeCertificate("Bench Key " + std::to_string(i), issuerKey.get(),
                                              "Bench Issuer", issuerKey.get(), serial++);
        lowest = std::min(lowest, sha1Of(encoded));
        if (!addCertificate(personal.get(), encoded, true)) {
            return fail("a key entry is not added");
        }
    }
    for (int i = 0; i < certificateEntries; ++i) {
        const Bytes encoded = makeCertificate("Bench Contact " + std::to_string(i), issuerKey.get(),
                                              "Bench Issuer", issuerKey.get(), serial++);
        if (!addCertificate(book.get(), encoded, false)) {
            return fail("a certificate entry is not added");
        }
    }
    Bytes signing;
    do {
        // Each signature of the issuer's (ECDSA) differs, and so does the thumbprint.
        signing = makeCertificate("Bench Signer", signingKey, "Bench Issuer", issuerKey.get(),
                                  serial);
    } while (sha1Of(signing) >= lowest);
    if (!addCertificate(personal.get(), signing, true)) {
        return fail("the signing entry is not added");
    }
    personal.reset();
    book.reset();

    out->dataHome = dataHome;
    out->certificates = certificates;
    out->keyEntries = keyEntries;
    out->certificateEntries = certificateEntries;
    out->missingAlias = "CN=Nobody,00";
    StoreHandle walked(openStore("MY"));
    CertContext cert;
    int position = 0;
    while (nextCertificate(walked.get(), cert)) {
        ++position;
        if (cert.get()->cbCertEncoded == signing.size() &&
            std::equal(signing.begin(), signing.end(), cert.get()->pbCertEncoded)) {
            out->signingAlias = buildEntryAlias(cert.get());
            out->signingPosition = position;
        }
    }
    if (out->signingAlias.empty() || position != keyEntries) {
        return fail("the signing entry is not found again");
    }
    return true;
}

void writeManifest(const BenchStore& store) {
    std::ofstream out(store.dataHome + "/" + kManifestName);
    out << "certificates=" << store.certificates << "\n"
        << "keyEntries=" << store.keyEntries << "\n"
        << "certificateEntries=" << store.certificateEntries << "\n"
        << "signingAlias=" << store.signingAlias << "\n"
        << "signingPosition=" << store.signingPosition << "\n"
        << "missingAlias=" << store.missingAlias << "\n"
        << "stamp=" << store.stamp << "\n";
}

bool readManifest(const std::string& dataHome, BenchStore* out) {
    std::ifstream in(dataHome + "/" + kManifestName);
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            values[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    if (values["stamp"].empty() || values["signingAlias"].empty()) {
        return false;
    }
    out->dataHome = dataHome;
    out->certificates = std::atoi(values["certificates"].c_str());
    out->keyEntries = std::atoi(values["keyEntries"].c_str());
    out->certificateEntries = std::atoi(values["certificateEntries"].c_str());
    out->signingAlias = values["signingAlias"];
    out->signingPosition = std::atoi(values["signingPosition"].c_str());
    out->missingAlias = values["missingAlias"];
    out->stamp = values["stamp"];
    return true;
}

}  // namespace

bool pointEmulationAt(const std::string& dataHome) {
    // The emulation takes XDG_DATA_HOME only when absolute, as the XDG rules have it, and falls
    // back to the user's own folder otherwise: never build a store there.
    std::error_code error;
    const std::string absolute = std::filesystem::absolute(dataHome, error).lexically_normal();
    if (error) {
        return false;
    }
    setenv("XDG_DATA_HOME", absolute.c_str(), 1);
    unsetenv("BRISVANDER_HOME");
    return emu::rootFolder() == absolute + "/brisvander";
}

std::string fingerprintInputs(const std::vector<std::string>& files, const std::string& recipe) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    std::vector<std::string> all = {"/proc/self/exe"};
    all.insert(all.end(), files.begin(), files.end());
    for (const std::string& path : all) {
        Bytes bytes;
        if (!readFile(path, &bytes)) {
            return "";
        }
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
    }
    EVP_DigestUpdate(context.get(), recipe.data(), recipe.size());
    unsigned char digest[32];
    EVP_DigestFinal_ex(context.get(), digest, nullptr);
    std::ostringstream hex;
    for (const unsigned char byte : digest) {
        static const char kDigits[] = "0123456789abcdef";
        hex << kDigits[byte >> 4] << kDigits[byte & 0xF];
    }
    return hex.str();
}

EVP_PKEY* readPrivateKey(const std::string& path) {
    Bytes der;
    if (!readFile(path, &der)) {
        return nullptr;
    }
    const unsigned char* at = der.data();
    return d2i_AutoPrivateKey(nullptr, &at, static_cast<long>(der.size()));
}

bool ensureStore(const std::string& dataHome, int certificates, EVP_PKEY* signingKey,
                 const std::string& stamp, BenchStore* out, bool* outBuilt) {
    *outBuilt = false;
    if (readManifest(dataHome, out) && out->stamp == stamp && out->certificates == certificates) {
        return pointEmulationAt(dataHome) || fail("the emulation does not take the folder");
    }
    namespace fs = std::filesystem;
    std::error_code error;
    // Only a folder of ours (with a manifest) or an empty one is replaced.
    if (fs::exists(dataHome, error) && !fs::is_empty(dataHome, error) &&
        !fs::exists(dataHome + "/" + kManifestName, error)) {
        std::fprintf(stderr, "bench store: %s holds something else; not replacing it\n",
                     dataHome.c_str());
        return false;
    }
    if (signingKey == nullptr) {
        return fail("no signing key to build the store with");
    }
    const std::string building = dataHome + ".building";
    fs::remove_all(building, error);
    fs::create_directories(building, error);
    if (error) {
        return fail("the folder cannot be made");
    }
    if (!buildStore(building, certificates, signingKey, out)) {
        return false;
    }
    fs::remove_all(dataHome, error);
    fs::rename(building, dataHome, error);
    if (error) {
        return fail("the built store cannot be moved into place");
    }
    out->dataHome = dataHome;
    out->stamp = stamp;
    writeManifest(*out);
    *outBuilt = true;
    return pointEmulationAt(dataHome) || fail("the emulation does not take the folder");
}

bool findStore(const std::string& dataHome, BenchStore* out) {
    return readManifest(dataHome, out) && pointEmulationAt(dataHome);
}
