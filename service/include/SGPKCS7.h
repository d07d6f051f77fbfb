/* PKCS #7 / CMS shared layer: the content-type ids and the ContentInfo wrapper with its typed
 * content, the maps between the library's ids and the AlgorithmIdentifiers of digests and
 * signatures, the key kind and digest id of a certificate, IssuerAndSerialNumber, the signed
 * attributes and the unsigned-attribute list. The signed-data component (SGPKCS7SignedData.h)
 * builds on it; content encryption and recipient infos join it here.
 *
 * The ASN.1 structures are those of the compiled CMS module (generated types, declared here only
 * by name). Every function returns 0 or a code of SGPKCSError.h or of the list below. */
#ifndef SG_PKCS7_H
#define SG_PKCS7_H

#include <stddef.h>

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGX509Certificate.h"

SG_EXTERN_C_BEGIN

/* The generated structures. */
struct ASN__PRIMITIVE_TYPE_s; /* OBJECT IDENTIFIER */
struct OCTET_STRING;
struct AlgorithmIdentifier;
struct ContentInfo;
struct EncapsulatedContentInfo;
struct IssuerAndSerialNumber;
struct SignerInfo;
struct UnsignedAttributes;
struct SGPKCS7SignedDataParameters; /* SGPKCS7SignedData.h */

/* Content-type ids. */
enum {
    SG_PKCS7_DATA = 1,
    SG_PKCS7_SIGNED_DATA = 2,
    SG_PKCS7_ENVELOPED_DATA = 3,
    SG_PKCS7_SIGNED_AND_ENVELOPED_DATA = 4, /* named in a content type, has no structure here */
    SG_PKCS7_DIGESTED_DATA = 5,
    SG_PKCS7_ENCRYPTED_DATA = 6
};

/* Signature-key kinds of a signer. */
enum {
    SG_PKCS7_KEY_RSA = 1,
    SG_PKCS7_KEY_KCDSA = 3, /* under 1.2.410.200004.1.1 */
    SG_PKCS7_KEY_KCDSA2 = 4 /* under 1.2.410.200004.1.21 */
};

/* The digest id that asks SGPKCS7ASN1C_SetAlgorithmIdentifier for the bare key algorithm. */
enum { SG_PKCS7_DIGEST_NONE = 10 };

/* Result codes of the PKCS #7 components besides the shared ones. */
enum {
    SG_PKCS7_ERR_NO_CONTENT = 10101,        /* neither encapsulated nor detached content */
    SG_PKCS7_ERR_CONTENT_TYPE = 10102,      /* unknown content type, or one without structure */
    SG_PKCS7_ERR_UNMATCHED_TYPE = 10103,    /* a ContentInfo of another type than expected */
    SG_PKCS7_ERR_SIGNATURE_KIND = 10105,    /* unknown signature algorithm or key kind */
    SG_PKCS7_ERR_DIGEST = 10106,            /* unknown or unusable digest algorithm */
    SG_PKCS7_ERR_ALGORITHM = 10107,         /* unknown signature or encryption algorithm */
    SG_PKCS7_ERR_OPTION = 10111,            /* an option the signer's key cannot serve */
    SG_PKCS7_ERR_SIGNER_ID = 10113,         /* the signer identifier is no IssuerAndSerialNumber */
    SG_PKCS7_ERR_KEY = 10015,               /* the signer's public key does not load */
    SG_PKCS7_ERR_BAD_SIGNATURE = 10119,     /* the signature does not verify */
    SG_PKCS7_ERR_MESSAGE_DIGEST = 10121,    /* messageDigest mismatch, or a DigestInfo that does
                                               not fit the digest */
    SG_PKCS7_ERR_NO_MESSAGE_DIGEST = 10122, /* signed attributes without messageDigest */
    SG_PKCS7_ERR_NO_CERTIFICATE = 10007,    /* no signer certificate */
    SG_PKCS7_ERR_NO_CRL = 10008             /* a CRL was demanded and not given */
};

/* -------------------------------------------------------------------------------------------
 * ContentInfo and its content. */

/* Caller-owned, zeroed before use. content: the DER of the value inside the ContentInfo's [0]
 * EXPLICIT field, a record of its own (SGPKCS7ContentInfo_Reset frees both). */
typedef struct SGPKCS7ContentInfo {
    int type;
    SGBinary* content;
} SGPKCS7ContentInfo;

