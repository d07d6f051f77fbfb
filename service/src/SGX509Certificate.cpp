#include "SGX509Certificate.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "Certificate.h"
#include "Extensions.h"
#include "SGASNObjectID.h"
#include "SGCodec.h"
#include "SGDSKey.h"
#include "SGHex.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGX509Extension.h"
#include "SGX509Text.h"
#include "SGX520Name.h"
#include "SubjectPublicKeyInfo.h"
#include "Version.h"

using namespace brindlow::service;

namespace {

constexpr int kMaxSerialBytes = 20;
constexpr int kRsaPkcs1Signature = 1;

// The crypto calls go through the layer's copy of the Crypto table, which the Service table
// fill fills; before that (or after a failed self-test) they are refused, not called.
bool cryptoReady() {
    for (int slot :
         {SGCryptoSlot_SGDSKey_Encode, SGCryptoSlot_SGDSKey_Decode, SGCryptoSlot_SGDSKey_GetInfo,
          SGCryptoSlot_SGDSKey_Clear, SGCryptoSlot_SGDS_Sign, SGCryptoSlot_SGRSAPrivateKey_GetItem,
          SGCryptoSlot_SGRSAPublicKey_SetItem, SGCryptoSlot_SGRSAPublicKey_Encode,
          SGCryptoSlot_SGRSAPublicKey_Free})
        if (!_gcw[slot]) return false;
    return true;
}

int check(const SGX509Certificate* handle) {
    if (!handle) return SG_PKI_ERR_ARGUMENT;
    return handle->certificate ? 0 : SG_X509_ERR_EMPTY;
}

TBSCertificate_t& tbsOf(const SGX509Certificate* handle) {
    return handle->certificate->tbsCertificate;
}

bool serialTooLong(const Certificate_t* certificate) {
    return certificate->tbsCertificate.serialNumber.size > kMaxSerialBytes;
}

// Short texts are written whole or not at all.
int writeText(char* buffer, unsigned int size, const std::string& text) {
    if (text.size() + 1 > size) return SG_PKI_ERR_OUT_OF_RANGE;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return 0;
}

// Upper-case hexadecimal of the bytes: 1003 when the buffer cannot hold it (empty text); an
// empty value is malformed rather than an empty text.
int writeHex(char* buffer, unsigned int size, const uint8_t* bytes, int length) {
    if (!bytes || length <= 0) return SG_ASN_ERR_MALFORMED;
    int result = SG_GBW(SGHex_Encode)(buffer, size, bytes, static_cast<uint32_t>(length));
    if (result) buffer[0] = '\0';
    return result;
}

int algorithmName(std::string& out, const AlgorithmIdentifier_t* algorithm) {
    switch (oidIdOf(&algorithm->algorithm)) {
        case 0:
            return -1;
        case SG_OID_RSA_ENCRYPTION:
            out = "RSA Encryption";
            return 0;
        case SG_OID_SHA1_WITH_RSA:
            out = "SHA1 With RSA Encryption";
            return 0;
        case SG_OID_SHA256_WITH_RSA:
            out = "SHA256 With RSA Encryption";
            return 0;
        default:
            return SG_X509_ERR_UNKNOWN_NAME;
    }
}

// The instant of a Time in either form; GeneralizedTime holds the dates from 2050 on.
int timeOf(time_t* t, struct tm* tm, const Time_t* time, int asGmt) {
    switch (time->present) {
        case Time_PR_utcTime:
            return SGASN1CUTCTime_ToTm(t, tm, &time->choice.utcTime, asGmt) == 0
                       ? 0
                       : SG_ASN_ERR_RUNTIME;
        case Time_PR_generalTime:
            return SGASN1CGeneralizedTime_ToTm(t, tm, &time->choice.generalTime, asGmt) == 0
                       ? 0
                       : SG_ASN_ERR_RUNTIME;
        case Time_PR_NOTHING:
            return SG_ASN_ERR_TIME_FORM;
        default:
            return SG_ASN_ERR_CHOICE;
    }
}

int timeText(char* buffer, unsigned int size, const Time_t* time) {
    time_t t;
    struct tm tm;
    if (int error = timeOf(&t, &tm, time, 0)) return error;
    char text[64];
    if (std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &tm) == 0) return SG_ASN_ERR_RUNTIME;
    return writeText(buffer, size, text);
}

int nameText(char* buffer, unsigned int size, const Name_t* name, bool lowerCase, bool compact) {
    return SGX520Name_ToString(buffer, size > INT_MAX ? INT_MAX : static_cast<int>(size), name,
                               lowerCase, compact);
}

