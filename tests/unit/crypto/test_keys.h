// RSA key pairs made in the test run, in the forms the library and the platform take: the CRT
// key info's numbers, the PRIVATEKEYBLOB, the PKCS #1 public key; and OpenSSL's own operations
// over them, to check what the library makes against the rest of the world.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "platform/api.h"

using Bytes = std::vector<BYTE>;

struct RsaTestKey {
    std::shared_ptr<EVP_PKEY> pair;
    std::vector<Bytes> crt;  // n, p, q, dp, dq, qinv, d, e: little-endian, zero-padded
    Bytes publicKey;         // DER of the PKCS #1 RSAPublicKey
    Bytes blob;              // PRIVATEKEYBLOB, CALG_RSA_KEYX

    size_t modulusLength() const { return crt[0].size(); }

    // blobFor is the PRIVATEKEYBLOB of this key under another key algorithm.
    Bytes blobFor(ALG_ID algorithm) const {
        Bytes changed = blob;
        for (int i = 0; i < 4; ++i) {
            changed[4 + i] = static_cast<BYTE>(algorithm >> (8 * i));
        }
        return changed;
    }
};

inline Bytes littleEndian(EVP_PKEY* pair, const char* name, size_t length) {
    BIGNUM* number = nullptr;
    EVP_PKEY_get_bn_param(pair, name, &number);
    Bytes out(length);
    BN_bn2lebinpad(number, out.data(), static_cast<int>(length));
    BN_clear_free(number);
    return out;
}

inline RsaTestKey makeRsaTestKey(unsigned bits) {
    RsaTestKey key;
    key.pair.reset(EVP_RSA_gen(bits), EVP_PKEY_free);
    const size_t k = bits / 8;
    const char* names[] = {
            OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_FACTOR1,
            OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
            OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1,
            OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_E,
    };
    const size_t lengths[] = {k, k / 2, k / 2, k / 2, k / 2, k / 2, k, 4};
    for (int i = 0; i < 8; ++i) {
        key.crt.push_back(littleEndian(key.pair.get(), names[i], lengths[i]));
    }
    unsigned char* encoded = nullptr;
    const int length = i2d_PublicKey(key.pair.get(), &encoded);
    key.publicKey.assign(encoded, encoded + length);
    OPENSSL_free(encoded);
    key.blob = {0x07, 0x02, 0x00, 0x00, 0x00, 0xA4, 0x00, 0x00, 'R', 'S', 'A', '2'};
    for (int i = 0; i < 4; ++i) {
        key.blob.push_back(static_cast<BYTE>((bits >> (8 * i)) & 0xFF));
    }
    key.blob.insert(key.blob.end(), key.crt[7].begin(), key.crt[7].end());
    for (int i = 0; i < 7; ++i) {
        key.blob.insert(key.blob.end(), key.crt[i].begin(), key.crt[i].end());
    }
    return key;
}

// testKey is a key pair of `bits` bits, made once per run; `which` tells apart pairs of one size.
inline const RsaTestKey& testKey(unsigned bits = 1024, int which = 0) {
    static std::map<std::pair<unsigned, int>, RsaTestKey> made;
    const auto found = made.find({bits, which});
    if (found != made.end()) {
        return found->second;
    }
    return made.emplace(std::make_pair(bits, which), makeRsaTestKey(bits)).first->second;
}

inline Bytes reversed(Bytes bytes) {
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

// opensslSign is OpenSSL's PKCS #1 v1.5 signature of `data` (big-endian, as PKCS #1 has it).
inline Bytes opensslSign(const RsaTestKey& key, const EVP_MD* digest, const Bytes& data) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    size_t length = 0;
    EVP_DigestSignInit(context.get(), nullptr, digest, nullptr, key.pair.get());
    EVP_DigestSign(context.get(), nullptr, &length, data.data(), data.size());
    Bytes signature(length);
    EVP_DigestSign(context.get(), signature.data(), &length, data.data(), data.size());
    signature.resize(length);
    return signature;
}

// opensslRecover undoes the PKCS #1 v1.5 signature (big-endian) with the public key and answers
// what was signed: the DigestInfo. Empty when it does not verify.
inline Bytes opensslRecover(const RsaTestKey& key, const Bytes& signature) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
            EVP_PKEY_CTX_new(key.pair.get(), nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY_verify_recover_init(context.get());
    EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING);
    Bytes recovered(key.modulusLength());
    size_t length = recovered.size();
    if (EVP_PKEY_verify_recover(context.get(), recovered.data(), &length, signature.data(),
                                signature.size()) <= 0) {
        return {};
    }
    recovered.resize(length);
    return recovered;
}

// opensslEncrypt and opensslDecrypt are OpenSSL's RSA PKCS #1 v1.5 cipher, big-endian cipher
// texts. A failed decryption answers an empty vector.
inline Bytes opensslEncrypt(const RsaTestKey& key, const Bytes& plain) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
            EVP_PKEY_CTX_new(key.pair.get(), nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY_encrypt_init(context.get());
    EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING);
    Bytes cipher(key.modulusLength());
    size_t length = cipher.size();
    EVP_PKEY_encrypt(context.get(), cipher.data(), &length, plain.data(), plain.size());
    cipher.resize(length);
    return cipher;
}

inline Bytes opensslDecrypt(const RsaTestKey& key, const Bytes& cipher) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
            EVP_PKEY_CTX_new(key.pair.get(), nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY_decrypt_init(context.get());
    EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING);
    Bytes plain(key.modulusLength());
    size_t length = plain.size();
    if (EVP_PKEY_decrypt(context.get(), plain.data(), &length, cipher.data(), cipher.size()) <= 0) {
        return {};
    }
    plain.resize(length);
    return plain;
}

// The DigestInfo prefixes of PKCS #1, followed in a signature by the digest itself.
inline const Bytes kSha1DigestInfo = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                      0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
inline const Bytes kMd2DigestInfo = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                     0x86, 0xf7, 0x0d, 0x02, 0x02, 0x05, 0x00, 0x04, 0x10};
