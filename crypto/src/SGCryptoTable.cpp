#include "SGCryptoTable.h"

#include <cstring>

#include "SGBigInteger.h"
#include "SGCrypto.h"
#include "SGCMAC.h"
#include "SGCipher.h"
#include "SGCryptoInternal.h"
#include "SGDRBG.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGECDSA.h"
#include "SGHMAC.h"
#include "SGKCDSA.h"
#include "SGPKCS1.h"
#include "SGRandom.h"

extern "C" SG_CRYPTO_EXPORT void* Crypto[SG_CRYPTO_TABLE_SLOTS];
void* Crypto[SG_CRYPTO_TABLE_SLOTS];

namespace {

#define SLOT(name) reinterpret_cast<void*>(&name)

// Slots 1 to 151 in their fixed order.
void* const kSlots[SG_CRYPTO_TABLE_SLOTS - 1] = {
    SLOT(SGCrypto_GetVersion),                        // 1
    SLOT(SGCrypto_Initialize),                        // 2
    SLOT(SGCrypto_Finalize),                          // 3
    SLOT(SGCrypto_SetDebugCallback),                  // 4
    SLOT(SGCrypto_SetKCMVPModule),                    // 5
    SLOT(SGBigIntegerContext_New),             // 6
    SLOT(SGBigIntegerContext_Free),            // 7
    SLOT(SGBigIntegerContext_get),             // 8
    SLOT(SGBigInteger_New),                    // 9
    SLOT(SGBigInteger_isZero),               // 10
    SLOT(SGBigInteger_Zero),                   // 11
    SLOT(SGBigInteger_Free),                   // 12
    SLOT(SGBigInteger_copy),                   // 13
    SLOT(SGBigInteger_NewAsBinary),            // 14
    SLOT(SGBigInteger_ToBinary),               // 15
    SLOT(SGBigInteger_ToNBinary),              // 16
    SLOT(SGBigInteger_ToWord),                 // 17
    SLOT(SGBigInteger_FromBinary),             // 18
    SLOT(SGBigInteger_ToASCII),                // 19
    SLOT(SGBigInteger_FromASCII),            // 20
    SLOT(SGBigInteger_NewAsASCII),           // 21
    SLOT(SGBigInteger_dup),                    // 22
    SLOT(SGBigInteger_Print),                  // 23
    SLOT(SGBigInteger_PrintAsHex),             // 24
    SLOT(SGBigInteger_ToHex),                  // 25
    SLOT(SGBigInteger_isBitSet),             // 26
    SLOT(SGBigInteger_setBit),                 // 27
    SLOT(SGBigInteger_clearBit),               // 28
    SLOT(SGBigInteger_leftshift),            // 29
    SLOT(SGBigInteger_rightshift),             // 30
    SLOT(SGBigInteger_isOne),                // 31
    SLOT(SGBigInteger_One),                    // 32
    SLOT(SGBigInteger_set_word),               // 33
    SLOT(SGBigInteger_set_negative),           // 34
    SLOT(SGBigInteger_ucmp),                   // 35
    SLOT(SGBigInteger_cmp),                    // 36
    SLOT(SGBigInteger_random),                 // 37
    SLOT(SGBigInteger_randomInRange),        // 38
    SLOT(SGBigInteger_pseudoRandomInRange),  // 39
    SLOT(SGBigInteger_gcd),                    // 40
    SLOT(SGBigInteger_mul),                  // 41
    SLOT(SGBigInteger_div),                  // 42
    SLOT(SGBigInteger_mod),                  // 43
    SLOT(SGBigInteger_mod_inverse),          // 44
    SLOT(SGBigInteger_exp),                  // 45
    SLOT(SGBigInteger_mod_add),              // 46
    SLOT(SGBigInteger_mod_sub),              // 47
    SLOT(SGBigInteger_mod_exp),              // 48
    SLOT(SGBigInteger_mod_mul),              // 49
    SLOT(SGBigInteger_sqr),                  // 50
    SLOT(SGBigInteger_add),                  // 51
    SLOT(SGBigInteger_usub),                 // 52
    SLOT(SGBigInteger_sub),                  // 53
    SLOT(SGBigInteger_mul_word),               // 54
    SLOT(SGBigInteger_add_word),               // 55
    SLOT(SGBigInteger_sub_word),               // 56
    SLOT(SGBigInteger_mod_word),               // 57
    SLOT(SGBigInteger_isPrime),                // 58
    SLOT(SGBigInteger_GeneratePrime),        // 59
    SLOT(SGBigInteger_GetNumberOfBits),        // 60
    SLOT(SGBigInteger_GetNumberOfBytes),       // 61
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
    SLOT(SGPKCS1_Sign),                        // 98
    SLOT(SGPKCS1_Verify),                      // 99
    SLOT(SGPKCS1_Encrypt),                     // 100
    SLOT(SGPKCS1_Decrypt),                     // 101
    SLOT(SGPKCS1_CreateDigestInfo),            // 102
    SLOT(SGPKCS1_DecodeDigestInfo),            // 103
    SLOT(SGRandom_add),                               // 104
    SLOT(SGRandom_bytes),                             // 105
    SLOT(SGRSAPublicKey_Free),                 // 106
    SLOT(SGRSAPublicKey_Encode),               // 107
    SLOT(SGRSAPublicKey_Decode),               // 108
    SLOT(SGRSAPublicKey_GetKeySize),           // 109
    SLOT(SGRSAPublicKey_SetItem),              // 110
    SLOT(SGRSAPublicKey_GetItem),              // 111
    SLOT(SGRSAPrivateKey_Free),                // 112
    SLOT(SGRSAPrivateKey_Encode),              // 113
    SLOT(SGRSAPrivateKey_Decode),              // 114
    SLOT(SGRSAPrivateKey_GetKeySize),          // 115
    SLOT(SGRSAPrivateKey_SetItem),             // 116
    SLOT(SGRSAPrivateKey_GetItem),             // 117
    SLOT(SGRSA_GenerateKeyPair),               // 118
    SLOT(SGDSKey_FromCallback),                       // 119
    SLOT(SGDSKey_FromObject),                         // 120
    SLOT(SGDSKey_Encode),                             // 121
    SLOT(SGDSKey_Decode),                             // 122
    SLOT(SGDSKey_GetInfo),                            // 123
    SLOT(SGDSKey_Clear),                              // 124
    SLOT(SGDS_Sign),                                  // 125
    SLOT(SGDS_Verify),                                // 126
    SLOT(SGECDomainParameters_Decode),                // 127
    SLOT(SGECPublicKey_Decode),                       // 128
    SLOT(SGECPrivateKey_Decode),                      // 129
    SLOT(SGECDSA_Encode_SignatureValue),              // 130
    SLOT(SGECDSA_Decode_SignatureValue),              // 131
    SLOT(SGECDSA_Sign),                               // 132
    SLOT(SGECDSA_Verify),                             // 133
    SLOT(SGKCDSA_Sign),                               // 134
    SLOT(SGKCDSA_Verify),                             // 135
    SLOT(SGKCDSA_GenerateKeyPair),                    // 136
    SLOT(SGKCDSA_GenerateParameters),                 // 137
    SLOT(SGKCDSA_Encode_SignatureValue),              // 138
    SLOT(SGKCDSA_Decode_SignatureValue),              // 139
    SLOT(SGKCDSAParameter_Encode),                    // 140
    SLOT(SGKCDSAParameter_Decode),                    // 141
    SLOT(SGKCDSAParameter_SetItem),                   // 142
    SLOT(SGKCDSAParameter_Clear),                     // 143
    SLOT(SGKCDSAPrivateKey_Encode),                   // 144
    SLOT(SGKCDSAPrivateKey_Decode),                   // 145
    SLOT(SGKCDSAPrivateKey_GetKeySize),               // 146
    SLOT(SGKCDSAPrivateKey_Free),                     // 147
    SLOT(SGKCDSAPublicKey_Encode),                    // 148
    SLOT(SGKCDSAPublicKey_Decode),                    // 149
    SLOT(SGKCDSAPublicKey_GetKeySize),                // 150
    SLOT(SGKCDSAPublicKey_Free),                      // 151
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
