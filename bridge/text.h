// Text conversion between UTF-16, the ANSI code page and Java's modified UTF-8, certificate
// property fetch, and serial number formatting for entry aliases.
#pragma once

#include <string>

#include "platform/api.h"

// Platform text is held in buffers of this many bytes, or UTF-16 units.
constexpr int kTextBufferSize = 1024;
// The longest serial number formatSerialHex writes whole into a kTextBufferSize buffer.
constexpr int kMaxSerialBytes = (kTextBufferSize - 1) / 2;

// toAnsiString converts NUL-terminated UTF-16 text to the ANSI code page. Returns the empty
// string for a null text and for a text whose ANSI form, with its terminator, does not fit in
// kTextBufferSize bytes: never a cut-short name.
std::string toAnsiString(const WCHAR* text);

// toWideString converts NUL-terminated ANSI text to UTF-16 in a buffer of kTextBufferSize
// units, zero-filled past the text, owned by the calling thread and overwritten by its next
// call. A text that does not fit gives the empty text.
const WCHAR* toWideString(const char* text);

// getCertProperty fetches the property `propertyId` of `cert` into a new zero-filled block.
// Returns null when the property is missing or empty or the fetch fails, with nothing left
// allocated. The caller frees the block with delete[]; a CRYPT_KEY_PROV_INFO's names point
// into it. Prints nothing.
BYTE* getCertProperty(PCCERT_CONTEXT cert, DWORD propertyId);

// formatSerialHex writes the serial number blob `bytes` (least significant byte first, as the
// platform keeps it) into `out` as upper-case hex, most significant byte first, leading zero
// bytes kept, NUL-terminated. `out` holds kTextBufferSize bytes: of a serial longer than
// kMaxSerialBytes only the kMaxSerialBytes most significant bytes are written, so a long
// serial always gives the same text. A count of 0 or less writes the empty text.
void formatSerialHex(int count, const BYTE* bytes, char* out);

// toJavaText converts ANSI text to modified UTF-8 (through UTF-16), the form Java's strings
// cross the boundary in. ASCII text comes back byte for byte. Returns the empty string for a
// null text.
std::string toJavaText(const char* ansiText);

// matchesJavaText tells whether ANSI text `ansiText` reads, once converted as toJavaText does,
// exactly as the modified UTF-8 text `javaText` that Java passed: every byte and the length.
bool matchesJavaText(const char* ansiText, const char* javaText);
