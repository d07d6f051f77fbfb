// The CMP client against a scripted authority on loopback: frames, the password-based MAC
// recomputed by the openssl command line, requests checked by openssl (proofs of possession,
// the encrypted VID, protection signatures) and replies whose certificates openssl issued for
// the requested keys.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>

#include "CMPScriptedCA.h"
#include "CertReqMessages.h"
#include "EncryptContent.h"
#include "EncryptedVID.h"
#include "PKIMessage.h"
#include "POPOSigningKeyInput.h"
#include "SGCMP.h"
#include "SGCMPConstants.h"
#include "SGCMPInternal.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGServiceTable.h"
#include "SubjectPublicKeyInfo.h"
#include "TestKit.h"

namespace {

namespace fs = std::filesystem;
using namespace cmptest;
namespace cmp = brindlow::service::cmp;

const char* const kCode = "Auth-Code-77";
const char* const kRefNum = "12345678";

// --- Shared material -----------------------------------------------------------------------------

testkit::Scratch* gScratch = nullptr;
std::string gOldHome;
std::atomic<int> gFileNumber{0};

fs::path pkiDir() {
    return gScratch->path() / "pki";
}
fs::path npkiDir() {
    return gScratch->path() / "home/Library/Preferences/NPKI";
}

// A new file of the scratch folder holding the bytes.
std::string file(const Bytes& bytes) {
    const fs::path p = gScratch->path() / "work" / ("f" + std::to_string(++gFileNumber));
    testkit::writeBytes(p, bytes);
    return p.string();
}

// Standard output of a command that must succeed.
Bytes sh(const std::string& command) {
    int status = -1;
    const std::string out = testkit::run("(" + command + ") 2>/dev/null", &status);
    if (status != 0) throw std::runtime_error("command failed: " + command);
    return Bytes(out.begin(), out.end());
}

std::string q(const fs::path& p) {
    return testkit::quote(p.string());
}

std::string hexOf(const Bytes& b) {
    return testkit::hex(b);
}

// The MAC as the authority computes it, with openssl alone.
Bytes opensslMac(const Bytes& protectedPart, const std::string& code) {
    const Bytes key = sh("printf %s " + testkit::quote(std::string(cmp::kMacPrefix) + code) +
                         " | openssl dgst -sha1 -binary | openssl dgst -sha1 -binary | head -c 8");
    Bytes padded = protectedPart;
    padded.resize((padded.size() / 8 + 1) * 8, 0);  // a whole zero block when aligned
    const Bytes cbc =
        sh("openssl enc -des-cbc -provider legacy -provider default -nopad -iv "
           "0000000000000000 -K " +
           hexOf(key) + " -in " + file(padded));
    return Bytes(cbc.end() - 8, cbc.end());
}

Bytes opensslSign(const Bytes& data, const fs::path& key, const char* digest = "-sha256") {
    return sh(std::string("openssl dgst ") + digest + " -sign " + q(key) + " " + file(data));
}

bool opensslVerify(const Bytes& data, const Bytes& signature, const std::string& publicPem,
                   const char* digest = "-sha256") {
    return testkit::succeeds(std::string("openssl dgst ") + digest + " -verify " + publicPem +
                             " -signature " + file(signature) + " " + file(data));
}

std::string pemOfSpki(const Bytes& spki) {
    const std::string out = file({});
    sh("openssl pkey -pubin -inform DER -in " + file(spki) + " -out " + out);
    return out;
}

// A certificate openssl issues under the test CA for the requested key.
Bytes issueFor(const Bytes& spki, const std::string& cn) {
    return sh("openssl x509 -new -force_pubkey " + pemOfSpki(spki) +
              " -subj '/C=KR/O=Brindlow Test/CN=" + cn + "' -CA " + q(pkiDir() / "ca.pem") +
              " -CAkey " + q(pkiDir() / "ca.key") + " -days 30 -outform DER");
}

template <typename T>
struct Decoded {
    T* value = nullptr;
    asn_TYPE_descriptor_t* type;
    Decoded(asn_TYPE_descriptor_t* t, const Bytes& der) : type(t) {
        SGBinary in{const_cast<unsigned char*>(der.data()), static_cast<uint32_t>(der.size())};
        if (SGASN1CObject_Decode(reinterpret_cast<void**>(&value), t, &in) != 0) value = nullptr;
    }
    ~Decoded() {
        if (value) SGASN1CObject_Free(value, type);
    }
    T* operator->() const { return value; }
};

template <typename T>
Bytes encoded(asn_TYPE_descriptor_t* type, const T* value) {
    SGBinary out{};
    SGASN1CObject_Encode(&out, type, value);
    Bytes b(out.data, out.data + out.length);
    SG_BASE_FN(_gbw, SGBinary_Reset)(&out);
    return b;
}

template <typename T>
Bytes bytesOf(const T& s) {
    return Bytes(s.buf, s.buf + s.size);
}

std::vector<std::string> texts(const PKIFreeText* t) {
    std::vector<std::string> out;
    for (int i = 0; t && i < t->list.count; ++i)
        out.emplace_back(reinterpret_cast<char*>(t->list.array[i]->buf), t->list.array[i]->size);
    return out;
}

// --- Replies ------------------------------------------------------------------------------------

const Bytes kPbm = seq({oid("1.2.840.113533.7.66.13")});
const Bytes kSha256Rsa = seq({oid("1.2.840.113549.1.1.11"), null()});

Bytes caName() {
    return name({{atv("2.5.4.6", printable("KR"))},
                 {atv("2.5.4.10", utf8("Brindlow Test"))},
                 {atv("2.5.4.3", utf8("Brindlow Test CA"))}});
}

Bytes replyHeader(const Bytes& protectionAlg, const Bytes& recipNonce,
                  const std::vector<std::string>& freeText) {
    Bytes textsDer;
    for (const auto& t : freeText) {
        const Bytes one = utf8(t);
        textsDer.insert(textsDer.end(), one.begin(), one.end());
    }
    return seq({integer(2), ctx(4, caName()), ctx(4, seq({})),
                protectionAlg.empty() ? Bytes{} : ctx(1, protectionAlg),
                recipNonce.empty() ? Bytes{} : ctx(6, octets(recipNonce)),
                freeText.empty() ? Bytes{} : ctx(7, tlv(0x30, textsDer))});
}

Bytes macMessage(const Bytes& body, const Bytes& nonce, const std::vector<std::string>& freeText,
                 const std::string& code = kCode) {
    const Bytes header = replyHeader(kPbm, nonce, freeText);
    return seq({header, body, ctx(0, bits(opensslMac(seq({header, body}), code)))});
}

// Signed with the key by openssl: the algorithm named in the header and the digest used may
// differ, to make a signature that must not verify.
Bytes signedMessage(const Bytes& body, const Bytes& nonce, const fs::path& key,
                    const Bytes& extraCerts = {}, const Bytes& algorithm = kSha256Rsa,
                    const char* digest = "-sha256") {
    const Bytes header = replyHeader(algorithm, nonce, {});
    return seq({header, body, ctx(0, bits(opensslSign(seq({header, body}), key, digest))),
                extraCerts.empty() ? Bytes{} : ctx(1, seq({extraCerts}))});
}

// failInfo: the whole BIT STRING, when there is one.
Bytes statusInfo(long status, const std::vector<std::string>& strings = {},
                 const Bytes& failInfo = {}) {
    Bytes t;
    for (const auto& s : strings) {
        const Bytes one = utf8(s);
        t.insert(t.end(), one.begin(), one.end());
    }
    return seq({integer(status), strings.empty() ? Bytes{} : tlv(0x30, t), failInfo});
}

Bytes genpBody(const Bytes& caCert) {
    return ctx(22, seq({seq({oid("1.3.6.1.5.5.7.4.1"), caCert})}));
}

// PKIFailureInfo with badRequest (bit 2) and badPOP (bit 9): six unused bits.
const Bytes kBadRequestAndPop = testkit::unhex("0303062040");

Bytes errorBody(long status, const std::vector<std::string>& strings,
                const Bytes& failInfo = kBadRequestAndPop) {
    return ctx(23, seq({statusInfo(status, strings, failInfo), integer(77)}));
}

// PKCS #7 padding, DES-OFB under the fixed IV, and the key encrypted to the requested key.
Bytes encryptedCert(const Bytes& cert, const Bytes& spki) {
    const Bytes key = testkit::unhex("0123456789ABCDEF");
    Bytes padded = cert;
    const size_t pad = 8 - padded.size() % 8;
    padded.insert(padded.end(), pad, static_cast<unsigned char>(pad));
    const Bytes iv(cmp::kEncryptedCertIV, cmp::kEncryptedCertIV + 8);
    const Bytes value = sh("openssl enc -des-ofb -provider legacy -provider default -nopad -K " +
                           hexOf(key) + " -iv " + hexOf(iv) + " -in " + file(padded));
    const Bytes symmKey =
        sh("openssl pkeyutl -encrypt -pubin -inkey " + pemOfSpki(spki) + " -in " + file(key));
    Bytes symmBits{0};
    symmBits.insert(symmBits.end(), symmKey.begin(), symmKey.end());
    return seq({tlv(0x82, symmBits), bits(value)});
}

// What the authority learned from an ir, kur or krr.
struct Seen {
    std::vector<long> ids;
    std::vector<Bytes> spkis;
    int popoVerified = 0;
    Bytes vidRandom;
    bool vidVerified = false;
    Bytes nonce;
    std::vector<Bytes> certs;
};

// Reads the certificate requests of a request body with openssl's checks, and answers with
// a certificate per request (the second one encrypted).
Bytes answerRequests(const Bytes& request, Seen& seen, int bodyTag) {
    Decoded<PKIMessage_t> m(&asn_DEF_PKIMessage, request);
    if (!m.value) throw std::runtime_error("request does not decode");
    const CertReqMessages_t* messages = nullptr;
    if (m->body->present == PKIBody_PR_ir) messages = &m->body->choice.ir;
    if (m->body->present == PKIBody_PR_kur) messages = &m->body->choice.kur;
    if (m->body->present == PKIBody_PR_krr) messages = &m->body->choice.krr;
    if (!messages) throw std::runtime_error("not a certificate request");
    if (m->header.senderNonce) seen.nonce = bytesOf(*m->header.senderNonce);
    Bytes responses;
    for (int i = 0; i < messages->list.count; ++i) {
        const CertReqMsg_t* msg = messages->list.array[i];
        long id = -1;
        SGASN1CInteger_Get(&id, &msg->certReq.certReqId);
        seen.ids.push_back(id);
        const Bytes spki =
            encoded(&asn_DEF_SubjectPublicKeyInfo, msg->certReq.certTemplate.publicKey);
        seen.spkis.push_back(spki);
        const POPOSigningKey_t& popo = msg->popo->choice.signature;
        const Bytes input = encoded(&asn_DEF_POPOSigningKeyInput, popo.poposkInput);
        if (opensslVerify(input, bytesOf(popo.signature), pemOfSpki(spki))) ++seen.popoVerified;
        for (int a = 0; msg->regInfo && a < msg->regInfo->list.count; ++a) {
            const AttributeTypeAndValue_t* attribute = msg->regInfo->list.array[a];
            char dotted[64];
            SGASN1CObjectIdentifier_ToString(dotted, sizeof dotted, &attribute->type);
            if (std::string(dotted) != "1.2.410.200004.10.1.1.2") continue;
            Decoded<EncryptedVID_t> vid(&asn_DEF_EncryptedVID, bytesOf(attribute->value));
            const Bytes plain = sh("openssl pkeyutl -decrypt -inkey " + q(pkiDir() / "ca.key") +
                                   " -in " + file(bytesOf(vid->encryptedVID)));
            Decoded<EncryptContent_t> content(&asn_DEF_EncryptContent, plain);
            seen.vidRandom = bytesOf(content->randomNum);
            const Bytes hashContent =
                seq({printable(cmp::kDummyIdentityNumber), bits(seen.vidRandom)});
            const Bytes expected = sh("openssl dgst -sha256 -binary " + file(hashContent) +
                                      " | openssl dgst -sha256 -binary");
            seen.vidVerified = expected == bytesOf(content->vid.virtualID);
        }
        const Bytes cert = issueFor(spki, "Issued " + std::to_string(id));
        seen.certs.push_back(cert);
        const Bytes certOrEnc = i == 0 ? ctx(0, cert) : ctx(1, encryptedCert(cert, spki));
        const Bytes one = seq({integer(id), statusInfo(0), seq({certOrEnc})});
        responses.insert(responses.end(), one.begin(), one.end());
    }
    const Bytes root = testkit::readBytes(pkiDir() / "root.der");
    return ctx(static_cast<unsigned>(bodyTag), seq({ctx(1, seq({root})), tlv(0x30, responses)}));
}

Bytes caCert() {
    return testkit::readBytes(pkiDir() / "ca.der");
}

// --- The fixture --------------------------------------------------------------------------------

class CMP : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        gScratch = new testkit::Scratch("cmp");
        std::string output;
        ASSERT_TRUE(testkit::pki("chain", pkiDir(), {}, &output)) << output;
        fs::create_directories(npkiDir() / "KISA");
        fs::copy_file(pkiDir() / "root.der", npkiDir() / "KISA" / "root.der");
        const char* home = std::getenv("HOME");
        gOldHome = home ? home : "";
        ::setenv("HOME", (gScratch->path() / "home").c_str(), 1);
        ASSERT_EQ(SGServiceWrapper_GetList(Service), 0);
    }
    static void TearDownTestSuite() {
        ::setenv("HOME", gOldHome.c_str(), 1);
        delete gScratch;
        gScratch = nullptr;
    }

    SGCMPParameter parameters(const ScriptedCA& ca, int kind = 1) {
        SGCMPParameter p{};
        p.caKind = kind;
        p.connection.host = "127.0.0.1";
        p.connection.port = ca.port();
        p.connection.receiveTimeout = 5;
        p.lowerSpec = 1;  // 1024-bit keys keep the tests quick; one test makes 2048-bit ones
        return p;
    }

    void TearDown() override { SGCMPResult_Reset(&result_); }

    SGCMPResult result_{};
};

