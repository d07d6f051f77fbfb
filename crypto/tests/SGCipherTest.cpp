// The cipher layer: modes, padding, buffering across calls, result codes, the validated-module
// hand-over, and agreement with OpenSSL on random keys, IVs, messages and split points.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <functional>
#include <random>

#include "CipherTestUtil.h"
#include "SGAES.h"
#include "SGCryptoInternal.h"
#include "SGHMAC.h"

using namespace ciphertest;
using cryptotest::hex;
using cryptotest::unhex;

static_assert(sizeof(SGCipherParameter) == 4156);
static_assert(sizeof(SGCipherContext) == 10668);
static_assert(sizeof(SGCipherInfo) == 24);

namespace {

class CipherLayer : public ::testing::Test {
  protected:
    void SetUp() override { SGCrypto_Initialize(); }
};

std::mt19937& rng() {
    static std::mt19937 r(20240611);
    return r;
}

Bytes randomBytes(size_t n) {
    Bytes b(n);
    for (auto& c : b) c = static_cast<unsigned char>(rng()());
    return b;
}

// Splits [0, n) at random points into pieces, some of them empty.
std::vector<size_t> randomSplit(size_t n) {
    std::vector<size_t> cuts{0};
    const size_t pieces = rng()() % 6;
    for (size_t i = 0; i < pieces; ++i) cuts.push_back(n ? rng()() % (n + 1) : 0);
    cuts.push_back(n);
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}

// Streams a message through Update calls cut at the given points, then Final.
struct Stream {
    int code = 0;
    Bytes out;
    uint32_t pad = 0;
};

Stream encryptStream(int id, const Bytes& key, SGCipherParameter p, const Bytes& in,
                     const std::vector<size_t>& cuts) {
    Stream s;
    SGCipherContext ctx;
    s.code = SGCipher_Encrypt_Init(&ctx, key.data(), static_cast<uint32_t>(key.size()), id, &p);
    s.out.resize(in.size() + 64);
    uint32_t total = 0;
    for (size_t i = 1; s.code == 0 && i < cuts.size(); ++i) {
        uint32_t n = 0;
        s.code = SGCipher_Encrypt_Update(&ctx, s.out.data() + total, &n, in.data() + cuts[i - 1],
                                         static_cast<uint32_t>(cuts[i] - cuts[i - 1]));
        total += n;
    }
    if (s.code == 0) {
        uint32_t n = 0;
        s.code = SGCipher_Encrypt_Final(&ctx, s.out.data() + total, &n);
        total += n;
    }
    s.out.resize(total);
    SGCrypto_cleanse(&ctx, sizeof ctx);
    return s;
}

Stream decryptStream(int id, const Bytes& key, SGCipherParameter p, const Bytes& in,
                     const std::vector<size_t>& cuts) {
    Stream s;
    SGCipherContext ctx;
    s.code = SGCipher_Decrypt_Init(&ctx, key.data(), static_cast<uint32_t>(key.size()), id, &p);
    s.out.resize(in.size() + 64);
    uint32_t total = 0;
    for (size_t i = 1; s.code == 0 && i < cuts.size(); ++i) {
        uint32_t n = 0;
        s.code = SGCipher_Decrypt_Update(&ctx, s.out.data() + total, &n, in.data() + cuts[i - 1],
                                         static_cast<uint32_t>(cuts[i] - cuts[i - 1]));
        total += n;
    }
    if (s.code == 0) s.code = SGCipher_Decrypt_Final(&ctx, &s.pad);
    s.out.resize(total);
    SGCrypto_cleanse(&ctx, sizeof ctx);
    return s;
}

// The same message through OpenSSL's EVP interface.
Bytes opensslCrypt(const char* name, const Bytes& key, const Bytes& iv, const Bytes& in,
                   bool encrypt, bool pad, int rc2Bits = 0) {
    loadOpenSslProviders();
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    EXPECT_NE(cipher, nullptr) << name;
    if (!cipher) return {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex2(ctx, cipher, nullptr, nullptr, encrypt ? 1 : 0, nullptr);
    EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size()));
    if (rc2Bits) EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_SET_RC2_KEY_BITS, rc2Bits, nullptr);
    EVP_CipherInit_ex2(ctx, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), -1, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    Bytes out(in.size() + 64);
    int n = 0, m = 0;
    EXPECT_EQ(EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size())), 1);
    EXPECT_EQ(EVP_CipherFinal_ex(ctx, out.data() + n, &m), 1) << name;
    out.resize(static_cast<size_t>(n + m));
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    return out;
}

}  // namespace

