// Internal to the crypto library: the KCDSA working context and the seams through which the
// known-answer tests inject the standard's random values.
#pragma once

#include <openssl/bn.h>

#include <cstddef>

#include "SGKCDSA.h"

// One signing or verification call's copies of the domain and keys, its temporaries and the
// state of its per-signature random-number generator.
struct SGKCDSAContext {
    int hashId;
    BIGNUM* p;
    BIGNUM* q;
    BIGNUM* g;
    BIGNUM* J;
    BIGNUM* x;
    BIGNUM* y;
    int beta;  // bits of q
    int l;     // the hash's block length in bits
    BN_CTX* pool;
    int seeded;
    BIGNUM* xkey;
    BIGNUM* xseed;
};

// Copies the record's domain, keys and hash id: 0; 11 an unusable domain or hash id (the digest
// must be at least |q|/8 bytes); -2 bits of q; 13 memory. The context is reset on failure.
int SGKCDSAContext_Init(SGKCDSAContext* context, const SGKCDSASchemeParameter* parameter);
// Releases the context's values, pool and generator state and overwrites it.
void SGKCDSAContext_Reset(SGKCDSAContext* context);

namespace brindlow::crypto::kcdsa {

// SGKCDSA_Sign with the per-signature secret k given instead of drawn.
int signWithSecret(unsigned char* signature, unsigned int* length, const unsigned char* message,
                   unsigned int messageLength, SGKCDSASchemeParameter* parameter, const BIGNUM* k);

// x from the given XKEY and the bytes XSEED is generated from: 0, -2, 11, 13.
int privateKeyFrom(BIGNUM* x, const SGKCDSAParameter& domain, const unsigned char* xkey,
                   size_t xkeyLength, const unsigned char* seedInput, size_t seedInputLength);

// J of pBits - qBits bits from a seed of qBits / 8 bytes: 0, or -1 when it is not prime.
int jFromSeed(BIGNUM* J, const unsigned char* seed, int pBits, int qBits);

// q and p = 2Jq + 1 from the seed at one counter: 0 when both are primes of their sizes, else
// -1 (the counter gives none); 13 memory.
int primesAtCounter(BIGNUM* p, BIGNUM* q, const BIGNUM* J, const unsigned char* seed,
                    uint32_t counter, int pBits, int qBits);

}  // namespace brindlow::crypto::kcdsa
