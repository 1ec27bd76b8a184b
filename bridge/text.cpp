// Text and certificate-property helpers.

#include "bridge/text.h"

#include <cstring>
#include <memory>

namespace {

bool isAscii(const char* text) {
    for (; *text != 0; ++text) {
        if (static_cast<unsigned char>(*text) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Appends one UTF-16 unit in modified UTF-8: NUL as two bytes, each surrogate on its own.
void appendModifiedUtf8(std::string* out, unsigned unit) {
    if (unit != 0 && unit < 0x80) {
        out->push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (unit >> 6)));
        out->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (unit >> 12)));
        out->push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
}

}  // namespace

std::string toAnsiString(const WCHAR* text) {
    if (text == nullptr) {
        return std::string();
    }
    char buffer[kTextBufferSize];
    const int written =
            WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, kTextBufferSize, nullptr, nullptr);
    if (written <= 0) {
        // A failed conversion may leave the buffer full and unterminated.
        return std::string();
    }
    return std::string(buffer, strnlen(buffer, static_cast<size_t>(written)));
}

const WCHAR* toWideString(const char* text) {
    thread_local WCHAR buffer[kTextBufferSize];
    std::memset(buffer, 0, sizeof(buffer));
    if (text == nullptr) {
        return buffer;
    }
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, kTextBufferSize) == 0) {
        std::memset(buffer, 0, sizeof(buffer));
    }
    return buffer;
}

BYTE* getCertProperty(PCCERT_CONTEXT cert, DWORD propertyId) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, propertyId, nullptr, &size) || size == 0) {
        return nullptr;
    }
    std::unique_ptr<BYTE[]> block(new BYTE[size]());
    if (!CertGetCertificateContextProperty(cert, propertyId, block.get(), &size)) {
        return nullptr;
    }
    return block.release();
}

void formatSerialHex(int count, const BYTE* bytes, char* out) {
    static const char kDigits[] = "0123456789ABCDEF";
    const int stop = count > kMaxSerialBytes ? count - kMaxSerialBytes : 0;
    char* next = out;
    for (int i = count - 1; i >= stop; --i) {
        *next++ = kDigits[bytes[i] >> 4];
        *next++ = kDigits[bytes[i] & 0x0F];
    }
    *next = '\0';
}

std::string toJavaText(const char* ansiText) {
    if (ansiText == nullptr || *ansiText == 0) {
        return std::string();
    }
    if (isAscii(ansiText)) {
        return std::string(ansiText);
    }
    const int unitCount = MultiByteToWideChar(CP_ACP, 0, ansiText, -1, nullptr, 0);
    if (unitCount <= 0) {
        return std::string();
    }
    std::unique_ptr<WCHAR[]> units(new WCHAR[unitCount]);
    if (MultiByteToWideChar(CP_ACP, 0, ansiText, -1, units.get(), unitCount) != unitCount) {
        return std::string();
    }
    std::string converted;
    converted.reserve(static_cast<size_t>(unitCount) * 3);
    for (int i = 0; i + 1 < unitCount; ++i) {
        appendModifiedUtf8(&converted, static_cast<unsigned>(units[i]) & 0xFFFFu);
    }
    return converted;
}

bool matchesJavaText(const char* ansiText, const char* javaText) {
    if (isAscii(ansiText)) {
        return std::strcmp(ansiText, javaText) == 0;
    }
    return toJavaText(ansiText) == javaText;
}
