#include "SGPKCS1.h"

#include <openssl/err.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "SGBigIntegerInternal.h"
#include "SGDER.h"
#include "SGDigest.h"
#include "SGCryptoInternal.h"
#include "SGRSAInternal.h"
#include "SGRandom.h"

static_assert(sizeof(SGPKCS1Parameter) == 4248);
static_assert(offsetof(SGPKCS1Parameter, marker) == 4248 - sizeof(SGCryptoStructureMarker));
// The OAEP fields double as the 32-byte OAEP block of the key-callback decryption.
static_assert(offsetof(SGPKCS1Parameter, oaepSeed) -
                  offsetof(SGPKCS1Parameter, oaepMaskGeneration) ==
              24);

using namespace brindlow::crypto::bn;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kDigestInfoError = 20;
constexpr size_t kV15Overhead = 11;  // 00 02 (or 01), eight bytes of padding at least, 00
constexpr size_t kMaxHashLength = 64;
constexpr unsigned char kPssTrailer = 0xBC;

template <typename T>
T failed(T result) {
    ERR_clear_error();
    return result;
}

// A zeroed byte buffer wiped before it is released, for blocks that held secrets.
class SecretBytes {
  public:
    explicit SecretBytes(size_t n) : bytes_(new unsigned char[n ? n : 1]()), size_(n) {}
    ~SecretBytes() { SGCrypto_cleanse(bytes_.get(), size_); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    unsigned char* data() { return bytes_.get(); }
    size_t size() const { return size_; }
    unsigned char& operator[](size_t i) { return bytes_[i]; }

  private:
    std::unique_ptr<unsigned char[]> bytes_;
    size_t size_;
};

// Constant-time helpers: masks are all ones or all zeros.
size_t valueBarrier(size_t a) {
    asm volatile("" : "+r"(a));
    return a;
}
size_t ctMsb(size_t a) {
    return 0 - (valueBarrier(a) >> (sizeof(a) * 8 - 1));
}
size_t ctIsZero(size_t a) {
    return ctMsb(~a & (a - 1));
}
size_t ctEq(size_t a, size_t b) {
    return ctIsZero(a ^ b);
}
size_t ctLt(size_t a, size_t b) {
    return ctMsb(a ^ ((a ^ b) | ((a - b) ^ b)));
}
size_t ctSelect(size_t mask, size_t a, size_t b) {
    return (mask & a) | (~mask & b);
}
unsigned char ctSelect8(size_t mask, unsigned char a, unsigned char b) {
    return static_cast<unsigned char>(ctSelect(mask, a, b));
}

// Moves the message region[start .. size) of a decrypted block, start secret and in
// [minStart, size], to out[0 .. size - start), writing out[0 .. capacity) only when good.
// The memory access pattern depends on nothing secret: the shift runs in log steps.
void ctCopyMessage(unsigned char* out, size_t capacity, unsigned char* region, size_t size,
                   size_t minStart, size_t start, size_t good) {
    unsigned char* tail = region + minStart;
    const size_t tailSize = size - minStart;
    const size_t shift = ctSelect(good, start - minStart, 0);
    const size_t messageLength = ctSelect(good, size - start, 0);
    for (size_t step = 1; step < tailSize; step <<= 1) {
        const size_t mask = ~ctIsZero(shift & step);
        for (size_t i = 0; i + step < tailSize; ++i)
            tail[i] = ctSelect8(mask, tail[i + step], tail[i]);
    }
    const size_t n = capacity < tailSize ? capacity : tailSize;
    for (size_t i = 0; i < n; ++i)
        out[i] = ctSelect8(good & ctLt(i, messageLength), tail[i], out[i]);
}

struct DigestOid {
    int hashId;
    unsigned length;
    unsigned char bytes[9];
};

constexpr DigestOid kOids[] = {
    {1, 8, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x02}},
    {2, 8, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05}},
    {3, 5, {0x2B, 0x0E, 0x03, 0x02, 0x1A}},
    {5, 9, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01}},
    {6, 9, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02}},
    {7, 9, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03}},
};

const DigestOid* oidFor(int hashId) {
    for (const auto& oid : kOids)
        if (oid.hashId == hashId) return &oid;
    return nullptr;
}

// Digest length of a hash id (MD2 included, which has a DigestInfo but no digest here).
size_t hashLength(int hashId) {
    switch (hashId) {
        case 1:
        case SG_DIGEST_MD5:
            return 16;
        case SG_DIGEST_SHA1:
        case SG_DIGEST_HAS160:
            return 20;
        case SG_DIGEST_SHA224:
            return 28;
        case SG_DIGEST_SHA256:
            return 32;
        case SG_DIGEST_SHA384:
            return 48;
        case SG_DIGEST_SHA512:
            return 64;
        default:
            return 0;
    }
}

bool canDigest(int hashId) {
    return hashId >= SG_DIGEST_MD5 && hashId <= SG_DIGEST_HAS160;
}

int digest(unsigned char* out, int hashId, const unsigned char* data, size_t length) {
    if (!canDigest(hashId)) return SG_PKCS1_ERR_UNSUPPORTED;
    return _SGDigest(out, hashId, data, static_cast<uint32_t>(length)) == 0 ? 0
                                                                            : SG_PKCS1_ERR_DIGEST;
}

// MGF1: the blocks Hash(seed || counter) XORed into mask[0 .. length).
int mgf1Xor(unsigned char* mask, size_t length, const unsigned char* seed, size_t seedLength,
            int hashId) {
    const size_t hLen = hashLength(hashId);
    if (!canDigest(hashId)) return SG_PKCS1_ERR_UNSUPPORTED;
    if ((length + hLen - 1) / hLen > 0xFFFFFFFFull) return SG_PKCS1_ERR_INTEGER_TOO_LARGE;
    SecretBytes input(seedLength + 4);
    if (seedLength) std::memcpy(input.data(), seed, seedLength);
    unsigned char block[kMaxHashLength];
    for (size_t done = 0, counter = 0; done < length; ++counter) {
        for (int i = 0; i < 4; ++i)
            input[seedLength + i] = static_cast<unsigned char>(counter >> (24 - 8 * i));
        if (int r = digest(block, hashId, input.data(), input.size())) return r;
        for (size_t i = 0; i < hLen && done < length; ++i) mask[done++] ^= block[i];
    }
    SGCrypto_cleanse(block, sizeof block);
    return 0;
}

