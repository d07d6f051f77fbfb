/* SGX509Certificate: a parsed X.509 certificate whose fields are read by entry id as text, as
 * DER or as the decoded structure; algorithm and public-key mapping, the validity, root and CA
 * tests, and the generation of a signed certificate. Service slots 5 to 20. */
#ifndef SG_X509_CERTIFICATE_H
#define SG_X509_CERTIFICATE_H

#include <time.h>

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* The ASN.1 structures (generated types) and the crypto layer's signature keys. */
struct Certificate;
struct AlgorithmIdentifier;
struct GeneralName;
struct SGDSKey;
struct SGDSParameter;

/* The handle: the decoded certificate, null when empty. Callers keep it zeroed and pass its
 * address; the library fills and clears the pointer. */
typedef struct SGX509Certificate {
    struct Certificate* certificate;
} SGX509Certificate;

/* Entry ids: the same numbers for text, DER and structure access. */
enum {
    SG_X509_ENTRY_VERSION = 1,
    SG_X509_ENTRY_SERIAL_NUMBER = 2,
    SG_X509_ENTRY_SIGNATURE = 3, /* algorithm inside the signed part */
    SG_X509_ENTRY_ISSUER = 4,
    SG_X509_ENTRY_NOT_BEFORE = 5,
    SG_X509_ENTRY_NOT_AFTER = 6,
    SG_X509_ENTRY_SUBJECT = 7,
    SG_X509_ENTRY_PUBLIC_KEY_INFO = 8,
    SG_X509_ENTRY_PUBLIC_KEY_ALGORITHM = 9,
    SG_X509_ENTRY_PUBLIC_KEY = 10,
    SG_X509_ENTRY_ISSUER_UNIQUE_ID = 11,
    SG_X509_ENTRY_SUBJECT_UNIQUE_ID = 12,
    SG_X509_ENTRY_AUTHORITY_KEY_IDENTIFIER = 13,
    SG_X509_ENTRY_BASIC_CONSTRAINTS = 14,
    SG_X509_ENTRY_SUBJECT_KEY_IDENTIFIER = 15,
    SG_X509_ENTRY_CERTIFICATE_POLICIES = 16,
    SG_X509_ENTRY_NAME_CONSTRAINTS = 17,
    SG_X509_ENTRY_SUBJECT_ALT_NAME = 18,
    SG_X509_ENTRY_CRL_DISTRIBUTION_POINTS = 19,
    SG_X509_ENTRY_AUTHORITY_INFO_ACCESS = 20,
    SG_X509_ENTRY_SUBJECT_INFO_ACCESS = 21,
    SG_X509_ENTRY_KEY_USAGE = 22,
    SG_X509_ENTRY_POLICY_MAPPINGS = 23,
    SG_X509_ENTRY_POLICY_CONSTRAINTS = 24,
    SG_X509_ENTRY_EXT_KEY_USAGE = 25,
    SG_X509_ENTRY_ISSUING_DISTRIBUTION_POINT = 26,
    SG_X509_ENTRY_SIGNATURE_ALGORITHM = 27,
    SG_X509_ENTRY_SIGNATURE_VALUE = 28
};

/* Flags of SGX509Certificate_GetEntry (entries 4 and 7; entry 16 takes the policy parts). */
enum {
    SG_X509_FLAG_LOWER_CASE = 1,       /* subject (and, with flags exactly 1, issuer) names */
    SG_X509_FLAG_COMPACT_SEPARATOR = 2 /* "," instead of ", " between RDNs */
};

/* Result codes of this component besides the shared ones (10001 missing argument, 10003
 * unsupported algorithm, 10004 extension absent, 10010 entry not supported, 20902 undecodable
 * input, 1003 buffer too small for hexadecimal). */
enum {
    SG_X509_ERR_KEY = 10015,             /* the key does not load */
    SG_X509_ERR_SERIAL_TOO_LONG = 10018, /* serial number over 20 bytes */
    SG_X509_ERR_EMPTY = 10300,           /* the handle holds no certificate */
    SG_X509_ERR_UNKNOWN_NAME = -123123   /* algorithm without a display name */
};

/* Certificate key kinds. */
enum {
    SG_X509_KEY_RSA = 1,
    SG_X509_KEY_EC = 3,
    SG_X509_KEY_KCDSA = 4, /* 1.2.410.200004.1.1 */
    SG_X509_KEY_KCDSA2 = 5 /* 1.2.410.200004.1.21 */
};

/* Kinds of the subject's alternative names of a generated certificate. */
enum { SG_X509_ALT_RFC822 = 1, SG_X509_ALT_DNS = 2, SG_X509_ALT_IP = 7 };

typedef struct SGX509AltNameNode {
    int kind;
    SGBinary value; /* the text, or the address bytes */
    struct SGX509AltNameNode* next;
} SGX509AltNameNode;

