/* Symmetric encryption: the cipher-engine registry addressed by cipher id, the modes of operation
 * (ECB, CBC, CFB, OFB, CTR), block padding, and streaming or one-shot calls on a caller-owned
 * cipher context. The parameter record is not written, except that a validated module taking
 * over SEED or ARIA marks it. Output may be the input buffer itself (no other overlap) while no
 * input is held back between calls. */
#ifndef SG_CIPHER_H
#define SG_CIPHER_H

#include "SGCrypto.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* Cipher ids. The three AES, ARIA and LEA ids share one engine each; the id only sets the
 * default key length. */
enum {
    SG_CIPHER_AES128 = 0,
    SG_CIPHER_AES192 = 1,
    SG_CIPHER_AES256 = 2,
    SG_CIPHER_SEED = 3,
    SG_CIPHER_ARIA128 = 4,
    SG_CIPHER_ARIA192 = 5,
    SG_CIPHER_ARIA256 = 6,
    SG_CIPHER_DES = 7,
    SG_CIPHER_TDES = 8,
    SG_CIPHER_RC4 = 9,
    SG_CIPHER_RC2 = 10,
    SG_CIPHER_LEA128 = 11,
    SG_CIPHER_LEA192 = 12,
    SG_CIPHER_LEA256 = 13,
    SG_CIPHER_MAX_ID = 13
};

/* Modes of operation. */
enum {
    SG_CIPHER_MODE_ECB = 1,
    SG_CIPHER_MODE_CBC = 2,
    SG_CIPHER_MODE_CFB = 3,
    SG_CIPHER_MODE_OFB = 4,
    SG_CIPHER_MODE_CTR = 5
};

/* Paddings: none; zero bytes; 0x80 then zero bytes; PKCS #7 (each pad byte holds the length). */
enum {
    SG_CIPHER_PADDING_NONE = 1,
    SG_CIPHER_PADDING_ZERO = 2,
    SG_CIPHER_PADDING_ONE_AND_ZEROS = 3,
    SG_CIPHER_PADDING_PKCS7 = 4
};

/* Result codes of the cipher layer and its engines. */
enum {
    SG_CIPHER_ERR_ARGUMENT = 401,       /* null argument; engine setup with a null or empty key */
    SG_CIPHER_ERR_KEY_LENGTH = 403,     /* key length the engine cannot use */
    SG_CIPHER_ERR_DIRECTION = 404,      /* bad direction (RC2: effective bits) in engine setup */
    SG_CIPHER_ERR_NOT_REGISTERED = 406, /* id not registered: library not initialised */
    SG_CIPHER_ERR_ID = 407,             /* cipher id above 13 */
    SG_CIPHER_ERR_MODE = 408,           /* mode outside 1 to 5 */
    SG_CIPHER_ERR_PADDING_KIND = 409,   /* padding outside 1 to 4 */
    SG_CIPHER_ERR_BAD_PADDING = 410,    /* bad padding on decryption */
    SG_CIPHER_ERR_IV_LENGTH = 412,      /* IV length the mode cannot use */
    SG_CIPHER_ERR_FEEDBACK = 413,       /* CFB/OFB feedback size unusable */
    SG_CIPHER_ERR_KEY_TOO_SHORT = 414,  /* key shorter than the cipher's minimum */
    SG_CIPHER_ERR_NOT_ALIGNED = 415,    /* Encrypt_Final, no padding, input left over */
    SG_CIPHER_ERR_LEFT_OVER = 416,      /* Decrypt_Final with input left over */
    SG_CIPHER_ERR_TDES_KEY = -11        /* triple DES key neither 16 nor 24 bytes */
};

#define SG_CIPHER_IV_SIZE 32
#define SG_CIPHER_ENGINE_AREA_SIZE 2048
#define SG_CIPHER_PARAMETER_SIZE 4156
#define SG_CIPHER_CONTEXT_SIZE 10668

/* What SGCipher_GetInfo reports for an id. */
typedef struct SGCipherInfo {
    int supported; /* always 1 */
    int blockSize;
    int defaultKeyLength;
    int minKeyLength;
    int maxKeyLength;
    int lastValue; /* 8 for AES and ARIA, 0 otherwise; nothing reads it */
} SGCipherInfo;

