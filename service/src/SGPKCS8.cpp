#include "SGPKCS8.h"

#include <climits>
#include <cstddef>
#include <cstring>

#include "EncryptedPrivateKeyInfo.h"
#include "PrivateKeyInfo.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGMemory.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"

static_assert(sizeof(SGPKCS8PrivateKeyInfo) == 48);
static_assert(offsetof(SGPKCS8PrivateKeyInfo, algorithm) == 8);
static_assert(offsetof(SGPKCS8PrivateKeyInfo, parameters) == 16);
static_assert(offsetof(SGPKCS8PrivateKeyInfo, privateKey) == 24);
static_assert(offsetof(SGPKCS8PrivateKeyInfo, randomNum) == 40);
static_assert(sizeof(SGPKCS8EncryptedPrivateKeyInfo) == 32);
static_assert(offsetof(SGPKCS8EncryptedPrivateKeyInfo, parameters) == 8);
static_assert(offsetof(SGPKCS8EncryptedPrivateKeyInfo, encryptedData) == 16);

namespace {

// Algorithm codes and the OID ids that carry them.
struct Algorithm {
    int code;
    int oidId;
};
constexpr Algorithm kAlgorithms[] = {
    {1, SG_OID_SEED_CBC},
    {2, SG_OID_KISA_PBE_SHA1_SEED},
    {3, SG_OID_PBES2},
    {4, 37},  // pbeWithSHAAnd128BitRC4
    {5, 38},  // pbeWithSHAAnd40BitRC4
    {6, SG_OID_PBE_SHA_3DES},
    {7, 40},  // pbeWithSHAAnd2-KeyTripleDES-CBC
    {8, 41},  // pbeWithSHAAnd128BitRC2-CBC
    {9, 42},  // pbewithSHAAnd40BitRC2-CBC
    {SG_PKCS8_ALGORITHM_RSA, SG_OID_RSA_ENCRYPTION},
    {SG_PKCS8_ALGORITHM_KCDSA, SG_OID_KCDSA},
    {SG_PKCS8_ALGORITHM_KCDSA2, SG_OID_KCDSA2},
};

int oidIdOfCode(int code) {
    for (const Algorithm& a : kAlgorithms)
        if (a.code == code) return a.oidId;
    return 0;
}

// The code of an AlgorithmIdentifier: 10003 for an identifier without one (also one outside
// the OID table).
int codeOf(int* code, const AlgorithmIdentifier_t* algorithm) {
    SGBinary contents{
        algorithm->algorithm.buf,
        algorithm->algorithm.size > 0 ? static_cast<uint32_t>(algorithm->algorithm.size) : 0};
    const int oidId = SGASNObjectID_Search(&contents);
    for (const Algorithm& a : kAlgorithms) {
        if (oidId != 0 && a.oidId == oidId) {
            *code = a.code;
            return 0;
        }
    }
    return SG_PKI_ERR_UNKNOWN_ALGORITHM;
}

void wipe(void* p, size_t n) {
    if (p && n) SG_GBW(SGMemory_cleanse)(p, n);
}

void wipeOctets(OCTET_STRING_t* s) {
    if (s->buf && s->size > 0) wipe(s->buf, static_cast<size_t>(s->size));
}

// A new SGBinary record holding a copy of the bytes; null without memory.
SGBinary* newCopy(const uint8_t* bytes, int size) {
    auto* record = static_cast<SGBinary*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGBinary)));
    if (!record) return nullptr;
    if (bytes && size > 0 &&
        SG_GBW(SGBinary_Set)(record, bytes, static_cast<uint32_t>(size)) != 0) {
        SG_GBW(SGMemory_free)(record);
        return nullptr;
    }
    return record;
}

// Overwrites and releases a record made by newCopy.
void releaseRecord(SGBinary*& record) {
    if (!record) return;
    SG_GBW(SGBinary_Cleanse)(record);
    SG_GBW(SGMemory_free)(record);
    record = nullptr;
}

