#include "PaskKey.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "KeyUsage.h"
#include "PXCipher.h"
#include "PXConnectionRequest.h"
#include "PXConnectionResponse.h"
#include "SGASN1C.h"
#include "SGCryptoHandler.h"
#include "SGDigest.h"
#include "SGHMAC.h"
#include "SGMemory.h"
#include "SGPKCS1.h"
#include "SGPKCSError.h"
#include "SGRSA.h"
#include "SGRandom.h"
#include "SGServiceInternal.h"
#include "SGX509Certificate.h"

static_assert(sizeof(SGCipherInfo) == 24);
static_assert(offsetof(PaskKeyContext, info) == 20);
static_assert(offsetof(PaskKeyContext, counter) == 48);
static_assert(offsetof(PaskKeyContext, rs) == 56);
static_assert(offsetof(PaskKeyContext, r) == 72);
static_assert(offsetof(PaskKeyContext, d5) == 88);
static_assert(offsetof(PaskKeyContext, s) == 136);
static_assert(offsetof(PaskKeyContext, d0) == 184);
static_assert(offsetof(PaskKeyContext, certificate) == 200);
static_assert(offsetof(PaskKeyContext, keyHandle) == 216);
static_assert(offsetof(PaskKeyContext, received) == 224);
static_assert(sizeof(PaskKeyContext) == 232);
static_assert(sizeof(PaskKeyInput) == 32);

