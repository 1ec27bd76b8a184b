// The Windows types, constants and functions that the library calls, declared for the Linux
// emulation with the same names and meanings, so that code above platform/ is the same on both.
#pragma once

#include <cstddef>
#include <cstdint>

// Scalar types, at the widths of a Windows build of the same pointer size.
using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using HRESULT = LONG;
using ULONG_PTR = std::uintptr_t;
using ALG_ID = unsigned int;
// One UTF-16 code unit per WCHAR, as on Windows; wchar_t so that L"MY" reads the same on both.
using WCHAR = wchar_t;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPBOOL = BOOL*;
using LPVOID = void*;
using HLOCAL = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Last error of the calling thread.
DWORD GetLastError();
void SetLastError(DWORD code);

// Win32 error codes.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_CANCELLED = 1223;

// HRESULT-style codes of the cryptographic functions, signed as on Windows.
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT NTE_BAD_KEY = static_cast<HRESULT>(0x80090003u);
constexpr HRESULT NTE_BAD_LEN = static_cast<HRESULT>(0x80090004u);
constexpr HRESULT NTE_BAD_DATA = static_cast<HRESULT>(0x80090005u);
constexpr HRESULT NTE_BAD_SIGNATURE = static_cast<HRESULT>(0x80090006u);
constexpr HRESULT NTE_BAD_ALGID = static_cast<HRESULT>(0x80090008u);
constexpr HRESULT NTE_BAD_FLAGS = static_cast<HRESULT>(0x80090009u);
constexpr HRESULT NTE_BAD_HASH_STATE = static_cast<HRESULT>(0x8009000Cu);
constexpr HRESULT NTE_NO_KEY = static_cast<HRESULT>(0x8009000Du);
constexpr HRESULT NTE_EXISTS = static_cast<HRESULT>(0x8009000Fu);
constexpr HRESULT NTE_BAD_PROV_TYPE = static_cast<HRESULT>(0x80090014u);
constexpr HRESULT NTE_BAD_KEYSET = static_cast<HRESULT>(0x80090016u);
constexpr HRESULT NTE_KEYSET_NOT_DEF = static_cast<HRESULT>(0x80090019u);
constexpr HRESULT NTE_PROV_TYPE_NO_MATCH = static_cast<HRESULT>(0x8009001Bu);
constexpr HRESULT NTE_FAIL = static_cast<HRESULT>(0x80090020u);
constexpr HRESULT CRYPT_E_NOT_FOUND = static_cast<HRESULT>(0x80092004u);
constexpr HRESULT CRYPT_E_EXISTS = static_cast<HRESULT>(0x80092005u);
constexpr HRESULT CRYPT_E_SELF_SIGNED = static_cast<HRESULT>(0x80092007u);
constexpr HRESULT CRYPT_E_PENDING_CLOSE = static_cast<HRESULT>(0x8009200Fu);
constexpr HRESULT CRYPT_E_ASN1_EOD = static_cast<HRESULT>(0x80093102u);
constexpr HRESULT CRYPT_E_ASN1_CORRUPT = static_cast<HRESULT>(0x80093103u);
constexpr HRESULT CRYPT_E_ASN1_BADTAG = static_cast<HRESULT>(0x8009310Bu);

// System message text.
constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     LPSTR buffer, DWORD size, void* arguments);
HLOCAL LocalFree(HLOCAL memory);

// Code page conversions. The emulation's ANSI code page is Windows-1252.
constexpr UINT CP_ACP = 0;
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideText, int wideLength,
                        LPSTR multiByteText, int multiByteLength, LPCSTR defaultChar,
                        LPBOOL usedDefaultChar);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByteText, int multiByteLength,
                        LPWSTR wideText, int wideLength);

// Encoded data and certificates.
constexpr DWORD X509_ASN_ENCODING = 0x00000001;
constexpr DWORD PKCS_7_ASN_ENCODING = 0x00010000;