int i2osp(const BIGNUM* x, unsigned char* out, size_t length) {
    if (static_cast<size_t>(BN_num_bytes(x)) > length) return SG_PKCS1_ERR_INTEGER_TOO_LARGE;
    return BN_bn2binpad(x, out, static_cast<int>(length)) >= 0
               ? 0
               : failed(SG_PKCS1_ERR_INTEGER_TOO_LARGE);
}

// A public key good enough for exponentiation: 553 without its items, 11 for an even modulus
// or a key outside the bounds (one set with SetItem after decoding).
int checkPublic(const SGRSAPublicKey* key) {
    if (!key || !key->n || !key->e) return SG_PKCS1_ERR_NO_KEY;
    if (!BN_is_odd(key->n) || BN_is_one(key->n) || BN_is_negative(key->n) || BN_is_zero(key->e) ||
        !brindlow::crypto::rsa::publicKeyWithinBounds(key->n, key->e))
        return SG_CRYPTO_ERR_ARGUMENT;
    return 0;
}

// x^e mod n with the cached Montgomery context of n.
bool publicOperation(BIGNUM* out, const BIGNUM* x, const SGRSAPublicKey* key, BN_CTX* ctx) {
    auto mont = montgomeryFor(key->n, ctx);
    return mont && BN_mod_exp_mont(out, x, key->e, key->n, ctx, mont.get());
}

// m^d mod n for m below n: blinded in the message (r^e m) and in the exponent (d, or dP and dQ
// with CRT, plus a random multiple of the group order), each exponentiation in constant time.
int privateOperation(BIGNUM* out, const BIGNUM* m, const SGRSAPrivateKey* key, BN_CTX* ctx) {
    if (!key->n || !key->e) return SG_PKCS1_ERR_KEY_ITEMS;
    if (!BN_is_odd(key->n) || BN_is_one(key->n) ||
        !brindlow::crypto::rsa::privateKeyWithinBounds(*key))
        return SG_CRYPTO_ERR_ARGUMENT;
    BnPtr blinded(BN_new()), rInv(BN_new()), s(BN_new());
    if (!blinded || !rInv || !s) return failed(SG_CRYPTO_ERR_MEMORY);
    BN_set_flags(blinded.get(), BN_FLG_CONSTTIME);
    BN_set_flags(rInv.get(), BN_FLG_CONSTTIME);
    BN_set_flags(s.get(), BN_FLG_CONSTTIME);
    const bool crt = key->p && key->q && key->dP && key->dQ && key->qInv;
    if (brindlow::crypto::rsa::convertMessage(blinded.get(), rInv.get(), m, key->n, key->e,
                                              crt ? key : nullptr) != 1)
        return SG_PKCS1_ERR_BLINDING;
    if (crt) {
        if (!BN_is_odd(key->p) || !BN_is_odd(key->q) || BN_is_one(key->p) || BN_is_one(key->q))
            return SG_CRYPTO_ERR_ARGUMENT;
        BnPtr dP(BN_new()), dQ(BN_new()), m1(BN_new()), m2(BN_new());
        MontPtr montP(BN_MONT_CTX_new()), montQ(BN_MONT_CTX_new());
        if (!dP || !dQ || !m1 || !m2 || !montP || !montQ) return failed(SG_CRYPTO_ERR_MEMORY);
        if (SGRSABlinding_CRTExponent(dP.get(), dQ.get(), key) != 0) return SG_PKCS1_ERR_BLINDING;
        BN_set_flags(m1.get(), BN_FLG_CONSTTIME);
        BN_set_flags(m2.get(), BN_FLG_CONSTTIME);
        if (!BN_MONT_CTX_set(montP.get(), key->p, ctx) ||
            !BN_MONT_CTX_set(montQ.get(), key->q, ctx) ||
            !BN_mod_exp_mont_consttime(m1.get(), blinded.get(), dP.get(), key->p, ctx,
                                       montP.get()) ||
            !BN_mod_exp_mont_consttime(m2.get(), blinded.get(), dQ.get(), key->q, ctx,
                                       montQ.get()) ||
            // h = (m1 - m2) qInv mod p; s = m2 + q h
            !BN_mod_sub(m1.get(), m1.get(), m2.get(), key->p, ctx) ||
            !BN_mod_mul(m1.get(), m1.get(), key->qInv, key->p, ctx) ||
            !BN_mul(s.get(), key->q, m1.get(), ctx) || !BN_add(s.get(), s.get(), m2.get()))
            return failed(SG_CRYPTO_ERR_MEMORY);
    } else {
        BnPtr d(BN_new());
        if (!d) return failed(SG_CRYPTO_ERR_MEMORY);
        if (SGRSABlinding_Exponent(d.get(), key) != 0) return SG_PKCS1_ERR_BLINDING;
        auto montN = montgomeryFor(key->n, ctx);
        if (!montN ||
            !BN_mod_exp_mont_consttime(s.get(), blinded.get(), d.get(), key->n, ctx, montN.get()))
            return failed(SG_CRYPTO_ERR_MEMORY);
    }
    return SGRSABlinding_InvertMessage(out, s.get(), rInv.get(), key->n, ctx) == 1
               ? 0
               : SG_CRYPTO_ERR_MEMORY;
}

