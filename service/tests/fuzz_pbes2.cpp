// Fuzz target of the PBES2 parameter decoder: the input read as PBES2-params and, when its
// iteration count is small, turned into a key (whose length must be the scheme's), then used to
// decrypt a fixed ciphertext into a guarded buffer; parameters the library could write are
// written again and must give the same key. A normal test (FuzzPKCS8Test) runs it over
// data/fuzz_pbes2; built with clang and BRINDLOW_FUZZ it is a libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzPBEBound.h"
#include "SGBinary.h"
#include "SGCipher.h"
#include "SGDigest.h"
#include "SGPKCS5.h"
#include "SGPKCS8.h"
#include "SGServiceTable.h"

namespace {

const unsigned char kPassword[] = {'p', 'w'};

bool isZero(const SGPKCS5PBESParam& p) {
    const SGPKCS5PBESParam zero{};
    return std::memcmp(&p, &zero, sizeof p) == 0;
}

int keyLengthOf(int cipherId) {
    switch (cipherId) {
        case SG_CIPHER_AES192:
            return 24;
        case SG_CIPHER_AES256:
            return 32;
        default:
            return 16;
    }
}

// Parameters the library writes itself (SHA-1, 16-byte keys) are written again and read back.
void writeAgain(const SGPKCS5PBESParam& p) {
    if (p.digestId != SG_DIGEST_SHA1 || p.key.length != 16 || p.cipherId == SG_CIPHER_AES192 ||
        p.cipherId == SG_CIPHER_AES256)
        return;
    unsigned n = 0;
    if (SGPKCS5_SetPBES2PARAM(nullptr, &n, 16, &p.salt, &p.iv, p.iterations, p.cipherId) != 0)
        abort();
    std::vector<unsigned char> der(n);
    if (SGPKCS5_SetPBES2PARAM(der.data(), &n, 16, &p.salt, &p.iv, p.iterations, p.cipherId) != 0)
        abort();
    const SGBinary in{der.data(), n};
    SGPKCS5PBESParam again{};
    if (SGPKCS5_GetPBES2Param(&again, kPassword, 2, &in) != 0) abort();
    if (again.key.length != p.key.length ||
        std::memcmp(again.key.data, p.key.data, p.key.length) != 0 ||
        std::memcmp(again.iv.data, p.iv.data, p.iv.length) != 0)
        abort();
    SGPKCS5PBESParam_Clear(&again);
}

}  // namespace

extern "C" int SGFuzzPBES2(const uint8_t* data, size_t size) {
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    if (size > UINT32_MAX) return 0;
    SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};
    if (!fuzzpbe::cheapToDerive(in, SG_PBE_PBES2)) return 0;

    SGPKCS5PBESParam p{};
    if (SGPKCS5_GetPBES2Param(&p, kPassword, 2, &in) == 0) {
        if (p.pbeType != SG_PBE_PBES2 || p.iv.length != 16 || p.iterations < 1 ||
            static_cast<int>(p.key.length) != keyLengthOf(p.cipherId) ||
            p.mode != SG_CIPHER_MODE_CBC || p.padding != SG_CIPHER_PADDING_PKCS7)
            abort();
        writeAgain(p);
    } else if (!isZero(p)) {
        abort();  // a refusal leaves the record as it was
    }
    SGPKCS5PBESParam_Clear(&p);

    unsigned char ciphertext[48];
    for (int i = 0; i < 48; ++i) ciphertext[i] = static_cast<unsigned char>(i * 37);
    const SGPKCS8EncryptedPrivateKeyInfo info{SG_PBE_PBES2, &in, {ciphertext, sizeof ciphertext}};
    std::vector<unsigned char> out(48 + 16, 0xA5);
    int length = -1;
    const int r = SGPKCS5Decrypt(out.data(), &length, &info, kPassword, 2);
    if (r == 0 && (length < 0 || length > 48)) abort();
    if (r != 0 && length != -1) abort();
    for (size_t i = 48; i < out.size(); ++i)
        if (out[i] != 0xA5) abort();
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzPBES2(data, size);
}
#endif
