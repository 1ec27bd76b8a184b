package quorvant.jce.provider.ms.bench;

import java.io.IOException;
import java.io.PrintWriter;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.ZonedDateTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.TimeUnit;

/**
 * Turns the phases' raw CSV files into report.md (Markdown tables, targets marked PASS or FAIL),
 * summary.txt (one line per target), results.csv (the figures the tables show) and the gnuplot
 * plots. Ratios are taken round by round, ours over the other's figure of the same round, and
 * shown as the median with the smallest and largest round.
 */
final class Report {
  private Report() {}

  static final String[] RSA_OPS = {
    "sign", "verify", "encrypt", "decrypt", "getKeyLength", "getBlockSize"
  };
  static final String[] WALK_OPS = {
    "size", "aliases", "containsAlias-missing", "containsAlias-present", "getCertificate",
    "isKeyEntry"
  };
  static final Map<String, String> WALK_LABELS = new LinkedHashMap<>();

  static {
    WALK_LABELS.put("size", "size");
    WALK_LABELS.put("aliases", "aliases");
    WALK_LABELS.put("containsAlias-missing", "containsAlias, alias not there");
    WALK_LABELS.put("containsAlias-present", "containsAlias, signing entry");
    WALK_LABELS.put("getCertificate", "getCertificate, signing entry");
    WALK_LABELS.put("isKeyEntry", "isKeyEntry, signing entry");
  }

  static final double MIB = 1024 * 1024;

  /** One sample: {@code iterations} calls in {@code nanos}. */
  static final class Sample {
    final String suite;
    final int size;
    final String op;
    final String method;
    final int round;
    final long iterations;
    final long nanos;

    Sample(String[] f) {
      suite = f[0];
      size = Integer.parseInt(f[1]);
      op = f[2];
      method = f[3];
      round = Integer.parseInt(f[4]);
      iterations = Long.parseLong(f[5]);
      nanos = Long.parseLong(f[6]);
    }

    double rate() {
      return iterations / (nanos / 1e9);
    }

    double nanosPerCall() {
      return (double) nanos / iterations;
    }
  }

  /** A median with the smallest and largest value it was taken from. */
  static final class Spread {
    final double median;
    final double min;
    final double max;
    final int count;

    Spread(List<Double> values) {
      List<Double> sorted = new ArrayList<>(values);
      Collections.sort(sorted);
      count = sorted.size();
      if (count == 0) {
        median = min = max = Double.NaN;
        return;
      }
      median = count % 2 == 1
          ? sorted.get(count / 2)
          : (sorted.get(count / 2 - 1) + sorted.get(count / 2)) / 2;
      min = sorted.get(0);
      max = sorted.get(count - 1);
    }

    boolean present() {
      return count > 0;
    }
  }

  /** A target: what is held to what, the figure, and whether it passes. */
  static final class Target {
    final String area;
    final String what;
    final String figure;
    final Boolean pass; // null: not measured

    Target(String area, String what, String figure, Boolean pass) {
      this.area = area;
      this.what = what;
      this.figure = figure;
      this.pass = pass;
    }

    String mark() {
      return pass == null ? "MISSING" : pass ? "PASS" : "FAIL";
    }
  }

  private final List<Target> targets = new ArrayList<>();
  private final List<Sample> samples = new ArrayList<>();
  private final StringBuilder md = new StringBuilder();
  private PrintWriter results;

  static void write(Path out) throws Exception {
    new Report().writeAll(out);
  }

  // ---- reading -------------------------------------------------------------------------------

  /** Splits one CSV line; fields may be quoted, with no quotes inside. */
  static String[] fields(String line) {
    List<String> parts = new ArrayList<>();
    StringBuilder field = new StringBuilder();
    boolean quoted = false;
    for (int i = 0; i < line.length(); i++) {
      char c = line.charAt(i);
      if (c == '"') {
        quoted = !quoted;
      } else if (c == ',' && !quoted) {
        parts.add(field.toString());
        field.setLength(0);
      } else {
        field.append(c);
      }
    }
    parts.add(field.toString());
    return parts.toArray(new String[0]);
  }