std::vector<Bytes> listOf(const SGBinaryList& list) {
    std::vector<Bytes> out;
    if (!list.tail) return out;
    for (const SGBinaryList* n = &list; n; n = n->next)
        out.emplace_back(n->value.data, n->value.data + n->value.length);
    return out;
}

// The RSAPublicKey inside a PKCS #8 key and a certificate, through openssl.
Bytes publicOfKey(const Bytes& pkcs8) {
    return sh("openssl pkey -inform DER -in " + file(pkcs8) + " -pubout -outform DER");
}
Bytes publicOfCert(const Bytes& cert) {
    return sh("openssl x509 -inform DER -in " + file(cert) +
              " -noout -pubkey | openssl pkey -pubin -outform DER");
}

// --- Frames ------------------------------------------------------------------------------------

struct SocketPair {
    int fds[2];
    SocketPair() { ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds); }
    ~SocketPair() {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
};

TEST_F(CMP, RequestsGoOutAsLengthFlagAndDer) {
    SocketPair pair;
    SGCMPCommunication connection{};
    connection.socket = pair.fds[0];
    Bytes der(300, 0x5A);
    ASSERT_EQ(cmp::SGCMPCommunication_SendRequest(der, &connection), 0);
    Bytes got(305);
    ASSERT_EQ(::recv(pair.fds[1], got.data(), got.size(), MSG_WAITALL), 305);
    EXPECT_EQ(hexOf(Bytes(got.begin(), got.begin() + 5)), "0000012D00");
    EXPECT_EQ(Bytes(got.begin() + 5, got.end()), der);
    connection.socket = -1;
}

