// The CMP client's messages: the requests (header, genm, ir, kur, krr, rr, conf with their
// certificate requests, proofs of possession and encrypted VID) written as DER, and the replies
// (genp, ip, kup, krp, rp, error) read through the compiled CMP types after their protection
// has been checked over the bytes as received.
#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <string>

#include "CMPCertificate.h"
#include "CertRepMessage.h"
#include "CertResponse.h"
#include "CertifiedKeyPair.h"
#include "Clock.h"
#include "EncryptedValue.h"
#include "ErrorMsgContent.h"
#include "GenRepContent.h"
#include "InfoTypeAndValue.h"
#include "KeyRecRepContent.h"
#include "PKIBody.h"
#include "PKIFreeText.h"
#include "PKIMessage.h"
#include "PKIStatusInfo.h"
#include "RevRepContent.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGCMPConstants.h"
#include "SGCMPInternal.h"
#include "SGCipher.h"
#include "SGCodec.h"
#include "SGDigest.h"
#include "SGPKCS1.h"
#include "SGPKCSError.h"
#include "SGRSA.h"
#include "SGBaseError.h"
#include "SGMemory.h"
#include "SGRandom.h"
#include "SGServiceInternal.h"
#include "SGX509Certificate.h"

namespace brindlow::service::cmp {

namespace {

// OID ids of the table that only this component names.
constexpr int kOidKisaMarker = 96;           // 1.2.410.200004.10.1.2
constexpr int kOidCaEncryptionCert = 97;     // 1.2.410.200005.1.10.1
constexpr int kOidCaProtEncCert = 135;       // 1.3.6.1.5.5.7.4.1
constexpr int kOidOldCertId = 136;           // 1.3.6.1.5.5.7.5.1.5
constexpr int kErrMissingValue = 12444555;   // a genp entry without its value
constexpr int kErrUnknownInfoType = 233333;  // a genp entry type outside the OID table
constexpr int kVidRandomSize = 20;
constexpr int kNonceSize = 16;

// --- DER writing ---------------------------------------------------------------------------------

Bytes tlv(unsigned tag, const Bytes& content) {
    Bytes out{static_cast<unsigned char>(tag)};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        Bytes length;
        for (size_t v = n; v; v >>= 8) length.insert(length.begin(), static_cast<unsigned char>(v));
        out.push_back(static_cast<unsigned char>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes seq(std::initializer_list<Bytes> parts) {
    return tlv(0x30, cat(parts));
}

Bytes ctx(unsigned n, const Bytes& content) {
    return tlv(0xA0 | n, content);
}

Bytes integer(long value) {
    Bytes content;
    unsigned long v = static_cast<unsigned long>(value);
    do {
        content.insert(content.begin(), static_cast<unsigned char>(v & 0xFF));
        v >>= 8;
    } while (v);
    if (content[0] & 0x80) content.insert(content.begin(), 0);
    return tlv(0x02, content);
}

Bytes octets(const Bytes& b) {
    return tlv(0x04, b);
}

Bytes bits(const Bytes& b, unsigned unused = 0) {
    Bytes content{static_cast<unsigned char>(unused)};
    content.insert(content.end(), b.begin(), b.end());
    return tlv(0x03, content);
}

Bytes text(unsigned tag, const std::string& s) {
    return tlv(tag, Bytes(s.begin(), s.end()));
}

Bytes null() {
    return Bytes{0x05, 0x00};
}

Bytes oid(int id) {
    SGBinary* contents = SGASNObjectID_Get(id);
    if (!contents) return Bytes{};
    Bytes out = tlv(0x06, Bytes(contents->data, contents->data + contents->length));
    SG_GBW(SGBinary_Free)(contents);
    return out;
}

Bytes algorithm(int id, bool withNull) {
    return withNull ? seq({oid(id), null()}) : seq({oid(id)});
}

// The content octets of a DER value that starts at the front of der.
Bytes contentsOf(const Bytes& der) {
    if (der.size() < 2) return Bytes{};
    size_t at = 1;
    size_t n = der[at++];
    if (n & 0x80) {
        const size_t count = n & 0x7F;
        n = 0;
        for (size_t i = 0; i < count && at < der.size(); ++i) n = n << 8 | der[at++];
    }
    if (at + n > der.size()) return Bytes{};
    return Bytes(der.begin() + static_cast<long>(at), der.begin() + static_cast<long>(at + n));
}

// One whole TLV from p: its length in bytes, or 0 when it is not well formed.
size_t tlvLength(const unsigned char* p, size_t available) {
    if (available < 2 || (p[0] & 0x1F) == 0x1F) return 0;
    size_t at = 2;
    size_t n = p[1];
    if (n & 0x80) {
        const size_t count = n & 0x7F;
        if (count == 0 || count > 4 || available < at + count) return 0;
        n = 0;
        for (size_t i = 0; i < count; ++i) n = n << 8 | p[at++];
    }
    if (n > available - at) return 0;
    return at + n;
}

// A Name of one commonName, or the empty Name for an empty text.
Bytes nameOf(const std::string& s) {
    if (s.empty()) return seq({});
    return seq({tlv(0x31, seq({oid(SG_OID_COMMON_NAME), text(0x0C, s)}))});
}

// A GeneralName: directoryName [4] holds the Name.
Bytes directoryName(const Bytes& name) {
    return ctx(4, name);
}

Bytes generalizedNow() {
    const time_t now = platform::clockNow().tv_sec;
    struct tm tm {};
    gmtime_r(&now, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%d%H%M%SZ", &tm);
    return text(0x18, buffer);
}

Bytes toBytes(const SGBinary& b) {
    return b.data ? Bytes(b.data, b.data + b.length) : Bytes{};
}

// --- Certificates --------------------------------------------------------------------------------

struct CertificateFields {
    Bytes subject, issuer, serial;  // Names and the serial INTEGER, DER
    Bytes publicKey;                // the key bits: RSAPublicKey DER for RSA
    int keyBytes = 0;
};

int fieldsOf(CertificateFields& out, const Bytes& der) {
    if (der.empty()) return SG_PKI_ERR_ARGUMENT;
    SGX509Certificate handle{};
    SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
    if (int r = SGX509Certificate_FromBinary(&handle, &in)) return r;
    int result = 0;
    for (auto [entry, target] : {std::pair{SG_X509_ENTRY_SUBJECT, &out.subject},
                                 std::pair{SG_X509_ENTRY_ISSUER, &out.issuer},
                                 std::pair{SG_X509_ENTRY_SERIAL_NUMBER, &out.serial}}) {
        SGBinary field{};
        if (result == 0) result = SGX509Certificate_GetEncodedEntry(&field, &handle, entry);
        if (result == 0) *target = toBytes(field);
        SG_GBW(SGBinary_Reset)(&field);
    }
    int kind = 0;
    SGBinary keyBits{};
    if (result == 0)
        result =
            SGX509Certificate_GetPublicKeyInfo(&kind, &out.keyBytes, &keyBits, nullptr, &handle);
    if (result == 0) out.publicKey = toBytes(keyBits);
    SGX509Certificate_Clear(&handle);
    return result;
}

bool isCertificate(const Bytes& der) {
    SGX509Certificate handle{};
    SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
    const bool ok = !der.empty() && SGX509Certificate_FromBinary(&handle, &in) == 0;
    SGX509Certificate_Clear(&handle);
    return ok;
}

// --- Requests ------------------------------------------------------------------------------------

const char* operationTag(const SGCMPContext& c) {
    switch (c.operation) {
        case kIssue:
        case kRecover:
            return "QV_NEW_MAC";
        case kUpdate:
            if (c.caKind == 1) return c.shortUpdate || c.oldKey ? "SK_KUP" : "QV_NA_RENEW";
            if (c.caKind == 2 && c.makeKM) return "makekmcert";
            return "QV_UPDATE_MAC";
        case kRevoke:
            return c.caKind == 1 ? "QV_NA_REVOKE" : "QV_REVOKE_MAC";
        default:
            return nullptr;
    }
}

// The sender of issue and recovery: the sender text as one common name.
Bytes senderOf(const SGCMPContext& c, Bytes* subjectName = nullptr) {
    if (c.operation == kUpdate || c.operation == kRevoke) {
        CertificateFields f;
        if (c.oldCertificates.empty() || fieldsOf(f, c.oldCertificates[0]) != 0) return Bytes{};
        if (subjectName) *subjectName = f.subject;
        return directoryName(f.subject);
    }
    return directoryName(nameOf(c.senderName));
}

int header(Bytes& out, SGCMPContext& c, const Bytes& protectionAlg) {
    const char* tag = operationTag(c);
    if (!tag) return SG_PKI_ERR_ARGUMENT;
    Bytes sender, recipient;
    if (c.operation == kUpdate || c.operation == kRevoke) {
        CertificateFields f;
        if (c.oldCertificates.empty() || fieldsOf(f, c.oldCertificates[0]) != 0)
            return SG_CMP_ERR_OLD_CERTIFICATE;
        sender = directoryName(f.subject);
        recipient =
            c.caKind == 2 ? directoryName(f.issuer) : directoryName(nameOf(c.recipientName));
        if (c.operation == kUpdate) {
            const std::string kid = serialText(contentsOf(f.serial), c.caKind == 2);
            c.senderKID.assign(kid.begin(), kid.end());
        }
    } else {
        sender = directoryName(nameOf(c.senderName));
        recipient = directoryName(nameOf(c.recipientName));
    }
    c.freeText.emplace_back(tag);
    Bytes texts;
    for (const std::string& t : c.freeText) {
        const Bytes one = text(0x0C, t);
        texts.insert(texts.end(), one.begin(), one.end());
    }
    out = seq({integer(0), sender, recipient, ctx(0, generalizedNow()),
               protectionAlg.empty() ? Bytes{} : ctx(1, protectionAlg),
               c.senderKID.empty() ? Bytes{} : ctx(2, octets(c.senderKID)),
               c.recipKID.empty() ? Bytes{} : ctx(3, octets(c.recipKID)),
               c.senderNonce.empty() ? Bytes{} : ctx(5, octets(c.senderNonce)),
               ctx(7, tlv(0x30, texts))});
    return 0;
}

// Signs data with a key of the callbacks through the size query.
int signWith(Bytes& signature, const Bytes& data, int keyIndex, const SGCMPContext& c) {
    return SGCMPProtection_GenerateSignature(signature, data, keyIndex, c.sha256, c.callbacks);
}

int rsaEncrypt(Bytes& out, const Bytes& message, const Bytes& rsaPublicKey) {
    auto* key = static_cast<SGRSAPublicKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGRSAPublicKey)));
    auto* p = static_cast<SGPKCS1Parameter*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGPKCS1Parameter)));
    int r = key && p ? 0 : SG_PKI_ERR_MEMORY;
    if (r == 0 && SG_GCW(SGRSAPublicKey_Decode)(key, rsaPublicKey.data(),
                                                static_cast<int>(rsaPublicKey.size())) != 0)
        r = SG_CMP_ERR_NO_ENCRYPTION_CERT;
    if (r == 0) {
        p->encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
        p->publicKey = key;
        unsigned length = 0;
        r = SG_GCW(SGPKCS1_Encrypt)(nullptr, &length, message.data(),
                                    static_cast<unsigned>(message.size()), p);
        if (r == SG_PKCS1_ERR_OUTPUT_TOO_SHORT && length > 0 && length <= 1024) {
            out.resize(length);
            r = SG_GCW(SGPKCS1_Encrypt)(out.data(), &length, message.data(),
                                        static_cast<unsigned>(message.size()), p);
            out.resize(r == 0 ? length : 0);
        } else if (r == 0) {
            r = SG_PKI_ERR_INTERNAL;
        }
    }
    if (key) {
        SG_GCW(SGRSAPublicKey_Free)(key);
        SG_GBW(SGMemory_free)(key);
    }
    if (p) SG_GBW(SGMemory_free)(p);
    return r;
}

