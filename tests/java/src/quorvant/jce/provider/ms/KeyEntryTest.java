package quorvant.jce.provider.ms;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import javax.crypto.Cipher;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * Key entries installed from Java and used by alias, under a real JVM with -Xcheck:jni; and the
 * write side under threads, processes and kills.
 */
class KeyEntryTest {
  private static final Path HOME = Paths.get(System.getenv("BRISVANDER_HOME"));
  private static final Path FIXTURES = Paths.get(System.getProperty("brisvander.fixtures"));
  private static final String LEAF_ALIAS = "CN=Entry Mid Two,54";
  private static final String SECOND_ALIAS = "CN=Second Entry,55";

  @BeforeEach
  void emptyStores() throws IOException {
    if (Files.exists(HOME)) {
      try (Stream<Path> paths = Files.walk(HOME)) {
        paths.sorted(Comparator.reverseOrder()).forEach(path -> path.toFile().delete());
      }
    }
  }

  static byte[] fixture(String name) throws IOException {
    return Files.readAllBytes(FIXTURES.resolve(name));
  }

  /** The CRT key info of a fixture key: its numbers as they stand, least significant first. */
  static Object[] crtKeyInfo(String key) throws IOException {
    List<Object> numbers = new ArrayList<>();
    for (String name : new String[] {"n", "p", "q", "dp", "dq", "qinv", "d", "e"}) {
      numbers.add(fixture("keyentry/" + key + "/" + name + ".bin"));
    }
    return numbers.toArray();
  }

  static Object[] chain(String... names) throws IOException {
    List<Object> certificates = new ArrayList<>();
    for (String name : names) {
      certificates.add(fixture("keyentry/" + name));
    }
    return certificates.toArray();
  }

  static X509Certificate certificate(byte[] encoded) throws Exception {
    return (X509Certificate)
        CertificateFactory.getInstance("X.509")
            .generateCertificate(new ByteArrayInputStream(encoded));
  }

  static byte[] reversed(byte[] bytes) {
    byte[] copy = bytes.clone();
    for (int i = 0; i < copy.length / 2; i++) {
      byte swap = copy[i];
      copy[i] = copy[copy.length - 1 - i];
      copy[copy.length - 1 - i] = swap;
    }
    return copy;
  }

  @Test
  void installedKeyEntryIsListedChainedAndSignsAndDecryptsByAlias() throws Exception {
    assertTrue(
        Brisvander.setKeyEntry(
            crtKeyInfo("key1"), null, chain("leaf.der", "mid2.der", "mid1.der", "root.der")));
    assertEquals(List.of(LEAF_ALIAS), Arrays.asList(Brisvander.aliases()));
    assertTrue(Brisvander.isKeyEntry(LEAF_ALIAS));
    byte[][] links = Brisvander.getCertificateChain(LEAF_ALIAS);
    assertEquals(4, links.length);
    assertArrayEquals(fixture("keyentry/root.der"), links[3]);

    X509Certificate leaf = certificate(fixture("keyentry/leaf.der"));
    byte[] data = "signed by alias".getBytes(StandardCharsets.UTF_8);
    byte[] alias = LEAF_ALIAS.getBytes(StandardCharsets.UTF_8);
    byte[] signature = MSSignatureJNI.sign(null, alias, "SHA1", data);
    assertNotNull(signature);
    Signature verifier = Signature.getInstance("SHA1withRSA");
    verifier.initVerify(leaf.getPublicKey());
    verifier.update(data);
    assertTrue(verifier.verify(reversed(signature)), "the JDK reads the signature reversed");

    Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding");
    cipher.init(Cipher.ENCRYPT_MODE, leaf.getPublicKey());
    byte[] secret = "for the key entry only".getBytes(StandardCharsets.UTF_8);
    byte[] plain = MSCipherRSAJNI.decrypt(null, alias, reversed(cipher.doFinal(secret)), true);
    assertArrayEquals(secret, plain);
  }

  // The one shared container: the second installation's key is what the first entry signs with.
  @Test
  void aSecondInstallationReplacesTheKeyOfTheFirst() throws Exception {
    assertTrue(Brisvander.setKeyEntry(crtKeyInfo("key1"), null, chain("leaf.der")));
    assertTrue(Brisvander.setKeyEntry(crtKeyInfo("key2"), "ignored".toCharArray(), chain("other.der")));
    byte[] data = "which key".getBytes(StandardCharsets.UTF_8);
    byte[] signature =
        MSSignatureJNI.sign(null, LEAF_ALIAS.getBytes(StandardCharsets.UTF_8), "SHA1", data);
    Signature verifier = Signature.getInstance("SHA1withRSA");
    verifier.initVerify(certificate(fixture("keyentry/other.der")).getPublicKey());
    verifier.update(data);
    assertTrue(verifier.verify(reversed(signature)));
    assertTrue(Brisvander.isKeyEntry(LEAF_ALIAS));
    assertTrue(Brisvander.isKeyEntry(SECOND_ALIAS));
  }

  @Test
  void certificateEntriesComeAndGo() throws Exception {
    byte[] alice = fixture("alias/plain-cn.der");
    assertTrue(Brisvander.setCertificateEntry(alice));
    assertTrue(Brisvander.isCertificateEntry("CN=Alice Example,05"));
    assertFalse(Brisvander.setCertificateEntry(Arrays.copyOf(alice, alice.length - 1)));
    assertFalse(Brisvander.setCertificateEntry(null));
    assertTrue(Brisvander.deleteEntry("CN=Alice Example,05"));
    assertFalse(Brisvander.deleteEntry("CN=Alice Example,05"));
    assertEquals(0, Brisvander.size());
  }

