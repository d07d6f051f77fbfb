#include "SGKISA.h"

#include <cstring>

#include "HashContent.h"
#include "Certificate.h"
#include "IdentifyData.h"
#include "SGASNObjectID.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGMemory.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGValidationSupport.h"
#include "SGX509Text.h"
#include "SignatureValue.h"
#include "VID.h"

using brindlow::service::Decoded;

namespace {

// The random number the key file keeps: a BIT STRING of at most 200 bytes.
constexpr uint32_t kMaxRandom = 200;
constexpr int kMaxDigest = 64;

// Whether a signature algorithm names its digest: bare rsaEncryption and the KCDSA identifiers
// name none (nor does an algorithm the library does not map).
bool namesDigest(const AlgorithmIdentifier_t& algorithm) {
    int digest = 0;
    return SGASN1CAlgorithmIdentifier_ToCrypto(nullptr, nullptr, &digest, nullptr, &algorithm) ==
               0 &&
           digest > 0;
}

// The digest the signer certificate's own signature algorithm gives its key, as
// SGX509Certificate_ToDSParameters prepares it; false when it prepares nothing.
bool signerDigest(int* out, const SGX509Certificate* signer) {
    SGDSKey key;
    std::memset(&key, 0, sizeof key);
    SGDSParameter parameter;
    std::memset(&parameter, 0, sizeof parameter);
    const bool prepared = SGX509Certificate_ToDSParameters(&key, &parameter, signer) == 0;
    if (prepared)
        *out = parameter.kind == SG_DS_KCDSA ? parameter.kcdsaHashId : parameter.v15HashId;
    SG_GCW(SGDSKey_Clear)(&key);
    return prepared;
}

bool sameOid(const OBJECT_IDENTIFIER_t& oid, int oidId) {
    int id = 0;
    return SGASN1CObjectIdentifier_Get(&id, &oid) == 0 && id == oidId;
}

// The VID of the certificate's identifyData other name: its hash algorithm and virtualID,
// decoded from the subjectAltName (never from its rendering). 10018 without a readable
// subjectAltName; 10004 when no other name holds a VID.
class CertificateVid {
  public:
    int read(const SGX509Certificate* certificate) {
        SGBinary der{};
        if (SGX509Certificate_GetEncodedEntry(&der, certificate, SG_X509_ENTRY_SUBJECT_ALT_NAME) !=
                0 ||
            !der.data)
            return SG_KISA_ERR_CERTIFICATE;
        const int decoded = names_.decode(der.data, static_cast<int>(der.length));
        SG_GBW(SGBinary_Reset)(&der);
        if (decoded != 0) return SG_KISA_ERR_CERTIFICATE;
        for (int i = 0; i < names_->list.count; ++i) {
            const GeneralName_t* name = names_->list.array[i];
            if (!name || name->present != GeneralName_PR_otherName ||
                !sameOid(name->choice.otherName.type_id, SG_OID_KISA_IDENTIFY_DATA))
                continue;
            if (findVid(name->choice.otherName.value)) return 0;
        }
        return SG_PKI_ERR_NO_DATA;
    }
    const VID_t* vid() const { return vid_.get(); }

  private:
    // The runtime hands the other name's value without its [0] tag; a value that still
    // carries it is read inside the tag.
    bool findVid(const ANY_t& value) {
        const uint8_t* p = value.buf;
        size_t n = value.size > 0 ? static_cast<size_t>(value.size) : 0;
        if (!p || n < 2) return false;
        size_t header = 0, length = n;
        if (p[0] == 0xA0) {
            header = 2;
            length = p[1];
            if (length & 0x80) {
                const size_t bytes = length & 0x7F;
                if (bytes == 0 || bytes > 4 || n < 2 + bytes) return false;
                length = 0;
                for (size_t i = 0; i < bytes; ++i) length = length << 8 | p[2 + i];
                header += bytes;
            }
            if (length > n - header) return false;
        }
        Decoded<IdentifyData_t> identify(&asn_DEF_IdentifyData);
        if (identify.decode(p + header, static_cast<int>(length)) != 0 || !identify->userInfo)
            return false;
        for (int i = 0; i < identify->userInfo->list.count; ++i) {
            const AttributeTypeAndValue_t* info = identify->userInfo->list.array[i];
            if (!info || !sameOid(info->type, SG_OID_KISA_VID)) continue;
            if (vid_.decode(info->value.buf, static_cast<int>(info->value.size)) == 0) return true;
        }
        return false;
    }