// The KISA encrypted VID of the request: the VID of the dummy identity number and the VID
// random, encrypted to the authority's encryption certificate.
int encryptedVID(Bytes& out, SGCMPContext& c) {
    if (c.caEncryptionCertificate.empty()) return SG_CMP_ERR_NO_ENCRYPTION_CERT;
    CertificateFields ca;
    if (fieldsOf(ca, c.caEncryptionCertificate) != 0) return SG_CMP_ERR_NO_ENCRYPTION_CERT;
    if (c.vidRandom.bytes.empty()) {
        c.vidRandom.bytes.resize(kVidRandomSize);
        if (SG_GCW(SGRandom_bytes)(c.vidRandom.bytes.data(), kVidRandomSize) != 0) {
            wipe(c.vidRandom.bytes);
            return SG_PKI_ERR_INTERNAL;
        }
    }
    Secret hashContent, content;
    hashContent.bytes = seq({text(0x13, kDummyIdentityNumber), bits(c.vidRandom.bytes)});
    Bytes inner(32), virtualID(32);
    if (SG_GCW(SGDigest)(inner.data(), SG_DIGEST_SHA256, hashContent.bytes.data(),
                         static_cast<uint32_t>(hashContent.bytes.size())) != 0 ||
        SG_GCW(SGDigest)(virtualID.data(), SG_DIGEST_SHA256, inner.data(), 32) != 0)
        return SG_PKI_ERR_INTERNAL;
    content.bytes = seq({seq({algorithm(SG_OID_SHA256, true), ctx(0, octets(virtualID))}),
                         bits(c.vidRandom.bytes)});
    Bytes encrypted;
    if (int r = rsaEncrypt(encrypted, content.bytes, ca.publicKey)) return r;
    const Bytes certID = seq({c.caKind == 3 ? ca.subject : ca.issuer, ca.serial});
    out =
        seq({ctx(1, algorithm(SG_OID_SHA256, true)), ctx(2, algorithm(SG_OID_RSA_ENCRYPTION, true)),
             ctx(3, certID), ctx(4, octets(encrypted))});
    return 0;
}

