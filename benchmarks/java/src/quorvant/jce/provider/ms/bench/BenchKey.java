package quorvant.jce.provider.ms.bench;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.math.BigInteger;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.PKCS8EncodedKeySpec;
import java.util.Arrays;

/**
 * One benchmark key, read from the files the fixture tool made (rsa-BITS.p8, rsa-BITS.crt), in
 * every form the contenders take: the natives' CRT key info and PKCS #1 public key, the JDK's
 * key objects, and the DER that OpenSSL's loops import.
 */
final class BenchKey {
  final int bits;
  final byte[] pkcs8;
  final byte[] certificate;
  final RSAPrivateCrtKey privateKey;
  final X509Certificate x509;
  final RSAPublicKey publicKey;
  /** n, p, q, dp, dq, qinv, d, e; least significant byte first, as the provider builds it. */
  final byte[][] crtKeyInfo;
  /** PKCS #1 RSAPublicKey, which both the natives and OpenSSL's loops take. */
  final byte[] publicKeyDer;

  private BenchKey(int bits, byte[] pkcs8, byte[] certificate)
      throws GeneralSecurityException {
    this.bits = bits;
    this.pkcs8 = pkcs8;
    this.certificate = certificate;
    KeyFactory factory = KeyFactory.getInstance("RSA");
    privateKey = (RSAPrivateCrtKey) factory.generatePrivate(new PKCS8EncodedKeySpec(pkcs8));
    x509 =
        (X509Certificate)
            CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(certificate));
    publicKey = (RSAPublicKey) x509.getPublicKey();
    if (!publicKey.getModulus().equals(privateKey.getModulus())) {
      throw new GeneralSecurityException("rsa-" + bits + ": certificate and key differ");
    }
    crtKeyInfo = crtKeyInfo(privateKey);
    publicKeyDer = publicKeyDer(publicKey);
  }

  static BenchKey load(Path folder, int bits) throws IOException, GeneralSecurityException {
    return new BenchKey(
        bits,
        Files.readAllBytes(folder.resolve("rsa-" + bits + ".p8")),
        Files.readAllBytes(folder.resolve("rsa-" + bits + ".crt")));
  }

  int modulusLength() {
    return crtKeyInfo[0].length;
  }

  private static byte[][] crtKeyInfo(RSAPrivateCrtKey key) {
    int k = (key.getModulus().bitLength() + 7) / 8;
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

  private static byte[] littleEndian(BigInteger number, int length) {
    byte[] bigEndian = number.toByteArray();
    int start = bigEndian.length > 1 && bigEndian[0] == 0 ? 1 : 0;
    byte[] out = new byte[length];
    for (int i = 0; i < bigEndian.length - start; i++) {
      out[i] = bigEndian[bigEndian.length - 1 - i];
    }
    return out;
  }

  private static byte[] publicKeyDer(RSAPublicKey key) {
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

  private static byte[] concat(byte[] first, byte[] second) {
    byte[] joined = Arrays.copyOf(first, first.length + second.length);
    System.arraycopy(second, 0, joined, first.length, second.length);
    return joined;
  }

  /** A copy in the other byte order: the natives write numbers least significant byte first. */
  static byte[] reversed(byte[] bytes) {
    byte[] out = new byte[bytes.length];
    for (int i = 0; i < bytes.length; i++) {
      out[i] = bytes[bytes.length - 1 - i];
    }
    return out;
  }

  /** The alias as the natives read it: modified UTF-8, which is plain ASCII for these stores. */
  static byte[] aliasBytes(String alias) {
    for (int i = 0; i < alias.length(); i++) {
      if (alias.charAt(i) == 0 || alias.charAt(i) > 0x7F) {
        throw new IllegalArgumentException("not an ASCII alias: " + alias);
      }
    }
    return alias.getBytes(java.nio.charset.StandardCharsets.US_ASCII);
  }
}
