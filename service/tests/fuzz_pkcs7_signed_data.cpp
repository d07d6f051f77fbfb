// Fuzz target of the SignedData verifier: SGPKCS7SignedData_Verify over the input as a ContentInfo
// and as a bare SignedData, in each content mode, with and without detached content (the text
// the seeds sign) and with subject-named signers, checking that a failure leaves the caller's
// content buffer, signer set and time as they were and that a success fills them; the signer
// count; the elements read, replaced, and read again from what was written. A normal test
// (FuzzPKCS7SignedDataTest) runs it over data/fuzz_pkcs7_signed_data; built with clang and
// BRINDLOW_FUZZ it is a libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "SGBinary.h"
#include "SGCertificateSet.h"
#include "SGPKCS7SignedData.h"
#include "SGServiceTable.h"

namespace {

const char kDetachedContent[] = "Brindlow SignedData fuzz seed\n";

unsigned countOf(const SGCertificateSet* set) {
    unsigned n = 0;
    SGCertificateSet_Count(&n, set);
    return set->type ? n : 0;
}

void verifyOnce(const SGBinary* in, int flags, int mode, bool detached) {
    static unsigned char sentinel[] = {'k', 'e', 'p', 't'};
    SGBinary content{};
    SGBinary_Set(&content, sentinel, sizeof sentinel);
    SGCertificateSet signers{};
    const time_t unset = 42;
    time_t when = unset;
    SGPKCS7SignedDataParameters options{};
    options.flags = flags;
    options.contentMode = mode;
    options.signingTime = &when;
    SGBinary given{reinterpret_cast<unsigned char*>(const_cast<char*>(kDetachedContent)),
                   sizeof kDetachedContent - 1};
    const int r =
        SGPKCS7SignedData_Verify(&content, &signers, in, detached ? &given : nullptr, &options);
    if (r != 0) {
        // Nothing reaches the caller on failure.
        if (content.length != sizeof sentinel ||
            std::memcmp(content.data, sentinel, sizeof sentinel) != 0 || signers.type != 0 ||
            when != unset)
            abort();
    } else if (countOf(&signers) == 0) {
        abort();  // success names its signers
    }
    SGBinary_Reset(&content);
    SGCertificateSet_Clear(&signers);
}

}  // namespace

extern "C" int SGFuzzPKCS7SignedData(const uint8_t* data, size_t size) {
    // The verifier reaches the crypto layer through the copy this fills.
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    if (size == 0 || size > UINT32_MAX) return 0;
    SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};

    for (int flags :
         {0, static_cast<int>(SG_PKCS7_BARE), static_cast<int>(SG_PKCS7_SIGNER_BY_SUBJECT)})
        verifyOnce(&in, flags, SG_PKCS7_MODE_MESSAGE, true);
    verifyOnce(&in, 0, SG_PKCS7_MODE_MESSAGE, false);
    verifyOnce(&in, 0, SG_PKCS7_MODE_DIGEST_INFO, true);
    verifyOnce(&in, 0, SG_PKCS7_MODE_HASH, true);

    int count = -1;
    const int counted = SGPKCS7SignedData_GetSignerCount(&count, &in, 0);
    if (counted == 0 && count < 0) abort();

    // Elements: what Set writes is a SignedData of as many signers holding the new content.
    SGBinary got{}, written{}, again{};
    SGPKCS7SignedDataElements_Get(&got, &in, 1);
    SGPKCS7SignedDataElements_Reset(&got);
    const unsigned char replacement[] = {1, 2, 3};
    SGBinary content{const_cast<unsigned char*>(replacement), sizeof replacement};
    if (SGPKCS7SignedDataElements_Set(&written, &in, &content, 1) == 0) {
        int writtenCount = -1;
        const bool wrapped = counted == 0;
        if (SGPKCS7SignedData_GetSignerCount(&writtenCount, &written,
                                             wrapped ? 0 : SG_PKCS7_BARE) != 0 ||
            (wrapped && writtenCount != count))
            abort();
        if (SGPKCS7SignedDataElements_Get(&again, &written, 1) != 0 ||
            again.length != sizeof replacement ||
            std::memcmp(again.data, replacement, sizeof replacement) != 0)
            abort();
    }
    SGPKCS7SignedDataElements_Reset(&again);
    SGPKCS7SignedDataElements_Reset(&written);
    // Unchanged: the same bytes.
    if (SGPKCS7SignedDataElements_Set(&written, &in, nullptr, 0) == 0) {
        SGPKCS7Element element;
        if (SGPKCS7Element_Read(&element, data, size) != 0 || written.length != element.length ||
            std::memcmp(written.data, data, element.length) != 0)
            abort();
    }
    SGPKCS7SignedDataElements_Reset(&written);
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzPKCS7SignedData(data, size);
}
#endif