namespace {

constexpr int kMaxDigest = 64;
constexpr uint32_t kBlock = 16;           // the one block and key size accepted
constexpr uint32_t kMinDigest = 16;       // digests shorter than a key cannot feed the KDF
constexpr unsigned kKeyEncipherment = 2;  // keyUsage bit
constexpr int kMinModulusBits = 2048;
// Stands in for the data of an empty plaintext, which the digest and cipher layers refuse as a
// null pointer.
const unsigned char kNothing[1] = {0};

bool cryptoReady() {
    for (int slot :
         {SGCryptoSlot_SGCipher_GetInfo, SGCryptoSlot_SGCipher_Encrypt,
          SGCryptoSlot_SGCipher_Decrypt, SGCryptoSlot_SGDigest, SGCryptoSlot_SGDigest_GetDigestSize,
          SGCryptoSlot_SGHMAC, SGCryptoSlot_SGRandom_bytes, SGCryptoSlot_SGPKCS1_Encrypt,
          SGCryptoSlot_SGRSAPublicKey_Decode, SGCryptoSlot_SGRSAPublicKey_Free,
          SGCryptoSlot_SGBigInteger_GetNumberOfBits})
        if (!_gcw[slot]) return false;
    return _gbw[SGBaseSlot_SGMemory_malloc] != nullptr;
}

void wipe(void* p, size_t n) {
    if (p && n) SG_GBW(SGMemory_cleanse)(p, n);
}

void drop(SGBinary& b) {
    SG_GBW(SGBinary_Cleanse)(&b);
    b = SGBinary{};
}

// A new buffer holding n bytes of p (none for n = 0): 0 or 10002.
int copyInto(SGBinary& out, const unsigned char* p, uint32_t n) {
    drop(out);
    if (n == 0) return 0;
    auto* bytes = static_cast<unsigned char*>(SG_GBW(SGMemory_malloc)(n));
    if (!bytes) return PASKKEY_ERR_MEMORY;
    std::memcpy(bytes, p, n);
    out = SGBinary{bytes, n};
    return 0;
}

// A heap buffer of the layer that is wiped and released with the object.
struct Secret {
    unsigned char* data = nullptr;
    uint32_t size = 0;
    explicit Secret(uint32_t n)
        : data(static_cast<unsigned char*>(SG_GBW(SGMemory_malloc)(n ? n : 1))), size(n) {}
    ~Secret() {
        if (data) {
            wipe(data, size);
            SG_GBW(SGMemory_free)(data);
        }
    }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
};

// A digest kept on the stack and wiped when it goes.
struct Digest {
    unsigned char bytes[kMaxDigest];
    ~Digest() { wipe(bytes, sizeof bytes); }
};

// A generated structure freed with the object.
template <typename T>
struct Asn {
    T* value = nullptr;
    asn_TYPE_descriptor_t* type;
    explicit Asn(asn_TYPE_descriptor_t* td) : type(td) {}
    ~Asn() {
        if (value) SGASN1CObject_Free(value, type);
    }
    int decode(const SGBinary& der) {
        void* p = nullptr;
        const int r = SGASN1CObject_Decode(&p, type, &der);
        value = static_cast<T*>(p);
        return r;
    }
};

bool constantTimeEqual(const unsigned char* a, const unsigned char* b, size_t n) {
    volatile unsigned char diff = 0;
    for (size_t i = 0; i < n; ++i) diff = diff | static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

// True when der is one DER element (definite length) that fills it exactly: no trailing bytes.
bool wholeElement(const SGBinary& der) {
    if (!der.data || der.length < 2) return false;
    const unsigned char* p = der.data;
    uint64_t header = 2, length = p[1];
    if (p[1] & 0x80) {
        const unsigned count = p[1] & 0x7F;
        if (count == 0 || count > 4 || der.length < 2 + count) return false;
        length = 0;
        for (unsigned i = 0; i < count; ++i) length = length << 8 | p[2 + i];
        header += count;
    }
    return header + length == der.length;
}

int digestSizeOf(int digestId) {
    return SG_GCW(SGDigest_GetDigestSize)(digestId);
}

// The cipher, mode and digest the channel accepts: block and key of 16 bytes, CBC, and a digest
// of 16 bytes or more.
bool acceptable(int cipherId, int mode, int digestId, SGCipherInfo* info) {
    if (mode != SG_CIPHER_MODE_CBC) return false;
    const int size = digestSizeOf(digestId);
    if (size < static_cast<int>(kMinDigest) || size > kMaxDigest) return false;
    SGCipherInfo i{};
    if (SG_GCW(SGCipher_GetInfo)(&i, cipherId) != 0) return false;
    if (i.blockSize != static_cast<int>(kBlock) || i.defaultKeyLength != static_cast<int>(kBlock))
        return false;
    if (info) *info = i;
    return true;
}

uint32_t blockOf(const PaskKeyContext* c) {
    return static_cast<uint32_t>(c->info.blockSize);
}

int hash(const PaskKeyContext* c, unsigned char* out, const unsigned char* data, uint32_t n) {
    return SG_GCW(SGDigest)(out, c->digestId, n ? data : kNothing, n);
}

// CBC with PKCS #7 padding under key and iv (both L bytes). Encryption writes into a new buffer
// of out; decryption leaves the plaintext in work, which must hold n bytes. Non-zero on failure.
int cbc(const PaskKeyContext* c, bool encrypt, unsigned char* output, uint32_t* produced,
        const unsigned char* in, uint32_t n, const unsigned char* key, const unsigned char* iv) {
    const uint32_t L = blockOf(c);
    if (!encrypt && (n == 0 || n % L != 0)) return SG_CIPHER_ERR_LEFT_OVER;
    SGCipherParameter p;
    std::memset(&p, 0, sizeof p);
    p.mode = c->mode;
    std::memcpy(p.iv, iv, L);
    p.ivLength = static_cast<int>(L);
    p.padding = SG_CIPHER_PADDING_PKCS7;
    const unsigned char* input = n ? in : kNothing;
    const int r =
        encrypt ? SG_GCW(SGCipher_Encrypt)(output, produced, input, n, key, L, c->cipherId, &p)
                : SG_GCW(SGCipher_Decrypt)(output, produced, input, n, key, L, c->cipherId, &p);
    wipe(&p, sizeof p);
    return r;
}

// K = H(R) and IV = H(H(R)), each cut to L: the key of the server secret's transport.
int secretKey(const PaskKeyContext* c, Digest& k, Digest& iv) {
    if (int r = hash(c, k.bytes, c->r.data, c->r.length)) return r;
    return hash(c, iv.bytes, k.bytes, static_cast<uint32_t>(digestSizeOf(c->digestId)));
}

void dropSecrets(PaskKeyContext* c) {
    for (SGBinary* b : {&c->rs, &c->r, &c->d5, &c->d4, &c->d3, &c->s, &c->d2, &c->d1, &c->d0})
        drop(*b);
}

int failWith(PaskKeyContext* c, int code) {
    dropSecrets(c);
    c->step = PASKKEY_STEP_FAILED;
    return code;
}

int addOutput(SGBinaryList* outputs, const SGBinary& body) {
    return SG_GBW(SGBinaryList_Add)(outputs, &body) == 0 ? 0 : PASKKEY_ERR_MEMORY;
}

// --- client ---------------------------------------------------------------------------------

int clientRequest(PaskKeyContext* c, SGBinaryList* outputs) {
    if (!acceptable(c->cipherId, c->mode, c->digestId, &c->info)) return PASKKEY_ERR_REQUEST;
    PXConnectionRequest_t request;
    std::memset(&request, 0, sizeof request);
    int r = SGASN1CAlgorithmIdentifier_FromCrypto(&request.encAlgorithm, SG_ASN1C_CRYPTO_CIPHER,
                                                  c->cipherId, nullptr, 0);
    if (r == 0)
        r = SGASN1CAlgorithmIdentifier_FromCrypto(&request.hashAlgorithm, SG_ASN1C_CRYPTO_DIGEST, 0,
                                                  nullptr, c->digestId);
    SGBinary der{};
    if (r == 0) r = SGASN1CObject_Encode(&der, &asn_DEF_PXConnectionRequest, &request);
    SGASN1CObject_Clear(&request, &asn_DEF_PXConnectionRequest);
    if (r == 0) r = addOutput(outputs, der);
    SG_GBW(SGBinary_Reset)(&der);
    return r == 0 ? 0 : PASKKEY_ERR_REQUEST;
}

// Whether the certificate's key usage, when it names one, allows key transport.
bool allowsKeyEncipherment(const SGX509Certificate& cert) {
    void* found = nullptr;
    if (SGX509Certificate_GetASN1CEntry(&found, &cert, SG_X509_ENTRY_KEY_USAGE) != 0 || !found)
        return true;  // no keyUsage extension: any use
    const auto* extension = static_cast<const Extension_t*>(found);
    const SGBinary value{extension->extnValue.buf,
                         static_cast<uint32_t>(extension->extnValue.size)};
    Asn<KeyUsage_t> usage(&asn_DEF_KeyUsage);
    if (usage.decode(value) != 0) return false;
    const unsigned byte = kKeyEncipherment / 8, mask = 0x80u >> (kKeyEncipherment % 8);
    return usage.value->size > static_cast<int>(byte) && (usage.value->buf[byte] & mask);
}

// The server's RSA public key, when the certificate is fit for the channel: an RSA key of at
// least 2048 bits, within its validity period, usable for key transport.
int serverKey(SGRSAPublicKey* key, const SGX509Certificate& cert) {
    int kind = 0;
    SGBinary bits{};
    if (SGX509Certificate_GetPublicKeyInfo(&kind, nullptr, &bits, nullptr, &cert) != 0 ||
        kind != SG_X509_KEY_RSA || !bits.data || bits.length > INT_MAX)
        return PASKKEY_ERR_CERTIFICATE;
    if (SGX509Certificate_InTime(&cert, nullptr, nullptr, 1) != 0) return PASKKEY_ERR_CERTIFICATE;
    if (!allowsKeyEncipherment(cert)) return PASKKEY_ERR_CERTIFICATE;
    if (SG_GCW(SGRSAPublicKey_Decode)(key, bits.data, static_cast<int>(bits.length)) != 0)
        return PASKKEY_ERR_CERTIFICATE;
    if (!key->n || SG_GCW(SGBigInteger_GetNumberOfBits)(key->n) < kMinModulusBits)
        return PASKKEY_ERR_CERTIFICATE;
    return 0;
}

int encryptRandom(SGBinary& out, SGRSAPublicKey* key, const SGBinary& r) {
    auto* p = static_cast<SGPKCS1Parameter*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGPKCS1Parameter)));
    if (!p) return PASKKEY_ERR_MEMORY;
    p->encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
    p->publicKey = key;
    unsigned length = 0;
    int result = SG_GCW(SGPKCS1_Encrypt)(nullptr, &length, r.data, r.length, p);
    if (result == SG_PKCS1_ERR_OUTPUT_TOO_SHORT && length > 0) {
        auto* bytes = static_cast<unsigned char*>(SG_GBW(SGMemory_malloc)(length));
        result = bytes ? SG_GCW(SGPKCS1_Encrypt)(bytes, &length, r.data, r.length, p)
                       : PASKKEY_ERR_MEMORY;
        if (result == 0)
            out = SGBinary{bytes, length};
        else if (bytes)
            SG_GBW(SGMemory_free)(bytes);
    } else if (result == 0) {
        result = PASKKEY_ERR_CERTIFICATE;  // no length reported
    }
    wipe(p, sizeof *p);
    SG_GBW(SGMemory_free)(p);
    return result;
}

