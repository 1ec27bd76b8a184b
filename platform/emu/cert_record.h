// The emulation's certificate context record, shared by the context and store code.
#pragma once

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/api.h"

namespace emu {

struct StoreState;

// The public CERT_CONTEXT comes first so that a PCCERT_CONTEXT handed out is the address of
// the whole record. Everything CERT_INFO points at lives in the record.
struct CertRecord {
    CERT_CONTEXT context{};
    CERT_INFO info{};
    std::vector<BYTE> encoded;
    std::vector<BYTE> serial;  // least significant byte first, as the platform keeps it
    std::string signatureOid;
    std::string publicKeyOid;
    std::vector<std::string> extensionOids;
    std::vector<CERT_EXTENSION> extensions;
    std::array<BYTE, 20> thumbprint{};  // SHA-1 of the encoding
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

// createRecord decodes `encoded` into a new record with one reference, or returns null with
// the decoder's error in `outError`. Bytes after the certificate are not kept.
CertRecord* createRecord(const BYTE* encoded, size_t length, HRESULT* outError);

// releaseRecord drops one reference; the last one frees the record and what it owns.
void releaseRecord(CertRecord* record);

// The persisted properties: every property but the process-local handles 1 and 5.
bool isPersistedProperty(DWORD propertyId);

// thumbprintHex is the upper-case hex of the record's SHA-1 thumbprint, its file name in a store.
std::string thumbprintHex(const CertRecord& record);

// persistRecord rewrites the store file of a store copy after a property change; defined
// with the stores. Returns false with the last error set when the write fails.
bool persistRecord(CertRecord* record);

// releaseStoreReference drops the reference a record holds on its store.
void releaseStoreReference(StoreState* store);

}  // namespace emu
