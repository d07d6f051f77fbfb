// PKCS #12 files: openssl's files in the forms it writes read here (MAC, bags, attributes, keys
// under every PKCS #12 scheme and PBES2), the refusals, the files written here read back here and
// by openssl, Hangul and long passwords in both directions, and hand-made damage (MAC length,
// salt, iteration counts, attributes, safe indexes).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DerBuilder.h"
#include "MacData.h"
#include "PFX.h"
#include "PkiCache.h"
#include "SGASN1C.h"
#include "SGBinary.h"
#include "SGPKCS12.h"
#include "SGPKCS12Internal.h"
#include "SGPKCS5.h"
#include "SGServiceTable.h"
#include "TestKit.h"

namespace {

namespace fs = std::filesystem;
using testkit::Bytes;

const std::string kPassword = "q1w2e3r4!@";
const std::string kHangulPassword = "비밀번호1!";
const std::string kName = "홍길동";

const fs::path& material() {
    static const fs::path folder = testkit::cachedPki("pkcs12");
    return folder;
}
Bytes file(const std::string& name) {
    return testkit::readBytes(material() / name);
}

SGBinary view(const Bytes& b) {
    return SGBinary{const_cast<unsigned char*>(b.data()), static_cast<uint32_t>(b.size())};
}
SGBinary view(const std::string& s) {
    return SGBinary{reinterpret_cast<unsigned char*>(const_cast<char*>(s.data())),
                    static_cast<uint32_t>(s.size())};
}
Bytes bytesOf(const SGBinary* b) {
    return b ? Bytes(b->data, b->data + b->length) : Bytes{};
}
std::string textOf(const SGBinary* b) {
    return b ? std::string(reinterpret_cast<const char*>(b->data), b->length) : std::string();
}

// A PFX that clears itself.
struct Pfx {
    SGPKCS12PFX p{};
    ~Pfx() { SGPKCS12PFX_Clear(&p); }
    int decode(const Bytes& der, const std::string& password = kPassword) {
        SGPKCS12PFX_Clear(&p);
        const SGBinary in = view(der), pw = view(password);
        return SGPKCS12PFX_Decode(&p, &in, &pw);
    }
    int encode(Bytes* out, const std::string& password = kPassword) {
        SGBinary der{};
        const SGBinary pw = view(password);
        const int r = SGPKCS12PFX_Encode(&der, &p, &pw, nullptr);
        *out = bytesOf(&der);
        SGBinary_Reset(&der);
        return r;
    }
};

// The outputs of SGPKCS12PFX_GetCertificateAndKey.
struct Pair {
    int result = -1;
    Bytes key, certificate;
    std::vector<Bytes> chain;
};
Pair pairOf(const SGPKCS12PFX& pfx, int index) {
    SGBinary key{}, certificate{};
    SGBinaryList* chain = SGBinaryList_New();
    Pair p;
    p.result = SGPKCS12PFX_GetCertificateAndKey(&key, &certificate, chain, &pfx, index);
    p.key = bytesOf(&key);
    p.certificate = bytesOf(&certificate);
    if (chain->tail)
        for (const SGBinaryList* n = chain; n; n = n->next) p.chain.push_back(bytesOf(&n->value));
    SGBinary_Cleanse(&key);
    SGBinary_Reset(&certificate);
    SGBinaryList_Free(chain);
    return p;
}

// The localKeyId openssl writes: the SHA-1 of the certificate.
Bytes opensslKeyId(const std::string& pem) {
    std::string out = testkit::run("openssl x509 -noout -fingerprint -sha1 -in " +
                                   testkit::quote((material() / pem).string()));
    return testkit::unhex(out.substr(out.find('=') + 1));
}

int countCertificates(const std::string& pem) {
    int n = 0;
    for (size_t at = 0; (at = pem.find("BEGIN CERTIFICATE", at)) != std::string::npos; ++at) ++n;
    return n;
}

class PKCS12 : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(SGServiceWrapper_GetList(Service), 0);
        ASSERT_FALSE(material().empty()) << "the pkcs12 recipe failed";
    }
};

// ------------------------------------------------------------------------------------------------
// Reading openssl's files.