  static List<String[]> readCsv(Path file) throws IOException {
    List<String[]> rows = new ArrayList<>();
    if (!Files.exists(file)) {
      return rows;
    }
    List<String> lines = Files.readAllLines(file, StandardCharsets.UTF_8);
    for (int i = 1; i < lines.size(); i++) {
      if (!lines.get(i).isBlank()) {
        rows.add(fields(lines.get(i)));
      }
    }
    return rows;
  }

  static Map<String, String> readKeyValues(Path file) throws IOException {
    Map<String, String> values = new LinkedHashMap<>();
    for (String[] row : readCsv(file)) {
      if (row.length >= 2) {
        values.put(row[0], row[1]);
      }
    }
    return values;
  }

  private List<Sample> select(String suite, int size, String op, String method) {
    List<Sample> chosen = new ArrayList<>();
    for (Sample s : samples) {
      if (s.suite.equals(suite) && s.size == size && s.op.equals(op) && s.method.equals(method)) {
        chosen.add(s);
      }
    }
    return chosen;
  }

  private Spread rates(String suite, int size, String op, String method) {
    List<Double> values = new ArrayList<>();
    for (Sample s : select(suite, size, op, method)) {
      values.add(s.rate());
    }
    return new Spread(values);
  }

  private Spread nanosPerCall(String suite, int size, String op, String method) {
    List<Double> values = new ArrayList<>();
    for (Sample s : select(suite, size, op, method)) {
      values.add(s.nanosPerCall());
    }
    return new Spread(values);
  }

  /** Rate of {@code ours} over rate of {@code other}, round by round. */
  private Spread ratio(String suite, int size, String op, String ours, String other) {
    Map<Integer, Double> theirs = new TreeMap<>();
    for (Sample s : select(suite, size, op, other)) {
      theirs.put(s.round, s.rate());
    }
    List<Double> values = new ArrayList<>();
    for (Sample s : select(suite, size, op, ours)) {
      Double rate = theirs.get(s.round);
      if (rate != null) {
        values.add(s.rate() / rate);
      }
    }
    return new Spread(values);
  }

  // ---- formatting ----------------------------------------------------------------------------

  static String rate(Spread spread) {
    return spread.present() ? String.format(Locale.ROOT, "%,.0f", spread.median) : "–";
  }

  static String ratio(Spread spread) {
    return spread.present()
        ? String.format(Locale.ROOT, "%.3f [%.2f–%.2f]", spread.median, spread.min, spread.max)
        : "–";
  }

  static String duration(double nanos) {
    if (Double.isNaN(nanos)) {
      return "–";
    }
    if (nanos < 1e3) {
      return String.format(Locale.ROOT, "%.0f ns", nanos);
    }
    if (nanos < 1e6) {
      return String.format(Locale.ROOT, "%.2f µs", nanos / 1e3);
    }
    if (nanos < 1e9) {
      return String.format(Locale.ROOT, "%.2f ms", nanos / 1e6);
    }
    return String.format(Locale.ROOT, "%.2f s", nanos / 1e9);
  }

  static String ascii(String text) {
    return text.replace('–', '-').replace("µ", "u").replace("≥", ">=").replace("≤", "<=")
        .replace("×", "x");
  }

  /** Records the target and answers the figure with its mark, for a table cell. */
  private String judge(String area, String what, Spread spread, double bound, boolean atLeast) {
    if (!spread.present()) {
      targets.add(new Target(area, what, "not measured", null));
      return "– MISSING";
    }
    boolean pass = atLeast ? spread.median >= bound : spread.median <= bound;
    targets.add(new Target(area, what, ascii(ratio(spread)), pass));
    return ratio(spread) + " **" + (pass ? "PASS" : "FAIL") + "**";
  }

  private void line(String text) {
    md.append(text).append('\n');
  }

  // ---- sections ------------------------------------------------------------------------------

  private void writeAll(Path out) throws Exception {
    for (String name : new String[] {"rsa-samples.csv", "walk-samples.csv"}) {
      for (String[] row : readCsv(out.resolve(name))) {
        samples.add(new Sample(row));
      }
    }
    Map<String, String> environment = readKeyValues(out.resolve("environment.csv"));
    Map<String, String> run = readKeyValues(out.resolve("run.csv"));
    try (PrintWriter csv = new PrintWriter(
        Files.newBufferedWriter(out.resolve("results.csv"), StandardCharsets.UTF_8))) {
      results = csv;
      results.println("section,size,op,method,figure,median,min,max,rounds");
      writeHeader(environment, run);
      writeRsa();
      writeWalks(out);
      writeMemory(out);
      writeNativeWalks(out);
    }
    writePlots(out);
    writeTargetsSection();
    Files.writeString(out.resolve("report.md"), md.toString(), StandardCharsets.UTF_8);
    writeSummary(out, environment, run);
    System.out.println("report: " + out.resolve("report.md") + ", " + out.resolve("summary.txt"));
  }

