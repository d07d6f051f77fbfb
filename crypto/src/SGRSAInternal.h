// Internal to the crypto library: the message blinding that the private-key operation uses.
#pragma once

#include <openssl/bn.h>

#include "SGRSA.h"

namespace brindlow::crypto::rsa {

// What the validated module's RSA slots are given. A key object lives in a module area: the key
// record's own, or one of the two in a PKCS #1 parameter record's area (ModuleParameter).
namespace module {
using Free = int (*)(void* object);
using Encode = int (*)(void* object, unsigned char* der, unsigned* length);
using Make = int (*)(void* object, const unsigned char* der, uint32_t length);
using SetItem = int (*)(void* object, const unsigned char* bytes, uint32_t length, int item);
// A null buffer asks for the item's length (the modulus length is the key size).
using GetItem = int (*)(void* object, unsigned char* buffer, unsigned* length, int item);
using Generate = int (*)(void* privateObject, void* publicObject, unsigned bits, int exponent);
// area: the parameter record's ModuleParameter, with the key object the operation needs.
using Sign = int (*)(void* area, unsigned char* output, unsigned* length,
                     const unsigned char* input, uint32_t inputLength);
using Verify = int (*)(void* area, const unsigned char* signature, uint32_t length,
                       const unsigned char* message, uint32_t messageLength);
enum Slot {
    kSign = 19,
    kVerify = 20,
    kEncrypt = 21,
    kDecrypt = 22,
    kPublicFree = 24,
    kPublicEncode = 25,
    kPublicMake = 26,
    kPublicSetItem = 27,
    kPublicGetItem = 28,
    kPrivateFree = 29,
    kPrivateEncode = 30,
    kPrivateMake = 31,
    kPrivateGetItem = 33,
    kGenerate = 34
};
template <typename Fn>
Fn slot(void* const* table, Slot s) {
    return reinterpret_cast<Fn>(table[s]);
}
}  // namespace module

// The module's table when one is current and the record carries its marker, else null.
void* const* moduleFor(const SGCryptoStructureMarker& marker);

// Whether a modulus and public exponent keep the bounds of SGRSA.h; both must be there.
bool publicKeyWithinBounds(const BIGNUM* n, const BIGNUM* e);
// The same for a private key, whose other items, where present, are no longer than n.
bool privateKeyWithinBounds(const SGRSAPrivateKey& key);

// SGRSABlinding_ConvertMessage. With a key that has p, q and qInv, the inverse of r is taken
// modulo p and q and recombined, which costs about half of an inversion modulo n.
int convertMessage(BIGNUM* blinded, BIGNUM* rInv, const BIGNUM* m, const BIGNUM* n, const BIGNUM* e,
                   const SGRSAPrivateKey* crtKey);

}  // namespace brindlow::crypto::rsa
