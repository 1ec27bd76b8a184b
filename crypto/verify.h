// RSA signature verification with a public key from Java.
#pragma once

#include <jni.h>

// verifySignature is MSSignatureJNI.verify: tells whether `signatureArray` (least significant
// byte first) is the signature of `dataArray` under the digest `nameText` and the encoded
// public key `keyArray`. False on every other outcome, after printing why; a signature that
// does not match prints nothing.
jboolean verifySignature(JNIEnv* env, jbyteArray keyArray, jstring nameText,
                         jbyteArray signatureArray, jbyteArray dataArray);