/* 4156 bytes, caller-owned and zeroed by the caller before use. */
typedef struct SGCipherParameter {
    int rc2EffectiveBits; /* RC2 only; 0 means 1024 */
    int mode;
    unsigned char iv[SG_CIPHER_IV_SIZE];
    int ivLength;
    int feedbackSize; /* CFB and OFB: bytes per segment, 1 to the block size */
    int padding;
    SGCryptoStructureMarker marker;
} SGCipherParameter;

/* 10668 bytes, caller-owned; wipe all of it with SGCrypto_cleanse after use. */
typedef struct SGCipherContext {
    int cipherId;
    SGCipherInfo info;
    SGCipherParameter parameter; /* its iv is the chaining value between Updates */
    unsigned char reserved[260]; /* the layer's own stream state */
    unsigned char engineArea[SG_CIPHER_ENGINE_AREA_SIZE];
    unsigned char partial[32]; /* input waiting for a whole unit */
    uint32_t partialLength;
    unsigned char lastBlock[32]; /* decryption: the last block produced, for the padding */
    uint32_t lastBlockLength;
    SGCryptoStructureMarker marker;
} SGCipherContext;

int SGCipher_GetInfo(SGCipherInfo* info, int cipherId);

int SGCipher_Encrypt_Init(SGCipherContext* context, const unsigned char* key, uint32_t keyLength,
                          int cipherId, SGCipherParameter* parameter);
int SGCipher_Encrypt_Update(SGCipherContext* context, unsigned char* output, uint32_t* outputLength,
                            const unsigned char* input, uint32_t inputLength);
/* Writes at most one block (the padding block, or CTR's last partial block). */
int SGCipher_Encrypt_Final(SGCipherContext* context, unsigned char* output, uint32_t* outputLength);
/* The output must hold the input length plus one block. */
int SGCipher_Encrypt(unsigned char* output, uint32_t* outputLength, const unsigned char* input,
                     uint32_t inputLength, const unsigned char* key, uint32_t keyLength,
                     int cipherId, SGCipherParameter* parameter);

int SGCipher_Decrypt_Init(SGCipherContext* context, const unsigned char* key, uint32_t keyLength,
                          int cipherId, SGCipherParameter* parameter);
int SGCipher_Decrypt_Update(SGCipherContext* context, unsigned char* output, uint32_t* outputLength,
                            const unsigned char* input, uint32_t inputLength);
/* Checks the padding of the last block produced and writes how many trailing bytes of the
 * plaintext the caller drops. */
int SGCipher_Decrypt_Final(SGCipherContext* context, uint32_t* padLength);
int SGCipher_Decrypt(unsigned char* output, uint32_t* outputLength, const unsigned char* input,
                     uint32_t inputLength, const unsigned char* key, uint32_t keyLength,
                     int cipherId, SGCipherParameter* parameter);

/* Engine interface. SetupKey's fourth argument is the direction flag, or RC2's effective key
 * bits. The direction flag is 1 for decryption for AES, SEED, ARIA and LEA, and 1 for encryption
 * for DES, triple DES, RC4 and RC2. */
typedef int (*SGCipherSetupKeyFunction)(void* engineArea, const unsigned char* key,
                                        uint32_t keyLength, int direction);
typedef void (*SGCipherBlockFunction)(unsigned char* output, const unsigned char* input,
                                      void* engineArea, int direction);

/* Adds an engine for an id; an id already present is left unchanged. Returns 0. */
int SGCipher_RegisterEngine(int cipherId, SGCipherSetupKeyFunction setupKey,
                            SGCipherBlockFunction block);
/* Empties the registry. */
int SGCipher_ResetEngine(void);

/* The layer's internal steps; decrypt is 1 for decryption for every id. */
int SGCipher_Init(SGCipherContext* context, int cipherId, const SGCipherParameter* parameter);
int SGCipher_SetupKey(SGCipherContext* context, const unsigned char* key, uint32_t keyLength,
                      int decrypt);
int SGCipher_Main(SGCipherContext* context, unsigned char* output, uint32_t* outputLength,
                  const unsigned char* input, uint32_t length, int decrypt);
int SGCipher_Mode(SGCipherContext* context, unsigned char* output, uint32_t* outputLength,
                  const unsigned char* input, uint32_t length, int mode, int decrypt);

SG_CRYPTO_EXTERN_C_END

#endif