TEST_F(CMP, ReplyFramesAreReadOrRefused) {
    struct Case {
        const char* what;
        Bytes sent;
        bool closeAfter;
        int expected;
        int flag;
    };
    const Bytes body{0x30, 0x00};
    Bytes big = frame(Bytes(200000, 0x41), 0);  // arrives in several pieces
    const Case cases[] = {
        {"flag 3", frame(body, 3), false, 0, 3},
        {"flag 6", frame(body, 6), false, 0, 6},
        {"big body", big, false, 0, 0},
        {"flag 7, body never sent", Bytes{0, 0, 0, 3, 7}, false, SG_CMP_ERR_FRAME, 0},
        {"length 0", Bytes{0, 0, 0, 0, 0}, false, SG_CMP_ERR_FRAME, 0},
        {"length above 1 MiB", Bytes{0, 0x10, 0, 2, 0}, false, SG_CMP_ERR_FRAME, 0},
        {"closed in the body", Bytes{0, 0, 0, 9, 0, 1, 2}, true, SG_CMP_ERR_CLOSED, 0},
        {"closed before the flag", Bytes{0, 0, 0, 9}, true, SG_CMP_ERR_CLOSED, 0},
        {"silent", Bytes{0, 0, 0}, false, SG_CMP_ERR_TIMEOUT, 0},
    };
    for (const Case& c : cases) {
        SocketPair pair;
        std::thread writer([&] {
            ::send(pair.fds[1], c.sent.data(), c.sent.size(), MSG_NOSIGNAL);
            if (c.closeAfter) {
                ::close(pair.fds[1]);
                pair.fds[1] = -1;
            }
        });
        SGCMPCommunication connection{};
        connection.socket = pair.fds[0];
        connection.receiveTimeout = 1;
        cmp::Bytes der;
        EXPECT_EQ(cmp::SGCMPCommunication_RecvResponse(der, &connection), c.expected) << c.what;
        if (c.expected == 0) {
            EXPECT_EQ(der, Bytes(c.sent.begin() + 5, c.sent.end())) << c.what;
            EXPECT_EQ(connection.lastFlag, c.flag) << c.what;
        }
        connection.socket = -1;
        writer.join();
    }
}

TEST_F(CMP, PasswordBasedMacIsTheOneOpensslComputes) {
    for (size_t n : {0u, 13u, 16u, 301u}) {
        Bytes part(n == 0 ? 1 : n);
        for (size_t i = 0; i < part.size(); ++i) part[i] = static_cast<unsigned char>(i * 7 + 1);
        const Bytes code(kCode, kCode + std::strlen(kCode));
        cmp::Bytes mac;
        ASSERT_EQ(cmp::SGCMPProtection_CalculatePBMAC(mac, cmp::kMacPrefix, code, 2, 3, 7, part),
                  0);
        EXPECT_EQ(hexOf(mac), hexOf(opensslMac(part, kCode))) << n;
    }
}

// --- Issue -------------------------------------------------------------------------------------

TEST_F(CMP, IssueWithBuiltInKeysYieldsTwoCertificatesForTheReturnedKeys) {
    Seen seen;
    ScriptedCA ca({
        reply([](const Bytes&) {
            return macMessage(genpBody(caCert()), {},
                              {"km_key_gen=user$signature_algorithm=sha256WithRSAEncryption$"});
        }),
        reply([&](const Bytes& request) {
            const Bytes body = answerRequests(request, seen, 1);
            return macMessage(body, seen.nonce, {"issued"});
        }),
        raw(frame({}, 3)),
    });
    SGCMPParameter p = parameters(ca);
    p.lowerSpec = 0;  // the real key size once
    ASSERT_EQ(SG_SERVICE_FN(Service, SGCMP_Issue)(&result_, kRefNum, kCode, &p), 0) << ca.failure();
    ASSERT_EQ(ca.failure(), "");
    const auto& requests = ca.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const Bytes& r : requests)
        EXPECT_TRUE(testkit::succeeds("openssl asn1parse -inform DER -i -in " + file(r)));

    // The authority saw proofs that verify and a VID it could decrypt and recompute.
    EXPECT_EQ(seen.ids, (std::vector<long>{0, 1}));
    EXPECT_EQ(seen.popoVerified, 2);
    EXPECT_TRUE(seen.vidVerified);
    EXPECT_EQ(
        hexOf(Bytes(result_.vidRandom.data, result_.vidRandom.data + result_.vidRandom.length)),
        hexOf(seen.vidRandom));

    // Both certificates, the second decrypted, each for the private key returned beside it.
    const auto issued = listOf(result_.issuedCertificates);
    ASSERT_EQ(issued.size(), 2u);
    EXPECT_EQ(issued, seen.certs);
    ASSERT_TRUE(result_.privateKeys);
    const auto keys = listOf(*result_.privateKeys);
    ASSERT_EQ(keys.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(publicOfKey(keys[i]), publicOfCert(issued[i])) << i;
    EXPECT_TRUE(testkit::succeeds("openssl x509 -inform DER -in " + file(issued[0]) +
                                  " -noout -text | grep -q 'Public-Key: (2048 bit)'"));
    EXPECT_EQ(listOf(result_.caCertificates).size(), 1u);

    // conf carries the tag, the ip's texts and the tag again, unprotected.
    Decoded<PKIMessage_t> conf(&asn_DEF_PKIMessage, requests[2]);
    ASSERT_TRUE(conf.value);
    EXPECT_EQ(conf->body->present, PKIBody_PR_conf);
    EXPECT_EQ(conf->protection, nullptr);
    EXPECT_EQ(texts(conf->header.freeText),
              (std::vector<std::string>{"QV_NEW_MAC", "issued", "QV_NEW_MAC"}));
}

// A MAC-protected ip that answers one signing-key request.
std::vector<Step> issueScript(Seen& seen, std::function<Bytes(const Bytes&)> ip,
                              const std::string& genpText = "") {
    return {reply([genpText](const Bytes&) {
                return macMessage(genpBody(caCert()), {},
                                  genpText.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{genpText});
            }),
            reply(std::move(ip)), raw(frame({}, 3))};
}

