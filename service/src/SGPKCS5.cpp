#include "SGPKCS5.h"

#include <climits>
#include <cstddef>
#include <cstring>

#include "PBEParameter.h"
#include "PBES2-params.h"
#include "PBKDF2-params.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGCipher.h"
#include "SGDigest.h"
#include "SGMemory.h"
#include "SGPKCSError.h"
#include "SGRandom.h"
#include "SGServiceInternal.h"

static_assert(sizeof(SGPKCS5PBESParam) == 80);
static_assert(offsetof(SGPKCS5PBESParam, salt) == 16);
static_assert(offsetof(SGPKCS5PBESParam, iv) == 32);
static_assert(offsetof(SGPKCS5PBESParam, iterations) == 48);
static_assert(offsetof(SGPKCS5PBESParam, pbeType) == 52);
static_assert(offsetof(SGPKCS5PBESParam, digestId) == 60);
static_assert(offsetof(SGPKCS5PBESParam, cipherId) == 64);
static_assert(offsetof(SGPKCS5PBESParam, mode) == 68);
static_assert(offsetof(SGPKCS5PBESParam, padding) == 72);

namespace {

constexpr int kMaxDigest = 64, kMaxBlock = 128;
constexpr int kPbes1DerivedLength = 20;
constexpr int kPbes1KeyLength = 16, kPbes1IvLength = 16;

// The KISA SEED-CBC profile's fixed IV: sixteen ASCII digits, as the profile is publicly
// described; no file that needs it has been seen to confirm the digits.
constexpr unsigned char kKisaSeedIv[kPbes1IvLength] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                       '8', '9', '0', '1', '2', '3', '4', '5'};

// PKCS #12 types: the cipher and its key length.
struct Pkcs12Type {
    int type;
    int cipherId;
    int keyLength;
};
constexpr Pkcs12Type kPkcs12Types[] = {
    {SG_PBE_SHA_RC4_128, SG_CIPHER_RC4, 16}, {SG_PBE_SHA_RC4_40, SG_CIPHER_RC4, 5},
    {SG_PBE_SHA_3DES, SG_CIPHER_TDES, 24},   {SG_PBE_SHA_2DES, SG_CIPHER_TDES, 16},
    {SG_PBE_SHA_RC2_128, SG_CIPHER_RC2, 16}, {SG_PBE_SHA_RC2_40, SG_CIPHER_RC2, 5}};

const Pkcs12Type* pkcs12Type(int type) {
    for (const Pkcs12Type& t : kPkcs12Types)
        if (t.type == type) return &t;
    return nullptr;
}

// PBES2 encryption schemes read, and the one written for each cipher id.
struct Scheme {
    int oidId;
    int cipherId;
    int keyLength;
};
constexpr Scheme kSchemes[] = {{SG_OID_ARIA128_CBC, SG_CIPHER_ARIA128, 16},
                               {SG_OID_SEED_CBC, SG_CIPHER_SEED, 16},
                               {SG_OID_AES128_CBC, SG_CIPHER_AES128, 16},
                               {SG_OID_AES192_CBC, SG_CIPHER_AES192, 24},
                               {SG_OID_AES256_CBC, SG_CIPHER_AES256, 32}};

const Scheme* schemeOfOid(int oidId) {
    for (const Scheme& s : kSchemes)
        if (s.oidId != 0 && s.oidId == oidId) return &s;
    return nullptr;
}

// Encryption uses 16-byte keys, so every AES id is written as aes128-CBC.
const Scheme* schemeForCipher(int cipherId) {
    switch (cipherId) {
        case SG_CIPHER_AES128:
        case SG_CIPHER_AES192:
        case SG_CIPHER_AES256:
            return schemeOfOid(SG_OID_AES128_CBC);
        case SG_CIPHER_SEED:
            return schemeOfOid(SG_OID_SEED_CBC);
        case SG_CIPHER_ARIA128:
            return schemeOfOid(SG_OID_ARIA128_CBC);
        default:
            return nullptr;
    }
}

// PBKDF2 PRFs, matched by the contents octets of their identifiers (1.2.840.113549.2.7 to .11).
struct Prf {
    unsigned char last;
    int digestId;
};
constexpr unsigned char kHmacArc[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02};
constexpr Prf kPrfs[] = {{0x07, SG_DIGEST_SHA1},
                         {0x08, SG_DIGEST_SHA224},
                         {0x09, SG_DIGEST_SHA256},
                         {0x0A, SG_DIGEST_SHA384},
                         {0x0B, SG_DIGEST_SHA512}};

int prfDigest(const AlgorithmIdentifier_t* prf) {
    if (!prf) return SG_DIGEST_SHA1;
    const OBJECT_IDENTIFIER_t& oid = prf->algorithm;
    if (oid.size != sizeof kHmacArc + 1 || std::memcmp(oid.buf, kHmacArc, sizeof kHmacArc) != 0)
        return 0;
    for (const Prf& p : kPrfs)
        if (oid.buf[sizeof kHmacArc] == p.last) return p.digestId;
    return 0;
}

int oidIdOf(const OBJECT_IDENTIFIER_t& oid) {
    SGBinary contents{oid.buf, oid.size > 0 ? static_cast<uint32_t>(oid.size) : 0};
    return SGASNObjectID_Search(&contents);
}

// The crypto table is filled with the Service table; before that nothing is called through it.
bool cryptoReady() {
    return _gcw[SGCryptoSlot_SGDigestContext_Init] && _gcw[SGCryptoSlot_SGCipher_Decrypt] &&
           _gcw[SGCryptoSlot_SGRandom_bytes];
}

void wipe(void* p, size_t n) {
    if (p && n) SG_GBW(SGMemory_cleanse)(p, n);
}

// A buffer from the base layer's allocator, overwritten when it goes.
class Secret {
  public:
    Secret() = default;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { release(); }

    bool allocate(size_t n) {
        release();
        data_ = static_cast<unsigned char*>(SG_GBW(SGMemory_calloc)(1, n ? n : 1));
        size_ = data_ ? n : 0;
        return data_ != nullptr;
    }
    void release() {
        if (data_) {
            wipe(data_, size_);
            SG_GBW(SGMemory_free)(data_);
        }
        data_ = nullptr;
        size_ = 0;
    }
    // Hands the bytes to a record (which then owns them).
    void moveTo(SGBinary* out) {
        out->data = size_ ? data_ : nullptr;
        out->length = static_cast<uint32_t>(size_);
        if (!size_ && data_) SG_GBW(SGMemory_free)(data_);
        data_ = nullptr;
        size_ = 0;
    }
    unsigned char* data() { return data_; }
    size_t size() const { return size_; }

