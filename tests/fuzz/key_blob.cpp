// CRT key info of any shape through buildPrivateKeyBlob: element count, null and foreign
// elements, lengths; a blob it builds is imported as the natives would. Input: one Object[] as
// fuzz::takeObjectArray reads it.

#include <cstdint>
#include <cstring>
#include <vector>

#include <jni.h>

#include "crypto/key_blob.h"
#include "platform/api.h"
#include "platform/handles.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

DWORD readNumber(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | (static_cast<DWORD>(at[1]) << 8) |
           (static_cast<DWORD>(at[2]) << 16) | (static_cast<DWORD>(at[3]) << 24);
}

// The blob's size by the rules buildPrivateKeyBlob states, or 0 for info it must refuse.
size_t expectedBlobLength(const std::vector<fuzz::ElementKind>& kinds,
                          const std::vector<std::vector<BYTE>>& elements) {
    if (kinds.size() != static_cast<size_t>(kCrtKeyInfoElements)) {
        return 0;
    }
    for (const fuzz::ElementKind kind : kinds) {
        if (kind != fuzz::ByteArrayElement) {
            return 0;
        }
    }
    const size_t k = elements[0].size();
    if (k == 0 || k % 2 != 0 || elements[6].size() != k || elements[7].size() < 4) {
        return 0;
    }
    for (int i = 1; i < 6; ++i) {
        if (elements[i].size() != k / 2) {
            return 0;
        }
    }
    return 20 + 9 * k / 2;
}

// The header with the modulus's bit length and the exponent's first four bytes, then n, p, q,
// dp, dq, qinv and d as they stand.
void checkBlob(const BYTE* blob, size_t length, const std::vector<std::vector<BYTE>>& elements) {
    const size_t k = elements[0].size();
    fuzz::require(blob[0] == PRIVATEKEYBLOB && blob[1] == CUR_BLOB_VERSION && blob[2] == 0 &&
                          blob[3] == 0 && readNumber(blob + 4) == CALG_RSA_KEYX &&
                          readNumber(blob + 8) == 0x32415352 && readNumber(blob + 12) == 8 * k &&
                          std::memcmp(blob + 16, elements[7].data(), 4) == 0,
                  "the blob's header does not describe the CRT key info");
    size_t offset = 20;
    for (int i = 0; i < 7; ++i) {
        fuzz::require(std::memcmp(blob + offset, elements[i].data(), elements[i].size()) == 0,
                      "a number of the blob is not the CRT key info's");
        offset += elements[i].size();
    }
    fuzz::require(offset == length, "the blob is longer than its numbers");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startFuzzHome();
    fuzz::silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::HandleBalance balance;
    FakeJni jni;
    fuzz::InputReader reader(data, size);
    std::vector<fuzz::ElementKind> kinds;
    jobjectArray crtKeyInfo = fuzz::takeObjectArray(jni, reader, &kinds);
    std::vector<std::vector<BYTE>> elements;
    if (crtKeyInfo != nullptr) {
        const std::vector<jobject> objects = jni.elementsOf(crtKeyInfo);
        for (size_t i = 0; i < objects.size(); ++i) {
            elements.push_back(kinds[i] == fuzz::ByteArrayElement
                                       ? jni.bytesOf(static_cast<jbyteArray>(objects[i]))
                                       : std::vector<BYTE>());
        }
    }

    BYTE* rawBlob = reinterpret_cast<BYTE*>(&elements);  // must be overwritten
    const int blobLength = buildPrivateKeyBlob(jni.env(), crtKeyInfo, &rawBlob);
    SecretBlock blob(rawBlob, blobLength > 0 ? static_cast<size_t>(blobLength) : 0);
    fuzz::requireCleanBooks(jni, "buildPrivateKeyBlob");
    const size_t expected = crtKeyInfo != nullptr ? expectedBlobLength(kinds, elements) : 0;
    fuzz::require(blobLength >= 0 && static_cast<size_t>(blobLength) == expected,
                  "buildPrivateKeyBlob took CRT key info it must refuse, or refused good info");
    fuzz::require((blobLength == 0) == (rawBlob == nullptr),
                  "buildPrivateKeyBlob's blob and its size disagree");
    if (blobLength == 0) {
        return 0;
    }
    checkBlob(blob.data(), blob.size(), elements);

    // The import decides on the numbers themselves; it may refuse them, but must not trip.
    ProviderContext context;
    fuzz::require(CryptAcquireContextA(context.out(), nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                       CRYPT_VERIFYCONTEXT),
                  "no verify-only context");
    KeyHandle key;
    CryptImportKey(context.get(), blob.data(), blob.size(), 0, CRYPT_EXPORTABLE, key.out());
    return 0;
}
