// Certificate contexts of the emulation: decoding of the X.509 encoding into CERT_INFO,
// reference counting, and the context's properties.

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <openssl/sha.h>

#include "platform/api.h"
#include "platform/emu/cert_record.h"
#include "platform/emu/der.h"
#include "platform/emu/emulation.h"

namespace emu {

namespace {

CRYPTOAPI_BLOB blobOf(const BYTE* data, size_t length) {
    return CRYPTOAPI_BLOB{static_cast<DWORD>(length), const_cast<BYTE*>(data)};
}

// Reads an AlgorithmIdentifier: the OID as text and its parameters as their encoding.
bool readAlgorithm(emu::DerReader* reader, std::string* oidText, CRYPT_ALGORITHM_IDENTIFIER* out,
                   HRESULT* error) {
    emu::DerElement algorithm;
    if (!reader->read(emu::kTagSequence, &algorithm)) {
        *error = reader->error();
        return false;
    }
    emu::DerReader inner(algorithm.content, algorithm.content + algorithm.contentLength);
    emu::DerElement oid;
    if (!inner.read(emu::kTagOid, &oid)) {
        *error = inner.error();
        return false;
    }
    if (!emu::formatOid(oid.content, oid.contentLength, oidText)) {
        *error = CRYPT_E_ASN1_CORRUPT;
        return false;
    }
    out->Parameters = CRYPTOAPI_BLOB{0, nullptr};
    if (!inner.atEnd()) {
        emu::DerElement parameters;
        if (!inner.readAny(&parameters)) {
            *error = inner.error();
            return false;
        }
        out->Parameters = blobOf(parameters.start, parameters.totalLength());
    }
    return true;
}

bool readTime(emu::DerReader* reader, FILETIME* out, HRESULT* error) {
    emu::DerElement time;
    if (!reader->readAny(&time)) {
        *error = reader->error();
        return false;
    }
    if (time.tag != emu::kTagUtcTime && time.tag != emu::kTagGeneralizedTime) {
        *error = CRYPT_E_ASN1_BADTAG;
        return false;
    }
    if (!emu::parseDerTime(time.tag, time.content, time.contentLength, out)) {
        *error = CRYPT_E_ASN1_CORRUPT;
        return false;
    }
    return true;
}

bool readExtensions(const emu::DerElement& wrapper, CertificateData* record, HRESULT* error) {
    emu::DerReader outer(wrapper.content, wrapper.content + wrapper.contentLength);
    emu::DerElement list;
    if (!outer.read(emu::kTagSequence, &list)) {
        *error = outer.error();
        return false;
    }
    emu::DerReader items(list.content, list.content + list.contentLength);
    while (!items.atEnd()) {
        emu::DerElement extension;
        if (!items.read(emu::kTagSequence, &extension)) {
            *error = items.error();
            return false;
        }
        emu::DerReader fields(extension.content, extension.content + extension.contentLength);
        emu::DerElement oid;
        emu::DerElement value;
        std::string oidText;
        if (!fields.read(emu::kTagOid, &oid)) {
            *error = fields.error();
            return false;
        }
        if (!emu::formatOid(oid.content, oid.contentLength, &oidText)) {
            *error = CRYPT_E_ASN1_CORRUPT;
            return false;
        }
        BOOL critical = FALSE;
        if (fields.peekTag() == emu::kTagBoolean) {
            emu::DerElement flag;
            if (!fields.readAny(&flag) || flag.contentLength != 1) {
                *error = CRYPT_E_ASN1_CORRUPT;
                return false;
            }
            critical = flag.content[0] != 0 ? TRUE : FALSE;
        }
        if (!fields.read(emu::kTagOctetString, &value)) {
            *error = fields.error();
            return false;
        }
        record->extensionOids.push_back(oidText);
        record->extensions.push_back(
                CERT_EXTENSION{nullptr, critical, blobOf(value.content, value.contentLength)});
    }
    return true;
}

// Fills the record's CERT_INFO from its encoding; on failure returns the decoder's error.
// A truncation inside the signed part is an unexpected end of data; an element that overruns
// the part after it is corrupt, as the platform's decoder reports them.
HRESULT decodeCertificate(CertificateData* record) {
    const BYTE* begin = record->encoded.data();
    emu::DerReader top(begin, begin + record->encoded.size());
    emu::DerElement certificate;
    if (top.peekTag() != emu::kTagSequence && !top.atEnd()) {
        return CRYPT_E_ASN1_BADTAG;
    }
    // The outer length may claim more than there is; the parts decide which error that is.
    if (record->encoded.size() < 2) {
        return CRYPT_E_ASN1_EOD;
    }
    // Whether the outer SEQUENCE fits in the data as its length says; the encoding kept is that
    // element, so one that claims more than there is can be no certificate.
    bool complete = true;
    if (!top.readAny(&certificate, true)) {
        complete = false;
        if (top.error() != CRYPT_E_ASN1_EOD) {
            return top.error();
        }
        const BYTE lengthByte = begin[1];
        const size_t headerLength = (lengthByte & 0x80) ? 2 + (lengthByte & 0x7F) : 2;
        if (record->encoded.size() < headerLength) {
            return CRYPT_E_ASN1_EOD;
        }
        certificate.tag = begin[0];
        certificate.start = begin;
        certificate.content = begin + headerLength;
        certificate.contentLength = record->encoded.size() - headerLength;
    }
    emu::DerReader parts(certificate.content, certificate.content + certificate.contentLength);
    emu::DerElement toBeSigned;
    if (!parts.read(emu::kTagSequence, &toBeSigned, true)) {
        return parts.error();
    }

    CERT_INFO& info = record->info;
    HRESULT error = 0;
    emu::DerReader fields(toBeSigned.content, toBeSigned.content + toBeSigned.contentLength);
    info.dwVersion = 0;
    if (fields.peekTag() == 0xA0) {
        emu::DerElement wrapper;
        emu::DerElement version;
        if (!fields.readAny(&wrapper)) {
            return fields.error();
        }
        emu::DerReader inner(wrapper.content, wrapper.content + wrapper.contentLength);
        if (!inner.read(emu::kTagInteger, &version)) {
            return inner.error();
        }
        if (version.contentLength != 1) {
            return CRYPT_E_ASN1_CORRUPT;
        }
        info.dwVersion = version.content[0];
    }
    emu::DerElement serial;
    if (!fields.read(emu::kTagInteger, &serial)) {
        return fields.error();
    }
    record->serial.assign(serial.content, serial.content + serial.contentLength);
    std::reverse(record->serial.begin(), record->serial.end());
    info.SerialNumber = blobOf(record->serial.data(), record->serial.size());
    if (!readAlgorithm(&fields, &record->signatureOid, &info.SignatureAlgorithm, &error)) {
        return error;
    }
    emu::DerElement issuer;
    if (!fields.read(emu::kTagSequence, &issuer)) {
        return fields.error();
    }
    info.Issuer = blobOf(issuer.start, issuer.totalLength());
    emu::DerElement validity;
    if (!fields.read(emu::kTagSequence, &validity)) {
        return fields.error();
    }
    emu::DerReader times(validity.content, validity.content + validity.contentLength);
    if (!readTime(&times, &info.NotBefore, &error) || !readTime(&times, &info.NotAfter, &error)) {
        return error;
    }
    emu::DerElement subject;
    if (!fields.read(emu::kTagSequence, &subject)) {
        return fields.error();
    }
    info.Subject = blobOf(subject.start, subject.totalLength());
    emu::DerElement publicKeyInfo;
    if (!fields.read(emu::kTagSequence, &publicKeyInfo)) {
        return fields.error();
    }
    emu::DerReader keyFields(publicKeyInfo.content,
                             publicKeyInfo.content + publicKeyInfo.contentLength);
    if (!readAlgorithm(&keyFields, &record->publicKeyOid, &info.SubjectPublicKeyInfo.Algorithm,
                       &error)) {
        return error;
    }
    emu::DerElement publicKey;
    if (!keyFields.read(emu::kTagBitString, &publicKey)) {
        return keyFields.error();
    }
    if (publicKey.contentLength == 0 || publicKey.content[0] > 7) {
        return CRYPT_E_ASN1_CORRUPT;
    }
    info.SubjectPublicKeyInfo.PublicKey =
            CRYPT_BIT_BLOB{static_cast<DWORD>(publicKey.contentLength - 1),
                           const_cast<BYTE*>(publicKey.content + 1), publicKey.content[0]};
    while (!fields.atEnd()) {
        emu::DerElement optional;
        if (!fields.readAny(&optional)) {
            return fields.error();
        }
        if (optional.tag == 0xA3 && !readExtensions(optional, record, &error)) {
            return error;
        }
    }
    // The signature algorithm and value follow the signed part.
    std::string outerAlgorithm;
    CRYPT_ALGORITHM_IDENTIFIER ignored{};
    if (!readAlgorithm(&parts, &outerAlgorithm, &ignored, &error)) {
        return error;
    }
    emu::DerElement signature;
    if (!parts.read(emu::kTagBitString, &signature)) {
        return parts.error();
    }
    if (!complete) {
        return CRYPT_E_ASN1_CORRUPT;
    }
    return 0;
}

void linkData(CertificateData* data) {
    CERT_INFO& info = data->info;
    info.SignatureAlgorithm.pszObjId = data->signatureOid.data();
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = data->publicKeyOid.data();
    for (size_t i = 0; i < data->extensions.size(); ++i) {
        data->extensions[i].pszObjId = data->extensionOids[i].data();
    }
    info.cExtension = static_cast<DWORD>(data->extensions.size());
    info.rgExtension = data->extensions.empty() ? nullptr : data->extensions.data();
}

// Property 2, the key-provider information, is kept in a portable form: provider type, flags
// and key spec, then each name as a presence flag, a count of UTF-16 units and the units, then
// the parameters. Numbers are 32-bit little-endian.
void putNumber(std::vector<BYTE>* out, DWORD value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out->push_back(static_cast<BYTE>(value >> shift));
    }
}

bool takeNumber(const std::vector<BYTE>& in, size_t* offset, DWORD* value) {
    if (in.size() - *offset < 4 || *offset > in.size()) {
        return false;
    }
    *value = 0;
    for (int i = 3; i >= 0; --i) {
        *value = (*value << 8) | in[*offset + static_cast<size_t>(i)];
    }
    *offset += 4;
    return true;
}

void putText(std::vector<BYTE>* out, LPCWSTR text) {
    putNumber(out, text != nullptr ? 1 : 0);
    DWORD count = 0;
    while (text != nullptr && text[count] != 0) {
        ++count;
    }
    putNumber(out, count);
    for (DWORD i = 0; i < count; ++i) {
        const unsigned unit = static_cast<unsigned>(text[i]) & 0xFFFFu;
        out->push_back(static_cast<BYTE>(unit));
        out->push_back(static_cast<BYTE>(unit >> 8));
    }
}

std::vector<BYTE> encodeKeyProvInfo(const CRYPT_KEY_PROV_INFO& info) {
    std::vector<BYTE> out;
    putNumber(&out, info.dwProvType);
    putNumber(&out, info.dwFlags);
    putNumber(&out, info.dwKeySpec);
    putText(&out, info.pwszContainerName);
    putText(&out, info.pwszProvName);
    putNumber(&out, info.cProvParam);
    for (DWORD i = 0; i < info.cProvParam; ++i) {
        const CRYPT_KEY_PROV_PARAM& parameter = info.rgProvParam[i];
        putNumber(&out, parameter.dwParam);
        putNumber(&out, parameter.dwFlags);
        putNumber(&out, parameter.pbData != nullptr ? parameter.cbData : 0);
        if (parameter.pbData != nullptr) {
            out.insert(out.end(), parameter.pbData, parameter.pbData + parameter.cbData);
        }
    }
    return out;
}

struct DecodedText {
    bool present = false;
    std::vector<WCHAR> units;
};

struct DecodedKeyProvInfo {
    CRYPT_KEY_PROV_INFO fixed{};
    DecodedText names[2];
    std::vector<CRYPT_KEY_PROV_PARAM> parameters;
    std::vector<std::vector<BYTE>> parameterData;
};

bool decodeKeyProvInfo(const std::vector<BYTE>& in, DecodedKeyProvInfo* out) {
    size_t offset = 0;
    if (!takeNumber(in, &offset, &out->fixed.dwProvType) ||
        !takeNumber(in, &offset, &out->fixed.dwFlags) ||
        !takeNumber(in, &offset, &out->fixed.dwKeySpec)) {
        return false;
    }
    for (DecodedText& text : out->names) {
        DWORD present = 0;
        DWORD count = 0;
        if (!takeNumber(in, &offset, &present) || !takeNumber(in, &offset, &count) ||
            (in.size() - offset) / 2 < count) {
            return false;
        }
        text.present = present != 0;
        text.units.resize(count);
        for (DWORD i = 0; i < count; ++i) {
            text.units[i] = static_cast<WCHAR>(in[offset] | (in[offset + 1] << 8));
            offset += 2;
        }
    }
    DWORD count = 0;
    if (!takeNumber(in, &offset, &count)) {
        return false;
    }
    for (DWORD i = 0; i < count; ++i) {
        CRYPT_KEY_PROV_PARAM parameter{};
        if (!takeNumber(in, &offset, &parameter.dwParam) ||
            !takeNumber(in, &offset, &parameter.dwFlags) ||
            !takeNumber(in, &offset, &parameter.cbData) || in.size() - offset < parameter.cbData) {
            return false;
        }
        out->parameterData.emplace_back(in.begin() + static_cast<long>(offset),
                                        in.begin() + static_cast<long>(offset + parameter.cbData));
        offset += parameter.cbData;
        out->parameters.push_back(parameter);
    }
    return offset == in.size();
}

size_t alignUp(size_t value, size_t to) { return (value + to - 1) / to * to; }

// Lays the key-provider information out as one block, as the platform does: the structure,
// the parameter array and data, then the two names, which the structure points into. With
// `out` null only the size is computed.
size_t layOutKeyProvInfo(const DecodedKeyProvInfo& info, BYTE* out) {
    size_t size = sizeof(CRYPT_KEY_PROV_INFO);
    const size_t parametersAt = alignUp(size, alignof(CRYPT_KEY_PROV_PARAM));
    size = parametersAt + info.parameters.size() * sizeof(CRYPT_KEY_PROV_PARAM);
    std::vector<size_t> dataAt;
    for (const CRYPT_KEY_PROV_PARAM& parameter : info.parameters) {
        dataAt.push_back(size);
        size += parameter.cbData;
    }
    size_t textAt[2] = {};
    for (int t = 0; t < 2; ++t) {
        size = alignUp(size, alignof(WCHAR));
        textAt[t] = size;
        if (info.names[t].present) {
            size += (info.names[t].units.size() + 1) * sizeof(WCHAR);
        }
    }
    if (out == nullptr) {
        return size;
    }
    std::memset(out, 0, size);
    CRYPT_KEY_PROV_INFO* laidOut = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(out);
    *laidOut = info.fixed;
    LPWSTR* names[2] = {&laidOut->pwszContainerName, &laidOut->pwszProvName};
    for (int t = 0; t < 2; ++t) {
        *names[t] = nullptr;
        if (info.names[t].present) {
            WCHAR* text = reinterpret_cast<WCHAR*>(out + textAt[t]);
            std::copy(info.names[t].units.begin(), info.names[t].units.end(), text);
            *names[t] = text;
        }
    }
    laidOut->cProvParam = static_cast<DWORD>(info.parameters.size());
    laidOut->rgProvParam = nullptr;
    if (!info.parameters.empty()) {
        CRYPT_KEY_PROV_PARAM* array = reinterpret_cast<CRYPT_KEY_PROV_PARAM*>(out + parametersAt);
        for (size_t i = 0; i < info.parameters.size(); ++i) {
            array[i] = info.parameters[i];
            array[i].pbData = nullptr;
            if (info.parameters[i].cbData > 0) {
                std::memcpy(out + dataAt[i], info.parameterData[i].data(),
                            info.parameters[i].cbData);
                array[i].pbData = out + dataAt[i];
            }
        }
        laidOut->rgProvParam = array;
    }
    return size;
}

// Sets or clears the provider context that the record releases when it goes.
void adoptProvider(CertRecord* record, HCRYPTPROV provider) {
    if (record->ownedProvider != 0 && record->ownedProvider != provider) {
        CryptReleaseContext(record->ownedProvider, 0);
    }
    record->ownedProvider = provider;
}

}  // namespace

