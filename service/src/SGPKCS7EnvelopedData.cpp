#include "SGPKCS7EnvelopedData.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>

#include "ContentInfo.h"
#include "EncryptedContentInfo.h"
#include "EncryptedData.h"
#include "EnvelopedData.h"
#include "PBEParameter.h"
#include "PBKDF2-params.h"
#include "RecipientInfo.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGCipher.h"
#include "SGCipherStream.h"
#include "SGCryptoHandler.h"
#include "SGPKCS1.h"
#include "SGRSA.h"
#include "SGSimpleASN.h"
#include "SGStream.h"
#include "SGX509Certificate.h"
#include "SGMemory.h"
#include "SGDigest.h"
#include "SGPKCS5.h"
#include "SGPKCS7Internal.h"
#include "SGPKCS8.h"
#include "SGPKCSError.h"
#include "SGRandom.h"
#include "SGServiceInternal.h"

static_assert(sizeof(SGPKCS7EncryptedDataParameters) == 32);
static_assert(offsetof(SGPKCS7EncryptedDataParameters, iterations) == 8);
static_assert(offsetof(SGPKCS7EncryptedDataParameters, salt) == 16);
static_assert(sizeof(SGPKCS7EnvelopedDataParameters) == 40);
static_assert(offsetof(SGPKCS7EnvelopedDataParameters, iv) == 8);
static_assert(offsetof(SGPKCS7EnvelopedDataParameters, contentType) == 16);
static_assert(offsetof(SGPKCS7EnvelopedDataParameters, key) == 24);
static_assert(offsetof(SGPKCS7EnvelopedDataParameters, chunkSize) == 32);
static_assert(sizeof(SGPKCS7Recipient) == 16);

namespace {

using namespace brindlow::service::pkcs7;

bool badBinary(const SGBinary* b) {
    return !b || (!b->data && b->length) || b->length > INT_MAX;
}

// The salt of a PBEParameter DER; exactly 8 bytes, else 20904.
int saltOf(uint8_t salt[8], const SGBinary& parameters) {
    Owned<PBEParameter_t> decoded(nullptr, &asn_DEF_PBEParameter);
    if (decodeAs(&decoded, &asn_DEF_PBEParameter, parameters.data, parameters.length) != 0)
        return SG_ASN_ERR_RUNTIME;
    if (decoded.value->salt.size != SG_PKCS7_ENCRYPTED_DATA_SALT_LENGTH)
        return SG_ASN_ERR_MALFORMED;
    std::memcpy(salt, decoded.value->salt.buf, SG_PKCS7_ENCRYPTED_DATA_SALT_LENGTH);
    return 0;
}

template <typename F>
int guarded(F&& f) {
    try {
        return f();
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

constexpr uint8_t kDefaultKekIv[8] = {0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6};
// id-alg-PWRI-KEK, 1.2.840.113549.1.9.16.3.9 (not in the OID table).
constexpr uint8_t kPwriKek[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x10, 0x03, 0x09};

// One run of the cipher without padding over whole blocks: ECB single blocks for the RFC 3394
// wrap, CBC for the RFC 3211 wrap. out may be in.
int runBlocks(bool decrypt, int cipherId, const SGBinary& key, int mode, const uint8_t* iv,
              size_t ivLength, const uint8_t* in, size_t n, uint8_t* out) {
    if (ivLength > SG_CIPHER_IV_SIZE || n > UINT32_MAX - 64) return SG_PKI_ERR_ARGUMENT;
    auto* parameter =
        static_cast<SGCipherParameter*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGCipherParameter)));
    Secret work(n + 64);
    if (!parameter || !work.ok()) {
        SG_GBW(SGMemory_free)(parameter);
        return SG_PKI_ERR_MEMORY;
    }
    parameter->mode = mode;
    parameter->padding = SG_CIPHER_PADDING_NONE;
    if (ivLength) std::memcpy(parameter->iv, iv, ivLength);
    parameter->ivLength = static_cast<int>(ivLength);
    uint32_t produced = 0;
    int r = decrypt ? SG_GCW(SGCipher_Decrypt)(work.data(), &produced, in, static_cast<uint32_t>(n),
                                               key.data, key.length, cipherId, parameter)
                    : SG_GCW(SGCipher_Encrypt)(work.data(), &produced, in, static_cast<uint32_t>(n),
                                               key.data, key.length, cipherId, parameter);
    if (r == 0 && produced != n) r = SG_PKI_ERR_INTERNAL;
    if (r == 0) std::memcpy(out, work.data(), n);
    wipe(parameter, sizeof *parameter);
    SG_GBW(SGMemory_free)(parameter);
    return r;
}

int blockSizeOf(int cipherId, SGCipherInfo* info) {
    *info = SGCipherInfo{};
    return SG_GCW(SGCipher_GetInfo)(info, cipherId);
}

// CBC with PKCS #7 padding over a whole buffer into a new record.
int cbcPadded(bool decrypt, SGBinary* out, int cipherId, const SGBinary& key, const uint8_t* iv,
              size_t ivLength, const SGBinary& in) {
    SGCipherInfo info{};
    if (int r = blockSizeOf(cipherId, &info)) return r;
    if (ivLength > SG_CIPHER_IV_SIZE || in.length > UINT32_MAX - 64) return SG_PKI_ERR_ARGUMENT;
    auto* parameter =
        static_cast<SGCipherParameter*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGCipherParameter)));
    Secret work(static_cast<size_t>(in.length) + static_cast<size_t>(info.blockSize) + 32);
    if (!parameter || !work.ok()) {
        SG_GBW(SGMemory_free)(parameter);
        return SG_PKI_ERR_MEMORY;
    }
    parameter->mode = SG_CIPHER_MODE_CBC;
    parameter->padding = SG_CIPHER_PADDING_PKCS7;
    std::memcpy(parameter->iv, iv, ivLength);
    parameter->ivLength = static_cast<int>(ivLength);
    static const uint8_t kNothing = 0;
    uint32_t produced = 0;
    int r = decrypt
                ? SG_GCW(SGCipher_Decrypt)(work.data(), &produced, in.data ? in.data : &kNothing,
                                           in.length, key.data, key.length, cipherId, parameter)
                : SG_GCW(SGCipher_Encrypt)(work.data(), &produced, in.data ? in.data : &kNothing,
                                           in.length, key.data, key.length, cipherId, parameter);
    wipe(parameter, sizeof *parameter);
    SG_GBW(SGMemory_free)(parameter);
    if (r == 0 && produced > work.size()) r = SG_PKI_ERR_INTERNAL;
    if (r == 0) {
        SGBinary made{};
        if (produced && SG_GBW(SGBinary_Set)(&made, work.data(), produced) != 0)
            return SG_PKI_ERR_MEMORY;
        *out = made;
    }
    return r;
}

// The IV of a content cipher: the parameters are an OCTET STRING of exactly one block.
int ivOf(const uint8_t** iv, size_t* length, const SGBinary* parameters, int blockSize) {
    if (!parameters || !parameters->data) return SG_PKCS7_ERR_WRAP_LENGTH;
    SGPKCS7Element e;
    if (SGPKCS7Element_Read(&e, parameters->data, parameters->length) != 0 ||
        e.length != parameters->length || e.tag != 0x04 ||
        e.content != static_cast<size_t>(blockSize))
        return SG_PKCS7_ERR_WRAP_LENGTH;
    *iv = e.at + e.header;
    *length = e.content;
    return 0;
}

