// Store walks against emulated stores of 10 to 10,000 certificates, half of them key entries:
// the cost of size, the alias listing and an alias lookup per certificate walked.

#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "keystore/alias.h"
#include "keystore/read.h"
#include "keystore/resolve.h"
#include "platform/handles.h"
#include "tests/unit/support/cert_factory.h"

namespace {

// One store folder per size, filled once and kept for the run.
std::string prepareStore(int certificates) {
    const std::string home = "/tmp/brisvander-bench-" + std::to_string(certificates);
    setenv("BRISVANDER_HOME", home.c_str(), 1);
    StoreHandle personal(openStore("MY"));
    CertContext first(CertEnumCertificatesInStore(personal.get(), nullptr));
    if (first) {
        return home;  // made by an earlier run
    }
    first.reset();
    StoreHandle book(openStore("AddressBook"));
    TestKey key = makeTestKey();
    ProviderContext container;
    CryptAcquireContextA(container.out(), "bench", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                         CRYPT_NEWKEYSET);
    container.reset();
    WCHAR containerName[] = L"bench";
    WCHAR providerName[] = L"Microsoft Enhanced Cryptographic Provider v1.0";
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = containerName;
    info.pwszProvName = providerName;
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    for (int i = 0; i < certificates; ++i) {
        const std::vector<BYTE> encoded = makeCertificate("Bench " + std::to_string(i), key.get(),
                                                          "Bench Issuer", key.get(), i + 1);
        CertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(),
                                                      static_cast<DWORD>(encoded.size())));
        const bool keyEntry = i % 2 == 0;
        if (keyEntry) {
            CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
        }
        CertAddCertificateContextToStore(keyEntry ? personal.get() : book.get(), cert.get(),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    }
    return home;
}

void setPerCertificate(benchmark::State& state) {
    state.counters["per_certificate"] = benchmark::Counter(
            static_cast<double>(state.iterations()) * static_cast<double>(state.range(0)),
            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Size(benchmark::State& state) {
    prepareStore(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(countEntries());
    }
    setPerCertificate(state);
}

void BM_Aliases(benchmark::State& state) {
    prepareStore(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(listAliases());
    }
    setPerCertificate(state);
}

// An alias that is not there: the lookup walks every certificate of both stores.
void BM_ContainsMissingAlias(benchmark::State& state) {
    prepareStore(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(containsEntryAlias("CN=Nobody,00"));
    }
    setPerCertificate(state);
}

BENCHMARK(BM_Size)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Aliases)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainsMissingAlias)
        ->Arg(10)
        ->Arg(100)
        ->Arg(1000)
        ->Arg(10000)
        ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
