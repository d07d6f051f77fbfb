#include "SGDRBG.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <span>
#include <vector>

#include "SGCrypto.h"
#include "SGDigestInternal.h"
#include "SGRandom.h"

namespace {

using namespace brindlow::crypto;
using Bytes = std::span<const unsigned char>;

static_assert(sizeof(SGDRBGContext) == 2084);
static_assert(offsetof(SGDRBGContext, V) == 20);
static_assert(offsetof(SGDRBGContext, reseedCounter) == 2068);
static_assert(sizeof(SGDRBGParameter) == 104);

constexpr int kStrengths[] = {80, 112, 128, 192, 256};

// Digest ids 3 to 7 run on the SHA family's selectors 0 to 4.
int selectorOf(int digestId) {
    return digestId - 3;
}

Bytes bytes(const unsigned char* p, uint32_t n) {
    return p && n ? Bytes(p, n) : Bytes();
}

// A scratch buffer that is wiped and freed however the operation ends.
class Secret {
  public:
    explicit Secret(size_t n)
        : data_(static_cast<unsigned char*>(SGCrypto_calloc(1, n ? n : 1))), size_(n) {}
    ~Secret() { SGCrypto_safeFree(data_, size_); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    unsigned char* data() { return data_; }
    size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

  private:
    unsigned char* data_;
    size_t size_;
};

// Hash of the concatenation of parts.
void hash(int digestId, std::initializer_list<Bytes> parts, unsigned char* out) {
    ShaState s;
    shaReset(&s, selectorOf(digestId));
    for (Bytes p : parts)
        if (!p.empty()) shaInput(&s, p.data(), p.size());
    shaResult(&s, out);
    SGCrypto_cleanse(&s, sizeof s);
}

// a = (a + b) mod 2^(8 * a.size()), both big-endian; b may be shorter.
void addInto(unsigned char* a, size_t aLen, const unsigned char* b, size_t bLen) {
    unsigned carry = 0;
    for (size_t i = 0; i < aLen; ++i) {
        unsigned sum = a[aLen - 1 - i] + carry + (i < bLen ? b[bLen - 1 - i] : 0);
        a[aLen - 1 - i] = static_cast<unsigned char>(sum);
        carry = sum >> 8;
    }
}

// Hash_df: counter byte || bits (32-bit big-endian) || input, repeated and cut to bits / 8.
void hashDf(int digestId, std::initializer_list<Bytes> input, unsigned char* out, int bits) {
    const size_t outLen = static_cast<size_t>(shaHashSize(selectorOf(digestId)));
    const size_t want = static_cast<size_t>(bits) / 8;
    unsigned char block[64];
    unsigned char prefix[5] = {
        1, static_cast<unsigned char>(bits >> 24), static_cast<unsigned char>(bits >> 16),
        static_cast<unsigned char>(bits >> 8), static_cast<unsigned char>(bits)};
    for (size_t done = 0; done < want; done += outLen, ++prefix[0]) {
        ShaState s;
        shaReset(&s, selectorOf(digestId));
        shaInput(&s, prefix, sizeof prefix);
        for (Bytes p : input)
            if (!p.empty()) shaInput(&s, p.data(), p.size());
        shaResult(&s, block);
        SGCrypto_cleanse(&s, sizeof s);
        std::memcpy(out + done, block, std::min(outLen, want - done));
    }
    SGCrypto_cleanse(block, sizeof block);
}

// Entropy for an instantiation or reseed: the caller's bytes, or max(120, strength) collected.
int entropyInput(const SGDRBGParameter* p, int strength, std::vector<unsigned char>& collected,
                 Bytes& entropy) {
    if (p->entropy && p->entropyLength) {
        entropy = Bytes(p->entropy, p->entropyLength);
        return 0;
    }
    collected.assign(static_cast<size_t>(strength > 120 ? strength : 120), 0);
    if (int r = SGEntropy(collected.data(), static_cast<uint32_t>(collected.size()))) return r;
    entropy = Bytes(collected.data(), collected.size());
    return 0;
}

void wipe(std::vector<unsigned char>& v) {
    if (!v.empty()) SGCrypto_cleanse(v.data(), v.size());
}

int reseed(SGDRBGContext* c, const SGDRBGParameter* p, Bytes additional) {
    std::vector<unsigned char> collected;
    Bytes entropy;
    if (int r = entropyInput(p, c->securityStrength, collected, entropy)) return r;
    const size_t seedBytes = static_cast<size_t>(c->seedLength) / 8;
    Secret v(seedBytes);
    if (!v) return SG_CRYPTO_ERR_MEMORY;
    const unsigned char one = 0x01, zero = 0x00;
    hashDf(c->digestId, {Bytes(&one, 1), Bytes(c->V, seedBytes), entropy, additional}, v.data(),
           c->seedLength);
    std::memcpy(c->V, v.data(), seedBytes);
    hashDf(c->digestId, {Bytes(&zero, 1), Bytes(c->V, seedBytes)}, c->C, c->seedLength);
    c->reseedCounter = 1;
    wipe(collected);
    return 0;
}

}  // namespace

extern "C" {

int SGDRBGHash_GetStrengthAndSeedLength(int digestId, int* strength, int* seedLength) {
    static constexpr int kHighest[] = {128, 192, 256, 256, 256};
    static constexpr int kSeed[] = {440, 440, 440, 888, 888};
    if (digestId < 3 || digestId > 7) return SG_DRBG_ERR_DIGEST;
    if (strength) *strength = kHighest[digestId - 3];
    if (seedLength) *seedLength = kSeed[digestId - 3];
    return 0;
}

int SGDRBGContext_New(SGDRBGContext** context) {
    if (!context) return SG_CRYPTO_ERR_ARGUMENT;
    *context = static_cast<SGDRBGContext*>(SGCrypto_calloc(1, sizeof(SGDRBGContext)));
    return *context ? 0 : SG_CRYPTO_ERR_MEMORY;
}

int SGDRBGContext_Free(SGDRBGContext* context) {
    SGCrypto_safeFree(context, sizeof(SGDRBGContext));
    return 0;
}

int SGDRBG_GetEntropy(unsigned char* buffer, uint32_t* length, uint32_t wanted) {
    if (!buffer) return SG_DRBG_ERR_ARGUMENT;
    std::memset(buffer, 0, wanted);
    if (int r = SGEntropy(buffer, wanted)) return r;
    if (length) *length = wanted;
    return 0;
}

int SGDRBGHash_Instantiation(SGDRBGContext* c, const SGDRBGParameter* p) {
    int highest, seedLength;
    if (SGDRBGHash_GetStrengthAndSeedLength(c->digestId, &highest, &seedLength))
        return SG_DRBG_ERR_DIGEST;
    int requested = p->strength == SG_DRBG_STRENGTH_HIGHEST ? highest : p->strength;
    if (requested > highest) return SG_DRBG_ERR_STRENGTH;
    int strength = 256;
    for (int s : kStrengths) {
        if (requested <= s) {
            strength = s;
            break;
        }
    }
    std::vector<unsigned char> collected;
    Bytes entropy;
    if (int r = entropyInput(p, strength, collected, entropy)) return r;
    const size_t seedBytes = static_cast<size_t>(seedLength) / 8;
    const unsigned char zero = 0x00;
    c->seedLength = seedLength;
    c->securityStrength = strength;
    std::memset(c->V, 0, sizeof c->V);
    std::memset(c->C, 0, sizeof c->C);
    hashDf(c->digestId,
           {entropy, bytes(p->nonce, p->nonceLength),
            bytes(p->personalization, p->personalizationLength)},
           c->V, seedLength);
    hashDf(c->digestId, {Bytes(&zero, 1), Bytes(c->V, seedBytes)}, c->C, seedLength);
    c->reseedCounter = 1;
    c->predictionResistance = p->predictionResistance;
    wipe(collected);
    return 0;
}

int SGDRBGHash_Reseed(SGDRBGContext* c, const SGDRBGParameter* p) {
    if (SGDRBGHash_GetStrengthAndSeedLength(c->digestId, nullptr, nullptr))
        return SG_DRBG_ERR_DIGEST;
    return reseed(c, p, bytes(p->reseedAdditionalInput, p->reseedAdditionalInputLength));
}

int SGDRBGHash_Hashgen(int digestId, const unsigned char* v, int seedLength, unsigned char* out,
                       uint32_t byteCount) {
    const size_t seedBytes = static_cast<size_t>(seedLength) / 8;
    const size_t outLen = static_cast<size_t>(shaHashSize(selectorOf(digestId)));
    Secret data(seedBytes);
    if (!data) return SG_CRYPTO_ERR_MEMORY;
    std::memcpy(data.data(), v, seedBytes);
    unsigned char block[64];
    const unsigned char one = 1;
    for (size_t done = 0; done < byteCount; done += outLen) {
        hash(digestId, {Bytes(data.data(), seedBytes)}, block);
        std::memcpy(out + done, block, std::min(outLen, byteCount - done));
        addInto(data.data(), seedBytes, &one, 1);
    }
    SGCrypto_cleanse(block, sizeof block);
    return 0;
}

int SGDRBGHash_GenerateRandom(unsigned char* output, SGDRBGContext* c, uint32_t byteCount,
                              const SGDRBGParameter* p) {
    int highest;
    if (SGDRBGHash_GetStrengthAndSeedLength(c->digestId, &highest, nullptr))
        return SG_DRBG_ERR_DIGEST;
    const int requested =
        p->generateStrength == SG_DRBG_STRENGTH_HIGHEST ? highest : p->generateStrength;
    if (byteCount > SG_DRBG_MAX_BYTES) return SG_DRBG_ERR_TOO_MANY_BITS;
    if (requested > c->securityStrength) return SG_DRBG_ERR_GEN_STRENGTH;
    const bool predictionResistance =
        p->generatePredictionResistance == SG_DRBG_PREDICTION_RESISTANCE;
    if (predictionResistance && c->predictionResistance == SG_DRBG_NO_PREDICTION_RESISTANCE)
        return SG_DRBG_ERR_PREDICTION;
    Bytes additional = bytes(p->additionalInput, p->additionalInputLength);
    if (predictionResistance || c->reseedCounter >= SG_DRBG_RESEED_INTERVAL) {
        if (int r = reseed(c, p, additional)) return r;
        additional = Bytes();
    }
    const size_t seedBytes = static_cast<size_t>(c->seedLength) / 8;
    const size_t outLen = static_cast<size_t>(shaHashSize(selectorOf(c->digestId)));
    // Work on a copy of V so that a failure leaves the state as it was.
    Secret v(seedBytes);
    if (!v) return SG_CRYPTO_ERR_MEMORY;
    std::memcpy(v.data(), c->V, seedBytes);
    unsigned char w[64];
    if (!additional.empty()) {
        const unsigned char two = 0x02;
        hash(c->digestId, {Bytes(&two, 1), Bytes(v.data(), seedBytes), additional}, w);
        addInto(v.data(), seedBytes, w, outLen);
    }
    if (int r = SGDRBGHash_Hashgen(c->digestId, v.data(), c->seedLength, output, byteCount)) {
        SGCrypto_cleanse(w, sizeof w);
        return r;
    }
    const unsigned char three = 0x03;
    hash(c->digestId, {Bytes(&three, 1), Bytes(v.data(), seedBytes)}, w);
    addInto(v.data(), seedBytes, w, outLen);
    addInto(v.data(), seedBytes, c->C, seedBytes);
    const uint32_t counter = static_cast<uint32_t>(c->reseedCounter);
    const unsigned char counterBytes[4] = {
        static_cast<unsigned char>(counter >> 24), static_cast<unsigned char>(counter >> 16),
        static_cast<unsigned char>(counter >> 8), static_cast<unsigned char>(counter)};
    addInto(v.data(), seedBytes, counterBytes, sizeof counterBytes);
    std::memcpy(c->V, v.data(), seedBytes);
    ++c->reseedCounter;
    SGCrypto_cleanse(w, sizeof w);
    return 0;
}

int SGDRBG_Instantiation(SGDRBGContext* context, const SGDRBGParameter* parameter) {
    if (!context || !parameter) return SG_DRBG_ERR_ARGUMENT;
    context->digestId = parameter->digestId;
    return SGDRBGHash_Instantiation(context, parameter);
}

int SGDRBG_GenerateRandom(unsigned char* output, SGDRBGContext* context, uint32_t byteCount,
                          const SGDRBGParameter* parameter) {
    if (!output || !context || !parameter) return SG_DRBG_ERR_ARGUMENT;
    return SGDRBGHash_GenerateRandom(output, context, byteCount, parameter);
}

int SGDRBG_Reseed(SGDRBGContext* context, const SGDRBGParameter* parameter) {
    if (!context || !parameter) return SG_DRBG_ERR_ARGUMENT;
    return SGDRBGHash_Reseed(context, parameter);
}

}  // extern "C"
