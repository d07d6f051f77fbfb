// The PKCS #7 shared layer: ContentInfo and typed content (openssl's SignedData decoded and
// written back byte for byte), the digest and signature identifier maps both ways, key kinds and
// digests of certificates (openssl's, and the KCDSA ones of the kit), IssuerAndSerialNumber, the
// signed attributes by content mode, and the BER element reader.
#include <gtest/gtest.h>

#include <ctime>
#include <utility>

#include "AlgorithmIdentifier.h"
#include "ContentInfo.h"
#include "EncapsulatedContentInfo.h"
#include "IssuerAndSerialNumber.h"
#include "PKCS7Material.h"
#include "SGASN1C.h"
#include "SignedAttributes.h"
#include "SignedData.h"
#include "SignerInfo.h"

namespace {

using namespace p7test;
using x509test::cat;
using x509test::ctx;
using x509test::null;
using x509test::octets;
using x509test::oid;
using x509test::seq;

class PKCS7 : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
};

Bytes encoded(asn_TYPE_descriptor_t* type, const void* structure) {
    SGBinary out{};
    EXPECT_EQ(SGASN1CObject_Encode(&out, type, structure), 0);
    Bytes b = bytesOf(out);
    SGBinary_Reset(&out);
    return b;
}

// ---------------------------------------------------------------------------------------------
// ContentInfo.

TEST_F(PKCS7, ContentInfoOfOpensslsSignedData) {
    const Bytes der = cmsFile("attr-m1000.der");
    SGBinary in = viewOf(der);
    SGPKCS7ContentInfo info{};
    ASSERT_EQ(SGPKCS7ContentInfo_Decode(&info, &in), 0);
    EXPECT_EQ(info.type, SG_PKCS7_SIGNED_DATA);
    ASSERT_NE(info.content, nullptr);
    Node tree = parse(der);
    EXPECT_EQ(bytesOf(*info.content), signedData(tree).encode());
    // Written back byte for byte.
    SGBinary out{};
    ASSERT_EQ(SGPKCS7ContentInfo_Encode(&out, &info), 0);
    EXPECT_EQ(bytesOf(out), der);
    // Its structure.
    void* structure = nullptr;
    int type = 0;
    ASSERT_EQ(SGPKCS7ContentInfo_Get(&structure, &type, &info), 0);
    EXPECT_EQ(type, SG_PKCS7_SIGNED_DATA);
    ASSERT_NE(structure, nullptr);
    EXPECT_EQ(static_cast<SignedData_t*>(structure)->signerInfos.list.count, 1);
    EXPECT_EQ(SGPKCS7Content_Reset(&structure, type), 0);
    EXPECT_EQ(structure, nullptr);
    // A failed decoding leaves the record as it was.
    const Bytes junk = unhex("3003020101");
    SGBinary junkView = viewOf(junk);
    EXPECT_EQ(SGPKCS7ContentInfo_Decode(&info, &junkView), SG_ASN_ERR_DECODE);
    EXPECT_EQ(info.type, SG_PKCS7_SIGNED_DATA);
    EXPECT_EQ(bytesOf(*info.content), signedData(tree).encode());
    SGPKCS7ContentInfo_Reset(&info);
    EXPECT_EQ(info.content, nullptr);
    EXPECT_EQ(info.type, 0);
    SGBinary_Reset(&out);
}