// The old certificate's id for request n of an update.
int oldCertId(Bytes& out, const SGCMPContext& c, int n) {
    const Bytes* certificate = &c.oldCertificates[0];
    bool plusOne = false;
    if (n == 1) {
        if (c.oldCertificates.size() > 1 && !c.oldKey) {
            certificate = &c.oldCertificates[1];
        } else if (c.caKind == 1 || c.caKind == 2 || c.oldKey) {
            plusOne = true;
        } else {
            return SG_CMP_ERR_OLD_CERT_ID;
        }
    }
    CertificateFields f;
    if (fieldsOf(f, *certificate) != 0) return SG_CMP_ERR_OLD_CERTIFICATE;
    Bytes serial = contentsOf(f.serial);
    if (plusOne) {
        size_t i = serial.size();
        while (i > 0 && ++serial[i - 1] == 0) --i;
        if (i == 0) serial.insert(serial.begin(), 1);
        if (serial[0] & 0x80) serial.insert(serial.begin(), 0);
    }
    out = seq({directoryName(f.issuer), tlv(0x02, serial)});
    return 0;
}

int certReqMsg(Bytes& out, SGCMPContext& c, int n) {
    const int keyIndex = n == 0 && c.oldKey ? SG_CMP_KEY_OLD : n;
    if (!c.callbacks.getPublicKey) return SG_CMP_ERR_NO_CALLBACK;
    SGBinary publicKey{}, parameters{};
    const int got = c.callbacks.getPublicKey(&publicKey, &parameters, keyIndex, c.keySize,
                                             c.callbacks.userData);
    const Bytes key = toBytes(publicKey);
    const Bytes params = toBytes(parameters);
    SG_GBW(SGBinary_Reset)(&publicKey);
    SG_GBW(SGBinary_Reset)(&parameters);
    if (got != 0 || key.empty()) return SG_CMP_ERR_PUBLIC_KEY;

    const Bytes spki =
        seq({seq({oid(SG_OID_RSA_ENCRYPTION), params.empty() ? null() : params}), bits(key)});
    Bytes controls;
    if (c.operation == kUpdate) {
        Bytes id;
        if (int r = oldCertId(id, c, n)) return r;
        controls = seq({seq({oid(kOidOldCertId), id})});
    }
    const Bytes certRequest = seq({integer(n), seq({tlv(0xA6, contentsOf(spki))}), controls});

    const Bytes popoInput = seq({ctx(0, senderOf(c)), spki});
    Bytes signature;
    if (signWith(signature, popoInput, keyIndex, c) != 0) return SG_CMP_ERR_SIGN;
    const Bytes popo = tlv(0xA1, cat({tlv(0xA0, contentsOf(popoInput)),
                                      algorithm(c.signatureOid, false), bits(signature)}));

    Bytes regInfo;
    if (n == 0) {
        Bytes vid;
        if (int r = encryptedVID(vid, c)) return r;
        regInfo = seq({seq({oid(SG_OID_KISA_ENCRYPTED_VID), vid}),
                       c.regInfoMarker ? seq({oid(kOidKisaMarker), null()}) : Bytes{}});
    }
    out = seq({certRequest, popo, regInfo});
    c.requested.push_back(Requested{n, key, keyIndex});
    return 0;
}