  /** The alias fixtures: twenty distinct certificates, by alias. */
  static List<byte[]> aliasFixtures() throws IOException {
    List<byte[]> certificates = new ArrayList<>();
    for (String line : Files.readAllLines(FIXTURES.resolve("alias/expected.tsv"))) {
      certificates.add(fixture("alias/" + line.split("\t")[0]));
    }
    return certificates;
  }

  @Test
  void threadsAddingDeletingAndInstallingLoseNothing() throws Exception {
    List<byte[]> certificates = aliasFixtures();
    ExecutorService threads = Executors.newFixedThreadPool(8);
    List<Future<Boolean>> results = new ArrayList<>();
    for (int t = 0; t < certificates.size(); t++) {
      byte[] certificate = certificates.get(t);
      boolean keep = t % 2 == 0;
      results.add(
          threads.submit(
              () -> {
                boolean ok = true;
                for (int round = 0; round < 5; round++) {
                  ok &= Brisvander.setCertificateEntry(certificate);
                  String alias = Brisvander.getCertificateAlias(certificate);
                  ok &= alias != null;
                  if (!keep && alias != null) {
                    ok &= Brisvander.deleteEntry(alias);
                  }
                }
                return ok;
              }));
    }
    for (String[] install : new String[][] {{"key1", "leaf.der"}, {"key2", "other.der"}}) {
      results.add(
          threads.submit(
              () -> {
                boolean ok = true;
                for (int round = 0; round < 5; round++) {
                  ok &= Brisvander.setKeyEntry(crtKeyInfo(install[0]), null, chain(install[1]));
                }
                return ok;
              }));
    }
    threads.shutdown();
    assertTrue(threads.awaitTermination(120, TimeUnit.SECONDS));
    for (Future<Boolean> result : results) {
      assertTrue(result.get());
    }
    Set<String> expected = new HashSet<>(List.of(LEAF_ALIAS, SECOND_ALIAS));
    for (int t = 0; t < certificates.size(); t += 2) {
      expected.add(Brisvander.getCertificateAlias(certificates.get(t)));
    }
    assertEquals(expected, new HashSet<>(Arrays.asList(Brisvander.aliases())));
    assertEquals(certificates.size() / 2 + 2, Brisvander.size());
  }

  /** A child JVM that installs key entries and adds certificate entries until it is killed. */
  public static void main(String[] args) throws Exception {
    List<byte[]> certificates = aliasFixtures();
    for (int round = 0; ; round++) {
      Brisvander.setKeyEntry(
          crtKeyInfo(round % 2 == 0 ? "key1" : "key2"),
          null,
          round % 2 == 0 ? chain("leaf.der", "mid2.der", "mid1.der", "root.der") : chain("other.der"));
      if (args.length > 0) {
        byte[] certificate = certificates.get(round % certificates.size());
        Brisvander.setCertificateEntry(certificate);
        if (round % 3 == 0) {
          Brisvander.deleteEntry(Brisvander.getCertificateAlias(certificate));
        }
      }
    }
  }

  private static Process startChild(String... args) throws IOException {
    return ChildJvm.startDiscardingOutput(KeyEntryTest.class, args);
  }

  /** Every certificate file in the store folders reads back as an entry of its store. */
  private static void assertStoresWhole() throws IOException {
    for (String store : new String[] {"MY", "ADDRESSBOOK", "CA", "ROOT"}) {
      Path folder = HOME.resolve("stores").resolve(store);
      if (!Files.isDirectory(folder)) {
        continue;
      }
      long files;
      try (Stream<Path> listing = Files.list(folder)) {
        files = listing.filter(path -> path.getFileName().toString().matches("[0-9A-F]{40}\\.cer")).count();
      }
      byte[][] exported = MSCertStoreJNI.getAllCertificates(store);
      assertEquals(files, exported == null ? 0 : exported.length, store + " holds a torn file");
    }
  }

  @Test
  void writersKilledAtAnyMomentLeaveWholeStores() throws Exception {
    for (int round = 0; round < 6; round++) {
      Process child = startChild("entries");
      Thread.sleep(300 + 170L * round);
      child.destroyForcibly().waitFor(30, TimeUnit.SECONDS);
      assertStoresWhole();
    }
    // What the installations did before each kill stays, and the entries still work.
    String[] aliases = Brisvander.aliases();
    for (String alias : aliases == null ? new String[0] : aliases) {
      assertNotNull(Brisvander.getCertificate(alias), alias);
    }
  }

  @Test
  void twoProcessesWritingAtOnceLeaveWholeStores() throws Exception {
    Process first = startChild("entries");
    Process second = startChild("entries");
    // Let both get going: wait, boundedly, for a first installation to land.
    for (int wait = 0; wait < 300 && !anyKeyEntry(); wait++) {
      Thread.sleep(100);
    }
    Thread.sleep(1000);
    first.destroyForcibly().waitFor(30, TimeUnit.SECONDS);
    second.destroyForcibly().waitFor(30, TimeUnit.SECONDS);
    assertStoresWhole();
    assertTrue(anyKeyEntry());
  }

  private static boolean anyKeyEntry() {
    return Brisvander.isKeyEntry(LEAF_ALIAS) || Brisvander.isKeyEntry(SECOND_ALIAS);
  }
}
