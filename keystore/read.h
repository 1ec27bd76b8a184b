// The read side of the key store.
#pragma once

// countEntries counts the key store's entries: the certificates of "MY" with key-provider
// information of a key entry's provider type (the container is not opened), then every
// certificate of "AddressBook". A "MY" that does not open gives 0 outright. Prints nothing.
int countEntries();