int clientResponse(PaskKeyContext* c, SGBinaryList* outputs, const SGBinary& certificate) {
    const uint32_t L = blockOf(c);
    SGX509Certificate cert{};
    if (!certificate.data || SGX509Certificate_FromBinary(&cert, &certificate) != 0)
        return PASKKEY_ERR_CERTIFICATE;
    auto* key = static_cast<SGRSAPublicKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGRSAPublicKey)));
    int r = key ? serverKey(key, cert) : PASKKEY_ERR_MEMORY;
    SGX509Certificate_Clear(&cert);

    // R, L random bytes, kept for the secret's key and the KDF.
    if (r == 0) {
        Secret fresh(L);
        r = fresh.data ? SG_GCW(SGRandom_bytes)(fresh.data, static_cast<int>(L))
                       : PASKKEY_ERR_MEMORY;
        if (r == 0) r = copyInto(c->r, fresh.data, L);
    }
    SGBinary encrypted{};
    if (r == 0) r = encryptRandom(encrypted, key, c->r);
    if (key) {
        SG_GCW(SGRSAPublicKey_Free)(key);
        SG_GBW(SGMemory_free)(key);
    }
    Digest hashed;
    if (r == 0) r = hash(c, hashed.bytes, c->r.data, c->r.length);

    PXConnectionResponse_t response;
    std::memset(&response, 0, sizeof response);
    SGBinary der{};
    if (r == 0) r = SGASN1CBitString_Set(&response.encryptedRandom, &encrypted);
    if (r == 0)
        r = SGASN1COctetString_SetFromBuf(&response.hashedKey, hashed.bytes,
                                          digestSizeOf(c->digestId));
    if (r == 0) r = SGASN1CObject_Encode(&der, &asn_DEF_PXConnectionResponse, &response);
    SGASN1CObject_Clear(&response, &asn_DEF_PXConnectionResponse);
    SG_GBW(SGBinary_Reset)(&encrypted);
    if (r == 0) r = addOutput(outputs, der);
    SG_GBW(SGBinary_Reset)(&der);
    return r == 0 ? 0 : PASKKEY_ERR_CERTIFICATE;
}

