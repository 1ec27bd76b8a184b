package quorvant.jce.provider.ms;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.security.InvalidAlgorithmParameterException;
import java.security.cert.CertStore;
import java.security.cert.Certificate;
import java.security.cert.CollectionCertStoreParameters;
import java.security.cert.X509CertSelector;
import java.security.cert.X509Certificate;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** The CertStore type: a named system store exported, selected through the JCA API. */
class ProviderCertStoreTest {
  @BeforeEach
  void emptyStores() throws IOException {
    ProviderFixtures.emptyStores();
  }

  private static CertStore store(String name) throws Exception {
    return CertStore.getInstance(
        BrisvanderProvider.CERT_STORE, new SystemStoreParameters(name), new BrisvanderProvider());
  }

  @Test
  void exportsTheChainStoresOfAKeyEntry() throws Exception {
    ProviderFixtures.keyStore()
        .setKeyEntry(
            ProviderFixtures.LEAF_ALIAS,
            ProviderFixtures.fixtureKey("key1"),
            null,
            ProviderFixtures.chain("leaf.der", "mid2.der", "mid1.der", "root.der"));
    Set<Certificate> everyone = new HashSet<>();
    for (String name : new String[] {"MY", "CA", "Root"}) {
      everyone.addAll(store(name).getCertificates(null));
    }
    assertEquals(
        new HashSet<>(
            List.of(ProviderFixtures.chain("leaf.der", "mid2.der", "mid1.der", "root.der"))),
        everyone);
    X509CertSelector leafOnly = new X509CertSelector();
    leafOnly.setCertificate(ProviderFixtures.certificate("keyentry/leaf.der"));
    assertEquals(1, store("MY").getCertificates(leafOnly).size());
    assertEquals(0, store("Root").getCertificates(leafOnly).size());
    assertTrue(store("MY").getCRLs(null).isEmpty());
  }

  @Test
  void anEmptyOrUnknownStoreHasNoCertificates() throws Exception {
    assertTrue(store("Nothing Here").getCertificates(null).isEmpty());
    X509Certificate alice = ProviderFixtures.certificate("alias/plain-cn.der");
    ProviderFixtures.keyStore().setCertificateEntry("CN=Alice Example,05", alice);
    assertEquals(List.of(alice), List.copyOf(store("AddressBook").getCertificates(null)));
  }

  @Test
  void takesOnlyAStoreName() {
    assertThrows(
        InvalidAlgorithmParameterException.class,
        () ->
            CertStore.getInstance(
                BrisvanderProvider.CERT_STORE,
                new CollectionCertStoreParameters(),
                new BrisvanderProvider()));
  }
}
