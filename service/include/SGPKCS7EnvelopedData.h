/* PKCS #7 EncryptedData under the PKCS #12 password schemes, EnvelopedData for a certificate
 * holder (RSA key transport) and its opening for key-transport, key-encryption-key and password
 * recipients, and the CMS key wraps (RFC 3394, RFC 3211). Service slots 58 to 64; the rest is for
 * the PKI layer itself (PKCS #12) and callers inside the process.
 *
 * Every function returns 0 or a code of SGPKCSError.h, SGPKCS7.h or the list below; the cipher
 * layer's codes (SGCipher.h: 410 wrong password or damaged data, 414 key below the cipher's
 * minimum) pass through unchanged. */
#ifndef SG_PKCS7_ENVELOPED_DATA_H
#define SG_PKCS7_ENVELOPED_DATA_H

#include <stdint.h>

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGPKCS7.h"

SG_EXTERN_C_BEGIN

struct EncryptedData; /* the generated structure */

/* Result codes besides the shared ones. */
enum {
    SG_PKCS7_ERR_NO_PBE_PARAMETERS = 10112, /* password-based algorithm without PBEParameter */
    SG_PKCS7_ERR_WRAP_CHECK = 10116,        /* an unwrapped key fails its integrity check */
    SG_PKCS7_ERR_WRAP_LENGTH = 10117,       /* a key or key-encryption key of unusable length */
    SG_PKCS7_ERR_KEY_DERIVATION = 10118,    /* a key derivation other than PBKDF2 */
    SG_PKCS7_ERR_KEY_IV_LENGTH = 10120,     /* content key and IV of different lengths */
    SG_PKCS7_ERR_PUBLIC_KEY_KIND = 10108,   /* a recipient whose public key is not RSA */
    SG_PKCS7_ERR_RECIPIENT_KIND = 20003,    /* a recipient kind other than 4 or 2 */
    SG_PKCS7_ERR_NO_RECIPIENT_KEY = 20000,  /* opening without a recipient key */
    SG_PKCS7_ERR_RECIPIENT_KEY = 20004      /* a recipient key of the wrong kind */
};

/* -------------------------------------------------------------------------------------------
 * EncryptedData. */

enum { SG_PKCS7_ENCRYPTED_DATA_ITERATIONS = 2048, SG_PKCS7_ENCRYPTED_DATA_SALT_LENGTH = 8 };

/* Caller-owned, 32 bytes; read through a private copy. cipherId: 108-113 (SGPKCS7.h).
 * iterations: 0 means 2048; otherwise 1 to INT32_MAX. salt: every encryption draws 8 fresh random
 * bytes; a caller's buffer of exactly 8 bytes receives them, one of any other length (or none) is
 * left alone and the salt is kept privately. */
typedef struct SGPKCS7EncryptedDataParameters {
    int cipherId;
    int reserved;
    int64_t iterations;
    SGBinary salt;
} SGPKCS7EncryptedDataParameters;

/* The DER EncryptedData {0, {data, the PBE identifier with PBEParameter {salt, iterations}, the
 * ciphertext}} of content under the password into out (emptied first; empty on failure). Key
 * and IV come from the PKCS #12 derivation with SHA-1 (ID 1 key, ID 2 8-byte IV); ids 110-113
 * run CBC with PKCS #7 padding, 108 RC4 as a stream without padding. unused is not read.
 * 0; 10001 missing out, content, password or parameters, or iterations out of range; 10003 a
 * cipher id outside 108-113; 414 id 109 (RC4 keys below 8 bytes are refused); 10002 memory;
 * 20900 encoding. */
int SGPKCS7EncryptedData_Encrypt(SGBinary* out, const SGBinary* content, const SGBinary* password,
                                 void* unused, SGPKCS7EncryptedDataParameters* parameters);
/* Decrypts the decoded EncryptedData (SGPKCS7Content_Decode, type 6) under the password into
 * content (emptied first; written only on success). unused is not read.
 * 0; 10001 missing argument; 10102 encrypted content type outside the six; 10107 an algorithm
 * outside the cipher table; 10003 a content cipher (101-107) where a password-based one is
 * expected; 10112 no PBEParameter; 20902 undecodable parameters; 20904 an iteration count that
 * is not 1 to 1000000; 410 wrong password (normally: RC4 has no padding to check); 414 id 109;
 * 10002 memory. */
int SGPKCS7EncryptedData_Decrypt(SGBinary* content, const struct EncryptedData* encryptedData,
                                 const SGBinary* password, void* unused);

/* The steps of the two: the PBE type (SGPKCS5.h, 4 to 9) of a password-based cipher id (10003
 * for any other), and the encryption and decryption of an EncryptedContentInfo record under a
 * password. EncryptWithPassword replaces the record's buffers (type data, the cipher id, the
 * PBEParameter DER, the ciphertext) and writes the salt it drew into salt (8 bytes). */
