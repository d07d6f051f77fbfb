// SignedData against openssl cms: openssl's signatures verified here, ours verified there, the
// signed attributes signed and read exactly as they stand, content modes, tampering, signer
// selection, KCDSA through a test certificate, the elements operations and what a failure
// leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "PKCS7Material.h"
#include "SGCryptoHandler.h"
#include "SGKCDSA.h"

namespace {

using namespace p7test;

class PKCS7SignedData : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
    void SetUp() override {
        ASSERT_FALSE(cms().empty());
        message_ = cmsFile("m1000");
        ASSERT_EQ(message_.size(), 1000u);
    }
    Bytes message_;
};

Bytes certificateDer(const char* name) {
    return testkit::readBytes(chain() / name);
}

Bytes sha(int digestId, const Bytes& data) {
    Bytes out(static_cast<size_t>(SGDigest_GetDigestSize(digestId)));
    EXPECT_EQ(SGDigest(out.data(), digestId, data.data(), static_cast<uint32_t>(data.size())), 0);
    return out;
}

Bytes digestInfo(int digestId, const Bytes& hash) {
    Bytes out(128);
    unsigned length = static_cast<unsigned>(out.size());
    EXPECT_EQ(SGPKCS1_CreateDigestInfo(out.data(), &length, digestId, hash.data(), nullptr, 0), 0);
    out.resize(length);
    return out;
}

// ---------------------------------------------------------------------------------------------
// openssl's signatures here.

TEST_F(PKCS7SignedData, VerifiesWhatOpensslSigns) {
    struct Case {
        const char* file;
        const char* message;
        bool detached;
        int expected;
    } cases[] = {
        {"attr-m0.der", "m0", false, 0},
        {"attr-m1000.der", "m1000", false, 0},
        {"attr-m1M.der", "m1M", false, 0},
        {"nosmimecap.der", "m1000", false, 0},
        {"sha1.der", "m1000", false, 0},
        {"sha384.der", "m1000", false, 0},
        {"sha512.der", "m1000", false, 0},
        {"noattr.der", "m1000", false, 0},
        {"detached.der", "m1000", true, 0},
        {"detached-noattr.der", "m1000", true, 0},
        {"stream.der", "m1000", false, 0},  // indefinite lengths
        {"md5.der", "m1000", false, SG_PKCS7_ERR_DIGEST},
        {"pss.der", "m1000", false, SG_PKCS7_ERR_ALGORITHM},
        {"ecdsa.der", "m1000", false, SG_PKCS7_ERR_ALGORITHM},
        {"nocerts.der", "m1000", false, SG_PKI_ERR_NOT_SUPPORTED},
    };
    const Bytes signer = certificateDer("sign.der");
    for (const Case& c : cases) {
        const Bytes message = cmsFile(c.message);
        const Verified v = verifyData(cmsFile(c.file), c.detached ? &message : nullptr);
        ASSERT_EQ(v.result, c.expected) << c.file;
        if (c.expected != 0) {
            EXPECT_FALSE(v.contentWritten) << c.file;
            EXPECT_TRUE(v.signers.empty()) << c.file;
            continue;
        }
        // Attached content comes out; detached content is the caller's and nothing is written.
        EXPECT_EQ(v.contentWritten, !c.detached && !message.empty()) << c.file;
        if (!c.detached) {
            EXPECT_EQ(v.content, message) << c.file;
        }
        ASSERT_EQ(v.signers.size(), 1u) << c.file;
        EXPECT_EQ(v.signers[0], signer) << c.file;
        EXPECT_EQ(v.paths[0], "signerInfo") << c.file;
    }
    // Detached without the content.
    EXPECT_EQ(verifyData(cmsFile("detached.der")).result, SG_PKCS7_ERR_NO_CONTENT);
}

TEST_F(PKCS7SignedData, ReadsTheSigningTimeOpensslWrote) {
    for (const char* name : {"attr-m1000", "sha512", "detached"}) {
        const time_t printed =
            printedSigningTime(testkit::readText(cms() / (std::string(name) + ".print")));
        ASSERT_GT(printed, 0) << name;
        const Verified v = verifyData(cmsFile(std::string(name) + ".der"), &message_);
        ASSERT_EQ(v.result, 0) << name;
        EXPECT_EQ(v.signingTime, printed) << name;
    }
    // Without signed attributes the caller's time is left alone.
    EXPECT_EQ(verifyData(cmsFile("noattr.der")).signingTime, -1);
}

TEST_F(PKCS7SignedData, VerifiesEverySigner) {
    const Bytes twoSigners = cmsFile("two-signers.der");
    SGBinary in = viewOf(twoSigners);
    int count = 0;
    ASSERT_EQ(SGPKCS7SignedData_GetSignerCount(&count, &in, 0), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(SGPKCS7SignedData_GetCountOfSigner(&count, &in, SG_PKCS7_BARE), SG_ASN_ERR_DECODE);
    const Verified v = verifyData(twoSigners);
    ASSERT_EQ(v.result, 0);
    ASSERT_EQ(v.signers.size(), 2u);
    // Both certificates, whichever order the SET holds them in.
    const Bytes sign = certificateDer("sign.der"), ca = certificateDer("ca.der");
    EXPECT_TRUE((v.signers[0] == sign && v.signers[1] == ca) ||
                (v.signers[0] == ca && v.signers[1] == sign));

    // One bad signer fails the whole message, and the good one is not handed out.
    Node ci = parse(cmsFile("two-signers.der"));
    signatureOf(signerInfo(ci, 1)).value[7] ^= 1;
    const Verified bad = verifyData(ci.encode());
    EXPECT_EQ(bad.result, SG_PKCS7_ERR_BAD_SIGNATURE);
    EXPECT_TRUE(bad.signers.empty());
    EXPECT_FALSE(bad.contentWritten);
}

// ---------------------------------------------------------------------------------------------
// Ours there.

TEST_F(PKCS7SignedData, OpensslVerifiesWhatWeSign) {
    const ParsedCertificate certificate(chain() / "sign.der");
    const SGCryptoHandlerKey inMemory = keyInMemory(signKey());
    Token token;
    const SGCryptoHandlerKey behindToken = tokenKey(&token);
    constexpr int kAttached = SG_PKCS7_ADD_CERTIFICATE;
    constexpr int kDetached = SG_PKCS7_ADD_CERTIFICATE | SG_PKCS7_DETACHED;
    constexpr int kAttributes = SG_PKCS7_SIGNED_ATTRIBUTES;
    struct Case {
        const char* message;
        int flags;
        int digestId;
        bool token;
    } cases[] = {
        {"m0", kAttached | kAttributes, SG_DIGEST_SHA256, false},
        {"m1000", kAttached | kAttributes, SG_DIGEST_SHA256, true},
        {"m1M", kAttached | kAttributes, SG_DIGEST_SHA256, false},
        {"m1000", kAttached, SG_DIGEST_SHA256, true},
        {"m1000", kAttached | kAttributes, SG_DIGEST_SHA512, false},
        {"m1000", kAttached, SG_DIGEST_SHA512, false},
        {"m1000", kDetached | kAttributes, SG_DIGEST_SHA256, true},
        {"m1M", kDetached, SG_DIGEST_SHA256, false},
        {"m1000", kDetached, SG_DIGEST_SHA512, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.message) + " flags " + std::to_string(c.flags) + " digest " +
                     std::to_string(c.digestId) + (c.token ? " token" : " in memory"));
        const Bytes message = cmsFile(c.message);
        const Signed s = signData(message, certificate.handle, c.token ? behindToken : inMemory,
                                  options(c.flags, c.digestId));
        ASSERT_EQ(s.result, 0);
        const bool detached = c.flags & SG_PKCS7_DETACHED;
        Bytes got;
        std::string log;
        EXPECT_TRUE(opensslVerifies(s.der, detached ? &message : nullptr, &got, &log)) << log;
        if (!detached) {
            EXPECT_EQ(got, message);
        }
        const Verified v = verifyData(s.der, detached ? &message : nullptr);
        EXPECT_EQ(v.result, 0);
        EXPECT_EQ(v.content, detached ? Bytes() : message);
    }
}

