// The private key blob built from the CRT key info.

#include "crypto/key_blob.h"

#include <climits>
#include <cstring>
#include <new>
#include <optional>

#include "bridge/jni_scope.h"

namespace {

constexpr DWORD kPrivateKeyMagic = 0x32415352;  // "RSA2" when read little-endian
constexpr size_t kHeaderLength = 20;            // BLOBHEADER and RSAPUBKEY
constexpr int kExponentElement = 7;

void putNumber(BYTE* at, DWORD value) {
    for (int shift = 0; shift < 32; shift += 8) {
        *at++ = static_cast<BYTE>(value >> shift);
    }
}

// The eight elements' bytes, given back in the order they were taken, 0 to 7, on every path.
class CrtElements {
public:
    ~CrtElements() {
        for (std::optional<ElementBytes>& element : elements_) {
            element.reset();
        }
    }
    std::optional<ElementBytes>& operator[](int index) { return elements_[index]; }

private:
    std::optional<ElementBytes> elements_[kCrtKeyInfoElements];
};

// The length element `index` must have in a blob whose modulus has `k` bytes; e needs only
// its first four bytes.
bool hasBlobLength(int index, DWORD length, DWORD k) {
    switch (index) {
        case 0:
        case 6:
            return length == k;
        case kExponentElement:
            return length >= 4;
        default:
            return length == k / 2;
    }
}

}  // namespace

int buildPrivateKeyBlob(JNIEnv* env, jobjectArray crtKeyInfo, BYTE** outBlob) {
    *outBlob = nullptr;
    // An index past the end would leave an exception pending in the VM: count first.
    if (crtKeyInfo == nullptr || env->GetArrayLength(crtKeyInfo) != kCrtKeyInfoElements) {
        return 0;
    }
    CrtElements elements;
    for (int i = 0; i < kCrtKeyInfoElements; ++i) {
        // A null element, or one that is not a byte[], leaves the holder empty.
        elements[i].emplace(env, crtKeyInfo, i);
        if (!*elements[i]) {
            return 0;
        }
    }
    const DWORD k = elements[0]->size();
    if (k == 0 || k % 2 != 0) {
        return 0;
    }
    size_t size = kHeaderLength;
    for (int i = 0; i < kCrtKeyInfoElements; ++i) {
        if (!hasBlobLength(i, elements[i]->size(), k)) {
            return 0;
        }
        if (i != kExponentElement) {
            size += elements[i]->size();
        }
    }
    if (size > static_cast<size_t>(INT_MAX)) {
        return 0;
    }
    BYTE* blob = new (std::nothrow) BYTE[size];
    if (blob == nullptr) {
        return 0;
    }
    blob[0] = PRIVATEKEYBLOB;
    blob[1] = CUR_BLOB_VERSION;
    blob[2] = 0;
    blob[3] = 0;
    putNumber(blob + 4, CALG_RSA_KEYX);
    putNumber(blob + 8, kPrivateKeyMagic);
    putNumber(blob + 12, 8 * k);
    std::memcpy(blob + 16, elements[kExponentElement]->data(), 4);
    size_t offset = kHeaderLength;
    for (int i = 0; i < kExponentElement; ++i) {
        std::memcpy(blob + offset, elements[i]->data(), elements[i]->size());
        offset += elements[i]->size();
    }
    *outBlob = blob;
    return static_cast<int>(size);
}