int certReqMessages(Bytes& out, SGCMPContext& c) {
    c.requested.clear();
    Bytes first, second;
    if (int r = certReqMsg(first, c, 0)) return r;
    if (c.generateKM && !c.singleKey)
        if (int r = certReqMsg(second, c, 1)) return r;
    out = seq({first, second});
    return 0;
}

// One RevDetails per listed certificate, each with the reason's bit of ReasonFlags.
int revReqContent(Bytes& out, const SGCMPContext& c) {
    if (c.oldCertificates.empty()) return SG_CMP_ERR_OLD_CERTIFICATE;
    const unsigned bit = static_cast<unsigned>(c.reason);
    Bytes flags(bit / 8 + 1, 0);
    flags.back() = static_cast<unsigned char>(0x80 >> (bit % 8));
    const Bytes reason = bits(flags, 7 - bit % 8);
    Bytes details;
    for (const Bytes& certificate : c.oldCertificates) {
        CertificateFields f;
        if (fieldsOf(f, certificate) != 0) return SG_CMP_ERR_OLD_CERTIFICATE;
        const Bytes one = seq({seq({tlv(0x81, contentsOf(f.serial)), ctx(3, f.issuer)}), reason});
        details.insert(details.end(), one.begin(), one.end());
    }
    out = tlv(0x30, details);
    return 0;
}

// --- Replies -------------------------------------------------------------------------------------

struct Message {
    PKIMessage_t* message = nullptr;
    ~Message() {
        if (message) SGASN1CObject_Free(message, &asn_DEF_PKIMessage);
    }
};

std::string textOf(const UTF8String_t& s) {
    return std::string(reinterpret_cast<const char*>(s.buf), static_cast<size_t>(s.size));
}

void collectTexts(std::vector<std::string>& into, const PKIFreeText* texts) {
    if (!texts) return;
    for (int i = 0; i < texts->list.count; ++i)
        if (texts->list.array[i]) into.push_back(textOf(*texts->list.array[i]));
}

// Well-formed UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t more = 0;
        unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
        if (b < 0x80) {
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            if (b == 0xE0) low = 0xA0;
            if (b == 0xED) high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (s.size() - i <= more) return false;
        for (size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if (k == 1 ? next < low || next > high : next < 0x80 || next > 0xBF) return false;
        }
        i += more + 1;
    }
    return true;
}

// The authorities write header texts in EUC-KR or in UTF-8: UTF-8 stays as it is, EUC-KR is
// converted, and a text that is neither is kept as received.
void collectHeaderTexts(std::vector<std::string>& into, const PKIFreeText* texts) {
    std::vector<std::string> received;
    collectTexts(received, texts);
    for (std::string& t : received) {
        // The converter reads up to the first zero byte: a text holding one is not cut short.
        char* utf8 = nullptr;
        if (!isUtf8(t) && t.find('\0') == std::string::npos &&
            SG_GBW(SGCodecConvertCodeSet)("ko_KR.euc-kr", "ko_KR.UTF-8", t.c_str(), &utf8) == 0 &&
            utf8) {
            t = utf8;
        }
        if (utf8) SG_GBW(SGMemory_free)(utf8);
        into.push_back(std::move(t));
    }
}

int certificateDer(Bytes& out, const CMPCertificate_t* certificate) {
    SGBinary der{};
    if (SGASN1CObject_Encode(&der, &asn_DEF_CMPCertificate, certificate) != 0)
        return SG_ASN_ERR_MALFORMED;
    out = toBytes(der);
    SG_GBW(SGBinary_Reset)(&der);
    return 0;
}

// PKIFailureInfo as a mask: named bit n (badAlg 0, badRequest 2, badPOP 9, ...) is 1 << n.
// In the BIT STRING bit 0 is the high bit of the first byte; the unused trailing bits are no
// bits at all.
long failInfoBits(const PKIFailureInfo_t& s) {
    long mask = 0;
    if (s.size <= 0 || !s.buf) return 0;
    const int used = s.size * 8 - (s.bits_unused & 7);
    for (int i = 0; i < used && i < 31; ++i)
        if (s.buf[i / 8] & (0x80 >> (i % 8))) mask |= 1L << i;
    return mask;
}

int statusInfo(SGCMPContext& c, const PKIStatusInfo_t& info) {
    long status = 0;
    if (SGASN1CInteger_Get(&status, &info.status) != 0 || status < 0 || status > 6)
        return SG_CMP_ERR_STATUS;
    c.pkiStatus = static_cast<int>(status);
    collectTexts(c.statusTexts, info.statusString);
    if (info.failInfo) c.failInfo = failInfoBits(*info.failInfo);
    return 0;
}

Requested* requestOf(SGCMPContext& c, long id) {
    for (Requested& r : c.requested)
        if (r.id == id) return r.answered ? nullptr : &r;
    return nullptr;
}

