package quorvant.jce.provider.ms;

import static quorvant.jce.provider.ms.HostileValues.CERTIFICATE_ALIAS;
import static quorvant.jce.provider.ms.HostileValues.KEY_BITS;
import static quorvant.jce.provider.ms.HostileValues.LEAF_ALIAS;
import static quorvant.jce.provider.ms.HostileValues.MIB;
import static quorvant.jce.provider.ms.HostileValues.STRINGS;
import static quorvant.jce.provider.ms.HostileValues.WRONG_ELEMENTS;
import static quorvant.jce.provider.ms.HostileValues.resized;
import static quorvant.jce.provider.ms.HostileValues.uniform;
import static quorvant.jce.provider.ms.HostileValues.with;
import static quorvant.jce.provider.ms.HostileValues.wrongArrays;

import java.io.PrintStream;
import java.math.BigInteger;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.Random;
import java.util.Set;
import java.util.TreeMap;
import java.util.TreeSet;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.function.Function;
import java.util.function.Predicate;
import java.util.function.Supplier;
import java.util.stream.Stream;
import quorvant.jce.provider.ms.HostileValues.Huge;
import quorvant.jce.provider.ms.HostileValues.Valid;

/**
 * Child process of {@link HostileCallerTest}: every native called the way a careless or hostile
 * caller would, under -Xcheck:jni, on a store of its own. Each case prints {@code CASE name}
 * before it runs and {@code PASS name} or {@code FAIL name: why} after, so that the parent can pin
 * whatever the VM prints (a JNI warning, a fatal error) on the case that caused it.
 *
 * <p>The store holds one key entry (key1, chain leaf, mid2, mid1, root) and one certificate entry.
 * Every case must leave its files as they were: the failing calls write nothing, and the calls
 * that succeed write only what is already there.
 */
public final class HostileCalls {
  static final String DONE = "DONE";
  private static final PrintStream out = System.out;

  private HostileCalls() {}

  /** One case: its calls and their checks. */
  interface Body {
    void run(Verdicts verdicts) throws Exception;
  }

  record Case(String name, Body body) {}

  /** The wrong answers a case met; it passes when there are none. Shared by threads. */
  static final class Verdicts {
    private final List<String> wrong = Collections.synchronizedList(new ArrayList<>());

    void expect(String variant, Object expected, Object actual) {
      if (!Objects.deepEquals(expected, actual)) {
        wrong.add(variant + ": expected " + show(expected) + ", got " + show(actual));
      }
    }

    /** One of the answers a failure may give, such as null or the bad-data marker. */
    void expectOneOf(String variant, Object actual, Object... allowed) {
      for (Object one : allowed) {
        if (Objects.deepEquals(one, actual)) {
          return;
        }
      }
      wrong.add(variant + ": expected one of " + show(allowed) + ", got " + show(actual));
    }

    void expectThat(String variant, String what, boolean holds, Object actual) {
      if (!holds) {
        wrong.add(variant + ": expected " + what + ", got " + show(actual));
      }
    }

    void fail(String variant, String why) {
      wrong.add(variant + ": " + why);
    }

    String summary() {
      synchronized (wrong) {
        if (wrong.isEmpty()) {
          return null;
        }
        List<String> first = wrong.subList(0, Math.min(8, wrong.size()));
        return wrong.size() + " wrong: " + String.join("; ", first);
      }
    }
  }

  static String show(Object value) {
    if (value instanceof byte[] bytes) {
      return "byte[" + bytes.length + "]" + (bytes.length <= 8 ? Arrays.toString(bytes) : "");
    }
    if (value instanceof Object[] objects) {
      List<String> shown = new ArrayList<>();
      for (int i = 0; i < Math.min(objects.length, 6); i++) {
        shown.add(show(objects[i]));
      }
      String type = objects.getClass().getComponentType().getSimpleName();
      return type + "[" + objects.length + "]" + shown;
    }
    if (value instanceof String text) {
      return text.length() > 60 ? "String(" + text.length() + ")" : "\"" + text + "\"";
    }
    return String.valueOf(value);
  }

  static Map<String, List<Case>> families() {
    Map<String, List<Case>> families = new LinkedHashMap<>();
    families.put("nulls", nullCases());
    families.put("element-types", elementTypeCases());
    families.put("crt-shapes", crtShapeCases());
    families.put("huge", hugeCases());
    families.put("strings", stringCases());
    families.put("threads", List.of(new Case("every family from 16 threads at once",
        HostileCalls::everyFamilyFromThreads)));
    return families;
  }

