// A small DER reader for the emulation: walks tag-length-value elements of a byte range and
// tells the platform's decoder errors apart (end of data, corrupt length, wrong tag).
#pragma once

#include <cstddef>
#include <string>

#include "platform/api.h"

namespace emu {

struct DerElement {
    BYTE tag = 0;
    const BYTE* start = nullptr;    // first byte of the tag
    const BYTE* content = nullptr;  // first byte of the content
    size_t contentLength = 0;
    size_t totalLength() const { return static_cast<size_t>(content - start) + contentLength; }
};

// DerReader reads consecutive elements of [begin, end). Every read returns false and leaves
// error() set to the platform code when the data does not hold the element asked for.
class DerReader {
public:
    DerReader(const BYTE* begin, const BYTE* end) : next_(begin), end_(end) {}
    bool atEnd() const { return next_ >= end_; }
    BYTE peekTag() const { return atEnd() ? 0 : *next_; }
    // Reads the next element whatever its tag. An element that reaches past the end of the
    // range is CRYPT_E_ASN1_EOD when `truncationIsEnd`, else CRYPT_E_ASN1_CORRUPT.
    bool readAny(DerElement* out, bool truncationIsEnd = false);
    bool read(BYTE tag, DerElement* out, bool truncationIsEnd = false);
    HRESULT error() const { return error_; }

private:
    const BYTE* next_;
    const BYTE* end_;
    HRESULT error_ = 0;
};

constexpr BYTE kTagInteger = 0x02;
constexpr BYTE kTagBitString = 0x03;
constexpr BYTE kTagOctetString = 0x04;
constexpr BYTE kTagNull = 0x05;
constexpr BYTE kTagOid = 0x06;
constexpr BYTE kTagUtcTime = 0x17;
constexpr BYTE kTagGeneralizedTime = 0x18;
constexpr BYTE kTagBoolean = 0x01;
constexpr BYTE kTagSequence = 0x30;
constexpr BYTE kTagSet = 0x31;

// formatOid writes the dotted form of an OBJECT IDENTIFIER's content ("1.2.840.113549").
// Returns false for content that is no valid identifier.
bool formatOid(const BYTE* content, size_t length, std::string* out);

// parseDerTime turns the content of a UTCTime or GeneralizedTime into a FILETIME (100 ns since
// 1601). Returns false when the text is no time the decoder accepts.
bool parseDerTime(BYTE tag, const BYTE* content, size_t length, FILETIME* out);

}  // namespace emu
