// Unusual certificates (data/fuzz_x509_certificate, made by make_x509_corpus.py): the fuzz target
// over each of them, over cuts and bit flips of them, and what the library answers for the
// shapes that matter.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "SGServiceTable.h"
#include "SGX509Certificate.h"
#include "ServiceTestUtil.h"
#include "X509TestUtil.h"

extern "C" int SGFuzzX509Certificate(const uint8_t* data, size_t size);

namespace {

using namespace servicetest;

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

const std::filesystem::path kCorpus = BRINDLOW_TEST_DATA "/fuzz_x509_certificate";

std::vector<std::filesystem::path> seeds() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzX509Certificate, SeedCorpus) {
    const auto files = seeds();
    ASSERT_GE(files.size(), 50u);
    for (const auto& file : files) {
        Bytes seed = readFile(file);
        EXPECT_EQ(SGFuzzX509Certificate(seed.data(), seed.size()), 0) << file;
    }
}

// Cuts and bit flips at evenly spread places of each seed (a bounded number per seed, so the
// run stays short under the sanitizers).
TEST(FuzzX509Certificate, CutsAndBitFlipsOfTheSeeds) {
    for (const auto& file : seeds()) {
        const Bytes seed = readFile(file);
        const size_t cutStep = std::max<size_t>(1, seed.size() / 48);
        for (size_t n = 0; n < seed.size(); n += cutStep) SGFuzzX509Certificate(seed.data(), n);
        Bytes mutated = seed;
        const size_t bitStep = std::max<size_t>(1, seed.size() * 8 / 96) | 1;
        for (size_t bit = 0; bit < seed.size() * 8; bit += bitStep) {
            mutated[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            SGFuzzX509Certificate(mutated.data(), mutated.size());
            mutated[bit / 8] = seed[bit / 8];
        }
    }
    SUCCEED();  // the sanitizers and the target's own checks are the assertions
}

// What the library answers for the shapes of the corpus.
TEST(FuzzX509Certificate, AnswersForUnusualCertificates) {
    ASSERT_EQ(SGServiceWrapper_GetList(Service), 0);
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        const char* file;
        int decode;  // FromBinary
        int entryId;
        int result;
        std::string text;
    } cases[] = {
        {"valid_v3", 0, 14, 0, "cA=true,"},
        {"no_version", 0, 1, 0, "1"},
        {"version_9", 0, 1, 0, "9"},
        {"version_huge", 0, 1, 20902, ""},
        {"serial_20", 0, 2, 0, "0102030405060708090A0B0C0D0E0F1011121314"},
        {"serial_21", 10018, 0, 0, ""},
        {"serial_negative", 0, 2, 0, "FB"},
        {"time_bad_month", 0, 5, 20902, ""},
        {"time_empty", 0, 5, 20902, ""},
        {"time_gen_fraction", 0, 6, 0, "20510630120000"},
        {"time_gen_9999", 0, 6, 0, "99991231235959"},
        {"time_integer", 20902, 0, 0, ""},
        {"time_missing", 20902, 0, 0, ""},
        {"oid_huge_arc_sigalg", 0, 3, -1, ""},
        {"oid_sha384", 0, 27, -123123, ""},
        {"name_empty", 0, 7, 0, ""},
        {"name_unknown_type", 0, 7, 20903, ""},
        {"name_tls_feature_type", 0, 7, -1, ""},
        {"name_integer_value", 0, 7, 20902, ""},
        {"name_bmp_odd", 0, 7, 20902, ""},
        {"name_bmp_surrogates", 0, 7, 0,
         "CN=a\xF0\x9F\x98\x80"
         "b"},
        {"name_universal", 0, 7, 0, "CN=홍"},
        {"name_nul_inside", 0, 7, 20902, ""},
        {"name_multi_values", 0, 7, 0, "CN=a+SN=b+G/GIVENNAME=c"},
        {"name_x500_unique", 0, 7, 0, "-="},
        {"ext_empty_list", 0, 14, 10004, ""},
        {"ext_bc_garbage", 0, 14, 20902, ""},
        {"ext_bc_pathlen_huge", 0, 14, 20902, "cA=true,"},
        {"ext_bc_pathlen_negative", 0, 14, 0, "cA=true,pathLengthConstraints=-1"},
        {"ext_ku_unused7", 0, 22, 0,
         "digitalSignature,nonRepudiation,keyEncipherment,dataEncipherment,keyAgreement,"
         "keyCertSign,cRLSign,encipherOnly,decipherOnly,"},
        {"ext_ku_empty", 0, 22, 0, ""},
        {"ext_ku_not_bits", 0, 22, 20902, ""},
        {"ext_policy_unknown_qualifier", 0, 16, -1222, "1.2.3,"},
        {"ext_policy_visible", 0, 16, 0, "1.2.3,visible text\n"},
        {"ext_policy_bmp_odd", 0, 16, 20902, "1.2.3,"},
        {"ext_policy_bmp_ffff", 0, 16, 0, "1.2.3,A\n"},
        {"ext_policy_bmp_surrogates", 0, 16, 0, "1.2.3,\xF0\x9F\x98\x80\xEF\xBF\xBDx\n"},
        {"ext_cps_not_ia5", 0, 16, 20902, "1.2.3,"},
        {"ext_san_identify", 0, 18, 20903,
         "realName(홍길동)virtualID(SHA256," + std::string(64, '1') + ")virtualID(,22222222)"},
        {"ext_san_identify_garbage", 0, 18, 20902, ""},
        {"ext_san_vid_garbage", 0, 18, 20902, "realName(a)"},
        {"ext_san_unknown_other", 0, 18, 20903, ""},
        {"ext_aia_unknown_method", 0, 20, -11, "CAIssuers:http://a"},
        {"ext_aia_dns_location", 0, 20, 0, "OCSP:"},
        {"ext_crldp_relative", 0, 19, 0, ""},
        {"ext_crldp_dns", 0, 19, 0, ""},
        {"ext_crldp_empty_point", 0, 19, 0, ""},
        {"ext_aki_uri_issuer", 0, 13, 0,
         "KeyIdentifier(0102), CertIssuer(http://issuer), CertIssuer(05)"},
        {"ext_ski_long", 0, 15, 0, repeat("AB", 300)},
        {"ext_unknown_oid_last", 0, 17, 20903, ""},
        {"ext_sia", 0, 21, 10010, ""},
        {"indefinite_length_v1", 0, 7, 0, "CN=Corpus, O=Test, C=KR"},
        {"trailing_bytes", 0, 7, 0, "CN=Corpus, O=Test, C=KR"},
        {"deep_nesting", 20902, 0, 0, ""},
        {"length_overflow", 20902, 0, 0, ""},
        {"truncated_one", 20902, 0, 0, ""},
    };
    for (const Case& c : cases) {
        const Bytes der = readFile(kCorpus / (std::string(c.file) + ".der"));
        SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
        SGX509Certificate handle{};
        ASSERT_EQ(SGX509Certificate_FromBinary(&handle, &in), c.decode) << c.file;
        if (c.decode != 0) {
            EXPECT_EQ(handle.certificate, nullptr) << c.file;
            continue;
        }
        x509test::GuardedBuffer buffer(4096);
        EXPECT_EQ(SGX509Certificate_GetEntry(&handle, buffer.data(), 4096, c.entryId, 0), c.result)
            << c.file;
        EXPECT_EQ(buffer.text(), c.text) << c.file;
        SGX509Certificate_Clear(&handle);
    }
    unsetenv("TZ");
    tzset();
}

// Bad times make the validity test fail with an error, never pass.
TEST(FuzzX509Certificate, ValidityOfBadTimesIsAnError) {
    for (const char* file : {"time_bad_month", "time_empty", "time_letters"}) {
        const Bytes der = readFile(kCorpus / (std::string(file) + ".der"));
        SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
        SGX509Certificate handle{};
        ASSERT_EQ(SGX509Certificate_FromBinary(&handle, &in), 0) << file;
        const time_t when = 1740000000;
        const int result = SGX509Certificate_InTime(&handle, &when, nullptr, 0);
        EXPECT_NE(result, 0) << file;
        EXPECT_NE(result, -1) << file;
        SGX509Certificate_Clear(&handle);
    }
}

}  // namespace
