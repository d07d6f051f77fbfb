#include "SGECDSA.h"

#include <openssl/bn.h>
#include <openssl/err.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "SGBigIntegerInternal.h"
#include "SGCrypto.h"
#include "SGDER.h"
#include "SGDigest.h"
#include "SGP256.h"

namespace p256 = brindlow::crypto::p256;
using brindlow::crypto::bn::BnPtr;
using brindlow::crypto::bn::CtxPtr;
using p256::Limbs;

namespace {

constexpr int kScalarBytes = SG_ECDSA_SCALAR_BYTES;
constexpr unsigned char kP256Oid[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

// The curve's constants (FIPS 186-4, D.1.2.3), big-endian hex.
constexpr const char* kHexP = "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF";
constexpr const char* kHexA = "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFC";
constexpr const char* kHexB = "5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B";
constexpr const char* kHexC = "7EFBA1662985BE9403CB055C75D4F7E0CE8D84A9C5114ABCAF3177680104FA0D";
constexpr const char* kHexN = "FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551";
constexpr const char* kHexGx = "6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296";
constexpr const char* kHexGy = "4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5";

template <typename T>
T failed(T result) {
    ERR_clear_error();
    return result;
}

BIGNUM* fromHex(const char* hex) {
    BIGNUM* b = nullptr;
    return BN_hex2bn(&b, hex) ? b : nullptr;
}

// 32 big-endian bytes of a value below 2^256; false otherwise.
bool toLimbs(Limbs& out, const BIGNUM* a) {
    if (!a || BN_is_negative(a)) return false;
    unsigned char bytes[kScalarBytes];
    if (BN_bn2binpad(a, bytes, kScalarBytes) != kScalarBytes) return failed(false);
    out = p256::fromBytes(bytes);
    SGCrypto_cleanse(bytes, sizeof bytes);
    return true;
}

bool toBignum(BIGNUM* out, const Limbs& a) {
    unsigned char bytes[kScalarBytes];
    p256::toBytes(bytes, a);
    const bool ok = BN_bin2bn(bytes, kScalarBytes, out) != nullptr;
    SGCrypto_cleanse(bytes, sizeof bytes);
    return ok;
}

// Holds secret limbs and wipes them when it goes.
struct SecretLimbs {
    Limbs value{};
    ~SecretLimbs() { SGCrypto_cleanse(value.data(), sizeof value); }
};

// The affine point of the curve that a, b (plain values) make; false when they make none.
bool corePoint(p256::Point& out, const BIGNUM* x, const BIGNUM* y) {
    Limbs lx, ly;
    return toLimbs(lx, x) && toLimbs(ly, y) && p256::fromAffine(out, lx, ly);
}

// The affine coordinates of a point given in either form.
bool affineOf(const SGECPoint* point, BnPtr& x, BnPtr& y, bool& infinity) {
    infinity = point->infinity != 0;
    if (infinity) return true;
    if (!point->x || !point->y) return false;
    x.reset(BN_dup(point->x));
    y.reset(BN_dup(point->y));
    if (!x || !y) return failed(false);
    if (point->coordinate != SG_EC_JACOBIAN) return true;
    if (!point->z) return false;
    if (BN_is_zero(point->z)) {
        infinity = true;
        return true;
    }
    // x = X / Z^2, y = Y / Z^3 over public values.
    BnPtr p(fromHex(kHexP)), zInverse(BN_new()), t(BN_new());
    CtxPtr ctx(BN_CTX_new());
    if (!p || !zInverse || !t || !ctx) return failed(false);
    if (!BN_mod_inverse(zInverse.get(), point->z, p.get(), ctx.get()) ||
        !BN_mod_sqr(t.get(), zInverse.get(), p.get(), ctx.get()) ||
        !BN_mod_mul(x.get(), x.get(), t.get(), p.get(), ctx.get()) ||
        !BN_mod_mul(t.get(), t.get(), zInverse.get(), p.get(), ctx.get()) ||
        !BN_mod_mul(y.get(), y.get(), t.get(), p.get(), ctx.get()))
        return failed(false);
    return true;
}

bool toCore(p256::Point& out, const SGECPoint* point) {
    BnPtr x, y;
    bool infinity = false;
    if (!affineOf(point, x, y, infinity)) return false;
    if (infinity) {
        out = p256::infinity();
        return true;
    }
    return corePoint(out, x.get(), y.get());
}

// Makes sure the point owns its three coordinates.
bool ensureCoordinates(SGECPoint* point) {
    for (SGBigInteger** c : {&point->x, &point->y, &point->z}) {
        if (!*c && !(*c = BN_new())) return failed(false);
    }
    return true;
}

// Writes a core point as an affine point, or the point at infinity.
int fromCore(SGECPoint* out, const p256::Point& a) {
    if (!ensureCoordinates(out)) return SG_CRYPTO_ERR_MEMORY;
    out->coordinate = SG_EC_AFFINE;
    Limbs x, y;
    if (!p256::toAffine(x, y, a)) {
        out->infinity = 1;
        BN_zero(out->x);
        BN_zero(out->y);
        BN_zero(out->z);
        return 0;
    }
    out->infinity = 0;
    if (!toBignum(out->x, x) || !toBignum(out->y, y) || !BN_one(out->z))
        return failed(SG_CRYPTO_ERR_MEMORY);
    return 0;
}

int sumResult(SGECPoint* r, const p256::Point& sum) {
    if (int e = fromCore(r, sum)) return e;
    return r->infinity ? SG_EC_ERR_INFINITY : 0;
}

// e: the leftmost 32 bytes (or all, when shorter) of the message's hash, or of the message
// itself for hash id 10, as an integer reduced mod n.
int messageRepresentative(Limbs& e, const unsigned char* message, int length, int hashId) {
    unsigned char digest[64];
    const unsigned char* h = message;
    int hLength = length;
    if (hashId != SG_ECDSA_HASH_AS_GIVEN) {
        const int size = SGDigest_GetDigestSize(hashId);
        if (size <= 0 || size > static_cast<int>(sizeof digest)) return SG_CRYPTO_ERR_ARGUMENT;
        if (int r = _SGDigest(digest, hashId, message, static_cast<uint32_t>(length))) return r;
        h = digest;
        hLength = size;
    }
    const int used = hLength < kScalarBytes ? hLength : kScalarBytes;
    unsigned char bytes[kScalarBytes] = {};
    if (used > 0) std::memcpy(bytes + kScalarBytes - used, h, static_cast<size_t>(used));
    e = p256::reduceOnce(p256::fromBytes(bytes), p256::order());
    return 0;
}

// A scalar in [1, n) from big-endian bytes; false otherwise.
bool scalarInRange(Limbs& out, const unsigned char* bytes, int length) {
    if (!bytes || length <= 0) return false;
    BnPtr v(BN_bin2bn(bytes, length, nullptr));
    if (!v) return failed(false);
    if (!toLimbs(out, v.get())) return false;
    return !p256::isZero(out) && p256::lessThan(out, p256::order().m);
}

bool scalarInRange(Limbs& out, const BIGNUM* v) {
    if (!toLimbs(out, v)) return false;
    return !p256::isZero(out) && p256::lessThan(out, p256::order().m);
}

// Reads one INTEGER that must be minimal and not negative; its magnitude without the sign byte.
int readUnsigned(SGCrypto_ASN1Context* c, const unsigned char*& value, unsigned& length) {
    if (int r = SGCrypto_ASN1Read(c, SG_DER_INTEGER, &length)) return r;
    value = c->value;
    if (length == 0 || (value[0] & 0x80)) return SG_DER_ERR_LENGTH;
    if (length > 1 && value[0] == 0) {
        if (!(value[1] & 0x80)) return SG_DER_ERR_LENGTH;
        ++value;
        --length;
    }
    if (length == 1 && value[0] == 0) length = 0;
    return 0;
}

const unsigned char* stripZeros(const unsigned char* bytes, int& length) {
    while (length > 0 && *bytes == 0) {
        ++bytes;
        --length;
    }
    return bytes;
}

}  // namespace

extern "C" {

int SGECDomainParameters_Get(SGECDomainParameters* domain) {
    if (!domain) return SG_CRYPTO_ERR_ARGUMENT;
    SGECDomainParameters_Reset(domain);
    domain->a = fromHex(kHexA);
    domain->b = fromHex(kHexB);
    domain->c = fromHex(kHexC);
    domain->field.fieldType = SG_EC_FIELD_PRIME;
    domain->field.p = fromHex(kHexP);
    domain->n = fromHex(kHexN);
    domain->G.x = fromHex(kHexGx);
    domain->G.y = fromHex(kHexGy);
    domain->G.z = BN_new();
    domain->G.coordinate = SG_EC_AFFINE;
    domain->G.field = &domain->field;
    if (!domain->a || !domain->b || !domain->c || !domain->field.p || !domain->n || !domain->G.x ||
        !domain->G.y || !domain->G.z || !BN_one(domain->G.z)) {
        SGECDomainParameters_Reset(domain);
        return failed(SG_CRYPTO_ERR_MEMORY);
    }
    return 0;
}

int SGECDomainParameters_Reset(SGECDomainParameters* domain) {
    if (!domain) return 0;
    for (BIGNUM* b : {domain->a, domain->b, domain->c, domain->field.p, domain->n}) BN_free(b);
    SGECPoint_Reset(&domain->G);
    std::memset(domain, 0, sizeof *domain);
    return 0;
}

int SGECDomainParameters_Decode(SGECDomainParameters* domain, const unsigned char* der,
                                int length) {
    if (!domain || !der || length <= 0) return SG_CRYPTO_ERR_ARGUMENT;
    SGCrypto_ASN1Context c{};
    if (int r = SGCrypto_ASN1Context_Create(&c, const_cast<unsigned char*>(der), length, 0))
        return r;
    unsigned oidLength = 0;
    int r = SGCrypto_ASN1Read(&c, SG_DER_OBJECT_IDENTIFIER, &oidLength);
    if (r == SG_DER_ERR_TAG) r = SG_EC_ERR_NOT_OID;
    if (r == 0 &&
        (oidLength != sizeof kP256Oid || std::memcmp(c.value, kP256Oid, sizeof kP256Oid) != 0))
        r = SG_EC_ERR_CURVE;
    SGCrypto_ASN1Context_Destroy(&c);
    return r == 0 ? SGECDomainParameters_Get(domain) : r;
}

int SGECDomainParameters_Validation_GFp(const SGECDomainParameters* domain) {
    if (!domain || !domain->a || !domain->b || !domain->field.p || !domain->G.x || !domain->G.y)
        return SG_CRYPTO_ERR_ARGUMENT;
    const BIGNUM* p = domain->field.p;
    std::printf("t = %d\n", BN_num_bits(p) / 2);
    CtxPtr ctx(BN_CTX_new());
    BnPtr lhs(BN_new()), rhs(BN_new()), t(BN_new());
    if (!ctx || !lhs || !rhs || !t) return failed(SG_CRYPTO_ERR_MEMORY);
    BN_CTX* x = ctx.get();
    // y^2 = x^3 + ax + b
    if (!BN_mod_sqr(lhs.get(), domain->G.y, p, x) || !BN_mod_sqr(rhs.get(), domain->G.x, p, x) ||
        !BN_mod_add(rhs.get(), rhs.get(), domain->a, p, x) ||
        !BN_mod_mul(rhs.get(), rhs.get(), domain->G.x, p, x) ||
        !BN_mod_add(rhs.get(), rhs.get(), domain->b, p, x))
        return failed(SG_CRYPTO_ERR_MEMORY);
    if (BN_cmp(lhs.get(), rhs.get()) != 0) return SG_EC_ERR_GENERATOR;
    // 4a^3 + 27b^2
    if (!BN_mod_sqr(lhs.get(), domain->a, p, x) ||
        !BN_mod_mul(lhs.get(), lhs.get(), domain->a, p, x) || !BN_mul_word(lhs.get(), 4) ||
        !BN_mod_sqr(t.get(), domain->b, p, x) || !BN_mul_word(t.get(), 27) ||
        !BN_mod_add(lhs.get(), lhs.get(), t.get(), p, x))
        return failed(SG_CRYPTO_ERR_MEMORY);
    if (BN_is_zero(lhs.get())) return SG_EC_ERR_SINGULAR;
    if (SGBigInteger_isPrime(p) != 1) {
        SGBigInteger_Print(p);
        return SG_EC_ERR_NOT_PRIME;
    }
    return 0;
}

int SGECDomainParameters_ValidateAll(void) {
    SGECDomainParameters domain{};
    int r = SGECDomainParameters_Get(&domain);
    if (r == 0) r = SGECDomainParameters_Validation_GFp(&domain);
    SGECDomainParameters_Reset(&domain);
    return r;
}

int ECPointFromBinary(SGBigInteger* x, SGBigInteger* y, const unsigned char* octets, int length) {
    if (!x || !y || !octets || length <= 0) return SG_CRYPTO_ERR_ARGUMENT;
    if (octets[0] != 4 || length < 3 || (length - 1) % 2 != 0) return -1;
    const int half = (length - 1) / 2;
    if (!BN_bin2bn(octets + 1, half, x) || !BN_bin2bn(octets + 1 + half, half, y))
        return failed(SG_CRYPTO_ERR_MEMORY);
    return 0;
}

int SGECPublicKey_Decode(SGECPublicKey* key, const unsigned char* octets, int length) {
    if (!key || !octets || length <= 0) return SG_CRYPTO_ERR_ARGUMENT;
    BnPtr x(BN_new()), y(BN_new());
    if (!x || !y) return failed(SG_CRYPTO_ERR_MEMORY);
    const int r = ECPointFromBinary(x.get(), y.get(), octets, length);
    if (r == -1) return SG_EC_ERR_POINT;
    if (r) return r;
    p256::Point q;
    if (!corePoint(q, x.get(), y.get())) return SG_EC_ERR_POINT;
    SGECPublicKey_Reset(key);
    key->x = x.release();
    key->y = y.release();
    return 0;
}

int SGECPublicKey_Reset(SGECPublicKey* key) {
    if (!key) return 0;
    BN_free(key->x);
    BN_free(key->y);
    key->x = key->y = nullptr;
    return 0;
}

int SGECPrivateKey_Decode(SGBigInteger** d, const unsigned char* bytes, int length) {
    if (!d) return SG_CRYPTO_ERR_ARGUMENT;
    SecretLimbs check;
    if (!scalarInRange(check.value, bytes, length)) return SG_CRYPTO_ERR_ARGUMENT;
    BnPtr value(BN_bin2bn(bytes, length, nullptr));
    if (!value) return failed(SG_CRYPTO_ERR_MEMORY);
    BN_set_flags(value.get(), BN_FLG_CONSTTIME);
    if (*d) {
        if (!BN_copy(*d, value.get())) return failed(SG_CRYPTO_ERR_MEMORY);
        BN_set_flags(*d, BN_FLG_CONSTTIME);
    } else {
        *d = value.release();
    }
    return 0;
}

int SGECDSA_Encode_SignatureValue(unsigned char* output, unsigned int* length,
                                  const unsigned char* r, int rLength, const unsigned char* s,
                                  int sLength) {
    if (!length || rLength < 0 || sLength < 0 || (!r && rLength > 0) || (!s && sLength > 0))
        return SG_CRYPTO_ERR_ARGUMENT;
    r = stripZeros(r, rLength);
    s = stripZeros(s, sLength);
    SGCrypto_ASN1Context c{};
    int result = SGCrypto_ASN1Context_Create(&c, nullptr, 0, 0);
    if (result == 0)
        result = SGCrypto_ASN1Write(&c, SG_DER_INTEGER, s, static_cast<unsigned>(sLength));
    if (result == 0)
        result = SGCrypto_ASN1Write(&c, SG_DER_INTEGER, r, static_cast<unsigned>(rLength));
    if (result == 0) result = SGCrypto_ASN1Write(&c, SG_DER_SEQUENCE, nullptr, 0);
    if (result == 0) {
        const unsigned needed = c.size - c.position;
        if (!output || *length < needed) {
            result = SG_EC_ERR_BUFFER;
        } else {
            std::memcpy(output, c.data + c.position, needed);
        }
        *length = needed;
    }
    SGCrypto_ASN1Context_Destroy(&c);
    return result;
}

int SGECDSA_Decode_SignatureValue(unsigned char* r, unsigned int* rLength, unsigned char* s,
                                  unsigned int* sLength, const unsigned char* der, int length) {
    if (!rLength || !sLength || !der || length <= 0) return SG_CRYPTO_ERR_ARGUMENT;
    SGCrypto_ASN1Context c{};
    if (int e = SGCrypto_ASN1Context_Create(&c, const_cast<unsigned char*>(der), length, 0))
        return e;
    unsigned sequenceLength = 0, rLen = 0, sLen = 0;
    const unsigned char *rValue = nullptr, *sValue = nullptr;
    int result = SGCrypto_ASN1Read(&c, SG_DER_SEQUENCE, &sequenceLength);
    const uint32_t end = c.position + sequenceLength;
    if (result == 0 && end != static_cast<uint32_t>(length)) result = SG_DER_ERR_LENGTH;
    if (result == 0) result = readUnsigned(&c, rValue, rLen);
    if (result == 0) result = readUnsigned(&c, sValue, sLen);
    if (result == 0 && c.position != end) result = SG_DER_ERR_LENGTH;
    if (result == 0) {
        if (!r || !s || *rLength < rLen || *sLength < sLen) {
            result = SG_EC_ERR_BUFFER;
        } else {
            if (rLen) std::memcpy(r, rValue, rLen);
            if (sLen) std::memcpy(s, sValue, sLen);
        }
        *rLength = rLen;
        *sLength = sLen;
    }
    SGCrypto_ASN1Context_Destroy(&c);
    return result;
}

int SGECDSA_Sign(unsigned char* r, unsigned int* rLength, unsigned char* s, unsigned int* sLength,
                 const unsigned char* message, int messageLength, SGBigInteger** d,
                 const SGECDSAParameter* parameter) {
    if (!r || !rLength || !s || !sLength || !d || !*d || !parameter || messageLength < 0 ||
        (!message && messageLength > 0))
        return SG_CRYPTO_ERR_ARGUMENT;
    if (*rLength < kScalarBytes || *sLength < kScalarBytes) {
        *rLength = *sLength = kScalarBytes;
        return SG_EC_ERR_BUFFER;
    }
    const p256::Modulus& N = p256::order();
    Limbs e;
    if (int err = messageRepresentative(e, message, messageLength, parameter->hashId)) return err;
    SecretLimbs key, nonce, sValue;
    if (!scalarInRange(key.value, *d)) return SG_CRYPTO_ERR_ARGUMENT;
    const bool fixed = parameter->nonce != nullptr;
    if (fixed && !scalarInRange(nonce.value, parameter->nonce, parameter->nonceLength))
        return SG_CRYPTO_ERR_ARGUMENT;
    BnPtr range(fromHex(kHexN)), k(BN_new());
    if (!range || !k || !BN_sub_word(range.get(), 1)) return failed(SG_CRYPTO_ERR_MEMORY);
    BN_set_flags(k.get(), BN_FLG_CONSTTIME);
    Limbs rValue;
    for (;;) {
        if (!fixed) {
            // k uniform in [1, n).
            if (SGBigInteger_pseudoRandomInRange(k.get(), range.get()) != 1 ||
                !BN_add_word(k.get(), 1) || !toLimbs(nonce.value, k.get()))
                return failed(SG_CRYPTO_ERR_MEMORY);
        }
        Limbs x, y;
        if (!p256::toAffine(x, y, p256::multiplyBase(nonce.value)) || p256::isZero(x) ||
            p256::isZero(y))
            return SG_EC_ERR_DEGENERATE;
        rValue = p256::reduceOnce(x, N);
        // s = k^-1 (e + d r) mod n, in Montgomery form throughout.
        const Limbs kInverse = p256::invert(p256::toMont(nonce.value, N), N);
        const Limbs dr = p256::mul(p256::toMont(key.value, N), p256::toMont(rValue, N), N);
        const Limbs sum = p256::add(p256::toMont(e, N), dr, N);
        sValue.value = p256::fromMont(p256::mul(kInverse, sum, N), N);
        if (!p256::isZero(rValue) && !p256::isZero(sValue.value)) break;
        if (fixed) return SG_EC_ERR_DEGENERATE;
    }
    p256::toBytes(r, rValue);
    p256::toBytes(s, sValue.value);
    *rLength = *sLength = kScalarBytes;
    BN_clear(k.get());
    return 0;
}

int SGECDSA_Verify(const unsigned char* r, int rLength, const unsigned char* s, int sLength,
                   const unsigned char* message, int messageLength, const SGECPublicKey* key,
                   const SGECDSAParameter* parameter) {
    if (!r || !s || rLength < 0 || sLength < 0 || !key || !key->x || !key->y || !parameter ||
        messageLength < 0 || (!message && messageLength > 0))
        return SG_CRYPTO_ERR_ARGUMENT;
    p256::Point q;
    if (!corePoint(q, key->x, key->y)) return SG_CRYPTO_ERR_ARGUMENT;
    Limbs rValue, sValue;
    if (!scalarInRange(rValue, r, rLength) || !scalarInRange(sValue, s, sLength))
        return SG_EC_ERR_INVALID;
    Limbs e;
    if (int err = messageRepresentative(e, message, messageLength, parameter->hashId)) return err;
    const p256::Modulus& N = p256::order();
    const Limbs w = p256::invert(p256::toMont(sValue, N), N);
    const Limbs u1 = p256::fromMont(p256::mul(p256::toMont(e, N), w, N), N);
    const Limbs u2 = p256::fromMont(p256::mul(p256::toMont(rValue, N), w, N), N);
    // Every value here is public, so the double multiplication may take variable time.
    const p256::Point sum = p256::multiplyPublic(u1, u2, q);
    return p256::affineXModOrderIs(sum, rValue) ? 0 : SG_EC_ERR_INVALID;
}

int SGECPoint_Init(SGECPoint* point, const SGECDomainParameters* domain) {
    if (!point || !domain) return SG_CRYPTO_ERR_ARGUMENT;
    std::memset(point, 0, sizeof *point);
    point->field = &domain->field;
    point->infinity = 1;
    if (!ensureCoordinates(point)) {
        SGECPoint_Reset(point);
        return SG_CRYPTO_ERR_MEMORY;
    }
    return 0;
}

int SGECPoint_Set(SGECPoint* point, const SGBigInteger* x, const SGBigInteger* y) {
    if (!point || !x || !y) return SG_CRYPTO_ERR_ARGUMENT;
    if (!ensureCoordinates(point)) return SG_CRYPTO_ERR_MEMORY;
    if (!BN_copy(point->x, x) || !BN_copy(point->y, y) || !BN_one(point->z))
        return failed(SG_CRYPTO_ERR_MEMORY);
    point->coordinate = SG_EC_AFFINE;
    point->infinity = 0;
    return 0;
}

int SGECPoint_Reset(SGECPoint* point) {
    if (!point) return 0;
    if (!point->pool) {
        BN_free(point->x);
        BN_free(point->y);
        BN_free(point->z);
    }
    std::memset(point, 0, sizeof *point);
    return 0;
}

int SGECPoint_Decode(SGECPoint* point, const unsigned char* octets, int length) {
    if (!point) return SG_CRYPTO_ERR_ARGUMENT;
    SGECPublicKey key{};
    const int r = SGECPublicKey_Decode(&key, octets, length);
    const int set = r == 0 ? SGECPoint_Set(point, key.x, key.y) : r;
    SGECPublicKey_Reset(&key);
    return set;
}

int SGECPoint_dup(SGECPoint** copy, const SGECPoint* point) {
    if (!copy || !point) return SG_CRYPTO_ERR_ARGUMENT;
    *copy = nullptr;
    auto* out = static_cast<SGECPoint*>(SGCrypto_calloc(1, sizeof(SGECPoint)));
    if (!out) return SG_CRYPTO_ERR_MEMORY;
    out->coordinate = point->coordinate;
    out->field = point->field;
    out->infinity = point->infinity;
    const SGBigInteger* from[] = {point->x, point->y, point->z};
    SGBigInteger** to[] = {&out->x, &out->y, &out->z};
    for (int i = 0; i < 3; ++i) {
        if (from[i] && !(*to[i] = BN_dup(from[i]))) {
            SGECPoint_free(out);
            return failed(SG_CRYPTO_ERR_MEMORY);
        }
    }
    *copy = out;
    return 0;
}

int SGECPoint_free(SGECPoint* point) {
    if (!point) return 0;
    SGECPoint_Reset(point);
    SGCrypto_free(point);
    return 0;
}

int SGECPoint_Add(SGECPoint* r, const SGECPoint* a, const SGECPoint* b,
                  const SGECDomainParameters* domain) {
    if (!r || !a || !b || !domain) return SG_CRYPTO_ERR_ARGUMENT;
    p256::Point pa, pb;
    if (!toCore(pa, a) || !toCore(pb, b)) return SG_CRYPTO_ERR_ARGUMENT;
    if (!r->field) r->field = &domain->field;
    return sumResult(r, p256::add(pa, pb));
}

int SGECPoint_Sub(SGECPoint* r, const SGECPoint* a, const SGECPoint* b,
                  const SGECDomainParameters* domain) {
    if (!r || !a || !b || !domain) return SG_CRYPTO_ERR_ARGUMENT;
    p256::Point pa, pb;
    if (!toCore(pa, a) || !toCore(pb, b)) return SG_CRYPTO_ERR_ARGUMENT;
    if (!r->field) r->field = &domain->field;
    return sumResult(r, p256::add(pa, p256::negate(pb)));
}

int SGECPoint_ScalarMultiply(SGECPoint* r, const SGBigInteger* k, const SGECPoint* point,
                             const SGECDomainParameters* domain) {
    if (!r || !k || !point || !domain) return SG_CRYPTO_ERR_ARGUMENT;
    p256::Point p;
    if (!toCore(p, point)) return SG_CRYPTO_ERR_ARGUMENT;
    BnPtr reduced(BN_new()), n(fromHex(kHexN));
    CtxPtr ctx(BN_CTX_new());
    if (!reduced || !n || !ctx) return failed(SG_CRYPTO_ERR_MEMORY);
    BN_set_flags(reduced.get(), BN_FLG_CONSTTIME);
    SecretLimbs scalar;
    if (!BN_nnmod(reduced.get(), k, n.get(), ctx.get()) || !toLimbs(scalar.value, reduced.get()))
        return failed(SG_CRYPTO_ERR_MEMORY);
    BN_clear(reduced.get());
    if (!r->field) r->field = &domain->field;
    return fromCore(r, p256::multiply(scalar.value, p));
}

int SGECPoint_ConvertCoordination(SGECPoint* point, int coordinate,
                                  const SGECDomainParameters* domain) {
    if (!point || !domain || (coordinate != SG_EC_AFFINE && coordinate != SG_EC_JACOBIAN))
        return SG_CRYPTO_ERR_ARGUMENT;
    if (coordinate == point->coordinate) return 0;
    if (!ensureCoordinates(point)) return SG_CRYPTO_ERR_MEMORY;
    if (coordinate == SG_EC_JACOBIAN) {
        // (x, y) is (x : y : 1).
        if (!point->infinity && !BN_one(point->z)) return failed(SG_CRYPTO_ERR_MEMORY);
        point->coordinate = SG_EC_JACOBIAN;
        return 0;
    }
    BnPtr x, y;
    bool infinity = false;
    if (!affineOf(point, x, y, infinity)) return SG_CRYPTO_ERR_ARGUMENT;
    point->coordinate = SG_EC_AFFINE;
    point->infinity = infinity ? 1 : 0;
    if (infinity) return 0;
    if (!BN_copy(point->x, x.get()) || !BN_copy(point->y, y.get()) || !BN_one(point->z))
        return failed(SG_CRYPTO_ERR_MEMORY);
    return 0;
}

int SGECPoint_Doubling_GFp(SGECPoint* r, const SGECPoint* a, const SGECDomainParameters* domain) {
    return SGECPoint_Add(r, a, a, domain);
}

int SGECPoint_Add_JacobianProjective(SGECPoint* r, const SGECPoint* a, const SGECPoint* b,
                                     const SGECDomainParameters* domain) {
    return SGECPoint_Add(r, a, b, domain);
}

int SGECPointDoubling_JacobianProjective(SGECPoint* r, const SGECPoint* a,
                                         const SGECDomainParameters* domain) {
    return SGECPoint_Add(r, a, a, domain);
}

}  // extern "C"
