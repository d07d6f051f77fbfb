// Internal to the PKI library: its private copies of the Base and Crypto tables, through which
// every call into the lower layers goes, and the seams of the table fill.
#pragma once

#include "SGBaseTable.h"
#include "SGCryptoTable.h"

extern "C" {
// Filled at program load and again by SGServiceWrapper_GetList; the ASN.1 runtime's memory
// hooks use _gbw slots 39, 40, 41 and 43.
extern void* _gbw[SG_BASE_TABLE_SLOTS];
extern void* _gcw[SG_CRYPTO_TABLE_SLOTS];

// Stand-in for the slots of components not built yet: 10010, not implemented.
int SGService_PendingInt(void);
}

// Typed calls through the layer's copies: SG_GBW(SGBinary_Set)(&bin, p, n).
#define SG_GBW(name) SG_BASE_FN(_gbw, name)
#define SG_GCW(name) SG_CRYPTO_FN(_gcw, name)

namespace brindlow::service {

// The fill functions of the two copies and the list of Service slots 1 to 86 that
// SGServiceWrapper_GetList writes. Tests replace them to reach the failure paths.
using TableFill = int (*)(void** table);
extern TableFill gBaseFill;
extern TableFill gCryptoFill;
extern void* const* gServiceSlots;
void* const* builtInServiceSlots();

}  // namespace brindlow::service