TEST_F(PKCS7SignedData, SignsTheAttributesInTheOrderItWritesThem) {
    const ParsedCertificate certificate(chain() / "sign.der");
    const time_t before = time(nullptr);
    const Signed s = signData(
        message_, certificate.handle, keyInMemory(signKey()),
        options(SG_PKCS7_ADD_CERTIFICATE | SG_PKCS7_DETACHED | SG_PKCS7_SIGNED_ATTRIBUTES));
    const time_t after = time(nullptr);
    ASSERT_EQ(s.result, 0);
    Node ci = parse(s.der);
    Node& sd = signedData(ci);
    // encapContentInfo: the type only.
    ASSERT_EQ(sd.kids.at(2).kids.size(), 1u);
    // certificates: the signer's.
    ASSERT_EQ(sd.kids.at(3).tag, 0xA0u);
    ASSERT_EQ(sd.kids.at(3).kids.size(), 1u);
    EXPECT_EQ(sd.kids.at(3).kids[0].encode(), certificate.der);
    // One SignerInfo whose attributes stand as written; a DER encoder would have put signingTime
    // before messageDigest.
    ASSERT_EQ(sd.kids.back().kids.size(), 1u);
    Node& si = signerInfo(ci);
    Node& attributes = signedAttributes(si);
    ASSERT_EQ(attributes.kids.size(), 3u);
    EXPECT_EQ(attributeType(attributes.kids[0]), "contentType");
    EXPECT_EQ(attributeType(attributes.kids[1]), "messageDigest");
    EXPECT_EQ(attributeType(attributes.kids[2]), "signingTime");
    EXPECT_EQ(attributes.kids[1].kids[1].kids[0].value, sha(SG_DIGEST_SHA256, message_));
    // The signature covers exactly the embedded bytes under the SET tag.
    Node set = attributes;
    set.tag = 0x31;
    EXPECT_EQ(signatureOf(si).value, opensslSignature(set.encode()));
    // The signature algorithm is the bare key algorithm with NULL parameters.
    EXPECT_EQ(si.kids.at(4).encode(), unhex("300D06092A864886F70D0101010500"));

    // signingTime is now, in UTC, as openssl reads it too.
    const std::string print = opensslPrint(s.der);
    const time_t printed = printedSigningTime(print);
    EXPECT_GE(printed, before);
    EXPECT_LE(printed, after);
    EXPECT_NE(print.find("messageDigest"), std::string::npos);
    const Verified v = verifyData(s.der, &message_);
    ASSERT_EQ(v.result, 0);
    EXPECT_EQ(v.signingTime, printed);
}

TEST_F(PKCS7SignedData, AcceptsSignedAttributesInAnyOrder) {
    // openssl's attributes (contentType, signingTime, messageDigest in DER order) set in our
    // order and signed again over those bytes: openssl accepts it, and so must we.
    Node ci = parse(cmsFile("nosmimecap.der"));
    Node& attributes = signedAttributes(signerInfo(ci));
    std::vector<Node> reordered = {*findAttribute(attributes, "contentType"),
                                   *findAttribute(attributes, "messageDigest"),
                                   *findAttribute(attributes, "signingTime")};
    ASSERT_NE(attributeType(attributes.kids[1]), "messageDigest");  // openssl's were in DER order
    const Bytes ours = resignAttributes(cmsFile("nosmimecap.der"), reordered);
    std::string log;
    EXPECT_TRUE(opensslVerifies(ours, nullptr, nullptr, &log)) << log;
    EXPECT_EQ(verifyData(ours).result, 0);
    // A verifier that re-encoded the SET would digest the DER order: the signature over the
    // order openssl wrote does not hold for the reordered bytes.
    Node stale = parse(ours);
    signatureOf(signerInfo(stale)).value = signatureOf(signerInfo(ci)).value;
    EXPECT_EQ(verifyData(stale.encode()).result, SG_PKCS7_ERR_BAD_SIGNATURE);
}

// ---------------------------------------------------------------------------------------------
// Content modes.

