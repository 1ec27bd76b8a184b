// The emulation's key container files: the magic, then per slot its key spec, the blob's length
// and the PRIVATEKEYBLOB. The input is written as the file of one container, whose keys are then
// taken out of both slots through the Enhanced and the Base provider and used; then key1 is
// imported into it, which must keep the other slot's key.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/emu/provider_state.h"
#include "platform/handles.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr const char* kContainer = "quorvfuzz";
// Keys above this size are only read, not used: garbage numbers of 16384 bits take a second
// per private operation.
constexpr DWORD kLargestUsedKeyBits = 2048;

std::vector<BYTE> key1Blob;

DWORD keyBits(HCRYPTKEY key) {
    DWORD bits = 0;
    DWORD length = sizeof(bits);
    fuzz::require(CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &length, 0),
                  "a key from a slot has no length");
    return bits;
}

// The bit length of the key in `spec`, or 0 when the slot gives none. When `use`, a key of a
// usable size encrypts, and decrypts or signs, whatever its numbers make of it.
DWORD useSlot(HCRYPTPROV context, DWORD spec, bool use) {
    KeyHandle key;
    if (!CryptGetUserKey(context, spec, key.out())) {
        return 0;
    }
    const DWORD bits = keyBits(key.get());
    ALG_ID algorithm = 0;
    DWORD length = sizeof(algorithm);
    fuzz::require(CryptGetKeyParam(key.get(), KP_ALGID, reinterpret_cast<BYTE*>(&algorithm),
                                   &length, 0) &&
                          (algorithm == CALG_RSA_KEYX || algorithm == CALG_RSA_SIGN),
                  "a key from a slot is no RSA key");
    if (!use || bits > kLargestUsedKeyBits) {
        return bits;
    }
    std::vector<BYTE> buffer(bits / 8, 0);
    buffer[0] = 'f';
    DWORD dataLength = 1;
    if (CryptEncrypt(key.get(), 0, TRUE, 0, buffer.data(), &dataLength,
                     static_cast<DWORD>(buffer.size()))) {
        fuzz::require(dataLength == buffer.size(), "a cipher text other than one block");
    }
    // One private operation a slot, the one its key is for.
    if (spec == AT_KEYEXCHANGE) {
        dataLength = static_cast<DWORD>(buffer.size());
        CryptDecrypt(key.get(), 0, TRUE, 0, buffer.data(), &dataLength);
        return bits;
    }
    HashHandle hash;
    fuzz::require(CryptCreateHash(context, CALG_SHA1, 0, 0, hash.out()) &&
                          CryptHashData(hash.get(), buffer.data(), 1, 0),
                  "no hash to sign");
    DWORD signatureLength = 0;
    if (CryptSignHashA(hash.get(), spec, nullptr, 0, nullptr, &signatureLength)) {
        fuzz::require(signatureLength == bits / 8, "a signature's size is not the modulus's");
        std::vector<BYTE> signature(signatureLength);
        CryptSignHashA(hash.get(), spec, nullptr, 0, signature.data(), &signatureLength);
    }
    return bits;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startFuzzHome();
    fuzz::silenceStandardOutput();
    // key1 as its PRIVATEKEYBLOB: the header, then the numbers as the fixture has them.
    const std::vector<std::vector<BYTE>> numbers = fuzz::fixtureCrtKeyInfo("key1");
    key1Blob = {PRIVATEKEYBLOB,
                CUR_BLOB_VERSION,
                0,
                0,
                0x00,
                0xA4,
                0,
                0,
                'R',
                'S',
                'A',
                '2',
                0x00,
                0x08,
                0,
                0};
    key1Blob.insert(key1Blob.end(), numbers[7].begin(), numbers[7].begin() + 4);
    for (int i = 0; i < 7; ++i) {
        key1Blob.insert(key1Blob.end(), numbers[i].begin(), numbers[i].end());
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::writeFile(emu::containerPath(kContainer), std::vector<BYTE>(data, data + size));
    {
        const fuzz::HandleBalance balance;
        DWORD signatureBits = 0;
        for (const char* provider : {MS_ENHANCED_PROV_A, MS_DEF_PROV_A}) {
            ProviderContext context;
            fuzz::require(
                    CryptAcquireContextA(context.out(), kContainer, provider, PROV_RSA_FULL, 0),
                    "a container whose file is there does not open");
            // Private operations cost, so only the first provider's keys are used.
            const bool enhanced = provider == std::string(MS_ENHANCED_PROV_A);
            useSlot(context.get(), AT_KEYEXCHANGE, enhanced);
            const DWORD bits = useSlot(context.get(), AT_SIGNATURE, enhanced);
            if (enhanced) {
                signatureBits = bits;
            }
        }
        ProviderContext context;
        fuzz::require(CryptAcquireContextA(context.out(), kContainer, MS_ENHANCED_PROV_A,
                                           PROV_RSA_FULL, 0),
                      "a container whose file is there does not open");
        KeyHandle imported;
        if (CryptImportKey(context.get(), key1Blob.data(), static_cast<DWORD>(key1Blob.size()), 0,
                           CRYPT_EXPORTABLE, imported.out())) {
            KeyHandle exchange;
            fuzz::require(CryptGetUserKey(context.get(), AT_KEYEXCHANGE, exchange.out()) &&
                                  keyBits(exchange.get()) == 2048,
                          "the key just imported is not in its slot");
            KeyHandle signature;
            const bool kept = CryptGetUserKey(context.get(), AT_SIGNATURE, signature.out());
            fuzz::require(kept == (signatureBits != 0) &&
                                  (!kept || keyBits(signature.get()) == signatureBits),
                          "an import into one slot changed the other");
        }
    }
    fuzz::removeTree(fuzz::containerFolder());
    return 0;
}
