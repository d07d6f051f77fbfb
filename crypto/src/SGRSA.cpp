#include "SGRSA.h"

#include <openssl/err.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "KeySource.h"
#include "SGBigIntegerInternal.h"
#include "SGDER.h"
#include "SGDigest.h"
#include "SGPKCS1.h"
#include "SGCryptoInternal.h"
#include "SGRSAInternal.h"

static_assert(sizeof(SGRSAPublicKey) == 4120);
static_assert(sizeof(SGRSAPrivateKey) == 4176);
static_assert(offsetof(SGRSAPublicKey, marker) == 4120 - sizeof(SGCryptoStructureMarker));
static_assert(offsetof(SGRSAPrivateKey, marker) == 4176 - sizeof(SGCryptoStructureMarker));

using namespace brindlow::crypto::bn;
using brindlow::crypto::moduleTable;
using brindlow::crypto::rsa::moduleFor;
namespace module = brindlow::crypto::rsa::module;

namespace {

constexpr const char* kKeyStoreLabel = "SSL Keypair for TovelWire Server";
constexpr unsigned char kSelfTestMessage[] = "This is KeyPair Matching Test !";
constexpr unsigned kSelfTestMessageLength = sizeof kSelfTestMessage - 1;  // no NUL
constexpr unsigned kSelfTestBufferSize = 3072;
constexpr unsigned long kProveValue = 123456;
// A key store that keeps answering with the wrong size is given up after this many tries.
constexpr int kKeyStoreAttempts = 3;

template <typename T>
T failed(T result) {
    ERR_clear_error();
    return result;
}

// An encoding context whose buffer may hold key material: wiped before it is released.
class Writer {
  public:
    Writer() { ok_ = ASN1Context_Create(&c_, nullptr, 0, 0) == 0; }
    ~Writer() {
        if (c_.data) SGCrypto_cleanse(c_.data, c_.size);
        ASN1Context_Destroy(&c_);
    }
    bool ok() const { return ok_; }
    ASN1Context* get() { return &c_; }
    const unsigned char* begin() const { return c_.data + c_.position; }
    uint32_t length() const { return c_.size - c_.position; }

