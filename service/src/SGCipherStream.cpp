#include "SGCipherStream.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "SGMemory.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"

static_assert(offsetof(SGCipherStream, context) == 8);
static_assert(sizeof(SGCipherStream) == 14896);

namespace {

constexpr uint64_t kMaxChunk = 16u << 20;

void wipe(void* p, size_t n) {
    if (p && n) SG_GBW(SGMemory_cleanse)(p, n);
}

SGStream* nextOf(SGCipherStream* s) {
    return s->stream ? s->stream->next : nullptr;
}

// Moves up to n pending bytes to out; what is left moves to the front.
uint32_t takePending(SGCipherStream* s, uint8_t* out, uint32_t n) {
    const uint32_t k = std::min(n, s->pending.length);
    if (k == 0) return 0;
    std::memcpy(out, s->pending.data, k);
    std::memmove(s->pending.data, s->pending.data + k, s->pending.length - k);
    s->pending.length -= k;
    return k;
}

// Input stage: exactly length bytes of ciphertext, produced from the source as needed.
int encryptRead(void* user, void* destination, uint32_t length) {
    auto* s = static_cast<SGCipherStream*>(user);
    auto* out = static_cast<uint8_t*>(destination);
    SGStream* source = nextOf(s);
    if (!source || (!out && length)) return SG_PKI_ERR_ARGUMENT;
    uint32_t done = takePending(s, out, length);
    int r = 0;
    while (r == 0 && done < length) {
        if (s->finished) return SG_PKI_ERR_NO_DATA;  // asked past the end
        uint64_t left = 0;
        if (SG_GBW(SGStream_ReadAvailable)(&left, source) != 0) left = 0;
        const auto k = static_cast<uint32_t>(std::min<uint64_t>(s->chunkSize, left));
        uint32_t produced = 0;
        if (k > 0) {
            r = SG_GBW(SGStream_Read)(s->chunk.data, k, source);
            if (r == 0)
                r = SG_GCW(SGCipher_Encrypt_Update)(&s->context, s->pending.data, &produced,
                                                    s->chunk.data, k);
        }
        if (r == 0 && k == left) {
            // The source is exhausted: the padding block follows.
            uint32_t last = 0;
            r = SG_GCW(SGCipher_Encrypt_Final)(&s->context, s->pending.data + produced, &last);
            produced += last;
            s->finished = 1;
        }
        if (r == 0) {
            s->pending.length = produced;
            done += takePending(s, out + done, length - done);
        }
    }
    return r;
}

// The ciphertext still to come: what is pending, and unless finished the padded length of what
// the source and the cipher's partial block still hold.
uint64_t encryptAvailable(void* user) {
    auto* s = static_cast<SGCipherStream*>(user);
    uint64_t left = 0;
    SGStream* source = nextOf(s);
    if (!s->finished && source && SG_GBW(SGStream_ReadAvailable)(&left, source) != 0) left = 0;
    if (s->finished) return s->pending.length;
    const uint64_t b = static_cast<uint64_t>(s->blockLength);
    const uint64_t rest = left + s->context.partialLength;
    return s->pending.length + rest - rest % b + b;
}

int closeInput(void*) {
    return 0;
}

// Output stage: decrypts any number of bytes; the last block produced is held back for the
// padding check at the flush.
int decryptWrite(void* user, const void* source, uint32_t length) {
    auto* s = static_cast<SGCipherStream*>(user);
    SGStream* destination = nextOf(s);
    if (!destination || (!source && length)) return SG_PKI_ERR_ARGUMENT;
    const auto* in = static_cast<const uint8_t*>(source);
    const auto b = static_cast<uint32_t>(s->blockLength);
    int r = 0;
    while (r == 0 && length > 0) {
        const auto k = static_cast<uint32_t>(std::min<uint64_t>(length, s->chunkSize));
        uint32_t produced = 0;
        r = SG_GCW(SGCipher_Decrypt_Update)(&s->context, s->chunk.data, &produced, in, k);
        if (r == 0 && produced >= b) {
            // The block held back before goes out; the new last block waits.
            if (s->pending.length)
                r = SG_GBW(SGStream_Write)(s->pending.data, s->pending.length, destination);
            if (r == 0 && produced > b)
                r = SG_GBW(SGStream_Write)(s->chunk.data, produced - b, destination);
            std::memcpy(s->pending.data, s->chunk.data + produced - b, b);
            s->pending.length = b;
        }
        wipe(s->chunk.data, produced);
        in += k;
        length -= k;
    }
    return r;
}

int decryptFlush(void* user) {
    auto* s = static_cast<SGCipherStream*>(user);
    SGStream* destination = nextOf(s);
    if (!destination) return SG_PKI_ERR_ARGUMENT;
    uint32_t pad = 0;
    int r = SG_GCW(SGCipher_Decrypt_Final)(&s->context, &pad);
    if (r == 0 && (s->pending.length == 0 || pad > s->pending.length))
        r = SG_CIPHER_ERR_BAD_PADDING;
    if (r == 0 && s->pending.length > pad)
        r = SG_GBW(SGStream_Write)(s->pending.data, s->pending.length - pad, destination);
    wipe(s->pending.data, s->pending.length);
    s->pending.length = 0;
    return r;
}

int closeOutput(void* user) {
    auto* s = static_cast<SGCipherStream*>(user);
    const int r = nextOf(s) ? SG_GBW(SGStream_Close)(nextOf(s)) : 0;
    wipe(&s->context, sizeof s->context);
    return r;
}

void release(SGCipherStream* s) {
    if (!s) return;
    for (SGBinary* b : {&s->chunk, &s->pending}) {
        if (b->data) {
            wipe(b->data, static_cast<size_t>(s->chunkSize) + 2u * 32u);
            SG_GBW(SGMemory_free)(b->data);
        }
        *b = SGBinary{};
    }
    wipe(s, sizeof *s);
    SG_GBW(SGMemory_free)(s);
}

// The common set-up of both stages; the state on success.
int generate(SGCipherStream** out, SGStream* stream, SGStream* next, int encrypt,
             uint64_t chunkSize, int cipherId, const SGBinary* key, const SGBinary* iv) {
    if (!stream || !next || !key || !key->data || !iv || (!iv->data && iv->length) ||
        iv->length > SG_CIPHER_IV_SIZE || chunkSize > kMaxChunk)
        return SG_PKI_ERR_ARGUMENT;
    if (chunkSize == 0) chunkSize = SG_CIPHER_STREAM_CHUNK;
    SGCipherInfo info{};
    if (int r = SG_GCW(SGCipher_GetInfo)(&info, cipherId)) return r;
    if (info.blockSize <= 0 || info.blockSize > 32) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    auto* s = static_cast<SGCipherStream*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGCipherStream)));
    if (!s) return SG_PKI_ERR_MEMORY;
    s->chunkSize = chunkSize;
    s->blockLength = info.blockSize;
    s->direction = encrypt;
    // Both buffers have room for a chunk and two blocks (an update's carry and the padding).
    const size_t room = static_cast<size_t>(chunkSize) + 2u * 32u;
    s->chunk.data = static_cast<uint8_t*>(SG_GBW(SGMemory_calloc)(1, room));
    s->pending.data = static_cast<uint8_t*>(SG_GBW(SGMemory_calloc)(1, room));
    if (!s->chunk.data || !s->pending.data) {
        release(s);
        return SG_PKI_ERR_MEMORY;
    }
    s->chunk.length = static_cast<uint32_t>(chunkSize);
    s->parameter.mode = SG_CIPHER_MODE_CBC;
    s->parameter.padding = SG_CIPHER_PADDING_PKCS7;
    if (iv->length) std::memcpy(s->parameter.iv, iv->data, iv->length);
    s->parameter.ivLength = static_cast<int>(iv->length);
    int r = encrypt ? SG_GCW(SGCipher_Encrypt_Init)(&s->context, key->data, key->length, cipherId,
                                                    &s->parameter)
                    : SG_GCW(SGCipher_Decrypt_Init)(&s->context, key->data, key->length, cipherId,
                                                    &s->parameter);
    if (r == 0) r = SG_GBW(SGStream_AddChain)(stream, next);
    if (r != 0) {
        release(s);
        return r;
    }
    s->stream = stream;
    *out = s;
    return 0;
}

}  // namespace

