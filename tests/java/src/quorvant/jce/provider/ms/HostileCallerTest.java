package quorvant.jce.provider.ms;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;
import static org.junit.jupiter.api.DynamicContainer.dynamicContainer;
import static org.junit.jupiter.api.DynamicTest.dynamicTest;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import org.junit.jupiter.api.DynamicNode;
import org.junit.jupiter.api.DynamicTest;
import org.junit.jupiter.api.TestFactory;

/**
 * The natives under a hostile caller: nulls everywhere, elements of the wrong type, key info of
 * every wrong shape, huge arrays, strings of every kind of character, and all of it from many
 * threads. Each family runs in a child JVM under -Xcheck:jni on a store of its own, so that a JNI
 * warning or a crash is a failure of the case that caused it and the test JVM lives on. Every call
 * must answer its neutral result or the right one, and leave the store's files as they were.
 */
class HostileCallerTest {
  /**
   * What the VM (or, in a sanitized tree, the sanitizers) prints when the library misuses JNI or
   * memory or crashes; never a line of the library's own.
   */
  private static final Pattern VM_COMPLAINT =
      Pattern.compile(
          "WARNING|FATAL ERROR|JNI warning|A fatal error|SIGSEGV|SIGBUS|SIGABRT|hs_err"
              + "|Exception in thread|Internal Error|AddressSanitizer|runtime error: ");

  @TestFactory
  Stream<DynamicNode> hostileCalls() {
    // Each family's child runs only when JUnit reaches that family.
    return HostileCalls.families().entrySet().stream()
        .map(
            family ->
                dynamicContainer(
                    family.getKey(),
                    Stream.of(family).flatMap(f -> runFamily(f.getKey(), f.getValue()))));
  }

  /** Runs one family in a child and gives a test per case, and one for the child's end. */
  private static Stream<DynamicTest> runFamily(String family, List<HostileCalls.Case> cases) {
    Child child = Child.run(family);
    List<DynamicTest> tests = new ArrayList<>();
    for (HostileCalls.Case one : cases) {
      tests.add(dynamicTest(one.name(), () -> child.assertPassed(one.name())));
    }
    tests.add(dynamicTest("the child JVM ends cleanly", child::assertEndedCleanly));
    return tests.stream();
  }

  /** A child JVM that ran one family, and its output cut into the cases' sections. */
  private static final class Child {
    private final String output;
    private final int exitValue;
    private final String failure;
    private final Map<String, List<String>> sections = new LinkedHashMap<>();
    private final List<String> outside = new ArrayList<>();

    private Child(String output, int exitValue, String failure) {
      this.output = output;
      this.exitValue = exitValue;
      this.failure = failure;
      List<String> current = outside;
      for (String line : output.split("\n", -1)) {
        if (line.startsWith("CASE ")) {
          current = new ArrayList<>();
          sections.put(line.substring(5), current);
        } else {
          current.add(line);
        }
      }
    }

    static Child run(String family) {
      Path home = null;
      try {
        home = Files.createTempDirectory("brisvander-hostile-");
        ProcessBuilder builder = new ProcessBuilder(command(family)).redirectErrorStream(true);
        builder.environment().put("BRISVANDER_HOME", home.toString());
        Process process = builder.start();
        process.getOutputStream().close();
        CompletableFuture<byte[]> read =
            CompletableFuture.supplyAsync(
                () -> {
                  try {
                    return process.getInputStream().readAllBytes();
                  } catch (IOException e) {
                    return new byte[0];
                  }
                });
        String failure = null;
        if (!process.waitFor(30, TimeUnit.MINUTES)) {
          process.destroyForcibly().waitFor();
          failure = "the child did not finish and was killed";
        }
        // ISO-8859-1 keeps every byte, whatever the library printed.
        String output = new String(read.get(), StandardCharsets.ISO_8859_1);
        return new Child(output, process.exitValue(), failure);
      } catch (Exception e) {
        return new Child("", -1, "the child could not run: " + e);
      } finally {
        deleteTree(home);
      }
    }

    private static List<String> command(String family) {
      return List.of(
          Paths.get(System.getProperty("java.home"), "bin", "java").toString(),
          "-Xcheck:jni",
          "-Xmx3g",
          "-XX:+ErrorFileToStdout",
          "-XX:-CreateCoredumpOnCrash",
          "-Dbrisvander.library=" + System.getProperty("brisvander.library"),
          "-Dbrisvander.fixtures=" + System.getProperty("brisvander.fixtures"),
          "-cp",
          System.getProperty("brisvander.test.classpath"),
          HostileCalls.class.getName(),
          family);
    }

    void assertPassed(String name) {
      List<String> section = sections.get(name);
      if (section == null) {
        fail("not reached" + (failure != null ? " (" + failure + ")" : "")
            + "; the child ended with " + exitValue + " after:\n" + tail(output));
      }
      List<String> complaints = section.stream().filter(VM_COMPLAINT.asPredicate()).toList();
      assertTrue(complaints.isEmpty(), () -> "the VM complained:\n" + String.join("\n", section));
      String verdict = section.stream().filter(line -> line.startsWith("PASS " + name)
          || line.startsWith("FAIL " + name)).findFirst().orElse(null);
      if (verdict == null) {
        fail("the child ended during the case:\n" + tail(String.join("\n", section)));
      }
      assertEquals("PASS " + name, verdict);
    }

    void assertEndedCleanly() {
      assertEquals(null, failure);
      List<String> complaints = outside.stream().filter(VM_COMPLAINT.asPredicate()).toList();
      assertTrue(complaints.isEmpty(), () -> "the VM complained:\n" + String.join("\n", outside));
      List<String> last = sections.isEmpty() ? outside
          : new ArrayList<>(sections.values()).get(sections.size() - 1);
      assertTrue(last.contains(HostileCalls.DONE),
          () -> "no " + HostileCalls.DONE + ":\n" + tail(output));
      assertEquals(0, exitValue, () -> tail(output));
    }

    private static String tail(String text) {
      return text.length() <= 4000 ? text : "..." + text.substring(text.length() - 4000);
    }

    private static void deleteTree(Path root) {
      if (root == null || !Files.exists(root)) {
        return;
      }
      try (Stream<Path> paths = Files.walk(root)) {
        paths.sorted(Comparator.reverseOrder()).forEach(path -> path.toFile().delete());
      } catch (IOException e) {
        // A temporary folder left behind harms no test.
      }
    }
  }
}
