// The identity check and the signature list over certificates, HashContents and lists made by
// openssl (asn1parse -genconf, dgst, ca): VIDs of the four hashes, the identification numbers and
// random numbers that must and must not match, lists whose signer or bytes are wrong, lists whose
// algorithm names no digest, and KCDSA lists signed with the standard's example key.
#include <gtest/gtest.h>

#include <string>

#include "PKCS7Material.h"
#include "PkiMaterial.h"
#include "SGKISA.h"
#include "SGPKCSError.h"

namespace {

using namespace pkitest;

const fs::path& material() {
    static const fs::path folder = cached("kisa-vid");
    return folder;
}

class KISA : public PkiTest {
  protected:
    static Bytes file(const std::string& name) { return testkit::readBytes(material() / name); }
    static std::string idn() { return testkit::readText(material() / "idn.txt"); }
    static Bytes random() {
        std::string text = testkit::readText(material() / "random.hex");
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return testkit::unhex(text);
    }
    static int verify(const std::string& certificate, const std::string& number,
                      const Bytes& randomNum) {
        ParsedCertificate parsed(material() / certificate);
        SGBinary view = viewOf(randomNum);
        return SGKISAVID_Verify(&parsed.handle, number.c_str(), &view);
    }
};

TEST_F(KISA, ServiceSlots) {
    EXPECT_EQ(Service[73], reinterpret_cast<void*>(&SGKISAHashContent_Encode));
    EXPECT_EQ(Service[74], reinterpret_cast<void*>(&SGKISAVID_Verify));
    EXPECT_EQ(Service[75], reinterpret_cast<void*>(&SGKISASignatureToken_GetSignerInfo));
    EXPECT_EQ(Service[76], reinterpret_cast<void*>(&SGKISASignatureToken_Verify));
    EXPECT_EQ(Service[77], reinterpret_cast<void*>(&SGKISASignatureToken_Free));
}

TEST_F(KISA, HashContentEqualsOpenssl) {
    const Bytes r = random();
    const std::string number = idn();
    struct Case {
        const char* name;
        std::string idn;
        const char* expected;
    } const cases[] = {{"with idn", number, "hashcontent.der"},
                       {"empty idn", "", "hashcontent-noidn.der"}};
    for (const Case& c : cases) {
        SGKISAHashContent content{viewOf(c.idn), viewOf(r)};
        if (c.idn.empty()) content.idn = SGBinary{};
        SGBinary out{};
        ASSERT_EQ(SGKISAHashContent_Encode(&out, &content, nullptr), 0) << c.name;
        EXPECT_EQ(testkit::hex(bytesOf(out)), testkit::hex(file(c.expected))) << c.name;
        SGBinary_Reset(&out);
    }
    SGBinary out{};
    EXPECT_EQ(SGKISAHashContent_Encode(&out, nullptr, nullptr), SG_PKI_ERR_ARGUMENT);
}

TEST_F(KISA, ChecksIdentificationNumbersAgainstTheVid) {
    const std::string right = idn();
    std::string wrong = right;
    wrong.back() = wrong.back() == '7' ? '8' : '7';
    std::string upper = right, longer = right + "0";
    Bytes otherRandom = random();
    otherRandom[0] ^= 1;
    for (const char* hash : {"sha1", "sha256", "sha384", "sha512"}) {
        const std::string certificate = std::string("vid-") + hash + ".der";
        EXPECT_EQ(verify(certificate, right, random()), 0) << hash;
        EXPECT_EQ(verify(certificate, wrong, random()), SG_KISA_ERR_VID_MISMATCH) << hash;
        EXPECT_EQ(verify(certificate, longer, random()), SG_KISA_ERR_VID_MISMATCH) << hash;
        EXPECT_EQ(verify(certificate, "", random()), SG_KISA_ERR_VID_MISMATCH) << hash;
        EXPECT_EQ(verify(certificate, right, otherRandom), SG_KISA_ERR_VID_MISMATCH) << hash;
    }
}

TEST_F(KISA, RefusesWhatHoldsNoUsableVid) {
    const std::string right = idn();
    struct Case {
        const char* certificate;
        int expected;
    } const cases[] = {
        {"realname.der", SG_PKI_ERR_NO_DATA},
        {"plain.der", SG_KISA_ERR_CERTIFICATE},
        // An empty or cut VID must not match on the bytes it has.
        {"vid-empty.der", SG_KISA_ERR_VID_MISMATCH},
        {"vid-short.der", SG_KISA_ERR_VID_MISMATCH},
    };
    for (const Case& c : cases)
        EXPECT_EQ(verify(c.certificate, right, random()), c.expected) << c.certificate;
}

TEST_F(KISA, BoundsTheRandomNumber) {
    ParsedCertificate parsed(material() / "vid-sha256.der");
    const std::string number = idn();
    struct Case {
        size_t size;
        int expected;
    } const cases[] = {{0, SG_PKI_ERR_OUT_OF_RANGE},
                       {1, SG_KISA_ERR_VID_MISMATCH},
                       {200, SG_KISA_ERR_VID_MISMATCH},
                       {201, SG_PKI_ERR_OUT_OF_RANGE}};
    for (const Case& c : cases) {
        Bytes r(c.size, 0x5A);
        SGBinary view = viewOf(r);
        if (c.size == 0) view.data = nullptr;
        EXPECT_EQ(SGKISAVID_Verify(&parsed.handle, number.c_str(), &view), c.expected) << c.size;
    }
    SGBinary view = viewOf(random());
    EXPECT_EQ(SGKISAVID_Verify(nullptr, number.c_str(), &view), SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGKISAVID_Verify(&parsed.handle, nullptr, &view), SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGKISAVID_Verify(&parsed.handle, number.c_str(), nullptr), SG_PKI_ERR_ARGUMENT);
}

// A 200-byte random that does make the VID: the HashContent is built here, hashed by openssl.
TEST_F(KISA, AcceptsARandomOfTwoHundredBytes) {
    const Bytes r(200, 0xA5);
    const std::string number = idn();
    SGKISAHashContent content{viewOf(number), viewOf(r)};
    SGBinary der{};
    ASSERT_EQ(SGKISAHashContent_Encode(&der, &content, nullptr), 0);
    testkit::Scratch scratch;
    testkit::writeBytes(scratch.path() / "hc.der", bytesOf(der));
    SGBinary_Reset(&der);
    const std::string vid = testkit::run(
        "openssl dgst -sha256 -binary " + testkit::quote((scratch.path() / "hc.der").string()) +
        " | openssl dgst -sha256 -binary | od -An -tx1 -v | tr -d ' \\n'");
    ASSERT_EQ(vid.size(), 64u);
    // The same certificate profile, with this VID.
    const std::string made =
        testkit::run("cd " + testkit::quote(scratch.path().string()) +
                     " && cat > ext.cnf <<'CNF'\n"
                     "[req]\ndistinguished_name=dn\n[dn]\n[ext]\nsubjectAltName = "
                     "otherName:1.2.410.200004.10.1.1;SEQUENCE:identify\n"
                     "[identify]\nrealName=UTF8:Kim\nuserInfo=SEQUENCE:userInfo\n"
                     "[userInfo]\nvid=SEQUENCE:vidInfo\n"
                     "[vidInfo]\ntype=OID:1.2.410.200004.10.1.1.1\nvalue=SEQUENCE:vid\n"
                     "[vid]\nhashAlg=SEQUENCE:alg\nvirtualID=EXPLICIT:0,FORMAT:HEX,OCTETSTRING:" +
                     vid +
                     "\n[alg]\nalgorithm=OID:sha256\nCNF\n"
                     "openssl req -new -x509 -key " +
                     testkit::quote((material() / "sign.key").string()) +
                     " -subj /CN=Kim -days 1 -extensions ext -config ext.cnf"
                     " -outform DER -out cert.der 2>&1 && echo made");
    ASSERT_NE(made.find("made"), std::string::npos) << made;
    ParsedCertificate parsed(scratch.path() / "cert.der");
    SGBinary view = viewOf(r);
    EXPECT_EQ(SGKISAVID_Verify(&parsed.handle, number.c_str(), &view), 0);
}

// The list is handed out as decoded, also when the signer or the signature is wrong.
TEST_F(KISA, VerifiesSignatureLists) {
    const Bytes signer = file("sign.der");
    struct Case {
        const char* list;
        const char* certificate;
        int expected;
        bool listed;
    } const cases[] = {
        {"siglist.der", "sign.der", 0, true},
        // Signed with SHA-1 though the certificate itself is signed with SHA-256.
        {"siglist-sha1.der", "sign.der", 0, true},
        // Bare rsaEncryption names no digest: the certificate's own (SHA-256) is used.
        {"siglist-rsa.der", "sign.der", 0, true},
        {"siglist-rsa-sha1.der", "sign.der", SG_KISA_ERR_SIGNATURE, true},
        {"siglist-serial.der", "sign.der", SG_KISA_ERR_SIGNER, true},
        {"siglist-altered.der", "sign.der", SG_KISA_ERR_SIGNATURE, true},
        // The key-management certificate: same issuer, another serial.
        {"siglist.der", "km.der", SG_KISA_ERR_SIGNER, true},
        {"siglist.der", "tokens.der", SG_KISA_ERR_CERTIFICATE, true},
        {"tokens.der", "sign.der", SG_ASN_ERR_MALFORMED, false},
    };
    for (const Case& c : cases) {
        const Bytes value = file(c.list), certificate = file(c.certificate);
        SGBinary valueView = viewOf(value), certificateView = viewOf(certificate);
        SGKISASignatureToken* list = nullptr;
        EXPECT_EQ(SGKISASignatureToken_Verify(&list, &valueView, &certificateView), c.expected)
            << c.list << " " << c.certificate;
        if (!c.listed) {
            EXPECT_EQ(list, nullptr);
            continue;
        }
        ASSERT_NE(list, nullptr) << c.list;
        EXPECT_STREQ(list->driverName, "brindlow-driver.so");
        EXPECT_EQ(list->digestId, 5);
        EXPECT_EQ(
            testkit::hex(bytesOf(list->hashValue)).substr(0, 16),
            std::string(c.list) == "siglist-altered.der" ? "9F86D081884C7D66" : "9F86D081884C7D65");
        ASSERT_NE(list->next, nullptr);
        EXPECT_STREQ(list->next->driverName, "second");
        EXPECT_EQ(list->next->digestId, 3);
        EXPECT_EQ(testkit::hex(bytesOf(list->next->hashValue)),
                  "A94A8FE5CCB19BA61C4C0873D391E987982FBBD3");
        EXPECT_EQ(list->next->next, nullptr);
        SGKISASignatureToken_Free(list);
    }
    SGKISASignatureToken* list = nullptr;
    SGBinary view = viewOf(signer);
    EXPECT_EQ(SGKISASignatureToken_Verify(&list, nullptr, &view), SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGKISASignatureToken_Verify(nullptr, &view, &view), SG_PKI_ERR_ARGUMENT);
    SGKISASignatureToken_Free(nullptr);
}

// The KCDSA identifiers name no digest either: a list signed with the key of the standard's
// example (whose 256-bit q rules SHA-1 out) takes the digest of its certificate, which the kit's
// CA signs with SHA-256.
TEST_F(KISA, VerifiesKcdsaListsWithTheCertificatesDigest) {
    const p7test::KcdsaExample& k = p7test::kcdsaExample();
    const Bytes tokens = file("tokens.der");
    SGDSKey key{};
    ASSERT_EQ(
        SGDSKey_Decode(&key, k.x.data(), static_cast<int>(k.x.size()), SG_DSKEY_KCDSA_PRIVATE), 0);
    // The SignatureValue of the tokens, signed with SHA-256 and naming the algorithm; the
    // signature's last byte changed when asked.
    auto signedList = [&](const SGX509Certificate& signer, const std::string& oid, bool altered) {
        const SGDSParameter p = p7test::kcdsaParameter(&key, SG_DIGEST_SHA256);
        unsigned char signature[512];
        unsigned length = sizeof signature;
        EXPECT_EQ(SGDS_Sign(signature, &length, tokens.data(), static_cast<int>(tokens.size()), &p),
                  0);
        if (altered) signature[length - 1] ^= 1;
        SGBinary issuer{}, serial{};
        EXPECT_EQ(SGX509Certificate_GetEncodedEntry(&issuer, &signer, SG_X509_ENTRY_ISSUER), 0);
        EXPECT_EQ(SGX509Certificate_GetEncodedEntry(&serial, &signer, SG_X509_ENTRY_SERIAL_NUMBER),
                  0);
        const Bytes value =
            x509test::seq({tokens, x509test::seq({x509test::oid(oid), x509test::null()}),
                           x509test::seq({bytesOf(issuer), bytesOf(serial)}),
                           x509test::octets(Bytes(signature, signature + length))});
        SGBinary_Reset(&issuer);
        SGBinary_Reset(&serial);
        return value;
    };
    struct Case {
        const char* oid;
        bool altered;
        int expected;
    } const cases[] = {
        {"1.2.410.200004.1.1", false, 0},
        {"1.2.410.200004.1.21", false, 0},
        {"1.2.410.200004.1.1", true, SG_KISA_ERR_SIGNATURE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.oid) + (c.altered ? " altered" : ""));
        const fs::path file = p7test::kcdsaCertificate(c.oid);
        ParsedCertificate signer(file);
        const Bytes value = signedList(signer.handle, c.oid, c.altered);
        const Bytes certificate = testkit::readBytes(file);
        SGBinary valueView = viewOf(value), certificateView = viewOf(certificate);
        SGKISASignatureToken* list = nullptr;
        EXPECT_EQ(SGKISASignatureToken_Verify(&list, &valueView, &certificateView), c.expected);
        ASSERT_NE(list, nullptr);
        EXPECT_STREQ(list->driverName, "brindlow-driver.so");
        SGKISASignatureToken_Free(list);
    }
    SGDSKey_Clear(&key);
}