  private:
    unsigned char* data_ = nullptr;
    size_t size_ = 0;
};

// A copy of n bytes into a Secret; false without memory.
bool copyInto(Secret& s, const unsigned char* bytes, size_t n) {
    if (!s.allocate(n)) return false;
    if (n) std::memcpy(s.data(), bytes, n);
    return true;
}

// A digest context from the crypto layer, cleared when it goes.
class Digest {
  public:
    Digest() { std::memset(&context_, 0, sizeof context_); }
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;
    ~Digest() {
        if (live_) SG_GCW(SGDigestContext_Clear)(&context_);
    }
    int init(int digestId) {
        const int r = SG_GCW(SGDigestContext_Init)(&context_, digestId);
        live_ = true;  // Clear also releases what a failed Init left
        return r;
    }
    int start() { return SG_GCW(SGDigest_Init)(&context_); }
    int update(const unsigned char* data, size_t n) {
        return n ? SG_GCW(SGDigest_Update)(&context_, data, static_cast<uint32_t>(n)) : 0;
    }
    int finish(unsigned char* out) { return SG_GCW(SGDigest_Final)(&context_, out); }

  private:
    SGDigestContext context_;
    bool live_ = false;
};

// The digest and block sizes of an id: 202 for an unknown one.
int digestSizes(int digestId, int* digestSize, int* blockSize) {
    const int u = SG_GCW(SGDigest_GetDigestSize)(digestId);
    const int v = SG_GCW(SGDigest_GetBlockSize)(digestId);
    if (u <= 0 || u > kMaxDigest || v <= 0 || v > kMaxBlock || u == SG_DIGEST_ERR_ALGORITHM)
        return SG_DIGEST_ERR_ALGORITHM;
    *digestSize = u;
    *blockSize = v;
    return 0;
}

// HMAC with the key's pads prepared once, on two digest contexts that are restarted for each
// MAC: a PBKDF2 run makes thousands of MACs under one key.
class Hmac {
  public:
    Hmac() = default;
    Hmac(const Hmac&) = delete;
    Hmac& operator=(const Hmac&) = delete;
    ~Hmac() {
        wipe(innerPad_, sizeof innerPad_);
        wipe(outerPad_, sizeof outerPad_);
    }
    int init(int digestId, const unsigned char* key, size_t keyLength) {
        if (int r = digestSizes(digestId, &digestSize_, &blockSize_)) return r;
        if (int r = inner_.init(digestId)) return r;
        if (int r = outer_.init(digestId)) return r;
        unsigned char prepared[kMaxBlock] = {};
        int r = 0;
        if (keyLength > static_cast<size_t>(blockSize_)) {
            r = inner_.start();
            if (r == 0) r = inner_.update(key, keyLength);
            if (r == 0) r = inner_.finish(prepared);
        } else if (keyLength) {
            std::memcpy(prepared, key, keyLength);
        }
        for (int i = 0; i < kMaxBlock; ++i) {
            innerPad_[i] = static_cast<unsigned char>(prepared[i] ^ 0x36);
            outerPad_[i] = static_cast<unsigned char>(prepared[i] ^ 0x5C);
        }
        wipe(prepared, sizeof prepared);
        return r;
    }
    // HMAC(key, a || b) into out (digestSize bytes; out may be a or b).
    int mac(unsigned char* out, const unsigned char* a, size_t aLength, const unsigned char* b,
            size_t bLength) {
        unsigned char innerHash[kMaxDigest];
        const size_t block = static_cast<size_t>(blockSize_);
        int r = inner_.start();
        if (r == 0) r = inner_.update(innerPad_, block);
        if (r == 0) r = inner_.update(a, aLength);
        if (r == 0) r = inner_.update(b, bLength);
        if (r == 0) r = inner_.finish(innerHash);
        if (r == 0) r = outer_.start();
        if (r == 0) r = outer_.update(outerPad_, block);
        if (r == 0) r = outer_.update(innerHash, static_cast<size_t>(digestSize_));
        if (r == 0) r = outer_.finish(out);
        wipe(innerHash, sizeof innerHash);
        return r;
    }
    int digestSize() const { return digestSize_; }

  private:
    Digest inner_, outer_;
    unsigned char innerPad_[kMaxBlock] = {};
    unsigned char outerPad_[kMaxBlock] = {};
    int digestSize_ = 0, blockSize_ = 0;
};

bool badBytes(const void* p, int n) {
    return n < 0 || (!p && n > 0);
}

int pbkdf1(unsigned char* output, const unsigned char* password, int passwordLength,
           const unsigned char* salt, int saltLength, int iterations, int dkLen, int digestId) {
    int u = 0, v = 0;
    if (int r = digestSizes(digestId, &u, &v)) return r;
    if (dkLen < 1 || dkLen > u) return SG_PKI_ERR_OUT_OF_RANGE;
    Digest d;
    int r = d.init(digestId);
    if (r == 0) r = d.start();
    if (r == 0) r = d.update(password, static_cast<size_t>(passwordLength));
    if (r == 0) r = d.update(salt, static_cast<size_t>(saltLength));
    if (r == 0) r = d.finish(output);
    for (int i = 2; r == 0 && i <= iterations; ++i) {
        r = d.start();
        if (r == 0) r = d.update(output, static_cast<size_t>(dkLen));
        if (r == 0) r = d.finish(output);
    }
    if (r != 0) wipe(output, static_cast<size_t>(u));
    return r;
}