    Decoded<GeneralNames_t> names_{&asn_DEF_GeneralNames};
    Decoded<VID_t> vid_{&asn_DEF_VID};
};

// Only the four hashes a VID may name, by their identifiers.
int vidDigest(const AlgorithmIdentifier_t& algorithm) {
    int oidId = 0;
    if (SGASN1CObjectIdentifier_Get(&oidId, &algorithm.algorithm) != 0) return 0;
    switch (oidId) {
        case SG_OID_SHA1:
            return 3;
        case SG_OID_SHA256:
            return 5;
        case SG_OID_SHA384:
            return 6;
        case SG_OID_SHA512:
            return 7;
        default:
            return 0;
    }
}

int encodeHashContent(SGBinary* out, const uint8_t* idn, size_t idnLength, const uint8_t* random,
                      size_t randomLength) {
    // Views of the caller's bytes: the structure is encoded, never freed.
    HashContent_t content;
    std::memset(&content, 0, sizeof content);
    content.idn.buf = idnLength ? const_cast<uint8_t*>(idn) : nullptr;
    content.idn.size = static_cast<int>(idnLength);
    content.randomNum.buf = randomLength ? const_cast<uint8_t*>(random) : nullptr;
    content.randomNum.size = static_cast<int>(randomLength);
    content.randomNum.bits_unused = 0;
    return SGASN1CObject_Encode(out, &asn_DEF_HashContent, &content);
}

void freeList(SGKISASignatureToken* node) {
    while (node) {
        SGKISASignatureToken* next = node->next;
        if (node->driverName) SG_GBW(SGMemory_free)(node->driverName);
        SG_GBW(SGBinary_Cleanse)(&node->hashValue);
        SG_GBW(SGMemory_free)(node);
        node = next;
    }
}

// One node per SignatureToken, in order; null with *error set when memory runs short.
SGKISASignatureToken* buildList(const SignatureTokenList_t& tokens, int* error) {
    SGKISASignatureToken* head = nullptr;
    SGKISASignatureToken** tail = &head;
    for (int i = 0; i < tokens.list.count; ++i) {
        const SignatureToken_t* token = tokens.list.array[i];
        if (!token) continue;
        auto* node = static_cast<SGKISASignatureToken*>(
            SG_GBW(SGMemory_calloc)(1, sizeof(SGKISASignatureToken)));
        char* name = node ? static_cast<char*>(SG_GBW(SGMemory_calloc)(
                                static_cast<size_t>(token->driverName.size) + 1, 1))
                          : nullptr;
        if (!node || !name) {
            if (node) SG_GBW(SGMemory_free)(node);
            freeList(head);
            *error = SG_PKI_ERR_MEMORY;
            return nullptr;
        }
        if (token->driverName.size > 0)
            std::memcpy(name, token->driverName.buf, static_cast<size_t>(token->driverName.size));
        node->driverName = name;
        int digest = 0;
        if (SGASN1CAlgorithmIdentifier_ToCrypto(nullptr, nullptr, &digest, nullptr,
                                                &token->hashID) != 0 ||
            digest < 0)
            digest = 0;
        node->digestId = digest;
        *tail = node;
        tail = &node->next;
        if (token->hashValue.size > 0 &&
            SG_GBW(SGBinary_Set)(&node->hashValue, token->hashValue.buf,
                                 static_cast<uint32_t>(token->hashValue.size)) != 0) {
            freeList(head);
            *error = SG_PKI_ERR_MEMORY;
            return nullptr;
        }
    }
    return head;
}

}  // namespace

