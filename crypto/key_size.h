// The key length and block size of an RSA key, as the provider reports them.
#pragma once

#include <jni.h>

// queryKeyLength is MSCipherRSAJNI.getKeyLength: the KP_KEYLEN of the encoded public key in
// `keyOrAliasArray` when `isPublic`, else of the key in `crtKeyInfo` when that is not null,
// else of the key entry whose alias bytes are `keyOrAliasArray`. Returns the bits; 0 when the
// array's elements cannot be had or the CRT key info gives no key; -1 when no context was had
// or the parameter cannot be read. Prints why on failure.
jint queryKeyLength(JNIEnv* env, jobjectArray crtKeyInfo, jbyteArray keyOrAliasArray,
                    jboolean isPublic);

// queryBlockSize is MSCipherRSAJNI.getBlockSize: queryKeyLength for KP_BLOCKLEN, with
// messages of its own.
jint queryBlockSize(JNIEnv* env, jobjectArray crtKeyInfo, jbyteArray keyOrAliasArray,
                    jboolean isPublic);