  // ---------------------------------------------------------------- nulls

  /** The natives, each with every combination of nulls in its reference positions. */
  static List<Case> nullCases() {
    List<Case> cases = new ArrayList<>();
    cases.add(nulls("Brisvander.printString", () -> args("printed"),
        a -> printed((String) a[0]), mask -> null));
    cases.add(nulls("Brisvander.size", () -> args(), a -> Brisvander.size(), mask -> 2));
    cases.add(nulls("Brisvander.aliases", () -> args(), a -> Brisvander.aliases(),
        mask -> new String[] {LEAF_ALIAS, CERTIFICATE_ALIAS}));
    cases.add(nulls("Brisvander.containsAlias", () -> args(LEAF_ALIAS),
        a -> Brisvander.containsAlias((String) a[0]), mask -> mask == 0));
    cases.add(nulls("Brisvander.getCertificateAlias", () -> args(Valid.LEAF.clone()),
        a -> Brisvander.getCertificateAlias((byte[]) a[0]),
        mask -> mask == 0 ? LEAF_ALIAS : null));
    cases.add(nulls("Brisvander.getCertificate", () -> args(LEAF_ALIAS),
        a -> Brisvander.getCertificate((String) a[0]), mask -> mask == 0 ? Valid.LEAF : null));
    cases.add(nulls("Brisvander.getCertificateChain", () -> args(LEAF_ALIAS),
        a -> Brisvander.getCertificateChain((String) a[0]),
        mask -> mask == 0 ? new byte[][] {Valid.LEAF, Valid.MID2, Valid.MID1, Valid.ROOT} : null));
    cases.add(nulls("Brisvander.isKeyEntry", () -> args(LEAF_ALIAS),
        a -> Brisvander.isKeyEntry((String) a[0]), mask -> mask == 0));
    cases.add(nulls("Brisvander.isCertificateEntry", () -> args(CERTIFICATE_ALIAS),
        a -> Brisvander.isCertificateEntry((String) a[0]), mask -> mask == 0));
    cases.add(nulls("Brisvander.getKey", () -> args(LEAF_ALIAS, "pw".toCharArray()),
        a -> Brisvander.getKey((String) a[0], (char[]) a[1]), mask -> null));
    // The password is never read: the key info and the chain decide.
    cases.add(nulls("Brisvander.setKeyEntry",
        () -> args(Valid.crt(), "pw".toCharArray(), Valid.chain()),
        a -> Brisvander.setKeyEntry((Object[]) a[0], (char[]) a[1], (Object[]) a[2]),
        mask -> (mask & 0b101) == 0));
    cases.add(nulls("Brisvander.setCertificateEntry", () -> args(Valid.CERTIFICATE.clone()),
        a -> Brisvander.setCertificateEntry((byte[]) a[0]), mask -> mask == 0));
    cases.add(nulls("Brisvander.deleteEntry", () -> args("CN=Nobody,00"),
        a -> Brisvander.deleteEntry((String) a[0]), mask -> false));
    cases.add(nulls("MSCertStoreJNI.getAllCertificates", () -> args("Root"),
        a -> MSCertStoreJNI.getAllCertificates((String) a[0]),
        mask -> mask == 0 ? new byte[][] {Valid.ROOT} : null));
    // The alias wins over the key info; without either there is no key.
    cases.add(nulls("MSSignatureJNI.sign",
        () -> args(Valid.crt(), Valid.ALIAS.clone(), "SHA1", Valid.DATA.clone()),
        a -> MSSignatureJNI.sign((Object[]) a[0], (byte[]) a[1], (String) a[2], (byte[]) a[3]),
        mask -> (mask & 0b1100) != 0 || (mask & 0b11) == 0b11 ? null : Valid.SIGNATURE));
    cases.add(nulls("MSSignatureJNI.verify",
        () -> args(Valid.PUBLIC_KEY.clone(), "SHA1", Valid.SIGNATURE.clone(), Valid.DATA.clone()),
        a -> MSSignatureJNI.verify((byte[]) a[0], (String) a[1], (byte[]) a[2], (byte[]) a[3]),
        mask -> mask == 0));
    Predicate<Object> encryptsSecret = answer -> Valid.decryptsTo(Valid.SECRET, answer);
    cases.add(nulls("MSCipherRSAJNI.encrypt",
        () -> args(Valid.PUBLIC_KEY.clone(), Valid.SECRET.clone()),
        a -> MSCipherRSAJNI.encrypt((byte[]) a[0], (byte[]) a[1], true),
        mask -> mask == 0 ? encryptsSecret : null));
    // The key info wins over the alias.
    cases.add(nulls("MSCipherRSAJNI.decrypt",
        () -> args(Valid.crt(), Valid.ALIAS.clone(), Valid.CIPHER_TEXT.clone()),
        a -> MSCipherRSAJNI.decrypt((Object[]) a[0], (byte[]) a[1], (byte[]) a[2], true),
        mask -> (mask & 0b100) != 0 || (mask & 0b11) == 0b11 ? null : Valid.SECRET));
    for (boolean isPublic : new boolean[] {false, true}) {
      String suffix = isPublic ? " (public key)" : " (key info or alias)";
      Supplier<Object[]> keyArgs =
          () -> args(Valid.crt(), (isPublic ? Valid.PUBLIC_KEY : Valid.ALIAS).clone());
      // The key or alias is read on every call; with it, key info or not, the key is known.
      Function<Integer, Object> bits = mask -> (mask & 0b10) != 0 ? 0 : KEY_BITS;
      cases.add(nulls("MSCipherRSAJNI.getKeyLength" + suffix, keyArgs,
          a -> MSCipherRSAJNI.getKeyLength((Object[]) a[0], (byte[]) a[1], isPublic), bits));
      cases.add(nulls("MSCipherRSAJNI.getBlockSize" + suffix, keyArgs,
          a -> MSCipherRSAJNI.getBlockSize((Object[]) a[0], (byte[]) a[1], isPublic), bits));
    }
    return cases;
  }