// Key kind of a subject public key algorithm.
int publicKeyKind(int* kind, int oidId) {
    switch (oidId) {
        case SG_OID_RSA_ENCRYPTION:
        case SG_OID_SHA1_WITH_RSA:
        case SG_OID_SHA256_WITH_RSA:
        case SG_OID_SHA512_WITH_RSA:
            *kind = SG_X509_KEY_RSA;
            return 0;
        case SG_OID_KCDSA:
            *kind = SG_X509_KEY_KCDSA;
            return 0;
        case SG_OID_KCDSA2:
            *kind = SG_X509_KEY_KCDSA2;
            return 0;
        case SG_OID_EC_PUBLIC_KEY:
            *kind = SG_X509_KEY_EC;
            return 0;
        default:
            return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    }
}

// The key size in bytes, by loading the key into a signature key of the crypto layer.
int keySizeOf(int* size, int kind, const BIT_STRING_t* bits) {
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    const int cryptoKind = kind == SG_X509_KEY_RSA  ? SG_DSKEY_RSA_PUBLIC
                           : kind == SG_X509_KEY_EC ? 7
                                                    : SG_DSKEY_KCDSA_PUBLIC;
    SGDSKey key{};
    if (SG_GCW(SGDSKey_Decode)(&key, bits->buf, bits->size, cryptoKind) != 0)
        return SG_X509_ERR_KEY;
    int result =
        SG_GCW(SGDSKey_GetInfo)(&key, SG_DSKEY_INFO_KEY_SIZE, size) == 0 ? 0 : SG_X509_ERR_KEY;
    SG_GCW(SGDSKey_Clear)(&key);
    return result;
}

int copyBytes(SGBinary* out, const uint8_t* bytes, int length) {
    out->data = nullptr;
    out->length = 0;
    if (!bytes || length <= 0) return 0;
    return SG_GBW(SGBinary_Set)(out, bytes, static_cast<uint32_t>(length)) == 0 ? 0
                                                                                : SG_PKI_ERR_MEMORY;
}

// The public-key information of a SubjectPublicKeyInfo: pointers into it, or copies.
int publicKeyInfo(int* keyKind, int* keySize, SGBinary* keyBits, SGBinary* parameters,
                  const SubjectPublicKeyInfo_t* info, bool copy) {
    const ANY_t* params = info->algorithm.parameters;
    if (parameters && params) {
        if (copy) {
            if (int error = copyBytes(parameters, params->buf, params->size)) return error;
        } else {
            parameters->data = params->buf;
            parameters->length = static_cast<uint32_t>(params->size > 0 ? params->size : 0);
        }
    }
    int kind = 0;
    if (int error = publicKeyKind(&kind, oidIdOf(&info->algorithm.algorithm))) return error;
    if (keySize)
        if (int error = keySizeOf(keySize, kind, &info->subjectPublicKey)) return error;
    if (keyBits) {
        if (copy) {
            if (int error =
                    copyBytes(keyBits, info->subjectPublicKey.buf, info->subjectPublicKey.size))
                return error;
        } else {
            keyBits->data = info->subjectPublicKey.buf;
            keyBits->length = static_cast<uint32_t>(
                info->subjectPublicKey.size > 0 ? info->subjectPublicKey.size : 0);
        }
    }
    if (keyKind) *keyKind = kind;
    return 0;
}

// A certificate decoded and checked as FromBinary accepts it.
int decodeCertificate(Decoded<Certificate_t>& out, const SGBinary* der) {
    if (!der || (!der->data && der->length)) return SG_PKI_ERR_ARGUMENT;
    if (out.decode(der->data, static_cast<int>(der->length > INT_MAX ? INT_MAX : der->length)) != 0)
        return SG_ASN_ERR_RUNTIME;
    if (serialTooLong(out.get())) return SG_X509_ERR_SERIAL_TOO_LONG;
    return 0;
}

// The certificate to examine: the DER when given, else the handle's.
const Certificate_t* subjectOf(Decoded<Certificate_t>& owned, const SGX509Certificate* handle,
                               const SGBinary* der, int* error) {
    *error = 0;
    if (der) {
        *error = decodeCertificate(owned, der);
        return *error ? nullptr : owned.get();
    }
    *error = check(handle);
    return *error ? nullptr : handle->certificate;
}

bool isCA(const Certificate_t* certificate) {
    char text[255];
    if (SGX509Extension_GetEntry(text, sizeof text, certificate->tbsCertificate.extensions,
                                 SG_X509_ENTRY_BASIC_CONSTRAINTS, 0) != 0)
        return false;
    return std::strstr(text, "cA=true") != nullptr;
}