TEST_F(CMP, IssueFailsOnRepliesThatCannotBeTrusted) {
    struct Case {
        const char* what;
        std::function<Bytes(const Bytes&, Seen&)> ip;
        int expected;
    };
    const Case cases[] = {
        {"wrong authorization code",
         [](const Bytes& r, Seen& s) {
             return macMessage(answerRequests(r, s, 1), s.nonce, {}, "other");
         },
         SG_CMP_ERR_MAC},
        {"no protection",
         [](const Bytes& r, Seen& s) {
             return seq({replyHeader({}, s.nonce, {}), answerRequests(r, s, 1)});
         },
         SG_CMP_ERR_MAC},
        {"recipNonce of another request",
         [](const Bytes& r, Seen& s) {
             const Bytes body = answerRequests(r, s, 1);
             return macMessage(body, Bytes(16, 1), {});
         },
         SG_CMP_ERR_UNEXPECTED},
        {"certificate for another key",
         [](const Bytes& r, Seen& s) {
             answerRequests(r, s, 1);
             const Bytes other =
                 sh("openssl x509 -in " + q(pkiDir() / "sign.pem") + " -outform DER");
             return macMessage(
                 ctx(1, seq({seq({seq({integer(0), statusInfo(0), seq({ctx(0, other)})})})})),
                 s.nonce, {});
         },
         SG_CMP_ERR_UNEXPECTED},
        {"answer for an id never asked",
         [](const Bytes& r, Seen& s) {
             answerRequests(r, s, 1);
             const Bytes cert = issueFor(s.spkis[0], "x");
             return macMessage(
                 ctx(1, seq({seq({seq({integer(5), statusInfo(0), seq({ctx(0, cert)})})})})),
                 s.nonce, {});
         },
         SG_CMP_ERR_UNEXPECTED},
        {"kup in place of ip",
         [](const Bytes& r, Seen& s) { return macMessage(answerRequests(r, s, 8), s.nonce, {}); },
         SG_CMP_ERR_BODY_KIND},
    };
    for (const Case& c : cases) {
        Seen seen;
        ScriptedCA ca(issueScript(seen, [&](const Bytes& r) { return c.ip(r, seen); }));
        SGCMPParameter p = parameters(ca);
        SGCMPResult result{};
        EXPECT_EQ(SGCMP_Issue(&result, kRefNum, kCode, &p), c.expected) << c.what;
        EXPECT_EQ(result.issuedCertificates.tail, nullptr) << c.what;
        EXPECT_EQ(result.privateKeys, nullptr) << c.what;
        SGCMPResult_Reset(&result);
        EXPECT_EQ(ca.failure(), "") << c.what;
    }
}

TEST_F(CMP, AnErrorBodyIsARejectionWithItsTexts) {
    ScriptedCA ca(
        {reply([](const Bytes&) { return macMessage(genpBody(caCert()), {}, {}); }),
         reply([](const Bytes&) {
             return seq({replyHeader({}, {}, {}), errorBody(2, {"bad reference", "다시"})});
         })});
    SGCMPParameter p = parameters(ca);
    EXPECT_EQ(SGCMP_Issue(&result_, kRefNum, kCode, &p), SG_CMP_ERR_REJECTED);
    EXPECT_EQ(result_.status, 2);
    EXPECT_EQ(listOf(result_.statusTexts),
              (std::vector<Bytes>{testkit::unhex(hexOf(text("bad reference"))), text("다시")}));
    EXPECT_EQ(result_.issuedCertificates.tail, nullptr);
}

TEST_F(CMP, ReplyHeaderTextsReachTheConfAsUtf8) {
    // EUC-KR made by iconv, not by the converter under test.
    const Bytes eucKr =
        sh("printf %s " + testkit::quote("한국 인증") + " | iconv -f UTF-8 -t EUC-KR");
    ASSERT_EQ(hexOf(eucKr), "C7D1B1B920C0CEC1F5");
    const std::string received[] = {
        std::string(eucKr.begin(), eucKr.end()), "인증서 발급",
        "café",      // UTF-8 C3 A9 would read as the EUC-KR syllable 챕
        "\xFF\xFE",  // neither UTF-8 nor EUC-KR: kept as it came
    };
    Seen seen;
    ScriptedCA ca(issueScript(seen, [&](const Bytes& r) {
        return macMessage(answerRequests(r, seen, 1), seen.nonce,
                          std::vector<std::string>(std::begin(received), std::end(received)));
    }));
    SGCMPParameter p = parameters(ca);
    ASSERT_EQ(SGCMP_Issue(&result_, kRefNum, kCode, &p), 0) << ca.failure();
    const auto& requests = ca.requests();
    ASSERT_EQ(requests.size(), 3u);
    Decoded<PKIMessage_t> conf(&asn_DEF_PKIMessage, requests[2]);
    ASSERT_TRUE(conf.value);
    EXPECT_EQ(texts(conf->header.freeText),
              (std::vector<std::string>{"QV_NEW_MAC", "한국 인증", "인증서 발급", "café",
                                        "\xFF\xFE", "QV_NEW_MAC"}));
}

TEST_F(CMP, FailInfoBitsAreKeptByTheirNames) {
    constexpr long badAlg = 1L << 0, badRequest = 1L << 2, badPOP = 1L << 9;
    struct Case {
        const char* what;
        Bytes message;
        long failInfo;
    };
    const Bytes noProtection = replyHeader({}, {}, {});
    const Case cases[] = {
        {"error body, badRequest and badPOP", seq({noProtection, errorBody(2, {})}),
         badRequest | badPOP},
        {"error body, badAlg", seq({noProtection, errorBody(2, {}, testkit::unhex("03020780"))}),
         badAlg},
        {"error body, set bits among the unused ones",
         seq({noProtection, errorBody(2, {}, testkit::unhex("030206A1"))}), badAlg},
        {"rejecting ip, badPOP",
         macMessage(
             ctx(1,
                 seq({seq({seq({integer(0), statusInfo(2, {}, testkit::unhex("0303060040"))})})})),
             {}, {}),
         badPOP},
    };
    for (const Case& c : cases) {
        cmp::SGCMPContext context;
        context.caKind = 1;
        context.operation = cmp::kIssue;
        context.state = cmp::kIpExpected;
        context.connection.socket = -1;
        context.authorizationCode.bytes.assign(kCode, kCode + std::strlen(kCode));
        EXPECT_EQ(cmp::SGCMPASN_ReadReply(context, c.message, 0), SG_CMP_ERR_REJECTED) << c.what;
        EXPECT_EQ(context.failInfo, c.failInfo) << c.what;
        EXPECT_EQ(context.pkiStatus, 2) << c.what;
    }
}

