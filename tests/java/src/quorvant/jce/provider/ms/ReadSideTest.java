package quorvant.jce.provider.ms;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * The read side under a real JVM with -Xcheck:jni: every alias the library lists, whatever its
 * characters, comes back as a proper Java string and finds its entry again.
 */
class ReadSideTest {
  private static final Path HOME = Paths.get(System.getenv("BRISVANDER_HOME"));
  private static final Path FIXTURES = Paths.get(System.getProperty("brisvander.fixtures"));

  @BeforeEach
  void emptyStores() throws IOException {
    if (Files.exists(HOME)) {
      try (Stream<Path> paths = Files.walk(HOME)) {
        paths.sorted(Comparator.reverseOrder()).forEach(path -> path.toFile().delete());
      }
    }
  }

  /** The fixtures' aliases as Java sees them: the platform's Windows-1252 text, decoded. */
  private static Map<String, byte[]> fixtureAliases() throws IOException {
    Map<String, byte[]> aliases = new LinkedHashMap<>();
    for (String line : Files.readAllLines(FIXTURES.resolve("alias/expected.tsv"))) {
      String[] fields = line.split("\t", 2);
      aliases.put(decode(fields[1]), Files.readAllBytes(FIXTURES.resolve("alias/" + fields[0])));
    }
    return aliases;
  }

  private static String decode(String escaped) {
    byte[] bytes = new byte[escaped.length()];
    int length = 0;
    for (int i = 0; i < escaped.length(); i++) {
      if (escaped.startsWith("\\x", i)) {
        bytes[length++] = (byte) Integer.parseInt(escaped.substring(i + 2, i + 4), 16);
        i += 3;
      } else {
        bytes[length++] = (byte) escaped.charAt(i);
      }
    }
    return new String(bytes, 0, length, Charset.forName("windows-1252"));
  }

  @Test
  void everyListedAliasFindsItsEntry() throws IOException {
    Map<String, byte[]> fixtures = fixtureAliases();
    for (byte[] encoded : fixtures.values()) {
      assertTrue(DiagnosticsProbe.addCertificate("AddressBook", encoded));
    }
    String[] listed = Brisvander.aliases();
    List<String> sortedListed = new ArrayList<>(Arrays.asList(listed));
    List<String> expected = new ArrayList<>(fixtures.keySet());
    sortedListed.sort(null);
    expected.sort(null);
    assertEquals(expected, sortedListed);
    assertEquals(fixtures.size(), Brisvander.size());
    for (Map.Entry<String, byte[]> fixture : fixtures.entrySet()) {
      String alias = fixture.getKey();
      assertTrue(Brisvander.containsAlias(alias), alias);
      assertTrue(Brisvander.isCertificateEntry(alias), alias);
      assertFalse(Brisvander.isKeyEntry(alias), alias);
      assertNull(Brisvander.getCertificateChain(alias), alias);
      assertArrayEquals(fixture.getValue(), Brisvander.getCertificate(alias), alias);
      assertEquals(alias, Brisvander.getCertificateAlias(fixture.getValue()));
    }
    assertTrue(
        fixtures.keySet().stream().anyMatch(alias -> !StandardCharsets.US_ASCII.newEncoder().canEncode(alias)),
        "the fixtures hold non-ASCII issuers");
  }

  @Test
  void exportsAnyStoreAndNullWhenEmpty() throws IOException {
    assertNull(MSCertStoreJNI.getAllCertificates("Nothing Here"));
    Map<String, byte[]> fixtures = fixtureAliases();
    for (byte[] encoded : fixtures.values()) {
      assertTrue(DiagnosticsProbe.addCertificate("Exported", encoded));
    }
    byte[][] exported = MSCertStoreJNI.getAllCertificates("Exported");
    assertEquals(fixtures.size(), exported.length);
    for (byte[] encoded : exported) {
      assertTrue(fixtures.values().stream().anyMatch(bytes -> Arrays.equals(bytes, encoded)));
    }
  }

  @Test
  void anEmptyKeyStoreAnswersNullAndFalse() {
    assertNull(Brisvander.aliases());
    assertEquals(0, Brisvander.size());
    assertFalse(Brisvander.containsAlias("CN=Nobody,01"));
    assertNull(Brisvander.getCertificate("CN=Nobody,01"));
    assertNull(Brisvander.getCertificateAlias(new byte[0]));
  }
}
