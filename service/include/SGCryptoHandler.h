/* Signing and decryption with a private key the PKI layer may never see: a key handle carries
 * either the key's DER or callbacks through which a token performs the private-key operation.
 * PKCS #7, the secure channel and the token manager sign and decrypt through these two functions.
 * The crypto calls go through the layer's copy of the Crypto table (SGServiceWrapper_GetList
 * fills it). Not in the Service table. */
#ifndef SG_CRYPTO_HANDLER_H
#define SG_CRYPTO_HANDLER_H

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGPKCS1.h" /* SGKeySizeCallback, SGSignCallback */

SG_EXTERN_C_BEGIN

/* The algorithm word of signing: the scheme in the low 16 bits, the hash id (SGDigest.h) in the
 * high 16 bits: SG_CRYPTO_HANDLER_ALGORITHM(5, SG_CRYPTO_HANDLER_RSA_PKCS1) is RSASSA-PKCS1-v1_5
 * with SHA-256. */
enum {
    SG_CRYPTO_HANDLER_RSA_PKCS1 = 1, /* RSASSA-PKCS1-v1_5 */
    SG_CRYPTO_HANDLER_RSA_PSS = 2,   /* RSASSA-PSS (salt of the hash length, MGF1 with it) */
    SG_CRYPTO_HANDLER_KCDSA = 16
};
#define SG_CRYPTO_HANDLER_ALGORITHM(hashId, scheme) \
    ((unsigned int)(hashId) << 16 | (unsigned int)(scheme))

/* The padding word of decryption: the padding in the low 16 bits, the OAEP hash id in the high
 * 16 bits. */
enum {
    SG_CRYPTO_HANDLER_PKCS1_V15 = 0x20, /* " " RSAES-PKCS1-v1_5 */
    SG_CRYPTO_HANDLER_OAEP = 0x21       /* "!" RSAES-OAEP */
};

/* Handle types. Signing: 1 callbacks, any other value a key in memory. Decryption: 0 no key (the
 * operation succeeds without output), 1 callback, 3 RSA private key in memory. */
enum {
    SG_CRYPTO_HANDLER_NO_KEY = 0,
    SG_CRYPTO_HANDLER_CALLBACK = 1,
    SG_CRYPTO_HANDLER_RSA_KEY = 3
};

/* Result codes besides those of the crypto layer and the callbacks, which pass through. */
enum {
    SG_CRYPTO_HANDLER_ERR_RANGE = 10009,     /* signature buffer smaller than the key, or a
                                                callback reported more than it was given */
    SG_CRYPTO_HANDLER_ERR_TYPE = 10011,      /* decryption handle type other than 0, 1, 3 */
    SG_CRYPTO_HANDLER_ERR_KEY = 10014,       /* RSA private key DER does not decode */
    SG_CRYPTO_HANDLER_ERR_NO_DOMAIN = 10020, /* KCDSA key in memory without domain */
    SG_CRYPTO_HANDLER_ERR_PADDING = 20004,   /* padding word unsupported for a key in memory */
    SG_CRYPTO_HANDLER_ERR_DECRYPT_CALLBACK = 20005, /* the decrypt callback failed */
    SG_CRYPTO_HANDLER_ERR_NO_CALLBACK = 20006       /* callback handle without key-size or sign
                                                      callback */
};

/* A token's decryption: writes the plaintext into output, which holds as many bytes as the
 * ciphertext, and its length into *length (in: that size). Returns 0 or an error of its own. */
typedef int (*SGDecryptCallback)(unsigned char* output, unsigned int* length,
                                 const unsigned char* ciphertext, unsigned int ciphertextLength,
                                 unsigned int padding, void* userData);