// The DER OCTET STRING of an IV.
int ivParameters(SGBinary* out, const uint8_t* iv, size_t length) {
    OCTET_STRING_t octets{};
    octets.buf = const_cast<uint8_t*>(iv);
    octets.size = static_cast<int>(length);
    return SGASN1CObject_Encode(out, &asn_DEF_OCTET_STRING, &octets) == 0 ? 0 : SG_ASN_ERR_ENCODE;
}

// Decrypts the record's content under the content key (its length checked by the caller).
int decryptContent(SGBinary* content, const SGPKCS7EncryptedContentInfo& record,
                   const SGBinary& key) {
    int cryptoId = 0;
    if (int r = SGPKCS7_GetCipherID(&cryptoId, record.cipherId)) return r;
    SGCipherInfo info{};
    if (int r = blockSizeOf(cryptoId, &info)) return r;
    const uint8_t* iv = nullptr;
    size_t ivLength = 0;
    if (int r = ivOf(&iv, &ivLength, record.parameters, info.blockSize)) return r;
    if (!record.encryptedContent) return SG_PKI_ERR_NO_DATA;
    SGBinary plain{};
    if (int r = cbcPadded(true, &plain, cryptoId, key, iv, ivLength, *record.encryptedContent))
        return r;
    SG_GBW(SGBinary_Cleanse)(content);
    *content = plain;
    return 0;
}

constexpr int kEnvelopeIvLength = 16;

// Cleanses and frees a record the library made, and nulls the pointer.
void releaseSecret(SGBinary*& record) {
    if (!record) return;
    SG_GBW(SGBinary_Cleanse)(record);
    SG_GBW(SGMemory_free)(record);
    record = nullptr;
}

// The digest of a PBKDF2 PRF: HMAC with SHA-1 (also when absent), SHA-224, -256, -384 or -512
// (1.2.840.113549.2.7 to .11); 0 for any other.
int hmacDigestOf(const AlgorithmIdentifier_t* prf) {
    if (!prf) return SG_DIGEST_SHA1;
    static constexpr uint8_t kHmac[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02};
    static constexpr int kDigests[] = {SG_DIGEST_SHA1, SG_DIGEST_SHA224, SG_DIGEST_SHA256,
                                       SG_DIGEST_SHA384, SG_DIGEST_SHA512};
    const OBJECT_IDENTIFIER_t& oid = prf->algorithm;
    if (oid.size != static_cast<int>(sizeof kHmac) + 1 ||
        std::memcmp(oid.buf, kHmac, sizeof kHmac) != 0)
        return 0;
    const int last = oid.buf[sizeof kHmac];
    return last >= 7 && last <= 11 ? kDigests[last - 7] : 0;
}

// The content key from the first RecipientInfo, of exactly the content cipher's key length.
int contentKeyOf(Secret* key, int cipherId, const RecipientInfos_t& infos,
                 const SGCryptoHandlerKey* recipientKey) {
    const int keyLength = SGPKCS7_GetKeyLength(cipherId);
    if (keyLength == 0) return SG_PKCS7_ERR_ALGORITHM;
    if (infos.list.count < 1 || !infos.list.array[0]) return SG_PKI_ERR_NO_DATA;
    if (!key->allocate(static_cast<size_t>(keyLength))) return SG_PKI_ERR_MEMORY;
    SGBinary view = key->view();
    return SGPKCS7EnvelopeData_GetContentEncryptionKey(&view, infos.list.array[0], recipientKey);
}

// The DER of an EnvelopedData of the content under the key and IV (SEED-CBC) for the
// certificate's holder; wrapped in a ContentInfo unless flag 0x04 asks for it bare.
int envelopeWith(SGBinary* der, const SGBinary& content, Secret& key, Secret& iv, int contentType,
                 const SGX509Certificate& certificate, int flags) {
    SGBinary ciphertext{}, ivDer{}, bare{};
    const SGBinary keyView = key.view();
    int r = cbcPadded(false, &ciphertext, SG_CIPHER_SEED, keyView, iv.data(), iv.size(), content);
    EnvelopedData_t enveloped{};
    if (r == 0) r = SGASN1CInteger_Set(&enveloped.version, 0) == 0 ? 0 : SG_PKI_ERR_MEMORY;
    if (r == 0) {
        auto* info = newStructure<RecipientInfo_t>();
        if (!info) r = SG_PKI_ERR_MEMORY;
        if (r == 0)
            r = SGPKCS7ASN1C_SetRecipientInfoUsingCertificate(info, &keyView, &certificate, nullptr,
                                                              flags & SG_PKCS7_ENVELOPE_BY_SUBJECT);
        if (r == 0 && SGASN1CSet_Add(&enveloped.recipientInfos, info) != 0) r = SG_PKI_ERR_MEMORY;
        if (r != 0 && info) SGASN1CObject_Free(info, &asn_DEF_RecipientInfo);
    }
    if (r == 0) r = ivParameters(&ivDer, iv.data(), iv.size());
    if (r == 0) {
        SGPKCS7EncryptedContentInfo record{contentType, SG_PKCS7_CIPHER_SEED_CBC, &ivDer,
                                           &ciphertext};
        r = SGPKCS7ASN1C_SetEncryptedContentInfo(&enveloped.encryptedContentInfo, &record);
    }
    if (r == 0 && SGASN1CObject_Encode(&bare, &asn_DEF_EnvelopedData, &enveloped) != 0)
        r = SG_ASN_ERR_ENCODE;
    SGASN1CObject_Clear(&enveloped, &asn_DEF_EnvelopedData);
    SG_GBW(SGBinary_Cleanse)(&ciphertext);
    SG_GBW(SGBinary_Reset)(&ivDer);
    if (r == 0 && !(flags & SG_PKCS7_ENVELOPE_BARE)) {
        SGPKCS7ContentInfo info{SG_PKCS7_ENVELOPED_DATA, &bare};
        SGBinary wrapped{};
        r = SGPKCS7ContentInfo_Encode(&wrapped, &info);
        SG_GBW(SGBinary_Reset)(&bare);
        bare = wrapped;
    }
    if (r == 0)
        *der = bare;
    else
        SG_GBW(SGBinary_Reset)(&bare);
    return r;
}

// A parsed tree released with the object.
struct Tree {
    SGSimpleASN root{};
    ~Tree() { SGSimpleASN_Reset(&root); }
};

// A stream stage released with the object.
struct Stage {
    SGStream stream{};
    ~Stage() { SGCipherStream_Reset(&stream); }
};

// The DER of a subtree (its value streams are read once).
int encodeNode(SGBinary* out, SGSimpleASN* node) {
    SGBinary der{};
    SGStream sink{};
    if (SG_GBW(SGStream_InitWithBinary)(&sink, &der) != 0) return SG_PKI_ERR_MEMORY;
    sink.mode = SG_STREAM_MODE_OUTPUT;
    int r = SGSimpleASN_Encode(&sink, node, 0);
    SG_GBW(SGStream_Reset)(&sink);
    if (r != 0) {
        SG_GBW(SGBinary_Reset)(&der);
        return r == SG_ASN_ERR_ENCODE ? SG_ASN_ERR_DECODE : r;
    }
    *out = der;
    return 0;
}