TEST_F(CMP, EndingsAndGuardsOfTheExchange) {
    {  // the genp's certificate does not lead to a trusted root of the NPKI storage
        ScriptedCA ca({reply([](const Bytes&) {
            return macMessage(genpBody(testkit::readBytes(pkiDir() / "sign.der")), {}, {});
        })});
        SGCMPParameter p = parameters(ca);
        fs::rename(npkiDir() / "KISA" / "root.der", npkiDir() / "root.keep");
        SGCMPResult result{};
        const int r = SGCMP_Issue(&result, kRefNum, kCode, &p);
        fs::rename(npkiDir() / "root.keep", npkiDir() / "KISA" / "root.der");
        EXPECT_EQ(r, SG_CMP_ERR_SIGNATURE);
    }
    {  // the authority ends the exchange before conf: not a success
        Seen seen;
        ScriptedCA ca({reply([](const Bytes&) { return macMessage(genpBody(caCert()), {}, {}); }),
                       raw(frame({}, 3))});
        SGCMPParameter p = parameters(ca);
        SGCMPResult result{};
        EXPECT_EQ(SGCMP_Issue(&result, kRefNum, kCode, &p), SG_CMP_ERR_UNEXPECTED);
        EXPECT_EQ(ca.requests().size(), 2u);
    }
    {  // after conf a close ends the operation well; no conf with the no-confirmation value
        for (int noConf : {0, 1}) {
            Seen seen;
            ScriptedCA ca(
                {reply([](const Bytes&) { return macMessage(genpBody(caCert()), {}, {}); }),
                 reply([&](const Bytes& r) {
                     return macMessage(answerRequests(r, seen, 1), seen.nonce, {});
                 }),
                 closeAfterRead()});
            SGCMPParameter p = parameters(ca);
            p.noConfirmation = &noConf;
            SGCMPResult result{};
            EXPECT_EQ(SGCMP_Issue(&result, kRefNum, kCode, &p), 0) << noConf;
            EXPECT_EQ(ca.requests().size(), noConf ? 2u : 3u);
            EXPECT_EQ(listOf(result.issuedCertificates).size(), 1u);  // no km_key_gen: one key
            SGCMPResult_Reset(&result);
        }
    }
    {  // an authority asking for weak keys is refused before any key is made
        ScriptedCA ca({reply(
            [](const Bytes&) { return macMessage(genpBody(caCert()), {}, {"key_size=1024$"}); })});
        SGCMPParameter p = parameters(ca);
        p.lowerSpec = 0;
        EXPECT_EQ(SGCMP_Issue(&result_, kRefNum, kCode, &p), SG_PKI_ERR_OUT_OF_RANGE);
    }
    {  // silence and a close while the client waits
        ScriptedCA quiet({silent()});
        SGCMPParameter p = parameters(quiet);
        p.connection.receiveTimeout = 1;
        EXPECT_EQ(SGCMP_Issue(&result_, kRefNum, kCode, &p), SG_CMP_ERR_TIMEOUT);
        ScriptedCA closing({closeAfterRead()});
        p = parameters(closing);
        EXPECT_EQ(SGCMP_Issue(&result_, kRefNum, kCode, &p), SG_CMP_ERR_CLOSED);
    }
    {  // a flag above 6: refused with the body unread
        ScriptedCA ca({raw(Bytes{0, 0, 0, 3, 7})});
        SGCMPParameter p = parameters(ca);
        EXPECT_EQ(SGCMP_Issue(&result_, kRefNum, kCode, &p), SG_CMP_ERR_FRAME);
    }
}

// The certificates to revoke or update (files of the test chain), and the signing key.
struct OldKeys {
    SGBinaryList certs{}, keys{};
    explicit OldKeys(std::initializer_list<const char*> roles = {"sign"}) {
        for (const char* role : roles)
            add(certs, testkit::readBytes(pkiDir() / (std::string(role) + ".der")));
        add(keys, sh("openssl rsa -in " + q(pkiDir() / "sign.key") + " -traditional -outform DER"));
    }
    static void add(SGBinaryList& list, const Bytes& b) {
        SGBinary value{const_cast<unsigned char*>(b.data()), static_cast<uint32_t>(b.size())};
        SG_BASE_FN(_gbw, SGBinaryList_Add)(&list, &value);
    }
    ~OldKeys() {
        SG_BASE_FN(_gbw, SGBinaryList_Reset)(&certs);
        SG_BASE_FN(_gbw, SGBinaryList_Reset)(&keys);
    }
};

TEST_F(CMP, ArgumentsAreRefusedBeforeConnecting) {
    ScriptedCA ca({});  // never reached: nothing must be sent
    SGCMPParameter p = parameters(ca);
    const std::string longRef(101, '7');
    EXPECT_EQ(SGCMP_Issue(&result_, longRef.c_str(), kCode, &p), SG_PKI_ERR_OUT_OF_RANGE);
    EXPECT_EQ(SGCMP_Issue(nullptr, kRefNum, kCode, &p), SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGCMP_Issue(&result_, kRefNum, nullptr, &p), SG_PKI_ERR_ARGUMENT);
    SGCMPParameter bad = p;
    bad.connection.port = 65536;
    EXPECT_EQ(SGCMP_Issue(&result_, kRefNum, kCode, &bad), SG_PKI_ERR_OUT_OF_RANGE);
    bad = p;
    bad.shortUpdate = 1;  // an update flag on an issue
    EXPECT_EQ(SGCMP_Issue(&result_, kRefNum, kCode, &bad), SG_PKI_ERR_ARGUMENT);
    bad = p;
    bad.makeKMCertificate = 1;
    EXPECT_EQ(SGCMP_Issue(&result_, kRefNum, kCode, &bad), SG_PKI_ERR_ARGUMENT);

    SGBinaryList certs{};
    const Bytes sign = testkit::readBytes(pkiDir() / "sign.der");
    SGBinary value{const_cast<unsigned char*>(sign.data()), static_cast<uint32_t>(sign.size())};
    SG_BASE_FN(_gbw, SGBinaryList_Add)(&certs, &value);
    SGBinaryList noKeys{};
    EXPECT_EQ(SGCMP_Update(&result_, &certs, &noKeys, &p), SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGCMP_Revoke(&result_, &certs, nullptr, &p, 1), SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGCMP_Revoke(&result_, &certs, &noKeys, &p, 9), SG_PKI_ERR_ARGUMENT);
    {  // every certificate to revoke must decode, not only the first
        OldKeys old;
        OldKeys::add(old.certs, Bytes{0x30, 0x03, 0x02, 0x01, 0x05});
        EXPECT_EQ(SGCMP_Revoke(&result_, &old.certs, &old.keys, &p, 1),
                  SG_CMP_ERR_REVOKE_CERTIFICATE);
    }
    SG_BASE_FN(_gbw, SGBinaryList_Reset)(&certs);
    // Unblock the authority's accept: it gets a connection and no request.
    SGCMPCommunication c{};
    c.host = "127.0.0.1";
    c.port = ca.port();
    ASSERT_EQ(cmp::SGCMPCommunication_Open(&c), 0);
    cmp::SGCMPCommunication_Close(&c);
    EXPECT_TRUE(ca.requests().empty());
}

// --- Revoke and update ---------------------------------------------------------------------------

std::string signPublicPem() {
    const fs::path out = gScratch->path() / "signpub.pem";
    if (!fs::exists(out))
        sh("openssl x509 -in " + q(pkiDir() / "sign.pem") + " -noout -pubkey > " + q(out));
    return q(out);
}

