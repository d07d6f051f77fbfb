// The block-cipher engines against published known answers, and their own key handling.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "CipherTestUtil.h"
#include "SGAES.h"
#include "SGARIA.h"
#include "SGCipherEngines.h"
#include "SGDES.h"
#include "SGLEA.h"
#include "SGRC2.h"
#include "SGRC4.h"
#include "SGSEED.h"

using namespace ciphertest;
using cryptotest::hex;
using cryptotest::unhex;

namespace {

class CipherEngine : public ::testing::Test {
  protected:
    void SetUp() override { SGCrypto_Initialize(); }
    void TearDown() override { brindlow::crypto::aesSetHardware(true); }
};

int blockSizeOf(int id) {
    SGCipherInfo info;
    SGCipher_GetInfo(&info, id);
    return info.blockSize;
}

// Runs every record of a vector file through the cipher layer in both directions.
void checkVectorFile(const std::string& file) {
    const auto records = cryptotest::readRecords(std::string(BRINDLOW_TEST_DATA) + "/" + file);
    ASSERT_FALSE(records.empty()) << file;
    for (const auto& r : records) {
        const int id = std::stoi(r.at("Cipher"));
        const Bytes key = unhex(r.at("Key"));
        const Bytes iv = r.count("IV") ? unhex(r.at("IV")) : Bytes{};
        Bytes in = unhex(r.at("In")), expected = unhex(r.at("Out"));
        SGCipherParameter p = parameterFor(r.at("Mode"), blockSizeOf(id), iv);
        if (r.count("Bits")) p.rc2EffectiveBits = std::stoi(r.at("Bits"));
        size_t offset = 0;
        if (r.count("Offset")) {  // a keystream excerpt: run the keystream up to it
            offset = std::stoul(r.at("Offset"));
            in.insert(in.begin(), offset, 0);
        }
        const std::string what = file + " key " + r.at("Key") + " in " + r.at("In");
        const Result enc = encrypt(id, key, p, in);
        ASSERT_EQ(enc.code, 0) << what;
        EXPECT_EQ(hex(Bytes(enc.out.begin() + offset, enc.out.end())), hex(expected)) << what;
        if (offset) continue;
        const Result dec = decrypt(id, key, p, expected);
        ASSERT_EQ(dec.code, 0) << what;
        EXPECT_EQ(hex(dec.out), hex(in)) << what;
    }
}

}  // namespace

TEST_F(CipherEngine, PublishedKnownAnswers) {
    for (const char* file : {"seed.vec", "aria.vec", "lea.vec", "des.vec", "des_cavp.vec",
                             "tdes.vec", "rc2.vec", "rc4.vec", "aes.vec", "aes_modes.vec"})
        checkVectorFile(file);
}

TEST_F(CipherEngine, AesTableCodeGivesTheSameAnswers) {
    brindlow::crypto::aesSetHardware(false);
    ASSERT_FALSE(brindlow::crypto::aesUsesHardware());
    checkVectorFile("aes.vec");
    checkVectorFile("aes_modes.vec");
}

TEST_F(CipherEngine, AesHardwareAndTablesAgreeOnRandomData) {
    std::mt19937 rng(7);
    auto random = [&](size_t n) {
        Bytes b(n);
        for (auto& c : b) c = static_cast<unsigned char>(rng());
        return b;
    };
    for (int id : {0, 1, 2})
        for (const char* mode : {"ECB", "CBC", "CFB128", "CFB8", "OFB", "CTR"}) {
            const Bytes key = random(16 + 8 * id), iv = random(16), msg = random(16 * 37);
            const auto p = parameterFor(mode, 16, iv);
            brindlow::crypto::aesSetHardware(true);
            const Result hw = encrypt(id, key, p, msg);
            const Result hwBack = decrypt(id, key, p, hw.out);
            brindlow::crypto::aesSetHardware(false);
            const Result sw = encrypt(id, key, p, msg);
            ASSERT_EQ(hw.code, 0);
            ASSERT_EQ(sw.code, 0);
            EXPECT_EQ(hex(hw.out), hex(sw.out)) << id << " " << mode;
            EXPECT_EQ(hex(decrypt(id, key, p, sw.out).out), hex(msg)) << id << " " << mode;
            EXPECT_EQ(hex(hwBack.out), hex(msg)) << id << " " << mode;
        }
}

