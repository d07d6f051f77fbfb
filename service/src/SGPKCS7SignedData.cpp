#include "SGPKCS7SignedData.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "CertificateSet.h"
#include "ContentInfo.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGMemory.h"
#include "SGPKCS1.h"
#include "SGPKCS7Internal.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SignedAttributes.h"
#include "SignedData.h"
#include "SignerInfo.h"
#include "UnsignedAttributes.h"

static_assert(sizeof(SGPKCS7SignedDataParameters) == 32);
static_assert(offsetof(SGPKCS7SignedDataParameters, flags) == 4);
static_assert(offsetof(SGPKCS7SignedDataParameters, signingTime) == 8);
static_assert(offsetof(SGPKCS7SignedDataParameters, unsignedAttributes) == 16);
static_assert(offsetof(SGPKCS7SignedDataParameters, digestId) == 24);
static_assert(offsetof(SGPKCS7SignedDataParameters, externalSignerInput) == 28);
static_assert(sizeof(time_t) == 8);
static_assert(sizeof(SGPKCS7SignerInfo) == 72);
static_assert(offsetof(SGPKCS7SignerInfo, digestId) == 16);
static_assert(offsetof(SGPKCS7SignerInfo, attributes) == 24);
static_assert(offsetof(SGPKCS7SignerInfo, signedAttributes) == 32);
static_assert(offsetof(SGPKCS7SignerInfo, keyKind) == 40);
static_assert(offsetof(SGPKCS7SignerInfo, parameters) == 48);
static_assert(offsetof(SGPKCS7SignerInfo, signature) == 56);

namespace {

using namespace brindlow::service::pkcs7;
using Element = SGPKCS7Element;

constexpr int kDecode = SG_ASN_ERR_DECODE;
constexpr int kEncode = SG_ASN_ERR_ENCODE;
// The signature buffer: RSA keys up to 4096 bits; longer signatures are refused.
constexpr unsigned kSignatureCapacity = 512;
constexpr unsigned kTagSequence = 0x30, kTagSet = 0x31, kTagOctetString = 0x04;
constexpr unsigned kTagContext0 = 0xA0;
// The DER of the signedData content type, the first element of a wrapped SignedData.
constexpr uint8_t kSignedDataOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                      0xF7, 0x0D, 0x01, 0x07, 0x02};
// What an attribute of another type is listed under: its dotted type, cut to this length.
constexpr int kAttributeNameMax = 128;
// Stands for the bytes of empty content, which the digest functions want non-null.
const uint8_t kEmpty[1] = {0};

bool cryptoReady() {
    return _gcw[SGCryptoSlot_SGDigest] && _gcw[SGCryptoSlot_SGDS_Verify] &&
           _gcw[SGCryptoSlot_SGDSKey_Decode] && _gcw[SGCryptoSlot_SGPKCS1_CreateDigestInfo];
}

// ---------------------------------------------------------------------------------------------
// Bytes kept as received, and output put together from pieces in one buffer.

struct Span {
    const uint8_t* data;
    size_t size;
};

Span spanOf(const Element& e) {
    return {e.at, e.length};
}

// The elements inside a constructed element; false for a primitive one or when they do not
// read.
bool childrenOf(const Element& e, std::vector<Element>* out) {
    out->clear();
    if (!(e.tag & 0x20)) return false;
    const uint8_t* p = e.at + e.header;
    size_t left = e.content;
    while (left > 0) {
        Element child;
        if (SGPKCS7Element_Read(&child, p, left) != 0) return false;
        out->push_back(child);
        p += child.length;
        left -= child.length;
    }
    return true;
}

bool readWhole(Element* e, const uint8_t* data, size_t size) {
    return data && size > 0 && SGPKCS7Element_Read(e, data, size) == 0;
}

// Identifier and definite length octets of an element.
struct Header {
    uint8_t bytes[10];
    size_t size = 0;
    Header(unsigned tag, size_t length) {
        bytes[size++] = static_cast<uint8_t>(tag);
        if (length < 0x80) {
            bytes[size++] = static_cast<uint8_t>(length);
            return;
        }
        int n = 0;
        for (size_t v = length; v; v >>= 8) ++n;
        bytes[size++] = static_cast<uint8_t>(0x80 | n);
        for (int i = n - 1; i >= 0; --i) bytes[size++] = static_cast<uint8_t>(length >> (8 * i));
    }
    Span span() const { return {bytes, size}; }
};

size_t totalOf(const std::vector<Span>& parts) {
    size_t total = 0;
    for (const Span& s : parts) total += s.size;
    return total;
}

