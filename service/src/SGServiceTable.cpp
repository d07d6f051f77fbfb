#include "SGServiceTable.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGCMP.h"
#include "SGCRL.h"
#include "SGCertificateSet.h"
#include "SGCertificateStorage.h"
#include "SGCertificateValidator.h"
#include "SGKISA.h"
#include "SGLDAP.h"
#include "SGPEM.h"
#include "SGPKCS12.h"
#include "SGPKCS5.h"
#include "SGPKCS7EnvelopedData.h"
#include "SGPKCS7SignedData.h"
#include "SGPKCS8.h"
#include "SGPKCSError.h"
#include "SGSecureFilter.h"
#include "SGServiceInternal.h"
#include "SGX509Certificate.h"

extern "C" SG_EXPORT void* Service[SG_SERVICE_TABLE_SLOTS];
void* Service[SG_SERVICE_TABLE_SLOTS];

void* _gbw[SG_BASE_TABLE_SLOTS];
void* _gcw[SG_CRYPTO_TABLE_SLOTS];

namespace {

#define SLOT(name) reinterpret_cast<void*>(&name)
// Components not built yet answer 10010.
#define PENDING(name) reinterpret_cast<void*>(&SGService_PendingInt)

// Slots 1 to 86 in their fixed order.
void* const kSlots[SG_SERVICE_TABLE_SLOTS - 1] = {
    SLOT(SGService_GetVersion),                           // 1
    SLOT(SGPKCSError_GetReason),                          // 2
    SLOT(SGSecureFilter_GetClient),                       // 3
    SLOT(SGSecureFilter_GetServer),                       // 4
    SLOT(SGX509Certificate_FromBinary),                   // 5
    SLOT(SGX509Certificate_ToBinary),                     // 6
    SLOT(SGX509Certificate_Clear),                        // 7
    SLOT(SGX509Certificate_Free),                         // 8
    SLOT(SGX509Certificate_GetEntry),                     // 9
    SLOT(SGX509Certificate_GetEncodedEntry),              // 10
    SLOT(SGX509Certificate_GetASN1CEntry),                // 11
    SLOT(SGX509Certificate_GetSignatureAlgorithm),        // 12
    SLOT(SGX509Certificate_GetPublicKeyInfo),             // 13
    SLOT(SGX509Certificate_ParsePublicKeyInfo),           // 14
    SLOT(SGX509Certificate_InTime),                       // 15
    SLOT(SGX509Certificate_IsRoot),                       // 16
    SLOT(SGX509Certificate_IsCA),                         // 17
    SLOT(SGX509Certificate_ConvertAlgorithmIdentifier),   // 18
    SLOT(SGX509Certificate_ToDSParameters),               // 19
    SLOT(SGX509Certificate_Generate),                     // 20
    SLOT(SGPEM_Encode),                                   // 21
    SLOT(SGPEM_Decode),                                   // 22
    SLOT(SGCertificateSet_SetOption),                     // 23
    SLOT(SGCertificateSet_Add),                           // 24
    SLOT(SGCertificateSet_AddSet),                        // 25
    PENDING(SGCertificateSet_Remove),                     // 26
    SLOT(SGCertificateSet_Copy),                          // 27
    SLOT(SGCertificateSet_Clear),                         // 28
    SLOT(SGCertificateSet_Count),                         // 29
    SLOT(SGCertificateStorage_Clear),                     // 30
    SLOT(SGCertificateStorage_AddCertificate),            // 31
    SLOT(SGCertificateStorage_Remove),                    // 32
    SLOT(SGCertificateStorage_CreateByPath),              // 33
    SLOT(SGCertificateStorage_FindIssuer),                // 34
    SLOT(SGCertificateStorage_GenerateCertificateChain),  // 35
    SLOT(SGCertificateStorage_SetTrust),                  // 36
    SLOT(SGCertificateStorage_Find),                      // 37
    SLOT(SGCMPResult_Reset),                              // 38
    SLOT(SGCMP_Issue),                                    // 39
    SLOT(SGCMP_Update),                                   // 40
    SLOT(SGCMP_Revoke),                                   // 41
    SLOT(SGCMP_Recover),                                  // 42
    SLOT(SGPKCS8PrivateKeyInfo_Encode),                   // 43
    SLOT(SGPKCS8PrivateKeyInfo_Decode),                   // 44
    SLOT(SGPKCS8PrivateKeyInfo_Cleanse),                  // 45
    SLOT(SGPKCS8EncryptedPrivateKeyInfo_Encode),          // 46
    SLOT(SGPKCS8EncryptedPrivateKeyInfo_Decode),          // 47
    SLOT(SGPKCS8EncryptedPrivateKeyInfo_Cleanse),         // 48
    SLOT(SGPKCS5Encrypt),                                 // 49
    SLOT(SGPKCS5Decrypt),                                 // 50
    SLOT(SGPKCS5_GetPKCS12PBEParam),                      // 51
    SLOT(SGPKCS5_SetPKCS12PBESParam),                     // 52
    SLOT(SGPKCS7SignedData_Sign),                         // 53
    SLOT(SGPKCS7SignedData_Verify),                       // 54
    SLOT(SGPKCS7SignedDataElements_Set),                  // 55
    SLOT(SGPKCS7SignedDataElements_Get),                  // 56
    SLOT(SGPKCS7SignedDataElements_Reset),                // 57
    SLOT(SGPKCS7EnvelopedData_Envelope),                  // 58
    SLOT(SGPKCS7EnvelopedData_EnvelopeStream),            // 59
    SLOT(SGPKCS7EnvelopedData_Deenvelope),                // 60
    SLOT(SGPKCS7EnvelopedData_DeenvelopeStream),          // 61
    SLOT(SGPKCS7EnvelopedDataParameters_Reset),           // 62
    SLOT(SGPKCS7EncryptedData_Encrypt),                   // 63
    SLOT(SGPKCS7EncryptedData_Decrypt),                   // 64
    SLOT(SGPKCS12PFX_AddCertificate),                     // 65
    SLOT(SGPKCS12PFX_AddKey),                             // 66
    SLOT(SGPKCS12PFX_AddPKCS8ShroudedKey),                // 67
    SLOT(SGPKCS12PFX_Encode),                             // 68
    SLOT(SGPKCS12PFX_Decode),                             // 69
    SLOT(SGPKCS12PFX_Clear),                              // 70
    SLOT(SGPKCS12PFX_GetCertificateAndKey),               // 71
    SLOT(SGPKCS12PFX_AddCertificateAndKey),               // 72
    SLOT(SGKISAHashContent_Encode),                       // 73
    SLOT(SGKISAVID_Verify),                               // 74
    SLOT(SGKISASignatureToken_GetSignerInfo),             // 75
    SLOT(SGKISASignatureToken_Verify),                    // 76
    SLOT(SGKISASignatureToken_Free),                      // 77
    SLOT(SGLDAP_SetTimeout),                              // 78
    SLOT(SGLDAP_Connect),                                 // 79
    SLOT(SGLDAP_Disconnect),                              // 80
    SLOT(SGLDAP_ReadCACertificate),                       // 81
    SLOT(SGLDAP_ReadCRL),                                 // 82
    SLOT(SGLDAP_ReadEntry),                               // 83
    SLOT(SGCRL_CheckCertificate),                         // 84
    SLOT(SGCRL_Check),                                    // 85
    SLOT(SGCertificateValidator_ValidateFullPath),        // 86
};

char gBuildInfo[1024];
std::atomic<void*> gHinst{nullptr};

// The layer's load-time routine: the ASN.1 runtime allocates through _gbw, so the copy is
// filled before anything can build or decode a value. The result is ignored here; the fill
// of the Service table fills it again and reports.
void start() {
    brindlow::service::gBaseFill(_gbw);
    SGASN1C_Prepare();
}

// The layer's exit routine.
void done() {
    SGASNObjectID_Free();
}

struct LayerLifetime {
    LayerLifetime() { start(); }
    ~LayerLifetime() { done(); }
} gLayerLifetime;

}  // namespace

