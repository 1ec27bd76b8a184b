// RSA keys and PKCS #1 v1.5 operations of the emulation, on OpenSSL's libcrypto.

#include "platform/emu/rsa_key.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/rsa.h>

#include "platform/emu/der.h"
#include "platform/emu/emulation.h"

// OpenSSL reads an unsigned integer parameter in the host's byte order; the blob's numbers are
// little-endian, so they go in as they stand only on a little-endian host.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the emulation runs little-endian");

namespace emu {

namespace {

using KeyContext = std::unique_ptr<EVP_PKEY_CTX, FreeWith<EVP_PKEY_CTX_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, FreeWith<OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, FreeWith<OSSL_PARAM_free>>;
using Number = std::unique_ptr<BIGNUM, FreeWith<BN_free>>;

constexpr DWORD kPrivateKeyMagic = 0x32415352;  // "RSA2"
constexpr size_t kHeaderLength = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);

DWORD readNumber(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | (static_cast<DWORD>(at[1]) << 8) |
           (static_cast<DWORD>(at[2]) << 16) | (static_cast<DWORD>(at[3]) << 24);
}

PrivateOrPublicKey keyFromParams(OSSL_PARAM* params, int selection) {
    KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) <= 0 ||
        EVP_PKEY_fromdata(context.get(), &key, selection, params) <= 0) {
        return nullptr;
    }
    return PrivateOrPublicKey(key);
}

using Initializer = int (*)(EVP_PKEY_CTX*);

// A context for one operation with PKCS #1 v1.5 padding and no digest of its own: the caller
// hands in the DigestInfo itself, as the platform builds it.
KeyContext newOperation(const RsaKey& key, Initializer init) {
    KeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, key.key.get(), nullptr));
    if (!context || init(context.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) <= 0) {
        return nullptr;
    }
    if (init == EVP_PKEY_decrypt_init) {
        // An OpenSSL with implicit rejection answers a bad padding with a made-up plain text;
        // the platform answers it with an error, which callers rely on. Older versions ignore
        // the name.
        unsigned int implicitRejection = 0;
        OSSL_PARAM params[] = {
                OSSL_PARAM_construct_uint("implicit-rejection", &implicitRejection),
                OSSL_PARAM_construct_end(),
        };
        if (EVP_PKEY_CTX_set_params(context.get(), params) <= 0) {
            return nullptr;
        }
    }
    return context;
}

// Setting up an operation costs OpenSSL as much as a 1024-bit verification itself, so each
// thread keeps its last few, ready for the same key and operation again. A context holds a
// reference on its key, so no other key can come to the same address while it is kept.
EVP_PKEY_CTX* startOperation(const RsaKey& key, Initializer init) {
    struct Prepared {
        const EVP_PKEY* key;
        Initializer init;
        KeyContext context;
    };
    constexpr size_t kKept = 8;
    thread_local std::deque<Prepared> prepared;
    for (auto entry = prepared.begin(); entry != prepared.end(); ++entry) {
        if (entry->key == key.key.get() && entry->init == init) {
            if (entry != prepared.begin()) {
                std::rotate(prepared.begin(), entry, entry + 1);
            }
            return prepared.front().context.get();
        }
    }
    KeyContext context = newOperation(key, init);
    if (!context) {
        return nullptr;
    }
    prepared.push_front(Prepared{key.key.get(), init, std::move(context)});
    if (prepared.size() > kKept) {
        prepared.pop_back();
    }
    return prepared.front().context.get();
}

void reverseInto(const BYTE* from, size_t length, BYTE* to) {
    std::reverse_copy(from, from + length, to);
}

// The keys imported last, by the bytes they came from. A key that OpenSSL builds afresh must
// work out its Montgomery and blinding values on its first use, which costs as much as the
// operation itself; callers that import the same key on every call (as each signing call with
// CRT key info does) take the prepared key instead. The private bytes are wiped when a key
// leaves, and OpenSSL clears the key's own numbers when it frees them.
class KeyCache {
public:
    std::shared_ptr<const RsaKey> find(const BYTE* bytes, size_t length) {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
            if (entry->bytes.size() == length &&
                std::memcmp(entry->bytes.data(), bytes, length) == 0) {
                std::shared_ptr<const RsaKey> key = entry->key;
                if (entry != entries_.begin()) {
                    std::rotate(entries_.begin(), entry, entry + 1);
                }
                return key;
            }
        }
        return nullptr;
    }

    void keep(const BYTE* bytes, size_t length, std::shared_ptr<const RsaKey> key) {
        std::lock_guard<std::mutex> guard(lock_);
        entries_.push_front(Entry{SecretBytes(bytes, length), std::move(key)});
        if (entries_.size() > kCapacity) {
            entries_.pop_back();
        }
    }