// The pieces in order into one new buffer of out (what out held is released on success).
int join(SGBinary* out, const std::vector<Span>& parts) {
    const size_t total = totalOf(parts);
    if (total == 0 || total > UINT32_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    auto* bytes = static_cast<uint8_t*>(SG_GBW(SGMemory_malloc)(total));
    if (!bytes) return SG_PKI_ERR_MEMORY;
    uint8_t* at = bytes;
    for (const Span& s : parts) {
        if (s.size) std::memcpy(at, s.data, s.size);
        at += s.size;
    }
    SG_GBW(SGBinary_Reset)(out);
    out->data = bytes;
    out->length = static_cast<uint32_t>(total);
    return 0;
}

// A SignedData's elements as received (wrapped in a ContentInfo or bare).
struct SignedDataBytes {
    bool wrapped = false;
    Element outer{};               // the input's element
    Element contentType{};         // wrapped: the ContentInfo's OBJECT IDENTIFIER
    Element signedData{};          // the SignedData
    std::vector<Element> fields;   // the SignedData's fields
    std::vector<Element> signers;  // the SignerInfos
    std::vector<Element> certificates;
};

// Reads the elements; the structure itself is checked by decoding it.
int readSignedData(SignedDataBytes* out, const SGBinary* input, bool bare) {
    if (!readWhole(&out->outer, input->data, input->length)) return kDecode;
    std::vector<Element> kids;
    if (bare) {
        out->signedData = out->outer;
    } else {
        if (out->outer.tag != kTagSequence || !childrenOf(out->outer, &kids) || kids.size() != 2 ||
            kids[0].tag != 0x06 || kids[1].tag != kTagContext0)
            return kDecode;
        // A ContentInfo of the signedData type.
        Owned<OBJECT_IDENTIFIER_t> oid(nullptr, &asn_DEF_OBJECT_IDENTIFIER);
        if (decodeAs(&oid, &asn_DEF_OBJECT_IDENTIFIER, kids[0].at, kids[0].length) != 0)
            return kDecode;
        int type = 0;
        if (int r = SGPKCS7ASN1C_GetContentType(&type, oid.value)) return r;
        if (type != SG_PKCS7_SIGNED_DATA) return SG_PKCS7_ERR_UNMATCHED_TYPE;
        out->contentType = kids[0];
        std::vector<Element> inner;
        if (!childrenOf(kids[1], &inner) || inner.size() != 1) return kDecode;
        out->signedData = inner[0];
        out->wrapped = true;
    }
    if (out->signedData.tag != kTagSequence || !childrenOf(out->signedData, &out->fields) ||
        out->fields.size() < 4 || out->fields.back().tag != kTagSet ||
        !childrenOf(out->fields.back(), &out->signers))
        return kDecode;
    for (size_t i = 3; i + 1 < out->fields.size(); ++i)
        if (out->fields[i].tag == kTagContext0 && !childrenOf(out->fields[i], &out->certificates))
            return kDecode;
    return 0;
}

// Whether the input is a ContentInfo: its first element is the content type.
bool looksWrapped(const SGBinary* input) {
    Element outer;
    std::vector<Element> kids;
    return readWhole(&outer, input->data, input->length) && childrenOf(outer, &kids) &&
           !kids.empty() && kids[0].tag == 0x06;
}

struct Binary {
    SGBinary value{};
    ~Binary() { SG_GBW(SGBinary_Reset)(&value); }
};

struct DSKey {
    SGDSKey* key = static_cast<SGDSKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGDSKey)));
    bool loaded = false;
    ~DSKey() {
        if (!key) return;
        if (loaded) SG_GCW(SGDSKey_Clear)(key);
        SG_GBW(SGMemory_free)(key);
    }
};

bool isKcdsa(int kind) {
    return kind == SG_PKCS7_KEY_KCDSA || kind == SG_PKCS7_KEY_KCDSA2;
}

// ---------------------------------------------------------------------------------------------
// Signing.

