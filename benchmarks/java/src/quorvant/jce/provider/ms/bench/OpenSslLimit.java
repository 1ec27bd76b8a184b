package quorvant.jce.provider.ms.bench;

import java.io.File;

/**
 * OpenSSL's own RSA loops, the limit our natives are held against. Each call imports the key
 * once, runs {@code iterations} operations in-process with no JNI in between and answers the
 * elapsed nanoseconds of the loop, or a negative number when an operation failed. Numbers and
 * texts here are big-endian (PKCS #1 order), except the CRT key info, which is taken as the
 * natives take it.
 */
final class OpenSslLimit {
  /** System property naming the library file, libbrisvander-openssl-limit.so. */
  static final String PATH_PROPERTY = "brisvander.bench.limit";

  static {
    String path = System.getProperty(PATH_PROPERTY);
    if (path == null || path.isEmpty()) {
      throw new IllegalStateException("set -D" + PATH_PROPERTY + " to the limit library");
    }
    System.load(new File(path).getAbsolutePath());
  }

  private OpenSslLimit() {}

  static native String version();

  /** SHA-1 with RSA, PKCS #1 v1.5; the last signature goes to {@code outSignature}. */
  static native long sign(byte[] pkcs8, byte[] data, int iterations, byte[] outSignature);

  /** Hashes {@code data} and verifies {@code signature} in each iteration. */
  static native long verify(byte[] publicKey, byte[] data, byte[] signature, int iterations);

  static native long encrypt(byte[] publicKey, byte[] plain, int iterations, byte[] outCipher);

  static native long decrypt(byte[] pkcs8, byte[] cipher, int iterations, byte[] outPlain);

  /**
   * Imports the CRT key info afresh in each iteration and asks its size, in bits or in bytes; the
   * last answer goes to {@code outSize[0]}.
   */
  static native long keySize(byte[][] crtKeyInfo, boolean inBits, int iterations, int[] outSize);
}
