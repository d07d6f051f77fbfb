/* PKCS #7 / CMS SignedData: signing with one signer per call, the private key behind a key
 * handle (SGCryptoHandler.h), so a token's key never leaves it; verification of every
 * SignerInfo against a certificate the SignedData carries; and putting content into or taking it
 * out of a SignedData. Service slots 53 to 57.
 *
 * Signed attributes are signed and verified exactly as they stand in the SignerInfo: the signer
 * writes contentType, messageDigest, signingTime in that order and signs those bytes; the
 * verifier digests the received bytes with their [0] tag read as SET, never a re-encoding, so
 * attributes in any order verify. */
#ifndef SG_PKCS7_SIGNED_DATA_H
#define SG_PKCS7_SIGNED_DATA_H

#include <time.h>

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGCertificateSet.h"
#include "SGCryptoHandler.h"
#include "SGPKCS7.h"
#include "SGX509Certificate.h"

SG_EXTERN_C_BEGIN

/* Content modes. Modes 1 and 2 are signed only detached (flag 0x10). */
enum {
    SG_PKCS7_MODE_MESSAGE = 0,     /* the input is the message */
    SG_PKCS7_MODE_DIGEST_INFO = 1, /* the input is a DER DigestInfo of the message */
    SG_PKCS7_MODE_HASH = 2         /* the input is the message's hash */
};

/* Flags. */
enum {
    SG_PKCS7_ADD_CERTIFICATE = 0x01,   /* the signer certificate goes into certificates */
    SG_PKCS7_REQUIRE_CRL = 0x02,       /* a CRL argument is required (10008 without) */
    SG_PKCS7_BARE = 0x04,              /* a SignedData without the ContentInfo wrapper */
    SG_PKCS7_SIGNER_BY_SUBJECT = 0x08, /* the signer named by subject name and serial */
    SG_PKCS7_DETACHED = 0x10,          /* the content is left out after signing */
    SG_PKCS7_SIGNED_ATTRIBUTES = 0x20  /* contentType, messageDigest, signingTime are signed */
};

/* The options of signing and verification; caller-owned, 32 bytes. */
typedef struct SGPKCS7SignedDataParameters {
    int contentMode;
    int flags;
    /* Signing: the signingTime (null or zero: now). Verification: when non-null, receives the
     * signingTime of the signed attributes (left as it is when there is none). */
    time_t* signingTime;
    const SGPKCS7Attribute* unsignedAttributes; /* signing; null for none */
    int digestId;                               /* 1-3, 5-8 (SGDigest.h) */
    int externalSignerInput; /* handed to an RSA key handle when signed attributes are off: a
                                sign callback then receives the DigestInfo */
} SGPKCS7SignedDataParameters;

/* The decoded view of one SignerInfo; zeroed before use, SGPKCS7SignerInfo_Reset frees it.
 * attributes: the signed attributes by name: "CONTENT_TYPE" (no value), "MESSAGE_DIGEST" (the
 * digest octets), "SIGNING_TIME" (the time as a native 8-byte time_t, from UTCTime or
 * GeneralizedTime), and for any other attribute its dotted type (at most 128 characters) with
 * the DER of its first value. signedAttributes: the received [0] bytes with the SET tag, the
 * bytes the signature covers. */
typedef struct SGPKCS7SignerInfo {
    SGBinary signerIdentifier; /* DER of the sid */
    int digestId;
    SGBinaryTupleList* attributes;
    SGBinary* signedAttributes; /* null without signed attributes */
    int keyKind;                /* 1 RSA, 3 or 4 KCDSA */
    SGBinary* parameters;       /* the signature algorithm's parameters unless absent or NULL */
    SGBinary signature;
} SGPKCS7SignerInfo;