SGSimpleASN* childAt(SGSimpleASN* node, int index) {
    SGSimpleASN* c = node ? node->firstChild : nullptr;
    for (int i = 0; c && i < index; ++i) c = c->next;
    return c;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------------------------
// Key wraps.

int SGCMSKek_Wrap(SGBinary* out, const SGBinary* key, const SGBinary* kek, int cipherId,
                  const SGBinary* iv) {
    if (!out || !out->data || badBinary(key) || badBinary(kek) || !key->data)
        return SG_PKI_ERR_ARGUMENT;
    if (iv && (!iv->data || iv->length != 8)) return SG_PKI_ERR_ARGUMENT;
    if (key->length % 8 != 0 || key->length < 16) return SG_PKCS7_ERR_WRAP_LENGTH;
    if (out->length < key->length + 8u) return SG_PKI_ERR_OUT_OF_RANGE;
    return guarded([&]() -> int {
        SGCipherInfo info{};
        if (int r = blockSizeOf(cipherId, &info)) return r;
        if (info.blockSize != 16) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
        const size_t n = key->length / 8;
        Secret r8(8 * (n + 1));
        if (!r8.ok()) return SG_PKI_ERR_MEMORY;
        uint8_t* a = r8.data();
        std::memcpy(a, iv ? iv->data : kDefaultKekIv, 8);
        std::memcpy(a + 8, key->data, key->length);
        uint8_t b[16];
        for (size_t j = 0; j < 6; ++j)
            for (size_t i = 1; i <= n; ++i) {
                std::memcpy(b, a, 8);
                std::memcpy(b + 8, a + 8 * i, 8);
                if (int r = runBlocks(false, cipherId, *kek, SG_CIPHER_MODE_ECB, nullptr, 0, b, 16,
                                      b)) {
                    wipe(b, sizeof b);
                    return r;
                }
                uint64_t t = n * j + i;
                std::memcpy(a, b, 8);
                for (int k = 7; k >= 0; --k, t >>= 8) a[k] ^= static_cast<uint8_t>(t);
                std::memcpy(a + 8 * i, b + 8, 8);
            }
        wipe(b, sizeof b);
        std::memcpy(out->data, a, r8.size());
        out->length = static_cast<uint32_t>(r8.size());
        return 0;
    });
}

int SGCMSKek_UnWrap(SGBinary* out, const SGBinary* wrapped, const SGBinary* kek, int cipherId,
                    const SGBinary* iv) {
    if (!out || !out->data || badBinary(wrapped) || badBinary(kek) || !wrapped->data)
        return SG_PKI_ERR_ARGUMENT;
    if (iv && (!iv->data || iv->length != 8)) return SG_PKI_ERR_ARGUMENT;
    if (wrapped->length % 8 != 0 || wrapped->length < 24) return SG_PKCS7_ERR_WRAP_LENGTH;
    if (out->length < wrapped->length - 8u) return SG_PKI_ERR_OUT_OF_RANGE;
    return guarded([&]() -> int {
        SGCipherInfo info{};
        if (int r = blockSizeOf(cipherId, &info)) return r;
        if (info.blockSize != 16) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
        const size_t n = wrapped->length / 8 - 1;
        Secret r8(wrapped->length);
        if (!r8.ok()) return SG_PKI_ERR_MEMORY;
        uint8_t* a = r8.data();
        std::memcpy(a, wrapped->data, wrapped->length);
        uint8_t b[16];
        for (size_t j = 6; j-- > 0;)
            for (size_t i = n; i >= 1; --i) {
                uint64_t t = n * j + i;
                std::memcpy(b, a, 8);
                for (int k = 7; k >= 0; --k, t >>= 8) b[k] ^= static_cast<uint8_t>(t);
                std::memcpy(b + 8, a + 8 * i, 8);
                if (int r =
                        runBlocks(true, cipherId, *kek, SG_CIPHER_MODE_ECB, nullptr, 0, b, 16, b)) {
                    wipe(b, sizeof b);
                    return r;
                }
                std::memcpy(a, b, 8);
                std::memcpy(a + 8 * i, b + 8, 8);
            }
        wipe(b, sizeof b);
        uint8_t diff = 0;
        const uint8_t* expected = iv ? iv->data : kDefaultKekIv;
        for (int k = 0; k < 8; ++k) diff |= static_cast<uint8_t>(a[k] ^ expected[k]);
        if (diff) return SG_PKCS7_ERR_WRAP_CHECK;
        std::memcpy(out->data, a + 8, 8 * n);
        out->length = static_cast<uint32_t>(8 * n);
        return 0;
    });
}

int SGCMSPwri_Wrap(SGBinary* out, const SGBinary* key, const SGBinary* kek, int cipherId,
                   const SGCipherParameter* cipherParameters) {
    if (!out || !out->data || badBinary(key) || badBinary(kek) || !key->data || !cipherParameters)
        return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        SGCipherInfo info{};
        if (int r = blockSizeOf(cipherId, &info)) return r;
        const size_t b = static_cast<size_t>(info.blockSize);
        if (b == 0 || kek->length < static_cast<uint32_t>(info.minKeyLength) || key->length == 0 ||
            key->length > 255)
            return SG_PKCS7_ERR_WRAP_LENGTH;
        // At least two blocks, so that the unwrap can recover the inner IV.
        size_t total = (4 + key->length + b - 1) / b * b;
        if (total < 2 * b) total = 2 * b;
        if (out->length < total) return SG_PKI_ERR_OUT_OF_RANGE;
        Secret block(total);
        if (!block.ok()) return SG_PKI_ERR_MEMORY;
        uint8_t* p = block.data();
        if (int r = SG_GCW(SGRandom_bytes)(p, static_cast<int>(total))) return r;
        p[0] = static_cast<uint8_t>(key->length);
        std::memcpy(p + 4, key->data, key->length);
        for (int k = 0; k < 3; ++k) p[1 + k] = static_cast<uint8_t>(~p[4 + k]);
        const size_t ivLength = static_cast<size_t>(cipherParameters->ivLength);
        if (int r = runBlocks(false, cipherId, *kek, SG_CIPHER_MODE_CBC, cipherParameters->iv,
                              ivLength, p, total, p))
            return r;
        uint8_t last[SG_CIPHER_IV_SIZE];
        std::memcpy(last, p + total - b, b);
        if (int r = runBlocks(false, cipherId, *kek, SG_CIPHER_MODE_CBC, last, b, p, total, p))
            return r;
        std::memcpy(out->data, p, total);
        out->length = static_cast<uint32_t>(total);
        return 0;
    });
}

int SGCMSPwri_Unwrap(SGBinary* out, const SGBinary* wrapped, const SGBinary* kek, int cipherId,
                     const SGCipherParameter* cipherParameters) {
    if (!out || !out->data || badBinary(wrapped) || badBinary(kek) || !wrapped->data ||
        !cipherParameters)
        return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        SGCipherInfo info{};
        if (int r = blockSizeOf(cipherId, &info)) return r;
        const size_t b = static_cast<size_t>(info.blockSize), n = wrapped->length;
        if (b == 0 || kek->length < static_cast<uint32_t>(info.minKeyLength) || n < 2 * b ||
            n % b != 0)
            return SG_PKCS7_ERR_WRAP_LENGTH;
        Secret plain(n);
        if (!plain.ok()) return SG_PKI_ERR_MEMORY;
        uint8_t* p = plain.data();
        // The inner run's last block: the last block decrypted with the one before as IV.
        uint8_t innerLast[SG_CIPHER_IV_SIZE];
        if (int r = runBlocks(true, cipherId, *kek, SG_CIPHER_MODE_CBC, wrapped->data + n - 2 * b,
                              b, wrapped->data + n - b, b, innerLast))
            return r;
        int r =
            runBlocks(true, cipherId, *kek, SG_CIPHER_MODE_CBC, innerLast, b, wrapped->data, n, p);
        wipe(innerLast, sizeof innerLast);
        if (r == 0)
            r = runBlocks(true, cipherId, *kek, SG_CIPHER_MODE_CBC, cipherParameters->iv,
                          static_cast<size_t>(cipherParameters->ivLength), p, n, p);
        if (r != 0) return r;
        uint8_t check = 0;
        for (int k = 0; k < 3; ++k) check |= static_cast<uint8_t>(p[1 + k] ^ ~p[4 + k]);
        if (check || p[0] == 0 || p[0] > n - 4 || p[0] != out->length)
            return SG_PKCS7_ERR_WRAP_CHECK;
        std::memcpy(out->data, p + 4, p[0]);
        return 0;
    });
}

