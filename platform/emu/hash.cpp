// Hash objects (SHA-1 and MD5 from OpenSSL, MD2 from Nettle, which Debian's OpenSSL leaves
// out), and RSA signatures over them with the key in a slot of the hash's context.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nettle/md2.h>
#include <openssl/evp.h>

#include "platform/api.h"
#include "platform/emu/emulation.h"
#include "platform/emu/key_state.h"
#include "platform/emu/provider_state.h"
#include "platform/emu/rsa_key.h"

namespace emu {

namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;

struct HashState {
    std::shared_ptr<ProviderState> provider;
    ALG_ID algorithm = 0;
    std::mutex lock;
    DigestContext digest;  // SHA-1 and MD5
    md2_ctx md2{};
    // Once the value has been taken for a signature the hash takes no more data.
    bool finished = false;
    std::vector<BYTE> value;
};

struct Algorithm {
    ALG_ID id;
    const EVP_MD* (*openssl)();  // null for MD2
    // The DER of the DigestInfo up to the digest itself.
    std::vector<BYTE> digestInfoPrefix;
};

const std::vector<Algorithm>& algorithms() {
    static const std::vector<Algorithm> table = {
            {CALG_SHA1,
             EVP_sha1,
             {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04,
              0x14}},
            {CALG_MD5,
             EVP_md5,
             {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x05,
              0x05, 0x00, 0x04, 0x10}},
            {CALG_MD2,
             nullptr,
             {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x02,
              0x05, 0x00, 0x04, 0x10}},
    };
    return table;
}

const Algorithm* findAlgorithm(ALG_ID id) {
    for (const Algorithm& algorithm : algorithms()) {
        if (algorithm.id == id) {
            return &algorithm;
        }
    }
    return nullptr;
}

std::mutex hashesLock;
std::map<HCRYPTHASH, std::shared_ptr<HashState>> hashes;
HCRYPTHASH nextHash = 0x20000000;

std::shared_ptr<HashState> findHash(HCRYPTHASH handle) {
    std::lock_guard<std::mutex> guard(hashesLock);
    const auto found = hashes.find(handle);
    return found == hashes.end() ? nullptr : found->second;
}

// The DigestInfo of the hash's value, finishing the hash at its first use. Call with the
// hash's lock held.
bool takeDigestInfo(HashState& hash, std::vector<BYTE>* out) {
    if (!hash.finished) {
        if (hash.algorithm == CALG_MD2) {
            hash.value.resize(MD2_DIGEST_SIZE);
            md2_digest(&hash.md2, hash.value.size(), hash.value.data());
        } else {
            unsigned int length = EVP_MAX_MD_SIZE;
            hash.value.resize(length);
            if (EVP_DigestFinal_ex(hash.digest.get(), hash.value.data(), &length) != 1) {
                return false;
            }
            hash.value.resize(length);
        }
        hash.finished = true;
    }
    *out = findAlgorithm(hash.algorithm)->digestInfoPrefix;
    out->insert(out->end(), hash.value.begin(), hash.value.end());
    return true;
}

}  // namespace

}  // namespace emu

BOOL CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags,
                     HCRYPTHASH* outHash) {
    if (outHash == nullptr) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    *outHash = 0;
    std::shared_ptr<emu::ProviderState> state = emu::findProvider(provider);
    if (state == nullptr) {
        return emu::failWith(NTE_BAD_UID);
    }
    const emu::Algorithm* found = emu::findAlgorithm(algorithm);
    if (found == nullptr) {
        return emu::failWith(NTE_BAD_ALGID);
    }
    if (key != 0) {
        return emu::failWith(NTE_BAD_KEY);  // only keyed hashes take a key
    }
    if (flags != 0) {
        return emu::failWith(NTE_BAD_FLAGS);
    }
    if (emu::failsByFault("CryptCreateHash", "", NTE_BAD_ALGID)) {
        return FALSE;
    }
    auto hash = std::make_shared<emu::HashState>();
    hash->provider = std::move(state);
    hash->algorithm = algorithm;
    if (found->openssl == nullptr) {
        md2_init(&hash->md2);
    } else {
        hash->digest.reset(EVP_MD_CTX_new());
        if (!hash->digest ||
            EVP_DigestInit_ex(hash->digest.get(), found->openssl(), nullptr) != 1) {
            return emu::failWith(NTE_FAIL);
        }
    }
    std::lock_guard<std::mutex> guard(emu::hashesLock);
    *outHash = emu::nextHash++;
    emu::hashes.emplace(*outHash, std::move(hash));
    emu::countHash(1);
    return TRUE;
}

BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD dataLength, DWORD flags) {
    const std::shared_ptr<emu::HashState> found = emu::findHash(hash);
    if (found == nullptr || (data == nullptr && dataLength != 0)) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    if (flags != 0) {
        return emu::failWith(NTE_BAD_FLAGS);
    }
    if (emu::failsByFault("CryptHashData", "", NTE_BAD_HASH_STATE)) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(found->lock);
    if (found->finished) {
        return emu::failWith(NTE_BAD_HASH_STATE);
    }
    if (dataLength == 0) {
        return TRUE;
    }
    if (found->algorithm == CALG_MD2) {
        md2_update(&found->md2, dataLength, data);
    } else if (EVP_DigestUpdate(found->digest.get(), data, dataLength) != 1) {
        return emu::failWith(NTE_FAIL);
    }
    return TRUE;
}

BOOL CryptSignHashA(HCRYPTHASH hash, DWORD keySpec, LPCSTR description, DWORD flags,
                    BYTE* signature, DWORD* signatureLength) {
    (void)description;  // the platform ignores it
    const std::shared_ptr<emu::HashState> found = emu::findHash(hash);
    if (found == nullptr || signatureLength == nullptr) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    if (flags != 0) {
        return emu::failWith(NTE_BAD_FLAGS);
    }
    if (emu::failsByFault("CryptSignHashA", signature == nullptr ? "query" : "sign", NTE_NO_KEY)) {
        return FALSE;
    }
    HRESULT error = 0;
    const std::shared_ptr<const emu::RsaKey> key =
            emu::loadSlotKey(*found->provider, keySpec, &error);
    if (key == nullptr) {
        return emu::failWith(error);
    }
    const DWORD needed = static_cast<DWORD>(key->modulusLength());
    // The size query leaves the hash open, so that the same hash can then be signed.
    if (signature == nullptr) {
        *signatureLength = needed;
        return TRUE;
    }
    if (*signatureLength < needed) {
        *signatureLength = needed;
        return emu::failWith(static_cast<HRESULT>(ERROR_MORE_DATA));
    }
    std::vector<BYTE> digestInfo;
    {
        std::lock_guard<std::mutex> guard(found->lock);
        if (!emu::takeDigestInfo(*found, &digestInfo)) {
            return emu::failWith(NTE_FAIL);
        }
    }
    if (!emu::signDigestInfo(*key, digestInfo, signature)) {
        return emu::failWith(NTE_FAIL);
    }
    *signatureLength = needed;
    return TRUE;
}

BOOL CryptVerifySignatureA(HCRYPTHASH hash, const BYTE* signature, DWORD signatureLength,
                           HCRYPTKEY publicKey, LPCSTR description, DWORD flags) {
    (void)description;
    const std::shared_ptr<emu::HashState> found = emu::findHash(hash);
    const std::shared_ptr<const emu::RsaKey> key = emu::findKey(publicKey);
    if (found == nullptr || key == nullptr) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    if (flags != 0) {
        return emu::failWith(NTE_BAD_FLAGS);
    }
    std::vector<BYTE> digestInfo;
    {
        std::lock_guard<std::mutex> guard(found->lock);
        if (!emu::takeDigestInfo(*found, &digestInfo)) {
            return emu::failWith(NTE_FAIL);
        }
    }
    if (signature == nullptr || signatureLength != key->modulusLength() ||
        !emu::verifyDigestInfo(*key, digestInfo, signature)) {
        return emu::failWith(NTE_BAD_SIGNATURE);
    }
    return TRUE;
}

BOOL CryptDestroyHash(HCRYPTHASH hash) {
    std::lock_guard<std::mutex> guard(emu::hashesLock);
    if (emu::hashes.erase(hash) == 0) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    emu::countHash(-1);
    return TRUE;
}
