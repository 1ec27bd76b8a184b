// CertNameToStrA: the X.500 text of an encoded Name, as the Windows formatter writes it.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/emu/der.h"

namespace {

// The text is built in UTF-16 units, one per WCHAR, and converted to ANSI once at the end, as
// the platform formats in UTF-16 and the A function converts its result.
using WideText = std::basic_string<WCHAR>;

constexpr DWORD kStringTypeMask = 0xFFFF;
constexpr DWORD kCertEncodingMask = 0xFFFF;

struct AttributeKey {
    const char* oid;
    const char* key;
};

constexpr AttributeKey kAttributeKeys[] = {
        {"2.5.4.3", "CN"},
        {"2.5.4.4", "SN"},
        {"2.5.4.5", "SERIALNUMBER"},
        {"2.5.4.6", "C"},
        {"2.5.4.7", "L"},
        {"2.5.4.8", "S"},
        {"2.5.4.9", "STREET"},
        {"2.5.4.10", "O"},
        {"2.5.4.11", "OU"},
        {"2.5.4.12", "T"},
        {"2.5.4.13", "Description"},
        {"2.5.4.17", "PostalCode"},
        {"2.5.4.18", "POBox"},
        {"2.5.4.20", "Phone"},
        {"2.5.4.24", "X21Address"},
        {"2.5.4.42", "G"},
        {"2.5.4.43", "I"},
        {"2.5.4.46", "dnQualifier"},
        {"1.2.840.113549.1.9.1", "E"},
        {"0.9.2342.19200300.100.1.25", "DC"},
};

constexpr BYTE kTagUtf8String = 0x0C;
constexpr BYTE kTagNumericString = 0x12;
constexpr BYTE kTagPrintableString = 0x13;
constexpr BYTE kTagTeletexString = 0x14;
constexpr BYTE kTagVideotexString = 0x15;
constexpr BYTE kTagIa5String = 0x16;
constexpr BYTE kTagGraphicString = 0x19;
constexpr BYTE kTagVisibleString = 0x1A;
constexpr BYTE kTagGeneralString = 0x1B;
constexpr BYTE kTagUniversalString = 0x1C;
constexpr BYTE kTagBmpString = 0x1E;

constexpr WCHAR kReplacementCharacter = 0xFFFD;

void appendAscii(const char* ascii, WideText* out) {
    for (; *ascii != '\0'; ++ascii) {
        out->push_back(static_cast<WCHAR>(static_cast<BYTE>(*ascii)));
    }
}

void appendCodePoint(std::uint32_t codePoint, WideText* out) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        out->push_back(kReplacementCharacter);
    } else if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        out->push_back(static_cast<WCHAR>(0xD800 + (codePoint >> 10)));
        out->push_back(static_cast<WCHAR>(0xDC00 + (codePoint & 0x3FF)));
    } else {
        out->push_back(static_cast<WCHAR>(codePoint));
    }
}

void appendLatin1(const BYTE* bytes, size_t length, WideText* out) {
    for (size_t i = 0; i < length; ++i) {
        out->push_back(static_cast<WCHAR>(bytes[i]));
    }
}

void appendHex(const BYTE* bytes, size_t length, WideText* out) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i) {
        out->push_back(static_cast<WCHAR>(kDigits[bytes[i] >> 4]));
        out->push_back(static_cast<WCHAR>(kDigits[bytes[i] & 0x0F]));
    }
}