int clientSecret(PaskKeyContext* c, const SGBinary& encrypted) {
    const uint32_t L = blockOf(c);
    if (!encrypted.data || encrypted.length == 0 || encrypted.length > 2 * L)
        return PASKKEY_ERR_SECRET;
    Digest k, iv;
    if (secretKey(c, k, iv) != 0) return PASKKEY_ERR_SECRET;
    Secret plain(encrypted.length);
    if (!plain.data) return PASKKEY_ERR_MEMORY;
    uint32_t n = 0;
    if (cbc(c, false, plain.data, &n, encrypted.data, encrypted.length, k.bytes, iv.bytes) != 0 ||
        n != L)
        return PASKKEY_ERR_SECRET;
    if (copyInto(c->s, plain.data, L) != 0) return PASKKEY_ERR_MEMORY;
    return PaskKey_KDF(c) == 0 ? 0 : PASKKEY_ERR_SECRET;
}

// --- server ---------------------------------------------------------------------------------

int serverCertificate(PaskKeyContext* c, const SGBinary& certificate) {
    if (!certificate.data || certificate.length == 0) return PASKKEY_ERR_ARGUMENT;
    SGBinary copy{};
    if (copyInto(copy, certificate.data, certificate.length) != 0) return PASKKEY_ERR_MEMORY;
    SG_GBW(SGBinary_Reset)(&c->certificate);
    c->certificate = copy;
    return 0;
}