// DigestInfo ::= SEQUENCE { SEQUENCE { OID, NULL or the given parameters }, OCTET STRING }.
int encodeDigestInfo(Bytes& out, int hashId, const unsigned char* digestValue,
                     const unsigned char* parameters, size_t parameterLength) {
    const DigestOid* oid = oidFor(hashId);
    if (!oid) return SG_PKCS1_ERR_UNSUPPORTED;
    ASN1Context algorithm{}, info{};
    int r = ASN1Context_Create(&algorithm, nullptr, 0, 0);
    if (r == 0) r = ASN1Context_Create(&info, nullptr, 0, 0);
    if (r == 0)
        r = parameters && parameterLength ? ASN1Write(&algorithm, SG_DER_RAW, parameters,
                                                      static_cast<unsigned>(parameterLength))
                                          : ASN1Write(&algorithm, SG_DER_NULL, nullptr, 0);
    if (r == 0) r = ASN1Write(&algorithm, SG_DER_OBJECT_IDENTIFIER, oid->bytes, oid->length);
    if (r == 0) r = ASN1Write(&algorithm, SG_DER_SEQUENCE, nullptr, 0);
    if (r == 0)
        r = ASN1Write(&info, SG_DER_OCTET_STRING, digestValue,
                      static_cast<unsigned>(hashLength(hashId)));
    if (r == 0)
        r = ASN1Write(&info, SG_DER_RAW, algorithm.data + algorithm.position,
                      algorithm.size - algorithm.position);
    if (r == 0) r = ASN1Write(&info, SG_DER_SEQUENCE, nullptr, 0);
    if (r == 0) out.assign(info.data + info.position, info.data + info.size);
    ASN1Context_Destroy(&algorithm);
    ASN1Context_Destroy(&info);
    return r;
}

// T of EMSA-PKCS1-v1_5: the input as given for hash id 10, else the DigestInfo of the message
// (or of the given digest when the message is already hashed).
int v15DigestInfo(Bytes& t, const unsigned char* message, size_t messageLength,
                  const SGPKCS1Parameter* parameter) {
    const int hashId = parameter->hashId;
    if (hashId == SG_PKCS1_HASH_AS_GIVEN) {
        t.assign(message, message + messageLength);
        return 0;
    }
    if (!oidFor(hashId)) return SG_PKCS1_ERR_UNSUPPORTED;
    unsigned char computed[kMaxHashLength];
    const unsigned char* value = message;
    if (parameter->alreadyHashed == 1) {
        if (messageLength != hashLength(hashId)) return SG_CRYPTO_ERR_ARGUMENT;
    } else {
        if (int r = digest(computed, hashId, message, messageLength)) return r;
        value = computed;
    }
    return encodeDigestInfo(t, hashId, value, parameter->digestInfoParameters,
                            parameter->digestInfoParametersLength);
}

// EM = 00 01 FF..FF 00 T over k bytes; failure when k < |T| + 11.
bool v15SignatureBlock(unsigned char* em, size_t k, const Bytes& t) {
    if (k < t.size() + kV15Overhead) return false;
    em[0] = 0x00;
    em[1] = 0x01;
    std::memset(em + 2, 0xFF, k - t.size() - 3);
    em[k - t.size() - 1] = 0x00;
    std::memcpy(em + k - t.size(), t.data(), t.size());
    return true;
}

int signV15(unsigned char* signature, unsigned int* length, const unsigned char* message,
            unsigned int messageLength, SGPKCS1Parameter* parameter) {
    const SGRSAPrivateKey* key = parameter->privateKey;
    size_t k = 0;
    if (key) {
        if (!key->n) return SG_PKCS1_ERR_KEY_ITEMS;
        k = static_cast<size_t>(BN_num_bytes(key->n));
    } else {
        if (!parameter->keySizeCallback) return SG_PKCS1_ERR_NO_KEY;
        unsigned size = 0;
        if (int r = parameter->keySizeCallback(&size, parameter->callbackUserData)) return r;
        k = size;
    }
    if (!signature) {
        *length = static_cast<unsigned>(k);
        return 0;
    }
    if (*length < k) {
        *length = static_cast<unsigned>(k);
        return SG_PKCS1_ERR_OUTPUT_TOO_SHORT;
    }
    *length = static_cast<unsigned>(k);
    Bytes t;
    if (int r = v15DigestInfo(t, message, messageLength, parameter)) return r;
    SecretBytes block(k > t.size() ? k : t.size());
    size_t blockLength = k;
    if (parameter->signCallback && parameter->externalSignerInput) {
        std::memcpy(block.data(), t.data(), t.size());
        blockLength = t.size();
    } else if (parameter->hashId == SG_PKCS1_HASH_AS_GIVEN && parameter->alreadyHashed == 1 &&
               messageLength == k) {
        std::memcpy(block.data(), message, k);
    } else if (!v15SignatureBlock(block.data(), k, t)) {
        return SG_PKCS1_ERR_V15_ENCODING;
    }
    if (parameter->signCallback) {
        const unsigned algorithm = static_cast<unsigned>(parameter->hashId) << 16 | 1;
        return parameter->signCallback(signature, length, block.data(),
                                       static_cast<unsigned>(blockLength), algorithm,
                                       parameter->callbackUserData);
    }
    CtxPtr ctx(BN_CTX_new());
    BnPtr m(BN_bin2bn(block.data(), static_cast<int>(k), nullptr)), s(BN_new());
    if (!ctx || !m || !s) return failed(SG_CRYPTO_ERR_MEMORY);
    if (BN_cmp(m.get(), key->n) >= 0) return SG_PKCS1_ERR_REPRESENTATIVE;
    if (int r = privateOperation(s.get(), m.get(), key, ctx.get())) return r;
    return i2osp(s.get(), signature, k);
}

