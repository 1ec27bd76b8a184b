package quorvant.jce.provider.ms;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.KeyFactory;
import java.security.KeyStore;
import java.security.cert.Certificate;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.spec.RSAPrivateCrtKeySpec;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;

/** What the provider tests share: an emptied store, fixture keys, keytool and generated keys. */
final class ProviderFixtures {
  static final Path HOME = Paths.get(System.getenv("BRISVANDER_HOME"));
  static final Path FIXTURES = Paths.get(System.getProperty("brisvander.fixtures"));
  static final String LEAF_ALIAS = "CN=Entry Mid Two,54";
  static final String SECOND_ALIAS = "CN=Second Entry,55";
  static final String PASSWORD = "changeit";
  private static final Map<Integer, Path> generated = new HashMap<>();
  private static Path scratch;

  private ProviderFixtures() {}

  static void emptyStores() throws IOException {
    if (Files.exists(HOME)) {
      try (Stream<Path> paths = Files.walk(HOME)) {
        paths.sorted(Comparator.reverseOrder()).forEach(path -> path.toFile().delete());
      }
    }
  }

  static byte[] fixture(String name) throws IOException {
    return Files.readAllBytes(FIXTURES.resolve(name));
  }

  static X509Certificate certificate(String name) throws Exception {
    try (InputStream in = new ByteArrayInputStream(fixture(name))) {
      return (X509Certificate) CertificateFactory.getInstance("X.509").generateCertificate(in);
    }
  }

  static Certificate[] chain(String... names) throws Exception {
    Certificate[] chain = new Certificate[names.length];
    for (int i = 0; i < names.length; i++) {
      chain[i] = certificate("keyentry/" + names[i]);
    }
    return chain;
  }

  /** A fixture key (key1, key2) read from its little-endian numbers. */
  static RSAPrivateCrtKey fixtureKey(String key) throws Exception {
    BigInteger[] numbers = new BigInteger[8];
    String[] names = {"n", "p", "q", "dp", "dq", "qinv", "d", "e"};
    for (int i = 0; i < names.length; i++) {
      byte[] littleEndian = fixture("keyentry/" + key + "/" + names[i] + ".bin");
      numbers[i] = new BigInteger(1, CryptoTest.reversed(littleEndian));
    }
    return (RSAPrivateCrtKey)
        KeyFactory.getInstance("RSA")
            .generatePrivate(
                new RSAPrivateCrtKeySpec(
                    numbers[0], numbers[7], numbers[6], numbers[1], numbers[2], numbers[3],
                    numbers[4], numbers[5]));
  }

  /** Our own KeyStore, loaded the way tools do. */
  static KeyStore keyStore() throws Exception {
    KeyStore store = KeyStore.getInstance(BrisvanderProvider.KEY_STORE, new BrisvanderProvider());
    store.load(null, null);
    return store;
  }

  /** The common name of the self-signed certificate of a generated key. */
  static String commonName(int bits) {
    return "Brisvander " + bits;
  }

  /** The alias the platform gives a generated key's certificate: issuer text, serial in hex. */
  static String generatedAlias(X509Certificate certificate) {
    StringBuilder serial = new StringBuilder();
    for (byte b : certificate.getSerialNumber().toByteArray()) {
      serial.append(String.format("%02X", b));
    }
    return certificate.getIssuerX500Principal().getName() + "," + serial;
  }

  /** A PKCS #12 file holding one RSA key entry "k" of {@code bits}, made once by keytool. */
  static synchronized Path generatedKeyFile(int bits) throws Exception {
    Path file = generated.get(bits);
    if (file == null) {
      if (scratch == null) {
        scratch = Files.createTempDirectory("brisvander-keys");
        scratch.toFile().deleteOnExit();
      }
      file = scratch.resolve("rsa" + bits + ".p12");
      Result result =
          keytool(false, "-genkeypair", "-keyalg", "RSA", "-keysize", String.valueOf(bits),
              "-alias", "k", "-dname", "CN=" + commonName(bits), "-validity", "30",
              "-storetype", "PKCS12", "-keystore", file.toString(), "-storepass", PASSWORD,
              "-keypass", PASSWORD);
      if (result.exitCode != 0) {
        throw new IllegalStateException("keytool -genkeypair failed: " + result.output);
      }
      file.toFile().deleteOnExit();
      generated.put(bits, file);
    }
    return file;
  }

  static KeyStore.PrivateKeyEntry generatedEntry(int bits) throws Exception {
    KeyStore pkcs12 = KeyStore.getInstance("PKCS12");
    try (InputStream in = Files.newInputStream(generatedKeyFile(bits))) {
      pkcs12.load(in, PASSWORD.toCharArray());
    }
    return (KeyStore.PrivateKeyEntry)
        pkcs12.getEntry("k", new KeyStore.PasswordProtection(PASSWORD.toCharArray()));
  }

  static String providerJar() {
    for (String entry : System.getProperty("brisvander.test.classpath").split(":")) {
      if (entry.endsWith("brisvander.jar")) {
        return entry;
      }
    }
    throw new IllegalStateException("no provider jar on brisvander.test.classpath");
  }

  static final class Result {
    final int exitCode;
    final String output;

    Result(int exitCode, String output) {
      this.exitCode = exitCode;
      this.output = output;
    }
  }

  /**
   * Runs keytool as a child, with BRISVANDER_HOME inherited; {@code withProvider} adds the
   * provider jar, class and library.
   */
  static Result keytool(boolean withProvider, String... args) throws Exception {
    List<String> command = new ArrayList<>();
    command.add(Paths.get(System.getProperty("java.home"), "bin", "keytool").toString());
    command.addAll(List.of(args));
    command.add("-J-Duser.language=en");
    command.add("-J-Duser.country=US");
    command.add("-J-Duser.timezone=UTC");
    if (withProvider) {
      command.add("-J-Dbrisvander.library=" + System.getProperty("brisvander.library"));
      command.add("-providerpath");
      command.add(providerJar());
      command.add("-providerclass");
      command.add(BrisvanderProvider.class.getName());
    }
    Process child = new ProcessBuilder(command).redirectErrorStream(true).start();
    child.getOutputStream().close();
    String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
    if (!child.waitFor(120, TimeUnit.SECONDS)) {
      child.destroyForcibly();
      throw new IllegalStateException("keytool did not finish: " + output);
    }
    return new Result(child.exitValue(), output);
  }
}