int pbkdf2(unsigned char* output, const unsigned char* password, int passwordLength,
           const unsigned char* salt, int saltLength, int iterations, int dkLen, int digestId) {
    if (dkLen == 0) return 0;
    Hmac hmac;
    if (int r = hmac.init(digestId, password, static_cast<size_t>(passwordLength))) return r;
    const size_t hLen = static_cast<size_t>(hmac.digestSize());
    const size_t total = static_cast<size_t>(dkLen);
    unsigned char u[kMaxDigest], t[kMaxDigest];
    int r = 0;
    size_t done = 0;
    for (uint32_t block = 1; r == 0 && done < total; ++block) {
        const unsigned char counter[4] = {
            static_cast<unsigned char>(block >> 24), static_cast<unsigned char>(block >> 16),
            static_cast<unsigned char>(block >> 8), static_cast<unsigned char>(block)};
        r = hmac.mac(u, salt, static_cast<size_t>(saltLength), counter, sizeof counter);
        if (r == 0) std::memcpy(t, u, hLen);
        for (int j = 2; r == 0 && j <= iterations; ++j) {
            r = hmac.mac(u, u, hLen, nullptr, 0);
            for (size_t k = 0; k < hLen; ++k) t[k] ^= u[k];
        }
        const size_t n = total - done < hLen ? total - done : hLen;
        if (r == 0) std::memcpy(output + done, t, n);
        done += n;
    }
    wipe(u, sizeof u);
    wipe(t, sizeof t);
    if (r != 0) wipe(output, total);
    return r;
}

// RFC 7292 appendix B.2 into out (n bytes).
// preformed: the password is already the BMPString form (two bytes a character), so it is taken
// as it is, and only the terminating 00 00 is appended.
int pkcs12Derive(unsigned char* out, int id, const unsigned char* salt, size_t saltLength,
                 int iterations, const unsigned char* password, size_t passwordLength, size_t n,
                 int digestId, bool preformed = false) {
    int uInt = 0, vInt = 0;
    if (int r = digestSizes(digestId, &uInt, &vInt)) return r;
    const size_t u = static_cast<size_t>(uInt), v = static_cast<size_t>(vInt);
    // Widened password: 00 b for each byte, then 00 00.
    const size_t widened = preformed ? passwordLength + 2 : 2 * passwordLength + 2;
    const size_t sLength = v * ((saltLength + v - 1) / v);
    const size_t pLength = v * ((widened + v - 1) / v);
    Secret I;
    if (!I.allocate(sLength + pLength)) return SG_PKI_ERR_MEMORY;
    unsigned char* p = I.data();
    for (size_t i = 0; i < sLength; ++i) p[i] = salt[i % saltLength];
    for (size_t i = 0; i < pLength; ++i) {
        const size_t k = i % widened;
        if (preformed)
            p[sLength + i] = k < passwordLength ? password[k] : 0;
        else
            p[sLength + i] = k % 2 == 0 || k / 2 >= passwordLength ? 0 : password[k / 2];
    }
    unsigned char D[kMaxBlock], A[kMaxDigest], B[kMaxBlock];
    std::memset(D, id, v);
    Digest d;
    int r = d.init(digestId);
    size_t produced = 0;
    while (r == 0 && produced < n) {
        r = d.start();
        if (r == 0) r = d.update(D, v);
        if (r == 0) r = d.update(I.data(), I.size());
        if (r == 0) r = d.finish(A);
        for (int j = 2; r == 0 && j <= iterations; ++j) {
            r = d.start();
            if (r == 0) r = d.update(A, u);
            if (r == 0) r = d.finish(A);
        }
        if (r != 0) break;
        const size_t take = n - produced < u ? n - produced : u;
        std::memcpy(out + produced, A, take);
        produced += take;
        if (produced >= n) break;
        // Ij = (Ij + B + 1) mod 2^(8v) for every v-byte block of I.
        for (size_t i = 0; i < v; ++i) B[i] = A[i % u];
        for (size_t j = 0; j < I.size(); j += v) {
            unsigned carry = 1;
            for (size_t k = v; k-- > 0;) {
                carry += static_cast<unsigned>(I.data()[j + k]) + B[k];
                I.data()[j + k] = static_cast<unsigned char>(carry);
                carry >>= 8;
            }
        }
    }
    wipe(A, sizeof A);
    wipe(B, sizeof B);
    if (r != 0) wipe(out, n);
    return r;
}

// The PKCS #12 derivation into a Secret.
int pkcs12Into(Secret& out, int id, const SGBinary& salt, int iterations,
               const unsigned char* password, int passwordLength, int n, bool preformed = false) {
    if (!out.allocate(static_cast<size_t>(n))) return SG_PKI_ERR_MEMORY;
    return pkcs12Derive(out.data(), id, salt.data, salt.length, iterations, password,
                        static_cast<size_t>(passwordLength), static_cast<size_t>(n), SG_DIGEST_SHA1,
                        preformed);
}

// An INTEGER that must be a positive 32-bit value; 20904 otherwise.
int positiveInt(int* out, const INTEGER_t& value) {
    long v = 0;
    if (asn_INTEGER2long(&value, &v) != 0 || v < 1 || v > INT_MAX) return SG_ASN_ERR_MALFORMED;
    *out = static_cast<int>(v);
    return 0;
}

// An iteration count read from a file; 20904 when it is not 1 to the ceiling. Real key files use
// a few thousand; a count far above that would let a file on a hostile medium hold the caller for
// minutes.
int fileIterations(int* out, const INTEGER_t& value) {
    int v = 0;
    if (int r = positiveInt(&v, value)) return r;
    if (v > SG_PKCS5_MAX_FILE_ITERATIONS) return SG_ASN_ERR_MALFORMED;
    *out = v;
    return 0;
}

SGBinary viewOf(const uint8_t* buf, int size) {
    return SGBinary{const_cast<uint8_t*>(buf), size > 0 ? static_cast<uint32_t>(size) : 0};
}

// Frees a decoded structure when it goes.
template <typename T>
struct Decoded {
    asn_TYPE_descriptor_t* td;
    T* value = nullptr;
    explicit Decoded(asn_TYPE_descriptor_t* type) : td(type) {}
    ~Decoded() {
        if (value) SGASN1CObject_Free(value, td);
    }
    int decode(const SGBinary& der) {
        void* out = nullptr;
        if (SGASN1CObject_Decode(&out, td, &der) != 0) return SG_ASN_ERR_RUNTIME;
        value = static_cast<T*>(out);
        return 0;
    }
};

