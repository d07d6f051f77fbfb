#include "SGRandom.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "SGCryptoInternal.h"
#include "SGDRBG.h"
#include "SGDigest.h"

namespace {

using namespace brindlow::crypto;

// The process generator. Every draw, the library's own included, and every change of the
// additional input hold gRandomMutex: the daemon's worker threads reach all of them.
std::mutex gRandomMutex;
struct ProcessGenerator {
    bool instantiated = false;
    SGDRBGContext* context = nullptr;
    SGDRBGParameter parameter{};
    std::vector<unsigned char> additional;  // a copy of what SGRandom_add was given
} gRandom;

void clearAdditional() {
    if (!gRandom.additional.empty())
        SGCrypto_cleanse(gRandom.additional.data(), gRandom.additional.size());
    gRandom.additional.clear();
}

// One draw with the lock held.
int draw(unsigned char* buffer, int length) {
    if (!gRandom.instantiated) return SG_CRYPTO_ERR_RANDOM_NOT_READY;
    if (length < 0) return SG_CRYPTO_ERR_ARGUMENT;
    SGDRBGParameter& p = gRandom.parameter;
    p.additionalInput = gRandom.additional.empty() ? nullptr : gRandom.additional.data();
    p.additionalInputLength = static_cast<uint32_t>(gRandom.additional.size());
    const int r = SGDRBG_GenerateRandom(buffer, gRandom.context, static_cast<uint32_t>(length), &p);
    p.additionalInput = nullptr;
    p.additionalInputLength = 0;
    clearAdditional();
    return r;
}

int add(const unsigned char* data, int length) {
    std::lock_guard lock(gRandomMutex);
    if (!gRandom.instantiated) return -1;
    if (length < 0 || (!data && length > 0)) return SG_CRYPTO_ERR_ARGUMENT;
    clearAdditional();
    gRandom.additional.assign(data, data + length);
    return 0;
}

std::mutex gLfsrMutex;
uint32_t gLfsrState = 1;  // 1: not seeded yet

void lfsrStep() {
    gLfsrState = (gLfsrState >> 1) ^ ((gLfsrState & 1) ? 0xD0000001u : 0u);
}

}  // namespace

namespace brindlow::crypto {

const SGDRBGContext* processGenerator() {
    std::lock_guard lock(gRandomMutex);
    return gRandom.context;
}

}  // namespace brindlow::crypto

extern "C" {

int SGRandom_Initialize(void) {
    std::lock_guard lock(gRandomMutex);
    if (gRandom.instantiated) return 0;
    gRandom.parameter = SGDRBGParameter{};
    gRandom.parameter.digestId = SG_DIGEST_SHA256;
    gRandom.parameter.strength = SG_DRBG_STRENGTH_HIGHEST;
    gRandom.parameter.predictionResistance = SG_DRBG_NO_PREDICTION_RESISTANCE;
    gRandom.parameter.generateStrength = SG_DRBG_STRENGTH_HIGHEST;
    gRandom.parameter.generatePredictionResistance = SG_DRBG_NO_PREDICTION_RESISTANCE;
    SGDRBGContext* context = nullptr;
    if (int r = SGDRBGContext_New(&context)) return r;
    if (int r = SGDRBG_Instantiation(context, &gRandom.parameter)) {
        SGDRBGContext_Free(context);
        return r;
    }
    gRandom.context = context;
    gRandom.instantiated = true;
    return 0;
}

void SGRandom_Finalize(void) {
    std::lock_guard lock(gRandomMutex);
    SGDRBGContext_Free(gRandom.context);
    gRandom.context = nullptr;
    gRandom.instantiated = false;
    clearAdditional();
}

int SGRandom_bytes(unsigned char* buffer, int length) {
    std::lock_guard lock(gRandomMutex);
    if (void* const* m = moduleTable())
        return module::slot<module::RandomBytes>(m, module::kRandomBytes)(buffer, length);
    return draw(buffer, length);
}

int _SGRandom_bytes(unsigned char* buffer, int length) {
    std::lock_guard lock(gRandomMutex);
    return draw(buffer, length);
}

int SGRandom_pseudo_bytes(unsigned char* buffer, int length) {
    return _SGRandom_bytes(buffer, length);
}

int SGRandom_add(const unsigned char* data, int length) {
    return add(data, length);
}

int _SGRandom_add(const unsigned char* data, int length) {
    return add(data, length);
}

int SGLFSR_GenerateRandom(unsigned char* output, int length) {
    if (!output) return -1;
    std::lock_guard lock(gLfsrMutex);
    if (gLfsrState == 1) gLfsrState = static_cast<uint32_t>(std::time(nullptr));
    int remaining = length > 0 ? length : 0;
    for (;;) {
        lfsrStep();
        if (remaining == 0) break;
        if (remaining < 4) {
            // The tail takes the leading bytes of the next state, so every byte is written.
            std::memcpy(output, &gLfsrState, static_cast<size_t>(remaining));
            break;
        }
        std::memcpy(output, &gLfsrState, 4);
        output += 4;
        remaining -= 4;
        if (remaining == 0 && gLfsrState == 1) break;
    }
    return 0;
}

}  // extern "C"