// The signature of the data through the key handle into the 512-byte buffer.
int makeEncryptedDigest(SGBinary* signature, Span data, int keyKind, int digestId,
                        bool signedAttributes, const SGCryptoHandlerKey* key,
                        const SGPKCS7SignedDataParameters& options) {
    if (data.size > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    SGBinary message{const_cast<uint8_t*>(data.data), static_cast<uint32_t>(data.size)};
    uint8_t digestInfo[128];
    if (keyKind == SG_PKCS7_KEY_RSA) {
        int input[2] = {0, 0};
        if (!signedAttributes) {
            input[0] = options.contentMode != SG_PKCS7_MODE_MESSAGE;
            input[1] = options.externalSignerInput;
            if (options.contentMode == SG_PKCS7_MODE_HASH) {
                // A bare hash is signed as the DigestInfo of the digest, as every verifier
                // expects of a PKCS #1 v1.5 signature.
                unsigned length = sizeof digestInfo;
                if (SG_GCW(SGPKCS1_CreateDigestInfo)(digestInfo, &length, digestId, data.data,
                                                     nullptr, 0) != 0)
                    return SG_PKCS7_ERR_DIGEST;
                message = SGBinary{digestInfo, length};
            }
        }
        return SGCryptoHandler_Sign(
            signature, &message, SG_CRYPTO_HANDLER_ALGORITHM(digestId, SG_CRYPTO_HANDLER_RSA_PKCS1),
            key, input);
    }
    if (isKcdsa(keyKind))
        return SGCryptoHandler_Sign(signature, &message,
                                    SG_CRYPTO_HANDLER_ALGORITHM(digestId, SG_CRYPTO_HANDLER_KCDSA),
                                    key, nullptr);
    return SG_PKCS7_ERR_ALGORITHM;
}

// The DER of each attribute in the order they stand, one after the other: what the signature
// covers under a SET header and what the SignerInfo carries under [0]. A DER encoder would sort
// the SET and so change the signed bytes.
int attributesInOrder(Binary* out, const SignedAttributes_t* attributes) {
    for (int i = 0; i < attributes->list.count; ++i) {
        Binary one;
        if (SGASN1CObject_Encode(&one.value, &asn_DEF_Attribute, attributes->list.array[i]) != 0)
            return kEncode;
        if (SG_GBW(SGBinary_Add)(&out->value, one.value.data, one.value.length) != 0)
            return SG_PKI_ERR_MEMORY;
    }
    return 0;
}

// What the signing builds, freed together.
struct Signing {
    SignedData_t signedData{};
    SignerInfo_t signerInfo{};
    OCTET_STRING_t contentView{};  // the caller's bytes, never freed through it
    ~Signing() {
        signedData.encapContentInfo.eContent = nullptr;
        SGASN1CObject_Clear(&signedData, &asn_DEF_SignedData);
        SGASN1CObject_Clear(&signerInfo, &asn_DEF_SignerInfo);
    }
};

int setCommonData(Signing* s, const SGX509Certificate* certificate, int flags, int digestId) {
    SignedData_t& sd = s->signedData;
    if (SGASN1CInteger_Set(&sd.version, 1) != 0) return SG_PKI_ERR_MEMORY;
    auto* algorithm = newStructure<AlgorithmIdentifier_t>();
    if (!algorithm) return SG_PKI_ERR_MEMORY;
    int r = SGPKCS7ASN1C_SetDigestAlgorithmIdentifier(algorithm, digestId, nullptr);
    if (r == 0 && SGASN1CSet_Add(&sd.digestAlgorithms, algorithm) != 0) r = SG_PKI_ERR_MEMORY;
    if (r != 0) {
        SGASN1CObject_Free(algorithm, &asn_DEF_AlgorithmIdentifier);
        return r;
    }
    if ((r = SGPKCS7ASN1C_SetContentType(&sd.encapContentInfo.eContentType, SG_PKCS7_DATA)))
        return r;
    if (flags & SG_PKCS7_ADD_CERTIFICATE) {
        Owned<CertificateSet_t> set(newStructure<CertificateSet_t>(), &asn_DEF_CertificateSet);
        auto* choice = newStructure<CertificateChoices_t>();
        if (!set.value || !choice) {
            SGASN1C_free(choice);
            return SG_PKI_ERR_MEMORY;
        }
        choice->present = CertificateChoices_PR_certificate;
        r = SGASN1CObject_Copy(&choice->choice.certificate, certificate->certificate,
                               &asn_DEF_Certificate);
        if (r == 0 && SGASN1CSet_Add(set.value, choice) != 0) r = SG_PKI_ERR_MEMORY;
        if (r != 0) {
            SGASN1CObject_Free(choice, &asn_DEF_CertificateChoices);
            return r == SG_PKI_ERR_MEMORY ? r : kEncode;
        }
        sd.certificates = set.release();
    }
    return 0;
}

int addSignerInfo(Signing* s, const SGX509Certificate* certificate, int keyKind,
                  const SGPKCS7SignedDataParameters& options) {
    SignerInfo_t& si = s->signerInfo;
    if (SGASN1CInteger_Set(&si.version, 1) != 0) return SG_PKI_ERR_MEMORY;
    si.sid.present = SignerIdentifier_PR_issuerAndSerialNumber;
    if (int r =
            SGPKCS7ASN1C_SetIssuerAndSerialNumber(&si.sid.choice.issuerAndSerialNumber, certificate,
                                                  options.flags & SG_PKCS7_SIGNER_BY_SUBJECT))
        return r;
    if (int r = SGPKCS7ASN1C_SetDigestAlgorithmIdentifier(&si.digestAlgorithm, options.digestId,
                                                          nullptr))
        return r;
    const SGBinary nullParameters{};
    if (int r = SGPKCS7ASN1C_SetAlgorithmIdentifier(&si.signatureAlgorithm, keyKind,
                                                    SG_PKCS7_DIGEST_NONE, &nullParameters))
        return r;
    if (options.unsignedAttributes) {
        Owned<UnsignedAttributes_t> set(newStructure<UnsignedAttributes_t>(),
                                        &asn_DEF_UnsignedAttributes);
        if (!set.value) return SG_PKI_ERR_MEMORY;
        if (int r = SGPKCS7ASN1CUnsignedAttributes_Set(set.value, options.unsignedAttributes))
            return r;
        si.unsignedAttrs = set.release();
    }
    return 0;
}

// The SignerInfo's DER with the signed attributes spliced in after its digest algorithm.
int encodeSignerInfo(Binary* out, const SignerInfo_t& si, const Binary& attributes) {
    Binary plain;
    if (SGASN1CObject_Encode(&plain.value, &asn_DEF_SignerInfo, &si) != 0) return kEncode;
    Element element;
    std::vector<Element> fields;
    if (!readWhole(&element, plain.value.data, plain.value.length) ||
        !childrenOf(element, &fields) || fields.size() < 5)
        return kEncode;
    const Header attributesHeader(kTagContext0, attributes.value.length);
    std::vector<Span> body;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i == 3 && attributes.value.length) {
            body.push_back(attributesHeader.span());
            body.push_back({attributes.value.data, attributes.value.length});
        }
        body.push_back(spanOf(fields[i]));
    }
    const Header header(kTagSequence, totalOf(body));
    body.insert(body.begin(), header.span());
    return join(&out->value, body);
}

// The output: the SignedData with the content (unless detached) and the one SignerInfo spliced
// in, wrapped in a ContentInfo unless bare.
int encodeOutput(SGBinary* out, const SignedData_t& sd, const Binary& signerInfo,
                 const SGBinary* content, int flags) {
    Binary plain;
    if (SGASN1CObject_Encode(&plain.value, &asn_DEF_SignedData, &sd) != 0) return kEncode;
    Element element;
    std::vector<Element> fields;
    if (!readWhole(&element, plain.value.data, plain.value.length) ||
        !childrenOf(element, &fields) || fields.size() < 4 || fields.back().length != 2)
        return kEncode;
    // encapContentInfo: its type, and the content unless detached.
    std::vector<Element> eci;
    if (!childrenOf(fields[2], &eci) || eci.size() != 1) return kEncode;
    const bool attached = !(flags & SG_PKCS7_DETACHED);
    const size_t contentSize = attached ? content->length : 0;
    const Header octets(kTagOctetString, contentSize);
    const Header explicit0(kTagContext0, octets.size + contentSize);
    const Header eciHeader(
        kTagSequence, eci[0].length + (attached ? explicit0.size + octets.size + contentSize : 0));
    const Header signers(kTagSet, signerInfo.value.length);

    std::vector<Span> body = {spanOf(fields[0]), spanOf(fields[1]), eciHeader.span(),
                              spanOf(eci[0])};
    if (attached) {
        body.push_back(explicit0.span());
        body.push_back(octets.span());
        body.push_back({content->data, contentSize});
    }
    for (size_t i = 3; i + 1 < fields.size(); ++i) body.push_back(spanOf(fields[i]));
    body.push_back(signers.span());
    body.push_back({signerInfo.value.data, signerInfo.value.length});
    const size_t signedDataSize = totalOf(body);
    const Header signedData(kTagSequence, signedDataSize);
    const Header explicitContent(kTagContext0, signedData.size + signedDataSize);
    const Header contentInfo(kTagSequence, sizeof kSignedDataOid + explicitContent.size +
                                               signedData.size + signedDataSize);
    std::vector<Span> parts;
    if (!(flags & SG_PKCS7_BARE)) {
        parts.push_back(contentInfo.span());
        parts.push_back({kSignedDataOid, sizeof kSignedDataOid});
        parts.push_back(explicitContent.span());
    }
    parts.push_back(signedData.span());
    parts.insert(parts.end(), body.begin(), body.end());
    return join(out, parts);
}