  private static Object[] args(Object... values) {
    return values;
  }

  private static Object printed(String text) {
    Brisvander.printString(text);
    return null;
  }

  /**
   * A case calling `call` with every subset of its arguments set to null: bit i of the mask nulls
   * argument i, and `expected` gives the answer for the mask, or a check of it.
   */
  static Case nulls(String name, Supplier<Object[]> args, Function<Object[], Object> call,
      Function<Integer, Object> expected) {
    return new Case(name, verdicts -> {
      int positions = args.get().length;
      for (int mask = 0; mask < 1 << positions; mask++) {
        Object[] a = args.get();
        for (int i = 0; i < positions; i++) {
          if ((mask & 1 << i) != 0) {
            a[i] = null;
          }
        }
        String variant = "nulls at " + Integer.toBinaryString(mask);
        Object want = expected.apply(mask);
        Object answer = call.apply(a);
        if (want instanceof Predicate<?> check) {
          @SuppressWarnings("unchecked")
          boolean right = ((Predicate<Object>) check).test(answer);
          verdicts.expectThat(variant, "the right answer", right, answer);
        } else {
          verdicts.expect(variant, want, answer);
        }
      }
    });
  }

  // ---------------------------------------------------------------- key info in five natives

  /** A native that reads CRT key info: its answer for bad key info, and a check for key1's. */
  record CrtNative(
      String name, Function<Object[], Object> call, Object neutral, Predicate<Object> right) {}

  static List<CrtNative> crtNatives() {
    return List.of(
        new CrtNative("MSSignatureJNI.sign",
            info -> MSSignatureJNI.sign(info, null, "SHA1", Valid.DATA.clone()),
            null, answer -> Arrays.equals(Valid.SIGNATURE, (byte[]) answer)),
        new CrtNative("MSCipherRSAJNI.decrypt",
            info -> MSCipherRSAJNI.decrypt(info, null, Valid.CIPHER_TEXT.clone(), true),
            null, answer -> Arrays.equals(Valid.SECRET, (byte[]) answer)),
        new CrtNative("MSCipherRSAJNI.getKeyLength",
            info -> MSCipherRSAJNI.getKeyLength(info, new byte[0], false),
            0, answer -> Objects.equals(KEY_BITS, answer)),
        new CrtNative("MSCipherRSAJNI.getBlockSize",
            info -> MSCipherRSAJNI.getBlockSize(info, new byte[0], false),
            0, answer -> Objects.equals(KEY_BITS, answer)),
        new CrtNative("Brisvander.setKeyEntry",
            info -> Brisvander.setKeyEntry(info, null, Valid.chain()),
            false, answer -> Objects.equals(true, answer)));
  }

