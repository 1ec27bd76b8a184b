// CertNameToStrA: the X.500 text of an encoded Name, as the Windows formatter writes it.

#include "platform/api.h"

// TODO(brisvander): the formatter itself; until then every name gives the empty text.
DWORD CertNameToStrA(DWORD encodingType, const CERT_NAME_BLOB* name, DWORD stringType, LPSTR text,
                     DWORD textLength) {
    (void)encodingType;
    (void)name;
    (void)stringType;
    if (text != nullptr && textLength > 0) {
        text[0] = '\0';
    }
    return 1;
}