// Decodes UTF-8; each maximal ill-formed subsequence becomes one U+FFFD, as the platform's
// UTF-8 conversion does. Returns false if anything was replaced.
bool appendUtf8(const BYTE* bytes, size_t length, WideText* out) {
    bool valid = true;
    size_t i = 0;
    while (i < length) {
        const BYTE lead = bytes[i];
        if (lead < 0x80) {
            out->push_back(lead);
            ++i;
            continue;
        }
        // Bounds of the second byte exclude overlong forms, surrogates and values past U+10FFFF.
        int continuations = 0;
        BYTE low = 0x80;
        BYTE high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            continuations = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            continuations = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            continuations = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        }
        std::uint32_t codePoint = lead & (0x3F >> continuations);
        size_t next = i + 1;
        int read = 0;
        while (continuations > 0 && read < continuations && next < length && bytes[next] >= low &&
               bytes[next] <= high) {
            codePoint = (codePoint << 6) | (bytes[next] & 0x3F);
            ++next;
            ++read;
            low = 0x80;
            high = 0xBF;
        }
        if (continuations > 0 && read == continuations) {
            appendCodePoint(codePoint, out);
        } else {
            out->push_back(kReplacementCharacter);
            valid = false;
        }
        i = next;
    }
    return valid;
}

// A value element, read with its own tag parsing because attribute values may carry any tag,
// high tag numbers included, which the shared reader refuses.
struct ValueElement {
    BYTE tag = 0;  // first tag byte
    const BYTE* start = nullptr;
    const BYTE* content = nullptr;
    size_t contentLength = 0;
};

HRESULT readValue(const BYTE* begin, const BYTE* end, ValueElement* out) {
    const BYTE* cursor = begin;
    if (cursor >= end) {
        return CRYPT_E_ASN1_EOD;
    }
    const BYTE tag = *cursor++;
    if ((tag & 0x1F) == 0x1F) {
        do {
            if (cursor >= end) {
                return CRYPT_E_ASN1_EOD;
            }
        } while ((*cursor++ & 0x80) != 0);
    }
    if (cursor >= end) {
        return CRYPT_E_ASN1_EOD;
    }
    size_t length = *cursor++;
    if ((length & 0x80) != 0) {
        const size_t lengthBytes = length & 0x7F;
        if (lengthBytes == 0 || lengthBytes > 4) {
            return CRYPT_E_ASN1_CORRUPT;
        }
        if (static_cast<size_t>(end - cursor) < lengthBytes) {
            return CRYPT_E_ASN1_EOD;
        }
        length = 0;
        for (size_t i = 0; i < lengthBytes; ++i) {
            length = (length << 8) | *cursor++;
        }
    }
    if (length > static_cast<size_t>(end - cursor)) {
        return CRYPT_E_ASN1_CORRUPT;
    }
    out->tag = tag;
    out->start = begin;
    out->content = cursor;
    out->contentLength = length;
    return 0;
}

// Writes the value as text. Sets `outIsHex` for the #hex form, which is never quoted.
HRESULT appendValueText(const ValueElement& value, WideText* out, bool* outIsHex) {
    *outIsHex = false;
    const BYTE* bytes = value.content;
    const size_t length = value.contentLength;
    switch (value.tag) {
        case kTagNumericString:
        case kTagPrintableString:
        case kTagVideotexString:
        case kTagIa5String:
        case kTagGraphicString:
        case kTagVisibleString:
        case kTagGeneralString:
            appendLatin1(bytes, length, out);
            return 0;
        case kTagTeletexString: {
            // T61 bytes are in practice UTF-8 or Latin-1; UTF-8 wins when the bytes allow it.
            WideText decoded;
            if (appendUtf8(bytes, length, &decoded)) {
                *out += decoded;
            } else {
                appendLatin1(bytes, length, out);
            }
            return 0;
        }
        case kTagUtf8String:
            appendUtf8(bytes, length, out);
            return 0;
        case kTagBmpString:
            if (length % 2 != 0) {
                return CRYPT_E_ASN1_CORRUPT;
            }
            for (size_t i = 0; i < length; i += 2) {
                out->push_back(static_cast<WCHAR>((bytes[i] << 8) | bytes[i + 1]));
            }
            return 0;
        case kTagUniversalString:
            if (length % 4 != 0) {
                return CRYPT_E_ASN1_CORRUPT;
            }
            for (size_t i = 0; i < length; i += 4) {
                appendCodePoint((static_cast<std::uint32_t>(bytes[i]) << 24) |
                                        (static_cast<std::uint32_t>(bytes[i + 1]) << 16) |
                                        (static_cast<std::uint32_t>(bytes[i + 2]) << 8) |
                                        bytes[i + 3],
                                out);
            }
            return 0;
        case emu::kTagOctetString:
            out->push_back('#');
            appendHex(bytes, length, out);
            *outIsHex = true;
            return 0;
        default:
            // Not a string: the whole element, tag and length included.
            out->push_back('#');
            appendHex(value.start, static_cast<size_t>(bytes + length - value.start), out);
            *outIsHex = true;
            return 0;
    }
}