  private void result(String section, int size, String op, String method, String figure,
      Spread spread) {
    if (spread.present()) {
      results.printf(Locale.ROOT, "%s,%d,%s,%s,%s,%.6g,%.6g,%.6g,%d%n", section, size, op, method,
          figure, spread.median, spread.min, spread.max, spread.count);
    }
  }

  static String machine() throws IOException {
    String model = "unknown CPU";
    int cores = 0;
    for (String l : Files.readAllLines(Path.of("/proc/cpuinfo"))) {
      if (l.startsWith("model name") && model.equals("unknown CPU")) {
        model = l.substring(l.indexOf(':') + 1).trim();
      }
      if (l.startsWith("processor")) {
        cores++;
      }
    }
    long memoryKib = 0;
    for (String l : Files.readAllLines(Path.of("/proc/meminfo"))) {
      if (l.startsWith("MemTotal:")) {
        memoryKib = Long.parseLong(l.replaceAll("[^0-9]", ""));
      }
    }
    String kernel = Files.readString(Path.of("/proc/sys/kernel/osrelease")).trim();
    return String.format(Locale.ROOT, "%s, %d cores, %.1f GiB memory, Linux %s", model, cores,
        memoryKib / MIB, kernel);
  }

  private void writeHeader(Map<String, String> environment, Map<String, String> run)
      throws IOException {
    line("# Brisvander benchmarks");
    line("");
    line("| | |");
    line("|---|---|");
    line("| date | " + ZonedDateTime.now().format(DateTimeFormatter.RFC_1123_DATE_TIME) + " |");
    line("| machine | " + machine() + " |");
    line("| JDK | " + environment.getOrDefault("jdk", "?") + " |");
    line("| OpenSSL | " + environment.getOrDefault("openssl", "?") + " |");
    line("| build | " + run.getOrDefault("build", "?") + ", " + run.getOrDefault("build tree", "?")
        + " |");
    line("| JVM options (RSA and walks) | `" + environment.getOrDefault("jvm_options", "?")
        + "` |");
    if (run.containsKey("failed phases")) {
      line("| **failed phases** | " + run.get("failed phases") + " (their figures are MISSING) |");
    }
    line("| measured in | " + run.getOrDefault("measured in", "?")
        + " (fixtures to memory phase) |");
    line("| cores busy before the run | " + run.getOrDefault("cores busy before the run", "?")
        + " |");
    for (Map.Entry<String, String> entry : run.entrySet()) {
      if (entry.getKey().startsWith("load before")) {
        line("| " + entry.getKey() + " | " + entry.getValue()
            + " (1, 5, 15 min; this run's own thread counts about 1) |");
      }
    }
    line("");
    line("Every comparison is measured in one run: the same JVM, keys and data for all its"
        + " contenders, which take turns round after round (the order turning each round), each"
        + " sample calibrated to about the same time. A ratio is ours over the other's rate of"
        + " the same round; tables show its median over the rounds and, in brackets, the"
        + " smallest and largest round. Targets are judged on the median. The natives reach the"
        + " emulated stores by the production path (XDG_DATA_HOME set, BRISVANDER_HOME unset, so"
        + " no fault file is read). Raw samples: rsa-samples.csv, walk-samples.csv, memory.csv,"
        + " store_walk.csv; the figures below: results.csv.");
    line("");
    String load = run.get("load note");
    if (load != null) {
      line("> " + load);
      line("");
    }
  }

