// A child process for the durability tests: adds generated certificates to "MY" through the
// emulation and reports each one on standard output once its add has returned.
//   store_writer add SEED COUNT         add COUNT certificates
//   store_writer add-delete SEED COUNT  add them, deleting each odd-numbered one right after

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "platform/api.h"
#include "platform/handles.h"

namespace {

std::vector<BYTE> makeCertificate(EVP_PKEY* key, long seed, long index) {
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), seed * 1000000 + index);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * 365);
    const std::string commonName = "Writer " + std::to_string(seed) + " " + std::to_string(index);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key);
    X509_sign(cert.get(), key, EVP_sha256());
    unsigned char* encoded = nullptr;
    const int length = i2d_X509(cert.get(), &encoded);
    std::vector<BYTE> bytes(encoded, encoded + length);
    OPENSSL_free(encoded);
    return bytes;
}

std::string hexOf(const BYTE* bytes, size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: store_writer add|add-delete SEED COUNT\n");
        return 2;
    }
    const bool deleteOdd = std::strcmp(argv[1], "add-delete") == 0;
    const long seed = std::atol(argv[2]);
    const long count = std::atol(argv[3]);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    StoreHandle store(
            CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
    if (!key || !store) {
        return 1;
    }
    for (long index = 0; index < count; ++index) {
        const std::vector<BYTE> bytes = makeCertificate(key.get(), seed, index);
        CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, bytes.data(),
                                                      static_cast<DWORD>(bytes.size())));
        CertContext stored;
        if (!cert ||
            !CertAddCertificateContextToStore(store.get(), cert.get(),
                                              CERT_STORE_ADD_REPLACE_EXISTING, stored.out())) {
            return 1;
        }
        BYTE hash[20];
        DWORD size = sizeof(hash);
        CertGetCertificateContextProperty(stored.get(), CERT_SHA1_HASH_PROP_ID, hash, &size);
        const bool remove = deleteOdd && index % 2 == 1;
        if (remove && !CertDeleteCertificateFromStore(stored.release())) {
            return 1;
        }
        std::printf("%s %s\n", remove ? "deleted" : "added", hexOf(hash, size).c_str());
        std::fflush(stdout);
    }
    return 0;
}
