package quorvant.jce.provider.ms.bench;

import java.io.PrintWriter;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * The benchmark harness, one phase per JVM:
 *
 * <pre>
 *   rsa    KEYS OUT [ROUNDS SAMPLE_MS WARMUP_MS]   RSA four ways (also writes environment.csv)
 *   walk   KEYS OUT [ROUNDS SAMPLE_MS WARMUP_MS]   store walks on the store XDG_DATA_HOME holds
 *   memory KEYS OUT [SECONDS_PER_KIND]             resident set size over many calls
 *   report OUT                                     report.md, summary.txt, results.csv, plots
 * </pre>
 */
public final class BenchMain {
  private BenchMain() {}

  private static int intArg(String[] args, int at, int otherwise) {
    return args.length > at ? Integer.parseInt(args[at]) : otherwise;
  }

  public static void main(String[] args) throws Exception {
    if (args.length < 2) {
      System.err.println("usage: rsa|walk|memory KEYS OUT [...] | report OUT");
      System.exit(2);
    }
    String phase = args[0];
    if (phase.equals("report")) {
      Report.write(Path.of(args[1]));
      return;
    }
    requireOwnStore();
    Path keys = Path.of(args[1]);
    Path out = Path.of(args[2]);
    Files.createDirectories(out);
    switch (phase) {
      case "rsa":
        writeEnvironment(out);
        RsaBench.run(keys, out, intArg(args, 3, 7), intArg(args, 4, 80) * 1_000_000L,
            intArg(args, 5, 250) * 1_000_000L);
        break;
      case "walk":
        WalkBench.run(keys, out, intArg(args, 3, 5), intArg(args, 4, 100) * 1_000_000L,
            intArg(args, 5, 200) * 1_000_000L);
        break;
      case "memory":
        MemoryBench.run(keys, out, args.length > 3 ? Double.parseDouble(args[3]) : 10);
        break;
      default:
        System.err.println("unknown phase " + phase);
        System.exit(2);
    }
  }

  /**
   * The natives must reach the benchmark's own store by the production path: XDG_DATA_HOME set,
   * absolute (else the emulation takes the user's own folder) and BRISVANDER_HOME unset (which
   * would also make every call look for a fault file).
   */
  static void requireOwnStore() {
    String dataHome = System.getenv("XDG_DATA_HOME");
    if (dataHome == null || !dataHome.startsWith("/") || System.getenv("BRISVANDER_HOME") != null) {
      throw new IllegalStateException(
          "run with XDG_DATA_HOME set to the bench store (absolute) and BRISVANDER_HOME unset");
    }
  }

  /** What the report states about the software: the JDK that ran and OpenSSL's version. */
  private static void writeEnvironment(Path out) throws Exception {
    Path file = out.resolve("environment.csv");
    try (PrintWriter csv = new PrintWriter(Files.newBufferedWriter(file))) {
      csv.println("key,value");
      csv.printf("jdk,\"%s %s (%s)\"%n", System.getProperty("java.vm.name"),
          System.getProperty("java.runtime.version"), System.getProperty("java.vendor"));
      csv.printf("openssl,\"%s\"%n", OpenSslLimit.version());
      csv.printf("jvm_options,\"%s\"%n", String.join(" ",
          java.lang.management.ManagementFactory.getRuntimeMXBean().getInputArguments()));
    }
  }
}