int SGPKCS7Common_CreateCipherParameters(int* pbeType, int cipherId) {
    if (!pbeType) return SG_PKI_ERR_ARGUMENT;
    if (cipherId < SG_PKCS7_PBE_SHA_RC4_128 || cipherId > SG_PKCS7_PBE_SHA_RC2_40)
        return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    // 108-113 are the PKCS #12 types 4-9 in the same order.
    *pbeType = SG_PBE_SHA_RC4_128 + (cipherId - SG_PKCS7_PBE_SHA_RC4_128);
    return 0;
}

int SGPKCS7EncryptedContentInfo_EncryptWithPassword(SGPKCS7EncryptedContentInfo* record,
                                                    const SGBinary* content,
                                                    const SGBinary* password, int cipherId,
                                                    int iterations, uint8_t salt[8]) {
    if (!record || badBinary(content) || badBinary(password) || !salt || iterations < 1)
        return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        SGPKCS5PBESParam param{};
        if (int r = SGPKCS7Common_CreateCipherParameters(&param.pbeType, cipherId)) return r;
        param.iterations = iterations;
        SGPKCS8EncryptedPrivateKeyInfo encrypted{};
        int r = SGPKCS5Encrypt(&encrypted, content->data, static_cast<int>(content->length),
                               password->data, static_cast<int>(password->length), &param);
        uint8_t drawn[SG_PKCS7_ENCRYPTED_DATA_SALT_LENGTH] = {};
        if (r == 0 && !encrypted.parameters) r = SG_PKI_ERR_INTERNAL;
        if (r == 0) r = saltOf(drawn, *encrypted.parameters);
        SGBinary* ciphertext = nullptr;
        if (r == 0) {
            ciphertext = newRecord(encrypted.encryptedData.data, encrypted.encryptedData.length);
            if (!ciphertext) r = SG_PKI_ERR_MEMORY;
        }
        if (r == 0) {
            SGPKCS7EncryptedContentInfo_Clear(record);
            record->contentType = SG_PKCS7_DATA;
            record->cipherId = cipherId;
            record->parameters = encrypted.parameters;
            encrypted.parameters = nullptr;
            record->encryptedContent = ciphertext;
            std::memcpy(salt, drawn, sizeof drawn);
        }
        SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&encrypted);
        return r;
    });
}

int SGPKCS7EncryptedContentInfo_DecryptWithPassword(SGBinary* content,
                                                    const SGPKCS7EncryptedContentInfo* record,
                                                    const SGBinary* password) {
    if (!content || !record || badBinary(password)) return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        int pbeType = 0;
        if (int r = SGPKCS7Common_CreateCipherParameters(&pbeType, record->cipherId)) return r;
        if (!record->parameters || !record->parameters->data || record->parameters->length == 0)
            return SG_PKCS7_ERR_NO_PBE_PARAMETERS;
        SGPKCS8EncryptedPrivateKeyInfo in{};
        in.algorithm = pbeType;
        in.parameters = record->parameters;
        if (const SGBinary* c = record->encryptedContent) in.encryptedData = *c;
        if (badBinary(&in.encryptedData)) return SG_PKI_ERR_ARGUMENT;
        SGBinary plain{};
        const uint32_t capacity = in.encryptedData.length ? in.encryptedData.length : 1;
        plain.data = static_cast<uint8_t*>(SG_GBW(SGMemory_calloc)(1, capacity));
        if (!plain.data) return SG_PKI_ERR_MEMORY;
        plain.length = capacity;
        int produced = 0;
        int r = SGPKCS5Decrypt(plain.data, &produced, &in, password->data,
                               static_cast<int>(password->length));
        if (r == 0) {
            SG_GBW(SGBinary_Cleanse)(content);
            if (produced > 0) {
                plain.length = static_cast<uint32_t>(produced);
                r = SG_GBW(SGBinary_Set)(content, plain.data, plain.length) == 0
                        ? 0
                        : SG_PKI_ERR_MEMORY;
            }
            plain.length = capacity;
        }
        SG_GBW(SGBinary_Cleanse)(&plain);
        return r;
    });
}

int SGPKCS7EncryptedData_Encrypt(SGBinary* out, const SGBinary* content, const SGBinary* password,
                                 void* unused, SGPKCS7EncryptedDataParameters* parameters) {
    (void)unused;
    if (!out || badBinary(content) || badBinary(password) || !parameters)
        return SG_PKI_ERR_ARGUMENT;
    const SGPKCS7EncryptedDataParameters given = *parameters;
    const int64_t iterations =
        given.iterations == 0 ? int64_t{SG_PKCS7_ENCRYPTED_DATA_ITERATIONS} : given.iterations;
    if (iterations < 1 || iterations > INT_MAX) return SG_PKI_ERR_ARGUMENT;
    int pbeType = 0;
    if (int r = SGPKCS7Common_CreateCipherParameters(&pbeType, given.cipherId)) return r;
    return guarded([&]() -> int {
        SGPKCS7EncryptedContentInfo record{};
        uint8_t salt[SG_PKCS7_ENCRYPTED_DATA_SALT_LENGTH] = {};
        int r = SGPKCS7EncryptedContentInfo_EncryptWithPassword(
            &record, content, password, given.cipherId, static_cast<int>(iterations), salt);
        EncryptedData_t encryptedData{};
        SGBinary der{};
        if (r == 0) r = SGASN1CInteger_Set(&encryptedData.version, 0) == 0 ? 0 : SG_PKI_ERR_MEMORY;
        if (r == 0)
            r = SGPKCS7ASN1C_SetEncryptedContentInfo(&encryptedData.encryptedContentInfo, &record);
        if (r == 0 && SGASN1CObject_Encode(&der, &asn_DEF_EncryptedData, &encryptedData) != 0)
            r = SG_ASN_ERR_ENCODE;
        SGASN1CObject_Clear(&encryptedData, &asn_DEF_EncryptedData);
        SGPKCS7EncryptedContentInfo_Clear(&record);
        if (r == 0) {
            // Only a salt buffer of the salt's own length is handed the new salt.
            if (parameters->salt.data &&
                parameters->salt.length == SG_PKCS7_ENCRYPTED_DATA_SALT_LENGTH)
                std::memcpy(parameters->salt.data, salt, sizeof salt);
            SG_GBW(SGBinary_Reset)(out);
            *out = der;
        }
        return r;
    });
}