// Every form of the files openssl writes that the library reads: certificates in data or in
// EncryptedData under each PKCS #12 scheme, keys shrouded under each scheme or PBES2, or plain.
const char* const kReadable[] = {"a.p12",
                                 "b.p12",
                                 "c.p12",
                                 "d.p12",
                                 "e.p12",
                                 "en.p12",
                                 "f-key-2des.p12",
                                 "f-key-rc2-128.p12",
                                 "f-key-rc2-40.p12",
                                 "f-key-rc4-128.p12",
                                 "fn-key-2des.p12",
                                 "fn-key-rc2-128.p12",
                                 "fn-key-rc2-40.p12",
                                 "fn-key-rc4-128.p12",
                                 "f-cert-rc2-128.p12",
                                 "f-cert-rc4-128.p12",
                                 "g.p12"};

TEST_F(PKCS12, OpensslFilesDecodeIntoOneSafePerBagWithKeyCertificateAndChain) {
    const Bytes key = file("key.der"), sign = file("sign.der");
    const Bytes root = file("root.der"), ca = file("ca.der");
    const Bytes keyId = opensslKeyId("sign.pem");
    ASSERT_EQ(keyId.size(), 20u);
    for (const char* name : kReadable) {
        SCOPED_TRACE(name);
        Pfx pfx;
        ASSERT_EQ(pfx.decode(file(name)), 0);
        ASSERT_EQ(pfx.p.count, 4);  // three certificates and the key
        int keys = 0, certificates = 0;
        for (int i = 0; i < pfx.p.count; ++i) {
            const SGPKCS12SafeBag& bag = pfx.p.safes[i];
            EXPECT_EQ(bag.next, nullptr);
            if (bag.bagType == SG_PKCS12_BAG_CERTIFICATE) ++certificates;
            if (bag.bagType == SG_PKCS12_BAG_KEY || bag.bagType == SG_PKCS12_BAG_SHROUDED_KEY) {
                ++keys;
                ASSERT_NE(bag.decoded, nullptr);
                if (bag.bagType == SG_PKCS12_BAG_SHROUDED_KEY)
                    EXPECT_EQ(bag.value, nullptr) << "the encrypted form is released once decoded";
                ASSERT_NE(bag.attributes, nullptr);
                EXPECT_EQ(bytesOf(bag.attributes->localKeyId), keyId);
            }
        }
        EXPECT_EQ(keys, 1);
        EXPECT_EQ(certificates, 3);

        const Pair p = pairOf(pfx.p, 0);
        ASSERT_EQ(p.result, 0);
        EXPECT_EQ(p.key, key);
        EXPECT_EQ(p.certificate, sign);
        ASSERT_EQ(p.chain.size(), 2u);
        EXPECT_EQ(p.chain[0], root);
        EXPECT_EQ(p.chain[1], ca);
        // One end-entity certificate: index 1 selects nothing, so callers' loops end.
        EXPECT_EQ(pairOf(pfx.p, 1).result, 10009);
        EXPECT_EQ(pairOf(pfx.p, -1).result, 10009);
    }
}

TEST_F(PKCS12, FriendlyNameReadsAsUtf8AndSitsWithTheLocalKeyIdOnKeyAndEndEntity) {
    Pfx pfx;
    ASSERT_EQ(pfx.decode(file("a.p12")), 0);
    const Bytes keyId = opensslKeyId("sign.pem"), sign = file("sign.der");
    for (int i = 0; i < pfx.p.count; ++i) {
        const SGPKCS12SafeBag& bag = pfx.p.safes[i];
        const bool endEntity =
            bag.bagType != SG_PKCS12_BAG_CERTIFICATE || bytesOf(bag.value) == sign;
        if (!endEntity) {
            EXPECT_EQ(bag.attributes, nullptr);
            continue;
        }
        ASSERT_NE(bag.attributes, nullptr);
        EXPECT_EQ(textOf(bag.attributes->friendlyName), kName);
        EXPECT_EQ(bytesOf(bag.attributes->localKeyId), keyId);
        SGBinary name{};
        EXPECT_EQ(SGPKCS12Attribute_GetValue(&name, bag.attributes, 2), 0);
        EXPECT_EQ(textOf(&name), kName);
        SGBinary_Reset(&name);
    }
}

