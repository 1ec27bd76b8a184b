package quorvant.jce.provider.ms.bench;

import java.io.IOException;
import java.io.PrintWriter;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Random;
import quorvant.jce.provider.ms.Brisvander;
import quorvant.jce.provider.ms.MSCipherRSAJNI;
import quorvant.jce.provider.ms.MSSignatureJNI;

/**
 * Resident set size before and after a million calls of each kind, after a warm-up of a tenth
 * as many. Run in a JVM of fixed, pre-touched heap, so that what grows is native memory. A kind
 * too slow for a million calls in its time budget gets as many as fit, and says so.
 */
final class MemoryBench {
  static final int TARGET_CALLS = 1_000_000;
  static final int KEY_BITS = 512;

  private MemoryBench() {}

  private static void require(boolean ok, String what) {
    if (!ok) {
      throw new IllegalStateException("check failed: " + what);
    }
  }

  static long residentKib() throws IOException {
    for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
      if (line.startsWith("VmRSS:")) {
        return Long.parseLong(line.substring(6).trim().split("\\s+")[0]);
      }
    }
    throw new IllegalStateException("no VmRSS in /proc/self/status");
  }

  private static void repeat(String kind, Sampler.Call call, long count) throws Exception {
    for (long i = 0; i < count; i++) {
      if (!call.call()) {
        throw new IllegalStateException(kind + " gave a wrong result");
      }
    }
  }

  static void run(Path keys, Path out, double secondsPerKind) throws Exception {
    StoreManifest store = StoreManifest.ofCurrentStore();
    final int n = store.certificates;
    final String alias = store.signingAlias;
    final byte[] aliasBytes = BenchKey.aliasBytes(alias);
    BenchKey key = BenchKey.load(keys, KEY_BITS);
    final byte[][] crt = key.crtKeyInfo;
    final byte[] publicKey = key.publicKeyDer;
    final byte[] noAlias = new byte[0];
    final int k = key.modulusLength();
    final byte[] data = new byte[RsaBench.DATA_LENGTH];
    final byte[] plain = new byte[RsaBench.PLAIN_LENGTH];
    new Random(KEY_BITS).nextBytes(data);
    new Random(KEY_BITS + 1).nextBytes(plain);
    final byte[] signature = MSSignatureJNI.sign(crt, null, "SHA1", data);
    final byte[] cipher = MSCipherRSAJNI.encrypt(publicKey, plain, true);
    require(signature != null && cipher != null,
        "sign and encrypt with the " + KEY_BITS + "-bit key");
    require(java.util.Arrays.equals(signature, MSSignatureJNI.sign(null, aliasBytes, "SHA1", data)),
        "the store's key is rsa-" + KEY_BITS);

    Map<String, Sampler.Call> kinds = new LinkedHashMap<>();
    kinds.put("size", () -> Brisvander.size() == n);
    kinds.put("aliases", () -> {
      String[] listed = Brisvander.aliases();
      return listed != null && listed.length == n;
    });
    kinds.put("containsAlias", () -> Brisvander.containsAlias(alias));
    kinds.put("getCertificate", () -> Brisvander.getCertificate(alias) != null);
    kinds.put("isKeyEntry", () -> Brisvander.isKeyEntry(alias));
    kinds.put("sign (CRT key info)", () -> {
      byte[] made = MSSignatureJNI.sign(crt, null, "SHA1", data);
      return made != null && made.length == k;
    });
    kinds.put("verify", () -> MSSignatureJNI.verify(publicKey, "SHA1", signature, data));
    kinds.put("encrypt", () -> {
      byte[] made = MSCipherRSAJNI.encrypt(publicKey, plain, true);
      return made != null && made.length == k;
    });
    kinds.put("decrypt (CRT key info)", () -> {
      byte[] made = MSCipherRSAJNI.decrypt(crt, null, cipher, true);
      return made != null && made.length == plain.length;
    });
    kinds.put("getKeyLength (CRT key info)",
        () -> MSCipherRSAJNI.getKeyLength(crt, noAlias, false) == KEY_BITS);
    kinds.put("sign by alias", () -> {
      byte[] made = MSSignatureJNI.sign(null, aliasBytes, "SHA1", data);
      return made != null && made.length == k;
    });

    boolean fresh = !Files.exists(out.resolve("memory.csv"));
    try (PrintWriter csv = new PrintWriter(Files.newBufferedWriter(out.resolve("memory.csv"),
        java.nio.file.StandardOpenOption.CREATE, java.nio.file.StandardOpenOption.APPEND))) {
      if (fresh) {
        csv.println("kind,key_bits,store_certificates,warmup_calls,calls,rss_before_kib,"
            + "rss_after_kib,seconds,limited_by_time");
      }
      for (Map.Entry<String, Sampler.Call> kind : kinds.entrySet()) {
        String name = kind.getKey();
        Sampler.Call call = kind.getValue();
        // The rate, from a short probe that is also the start of the warm-up.
        long probeStart = System.nanoTime();
        long probed = 0;
        while (System.nanoTime() - probeStart < 200_000_000L) {
          repeat(name, call, 100);
          probed += 100;
        }
        double rate = probed / ((System.nanoTime() - probeStart) / 1e9);
        // The calls and their warm-up (a tenth) share the budget.
        long fits = (long) (rate * secondsPerKind / 1.1);
        long calls = Math.min(TARGET_CALLS, Math.max(1000, fits / 1000 * 1000));
        long warmUp = calls / 10;
        repeat(name, call, warmUp);
        System.gc();
        long before = residentKib();
        long start = System.nanoTime();
        repeat(name, call, calls);
        double seconds = (System.nanoTime() - start) / 1e9;
        long after = residentKib();
        csv.printf("\"%s\",%d,%d,%d,%d,%d,%d,%.3f,%b%n", name, KEY_BITS, n, warmUp, calls,
            before, after, seconds, calls < TARGET_CALLS);
        csv.flush();
        System.out.printf("memory %s: %d calls in %.1f s, RSS %d -> %d KiB%n", name, calls,
            seconds, before, after);
      }
    }
  }
}
