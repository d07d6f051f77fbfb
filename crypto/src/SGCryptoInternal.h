// Internal to the crypto library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SGCrypto.h"
#include "SGDRBG.h"

namespace brindlow::crypto {

// The validated module's table: 45 slots filled by its list function. Null while the library's
// own algorithms run, which in this system is always.
constexpr int kModuleSlots = 45;
void* const* moduleTable();

// Module slots the digest and random operations hand their work to.
namespace module {
using Version = const char* (*)();
using DigestInit = int (*)(void* area, int digestId);
using DigestClear = int (*)(void* area);
using DigestOneShot = int (*)(unsigned char* output, int digestId, const unsigned char* data,
                              uint32_t length);
using DigestStart = int (*)(void* area);
using DigestUpdate = int (*)(void* area, const unsigned char* data, uint32_t length);
using DigestFinal = int (*)(void* area, unsigned char* output);
using RandomBytes = int (*)(unsigned char* buffer, int length);
enum Slot {
    kVersion = 1,
    kDigestInit = 5,
    kDigestClear = 6,
    kDigestOneShot = 7,
    kDigestStart = 8,
    kDigestUpdate = 9,
    kDigestFinal = 10,
    kRandomBytes = 23,
};
template <typename Fn>
Fn slot(void* const* table, Slot s) {
    return reinterpret_cast<Fn>(table[s]);
}
}  // namespace module

// The error recorded by the last SGCrypto_Initialize: 0, or 95 after a failed self-test.
int initError();

// Size of each record kind that ends with a structure marker; 0 for another kind.
size_t structureRecordSize(int kind);

// The cipher-engine registry, filled at initialisation and emptied at finalisation.
void registerCipherEngines();
void clearCipherEngines();

// The process generator's DRBG instance (null while uninstantiated), for inspection.
const SGDRBGContext* processGenerator();

// The statistical self-test on one sample of kSelfTestBytes bytes: 0 or -1 to -6.
constexpr int kSelfTestBytes = 2500;
int statisticalTest(const unsigned char* sample);

// A draw of random bytes as the self-test takes them (0 or the generator's error).
using RandomDraw = int (*)(unsigned char* buffer, int length);
// Draws one sample and tests it: 0, -1 to -6, 13 without a work buffer, or the draw's error.
int statisticalTest(RandomDraw draw);
// Statistical failures are redrawn up to kHealthAttempts samples in all, since the bounds
// refuse a perfect generator about once in 5,000 samples; the draw's own errors are final.
constexpr int kHealthAttempts = 3;
int checkRandomHealth(RandomDraw draw);

}  // namespace brindlow::crypto
