#include "SGKCDSA.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "SGBigIntegerInternal.h"
#include "SGCrypto.h"
#include "SGDER.h"
#include "SGDigest.h"
#include "SGKCDSAInternal.h"
#include "SGRandom.h"

static_assert(sizeof(SGKCDSAParameter) == 88);
static_assert(sizeof(SGKCDSASchemeParameter) == 4248);
static_assert(offsetof(SGKCDSASchemeParameter, domain) == 0);
static_assert(offsetof(SGKCDSASchemeParameter, privateKey) == sizeof(SGKCDSAParameter));
static_assert(sizeof(SGKCDSAPrivateKey) == sizeof(void*) &&
              sizeof(SGKCDSAPublicKey) == sizeof(void*));

using namespace brindlow::crypto::bn;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kMaxDigest = 32;
constexpr size_t kSeedDrawBytes = 128;
constexpr uint32_t kProgressEvery = 5000;
constexpr uint32_t kMaxCounter = 1u << 24;
constexpr int kMaxPBits = 16384;
constexpr int kSizeQueryOverhead = 13;
constexpr unsigned char kSelfTestMessage[] = {'m', 'e', 's', 's', 'a', 'g', 'e'};
constexpr unsigned kSelfTestBuffer = 3072;
// Fresh randomness for x is drawn again when it gives x = 0; more failures mean a broken
// generator.
constexpr int kKeyAttempts = 16;

template <typename T>
T failed(T result) {
    ERR_clear_error();
    return result;
}

