#include "SGCipher.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "SGAES.h"
#include "SGARIA.h"
#include "SGCipherEngines.h"
#include "SGCryptoInternal.h"
#include "SGDES.h"
#include "SGLEA.h"
#include "SGRC2.h"
#include "SGRC4.h"
#include "SGSEED.h"

static_assert(sizeof(SGCipherInfo) == 24);
static_assert(sizeof(SGCipherParameter) == SG_CIPHER_PARAMETER_SIZE);
static_assert(sizeof(SGCipherContext) == SG_CIPHER_CONTEXT_SIZE);
static_assert(offsetof(SGCipherParameter, marker) == SG_CIPHER_PARAMETER_SIZE - 4104);
static_assert(offsetof(SGCipherContext, parameter) == 28);
static_assert(offsetof(SGCipherContext, marker) == SG_CIPHER_CONTEXT_SIZE - 4104);

namespace {

using namespace brindlow::crypto;

constexpr SGCipherInfo kInfo[SG_CIPHER_MAX_ID + 1] = {
    {1, 16, 16, 16, 32, 8}, {1, 16, 24, 16, 32, 8}, {1, 16, 32, 16, 32, 8}, {1, 16, 16, 16, 16, 0},
    {1, 16, 16, 16, 32, 8}, {1, 16, 24, 16, 32, 8}, {1, 16, 32, 16, 32, 8}, {1, 8, 8, 8, 8, 0},
    {1, 8, 16, 16, 24, 0},  {1, 8, 8, 8, 32, 0},    {1, 8, 1, 1, 128, 0},   {1, 16, 16, 16, 32, 0},
    {1, 16, 24, 16, 32, 0}, {1, 16, 32, 16, 32, 0}};

// activeEngines: filled in registration order; written only by initialisation and finalisation.
struct Engine {
    int id;
    SGCipherSetupKeyFunction setupKey;
    SGCipherBlockFunction block;
    ModeFunction run;  // the engine's own mode loops; null for an engine registered from outside
};
constexpr int kMaxEngines = 25;
Engine activeEngines[kMaxEngines];
int activeEnginesCount = 0;

const Engine* findEngine(int id) {
    for (int i = 0; i < activeEnginesCount; ++i)
        if (activeEngines[i].id == id) return &activeEngines[i];
    return nullptr;
}

void addEngine(int id, SGCipherSetupKeyFunction setupKey, SGCipherBlockFunction block,
               ModeFunction run) {
    if (findEngine(id) || activeEnginesCount >= kMaxEngines) return;
    activeEngines[activeEnginesCount++] = Engine{id, setupKey, block, run};
}

// DES, triple DES, RC4 and RC2 take 1 for encryption; the others 1 for decryption.
bool encryptIsOne(int id) {
    return id >= SG_CIPHER_DES && id <= SG_CIPHER_RC2;
}
int engineDirection(int id, bool decrypt) {
    return decrypt != encryptIsOne(id) ? 1 : 0;
}

// The layer's own state in the context's reserved space.
struct Stream {
    int ready;               // initialised and not yet finished
    int decrypting;          // the direction Init set up
    uint32_t keystreamUsed;  // CTR decryption: bytes of keystream already used (block = none left)
    uint32_t produced;       // decryption: bytes produced, modulo 2^32
    unsigned char keystream[32];
};
static_assert(sizeof(Stream) <= sizeof(SGCipherContext::reserved));

Stream* stream(SGCipherContext* c) {
    return reinterpret_cast<Stream*>(c->reserved);
}

// Module hand-over of SEED and ARIA, as the validated module's table lays it out.
namespace moduleSlot {
using Init = int (*)(void* area, const unsigned char* key, uint32_t keyLength, int id,
                     void* parameterArea);
using Update = int (*)(void* area, unsigned char* out, uint32_t* outLength, const unsigned char* in,
                       uint32_t inLength);
using EncryptFinal = int (*)(void* area, unsigned char* out, uint32_t* outLength);
using DecryptFinal = int (*)(void* area, uint32_t* padLength);
enum {
    kEncryptInit = 11,
    kEncryptUpdate = 12,
    kEncryptFinal = 13,
    kDecryptInit = 15,
    kDecryptUpdate = 16,
    kDecryptFinal = 17
};
}  // namespace moduleSlot

void* const* moduleForInit(int id, const SGCipherParameter* p) {
    void* const* m = moduleTable();
    return m && id >= SG_CIPHER_SEED && id <= SG_CIPHER_ARIA256 && p->mode != SG_CIPHER_MODE_CFB
               ? m
               : nullptr;
}

void* const* moduleFor(const SGCipherContext* c) {
    void* const* m = moduleTable();
    return m && !SGCrypto_Structure_IsLegacy(&c->marker) ? m : nullptr;
}

int moduleInit(void* const* m, SGCipherContext* context, const unsigned char* key,
               uint32_t keyLength, int id, SGCipherParameter* p, bool decrypt) {
    std::memset(context, 0, sizeof *context);
    SGCrypto_Structure_Init(context, SG_STRUCTURE_CIPHER_CONTEXT);
    SGCrypto_Structure_Init(p, SG_STRUCTURE_CIPHER_PARAMETER);
    // The module reads mode, IV, IV length, feedback size and padding, in that order.
    unsigned char* area = p->marker.moduleArea;
    std::memcpy(area, &p->mode, sizeof p->mode);
    std::memcpy(area + 4, p->iv, sizeof p->iv);
    std::memcpy(area + 36, &p->ivLength, sizeof p->ivLength);
    std::memcpy(area + 40, &p->feedbackSize, sizeof p->feedbackSize);
    std::memcpy(area + 44, &p->padding, sizeof p->padding);
    const int slot = decrypt ? moduleSlot::kDecryptInit : moduleSlot::kEncryptInit;
    return reinterpret_cast<moduleSlot::Init>(m[slot])(context->marker.moduleArea, key, keyLength,
                                                       id, area);
}

int unitOf(const SGCipherContext* c) {
    const int mode = c->parameter.mode;
    return mode == SG_CIPHER_MODE_CFB || mode == SG_CIPHER_MODE_OFB ? c->parameter.feedbackSize
                                                                    : c->info.blockSize;
}

// The mode loops through an engine's block function, for engines without their own loops.
void genericRun(const Engine* e, const SGCipherContext* c, const ModeRun& run) {
    const int id = c->cipherId;
    void* area = run.area;
    auto block = e->block;
    const int forward = engineDirection(id, false), backward = engineDirection(id, true);
    auto enc = [=](unsigned char* o, const unsigned char* i) { block(o, i, area, forward); };
    auto dec = [=](unsigned char* o, const unsigned char* i) { block(o, i, area, backward); };
    if (c->info.blockSize == 8)
        runModeLoop<8>(run, enc, dec);
    else
        runModeLoop<16>(run, enc, dec);
}

// Whole units of input through the mode; returns 406 when the engine is gone.
int runUnits(SGCipherContext* c, unsigned char* out, const unsigned char* in, size_t length,
             bool decrypt) {
    if (length == 0) return 0;
    const Engine* e = findEngine(c->cipherId);
    if (!e) return SG_CIPHER_ERR_NOT_REGISTERED;
    const ModeRun run{c->engineArea,   c->parameter.mode,        decrypt, out, in, length,
                      c->parameter.iv, c->parameter.feedbackSize};
    if (e->run)
        e->run(run);
    else
        genericRun(e, c, run);
    return 0;
}

// One keystream block: the engine run forwards on the counter, which then advances.
int counterBlock(SGCipherContext* c, unsigned char* keystream) {
    const int b = c->info.blockSize;
    const Engine* e = findEngine(c->cipherId);
    if (!e) return SG_CIPHER_ERR_NOT_REGISTERED;
    e->block(keystream, c->parameter.iv, c->engineArea, engineDirection(c->cipherId, false));
    incrementCounter(c->parameter.iv, b);
    return 0;
}

void wipeEngine(SGCipherContext* c) {
    SGCrypto_cleanse(c->engineArea, sizeof c->engineArea);
    Stream* s = stream(c);
    SGCrypto_cleanse(s->keystream, sizeof s->keystream);
    s->ready = 0;
}

bool usable(SGCipherContext* c) {
    return stream(c)->ready && c->info.blockSize > 0 && unitOf(c) > 0;
}

// Keeps the last block-size bytes produced so far, for the padding check at Final.
void rememberOutput(SGCipherContext* c, const unsigned char* out, uint32_t n) {
    const uint32_t b = static_cast<uint32_t>(c->info.blockSize);
    stream(c)->produced += n;
    if (n >= b) {
        std::memcpy(c->lastBlock, out + n - b, b);
        c->lastBlockLength = b;
        return;
    }
    const uint32_t keep = c->lastBlockLength + n > b ? b - n : c->lastBlockLength;
    std::memmove(c->lastBlock, c->lastBlock + c->lastBlockLength - keep, keep);
    std::memcpy(c->lastBlock + keep, out, n);
    c->lastBlockLength = keep + n;
}

// Buffered whole-unit processing shared by Encrypt_Update and (all but CTR) Decrypt_Update.
int bufferedUpdate(SGCipherContext* c, unsigned char* out, uint32_t* outLength,
                   const unsigned char* in, uint32_t inLength, bool decrypt) {
    const uint32_t u = static_cast<uint32_t>(unitOf(c));
    uint32_t n = c->partialLength, produced = 0;
    if (uint64_t{n} + inLength < u) {
        if (inLength) std::memcpy(c->partial + n, in, inLength);
        c->partialLength = n + inLength;
        *outLength = 0;
        return 0;
    }
    if (n > 0) {
        const uint32_t take = u - n;
        std::memcpy(c->partial + n, in, take);
        in += take;
        inLength -= take;
        if (int r = runUnits(c, out, c->partial, u, decrypt)) return r;
        produced = u;
        c->partialLength = 0;
    }
    const uint32_t whole = inLength - inLength % u;
    if (int r = runUnits(c, out + produced, in, whole, decrypt)) return r;
    produced += whole;
    if (inLength > whole) std::memcpy(c->partial, in + whole, inLength - whole);
    c->partialLength = inLength - whole;
    *outLength = produced;
    return 0;
}

int initCommon(SGCipherContext* context, const unsigned char* key, uint32_t keyLength, int id,
               SGCipherParameter* parameter, bool decrypt) {
    if (!context || !key || !parameter) return SG_CIPHER_ERR_ARGUMENT;
    if (void* const* m = moduleForInit(id, parameter))
        return moduleInit(m, context, key, keyLength, id, parameter, decrypt);
    if (int r = SGCipher_Init(context, id, parameter)) return r;
    if (keyLength < static_cast<uint32_t>(context->info.minKeyLength))
        return SG_CIPHER_ERR_KEY_TOO_SHORT;
    const int mode = context->parameter.mode;
    // CFB, OFB and CTR only ever run the block function forwards.
    const bool backwards = decrypt && (mode == SG_CIPHER_MODE_ECB || mode == SG_CIPHER_MODE_CBC);
    if (int r = SGCipher_SetupKey(context, key, keyLength, backwards ? 1 : 0)) {
        SGCrypto_cleanse(context->engineArea, sizeof context->engineArea);
        return r;
    }
    Stream* s = stream(context);
    s->ready = 1;
    s->decrypting = decrypt ? 1 : 0;
    s->keystreamUsed = static_cast<uint32_t>(context->info.blockSize);
    return 0;
}

}  // namespace

