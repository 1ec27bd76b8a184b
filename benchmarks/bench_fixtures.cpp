// The benchmarks' inputs, made once and kept between runs:
//   bench_fixtures keys DIR BITS...                  RSA keys (rsa-BITS.p8, DER PKCS #8) and
//                                                    their self-signed certificates (rsa-BITS.crt)
//   bench_fixtures store DATA_HOME CERTIFICATES KEY  an emulated store signing with KEY (.p8)
// A store is rebuilt only when this program, the key file or the count changed.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "benchmarks/bench_store.h"
#include "tests/unit/support/cert_factory.h"

namespace {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// Written beside its final name and renamed, so that an interrupted run leaves no half file.
bool writeWhole(const std::string& path, const std::vector<BYTE>& bytes) {
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    return !error;
}

std::vector<BYTE> encodePkcs8(EVP_PKEY* key) {
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(
            EVP_PKEY2PKCS8(key), PKCS8_PRIV_KEY_INFO_free);
    unsigned char* encoded = nullptr;
    const int length = info ? i2d_PKCS8_PRIV_KEY_INFO(info.get(), &encoded) : -1;
    if (length <= 0) {
        return {};
    }
    std::vector<BYTE> bytes(encoded, encoded + length);
    OPENSSL_free(encoded);
    return bytes;
}

int makeKeys(const std::string& folder, int count, char** bits) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    for (int i = 0; i < count; ++i) {
        const std::string base = folder + "/rsa-" + bits[i];
        if (std::filesystem::exists(base + ".p8") && std::filesystem::exists(base + ".crt")) {
            continue;
        }
        const unsigned size = static_cast<unsigned>(std::atoi(bits[i]));
        PkeyPtr key(EVP_RSA_gen(size), EVP_PKEY_free);
        if (!key) {
            std::fprintf(stderr, "bench_fixtures: no %u-bit key\n", size);
            return 1;
        }
        const std::string name = "Bench RSA " + std::to_string(size);
        const std::vector<BYTE> certificate =
                makeCertificate(name, key.get(), name, key.get(), static_cast<long>(size));
        if (!writeWhole(base + ".crt", certificate) ||
            !writeWhole(base + ".p8", encodePkcs8(key.get()))) {
            std::fprintf(stderr, "bench_fixtures: cannot write %s\n", base.c_str());
            return 1;
        }
        std::printf("made %s.p8 and %s.crt\n", base.c_str(), base.c_str());
    }
    return 0;
}

int makeStore(const std::string& dataHome, int certificates, const std::string& keyPath) {
    PkeyPtr key(readPrivateKey(keyPath), EVP_PKEY_free);
    if (!key || certificates < 2) {
        std::fprintf(stderr, "bench_fixtures: need a key (%s) and at least two certificates\n",
                     keyPath.c_str());
        return 1;
    }
    const std::string stamp =
            fingerprintInputs({keyPath}, "certificates=" + std::to_string(certificates));
    const auto start = std::chrono::steady_clock::now();
    BenchStore store;
    bool built = false;
    if (stamp.empty() || !ensureStore(dataHome, certificates, key.get(), stamp, &store, &built)) {
        return 1;
    }
    const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %d certificates (%d key entries, %d certificate entries), %s\n",
                dataHome.c_str(), store.certificates, store.keyEntries, store.certificateEntries,
                built ? ("built in " + std::to_string(seconds) + " s").c_str() : "cached");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "keys" && argc > 3) {
        return makeKeys(argv[2], argc - 3, argv + 3);
    }
    if (command == "store" && argc == 5) {
        return makeStore(argv[2], std::atoi(argv[3]), argv[4]);
    }
    std::fprintf(stderr,
                 "usage: bench_fixtures keys DIR BITS... | store DATA_HOME CERTIFICATES KEY\n");
    return 2;
}
