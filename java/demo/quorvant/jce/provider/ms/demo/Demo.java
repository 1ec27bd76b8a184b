package quorvant.jce.provider.ms.demo;

import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Security;
import java.security.Signature;
import java.security.cert.X509Certificate;
import java.util.Collections;
import java.util.concurrent.TimeUnit;
import javax.crypto.Cipher;
import quorvant.jce.provider.ms.BrisvanderProvider;

/**
 * A short tour of the provider on a throw-away emulated store: a key entry installed from a fresh
 * key pair, the listing, a signature the JDK verifies, a JDK cipher text decrypted by the entry,
 * and the clean-up.
 */
public final class Demo {
  private static final char[] PASSWORD = "demo-password".toCharArray();

  private Demo() {}

  public static void main(String[] args) throws Exception {
    System.out.println(
        "Brisvander provider demo (store: " + System.getenv("BRISVANDER_HOME") + ")");
    Security.addProvider(new BrisvanderProvider());
    step("Registered the provider \"" + BrisvanderProvider.NAME + "\"");

    // The JDK has no API to make a certificate, so keytool makes the pair and its self-signed one.
    Path folder = Files.createTempDirectory("brisvander-demo");
    Path file = folder.resolve("fresh.p12");
    keytool("-genkeypair", "-keyalg", "RSA", "-keysize", "2048", "-alias", "fresh",
        "-dname", "CN=Brisvander Demo", "-validity", "2", "-storetype", "PKCS12",
        "-keystore", file.toString(), "-storepass", new String(PASSWORD));
    KeyStore pkcs12 = KeyStore.getInstance("PKCS12");
    try (InputStream in = Files.newInputStream(file)) {
      pkcs12.load(in, PASSWORD);
    }
    KeyStore.PrivateKeyEntry fresh =
        (KeyStore.PrivateKeyEntry)
            pkcs12.getEntry("fresh", new KeyStore.PasswordProtection(PASSWORD));
    X509Certificate certificate = (X509Certificate) fresh.getCertificate();
    step("Generated a 2048-bit RSA key pair and its certificate "
        + certificate.getSubjectX500Principal());

    KeyStore store = KeyStore.getInstance(BrisvanderProvider.KEY_STORE);
    store.load(null, null);
    String alias = platformAlias(certificate);
    store.setKeyEntry(alias, fresh.getPrivateKey(), null, fresh.getCertificateChain());
    step("Installed it as key entry \"" + alias + "\" in " + BrisvanderProvider.KEY_STORE);

    keytool("-genkeypair", "-keyalg", "RSA", "-keysize", "2048", "-alias", "contact",
        "-dname", "CN=Demo Contact", "-validity", "2", "-storetype", "PKCS12",
        "-keystore", file.toString(), "-storepass", new String(PASSWORD));
    try (InputStream in = Files.newInputStream(file)) {
      pkcs12.load(in, PASSWORD);
    }
    X509Certificate contact = (X509Certificate) pkcs12.getCertificate("contact");
    String contactAlias = platformAlias(contact);
    store.setCertificateEntry(contactAlias, contact);
    step("Added a certificate entry \"" + contactAlias + "\" (a contact's certificate only)");

    for (String each : Collections.list(store.aliases())) {
      step("Listed: " + each + (store.isKeyEntry(each) ? " (key entry, chain of "
          + store.getCertificateChain(each).length + ")" : " (certificate entry)"));
    }

    PrivateKey handle = (PrivateKey) store.getKey(alias, null);
    byte[] data = "Hello from the key entry".getBytes(StandardCharsets.UTF_8);
    Signature signer = Signature.getInstance("SHA1withRSA");
    signer.initSign(handle);
    signer.update(data);
    byte[] signature = signer.sign();
    Signature jdk = Signature.getInstance("SHA1withRSA", "SunRsaSign");
    jdk.initVerify(certificate);
    jdk.update(data);
    check(jdk.verify(signature), "Signed with the key entry (by " + signer.getProvider().getName()
        + "), verified by the JDK's SunRsaSign");

    Cipher encrypt = Cipher.getInstance("RSA/ECB/PKCS1Padding", "SunJCE");
    encrypt.init(Cipher.ENCRYPT_MODE, certificate.getPublicKey());
    Cipher decrypt = Cipher.getInstance("RSA/ECB/PKCS1Padding");
    decrypt.init(Cipher.DECRYPT_MODE, handle);
    String plain = new String(decrypt.doFinal(encrypt.doFinal(data)), StandardCharsets.UTF_8);
    check(plain.equals(new String(data, StandardCharsets.UTF_8)),
        "Encrypted by the JDK's SunJCE, decrypted with the key entry: \"" + plain + "\"");

    store.deleteEntry(alias);
    store.deleteEntry(contactAlias);
    Files.delete(file);
    Files.delete(folder);
    check(!store.containsAlias(alias) && !store.containsAlias(contactAlias),
        "Cleaned up: both entries deleted, " + store.size() + " entries left, key file removed");
    System.out.println("All steps done.");
  }

  /** The platform's alias for a one-name issuer: the name, a comma, the serial in hex. */
  private static String platformAlias(X509Certificate certificate) {
    StringBuilder serial = new StringBuilder();
    for (byte b : certificate.getSerialNumber().toByteArray()) {
      serial.append(String.format("%02X", b));
    }
    return certificate.getIssuerX500Principal().getName() + "," + serial;
  }

  private static void keytool(String... args) throws Exception {
    String[] command = new String[args.length + 1];
    command[0] = Paths.get(System.getProperty("java.home"), "bin", "keytool").toString();
    System.arraycopy(args, 0, command, 1, args.length);
    Process child = new ProcessBuilder(command).redirectErrorStream(true).start();
    String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
    if (!child.waitFor(120, TimeUnit.SECONDS) || child.exitValue() != 0) {
      throw new IllegalStateException("keytool failed: " + output);
    }
  }

  private static void step(String line) {
    System.out.println("[done] " + line);
    System.out.flush();
  }

  private static void check(boolean ok, String line) {
    if (!ok) {
      throw new IllegalStateException("[FAILED] " + line);
    }
    step(line);
  }
}
