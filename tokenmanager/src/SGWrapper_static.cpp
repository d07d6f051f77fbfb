// The binder: fills the exported tables when the program is loaded.
#include "SGWrapper.h"

#include "SGBaseTable.h"
#include "SGCrypto.h"
#include "SGCryptoTable.h"
#include "SGServiceTable.h"

namespace {

// Base, Crypto, the crypto initialisation once more, Service; results are ignored. After a
// failed self-test the crypto fill writes no slot, so slot 2 is called only when it is filled.
void bindTables() {
    SGBaseWrapper_GetList(Base);
    SGCryptoWrapper_GetList(Crypto);
    if (Crypto[SGCryptoSlot_SGCrypto_Initialize]) SG_CRYPTO_FN(Crypto, SGCrypto_Initialize)();
    SGServiceWrapper_GetList(Service);
}

// One constructor with an explicit priority, so the order does not depend on how the program
// is linked; the libraries' state that the fills touch needs no dynamic initialisation.
__attribute__((constructor(SG_WRAPPER_LOAD_PRIORITY))) void bindAtLoad() {
    bindTables();
}

}  // namespace

extern "C" {

int SGWrapper_Initialize(void) {
    bindTables();
    return 0;
}

int SGWrapper_Finalize(void) {
    return 0;
}

}  // extern "C"
