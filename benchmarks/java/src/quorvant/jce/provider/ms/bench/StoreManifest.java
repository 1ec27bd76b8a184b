package quorvant.jce.provider.ms.bench;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Properties;

/** What the fixture tool wrote beside a store it built (manifest.txt). */
final class StoreManifest {
  final int certificates;
  final int keyEntries;
  final int certificateEntries;
  /** The key entry that signs: the last one a walk of "MY" reaches. */
  final String signingAlias;
  final int signingPosition;
  final String missingAlias;

  private StoreManifest(Properties values) {
    certificates = Integer.parseInt(values.getProperty("certificates"));
    keyEntries = Integer.parseInt(values.getProperty("keyEntries"));
    certificateEntries = Integer.parseInt(values.getProperty("certificateEntries"));
    signingAlias = values.getProperty("signingAlias");
    signingPosition = Integer.parseInt(values.getProperty("signingPosition"));
    missingAlias = values.getProperty("missingAlias");
  }

  /** The manifest of the store the emulation is pointed at, XDG_DATA_HOME. */
  static StoreManifest ofCurrentStore() throws IOException {
    BenchMain.requireOwnStore();
    String dataHome = System.getenv("XDG_DATA_HOME");
    Properties values = new Properties();
    // Read as lines of key=value: the aliases hold '=' and ';', which Properties would split.
    for (String line : Files.readAllLines(Path.of(dataHome, "manifest.txt"))) {
      int equals = line.indexOf('=');
      if (equals > 0) {
        values.setProperty(line.substring(0, equals), line.substring(equals + 1));
      }
    }
    return new StoreManifest(values);
  }

}