  private void writeRsa() {
    line("## RSA: SHA1withRSA signatures, PKCS #1 v1.5 encryption");
    line("");
    line("- **ours, CRT info**: MSSignatureJNI.sign / MSCipherRSAJNI.decrypt, getKeyLength and"
        + " getBlockSize called directly with the CRT key info the provider builds; verify and"
        + " encrypt take the PKCS #1 public key, so they have one \"ours\" figure.");
    line("- **ours, by alias**: the same natives given the alias of a key entry installed with"
        + " Brisvander.setKeyEntry (self-signed certificate); the store holds that one entry.");
    line("- **JDK**: Signature \"SHA1withRSA\" of SunRsaSign and Cipher \"RSA/ECB/PKCS1Padding\""
        + " of SunJCE, initialised once. For the key size queries the JDK has no call of its"
        + " own; its figure is KeyFactory (SunRsaSign) importing the same CRT numbers plus"
        + " getModulus().bitLength(), for reference only.");
    line("- **OpenSSL**: OpenSSL's own loop in-process (one JNI call per sample, key imported"
        + " once): EVP_DigestSignInit + EVP_DigestSign with SHA-1; SHA-1 of the data +"
        + " EVP_PKEY_verify; EVP_PKEY_encrypt and EVP_PKEY_decrypt with RSA_PKCS1_PADDING; for"
        + " the key size queries, each iteration converts the same little-endian CRT numbers,"
        + " imports them with EVP_PKEY_fromdata and asks EVP_PKEY_get_bits (getKeyLength) or"
        + " EVP_PKEY_get_size (getBlockSize).");
    line("- Data: " + RsaBench.DATA_LENGTH + " bytes signed, " + RsaBench.PLAIN_LENGTH
        + " bytes encrypted. Before timing, every way's output is checked against the others"
        + " (identical signatures, each cipher text decrypted by another way); every timed call's"
        + " result is checked too.");
    line("");
    for (int bits : RsaBench.SIZES) {
      line("### " + bits + " bits");
      line("");
      line("| operation | ours, CRT info (ops/s) | ours, by alias (ops/s) | JDK (ops/s) |"
          + " OpenSSL (ops/s) | ours / OpenSSL | ours / JDK | alias / OpenSSL |");
      line("|---|---:|---:|---:|---:|---|---|---|");
      for (String op : RSA_OPS) {
        boolean isPrivate = !op.equals("verify") && !op.equals("encrypt");
        String ours = isPrivate ? "crt" : "ours";
        Spread oursRate = rates("rsa", bits, op, ours);
        Spread aliasRate = rates("rsa", bits, op, "alias");
        Spread jdkRate = rates("rsa", bits, op, "jdk");
        Spread limitRate = rates("rsa", bits, op, "openssl");
        Spread toLimit = ratio("rsa", bits, op, ours, "openssl");
        Spread toJdk = ratio("rsa", bits, op, ours, "jdk");
        Spread aliasToLimit = ratio("rsa", bits, op, "alias", "openssl");
        result("rsa", bits, op, ours, "ops_per_second", oursRate);
        result("rsa", bits, op, "alias", "ops_per_second", aliasRate);
        result("rsa", bits, op, "jdk", "ops_per_second", jdkRate);
        result("rsa", bits, op, "openssl", "ops_per_second", limitRate);
        result("rsa", bits, op, ours + "/openssl", "ratio", toLimit);
        result("rsa", bits, op, ours + "/jdk", "ratio", toJdk);
        result("rsa", bits, op, "alias/openssl", "ratio", aliasToLimit);
        String area = "RSA " + bits;
        double bound = isPrivate ? 0.85 : 0.6;
        String limitCell = judge(area, String.format(Locale.ROOT, "%-12s %s / OpenSSL >= %.2f",
            op, isPrivate ? "CRT info" : "ours", bound), toLimit, bound, true);
        String jdkCell = ratio(toJdk);
        if (bits == 2048 && (op.equals("sign") || op.equals("decrypt"))) {
          jdkCell = judge(area, String.format(Locale.ROOT, "%-12s CRT info / %s >= 2.5", op,
              op.equals("sign") ? "SunRsaSign" : "SunJCE"), toJdk, 2.5, true);
        }
        line("| " + op + " | " + rate(oursRate) + " | " + (isPrivate ? rate(aliasRate) : "n/a")
            + " | " + rate(jdkRate) + " | " + rate(limitRate) + " | " + limitCell + " | "
            + jdkCell + " | " + (isPrivate ? ratio(aliasToLimit) : "n/a") + " |");
      }
      line("");
    }
    line("Targets: sign, decrypt and the key size queries with CRT info ≥ 0.85 of OpenSSL's"
        + " rate; verify and encrypt ≥ 0.6 of it; sign and decrypt with CRT info at 2048 bits"
        + " ≥ 2.5 × SunRsaSign / SunJCE. The alias path has no target of its own here.");
    line("");
  }