TEST_F(PKCS7SignedData, SignsADigestInfoOrAHashAsAStandardSignature) {
    const ParsedCertificate certificate(chain() / "sign.der");
    const Bytes hash = sha(SG_DIGEST_SHA256, message_);
    const Bytes info = digestInfo(SG_DIGEST_SHA256, hash);
    struct Case {
        int mode;
        bool attributes;
        int external;
    } cases[] = {
        {SG_PKCS7_MODE_DIGEST_INFO, false, 1}, {SG_PKCS7_MODE_DIGEST_INFO, true, 1},
        {SG_PKCS7_MODE_HASH, false, 1},        {SG_PKCS7_MODE_HASH, false, 0},
        {SG_PKCS7_MODE_HASH, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + (c.attributes ? " with" : " without") +
                     " attributes, external " + std::to_string(c.external));
        Token token;
        SGPKCS7SignedDataParameters o = options(SG_PKCS7_ADD_CERTIFICATE | SG_PKCS7_DETACHED |
                                                    (c.attributes ? SG_PKCS7_SIGNED_ATTRIBUTES : 0),
                                                SG_DIGEST_SHA256, c.mode);
        o.externalSignerInput = c.external;
        const Bytes& input = c.mode == SG_PKCS7_MODE_HASH ? hash : info;
        const Signed s = signData(input, certificate.handle, tokenKey(&token), o);
        ASSERT_EQ(s.result, 0);
        // What the token was handed: without signed attributes the DigestInfo of the message
        // (a bare hash wrapped into it), padded to a whole block unless the token asks for it
        // as it is.
        if (!c.attributes) {
            if (c.external) {
                EXPECT_EQ(token.input, info);
            } else {
                ASSERT_EQ(token.input.size(), 256u);
                EXPECT_EQ(
                    Bytes(token.input.end() - static_cast<long>(info.size()), token.input.end()),
                    info);
            }
        }
        // openssl verifies it against the message itself.
        std::string log;
        EXPECT_TRUE(opensslVerifies(s.der, &message_, nullptr, &log)) << log;
        // And so do we, given the message, or what was signed in the same mode.
        EXPECT_EQ(verifyData(s.der, &message_).result, 0);
        EXPECT_EQ(verifyData(s.der, &input, &o).result, 0);
        Bytes other = input;
        other.back() ^= 1;
        EXPECT_EQ(verifyData(s.der, &other, &o).result,
                  c.attributes ? SG_PKCS7_ERR_MESSAGE_DIGEST : SG_PKCS7_ERR_BAD_SIGNATURE);
        // A shorter hash is not read past its end.
        const Bytes shorter(input.begin(), input.begin() + 10);
        EXPECT_EQ(verifyData(s.der, &shorter, &o).result,
                  c.attributes ? SG_PKCS7_ERR_MESSAGE_DIGEST : SG_PKCS7_ERR_BAD_SIGNATURE);
    }
}

TEST_F(PKCS7SignedData, RefusesContentModesItCannotSign) {
    const ParsedCertificate certificate(chain() / "sign.der");
    Token token;
    const Bytes hash = sha(SG_DIGEST_SHA256, message_);
    struct Case {
        const char* name;
        Bytes input;
        SGPKCS7SignedDataParameters o;
        int expected;
    } cases[] = {
        {"DigestInfo attached", digestInfo(5, hash),
         options(0, SG_DIGEST_SHA256, SG_PKCS7_MODE_DIGEST_INFO), SG_PKI_ERR_ARGUMENT},
        {"hash attached", hash, options(SG_PKCS7_SIGNED_ATTRIBUTES, 5, SG_PKCS7_MODE_HASH),
         SG_PKI_ERR_ARGUMENT},
        {"mode 3", hash, options(SG_PKCS7_DETACHED, 5, 3), SG_PKI_ERR_ARGUMENT},
        {"hash of another length", sha(SG_DIGEST_SHA1, message_),
         options(SG_PKCS7_DETACHED, SG_DIGEST_SHA256, SG_PKCS7_MODE_HASH), SG_PKI_ERR_ARGUMENT},
        {"hash of another length, attributes", sha(SG_DIGEST_SHA1, message_),
         options(SG_PKCS7_DETACHED | SG_PKCS7_SIGNED_ATTRIBUTES, 5, SG_PKCS7_MODE_HASH),
         SG_PKI_ERR_ARGUMENT},
        {"DigestInfo of another digest", digestInfo(SG_DIGEST_SHA1, sha(3, message_)),
         options(SG_PKCS7_DETACHED, SG_DIGEST_SHA256, SG_PKCS7_MODE_DIGEST_INFO),
         SG_PKCS7_ERR_MESSAGE_DIGEST},
        {"DigestInfo of another digest, attributes", digestInfo(SG_DIGEST_SHA1, sha(3, message_)),
         options(SG_PKCS7_DETACHED | SG_PKCS7_SIGNED_ATTRIBUTES, 5, SG_PKCS7_MODE_DIGEST_INFO),
         SG_PKCS7_ERR_MESSAGE_DIGEST},
        {"not a DigestInfo", message_,
         options(SG_PKCS7_DETACHED, SG_DIGEST_SHA256, SG_PKCS7_MODE_DIGEST_INFO),
         SG_PKCS7_ERR_MESSAGE_DIGEST},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(signData(c.input, certificate.handle, tokenKey(&token), c.o).result, c.expected)
            << c.name;
    }
    EXPECT_EQ(token.calls, 0);  // refused before the token is asked
}

// ---------------------------------------------------------------------------------------------
// Tampering.

TEST_F(PKCS7SignedData, DetectsChangedContentAndSignatures) {
    Bytes changed = message_;
    changed[500] ^= 0x20;
    // Detached: the content the caller gives.
    EXPECT_EQ(verifyData(cmsFile("detached.der"), &changed).result, SG_PKCS7_ERR_MESSAGE_DIGEST);
    EXPECT_EQ(verifyData(cmsFile("detached-noattr.der"), &changed).result,
              SG_PKCS7_ERR_BAD_SIGNATURE);
    // Attached: a byte of the encapsulated content.
    for (const char* file : {"nosmimecap.der", "noattr.der"}) {
        Node ci = parse(cmsFile(file));
        signedData(ci).kids.at(2).kids.at(1).kids.at(0).value[500] ^= 0x20;
        const Verified v = verifyData(ci.encode());
        EXPECT_EQ(v.result, file == std::string("noattr.der") ? SG_PKCS7_ERR_BAD_SIGNATURE
                                                              : SG_PKCS7_ERR_MESSAGE_DIGEST)
            << file;
        EXPECT_FALSE(v.contentWritten) << file;
    }
    // A flipped signature byte.
    for (const char* file : {"nosmimecap.der", "noattr.der"}) {
        Node ci = parse(cmsFile(file));
        signatureOf(signerInfo(ci)).value[100] ^= 0x01;
        EXPECT_EQ(verifyData(ci.encode()).result, SG_PKCS7_ERR_BAD_SIGNATURE) << file;
    }
    // A signed attribute changed after signing.
    Node ci = parse(cmsFile("nosmimecap.der"));
    Node* time = findAttribute(signedAttributes(signerInfo(ci)), "signingTime");
    time->kids.at(1).kids.at(0).value[1] ^= 1;
    EXPECT_EQ(verifyData(ci.encode()).result, SG_PKCS7_ERR_BAD_SIGNATURE);
}

