package quorvant.jce.provider.ms;

/**
 * RSA encryption and decryption with PKCS #1 v1.5 padding, and key sizes. Cipher texts cross in
 * the platform's order, least significant byte first.
 */
public final class MSCipherRSAJNI {
  static {
    NativeLibrary.load();
  }

  private MSCipherRSAJNI() {}

  /** Encrypts {@code plainText} with an encoded RSA public key; answers the cipher text or null. */
  public static native byte[] encrypt(byte[] publicKey, byte[] plainText, boolean isFinal);

  /**
   * Decrypts with the private key given as CRT key info or, when that is null, with the key of the
   * entry whose alias bytes are {@code alias}. Answers the plain text, null on failure, or the one
   * byte 1 when the provider rejects the cipher text as bad data.
   */
  public static native byte[] decrypt(
      Object[] crtKeyInfo, byte[] alias, byte[] cipherText, boolean isFinal);

  /**
   * Answers the key's length in bits: of the encoded public key in {@code keyOrAlias} when {@code
   * isPublic}, else of the CRT key info when it is not null, else of the entry whose alias bytes
   * are {@code keyOrAlias}. {@code keyOrAlias} is read on every call, so it is never null.
   */
  public static native int getKeyLength(Object[] crtKeyInfo, byte[] keyOrAlias, boolean isPublic);

  /** Answers the key's block size, chosen as {@link #getKeyLength} chooses the key. */
  public static native int getBlockSize(Object[] crtKeyInfo, byte[] keyOrAlias, boolean isPublic);
}
