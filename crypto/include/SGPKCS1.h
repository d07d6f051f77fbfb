/* PKCS #1: RSAES-PKCS1-v1_5 and RSAES-OAEP encryption, RSASSA-PKCS1-v1_5 and RSASSA-PSS
 * signatures (also through an external signer), and DigestInfo. The private-key operation is
 * blinded in the message and the exponent and runs in constant time. */
#ifndef SG_PKCS1_H
#define SG_PKCS1_H

#include "SGRSA.h"

SG_CRYPTO_EXTERN_C_BEGIN

enum {
    SG_PKCS1_V15_SIGNATURE = 1000,
    SG_PKCS1_PSS = 1001,
    SG_PKCS1_V15_ENCRYPTION = 2000,
    SG_PKCS1_OAEP = 2001,
    SG_PKCS1_MGF1 = 1100,
    SG_PKCS1_HASH_MD2 = 1,
    SG_PKCS1_HASH_AS_GIVEN = 10 /* the input is used as given */
};

enum {
    SG_PKCS1_ERR_SIGNATURE = 551,         /* invalid signature or signature length */
    SG_PKCS1_ERR_NO_KEY = 553,            /* no key for the operation */
    SG_PKCS1_ERR_MESSAGE_TOO_LONG = 555,  /* encryption */
    SG_PKCS1_ERR_CIPHERTEXT_LENGTH = 556, /* v1.5 decryption */
    SG_PKCS1_ERR_OUTPUT_TOO_SHORT = 557,  /* the needed length is reported */
    SG_PKCS1_ERR_UNSUPPORTED = 558,       /* scheme, hash id or mask generation */
    SG_PKCS1_ERR_PSS_ENCODING = 559,      /* encoded length too small for hash and salt */
    SG_PKCS1_ERR_DIGEST = 560,            /* digest failure while encoding */
    SG_PKCS1_ERR_PSS_MEMORY = 561,
    SG_PKCS1_ERR_INTEGER_TOO_LARGE = 562, /* I2OSP */
    SG_PKCS1_ERR_REPRESENTATIVE = 563,    /* signing: message representative not below n */
    SG_PKCS1_ERR_PSS_SHORT = 564,
    SG_PKCS1_ERR_PSS_TRAILER = 565,
    SG_PKCS1_ERR_PSS_PADDING = 566,
    SG_PKCS1_ERR_PSS_SEPARATOR = 567,
    SG_PKCS1_ERR_PSS_HASH = 568,
    SG_PKCS1_ERR_OAEP_DECRYPT = 569, /* any cause */
    SG_PKCS1_ERR_V15_ENCODING = 578, /* block shorter than the DigestInfo plus 11 */
    SG_PKCS1_ERR_PSS_MGF = 580,
    SG_PKCS1_ERR_V15_FIRST_BYTE = 581,
    SG_PKCS1_ERR_V15_BLOCK_TYPE = 582,
    SG_PKCS1_ERR_V15_PADDING = 583, /* padding under 8 bytes or no separator */
    SG_PKCS1_ERR_RSAVP1_RANGE = 584,
    SG_PKCS1_ERR_RSAEP_RANGE = 585,
    SG_PKCS1_ERR_RSADP_RANGE = 586,
    SG_PKCS1_ERR_V15_VERIFY_ENCODING = 587,
    SG_PKCS1_ERR_KEY_ITEMS = 588, /* private key without modulus or public exponent */
    SG_PKCS1_ERR_BLINDING = 589
};

/* An external signer: writes the signature length of its key (for RSA the modulus length). */
typedef int (*SGKeySizeCallback)(unsigned int* size, void* userData);
/* An external signer: writes the finished signature and its length; the algorithm word is the
 * hash id << 16 | the scheme. */
typedef int (*SGSignCallback)(unsigned char* signature, unsigned int* length,
                              const unsigned char* input, unsigned int inputLength,
                              unsigned int algorithm, void* userData);

