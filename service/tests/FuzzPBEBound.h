// Keeps the password-based fuzz targets quick: the iteration count that parameters name (PBES2
// or PBEParameter) is read first, and derivation is left out when it is large. Parameters whose
// count cannot be read are handed on (the library refuses them before deriving anything).
#pragma once

#include <climits>

#include "PBEParameter.h"
#include "PBES2-params.h"
#include "PBKDF2-params.h"
#include "SGASN1C.h"

namespace fuzzpbe {

constexpr long kMaxIterations = 64;

inline bool smallCount(const INTEGER_t& count) {
    long v = 0;
    return asn_INTEGER2long(&count, &v) != 0 || v <= kMaxIterations;
}

// type 3: PBES2-params; other types: PBEParameter.
inline bool cheapToDerive(const SGBinary& parameters, int type) {
    bool cheap = true;
    if (type == 3) {
        void* p = nullptr;
        if (SGASN1CObject_Decode(&p, &asn_DEF_PBES2_params, &parameters) != 0) return true;
        auto* params = static_cast<PBES2_params_t*>(p);
        if (const ANY_t* any = params->keyDerivationFunc.parameters) {
            SGBinary kdfDer{any->buf, static_cast<uint32_t>(any->size > 0 ? any->size : 0)};
            void* k = nullptr;
            if (SGASN1CObject_Decode(&k, &asn_DEF_PBKDF2_params, &kdfDer) == 0) {
                cheap = smallCount(static_cast<PBKDF2_params_t*>(k)->iterationCount);
                SGASN1CObject_Free(k, &asn_DEF_PBKDF2_params);
            }
        }
        SGASN1CObject_Free(params, &asn_DEF_PBES2_params);
    } else {
        void* p = nullptr;
        if (SGASN1CObject_Decode(&p, &asn_DEF_PBEParameter, &parameters) != 0) return true;
        cheap = smallCount(static_cast<PBEParameter_t*>(p)->iterationCount);
        SGASN1CObject_Free(p, &asn_DEF_PBEParameter);
    }
    return cheap;
}

}  // namespace fuzzpbe