TEST_F(PKCS12, WrongPasswordGivesMacMismatchAndNoOutput) {
    Pfx pfx;
    EXPECT_EQ(pfx.decode(file("a.p12"), "q1w2e3r4!#"), 10503);
    EXPECT_EQ(pfx.p.count, 0);
    EXPECT_EQ(pfx.p.safes, nullptr);
}

TEST_F(PKCS12, RefusedFilesGiveTheirCodes) {
    struct Case {
        const char* file;
        int code;
    } cases[] = {
        {"h.p12", 10003},  // SHA-256 MAC, OpenSSL 3's default
        {"i.p12", 10107},  // certificates in a PBES2 EncryptedData
        {"j.p12", 20906},  // a third bag attribute, outside the OID table
        {"jn.p12", 20906},
    };
    for (const Case& c : cases) {
        Pfx pfx;
        EXPECT_EQ(pfx.decode(file(c.file)), c.code) << c.file;
        EXPECT_EQ(pfx.p.count, 0) << c.file;
    }
}

TEST_F(PKCS12, LongAndHangulPasswordsOfOpensslFilesOpen) {
    const std::string longPassword = testkit::readText(material() / "long.txt");
    ASSERT_EQ(longPassword.size(), 100u);
    const Bytes key = file("key.der");
    struct Case {
        const char* file;
        std::string password;
    } cases[] = {{"long.p12", longPassword},
                 {"longn.p12", longPassword},
                 {"hangul.p12", kHangulPassword},
                 {"hanguln.p12", kHangulPassword}};
    for (const Case& c : cases) {
        Pfx pfx;
        ASSERT_EQ(pfx.decode(file(c.file), c.password), 0) << c.file;
        EXPECT_EQ(pairOf(pfx.p, 0).key, key) << c.file;
    }
}

// ------------------------------------------------------------------------------------------------
// Writing.

struct Written {
    Bytes der;
    Bytes keyId;
};

// AddCertificateAndKey of the chain's signing pair with the CA certificates, then Encode.
Written writePair(int flags, const std::string& password = kPassword,
                  const SGBinary* friendlyName = nullptr) {
    const Bytes key = file("key.der"), sign = file("sign.der");
    const Bytes root = file("root.der"), ca = file("ca.der");
    SGBinaryList* cas = SGBinaryList_New();
    const SGBinary r = view(root), c = view(ca);
    SGBinaryList_Add(cas, &r);
    SGBinaryList_Add(cas, &c);
    Pfx pfx;
    const SGBinary k = view(key), s = view(sign);
    Written w;
    EXPECT_EQ(
        SGPKCS12PFX_AddCertificateAndKey(&pfx.p, flags, &k, &s, 0, cas, nullptr, friendlyName), 0);
    SGBinaryList_Free(cas);
    EXPECT_EQ(pfx.p.count, 2);
    if (pfx.p.count == 2 && pfx.p.safes[0].attributes)
        w.keyId = bytesOf(pfx.p.safes[0].attributes->localKeyId);
    EXPECT_EQ(pfx.encode(&w.der, password), 0);
    return w;
}

std::string opensslInfo(const fs::path& p12, const std::string& password,
                        const std::string& options, bool* ok) {
    std::string out;
    *ok = testkit::succeeds("openssl pkcs12 -in " + testkit::quote(p12.string()) + " -passin " +
                                testkit::quote("pass:" + password) + " " + options,
                            &out);
    return out;
}

