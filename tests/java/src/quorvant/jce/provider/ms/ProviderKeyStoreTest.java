package quorvant.jce.provider.ms;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvant.jce.provider.ms.ProviderFixtures.LEAF_ALIAS;
import static quorvant.jce.provider.ms.ProviderFixtures.SECOND_ALIAS;
import static quorvant.jce.provider.ms.ProviderFixtures.certificate;
import static quorvant.jce.provider.ms.ProviderFixtures.chain;
import static quorvant.jce.provider.ms.ProviderFixtures.fixtureKey;
import static quorvant.jce.provider.ms.ProviderFixtures.keyStore;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.Provider;
import java.security.Security;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAKey;
import java.security.interfaces.RSAPublicKey;
import java.util.Collections;
import java.util.List;
import java.util.ServiceLoader;
import java.util.stream.Collectors;
import java.util.stream.StreamSupport;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** The KeyStore type through the JCA API: the live store, its entries and their key handles. */
class ProviderKeyStoreTest {
  @BeforeEach
  void emptyStores() throws IOException {
    ProviderFixtures.emptyStores();
  }

  @Test
  void anEmptyStoreAnswersNothing() throws Exception {
    KeyStore store = keyStore();
    assertEquals(0, store.size());
    assertFalse(store.aliases().hasMoreElements());
    assertFalse(store.containsAlias(LEAF_ALIAS));
    assertNull(store.getCertificate(LEAF_ALIAS));
    assertNull(store.getCertificateChain(LEAF_ALIAS));
    assertNull(store.getKey(LEAF_ALIAS, null));
    assertNull(store.getCreationDate(LEAF_ALIAS));
    assertNull(store.getEntry(LEAF_ALIAS, null));
    assertNull(store.getCertificateAlias(certificate("keyentry/leaf.der")));
    store.deleteEntry(LEAF_ALIAS);
  }

  @Test
  void loadsAndStoresOnlyWithoutAStream() throws Exception {
    KeyStore store = KeyStore.getInstance(BrisvanderProvider.KEY_STORE, new BrisvanderProvider());
    store.load(null, "any password".toCharArray());
    store.load(null);
    store.store(null, "ignored".toCharArray());
    IOException load =
        assertThrows(
            IOException.class, () -> store.load(new ByteArrayInputStream(new byte[1]), null));
    assertTrue(load.getMessage().contains("null stream"), load.getMessage());
    IOException save =
        assertThrows(IOException.class, () -> store.store(new ByteArrayOutputStream(), null));
    assertTrue(save.getMessage().contains("no file form"), save.getMessage());
  }

  @Test
  void aKeyEntryComesBackWithItsChainAndAHandle() throws Exception {
    KeyStore store = keyStore();
    Certificate[] chain = chain("leaf.der", "mid2.der", "mid1.der", "root.der");
    store.setKeyEntry(LEAF_ALIAS, fixtureKey("key1"), "ignored".toCharArray(), chain);
    assertEquals(List.of(LEAF_ALIAS), Collections.list(store.aliases()));
    assertEquals(1, store.size());
    assertTrue(store.containsAlias(LEAF_ALIAS));
    assertTrue(store.isKeyEntry(LEAF_ALIAS));
    assertFalse(store.isCertificateEntry(LEAF_ALIAS));
    assertArrayEquals(chain, store.getCertificateChain(LEAF_ALIAS));
    assertEquals(chain[0], store.getCertificate(LEAF_ALIAS));
    assertEquals(LEAF_ALIAS, store.getCertificateAlias(chain[0]));
    assertEquals(((X509Certificate) chain[0]).getNotBefore(), store.getCreationDate(LEAF_ALIAS));

    RSAKey key = assertInstanceOf(RSAKey.class, store.getKey(LEAF_ALIAS, "any".toCharArray()));
    assertEquals(((RSAPublicKey) chain[0].getPublicKey()).getModulus(), key.getModulus());
    BrisvanderPrivateKey handle = (BrisvanderPrivateKey) key;
    assertEquals(LEAF_ALIAS, handle.getAlias());
    assertEquals("RSA", handle.getAlgorithm());
    assertNull(handle.getEncoded());

    for (KeyStore.ProtectionParameter protection :
        new KeyStore.ProtectionParameter[] {
          null, new KeyStore.PasswordProtection("whatever".toCharArray())
        }) {
      KeyStore.PrivateKeyEntry entry =
          assertInstanceOf(KeyStore.PrivateKeyEntry.class, store.getEntry(LEAF_ALIAS, protection));
      assertEquals(handle, entry.getPrivateKey());
      assertArrayEquals(chain, entry.getCertificateChain());
    }
    assertTrue(store.entryInstanceOf(LEAF_ALIAS, KeyStore.PrivateKeyEntry.class));
  }

