/* Password-based cryptography: PBKDF1 and PBKDF2 (PKCS #5, RFC 8018), the key derivation of
 * PKCS #12 (RFC 7292 appendix B), the nine password-based encryption types with the DER of their
 * parameters, and the encryption and decryption of a buffer under a password. Every crypto call
 * goes through the layer's copy of the Crypto table, so the Service table must have been filled
 * (SGServiceWrapper_GetList). Service slots 49 to 52; the rest is for the PKI layer itself
 * (PKCS #7, PKCS #12) and callers inside the process.
 *
 * Passwords are bytes as given (no code-set conversion); the PKCS #12 derivation widens each
 * byte b to 00 b and appends 00 00. Results of every function: 0 or a code; besides the shared
 * codes of SGPKCSError.h the cipher layer's (SGCipher.h: 410 wrong password or damaged data, 414
 * key below the cipher's minimum), the digest, HMAC and random generator's codes pass through
 * unchanged. */
#ifndef SG_PKCS5_H
#define SG_PKCS5_H

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGPKCS8.h"

SG_EXTERN_C_BEGIN

/* PBE types: the PKCS #8 algorithm codes 1 to 9.
 *   type  identifier                          key derivation      cipher       key  IV
 *   1     1.2.410.200004.1.4                  PBKDF1 SHA-1        SEED-CBC     16   fixed (*)
 *   2     1.2.410.200004.1.15                 PBKDF1 SHA-1        SEED-CBC     16 SHA-1(DK[16..20])
 *   3     PBES2                               PBKDF2 (PRF named)  by scheme    16+  in parameters
 *   4     pbeWithSHAAnd128BitRC4              PKCS #12 SHA-1      RC4 stream   16   none used
 *   5     pbeWithSHAAnd40BitRC4               PKCS #12 SHA-1      RC4 stream   5    (refused: 414)
 *   6     pbeWithSHAAnd3-KeyTripleDES-CBC     PKCS #12 SHA-1      3DES-CBC     24   derived, 8
 *   7     pbeWithSHAAnd2-KeyTripleDES-CBC     PKCS #12 SHA-1      3DES-CBC     16   derived, 8
 *   8     pbeWithSHAAnd128BitRC2-CBC          PKCS #12 SHA-1      RC2-CBC/128  16   derived, 8
 *   9     pbewithSHAAnd40BitRC2-CBC           PKCS #12 SHA-1      RC2-CBC/40   5    derived, 8
 * (*) the ASCII digits "0123456789012345" (the KISA profile's IV as publicly described).
 * Block ciphers run CBC with PKCS #7 padding; RC4 runs as a stream without padding, and RC2 with
 * the key's bit length as effective key bits, as PKCS #12 defines. RC4 keys below 8 bytes are
 * refused by the cipher layer (414), so type 5 cannot be used in either direction.
 *
 * PBES2 encryption schemes: on decryption 1.2.410.100001.1.20 (ARIA-128, key 16),
 * 1.2.410.200004.1.4 (SEED, 16), aes128-CBC (16), aes192-CBC (24) and aes256-CBC (32); any other
 * gives 10011. The PRF the parameters name is used: HMAC with SHA-1 (also when absent), SHA-224,
 * SHA-256, SHA-384 or SHA-512; any other gives 10003. On encryption the cipher id picks the
 * scheme: 3 SEED, 4 ARIA-128 (keyLength 16 written), 0, 1 and 2 AES-128 under aes128-CBC; any
 * other gives 10003. Encryption always uses PBKDF2 with HMAC-SHA-1 and writes no PRF. */
enum {
    SG_PBE_KISA_SEED_CBC = 1,
    SG_PBE_KISA_SHA1_SEED_CBC = 2,
    SG_PBE_PBES2 = 3,
    SG_PBE_SHA_RC4_128 = 4,
    SG_PBE_SHA_RC4_40 = 5,
    SG_PBE_SHA_3DES = 6,
    SG_PBE_SHA_2DES = 7,
    SG_PBE_SHA_RC2_128 = 8,
    SG_PBE_SHA_RC2_40 = 9
};

/* Purposes of the PKCS #12 derivation. */
enum { SG_PKCS12_ID_KEY = 1, SG_PKCS12_ID_IV = 2, SG_PKCS12_ID_MAC = 3 };

enum {
    SG_PKCS5_DEFAULT_ITERATIONS = 1024, /* a record's iteration count of 0 or less */
    SG_PKCS5_SALT_LENGTH = 8,           /* salts made for encryption */
    SG_PKCS5_PBES2_KEY_LENGTH = 16,     /* PBES2 keys made for encryption */
    SG_PKCS5_PBES2_IV_LENGTH = 16,
    SG_PKCS5_MAX_FILE_ITERATIONS = 1000000 /* the largest iteration count read from a file */
};

/* The PBE parameter record, 80 bytes; allocated by the caller. key, salt and iv are buffers the
 * library makes; their holder releases them with SGPKCS5PBESParam_Clear. */