// --- Generation ------------------------------------------------------------------------------

// Frees a structure built here at the end of the scope.
template <typename T>
struct Built {
    T value{};
    asn_TYPE_descriptor_t* type;
    explicit Built(asn_TYPE_descriptor_t* td) : type(td) {}
    ~Built() { SGASN1CObject_Clear(&value, type); }
};

// RSAPublicKey DER of an RSA key; a private key gives its public half.
int rsaPublicKeyDer(std::vector<unsigned char>& out, const SGDSKey* key) {
    if (key->kind == SG_DSKEY_RSA_PUBLIC) {
        unsigned int length = 0;
        if (int error = SG_GCW(SGDSKey_Encode)(nullptr, &length, key)) return error;
        out.resize(length);
        if (int error = SG_GCW(SGDSKey_Encode)(out.data(), &length, key)) return error;
        out.resize(length);
        return 0;
    }
    if (key->kind != SG_DSKEY_RSA_PRIVATE) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    SGRSAPublicKey publicKey{};
    int result = 0;
    for (int item : {SG_RSA_PRIVATE_N, SG_RSA_PRIVATE_E}) {
        std::vector<unsigned char> bytes(1024);
        unsigned int length = static_cast<unsigned int>(bytes.size());
        result =
            SG_GCW(SGRSAPrivateKey_GetItem)(bytes.data(), &length, &key->material.rsaPrivate, item);
        if (result == SG_RSA_ERR_BUFFER) {
            bytes.resize(length);
            result = SG_GCW(SGRSAPrivateKey_GetItem)(bytes.data(), &length,
                                                     &key->material.rsaPrivate, item);
        }
        if (result == 0)
            result = SG_GCW(SGRSAPublicKey_SetItem)(
                &publicKey, bytes.data(), length,
                item == SG_RSA_PRIVATE_N ? SG_RSA_PUBLIC_N : SG_RSA_PUBLIC_E);
        if (result) break;
    }
    unsigned int length = 0;
    if (result == 0) result = SG_GCW(SGRSAPublicKey_Encode)(nullptr, &length, &publicKey);
    if (result == 0) {
        out.resize(length);
        result = SG_GCW(SGRSAPublicKey_Encode)(out.data(), &length, &publicKey);
        out.resize(length);
    }
    SG_GCW(SGRSAPublicKey_Free)(&publicKey);
    return result;
}

// UTCTime for the years 1950 to 2049, GeneralizedTime outside them.
int setTime(Time_t* out, time_t t) {
    if (t == 0) t = SG_GBW(SGOS_time)(nullptr);
    struct tm utc {};
    if (!gmtime_r(&t, &utc)) return SG_PKI_ERR_ARGUMENT;
    const int year = utc.tm_year + 1900;
    SGASN1CObject_Clear(out, &asn_DEF_Time);
    int result;
    if (year >= 1950 && year <= 2049) {
        out->present = Time_PR_utcTime;
        result = SGASN1CUTCTime_FromTm(&out->choice.utcTime, t, 0);
    } else {
        out->present = Time_PR_generalTime;
        result = SGASN1CGeneralizedTime_FromTm(&out->choice.generalTime, t, 0);
    }
    if (result) SGASN1CObject_Clear(out, &asn_DEF_Time);
    return result;
}

// A distinguished-name text in EUC-KR into a Name.
int setName(Name_t* out, const char* eucKr) {
    if (*eucKr == '\0') return SGX520Name_FromString(out, "");
    char* utf8 = nullptr;
    if (int error = SG_GBW(SGCodecConvertCodeSet)("ko_KR.euc-kr", "ko_KR.UTF-8", eucKr, &utf8))
        return error;
    int result = SGX520Name_FromString(out, utf8);
    SG_GBW(SGMemory_free)(utf8);
    return result;
}

int setSerial(INTEGER_t* out, const SGX509GenerateParameters* parameters) {
    const SGBinary* bytes = parameters->serialBytes;
    if (!bytes)
        return SGASN1CInteger_Set(out, parameters->serialNumber) == 0 ? 0 : SG_PKI_ERR_MEMORY;
    if (!bytes->data || bytes->length == 0) return SG_PKI_ERR_ARGUMENT;
    if (bytes->length > kMaxSerialBytes) return SG_X509_ERR_SERIAL_TOO_LONG;
    return OCTET_STRING_fromBuf(reinterpret_cast<OCTET_STRING_t*>(out),
                                reinterpret_cast<const char*>(bytes->data),
                                static_cast<int>(bytes->length)) == 0
               ? 0
               : SG_PKI_ERR_MEMORY;
}

