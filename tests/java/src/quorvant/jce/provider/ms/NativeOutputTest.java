package quorvant.jce.provider.ms;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.ByteArrayOutputStream;
import java.io.DataOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The exact bytes the library writes on standard output, read from a child JVM. */
class NativeOutputTest {
  static Stream<Arguments> cases() throws IOException {
    return Stream.of(
        Arguments.of("empty", ascii("\n")),
        Arguments.of("non-ascii", concat(modifiedUtf8(NativeOutputProbe.NON_ASCII), ascii("\n"))),
        Arguments.of("null", new byte[0]),
        Arguments.of("report-plain", ascii("Brisvander: Could not acquire context.\n")),
        Arguments.of(
            "report-system",
            ascii("Brisvander: Could not acquire context.\nSYSMSG: Access is denied.\r\n\n")),
        Arguments.of(
            "report-keyset",
            ascii("Brisvander: Could not acquire context.\nSYSMSG: Keyset does not exist\r\n\n")));
  }

  @ParameterizedTest(name = "{0}")
  @MethodSource("cases")
  void printsExactly(String probeCase, byte[] expected) throws Exception {
    ChildJvm.Output printed = ChildJvm.run(NativeOutputProbe.class, probeCase);
    byte[] stdout = printed.stdout();
    assertEquals("", new String(printed.stderr(), StandardCharsets.UTF_8), "nothing on standard error");
    assertEquals(0, printed.exitValue());
    assertArrayEquals(expected, stdout, () -> "stdout was " + Arrays.toString(stdout));
  }

  private static byte[] ascii(String text) {
    return text.getBytes(StandardCharsets.US_ASCII);
  }

  /** Java's own modified UTF-8: what DataOutput.writeUTF writes after its two length bytes. */
  private static byte[] modifiedUtf8(String text) throws IOException {
    ByteArrayOutputStream bytes = new ByteArrayOutputStream();
    new DataOutputStream(bytes).writeUTF(text);
    return Arrays.copyOfRange(bytes.toByteArray(), 2, bytes.size());
  }

  private static byte[] concat(byte[] first, byte[] second) {
    byte[] joined = Arrays.copyOf(first, first.length + second.length);
    System.arraycopy(second, 0, joined, first.length, second.length);
    return joined;
  }
}
