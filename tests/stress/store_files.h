// The emulation's files read back on their own, without the emulation: the certificate files
// of a store folder and the key containers, each checked whole, and every other file noted.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <openssl/sha.h>
#include <openssl/x509.h>

#include "platform/api.h"

using Bytes = std::vector<BYTE>;

inline bool readFileBytes(const std::string& path, Bytes* out) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    out->clear();
    BYTE chunk[8192];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        out->insert(out->end(), chunk, chunk + got);
    }
    const bool complete = std::ferror(file) == 0;
    std::fclose(file);
    return complete;
}

inline DWORD littleEndianNumber(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | (static_cast<DWORD>(at[1]) << 8) |
           (static_cast<DWORD>(at[2]) << 16) | (static_cast<DWORD>(at[3]) << 24);
}

inline std::string upperHex(const BYTE* bytes, size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

// Splits `file` into its sections of (id, length, bytes) after an 8-byte magic. Returns false
// for a file that does not end exactly after its last section.
inline bool splitSections(const Bytes& file, const char* magic,
                          std::vector<std::pair<DWORD, Bytes>>* out) {
    if (file.size() < 8 || std::memcmp(file.data(), magic, 8) != 0) {
        return false;
    }
    size_t at = 8;
    while (at < file.size()) {
        if (file.size() - at < 8) {
            return false;
        }
        const DWORD id = littleEndianNumber(file.data() + at);
        const DWORD length = littleEndianNumber(file.data() + at + 4);
        at += 8;
        if (file.size() - at < length) {
            return false;
        }
        out->emplace_back(id, Bytes(file.data() + at, file.data() + at + length));
        at += length;
    }
    return true;
}

// A store's certificate file: the encoding first, then its properties.
struct StoredCertificate {
    Bytes encoded;
    std::map<DWORD, Bytes> properties;
};

// What a folder holds besides the files it is meant to: temporary files and anything else.
struct FolderContents {
    std::map<std::string, StoredCertificate> certificates;     // by thumbprint digits
    std::map<std::string, std::map<DWORD, Bytes>> containers;  // by file name, slots by key spec
    std::vector<std::string> temporaries;                      // names holding ".tmp-"
    std::vector<std::string> problems;                         // a file that does not read whole
};

// Reads a certificate file: the encoding is one whole certificate whose SHA-1 is the name.
inline bool readCertificateFile(const std::string& path, const std::string& thumbprint,
                                StoredCertificate* out, std::string* outProblem) {
    Bytes file;
    std::vector<std::pair<DWORD, Bytes>> sections;
    if (!readFileBytes(path, &file) || !splitSections(file, "BRVCERT1", &sections) ||
        sections.empty() || sections[0].first != 0) {
        *outProblem = "not a whole certificate file";
        return false;
    }
    const Bytes& encoded = sections[0].second;
    const BYTE* cursor = encoded.data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(
            d2i_X509(nullptr, &cursor, static_cast<long>(encoded.size())), X509_free);
    BYTE digest[SHA_DIGEST_LENGTH];
    SHA1(encoded.data(), encoded.size(), digest);
    if (!cert || cursor != encoded.data() + encoded.size() ||
        upperHex(digest, sizeof(digest)) != thumbprint) {
        *outProblem = "its encoding is no certificate of that thumbprint";
        return false;
    }
    out->encoded = encoded;
    for (size_t i = 1; i < sections.size(); ++i) {
        if (sections[i].first == 0 || out->properties.count(sections[i].first) != 0) {
            *outProblem = "a second encoding or a property twice";
            return false;
        }
        out->properties[sections[i].first] = sections[i].second;
    }
    return true;
}

// Reads a key container: each slot a whole PRIVATEKEYBLOB of its own bit length, once.
inline bool readContainerFile(const std::string& path, std::map<DWORD, Bytes>* out) {
    Bytes file;
    std::vector<std::pair<DWORD, Bytes>> sections;
    if (!readFileBytes(path, &file) || !splitSections(file, "BRVKEYS1", &sections)) {
        return false;
    }
    for (const auto& [spec, blob] : sections) {
        if (blob.size() < 20 || blob[0] != PRIVATEKEYBLOB ||
            std::memcmp(blob.data() + 8, "RSA2", 4) != 0) {
            return false;
        }
        const DWORD bits = littleEndianNumber(blob.data() + 12);
        if (blob.size() != 20 + 2 * (bits / 8) + 5 * ((bits + 15) / 16) || out->count(spec) != 0) {
            return false;
        }
        (*out)[spec] = blob;
    }
    return true;
}

inline bool isThumbprintName(const std::string& name) {
    if (name.size() != 44 || name.compare(40, 4, ".cer") != 0) {
        return false;
    }
    for (size_t i = 0; i < 40; ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

// readFolder reads every file of `folder`: certificate files, containers (".key"), temporary
// files, and the lock file, which it passes over.
inline FolderContents readFolder(const std::string& folder) {
    FolderContents contents;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return contents;
    }
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        const std::string path = folder + "/" + name;
        std::string problem;
        if (name == "." || name == ".." || name == ".lock") {
            continue;
        }
        if (name.find(".tmp-") != std::string::npos) {
            contents.temporaries.push_back(name);
        } else if (isThumbprintName(name)) {
            StoredCertificate cert;
            if (readCertificateFile(path, name.substr(0, 40), &cert, &problem)) {
                contents.certificates[name.substr(0, 40)] = cert;
            } else {
                contents.problems.push_back(name + ": " + problem);
            }
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".key") == 0) {
            std::map<DWORD, Bytes> slots;
            if (readContainerFile(path, &slots)) {
                contents.containers[name] = slots;
            } else {
                contents.problems.push_back(name + ": not a whole key container");
            }
        } else {
            contents.problems.push_back(name + ": a file of no known kind");
        }
    }
    closedir(directory);
    return contents;
}

// fileMode is the permission bits of `path`, or -1 when it is not there.
inline int fileMode(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}
