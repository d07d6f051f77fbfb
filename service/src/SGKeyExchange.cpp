#include "SGKeyExchange.h"

#include "SGMemory.h"
#include "SGServiceInternal.h"

extern "C" {

int SGKeyExchange_Init(PaskKeyContext** holder, int role, int, int) {
    if (!holder) return PASKKEY_ERR_ARGUMENT;
    if (*holder) SGKeyExchange_Final(holder);
    auto* context =
        static_cast<PaskKeyContext*>(SG_GBW(SGMemory_calloc)(1, sizeof(PaskKeyContext)));
    if (!context) return PASKKEY_ERR_MEMORY;
    PaskKey_Init(context, role == PASKKEY_ROLE_SERVER, PASKKEY_DEFAULT_CIPHER,
                 PASKKEY_DEFAULT_DIGEST);
    *holder = context;
    return 0;
}

int SGKeyExchange_HasMoreOperation(PaskKeyContext** holder) {
    if (!holder || !*holder) return PASKKEY_ERR_ARGUMENT;
    return PaskKey_HasMoreOperation(*holder) ? 1 : 0;
}

int SGKeyExchange_NextOperation(PaskKeyContext** holder, SGBinaryList* outputs,
                                const PaskKeyInput* inputs) {
    if (!holder || !*holder) return PASKKEY_ERR_ARGUMENT;
    return PaskKey_NextOperation(*holder, outputs, inputs);
}

int SGKeyExchange_Encrypt(PaskKeyContext** holder, SGBinary* record, const SGBinary* plaintext) {
    if (!holder || !*holder) return PASKKEY_ERR_ARGUMENT;
    return PaskKey_Encrypt(*holder, record, plaintext);
}

int SGKeyExchange_Decrypt(PaskKeyContext** holder, SGBinary* plaintext, const SGBinary* record) {
    if (!holder || !*holder) return PASKKEY_ERR_ARGUMENT;
    return PaskKey_Decrypt(*holder, plaintext, record);
}

int SGKeyExchange_Final(PaskKeyContext** holder) {
    if (!holder) return PASKKEY_ERR_ARGUMENT;
    if (PaskKeyContext* context = *holder) {
        PaskKeyContext_Final(context);
        SG_GBW(SGMemory_free)(context);
    }
    SG_GBW(SGMemory_cleanse)(holder, sizeof *holder);
    *holder = nullptr;
    return 0;
}

}  // extern "C"
