// Certificates made on the fly for tests: names, issuers and keys chosen by the test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "platform/api.h"

using TestKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

inline TestKey makeTestKey() { return TestKey(EVP_EC_gen("P-256"), EVP_PKEY_free); }

// makeCertificate issues a certificate for `subject` (a CN), signed by `issuerKey` under the
// issuer name `issuer`. The subject's key is `subjectKey`; pass the same key for both to make a
// self-signed one. When `keyIds` is set, the certificate names its own key and its issuer's.
inline std::vector<BYTE> makeCertificate(const std::string& subject, EVP_PKEY* subjectKey,
                                         const std::string& issuer, EVP_PKEY* issuerKey,
                                         long serial, bool keyIds = false, long validDays = 365) {
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), validDays >= 0 ? -3600 : -86400L * 30);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * validDays);
    const auto setName = [](X509_NAME* name, const std::string& text) {
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(text.c_str()), -1, -1, 0);
    };
    setName(X509_get_subject_name(cert.get()), subject);
    setName(X509_get_issuer_name(cert.get()), issuer);
    X509_set_pubkey(cert.get(), subjectKey);
    if (keyIds) {
        std::unique_ptr<X509, decltype(&X509_free)> issuerStandIn(X509_new(), X509_free);
        X509_set_pubkey(issuerStandIn.get(), issuerKey);
        X509V3_CTX context;
        X509V3_set_ctx(&context, issuerStandIn.get(), cert.get(), nullptr, nullptr, 0);
        X509V3_set_ctx_nodb(&context);
        if (X509_EXTENSION* ski =
                    X509V3_EXT_conf_nid(nullptr, &context, NID_subject_key_identifier, "hash")) {
            X509_add_ext(cert.get(), ski, -1);
            X509_EXTENSION_free(ski);
        }
        // The authority key identifier is the issuer key's SHA-1, as the SKI of the issuer.
        unsigned char digest[20];
        unsigned int digestLength = 0;
        X509_pubkey_digest(issuerStandIn.get(), EVP_sha1(), digest, &digestLength);
        AUTHORITY_KEYID* authority = AUTHORITY_KEYID_new();
        authority->keyid = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(authority->keyid, digest, static_cast<int>(digestLength));
        X509_add1_ext_i2d(cert.get(), NID_authority_key_identifier, authority, 0,
                          X509V3_ADD_DEFAULT);
        AUTHORITY_KEYID_free(authority);
    }
    X509_sign(cert.get(), issuerKey, EVP_sha256());
    unsigned char* encoded = nullptr;
    const int length = i2d_X509(cert.get(), &encoded);
    std::vector<BYTE> bytes(encoded, encoded + length);
    OPENSSL_free(encoded);
    return bytes;
}
