// Digest algorithm states and block functions, internal to the crypto library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brindlow::crypto {

// The SHA family's state, laid out as its reference code keeps it: bit length, buffered block,
// and the computed/corrupted flags that make a finished context keep its result.
struct Sha1State {
    uint32_t h[5];
    uint32_t lengthHigh, lengthLow;  // bits
    int16_t index;
    uint8_t block[64];
    int computed;
    int corrupted;
};
struct Sha256State {
    uint32_t h[8];
    uint32_t lengthHigh, lengthLow;
    int16_t index;
    uint8_t block[64];
    int computed;
    int corrupted;
};
struct Sha512State {
    uint64_t h[8];
    uint64_t lengthHigh, lengthLow;
    int16_t index;
    uint8_t block[128];
    int computed;
    int corrupted;
};
// Selector 0 SHA-1, 1 SHA-224, 2 SHA-256, 3 SHA-384, 4 SHA-512.
struct ShaState {
    int selector;
    union {
        Sha1State sha1;
        Sha256State sha256;
        Sha512State sha512;
    };
};
static_assert(sizeof(ShaState) == 232);

struct Has160State {
    uint32_t h[5];
    uint32_t count[2];  // bits: low, high
    uint8_t buffer[64];
};
static_assert(sizeof(Has160State) == 92);

struct Md5State {
    uint32_t lo, hi;  // bytes: low and high parts
    uint32_t a, b, c, d;
    uint8_t buffer[64];
    uint32_t block[16];
};
static_assert(sizeof(Md5State) == 152);

// SHA family (results are the reference code's: 0, 1 null, 2 too long, 3 state error, 4 bad
// selector).
int shaReset(ShaState* state, int selector);
int shaInput(ShaState* state, const uint8_t* data, size_t length);
int shaResult(ShaState* state, uint8_t* digest);
int shaHashSize(int selector);
int shaBlockSize(int selector);

void has160Init(Has160State* state);
void has160Update(Has160State* state, const uint8_t* data, size_t length);
void has160Final(Has160State* state, uint8_t digest[20]);

void md5Init(Md5State* state);
void md5Update(Md5State* state, const uint8_t* data, size_t length);
void md5Final(Md5State* state, uint8_t digest[16]);

// Block functions over whole blocks. The SHA extension forms exist on every build and run only
// where the processor has the instructions.
void sha1BlocksPortable(uint32_t h[5], const uint8_t* data, size_t blocks);
void sha1BlocksShaNi(uint32_t h[5], const uint8_t* data, size_t blocks);
void sha256BlocksPortable(uint32_t h[8], const uint8_t* data, size_t blocks);
void sha256BlocksShaNi(uint32_t h[8], const uint8_t* data, size_t blocks);
void sha512Blocks(uint64_t h[8], const uint8_t* data,
                  size_t blocks);  // the best of the three below
void sha512Portable(uint64_t h[8], const uint8_t* data, size_t blocks);
void sha512Bmi2(uint64_t h[8], const uint8_t* data, size_t blocks);    // needs BMI2
void sha512Avx(uint64_t h[8], const uint8_t* data, size_t blocks);     // needs AVX and BMI2
void sha512Avx512(uint64_t h[8], const uint8_t* data, size_t blocks);  // needs AVX-512VL and BMI2
bool cpuHasAvxAndBmi2();
bool cpuHasAvx512AndBmi2();
// True when the processor has the SHA extensions (with SSSE3 and SSE4.1), read once by cpuid.
bool cpuHasShaNi();

}  // namespace brindlow::crypto