TEST_F(PKCS7SignedData, MessageDigestMustHaveTheDigestsLength) {
    const Bytes hash = sha(SG_DIGEST_SHA256, message_);
    Node ci = parse(cmsFile("nosmimecap.der"));
    const std::vector<Node> original = signedAttributes(signerInfo(ci)).kids;
    // Validly signed attributes whose messageDigest is a prefix of the right value, or the
    // right value with more after it: neither may match.
    for (const Bytes& value :
         {Bytes(hash.begin(), hash.begin() + 16), Bytes(), x509test::cat({hash, Bytes{0}})}) {
        std::vector<Node> attributes = original;
        for (Node& a : attributes)
            if (attributeType(a) == "messageDigest") a.kids.at(1).kids.at(0).value = value;
        const Bytes der = resignAttributes(cmsFile("nosmimecap.der"), attributes);
        EXPECT_EQ(verifyData(der).result, SG_PKCS7_ERR_MESSAGE_DIGEST) << value.size();
    }
    // Without messageDigest.
    std::vector<Node> without;
    for (const Node& a : original)
        if (attributeType(a) != "messageDigest") without.push_back(a);
    EXPECT_EQ(verifyData(resignAttributes(cmsFile("nosmimecap.der"), without)).result,
              SG_PKCS7_ERR_NO_MESSAGE_DIGEST);
}

// ---------------------------------------------------------------------------------------------
// Signers.

TEST_F(PKCS7SignedData, FindsTheSignerByIssuerAndSerial) {
    // Two certificates of one issuer, the other one first: the serial decides.
    Node ci = parse(cmsFile("nosmimecap.der"));
    Node& certificates = signedData(ci).kids.at(3);
    ASSERT_EQ(certificates.tag, 0xA0u);
    certificates.kids = {parse(certificateDer("km.der")), parse(certificateDer("sign.der"))};
    Verified v = verifyData(ci.encode());
    ASSERT_EQ(v.result, 0);
    ASSERT_EQ(v.signers.size(), 1u);
    EXPECT_EQ(v.signers[0], certificateDer("sign.der"));
    // Only the other one: no signer certificate.
    certificates.kids = {parse(certificateDer("km.der"))};
    EXPECT_EQ(verifyData(ci.encode()).result, SG_PKI_ERR_NOT_SUPPORTED);
    // Another kind of certificate before the signer's is passed over.
    certificates.kids = {
        parse(x509test::ctx(3, x509test::cat({x509test::oid("1.2.3.4"), x509test::null()}))),
        parse(certificateDer("sign.der"))};
    EXPECT_EQ(verifyData(ci.encode()).result, 0);
    // A signer certificate whose serial number the library cannot hold (21 bytes) is refused
    // before anything is checked or handed out.
    Node longSerial = parse(cmsFile("nosmimecap.der"));
    const Bytes serial(21, 0x11);
    signedData(longSerial).kids.at(3).kids.at(0).kids.at(0).kids.at(1).value = serial;
    signerInfo(longSerial).kids.at(1).kids.at(1).value = serial;
    const Verified refused = verifyData(longSerial.encode());
    EXPECT_EQ(refused.result, 10018);
    EXPECT_TRUE(refused.signers.empty());
}

// Signer keys at the edges an authority's keys may reach verify; a signer certificate with a
// 32768-bit modulus and exponent is refused as a key that does not load, before the
// exponentiation that would take seconds.
TEST_F(PKCS7SignedData, HoldsSignerKeysToTheSizeBounds) {
    ASSERT_FALSE(rsaBounds().empty());
    const Bytes message = testkit::readBytes(rsaBounds() / "m.bin");
    for (const char* name : {"wide", "e65"}) {
        SCOPED_TRACE(name);
        const Verified v =
            verifyData(testkit::readBytes(rsaBounds() / (std::string(name) + ".p7")));
        EXPECT_EQ(v.result, 0);
        EXPECT_EQ(v.content, message);
        EXPECT_EQ(v.signers.size(), 1u);
    }
    // openssl's message whose only certificate has the signer's issuer and serial number and
    // carries the oversized key.
    const Bytes huge = testkit::readBytes(rsaBounds() / "huge.p7");
    Node ci = parse(huge);
    ASSERT_EQ(signedData(ci).kids.at(3).kids.size(), 1u);
    EXPECT_EQ(signedData(ci).kids.at(3).kids[0].encode(),
              testkit::readBytes(rsaBounds() / "huge.der"));
    const Verified refused = verifyData(huge);
    EXPECT_EQ(refused.result, SG_PKCS7_ERR_KEY);
    EXPECT_TRUE(refused.signers.empty());
}