/* 4248 bytes; caller-owned and zeroed before the fields are set. */
typedef struct SGPKCS1Parameter {
    int signatureScheme;  /* 1000, 1001 */
    int encryptionScheme; /* 2000, 2001 */
    int hashId;           /* digest id, or 10: the input as given */
    int alreadyHashed;    /* 1: a v1.5 signature's message is the digest (with hash id 10: the
                             DigestInfo, or the whole block when it has the modulus length) */
    SGRSAPublicKey* publicKey;
    SGRSAPrivateKey* privateKey;
    const unsigned char* digestInfoParameters; /* in place of NULL in the AlgorithmIdentifier */
    uint32_t digestInfoParametersLength;
    const unsigned char* paddingSource; /* v1.5 encryption: padding taken from these bytes */
    int pssMaskGeneration;              /* 1100 */
    int pssMaskHashId;
    int pssSaltLength;
    const unsigned char* pssSalt; /* null: a random salt */
    int oaepMaskGeneration;       /* 1100 */
    int oaepMaskHashId;
    const unsigned char* oaepLabel; /* null: the empty label */
    int oaepLabelLength;            /* -1 refuses decryption */
    const unsigned char* oaepSeed;  /* null: a random seed */
    SGKeySizeCallback keySizeCallback;
    SGSignCallback signCallback;
    void* callbackUserData;
    int externalSignerInput; /* with a sign callback: the callback gets the DigestInfo */
    int reserved;            /* keeps the marker at the record's end */
    SGCryptoStructureMarker marker;
} SGPKCS1Parameter;

/* Every operation refuses a key outside the bounds of SGRSA.h with 11 before it exponentiates.
 * *length: in, the signature buffer's size; out, the signature length (k). A null buffer asks
 * for the length (0). 0 or a code; 553 without a private key or sign callback. */
int SGPKCS1_Sign(unsigned char* signature, unsigned int* length, const unsigned char* message,
                 unsigned int messageLength, SGPKCS1Parameter* parameter);
/* 0 when valid, else a code; 553 null signature, parameter or public key. */
int SGPKCS1_Verify(const unsigned char* signature, unsigned int signatureLength,
                   const unsigned char* message, unsigned int messageLength,
                   SGPKCS1Parameter* parameter);
/* k bytes of ciphertext. *length: in, the output's size; out, k. 557 (k reported) when the
 * output is null or shorter than k. */
int SGPKCS1_Encrypt(unsigned char* output, unsigned int* length, const unsigned char* message,
                    unsigned int messageLength, SGPKCS1Parameter* parameter);
/* *length: in, the output's size, which must hold the longest message the scheme carries
 * (k - 11 for v1.5, k - 2hLen - 2 for OAEP; else 557 with that length); out, the message
 * length. Padding is checked without branches on the decrypted block. */
int SGPKCS1_Decrypt(unsigned char* output, unsigned int* length, const unsigned char* ciphertext,
                    unsigned int ciphertextLength, SGPKCS1Parameter* parameter);
/* DigestInfo of a digest: 0; 11 hash id 10 or null arguments; 558 ids without an OID; 14 when
 * the output (of *length bytes) is shorter (the length is not updated then). */
int SGPKCS1_CreateDigestInfo(unsigned char* output, unsigned int* length, int hashId,
                             const unsigned char* digest, const unsigned char* parameters,
                             int parameterLength);
/* Splits a DigestInfo: 0; 11 no input; 20 a structure element missing; 558 a digest other
 * than SHA-1, SHA-256, SHA-384, SHA-512; 14 a buffer too short (the needed length reported).
 * The parameters are copied with their tag and length. */
int SGPKCS1_DecodeDigestInfo(int* hashId, unsigned char* digest, unsigned int* digestLength,
                             unsigned char* parameters, unsigned int* parameterLength,
                             const unsigned char* der, int length);

/* While a validated module is current, PSS signatures and OAEP encryption whose hash and mask
 * hash are SHA-224 or SHA-256 go to it: the parameter record is marked, the key is handed over
 * as DER, and the module's result is returned as it is. */

/* The signing and verification dispatch without the validated-module check. */
int _SGPKCS1_Sign(unsigned char* signature, unsigned int* length, const unsigned char* message,
                  unsigned int messageLength, SGPKCS1Parameter* parameter);
int _SGPKCS1_Verify(const unsigned char* signature, unsigned int signatureLength,
                    const unsigned char* message, unsigned int messageLength,
                    SGPKCS1Parameter* parameter);

SG_CRYPTO_EXTERN_C_END

#endif
