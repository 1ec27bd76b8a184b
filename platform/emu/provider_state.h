// The emulation's provider contexts, shared by the provider, key and hash code.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/emu/rsa_key.h"

namespace emu {

struct ProviderState {
    std::string providerName;
    DWORD providerType = 0;
    bool verifyOnly = false;
    std::string containerName;  // as given; the file name folds its letter case
    // A verify-only context keeps its key blobs here, by key spec, until it is released; a
    // container keeps them in its file.
    std::mutex slotsLock;
    std::map<DWORD, SecretBytes> slots;
};

// findProvider answers the state behind a provider handle, or null for no live handle.
std::shared_ptr<ProviderState> findProvider(HCRYPTPROV handle);

// containerPath is the file of the key container `name` under the root folder.
std::string containerPath(const std::string& name);

// emptyContainerFile is the content of a container with both key slots empty.
std::vector<BYTE> emptyContainerFile();

}  // namespace emu