TEST_F(CipherLayer, InfoTable) {
    struct Row {
        int id, block, def, min, max, last;
    } rows[] = {{0, 16, 16, 16, 32, 8},  {1, 16, 24, 16, 32, 8}, {2, 16, 32, 16, 32, 8},
                {3, 16, 16, 16, 16, 0},  {4, 16, 16, 16, 32, 8}, {5, 16, 24, 16, 32, 8},
                {6, 16, 32, 16, 32, 8},  {7, 8, 8, 8, 8, 0},     {8, 8, 16, 16, 24, 0},
                {9, 8, 8, 8, 32, 0},     {10, 8, 1, 1, 128, 0},  {11, 16, 16, 16, 32, 0},
                {12, 16, 24, 16, 32, 0}, {13, 16, 32, 16, 32, 0}};
    for (const auto& r : rows) {
        SGCipherInfo info{};
        ASSERT_EQ(SGCipher_GetInfo(&info, r.id), 0);
        EXPECT_EQ(info.supported, 1);
        EXPECT_EQ(info.blockSize, r.block) << r.id;
        EXPECT_EQ(info.defaultKeyLength, r.def) << r.id;
        EXPECT_EQ(info.minKeyLength, r.min) << r.id;
        EXPECT_EQ(info.maxKeyLength, r.max) << r.id;
        EXPECT_EQ(info.lastValue, r.last) << r.id;
    }
    SGCipherInfo info{};
    EXPECT_EQ(SGCipher_GetInfo(&info, 14), 407);
    EXPECT_EQ(info.supported, 1);
    EXPECT_EQ(SGCipher_GetInfo(nullptr, 0), 401);
}

// Every padding kind at the lengths around a block, for a 16- and an 8-byte block.
TEST_F(CipherLayer, PaddingTable) {
    for (int id : {SG_CIPHER_AES128, SG_CIPHER_DES}) {
        const int b = id == SG_CIPHER_DES ? 8 : 16;
        const Bytes key = randomBytes(16), iv = randomBytes(static_cast<size_t>(b));
        for (int padding = 1; padding <= 4; ++padding)
            for (int length : {0, 1, b - 1, b, b + 1}) {
                const Bytes msg = randomBytes(static_cast<size_t>(length));
                const auto param = parameter(SG_CIPHER_MODE_CBC, iv, padding);
                const Result enc = encrypt(id, key, param, msg);
                const std::string what = std::to_string(id) + " pad " + std::to_string(padding) +
                                         " len " + std::to_string(length);
                if (padding == 1 && length % b != 0) {
                    EXPECT_EQ(enc.code, 415) << what;
                    continue;
                }
                ASSERT_EQ(enc.code, 0) << what;
                // Padding always adds a block's worth up to the next boundary, a whole block
                // when the data ends on one; none adds nothing.
                const size_t expected = padding == 1 ? static_cast<size_t>(length)
                                                     : static_cast<size_t>((length / b + 1) * b);
                EXPECT_EQ(enc.out.size(), expected) << what;
                // The padded plaintext as it comes out of the cipher, padding not removed.
                const Result raw = decrypt(id, key, parameter(SG_CIPHER_MODE_CBC, iv, 1), enc.out);
                ASSERT_EQ(raw.code, 0) << what;
                EXPECT_EQ(hex(Bytes(raw.out.begin(), raw.out.begin() + length)), hex(msg)) << what;
                const size_t pad = expected - static_cast<size_t>(length);
                for (size_t i = static_cast<size_t>(length); i < expected; ++i) {
                    const unsigned char want = padding == 4 ? static_cast<unsigned char>(pad)
                                               : padding == 3 && i == static_cast<size_t>(length)
                                                   ? 0x80
                                                   : 0;
                    EXPECT_EQ(raw.out[i], want) << what << " byte " << i;
                }
                // Decryption removes kinds 3 and 4; zero padding stays part of the plaintext.
                const Result dec = decrypt(id, key, param, enc.out);
                ASSERT_EQ(dec.code, 0) << what;
                if (padding == 2)
                    EXPECT_EQ(hex(dec.out), hex(raw.out)) << what;
                else
                    EXPECT_EQ(hex(dec.out), hex(msg)) << what;
            }
        // Bad padding: a last block ending in a value above the block size, or in a value whose
        // preceding bytes differ, or (kind 3) a block of zeros.
        for (const auto& [padding, tail] :
             std::vector<std::pair<int, Bytes>>{{4, Bytes{static_cast<unsigned char>(b + 1)}},
                                                {4, Bytes{0}},
                                                {4, Bytes{1, 3, 3}},
                                                {3, Bytes(static_cast<size_t>(b), 0)},
                                                {3, Bytes{0x81, 0}}}) {
            Bytes block = randomBytes(static_cast<size_t>(b));
            std::copy(tail.begin(), tail.end(), block.end() - static_cast<long>(tail.size()));
            const Result enc = encrypt(id, key, parameter(2, iv, 1), block);
            ASSERT_EQ(enc.code, 0);
            EXPECT_EQ(decrypt(id, key, parameter(2, iv, padding), enc.out).code, 410)
                << id << " pad " << padding << " tail " << hex(tail);
        }
    }
}

