// The read side of the key store: counting, listing, reverse lookup, chains and store export.
#pragma once

#include <string>
#include <vector>

#include "platform/api.h"

// countEntries counts the key store's entries: the certificates of "MY" with key-provider
// information of a key entry's provider type (the container is not opened), then every
// certificate of "AddressBook". A "MY" that does not open gives 0 outright. Prints nothing.
int countEntries();

// listAliases gives the alias (ANSI) of every entry: the key entries of "MY" in enumeration
// order, then every certificate of "AddressBook"; a certificate in both is listed twice. A store
// that does not open holds nothing.
std::vector<std::string> listAliases();

// containsEntryAlias tells whether some entry's alias reads exactly as `alias` (Java's modified
// UTF-8).
bool containsEntryAlias(const char* alias);

// findCertificateAlias finds the first entry, key entries of "MY" before "AddressBook", whose
// certificate has exactly the encoding `encoded`, and gives its alias. Returns false for an
// empty encoding (no store is opened) and when "MY" does not open ("AddressBook" is then not
// searched either).
bool findCertificateAlias(const BYTE* encoded, DWORD length, std::string* outAlias);

// The chain of a key entry holds at most this many certificates: the entry's and nine issuers.
constexpr size_t kMaxChainLength = 10;

// buildCertificateChain gives the certificate `encoded` and its issuers, towards the root: the
// issuers found one after the other in "CA", then one issuer asked of "Root". The walk in "CA"
// also stops at a certificate already in the chain (issuers that loop) and when the chain is
// full; "Root" is asked only while there is room. Returns false, with no partial chain, when the
// encoding forms no certificate or "CA" or "Root" does not open.
bool buildCertificateChain(const BYTE* encoded, DWORD length,
                           std::vector<std::vector<BYTE>>* outChain);

// An exported store: `count` certificates were counted in a first pass; `certificates` holds
// what a second pass found, never more than counted (fewer when the store shrank meanwhile).
struct StoreExport {
    size_t count = 0;
    std::vector<std::vector<BYTE>> certificates;
};

// exportStore exports every certificate of the system store `name`, opened by that name as
// it is, in enumeration order.
// Returns false when the store does not open for counting or holds none.
bool exportStore(const char* name, StoreExport* out);