// DES-OFB with the fixed IV and PKCS #7 padding, keyed by the decrypted symmetric key.
int decryptCertificate(Bytes& out, SGCMPContext& c, const EncryptedValue_t& value, int keyIndex) {
    if (c.caKind < 1 || c.caKind > 3) return SG_PKI_ERR_NOT_SUPPORTED;
    if (!value.encSymmKey || !c.callbacks.decrypt) return SG_CMP_ERR_DECRYPT;
    SGBinary in{value.encSymmKey->buf, static_cast<uint32_t>(value.encSymmKey->size)};
    SGBinary key{};
    const int r = c.callbacks.decrypt(&key, &in, keyIndex, c.callbacks.userData);
    Secret symmetric;
    symmetric.bytes = toBytes(key);
    SG_GBW(SGBinary_Cleanse)(&key);
    if (r != 0 || symmetric.bytes.size() != 8) return SG_CMP_ERR_DECRYPT;
    const uint32_t n = static_cast<uint32_t>(value.encValue.size);
    if (n == 0 || n % 8 != 0) return SG_ASN_ERR_MALFORMED;
    SGCipherParameter parameter;
    std::memset(&parameter, 0, sizeof parameter);
    parameter.mode = SG_CIPHER_MODE_OFB;
    std::memcpy(parameter.iv, kEncryptedCertIV, 8);
    parameter.ivLength = 8;
    parameter.feedbackSize = 8;
    parameter.padding = SG_CIPHER_PADDING_NONE;
    out.assign(n + 8, 0);
    uint32_t length = static_cast<uint32_t>(out.size());
    if (SG_GCW(SGCipher_Decrypt)(out.data(), &length, value.encValue.buf, n, symmetric.bytes.data(),
                                 8, SG_CIPHER_DES, &parameter) != 0 ||
        length != n) {
        out.clear();
        return SG_ASN_ERR_MALFORMED;
    }
    out.resize(length);
    const unsigned pad = out.back();
    bool padded = pad >= 1 && pad <= 8;
    for (unsigned i = 1; padded && i <= pad; ++i) padded = out[out.size() - i] == pad;
    if (!padded) {
        out.clear();
        return SG_ASN_ERR_MALFORMED;
    }
    out.resize(out.size() - pad);
    if (!isCertificate(out)) {
        out.clear();
        return SG_ASN_ERR_MALFORMED;
    }
    return 0;
}

// A certified key pair answering the request: its certificate must carry the requested key.
int certifiedKeyPair(SGCMPContext& c, const CertifiedKeyPair_t& pair, Requested& request) {
    Bytes der;
    switch (pair.certOrEncCert.present) {
        case CertOrEncCert_PR_certificate:
            if (int r = certificateDer(der, &pair.certOrEncCert.choice.certificate)) return r;
            break;
        case CertOrEncCert_PR_encryptedCert:
            if (int r = decryptCertificate(der, c, pair.certOrEncCert.choice.encryptedCert,
                                           request.keyIndex))
                return r;
            break;
        default:
            return SG_ASN_ERR_MALFORMED;
    }
    CertificateFields f;
    if (fieldsOf(f, der) != 0) return SG_ASN_ERR_MALFORMED;
    if (f.publicKey != request.publicKey) return SG_CMP_ERR_UNEXPECTED;
    request.answered = true;
    c.issued.push_back(std::move(der));
    return 0;
}

template <typename List>
void caCertificates(SGCMPContext& c, const List& list) {
    for (int i = 0; i < list.count; ++i) {
        Bytes der;
        if (list.array[i] && certificateDer(der, list.array[i]) == 0)
            c.caCertificates.push_back(std::move(der));
    }
}

bool allAnswered(const SGCMPContext& c) {
    for (const Requested& r : c.requested)
        if (!r.answered) return false;
    return !c.requested.empty();
}

int decodeCertRepMessage(SGCMPContext& c, const CertRepMessage_t& body) {
    if (body.caPubs) caCertificates(c, body.caPubs->list);
    for (int i = 0; i < body.response.list.count; ++i) {
        const CertResponse_t* response = body.response.list.array[i];
        if (!response) return SG_ASN_ERR_MALFORMED;
        if (int r = statusInfo(c, response->status)) return r;
        if (c.pkiStatus > 1) return SG_CMP_ERR_REJECTED;
        if (response->rspInfo) return SG_PKI_ERR_NOT_IMPLEMENTED;
        long id = -1;
        Requested* request =
            SGASN1CInteger_Get(&id, &response->certReqId) == 0 ? requestOf(c, id) : nullptr;
        if (!request || !response->certifiedKeyPair) return SG_CMP_ERR_UNEXPECTED;
        if (int r = certifiedKeyPair(c, *response->certifiedKeyPair, *request)) return r;
    }
    return allAnswered(c) ? 0 : SG_CMP_ERR_UNEXPECTED;
}

int decodeKRP(SGCMPContext& c, const KeyRecRepContent_t& body) {
    if (int r = statusInfo(c, body.status)) return r;
    if (c.pkiStatus > 1) return SG_CMP_ERR_REJECTED;
    size_t next = 0;
    if (body.newSigCert) {
        Bytes der;
        if (int r = certificateDer(der, body.newSigCert)) return r;
        CertificateFields f;
        if (c.requested.empty() || fieldsOf(f, der) != 0 || f.publicKey != c.requested[0].publicKey)
            return SG_CMP_ERR_UNEXPECTED;
        c.requested[0].answered = true;
        c.issued.push_back(std::move(der));
        next = 1;
    }
    if (body.caCerts) caCertificates(c, body.caCerts->list);
    for (int i = 0; body.keyPairHist && i < body.keyPairHist->list.count; ++i, ++next) {
        if (next >= c.requested.size() || !body.keyPairHist->list.array[i])
            return SG_CMP_ERR_UNEXPECTED;
        if (int r = certifiedKeyPair(c, *body.keyPairHist->list.array[i], c.requested[next]))
            return r;
    }
    return allAnswered(c) ? 0 : SG_CMP_ERR_UNEXPECTED;
}

