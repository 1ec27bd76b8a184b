// The read side over the emulated stores: listing, lookups, chains and store export.

#include "keystore/read.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/contexts.h"
#include "keystore/alias.h"
#include "keystore/resolve.h"
#include "platform/handles.h"
#include "tests/unit/support/cert_factory.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

using Bytes = std::vector<BYTE>;

class ReadSideTest : public EmulationTest {
protected:
    static std::string aliasOf(const Bytes& encoded) {
        CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                      static_cast<DWORD>(encoded.size())));
        return buildEntryAlias(cert.get());
    }

    static Bytes resolved(const std::string& alias, EntryScope scope) {
        BYTE* raw = nullptr;
        DWORD length = 0;
        resolveAlias(alias.c_str(), &raw, &length, scope);
        std::unique_ptr<BYTE[]> owned(raw);
        return raw == nullptr ? Bytes() : Bytes(raw, raw + length);
    }

    TestKey key_ = makeTestKey();
};

TEST_F(ReadSideTest, ListsKeyEntriesFirstAndSkipsThoseWithoutContainer) {
    const Bytes both = makeCertificate("Both", key_.get(), "Both", key_.get(), 1);
    const Bytes bookOnly = makeCertificate("Book", key_.get(), "Book", key_.get(), 2);
    const Bytes orphan = makeCertificate("Orphan", key_.get(), "Orphan", key_.get(), 3);
    putCertificate("AddressBook", both);
    putCertificate("AddressBook", bookOnly);
    putCertificate("MY", both, "c-both");
    putCertificate("MY", orphan, "c-gone", false);  // its container never existed

    const std::vector<std::string> aliases = listAliases();
    ASSERT_EQ(3u, aliases.size());
    EXPECT_EQ(aliasOf(both), aliases[0]);
    std::vector<std::string> rest(aliases.begin() + 1, aliases.end());
    std::sort(rest.begin(), rest.end());
    std::vector<std::string> book = {aliasOf(both), aliasOf(bookOnly)};
    std::sort(book.begin(), book.end());
    EXPECT_EQ(book, rest) << "then every certificate of AddressBook, the shared one again";
    EXPECT_EQ(4, countEntries());  // size counts the orphan: it does not open its container

    EXPECT_TRUE(containsEntryAlias(aliasOf(bookOnly).c_str()));
    EXPECT_FALSE(containsEntryAlias(aliasOf(orphan).c_str()));
    std::string alias;
    EXPECT_FALSE(findCertificateAlias(orphan.data(), static_cast<DWORD>(orphan.size()), &alias));
    ASSERT_TRUE(findCertificateAlias(bookOnly.data(), static_cast<DWORD>(bookOnly.size()), &alias));
    EXPECT_EQ(aliasOf(bookOnly), alias);
}

TEST_F(ReadSideTest, ComparesAliasesExactly) {
    const Bytes cert = makeCertificate("Alice Example", key_.get(), "Alice Example", key_.get(), 5);
    putCertificate("AddressBook", cert);
    ASSERT_EQ("CN=Alice Example,05", aliasOf(cert));
    for (const char* near : {"cn=Alice Example,05", "CN=Alice Example,5", "CN=Alice Example, 05",
                             "CN=Alice  Example,05", "CN=Alice Example,0005", ""}) {
        SCOPED_TRACE(near);
        EXPECT_FALSE(containsEntryAlias(near));
        EXPECT_TRUE(resolved(near, AllEntries).empty());
    }
    EXPECT_EQ(cert, resolved("CN=Alice Example,05", AllEntries));
    EXPECT_EQ(cert, resolved("CN=Alice Example,05", CertificateEntries));
    EXPECT_TRUE(resolved("CN=Alice Example,05", KeyEntries).empty());
    EXPECT_TRUE(resolved("CN=Alice Example,05", static_cast<EntryScope>(7)).empty());
}

// A non-ASCII issuer crosses to Java as modified UTF-8 and is found again in that form.
TEST_F(ReadSideTest, FindsANonAsciiAliasInItsJavaForm) {
    const Bytes cert = makeCertificate("Caf\xC3\xA9", key_.get(), "Caf\xC3\xA9", key_.get(), 9);
    putCertificate("AddressBook", cert);
    EXPECT_EQ("CN=Caf\xE9,09", aliasOf(cert));
    EXPECT_TRUE(containsEntryAlias("CN=Caf\xC3\xA9,09"));
    EXPECT_FALSE(containsEntryAlias("CN=Caf\xE9,09"));
}

