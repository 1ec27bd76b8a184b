// The thread's last error and the system's text for error codes, in Windows' wording.

#include <cstdlib>
#include <cstring>

#include "platform/api.h"
#include "platform/emu/emulation.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

struct SystemText {
    DWORD code;
    const char* text;
};

// Windows returns each text with a CR LF of its own; FormatMessageA adds it below.
constexpr SystemText kSystemTexts[] = {
        {ERROR_SUCCESS, "The operation completed successfully."},
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
        {ERROR_ACCESS_DENIED, "Access is denied."},
        {ERROR_INVALID_HANDLE, "The handle is invalid."},
        {ERROR_NOT_ENOUGH_MEMORY,
         "Not enough memory resources are available to process this command."},
        {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
        {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
        {ERROR_DISK_FULL, "There is not enough space on the disk."},
        {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
        {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
        {ERROR_MORE_DATA, "More data is available."},
        {ERROR_NO_MORE_ITEMS, "No more data is available."},
        {ERROR_CANCELLED, "The operation was canceled by the user."},
        {0x800704C7u, "The operation was canceled by the user."},
        {static_cast<DWORD>(E_ACCESSDENIED), "Access is denied."},
        {static_cast<DWORD>(E_INVALIDARG), "The parameter is incorrect."},
        {static_cast<DWORD>(NTE_BAD_KEY), "Bad Key."},
        {static_cast<DWORD>(NTE_BAD_LEN), "Bad Length."},
        {static_cast<DWORD>(NTE_BAD_DATA), "Bad Data."},
        {static_cast<DWORD>(NTE_BAD_SIGNATURE), "Invalid Signature."},
        {static_cast<DWORD>(NTE_BAD_ALGID), "Invalid algorithm specified."},
        {static_cast<DWORD>(NTE_BAD_FLAGS), "Invalid flags specified."},
        {static_cast<DWORD>(NTE_BAD_HASH_STATE), "Hash not valid for use in specified state."},
        {static_cast<DWORD>(NTE_NO_KEY), "Key does not exist."},
        {static_cast<DWORD>(NTE_EXISTS), "Object already exists."},
        {static_cast<DWORD>(NTE_BAD_PROV_TYPE), "Invalid provider type specified."},
        {static_cast<DWORD>(NTE_BAD_KEYSET), "Keyset does not exist"},
        {static_cast<DWORD>(NTE_KEYSET_NOT_DEF), "The keyset is not defined."},
        {static_cast<DWORD>(NTE_PROV_TYPE_NO_MATCH),
         "Provider type does not match registered value."},
        {static_cast<DWORD>(NTE_FAIL), "An internal error occurred."},
        {static_cast<DWORD>(CRYPT_E_NOT_FOUND), "Cannot find object or property."},
        {static_cast<DWORD>(CRYPT_E_EXISTS), "The object or property already exists."},
        {static_cast<DWORD>(CRYPT_E_SELF_SIGNED), "The specified certificate is self signed."},
        {static_cast<DWORD>(CRYPT_E_PENDING_CLOSE),
         "Final closure is pending until additional frees or closes."},
        {static_cast<DWORD>(CRYPT_E_ASN1_EOD), "ASN1 unexpected end of data."},
        {static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT), "ASN1 corrupted data."},
        {static_cast<DWORD>(CRYPT_E_ASN1_BADTAG), "ASN1 bad tag value met."},
};

const char* findSystemText(DWORD code) {
    for (const SystemText& entry : kSystemTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return nullptr;
}

}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) { lastError = code; }

// Only the system table is emulated: no message sources, no inserts.
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     LPSTR buffer, DWORD size, void* arguments) {
    (void)source;
    (void)arguments;
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || languageId != 0 || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD faultError = 0;
    if (emu::faultFor("FormatMessageA", "", ERROR_MR_MID_NOT_FOUND, &faultError)) {
        SetLastError(faultError);
        return 0;
    }
    const char* text = findSystemText(messageId);
    if (text == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const size_t textLength = std::strlen(text) + 2;  // with CR LF
    char* target = buffer;
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        target = static_cast<char*>(std::malloc(textLength + 1));
        if (target == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        *reinterpret_cast<char**>(buffer) = target;
    } else if (size < textLength + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(target, text, textLength - 2);
    std::memcpy(target + textLength - 2, "\r\n", 3);
    return static_cast<DWORD>(textLength);
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}
