// RSA key import, the two key slots of a context, key parameters, and RSA encryption and
// decryption. A container keeps its slots in its file (the magic, then per slot its key spec,
// the blob's length and the PRIVATEKEYBLOB itself); a verify-only context keeps them in memory.

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/api.h"
#include "platform/emu/emulation.h"
#include "platform/emu/key_state.h"
#include "platform/emu/provider_state.h"
#include "platform/emu/rsa_key.h"

namespace emu {

namespace {

// Through the Base provider a key-exchange key may have at most this many bits.
constexpr DWORD kBaseExchangeKeyBits = 1024;

std::mutex keysLock;
std::map<HCRYPTKEY, std::shared_ptr<const RsaKey>> keys;
HCRYPTKEY nextKey = 0x10000000;

using Slots = std::map<DWORD, SecretBytes>;

HCRYPTKEY registerKey(std::shared_ptr<const RsaKey> key) {
    std::lock_guard<std::mutex> guard(keysLock);
    const HCRYPTKEY handle = nextKey++;
    keys.emplace(handle, std::move(key));
    countKey(1);
    return handle;
}

DWORD readNumber(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | (static_cast<DWORD>(at[1]) << 8) |
           (static_cast<DWORD>(at[2]) << 16) | (static_cast<DWORD>(at[3]) << 24);
}

void putNumber(SecretBytes* out, size_t at, DWORD value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out->data()[at++] = static_cast<BYTE>(value >> shift);
    }
}

// Reads a whole file into one block of its size, so that no copy of the keys is left behind
// in memory that is not wiped.
bool readSecretFile(const std::string& path, SecretBytes* out) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    struct stat info;
    bool complete = fstat(descriptor, &info) == 0 && info.st_size >= 0;
    if (complete) {
        SecretBytes file(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (complete && done < file.size()) {
            const ssize_t result = read(descriptor, file.data() + done, file.size() - done);
            if (result < 0 && errno == EINTR) {
                continue;
            }
            complete = result > 0;
            done += complete ? static_cast<size_t>(result) : 0;
        }
        if (complete) {
            *out = file;
        }
    }
    close(descriptor);
    return complete;
}

// Reads a container file. A file that is not one reads as a container that is gone.
bool readContainer(const std::string& path, Slots* out, HRESULT* outError) {
    SecretBytes file;
    const bool found = readSecretFile(path, &file);
    const std::vector<BYTE> magic = emptyContainerFile();
    *outError = NTE_BAD_KEYSET;
    if (!found || file.size() < magic.size() ||
        std::memcmp(file.data(), magic.data(), magic.size()) != 0) {
        return false;
    }
    size_t at = magic.size();
    while (at < file.size()) {
        if (file.size() - at < 8) {
            return false;
        }
        const DWORD spec = readNumber(file.data() + at);
        const DWORD length = readNumber(file.data() + at + 4);
        at += 8;
        if (file.size() - at < length) {
            return false;
        }
        (*out)[spec] = SecretBytes(file.data() + at, length);
        at += length;
    }
    return true;
}

bool writeContainer(const std::string& path, const Slots& slots) {
    const std::vector<BYTE> magic = emptyContainerFile();
    size_t size = magic.size();
    for (const auto& slot : slots) {
        size += 8 + slot.second.size();
    }
    SecretBytes file(size);
    std::memcpy(file.data(), magic.data(), magic.size());
    size_t at = magic.size();
    for (const auto& [spec, blob] : slots) {
        putNumber(&file, at, spec);
        putNumber(&file, at + 4, static_cast<DWORD>(blob.size()));
        // A slot read back empty holds no buffer, which memcpy must not see.
        if (!blob.empty()) {
            std::memcpy(file.data() + at + 8, blob.data(), blob.size());
        }
        at += 8 + blob.size();
    }
    std::vector<BYTE> bytes(file.data(), file.data() + file.size());
    const bool written = writeFileAtomically(path, bytes);
    const int saved = errno;
    wipeBytes(bytes.data(), bytes.size());
    errno = saved;
    return written;
}

// Puts `blob` into slot `spec` of `provider`, replacing what the slot held.
bool storeSlot(ProviderState& provider, DWORD spec, const SecretBytes& blob, HRESULT* outError) {
    if (provider.verifyOnly) {
        std::lock_guard<std::mutex> guard(provider.slotsLock);
        provider.slots[spec] = blob;
        return true;
    }
    const std::string folder = rootFolder() + "/containers";
    // Read, change and write under the lock, so that two imports into one container at once
    // both keep their key.
    FolderLock lock(folder);
    if (!lock) {
        *outError = static_cast<HRESULT>(lastErrorFromErrno(errno));
        return false;
    }
    const std::string path = containerPath(provider.containerName);
    Slots slots;
    if (!readContainer(path, &slots, outError)) {
        return false;
    }
    slots[spec] = blob;
    if (!writeContainer(path, slots)) {
        *outError = static_cast<HRESULT>(lastErrorFromErrno(errno));
        return false;
    }
    // A copy of an older key that a killed writer left would outlive the key it replaced.
    removeLeftoverTemporaries(path);
    return true;
}

bool isBaseProvider(const ProviderState& provider) {
    return provider.providerName == MS_DEF_PROV_A;
}

}  // namespace

