// Fuzz target of the revocation-list readers: SGCRL_Check with serial numbers of several shapes
// (the answer must be a status or an error that leaves "not revoked"), the list's times as
// validation reads them and the signed part as signature checks take it. A normal test
// (FuzzCRLTest) runs it over data/fuzz_crl; built with clang and BRINDLOW_FUZZ it is a
// libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "CertificateList.h"
#include "SGBinary.h"
#include "SGCRL.h"
#include "SGServiceTable.h"
#include "SGValidationSupport.h"
#include "SGX509Text.h"

extern "C" int SGFuzzCRL(const uint8_t* data, size_t size) {
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    if (size > UINT32_MAX) return 0;
    SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};
    static const uint8_t serials[][20] = {
        {0x01}, {0x0F}, {0xFF}, {0x00, 0xFF}, {0x7F, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                               0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
                                               0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13}};
    static const uint32_t lengths[] = {1, 1, 1, 2, 20};
    for (size_t i = 0; i < std::size(lengths); ++i) {
        SGBinary serial{const_cast<uint8_t*>(serials[i]), lengths[i]};
        SGCRLStatus status{0, 0};
        const int result = SGCRL_Check(&status, &in, &serial);
        if (result != 0 && status.reason != SG_CRL_NOT_REVOKED) abort();
        if (status.reason == SG_CRL_NOT_REVOKED && status.date != 0) abort();
    }

    using namespace brindlow::service;
    const uint8_t* part = nullptr;
    size_t partLength = 0;
    if (signedPart(&part, &partLength, data, size) &&
        (part < data || part + partLength > data + size))
        abort();
    Decoded<CertificateList_t> list(&asn_DEF_CertificateList);
    if (list.decode(data, static_cast<int>(size)) == 0) {
        time_t t = 0;
        timeSeconds(&t, &list->tbsCertList.thisUpdate);
        if (list->tbsCertList.nextUpdate) timeSeconds(&t, list->tbsCertList.nextUpdate);
    }
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzCRL(data, size);
}
#endif
