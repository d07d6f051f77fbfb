#include "SGDigest.h"

#include <cstring>

#include "SGCryptoInternal.h"
#include "SGDigestInternal.h"

namespace {

using namespace brindlow::crypto;

static_assert(sizeof(SGDigestContext) == 4120);
static_assert(offsetof(SGDigestContext, marker) == 16);

struct Algorithm {
    int family;
    int digestSize;
    int blockSize;
};

// Ids 2 to 8.
constexpr Algorithm kAlgorithms[] = {
    {SG_DIGEST_FAMILY_MD5, 16, 64},   {SG_DIGEST_FAMILY_SHA, 20, 64},
    {SG_DIGEST_FAMILY_SHA, 28, 64},   {SG_DIGEST_FAMILY_SHA, 32, 64},
    {SG_DIGEST_FAMILY_SHA, 48, 128},  {SG_DIGEST_FAMILY_SHA, 64, 128},
    {SG_DIGEST_FAMILY_HAS160, 20, 64}};

const Algorithm* algorithm(int id) {
    return id >= SG_DIGEST_MD5 && id <= SG_DIGEST_HAS160 ? &kAlgorithms[id - SG_DIGEST_MD5]
                                                         : nullptr;
}

size_t stateSize(int family) {
    switch (family) {
        case SG_DIGEST_FAMILY_SHA:
            return sizeof(ShaState);
        case SG_DIGEST_FAMILY_HAS160:
            return sizeof(Has160State);
        case SG_DIGEST_FAMILY_MD5:
            return sizeof(Md5State);
        default:
            return 0;
    }
}

// A context the library can run: a known family with its state.
bool usable(const SGDigestContext* c) {
    return stateSize(c->family) != 0 && c->state;
}

// Module hand-over: ids 4 to 7 while a module is current, and contexts it marked.
void* const* moduleFor(int id) {
    void* const* m = moduleTable();
    return m && id >= SG_DIGEST_SHA224 && id <= SG_DIGEST_SHA512 ? m : nullptr;
}

void* const* moduleFor(const SGDigestContext* c) {
    void* const* m = moduleTable();
    return m && c && !SGCrypto_Structure_IsLegacy(&c->marker) ? m : nullptr;
}

}  // namespace