// PBEParameter: salt and a positive iteration count.
int decodePbeParameter(Secret& salt, int* iterations, const SGBinary* der) {
    if (!der || !der->data || der->length == 0) return SG_ASN_ERR_MALFORMED;
    Decoded<PBEParameter_t> p(&asn_DEF_PBEParameter);
    if (int r = p.decode(*der)) return r;
    if (int r = fileIterations(iterations, p.value->iterationCount)) return r;
    const SGBinary s = viewOf(p.value->salt.buf, p.value->salt.size);
    return copyInto(salt, s.data, s.length) ? 0 : SG_PKI_ERR_MEMORY;
}

int encodePbeParameter(SGBinary* out, const SGBinary& salt, int iterations) {
    if (salt.length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    PBEParameter_t p{};
    int r = OCTET_STRING_fromBuf(&p.salt, reinterpret_cast<const char*>(salt.data),
                                 static_cast<int>(salt.length)) == 0
                ? 0
                : SG_PKI_ERR_MEMORY;
    if (r == 0 && asn_long2INTEGER(&p.iterationCount, iterations) != 0) r = SG_PKI_ERR_MEMORY;
    if (r == 0) r = SGASN1CObject_Encode(out, &asn_DEF_PBEParameter, &p);
    SGASN1CObject_Clear(&p, &asn_DEF_PBEParameter);
    return r;
}

int encodePbes2(SGBinary* out, int keyLength, const SGBinary& salt, const SGBinary& iv,
                int iterations, int schemeOid) {
    if (salt.length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    PBKDF2_params_t kdf{};
    kdf.salt.present = PBKDF2_params__salt_PR_specified;
    int r =
        OCTET_STRING_fromBuf(&kdf.salt.choice.specified, reinterpret_cast<const char*>(salt.data),
                             static_cast<int>(salt.length)) == 0
            ? 0
            : SG_PKI_ERR_MEMORY;
    if (r == 0 && asn_long2INTEGER(&kdf.iterationCount, iterations) != 0) r = SG_PKI_ERR_MEMORY;
    if (r == 0 && keyLength > 0) {
        kdf.keyLength = static_cast<INTEGER_t*>(SGASN1C_calloc(1, sizeof(INTEGER_t)));
        if (!kdf.keyLength || asn_long2INTEGER(kdf.keyLength, keyLength) != 0)
            r = SG_PKI_ERR_MEMORY;
    }
    SGBinary kdfDer{}, ivDer{};
    if (r == 0) r = SGASN1CObject_Encode(&kdfDer, &asn_DEF_PBKDF2_params, &kdf);
    SGASN1CObject_Clear(&kdf, &asn_DEF_PBKDF2_params);
    OCTET_STRING_t ivString{};
    if (r == 0 && OCTET_STRING_fromBuf(&ivString, reinterpret_cast<const char*>(iv.data),
                                       static_cast<int>(iv.length)) != 0)
        r = SG_PKI_ERR_MEMORY;
    if (r == 0) r = SGASN1CObject_Encode(&ivDer, &asn_DEF_OCTET_STRING, &ivString);
    SGASN1CObject_Clear(&ivString, &asn_DEF_OCTET_STRING);
    PBES2_params_t params{};
    if (r == 0)
        r = SGASN1CAlgorithmIdentifier_Set(&params.keyDerivationFunc, SG_OID_PBKDF2, &kdfDer);
    if (r == 0) r = SGASN1CAlgorithmIdentifier_Set(&params.encryptionScheme, schemeOid, &ivDer);
    if (r == 0) r = SGASN1CObject_Encode(out, &asn_DEF_PBES2_params, &params);
    SGASN1CObject_Clear(&params, &asn_DEF_PBES2_params);
    SG_GBW(SGBinary_Reset)(&kdfDer);
    SG_GBW(SGBinary_Reset)(&ivDer);
    return r;
}

// Copies DER into a caller's buffer of *length bytes; a null output asks for the length.
int deliver(unsigned char* output, unsigned int* length, SGBinary& der) {
    int r = 0;
    if (output && *length < der.length)
        r = SG_PKI_ERR_OUT_OF_RANGE;
    else if (output)
        std::memcpy(output, der.data, der.length);
    if (r == 0) *length = der.length;
    SG_GBW(SGBinary_Reset)(&der);
    return r;
}

// Runs the cipher of a prepared record over the input. Block ciphers: CBC with PKCS #7, the
// output holds the input plus one block. RC4: a stream without padding, as PKCS #12 defines;
// the layer drives RC4 by 8-byte blocks, so the last short piece is run as a zero-filled block
// of which only its own bytes are kept.
int runCipher(bool decrypt, const SGPKCS5PBESParam& p, const unsigned char* in, uint32_t inLength,
              unsigned char* out, uint32_t* outLength) {
    static const unsigned char kNothing[1] = {0};
    if (!in) in = kNothing;
    if (p.key.length == 0 || !p.key.data) return SG_PKI_ERR_ARGUMENT;
    auto* parameter =
        static_cast<SGCipherParameter*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGCipherParameter)));
    if (!parameter) return SG_PKI_ERR_MEMORY;
    int r = 0;
    if (p.cipherId == SG_CIPHER_RC4) {
        parameter->mode = SG_CIPHER_MODE_ECB;
        parameter->padding = SG_CIPHER_PADDING_NONE;
        auto* context =
            static_cast<SGCipherContext*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGCipherContext)));
        if (!context) r = SG_PKI_ERR_MEMORY;
        if (r == 0)
            r = SG_GCW(SGCipher_Encrypt_Init)(context, p.key.data, p.key.length, p.cipherId,
                                              parameter);
        const uint32_t whole = inLength - inLength % 8, tail = inLength % 8;
        uint32_t n = 0;
        if (r == 0 && whole) r = SG_GCW(SGCipher_Encrypt_Update)(context, out, &n, in, whole);
        if (r == 0 && tail) {
            unsigned char block[8] = {}, stream[8] = {};
            std::memcpy(block, in + whole, tail);
            uint32_t m = 0;
            r = SG_GCW(SGCipher_Encrypt_Update)(context, stream, &m, block, sizeof block);
            if (r == 0) std::memcpy(out + whole, stream, tail);
            wipe(block, sizeof block);
            wipe(stream, sizeof stream);
        }
        if (r == 0) {
            unsigned char rest[8];
            uint32_t m = 0;
            r = SG_GCW(SGCipher_Encrypt_Final)(context, rest, &m);
        }
        if (r == 0) *outLength = inLength;
        if (context) {
            wipe(context, sizeof *context);
            SG_GBW(SGMemory_free)(context);
        }
    } else {
        parameter->mode = SG_CIPHER_MODE_CBC;
        parameter->padding = SG_CIPHER_PADDING_PKCS7;
        if (p.cipherId == SG_CIPHER_RC2)
            parameter->rc2EffectiveBits = static_cast<int>(p.key.length) * 8;
        if (p.iv.length > SG_CIPHER_IV_SIZE) r = SG_CIPHER_ERR_IV_LENGTH;
        if (r == 0) {
            if (p.iv.length) std::memcpy(parameter->iv, p.iv.data, p.iv.length);
            parameter->ivLength = static_cast<int>(p.iv.length);
            r = decrypt ? SG_GCW(SGCipher_Decrypt)(out, outLength, in, inLength, p.key.data,
                                                   p.key.length, p.cipherId, parameter)
                        : SG_GCW(SGCipher_Encrypt)(out, outLength, in, inLength, p.key.data,
                                                   p.key.length, p.cipherId, parameter);
        }
    }
    wipe(parameter, sizeof *parameter);
    SG_GBW(SGMemory_free)(parameter);
    return r;
}

