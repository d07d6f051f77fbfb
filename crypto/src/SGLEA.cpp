#include "SGLEA.h"

#include <cstring>

#include "SGCipherEngines.h"

namespace {

using namespace brindlow::crypto;

constexpr uint32_t rotl(uint32_t x, int n) {
    return (x << (n & 31)) | (x >> ((32 - n) & 31));
}
constexpr uint32_t rotr(uint32_t x, int n) {
    return (x >> (n & 31)) | (x << ((32 - n) & 31));
}

constexpr uint32_t kDelta[8] = {0xc3efe9db, 0x44626b02, 0x79e27c8a, 0x78df30ec,
                                0x715ea49e, 0xc785da0a, 0xe04ef22a, 0xe5c40957};

// The constants as each round adds them: delta[i mod n] rotated left by i + j for word j.
struct RotatedDeltas {
    uint32_t d[32][6];
};

constexpr RotatedDeltas makeDeltas(int n) {
    RotatedDeltas r{};
    for (int i = 0; i < 32; ++i)
        for (int j = 0; j < 6; ++j) r.d[i][j] = rotl(kDelta[i % n], i + j);
    return r;
}

constexpr RotatedDeltas kDelta4 = makeDeltas(4), kDelta6 = makeDeltas(6), kDelta8 = makeDeltas(8);

struct Schedule {
    uint32_t rk[32][6];
    int rounds;
};
static_assert(sizeof(Schedule) <= 2048);

inline uint32_t load32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;  // little-endian words, as the cipher defines them
}

inline void store32(unsigned char* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

template <int Rounds>
inline void encryptRounds(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3,
                          const uint32_t (*rk)[6]) {
    // Four rounds per step: the words rotate by renaming instead of moving.
    for (int i = 0; i < Rounds; i += 4) {
        x3 = rotr((x2 ^ rk[i][4]) + (x3 ^ rk[i][5]), 3);
        x2 = rotr((x1 ^ rk[i][2]) + (x2 ^ rk[i][3]), 5);
        x1 = rotl((x0 ^ rk[i][0]) + (x1 ^ rk[i][1]), 9);
        x0 = rotr((x3 ^ rk[i + 1][4]) + (x0 ^ rk[i + 1][5]), 3);
        x3 = rotr((x2 ^ rk[i + 1][2]) + (x3 ^ rk[i + 1][3]), 5);
        x2 = rotl((x1 ^ rk[i + 1][0]) + (x2 ^ rk[i + 1][1]), 9);
        x1 = rotr((x0 ^ rk[i + 2][4]) + (x1 ^ rk[i + 2][5]), 3);
        x0 = rotr((x3 ^ rk[i + 2][2]) + (x0 ^ rk[i + 2][3]), 5);
        x3 = rotl((x2 ^ rk[i + 2][0]) + (x3 ^ rk[i + 2][1]), 9);
        x2 = rotr((x1 ^ rk[i + 3][4]) + (x2 ^ rk[i + 3][5]), 3);
        x1 = rotr((x0 ^ rk[i + 3][2]) + (x1 ^ rk[i + 3][3]), 5);
        x0 = rotl((x3 ^ rk[i + 3][0]) + (x0 ^ rk[i + 3][1]), 9);
    }
}

template <int Rounds>
inline void decryptRounds(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3,
                          const uint32_t (*rk)[6]) {
    for (int i = Rounds - 1; i >= 0; i -= 4) {
        x0 = (rotr(x0, 9) - (x3 ^ rk[i][0])) ^ rk[i][1];
        x1 = (rotl(x1, 5) - (x0 ^ rk[i][2])) ^ rk[i][3];
        x2 = (rotl(x2, 3) - (x1 ^ rk[i][4])) ^ rk[i][5];
        x3 = (rotr(x3, 9) - (x2 ^ rk[i - 1][0])) ^ rk[i - 1][1];
        x0 = (rotl(x0, 5) - (x3 ^ rk[i - 1][2])) ^ rk[i - 1][3];
        x1 = (rotl(x1, 3) - (x0 ^ rk[i - 1][4])) ^ rk[i - 1][5];
        x2 = (rotr(x2, 9) - (x1 ^ rk[i - 2][0])) ^ rk[i - 2][1];
        x3 = (rotl(x3, 5) - (x2 ^ rk[i - 2][2])) ^ rk[i - 2][3];
        x0 = (rotl(x0, 3) - (x3 ^ rk[i - 2][4])) ^ rk[i - 2][5];
        x1 = (rotr(x1, 9) - (x0 ^ rk[i - 3][0])) ^ rk[i - 3][1];
        x2 = (rotl(x2, 5) - (x1 ^ rk[i - 3][2])) ^ rk[i - 3][3];
        x3 = (rotl(x3, 3) - (x2 ^ rk[i - 3][4])) ^ rk[i - 3][5];
    }
}

inline void leaEncrypt(unsigned char* out, const unsigned char* in, const Schedule* s) {
    uint32_t x0 = load32(in), x1 = load32(in + 4), x2 = load32(in + 8), x3 = load32(in + 12);
    if (s->rounds <= 24)
        encryptRounds<24>(x0, x1, x2, x3, s->rk);
    else if (s->rounds <= 28)
        encryptRounds<28>(x0, x1, x2, x3, s->rk);
    else
        encryptRounds<32>(x0, x1, x2, x3, s->rk);
    store32(out, x0);
    store32(out + 4, x1);
    store32(out + 8, x2);
    store32(out + 12, x3);
}

inline void leaDecrypt(unsigned char* out, const unsigned char* in, const Schedule* s) {
    uint32_t x0 = load32(in), x1 = load32(in + 4), x2 = load32(in + 8), x3 = load32(in + 12);
    if (s->rounds <= 24)
        decryptRounds<24>(x0, x1, x2, x3, s->rk);
    else if (s->rounds <= 28)
        decryptRounds<28>(x0, x1, x2, x3, s->rk);
    else
        decryptRounds<32>(x0, x1, x2, x3, s->rk);
    store32(out, x0);
    store32(out + 4, x1);
    store32(out + 8, x2);
    store32(out + 12, x3);
}

}  // namespace

