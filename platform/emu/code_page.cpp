// WideCharToMultiByte and MultiByteToWideChar for the emulation's ANSI code page, Windows-1252.

#include <cstring>

#include "platform/api.h"

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the five bytes that 1252 leaves undefined map to the C1
// control of the same number, as Windows does, so every byte converts.
constexpr WCHAR kHighControls[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Best-fit letters for U+0100 to U+017F, the Latin Extended-A block; '?' where there is none.
constexpr char kLatinExtendedA[] =
        "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi??JjKk?LlLlLlLlLlNnNnNn???OoOoOo??"
        "RrRrRrSsSsSs??TtTtTtUuUuUuUuUuUuWwYy?ZzZz???";
static_assert(sizeof(kLatinExtendedA) == 0x80 + 1, "one letter per code point of the block");

WCHAR toWide1252(BYTE byte) {
    if (byte >= 0x80 && byte < 0xA0) {
        return kHighControls[byte - 0x80];
    }
    return byte;
}

// Returns the 1252 byte for a UTF-16 unit, or 0 when there is neither a mapping nor a best fit.
// Unit 0 itself is handled by the caller.
char toAnsi1252(WCHAR unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return static_cast<char>(unit);
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == unit) {
            return static_cast<char>(0x80 + i);
        }
    }
    if (unit >= 0x100 && unit < 0x180 && kLatinExtendedA[unit - 0x100] != '?') {
        return kLatinExtendedA[unit - 0x100];
    }
    if (unit >= 0x2000 && unit <= 0x200A) {  // the typographic blanks
        return ' ';
    }
    if (unit == 0x221E) {  // infinity
        return '8';
    }
    if (unit >= 0xFF01 && unit <= 0xFF5E) {  // full-width ASCII
        return static_cast<char>(unit - 0xFEE0);
    }
    return 0;
}

bool isAnsiCodePage(UINT codePage) { return codePage == CP_ACP || codePage == 1252; }

}  // namespace

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideText, int wideLength,
                        LPSTR multiByteText, int multiByteLength, LPCSTR defaultChar,
                        LPBOOL usedDefaultChar) {
    if (!isAnsiCodePage(codePage) || flags != 0 || wideText == nullptr || wideLength == 0 ||
        wideLength < -1 || multiByteLength < 0 ||
        (multiByteLength > 0 && multiByteText == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int unitCount = wideLength;
    if (wideLength == -1) {
        unitCount = 0;
        while (wideText[unitCount] != 0) {
            ++unitCount;
        }
        ++unitCount;  // the terminator is converted too
    }
    const char replacement = defaultChar != nullptr ? defaultChar[0] : '?';
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = FALSE;
    }
    // One byte per UTF-16 unit in 1252, so the size is known before converting.
    if (multiByteLength == 0 && usedDefaultChar == nullptr) {
        return unitCount;
    }
    if (multiByteLength > 0 && unitCount > multiByteLength) {
        // Windows fills the whole buffer, without a terminator, before it gives up.
        for (int i = 0; i < multiByteLength; ++i) {
            const char converted = wideText[i] == 0 ? 0 : toAnsi1252(wideText[i]);
            multiByteText[i] = (wideText[i] != 0 && converted == 0) ? replacement : converted;
        }
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int i = 0; i < unitCount; ++i) {
        char converted = 0;
        if (wideText[i] != 0) {
            converted = toAnsi1252(wideText[i]);
            if (converted == 0) {
                converted = replacement;
                if (usedDefaultChar != nullptr) {
                    *usedDefaultChar = TRUE;
                }
            }
        }
        if (multiByteLength > 0) {
            multiByteText[i] = converted;
        }
    }
    return unitCount;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByteText, int multiByteLength,
                        LPWSTR wideText, int wideLength) {
    if (!isAnsiCodePage(codePage) || flags != 0 || multiByteText == nullptr ||
        multiByteLength == 0 || multiByteLength < -1 || wideLength < 0 ||
        (wideLength > 0 && wideText == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int byteCount = multiByteLength == -1 ? static_cast<int>(std::strlen(multiByteText)) + 1
                                                : multiByteLength;
    if (wideLength == 0) {
        return byteCount;
    }
    const int written = byteCount < wideLength ? byteCount : wideLength;
    for (int i = 0; i < written; ++i) {
        wideText[i] = toWide1252(static_cast<BYTE>(multiByteText[i]));
    }
    if (byteCount > wideLength) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return byteCount;
}