int SGPKCS7Common_CreateCipherParameters(int* pbeType, int cipherId);
int SGPKCS7EncryptedContentInfo_EncryptWithPassword(SGPKCS7EncryptedContentInfo* record,
                                                    const SGBinary* content,
                                                    const SGBinary* password, int cipherId,
                                                    int iterations, uint8_t salt[8]);
int SGPKCS7EncryptedContentInfo_DecryptWithPassword(SGBinary* content,
                                                    const SGPKCS7EncryptedContentInfo* record,
                                                    const SGBinary* password);

/* -------------------------------------------------------------------------------------------
 * EnvelopedData. */

struct SGCryptoHandlerKey;
struct SGCipherParameter;
struct RecipientInfo;
struct SGStream;
struct KeyTransRecipientInfo;
struct KEKRecipientInfo;
struct PasswordRecipientInfo;

enum {
    SG_PKCS7_ENVELOPE_RETURN_KEY = 0x01, /* hand back the content key (and, enveloping, the IV) */
    SG_PKCS7_ENVELOPE_BARE = 0x04,       /* a bare EnvelopedData, without the ContentInfo */
    SG_PKCS7_ENVELOPE_BY_SUBJECT = 0x08  /* identify the recipient by subject and serial */
};

/* Caller-owned, 40 bytes. iv and key: records the library makes under flag 0x01 (released by
 * SGPKCS7EnvelopedDataParameters_Reset). contentType: the encrypted content's type id (null: 1).
 * chunkSize: the stream operations' piece size (0: 0x8000). */
typedef struct SGPKCS7EnvelopedDataParameters {
    int flags;
    SGBinary* iv;
    int* contentType;
    SGBinary* key;
    int chunkSize;
} SGPKCS7EnvelopedDataParameters;

/* Recipient kinds. */
enum { SG_PKCS7_RECIPIENT_PASSWORD = 2, SG_PKCS7_RECIPIENT_CERTIFICATE = 4 };

typedef struct SGPKCS7Recipient {
    int kind;
    const SGX509Certificate* certificate; /* kind 4 */
} SGPKCS7Recipient;

/* Recipient key kinds beside those of SGCryptoHandler.h (1 callbacks, 3 RSA private-key DER, both
 * for key transport): 2 password bytes and 4 key-encryption key bytes, both in form.key. */
enum { SG_PKCS7_RECIPIENT_KEY_PASSWORD = 2, SG_PKCS7_RECIPIENT_KEY_KEK = 4 };

/* Envelopes content for the certificate's holder: a random 16-byte key and IV, SEED-CBC with
 * PKCS #7 padding, one key-transport RecipientInfo (RSA PKCS #1 v1.5 to the certificate's key,
 * issuer and serial or with 0x08 subject and serial), DER into out (emptied first; written only on
 * success). parameters may be null. Only id 101 envelopes: 104 and 107 give 10107, 102, 103, 105
 * and 106 10120; any other id without a key length 10107.
 * 0; 10001 missing argument; 20003 a recipient kind other than 4 and 2; 10010 kind 2 (no
 * password RecipientInfo is written); 10106/10107 a certificate signed with a digest or key
 * kind that cannot be a recipient; 10015 the certificate's key does not load; 10002 memory;
 * 20900 encoding; the RSA scheme's codes. */
int SGPKCS7EnvelopedData_Envelope(SGBinary* out, const SGBinary* content, int cipherId,
                                  const SGPKCS7Recipient* recipient,
                                  SGPKCS7EnvelopedDataParameters* parameters);
/* Opens an EnvelopedData (a ContentInfo, or with 0x04 a bare one) with the key of its FIRST
 * RecipientInfo into content (emptied first; written only on success). parameters may be null.
 * 0; 10001 missing content or input; 20000 no recipient key; 20901 undecodable; 10103 a
 * ContentInfo of another type; 10107 a content cipher outside 101-106; 20004 a recipient key of
 * the wrong kind; 10010 key agreement or other recipient kinds, and RSAES-OAEP with parameters
 * (any hash but SHA-1); 10003 another key-transport algorithm; 20903 a key-wrap algorithm outside
 * the OID table; 10118 a password key derivation other than PBKDF2; 10116 an unwrap check
 * failed; 10117 a content key of the wrong length, or an IV that is not one cipher block; 410 a
 * bad last block; the RSA and handler codes. */
int SGPKCS7EnvelopedData_Deenvelope(SGBinary* content, const SGBinary* envelopedData,
                                    const struct SGCryptoHandlerKey* recipientKey,
                                    SGPKCS7EnvelopedDataParameters* parameters, void* unused1,
                                    void* unused2);
/* The stream forms. Enveloping reads the content from input (its available count must be the
 * content's length) and writes the DER to output; parameters are required. Its tags and
 * lengths are the in-memory envelope's; the content passes through a cipher stage in chunks.
 * Opening parses the envelope from input (it must be able to move: large values stay in it as
 * windows), which must use definite lengths (20901 for indefinite ones), and writes the content
 * to output through a decrypting stage. 20904 when the structure lacks a part. The other codes
 * are those of the in-memory forms, and the streams' own. A failure once output was written to
 * leaves what was written: the start of the envelope, or of the content without its last block;
 * the caller discards it. */