TEST_F(PKCS12, WrittenPairReadsBackHereAndInOpenssl) {
    for (int flags : {0, 1}) {
        SCOPED_TRACE(flags);
        const Written w = writePair(flags);
        ASSERT_FALSE(w.der.empty());
        ASSERT_EQ(w.keyId.size(), 20u);

        Pfx back;
        ASSERT_EQ(back.decode(w.der), 0);
        ASSERT_EQ(back.p.count, 4);  // one safe per bag once read
        const Bytes sign = file("sign.der");
        for (int i = 0; i < back.p.count; ++i) {
            const SGPKCS12SafeBag& bag = back.p.safes[i];
            const bool carriesId =
                bag.bagType == SG_PKCS12_BAG_SHROUDED_KEY || bytesOf(bag.value) == sign;
            if (!carriesId) {
                EXPECT_EQ(bag.attributes, nullptr) << "CA certificates carry no localKeyId";
                continue;
            }
            ASSERT_NE(bag.attributes, nullptr);
            EXPECT_EQ(bytesOf(bag.attributes->localKeyId), w.keyId);
            EXPECT_EQ(textOf(bag.attributes->friendlyName),
                      "CN=Hong Gildong()0001, OU=personal, O=Brindlow Test, C=KR");
        }
        const Pair p = pairOf(back.p, 0);
        ASSERT_EQ(p.result, 0);
        EXPECT_EQ(p.key, file("key.der"));
        EXPECT_EQ(p.certificate, sign);
        EXPECT_EQ(p.chain.size(), 2u);

        testkit::Scratch scratch;
        testkit::writeBytes(scratch / "ours.p12", w.der);
        bool ok = false;
        const std::string info = opensslInfo(scratch / "ours.p12", kPassword, "-info -nodes", &ok);
        ASSERT_TRUE(ok) << info;
        EXPECT_NE(info.find("MAC: sha1, Iteration 2048"), std::string::npos) << info;
        EXPECT_NE(info.find("pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 1024"), std::string::npos)
            << info;
        EXPECT_EQ(countCertificates(info), 3);
        // The key openssl takes out is ours, byte for byte as PrivateKeyInfo.
        const std::string keyPem = (scratch / "k.pem").string();
        ASSERT_TRUE(testkit::succeeds(
            "openssl pkcs12 -in " + testkit::quote((scratch / "ours.p12").string()) + " -passin " +
            testkit::quote("pass:" + kPassword) + " -nodes -nocerts -out " +
            testkit::quote(keyPem) + " && openssl pkcs8 -topk8 -nocrypt -in " +
            testkit::quote(keyPem) + " -outform DER -out " + testkit::quote(keyPem + ".der")));
        EXPECT_EQ(testkit::readBytes(keyPem + ".der"), file("key.der"));
        // Flags 1 puts both safes in EncryptedData under the three-key triple DES.
        const size_t encrypted =
            info.find("PKCS7 Encrypted data: pbeWithSHA1And3-KeyTripleDES-CBC");
        EXPECT_EQ(encrypted != std::string::npos, flags == 1) << info;
    }
}

TEST_F(PKCS12, Rsa8192KeyIsWrittenAndOpensslReadsIt) {
    const fs::path big = testkit::cachedPki("pkcs12", {"rsa8192"});
    ASSERT_FALSE(big.empty());
    const Bytes key = testkit::readBytes(big / "big.der");
    const Bytes certificate = testkit::readBytes(big / "big-cert.der");
    ASSERT_GT(key.size(), 4600u);
    Pfx pfx;
    const SGBinary k = view(key), c = view(certificate);
    ASSERT_EQ(SGPKCS12PFX_AddCertificateAndKey(&pfx.p, 0, &k, &c, 0, nullptr, nullptr, nullptr), 0);
    Bytes der;
    ASSERT_EQ(pfx.encode(&der), 0);
    Pfx back;
    ASSERT_EQ(back.decode(der), 0);
    EXPECT_EQ(pairOf(back.p, 0).key, key);
    testkit::Scratch scratch;
    testkit::writeBytes(scratch / "big.p12", der);
    const std::string keyPem = (scratch / "k.pem").string();
    ASSERT_TRUE(testkit::succeeds(
        "openssl pkcs12 -in " + testkit::quote((scratch / "big.p12").string()) + " -passin " +
        testkit::quote("pass:" + kPassword) + " -nodes -nocerts -out " + testkit::quote(keyPem) +
        " && openssl pkcs8 -topk8 -nocrypt -in " + testkit::quote(keyPem) + " -outform DER -out " +
        testkit::quote(keyPem + ".der")));
    EXPECT_EQ(testkit::readBytes(keyPem + ".der"), key);
}

