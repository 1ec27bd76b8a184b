// OpenSSL's own RSA loops, loaded by the Java harness as the limit our natives are held against:
// each call imports the key once, runs `iterations` EVP operations in-process with no JNI in
// between, and answers the elapsed nanoseconds of the loop alone (negative when an operation
// fails). Benchmark-only; no part of the product.

#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

#include <jni.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace {

template <auto Free>
struct FreeWith {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};

using PkeyPtr = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using PkeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, FreeWith<EVP_PKEY_CTX_free>>;
using DigestContextPtr = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using DigestPtr = std::unique_ptr<EVP_MD, FreeWith<EVP_MD_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, FreeWith<BN_clear_free>>;
using ParamBuildPtr = std::unique_ptr<OSSL_PARAM_BLD, FreeWith<OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, FreeWith<OSSL_PARAM_free>>;

constexpr jlong kFailed = -1;

int64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A Java byte[] copied out whole: the loops must not hold the VM's elements while they run.
std::vector<unsigned char> copyBytes(JNIEnv* env, jbyteArray array) {
    std::vector<unsigned char> bytes;
    if (array != nullptr) {
        bytes.resize(static_cast<size_t>(env->GetArrayLength(array)));
        env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                                reinterpret_cast<jbyte*>(bytes.data()));
    }
    return bytes;
}

// Hands `bytes` to the caller's array `out` when it is large enough, so that Java can check
// what the last iteration produced.
void giveBack(JNIEnv* env, jbyteArray out, const std::vector<unsigned char>& bytes, size_t length) {
    if (out != nullptr && static_cast<size_t>(env->GetArrayLength(out)) >= length) {
        env->SetByteArrayRegion(out, 0, static_cast<jsize>(length),
                                reinterpret_cast<const jbyte*>(bytes.data()));
    }
}

PkeyPtr privateKeyFromPkcs8(const std::vector<unsigned char>& der) {
    const unsigned char* at = der.data();
    return PkeyPtr(d2i_AutoPrivateKey(nullptr, &at, static_cast<long>(der.size())));
}

// A PKCS #1 RSAPublicKey, the form the natives take.
PkeyPtr publicKeyFromPkcs1(const std::vector<unsigned char>& der) {
    const unsigned char* at = der.data();
    return PkeyPtr(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &at, static_cast<long>(der.size())));
}

// An operation context on `key` set up once for PKCS #1 v1.5; each loop reuses it.
PkeyContextPtr paddedContext(EVP_PKEY* key, int (*init)(EVP_PKEY_CTX*)) {
    PkeyContextPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!context || init(context.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) <= 0) {
        return nullptr;
    }
    return context;
}

// The eight numbers of the CRT key info (n, p, q, dp, dq, qinv, d, e; least significant byte
// first) imported as a fresh key, as the natives receive them on every call.
PkeyPtr importCrtNumbers(const std::vector<std::vector<unsigned char>>& numbers) {
    static const char* const kNames[] = {
            OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_FACTOR1,
            OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
            OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1,
            OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_E,
    };
    BignumPtr bignums[8];
    ParamBuildPtr build(OSSL_PARAM_BLD_new());
    if (!build) {
        return nullptr;
    }
    for (int i = 0; i < 8; ++i) {
        bignums[i].reset(
                BN_lebin2bn(numbers[i].data(), static_cast<int>(numbers[i].size()), nullptr));
        if (!bignums[i] || !OSSL_PARAM_BLD_push_BN(build.get(), kNames[i], bignums[i].get())) {
            return nullptr;
        }
    }
    ParamsPtr params(OSSL_PARAM_BLD_to_param(build.get()));
    PkeyContextPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) <= 0 ||
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_KEYPAIR, params.get()) <= 0) {
        return nullptr;
    }
    return PkeyPtr(key);
}

