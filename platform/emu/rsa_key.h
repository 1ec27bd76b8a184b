// RSA keys of the emulation on OpenSSL: built from CryptoAPI key blobs and public key encodings,
// and the PKCS #1 v1.5 operations, in the platform's little-endian byte order.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include <openssl/evp.h>

#include "platform/api.h"

namespace emu {

template <auto Free>
struct FreeWith {
    template <typename Object>
    void operator()(Object* object) const {
        Free(object);
    }
};

using PrivateOrPublicKey = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;

// Bytes that held key material or plain text: zeroed before their memory goes back.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(size_t length) : bytes_(length) {}
    SecretBytes(const BYTE* bytes, size_t length) : bytes_(bytes, bytes + length) {}
    SecretBytes(const SecretBytes& other) : bytes_(other.bytes_) {}
    SecretBytes& operator=(const SecretBytes& other);
    ~SecretBytes() { wipe(); }
    BYTE* data() { return bytes_.data(); }
    const BYTE* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    void wipe();

private:
    std::vector<BYTE> bytes_;
};

// An RSA key as a key handle or a key slot holds it.
struct RsaKey {
    PrivateOrPublicKey key;
    DWORD bitLength = 0;  // as the blob or the modulus gives it; a multiple of 8
    ALG_ID algorithm = CALG_RSA_KEYX;
    bool hasPrivate = false;
    size_t modulusLength() const { return bitLength / 8; }
};

// The key sizes the platform's RSA providers accept, in bits.
constexpr DWORD kMinimumKeyBits = 384;
constexpr DWORD kMaximumKeyBits = 16384;

// parsePrivateKeyBlob reads a PRIVATEKEYBLOB (header, "RSA2", n, p, q, dp, dq, qinv, d, each
// little-endian) into a key. Returns null with `outError` set (NTE_BAD_DATA, NTE_BAD_ALGID,
// NTE_BAD_TYPE) for a blob that is not one, too short for its bit length, or a key size the
// providers refuse. The CRT numbers are not checked against each other, as on the platform.
// The same blob read again gives the same key, which OpenSSL has already made ready for use.
std::shared_ptr<const RsaKey> parsePrivateKeyBlob(const BYTE* blob, size_t length,
                                                  HRESULT* outError);

// parseRsaPublicKey reads the DER of a PKCS #1 RSAPublicKey. Returns null with the decoder's
// error (CRYPT_E_ASN1_EOD, CRYPT_E_ASN1_BADTAG, CRYPT_E_ASN1_CORRUPT) in `outError`, or
// NTE_BAD_DATA for numbers that make no usable key. The same encoding read again gives the
// same key.
std::shared_ptr<const RsaKey> parseRsaPublicKey(const BYTE* encoded, size_t length,
                                                HRESULT* outError);

// signDigestInfo makes the PKCS #1 v1.5 signature (block type 1) of `digestInfo` and writes
// it least significant byte first into `out`, modulusLength() bytes. Returns false on an
// OpenSSL failure.
bool signDigestInfo(const RsaKey& key, const std::vector<BYTE>& digestInfo, BYTE* out);

// verifyDigestInfo tells whether the little-endian `signature` of modulusLength() bytes is the
// PKCS #1 v1.5 signature of `digestInfo` under `key`.
bool verifyDigestInfo(const RsaKey& key, const std::vector<BYTE>& digestInfo,
                      const BYTE* signature);

// encryptPkcs1 encrypts `plainText` (at most modulusLength() - 11 bytes) with random block
// type 2 padding into `out`, modulusLength() bytes, least significant byte first.
bool encryptPkcs1(const RsaKey& key, const BYTE* plainText, size_t plainLength, BYTE* out);

// decryptPkcs1 decrypts the little-endian `cipherText` of modulusLength() bytes into
// `outPlain`. Returns false for a bad padding, which is what a wrong key or a cipher text in
// the other byte order give: never a made-up plain text.
bool decryptPkcs1(const RsaKey& key, const BYTE* cipherText, SecretBytes* outPlain);

}  // namespace emu