/* Decodes a BER ContentInfo: the content type's id and a new copy of the content's DER. A content
 * the record held is released, but only on success (a failure leaves the record as it was).
 * 0; 10001; 20901 not a ContentInfo; 10102 unknown content type; 10002 memory. */
int SGPKCS7ContentInfo_Decode(SGPKCS7ContentInfo* info, const SGBinary* der);
/* The DER of the ContentInfo {type, [0] content} into out (emptied first; empty on failure).
 * 0; 10001 missing record or content, or a content that is not one whole BER element; 10102
 * unknown type; 20900 encoding; 10002 memory. */
int SGPKCS7ContentInfo_Encode(SGBinary* der, const SGPKCS7ContentInfo* info);
/* DER-encodes a structure of the type (SGPKCS7Content_Encode) as the record's content, replacing
 * a previous one, and sets the type. The record is unchanged on failure. */
int SGPKCS7ContentInfo_Set(SGPKCS7ContentInfo* info, const void* structure, int type);
/* The record's type and, when it holds content, its decoded structure (a new one, for
 * SGPKCS7Content_Reset; *structure stays null without content). */
int SGPKCS7ContentInfo_Get(void** structure, int* type, const SGPKCS7ContentInfo* info);
/* Frees the content and zeroes the record. */
int SGPKCS7ContentInfo_Reset(SGPKCS7ContentInfo* info);

/* The structure of each type: 1 OCTET STRING, 2 SignedData, 3 EnvelopedData, 5 DigestedData,
 * 6 EncryptedData; 10102 for 4 and any other id. Encode: DER into out (emptied first). Decode: a
 * new structure into *structure (which must be null), 20901 when the DER does not decode.
 * Reset: frees the structure and nulls the pointer. */
int SGPKCS7Content_Encode(SGBinary* der, const void* structure, int type);
int SGPKCS7Content_Decode(void** structure, const SGBinary* der, int type);
int SGPKCS7Content_Reset(void** structure, int type);

/* The OCTET STRING of a data content: Set replaces its octets with a copy of bytes; Get copies
 * them into out (emptied first). */
int SGPKCS7Data_Set(struct OCTET_STRING* octetString, const SGBinary* bytes);
int SGPKCS7Data_Get(SGBinary* bytes, const struct OCTET_STRING* octetString);

/* -------------------------------------------------------------------------------------------
 * Identifier maps. */

/* Content type id <-> OBJECT IDENTIFIER: 10102 for an id or identifier outside the six. */
int SGPKCS7ASN1C_SetContentType(struct ASN__PRIMITIVE_TYPE_s* oid, int type);
int SGPKCS7ASN1C_GetContentType(int* type, const struct ASN__PRIMITIVE_TYPE_s* oid);
/* Between the record and the structure (the content copied as ANY; a record without content
 * gives 10001). The structure passed to Set is zeroed or freshly cleared. */
int SGPKCS7ASN1C_SetContentInfo(struct ContentInfo* contentInfo, const SGPKCS7ContentInfo* info);
int SGPKCS7ASN1C_GetContentInfo(SGPKCS7ContentInfo* info, const struct ContentInfo* contentInfo);

/* The digest AlgorithmIdentifier of digest id 1 MD2, 2 MD5, 3 SHA-1, 5 SHA-256, 6 SHA-384,
 * 7 SHA-512 or 8 HAS-160 (10106 for any other); parameters: the given DER, or DER NULL when none
 * is given (null or empty). */
int SGPKCS7ASN1C_SetDigestAlgorithmIdentifier(struct AlgorithmIdentifier* algorithm, int digestId,
                                              const SGBinary* parameters);
/* The reverse: 10106 for an unlisted identifier; 10004 for an absent or empty algorithm or a
 * parameters field that is present but empty; 10001 null arguments. unused is not read. */
int SGPKCS7ASN1C_GetDigestAlgorithmIdentifier(int* digestId, void* unused,
                                              const struct AlgorithmIdentifier* algorithm);