bool isBlank(WCHAR unit) { return unit == 0x20 || (unit >= 0x09 && unit <= 0x0D); }

bool needsQuotes(const WideText& value) {
    if (value.empty() || isBlank(value.front()) || isBlank(value.back())) {
        return true;
    }
    for (const WCHAR unit : value) {
        switch (unit) {
            case ',':
            case '+':
            case '=':
            case '"':
            case '\n':
            case '<':
            case '>':
            case '#':
            case ';':
                return true;
            default:
                break;
        }
    }
    return false;
}

void appendQuoted(const WideText& value, WideText* out) {
    out->push_back('"');
    for (const WCHAR unit : value) {
        if (unit == '"') {
            out->push_back('"');
        }
        out->push_back(unit);
    }
    out->push_back('"');
}

void appendKey(const std::string& oid, DWORD type, WideText* out) {
    if (type == CERT_X500_NAME_STR) {
        for (const AttributeKey& known : kAttributeKeys) {
            if (oid == known.oid) {
                appendAscii(known.key, out);
                return;
            }
        }
        appendAscii("OID.", out);
    }
    appendAscii(oid.c_str(), out);
}

// One AttributeTypeAndValue: SEQUENCE { OBJECT IDENTIFIER, ANY }.
HRESULT appendAttribute(const emu::DerElement& attribute, DWORD stringType, WideText* out) {
    const DWORD type = stringType & kStringTypeMask;
    const BYTE* const end = attribute.content + attribute.contentLength;
    emu::DerReader reader(attribute.content, end);
    emu::DerElement oidElement;
    if (!reader.read(emu::kTagOid, &oidElement)) {
        return reader.error();
    }
    std::string oid;
    if (!emu::formatOid(oidElement.content, oidElement.contentLength, &oid)) {
        return CRYPT_E_ASN1_CORRUPT;
    }
    ValueElement value;
    const BYTE* const valueStart = oidElement.content + oidElement.contentLength;
    const HRESULT error = readValue(valueStart, end, &value);
    if (error != 0) {
        return error;
    }
    if (value.content + value.contentLength != end) {
        return CRYPT_E_ASN1_CORRUPT;  // the SEQUENCE holds exactly the two fields
    }
    WideText valueText;
    bool isHex = false;
    const HRESULT valueError = appendValueText(value, &valueText, &isHex);
    if (valueError != 0) {
        return valueError;
    }
    if (type != CERT_SIMPLE_NAME_STR) {
        appendKey(oid, type, out);
        out->push_back('=');
    }
    if (!isHex && (stringType & CERT_NAME_STR_NO_QUOTING_FLAG) == 0 && needsQuotes(valueText)) {
        appendQuoted(valueText, out);
    } else {
        *out += valueText;
    }
    return 0;
}

// One RelativeDistinguishedName, its values in the order the SET holds them, sorted or not.
HRESULT formatRdn(const emu::DerElement& rdn, DWORD stringType, WideText* out) {
    const char* const separator = (stringType & CERT_NAME_STR_NO_PLUS_FLAG) != 0 ? " " : " + ";
    emu::DerReader reader(rdn.content, rdn.content + rdn.contentLength);
    bool first = true;
    while (!reader.atEnd()) {
        emu::DerElement attribute;
        if (!reader.read(emu::kTagSequence, &attribute)) {
            return reader.error();
        }
        if (!first) {
            appendAscii(separator, out);
        }
        first = false;
        const HRESULT error = appendAttribute(attribute, stringType, out);
        if (error != 0) {
            return error;
        }
    }
    return 0;
}

