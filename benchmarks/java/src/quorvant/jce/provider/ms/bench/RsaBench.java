package quorvant.jce.provider.ms.bench;

import java.io.PrintWriter;
import java.nio.file.Path;
import java.security.KeyFactory;
import java.security.Signature;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.spec.RSAPrivateCrtKeySpec;
import java.util.Arrays;
import java.util.Random;
import javax.crypto.Cipher;
import quorvant.jce.provider.ms.Brisvander;
import quorvant.jce.provider.ms.MSCipherRSAJNI;
import quorvant.jce.provider.ms.MSSignatureJNI;

/**
 * RSA at each key size, four ways on the same key and data: our natives with CRT key info, our
 * natives by key entry alias, the JDK (SunRsaSign, SunJCE) and OpenSSL's own loop. Every way is
 * checked against the others before it is timed, and every timed call's result is checked too.
 */
final class RsaBench {
  static final int[] SIZES = {1024, 2048, 4096};
  static final int DATA_LENGTH = 1024;
  static final int PLAIN_LENGTH = 32;

  private RsaBench() {}

  static void run(Path keys, Path out, int rounds, long sampleNanos, long warmUpNanos)
      throws Exception {
    try (PrintWriter csv = Sampler.openCsv(out.resolve("rsa-samples.csv"))) {
      for (int bits : SIZES) {
        long started = System.nanoTime();
        // The first size also gives the JIT its time: the JDK's contenders start interpreted.
        long warmUp = bits == SIZES[0] ? 3 * warmUpNanos : warmUpNanos;
        Sampler sampler = new Sampler(warmUp, sampleNanos, rounds);
        String alias = addContenders(sampler, BenchKey.load(keys, bits));
        sampler.run("rsa", bits, csv);
        if (!Brisvander.deleteEntry(alias)) {
          throw new IllegalStateException("the key entry " + alias + " is not deleted");
        }
        System.out.printf("rsa %d: %.1f s%n", bits, (System.nanoTime() - started) / 1e9);
      }
    }
  }

  private static void require(boolean ok, String what) {
    if (!ok) {
      throw new IllegalStateException("check failed: " + what);
    }
  }