TEST_F(CipherEngine, SeedRoundKeysOfTheZeroKey) {
    unsigned char area[2048] = {};
    const unsigned char key[16] = {};
    ASSERT_EQ(SGCipher_SEED_SetupKey(area, key, 16, 0), 0);
    uint32_t k[2];
    std::memcpy(k, area, sizeof k);
    EXPECT_EQ(k[0], 0x7C8F8C7Eu);
    EXPECT_EQ(k[1], 0xC737A22Cu);
    // The decryption schedule holds the same keys with the last round first.
    ASSERT_EQ(SGCipher_SEED_SetupKey(area, key, 16, 1), 0);
    std::memcpy(k, area + 30 * 4, sizeof k);
    EXPECT_EQ(k[0], 0x7C8F8C7Eu);
    EXPECT_EQ(k[1], 0xC737A22Cu);
}

// AES and ARIA take a prefix of an over-long key; SEED takes its first 16 bytes.
TEST_F(CipherEngine, LongKeysUseTheirPrefix) {
    const Bytes block = unhex("00112233445566778899aabbccddeeff");
    Bytes key(40);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(i * 7 + 1);
    struct Case {
        int id;
        size_t longLength, prefix;
    } cases[] = {{0, 20, 16}, {0, 31, 24}, {2, 40, 32}, {4, 20, 16},
                 {5, 27, 24}, {6, 40, 32}, {3, 24, 16}};
    for (const auto& c : cases) {
        const auto p = parameter(1);
        const Result whole =
            encrypt(c.id, Bytes(key.begin(), key.begin() + c.longLength), p, block);
        const Result prefix = encrypt(c.id, Bytes(key.begin(), key.begin() + c.prefix), p, block);
        ASSERT_EQ(whole.code, 0) << c.id;
        EXPECT_EQ(hex(whole.out), hex(prefix.out)) << c.id << " " << c.longLength;
    }
}

TEST_F(CipherEngine, LeaRefusesKeysOfOtherLengths) {
    SGCipherContext ctx;
    for (uint32_t length : {17u, 20u, 23u, 25u, 31u, 33u, 40u}) {
        Bytes key(length, 0x42);
        auto p = parameter(1);
        EXPECT_EQ(SGCipher_Encrypt_Init(&ctx, key.data(), length, SG_CIPHER_LEA128, &p), 403)
            << length;
        EXPECT_EQ(SGCipher_Decrypt_Init(&ctx, key.data(), length, SG_CIPHER_LEA256, &p), 403)
            << length;
    }
    unsigned char area[2048] = {};
    const Bytes key = unhex("0f1e2d3c4b5a69788796a5b4c3d2e1f0");
    ASSERT_EQ(SGCipher_LEA_SetupKey(area, key.data(), 16, 0), 0);
    int rounds;
    std::memcpy(&rounds, area + 32 * 6 * 4, sizeof rounds);
    EXPECT_EQ(rounds, 24);
    EXPECT_EQ(SGCipher_LEA_SetupKey(area, key.data(), 0, 0), 401);
}

TEST_F(CipherEngine, AesSetupErrors) {
    unsigned char area[2048];
    const Bytes key(32, 1);
    EXPECT_EQ(SGCipher_AES_SetupKey(nullptr, key.data(), 16, 0), 401);
    EXPECT_EQ(SGCipher_AES_SetupKey(area, nullptr, 16, 0), 401);
    EXPECT_EQ(SGCipher_AES_SetupKey(area, key.data(), 0, 0), 401);
    EXPECT_EQ(SGCipher_AES_SetupKey(area, key.data(), 15, 0), 403);
    EXPECT_EQ(SGCipher_AES_SetupKey(area, key.data(), 16, 2), 404);
    EXPECT_EQ(SGCipher_ARIA_SetupKey(area, key.data(), 15, 0), 403);
    uint32_t schedule[60];
    EXPECT_EQ(SGAES_set_encrypt_key(schedule, key.data(), 16), 10);
    EXPECT_EQ(SGAES_set_encrypt_key(schedule, key.data(), 32), 14);
    EXPECT_EQ(SGAES_set_encrypt_key(schedule, key.data(), 20), 0);
}

TEST_F(CipherEngine, DesKeyHandling) {
    const Bytes block = unhex("0123456789abcdef");
    const auto p = parameter(1);
    // Parity bits (the low bit of every key byte) do not matter.
    const Bytes key = unhex("133457799bbcdff1");
    Bytes flipped = key;
    for (auto& b : flipped) b ^= 1;
    EXPECT_EQ(hex(encrypt(7, key, p, block).out), hex(encrypt(7, flipped, p, block).out));
    // Triple DES with K1 = K2 = K3 is single DES, with both keying options.
    Bytes k3;
    for (int i = 0; i < 3; ++i) k3.insert(k3.end(), key.begin(), key.end());
    EXPECT_EQ(hex(encrypt(8, k3, p, block).out), "85e813540f0ab405");
    EXPECT_EQ(hex(encrypt(8, Bytes(k3.begin(), k3.begin() + 16), p, block).out),
              "85e813540f0ab405");
    // Lengths between the two keying options are refused by the engine.
    for (size_t length : {17u, 20u, 23u})
        EXPECT_EQ(encrypt(8, Bytes(k3.begin(), k3.begin() + length), p, block).code, -11) << length;
}