  private void writeWalks(Path out) throws IOException {
    line("## Store walks");
    line("");
    line("Stores of N certificates: N/2 key entries in \"MY\" (key-provider information naming"
        + " one container) and N/2 certificate entries in \"AddressBook\", built through the"
        + " emulation by bench_fixtures and kept under stores/N between runs. The 2048-bit"
        + " signing key is in the container; its entry is one of the N/2 key entries and is the"
        + " **last one the walk of \"MY\" reaches** (worst case), which the harness checks"
        + " (aliases lists it last among the key entries). Lookups of a present alias use that"
        + " entry, so they walk all of \"MY\"; the missing alias walks both stores. The cost per"
        + " certificate is the time per call over N, the certificates of both stores. Each JVM"
        + " walks one store; calls through the natives from Java.");
    line("");
    List<Integer> sizes = new ArrayList<>();
    for (Sample s : samples) {
      if (s.suite.equals("walk") && !sizes.contains(s.size)) {
        sizes.add(s.size);
      }
    }
    Collections.sort(sizes);
    StringBuilder head = new StringBuilder("| call |");
    StringBuilder rule = new StringBuilder("|---|");
    for (int n : sizes) {
      head.append(String.format(Locale.ROOT, " N = %,d: per call / per certificate |", n));
      rule.append("---:|");
    }
    line(head.toString());
    line(rule.toString());
    Path walkData = out.resolve("plots/walk.dat");
    try (PrintWriter dat = new PrintWriter(Files.newBufferedWriter(walkData))) {
      dat.print("# certificates");
      for (String op : WALK_OPS) {
        dat.print(" " + op);
      }
      dat.println(" sign-by-alias sign-crt");
      for (int n : sizes) {
        dat.print(n);
        for (String op : WALK_OPS) {
          dat.printf(Locale.ROOT, " %.6g", nanosPerCall("walk", n, op, "ours").median / 1e3);
        }
        dat.printf(Locale.ROOT, " %.6g %.6g%n",
            nanosPerCall("walk", n, "sign", "alias").median / 1e3,
            nanosPerCall("walk", n, "sign", "crt").median / 1e3);
      }
    }
    for (String op : WALK_OPS) {
      StringBuilder row = new StringBuilder("| " + WALK_LABELS.get(op) + " |");
      for (int n : sizes) {
        Spread perCall = nanosPerCall("walk", n, op, "ours");
        result("walk", n, op, "ours", "nanos_per_call", perCall);
        row.append(" ").append(duration(perCall.median)).append(" / ")
            .append(duration(perCall.median / n)).append(" |");
      }
      line(row.toString());
    }
    line("");
    line("Rounds: " + roundsOf("walk") + " per store; time per call is the median round (the"
        + " spread of each is in results.csv).");
    line("");
    line("![time per call against store size](plots/walk.png)");
    line("");
    line("### Walk targets");
    line("");
    line("| call | per certificate at 10,000 (≤ 2 µs) | at 1,000 | 10,000 / 1,000 (linear:"
        + " ≤ 1.5) |");
    line("|---|---|---|---|");
    for (String op : WALK_OPS) {
      Spread at10k = perCertificate(10000, op);
      Spread at1k = perCertificate(1000, op);
      String cell10k = judgeDuration("Walks", String.format(Locale.ROOT,
          "%-36s per certificate at 10,000 <= 2 us", WALK_LABELS.get(op)), at10k, 2000);
      String growth;
      if (at10k.present() && at1k.present()) {
        double factor = at10k.median / at1k.median;
        boolean pass = factor <= 1.5;
        targets.add(new Target("Walks", String.format(Locale.ROOT,
            "%-36s linear: 10,000 / 1,000 per certificate <= 1.5", WALK_LABELS.get(op)),
            String.format(Locale.ROOT, "%.2f (%s at 1,000, %s at 10,000)", factor,
                ascii(duration(at1k.median)), ascii(duration(at10k.median))), pass));
        growth = String.format(Locale.ROOT, "%.2f **%s**", factor, pass ? "PASS" : "FAIL");
      } else {
        targets.add(new Target("Walks", WALK_LABELS.get(op) + " linear", "not measured", null));
        growth = "– MISSING";
      }
      line("| " + WALK_LABELS.get(op) + " | " + cell10k + " | " + duration(at1k.median) + " | "
          + growth + " |");
    }
    line("");
    line("### Signing by alias (2048 bits, the entry walked last)");
    line("");
    line("| N | sign by alias (ops/s) | sign with CRT info (ops/s) | alias / CRT info |");
    line("|---:|---:|---:|---|");
    for (int n : sizes) {
      Spread byAlias = rates("walk", n, "sign", "alias");
      Spread byCrt = rates("walk", n, "sign", "crt");
      Spread share = ratio("walk", n, "sign", "alias", "crt");
      result("walk", n, "sign", "alias", "ops_per_second", byAlias);
      result("walk", n, "sign", "crt", "ops_per_second", byCrt);
      result("walk", n, "sign", "alias/crt", "ratio", share);
      String cell = n == 1000
          ? judge("Walks", "sign by alias in the 1,000 store / sign with CRT info >= 0.5", share,
              0.5, true)
          : ratio(share);
      line(String.format(Locale.ROOT, "| %,d | %s | %s | %s |", n, rate(byAlias), rate(byCrt),
          cell));
    }
    if (!sizes.contains(1000)) {
      judge("Walks", "sign by alias in the 1,000 store / sign with CRT info >= 0.5",
          new Spread(List.of()), 0.5, true);
    }
    line("");
  }