std::shared_ptr<const CertificateData> decodeCertificateData(const BYTE* encoded, size_t length,
                                                             HRESULT* outError) {
    auto data = std::make_shared<CertificateData>();
    data->encoded.assign(encoded, encoded + length);
    const HRESULT error = decodeCertificate(data.get());
    if (error != 0) {
        *outError = error;
        return nullptr;
    }
    DerReader top(data->encoded.data(), data->encoded.data() + data->encoded.size());
    DerElement certificate;
    top.readAny(&certificate);
    // Resizing down keeps the buffer, so the CERT_INFO pointers into it stay valid.
    data->encoded.resize(certificate.totalLength());
    SHA1(data->encoded.data(), data->encoded.size(), data->thumbprint.data());
    linkData(data.get());
    return data;
}

CertRecord* createRecordFrom(std::shared_ptr<const CertificateData> data) {
    auto record = std::make_unique<CertRecord>();
    record->context.dwCertEncodingType = X509_ASN_ENCODING;
    record->context.pbCertEncoded = const_cast<BYTE*>(data->encoded.data());
    record->context.cbCertEncoded = static_cast<DWORD>(data->encoded.size());
    record->context.pCertInfo = const_cast<CERT_INFO*>(&data->info);
    record->context.hCertStore = nullptr;
    record->data = std::move(data);
    return record.release();
}