extern "C" {

int SGKISAHashContent_Encode(SGBinary* out, const SGKISAHashContent* content, void*) {
    if (!out || !content) return SG_PKI_ERR_ARGUMENT;
    try {
        return encodeHashContent(out, content->idn.data, content->idn.length,
                                 content->randomNum.data, content->randomNum.length);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGKISAVID_Verify(const SGX509Certificate* certificate, const char* idn,
                     const SGBinary* randomNum) {
    if (!certificate || !idn || !randomNum) return SG_PKI_ERR_ARGUMENT;
    if (randomNum->length == 0 || randomNum->length > kMaxRandom || !randomNum->data)
        return SG_PKI_ERR_OUT_OF_RANGE;
    try {
        CertificateVid found;
        if (int error = found.read(certificate)) return error;
        const VID_t* vid = found.vid();
        const int digest = vidDigest(vid->hashAlg);
        if (digest == 0) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
        const int size = SG_GCW(SGDigest_GetDigestSize)(digest);
        if (size <= 0 || size > kMaxDigest) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
        // A VID of another length than the digest (empty or cut among them) matches nothing.
        if (vid->virtualID.size != size) return SG_KISA_ERR_VID_MISMATCH;

        SGBinary content{};
        int error = encodeHashContent(&content, reinterpret_cast<const uint8_t*>(idn),
                                      std::strlen(idn), randomNum->data, randomNum->length);
        if (error) return error;
        unsigned char first[kMaxDigest], second[kMaxDigest];
        error = SG_GCW(SGDigest)(first, digest, content.data, content.length);
        SG_GBW(SGBinary_Cleanse)(&content);
        if (!error) error = SG_GCW(SGDigest)(second, digest, first, static_cast<uint32_t>(size));
        SG_GBW(SGMemory_cleanse)(first, sizeof first);
        if (error) return error;
        const bool equal = std::memcmp(second, vid->virtualID.buf, static_cast<size_t>(size)) == 0;
        SG_GBW(SGMemory_cleanse)(second, sizeof second);
        return equal ? 0 : SG_KISA_ERR_VID_MISMATCH;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGKISASignatureToken_GetSignerInfo(SGBinary* issuer, SGBinary* serialNumber,
                                       const SGBinary* signatureValue) {
    if (!issuer || !serialNumber || !signatureValue || !signatureValue->data)
        return SG_PKI_ERR_ARGUMENT;
    try {
        Decoded<SignatureValue_t> value(&asn_DEF_SignatureValue);
        if (value.decode(signatureValue->data, static_cast<int>(signatureValue->length)) != 0)
            return SG_ASN_ERR_MALFORMED;
        const SignerAndSerialNumber_t& signer = value->signerAndSerialNumber;
        if (int error = SGASN1CObject_Encode(issuer, &asn_DEF_Name, &signer.issuer)) return error;
        if (int error = SGASN1CObject_Encode(serialNumber, &asn_DEF_CertificateSerialNumber,
                                             &signer.serialNumber)) {
            SG_GBW(SGBinary_Reset)(issuer);
            return error;
        }
        return 0;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGKISASignatureToken_Verify(SGKISASignatureToken** list, const SGBinary* signatureValue,
                                const SGBinary* signerCertificate) {
    if (!list || !signatureValue || !signatureValue->data || !signerCertificate ||
        !signerCertificate->data)
        return SG_PKI_ERR_ARGUMENT;
    *list = nullptr;
    try {
        Decoded<SignatureValue_t> value(&asn_DEF_SignatureValue);
        if (value.decode(signatureValue->data, static_cast<int>(signatureValue->length)) != 0)
            return SG_ASN_ERR_MALFORMED;
        SGBinary toBeSigned{};
        if (SGASN1CObject_Encode(&toBeSigned, &asn_DEF_SignatureTokenList, &value->toBeSigned))
            return SG_PKI_ERR_INTERNAL;
        int error = 0;
        *list = buildList(value->toBeSigned, &error);
        if (error) {
            SG_GBW(SGBinary_Reset)(&toBeSigned);
            return error;
        }

        SGX509Certificate signer{};
        if (SGX509Certificate_FromBinary(&signer, signerCertificate) != 0) {
            SG_GBW(SGBinary_Reset)(&toBeSigned);
            return SG_KISA_ERR_CERTIFICATE;
        }
        const TBSCertificate_t& tbs = signer.certificate->tbsCertificate;
        const INTEGER_t& serial = value->signerAndSerialNumber.serialNumber;
        if (SGASN1CName_Compare(&tbs.issuer, &value->signerAndSerialNumber.issuer) != 0 ||
            tbs.serialNumber.size != serial.size ||
            std::memcmp(tbs.serialNumber.buf, serial.buf, static_cast<size_t>(serial.size)) != 0)
            error = SG_KISA_ERR_SIGNER;

        if (!error) {
            brindlow::service::SubjectKey key;
            SGBinary bits{}, parameters{};
            if (SGX509Certificate_GetPublicKeyInfo(&key.kind, nullptr, &bits, &parameters,
                                                   &signer) != 0) {
                error = SG_PKI_ERR_INTERNAL;
            } else {
                key.bits = bits.data;
                key.bitsLength = bits.length;
                key.parameters = parameters.data;
                key.parametersLength = parameters.length;
                // The list is checked by the algorithm its SignatureValue names; one that names
                // no digest takes the digest of the signer certificate's own signature.
                int digest = 0;
                if (!namesDigest(value->signatureAlgorithm) && !signerDigest(&digest, &signer))
                    digest = -1;
                BIT_STRING_t signature{};
                signature.buf = value->signature.buf;
                signature.size = value->signature.size;
                const int result =
                    digest < 0 ? SG_PKI_ERR_INTERNAL
                               : brindlow::service::verifySignature(
                                     toBeSigned.data, toBeSigned.length, signature,
                                     value->signatureAlgorithm, key, SG_PKI_ERR_INTERNAL, digest);
                if (result == SG_PKI_ERR_INTERNAL || result == SG_PKI_ERR_NOT_IMPLEMENTED)
                    error = SG_PKI_ERR_INTERNAL;
                else if (result != 0)
                    error = SG_KISA_ERR_SIGNATURE;
            }
        }
        SGX509Certificate_Clear(&signer);
        SG_GBW(SGBinary_Reset)(&toBeSigned);
        return error;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

void SGKISASignatureToken_Free(SGKISASignatureToken* list) {
    freeList(list);
}

}  // extern "C"
