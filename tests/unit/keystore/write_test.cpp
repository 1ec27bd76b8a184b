// Certificate entries and deletion over the emulated stores.

#include "keystore/write.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keystore/alias.h"
#include "keystore/read.h"
#include "keystore/resolve.h"
#include "platform/handles.h"
#include "tests/unit/support/cert_factory.h"
#include "tests/unit/support/emulation_fixture.h"

namespace {

using Bytes = std::vector<BYTE>;

class WriteSideTest : public EmulationTest {
protected:
    static bool resolves(const std::string& alias, EntryScope scope) {
        BYTE* raw = nullptr;
        DWORD length = 0;
        const int found = resolveAlias(alias.c_str(), &raw, &length, scope);
        delete[] raw;
        return found != 0;
    }

    TestKey key_ = makeTestKey();
};

TEST_F(WriteSideTest, AddedCertificateIsACertificateEntry) {
    const Bytes cert = makeCertificate("Added", key_.get(), "Added", key_.get(), 0x2A);
    ASSERT_TRUE(addCertificateEntry(cert.data(), static_cast<DWORD>(cert.size())));
    ASSERT_TRUE(addCertificateEntry(cert.data(), static_cast<DWORD>(cert.size())))
            << "adding it again replaces the copy";
    EXPECT_TRUE(resolves("CN=Added,2A", CertificateEntries));
    EXPECT_FALSE(resolves("CN=Added,2A", KeyEntries));
    EXPECT_EQ(1, countEntries());
}

TEST_F(WriteSideTest, BytesThatAreNoCertificateChangeNothing) {
    const Bytes cert = makeCertificate("Kept", key_.get(), "Kept", key_.get(), 1);
    ASSERT_TRUE(addCertificateEntry(cert.data(), static_cast<DWORD>(cert.size())));
    const Bytes cutShort(cert.begin(), cert.end() - 1);
    const BYTE junk[] = {0x61, 0x62, 0x63};
    EXPECT_FALSE(addCertificateEntry(cutShort.data(), static_cast<DWORD>(cutShort.size())));
    EXPECT_FALSE(addCertificateEntry(junk, sizeof(junk)));
    EXPECT_FALSE(addCertificateEntry(junk, 0));
    EXPECT_EQ(std::vector<std::string>{"CN=Kept,01"}, listAliases());
}

TEST_F(WriteSideTest, DeletesTheCertificateEntryFirstThenTheKeyEntry) {
    const Bytes cert = makeCertificate("Twice", key_.get(), "Twice", key_.get(), 7);
    ASSERT_NO_FATAL_FAILURE(putCertificate("MY", cert, "twice-container"));
    ASSERT_TRUE(addCertificateEntry(cert.data(), static_cast<DWORD>(cert.size())));
    ASSERT_EQ(2u, listAliases().size());

    EXPECT_TRUE(deleteEntryByAlias("CN=Twice,07"));
    EXPECT_FALSE(resolves("CN=Twice,07", CertificateEntries));
    EXPECT_TRUE(resolves("CN=Twice,07", KeyEntries));
    EXPECT_TRUE(deleteEntryByAlias("CN=Twice,07"));
    EXPECT_FALSE(resolves("CN=Twice,07", KeyEntries));
    EXPECT_FALSE(deleteEntryByAlias("CN=Twice,07"));
    // The key container stays.
    ProviderContext context;
    EXPECT_TRUE(CryptAcquireContextA(context.out(), "twice-container", MS_ENHANCED_PROV_A,
                                     PROV_RSA_FULL, 0));
}

TEST_F(WriteSideTest, KeepsWhatNoEntryNames) {
    const Bytes orphan = makeCertificate("Orphan", key_.get(), "Orphan", key_.get(), 3);
    ASSERT_NO_FATAL_FAILURE(putCertificate("MY", orphan, "never-made", false));
    const Bytes other = makeCertificate("Other", key_.get(), "Other", key_.get(), 4);
    ASSERT_TRUE(addCertificateEntry(other.data(), static_cast<DWORD>(other.size())));
    for (const char* alias : {"CN=Orphan,03", "CN=other,04", "CN=Other,4", ""}) {
        SCOPED_TRACE(alias);
        EXPECT_FALSE(deleteEntryByAlias(alias));
    }
    EXPECT_EQ(2, countEntries());
}

}  // namespace