private:
    static constexpr size_t kCapacity = 16;
    struct Entry {
        SecretBytes bytes;
        std::shared_ptr<const RsaKey> key;
    };
    std::mutex lock_;
    std::deque<Entry> entries_;
};

KeyCache privateKeys;
KeyCache publicKeys;

}  // namespace

SecretBytes& SecretBytes::operator=(const SecretBytes& other) {
    if (this != &other) {
        wipe();
        bytes_ = other.bytes_;
    }
    return *this;
}

void SecretBytes::wipe() {
    if (!bytes_.empty()) {
        wipeBytes(bytes_.data(), bytes_.size());
    }
}

std::shared_ptr<const RsaKey> parsePrivateKeyBlob(const BYTE* blob, size_t length,
                                                  HRESULT* outError) {
    *outError = NTE_BAD_DATA;
    if (blob == nullptr || length < kHeaderLength) {
        return nullptr;
    }
    const BYTE type = blob[0];
    const ALG_ID algorithm = readNumber(blob + 4);
    if (type != PRIVATEKEYBLOB || blob[1] != CUR_BLOB_VERSION ||
        readNumber(blob + 8) != kPrivateKeyMagic) {
        return nullptr;
    }
    if (algorithm != CALG_RSA_KEYX && algorithm != CALG_RSA_SIGN) {
        *outError = NTE_BAD_ALGID;
        return nullptr;
    }
    const DWORD bitLength = readNumber(blob + 12);
    if (bitLength < kMinimumKeyBits || bitLength > kMaximumKeyBits || bitLength % 8 != 0) {
        return nullptr;
    }
    const size_t modulusLength = bitLength / 8;
    const size_t halfLength = (bitLength + 15) / 16;
    const size_t used = kHeaderLength + 2 * modulusLength + 5 * halfLength;
    if (length < used) {
        return nullptr;
    }
    if (std::shared_ptr<const RsaKey> known = privateKeys.find(blob, used)) {
        return known;
    }
    // A copy of the numbers, so that OpenSSL reads them from memory wiped afterwards.
    SecretBytes numbers(blob + kHeaderLength, 2 * modulusLength + 5 * halfLength);
    BYTE* next = numbers.data();
    if (next[modulusLength - 1] == 0) {
        return nullptr;  // the modulus must fill its bit length, or sizes would disagree
    }
    BYTE exponent[4];
    std::memcpy(exponent, blob + 16, sizeof(exponent));
    const struct {
        const char* name;
        size_t length;
    } fields[] = {
            {OSSL_PKEY_PARAM_RSA_N, modulusLength},
            {OSSL_PKEY_PARAM_RSA_FACTOR1, halfLength},
            {OSSL_PKEY_PARAM_RSA_FACTOR2, halfLength},
            {OSSL_PKEY_PARAM_RSA_EXPONENT1, halfLength},
            {OSSL_PKEY_PARAM_RSA_EXPONENT2, halfLength},
            {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, halfLength},
            {OSSL_PKEY_PARAM_RSA_D, modulusLength},
    };
    OSSL_PARAM params[9];
    size_t count = 0;
    for (const auto& field : fields) {
        params[count++] = OSSL_PARAM_construct_BN(field.name, next, field.length);
        next += field.length;
    }
    params[count++] = OSSL_PARAM_construct_BN(OSSL_PKEY_PARAM_RSA_E, exponent, sizeof(exponent));
    params[count] = OSSL_PARAM_construct_end();
    auto key = std::make_shared<RsaKey>();
    key->key = keyFromParams(params, EVP_PKEY_KEYPAIR);
    if (!key->key) {
        return nullptr;
    }
    key->bitLength = bitLength;
    key->algorithm = algorithm;
    key->hasPrivate = true;
    privateKeys.keep(blob, used, key);
    return key;
}

