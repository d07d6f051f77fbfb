#include "SGCMAC.h"

#include <cstring>

static_assert(sizeof(SGCMACContext) == 24);

namespace {

constexpr uint32_t kKeyBytes = 8;

// CBC, an 8-byte zero IV, zero padding.
SGCipherParameter macParameter() {
    SGCipherParameter p;
    std::memset(&p, 0, sizeof p);
    p.mode = SG_CIPHER_MODE_CBC;
    p.ivLength = 8;
    p.padding = SG_CIPHER_PADDING_ZERO;
    return p;
}

}  // namespace

extern "C" {

int SGCMAC_GetMACSize(int* size) {
    if (!size) return SG_CRYPTO_ERR_ARGUMENT;
    *size = SG_CMAC_SIZE;
    return 0;
}

int SGCMAC_Init(SGCMACContext* context, int cipherId, int macType, const unsigned char* key,
                uint32_t keyLength) {
    if (!context) return SG_CRYPTO_ERR_ARGUMENT;
    std::memset(context, 0, sizeof *context);
    if (!key || keyLength == 0) return SG_CRYPTO_ERR_ARGUMENT;
    auto* cipher = static_cast<SGCipherContext*>(SGCrypto_calloc(1, sizeof(SGCipherContext)));
    if (!cipher) return SG_CRYPTO_ERR_MEMORY;
    context->cipher = cipher;
    context->macType = macType;
    if (macType != SG_CMAC_TYPE_CBC_MAC) return SG_CRYPTO_ERR_NOT_SUPPORTED;
    if (keyLength < kKeyBytes) return SG_CRYPTO_ERR_ARGUMENT;
    SGCipherParameter p = macParameter();
    return SGCipher_Encrypt_Init(cipher, key, kKeyBytes, cipherId, &p);
}

int SGCMAC_Update(SGCMACContext* context, const unsigned char* data, uint32_t length) {
    if (!context || !context->cipher || (!data && length)) return SG_CRYPTO_ERR_ARGUMENT;
    // Only the chaining value matters; the ciphertext goes through a small buffer.
    unsigned char scratch[1024 + 32];
    while (length > 0) {
        const uint32_t piece = length < 1024 ? length : 1024;
        uint32_t produced = 0;
        if (int r = SGCipher_Encrypt_Update(context->cipher, scratch, &produced, data, piece))
            return r;
        data += piece;
        length -= piece;
    }
    return 0;
}

int SGCMAC_Final(SGCMACContext* context, unsigned char* mac, uint32_t* macLength) {
    if (!context || !context->cipher || !mac || !macLength) return SG_CRYPTO_ERR_ARGUMENT;
    unsigned char last[32];
    uint32_t produced = 0;
    const int r = SGCipher_Encrypt_Final(context->cipher, last, &produced);
    if (r != 0) return r;
    if (produced < SG_CMAC_SIZE) return SG_CIPHER_ERR_ARGUMENT;
    std::memcpy(mac, last + produced - SG_CMAC_SIZE, SG_CMAC_SIZE);
    *macLength = SG_CMAC_SIZE;
    return 0;
}

int SGCMACContext_Clear(SGCMACContext* context) {
    if (!context || !context->cipher) return 0;
    // A context that never reached Final still holds its key schedule.
    SGCrypto_cleanse(context->cipher, sizeof(SGCipherContext));
    SGCrypto_free(context->cipher);
    context->cipher = nullptr;
    return 0;
}

int SGCMAC(unsigned char* mac, uint32_t* macLength, int cipherId, int macType,
           const unsigned char* data, uint32_t dataLength, const unsigned char* key,
           uint32_t keyLength) {
    SGCMACContext context;
    int r = SGCMAC_Init(&context, cipherId, macType, key, keyLength);
    if (r == 0) r = SGCMAC_Update(&context, data, dataLength);
    if (r == 0) r = SGCMAC_Final(&context, mac, macLength);
    SGCMACContext_Clear(&context);
    return r;
}

}  // extern "C"