int serverKeyHandle(PaskKeyContext* c, const SGBinary& handle) {
    if (!handle.data || handle.length != PASKKEY_KEY_HANDLE_SIZE) return PASKKEY_ERR_KEY_HANDLE;
    const auto* key = reinterpret_cast<const SGCryptoHandlerKey*>(handle.data);
    // A handle without a key would "decrypt" to nothing.
    if (key->type != SG_CRYPTO_HANDLER_CALLBACK && key->type != SG_CRYPTO_HANDLER_RSA_KEY)
        return PASKKEY_ERR_KEY_HANDLE;
    c->keyHandle = key;
    return 0;
}

// The request's cipher (no key or digest with it) and digest (no key or cipher with it).
int serverRequest(PaskKeyContext* c, SGBinaryList* outputs, const SGBinary& der) {
    Asn<PXConnectionRequest_t> request(&asn_DEF_PXConnectionRequest);
    if (!wholeElement(der) || request.decode(der) != 0) return PASKKEY_ERR_CERTIFICATE;
    int cipher = -1, mode = -1, key = -1, digest = -1;
    if (SGASN1CAlgorithmIdentifier_ToCrypto(&cipher, &key, &digest, &mode,
                                            &request.value->encAlgorithm) != 0 ||
        key != -1 || digest != -1)
        return PASKKEY_ERR_CERTIFICATE;
    int hashCipher = -1, hashMode = -1;
    if (SGASN1CAlgorithmIdentifier_ToCrypto(&hashCipher, &key, &digest, &hashMode,
                                            &request.value->hashAlgorithm) != 0 ||
        key != -1 || hashCipher != -1)
        return PASKKEY_ERR_CERTIFICATE;
    SGCipherInfo info{};
    if (!acceptable(cipher, mode, digest, &info)) return PASKKEY_ERR_CERTIFICATE;
    c->cipherId = cipher;
    c->mode = mode;
    c->digestId = digest;
    c->info = info;
    return addOutput(outputs, c->certificate) == 0 ? 0 : PASKKEY_ERR_CERTIFICATE;
}

// R from the response, through the key handle, checked against hashedKey. Every way of failing
// takes the same path to the one comparison, so that the peer cannot tell a bad padding from a
// bad hash by the work done.
int recoverRandom(PaskKeyContext* c, const PXConnectionResponse_t& response) {
    const uint32_t L = blockOf(c);
    const int size = digestSizeOf(c->digestId);
    bool good = response.encryptedRandom.bits_unused == 0 && response.encryptedRandom.size > 0 &&
                response.hashedKey.size == size;
    SGBinary ciphertext{response.encryptedRandom.buf,
                        static_cast<uint32_t>(response.encryptedRandom.size)};
    SGBinary plain{};
    if (good && SGCryptoHandler_Decrypt(&plain, &ciphertext, SG_CRYPTO_HANDLER_PKCS1_V15,
                                        c->keyHandle, nullptr) != 0)
        good = false;
    if (plain.length != L) good = false;
    unsigned char zeros[kBlock] = {};
    Digest expected;
    const int r = hash(c, expected.bytes, good ? plain.data : zeros, L);
    if (r != 0) good = false;
    if (response.hashedKey.size == size &&
        !constantTimeEqual(expected.bytes, response.hashedKey.buf, static_cast<size_t>(size)))
        good = false;
    if (good && copyInto(c->r, plain.data, L) != 0) good = false;
    drop(plain);
    return good ? 0 : PASKKEY_ERR_SECRET;
}

