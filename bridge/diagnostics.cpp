// The diagnostics channel and the version marker the module carries.

#include "bridge/diagnostics.h"

#include <cstdio>

#include "platform/api.h"

namespace {

// Read by no code; it names the module's version within its bytes. `used` keeps both the text
// and the pointer through optimisation, as nothing refers to them.
[[gnu::used]] char versionMarkerText[] = "BRISVANDER_VERSION: 1.2.1";
[[gnu::used]] const char* versionMarker = versionMarkerText;

void writeLine(std::FILE* stream, const char* text) {
    std::fputs(text, stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

void reportError(const char* message, int withSystemMessage) {
    std::fputs("Brisvander: ", stdout);
    writeLine(stdout, message);
    if (withSystemMessage == 0) {
        return;
    }
    const DWORD code = GetLastError();
    char* systemText = nullptr;
    const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                   FORMAT_MESSAGE_FROM_SYSTEM,
                           nullptr, code, 0, reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    std::fputs("SYSMSG: ", stdout);
    if (length == 0 || systemText == nullptr) {
        std::fprintf(stdout, "Unknown error 0x%08lX.\n", static_cast<unsigned long>(code));
        std::fflush(stdout);
        return;
    }
    // The system's text ends in a line end of its own, so an empty line follows.
    writeLine(stdout, systemText);
    LocalFree(systemText);
}

void printErrorLine(const char* text) {
    std::fflush(stdout);
    writeLine(stderr, text);
}

void printLine(const char* text) { writeLine(stdout, text); }