// Decodes the whole Name before anything is written, so that a fault anywhere gives no text.
HRESULT formatName(const BYTE* data, size_t length, DWORD stringType, WideText* out) {
    emu::DerReader outer(data, data + length);
    emu::DerElement name;
    if (!outer.read(emu::kTagSequence, &name, true)) {
        return outer.error();
    }
    const char* separator = ", ";
    if ((stringType & CERT_NAME_STR_SEMICOLON_FLAG) != 0) {
        separator = "; ";
    } else if ((stringType & CERT_NAME_STR_CRLF_FLAG) != 0) {
        separator = "\r\n";
    }
    // In the encoding's order the text is written as it is decoded; reversed, each RDN is
    // kept apart first.
    const bool reverse = (stringType & CERT_NAME_STR_REVERSE_FLAG) != 0;
    std::vector<WideText> rdnTexts;
    WideText text;
    emu::DerReader reader(name.content, name.content + name.contentLength);
    for (bool first = true; !reader.atEnd(); first = false) {
        emu::DerElement rdn;
        if (!reader.read(emu::kTagSet, &rdn)) {
            return reader.error();
        }
        WideText* into = &text;
        if (reverse) {
            into = &rdnTexts.emplace_back();
        } else if (!first) {
            appendAscii(separator, &text);
        }
        const HRESULT error = formatRdn(rdn, stringType, into);
        if (error != 0) {
            return error;
        }
    }
    for (size_t i = rdnTexts.size(); i > 0; --i) {
        if (i < rdnTexts.size()) {
            appendAscii(separator, &text);
        }
        text += rdnTexts[i - 1];
    }
    *out += text;
    return 0;
}

DWORD giveEmptyText(LPSTR text, DWORD textLength) {
    if (text != nullptr && textLength > 0) {
        text[0] = '\0';
    }
    return 1;
}

}  // namespace

DWORD CertNameToStrA(DWORD encodingType, const CERT_NAME_BLOB* name, DWORD stringType, LPSTR text,
                     DWORD textLength) {
    if ((encodingType & kCertEncodingMask) != X509_ASN_ENCODING) {
        SetLastError(ERROR_FILE_NOT_FOUND);  // no formatter is registered for that encoding
        return giveEmptyText(text, textLength);
    }
    const DWORD type = stringType & kStringTypeMask;
    if (name == nullptr || (name->pbData == nullptr && name->cbData > 0) ||
        (type != CERT_SIMPLE_NAME_STR && type != CERT_OID_NAME_STR && type != CERT_X500_NAME_STR)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return giveEmptyText(text, textLength);
    }
    WideText wide;
    const HRESULT error = formatName(name->pbData, name->cbData, stringType, &wide);
    if (error != 0) {
        SetLastError(static_cast<DWORD>(error));
        return giveEmptyText(text, textLength);
    }
    if (wide.empty()) {
        return giveEmptyText(text, textLength);
    }
    // The length is passed, not -1, so that a NUL inside a value is converted like any other
    // character and counted in the result.
    const int wideLength = static_cast<int>(wide.size());
    const int ansiLength =
            WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (ansiLength <= 0) {
        return giveEmptyText(text, textLength);
    }
    const DWORD needed = static_cast<DWORD>(ansiLength) + 1;
    if (text == nullptr || textLength == 0) {
        return needed;
    }
    if (textLength < needed) {
        return giveEmptyText(text, textLength);  // the A function never cuts the text short
    }
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, text, ansiLength, nullptr, nullptr);
    text[ansiLength] = '\0';
    return needed;
}
