// Fuzz target of the PKCS #8 decoders: the input read as PrivateKeyInfo and as
// EncryptedPrivateKeyInfo; what decodes is written again and must read back alike, and an
// encrypted key with a small iteration count is decrypted into a guarded buffer. A normal test
// (FuzzPKCS8Test) runs it over data/fuzz_pkcs8; built with clang and BRINDLOW_FUZZ it is a
// libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzPBEBound.h"
#include "SGBinary.h"
#include "SGPKCS5.h"
#include "SGPKCS8.h"
#include "SGServiceTable.h"

namespace {

bool same(const SGBinary& a, const SGBinary& b) {
    return a.length == b.length && (a.length == 0 || std::memcmp(a.data, b.data, a.length) == 0);
}
bool same(const SGBinary* a, const SGBinary* b) {
    return (!a && !b) || (a && b && same(*a, *b));
}

void privateKeyInfo(const SGBinary& in) {
    SGPKCS8PrivateKeyInfo info{};
    if (SGPKCS8PrivateKeyInfo_Decode(&info, &in) == 0) {
        SGBinary der{};
        if (SGPKCS8PrivateKeyInfo_Encode(&der, &info) != 0) abort();
        SGPKCS8PrivateKeyInfo again{};
        if (SGPKCS8PrivateKeyInfo_Decode(&again, &der) != 0) abort();
        if (again.version != info.version || again.algorithm != info.algorithm ||
            !same(again.privateKey, info.privateKey) || !same(again.parameters, info.parameters) ||
            !same(again.randomNum, info.randomNum))
            abort();
        SGPKCS8PrivateKeyInfo_Cleanse(&again);
        SGBinary_Cleanse(&der);
    }
    SGPKCS8PrivateKeyInfo_Cleanse(&info);
}

void encryptedPrivateKeyInfo(const SGBinary& in) {
    SGPKCS8EncryptedPrivateKeyInfo info{};
    if (SGPKCS8EncryptedPrivateKeyInfo_Decode(&info, &in) == 0) {
        SGBinary der{};
        if (SGPKCS8EncryptedPrivateKeyInfo_Encode(&der, &info) != 0) abort();
        SGPKCS8EncryptedPrivateKeyInfo again{};
        if (SGPKCS8EncryptedPrivateKeyInfo_Decode(&again, &der) != 0) abort();
        const bool emptyParameters = !info.parameters || info.parameters->length == 0;
        if (again.algorithm != info.algorithm || !same(again.encryptedData, info.encryptedData) ||
            (emptyParameters ? again.parameters != nullptr
                             : !same(again.parameters, info.parameters)))
            abort();
        SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&again);
        SGBinary_Reset(&der);

        if (info.parameters && fuzzpbe::cheapToDerive(*info.parameters, info.algorithm)) {
            constexpr size_t kGuard = 16;
            const size_t n = info.encryptedData.length;
            std::vector<unsigned char> out(n + kGuard, 0xA5);
            int length = -1;
            const int r = SGPKCS5Decrypt(out.data(), &length, &info,
                                         reinterpret_cast<const unsigned char*>("pw"), 2);
            if (r == 0 && (length < 0 || static_cast<size_t>(length) > n)) abort();
            if (r != 0 && length != -1) abort();
            for (size_t i = n; i < out.size(); ++i)
                if (out[i] != 0xA5) abort();
        }
    }
    SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&info);
}

}  // namespace

extern "C" int SGFuzzPKCS8(const uint8_t* data, size_t size) {
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    if (size > UINT32_MAX) return 0;
    const SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};
    privateKeyInfo(in);
    encryptedPrivateKeyInfo(in);
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzPKCS8(data, size);
}
#endif
