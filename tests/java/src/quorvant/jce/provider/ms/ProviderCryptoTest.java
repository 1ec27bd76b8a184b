package quorvant.jce.provider.ms;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static quorvant.jce.provider.ms.ProviderFixtures.generatedAlias;
import static quorvant.jce.provider.ms.ProviderFixtures.generatedEntry;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.Security;
import java.security.Signature;
import java.security.SignatureException;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;
import java.util.stream.Stream;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * Signature and Cipher through the JCA API, with key entries and plain CRT keys, checked against
 * the JDK's own RSA at 1024, 2048 and 4096 bits.
 */
class ProviderCryptoTest {
  private static final Provider PROVIDER = new BrisvanderProvider();
  private static final byte[] DATA = "signed through the JCA".getBytes(StandardCharsets.UTF_8);

  @BeforeAll
  static void register() {
    Security.addProvider(PROVIDER);
  }

  @AfterAll
  static void unregister() {
    Security.removeProvider(PROVIDER.getName());
  }

  @BeforeEach
  void emptyStores() throws IOException {
    ProviderFixtures.emptyStores();
  }

  /** Installs the generated key of {@code bits} and answers its entry's handle. */
  private static PrivateKey installed(KeyStore.PrivateKeyEntry generated) throws Exception {
    KeyStore store = ProviderFixtures.keyStore();
    String alias = generatedAlias((X509Certificate) generated.getCertificate());
    store.setKeyEntry(alias, generated.getPrivateKey(), null, generated.getCertificateChain());
    return (PrivateKey) store.getKey(alias, null);
  }

  static Stream<Arguments> sizesAndDigests() {
    return Stream.of(1024, 2048, 4096)
        .flatMap(
            bits ->
                Stream.of("SHA1withRSA", "MD5withRSA", "MD2withRSA")
                    .map(algorithm -> Arguments.of(bits, algorithm)));
  }

  @ParameterizedTest(name = "{0} bits, {1}")
  @MethodSource("sizesAndDigests")
  void signaturesAgreeWithTheJdk(int bits, String algorithm) throws Exception {
    KeyStore.PrivateKeyEntry generated = generatedEntry(bits);
    X509Certificate certificate = (X509Certificate) generated.getCertificate();
    for (Key key : new Key[] {installed(generated), generated.getPrivateKey()}) {
      Signature signer = Signature.getInstance(algorithm, PROVIDER);
      signer.initSign((PrivateKey) key);
      signer.update(DATA);
      byte[] signature = signer.sign();
      assertEquals(bits / 8, signature.length);
      Signature jdk = Signature.getInstance(algorithm, "SunRsaSign");
      jdk.initVerify(certificate);
      jdk.update(DATA);
      assertTrue(jdk.verify(signature), "the JDK verifies a signature by " + key);
    }

    Signature jdk = Signature.getInstance(algorithm, "SunRsaSign");
    jdk.initSign(generated.getPrivateKey());
    jdk.update(DATA);
    byte[] signature = jdk.sign();
    Signature verifier = Signature.getInstance(algorithm, PROVIDER);
    verifier.initVerify(certificate);
    verifier.update(DATA);
    assertTrue(verifier.verify(signature));
    verifier.initVerify(certificate.getPublicKey());
    byte[] other = DATA.clone();
    other[0] ^= 1;
    verifier.update(other);
    assertFalse(verifier.verify(signature));
  }

  @ParameterizedTest(name = "{0} bits")
  @ValueSource(ints = {1024, 2048, 4096})
  void cipherTextsAgreeWithTheJdk(int bits) throws Exception {
    KeyStore.PrivateKeyEntry generated = generatedEntry(bits);
    RSAPublicKey publicKey = (RSAPublicKey) generated.getCertificate().getPublicKey();
    byte[] secret = Arrays.copyOf(DATA, bits / 8 - 11);
    Cipher jdk = Cipher.getInstance("RSA/ECB/PKCS1Padding", "SunJCE");
    jdk.init(Cipher.ENCRYPT_MODE, publicKey);
    byte[] jdkCipherText = jdk.doFinal(secret);
    for (Key key : new Key[] {installed(generated), generated.getPrivateKey()}) {
      Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding", PROVIDER);
      cipher.init(Cipher.DECRYPT_MODE, key);
      assertEquals(bits / 8, cipher.getBlockSize());
      assertEquals(bits / 8, cipher.getOutputSize(1));
      cipher.update(jdkCipherText, 0, 10);
      assertArrayEquals(secret, cipher.doFinal(jdkCipherText, 10, jdkCipherText.length - 10));
    }

    Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding", PROVIDER);
    cipher.init(Cipher.ENCRYPT_MODE, publicKey);
    assertEquals(bits / 8, cipher.getOutputSize(secret.length));
    byte[] cipherText = cipher.doFinal(secret);
    jdk.init(Cipher.DECRYPT_MODE, generated.getPrivateKey());
    assertArrayEquals(secret, jdk.doFinal(cipherText));
    assertThrows(IllegalBlockSizeException.class, () -> cipher.doFinal(new byte[bits / 8 - 10]));
  }

