package quorvant.jce.provider.ms;

/**
 * Child process of {@link NativeOutputTest}: makes the native side print one case, so that the
 * test can read the bytes the library writes to the process's standard output.
 */
public final class NativeOutputProbe {
  static final String NON_ASCII = "Grüße € 日本 \u0000 \uD83D\uDE00";

  private NativeOutputProbe() {}

  public static void main(String[] args) {
    switch (args[0]) {
      case "empty" -> Brisvander.printString("");
      case "non-ascii" -> Brisvander.printString(NON_ASCII);
      case "null" -> Brisvander.printString(null);
      case "report-plain" -> DiagnosticsProbe.report("Could not acquire context.", 5, false);
      case "report-system" -> DiagnosticsProbe.report("Could not acquire context.", 5, true);
      case "report-keyset" ->
          DiagnosticsProbe.report("Could not acquire context.", 0x80090016, true);
      default -> throw new IllegalArgumentException(args[0]);
    }
  }
}
