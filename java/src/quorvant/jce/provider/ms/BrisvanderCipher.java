package quorvant.jce.provider.ms;

import java.io.ByteArrayOutputStream;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.ShortBufferException;

/**
 * RSA/ECB/PKCS1Padding by the platform: one block per doFinal, the input gathered until then.
 *
 * <p>The platform answers a rejected cipher text with the single byte 1, which becomes a
 * BadPaddingException; a genuine one-byte plain text 0x01 looks the same and is reported so too.
 */
public final class BrisvanderCipher extends CipherSpi {
  private static final byte[] BAD_DATA = {1};

  private final ByteArrayOutputStream input = new ByteArrayOutputStream();
  private int mode;
  private byte[] publicKey;
  private KeyEncoding.NativePrivateKey privateKey;
  private int keyBytes;
  private int blockBits;

  @Override
  protected void engineSetMode(String mode) throws NoSuchAlgorithmException {
    if (!"ECB".equalsIgnoreCase(mode)) {
      throw new NoSuchAlgorithmException("RSA here takes the mode ECB only, not " + mode);
    }
  }

  @Override
  protected void engineSetPadding(String padding) throws NoSuchPaddingException {
    if (!"PKCS1Padding".equalsIgnoreCase(padding)) {
      throw new NoSuchPaddingException("RSA here takes PKCS1Padding only, not " + padding);
    }
  }

  @Override
  protected void engineInit(int opmode, Key key, SecureRandom random) throws InvalidKeyException {
    int bits;
    int block;
    if (opmode == Cipher.ENCRYPT_MODE) {
      byte[] encoded = KeyEncoding.publicKey(key);
      bits = MSCipherRSAJNI.getKeyLength(null, encoded, true);
      block = MSCipherRSAJNI.getBlockSize(null, encoded, true);
      publicKey = encoded;
      privateKey = null;
    } else if (opmode == Cipher.DECRYPT_MODE) {
      KeyEncoding.NativePrivateKey nativeKey = KeyEncoding.privateKey(key);
      byte[] keyOrAlias = nativeKey.alias == null ? new byte[0] : nativeKey.alias;
      bits = MSCipherRSAJNI.getKeyLength(nativeKey.crtKeyInfo, keyOrAlias, false);
      block = MSCipherRSAJNI.getBlockSize(nativeKey.crtKeyInfo, keyOrAlias, false);
      privateKey = nativeKey;
      publicKey = null;
    } else {
      throw new UnsupportedOperationException("RSA here encrypts and decrypts; it does not wrap");
    }
    if (bits <= 0 || block <= 0) {
      publicKey = null;
      privateKey = null;
      throw new InvalidKeyException("the platform does not take this key (it reports no size)");
    }
    mode = opmode;
    keyBytes = (bits + 7) / 8;
    blockBits = block;
    input.reset();
  }

  @Override
  protected void engineInit(int opmode, Key key, AlgorithmParameterSpec params, SecureRandom random)
      throws InvalidKeyException, InvalidAlgorithmParameterException {
    if (params != null) {
      throw new InvalidAlgorithmParameterException("RSA/ECB/PKCS1Padding takes no parameters");
    }
    engineInit(opmode, key, random);
  }

  @Override
  protected void engineInit(int opmode, Key key, AlgorithmParameters params, SecureRandom random)
      throws InvalidKeyException, InvalidAlgorithmParameterException {
    if (params != null) {
      throw new InvalidAlgorithmParameterException("RSA/ECB/PKCS1Padding takes no parameters");
    }
    engineInit(opmode, key, random);
  }

  /** The platform's block size, in bytes; 0 before the cipher has a key. */
  @Override
  protected int engineGetBlockSize() {
    return blockBits / 8;
  }

  @Override
  protected int engineGetOutputSize(int inputLen) {
    return keyBytes;
  }

  @Override
  protected byte[] engineGetIV() {
    return null;
  }

  @Override
  protected AlgorithmParameters engineGetParameters() {
    return null;
  }

  @Override
  protected int engineGetKeySize(Key key) throws InvalidKeyException {
    if (key instanceof java.security.interfaces.RSAKey) {
      return ((java.security.interfaces.RSAKey) key).getModulus().bitLength();
    }
    throw new InvalidKeyException("not an RSA key: " + (key == null ? null : key.getClass()));
  }

  @Override
  protected byte[] engineUpdate(byte[] in, int offset, int length) {
    requireInit();
    input.write(in, offset, length);
    return new byte[0];
  }

  @Override
  protected int engineUpdate(byte[] in, int offset, int length, byte[] out, int outOffset) {
    engineUpdate(in, offset, length);
    return 0;
  }

  @Override
  protected byte[] engineDoFinal(byte[] in, int offset, int length)
      throws IllegalBlockSizeException, BadPaddingException {
    requireInit();
    if (in != null) {
      input.write(in, offset, length);
    }
    byte[] data = input.toByteArray();
    input.reset();
    if (mode == Cipher.ENCRYPT_MODE) {
      if (data.length > keyBytes - 11) {
        throw new IllegalBlockSizeException(
            "a " + keyBytes + "-byte key encrypts at most " + (keyBytes - 11) + " bytes, not "
                + data.length);
      }
      byte[] cipherText = MSCipherRSAJNI.encrypt(publicKey, data, true);
      if (cipherText == null) {
        throw new ProviderException("the platform could not encrypt with the RSA public key");
      }
      return KeyEncoding.reversed(cipherText);
    }
    if (data.length != keyBytes) {
      throw new IllegalBlockSizeException(
          "a " + keyBytes + "-byte key decrypts " + keyBytes + " bytes, not " + data.length);
    }
    byte[] plain =
        MSCipherRSAJNI.decrypt(
            privateKey.crtKeyInfo, privateKey.alias, KeyEncoding.reversed(data), true);
    if (plain == null) {
      throw new ProviderException("the platform could not decrypt with " + privateKey.description);
    }
    if (Arrays.equals(plain, BAD_DATA)) {
      throw new BadPaddingException(
          "the platform rejected the cipher text as bad data for " + privateKey.description);
    }
    return plain;
  }

  @Override
  protected int engineDoFinal(byte[] in, int offset, int length, byte[] out, int outOffset)
      throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
    byte[] result = engineDoFinal(in, offset, length);
    if (out.length - outOffset < result.length) {
      throw new ShortBufferException(
          "the output needs " + result.length + " bytes, has " + (out.length - outOffset));
    }
    System.arraycopy(result, 0, out, outOffset, result.length);
    return result.length;
  }

  private void requireInit() {
    if (publicKey == null && privateKey == null) {
      throw new IllegalStateException("the cipher is not initialised");
    }
  }
}
