package quorvant.jce.provider.ms;

import java.io.IOException;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * A child JVM running one of the test classes' main methods with the library, under -Xcheck:jni,
 * so that a test can read the bytes the library writes to the process's own streams, or kill it.
 */
final class ChildJvm {
  private ChildJvm() {}

  /** What a child wrote and how it ended. */
  record Output(byte[] stdout, byte[] stderr, int exitValue) {}

  static Process start(Class<?> main, String... args) throws IOException {
    Process child = new ProcessBuilder(command(main, args)).start();
    child.getOutputStream().close();
    return child;
  }

  /** Starts a child whose output nobody reads, such as one that is killed. */
  static Process startDiscardingOutput(Class<?> main, String... args) throws IOException {
    return new ProcessBuilder(command(main, args))
        .redirectErrorStream(true)
        .redirectOutput(ProcessBuilder.Redirect.DISCARD)
        .start();
  }

  private static List<String> command(Class<?> main, String... args) {
    List<String> command =
        new ArrayList<>(
            List.of(
                Paths.get(System.getProperty("java.home"), "bin", "java").toString(),
                "-Xcheck:jni",
                "-Dbrisvander.library=" + System.getProperty("brisvander.library"),
                "-Dbrisvander.probe.library=" + System.getProperty("brisvander.probe.library"),
                "-Dbrisvander.fixtures=" + System.getProperty("brisvander.fixtures"),
                "-cp",
                System.getProperty("brisvander.test.classpath"),
                main.getName()));
    command.addAll(Arrays.asList(args));
    return command;
  }

  /** Runs the child to its end and gives what it wrote. */
  static Output run(Class<?> main, String... args) throws Exception {
    Process child = start(main, args);
    byte[] stdout = child.getInputStream().readAllBytes();
    byte[] stderr = child.getErrorStream().readAllBytes();
    if (!child.waitFor(60, TimeUnit.SECONDS)) {
      child.destroyForcibly();
    }
    return new Output(stdout, stderr, child.exitValue());
  }
}
