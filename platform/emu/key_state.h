// The emulation's key handles and key slots, shared by the key and hash code.
#pragma once

#include <memory>
#include <string>

#include "platform/api.h"
#include "platform/emu/emulation.h"
#include "platform/emu/provider_state.h"
#include "platform/emu/rsa_key.h"

namespace emu {

// findKey answers the key behind a key handle, or null for no live handle.
std::shared_ptr<const RsaKey> findKey(HCRYPTKEY handle);

// loadSlotKey reads the key in slot `keySpec` of the context `provider`: from memory for a
// verify-only context, else from its container file. Returns null with `outError` set:
// NTE_NO_KEY for an empty slot (and, through the Base provider, for a key-exchange key above
// 1024 bits, which that provider cannot use), NTE_BAD_KEYSET when the container is gone.
std::shared_ptr<const RsaKey> loadSlotKey(ProviderState& provider, DWORD keySpec,
                                          HRESULT* outError);

// failWith sets the thread's last error to `error` and answers FALSE, as a failing call does.
inline BOOL failWith(HRESULT error) {
    SetLastError(static_cast<DWORD>(error));
    return FALSE;
}

// failsByFault tells whether the fault file fails this call of `call`, and if so sets the
// line's last error (or `defaultError`).
inline bool failsByFault(const char* call, const std::string& subject, HRESULT defaultError) {
    DWORD error = 0;
    if (faultFor(call, subject, static_cast<DWORD>(defaultError), &error)) {
        SetLastError(error);
        return true;
    }
    return false;
}

}  // namespace emu