TEST_F(PKCS7, ContentTypesAndTheirStructures) {
    struct Case {
        const char* oid;
        int type;
        Bytes content;
        int decode;  // SGPKCS7ContentInfo_Get's result
    } cases[] = {
        {"1.2.840.113549.1.7.1", 1, octets({1, 2, 3}), 0},
        {"1.2.840.113549.1.7.2", 2, parse(cmsFile("noattr.der")).kids[1].kids[0].encode(), 0},
        // signedAndEnvelopedData is a type without a structure of its own.
        {"1.2.840.113549.1.7.4", 4, seq({x509test::integer(1)}), SG_PKCS7_ERR_CONTENT_TYPE},
        // digestedData whose content is no DigestedData.
        {"1.2.840.113549.1.7.5", 5, seq({x509test::integer(0)}), SG_ASN_ERR_DECODE},
    };
    for (const Case& c : cases) {
        const Bytes der = seq({oid(c.oid), ctx(0, c.content)});
        SGBinary in = viewOf(der);
        SGPKCS7ContentInfo info{};
        ASSERT_EQ(SGPKCS7ContentInfo_Decode(&info, &in), 0) << c.oid;
        EXPECT_EQ(info.type, c.type) << c.oid;
        void* structure = nullptr;
        int type = 0;
        EXPECT_EQ(SGPKCS7ContentInfo_Get(&structure, &type, &info), c.decode) << c.oid;
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(SGPKCS7Content_Reset(&structure, type),
                  c.type == 4 ? SG_PKCS7_ERR_CONTENT_TYPE : 0);
        SGPKCS7ContentInfo_Reset(&info);
    }
    // An unknown content type; not a ContentInfo.
    for (const Bytes& der : {seq({oid("1.2.840.113549.1.7.7"), ctx(0, octets({1}))}),
                             seq({oid("1.2.840.113549.1.7.1")}), unhex("0400")}) {
        SGBinary in = viewOf(der);
        SGPKCS7ContentInfo info{};
        EXPECT_NE(SGPKCS7ContentInfo_Decode(&info, &in), 0) << hex(der);
        EXPECT_EQ(info.content, nullptr);
    }
    const Bytes unknown = seq({oid("1.2.840.113549.1.7.7"), ctx(0, octets({1}))});
    SGBinary unknownView = viewOf(unknown);
    SGPKCS7ContentInfo info{};
    EXPECT_EQ(SGPKCS7ContentInfo_Decode(&info, &unknownView), SG_PKCS7_ERR_CONTENT_TYPE);
}

TEST_F(PKCS7, DataContentWrittenAndRead) {
    const Bytes message = {'h', 'e', 'l', 'l', 'o'};
    SGBinary m = viewOf(message);
    OCTET_STRING_t data{};
    ASSERT_EQ(SGPKCS7Data_Set(&data, &m), 0);
    SGPKCS7ContentInfo info{};
    ASSERT_EQ(SGPKCS7ContentInfo_Set(&info, &data, SG_PKCS7_DATA), 0);
    SGASN1CObject_Clear(&data, &asn_DEF_OCTET_STRING);
    SGBinary out{};
    ASSERT_EQ(SGPKCS7ContentInfo_Encode(&out, &info), 0);
    EXPECT_EQ(bytesOf(out), seq({oid("1.2.840.113549.1.7.1"), ctx(0, octets(message))}));
    void* structure = nullptr;
    int type = 0;
    ASSERT_EQ(SGPKCS7ContentInfo_Get(&structure, &type, &info), 0);
    SGBinary back{};
    ASSERT_EQ(SGPKCS7Data_Get(&back, static_cast<OCTET_STRING_t*>(structure)), 0);
    EXPECT_EQ(bytesOf(back), message);
    SGBinary_Reset(&back);
    SGPKCS7Content_Reset(&structure, type);
    SGBinary_Reset(&out);

    // What cannot be written.
    EXPECT_EQ(SGPKCS7ContentInfo_Set(&info, &data, SG_PKCS7_SIGNED_AND_ENVELOPED_DATA),
              SG_PKCS7_ERR_CONTENT_TYPE);
    info.type = 7;
    EXPECT_EQ(SGPKCS7ContentInfo_Encode(&out, &info), SG_PKCS7_ERR_CONTENT_TYPE);
    info.type = SG_PKCS7_DATA;
    // A content that is not one whole element would make the ContentInfo unreadable.
    for (const Bytes& bad : {unhex("0405010203"), unhex("04010102")}) {
        SGBinary badView = viewOf(bad);
        SGPKCS7ContentInfo raw{SG_PKCS7_DATA, &badView};
        EXPECT_EQ(SGPKCS7ContentInfo_Encode(&out, &raw), SG_PKI_ERR_ARGUMENT) << hex(bad);
        EXPECT_EQ(out.data, nullptr);
    }
    SGPKCS7ContentInfo_Reset(&info);
}

// ---------------------------------------------------------------------------------------------
// Identifier maps.