typedef struct SGX509GenerateParameters {
    int version;                 /* 1, 2 or 3; any other value means 3 */
    long serialNumber;           /* used when serialBytes is null */
    SGBinary* serialBytes;       /* the INTEGER's content bytes, or null */
    const char* subject;         /* distinguished-name text in EUC-KR, first RDN first */
    const char* issuer;          /* the same for the issuer */
    time_t notBefore;            /* 0 = now */
    time_t notAfter;             /* 0 = now */
    struct SGDSKey* subjectKey;  /* the subject's RSA key */
    struct SGDSKey* signerKey;   /* the issuer's RSA private key */
    int digestId;                /* 1 to 8 */
    int cA;                      /* basicConstraints cA */
    long* pathLenConstraint;     /* null = none */
    int digitalSignature;        /* keyUsage digitalSignature */
    int serverAuth;              /* extKeyUsage serverAuth */
    SGX509AltNameNode* altNames; /* subjectAltName, null = none */
} SGX509GenerateParameters;

/* BER-decodes the certificate into the handle (a certificate it held is released): 0; 10001;
 * 20902 undecodable; 10018 serial number over 20 bytes (handle unchanged). */
int SGX509Certificate_FromBinary(SGX509Certificate* handle, const SGBinary* der);
/* The DER of the whole certificate. */
int SGX509Certificate_ToBinary(SGBinary* out, const SGX509Certificate* handle);
/* Releases the certificate and empties the handle (10300 when it was empty). */
int SGX509Certificate_Clear(SGX509Certificate* handle);
/* As Clear, then frees the handle record itself (SGMemory_free). */
int SGX509Certificate_Free(SGX509Certificate* handle);

/* Empties the buffer and writes the entry's text. */
int SGX509Certificate_GetEntry(const SGX509Certificate* handle, char* buffer, unsigned int size,
                               int entryId, int flags);
/* The DER of the entry's field (of the extension's value for 13 to 26) into an empty record. */
int SGX509Certificate_GetEncodedEntry(SGBinary* out, const SGX509Certificate* handle, int entryId);
/* Points *out at the entry's field inside the decoded structure (no copy). */
int SGX509Certificate_GetASN1CEntry(void** out, const SGX509Certificate* handle, int entryId);

/* Key kind, digest id and parameters (pointer and length, no copy) of an algorithm; outputs
 * may be null. 10003 for an algorithm outside the mapping. */
int SGX509Certificate_ConvertAlgorithmIdentifier(int* keyKind, int* digestId, SGBinary* parameters,
                                                 const struct AlgorithmIdentifier* algorithm);
int SGX509Certificate_GetSignatureAlgorithm(int* keyKind, int* digestId, SGBinary* parameters,
                                            const SGX509Certificate* handle);
/* The subject's key kind, key size (when asked, by loading the key), key bits and parameters
 * (pointer and length into the certificate). */
int SGX509Certificate_GetPublicKeyInfo(int* keyKind, int* keySize, SGBinary* keyBits,
                                       SGBinary* parameters, const SGX509Certificate* handle);
/* The same for a DER SubjectPublicKeyInfo; key bits and parameters are copies the caller
 * frees. */
int SGX509Certificate_ParsePublicKeyInfo(int* keyKind, int* keySize, SGBinary* keyBits,
                                         SGBinary* parameters, const SGBinary* der);

/* 0 when notBefore <= time <= notAfter (time null = now), -1 outside, else an error. */
int SGX509Certificate_InTime(const SGX509Certificate* handle, const time_t* when, void* unused,
                             int asGmt);
/* 0 for a root (CA, subject equal to issuer, no authorityKeyIdentifier), non-zero otherwise.
 * The DER is used when given, else the handle. */
int SGX509Certificate_IsRoot(const SGX509Certificate* handle, const SGBinary* der);
/* 1 when basicConstraints says cA, 0 otherwise. */
int SGX509Certificate_IsCA(const SGX509Certificate* handle, const SGBinary* der);

/* Loads the certificate's key into *key and prepares *parameter for verifying with it. */
int SGX509Certificate_ToDSParameters(struct SGDSKey* key, struct SGDSParameter* parameter,
                                     const SGX509Certificate* handle);
/* Builds and signs a certificate into the handle (a certificate it held is released). */
int SGX509Certificate_Generate(SGX509Certificate* handle,
                               const SGX509GenerateParameters* parameters);

/* A directoryName as distinguished-name text, a URI as its characters; other kinds leave the
 * buffer unchanged. 0, or the name-rendering error; 10009 when a URI does not fit. */
int SGX509GeneralName_ToString(char* buffer, unsigned int size, const struct GeneralName* name);

SG_EXTERN_C_END

#endif