  /** Elements that are not byte[] in every place of the key info and the chain. */
  static List<Case> elementTypeCases() {
    List<Case> cases = new ArrayList<>();
    for (CrtNative target : crtNatives()) {
      cases.add(new Case(target.name() + " key info", verdicts -> wrongKeyInfo(target, verdicts)));
    }
    cases.add(new Case("key info that is not read", HostileCalls::keyInfoNotRead));
    cases.add(new Case("Brisvander.setKeyEntry chain", HostileCalls::wrongChain));
    return cases;
  }

  static void wrongKeyInfo(CrtNative target, Verdicts verdicts) {
    for (int position = 0; position < 8; position++) {
      for (Map.Entry<String, Function<byte[], Object>> wrong : WRONG_ELEMENTS.entrySet()) {
        Object[] info = with(position, wrong.getValue().apply(Valid.CRT[position]));
        String variant = wrong.getKey() + " as " + Valid.CRT_NAMES[position];
        verdicts.expect(variant, target.neutral(), target.call().apply(info));
      }
    }
    for (Map.Entry<String, Object[]> wrong : wrongArrays(8).entrySet()) {
      verdicts.expect(wrong.getKey(), target.neutral(), target.call().apply(wrong.getValue()));
    }
    // A byte[][] is an Object[] of byte[]: the check must let it through.
    byte[][] typed = new byte[8][];
    for (int i = 0; i < 8; i++) {
      typed[i] = Valid.CRT[i].clone();
    }
    Object answer = target.call().apply(typed);
    verdicts.expectThat("byte[][]", "key1's answer", target.right().test(answer), answer);
  }

  static void keyInfoNotRead(Verdicts verdicts) {
    Object[] hostile = with(0, "not a number");
    verdicts.expect("sign by alias", Valid.SIGNATURE,
        MSSignatureJNI.sign(hostile, Valid.ALIAS.clone(), "SHA1", Valid.DATA.clone()));
    verdicts.expect("key length of a public key", KEY_BITS,
        MSCipherRSAJNI.getKeyLength(hostile, Valid.PUBLIC_KEY.clone(), true));
    verdicts.expect("block size of a public key", KEY_BITS,
        MSCipherRSAJNI.getBlockSize(wrongArrays(3).get("int[][]"), Valid.PUBLIC_KEY.clone(), true));
    // Key info given is used, even with an alias beside it.
    verdicts.expect("decrypt prefers the key info", null,
        MSCipherRSAJNI.decrypt(hostile, Valid.ALIAS.clone(), Valid.CIPHER_TEXT.clone(), true));
  }

  static void wrongChain(Verdicts verdicts) {
    byte[][] links = {Valid.LEAF, Valid.MID2, Valid.MID1, Valid.ROOT};
    for (Map.Entry<String, Function<byte[], Object>> wrong : WRONG_ELEMENTS.entrySet()) {
      for (int position = 0; position < 4; position++) {
        Object[] chain = Valid.chain();
        chain[position] = wrong.getValue().apply(links[position]);
        verdicts.expect(wrong.getKey() + " as link " + position, false,
            Brisvander.setKeyEntry(Valid.crt(), null, chain));
      }
      Object[] alone = {wrong.getValue().apply(Valid.LEAF)};
      verdicts.expect(wrong.getKey() + " alone", false,
          Brisvander.setKeyEntry(Valid.crt(), null, alone));
    }
    for (int length : new int[] {1, 4}) {
      for (Map.Entry<String, Object[]> wrong : wrongArrays(length).entrySet()) {
        verdicts.expect(wrong.getKey() + " of " + length, false,
            Brisvander.setKeyEntry(Valid.crt(), null, wrong.getValue()));
      }
    }
    verdicts.expect("empty chain", false, Brisvander.setKeyEntry(Valid.crt(), null, new Object[0]));
    verdicts.expect("null link", false, Brisvander.setKeyEntry(Valid.crt(), null, new Object[1]));
    byte[][] typed = {Valid.LEAF, Valid.MID2, Valid.MID1, Valid.ROOT};
    verdicts.expect("byte[][] chain", true, Brisvander.setKeyEntry(Valid.crt(), null, typed));
  }

  /** Key info of every wrong shape in each of the five natives that read it. */
  static List<Case> crtShapeCases() {
    List<Case> cases = new ArrayList<>();
    for (CrtNative target : crtNatives()) {
      cases.add(new Case(target.name(), verdicts -> badShapes(target, verdicts)));
    }
    cases.add(new Case("numbers that make no key", HostileCalls::numbersOfNoKey));
    return cases;
  }