TEST_F(PKCS7, DigestAlgorithmIdentifiers) {
    struct Case {
        int digestId;
        const char* oid;
    } cases[] = {
        {1, "1.2.840.113549.2.2"},     {2, "1.2.840.113549.2.5"},     {3, "1.3.14.3.2.26"},
        {5, "2.16.840.1.101.3.4.2.1"}, {6, "2.16.840.1.101.3.4.2.2"}, {7, "2.16.840.1.101.3.4.2.3"},
        {8, "1.2.410.200004.1.2"},
    };
    for (const Case& c : cases) {
        AlgorithmIdentifier_t algorithm{};
        ASSERT_EQ(SGPKCS7ASN1C_SetDigestAlgorithmIdentifier(&algorithm, c.digestId, nullptr), 0);
        EXPECT_EQ(encoded(&asn_DEF_AlgorithmIdentifier, &algorithm), seq({oid(c.oid), null()}))
            << c.oid;
        SGASN1CObject_Clear(&algorithm, &asn_DEF_AlgorithmIdentifier);
        // Read with NULL and with absent parameters alike.
        for (const Bytes& der : {seq({oid(c.oid), null()}), seq({oid(c.oid)})}) {
            x509test::Owned<AlgorithmIdentifier_t> read(&asn_DEF_AlgorithmIdentifier, der);
            int id = 0;
            EXPECT_EQ(SGPKCS7ASN1C_GetDigestAlgorithmIdentifier(&id, nullptr, read.get()), 0);
            EXPECT_EQ(id, c.digestId) << c.oid;
        }
    }
    AlgorithmIdentifier_t algorithm{};
    for (int id : {0, 4, 9, 10})
        EXPECT_EQ(SGPKCS7ASN1C_SetDigestAlgorithmIdentifier(&algorithm, id, nullptr),
                  SG_PKCS7_ERR_DIGEST)
            << id;
    // Parameters as given.
    const Bytes parameters = octets({7});
    SGBinary p = viewOf(parameters);
    ASSERT_EQ(SGPKCS7ASN1C_SetDigestAlgorithmIdentifier(&algorithm, 5, &p), 0);
    EXPECT_EQ(encoded(&asn_DEF_AlgorithmIdentifier, &algorithm),
              seq({oid("2.16.840.1.101.3.4.2.1"), parameters}));
    // A present but empty parameters field, an empty algorithm, SHA-224 and an unknown one.
    int id = 0;
    algorithm.parameters->size = 0;
    EXPECT_EQ(SGPKCS7ASN1C_GetDigestAlgorithmIdentifier(&id, nullptr, &algorithm),
              SG_PKI_ERR_NO_DATA);
    SGASN1CObject_Clear(&algorithm, &asn_DEF_AlgorithmIdentifier);
    EXPECT_EQ(SGPKCS7ASN1C_GetDigestAlgorithmIdentifier(&id, nullptr, &algorithm),
              SG_PKI_ERR_NO_DATA);
    for (const char* other : {"2.16.840.1.101.3.4.2.4", "1.2.3.4"}) {
        x509test::Owned<AlgorithmIdentifier_t> read(&asn_DEF_AlgorithmIdentifier,
                                                    seq({oid(other), null()}));
        EXPECT_EQ(SGPKCS7ASN1C_GetDigestAlgorithmIdentifier(&id, nullptr, read.get()),
                  SG_PKCS7_ERR_DIGEST)
            << other;
    }
    EXPECT_EQ(SGPKCS7ASN1C_GetDigestAlgorithmIdentifier(nullptr, nullptr, &algorithm),
              SG_PKI_ERR_ARGUMENT);
}