// s^e mod n of a signature of exactly k bytes into em[0 .. emLength): 551 for a wrong length,
// a representative not below n, or one that does not fit emLength bytes.
int openSignature(unsigned char* em, size_t emLength, const unsigned char* signature,
                  size_t signatureLength, const SGRSAPublicKey* key) {
    const size_t k = static_cast<size_t>(BN_num_bytes(key->n));
    if (signatureLength != k) return SG_PKCS1_ERR_SIGNATURE;
    CtxPtr ctx(BN_CTX_new());
    BnPtr s(BN_bin2bn(signature, static_cast<int>(signatureLength), nullptr)), m(BN_new());
    if (!ctx || !s || !m) return failed(SG_CRYPTO_ERR_MEMORY);
    if (BN_cmp(s.get(), key->n) >= 0) return SG_PKCS1_ERR_SIGNATURE;
    if (!publicOperation(m.get(), s.get(), key, ctx.get())) return failed(SG_CRYPTO_ERR_MEMORY);
    return i2osp(m.get(), em, emLength) == 0 ? 0 : SG_PKCS1_ERR_SIGNATURE;
}

int verifyV15(const unsigned char* signature, unsigned int signatureLength,
              const unsigned char* message, unsigned int messageLength,
              SGPKCS1Parameter* parameter) {
    const SGRSAPublicKey* key = parameter->publicKey;
    const size_t k = static_cast<size_t>(BN_num_bytes(key->n));
    Bytes em(k), expected(k);
    if (int r = openSignature(em.data(), k, signature, signatureLength, key)) return r;
    if (parameter->hashId == SG_PKCS1_HASH_AS_GIVEN && parameter->alreadyHashed == 1 &&
        messageLength == k) {
        std::memcpy(expected.data(), message, k);
    } else {
        Bytes t;
        if (int r = v15DigestInfo(t, message, messageLength, parameter)) return r;
        if (!v15SignatureBlock(expected.data(), k, t)) return SG_PKCS1_ERR_V15_VERIFY_ENCODING;
    }
    size_t difference = 0;
    for (size_t i = 0; i < k; ++i) difference |= em[i] ^ expected[i];
    return difference == 0 ? 0 : SG_PKCS1_ERR_SIGNATURE;
}

// The hash, mask generation and salt settings of PSS: 0, 558, 580.
int pssSettings(const SGPKCS1Parameter* parameter) {
    if (!canDigest(parameter->hashId)) return SG_PKCS1_ERR_UNSUPPORTED;
    if (parameter->pssMaskGeneration != SG_PKCS1_MGF1) return SG_PKCS1_ERR_PSS_MGF;
    if (!canDigest(parameter->pssMaskHashId) || parameter->pssSaltLength < 0)
        return SG_PKCS1_ERR_UNSUPPORTED;
    return 0;
}

// H = Hash(8 zero bytes || mHash || salt).
int pssHash(unsigned char* h, int hashId, const unsigned char* mHash, size_t hLen,
            const unsigned char* salt, size_t sLen) {
    Bytes input(8 + hLen + sLen, 0);
    std::memcpy(input.data() + 8, mHash, hLen);
    if (sLen) std::memcpy(input.data() + 8 + hLen, salt, sLen);
    return digest(h, hashId, input.data(), input.size());
}

int signPss(unsigned char* signature, unsigned int* length, const unsigned char* message,
            unsigned int messageLength, SGPKCS1Parameter* parameter) {
    const SGRSAPrivateKey* key = parameter->privateKey;
    if (!key) return parameter->signCallback ? SG_PKCS1_ERR_KEY_ITEMS : SG_PKCS1_ERR_NO_KEY;
    if (!key->n || !key->e) return SG_PKCS1_ERR_KEY_ITEMS;
    if (int r = pssSettings(parameter)) return r;
    const size_t k = static_cast<size_t>(BN_num_bytes(key->n));
    if (!signature) {
        *length = static_cast<unsigned>(k);
        return 0;
    }
    if (*length < k) {
        *length = static_cast<unsigned>(k);
        return SG_PKCS1_ERR_OUTPUT_TOO_SHORT;
    }
    *length = static_cast<unsigned>(k);
    const int hashId = parameter->hashId;
    const size_t hLen = hashLength(hashId), sLen = static_cast<size_t>(parameter->pssSaltLength);
    const size_t emBits = static_cast<size_t>(BN_num_bits(key->n)) - 1;
    const size_t emLen = (emBits + 7) / 8;
    unsigned char mHash[kMaxHashLength];
    if (digest(mHash, hashId, message, messageLength) != 0) return SG_PKCS1_ERR_DIGEST;
    if (emLen < hLen + sLen + 2) return SG_PKCS1_ERR_PSS_ENCODING;
    SecretBytes em(emLen);
    const size_t dbLen = emLen - hLen - 1;
    unsigned char* db = em.data();
    unsigned char* h = em.data() + dbLen;
    unsigned char* salt = db + dbLen - sLen;
    std::memset(db, 0, dbLen);
    db[dbLen - sLen - 1] = 0x01;
    if (parameter->pssSalt) {
        if (sLen) std::memcpy(salt, parameter->pssSalt, sLen);
    } else if (int r = drawRandom(salt, sLen)) {
        return r;
    }
    if (pssHash(h, hashId, mHash, hLen, salt, sLen) != 0) return SG_PKCS1_ERR_DIGEST;
    if (int r = mgf1Xor(db, dbLen, h, hLen, parameter->pssMaskHashId)) return r;
    db[0] &= static_cast<unsigned char>(0xFF >> (8 * emLen - emBits));
    em[emLen - 1] = kPssTrailer;
    CtxPtr ctx(BN_CTX_new());
    BnPtr m(BN_bin2bn(em.data(), static_cast<int>(emLen), nullptr)), s(BN_new());
    if (!ctx || !m || !s) return failed(SG_CRYPTO_ERR_MEMORY);
    if (int r = privateOperation(s.get(), m.get(), key, ctx.get())) return r;
    return i2osp(s.get(), signature, k);
}

