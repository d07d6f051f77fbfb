// Cipher streams: the encrypting input stage read in pieces of any size gives openssl enc's
// ciphertext and reports the padded length for 16- and 8-byte blocks; the decrypting output stage
// takes writes and chunks of any size, checks the padding at the flush; set-up refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "PkiMaterial.h"
#include "SGCipher.h"
#include "SGCipherStream.h"
#include "SGPKCSError.h"
#include "SGServiceTable.h"
#include "SGStream.h"

namespace {

using namespace pkitest;
using testkit::hex;
using testkit::quote;
using testkit::unhex;

class CipherStream : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
};

const Bytes kKey = unhex("00112233445566778899AABBCCDDEEFF");
const Bytes kIv = unhex("0F0E0D0C0B0A09080706050403020100");
const Bytes kKey24 = unhex("00112233445566778899AABBCCDDEEFF0011223344556677");
const Bytes kIv8 = unhex("0706050403020100");

Bytes pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 31 + 7);
    return b;
}

Bytes opensslEncrypt(const Bytes& plain, const std::string& cipher, const Bytes& key,
                     const Bytes& iv) {
    testkit::Scratch scratch;
    testkit::writeBytes(scratch / "in", plain);
    EXPECT_TRUE(testkit::succeeds("openssl enc -provider legacy -provider default -" + cipher +
                                  " -K " + hex(key) + " -iv " + hex(iv) + " -in " +
                                  quote((scratch / "in").string()) + " -out " +
                                  quote((scratch / "out").string())));
    return testkit::readBytes(scratch / "out");
}

// A source over bytes that counts its reads.
struct Counting {
    Bytes bytes;
    size_t at = 0;
    int reads = 0;
    SGStream stream{};
    explicit Counting(Bytes b) : bytes(std::move(b)) {
        SGStream_InitForInput(&stream, &Counting::read, &Counting::available, nullptr, nullptr,
                              this);
    }
    static int read(void* user, void* out, uint32_t n) {
        auto* c = static_cast<Counting*>(user);
        if (n > c->bytes.size() - c->at) return -1;
        std::memcpy(out, c->bytes.data() + c->at, n);
        c->at += n;
        ++c->reads;
        return 0;
    }
    static uint64_t available(void* user) {
        auto* c = static_cast<Counting*>(user);
        return c->bytes.size() - c->at;
    }
};

struct InputStage {
    SGStream stream{};
    int result;
    InputStage(SGStream* source, int cipherId, const Bytes& key, const Bytes& iv,
               uint64_t chunk = 0, int encrypt = 1) {
        SGBinary k = viewOf(key), v = viewOf(iv);
        result = SGCipherStream_GenerateForInput(&stream, source, encrypt, chunk, cipherId, &k, &v);
    }
    ~InputStage() { SGCipherStream_Reset(&stream); }
    uint64_t available() {
        uint64_t a = 0;
        EXPECT_EQ(SGStream_ReadAvailable(&a, &stream), 0);
        return a;
    }
    // Everything available, in reads of the given size.
    Bytes readAll(uint32_t piece) {
        Bytes out;
        for (uint64_t left = available(); left > 0; left = available()) {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(piece, left));
            Bytes part(n);
            EXPECT_EQ(SGStream_Read(part.data(), n, &stream), 0);
            out.insert(out.end(), part.begin(), part.end());
        }
        return out;
    }
};

TEST_F(CipherStream, ReadsOfAnySizeGiveOpensslsCiphertext) {
    const Bytes plain = pattern(70000);
    const Bytes expected = opensslEncrypt(plain, "seed-cbc", kKey, kIv);
    ASSERT_EQ(expected.size(), 70016u);
    for (uint32_t piece : {1u, 7u, 15u, 16u, 17u, 4096u, 70016u}) {
        SCOPED_TRACE(piece);
        Counting source(plain);
        InputStage stage(&source.stream, SG_CIPHER_SEED, kKey, kIv);
        ASSERT_EQ(stage.result, 0);
        EXPECT_EQ(stage.available(), 70016u);
        EXPECT_EQ(stage.readAll(piece), expected);
        // Chunks of 32768: three source reads.
        EXPECT_EQ(source.reads, 3);
        unsigned char more = 0;
        EXPECT_NE(SGStream_Read(&more, 1, &stage.stream), 0);
    }
}