TEST_F(PKCS7, SignatureIdentifiersReadBackAsTheKindWritten) {
    struct Case {
        int kind, digestId;
        const char* oid;
        int read;  // kind read back, or the code
    } cases[] = {
        {1, -1, "1.2.840.113549.1.1.1", 1},
        {1, 10, "1.2.840.113549.1.1.1", 1},
        {1, 3, "1.2.840.113549.1.1.5", SG_PKCS7_ERR_ALGORITHM},  // SHA-1 with RSA is not read
        {1, 4, "1.2.840.113549.1.1.14", 1},
        {1, 5, "1.2.840.113549.1.1.11", 1},
        {3, 3, "1.2.410.200004.1.9", 3},
        {3, 4, "1.2.410.200004.1.40", 3},
        {3, 5, "1.2.410.200004.1.27", 3},
        {3, 8, "1.2.410.200004.1.8", 3},
        {3, 9, "1.2.410.200004.1.26", 3},
        {3, 10, "1.2.410.200004.1.1", 3},
        {4, 3, "1.2.410.200004.1.23", 4},
        {4, 4, "1.2.410.200004.1.41", 4},
        {4, 5, "1.2.410.200004.1.38", 4},
        {4, 8, "1.2.410.200004.1.22", 4},
        {4, 9, "1.2.410.200004.1.37", 4},
        {4, 10, "1.2.410.200004.1.21", 4},
    };
    const SGBinary empty{};
    for (const Case& c : cases) {
        AlgorithmIdentifier_t algorithm{};
        ASSERT_EQ(SGPKCS7ASN1C_SetAlgorithmIdentifier(&algorithm, c.kind, c.digestId, &empty), 0);
        EXPECT_EQ(encoded(&asn_DEF_AlgorithmIdentifier, &algorithm), seq({oid(c.oid), null()}))
            << c.oid;
        int kind = 0;
        SGBinary parameters{};
        const int r = SGPKCS7ASN1C_GetEncryptionAlgorithmIdentifier(&kind, &parameters, &algorithm);
        if (c.read < 100) {
            EXPECT_EQ(r, 0) << c.oid;
            EXPECT_EQ(kind, c.read) << c.oid;
        } else {
            EXPECT_EQ(r, c.read) << c.oid;
        }
        EXPECT_EQ(parameters.data, nullptr) << c.oid;  // NULL parameters are none
        SGASN1CObject_Clear(&algorithm, &asn_DEF_AlgorithmIdentifier);
    }
    // Without parameters, and with parameters of their own.
    AlgorithmIdentifier_t algorithm{};
    ASSERT_EQ(SGPKCS7ASN1C_SetAlgorithmIdentifier(&algorithm, 4, 10, nullptr), 0);
    EXPECT_EQ(encoded(&asn_DEF_AlgorithmIdentifier, &algorithm), seq({oid("1.2.410.200004.1.21")}));
    const Bytes domain = seq({x509test::integer(23), x509test::integer(11), x509test::integer(4)});
    SGBinary domainView = viewOf(domain);
    ASSERT_EQ(SGPKCS7ASN1C_SetAlgorithmIdentifier(&algorithm, 4, 10, &domainView), 0);
    int kind = 0;
    SGBinary parameters{};
    ASSERT_EQ(SGPKCS7ASN1C_GetEncryptionAlgorithmIdentifier(&kind, &parameters, &algorithm), 0);
    EXPECT_EQ(bytesOf(parameters), domain);
    SGBinary_Reset(&parameters);
    SGASN1CObject_Clear(&algorithm, &asn_DEF_AlgorithmIdentifier);
    // Codes of the writer.
    EXPECT_EQ(SGPKCS7ASN1C_SetAlgorithmIdentifier(&algorithm, 2, 10, &empty),
              SG_PKCS7_ERR_ALGORITHM);
    EXPECT_EQ(SGPKCS7ASN1C_SetAlgorithmIdentifier(&algorithm, -1, 10, &empty), SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGPKCS7ASN1C_SetAlgorithmIdentifier(&algorithm, 1, 7, &empty), SG_PKCS7_ERR_DIGEST);
    EXPECT_EQ(SGPKCS7ASN1C_SetAlgorithmIdentifier(&algorithm, 3, -1, &empty), SG_PKCS7_ERR_DIGEST);
    SGASN1CObject_Clear(&algorithm, &asn_DEF_AlgorithmIdentifier);
    // Identifiers the reader refuses.
    for (const char* other : {"1.2.840.113549.1.1.4", "1.2.840.113549.1.1.10",
                              "1.2.840.10045.4.3.2", "2.16.840.1.101.3.4.1.5"}) {
        x509test::Owned<AlgorithmIdentifier_t> read(&asn_DEF_AlgorithmIdentifier,
                                                    seq({oid(other)}));
        EXPECT_EQ(SGPKCS7ASN1C_GetEncryptionAlgorithmIdentifier(&kind, nullptr, read.get()),
                  SG_PKCS7_ERR_ALGORITHM)
            << other;
    }
    // Content ciphers and the PKCS #12 password-based identifiers read as their cipher ids.
    for (const auto& [cipher, id] :
         {std::pair{"1.2.410.200004.1.4", 101}, std::pair{"2.16.840.1.101.3.4.1.42", 106},
          std::pair{"1.2.840.113549.1.12.1.3", 110}}) {
        x509test::Owned<AlgorithmIdentifier_t> read(&asn_DEF_AlgorithmIdentifier,
                                                    seq({oid(cipher)}));
        ASSERT_EQ(SGPKCS7ASN1C_GetEncryptionAlgorithmIdentifier(&kind, nullptr, read.get()), 0);
        EXPECT_EQ(kind, id) << cipher;
    }
    for (const char* sha2 : {"1.2.840.113549.1.1.12", "1.2.840.113549.1.1.13"}) {
        x509test::Owned<AlgorithmIdentifier_t> read(&asn_DEF_AlgorithmIdentifier,
                                                    seq({oid(sha2), null()}));
        ASSERT_EQ(SGPKCS7ASN1C_GetEncryptionAlgorithmIdentifier(&kind, nullptr, read.get()), 0);
        EXPECT_EQ(kind, 1) << sha2;
    }
}

