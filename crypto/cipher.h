// RSA encryption and decryption, PKCS #1 v1.5, cipher texts least significant byte first.
#pragma once

#include <jni.h>

// encryptWithPublicKey is MSCipherRSAJNI.encrypt: encrypts `plainArray` with the encoded
// public key `keyArray`, `isFinal` passed on as the last-block flag. Returns the cipher text,
// or null after printing why.
jbyteArray encryptWithPublicKey(JNIEnv* env, jbyteArray keyArray, jbyteArray plainArray,
                                jboolean isFinal);

// decryptWithPrivateKey is MSCipherRSAJNI.decrypt: decrypts `cipherArray` with the key in
// `crtKeyInfo` or, when that is null, with the key entry whose alias bytes are `aliasArray`.
// Returns the plain text; the one byte 1 when the provider rejects the cipher text as bad
// data (printing nothing); or null after printing why.
jbyteArray decryptWithPrivateKey(JNIEnv* env, jobjectArray crtKeyInfo, jbyteArray aliasArray,
                                 jbyteArray cipherArray, jboolean isFinal);
