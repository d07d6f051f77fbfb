// Material of the PKCS #7 tests: the kit's chain, its ECDSA and KCDSA signers and the SignedData
// that openssl cms makes (all made once per build), our signer's key as a handle in memory or
// behind a token's callbacks, calls of our signer and verifier that hand back plain bytes, a
// DER tree for taking a SignedData apart and putting it together again, and openssl's verdict.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "PkiMaterial.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGPKCS1.h"
#include "SGPKCS7SignedData.h"
#include "SGPKCSError.h"
#include "SGRSA.h"
#include "SGServiceTable.h"
#include "X509TestUtil.h"

namespace p7test {

using namespace pkitest;
using testkit::hex;
using testkit::quote;
using testkit::unhex;

inline const fs::path& ecdsa() {
    static const fs::path folder = cached("ecdsa-signer", {chain().string()});
    return folder;
}
// openssl's SignedData: see testkit/recipes/cms-signed.sh.
inline const fs::path& cms() {
    static const fs::path folder = cached("cms-signed", {chain().string(), ecdsa().string()});
    return folder;
}
// Keys at and beyond the size bounds and what openssl signs with them: see
// testkit/recipes/rsa-bounds.sh.
inline const fs::path& rsaBounds() {
    static const fs::path folder = cached("rsa-bounds", {chain().string()});
    return folder;
}
inline Bytes cmsFile(const std::string& name) {
    const Bytes b = testkit::readBytes(cms() / name);
    EXPECT_TRUE(fs::exists(cms() / name)) << name;
    return b;
}

// The KCDSA key pair of the standard's example II.3 (2048-bit p, 256-bit q).
struct KcdsaExample {
    std::map<std::string, std::string> values;
    Bytes domain, x;  // DER: SEQUENCE { p, q, g }; INTEGER x
};
inline const KcdsaExample& kcdsaExample() {
    static const KcdsaExample example = [] {
        KcdsaExample e;
        std::ifstream in(std::string(BRINDLOW_TEST_DATA) +
                         "/../../../crypto/tests/data/kcdsa_ttak.vec");
        EXPECT_TRUE(in.good());
        bool inSet = false;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("Set = ", 0) == 0) inSet = line == "Set = II.3";
            const size_t eq = line.find(" = ");
            if (inSet && eq != std::string::npos)
                e.values[line.substr(0, eq)] = line.substr(eq + 3);
        }
        auto integer = [](const std::string& h) {
            Bytes v = unhex(h);
            if (v[0] & 0x80) v.insert(v.begin(), 0);
            return x509test::tlv(0x02, v);
        };
        e.domain =
            x509test::seq({integer(e.values["P"]), integer(e.values["Q"]), integer(e.values["G"])});
        e.x = integer(e.values["X"]);
        return e;
    }();
    return example;
}
// The parameters of a KCDSA signature under the example's domain.
inline SGDSParameter kcdsaParameter(SGDSKey* key, int hashId) {
    const KcdsaExample& k = kcdsaExample();
    SGDSParameter p{};
    p.kind = SG_DS_KCDSA;
    p.key = key;
    p.kcdsaHashId = hashId;
    p.kcdsaDomainParameters = k.domain.data();
    p.kcdsaDomainParametersLength = static_cast<uint32_t>(k.domain.size());
    return p;
}
// A certificate of the example's public key under the algorithm identifier, issued by the kit's
// CA (testkit/recipes/kcdsa-cert.sh).
inline fs::path kcdsaCertificate(const std::string& oid) {
    const KcdsaExample& k = kcdsaExample();
    return cached("kcdsa-cert", {chain().string(), k.values.at("P"), k.values.at("Q"),
                                 k.values.at("G"), k.values.at("Y"), oid}) /
           "kcdsa.der";
}

// ---------------------------------------------------------------------------------------------
// Keys.

// A token holding the chain's signing key: it signs what it is handed (a whole block raw, a
// DigestInfo padded) with the crypto layer and notes what it got.
struct Token {
    SGRSAPrivateKey key{};
    unsigned size = 256;
    int calls = 0;
    Bytes input;
    unsigned algorithm = 0;
    Token() {
        const Bytes der = cmsFile("sign-rsa.der");
        EXPECT_EQ(SGRSAPrivateKey_Decode(&key, der.data(), static_cast<int>(der.size())), 0);
    }
    ~Token() { SGRSAPrivateKey_Free(&key); }
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;
};

inline int tokenKeySize(unsigned* size, void* user) {
    *size = static_cast<Token*>(user)->size;
    return 0;
}

