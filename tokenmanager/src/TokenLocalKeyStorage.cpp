#include "TokenLocalKeyStorage.h"

#include <new>

#include "SGBinary.h"
#include "SGRandom.h"
#include "TokenCodec.h"
#include "TokenTables.h"

namespace {

constexpr int kKeyIdBytes = 20;

void release(LocalKeySet* set) {
    TM_BASE(SGBinary_Cleanse)(&set->publicKey);
    TM_BASE(SGBinary_Cleanse)(&set->privateKey);
    delete set;
}

// A new id of 40 upper-case hexadecimal characters; empty when the generator cannot draw.
std::string newKeyId() {
    if (!TM_CRYPTO_READY(SGRandom_bytes)) return {};
    unsigned char bytes[kKeyIdBytes];
    if (TM_CRYPTO(SGRandom_bytes)(bytes, kKeyIdBytes) != 0) return {};
    return Hex::encode(bytes, kKeyIdBytes, false);
}

}  // namespace

TokenLocalKeyStorage::~TokenLocalKeyStorage() {
    for (auto& [id, set] : keys) release(set);
}

std::string TokenLocalKeyStorage::add(unsigned char* publicKey, unsigned int publicKeyLength,
                                      unsigned char* privateKey, unsigned int privateKeyLength) {
    if (!publicKey || !privateKey) return {};
    std::string id;
    // Ids are never reused: draw again in the (unlikely) case of a collision.
    do {
        id = newKeyId();
        if (id.empty()) return {};
    } while (keys.count(id));
    auto* set = new (std::nothrow) LocalKeySet{};
    if (!set) return {};
    if (TM_BASE(SGBinary_Set)(&set->publicKey, publicKey, publicKeyLength) != 0 ||
        TM_BASE(SGBinary_Set)(&set->privateKey, privateKey, privateKeyLength) != 0) {
        release(set);
        return {};
    }
    keys.emplace(id, set);
    return id;
}

std::string TokenLocalKeyStorage::add(SGBinary* publicKey, SGBinary* privateKey) {
    if (!publicKey || !privateKey) return {};
    return add(publicKey->data, publicKey->length, privateKey->data, privateKey->length);
}

LocalKeySet* TokenLocalKeyStorage::get(std::string keyId) {
    const auto found = keys.find(keyId);
    return found == keys.end() ? nullptr : found->second;
}

void TokenLocalKeyStorage::del(std::string keyId) {
    const auto found = keys.find(keyId);
    if (found == keys.end()) return;
    release(found->second);
    keys.erase(found);
}
