package quorvant.jce.provider.ms;

/**
 * RSA signatures (PKCS #1 v1.5) under SHA1, MD5 or MD2. Signatures cross in the platform's order,
 * least significant byte first.
 */
public final class MSSignatureJNI {
  static {
    NativeLibrary.load();
  }

  private MSSignatureJNI() {}

  /**
   * Signs {@code data} with the key of the entry {@code alias} (its bytes) or, when the alias is
   * null, with the private key given as CRT key info. Answers the signature or null.
   */
  public static native byte[] sign(Object[] crtKeyInfo, byte[] alias, String digestName, byte[] data);

  /** Verifies {@code signature} over {@code data} with an encoded RSA public key. */
  public static native boolean verify(
      byte[] publicKey, String digestName, byte[] signature, byte[] data);
}