/* The key handle, caller-owned. The type decides which member of form is read:
 *   signing, type 1:        signer (keySize and sign are both needed), parameters
 *   signing, other types:   key (DER RSAPrivateKey for schemes 1 and 2, the KCDSA private key's
 *                           INTEGER for scheme 16), parameters
 *   decryption, type 1:     decrypter
 *   decryption, type 3:     key (DER RSAPrivateKey)
 * parameters: for KCDSA the domain-parameter DER (required with a key in memory), for
 * RSASSA-PKCS1-v1_5 the bytes that replace NULL in the DigestInfo's AlgorithmIdentifier; may be
 * null. Decryption reads nothing beyond the first 24 bytes, so a caller may pass a 24-byte
 * decryption handle. */
typedef struct SGCryptoHandlerKey {
    int type;
    union {
        struct {
            SGKeySizeCallback keySize;
            SGSignCallback sign;
            void* userData;
            int direct; /* non-zero: the sign callback gets the raw message, nothing is hashed */
        } signer;
        struct {
            const unsigned char* der;
            uint32_t length;
        } key;
        struct {
            SGDecryptCallback decrypt;
            void* userData;
        } decrypter;
    } form;
    SGBinary* parameters;
} SGCryptoHandlerKey;

/* The OAEP settings of decryption, laid out as the OAEP fields of SGPKCS1Parameter. */
typedef struct SGCryptoHandlerOAEP {
    int maskGeneration; /* 1100, MGF1 */
    int maskHashId;
    const unsigned char* label; /* null: the empty label */
    int labelLength;
    const unsigned char* seed; /* not used by decryption */
} SGCryptoHandlerOAEP;

/* Signs message with the handle's key. signature: the caller's buffer, its length the capacity
 * on entry and the signature's length on success. options (may be null: both off; scheme 1
 * only): options[0] non-zero = the message already is the DigestInfo (or the whole padded block
 * when it has the modulus length); options[1] non-zero = a sign callback receives the DigestInfo
 * instead of the padded block.
 * What a sign callback receives (its length argument: in, the room it has; out, what it wrote):
 *   direct flag set: the raw message and the algorithm word as given, after the key-size
 *     callback's size was checked against the capacity (10009);
 *   scheme 1: the EMSA-PKCS1-v1_5 block of the modulus length (00 01 FF .. 00 DigestInfo), or
 *     with options[1] the DigestInfo; the word hash << 16 | 1 (hash 10 with options[0]);
 *   scheme 16: the raw message and hash << 16 | 16;
 *   scheme 2: refused with 588 (PSS needs the key in memory or the direct path).
 * 0; 10001 missing argument; 20006 a callback handle without both callbacks; 10020 KCDSA with a
 * key in memory but no parameters (nothing decoded); 10009 (see above, and a callback reporting a
 * signature longer than the capacity); the signature-key layer's, the schemes' and the
 * callbacks' codes (11 or 12 for an unknown scheme). */
int SGCryptoHandler_Sign(SGBinary* signature, const SGBinary* message, unsigned int algorithm,
                         const SGCryptoHandlerKey* key, const int* options);

/* Decrypts ciphertext with the handle's key into plaintext, a new buffer (an empty record on
 * entry; unchanged on failure). padding: the padding word; oaep (may be null) the OAEP settings
 * for padding 0x21 with a key in memory, else MGF1 with SHA-1 and the empty label. A callback
 * gets a buffer of the ciphertext's length and the padding word as given.
 * 0 (type 0: nothing written); 10001 missing argument; 10011 other handle types; 20005 the
 * callback failed or reported more bytes than its buffer holds; 10014 the key DER does not
 * decode; 20004 a padding other than 0x20 and 0x21 with a key in memory; 10002 memory; the
 * RSA scheme's codes (for example 569 for any OAEP failure). */
int SGCryptoHandler_Decrypt(SGBinary* plaintext, const SGBinary* ciphertext, unsigned int padding,
                            const SGCryptoHandlerKey* key, const SGCryptoHandlerOAEP* oaep);

SG_EXTERN_C_END

#endif
