package quorvant.jce.provider.ms;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Paths;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.Signature;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import javax.crypto.Cipher;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * Signing, verification, the RSA cipher and key sizes under a real JVM with -Xcheck:jni, against
 * the JDK's own RSA. Keys cross the way the provider hands them over: the CRT numbers little-endian
 * and zero-padded to the blob's lengths, public keys as the DER of a PKCS #1 RSAPublicKey.
 */
class CryptoTest {
  private static KeyPair pair;
  private static KeyPair otherPair;
  private static KeyPair largePair;
  private static final byte[] NOBODY = "CN=Nobody,01".getBytes(StandardCharsets.UTF_8);
  private static final byte[] DATA = "to be signed, and then some".getBytes(StandardCharsets.UTF_8);

  @BeforeAll
  static void makeKeys() throws Exception {
    KeyPairGenerator generator = KeyPairGenerator.getInstance("RSA");
    generator.initialize(1024);
    pair = generator.generateKeyPair();
    otherPair = generator.generateKeyPair();
    generator.initialize(2048);
    largePair = generator.generateKeyPair();
  }

  /** The CRT key info: n, p, q, dp, dq, qinv, d at k or k/2 bytes, then e in four bytes. */
  static Object[] crtKeyInfo(KeyPair keys) {
    RSAPrivateCrtKey key = (RSAPrivateCrtKey) keys.getPrivate();
    int k = (key.getModulus().bitLength() + 7) / 8;
    // A byte[][]: the VM itself then keeps every element a byte[].
    return new byte[][] {
      littleEndian(key.getModulus(), k),
      littleEndian(key.getPrimeP(), k / 2),
      littleEndian(key.getPrimeQ(), k / 2),
      littleEndian(key.getPrimeExponentP(), k / 2),
      littleEndian(key.getPrimeExponentQ(), k / 2),
      littleEndian(key.getCrtCoefficient(), k / 2),
      littleEndian(key.getPrivateExponent(), k),
      littleEndian(key.getPublicExponent(), 4),
    };
  }

  /** {@code number} least significant byte first, zero-extended or trimmed to {@code length}. */
  static byte[] littleEndian(BigInteger number, int length) {
    byte[] bigEndian = number.toByteArray();
    byte[] out = new byte[length];
    for (int i = 0; i < length && i < bigEndian.length; i++) {
      out[i] = bigEndian[bigEndian.length - 1 - i];
    }
    return out;
  }

  /** The DER of the PKCS #1 RSAPublicKey: a SEQUENCE of the modulus and the exponent. */
  static byte[] publicKeyEncoding(KeyPair keys) {
    RSAPublicKey key = (RSAPublicKey) keys.getPublic();
    byte[] body = concat(derInteger(key.getModulus()), derInteger(key.getPublicExponent()));
    return concat(derHeader(0x30, body.length), body);
  }

  private static byte[] derInteger(BigInteger number) {
    byte[] content = number.toByteArray();
    return concat(derHeader(0x02, content.length), content);
  }

  private static byte[] derHeader(int tag, int length) {
    if (length < 0x80) {
      return new byte[] {(byte) tag, (byte) length};
    }
    if (length < 0x100) {
      return new byte[] {(byte) tag, (byte) 0x81, (byte) length};
    }
    return new byte[] {(byte) tag, (byte) 0x82, (byte) (length >> 8), (byte) length};
  }

  static byte[] reversed(byte[] bytes) {
    byte[] out = new byte[bytes.length];
    for (int i = 0; i < bytes.length; i++) {
      out[i] = bytes[bytes.length - 1 - i];
    }
    return out;
  }

  private static byte[] concat(byte[] first, byte[] second) {
    byte[] joined = Arrays.copyOf(first, first.length + second.length);
    System.arraycopy(second, 0, joined, first.length, second.length);
    return joined;
  }

  static Stream<Arguments> digests() {
    return Stream.of(
        Arguments.of("SHA1", "SHA1withRSA"),
        Arguments.of("MD5", "MD5withRSA"),
        Arguments.of("MD2", "MD2withRSA"));
  }

  @ParameterizedTest(name = "{0}")
  @MethodSource("digests")
  void nativeSignaturesVerifyWithTheJdk(String digest, String jdkAlgorithm) throws Exception {
    byte[] signature = MSSignatureJNI.sign(crtKeyInfo(pair), null, digest, DATA);
    assertNotNull(signature);
    assertEquals(128, signature.length);
    Signature jdk = Signature.getInstance(jdkAlgorithm);
    jdk.initVerify(pair.getPublic());
    jdk.update(DATA);
    assertTrue(jdk.verify(reversed(signature)), "reversed into PKCS #1 order");
    assertTrue(MSSignatureJNI.verify(publicKeyEncoding(pair), digest, signature, DATA));
    assertArrayEquals(signature, MSSignatureJNI.sign(crtKeyInfo(pair), null, digest, DATA));
  }

  @ParameterizedTest(name = "{0}")
  @MethodSource("digests")
  void jdkSignaturesVerifyWithTheNatives(String digest, String jdkAlgorithm) throws Exception {
    Signature jdk = Signature.getInstance(jdkAlgorithm);
    jdk.initSign(pair.getPrivate());
    jdk.update(DATA);
    byte[] signature = jdk.sign();
    byte[] publicKey = publicKeyEncoding(pair);
    assertTrue(MSSignatureJNI.verify(publicKey, digest, reversed(signature), DATA));
    assertFalse(MSSignatureJNI.verify(publicKey, digest, signature, DATA), "PKCS #1 order");
    assertFalse(
        MSSignatureJNI.verify(publicKeyEncoding(otherPair), digest, reversed(signature), DATA));
    byte[] otherData = DATA.clone();
    otherData[0] ^= 1;
    assertFalse(MSSignatureJNI.verify(publicKey, digest, reversed(signature), otherData));
  }

