#include "SGRC4.h"

#include "SGCipherEngines.h"

namespace {

using namespace brindlow::crypto;

struct State {
    unsigned char s[256];
    unsigned char i, j;
};
static_assert(sizeof(State) == 258);

inline void keystream(State* st, unsigned char* out, const unsigned char* in, size_t n) {
    unsigned char i = st->i, j = st->j;
    for (size_t k = 0; k < n; ++k) {
        i = static_cast<unsigned char>(i + 1);
        const unsigned char si = st->s[i];
        j = static_cast<unsigned char>(j + si);
        const unsigned char sj = st->s[j];
        st->s[i] = sj;
        st->s[j] = si;
        out[k] = static_cast<unsigned char>(in[k] ^ st->s[static_cast<unsigned char>(si + sj)]);
    }
    st->i = i;
    st->j = j;
}

}  // namespace

namespace brindlow::crypto {

void rc4RunMode(const ModeRun& run) {
    auto* st = static_cast<State*>(run.area);
    // The keystream runs on, block after block, in whichever mode the blocks are chained.
    auto block = [st](unsigned char* o, const unsigned char* i) { keystream(st, o, i, 8); };
    if (run.mode == kModeEcb) {
        keystream(st, run.out, run.in, run.length);
        return;
    }
    runModeLoop<8>(run, block, block);
}

}  // namespace brindlow::crypto

extern "C" {

int SGRC4_init(unsigned char* state, const unsigned char* key, uint32_t keyLength) {
    if (!state || !key || keyLength == 0) return 401;
    auto* st = reinterpret_cast<State*>(state);
    for (int k = 0; k < 256; ++k) st->s[k] = static_cast<unsigned char>(k);
    unsigned char j = 0;
    for (int k = 0; k < 256; ++k) {
        j = static_cast<unsigned char>(j + st->s[k] + key[k % keyLength]);
        const unsigned char t = st->s[k];
        st->s[k] = st->s[j];
        st->s[j] = t;
    }
    st->i = 0;
    st->j = 0;
    return 0;
}

void SGRC4_crypt(unsigned char* state, unsigned char* output, const unsigned char* input,
                 uint32_t length) {
    keystream(reinterpret_cast<State*>(state), output, input, length);
}

int SGCipher_RC4_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength, int) {
    return SGRC4_init(static_cast<unsigned char*>(engineArea), key, keyLength);
}

void SGCipher_RC4_Main(unsigned char* output, const unsigned char* input, void* engineArea, int) {
    keystream(static_cast<State*>(engineArea), output, input, 8);
}

}  // extern "C"