/* The signature AlgorithmIdentifier of a key kind and digest id:
 *   1 RSA: digest -1 or 10 rsaEncryption, 3 sha1WithRSA, 4 sha224WithRSA, 5 sha256WithRSA;
 *   3: 3, 4, 5, 8, 9, 10 give 1.2.410.200004.1.9, .1.40, .1.27, .1.8, .1.26, .1.1;
 *   4: 3, 4, 5, 8, 9, 10 give 1.2.410.200004.1.23, .1.41, .1.38, .1.22, .1.37, .1.21.
 * Any other digest 10106; another kind 10107 (negative 10001). parameters: null for none; an
 * empty buffer becomes DER NULL, a non-empty one is copied in as the parameters' DER. */
int SGPKCS7ASN1C_SetAlgorithmIdentifier(struct AlgorithmIdentifier* algorithm, int keyKind,
                                        int digestId, const SGBinary* parameters);
/* The signature-key kind of a SignerInfo's signature algorithm: every identifier the writer above
 * produces for kinds 3 and 4 reads back as that kind; rsaEncryption and the SHA-2 RSA signature
 * identifiers read as 1 (MD2, MD5 and SHA-1 with RSA do not). The content ciphers' identifiers
 * read as their cipher ids 101-106 and the PKCS #12 password-based ones as 108-113. Anything else
 * 10107. parameters (may be null; an empty record): the parameters' DER when present and not DER
 * NULL. */
int SGPKCS7ASN1C_GetEncryptionAlgorithmIdentifier(int* id, SGBinary* parameters,
                                                  const struct AlgorithmIdentifier* algorithm);

/* The key kind of the certificate's public-key algorithm: RSA identifiers (rsaEncryption and the
 * RSA signature identifiers) 1; 1.2.410.200004.1.1, .1.8, .1.9 give 3; .1.21, .1.22, .1.23 give
 * 4; an identifier outside the OID table 10105; any other 10107. parameters (may be null; an
 * empty record): a copy of the algorithm's parameters' DER when present. */
int SGPKCS7_GetSignatureID(int* keyKind, SGBinary* parameters,
                           const SGX509Certificate* certificate);
/* Digest id and key kind of the certificate's own signature algorithm: md2/md5/sha1/sha256/
 * sha384/sha512WithRSAEncryption give (1, 2, 3, 5, 6, 7; RSA) and 0; 1.2.410.200004.1.1 kind 3
 * and .1.21 kind 4, both with 10106 (no digest); outside the OID table 10105; any other 10107. */
int SGPKCS7_GetDigestIdAndEncryptionIdFromCertificate(int* digestId, int* keyKind,
                                                      const SGX509Certificate* certificate);
/* Copies the certificate's issuer (its subject when bySubject is non-zero) and serial number
 * into a zeroed structure. */
int SGPKCS7ASN1C_SetIssuerAndSerialNumber(struct IssuerAndSerialNumber* issuerAndSerial,
                                          const SGX509Certificate* certificate, int bySubject);

/* -------------------------------------------------------------------------------------------
 * Content encryption. */

struct EncryptedContentInfo;

/* PKCS #7 cipher ids of content and password-based encryption. */
enum {
    SG_PKCS7_CIPHER_SEED_CBC = 101,
    SG_PKCS7_CIPHER_DES_CBC = 102,
    SG_PKCS7_CIPHER_DES_EDE3_CBC = 103,
    SG_PKCS7_CIPHER_AES128_CBC = 104,
    SG_PKCS7_CIPHER_AES192_CBC = 105,
    SG_PKCS7_CIPHER_AES256_CBC = 106,
    SG_PKCS7_CIPHER_RC2_CBC = 107, /* no identifier, no key length: unusable */
    SG_PKCS7_PBE_SHA_RC4_128 = 108,
    SG_PKCS7_PBE_SHA_RC4_40 = 109,
    SG_PKCS7_PBE_SHA_3DES = 110,
    SG_PKCS7_PBE_SHA_2DES = 111,
    SG_PKCS7_PBE_SHA_RC2_128 = 112,
    SG_PKCS7_PBE_SHA_RC2_40 = 113
};

/* Caller-owned, zeroed before use; 24 bytes. parameters: the DER of the algorithm parameters (an
 * OCTET STRING with the IV, or a PBEParameter), encryptedContent: the encrypted octets; both are
 * records of their own, released by SGPKCS7EncryptedContentInfo_Clear. */
typedef struct SGPKCS7EncryptedContentInfo {
    int contentType;
    int cipherId;
    SGBinary* parameters;
    SGBinary* encryptedContent;
} SGPKCS7EncryptedContentInfo;

