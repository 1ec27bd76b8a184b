package quorvant.jce.provider.ms;

/** Reaches the library's failure report through a test-only native library. */
final class DiagnosticsProbe {
  static {
    System.load(System.getProperty("brisvander.probe.library"));
  }

  private DiagnosticsProbe() {}

  static native void report(String message, int lastError, boolean withSystemMessage);
}