TEST_F(PKCS7SignedData, SubjectNamedSignersAndBareSignedData) {
    const ParsedCertificate certificate(chain() / "sign.der");
    const SGCryptoHandlerKey key = keyInMemory(signKey());
    const int common = SG_PKCS7_ADD_CERTIFICATE | SG_PKCS7_SIGNED_ATTRIBUTES;
    // Named by subject: only a verifier told so finds the signer.
    SGPKCS7SignedDataParameters bySubject = options(common | SG_PKCS7_SIGNER_BY_SUBJECT);
    Signed s = signData(message_, certificate.handle, key, bySubject);
    ASSERT_EQ(s.result, 0);
    Node ci = parse(s.der);
    const Node& sid = signerInfo(ci).kids.at(1);
    EXPECT_EQ(sid.kids.at(0).encode(), parse(certificate.der).kids[0].kids.at(5).encode());
    EXPECT_EQ(verifyData(s.der, nullptr, &bySubject).result, 0);
    EXPECT_EQ(verifyData(s.der).result, SG_PKI_ERR_NOT_SUPPORTED);

    // Bare: a SignedData without the ContentInfo, read back only as bare.
    SGPKCS7SignedDataParameters bare = options(common | SG_PKCS7_BARE);
    s = signData(message_, certificate.handle, key, bare);
    ASSERT_EQ(s.result, 0);
    testkit::Scratch dir("brindlow-p7");
    testkit::writeBytes(dir / "bare.der", s.der);
    std::string print;
    ASSERT_TRUE(testkit::succeeds(
        "openssl asn1parse -inform DER -in " + quote((dir / "bare.der").string()), &print));
    EXPECT_EQ(print.find("pkcs7-signedData"), std::string::npos);
    EXPECT_NE(print.find(":pkcs7-data"), std::string::npos);
    EXPECT_EQ(parse(s.der).kids.at(0).value, Bytes{1});  // version first
    const Verified v = verifyData(s.der, nullptr, &bare);
    EXPECT_EQ(v.result, 0);
    EXPECT_EQ(v.content, message_);
    EXPECT_EQ(verifyData(s.der).result, SG_ASN_ERR_DECODE);
    // A ContentInfo read as bare, and one of another type.
    EXPECT_EQ(verifyData(cmsFile("noattr.der"), nullptr, &bare).result, SG_ASN_ERR_DECODE);
    const Bytes data = x509test::seq(
        {x509test::oid("1.2.840.113549.1.7.1"), x509test::ctx(0, x509test::octets(message_))});
    EXPECT_EQ(verifyData(data).result, SG_PKCS7_ERR_UNMATCHED_TYPE);
    const Bytes unknown = x509test::seq(
        {x509test::oid("1.2.840.113549.1.7.9"), x509test::ctx(0, x509test::octets(message_))});
    EXPECT_EQ(verifyData(unknown).result, SG_PKCS7_ERR_CONTENT_TYPE);
}

// ---------------------------------------------------------------------------------------------
// signingTime.

TEST_F(PKCS7SignedData, SigningTimesFrom2050AreGeneralizedTime) {
    const ParsedCertificate certificate(chain() / "sign.der");
    struct Case {
        time_t when;
        unsigned tag;
        const char* text;
    } cases[] = {
        {2524607999, 0x17, "491231235959Z"},    // 2049-12-31 23:59:59
        {2524608000, 0x18, "20500101000000Z"},  // 2050-01-01
        {4102444800, 0x18, "21000101000000Z"},
    };
    setenv("TZ", "Asia/Seoul", 1);  // the value is written in UTC whatever the zone
    tzset();
    for (const Case& c : cases) {
        time_t when = c.when;
        SGPKCS7SignedDataParameters o =
            options(SG_PKCS7_ADD_CERTIFICATE | SG_PKCS7_SIGNED_ATTRIBUTES);
        o.signingTime = &when;
        const Signed s = signData(message_, certificate.handle, keyInMemory(signKey()), o);
        ASSERT_EQ(s.result, 0);
        Node ci = parse(s.der);
        const Node* attribute = findAttribute(signedAttributes(signerInfo(ci)), "signingTime");
        ASSERT_NE(attribute, nullptr);
        const Node& value = attribute->kids.at(1).kids.at(0);
        EXPECT_EQ(value.tag, c.tag) << c.text;
        EXPECT_EQ(std::string(value.value.begin(), value.value.end()), c.text);
        EXPECT_EQ(printedSigningTime(opensslPrint(s.der)), c.when) << c.text;
        EXPECT_EQ(verifyData(s.der).signingTime, c.when) << c.text;
    }
    unsetenv("TZ");
    tzset();
}

TEST_F(PKCS7SignedData, ReadsAGeneralizedTimeSigningTime) {
    // Another signer writes its signingTime as GeneralizedTime (before 2050, which DER would
    // not): read, not refused.
    Node ci = parse(cmsFile("nosmimecap.der"));
    std::vector<Node> attributes = signedAttributes(signerInfo(ci)).kids;
    for (Node& a : attributes)
        if (attributeType(a) == "signingTime")
            a.kids.at(1).kids.at(0) = parse(x509test::tlv(0x18, x509test::text("20300615103000Z")));
    const Bytes der = resignAttributes(cmsFile("nosmimecap.der"), attributes);
    std::string log;
    EXPECT_TRUE(opensslVerifies(der, nullptr, nullptr, &log)) << log;
    const Verified v = verifyData(der);
    ASSERT_EQ(v.result, 0);
    EXPECT_EQ(v.signingTime, 1907749800);  // 2030-06-15 10:30:00 UTC
}

// ---------------------------------------------------------------------------------------------
// KCDSA.