int SGPKCS7EncryptedData_Decrypt(SGBinary* content, const EncryptedData_t* encryptedData,
                                 const SGBinary* password, void* unused) {
    (void)unused;
    if (!content || !encryptedData || badBinary(password)) return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        SGPKCS7EncryptedContentInfo record{};
        int r = SGPKCS7ASN1C_GetEncryptedContentInfo(&record, &encryptedData->encryptedContentInfo);
        if (r == 0) r = SGPKCS7EncryptedContentInfo_DecryptWithPassword(content, &record, password);
        SGPKCS7EncryptedContentInfo_Clear(&record);
        return r;
    });
}

// ---------------------------------------------------------------------------------------------
// Recipient infos.

int SGPKCS7ASN1C_SetRecipientInfoUsingCertificate(RecipientInfo_t* recipientInfo,
                                                  const SGBinary* contentKey,
                                                  const SGX509Certificate* certificate,
                                                  void* unused, int bySubject) {
    (void)unused;
    if (!recipientInfo || badBinary(contentKey) || !contentKey->data || !certificate ||
        !certificate->certificate)
        return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        int digestId = 0, kind = 0;
        if (int r =
                SGPKCS7_GetDigestIdAndEncryptionIdFromCertificate(&digestId, &kind, certificate))
            return r;
        if (kind != SG_PKCS7_KEY_RSA) return SG_PKCS7_ERR_ALGORITHM;
        int keyKind = 0;
        SGBinary bits{};
        if (SGX509Certificate_GetPublicKeyInfo(&keyKind, nullptr, &bits, nullptr, certificate) !=
                0 ||
            !bits.data || bits.length > INT_MAX)
            return SG_PKCS7_ERR_KEY;
        if (keyKind != SG_X509_KEY_RSA) return SG_PKCS7_ERR_PUBLIC_KEY_KIND;

        recipientInfo->present = RecipientInfo_PR_ktri;
        KeyTransRecipientInfo_t& ktri = recipientInfo->choice.ktri;
        ktri.rid.present = RecipientIdentifier_PR_issuerAndSerialNumber;
        if (SGASN1CInteger_Set(&ktri.version, 0) != 0) return SG_PKI_ERR_MEMORY;
        if (int r = SGPKCS7ASN1C_SetIssuerAndSerialNumber(&ktri.rid.choice.issuerAndSerialNumber,
                                                          certificate, bySubject))
            return r;
        if (SGASN1CAlgorithmIdentifier_Set(&ktri.keyEncryptionAlgorithm, SG_OID_RSA_ENCRYPTION,
                                           SG_ASN1C_NULL_PARAMETERS) != 0)
            return SG_PKI_ERR_MEMORY;

        auto* key =
            static_cast<SGRSAPublicKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGRSAPublicKey)));
        auto* p =
            static_cast<SGPKCS1Parameter*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGPKCS1Parameter)));
        int r = key && p ? 0 : SG_PKI_ERR_MEMORY;
        if (r == 0 &&
            SG_GCW(SGRSAPublicKey_Decode)(key, bits.data, static_cast<int>(bits.length)) != 0)
            r = SG_PKCS7_ERR_KEY;
        unsigned length = 0;
        uint8_t* encrypted = nullptr;
        if (r == 0) {
            p->encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
            p->hashId = digestId;
            p->publicKey = key;
            r = SG_GCW(SGPKCS1_Encrypt)(nullptr, &length, contentKey->data, contentKey->length, p);
            if (r == SG_PKCS1_ERR_OUTPUT_TOO_SHORT && length > 0) {
                encrypted = static_cast<uint8_t*>(SG_GBW(SGMemory_malloc)(length));
                r = encrypted ? SG_GCW(SGPKCS1_Encrypt)(encrypted, &length, contentKey->data,
                                                        contentKey->length, p)
                              : SG_PKI_ERR_MEMORY;
            } else if (r == 0) {
                r = SG_PKI_ERR_INTERNAL;
            }
        }
        if (r == 0 && SGASN1COctetString_SetFromBuf(&ktri.encryptedKey, encrypted,
                                                    static_cast<int>(length)) != 0)
            r = SG_PKI_ERR_MEMORY;
        if (encrypted) SG_GBW(SGMemory_free)(encrypted);
        if (key) {
            SG_GCW(SGRSAPublicKey_Free)(key);
            SG_GBW(SGMemory_free)(key);
        }
        if (p) {
            wipe(p, sizeof *p);
            SG_GBW(SGMemory_free)(p);
        }
        return r;
    });
}

int SGPKCS7ASN1C_SetRecipientInfoUsingPassword(RecipientInfo_t* recipientInfo,
                                               const SGBinary* contentKey,
                                               const SGBinary* password) {
    (void)recipientInfo;
    (void)contentKey;
    (void)password;
    return SG_PKI_ERR_NOT_IMPLEMENTED;
}

int SGPKCS7ASN1CKeyTransRecipientInfo_Get(SGBinary* contentKey,
                                          const SGCryptoHandlerKey* recipientKey,
                                          const KeyTransRecipientInfo_t* ktri) {
    if (!contentKey || !contentKey->data || !recipientKey || !ktri) return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        unsigned padding = 0;
        switch (oidIdOf(ktri->keyEncryptionAlgorithm.algorithm)) {
            case SG_OID_RSA_ENCRYPTION:
                padding = SG_CRYPTO_HANDLER_PKCS1_V15;
                break;
            case SG_OID_RSAES_OAEP: {
                // Only SHA-1 with MGF1-SHA-1: the parameters must be all defaults.
                const ANY_t* p = ktri->keyEncryptionAlgorithm.parameters;
                if (p && p->size > 2) return SG_PKI_ERR_NOT_IMPLEMENTED;
                padding = static_cast<unsigned>(SG_DIGEST_SHA1) << 16 | SG_CRYPTO_HANDLER_OAEP;
                break;
            }
            default:
                return SG_PKI_ERR_UNKNOWN_ALGORITHM;
        }
        if (ktri->encryptedKey.size <= 0) return SG_PKI_ERR_NO_DATA;
        SGBinary ciphertext{ktri->encryptedKey.buf, static_cast<uint32_t>(ktri->encryptedKey.size)};
        SGBinary plain{};
        int r = SGCryptoHandler_Decrypt(&plain, &ciphertext, padding, recipientKey, nullptr);
        // Exactly the content cipher's key: a shorter or longer plaintext is no key of it.
        if (r == 0 && plain.length != contentKey->length) r = SG_PKCS7_ERR_WRAP_LENGTH;
        if (r == 0) std::memcpy(contentKey->data, plain.data, plain.length);
        SG_GBW(SGBinary_Cleanse)(&plain);
        return r;
    });
}

int SGPKCS7ASN1CKEKRecipientInfo_Get(int* cipherId, SGBinary* contentKey,
                                     const SGCryptoHandlerKey* recipientKey,
                                     const KEKRecipientInfo_t* kekri) {
    if (!cipherId || !contentKey || !contentKey->data || !recipientKey || !kekri)
        return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        int crypto = -1;
        if (int r = SGASN1CAlgorithmIdentifier_ToCrypto(&crypto, nullptr, nullptr, nullptr,
                                                        &kekri->keyEncryptionAlgorithm))
            return r;
        if (crypto < 0) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
        if (kekri->encryptedKey.size <= 8 ||
            static_cast<uint32_t>(kekri->encryptedKey.size) - 8 != contentKey->length)
            return SG_PKCS7_ERR_WRAP_LENGTH;
        const SGBinary wrapped{kekri->encryptedKey.buf,
                               static_cast<uint32_t>(kekri->encryptedKey.size)};
        const SGBinary kek{const_cast<uint8_t*>(recipientKey->form.key.der),
                           recipientKey->form.key.length};
        if (!kek.data || kek.length == 0) return SG_PKI_ERR_ARGUMENT;
        *cipherId = crypto;
        return SGCMSKek_UnWrap(contentKey, &wrapped, &kek, crypto, nullptr);
    });
}

