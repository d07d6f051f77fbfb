#include "SGCryptoTable.h"

#include <cstring>

#include "SGCrypto.h"
#include "SGCMAC.h"
#include "SGCipher.h"
#include "SGCryptoInternal.h"
#include "SGDRBG.h"
#include "SGDigest.h"
#include "SGHMAC.h"
#include "SGRandom.h"

extern "C" SG_CRYPTO_EXPORT void* Crypto[SG_CRYPTO_TABLE_SLOTS];
void* Crypto[SG_CRYPTO_TABLE_SLOTS];

namespace {

#define SLOT(name) reinterpret_cast<void*>(&name)
// Components not built yet answer with an error of their return kind.
#define PENDING_INT(name) reinterpret_cast<void*>(&SGCrypto_PendingInt)
#define PENDING_FALSE(name) reinterpret_cast<void*>(&SGCrypto_PendingFalse)
#define PENDING_PTR(name) reinterpret_cast<void*>(&SGCrypto_PendingPtr)

// Slots 1 to 151 in their fixed order.
void* const kSlots[SG_CRYPTO_TABLE_SLOTS - 1] = {
    SLOT(SGCrypto_GetVersion),                        // 1
    SLOT(SGCrypto_Initialize),                        // 2
    SLOT(SGCrypto_Finalize),                          // 3
    SLOT(SGCrypto_SetDebugCallback),                  // 4
    SLOT(SGCrypto_SetKCMVPModule),                    // 5
    PENDING_INT(SGBigIntegerContext_New),             // 6
    PENDING_INT(SGBigIntegerContext_Free),            // 7
    PENDING_INT(SGBigIntegerContext_get),             // 8
    PENDING_INT(SGBigInteger_New),                    // 9
    PENDING_FALSE(SGBigInteger_isZero),               // 10
    PENDING_INT(SGBigInteger_Zero),                   // 11
    PENDING_INT(SGBigInteger_Free),                   // 12
    PENDING_INT(SGBigInteger_copy),                   // 13
    PENDING_INT(SGBigInteger_NewAsBinary),            // 14
    PENDING_INT(SGBigInteger_ToBinary),               // 15
    PENDING_INT(SGBigInteger_ToNBinary),              // 16
    PENDING_INT(SGBigInteger_ToWord),                 // 17
    PENDING_INT(SGBigInteger_FromBinary),             // 18
    PENDING_INT(SGBigInteger_ToASCII),                // 19
    PENDING_FALSE(SGBigInteger_FromASCII),            // 20
    PENDING_FALSE(SGBigInteger_NewAsASCII),           // 21
    PENDING_INT(SGBigInteger_dup),                    // 22
    PENDING_INT(SGBigInteger_Print),                  // 23
    PENDING_INT(SGBigInteger_PrintAsHex),             // 24
    PENDING_INT(SGBigInteger_ToHex),                  // 25
    PENDING_FALSE(SGBigInteger_isBitSet),             // 26
    PENDING_INT(SGBigInteger_setBit),                 // 27
    PENDING_INT(SGBigInteger_clearBit),               // 28
    PENDING_FALSE(SGBigInteger_leftshift),            // 29
    PENDING_INT(SGBigInteger_rightshift),             // 30
    PENDING_FALSE(SGBigInteger_isOne),                // 31
    PENDING_PTR(SGBigInteger_One),                    // 32
    PENDING_INT(SGBigInteger_set_word),               // 33
    PENDING_INT(SGBigInteger_set_negative),           // 34
    PENDING_INT(SGBigInteger_ucmp),                   // 35
    PENDING_INT(SGBigInteger_cmp),                    // 36
    PENDING_INT(SGBigInteger_random),                 // 37
    PENDING_FALSE(SGBigInteger_randomInRange),        // 38
    PENDING_FALSE(SGBigInteger_pseudoRandomInRange),  // 39
    PENDING_INT(SGBigInteger_gcd),                    // 40
    PENDING_FALSE(SGBigInteger_mul),                  // 41
    PENDING_FALSE(SGBigInteger_div),                  // 42
    PENDING_FALSE(SGBigInteger_mod),                  // 43
    PENDING_FALSE(SGBigInteger_mod_inverse),          // 44
    PENDING_FALSE(SGBigInteger_exp),                  // 45
    PENDING_FALSE(SGBigInteger_mod_add),              // 46
    PENDING_FALSE(SGBigInteger_mod_sub),              // 47
    PENDING_FALSE(SGBigInteger_mod_exp),              // 48
    PENDING_FALSE(SGBigInteger_mod_mul),              // 49
    PENDING_FALSE(SGBigInteger_sqr),                  // 50
    PENDING_FALSE(SGBigInteger_add),                  // 51
    PENDING_FALSE(SGBigInteger_usub),                 // 52
    PENDING_FALSE(SGBigInteger_sub),                  // 53
    PENDING_INT(SGBigInteger_mul_word),               // 54
    PENDING_INT(SGBigInteger_add_word),               // 55
    PENDING_INT(SGBigInteger_sub_word),               // 56
    PENDING_INT(SGBigInteger_mod_word),               // 57
    PENDING_INT(SGBigInteger_isPrime),                // 58
    PENDING_FALSE(SGBigInteger_GeneratePrime),        // 59
    PENDING_INT(SGBigInteger_GetNumberOfBits),        // 60
    PENDING_INT(SGBigInteger_GetNumberOfBytes),       // 61
    SLOT(SGDigestContext_New),                        // 62
    SLOT(SGDigestContext_Init),                       // 63
    SLOT(SGDigestContext_Duplicate),                  // 64
    SLOT(SGDigestContext_Clear),                      // 65
    SLOT(SGDigestContext_Free),                       // 66
    SLOT(SGDigest_GetBlockSize),                      // 67
    SLOT(SGDigest_GetDigestSize),                     // 68
    SLOT(SGDigest),                                   // 69
    SLOT(SGDigest_Init),                              // 70
    SLOT(SGDigest_Update),                            // 71
    SLOT(SGDigest_Final),                             // 72
    SLOT(SGDRBGContext_New),                          // 73
    SLOT(SGDRBGContext_Free),                         // 74
    SLOT(SGDRBG_Instantiation),                       // 75
    SLOT(SGDRBG_GenerateRandom),                      // 76
    SLOT(SGDRBG_Reseed),                              // 77
    SLOT(SGHMAC_Init),                                // 78
    SLOT(SGHMAC_Update),                              // 79
    SLOT(SGHMAC_Final),                               // 80
    SLOT(SGHMACContext_Clear),                        // 81
    SLOT(SGHMAC),                                     // 82
    SLOT(SGCMAC_GetMACSize),                          // 83
    SLOT(SGCMAC_Init),                                // 84
    SLOT(SGCMAC_Update),                              // 85
    SLOT(SGCMAC_Final),                               // 86
    SLOT(SGCMACContext_Clear),                        // 87
    SLOT(SGCMAC),                                     // 88
    SLOT(SGCipher_GetInfo),                           // 89
    SLOT(SGCipher_Encrypt_Init),                      // 90
    SLOT(SGCipher_Encrypt_Update),                    // 91
    SLOT(SGCipher_Encrypt_Final),                     // 92
    SLOT(SGCipher_Encrypt),                           // 93
    SLOT(SGCipher_Decrypt_Init),                      // 94
    SLOT(SGCipher_Decrypt_Update),                    // 95
    SLOT(SGCipher_Decrypt_Final),                     // 96
    SLOT(SGCipher_Decrypt),                           // 97
    PENDING_INT(SGPKCS1_Sign),                        // 98
    PENDING_INT(SGPKCS1_Verify),                      // 99
    PENDING_INT(SGPKCS1_Encrypt),                     // 100
    PENDING_INT(SGPKCS1_Decrypt),                     // 101
    PENDING_INT(SGPKCS1_CreateDigestInfo),            // 102
    PENDING_INT(SGPKCS1_DecodeDigestInfo),            // 103
    SLOT(SGRandom_add),                               // 104
    SLOT(SGRandom_bytes),                             // 105
    PENDING_INT(SGRSAPublicKey_Free),                 // 106
    PENDING_INT(SGRSAPublicKey_Encode),               // 107
    PENDING_INT(SGRSAPublicKey_Decode),               // 108
    PENDING_INT(SGRSAPublicKey_GetKeySize),           // 109
    PENDING_INT(SGRSAPublicKey_SetItem),              // 110
    PENDING_INT(SGRSAPublicKey_GetItem),              // 111
    PENDING_INT(SGRSAPrivateKey_Free),                // 112
    PENDING_INT(SGRSAPrivateKey_Encode),              // 113
    PENDING_INT(SGRSAPrivateKey_Decode),              // 114
    PENDING_INT(SGRSAPrivateKey_GetKeySize),          // 115
    PENDING_INT(SGRSAPrivateKey_SetItem),             // 116
    PENDING_INT(SGRSAPrivateKey_GetItem),             // 117
    PENDING_INT(SGRSA_GenerateKeyPair),               // 118
    PENDING_INT(SGDSKey_FromCallback),                // 119
    PENDING_INT(SGDSKey_FromObject),                  // 120
    PENDING_INT(SGDSKey_Encode),                      // 121
    PENDING_INT(SGDSKey_Decode),                      // 122
    PENDING_INT(SGDSKey_GetInfo),                     // 123
    PENDING_INT(SGDSKey_Clear),                       // 124
    PENDING_INT(SGDS_Sign),                           // 125
    PENDING_INT(SGDS_Verify),                         // 126
    PENDING_INT(SGECDomainParameters_Decode),         // 127
    PENDING_INT(SGECPublicKey_Decode),                // 128
    PENDING_INT(SGECPrivateKey_Decode),               // 129
    PENDING_INT(SGECDSA_Encode_SignatureValue),       // 130
    PENDING_INT(SGECDSA_Decode_SignatureValue),       // 131
    PENDING_INT(SGECDSA_Sign),                        // 132
    PENDING_INT(SGECDSA_Verify),                      // 133
    PENDING_INT(SGKCDSA_Sign),                        // 134
    PENDING_INT(SGKCDSA_Verify),                      // 135
    PENDING_INT(SGKCDSA_GenerateKeyPair),             // 136
    PENDING_INT(SGKCDSA_GenerateParameters),          // 137
    PENDING_INT(SGKCDSA_Encode_SignatureValue),       // 138
    PENDING_INT(SGKCDSA_Decode_SignatureValue),       // 139
    PENDING_INT(SGKCDSAParameter_Encode),             // 140
    PENDING_INT(SGKCDSAParameter_Decode),             // 141
    PENDING_INT(SGKCDSAParameter_SetItem),            // 142
    PENDING_INT(SGKCDSAParameter_Clear),              // 143
    PENDING_INT(SGKCDSAPrivateKey_Encode),            // 144
    PENDING_INT(SGKCDSAPrivateKey_Decode),            // 145
    PENDING_INT(SGKCDSAPrivateKey_GetKeySize),        // 146
    PENDING_INT(SGKCDSAPrivateKey_Free),              // 147
    PENDING_INT(SGKCDSAPublicKey_Encode),             // 148
    PENDING_INT(SGKCDSAPublicKey_Decode),             // 149
    PENDING_INT(SGKCDSAPublicKey_GetKeySize),         // 150
    PENDING_INT(SGKCDSAPublicKey_Free),               // 151
};

}  // namespace

extern "C" int SGCryptoWrapper_GetList(void** table) {
    if (!table) return SG_CRYPTO_ERR_ARGUMENT;
    SGCrypto_Initialize();
    if (int error = brindlow::crypto::initError()) return error;
    table[0] = nullptr;
    const int32_t version = SG_CRYPTO_TABLE_VERSION;
    std::memcpy(&table[0], &version, sizeof version);
    for (int i = 1; i < SG_CRYPTO_TABLE_SLOTS; ++i) table[i] = kSlots[i - 1];
    for (int i = 1; i < SG_CRYPTO_TABLE_SLOTS; ++i) {
        if (!table[i]) {
            std::memset(table, 0, SG_CRYPTO_TABLE_SLOTS * sizeof(void*));
            return SG_CRYPTO_ERR_EMPTY_SLOT;
        }
    }
    return 0;
}
