#include "SGCrypto.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "SGCryptoInternal.h"
#include "SGRandom.h"

namespace {

using namespace brindlow::crypto;

static_assert(sizeof(SGCryptoStructureMarker) == 8 + SG_CRYPTO_MODULE_AREA_SIZE);

// Library state; gMutex guards initialisation and finalisation.
std::mutex gMutex;
bool sg_initialized = false;
std::atomic<int> sg_initError{0};

// The module's table as its list function filled it, current once accepted.
void* gModuleSlots[kModuleSlots];
std::atomic<void* const*> gModuleTable{nullptr};
void* moduleHandle = nullptr;  // a module library the crypto library opened itself

constexpr const char* kModuleLibrary = "libTessaly.so";
constexpr const char* kModuleEntry = "TessalyWrapper_GetList";

// Read through a volatile pointer at every pass, so the compiler cannot prove what the call does
// and must keep all five passes even when the buffer is freed right after.
void* (*volatile gCleanseFill)(void*, int, size_t) = std::memset;

bool isModuleKind(uint32_t kind) {
    return (kind >= SG_STRUCTURE_CIPHER_PARAMETER && kind <= SG_STRUCTURE_RSA_PRIVATE_KEY) ||
           (kind >= SG_STRUCTURE_CIPHER_CONTEXT && kind <= SG_STRUCTURE_RESERVED);
}

// Monobit, poker and runs bounds of the start-up test, all inclusive.
constexpr int kSampleBits = kSelfTestBytes * 8;
constexpr int kOnesMin = 9726, kOnesMax = 10274;
constexpr double kPokerMin = 2.16, kPokerMax = 46.17;
constexpr int kLongRun = 34;
struct RunBound {
    int min, max, code;
};
constexpr RunBound kRunBounds[6] = {{2267, 2733, -1}, {1079, 1421, -2}, {502, 749, -3},
                                    {223, 402, -3},   {90, 223, -4},    {90, 223, -5}};
constexpr unsigned char kNibbleBits[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

int bitAt(const unsigned char* sample, int i) {
    return (sample[i >> 3] >> (i & 7)) & 1;
}

int monoBitsTest(const unsigned char* sample) {
    int ones = 0;
    for (int i = 0; i < kSelfTestBytes; ++i)
        ones += kNibbleBits[sample[i] & 0x0F] + kNibbleBits[sample[i] >> 4];
    return ones >= kOnesMin && ones <= kOnesMax ? 0 : -1;
}

int pokerTest(const unsigned char* sample) {
    long f[16] = {};
    for (int i = 0; i < kSelfTestBytes; ++i) {
        ++f[sample[i] & 0x0F];
        ++f[sample[i] >> 4];
    }
    long sum = 0;
    for (long v : f) sum += v * v;
    // The factor is the single-precision 0.0032, the sum taken in double precision.
    const double x = static_cast<double>(0.0032f) * static_cast<double>(sum) - 5000.0;
    return x >= kPokerMin && x <= kPokerMax ? 0 : -1;
}

// Runs of one bit value: counts by length (6 and longer together) of the runs that end inside
// the sample, and whether any run, the last one included, reaches kLongRun.
int runsTest(const unsigned char* sample, int value, bool longRunOnly) {
    int counts[6] = {};
    int run = 0;
    bool longRun = false;
    for (int i = 0; i < kSampleBits; ++i) {
        if (bitAt(sample, i) == value) {
            if (++run >= kLongRun) longRun = true;
            continue;
        }
        if (run > 0) ++counts[(run < 6 ? run : 6) - 1];
        run = 0;
    }
    if (longRunOnly) return longRun ? -6 : 0;
    for (int len = 0; len < 6; ++len)
        if (counts[len] < kRunBounds[len].min || counts[len] > kRunBounds[len].max)
            return kRunBounds[len].code;
    return 0;
}

// Drops the module and, when the library opened it, its library.
void forgetModule() {
    gModuleTable.store(nullptr);
    std::memset(gModuleSlots, 0, sizeof gModuleSlots);
    if (moduleHandle) {
        dlclose(moduleHandle);
        moduleHandle = nullptr;
    }
}

}  // namespace

namespace brindlow::crypto {

void* const* moduleTable() {
    return gModuleTable.load(std::memory_order_acquire);
}

int initError() {
    return sg_initError.load();
}

size_t structureRecordSize(int kind) {
    switch (kind) {
        case SG_STRUCTURE_CIPHER_PARAMETER:
            return 4156;
        case SG_STRUCTURE_PKCS1_PARAMETER:
            return 4248;
        case SG_STRUCTURE_RSA_PUBLIC_KEY:
            return 4120;
        case SG_STRUCTURE_RSA_PRIVATE_KEY:
            return 4176;
        case SG_STRUCTURE_CIPHER_CONTEXT:
            return 10668;
        case SG_STRUCTURE_DIGEST_CONTEXT:
            return 4120;
        case SG_STRUCTURE_HMAC_CONTEXT:
            return 12608;
        default:
            return 0;
    }
}

int statisticalTest(const unsigned char* sample) {
    if (int r = monoBitsTest(sample)) return r;
    if (int r = pokerTest(sample)) return r;
    for (int value : {0, 1}) {
        if (int r = runsTest(sample, value, false)) return r;
        if (int r = runsTest(sample, value, true)) return r;
    }
    return 0;
}

int statisticalTest(RandomDraw draw) {
    auto* sample = static_cast<unsigned char*>(SGCrypto_calloc(1, kSelfTestBytes));
    if (!sample) return SG_CRYPTO_ERR_MEMORY;
    int r = draw(sample, kSelfTestBytes);
    if (r == 0) r = statisticalTest(sample);
    SGCrypto_free(sample);
    return r;
}

int checkRandomHealth(RandomDraw draw) {
    int r = 0;
    for (int attempt = 0; attempt < kHealthAttempts; ++attempt) {
        r = statisticalTest(draw);
        if (r >= 0) break;  // passed, or the generator itself failed: a redraw changes nothing
    }
    return r;
}

}  // namespace brindlow::crypto

extern "C" {

const char* SGCrypto_GetVersion(void) {
    return "4.2.1.0";
}

int SGCrypto_Initialize(void) {
    std::lock_guard lock(gMutex);
    int recorded = 0;
    if (!sg_initialized) {
        // A generator that failed to instantiate fails the self-test below.
        SGRandom_Initialize();
        registerCipherEngines();
        if (SGCrypto_CheckRandomHealth() == 0) {
            sg_initialized = true;
        } else {
            recorded = SG_CRYPTO_ERR_SELF_TEST;
        }
    }
    sg_initError.store(recorded);
    return 0;
}

int SGCrypto_Finalize(void) {
    std::lock_guard lock(gMutex);
    sg_initialized = false;
    clearCipherEngines();
    SGRandom_Finalize();
    forgetModule();
    return 0;
}

int SGCrypto_SetDebugCallback(void*) {
    return SG_CRYPTO_ERR_NOT_SUPPORTED;
}

int SGCrypto_SetKCMVPModule(void* handle) {
    if (moduleTable()) return SG_CRYPTO_ERR_MODULE_IN_USE;
    void* opened = nullptr;
    if (!handle) {
        opened = dlopen(kModuleLibrary, RTLD_NOW);
        if (!opened) return SG_CRYPTO_ERR_MODULE_UNAVAILABLE;
        handle = opened;
    }
    auto fail = [&](int code) {
        if (opened) dlclose(opened);
        return code;
    };
    auto list = reinterpret_cast<int (*)(void**)>(dlsym(handle, kModuleEntry));
    if (!list) return fail(SG_CRYPTO_ERR_MODULE_UNAVAILABLE);
    std::memset(gModuleSlots, 0, sizeof gModuleSlots);
    if (int r = list(gModuleSlots)) return fail(r);
    for (int i = 1; i < kModuleSlots; ++i) {
        if (!gModuleSlots[i]) {
            std::memset(gModuleSlots, 0, sizeof gModuleSlots);
            return fail(SG_CRYPTO_ERR_MODULE_INVALID);
        }
    }
    char expected[50];
    std::snprintf(expected, sizeof expected, "QUENDRIL %d.%d", 1, 0);
    const char* version = module::slot<module::Version>(gModuleSlots, module::kVersion)();
    if (!version || std::strncmp(version, expected, std::strlen(expected)) != 0)
        return fail(SG_CRYPTO_ERR_MODULE_INVALID);
    moduleHandle = opened;
    gModuleTable.store(gModuleSlots, std::memory_order_release);
    return 0;
}

void* SGCrypto_malloc(size_t size) {
    return std::malloc(size);
}

void* SGCrypto_calloc(size_t count, size_t size) {
    return std::calloc(count, size);
}

void SGCrypto_free(void* pointer) {
    std::free(pointer);
}

void SGCrypto_safeFree(void* pointer, size_t size) {
    if (!pointer) return;
    gCleanseFill(pointer, 0, size);
    std::free(pointer);
}

void SGCrypto_cleanse(void* pointer, size_t size) {
    if (!pointer || size == 0) return;
    static constexpr int kPasses[] = {0x3F, 0xC0, 0x73, 0xE7, 0x00};
    for (int pattern : kPasses) {
        gCleanseFill(pointer, pattern, size);
        asm volatile("" : : "r"(pointer) : "memory");
    }
}

uint32_t htonuint32(uint32_t value) {
    return __builtin_bswap32(value);
}

void* getsym(void* library, const char* name) {
    return dlsym(library, name);
}

int SGCrypto_StatisticalTest(void) {
    return statisticalTest(&_SGRandom_bytes);
}

int SGCrypto_CheckRandomHealth(void) {
    return checkRandomHealth(&_SGRandom_bytes);
}

int SGCrypto_Structure_Init(void* record, int kind) {
    const size_t size = structureRecordSize(kind);
    if (!record || size == 0) return SG_CRYPTO_ERR_STRUCTURE_KIND;
    auto* marker = reinterpret_cast<SGCryptoStructureMarker*>(
        static_cast<unsigned char*>(record) + size - sizeof(SGCryptoStructureMarker));
    marker->magic = SG_CRYPTO_MARKER_MAGIC;
    marker->kind = static_cast<uint32_t>(kind);
    std::memset(marker->moduleArea, 0, sizeof marker->moduleArea);
    return 0;
}

int SGCrypto_Structure_Fini(void* record, int kind) {
    const size_t size = structureRecordSize(kind);
    if (size == 0) return SG_CRYPTO_ERR_STRUCTURE_KIND;
    if (record && kind == SG_STRUCTURE_PKCS1_PARAMETER) {
        auto* marker = reinterpret_cast<SGCryptoStructureMarker*>(
            static_cast<unsigned char*>(record) + size - sizeof(SGCryptoStructureMarker));
        SGCrypto_cleanse(marker->moduleArea, sizeof marker->moduleArea);
    }
    return 0;
}

int SGCrypto_Structure_IsLegacy(const void* marker) {
    if (!marker) return 1;
    uint32_t words[2];
    std::memcpy(words, marker, sizeof words);
    return words[0] == SG_CRYPTO_MARKER_MAGIC && isModuleKind(words[1]) ? 0 : 1;
}

}  // extern "C"
