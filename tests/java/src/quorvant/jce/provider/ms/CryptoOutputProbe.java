package quorvant.jce.provider.ms;

/**
 * Child process of {@link CryptoTest}: makes one cryptographic native fail, so that the test can
 * read the exact bytes the library writes to the process's standard output and error.
 */
public final class CryptoOutputProbe {
  private CryptoOutputProbe() {}

  public static void main(String[] args) {
    byte[] data = {1, 2, 3};
    switch (args[0]) {
      case "invalid-hash" -> MSSignatureJNI.sign(null, null, "SHA-1", data);
      case "bad-crt" -> MSSignatureJNI.sign(new Object[8], null, "SHA1", data);
      case "bad-public-key" -> MSSignatureJNI.verify(new byte[0], "MD5", new byte[128], data);
      default -> throw new IllegalArgumentException(args[0]);
    }
  }
}
