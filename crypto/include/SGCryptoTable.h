/* The exported Crypto table: 152 slots of 8 bytes. Slot 0 holds the version 2 in its first four
 * bytes; slots 1 to 151 hold the crypto functions in this fixed order, which modules loaded into
 * the process bind to. */
#ifndef SG_CRYPTO_TABLE_H
#define SG_CRYPTO_TABLE_H

#include "SGCryptoDefs.h"

SG_CRYPTO_EXTERN_C_BEGIN

#define SG_CRYPTO_TABLE_SLOTS 152
#define SG_CRYPTO_TABLE_VERSION 2

extern SG_CRYPTO_EXPORT void* Crypto[SG_CRYPTO_TABLE_SLOTS];

/* Initialises the library, then fills a table of SG_CRYPTO_TABLE_SLOTS slots: 11 for a missing
 * table; the recorded initialisation error (95 after a failed self-test) with no slot written;
 * 996 with the table zeroed when a slot stayed empty; 0 when every slot is filled. */
SG_CRYPTO_EXPORT int SGCryptoWrapper_GetList(void** table);

/* Slot numbers, named after the function each slot holds. */
enum SGCryptoSlot {
    /* Library core */
    SGCryptoSlot_SGCrypto_GetVersion = 1,
    SGCryptoSlot_SGCrypto_Initialize = 2,
    SGCryptoSlot_SGCrypto_Finalize = 3,
    SGCryptoSlot_SGCrypto_SetDebugCallback = 4,
    SGCryptoSlot_SGCrypto_SetKCMVPModule = 5,
    /* Big integers */
    SGCryptoSlot_SGBigIntegerContext_New = 6,
    SGCryptoSlot_SGBigIntegerContext_Free = 7,
    SGCryptoSlot_SGBigIntegerContext_get = 8,
    SGCryptoSlot_SGBigInteger_New = 9,
    SGCryptoSlot_SGBigInteger_isZero = 10,
    SGCryptoSlot_SGBigInteger_Zero = 11,
    SGCryptoSlot_SGBigInteger_Free = 12,
    SGCryptoSlot_SGBigInteger_copy = 13,
    SGCryptoSlot_SGBigInteger_NewAsBinary = 14,
    SGCryptoSlot_SGBigInteger_ToBinary = 15,
    SGCryptoSlot_SGBigInteger_ToNBinary = 16,
    SGCryptoSlot_SGBigInteger_ToWord = 17,
    SGCryptoSlot_SGBigInteger_FromBinary = 18,
    SGCryptoSlot_SGBigInteger_ToASCII = 19,
    SGCryptoSlot_SGBigInteger_FromASCII = 20,
    SGCryptoSlot_SGBigInteger_NewAsASCII = 21,
    SGCryptoSlot_SGBigInteger_dup = 22,
    SGCryptoSlot_SGBigInteger_Print = 23,
    SGCryptoSlot_SGBigInteger_PrintAsHex = 24,
    SGCryptoSlot_SGBigInteger_ToHex = 25,
    SGCryptoSlot_SGBigInteger_isBitSet = 26,
    SGCryptoSlot_SGBigInteger_setBit = 27,
    SGCryptoSlot_SGBigInteger_clearBit = 28,
    SGCryptoSlot_SGBigInteger_leftshift = 29,
    SGCryptoSlot_SGBigInteger_rightshift = 30,
    SGCryptoSlot_SGBigInteger_isOne = 31,
    SGCryptoSlot_SGBigInteger_One = 32,
    SGCryptoSlot_SGBigInteger_set_word = 33,
    SGCryptoSlot_SGBigInteger_set_negative = 34,
    SGCryptoSlot_SGBigInteger_ucmp = 35,
    SGCryptoSlot_SGBigInteger_cmp = 36,
    SGCryptoSlot_SGBigInteger_random = 37,
    SGCryptoSlot_SGBigInteger_randomInRange = 38,
    SGCryptoSlot_SGBigInteger_pseudoRandomInRange = 39,
    SGCryptoSlot_SGBigInteger_gcd = 40,
    SGCryptoSlot_SGBigInteger_mul = 41,
    SGCryptoSlot_SGBigInteger_div = 42,
    SGCryptoSlot_SGBigInteger_mod = 43,
    SGCryptoSlot_SGBigInteger_mod_inverse = 44,
    SGCryptoSlot_SGBigInteger_exp = 45,
    SGCryptoSlot_SGBigInteger_mod_add = 46,
    SGCryptoSlot_SGBigInteger_mod_sub = 47,
    SGCryptoSlot_SGBigInteger_mod_exp = 48,
    SGCryptoSlot_SGBigInteger_mod_mul = 49,
    SGCryptoSlot_SGBigInteger_sqr = 50,
    SGCryptoSlot_SGBigInteger_add = 51,
    SGCryptoSlot_SGBigInteger_usub = 52,
    SGCryptoSlot_SGBigInteger_sub = 53,
    SGCryptoSlot_SGBigInteger_mul_word = 54,
    SGCryptoSlot_SGBigInteger_add_word = 55,
    SGCryptoSlot_SGBigInteger_sub_word = 56,
    SGCryptoSlot_SGBigInteger_mod_word = 57,
    SGCryptoSlot_SGBigInteger_isPrime = 58,
    SGCryptoSlot_SGBigInteger_GeneratePrime = 59,
    SGCryptoSlot_SGBigInteger_GetNumberOfBits = 60,
    SGCryptoSlot_SGBigInteger_GetNumberOfBytes = 61,
    /* Digests */
    SGCryptoSlot_SGDigestContext_New = 62,
    SGCryptoSlot_SGDigestContext_Init = 63,
    SGCryptoSlot_SGDigestContext_Duplicate = 64,
    SGCryptoSlot_SGDigestContext_Clear = 65,
    SGCryptoSlot_SGDigestContext_Free = 66,
    SGCryptoSlot_SGDigest_GetBlockSize = 67,
    SGCryptoSlot_SGDigest_GetDigestSize = 68,
    SGCryptoSlot_SGDigest = 69,
    SGCryptoSlot_SGDigest_Init = 70,
    SGCryptoSlot_SGDigest_Update = 71,
    SGCryptoSlot_SGDigest_Final = 72,
    /* Hash DRBG */
    SGCryptoSlot_SGDRBGContext_New = 73,
    SGCryptoSlot_SGDRBGContext_Free = 74,
    SGCryptoSlot_SGDRBG_Instantiation = 75,
    SGCryptoSlot_SGDRBG_GenerateRandom = 76,
    SGCryptoSlot_SGDRBG_Reseed = 77,
    /* HMAC */
    SGCryptoSlot_SGHMAC_Init = 78,
    SGCryptoSlot_SGHMAC_Update = 79,
    SGCryptoSlot_SGHMAC_Final = 80,
    SGCryptoSlot_SGHMACContext_Clear = 81,
    SGCryptoSlot_SGHMAC = 82,
    /* CBC-MAC */
    SGCryptoSlot_SGCMAC_GetMACSize = 83,
    SGCryptoSlot_SGCMAC_Init = 84,
    SGCryptoSlot_SGCMAC_Update = 85,
    SGCryptoSlot_SGCMAC_Final = 86,
    SGCryptoSlot_SGCMACContext_Clear = 87,
    SGCryptoSlot_SGCMAC = 88,
    /* Ciphers */
    SGCryptoSlot_SGCipher_GetInfo = 89,
    SGCryptoSlot_SGCipher_Encrypt_Init = 90,
    SGCryptoSlot_SGCipher_Encrypt_Update = 91,
    SGCryptoSlot_SGCipher_Encrypt_Final = 92,
    SGCryptoSlot_SGCipher_Encrypt = 93,
    SGCryptoSlot_SGCipher_Decrypt_Init = 94,
    SGCryptoSlot_SGCipher_Decrypt_Update = 95,
    SGCryptoSlot_SGCipher_Decrypt_Final = 96,
    SGCryptoSlot_SGCipher_Decrypt = 97,
    /* PKCS #1 */
    SGCryptoSlot_SGPKCS1_Sign = 98,
    SGCryptoSlot_SGPKCS1_Verify = 99,
    SGCryptoSlot_SGPKCS1_Encrypt = 100,
    SGCryptoSlot_SGPKCS1_Decrypt = 101,
    SGCryptoSlot_SGPKCS1_CreateDigestInfo = 102,
    SGCryptoSlot_SGPKCS1_DecodeDigestInfo = 103,
    /* Process random generator */
    SGCryptoSlot_SGRandom_add = 104,
    SGCryptoSlot_SGRandom_bytes = 105,
    /* RSA keys */
    SGCryptoSlot_SGRSAPublicKey_Free = 106,
    SGCryptoSlot_SGRSAPublicKey_Encode = 107,
    SGCryptoSlot_SGRSAPublicKey_Decode = 108,
    SGCryptoSlot_SGRSAPublicKey_GetKeySize = 109,
    SGCryptoSlot_SGRSAPublicKey_SetItem = 110,
    SGCryptoSlot_SGRSAPublicKey_GetItem = 111,
    SGCryptoSlot_SGRSAPrivateKey_Free = 112,
    SGCryptoSlot_SGRSAPrivateKey_Encode = 113,
    SGCryptoSlot_SGRSAPrivateKey_Decode = 114,
    SGCryptoSlot_SGRSAPrivateKey_GetKeySize = 115,
    SGCryptoSlot_SGRSAPrivateKey_SetItem = 116,
    SGCryptoSlot_SGRSAPrivateKey_GetItem = 117,
    SGCryptoSlot_SGRSA_GenerateKeyPair = 118,
    /* Signature keys */
    SGCryptoSlot_SGDSKey_FromCallback = 119,
    SGCryptoSlot_SGDSKey_FromObject = 120,
    SGCryptoSlot_SGDSKey_Encode = 121,
    SGCryptoSlot_SGDSKey_Decode = 122,
    SGCryptoSlot_SGDSKey_GetInfo = 123,
    SGCryptoSlot_SGDSKey_Clear = 124,
    SGCryptoSlot_SGDS_Sign = 125,
    SGCryptoSlot_SGDS_Verify = 126,
    /* Elliptic curves and ECDSA */
    SGCryptoSlot_SGECDomainParameters_Decode = 127,
    SGCryptoSlot_SGECPublicKey_Decode = 128,
    SGCryptoSlot_SGECPrivateKey_Decode = 129,
    SGCryptoSlot_SGECDSA_Encode_SignatureValue = 130,
    SGCryptoSlot_SGECDSA_Decode_SignatureValue = 131,
    SGCryptoSlot_SGECDSA_Sign = 132,
    SGCryptoSlot_SGECDSA_Verify = 133,
    /* KCDSA */
    SGCryptoSlot_SGKCDSA_Sign = 134,
    SGCryptoSlot_SGKCDSA_Verify = 135,
    SGCryptoSlot_SGKCDSA_GenerateKeyPair = 136,
    SGCryptoSlot_SGKCDSA_GenerateParameters = 137,
    SGCryptoSlot_SGKCDSA_Encode_SignatureValue = 138,
    SGCryptoSlot_SGKCDSA_Decode_SignatureValue = 139,
    SGCryptoSlot_SGKCDSAParameter_Encode = 140,
    SGCryptoSlot_SGKCDSAParameter_Decode = 141,
    SGCryptoSlot_SGKCDSAParameter_SetItem = 142,
    SGCryptoSlot_SGKCDSAParameter_Clear = 143,
    SGCryptoSlot_SGKCDSAPrivateKey_Encode = 144,
    SGCryptoSlot_SGKCDSAPrivateKey_Decode = 145,
    SGCryptoSlot_SGKCDSAPrivateKey_GetKeySize = 146,
    SGCryptoSlot_SGKCDSAPrivateKey_Free = 147,
    SGCryptoSlot_SGKCDSAPublicKey_Encode = 148,
    SGCryptoSlot_SGKCDSAPublicKey_Decode = 149,
    SGCryptoSlot_SGKCDSAPublicKey_GetKeySize = 150,
    SGCryptoSlot_SGKCDSAPublicKey_Free = 151,
};

SG_CRYPTO_EXTERN_C_END

#ifdef __cplusplus
/* Typed call through a table slot: SG_CRYPTO_FN(table, SGDigest)(out, 5, data, n). The function
 * must be declared (its component header included) for its type. */
#define SG_CRYPTO_FN(table, name) (reinterpret_cast<decltype(&name)>((table)[SGCryptoSlot_##name]))
#endif

#endif