// The rr's signature by the old key, checked by openssl.
bool signedByOldKey(const Bytes& request) {
    Decoded<PKIMessage_t> m(&asn_DEF_PKIMessage, request);
    if (!m.value || !m->protection) return false;
    const Bytes header = encoded(&asn_DEF_PKIHeader, &m->header);
    const Bytes body = encoded(&asn_DEF_PKIBody, m->body);
    return opensslVerify(seq({header, body}), bytesOf(*m->protection), signPublicPem());
}

Bytes rpBody(long status) {
    return ctx(12, seq({seq({statusInfo(status)})}));
}

// An rp with one PKIStatusInfo per status given.
Bytes rpBody(std::initializer_list<long> statuses) {
    Bytes infos;
    for (long status : statuses) {
        const Bytes one = statusInfo(
            status, status ? std::vector<std::string>{"refused"} : std::vector<std::string>{});
        infos.insert(infos.end(), one.begin(), one.end());
    }
    return ctx(12, seq({tlv(0x30, infos)}));
}

// What openssl asn1parse finds in each RevDetails of an rr: the serial, the issuer Name and the
// ReasonFlags, as hex of their DER contents (the bytes located by openssl's offsets).
struct RevDetailsSeen {
    std::string serial, issuer, reason;
};

std::vector<RevDetailsSeen> revDetailsOf(const Bytes& request) {
    std::string parsed;
    if (!testkit::succeeds("openssl asn1parse -inform DER -i -in " + file(request), &parsed))
        throw std::runtime_error("openssl asn1parse refused the request");
    static const std::regex line(R"(^\s*(\d+):d=(\d+)\s+hl=(\d+)\s+l=\s*(\d+)\s+\w+:\s*(.*?)\s*$)");
    std::vector<RevDetailsSeen> out;
    bool inBody = false;
    std::istringstream lines(parsed);
    for (std::string text; std::getline(lines, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line)) continue;
        const size_t offset = std::stoul(m[1]), header = std::stoul(m[3]),
                     length = std::stoul(m[4]);
        const int depth = std::stoi(m[2]);
        const std::string what = m[5];
        const std::string contents =
            hexOf(Bytes(request.begin() + static_cast<long>(offset + header),
                        request.begin() + static_cast<long>(offset + header + length)));
        if (depth == 1) inBody = what == "cont [ 11 ]";
        if (!inBody) continue;
        if (depth == 3 && what == "SEQUENCE") out.emplace_back();
        if (out.empty()) continue;
        if (depth == 5 && what == "cont [ 1 ]") out.back().serial = contents;
        if (depth == 5 && what == "cont [ 3 ]") out.back().issuer = contents;
        if (depth == 4 && what == "BIT STRING") out.back().reason = contents;
    }
    return out;
}

// The serial number of a certificate of the test chain as openssl prints it.
std::string serialOf(const char* role) {
    const Bytes out =
        sh("openssl x509 -noout -serial -in " + q(pkiDir() / (std::string(role) + ".pem")));
    const std::string text(out.begin(), out.end());
    return text.substr(text.find('=') + 1, text.find_last_not_of("\n") - text.find('='));
}

TEST_F(CMP, RevokeAsksForEveryListedCertificate) {
    // keyCompromise (bit 1) and aACompromise (bit 8, in the second byte).
    for (auto [reason, flags] : {std::pair{1, "0640"}, std::pair{8, "070080"}}) {
        ScriptedCA ca({reply([](const Bytes& r) {
            Decoded<PKIMessage_t> m(&asn_DEF_PKIMessage, r);
            return signedMessage(rpBody({0, 0}), bytesOf(*m->header.senderNonce),
                                 pkiDir() / "ca.key", caCert());
        })});
        SGCMPParameter p = parameters(ca);
        OldKeys pair({"sign", "km"});
        ASSERT_EQ(
            SG_SERVICE_FN(Service, SGCMP_Revoke)(&result_, &pair.certs, &pair.keys, &p, reason), 0)
            << ca.failure();
        const auto& requests = ca.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_TRUE(signedByOldKey(requests[0]));
        const auto details = revDetailsOf(requests[0]);
        ASSERT_EQ(details.size(), 2u) << reason;
        EXPECT_EQ(details[0].serial, serialOf("sign"));
        EXPECT_EQ(details[1].serial, serialOf("km"));
        for (const RevDetailsSeen& d : details) {
            EXPECT_EQ(d.issuer, hexOf(caName())) << reason;
            EXPECT_EQ(d.reason, flags) << reason;
        }
        SGCMPResult_Reset(&result_);
    }
}

TEST_F(CMP, RevokeFailsUnlessEachCertificateIsAccepted) {
    struct Case {
        const char* what;
        std::initializer_list<const char*> certificates;
        std::initializer_list<long> statuses;
        int expected;
        int status;  // of the result
    };
    const Case cases[] = {
        {"second refused", {"sign", "km"}, {0, 2}, SG_CMP_ERR_REJECTED, 2},
        {"first refused", {"sign", "km"}, {4, 0}, SG_CMP_ERR_REJECTED, 4},
        {"one status for two", {"sign", "km"}, {0}, SG_CMP_ERR_UNEXPECTED, 0},
        {"three statuses for two", {"sign", "km"}, {0, 0, 0}, SG_CMP_ERR_UNEXPECTED, 0},
        {"two statuses for one", {"sign"}, {0, 0}, SG_CMP_ERR_UNEXPECTED, 0},
        // The reply's signer issued the first certificate, not the second.
        {"second of another issuer", {"sign", "ca"}, {0, 0}, SG_CMP_ERR_SIGNATURE, 0},
    };
    for (const Case& c : cases) {
        const Bytes body = rpBody(c.statuses);
        ScriptedCA ca({reply([&](const Bytes& r) {
            Decoded<PKIMessage_t> m(&asn_DEF_PKIMessage, r);
            return signedMessage(body, bytesOf(*m->header.senderNonce), pkiDir() / "ca.key",
                                 caCert());
        })});
        SGCMPParameter p = parameters(ca);
        OldKeys old(c.certificates);
        SGCMPResult result{};
        EXPECT_EQ(SGCMP_Revoke(&result, &old.certs, &old.keys, &p, 1), c.expected) << c.what;
        EXPECT_EQ(result.status, c.status) << c.what;
        EXPECT_EQ(listOf(result.statusTexts).size(), c.status ? 1u : 0u) << c.what;
        EXPECT_EQ(result.issuedCertificates.tail, nullptr) << c.what;
        SGCMPResult_Reset(&result);
        EXPECT_EQ(ca.requests().size(), 1u) << c.what;
    }
}

TEST_F(CMP, ReplySignaturesAreCheckedWithTheDigestTheyName) {
    const Bytes sha384 = seq({oid("1.2.840.113549.1.1.12"), null()});
    const Bytes sha512 = seq({oid("1.2.840.113549.1.1.13"), null()});
    struct Case {
        const char* what;
        const Bytes& algorithm;
        const char* digest;  // what openssl signs with
        int expected;
    };
    const Case cases[] = {
        {"sha384WithRSAEncryption", sha384, "-sha384", 0},
        {"sha512WithRSAEncryption", sha512, "-sha512", 0},
        {"sha384 named, SHA-256 signed", sha384, "-sha256", SG_CMP_ERR_SIGNATURE},
        {"sha512 named, SHA-384 signed", sha512, "-sha384", SG_CMP_ERR_SIGNATURE},
    };
    for (const Case& c : cases) {
        ScriptedCA ca({reply([&](const Bytes& r) {
            Decoded<PKIMessage_t> m(&asn_DEF_PKIMessage, r);
            return signedMessage(rpBody({0, 0}), bytesOf(*m->header.senderNonce),
                                 pkiDir() / "ca.key", caCert(), c.algorithm, c.digest);
        })});
        SGCMPParameter p = parameters(ca);
        OldKeys pair({"sign", "km"});
        SGCMPResult result{};
        EXPECT_EQ(SGCMP_Revoke(&result, &pair.certs, &pair.keys, &p, 1), c.expected) << c.what;
        SGCMPResult_Reset(&result);
        EXPECT_EQ(ca.failure(), "") << c.what;
    }
}