TEST_F(CipherLayer, ResultCodes) {
    const Bytes key(32, 7), iv(32, 1), data(16, 0);
    SGCipherContext ctx;
    struct Case {
        const char* what;
        int expected;
        std::function<int()> run;
    };
    auto init = [&](int id, SGCipherParameter p, uint32_t keyLength = 16) {
        return SGCipher_Encrypt_Init(&ctx, key.data(), keyLength, id, &p);
    };
    auto ivOf = [&](size_t n) { return Bytes(iv.begin(), iv.begin() + static_cast<long>(n)); };
    const Case cases[] = {
        {"null context", 401,
         [&] {
             auto p = parameter(1);
             return SGCipher_Encrypt_Init(nullptr, key.data(), 16, 0, &p);
         }},
        {"null key", 401,
         [&] {
             auto p = parameter(1);
             return SGCipher_Decrypt_Init(&ctx, nullptr, 16, 0, &p);
         }},
        {"null parameter", 401,
         [&] { return SGCipher_Encrypt_Init(&ctx, key.data(), 16, 0, nullptr); }},
        {"id above 13", 407, [&] { return init(14, parameter(1)); }},
        {"negative id", 407, [&] { return init(-1, parameter(1)); }},
        {"mode 0", 408, [&] { return init(0, parameter(0)); }},
        {"mode 6", 408, [&] { return init(0, parameter(6, ivOf(16))); }},
        {"padding 0", 409, [&] { return init(0, parameter(1, {}, 0)); }},
        {"padding 5", 409, [&] { return init(0, parameter(2, ivOf(16), 5)); }},
        {"short IV", 412, [&] { return init(0, parameter(2, ivOf(15))); }},
        {"IV over 32 bytes", 412,
         [&] {
             auto p = parameter(2, ivOf(16));
             p.ivLength = 33;
             return init(0, p);
         }},
        {"CTR IV longer than the block", 412, [&] { return init(0, parameter(5, ivOf(32))); }},
        {"DES CTR IV of 16", 412, [&] { return init(7, parameter(5, ivOf(16)), 8); }},
        {"ECB ignores the IV", 0, [&] { return init(0, parameter(1)); }},
        {"CBC takes a longer IV", 0, [&] { return init(0, parameter(2, ivOf(32))); }},
        {"feedback 0", 413, [&] { return init(0, parameter(3, ivOf(16), 1, 0)); }},
        {"feedback 17", 413, [&] { return init(0, parameter(4, ivOf(16), 1, 17)); }},
        {"feedback 5 with padding", 413, [&] { return init(0, parameter(3, ivOf(16), 4, 5)); }},
        {"feedback 5 without padding", 0, [&] { return init(0, parameter(3, ivOf(16), 1, 5)); }},
        {"short key", 414, [&] { return init(0, parameter(1), 15); }},
        {"short DES key", 414, [&] { return init(7, parameter(1), 7); }},
        {"triple DES key of 20", -11, [&] { return init(8, parameter(1), 20); }},
        {"RC2 key over 128", 403,
         [&] {
             Bytes k(129, 1);
             auto p = parameter(1);
             return SGCipher_Encrypt_Init(&ctx, k.data(), 129, 10, &p);
         }},
        {"LEA key of 20", 403, [&] { return init(11, parameter(1), 20); }},
        {"Final without padding, input left", 415,
         [&] {
             init(0, parameter(1));
             uint32_t n;
             SGCipher_Encrypt_Update(&ctx, ctx.partial, &n, data.data(), 5);
             unsigned char out[32];
             return SGCipher_Encrypt_Final(&ctx, out, &n);
         }},
        {"Decrypt_Final, input left", 416,
         [&] {
             auto p = parameter(2, ivOf(16), 4);
             SGCipher_Decrypt_Init(&ctx, key.data(), 16, 0, &p);
             unsigned char out[64];
             uint32_t n;
             SGCipher_Decrypt_Update(&ctx, out, &n, data.data(), 15);
             return SGCipher_Decrypt_Final(&ctx, &n);
         }},
        {"Update on a context never initialised", 401,
         [&] {
             SGCipherContext fresh{};
             unsigned char out[32];
             uint32_t n;
             return SGCipher_Encrypt_Update(&fresh, out, &n, data.data(), 16);
         }},
        {"Update after Final", 401,
         [&] {
             init(0, parameter(1));
             unsigned char out[32];
             uint32_t n;
             SGCipher_Encrypt_Final(&ctx, out, &n);
             return SGCipher_Encrypt_Update(&ctx, out, &n, data.data(), 16);
         }},
        {"null output length", 401,
         [&] {
             init(0, parameter(1));
             unsigned char out[32];
             return SGCipher_Encrypt_Update(&ctx, out, nullptr, data.data(), 16);
         }},
        {"one-shot decrypt without output", 401,
         [&] {
             auto p = parameter(1);
             uint32_t n;
             return SGCipher_Decrypt(nullptr, &n, data.data(), 16, key.data(), 16, 0, &p);
         }},
    };
    for (const auto& c : cases) EXPECT_EQ(c.run(), c.expected) << c.what;
    SGCrypto_cleanse(&ctx, sizeof ctx);
}