int SGPKCS7ASN1CPwriRecipientInfo_Get(int* cipherId, SGBinary* contentKey, const SGBinary* password,
                                      const PasswordRecipientInfo_t* pwri) {
    if (!cipherId || !contentKey || !contentKey->data || badBinary(password) || !pwri)
        return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        const AlgorithmIdentifier_t& outer = pwri->keyEncryptionAlgorithm;
        if (outer.algorithm.size != static_cast<int>(sizeof kPwriKek) ||
            std::memcmp(outer.algorithm.buf, kPwriKek, sizeof kPwriKek) != 0)
            return SG_PKI_ERR_UNKNOWN_ALGORITHM;
        if (!outer.parameters) return SG_ASN_ERR_MALFORMED;
        Owned<AlgorithmIdentifier_t> inner(nullptr, &asn_DEF_AlgorithmIdentifier);
        if (int r = decodeAs(&inner, &asn_DEF_AlgorithmIdentifier, outer.parameters->buf,
                             static_cast<size_t>(outer.parameters->size)))
            return r;
        int id = 0;
        SGBinary ivDer{};
        if (int r = SGPKCS7ASN1C_GetEncryptionAlgorithmIdentifier(&id, &ivDer, inner.value))
            return r;
        int crypto = 0;
        int r = SGPKCS7_GetKeyLength(id) == 0 ? SG_PKCS7_ERR_ALGORITHM
                                              : SGPKCS7_GetCipherID(&crypto, id);
        SGCipherInfo info{};
        if (r == 0) r = blockSizeOf(crypto, &info);
        const uint8_t* iv = nullptr;
        size_t ivLength = 0;
        if (r == 0) r = ivOf(&iv, &ivLength, &ivDer, info.blockSize);
        auto* parameter = r == 0 ? static_cast<SGCipherParameter*>(
                                       SG_GBW(SGMemory_calloc)(1, sizeof(SGCipherParameter)))
                                 : nullptr;
        if (r == 0 && !parameter) r = SG_PKI_ERR_MEMORY;
        if (r == 0) {
            parameter->mode = SG_CIPHER_MODE_CBC;
            parameter->padding = SG_CIPHER_PADDING_NONE;
            std::memcpy(parameter->iv, iv, ivLength);
            parameter->ivLength = static_cast<int>(ivLength);
        }
        SG_GBW(SGBinary_Reset)(&ivDer);
        // The key-encryption key: PBKDF2 of the named cipher's key length, or the password.
        Secret derived;
        SGBinary kek = *password;
        if (r == 0 && pwri->keyDerivationAlgorithm) {
            const AlgorithmIdentifier_t* kdf = pwri->keyDerivationAlgorithm;
            if (oidIdOf(kdf->algorithm) != SG_OID_PBKDF2) r = SG_PKCS7_ERR_KEY_DERIVATION;
            Owned<PBKDF2_params_t> params(nullptr, &asn_DEF_PBKDF2_params);
            if (r == 0 && !kdf->parameters) r = SG_ASN_ERR_MALFORMED;
            if (r == 0)
                r = decodeAs(&params, &asn_DEF_PBKDF2_params, kdf->parameters->buf,
                             static_cast<size_t>(kdf->parameters->size));
            long iterations = 0;
            if (r == 0 && (params.value->salt.present != PBKDF2_params__salt_PR_specified ||
                           SGASN1CInteger_Get(&iterations, &params.value->iterationCount) != 0 ||
                           iterations < 1 || iterations > SG_PKCS5_MAX_FILE_ITERATIONS))
                r = SG_ASN_ERR_MALFORMED;
            const int digestId = r == 0 ? hmacDigestOf(params.value->prf) : 0;
            if (r == 0 && digestId == 0) r = SG_PKI_ERR_UNKNOWN_ALGORITHM;
            const int keyLength = SGPKCS7_GetKeyLength(id);
            if (r == 0 && !derived.allocate(static_cast<size_t>(keyLength))) r = SG_PKI_ERR_MEMORY;
            if (r == 0) {
                const OCTET_STRING_t& salt = params.value->salt.choice.specified;
                static const uint8_t kNothing = 0;
                r = SGPBKDF2(derived.data(), password->data ? password->data : &kNothing,
                             static_cast<int>(password->length), salt.buf ? salt.buf : &kNothing,
                             salt.size, static_cast<int>(iterations), keyLength, digestId);
                kek = derived.view();
            }
        }
        const SGBinary wrapped{
            pwri->encryptedKey.buf,
            static_cast<uint32_t>(pwri->encryptedKey.size > 0 ? pwri->encryptedKey.size : 0)};
        if (r == 0 && !wrapped.data) r = SG_PKI_ERR_NO_DATA;
        if (r == 0) r = SGCMSPwri_Unwrap(contentKey, &wrapped, &kek, crypto, parameter);
        if (r == 0) *cipherId = crypto;
        if (parameter) {
            wipe(parameter, sizeof *parameter);
            SG_GBW(SGMemory_free)(parameter);
        }
        return r;
    });
}

int SGPKCS7EnvelopeData_GetContentEncryptionKey(SGBinary* key, const RecipientInfo_t* recipientInfo,
                                                const SGCryptoHandlerKey* recipientKey) {
    if (!key || !key->data || !recipientInfo) return SG_PKI_ERR_ARGUMENT;
    if (!recipientKey) return SG_PKCS7_ERR_NO_RECIPIENT_KEY;
    const int type = recipientKey->type;
    int cipherId = 0;
    switch (recipientInfo->present) {
        case RecipientInfo_PR_ktri:
            if (type != SG_CRYPTO_HANDLER_CALLBACK && type != SG_CRYPTO_HANDLER_RSA_KEY)
                return SG_PKCS7_ERR_RECIPIENT_KEY;
            return SGPKCS7ASN1CKeyTransRecipientInfo_Get(key, recipientKey,
                                                         &recipientInfo->choice.ktri);
        case RecipientInfo_PR_kekri:
            if (type != SG_PKCS7_RECIPIENT_KEY_KEK) return SG_PKCS7_ERR_RECIPIENT_KEY;
            return SGPKCS7ASN1CKEKRecipientInfo_Get(&cipherId, key, recipientKey,
                                                    &recipientInfo->choice.kekri);
        case RecipientInfo_PR_pwri: {
            if (type != SG_PKCS7_RECIPIENT_KEY_PASSWORD) return SG_PKCS7_ERR_RECIPIENT_KEY;
            const SGBinary password{const_cast<uint8_t*>(recipientKey->form.key.der),
                                    recipientKey->form.key.length};
            return SGPKCS7ASN1CPwriRecipientInfo_Get(&cipherId, key, &password,
                                                     &recipientInfo->choice.pwri);
        }
        default:
            return SG_PKI_ERR_NOT_IMPLEMENTED;
    }
}

// ---------------------------------------------------------------------------------------------
// EnvelopedData.

