// PEM armour: the line layout at the 48-byte boundaries, both labels, refused types, and openssl
// reading what we write.
#include <gtest/gtest.h>

#include <string>

#include "PkiCache.h"
#include "SGBinary.h"
#include "SGPEM.h"
#include "SGServiceTable.h"
#include "TestKit.h"

namespace {

using testkit::Bytes;

class PEM : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
};

struct Encoded {
    int result;
    std::string text;
};
Encoded encode(const Bytes& der, int type) {
    SGBinary out{};
    const SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
    Encoded e;
    e.result = SG_SERVICE_FN(Service, SGPEM_Encode)(&out, &in, type);
    e.text.assign(reinterpret_cast<const char*>(out.data), out.length);
    SGBinary_Reset(&out);
    return e;
}

TEST_F(PEM, LinesOf64CharactersWithCrLfAndNoLineEndAfterTheFooter) {
    const std::string header = "-----BEGIN CERTIFICATE-----\r\n";
    const std::string footer = "-----END CERTIFICATE-----";
    struct Case {
        size_t size;
        std::string body;
    } cases[] = {
        {0, ""},
        {1, "AA==\r\n"},
        {48, std::string(64, 'A') + "\r\n"},
        {49, std::string(64, 'A') + "\r\nAA==\r\n"},
        {96, std::string(64, 'A') + "\r\n" + std::string(64, 'A') + "\r\n"},
    };
    for (const Case& c : cases) {
        const Encoded e = encode(Bytes(c.size, 0), SG_PEM_CERTIFICATE);
        EXPECT_EQ(e.result, 0) << c.size;
        EXPECT_EQ(e.text, header + c.body + footer) << c.size;
    }
}

TEST_F(PEM, PrivateKeyLabelIsOneWord) {
    const Encoded e = encode(Bytes{1, 2, 3}, SG_PEM_PRIVATE_KEY);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.text, "-----BEGIN PRIVATEKEY-----\r\nAQID\r\n-----END PRIVATEKEY-----");
}

TEST_F(PEM, OtherTypesAndMissingArgumentsGiveAnErrorAndNoOutput) {
    for (int type : {0, 3, -1, 100}) {
        const Encoded e = encode(Bytes{1, 2, 3}, type);
        EXPECT_EQ(e.result, 10009) << type;
        EXPECT_TRUE(e.text.empty()) << type;
    }
    SGBinary out{};
    EXPECT_EQ(SGPEM_Encode(&out, nullptr, 1), 10001);
    EXPECT_EQ(out.length, 0u);
    EXPECT_EQ(SGPEM_Encode(nullptr, &out, 1), 10001);
    EXPECT_EQ(SGPEM_Decode(), 0);
}

TEST_F(PEM, OpensslReadsOurCertificateAndKey) {
    const auto chain = testkit::cachedPki("chain");
    ASSERT_FALSE(chain.empty());
    testkit::Scratch scratch;
    const Bytes certificate = testkit::readBytes(chain / "sign.der");
    const Encoded cert = encode(certificate, SG_PEM_CERTIFICATE);
    ASSERT_EQ(cert.result, 0);
    testkit::writeText(scratch / "ours.pem", cert.text);
    const std::string fingerprint = "openssl x509 -noout -fingerprint -sha256 -in ";
    std::string ours, theirs;
    ASSERT_TRUE(
        testkit::succeeds(fingerprint + testkit::quote((scratch / "ours.pem").string()), &ours))
        << ours;
    ASSERT_TRUE(
        testkit::succeeds(fingerprint + testkit::quote((chain / "sign.pem").string()), &theirs));
    EXPECT_EQ(ours, theirs);

    // The key's body is the PrivateKeyInfo: openssl reads it under its own label.
    const std::string keyDer = (scratch / "key.der").string();
    ASSERT_TRUE(testkit::succeeds("openssl pkcs8 -topk8 -nocrypt -outform DER -in " +
                                  testkit::quote((chain / "sign.key").string()) + " -out " +
                                  testkit::quote(keyDer)));
    const Encoded key = encode(testkit::readBytes(keyDer), SG_PEM_PRIVATE_KEY);
    ASSERT_EQ(key.result, 0);
    std::string relabelled = key.text;
    for (const char* word : {"BEGIN", "END"}) {
        const std::string from = std::string(word) + " PRIVATEKEY",
                          to = std::string(word) + " PRIVATE KEY";
        relabelled.replace(relabelled.find(from), from.size(), to);
    }
    testkit::writeText(scratch / "key.pem", relabelled + "\n");
    std::string out;
    EXPECT_TRUE(testkit::succeeds(
        "openssl pkey -noout -in " + testkit::quote((scratch / "key.pem").string()), &out))
        << out;
}

}  // namespace
