/* SGCertificateValidator: whether a certificate's path to a trusted root is valid. The chain is
 * built from a certificate storage (missing CA certificates fetched over LDAP) and run through a
 * reduced form of the RFC 5280 path validation: signatures, validity, revocation of every
 * certificate below the root, issuer-name chaining, basic constraints with path length, key
 * usage, directory-name constraints, and the explicit-policy counter. Service slot 86. */
#ifndef SG_CERTIFICATE_VALIDATOR_H
#define SG_CERTIFICATE_VALIDATOR_H

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGCertificateStorage.h"

SG_EXTERN_C_BEGIN

/* Flags of the options. */
enum {
    SG_VALIDATOR_IGNORE_VALIDITY = 1, /* validity periods of the certificates are not checked */
    SG_VALIDATOR_IGNORE_CRL = 2       /* revocation results (revoked or not checkable) ignored */
};

/* Caller-owned options; the storage is required and grows by the certificates fetched. */
typedef struct SGCertificateValidatorOptions {
    SGCertificateStorage* storage;
    int flags;
} SGCertificateValidatorOptions;

/* The result of a path that does not validate, with a reason. */
enum { SG_VALIDATOR_ERR_PATH = 10700 };

/* Reasons. */
enum {
    SG_VALIDATOR_REASON_NONE = 0,
    SG_VALIDATOR_REASON_NO_BASIC_CONSTRAINTS = 1, /* a CA certificate without basicConstraints */
    SG_VALIDATOR_REASON_KEY_CERT_SIGN = 100,      /* a CA's keyUsage lacks keyCertSign */
    SG_VALIDATOR_REASON_NOT_CA = 101,             /* cA missing or false, or not decodable */
    SG_VALIDATOR_REASON_VALIDITY = 102,           /* outside its validity period */
    SG_VALIDATOR_REASON_REVOKED = 103,            /* revoked */
    SG_VALIDATOR_REASON_ISSUER_NAME = 104,        /* issuer differs from the issuer's subject */
    SG_VALIDATOR_REASON_CRITICAL_EXTENSION = 105, /* a critical extension not recognised */
    SG_VALIDATOR_REASON_POLICY = 106,             /* policy (explicit policy, anyPolicy map) */
    SG_VALIDATOR_REASON_NAME_CONSTRAINTS = 107,   /* a name outside the constraints */
    SG_VALIDATOR_REASON_PATH_LENGTH = 108         /* path length exceeded */
};

/* Validates the certificate (DER) against the options' storage. *reason (when given) is always
 * written: 0 unless a reason was set. 0 when the path validates; 10700 with a reason; the chain
 * builder's 10352 (no issuer) or 10353 (root not trusted); 10001 for a missing argument or
 * storage; otherwise the code of the step that failed (a signature that does not verify among
 * them). */
int SGCertificateValidator_ValidateFullPath(int* reason, const SGBinary* certificateDer,
                                            const SGCertificateValidatorOptions* options);

/* The DER of the certificate's issuer in the storage (SGCertificateStorage_FindIssuer) into an
 * empty record out: 0, 10351, 10001, 10002. */
int SGCertificateValidator_FindIssuer(SGBinary* out, const SGCertificateStorage* storage,
                                      const SGBinary* certificateDer);

SG_EXTERN_C_END

#endif
