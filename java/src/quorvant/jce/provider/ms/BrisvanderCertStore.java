package quorvant.jce.provider.ms;

import java.io.ByteArrayInputStream;
import java.security.InvalidAlgorithmParameterException;
import java.security.cert.CRL;
import java.security.cert.CRLSelector;
import java.security.cert.CertSelector;
import java.security.cert.CertStoreException;
import java.security.cert.CertStoreParameters;
import java.security.cert.CertStoreSpi;
import java.security.cert.Certificate;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.util.ArrayList;
import java.util.Collection;
import java.util.Collections;
import java.util.List;

/**
 * The certificates of one named system store, read afresh on every query. The platform creates a
 * store of an unknown name empty, so such a store simply has no certificates.
 */
public final class BrisvanderCertStore extends CertStoreSpi {
  private final String storeName;

  public BrisvanderCertStore(CertStoreParameters params) throws InvalidAlgorithmParameterException {
    super(params);
    if (!(params instanceof SystemStoreParameters)) {
      throw new InvalidAlgorithmParameterException(
          "takes SystemStoreParameters naming the store, not "
              + (params == null ? "null" : params.getClass().getName()));
    }
    storeName = ((SystemStoreParameters) params).getStoreName();
  }

  @Override
  public Collection<? extends Certificate> engineGetCertificates(CertSelector selector)
      throws CertStoreException {
    byte[][] encoded = MSCertStoreJNI.getAllCertificates(storeName);
    if (encoded == null) {
      return Collections.emptyList();
    }
    List<Certificate> matching = new ArrayList<>();
    try {
      CertificateFactory factory = CertificateFactory.getInstance("X.509");
      for (byte[] bytes : encoded) {
        Certificate certificate = factory.generateCertificate(new ByteArrayInputStream(bytes));
        if (selector == null || selector.match(certificate)) {
          matching.add(certificate);
        }
      }
    } catch (CertificateException e) {
      throw new CertStoreException(
          "a certificate of \"" + storeName + "\" does not decode: " + e.getMessage(), e);
    }
    return matching;
  }

  /** The system stores' revocation lists are not exported: always empty. */
  @Override
  public Collection<? extends CRL> engineGetCRLs(CRLSelector selector) {
    return Collections.emptyList();
  }
}