  private int roundsOf(String suite) {
    int rounds = 0;
    for (Sample s : samples) {
      if (s.suite.equals(suite)) {
        rounds = Math.max(rounds, s.round + 1);
      }
    }
    return rounds;
  }

  private Spread perCertificate(int n, String op) {
    List<Double> values = new ArrayList<>();
    for (Sample s : select("walk", n, op, "ours")) {
      values.add(s.nanosPerCall() / n);
    }
    return new Spread(values);
  }

  private String judgeDuration(String area, String what, Spread spread, double boundNanos) {
    if (!spread.present()) {
      targets.add(new Target(area, what, "not measured", null));
      return "– MISSING";
    }
    boolean pass = spread.median <= boundNanos;
    String figure = duration(spread.median) + " [" + duration(spread.min) + "–"
        + duration(spread.max) + "]";
    targets.add(new Target(area, what, ascii(figure), pass));
    return figure + " **" + (pass ? "PASS" : "FAIL") + "**";
  }

  private void writeMemory(Path out) throws IOException {
    line("## Memory: resident set size over many calls");
    line("");
    List<String[]> rows = readCsv(out.resolve("memory.csv"));
    line("A JVM of its own with a fixed, pre-touched heap (" + "-Xms = -Xmx, -XX:+AlwaysPreTouch),"
        + " so that heap growth cannot show as RSS. For each kind of call: a short probe, a"
        + " warm-up of a tenth of the calls, then VmRSS (/proc/self/status) before and after the"
        + " calls. Store calls run on a 10-certificate store (the lookups use the key entry"
        + " walked last); the crypto calls use a " + MemoryBench.KEY_BITS + "-bit key, with CRT"
        + " info except sign by alias. Target: flat, at most 2 MiB of growth over a million"
        + " calls. A kind too slow for a million calls in its time budget gets the largest count"
        + " that fits (marked); its growth is then also scaled to a million calls, and that"
        + " scaled figure is what is judged.");
    line("");
    line("| call | calls | warm-up | RSS before (KiB) | RSS after (KiB) | growth (KiB) |"
        + " bytes per call | growth per million (KiB) | target |");
    line("|---|---:|---:|---:|---:|---:|---:|---:|---|");
    for (String[] r : rows) {
      String kind = r[0];
      long warmUp = Long.parseLong(r[3]);
      long calls = Long.parseLong(r[4]);
      long before = Long.parseLong(r[5]);
      long after = Long.parseLong(r[6]);
      boolean limited = Boolean.parseBoolean(r[8]);
      long growthKib = after - before;
      double perCall = growthKib * 1024.0 / calls;
      double perMillionKib = growthKib * (1e6 / calls);
      boolean pass = perMillionKib * 1024 <= 2 * MIB;
      String figure = String.format(Locale.ROOT, "%+d KiB over %,d calls%s (%.3f bytes per call)",
          growthKib, calls, limited ? String.format(Locale.ROOT,
              ", time-limited; %+.0f KiB per million", perMillionKib) : "", perCall);
      targets.add(new Target("Memory", String.format(Locale.ROOT, "%-28s growth <= 2 MiB per"
          + " million calls", kind), figure, pass));
      results.printf(Locale.ROOT, "memory,%d,\"%s\",ours,growth_kib,%d,%d,%d,%d%n", calls, kind,
          growthKib, growthKib, growthKib, 1);
      line(String.format(Locale.ROOT, "| %s | %,d%s | %,d | %,d | %,d | %+,d | %.3f | %+,.0f |"
          + " **%s** |", kind, calls, limited ? " (time-limited)" : "", warmUp, before, after,
          growthKib, perCall, perMillionKib, pass ? "PASS" : "FAIL"));
    }
    if (rows.isEmpty()) {
      targets.add(new Target("Memory", "RSS growth", "not measured", null));
      line("| not measured | | | | | | | | MISSING |");
    }
    line("");
  }

