// The CRT key info Java hands over, the private key blob built from it, and the holder of
// heap blocks that held key material or plain text.
#pragma once

#include <cstddef>

#include <jni.h>

#include "platform/api.h"

// The CRT key info holds exactly this many byte[]: n, p, q, d mod (p-1), d mod (q-1),
// q^-1 mod p, d, e, every number least significant byte first.
constexpr int kCrtKeyInfoElements = 8;

// buildPrivateKeyBlob builds the PRIVATEKEYBLOB of `crtKeyInfo` (the header with bit length
// 8 * len(n) and the first four bytes of e as its public exponent, then n, p, q, dp, dq, qinv
// and d as they stand) and hands it over through `outBlob`. Returns its size: 20 + 9k/2 for
// a modulus of k bytes. Returns 0 with `outBlob` null when crtKeyInfo is null, holds other
// than eight elements, an element that is null, not a byte[] or whose bytes the VM cannot
// give, or lengths other than k (even, not 0) for n and d, k/2 for the five others and at least
// 4 for e, so that no element is read past its end and no field is out of place. The caller
// adopts the blob into a SecretBlock, which wipes it before freeing it. Prints nothing.
int buildPrivateKeyBlob(JNIEnv* env, jobjectArray crtKeyInfo, BYTE** outBlob);

// A block from new BYTE[] that held private key bytes or plain text: zeroed, then freed, on
// every path.
class SecretBlock {
public:
    explicit SecretBlock(size_t length) : bytes_(new BYTE[length]()), length_(length) {}
    SecretBlock(BYTE* adopted, size_t length) : bytes_(adopted), length_(length) {}
    ~SecretBlock() { reset(); }
    SecretBlock(const SecretBlock&) = delete;
    SecretBlock& operator=(const SecretBlock&) = delete;
    explicit operator bool() const { return bytes_ != nullptr; }
    BYTE* data() const { return bytes_; }
    DWORD size() const { return static_cast<DWORD>(length_); }
    void reset() {
        if (bytes_ != nullptr) {
            SecureZeroMemory(bytes_, length_);
            delete[] bytes_;
            bytes_ = nullptr;
            length_ = 0;
        }
    }

private:
    BYTE* bytes_;
    size_t length_;
};