inline int tokenSign(unsigned char* signature, unsigned* length, const unsigned char* input,
                     unsigned inputLength, unsigned algorithm, void* user) {
    auto* t = static_cast<Token*>(user);
    ++t->calls;
    t->input.assign(input, input + inputLength);
    t->algorithm = algorithm;
    SGPKCS1Parameter p{};
    p.signatureScheme = SG_PKCS1_V15_SIGNATURE;
    p.hashId = SG_PKCS1_HASH_AS_GIVEN;
    p.alreadyHashed = inputLength == 256 ? 1 : 0;
    p.privateKey = &t->key;
    return SGPKCS1_Sign(signature, length, input, inputLength, &p);
}

inline SGCryptoHandlerKey tokenKey(Token* token) {
    SGCryptoHandlerKey k{};
    k.type = SG_CRYPTO_HANDLER_CALLBACK;
    k.form.signer.keySize = &tokenKeySize;
    k.form.signer.sign = &tokenSign;
    k.form.signer.userData = token;
    return k;
}

// A key in memory: the DER (and for KCDSA the domain as parameters).
inline SGCryptoHandlerKey keyInMemory(const Bytes& der, SGBinary* parameters = nullptr) {
    SGCryptoHandlerKey k{};
    k.type = 2;
    k.form.key.der = der.data();
    k.form.key.length = static_cast<uint32_t>(der.size());
    k.parameters = parameters;
    return k;
}
inline const Bytes& signKey() {
    static const Bytes der = cmsFile("sign-rsa.der");
    return der;
}

inline SGPKCS7SignedDataParameters options(int flags, int digestId = SG_DIGEST_SHA256,
                                           int mode = SG_PKCS7_MODE_MESSAGE) {
    SGPKCS7SignedDataParameters o{};
    o.contentMode = mode;
    o.flags = flags;
    o.digestId = digestId;
    return o;
}

// ---------------------------------------------------------------------------------------------
// Our signer and verifier.

struct Signed {
    int result = -1;
    Bytes der;
};
inline Signed signData(const Bytes& content, const SGX509Certificate& certificate,
                       const SGCryptoHandlerKey& key, const SGPKCS7SignedDataParameters& o,
                       const SGBinary* crl = nullptr) {
    SGBinary in = viewOf(content), out{};
    Signed s;
    s.result = SGPKCS7SignedData_Sign(&out, &in, &certificate, crl, &key, &o);
    s.der = bytesOf(out);
    SGBinary_Reset(&out);
    return s;
}

struct Verified {
    int result = -1;
    Bytes content;
    bool contentWritten = false;
    std::vector<Bytes> signers;  // DER of each signer certificate
    std::vector<std::string> paths;
    time_t signingTime = -1;
};
inline Verified verifyData(const Bytes& der, const Bytes* detached = nullptr,
                           const SGPKCS7SignedDataParameters* o = nullptr) {
    Verified v;
    SGBinary in = viewOf(der), content{}, given{};
    if (detached) given = viewOf(*detached);
    Set signers;
    SGPKCS7SignedDataParameters withTime{};
    if (o) withTime = *o;
    withTime.signingTime = &v.signingTime;
    v.result = SGPKCS7SignedData_Verify(&content, &signers.head, &in, detached ? &given : nullptr,
                                        &withTime);
    v.contentWritten = content.data != nullptr;
    v.content = bytesOf(content);
    SGBinary_Reset(&content);
    for (const SGCertificateSet* node : signers.nodes()) {
        EXPECT_EQ(node->type, SG_CERTSET_SIGN);
        v.signers.push_back(bytesOf(node->certificate));
        v.paths.push_back(node->path ? node->path : "");
    }
    return v;
}

// ---------------------------------------------------------------------------------------------
// DER as a tree (definite lengths): take apart, change, put together.

struct Node {
    unsigned tag = 0;
    Bytes value;             // primitive
    std::vector<Node> kids;  // constructed
    bool constructed() const { return tag & 0x20; }
    Bytes content() const {
        if (!constructed()) return value;
        Bytes c;
        for (const Node& k : kids) {
            const Bytes e = k.encode();
            c.insert(c.end(), e.begin(), e.end());
        }
        return c;
    }
    Bytes encode() const { return x509test::tlv(tag, content()); }
};

inline size_t parseOne(const Bytes& der, size_t at, Node* out) {
    EXPECT_LT(at + 1, der.size());
    out->tag = der[at];
    size_t i = at + 1, length = der[i++];
    if (length & 0x80) {
        const size_t n = length & 0x7F;
        length = 0;
        for (size_t k = 0; k < n; ++k) length = length << 8 | der[i++];
    }
    const size_t end = i + length;
    EXPECT_LE(end, der.size());
    if (out->constructed()) {
        while (i < end) {
            out->kids.emplace_back();
            i = parseOne(der, i, &out->kids.back());
        }
    } else {
        out->value.assign(der.begin() + static_cast<long>(i), der.begin() + static_cast<long>(end));
    }
    return end;
}
inline Node parse(const Bytes& der) {
    Node n;
    parseOne(der, 0, &n);
    return n;
}