int buildTbs(TBSCertificate_t& tbs, const SGX509GenerateParameters* p) {
    // Version: v1 is the default and is left out, as DER requires.
    const long version = p->version >= 1 && p->version <= 3 ? p->version - 1 : 2;
    if (version != 0) {
        tbs.version = static_cast<Version_t*>(SGASN1C_calloc(1, sizeof(Version_t)));
        if (!tbs.version || SGASN1CInteger_Set(tbs.version, version) != 0) return SG_PKI_ERR_MEMORY;
    }
    if (int error = setSerial(&tbs.serialNumber, p)) return error;

    // The subject's own key and its own algorithm: only RSA keys can be written.
    std::vector<unsigned char> keyDer;
    if (int error = rsaPublicKeyDer(keyDer, p->subjectKey))
        return error == SG_PKI_ERR_UNKNOWN_ALGORITHM ? error : SG_X509_ERR_KEY;
    SubjectPublicKeyInfo_t& spki = tbs.subjectPublicKeyInfo;
    if (int error = SGASN1CAlgorithmIdentifier_Set(&spki.algorithm, SG_OID_RSA_ENCRYPTION,
                                                   SG_ASN1C_NULL_PARAMETERS))
        return error;
    SGBinary keyBits{keyDer.data(), static_cast<uint32_t>(keyDer.size())};
    if (int error = SGASN1CBitString_SetCopied(&spki.subjectPublicKey, &keyBits)) return error;

    // Only an RSA private key signs here.
    if (p->signerKey->kind != SG_DSKEY_RSA_PRIVATE) return SG_ASN_ERR_UNKNOWN_OID;
    int signatureOid = 0;
    if (int error = SGASN1CDS_ToOID(&signatureOid, SG_ASN1C_KEY_RSA, p->digestId)) return error;
    if (int error =
            SGASN1CAlgorithmIdentifier_Set(&tbs.signature, signatureOid, SG_ASN1C_NULL_PARAMETERS))
        return error;

    if (int error = setName(&tbs.issuer, p->issuer)) return error;
    if (int error = setName(&tbs.subject, p->subject)) return error;
    if (int error = setTime(&tbs.validity.notBefore, p->notBefore)) return error;
    if (int error = setTime(&tbs.validity.notAfter, p->notAfter)) return error;

    if (version == 2) {
        tbs.extensions = static_cast<Extensions_t*>(SGASN1C_calloc(1, sizeof(Extensions_t)));
        if (!tbs.extensions) return SG_PKI_ERR_MEMORY;
        if (int error = SGX509Extension_Generate(tbs.extensions, p)) return error;
        // An empty list cannot be encoded; the field is left out then.
        if (tbs.extensions->list.count == 0) {
            ASN_STRUCT_FREE(asn_DEF_Extensions, tbs.extensions);
            tbs.extensions = nullptr;
        }
    }
    return 0;
}

int sign(BIT_STRING_t* out, const TBSCertificate_t& tbs, SGDSKey* signer) {
    SGBinary der{};
    if (int error = SGASN1CObject_Encode(&der, &asn_DEF_TBSCertificate, &tbs)) return error;
    int keyKind = 0, digestId = 0;
    int result =
        SGASN1CAlgorithmIdentifier_ToCrypto(nullptr, &keyKind, &digestId, nullptr, &tbs.signature);
    SGDSParameter parameter{};
    parameter.kind = kRsaPkcs1Signature;
    parameter.key = signer;
    parameter.v15HashId = digestId;
    unsigned int length = 0;
    if (result == 0) {
        result =
            SG_GCW(SGDS_Sign)(nullptr, &length, der.data, static_cast<int>(der.length), &parameter);
        // The size query answers 557 (buffer too short) with the length.
        if (result == SG_PKCS1_ERR_OUTPUT_TOO_SHORT && length > 0) result = 0;
    }
    std::vector<unsigned char> signature(length);
    if (result == 0)
        result = SG_GCW(SGDS_Sign)(signature.data(), &length, der.data,
                                   static_cast<int>(der.length), &parameter);
    SG_GBW(SGBinary_Reset)(&der);
    if (result) return result;
    SGBinary bits{signature.data(), length};
    return SGASN1CBitString_Set(out, &bits);
}

}  // namespace