  private void writeNativeWalks(Path out) throws IOException {
    Path file = out.resolve("store_walk.csv");
    if (!Files.exists(file)) {
      return;
    }
    line("## Store walks at the C++ level (store_walk_bench, Google Benchmark)");
    line("");
    line("The same stores, walked by the keystore functions with no JVM or JNI in between;"
        + " one call before timing reads the store in. For reference; no target. (The warning"
        + " \"Library was built as DEBUG\" it prints is about Debian's build of the Google"
        + " Benchmark library itself; the code measured is the build named above.)");
    line("");
    line("| benchmark | time per call | per certificate | iterations |");
    line("|---|---:|---:|---:|");
    List<String> lines = Files.readAllLines(file);
    String[] header = null;
    for (String l : lines) {
      String[] f = fields(l);
      if (f.length > 4 && f[0].equals("name")) {
        header = f;
        continue;
      }
      if (header == null || f.length < 5 || !f[0].startsWith("BM_")) {
        continue;
      }
      Map<String, String> row = new LinkedHashMap<>();
      for (int i = 0; i < Math.min(header.length, f.length); i++) {
        row.put(header[i], f[i]);
      }
      double time = Double.parseDouble(row.get("real_time"));
      double scale = Map.of("ns", 1.0, "us", 1e3, "ms", 1e6, "s", 1e9)
          .getOrDefault(row.get("time_unit"), 1.0);
      String perCertificate = row.getOrDefault("per_certificate", "");
      line("| " + f[0] + " | " + duration(time * scale) + " | "
          + (perCertificate.isEmpty() ? "–" : duration(Double.parseDouble(perCertificate) * 1e9))
          + " | " + row.get("iterations") + " |");
    }
    line("");
  }