TEST_F(CipherLayer, UnregisteredEngineIsReported) {
    SGCipher_ResetEngine();
    SGCipherContext ctx;
    const Bytes key(16, 1);
    auto p = parameter(1);
    EXPECT_EQ(SGCipher_Encrypt_Init(&ctx, key.data(), 16, 0, &p), 406);
    brindlow::crypto::registerCipherEngines();
    EXPECT_EQ(SGCipher_Encrypt_Init(&ctx, key.data(), 16, 0, &p), 0);
    // Registering an id again changes nothing.
    EXPECT_EQ(SGCipher_RegisterEngine(0, nullptr, nullptr), 0);
    EXPECT_EQ(encrypt(0, unhex("000102030405060708090a0b0c0d0e0f"), p,
                      unhex("00112233445566778899aabbccddeeff"))
                  .out,
              unhex("69c4e0d86a7b0430d8cdb78070b4c55a"));
}

// An engine registered from outside runs through the layer's own mode loops.
TEST_F(CipherLayer, ExternalEngineRunsThroughTheGenericModes) {
    SGCipher_ResetEngine();
    // AES's functions under the SEED id: the layer knows nothing of their mode loops.
    SGCipher_RegisterEngine(SG_CIPHER_SEED, SGCipher_AES_SetupKey, SGCipher_AES_Main);
    brindlow::crypto::registerCipherEngines();
    const Bytes key = randomBytes(16), iv = randomBytes(16), msg = randomBytes(100);
    for (const char* mode : {"ECB", "CBC", "CFB8", "CFB128", "OFB", "CTR"}) {
        const auto p = parameterFor(mode, 16, iv, 4);
        const Result viaSeed = encrypt(SG_CIPHER_SEED, key, p, msg);
        const Result viaAes = encrypt(SG_CIPHER_AES128, key, p, msg);
        ASSERT_EQ(viaSeed.code, 0) << mode;
        EXPECT_EQ(hex(viaSeed.out), hex(viaAes.out)) << mode;
        EXPECT_EQ(hex(decrypt(SG_CIPHER_SEED, key, p, viaSeed.out).out), hex(msg)) << mode;
    }
    SGCipher_ResetEngine();
    brindlow::crypto::registerCipherEngines();
}

