package quorvant.jce.provider.ms;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.KeyStoreSpi;
import java.security.NoSuchAlgorithmException;
import java.security.UnrecoverableEntryException;
import java.security.UnrecoverableKeyException;
import java.security.cert.Certificate;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;
import java.util.Collections;
import java.util.Date;
import java.util.Enumeration;

/**
 * The live key store: key entries of "MY", certificate entries of "AddressBook". Every change is
 * written to the store at once, so there is nothing to load or store and passwords are ignored.
 *
 * <p>An entry's alias is chosen by the platform from its certificate (issuer text, a comma, the
 * serial in hex). Setting an entry under another alias installs it and then throws a
 * KeyStoreException that names the alias it really has.
 */
public final class BrisvanderKeyStore extends KeyStoreSpi {
  @Override
  public void engineLoad(InputStream stream, char[] password) throws IOException {
    if (stream != null) {
      throw new IOException(
          "the " + BrisvanderProvider.KEY_STORE + " key store is the live store and reads no"
              + " stream; load it with a null stream");
    }
  }

  @Override
  public void engineLoad(KeyStore.LoadStoreParameter param) {
    // Any protection is ignored: the store is open to the current user as it stands.
  }

  /** Accepts a null stream as a no-op, since every change is already written. */
  @Override
  public void engineStore(OutputStream stream, char[] password) throws IOException {
    if (stream != null) {
      throw new IOException(
          "the " + BrisvanderProvider.KEY_STORE + " key store has no file form: every change is"
              + " written to the live store at once; store it with a null stream");
    }
  }

  @Override
  public void engineStore(KeyStore.LoadStoreParameter param) {}

  @Override
  public Enumeration<String> engineAliases() {
    String[] aliases = Brisvander.aliases();
    return Collections.enumeration(
        aliases == null ? Collections.<String>emptyList() : Arrays.asList(aliases));
  }

  @Override
  public boolean engineContainsAlias(String alias) {
    return alias != null && Brisvander.containsAlias(alias);
  }

  @Override
  public int engineSize() {
    return Brisvander.size();
  }

  @Override
  public boolean engineIsKeyEntry(String alias) {
    return alias != null && Brisvander.isKeyEntry(alias);
  }

  @Override
  public boolean engineIsCertificateEntry(String alias) {
    return alias != null && Brisvander.isCertificateEntry(alias);
  }

  @Override
  public Certificate engineGetCertificate(String alias) {
    if (alias == null) {
      return null;
    }
    byte[] encoded = Brisvander.getCertificate(alias);
    if (encoded == null) {
      if (Brisvander.containsAlias(alias)) {
        throw new IllegalStateException(
            "could not read the certificate of entry \"" + alias + "\"");
      }
      return null;
    }
    return decode(encoded, alias);
  }

  @Override
  public Certificate[] engineGetCertificateChain(String alias) {
    if (!engineIsKeyEntry(alias)) {
      return null;
    }
    byte[][] links = Brisvander.getCertificateChain(alias);
    if (links == null || links.length == 0) {
      throw new IllegalStateException(
          "could not read the certificate chain of key entry \"" + alias + "\"");
    }
    Certificate[] chain = new Certificate[links.length];
    for (int i = 0; i < links.length; i++) {
      chain[i] = decode(links[i], alias);
    }
    return chain;
  }

  private static X509Certificate decode(byte[] encoded, String alias) {
    try {
      return (X509Certificate)
          CertificateFactory.getInstance("X.509")
              .generateCertificate(new ByteArrayInputStream(encoded));
    } catch (CertificateException e) {
      throw new IllegalStateException(
          "the certificate of entry \"" + alias + "\" does not decode: " + e.getMessage(), e);
    }
  }

  /** The store records no dates: the certificate's start of validity stands in for it. */
  @Override
  public Date engineGetCreationDate(String alias) {
    Certificate certificate = engineGetCertificate(alias);
    if (certificate == null) {
      return null;
    }
    return certificate instanceof X509Certificate
        ? ((X509Certificate) certificate).getNotBefore()
        : new Date();
  }

  @Override
  public String engineGetCertificateAlias(Certificate certificate) {
    if (certificate == null) {
      return null;
    }
    try {
      return Brisvander.getCertificateAlias(certificate.getEncoded());
    } catch (CertificateException e) {
      return null;
    }
  }

