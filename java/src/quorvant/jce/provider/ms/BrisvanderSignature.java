package quorvant.jce.provider.ms;

import java.io.ByteArrayOutputStream;
import java.security.InvalidKeyException;
import java.security.InvalidParameterException;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.SignatureException;
import java.security.SignatureSpi;

/**
 * PKCS #1 v1.5 RSA signatures by the platform. The data is gathered, since the natives hash it in
 * one call; signatures are in the standard big-endian order on the Java side.
 */
public final class BrisvanderSignature extends SignatureSpi {
  private final String digestName;
  private final ByteArrayOutputStream data = new ByteArrayOutputStream();
  private KeyEncoding.NativePrivateKey signingKey;
  private byte[] verifyingKey;

  BrisvanderSignature(String digestName) {
    this.digestName = digestName;
  }

  @Override
  protected void engineInitSign(PrivateKey key) throws InvalidKeyException {
    KeyEncoding.NativePrivateKey nativeKey = KeyEncoding.privateKey(key);
    signingKey = nativeKey;
    verifyingKey = null;
    data.reset();
  }

  @Override
  protected void engineInitVerify(PublicKey key) throws InvalidKeyException {
    byte[] encoded = KeyEncoding.publicKey(key);
    if (MSCipherRSAJNI.getKeyLength(null, encoded, true) <= 0) {
      throw new InvalidKeyException("the platform does not take this RSA public key");
    }
    verifyingKey = encoded;
    signingKey = null;
    data.reset();
  }

  @Override
  protected void engineUpdate(byte b) throws SignatureException {
    requireInit();
    data.write(b);
  }

  @Override
  protected void engineUpdate(byte[] b, int off, int len) throws SignatureException {
    requireInit();
    data.write(b, off, len);
  }

  private void requireInit() throws SignatureException {
    if (signingKey == null && verifyingKey == null) {
      throw new SignatureException("the signature is not initialised");
    }
  }

  @Override
  protected byte[] engineSign() throws SignatureException {
    if (signingKey == null) {
      throw new SignatureException("the signature is not initialised for signing");
    }
    byte[] bytes = data.toByteArray();
    data.reset();
    byte[] signature =
        MSSignatureJNI.sign(signingKey.crtKeyInfo, signingKey.alias, digestName, bytes);
    if (signature == null) {
      throw new SignatureException(
          "the platform could not sign with " + signingKey.description + " under " + digestName);
    }
    return KeyEncoding.reversed(signature);
  }

  @Override
  protected boolean engineVerify(byte[] signature) throws SignatureException {
    if (verifyingKey == null) {
      throw new SignatureException("the signature is not initialised for verification");
    }
    byte[] bytes = data.toByteArray();
    data.reset();
    if (signature == null) {
      throw new SignatureException("no signature to verify");
    }
    return MSSignatureJNI.verify(verifyingKey, digestName, KeyEncoding.reversed(signature), bytes);
  }

  @Override
  @Deprecated
  protected void engineSetParameter(String param, Object value) {
    throw new InvalidParameterException("PKCS #1 v1.5 RSA signatures take no parameters");
  }

  @Override
  @Deprecated
  protected Object engineGetParameter(String param) {
    throw new InvalidParameterException("PKCS #1 v1.5 RSA signatures take no parameters");
  }
}