extern "C" {

int SGX509Certificate_FromBinary(SGX509Certificate* handle, const SGBinary* der) {
    if (!handle || !der) return SG_PKI_ERR_ARGUMENT;
    try {
        Decoded<Certificate_t> decoded(&asn_DEF_Certificate);
        if (int error = decodeCertificate(decoded, der)) return error;
        // A certificate the handle held would otherwise be lost.
        if (handle->certificate) SGASN1CObject_Free(handle->certificate, &asn_DEF_Certificate);
        handle->certificate = decoded.release();
        return 0;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGX509Certificate_ToBinary(SGBinary* out, const SGX509Certificate* handle) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    if (int error = check(handle)) return error;
    return SGASN1CObject_Encode(out, &asn_DEF_Certificate, handle->certificate);
}

int SGX509Certificate_Clear(SGX509Certificate* handle) {
    if (int error = check(handle)) return error;
    SGASN1CObject_Free(handle->certificate, &asn_DEF_Certificate);
    handle->certificate = nullptr;
    return 0;
}

int SGX509Certificate_Free(SGX509Certificate* handle) {
    if (!handle) return SG_PKI_ERR_ARGUMENT;
    int result = SGX509Certificate_Clear(handle);
    SG_GBW(SGMemory_free)(handle);
    return result;
}

int SGX509Certificate_GetEntry(const SGX509Certificate* handle, char* buffer, unsigned int size,
                               int entryId, int flags) {
    if (!buffer || size == 0) return SG_PKI_ERR_ARGUMENT;
    buffer[0] = '\0';
    if (int error = check(handle)) return error;
    try {
        const Certificate_t* certificate = handle->certificate;
        const TBSCertificate_t& tbs = tbsOf(handle);
        std::string text;
        int result = 0;
        switch (entryId) {
            case SG_X509_ENTRY_VERSION: {
                long version = 0;
                if (tbs.version && asn_INTEGER2long(tbs.version, &version) != 0)
                    return SG_ASN_ERR_RUNTIME;
                return writeText(buffer, size, tbs.version ? std::to_string(version) : "1");
            }
            case SG_X509_ENTRY_SERIAL_NUMBER:
                return writeHex(buffer, size, tbs.serialNumber.buf, tbs.serialNumber.size);
            case SG_X509_ENTRY_SIGNATURE:
                result = algorithmName(text, &tbs.signature);
                return result ? result : writeText(buffer, size, text);
            case SG_X509_ENTRY_ISSUER:
                return nameText(buffer, size, &tbs.issuer, flags == SG_X509_FLAG_LOWER_CASE,
                                (flags & SG_X509_FLAG_COMPACT_SEPARATOR) != 0);
            case SG_X509_ENTRY_NOT_BEFORE:
                return timeText(buffer, size, &tbs.validity.notBefore);
            case SG_X509_ENTRY_NOT_AFTER:
                return timeText(buffer, size, &tbs.validity.notAfter);
            case SG_X509_ENTRY_SUBJECT:
                return nameText(buffer, size, &tbs.subject, (flags & SG_X509_FLAG_LOWER_CASE) != 0,
                                (flags & SG_X509_FLAG_COMPACT_SEPARATOR) != 0);
            case SG_X509_ENTRY_PUBLIC_KEY_ALGORITHM:
                result = algorithmName(text, &tbs.subjectPublicKeyInfo.algorithm);
                return result ? result : writeText(buffer, size, text);
            case SG_X509_ENTRY_PUBLIC_KEY:
                return writeHex(buffer, size, tbs.subjectPublicKeyInfo.subjectPublicKey.buf,
                                tbs.subjectPublicKeyInfo.subjectPublicKey.size);
            case SG_X509_ENTRY_ISSUER_UNIQUE_ID:
            case SG_X509_ENTRY_SUBJECT_UNIQUE_ID:
                return 0;
            case SG_X509_ENTRY_SIGNATURE_ALGORITHM:
                result = algorithmName(text, &certificate->signatureAlgorithm);
                return result ? result : writeText(buffer, size, text);
            case SG_X509_ENTRY_SIGNATURE_VALUE:
                return writeHex(buffer, size, certificate->signature.buf,
                                certificate->signature.size);
            default:
                return SGX509Extension_GetEntry(buffer, size, tbs.extensions, entryId, flags);
        }
    } catch (...) {
        buffer[0] = '\0';
        return SG_PKI_ERR_MEMORY;
    }
}

int SGX509Certificate_GetEncodedEntry(SGBinary* out, const SGX509Certificate* handle, int entryId) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    if (int error = check(handle)) return error;
    const Certificate_t* certificate = handle->certificate;
    const TBSCertificate_t& tbs = tbsOf(handle);
    switch (entryId) {
        case SG_X509_ENTRY_VERSION:
            if (!tbs.version) return SG_PKI_ERR_NO_DATA;
            return SGASN1CObject_Encode(out, &asn_DEF_Version, tbs.version);
        case SG_X509_ENTRY_SERIAL_NUMBER:
            return SGASN1CObject_Encode(out, &asn_DEF_CertificateSerialNumber, &tbs.serialNumber);
        case SG_X509_ENTRY_SIGNATURE:
            return SGASN1CObject_Encode(out, &asn_DEF_AlgorithmIdentifier, &tbs.signature);
        case SG_X509_ENTRY_ISSUER:
            return SGASN1CObject_Encode(out, &asn_DEF_Name, &tbs.issuer);
        case SG_X509_ENTRY_NOT_BEFORE:
            return SGASN1CObject_Encode(out, &asn_DEF_Time, &tbs.validity.notBefore);
        case SG_X509_ENTRY_NOT_AFTER:
            return SGASN1CObject_Encode(out, &asn_DEF_Time, &tbs.validity.notAfter);
        case SG_X509_ENTRY_SUBJECT:
            return SGASN1CObject_Encode(out, &asn_DEF_Name, &tbs.subject);
        case SG_X509_ENTRY_PUBLIC_KEY_ALGORITHM:
            return SGASN1CObject_Encode(out, &asn_DEF_AlgorithmIdentifier,
                                        &tbs.subjectPublicKeyInfo.algorithm);
        case SG_X509_ENTRY_PUBLIC_KEY:
            return SGASN1CObject_Encode(out, &asn_DEF_BIT_STRING,
                                        &tbs.subjectPublicKeyInfo.subjectPublicKey);
        case SG_X509_ENTRY_ISSUER_UNIQUE_ID:
        case SG_X509_ENTRY_SUBJECT_UNIQUE_ID:
            return SG_PKI_ERR_NOT_IMPLEMENTED;
        case SG_X509_ENTRY_SIGNATURE_ALGORITHM:
            return SGASN1CObject_Encode(out, &asn_DEF_AlgorithmIdentifier,
                                        &certificate->signatureAlgorithm);
        case SG_X509_ENTRY_SIGNATURE_VALUE:
            return SGASN1CObject_Encode(out, &asn_DEF_BIT_STRING, &certificate->signature);
        default:
            return SGX509Extension_GetEncodedEntry(out, tbs.extensions, entryId);
    }
}

int SGX509Certificate_GetASN1CEntry(void** out, const SGX509Certificate* handle, int entryId) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    if (int error = check(handle)) return error;
    Certificate_t* certificate = handle->certificate;
    TBSCertificate_t& tbs = certificate->tbsCertificate;
    switch (entryId) {
        case SG_X509_ENTRY_VERSION:
            *out = tbs.version;
            return 0;
        case SG_X509_ENTRY_SERIAL_NUMBER:
            *out = &tbs.serialNumber;
            return 0;
        case SG_X509_ENTRY_SIGNATURE:
            *out = &tbs.signature;
            return 0;
        case SG_X509_ENTRY_ISSUER:
            *out = &tbs.issuer;
            return 0;
        case SG_X509_ENTRY_NOT_BEFORE:
            *out = &tbs.validity.notBefore;
            return 0;
        case SG_X509_ENTRY_NOT_AFTER:
            *out = &tbs.validity.notAfter;
            return 0;
        case SG_X509_ENTRY_SUBJECT:
            *out = &tbs.subject;
            return 0;
        case SG_X509_ENTRY_PUBLIC_KEY_INFO:
        case SG_X509_ENTRY_PUBLIC_KEY_ALGORITHM:
            // The algorithm is the first member of the key information.
            *out = &tbs.subjectPublicKeyInfo;
            return 0;
        case SG_X509_ENTRY_PUBLIC_KEY:
            *out = &tbs.subjectPublicKeyInfo.subjectPublicKey;
            return 0;
        case SG_X509_ENTRY_ISSUER_UNIQUE_ID:
        case SG_X509_ENTRY_SUBJECT_UNIQUE_ID:
            return 0;
        case SG_X509_ENTRY_SIGNATURE_ALGORITHM:
            *out = &certificate->signatureAlgorithm;
            return 0;
        case SG_X509_ENTRY_SIGNATURE_VALUE:
            *out = &certificate->signature;
            return 0;
        default: {
            Extension_t* extension = nullptr;
            int result = SGX509Extension_FindRAWEntry(&extension, tbs.extensions, entryId);
            if (result == 0) *out = extension;
            return result;
        }
    }
}

