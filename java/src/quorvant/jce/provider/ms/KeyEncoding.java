package quorvant.jce.provider.ms;

import java.io.ByteArrayOutputStream;
import java.io.DataOutputStream;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.math.BigInteger;
import java.security.InvalidKeyException;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;

/** Keys, aliases and byte orders as the natives take them. */
final class KeyEncoding {
  private KeyEncoding() {}

  /**
   * The CRT key info of {@code key}: n, p, q, dp, dq, qinv, d, e little-endian and zero-padded, n
   * and d to the modulus length k, the CRT numbers to k/2, e to four bytes. A byte[][] lets the VM
   * keep every element a byte[], which the natives rely on.
   */
  static byte[][] crtKeyInfo(RSAPrivateCrtKey key) throws InvalidKeyException {
    BigInteger n = key.getModulus();
    if (n == null || n.signum() <= 0) {
      throw new InvalidKeyException("the RSA private key has no modulus");
    }
    int k = (n.bitLength() + 7) / 8;
    if (k % 2 != 0) {
      throw new InvalidKeyException(
          "a " + n.bitLength() + "-bit modulus is " + k
              + " bytes; the platform takes an even number");
    }
    byte[][] info = new byte[8][];
    info[0] = littleEndian("modulus", n, k);
    info[1] = littleEndian("prime p", key.getPrimeP(), k / 2);
    info[2] = littleEndian("prime q", key.getPrimeQ(), k / 2);
    info[3] = littleEndian("exponent dp", key.getPrimeExponentP(), k / 2);
    info[4] = littleEndian("exponent dq", key.getPrimeExponentQ(), k / 2);
    info[5] = littleEndian("CRT coefficient", key.getCrtCoefficient(), k / 2);
    info[6] = littleEndian("private exponent", key.getPrivateExponent(), k);
    info[7] = littleEndian("public exponent", key.getPublicExponent(), 4);
    return info;
  }

  private static byte[] littleEndian(String what, BigInteger number, int length)
      throws InvalidKeyException {
    if (number == null || number.signum() < 0) {
      throw new InvalidKeyException("the RSA private key has no usable " + what);
    }
    byte[] bigEndian = number.toByteArray();
    int start = bigEndian.length > 1 && bigEndian[0] == 0 ? 1 : 0;
    int size = bigEndian.length - start;
    if (size > length) {
      throw new InvalidKeyException(
          "the " + what + " is " + size + " bytes; the platform takes at most " + length);
    }
    byte[] out = new byte[length];
    for (int i = 0; i < size; i++) {
      out[i] = bigEndian[bigEndian.length - 1 - i];
    }
    return out;
  }

  /** The DER of a PKCS #1 RSAPublicKey, SEQUENCE { n, e }, which is what the platform imports. */
  static byte[] publicKeyDer(RSAPublicKey key) throws InvalidKeyException {
    BigInteger n = key.getModulus();
    BigInteger e = key.getPublicExponent();
    if (n == null || e == null || n.signum() <= 0 || e.signum() <= 0) {
      throw new InvalidKeyException("the RSA public key has no usable modulus or exponent");
    }
    byte[] body = concat(derInteger(n), derInteger(e));
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
    if (length < 0x10000) {
      return new byte[] {(byte) tag, (byte) 0x82, (byte) (length >> 8), (byte) length};
    }
    return new byte[] {
      (byte) tag, (byte) 0x83, (byte) (length >> 16), (byte) (length >> 8), (byte) length
    };
  }

  private static byte[] concat(byte[] first, byte[] second) {
    byte[] joined = Arrays.copyOf(first, first.length + second.length);
    System.arraycopy(second, 0, joined, first.length, second.length);
    return joined;
  }

  /** The alias as the natives read it back: its modified UTF-8 (plain UTF-8 for ASCII). */
  static byte[] aliasBytes(String alias) {
    ByteArrayOutputStream bytes = new ByteArrayOutputStream();
    try (DataOutputStream out = new DataOutputStream(bytes)) {
      out.writeUTF(alias);
    } catch (IOException e) {
      throw new UncheckedIOException(e);
    }
    byte[] withLength = bytes.toByteArray();
    return Arrays.copyOfRange(withLength, 2, withLength.length);
  }

  /** A private key as the natives take it: CRT key info, or else the alias bytes of an entry. */
  static final class NativePrivateKey {
    final byte[][] crtKeyInfo;
    final byte[] alias;
    final String description;

    private NativePrivateKey(byte[][] crtKeyInfo, byte[] alias, String description) {
      this.crtKeyInfo = crtKeyInfo;
      this.alias = alias;
      this.description = description;
    }
  }

  /** Takes a key entry's handle or any RSA private key with its CRT numbers. */
  static NativePrivateKey privateKey(Object key) throws InvalidKeyException {
    if (key instanceof BrisvanderPrivateKey) {
      String alias = ((BrisvanderPrivateKey) key).getAlias();
      return new NativePrivateKey(null, aliasBytes(alias), "the key of entry \"" + alias + "\"");
    }
    if (key instanceof RSAPrivateCrtKey) {
      return new NativePrivateKey(crtKeyInfo((RSAPrivateCrtKey) key), null, "the RSA private key");
    }
    throw new InvalidKeyException(
        "takes a Brisvander key entry's key or an RSAPrivateCrtKey, not "
            + (key == null ? "null" : key.getClass().getName()));
  }

  /** The encoded public key, of any RSAPublicKey. */
  static byte[] publicKey(Object key) throws InvalidKeyException {
    if (key instanceof RSAPublicKey) {
      return publicKeyDer((RSAPublicKey) key);
    }
    throw new InvalidKeyException(
        "takes an RSAPublicKey, not " + (key == null ? "null" : key.getClass().getName()));
  }

  /** A copy of {@code bytes} in the other byte order: the platform writes numbers LSB first. */
  static byte[] reversed(byte[] bytes) {
    byte[] out = new byte[bytes.length];
    for (int i = 0; i < bytes.length; i++) {
      out[i] = bytes[bytes.length - 1 - i];
    }
    return out;
  }
}