typedef struct SGPKCS5PBESParam {
    SGBinary key; /* the derived cipher key */
    SGBinary salt;
    SGBinary iv;        /* PBES2 encryption: a caller's IV of exactly 16 bytes is used */
    int32_t iterations; /* 0 or less: 1024 (encryption only; parameters read must be positive) */
    int32_t pbeType;    /* 1 to 9; 0 or less: 1 */
    int32_t reserved1;
    int32_t digestId; /* 3 (SHA-1) for every type; PBES2 decryption: the PRF's digest */
    int32_t cipherId; /* set by the library, except for PBES2 encryption (the caller's) */
    int32_t mode;     /* 2 (CBC) */
    int32_t padding;  /* 4 (PKCS #7) */
    int32_t reserved2;
} SGPKCS5PBESParam;

/* Encrypts data under the password into out: its algorithm (the PBE type), a new buffer with the
 * parameters' DER and a new buffer with the ciphertext. param (may be null) gives the type, the
 * iteration count and, for PBES2, the cipher id and optionally a 16-byte IV; it is read, never
 * changed, and none of its buffers is taken over or released. Salt (8 random bytes), key and IV
 * are made here and wiped before returning. No parameter record: type 1, 1024 iterations.
 * Data and password may have any length, empty included.
 * 0; 10001 missing out, or data or password missing with a length, or a negative length;
 * 10003 unknown type, or a PBES2 cipher id without a scheme; 414 type 5; 10002 memory; the
 * crypto layer's codes. On failure out holds nothing new but may hold the PBE type. */
int SGPKCS5Encrypt(SGPKCS8EncryptedPrivateKeyInfo* out, const unsigned char* data, int dataLength,
                   const unsigned char* password, int passwordLength,
                   const SGPKCS5PBESParam* param);

/* Decrypts in under the password into output, which must hold at least in's encrypted length,
 * and writes the plaintext length. Nothing is written to output or outputLength on failure; the
 * plaintext's working copies are wiped.
 * 0; 410 wrong password (normally; a wrong password can end in valid padding by chance, and
 * RC4 has no padding to check); 10001 missing argument or negative password length; 10003
 * unknown type, PBES2 key derivation other than PBKDF2, unknown PRF; 10011 PBES2 scheme outside
 * the table or a salt of the otherSource kind; 20904 PBKDF2 without parameters, an iteration
 * count that is not 1 to SG_PKCS5_MAX_FILE_ITERATIONS, a keyLength that is not a positive 32-bit
 * value or not the scheme's key length, an IV that is not one cipher block; 20902 undecodable
 * parameters; 414 type 5; 10002 memory; the crypto layer's codes. */
int SGPKCS5Decrypt(unsigned char* output, int* outputLength,
                   const SGPKCS8EncryptedPrivateKeyInfo* in, const unsigned char* password,
                   int passwordLength);

/* As SGPKCS5Decrypt, but the PKCS #12 types 4 to 9 derive from bmpPassword, the password's
 * standard BMPString form (as for SGPKCS5_PBE_PKCS12Unicode); the other types use the password
 * bytes. 10001 also for a missing bmpPassword. */
int SGPKCS5DecryptUnicode(unsigned char* output, int* outputLength,
                          const SGPKCS8EncryptedPrivateKeyInfo* in, const unsigned char* password,
                          int passwordLength, const SGBinary* bmpPassword);

/* PKCS #12 types 4 to 9: decodes PBEParameter and derives key (ID 1) and IV (ID 2, the cipher's
 * block length) into out, with digest 3, the cipher id, CBC and PKCS #7. out's key, salt and iv
 * are replaced by new buffers only on success (what they held is not released: pass a zeroed or
 * cleared record); on failure out is unchanged.
 * 0; 10001 missing argument; 10003 other types; 20902 undecodable; 20904 an iteration count that
 * is not 1 to SG_PKCS5_MAX_FILE_ITERATIONS; 10002 memory; the digest's codes. */
int SGPKCS5_GetPKCS12PBEParam(SGPKCS5PBESParam* out, const unsigned char* password,
                              int passwordLength, const SGBinary* parameters, int pbeType);

/* The DER of PBEParameter { salt, iterations } (also the PBES1 and PKCS #12 parameters).
 * *outputLength: in, output's size; out, the DER length. A null output only reports the length.
 * The iv is not used. 0; 10001 missing length or salt; 10009 output too small (nothing
 * written) or iterations not positive; 10002 memory; 20902. */
int SGPKCS5_SetPKCS12PBESParam(unsigned char* output, unsigned int* outputLength,
                               const SGBinary* salt, const SGBinary* iv, int iterations);

/* PBKDF1: T1 = H(password || salt), Ti = H(first dkLen bytes of Ti-1); writes one digest length
 * (output must hold it). Iteration counts of 1 or less make one hash. dkLen must be 1 to the
 * digest length (the PBE types use 20). 0; 10001 missing output or data, negative lengths;
 * 10009 dkLen out of range; the digest's codes (202 unknown digest). */
