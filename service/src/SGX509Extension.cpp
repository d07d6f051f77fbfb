#include "SGX509Extension.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "AuthorityInfoAccessSyntax.h"
#include "AuthorityKeyIdentifier.h"
#include "BasicConstraints.h"
#include "CPSuri.h"
#include "CRLDistributionPoints.h"
#include "CertificatePolicies.h"
#include "DisplayText.h"
#include "ExtKeyUsageSyntax.h"
#include "Extensions.h"
#include "IdentifyData.h"
#include "KeyUsage.h"
#include "SGASNObjectID.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGX509Certificate.h"
#include "SGX509Text.h"
#include "SubjectAltName.h"
#include "SubjectKeyIdentifier.h"
#include "UserNotice.h"
#include "VID.h"

using namespace brindlow::service;

namespace {

constexpr int kFirstEntry = SG_X509_ENTRY_AUTHORITY_KEY_IDENTIFIER;
constexpr int kLastEntry = SG_X509_ENTRY_ISSUING_DISTRIBUTION_POINT;

// The extension of each entry id from 13 to 26.
constexpr int kEntryOids[] = {
    SG_OID_AUTHORITY_KEY_IDENTIFIER,    // 13
    SG_OID_BASIC_CONSTRAINTS,           // 14
    SG_OID_SUBJECT_KEY_IDENTIFIER,      // 15
    SG_OID_CERTIFICATE_POLICIES,        // 16
    SG_OID_NAME_CONSTRAINTS,            // 17
    SG_OID_SUBJECT_ALT_NAME,            // 18
    SG_OID_CRL_DISTRIBUTION_POINTS,     // 19
    129,                                // 20 authorityInfoAccess
    130,                                // 21 subjectInfoAccess
    SG_OID_KEY_USAGE,                   // 22
    SG_OID_POLICY_MAPPINGS,             // 23
    SG_OID_POLICY_CONSTRAINTS,          // 24
    SG_OID_EXT_KEY_USAGE,               // 25
    SG_OID_ISSUING_DISTRIBUTION_POINT,  // 26
};
static_assert(sizeof kEntryOids / sizeof kEntryOids[0] == kLastEntry - kFirstEntry + 1);

bool isEntryExtension(int oidId) {
    for (int id : kEntryOids)
        if (id == oidId) return true;
    return false;
}

// Named bits of keyUsage, in bit order.
constexpr const char* kKeyUsageNames[] = {
    "digitalSignature,", "nonRepudiation,", "keyEncipherment,",
    "dataEncipherment,", "keyAgreement,",   "keyCertSign,",
    "cRLSign,",          "encipherOnly,",   "decipherOnly,"};

template <typename T>
int decodeValue(Decoded<T>& value, const Extension_t* extension) {
    return value.decode(extension->extnValue.buf, extension->extnValue.size) == 0
               ? 0
               : SG_ASN_ERR_RUNTIME;
}

// The dotted text of an identifier.
int oidText(std::string& out, const OBJECT_IDENTIFIER_t* oid) {
    // Each contents octet gives at most three digits and a dot.
    std::string text(static_cast<size_t>(oid->size > 0 ? oid->size : 0) * 4 + 32, '\0');
    int result = SGASN1CObjectIdentifier_ToString(text.data(), static_cast<int>(text.size()), oid);
    if (result) return result == SG_PKI_ERR_OUT_OF_RANGE ? SG_ASN_ERR_RUNTIME : result;
    out += text.c_str();
    return 0;
}

int displayText(std::string& out, const DisplayText_t* text) {
    if (!text) return SG_X509_EXT_ERR_DISPLAY_TEXT;
    bool ok;
    switch (text->present) {
        case DisplayText_PR_bmpString:
            ok = ucs2ToUtf8(out, text->choice.bmpString.buf, text->choice.bmpString.size);
            break;
        case DisplayText_PR_ia5String:
        case DisplayText_PR_visibleString:
        case DisplayText_PR_utf8String:
            // The alternatives share the OCTET STRING layout.
            ok = copyText(out, text->choice.utf8String.buf, text->choice.utf8String.size);
            break;
        default:
            return SG_X509_EXT_ERR_DISPLAY_TEXT;
    }
    return ok ? 0 : SG_ASN_ERR_RUNTIME;
}

// The text of the last name of the list that has one (a directoryName or a URI).
int lastNameText(std::string& out, bool* found, const GeneralNames_t* names) {
    *found = false;
    for (int i = 0; i < names->list.count; ++i) {
        std::string text;
        bool written = false;
        if (int error = renderGeneralName(text, &written, names->list.array[i])) return error;
        if (written) {
            out = text;
            *found = true;
        }
    }
    return 0;
}

int renderAuthorityKeyIdentifier(TextOut& out, const Extension_t* extension) {
    Decoded<AuthorityKeyIdentifier_t> aki(&asn_DEF_AuthorityKeyIdentifier);
    if (int error = decodeValue(aki, extension)) return error;
    std::string& text = out.text();
    if (aki->keyIdentifier) {
        text += "KeyIdentifier(" + hexOf(aki->keyIdentifier->buf, aki->keyIdentifier->size) + "), ";
        out.mark();
    }
    if (aki->authorityCertIssuer) {
        std::string name;
        bool found = false;
        if (int error = lastNameText(name, &found, aki->authorityCertIssuer)) return error;
        text += "CertIssuer(" + name + "), ";
        out.mark();
    }
    if (aki->authorityCertSerialNumber) {
        const INTEGER_t* serial = aki->authorityCertSerialNumber;
        text += "CertIssuer(" + hexOf(serial->buf, serial->size) + ")";
        out.mark();
    }
    return 0;
}

int renderBasicConstraints(TextOut& out, const Extension_t* extension) {
    Decoded<BasicConstraints_t> bc(&asn_DEF_BasicConstraints);
    if (int error = decodeValue(bc, extension)) return error;
    if (bc->cA && *bc->cA) {
        out.text() += "cA=true,";
        out.mark();
    }
    if (bc->pathLenConstraint) {
        long value = 0;
        if (asn_INTEGER2long(bc->pathLenConstraint, &value) != 0) return SG_ASN_ERR_RUNTIME;
        char number[64];
        std::snprintf(number, sizeof number, "pathLengthConstraints=%ld", value);
        out.text() += number;
        out.mark();
    }
    return 0;
}

int renderSubjectKeyIdentifier(TextOut& out, const Extension_t* extension) {
    Decoded<SubjectKeyIdentifier_t> ski(&asn_DEF_SubjectKeyIdentifier);
    if (int error = decodeValue(ski, extension)) return error;
    out.text() += hexOf(ski->buf, ski->size);
    out.mark();
    return 0;
}

int renderQualifier(std::string& text, const PolicyQualifierInfo_t* qualifier, int flags) {
    switch (oidIdOf(&qualifier->policyQualifierId)) {
        case SG_OID_CPS_QUALIFIER: {
            Decoded<CPSuri_t> uri(&asn_DEF_CPSuri);
            if (uri.decode(qualifier->qualifier.buf, qualifier->qualifier.size) != 0)
                return SG_ASN_ERR_RUNTIME;
            if (flags & SG_X509_POLICY_CPS) {
                if (!copyText(text, uri->buf, uri->size)) return SG_ASN_ERR_RUNTIME;
                text += ",";
            }
            return 0;
        }
        case SG_OID_USER_NOTICE_QUALIFIER: {
            Decoded<UserNotice_t> notice(&asn_DEF_UserNotice);
            if (notice.decode(qualifier->qualifier.buf, qualifier->qualifier.size) != 0)
                return SG_ASN_ERR_RUNTIME;
            if ((flags & SG_X509_POLICY_NOTICES) && notice->explicitText)
                return displayText(text, notice->explicitText);
            return 0;
        }
        default:
            return SG_X509_EXT_ERR_QUALIFIER;
    }
}

int renderCertificatePolicies(TextOut& out, const Extension_t* extension, int flags) {
    Decoded<CertificatePolicies_t> policies(&asn_DEF_CertificatePolicies);
    if (int error = decodeValue(policies, extension)) return error;
    std::string& text = out.text();
    for (int i = 0; i < policies->list.count; ++i) {
        const PolicyInformation_t* policy = policies->list.array[i];
        if (flags & SG_X509_POLICY_IDENTIFIERS) {
            if (int error = oidText(text, &policy->policyIdentifier)) return error;
            text += ",";
            out.mark();
        }
        if (policy->policyQualifiers) {
            for (int j = 0; j < policy->policyQualifiers->list.count; ++j) {
                if (int error =
                        renderQualifier(text, policy->policyQualifiers->list.array[j], flags)) {
                    out.rewind();
                    return error;
                }
                out.mark();
            }
        }
        text += "\n";
        out.mark();
    }
    return 0;
}

int renderSubjectAltName(TextOut& out, const Extension_t* extension) {
    Decoded<SubjectAltName_t> names(&asn_DEF_SubjectAltName);
    if (int error = decodeValue(names, extension)) return error;
    std::string& text = out.text();
    // The result is that of the last identifier looked up.
    int lookup = 0;
    for (int i = 0; i < names->list.count; ++i) {
        const GeneralName_t* name = names->list.array[i];
        if (name->present != GeneralName_PR_otherName) continue;
        int typeId = oidIdOf(&name->choice.otherName.type_id);
        lookup = typeId ? 0 : SG_ASN_ERR_UNKNOWN_OID;
        if (typeId != SG_OID_KISA_IDENTIFY_DATA) continue;
        Decoded<IdentifyData_t> data(&asn_DEF_IdentifyData);
        const ANY_t& value = name->choice.otherName.value;
        if (data.decode(value.buf, value.size) != 0) return SG_ASN_ERR_RUNTIME;
        text += "realName(";
        if (!copyText(text, data->realName.buf, data->realName.size)) {
            out.rewind();
            return SG_ASN_ERR_RUNTIME;
        }
        text += ")";
        out.mark();
        if (!data->userInfo) continue;
        for (int j = 0; j < data->userInfo->list.count; ++j) {
            const AttributeTypeAndValue_t* info = data->userInfo->list.array[j];
            int infoId = oidIdOf(&info->type);
            lookup = infoId ? 0 : SG_ASN_ERR_UNKNOWN_OID;
            if (infoId != SG_OID_KISA_VID) continue;
            Decoded<VID_t> vid(&asn_DEF_VID);
            if (vid.decode(info->value.buf, info->value.size) != 0) return SG_ASN_ERR_RUNTIME;
            int hashId = oidIdOf(&vid->hashAlg.algorithm);
            lookup = hashId ? 0 : SG_ASN_ERR_UNKNOWN_OID;
            text += "virtualID(";
            switch (hashId) {
                case SG_OID_SHA1:
                    text += "SHA1";
                    break;
                case SG_OID_SHA256:
                    text += "SHA256";
                    break;
                case SG_OID_SHA384:
                    text += "SHA384";
                    break;
                case SG_OID_SHA512:
                    text += "SHA512";
                    break;
                default:
                    break;
            }
            text += "," + hexOf(vid->virtualID.buf, vid->virtualID.size) + ")";
            out.mark();
        }
    }
    return lookup;
}

int renderCRLDistributionPoints(TextOut& out, const Extension_t* extension) {
    Decoded<CRLDistributionPoints_t> points(&asn_DEF_CRLDistributionPoints);
    if (int error = decodeValue(points, extension)) return error;
    std::string& text = out.text();
    for (int i = 0; i < points->list.count; ++i) {
        const DistributionPoint_t* point = points->list.array[i];
        if (point->distributionPoint) {
            switch (point->distributionPoint->present) {
                case DistributionPointName_PR_fullName: {
                    std::string name;
                    bool found = false;
                    int error =
                        lastNameText(name, &found, &point->distributionPoint->choice.fullName);
                    if (error) return error;
                    // Names without text (a DNS name, an address) give no point to fetch.
                    if (found) text += "dp:" + name;
                    break;
                }
                case DistributionPointName_PR_nameRelativeToCRLIssuer:
                    break;
                default:
                    return SG_X509_EXT_ERR_DP_NAME;
            }
        }
        if (point->reasons) text += "reasons";
        if (point->cRLIssuer) text += "crlissuer";
        out.mark();
    }
    return 0;
}

int renderAuthorityInfoAccess(TextOut& out, const Extension_t* extension) {
    Decoded<AuthorityInfoAccessSyntax_t> access(&asn_DEF_AuthorityInfoAccessSyntax);
    if (int error = decodeValue(access, extension)) return error;
    std::string& text = out.text();
    for (int i = 0; i < access->list.count; ++i) {
        const AccessDescription_t* description = access->list.array[i];
        switch (oidIdOf(&description->accessMethod)) {
            case 138:
                text += "CAIssuers:";
                break;
            case 137:
                text += "OCSP:";
                break;
            default:
                return SG_X509_EXT_ERR_ACCESS_METHOD;
        }
        bool written = false;
        if (int error = renderGeneralName(text, &written, &description->accessLocation)) {
            out.rewind();
            return error;
        }
        out.mark();
    }
    return 0;
}

int renderKeyUsage(TextOut& out, const Extension_t* extension) {
    Decoded<KeyUsage_t> bits(&asn_DEF_KeyUsage);
    if (int error = decodeValue(bits, extension)) return error;
    for (int bit = 0; bit < 9; ++bit) {
        const int byte = bit / 8;
        if (byte >= bits->size) break;
        if (bits->buf[byte] & (0x80 >> (bit % 8))) {
            out.text() += kKeyUsageNames[bit];
            out.mark();
        }
    }
    return 0;
}

// Runs a renderer that appends to the buffer and writes what fits.
template <typename Render>
int appendTo(char* buffer, unsigned int size, const Extension_t* extension, Render render) {
    if (!buffer || !extension) return SG_PKI_ERR_ARGUMENT;
    try {
        TextOut out(buffer, size, true);
        return out.finish(render(out), SG_PKI_ERR_OUT_OF_RANGE);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

// A DER-encoded value appended to the list as a non-critical extension.
int appendExtension(Extensions_t* list, int oidId, const void* value, asn_TYPE_descriptor_t* type) {
    SGBinary der{};
    int result = SGASN1CObject_Encode(&der, type, value);
    if (result) return result;
    auto* extension = static_cast<Extension_t*>(SGASN1C_calloc(1, sizeof(Extension_t)));
    if (!extension) result = SG_PKI_ERR_MEMORY;
    if (result == 0) result = SGASN1CExtension_SetCopied(extension, nullptr, oidId, &der);
    if (result == 0 && SGASN1CSequence_Add(list, extension) != 0) result = SG_PKI_ERR_MEMORY;
    if (result && extension) ASN_STRUCT_FREE(asn_DEF_Extension, extension);
    SG_GBW(SGBinary_Reset)(&der);
    return result;
}

// Frees a structure built here at the end of the scope.
template <typename T>
struct Built {
    T value{};
    asn_TYPE_descriptor_t* type;
    explicit Built(asn_TYPE_descriptor_t* td) : type(td) {}
    ~Built() { SGASN1CObject_Clear(&value, type); }
};

int generateBasicConstraints(Extensions_t* list, const SGX509GenerateParameters* parameters) {
    Built<BasicConstraints_t> bc(&asn_DEF_BasicConstraints);
    if (parameters->cA) {
        bc.value.cA = static_cast<BOOLEAN_t*>(SGASN1C_calloc(1, sizeof(BOOLEAN_t)));
        if (!bc.value.cA) return SG_PKI_ERR_MEMORY;
        *bc.value.cA = 1;
    }
    if (parameters->pathLenConstraint) {
        if (*parameters->pathLenConstraint < 0) return SG_PKI_ERR_ARGUMENT;
        bc.value.pathLenConstraint = static_cast<INTEGER_t*>(SGASN1C_calloc(1, sizeof(INTEGER_t)));
        if (!bc.value.pathLenConstraint) return SG_PKI_ERR_MEMORY;
        if (SGASN1CInteger_Set(bc.value.pathLenConstraint, *parameters->pathLenConstraint) != 0)
            return SG_PKI_ERR_MEMORY;
    }
    return appendExtension(list, SG_OID_BASIC_CONSTRAINTS, &bc.value, bc.type);
}

int generateKeyUsage(Extensions_t* list) {
    Built<KeyUsage_t> bits(&asn_DEF_KeyUsage);
    if (int error = SGASN1CBitString_SetBit(&bits.value, 0)) return error;
    return appendExtension(list, SG_OID_KEY_USAGE, &bits.value, bits.type);
}

int generateExtKeyUsage(Extensions_t* list) {
    Built<ExtKeyUsageSyntax_t> usage(&asn_DEF_ExtKeyUsageSyntax);
    auto* purpose = static_cast<KeyPurposeId_t*>(SGASN1C_calloc(1, sizeof(KeyPurposeId_t)));
    if (!purpose) return SG_PKI_ERR_MEMORY;
    int result = SGASN1CObjectIdentifier_Set(purpose, SG_OID_SERVER_AUTH);
    if (result == 0 && SGASN1CSequence_Add(&usage.value, purpose) != 0) result = SG_PKI_ERR_MEMORY;
    if (result) {
        ASN_STRUCT_FREE(asn_DEF_KeyPurposeId, purpose);
        return result;
    }
    return appendExtension(list, SG_OID_EXT_KEY_USAGE, &usage.value, usage.type);
}

int generateSubjectAltName(Extensions_t* list, const SGX509AltNameNode* node) {
    Built<GeneralNames_t> names(&asn_DEF_GeneralNames);
    for (; node; node = node->next) {
        auto* name = static_cast<GeneralName_t*>(SGASN1C_calloc(1, sizeof(GeneralName_t)));
        if (!name) return SG_PKI_ERR_MEMORY;
        int result = SGASN1CGeneralName_SetCopied(name, nullptr, &node->value, node->kind);
        if (result == 0 && SGASN1CSequence_Add(&names.value, name) != 0) result = SG_PKI_ERR_MEMORY;
        if (result) {
            ASN_STRUCT_FREE(asn_DEF_GeneralName, name);
            return result;
        }
    }
    // The extension needs at least one name.
    if (names.value.list.count == 0) return 0;
    return appendExtension(list, SG_OID_SUBJECT_ALT_NAME, &names.value, names.type);
}

}  // namespace

extern "C" {

int SGX509Extension_FindRAWEntry(Extension_t** out, const Extensions_t* list, int entryId) {
    if (!list || list->list.count == 0) return SG_PKI_ERR_NO_DATA;
    const int wanted =
        entryId >= kFirstEntry && entryId <= kLastEntry ? kEntryOids[entryId - kFirstEntry] : -1;
    int result = SG_PKI_ERR_NO_DATA;
    for (int i = 0; i < list->list.count; ++i) {
        Extension_t* extension = list->list.array[i];
        const int oidId = oidIdOf(&extension->extnID);
        if (oidId == 0) {
            result = SG_ASN_ERR_UNKNOWN_OID;
        } else if (oidId == wanted) {
            if (out) *out = extension;
            return 0;
        } else {
            result = isEntryExtension(oidId) ? SG_PKI_ERR_NO_DATA : SG_PKI_ERR_NOT_IMPLEMENTED;
        }
    }
    return result;
}

int SGX509Extension_GetEntry(char* buffer, unsigned int size, const Extensions_t* list, int entryId,
                             int flags) {
    if (!buffer || size == 0) return SG_PKI_ERR_ARGUMENT;
    buffer[0] = '\0';
    Extension_t* extension = nullptr;
    if (int error = SGX509Extension_FindRAWEntry(&extension, list, entryId)) return error;
    switch (entryId) {
        case SG_X509_ENTRY_AUTHORITY_KEY_IDENTIFIER:
            return SGX509Extension_AuthorityKeyIdentifier(buffer, size, extension);
        case SG_X509_ENTRY_BASIC_CONSTRAINTS:
            return SGX509Extension_BasicConstraints(buffer, size, extension);
        case SG_X509_ENTRY_SUBJECT_KEY_IDENTIFIER:
            return SGX509Extension_SubjectKeyIdentifier(buffer, size, extension);
        case SG_X509_ENTRY_CERTIFICATE_POLICIES:
            return SGX509Extension_CertificatePolicies(buffer, size, extension, flags);
        case SG_X509_ENTRY_SUBJECT_ALT_NAME:
            return SGX509Extension_SubjectAltName(buffer, size, extension);
        case SG_X509_ENTRY_CRL_DISTRIBUTION_POINTS:
            return SGX509Extension_CRLDP(buffer, size, extension);
        case SG_X509_ENTRY_AUTHORITY_INFO_ACCESS:
            return SGX509Extension_AuthorityInfoAccess(buffer, size, extension);
        case SG_X509_ENTRY_SUBJECT_INFO_ACCESS:
            return SGX509Extension_SubjectInfoAccess();
        case SG_X509_ENTRY_KEY_USAGE:
            return SGX509Extension_KeyUsage(buffer, size, extension);
        default:
            // Name constraints, policy mappings and constraints, extended key usage and the
            // issuing distribution point have no text.
            return 0;
    }
}

int SGX509Extension_GetEncodedEntry(SGBinary* out, const Extensions_t* list, int entryId) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    Extension_t* extension = nullptr;
    if (int error = SGX509Extension_FindRAWEntry(&extension, list, entryId)) return error;
    if (extension->extnValue.size <= 0) return SG_ASN_ERR_MALFORMED;
    return SG_GBW(SGBinary_Set)(out, extension->extnValue.buf,
                                static_cast<uint32_t>(extension->extnValue.size)) == 0
               ? 0
               : SG_PKI_ERR_MEMORY;
}

int SGX509Extension_AuthorityKeyIdentifier(char* buffer, unsigned int size,
                                           const Extension_t* extension) {
    return appendTo(buffer, size, extension,
                    [&](TextOut& out) { return renderAuthorityKeyIdentifier(out, extension); });
}

int SGX509Extension_BasicConstraints(char* buffer, unsigned int size,
                                     const Extension_t* extension) {
    return appendTo(buffer, size, extension,
                    [&](TextOut& out) { return renderBasicConstraints(out, extension); });
}

int SGX509Extension_SubjectKeyIdentifier(char* buffer, unsigned int size,
                                         const Extension_t* extension) {
    return appendTo(buffer, size, extension,
                    [&](TextOut& out) { return renderSubjectKeyIdentifier(out, extension); });
}

int SGX509Extension_CertificatePolicies(char* buffer, unsigned int size,
                                        const Extension_t* extension, int flags) {
    if (flags == 0)
        flags = SG_X509_POLICY_IDENTIFIERS | SG_X509_POLICY_CPS | SG_X509_POLICY_NOTICES;
    return appendTo(buffer, size, extension,
                    [&](TextOut& out) { return renderCertificatePolicies(out, extension, flags); });
}

int SGX509Extension_SubjectAltName(char* buffer, unsigned int size, const Extension_t* extension) {
    return appendTo(buffer, size, extension,
                    [&](TextOut& out) { return renderSubjectAltName(out, extension); });
}

int SGX509Extension_CRLDP(char* buffer, unsigned int size, const Extension_t* extension) {
    return appendTo(buffer, size, extension,
                    [&](TextOut& out) { return renderCRLDistributionPoints(out, extension); });
}

int SGX509Extension_AuthorityInfoAccess(char* buffer, unsigned int size,
                                        const Extension_t* extension) {
    return appendTo(buffer, size, extension,
                    [&](TextOut& out) { return renderAuthorityInfoAccess(out, extension); });
}

int SGX509Extension_KeyUsage(char* buffer, unsigned int size, const Extension_t* extension) {
    return appendTo(buffer, size, extension,
                    [&](TextOut& out) { return renderKeyUsage(out, extension); });
}

int SGX509Extension_SubjectInfoAccess(void) {
    return SG_PKI_ERR_NOT_IMPLEMENTED;
}

int SGX509DiplayText_ToString(char* buffer, unsigned int size, const DisplayText_t* text) {
    if (!buffer || size == 0) return SG_PKI_ERR_ARGUMENT;
    buffer[0] = '\0';
    try {
        std::string utf8;
        if (int error = displayText(utf8, text)) return error;
        if (utf8.size() + 1 > size) return SG_PKI_ERR_OUT_OF_RANGE;
        std::memcpy(buffer, utf8.c_str(), utf8.size() + 1);
        return 0;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int ucs2utf8(SGBinary* out, const SGBinary* ucs2) {
    if (!out || !ucs2 || (!ucs2->data && ucs2->length)) return SG_PKI_ERR_ARGUMENT;
    try {
        std::string utf8;
        if (!ucs2ToUtf8(utf8, ucs2->data, ucs2->length)) return SG_ASN_ERR_RUNTIME;
        out->data = nullptr;
        out->length = 0;
        if (utf8.empty()) return 0;
        return SG_GBW(SGBinary_Set)(out, utf8.data(), static_cast<uint32_t>(utf8.size())) == 0
                   ? 0
                   : SG_PKI_ERR_MEMORY;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGX509Extension_Generate(Extensions_t* list, const SGX509GenerateParameters* parameters) {
    if (!list || !parameters) return SG_PKI_ERR_ARGUMENT;
    if (int error = generateBasicConstraints(list, parameters)) return error;
    if (parameters->digitalSignature)
        if (int error = generateKeyUsage(list)) return error;
    if (parameters->serverAuth)
        if (int error = generateExtKeyUsage(list)) return error;
    return generateSubjectAltName(list, parameters->altNames);
}

}  // extern "C"