int sign(SGBinary* out, const SGBinary* content, const SGX509Certificate* certificate,
         const SGBinary* crl, const SGCryptoHandlerKey* key,
         const SGPKCS7SignedDataParameters& options) {
    const int flags = options.flags;
    // Checked before the key is asked for anything: a token may prompt for its password.
    if ((flags & SG_PKCS7_REQUIRE_CRL) && !crl) return SG_PKCS7_ERR_NO_CRL;
    int keyKind = 0;
    if (int r = SGPKCS7_GetSignatureID(&keyKind, nullptr, certificate)) return r;
    const bool signedAttributes = flags & SG_PKCS7_SIGNED_ATTRIBUTES;
    if (isKcdsa(keyKind) && options.contentMode != SG_PKCS7_MODE_MESSAGE && !signedAttributes)
        return SG_PKCS7_ERR_OPTION;  // KCDSA hashes the message itself
    if (options.contentMode == SG_PKCS7_MODE_HASH) {
        const int size = SG_GCW(SGDigest_GetDigestSize)(options.digestId);
        if (size <= 0 || size > 64) return SG_PKCS7_ERR_DIGEST;
        if (content->length != static_cast<uint32_t>(size)) return SG_PKI_ERR_ARGUMENT;
    }

    Signing s;
    if (int r = setCommonData(&s, certificate, flags, options.digestId)) return r;
    if (int r = addSignerInfo(&s, certificate, keyKind, options)) return r;

    Binary attributes;
    Span toBeSigned{content->data, content->length};
    Binary attributeSet;
    if (signedAttributes) {
        s.contentView.buf = content->data;
        s.contentView.size = static_cast<int>(content->length);
        s.signedData.encapContentInfo.eContent = &s.contentView;
        int r = SGPKCS7ASN1C_SetSignedAttributes(&s.signerInfo, &s.signedData.encapContentInfo,
                                                 &options);
        s.signedData.encapContentInfo.eContent = nullptr;
        if (r != 0) return r;
        if ((r = attributesInOrder(&attributes, s.signerInfo.signedAttrs))) return r;
        const Header set(kTagSet, attributes.value.length);
        if ((r = join(&attributeSet.value,
                      {set.span(), {attributes.value.data, attributes.value.length}})))
            return r;
        toBeSigned = {attributeSet.value.data, attributeSet.value.length};
    } else if (options.contentMode == SG_PKCS7_MODE_DIGEST_INFO) {
        // A DigestInfo of another digest would give a signature no verifier accepts.
        uint8_t hash[64];
        unsigned hashLength = 0;
        if (int r =
                digestInfoHash(hash, &hashLength, options.digestId, content->data, content->length))
            return r;
    }
    // The signed attributes are spliced in as they stand, so the structure goes without them.
    if (s.signerInfo.signedAttrs) {
        SGASN1CObject_Free(s.signerInfo.signedAttrs, &asn_DEF_SignedAttributes);
        s.signerInfo.signedAttrs = nullptr;
    }

    uint8_t signatureBytes[kSignatureCapacity];
    SGBinary signature{signatureBytes, sizeof signatureBytes};
    if (int r = makeEncryptedDigest(&signature, toBeSigned, keyKind, options.digestId,
                                    signedAttributes, key, options))
        return r;
    if (SGASN1COctetString_SetFromBuf(&s.signerInfo.signature, signature.data,
                                      static_cast<int>(signature.length)) != 0)
        return SG_PKI_ERR_MEMORY;

    Binary signerInfo;
    if (int r = encodeSignerInfo(&signerInfo, s.signerInfo, attributes)) return r;
    return encodeOutput(out, s.signedData, signerInfo, content, flags);
}

// ---------------------------------------------------------------------------------------------
// Reading a SignerInfo.