  private void writePlots(Path out) throws Exception {
    Path plots = out.resolve("plots");
    try (PrintWriter dat = new PrintWriter(Files.newBufferedWriter(plots.resolve("rsa.dat")))) {
      dat.println("# op ratio-1024 low high ratio-2048 low high ratio-4096 low high");
      for (String op : RSA_OPS) {
        String ours = op.equals("verify") || op.equals("encrypt") ? "ours" : "crt";
        dat.print(op);
        for (int bits : RsaBench.SIZES) {
          Spread s = ratio("rsa", bits, op, ours, "openssl");
          dat.printf(Locale.ROOT, " %.4f %.4f %.4f", s.present() ? s.median : 0,
              s.present() ? s.min : 0, s.present() ? s.max : 0);
        }
        dat.println();
      }
    }
    String script = String.join("\n",
        "set terminal pngcairo size 900,600 noenhanced font 'sans,10'",
        "set output '" + plots.resolve("walk.png") + "'",
        "set title 'Store walks through the natives: time per call (median round)'",
        "set logscale xy",
        "set xlabel 'certificates in the store (half key entries, half certificate entries)'",
        "set ylabel 'microseconds per call'",
        "set key top left",
        "set grid",
        "set xrange [5:20000]",
        "plot for [i=2:9] '" + plots.resolve("walk.dat")
            + "' using 1:i with linespoints lw 2 title columnhead(i)",
        "set output '" + plots.resolve("rsa.png") + "'",
        "unset logscale",
        "set title 'RSA: ours over OpenSSL (median, bars from the smallest to the largest round)'",
        "set ylabel 'ours / OpenSSL (rate)'",
        "set xlabel ''",
        "set xrange [*:*]",
        "set yrange [0:*]",
        "set style data histograms",
        "set style histogram errorbars gap 2 lw 1",
        "set style fill solid 0.6 border -1",
        "set key top right",
        "set arrow 1 from graph 0, first 0.85 to graph 1, first 0.85 nohead dt 2 lc rgb 'red'",
        "set arrow 2 from graph 0, first 0.6 to graph 1, first 0.6 nohead dt 3 lc rgb 'orange'",
        "plot '" + plots.resolve("rsa.dat") + "' using 2:3:4:xtic(1) title '1024 bits',"
            + " '' using 5:6:7 title '2048 bits', '' using 8:9:10 title '4096 bits'",
        "");
    // gnuplot reads "columnhead" from the comment line only when told; give it a header line.
    List<String> walk = Files.readAllLines(plots.resolve("walk.dat"));
    if (!walk.isEmpty()) {
      walk.set(0, walk.get(0).substring(2));
      Files.write(plots.resolve("walk.dat"), walk);
    }
    Files.writeString(plots.resolve("plots.gp"), script);
    try {
      Process gnuplot = new ProcessBuilder("gnuplot", plots.resolve("plots.gp").toString())
          .redirectErrorStream(true).start();
      String output = new String(gnuplot.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
      if (!gnuplot.waitFor(60, TimeUnit.SECONDS) || gnuplot.exitValue() != 0) {
        line("> gnuplot failed: " + output.trim());
      }
    } catch (IOException e) {
      line("> gnuplot did not run (" + e.getMessage() + "); the plot data is in plots/.");
    }
    line("## Plots");
    line("");
    line("![RSA ratios to OpenSSL](plots/rsa.png)");
    line("");
    line("The dashed lines are the targets: 0.85 for sign, decrypt and the key size queries, 0.6"
        + " for verify and encrypt.");
    line("");
  }

  private void writeTargetsSection() {
    int passed = 0;
    for (Target t : targets) {
      if (Boolean.TRUE.equals(t.pass)) {
        passed++;
      }
    }
    line("## Targets: " + passed + " of " + targets.size() + " pass");
    line("");
    line("| | area | target | figure |");
    line("|---|---|---|---|");
    for (Target t : targets) {
      line("| **" + t.mark() + "** | " + t.area + " | " + t.what.replaceAll("\\s+", " ") + " | "
          + t.figure + " |");
    }
    line("");
  }

  private void writeSummary(Path out, Map<String, String> environment, Map<String, String> run)
      throws IOException {
    int passed = 0;
    for (Target t : targets) {
      if (Boolean.TRUE.equals(t.pass)) {
        passed++;
      }
    }
    StringBuilder text = new StringBuilder();
    text.append("Brisvander benchmarks, ")
        .append(ZonedDateTime.now().format(DateTimeFormatter.ISO_LOCAL_DATE)).append(": ")
        .append(ascii(machine())).append('\n');
    text.append(environment.getOrDefault("jdk", "?")).append("; ")
        .append(environment.getOrDefault("openssl", "?")).append("; build ")
        .append(run.getOrDefault("build", "?")).append('\n');
    text.append("Ratios: median over interleaved rounds (min-max). ").append(passed)
        .append(" of ").append(targets.size()).append(" targets pass.\n");
    if (run.containsKey("failed phases")) {
      text.append("Failed phases: ").append(run.get("failed phases")).append('\n');
    }
    String area = "";
    for (Target t : targets) {
      if (!t.area.equals(area)) {
        area = t.area;
        text.append('\n').append(area).append('\n');
      }
      text.append(String.format(Locale.ROOT, "%-7s %s  %s%n", t.mark(), t.what, t.figure));
    }
    Files.writeString(out.resolve("summary.txt"), text.toString(), StandardCharsets.UTF_8);
  }
}