std::shared_ptr<const RsaKey> findKey(HCRYPTKEY handle) {
    std::lock_guard<std::mutex> guard(keysLock);
    const auto found = keys.find(handle);
    return found == keys.end() ? nullptr : found->second;
}

std::shared_ptr<const RsaKey> loadSlotKey(ProviderState& provider, DWORD keySpec,
                                          HRESULT* outError) {
    SecretBytes blob;
    if (provider.verifyOnly) {
        std::lock_guard<std::mutex> guard(provider.slotsLock);
        const auto found = provider.slots.find(keySpec);
        if (found != provider.slots.end()) {
            blob = found->second;
        }
    } else {
        Slots slots;
        if (!readContainer(containerPath(provider.containerName), &slots, outError)) {
            return nullptr;
        }
        const auto found = slots.find(keySpec);
        if (found != slots.end()) {
            blob = found->second;
        }
    }
    *outError = NTE_NO_KEY;
    if (blob.empty()) {
        return nullptr;
    }
    HRESULT parseError = 0;
    std::shared_ptr<const RsaKey> key = parsePrivateKeyBlob(blob.data(), blob.size(), &parseError);
    if (key == nullptr) {
        *outError = NTE_BAD_KEYSET;  // a damaged container
        return nullptr;
    }
    if (keySpec == AT_KEYEXCHANGE && isBaseProvider(provider) &&
        key->bitLength > kBaseExchangeKeyBits) {
        return nullptr;
    }
    return key;
}

}  // namespace emu

BOOL CryptImportKey(HCRYPTPROV provider, const BYTE* data, DWORD dataLength, HCRYPTKEY publicKey,
                    DWORD flags, HCRYPTKEY* outKey) {
    if (outKey == nullptr || data == nullptr) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    *outKey = 0;
    const std::shared_ptr<emu::ProviderState> state = emu::findProvider(provider);
    if (state == nullptr) {
        return emu::failWith(NTE_BAD_UID);
    }
    if ((flags & ~CRYPT_EXPORTABLE) != 0) {
        return emu::failWith(NTE_BAD_FLAGS);
    }
    if (publicKey != 0) {
        return emu::failWith(NTE_BAD_KEY);  // no encrypted blobs here: plain text ones only
    }
    if (emu::failsByFault("CryptImportKey", "", NTE_BAD_DATA)) {
        return FALSE;
    }
    HRESULT error = 0;
    std::shared_ptr<const emu::RsaKey> key = emu::parsePrivateKeyBlob(data, dataLength, &error);
    if (key == nullptr) {
        return emu::failWith(error);
    }
    const DWORD spec = key->algorithm == CALG_RSA_SIGN ? AT_SIGNATURE : AT_KEYEXCHANGE;
    if (spec == AT_KEYEXCHANGE && emu::isBaseProvider(*state) &&
        key->bitLength > emu::kBaseExchangeKeyBits) {
        return emu::failWith(NTE_BAD_DATA);
    }
    // Only the blob's own bytes go into the slot, whatever followed them in the buffer.
    const size_t used = 20 + 2 * key->modulusLength() + 5 * ((key->bitLength + 15) / 16);
    if (!emu::storeSlot(*state, spec, emu::SecretBytes(data, used), &error)) {
        return emu::failWith(error);
    }
    *outKey = emu::registerKey(std::move(key));
    return TRUE;
}