int randomInto(Secret& s, size_t n) {
    if (!s.allocate(n)) return SG_PKI_ERR_MEMORY;
    return SG_GCW(SGRandom_bytes)(s.data(), static_cast<int>(n));
}

bool badPassword(const SGBinary* password) {
    return !password || (!password->data && password->length) || password->length > INT_MAX;
}

// PBES1: DK = PBKDF1-SHA-1 of 20 bytes; key = DK[0, 16); IV fixed (type 1) or the first 16
// bytes of SHA-1(DK[16, 20)) (type 2).
int pbes1KeyAndIv(Secret& key, Secret& iv, int type, const unsigned char* password,
                  int passwordLength, const SGBinary& salt, int iterations) {
    unsigned char dk[kMaxDigest] = {};
    int r = pbkdf1(dk, password, passwordLength, salt.data, static_cast<int>(salt.length),
                   iterations, kPbes1DerivedLength, SG_DIGEST_SHA1);
    if (r == 0 && (!copyInto(key, dk, kPbes1KeyLength) || !iv.allocate(kPbes1IvLength)))
        r = SG_PKI_ERR_MEMORY;
    if (r == 0) {
        if (type == SG_PBE_KISA_SEED_CBC) {
            std::memcpy(iv.data(), kKisaSeedIv, kPbes1IvLength);
        } else {
            unsigned char h[kMaxDigest] = {};
            r = SG_GCW(SGDigest)(h, SG_DIGEST_SHA1, dk + kPbes1KeyLength,
                                 kPbes1DerivedLength - kPbes1KeyLength);
            if (r == 0) std::memcpy(iv.data(), h, kPbes1IvLength);
            wipe(h, sizeof h);
        }
    }
    wipe(dk, sizeof dk);
    return r;
}

// Sets a record's words and hands it key, salt and IV (an IV not made keeps the record's). The
// last step of every operation that fills a record, so a failure leaves the record as it was.
void fill(SGPKCS5PBESParam& p, int type, int iterations, int digestId, int cipherId, Secret& key,
          Secret& salt, Secret& iv) {
    p.pbeType = type;
    p.iterations = iterations;
    p.digestId = digestId;
    p.cipherId = cipherId;
    p.mode = SG_CIPHER_MODE_CBC;
    p.padding = SG_CIPHER_PADDING_PKCS7;
    key.moveTo(&p.key);
    salt.moveTo(&p.salt);
    if (iv.data()) iv.moveTo(&p.iv);
}