TEST_F(CipherLayer, DocumentedBehaviour) {
    const Bytes key = unhex("000102030405060708090a0b0c0d0e0f"), iv(16, 0x24);
    // PKCS #7 on 16 bytes adds a whole block of sixteen 0x10 bytes.
    const Bytes sixteen = randomBytes(16);
    const Result enc = encrypt(0, key, parameter(2, iv, 4), sixteen);
    ASSERT_EQ(enc.out.size(), 32u);
    EXPECT_EQ(hex(decrypt(0, key, parameter(2, iv, 1), enc.out).out).substr(32),
              std::string(32, '0').replace(0, 32, "10101010101010101010101010101010"));
    EXPECT_EQ(hex(decrypt(0, key, parameter(2, iv, 4), enc.out).out), hex(sixteen));

    // Updates of 5, 7 and 20 bytes produce 0, 0 and 32 with 12 held after the second.
    SGCipherContext ctx;
    auto p = parameter(2, iv, 4);
    ASSERT_EQ(SGCipher_Encrypt_Init(&ctx, key.data(), 16, 0, &p), 0);
    const Bytes data = randomBytes(32);
    unsigned char out[80];
    uint32_t n = 99;
    ASSERT_EQ(SGCipher_Encrypt_Update(&ctx, out, &n, data.data(), 5), 0);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(SGCipher_Encrypt_Update(&ctx, out, &n, data.data() + 5, 7), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(ctx.partialLength, 12u);
    ASSERT_EQ(SGCipher_Encrypt_Update(&ctx, out, &n, data.data() + 12, 20), 0);
    EXPECT_EQ(n, 32u);
    EXPECT_EQ(ctx.partialLength, 0u);
    ASSERT_EQ(SGCipher_Encrypt_Final(&ctx, out + 32, &n), 0);
    EXPECT_EQ(n, 16u);
    // Final wiped the key schedule.
    EXPECT_EQ(hex(ctx.engineArea, 64), std::string(128, '0'));

    // CFB-8 never holds a byte back.
    p = parameter(3, iv, 1, 1);
    ASSERT_EQ(SGCipher_Encrypt_Init(&ctx, key.data(), 16, 0, &p), 0);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(SGCipher_Encrypt_Update(&ctx, out, &n, data.data() + i, 1), 0);
        EXPECT_EQ(n, 1u);
    }
    SGCrypto_cleanse(&ctx, sizeof ctx);
}