std::shared_ptr<const RsaKey> parseRsaPublicKey(const BYTE* encoded, size_t length,
                                                HRESULT* outError) {
    if (std::shared_ptr<const RsaKey> known = publicKeys.find(encoded, length)) {
        return known;
    }
    DerReader outer(encoded, encoded + length);
    DerElement sequence;
    if (!outer.read(kTagSequence, &sequence)) {
        *outError = outer.error();
        return nullptr;
    }
    DerReader inner(sequence.content, sequence.content + sequence.contentLength);
    DerElement modulus;
    DerElement exponent;
    if (!inner.read(kTagInteger, &modulus) || !inner.read(kTagInteger, &exponent)) {
        *outError = inner.error();
        return nullptr;
    }
    // Both numbers are read as unsigned, as the platform reads them.
    Number n(BN_bin2bn(modulus.content, static_cast<int>(modulus.contentLength), nullptr));
    Number e(BN_bin2bn(exponent.content, static_cast<int>(exponent.contentLength), nullptr));
    *outError = NTE_BAD_DATA;
    if (!n || !e || BN_is_zero(n.get()) || BN_is_zero(e.get())) {
        return nullptr;
    }
    ParamBuilder builder(OSSL_PARAM_BLD_new());
    if (!builder || !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) ||
        !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get())) {
        return nullptr;
    }
    Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    if (!params) {
        return nullptr;
    }
    auto key = std::make_shared<RsaKey>();
    key->key = keyFromParams(params.get(), EVP_PKEY_PUBLIC_KEY);
    if (!key->key) {
        return nullptr;
    }
    key->bitLength = static_cast<DWORD>(BN_num_bytes(n.get())) * 8;
    key->algorithm = CALG_RSA_KEYX;
    publicKeys.keep(encoded, length, key);
    return key;
}

bool signDigestInfo(const RsaKey& key, const std::vector<BYTE>& digestInfo, BYTE* out) {
    EVP_PKEY_CTX* context = startOperation(key, EVP_PKEY_sign_init);
    size_t length = key.modulusLength();
    std::vector<BYTE> signature(length);
    if (context == nullptr ||
        EVP_PKEY_sign(context, signature.data(), &length, digestInfo.data(), digestInfo.size()) <=
                0 ||
        length != key.modulusLength()) {
        return false;
    }
    reverseInto(signature.data(), length, out);
    return true;
}

bool verifyDigestInfo(const RsaKey& key, const std::vector<BYTE>& digestInfo,
                      const BYTE* signature) {
    EVP_PKEY_CTX* context = startOperation(key, EVP_PKEY_verify_init);
    std::vector<BYTE> bigEndian(key.modulusLength());
    reverseInto(signature, bigEndian.size(), bigEndian.data());
    return context != nullptr && EVP_PKEY_verify(context, bigEndian.data(), bigEndian.size(),
                                                 digestInfo.data(), digestInfo.size()) == 1;
}

bool encryptPkcs1(const RsaKey& key, const BYTE* plainText, size_t plainLength, BYTE* out) {
    EVP_PKEY_CTX* context = startOperation(key, EVP_PKEY_encrypt_init);
    size_t length = key.modulusLength();
    std::vector<BYTE> cipherText(length);
    if (context == nullptr ||
        EVP_PKEY_encrypt(context, cipherText.data(), &length, plainText, plainLength) <= 0 ||
        length != key.modulusLength()) {
        return false;
    }
    reverseInto(cipherText.data(), length, out);
    return true;
}

bool decryptPkcs1(const RsaKey& key, const BYTE* cipherText, SecretBytes* outPlain) {
    EVP_PKEY_CTX* context = startOperation(key, EVP_PKEY_decrypt_init);
    if (context == nullptr) {
        return false;
    }
    std::vector<BYTE> bigEndian(key.modulusLength());
    reverseInto(cipherText, bigEndian.size(), bigEndian.data());
    SecretBytes plain(key.modulusLength());
    size_t length = plain.size();
    if (EVP_PKEY_decrypt(context, plain.data(), &length, bigEndian.data(), bigEndian.size()) <= 0) {
        return false;
    }
    *outPlain = SecretBytes(plain.data(), length);
    return true;
}

}  // namespace emu
