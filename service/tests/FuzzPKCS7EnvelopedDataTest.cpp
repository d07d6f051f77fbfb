// The EnvelopedData and streaming DER fuzz targets over their seed corpora (made by
// make_enveloped_corpus.sh with openssl cms) and over cuts and bit flips of each seed, and what
// the seeds open to with the keys the target uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "SGCryptoHandler.h"
#include "SGPKCS7EnvelopedData.h"
#include "SGServiceTable.h"
#include "TestKit.h"

extern "C" int SGFuzzPKCS7EnvelopedData(const uint8_t* data, size_t size);
extern "C" int SGFuzzSimpleASN(const uint8_t* data, size_t size);

namespace {

using testkit::Bytes;

const std::filesystem::path kData = BRINDLOW_TEST_DATA;

std::vector<std::filesystem::path> seeds(const std::string& corpus) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(kData / corpus))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Every seed, then cuts and bit flips at evenly spread places (bounded per seed).
void runCorpus(const std::string& corpus, int (*target)(const uint8_t*, size_t), int flips) {
    const auto files = seeds(corpus);
    ASSERT_GE(files.size(), 6u);
    for (const auto& file : files) {
        const Bytes seed = testkit::readBytes(file);
        EXPECT_EQ(target(seed.data(), seed.size()), 0) << file;
        const size_t cutStep = std::max<size_t>(1, seed.size() / 8);
        for (size_t n = 1; n < seed.size(); n += cutStep) target(seed.data(), n);
        Bytes mutated = seed;
        const size_t bitStep = std::max<size_t>(1, seed.size() * 8 / flips) | 1;
        for (size_t bit = 0; bit < seed.size() * 8; bit += bitStep) {
            mutated[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            target(mutated.data(), mutated.size());
            mutated[bit / 8] = seed[bit / 8];
        }
    }
}

TEST(FuzzPKCS7EnvelopedData, SeedsCutsAndBitFlips) {
    runCorpus("fuzz_pkcs7_enveloped_data", SGFuzzPKCS7EnvelopedData, 12);
    SUCCEED();  // the sanitizers and the target's own checks are the assertions
}

TEST(FuzzSimpleASN, SeedsCutsAndBitFlips) {
    runCorpus("fuzz_simple_asn", SGFuzzSimpleASN, 48);
    SUCCEED();
}

TEST(FuzzPKCS7EnvelopedData, TheSeedsOpen) {
    ASSERT_EQ(SGServiceWrapper_GetList(Service), 0);
    const std::string message = "Brindlow EnvelopedData fuzz seed\n";
    const Bytes password = {'q', '1', 'w', '2', 'e', '3', 'r', '4', '!', '@'};
    const Bytes kek = testkit::unhex("000102030405060708090A0B0C0D0E0F");
    // The RSA key as the target carries it, from the key file.
    testkit::Scratch scratch;
    ASSERT_TRUE(testkit::succeeds("openssl rsa -in " +
                                  testkit::quote((kData / "enveloped_recipient.key").string()) +
                                  " -traditional -outform DER -out " +
                                  testkit::quote((scratch / "k.der").string()) + " 2>/dev/null"));
    const Bytes rsa = testkit::readBytes(scratch / "k.der");
    struct Case {
        const char* file;
        int type;
        const Bytes* key;
        int flags;
    } cases[] = {
        {"ktri-seed", SG_CRYPTO_HANDLER_RSA_KEY, &rsa, 0},
        {"ktri-aes256", SG_CRYPTO_HANDLER_RSA_KEY, &rsa, 0},
        {"ktri-des3", SG_CRYPTO_HANDLER_RSA_KEY, &rsa, 0},
        {"oaep", SG_CRYPTO_HANDLER_RSA_KEY, &rsa, 0},
        {"stream", SG_CRYPTO_HANDLER_RSA_KEY, &rsa, 0},
        {"bare", SG_CRYPTO_HANDLER_RSA_KEY, &rsa, SG_PKCS7_ENVELOPE_BARE},
        {"pwri-aes128", SG_PKCS7_RECIPIENT_KEY_PASSWORD, &password, 0},
        {"pwri-seed", SG_PKCS7_RECIPIENT_KEY_PASSWORD, &password, 0},
        {"kek", SG_PKCS7_RECIPIENT_KEY_KEK, &kek, 0},
    };
    for (const Case& c : cases) {
        const Bytes der = testkit::readBytes(kData / "fuzz_pkcs7_enveloped_data" /
                                             (std::string(c.file) + ".der"));
        SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
        SGCryptoHandlerKey key{};
        key.type = c.type;
        key.form.key.der = c.key->data();
        key.form.key.length = static_cast<uint32_t>(c.key->size());
        SGPKCS7EnvelopedDataParameters p{};
        p.flags = c.flags;
        SGBinary content{};
        ASSERT_EQ(SGPKCS7EnvelopedData_Deenvelope(&content, &in, &key, &p, nullptr, nullptr), 0)
            << c.file;
        EXPECT_EQ(std::string(content.data, content.data + content.length), message) << c.file;
        SGBinary_Reset(&content);
    }
}

}  // namespace