// A certificate with one algorithm replaced: the outer signature algorithm (child 1) or the
// subject public key's (inside the TBSCertificate). Not validly signed; only read.
Bytes withAlgorithm(const Bytes& certificate, bool publicKey, const Bytes& algorithm) {
    Node c = parse(certificate);
    if (publicKey)
        c.kids.at(0).kids.at(6).kids.at(0) = parse(algorithm);
    else
        c.kids.at(1) = parse(algorithm);
    return c.encode();
}

TEST_F(PKCS7, KeyKindsAndDigestsOfCertificates) {
    const Bytes sign = testkit::readBytes(chain() / "sign.der");
    const KcdsaExample& k = kcdsaExample();
    struct KindCase {
        const char* name;
        Bytes der;
        int result, kind;
        Bytes parameters;
    } kinds[] = {
        {"RSA", sign, 0, 1, null()},
        {"KCDSA", testkit::readBytes(kcdsaCertificate("1.2.410.200004.1.1")), 0, 3, k.domain},
        {"KCDSA second identifier", testkit::readBytes(kcdsaCertificate("1.2.410.200004.1.21")), 0,
         4, k.domain},
        {"KCDSA with HAS-160",
         withAlgorithm(sign, true, seq({oid("1.2.410.200004.1.8")})),
         0,
         3,
         {}},
        {"ECDSA", testkit::readBytes(ecdsa() / "ecdsa.der"), SG_PKCS7_ERR_ALGORITHM, 0, {}},
        {"outside the OID table",
         withAlgorithm(sign, true, seq({oid("1.2.3.4")})),
         SG_PKCS7_ERR_SIGNATURE_KIND,
         0,
         {}},
    };
    for (const KindCase& c : kinds) {
        SGX509Certificate certificate{};
        SGBinary der = viewOf(c.der);
        ASSERT_EQ(SGX509Certificate_FromBinary(&certificate, &der), 0) << c.name;
        int kind = 0;
        SGBinary parameters{};
        EXPECT_EQ(SGPKCS7_GetSignatureID(&kind, &parameters, &certificate), c.result) << c.name;
        EXPECT_EQ(kind, c.kind) << c.name;
        EXPECT_EQ(bytesOf(parameters), c.parameters) << c.name;
        SGBinary_Reset(&parameters);
        SGX509Certificate_Clear(&certificate);
    }

    // The certificate's own signature algorithm. openssl signs the SHA variants.
    testkit::Scratch dir("brindlow-p7");
    struct DigestCase {
        std::string name;
        Bytes der;
        int result, digestId, kind;
    };
    std::vector<DigestCase> digests;
    for (const auto& [md, id] : std::vector<std::pair<std::string, int>>{
             {"sha1", 3}, {"sha224", -1}, {"sha256", 5}, {"sha384", 6}, {"sha512", 7}}) {
        const fs::path out = dir / (md + ".der");
        std::string log;
        ASSERT_TRUE(testkit::succeeds(
            "openssl req -x509 -new -key " + quote((chain() / "sign.key").string()) +
                " -subj /CN=digest -days 1 -outform DER -" + md + " -out " + quote(out.string()),
            &log))
            << log;
        digests.push_back({md, testkit::readBytes(out), id < 0 ? SG_PKCS7_ERR_ALGORITHM : 0,
                           id < 0 ? 0 : id, id < 0 ? 0 : 1});
    }
    digests.push_back({"KCDSA", withAlgorithm(sign, false, seq({oid("1.2.410.200004.1.1")})),
                       SG_PKCS7_ERR_DIGEST, 0, 3});
    digests.push_back({"KCDSA second",
                       withAlgorithm(sign, false, seq({oid("1.2.410.200004.1.21")})),
                       SG_PKCS7_ERR_DIGEST, 0, 4});
    digests.push_back({"outside", withAlgorithm(sign, false, seq({oid("1.2.3.4")})),
                       SG_PKCS7_ERR_SIGNATURE_KIND, 0, 0});
    digests.push_back(
        {"md5", withAlgorithm(sign, false, seq({oid("1.2.840.113549.1.1.4"), null()})), 0, 2, 1});
    for (const DigestCase& c : digests) {
        SGX509Certificate certificate{};
        SGBinary der = viewOf(c.der);
        ASSERT_EQ(SGX509Certificate_FromBinary(&certificate, &der), 0) << c.name;
        int digestId = 0, kind = 0;
        EXPECT_EQ(SGPKCS7_GetDigestIdAndEncryptionIdFromCertificate(&digestId, &kind, &certificate),
                  c.result)
            << c.name;
        EXPECT_EQ(digestId, c.digestId) << c.name;
        EXPECT_EQ(kind, c.kind) << c.name;
        SGX509Certificate_Clear(&certificate);
    }
}