int verifyPss(const unsigned char* signature, unsigned int signatureLength,
              const unsigned char* message, unsigned int messageLength,
              SGPKCS1Parameter* parameter) {
    if (int r = pssSettings(parameter)) return r;
    const SGRSAPublicKey* key = parameter->publicKey;
    const int hashId = parameter->hashId;
    const size_t hLen = hashLength(hashId), sLen = static_cast<size_t>(parameter->pssSaltLength);
    const size_t emBits = static_cast<size_t>(BN_num_bits(key->n)) - 1;
    const size_t emLen = (emBits + 7) / 8;
    Bytes em(emLen);
    if (int r = openSignature(em.data(), emLen, signature, signatureLength, key)) return r;
    unsigned char mHash[kMaxHashLength];
    if (digest(mHash, hashId, message, messageLength) != 0) return SG_PKCS1_ERR_DIGEST;
    if (emLen < hLen + sLen + 2) return SG_PKCS1_ERR_PSS_SHORT;
    if (em[emLen - 1] != kPssTrailer) return SG_PKCS1_ERR_PSS_TRAILER;
    const size_t dbLen = emLen - hLen - 1;
    unsigned char* db = em.data();
    const unsigned char* h = em.data() + dbLen;
    const unsigned char topMask = static_cast<unsigned char>(0xFF >> (8 * emLen - emBits));
    // Bits above emBits are zero in every valid encoding.
    if (db[0] & ~topMask) return SG_PKCS1_ERR_PSS_PADDING;
    if (int r = mgf1Xor(db, dbLen, h, hLen, parameter->pssMaskHashId)) return r;
    db[0] &= topMask;
    const size_t zeros = dbLen - sLen - 1;
    for (size_t i = 0; i < zeros; ++i)
        if (db[i] != 0) return SG_PKCS1_ERR_PSS_PADDING;
    if (db[zeros] != 0x01) return SG_PKCS1_ERR_PSS_SEPARATOR;
    unsigned char expected[kMaxHashLength];
    if (pssHash(expected, hashId, mHash, hLen, db + dbLen - sLen, sLen) != 0)
        return SG_PKCS1_ERR_DIGEST;
    return std::memcmp(expected, h, hLen) == 0 ? 0 : SG_PKCS1_ERR_PSS_HASH;
}

// c = m^e mod n of a block below n, written as k bytes.
int publicEncrypt(unsigned char* output, const unsigned char* em, size_t k,
                  const SGRSAPublicKey* key) {
    CtxPtr ctx(BN_CTX_new());
    BnPtr m(BN_bin2bn(em, static_cast<int>(k), nullptr)), c(BN_new());
    if (!ctx || !m || !c) return failed(SG_CRYPTO_ERR_MEMORY);
    if (BN_cmp(m.get(), key->n) >= 0) return SG_PKCS1_ERR_RSAEP_RANGE;
    if (!publicOperation(c.get(), m.get(), key, ctx.get())) return failed(SG_CRYPTO_ERR_MEMORY);
    return i2osp(c.get(), output, k);
}

// Non-zero padding bytes, in order, from the padding source (at most 2 * length bytes of it)
// or from random draws.
int nonZeroPadding(unsigned char* ps, size_t length, const unsigned char* source) {
    size_t filled = 0;
    if (source) {
        for (size_t i = 0; i < 2 * length && filled < length; ++i)
            if (source[i]) ps[filled++] = source[i];
        return filled == length ? 0 : SG_CRYPTO_ERR_ARGUMENT;
    }
    SecretBytes draw(2 * length);
    while (filled < length) {
        if (int r = drawRandom(draw.data(), draw.size())) return r;
        for (size_t i = 0; i < draw.size() && filled < length; ++i)
            if (draw[i]) ps[filled++] = draw[i];
    }
    return 0;
}

int encryptV15(unsigned char* output, size_t k, const unsigned char* message,
               unsigned int messageLength, const SGPKCS1Parameter* parameter) {
    if (k < kV15Overhead || messageLength > k - kV15Overhead) return SG_PKCS1_ERR_MESSAGE_TOO_LONG;
    SecretBytes em(k);
    const size_t psLength = k - messageLength - 3;
    em[0] = 0x00;
    em[1] = 0x02;
    if (int r = nonZeroPadding(em.data() + 2, psLength, parameter->paddingSource)) return r;
    em[2 + psLength] = 0x00;
    if (messageLength) std::memcpy(em.data() + 3 + psLength, message, messageLength);
    return publicEncrypt(output, em.data(), k, parameter->publicKey);
}

// The OAEP hash settings: 0 or 558.
int oaepSettings(const SGPKCS1Parameter* parameter) {
    if (parameter->oaepMaskGeneration != SG_PKCS1_MGF1 || !canDigest(parameter->hashId) ||
        !canDigest(parameter->oaepMaskHashId))
        return SG_PKCS1_ERR_UNSUPPORTED;
    return 0;
}

int labelHash(unsigned char* lHash, const SGPKCS1Parameter* parameter) {
    const unsigned char* label = parameter->oaepLabel;
    const size_t length = label ? static_cast<size_t>(parameter->oaepLabelLength) : 0;
    return digest(lHash, parameter->hashId, label, length) == 0 ? 0 : SG_PKCS1_ERR_DIGEST;
}

