package quorvant.jce.provider.ms;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvant.jce.provider.ms.ProviderFixtures.PASSWORD;
import static quorvant.jce.provider.ms.ProviderFixtures.keytool;

import java.io.IOException;
import java.security.KeyStore;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** keytool against the key store type, as a child process on the same emulated store. */
class KeytoolTest {
  private static final String ALICE = "CN=Alice Example,05";

  @BeforeEach
  void emptyStores() throws IOException {
    ProviderFixtures.emptyStores();
  }

  /** keytool on our key store: the store is the live one, so it has no file ("NONE"). */
  private static ProviderFixtures.Result onStore(String... args) throws Exception {
    List<String> all = new ArrayList<>(List.of(args));
    all.addAll(
        List.of(
            "-storetype", BrisvanderProvider.KEY_STORE, "-keystore", "NONE", "-storepass",
            "ignored"));
    return keytool(true, all.toArray(new String[0]));
  }

  private static String succeeded(ProviderFixtures.Result result) {
    assertEquals(0, result.exitCode, result.output);
    return result.output;
  }

  @Test
  void importsListsAndDeletesACertificateEntry() throws Exception {
    String file = ProviderFixtures.FIXTURES.resolve("alias/plain-cn.der").toString();
    assertTrue(
        succeeded(onStore("-importcert", "-noprompt", "-alias", ALICE, "-file", file))
            .contains("Certificate was added to keystore"));
    assertTrue(ProviderFixtures.keyStore().isCertificateEntry(ALICE));

    String listing = succeeded(onStore("-list"));
    // keytool prints the type upper-cased.
    assertTrue(
        listing.contains("Keystore type: " + BrisvanderProvider.KEY_STORE.toUpperCase(Locale.ROOT)),
        listing);
    assertTrue(listing.contains("Keystore provider: " + BrisvanderProvider.NAME), listing);
    assertTrue(listing.contains("Your keystore contains 1 entry"), listing);
    assertTrue(listing.contains(ALICE + ", "), listing);
    assertTrue(listing.contains("trustedCertEntry"), listing);

    String verbose = succeeded(onStore("-list", "-v", "-alias", ALICE));
    for (String line :
        new String[] {
          "Alias name: " + ALICE, "Entry type: trustedCertEntry", "Owner: CN=Alice Example",
          "Serial number: 5"
        }) {
      assertTrue(verbose.contains(line), line + " in\n" + verbose);
    }

    succeeded(onStore("-delete", "-alias", ALICE));
    assertFalse(ProviderFixtures.keyStore().containsAlias(ALICE));
    assertTrue(succeeded(onStore("-list")).contains("Your keystore contains 0 entries"));
  }

  @Test
  void importsAKeyEntryWithItsChainFromPkcs12() throws Exception {
    KeyStore.PrivateKeyEntry generated = ProviderFixtures.generatedEntry(2048);
    String alias = ProviderFixtures.generatedAlias((X509Certificate) generated.getCertificate());
    String output =
        succeeded(
            keytool(true, "-importkeystore", "-noprompt",
                "-srckeystore", ProviderFixtures.generatedKeyFile(2048).toString(),
                "-srcstoretype", "PKCS12", "-srcstorepass", PASSWORD, "-srcalias", "k",
                "-destalias", alias, "-destkeystore", "NONE",
                "-deststoretype", BrisvanderProvider.KEY_STORE, "-deststorepass", "ignored"));
    assertFalse(output.contains("Problem"), output);
    assertTrue(ProviderFixtures.keyStore().isKeyEntry(alias));

    String verbose = succeeded(onStore("-list", "-v", "-alias", alias));
    for (String line :
        new String[] {
          "Alias name: " + alias, "Entry type: PrivateKeyEntry", "Certificate chain length: 1",
          "Owner: CN=" + ProviderFixtures.commonName(2048), "2048-bit RSA key"
        }) {
      assertTrue(verbose.contains(line), line + " in\n" + verbose);
    }
    String listing = succeeded(onStore("-list"));
    assertTrue(listing.contains(alias + ", "), listing);
    assertTrue(listing.contains("PrivateKeyEntry"), listing);

    succeeded(onStore("-delete", "-alias", alias));
    assertFalse(ProviderFixtures.keyStore().containsAlias(alias));
  }

  // Without -destalias the entry still goes in, and keytool passes on the alias it really has.
  @Test
  void anImportUnderTheSourceAliasNamesTheRealOne() throws Exception {
    KeyStore.PrivateKeyEntry generated = ProviderFixtures.generatedEntry(1024);
    String alias = ProviderFixtures.generatedAlias((X509Certificate) generated.getCertificate());
    ProviderFixtures.Result result =
        keytool(true, "-importkeystore", "-noprompt",
            "-srckeystore", ProviderFixtures.generatedKeyFile(1024).toString(),
            "-srcstoretype", "PKCS12", "-srcstorepass", PASSWORD, "-destkeystore", "NONE",
            "-deststoretype", BrisvanderProvider.KEY_STORE, "-deststorepass", "ignored");
    assertTrue(result.output.contains("\"" + alias + "\""), result.output);
    assertTrue(ProviderFixtures.keyStore().isKeyEntry(alias));
  }

  // -addprovider looks on the class path, not on -providerpath.
  @Test
  void addProviderFindsItThroughServiceLoader() throws Exception {
    ProviderFixtures.keyStore()
        .setCertificateEntry(ALICE, ProviderFixtures.certificate("alias/plain-cn.der"));
    String listing =
        succeeded(
            keytool(false, "-list", "-addprovider", BrisvanderProvider.NAME,
                "-J-cp", "-J" + ProviderFixtures.providerJar(),
                "-J-Dbrisvander.library=" + System.getProperty("brisvander.library"),
                "-storetype", BrisvanderProvider.KEY_STORE, "-keystore", "NONE",
                "-storepass", "ignored"));
    assertTrue(listing.contains("Your keystore contains 1 entry"), listing);
    assertTrue(listing.contains(ALICE + ", "), listing);
  }
}