TEST_F(PKCS7, IssuerAndSerialNumberFromACertificate) {
    const ParsedCertificate certificate(chain() / "sign.der");
    const Node tbs = parse(certificate.der).kids.at(0);
    for (int bySubject : {0, 1}) {
        IssuerAndSerialNumber_t out{};
        ASSERT_EQ(SGPKCS7ASN1C_SetIssuerAndSerialNumber(&out, &certificate.handle, bySubject), 0);
        EXPECT_EQ(encoded(&asn_DEF_IssuerAndSerialNumber, &out),
                  seq({tbs.kids.at(bySubject ? 5 : 3).encode(), tbs.kids.at(1).encode()}));
        SGASN1CObject_Clear(&out, &asn_DEF_IssuerAndSerialNumber);
    }
    IssuerAndSerialNumber_t out{};
    const SGX509Certificate empty{};
    EXPECT_EQ(SGPKCS7ASN1C_SetIssuerAndSerialNumber(&out, &empty, 0), SG_PKI_ERR_ARGUMENT);
}

// ---------------------------------------------------------------------------------------------
// Signed attributes.

TEST_F(PKCS7, SignedAttributesByContentMode) {
    const Bytes message = cmsFile("m1000");
    Bytes hash(32);
    ASSERT_EQ(SGDigest(hash.data(), 5, message.data(), 1000), 0);
    Bytes info(64);
    unsigned infoLength = 64;
    ASSERT_EQ(SGPKCS1_CreateDigestInfo(info.data(), &infoLength, 5, hash.data(), nullptr, 0), 0);
    info.resize(infoLength);
    Bytes sha1(20);
    ASSERT_EQ(SGDigest(sha1.data(), 3, message.data(), 1000), 0);
    Bytes sha1Info(64);
    infoLength = 64;
    ASSERT_EQ(SGPKCS1_CreateDigestInfo(sha1Info.data(), &infoLength, 3, sha1.data(), nullptr, 0),
              0);
    sha1Info.resize(infoLength);
    struct Case {
        int mode;
        Bytes content;
        int result;
    } cases[] = {
        {SG_PKCS7_MODE_MESSAGE, message, 0},
        {SG_PKCS7_MODE_DIGEST_INFO, info, 0},
        {SG_PKCS7_MODE_HASH, hash, 0},
        {SG_PKCS7_MODE_DIGEST_INFO, sha1Info, SG_PKCS7_ERR_MESSAGE_DIGEST},
        {SG_PKCS7_MODE_DIGEST_INFO, message, SG_PKCS7_ERR_MESSAGE_DIGEST},
        {SG_PKCS7_MODE_HASH, sha1, SG_PKI_ERR_ARGUMENT},
        {SG_PKCS7_MODE_HASH, x509test::cat({hash, Bytes{0}}), SG_PKI_ERR_ARGUMENT},
    };
    for (const Case& c : cases) {
        SignerInfo_t si{};
        ASSERT_EQ(SGPKCS7ASN1C_SetDigestAlgorithmIdentifier(&si.digestAlgorithm, 5, nullptr), 0);
        EncapsulatedContentInfo_t eci{};
        ASSERT_EQ(SGPKCS7ASN1C_SetContentType(&eci.eContentType, SG_PKCS7_DATA), 0);
        OCTET_STRING_t content{};
        content.buf = const_cast<uint8_t*>(c.content.data());
        content.size = static_cast<int>(c.content.size());
        eci.eContent = &content;
        time_t when = 1767225600;  // 2026-01-01 00:00:00 UTC
        SGPKCS7SignedDataParameters o = options(0, 5, c.mode);
        o.signingTime = &when;
        EXPECT_EQ(SGPKCS7ASN1C_SetSignedAttributes(&si, &eci, &o), c.result) << c.mode;
        if (c.result == 0) {
            ASSERT_NE(si.signedAttrs, nullptr);
            ASSERT_EQ(si.signedAttrs->list.count, 3);
            const Bytes contentType = oid("1.2.840.113549.1.9.3"),
                        digest = oid("1.2.840.113549.1.9.4"), time = oid("1.2.840.113549.1.9.5");
            EXPECT_EQ(encoded(&asn_DEF_Attribute, si.signedAttrs->list.array[0]),
                      seq({contentType, x509test::set({oid("1.2.840.113549.1.7.1")})}));
            EXPECT_EQ(encoded(&asn_DEF_Attribute, si.signedAttrs->list.array[1]),
                      seq({digest, x509test::set({octets(hash)})}));
            EXPECT_EQ(
                encoded(&asn_DEF_Attribute, si.signedAttrs->list.array[2]),
                seq({time, x509test::set({x509test::tlv(0x17, x509test::text("260101000000Z"))})}));
        } else {
            EXPECT_EQ(si.signedAttrs, nullptr);
        }
        eci.eContent = nullptr;
        SGASN1CObject_Clear(&eci, &asn_DEF_EncapsulatedContentInfo);
        SGASN1CObject_Clear(&si, &asn_DEF_SignerInfo);
    }
}

