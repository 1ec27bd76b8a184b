// A fresh, empty root folder for the emulation in every test, and the books checked at the end:
// every store, context and provider handle the test opened has been given back.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/emu/emulation.h"
#include "tests/unit/support/fixtures.h"

class EmulationTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/brisvander-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
        setenv("BRISVANDER_HOME", home_.c_str(), 1);
    }

    void TearDown() override {
        const emu::HandleCounts counts = emu::openHandles();
        EXPECT_EQ(0, counts.stores) << "stores left open";
        EXPECT_EQ(0, counts.certificates) << "certificate contexts not freed";
        EXPECT_EQ(0, counts.providers) << "provider contexts not released";
        EXPECT_EQ(0, counts.keys) << "keys not destroyed";
        EXPECT_EQ(0, counts.hashes) << "hashes not destroyed";
        std::system(("rm -rf '" + home_ + "'").c_str());
        unsetenv("BRISVANDER_HOME");
    }

    const std::string& home() const { return home_; }

    void writeFaults(const std::string& lines) {
        FILE* file = std::fopen((home_ + "/" + emu::kFaultFileName).c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(lines.c_str(), file);
        std::fclose(file);
    }

    static PCCERT_CONTEXT createFixture(const std::string& name) {
        const std::vector<BYTE> bytes = readAliasFixture(name);
        return CertCreateCertificateContext(X509_ASN_ENCODING, bytes.data(),
                                            static_cast<DWORD>(bytes.size()));
    }

private:
    std::string home_;
};