BOOL CryptImportPublicKeyInfo(HCRYPTPROV provider, DWORD encodingType, PCERT_PUBLIC_KEY_INFO info,
                              HCRYPTKEY* outKey) {
    if (outKey == nullptr || info == nullptr) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    *outKey = 0;
    if (emu::findProvider(provider) == nullptr) {
        return emu::failWith(NTE_BAD_UID);
    }
    if ((encodingType & X509_ASN_ENCODING) == 0) {
        return emu::failWith(static_cast<HRESULT>(ERROR_FILE_NOT_FOUND));
    }
    if (info->Algorithm.pszObjId == nullptr ||
        std::strcmp(info->Algorithm.pszObjId, szOID_RSA_RSA) != 0) {
        return emu::failWith(NTE_BAD_ALGID);
    }
    if (emu::failsByFault("CryptImportPublicKeyInfo", "", CRYPT_E_ASN1_BADTAG)) {
        return FALSE;
    }
    HRESULT error = 0;
    std::shared_ptr<const emu::RsaKey> key =
            emu::parseRsaPublicKey(info->PublicKey.pbData, info->PublicKey.cbData, &error);
    if (key == nullptr) {
        return emu::failWith(error);
    }
    *outKey = emu::registerKey(std::move(key));
    return TRUE;
}

BOOL CryptGetUserKey(HCRYPTPROV provider, DWORD keySpec, HCRYPTKEY* outKey) {
    if (outKey == nullptr) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    *outKey = 0;
    const std::shared_ptr<emu::ProviderState> state = emu::findProvider(provider);
    if (state == nullptr) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    if (emu::failsByFault("CryptGetUserKey", "", NTE_NO_KEY)) {
        return FALSE;
    }
    HRESULT error = 0;
    std::shared_ptr<const emu::RsaKey> key = emu::loadSlotKey(*state, keySpec, &error);
    if (key == nullptr) {
        return emu::failWith(error);
    }
    *outKey = emu::registerKey(std::move(key));
    return TRUE;
}

BOOL CryptGetKeyParam(HCRYPTKEY key, DWORD parameter, BYTE* data, DWORD* dataLength, DWORD flags) {
    const std::shared_ptr<const emu::RsaKey> found = emu::findKey(key);
    if (found == nullptr || dataLength == nullptr) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    if (flags != 0) {
        return emu::failWith(NTE_BAD_FLAGS);
    }
    DWORD value = 0;
    switch (parameter) {
        case KP_KEYLEN:
        case KP_BLOCKLEN:  // an RSA key's block is its modulus, in bits
            value = found->bitLength;
            break;
        case KP_ALGID:
            value = found->algorithm;
            break;
        default:
            return emu::failWith(NTE_BAD_TYPE);
    }
    if (emu::failsByFault("CryptGetKeyParam", "", NTE_BAD_KEY)) {
        return FALSE;
    }
    const DWORD available = *dataLength;
    *dataLength = sizeof(value);
    if (data == nullptr) {
        return TRUE;
    }
    if (available < sizeof(value)) {
        return emu::failWith(static_cast<HRESULT>(ERROR_MORE_DATA));
    }
    std::memcpy(data, &value, sizeof(value));  // little-endian, as on the platform
    return TRUE;
}