// ---------------------------------------------------------------------------------------------
// BER elements.

TEST_F(PKCS7, ReadsBerElements) {
    auto nested = [](int depth) {
        Bytes b = unhex("0500");
        for (int i = 0; i < depth; ++i) b = cat({unhex("3080"), b, unhex("0000")});
        return b;
    };
    struct Case {
        Bytes der;
        int result;
        size_t header, content, length;
    } cases[] = {
        {unhex("0400"), 0, 2, 0, 2},
        {unhex("04020102FFFF"), 0, 2, 2, 4},  // what follows is not looked at
        {unhex("3003020101"), 0, 2, 3, 5},
        {unhex("30800201010000"), 0, 2, 3, 7},
        {unhex("3080308002010100000000"), 0, 2, 7, 11},
        {unhex("308400000003020101"), 0, 6, 3, 9},
        {unhex("1F8101020102"), 0, 4, 2, 6},  // a tag number above 30
        {nested(64), 0, 2, nested(63).size(), nested(64).size()},
        {nested(65), SG_ASN_ERR_DECODE, 0, 0, 0},
        {unhex("0401"), SG_ASN_ERR_DECODE, 0, 0, 0},
        {unhex("04"), SG_ASN_ERR_DECODE, 0, 0, 0},
        {unhex("0480"), SG_ASN_ERR_DECODE, 0, 0, 0},  // indefinite primitive
        {unhex("3080020101"), SG_ASN_ERR_DECODE, 0, 0, 0},
        {unhex("30800201"), SG_ASN_ERR_DECODE, 0, 0, 0},
        {unhex("30FF00"), SG_ASN_ERR_DECODE, 0, 0, 0},
        {unhex("3089FFFFFFFFFFFFFFFFFF"), SG_ASN_ERR_DECODE, 0, 0, 0},
        {unhex("3088FFFFFFFFFFFFFFFF"), SG_ASN_ERR_DECODE, 0, 0, 0},
        {unhex("1F80808080800100"), SG_ASN_ERR_DECODE, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SGPKCS7Element e{};
        EXPECT_EQ(SGPKCS7Element_Read(&e, c.der.data(), c.der.size()), c.result) << hex(c.der);
        if (c.result != 0) continue;
        EXPECT_EQ(e.at, c.der.data());
        EXPECT_EQ(e.tag, c.der[0]);
        EXPECT_EQ(e.header, c.header) << hex(c.der);
        EXPECT_EQ(e.content, c.content) << hex(c.der);
        EXPECT_EQ(e.length, c.length) << hex(c.der);
    }
}

}  // namespace
