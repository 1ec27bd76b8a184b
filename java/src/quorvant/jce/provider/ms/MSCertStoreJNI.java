package quorvant.jce.provider.ms;

/** Export of the current user's Windows system stores. */
public final class MSCertStoreJNI {
  static {
    NativeLibrary.load();
  }

  private MSCertStoreJNI() {}

  /**
   * Answers every certificate of the named system store, encoded, or null when it holds none. A
   * store of an unknown name is created empty by the platform.
   */
  public static native byte[][] getAllCertificates(String storeName);
}
