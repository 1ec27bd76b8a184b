// The current user's system stores: one folder per store under the root folder, one file per
// certificate, named by its SHA-1 thumbprint and written atomically. Each handle loads the
// folder once, at its first use, and enumerates by descending thumbprint, the order a freshly
// opened store has on the platform; what it adds later comes after. Decoded files are kept
// across handles and checked against the files' stamps, so an unchanged store is not reread.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/x509.h>

#include "platform/api.h"
#include "platform/emu/cert_record.h"
#include "platform/emu/der.h"
#include "platform/emu/emulation.h"

namespace emu {

struct StoreState {
    std::string folder;
    bool readOnly = false;
    std::atomic<int> references{1};  // the handle's, and one per record that is a copy of it
    std::mutex lock;
    bool loaded = false;
    // The store's own references, in enumeration order; null where a certificate was deleted.
    std::vector<CertRecord*> entries;
};

namespace {

constexpr char kFileMagic[8] = {'B', 'R', 'V', 'C', 'E', 'R', 'T', '1'};
constexpr DWORD kEncodingSection = 0;  // the certificate itself; properties use their ids
constexpr size_t kThumbprintDigits = 40;

StoreState* stateOf(HCERTSTORE store) { return static_cast<StoreState*>(store); }

std::string certificatePath(const StoreState& state, const CertRecord& record) {
    return state.folder + "/" + thumbprintHex(record.data->thumbprint) + ".cer";
}

void putNumber(std::vector<BYTE>* out, DWORD value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out->push_back(static_cast<BYTE>(value >> shift));
    }
}

DWORD readNumber(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | (static_cast<DWORD>(at[1]) << 8) |
           (static_cast<DWORD>(at[2]) << 16) | (static_cast<DWORD>(at[3]) << 24);
}

// The file of a certificate: the magic, then sections of (id, length, bytes), the encoding
// first, then every persisted property.
std::vector<BYTE> serializeRecord(CertRecord* record) {
    std::vector<BYTE> file(kFileMagic, kFileMagic + sizeof(kFileMagic));
    putNumber(&file, kEncodingSection);
    putNumber(&file, static_cast<DWORD>(record->data->encoded.size()));
    file.insert(file.end(), record->data->encoded.begin(), record->data->encoded.end());
    std::lock_guard<std::mutex> guard(record->propertyLock);
    for (const auto& [id, value] : record->properties) {
        if (isPersistedProperty(id)) {
            putNumber(&file, id);
            putNumber(&file, static_cast<DWORD>(value.size()));
            file.insert(file.end(), value.begin(), value.end());
        }
    }
    return file;
}

// A certificate file as last read, shared by every handle that opens its folder until the
// file changes.
struct CachedFile {
    std::string name;  // the thumbprint digits
    FileStamp stamp;
    bool settled = false;
    std::shared_ptr<const CertificateData> data;  // null for a damaged or foreign file
    std::map<DWORD, std::vector<BYTE>> properties;
};

// A folder's certificate files as last listed, by descending name.
struct FolderSnapshot {
    FileStamp stamp;
    bool settled = false;  // the folder's stamp and every file's stamp
    std::vector<std::shared_ptr<const CachedFile>> files;
};

// The last snapshot of each folder, so that a walk of a store that nothing changed since costs
// one stat and no file read or parse. A handle still takes its own copy of the entries when it
// loads them, as a handle of the platform's stores does.
std::mutex snapshotsLock;
std::map<std::string, std::shared_ptr<const FolderSnapshot>> snapshots;
constexpr size_t kMaximumSnapshots = 64;

// Reads a certificate file back; a damaged or foreign file leaves `out->data` null.
void parseRecordFile(const std::vector<BYTE>& file, CachedFile* out) {
    if (file.size() < sizeof(kFileMagic) + 8 ||
        std::memcmp(file.data(), kFileMagic, sizeof(kFileMagic)) != 0) {
        return;
    }
    size_t offset = sizeof(kFileMagic);
    std::shared_ptr<const CertificateData> data;
    std::map<DWORD, std::vector<BYTE>> properties;
    while (offset < file.size()) {
        if (file.size() - offset < 8) {
            return;
        }
        const DWORD id = readNumber(file.data() + offset);
        const DWORD length = readNumber(file.data() + offset + 4);
        offset += 8;
        if (file.size() - offset < length || (data == nullptr) != (id == kEncodingSection)) {
            return;
        }
        const BYTE* value = file.data() + offset;
        offset += length;
        if (id == kEncodingSection) {
            HRESULT error = 0;
            data = decodeCertificateData(value, length, &error);
            if (data == nullptr) {
                return;
            }
        } else if (isPersistedProperty(id)) {
            properties[id].assign(value, value + length);
        }
    }
    if (data != nullptr && thumbprintHex(data->thumbprint) == out->name) {
        out->data = std::move(data);
        out->properties = std::move(properties);
    }
}

bool isThumbprintFileName(const std::string& name) {
    if (name.size() != kThumbprintDigits + 4 || name.compare(kThumbprintDigits, 4, ".cer") != 0) {
        return false;
    }
    return std::all_of(name.begin(), name.begin() + kThumbprintDigits,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

void adoptEntry(StoreState* state, CertRecord* record) {
    record->store = state;
    record->storeIndex = state->entries.size();
    state->references.fetch_add(1);
    state->entries.push_back(record);
}

std::shared_ptr<const CachedFile> findCachedFile(const FolderSnapshot* snapshot,
                                                 const std::string& name) {
    if (snapshot == nullptr) {
        return nullptr;
    }
    const auto found =
            std::lower_bound(snapshot->files.begin(), snapshot->files.end(), name,
                             [](const std::shared_ptr<const CachedFile>& file,
                                const std::string& wanted) { return file->name > wanted; });
    return found != snapshot->files.end() && (*found)->name == name ? *found : nullptr;
}

// The folder's certificates as they are now: the last snapshot when neither the folder nor,
// by then, its files can have changed unseen; else a fresh listing that reads again only the
// files whose stamps changed or had not settled.
std::shared_ptr<const FolderSnapshot> currentSnapshot(const std::string& folder) {
    const long long readStart = currentTime();
    auto snapshot = std::make_shared<FolderSnapshot>();
    if (!stampFile(folder, &snapshot->stamp)) {
        return snapshot;
    }
    std::shared_ptr<const FolderSnapshot> previous;
    {
        std::lock_guard<std::mutex> guard(snapshotsLock);
        const auto found = snapshots.find(folder);
        if (found != snapshots.end()) {
            previous = found->second;
        }
    }
    if (previous != nullptr && previous->settled && previous->stamp == snapshot->stamp) {
        return previous;
    }
    std::vector<std::string> names;
    if (DIR* listing = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            if (isThumbprintFileName(entry->d_name)) {
                names.emplace_back(entry->d_name, kThumbprintDigits);
            }
        }
        closedir(listing);
    }
    std::sort(names.begin(), names.end(), std::greater<std::string>());
    bool settled = isSettled(snapshot->stamp, readStart);
    std::vector<BYTE> bytes;
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name + ".cer";
        std::shared_ptr<const CachedFile> known = findCachedFile(previous.get(), name);
        FileStamp stamp;
        if (known != nullptr && known->settled && stampFile(path, &stamp) &&
            stamp == known->stamp) {
            snapshot->files.push_back(std::move(known));
            continue;
        }
        auto file = std::make_shared<CachedFile>();
        file->name = name;
        if (!readWholeFile(path, &bytes, &file->stamp)) {
            continue;  // deleted since the folder was read
        }
        file->settled = isSettled(file->stamp, readStart);
        parseRecordFile(bytes, file.get());
        settled = settled && file->settled;
        snapshot->files.push_back(std::move(file));
    }
    snapshot->settled = settled;
    std::lock_guard<std::mutex> guard(snapshotsLock);
    if (snapshots.size() >= kMaximumSnapshots && snapshots.count(folder) == 0) {
        snapshots.erase(snapshots.begin());
    }
    snapshots[folder] = snapshot;
    return snapshot;
}

// Fills the entries from the folder; called with the state's lock held.
void loadEntries(StoreState* state) {
    if (state->loaded) {
        return;
    }
    state->loaded = true;
    const std::shared_ptr<const FolderSnapshot> snapshot = currentSnapshot(state->folder);
    state->entries.reserve(snapshot->files.size());
    for (const std::shared_ptr<const CachedFile>& file : snapshot->files) {
        if (file->data != nullptr) {
            CertRecord* record = createRecordFrom(file->data);
            record->properties = file->properties;
            adoptEntry(state, record);
        }
    }
}

// Builds the UTF-8 form of a store name given as UTF-16 units, for its folder name.
std::string nameFromUnits(const std::vector<unsigned>& units) {
    std::string name;
    for (const unsigned unit : units) {
        if (unit < 0x80) {
            name.push_back(static_cast<char>(unit));
        } else if (unit < 0x800) {
            name.push_back(static_cast<char>(0xC0 | (unit >> 6)));
            name.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else {
            name.push_back(static_cast<char>(0xE0 | (unit >> 12)));
            name.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            name.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        }
    }
    return name;
}

HCERTSTORE openSystemStore(const std::string& name, DWORD flags) {
    DWORD error = 0;
    if (faultFor("CertOpenStore", name, ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return nullptr;
    }
    const std::string folder = rootFolder() + "/stores/" + toFileName(name);
    if ((flags & CERT_STORE_OPEN_EXISTING_FLAG) != 0 && access(folder.c_str(), F_OK) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    // A system store that does not exist yet is made, empty, as the platform does.
    if (!ensureFolder(folder)) {
        SetLastError(lastErrorFromErrno(errno));
        return nullptr;
    }
    auto state = std::make_unique<StoreState>();
    state->folder = folder;
    state->readOnly = (flags & CERT_STORE_READONLY_FLAG) != 0;
    countStore(1);
    return state.release();
}

}  // namespace

void releaseStoreReference(StoreState* store) {
    if (store->references.fetch_sub(1) == 1) {
        delete store;
    }
}

bool persistRecord(CertRecord* record) {
    StoreState* state = record->store;
    FolderLock folderLock(state->folder);
    if (!folderLock) {
        SetLastError(lastErrorFromErrno(errno));
        return false;
    }
    const std::string path = certificatePath(*state, *record);
    // A certificate deleted through another handle is not brought back by a property change.
    if (access(path.c_str(), F_OK) != 0) {
        return true;
    }
    if (!writeFileAtomically(path, serializeRecord(record))) {
        SetLastError(lastErrorFromErrno(errno));
        return false;
    }
    return true;
}

}  // namespace emu

using emu::CertRecord;
using emu::StoreState;

HCERTSTORE CertOpenStore(LPCSTR storeProvider, DWORD encodingType, HCRYPTPROV provider, DWORD flags,
                         const void* parameter) {
    (void)encodingType;  // ignored for system stores
    (void)provider;
    constexpr DWORD kLocationMask = 0x00FF0000;
    if (storeProvider != CERT_STORE_PROV_SYSTEM_W ||
        (flags & kLocationMask) != CERT_SYSTEM_STORE_CURRENT_USER || parameter == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    std::vector<unsigned> units;
    for (const WCHAR* unit = static_cast<const WCHAR*>(parameter); *unit != 0; ++unit) {
        units.push_back(static_cast<unsigned>(*unit) & 0xFFFFu);
    }
    return emu::openSystemStore(emu::nameFromUnits(units), flags);
}

HCERTSTORE CertOpenSystemStoreA(HCRYPTPROV provider, LPCSTR storeName) {
    (void)provider;
    if (storeName == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    std::vector<unsigned> units;
    for (const char* byte = storeName; *byte != 0; ++byte) {
        const char one[2] = {*byte, 0};
        WCHAR wide[2] = {};
        MultiByteToWideChar(CP_ACP, 0, one, -1, wide, 2);
        units.push_back(static_cast<unsigned>(wide[0]) & 0xFFFFu);
    }
    return emu::openSystemStore(emu::nameFromUnits(units), CERT_SYSTEM_STORE_CURRENT_USER);
}

BOOL CertCloseStore(HCERTSTORE store, DWORD flags) {
    if (store == nullptr) {
        return TRUE;
    }
    StoreState* state = emu::stateOf(store);
    std::vector<CertRecord*> entries;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        entries.swap(state->entries);
    }
    bool stillHeld = false;
    for (CertRecord* record : entries) {
        if (record != nullptr) {
            stillHeld = stillHeld || record->references.load() > 1;
            emu::releaseRecord(record);
        }
    }
    emu::countStore(-1);
    emu::releaseStoreReference(state);
    // The store is closed either way; contexts still held stay valid.
    if (stillHeld && (flags & CERT_CLOSE_STORE_CHECK_FLAG) != 0) {
        SetLastError(static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
        return FALSE;
    }
    return TRUE;
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous) {
    if (store == nullptr) {
        CertFreeCertificateContext(previous);
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    StoreState* state = emu::stateOf(store);
    size_t next = 0;
    if (previous != nullptr) {
        const CertRecord* record = emu::recordOf(previous);
        if (record->store != state) {
            CertFreeCertificateContext(previous);
            SetLastError(static_cast<DWORD>(E_INVALIDARG));
            return nullptr;
        }
        next = record->storeIndex + 1;
    }
    CertRecord* found = nullptr;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        emu::loadEntries(state);
        for (; next < state->entries.size() && found == nullptr; ++next) {
            found = state->entries[next];
        }
        if (found != nullptr) {
            found->references.fetch_add(1);
            emu::countCertificate(1);
        }
    }
    CertFreeCertificateContext(previous);
    if (found == nullptr) {
        SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
        return nullptr;
    }
    return &found->context;
}

BOOL CertAddCertificateContextToStore(HCERTSTORE store, PCCERT_CONTEXT context, DWORD disposition,
                                      PCCERT_CONTEXT* outStoreContext) {
    if (outStoreContext != nullptr) {
        *outStoreContext = nullptr;
    }
    if (store == nullptr || context == nullptr || disposition < CERT_STORE_ADD_NEW ||
        disposition > CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    StoreState* state = emu::stateOf(store);
    if (state->readOnly) {
        SetLastError(static_cast<DWORD>(E_ACCESSDENIED));
        return FALSE;
    }
    CertRecord* source = emu::recordOf(context);
    CertRecord* copy = emu::createRecordFrom(source->data);
    {
        std::lock_guard<std::mutex> guard(source->propertyLock);
        for (const auto& [id, value] : source->properties) {
            if (emu::isPersistedProperty(id)) {
                copy->properties[id] = value;
            }
        }
    }
    emu::FolderLock folderLock(state->folder);
    if (!folderLock) {
        SetLastError(emu::lastErrorFromErrno(errno));
        emu::releaseRecord(copy);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(state->lock);
    emu::loadEntries(state);
    const std::string path = emu::certificatePath(*state, *copy);
    CertRecord* existing = nullptr;
    for (CertRecord* entry : state->entries) {
        if (entry != nullptr && entry->data->thumbprint == copy->data->thumbprint) {
            existing = entry;
        }
    }
    const bool onDisk = access(path.c_str(), F_OK) == 0;
    if (disposition == CERT_STORE_ADD_NEW && (existing != nullptr || onDisk)) {
        emu::releaseRecord(copy);
        SetLastError(static_cast<DWORD>(CRYPT_E_EXISTS));
        return FALSE;
    }
    if (disposition == CERT_STORE_ADD_USE_EXISTING && existing != nullptr) {
        emu::releaseRecord(copy);
        if (outStoreContext != nullptr) {
            existing->references.fetch_add(1);
            emu::countCertificate(1);
            *outStoreContext = &existing->context;
        }
        return TRUE;
    }
    if (disposition == CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES && existing != nullptr) {
        std::lock_guard<std::mutex> propertyGuard(existing->propertyLock);
        for (const auto& [id, value] : existing->properties) {
            copy->properties.emplace(id, value);  // the new context's own properties win
        }
    }
    if (!emu::writeFileAtomically(path, emu::serializeRecord(copy))) {
        SetLastError(emu::lastErrorFromErrno(errno));
        emu::releaseRecord(copy);
        return FALSE;
    }
    if (existing != nullptr) {
        state->entries[existing->storeIndex] = nullptr;
        emu::releaseRecord(existing);
    }
    emu::adoptEntry(state, copy);
    if (outStoreContext != nullptr) {
        copy->references.fetch_add(1);
        emu::countCertificate(1);
        *outStoreContext = &copy->context;
    }
    return TRUE;
}

BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT context) {
    if (context == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    CertRecord* record = emu::recordOf(context);
    StoreState* state = record->store;
    BOOL deleted = TRUE;
    if (state != nullptr) {
        emu::FolderLock folderLock(state->folder);
        const std::string path = emu::certificatePath(*state, *record);
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            SetLastError(emu::lastErrorFromErrno(errno));
            deleted = FALSE;
        } else {
            std::lock_guard<std::mutex> guard(state->lock);
            if (record->storeIndex < state->entries.size() &&
                state->entries[record->storeIndex] == record) {
                state->entries[record->storeIndex] = nullptr;
                record->references.fetch_sub(1);  // the store's own; the caller's goes below
            }
        }
    }
    CertFreeCertificateContext(context);  // freed whether the delete worked or not
    return deleted;
}

namespace emu {

namespace {

constexpr DWORD kIssuerFlags = CERT_STORE_SIGNATURE_FLAG | CERT_STORE_TIME_VALIDITY_FLAG |
                               CERT_STORE_REVOCATION_FLAG | CERT_STORE_NO_CRL_FLAG |
                               CERT_STORE_NO_ISSUER_FLAG;

bool sameBlob(const CRYPTOAPI_BLOB& a, const CRYPTOAPI_BLOB& b) {
    return a.cbData == b.cbData &&
           (a.cbData == 0 || std::memcmp(a.pbData, b.pbData, a.cbData) == 0);
}

const CERT_EXTENSION* findExtension(const CERT_INFO& info, const char* oid) {
    for (DWORD i = 0; i < info.cExtension; ++i) {
        if (std::strcmp(info.rgExtension[i].pszObjId, oid) == 0) {
            return &info.rgExtension[i];
        }
    }
    return nullptr;
}

// The key identifier of the authority key identifier extension, empty when there is none.
std::vector<BYTE> authorityKeyId(const CERT_INFO& info) {
    const CERT_EXTENSION* extension = findExtension(info, "2.5.29.35");
    if (extension == nullptr) {
        return {};
    }
    DerReader outer(extension->Value.pbData, extension->Value.pbData + extension->Value.cbData);
    DerElement sequence;
    if (!outer.read(kTagSequence, &sequence)) {
        return {};
    }
    DerReader fields(sequence.content, sequence.content + sequence.contentLength);
    DerElement keyId;
    if (fields.peekTag() != 0x80 || !fields.readAny(&keyId)) {
        return {};
    }
    return std::vector<BYTE>(keyId.content, keyId.content + keyId.contentLength);
}

std::vector<BYTE> subjectKeyId(const CERT_INFO& info) {
    const CERT_EXTENSION* extension = findExtension(info, "2.5.29.14");
    if (extension == nullptr) {
        return {};
    }
    DerReader outer(extension->Value.pbData, extension->Value.pbData + extension->Value.cbData);
    DerElement keyId;
    if (!outer.read(kTagOctetString, &keyId)) {
        return {};
    }
    return std::vector<BYTE>(keyId.content, keyId.content + keyId.contentLength);
}

// Whether `candidate` may have issued `subject`: its subject name is the subject's issuer name,
// byte for byte, and where the subject names its issuer's key, that key.
bool isIssuerOf(const CertRecord& candidate, const CertRecord& subject) {
    if (!sameBlob(candidate.data->info.Subject, subject.data->info.Issuer)) {
        return false;
    }
    const std::vector<BYTE> wanted = authorityKeyId(subject.data->info);
    return wanted.empty() || subjectKeyId(candidate.data->info) == wanted;
}

bool signatureVerifies(const CertRecord& subject, const CertRecord& issuer) {
    const BYTE* subjectBytes = subject.data->encoded.data();
    const BYTE* issuerBytes = issuer.data->encoded.data();
    std::unique_ptr<X509, decltype(&X509_free)> subjectCert(
            d2i_X509(nullptr, &subjectBytes, static_cast<long>(subject.data->encoded.size())),
            X509_free);
    std::unique_ptr<X509, decltype(&X509_free)> issuerCert(
            d2i_X509(nullptr, &issuerBytes, static_cast<long>(issuer.data->encoded.size())),
            X509_free);
    if (!subjectCert || !issuerCert) {
        return false;
    }
    EVP_PKEY* key = X509_get0_pubkey(issuerCert.get());
    const bool verified = key != nullptr && X509_verify(subjectCert.get(), key) == 1;
    ERR_clear_error();
    return verified;
}

std::uint64_t ticksOf(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool isTimeValidNow(const CERT_INFO& info) {
    constexpr std::uint64_t kTicksTo1970 = 116444736000000000ull;
    const std::uint64_t now =
            kTicksTo1970 + static_cast<std::uint64_t>(std::time(nullptr)) * 10000000ull;
    return ticksOf(info.NotBefore) <= now && now <= ticksOf(info.NotAfter);
}

}  // namespace

}  // namespace emu

// A check asked for in `flags` that passes clears its bit; one that fails leaves it set, and
// the issuer still comes back, as on the platform.
PCCERT_CONTEXT CertGetIssuerCertificateFromStore(HCERTSTORE store, PCCERT_CONTEXT subject,
                                                 PCCERT_CONTEXT previousIssuer, DWORD* flags) {
    if (store == nullptr || subject == nullptr || flags == nullptr ||
        (*flags & ~emu::kIssuerFlags) != 0) {
        CertFreeCertificateContext(previousIssuer);
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    StoreState* state = emu::stateOf(store);
    const CertRecord* subjectRecord = emu::recordOf(subject);
    const bool selfSigned = emu::isIssuerOf(*subjectRecord, *subjectRecord);
    CertRecord* found = nullptr;
    bool holdsSubject = false;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        emu::loadEntries(state);
        size_t next = 0;
        if (previousIssuer != nullptr && emu::recordOf(previousIssuer)->store == state) {
            next = emu::recordOf(previousIssuer)->storeIndex + 1;
        }
        for (size_t i = 0; i < state->entries.size(); ++i) {
            const CertRecord* entry = state->entries[i];
            if (entry == nullptr) {
                continue;
            }
            holdsSubject =
                    holdsSubject || entry->data->thumbprint == subjectRecord->data->thumbprint;
            if (!selfSigned && found == nullptr && i >= next &&
                emu::isIssuerOf(*entry, *subjectRecord)) {
                found = state->entries[i];
            }
        }
        if (found != nullptr) {
            found->references.fetch_add(1);
            emu::countCertificate(1);
        }
    }
    CertFreeCertificateContext(previousIssuer);
    if (found == nullptr) {
        if ((*flags & (CERT_STORE_SIGNATURE_FLAG | CERT_STORE_REVOCATION_FLAG)) != 0) {
            *flags |= CERT_STORE_NO_ISSUER_FLAG;
        }
        SetLastError(static_cast<DWORD>(selfSigned && holdsSubject ? CRYPT_E_SELF_SIGNED
                                                                   : CRYPT_E_NOT_FOUND));
        return nullptr;
    }
    if ((*flags & CERT_STORE_SIGNATURE_FLAG) != 0 &&
        emu::signatureVerifies(*subjectRecord, *found)) {
        *flags &= ~CERT_STORE_SIGNATURE_FLAG;
    }
    if ((*flags & CERT_STORE_TIME_VALIDITY_FLAG) != 0 &&
        emu::isTimeValidNow(subjectRecord->data->info)) {
        *flags &= ~CERT_STORE_TIME_VALIDITY_FLAG;
    }
    if ((*flags & CERT_STORE_REVOCATION_FLAG) != 0) {
        *flags |= CERT_STORE_NO_CRL_FLAG;  // the emulation keeps no revocation lists
    }
    return &found->context;
}
