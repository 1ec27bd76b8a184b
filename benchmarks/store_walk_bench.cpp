// Store walks against emulated stores of 10 to 10,000 certificates, half of them key entries:
// the cost of size, the alias listing and an alias lookup per certificate walked, called at the
// C++ level with no JVM in between.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "benchmarks/bench_store.h"
#include "keystore/read.h"

namespace {

// One store per size, kept between runs. Under `make bench` the stores are the ones the Java
// harness walks too, named by BRISVANDER_BENCH_STORES (a folder of one store per size);
// otherwise this program builds its own under /tmp, with a key of its own.
void prepareStore(int certificates) {
    const char* shared = std::getenv("BRISVANDER_BENCH_STORES");
    BenchStore store;
    if (shared != nullptr && *shared != 0) {
        if (!findStore(std::string(shared) + "/" + std::to_string(certificates), &store)) {
            std::fprintf(stderr, "store_walk_bench: no store of %d in %s\n", certificates, shared);
            std::exit(1);
        }
        return;
    }
    const std::string dataHome = "/tmp/brisvander-bench-stores/" + std::to_string(certificates);
    const std::string stamp = fingerprintInputs({}, "certificates=" + std::to_string(certificates));
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(nullptr, EVP_PKEY_free);
    if (!findStore(dataHome, &store) || store.stamp != stamp) {
        key.reset(EVP_RSA_gen(2048));
    }
    bool built = false;
    if (!ensureStore(dataHome, certificates, key.get(), stamp, &store, &built)) {
        std::exit(1);
    }
}

void setPerCertificate(benchmark::State& state) {
    state.counters["per_certificate"] = benchmark::Counter(
            static_cast<double>(state.iterations()) * static_cast<double>(state.range(0)),
            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Size(benchmark::State& state) {
    prepareStore(static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(countEntries());  // the first walk of a store also reads it in
    for (auto _ : state) {
        benchmark::DoNotOptimize(countEntries());
    }
    setPerCertificate(state);
}

void BM_Aliases(benchmark::State& state) {
    prepareStore(static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(listAliases());
    for (auto _ : state) {
        benchmark::DoNotOptimize(listAliases());
    }
    setPerCertificate(state);
}

// An alias that is not there: the lookup walks every certificate of both stores.
void BM_ContainsMissingAlias(benchmark::State& state) {
    prepareStore(static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(containsEntryAlias("CN=Nobody,00"));
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
