// Fuzz target of SGX509Certificate_FromBinary and of everything read from a certificate: every
// entry as text (at a large and a small buffer, checking that the text stays inside and ends
// with a NUL), as DER and as structure, the algorithm and key functions, the validity, root
// and CA tests, the verification parameters and the DER written back. A normal test
// (FuzzX509CertificateTest) runs it over data/fuzz_x509_certificate; built with clang and
// BRINDLOW_FUZZ it is a libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "SGBinary.h"
#include "SGDSKey.h"
#include "SGServiceTable.h"
#include "SGX509Certificate.h"

namespace {

// Renders one entry into a buffer of the given size with guard bytes on both sides.
void readEntry(const SGX509Certificate* handle, int entryId, int flags, size_t size) {
    constexpr size_t kGuard = 16;
    std::vector<char> bytes(size + 2 * kGuard, 'Z');
    char* buffer = bytes.data() + kGuard;
    SGX509Certificate_GetEntry(handle, buffer, static_cast<unsigned>(size), entryId, flags);
    for (size_t i = 0; i < kGuard; ++i)
        if (bytes[i] != 'Z' || bytes[kGuard + size + i] != 'Z') abort();
    if (!std::memchr(buffer, '\0', size)) abort();
}

}  // namespace

extern "C" int SGFuzzX509Certificate(const uint8_t* data, size_t size) {
    // The key functions reach the crypto layer through the copy this fills.
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    if (size > UINT32_MAX) return 0;
    SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};
    SGX509Certificate handle{};
    if (SGX509Certificate_FromBinary(&handle, &in) != 0) {
        if (handle.certificate) abort();  // a refused certificate leaves the handle empty
        return 0;
    }

    for (int id = 0; id <= 29; ++id) {
        readEntry(&handle, id, 0, 8192);
        readEntry(&handle, id, 0, 17);
        SGBinary der{};
        SGX509Certificate_GetEncodedEntry(&der, &handle, id);
        SGBinary_Reset(&der);
        void* field = nullptr;
        SGX509Certificate_GetASN1CEntry(&field, &handle, id);
    }
    for (int flags : {1, 3}) {
        readEntry(&handle, SG_X509_ENTRY_ISSUER, flags, 8192);
        readEntry(&handle, SG_X509_ENTRY_SUBJECT, flags, 8192);
        readEntry(&handle, SG_X509_ENTRY_CERTIFICATE_POLICIES, flags, 8192);
    }

    int kind = 0, digest = 0, keySize = 0;
    SGBinary keyBits{}, parameters{};
    SGX509Certificate_GetSignatureAlgorithm(&kind, &digest, &parameters, &handle);
    SGX509Certificate_GetPublicKeyInfo(&kind, &keySize, &keyBits, &parameters, &handle);
    const time_t when = 1700000000;
    SGX509Certificate_InTime(&handle, &when, nullptr, 0);
    SGX509Certificate_IsRoot(&handle, nullptr);
    SGX509Certificate_IsCA(&handle, nullptr);
    SGX509Certificate_IsRoot(nullptr, &in);
    SGDSKey key{};
    SGDSParameter parameter{};
    if (SGX509Certificate_ToDSParameters(&key, &parameter, &handle) == 0) SGDSKey_Clear(&key);

    SGBinary der{};
    if (SGX509Certificate_ToBinary(&der, &handle) == 0) {
        SGX509Certificate again{};
        if (SGX509Certificate_FromBinary(&again, &der) == 0) SGX509Certificate_Clear(&again);
    }
    SGBinary_Reset(&der);
    if (SGX509Certificate_Clear(&handle) != 0 || handle.certificate) abort();
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzX509Certificate(data, size);
}
#endif
