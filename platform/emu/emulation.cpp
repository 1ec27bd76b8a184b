// The emulation's root folder, fault file, handle counts and file helpers.

#include "platform/emu/emulation.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace emu {

namespace {

std::atomic<long> storeCount{0};
std::atomic<long> certificateCount{0};
std::atomic<long> providerCount{0};
std::atomic<long> keyCount{0};
std::atomic<long> hashCount{0};
std::atomic<unsigned long> temporaryCounter{0};

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if ((x >= 'a' && x <= 'z' ? x - 32 : x) != (y >= 'a' && y <= 'z' ? y - 32 : y)) {
            return false;
        }
    }
    return true;
}

bool syncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const bool synced = fsync(descriptor) == 0;
    close(descriptor);
    return synced;
}

FileStamp stampOf(const struct stat& info) {
    FileStamp stamp;
    stamp.device = static_cast<unsigned long long>(info.st_dev);
    stamp.inode = static_cast<unsigned long long>(info.st_ino);
    stamp.size = static_cast<long long>(info.st_size);
    stamp.modified =
            static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    stamp.changed =
            static_cast<long long>(info.st_ctim.tv_sec) * 1000000000LL + info.st_ctim.tv_nsec;
    return stamp;
}

// Two seconds cover file systems that keep whole seconds as well as those that take file
// times from a clock that lags by a tick.
constexpr long long kSettleTime = 2000000000LL;

}  // namespace

long long currentTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Every change to a folder's entries moves its modification time on, so that time alone tells;
// the change time, which no one can set back, stays part of the stamp.
bool isSettled(const FileStamp& stamp, long long readStart) {
    return stamp.modified < readStart - kSettleTime;
}

bool stampFile(const std::string& path, FileStamp* outStamp) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return false;
    }
    *outStamp = stampOf(info);
    return true;
}

std::string rootFolder() {
    const char* home = std::getenv("BRISVANDER_HOME");
    if (home != nullptr && *home != 0) {
        return home;
    }
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && *dataHome == '/') {
        return std::string(dataHome) + "/brisvander";
    }
    const char* userHome = std::getenv("HOME");
    if (userHome == nullptr || *userHome == 0) {
        const passwd* entry = getpwuid(getuid());
        userHome = entry != nullptr ? entry->pw_dir : "/tmp";
    }
    return std::string(userHome) + "/.local/share/brisvander";
}

bool faultFor(const char* call, const std::string& subject, DWORD defaultError, DWORD* outError) {
    const char* home = std::getenv("BRISVANDER_HOME");
    if (home == nullptr || *home == 0) {
        return false;
    }
    std::ifstream file(std::string(home) + "/" + kFaultFileName);
    if (!file) {
        return false;
    }
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string name;
        if (!(words >> name) || name[0] == '#' || name != call) {
            continue;
        }
        std::string target;
        std::string error;
        if (!subject.empty()) {
            if (!(words >> target) || !equalsIgnoringCase(target, subject)) {
                continue;
            }
        }
        *outError = defaultError;
        if (words >> error) {
            *outError = static_cast<DWORD>(std::strtoul(error.c_str(), nullptr, 0));
        }
        return true;
    }
    return false;
}

HandleCounts openHandles() {
    HandleCounts counts;
    counts.stores = storeCount.load();
    counts.certificates = certificateCount.load();
    counts.providers = providerCount.load();
    counts.keys = keyCount.load();
    counts.hashes = hashCount.load();
    return counts;
}

void countStore(int delta) { storeCount.fetch_add(delta); }
void countCertificate(int delta) { certificateCount.fetch_add(delta); }
void countProvider(int delta) { providerCount.fetch_add(delta); }
void countKey(int delta) { keyCount.fetch_add(delta); }
void countHash(int delta) { hashCount.fetch_add(delta); }

bool ensureFolder(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return true;
        }
        errno = ENOTDIR;
        return false;
    }
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !ensureFolder(path.substr(0, slash))) {
        return false;
    }
    // Key containers hold private keys: only the user may enter.
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

bool writeFileAtomically(const std::string& path, const std::vector<BYTE>& bytes) {
    const std::string temporary = path + ".tmp-" + std::to_string(getpid()) + "-" +
                                  std::to_string(temporaryCounter.fetch_add(1));
    const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        return false;
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t result = write(descriptor, bytes.data() + written, bytes.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int saved = errno;
            close(descriptor);
            unlink(temporary.c_str());
            errno = saved;
            return false;
        }
        written += static_cast<size_t>(result);
    }
    if (fsync(descriptor) != 0 || close(descriptor) != 0) {
        const int saved = errno;
        unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    // The rename has happened; a folder that cannot be synced only makes it durable later.
    syncFolderOf(path);
    return true;
}

void removeLeftoverTemporaries(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp-";
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        return;
    }
    std::vector<std::string> leftovers;
    while (const dirent* entry = readdir(listing)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
            leftovers.push_back(folder + "/" + entry->d_name);
        }
    }
    closedir(listing);
    for (const std::string& leftover : leftovers) {
        unlink(leftover.c_str());
    }
}

bool readWholeFile(const std::string& path, std::vector<BYTE>* out, FileStamp* outStamp) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    if (outStamp != nullptr) {
        struct stat info;
        if (fstat(descriptor, &info) != 0) {
            close(descriptor);
            return false;
        }
        *outStamp = stampOf(info);
    }
    out->clear();
    BYTE chunk[16384];
    for (;;) {
        const ssize_t result = read(descriptor, chunk, sizeof(chunk));
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            const bool complete = result == 0;
            close(descriptor);
            return complete;
        }
        out->insert(out->end(), chunk, chunk + result);
    }
}

std::string toFileName(const std::string& name) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string safe;
    for (const char character : name) {
        const unsigned char byte = static_cast<unsigned char>(character);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == '-' ||
            byte == '_' || (byte == '.' && !safe.empty())) {
            safe.push_back(character);
        } else if (byte >= 'a' && byte <= 'z') {
            safe.push_back(static_cast<char>(byte - 32));
        } else {
            safe.push_back('%');
            safe.push_back(kDigits[byte >> 4]);
            safe.push_back(kDigits[byte & 0x0F]);
        }
    }
    return safe.empty() ? "%" : safe;
}

DWORD lastErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_WRITE_FAULT;
    }
}

FolderLock::FolderLock(const std::string& folder)
    : descriptor_(open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (descriptor_ >= 0) {
        while (flock(descriptor_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(descriptor_);
                descriptor_ = -1;
                break;
            }
        }
    }
}

FolderLock::~FolderLock() {
    if (descriptor_ >= 0) {
        close(descriptor_);  // closing drops the lock
    }
}

void wipeBytes(void* bytes, size_t length) {
    volatile BYTE* cursor = static_cast<volatile BYTE*>(bytes);
    while (length-- > 0) {
        *cursor++ = 0;
    }
}

}  // namespace emu