int addTuple(SGBinaryTupleList* list, const char* name, const uint8_t* value, size_t size) {
    SGBinary key{reinterpret_cast<unsigned char*>(const_cast<char*>(name)),
                 static_cast<uint32_t>(std::strlen(name))};
    SGBinary v{const_cast<uint8_t*>(value), static_cast<uint32_t>(size)};
    return SG_GBW(SGBinaryTupleList_Add)(list, &key, &v) == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

// The signingTime value, UTCTime or GeneralizedTime, as seconds since 1970 UTC.
int signingTimeOf(time_t* out, const ANY_t* value) {
    Owned<Time_t> time(nullptr, &asn_DEF_Time);
    if (decodeAs(&time, &asn_DEF_Time, value->buf, static_cast<size_t>(value->size)) != 0)
        return kDecode;
    struct tm tm;
    int r;
    switch (time.value->present) {
        case Time_PR_utcTime:
            r = SGASN1CUTCTime_ToTm(out, &tm, &time.value->choice.utcTime, 1);
            break;
        case Time_PR_generalTime:
            r = SGASN1CGeneralizedTime_ToTm(out, &tm, &time.value->choice.generalTime, 1);
            break;
        default:
            r = kDecode;
    }
    return r == 0 ? 0 : kDecode;
}

int listAttribute(SGBinaryTupleList* list, const Attribute_t* attribute) {
    const ANY_t* first =
        attribute->values.list.count > 0 ? attribute->values.list.array[0] : nullptr;
    const bool hasValue = first && first->buf && first->size > 0;
    switch (oidIdOf(attribute->type)) {
        case SG_OID_CONTENT_TYPE:
            return addTuple(list, "CONTENT_TYPE", nullptr, 0);
        case SG_OID_MESSAGE_DIGEST: {
            if (!hasValue) return 0;
            Owned<OCTET_STRING_t> digest(nullptr, &asn_DEF_OCTET_STRING);
            if (decodeAs(&digest, &asn_DEF_OCTET_STRING, first->buf,
                         static_cast<size_t>(first->size)) != 0)
                return kDecode;
            return addTuple(list, "MESSAGE_DIGEST", digest.value->buf,
                            digest.value->size > 0 ? static_cast<size_t>(digest.value->size) : 0);
        }
        case SG_OID_SIGNING_TIME: {
            if (!hasValue) return 0;
            time_t t = 0;
            if (signingTimeOf(&t, first) != 0) return kDecode;
            return addTuple(list, "SIGNING_TIME", reinterpret_cast<const uint8_t*>(&t), sizeof t);
        }
        default: {
            char name[kAttributeNameMax + 1] = {};
            // A longer type is listed under its first 128 characters.
            const int r = SGASN1CObjectIdentifier_ToString(name, sizeof name, &attribute->type);
            if (r != 0 && r != SG_PKI_ERR_OUT_OF_RANGE) return kDecode;
            return addTuple(list, name, hasValue ? first->buf : nullptr,
                            hasValue ? static_cast<size_t>(first->size) : 0);
        }
    }
}

// The view of a decoded SignerInfo, whose received bytes are element.
int viewSignerInfo(SGPKCS7SignerInfo* view, const SignerInfo_t* decoded, const Element& element) {
    std::vector<Element> fields;
    if (element.tag != kTagSequence || !childrenOf(element, &fields) || fields.size() < 5)
        return kDecode;

    // The sid's DER: the IssuerAndSerialNumber, or the identifier as it is for the other choice.
    int r = decoded->sid.present == SignerIdentifier_PR_issuerAndSerialNumber
                ? SGASN1CObject_Encode(&view->signerIdentifier, &asn_DEF_IssuerAndSerialNumber,
                                       &decoded->sid.choice.issuerAndSerialNumber)
                : SGASN1CObject_Encode(&view->signerIdentifier, &asn_DEF_SignerIdentifier,
                                       &decoded->sid);
    if (r != 0) return kDecode;
    if ((r = SGPKCS7ASN1C_GetDigestAlgorithmIdentifier(&view->digestId, nullptr,
                                                       &decoded->digestAlgorithm)))
        return r;
    SGBinary parameters{};
    if ((r = SGPKCS7ASN1C_GetEncryptionAlgorithmIdentifier(&view->keyKind, &parameters,
                                                           &decoded->signatureAlgorithm)))
        return r;
    if (parameters.data) {
        view->parameters = static_cast<SGBinary*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGBinary)));
        if (!view->parameters) {
            SG_GBW(SGBinary_Reset)(&parameters);
            return SG_PKI_ERR_MEMORY;
        }
        *view->parameters = parameters;
    }
    if (SGASN1COctetString_GetCopiedData(&view->signature, &decoded->signature) != 0)
        return SG_PKI_ERR_MEMORY;

    const bool rawAttributes = fields[3].tag == kTagContext0;
    if (rawAttributes != (decoded->signedAttrs != nullptr)) return kDecode;
    if (!rawAttributes) return 0;
    // The bytes the signature covers: the received [0] element read as a SET.
    view->signedAttributes = newRecord(fields[3].at, fields[3].length);
    if (!view->signedAttributes) return SG_PKI_ERR_MEMORY;
    view->signedAttributes->data[0] = kTagSet;
    view->attributes = SG_GBW(SGBinaryTupleList_New)();
    if (!view->attributes) return SG_PKI_ERR_MEMORY;
    for (int i = 0; i < decoded->signedAttrs->list.count; ++i)
        if ((r = listAttribute(view->attributes, decoded->signedAttrs->list.array[i]))) return r;
    return 0;
}

int readSignerInfo(SGPKCS7SignerInfo* view, const uint8_t* der, size_t size) {
    Element element;
    if (!readWhole(&element, der, size)) return kDecode;
    Owned<SignerInfo_t> si(nullptr, &asn_DEF_SignerInfo);
    if (decodeAs(&si, &asn_DEF_SignerInfo, der, element.length) != 0) return kDecode;
    return viewSignerInfo(view, si.value, element);
}

// ---------------------------------------------------------------------------------------------
// Verifying.

struct Received {
    const SignedData_t* signedData;
    const SignedDataBytes* bytes;
    Span content;
};

bool sameInteger(const INTEGER_t& a, const INTEGER_t& b) {
    return a.size == b.size && a.size > 0 && std::memcmp(a.buf, b.buf, a.size) == 0;
}

// The first plain certificate whose name (issuer, or subject) and serial are the sid's; its
// index in the certificates, -1 for none. Certificates of other kinds are passed over.
int findSigner(const SignedData_t& sd, const IssuerAndSerialNumber_t& sid, bool bySubject) {
    if (!sd.certificates) return -1;
    for (int i = 0; i < sd.certificates->list.count; ++i) {
        const CertificateChoices_t* choice = sd.certificates->list.array[i];
        if (!choice || choice->present != CertificateChoices_PR_certificate) continue;
        const TBSCertificate_t& tbs = choice->choice.certificate.tbsCertificate;
        if (SGASN1CName_Compare(bySubject ? &tbs.subject : &tbs.issuer, &sid.issuer) == 0 &&
            sameInteger(tbs.serialNumber, sid.serialNumber))
            return i;
    }
    return -1;
}

// The hash that messageDigest must equal, by content mode.
int expectedDigest(uint8_t* digest, unsigned* length, int digestId, int mode, Span content) {
    const int size = SG_GCW(SGDigest_GetDigestSize)(digestId);
    if (size <= 0 || size > 64) return SG_PKCS7_ERR_DIGEST;
    *length = static_cast<unsigned>(size);
    switch (mode) {
        case SG_PKCS7_MODE_DIGEST_INFO:
            return digestInfoHash(digest, length, digestId, content.data, content.size);
        case SG_PKCS7_MODE_HASH:
            if (content.size != *length) return SG_PKCS7_ERR_MESSAGE_DIGEST;
            std::memcpy(digest, content.data, content.size);
            return 0;
        default:
            if (content.size > UINT32_MAX ||
                SG_GCW(SGDigest)(digest, digestId, content.data,
                                 static_cast<uint32_t>(content.size)) != 0)
                return SG_PKI_ERR_INTERNAL;
            return 0;
    }
}

struct Verified {
    std::vector<Span> signers;  // each signer's certificate as received
    time_t signingTime = 0;
    bool hasSigningTime = false;
};