  /** Installs the key as a key entry, checks every way against the others, adds the loops. */
  private static String addContenders(Sampler sampler, BenchKey key) throws Exception {
    final int bits = key.bits;
    final int k = key.modulusLength();
    Random random = new Random(bits);
    final byte[] data = new byte[DATA_LENGTH];
    random.nextBytes(data);
    final byte[] plain = new byte[PLAIN_LENGTH];
    random.nextBytes(plain);
    final byte[][] crt = key.crtKeyInfo;
    final byte[] publicKey = key.publicKeyDer;
    final byte[] noAlias = new byte[0];

    require(Brisvander.setKeyEntry(crt, null, new Object[] {key.certificate}), "setKeyEntry");
    String alias = Brisvander.getCertificateAlias(key.certificate);
    require(alias != null && Brisvander.isKeyEntry(alias), "the key entry's alias");
    final byte[] aliasBytes = BenchKey.aliasBytes(alias);

    final Signature jdkSigner = Signature.getInstance("SHA1withRSA", "SunRsaSign");
    jdkSigner.initSign(key.privateKey);
    final Signature jdkVerifier = Signature.getInstance("SHA1withRSA", "SunRsaSign");
    jdkVerifier.initVerify(key.publicKey);
    final Cipher jdkEncrypt = Cipher.getInstance("RSA/ECB/PKCS1Padding", "SunJCE");
    jdkEncrypt.init(Cipher.ENCRYPT_MODE, key.publicKey);
    final Cipher jdkDecrypt = Cipher.getInstance("RSA/ECB/PKCS1Padding", "SunJCE");
    jdkDecrypt.init(Cipher.DECRYPT_MODE, key.privateKey);
    final KeyFactory jdkKeys = KeyFactory.getInstance("RSA", "SunRsaSign");
    final RSAPrivateCrtKey p = key.privateKey;
    final RSAPrivateCrtKeySpec crtNumbers =
        new RSAPrivateCrtKeySpec(p.getModulus(), p.getPublicExponent(), p.getPrivateExponent(),
            p.getPrimeP(), p.getPrimeQ(), p.getPrimeExponentP(), p.getPrimeExponentQ(),
            p.getCrtCoefficient());

    // Signatures: PKCS #1 v1.5 is deterministic, so all four give the same bytes.
    jdkSigner.update(data);
    final byte[] signature = jdkSigner.sign();
    final byte[] signatureLe = BenchKey.reversed(signature);
    byte[] ours = MSSignatureJNI.sign(crt, null, "SHA1", data);
    require(ours != null && Arrays.equals(signatureLe, ours), bits + " sign with CRT key info");
    ours = MSSignatureJNI.sign(null, aliasBytes, "SHA1", data);
    require(ours != null && Arrays.equals(signatureLe, ours), bits + " sign by alias");
    byte[] limit = new byte[k];
    require(OpenSslLimit.sign(key.pkcs8, data, 1, limit) >= 0 && Arrays.equals(signature, limit),
        bits + " OpenSSL sign");
    require(MSSignatureJNI.verify(publicKey, "SHA1", signatureLe, data), bits + " verify");
    byte[] tampered = signatureLe.clone();
    tampered[0] ^= 1;
    require(!MSSignatureJNI.verify(publicKey, "SHA1", tampered, data), bits + " verify rejects");
    require(OpenSslLimit.verify(publicKey, data, signature, 1) >= 0, bits + " OpenSSL verify");

    // Cipher texts are random: each way's is decrypted by another.
    byte[] cipherLe = MSCipherRSAJNI.encrypt(publicKey, plain, true);
    require(cipherLe != null && cipherLe.length == k
        && Arrays.equals(plain, jdkDecrypt.doFinal(BenchKey.reversed(cipherLe))),
        bits + " encrypt");
    final byte[] cipher = jdkEncrypt.doFinal(plain);
    final byte[] cipherFromJdkLe = BenchKey.reversed(cipher);
    require(Arrays.equals(plain, MSCipherRSAJNI.decrypt(crt, null, cipherFromJdkLe, true)),
        bits + " decrypt with CRT key info");
    require(Arrays.equals(plain, MSCipherRSAJNI.decrypt(null, aliasBytes, cipherFromJdkLe, true)),
        bits + " decrypt by alias");
    limit = new byte[k];
    require(OpenSslLimit.encrypt(publicKey, plain, 1, limit) >= 0
        && Arrays.equals(plain, jdkDecrypt.doFinal(limit)), bits + " OpenSSL encrypt");
    limit = new byte[k];
    require(OpenSslLimit.decrypt(key.pkcs8, cipher, 1, limit) >= 0
        && Arrays.equals(plain, Arrays.copyOf(limit, PLAIN_LENGTH)), bits + " OpenSSL decrypt");

    // Key sizes: what each way answers, in bits and as a block size.
    final int keyLength = MSCipherRSAJNI.getKeyLength(crt, noAlias, false);
    final int blockSize = MSCipherRSAJNI.getBlockSize(crt, noAlias, false);
    require(keyLength == bits, bits + " getKeyLength with CRT key info: " + keyLength);
    require(blockSize > 0, bits + " getBlockSize with CRT key info: " + blockSize);
    require(MSCipherRSAJNI.getKeyLength(null, aliasBytes, false) == bits, "getKeyLength by alias");
    require(MSCipherRSAJNI.getBlockSize(null, aliasBytes, false) == blockSize,
        "getBlockSize by alias");
    int[] size = new int[1];
    require(OpenSslLimit.keySize(crt, true, 1, size) >= 0 && size[0] == bits, "OpenSSL bits");
    require(OpenSslLimit.keySize(crt, false, 1, size) >= 0 && size[0] == k, "OpenSSL size");

    sampler.add("sign", "crt", "sign with CRT key info",
        () -> lengthIs(MSSignatureJNI.sign(crt, null, "SHA1", data), k));
    sampler.add("sign", "alias", "sign by alias",
        () -> lengthIs(MSSignatureJNI.sign(null, aliasBytes, "SHA1", data), k));
    sampler.add("sign", "jdk", "SunRsaSign sign", () -> {
      jdkSigner.update(data);
      return jdkSigner.sign().length == k;
    });
    sampler.add("sign", "openssl", n -> OpenSslLimit.sign(key.pkcs8, data, n, null));

    sampler.add("verify", "ours", "verify",
        () -> MSSignatureJNI.verify(publicKey, "SHA1", signatureLe, data));
    sampler.add("verify", "jdk", "SunRsaSign verify", () -> {
      jdkVerifier.update(data);
      return jdkVerifier.verify(signature);
    });
    sampler.add("verify", "openssl", n -> OpenSslLimit.verify(publicKey, data, signature, n));

    sampler.add("encrypt", "ours", "encrypt",
        () -> lengthIs(MSCipherRSAJNI.encrypt(publicKey, plain, true), k));
    sampler.add("encrypt", "jdk", "SunJCE encrypt", () -> jdkEncrypt.doFinal(plain).length == k);
    sampler.add("encrypt", "openssl", n -> OpenSslLimit.encrypt(publicKey, plain, n, null));

    sampler.add("decrypt", "crt", "decrypt with CRT key info",
        () -> lengthIs(MSCipherRSAJNI.decrypt(crt, null, cipherFromJdkLe, true), PLAIN_LENGTH));
    sampler.add("decrypt", "alias", "decrypt by alias",
        () -> lengthIs(MSCipherRSAJNI.decrypt(null, aliasBytes, cipherFromJdkLe, true),
            PLAIN_LENGTH));
    sampler.add("decrypt", "jdk", "SunJCE decrypt",
        () -> jdkDecrypt.doFinal(cipher).length == PLAIN_LENGTH);
    sampler.add("decrypt", "openssl", n -> OpenSslLimit.decrypt(key.pkcs8, cipher, n, null));

    sampler.add("getKeyLength", "crt", "getKeyLength with CRT key info",
        () -> MSCipherRSAJNI.getKeyLength(crt, noAlias, false) == bits);
    sampler.add("getKeyLength", "alias", "getKeyLength by alias",
        () -> MSCipherRSAJNI.getKeyLength(null, aliasBytes, false) == bits);
    sampler.add("getKeyLength", "jdk", "SunRsaSign key import",
        () -> importedBits(jdkKeys, crtNumbers) == bits);
    sampler.add("getKeyLength", "openssl", n -> OpenSslLimit.keySize(crt, true, n, null));

    sampler.add("getBlockSize", "crt", "getBlockSize with CRT key info",
        () -> MSCipherRSAJNI.getBlockSize(crt, noAlias, false) == blockSize);
    sampler.add("getBlockSize", "alias", "getBlockSize by alias",
        () -> MSCipherRSAJNI.getBlockSize(null, aliasBytes, false) == blockSize);
    sampler.add("getBlockSize", "jdk", "SunRsaSign key import",
        () -> importedBits(jdkKeys, crtNumbers) == bits);
    sampler.add("getBlockSize", "openssl", n -> OpenSslLimit.keySize(crt, false, n, null));
    return alias;
  }

  /** The JDK's nearest to a key size query: the CRT numbers imported, then the modulus asked. */
  private static int importedBits(KeyFactory keys, RSAPrivateCrtKeySpec numbers)
      throws java.security.spec.InvalidKeySpecException {
    return ((RSAPrivateCrtKey) keys.generatePrivate(numbers)).getModulus().bitLength();
  }

  private static boolean lengthIs(byte[] bytes, int length) {
    return bytes != null && bytes.length == length;
  }
}
