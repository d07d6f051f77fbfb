// Internal to the crypto library: the message blinding that the private-key operation uses.
#pragma once

#include <openssl/bn.h>

#include "SGRSA.h"

namespace brindlow::crypto::rsa {

// SGRSABlinding_ConvertMessage. With a key that has p, q and qInv, the inverse of r is taken
// modulo p and q and recombined, which costs about half of an inversion modulo n.
int convertMessage(BIGNUM* blinded, BIGNUM* rInv, const BIGNUM* m, const BIGNUM* n, const BIGNUM* e,
                   const SGRSAPrivateKey* crtKey);

}  // namespace brindlow::crypto::rsa
