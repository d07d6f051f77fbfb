// Fuzz target: decoding an untrusted certificate through the ASN.1 object layer, then reading
// what the library reads from one (names, times, identifiers, extensions). A normal test runs it
// over the seed corpus in data/fuzz_certificate; built with clang and BRINDLOW_FUZZ it is a
// libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "AuthorityInfoAccessSyntax.h"
#include "AuthorityKeyIdentifier.h"
#include "BasicConstraints.h"
#include "CRLDistributionPoints.h"
#include "Certificate.h"
#include "CertificatePolicies.h"
#include "IdentifyData.h"
#include "KeyUsage.h"
#include "NameConstraints.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SubjectAltName.h"

namespace {

struct Owned {
    void* p = nullptr;
    asn_TYPE_descriptor_t* td;
    explicit Owned(asn_TYPE_descriptor_t* type) : td(type) {}
    ~Owned() {
        if (p) SGASN1CObject_Free(p, td);
    }
    bool decode(const uint8_t* data, size_t size) {
        SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};
        return SGASN1CObject_Decode(&p, td, &in) == 0;
    }
};

// Encoding is idempotent: what the encoder writes decodes to a value that encodes to the same
// bytes. (The decoder accepts some BER that the encoder then writes as DER it would refuse, for
// instance a primitive explicit tag around an ANY; such values need not decode again.)
void checkStableEncoding(const void* value, asn_TYPE_descriptor_t* td) {
    SGBinary first{};
    if (SGASN1CObject_Encode(&first, td, value) != 0) return;
    Owned again(td);
    if (!again.decode(first.data, first.length)) {
        SGBinary_Reset(&first);
        return;
    }
    SGBinary second{};
    if (SGASN1CObject_Encode(&second, td, again.p) != 0) abort();
    if (SGBinary_Cmp(&first, &second) != 0) abort();
    SGBinary_Reset(&first);
    SGBinary_Reset(&second);
}

void readNames(const GeneralNames_t* names) {
    if (SGASN1CGeneralNames_Compare(names, names) == 20911) abort();
    for (int i = 0; i < names->list.count; ++i) {
        const GeneralName_t* name = names->list.array[i];
        if (name->present == GeneralName_PR_otherName) {
            Owned data(&asn_DEF_IdentifyData);
            const ANY_t& v = name->choice.otherName.value;
            if (data.decode(v.buf, v.size)) checkStableEncoding(data.p, data.td);
        }
    }
}

void readExtension(const Extension_t* ext) {
    int id = 0;
    SGASN1CObjectIdentifier_Get(&id, &ext->extnID);
    char text[256];
    SGASN1CObjectIdentifier_ToString(text, sizeof text, &ext->extnID);
    asn_TYPE_descriptor_t* td = nullptr;
    switch (id) {
        case SG_OID_BASIC_CONSTRAINTS:
            td = &asn_DEF_BasicConstraints;
            break;
        case SG_OID_KEY_USAGE:
            td = &asn_DEF_KeyUsage;
            break;
        case SG_OID_AUTHORITY_KEY_IDENTIFIER:
            td = &asn_DEF_AuthorityKeyIdentifier;
            break;
        case SG_OID_SUBJECT_ALT_NAME:
            td = &asn_DEF_SubjectAltName;
            break;
        case SG_OID_CERTIFICATE_POLICIES:
            td = &asn_DEF_CertificatePolicies;
            break;
        case SG_OID_CRL_DISTRIBUTION_POINTS:
            td = &asn_DEF_CRLDistributionPoints;
            break;
        case 129:
            td = &asn_DEF_AuthorityInfoAccessSyntax;
            break;
        case SG_OID_NAME_CONSTRAINTS:
            td = &asn_DEF_NameConstraints;
            break;
        default:
            return;
    }
    Owned value(td);
    if (!value.decode(ext->extnValue.buf, ext->extnValue.size)) return;
    checkStableEncoding(value.p, td);
    if (id == SG_OID_SUBJECT_ALT_NAME) readNames(static_cast<GeneralNames_t*>(value.p));
    if (id == SG_OID_CRL_DISTRIBUTION_POINTS) {
        auto* points = static_cast<CRLDistributionPoints_t*>(value.p);
        for (int i = 0; i < points->list.count; ++i)
            if (points->list.array[i]->distributionPoint)
                SGASN1CDistributionPointName_Compare(points->list.array[i]->distributionPoint,
                                                     points->list.array[i]->distributionPoint);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    Owned cert(&asn_DEF_Certificate);
    if (!cert.decode(data, size)) return 0;
    checkStableEncoding(cert.p, cert.td);

    // A copy is the same certificate.
    Certificate_t copy{};
    if (SGASN1CObject_Copy(&copy, cert.p, cert.td) == 0) {
        checkStableEncoding(&copy, cert.td);
        SGASN1CObject_Clear(&copy, cert.td);
    }

    const TBSCertificate_t& tbs = static_cast<Certificate_t*>(cert.p)->tbsCertificate;
    SGASN1CName_Compare(&tbs.subject, &tbs.issuer);
    if (tbs.subject.present == Name_PR_rdnSequence) {
        const RDNSequence_t& rdns = tbs.subject.choice.rdnSequence;
        for (int i = 0; i < rdns.list.count; ++i)
            SGASN1CRelativeDistinguishedName_Compare(rdns.list.array[i], rdns.list.array[i]);
    }
    time_t t;
    struct tm tm;
    char text[64];
    SGASN1CTime_ToTm(&t, &tm, &tbs.validity.notBefore, 1);
    SGASN1CTime_ToString(text, sizeof text, &tbs.validity.notAfter, 0);
    SGASN1CObjectIdentifier_ToString(text, sizeof text, &tbs.signature.algorithm);
    SGASN1CAlgorithmIdentifier_ToCrypto(nullptr, nullptr, nullptr, nullptr,
                                        &tbs.subjectPublicKeyInfo.algorithm);
    long version = 0;
    if (tbs.version) SGASN1CInteger_Get(&version, tbs.version);
    if (tbs.extensions)
        for (int i = 0; i < tbs.extensions->list.count; ++i)
            readExtension(tbs.extensions->list.array[i]);
    return 0;
}