int encryptOaep(unsigned char* output, size_t k, const unsigned char* message,
                unsigned int messageLength, const SGPKCS1Parameter* parameter) {
    if (int r = oaepSettings(parameter)) return r;
    if (parameter->oaepLabel && parameter->oaepLabelLength < 0) return SG_PKCS1_ERR_UNSUPPORTED;
    const size_t hLen = hashLength(parameter->hashId);
    if (k < 2 * hLen + 2 || messageLength > k - 2 * hLen - 2) return SG_PKCS1_ERR_MESSAGE_TOO_LONG;
    SecretBytes em(k);
    unsigned char* seed = em.data() + 1;
    unsigned char* db = em.data() + 1 + hLen;
    const size_t dbLen = k - hLen - 1;
    if (int r = labelHash(db, parameter)) return r;
    db[dbLen - messageLength - 1] = 0x01;
    if (messageLength) std::memcpy(db + dbLen - messageLength, message, messageLength);
    if (parameter->oaepSeed) {
        std::memcpy(seed, parameter->oaepSeed, hLen);
    } else if (int r = drawRandom(seed, hLen)) {
        return r;
    }
    if (int r = mgf1Xor(db, dbLen, seed, hLen, parameter->oaepMaskHashId)) return r;
    if (int r = mgf1Xor(seed, hLen, db, dbLen, parameter->oaepMaskHashId)) return r;
    return publicEncrypt(output, em.data(), k, parameter->publicKey);
}

// RSADP of a ciphertext of k bytes into em: 586 when it is not below n.
int privateDecrypt(SecretBytes& em, const unsigned char* ciphertext, size_t k,
                   const SGRSAPrivateKey* key) {
    CtxPtr ctx(BN_CTX_new());
    BnPtr c(BN_bin2bn(ciphertext, static_cast<int>(k), nullptr)), m(BN_new());
    if (!ctx || !c || !m) return failed(SG_CRYPTO_ERR_MEMORY);
    BN_set_flags(m.get(), BN_FLG_CONSTTIME);
    if (BN_cmp(c.get(), key->n) >= 0) return SG_PKCS1_ERR_RSADP_RANGE;
    if (int r = privateOperation(m.get(), c.get(), key, ctx.get())) return r;
    return i2osp(m.get(), em.data(), k);
}

int decryptV15(unsigned char* output, unsigned int* length, const unsigned char* ciphertext,
               unsigned int ciphertextLength, const SGRSAPrivateKey* key) {
    const size_t k = static_cast<size_t>(BN_num_bytes(key->n));
    if (ciphertextLength != k || k < kV15Overhead) return SG_PKCS1_ERR_CIPHERTEXT_LENGTH;
    const size_t capacity = k - kV15Overhead;
    if (!output || *length < capacity) {
        *length = static_cast<unsigned>(capacity);
        return SG_PKCS1_ERR_OUTPUT_TOO_SHORT;
    }
    SecretBytes em(k);
    if (int r = privateDecrypt(em, ciphertext, k, key)) return r;
    // Everything below runs the same way whatever the block holds.
    const size_t firstOk = ctEq(em[0], 0x00);
    const size_t typeOk = ctEq(em[1], 0x02);
    size_t found = 0, zeroIndex = 0;
    for (size_t i = 2; i < k; ++i) {
        const size_t isZero = ctEq(em[i], 0x00);
        zeroIndex = ctSelect(~found & isZero, i, zeroIndex);
        found |= isZero;
    }
    // At least eight padding bytes: the separator sits at index 10 or later.
    const size_t paddingOk = found & ~ctLt(zeroIndex, 2 + 8);
    const size_t good = firstOk & typeOk & paddingOk;
    const size_t code = ctSelect(firstOk,
                                 ctSelect(typeOk, ctSelect(paddingOk, 0, SG_PKCS1_ERR_V15_PADDING),
                                          SG_PKCS1_ERR_V15_BLOCK_TYPE),
                                 SG_PKCS1_ERR_V15_FIRST_BYTE);
    ctCopyMessage(output, capacity, em.data(), k, kV15Overhead, zeroIndex + 1, good);
    const size_t messageLength = k - zeroIndex - 1;
    *length = static_cast<unsigned>(ctSelect(good, messageLength, *length));
    return static_cast<int>(code);
}

int decryptOaep(unsigned char* output, unsigned int* length, const unsigned char* ciphertext,
                unsigned int ciphertextLength, const SGPKCS1Parameter* parameter) {
    if (int r = oaepSettings(parameter)) return r;
    const SGRSAPrivateKey* key = parameter->privateKey;
    const size_t k = static_cast<size_t>(BN_num_bytes(key->n));
    const size_t hLen = hashLength(parameter->hashId);
    if (parameter->oaepLabelLength == -1 ||
        (parameter->oaepLabel && parameter->oaepLabelLength < 0) || ciphertextLength != k ||
        k < 2 * hLen + 2)
        return SG_PKCS1_ERR_OAEP_DECRYPT;
    const size_t capacity = k - 2 * hLen - 2;
    if (!output || *length < capacity) {
        *length = static_cast<unsigned>(capacity);
        return SG_PKCS1_ERR_OUTPUT_TOO_SHORT;
    }
    SecretBytes em(k);
    if (int r = privateDecrypt(em, ciphertext, k, key))
        return r == SG_PKCS1_ERR_RSADP_RANGE ? SG_PKCS1_ERR_OAEP_DECRYPT : r;
    unsigned char lHash[kMaxHashLength];
    if (int r = labelHash(lHash, parameter)) return r;
    unsigned char* seed = em.data() + 1;
    unsigned char* db = em.data() + 1 + hLen;
    const size_t dbLen = k - hLen - 1;
    if (int r = mgf1Xor(seed, hLen, db, dbLen, parameter->oaepMaskHashId)) return r;
    if (int r = mgf1Xor(db, dbLen, seed, hLen, parameter->oaepMaskHashId)) return r;
    // Everything below runs the same way whatever the block holds.
    size_t good = ctEq(em[0], 0x00);
    size_t difference = 0;
    for (size_t i = 0; i < hLen; ++i) difference |= db[i] ^ lHash[i];
    good &= ctIsZero(difference);
    size_t found = 0, oneIndex = 0;
    for (size_t i = hLen; i < dbLen; ++i) {
        const size_t isOne = ctEq(db[i], 0x01), isZero = ctEq(db[i], 0x00);
        oneIndex = ctSelect(~found & isOne, i, oneIndex);
        good &= found | isZero | isOne;  // bytes before the separator are zero
        found |= isOne;
    }
    good &= found;
    ctCopyMessage(output, capacity, db, dbLen, hLen + 1, oneIndex + 1, good);
    *length = static_cast<unsigned>(ctSelect(good, dbLen - oneIndex - 1, *length));
    return static_cast<int>(ctSelect(good, 0, SG_PKCS1_ERR_OAEP_DECRYPT));
}