  @Test
  void badDataIsABadPadding() throws Exception {
    KeyStore.PrivateKeyEntry generated = generatedEntry(1024);
    Cipher jdk = Cipher.getInstance("RSA/ECB/PKCS1Padding", "SunJCE");
    jdk.init(Cipher.ENCRYPT_MODE, generated.getCertificate().getPublicKey());
    byte[] cipherText = jdk.doFinal(DATA);
    KeyPairGenerator generator = KeyPairGenerator.getInstance("RSA");
    generator.initialize(1024);
    Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding", PROVIDER);
    cipher.init(Cipher.DECRYPT_MODE, generator.generateKeyPair().getPrivate());
    BadPaddingException bad =
        assertThrows(BadPaddingException.class, () -> cipher.doFinal(cipherText));
    assertTrue(bad.getMessage().contains("bad data"), bad.getMessage());
    assertThrows(IllegalBlockSizeException.class, () -> cipher.doFinal(new byte[5]));
  }

  @Test
  void delayedSelectionSendsEntryHandlesHere() throws Exception {
    PrivateKey handle = installed(generatedEntry(2048));
    Signature signer = Signature.getInstance("SHA1withRSA");
    signer.initSign(handle);
    assertEquals(PROVIDER.getName(), signer.getProvider().getName());
    signer.update(DATA);
    Signature jdk = Signature.getInstance("SHA1withRSA", "SunRsaSign");
    jdk.initVerify(generatedEntry(2048).getCertificate());
    jdk.update(DATA);
    assertTrue(jdk.verify(signer.sign()));

    Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding");
    cipher.init(Cipher.DECRYPT_MODE, handle);
    assertEquals(PROVIDER.getName(), cipher.getProvider().getName());
  }

  @Test
  void keysTheNativesCannotTakeAreInvalid() throws Exception {
    KeyPairGenerator generator = KeyPairGenerator.getInstance("RSA");
    generator.initialize(1032);
    KeyPair oddLength = generator.generateKeyPair();
    KeyPairGenerator ec = KeyPairGenerator.getInstance("EC");
    ec.initialize(256);
    KeyPair elliptic = ec.generateKeyPair();
    Signature signer = Signature.getInstance("SHA1withRSA", PROVIDER);
    Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding", PROVIDER);
    Object[][] cases = {
      {oddLength.getPrivate(), "129 bytes"},
      {elliptic.getPrivate(), "RSAPrivateCrtKey"},
    };
    for (Object[] each : cases) {
      PrivateKey key = (PrivateKey) each[0];
      InvalidKeyException signing =
          assertThrows(InvalidKeyException.class, () -> signer.initSign(key));
      assertTrue(signing.getMessage().contains((String) each[1]), signing.getMessage());
      InvalidKeyException decrypting =
          assertThrows(InvalidKeyException.class, () -> cipher.init(Cipher.DECRYPT_MODE, key));
      assertTrue(decrypting.getMessage().contains((String) each[1]), decrypting.getMessage());
    }
    assertThrows(InvalidKeyException.class, () -> signer.initVerify(elliptic.getPublic()));
    assertThrows(
        InvalidKeyException.class, () -> cipher.init(Cipher.ENCRYPT_MODE, elliptic.getPublic()));
    RSAPrivateCrtKey crt = (RSAPrivateCrtKey) generatedEntry(1024).getPrivateKey();
    assertThrows(InvalidKeyException.class, () -> cipher.init(Cipher.ENCRYPT_MODE, crt));
  }

  @Test
  void aHandleWhoseEntryIsGoneFailsToSign() throws Exception {
    PrivateKey handle = installed(generatedEntry(1024));
    ProviderFixtures.emptyStores();
    Signature signer = Signature.getInstance("SHA1withRSA", PROVIDER);
    signer.initSign(handle);
    signer.update(DATA);
    SignatureException failed = assertThrows(SignatureException.class, signer::sign);
    assertTrue(failed.getMessage().contains(((BrisvanderPrivateKey) handle).getAlias()));
  }

  @Test
  void onlyEcbAndPkcs1PaddingAreOffered() throws Exception {
    assertThrows(
        NoSuchPaddingException.class, () -> Cipher.getInstance("RSA/ECB/OAEPPadding", PROVIDER));
    assertThrows(Exception.class, () -> Cipher.getInstance("RSA/CBC/PKCS1Padding", PROVIDER));
    assertEquals(PROVIDER, Cipher.getInstance("RSA", PROVIDER).getProvider());
  }
}