int SGX509Certificate_ConvertAlgorithmIdentifier(int* keyKind, int* digestId, SGBinary* parameters,
                                                 const AlgorithmIdentifier_t* algorithm) {
    if (!algorithm) return SG_PKI_ERR_ARGUMENT;
    if (parameters && algorithm->parameters) {
        parameters->data = algorithm->parameters->buf;
        parameters->length = static_cast<uint32_t>(
            algorithm->parameters->size > 0 ? algorithm->parameters->size : 0);
    }
    int kind = 0, digest = -1;
    switch (oidIdOf(&algorithm->algorithm)) {
        case SG_OID_RSA_ENCRYPTION:
            kind = SG_X509_KEY_RSA;
            break;
        case SG_OID_SHA1_WITH_RSA:
            kind = SG_X509_KEY_RSA, digest = 3;
            break;
        case SG_OID_SHA256_WITH_RSA:
            kind = SG_X509_KEY_RSA, digest = 5;
            break;
        case SG_OID_SHA512_WITH_RSA:
            kind = SG_X509_KEY_RSA, digest = 7;
            break;
        case SG_OID_KCDSA:
            kind = SG_X509_KEY_KCDSA;
            break;
        case SG_OID_KCDSA2:
            kind = SG_X509_KEY_KCDSA2;
            break;
        case SG_OID_EC_PUBLIC_KEY:
            kind = SG_X509_KEY_EC;
            break;
        default:
            return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    }
    if (keyKind) *keyKind = kind;
    if (digestId && digest >= 0) *digestId = digest;
    return 0;
}

