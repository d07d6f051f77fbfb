// Fuzz target of the PKCS #12 decoder: the input read as a PFX under the password "pw"; what
// decodes is searched for every certificate with its key, written again and must read back with
// as many safes. A normal test (FuzzPKCS12Test) runs it over data/fuzz_pkcs12; built with clang
// and BRINDLOW_FUZZ it is a libFuzzer executable.
#include <cstdint>
#include <cstdlib>

#include "SGBinary.h"
#include "SGPKCS12.h"
#include "SGServiceTable.h"

extern "C" int SGFuzzPKCS12(const uint8_t* data, size_t size) {
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    if (size > UINT32_MAX) return 0;
    const SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};
    const SGBinary password{reinterpret_cast<unsigned char*>(const_cast<char*>("pw")), 2};
    SGPKCS12PFX pfx{};
    const int r = SGPKCS12PFX_Decode(&pfx, &in, &password);
    if (r != 0 && (pfx.count != 0 || pfx.safes)) abort();  // a failure leaves nothing
    if (r == 0) {
        // The chain is not asked for: it may reach out to a directory.
        for (int index = 0; index <= pfx.count; ++index) {
            SGBinary key{}, certificate{};
            const int found =
                SGPKCS12PFX_GetCertificateAndKey(&key, &certificate, nullptr, &pfx, index);
            SGBinary_Cleanse(&key);
            SGBinary_Reset(&certificate);
            if (found == 10009) break;
        }
        SGBinary der{};
        if (SGPKCS12PFX_Encode(&der, &pfx, &password, nullptr) != 0) abort();
        SGPKCS12PFX again{};
        if (SGPKCS12PFX_Decode(&again, &der, &password) != 0 || again.count != pfx.count) abort();
        SGPKCS12PFX_Clear(&again);
        SGBinary_Reset(&der);
    }
    SGPKCS12PFX_Clear(&pfx);
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzPKCS12(data, size);
}
#endif