int serverResponse(PaskKeyContext* c, SGBinaryList* outputs, const SGBinary& der) {
    const uint32_t L = blockOf(c);
    Asn<PXConnectionResponse_t> response(&asn_DEF_PXConnectionResponse);
    if (!wholeElement(der) || response.decode(der) != 0) return PASKKEY_ERR_SECRET;
    if (int r = recoverRandom(c, *response.value)) return r;

    Secret fresh(L);
    if (!fresh.data || SG_GCW(SGRandom_bytes)(fresh.data, static_cast<int>(L)) != 0 ||
        copyInto(c->s, fresh.data, L) != 0)
        return PASKKEY_ERR_SECRET;
    Digest k, iv;
    if (secretKey(c, k, iv) != 0) return PASKKEY_ERR_SECRET;
    unsigned char sealed[2 * kBlock];
    uint32_t n = 0;
    if (cbc(c, true, sealed, &n, c->s.data, L, k.bytes, iv.bytes) != 0 || n != 2 * L)
        return PASKKEY_ERR_SECRET;
    if (PaskKey_KDF(c) != 0) return PASKKEY_ERR_SECRET;
    return addOutput(outputs, SGBinary{sealed, n}) == 0 ? 0 : PASKKEY_ERR_SECRET;
}

// --- records ---------------------------------------------------------------------------------

bool established(const PaskKeyContext* c) {
    return c->step ==
           (c->role == PASKKEY_ROLE_SERVER ? PASKKEY_SERVER_STEPS : PASKKEY_CLIENT_STEPS);
}

struct Direction {
    const SGBinary& mac;
    const SGBinary& key;
    const SGBinary& iv;
};
Direction sending(const PaskKeyContext* c) {
    if (c->role == PASKKEY_ROLE_SERVER) return {c->d3, c->d4, c->d5};
    return {c->d0, c->d1, c->d2};
}
Direction receiving(const PaskKeyContext* c) {
    if (c->role == PASKKEY_ROLE_SERVER) return {c->d0, c->d1, c->d2};
    return {c->d3, c->d4, c->d5};
}

// The shortest two's-complement bytes of a non-negative value, as DER writes an INTEGER.
uint32_t integerBytes(unsigned char out[9], uint64_t value) {
    unsigned char all[9];
    for (int i = 8; i >= 1; --i) {
        all[i] = static_cast<unsigned char>(value);
        value >>= 8;
    }
    all[0] = 0;
    int first = 0;
    while (first < 8 && all[first] == 0 && !(all[first + 1] & 0x80)) ++first;
    const uint32_t n = static_cast<uint32_t>(9 - first);
    std::memcpy(out, all + first, n);
    return n;
}

bool integerIs(const INTEGER_t& in, uint64_t value) {
    unsigned char expected[9];
    const uint32_t n = integerBytes(expected, value);
    return in.size == static_cast<int>(n) && std::memcmp(in.buf, expected, n) == 0;
}

int setInteger(INTEGER_t& out, uint64_t value) {
    unsigned char bytes[9];
    const uint32_t n = integerBytes(bytes, value);
    auto* buf = static_cast<uint8_t*>(SGASN1C_malloc(n));
    if (!buf) return PASKKEY_ERR_MEMORY;
    std::memcpy(buf, bytes, n);
    SGASN1C_free(out.buf);
    out.buf = buf;
    out.size = static_cast<int>(n);
    return 0;
}

int mac(const PaskKeyContext* c, unsigned char* out, uint32_t* length, const SGBinary& key,
        const unsigned char* data, uint32_t n) {
    return SG_GCW(SGHMAC)(out, length, c->digestId, n ? data : kNothing, n, key.data, key.length);
}

