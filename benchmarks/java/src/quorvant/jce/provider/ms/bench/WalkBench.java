package quorvant.jce.provider.ms.bench;

import java.io.PrintWriter;
import java.nio.file.Path;
import java.security.Signature;
import java.util.Arrays;
import java.util.Random;
import quorvant.jce.provider.ms.Brisvander;
import quorvant.jce.provider.ms.MSSignatureJNI;

/**
 * Store walks through the natives on the store the emulation is pointed at, and signing by the
 * alias of the key entry a walk of "MY" reaches last, beside signing with that key's CRT info.
 */
final class WalkBench {
  private WalkBench() {}

  private static void require(boolean ok, String what) {
    if (!ok) {
      throw new IllegalStateException("check failed: " + what);
    }
  }

  static void run(Path keys, Path out, int rounds, long sampleNanos, long warmUpNanos)
      throws Exception {
    StoreManifest store = StoreManifest.ofCurrentStore();
    final int n = store.certificates;
    final String present = store.signingAlias;
    final String missing = store.missingAlias;
    require(store.signingPosition == store.keyEntries,
        "the signing entry is walked last in MY (" + store.signingPosition + " of "
            + store.keyEntries + ")");
    require(Brisvander.size() == n, "size " + Brisvander.size() + " of " + n);
    String[] aliases = Brisvander.aliases();
    require(aliases != null && aliases.length == n, "aliases");
    // Key entries come first, in the order of the walk of "MY".
    require(present.equals(aliases[store.keyEntries - 1]), "the signing entry is listed last");
    require(Brisvander.containsAlias(present) && !Brisvander.containsAlias(missing), "lookups");
    require(Brisvander.isKeyEntry(present), "isKeyEntry");

    BenchKey key = BenchKey.load(keys, 2048);
    final byte[] expected = Brisvander.getCertificate(present);
    require(expected != null, "getCertificate");
    final byte[][] crt = key.crtKeyInfo;
    final byte[] aliasBytes = BenchKey.aliasBytes(present);
    final byte[] data = new byte[RsaBench.DATA_LENGTH];
    new Random(n).nextBytes(data);
    byte[] byAlias = MSSignatureJNI.sign(null, aliasBytes, "SHA1", data);
    byte[] byCrt = MSSignatureJNI.sign(crt, null, "SHA1", data);
    Signature verifier = Signature.getInstance("SHA1withRSA", "SunRsaSign");
    verifier.initVerify(key.publicKey);
    verifier.update(data);
    require(byAlias != null && Arrays.equals(byAlias, byCrt)
        && verifier.verify(BenchKey.reversed(byAlias)), "the store's key is rsa-2048");
    final int k = key.modulusLength();

    Sampler sampler = new Sampler(warmUpNanos, sampleNanos, rounds);
    sampler.add("size", "ours", "size", () -> Brisvander.size() == n);
    sampler.add("aliases", "ours", "aliases", () -> {
      String[] listed = Brisvander.aliases();
      return listed != null && listed.length == n;
    });
    sampler.add("containsAlias-missing", "ours", "containsAlias of a missing alias",
        () -> !Brisvander.containsAlias(missing));
    sampler.add("containsAlias-present", "ours", "containsAlias of the signing entry",
        () -> Brisvander.containsAlias(present));
    sampler.add("getCertificate", "ours", "getCertificate", () -> {
      byte[] encoded = Brisvander.getCertificate(present);
      return encoded != null && encoded.length == expected.length;
    });
    sampler.add("isKeyEntry", "ours", "isKeyEntry", () -> Brisvander.isKeyEntry(present));
    sampler.add("sign", "alias", "sign by alias", () -> {
      byte[] signature = MSSignatureJNI.sign(null, aliasBytes, "SHA1", data);
      return signature != null && signature.length == k;
    });
    sampler.add("sign", "crt", "sign with CRT key info", () -> {
      byte[] signature = MSSignatureJNI.sign(crt, null, "SHA1", data);
      return signature != null && signature.length == k;
    });
    long started = System.nanoTime();
    try (PrintWriter csv = Sampler.openCsv(out.resolve("walk-samples.csv"))) {
      sampler.run("walk", n, csv);
    }
    System.out.printf("walk %d: %.1f s%n", n, (System.nanoTime() - started) / 1e9);
  }
}
