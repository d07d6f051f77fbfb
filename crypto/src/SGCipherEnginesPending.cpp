// Stands in for the cipher-engine registry until the cipher layer is built; that layer defines
// these two functions itself and this file goes away.
#include "SGCryptoInternal.h"

namespace brindlow::crypto {

void registerCipherEngines() {}

void clearCipherEngines() {}

}  // namespace brindlow::crypto