  static void badShapes(CrtNative target, Verdicts verdicts) {
    for (Map.Entry<String, Supplier<Object[]>> shape : HostileValues.badCrtShapes().entrySet()) {
      Object answer = target.call().apply(shape.getValue().get());
      verdicts.expect(shape.getKey(), target.neutral(), answer);
    }
    // Only the first four bytes of e are read: a longer one is still key1's.
    for (int length : new int[] {5, 64}) {
      Object answer = target.call().apply(resized(7, length));
      verdicts.expectThat("e of " + length + " bytes", "key1's answer",
          target.right().test(answer), answer);
    }
  }

  // Numbers of the right lengths that make no key: the platform's answer, whatever it is, but
  // no crash. Not installed: that would replace key1 in the container.
  static void numbersOfNoKey(Verdicts verdicts) {
    Object[] info = uniform(128, 64, 0x5A);
    byte[] signature = MSSignatureJNI.sign(info, null, "SHA1", Valid.DATA.clone());
    verdicts.expectThat("sign", "null or 128 bytes",
        signature == null || signature.length == 128, signature);
    byte[] plain = MSCipherRSAJNI.decrypt(info, null, new byte[128], true);
    verdicts.expectThat("decrypt", "null or at most 128 bytes",
        plain == null || plain.length <= 128, plain);
    verdicts.expectOneOf("key length",
        MSCipherRSAJNI.getKeyLength(info, new byte[0], false), 0, 1024);
    verdicts.expectOneOf("block size",
        MSCipherRSAJNI.getBlockSize(info, new byte[0], false), 0, 1024);
  }

  // ---------------------------------------------------------------- huge arrays

  /** Arrays of 16 and 64 MiB wherever a native takes an array. */
  static List<Case> hugeCases() {
    return List.of(
        new Case("Brisvander certificates", HostileCalls::hugeCertificates),
        new Case("Brisvander.setKeyEntry", HostileCalls::hugeKeyEntries),
        new Case("MSSignatureJNI", HostileCalls::hugeSignatures),
        new Case("MSCipherRSAJNI", HostileCalls::hugeCipher));
  }

  static void hugeCertificates(Verdicts verdicts) {
    verdicts.expect("alias of 64 MiB", null, Brisvander.getCertificateAlias(Huge.ZEROS_64));
    verdicts.expect("alias of a leaf with a tail", null,
        Brisvander.getCertificateAlias(Huge.LEAF_WITH_TAIL));
    verdicts.expect("alias of a long SEQUENCE", null,
        Brisvander.getCertificateAlias(Huge.SEQUENCE_16));
    verdicts.expect("add 64 MiB", false, Brisvander.setCertificateEntry(Huge.ZEROS_64));
    verdicts.expect("add a long SEQUENCE", false,
        Brisvander.setCertificateEntry(Huge.SEQUENCE_16));
    verdicts.expect("add 16 MiB of FF", false, Brisvander.setCertificateEntry(Huge.ONES_16));
  }

  static void hugeKeyEntries(Verdicts verdicts) {
    verdicts.expect("a 16 MiB link", false,
        Brisvander.setKeyEntry(Valid.crt(), null, new Object[] {Huge.ZEROS_16}));
    verdicts.expect("a 16 MiB root", false,
        Brisvander.setKeyEntry(Valid.crt(), null, new Object[] {Valid.LEAF, Huge.SEQUENCE_16}));
    verdicts.expect("a 16 MiB modulus", false,
        Brisvander.setKeyEntry(with(0, Huge.ZEROS_16), null, Valid.chain()));
    // A link's local reference must go before the next link is read.
    Object[] chain = new Object[300];
    chain[0] = Valid.LEAF.clone();
    for (int i = 1; i < chain.length - 1; i++) {
      chain[i] = (i % 2 == 0 ? Valid.MID1 : Valid.MID2).clone();
    }
    chain[chain.length - 1] = Valid.ROOT.clone();
    verdicts.expect("a chain of 300", true, Brisvander.setKeyEntry(Valid.crt(), null, chain));
  }