int SGPKCS7EnvelopedData_Envelope(SGBinary* out, const SGBinary* content, int cipherId,
                                  const SGPKCS7Recipient* recipient,
                                  SGPKCS7EnvelopedDataParameters* parameters) {
    if (!out || badBinary(content) || !recipient) return SG_PKI_ERR_ARGUMENT;
    // No password RecipientInfo is written: an envelope for one would open for no one.
    if (recipient->kind == SG_PKCS7_RECIPIENT_PASSWORD) return SG_PKI_ERR_NOT_IMPLEMENTED;
    if (recipient->kind != SG_PKCS7_RECIPIENT_CERTIFICATE) return SG_PKCS7_ERR_RECIPIENT_KIND;
    if (!recipient->certificate) return SG_PKI_ERR_ARGUMENT;
    const int keyLength = SGPKCS7_GetKeyLength(cipherId);
    if (keyLength == 0) return SG_PKCS7_ERR_ALGORITHM;
    if (keyLength != kEnvelopeIvLength) return SG_PKCS7_ERR_KEY_IV_LENGTH;
    if (cipherId != SG_PKCS7_CIPHER_SEED_CBC) return SG_PKCS7_ERR_ALGORITHM;
    const int flags = parameters ? parameters->flags : 0;
    const int contentType =
        parameters && parameters->contentType ? *parameters->contentType : SG_PKCS7_DATA;
    return guarded([&]() -> int {
        Secret key(keyLength), iv(kEnvelopeIvLength);
        if (!key.ok() || !iv.ok()) return SG_PKI_ERR_MEMORY;
        if (int r = SG_GCW(SGRandom_bytes)(key.data(), keyLength)) return r;
        if (int r = SG_GCW(SGRandom_bytes)(iv.data(), kEnvelopeIvLength)) return r;
        SGBinary der{};
        int r = envelopeWith(&der, *content, key, iv, contentType, *recipient->certificate, flags);
        SGBinary* keyCopy = nullptr;
        SGBinary* ivCopy = nullptr;
        if (r == 0 && (flags & SG_PKCS7_ENVELOPE_RETURN_KEY)) {
            keyCopy = newRecord(key.data(), key.size());
            ivCopy = newRecord(iv.data(), iv.size());
            if (!keyCopy || !ivCopy) r = SG_PKI_ERR_MEMORY;
        }
        if (r != 0) {
            releaseSecret(keyCopy);
            releaseSecret(ivCopy);
            SG_GBW(SGBinary_Reset)(&der);
            return r;
        }
        if (keyCopy) {
            parameters->key = keyCopy;
            parameters->iv = ivCopy;
        }
        SG_GBW(SGBinary_Reset)(out);
        *out = der;
        return 0;
    });
}

int SGPKCS7EnvelopedData_Deenvelope(SGBinary* content, const SGBinary* envelopedData,
                                    const SGCryptoHandlerKey* recipientKey,
                                    SGPKCS7EnvelopedDataParameters* parameters, void* unused1,
                                    void* unused2) {
    (void)unused1;
    (void)unused2;
    if (!content || !envelopedData || !envelopedData->data || envelopedData->length == 0)
        return SG_PKI_ERR_ARGUMENT;
    if (!recipientKey) return SG_PKCS7_ERR_NO_RECIPIENT_KEY;
    const int flags = parameters ? parameters->flags : 0;
    return guarded([&]() -> int {
        Owned<EnvelopedData_t> decoded(nullptr, &asn_DEF_EnvelopedData);
        if (flags & SG_PKCS7_ENVELOPE_BARE) {
            if (int r = decodeAs(&decoded, &asn_DEF_EnvelopedData, envelopedData->data,
                                 envelopedData->length))
                return r;
        } else {
            SGPKCS7ContentInfo info{};
            int r = SGPKCS7ContentInfo_Decode(&info, envelopedData);
            if (r == 0 && info.type != SG_PKCS7_ENVELOPED_DATA) r = SG_PKCS7_ERR_UNMATCHED_TYPE;
            if (r == 0 && !info.content) r = SG_PKI_ERR_NO_DATA;
            if (r == 0)
                r = decodeAs(&decoded, &asn_DEF_EnvelopedData, info.content->data,
                             info.content->length);
            SGPKCS7ContentInfo_Reset(&info);
            if (r != 0) return r;
        }
        SGPKCS7EncryptedContentInfo record{};
        int r = SGPKCS7ASN1C_GetEncryptedContentInfo(&record, &decoded.value->encryptedContentInfo);
        Secret key;
        if (r == 0)
            r = contentKeyOf(&key, record.cipherId, decoded.value->recipientInfos, recipientKey);
        SGBinary plain{};
        if (r == 0) r = decryptContent(&plain, record, key.view());
        SGBinary* keyCopy = nullptr;
        if (r == 0 && (flags & SG_PKCS7_ENVELOPE_RETURN_KEY)) {
            keyCopy = newRecord(key.data(), key.size());
            if (!keyCopy) r = SG_PKI_ERR_MEMORY;
        }
        SGPKCS7EncryptedContentInfo_Clear(&record);
        if (r != 0) {
            SG_GBW(SGBinary_Cleanse)(&plain);
            return r;
        }
        if (keyCopy) {
            releaseSecret(parameters->key);
            parameters->key = keyCopy;
        }
        SG_GBW(SGBinary_Cleanse)(content);
        *content = plain;
        return 0;
    });
}

int SGPKCS7EnvelopedDataParameters_Reset(SGPKCS7EnvelopedDataParameters* parameters) {
    if (!parameters) return SG_PKI_ERR_ARGUMENT;
    releaseSecret(parameters->key);
    if (parameters->flags & SG_PKCS7_ENVELOPE_RETURN_KEY) releaseSecret(parameters->iv);
    std::memset(parameters, 0, sizeof *parameters);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Stream forms.

int SGPKCS7EnvelopedData_EnvelopeStream(SGStream* output, SGStream* input, int cipherId,
                                        const SGPKCS7Recipient* recipient,
                                        SGPKCS7EnvelopedDataParameters* parameters) {
    if (!output || !input || !recipient || !parameters) return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        // The envelope of a placeholder gives the structure, the key and the IV.
        SGPKCS7EnvelopedDataParameters own = *parameters;
        own.flags |= SG_PKCS7_ENVELOPE_RETURN_KEY;
        own.key = own.iv = nullptr;
        static const uint8_t kPlaceholder[] = {'t', 'e', 's', 't'};
        const SGBinary placeholder{const_cast<uint8_t*>(kPlaceholder), sizeof kPlaceholder};
        SGBinary der{};
        int r = SGPKCS7EnvelopedData_Envelope(&der, &placeholder, cipherId, recipient, &own);
        if (r != 0) return r;
        int crypto = 0;
        r = SGPKCS7_GetCipherID(&crypto, cipherId);
        Stage stage;
        if (r == 0)
            r = SGCipherStream_GenerateForInput(
                &stage.stream, input, 1,
                static_cast<uint64_t>(parameters->chunkSize > 0 ? parameters->chunkSize : 0),
                crypto, own.key, own.iv);
        Tree tree;
        SGStream source{};
        if (r == 0 && SG_GBW(SGStream_InitWithBinary)(&source, &der) != 0) r = SG_PKI_ERR_MEMORY;
        if (r == 0) r = SGSimpleASN_Parse(&tree.root, &source);
        SGSimpleASN* last = &tree.root;
        while (r == 0 && last->firstChild) {
            last = last->firstChild;
            while (last->next) last = last->next;
        }
        if (r == 0) {
            // The encrypted content flows from the stage; the lengths follow from its count.
            SGStream* parsed = last->value;
            last->value = &stage.stream;
            r = SGSimpleASN_Update(&tree.root);
            if (r == 0)
                r = SGSimpleASN_Encode(
                    output, &tree.root,
                    parameters->chunkSize > 0 ? static_cast<uint32_t>(parameters->chunkSize) : 0);
            last->value = parsed;
        }
        SG_GBW(SGStream_Reset)(&source);
        SG_GBW(SGBinary_Reset)(&der);
        if (r == 0 && (parameters->flags & SG_PKCS7_ENVELOPE_RETURN_KEY)) {
            parameters->key = own.key;
            parameters->iv = own.iv;
        } else {
            releaseSecret(own.key);
            releaseSecret(own.iv);
        }
        return r;
    });
}