namespace brindlow::crypto {

void leaRunMode(const ModeRun& run) {
    const auto* s = static_cast<const Schedule*>(run.area);
    runModeLoop<16>(
        run, [s](unsigned char* o, const unsigned char* i) { leaEncrypt(o, i, s); },
        [s](unsigned char* o, const unsigned char* i) { leaDecrypt(o, i, s); });
}

}  // namespace brindlow::crypto

extern "C" {

int SGCipher_LEA_SetupKey(void* engineArea, const unsigned char* key, uint32_t keyLength, int) {
    if (!engineArea || !key || keyLength == 0) return 401;
    // Only the three key sizes the cipher defines: any other length would leave no schedule.
    if (keyLength != 16 && keyLength != 24 && keyLength != 32) return 403;
    auto* s = static_cast<Schedule*>(engineArea);
    uint32_t t[8];
    for (uint32_t i = 0; i < keyLength / 4; ++i) t[i] = load32(key + 4 * i);
    if (keyLength == 16) {
        for (int i = 0; i < 24; ++i) {
            const uint32_t* d = kDelta4.d[i];
            t[0] = rotl(t[0] + d[0], 1);
            t[1] = rotl(t[1] + d[1], 3);
            t[2] = rotl(t[2] + d[2], 6);
            t[3] = rotl(t[3] + d[3], 11);
            const uint32_t rk[6] = {t[0], t[1], t[2], t[1], t[3], t[1]};
            std::memcpy(s->rk[i], rk, sizeof rk);
        }
    } else if (keyLength == 24) {
        for (int i = 0; i < 28; ++i) {
            const uint32_t* d = kDelta6.d[i];
            t[0] = rotl(t[0] + d[0], 1);
            t[1] = rotl(t[1] + d[1], 3);
            t[2] = rotl(t[2] + d[2], 6);
            t[3] = rotl(t[3] + d[3], 11);
            t[4] = rotl(t[4] + d[4], 13);
            t[5] = rotl(t[5] + d[5], 17);
            std::memcpy(s->rk[i], t, 6 * sizeof(uint32_t));
        }
    } else {
        constexpr int kShift[6] = {1, 3, 6, 11, 13, 17};
        for (int i = 0; i < 32; ++i) {
            const uint32_t* d = kDelta8.d[i];
            for (int j = 0; j < 6; ++j) {
                uint32_t& w = t[(6 * i + j) % 8];
                w = rotl(w + d[j], kShift[j]);
                s->rk[i][j] = w;
            }
        }
    }
    s->rounds = static_cast<int>(keyLength / 2 + 16);
    SGCrypto_cleanse(t, sizeof t);
    return 0;
}

void SGCipher_LEA_Main(unsigned char* output, const unsigned char* input, void* engineArea,
                       int direction) {
    const auto* s = static_cast<const Schedule*>(engineArea);
    if (direction == 1)
        leaDecrypt(output, input, s);
    else
        leaEncrypt(output, input, s);
}

}  // extern "C"