TEST_F(PKCS12, EncryptedSafesNeedAPassword) {
    const Bytes key = file("key.der"), sign = file("sign.der");
    const SGBinary k = view(key), s = view(sign);
    Pfx pfx;
    ASSERT_EQ(SGPKCS12PFX_AddCertificateAndKey(&pfx.p, 1, &k, &s, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(pfx.p.safes[0].flags, 1 | 4);
    EXPECT_EQ(pfx.p.safes[1].flags, 1);
    SGBinary out{};
    int option = 0;
    const SGBinary empty{};
    EXPECT_EQ(SGPKCS12PFX_Encode(&out, &pfx.p, nullptr, nullptr), 10001);
    EXPECT_EQ(SGPKCS12PFX_Encode(&out, &pfx.p, &empty, &option), 10111);
    EXPECT_EQ(SGPKCS12PFX_Encode(&out, &pfx.p, &empty, nullptr), 10010);
    EXPECT_EQ(out.length, 0u);
    // With a password both safes are encrypted and read back.
    Bytes der;
    ASSERT_EQ(pfx.encode(&der), 0);
    Pfx back;
    ASSERT_EQ(back.decode(der), 0);
    EXPECT_EQ(back.p.count, 2);
    EXPECT_EQ(pairOf(back.p, 0).key, key);
    EXPECT_EQ(back.decode(der, "wrong"), 10503);
}

TEST_F(PKCS12, EncodingTwiceKeepsTheKeyShroudedOnce) {
    const Bytes key = file("key.der"), sign = file("sign.der");
    Pfx pfx;
    const SGBinary k = view(key), s = view(sign);
    ASSERT_EQ(SGPKCS12PFX_AddCertificateAndKey(&pfx.p, 0, &k, &s, 0, nullptr, nullptr, nullptr), 0);
    Bytes first, second;
    ASSERT_EQ(pfx.encode(&first), 0);
    ASSERT_EQ(pfx.encode(&second), 0);
    for (const Bytes* der : {&first, &second}) {
        Pfx back;
        ASSERT_EQ(back.decode(*der), 0);
        EXPECT_EQ(pairOf(back.p, 0).key, key);
    }
    // A decoded PFX written again keeps its key too.
    Pfx back;
    ASSERT_EQ(back.decode(second), 0);
    Bytes third;
    ASSERT_EQ(back.encode(&third), 0);
    Pfx again;
    ASSERT_EQ(again.decode(third), 0);
    EXPECT_EQ(pairOf(again.p, 0).key, key);
}

TEST_F(PKCS12, HangulPasswordKeepsTheWidenedFormWhenWrittenAndOpenInBothForms) {
    for (int flags : {0, 1}) {
        SCOPED_TRACE(flags);
        const Written w = writePair(flags, kHangulPassword);
        Pfx back;
        ASSERT_EQ(back.decode(w.der, kHangulPassword), 0);
        EXPECT_EQ(pairOf(back.p, 0).key, file("key.der"));
        // The widened form is not the standard one: openssl opens ours only through its fallback.
        testkit::Scratch scratch;
        testkit::writeBytes(scratch / "ours.p12", w.der);
        bool ok = false;
        const std::string info = opensslInfo(scratch / "ours.p12", kHangulPassword, "-nodes", &ok);
        EXPECT_TRUE(ok) << info;
        EXPECT_NE(info.find("Warning: using broken algorithm"), std::string::npos) << info;
        EXPECT_NE(info.find("PRIVATE KEY"), std::string::npos) << info;
        EXPECT_EQ(countCertificates(info), 3) << info;
    }
}

TEST_F(PKCS12, DefaultFriendlyNameIsCutAtACharacterBoundary) {
    // A subject of three RDNs of 40 Hangul syllables each (a common name holds at most 64
    // characters): its text runs past 300 bytes, which fall inside the 16th syllable of O.
    std::string syllables;
    for (int i = 0; i < 40; ++i) syllables += "가";
    testkit::Scratch scratch;
    const std::string pem = (scratch / "long.der").string();
    ASSERT_TRUE(testkit::succeeds(
        "openssl req -new -x509 -utf8 -key " + testkit::quote((material() / "sign.key").string()) +
        " -subj " + testkit::quote("/O=x" + syllables + "/OU=" + syllables + "/CN=" + syllables) +
        " -days 30 -outform DER -out " + testkit::quote(pem)));
    const Bytes certificate = testkit::readBytes(pem), key = file("key.der");
    Pfx pfx;
    const SGBinary k = view(key), c = view(certificate);
    ASSERT_EQ(SGPKCS12PFX_AddCertificateAndKey(&pfx.p, 0, &k, &c, 0, nullptr, nullptr, nullptr), 0);
    const SGBinary* name = pfx.p.safes[1].attributes->friendlyName;
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(textOf(name),
              "CN=" + syllables + ", OU=" + syllables + ", O=x" + syllables.substr(0, 45));
    Bytes der;
    EXPECT_EQ(pfx.encode(&der), 0);
}

TEST_F(PKCS12, AddingRefusesBadArgumentsAndKeyForms) {
    const Bytes key = file("key.der"), sign = file("sign.der");
    const SGBinary k = view(key), s = view(sign);
    Pfx pfx;
    EXPECT_EQ(SGPKCS12PFX_AddCertificateAndKey(nullptr, 0, &k, &s, 0, nullptr, nullptr, nullptr),
              10001);
    EXPECT_EQ(
        SGPKCS12PFX_AddCertificateAndKey(&pfx.p, 0, nullptr, &s, 0, nullptr, nullptr, nullptr),
        10001);
    EXPECT_EQ(
        SGPKCS12PFX_AddCertificateAndKey(&pfx.p, 0, &k, nullptr, 0, nullptr, nullptr, nullptr),
        10001);
    EXPECT_EQ(SGPKCS12PFX_AddCertificateAndKey(&pfx.p, 0, &k, &s, 1, nullptr, nullptr, nullptr),
              10506);
    // The certificate is no key: refused, and nothing is left behind.
    EXPECT_EQ(SGPKCS12PFX_AddCertificateAndKey(&pfx.p, 0, &s, &s, 0, nullptr, nullptr, nullptr),
              10016);
    EXPECT_EQ(pfx.p.count, 0);
    EXPECT_EQ(SGPKCS12PFX_AddPKCS8ShroudedKey(&pfx.p, 0, 0, &k, nullptr, nullptr), 10017);
    EXPECT_EQ(SGPKCS12PFX_AddPKCS8ShroudedKey(&pfx.p, 0, 4, &s, nullptr, nullptr), 10016);
    for (int index : {-1, INT32_MIN, static_cast<int>(SG_PKCS12_MAX_SAFES), INT32_MAX})
        EXPECT_EQ(SGPKCS12PFX_AddCertificate(&pfx.p, index, 0, &s, nullptr, nullptr), 10009)
            << index;
    EXPECT_EQ(pfx.p.count, 0);
    // Bags of one safe chain in order; a later index grows the array with empty safes.
    ASSERT_EQ(SGPKCS12PFX_AddCertificate(&pfx.p, 0, 0, &s, nullptr, nullptr), 0);
    ASSERT_EQ(SGPKCS12PFX_AddKey(&pfx.p, 0, 0, &k, nullptr, nullptr), 0);
    ASSERT_EQ(SGPKCS12PFX_AddCertificate(&pfx.p, 2, 0, &s, nullptr, nullptr), 0);
    ASSERT_EQ(pfx.p.count, 3);
    EXPECT_EQ(pfx.p.safes[0].bagType, SG_PKCS12_BAG_CERTIFICATE);
    ASSERT_NE(pfx.p.safes[0].next, nullptr);
    EXPECT_EQ(pfx.p.safes[0].next->bagType, SG_PKCS12_BAG_KEY);
    EXPECT_EQ(pfx.p.safes[1].bagType, 0);
    Bytes der;
    EXPECT_EQ(pfx.encode(&der), 10003) << "an empty safe has no bag to write";
    EXPECT_TRUE(der.empty());
}

TEST_F(PKCS12, SelectionEdgeCases) {
    const Bytes key = file("key.der"), sign = file("sign.der"), km = file("km.der");
    const Bytes root = file("root.der"), ca = file("ca.der");
    const SGBinary k = view(key), s = view(sign), m = view(km), r = view(root), c = view(ca);
    const Bytes id1(20, 0x11), id2(20, 0x22);
    const SGBinary i1 = view(id1), i2 = view(id2);
    {
        // A certificate whose key the file lacks: the certificate and an empty key.
        Pfx pfx;
        ASSERT_EQ(SGPKCS12PFX_AddCertificate(&pfx.p, 0, 0, &s, &i1, nullptr), 0);
        ASSERT_EQ(SGPKCS12PFX_AddKey(&pfx.p, 1, 0, &k, &i2, nullptr), 0);
        const Pair p = pairOf(pfx.p, 0);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.certificate, sign);
        EXPECT_TRUE(p.key.empty());
    }
    {
        // Two end-entity certificates among CAs: each finds its own key; the localKeyId of a
        // certificate bag is not a key.
        Pfx pfx;
        ASSERT_EQ(SGPKCS12PFX_AddCertificate(&pfx.p, 0, 0, &r, nullptr, nullptr), 0);
        ASSERT_EQ(SGPKCS12PFX_AddCertificate(&pfx.p, 1, 0, &m, &i2, nullptr), 0);
        ASSERT_EQ(SGPKCS12PFX_AddCertificate(&pfx.p, 2, 0, &c, nullptr, nullptr), 0);
        ASSERT_EQ(SGPKCS12PFX_AddCertificate(&pfx.p, 3, 0, &s, &i1, nullptr), 0);
        ASSERT_EQ(SGPKCS12PFX_AddKey(&pfx.p, 4, 0, &k, &i1, nullptr), 0);
        ASSERT_EQ(SGPKCS12PFX_AddCertificate(&pfx.p, 5, 0, &s, &i2, nullptr), 0);
        Pair p = pairOf(pfx.p, 1);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.certificate, sign);
        EXPECT_EQ(p.key, key);
        EXPECT_EQ(p.chain.size(), 2u);
        EXPECT_EQ(pairOf(pfx.p, 0).result, 10505);  // id2 names a certificate bag
        EXPECT_EQ(pairOf(pfx.p, 3).result, 10009);
    }
    {
        Pfx empty;
        EXPECT_EQ(pairOf(empty.p, 0).result, 10009);
    }
}

