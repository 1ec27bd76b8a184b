// Writer processes for the store tests, which report on standard output what they have done,
// and a look at a store through the emulation.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/handles.h"

struct Writer {
    pid_t pid = -1;
    FILE* output = nullptr;
};

// startWriter runs `program` with `arguments`, its standard output going into a pipe that
// readReport and finish read. Returns a writer with pid -1 when it cannot start one.
inline Writer startWriter(const std::string& program, const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return {};
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], 1);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    if (pid < 0) {
        close(pipeEnds[0]);
        return {};
    }
    return {pid, fdopen(pipeEnds[0], "r")};
}

// readReport reads the writer's next whole line, without its newline. Returns false at the
// end of its output; a line cut short by the writer's death does not count.
inline bool readReport(Writer& writer, std::string* outLine) {
    outLine->clear();
    char chunk[512];
    while (std::fgets(chunk, sizeof(chunk), writer.output) != nullptr) {
        *outLine += chunk;
        if (!outLine->empty() && outLine->back() == '\n') {
            outLine->pop_back();
            return true;
        }
    }
    return false;
}

// finish reads what the writer still reports until it ends, waits for it and returns its lines.
inline std::vector<std::string> finish(Writer writer, int* status) {
    std::vector<std::string> lines;
    std::string line;
    while (readReport(writer, &line)) {
        lines.push_back(line);
    }
    std::fclose(writer.output);
    waitpid(writer.pid, status, 0);
    return lines;
}

inline std::string hexOf(const BYTE* bytes, size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

inline std::string thumbprintOf(PCCERT_CONTEXT cert) {
    BYTE hash[20];
    DWORD size = sizeof(hash);
    EXPECT_TRUE(CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size));
    return hexOf(hash, size);
}

// storedThumbprints lists the certificates a fresh handle of `storeName` enumerates; a
// certificate that comes twice fails the test.
inline std::set<std::string> storedThumbprints(const char* storeName = "MY") {
    std::set<std::string> found;
    StoreHandle store(CertOpenSystemStoreA(0, storeName));
    CertContext cert;
    while (nextCertificate(store.get(), cert)) {
        const std::string thumbprint = thumbprintOf(cert.get());
        EXPECT_TRUE(found.insert(thumbprint).second) << thumbprint << " enumerated twice";
    }
    return found;
}

// certificateFiles counts the files of `folder` named as a certificate is: SHA-1 digits and
// ".cer".
inline size_t certificateFiles(const std::string& folder) {
    size_t count = 0;
    if (DIR* directory = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(directory)) {
            const std::string name = entry->d_name;
            count += name.size() == 44 && name.compare(40, 4, ".cer") == 0 ? 1 : 0;
        }
        closedir(directory);
    }
    return count;
}