TEST_F(CMP, RevokeCountsOnlyARepliesSignedByATrustedAuthority) {
    struct Case {
        const char* what;
        std::function<Bytes(const Bytes&)> rp;
        bool caInStorage;
        int expected;
    };
    const fs::path caKey = pkiDir() / "ca.key";
    const Case cases[] = {
        {"signed, the signer in extraCerts",
         [&](const Bytes& r) {
             Decoded<PKIMessage_t> m(&asn_DEF_PKIMessage, r);
             return signedMessage(rpBody(0), bytesOf(*m->header.senderNonce), caKey, caCert());
         },
         false, 0},
        {"signed, the signer found as the issuer in the storage",
         [&](const Bytes&) { return signedMessage(rpBody(0), {}, caKey); }, true, 0},
        {"signed by a key that is no authority's",
         [&](const Bytes&) {
             return signedMessage(rpBody(0), {}, pkiDir() / "sign.key",
                                  testkit::readBytes(pkiDir() / "sign.der"));
         },
         false, SG_CMP_ERR_SIGNATURE},
        {"signed by a user whose certificate leads to the trusted root",
         [&](const Bytes&) {
             return signedMessage(rpBody(0), {}, pkiDir() / "km.key",
                                  testkit::readBytes(pkiDir() / "km.der"));
         },
         true, SG_CMP_ERR_SIGNATURE},
        {"unprotected",
         [](const Bytes&) {
             return seq({replyHeader({}, {}, {}), rpBody(0)});
         },
         false, SG_CMP_ERR_SIGNATURE},
        {"refused", [&](const Bytes&) { return signedMessage(rpBody(2), {}, caKey, caCert()); },
         false, SG_CMP_ERR_REJECTED},
    };
    for (const Case& c : cases) {
        const bool withCa = c.caInStorage;
        if (withCa) fs::copy_file(pkiDir() / "ca.der", npkiDir() / "KISA" / "ca.der");
        ScriptedCA ca({reply(c.rp)});
        SGCMPParameter p = parameters(ca);
        OldKeys old;
        SGCMPResult result{};
        EXPECT_EQ(SGCMP_Revoke(&result, &old.certs, &old.keys, &p, 1), c.expected) << c.what;
        SGCMPResult_Reset(&result);
        if (withCa) fs::remove(npkiDir() / "KISA" / "ca.der");
        const auto& requests = ca.requests();
        ASSERT_EQ(requests.size(), 1u) << c.what;
        Decoded<PKIMessage_t> rr(&asn_DEF_PKIMessage, requests[0]);
        ASSERT_TRUE(rr.value);
        EXPECT_EQ(rr->body->present, PKIBody_PR_rr) << c.what;  // no genm before it
        EXPECT_TRUE(signedByOldKey(requests[0])) << c.what;
        EXPECT_EQ(ca.failure(), "");
    }
}

TEST_F(CMP, UpdateSignsWithTheOldKeyAndReadsASignedKup) {
    Seen seen;
    ScriptedCA ca({
        reply([](const Bytes&) {
            return signedMessage(genpBody(caCert()), {}, pkiDir() / "ca.key");
        }),
        reply([&](const Bytes& r) {
            return signedMessage(answerRequests(r, seen, 8), seen.nonce, pkiDir() / "ca.key");
        }),
        raw(frame({}, 3)),
    });
    SGCMPParameter p = parameters(ca);
    OldKeys old;
    ASSERT_EQ(SG_SERVICE_FN(Service, SGCMP_Update)(&result_, &old.certs, &old.keys, &p), 0)
        << ca.failure();
    const auto& requests = ca.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(signedByOldKey(requests[1]));
    Decoded<PKIMessage_t> kur(&asn_DEF_PKIMessage, requests[1]);
    ASSERT_TRUE(kur.value);
    ASSERT_EQ(kur->body->present, PKIBody_PR_kur);
    // oldCertID names the old certificate: issuer and serial 03.
    const CertReqMsg_t* msg = kur->body->choice.kur.list.array[0];
    ASSERT_TRUE(msg->certReq.controls);
    const Bytes certId = bytesOf(msg->certReq.controls->list.array[0]->value);
    EXPECT_EQ(hexOf(certId), hexOf(seq({ctx(4, caName()), integer(3)})));
    EXPECT_EQ(seen.popoVerified, 1);
    EXPECT_EQ(listOf(result_.issuedCertificates), seen.certs);
}

TEST_F(CMP, RecoverReadsTheKeyPairHistoryOfAKrp) {
    Seen seen;
    ScriptedCA ca({
        reply([](const Bytes&) { return macMessage(genpBody(caCert()), {}, {}); }),
        reply([&](const Bytes& r) {
            answerRequests(r, seen, 1);  // the checks of the krr's request
            const Bytes pair = seq({ctx(1, encryptedCert(seen.certs[0], seen.spkis[0]))});
            const Bytes krp =
                ctx(10, seq({statusInfo(0), ctx(1, seq({caCert()})), ctx(2, seq({pair}))}));
            return macMessage(krp, seen.nonce, {});
        }),
        raw(frame({}, 3)),
    });
    SGCMPParameter p = parameters(ca);
    ASSERT_EQ(SG_SERVICE_FN(Service, SGCMP_Recover)(&result_, kRefNum, kCode, &p), 0)
        << ca.failure();
    const auto& requests = ca.requests();
    ASSERT_EQ(requests.size(), 3u);
    Decoded<PKIMessage_t> krr(&asn_DEF_PKIMessage, requests[1]);
    ASSERT_TRUE(krr.value);
    EXPECT_EQ(krr->body->present, PKIBody_PR_krr);
    EXPECT_EQ(seen.popoVerified, 1);
    EXPECT_TRUE(seen.vidVerified);
    EXPECT_EQ(listOf(result_.issuedCertificates), seen.certs);
    EXPECT_EQ(listOf(result_.caCertificates), std::vector<Bytes>{caCert()});
    ASSERT_TRUE(result_.privateKeys);
    EXPECT_EQ(publicOfKey(listOf(*result_.privateKeys)[0]), publicOfCert(seen.certs[0]));
}