namespace brindlow::crypto {

void registerCipherEngines() {
    addEngine(SG_CIPHER_SEED, SGCipher_SEED_SetupKey, SGCipher_SEED_Main, seedRunMode);
    for (int id : {SG_CIPHER_AES128, SG_CIPHER_AES192, SG_CIPHER_AES256})
        addEngine(id, SGCipher_AES_SetupKey, SGCipher_AES_Main, aesRunMode);
    for (int id : {SG_CIPHER_ARIA128, SG_CIPHER_ARIA192, SG_CIPHER_ARIA256})
        addEngine(id, SGCipher_ARIA_SetupKey, SGCipher_ARIA_Main, ariaRunMode);
    addEngine(SG_CIPHER_DES, SGCipher_DES_SetupKey, SGCipher_DES_Main, desRunMode);
    addEngine(SG_CIPHER_TDES, SGCipher_TDES_SetupKey, SGCipher_TDES_Main, tdesRunMode);
    addEngine(SG_CIPHER_RC4, SGCipher_RC4_SetupKey, SGCipher_RC4_Main, rc4RunMode);
    addEngine(SG_CIPHER_RC2, SGCipher_RC2_SetupKey, SGCipher_RC2_Main, rc2RunMode);
    for (int id : {SG_CIPHER_LEA128, SG_CIPHER_LEA192, SG_CIPHER_LEA256})
        addEngine(id, SGCipher_LEA_SetupKey, SGCipher_LEA_Main, leaRunMode);
}

void clearCipherEngines() {
    SGCipher_ResetEngine();
}

}  // namespace brindlow::crypto