struct CRYPTOAPI_BLOB {
    DWORD cbData;
    BYTE* pbData;
};
using CRYPT_INTEGER_BLOB = CRYPTOAPI_BLOB;
using CRYPT_OBJID_BLOB = CRYPTOAPI_BLOB;
using CERT_NAME_BLOB = CRYPTOAPI_BLOB;
using CRYPT_DATA_BLOB = CRYPTOAPI_BLOB;
using PCERT_NAME_BLOB = CERT_NAME_BLOB*;

struct CRYPT_BIT_BLOB {
    DWORD cbData;
    BYTE* pbData;
    DWORD cUnusedBits;
};

struct CRYPT_ALGORITHM_IDENTIFIER {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Parameters;
};

struct CERT_PUBLIC_KEY_INFO {
    CRYPT_ALGORITHM_IDENTIFIER Algorithm;
    CRYPT_BIT_BLOB PublicKey;
};
using PCERT_PUBLIC_KEY_INFO = CERT_PUBLIC_KEY_INFO*;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct CERT_EXTENSION {
    LPSTR pszObjId;
    BOOL fCritical;
    CRYPT_OBJID_BLOB Value;
};

struct CERT_INFO {
    DWORD dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber;
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    CRYPT_BIT_BLOB IssuerUniqueId;
    CRYPT_BIT_BLOB SubjectUniqueId;
    DWORD cExtension;
    CERT_EXTENSION* rgExtension;
};
using PCERT_INFO = CERT_INFO*;

using HCERTSTORE = void*;

struct CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HCERTSTORE hCertStore;
};
using PCERT_CONTEXT = CERT_CONTEXT*;
using PCCERT_CONTEXT = const CERT_CONTEXT*;

// Provider, key and hash handles share one integer type, as on Windows.
using HCRYPTPROV = ULONG_PTR;
using HCRYPTKEY = ULONG_PTR;
using HCRYPTHASH = ULONG_PTR;

constexpr DWORD PROV_RSA_FULL = 1;
constexpr DWORD PROV_RSA_SIG = 2;
constexpr DWORD PROV_DSS = 3;
constexpr DWORD PROV_RSA_AES = 24;
constexpr DWORD AT_KEYEXCHANGE = 1;
constexpr DWORD AT_SIGNATURE = 2;

struct CRYPT_KEY_PROV_PARAM {
    DWORD dwParam;
    BYTE* pbData;
    DWORD cbData;
    DWORD dwFlags;
};

struct CRYPT_KEY_PROV_INFO {
    LPWSTR pwszContainerName;
    LPWSTR pwszProvName;
    DWORD dwProvType;
    DWORD dwFlags;
    DWORD cProvParam;
    CRYPT_KEY_PROV_PARAM* rgProvParam;
    DWORD dwKeySpec;
};
using PCRYPT_KEY_PROV_INFO = CRYPT_KEY_PROV_INFO*;

struct CERT_KEY_CONTEXT {
    DWORD cbSize;
    HCRYPTPROV hCryptProv;
    DWORD dwKeySpec;
};

// Certificate context properties.
constexpr DWORD CERT_KEY_PROV_HANDLE_PROP_ID = 1;
constexpr DWORD CERT_KEY_PROV_INFO_PROP_ID = 2;
constexpr DWORD CERT_SHA1_HASH_PROP_ID = 3;
constexpr DWORD CERT_KEY_CONTEXT_PROP_ID = 5;
constexpr DWORD CERT_FRIENDLY_NAME_PROP_ID = 11;
constexpr DWORD CERT_STORE_NO_CRYPT_RELEASE_FLAG = 0x00000001;

// Certificate contexts, reference counted; each stays valid until its last reference is freed.
PCCERT_CONTEXT CertCreateCertificateContext(DWORD encodingType, const BYTE* encoded,
                                            DWORD encodedLength);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT context);
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propertyId, void* data,
                                       DWORD* dataLength);
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propertyId, DWORD flags,
                                       const void* data);