int SGPKCS7EnvelopedData_DeenvelopeStream(SGStream* output, SGStream* input,
                                          const SGCryptoHandlerKey* recipientKey,
                                          SGPKCS7EnvelopedDataParameters* parameters) {
    if (!output || !input) return SG_PKI_ERR_ARGUMENT;
    if (!recipientKey) return SG_PKCS7_ERR_NO_RECIPIENT_KEY;
    const int flags = parameters ? parameters->flags : 0;
    const uint32_t chunk =
        parameters && parameters->chunkSize > 0 ? static_cast<uint32_t>(parameters->chunkSize) : 0;
    return guarded([&]() -> int {
        Tree tree;
        if (SGSimpleASN_Parse(&tree.root, input) != 0) return SG_ASN_ERR_DECODE;
        SGSimpleASN* enveloped = &tree.root;
        if (!(flags & SG_PKCS7_ENVELOPE_BARE)) {
            // ContentInfo: the OID, then [0] holding the EnvelopedData.
            SGSimpleASN* type = childAt(&tree.root, 0);
            SGBinary oid{};
            if (!type || type->identifier != 0x06 || encodeNode(&oid, type) != 0)
                return SG_ASN_ERR_MALFORMED;
            static const uint8_t kEnvelopedOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                    0xF7, 0x0D, 0x01, 0x07, 0x03};
            const bool isEnveloped = oid.length == sizeof kEnvelopedOid &&
                                     std::memcmp(oid.data, kEnvelopedOid, oid.length) == 0;
            SG_GBW(SGBinary_Reset)(&oid);
            if (!isEnveloped) return SG_PKCS7_ERR_UNMATCHED_TYPE;
            enveloped = childAt(childAt(&tree.root, 1), 0);
        }
        if (!enveloped || !childAt(enveloped, 0)) return SG_ASN_ERR_MALFORMED;
        // version, [0] originatorInfo when present, recipientInfos, encryptedContentInfo.
        SGSimpleASN* at = childAt(enveloped, 1);
        if (at && at->tagClass == 2) at = at->next;
        SGSimpleASN* recipients = at;
        SGSimpleASN* eci = recipients ? recipients->next : nullptr;
        if (!recipients || !eci || !recipients->firstChild) return SG_ASN_ERR_MALFORMED;
        SGSimpleASN* algorithm = childAt(eci, 1);
        SGSimpleASN* encrypted = childAt(eci, 2);
        // The tags where the structure has them: version INTEGER, recipientInfos SET,
        // encryptedContentInfo SEQUENCE, its algorithm SEQUENCE and [0] IMPLICIT content.
        if (childAt(enveloped, 0)->identifier != 0x02 || recipients->identifier != 0x31 ||
            eci->identifier != 0x30 || !algorithm || algorithm->identifier != 0x30 || !encrypted ||
            encrypted->identifier != 0x80 || !encrypted->value)
            return SG_ASN_ERR_MALFORMED;

        // The algorithm and the first recipient, re-encoded and decoded.
        SGBinary algorithmDer{}, recipientDer{};
        int r = encodeNode(&algorithmDer, algorithm);
        if (r == 0) r = encodeNode(&recipientDer, recipients->firstChild);
        Owned<AlgorithmIdentifier_t> decodedAlgorithm(nullptr, &asn_DEF_AlgorithmIdentifier);
        Owned<RecipientInfo_t> recipient(nullptr, &asn_DEF_RecipientInfo);
        if (r == 0)
            r = decodeAs(&decodedAlgorithm, &asn_DEF_AlgorithmIdentifier, algorithmDer.data,
                         algorithmDer.length);
        if (r == 0)
            r = decodeAs(&recipient, &asn_DEF_RecipientInfo, recipientDer.data,
                         recipientDer.length);
        SG_GBW(SGBinary_Reset)(&algorithmDer);
        SG_GBW(SGBinary_Reset)(&recipientDer);
        if (r != 0) return r;
        int cipherId = 0, crypto = 0;
        SGBinary ivDer{};
        r = SGPKCS7ASN1C_GetEncryptionAlgorithmIdentifier(&cipherId, &ivDer,
                                                          decodedAlgorithm.value);
        if (r == 0 && SGPKCS7_GetKeyLength(cipherId) == 0) r = SG_PKCS7_ERR_ALGORITHM;
        if (r == 0) r = SGPKCS7_GetCipherID(&crypto, cipherId);
        SGCipherInfo info{};
        if (r == 0) r = blockSizeOf(crypto, &info);
        const uint8_t* iv = nullptr;
        size_t ivLength = 0;
        if (r == 0) r = ivOf(&iv, &ivLength, &ivDer, info.blockSize);
        Secret key;
        if (r == 0) {
            RecipientInfos_t one{};
            RecipientInfo_t* first = recipient.value;
            one.list.array = &first;
            one.list.count = 1;
            r = contentKeyOf(&key, cipherId, one, recipientKey);
        }
        // The encrypted content through a decrypting stage into the output.
        Stage stage;
        const SGBinary ivView{const_cast<uint8_t*>(iv), static_cast<uint32_t>(ivLength)};
        const SGBinary keyView = key.view();
        if (r == 0)
            r = SGCipherStream_GenerateForOutput(&stage.stream, output, 0, chunk, crypto, &keyView,
                                                 &ivView);
        SG_GBW(SGBinary_Reset)(&ivDer);
        if (r == 0) {
            const uint32_t piece = chunk ? chunk : uint32_t{SG_CIPHER_STREAM_CHUNK};
            auto* buffer = static_cast<uint8_t*>(SG_GBW(SGMemory_malloc)(piece));
            if (!buffer) r = SG_PKI_ERR_MEMORY;
            uint64_t remaining = encrypted->length;
            while (r == 0 && remaining > 0) {
                const auto k = static_cast<uint32_t>(std::min<uint64_t>(piece, remaining));
                r = SG_GBW(SGStream_Read)(buffer, k, encrypted->value) == 0 ? 0 : SG_ASN_ERR_DECODE;
                if (r == 0) r = SG_GBW(SGStream_Write)(buffer, k, &stage.stream);
                remaining -= k;
            }
            if (r == 0) r = SG_GBW(SGStream_Flush)(&stage.stream);
            if (buffer) SG_GBW(SGMemory_free)(buffer);
        }
        if (r == 0 && (flags & SG_PKCS7_ENVELOPE_RETURN_KEY)) {
            SGBinary* copy = newRecord(key.data(), key.size());
            if (!copy) return SG_PKI_ERR_MEMORY;
            releaseSecret(parameters->key);
            parameters->key = copy;
        }
        return r;
    });
}

}  // extern "C"
