// The mode loops, shared by every engine. Each engine instantiates them with its own block
// functions inlined, so the per-block cost is the cipher alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace brindlow::crypto {

enum : int { kModeEcb = 1, kModeCbc = 2, kModeCfb = 3, kModeOfb = 4, kModeCtr = 5 };

// One run of whole units: length is a multiple of the block size (ECB, CBC, CTR) or of the
// feedback size (CFB, OFB). reg is the chaining register (the context's IV field); the output
// may be the input but must not overlap it otherwise.
struct ModeRun {
    void* area;
    int mode;
    bool decrypt;
    unsigned char* out;
    const unsigned char* in;
    size_t length;
    unsigned char* reg;
    int feedback;
};

using ModeFunction = void (*)(const ModeRun&);

// Increments a block as one big-endian number, wrapping at all ones.
inline void incrementCounter(unsigned char* counter, int size) {
    for (int i = size - 1; i >= 0; --i)
        if (++counter[i] != 0) break;
}

template <int B>
inline void xorBlock(unsigned char* out, const unsigned char* a, const unsigned char* b) {
    if constexpr (B == 16) {
        uint64_t x[2], y[2];
        std::memcpy(x, a, 16);
        std::memcpy(y, b, 16);
        x[0] ^= y[0];
        x[1] ^= y[1];
        std::memcpy(out, x, 16);
    } else {
        uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        x ^= y;
        std::memcpy(out, &x, 8);
    }
}

// Enc and Dec are callables (out, in) for one block forwards and backwards.
template <int B, class Enc, class Dec>
inline void runModeLoop(const ModeRun& r, Enc&& enc, Dec&& dec) {
    const unsigned char* in = r.in;
    unsigned char* out = r.out;
    unsigned char* reg = r.reg;
    unsigned char k[B];
    switch (r.mode) {
        case kModeEcb:
            for (size_t n = 0; n < r.length; n += B)
                r.decrypt ? dec(out + n, in + n) : enc(out + n, in + n);
            break;
        case kModeCbc:
            if (!r.decrypt) {
                for (size_t n = 0; n < r.length; n += B) {
                    xorBlock<B>(k, reg, in + n);
                    enc(reg, k);
                    std::memcpy(out + n, reg, B);
                }
            } else {
                unsigned char c[B];
                for (size_t n = 0; n < r.length; n += B) {
                    std::memcpy(c, in + n, B);
                    dec(k, c);
                    xorBlock<B>(out + n, k, reg);
                    std::memcpy(reg, c, B);
                }
            }
            break;
        case kModeCfb:
        case kModeOfb: {
            const int s = r.feedback;
            if (s == B) {
                for (size_t n = 0; n < r.length; n += B) {
                    enc(k, reg);
                    if (r.mode == kModeOfb) {
                        std::memcpy(reg, k, B);
                        xorBlock<B>(out + n, in + n, k);
                    } else if (!r.decrypt) {
                        xorBlock<B>(reg, in + n, k);
                        std::memcpy(out + n, reg, B);
                    } else {
                        std::memcpy(reg, in + n, B);
                        xorBlock<B>(out + n, reg, k);
                    }
                }
                break;
            }
            unsigned char seg[B];
            for (size_t n = 0; n < r.length; n += s) {
                enc(k, reg);
                for (int j = 0; j < s; ++j) seg[j] = in[n + j];
                std::memmove(reg, reg + s, B - s);
                for (int j = 0; j < s; ++j) {
                    out[n + j] = static_cast<unsigned char>(seg[j] ^ k[j]);
                    if (r.mode == kModeOfb)
                        reg[B - s + j] = k[j];
                    else
                        reg[B - s + j] = r.decrypt ? seg[j] : out[n + j];
                }
            }
            break;
        }
        case kModeCtr:
            for (size_t n = 0; n < r.length; n += B) {
                enc(k, reg);
                incrementCounter(reg, B);
                xorBlock<B>(out + n, in + n, k);
            }
            break;
        default:
            break;
    }
    std::memset(k, 0, B);
    asm volatile("" : : "r"(k) : "memory");  // keystream scratch: keep the wipe
}

// True for the modes whose blocks are independent of each other through the block function:
// ECB, CBC decryption, CTR and CFB decryption with whole-block feedback. Those can hand the
// block function many blocks at once.
inline bool modeRunsWide(const ModeRun& r, int blockSize) {
    switch (r.mode) {
        case kModeEcb:
        case kModeCtr:
            return true;
        case kModeCbc:
            return r.decrypt;
        case kModeCfb:
            return r.decrypt && r.feedback == blockSize;
        default:
            return false;
    }
}

// The mode loops for an engine whose block function does not depend on the direction (the key
// schedule does) and which can also run N blocks at once: many(out, in) runs N consecutive
// blocks, one(out, in) a single block. Modes where each block needs the one before (CBC and
// CFB encryption, OFB) and the tail of fewer than N blocks run one block at a time, exactly as
// runModeLoop does; the outputs are the same.
template <int B, int N, class One, class Many>
inline void runModeLoopWide(const ModeRun& r, One&& one, Many&& many) {
    if (!modeRunsWide(r, B) || r.length < size_t{B} * N) {
        runModeLoop<B>(r, one, one);
        return;
    }
    constexpr size_t kChunk = size_t{B} * N;
    const unsigned char* in = r.in;
    unsigned char* out = r.out;
    unsigned char* reg = r.reg;
    alignas(16) unsigned char work[kChunk];
    alignas(16) unsigned char keystream[kChunk];
    size_t n = 0;
    for (; n + kChunk <= r.length; n += kChunk) {
        switch (r.mode) {
            case kModeEcb:
                many(out + n, in + n);
                break;
            case kModeCbc: {
                // Decrypt into the work area, then chain from the last block back to the first,
                // so that output written over the input never meets a ciphertext still needed.
                many(work, in + n);
                unsigned char last[B];
                std::memcpy(last, in + n + kChunk - B, B);
                for (int j = N - 1; j > 0; --j)
                    xorBlock<B>(out + n + size_t{B} * j, work + size_t{B} * j,
                                in + n + size_t{B} * (j - 1));
                xorBlock<B>(out + n, work, reg);
                std::memcpy(reg, last, B);
                break;
            }
            case kModeCtr:
                for (int j = 0; j < N; ++j) {
                    std::memcpy(work + size_t{B} * j, reg, B);
                    incrementCounter(reg, B);
                }
                many(keystream, work);
                for (int j = 0; j < N; ++j)
                    xorBlock<B>(out + n + size_t{B} * j, in + n + size_t{B} * j,
                                keystream + size_t{B} * j);
                break;
            default: {  // CFB decryption: each keystream block enciphers the ciphertext before
                std::memcpy(work, reg, B);
                std::memcpy(work + B, in + n, kChunk - B);
                std::memcpy(reg, in + n + kChunk - B, B);
                many(keystream, work);
                for (int j = 0; j < N; ++j)
                    xorBlock<B>(out + n + size_t{B} * j, in + n + size_t{B} * j,
                                keystream + size_t{B} * j);
                break;
            }
        }
    }
    std::memset(work, 0, sizeof work);
    std::memset(keystream, 0, sizeof keystream);
    asm volatile("" : : "r"(work), "r"(keystream) : "memory");  // plaintext and keystream
    if (n < r.length) {
        ModeRun rest = r;
        rest.in = in + n;
        rest.out = out + n;
        rest.length = r.length - n;
        runModeLoop<B>(rest, one, one);
    }
}

}  // namespace brindlow::crypto
