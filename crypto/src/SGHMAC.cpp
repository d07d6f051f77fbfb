#include "SGHMAC.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "SGCryptoInternal.h"

static_assert(sizeof(SGHMACContext) == 12608);
static_assert(offsetof(SGHMACContext, inner) == 264);
static_assert(offsetof(SGHMACContext, marker) == 12608 - 4104);

namespace {

using namespace brindlow::crypto;

constexpr int kMaxBlock = 128, kMaxDigest = 64;

// Module slots of the HMAC hand-over.
using ModuleInit = int (*)(void* area, int digestId, const unsigned char* key, uint32_t keyLength);
using ModuleUpdate = int (*)(void* area, const unsigned char* data, uint32_t length);
using ModuleFinal = int (*)(void* area, unsigned char* mac, uint32_t* macLength);
using ModuleClear = int (*)(SGHMACContext* context);
enum { kModuleInit = 35, kModuleUpdate = 36, kModuleFinal = 37, kModuleClear = 38 };

void* const* moduleFor(const SGHMACContext* c) {
    void* const* m = moduleTable();
    return m && !SGCrypto_Structure_IsLegacy(&c->marker) ? m : nullptr;
}

// Zeroes what the library's own code reads of a record: everything but the module areas, which
// only a module writes.
void zeroRecord(SGHMACContext* c) {
    std::memset(c, 0, offsetof(SGHMACContext, inner));
    for (SGDigestContext* d : {&c->inner, &c->outer})
        std::memset(d, 0, offsetof(SGDigestContext, marker) + 8);
    std::memset(&c->marker, 0, 8);
}

}  // namespace

extern "C" {

int SGHMAC_Init(SGHMACContext* context, int digestId, const unsigned char* key,
                uint32_t keyLength) {
    if (!context || !key) return SG_HMAC_ERR_ARGUMENT;
    const int digestSize = SGDigest_GetDigestSize(digestId);
    void* const* m = moduleTable();
    if (m && digestId >= SG_DIGEST_SHA224 && digestId <= SG_DIGEST_SHA512 &&
        keyLength >= static_cast<uint32_t>(digestSize) / 2) {
        std::memset(context, 0, sizeof *context);
        SGCrypto_Structure_Init(context, SG_STRUCTURE_HMAC_CONTEXT);
        return reinterpret_cast<ModuleInit>(m[kModuleInit])(context->marker.moduleArea, digestId,
                                                            key, keyLength);
    }
    zeroRecord(context);
    const int blockSize = SGDigest_GetBlockSize(digestId);
    if (blockSize == SG_DIGEST_ERR_ALGORITHM) return SG_HMAC_ERR_ALGORITHM;
    context->blockSize = blockSize;
    context->digestSize = digestSize;

    // The prepared key: as it is, its digest when longer than a block, zero-filled to the block.
    unsigned char prepared[kMaxBlock] = {};
    int result = 0;
    if (keyLength > static_cast<uint32_t>(blockSize))
        result = _SGDigest(prepared, digestId, key, keyLength);
    else if (keyLength > 0)
        std::memcpy(prepared, key, keyLength);
    for (int i = 0; i < kMaxBlock; ++i) {
        context->innerPad[i] = static_cast<unsigned char>(prepared[i] ^ 0x36);
        context->outerPad[i] = static_cast<unsigned char>(prepared[i] ^ 0x5C);
    }
    SGCrypto_cleanse(prepared, sizeof prepared);
    const uint32_t b = static_cast<uint32_t>(blockSize);
    if (result == 0) result = _SGDigestContext_Init(&context->inner, digestId);
    if (result == 0) result = _SGDigestContext_Init(&context->outer, digestId);
    if (result == 0) result = _SGDigest_Init(&context->inner);
    if (result == 0) result = _SGDigest_Init(&context->outer);
    if (result == 0) result = _SGDigest_Update(&context->inner, context->innerPad, b);
    if (result == 0) result = _SGDigest_Update(&context->outer, context->outerPad, b);
    return result;
}

int SGHMAC_Update(SGHMACContext* context, const unsigned char* data, uint32_t length) {
    if (!context) return SG_HMAC_ERR_ARGUMENT;
    if (void* const* m = moduleFor(context))
        return reinterpret_cast<ModuleUpdate>(m[kModuleUpdate])(context->marker.moduleArea, data,
                                                                length);
    return _SGDigest_Update(&context->inner, data, length);
}

int SGHMAC_Final(SGHMACContext* context, unsigned char* mac, uint32_t* macLength) {
    if (!context || !macLength) return SG_HMAC_ERR_ARGUMENT;
    if (void* const* m = moduleFor(context))
        return reinterpret_cast<ModuleFinal>(m[kModuleFinal])(context->marker.moduleArea, mac,
                                                              macLength);
    const int size = context->digestSize;
    if (size <= 0 || size > kMaxDigest) return SG_HMAC_ERR_ARGUMENT;  // never initialised
    unsigned char scratch[kMaxDigest];
    // A failing digest step fails the MAC: a half-computed value is never handed out.
    int result = _SGDigest_Final(&context->inner, scratch);
    if (result == 0)
        result = _SGDigest_Update(&context->outer, scratch, static_cast<uint32_t>(size));
    if (result == 0) result = _SGDigest_Final(&context->outer, scratch);
    if (result == 0) {
        *macLength = static_cast<uint32_t>(size);
        if (mac)
            std::memcpy(mac, scratch, static_cast<size_t>(size));
        else
            result = SG_HMAC_ERR_ARGUMENT;
    }
    SGCrypto_cleanse(scratch, sizeof scratch);
    return result;
}

int SGHMACContext_Clear(SGHMACContext* context) {
    if (!context) return 0;
    if (void* const* m = moduleFor(context))
        reinterpret_cast<ModuleClear>(m[kModuleClear])(context);
    // The pads are the key in another form.
    SGCrypto_cleanse(context->innerPad, sizeof context->innerPad);
    SGCrypto_cleanse(context->outerPad, sizeof context->outerPad);
    _SGDigestContext_Clear(&context->inner);
    _SGDigestContext_Clear(&context->outer);
    return 0;
}

int SGHMAC(unsigned char* mac, uint32_t* macLength, int digestId, const unsigned char* data,
           uint32_t dataLength, const unsigned char* key, uint32_t keyLength) {
    SGHMACContext context;
    zeroRecord(&context);
    int result = SGHMAC_Init(&context, digestId, key, keyLength);
    if (result == 0) result = SGHMAC_Update(&context, data, dataLength);
    if (result == 0) result = SGHMAC_Final(&context, mac, macLength);
    SGHMACContext_Clear(&context);
    return result;
}

}  // extern "C"