/* Key bytes of a content cipher id: 16 SEED, 8 DES, 24 triple DES, 16/24/32 AES; 0 for any other
 * id (RC2 and the password-based ids included). */
int SGPKCS7_GetKeyLength(int cipherId);
/* The crypto-layer cipher id (SGCipher.h) of ids 101-107; 10107 for any other. */
int SGPKCS7_GetCipherID(int* cryptoCipherId, int cipherId);
/* Record -> structure: content type 1-6 (10102 otherwise), a negative cipher id 10001, only ids
 * 101 and 108-113 are written (10107 for any other); the parameters' DER is copied as it is
 * (absent when the record has none), and the encrypted octets when present. The structure is
 * zeroed or freshly cleared. */
int SGPKCS7ASN1C_SetEncryptedContentInfo(struct EncryptedContentInfo* eci,
                                         const SGPKCS7EncryptedContentInfo* record);
/* Structure -> record: the content type (10102), the cipher id (SEED, DES, triple DES and AES
 * give 101-106, the six PKCS #12 password-based identifiers 108-113, anything else 10107) and
 * copies of the parameters and the encrypted octets (each null when absent). What the record
 * held is released, but only on success. */
int SGPKCS7ASN1C_GetEncryptedContentInfo(SGPKCS7EncryptedContentInfo* record,
                                         const struct EncryptedContentInfo* eci);
/* Cleanse and free both buffers and zero the record; Reset is the same. A null record: 10001. */
int SGPKCS7EncryptedContentInfo_Clear(SGPKCS7EncryptedContentInfo* record);
int SGPKCS7EncryptedContentInfo_Reset(SGPKCS7EncryptedContentInfo* record);

/* -------------------------------------------------------------------------------------------
 * Attributes. */

/* The caller's unsigned attributes: a list of attributes, each with its dotted type and its
 * values, the first embedded. Every value is the DER of one whole element. */
typedef struct SGPKCS7AttributeValue {
    struct SGPKCS7AttributeValue* next;
    SGBinary value;
} SGPKCS7AttributeValue;
typedef struct SGPKCS7Attribute {
    const char* type; /* dotted OID text */
    SGPKCS7AttributeValue value;
    struct SGPKCS7Attribute* next;
} SGPKCS7Attribute;

/* Replaces the SignerInfo's signed attributes with contentType, messageDigest and signingTime,
 * in that order. The digest is the SignerInfo's digest algorithm; the content is the
 * encapsulated content's octets, read by the options' content mode: 0 the message (digested);
 * 1 a DER DigestInfo of that digest (its hash is taken; 10121 when it does not decode or names
 * another digest); 2 the hash itself (10001 unless it has the digest's length). signingTime is
 * the options' time, or now when it carries none or zero: a UTCTime from 1950 to 2049, else a
 * GeneralizedTime. 0; 10001; 10106; 10121; 10002 memory; 20900 encoding. */
int SGPKCS7ASN1C_SetSignedAttributes(struct SignerInfo* signerInfo,
                                     const struct EncapsulatedContentInfo* content,
                                     const struct SGPKCS7SignedDataParameters* options);
/* Appends one Attribute per list entry to the set, its values copied as they are. 10013 for a
 * type text that does not parse (nothing appended for that entry; the entries before it stay);
 * 10001 for a value that is not one whole element; 10002 memory. */
int SGPKCS7ASN1CUnsignedAttributes_Set(struct UnsignedAttributes* attributes,
                                       const SGPKCS7Attribute* list);

/* -------------------------------------------------------------------------------------------
 * BER elements, for the components that must keep received bytes as they are. */

typedef struct SGPKCS7Element {
    const unsigned char* at; /* first identifier octet */
    unsigned int tag;        /* the first identifier octet */
    size_t header;           /* identifier and length octets */
    size_t content;          /* content octets (without end-of-contents octets) */
    size_t length;           /* the whole element */
} SGPKCS7Element;

/* Reads the element at the start of der (bytes after it are not looked at): 0, or 20901 when it
 * is cut short, has a length form BER does not allow, or nests indefinite lengths deeper than 64
 * levels. */
int SGPKCS7Element_Read(SGPKCS7Element* element, const unsigned char* der, size_t size);

SG_EXTERN_C_END

#endif