// ------------------------------------------------------------------------------------------------
// Damaged files.

// Re-encodes a PFX after changing its MacData.
template <typename F>
Bytes withMacData(const Bytes& der, F&& change) {
    void* decoded = nullptr;
    const SGBinary in = view(der);
    EXPECT_EQ(SGASN1CObject_Decode(&decoded, &asn_DEF_PFX, &in), 0);
    auto* pfx = static_cast<PFX_t*>(decoded);
    change(*pfx->macData);
    SGBinary out{};
    EXPECT_EQ(SGASN1CObject_Encode(&out, &asn_DEF_PFX, pfx), 0);
    SGASN1CObject_Free(pfx, &asn_DEF_PFX);
    Bytes b = bytesOf(&out);
    SGBinary_Reset(&out);
    return b;
}

TEST_F(PKCS12, DamagedMacDataIsRefusedWithoutReadingPastIt) {
    const Bytes good = file("c.p12");
    auto setDigest = [](Bytes bytes) {
        return [bytes](MacData_t& m) {
            OCTET_STRING_fromBuf(&m.mac.digest, reinterpret_cast<const char*>(bytes.data()),
                                 static_cast<int>(bytes.size()));
        };
    };
    auto setIterations = [](long n) {
        return [n](MacData_t& m) { asn_long2INTEGER(m.iterations, n); };
    };
    // The stored MAC cut to its first 19 bytes, or given a 21st.
    Bytes digest;
    {
        void* decoded = nullptr;
        const SGBinary in = view(good);
        ASSERT_EQ(SGASN1CObject_Decode(&decoded, &asn_DEF_PFX, &in), 0);
        auto* pfx = static_cast<PFX_t*>(decoded);
        digest.assign(pfx->macData->mac.digest.buf,
                      pfx->macData->mac.digest.buf + pfx->macData->mac.digest.size);
        SGASN1CObject_Free(pfx, &asn_DEF_PFX);
    }
    ASSERT_EQ(digest.size(), 20u);
    Bytes longer = digest;
    longer.push_back(0);
    struct Case {
        const char* what;
        Bytes der;
        int code;
    } cases[] = {
        {"19-byte MAC", withMacData(good, setDigest(Bytes(digest.begin(), digest.end() - 1))),
         10503},
        {"21-byte MAC", withMacData(good, setDigest(longer)), 10503},
        {"200-byte salt",
         withMacData(good,
                     [](MacData_t& m) {
                         const Bytes salt(200, 0x5A);
                         OCTET_STRING_fromBuf(&m.macSalt,
                                              reinterpret_cast<const char*>(salt.data()), 200);
                     }),
         10503},
        {"iterations 0", withMacData(good, setIterations(0)), 10009},
        {"iterations -1", withMacData(good, setIterations(-1)), 10009},
        {"iterations above the ceiling", withMacData(good, setIterations(1000001)), 10009},
        {"SHA-256 digest",
         withMacData(good,
                     [](MacData_t& m) {
                         SGASN1CObjectIdentifier_Set(&m.mac.digestAlgorithm.algorithm, 166);
                     }),
         10003},
        {"not a PFX", Bytes{0x30, 0x03, 0x02, 0x01, 0x03}, 20901},
    };
    for (const Case& c : cases) {
        Pfx pfx;
        EXPECT_EQ(pfx.decode(c.der), c.code) << c.what;
        EXPECT_EQ(pfx.p.count, 0) << c.what;
    }
    // The untouched file re-encoded still opens: the cases above fail for their change alone.
    Pfx pfx;
    EXPECT_EQ(pfx.decode(withMacData(good, [](MacData_t&) {})), 0);
}