// ---- Hand-over to the validated module ----

namespace module = brindlow::crypto::rsa::module;

// The parameter record's module area: a copy of its fields and the key object of the operation.
struct ModuleParameter {
    unsigned char fields[offsetof(SGPKCS1Parameter, marker)];
    unsigned char privateKey[1024];
    unsigned char publicKey[1024];
};
static_assert(sizeof(ModuleParameter) <= SG_CRYPTO_MODULE_AREA_SIZE);
constexpr unsigned kKeyScratch = 8192;

bool moduleHash(int hashId) {
    return hashId == SG_DIGEST_SHA224 || hashId == SG_DIGEST_SHA256;
}

// The module when one is current and takes this scheme: PSS or OAEP over SHA-224 and SHA-256.
void* const* moduleForScheme(const SGPKCS1Parameter* p, bool signature) {
    void* const* m = brindlow::crypto::moduleTable();
    if (!m || !p || !moduleHash(p->hashId)) return nullptr;
    if (signature)
        return p->signatureScheme == SG_PKCS1_PSS && moduleHash(p->pssMaskHashId) ? m : nullptr;
    return p->encryptionScheme == SG_PKCS1_OAEP && moduleHash(p->oaepMaskHashId) ? m : nullptr;
}

// Marks the record, makes the module's object of the private or public key from its DER, runs
// the operation on the record's module area and releases the object again.
template <typename Operation>
int handOver(void* const* m, SGPKCS1Parameter* p, bool privateKey, Operation operation) {
    if (privateKey ? !p->privateKey : !p->publicKey) return SG_PKCS1_ERR_NO_KEY;
    SGCrypto_Structure_Init(p, SG_STRUCTURE_PKCS1_PARAMETER);
    auto* area = reinterpret_cast<ModuleParameter*>(p->marker.moduleArea);
    std::memcpy(area->fields, p, sizeof area->fields);
    unsigned char* object = privateKey ? area->privateKey : area->publicKey;
    SecretBytes der(kKeyScratch);
    unsigned length = kKeyScratch;
    int r = privateKey ? SGRSAPrivateKey_Encode(der.data(), &length, p->privateKey)
                       : SGRSAPublicKey_Encode(der.data(), &length, p->publicKey);
    if (r == 0)
        r = module::slot<module::Make>(m, privateKey ? module::kPrivateMake : module::kPublicMake)(
            object, der.data(), length);
    if (r != 0) {
        SGCrypto_Structure_Fini(p, SG_STRUCTURE_PKCS1_PARAMETER);
        return r;
    }
    r = operation(area);
    module::slot<module::Free>(m, privateKey ? module::kPrivateFree : module::kPublicFree)(object);
    SGCrypto_Structure_Fini(p, SG_STRUCTURE_PKCS1_PARAMETER);
    return r;
}

}  // namespace