// The parts of a SignedData wrapped in a ContentInfo.
inline Node& signedData(Node& contentInfo) {
    return contentInfo.kids.at(1).kids.at(0);
}
inline Node& signerInfo(Node& contentInfo, size_t i = 0) {
    return signedData(contentInfo).kids.back().kids.at(i);
}
inline Node& signedAttributes(Node& si) {
    EXPECT_EQ(si.kids.at(3).tag, 0xA0u);
    return si.kids.at(3);
}
inline Node& signatureOf(Node& si) {
    for (size_t i = 3; i < si.kids.size(); ++i)
        if (si.kids[i].tag == 0x04) return si.kids[i];
    ADD_FAILURE() << "no signature";
    return si.kids.back();
}
// The dotted type of an attribute.
inline std::string attributeType(const Node& attribute) {
    static const std::map<std::string, std::string> known = {
        {"2A864886F70D010903", "contentType"},
        {"2A864886F70D010904", "messageDigest"},
        {"2A864886F70D010905", "signingTime"},
        {"2A864886F70D01090F", "smimeCapabilities"},
    };
    const std::string h = hex(attribute.kids.at(0).value);
    return known.count(h) ? known.at(h) : h;
}
inline Node* findAttribute(Node& attributes, const std::string& type) {
    for (Node& a : attributes.kids)
        if (attributeType(a) == type) return &a;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// openssl.

// openssl cms -verify against the chain (with the content when detached); what it wrote into
// *content, its messages into *log.
inline bool opensslVerifies(const Bytes& der, const Bytes* detached = nullptr,
                            Bytes* content = nullptr, std::string* log = nullptr) {
    testkit::Scratch dir("brindlow-p7");
    testkit::writeBytes(dir / "in.der", der);
    std::string command = "openssl cms -verify -binary -inform DER -in " +
                          quote((dir / "in.der").string()) + " -CAfile " +
                          quote((chain() / "chain.pem").string()) + " -out " +
                          quote((dir / "got").string());
    if (detached) {
        testkit::writeBytes(dir / "content", *detached);
        command += " -content " + quote((dir / "content").string());
    }
    std::string output;
    const bool ok = testkit::succeeds(command, &output);
    if (content) *content = testkit::readBytes(dir / "got");
    if (log) *log = output;
    return ok;
}

inline std::string opensslPrint(const Bytes& der) {
    testkit::Scratch dir("brindlow-p7");
    testkit::writeBytes(dir / "in.der", der);
    std::string output;
    EXPECT_TRUE(testkit::succeeds(
        "openssl cms -cmsout -print -inform DER -in " + quote((dir / "in.der").string()), &output))
        << output;
    return output;
}

// The signingTime that openssl cms -print shows ("UTCTIME:Dec 10 18:59:31 2026 GMT" or the
// GENERALIZEDTIME form) as seconds since 1970; -1 when there is none.
inline time_t printedSigningTime(const std::string& print) {
    const size_t at = print.find("signingTime");
    if (at == std::string::npos) return -1;
    const size_t colon = print.find("TIME:", at);
    if (colon == std::string::npos) return -1;
    const std::string text = print.substr(colon + 5, print.find('\n', colon) - colon - 5);
    struct tm tm {};
    if (!strptime(text.c_str(), "%b %d %H:%M:%S %Y GMT", &tm)) return -1;
    return timegm(&tm);
}

// The signature of the data with the chain's signing key (openssl pkeyutl, SHA-256 DigestInfo).
inline Bytes opensslSignature(const Bytes& data) {
    testkit::Scratch dir("brindlow-p7");
    testkit::writeBytes(dir / "data", data);
    std::string output;
    EXPECT_TRUE(testkit::succeeds(
        "openssl dgst -sha256 -binary -out " + quote((dir / "hash").string()) + " " +
            quote((dir / "data").string()) + " && openssl pkeyutl -sign -inkey " +
            quote((chain() / "sign.key").string()) + " -pkeyopt digest:sha256 -in " +
            quote((dir / "hash").string()) + " -out " + quote((dir / "signature").string()),
        &output))
        << output;
    return testkit::readBytes(dir / "signature");
}

// Replaces a SignerInfo's signed attributes and signs them again with openssl: what another
// program that writes such attributes would send.
inline Bytes resignAttributes(const Bytes& der, const std::vector<Node>& attributes) {
    Node ci = parse(der);
    Node& si = signerInfo(ci);
    signedAttributes(si).kids = attributes;
    Node set = signedAttributes(si);
    set.tag = 0x31;
    signatureOf(si).value = opensslSignature(set.encode());
    return ci.encode();
}

}  // namespace p7test