int decodeRP(SGCMPContext& c, const RevRepContent_t& body) {
    // One answer per certificate asked about, in order, and every one an acceptance.
    if (static_cast<size_t>(body.status.list.count) != c.oldCertificates.size())
        return SG_CMP_ERR_UNEXPECTED;
    for (int i = 0; i < body.status.list.count; ++i) {
        if (!body.status.list.array[i]) return SG_ASN_ERR_MALFORMED;
        if (int r = statusInfo(c, *body.status.list.array[i])) return r;
        if (c.pkiStatus != 0) return SG_CMP_ERR_REJECTED;
    }
    return 0;
}

// The settings of the authority: "key=value$" pairs in the texts collected.
int applySettings(SGCMPContext& c) {
    for (const std::string& t : c.freeText) {
        size_t start = 0;
        while (start < t.size()) {
            size_t end = t.find('$', start);
            if (end == std::string::npos) break;  // a pair is ended by "$"
            const std::string pair = t.substr(start, end - start);
            start = end + 1;
            const size_t eq = pair.find('=');
            if (eq == std::string::npos) continue;  // not a setting
            const std::string key = pair.substr(0, eq), value = pair.substr(eq + 1);
            c.settings.emplace_back(key, value);
            if (key == "key_size" && !c.lowerSpec) {
                char* rest = nullptr;
                const long bits = std::strtol(value.c_str(), &rest, 10);
                // Keys the authority asks for stay within what is safe and what can be made.
                if (value.empty() || *rest || bits < 2048 || bits > 4096)
                    return SG_PKI_ERR_OUT_OF_RANGE;
                c.keySize = static_cast<int>(bits);
            } else if (key == "signature_algorithm") {
                if (value.size() == 21 &&
                    strncasecmp(value.c_str(), "sha1WithRSAEncryption", 21) == 0) {
                    c.signatureOid = SG_OID_SHA1_WITH_RSA;
                    c.sha256 = 0;
                } else if (value.size() == 23 &&
                           strncasecmp(value.c_str(), "sha256WithRSAEncryption", 23) == 0) {
                    c.signatureOid = SG_OID_SHA256_WITH_RSA;
                    c.sha256 = 1;
                }
            } else if (key == "km_key_gen" && value.rfind("user", 0) == 0) {
                c.generateKM = true;
            }
        }
    }
    return 0;
}

int decodeGENP(SGCMPContext& c, const GenRepContent_t& body) {
    for (int i = 0; i < body.list.count; ++i) {
        const InfoTypeAndValue_t* entry = body.list.array[i];
        if (!entry) return SG_ASN_ERR_MALFORMED;
        int id = 0;
        if (SGASN1CObjectIdentifier_Get(&id, &entry->infoType) != 0) return kErrUnknownInfoType;
        if (id != kOidCaEncryptionCert && id != kOidCaProtEncCert) continue;
        if (!entry->infoValue || !entry->infoValue->buf) return kErrMissingValue;
        const Bytes value(entry->infoValue->buf, entry->infoValue->buf + entry->infoValue->size);
        if (id == kOidCaEncryptionCert) c.caEncryptionCertificate = value;
        if (id == kOidCaProtEncCert) {
            c.caProtectionCertificate = value;
            if (c.caKind == 1 || c.caKind == 3) c.caEncryptionCertificate = value;
        }
    }
    // The authority's certificates are believed only when they lead to a trusted root.
    for (const Bytes* cert : {&c.caProtectionCertificate, &c.caEncryptionCertificate})
        if (!cert->empty() && !SGCMP_IsTrustedAuthority(*cert)) return SG_CMP_ERR_SIGNATURE;
    if (int r = applySettings(c)) return r;
    if (c.oldKey) c.generateKM = true;
    c.freeText.clear();
    return 0;
}

// The DER of SEQUENCE {header, body} as the reply carried them.
bool protectedPartOf(Bytes& out, const Bytes& der) {
    const size_t outer = tlvLength(der.data(), der.size());
    if (outer == 0 || der[0] != 0x30) return false;
    const size_t headerLength = outer - contentsOf(der).size();
    const unsigned char* p = der.data() + headerLength;
    const size_t available = outer - headerLength;
    const size_t h = tlvLength(p, available);
    if (h == 0) return false;
    const size_t b = tlvLength(p + h, available - h);
    if (b == 0) return false;
    out = tlv(0x30, Bytes(p, p + h + b));
    return true;
}

bool macOperation(const SGCMPContext& c) {
    return c.operation == kIssue || c.operation == kRecover;
}

int digestOfSignature(int oidId) {
    switch (oidId) {
        case SG_OID_SHA1_WITH_RSA:
            return SG_DIGEST_SHA1;
        case SG_OID_SHA256_WITH_RSA:
            return SG_DIGEST_SHA256;
        case SG_OID_SHA384_WITH_RSA:
            return SG_DIGEST_SHA384;
        case SG_OID_SHA512_WITH_RSA:
            return SG_DIGEST_SHA512;
        default:
            return 0;
    }
}

