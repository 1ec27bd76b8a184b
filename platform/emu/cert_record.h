// The emulation's certificate context record, shared by the context and store code.
#pragma once

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/api.h"

namespace emu {

struct StoreState;

// A decoded certificate, never changed once made, so that every context of the same file can
// share it. Everything CERT_INFO points at lives here.
struct CertificateData {
    CERT_INFO info{};
    std::vector<BYTE> encoded;
    std::vector<BYTE> serial;  // least significant byte first, as the platform keeps it
    std::string signatureOid;
    std::string publicKeyOid;
    std::vector<std::string> extensionOids;
    std::vector<CERT_EXTENSION> extensions;
    std::array<BYTE, 20> thumbprint{};  // SHA-1 of the encoding
};

// The public CERT_CONTEXT comes first so that a PCCERT_CONTEXT handed out is the address of
// the whole record.
struct CertRecord {
    CERT_CONTEXT context{};
    std::shared_ptr<const CertificateData> data;
    std::atomic<int> references{1};
    // The store copy this record is, or null; the record holds a reference on it.
    StoreState* store = nullptr;
    size_t storeIndex = 0;
    std::mutex propertyLock;
    std::map<DWORD, std::vector<BYTE>> properties;  // persisted form, see cert_context.cpp
    // A provider context that properties 1 or 5 handed to the record, released with it.
    HCRYPTPROV ownedProvider = 0;
};

inline CertRecord* recordOf(PCCERT_CONTEXT context) {
    return reinterpret_cast<CertRecord*>(const_cast<CERT_CONTEXT*>(context));
}

// decodeCertificateData decodes `encoded`, or returns null with the decoder's error in
// `outError`. Bytes after the certificate are not kept.
std::shared_ptr<const CertificateData> decodeCertificateData(const BYTE* encoded, size_t length,
                                                             HRESULT* outError);

// createRecord decodes `encoded` into a new record with one reference, or returns null with
// the decoder's error in `outError`.
CertRecord* createRecord(const BYTE* encoded, size_t length, HRESULT* outError);

// createRecordFrom makes a new record with one reference and no properties around `data`.
CertRecord* createRecordFrom(std::shared_ptr<const CertificateData> data);

// releaseRecord drops one reference; the last one frees the record and what it owns.
void releaseRecord(CertRecord* record);

// The persisted properties: every property but the process-local handles 1 and 5.
bool isPersistedProperty(DWORD propertyId);

// thumbprintHex is the upper-case hex of a SHA-1 thumbprint, a certificate's file name in a
// store.
std::string thumbprintHex(const std::array<BYTE, 20>& thumbprint);

// persistRecord rewrites the store file of a store copy after a property change; defined
// with the stores. Returns false with the last error set when the write fails.
bool persistRecord(CertRecord* record);

// releaseStoreReference drops the reference a record holds on its store.
void releaseStoreReference(StoreState* store);

}  // namespace emu
