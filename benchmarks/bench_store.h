// Emulated stores for the benchmarks: N certificates, half of them key entries of "MY" and half
// certificate entries of "AddressBook", built once through the emulation and kept between runs.
#pragma once

#include <string>
#include <vector>

#include <openssl/evp.h>

#include "platform/api.h"

// What a benchmark needs to know about a built store, kept beside it in `manifest.txt`.
struct BenchStore {
    std::string dataHome;  // XDG_DATA_HOME; the emulation's root is dataHome + "/brisvander"
    int certificates = 0;  // in both stores
    int keyEntries = 0;    // of "MY", the signing entry among them
    int certificateEntries = 0;
    // The key entry whose container holds the signing key: the last one a walk of "MY" reaches
    // (`signingPosition` of `keyEntries`, 1-based, as enumerated right after the build).
    std::string signingAlias;
    int signingPosition = 0;
    std::string missingAlias;  // names no entry: a lookup of it walks both stores whole
    std::string stamp;
};

// pointEmulationAt makes `dataHome` the emulation's data folder the way a user's session has
// it: XDG_DATA_HOME set (made absolute) and BRISVANDER_HOME unset, so that no fault file is
// consulted. Returns false when the emulation's root folder is not then inside `dataHome`.
bool pointEmulationAt(const std::string& dataHome);

// fingerprintInputs is the hex SHA-256 over this program's own executable (which carries the
// emulation's file formats), the files named and `recipe`: what a cached store depends on.
// Returns the empty string when a file cannot be read.
std::string fingerprintInputs(const std::vector<std::string>& files, const std::string& recipe);

// readPrivateKey reads an RSA private key from a DER PKCS #8 file. Returns null on failure; the
// caller frees it with EVP_PKEY_free.
EVP_PKEY* readPrivateKey(const std::string& path);

// ensureStore gives the store of `certificates` certificates in `dataHome`: the one already
// there when its manifest carries `stamp`, else a fresh one, built in a sibling folder and moved
// into place whole. The signing entry's container ("bench") holds `signingKey`; every other key
// entry names the same container. Leaves the emulation pointed at `dataHome`. Returns false,
// after printing why to standard error, when the store cannot be built, and when `dataHome`
// holds anything but a store of ours, which it leaves alone.
bool ensureStore(const std::string& dataHome, int certificates, EVP_PKEY* signingKey,
                 const std::string& stamp, BenchStore* out, bool* outBuilt);

// findStore reads the manifest of a store that another program built in `dataHome`, whatever
// its stamp, and points the emulation at it. Returns false when there is none.
bool findStore(const std::string& dataHome, BenchStore* out);
