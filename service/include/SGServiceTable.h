/* The exported Service table: 87 slots of 8 bytes. Slot 0 holds the version 2 in its first four
 * bytes; slots 1 to 86 hold the PKI library's entry points in this fixed order, which modules
 * loaded into the process bind to. */
#ifndef SG_SERVICE_TABLE_H
#define SG_SERVICE_TABLE_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

#define SG_SERVICE_TABLE_SLOTS 87
#define SG_SERVICE_TABLE_VERSION 2

extern SG_EXPORT void* Service[SG_SERVICE_TABLE_SLOTS];

/* Fills the layer's own copies of the Base and Crypto tables, then the caller's table of
 * SG_SERVICE_TABLE_SLOTS slots: 10001 for a missing table; the error of the first copy that
 * cannot be filled (no Service slot written); 10028 when a slot stayed empty; 0 otherwise. */
SG_EXPORT int SGServiceWrapper_GetList(void** table);

/* "4.2.1.0". */
const char* SGService_GetVersion(void);
/* "Version : 4.2.1.0, Build Date : <date> <time>". */
const char* SGService_GetBuildInfo(void);
/* The layer's instance handle: null until set; SGService_SetInstance sets it only while null. */
void* SGService_GetInstance(void);
void SGService_SetInstance(void* handle);
/* Fills the layer's copy of the Base table: the result of SGBaseWrapper_GetList. */
int SGService_Initialize(void);