int verifySignerInfo(const SGPKCS7SignerInfo& view, const Received& in,
                     const SGPKCS7SignedDataParameters& options, Verified* out) {
    // 1. The signer identifier.
    Owned<IssuerAndSerialNumber_t> sid(nullptr, &asn_DEF_IssuerAndSerialNumber);
    if (decodeAs(&sid, &asn_DEF_IssuerAndSerialNumber, view.signerIdentifier.data,
                 view.signerIdentifier.length) != 0)
        return SG_PKCS7_ERR_SIGNER_ID;
    // 2. Its certificate.
    const int index =
        findSigner(*in.signedData, *sid.value, options.flags & SG_PKCS7_SIGNER_BY_SUBJECT);
    if (index < 0) return SG_PKI_ERR_NOT_SUPPORTED;
    const Certificate_t& certificate =
        in.signedData->certificates->list.array[index]->choice.certificate;
    // A certificate the library cannot hold (serial number over 20 bytes) cannot be handed out.
    if (certificate.tbsCertificate.serialNumber.size > 20) return SG_X509_ERR_SERIAL_TOO_LONG;
    // 3. Digest and scheme.
    if (view.digestId < SG_DIGEST_SHA1 || view.digestId > 9) return SG_PKCS7_ERR_DIGEST;
    SGDSParameter parameter;
    std::memset(&parameter, 0, sizeof parameter);
    const SubjectPublicKeyInfo_t& keyInfo = certificate.tbsCertificate.subjectPublicKeyInfo;
    int keyKind;
    if (isKcdsa(view.keyKind)) {
        parameter.kind = SG_DS_KCDSA;
        parameter.kcdsaHashId = view.digestId;
        if (const ANY_t* domain = keyInfo.algorithm.parameters) {
            parameter.kcdsaDomainParameters = domain->buf;
            parameter.kcdsaDomainParametersLength = static_cast<uint32_t>(domain->size);
        }
        keyKind = SG_DSKEY_KCDSA_PUBLIC;
    } else if (view.keyKind == SG_PKCS7_KEY_RSA) {
        parameter.kind = SG_DS_RSASSA_PKCS1_V15;
        parameter.v15HashId = view.digestId;
        keyKind = SG_DSKEY_RSA_PUBLIC;
    } else {
        return SG_PKCS7_ERR_SIGNATURE_KIND;
    }
    // 4. The key.
    DSKey key;
    if (!key.key) return SG_PKI_ERR_MEMORY;
    if (SG_GCW(SGDSKey_Decode)(key.key, keyInfo.subjectPublicKey.buf, keyInfo.subjectPublicKey.size,
                               keyKind) != 0)
        return SG_PKCS7_ERR_KEY;
    key.loaded = true;
    parameter.key = key.key;

    // 5 and 6. What the signature covers.
    Span signedBytes = in.content;
    uint8_t digestInfo[128];
    if (view.signedAttributes) {
        SGBinary found{};
        if (options.signingTime &&
            SG_GBW(SGBinaryTupleList_FindAsString)(&found, view.attributes, "SIGNING_TIME") == 0 &&
            found.length == sizeof(time_t)) {
            std::memcpy(&out->signingTime, found.data, sizeof(time_t));
            out->hasSigningTime = true;
        }
        if (!view.attributes ||
            SG_GBW(SGBinaryTupleList_FindAsString)(&found, view.attributes, "MESSAGE_DIGEST") != 0)
            return SG_PKCS7_ERR_NO_MESSAGE_DIGEST;
        uint8_t digest[64];
        unsigned digestLength = 0;
        if (int r = expectedDigest(digest, &digestLength, view.digestId, options.contentMode,
                                   in.content))
            return r;
        // Exactly the digest's length: a shorter value never compares over what follows it.
        if (found.length != digestLength || std::memcmp(found.data, digest, digestLength) != 0)
            return SG_PKCS7_ERR_MESSAGE_DIGEST;
        signedBytes = {view.signedAttributes->data, view.signedAttributes->length};
    } else if (view.keyKind == SG_PKCS7_KEY_RSA && options.contentMode != SG_PKCS7_MODE_MESSAGE) {
        parameter.v15HashId = SG_PKCS1_HASH_AS_GIVEN;
        parameter.alreadyHashed = 1;
        if (options.contentMode == SG_PKCS7_MODE_HASH) {
            // A hash of another length is not the one signed (and is never read past its end).
            const int size = SG_GCW(SGDigest_GetDigestSize)(view.digestId);
            if (size <= 0 || in.content.size != static_cast<size_t>(size))
                return SG_PKCS7_ERR_BAD_SIGNATURE;
            unsigned length = sizeof digestInfo;
            if (SG_GCW(SGPKCS1_CreateDigestInfo)(digestInfo, &length, view.digestId,
                                                 in.content.data, nullptr, 0) != 0)
                return SG_PKCS7_ERR_DIGEST;
            signedBytes = {digestInfo, length};
        }
    }
    if (signedBytes.size > INT_MAX || view.signature.length > INT_MAX)
        return SG_PKI_ERR_OUT_OF_RANGE;
    const int r =
        SG_GCW(SGDS_Verify)(view.signature.data, static_cast<int>(view.signature.length),
                            signedBytes.data, static_cast<int>(signedBytes.size), &parameter);
    // 7. The outcome.
    if (r == SG_PKCS1_ERR_SIGNATURE || r == SG_KCDSA_ERR_INVALID) return SG_PKCS7_ERR_BAD_SIGNATURE;
    if (r != 0) return r;
    // The certificate as it was received.
    if (static_cast<size_t>(index) >= in.bytes->certificates.size()) return kDecode;
    out->signers.push_back(spanOf(in.bytes->certificates[static_cast<size_t>(index)]));
    return 0;
}

// The SignedData of the input: its elements and its decoded structure.
struct Input {
    SignedDataBytes bytes;
    Owned<SignedData_t> signedData{nullptr, &asn_DEF_SignedData};
    // The encapsulated content: its octets where they stand in the input, or gathered from the
    // segments of a constructed OCTET STRING.
    bool hasContent = false;
    Span content{kEmpty, 0};
    Owned<OCTET_STRING_t> segmented{nullptr, &asn_DEF_OCTET_STRING};
};