int SGPKCS7EnvelopedData_EnvelopeStream(struct SGStream* output, struct SGStream* input,
                                        int cipherId, const SGPKCS7Recipient* recipient,
                                        SGPKCS7EnvelopedDataParameters* parameters);
int SGPKCS7EnvelopedData_DeenvelopeStream(struct SGStream* output, struct SGStream* input,
                                          const struct SGCryptoHandlerKey* recipientKey,
                                          SGPKCS7EnvelopedDataParameters* parameters);
/* Cleanses and frees the returned key (and the IV under flag 0x01), then zeroes the record.
 * 0; 10001 for a null record. */
int SGPKCS7EnvelopedDataParameters_Reset(SGPKCS7EnvelopedDataParameters* parameters);

/* The content key of a RecipientInfo into key, whose length is the content cipher's key length
 * (its buffer the caller's). */
int SGPKCS7EnvelopeData_GetContentEncryptionKey(SGBinary* key,
                                                const struct RecipientInfo* recipientInfo,
                                                const struct SGCryptoHandlerKey* recipientKey);

/* The recipient-info steps. Writing: the key-transport choice, version 0, the certificate's
 * issuer (subject when bySubject) and serial, rsaEncryption with NULL, the content key under RSA
 * PKCS #1 v1.5 to the certificate's key (10107 a certificate not signed with RSA, 10106 its
 * digest, 10108 a key that is not RSA, 10015 one that does not load). The password writer
 * writes nothing and answers 10010. Reading: into contentKey, whose length is the content
 * cipher's key length and must be matched exactly (10117); cipherId receives the crypto cipher
 * id of the key wrap. */
int SGPKCS7ASN1C_SetRecipientInfoUsingCertificate(struct RecipientInfo* recipientInfo,
                                                  const SGBinary* contentKey,
                                                  const SGX509Certificate* certificate,
                                                  void* unused, int bySubject);
int SGPKCS7ASN1C_SetRecipientInfoUsingPassword(struct RecipientInfo* recipientInfo,
                                               const SGBinary* contentKey,
                                               const SGBinary* password);
int SGPKCS7ASN1CKeyTransRecipientInfo_Get(SGBinary* contentKey,
                                          const struct SGCryptoHandlerKey* recipientKey,
                                          const struct KeyTransRecipientInfo* ktri);
int SGPKCS7ASN1CKEKRecipientInfo_Get(int* cipherId, SGBinary* contentKey,
                                     const struct SGCryptoHandlerKey* recipientKey,
                                     const struct KEKRecipientInfo* kekri);
/* PBKDF2 (HMAC with SHA-1 or the SHA-2 digest the PRF names; 10003 any other PRF) of the named
 * cipher's key length, or the password itself without a key derivation. */
int SGPKCS7ASN1CPwriRecipientInfo_Get(int* cipherId, SGBinary* contentKey, const SGBinary* password,
                                      const struct PasswordRecipientInfo* pwri);

/* -------------------------------------------------------------------------------------------
 * CMS key wraps. out: the caller's buffer, its length the room on entry and the produced
 * length on success (10009 when the room is short; nothing written on failure). cipherId: the
 * crypto layer's (SGCipher.h). */

/* RFC 3394 under a 16-byte-block cipher (ECB single blocks); iv: 8 bytes, null the default
 * A6..A6. Wrap: a key of a multiple of 8 bytes, at least 16, gives key + 8. Unwrap: input of a
 * multiple of 8 bytes, at least 24, gives input - 8. 10117 lengths; 10116 integrity check;
 * 10003 a cipher with another block size; the cipher layer's codes. */
int SGCMSKek_Wrap(SGBinary* out, const SGBinary* key, const SGBinary* kek, int cipherId,
                  const SGBinary* iv);
int SGCMSKek_UnWrap(SGBinary* out, const SGBinary* wrapped, const SGBinary* kek, int cipherId,
                    const SGBinary* iv);
/* RFC 3211 under a block cipher in CBC without padding with the parameter's IV. Wrap: [length]
 * [complement of key bytes 0-2][key][random fill] padded to a block multiple of at least two
 * blocks, encrypted twice. Unwrap: the input a block multiple of at least two blocks; the check
 * bytes must match (10116) and the length byte must equal out's room (the expected key length;
 * 10116). A key-encryption key below the cipher's minimum, or a key of 0 or above 255 bytes:
 * 10117. */
int SGCMSPwri_Wrap(SGBinary* out, const SGBinary* key, const SGBinary* kek, int cipherId,
                   const struct SGCipherParameter* cipherParameters);
int SGCMSPwri_Unwrap(SGBinary* out, const SGBinary* wrapped, const SGBinary* kek, int cipherId,
                     const struct SGCipherParameter* cipherParameters);

SG_EXTERN_C_END

#endif