TEST_F(CipherEngine, Rc2RefusesWhatItCannotExpand) {
    const Bytes block(8, 0);
    Bytes key(128, 0x5A);
    EXPECT_EQ(encrypt(10, key, parameter(1, {}, 1, 0, 1024), block).code, 0);
    EXPECT_EQ(encrypt(10, key, parameter(1, {}, 1, 0, 1), block).code, 0);
    EXPECT_EQ(hex(encrypt(10, key, parameter(1, {}, 1, 0, 0), block).out),
              hex(encrypt(10, key, parameter(1, {}, 1, 0, 1024), block).out));
    EXPECT_EQ(encrypt(10, key, parameter(1, {}, 1, 0, 1025), block).code, 404);
    EXPECT_EQ(encrypt(10, key, parameter(1, {}, 1, 0, -8), block).code, 404);
    key.push_back(0);
    EXPECT_EQ(encrypt(10, key, parameter(1, {}, 1, 0, 64), block).code, 403);
}

TEST_F(CipherEngine, Rc4IsAStreamAcrossBlocksAndCalls) {
    // RFC 6229, 40-bit key: the first 16 keystream bytes.
    const Bytes key = unhex("0102030405");
    const std::string keystream = "b2396305f03dc027ccc3524a0a1118a8";
    auto p = parameter(1);
    SGCipherContext ctx;
    ASSERT_EQ(SGCipher_Encrypt_Init(&ctx, key.data(), 5, SG_CIPHER_RC4, &p), 414)
        << "keys shorter than 8 bytes are below the layer's minimum";
    const Bytes key8 = unhex("0102030405060708");
    ASSERT_EQ(SGCipher_Encrypt_Init(&ctx, key8.data(), 8, SG_CIPHER_RC4, &p), 0);
    const Bytes data(16, 0);
    unsigned char out[32];
    uint32_t a = 0, b = 0;
    ASSERT_EQ(SGCipher_Encrypt_Update(&ctx, out, &a, data.data(), 8), 0);
    ASSERT_EQ(SGCipher_Encrypt_Update(&ctx, out + a, &b, data.data(), 8), 0);
    EXPECT_EQ(a + b, 16u);
    // RFC 6229, 64-bit key 0102030405060708.
    EXPECT_EQ(hex(out, 16), "97ab8a1bf0afb96132f2f67258da15a8");
    unsigned char state[258];
    ASSERT_EQ(SGRC4_init(state, key.data(), 5), 0);
    SGRC4_crypt(state, out, data.data(), 16);
    EXPECT_EQ(hex(out, 16), keystream);
}

// ---- Many blocks at once against one block at a time -------------------------------------