extern "C" {

int SGCipher_RegisterEngine(int cipherId, SGCipherSetupKeyFunction setupKey,
                            SGCipherBlockFunction block) {
    addEngine(cipherId, setupKey, block, nullptr);
    return 0;
}

int SGCipher_ResetEngine(void) {
    activeEnginesCount = 0;
    std::memset(activeEngines, 0, sizeof activeEngines);
    return 0;
}

int SGCipher_GetInfo(SGCipherInfo* info, int cipherId) {
    if (!info) return SG_CIPHER_ERR_ARGUMENT;
    if (cipherId < 0 || cipherId > SG_CIPHER_MAX_ID) {
        info->supported = 1;
        return SG_CIPHER_ERR_ID;
    }
    *info = kInfo[cipherId];
    return 0;
}

int SGCipher_Init(SGCipherContext* context, int cipherId, const SGCipherParameter* parameter) {
    if (!context || !parameter) return SG_CIPHER_ERR_ARGUMENT;
    std::memset(context, 0, sizeof *context);
    if (cipherId < 0 || cipherId > SG_CIPHER_MAX_ID) return SG_CIPHER_ERR_ID;
    context->cipherId = cipherId;
    context->info = kInfo[cipherId];
    std::memcpy(&context->parameter, parameter, sizeof *parameter);
    const SGCipherParameter& p = context->parameter;
    const int b = context->info.blockSize;
    if (p.mode < SG_CIPHER_MODE_ECB || p.mode > SG_CIPHER_MODE_CTR) return SG_CIPHER_ERR_MODE;
    if (p.mode != SG_CIPHER_MODE_ECB) {
        if (p.ivLength < b) return SG_CIPHER_ERR_IV_LENGTH;
        // The IV field holds 32 bytes; and a CTR counter longer than the block would only ever
        // reach the block cipher through its first bytes, repeating the keystream.
        if (p.ivLength > SG_CIPHER_IV_SIZE) return SG_CIPHER_ERR_IV_LENGTH;
        if (p.mode == SG_CIPHER_MODE_CTR && p.ivLength != b) return SG_CIPHER_ERR_IV_LENGTH;
    }
    if (p.mode == SG_CIPHER_MODE_CFB || p.mode == SG_CIPHER_MODE_OFB) {
        if (p.feedbackSize <= 0 || p.feedbackSize > b) return SG_CIPHER_ERR_FEEDBACK;
    }
    if (p.padding < SG_CIPHER_PADDING_NONE || p.padding > SG_CIPHER_PADDING_PKCS7)
        return SG_CIPHER_ERR_PADDING_KIND;
    // A padded last block must split into whole segments, or its tail could never be output.
    if ((p.mode == SG_CIPHER_MODE_CFB || p.mode == SG_CIPHER_MODE_OFB) &&
        p.padding != SG_CIPHER_PADDING_NONE && b % p.feedbackSize != 0)
        return SG_CIPHER_ERR_FEEDBACK;
    return 0;
}

int SGCipher_SetupKey(SGCipherContext* context, const unsigned char* key, uint32_t keyLength,
                      int decrypt) {
    if (!context || !key) return SG_CIPHER_ERR_ARGUMENT;
    const Engine* e = findEngine(context->cipherId);
    if (!e) return SG_CIPHER_ERR_NOT_REGISTERED;
    const int fourth = context->cipherId == SG_CIPHER_RC2
                           ? context->parameter.rc2EffectiveBits
                           : engineDirection(context->cipherId, decrypt != 0);
    return e->setupKey(context->engineArea, key, keyLength, fourth);
}

int SGCipher_Main(SGCipherContext* context, unsigned char* output, uint32_t* outputLength,
                  const unsigned char* input, uint32_t length, int decrypt) {
    if (!context || !output || !input) return SG_CIPHER_ERR_ARGUMENT;
    const Engine* e = findEngine(context->cipherId);
    if (!e) return SG_CIPHER_ERR_NOT_REGISTERED;
    e->block(output, input, context->engineArea, engineDirection(context->cipherId, decrypt != 0));
    if (outputLength) *outputLength = length;
    return 0;
}

int SGCipher_Mode(SGCipherContext* context, unsigned char* output, uint32_t* outputLength,
                  const unsigned char* input, uint32_t length, int mode, int decrypt) {
    if (!context || !output || !input || !outputLength) return SG_CIPHER_ERR_ARGUMENT;
    if (mode != context->parameter.mode) return SG_CIPHER_ERR_MODE;
    const int u = unitOf(context);
    if (u <= 0 || length % static_cast<uint32_t>(u) != 0) return SG_CIPHER_ERR_ARGUMENT;
    if (int r = runUnits(context, output, input, length, decrypt != 0)) return r;
    *outputLength = length;
    return 0;
}

int SGCipher_Encrypt_Init(SGCipherContext* context, const unsigned char* key, uint32_t keyLength,
                          int cipherId, SGCipherParameter* parameter) {
    return initCommon(context, key, keyLength, cipherId, parameter, false);
}

int SGCipher_Decrypt_Init(SGCipherContext* context, const unsigned char* key, uint32_t keyLength,
                          int cipherId, SGCipherParameter* parameter) {
    return initCommon(context, key, keyLength, cipherId, parameter, true);
}

int SGCipher_Encrypt_Update(SGCipherContext* context, unsigned char* output, uint32_t* outputLength,
                            const unsigned char* input, uint32_t inputLength) {
    if (!context || !outputLength || !output || (!input && inputLength))
        return SG_CIPHER_ERR_ARGUMENT;
    if (void* const* m = moduleFor(context))
        return reinterpret_cast<moduleSlot::Update>(m[moduleSlot::kEncryptUpdate])(
            context->marker.moduleArea, output, outputLength, input, inputLength);
    if (!usable(context) || stream(context)->decrypting) return SG_CIPHER_ERR_ARGUMENT;
    return bufferedUpdate(context, output, outputLength, input, inputLength, false);
}

int SGCipher_Encrypt_Final(SGCipherContext* context, unsigned char* output,
                           uint32_t* outputLength) {
    if (!context || !output || !outputLength) return SG_CIPHER_ERR_ARGUMENT;
    if (void* const* m = moduleFor(context))
        return reinterpret_cast<moduleSlot::EncryptFinal>(m[moduleSlot::kEncryptFinal])(
            context->marker.moduleArea, output, outputLength);
    if (!usable(context) || stream(context)->decrypting) return SG_CIPHER_ERR_ARGUMENT;
    const uint32_t b = static_cast<uint32_t>(context->info.blockSize);
    const uint32_t n = context->partialLength;
    const int padding = context->parameter.padding;
    int result = 0;
    *outputLength = 0;
    if (context->parameter.mode == SG_CIPHER_MODE_CTR && n > 0) {
        // The last short piece: one keystream block, of which only n bytes are written.
        unsigned char* k = stream(context)->keystream;
        result = counterBlock(context, k);
        if (result == 0) {
            for (uint32_t i = 0; i < n; ++i) output[i] = context->partial[i] ^ k[i];
            *outputLength = n;
        }
    } else if (padding == SG_CIPHER_PADDING_NONE) {
        if (n > 0) result = SG_CIPHER_ERR_NOT_ALIGNED;
    } else {
        unsigned char block[32];
        std::memcpy(block, context->partial, n);
        const uint32_t p = b - n;
        for (uint32_t i = n; i < b; ++i)
            block[i] = padding == SG_CIPHER_PADDING_PKCS7 ? static_cast<unsigned char>(p) : 0;
        if (padding == SG_CIPHER_PADDING_ONE_AND_ZEROS) block[n] = 0x80;
        context->partialLength = 0;
        result = bufferedUpdate(context, output, outputLength, block, b, false);
        SGCrypto_cleanse(block, sizeof block);
    }
    SGCrypto_cleanse(context->partial, sizeof context->partial);
    context->partialLength = 0;
    wipeEngine(context);
    return result;
}

int SGCipher_Decrypt_Update(SGCipherContext* context, unsigned char* output, uint32_t* outputLength,
                            const unsigned char* input, uint32_t inputLength) {
    if (!context || !outputLength || !output || (!input && inputLength))
        return SG_CIPHER_ERR_ARGUMENT;
    if (void* const* m = moduleFor(context))
        return reinterpret_cast<moduleSlot::Update>(m[moduleSlot::kDecryptUpdate])(
            context->marker.moduleArea, output, outputLength, input, inputLength);
    if (!usable(context) || !stream(context)->decrypting) return SG_CIPHER_ERR_ARGUMENT;
    if (context->parameter.mode != SG_CIPHER_MODE_CTR) {
        if (int r = bufferedUpdate(context, output, outputLength, input, inputLength, true))
            return r;
        rememberOutput(context, output, *outputLength);
        return 0;
    }
    // CTR runs as a stream: keystream left from an earlier call first, then whole blocks, then
    // a short tail from a fresh keystream block whose rest waits for the next call.
    Stream* s = stream(context);
    const uint32_t b = static_cast<uint32_t>(context->info.blockSize);
    uint32_t done = 0;
    while (done < inputLength && s->keystreamUsed < b) {
        output[done] = input[done] ^ s->keystream[s->keystreamUsed++];
        ++done;
    }
    const uint32_t whole = (inputLength - done) - (inputLength - done) % b;
    if (int r = runUnits(context, output + done, input + done, whole, true)) return r;
    done += whole;
    if (done < inputLength) {
        if (int r = counterBlock(context, s->keystream)) return r;
        s->keystreamUsed = 0;
        while (done < inputLength) {
            output[done] = input[done] ^ s->keystream[s->keystreamUsed++];
            ++done;
        }
    }
    *outputLength = inputLength;
    rememberOutput(context, output, inputLength);
    return 0;
}

int SGCipher_Decrypt_Final(SGCipherContext* context, uint32_t* padLength) {
    if (!context || !padLength) return SG_CIPHER_ERR_ARGUMENT;
    if (void* const* m = moduleFor(context))
        return reinterpret_cast<moduleSlot::DecryptFinal>(m[moduleSlot::kDecryptFinal])(
            context->marker.moduleArea, padLength);
    if (!usable(context) || !stream(context)->decrypting) return SG_CIPHER_ERR_ARGUMENT;
    const uint32_t b = static_cast<uint32_t>(context->info.blockSize);
    const int padding = context->parameter.padding;
    int result = 0;
    *padLength = 0;
    if (context->partialLength > 0) {
        result = SG_CIPHER_ERR_LEFT_OVER;
    } else if (padding == SG_CIPHER_PADDING_NONE || padding == SG_CIPHER_PADDING_ZERO) {
        // Nothing to remove: zero padding stays part of the plaintext.
    } else if (context->parameter.mode == SG_CIPHER_MODE_CTR && stream(context)->produced % b) {
        // Encryption pads a CTR message only when it ends on a block boundary.
    } else if (context->lastBlockLength != b) {
        result = SG_CIPHER_ERR_BAD_PADDING;
    } else if (padding == SG_CIPHER_PADDING_PKCS7) {
        const uint32_t v = context->lastBlock[b - 1];
        bool ok = v >= 1 && v <= b;
        for (uint32_t i = 1; ok && i < v; ++i) ok = context->lastBlock[b - 1 - i] == v;
        if (ok)
            *padLength = v;
        else
            result = SG_CIPHER_ERR_BAD_PADDING;
    } else {
        uint32_t examined = 0;
        result = SG_CIPHER_ERR_BAD_PADDING;
        while (examined < b) {
            const unsigned char v = context->lastBlock[b - 1 - examined++];
            if (v == 0) continue;
            if (v == 0x80) {
                *padLength = examined;
                result = 0;
            }
            break;
        }
    }
    SGCrypto_cleanse(context->lastBlock, sizeof context->lastBlock);
    context->lastBlockLength = 0;
    SGCrypto_cleanse(context->partial, sizeof context->partial);
    context->partialLength = 0;
    wipeEngine(context);
    return result;
}

int SGCipher_Encrypt(unsigned char* output, uint32_t* outputLength, const unsigned char* input,
                     uint32_t inputLength, const unsigned char* key, uint32_t keyLength,
                     int cipherId, SGCipherParameter* parameter) {
    if (!output || !outputLength || (!input && inputLength) || !key || !parameter)
        return SG_CIPHER_ERR_ARGUMENT;
    SGCipherContext context;
    std::memset(&context, 0, sizeof context);
    uint32_t produced = 0, last = 0;
    int r = SGCipher_Encrypt_Init(&context, key, keyLength, cipherId, parameter);
    if (r == 0) r = SGCipher_Encrypt_Update(&context, output, &produced, input, inputLength);
    if (r == 0) r = SGCipher_Encrypt_Final(&context, output + produced, &last);
    if (r == 0) *outputLength = produced + last;
    SGCrypto_cleanse(&context, sizeof context);
    return r;
}

int SGCipher_Decrypt(unsigned char* output, uint32_t* outputLength, const unsigned char* input,
                     uint32_t inputLength, const unsigned char* key, uint32_t keyLength,
                     int cipherId, SGCipherParameter* parameter) {
    if (!key || !output || !outputLength || !input || !parameter) return SG_CIPHER_ERR_ARGUMENT;
    SGCipherContext context;
    std::memset(&context, 0, sizeof context);
    uint32_t produced = 0, pad = 0;
    int r = SGCipher_Decrypt_Init(&context, key, keyLength, cipherId, parameter);
    if (r == 0) r = SGCipher_Decrypt_Update(&context, output, &produced, input, inputLength);
    if (r == 0) r = SGCipher_Decrypt_Final(&context, &pad);
    if (r == 0) *outputLength = produced - pad;
    SGCrypto_cleanse(&context, sizeof context);
    return r;
}

}  // extern "C"