namespace brindlow::service {

TableFill gBaseFill = SGBaseWrapper_GetList;
TableFill gCryptoFill = SGCryptoWrapper_GetList;
void* const* gServiceSlots = kSlots;

void* const* builtInServiceSlots() {
    return kSlots;
}

}  // namespace brindlow::service

extern "C" {

int SGService_PendingInt(void) {
    return SG_PKI_ERR_NOT_IMPLEMENTED;
}

int SGServiceWrapper_GetList(void** table) {
    using namespace brindlow::service;
    if (!table) return SG_PKI_ERR_ARGUMENT;
    if (int error = gBaseFill(_gbw)) return error;
    if (int error = gCryptoFill(_gcw)) return error;
    table[0] = nullptr;
    const int32_t version = SG_SERVICE_TABLE_VERSION;
    std::memcpy(&table[0], &version, sizeof version);
    for (int i = 1; i < SG_SERVICE_TABLE_SLOTS; ++i) table[i] = gServiceSlots[i - 1];
    for (int i = 1; i < SG_SERVICE_TABLE_SLOTS; ++i) {
        if (!table[i]) {
            // A half-filled table would let a module bind to an empty slot.
            std::memset(table, 0, SG_SERVICE_TABLE_SLOTS * sizeof(void*));
            return SG_PKI_ERR_EMPTY_SLOT;
        }
    }
    return 0;
}

const char* SGService_GetVersion(void) {
    return "4.2.1.0";
}

const char* SGService_GetBuildInfo(void) {
    // Formatted once; concurrent first callers wait for the one that formats.
    static const char* const text = [] {
        std::snprintf(gBuildInfo, sizeof gBuildInfo, "Version : %s, Build Date : %s %s",
                      SGService_GetVersion(), __DATE__, __TIME__);
        return gBuildInfo;
    }();
    return text;
}

void* SGService_GetInstance(void) {
    return gHinst.load();
}

void SGService_SetInstance(void* handle) {
    void* expected = nullptr;
    gHinst.compare_exchange_strong(expected, handle);
}

int SGService_Initialize(void) {
    return SGBaseWrapper_GetList(_gbw);
}

}  // extern "C"
