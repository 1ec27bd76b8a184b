package quorvant.jce.provider.ms.bench;

import java.io.IOException;
import java.io.PrintWriter;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Interleaved measurement: every contender of a comparison is warmed up and calibrated to about
 * the same time per sample, then sampled once per round, the order of the contenders turning
 * from round to round, so that the ratio of a round compares figures taken seconds apart.
 */
final class Sampler {
  /** One operation; answers false when its result is wrong, which ends the run. */
  interface Call {
    boolean call() throws Exception;
  }

  /** {@code n} operations, answering the nanoseconds they took (negative on failure). */
  interface Loop {
    long run(int n) throws Exception;
  }

  /** A contender: what it is measured for (the operation), who it is (the method), its loop. */
  static final class Contender {
    final String op;
    final String method;
    final Loop loop;
    int iterations;

    Contender(String op, String method, Loop loop) {
      this.op = op;
      this.method = method;
      this.loop = loop;
    }
  }

  private final long warmUpNanos;
  private final long sampleNanos;
  private final int rounds;
  private final List<Contender> contenders = new ArrayList<>();

  Sampler(long warmUpNanos, long sampleNanos, int rounds) {
    this.warmUpNanos = warmUpNanos;
    this.sampleNanos = sampleNanos;
    this.rounds = rounds;
  }

  /** A loop of Java calls, each checked; System.nanoTime around the whole loop. */
  static Loop loopOf(String what, Call call) {
    return n -> {
      long start = System.nanoTime();
      for (int i = 0; i < n; i++) {
        if (!call.call()) {
          throw new IllegalStateException(what + " gave a wrong result");
        }
      }
      return System.nanoTime() - start;
    };
  }

  void add(String op, String method, Loop loop) {
    contenders.add(new Contender(op, method, loop));
  }

  void add(String op, String method, String what, Call call) {
    add(op, method, loopOf(what, call));
  }

  private static long checked(Contender contender, long nanos) {
    if (nanos < 0) {
      throw new IllegalStateException(
          contender.op + " by " + contender.method + " failed inside its loop");
    }
    return Math.max(nanos, 1);
  }

  /**
   * Runs the contender until {@code warmUpNanos} have passed (at least once), then sets its
   * iterations per sample from the rate seen last.
   */
  private void calibrate(Contender contender) throws Exception {
    int n = 1;
    long spent = 0;
    while (true) {
      long nanos = checked(contender, contender.loop.run(n));
      spent += nanos;
      if (spent >= warmUpNanos || nanos >= sampleNanos) {
        double perCall = (double) nanos / n;
        contender.iterations = (int) Math.max(1, Math.min(1 << 28, sampleNanos / perCall));
        return;
      }
      long remaining = warmUpNanos - spent;
      n = (int) Math.min(1 << 28, Math.max(n * 2L, Math.min(n * 16L, remaining * n / nanos / 2)));
    }
  }

  /** Calibrates every contender, then takes the rounds; one CSV line per sample. */
  void run(String suite, int size, PrintWriter out) throws Exception {
    for (Contender contender : contenders) {
      calibrate(contender);
    }
    for (int round = 0; round < rounds; round++) {
      List<Contender> order = new ArrayList<>();
      for (int at = 0; at < contenders.size(); at++) {
        order.add(contenders.get((at + round) % contenders.size()));
      }
      for (Contender contender : order) {
        long nanos = checked(contender, contender.loop.run(contender.iterations));
        out.printf(
            "%s,%d,%s,%s,%d,%d,%d%n",
            suite, size, contender.op, contender.method, round, contender.iterations, nanos);
      }
      out.flush();
    }
  }

  static final String HEADER = "suite,size,op,method,round,iterations,nanos";

  static PrintWriter openCsv(Path file) throws IOException {
    boolean fresh = !Files.exists(file);
    PrintWriter out = new PrintWriter(Files.newBufferedWriter(file,
        java.nio.file.StandardOpenOption.CREATE, java.nio.file.StandardOpenOption.APPEND));
    if (fresh) {
      out.println(HEADER);
    }
    return out;
  }
}
