// The Crypto table as a whole: every slot holds the function of its fixed position, so no slot
// keeps a placeholder, and the slot numbers of the header are those the table's users bind to.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "SGBigInteger.h"
#include "SGCMAC.h"
#include "SGCipher.h"
#include "SGCrypto.h"
#include "SGCryptoTable.h"
#include "SGDRBG.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGECDSA.h"
#include "SGHMAC.h"
#include "SGKCDSA.h"
#include "SGPKCS1.h"
#include "SGRSA.h"
#include "SGRandom.h"

namespace {

static_assert(SGCryptoSlot_SGCrypto_GetVersion == 1);
static_assert(SGCryptoSlot_SGCrypto_Initialize == 2);
static_assert(SGCryptoSlot_SGCrypto_Finalize == 3);
static_assert(SGCryptoSlot_SGCrypto_SetDebugCallback == 4);
static_assert(SGCryptoSlot_SGCrypto_SetKCMVPModule == 5);
static_assert(SGCryptoSlot_SGBigIntegerContext_New == 6);
static_assert(SGCryptoSlot_SGBigIntegerContext_Free == 7);
static_assert(SGCryptoSlot_SGBigIntegerContext_get == 8);
static_assert(SGCryptoSlot_SGBigInteger_New == 9);
static_assert(SGCryptoSlot_SGBigInteger_isZero == 10);
static_assert(SGCryptoSlot_SGBigInteger_Zero == 11);
static_assert(SGCryptoSlot_SGBigInteger_Free == 12);
static_assert(SGCryptoSlot_SGBigInteger_copy == 13);
static_assert(SGCryptoSlot_SGBigInteger_NewAsBinary == 14);
static_assert(SGCryptoSlot_SGBigInteger_ToBinary == 15);
static_assert(SGCryptoSlot_SGBigInteger_ToNBinary == 16);
static_assert(SGCryptoSlot_SGBigInteger_ToWord == 17);
static_assert(SGCryptoSlot_SGBigInteger_FromBinary == 18);
static_assert(SGCryptoSlot_SGBigInteger_ToASCII == 19);
static_assert(SGCryptoSlot_SGBigInteger_FromASCII == 20);
static_assert(SGCryptoSlot_SGBigInteger_NewAsASCII == 21);
static_assert(SGCryptoSlot_SGBigInteger_dup == 22);
static_assert(SGCryptoSlot_SGBigInteger_Print == 23);
static_assert(SGCryptoSlot_SGBigInteger_PrintAsHex == 24);
static_assert(SGCryptoSlot_SGBigInteger_ToHex == 25);
static_assert(SGCryptoSlot_SGBigInteger_isBitSet == 26);
static_assert(SGCryptoSlot_SGBigInteger_setBit == 27);
static_assert(SGCryptoSlot_SGBigInteger_clearBit == 28);
static_assert(SGCryptoSlot_SGBigInteger_leftshift == 29);
static_assert(SGCryptoSlot_SGBigInteger_rightshift == 30);
static_assert(SGCryptoSlot_SGBigInteger_isOne == 31);
static_assert(SGCryptoSlot_SGBigInteger_One == 32);
static_assert(SGCryptoSlot_SGBigInteger_set_word == 33);
static_assert(SGCryptoSlot_SGBigInteger_set_negative == 34);
static_assert(SGCryptoSlot_SGBigInteger_ucmp == 35);
static_assert(SGCryptoSlot_SGBigInteger_cmp == 36);
static_assert(SGCryptoSlot_SGBigInteger_random == 37);
static_assert(SGCryptoSlot_SGBigInteger_randomInRange == 38);
static_assert(SGCryptoSlot_SGBigInteger_pseudoRandomInRange == 39);
static_assert(SGCryptoSlot_SGBigInteger_gcd == 40);
static_assert(SGCryptoSlot_SGBigInteger_mul == 41);
static_assert(SGCryptoSlot_SGBigInteger_div == 42);
static_assert(SGCryptoSlot_SGBigInteger_mod == 43);
static_assert(SGCryptoSlot_SGBigInteger_mod_inverse == 44);
static_assert(SGCryptoSlot_SGBigInteger_exp == 45);
static_assert(SGCryptoSlot_SGBigInteger_mod_add == 46);
static_assert(SGCryptoSlot_SGBigInteger_mod_sub == 47);
static_assert(SGCryptoSlot_SGBigInteger_mod_exp == 48);
static_assert(SGCryptoSlot_SGBigInteger_mod_mul == 49);
static_assert(SGCryptoSlot_SGBigInteger_sqr == 50);
static_assert(SGCryptoSlot_SGBigInteger_add == 51);
static_assert(SGCryptoSlot_SGBigInteger_usub == 52);
static_assert(SGCryptoSlot_SGBigInteger_sub == 53);
static_assert(SGCryptoSlot_SGBigInteger_mul_word == 54);
static_assert(SGCryptoSlot_SGBigInteger_add_word == 55);
static_assert(SGCryptoSlot_SGBigInteger_sub_word == 56);
static_assert(SGCryptoSlot_SGBigInteger_mod_word == 57);
static_assert(SGCryptoSlot_SGBigInteger_isPrime == 58);
static_assert(SGCryptoSlot_SGBigInteger_GeneratePrime == 59);
static_assert(SGCryptoSlot_SGBigInteger_GetNumberOfBits == 60);
static_assert(SGCryptoSlot_SGBigInteger_GetNumberOfBytes == 61);
static_assert(SGCryptoSlot_SGDigestContext_New == 62);
static_assert(SGCryptoSlot_SGDigestContext_Init == 63);
static_assert(SGCryptoSlot_SGDigestContext_Duplicate == 64);
static_assert(SGCryptoSlot_SGDigestContext_Clear == 65);
static_assert(SGCryptoSlot_SGDigestContext_Free == 66);
static_assert(SGCryptoSlot_SGDigest_GetBlockSize == 67);
static_assert(SGCryptoSlot_SGDigest_GetDigestSize == 68);
static_assert(SGCryptoSlot_SGDigest == 69);
static_assert(SGCryptoSlot_SGDigest_Init == 70);
static_assert(SGCryptoSlot_SGDigest_Update == 71);
static_assert(SGCryptoSlot_SGDigest_Final == 72);
static_assert(SGCryptoSlot_SGDRBGContext_New == 73);
static_assert(SGCryptoSlot_SGDRBGContext_Free == 74);
static_assert(SGCryptoSlot_SGDRBG_Instantiation == 75);
static_assert(SGCryptoSlot_SGDRBG_GenerateRandom == 76);
static_assert(SGCryptoSlot_SGDRBG_Reseed == 77);
static_assert(SGCryptoSlot_SGHMAC_Init == 78);
static_assert(SGCryptoSlot_SGHMAC_Update == 79);
static_assert(SGCryptoSlot_SGHMAC_Final == 80);
static_assert(SGCryptoSlot_SGHMACContext_Clear == 81);
static_assert(SGCryptoSlot_SGHMAC == 82);
static_assert(SGCryptoSlot_SGCMAC_GetMACSize == 83);
static_assert(SGCryptoSlot_SGCMAC_Init == 84);
static_assert(SGCryptoSlot_SGCMAC_Update == 85);
static_assert(SGCryptoSlot_SGCMAC_Final == 86);
static_assert(SGCryptoSlot_SGCMACContext_Clear == 87);
static_assert(SGCryptoSlot_SGCMAC == 88);
static_assert(SGCryptoSlot_SGCipher_GetInfo == 89);
static_assert(SGCryptoSlot_SGCipher_Encrypt_Init == 90);
static_assert(SGCryptoSlot_SGCipher_Encrypt_Update == 91);
static_assert(SGCryptoSlot_SGCipher_Encrypt_Final == 92);
static_assert(SGCryptoSlot_SGCipher_Encrypt == 93);
static_assert(SGCryptoSlot_SGCipher_Decrypt_Init == 94);
static_assert(SGCryptoSlot_SGCipher_Decrypt_Update == 95);
static_assert(SGCryptoSlot_SGCipher_Decrypt_Final == 96);
static_assert(SGCryptoSlot_SGCipher_Decrypt == 97);
static_assert(SGCryptoSlot_SGPKCS1_Sign == 98);
static_assert(SGCryptoSlot_SGPKCS1_Verify == 99);
static_assert(SGCryptoSlot_SGPKCS1_Encrypt == 100);
static_assert(SGCryptoSlot_SGPKCS1_Decrypt == 101);
static_assert(SGCryptoSlot_SGPKCS1_CreateDigestInfo == 102);
static_assert(SGCryptoSlot_SGPKCS1_DecodeDigestInfo == 103);
static_assert(SGCryptoSlot_SGRandom_add == 104);
static_assert(SGCryptoSlot_SGRandom_bytes == 105);
static_assert(SGCryptoSlot_SGRSAPublicKey_Free == 106);
static_assert(SGCryptoSlot_SGRSAPublicKey_Encode == 107);
static_assert(SGCryptoSlot_SGRSAPublicKey_Decode == 108);
static_assert(SGCryptoSlot_SGRSAPublicKey_GetKeySize == 109);
static_assert(SGCryptoSlot_SGRSAPublicKey_SetItem == 110);
static_assert(SGCryptoSlot_SGRSAPublicKey_GetItem == 111);
static_assert(SGCryptoSlot_SGRSAPrivateKey_Free == 112);
static_assert(SGCryptoSlot_SGRSAPrivateKey_Encode == 113);
static_assert(SGCryptoSlot_SGRSAPrivateKey_Decode == 114);
static_assert(SGCryptoSlot_SGRSAPrivateKey_GetKeySize == 115);
static_assert(SGCryptoSlot_SGRSAPrivateKey_SetItem == 116);
static_assert(SGCryptoSlot_SGRSAPrivateKey_GetItem == 117);
static_assert(SGCryptoSlot_SGRSA_GenerateKeyPair == 118);
static_assert(SGCryptoSlot_SGDSKey_FromCallback == 119);
static_assert(SGCryptoSlot_SGDSKey_FromObject == 120);
static_assert(SGCryptoSlot_SGDSKey_Encode == 121);
static_assert(SGCryptoSlot_SGDSKey_Decode == 122);
static_assert(SGCryptoSlot_SGDSKey_GetInfo == 123);
static_assert(SGCryptoSlot_SGDSKey_Clear == 124);
static_assert(SGCryptoSlot_SGDS_Sign == 125);
static_assert(SGCryptoSlot_SGDS_Verify == 126);
static_assert(SGCryptoSlot_SGECDomainParameters_Decode == 127);
static_assert(SGCryptoSlot_SGECPublicKey_Decode == 128);
static_assert(SGCryptoSlot_SGECPrivateKey_Decode == 129);
static_assert(SGCryptoSlot_SGECDSA_Encode_SignatureValue == 130);
static_assert(SGCryptoSlot_SGECDSA_Decode_SignatureValue == 131);
static_assert(SGCryptoSlot_SGECDSA_Sign == 132);
static_assert(SGCryptoSlot_SGECDSA_Verify == 133);
static_assert(SGCryptoSlot_SGKCDSA_Sign == 134);
static_assert(SGCryptoSlot_SGKCDSA_Verify == 135);
static_assert(SGCryptoSlot_SGKCDSA_GenerateKeyPair == 136);
static_assert(SGCryptoSlot_SGKCDSA_GenerateParameters == 137);
static_assert(SGCryptoSlot_SGKCDSA_Encode_SignatureValue == 138);
static_assert(SGCryptoSlot_SGKCDSA_Decode_SignatureValue == 139);
static_assert(SGCryptoSlot_SGKCDSAParameter_Encode == 140);
static_assert(SGCryptoSlot_SGKCDSAParameter_Decode == 141);
static_assert(SGCryptoSlot_SGKCDSAParameter_SetItem == 142);
static_assert(SGCryptoSlot_SGKCDSAParameter_Clear == 143);
static_assert(SGCryptoSlot_SGKCDSAPrivateKey_Encode == 144);
static_assert(SGCryptoSlot_SGKCDSAPrivateKey_Decode == 145);
static_assert(SGCryptoSlot_SGKCDSAPrivateKey_GetKeySize == 146);
static_assert(SGCryptoSlot_SGKCDSAPrivateKey_Free == 147);
static_assert(SGCryptoSlot_SGKCDSAPublicKey_Encode == 148);
static_assert(SGCryptoSlot_SGKCDSAPublicKey_Decode == 149);
static_assert(SGCryptoSlot_SGKCDSAPublicKey_GetKeySize == 150);
static_assert(SGCryptoSlot_SGKCDSAPublicKey_Free == 151);

#define SLOT_OF(name) reinterpret_cast<void*>(&name)

struct Slot {
    int number;
    void* function;
};

// Slots 1 to 151 in their fixed order.
const Slot kSlots[] = {
    {1, SLOT_OF(SGCrypto_GetVersion)},
    {2, SLOT_OF(SGCrypto_Initialize)},
    {3, SLOT_OF(SGCrypto_Finalize)},
    {4, SLOT_OF(SGCrypto_SetDebugCallback)},
    {5, SLOT_OF(SGCrypto_SetKCMVPModule)},
    {6, SLOT_OF(SGBigIntegerContext_New)},
    {7, SLOT_OF(SGBigIntegerContext_Free)},
    {8, SLOT_OF(SGBigIntegerContext_get)},
    {9, SLOT_OF(SGBigInteger_New)},
    {10, SLOT_OF(SGBigInteger_isZero)},
    {11, SLOT_OF(SGBigInteger_Zero)},
    {12, SLOT_OF(SGBigInteger_Free)},
    {13, SLOT_OF(SGBigInteger_copy)},
    {14, SLOT_OF(SGBigInteger_NewAsBinary)},
    {15, SLOT_OF(SGBigInteger_ToBinary)},
    {16, SLOT_OF(SGBigInteger_ToNBinary)},
    {17, SLOT_OF(SGBigInteger_ToWord)},
    {18, SLOT_OF(SGBigInteger_FromBinary)},
    {19, SLOT_OF(SGBigInteger_ToASCII)},
    {20, SLOT_OF(SGBigInteger_FromASCII)},
    {21, SLOT_OF(SGBigInteger_NewAsASCII)},
    {22, SLOT_OF(SGBigInteger_dup)},
    {23, SLOT_OF(SGBigInteger_Print)},
    {24, SLOT_OF(SGBigInteger_PrintAsHex)},
    {25, SLOT_OF(SGBigInteger_ToHex)},
    {26, SLOT_OF(SGBigInteger_isBitSet)},
    {27, SLOT_OF(SGBigInteger_setBit)},
    {28, SLOT_OF(SGBigInteger_clearBit)},
    {29, SLOT_OF(SGBigInteger_leftshift)},
    {30, SLOT_OF(SGBigInteger_rightshift)},
    {31, SLOT_OF(SGBigInteger_isOne)},
    {32, SLOT_OF(SGBigInteger_One)},
    {33, SLOT_OF(SGBigInteger_set_word)},
    {34, SLOT_OF(SGBigInteger_set_negative)},
    {35, SLOT_OF(SGBigInteger_ucmp)},
    {36, SLOT_OF(SGBigInteger_cmp)},
    {37, SLOT_OF(SGBigInteger_random)},
    {38, SLOT_OF(SGBigInteger_randomInRange)},
    {39, SLOT_OF(SGBigInteger_pseudoRandomInRange)},
    {40, SLOT_OF(SGBigInteger_gcd)},
    {41, SLOT_OF(SGBigInteger_mul)},
    {42, SLOT_OF(SGBigInteger_div)},
    {43, SLOT_OF(SGBigInteger_mod)},
    {44, SLOT_OF(SGBigInteger_mod_inverse)},
    {45, SLOT_OF(SGBigInteger_exp)},
    {46, SLOT_OF(SGBigInteger_mod_add)},
    {47, SLOT_OF(SGBigInteger_mod_sub)},
    {48, SLOT_OF(SGBigInteger_mod_exp)},
    {49, SLOT_OF(SGBigInteger_mod_mul)},
    {50, SLOT_OF(SGBigInteger_sqr)},
    {51, SLOT_OF(SGBigInteger_add)},
    {52, SLOT_OF(SGBigInteger_usub)},
    {53, SLOT_OF(SGBigInteger_sub)},
    {54, SLOT_OF(SGBigInteger_mul_word)},
    {55, SLOT_OF(SGBigInteger_add_word)},
    {56, SLOT_OF(SGBigInteger_sub_word)},
    {57, SLOT_OF(SGBigInteger_mod_word)},
    {58, SLOT_OF(SGBigInteger_isPrime)},
    {59, SLOT_OF(SGBigInteger_GeneratePrime)},
    {60, SLOT_OF(SGBigInteger_GetNumberOfBits)},
    {61, SLOT_OF(SGBigInteger_GetNumberOfBytes)},
    {62, SLOT_OF(SGDigestContext_New)},
    {63, SLOT_OF(SGDigestContext_Init)},
    {64, SLOT_OF(SGDigestContext_Duplicate)},
    {65, SLOT_OF(SGDigestContext_Clear)},
    {66, SLOT_OF(SGDigestContext_Free)},
    {67, SLOT_OF(SGDigest_GetBlockSize)},
    {68, SLOT_OF(SGDigest_GetDigestSize)},
    {69, SLOT_OF(SGDigest)},
    {70, SLOT_OF(SGDigest_Init)},
    {71, SLOT_OF(SGDigest_Update)},
    {72, SLOT_OF(SGDigest_Final)},
    {73, SLOT_OF(SGDRBGContext_New)},
    {74, SLOT_OF(SGDRBGContext_Free)},
    {75, SLOT_OF(SGDRBG_Instantiation)},
    {76, SLOT_OF(SGDRBG_GenerateRandom)},
    {77, SLOT_OF(SGDRBG_Reseed)},
    {78, SLOT_OF(SGHMAC_Init)},
    {79, SLOT_OF(SGHMAC_Update)},
    {80, SLOT_OF(SGHMAC_Final)},
    {81, SLOT_OF(SGHMACContext_Clear)},
    {82, SLOT_OF(SGHMAC)},
    {83, SLOT_OF(SGCMAC_GetMACSize)},
    {84, SLOT_OF(SGCMAC_Init)},
    {85, SLOT_OF(SGCMAC_Update)},
    {86, SLOT_OF(SGCMAC_Final)},
    {87, SLOT_OF(SGCMACContext_Clear)},
    {88, SLOT_OF(SGCMAC)},
    {89, SLOT_OF(SGCipher_GetInfo)},
    {90, SLOT_OF(SGCipher_Encrypt_Init)},
    {91, SLOT_OF(SGCipher_Encrypt_Update)},
    {92, SLOT_OF(SGCipher_Encrypt_Final)},
    {93, SLOT_OF(SGCipher_Encrypt)},
    {94, SLOT_OF(SGCipher_Decrypt_Init)},
    {95, SLOT_OF(SGCipher_Decrypt_Update)},
    {96, SLOT_OF(SGCipher_Decrypt_Final)},
    {97, SLOT_OF(SGCipher_Decrypt)},
    {98, SLOT_OF(SGPKCS1_Sign)},
    {99, SLOT_OF(SGPKCS1_Verify)},
    {100, SLOT_OF(SGPKCS1_Encrypt)},
    {101, SLOT_OF(SGPKCS1_Decrypt)},
    {102, SLOT_OF(SGPKCS1_CreateDigestInfo)},
    {103, SLOT_OF(SGPKCS1_DecodeDigestInfo)},
    {104, SLOT_OF(SGRandom_add)},
    {105, SLOT_OF(SGRandom_bytes)},
    {106, SLOT_OF(SGRSAPublicKey_Free)},
    {107, SLOT_OF(SGRSAPublicKey_Encode)},
    {108, SLOT_OF(SGRSAPublicKey_Decode)},
    {109, SLOT_OF(SGRSAPublicKey_GetKeySize)},
    {110, SLOT_OF(SGRSAPublicKey_SetItem)},
    {111, SLOT_OF(SGRSAPublicKey_GetItem)},
    {112, SLOT_OF(SGRSAPrivateKey_Free)},
    {113, SLOT_OF(SGRSAPrivateKey_Encode)},
    {114, SLOT_OF(SGRSAPrivateKey_Decode)},
    {115, SLOT_OF(SGRSAPrivateKey_GetKeySize)},
    {116, SLOT_OF(SGRSAPrivateKey_SetItem)},
    {117, SLOT_OF(SGRSAPrivateKey_GetItem)},
    {118, SLOT_OF(SGRSA_GenerateKeyPair)},
    {119, SLOT_OF(SGDSKey_FromCallback)},
    {120, SLOT_OF(SGDSKey_FromObject)},
    {121, SLOT_OF(SGDSKey_Encode)},
    {122, SLOT_OF(SGDSKey_Decode)},
    {123, SLOT_OF(SGDSKey_GetInfo)},
    {124, SLOT_OF(SGDSKey_Clear)},
    {125, SLOT_OF(SGDS_Sign)},
    {126, SLOT_OF(SGDS_Verify)},
    {127, SLOT_OF(SGECDomainParameters_Decode)},
    {128, SLOT_OF(SGECPublicKey_Decode)},
    {129, SLOT_OF(SGECPrivateKey_Decode)},
    {130, SLOT_OF(SGECDSA_Encode_SignatureValue)},
    {131, SLOT_OF(SGECDSA_Decode_SignatureValue)},
    {132, SLOT_OF(SGECDSA_Sign)},
    {133, SLOT_OF(SGECDSA_Verify)},
    {134, SLOT_OF(SGKCDSA_Sign)},
    {135, SLOT_OF(SGKCDSA_Verify)},
    {136, SLOT_OF(SGKCDSA_GenerateKeyPair)},
    {137, SLOT_OF(SGKCDSA_GenerateParameters)},
    {138, SLOT_OF(SGKCDSA_Encode_SignatureValue)},
    {139, SLOT_OF(SGKCDSA_Decode_SignatureValue)},
    {140, SLOT_OF(SGKCDSAParameter_Encode)},
    {141, SLOT_OF(SGKCDSAParameter_Decode)},
    {142, SLOT_OF(SGKCDSAParameter_SetItem)},
    {143, SLOT_OF(SGKCDSAParameter_Clear)},
    {144, SLOT_OF(SGKCDSAPrivateKey_Encode)},
    {145, SLOT_OF(SGKCDSAPrivateKey_Decode)},
    {146, SLOT_OF(SGKCDSAPrivateKey_GetKeySize)},
    {147, SLOT_OF(SGKCDSAPrivateKey_Free)},
    {148, SLOT_OF(SGKCDSAPublicKey_Encode)},
    {149, SLOT_OF(SGKCDSAPublicKey_Decode)},
    {150, SLOT_OF(SGKCDSAPublicKey_GetKeySize)},
    {151, SLOT_OF(SGKCDSAPublicKey_Free)},
};

}  // namespace

TEST(SGCryptoTableSlots, EverySlotHoldsItsOwnFunction) {
    ASSERT_EQ(std::size(kSlots), static_cast<size_t>(SG_CRYPTO_TABLE_SLOTS - 1));
    void* table[SG_CRYPTO_TABLE_SLOTS];
    std::memset(table, 0, sizeof table);
    ASSERT_EQ(SGCryptoWrapper_GetList(table), 0);
    for (size_t i = 0; i < std::size(kSlots); ++i) {
        ASSERT_EQ(kSlots[i].number, static_cast<int>(i) + 1);
        EXPECT_EQ(table[kSlots[i].number], kSlots[i].function) << "slot " << kSlots[i].number;
    }
    // A stand-in shared by several slots would show up as a repeated pointer.
    std::set<void*> distinct(table + 1, table + SG_CRYPTO_TABLE_SLOTS);
    EXPECT_EQ(distinct.size(), static_cast<size_t>(SG_CRYPTO_TABLE_SLOTS - 1));
}