/* Slot numbers, named after the function each slot holds. */
enum SGServiceSlot {
    SGServiceSlot_SGService_GetVersion = 1,
    SGServiceSlot_SGPKCSError_GetReason = 2,
    SGServiceSlot_SGSecureFilter_GetClient = 3,
    SGServiceSlot_SGSecureFilter_GetServer = 4,
    SGServiceSlot_SGX509Certificate_FromBinary = 5,
    SGServiceSlot_SGX509Certificate_ToBinary = 6,
    SGServiceSlot_SGX509Certificate_Clear = 7,
    SGServiceSlot_SGX509Certificate_Free = 8,
    SGServiceSlot_SGX509Certificate_GetEntry = 9,
    SGServiceSlot_SGX509Certificate_GetEncodedEntry = 10,
    SGServiceSlot_SGX509Certificate_GetASN1CEntry = 11,
    SGServiceSlot_SGX509Certificate_GetSignatureAlgorithm = 12,
    SGServiceSlot_SGX509Certificate_GetPublicKeyInfo = 13,
    SGServiceSlot_SGX509Certificate_ParsePublicKeyInfo = 14,
    SGServiceSlot_SGX509Certificate_InTime = 15,
    SGServiceSlot_SGX509Certificate_IsRoot = 16,
    SGServiceSlot_SGX509Certificate_IsCA = 17,
    SGServiceSlot_SGX509Certificate_ConvertAlgorithmIdentifier = 18,
    SGServiceSlot_SGX509Certificate_ToDSParameters = 19,
    SGServiceSlot_SGX509Certificate_Generate = 20,
    SGServiceSlot_SGPEM_Encode = 21,
    SGServiceSlot_SGPEM_Decode = 22,
    SGServiceSlot_SGCertificateSet_SetOption = 23,
    SGServiceSlot_SGCertificateSet_Add = 24,
    SGServiceSlot_SGCertificateSet_AddSet = 25,
    SGServiceSlot_SGCertificateSet_Remove = 26,
    SGServiceSlot_SGCertificateSet_Copy = 27,
    SGServiceSlot_SGCertificateSet_Clear = 28,
    SGServiceSlot_SGCertificateSet_Count = 29,
    SGServiceSlot_SGCertificateStorage_Clear = 30,
    SGServiceSlot_SGCertificateStorage_AddCertificate = 31,
    SGServiceSlot_SGCertificateStorage_Remove = 32,
    SGServiceSlot_SGCertificateStorage_CreateByPath = 33,
    SGServiceSlot_SGCertificateStorage_FindIssuer = 34,
    SGServiceSlot_SGCertificateStorage_GenerateCertificateChain = 35,
    SGServiceSlot_SGCertificateStorage_SetTrust = 36,
    SGServiceSlot_SGCertificateStorage_Find = 37,
    SGServiceSlot_SGCMPResult_Reset = 38,
    SGServiceSlot_SGCMP_Issue = 39,
    SGServiceSlot_SGCMP_Update = 40,
    SGServiceSlot_SGCMP_Revoke = 41,
    SGServiceSlot_SGCMP_Recover = 42,
    SGServiceSlot_SGPKCS8PrivateKeyInfo_Encode = 43,
    SGServiceSlot_SGPKCS8PrivateKeyInfo_Decode = 44,
    SGServiceSlot_SGPKCS8PrivateKeyInfo_Cleanse = 45,
    SGServiceSlot_SGPKCS8EncryptedPrivateKeyInfo_Encode = 46,
    SGServiceSlot_SGPKCS8EncryptedPrivateKeyInfo_Decode = 47,
    SGServiceSlot_SGPKCS8EncryptedPrivateKeyInfo_Cleanse = 48,
    SGServiceSlot_SGPKCS5Encrypt = 49,
    SGServiceSlot_SGPKCS5Decrypt = 50,
    SGServiceSlot_SGPKCS5_GetPKCS12PBEParam = 51,
    SGServiceSlot_SGPKCS5_SetPKCS12PBESParam = 52,
    SGServiceSlot_SGPKCS7SignedData_Sign = 53,
    SGServiceSlot_SGPKCS7SignedData_Verify = 54,
    SGServiceSlot_SGPKCS7SignedDataElements_Set = 55,
    SGServiceSlot_SGPKCS7SignedDataElements_Get = 56,
    SGServiceSlot_SGPKCS7SignedDataElements_Reset = 57,
    SGServiceSlot_SGPKCS7EnvelopedData_Envelope = 58,
    SGServiceSlot_SGPKCS7EnvelopedData_EnvelopeStream = 59,
    SGServiceSlot_SGPKCS7EnvelopedData_Deenvelope = 60,
    SGServiceSlot_SGPKCS7EnvelopedData_DeenvelopeStream = 61,
    SGServiceSlot_SGPKCS7EnvelopedDataParameters_Reset = 62,
    SGServiceSlot_SGPKCS7EncryptedData_Encrypt = 63,
    SGServiceSlot_SGPKCS7EncryptedData_Decrypt = 64,
    SGServiceSlot_SGPKCS12PFX_AddCertificate = 65,
    SGServiceSlot_SGPKCS12PFX_AddKey = 66,
    SGServiceSlot_SGPKCS12PFX_AddPKCS8ShroudedKey = 67,
    SGServiceSlot_SGPKCS12PFX_Encode = 68,
    SGServiceSlot_SGPKCS12PFX_Decode = 69,
    SGServiceSlot_SGPKCS12PFX_Clear = 70,
    SGServiceSlot_SGPKCS12PFX_GetCertificateAndKey = 71,
    SGServiceSlot_SGPKCS12PFX_AddCertificateAndKey = 72,
    SGServiceSlot_SGKISAHashContent_Encode = 73,
    SGServiceSlot_SGKISAVID_Verify = 74,
    SGServiceSlot_SGKISASignatureToken_GetSignerInfo = 75,
    SGServiceSlot_SGKISASignatureToken_Verify = 76,
    SGServiceSlot_SGKISASignatureToken_Free = 77,
    SGServiceSlot_SGLDAP_SetTimeout = 78,
    SGServiceSlot_SGLDAP_Connect = 79,
    SGServiceSlot_SGLDAP_Disconnect = 80,
    SGServiceSlot_SGLDAP_ReadCACertificate = 81,
    SGServiceSlot_SGLDAP_ReadCRL = 82,
    SGServiceSlot_SGLDAP_ReadEntry = 83,
    SGServiceSlot_SGCRL_CheckCertificate = 84,
    SGServiceSlot_SGCRL_Check = 85,
    SGServiceSlot_SGCertificateValidator_ValidateFullPath = 86,
};

SG_EXTERN_C_END

#ifdef __cplusplus
/* Typed call through a table slot: SG_SERVICE_FN(table, SGPKCSError_GetReason)(10001). The
 * function must be declared (its component header included) for its type. */
#define SG_SERVICE_FN(table, name) \
    (reinterpret_cast<decltype(&name)>((table)[SGServiceSlot_##name]))
#endif

#endif