CertRecord* createRecord(const BYTE* encoded, size_t length, HRESULT* outError) {
    std::shared_ptr<const CertificateData> data = decodeCertificateData(encoded, length, outError);
    return data == nullptr ? nullptr : createRecordFrom(std::move(data));
}

void releaseRecord(CertRecord* record) {
    if (record != nullptr && record->references.fetch_sub(1) == 1) {
        if (record->ownedProvider != 0) {
            CryptReleaseContext(record->ownedProvider, 0);
        }
        if (record->store != nullptr) {
            releaseStoreReference(record->store);
        }
        delete record;
    }
}

bool isPersistedProperty(DWORD propertyId) {
    return propertyId != CERT_KEY_PROV_HANDLE_PROP_ID && propertyId != CERT_KEY_CONTEXT_PROP_ID;
}

std::string thumbprintHex(const std::array<BYTE, 20>& thumbprint) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const BYTE byte : thumbprint) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

}  // namespace emu

using emu::CertRecord;
using emu::recordOf;

PCCERT_CONTEXT CertCreateCertificateContext(DWORD encodingType, const BYTE* encoded,
                                            DWORD encodedLength) {
    if ((encodingType & X509_ASN_ENCODING) == 0) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return nullptr;
    }
    if (encoded == nullptr || encodedLength == 0) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_EOD));
        return nullptr;
    }
    HRESULT error = 0;
    CertRecord* record = emu::createRecord(encoded, encodedLength, &error);
    if (record == nullptr) {
        SetLastError(static_cast<DWORD>(error));
        return nullptr;
    }
    emu::countCertificate(1);
    return &record->context;
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context) {
    if (context != nullptr) {
        recordOf(context)->references.fetch_add(1);
        emu::countCertificate(1);
    }
    return context;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT context) {
    if (context != nullptr) {
        emu::countCertificate(-1);
        emu::releaseRecord(recordOf(context));
    }
    return TRUE;
}

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propertyId, void* data,
                                       DWORD* dataLength) {
    if (context == nullptr || dataLength == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    CertRecord* record = recordOf(context);
    std::vector<BYTE> value;
    emu::DecodedKeyProvInfo keyProvInfo;
    bool isKeyProvInfo = false;
    {
        std::lock_guard<std::mutex> guard(record->propertyLock);
        if (propertyId == CERT_SHA1_HASH_PROP_ID) {
            value.assign(record->data->thumbprint.begin(), record->data->thumbprint.end());
        } else {
            const auto found = record->properties.find(propertyId);
            if (found == record->properties.end()) {
                *dataLength = 0;
                SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
                return FALSE;
            }
            value = found->second;
        }
    }
    if (propertyId == CERT_KEY_PROV_INFO_PROP_ID) {
        if (!emu::decodeKeyProvInfo(value, &keyProvInfo)) {
            *dataLength = 0;
            SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
            return FALSE;
        }
        isKeyProvInfo = true;
    }
    const size_t size = isKeyProvInfo ? emu::layOutKeyProvInfo(keyProvInfo, nullptr) : value.size();
    if (data == nullptr) {
        *dataLength = static_cast<DWORD>(size);
        return TRUE;
    }
    if (*dataLength < size) {
        *dataLength = static_cast<DWORD>(size);
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    if (isKeyProvInfo) {
        emu::layOutKeyProvInfo(keyProvInfo, static_cast<BYTE*>(data));
    } else if (size > 0) {
        std::memcpy(data, value.data(), size);
    }
    *dataLength = static_cast<DWORD>(size);
    return TRUE;
}

// Properties 1 (the provider handle) and 5 (the key context) live on the context only. Set
// without CERT_STORE_NO_CRYPT_RELEASE_FLAG, the context releases their provider handle when
// the property is cleared or the context is finally freed, as the platform does.
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propertyId, DWORD flags,
                                       const void* data) {
    if (context == nullptr || propertyId == 0) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    CertRecord* record = recordOf(context);
    const bool releases = (flags & CERT_STORE_NO_CRYPT_RELEASE_FLAG) == 0;
    std::vector<BYTE> value;
    if (propertyId == CERT_KEY_CONTEXT_PROP_ID && data != nullptr &&
        static_cast<const CERT_KEY_CONTEXT*>(data)->cbSize != sizeof(CERT_KEY_CONTEXT)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    if (propertyId == CERT_SHA1_HASH_PROP_ID) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));  // derived from the encoding
        return FALSE;
    }
    std::optional<std::vector<BYTE>> previous;
    {
        std::lock_guard<std::mutex> guard(record->propertyLock);
        if (propertyId == CERT_KEY_PROV_HANDLE_PROP_ID || propertyId == CERT_KEY_CONTEXT_PROP_ID) {
            CERT_KEY_CONTEXT keyContext{sizeof(CERT_KEY_CONTEXT), 0, 0};
            const auto existing = record->properties.find(CERT_KEY_CONTEXT_PROP_ID);
            if (existing != record->properties.end()) {
                std::memcpy(&keyContext, existing->second.data(), sizeof(keyContext));
            }
            if (data == nullptr) {
                record->properties.erase(CERT_KEY_CONTEXT_PROP_ID);
                record->properties.erase(CERT_KEY_PROV_HANDLE_PROP_ID);
                emu::adoptProvider(record, 0);
                return TRUE;
            }
            if (propertyId == CERT_KEY_PROV_HANDLE_PROP_ID) {
                keyContext.hCryptProv = *static_cast<const HCRYPTPROV*>(data);
            } else {
                std::memcpy(&keyContext, data, sizeof(keyContext));
            }
            std::vector<BYTE> handle(sizeof(HCRYPTPROV));
            std::memcpy(handle.data(), &keyContext.hCryptProv, sizeof(HCRYPTPROV));
            record->properties[CERT_KEY_PROV_HANDLE_PROP_ID] = handle;
            std::vector<BYTE> whole(sizeof(keyContext));
            std::memcpy(whole.data(), &keyContext, sizeof(keyContext));
            record->properties[CERT_KEY_CONTEXT_PROP_ID] = whole;
            if (releases) {
                emu::adoptProvider(record, keyContext.hCryptProv);
            } else if (record->ownedProvider == keyContext.hCryptProv) {
                record->ownedProvider = 0;
            }
            return TRUE;
        }
        const auto found = record->properties.find(propertyId);
        if (found != record->properties.end()) {
            previous = found->second;
        }
        if (data == nullptr) {
            record->properties.erase(propertyId);
        } else if (propertyId == CERT_KEY_PROV_INFO_PROP_ID) {
            record->properties[propertyId] =
                    emu::encodeKeyProvInfo(*static_cast<const CRYPT_KEY_PROV_INFO*>(data));
        } else {
            const CRYPT_DATA_BLOB* blob = static_cast<const CRYPT_DATA_BLOB*>(data);
            record->properties[propertyId].assign(blob->pbData, blob->pbData + blob->cbData);
        }
    }
    if (record->store != nullptr && !emu::persistRecord(record)) {
        // The file keeps the old value, and so must the context: else the next write that
        // works would store the value whose write failed.
        std::lock_guard<std::mutex> guard(record->propertyLock);
        if (previous) {
            record->properties[propertyId] = *previous;
        } else {
            record->properties.erase(propertyId);
        }
        return FALSE;
    }
    return TRUE;
}
