package quorvant.jce.provider.ms;

/** A test-only native library: the failure report, and store content set up for tests. */
final class DiagnosticsProbe {
  static {
    System.load(System.getProperty("brisvander.probe.library"));
  }

  private DiagnosticsProbe() {}

  static native void report(String message, int lastError, boolean withSystemMessage);

  static native boolean addCertificate(String storeName, byte[] encoded);
}