TEST_F(PKCS7SignedData, KcdsaRoundTripUnderBothIdentifiers) {
    const KcdsaExample& k = kcdsaExample();
    SGBinary domain = viewOf(k.domain);
    const SGCryptoHandlerKey key = keyInMemory(k.x, &domain);
    struct Case {
        const char* oid;
        Bytes algorithm;  // what the SignerInfo names
    } cases[] = {
        {"1.2.410.200004.1.1", unhex("300C06082A831A8C9A44010105 00")},
        {"1.2.410.200004.1.21", unhex("300C06082A831A8C9A44011505 00")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.oid);
        const ParsedCertificate certificate(kcdsaCertificate(c.oid));
        for (int flags : {SG_PKCS7_ADD_CERTIFICATE | SG_PKCS7_SIGNED_ATTRIBUTES,
                          static_cast<int>(SG_PKCS7_ADD_CERTIFICATE)}) {
            const Signed s = signData(message_, certificate.handle, key, options(flags));
            ASSERT_EQ(s.result, 0);
            Node ci = parse(s.der);
            Node& si = signerInfo(ci);
            EXPECT_EQ(si.kids.at(flags & SG_PKCS7_SIGNED_ATTRIBUTES ? 4 : 3).encode(), c.algorithm);
            const Verified v = verifyData(s.der);
            EXPECT_EQ(v.result, 0);
            ASSERT_EQ(v.signers.size(), 1u);
            EXPECT_EQ(v.signers[0], certificate.der);

            // The signature again with the crypto layer's KCDSA verification, over the signed
            // attributes or the message.
            Bytes covered = message_;
            if (flags & SG_PKCS7_SIGNED_ATTRIBUTES) {
                Node set = signedAttributes(si);
                set.tag = 0x31;
                covered = set.encode();
            }
            Bytes y = unhex(k.values.at("Y"));
            if (y[0] & 0x80) y.insert(y.begin(), 0);
            const Bytes yDer = x509test::tlv(0x02, y);
            SGDSKey publicKey{};
            ASSERT_EQ(SGDSKey_Decode(&publicKey, yDer.data(), static_cast<int>(yDer.size()),
                                     SG_DSKEY_KCDSA_PUBLIC),
                      0);
            const SGDSParameter p = kcdsaParameter(&publicKey, SG_DIGEST_SHA256);
            const Bytes& signature = signatureOf(si).value;
            EXPECT_EQ(SGDS_Verify(signature.data(), static_cast<int>(signature.size()),
                                  covered.data(), static_cast<int>(covered.size()), &p),
                      0);
            covered[0] ^= 1;
            EXPECT_EQ(SGDS_Verify(signature.data(), static_cast<int>(signature.size()),
                                  covered.data(), static_cast<int>(covered.size()), &p),
                      SG_KCDSA_ERR_INVALID);
            SGDSKey_Clear(&publicKey);

            // A changed message.
            Bytes changed = message_;
            changed[1] ^= 1;
            Node tampered = parse(s.der);
            signedData(tampered).kids.at(2).kids.at(1).kids.at(0).value = changed;
            EXPECT_EQ(verifyData(tampered.encode()).result, flags & SG_PKCS7_SIGNED_ATTRIBUTES
                                                                ? SG_PKCS7_ERR_MESSAGE_DIGEST
                                                                : SG_PKCS7_ERR_BAD_SIGNATURE);
        }
        // KCDSA hashes the message itself: a DigestInfo or hash cannot be signed without signed
        // attributes.
        EXPECT_EQ(signData(sha(5, message_), certificate.handle, key,
                           options(SG_PKCS7_DETACHED, SG_DIGEST_SHA256, SG_PKCS7_MODE_HASH))
                      .result,
                  SG_PKCS7_ERR_OPTION);
    }
}

TEST_F(PKCS7SignedData, RefusesSignersWhoseKeyItCannotUse) {
    const ParsedCertificate ec(ecdsa() / "ecdsa.der");
    EXPECT_EQ(signData(message_, ec.handle, keyInMemory(signKey()), options(0x21)).result,
              SG_PKCS7_ERR_ALGORITHM);
    // MD2 has no engine; SHA-224 has no digest identifier here.
    const ParsedCertificate certificate(chain() / "sign.der");
    for (int digest : {1, static_cast<int>(SG_DIGEST_SHA224), 0, 11})
        EXPECT_EQ(
            signData(message_, certificate.handle, keyInMemory(signKey()), options(0x21, digest))
                .result,
            SG_PKCS7_ERR_DIGEST)
            << digest;
}

// ---------------------------------------------------------------------------------------------
// Unsigned attributes.