  static void hugeSignatures(Verdicts verdicts) throws Exception {
    byte[] expected = Valid.signature("SHA1", Huge.DATA_64);
    verdicts.expect("sign 64 MiB by alias", expected,
        MSSignatureJNI.sign(null, Valid.ALIAS.clone(), "SHA1", Huge.DATA_64));
    verdicts.expect("sign 64 MiB by key info", Valid.signature("MD5", Huge.DATA_64),
        MSSignatureJNI.sign(Valid.crt(), null, "MD5", Huge.DATA_64));
    verdicts.expect("verify 64 MiB", true,
        MSSignatureJNI.verify(Valid.PUBLIC_KEY.clone(), "SHA1", expected, Huge.DATA_64));
    verdicts.expect("verify a 16 MiB signature", false,
        MSSignatureJNI.verify(Valid.PUBLIC_KEY.clone(), "SHA1", Huge.ZEROS_16, Valid.DATA));
    verdicts.expect("verify with a 16 MiB key", false,
        MSSignatureJNI.verify(Huge.SEQUENCE_16, "SHA1", Valid.SIGNATURE, Valid.DATA));
    verdicts.expect("sign with a 16 MiB alias", null,
        MSSignatureJNI.sign(null, Huge.ZEROS_16, "SHA1", Valid.DATA));
    // Lengths that agree, for a modulus of 128 Mibit: the blob is built, the platform refuses it.
    Object[] bigKey = new Object[8];
    for (int i = 0; i < 7; i++) {
      bigKey[i] = i == 0 || i == 6 ? Huge.ONES_16 : new byte[8 * MIB];
    }
    bigKey[7] = Valid.CRT[7].clone();
    verdicts.expect("sign with a 128 Mibit key", null,
        MSSignatureJNI.sign(bigKey, null, "SHA1", Valid.DATA));
  }

  static void hugeCipher(Verdicts verdicts) {
    byte[] badData = {1};
    verdicts.expect("encrypt 16 MiB", null,
        MSCipherRSAJNI.encrypt(Valid.PUBLIC_KEY.clone(), Huge.ZEROS_16, true));
    verdicts.expect("encrypt with a 16 MiB key", null,
        MSCipherRSAJNI.encrypt(Huge.SEQUENCE_16, Valid.SECRET.clone(), true));
    verdicts.expectOneOf("decrypt 16 MiB by key info",
        MSCipherRSAJNI.decrypt(Valid.crt(), null, Huge.ZEROS_16, true), null, badData);
    verdicts.expectOneOf("decrypt 64 MiB by alias",
        MSCipherRSAJNI.decrypt(null, Valid.ALIAS.clone(), Huge.DATA_64, false), null, badData);
    verdicts.expect("decrypt with a 16 MiB alias", null,
        MSCipherRSAJNI.decrypt(null, Huge.ZEROS_16, Valid.CIPHER_TEXT.clone(), true));
    for (boolean isPublic : new boolean[] {false, true}) {
      verdicts.expect("key length of 16 MiB, public " + isPublic, -1,
          MSCipherRSAJNI.getKeyLength(null, Huge.SEQUENCE_16, isPublic));
      verdicts.expect("block size of 16 MiB, public " + isPublic, -1,
          MSCipherRSAJNI.getBlockSize(null, Huge.ONES_16, isPublic));
    }
  }

  // ---------------------------------------------------------------- strings

  /** Every string and alias position with every kind of character. */
  static List<Case> stringCases() {
    List<Case> cases = new ArrayList<>();
    cases.add(stringCase("Brisvander.printString", HostileCalls::printed, null));
    cases.add(stringCase("Brisvander.containsAlias", Brisvander::containsAlias, false));
    cases.add(stringCase("Brisvander.getCertificate", Brisvander::getCertificate, null));
    cases.add(stringCase("Brisvander.getCertificateChain", Brisvander::getCertificateChain, null));
    cases.add(stringCase("Brisvander.isKeyEntry", Brisvander::isKeyEntry, false));
    cases.add(stringCase("Brisvander.isCertificateEntry", Brisvander::isCertificateEntry, false));
    cases.add(stringCase("Brisvander.getKey", s -> Brisvander.getKey(s, s.toCharArray()), null));
    // Near misses of both aliases among them: none may delete anything.
    cases.add(stringCase("Brisvander.deleteEntry", Brisvander::deleteEntry, false));
    cases.add(stringCase("MSCertStoreJNI.getAllCertificates",
        MSCertStoreJNI::getAllCertificates, null));
    cases.add(stringCase("MSSignatureJNI.sign digest",
        s -> MSSignatureJNI.sign(null, Valid.ALIAS.clone(), s, Valid.DATA.clone()), null));
    cases.add(stringCase("MSSignatureJNI.verify digest",
        s -> MSSignatureJNI.verify(Valid.PUBLIC_KEY, s, Valid.SIGNATURE, Valid.DATA), false));
    cases.add(new Case("digest names", HostileCalls::digestNames));
    cases.add(new Case("alias bytes", HostileCalls::aliasBytes));
    cases.add(new Case("the exact names still work", HostileCalls::exactNames));
    return cases;
  }