// A PFX without MacData holding one certificate bag with the attributes given.
Bytes handMadePfx(const Bytes& attributes) {
    using namespace der;
    const Bytes certBag =
        seq({oid("1.2.840.113549.1.9.22.1"), tlv(0xA0, octets(file("sign.der")))});
    const Bytes bag =
        attributes.empty()
            ? seq({oid("1.2.840.113549.1.12.10.1.3"), tlv(0xA0, certBag)})
            : seq({oid("1.2.840.113549.1.12.10.1.3"), tlv(0xA0, certBag), tlv(0x31, attributes)});
    const Bytes safeContents = seq({bag});
    const Bytes data = seq({oid("1.2.840.113549.1.7.1"), tlv(0xA0, octets(safeContents))});
    const Bytes authSafe = seq({data});
    return seq({integer(3), seq({oid("1.2.840.113549.1.7.1"), tlv(0xA0, octets(authSafe))})});
}

TEST_F(PKCS12, AttributesOfOtherTypesAndOddBmpStringsAreRefused) {
    using namespace der;
    const Bytes friendly = oid("1.2.840.113549.1.9.20");
    struct Case {
        const char* what;
        Bytes attributes;
        int code;
    } cases[] = {
        {"no attributes", {}, 0},
        {"friendlyName", seq({friendly, tlv(0x31, tlv(0x1E, Bytes{0xD6, 0x4D, 0xAE, 0x38}))}), 0},
        {"odd BMPString", seq({friendly, tlv(0x31, tlv(0x1E, Bytes{0xD6, 0x4D, 0xAE}))}), 20902},
        {"attribute in the OID table", seq({oid("1.2.840.113549.1.9.3"), tlv(0x31, null())}),
         20907},
        {"attribute outside it", seq({oid("1.3.6.1.4.1.99999.1"), tlv(0x31, null())}), 20906},
    };
    for (const Case& c : cases) {
        Pfx pfx;
        EXPECT_EQ(pfx.decode(handMadePfx(c.attributes)), c.code) << c.what;
        if (c.code == 0 && !c.attributes.empty()) {
            ASSERT_EQ(pfx.p.count, 1);
            EXPECT_EQ(textOf(pfx.p.safes[0].attributes->friendlyName), "홍길");
        }
    }
}

}  // namespace