TEST_F(CipherStream, AvailableIsThePaddedLength) {
    struct Case {
        size_t size;
        int cipherId;
        const char* cipher;
        uint64_t padded;
    };
    const Case cases[] = {
        {20, SG_CIPHER_SEED, "seed-cbc", 32},     {32, SG_CIPHER_SEED, "seed-cbc", 48},
        {0, SG_CIPHER_SEED, "seed-cbc", 16},      {20, SG_CIPHER_TDES, "des-ede3-cbc", 24},
        {16, SG_CIPHER_TDES, "des-ede3-cbc", 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + c.cipher);
        const bool des = c.cipherId == SG_CIPHER_TDES;
        const Bytes plain = pattern(c.size);
        Counting source(plain);
        InputStage stage(&source.stream, c.cipherId, des ? kKey24 : kKey, des ? kIv8 : kIv, 5);
        ASSERT_EQ(stage.result, 0);
        EXPECT_EQ(stage.available(), c.padded);
        // Part-way, the count still says what is left.
        Bytes first(3);
        ASSERT_EQ(SGStream_Read(first.data(), 3, &stage.stream), 0);
        EXPECT_EQ(stage.available(), c.padded - 3);
        Bytes rest = stage.readAll(7);
        first.insert(first.end(), rest.begin(), rest.end());
        EXPECT_EQ(first, opensslEncrypt(plain, c.cipher, des ? kKey24 : kKey, des ? kIv8 : kIv));
    }
}

struct OutputStage {
    SGBinary sink{};
    SGStream destination{};
    SGStream stream{};
    int result;
    OutputStage(int cipherId, const Bytes& key, const Bytes& iv, uint64_t chunk = 0,
                int encrypt = 0) {
        SGStream_InitWithBinary(&destination, &sink);
        SGBinary k = viewOf(key), v = viewOf(iv);
        result = SGCipherStream_GenerateForOutput(&stream, &destination, encrypt, chunk, cipherId,
                                                  &k, &v);
    }
    ~OutputStage() {
        SGCipherStream_Reset(&stream);
        SGStream_Reset(&destination);
        SGBinary_Reset(&sink);
    }
    int writeAll(const Bytes& in, size_t piece) {
        for (size_t at = 0; at < in.size(); at += piece) {
            const size_t n = std::min(piece, in.size() - at);
            if (int r = SGStream_Write(in.data() + at, static_cast<uint32_t>(n), &stream)) return r;
        }
        return SGStream_Flush(&stream);
    }
};

TEST_F(CipherStream, DecryptingStageTakesAnyWritesAndChunks) {
    const Bytes plain = pattern(70000);
    const Bytes cipher = opensslEncrypt(plain, "seed-cbc", kKey, kIv);
    for (uint64_t chunk : {uint64_t{0}, uint64_t{100}, uint64_t{17}}) {
        for (size_t piece :
             {size_t{1}, size_t{7}, size_t{15}, size_t{17}, size_t{4096}, cipher.size()}) {
            SCOPED_TRACE(std::to_string(chunk) + "/" + std::to_string(piece));
            if (chunk == 17 && piece == 1) continue;  // slow and adds nothing
            OutputStage stage(SG_CIPHER_SEED, kKey, kIv, chunk);
            ASSERT_EQ(stage.result, 0);
            ASSERT_EQ(stage.writeAll(cipher, piece), 0);
            EXPECT_EQ(bytesOf(stage.sink), plain);
        }
    }
    // 48 bytes of ciphertext: the 40 bytes without padding; a damaged last block: 410.
    const Bytes small = pattern(40);
    const Bytes smallCipher = opensslEncrypt(small, "seed-cbc", kKey, kIv);
    ASSERT_EQ(smallCipher.size(), 48u);
    {
        OutputStage stage(SG_CIPHER_SEED, kKey, kIv);
        ASSERT_EQ(stage.writeAll(smallCipher, 48), 0);
        EXPECT_EQ(bytesOf(stage.sink), small);
    }
    Bytes damaged = smallCipher;
    damaged.back() ^= 0x5A;
    OutputStage stage(SG_CIPHER_SEED, kKey, kIv);
    EXPECT_EQ(stage.writeAll(damaged, 48), SG_CIPHER_ERR_BAD_PADDING);
    EXPECT_EQ(bytesOf(stage.sink), Bytes(small.begin(), small.begin() + 32));
}

TEST_F(CipherStream, SetUpRefusals) {
    Counting source(pattern(10));
    EXPECT_EQ(InputStage(&source.stream, SG_CIPHER_SEED, kKey, kIv, 0, 0).result,
              SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(OutputStage(SG_CIPHER_SEED, kKey, kIv, 0, 1).result, SG_PKI_ERR_ARGUMENT);
    // A key the cipher cannot use is reported at set-up.
    EXPECT_NE(InputStage(&source.stream, SG_CIPHER_SEED, Bytes(15, 1), kIv).result, 0);
    EXPECT_NE(OutputStage(SG_CIPHER_TDES, Bytes(20, 1), kIv8).result, 0);
    EXPECT_EQ(InputStage(nullptr, SG_CIPHER_SEED, kKey, kIv).result, SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGCipherStream_Reset(nullptr), 0);
}

}  // namespace