// Decodes the SignedData without its content, which can be large and is read where it stands:
// the structure is decoded from a copy of the other fields, and the content element is checked
// on its own.
int readInput(Input* in, const SGBinary* input, bool bare) {
    if (int r = readSignedData(&in->bytes, input, bare)) return r;
    const SignedDataBytes& b = in->bytes;
    std::vector<Element> eci;
    if (b.fields[2].tag != kTagSequence || !childrenOf(b.fields[2], &eci) || eci.empty() ||
        eci.size() > 2)
        return kDecode;
    const Header eciHeader(kTagSequence, eci[0].length);
    std::vector<Span> fields = {spanOf(b.fields[0]), spanOf(b.fields[1]), eciHeader.span(),
                                spanOf(eci[0])};
    for (size_t i = 3; i < b.fields.size(); ++i) fields.push_back(spanOf(b.fields[i]));
    const Header header(kTagSequence, totalOf(fields));
    fields.insert(fields.begin(), header.span());
    Binary shadow;
    if (int r = join(&shadow.value, fields)) return r == SG_PKI_ERR_MEMORY ? r : kDecode;
    if (decodeAs(&in->signedData, &asn_DEF_SignedData, shadow.value.data, shadow.value.length) != 0)
        return kDecode;
    if (eci.size() == 2) {
        std::vector<Element> explicitContent;
        if (eci[1].tag != kTagContext0 || !childrenOf(eci[1], &explicitContent) ||
            explicitContent.size() != 1)
            return kDecode;
        const Element& octets = explicitContent[0];
        if (octets.tag == kTagOctetString) {
            in->content = {octets.content ? octets.at + octets.header : kEmpty, octets.content};
        } else if (octets.tag == (kTagOctetString | 0x20)) {
            if (decodeAs(&in->segmented, &asn_DEF_OCTET_STRING, octets.at, octets.length) != 0)
                return kDecode;
            const OCTET_STRING_t& joined = *in->segmented.value;
            in->content = {joined.buf && joined.size > 0 ? joined.buf : kEmpty,
                           joined.size > 0 ? static_cast<size_t>(joined.size) : 0};
        } else {
            return kDecode;
        }
        in->hasContent = true;
    }
    if (in->signedData.value->signerInfos.list.count != static_cast<int>(b.signers.size()))
        return kDecode;
    const int certificates =
        in->signedData.value->certificates ? in->signedData.value->certificates->list.count : 0;
    if (certificates != static_cast<int>(b.certificates.size())) return kDecode;
    return 0;
}

int verify(SGBinary* contentOut, SGCertificateSet* signerSet, const SGBinary* signedData,
           const SGBinary* detachedContent, const SGPKCS7SignedDataParameters& options) {
    if (options.contentMode < SG_PKCS7_MODE_MESSAGE || options.contentMode > SG_PKCS7_MODE_HASH)
        return SG_PKI_ERR_ARGUMENT;
    Input in;
    if (int r = readInput(&in, signedData, options.flags & SG_PKCS7_BARE)) return r;
    const SignedData_t& sd = *in.signedData.value;
    int type = 0;
    if (SGPKCS7ASN1C_GetContentType(&type, &sd.encapContentInfo.eContentType) != 0 ||
        type != SG_PKCS7_DATA)
        return SG_PKI_ERR_NOT_SUPPORTED;
    const bool eContent = in.hasContent;
    Span content{};
    if (eContent) {
        content = in.content;
    } else if (detachedContent && (detachedContent->data || detachedContent->length == 0)) {
        content = {detachedContent->data ? detachedContent->data : kEmpty, detachedContent->length};
    } else {
        return SG_PKCS7_ERR_NO_CONTENT;
    }
    if (sd.signerInfos.list.count < 1) return SG_PKI_ERR_NO_DATA;

    const Received received{&sd, &in.bytes, content};
    Verified verified;
    for (size_t i = 0; i < in.bytes.signers.size(); ++i) {
        SGPKCS7SignerInfo view{};
        int r = viewSignerInfo(&view, sd.signerInfos.list.array[i], in.bytes.signers[i]);
        if (r == 0) r = verifySignerInfo(view, received, options, &verified);
        SGPKCS7SignerInfo_Reset(&view);
        if (r != 0) return r;
    }
    // Every signer verified: only now does anything reach the caller.
    Binary copy;
    if (contentOut && eContent && content.size > 0 &&
        SG_GBW(SGBinary_Set)(&copy.value, content.data, static_cast<uint32_t>(content.size)) != 0)
        return SG_PKI_ERR_MEMORY;
    for (const Span& certificate : signerSet ? verified.signers : std::vector<Span>()) {
        SGBinary der{const_cast<uint8_t*>(certificate.data),
                     static_cast<uint32_t>(certificate.size)};
        if (int r = SGCertificateSet_Add(signerSet, SG_CERTSET_SIGN, &der, nullptr, "signerInfo",
                                         nullptr))
            return r;
    }
    if (contentOut && eContent) {
        SG_GBW(SGBinary_Reset)(contentOut);
        *contentOut = copy.value;
        copy.value = SGBinary{};
    }
    if (options.signingTime && verified.hasSigningTime) *options.signingTime = verified.signingTime;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Elements.

int setElements(SGBinary* out, const SGBinary* signedData, const SGBinary* content, int flags) {
    Input in;
    if (int r = readInput(&in, signedData, !looksWrapped(signedData))) return r;
    const SignedDataBytes& b = in.bytes;
    if (!(flags & 1)) {
        // As it was: a copy of the element's bytes (re-encoding would sort the signed
        // attributes and break their signatures).
        return join(out, {spanOf(b.outer)});
    }
    std::vector<Element> eci;
    if (!childrenOf(b.fields[2], &eci) || eci.empty()) return kDecode;
    // The new encapsulated content: data, the content as an OCTET STRING.
    static const uint8_t kDataOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                       0xF7, 0x0D, 0x01, 0x07, 0x01};
    const Header octets(kTagOctetString, content->length);
    const Header explicit0(kTagContext0, octets.size + content->length);
    const Header eciHeader(kTagSequence,
                           sizeof kDataOid + explicit0.size + octets.size + content->length);
    std::vector<Span> body;
    for (size_t i = 0; i < b.fields.size(); ++i) {
        if (i != 2) {
            body.push_back(spanOf(b.fields[i]));
            continue;
        }
        body.insert(body.end(), {eciHeader.span(),
                                 {kDataOid, sizeof kDataOid},
                                 explicit0.span(),
                                 octets.span(),
                                 {content->data, content->length}});
    }
    const size_t signedDataSize = totalOf(body);
    const Header sdHeader(kTagSequence, signedDataSize);
    const Header explicitContent(kTagContext0, sdHeader.size + signedDataSize);
    const Header contentInfo(
        kTagSequence, b.contentType.length + explicitContent.size + sdHeader.size + signedDataSize);
    std::vector<Span> parts;
    if (b.wrapped) {
        parts.push_back(contentInfo.span());
        parts.push_back(spanOf(b.contentType));
        parts.push_back(explicitContent.span());
    }
    parts.push_back(sdHeader.span());
    parts.insert(parts.end(), body.begin(), body.end());
    return join(out, parts);
}