TEST_F(PKCS7SignedData, WritesUnsignedAttributes) {
    const ParsedCertificate certificate(chain() / "sign.der");
    SGPKCS7AttributeValue second{};
    const Bytes a1 = x509test::utf8("first"), a2 = x509test::integer(7),
                b1 = x509test::octets(unhex("0102"));
    second.value = viewOf(a2);
    SGPKCS7Attribute b{};
    b.type = "1.2.3.4.6";
    b.value.value = viewOf(b1);
    SGPKCS7Attribute a{};
    a.type = "1.2.3.4.5";
    a.value.value = viewOf(a1);
    a.value.next = &second;
    a.next = &b;
    SGPKCS7SignedDataParameters o = options(SG_PKCS7_ADD_CERTIFICATE | SG_PKCS7_SIGNED_ATTRIBUTES);
    o.unsignedAttributes = &a;
    const Signed s = signData(message_, certificate.handle, keyInMemory(signKey()), o);
    ASSERT_EQ(s.result, 0);
    Node ci = parse(s.der);
    const Node& unsignedAttributes = signerInfo(ci).kids.back();
    EXPECT_EQ(unsignedAttributes.tag, 0xA1u);
    // Unsigned, so in DER order: the shorter attribute first, the INTEGER before the string.
    EXPECT_EQ(
        unsignedAttributes.content(),
        x509test::cat({x509test::seq({x509test::oid("1.2.3.4.6"), x509test::set({b1})}),
                       x509test::seq({x509test::oid("1.2.3.4.5"), x509test::set({a2, a1})})}));
    std::string log;
    EXPECT_TRUE(opensslVerifies(s.der, nullptr, nullptr, &log)) << log;
    EXPECT_NE(opensslPrint(s.der).find("1.2.3.4.6"), std::string::npos);

    // A type that does not parse, a value that is not one element: refused before signing.
    Token token;
    b.type = "1.2.x";
    EXPECT_EQ(signData(message_, certificate.handle, tokenKey(&token), o).result,
              SG_PKI_ERR_INTERNAL);
    b.type = "1.2.3";
    const Bytes twoElements = x509test::cat({a1, a1});
    b.value.value = viewOf(twoElements);
    EXPECT_EQ(signData(message_, certificate.handle, tokenKey(&token), o).result,
              SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(token.calls, 0);
}

// ---------------------------------------------------------------------------------------------
// Failures.

// A token whose key is larger than the 512-byte signature buffer.
int bigKeySize(unsigned* size, void*) {
    *size = 600;
    return 0;
}
int bigSign(unsigned char* signature, unsigned* length, const unsigned char*, unsigned, unsigned,
            void* user) {
    ++*static_cast<int*>(user);
    if (*length < 600) return 557;
    std::memset(signature, 1, 600);
    *length = 600;
    return 0;
}

TEST_F(PKCS7SignedData, FailedSigningLeavesNothing) {
    const ParsedCertificate certificate(chain() / "sign.der");
    Token token;
    int bigCalls = 0;
    SGCryptoHandlerKey big{};
    big.type = SG_CRYPTO_HANDLER_CALLBACK;
    big.form.signer.keySize = &bigKeySize;
    big.form.signer.sign = &bigSign;
    big.form.signer.userData = &bigCalls;
    SGCryptoHandlerKey direct = big;
    direct.form.signer.direct = 1;
    SGCryptoHandlerKey none{};
    const SGX509Certificate empty{};
    const Bytes crl = unhex("3000");
    SGBinary crlView = viewOf(crl);

    struct Case {
        const char* name;
        const SGX509Certificate* certificate;
        const SGCryptoHandlerKey* key;
        int flags;
        const SGBinary* crl;
        int expected;
    } cases[] = {
        {"signature above 512 bytes", &certificate.handle, &big, 0x21, nullptr, 557},
        {"direct signature above 512 bytes", &certificate.handle, &direct, 0x21, nullptr, 10009},
        {"key handle of type 0", &certificate.handle, &none, 0x21, nullptr, 10001},
        {"empty certificate", &empty, &big, 0x21, nullptr, 10007},
        {"CRL demanded, none given", &certificate.handle, &big, 0x23, nullptr, 10008},
    };
    for (const Case& c : cases) {
        SGBinary in = viewOf(message_), out{};
        const SGPKCS7SignedDataParameters o = options(c.flags);
        EXPECT_EQ(SGPKCS7SignedData_Sign(&out, &in, c.certificate, c.crl, c.key, &o), c.expected)
            << c.name;
        EXPECT_EQ(out.data, nullptr) << c.name;
        EXPECT_EQ(out.length, 0u) << c.name;
    }
    EXPECT_EQ(bigCalls, 0);  // refused before the token is asked for a signature
    // The CRL argument only has to be there.
    const Signed withCrl =
        signData(message_, certificate.handle, tokenKey(&token), options(0x23), &crlView);
    EXPECT_EQ(withCrl.result, 0);

    // Missing arguments.
    SGBinary in = viewOf(message_), out{};
    const SGCryptoHandlerKey key = keyInMemory(signKey());
    const SGPKCS7SignedDataParameters o = options(0x21);
    EXPECT_EQ(SGPKCS7SignedData_Sign(nullptr, &in, &certificate.handle, nullptr, &key, &o), 10001);
    EXPECT_EQ(SGPKCS7SignedData_Sign(&out, nullptr, &certificate.handle, nullptr, &key, &o), 10001);
    EXPECT_EQ(SGPKCS7SignedData_Sign(&out, &in, nullptr, nullptr, &key, &o), 10001);
    EXPECT_EQ(SGPKCS7SignedData_Sign(&out, &in, &certificate.handle, nullptr, nullptr, &o), 10001);
    EXPECT_EQ(SGPKCS7SignedData_Sign(&out, &in, &certificate.handle, nullptr, &key, nullptr),
              10001);
    EXPECT_EQ(out.data, nullptr);
}

TEST_F(PKCS7SignedData, FailedVerificationLeavesTheOutputsAlone) {
    // The caller's content buffer and signer set keep what they held.
    Node ci = parse(cmsFile("nosmimecap.der"));
    signatureOf(signerInfo(ci)).value[3] ^= 1;
    const Bytes bad = ci.encode();
    SGBinary in = viewOf(bad), content{};
    ASSERT_EQ(SGBinary_Set(&content, "kept", 4), 0);
    Set signers;
    const Bytes ca = certificateDer("ca.der");
    SGBinary caView = viewOf(ca);
    ASSERT_EQ(
        SGCertificateSet_Add(&signers.head, SG_CERTSET_CA, &caView, nullptr, nullptr, nullptr), 0);
    time_t when = 12345;
    SGPKCS7SignedDataParameters o{};
    o.signingTime = &when;
    EXPECT_EQ(SGPKCS7SignedData_Verify(&content, &signers.head, &in, nullptr, &o),
              SG_PKCS7_ERR_BAD_SIGNATURE);
    EXPECT_EQ(bytesOf(content), Bytes({'k', 'e', 'p', 't'}));
    EXPECT_EQ(signers.nodes().size(), 1u);
    EXPECT_EQ(when, 12345);
    // Success replaces the content and appends the signer.
    const Bytes good = cmsFile("nosmimecap.der");
    in = viewOf(good);
    EXPECT_EQ(SGPKCS7SignedData_Verify(&content, &signers.head, &in, nullptr, &o), 0);
    EXPECT_EQ(bytesOf(content), message_);
    ASSERT_EQ(signers.nodes().size(), 2u);
    EXPECT_EQ(bytesOf(signers.nodes()[1]->certificate), certificateDer("sign.der"));
    EXPECT_NE(when, 12345);
    SGBinary_Reset(&content);
    // Null outputs are allowed; null input is not.
    EXPECT_EQ(SGPKCS7SignedData_Verify(nullptr, nullptr, &in, nullptr, nullptr), 0);
    EXPECT_EQ(SGPKCS7SignedData_Verify(nullptr, nullptr, nullptr, nullptr, nullptr), 10001);
    // Content modes above 2.
    SGPKCS7SignedDataParameters mode3{};
    mode3.contentMode = 3;
    EXPECT_EQ(SGPKCS7SignedData_Verify(nullptr, nullptr, &in, nullptr, &mode3), 10001);
}

TEST_F(PKCS7SignedData, RefusesMalformedSignedData) {
    const Bytes good = cmsFile("nosmimecap.der");
    Node ci = parse(good);
    // No SignerInfo.
    Node none = ci;
    signedData(none).kids.back().kids.clear();
    EXPECT_EQ(verifyData(none.encode()).result, SG_PKI_ERR_NO_DATA);
    // Encapsulated content of another type.
    Node other = ci;
    signedData(other).kids.at(2).kids.at(0) = parse(x509test::oid("1.2.840.113549.1.7.5"));
    EXPECT_EQ(verifyData(other.encode()).result, SG_PKI_ERR_NOT_SUPPORTED);
    // A sid that names the key identifier.
    Node ski = ci;
    signerInfo(ski).kids.at(1) = parse(x509test::ctx(0, unhex("0102"), false));
    EXPECT_EQ(verifyData(ski.encode()).result, SG_PKCS7_ERR_SIGNER_ID);
    // Cut short, and trailing garbage inside the SignedData.
    EXPECT_EQ(verifyData(Bytes(good.begin(), good.end() - 1)).result, SG_ASN_ERR_DECODE);
    Node trailing = ci;
    signedData(trailing).kids.push_back(parse(x509test::null()));
    EXPECT_EQ(verifyData(trailing.encode()).result, SG_ASN_ERR_DECODE);
    // Wrong tags around the parts read where they stand: a SET for the ContentInfo, and the
    // encapsulated content info's bytes under a primitive tag.
    Node set = ci;
    set.tag = 0x31;
    EXPECT_EQ(verifyData(set.encode()).result, SG_ASN_ERR_DECODE);
    Node primitive = ci;
    Node& eci = signedData(primitive).kids.at(2);
    eci.value = eci.content();
    eci.kids.clear();
    eci.tag = 0x10;
    EXPECT_EQ(verifyData(primitive.encode()).result, SG_ASN_ERR_DECODE);
}

// ---------------------------------------------------------------------------------------------
// Elements and the Service table.

TEST_F(PKCS7SignedData, PutsContentIntoADetachedSignature) {
    const ParsedCertificate certificate(chain() / "sign.der");
    for (int form : {0, static_cast<int>(SG_PKCS7_BARE)}) {
        SCOPED_TRACE(form ? "bare" : "wrapped");
        SGPKCS7SignedDataParameters o = options(SG_PKCS7_ADD_CERTIFICATE | SG_PKCS7_DETACHED |
                                                SG_PKCS7_SIGNED_ATTRIBUTES | form);
        const Signed s = signData(message_, certificate.handle, keyInMemory(signKey()), o);
        ASSERT_EQ(s.result, 0);
        SGBinary in = viewOf(s.der), content = viewOf(message_), out{}, got{};
        // Bit 0 clear: the same bytes; Get does nothing.
        ASSERT_EQ(SGPKCS7SignedDataElements_Set(&out, &in, &content, 0), 0);
        EXPECT_EQ(bytesOf(out), s.der);
        SGPKCS7SignedDataElements_Reset(&out);
        EXPECT_EQ(SGPKCS7SignedDataElements_Get(&got, &in, 0), 0);
        EXPECT_EQ(got.data, nullptr);
        EXPECT_EQ(SGPKCS7SignedDataElements_Get(&got, &in, 1), SG_PKCS7_ERR_NO_CONTENT);
        // Bit 0: the content goes in, everything else keeps its bytes, so our signature with
        // its attributes in written order still holds.
        ASSERT_EQ(SGPKCS7SignedDataElements_Set(&out, &in, &content, 1), 0);
        const Bytes attached = bytesOf(out);
        EXPECT_EQ(parse(attached).kids.at(0).tag, form ? 0x02u : 0x06u);
        const Verified v = verifyData(attached, nullptr, &o);
        EXPECT_EQ(v.result, 0);
        EXPECT_EQ(v.content, message_);
        if (!form) {
            std::string log;
            Bytes fromOpenssl;
            EXPECT_TRUE(opensslVerifies(attached, nullptr, &fromOpenssl, &log)) << log;
            EXPECT_EQ(fromOpenssl, message_);
        }
        ASSERT_EQ(SGPKCS7SignedDataElements_Get(&got, &out, 1), 0);
        EXPECT_EQ(bytesOf(got), message_);
        SGPKCS7SignedDataElements_Reset(&got);
        // Replaced again with other content: then it no longer verifies.
        const Bytes other = {1, 2, 3};
        SGBinary otherView = viewOf(other), replaced{};
        ASSERT_EQ(SGPKCS7SignedDataElements_Set(&replaced, &out, &otherView, 1), 0);
        EXPECT_EQ(verifyData(bytesOf(replaced), nullptr, &o).result, SG_PKCS7_ERR_MESSAGE_DIGEST);
        SGPKCS7SignedDataElements_Reset(&replaced);
        SGPKCS7SignedDataElements_Reset(&out);
        EXPECT_EQ(out.data, nullptr);
    }
    // An openssl stream (indefinite lengths) gets its content replaced too.
    const Bytes stream = cmsFile("stream.der");
    SGBinary in = viewOf(stream), out{}, got{};
    const Bytes other = {9, 8, 7};
    SGBinary otherView = viewOf(other);
    ASSERT_EQ(SGPKCS7SignedDataElements_Set(&out, &in, &otherView, 1), 0);
    ASSERT_EQ(SGPKCS7SignedDataElements_Get(&got, &out, 1), 0);
    EXPECT_EQ(bytesOf(got), other);
    SGPKCS7SignedDataElements_Reset(&got);
    SGPKCS7SignedDataElements_Reset(&out);
    // Not a SignedData.
    const Bytes junk = unhex("300302010A");
    SGBinary junkView = viewOf(junk);
    EXPECT_EQ(SGPKCS7SignedDataElements_Set(&out, &junkView, &otherView, 1), SG_ASN_ERR_DECODE);
    EXPECT_EQ(SGPKCS7SignedDataElements_Set(&out, &in, nullptr, 1), SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGPKCS7SignedDataElements_Reset(nullptr), SG_PKI_ERR_ARGUMENT);
}

TEST_F(PKCS7SignedData, ServiceSlots) {
    EXPECT_EQ(Service[53], reinterpret_cast<void*>(&SGPKCS7SignedData_Sign));
    EXPECT_EQ(Service[54], reinterpret_cast<void*>(&SGPKCS7SignedData_Verify));
    EXPECT_EQ(Service[55], reinterpret_cast<void*>(&SGPKCS7SignedDataElements_Set));
    EXPECT_EQ(Service[56], reinterpret_cast<void*>(&SGPKCS7SignedDataElements_Get));
    EXPECT_EQ(Service[57], reinterpret_cast<void*>(&SGPKCS7SignedDataElements_Reset));
    // Signed and verified through the table, as the token manager calls them.
    const ParsedCertificate certificate(chain() / "sign.der");
    const SGCryptoHandlerKey key = keyInMemory(signKey());
    const SGPKCS7SignedDataParameters o = options(0x21);
    SGBinary in = viewOf(message_), out{}, content{};
    auto sign = reinterpret_cast<decltype(&SGPKCS7SignedData_Sign)>(Service[53]);
    auto verify = reinterpret_cast<decltype(&SGPKCS7SignedData_Verify)>(Service[54]);
    ASSERT_EQ(sign(&out, &in, &certificate.handle, nullptr, &key, &o), 0);
    EXPECT_EQ(verify(&content, nullptr, &out, nullptr, &o), 0);
    EXPECT_EQ(bytesOf(content), message_);
    SGBinary_Reset(&content);
    SGBinary_Reset(&out);
}

}  // namespace
