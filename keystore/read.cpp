// The read side of the key store: counting, listing, reverse lookup, chains and store export.

#include "keystore/read.h"

#include <algorithm>
#include <cstring>

#include "bridge/text.h"
#include "keystore/alias.h"
#include "keystore/walk.h"
#include "platform/handles.h"

namespace {

std::vector<BYTE> encodingOf(PCCERT_CONTEXT cert) {
    return std::vector<BYTE>(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded);
}

bool hasEncoding(PCCERT_CONTEXT cert, const BYTE* encoded, DWORD length) {
    return cert->cbCertEncoded == length && std::memcmp(cert->pbCertEncoded, encoded, length) == 0;
}

bool isInChain(const std::vector<std::vector<BYTE>>& chain, PCCERT_CONTEXT cert) {
    return std::any_of(chain.begin(), chain.end(), [cert](const std::vector<BYTE>& link) {
        return hasEncoding(cert, link.data(), static_cast<DWORD>(link.size()));
    });
}

}  // namespace

int countEntries() {
    StoreHandle personal(openStore("MY"));
    if (!personal) {
        return 0;  // "AddressBook" is not counted either
    }
    int count = 0;
    CertContext cert;
    while (nextCertificate(personal.get(), cert)) {
        if (cert.get()->pCertInfo != nullptr && hasKeyEntryProvider(cert.get())) {
            ++count;
        }
    }
    personal.reset();
    walkEntries("AddressBook", false, [&count](PCCERT_CONTEXT) {
        ++count;
        return true;
    });
    return count;
}

std::vector<std::string> listAliases() {
    std::vector<std::string> aliases;
    const auto collect = [&aliases](PCCERT_CONTEXT cert) {
        aliases.push_back(buildEntryAlias(cert));
        return true;
    };
    walkEntries("MY", true, collect);
    walkEntries("AddressBook", false, collect);
    return aliases;
}

bool containsEntryAlias(const char* alias) {
    bool found = false;
    const auto compare = [&](PCCERT_CONTEXT cert) {
        found = matchesJavaText(buildEntryAlias(cert).c_str(), alias);
        return !found;
    };
    walkEntries("MY", true, compare);
    if (!found) {
        walkEntries("AddressBook", false, compare);
    }
    return found;
}

bool findCertificateAlias(const BYTE* encoded, DWORD length, std::string* outAlias) {
    if (length == 0) {
        return false;
    }
    bool found = false;
    const auto compare = [&](PCCERT_CONTEXT cert) {
        found = hasEncoding(cert, encoded, length);
        if (found) {
            *outAlias = buildEntryAlias(cert);
        }
        return !found;
    };
    if (!walkEntries("MY", true, compare)) {
        return false;
    }
    if (!found) {
        walkEntries("AddressBook", false, compare);
    }
    return found;
}

bool buildCertificateChain(const BYTE* encoded, DWORD length,
                           std::vector<std::vector<BYTE>>* outChain) {
    std::vector<std::vector<BYTE>> chain;
    chain.emplace_back(encoded, encoded + length);
    CertContext current(CertCreateCertificateContext(X509_ASN_ENCODING, encoded, length));
    if (!current) {
        return false;
    }
    // The platform leaves its verdicts in the flags; whether a link joins depends only on
    // whether an issuer comes back.
    DWORD flags = CERT_STORE_SIGNATURE_FLAG | CERT_STORE_TIME_VALIDITY_FLAG;
    {
        StoreHandle authorities(openStore("CA"));
        if (!authorities) {
            return false;
        }
        while (chain.size() < kMaxChainLength) {
            CertContext issuer(CertGetIssuerCertificateFromStore(authorities.get(), current.get(),
                                                                 nullptr, &flags));
            if (!issuer || isInChain(chain, issuer.get())) {
                break;
            }
            chain.push_back(encodingOf(issuer.get()));
            current.reset(issuer.release());
        }
    }
    StoreHandle roots(openStore("Root"));
    if (!roots) {
        return false;
    }
    if (chain.size() < kMaxChainLength) {
        CertContext root(
                CertGetIssuerCertificateFromStore(roots.get(), current.get(), nullptr, &flags));
        if (root) {
            chain.push_back(encodingOf(root.get()));
        }
    }
    outChain->swap(chain);
    return true;
}

bool exportStore(const char* name, StoreExport* out) {
    size_t count = 0;
    {
        StoreHandle store(CertOpenSystemStoreA(0, name));
        if (!store) {
            return false;
        }
        CertContext cert;
        while (nextCertificate(store.get(), cert)) {
            ++count;
        }
    }
    if (count == 0) {
        return false;
    }
    out->count = count;
    out->certificates.clear();
    StoreHandle store(CertOpenSystemStoreA(0, name));
    if (!store) {
        return true;  // counted, but nothing to fill with
    }
    CertContext cert;
    // A store that grew since the count gives no more than was counted.
    while (out->certificates.size() < count && nextCertificate(store.get(), cert)) {
        out->certificates.push_back(encodingOf(cert.get()));
    }
    return true;
}
