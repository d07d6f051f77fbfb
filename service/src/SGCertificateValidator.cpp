#include "SGCertificateValidator.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BasicConstraints.h"
#include "Certificate.h"
#include "CertificatePolicies.h"
#include "Extensions.h"
#include "NameConstraints.h"
#include "PolicyConstraints.h"
#include "PolicyInformation.h"
#include "PolicyMapping.h"
#include "PolicyMappings.h"
#include "SGASNObjectID.h"
#include "SGCRL.h"
#include "SGCertificateSet.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGValidationSupport.h"
#include "SGX509Certificate.h"
#include "SGX509Extension.h"
#include "SGX509Text.h"
#include "SubjectAltName.h"

using namespace brindlow::service;

// The record crosses the table interface: its layout is fixed.
static_assert(offsetof(SGCertificateValidatorOptions, storage) == 0);
static_assert(offsetof(SGCertificateValidatorOptions, flags) == 8);
static_assert(sizeof(SGCertificateValidatorOptions) == 16);

namespace {

// OID ids of the table without a name of their own.
constexpr int kOidIssuerAltName = 144;
constexpr int kOidInhibitAnyPolicy = 163;

// Result of a key that does not load for verifying a certificate.
constexpr int kKeyNotLoaded = 10014;

// One certificate of the path: its parsed form and its DER (both owned elsewhere).
struct PathCertificate {
    const SGX509Certificate* handle;
    const SGBinary* der;
};

// The valid policy tree, kept only as far as its root: present or not.
struct SGCertificateValidatorPolicyTree {
    std::string validPolicy = "any-policy";
    std::string qualifierSet;
    int reserved = 0;
    std::string expectedPolicySet = "any-policy";
};

struct SGCertificateValidatorContext {
    int reason = 0;
    // The working public key: its kind (SG_X509_KEY_*), subjectPublicKey bits and parameters.
    int workingKind = 0;
    std::vector<uint8_t> workingKey;
    std::vector<uint8_t> workingParameters;
    const Name_t* workingIssuer = nullptr;  // a subject of the path, which outlives the run
    std::optional<SGCertificateValidatorPolicyTree> policyTree;
    int explicitPolicy = 0;
    int inhibitAnyPolicy = 0;
    int policyMapping = 0;
    int maxPathLength = 0;
    int initialExplicitPolicy = 0;
    // Directory-name constraints: the permitted bases of each CA that names some (a name must
    // lie inside one base of every group), and the excluded bases of all of them.
    std::vector<std::vector<const Name_t*>> permitted;
    std::vector<const Name_t*> excluded;
    std::vector<std::unique_ptr<Decoded<NameConstraints_t>>> constraintValues;
    SGCertificateStorage* storage = nullptr;
    int flags = 0;
};

// A certificate, decoded and cleared with the scope.
struct Parsed {
    SGX509Certificate handle{};
    ~Parsed() {
        if (handle.certificate) SGX509Certificate_Clear(&handle);
    }
};

struct ChainSet {
    SGCertificateSet head{};
    ~ChainSet() { SGCertificateSet_Clear(&head); }
};

const TBSCertificate_t& tbsOf(const PathCertificate& certificate) {
    return certificate.handle->certificate->tbsCertificate;
}

const Extensions_t* extensionsOf(const PathCertificate& certificate) {
    return tbsOf(certificate).extensions;
}

bool hasExtension(const PathCertificate& certificate, int entryId) {
    return SGX509Extension_FindRAWEntry(nullptr, extensionsOf(certificate), entryId) == 0;
}

// The decoded value of a present extension: 0, 20902 when it does not decode, or the lookup's
// code when it is absent (callers test presence first).
template <typename T>
int decodeExtension(Decoded<T>& out, const PathCertificate& certificate, int entryId) {
    Extension_t* extension = nullptr;
    if (int error = SGX509Extension_FindRAWEntry(&extension, extensionsOf(certificate), entryId))
        return error;
    return out.decode(extension->extnValue.buf, extension->extnValue.size) == 0
               ? 0
               : SG_ASN_ERR_RUNTIME;
}

int stop(SGCertificateValidatorContext& context, int reason) {
    context.reason = reason;
    return SG_VALIDATOR_ERR_PATH;
}

void SGCertificateValidatorContext_Initialize(SGCertificateValidatorContext& context,
                                              const SGCertificateValidatorOptions& options) {
    context = SGCertificateValidatorContext{};
    context.policyTree.emplace();
    context.storage = options.storage;
    context.flags = options.flags;
}

void SGCertificateValidatorContext_Clear(SGCertificateValidatorContext& context) {
    context.policyTree.reset();
    context.permitted.clear();
    context.excluded.clear();
    context.constraintValues.clear();
    context.workingKey.clear();
    context.workingParameters.clear();
}

// --- Names -----------------------------------------------------------------------------------

const RDNSequence_t* rdnsOf(const Name_t* name) {
    return name && name->present == Name_PR_rdnSequence ? &name->choice.rdnSequence : nullptr;
}

// The same attribute values, in any order.
bool sameRdn(const RelativeDistinguishedName_t* a, const RelativeDistinguishedName_t* b) {
    if (a->list.count != b->list.count) return false;
    for (int i = 0; i < a->list.count; ++i) {
        bool found = false;
        for (int j = 0; j < b->list.count && !found; ++j)
            found = SGASN1CAttributeTypeAndValue_IsEqual(a->list.array[i], b->list.array[j]) == 0;
        if (!found) return false;
    }
    return true;
}

// Inside a directory-name base: the name's first RDNs are the base's.
int SGNameConstraints_IsIncluded(const Name_t* name, const Name_t* base) {
    const RDNSequence_t* n = rdnsOf(name);
    const RDNSequence_t* b = rdnsOf(base);
    if (!n || !b || b->list.count > n->list.count) return 0;
    for (int i = 0; i < b->list.count; ++i)
        if (!sameRdn(n->list.array[i], b->list.array[i])) return 0;
    return 1;
}

bool allowed(const SGCertificateValidatorContext& context, const Name_t* name) {
    for (const auto& group : context.permitted) {
        bool inside = false;
        for (const Name_t* base : group)
            inside = inside || SGNameConstraints_IsIncluded(name, base);
        if (!inside) return false;
    }
    for (const Name_t* base : context.excluded)
        if (SGNameConstraints_IsIncluded(name, base)) return false;
    return true;
}

// The subject and every directoryName of the subjectAltName against the constraints. An empty
// subject names nothing to constrain.
bool SGCertificateValidator_SubTreeValidation(const SGCertificateValidatorContext& context,
                                              const PathCertificate& certificate) {
    if (context.permitted.empty() && context.excluded.empty()) return true;
    const Name_t& subject = tbsOf(certificate).subject;
    const RDNSequence_t* rdns = rdnsOf(&subject);
    if (rdns && rdns->list.count > 0 && !allowed(context, &subject)) return false;
    if (!hasExtension(certificate, SG_X509_ENTRY_SUBJECT_ALT_NAME)) return true;
    Decoded<SubjectAltName_t> names(&asn_DEF_SubjectAltName);
    if (decodeExtension(names, certificate, SG_X509_ENTRY_SUBJECT_ALT_NAME) != 0) return false;
    for (int i = 0; i < names->list.count; ++i) {
        const GeneralName_t* name = names->list.array[i];
        if (name->present == GeneralName_PR_directoryName &&
            !allowed(context, &name->choice.directoryName))
            return false;
    }
    return true;
}

// Adds a CA's constraints. Only directory names are constrained here; a base of another kind, or
// one with a minimum or maximum, cannot be honoured and fails the path.
int SGCertificateValidator_Union_Subtrees(SGCertificateValidatorContext& context,
                                          std::unique_ptr<Decoded<NameConstraints_t>> value) {
    const NameConstraints_t* constraints = value->get();
    auto bases = [](std::vector<const Name_t*>& out, const GeneralSubtrees* subtrees) -> int {
        for (int i = 0; i < subtrees->list.count; ++i) {
            const GeneralSubtree_t* subtree = subtrees->list.array[i];
            if (subtree->minimum || subtree->maximum) return SG_VALIDATOR_REASON_NAME_CONSTRAINTS;
            if (subtree->base.present != GeneralName_PR_directoryName)
                return SG_PKI_ERR_NOT_SUPPORTED;
            out.push_back(&subtree->base.choice.directoryName);
        }
        return 0;
    };
    if (constraints->permittedSubtrees) {
        std::vector<const Name_t*> group;
        if (int error = bases(group, constraints->permittedSubtrees)) return error;
        context.permitted.push_back(std::move(group));
    }
    if (constraints->excludedSubtrees)
        if (int error = bases(context.excluded, constraints->excludedSubtrees)) return error;
    context.constraintValues.push_back(std::move(value));
    return 0;
}

// --- Policies --------------------------------------------------------------------------------

int SGCertificateValidator_PolicyTreeValidation(SGCertificateValidatorContext& context,
                                                const PathCertificate& certificate) {
    if (!hasExtension(certificate, SG_X509_ENTRY_CERTIFICATE_POLICIES)) {
        context.policyTree.reset();
        return 0;
    }
    Decoded<CertificatePolicies_t> policies(&asn_DEF_CertificatePolicies);
    if (decodeExtension(policies, certificate, SG_X509_ENTRY_CERTIFICATE_POLICIES) != 0)
        return SG_ASN_ERR_MALFORMED;
    for (int i = 0; i < policies->list.count; ++i) {
        char text[128];
        if (SGASN1CObjectIdentifier_ToString(text, sizeof text,
                                             &policies->list.array[i]->policyIdentifier) != 0)
            return SG_ASN_ERR_MALFORMED;
    }
    return 0;
}

bool readCount(long* out, const INTEGER_t* value) {
    return value && asn_INTEGER2long(value, out) == 0 && *out >= 0;
}

void lower(int* counter, long value) {
    if (value < *counter) *counter = static_cast<int>(value);
}

// requireExplicitPolicy and inhibitPolicyMapping lower their counters.
int applyPolicyConstraints(SGCertificateValidatorContext& context,
                           const PathCertificate& certificate, bool mappingToo) {
    if (!hasExtension(certificate, SG_X509_ENTRY_POLICY_CONSTRAINTS)) return 0;
    Decoded<PolicyConstraints_t> constraints(&asn_DEF_PolicyConstraints);
    if (decodeExtension(constraints, certificate, SG_X509_ENTRY_POLICY_CONSTRAINTS) != 0)
        return SG_ASN_ERR_MALFORMED;
    long value = 0;
    if (constraints->requireExplicitPolicy) {
        if (!readCount(&value, constraints->requireExplicitPolicy)) return SG_ASN_ERR_MALFORMED;
        lower(&context.explicitPolicy, value);
    }
    if (mappingToo && constraints->inhibitPolicyMapping) {
        if (!readCount(&value, constraints->inhibitPolicyMapping)) return SG_ASN_ERR_MALFORMED;
        lower(&context.policyMapping, value);
    }
    return 0;
}

// --- Phases ----------------------------------------------------------------------------------

void decrement(int* counter) {
    if (*counter != 0) --*counter;
}

// The subject's key becomes the working key; parameters a key does not carry are inherited
// only by a key of the same kind.
int takeWorkingKey(SGCertificateValidatorContext& context, const PathCertificate& certificate) {
    int kind = 0;
    SGBinary bits{}, parameters{};
    if (int error = SGX509Certificate_GetPublicKeyInfo(&kind, nullptr, &bits, &parameters,
                                                       certificate.handle))
        return error;
    context.workingKey.assign(bits.data, bits.data + bits.length);
    const bool nullParameters =
        !parameters.data || parameters.length == 0 ||
        (parameters.length == 2 && parameters.data[0] == 0x05 && parameters.data[1] == 0x00);
    if (!nullParameters)
        context.workingParameters.assign(parameters.data, parameters.data + parameters.length);
    else if (kind != context.workingKind)
        context.workingParameters.clear();
    context.workingKind = kind;
    return 0;
}

int SGCertificateValidator_InitializationPhase(SGCertificateValidatorContext& context,
                                               const std::vector<PathCertificate>& path) {
    const int n = static_cast<int>(path.size());
    context.explicitPolicy = context.initialExplicitPolicy ? 0 : n + 1;
    context.maxPathLength = n;
    context.policyMapping = 0;
    context.inhibitAnyPolicy = -1;
    const PathCertificate& anchor = path.back();
    if (int error = takeWorkingKey(context, anchor)) return error;
    // Names chain from the trust anchor's own subject.
    context.workingIssuer = &tbsOf(anchor).subject;
    return 0;
}

// Critical extensions this validation recognises; any other one fails the path.
bool recognised(int oidId) {
    switch (oidId) {
        case SG_OID_SUBJECT_KEY_IDENTIFIER:
        case SG_OID_KEY_USAGE:
        case SG_OID_SUBJECT_ALT_NAME:
        case kOidIssuerAltName:
        case SG_OID_BASIC_CONSTRAINTS:
        case SG_OID_NAME_CONSTRAINTS:
        case SG_OID_CRL_DISTRIBUTION_POINTS:
        case SG_OID_CERTIFICATE_POLICIES:
        case SG_OID_POLICY_MAPPINGS:
        case SG_OID_AUTHORITY_KEY_IDENTIFIER:
        case SG_OID_POLICY_CONSTRAINTS:
        case SG_OID_EXT_KEY_USAGE:
        case kOidInhibitAnyPolicy:
            return true;
        default:
            return false;
    }
}

bool criticalExtensionsRecognised(const PathCertificate& certificate) {
    const Extensions_t* extensions = extensionsOf(certificate);
    if (!extensions) return true;
    for (int i = 0; i < extensions->list.count; ++i) {
        const Extension_t* extension = extensions->list.array[i];
        if (extension->critical && *extension->critical && !recognised(oidIdOf(&extension->extnID)))
            return false;
    }
    return true;
}

bool inValidity(const PathCertificate& certificate) {
    const Validity_t& validity = tbsOf(certificate).validity;
    time_t notBefore = 0, notAfter = 0;
    if (!timeSeconds(&notBefore, &validity.notBefore) ||
        !timeSeconds(&notAfter, &validity.notAfter))
        return false;
    const time_t now = validationNow();
    return notBefore <= now && now <= notAfter;
}

int SGCertificateValidator_BasicCertificateProcessingPhase(
    SGCertificateValidatorContext& context, const PathCertificate& certificate,
    const std::vector<const SGX509Certificate*>& issuers) {
    // 1. The signature, by the algorithm the certificate names, with the working key.
    const uint8_t* tbs = nullptr;
    size_t tbsLength = 0;
    if (!signedPart(&tbs, &tbsLength, certificate.der->data, certificate.der->length))
        return SG_ASN_ERR_RUNTIME;
    SubjectKey key;
    key.kind = context.workingKind;
    key.bits = context.workingKey.data();
    key.bitsLength = context.workingKey.size();
    key.parameters = context.workingParameters.data();
    key.parametersLength = context.workingParameters.size();
    const Certificate_t* parsed = certificate.handle->certificate;
    if (int error = verifySignature(tbs, tbsLength, parsed->signature, parsed->signatureAlgorithm,
                                    key, kKeyNotLoaded))
        return error;

    // 2. Validity.
    if (!(context.flags & SG_VALIDATOR_IGNORE_VALIDITY) && !inValidity(certificate))
        return stop(context, SG_VALIDATOR_REASON_VALIDITY);

    // 3. Revocation, over the issuers the path already holds.
    SGCRLStatus status{};
    const int checked = checkRevocation(&status, certificate.handle, context.storage, issuers);
    if (!(context.flags & SG_VALIDATOR_IGNORE_CRL)) {
        if (checked != 0) return SG_VALIDATOR_ERR_PATH;
        if (status.reason != SG_CRL_NOT_REVOKED) return stop(context, SG_VALIDATOR_REASON_REVOKED);
    }

    // 4. Name chaining, whatever the revocation answer was.
    if (SGASN1CName_Compare(&tbsOf(certificate).issuer, context.workingIssuer) != 0)
        return stop(context, SG_VALIDATOR_REASON_ISSUER_NAME);

    // 5. Name constraints.
    if (!SGCertificateValidator_SubTreeValidation(context, certificate))
        return stop(context, SG_VALIDATOR_REASON_NAME_CONSTRAINTS);

    // An extension the issuer marked critical must be understood.
    if (!criticalExtensionsRecognised(certificate))
        return stop(context, SG_VALIDATOR_REASON_CRITICAL_EXTENSION);

    // 6, 7. Policies.
    if (int error = SGCertificateValidator_PolicyTreeValidation(context, certificate)) return error;
    if (context.explicitPolicy == 0 && !context.policyTree)
        return stop(context, SG_VALIDATOR_REASON_POLICY);
    return 0;
}

int SGCertificateValidator_PreparationPhase(SGCertificateValidatorContext& context,
                                            const PathCertificate& certificate) {
    // 1. Policy mappings.
    if (hasExtension(certificate, SG_X509_ENTRY_POLICY_MAPPINGS)) {
        Decoded<PolicyMappings_t> mappings(&asn_DEF_PolicyMappings);
        if (decodeExtension(mappings, certificate, SG_X509_ENTRY_POLICY_MAPPINGS) != 0)
            return SG_ASN_ERR_MALFORMED;
        for (int i = 0; i < mappings->list.count; ++i) {
            const PolicyMapping_t* mapping = mappings->list.array[i];
            if (oidIdOf(&mapping->issuerDomainPolicy) == SG_OID_ANY_POLICY ||
                oidIdOf(&mapping->subjectDomainPolicy) == SG_OID_ANY_POLICY)
                return stop(context, SG_VALIDATOR_REASON_POLICY);
        }
        if (context.policyMapping > 0) return SG_PKI_ERR_NOT_IMPLEMENTED;
    }

    // 2. The next certificate's issuer and key.
    context.workingIssuer = &tbsOf(certificate).subject;
    if (int error = takeWorkingKey(context, certificate)) return error;

    // 3. Name constraints.
    if (hasExtension(certificate, SG_X509_ENTRY_NAME_CONSTRAINTS)) {
        auto value = std::make_unique<Decoded<NameConstraints_t>>(&asn_DEF_NameConstraints);
        if (decodeExtension(*value, certificate, SG_X509_ENTRY_NAME_CONSTRAINTS) != 0)
            return stop(context, SG_VALIDATOR_REASON_NAME_CONSTRAINTS);
        const int merged = SGCertificateValidator_Union_Subtrees(context, std::move(value));
        if (merged == SG_VALIDATOR_REASON_NAME_CONSTRAINTS) return stop(context, merged);
        if (merged) return merged;
    }

    // 4, 5. Policy counters.
    decrement(&context.explicitPolicy);
    decrement(&context.policyMapping);
    decrement(&context.inhibitAnyPolicy);
    if (int error = applyPolicyConstraints(context, certificate, true)) return error;

    // 6. Basic constraints and the path length.
    if (!hasExtension(certificate, SG_X509_ENTRY_BASIC_CONSTRAINTS))
        return stop(context, SG_VALIDATOR_REASON_NO_BASIC_CONSTRAINTS);
    Decoded<BasicConstraints_t> constraints(&asn_DEF_BasicConstraints);
    if (decodeExtension(constraints, certificate, SG_X509_ENTRY_BASIC_CONSTRAINTS) != 0 ||
        !constraints->cA || !*constraints->cA)
        return stop(context, SG_VALIDATOR_REASON_NOT_CA);
    if (context.maxPathLength < 1) return stop(context, SG_VALIDATOR_REASON_PATH_LENGTH);
    --context.maxPathLength;
    if (constraints->pathLenConstraint) {
        long length = 0;
        if (!readCount(&length, constraints->pathLenConstraint))
            return stop(context, SG_VALIDATOR_REASON_NOT_CA);
        lower(&context.maxPathLength, length);
    }

    // 7. Key usage.
    if (hasExtension(certificate, SG_X509_ENTRY_KEY_USAGE)) {
        char usage[256] = "";
        if (SGX509Certificate_GetEntry(certificate.handle, usage, sizeof usage,
                                       SG_X509_ENTRY_KEY_USAGE, 0) != 0 ||
            !std::strstr(usage, "keyCertSign"))
            return stop(context, SG_VALIDATOR_REASON_KEY_CERT_SIGN);
    }
    return 0;
}

int SGCertificateValidator_WrapUpPhase(SGCertificateValidatorContext& context,
                                       const PathCertificate& certificate) {
    decrement(&context.explicitPolicy);
    if (int error = applyPolicyConstraints(context, certificate, false)) return error;
    if (int error = takeWorkingKey(context, certificate)) return error;
    if (context.explicitPolicy == 0 && !context.policyTree)
        return stop(context, SG_VALIDATOR_REASON_POLICY);
    return 0;
}

// The path runs from the target (first) to the trust anchor (last).
int SGPVD_ValidatePath(SGCertificateValidatorContext& context,
                       const std::vector<PathCertificate>& path) {
    if (path.size() < 2) return SG_PKI_ERR_ARGUMENT;
    if (int error = SGCertificateValidator_InitializationPhase(context, path)) return error;
    for (size_t i = path.size() - 1; i-- > 0;) {
        std::vector<const SGX509Certificate*> issuers;
        for (size_t j = i + 1; j < path.size(); ++j) issuers.push_back(path[j].handle);
        if (int error =
                SGCertificateValidator_BasicCertificateProcessingPhase(context, path[i], issuers))
            return error;
        if (i == 0) return SGCertificateValidator_WrapUpPhase(context, path[i]);
        if (int error = SGCertificateValidator_PreparationPhase(context, path[i])) return error;
    }
    return 0;
}

int validateFullPath(int* reason, const SGBinary* certificateDer,
                     const SGCertificateValidatorOptions* options) {
    Parsed target;
    if (int error = SGX509Certificate_FromBinary(&target.handle, certificateDer)) return error;
    ChainSet chain;
    if (int error = SGCertificateStorage_GenerateCertificateChain(
            &chain.head, options->storage, &target.handle, SG_CERTSTORE_CHAIN_LDAP, nullptr))
        return error;
    std::vector<PathCertificate> path{{&target.handle, certificateDer}};
    for (const SGCertificateSet* node = &chain.head; node && node->type; node = node->next)
        path.push_back({&node->x509Certificate, &node->certificate});

    SGCertificateValidatorContext context;
    SGCertificateValidatorContext_Initialize(context, *options);
    const int result = SGPVD_ValidatePath(context, path);
    if (reason) *reason = context.reason;
    SGCertificateValidatorContext_Clear(context);
    return result;
}

}  // namespace

extern "C" {

int SGCertificateValidator_ValidateFullPath(int* reason, const SGBinary* certificateDer,
                                            const SGCertificateValidatorOptions* options) {
    if (reason) *reason = SG_VALIDATOR_REASON_NONE;
    if (!certificateDer || !certificateDer->data || certificateDer->length == 0 || !options ||
        !options->storage)
        return SG_PKI_ERR_ARGUMENT;
    try {
        return validateFullPath(reason, certificateDer, options);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCertificateValidator_FindIssuer(SGBinary* out, const SGCertificateStorage* storage,
                                      const SGBinary* certificateDer) {
    if (!out || !storage || !certificateDer) return SG_PKI_ERR_ARGUMENT;
    try {
        Parsed certificate;
        if (int error = SGX509Certificate_FromBinary(&certificate.handle, certificateDer))
            return error;
        SGCertificateSet issuer{};
        if (int error = SGCertificateStorage_FindIssuer(&issuer, storage, &certificate.handle))
            return error;
        // The node found is the storage's own: only its bytes are copied.
        return SG_GBW(SGBinary_Copy)(out, &issuer.certificate) == 0 ? 0 : SG_PKI_ERR_MEMORY;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

}  // extern "C"
