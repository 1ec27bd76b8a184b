package quorvant.jce.provider.ms;

import java.math.BigInteger;
import java.security.PrivateKey;
import java.security.interfaces.RSAKey;
import java.util.Objects;

/**
 * A handle on the private key of a key entry: the key itself never leaves its container, so the
 * handle names the entry and signing and decryption reach the key by that alias. It has no
 * encoding; its modulus is the one of the entry's certificate, so callers can size it.
 */
public final class BrisvanderPrivateKey implements PrivateKey, RSAKey {
  private static final long serialVersionUID = 1L;

  private final String alias;
  private final BigInteger modulus;

  BrisvanderPrivateKey(String alias, BigInteger modulus) {
    this.alias = Objects.requireNonNull(alias);
    this.modulus = Objects.requireNonNull(modulus);
  }

  /** The alias of the key entry whose private key this is. */
  public String getAlias() {
    return alias;
  }

  @Override
  public BigInteger getModulus() {
    return modulus;
  }

  @Override
  public String getAlgorithm() {
    return "RSA";
  }

  /** Null: the key cannot be exported. */
  @Override
  public String getFormat() {
    return null;
  }

  /** Null: the key cannot be exported. */
  @Override
  public byte[] getEncoded() {
    return null;
  }

  @Override
  public boolean equals(Object other) {
    return other instanceof BrisvanderPrivateKey
        && alias.equals(((BrisvanderPrivateKey) other).alias)
        && modulus.equals(((BrisvanderPrivateKey) other).modulus);
  }

  @Override
  public int hashCode() {
    return alias.hashCode() * 31 + modulus.hashCode();
  }

  @Override
  public String toString() {
    return "Brisvander RSA private key of entry \"" + alias + "\" (" + modulus.bitLength()
        + " bits)";
  }
}