jlong signLoop(JNIEnv* env, jbyteArray pkcs8Array, jbyteArray dataArray, jint iterations,
               jbyteArray outSignature) {
    const PkeyPtr key = privateKeyFromPkcs8(copyBytes(env, pkcs8Array));
    const std::vector<unsigned char> data = copyBytes(env, dataArray);
    const DigestPtr sha1(EVP_MD_fetch(nullptr, "SHA1", nullptr));
    const DigestContextPtr context(EVP_MD_CTX_new());
    if (!key || !sha1 || !context) {
        return kFailed;
    }
    std::vector<unsigned char> signature(static_cast<size_t>(EVP_PKEY_get_size(key.get())));
    size_t length = 0;
    const int64_t start = monotonicNanos();
    for (jint i = 0; i < iterations; ++i) {
        length = signature.size();
        if (EVP_DigestSignInit(context.get(), nullptr, sha1.get(), nullptr, key.get()) <= 0 ||
            EVP_DigestSign(context.get(), signature.data(), &length, data.data(), data.size()) <=
                    0) {
            return kFailed;
        }
    }
    const int64_t elapsed = monotonicNanos() - start;
    giveBack(env, outSignature, signature, length);
    return elapsed;
}

// Each iteration hashes the data and checks the signature over the digest, the work a
// verification of the data does.
jlong verifyLoop(JNIEnv* env, jbyteArray publicKeyArray, jbyteArray dataArray,
                 jbyteArray signatureArray, jint iterations) {
    const PkeyPtr key = publicKeyFromPkcs1(copyBytes(env, publicKeyArray));
    const std::vector<unsigned char> data = copyBytes(env, dataArray);
    const std::vector<unsigned char> signature = copyBytes(env, signatureArray);
    const DigestPtr sha1(EVP_MD_fetch(nullptr, "SHA1", nullptr));
    if (!key || !sha1) {
        return kFailed;
    }
    const PkeyContextPtr context = paddedContext(key.get(), EVP_PKEY_verify_init);
    if (!context || EVP_PKEY_CTX_set_signature_md(context.get(), sha1.get()) <= 0) {
        return kFailed;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    const int64_t start = monotonicNanos();
    for (jint i = 0; i < iterations; ++i) {
        if (!EVP_Digest(data.data(), data.size(), digest, &digestLength, sha1.get(), nullptr) ||
            EVP_PKEY_verify(context.get(), signature.data(), signature.size(), digest,
                            digestLength) != 1) {
            return kFailed;
        }
    }
    return monotonicNanos() - start;
}

jlong encryptLoop(JNIEnv* env, jbyteArray publicKeyArray, jbyteArray plainArray, jint iterations,
                  jbyteArray outCipher) {
    const PkeyPtr key = publicKeyFromPkcs1(copyBytes(env, publicKeyArray));
    const std::vector<unsigned char> plain = copyBytes(env, plainArray);
    if (!key) {
        return kFailed;
    }
    const PkeyContextPtr context = paddedContext(key.get(), EVP_PKEY_encrypt_init);
    if (!context) {
        return kFailed;
    }
    std::vector<unsigned char> cipher(static_cast<size_t>(EVP_PKEY_get_size(key.get())));
    size_t length = 0;
    const int64_t start = monotonicNanos();
    for (jint i = 0; i < iterations; ++i) {
        length = cipher.size();
        if (EVP_PKEY_encrypt(context.get(), cipher.data(), &length, plain.data(), plain.size()) <=
            0) {
            return kFailed;
        }
    }
    const int64_t elapsed = monotonicNanos() - start;
    giveBack(env, outCipher, cipher, length);
    return elapsed;
}

jlong decryptLoop(JNIEnv* env, jbyteArray pkcs8Array, jbyteArray cipherArray, jint iterations,
                  jbyteArray outPlain) {
    const PkeyPtr key = privateKeyFromPkcs8(copyBytes(env, pkcs8Array));
    const std::vector<unsigned char> cipher = copyBytes(env, cipherArray);
    if (!key) {
        return kFailed;
    }
    const PkeyContextPtr context = paddedContext(key.get(), EVP_PKEY_decrypt_init);
    if (!context) {
        return kFailed;
    }
    std::vector<unsigned char> plain(static_cast<size_t>(EVP_PKEY_get_size(key.get())));
    size_t length = 0;
    const int64_t start = monotonicNanos();
    for (jint i = 0; i < iterations; ++i) {
        length = plain.size();
        if (EVP_PKEY_decrypt(context.get(), plain.data(), &length, cipher.data(), cipher.size()) <=
            0) {
            return kFailed;
        }
    }
    const int64_t elapsed = monotonicNanos() - start;
    giveBack(env, outPlain, plain, length);
    return elapsed;
}

// Each iteration imports the CRT numbers afresh and asks the size: in bits, or else in bytes.
jlong keySizeLoop(JNIEnv* env, jobjectArray crtKeyInfo, jboolean inBits, jint iterations,
                  jintArray outSize) {
    if (crtKeyInfo == nullptr || env->GetArrayLength(crtKeyInfo) != 8) {
        return kFailed;
    }
    std::vector<std::vector<unsigned char>> numbers;
    for (jsize i = 0; i < 8; ++i) {
        numbers.push_back(
                copyBytes(env, static_cast<jbyteArray>(env->GetObjectArrayElement(crtKeyInfo, i))));
    }
    jint size = 0;
    const int64_t start = monotonicNanos();
    for (jint i = 0; i < iterations; ++i) {
        const PkeyPtr key = importCrtNumbers(numbers);
        if (!key) {
            return kFailed;
        }
        size = inBits ? EVP_PKEY_get_bits(key.get()) : EVP_PKEY_get_size(key.get());
    }
    const int64_t elapsed = monotonicNanos() - start;
    if (outSize != nullptr && env->GetArrayLength(outSize) >= 1) {
        env->SetIntArrayRegion(outSize, 0, 1, &size);
    }
    return elapsed;
}

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_quorvant_jce_provider_ms_bench_OpenSslLimit_version(JNIEnv* env,
                                                                                   jclass) {
    return env->NewStringUTF(OpenSSL_version(OPENSSL_VERSION));
}

JNIEXPORT jlong JNICALL Java_quorvant_jce_provider_ms_bench_OpenSslLimit_sign(
        JNIEnv* env, jclass, jbyteArray pkcs8, jbyteArray data, jint iterations,
        jbyteArray outSignature) {
    return signLoop(env, pkcs8, data, iterations, outSignature);
}

JNIEXPORT jlong JNICALL Java_quorvant_jce_provider_ms_bench_OpenSslLimit_verify(
        JNIEnv* env, jclass, jbyteArray publicKey, jbyteArray data, jbyteArray signature,
        jint iterations) {
    return verifyLoop(env, publicKey, data, signature, iterations);
}

JNIEXPORT jlong JNICALL Java_quorvant_jce_provider_ms_bench_OpenSslLimit_encrypt(
        JNIEnv* env, jclass, jbyteArray publicKey, jbyteArray plain, jint iterations,
        jbyteArray outCipher) {
    return encryptLoop(env, publicKey, plain, iterations, outCipher);
}

JNIEXPORT jlong JNICALL Java_quorvant_jce_provider_ms_bench_OpenSslLimit_decrypt(
        JNIEnv* env, jclass, jbyteArray pkcs8, jbyteArray cipher, jint iterations,
        jbyteArray outPlain) {
    return decryptLoop(env, pkcs8, cipher, iterations, outPlain);
}

JNIEXPORT jlong JNICALL Java_quorvant_jce_provider_ms_bench_OpenSslLimit_keySize(
        JNIEnv* env, jclass, jobjectArray crtKeyInfo, jboolean inBits, jint iterations,
        jintArray outSize) {
    return keySizeLoop(env, crtKeyInfo, inBits, iterations, outSize);
}

}  // extern "C"