  @Test
  void setEntryWithAPasswordInstallsTheKey() throws Exception {
    KeyStore store = keyStore();
    store.setEntry(
        SECOND_ALIAS,
        new KeyStore.PrivateKeyEntry(fixtureKey("key2"), chain("other.der")),
        new KeyStore.PasswordProtection("ignored".toCharArray()));
    assertTrue(store.isKeyEntry(SECOND_ALIAS));
  }

  @Test
  void anotherAliasInstallsAndNamesTheRealOne() throws Exception {
    KeyStore store = keyStore();
    KeyStoreException wrong =
        assertThrows(
            KeyStoreException.class,
            () -> store.setKeyEntry("mykey", fixtureKey("key1"), null, chain("leaf.der")));
    assertTrue(wrong.getMessage().contains("\"" + LEAF_ALIAS + "\""), wrong.getMessage());
    assertTrue(store.isKeyEntry(LEAF_ALIAS));
    assertFalse(store.containsAlias("mykey"));

    Certificate alice = certificate("alias/plain-cn.der");
    KeyStoreException wrongCertificate =
        assertThrows(KeyStoreException.class, () -> store.setCertificateEntry("alice", alice));
    assertTrue(wrongCertificate.getMessage().contains("\"CN=Alice Example,05\""));
    assertTrue(store.isCertificateEntry("CN=Alice Example,05"));
  }

  @Test
  void keyEntriesTheStoreCannotTakeAreRefusedWithTheReason() throws Exception {
    KeyStore store = keyStore();
    Certificate[] leaf = chain("leaf.der");
    KeyPairGenerator ec = KeyPairGenerator.getInstance("EC");
    ec.initialize(256);
    String[][] cases = {
      {"wrong key type", "RSAPrivateCrtKey"},
      {"another key's chain", "not of this private key"},
    };
    for (String[] each : cases) {
      KeyStoreException refused =
          assertThrows(
              KeyStoreException.class,
              () -> {
                switch (each[0]) {
                  case "wrong key type":
                    store.setKeyEntry(LEAF_ALIAS, ec.generateKeyPair().getPrivate(), null, leaf);
                    break;
                  default:
                    store.setKeyEntry(LEAF_ALIAS, fixtureKey("key2"), null, leaf);
                }
              },
              each[0]);
      assertTrue(refused.getMessage().contains(each[1]), each[0] + ": " + refused.getMessage());
    }
    assertThrows(KeyStoreException.class, () -> store.setKeyEntry(LEAF_ALIAS, new byte[1], leaf));
    assertEquals(0, store.size());
  }

  @Test
  void certificateEntriesComeAndGo() throws Exception {
    KeyStore store = keyStore();
    Certificate alice = certificate("alias/plain-cn.der");
    String alias = "CN=Alice Example,05";
    store.setCertificateEntry(alias, alice);
    assertTrue(store.isCertificateEntry(alias));
    assertFalse(store.isKeyEntry(alias));
    assertEquals(alice, store.getCertificate(alias));
    assertNull(store.getCertificateChain(alias));
    assertNull(store.getKey(alias, null));
    assertNotNull(store.getCreationDate(alias));
    KeyStore.TrustedCertificateEntry entry =
        assertInstanceOf(KeyStore.TrustedCertificateEntry.class, store.getEntry(alias, null));
    assertEquals(alice, entry.getTrustedCertificate());

    store.setKeyEntry(LEAF_ALIAS, fixtureKey("key1"), null, chain("leaf.der"));
    assertThrows(
        KeyStoreException.class,
        () -> store.setCertificateEntry(LEAF_ALIAS, certificate("keyentry/leaf.der")),
        "a key entry's alias");
    assertEquals(2, store.size());
    store.deleteEntry(alias);
    assertFalse(store.containsAlias(alias));
    store.deleteEntry(alias);
    store.deleteEntry(LEAF_ALIAS);
    assertEquals(0, store.size());
  }

  @Test
  void theProviderIsFoundByServiceLoaderAndByName() throws Exception {
    List<String> names =
        StreamSupport.stream(ServiceLoader.load(Provider.class).spliterator(), false)
            .map(Provider::getName)
            .collect(Collectors.toList());
    assertTrue(names.contains(BrisvanderProvider.NAME), names.toString());
    Security.addProvider(new BrisvanderProvider());
    try {
      KeyStore store = KeyStore.getInstance(BrisvanderProvider.KEY_STORE);
      assertEquals(BrisvanderProvider.NAME, store.getProvider().getName());
    } finally {
      Security.removeProvider(BrisvanderProvider.NAME);
    }
  }
}