// Certificate stores of the current user, kept under the emulation's root folder.
inline const LPCSTR CERT_STORE_PROV_SYSTEM_W = reinterpret_cast<LPCSTR>(std::uintptr_t{10});
constexpr DWORD CERT_SYSTEM_STORE_CURRENT_USER = 0x00010000;
constexpr DWORD CERT_STORE_OPEN_EXISTING_FLAG = 0x00004000;
constexpr DWORD CERT_STORE_READONLY_FLAG = 0x00008000;
constexpr DWORD CERT_CLOSE_STORE_FORCE_FLAG = 0x00000001;
constexpr DWORD CERT_CLOSE_STORE_CHECK_FLAG = 0x00000002;
constexpr DWORD CERT_STORE_ADD_NEW = 1;
constexpr DWORD CERT_STORE_ADD_USE_EXISTING = 2;
constexpr DWORD CERT_STORE_ADD_REPLACE_EXISTING = 3;
constexpr DWORD CERT_STORE_ADD_ALWAYS = 4;
constexpr DWORD CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES = 5;
constexpr DWORD CERT_STORE_SIGNATURE_FLAG = 0x00000001;
constexpr DWORD CERT_STORE_TIME_VALIDITY_FLAG = 0x00000002;
constexpr DWORD CERT_STORE_REVOCATION_FLAG = 0x00000004;
constexpr DWORD CERT_STORE_NO_CRL_FLAG = 0x00010000;
constexpr DWORD CERT_STORE_NO_ISSUER_FLAG = 0x00020000;

HCERTSTORE CertOpenStore(LPCSTR storeProvider, DWORD encodingType, HCRYPTPROV provider, DWORD flags,
                         const void* parameter);
HCERTSTORE CertOpenSystemStoreA(HCRYPTPROV provider, LPCSTR storeName);
BOOL CertCloseStore(HCERTSTORE store, DWORD flags);
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous);
BOOL CertAddCertificateContextToStore(HCERTSTORE store, PCCERT_CONTEXT context, DWORD disposition,
                                      PCCERT_CONTEXT* outStoreContext);
BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT context);
PCCERT_CONTEXT CertGetIssuerCertificateFromStore(HCERTSTORE store, PCCERT_CONTEXT subject,
                                                 PCCERT_CONTEXT previousIssuer, DWORD* flags);

// Name text.
constexpr DWORD CERT_SIMPLE_NAME_STR = 1;
constexpr DWORD CERT_OID_NAME_STR = 2;
constexpr DWORD CERT_X500_NAME_STR = 3;
constexpr DWORD CERT_NAME_STR_SEMICOLON_FLAG = 0x40000000;
constexpr DWORD CERT_NAME_STR_CRLF_FLAG = 0x08000000;
constexpr DWORD CERT_NAME_STR_NO_PLUS_FLAG = 0x20000000;
constexpr DWORD CERT_NAME_STR_NO_QUOTING_FLAG = 0x10000000;
constexpr DWORD CERT_NAME_STR_REVERSE_FLAG = 0x02000000;
DWORD CertNameToStrA(DWORD encodingType, const CERT_NAME_BLOB* name, DWORD stringType, LPSTR text,
                     DWORD textLength);

// Provider contexts and key containers. The three RSA_FULL providers share the containers.
#define MS_DEF_PROV_A "Microsoft Base Cryptographic Provider v1.0"
#define MS_ENHANCED_PROV_A "Microsoft Enhanced Cryptographic Provider v1.0"
#define MS_STRONG_PROV_A "Microsoft Strong Cryptographic Provider"
constexpr DWORD CRYPT_NEWKEYSET = 0x00000008;
constexpr DWORD CRYPT_DELETEKEYSET = 0x00000010;
constexpr DWORD CRYPT_MACHINE_KEYSET = 0x00000020;
constexpr DWORD CRYPT_SILENT = 0x00000040;
constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000;
constexpr HRESULT NTE_PROV_TYPE_NOT_DEF = static_cast<HRESULT>(0x80090017u);
BOOL CryptAcquireContextA(HCRYPTPROV* outProvider, LPCSTR container, LPCSTR providerName,
                          DWORD providerType, DWORD flags);
BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD flags);

// Algorithms, key blobs and key parameters.
constexpr ALG_ID CALG_MD2 = 0x8001;
constexpr ALG_ID CALG_MD4 = 0x8002;
constexpr ALG_ID CALG_MD5 = 0x8003;
constexpr ALG_ID CALG_SHA1 = 0x8004;
constexpr ALG_ID CALG_RSA_SIGN = 0x2400;
constexpr ALG_ID CALG_RSA_KEYX = 0xA400;
constexpr BYTE PUBLICKEYBLOB = 0x6;
constexpr BYTE PRIVATEKEYBLOB = 0x7;
constexpr BYTE CUR_BLOB_VERSION = 0x02;
constexpr DWORD CRYPT_EXPORTABLE = 0x00000001;
constexpr DWORD CRYPT_OAEP = 0x00000040;
constexpr DWORD KP_ALGID = 7;
constexpr DWORD KP_BLOCKLEN = 8;
constexpr DWORD KP_KEYLEN = 9;
#define szOID_RSA_RSA "1.2.840.113549.1.1.1"
constexpr HRESULT NTE_BAD_UID = static_cast<HRESULT>(0x80090001u);
constexpr HRESULT NTE_BAD_HASH = static_cast<HRESULT>(0x80090002u);
constexpr HRESULT NTE_BAD_TYPE = static_cast<HRESULT>(0x8009000Au);

struct BLOBHEADER {
    BYTE bType;
    BYTE bVersion;
    WORD reserved;
    ALG_ID aiKeyAlg;
};

struct RSAPUBKEY {
    DWORD magic;  // "RSA1" for a public key, "RSA2" for a private one
    DWORD bitlen;
    DWORD pubexp;
};

// Keys live in a provider context: imported for the call (verify-only context) or kept in the
// context's container, one per slot.
BOOL CryptImportKey(HCRYPTPROV provider, const BYTE* data, DWORD dataLength, HCRYPTKEY publicKey,
                    DWORD flags, HCRYPTKEY* outKey);
BOOL CryptImportPublicKeyInfo(HCRYPTPROV provider, DWORD encodingType, PCERT_PUBLIC_KEY_INFO info,
                              HCRYPTKEY* outKey);
BOOL CryptGetUserKey(HCRYPTPROV provider, DWORD keySpec, HCRYPTKEY* outKey);
BOOL CryptGetKeyParam(HCRYPTKEY key, DWORD parameter, BYTE* data, DWORD* dataLength, DWORD flags);
BOOL CryptDestroyKey(HCRYPTKEY key);

// Hashes, and RSA signatures (PKCS #1 v1.5) over them, least significant byte first.
BOOL CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags,
                     HCRYPTHASH* outHash);
BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD dataLength, DWORD flags);
BOOL CryptSignHashA(HCRYPTHASH hash, DWORD keySpec, LPCSTR description, DWORD flags,
                    BYTE* signature, DWORD* signatureLength);
BOOL CryptVerifySignatureA(HCRYPTHASH hash, const BYTE* signature, DWORD signatureLength,
                           HCRYPTKEY publicKey, LPCSTR description, DWORD flags);
BOOL CryptDestroyHash(HCRYPTHASH hash);

// RSA encryption with PKCS #1 v1.5 padding; cipher texts least significant byte first.
BOOL CryptEncrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* dataLength, DWORD bufferLength);
BOOL CryptDecrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* dataLength);

// Zeroes memory in a way the compiler keeps, for buffers that held secrets.
void* SecureZeroMemory(void* memory, size_t length);