int SGPBKDF1(unsigned char* output, const unsigned char* password, int passwordLength,
             const unsigned char* salt, int saltLength, int iterations, int dkLen, int digestId);

/* PBKDF2 with HMAC over the digest: writes exactly dkLen bytes (none for dkLen 0). Iteration
 * counts of 1 or less make one HMAC per block. 0; 10001 missing output or data, negative
 * lengths; the digest's codes (202 unknown digest). */
int SGPBKDF2(unsigned char* output, const unsigned char* password, int passwordLength,
             const unsigned char* salt, int saltLength, int iterations, int dkLen, int digestId);

/* The PKCS #12 derivation (ID 1 key, 2 IV, 3 MAC key) of n bytes into out, a new buffer (out's
 * previous buffer is not released: pass an empty record; it stays empty on failure). Iteration
 * counts of 1 or less hash once. Salt and password of any length; a null salt is an empty one.
 * 0; 10001 missing out or password, an ID other than 1 to 3, a negative n; 10002 memory; the
 * digest's codes. */
int SGPKCS5_PBE_PKCS12(SGBinary* out, int id, const SGBinary* salt, int iterations,
                       const SGBinary* password, int n, int digestId);

/* As SGPKCS5_PBE_PKCS12 with the password already in the standard BMPString form (UTF-16
 * big-endian, two bytes a character, without the terminator, which is appended): for files
 * whose password other software converted that way. */
int SGPKCS5_PBE_PKCS12Unicode(SGBinary* out, int id, const SGBinary* salt, int iterations,
                              const SGBinary* bmpPassword, int n, int digestId);

/* PBES1 types 1 and 2: decodes PBEParameter, derives the key and IV, sets digest 3, cipher 3,
 * CBC, PKCS #7. out as for SGPKCS5_GetPKCS12PBEParam; its codes, with 10003 for other types. */
int SGPKCS5_GetPBES1Param(SGPKCS5PBESParam* out, const unsigned char* password, int passwordLength,
                          const SGBinary* parameters, int pbeType);

/* PBES2: decodes PBES2-params, derives the key of the scheme's length with the PRF named, takes
 * the IV from the parameters, sets the cipher id, CBC, PKCS #7 and the PRF's digest id. out as
 * for SGPKCS5_GetPKCS12PBEParam; the codes of SGPKCS5Decrypt. */
int SGPKCS5_GetPBES2Param(SGPKCS5PBESParam* out, const unsigned char* password, int passwordLength,
                          const SGBinary* parameters);

/* The DER of PBEParameter for types 1 and 2: as SGPKCS5_SetPKCS12PBESParam. */
int SGPKCS5_SetPBES1PARAM(unsigned char* output, unsigned int* outputLength, const SGBinary* salt,
                          int iterations);

/* The DER of PBES2-params: PBKDF2 { salt, iterations, keyLength only for cipher id 4 }, no PRF,
 * the scheme of the cipher id with the IV. *outputLength and a null output as for
 * SGPKCS5_SetPKCS12PBESParam. 0; 10001 missing length, salt or IV; 10003 cipher id without a
 * scheme; 10009 output too small, iterations or keyLength not positive, an IV that is not 16
 * bytes; 10002 memory; 20902. */
int SGPKCS5_SetPBES2PARAM(unsigned char* output, unsigned int* outputLength, int keyLength,
                          const SGBinary* salt, const SGBinary* iv, int iterations, int cipherId);

/* Make salt, key and IV for encrypting with the record's type and iteration count (which must be
 * positive here). The record's key, salt and iv are replaced by new buffers, without releasing
 * what they held, and only on success; PBES2 keeps an IV of exactly 16 bytes that the record
 * already has. 0; 10001 missing argument; 10003 a type of another family or a PBES2 cipher id
 * without a scheme; 10009 iterations not positive; 10002 memory; the crypto layer's codes. */
int SGPKCS5_InitParam_PBES1(SGPKCS5PBESParam* param, const SGBinary* password);
int SGPKCS5_InitParam_PBES2(SGPKCS5PBESParam* param, const SGBinary* password);
int SGPKCS5_InitParam_PKCS12(SGPKCS5PBESParam* param, const SGBinary* password);

/* Applies the defaults (iterations 1024, type 1; digest 3; cipher 3 for types 1 and 2; the
 * cipher of the type for 4 to 9; CBC, PKCS #7) and calls the matching InitParam function.
 * 10003 for types above 9; otherwise its codes. */
int SGPKCS5_InitParam(SGPKCS5PBESParam* param, const SGBinary* password);

/* Overwrites and releases key, salt and IV; the other fields stay. A null record is accepted.
 * Returns 0. */
int SGPKCS5PBESParam_Clear(SGPKCS5PBESParam* param);

SG_EXTERN_C_END

#endif