  /** A handle naming the entry, sized by its certificate's modulus; any password is ignored. */
  @Override
  public Key engineGetKey(String alias, char[] password)
      throws NoSuchAlgorithmException, UnrecoverableKeyException {
    if (!engineIsKeyEntry(alias)) {
      return null;
    }
    Certificate certificate = engineGetCertificate(alias);
    if (certificate == null || !(certificate.getPublicKey() instanceof RSAPublicKey)) {
      throw new UnrecoverableKeyException(
          "the key entry \"" + alias + "\" has no RSA certificate to size its key by");
    }
    return new BrisvanderPrivateKey(
        alias, ((RSAPublicKey) certificate.getPublicKey()).getModulus());
  }

  /** Key entries come back without a protection parameter: the platform guards them itself. */
  @Override
  public KeyStore.Entry engineGetEntry(String alias, KeyStore.ProtectionParameter protection)
      throws KeyStoreException, NoSuchAlgorithmException, UnrecoverableEntryException {
    if (engineIsKeyEntry(alias)) {
      Key key = engineGetKey(alias, null);
      return new KeyStore.PrivateKeyEntry(
          (java.security.PrivateKey) key, engineGetCertificateChain(alias));
    }
    if (engineIsCertificateEntry(alias)) {
      return new KeyStore.TrustedCertificateEntry(engineGetCertificate(alias));
    }
    return null;
  }

  @Override
  public void engineSetKeyEntry(String alias, Key key, char[] password, Certificate[] chain)
      throws KeyStoreException {
    if (!(key instanceof RSAPrivateCrtKey)) {
      throw new KeyStoreException(
          "a key entry takes an RSAPrivateCrtKey, not "
              + (key == null ? "null" : key.getClass().getName()));
    }
    if (chain == null || chain.length == 0) {
      throw new KeyStoreException("a key entry needs its certificate chain");
    }
    if (!(chain[0].getPublicKey() instanceof RSAPublicKey)
        || !((RSAPublicKey) chain[0].getPublicKey())
            .getModulus()
            .equals(((RSAPrivateCrtKey) key).getModulus())) {
      throw new KeyStoreException("the chain's first certificate is not of this private key");
    }
    if (engineIsCertificateEntry(alias)) {
      throw new KeyStoreException("\"" + alias + "\" is a certificate entry");
    }
    byte[][] crtKeyInfo;
    try {
      crtKeyInfo = KeyEncoding.crtKeyInfo((RSAPrivateCrtKey) key);
    } catch (InvalidKeyException e) {
      throw new KeyStoreException("the key cannot be installed: " + e.getMessage(), e);
    }
    byte[][] links = new byte[chain.length][];
    for (int i = 0; i < chain.length; i++) {
      links[i] = encoded(chain[i]);
    }
    if (!Brisvander.setKeyEntry(crtKeyInfo, password, links)) {
      throw new KeyStoreException("the platform could not install the key entry");
    }
    checkAlias(alias, links[0], "key");
  }

  @Override
  public void engineSetKeyEntry(String alias, byte[] key, Certificate[] chain)
      throws KeyStoreException {
    throw new KeyStoreException("key entries are set from an RSAPrivateCrtKey, not from bytes");
  }

  @Override
  public void engineSetCertificateEntry(String alias, Certificate certificate)
      throws KeyStoreException {
    if (certificate == null) {
      throw new KeyStoreException("a certificate entry needs a certificate");
    }
    if (engineIsKeyEntry(alias)) {
      throw new KeyStoreException("\"" + alias + "\" is a key entry");
    }
    byte[] encoded = encoded(certificate);
    if (!Brisvander.setCertificateEntry(encoded)) {
      throw new KeyStoreException("the platform could not add the certificate entry");
    }
    checkAlias(alias, encoded, "certificate");
  }

  private static byte[] encoded(Certificate certificate) throws KeyStoreException {
    try {
      return certificate.getEncoded();
    } catch (CertificateException e) {
      throw new KeyStoreException("the certificate has no encoding: " + e.getMessage(), e);
    }
  }

  /** The entry is in; the caller learns when it does not bear the alias they asked for. */
  private static void checkAlias(String wanted, byte[] certificate, String kind)
      throws KeyStoreException {
    String actual = Brisvander.getCertificateAlias(certificate);
    if (actual == null) {
      throw new KeyStoreException("the " + kind + " entry was written but cannot be found again");
    }
    if (!actual.equals(wanted)) {
      throw new KeyStoreException(
          "the " + kind + " entry was installed under the alias \"" + actual + "\", which the"
              + " store takes from the certificate, not under \"" + wanted + "\"");
    }
  }

  /** Removes the entry; an alias that names nothing is left as it is. */
  @Override
  public void engineDeleteEntry(String alias) throws KeyStoreException {
    if (!engineContainsAlias(alias)) {
      return;
    }
    if (!Brisvander.deleteEntry(alias)) {
      throw new KeyStoreException("the platform could not delete the entry \"" + alias + "\"");
    }
  }
}
