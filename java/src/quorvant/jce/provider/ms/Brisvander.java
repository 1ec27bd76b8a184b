package quorvant.jce.provider.ms;

/**
 * The key store bridge: the current user's Windows certificate stores seen as one key store.
 *
 * <p>Key entries are the certificates of "MY" whose private key container opens, certificate
 * entries the certificates of "AddressBook". An entry alias is the issuer name text, a comma and
 * the serial number in upper-case hex. Failures are never thrown: each method answers its neutral
 * result (0, false or null) and may print a diagnostic line.
 */
public final class Brisvander {
  static {
    NativeLibrary.load();
  }

  private Brisvander() {}

  /** Prints {@code text} as one line on the library's standard output; null prints nothing. */
  public static native void printString(String text);

  /** Counts the entries: key entries of "MY" by their provider type, and "AddressBook". */
  public static native int size();

  /** Lists every entry alias, key entries first; null when the key store has no entries. */
  public static native String[] aliases();

  /** Tells whether some entry bears exactly {@code alias}. */
  public static native boolean containsAlias(String alias);

  /** Answers the alias of the first entry holding exactly this encoded certificate, or null. */
  public static native String getCertificateAlias(byte[] encodedCertificate);

  /** Answers the encoded certificate of the entry {@code alias}, or null. */
  public static native byte[] getCertificate(String alias);

  /** Answers the certificate chain of the key entry {@code alias}, leaf first, or null. */
  public static native byte[][] getCertificateChain(String alias);

  /** Tells whether {@code alias} names a key entry. */
  public static native boolean isKeyEntry(String alias);

  /** Tells whether {@code alias} names a certificate entry. */
  public static native boolean isCertificateEntry(String alias);

  /**
   * Always answers null: a key entry's private key never leaves its container, and signing and
   * decryption reach it by alias. Neither argument is read.
   */
  public static native Object getKey(String alias, char[] password);

  /**
   * Installs a key entry.
   *
   * @param crtKeyInfo the private key as eight byte arrays, every number least significant byte
   *     first and zero-extended: n, p, q, d mod (p-1), d mod (q-1), q^-1 mod p, d, e
   * @param password never read
   * @param chain the certificate chain as encoded certificates ({@code byte[]}), leaf first
   */
  public static native boolean setKeyEntry(Object[] crtKeyInfo, char[] password, Object[] chain);

  /** Adds {@code encodedCertificate} to "AddressBook" as a certificate entry. */
  public static native boolean setCertificateEntry(byte[] encodedCertificate);

  /** Deletes the entry {@code alias}: a certificate entry first, else a key entry. */
  public static native boolean deleteEntry(String alias);
}