// No exception leaves an entry point.
template <typename F>
int guarded(F&& f) {
    try {
        return f();
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

// The decoded PBES2 parameters, checked.
struct Pbes2 {
    Secret salt, iv;
    int iterations = 0;
    int digestId = 0;
    const Scheme* scheme = nullptr;
};

int decodePbes2(Pbes2& out, const SGBinary* der) {
    if (!der || !der->data || der->length == 0) return SG_ASN_ERR_MALFORMED;
    Decoded<PBES2_params_t> params(&asn_DEF_PBES2_params);
    if (int r = params.decode(*der)) return r;
    const AlgorithmIdentifier_t& kdfId = params.value->keyDerivationFunc;
    if (oidIdOf(kdfId.algorithm) != SG_OID_PBKDF2) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    if (!kdfId.parameters) return SG_ASN_ERR_MALFORMED;
    Decoded<PBKDF2_params_t> kdf(&asn_DEF_PBKDF2_params);
    if (int r = kdf.decode(viewOf(kdfId.parameters->buf, kdfId.parameters->size))) return r;
    if (kdf.value->salt.present != PBKDF2_params__salt_PR_specified)
        return SG_PKI_ERR_NOT_SUPPORTED;
    if (int r = fileIterations(&out.iterations, kdf.value->iterationCount)) return r;
    int keyLength = 0;
    if (kdf.value->keyLength)
        if (int r = positiveInt(&keyLength, *kdf.value->keyLength)) return r;
    out.digestId = prfDigest(kdf.value->prf);
    if (out.digestId == 0) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    const AlgorithmIdentifier_t& schemeId = params.value->encryptionScheme;
    out.scheme = schemeOfOid(oidIdOf(schemeId.algorithm));
    if (!out.scheme) return SG_PKI_ERR_NOT_SUPPORTED;
    // A key length the scheme does not use would derive a wrong key.
    if (keyLength != 0 && keyLength != out.scheme->keyLength) return SG_ASN_ERR_MALFORMED;
    if (!schemeId.parameters) return SG_ASN_ERR_MALFORMED;
    Decoded<OCTET_STRING_t> iv(&asn_DEF_OCTET_STRING);
    if (int r = iv.decode(viewOf(schemeId.parameters->buf, schemeId.parameters->size))) return r;
    SGCipherInfo info{};
    if (int r = SG_GCW(SGCipher_GetInfo)(&info, out.scheme->cipherId)) return r;
    if (iv.value->size != info.blockSize) return SG_ASN_ERR_MALFORMED;
    const auto& salt = kdf.value->salt.choice.specified;
    if (!copyInto(out.salt, salt.buf, salt.size > 0 ? static_cast<size_t>(salt.size) : 0) ||
        !copyInto(out.iv, iv.value->buf, static_cast<size_t>(iv.value->size)))
        return SG_PKI_ERR_MEMORY;
    return 0;
}

SGBinary binaryOf(Secret& s) {
    return SGBinary{s.data(), static_cast<uint32_t>(s.size())};
}

int getPkcs12Param(SGPKCS5PBESParam* out, const unsigned char* password, int passwordLength,
                   const SGBinary* parameters, int pbeType, bool preformed) {
    if (!out || badBytes(password, passwordLength) || !parameters) return SG_PKI_ERR_ARGUMENT;
    const Pkcs12Type* t = pkcs12Type(pbeType);
    if (!t) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    return guarded([&]() -> int {
        Secret salt, key, iv;
        int iterations = 0;
        if (int r = decodePbeParameter(salt, &iterations, parameters)) return r;
        SGCipherInfo info{};
        if (int r = SG_GCW(SGCipher_GetInfo)(&info, t->cipherId)) return r;
        const SGBinary s = binaryOf(salt);
        if (int r = pkcs12Into(key, SG_PKCS12_ID_KEY, s, iterations, password, passwordLength,
                               t->keyLength, preformed))
            return r;
        if (int r = pkcs12Into(iv, SG_PKCS12_ID_IV, s, iterations, password, passwordLength,
                               info.blockSize, preformed))
            return r;
        fill(*out, pbeType, iterations, SG_DIGEST_SHA1, t->cipherId, key, salt, iv);
        return 0;
    });
}

int decryptWith(unsigned char* output, int* outputLength, const SGPKCS8EncryptedPrivateKeyInfo* in,
                const unsigned char* password, int passwordLength, const SGBinary* bmp) {
    if (!output || !outputLength || !in || badBytes(password, passwordLength) ||
        (!in->encryptedData.data && in->encryptedData.length) || in->encryptedData.length > INT_MAX)
        return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    SGPKCS5PBESParam work{};
    int r = 0;
    try {
        const int type = in->algorithm;
        static const SGBinary kNoParameters{};
        const SGBinary* parameters = in->parameters ? in->parameters : &kNoParameters;
        if (pkcs12Type(type))
            r = bmp ? getPkcs12Param(&work, bmp->data, static_cast<int>(bmp->length), parameters,
                                     type, true)
                    : getPkcs12Param(&work, password, passwordLength, parameters, type, false);
        else if (type == SG_PBE_PBES2)
            r = SGPKCS5_GetPBES2Param(&work, password, passwordLength, parameters);
        else if (type == SG_PBE_KISA_SEED_CBC || type == SG_PBE_KISA_SHA1_SEED_CBC)
            r = SGPKCS5_GetPBES1Param(&work, password, passwordLength, parameters, type);
        else
            r = SG_PKI_ERR_UNKNOWN_ALGORITHM;
        Secret plain;
        uint32_t produced = 0;
        if (r == 0 && !plain.allocate(in->encryptedData.length)) r = SG_PKI_ERR_MEMORY;
        if (r == 0)
            r = runCipher(true, work, in->encryptedData.data, in->encryptedData.length,
                          plain.data(), &produced);
        if (r == 0 && produced > in->encryptedData.length) r = SG_PKI_ERR_INTERNAL;
        if (r == 0) {
            if (produced) std::memcpy(output, plain.data(), produced);
            *outputLength = static_cast<int>(produced);
        }
    } catch (...) {
        r = SG_PKI_ERR_INTERNAL;
    }
    SGPKCS5PBESParam_Clear(&work);
    return r;
}

}  // namespace

extern "C" {

int SGPBKDF1(unsigned char* output, const unsigned char* password, int passwordLength,
             const unsigned char* salt, int saltLength, int iterations, int dkLen, int digestId) {
    if (!output || badBytes(password, passwordLength) || badBytes(salt, saltLength))
        return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    return pbkdf1(output, password, passwordLength, salt, saltLength, iterations, dkLen, digestId);
}

int SGPBKDF2(unsigned char* output, const unsigned char* password, int passwordLength,
             const unsigned char* salt, int saltLength, int iterations, int dkLen, int digestId) {
    if (!output || badBytes(password, passwordLength) || badBytes(salt, saltLength) || dkLen < 0)
        return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    return pbkdf2(output, password, passwordLength, salt, saltLength, iterations, dkLen, digestId);
}

int SGPKCS5_PBE_PKCS12(SGBinary* out, int id, const SGBinary* salt, int iterations,
                       const SGBinary* password, int n, int digestId) {
    if (!out || badPassword(password) || id < SG_PKCS12_ID_KEY || id > SG_PKCS12_ID_MAC || n < 0 ||
        (salt && !salt->data && salt->length))
        return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    return guarded([&]() -> int {
        Secret result;
        if (!result.allocate(static_cast<size_t>(n))) return SG_PKI_ERR_MEMORY;
        const int r = pkcs12Derive(result.data(), id, salt ? salt->data : nullptr,
                                   salt ? salt->length : 0, iterations, password->data,
                                   password->length, static_cast<size_t>(n), digestId);
        if (r == 0) result.moveTo(out);
        return r;
    });
}

int SGPKCS5_PBE_PKCS12Unicode(SGBinary* out, int id, const SGBinary* salt, int iterations,
                              const SGBinary* password, int n, int digestId) {
    if (!out || badPassword(password) || id < SG_PKCS12_ID_KEY || id > SG_PKCS12_ID_MAC || n < 0 ||
        (salt && !salt->data && salt->length))
        return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    return guarded([&]() -> int {
        Secret result;
        if (!result.allocate(static_cast<size_t>(n))) return SG_PKI_ERR_MEMORY;
        const int r = pkcs12Derive(result.data(), id, salt ? salt->data : nullptr,
                                   salt ? salt->length : 0, iterations, password->data,
                                   password->length, static_cast<size_t>(n), digestId, true);
        if (r == 0) result.moveTo(out);
        return r;
    });
}

int SGPKCS5_GetPBES1Param(SGPKCS5PBESParam* out, const unsigned char* password, int passwordLength,
                          const SGBinary* parameters, int pbeType) {
    if (!out || badBytes(password, passwordLength) || !parameters) return SG_PKI_ERR_ARGUMENT;
    if (pbeType != SG_PBE_KISA_SEED_CBC && pbeType != SG_PBE_KISA_SHA1_SEED_CBC)
        return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    return guarded([&]() -> int {
        Secret salt, key, iv;
        int iterations = 0;
        if (int r = decodePbeParameter(salt, &iterations, parameters)) return r;
        if (int r = pbes1KeyAndIv(key, iv, pbeType, password, passwordLength, binaryOf(salt),
                                  iterations))
            return r;
        fill(*out, pbeType, iterations, SG_DIGEST_SHA1, SG_CIPHER_SEED, key, salt, iv);
        return 0;
    });
}

int SGPKCS5_GetPBES2Param(SGPKCS5PBESParam* out, const unsigned char* password, int passwordLength,
                          const SGBinary* parameters) {
    if (!out || badBytes(password, passwordLength) || !parameters) return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    return guarded([&]() -> int {
        Pbes2 p;
        if (int r = decodePbes2(p, parameters)) return r;
        Secret key;
        if (!key.allocate(static_cast<size_t>(p.scheme->keyLength))) return SG_PKI_ERR_MEMORY;
        if (int r = pbkdf2(key.data(), password, passwordLength, p.salt.data(),
                           static_cast<int>(p.salt.size()), p.iterations, p.scheme->keyLength,
                           p.digestId))
            return r;
        fill(*out, SG_PBE_PBES2, p.iterations, p.digestId, p.scheme->cipherId, key, p.salt, p.iv);
        return 0;
    });
}

int SGPKCS5_GetPKCS12PBEParam(SGPKCS5PBESParam* out, const unsigned char* password,
                              int passwordLength, const SGBinary* parameters, int pbeType) {
    return getPkcs12Param(out, password, passwordLength, parameters, pbeType, false);
}

int SGPKCS5_SetPKCS12PBESParam(unsigned char* output, unsigned int* outputLength,
                               const SGBinary* salt, const SGBinary* iv, int iterations) {
    (void)iv;
    return SGPKCS5_SetPBES1PARAM(output, outputLength, salt, iterations);
}

int SGPKCS5_SetPBES1PARAM(unsigned char* output, unsigned int* outputLength, const SGBinary* salt,
                          int iterations) {
    if (!outputLength || !salt || (!salt->data && salt->length)) return SG_PKI_ERR_ARGUMENT;
    if (iterations < 1) return SG_PKI_ERR_OUT_OF_RANGE;
    return guarded([&]() -> int {
        SGBinary der{};
        if (int r = encodePbeParameter(&der, *salt, iterations)) return r;
        return deliver(output, outputLength, der);
    });
}

int SGPKCS5_SetPBES2PARAM(unsigned char* output, unsigned int* outputLength, int keyLength,
                          const SGBinary* salt, const SGBinary* iv, int iterations, int cipherId) {
    if (!outputLength || !salt || (!salt->data && salt->length) || !iv || !iv->data)
        return SG_PKI_ERR_ARGUMENT;
    const Scheme* scheme = schemeForCipher(cipherId);
    if (!scheme) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    if (iterations < 1 || iv->length != SG_PKCS5_PBES2_IV_LENGTH ||
        (cipherId == SG_CIPHER_ARIA128 && keyLength < 1))
        return SG_PKI_ERR_OUT_OF_RANGE;
    return guarded([&]() -> int {
        SGBinary der{};
        const int written = cipherId == SG_CIPHER_ARIA128 ? keyLength : 0;
        if (int r = encodePbes2(&der, written, *salt, *iv, iterations, scheme->oidId)) return r;
        return deliver(output, outputLength, der);
    });
}

int SGPKCS5_InitParam_PBES1(SGPKCS5PBESParam* param, const SGBinary* password) {
    if (!param || badPassword(password)) return SG_PKI_ERR_ARGUMENT;
    const int type = param->pbeType;
    if (type != SG_PBE_KISA_SEED_CBC && type != SG_PBE_KISA_SHA1_SEED_CBC)
        return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    if (param->iterations < 1) return SG_PKI_ERR_OUT_OF_RANGE;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    return guarded([&]() -> int {
        Secret salt, key, iv;
        if (int r = randomInto(salt, SG_PKCS5_SALT_LENGTH)) return r;
        if (int r = pbes1KeyAndIv(key, iv, type, password->data, static_cast<int>(password->length),
                                  binaryOf(salt), param->iterations))
            return r;
        fill(*param, type, param->iterations, SG_DIGEST_SHA1, SG_CIPHER_SEED, key, salt, iv);
        return 0;
    });
}

int SGPKCS5_InitParam_PBES2(SGPKCS5PBESParam* param, const SGBinary* password) {
    if (!param || badPassword(password)) return SG_PKI_ERR_ARGUMENT;
    if (param->pbeType != SG_PBE_PBES2 || !schemeForCipher(param->cipherId))
        return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    if (param->iterations < 1) return SG_PKI_ERR_OUT_OF_RANGE;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    return guarded([&]() -> int {
        Secret salt, key, iv;
        if (int r = randomInto(salt, SG_PKCS5_SALT_LENGTH)) return r;
        const bool ownIv = param->iv.data && param->iv.length == SG_PKCS5_PBES2_IV_LENGTH;
        if (!ownIv)
            if (int r = randomInto(iv, SG_PKCS5_PBES2_IV_LENGTH)) return r;
        if (!key.allocate(SG_PKCS5_PBES2_KEY_LENGTH)) return SG_PKI_ERR_MEMORY;
        if (int r = pbkdf2(key.data(), password->data, static_cast<int>(password->length),
                           salt.data(), static_cast<int>(salt.size()), param->iterations,
                           SG_PKCS5_PBES2_KEY_LENGTH, SG_DIGEST_SHA1))
            return r;
        fill(*param, SG_PBE_PBES2, param->iterations, SG_DIGEST_SHA1, param->cipherId, key, salt,
             iv);
        return 0;
    });
}

int SGPKCS5_InitParam_PKCS12(SGPKCS5PBESParam* param, const SGBinary* password) {
    if (!param || badPassword(password)) return SG_PKI_ERR_ARGUMENT;
    const Pkcs12Type* t = pkcs12Type(param->pbeType);
    if (!t) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    if (param->iterations < 1) return SG_PKI_ERR_OUT_OF_RANGE;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    return guarded([&]() -> int {
        Secret salt, key, iv;
        SGCipherInfo info{};
        if (int r = SG_GCW(SGCipher_GetInfo)(&info, t->cipherId)) return r;
        if (int r = randomInto(salt, SG_PKCS5_SALT_LENGTH)) return r;
        const SGBinary s = binaryOf(salt);
        const int length = static_cast<int>(password->length);
        if (int r = pkcs12Into(key, SG_PKCS12_ID_KEY, s, param->iterations, password->data, length,
                               t->keyLength))
            return r;
        if (int r = pkcs12Into(iv, SG_PKCS12_ID_IV, s, param->iterations, password->data, length,
                               info.blockSize))
            return r;
        fill(*param, t->type, param->iterations, SG_DIGEST_SHA1, t->cipherId, key, salt, iv);
        return 0;
    });
}

int SGPKCS5_InitParam(SGPKCS5PBESParam* param, const SGBinary* password) {
    if (!param || badPassword(password)) return SG_PKI_ERR_ARGUMENT;
    if (param->iterations <= 0) param->iterations = SG_PKCS5_DEFAULT_ITERATIONS;
    if (param->pbeType <= 0) param->pbeType = SG_PBE_KISA_SEED_CBC;
    switch (param->pbeType) {
        case SG_PBE_KISA_SEED_CBC:
        case SG_PBE_KISA_SHA1_SEED_CBC:
            return SGPKCS5_InitParam_PBES1(param, password);
        case SG_PBE_PBES2:
            return SGPKCS5_InitParam_PBES2(param, password);
        default:
            if (pkcs12Type(param->pbeType)) return SGPKCS5_InitParam_PKCS12(param, password);
            return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    }
}

int SGPKCS5PBESParam_Clear(SGPKCS5PBESParam* param) {
    if (!param) return 0;
    SG_GBW(SGBinary_Cleanse)(&param->key);
    SG_GBW(SGBinary_Cleanse)(&param->salt);
    SG_GBW(SGBinary_Cleanse)(&param->iv);
    return 0;
}

int SGPKCS5Encrypt(SGPKCS8EncryptedPrivateKeyInfo* out, const unsigned char* data, int dataLength,
                   const unsigned char* password, int passwordLength,
                   const SGPKCS5PBESParam* param) {
    if (!out || badBytes(data, dataLength) || badBytes(password, passwordLength))
        return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    SGPKCS5PBESParam work{};
    int r = 0;
    try {
        // The caller's record is read, never changed; its IV is copied, not taken over.
        if (param) {
            work.iterations = param->iterations;
            work.pbeType = param->pbeType;
            work.cipherId = param->cipherId;
            if (param->pbeType == SG_PBE_PBES2 && param->iv.data &&
                param->iv.length == SG_PKCS5_PBES2_IV_LENGTH) {
                Secret iv;
                if (!copyInto(iv, param->iv.data, param->iv.length)) return SG_PKI_ERR_MEMORY;
                iv.moveTo(&work.iv);
            }
        }
        if (work.iterations <= 0) work.iterations = SG_PKCS5_DEFAULT_ITERATIONS;
        if (work.pbeType <= 0) work.pbeType = SG_PBE_KISA_SEED_CBC;
        out->algorithm = work.pbeType;
        const SGBinary pw{const_cast<unsigned char*>(password),
                          static_cast<uint32_t>(passwordLength)};
        r = SGPKCS5_InitParam(&work, &pw);
        SGCipherInfo info{};
        if (r == 0) r = SG_GCW(SGCipher_GetInfo)(&info, work.cipherId);
        Secret cipherText;
        uint32_t produced = 0;
        if (r == 0 && !cipherText.allocate(static_cast<size_t>(dataLength) +
                                           static_cast<size_t>(info.blockSize)))
            r = SG_PKI_ERR_MEMORY;
        if (r == 0)
            r = runCipher(false, work, data, static_cast<uint32_t>(dataLength), cipherText.data(),
                          &produced);
        SGBinary der{};
        if (r == 0) {
            if (work.pbeType == SG_PBE_PBES2) {
                const int keyLength =
                    work.cipherId == SG_CIPHER_ARIA128 ? SG_PKCS5_PBES2_KEY_LENGTH : 0;
                r = encodePbes2(&der, keyLength, work.salt, work.iv, work.iterations,
                                schemeForCipher(work.cipherId)->oidId);
            } else {
                r = encodePbeParameter(&der, work.salt, work.iterations);
            }
        }
        auto* parameters =
            r == 0 ? static_cast<SGBinary*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGBinary))) : nullptr;
        if (r == 0 && !parameters) r = SG_PKI_ERR_MEMORY;
        if (r == 0) {
            *parameters = der;
            der = SGBinary{};
            out->parameters = parameters;
            // The ciphertext keeps its allocation; only its length is the produced one.
            SGBinary data{};
            cipherText.moveTo(&data);
            data.length = produced;
            if (produced == 0) {
                SG_GBW(SGMemory_free)(data.data);
                data.data = nullptr;
            }
            out->encryptedData = data;
        }
        SG_GBW(SGBinary_Reset)(&der);
    } catch (...) {
        r = SG_PKI_ERR_INTERNAL;
    }
    SGPKCS5PBESParam_Clear(&work);
    return r;
}

int SGPKCS5Decrypt(unsigned char* output, int* outputLength,
                   const SGPKCS8EncryptedPrivateKeyInfo* in, const unsigned char* password,
                   int passwordLength) {
    return decryptWith(output, outputLength, in, password, passwordLength, nullptr);
}

int SGPKCS5DecryptUnicode(unsigned char* output, int* outputLength,
                          const SGPKCS8EncryptedPrivateKeyInfo* in, const unsigned char* password,
                          int passwordLength, const SGBinary* bmpPassword) {
    if (!bmpPassword || (!bmpPassword->data && bmpPassword->length) ||
        bmpPassword->length > INT_MAX)
        return SG_PKI_ERR_ARGUMENT;
    return decryptWith(output, outputLength, in, password, passwordLength, bmpPassword);
}

}  // extern "C"