// The parameters of an AlgorithmIdentifier: a copy the structure takes over (absent when there
// is none).
int setAlgorithm(AlgorithmIdentifier_t* out, int oidId, const SGBinary* parameters) {
    if (!parameters || !parameters->data || parameters->length == 0)
        return SGASN1CAlgorithmIdentifier_Set(out, oidId, nullptr);
    if (parameters->length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    SGBinary copy{};
    if (SG_GBW(SGBinary_Set)(&copy, parameters->data, parameters->length) != 0)
        return SG_PKI_ERR_MEMORY;
    const int result = SGASN1CAlgorithmIdentifier_Set(out, oidId, &copy);
    SG_GBW(SGBinary_Reset)(&copy);  // empty when taken over
    return result;
}

// Writes each encoded piece at the cursor of a buffer sized beforehand.
struct Cursor {
    unsigned char* at;
    size_t left;
};
int writePiece(const void* buffer, size_t size, void* key) {
    auto* c = static_cast<Cursor*>(key);
    if (size == 0) return 0;  // the runtime hands empty contents over as a null pointer
    if (size > c->left) return -1;
    std::memcpy(c->at, buffer, size);
    c->at += size;
    c->left -= size;
    return 0;
}

// DER of a structure that holds a key, into one buffer of the exact size: growing the output
// piece by piece would leave copies of the key behind in released memory.
int encodeSecret(SGBinary* out, asn_TYPE_descriptor_t* td, const void* structure) {
    SGASN1C_Prepare();
    const asn_enc_rval_t sized = der_encode(td, const_cast<void*>(structure), nullptr, nullptr);
    if (sized.encoded < 0 || sized.encoded > INT_MAX) return SG_ASN_ERR_RUNTIME;
    const size_t n = static_cast<size_t>(sized.encoded);
    auto* bytes = static_cast<unsigned char*>(SG_GBW(SGMemory_malloc)(n ? n : 1));
    if (!bytes) return SG_PKI_ERR_MEMORY;
    Cursor cursor{bytes, n};
    const asn_enc_rval_t written =
        der_encode(td, const_cast<void*>(structure), &writePiece, &cursor);
    if (written.encoded != sized.encoded || cursor.left != 0) {
        wipe(bytes, n);
        SG_GBW(SGMemory_free)(bytes);
        return SG_ASN_ERR_RUNTIME;
    }
    SG_GBW(SGBinary_Reset)(out);
    out->data = bytes;
    out->length = static_cast<uint32_t>(n);
    return 0;
}

// The randomNum attribute: one BIT STRING value with 0 unused bits.
int addRandomNum(PrivateKeyInfo_t* info, const SGBinary* random) {
    if (random->length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    BIT_STRING_t bits{};
    int result = SGASN1CBitString_Set(&bits, random);
    SGBinary value{};
    if (result == 0) result = SGASN1CObject_Encode(&value, &asn_DEF_BIT_STRING, &bits);
    SGASN1CObject_Clear(&bits, &asn_DEF_BIT_STRING);
    if (result != 0) return result;
    auto* attribute = static_cast<Attribute_t*>(SGASN1C_calloc(1, sizeof(Attribute_t)));
    auto* set = static_cast<Attributes_t*>(SGASN1C_calloc(1, sizeof(Attributes_t)));
    if (!attribute || !set) result = SG_PKI_ERR_MEMORY;
    if (result == 0) result = SGASN1CAttribute_Set(attribute, SG_OID_KISA_RANDOM_NUM, &value);
    if (result == 0) result = SGASN1CSet_Add(set, attribute);
    SG_GBW(SGBinary_Reset)(&value);
    if (result != 0) {
        if (attribute) SGASN1CObject_Free(attribute, &asn_DEF_Attribute);
        if (set) SGASN1CObject_Free(set, &asn_DEF_Attributes);
        return result;
    }
    info->attributes = set;
    return 0;
}

// Takes the randomNum of the attributes: the last value of the last randomNum attribute.
int readAttributes(SGPKCS8PrivateKeyInfo* out, const Attributes_t* attributes) {
    for (int i = 0; i < attributes->list.count; ++i) {
        const Attribute_t* attribute = attributes->list.array[i];
        if (!attribute) continue;
        SGBinary type{attribute->type.buf,
                      attribute->type.size > 0 ? static_cast<uint32_t>(attribute->type.size) : 0};
        const int oidId = SGASNObjectID_Search(&type);
        if (oidId == 0) return SG_ASN_ERR_UNKNOWN_OID;
        if (oidId != SG_OID_KISA_RANDOM_NUM) continue;
        for (int v = 0; v < attribute->values.list.count; ++v) {
            const AttributeValue_t* value = attribute->values.list.array[v];
            if (!value) continue;
            SGBinary encoded{value->buf, value->size > 0 ? static_cast<uint32_t>(value->size) : 0};
            void* bits = nullptr;
            if (SGASN1CObject_Decode(&bits, &asn_DEF_BIT_STRING, &encoded) != 0)
                return SG_ASN_ERR_RUNTIME;
            auto* decoded = static_cast<BIT_STRING_t*>(bits);
            SGBinary* copy = newCopy(decoded->buf, decoded->size);
            if (decoded->buf && decoded->size > 0)
                wipe(decoded->buf, static_cast<size_t>(decoded->size));
            SGASN1CObject_Free(decoded, &asn_DEF_BIT_STRING);
            if (!copy) return SG_PKI_ERR_MEMORY;
            releaseRecord(out->randomNum);  // an earlier value is replaced, not leaked
            out->randomNum = copy;
        }
    }
    return 0;
}

}  // namespace

extern "C" {

int SGPKCS8PrivateKeyInfo_Encode(SGBinary* out, const SGPKCS8PrivateKeyInfo* in) {
    if (!out || !in) return SG_PKI_ERR_ARGUMENT;
    try {
        const int oidId = oidIdOfCode(in->algorithm);
        if (oidId == 0) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
        if (in->privateKey.length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
        if (!in->privateKey.data && in->privateKey.length) return SG_PKI_ERR_ARGUMENT;
        PrivateKeyInfo_t info{};
        int result = asn_long2INTEGER(&info.version, in->version) == 0 ? 0 : SG_PKI_ERR_MEMORY;
        if (result == 0) result = setAlgorithm(&info.privateKeyAlgorithm, oidId, in->parameters);
        if (result == 0 && OCTET_STRING_fromBuf(&info.privateKey,
                                                reinterpret_cast<const char*>(in->privateKey.data),
                                                static_cast<int>(in->privateKey.length)) != 0)
            result = SG_PKI_ERR_MEMORY;
        if (result == 0 && in->randomNum) result = addRandomNum(&info, in->randomNum);
        if (result == 0) result = encodeSecret(out, &asn_DEF_PrivateKeyInfo, &info);
        wipeOctets(&info.privateKey);
        SGASN1CObject_Clear(&info, &asn_DEF_PrivateKeyInfo);
        if (result != 0) SG_GBW(SGBinary_Reset)(out);
        return result;
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS8PrivateKeyInfo_Decode(SGPKCS8PrivateKeyInfo* out, const SGBinary* der) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    std::memset(out, 0, sizeof *out);
    if (!der || !der->data || der->length == 0) return SG_PKI_ERR_ARGUMENT;
    try {
        void* decoded = nullptr;
        if (SGASN1CObject_Decode(&decoded, &asn_DEF_PrivateKeyInfo, der) != 0)
            return SG_ASN_ERR_RUNTIME;
        auto* info = static_cast<PrivateKeyInfo_t*>(decoded);
        int result = 0;
        long version = 0;
        if (asn_INTEGER2long(&info->version, &version) != 0) result = SG_ASN_ERR_RUNTIME;
        int code = 0;
        if (result == 0) result = codeOf(&code, &info->privateKeyAlgorithm);
        if (result == 0) {
            out->version = version;
            out->algorithm = code;
            if (const ANY_t* p = info->privateKeyAlgorithm.parameters) {
                out->parameters = newCopy(p->buf, p->size);
                if (!out->parameters) result = SG_PKI_ERR_MEMORY;
            }
        }
        if (result == 0 && info->privateKey.size > 0 &&
            SG_GBW(SGBinary_Set)(&out->privateKey, info->privateKey.buf,
                                 static_cast<uint32_t>(info->privateKey.size)) != 0)
            result = SG_PKI_ERR_MEMORY;
        if (result == 0 && info->attributes) result = readAttributes(out, info->attributes);
        wipeOctets(&info->privateKey);
        SGASN1CObject_Free(info, &asn_DEF_PrivateKeyInfo);
        return result;
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS8PrivateKeyInfo_Cleanse(SGPKCS8PrivateKeyInfo* info) {
    if (!info) return 0;
    SG_GBW(SGBinary_Cleanse)(&info->privateKey);
    releaseRecord(info->parameters);
    releaseRecord(info->randomNum);
    SG_GBW(SGMemory_cleanse)(info, sizeof *info);
    return 0;
}

int SGPKCS8EncryptedPrivateKeyInfo_Encode(SGBinary* out, const SGPKCS8EncryptedPrivateKeyInfo* in) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    // Emptied without release: the caller passes an empty record.
    out->data = nullptr;
    out->length = 0;
    if (!in) return SG_PKI_ERR_ARGUMENT;
    try {
        const int oidId = oidIdOfCode(in->algorithm);
        if (oidId == 0) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
        if (in->encryptedData.length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
        if (!in->encryptedData.data && in->encryptedData.length) return SG_PKI_ERR_ARGUMENT;
        EncryptedPrivateKeyInfo_t info{};
        int result = setAlgorithm(&info.encryptionAlgorithm, oidId, in->parameters);
        if (result == 0 &&
            OCTET_STRING_fromBuf(&info.encryptedData,
                                 reinterpret_cast<const char*>(in->encryptedData.data),
                                 static_cast<int>(in->encryptedData.length)) != 0)
            result = SG_PKI_ERR_MEMORY;
        if (result == 0)
            result = SGASN1CObject_Encode(out, &asn_DEF_EncryptedPrivateKeyInfo, &info);
        SGASN1CObject_Clear(&info, &asn_DEF_EncryptedPrivateKeyInfo);
        return result;
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS8EncryptedPrivateKeyInfo_Decode(SGPKCS8EncryptedPrivateKeyInfo* out,
                                          const SGBinary* der) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    std::memset(out, 0, sizeof *out);
    if (!der || !der->data || der->length == 0) return SG_PKI_ERR_ARGUMENT;
    try {
        void* decoded = nullptr;
        if (SGASN1CObject_Decode(&decoded, &asn_DEF_EncryptedPrivateKeyInfo, der) != 0)
            return SG_ASN_ERR_RUNTIME;
        auto* info = static_cast<EncryptedPrivateKeyInfo_t*>(decoded);
        int code = 0;
        int result = codeOf(&code, &info->encryptionAlgorithm);
        if (result == 0) {
            out->algorithm = code;
            if (const ANY_t* p = info->encryptionAlgorithm.parameters) {
                out->parameters = newCopy(p->buf, p->size);
                if (!out->parameters) result = SG_PKI_ERR_MEMORY;
            }
        }
        if (result == 0 && info->encryptedData.size > 0 &&
            SG_GBW(SGBinary_Set)(&out->encryptedData, info->encryptedData.buf,
                                 static_cast<uint32_t>(info->encryptedData.size)) != 0)
            result = SG_PKI_ERR_MEMORY;
        SGASN1CObject_Free(info, &asn_DEF_EncryptedPrivateKeyInfo);
        return result;
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS8EncryptedPrivateKeyInfo_Cleanse(SGPKCS8EncryptedPrivateKeyInfo* info) {
    if (!info) return 0;
    releaseRecord(info->parameters);
    SG_GBW(SGBinary_Cleanse)(&info->encryptedData);
    SG_GBW(SGMemory_cleanse)(info, sizeof *info);
    return 0;
}

}  // extern "C"