  @ParameterizedTest(name = "{0} bytes")
  @ValueSource(ints = {0, 1, 117})
  void nativeCipherTextsDecryptWithTheJdkAndBack(int length) throws Exception {
    byte[] plain = new byte[length];
    Arrays.fill(plain, (byte) 0x42);
    byte[] cipherText = MSCipherRSAJNI.encrypt(publicKeyEncoding(pair), plain, true);
    assertEquals(128, cipherText.length);
    Cipher jdk = Cipher.getInstance("RSA/ECB/PKCS1Padding");
    jdk.init(Cipher.DECRYPT_MODE, pair.getPrivate());
    assertArrayEquals(plain, jdk.doFinal(reversed(cipherText)));
    jdk.init(Cipher.ENCRYPT_MODE, pair.getPublic());
    byte[] jdkCipherText = jdk.doFinal(plain);
    assertArrayEquals(
        plain, MSCipherRSAJNI.decrypt(crtKeyInfo(pair), null, reversed(jdkCipherText), true));
    assertArrayEquals(plain, MSCipherRSAJNI.decrypt(crtKeyInfo(pair), null, cipherText, false));
  }

  @Test
  void badDataGivesTheOneByteMarker() throws Exception {
    Cipher jdk = Cipher.getInstance("RSA/ECB/PKCS1Padding");
    jdk.init(Cipher.ENCRYPT_MODE, pair.getPublic());
    byte[] cipherText = reversed(jdk.doFinal(DATA));
    assertArrayEquals(
        new byte[] {1}, MSCipherRSAJNI.decrypt(crtKeyInfo(otherPair), null, cipherText, true));
    assertArrayEquals(
        new byte[] {1},
        MSCipherRSAJNI.decrypt(crtKeyInfo(pair), null, reversed(cipherText), true),
        "PKCS #1 order");
  }

  @Test
  void keySizesAreTheModulusInBits() {
    for (KeyPair keys : List.of(pair, largePair)) {
      int bits = ((RSAPublicKey) keys.getPublic()).getModulus().bitLength();
      byte[] publicKey = publicKeyEncoding(keys);
      assertEquals(bits, MSCipherRSAJNI.getKeyLength(null, publicKey, true));
      assertEquals(bits, MSCipherRSAJNI.getBlockSize(null, publicKey, true));
      // With the public flag the CRT key info, even of another key, is not looked at.
      assertEquals(bits, MSCipherRSAJNI.getKeyLength(crtKeyInfo(otherPair), publicKey, true));
      assertEquals(bits, MSCipherRSAJNI.getKeyLength(crtKeyInfo(keys), new byte[0], false));
      assertEquals(bits, MSCipherRSAJNI.getBlockSize(crtKeyInfo(keys), new byte[0], false));
    }
  }

  @Test
  void inputArraysStayAsTheyWere() {
    Object[] crt = crtKeyInfo(pair);
    Object[] copy = Arrays.stream(crt).map(element -> ((byte[]) element).clone()).toArray();
    byte[] data = DATA.clone();
    assertNotNull(MSSignatureJNI.sign(crt, null, "SHA1", data));
    assertArrayEquals(DATA, data);
    for (int i = 0; i < crt.length; i++) {
      assertArrayEquals((byte[]) copy[i], (byte[]) crt[i], "element " + i);
    }
  }

  @Test
  void failuresAnswerTheNeutralResult() {
    assertNull(MSSignatureJNI.sign(crtKeyInfo(pair), null, "sha1", DATA));
    assertNull(MSSignatureJNI.sign(Arrays.copyOf(crtKeyInfo(pair), 7), null, "SHA1", DATA));
    assertNull(MSSignatureJNI.sign(null, null, "SHA1", DATA));
    assertNull(MSSignatureJNI.sign(crtKeyInfo(pair), NOBODY, "SHA1", DATA));
    assertFalse(MSSignatureJNI.verify(new byte[0], "SHA1", new byte[128], DATA));
    assertNull(MSCipherRSAJNI.encrypt(publicKeyEncoding(pair), new byte[118], true));
    assertNull(MSCipherRSAJNI.decrypt(null, NOBODY, new byte[128], true));
    assertEquals(0, MSCipherRSAJNI.getKeyLength(new Object[8], new byte[0], false));
    assertEquals(-1, MSCipherRSAJNI.getBlockSize(null, NOBODY, false));
  }

  static Stream<Arguments> printedCases() {
    return Stream.of(
        Arguments.of(
            "invalid-hash", "", "Invalid hash algorithm. Only supporting SHA1, MD5 and MD2.\n"),
        Arguments.of(
            "bad-crt",
            "Brisvander: Could not create the private key blob from the CRT key info.\n",
            ""),
        Arguments.of(
            "bad-public-key",
            "Brisvander: Could not import public key into temporary container.\n"
                + "SYSMSG: ASN1 unexpected end of data.\r\n\n",
            ""));
  }

  /** The exact lines, read from a child JVM, as the library writes to the process's streams. */
  @ParameterizedTest(name = "{0}")
  @MethodSource("printedCases")
  void printsExactly(String probeCase, String stdout, String stderr) throws Exception {
    ChildJvm.Output printed = ChildJvm.run(CryptoOutputProbe.class, probeCase);
    assertEquals(stderr, new String(printed.stderr(), StandardCharsets.UTF_8));
    assertEquals(stdout, new String(printed.stdout(), StandardCharsets.UTF_8));
    assertEquals(0, printed.exitValue());
  }
}
