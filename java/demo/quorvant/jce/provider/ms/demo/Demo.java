package quorvant.jce.provider.ms.demo;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.security.PublicKey;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.util.Arrays;
import javax.crypto.Cipher;
import quorvant.jce.provider.ms.Brisvander;
import quorvant.jce.provider.ms.MSCertStoreJNI;
import quorvant.jce.provider.ms.MSCipherRSAJNI;
import quorvant.jce.provider.ms.MSSignatureJNI;

/**
 * A short tour of the provider's natives on the emulated store: a key entry installed with its
 * chain, a certificate entry, the listing, signing and decryption by alias, and the clean-up.
 */
public final class Demo {
  private static final String KEYS = "/quorvant/jce/provider/ms/demo/keyentry/";

  private Demo() {}

  public static void main(String[] args) throws Exception {
    System.out.println("Brisvander demo");
    System.out.println("  library: " + System.getProperty("brisvander.library", "(java.library.path)"));
    say("The native side prints its own lines; printString keeps every character:");
    Brisvander.printString("  Grüße from the native side.");

    Object[] key = new Object[8];
    String[] numbers = {"n", "p", "q", "dp", "dq", "qinv", "d", "e"};
    for (int i = 0; i < numbers.length; i++) {
      key[i] = resource("key1/" + numbers[i] + ".bin");
    }
    Object[] chain = {
      resource("leaf.der"), resource("mid2.der"), resource("mid1.der"), resource("root.der")
    };
    say("Installing a key entry (leaf, two intermediates, root): " + Brisvander.setKeyEntry(key, null, chain));
    String alias = "CN=Entry Mid Two,54";  // the issuer text and serial of the leaf
    byte[] other = resource("other.der");
    say("Adding a certificate entry: " + Brisvander.setCertificateEntry(other));
    say("Entries: " + Brisvander.size() + ", aliases " + Arrays.toString(Brisvander.aliases()));
    say("  isKeyEntry(" + alias + ") = " + Brisvander.isKeyEntry(alias)
        + ", chain of " + Brisvander.getCertificateChain(alias).length);
    say("  \"Root\" now holds " + MSCertStoreJNI.getAllCertificates("Root").length + " certificate(s)");

    PublicKey publicKey = CertificateFactory.getInstance("X.509")
        .generateCertificate(new ByteArrayInputStream((byte[]) chain[0]))
        .getPublicKey();
    byte[] data = "Hello, key entry".getBytes(StandardCharsets.UTF_8);
    byte[] aliasBytes = alias.getBytes(StandardCharsets.UTF_8);
    byte[] signature = MSSignatureJNI.sign(null, aliasBytes, "SHA1", data);
    Signature verifier = Signature.getInstance("SHA1withRSA");
    verifier.initVerify(publicKey);
    verifier.update(data);
    say("Signed by alias (" + signature.length + " bytes, least significant first); the JDK"
        + " verifies it reversed: " + verifier.verify(reversed(signature)));

    Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding");
    cipher.init(Cipher.ENCRYPT_MODE, publicKey);
    byte[] plain = MSCipherRSAJNI.decrypt(null, aliasBytes, reversed(cipher.doFinal(data)), true);
    say("Encrypted by the JDK, decrypted by alias: \"" + new String(plain, StandardCharsets.UTF_8) + "\"");
    say("Key length " + MSCipherRSAJNI.getKeyLength(null, aliasBytes, false) + " bits");

    say("Deleting both entries: " + Brisvander.deleteEntry(alias) + ", "
        + Brisvander.deleteEntry(Brisvander.getCertificateAlias(other)));
    say("Aliases now: " + Arrays.toString(Brisvander.aliases())
        + " (the key stays in its container, the chain in \"CA\" and \"Root\")");
  }

  private static void say(String line) {
    System.out.println(line);
    System.out.flush();
  }

  private static byte[] resource(String name) throws IOException {
    try (InputStream in = Demo.class.getResourceAsStream(KEYS + name)) {
      if (in == null) {
        throw new IOException("missing demo resource " + name);
      }
      return in.readAllBytes();
    }
  }

  private static byte[] reversed(byte[] bytes) {
    byte[] copy = new byte[bytes.length];
    for (int i = 0; i < bytes.length; i++) {
      copy[i] = bytes[bytes.length - 1 - i];
    }
    return copy;
  }
}
