package quorvant.jce.provider.ms;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.KeyFactory;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.spec.RSAPrivateCrtKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.function.Function;
import java.util.function.Supplier;
import javax.crypto.Cipher;

/** What {@link HostileCalls} passes: key1 and its entries as they should be, and every misuse. */
final class HostileValues {
  static final String LEAF_ALIAS = "CN=Entry Mid Two,54";
  static final String CERTIFICATE_ALIAS = "CN=Alice Example,05";
  static final int KEY_BITS = 2048;
  static final int MIB = 1 << 20;

  private HostileValues() {}

  /** Fixture files, key1 and the answers it gives, read once; arrays handed out are copies. */
  static final class Valid {
    static final String[] CRT_NAMES = {"n", "p", "q", "dp", "dq", "qinv", "d", "e"};
    static final byte[][] CRT = new byte[8][];
    static final byte[] LEAF;
    static final byte[] MID2;
    static final byte[] MID1;
    static final byte[] ROOT;
    static final byte[] CERTIFICATE;
    static final byte[] PUBLIC_KEY;
    static final byte[] ALIAS = LEAF_ALIAS.getBytes(StandardCharsets.UTF_8);
    static final byte[] DATA = "hostile callers, honest answers".getBytes(StandardCharsets.UTF_8);
    static final byte[] SECRET = "for key1 only".getBytes(StandardCharsets.UTF_8);
    static final PrivateKey PRIVATE;
    static final PublicKey PUBLIC;
    static final byte[] CIPHER_TEXT;
    static final byte[] SIGNATURE;

    private Valid() {}

    static {
      try {
        for (int i = 0; i < 8; i++) {
          CRT[i] = fixture("keyentry/key1/" + CRT_NAMES[i] + ".bin");
        }
        LEAF = fixture("keyentry/leaf.der");
        MID2 = fixture("keyentry/mid2.der");
        MID1 = fixture("keyentry/mid1.der");
        ROOT = fixture("keyentry/root.der");
        CERTIFICATE = fixture("alias/plain-cn.der");
        PUBLIC_KEY = fixture("keyentry/key1-public.der");
        BigInteger[] numbers = new BigInteger[8];
        for (int i = 0; i < 8; i++) {
          numbers[i] = new BigInteger(1, reversed(CRT[i]));
        }
        PRIVATE =
            KeyFactory.getInstance("RSA")
                .generatePrivate(
                    new RSAPrivateCrtKeySpec(
                        numbers[0], numbers[7], numbers[6], numbers[1], numbers[2], numbers[3],
                        numbers[4], numbers[5]));
        PUBLIC =
            CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(LEAF))
                .getPublicKey();
        Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding");
        cipher.init(Cipher.ENCRYPT_MODE, PUBLIC);
        CIPHER_TEXT = reversed(cipher.doFinal(SECRET));
        SIGNATURE = signature("SHA1", DATA);
      } catch (Exception e) {
        throw new ExceptionInInitializerError(e);
      }
    }

    static byte[] fixture(String name) throws IOException {
      Path fixtures = Paths.get(System.getProperty("brisvander.fixtures"));
      return Files.readAllBytes(fixtures.resolve(name));
    }

    /** key1's CRT key info as the provider passes it: an Object[] of eight byte[]. */
    static Object[] crt() {
      Object[] info = new Object[8];
      for (int i = 0; i < 8; i++) {
        info[i] = CRT[i].clone();
      }
      return info;
    }

    static Object[] chain() {
      return new Object[] {LEAF.clone(), MID2.clone(), MID1.clone(), ROOT.clone()};
    }

    /** What the natives answer for a signature: the JDK's, least significant byte first. */
    static byte[] signature(String digest, byte[] data) throws Exception {
      Signature signer = Signature.getInstance(digest + "withRSA");
      signer.initSign(PRIVATE);
      signer.update(data);
      return reversed(signer.sign());
    }