// Revoke has no genp: the reply's signer must be an authority certificate that passes the path
// check, from the reply's extraCerts or the revoked certificate's issuer in the storage, and it
// must be the issuer of every certificate the reply answers for.
int verifyRevokeReply(SGCMPContext& c, const PKIMessage_t& m, const Bytes& signature,
                      const Bytes& protectedPart, int digest) {
    CertificateFields revoked;
    if (fieldsOf(revoked, c.oldCertificates[0]) != 0) return SG_CMP_ERR_SIGNATURE;
    for (size_t i = 1; i < c.oldCertificates.size(); ++i) {
        CertificateFields other;
        if (fieldsOf(other, c.oldCertificates[i]) != 0 || other.issuer != revoked.issuer)
            return SG_CMP_ERR_SIGNATURE;
    }
    std::vector<Bytes> candidates;
    for (int i = 0; m.extraCerts && i < m.extraCerts->list.count; ++i) {
        Bytes der;
        if (m.extraCerts->list.array[i] && certificateDer(der, m.extraCerts->list.array[i]) == 0)
            candidates.push_back(std::move(der));
    }
    Bytes issuer = SGCMP_IssuerInStorage(c.oldCertificates[0]);
    if (!issuer.empty()) candidates.push_back(std::move(issuer));
    for (const Bytes& candidate : candidates) {
        // The authority's own certificate: the one whose subject issued the revoked one.
        CertificateFields signer;
        if (fieldsOf(signer, candidate) != 0 || signer.subject != revoked.issuer) continue;
        if (SGCMPProtection_VerifySignature(signature, protectedPart, candidate, digest) != 0)
            continue;
        if (!SGCMP_IsTrustedAuthority(candidate)) continue;
        c.revokeAuthority = candidate;
        return 0;
    }
    return SG_CMP_ERR_SIGNATURE;
}

int checkProtection(SGCMPContext& c, const PKIMessage_t& m, const Bytes& der, bool optional) {
    if (!m.protection || !m.header.protectionAlg) {
        if (optional) return 0;
        return macOperation(c) ? SG_CMP_ERR_MAC : SG_CMP_ERR_SIGNATURE;
    }
    Bytes protectedPart;
    if (!protectedPartOf(protectedPart, der)) return SG_ASN_ERR_MALFORMED;
    const Bytes protection(m.protection->buf, m.protection->buf + m.protection->size);
    int id = 0;
    if (SGASN1CObjectIdentifier_Get(&id, &m.header.protectionAlg->algorithm) != 0)
        return SG_ASN_ERR_MALFORMED;
    if (id == SG_OID_PASSWORD_BASED_MAC) {
        if (!macOperation(c)) return SG_CMP_ERR_MAC;
        Bytes mac;
        if (SGCMPProtection_CalculatePBMAC(mac, kMacPrefix, c.authorizationCode.bytes, 2,
                                           SG_DIGEST_SHA1, SG_CIPHER_DES, protectedPart) != 0)
            return SG_CMP_ERR_MAC;
        // The whole MAC, its length first.
        if (mac.size() != protection.size() ||
            std::memcmp(mac.data(), protection.data(), mac.size()) != 0)
            return SG_CMP_ERR_MAC;
        return 0;
    }
    const int digest = digestOfSignature(id);
    if (digest == 0) return SG_PKI_ERR_NOT_IMPLEMENTED;
    if (c.operation == kRevoke) return verifyRevokeReply(c, m, protection, protectedPart, digest);
    if (c.caProtectionCertificate.empty()) return SG_CMP_ERR_SIGNATURE;
    return SGCMPProtection_VerifySignature(protection, protectedPart, c.caProtectionCertificate,
                                           digest) == 0
               ? 0
               : SG_CMP_ERR_SIGNATURE;
}

PKIBody_PR expectedBody(int state) {
    switch (state) {
        case kGenpExpected:
            return PKIBody_PR_genp;
        case kIpExpected:
            return PKIBody_PR_ip;
        case kKupExpected:
            return PKIBody_PR_kup;
        case kRpExpected:
            return PKIBody_PR_rp;
        case kKrpExpected:
            return PKIBody_PR_krp;
        default:
            return PKIBody_PR_NOTHING;
    }
}

bool readable(PKIBody_PR kind) {
    return (kind >= PKIBody_PR_ir && kind <= PKIBody_PR_rp) || kind == PKIBody_PR_genm ||
           kind == PKIBody_PR_genp || kind == PKIBody_PR_error;
}

int errorBody(SGCMPContext& c, const ErrorMsgContent_t& error) {
    long status = 0;
    if (SGASN1CInteger_Get(&status, &error.pKIStatusInfo.status) == 0 && status >= 0 && status <= 6)
        c.pkiStatus = static_cast<int>(status);
    collectTexts(c.statusTexts, error.pKIStatusInfo.statusString);
    if (error.pKIStatusInfo.failInfo) c.failInfo = failInfoBits(*error.pKIStatusInfo.failInfo);
    if (error.errorCode) SGASN1CInteger_Get(&c.errorCode, error.errorCode);
    if (error.errorDetails) std::printf("errorDetails contains.\n");
    c.state = kErrorReceived;
    return SG_CMP_ERR_REJECTED;
}

}  // namespace

std::string serialText(const Bytes& serialContents, bool hexadecimal) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    if (hexadecimal) {
        for (unsigned char b : serialContents) {
            out += digits[b >> 4];
            out += digits[b & 15];
        }
        return out;
    }
    Bytes n = serialContents;
    while (!n.empty()) {
        unsigned remainder = 0;
        Bytes quotient;
        for (unsigned char b : n) {
            const unsigned v = remainder * 256 + b;
            if (!quotient.empty() || v / 10) quotient.push_back(static_cast<unsigned char>(v / 10));
            remainder = v % 10;
        }
        out.insert(out.begin(), digits[remainder]);
        n = std::move(quotient);
    }
    return out.empty() ? "0" : out;
}