BOOL CryptDestroyKey(HCRYPTKEY key) {
    std::lock_guard<std::mutex> guard(emu::keysLock);
    if (emu::keys.erase(key) == 0) {
        return emu::failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
    }
    emu::countKey(-1);
    return TRUE;
}

namespace emu {

namespace {

// findCipherKey checks what CryptEncrypt and CryptDecrypt take alike and answers the key, or
// null with the last error set: a live key and a length, no hash, no flags (OAEP is not
// emulated).
std::shared_ptr<const RsaKey> findCipherKey(HCRYPTKEY key, HCRYPTHASH hash, DWORD flags,
                                            const DWORD* dataLength) {
    std::shared_ptr<const RsaKey> found = findKey(key);
    if (found == nullptr || dataLength == nullptr) {
        failWith(static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
        return nullptr;
    }
    if (hash != 0) {
        failWith(NTE_BAD_HASH);
        return nullptr;
    }
    if (flags != 0) {
        failWith(NTE_BAD_FLAGS);
        return nullptr;
    }
    return found;
}

}  // namespace

}  // namespace emu

BOOL CryptEncrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL isFinal, DWORD flags, BYTE* data,
                  DWORD* dataLength, DWORD bufferLength) {
    (void)isFinal;  // an RSA block is always the last one
    const std::shared_ptr<const emu::RsaKey> found =
            emu::findCipherKey(key, hash, flags, dataLength);
    if (found == nullptr) {
        return FALSE;
    }
    const DWORD modulusLength = static_cast<DWORD>(found->modulusLength());
    if (emu::failsByFault("CryptEncrypt", data == nullptr ? "query" : "encrypt", NTE_BAD_KEY)) {
        return FALSE;
    }
    if (data == nullptr) {
        *dataLength = modulusLength;
        return TRUE;
    }
    if (bufferLength < modulusLength) {
        *dataLength = modulusLength;
        return emu::failWith(static_cast<HRESULT>(ERROR_MORE_DATA));
    }
    if (modulusLength < 11 || *dataLength > modulusLength - 11) {
        return emu::failWith(NTE_BAD_LEN);
    }
    const emu::SecretBytes plain(data, *dataLength);
    if (!emu::encryptPkcs1(*found, plain.data(), plain.size(), data)) {
        return emu::failWith(NTE_FAIL);
    }
    *dataLength = modulusLength;
    return TRUE;
}

BOOL CryptDecrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL isFinal, DWORD flags, BYTE* data,
                  DWORD* dataLength) {
    (void)isFinal;
    const std::shared_ptr<const emu::RsaKey> found =
            emu::findCipherKey(key, hash, flags, dataLength);
    if (found == nullptr) {
        return FALSE;
    }
    if (!found->hasPrivate) {
        return emu::failWith(NTE_BAD_KEY);
    }
    if (emu::failsByFault("CryptDecrypt", "", NTE_FAIL)) {
        return FALSE;
    }
    // The platform decrypts exactly one block; any other length is bad data, never a read
    // past what the caller said it holds.
    if (data == nullptr || *dataLength != found->modulusLength()) {
        return emu::failWith(NTE_BAD_DATA);
    }
    emu::SecretBytes plain;
    if (!emu::decryptPkcs1(*found, data, &plain)) {
        return emu::failWith(NTE_BAD_DATA);
    }
    if (!plain.empty()) {
        std::memcpy(data, plain.data(), plain.size());
    }
    *dataLength = static_cast<DWORD>(plain.size());
    return TRUE;
}

void* SecureZeroMemory(void* memory, size_t length) {
    emu::wipeBytes(memory, length);
    return memory;
}