extern "C" {

int SGCipherStream_GenerateForInput(SGStream* stream, SGStream* source, int encrypt,
                                    uint64_t chunkSize, int cipherId, const SGBinary* key,
                                    const SGBinary* iv) {
    if (encrypt != 1) return SG_PKI_ERR_ARGUMENT;
    try {
        SGCipherStream* s = nullptr;
        if (int r = generate(&s, stream, source, encrypt, chunkSize, cipherId, key, iv)) return r;
        if (SG_GBW(SGStream_ReadAvailable)(&s->sourceAvailable, source) != 0)
            s->sourceAvailable = 0;
        return SG_GBW(SGStream_InitForInput)(stream, encryptRead, encryptAvailable, nullptr,
                                             closeInput, s);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGCipherStream_GenerateForOutput(SGStream* stream, SGStream* destination, int encrypt,
                                     uint64_t chunkSize, int cipherId, const SGBinary* key,
                                     const SGBinary* iv) {
    if (encrypt != 0) return SG_PKI_ERR_ARGUMENT;
    try {
        SGCipherStream* s = nullptr;
        if (int r = generate(&s, stream, destination, encrypt, chunkSize, cipherId, key, iv))
            return r;
        return SG_GBW(SGStream_InitForOutput)(stream, decryptWrite, nullptr, decryptFlush,
                                              closeOutput, s);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGCipherStream_Reset(SGStream* stream) {
    if (!stream || !stream->user) return 0;
    auto* s = static_cast<SGCipherStream*>(stream->user);
    if (s->stream != stream) return 0;  // not a stage of ours
    release(s);
    stream->user = nullptr;
    SG_GBW(SGStream_Reset)(stream);
    return 0;
}

}  // extern "C"
