// How the token manager reaches the libraries: through the exported tables only. Base is always
// filled once the program is loaded; Crypto and Service stay empty after a failed crypto
// self-test, so every call through them checks its slot first.
#pragma once

#include "SGBaseTable.h"
#include "SGCryptoDefs.h"
#include "SGCryptoTable.h"
#include "SGServiceTable.h"

#define TM_BASE(name) SG_BASE_FN(Base, name)
#define TM_CRYPTO(name) SG_CRYPTO_FN(Crypto, name)
#define TM_CRYPTO_READY(name) (Crypto[SGCryptoSlot_##name] != nullptr)
#define TM_SERVICE(name) SG_SERVICE_FN(Service, name)
#define TM_SERVICE_READY(name) (Service[SGServiceSlot_##name] != nullptr)

namespace brindlow::token {

// What a call answers when its library's table is empty: the crypto self-test failed.
constexpr int kLibraryUnavailable = SG_CRYPTO_ERR_SELF_TEST;

}  // namespace brindlow::token