TEST_F(CipherLayer, CounterCarriesAndTheLastPieceStaysInItsBuffer) {
    const Bytes key = randomBytes(16);
    // The counter carries from the last byte into the ones before it.
    const Bytes iv = unhex("000102030405060708090a0b0c0dffff");
    const Bytes msg = randomBytes(20);
    auto p = parameter(5, iv, 1);
    const Result enc = encrypt(0, key, p, msg);
    ASSERT_EQ(enc.code, 0);
    ASSERT_EQ(enc.out.size(), 20u);
    const Bytes second = opensslCrypt("AES-128-ECB", key, {},
                                      unhex("000102030405060708090a0b0c0e0000"), true, false);
    for (size_t i = 16; i < 20; ++i) EXPECT_EQ(enc.out[i], msg[i] ^ second[i - 16]);
    EXPECT_EQ(hex(decrypt(0, key, p, enc.out).out), hex(msg));

    // Final writes only the bytes it reports: a caller's exact-size buffer is never overrun.
    SGCipherContext ctx;
    ASSERT_EQ(SGCipher_Encrypt_Init(&ctx, key.data(), 16, 0, &p), 0);
    uint32_t n = 0;
    unsigned char head[32];
    ASSERT_EQ(SGCipher_Encrypt_Update(&ctx, head, &n, msg.data(), 20), 0);
    ASSERT_EQ(n, 16u);
    std::vector<unsigned char> tail(4);  // exactly what is left
    ASSERT_EQ(SGCipher_Encrypt_Final(&ctx, tail.data(), &n), 0);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(hex(tail), hex(Bytes(enc.out.begin() + 16, enc.out.end())));

    // The counter wraps at all ones.
    const Bytes top(16, 0xff);
    const Result wrap = encrypt(0, key, parameter(5, top, 1), Bytes(32, 0));
    const Bytes zeroBlock = opensslCrypt("AES-128-ECB", key, {}, Bytes(16, 0), true, false);
    EXPECT_EQ(hex(Bytes(wrap.out.begin() + 16, wrap.out.end())), hex(zeroBlock));
    SGCrypto_cleanse(&ctx, sizeof ctx);
}

// Decryption gives the same plaintext however its input is cut, and drops no byte held from an
// earlier call; CFB-8 and CTR produce output from single bytes.
TEST_F(CipherLayer, DecryptionIsIndependentOfTheSplit) {
    for (int id : {SG_CIPHER_SEED, SG_CIPHER_ARIA128, SG_CIPHER_LEA128, SG_CIPHER_AES256,
                   SG_CIPHER_DES, SG_CIPHER_TDES, SG_CIPHER_RC2})
        for (const char* mode : {"ECB", "CBC", "CFB8", "CFB128", "OFB", "CTR"}) {
            SGCipherInfo info;
            SGCipher_GetInfo(&info, id);
            const size_t b = static_cast<size_t>(info.blockSize);
            const std::string m =
                std::string(mode) == "CFB128" ? "CFB" + std::to_string(8 * b) : mode;
            const Bytes key = randomBytes(static_cast<size_t>(info.defaultKeyLength)),
                        iv = randomBytes(b);
            const bool stream = m == "CFB8" || m == "CTR";
            for (int padding : {1, 4}) {
                const size_t length = padding == 1 && !stream ? b * (rng()() % 9) : rng()() % 90;
                const Bytes msg = randomBytes(length);
                const auto p = parameterFor(m, static_cast<int>(b), iv, padding);
                const Result whole = encrypt(id, key, p, msg);
                ASSERT_EQ(whole.code, 0) << id << m << padding;
                for (int trial = 0; trial < 4; ++trial) {
                    const Stream enc = encryptStream(id, key, p, msg, randomSplit(msg.size()));
                    ASSERT_EQ(enc.code, 0);
                    EXPECT_EQ(hex(enc.out), hex(whole.out)) << id << m << padding;
                    const Stream dec =
                        decryptStream(id, key, p, whole.out, randomSplit(whole.out.size()));
                    ASSERT_EQ(dec.code, 0) << id << m << padding;
                    ASSERT_LE(dec.pad, dec.out.size());
                    EXPECT_EQ(hex(Bytes(dec.out.begin(), dec.out.end() - dec.pad)), hex(msg))
                        << id << " " << m << " pad " << padding;
                }
                // Byte by byte.
                std::vector<size_t> cuts;
                for (size_t i = 0; i <= whole.out.size(); ++i) cuts.push_back(i);
                const Stream bytes = decryptStream(id, key, p, whole.out, cuts);
                ASSERT_EQ(bytes.code, 0) << id << m;
                EXPECT_EQ(hex(Bytes(bytes.out.begin(), bytes.out.end() - bytes.pad)), hex(msg));
            }
        }
}