extern "C" {

int _SGPKCS1_Sign(unsigned char* signature, unsigned int* length, const unsigned char* message,
                  unsigned int messageLength, SGPKCS1Parameter* parameter) {
    if (!parameter || (!parameter->privateKey && !parameter->signCallback))
        return SG_PKCS1_ERR_NO_KEY;
    if (!length || (!message && messageLength > 0)) return SG_CRYPTO_ERR_ARGUMENT;
    switch (parameter->signatureScheme) {
        case SG_PKCS1_V15_SIGNATURE:
            return signV15(signature, length, message, messageLength, parameter);
        case SG_PKCS1_PSS:
            return signPss(signature, length, message, messageLength, parameter);
        default:
            return SG_PKCS1_ERR_UNSUPPORTED;
    }
}

int _SGPKCS1_Verify(const unsigned char* signature, unsigned int signatureLength,
                    const unsigned char* message, unsigned int messageLength,
                    SGPKCS1Parameter* parameter) {
    if (!signature || !parameter) return SG_PKCS1_ERR_NO_KEY;
    if (int r = checkPublic(parameter->publicKey)) return r;
    if (!message && messageLength > 0) return SG_CRYPTO_ERR_ARGUMENT;
    switch (parameter->signatureScheme) {
        case SG_PKCS1_V15_SIGNATURE:
            return verifyV15(signature, signatureLength, message, messageLength, parameter);
        case SG_PKCS1_PSS:
            return verifyPss(signature, signatureLength, message, messageLength, parameter);
        default:
            return SG_PKCS1_ERR_UNSUPPORTED;
    }
}

int SGPKCS1_Sign(unsigned char* signature, unsigned int* length, const unsigned char* message,
                 unsigned int messageLength, SGPKCS1Parameter* parameter) {
    if (void* const* m = moduleForScheme(parameter, true))
        return handOver(m, parameter, true, [&](ModuleParameter* area) {
            return module::slot<module::Sign>(m, module::kSign)(area, signature, length, message,
                                                                messageLength);
        });
    return _SGPKCS1_Sign(signature, length, message, messageLength, parameter);
}

int SGPKCS1_Verify(const unsigned char* signature, unsigned int signatureLength,
                   const unsigned char* message, unsigned int messageLength,
                   SGPKCS1Parameter* parameter) {
    if (void* const* m = moduleForScheme(parameter, true))
        return handOver(m, parameter, false, [&](ModuleParameter* area) {
            return module::slot<module::Verify>(m, module::kVerify)(
                area, signature, signatureLength, message, messageLength);
        });
    return _SGPKCS1_Verify(signature, signatureLength, message, messageLength, parameter);
}

int SGPKCS1_Encrypt(unsigned char* output, unsigned int* length, const unsigned char* message,
                    unsigned int messageLength, SGPKCS1Parameter* parameter) {
    if (!parameter) return SG_PKCS1_ERR_NO_KEY;
    if (void* const* m = moduleForScheme(parameter, false))
        return handOver(m, parameter, false, [&](ModuleParameter* area) {
            return module::slot<module::Sign>(m, module::kEncrypt)(area, output, length, message,
                                                                   messageLength);
        });
    if (int r = checkPublic(parameter->publicKey)) return r;
    if (!length || (!message && messageLength > 0)) return SG_CRYPTO_ERR_ARGUMENT;
    const int scheme = parameter->encryptionScheme;
    if (scheme != SG_PKCS1_V15_ENCRYPTION && scheme != SG_PKCS1_OAEP)
        return SG_PKCS1_ERR_UNSUPPORTED;
    const size_t k = static_cast<size_t>(BN_num_bytes(parameter->publicKey->n));
    if (!output || *length < k) {
        *length = static_cast<unsigned>(k);
        return SG_PKCS1_ERR_OUTPUT_TOO_SHORT;
    }
    const int r = scheme == SG_PKCS1_OAEP
                      ? encryptOaep(output, k, message, messageLength, parameter)
                      : encryptV15(output, k, message, messageLength, parameter);
    if (r == 0) *length = static_cast<unsigned>(k);
    return r;
}

int SGPKCS1_Decrypt(unsigned char* output, unsigned int* length, const unsigned char* ciphertext,
                    unsigned int ciphertextLength, SGPKCS1Parameter* parameter) {
    if (!parameter || !parameter->privateKey) return SG_PKCS1_ERR_NO_KEY;
    if (void* const* m = moduleForScheme(parameter, false))
        return handOver(m, parameter, true, [&](ModuleParameter* area) {
            return module::slot<module::Sign>(m, module::kDecrypt)(area, output, length, ciphertext,
                                                                   ciphertextLength);
        });
    const SGRSAPrivateKey* key = parameter->privateKey;
    if (!key->n || !key->e) return SG_PKCS1_ERR_KEY_ITEMS;
    if (!length || (!ciphertext && ciphertextLength > 0)) return SG_CRYPTO_ERR_ARGUMENT;
    switch (parameter->encryptionScheme) {
        case SG_PKCS1_V15_ENCRYPTION:
            return decryptV15(output, length, ciphertext, ciphertextLength, key);
        case SG_PKCS1_OAEP:
            return decryptOaep(output, length, ciphertext, ciphertextLength, parameter);
        default:
            return SG_PKCS1_ERR_UNSUPPORTED;
    }
}

int SGPKCS1_CreateDigestInfo(unsigned char* output, unsigned int* length, int hashId,
                             const unsigned char* digestValue, const unsigned char* parameters,
                             int parameterLength) {
    if (hashId == SG_PKCS1_HASH_AS_GIVEN) return SG_CRYPTO_ERR_ARGUMENT;
    if (!oidFor(hashId)) return SG_PKCS1_ERR_UNSUPPORTED;
    if (!output || !length || !digestValue || parameterLength < 0 ||
        (!parameters && parameterLength > 0))
        return SG_CRYPTO_ERR_ARGUMENT;
    Bytes info;
    if (int r = encodeDigestInfo(info, hashId, digestValue, parameters,
                                 static_cast<size_t>(parameterLength)))
        return r;
    if (*length < info.size()) return SG_RSA_ERR_BUFFER;
    std::memcpy(output, info.data(), info.size());
    *length = static_cast<unsigned>(info.size());
    return 0;
}

int SGPKCS1_DecodeDigestInfo(int* hashId, unsigned char* digestValue, unsigned int* digestLength,
                             unsigned char* parameters, unsigned int* parameterLength,
                             const unsigned char* der, int length) {
    if (!der || length <= 0) return SG_CRYPTO_ERR_ARGUMENT;
    ASN1Context c{};
    if (ASN1Context_Create(&c, const_cast<unsigned char*>(der), length, 0) != 0)
        return SG_CRYPTO_ERR_ARGUMENT;
    unsigned n = 0;
    if (ASN1Read(&c, SG_DER_SEQUENCE, &n) || ASN1Read(&c, SG_DER_SEQUENCE, &n) ||
        ASN1Read(&c, SG_DER_OBJECT_IDENTIFIER, &n))
        return kDigestInfoError;
    int id = 0;
    for (const auto& oid : kOids) {
        if ((oid.hashId == SG_DIGEST_SHA1 || oid.hashId >= SG_DIGEST_SHA256) && oid.length == n &&
            std::memcmp(oid.bytes, c.value, n) == 0)
            id = oid.hashId;
    }
    if (!id) return SG_PKCS1_ERR_UNSUPPORTED;
    // The parameters element as a whole: tag, length and contents.
    const uint32_t start = c.position;
    int tag = 0;
    if (ASN1Read_Any(&c, &tag, &n)) return kDigestInfoError;
    if (tag == SG_DER_SEQUENCE) c.position += n;
    const unsigned parametersSize = c.position - start;
    if (parameterLength) {
        if (parameters) {
            if (*parameterLength < parametersSize) {
                *parameterLength = parametersSize;
                return SG_RSA_ERR_BUFFER;
            }
            std::memcpy(parameters, der + start, parametersSize);
        }
        *parameterLength = parametersSize;
    }
    if (ASN1Read(&c, SG_DER_OCTET_STRING, &n)) return kDigestInfoError;
    if (digestLength) {
        if (digestValue) {
            if (*digestLength < n) {
                *digestLength = n;
                return SG_RSA_ERR_BUFFER;
            }
            std::memcpy(digestValue, c.value, n);
        }
        *digestLength = n;
    }
    if (hashId) *hashId = id;
    return 0;
}

}  // extern "C"
