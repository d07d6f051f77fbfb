// Internal to the crypto library: the big-number helpers that RSA and the tests share.
#pragma once

#include <openssl/bn.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "SGBigInteger.h"

namespace brindlow::crypto::bn {

// Owning handles for the dependency's objects.
struct BnFree {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct CtxFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct MontFree {
    void operator()(BN_MONT_CTX* m) const { BN_MONT_CTX_free(m); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;
using CtxPtr = std::unique_ptr<BN_CTX, CtxFree>;
using MontPtr = std::unique_ptr<BN_MONT_CTX, MontFree>;

// The first 2048 primes, 2 to 17863.
constexpr int kSmallPrimeCount = 2048;
extern const std::array<uint16_t, kSmallPrimeCount> kSmallPrimes;

// Random bytes as every big-number draw takes them: the current time as additional input, then
// the process generator's internal draw. 0 or the generator's error.
int drawRandom(unsigned char* buffer, size_t length);

// r uniform in [0, range) from drawRandom; false for a range that is not positive or when the
// generator fails.
bool randomInRange(BIGNUM* r, const BIGNUM* range);

// Miller-Rabin rounds for a candidate of this many bits.
int millerRabinRounds(int bits);

// Supplies the witness of one Miller-Rabin round, in [2, w - 2]; false on failure.
using WitnessSource = bool (*)(BIGNUM* witness, const BIGNUM* w, void* user);
// The random witnesses of SGBigInteger_isPrime.
bool randomWitness(BIGNUM* witness, const BIGNUM* w, void* user);

// Miller-Rabin over rounds witnesses of the source, with no trial division: 1 probably prime,
// 0 composite, -1 error. Values below 2, even values and 2, 3 are answered directly.
int millerRabin(const BIGNUM* w, int rounds, BN_CTX* ctx, WitnessSource source, void* user);

// A shared Montgomery context for a public modulus, from a small process-wide cache keyed by
// the modulus value; null when the modulus is not odd and positive or memory is short.
std::shared_ptr<BN_MONT_CTX> montgomeryFor(const BIGNUM* modulus, BN_CTX* ctx);

}  // namespace brindlow::crypto::bn