TEST_F(ReadSideTest, BuildsChainsThroughCaAndOneRootStep) {
    const TestKey rootKey = makeTestKey();
    const TestKey middleKey = makeTestKey();
    const TestKey topKey = makeTestKey();
    const Bytes root = makeCertificate("Root", rootKey.get(), "Root", rootKey.get(), 100);
    const Bytes top = makeCertificate("Top", topKey.get(), "Root", rootKey.get(), 101);
    const Bytes middle = makeCertificate("Middle", middleKey.get(), "Top", topKey.get(), 102);
    const Bytes leaf = makeCertificate("Leaf", key_.get(), "Middle", middleKey.get(), 103);
    const Bytes lone = makeCertificate("Lone", key_.get(), "Lone", key_.get(), 104);
    const Bytes rooted = makeCertificate("Rooted", key_.get(), "Root", rootKey.get(), 105);
    putCertificate("Root", root);
    putCertificate("CA", top);
    putCertificate("CA", middle);
    struct Case {
        const char* name;
        const Bytes& cert;
        std::vector<Bytes> chain;
    };
    const Case cases[] = {
            {"self-signed", lone, {lone}},
            {"issued by a root", rooted, {rooted, root}},
            {"intermediates in CA", leaf, {leaf, middle, top, root}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Bytes> chain;
        ASSERT_TRUE(
                buildCertificateChain(c.cert.data(), static_cast<DWORD>(c.cert.size()), &chain));
        EXPECT_EQ(c.chain, chain);
    }
}

TEST_F(ReadSideTest, ChainsEndSafelyOnLoopsAndAtTen) {
    const TestKey keyA = makeTestKey();
    const TestKey keyB = makeTestKey();
    putCertificate("CA", makeCertificate("Loop A", keyA.get(), "Loop B", keyB.get(), 200));
    putCertificate("CA", makeCertificate("Loop B", keyB.get(), "Loop A", keyA.get(), 201));
    const Bytes intoLoop = makeCertificate("Into Loop", key_.get(), "Loop A", keyA.get(), 202);
    std::vector<Bytes> chain;
    ASSERT_TRUE(
            buildCertificateChain(intoLoop.data(), static_cast<DWORD>(intoLoop.size()), &chain));
    EXPECT_EQ(3u, chain.size()) << "the leaf, A and B, then the loop is seen";

    // Twelve levels of authorities in CA: the chain stops at ten.
    std::vector<TestKey> keys;
    for (int level = 0; level <= 12; ++level) {
        keys.push_back(makeTestKey());
    }
    for (int level = 1; level <= 12; ++level) {
        putCertificate("CA", makeCertificate("Level " + std::to_string(level), keys[level].get(),
                                             "Level " + std::to_string(level + 1),
                                             level < 12 ? keys[level + 1].get() : keys[level].get(),
                                             300 + level));
    }
    const Bytes deep = makeCertificate("Deep", keys[0].get(), "Level 1", keys[1].get(), 299);
    ASSERT_TRUE(buildCertificateChain(deep.data(), static_cast<DWORD>(deep.size()), &chain));
    EXPECT_EQ(kMaxChainLength, chain.size());
}

TEST_F(ReadSideTest, ChainFailsWholeWhenCaOrRootDoesNotOpen) {
    const Bytes lone = makeCertificate("Lone", key_.get(), "Lone", key_.get(), 1);
    for (const char* store : {"CA", "Root"}) {
        SCOPED_TRACE(store);
        writeFaults(std::string("CertOpenStore ") + store + "\n");
        std::vector<Bytes> chain;
        EXPECT_FALSE(buildCertificateChain(lone.data(), static_cast<DWORD>(lone.size()), &chain));
        EXPECT_TRUE(chain.empty());
    }
}

TEST_F(ReadSideTest, ExportsEveryCertificateOfAnyStore) {
    StoreExport exported;
    EXPECT_FALSE(exportStore("Made Up", &exported)) << "an empty store exports nothing";
    for (long serial = 1; serial <= 3; ++serial) {
        putCertificate("Made Up",
                       makeCertificate("Export", key_.get(), "Export", key_.get(), serial));
    }
    ASSERT_TRUE(exportStore("made up", &exported));
    EXPECT_EQ(3u, exported.count);
    EXPECT_EQ(3u, exported.certificates.size());
}

TEST_F(ReadSideTest, LookupsFindNothingWhenMyDoesNotOpen) {
    const Bytes cert = makeCertificate("Book", key_.get(), "Book", key_.get(), 1);
    putCertificate("AddressBook", cert);
    writeFaults("CertOpenStore MY\n");
    EXPECT_EQ(0, countEntries());
    EXPECT_EQ(1u, listAliases().size());
    EXPECT_TRUE(containsEntryAlias(aliasOf(cert).c_str()));
    std::string alias;
    EXPECT_FALSE(findCertificateAlias(cert.data(), static_cast<DWORD>(cert.size()), &alias));
}

// Key-provider information may carry any flags; the walks open containers with them, but must
// neither make one (CRYPT_NEWKEYSET) nor remove one (CRYPT_DELETEKEYSET, which would lose the
// entry's key on a mere listing).
TEST_F(ReadSideTest, WalksNeverMakeOrRemoveAKeyContainer) {
    const Bytes kept = makeCertificate("Kept", key_.get(), "Kept", key_.get(), 1);
    const Bytes missing = makeCertificate("Missing", key_.get(), "Missing", key_.get(), 2);
    const struct {
        const Bytes* cert;
        const char* container;
        DWORD flags;
        bool makeContainer;
    } entries[] = {
            {&kept, "c-kept", CRYPT_DELETEKEYSET, true},
            {&missing, "c-missing", CRYPT_NEWKEYSET, false},
    };
    for (const auto& entry : entries) {
        putCertificate("MY", *entry.cert, entry.container, entry.makeContainer);
        StoreHandle store(CertOpenSystemStoreA(0, "MY"));
        CertContext cert;
        while (nextCertificate(store.get(), cert)) {
            const Bytes encoded(cert.get()->pbCertEncoded,
                                cert.get()->pbCertEncoded + cert.get()->cbCertEncoded);
            if (encoded != *entry.cert) {
                continue;
            }
            std::vector<WCHAR> name(entry.container,
                                    entry.container + std::strlen(entry.container) + 1);
            CRYPT_KEY_PROV_INFO info{};
            info.pwszContainerName = name.data();
            info.pwszProvName =
                    const_cast<WCHAR*>(L"Microsoft Enhanced Cryptographic Provider v1.0");
            info.dwProvType = PROV_RSA_FULL;
            info.dwFlags = entry.flags;
            info.dwKeySpec = AT_KEYEXCHANGE;
            ASSERT_TRUE(CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0,
                                                          &info));
        }
    }
    const auto containerOpens = [](const char* container) {
        ProviderContext context;
        return CryptAcquireContextA(context.out(), container, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                    0) != FALSE;
    };
    const std::string keptAlias = aliasOf(kept);
    const std::pair<const char*, std::function<void()>> walks[] = {
            {"listAliases", [] { listAliases(); }},
            {"containsEntryAlias", [] { containsEntryAlias("CN=Nobody,01"); }},
            {"resolveAlias", [] { resolved("CN=Nobody,01", KeyEntries); }},
            {"acquireKeyByAlias",
             [&keptAlias] {
                 HCRYPTKEY rawKey = 0;
                 ProviderContext context(
                         acquireKeyByAlias(reinterpret_cast<const BYTE*>(keptAlias.data()),
                                           static_cast<DWORD>(keptAlias.size()), &rawKey));
                 KeyHandle key(rawKey);
             }},
            {"acquireSigningContextByAlias",
             [] {
                 ProviderContext context(
                         acquireSigningContextByAlias(reinterpret_cast<const BYTE*>("x"), 1));
             }},
    };
    for (const auto& [name, walk] : walks) {
        SCOPED_TRACE(name);
        walk();
        EXPECT_TRUE(containerOpens("c-kept"));
        EXPECT_FALSE(containerOpens("c-missing"));
    }
    EXPECT_EQ(std::vector<std::string>{keptAlias}, listAliases());
}

}  // namespace