// Random keys, IVs and messages against OpenSSL for every cipher and mode it has.
TEST_F(CipherLayer, AgreesWithOpenSsl) {
    struct Cipher {
        const char* name;
        int id;
        size_t keyLength;
        const char* mode;
        int rc2Bits;
    };
    std::vector<Cipher> ciphers;
    const std::pair<const char*, const char*> modes[] = {{"ECB", "ECB"},  {"CBC", "CBC"},
                                                         {"CFB", "CFBB"}, {"CFB8", "CFB8"},
                                                         {"OFB", "OFB"},  {"CTR", "CTR"}};
    for (const auto& [suffix, mode] : modes) {
        for (int bits : {128, 192, 256}) {
            const int aes = (bits - 128) / 64, aria = 4 + (bits - 128) / 64;
            ciphers.push_back({strdup(("AES-" + std::to_string(bits) + "-" + suffix).c_str()), aes,
                               static_cast<size_t>(bits / 8), mode, 0});
            ciphers.push_back({strdup(("ARIA-" + std::to_string(bits) + "-" + suffix).c_str()),
                               aria, static_cast<size_t>(bits / 8), mode, 0});
        }
    }
    for (const char* mode : {"ECB", "CBC", "CFB", "OFB"}) {
        const std::string m = mode;
        const char* ours = m == "CFB" ? "CFBB" : mode;
        ciphers.push_back({strdup(("SEED-" + m).c_str()), 3, 16, ours, 0});
        ciphers.push_back({strdup(("DES-" + m).c_str()), 7, 8, ours, 0});
        ciphers.push_back(
            {strdup(m == "ECB" ? "DES-EDE" : ("DES-EDE-" + m).c_str()), 8, 16, ours, 0});
        ciphers.push_back(
            {strdup(m == "ECB" ? "DES-EDE3" : ("DES-EDE3-" + m).c_str()), 8, 24, ours, 0});
        ciphers.push_back({strdup(("RC2-" + m).c_str()), 10, 16, ours, 128});
        ciphers.push_back({strdup(("RC2-" + m).c_str()), 10, 5, ours, 40});
    }
    ciphers.push_back({strdup("DES-CFB8"), 7, 8, "CFB8", 0});
    ciphers.push_back({strdup("DES-EDE3-CFB8"), 8, 24, "CFB8", 0});

    for (const auto& c : ciphers) {
        SGCipherInfo info;
        SGCipher_GetInfo(&info, c.id);
        const size_t b = static_cast<size_t>(info.blockSize);
        const std::string mode =
            std::string(c.mode) == "CFBB" ? "CFB" + std::to_string(8 * b) : c.mode;
        const bool blockMode = mode == "ECB" || mode == "CBC";
        for (int trial = 0; trial < 6; ++trial) {
            const Bytes key = randomBytes(c.keyLength), iv = randomBytes(b);
            // Block modes take PKCS #7 padding as OpenSSL applies it; the others whole
            // segments (CFB-8 and CTR any length).
            const bool anyLength = blockMode || mode == "CFB8" || mode == "CTR";
            const size_t length = anyLength ? rng()() % 200 : b * (rng()() % 13);
            const Bytes msg = randomBytes(length);
            auto p = parameterFor(mode, static_cast<int>(b), iv, blockMode ? 4 : 1);
            p.rc2EffectiveBits = c.rc2Bits;
            const Bytes expected = opensslCrypt(c.name, key, mode == "ECB" ? Bytes{} : iv, msg,
                                                true, blockMode, c.rc2Bits);
            const Stream enc = encryptStream(c.id, key, p, msg, randomSplit(length));
            ASSERT_EQ(enc.code, 0) << c.name;
            EXPECT_EQ(hex(enc.out), hex(expected)) << c.name << " length " << length;
            const Stream dec = decryptStream(c.id, key, p, expected, randomSplit(expected.size()));
            ASSERT_EQ(dec.code, 0) << c.name;
            EXPECT_EQ(hex(Bytes(dec.out.begin(), dec.out.end() - dec.pad)), hex(msg)) << c.name;
        }
    }
    // RC4 is a stream: the layer's ECB over whole 8-byte units is its keystream.
    for (size_t keyLength : {8u, 16u, 32u}) {
        const Bytes key = randomBytes(keyLength), msg = randomBytes(8 * (rng()() % 40));
        const Stream enc = encryptStream(9, key, parameter(1), msg, randomSplit(msg.size()));
        ASSERT_EQ(enc.code, 0);
        EXPECT_EQ(hex(enc.out), hex(opensslCrypt("RC4", key, {}, msg, true, false)));
    }
    for (auto& c : ciphers) free(const_cast<char*>(c.name));
}