TEST_F(KISA, ReadsTheSignerOfAList) {
    const Bytes value = file("siglist-serial.der");
    SGBinary view = viewOf(value);
    SGBinary issuer{}, serial{};
    ASSERT_EQ(SGKISASignatureToken_GetSignerInfo(&issuer, &serial, &view), 0);
    ParsedCertificate signer(material() / "sign.der");
    SGBinary expected{};
    ASSERT_EQ(SGX509Certificate_GetEncodedEntry(&expected, &signer.handle, SG_X509_ENTRY_ISSUER),
              0);
    EXPECT_EQ(testkit::hex(bytesOf(issuer)), testkit::hex(bytesOf(expected)));
    EXPECT_EQ(testkit::hex(bytesOf(serial)), "020105");
    SGBinary_Reset(&issuer);
    SGBinary_Reset(&serial);
    SGBinary_Reset(&expected);

    const Bytes notAList = file("tokens.der");
    view = viewOf(notAList);
    EXPECT_EQ(SGKISASignatureToken_GetSignerInfo(&issuer, &serial, &view), SG_ASN_ERR_MALFORMED);
    EXPECT_EQ(SGKISASignatureToken_GetSignerInfo(nullptr, &serial, &view), SG_PKI_ERR_ARGUMENT);
}

}  // namespace