  static Case stringCase(String name, Function<String, Object> call, Object neutral) {
    return new Case(name, verdicts -> {
      for (String text : STRINGS) {
        verdicts.expect(show(text), neutral, call.apply(text));
      }
    });
  }

  static void digestNames(Verdicts verdicts) throws Exception {
    List<String> nearMisses =
        List.of("sha1", "SHA-1", "SHA1\u0000", " SHA1", "SHA1 ", "SHA", "SHA256", "MD4",
            "\uFF33HA1", "SHA1".repeat(1000));
    for (String name : nearMisses) {
      verdicts.expect("sign " + show(name), null,
          MSSignatureJNI.sign(Valid.crt(), null, name, Valid.DATA.clone()));
      verdicts.expect("verify " + show(name), false,
          MSSignatureJNI.verify(Valid.PUBLIC_KEY, name, Valid.SIGNATURE, Valid.DATA));
    }
    for (String name : List.of("SHA1", "MD5", "MD2")) {
      byte[] signature = Valid.signature(name, Valid.DATA);
      verdicts.expect("sign " + name, signature,
          MSSignatureJNI.sign(null, Valid.ALIAS.clone(), name, Valid.DATA.clone()));
      verdicts.expect("verify " + name, true,
          MSSignatureJNI.verify(Valid.PUBLIC_KEY, name, signature, Valid.DATA));
    }
  }

  static void aliasBytes(Verdicts verdicts) {
    for (byte[] alias : HostileValues.aliasBytes()) {
      String variant = show(alias);
      verdicts.expect("sign " + variant, null,
          MSSignatureJNI.sign(null, alias, "SHA1", Valid.DATA.clone()));
      verdicts.expect("decrypt " + variant, null,
          MSCipherRSAJNI.decrypt(null, alias, Valid.CIPHER_TEXT.clone(), true));
      verdicts.expect("key length " + variant, -1,
          MSCipherRSAJNI.getKeyLength(null, alias, false));
      verdicts.expect("block size " + variant, -1,
          MSCipherRSAJNI.getBlockSize(null, alias, false));
    }
  }

  static void exactNames(Verdicts verdicts) {
    verdicts.expect("containsAlias", true, Brisvander.containsAlias(LEAF_ALIAS));
    verdicts.expect("isKeyEntry", true, Brisvander.isKeyEntry(LEAF_ALIAS));
    verdicts.expect("isCertificateEntry", true,
        Brisvander.isCertificateEntry(CERTIFICATE_ALIAS));
    verdicts.expect("getCertificate", Valid.CERTIFICATE,
        Brisvander.getCertificate(CERTIFICATE_ALIAS));
    // Store names are not case-sensitive on the platform.
    verdicts.expect("store my", new byte[][] {Valid.LEAF},
        MSCertStoreJNI.getAllCertificates("my"));
    verdicts.expect("store rOOt", new byte[][] {Valid.ROOT},
        MSCertStoreJNI.getAllCertificates("rOOt"));
    byte[][] authorities = MSCertStoreJNI.getAllCertificates("CA");
    verdicts.expectThat("store CA", "mid1 and mid2",
        authorities != null && authorities.length == 2
            && asSet(authorities).equals(asSet(new byte[][] {Valid.MID1, Valid.MID2})),
        authorities);
    verdicts.expect("size", 2, Brisvander.size());
  }

  static Set<String> asSet(byte[][] arrays) {
    Set<String> set = new HashSet<>();
    for (byte[] array : arrays) {
      set.add(Arrays.toString(array));
    }
    return set;
  }

  // ---------------------------------------------------------------- threads