extern "C" {

int SGDigest_GetBlockSize(int digestId) {
    const Algorithm* a = algorithm(digestId);
    return a ? a->blockSize : SG_DIGEST_ERR_ALGORITHM;
}

int SGDigest_GetDigestSize(int digestId) {
    const Algorithm* a = algorithm(digestId);
    return a ? a->digestSize : SG_DIGEST_ERR_ALGORITHM;
}

int _SGDigestContext_Init(SGDigestContext* context, int digestId) {
    if (!context) return SG_CRYPTO_ERR_ARGUMENT;
    context->digestId = digestId;
    const Algorithm* a = algorithm(digestId);
    void* state = a ? SGCrypto_calloc(1, stateSize(a->family)) : nullptr;
    if (!state) {
        // A failed initialisation leaves no state behind.
        SGCrypto_free(context->state);
        context->state = nullptr;
        context->family = SG_DIGEST_ERR_ALGORITHM;
        return a ? int{SG_CRYPTO_ERR_MEMORY} : int{SG_DIGEST_ERR_ALGORITHM};
    }
    context->family = a->family;
    context->state = state;
    return 0;
}

int SGDigestContext_Init(SGDigestContext* context, int digestId) {
    if (!context) return SG_CRYPTO_ERR_ARGUMENT;
    if (void* const* m = moduleFor(digestId)) {
        SGCrypto_Structure_Init(context, SG_STRUCTURE_DIGEST_CONTEXT);
        return module::slot<module::DigestInit>(m, module::kDigestInit)(context->marker.moduleArea,
                                                                        digestId);
    }
    return _SGDigestContext_Init(context, digestId);
}

int SGDigestContext_New(SGDigestContext** context, int digestId) {
    if (!context) return SG_CRYPTO_ERR_ARGUMENT;
    auto* c = static_cast<SGDigestContext*>(SGCrypto_calloc(1, sizeof(SGDigestContext)));
    if (!c) return SG_CRYPTO_ERR_MEMORY;
    if (int r = SGDigestContext_Init(c, digestId)) {
        // Handed out only once it is usable.
        SGCrypto_free(c);
        *context = nullptr;
        return r;
    }
    *context = c;
    return 0;
}

int SGDigestContext_Duplicate(SGDigestContext* destination, const SGDigestContext* source) {
    if (!destination || !source) return SG_CRYPTO_ERR_ARGUMENT;
    if (!usable(source)) return SG_DIGEST_ERR_ALGORITHM;
    if (int r = _SGDigestContext_Init(destination, source->digestId)) return r;
    std::memcpy(destination->state, source->state, stateSize(source->family));
    return 0;
}

int _SGDigestContext_Clear(SGDigestContext* context) {
    if (!context) return 0;
    if (context->state) SGCrypto_safeFree(context->state, stateSize(context->family));
    SGCrypto_cleanse(context, sizeof *context);
    return 0;
}

int SGDigestContext_Clear(SGDigestContext* context) {
    if (void* const* m = moduleFor(context))
        module::slot<module::DigestClear>(m, module::kDigestClear)(context->marker.moduleArea);
    return _SGDigestContext_Clear(context);
}

int SGDigestContext_Free(SGDigestContext* context) {
    if (!context) return 0;
    SGDigestContext_Clear(context);
    SGCrypto_free(context);
    return 0;
}

int _SGDigest_Init(SGDigestContext* context) {
    if (!context) return SG_DIGEST_ERR_ARGUMENT;
    if (!usable(context)) return SG_DIGEST_ERR_ALGORITHM;
    switch (context->family) {
        case SG_DIGEST_FAMILY_SHA:
            return shaReset(static_cast<ShaState*>(context->state), context->digestId - 3);
        case SG_DIGEST_FAMILY_HAS160:
            has160Init(static_cast<Has160State*>(context->state));
            return 0;
        default:
            md5Init(static_cast<Md5State*>(context->state));
            return 0;
    }
}

int SGDigest_Init(SGDigestContext* context) {
    if (void* const* m = moduleFor(context))
        return module::slot<module::DigestStart>(m,
                                                 module::kDigestStart)(context->marker.moduleArea);
    return _SGDigest_Init(context);
}

int _SGDigest_Update(SGDigestContext* context, const unsigned char* data, uint32_t length) {
    if (!context) return SG_DIGEST_ERR_ARGUMENT;
    if (!usable(context)) return SG_DIGEST_ERR_ALGORITHM;
    switch (context->family) {
        case SG_DIGEST_FAMILY_SHA:
            return shaInput(static_cast<ShaState*>(context->state), data, length);
        case SG_DIGEST_FAMILY_HAS160:
            if (length == 0) return 0;
            if (!data) return SG_DIGEST_ERR_ARGUMENT;
            has160Update(static_cast<Has160State*>(context->state), data, length);
            return 0;
        default:
            if (length == 0) return 0;
            if (!data) return SG_DIGEST_ERR_ARGUMENT;
            md5Update(static_cast<Md5State*>(context->state), data, length);
            return 0;
    }
}

int SGDigest_Update(SGDigestContext* context, const unsigned char* data, uint32_t length) {
    if (void* const* m = moduleFor(context))
        return module::slot<module::DigestUpdate>(m, module::kDigestUpdate)(
            context->marker.moduleArea, data, length);
    return _SGDigest_Update(context, data, length);
}

int _SGDigest_Final(SGDigestContext* context, unsigned char* output) {
    if (!context || !output) return SG_DIGEST_ERR_ARGUMENT;
    if (!usable(context)) return SG_DIGEST_ERR_ALGORITHM;
    switch (context->family) {
        case SG_DIGEST_FAMILY_SHA:
            return shaResult(static_cast<ShaState*>(context->state), output);
        case SG_DIGEST_FAMILY_HAS160:
            has160Final(static_cast<Has160State*>(context->state), output);
            return 0;
        default:
            md5Final(static_cast<Md5State*>(context->state), output);
            return 0;
    }
}

int SGDigest_Final(SGDigestContext* context, unsigned char* output) {
    if (void* const* m = moduleFor(context)) {
        if (!output) return SG_DIGEST_ERR_ARGUMENT;
        return module::slot<module::DigestFinal>(m, module::kDigestFinal)(
            context->marker.moduleArea, output);
    }
    return _SGDigest_Final(context, output);
}

int _SGDigest(unsigned char* output, int digestId, const unsigned char* data, uint32_t length) {
    if (!output) return SG_DIGEST_ERR_ARGUMENT;
    SGDigestContext context;
    std::memset(&context, 0, offsetof(SGDigestContext, marker));
    int r = _SGDigestContext_Init(&context, digestId);
    if (r == 0) r = _SGDigest_Init(&context);
    if (r == 0 && length) r = _SGDigest_Update(&context, data, length);
    if (r == 0) r = _SGDigest_Final(&context, output);
    _SGDigestContext_Clear(&context);
    return r;
}

int SGDigest(unsigned char* output, int digestId, const unsigned char* data, uint32_t length) {
    if (void* const* m = moduleFor(digestId))
        return module::slot<module::DigestOneShot>(m, module::kDigestOneShot)(output, digestId,
                                                                              data, length);
    return _SGDigest(output, digestId, data, length);
}

}  // extern "C"