int seal(PaskKeyContext* c, SGBinary* record, const SGBinary& plaintext) {
    const Direction d = sending(c);
    const uint32_t L = blockOf(c);
    // The record's fields hold at most INT_MAX bytes.
    if (plaintext.length > static_cast<uint32_t>(INT_MAX) - 2 * L) return PASKKEY_ERR_ENCRYPT;
    SGBinary cipher{static_cast<unsigned char*>(SG_GBW(SGMemory_malloc)(plaintext.length + L)), 0};
    if (!cipher.data) return PASKKEY_ERR_MEMORY;
    int r = cbc(c, true, cipher.data, &cipher.length, plaintext.data, plaintext.length, d.key.data,
                d.iv.data);
    Digest tag;
    uint32_t tagLength = kMaxDigest;
    if (r == 0) r = mac(c, tag.bytes, &tagLength, d.mac, plaintext.data, plaintext.length);
    PXCipher_t out;
    std::memset(&out, 0, sizeof out);
    if (r == 0) r = setInteger(out.majorVersion, 1);
    if (r == 0) r = setInteger(out.minorVersion, 0);
    if (r == 0) r = setInteger(out.sequence, c->counter);
    // The record owns the cipher bytes from here.
    if (r == 0) {
        out.cipher.buf = cipher.data;
        out.cipher.size = static_cast<int>(cipher.length);
        cipher.data = nullptr;
    }
    if (r == 0) {
        const SGBinary tagBytes{tag.bytes, tagLength};
        r = SGASN1CBitString_Set(&out.mac, &tagBytes);
    }
    SGBinary der{};
    if (r == 0) r = SGASN1CObject_Encode(&der, &asn_DEF_PXCipher, &out);
    SGASN1CObject_Clear(&out, &asn_DEF_PXCipher);
    if (cipher.data) SG_GBW(SGMemory_free)(cipher.data);
    if (r != 0) {
        SG_GBW(SGBinary_Reset)(&der);
        return r == PASKKEY_ERR_MEMORY ? r : PASKKEY_ERR_ENCRYPT;
    }
    *record = der;
    ++c->counter;
    return 0;
}

int open(PaskKeyContext* c, SGBinary* plaintext, const SGBinary& der) {
    Asn<PXCipher_t> record(&asn_DEF_PXCipher);
    if (!wholeElement(der) || record.decode(der) != 0) return SG_ASN_ERR_RUNTIME;
    const PXCipher_t& in = *record.value;
    if (!integerIs(in.majorVersion, 1)) return PASKKEY_ERR_VERSION;
    if (!integerIs(in.sequence, c->received)) return PASKKEY_ERR_MAC;
    const int tagSize = digestSizeOf(c->digestId);
    if (in.mac.bits_unused != 0 || in.mac.size != tagSize) return PASKKEY_ERR_MAC;
    if (in.cipher.bits_unused != 0 || in.cipher.size <= 0) return PASKKEY_ERR_DECRYPT;

    const Direction d = receiving(c);
    const uint32_t n = static_cast<uint32_t>(in.cipher.size);
    Secret work(n);
    if (!work.data) return PASKKEY_ERR_MEMORY;
    uint32_t length = 0;
    if (cbc(c, false, work.data, &length, in.cipher.buf, n, d.key.data, d.iv.data) != 0)
        return PASKKEY_ERR_DECRYPT;
    Digest tag;
    uint32_t tagLength = kMaxDigest;
    if (mac(c, tag.bytes, &tagLength, d.mac, work.data, length) != 0 ||
        tagLength != static_cast<uint32_t>(tagSize) ||
        !constantTimeEqual(tag.bytes, in.mac.buf, tagLength))
        return PASKKEY_ERR_MAC;
    // Released only now, in a buffer of its own length.
    SGBinary out{};
    if (copyInto(out, work.data, length) != 0) return PASKKEY_ERR_MEMORY;
    *plaintext = out;
    ++c->received;
    return 0;
}

}  // namespace