    /** Whether `answer` is a cipher text (least significant byte first) of `plain`. */
    static boolean decryptsTo(byte[] plain, Object answer) {
      if (!(answer instanceof byte[] cipherText)) {
        return false;
      }
      try {
        Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding");
        cipher.init(Cipher.DECRYPT_MODE, PRIVATE);
        return Arrays.equals(plain, cipher.doFinal(reversed(cipherText)));
      } catch (Exception e) {
        return false;
      }
    }
  }

  /** Arrays of 16 and 64 MiB, made once and shared by every case and thread that reads them. */
  static final class Huge {
    static final byte[] ZEROS_64 = new byte[64 * MIB];
    static final byte[] DATA_64 = pattern(64 * MIB);
    static final byte[] ZEROS_16 = new byte[16 * MIB];
    static final byte[] ONES_16 = filled(16 * MIB, 0xFF);
    // A DER SEQUENCE header whose length claims all that follows, and junk after it.
    static final byte[] SEQUENCE_16 = sequence(16 * MIB);
    static final byte[] LEAF_WITH_TAIL = concat(Valid.LEAF, new byte[16 * MIB]);

    private Huge() {}

    static byte[] pattern(int length) {
      byte[] bytes = new byte[length];
      new Random(7).nextBytes(bytes);
      return bytes;
    }

    static byte[] sequence(int length) {
      byte[] bytes = pattern(length);
      int content = length - 6;
      bytes[0] = 0x30;
      bytes[1] = (byte) 0x84;
      bytes[2] = (byte) (content >>> 24);
      bytes[3] = (byte) (content >>> 16);
      bytes[4] = (byte) (content >>> 8);
      bytes[5] = (byte) content;
      return bytes;
    }
  }

  /** Strings with every kind of character; none names an entry, a digest or a known store. */
  static final List<String> STRINGS = strings();

  private static List<String> strings() {
    List<String> strings =
        new ArrayList<>(
            List.of(
                "",
                "\u0000",
                "\u0000\u0000\u0000",
                "MY\u0000",
                "\uD800",
                "\uDFFF",
                "\uDE00\uD83D",
                "a\uD800b\uDC00c",
                "\uD83D\uDE00",
                "\uD834\uDD1E\uDBFF\uDFFF",
                "\uFEFF",
                "\uFFFE\uFFFF",
                "\u0080\u009F\u00A0",
                "Grüße € 日本語",
                "\u202Eevil",
                "e\u0301",
                "%",
                "%00",
                "../../x",
                "/",
                "\\",
                "C:\\x",
                "*",
                "?",
                "CN=*",
                ",",
                "CN=,",
                "\n",
                "\r\n",
                "\t'\"",
                LEAF_ALIAS + "\u0000",
                "\u0000" + LEAF_ALIAS,
                LEAF_ALIAS.toLowerCase(),
                LEAF_ALIAS.toUpperCase(),
                LEAF_ALIAS + " ",
                " " + LEAF_ALIAS,
                LEAF_ALIAS + "\uD800",
                "\uDC00" + LEAF_ALIAS,
                LEAF_ALIAS.replace(',', ';'),
                LEAF_ALIAS.substring(0, LEAF_ALIAS.length() - 1),
                LEAF_ALIAS + "4",
                LEAF_ALIAS.replace('E', '\u0395'),
                CERTIFICATE_ALIAS + "\u0000",
                "\uFF23\uFF2E=Entry Mid Two,54",
                "x".repeat(100_000),
                LEAF_ALIAS.repeat(10_000)));
    StringBuilder mixed = new StringBuilder();
    while (mixed.length() < 1_000_000) {
      mixed.append("\u0000\uD800\uD83D\uDE00é日\uDFFFa");
    }
    strings.add(mixed.toString());
    return Collections.unmodifiableList(strings);
  }

  /** Alias bytes that name no entry: near misses, NULs, bytes that are no text at all. */
  static List<byte[]> aliasBytes() {
    List<byte[]> aliases = new ArrayList<>();
    for (String text : STRINGS) {
      aliases.add(text.getBytes(StandardCharsets.UTF_8));
    }
    byte[] alias = Valid.ALIAS;
    aliases.add(new byte[] {0});
    aliases.add(concat(alias, new byte[] {0}));
    aliases.add(concat(new byte[] {0}, alias));
    aliases.add(concat(alias, new byte[] {(byte) 0xC0, (byte) 0x80}));
    aliases.add(Arrays.copyOf(alias, alias.length - 1));
    aliases.add(filled(4096, 0xFF));
    aliases.add(new byte[] {(byte) 0xED, (byte) 0xA0, (byte) 0x80});
    aliases.add(filled(MIB, 'A'));
    return aliases;
  }

  /** Things that are not a byte[], made from the byte[] they stand in for. */
  static final Map<String, Function<byte[], Object>> WRONG_ELEMENTS = new LinkedHashMap<>();

  static {
    WRONG_ELEMENTS.put("String", b -> new String(b, StandardCharsets.ISO_8859_1));
    WRONG_ELEMENTS.put("int[]", b -> new int[b.length]);
    WRONG_ELEMENTS.put("char[]", b -> new char[b.length]);
    WRONG_ELEMENTS.put("short[]", b -> new short[b.length]);
    WRONG_ELEMENTS.put("long[]", b -> new long[b.length]);
    WRONG_ELEMENTS.put("boolean[]", b -> new boolean[b.length]);
    WRONG_ELEMENTS.put("byte[][]", b -> new byte[][] {b});
    WRONG_ELEMENTS.put("Object[]", b -> new Object[] {b});
    WRONG_ELEMENTS.put("Integer", b -> b.length);
    WRONG_ELEMENTS.put("Object", b -> new Object());
    WRONG_ELEMENTS.put("StringBuilder", b -> new StringBuilder("x"));
  }

  /** Whole arrays where an Object[] of byte[] belongs, of another runtime type. */
  static Map<String, Object[]> wrongArrays(int length) {
    Map<String, Object[]> arrays = new LinkedHashMap<>();
    String[] strings = new String[length];
    Arrays.fill(strings, "00");
    arrays.put("String[]", strings);
    int[][] ints = new int[length][];
    byte[][][] nested = new byte[length][][];
    Object[] objects = new Object[length];
    for (int i = 0; i < length; i++) {
      ints[i] = new int[64];
      nested[i] = new byte[][] {new byte[64]};
      objects[i] = new Object();
    }
    arrays.put("int[][]", ints);
    arrays.put("byte[][][]", nested);
    arrays.put("Object[] of Objects", objects);
    return arrays;
  }

  /** CRT key info of every wrong shape, by name. */
  static Map<String, Supplier<Object[]>> badCrtShapes() {
    Map<String, Supplier<Object[]>> shapes = new LinkedHashMap<>();
    for (int count : new int[] {0, 1, 7, 9, 16, 1000}) {
      shapes.put(
          count + " elements",
          () -> {
            Object[] info = new Object[count];
            for (int i = 0; i < count; i++) {
              info[i] = Valid.CRT[i % 8].clone();
            }
            return info;
          });
    }
    for (int position = 0; position < 8; position++) {
      int at = position;
      String name = Valid.CRT_NAMES[at];
      int length = Valid.CRT[at].length;
      shapes.put("null " + name, () -> with(at, null));
      shapes.put("empty " + name, () -> with(at, new byte[0]));
      if (at != 7) { // e may be longer: only its first four bytes are read
        shapes.put("one byte more in " + name, () -> resized(at, length + 1));
        shapes.put("one byte less in " + name, () -> resized(at, length - 1));
        shapes.put("twice as long " + name, () -> resized(at, 2 * length));
      }
    }
    shapes.put("e of three bytes", () -> resized(7, 3));
    shapes.put(
        "all empty",
        () -> {
          Object[] info = new Object[8];
          for (int i = 0; i < 8; i++) {
            info[i] = new byte[0];
          }
          return info;
        });
    shapes.put("all null", () -> new Object[8]);
    shapes.put("odd modulus length", () -> uniform(255, 127, 0x5A));
    shapes.put("too short for the platform", () -> uniform(2, 1, 0x5A));
    shapes.put("too long for the platform", () -> uniform(2050, 1025, 0x5A));
    shapes.put("modulus with a zero top byte", () -> uniform(128, 64, 0x00));
    shapes.put(
        "one array in every place",
        () -> {
          Object[] info = new Object[8];
          Arrays.fill(info, Valid.CRT[0].clone());
          return info;
        });
    return shapes;
  }

  /** key1's key info with element `position` replaced. */
  static Object[] with(int position, Object element) {
    Object[] info = Valid.crt();
    info[position] = element;
    return info;
  }

  static Object[] resized(int position, int length) {
    return with(position, Arrays.copyOf(Valid.CRT[position], length));
  }

  /**
   * Key info of consistent lengths (k for n and d, `half` for the five others, four for e) with
   * every byte `value`; the top byte of n is nonzero unless `value` is 0.
   */
  static Object[] uniform(int k, int half, int value) {
    Object[] info = new Object[8];
    for (int i = 0; i < 8; i++) {
      info[i] = filled(i == 0 || i == 6 ? k : i == 7 ? 4 : half, value);
    }
    if (value != 0) {
      ((byte[]) info[0])[k - 1] = (byte) 0xC5;
    }
    ((byte[]) info[7])[0] = 3;
    return info;
  }

  static byte[] reversed(byte[] bytes) {
    byte[] copy = new byte[bytes.length];
    for (int i = 0; i < bytes.length; i++) {
      copy[i] = bytes[bytes.length - 1 - i];
    }
    return copy;
  }

  static byte[] filled(int length, int value) {
    byte[] bytes = new byte[length];
    Arrays.fill(bytes, (byte) value);
    return bytes;
  }

  static byte[] concat(byte[]... parts) {
    int length = 0;
    for (byte[] part : parts) {
      length += part.length;
    }
    byte[] joined = new byte[length];
    int at = 0;
    for (byte[] part : parts) {
      System.arraycopy(part, 0, joined, at, part.length);
      at += part.length;
    }
    return joined;
  }
}
