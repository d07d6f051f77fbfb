#include "SGPKCS7.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "ContentInfo.h"
#include "DigestedData.h"
#include "EncapsulatedContentInfo.h"
#include "EncryptedContentInfo.h"
#include "EncryptedData.h"
#include "EnvelopedData.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGCipher.h"
#include "SGDigest.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGPKCS1.h"
#include "SGPKCS7Internal.h"
#include "SGPKCS7SignedData.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SignedAttributes.h"
#include "SignedData.h"
#include "SignerInfo.h"
#include "UnsignedAttributes.h"

static_assert(sizeof(SGPKCS7ContentInfo) == 16);
static_assert(offsetof(SGPKCS7ContentInfo, content) == 8);
static_assert(sizeof(SGPKCS7EncryptedContentInfo) == 24);
static_assert(offsetof(SGPKCS7EncryptedContentInfo, parameters) == 8);
static_assert(sizeof(SGPKCS7AttributeValue) == 24);
static_assert(offsetof(SGPKCS7AttributeValue, value) == 8);
static_assert(sizeof(SGPKCS7Attribute) == 40);
static_assert(offsetof(SGPKCS7Attribute, value) == 8);
static_assert(offsetof(SGPKCS7Attribute, next) == 32);

namespace {

using namespace brindlow::service::pkcs7;

constexpr int kDecode = SG_ASN_ERR_DECODE;
constexpr int kEncode = SG_ASN_ERR_ENCODE;

struct IdOid {
    int id;
    int oidId;
};

constexpr IdOid kContentTypes[] = {
    {SG_PKCS7_DATA, SG_OID_DATA},
    {SG_PKCS7_SIGNED_DATA, SG_OID_SIGNED_DATA},
    {SG_PKCS7_ENVELOPED_DATA, SG_OID_ENVELOPED_DATA},
    {SG_PKCS7_SIGNED_AND_ENVELOPED_DATA, SG_OID_SIGNED_AND_ENVELOPED_DATA},
    {SG_PKCS7_DIGESTED_DATA, SG_OID_DIGESTED_DATA},
    {SG_PKCS7_ENCRYPTED_DATA, SG_OID_ENCRYPTED_DATA},
};

constexpr IdOid kDigests[] = {
    {1, 98},  // MD2
    {SG_DIGEST_MD5, 99},
    {SG_DIGEST_SHA1, SG_OID_SHA1},
    {SG_DIGEST_SHA256, SG_OID_SHA256},
    {SG_DIGEST_SHA384, SG_OID_SHA384},
    {SG_DIGEST_SHA512, SG_OID_SHA512},
    {SG_DIGEST_HAS160, SG_OID_HAS160},
};

// Signature AlgorithmIdentifiers written for (key kind, digest id).
struct SignatureOid {
    int keyKind;
    int digestId;
    int oidId;
};
constexpr SignatureOid kSignatureWritten[] = {
    {SG_PKCS7_KEY_RSA, -1, SG_OID_RSA_ENCRYPTION},
    {SG_PKCS7_KEY_RSA, SG_PKCS7_DIGEST_NONE, SG_OID_RSA_ENCRYPTION},
    {SG_PKCS7_KEY_RSA, SG_DIGEST_SHA1, SG_OID_SHA1_WITH_RSA},
    {SG_PKCS7_KEY_RSA, SG_DIGEST_SHA224, SG_OID_SHA224_WITH_RSA},
    {SG_PKCS7_KEY_RSA, SG_DIGEST_SHA256, SG_OID_SHA256_WITH_RSA},
    {SG_PKCS7_KEY_KCDSA, SG_DIGEST_SHA1, 60},         // 1.2.410.200004.1.9
    {SG_PKCS7_KEY_KCDSA, SG_DIGEST_SHA224, 89},       // .1.40
    {SG_PKCS7_KEY_KCDSA, SG_DIGEST_SHA256, 76},       // .1.27
    {SG_PKCS7_KEY_KCDSA, SG_DIGEST_HAS160, 59},       // .1.8
    {SG_PKCS7_KEY_KCDSA, 9, 75},                      // .1.26
    {SG_PKCS7_KEY_KCDSA, SG_PKCS7_DIGEST_NONE, 52},   // .1.1
    {SG_PKCS7_KEY_KCDSA2, SG_DIGEST_SHA1, 72},        // .1.23
    {SG_PKCS7_KEY_KCDSA2, SG_DIGEST_SHA224, 90},      // .1.41
    {SG_PKCS7_KEY_KCDSA2, SG_DIGEST_SHA256, 87},      // .1.38
    {SG_PKCS7_KEY_KCDSA2, SG_DIGEST_HAS160, 71},      // .1.22
    {SG_PKCS7_KEY_KCDSA2, 9, 86},                     // .1.37
    {SG_PKCS7_KEY_KCDSA2, SG_PKCS7_DIGEST_NONE, 70},  // .1.21
};

// What a SignerInfo's signature algorithm reads as. Every identifier written above for the KCDSA
// kinds reads back as its kind; of the RSA signature identifiers only the SHA-2 ones are taken.
constexpr IdOid kEncryptionRead[] = {
    {SG_PKCS7_KEY_RSA, SG_OID_RSA_ENCRYPTION},
    {SG_PKCS7_KEY_RSA, SG_OID_SHA224_WITH_RSA},
    {SG_PKCS7_KEY_RSA, SG_OID_SHA256_WITH_RSA},
    {SG_PKCS7_KEY_RSA, SG_OID_SHA384_WITH_RSA},
    {SG_PKCS7_KEY_RSA, SG_OID_SHA512_WITH_RSA},
    {SG_PKCS7_KEY_KCDSA, 52},
    {SG_PKCS7_KEY_KCDSA, 59},
    {SG_PKCS7_KEY_KCDSA, 60},
    {SG_PKCS7_KEY_KCDSA, 75},
    {SG_PKCS7_KEY_KCDSA, 76},
    {SG_PKCS7_KEY_KCDSA, 89},
    {SG_PKCS7_KEY_KCDSA2, 70},
    {SG_PKCS7_KEY_KCDSA2, 71},
    {SG_PKCS7_KEY_KCDSA2, 72},
    {SG_PKCS7_KEY_KCDSA2, 86},
    {SG_PKCS7_KEY_KCDSA2, 87},
    {SG_PKCS7_KEY_KCDSA2, 90},
};

// Content and password-based cipher ids read from an AlgorithmIdentifier.
constexpr IdOid kCiphersRead[] = {
    {SG_PKCS7_CIPHER_SEED_CBC, SG_OID_SEED_CBC},
    {SG_PKCS7_CIPHER_DES_CBC, SG_OID_DES_CBC},
    {SG_PKCS7_CIPHER_DES_EDE3_CBC, SG_OID_DES_EDE3_CBC},
    {SG_PKCS7_CIPHER_AES128_CBC, SG_OID_AES128_CBC},
    {SG_PKCS7_CIPHER_AES192_CBC, SG_OID_AES192_CBC},
    {SG_PKCS7_CIPHER_AES256_CBC, SG_OID_AES256_CBC},
    {SG_PKCS7_PBE_SHA_RC4_128, 37},  // 1.2.840.113549.1.12.1.1
    {SG_PKCS7_PBE_SHA_RC4_40, 38},
    {SG_PKCS7_PBE_SHA_3DES, SG_OID_PBE_SHA_3DES},
    {SG_PKCS7_PBE_SHA_2DES, 40},
    {SG_PKCS7_PBE_SHA_RC2_128, 41},
    {SG_PKCS7_PBE_SHA_RC2_40, 42},
};

// Key kind of a certificate's public-key algorithm.
constexpr IdOid kPublicKeyKinds[] = {
    {SG_PKCS7_KEY_RSA, SG_OID_RSA_ENCRYPTION},
    {SG_PKCS7_KEY_RSA, SG_OID_MD2_WITH_RSA},
    {SG_PKCS7_KEY_RSA, SG_OID_MD5_WITH_RSA},
    {SG_PKCS7_KEY_RSA, SG_OID_SHA1_WITH_RSA},
    {SG_PKCS7_KEY_RSA, SG_OID_SHA256_WITH_RSA},
    {SG_PKCS7_KEY_RSA, SG_OID_SHA384_WITH_RSA},
    {SG_PKCS7_KEY_RSA, SG_OID_SHA512_WITH_RSA},
    {SG_PKCS7_KEY_KCDSA, 52},
    {SG_PKCS7_KEY_KCDSA, 59},
    {SG_PKCS7_KEY_KCDSA, 60},
    {SG_PKCS7_KEY_KCDSA2, 70},
    {SG_PKCS7_KEY_KCDSA2, 71},
    {SG_PKCS7_KEY_KCDSA2, 72},
};

// Digest id of a certificate's RSA signature algorithm.
constexpr IdOid kCertificateDigests[] = {
    {1, SG_OID_MD2_WITH_RSA},
    {SG_DIGEST_MD5, SG_OID_MD5_WITH_RSA},
    {SG_DIGEST_SHA1, SG_OID_SHA1_WITH_RSA},
    {SG_DIGEST_SHA256, SG_OID_SHA256_WITH_RSA},
    {SG_DIGEST_SHA384, SG_OID_SHA384_WITH_RSA},
    {SG_DIGEST_SHA512, SG_OID_SHA512_WITH_RSA},
};

template <size_t N>
int idOf(const IdOid (&table)[N], int oidId) {
    if (oidId == 0) return 0;
    for (const IdOid& row : table)
        if (row.oidId == oidId) return row.id;
    return 0;
}
template <size_t N>
int oidOf(const IdOid (&table)[N], int id) {
    for (const IdOid& row : table)
        if (row.id == id) return row.oidId;
    return 0;
}

asn_TYPE_descriptor_t* contentDescriptor(int type) {
    switch (type) {
        case SG_PKCS7_DATA:
            return &asn_DEF_OCTET_STRING;
        case SG_PKCS7_SIGNED_DATA:
            return &asn_DEF_SignedData;
        case SG_PKCS7_ENVELOPED_DATA:
            return &asn_DEF_EnvelopedData;
        case SG_PKCS7_DIGESTED_DATA:
            return &asn_DEF_DigestedData;
        case SG_PKCS7_ENCRYPTED_DATA:
            return &asn_DEF_EncryptedData;
        default:
            return nullptr;
    }
}

// True when the bytes are exactly one BER element.
bool oneElement(const uint8_t* bytes, size_t size) {
    SGPKCS7Element e;
    return bytes && size > 0 && SGPKCS7Element_Read(&e, bytes, size) == 0 && e.length == size;
}

// An attribute of one value, appended to the set; the value is a DER copy.
int appendAttribute(SignedAttributes_t* set, int oidId, const SGBinary& value) {
    Owned<Attribute_t> attribute(newStructure<Attribute_t>(), &asn_DEF_Attribute);
    if (!attribute.value) return SG_PKI_ERR_MEMORY;
    int r = SGASN1CAttribute_Set(attribute.value, oidId, &value);
    if (r == SG_ASN_ERR_FIELD_MEMORY || r == SG_PKI_ERR_MEMORY) return SG_PKI_ERR_MEMORY;
    if (r != 0) return kEncode;
    if (SGASN1CSet_Add(set, attribute.value) != 0) return SG_PKI_ERR_MEMORY;
    attribute.release();
    return 0;
}

int encodeValue(SGBinary* out, asn_TYPE_descriptor_t* type, const void* structure) {
    return SGASN1CObject_Encode(out, type, structure) == 0 ? 0 : kEncode;
}

// The hash messageDigest carries, by content mode.
int messageDigestOf(uint8_t* digest, unsigned* length, int digestId, int mode,
                    const uint8_t* content, size_t size) {
    const int digestSize = SG_GCW(SGDigest_GetDigestSize)(digestId);
    if (digestSize <= 0 || digestSize > 64) return SG_PKCS7_ERR_DIGEST;
    switch (mode) {
        case SG_PKCS7_MODE_MESSAGE:
            if (size > UINT32_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
            if (SG_GCW(SGDigest)(digest, digestId, content, static_cast<uint32_t>(size)) != 0)
                return SG_PKCS7_ERR_DIGEST;
            break;
        case SG_PKCS7_MODE_DIGEST_INFO: {
            unsigned hashLength = 0;
            if (int r = digestInfoHash(digest, &hashLength, digestId, content, size)) return r;
            break;
        }
        case SG_PKCS7_MODE_HASH:
            if (size != static_cast<size_t>(digestSize)) return SG_PKI_ERR_ARGUMENT;
            std::memcpy(digest, content, size);
            break;
        default:
            return SG_PKI_ERR_ARGUMENT;
    }
    *length = static_cast<unsigned>(digestSize);
    return 0;
}

// signingTime: UTCTime for the years 1950 to 2049, GeneralizedTime otherwise.
int signingTimeValue(SGBinary* out, time_t when) {
    if (when == 0) when = SG_GBW(SGOS_time)(nullptr);
    struct tm utc {};
    if (!gmtime_r(&when, &utc)) return kEncode;
    const int year = utc.tm_year + 1900;
    Time_t time{};
    int r;
    if (year >= 1950 && year < 2050) {
        time.present = Time_PR_utcTime;
        r = SGASN1CUTCTime_FromTm(&time.choice.utcTime, when, 0);
    } else {
        time.present = Time_PR_generalTime;
        r = SGASN1CGeneralizedTime_FromTm(&time.choice.generalTime, when, 0);
    }
    if (r == 0) r = encodeValue(out, &asn_DEF_Time, &time);
    SGASN1CObject_Clear(&time, &asn_DEF_Time);
    return r == 0 ? 0 : (r == SG_PKI_ERR_MEMORY ? r : kEncode);
}

int readElement(SGPKCS7Element* e, const uint8_t* p, size_t size, int depth) {
    if (size < 2) return kDecode;
    size_t i = 0;
    const unsigned first = p[i++];
    if ((first & 0x1F) == 0x1F) {
        // High tag number: base-128 octets, the last with bit 8 clear; more than four is no tag
        // this library reads.
        for (int n = 1;; ++n) {
            if (i >= size || n > 4) return kDecode;
            if (!(p[i++] & 0x80)) break;
        }
    }
    if (i >= size) return kDecode;
    const unsigned lengthOctet = p[i++];
    size_t content = 0;
    if (lengthOctet == 0x80) {
        // Indefinite: only constructed, ended by two zero octets after whole elements.
        if (!(first & 0x20) || depth >= 64) return kDecode;
        size_t at = i;
        for (;;) {
            if (size - at < 2) return kDecode;
            if (p[at] == 0 && p[at + 1] == 0) break;
            SGPKCS7Element child;
            if (readElement(&child, p + at, size - at, depth + 1) != 0) return kDecode;
            at += child.length;
        }
        e->at = p;
        e->tag = first;
        e->header = i;
        e->content = at - i;
        e->length = at + 2;
        return 0;
    }
    if (lengthOctet > 0x80) {
        const size_t n = lengthOctet & 0x7F;
        if (n > sizeof(size_t) || lengthOctet == 0xFF || size - i < n) return kDecode;
        for (size_t k = 0; k < n; ++k) {
            if (content >> (8 * (sizeof(size_t) - 1))) return kDecode;
            content = content << 8 | p[i++];
        }
    } else {
        content = lengthOctet;
    }
    if (content > size - i) return kDecode;
    e->at = p;
    e->tag = first;
    e->header = i;
    e->content = content;
    e->length = i + content;
    return 0;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------------------------
// ContentInfo and content.

int SGPKCS7ASN1C_SetContentType(OBJECT_IDENTIFIER_t* oid, int type) {
    if (!oid) return SG_PKI_ERR_ARGUMENT;
    const int oidId = oidOf(kContentTypes, type);
    if (oidId == 0) return SG_PKCS7_ERR_CONTENT_TYPE;
    const int r = SGASN1CObjectIdentifier_Set(oid, oidId);
    return r == 0 || r == SG_PKI_ERR_ARGUMENT ? r : SG_PKI_ERR_MEMORY;
}

int SGPKCS7ASN1C_GetContentType(int* type, const OBJECT_IDENTIFIER_t* oid) {
    if (!type || !oid) return SG_PKI_ERR_ARGUMENT;
    const int id = idOf(kContentTypes, oidIdOf(*oid));
    if (id == 0) return SG_PKCS7_ERR_CONTENT_TYPE;
    *type = id;
    return 0;
}

int SGPKCS7ASN1C_SetContentInfo(ContentInfo_t* contentInfo, const SGPKCS7ContentInfo* info) {
    if (!contentInfo || !info || !info->content) return SG_PKI_ERR_ARGUMENT;
    if (!oneElement(info->content->data, info->content->length)) return SG_PKI_ERR_ARGUMENT;
    if (int r = SGPKCS7ASN1C_SetContentType(&contentInfo->contentType, info->type)) return r;
    return SGASN1CAny_SetCopied(&contentInfo->content, info->content) == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

int SGPKCS7ASN1C_GetContentInfo(SGPKCS7ContentInfo* info, const ContentInfo_t* contentInfo) {
    if (!info || !contentInfo) return SG_PKI_ERR_ARGUMENT;
    int type = 0;
    if (int r = SGPKCS7ASN1C_GetContentType(&type, &contentInfo->contentType)) return r;
    SGBinary* content = nullptr;
    if (contentInfo->content.buf && contentInfo->content.size > 0) {
        content =
            newRecord(contentInfo->content.buf, static_cast<size_t>(contentInfo->content.size));
        if (!content) return SG_PKI_ERR_MEMORY;
    }
    freeRecord(info->content);
    info->type = type;
    info->content = content;
    return 0;
}

int SGPKCS7ContentInfo_Decode(SGPKCS7ContentInfo* info, const SGBinary* der) {
    if (!info || !der || !der->data || der->length == 0) return SG_PKI_ERR_ARGUMENT;
    try {
        void* decoded = nullptr;
        if (SGASN1CObject_Decode(&decoded, &asn_DEF_ContentInfo, der) != 0) return kDecode;
        Owned<ContentInfo_t> contentInfo(static_cast<ContentInfo_t*>(decoded),
                                         &asn_DEF_ContentInfo);
        return SGPKCS7ASN1C_GetContentInfo(info, contentInfo.value);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS7ContentInfo_Encode(SGBinary* der, const SGPKCS7ContentInfo* info) {
    if (!der || !info) return SG_PKI_ERR_ARGUMENT;
    try {
        ContentInfo_t contentInfo{};
        int r = SGPKCS7ASN1C_SetContentInfo(&contentInfo, info);
        SGBinary encoded{};
        if (r == 0) r = encodeValue(&encoded, &asn_DEF_ContentInfo, &contentInfo);
        SGASN1CObject_Clear(&contentInfo, &asn_DEF_ContentInfo);
        SG_GBW(SGBinary_Reset)(der);
        if (r == 0) *der = encoded;
        return r;
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS7Content_Encode(SGBinary* der, const void* structure, int type) {
    if (!der || !structure) return SG_PKI_ERR_ARGUMENT;
    asn_TYPE_descriptor_t* descriptor = contentDescriptor(type);
    if (!descriptor) return SG_PKCS7_ERR_CONTENT_TYPE;
    return encodeValue(der, descriptor, structure);
}

int SGPKCS7Content_Decode(void** structure, const SGBinary* der, int type) {
    if (!structure || *structure || !der) return SG_PKI_ERR_ARGUMENT;
    asn_TYPE_descriptor_t* descriptor = contentDescriptor(type);
    if (!descriptor) return SG_PKCS7_ERR_CONTENT_TYPE;
    return SGASN1CObject_Decode(structure, descriptor, der) == 0 ? 0 : kDecode;
}

int SGPKCS7Content_Reset(void** structure, int type) {
    if (!structure) return SG_PKI_ERR_ARGUMENT;
    asn_TYPE_descriptor_t* descriptor = contentDescriptor(type);
    if (!descriptor) return SG_PKCS7_ERR_CONTENT_TYPE;
    if (*structure) SGASN1CObject_Free(*structure, descriptor);
    *structure = nullptr;
    return 0;
}

int SGPKCS7ContentInfo_Set(SGPKCS7ContentInfo* info, const void* structure, int type) {
    if (!info || !structure) return SG_PKI_ERR_ARGUMENT;
    SGBinary der{};
    if (int r = SGPKCS7Content_Encode(&der, structure, type)) return r;
    auto* record = static_cast<SGBinary*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGBinary)));
    if (!record) {
        SG_GBW(SGBinary_Reset)(&der);
        return SG_PKI_ERR_MEMORY;
    }
    *record = der;
    freeRecord(info->content);
    info->content = record;
    info->type = type;
    return 0;
}

int SGPKCS7ContentInfo_Get(void** structure, int* type, const SGPKCS7ContentInfo* info) {
    if (!structure || !type || !info) return SG_PKI_ERR_ARGUMENT;
    *type = info->type;
    if (!info->content || !info->content->data) return 0;
    return SGPKCS7Content_Decode(structure, info->content, info->type);
}

int SGPKCS7ContentInfo_Reset(SGPKCS7ContentInfo* info) {
    if (!info) return SG_PKI_ERR_ARGUMENT;
    freeRecord(info->content);
    info->type = 0;
    return 0;
}

int SGPKCS7Data_Set(OCTET_STRING_t* octetString, const SGBinary* bytes) {
    if (!octetString || !bytes || (!bytes->data && bytes->length)) return SG_PKI_ERR_ARGUMENT;
    if (bytes->length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    static const uint8_t kNothing = 0;
    return SGASN1COctetString_SetFromBuf(octetString, bytes->data ? bytes->data : &kNothing,
                                         static_cast<int>(bytes->length)) == 0
               ? 0
               : SG_PKI_ERR_MEMORY;
}

int SGPKCS7Data_Get(SGBinary* bytes, const OCTET_STRING_t* octetString) {
    if (!bytes || !octetString) return SG_PKI_ERR_ARGUMENT;
    SG_GBW(SGBinary_Reset)(bytes);
    return SGASN1COctetString_GetCopiedData(bytes, octetString) == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

// ---------------------------------------------------------------------------------------------
// Algorithm identifiers.

int SGPKCS7ASN1C_SetDigestAlgorithmIdentifier(AlgorithmIdentifier_t* algorithm, int digestId,
                                              const SGBinary* parameters) {
    if (!algorithm) return SG_PKI_ERR_ARGUMENT;
    const int oidId = oidOf(kDigests, digestId);
    if (oidId == 0) return SG_PKCS7_ERR_DIGEST;
    if (!parameters || !parameters->data || parameters->length == 0)
        return SGASN1CAlgorithmIdentifier_Set(algorithm, oidId, SG_ASN1C_NULL_PARAMETERS) == 0
                   ? 0
                   : SG_PKI_ERR_MEMORY;
    if (!oneElement(parameters->data, parameters->length)) return SG_PKI_ERR_ARGUMENT;
    SGBinary copy{};
    if (SG_GBW(SGBinary_Copy)(&copy, parameters) != 0) return SG_PKI_ERR_MEMORY;
    const int r = SGASN1CAlgorithmIdentifier_Set(algorithm, oidId, &copy);
    SG_GBW(SGBinary_Reset)(&copy);  // empty when taken over
    return r == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

int SGPKCS7ASN1C_GetDigestAlgorithmIdentifier(int* digestId, void* unused,
                                              const AlgorithmIdentifier_t* algorithm) {
    (void)unused;
    if (!digestId || !algorithm) return SG_PKI_ERR_ARGUMENT;
    if (!algorithm->algorithm.buf || algorithm->algorithm.size <= 0) return SG_PKI_ERR_NO_DATA;
    if (const ANY_t* p = algorithm->parameters) {
        if (!p->buf || p->size <= 0) return SG_PKI_ERR_NO_DATA;
        if (!oneElement(p->buf, static_cast<size_t>(p->size))) return kDecode;
    }
    const int id = idOf(kDigests, oidIdOf(algorithm->algorithm));
    if (id == 0) return SG_PKCS7_ERR_DIGEST;
    *digestId = id;
    return 0;
}

int SGPKCS7ASN1C_SetAlgorithmIdentifier(AlgorithmIdentifier_t* algorithm, int keyKind, int digestId,
                                        const SGBinary* parameters) {
    if (!algorithm || keyKind < 0) return SG_PKI_ERR_ARGUMENT;
    if (keyKind != SG_PKCS7_KEY_RSA && keyKind != SG_PKCS7_KEY_KCDSA &&
        keyKind != SG_PKCS7_KEY_KCDSA2)
        return SG_PKCS7_ERR_ALGORITHM;
    int oidId = 0;
    for (const SignatureOid& row : kSignatureWritten)
        if (row.keyKind == keyKind && row.digestId == digestId) oidId = row.oidId;
    if (oidId == 0) return SG_PKCS7_ERR_DIGEST;
    SGBinary copy{};
    SGBinary* given = nullptr;
    if (parameters) {
        if (!parameters->data || parameters->length == 0) {
            given = SG_ASN1C_NULL_PARAMETERS;
        } else {
            if (!oneElement(parameters->data, parameters->length)) return SG_PKI_ERR_ARGUMENT;
            if (SG_GBW(SGBinary_Copy)(&copy, parameters) != 0) return SG_PKI_ERR_MEMORY;
            given = &copy;
        }
    }
    const int r = SGASN1CAlgorithmIdentifier_Set(algorithm, oidId, given);
    SG_GBW(SGBinary_Reset)(&copy);
    return r == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

int SGPKCS7ASN1C_GetEncryptionAlgorithmIdentifier(int* id, SGBinary* parameters,
                                                  const AlgorithmIdentifier_t* algorithm) {
    if (!id || !algorithm) return SG_PKI_ERR_ARGUMENT;
    const int oidId = oidIdOf(algorithm->algorithm);
    int found = idOf(kEncryptionRead, oidId);
    if (found == 0) found = idOf(kCiphersRead, oidId);
    if (found == 0) return SG_PKCS7_ERR_ALGORITHM;
    if (parameters) {
        parameters->data = nullptr;
        parameters->length = 0;
        const ANY_t* p = algorithm->parameters;
        const bool isNull = p && p->size == 2 && p->buf[0] == 0x05 && p->buf[1] == 0x00;
        if (p && p->buf && p->size > 0 && !isNull &&
            SG_GBW(SGBinary_Set)(parameters, p->buf, static_cast<uint32_t>(p->size)) != 0)
            return SG_PKI_ERR_MEMORY;
    }
    *id = found;
    return 0;
}

int SGPKCS7_GetSignatureID(int* keyKind, SGBinary* parameters,
                           const SGX509Certificate* certificate) {
    if (!keyKind || !certificate || !certificate->certificate) return SG_PKI_ERR_ARGUMENT;
    const AlgorithmIdentifier_t& algorithm =
        certificate->certificate->tbsCertificate.subjectPublicKeyInfo.algorithm;
    const int oidId = oidIdOf(algorithm.algorithm);
    if (oidId == 0) return SG_PKCS7_ERR_SIGNATURE_KIND;
    const int kind = idOf(kPublicKeyKinds, oidId);
    if (kind == 0) return SG_PKCS7_ERR_ALGORITHM;
    if (parameters) {
        parameters->data = nullptr;
        parameters->length = 0;
        const ANY_t* p = algorithm.parameters;
        if (p && p->buf && p->size > 0 &&
            SG_GBW(SGBinary_Set)(parameters, p->buf, static_cast<uint32_t>(p->size)) != 0)
            return SG_PKI_ERR_MEMORY;
    }
    *keyKind = kind;
    return 0;
}

int SGPKCS7_GetDigestIdAndEncryptionIdFromCertificate(int* digestId, int* keyKind,
                                                      const SGX509Certificate* certificate) {
    if (!digestId || !keyKind || !certificate || !certificate->certificate)
        return SG_PKI_ERR_ARGUMENT;
    const int oidId = oidIdOf(certificate->certificate->signatureAlgorithm.algorithm);
    if (oidId == 0) return SG_PKCS7_ERR_SIGNATURE_KIND;
    if (const int digest = idOf(kCertificateDigests, oidId)) {
        *digestId = digest;
        *keyKind = SG_PKCS7_KEY_RSA;
        return 0;
    }
    if (oidId == SG_OID_KCDSA || oidId == SG_OID_KCDSA2) {
        *keyKind = oidId == SG_OID_KCDSA ? SG_PKCS7_KEY_KCDSA : SG_PKCS7_KEY_KCDSA2;
        return SG_PKCS7_ERR_DIGEST;
    }
    return SG_PKCS7_ERR_ALGORITHM;
}

int SGPKCS7ASN1C_SetIssuerAndSerialNumber(IssuerAndSerialNumber_t* issuerAndSerial,
                                          const SGX509Certificate* certificate, int bySubject) {
    if (!issuerAndSerial || !certificate || !certificate->certificate) return SG_PKI_ERR_ARGUMENT;
    const TBSCertificate_t& tbs = certificate->certificate->tbsCertificate;
    int r = SGASN1CObject_Copy(&issuerAndSerial->issuer, bySubject ? &tbs.subject : &tbs.issuer,
                               &asn_DEF_Name);
    if (r == 0)
        r = SGASN1CObject_Copy(&issuerAndSerial->serialNumber, &tbs.serialNumber,
                               &asn_DEF_CertificateSerialNumber);
    return r == 0 ? 0 : kEncode;
}

// ---------------------------------------------------------------------------------------------
// Content encryption.

int SGPKCS7_GetKeyLength(int cipherId) {
    switch (cipherId) {
        case SG_PKCS7_CIPHER_SEED_CBC:
        case SG_PKCS7_CIPHER_AES128_CBC:
            return 16;
        case SG_PKCS7_CIPHER_DES_CBC:
            return 8;
        case SG_PKCS7_CIPHER_DES_EDE3_CBC:
        case SG_PKCS7_CIPHER_AES192_CBC:
            return 24;
        case SG_PKCS7_CIPHER_AES256_CBC:
            return 32;
        default:
            return 0;
    }
}

int SGPKCS7_GetCipherID(int* cryptoCipherId, int cipherId) {
    if (!cryptoCipherId) return SG_PKI_ERR_ARGUMENT;
    static constexpr IdOid kCrypto[] = {
        {SG_PKCS7_CIPHER_SEED_CBC, SG_CIPHER_SEED},
        {SG_PKCS7_CIPHER_DES_CBC, SG_CIPHER_DES},
        {SG_PKCS7_CIPHER_DES_EDE3_CBC, SG_CIPHER_TDES},
        {SG_PKCS7_CIPHER_AES128_CBC, SG_CIPHER_AES128},
        {SG_PKCS7_CIPHER_AES192_CBC, SG_CIPHER_AES192},
        {SG_PKCS7_CIPHER_AES256_CBC, SG_CIPHER_AES256},
        {SG_PKCS7_CIPHER_RC2_CBC, SG_CIPHER_RC2},
    };
    for (const IdOid& row : kCrypto)
        if (row.id == cipherId) {
            *cryptoCipherId = row.oidId;
            return 0;
        }
    return SG_PKCS7_ERR_ALGORITHM;
}

int SGPKCS7ASN1C_SetEncryptedContentInfo(EncryptedContentInfo_t* eci,
                                         const SGPKCS7EncryptedContentInfo* record) {
    if (!eci || !record) return SG_PKI_ERR_ARGUMENT;
    if (int r = SGPKCS7ASN1C_SetContentType(&eci->contentType, record->contentType)) return r;
    if (record->cipherId < 0) return SG_PKI_ERR_ARGUMENT;
    const bool written = record->cipherId == SG_PKCS7_CIPHER_SEED_CBC ||
                         (record->cipherId >= SG_PKCS7_PBE_SHA_RC4_128 &&
                          record->cipherId <= SG_PKCS7_PBE_SHA_RC2_40);
    if (!written) return SG_PKCS7_ERR_ALGORITHM;
    const SGBinary* p = record->parameters;
    SGBinary copy{};
    if (p && p->data && p->length > 0) {
        if (!oneElement(p->data, p->length)) return SG_PKI_ERR_ARGUMENT;
        if (SG_GBW(SGBinary_Copy)(&copy, p) != 0) return SG_PKI_ERR_MEMORY;
    }
    int r = SGASN1CAlgorithmIdentifier_Set(&eci->contentEncryptionAlgorithm,
                                           oidOf(kCiphersRead, record->cipherId),
                                           copy.data ? &copy : nullptr);
    SG_GBW(SGBinary_Reset)(&copy);
    if (r != 0) return SG_PKI_ERR_MEMORY;
    if (const SGBinary* c = record->encryptedContent; c && (c->data || c->length == 0)) {
        if (c->length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
        auto* octets = newStructure<OCTET_STRING_t>();
        static const uint8_t kNothing = 0;
        if (!octets || SGASN1COctetString_SetFromBuf(octets, c->data ? c->data : &kNothing,
                                                     static_cast<int>(c->length)) != 0) {
            if (octets) SGASN1CObject_Free(octets, &asn_DEF_OCTET_STRING);
            return SG_PKI_ERR_MEMORY;
        }
        if (eci->encryptedContent) SGASN1CObject_Free(eci->encryptedContent, &asn_DEF_OCTET_STRING);
        eci->encryptedContent = octets;
    }
    return 0;
}

int SGPKCS7ASN1C_GetEncryptedContentInfo(SGPKCS7EncryptedContentInfo* record,
                                         const EncryptedContentInfo_t* eci) {
    if (!record || !eci) return SG_PKI_ERR_ARGUMENT;
    int type = 0, cipherId = 0;
    if (int r = SGPKCS7ASN1C_GetContentType(&type, &eci->contentType)) return r;
    const int found = idOf(kCiphersRead, oidIdOf(eci->contentEncryptionAlgorithm.algorithm));
    if (found == 0) return SG_PKCS7_ERR_ALGORITHM;
    cipherId = found;
    SGBinary* parameters = nullptr;
    SGBinary* content = nullptr;
    if (const ANY_t* p = eci->contentEncryptionAlgorithm.parameters; p && p->buf && p->size > 0) {
        parameters = newRecord(p->buf, static_cast<size_t>(p->size));
        if (!parameters) return SG_PKI_ERR_MEMORY;
    }
    if (const OCTET_STRING_t* c = eci->encryptedContent) {
        content = newRecord(c->buf, c->size > 0 ? static_cast<size_t>(c->size) : 0);
        if (!content) {
            freeRecord(parameters);
            return SG_PKI_ERR_MEMORY;
        }
    }
    SGPKCS7EncryptedContentInfo_Clear(record);
    record->contentType = type;
    record->cipherId = cipherId;
    record->parameters = parameters;
    record->encryptedContent = content;
    return 0;
}

int SGPKCS7EncryptedContentInfo_Clear(SGPKCS7EncryptedContentInfo* record) {
    if (!record) return SG_PKI_ERR_ARGUMENT;
    for (SGBinary** b : {&record->parameters, &record->encryptedContent}) {
        if (!*b) continue;
        SG_GBW(SGBinary_Cleanse)(*b);
        SG_GBW(SGMemory_free)(*b);
        *b = nullptr;
    }
    record->contentType = 0;
    record->cipherId = 0;
    return 0;
}

int SGPKCS7EncryptedContentInfo_Reset(SGPKCS7EncryptedContentInfo* record) {
    return SGPKCS7EncryptedContentInfo_Clear(record);
}

// ---------------------------------------------------------------------------------------------
// Attributes.

int SGPKCS7ASN1C_SetSignedAttributes(SignerInfo_t* signerInfo,
                                     const EncapsulatedContentInfo_t* content,
                                     const SGPKCS7SignedDataParameters* options) {
    if (!signerInfo || !content || !options) return SG_PKI_ERR_ARGUMENT;
    try {
        int digestId = 0;
        if (int r = SGPKCS7ASN1C_GetDigestAlgorithmIdentifier(&digestId, nullptr,
                                                              &signerInfo->digestAlgorithm))
            return r;
        const OCTET_STRING_t* octets = content->eContent;
        uint8_t digest[64];
        unsigned digestLength = 0;
        if (int r = messageDigestOf(digest, &digestLength, digestId, options->contentMode,
                                    octets ? octets->buf : nullptr,
                                    octets && octets->size > 0 ? octets->size : 0))
            return r;

        Owned<SignedAttributes_t> set(newStructure<SignedAttributes_t>(),
                                      &asn_DEF_SignedAttributes);
        if (!set.value) return SG_PKI_ERR_MEMORY;
        SGBinary value{};
        // contentType: the encapsulated content's type.
        int r = encodeValue(&value, &asn_DEF_OBJECT_IDENTIFIER, &content->eContentType);
        if (r == 0) r = appendAttribute(set.value, SG_OID_CONTENT_TYPE, value);
        // messageDigest.
        if (r == 0) {
            OCTET_STRING_t octetString{};
            octetString.buf = digest;
            octetString.size = static_cast<int>(digestLength);
            r = encodeValue(&value, &asn_DEF_OCTET_STRING, &octetString);
        }
        if (r == 0) r = appendAttribute(set.value, SG_OID_MESSAGE_DIGEST, value);
        // signingTime.
        if (r == 0) r = signingTimeValue(&value, options->signingTime ? *options->signingTime : 0);
        if (r == 0) r = appendAttribute(set.value, SG_OID_SIGNING_TIME, value);
        SG_GBW(SGBinary_Reset)(&value);
        if (r != 0) return r;
        if (signerInfo->signedAttrs)
            SGASN1CObject_Free(signerInfo->signedAttrs, &asn_DEF_SignedAttributes);
        signerInfo->signedAttrs = set.release();
        return 0;
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS7ASN1CUnsignedAttributes_Set(UnsignedAttributes_t* attributes,
                                       const SGPKCS7Attribute* list) {
    if (!attributes) return SG_PKI_ERR_ARGUMENT;
    for (const SGPKCS7Attribute* entry = list; entry; entry = entry->next) {
        Owned<Attribute_t> attribute(newStructure<Attribute_t>(), &asn_DEF_Attribute);
        if (!attribute.value) return SG_PKI_ERR_MEMORY;
        if (!entry->type ||
            SGASN1CObjectIdentifier_FromString(entry->type, &attribute.value->type) != 0)
            return SG_PKI_ERR_INTERNAL;
        for (const SGPKCS7AttributeValue* v = &entry->value; v; v = v->next) {
            if (!oneElement(v->value.data, v->value.length) || v->value.length > INT_MAX)
                return SG_PKI_ERR_ARGUMENT;
            auto* any = newStructure<ANY_t>();
            if (!any || SGASN1CAny_SetCopied(any, &v->value) != 0 ||
                asn_set_add(&attribute.value->values.list, any) != 0) {
                if (any) SGASN1CObject_Free(any, &asn_DEF_ANY);
                return SG_PKI_ERR_MEMORY;
            }
        }
        if (SGASN1CSet_Add(attributes, attribute.value) != 0) return SG_PKI_ERR_MEMORY;
        attribute.release();
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// BER elements.

int SGPKCS7Element_Read(SGPKCS7Element* element, const unsigned char* der, size_t size) {
    if (!element || !der) return SG_PKI_ERR_ARGUMENT;
    SGPKCS7Element e;
    if (int r = readElement(&e, der, size, 0)) return r;
    *element = e;
    return 0;
}

}  // extern "C"
