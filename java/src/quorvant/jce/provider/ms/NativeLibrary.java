package quorvant.jce.provider.ms;

/**
 * Loads the native half of the provider once per class loader, before any native method runs.
 *
 * <p>The library is found by {@code System.loadLibrary("Brisvander")} (so {@code
 * Brisvander.dll} on Windows, {@code libBrisvander.so} on Linux, on {@code java.library.path}),
 * unless the system property {@value #PATH_PROPERTY} names the library file itself.
 */
final class NativeLibrary {
  /** System property naming the library file, for tests and for libraries kept elsewhere. */
  static final String PATH_PROPERTY = "brisvander.library";

  private NativeLibrary() {}

  static {
    String path = System.getProperty(PATH_PROPERTY);
    if (path != null && !path.isEmpty()) {
      System.load(new java.io.File(path).getAbsolutePath());
    } else {
      System.loadLibrary("Brisvander");
    }
  }

  /** Makes sure the library is loaded; the work is done once, by the class initialiser. */
  static void load() {}
}
