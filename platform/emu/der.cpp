// DER element reader, object identifiers and times for the emulation's decoders.

#include "platform/emu/der.h"

#include <cstdint>

namespace emu {

bool DerReader::readAny(DerElement* out, bool truncationIsEnd) {
    const size_t available = static_cast<size_t>(end_ - next_);
    if (next_ >= end_ || available < 2) {
        error_ = CRYPT_E_ASN1_EOD;
        return false;
    }
    const BYTE* cursor = next_;
    const BYTE tag = *cursor++;
    if ((tag & 0x1F) == 0x1F) {  // multi-byte tags never occur in what we decode
        error_ = CRYPT_E_ASN1_BADTAG;
        return false;
    }
    size_t length = *cursor++;
    if (length & 0x80) {
        const size_t lengthBytes = length & 0x7F;
        if (lengthBytes == 0 || lengthBytes > 4) {
            error_ = CRYPT_E_ASN1_CORRUPT;  // indefinite or oversized lengths are not DER
            return false;
        }
        if (static_cast<size_t>(end_ - cursor) < lengthBytes) {
            error_ = CRYPT_E_ASN1_EOD;
            return false;
        }
        length = 0;
        for (size_t i = 0; i < lengthBytes; ++i) {
            length = (length << 8) | *cursor++;
        }
    }
    if (length > static_cast<size_t>(end_ - cursor)) {
        error_ = truncationIsEnd ? CRYPT_E_ASN1_EOD : CRYPT_E_ASN1_CORRUPT;
        return false;
    }
    out->tag = tag;
    out->start = next_;
    out->content = cursor;
    out->contentLength = length;
    next_ = cursor + length;
    return true;
}

bool DerReader::read(BYTE tag, DerElement* out, bool truncationIsEnd) {
    if (atEnd()) {
        error_ = CRYPT_E_ASN1_EOD;
        return false;
    }
    if (*next_ != tag) {
        error_ = CRYPT_E_ASN1_BADTAG;
        return false;
    }
    return readAny(out, truncationIsEnd);
}

bool formatOid(const BYTE* content, size_t length, std::string* out) {
    if (length == 0 || (content[length - 1] & 0x80) != 0) {
        return false;
    }
    out->clear();
    // Names of every certificate go through here, so the digits are written in place.
    char digits[24];
    const auto appendArc = [&](std::uint64_t arc) {
        char* end = digits + sizeof(digits);
        char* start = end;
        do {
            *--start = static_cast<char>('0' + arc % 10);
            arc /= 10;
        } while (arc != 0);
        out->append(start, end);
    };
    std::uint64_t value = 0;
    bool first = true;
    for (size_t i = 0; i < length; ++i) {
        if (value > (UINT64_MAX >> 7)) {
            return false;
        }
        value = (value << 7) | (content[i] & 0x7F);
        if (content[i] & 0x80) {
            continue;
        }
        if (first) {
            const std::uint64_t arc = value < 80 ? value / 40 : 2;
            appendArc(arc);
            out->push_back('.');
            appendArc(value - arc * 40);
            first = false;
        } else {
            out->push_back('.');
            appendArc(value);
        }
        value = 0;
    }
    return true;
}

namespace {

bool readDigits(const BYTE* text, int count, int* out) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    *out = value;
    return true;
}

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
std::int64_t daysSince1601(int year, int month, int day) {
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yearOfEra = y - era * 400;
    const int monthIndex = month > 2 ? month - 3 : month + 9;
    const int dayOfYear = (153 * monthIndex + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t daysSince0000 = static_cast<std::int64_t>(era) * 146097 + dayOfEra;
    constexpr std::int64_t kDaysTo1601 = 584694;  // 0000-03-01 to 1601-01-01
    return daysSince0000 - kDaysTo1601;
}

}  // namespace

bool parseDerTime(BYTE tag, const BYTE* content, size_t length, FILETIME* out) {
    int year = 0;
    const BYTE* rest = content;
    if (tag == kTagUtcTime) {
        if (length != 13 || !readDigits(content, 2, &year)) {
            return false;
        }
        year += year < 50 ? 2000 : 1900;
        rest = content + 2;
    } else if (tag == kTagGeneralizedTime) {
        if (length != 15 || !readDigits(content, 4, &year)) {
            return false;
        }
        rest = content + 4;
    } else {
        return false;
    }
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!readDigits(rest, 2, &month) || !readDigits(rest + 2, 2, &day) ||
        !readDigits(rest + 4, 2, &hour) || !readDigits(rest + 6, 2, &minute) ||
        !readDigits(rest + 8, 2, &second) || rest[10] != 'Z' || year < 1601 || month < 1 ||
        month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return false;
    }
    const std::int64_t seconds =
            daysSince1601(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    const std::uint64_t ticks = static_cast<std::uint64_t>(seconds) * 10000000u;
    out->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

}  // namespace emu