TEST_F(CMP, IrCarriesTheRegInfoMarkerAndTheLowerSpecKeyId) {
    ScriptedCA ca({reply([](const Bytes&) { return macMessage(genpBody(caCert()), {}, {}); }),
                   closeAfterRead()});
    SGCMPParameter p = parameters(ca);  // lower-spec
    p.regInfoMarker = 1;
    EXPECT_EQ(SGCMP_Issue(&result_, kRefNum, kCode, &p), SG_CMP_ERR_CLOSED);
    const auto& requests = ca.requests();
    ASSERT_EQ(requests.size(), 2u);
    Decoded<PKIMessage_t> ir(&asn_DEF_PKIMessage, requests[1]);
    ASSERT_TRUE(ir.value);
    ASSERT_EQ(ir->body->present, PKIBody_PR_ir);
    ASSERT_TRUE(ir->header.recipKID);
    EXPECT_EQ(
        std::string(reinterpret_cast<char*>(ir->header.recipKID->buf), ir->header.recipKID->size),
        "lowerspec;101029");
    ASSERT_TRUE(ir->header.senderNonce);
    EXPECT_EQ(ir->header.senderNonce->size, 16);
    // One request (no km_key_gen setting), id 0, with the encrypted VID and the marker.
    ASSERT_EQ(ir->body->choice.ir.list.count, 1);
    const CertReqMsg_t* msg = ir->body->choice.ir.list.array[0];
    ASSERT_TRUE(msg->regInfo);
    ASSERT_EQ(msg->regInfo->list.count, 2);
    char dotted[64];
    SGASN1CObjectIdentifier_ToString(dotted, sizeof dotted, &msg->regInfo->list.array[0]->type);
    EXPECT_STREQ(dotted, "1.2.410.200004.10.1.1.2");
    SGASN1CObjectIdentifier_ToString(dotted, sizeof dotted, &msg->regInfo->list.array[1]->type);
    EXPECT_STREQ(dotted, "1.2.410.200004.10.1.2");
    EXPECT_EQ(hexOf(bytesOf(msg->regInfo->list.array[1]->value)), "0500");
    // The 1024-bit key of the lower-spec flag.
    const Bytes spki = encoded(&asn_DEF_SubjectPublicKeyInfo, msg->certReq.certTemplate.publicKey);
    EXPECT_TRUE(testkit::succeeds("openssl pkey -pubin -inform DER -in " + file(spki) +
                                  " -noout -text | grep -q 'Public-Key: (1024 bit)'"));
}

// --- Headers by CA kind, operation and flags ----------------------------------------------------

TEST_F(CMP, HeadersFollowTheKindOperationAndFlags) {
    struct Case {
        int kind;
        int operation;
        int shortUpdate, oldKey, makeKM;
        const char* tag;
        const char* senderCN;  // null: the old certificate's subject
        const char* senderKID;
        const char* recipKID;  // null: none
    };
    const Case cases[] = {
        {1, 1, 0, 0, 0, "QV_NEW_MAC", "QV_NA_NEW", kRefNum, "101029"},
        {2, 1, 0, 0, 0, "QV_NEW_MAC", "", kRefNum, nullptr},
        {1, 4, 0, 0, 0, "QV_NEW_MAC", "QV_NA_NEW", kRefNum, "101029"},
        {1, 2, 0, 0, 0, "QV_NA_RENEW", nullptr, "3", "101029"},
        {1, 2, 1, 0, 0, "SK_KUP", nullptr, "3", "101029"},
        {2, 2, 0, 0, 1, "makekmcert", nullptr, "03", nullptr},
        {3, 2, 0, 0, 0, "QV_UPDATE_MAC", nullptr, "3", nullptr},
        {1, 3, 0, 0, 0, "QV_NA_REVOKE", nullptr, nullptr, "101029"},
        {2, 3, 0, 0, 0, "QV_REVOKE_MAC", nullptr, nullptr, nullptr},
    };
    // The old certificate's subject, as its DER carries it.
    const Bytes signSubject = name({{atv("2.5.4.6", printable("KR"))},
                                    {atv("2.5.4.10", utf8("Brindlow Test"))},
                                    {atv("2.5.4.11", utf8("personal"))},
                                    {atv("2.5.4.3", utf8("Hong Gildong()0001"))}});
    for (const Case& c : cases) {
        ScriptedCA ca({closeAfterRead()});
        SGCMPParameter p = parameters(ca, c.kind);
        p.shortUpdate = c.shortUpdate;
        p.oldKey = c.oldKey;
        p.makeKMCertificate = c.makeKM;
        p.lowerSpec = 0;
        OldKeys old;
        SGCMPResult result{};
        int r = 0;
        if (c.operation == 1) r = SGCMP_Issue(&result, kRefNum, kCode, &p);
        if (c.operation == 2) r = SGCMP_Update(&result, &old.certs, &old.keys, &p);
        if (c.operation == 3) r = SGCMP_Revoke(&result, &old.certs, &old.keys, &p, 0);
        if (c.operation == 4) r = SGCMP_Recover(&result, kRefNum, kCode, &p);
        EXPECT_EQ(r, SG_CMP_ERR_CLOSED);
        const auto& requests = ca.requests();
        ASSERT_EQ(requests.size(), 1u);
        Decoded<PKIMessage_t> m(&asn_DEF_PKIMessage, requests[0]);
        ASSERT_TRUE(m.value);
        const std::string where = std::string(c.tag) + " kind " + std::to_string(c.kind);
        long pvno = -1;
        SGASN1CInteger_Get(&pvno, &m->header.pvno);
        EXPECT_EQ(pvno, 0) << where;
        EXPECT_EQ(texts(m->header.freeText), std::vector<std::string>{c.tag}) << where;
        ASSERT_EQ(m->header.sender.present, GeneralName_PR_directoryName) << where;
        ASSERT_EQ(m->header.recipient.present, GeneralName_PR_directoryName) << where;
        const Bytes sender = encoded(&asn_DEF_Name, &m->header.sender.choice.directoryName);
        if (c.senderCN) {
            const Bytes expected = std::string(c.senderCN).empty()
                                       ? seq({})
                                       : name({{atv("2.5.4.3", utf8(c.senderCN))}});
            EXPECT_EQ(hexOf(sender), hexOf(expected)) << where;
        } else {
            EXPECT_EQ(hexOf(sender), hexOf(signSubject)) << where;
        }
        // The recipient: the issuer of the old certificate for kind 2 updates and revokes, else
        // the empty name.
        const Bytes recipient = encoded(&asn_DEF_Name, &m->header.recipient.choice.directoryName);
        const bool issuerRecipient = c.kind == 2 && (c.operation == 2 || c.operation == 3);
        EXPECT_EQ(hexOf(recipient), hexOf(issuerRecipient ? caName() : seq({}))) << where;
        if (c.senderKID)
            EXPECT_EQ(m->header.senderKID
                          ? std::string(reinterpret_cast<char*>(m->header.senderKID->buf),
                                        m->header.senderKID->size)
                          : "",
                      c.senderKID)
                << where;
        else
            EXPECT_EQ(m->header.senderKID, nullptr) << where;
        if (c.recipKID)
            EXPECT_EQ(m->header.recipKID
                          ? std::string(reinterpret_cast<char*>(m->header.recipKID->buf),
                                        m->header.recipKID->size)
                          : "",
                      c.recipKID)
                << where;
        else
            EXPECT_EQ(m->header.recipKID, nullptr) << where;
        EXPECT_EQ(m->body->present, c.operation == 3 ? PKIBody_PR_rr : PKIBody_PR_genm) << where;
        SGCMPResult_Reset(&result);
    }
}

}  // namespace