// While a validated module is current, SEED and ARIA outside CFB go to its cipher slots, and
// HMAC over SHA-224 to SHA-512 to its HMAC slots.
TEST_F(CipherLayer, ModuleTakesSeedAriaAndHmac) {
    void* handle = dlopen(CRYPTO_TEST_MODULE, RTLD_NOW);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto calls = reinterpret_cast<int (*)(int)>(dlsym(handle, "testModuleCalls"));
    reinterpret_cast<void (*)(const char*, int, int)>(dlsym(handle, "testModuleConfigure"))(
        "QUENDRIL 1.0", 0, 0);
    ASSERT_EQ(SGCrypto_SetKCMVPModule(handle), 0);

    const Bytes key(16, 3), iv(16, 4), data(32, 5);
    unsigned char out[64];
    uint32_t n = 0;
    SGCipherContext ctx;
    auto p = parameter(2, iv, 4);
    ASSERT_EQ(SGCipher_Encrypt_Init(&ctx, key.data(), 16, SG_CIPHER_SEED, &p), 0);
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(&ctx.marker), 0);
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(&p.marker), 0);
    EXPECT_EQ(SGCipher_Encrypt_Update(&ctx, out, &n, data.data(), 32), 0);
    EXPECT_EQ(SGCipher_Encrypt_Final(&ctx, out, &n), 0);
    auto q = parameter(1);
    ASSERT_EQ(SGCipher_Decrypt_Init(&ctx, key.data(), 16, SG_CIPHER_ARIA128, &q), 0);
    EXPECT_EQ(SGCipher_Decrypt_Update(&ctx, out, &n, data.data(), 32), 0);
    EXPECT_EQ(SGCipher_Decrypt_Final(&ctx, &n), 0);
    EXPECT_EQ(calls(11), 1);
    EXPECT_EQ(calls(12), 1);
    EXPECT_EQ(calls(13), 1);
    EXPECT_EQ(calls(15), 1);
    EXPECT_EQ(calls(16), 1);
    EXPECT_EQ(calls(17), 1);

    // CFB, and the other ciphers, stay in the library.
    auto cfb = parameter(3, iv, 1, 16);
    const Result own = encrypt(SG_CIPHER_SEED, key, cfb, data);
    EXPECT_EQ(own.code, 0);
    EXPECT_EQ(own.out.size(), 32u);
    EXPECT_EQ(encrypt(SG_CIPHER_AES128, key, parameter(2, iv, 4), data).out.size(), 48u);
    EXPECT_EQ(calls(11), 1);

    // HMAC with SHA-224 to SHA-512 and a key of at least half the digest goes to the module;
    // SHA-1 and short keys stay in the library.
    unsigned char mac[64];
    ASSERT_EQ(SGHMAC(mac, &n, SG_DIGEST_SHA256, data.data(), 32, key.data(), 16), 0);
    EXPECT_EQ(calls(35), 1);
    EXPECT_EQ(calls(36), 1);
    EXPECT_EQ(calls(37), 1);
    EXPECT_EQ(calls(38), 1);
    ASSERT_EQ(SGHMAC(mac, &n, SG_DIGEST_SHA256, data.data(), 32, key.data(), 15), 0);
    ASSERT_EQ(SGHMAC(mac, &n, SG_DIGEST_SHA1, data.data(), 32, key.data(), 16), 0);
    EXPECT_EQ(n, 20u);
    EXPECT_EQ(calls(35), 1);

    SGCrypto_Finalize();
    SGCrypto_Initialize();
    dlclose(handle);
}