int getElements(SGBinary* out, const SGBinary* signedData) {
    Input in;
    if (int r = readInput(&in, signedData, !looksWrapped(signedData))) return r;
    if (!in.hasContent) return SG_PKCS7_ERR_NO_CONTENT;
    SGBinary copy{};
    if (in.content.size > 0 &&
        SG_GBW(SGBinary_Set)(&copy, in.content.data, static_cast<uint32_t>(in.content.size)) != 0)
        return SG_PKI_ERR_MEMORY;
    SG_GBW(SGBinary_Reset)(out);
    *out = copy;
    return 0;
}

bool ready(const SGBinary* b) {
    return b && b->data && b->length > 0;
}

}  // namespace

extern "C" {

int SGPKCS7SignedData_Sign(SGBinary* out, const SGBinary* content,
                           const SGX509Certificate* signerCertificate, const SGBinary* crl,
                           const SGCryptoHandlerKey* key,
                           const SGPKCS7SignedDataParameters* options) {
    if (!out || !content || (!content->data && content->length) || content->length > INT_MAX ||
        !signerCertificate || !key || key->type == 0 || !options)
        return SG_PKI_ERR_ARGUMENT;
    if (options->contentMode < SG_PKCS7_MODE_MESSAGE || options->contentMode > SG_PKCS7_MODE_HASH ||
        (options->contentMode != SG_PKCS7_MODE_MESSAGE && !(options->flags & SG_PKCS7_DETACHED)))
        return SG_PKI_ERR_ARGUMENT;
    if (!signerCertificate->certificate) return SG_PKCS7_ERR_NO_CERTIFICATE;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    try {
        const SGBinary given{content->data ? content->data : const_cast<uint8_t*>(kEmpty),
                             content->length};
        return sign(out, &given, signerCertificate, crl, key, *options);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS7SignedData_Verify(SGBinary* contentOut, SGCertificateSet* signerSet,
                             const SGBinary* signedData, const SGBinary* detachedContent,
                             const SGPKCS7SignedDataParameters* options) {
    if (!ready(signedData)) return SG_PKI_ERR_ARGUMENT;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;
    const SGPKCS7SignedDataParameters defaults{};
    try {
        return verify(contentOut, signerSet, signedData, detachedContent,
                      options ? *options : defaults);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS7SignedDataElements_Set(SGBinary* out, const SGBinary* signedData,
                                  const SGBinary* content, int flags) {
    if (!out || !ready(signedData)) return SG_PKI_ERR_ARGUMENT;
    if ((flags & 1) &&
        (!content || (!content->data && content->length) || content->length > INT_MAX))
        return SG_PKI_ERR_ARGUMENT;
    try {
        return setElements(out, signedData, content, flags);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS7SignedDataElements_Get(SGBinary* out, const SGBinary* signedData, int flags) {
    if (!(flags & 1)) return 0;
    if (!out || !ready(signedData)) return SG_PKI_ERR_ARGUMENT;
    try {
        return getElements(out, signedData);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS7SignedDataElements_Reset(SGBinary* buffer) {
    if (!buffer) return SG_PKI_ERR_ARGUMENT;
    SG_GBW(SGBinary_Reset)(buffer);
    return 0;
}

int SGPKCS7SignedData_GetSignerInfo(SGPKCS7SignerInfo* view, const SGBinary* signerInfo) {
    if (!view || !ready(signerInfo)) return SG_PKI_ERR_ARGUMENT;
    std::memset(view, 0, sizeof *view);
    try {
        return readSignerInfo(view, signerInfo->data, signerInfo->length);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS7SignerInfo_Reset(SGPKCS7SignerInfo* view) {
    if (!view) return SG_PKI_ERR_ARGUMENT;
    SG_GBW(SGBinary_Reset)(&view->signerIdentifier);
    if (view->attributes) SG_GBW(SGBinaryTupleList_Free)(view->attributes);
    freeRecord(view->signedAttributes);
    freeRecord(view->parameters);
    SG_GBW(SGBinary_Reset)(&view->signature);
    std::memset(view, 0, sizeof *view);
    return 0;
}

int SGPKCS7SignedData_GetSignerCount(int* count, const SGBinary* signedData, int flags) {
    if (!count || !ready(signedData)) return SG_PKI_ERR_ARGUMENT;
    try {
        Input in;
        if (int r = readInput(&in, signedData, flags & SG_PKCS7_BARE)) return r;
        *count = in.signedData.value->signerInfos.list.count;
        return 0;
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGPKCS7SignedData_GetCountOfSigner(int* count, const SGBinary* signedData, int flags) {
    return SGPKCS7SignedData_GetSignerCount(count, signedData, flags);
}

}  // extern "C"