int SGX509Certificate_GetSignatureAlgorithm(int* keyKind, int* digestId, SGBinary* parameters,
                                            const SGX509Certificate* handle) {
    if (int error = check(handle)) return error;
    return SGX509Certificate_ConvertAlgorithmIdentifier(keyKind, digestId, parameters,
                                                        &handle->certificate->signatureAlgorithm);
}

int SGX509Certificate_GetPublicKeyInfo(int* keyKind, int* keySize, SGBinary* keyBits,
                                       SGBinary* parameters, const SGX509Certificate* handle) {
    if (int error = check(handle)) return error;
    return publicKeyInfo(keyKind, keySize, keyBits, parameters, &tbsOf(handle).subjectPublicKeyInfo,
                         false);
}

int SGX509Certificate_ParsePublicKeyInfo(int* keyKind, int* keySize, SGBinary* keyBits,
                                         SGBinary* parameters, const SGBinary* der) {
    if (!der || !der->data || der->length == 0) return SG_PKI_ERR_ARGUMENT;
    try {
        Decoded<SubjectPublicKeyInfo_t> info(&asn_DEF_SubjectPublicKeyInfo);
        if (info.decode(der->data,
                        static_cast<int>(der->length > INT_MAX ? INT_MAX : der->length)) != 0)
            return SG_ASN_ERR_RUNTIME;
        SGBinary bits{}, params{};
        int result = publicKeyInfo(keyKind, keySize, keyBits ? &bits : nullptr,
                                   parameters ? &params : nullptr, info.get(), true);
        if (result) {
            // A failed call hands out nothing to free.
            SG_GBW(SGBinary_Reset)(&bits);
            SG_GBW(SGBinary_Reset)(&params);
            return result;
        }
        if (keyBits) *keyBits = bits;
        if (parameters) *parameters = params;
        return 0;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGX509Certificate_InTime(const SGX509Certificate* handle, const time_t* when, void* unused,
                             int asGmt) {
    (void)unused;
    if (int error = check(handle)) return error;
    const Validity_t& validity = tbsOf(handle).validity;
    const time_t now = when ? *when : SG_GBW(SGOS_time)(nullptr);
    time_t notBefore, notAfter;
    struct tm tm;
    if (int error = timeOf(&notBefore, &tm, &validity.notBefore, asGmt)) return error;
    if (int error = timeOf(&notAfter, &tm, &validity.notAfter, asGmt)) return error;
    return notBefore <= now && now <= notAfter ? 0 : -1;
}

int SGX509Certificate_IsRoot(const SGX509Certificate* handle, const SGBinary* der) {
    try {
        Decoded<Certificate_t> owned(&asn_DEF_Certificate);
        int error = 0;
        const Certificate_t* certificate = subjectOf(owned, handle, der, &error);
        // Without a certificate to examine the answer is "not a root".
        if (!certificate) return error ? error : 1;
        if (!isCA(certificate)) return 1;
        const TBSCertificate_t& tbs = certificate->tbsCertificate;
        if (SGASN1CName_Compare(&tbs.subject, &tbs.issuer) != 0) return 1;
        return SGX509Extension_FindRAWEntry(nullptr, tbs.extensions,
                                            SG_X509_ENTRY_AUTHORITY_KEY_IDENTIFIER) == 0
                   ? 1
                   : 0;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGX509Certificate_IsCA(const SGX509Certificate* handle, const SGBinary* der) {
    try {
        Decoded<Certificate_t> owned(&asn_DEF_Certificate);
        int error = 0;
        const Certificate_t* certificate = subjectOf(owned, handle, der, &error);
        return certificate && isCA(certificate) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SGX509Certificate_ToDSParameters(SGDSKey* key, SGDSParameter* parameter,
                                     const SGX509Certificate* handle) {
    if (!key || !parameter) return SG_PKI_ERR_ARGUMENT;
    if (int error = check(handle)) return error;
    const Certificate_t* certificate = handle->certificate;
    const SubjectPublicKeyInfo_t& info = certificate->tbsCertificate.subjectPublicKeyInfo;
    int kind = 0;
    if (int error = publicKeyKind(&kind, oidIdOf(&info.algorithm.algorithm))) return error;
    int digest;
    switch (oidIdOf(&certificate->signatureAlgorithm.algorithm)) {
        case SG_OID_RSA_ENCRYPTION:
        case SG_OID_SHA1_WITH_RSA:
        case SG_OID_KCDSA:
        case SG_OID_KCDSA2:
        case SG_OID_EC_PUBLIC_KEY:
            digest = 3;
            break;
        case SG_OID_SHA256_WITH_RSA:
            digest = 5;
            break;
        case SG_OID_SHA512_WITH_RSA:
            digest = 7;
            break;
        default:
            return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    }
    if (kind == SG_X509_KEY_EC) return SG_PKI_ERR_NOT_IMPLEMENTED;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    const bool rsa = kind == SG_X509_KEY_RSA;
    if (SG_GCW(SGDSKey_Decode)(key, info.subjectPublicKey.buf, info.subjectPublicKey.size,
                               rsa ? SG_DSKEY_RSA_PUBLIC : SG_DSKEY_KCDSA_PUBLIC) != 0)
        return SG_X509_ERR_KEY;
    parameter->key = key;
    if (rsa) {
        parameter->kind = SG_DS_RSASSA_PKCS1_V15;
        parameter->v15HashId = digest;
    } else {
        parameter->kind = SG_DS_KCDSA;
        parameter->kcdsaHashId = digest;
    }
    return 0;
}

int SGX509Certificate_Generate(SGX509Certificate* handle,
                               const SGX509GenerateParameters* parameters) {
    if (!handle || !parameters || !parameters->subject || !parameters->issuer ||
        !parameters->subjectKey || !parameters->signerKey)
        return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    try {
        Built<Certificate_t> certificate(&asn_DEF_Certificate);
        TBSCertificate_t& tbs = certificate.value.tbsCertificate;
        if (int error = buildTbs(tbs, parameters)) return error;
        if (int error = SGASN1CObject_Copy(&certificate.value.signatureAlgorithm, &tbs.signature,
                                           &asn_DEF_AlgorithmIdentifier))
            return error;
        if (int error = sign(&certificate.value.signature, tbs, parameters->signerKey))
            return error;
        // The handle receives the certificate as it decodes from its own DER.
        SGBinary der{};
        int result = SGASN1CObject_Encode(&der, &asn_DEF_Certificate, &certificate.value);
        if (result == 0) {
            SGX509Certificate decoded{};
            result = SGX509Certificate_FromBinary(&decoded, &der);
            if (result == 0) {
                if (handle->certificate)
                    SGASN1CObject_Free(handle->certificate, &asn_DEF_Certificate);
                handle->certificate = decoded.certificate;
            }
        }
        SG_GBW(SGBinary_Reset)(&der);
        return result;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGX509GeneralName_ToString(char* buffer, unsigned int size, const GeneralName_t* name) {
    if (!buffer || size == 0 || !name) return SG_PKI_ERR_ARGUMENT;
    try {
        std::string text;
        bool written = false;
        if (int error = renderGeneralName(text, &written, name)) return error;
        if (!written) return 0;
        return writeText(buffer, size, text);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

}  // extern "C"
