/* SGCMP: the certificate management protocol client. Issues a new certificate pair with a
 * reference number and an authorization code, updates certificates with the old key, revokes a
 * certificate and recovers a key-management certificate, each over one TCP connection to the
 * authority; only replies whose protection verifies are used. Service slots 38 to 42. */
#ifndef SG_CMP_H
#define SG_CMP_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* Key indexes of the callbacks: the new signing key, the new key-management key, the old key. */
enum { SG_CMP_KEY_SIGN = 0, SG_CMP_KEY_KM = 1, SG_CMP_KEY_OLD = 100 };

/* Result codes besides the shared ones (10001 arguments, 10002 memory, 10009 a port, reference
 * number or key size out of range, 10010 not implemented). */
enum {
    SG_CMP_ERR_REVOKE_CERTIFICATE = 10018, /* the certificate to revoke does not decode */
    SG_CMP_ERR_CONNECT = 10025,            /* the connection cannot be opened */
    SG_CMP_ERR_TIMEOUT = 10026,            /* no reply within the receive time-out */
    SG_CMP_ERR_CLOSED = 10027,             /* the authority closed the connection */
    SG_CMP_ERR_NO_CALLBACK = 10601,        /* a needed key callback is missing */
    SG_CMP_ERR_SIZE_QUERY = 10602,         /* sign callback: answer to the size query */
    SG_CMP_ERR_SIGN = 10603,               /* the sign callback failed */
    SG_CMP_ERR_STATUS = 10604,             /* a PKIStatus outside 0 to 6 */
    SG_CMP_ERR_REJECTED = 10605,           /* the authority rejected the request */
    SG_CMP_ERR_MAC = 10606,                /* reply MAC missing or wrong (authorization code) */
    SG_CMP_ERR_SIGNATURE = 10607,          /* reply signature missing, wrong or not trusted */
    SG_CMP_ERR_OPERATION = 10608,          /* wrong operation */
    SG_CMP_ERR_UNEXPECTED = 10609,         /* a reply that does not answer the request */
    SG_CMP_ERR_OLD_CERTIFICATE = 10610,    /* the old certificate does not decode */
    SG_CMP_ERR_PUBLIC_KEY = 10611,         /* the getPublicKey callback failed */
    SG_CMP_ERR_DECRYPT = 10612,            /* the decrypt callback failed */
    SG_CMP_ERR_FRAME = 10613,              /* a reply frame flag or length refused */
    SG_CMP_ERR_NO_ENCRYPTION_CERT = 10614, /* no CA encryption certificate for the VID */
    SG_CMP_ERR_OLD_CERT_ID = 10615,        /* no old certificate for the second request */
    SG_CMP_ERR_NO_KEY = 12312332,          /* the built-in store holds no such key */
    SG_CMP_ERR_FLAGGED_REPLY = 585812,     /* a reply flagged as error decodes as a normal one */
    SG_CMP_ERR_BODY_KIND = 5551222,        /* a reply body of another kind than expected */
    SG_CMP_ERR_BODY_CHOICE = 1231233       /* a body choice the client does not read */
};

/* The connection: filled by the caller (host, port, time-outs); socket and flag are the
 * client's. 64 bytes. */
typedef struct SGCMPCommunication {
    const char* host;
    int port;           /* at most 65535 */
    int connectTimeout; /* seconds; below 1 means 5 */
    int receiveTimeout; /* seconds; below 1 means 5 */
    int socket;         /* -1 when closed */
    int lastFlag;       /* flag of the last reply: 0, 3 or 6 */
    unsigned char reserved[36];
} SGCMPCommunication;

/* The caller's keys. Used when getPublicKey, sign or dumpPrivateKey is set; otherwise the
 * client makes RSA keys itself. 40 bytes. */
typedef struct SGCMPKeyCallbacks {
    int (*getPublicKey)(SGBinary* publicKeyOut, SGBinary* parametersOut, int keyIndex, int keySize,
                        void* userData);
    /* Called with an empty output first: answers 10602 with the length set; then with a
     * buffer of that length: answers 0. */
    int (*sign)(SGBinary* signatureOut, SGBinary* data, int keyIndex, int reserved, int sha256Flag,
                void* userData);
    int (*decrypt)(SGBinary* out, SGBinary* in, int keyIndex, void* userData);
    int (*dumpPrivateKey)(SGBinary* out, int keyIndex, void* userData);
    void* userData;
} SGCMPKeyCallbacks;

/* What an operation runs with; caller-owned. 112 bytes. */
typedef struct SGCMPParameter {
    int caKind;                    /* 1, 2 or 3 */
    SGCMPKeyCallbacks* callbacks;  /* null: the built-in key generator */
    SGCMPCommunication connection; /* copied */
    int regInfoMarker;             /* adds the second regInfo attribute */
    int lowerSpec;                 /* 1024-bit keys, recipKID "lowerspec;101029" */
    int shortUpdate;               /* CA kind 1 update tag "SK_KUP" */
    int oldKey;                    /* re-certify the old key pair */
    int makeKMCertificate;         /* CA kind 2 update tag "makekmcert" */
    int singleKey;                 /* no key-management key pair */
    int* noConfirmation;           /* *noConfirmation == 1: no conf is sent */
} SGCMPParameter;

/* The outcome; caller-owned and zeroed before use, released with SGCMPResult_Reset. A chain
 * through next. 136 bytes. */
typedef struct SGCMPResult {
    SGBinaryList issuedCertificates; /* DER */
    SGBinaryList caCertificates;     /* DER */
    SGBinaryList* privateKeys;       /* built-in generator: PKCS #8 of key 0, then key 1 */
    SGBinary vidRandom;
    int status;               /* the PKIStatus of a rejection */
    SGBinaryList statusTexts; /* UTF-8 */
    struct SGCMPResult* next;
} SGCMPResult;

/* Operation 1: a new certificate pair. 0; 10605 (the result carries the status and its
 * texts); a code above. */
int SGCMP_Issue(SGCMPResult* result, const char* referenceNumber, const char* authorizationCode,
                SGCMPParameter* parameters);
/* Operation 2: old certificates (signing first, key-management second) and their private-key
 * DERs; the first certificate and its key are required. */
int SGCMP_Update(SGCMPResult* result, SGBinaryList* oldCertificates, SGBinaryList* oldPrivateKeys,
                 SGCMPParameter* parameters);
/* Operation 3: revokes every listed certificate, for the reason 0 to 8, in one request signed
 * with the first private key; 0 only when the authority accepted each of them. */
int SGCMP_Revoke(SGCMPResult* result, SGBinaryList* certificates, SGBinaryList* privateKeys,
                 SGCMPParameter* parameters, int reason);
/* Operation 4: recovers the key-management certificate. */
int SGCMP_Recover(SGCMPResult* result, const char* referenceNumber, const char* authorizationCode,
                  SGCMPParameter* parameters);
/* Wipes the private keys and releases every list of every node; the first node stays, zeroed. */
int SGCMPResult_Reset(SGCMPResult* result);

SG_EXTERN_C_END

#endif
