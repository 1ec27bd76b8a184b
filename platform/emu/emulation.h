// What the emulation offers beyond the Windows calls: its root folder, the faults that tests
// can ask for, and the count of handles it has given out.
#pragma once

#include <string>
#include <vector>

#include "platform/api.h"

namespace emu {

// rootFolder is where the current user's stores and key containers live: $BRISVANDER_HOME when
// set, else $XDG_DATA_HOME/brisvander, else ~/.local/share/brisvander. Read on every call, so
// a test may point it elsewhere between calls.
std::string rootFolder();

// Tests make named calls fail through a file `emulation-faults` in the root folder, honoured
// only when BRISVANDER_HOME is set, so that a user's own data folder never carries one. Each
// line names a call and what it applies to, and may end with the last error to set, in hex:
//   CertOpenStore MY [0x80070005]   opening the system store "MY" fails (either open call)
//   CryptAcquireContextA verify     the verify-only context is unavailable
//   CryptAcquireContextA NAME       the container NAME does not open, nor can it be made
//   CryptImportKey                  every import of a key blob fails
//   CryptImportPublicKeyInfo        every import of a public key fails
//   CryptGetUserKey                 no key comes out of any slot
//   CryptGetKeyParam                no key parameter can be read
//   CryptCreateHash, CryptHashData  hashes cannot be made, or take no data
//   CryptSignHashA query|sign       the size query (no buffer) or the signing itself fails
//   CryptEncrypt query|encrypt      the size query (no buffer) or the encryption fails
//   CryptDecrypt [0x80090005]       decryption fails, by default with NTE_FAIL
//   FormatMessageA                  no system text for any code
// Lines starting with '#' are comments. The file is read afresh by every call that checks it.
constexpr const char* kFaultFileName = "emulation-faults";

// faultFor tells whether the fault file asks `call` on `subject` (compared without regard to
// letter case; empty for calls without one) to fail; if so sets `outError` to the line's error,
// or to `defaultError` when the line gives none.
bool faultFor(const char* call, const std::string& subject, DWORD defaultError, DWORD* outError);

// The handles that callers hold now, for tests that check that every one is given back.
struct HandleCounts {
    long stores = 0;
    long certificates = 0;  // context references handed out and not yet freed
    long providers = 0;
    long keys = 0;
    long hashes = 0;
};
HandleCounts openHandles();

// Internal bookkeeping of the counts, +1 when a handle is handed out and -1 when it comes back.
void countStore(int delta);
void countCertificate(int delta);
void countProvider(int delta);
void countKey(int delta);
void countHash(int delta);

// Files of the root folder. writeFileAtomically writes `bytes` to `path` through a temporary
// file in the same folder, fsync and rename, so that a reader or a crash sees the old file or
// the new one whole; mode 0600. Returns false with errno set on failure.
bool ensureFolder(const std::string& path);
bool writeFileAtomically(const std::string& path, const std::vector<BYTE>& bytes);
// removeLeftoverTemporaries removes the temporary files of writeFileAtomically for `path` that
// a process killed while writing left behind. Only for files that every writer writes under
// one FolderLock, and with that lock held: then no temporary file of `path` is in use.
void removeLeftoverTemporaries(const std::string& path);

// What a file's metadata says of its content, for caches that must notice another process's
// change without reading the file. Every change the emulation makes replaces a file by a
// rename, which gives the file a new inode and change time and its folder a new modification
// time. Times are nanoseconds since 1970.
struct FileStamp {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = -1;
    long long modified = 0;
    long long changed = 0;
    bool operator==(const FileStamp& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified == other.modified && changed == other.changed;
    }
};
// A stamp is settled when its modification time is older than `readStart` (taken before the
// stat) by more than any file system's time granularity: a later change then cannot leave the
// same time behind. Only a settled stamp may stand for the content.
bool isSettled(const FileStamp& stamp, long long readStart);
long long currentTime();
bool stampFile(const std::string& path, FileStamp* outStamp);

// readWholeFile reads `path`; with `outStamp`, also the stamp of the file it read.
bool readWholeFile(const std::string& path, std::vector<BYTE>* out, FileStamp* outStamp = nullptr);
// toFileName makes a store or container name safe as one file name component, with letter case
// folded: names are case-insensitive on the platform.
std::string toFileName(const std::string& name);
// lastErrorFromErrno maps the errno of a failed file operation to a Win32 error code.
DWORD lastErrorFromErrno(int error);

// FolderLock holds an exclusive lock on `folder`'s lock file, across threads and processes.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    explicit operator bool() const { return descriptor_ >= 0; }

private:
    int descriptor_;
};

// wipeBytes overwrites `bytes` with zeros in a way the compiler keeps.
void wipeBytes(void* bytes, size_t length);

}  // namespace emu
