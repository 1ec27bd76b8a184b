// Certificate contexts of the emulation: decoding of the X.509 encoding into CERT_INFO,
// reference counting, and the context's properties.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/emu/der.h"

namespace {

// The public CERT_CONTEXT comes first so that a PCCERT_CONTEXT handed out is the address of
// the whole record. Everything CERT_INFO points at lives in the record.
struct CertRecord {
    CERT_CONTEXT context{};
    CERT_INFO info{};
    std::vector<BYTE> encoded;
    std::vector<BYTE> serial;  // least significant byte first, as the platform keeps it
    std::string signatureOid;
    std::string publicKeyOid;
    std::vector<std::string> extensionOids;
    std::vector<CERT_EXTENSION> extensions;
    std::atomic<int> references{1};
    std::mutex propertyLock;
    std::map<DWORD, std::vector<BYTE>> properties;
};

CertRecord* recordOf(PCCERT_CONTEXT context) {
    return reinterpret_cast<CertRecord*>(const_cast<CERT_CONTEXT*>(context));
}

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

bool readExtensions(const emu::DerElement& wrapper, CertRecord* record, HRESULT* error) {
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
HRESULT decodeCertificate(CertRecord* record) {
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
    if (!top.readAny(&certificate, true)) {
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
    const bool complete =
            certificate.start + certificate.totalLength() <= begin + record->encoded.size();

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

void linkRecord(CertRecord* record) {
    CERT_INFO& info = record->info;
    info.SignatureAlgorithm.pszObjId = record->signatureOid.data();
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = record->publicKeyOid.data();
    for (size_t i = 0; i < record->extensions.size(); ++i) {
        record->extensions[i].pszObjId = record->extensionOids[i].data();
    }
    info.cExtension = static_cast<DWORD>(record->extensions.size());
    info.rgExtension = record->extensions.empty() ? nullptr : record->extensions.data();
    record->context.dwCertEncodingType = X509_ASN_ENCODING;
    record->context.pbCertEncoded = record->encoded.data();
    record->context.cbCertEncoded = static_cast<DWORD>(record->encoded.size());
    record->context.pCertInfo = &record->info;
    record->context.hCertStore = nullptr;
}

// The key-provider information is kept flat (its fields, then the two names and the
// parameters) and laid out again, pointers and all, in the caller's block on every read.
std::vector<BYTE> flattenKeyProvInfo(const CRYPT_KEY_PROV_INFO& info) {
    auto appendText = [](std::vector<BYTE>* out, LPCWSTR text) {
        std::vector<WCHAR> units;
        if (text != nullptr) {
            for (size_t i = 0; text[i] != 0; ++i) {
                units.push_back(text[i]);
            }
        }
        const DWORD count = static_cast<DWORD>(units.size());
        out->insert(out->end(), reinterpret_cast<const BYTE*>(&count),
                    reinterpret_cast<const BYTE*>(&count) + sizeof(count));
        const BYTE present = text != nullptr ? 1 : 0;
        out->push_back(present);
        out->insert(out->end(), reinterpret_cast<const BYTE*>(units.data()),
                    reinterpret_cast<const BYTE*>(units.data() + units.size()));
    };
    std::vector<BYTE> flat;
    CRYPT_KEY_PROV_INFO header = info;
    header.pwszContainerName = nullptr;
    header.pwszProvName = nullptr;
    header.rgProvParam = nullptr;
    flat.insert(flat.end(), reinterpret_cast<const BYTE*>(&header),
                reinterpret_cast<const BYTE*>(&header) + sizeof(header));
    appendText(&flat, info.pwszContainerName);
    appendText(&flat, info.pwszProvName);
    for (DWORD i = 0; i < info.cProvParam; ++i) {
        CRYPT_KEY_PROV_PARAM parameter = info.rgProvParam[i];
        const BYTE* data = parameter.pbData;
        parameter.pbData = nullptr;
        flat.insert(flat.end(), reinterpret_cast<const BYTE*>(&parameter),
                    reinterpret_cast<const BYTE*>(&parameter) + sizeof(parameter));
        if (data != nullptr) {
            flat.insert(flat.end(), data, data + parameter.cbData);
        }
    }
    return flat;
}

// Lays a flattened key-provider information out as one block. With `out` null only the
// size is computed. The block holds the structure, the parameter array, their data and the
// two names, each name NUL-terminated and aligned for WCHAR.
size_t expandKeyProvInfo(const std::vector<BYTE>& flat, BYTE* out) {
    CRYPT_KEY_PROV_INFO header;
    std::memcpy(&header, flat.data(), sizeof(header));
    size_t offset = sizeof(header);
    const BYTE* texts[2] = {};
    DWORD textCounts[2] = {};
    bool present[2] = {};
    for (int t = 0; t < 2; ++t) {
        std::memcpy(&textCounts[t], flat.data() + offset, sizeof(DWORD));
        present[t] = flat[offset + sizeof(DWORD)] != 0;
        texts[t] = flat.data() + offset + sizeof(DWORD) + 1;
        offset += sizeof(DWORD) + 1 + textCounts[t] * sizeof(WCHAR);
    }
    auto align = [](size_t value, size_t to) { return (value + to - 1) / to * to; };
    size_t size = sizeof(CRYPT_KEY_PROV_INFO);
    const size_t parametersAt = align(size, alignof(CRYPT_KEY_PROV_PARAM));
    size = parametersAt + header.cProvParam * sizeof(CRYPT_KEY_PROV_PARAM);
    std::vector<CRYPT_KEY_PROV_PARAM> parameters(header.cProvParam);
    std::vector<const BYTE*> parameterData(header.cProvParam);
    for (DWORD i = 0; i < header.cProvParam; ++i) {
        std::memcpy(&parameters[i], flat.data() + offset, sizeof(CRYPT_KEY_PROV_PARAM));
        offset += sizeof(CRYPT_KEY_PROV_PARAM);
        parameterData[i] = flat.data() + offset;
        offset += parameters[i].cbData;
    }
    std::vector<size_t> dataAt(header.cProvParam);
    for (DWORD i = 0; i < header.cProvParam; ++i) {
        dataAt[i] = size;
        size += parameters[i].cbData;
    }
    size_t textAt[2] = {};
    for (int t = 0; t < 2; ++t) {
        size = align(size, alignof(WCHAR));
        textAt[t] = size;
        if (present[t]) {
            size += (textCounts[t] + 1) * sizeof(WCHAR);
        }
    }
    if (out == nullptr) {
        return size;
    }
    std::memset(out, 0, size);
    CRYPT_KEY_PROV_INFO* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(out);
    *info = header;
    LPWSTR* names[2] = {&info->pwszContainerName, &info->pwszProvName};
    for (int t = 0; t < 2; ++t) {
        *names[t] = nullptr;
        if (present[t]) {
            std::memcpy(out + textAt[t], texts[t], textCounts[t] * sizeof(WCHAR));
            *names[t] = reinterpret_cast<LPWSTR>(out + textAt[t]);
        }
    }
    info->rgProvParam = nullptr;
    if (header.cProvParam > 0) {
        CRYPT_KEY_PROV_PARAM* array = reinterpret_cast<CRYPT_KEY_PROV_PARAM*>(out + parametersAt);
        for (DWORD i = 0; i < header.cProvParam; ++i) {
            array[i] = parameters[i];
            array[i].pbData = parameters[i].cbData > 0 ? out + dataAt[i] : nullptr;
            std::memcpy(out + dataAt[i], parameterData[i], parameters[i].cbData);
        }
        info->rgProvParam = array;
    }
    return size;
}

}  // namespace

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
    auto record = std::make_unique<CertRecord>();
    record->encoded.assign(encoded, encoded + encodedLength);
    const HRESULT error = decodeCertificate(record.get());
    if (error != 0) {
        SetLastError(static_cast<DWORD>(error));
        return nullptr;
    }
    // Bytes after the certificate are accepted but not part of it.
    emu::DerReader top(record->encoded.data(), record->encoded.data() + record->encoded.size());
    emu::DerElement certificate;
    top.readAny(&certificate);
    // Resizing down keeps the buffer, so the CERT_INFO pointers into it stay valid.
    record->encoded.resize(certificate.totalLength());
    linkRecord(record.get());
    return &record.release()->context;
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context) {
    if (context != nullptr) {
        recordOf(context)->references.fetch_add(1);
    }
    return context;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT context) {
    if (context != nullptr && recordOf(context)->references.fetch_sub(1) == 1) {
        delete recordOf(context);
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
    std::lock_guard<std::mutex> guard(record->propertyLock);
    const auto found = record->properties.find(propertyId);
    if (found == record->properties.end()) {
        *dataLength = 0;
        SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
        return FALSE;
    }
    const bool isKeyProvInfo = propertyId == CERT_KEY_PROV_INFO_PROP_ID;
    const size_t size =
            isKeyProvInfo ? expandKeyProvInfo(found->second, nullptr) : found->second.size();
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
        expandKeyProvInfo(found->second, static_cast<BYTE*>(data));
    } else if (size > 0) {
        std::memcpy(data, found->second.data(), size);
    }
    *dataLength = static_cast<DWORD>(size);
    return TRUE;
}

// TODO(brisvander): the key handle properties (1 and 5) own their HCRYPTPROV on the platform;
// that comes with the provider contexts. Until then they are kept as plain values.
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propertyId, DWORD flags,
                                       const void* data) {
    (void)flags;
    if (context == nullptr || propertyId == 0) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    CertRecord* record = recordOf(context);
    std::vector<BYTE> value;
    if (data != nullptr) {
        if (propertyId == CERT_KEY_PROV_INFO_PROP_ID) {
            value = flattenKeyProvInfo(*static_cast<const CRYPT_KEY_PROV_INFO*>(data));
        } else if (propertyId == CERT_KEY_PROV_HANDLE_PROP_ID) {
            const BYTE* handle = static_cast<const BYTE*>(data);
            value.assign(handle, handle + sizeof(HCRYPTPROV));
        } else if (propertyId == CERT_KEY_CONTEXT_PROP_ID) {
            const CERT_KEY_CONTEXT* keyContext = static_cast<const CERT_KEY_CONTEXT*>(data);
            if (keyContext->cbSize != sizeof(CERT_KEY_CONTEXT)) {
                SetLastError(static_cast<DWORD>(E_INVALIDARG));
                return FALSE;
            }
            const BYTE* bytes = static_cast<const BYTE*>(data);
            value.assign(bytes, bytes + sizeof(CERT_KEY_CONTEXT));
        } else {
            const CRYPT_DATA_BLOB* blob = static_cast<const CRYPT_DATA_BLOB*>(data);
            value.assign(blob->pbData, blob->pbData + blob->cbData);
        }
    }
    std::lock_guard<std::mutex> guard(record->propertyLock);
    if (data == nullptr) {
        record->properties.erase(propertyId);
    } else {
        record->properties[propertyId] = std::move(value);
    }
    return TRUE;
}