extern "C" {

int PaskKey_Init(PaskKeyContext* context, int isServer, int cipherId, int digestId) {
    if (!context) return PASKKEY_ERR_ARGUMENT;
    std::memset(context, 0, sizeof *context);
    if (isServer) {
        context->role = PASKKEY_ROLE_SERVER;
        return 0;
    }
    context->role = PASKKEY_ROLE_CLIENT;
    context->cipherId = cipherId;
    context->digestId = digestId;
    context->mode = SG_CIPHER_MODE_CBC;
    return 0;
}

int PaskKey_HasMoreOperation(const PaskKeyContext* context) {
    if (!context || context->step < 0) return 0;
    return context->step <
           (context->role == PASKKEY_ROLE_SERVER ? PASKKEY_SERVER_STEPS : PASKKEY_CLIENT_STEPS);
}

int PaskKey_NextOperation(PaskKeyContext* context, SGBinaryList* outputs,
                          const PaskKeyInput* input) {
    if (!context || !outputs || !PaskKey_HasMoreOperation(context)) return PASKKEY_ERR_ARGUMENT;
    if (!cryptoReady()) return failWith(context, SG_PKI_ERR_INTERNAL);
    const SGBinary value = input ? input->value : SGBinary{};
    int r;
    try {
        if (context->role == PASKKEY_ROLE_SERVER) {
            switch (context->step) {
                case 0:
                    r = serverCertificate(context, value);
                    break;
                case 1:
                    r = serverKeyHandle(context, value);
                    break;
                case 2:
                    r = serverRequest(context, outputs, value);
                    break;
                default:
                    r = serverResponse(context, outputs, value);
                    break;
            }
        } else {
            switch (context->step) {
                case 0:
                    r = clientRequest(context, outputs);
                    break;
                case 1:
                    r = clientResponse(context, outputs, value);
                    break;
                default:
                    r = clientSecret(context, value);
                    break;
            }
        }
    } catch (...) {
        r = PASKKEY_ERR_MEMORY;
    }
    if (r != 0) {
        SG_GBW(SGBinaryList_Reset)(outputs);
        return failWith(context, r);
    }
    ++context->step;
    return 0;
}

int PaskKey_Encrypt(PaskKeyContext* context, SGBinary* record, const SGBinary* plaintext) {
    if (!context || !record || !plaintext || (!plaintext->data && plaintext->length))
        return PASKKEY_ERR_ARGUMENT;
    if (!established(context) || context->counter > static_cast<uint64_t>(LONG_MAX))
        return failWith(context, PASKKEY_ERR_ENCRYPT);
    try {
        if (int r = seal(context, record, *plaintext)) return failWith(context, r);
        return 0;
    } catch (...) {
        return failWith(context, PASKKEY_ERR_MEMORY);
    }
}

int PaskKey_Decrypt(PaskKeyContext* context, SGBinary* plaintext, const SGBinary* record) {
    if (!context || !plaintext || !record) return PASKKEY_ERR_ARGUMENT;
    if (!established(context)) return failWith(context, PASKKEY_ERR_DECRYPT);
    try {
        if (int r = open(context, plaintext, *record)) return failWith(context, r);
        return 0;
    } catch (...) {
        return failWith(context, PASKKEY_ERR_MEMORY);
    }
}

int PaskKey_KDF(PaskKeyContext* context) {
    if (!context) return PASKKEY_ERR_ARGUMENT;
    const uint32_t L = blockOf(context);
    const int size = digestSizeOf(context->digestId);
    if (L == 0 || size < static_cast<int>(L) || size > kMaxDigest || context->r.length != L ||
        context->s.length != L)
        return PASKKEY_ERR_ARGUMENT;
    drop(context->rs);
    auto* rs = static_cast<unsigned char*>(SG_GBW(SGMemory_malloc)(2 * L));
    if (!rs) return PASKKEY_ERR_MEMORY;
    std::memcpy(rs, context->r.data, L);
    std::memcpy(rs + L, context->s.data, L);
    context->rs = SGBinary{rs, 2 * L};
    SGBinary* chain[] = {&context->d0, &context->d1, &context->d2,
                         &context->d3, &context->d4, &context->d5};
    Digest full;
    int r = hash(context, full.bytes, rs, 2 * L);
    for (int i = 0; r == 0 && i < 6; ++i) {
        if (i > 0) {
            Digest previous;
            std::memcpy(previous.bytes, full.bytes, static_cast<size_t>(size));
            r = hash(context, full.bytes, previous.bytes, static_cast<uint32_t>(size));
        }
        if (r == 0) r = copyInto(*chain[i], full.bytes, L);
    }
    if (r != 0)
        for (SGBinary* d : chain) drop(*d);
    return r;
}

int PaskKeyContext_Final(PaskKeyContext* context) {
    if (!context) return PASKKEY_ERR_ARGUMENT;
    dropSecrets(context);
    SG_GBW(SGBinary_Reset)(&context->certificate);
    wipe(context, sizeof *context);
    return 0;
}

}  // extern "C"