  private:
    ASN1Context c_{};
    bool ok_ = false;
};

int writeInteger(ASN1Context* c, const BIGNUM* value) {
    std::vector<unsigned char> bytes(static_cast<size_t>(BN_num_bytes(value)));
    BN_bn2bin(value, bytes.data());
    const int r = ASN1Write(c, SG_DER_INTEGER, bytes.data(), static_cast<unsigned>(bytes.size()));
    if (!bytes.empty()) SGCrypto_cleanse(bytes.data(), bytes.size());
    return r;
}

// Writes the integers last to first, then the SEQUENCE around them, and hands out the DER.
int encodeIntegers(unsigned char* output, unsigned int* length, const BIGNUM* const* items,
                   size_t count) {
    Writer w;
    if (!w.ok()) return SG_CRYPTO_ERR_MEMORY;
    for (size_t i = count; i-- > 0;) {
        if (int r = writeInteger(w.get(), items[i])) return r;
    }
    if (int r = ASN1Write(w.get(), SG_DER_SEQUENCE, nullptr, 0)) return r;
    if (output) {
        if (*length < w.length()) {
            *length = w.length();
            return SG_RSA_ERR_BUFFER;
        }
        std::memcpy(output, w.begin(), w.length());
    }
    *length = w.length();
    return 0;
}

int readInteger(ASN1Context* c, BnPtr& out) {
    unsigned length = 0;
    if (int r = ASN1Read(c, SG_DER_INTEGER, &length)) return r;
    if (length == 0) return SG_DER_ERR_LENGTH;
    out.reset(BN_bin2bn(c->value, static_cast<int>(length), nullptr));
    return out ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

// Reads a SEQUENCE of count INTEGERs into items.
int decodeIntegers(const unsigned char* der, int length, BnPtr* items, size_t count) {
    ASN1Context c{};
    if (int r = ASN1Context_Create(&c, const_cast<unsigned char*>(der), length, 0)) return r;
    unsigned sequenceLength = 0;
    if (int r = ASN1Read(&c, SG_DER_SEQUENCE, &sequenceLength)) return r;
    for (size_t i = 0; i < count; ++i) {
        if (int r = readInteger(&c, items[i])) return r;
    }
    return 0;
}

SGBigInteger** privateItem(SGRSAPrivateKey* key, int item) {
    switch (item) {
        case SG_RSA_PRIVATE_N:
            return &key->n;
        case SG_RSA_PRIVATE_E:
            return &key->e;
        case SG_RSA_PRIVATE_D:
            return &key->d;
        case SG_RSA_PRIVATE_P:
            return &key->p;
        case SG_RSA_PRIVATE_Q:
            return &key->q;
        case SG_RSA_PRIVATE_DP:
            return &key->dP;
        case SG_RSA_PRIVATE_DQ:
            return &key->dQ;
        case SG_RSA_PRIVATE_QINV:
            return &key->qInv;
        default:
            return nullptr;
    }
}

SGBigInteger** publicItem(SGRSAPublicKey* key, int item) {
    switch (item) {
        case SG_RSA_PUBLIC_N:
            return &key->n;
        case SG_RSA_PUBLIC_E:
            return &key->e;
        default:
            return nullptr;
    }
}

int setItem(SGBigInteger** slot, const unsigned char* bytes, size_t length) {
    BnPtr value(BN_bin2bn(bytes, static_cast<int>(length), nullptr));
    if (!value) return failed(SG_CRYPTO_ERR_MEMORY);
    if (!*slot) {
        *slot = value.release();
        return 0;
    }
    return BN_copy(*slot, value.get()) ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

int getItem(unsigned char* buffer, unsigned int* length, const BIGNUM* item) {
    if (!item) return SG_RSA_ERR_ABSENT;
    const unsigned needed = static_cast<unsigned>(BN_num_bytes(item));
    if (!buffer || *length < needed) {
        *length = needed;
        return SG_RSA_ERR_BUFFER;
    }
    BN_bn2bin(item, buffer);
    *length = needed;
    return 0;
}

// Draws k in [0, n) and gives out = base + k * factor.
bool blindExponent(BIGNUM* out, const BIGNUM* base, const BIGNUM* factor, const BIGNUM* n,
                   BN_CTX* ctx) {
    BnPtr k(BN_new());
    if (!k || !randomInRange(k.get(), n)) return false;
    BN_set_flags(k.get(), BN_FLG_CONSTTIME);
    return BN_mul(k.get(), k.get(), factor, ctx) && BN_add(out, base, k.get());
}

// The library's own pair: primes of ceil(bits/2) and floor(bits/2) bits whose p - 1 and q - 1
// are coprime to e, until n has exactly bits bits.
int generateOwn(SGRSAPrivateKey* priv, SGRSAPublicKey* pub, unsigned bits, int exponent) {
    CtxPtr ctx(BN_CTX_new());
    BnPtr e(BN_new()), p(BN_new()), q(BN_new()), n(BN_new()), d(BN_new()), dP(BN_new()),
        dQ(BN_new()), qInv(BN_new()), p1(BN_new()), q1(BN_new()), phi(BN_new()), g(BN_new());
    if (!ctx || !e || !p || !q || !n || !d || !dP || !dQ || !qInv || !p1 || !q1 || !phi || !g ||
        !BN_set_word(e.get(), static_cast<BN_ULONG>(exponent)))
        return failed(SG_CRYPTO_ERR_MEMORY);
    for (BIGNUM* secret :
         {p.get(), q.get(), d.get(), dP.get(), dQ.get(), qInv.get(), p1.get(), q1.get(), phi.get()})
        BN_set_flags(secret, BN_FLG_CONSTTIME);
    const int pBits = static_cast<int>((bits + 1) / 2);
    const int qBits = static_cast<int>(bits) - pBits;
    // Draws a prime of the size until prime - 1 is coprime to e.
    auto coprimePrime = [&](BIGNUM* prime, BIGNUM* minusOne, int size) {
        for (;;) {
            if (!SGBigInteger_GeneratePrime(prime, size) || !BN_copy(minusOne, prime) ||
                !BN_sub_word(minusOne, 1) || !BN_gcd(g.get(), minusOne, e.get(), ctx.get()))
                return false;
            if (BN_is_one(g.get())) return true;
        }
    };
    do {
        if (!coprimePrime(p.get(), p1.get(), pBits) || !coprimePrime(q.get(), q1.get(), qBits) ||
            !BN_mul(n.get(), p.get(), q.get(), ctx.get()))
            return failed(SG_CRYPTO_ERR_MEMORY);
    } while (BN_num_bits(n.get()) != static_cast<int>(bits) || BN_cmp(p.get(), q.get()) == 0);
    if (!BN_mul(phi.get(), p1.get(), q1.get(), ctx.get()) ||
        !BN_mod_inverse(d.get(), e.get(), phi.get(), ctx.get()) ||
        !BN_mod(dP.get(), d.get(), p1.get(), ctx.get()) ||
        !BN_mod(dQ.get(), d.get(), q1.get(), ctx.get()) ||
        !BN_mod_inverse(qInv.get(), q.get(), p.get(), ctx.get()))
        return failed(SG_CRYPTO_ERR_MEMORY);
    BnPtr pubN(BN_dup(n.get())), pubE(BN_dup(e.get()));
    if (!pubN || !pubE) return failed(SG_CRYPTO_ERR_MEMORY);
    pub->n = pubN.release();
    pub->e = pubE.release();
    priv->n = n.release();
    priv->e = e.release();
    priv->d = d.release();
    priv->p = p.release();
    priv->q = q.release();
    priv->dP = dP.release();
    priv->dQ = dQ.release();
    priv->qInv = qInv.release();
    return 0;
}

// r^-1 mod n, from the inverses modulo p and q when the key has them; false when r has none.
bool invertBlinding(BIGNUM* rInv, const BIGNUM* r, const BIGNUM* n, const SGRSAPrivateKey* key,
                    BN_CTX* ctx) {
    if (!key) return BN_mod_inverse(rInv, r, n, ctx) != nullptr;
    BnPtr rp(BN_new()), rq(BN_new()), ip(BN_new()), iq(BN_new());
    if (!rp || !rq || !ip || !iq) return false;
    for (BIGNUM* secret : {rp.get(), rq.get(), ip.get(), iq.get()})
        BN_set_flags(secret, BN_FLG_CONSTTIME);
    // rInv = iq + q ((ip - iq) qInv mod p)
    return BN_mod(rp.get(), r, key->p, ctx) && BN_mod(rq.get(), r, key->q, ctx) &&
           BN_mod_inverse(ip.get(), rp.get(), key->p, ctx) &&
           BN_mod_inverse(iq.get(), rq.get(), key->q, ctx) &&
           BN_mod_sub(ip.get(), ip.get(), iq.get(), key->p, ctx) &&
           BN_mod_mul(ip.get(), ip.get(), key->qInv, key->p, ctx) &&
           BN_mul(rInv, key->q, ip.get(), ctx) && BN_add(rInv, rInv, iq.get());
}

}  // namespace

namespace brindlow::crypto::rsa {

void* const* moduleFor(const SGCryptoStructureMarker& marker) {
    void* const* m = moduleTable();
    return m && !SGCrypto_Structure_IsLegacy(&marker) ? m : nullptr;
}

bool publicKeyWithinBounds(const BIGNUM* n, const BIGNUM* e) {
    if (!n || !e) return false;
    const int bits = BN_num_bits(n);
    return bits <= SG_RSA_MAX_MODULUS_BITS && BN_ucmp(e, n) < 0 &&
           (bits <= SG_RSA_SMALL_MODULUS_BITS || BN_num_bits(e) <= SG_RSA_MAX_PUBLIC_EXPONENT_BITS);
}

bool privateKeyWithinBounds(const SGRSAPrivateKey& key) {
    if (!publicKeyWithinBounds(key.n, key.e)) return false;
    const int bits = BN_num_bits(key.n);
    for (const BIGNUM* item : {key.d, key.p, key.q, key.dP, key.dQ, key.qInv})
        if (item && BN_num_bits(item) > bits) return false;
    return true;
}

int convertMessage(BIGNUM* blinded, BIGNUM* rInv, const BIGNUM* m, const BIGNUM* n, const BIGNUM* e,
                   const SGRSAPrivateKey* crtKey) {
    if (!blinded || !rInv || !m || !n || !e) return 0;
    if (crtKey && !(crtKey->p && crtKey->q && crtKey->qInv)) crtKey = nullptr;
    CtxPtr ctx(BN_CTX_new());
    BnPtr r(BN_new()), re(BN_new());
    auto mont = montgomeryFor(n, ctx.get());
    if (!ctx || !r || !re || !mont) return failed(0);
    BN_set_flags(r.get(), BN_FLG_CONSTTIME);
    // r = 0, or an r sharing a factor with n, has no inverse: draw again.
    bool inverted = false;
    for (int attempt = 0; attempt < 32 && !inverted; ++attempt) {
        if (!randomInRange(r.get(), n)) return 0;
        inverted = invertBlinding(rInv, r.get(), n, crtKey, ctx.get());
        if (!inverted) ERR_clear_error();
    }
    if (!inverted || !BN_mod_exp_mont(re.get(), r.get(), e, n, ctx.get(), mont.get()) ||
        !BN_mod_mul(blinded, re.get(), m, n, ctx.get()))
        return failed(0);
    return 1;
}

}  // namespace brindlow::crypto::rsa

extern "C" {

int SGRSAPublicKey_Free(SGRSAPublicKey* key) {
    if (!key) return 0;
    if (void* const* m = moduleFor(key->marker))
        module::slot<module::Free>(m, module::kPublicFree)(key->marker.moduleArea);
    BN_clear_free(key->n);
    BN_clear_free(key->e);
    SGCrypto_cleanse(key, sizeof *key);
    return 0;
}

int SGRSAPublicKey_Encode(unsigned char* output, unsigned int* length, const SGRSAPublicKey* key) {
    if (!length || !key) return SG_CRYPTO_ERR_ARGUMENT;
    if (void* const* m = moduleFor(key->marker))
        return module::slot<module::Encode>(m, module::kPublicEncode)(
            const_cast<unsigned char*>(key->marker.moduleArea), output, length);
    if (!key->n || !key->e) return SG_CRYPTO_ERR_ARGUMENT;
    const BIGNUM* items[] = {key->n, key->e};
    return encodeIntegers(output, length, items, 2);
}

int SGRSAPublicKey_Decode(SGRSAPublicKey* key, const unsigned char* der, int length) {
    if (!key || !der || length < 0) return SG_CRYPTO_ERR_ARGUMENT;
    BnPtr items[2];
    if (int r = decodeIntegers(der, length, items, 2)) return r;
    if (!brindlow::crypto::rsa::publicKeyWithinBounds(items[0].get(), items[1].get()))
        return SG_RSA_ERR_KEY_SIZE;
    SGRSAPublicKey_Free(key);
    key->n = items[0].release();
    key->e = items[1].release();
    return 0;
}

int SGRSAPublicKey_GetKeySize(int* bytes, const SGRSAPublicKey* key) {
    if (!bytes || !key) return SG_CRYPTO_ERR_ARGUMENT;
    if (void* const* m = moduleFor(key->marker)) {
        unsigned length = 0;
        const int r = module::slot<module::GetItem>(m, module::kPublicGetItem)(
            const_cast<unsigned char*>(key->marker.moduleArea), nullptr, &length, SG_RSA_PUBLIC_N);
        *bytes = static_cast<int>(length);
        return r;
    }
    if (!key->n) return SG_CRYPTO_ERR_ARGUMENT;
    *bytes = BN_num_bytes(key->n);
    return 0;
}

int SGRSAPublicKey_SetItem(SGRSAPublicKey* key, const unsigned char* bytes, unsigned int length,
                           int item) {
    if (!key || (!bytes && length > 0) || length > 0x7FFFFFFFu) return SG_CRYPTO_ERR_ARGUMENT;
    if (void* const* m = moduleFor(key->marker))
        return module::slot<module::SetItem>(m, module::kPublicSetItem)(key->marker.moduleArea,
                                                                        bytes, length, item);
    SGBigInteger** slot = publicItem(key, item);
    if (!slot) return SG_CRYPTO_ERR_ARGUMENT;
    return setItem(slot, bytes, length);
}

int SGRSAPublicKey_GetItem(unsigned char* buffer, unsigned int* length, const SGRSAPublicKey* key,
                           int item) {
    if (!key || !length) return SG_CRYPTO_ERR_ARGUMENT;
    if (void* const* m = moduleFor(key->marker))
        return module::slot<module::GetItem>(m, module::kPublicGetItem)(
            const_cast<unsigned char*>(key->marker.moduleArea), buffer, length, item);
    SGBigInteger** slot = publicItem(const_cast<SGRSAPublicKey*>(key), item);
    if (!slot) return SG_RSA_ERR_ITEM;
    return getItem(buffer, length, *slot);
}

int SGRSAPrivateKey_Free(SGRSAPrivateKey* key) {
    if (!key) return 0;
    if (void* const* m = moduleFor(key->marker))
        module::slot<module::Free>(m, module::kPrivateFree)(key->marker.moduleArea);
    for (BIGNUM* item :
         {key->version, key->n, key->e, key->d, key->p, key->q, key->dP, key->dQ, key->qInv})
        BN_clear_free(item);
    SGCrypto_cleanse(key, sizeof *key);
    return 0;
}

int SGRSAPrivateKey_Encode(unsigned char* output, unsigned int* length,
                           const SGRSAPrivateKey* key) {
    if (!length || !key) return SG_CRYPTO_ERR_ARGUMENT;
    if (void* const* m = moduleFor(key->marker))
        return module::slot<module::Encode>(m, module::kPrivateEncode)(
            const_cast<unsigned char*>(key->marker.moduleArea), output, length);
    if (!key->n || !key->e || !key->d || !key->p || !key->q || !key->dP || !key->dQ || !key->qInv)
        return SG_CRYPTO_ERR_ARGUMENT;
    BnPtr zero(BN_new());
    if (!zero) return failed(SG_CRYPTO_ERR_MEMORY);
    const BIGNUM* items[] = {zero.get(), key->n,  key->e,  key->d,   key->p,
                             key->q,     key->dP, key->dQ, key->qInv};
    return encodeIntegers(output, length, items, 9);
}

int SGRSAPrivateKey_Decode(SGRSAPrivateKey* key, const unsigned char* der, int length) {
    if (!key || !der || length < 0) return SG_CRYPTO_ERR_ARGUMENT;
    BnPtr items[9];
    if (int r = decodeIntegers(der, length, items, 9)) return r;
    // Version 1 carries further primes that this record cannot hold.
    if (!BN_is_zero(items[0].get())) return SG_DER_ERR_LENGTH;
    SGRSAPrivateKey decoded{};
    SGBigInteger** slots[] = {&decoded.version, &decoded.n,  &decoded.e,  &decoded.d,   &decoded.p,
                              &decoded.q,       &decoded.dP, &decoded.dQ, &decoded.qInv};
    for (int i = 0; i < 9; ++i) *slots[i] = items[i].get();
    if (!brindlow::crypto::rsa::privateKeyWithinBounds(decoded)) return SG_RSA_ERR_KEY_SIZE;
    for (int i = 3; i < 9; ++i) BN_set_flags(items[i].get(), BN_FLG_CONSTTIME);
    SGRSAPrivateKey_Free(key);
    SGBigInteger** into[] = {&key->version, &key->n,  &key->e,  &key->d,   &key->p,
                             &key->q,       &key->dP, &key->dQ, &key->qInv};
    for (int i = 0; i < 9; ++i) *into[i] = items[i].release();
    return 0;
}

int SGRSAPrivateKey_GetKeySize(int* bytes, const SGRSAPrivateKey* key) {
    if (!bytes || !key) return SG_CRYPTO_ERR_ARGUMENT;
    if (void* const* m = moduleFor(key->marker)) {
        unsigned length = 0;
        const int r = module::slot<module::GetItem>(m, module::kPrivateGetItem)(
            const_cast<unsigned char*>(key->marker.moduleArea), nullptr, &length, SG_RSA_PRIVATE_N);
        *bytes = static_cast<int>(length);
        return r;
    }
    if (!key->n) return SG_CRYPTO_ERR_ARGUMENT;
    *bytes = BN_num_bytes(key->n);
    return 0;
}

int SGRSAPrivateKey_SetItem(SGRSAPrivateKey* key, const unsigned char* bytes, int length,
                            int item) {
    if (!key || length < 0 || (!bytes && length > 0)) return SG_CRYPTO_ERR_ARGUMENT;
    SGBigInteger** slot = privateItem(key, item);
    if (!slot) return SG_RSA_ERR_ITEM;
    const int r = setItem(slot, bytes, static_cast<size_t>(length));
    if (r == 0 && item >= SG_RSA_PRIVATE_D) BN_set_flags(*slot, BN_FLG_CONSTTIME);
    return r;
}

int SGRSAPrivateKey_GetItem(unsigned char* buffer, unsigned int* length, const SGRSAPrivateKey* key,
                            int item) {
    if (!key || !length) return SG_CRYPTO_ERR_ARGUMENT;
    if (void* const* m = moduleFor(key->marker))
        return module::slot<module::GetItem>(m, module::kPrivateGetItem)(
            const_cast<unsigned char*>(key->marker.moduleArea), buffer, length, item);
    SGBigInteger** slot = privateItem(const_cast<SGRSAPrivateKey*>(key), item);
    if (!slot) return SG_RSA_ERR_ITEM;
    return getItem(buffer, length, *slot);
}

int SGRSA_GenerateKeyPairByKeyChain(SGRSAPrivateKey* privateKey, SGRSAPublicKey* publicKey,
                                    unsigned int bits) {
    if (!privateKey || !publicKey) return SG_RSA_ERR_NO_KEY;
    const brindlow::platform::KeySource source = brindlow::platform::keySource();
    void* pair = nullptr;
    int status = source.generate(bits, kKeyStoreLabel, &pair);
    if (status != 0) {
        // A platform without a key store is the normal case here, not a failure to report.
        if (status != brindlow::platform::kKeyStoreUnavailable)
            std::printf("keygen fail:%d\n", status);
        return status;
    }
    std::vector<unsigned char> der;
    auto wipe = [&der] {
        if (!der.empty()) SGCrypto_cleanse(der.data(), der.size());
        der.clear();
    };
    if ((status = source.exportPrivate(pair, &der)) != 0) {
        std::printf("private key export fail:%d\n", status);
    } else if ((status = SGRSAPrivateKey_Decode(privateKey, der.data(),
                                                static_cast<int>(der.size()))) != 0) {
        std::printf("privatekey decode fail%d\n", status);
    } else {
        wipe();
        if ((status = source.exportPublic(pair, &der)) != 0) {
            std::printf("public key export fail:%d\n", status);
        } else {
            // SubjectPublicKeyInfo: past the AlgorithmIdentifier to the BIT STRING's contents.
            ASN1Context c{};
            unsigned length = 0;
            status = ASN1Context_Create(&c, der.data(), static_cast<int>(der.size()), 0);
            if (status == 0) status = ASN1Read(&c, SG_DER_SEQUENCE, &length);
            if (status == 0) status = ASN1Read(&c, SG_DER_SEQUENCE, &length);
            if (status == 0) c.position += length;
            if (status == 0) status = ASN1Read(&c, SG_DER_BIT_STRING, &length);
            if (status == 0)
                status = SGRSAPublicKey_Decode(publicKey, c.value, static_cast<int>(length));
            if (status != 0) std::printf("publickey decode fail%d\n", status);
        }
    }
    wipe();
    source.remove(pair);
    return status;
}

int SGRSA_GenerateKeyPair(SGRSAPrivateKey* privateKey, SGRSAPublicKey* publicKey, unsigned int bits,
                          int publicExponent) {
    if (bits < SG_RSA_MIN_BITS || bits > SG_RSA_MAX_BITS) return SG_RSA_ERR_KEY_SIZE;
    if (!privateKey || !publicKey) return SG_RSA_ERR_NO_KEY;
    // An even exponent shares the factor 2 with every p - 1: no prime would ever do.
    if (publicExponent < 3 || publicExponent % 2 == 0) return SG_CRYPTO_ERR_ARGUMENT;
    SGRSAPrivateKey_Free(privateKey);
    SGRSAPublicKey_Free(publicKey);
    if (void* const* m = moduleTable();
        m && (bits == 2048 || bits == 3072) && publicExponent == 65537) {
        SGCrypto_Structure_Init(privateKey, SG_STRUCTURE_RSA_PRIVATE_KEY);
        SGCrypto_Structure_Init(publicKey, SG_STRUCTURE_RSA_PUBLIC_KEY);
        return module::slot<module::Generate>(m, module::kGenerate)(
            privateKey->marker.moduleArea, publicKey->marker.moduleArea, bits, publicExponent);
    }
    bool fromStore = false;
    for (int attempt = 0; attempt < kKeyStoreAttempts && !fromStore; ++attempt) {
        if (SGRSA_GenerateKeyPairByKeyChain(privateKey, publicKey, bits) != 0) break;
        fromStore = privateKey->n && BN_num_bits(privateKey->n) == static_cast<int>(bits);
        if (!fromStore) {
            SGRSAPrivateKey_Free(privateKey);
            SGRSAPublicKey_Free(publicKey);
        }
    }
    if (!fromStore) {
        SGRSAPrivateKey_Free(privateKey);
        SGRSAPublicKey_Free(publicKey);
        if (int r = generateOwn(privateKey, publicKey, bits, publicExponent)) {
            SGRSAPrivateKey_Free(privateKey);
            SGRSAPublicKey_Free(publicKey);
            return r;
        }
    }
    if (SGRSA_KeyPairCheck(privateKey, publicKey) != 0) {
        SGRSAPrivateKey_Free(privateKey);
        SGRSAPublicKey_Free(publicKey);
        return SG_RSA_ERR_SELF_TEST;
    }
    return 0;
}

int SGRSA_KeyPairCheck(SGRSAPrivateKey* privateKey, SGRSAPublicKey* publicKey) {
    if (!privateKey || !publicKey) return SG_RSA_ERR_SELF_TEST;
    SGPKCS1Parameter parameter{};
    parameter.signatureScheme = SG_PKCS1_PSS;
    parameter.hashId = SG_DIGEST_SHA256;
    parameter.pssMaskGeneration = SG_PKCS1_MGF1;
    parameter.pssMaskHashId = SG_DIGEST_SHA256;
    parameter.pssSaltLength = 32;
    parameter.privateKey = privateKey;
    parameter.publicKey = publicKey;
    std::vector<unsigned char> signature(kSelfTestBufferSize);
    unsigned length = kSelfTestBufferSize;
    if (_SGPKCS1_Sign(signature.data(), &length, kSelfTestMessage, kSelfTestMessageLength,
                      &parameter) != 0 ||
        _SGPKCS1_Verify(signature.data(), length, kSelfTestMessage, kSelfTestMessageLength,
                        &parameter) != 0)
        return SG_RSA_ERR_SELF_TEST;
    return 0;
}

int SGRSA_ProveKeyPair(const SGRSAPrivateKey* privateKey, const SGRSAPublicKey* publicKey) {
    if (!privateKey || !publicKey || !privateKey->d || !privateKey->n || !publicKey->n ||
        !publicKey->e ||
        !brindlow::crypto::rsa::publicKeyWithinBounds(publicKey->n, publicKey->e) ||
        !brindlow::crypto::rsa::privateKeyWithinBounds(*privateKey))
        return -1;
    CtxPtr ctx(BN_CTX_new());
    BnPtr m(BN_new()), c(BN_new()), back(BN_new());
    if (!ctx || !m || !c || !back || !BN_set_word(m.get(), kProveValue) ||
        !BN_mod_exp(c.get(), m.get(), publicKey->e, publicKey->n, ctx.get()) ||
        !BN_mod_exp(back.get(), c.get(), privateKey->d, privateKey->n, ctx.get()))
        return failed(-1);
    return BN_cmp(back.get(), m.get()) == 0 ? 0 : -1;
}

int SGRSABlinding_ConvertMessage(SGBigInteger* blinded, SGBigInteger* rInv, const SGBigInteger* m,
                                 const SGBigInteger* n, const SGBigInteger* e) {
    return brindlow::crypto::rsa::convertMessage(blinded, rInv, m, n, e, nullptr);
}

int SGRSABlinding_InvertMessage(SGBigInteger* out, const SGBigInteger* s, const SGBigInteger* rInv,
                                const SGBigInteger* n, SGBigIntegerContext* pool) {
    if (!out || !s || !rInv || !n) return 0;
    CtxPtr owned;
    if (!pool) owned.reset(pool = BN_CTX_new());
    return pool && BN_mod_mul(out, s, rInv, n, pool) ? 1 : failed(0);
}

int SGRSABlinding_Exponent(SGBigInteger* blindedD, const SGRSAPrivateKey* key) {
    if (!blindedD || !key || !key->n || !key->d || !key->p || !key->q) return -1;
    CtxPtr ctx(BN_CTX_new());
    BnPtr phi(BN_new()), q1(BN_new());
    if (!ctx || !phi || !q1) return failed(-1);
    BN_set_flags(phi.get(), BN_FLG_CONSTTIME);
    if (!BN_copy(phi.get(), key->p) || !BN_sub_word(phi.get(), 1) || !BN_copy(q1.get(), key->q) ||
        !BN_sub_word(q1.get(), 1) || !BN_mul(phi.get(), phi.get(), q1.get(), ctx.get()) ||
        !blindExponent(blindedD, key->d, phi.get(), key->n, ctx.get()))
        return failed(-1);
    BN_set_flags(blindedD, BN_FLG_CONSTTIME);
    return 0;
}

int SGRSABlinding_CRTExponent(SGBigInteger* blindedDP, SGBigInteger* blindedDQ,
                              const SGRSAPrivateKey* key) {
    if (!blindedDP || !blindedDQ || !key || !key->n || !key->p || !key->q || !key->dP || !key->dQ)
        return -1;
    CtxPtr ctx(BN_CTX_new());
    BnPtr p1(BN_dup(key->p)), q1(BN_dup(key->q));
    if (!ctx || !p1 || !q1 || !BN_sub_word(p1.get(), 1) || !BN_sub_word(q1.get(), 1) ||
        !blindExponent(blindedDP, key->dP, p1.get(), key->n, ctx.get()) ||
        !blindExponent(blindedDQ, key->dQ, q1.get(), key->n, ctx.get()))
        return failed(-1);
    BN_set_flags(blindedDP, BN_FLG_CONSTTIME);
    BN_set_flags(blindedDQ, BN_FLG_CONSTTIME);
    return 0;
}

}  // extern "C"