// A byte buffer wiped before it is released or resized.
class SecretBytes {
  public:
    explicit SecretBytes(size_t n = 0) : bytes_(n) {}
    ~SecretBytes() { wipe(); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    void resize(size_t n) {
        wipe();
        bytes_.assign(n, 0);
    }
    unsigned char* data() { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }
    unsigned char& operator[](size_t i) { return bytes_[i]; }

  private:
    void wipe() {
        if (!bytes_.empty()) SGCrypto_cleanse(bytes_.data(), bytes_.size());
    }
    std::vector<unsigned char> bytes_;
};

BIGNUM* secretNumber() {
    BIGNUM* b = BN_new();
    if (b) BN_set_flags(b, BN_FLG_CONSTTIME);
    return b;
}

// The generator's hash for the bits of q.
int hashForBits(int bits) {
    switch (bits) {
        case 160:
            return SG_DIGEST_HAS160;
        case 224:
            return SG_DIGEST_SHA224;
        case 256:
            return SG_DIGEST_SHA256;
        default:
            return 0;
    }
}

// The digest length of a hash id the generator allows, else 0.
int digestLength(int hashId) {
    return hashId == SG_DIGEST_HAS160 || hashId == SG_DIGEST_SHA224 || hashId == SG_DIGEST_SHA256
               ? SGDigest_GetDigestSize(hashId)
               : 0;
}

// The digest length of a hash id signatures allow, else 0: the generator's, and SHA-1, with
// which the PKI layer verifies KCDSA-signed certificates and lists (for a 160-bit q).
int signatureDigestLength(int hashId) {
    return hashId == SG_DIGEST_SHA1 ? SGDigest_GetDigestSize(hashId) : digestLength(hashId);
}

int hashParts(unsigned char* out, int hashId,
              std::initializer_list<std::pair<const unsigned char*, size_t>> parts) {
    SGDigestContext c;
    std::memset(&c, 0, offsetof(SGDigestContext, marker));
    int r = _SGDigestContext_Init(&c, hashId);
    if (r == 0) r = _SGDigest_Init(&c);
    for (const auto& [data, length] : parts) {
        if (r == 0 && length) r = _SGDigest_Update(&c, data, static_cast<uint32_t>(length));
    }
    if (r == 0) r = _SGDigest_Final(&c, out);
    _SGDigestContext_Clear(&c);
    return r;
}

// The generator into bits / 8 rounded up big-endian bytes: H(seed || 0) forms the least
// significant bytes, H(seed || 1) the next ones, and the last block keeps its low bits only.
int generate(SecretBytes& out, const unsigned char* seed, size_t seedLength, unsigned bits,
             int hashId) {
    const int hLen = digestLength(hashId);
    if (!hLen || (!seed && seedLength)) return SG_CRYPTO_ERR_ARGUMENT;
    const unsigned h = 8u * static_cast<unsigned>(hLen);
    const unsigned m = bits / h, rest = bits % h;
    if (m > 255) return SG_CRYPTO_ERR_ARGUMENT;
    const size_t total = (bits + 7) / 8;
    out.resize(total);
    unsigned char block[kMaxDigest];
    int r = 0;
    for (unsigned i = 0; i <= m && r == 0; ++i) {
        if (i == m && rest == 0) break;
        const unsigned char counter = static_cast<unsigned char>(i);
        r = hashParts(block, hashId, {{seed, seedLength}, {&counter, 1}});
        if (r != 0) break;
        if (i < m) {
            std::memcpy(out.data() + total - (i + 1) * static_cast<size_t>(hLen), block,
                        static_cast<size_t>(hLen));
        } else {
            const size_t restBytes = (rest + 7) / 8;
            std::memcpy(out.data(), block + hLen - restBytes, restBytes);
            if (rest % 8) out[0] &= static_cast<unsigned char>((1u << (rest % 8)) - 1);
        }
    }
    SGCrypto_cleanse(block, sizeof block);
    return r;
}

int generateNumber(BIGNUM* out, const unsigned char* seed, size_t seedLength, unsigned bits,
                   int hashId) {
    SecretBytes u;
    if (int r = generate(u, seed, seedLength, bits, hashId)) return r;
    return BN_bin2bn(u.data(), static_cast<int>(u.size()), out) ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

void minimalBytes(SecretBytes& out, const BIGNUM* a) {
    out.resize(static_cast<size_t>(BN_num_bytes(a)));
    BN_bn2bin(a, out.data());
}

// PRNG((key + seedValue) mod 2^beta, beta) mod q: how x and the per-signature secret are made.
int deriveSecret(BIGNUM* out, const BIGNUM* key, const BIGNUM* seedValue, const BIGNUM* q, int beta,
                 BN_CTX* ctx) {
    BnPtr value(secretNumber());
    if (!value || !BN_add(value.get(), key, seedValue)) return failed(SG_CRYPTO_ERR_MEMORY);
    if (BN_num_bits(value.get()) > beta && !BN_mask_bits(value.get(), beta))
        return failed(SG_CRYPTO_ERR_MEMORY);
    SecretBytes bytes;
    minimalBytes(bytes, value.get());
    if (int r = generateNumber(out, bytes.data(), bytes.size(), static_cast<unsigned>(beta),
                               hashForBits(beta)))
        return r;
    BN_set_flags(out, BN_FLG_CONSTTIME);
    return BN_nnmod(out, out, q, ctx) ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

// A domain the arithmetic can run on: p, q and g present, q of 160, 224 or 256 bits, p and q
// odd, p longer than q, 1 < g < p.
int checkDomain(const SGKCDSAParameter& d, int& beta) {
    if (!d.p || !d.q || !d.g) return SG_CRYPTO_ERR_ARGUMENT;
    beta = BN_num_bits(d.q);
    if (!hashForBits(beta)) return SG_KCDSA_ERR_SIZE;
    if (BN_is_negative(d.p) || !BN_is_odd(d.p) || !BN_is_odd(d.q) || BN_num_bits(d.p) <= beta ||
        BN_num_bits(d.p) > kMaxPBits || BN_is_negative(d.g) || BN_is_zero(d.g) || BN_is_one(d.g) ||
        BN_cmp(d.g, d.p) >= 0)
        return SG_CRYPTO_ERR_ARGUMENT;
    return 0;
}

// y = g^(x^-1 mod q) mod p, the inverse by Fermat's little theorem; both exponentiations run in
// constant time.
int publicKeyOf(BIGNUM* y, const BIGNUM* x, const BIGNUM* p, const BIGNUM* q, const BIGNUM* g,
                BN_CTX* ctx) {
    if (BN_is_zero(x) || BN_is_negative(x) || BN_cmp(x, q) >= 0) return SG_CRYPTO_ERR_ARGUMENT;
    BnPtr exponent(BN_dup(q)), inverse(secretNumber()), secretX(BN_dup(x));
    if (!exponent || !inverse || !secretX || !BN_sub_word(exponent.get(), 2))
        return failed(SG_CRYPTO_ERR_MEMORY);
    BN_set_flags(secretX.get(), BN_FLG_CONSTTIME);
    if (!BN_mod_exp_mont_consttime(inverse.get(), secretX.get(), exponent.get(), q, ctx, nullptr) ||
        !BN_mod_exp_mont_consttime(y, g, inverse.get(), p, ctx, nullptr))
        return failed(SG_CRYPTO_ERR_MEMORY);
    return 0;
}

// The rightmost beta/8 bytes of a digest.
const unsigned char* truncated(const unsigned char* digest, int hLen, int betaBytes) {
    return digest + (hLen - betaBytes);
}

// H(Z || M) with Z = y mod 2^l written as l/8 bytes.
int messageHash(unsigned char* out, const SGKCDSAContext& c, const unsigned char* message,
                size_t messageLength) {
    BnPtr z(BN_dup(c.y));
    if (!z) return failed(SG_CRYPTO_ERR_MEMORY);
    if (BN_num_bits(z.get()) > c.l && !BN_mask_bits(z.get(), c.l))
        return failed(SG_CRYPTO_ERR_MEMORY);
    Bytes zBytes(static_cast<size_t>(c.l / 8));
    if (BN_bn2binpad(z.get(), zBytes.data(), static_cast<int>(zBytes.size())) < 0)
        return failed(SG_CRYPTO_ERR_MEMORY);
    return hashParts(out, c.hashId, {{zBytes.data(), zBytes.size()}, {message, messageLength}});
}

// H(W) with W as minimal bytes.
int witnessHash(unsigned char* out, const SGKCDSAContext& c, const BIGNUM* w) {
    Bytes bytes(static_cast<size_t>(BN_num_bytes(w)));
    BN_bn2bin(w, bytes.data());
    return hashParts(out, c.hashId, {{bytes.data(), bytes.size()}});
}

// E = (R xor H) mod q.
int challenge(BIGNUM* e, const unsigned char* r, const unsigned char* h, int betaBytes,
              const SGKCDSAContext& c) {
    unsigned char x[kMaxDigest];
    for (int i = 0; i < betaBytes; ++i) x[i] = r[i] ^ h[i];
    const bool ok = BN_bin2bn(x, betaBytes, e) && BN_nnmod(e, e, c.q, c.pool);
    return ok ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

// The DER of { R, S } into out.
int encodeSignature(Bytes& out, const unsigned char* r, int rLength, const BIGNUM* s) {
    Bytes sBytes(static_cast<size_t>(BN_num_bytes(s)));
    BN_bn2bin(s, sBytes.data());
    unsigned length = 0;
    if (int e = SGKCDSA_Encode_SignatureValue(nullptr, &length, r, rLength, sBytes.data(),
                                              static_cast<int>(sBytes.size())))
        return e;
    out.resize(length);
    return SGKCDSA_Encode_SignatureValue(out.data(), &length, r, rLength, sBytes.data(),
                                         static_cast<int>(sBytes.size()));
}

// Steps 3 to 8 of signing with the secret k, into the caller's buffer.
int signPrepared(SGKCDSAContext& c, unsigned char* signature, unsigned int* length,
                 const unsigned char* message, size_t messageLength, const BIGNUM* k) {
    if (!c.y || BN_is_zero(c.y)) {
        if (!c.y && !(c.y = BN_new())) return failed(SG_CRYPTO_ERR_MEMORY);
        if (int r = publicKeyOf(c.y, c.x, c.p, c.q, c.g, c.pool)) return r;
    }
    const int betaBytes = c.beta / 8, hLen = signatureDigestLength(c.hashId);
    BnPtr w(BN_new()), e(BN_new()), t(secretNumber()), s(secretNumber()), secretK(BN_dup(k));
    if (!w || !e || !t || !s || !secretK) return failed(SG_CRYPTO_ERR_MEMORY);
    BN_set_flags(secretK.get(), BN_FLG_CONSTTIME);
    if (!BN_mod_exp_mont_consttime(w.get(), c.g, secretK.get(), c.p, c.pool, nullptr))
        return failed(SG_CRYPTO_ERR_MEMORY);
    unsigned char rDigest[kMaxDigest], hDigest[kMaxDigest];
    if (int r = witnessHash(rDigest, c, w.get())) return r;
    if (int r = messageHash(hDigest, c, message, messageLength)) return r;
    const unsigned char* R = truncated(rDigest, hLen, betaBytes);
    if (int r = challenge(e.get(), R, truncated(hDigest, hLen, betaBytes), betaBytes, c)) return r;
    // S = x (k - E) mod q
    if (!BN_mod_sub(t.get(), secretK.get(), e.get(), c.q, c.pool) ||
        !BN_mod_mul(s.get(), c.x, t.get(), c.q, c.pool))
        return failed(SG_CRYPTO_ERR_MEMORY);
    Bytes der;
    if (int r = encodeSignature(der, R, betaBytes, s.get())) return r;
    if (*length < der.size()) {
        *length = static_cast<unsigned>(der.size());
        return SG_KCDSA_ERR_BUFFER;
    }
    std::memcpy(signature, der.data(), der.size());
    *length = static_cast<unsigned>(der.size());
    return 0;
}

// XKEY and XSEED of the context's generator: the record's fixed values, else random ones.
int seedGenerator(SGKCDSAContext& c, const SGKCDSASchemeParameter* parameter) {
    if (c.seeded) return 0;
    c.xkey = secretNumber();
    c.xseed = secretNumber();
    if (!c.xkey || !c.xseed) return failed(SG_CRYPTO_ERR_MEMORY);
    if (parameter->randomKey) {
        if (!BN_copy(c.xkey, parameter->randomKey)) return failed(SG_CRYPTO_ERR_MEMORY);
    } else if (int r = SGBigInteger_random(c.xkey, static_cast<unsigned>(c.beta), 1, 0)) {
        return r;
    }
    if (parameter->randomSeed) {
        if (!BN_copy(c.xseed, parameter->randomSeed)) return failed(SG_CRYPTO_ERR_MEMORY);
    } else {
        SecretBytes draw(kSeedDrawBytes);
        if (int r = _SGRandom_bytes(draw.data(), static_cast<int>(draw.size()))) return r;
        if (int r = generateNumber(c.xseed, draw.data(), draw.size(), static_cast<unsigned>(c.beta),
                                   hashForBits(c.beta)))
            return r;
    }
    c.seeded = 1;
    return 0;
}

// Arguments of signing up to the size query: 0, or the result to return.
int prepareSign(SGKCDSAContext& c, unsigned char* signature, unsigned int* length,
                const unsigned char* message, unsigned int messageLength,
                const SGKCDSASchemeParameter* parameter) {
    if (!parameter->privateKey || !parameter->privateKey->x || (!message && messageLength))
        return SG_CRYPTO_ERR_ARGUMENT;
    if (int r = SGKCDSAContext_Init(&c, parameter)) return r;
    if (!signature) {
        *length = static_cast<unsigned>(2 * (c.beta / 8) + kSizeQueryOverhead);
        return SG_KCDSA_ERR_BUFFER;
    }
    return 0;
}

// Trial division by the small primes, then Miller-Rabin: the division spares most composite
// candidates an exponentiation and changes no answer.
bool probablyPrime(const BIGNUM* a) {
    const int primes = BN_num_bits(a) < 512 ? 64 : kSmallPrimeCount;
    for (int i = 1; i < primes; ++i) {
        if (BN_mod_word(a, kSmallPrimes[i]) == 0) return BN_is_word(a, kSmallPrimes[i]);
    }
    return SGBigInteger_isPrime(a) == 1;
}

// Reads a positive INTEGER into a new number.
int readPositive(ASN1Context* c, BnPtr& out) {
    unsigned length = 0;
    if (int r = ASN1Read(c, SG_DER_INTEGER, &length)) return r;
    if (length == 0 || (c->value[0] & 0x80)) return SG_DER_ERR_LENGTH;
    out.reset(BN_bin2bn(c->value, static_cast<int>(length), nullptr));
    return out ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

int decodeKeyInteger(BIGNUM** slot, const unsigned char* der, int length) {
    ASN1Context c{};
    if (int r = ASN1Context_Create(&c, const_cast<unsigned char*>(der), length, 0)) return r;
    BnPtr value;
    if (int r = readPositive(&c, value)) return r;
    BN_set_flags(value.get(), BN_FLG_CONSTTIME);
    BN_clear_free(*slot);
    *slot = value.release();
    return 0;
}

// An encoding context whose buffer is released with it.
class Writer {
  public:
    Writer() { ok_ = ASN1Context_Create(&c_, nullptr, 0, 0) == 0; }
    ~Writer() { ASN1Context_Destroy(&c_); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    bool ok() const { return ok_; }
    ASN1Context* get() { return &c_; }
    const unsigned char* begin() const { return c_.data + c_.position; }
    uint32_t length() const { return c_.size - c_.position; }

  private:
    ASN1Context c_{};
    bool ok_ = false;
};

int writeInteger(ASN1Context* c, const BIGNUM* value) {
    Bytes bytes(static_cast<size_t>(BN_num_bytes(value)));
    BN_bn2bin(value, bytes.data());
    return ASN1Write(c, SG_DER_INTEGER, bytes.data(), static_cast<unsigned>(bytes.size()));
}

BIGNUM** parameterItem(SGKCDSAParameter* d, int item) {
    switch (item) {
        case 0:
            return &d->p;
        case 1:
            return &d->q;
        case 2:
            return &d->g;
        case 3:
            return &d->J;
        default:
            return nullptr;
    }
}

}  // namespace

int SGKCDSAContext_Init(SGKCDSAContext* c, const SGKCDSASchemeParameter* parameter) {
    if (!c) return SG_CRYPTO_ERR_ARGUMENT;
    std::memset(c, 0, sizeof *c);
    if (!parameter) return SG_CRYPTO_ERR_ARGUMENT;
    const SGKCDSAParameter& d = parameter->domain;
    int beta = 0;
    if (int r = checkDomain(d, beta)) return r;
    const int hLen = signatureDigestLength(parameter->hashId);
    if (!hLen || hLen < beta / 8) return SG_CRYPTO_ERR_ARGUMENT;
    c->hashId = parameter->hashId;
    c->beta = beta;
    c->l = 8 * SGDigest_GetBlockSize(parameter->hashId);
    c->p = BN_dup(d.p);
    c->q = BN_dup(d.q);
    c->g = BN_dup(d.g);
    c->pool = BN_CTX_new();
    bool ok = c->p && c->q && c->g && c->pool;
    if (ok && d.J) ok = (c->J = BN_dup(d.J)) != nullptr;
    if (ok && parameter->privateKey && parameter->privateKey->x) {
        ok = (c->x = BN_dup(parameter->privateKey->x)) != nullptr;
        if (ok) BN_set_flags(c->x, BN_FLG_CONSTTIME);
    }
    if (ok && parameter->publicKey && parameter->publicKey->y)
        ok = (c->y = BN_dup(parameter->publicKey->y)) != nullptr;
    if (!ok) {
        SGKCDSAContext_Reset(c);
        return failed(SG_CRYPTO_ERR_MEMORY);
    }
    return 0;
}

void SGKCDSAContext_Reset(SGKCDSAContext* c) {
    if (!c) return;
    for (BIGNUM* b : {c->p, c->q, c->g, c->J, c->x, c->y, c->xkey, c->xseed}) BN_clear_free(b);
    BN_CTX_free(c->pool);
    SGCrypto_cleanse(c, sizeof *c);
}

namespace brindlow::crypto::kcdsa {

int signWithSecret(unsigned char* signature, unsigned int* length, const unsigned char* message,
                   unsigned int messageLength, SGKCDSASchemeParameter* parameter, const BIGNUM* k) {
    if (!length || !parameter || !k) return SG_CRYPTO_ERR_ARGUMENT;
    SGKCDSAContext c;
    int r = prepareSign(c, signature, length, message, messageLength, parameter);
    if (r == 0) r = signPrepared(c, signature, length, message, messageLength, k);
    SGKCDSAContext_Reset(&c);
    return r;
}

int privateKeyFrom(BIGNUM* x, const SGKCDSAParameter& domain, const unsigned char* xkey,
                   size_t xkeyLength, const unsigned char* seedInput, size_t seedInputLength) {
    if (!x || !xkey || !seedInput) return SG_CRYPTO_ERR_ARGUMENT;
    int beta = 0;
    if (int r = checkDomain(domain, beta)) return r;
    BnPtr key(BN_bin2bn(xkey, static_cast<int>(xkeyLength), nullptr)), seedValue(secretNumber());
    CtxPtr ctx(BN_CTX_new());
    if (!key || !seedValue || !ctx) return failed(SG_CRYPTO_ERR_MEMORY);
    BN_set_flags(key.get(), BN_FLG_CONSTTIME);
    if (int r = generateNumber(seedValue.get(), seedInput, seedInputLength,
                               static_cast<unsigned>(beta), hashForBits(beta)))
        return r;
    return deriveSecret(x, key.get(), seedValue.get(), domain.q, beta, ctx.get());
}

int jFromSeed(BIGNUM* J, const unsigned char* seed, int pBits, int qBits) {
    const unsigned bits = static_cast<unsigned>(pBits - qBits - 4);
    if (int r = generateNumber(J, seed, static_cast<size_t>(qBits / 8), bits, hashForBits(qBits)))
        return r;
    // 1000 in the top four bits of pBits - qBits, and odd.
    for (int bit = pBits - qBits - 4; bit <= pBits - qBits - 2; ++bit) BN_clear_bit(J, bit);
    if (!BN_set_bit(J, pBits - qBits - 1) || !BN_set_bit(J, 0)) return failed(SG_CRYPTO_ERR_MEMORY);
    return probablyPrime(J) ? 0 : -1;
}

int primesAtCounter(BIGNUM* p, BIGNUM* q, const BIGNUM* J, const unsigned char* seed,
                    uint32_t counter, int pBits, int qBits) {
    const size_t seedLength = static_cast<size_t>(qBits / 8);
    std::vector<unsigned char> input(seed, seed + seedLength);
    for (int i = 3; i >= 0; --i) input.push_back(static_cast<unsigned char>(counter >> (8 * i)));
    if (int r = generateNumber(q, input.data(), input.size(), static_cast<unsigned>(qBits),
                               hashForBits(qBits)))
        return r;
    if (!BN_set_bit(q, qBits - 1) || !BN_set_bit(q, 0)) return failed(SG_CRYPTO_ERR_MEMORY);
    // p = 2Jq + 1
    CtxPtr ctx(BN_CTX_new());
    if (!ctx || !BN_mul(p, J, q, ctx.get()) || !BN_lshift1(p, p) || !BN_add_word(p, 1))
        return failed(SG_CRYPTO_ERR_MEMORY);
    if (BN_num_bits(p) > pBits) return -1;
    return probablyPrime(q) && probablyPrime(p) ? 0 : -1;
}

}  // namespace brindlow::crypto::kcdsa

namespace kcdsa = brindlow::crypto::kcdsa;

extern "C" {

int SGKCDSA_Sign(unsigned char* signature, unsigned int* length, const unsigned char* message,
                 unsigned int messageLength, SGKCDSASchemeParameter* parameter) {
    if (!length || !parameter) return SG_CRYPTO_ERR_ARGUMENT;
    if (parameter->signCallback)
        return parameter->signCallback(
            signature, length, message, messageLength,
            static_cast<unsigned>(parameter->hashId) << 16 | SG_KCDSA_SCHEME,
            parameter->callbackUserData);
    SGKCDSAContext c;
    int r = prepareSign(c, signature, length, message, messageLength, parameter);
    if (r == 0) r = seedGenerator(c, parameter);
    if (r == 0) {
        BnPtr k(secretNumber());
        r = k ? deriveSecret(k.get(), c.xkey, c.xseed, c.q, c.beta, c.pool)
              : failed(SG_CRYPTO_ERR_MEMORY);
        if (r == 0) r = signPrepared(c, signature, length, message, messageLength, k.get());
    }
    SGKCDSAContext_Reset(&c);
    return r;
}

int SGKCDSA_Verify(const unsigned char* signature, int signatureLength,
                   const unsigned char* message, int messageLength,
                   SGKCDSASchemeParameter* parameter) {
    if (!signature || signatureLength <= 0 || !parameter || !parameter->publicKey ||
        !parameter->publicKey->y || messageLength < 0 || (!message && messageLength > 0))
        return SG_CRYPTO_ERR_ARGUMENT;
    SGKCDSAContext c;
    if (int r = SGKCDSAContext_Init(&c, parameter)) return r;
    const int betaBytes = c.beta / 8, hLen = signatureDigestLength(c.hashId);
    const size_t capacity = static_cast<size_t>(signatureLength);
    Bytes rBytes(capacity), sBytes(capacity);
    unsigned rLength = static_cast<unsigned>(capacity), sLength = rLength;
    int result = SGKCDSA_Decode_SignatureValue(rBytes.data(), &rLength, sBytes.data(), &sLength,
                                               signature, signatureLength);
    if (result != 0 || rLength != static_cast<unsigned>(betaBytes)) result = SG_CRYPTO_ERR_ARGUMENT;
    BnPtr s(BN_bin2bn(sBytes.data(), static_cast<int>(sLength), nullptr)), e(BN_new()), w(BN_new());
    if (result == 0 && (!s || !e || !w)) result = failed(SG_CRYPTO_ERR_MEMORY);
    // 0 < S < q, and 1 < y < p.
    if (result == 0 && (BN_is_zero(s.get()) || BN_cmp(s.get(), c.q) >= 0 || BN_is_zero(c.y) ||
                        BN_is_one(c.y) || BN_cmp(c.y, c.p) >= 0))
        result = SG_KCDSA_ERR_INVALID;
    unsigned char hDigest[kMaxDigest], rDigest[kMaxDigest];
    if (result == 0) result = messageHash(hDigest, c, message, static_cast<size_t>(messageLength));
    if (result == 0)
        result =
            challenge(e.get(), rBytes.data(), truncated(hDigest, hLen, betaBytes), betaBytes, c);
    // W' = g^E y^S mod p
    if (result == 0 && !BN_mod_exp2_mont(w.get(), c.g, e.get(), c.y, s.get(), c.p, c.pool, nullptr))
        result = failed(SG_CRYPTO_ERR_MEMORY);
    if (result == 0) result = witnessHash(rDigest, c, w.get());
    if (result == 0 && CRYPTO_memcmp(truncated(rDigest, hLen, betaBytes), rBytes.data(),
                                     static_cast<size_t>(betaBytes)) != 0)
        result = SG_KCDSA_ERR_INVALID;
    SGKCDSAContext_Reset(&c);
    return result;
}

int SGKCDSA_GenerateKeyPair(SGBigInteger** x, SGBigInteger** y, SGKCDSASchemeParameter* parameter) {
    if (!x || !y || !parameter) return SG_CRYPTO_ERR_ARGUMENT;
    int beta = 0;
    if (int r = checkDomain(parameter->domain, beta)) return r;
    BnPtr newX(secretNumber()), newY(BN_new());
    if (!newX || !newY) return failed(SG_CRYPTO_ERR_MEMORY);
    if (int r = SGKCDSA_Generate_PrivateSignatureKey(newX.get(), &parameter->domain)) return r;
    if (int r = SGKCDSA_Generate_PublicVerificationKey(newY.get(), newX.get(), &parameter->domain))
        return r;
    // The new pair must sign and verify.
    SGKCDSAPrivateKey privateKey{newX.get()};
    SGKCDSAPublicKey publicKey{newY.get()};
    SGKCDSASchemeParameter test{};
    test.domain = parameter->domain;
    test.privateKey = &privateKey;
    test.publicKey = &publicKey;
    test.hashId = SG_DIGEST_SHA256;
    std::vector<unsigned char> buffer(kSelfTestBuffer);
    unsigned length = kSelfTestBuffer;
    int r = SGKCDSA_Sign(buffer.data(), &length, kSelfTestMessage, sizeof kSelfTestMessage, &test);
    if (r == 0)
        r = SGKCDSA_Verify(buffer.data(), static_cast<int>(length), kSelfTestMessage,
                           sizeof kSelfTestMessage, &test);
    SGCrypto_cleanse(&test, sizeof test);
    if (r != 0) return SG_KCDSA_ERR_SELF_TEST;
    *x = newX.release();
    *y = newY.release();
    return 0;
}

int SGKCDSA_GenerateParameters(SGKCDSAParameter* parameters, int pBits, unsigned int qBits) {
    if (!parameters) return SG_CRYPTO_ERR_ARGUMENT;
    const int beta = static_cast<int>(qBits);
    if (qBits > 256 || !hashForBits(beta)) return SG_KCDSA_ERR_SIZE;
    if (pBits < beta + 64 || pBits > kMaxPBits) return SG_CRYPTO_ERR_ARGUMENT;
    const size_t seedLength = qBits / 8;
    BnPtr J(BN_new()), p(BN_new()), q(BN_new()), h(BN_new()), g(BN_new()), range(BN_new()),
        check(BN_new()), twoJ(BN_new());
    CtxPtr ctx(BN_CTX_new());
    if (!J || !p || !q || !h || !g || !range || !check || !twoJ || !ctx)
        return failed(SG_CRYPTO_ERR_MEMORY);
    unsigned char seed[sizeof parameters->seed];
    uint32_t counter = 0;
    for (bool found = false; !found;) {
        if (int r = _SGRandom_bytes(seed, static_cast<int>(seedLength))) return r;
        const int j = kcdsa::jFromSeed(J.get(), seed, pBits, beta);
        if (j > 0) return j;
        if (j < 0) continue;
        for (counter = 1; counter <= kMaxCounter; ++counter) {
            if (counter % kProgressEvery == 1) {
                std::printf("count:%d", static_cast<int>(counter));
                std::fflush(stdout);
            }
            const int r =
                kcdsa::primesAtCounter(p.get(), q.get(), J.get(), seed, counter, pBits, beta);
            if (r > 0) return r;
            if (r == 0) {
                found = true;
                break;
            }
        }
    }
    // g = h^(2J) mod p for h in [2, p - 2], until g is not 1; g must then have order q.
    if (!BN_copy(range.get(), p.get()) || !BN_sub_word(range.get(), 3) ||
        !BN_lshift1(twoJ.get(), J.get()))
        return failed(SG_CRYPTO_ERR_MEMORY);
    do {
        if (SGBigInteger_pseudoRandomInRange(h.get(), range.get()) != 1 ||
            !BN_add_word(h.get(), 2) ||
            !BN_mod_exp(g.get(), h.get(), twoJ.get(), p.get(), ctx.get()))
            return failed(SG_CRYPTO_ERR_MEMORY);
    } while (BN_is_one(g.get()));
    if (!BN_mod_exp(check.get(), g.get(), q.get(), p.get(), ctx.get()))
        return failed(SG_CRYPTO_ERR_MEMORY);
    if (!BN_is_one(check.get())) return SG_KCDSA_ERR_GENERATOR;
    SGKCDSAParameter_Clear(parameters);
    parameters->p = p.release();
    parameters->q = q.release();
    parameters->g = g.release();
    parameters->J = J.release();
    std::memset(parameters->seed, 0, sizeof parameters->seed);
    std::memcpy(parameters->seed, seed, seedLength);
    parameters->seedLength = static_cast<int>(seedLength);
    parameters->counter = static_cast<int>(counter);
    return 0;
}

int SGKCDSA_Encode_SignatureValue(unsigned char* output, unsigned int* length,
                                  const unsigned char* r, int rLength, const unsigned char* s,
                                  int sLength) {
    if (!length || !r || rLength <= 0 || sLength < 0 || (!s && sLength > 0))
        return SG_CRYPTO_ERR_ARGUMENT;
    while (sLength > 0 && *s == 0) {
        ++s;
        --sLength;
    }
    Writer w;
    if (!w.ok()) return SG_CRYPTO_ERR_MEMORY;
    int result = ASN1Write(w.get(), SG_DER_INTEGER, s, static_cast<unsigned>(sLength));
    if (result == 0)
        result = ASN1Write(w.get(), SG_DER_BIT_STRING, r, static_cast<unsigned>(rLength));
    if (result == 0) result = ASN1Write(w.get(), SG_DER_SEQUENCE, nullptr, 0);
    if (result != 0) return result;
    if (output) {
        if (*length < w.length()) {
            *length = w.length();
            return SG_KCDSA_ERR_BUFFER;
        }
        std::memcpy(output, w.begin(), w.length());
    }
    *length = w.length();
    return 0;
}

int SGKCDSA_Decode_SignatureValue(unsigned char* r, unsigned int* rLength, unsigned char* s,
                                  unsigned int* sLength, const unsigned char* der, int length) {
    if (!r || !rLength || !s || !sLength || !der || length <= 0) return SG_CRYPTO_ERR_ARGUMENT;
    ASN1Context c{};
    if (int e = ASN1Context_Create(&c, const_cast<unsigned char*>(der), length, 0)) return e;
    unsigned sequenceLength = 0, rLen = 0, sLen = 0;
    if (int e = ASN1Read(&c, SG_DER_SEQUENCE, &sequenceLength)) return e;
    const uint32_t end = c.position + sequenceLength;
    if (end != static_cast<uint32_t>(length)) return SG_DER_ERR_LENGTH;
    if (int e = ASN1Read(&c, SG_DER_BIT_STRING, &rLen)) return e;
    const unsigned char* rValue = c.value;
    if (int e = ASN1Read(&c, SG_DER_INTEGER, &sLen)) return e;
    const unsigned char* sValue = c.value;
    if (c.position != end || sLen == 0) return SG_DER_ERR_LENGTH;
    // Leading zero bytes of s carry nothing.
    while (sLen > 0 && *sValue == 0) {
        ++sValue;
        --sLen;
    }
    if (*rLength < rLen || *sLength < sLen) {
        *rLength = rLen;
        *sLength = sLen;
        return SG_KCDSA_ERR_BUFFER;
    }
    if (rLen) std::memcpy(r, rValue, rLen);
    if (sLen) std::memcpy(s, sValue, sLen);
    *rLength = rLen;
    *sLength = sLen;
    return 0;
}

int SGKCDSAParameter_Encode(unsigned char* output, unsigned int* length,
                            const SGKCDSAParameter* parameters) {
    if (!length || !parameters || !parameters->p || !parameters->q || !parameters->g ||
        parameters->seedLength < 0 ||
        parameters->seedLength > static_cast<int>(sizeof parameters->seed))
        return SG_CRYPTO_ERR_ARGUMENT;
    Writer outer;
    if (!outer.ok()) return SG_CRYPTO_ERR_MEMORY;
    int r = 0;
    if (parameters->seedLength > 0) {
        Writer inner;
        if (!inner.ok()) return SG_CRYPTO_ERR_MEMORY;
        const uint32_t counter = static_cast<uint32_t>(parameters->counter);
        unsigned char counterBytes[4];
        for (int i = 0; i < 4; ++i)
            counterBytes[i] = static_cast<unsigned char>(counter >> (24 - 8 * i));
        int skip = 0;
        while (skip < 4 && counterBytes[skip] == 0) ++skip;
        r = ASN1Write(inner.get(), SG_DER_INTEGER, counterBytes + skip,
                      static_cast<unsigned>(4 - skip));
        if (r == 0)
            r = ASN1Write(inner.get(), SG_DER_OCTET_STRING, parameters->seed,
                          static_cast<unsigned>(parameters->seedLength));
        if (r == 0) r = ASN1Write(inner.get(), SG_DER_SEQUENCE, nullptr, 0);
        if (r == 0) r = ASN1Write(outer.get(), SG_DER_RAW, inner.begin(), inner.length());
    }
    if (r == 0 && parameters->J) r = writeInteger(outer.get(), parameters->J);
    for (const BIGNUM* item : {parameters->g, parameters->q, parameters->p}) {
        if (r == 0) r = writeInteger(outer.get(), item);
    }
    if (r == 0) r = ASN1Write(outer.get(), SG_DER_SEQUENCE, nullptr, 0);
    if (r != 0) return r;
    const uint32_t needed = outer.length();
    if (*length < needed) {
        *length = needed;
        return SG_KCDSA_ERR_PARAMETER_OUTPUT;
    }
    if (output) std::memcpy(output, outer.begin(), needed);
    *length = needed;
    return 0;
}

int SGKCDSAParameter_Decode(SGKCDSAParameter* parameters, const unsigned char* der, int length) {
    if (!parameters || !der || length <= 0) return SG_CRYPTO_ERR_ARGUMENT;
    ASN1Context c{};
    if (int r = ASN1Context_Create(&c, const_cast<unsigned char*>(der), length, 0)) return r;
    unsigned sequenceLength = 0;
    const int r = ASN1Read(&c, SG_DER_SEQUENCE, &sequenceLength);
    if (r == SG_DER_ERR_TAG) return SG_KCDSA_ERR_NO_SEQUENCE;
    if (r) return r;
    BnPtr items[3];
    for (BnPtr& item : items) {
        if (int e = readPositive(&c, item)) return e;
    }
    // A domain from a file or a peer is held to the rule of signing and verification here, so
    // that no caller runs its own arithmetic on a p or q of any size.
    SGKCDSAParameter decoded{};
    decoded.p = items[0].get();
    decoded.q = items[1].get();
    decoded.g = items[2].get();
    int beta = 0;
    if (int e = checkDomain(decoded, beta)) return e;
    SGKCDSAParameter_Clear(parameters);
    parameters->p = items[0].release();
    parameters->q = items[1].release();
    parameters->g = items[2].release();
    std::memset(parameters->seed, 0, sizeof parameters->seed);
    parameters->seedLength = 0;
    parameters->counter = 0;
    return 0;
}

int SGKCDSAParameter_SetItem(SGKCDSAParameter* parameters, const unsigned char* bytes, int length,
                             int item) {
    if (!parameters || length < 0 || (!bytes && length > 0)) return SG_CRYPTO_ERR_ARGUMENT;
    BIGNUM** slot = parameterItem(parameters, item);
    if (!slot) return SG_CRYPTO_ERR_ARGUMENT;
    BIGNUM* value = BN_bin2bn(bytes, length, *slot);
    if (!value) return failed(SG_CRYPTO_ERR_MEMORY);
    *slot = value;
    return 0;
}

int SGKCDSAParameter_Clear(SGKCDSAParameter* parameters) {
    if (!parameters) return 0;
    for (int item = 0; item < 4; ++item) {
        BIGNUM** slot = parameterItem(parameters, item);
        BN_free(*slot);
        *slot = nullptr;
    }
    return 0;
}

int SGKCDSAPrivateKey_Encode(unsigned char*, unsigned int*, const SGKCDSAPrivateKey*) {
    return SG_KCDSA_ERR_NOT_SUPPORTED;
}

int SGKCDSAPrivateKey_Decode(SGKCDSAPrivateKey* key, const unsigned char* der, int length) {
    if (!key || !der || length <= 0) return SG_CRYPTO_ERR_ARGUMENT;
    return decodeKeyInteger(&key->x, der, length);
}

int SGKCDSAPrivateKey_GetKeySize(int*, const SGKCDSAPrivateKey*) {
    return SG_KCDSA_ERR_NOT_SUPPORTED;
}

int SGKCDSAPrivateKey_Free(SGKCDSAPrivateKey* key) {
    if (!key) return 0;
    BN_clear_free(key->x);
    SGCrypto_cleanse(key, sizeof *key);
    return 0;
}

int SGKCDSAPublicKey_Encode(unsigned char*, unsigned int*, const SGKCDSAPublicKey*) {
    return SG_KCDSA_ERR_NOT_SUPPORTED;
}

int SGKCDSAPublicKey_Decode(SGKCDSAPublicKey* key, const unsigned char* der, int length) {
    if (!key || !der || length <= 0) return SG_CRYPTO_ERR_ARGUMENT;
    return decodeKeyInteger(&key->y, der, length);
}

int SGKCDSAPublicKey_GetKeySize(int* bytes, const SGKCDSAPublicKey* key) {
    if (!bytes || !key || !key->y) return SG_CRYPTO_ERR_ARGUMENT;
    *bytes = BN_num_bytes(key->y);
    return 0;
}

int SGKCDSAPublicKey_Free(SGKCDSAPublicKey* key) {
    if (!key) return 0;
    BN_clear_free(key->y);
    SGCrypto_cleanse(key, sizeof *key);
    return 0;
}

int SGKCDSA_PRNG(unsigned char* output, unsigned int* outputLength, const unsigned char* seed,
                 unsigned int seedLength, unsigned int bits, int hashId) {
    if (!output || !outputLength) return SG_CRYPTO_ERR_ARGUMENT;
    SecretBytes u;
    if (int r = generate(u, seed, seedLength, bits, hashId)) return r;
    size_t skip = 0;
    while (skip < u.size() && u[skip] == 0) ++skip;
    if (u.size() > skip) std::memcpy(output, u.data() + skip, u.size() - skip);
    *outputLength = static_cast<unsigned>(u.size() - skip);
    return 0;
}

int SGKCDSA_Generate_PrivateSignatureKey(SGBigInteger* x, const SGKCDSAParameter* domain) {
    if (!x || !domain) return SG_CRYPTO_ERR_ARGUMENT;
    int beta = 0;
    if (int r = checkDomain(*domain, beta)) return r;
    SecretBytes xkey(static_cast<size_t>(beta / 8)), seedInput(static_cast<size_t>(beta / 8));
    for (int attempt = 0; attempt < kKeyAttempts; ++attempt) {
        if (int r = _SGRandom_bytes(xkey.data(), static_cast<int>(xkey.size()))) return r;
        if (int r = _SGRandom_bytes(seedInput.data(), static_cast<int>(seedInput.size()))) return r;
        if (int r = kcdsa::privateKeyFrom(x, *domain, xkey.data(), xkey.size(), seedInput.data(),
                                          seedInput.size()))
            return r;
        if (!BN_is_zero(x)) return 0;
    }
    return SG_KCDSA_ERR_SELF_TEST;
}

int SGKCDSA_Generate_PublicVerificationKey(SGBigInteger* y, const SGBigInteger* x,
                                           const SGKCDSAParameter* domain) {
    if (!y || !x || !domain) return SG_CRYPTO_ERR_ARGUMENT;
    int beta = 0;
    if (int r = checkDomain(*domain, beta)) return r;
    CtxPtr ctx(BN_CTX_new());
    if (!ctx) return failed(SG_CRYPTO_ERR_MEMORY);
    return publicKeyOf(y, x, domain->p, domain->q, domain->g, ctx.get());
}

int SGKCDSA_CheckStrongPrime(const SGBigInteger* a) {
    return SGBigInteger_isPrime(a) == 1 ? 0 : -1;
}

}  // extern "C"
