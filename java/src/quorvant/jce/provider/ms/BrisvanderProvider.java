package quorvant.jce.provider.ms;

import java.security.Provider;
import java.util.List;
import java.util.Map;

/**
 * The Brisvander provider: the platform's key store, RSA signatures and the RSA cipher.
 *
 * <p>Services: KeyStore {@value #KEY_STORE}; Signature SHA1withRSA, MD5withRSA, MD2withRSA;
 * Cipher RSA (ECB, PKCS1Padding); CertStore {@value #CERT_STORE} with {@link
 * SystemStoreParameters}. Register it by {@code Security.addProvider(new BrisvanderProvider())},
 * by a {@code security.provider.N} line in java.security, or through ServiceLoader.
 */
public final class BrisvanderProvider extends Provider {
  private static final long serialVersionUID = 1L;

  /** The provider's name. */
  public static final String NAME = "Brisvander";

  /** The key store type. */
  public static final String KEY_STORE = "BrisvanderMY";

  /** The cert store type. */
  public static final String CERT_STORE = "BrisvanderSystem";

  // Delayed provider selection sends the entry handles here, and other RSA keys as well.
  private static final String KEY_CLASSES =
      BrisvanderPrivateKey.class.getName()
          + "|java.security.interfaces.RSAPrivateCrtKey"
          + "|java.security.interfaces.RSAPublicKey";

  public BrisvanderProvider() {
    super(NAME, "1.0", "Brisvander: the Windows CryptoAPI key store, RSA signatures and cipher");
    putService(new Service(this, "KeyStore", KEY_STORE, BrisvanderKeyStore.class.getName(),
        null, null));
    Map<String, String> signatureAttributes = Map.of("SupportedKeyClasses", KEY_CLASSES);
    for (String[] digest : new String[][] {{"SHA1", "SHA-1"}, {"MD5", "MD5"}, {"MD2", "MD2"}}) {
      putService(
          new SignatureService(this, digest[0], List.of(digest[1] + "withRSA"),
              signatureAttributes));
    }
    putService(
        new Service(this, "Cipher", "RSA", BrisvanderCipher.class.getName(), null,
            Map.of(
                "SupportedKeyClasses", KEY_CLASSES,
                "SupportedModes", "ECB",
                "SupportedPaddings", "PKCS1PADDING")));
    putService(new Service(this, "CertStore", CERT_STORE, BrisvanderCertStore.class.getName(),
        null, null));
  }

  /** A Signature service whose engine is told its digest, so one class serves all three. */
  private static final class SignatureService extends Service {
    private final String digestName;

    SignatureService(Provider provider, String digestName, List<String> aliases,
        Map<String, String> attributes) {
      super(provider, "Signature", digestName + "withRSA", BrisvanderSignature.class.getName(),
          aliases.get(0).equals(digestName + "withRSA") ? null : aliases, attributes);
      this.digestName = digestName;
    }

    @Override
    public Object newInstance(Object constructorParameter) {
      return new BrisvanderSignature(digestName);
    }
  }
}