  /**
   * Every case of the other families but the huge one, each thread in its own order, from sixteen
   * threads that start together, with 16 MiB arrays that they all share. The store's files are
   * compared around the whole run only, as the calls that rewrite them overlap.
   */
  static void everyFamilyFromThreads(Verdicts verdicts) throws Exception {
    List<Case> all = new ArrayList<>();
    families().entrySet().stream()
        .filter(family -> !family.getKey().equals("threads") && !family.getKey().equals("huge"))
        .flatMap(family -> family.getValue().stream())
        .forEach(all::add);
    all.add(new Case("shared 16 MiB arrays", HostileCalls::sharedHugeArrays));
    int threads = 16;
    CyclicBarrier start = new CyclicBarrier(threads);
    ExecutorService pool = Executors.newFixedThreadPool(threads);
    List<Future<?>> runs = new ArrayList<>();
    for (int t = 0; t < threads; t++) {
      int thread = t;
      runs.add(pool.submit(() -> {
        List<Case> order = new ArrayList<>(all);
        Collections.shuffle(order, new Random(thread));
        start.await();
        for (Case one : order) {
          String summary = runCase(one);
          if (summary != null) {
            verdicts.fail(one.name() + " in thread " + thread, summary);
          }
        }
        return null;
      }));
    }
    pool.shutdown();
    if (!pool.awaitTermination(20, TimeUnit.MINUTES)) {
      verdicts.fail("threads", "still running after 20 minutes");
    }
    for (Future<?> run : runs) {
      run.get();
    }
  }

  static void sharedHugeArrays(Verdicts verdicts) throws Exception {
    verdicts.expect("alias", null, Brisvander.getCertificateAlias(Huge.ZEROS_16));
    verdicts.expect("verify", false,
        MSSignatureJNI.verify(Valid.PUBLIC_KEY, "SHA1", Huge.ZEROS_16, Huge.ONES_16));
    verdicts.expect("sign", Valid.signature("SHA1", Huge.ONES_16),
        MSSignatureJNI.sign(null, Valid.ALIAS, "SHA1", Huge.ONES_16));
  }

  // ---------------------------------------------------------------- the child's run

  /** Runs one case; null when every answer was right, else what was wrong. */
  static String runCase(Case one) {
    Verdicts verdicts = new Verdicts();
    try {
      one.body().run(verdicts);
    } catch (Throwable thrown) {
      verdicts.fail("thrown", thrown.toString());
    }
    return verdicts.summary();
  }

  /** Every file of the store but the lock files, by path, with its SHA-256. */
  static Map<String, String> storeFiles() throws Exception {
    Path home = Paths.get(System.getenv("BRISVANDER_HOME"));
    Map<String, String> files = new TreeMap<>();
    MessageDigest digest = MessageDigest.getInstance("SHA-256");
    try (Stream<Path> paths = Files.walk(home)) {
      for (Path path : (Iterable<Path>) paths::iterator) {
        if (Files.isRegularFile(path) && !path.getFileName().toString().equals(".lock")) {
          byte[] hash = digest.digest(Files.readAllBytes(path));
          files.put(home.relativize(path).toString(), new BigInteger(1, hash).toString(16));
        }
      }
    }
    return files;
  }

  static String storeChange(Map<String, String> before, Map<String, String> after) {
    if (before.equals(after)) {
      return null;
    }
    Set<String> changed = new TreeSet<>(before.keySet());
    changed.addAll(after.keySet());
    changed.removeIf(path -> Objects.equals(before.get(path), after.get(path)));
    return "the store's files changed: " + changed;
  }

  private static void line(String text) {
    out.println(text);
    out.flush();
  }

  public static void main(String[] args) throws Exception {
    List<Case> cases = families().get(args[0]);
    if (!Brisvander.setKeyEntry(Valid.crt(), null, Valid.chain())
        || !Brisvander.setCertificateEntry(Valid.CERTIFICATE.clone())) {
      throw new IllegalStateException("the store could not be seeded");
    }
    Map<String, String> seeded = storeFiles();
    // Five certificate files and the key container, or every comparison below proves nothing.
    if (seeded.size() < 6) {
      throw new IllegalStateException("the seeded store holds only " + seeded.keySet());
    }
    for (Case one : cases) {
      line("CASE " + one.name());
      Map<String, String> before = storeFiles();
      String summary = runCase(one);
      String change = storeChange(before, storeFiles());
      if (change != null) {
        summary = (summary == null ? "" : summary + "; ") + change;
      }
      line(summary == null ? "PASS " + one.name() : "FAIL " + one.name() + ": " + summary);
    }
    String change = storeChange(seeded, storeFiles());
    line(change == null ? DONE : "FAIL " + DONE + ": " + change);
  }
}
