// The test data folder's certificates, read whole.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/api.h"

// readAliasFixture gives the bytes of a certificate of the alias fixtures ("plain-cn.der"), or
// an empty vector when it cannot be read.
inline std::vector<BYTE> readAliasFixture(const std::string& name) {
    std::vector<BYTE> bytes;
    FILE* file = std::fopen((std::string(BRISVANDER_FIXTURES "/alias/") + name).c_str(), "rb");
    if (file != nullptr) {
        bytes.resize(16384);
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
        std::fclose(file);
    }
    return bytes;
}
