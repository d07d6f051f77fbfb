/* The KISA identity check and signature list: the HashContent that a certificate's virtual
 * identifier (VID) hashes, the check of an identification number against the VID of the
 * identifyData other name in the subjectAltName, and the verification of a signed list of
 * security-token driver hashes. Service slots 73 to 77. */
#ifndef SG_KISA_H
#define SG_KISA_H

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGX509Certificate.h"

SG_EXTERN_C_BEGIN

/* Result codes besides the shared ones of SGPKCSError.h (10001 missing argument, 10003 a VID
 * hash other than SHA-1, SHA-256, SHA-384 or SHA-512, 10004 no VID in the certificate, 10009 a
 * random number of 0 or more than 200 bytes, 10013 re-encoding or key preparation failed,
 * 20904 a SignatureValue that does not decode). */
enum {
    SG_KISA_ERR_VID_MISMATCH = 10012, /* the identification number does not give the VID */
    SG_KISA_ERR_CERTIFICATE = 10018,  /* no subjectAltName, or a signer that does not parse */
    SG_KISA_ERR_SIGNER = 10022,       /* the signer is not the named issuer and serial */
    SG_KISA_ERR_SIGNATURE = 10024     /* the list's signature does not verify */
};

/* The input of SGKISAHashContent_Encode: the identification number's characters (no
 * terminator) and the random number (the key file's randomNum). */
typedef struct SGKISAHashContent {
    SGBinary idn;
    SGBinary randomNum;
} SGKISAHashContent;

/* One SignatureToken of a verified list. The list is released with SGKISASignatureToken_Free. */
typedef struct SGKISASignatureToken {
    char* driverName; /* terminated copy */
    int digestId;     /* of hashID; 0 for a digest outside the library */
    SGBinary hashValue;
    struct SGKISASignatureToken* next;
} SGKISASignatureToken;

/* DER of HashContent { idn PrintableString, randomNum BIT STRING (0 unused bits) } into out,
 * which is emptied first. The third argument is not read. */
int SGKISAHashContent_Encode(SGBinary* out, const SGKISAHashContent* content, void* unused);

/* 0 when H(H(HashContent)) with the VID's hash equals the certificate's VID in full. The
 * identification number is text. */
int SGKISAVID_Verify(const SGX509Certificate* certificate, const char* idn,
                     const SGBinary* randomNum);

/* The issuer Name and serialNumber INTEGER (DER, into empty records) of a SignatureValue's
 * signerAndSerialNumber. */
int SGKISASignatureToken_GetSignerInfo(SGBinary* issuer, SGBinary* serialNumber,
                                       const SGBinary* signatureValue);

/* Verifies a SignatureValue with the signer certificate (DER) by the algorithm it names; an
 * algorithm that names no digest (bare rsaEncryption, KCDSA) takes the digest of the signer
 * certificate's own signature algorithm (10013 when that gives none). The token list is handed
 * out in *list once it is decoded, also when the signer or the signature fails. */
int SGKISASignatureToken_Verify(SGKISASignatureToken** list, const SGBinary* signatureValue,
                                const SGBinary* signerCertificate);

/* Releases every node with its text and buffer. */
void SGKISASignatureToken_Free(SGKISASignatureToken* list);

SG_EXTERN_C_END

#endif