namespace {

using SetupKey = int (*)(void*, const unsigned char*, uint32_t, int);
using BlockFn = void (*)(unsigned char*, const unsigned char*, void*, int);

// The modes written out over the engine's single-block function, as the reference.
Bytes referenceModes(SetupKey setup, BlockFn block, const Bytes& key, const char* mode,
                     bool decrypt, const Bytes& iv, const Bytes& in) {
    alignas(16) unsigned char area[2048] = {};
    const std::string m = mode;
    const bool backwards = decrypt && (m == "ECB" || m == "CBC");
    EXPECT_EQ(setup(area, key.data(), static_cast<uint32_t>(key.size()), backwards ? 1 : 0), 0);
    Bytes out(in.size()), reg = iv;
    unsigned char k[16];
    for (size_t n = 0; n < in.size(); n += 16) {
        const unsigned char* x = in.data() + n;
        unsigned char* y = out.data() + n;
        if (m == "ECB") {
            block(y, x, area, 0);
        } else if (m == "CBC" && !decrypt) {
            for (int i = 0; i < 16; ++i) k[i] = x[i] ^ reg[i];
            block(y, k, area, 0);
            std::copy(y, y + 16, reg.begin());
        } else if (m == "CBC") {
            block(k, x, area, 0);
            for (int i = 0; i < 16; ++i) y[i] = k[i] ^ reg[i];
            std::copy(x, x + 16, reg.begin());
        } else if (m == "CTR") {
            block(k, reg.data(), area, 0);
            for (int i = 15; i >= 0 && ++reg[i] == 0; --i) {
            }
            for (int i = 0; i < 16; ++i) y[i] = x[i] ^ k[i];
        } else {  // CFB with whole-block feedback
            block(k, reg.data(), area, 0);
            for (int i = 0; i < 16; ++i) y[i] = x[i] ^ k[i];
            std::copy(decrypt ? x : y, (decrypt ? x : y) + 16, reg.begin());
        }
    }
    return out;
}

// The layer's output over Update calls split at the given offsets; in place when asked.
Bytes layerModes(int id, const Bytes& key, const char* mode, bool decrypt, const Bytes& iv,
                 const Bytes& in, const std::vector<size_t>& splits, bool inPlace) {
    auto p = parameterFor(mode, 16, iv);
    SGCipherContext ctx;
    const auto init = decrypt ? SGCipher_Decrypt_Init : SGCipher_Encrypt_Init;
    const auto update = decrypt ? SGCipher_Decrypt_Update : SGCipher_Encrypt_Update;
    EXPECT_EQ(init(&ctx, key.data(), static_cast<uint32_t>(key.size()), id, &p), 0);
    Bytes buffer = in;
    buffer.resize(in.size() + 16);
    Bytes out(in.size() + 16);
    size_t from = 0, produced = 0;
    std::vector<size_t> cuts = splits;
    cuts.push_back(in.size());
    for (size_t to : cuts) {
        uint32_t n = 0;
        unsigned char* target = inPlace ? buffer.data() + produced : out.data() + produced;
        EXPECT_EQ(update(&ctx, target, &n, buffer.data() + from, static_cast<uint32_t>(to - from)),
                  0);
        produced += n;
        from = to;
    }
    SGCrypto_cleanse(&ctx, sizeof ctx);
    const Bytes& result = inPlace ? buffer : out;
    return Bytes(result.begin(), result.begin() + static_cast<long>(produced));
}

struct WideEngine {
    int id;
    size_t keyLength;
    SetupKey setup;
    BlockFn block;
};

void checkWideModes(const WideEngine& e, std::mt19937& rng) {
    auto random = [&](size_t n) {
        Bytes b(n);
        for (auto& c : b) c = static_cast<unsigned char>(rng());
        return b;
    };
    const Bytes key = random(e.keyLength);
    // Block counts around the sixteen blocks the wide paths take at once.
    for (size_t blocks : {1, 15, 16, 17, 31, 32, 33, 69}) {
        const Bytes msg = random(16 * blocks);
        Bytes iv = random(16);
        iv[15] = 0xFE;  // the counter carries into the byte before within the first chunk
        iv[14] = 0xFF;
        for (const char* mode : {"ECB", "CBC", "CTR", "CFB128"}) {
            for (bool decrypt : {false, true}) {
                const std::string what = std::to_string(e.id) + " " + mode + " " +
                                         (decrypt ? "decrypt " : "encrypt ") +
                                         std::to_string(blocks);
                const Bytes expected =
                    referenceModes(e.setup, e.block, key, mode, decrypt, iv, msg);
                // Whole, split after a block and a half, and unaligned, into a separate buffer
                // and in place.
                for (const auto& splits :
                     std::vector<std::vector<size_t>>{{}, {16}, {24}, {16 * (blocks / 2)}}) {
                    // Decryption takes whole blocks in every call but the last (CTR excepted),
                    // and output written in place must start where its input does.
                    if (!splits.empty() && (splits[0] == 0 || splits[0] >= msg.size())) continue;
                    const bool unaligned = !splits.empty() && splits[0] % 16;
                    if (unaligned && decrypt && std::string(mode) != "CTR") continue;
                    for (bool inPlace : {false, true}) {
                        if (inPlace && unaligned) continue;
                        EXPECT_EQ(
                            hex(layerModes(e.id, key, mode, decrypt, iv, msg, splits, inPlace)),
                            hex(expected))
                            << what << " split " << (splits.empty() ? 0 : splits[0])
                            << (inPlace ? " in place" : "");
                    }
                }
            }
        }
    }
}

}  // namespace

TEST_F(CipherEngine, ManyBlocksAtOnceMatchOneAtATime) {
    std::mt19937 rng(34);
    checkWideModes({3, 16, SGCipher_SEED_SetupKey, SGCipher_SEED_Main}, rng);
    for (bool gfni : {true, false}) {
        brindlow::crypto::ariaSetGfni(gfni);
        if (gfni && !brindlow::crypto::ariaUsesGfni()) continue;  // no GFNI on this processor
        for (size_t keyLength : {16, 24, 32})
            checkWideModes({4, keyLength, SGCipher_ARIA_SetupKey, SGCipher_ARIA_Main}, rng);
    }
    brindlow::crypto::ariaSetGfni(true);
}
