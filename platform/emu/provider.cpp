// Provider contexts and the key containers of the current user, one file per container under
// the root folder, shared by every provider of the emulation, as the platform's RSA providers
// share theirs.

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/api.h"
#include "platform/emu/emulation.h"
#include "platform/emu/provider_state.h"

namespace emu {

namespace {

struct KnownProvider {
    const char* name;
    DWORD type;
};

// The providers the platform knows, with their types; the first of each type is its default.
constexpr KnownProvider kProviders[] = {
        {MS_ENHANCED_PROV_A, PROV_RSA_FULL},
        {MS_DEF_PROV_A, PROV_RSA_FULL},
        {MS_STRONG_PROV_A, PROV_RSA_FULL},
        {"Microsoft RSA Signature Cryptographic Provider", PROV_RSA_SIG},
        {"Microsoft Base DSS Cryptographic Provider", PROV_DSS},
        {"Microsoft Enhanced RSA and AES Cryptographic Provider", PROV_RSA_AES},
};

constexpr char kContainerMagic[] = "BRVKEYS1";
constexpr DWORD kKnownFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                              CRYPT_MACHINE_KEYSET | CRYPT_SILENT;

std::mutex providersLock;
std::map<HCRYPTPROV, std::shared_ptr<ProviderState>> providers;
HCRYPTPROV nextProvider = 0x10000;

bool sameTextIgnoringCase(const char* a, const char* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        const unsigned char x = static_cast<unsigned char>(*a);
        const unsigned char y = static_cast<unsigned char>(*b);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) {
            return false;
        }
    }
    return *a == *b;
}

std::string defaultContainerName() {
    const char* user = std::getenv("USER");
    return user != nullptr && *user != 0 ? user : "default";
}

HCRYPTPROV registerProvider(std::shared_ptr<ProviderState> state) {
    std::lock_guard<std::mutex> guard(providersLock);
    const HCRYPTPROV handle = nextProvider++;
    providers.emplace(handle, std::move(state));
    countProvider(1);
    return handle;
}

}  // namespace

std::string containerPath(const std::string& name) {
    return rootFolder() + "/containers/" + toFileName(name) + ".key";
}

std::vector<BYTE> emptyContainerFile() {
    return std::vector<BYTE>(kContainerMagic, kContainerMagic + sizeof(kContainerMagic) - 1);
}

std::shared_ptr<ProviderState> findProvider(HCRYPTPROV handle) {
    std::lock_guard<std::mutex> guard(providersLock);
    const auto found = providers.find(handle);
    return found == providers.end() ? nullptr : found->second;
}

}  // namespace emu

BOOL CryptAcquireContextA(HCRYPTPROV* outProvider, LPCSTR container, LPCSTR providerName,
                          DWORD providerType, DWORD flags) {
    if (outProvider == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *outProvider = 0;
    if ((flags & ~emu::kKnownFlags) != 0) {
        SetLastError(static_cast<DWORD>(NTE_BAD_FLAGS));
        return FALSE;
    }
    if (providerType == 0 || providerType > 999) {
        SetLastError(static_cast<DWORD>(NTE_BAD_PROV_TYPE));
        return FALSE;
    }
    const emu::KnownProvider* provider = nullptr;
    for (const emu::KnownProvider& known : emu::kProviders) {
        const bool named = providerName != nullptr && *providerName != 0;
        if (named ? emu::sameTextIgnoringCase(known.name, providerName)
                  : known.type == providerType) {
            provider = &known;
            break;
        }
    }
    if (provider == nullptr) {
        const bool named = providerName != nullptr && *providerName != 0;
        SetLastError(static_cast<DWORD>(named ? NTE_KEYSET_NOT_DEF : NTE_PROV_TYPE_NOT_DEF));
        return FALSE;
    }
    if (provider->type != providerType) {
        SetLastError(static_cast<DWORD>(NTE_PROV_TYPE_NO_MATCH));
        return FALSE;
    }
    auto state = std::make_shared<emu::ProviderState>();
    state->providerName = provider->name;
    state->providerType = provider->type;
    if ((flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT) {
        if (container != nullptr) {
            SetLastError(static_cast<DWORD>(NTE_BAD_FLAGS));
            return FALSE;
        }
        DWORD error = 0;
        if (emu::faultFor("CryptAcquireContextA", "verify", static_cast<DWORD>(NTE_KEYSET_NOT_DEF),
                          &error)) {
            SetLastError(error);
            return FALSE;
        }
        state->verifyOnly = true;
        *outProvider = emu::registerProvider(std::move(state));
        return TRUE;
    }
    state->containerName =
            container != nullptr && *container != 0 ? container : emu::defaultContainerName();
    DWORD error = 0;
    if (emu::faultFor("CryptAcquireContextA", state->containerName,
                      static_cast<DWORD>(NTE_BAD_KEYSET), &error)) {
        SetLastError(error);
        return FALSE;
    }
    const std::string folder = emu::rootFolder() + "/containers";
    const std::string path = emu::containerPath(state->containerName);
    if ((flags & CRYPT_DELETEKEYSET) != 0) {
        // Under the lock an import holds from reading the container to writing it back, so
        // that no import under way brings a deleted container back.
        emu::FolderLock lock(folder);
        if (!lock && errno != ENOENT) {
            SetLastError(emu::lastErrorFromErrno(errno));
            return FALSE;
        }
        if (access(path.c_str(), F_OK) != 0) {
            SetLastError(static_cast<DWORD>(NTE_BAD_KEYSET));
            return FALSE;
        }
        if (unlink(path.c_str()) != 0) {
            SetLastError(emu::lastErrorFromErrno(errno));
            return FALSE;
        }
        // Nor may a copy of its keys that a killed writer left behind outlive it.
        emu::removeLeftoverTemporaries(path);
        return TRUE;  // no context comes back
    }
    if ((flags & CRYPT_NEWKEYSET) != 0) {
        // Looked for and made under the lock: of callers making one container at once only
        // one succeeds, and none writes an empty container over a key imported meanwhile.
        if (!emu::ensureFolder(folder)) {
            SetLastError(emu::lastErrorFromErrno(errno));
            return FALSE;
        }
        emu::FolderLock lock(folder);
        if (!lock) {
            SetLastError(emu::lastErrorFromErrno(errno));
            return FALSE;
        }
        if (access(path.c_str(), F_OK) == 0) {
            SetLastError(static_cast<DWORD>(NTE_EXISTS));
            return FALSE;
        }
        if (!emu::writeFileAtomically(path, emu::emptyContainerFile())) {
            SetLastError(emu::lastErrorFromErrno(errno));
            return FALSE;
        }
    } else if (access(path.c_str(), F_OK) != 0) {
        SetLastError(static_cast<DWORD>(NTE_BAD_KEYSET));
        return FALSE;
    }
    *outProvider = emu::registerProvider(std::move(state));
    return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD flags) {
    if (flags != 0) {
        SetLastError(static_cast<DWORD>(NTE_BAD_FLAGS));
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(emu::providersLock);
    if (emu::providers.erase(provider) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    emu::countProvider(-1);
    return TRUE;
}