/* Signs content as SignedData with the key handle and the certificate's identity into out (a
 * new buffer on success, the caller frees it; out is not touched on failure).
 * Signer info: version 1, the certificate's issuer (subject under 0x08) and serial, the options'
 * digest, the bare key algorithm of the certificate's key (rsaEncryption, 1.2.410.200004.1.1 or
 * .1.21) with NULL parameters. The signature goes through SGCryptoHandler_Sign into 512 bytes:
 * RSA with the word digest << 16 | 1 and the input record {0, 0} with signed attributes, else
 * {mode != 0, externalSignerInput}; a bare hash (mode 2) is first wrapped into the DigestInfo of
 * the digest, so every RSA signature is a standard PKCS #1 v1.5 one. KCDSA with the word
 * digest << 16 | 16 over the signed attributes or the message.
 * 0; 10001 a missing argument, a key handle of type 0, modes 1 and 2 without 0x10, a mode 2 hash
 * of the wrong length, a mode above 2; 10008 (0x02 without crl); 10105/10107 the certificate's
 * key; 10106 the digest; 10111 KCDSA with mode 1 or 2 and no signed attributes; 10121 a mode 1
 * DigestInfo of another digest; 10013 an unsigned attribute type that does not parse; 10002;
 * 20900; the key handle's codes (a signature longer than 512 bytes is refused with one). */
int SGPKCS7SignedData_Sign(SGBinary* out, const SGBinary* content,
                           const SGX509Certificate* signerCertificate, const SGBinary* crl,
                           const SGCryptoHandlerKey* key,
                           const SGPKCS7SignedDataParameters* options);

/* Verifies every SignerInfo of a SignedData (a ContentInfo, or bare under option 0x04). The signer
 * is the first plain certificate of the SignedData whose issuer (subject under 0x08) and serial
 * number are those of the sid. On success contentOut (may be null) receives a copy of the
 * encapsulated content when there is one (what it held is released), and signerSet (may be null)
 * gets each signer's certificate (type 1, path "signerInfo"); on failure neither is touched
 * (nor the time), except that signerSet may hold some of them when memory runs out at the end.
 * Content modes (options; null options: mode 0, wrapped, issuer-identified): 1 and 2 give the
 * DigestInfo or the hash of the message as the content, compared with messageDigest or signed
 * as the DigestInfo.
 * 0; 10001; 20901 bad DER; 10102/10103 not signedData; 10011 encapsulated content not data, or
 * no signer certificate; 10101 no content; 10004 no SignerInfo; 10113 sid; 10106 digest;
 * 10105/10107 signature algorithm; 10018 a signer certificate with a serial number over 20
 * bytes; 10015 key; 10122 no messageDigest; 10121 messageDigest mismatch (also a value of
 * another length); 10119 bad signature; the crypto layer's codes. */
int SGPKCS7SignedData_Verify(SGBinary* contentOut, SGCertificateSet* signerSet,
                             const SGBinary* signedData, const SGBinary* detachedContent,
                             const SGPKCS7SignedDataParameters* options);

/* With flags bit 0, a copy of signedData (wrapped or bare, kept so) whose encapsulated content is
 * content as data; without it, a copy of signedData as it is. Everything else keeps its bytes.
 * 0; 10001; 20901 not a SignedData; 10002. out is a new buffer on success. */
int SGPKCS7SignedDataElements_Set(SGBinary* out, const SGBinary* signedData,
                                  const SGBinary* content, int flags);
/* With flags bit 0 a copy of the encapsulated content (10101 when there is none); without it
 * nothing (0). */
int SGPKCS7SignedDataElements_Get(SGBinary* out, const SGBinary* signedData, int flags);
/* Frees the buffer's bytes and zeroes it. */
int SGPKCS7SignedDataElements_Reset(SGBinary* buffer);

/* The view of one SignerInfo from its DER (view zeroed first; run Reset in every case).
 * 0; 10001; 20901 bad DER (also a signingTime or messageDigest value that does not decode);
 * 10106 unknown digest; 10004; 10107 signature algorithm; 10002. */
int SGPKCS7SignedData_GetSignerInfo(SGPKCS7SignerInfo* view, const SGBinary* signerInfo);
int SGPKCS7SignerInfo_Reset(SGPKCS7SignerInfo* view);
/* The number of SignerInfos of a SignedData (flags 0x04: bare). 0; 10001; 20901; 10102/10103. */
int SGPKCS7SignedData_GetSignerCount(int* count, const SGBinary* signedData, int flags);
/* The same. */
int SGPKCS7SignedData_GetCountOfSigner(int* count, const SGBinary* signedData, int flags);

SG_EXTERN_C_END

#endif
