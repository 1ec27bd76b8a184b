// Holders that release a platform handle exactly once, in their destructor or on reset().
#pragma once

#include <utility>

#include "platform/api.h"

template <typename Handle, void (*Close)(Handle)>
class UniqueHandle {
public:
    explicit UniqueHandle(Handle handle = Handle{}) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    [[nodiscard]] Handle release() { return std::exchange(handle_, Handle{}); }
    void reset(Handle handle = Handle{}) {
        if (handle_ != Handle{}) {
            Close(handle_);
        }
        handle_ = handle;
    }
    Handle* out() {  // for "handle out" parameters
        reset();
        return &handle_;
    }

private:
    Handle handle_{};
};

// Close results are ignored: there is nothing a caller could do about a failed close.
inline void closeStore(HCERTSTORE store) { CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG); }
inline void freeCertificate(PCCERT_CONTEXT cert) { CertFreeCertificateContext(cert); }
inline void releaseContext(HCRYPTPROV context) { CryptReleaseContext(context, 0); }
inline void destroyKey(HCRYPTKEY key) { CryptDestroyKey(key); }
inline void destroyHash(HCRYPTHASH hash) { CryptDestroyHash(hash); }

using StoreHandle = UniqueHandle<HCERTSTORE, closeStore>;
using CertContext = UniqueHandle<PCCERT_CONTEXT, freeCertificate>;
using ProviderContext = UniqueHandle<HCRYPTPROV, releaseContext>;
using KeyHandle = UniqueHandle<HCRYPTKEY, destroyKey>;
using HashHandle = UniqueHandle<HCRYPTHASH, destroyHash>;

// nextCertificate steps a store walk: the platform frees the context it is given, so the holder
// gives it up and takes the next one. Returns false at the end of the store.
inline bool nextCertificate(HCERTSTORE store, CertContext& cert) {
    cert.reset(CertEnumCertificatesInStore(store, cert.release()));
    return static_cast<bool>(cert);
}
