// Fuzz target of the KISA decoders: the input read as a signature list (its signer, and its
// verification with the input itself as the signer certificate, so that the list is built and
// released on every path) and as a certificate whose VID is checked. A normal test
// (FuzzKISATest) runs it over data/fuzz_kisa; built with clang and BRINDLOW_FUZZ it is a
// libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "SGBinary.h"
#include "SGKISA.h"
#include "SGServiceTable.h"
#include "SGX509Certificate.h"

extern "C" int SGFuzzKISA(const uint8_t* data, size_t size) {
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    if (size > UINT32_MAX) return 0;
    const SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};

    SGBinary issuer{}, serial{};
    if (SGKISASignatureToken_GetSignerInfo(&issuer, &serial, &in) == 0 &&
        (!issuer.data || !serial.data))
        abort();
    SGBinary_Reset(&issuer);
    SGBinary_Reset(&serial);

    SGKISASignatureToken* list = nullptr;
    SGKISASignatureToken_Verify(&list, &in, &in);
    for (const SGKISASignatureToken* node = list; node; node = node->next)
        if (!node->driverName || node->hashValue.length > size) abort();
    SGKISASignatureToken_Free(list);

    SGX509Certificate certificate{};
    if (SGX509Certificate_FromBinary(&certificate, &in) == 0) {
        const unsigned char random[20] = {1, 2, 3};
        const SGBinary r{const_cast<unsigned char*>(random), sizeof random};
        const int result = SGKISAVID_Verify(&certificate, "8001011234567", &r);
        if (result == 0) abort();  // no seed holds a VID of this random
        SGX509Certificate_Clear(&certificate);
    }
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzKISA(data, size);
}
#endif