int SGCMPASN_BuildRequest(Bytes& der, SGCMPContext& c) {
    der.clear();
    Bytes body, protectionAlg;
    bool mac = false, signature = false;
    int next = 0;
    switch (c.state) {
        case kGenmToSend:
            body = ctx(21, seq({seq({oid(kOidCaProtEncCert)})}));
            next = kGenpExpected;
            break;
        case kIrToSend:
        case kKrrToSend: {
            Bytes requests;
            if (int r = certReqMessages(requests, c)) return r;
            body = ctx(c.state == kIrToSend ? 0 : 9, requests);
            mac = true;
            next = c.state == kIrToSend ? kIpExpected : kKrpExpected;
            break;
        }
        case kKurToSend: {
            Bytes requests;
            if (int r = certReqMessages(requests, c)) return r;
            body = ctx(7, requests);
            signature = true;
            next = kKupExpected;
            break;
        }
        case kRrToSend: {
            Bytes details;
            if (int r = revReqContent(details, c)) return r;
            body = ctx(11, details);
            signature = true;
            next = kRpExpected;
            break;
        }
        case kConfToSend:
            body = ctx(19, null());
            next = kDone;
            break;
        default:
            return SG_PKI_ERR_NOT_IMPLEMENTED;
    }
    if (mac) protectionAlg = algorithm(SG_OID_PASSWORD_BASED_MAC, false);
    if (signature) protectionAlg = algorithm(c.signatureOid, true);
    Bytes head;
    if (int r = header(head, c, protectionAlg)) return r;
    Bytes protection;
    if (mac || signature) {
        const Bytes protectedPart = seq({head, body});
        const int r =
            mac ? SGCMPProtection_CalculatePBMAC(protection, kMacPrefix, c.authorizationCode.bytes,
                                                 2, SG_DIGEST_SHA1, SG_CIPHER_DES, protectedPart)
                : signWith(protection, protectedPart, SG_CMP_KEY_OLD, c);
        if (r) return r;
    }
    der = seq({head, body, protection.empty() ? Bytes{} : ctx(0, bits(protection))});
    c.state = next;
    return 0;
}

int SGCMPASN_ReadReply(SGCMPContext& c, const Bytes& der, int flag) {
    if (der.empty()) return SG_PKI_ERR_ARGUMENT;
    Message m;
    SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
    if (int r =
            SGASN1CObject_Decode(reinterpret_cast<void**>(&m.message), &asn_DEF_PKIMessage, &in))
        return r;
    const PKIMessage_t& message = *m.message;
    if (!message.body) return SG_ASN_ERR_MALFORMED;
    const PKIBody_t& body = *message.body;
    // An error reply fails the operation whether or not its protection verifies.
    if (body.present == PKIBody_PR_error) return errorBody(c, body.choice.error);
    if (c.state == kDone) return 0;  // after conf: nothing further is read

    const PKIBody_PR expected = expectedBody(c.state);
    if (expected == PKIBody_PR_NOTHING) return SG_CMP_ERR_UNEXPECTED;
    if (!readable(body.present)) {
        std::printf("[%s]not supported choice\n", "SGCMPASN_GetPKIBody");
        return SG_CMP_ERR_BODY_CHOICE;
    }
    if (body.present != expected) return SG_CMP_ERR_BODY_KIND;
    if (flag == kFlagError) return SG_CMP_ERR_FLAGGED_REPLY;

    // The genp brings the certificate that signed it: read it before the check.
    if (expected == PKIBody_PR_genp) {
        collectHeaderTexts(c.freeText, message.header.freeText);
        if (int r = decodeGENP(c, body.choice.genp)) return r;
    }
    if (int r = checkProtection(c, message, der, expected == PKIBody_PR_genp)) return r;
    if (message.header.transactionID)
        std::printf("%s - has transactionID\n", "SGCMPASN_DecodePKIHeader");
    if (message.header.generalInfo)
        std::printf("%s - has generalInfo\n", "SGCMPASN_DecodePKIHeader");
    if (message.header.recipNonce && !c.senderNonce.empty()) {
        const Bytes nonce(message.header.recipNonce->buf,
                          message.header.recipNonce->buf + message.header.recipNonce->size);
        if (nonce != c.senderNonce) return SG_CMP_ERR_UNEXPECTED;
    }

    int r = 0;
    switch (expected) {
        case PKIBody_PR_genp:
            switch (c.operation) {
                case kIssue:
                    c.state = kIrToSend;
                    break;
                case kUpdate:
                    c.state = kKurToSend;
                    break;
                case kRecover:
                    c.state = kKrrToSend;
                    break;
                default:
                    return SG_CMP_ERR_OPERATION;
            }
            return 0;
        case PKIBody_PR_ip:
            collectHeaderTexts(c.freeText, message.header.freeText);
            r = decodeCertRepMessage(c, body.choice.ip);
            break;
        case PKIBody_PR_kup:
            collectHeaderTexts(c.freeText, message.header.freeText);
            r = decodeCertRepMessage(c, body.choice.kup);
            break;
        case PKIBody_PR_krp:
            collectHeaderTexts(c.freeText, message.header.freeText);
            r = decodeKRP(c, body.choice.krp);
            break;
        case PKIBody_PR_rp:
            r = decodeRP(c, body.choice.rp);
            if (r == 0) c.state = kDone;
            return r;
        default:
            return SG_CMP_ERR_UNEXPECTED;
    }
    if (r == 0) c.state = c.noConfirmation ? kDone : kConfToSend;
    return r;
}

}  // namespace brindlow::service::cmp
