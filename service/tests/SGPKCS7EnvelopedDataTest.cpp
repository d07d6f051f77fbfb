// PKCS #7 EnvelopedData: ours opened by openssl cms, openssl's opened here (key transport v1.5
// and OAEP, every content cipher, password and KEK recipients, two recipients, indefinite
// lengths), the key material handed back, the refusals; the RFC 3394 wrap against the RFC's
// vectors and openssl's KEK recipient, and the RFC 3211 wrap's lengths and checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "EnvelopedData.h"
#include "PBKDF2-params.h"
#include "PasswordRecipientInfo.h"
#include "RecipientInfo.h"
#include "PkiMaterial.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGCipher.h"
#include "SGCryptoHandler.h"
#include "SGPKCS7EnvelopedData.h"
#include "SGPKCSError.h"
#include "SGServiceTable.h"
#include "SGSimpleASN.h"
#include "SGStream.h"

namespace {

using namespace pkitest;
using testkit::hex;
using testkit::quote;
using testkit::unhex;

const std::string kPassword = "q1w2e3r4!@";
const std::string kLegacy = " -provider legacy -provider default";

// openssl's envelopes: see testkit/recipes/cms-enveloped.sh.
const fs::path& cms() {
    static const fs::path folder = cached("cms-enveloped", {chain().string()});
    return folder;
}
Bytes cmsFile(const std::string& name) {
    EXPECT_TRUE(fs::exists(cms() / name)) << name;
    return testkit::readBytes(cms() / name);
}

class Enveloped : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
};

SGCryptoHandlerKey rsaKey(const Bytes& der) {
    SGCryptoHandlerKey k{};
    k.type = SG_CRYPTO_HANDLER_RSA_KEY;
    k.form.key.der = der.data();
    k.form.key.length = static_cast<uint32_t>(der.size());
    return k;
}
SGCryptoHandlerKey bytesKey(int type, const std::string& bytes) {
    SGCryptoHandlerKey k{};
    k.type = type;
    k.form.key.der = reinterpret_cast<const unsigned char*>(bytes.data());
    k.form.key.length = static_cast<uint32_t>(bytes.size());
    return k;
}
const Bytes& kmKey() {
    static const Bytes der = cmsFile("km-rsa.der");
    return der;
}

int open(Bytes* content, const Bytes& der, const SGCryptoHandlerKey& key,
         SGPKCS7EnvelopedDataParameters* p = nullptr) {
    SGBinary in = viewOf(der), out{};
    const int r = SGPKCS7EnvelopedData_Deenvelope(&out, &in, &key, p, nullptr, nullptr);
    if (r == 0) *content = bytesOf(out);
    SGBinary_Reset(&out);
    return r;
}

int envelope(Bytes* der, const Bytes& content, int cipherId, SGPKCS7EnvelopedDataParameters* p,
             const SGX509Certificate* certificate, int kind = SG_PKCS7_RECIPIENT_CERTIFICATE) {
    SGPKCS7Recipient recipient{kind, certificate};
    SGBinary in = viewOf(content), out{};
    const int r = SGPKCS7EnvelopedData_Envelope(&out, &in, cipherId, &recipient, p);
    if (r == 0) *der = bytesOf(out);
    SGBinary_Reset(&out);
    return r;
}

// openssl cms -decrypt with the km key; the plaintext, or nothing when it fails.
bool opensslOpens(const Bytes& der, const Bytes& expected, const std::string& form = "DER") {
    testkit::Scratch scratch;
    testkit::writeBytes(scratch / "in", der);
    const std::string command = "openssl cms -decrypt" + kLegacy + " -binary -inform " + form +
                                " -in " + quote((scratch / "in").string()) + " -recip " +
                                quote((chain() / "km.pem").string()) + " -inkey " +
                                quote((chain() / "km.key").string()) + " -out " +
                                quote((scratch / "out").string()) + " 2>&1";
    if (!testkit::succeeds(command)) return false;
    return testkit::readBytes(scratch / "out") == expected;
}

TEST_F(Enveloped, OursOpensInOpensslAndHere) {
    ParsedCertificate km(chain() / "km.der");
    for (const char* m : {"m0", "m1000", "m1M"}) {
        SCOPED_TRACE(m);
        const Bytes content = cmsFile(m);
        SGPKCS7EnvelopedDataParameters p{};
        p.flags = SG_PKCS7_ENVELOPE_RETURN_KEY;
        Bytes der;
        ASSERT_EQ(envelope(&der, content, SG_PKCS7_CIPHER_SEED_CBC, &p, &km.handle), 0);
        ASSERT_NE(p.key, nullptr);
        ASSERT_NE(p.iv, nullptr);
        EXPECT_EQ(p.key->length, 16u);
        EXPECT_EQ(p.iv->length, 16u);
        EXPECT_TRUE(opensslOpens(der, content));
        // Opened here, the same key comes back.
        SGPKCS7EnvelopedDataParameters q{};
        q.flags = SG_PKCS7_ENVELOPE_RETURN_KEY;
        Bytes back;
        ASSERT_EQ(open(&back, der, rsaKey(kmKey()), &q), 0);
        EXPECT_EQ(back, content);
        ASSERT_NE(q.key, nullptr);
        EXPECT_EQ(bytesOf(*q.key), bytesOf(*p.key));
        EXPECT_EQ(SGPKCS7EnvelopedDataParameters_Reset(&p), 0);
        EXPECT_EQ(SGPKCS7EnvelopedDataParameters_Reset(&q), 0);
        EXPECT_EQ(p.key, nullptr);
    }
}

TEST_F(Enveloped, BareAndSubjectIdentified) {
    ParsedCertificate km(chain() / "km.der");
    const Bytes content = cmsFile("m1000");
    SGPKCS7EnvelopedDataParameters p{};
    p.flags = SG_PKCS7_ENVELOPE_BARE | SG_PKCS7_ENVELOPE_BY_SUBJECT;
    Bytes der;
    ASSERT_EQ(envelope(&der, content, SG_PKCS7_CIPHER_SEED_CBC, &p, &km.handle), 0);
    EXPECT_EQ(der[0], 0x30);
    Bytes back;
    // Bare input is no ContentInfo.
    EXPECT_NE(open(&back, der, rsaKey(kmKey())), 0);
    ASSERT_EQ(open(&back, der, rsaKey(kmKey()), &p), 0);
    EXPECT_EQ(back, content);
    // The identifier carries the subject: it appears in the DER, the issuer does not.
    SGBinary subject{}, issuer{};
    ASSERT_EQ(SGX509Certificate_GetEncodedEntry(&subject, &km.handle, 7), 0);
    ASSERT_EQ(SGX509Certificate_GetEncodedEntry(&issuer, &km.handle, 4), 0);
    const Bytes s = bytesOf(subject), i = bytesOf(issuer);
    EXPECT_NE(std::search(der.begin(), der.end(), s.begin(), s.end()), der.end());
    EXPECT_EQ(std::search(der.begin(), der.end(), i.begin(), i.end()), der.end());
    SGBinary_Reset(&subject);
    SGBinary_Reset(&issuer);
}

TEST_F(Enveloped, EnvelopingRefusals) {
    ParsedCertificate km(chain() / "km.der");
    const Bytes content = {1, 2, 3};
    Bytes der;
    struct Case {
        int cipherId;
        int expected;
    };
    for (const Case& c :
         {Case{SG_PKCS7_CIPHER_DES_CBC, 10120}, Case{SG_PKCS7_CIPHER_DES_EDE3_CBC, 10120},
          Case{SG_PKCS7_CIPHER_AES128_CBC, 10107}, Case{SG_PKCS7_CIPHER_AES192_CBC, 10120},
          Case{SG_PKCS7_CIPHER_AES256_CBC, 10120}, Case{SG_PKCS7_CIPHER_RC2_CBC, 10107},
          Case{SG_PKCS7_PBE_SHA_3DES, 10107}})
        EXPECT_EQ(envelope(&der, content, c.cipherId, nullptr, &km.handle), c.expected)
            << c.cipherId;
    // A password recipient is refused rather than given an envelope no one can open.
    EXPECT_EQ(envelope(&der, content, SG_PKCS7_CIPHER_SEED_CBC, nullptr, nullptr,
                       SG_PKCS7_RECIPIENT_PASSWORD),
              SG_PKI_ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(envelope(&der, content, SG_PKCS7_CIPHER_SEED_CBC, nullptr, &km.handle, 3),
              SG_PKCS7_ERR_RECIPIENT_KIND);
    SGBinary in = viewOf(content), out{};
    EXPECT_EQ(SGPKCS7EnvelopedData_Envelope(&out, &in, SG_PKCS7_CIPHER_SEED_CBC, nullptr, nullptr),
              SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGPKCS7EnvelopedData_Deenvelope(&out, &in, nullptr, nullptr, nullptr, nullptr),
              SG_PKCS7_ERR_NO_RECIPIENT_KEY);
    EXPECT_EQ(SGPKCS7EnvelopedData_Deenvelope(&out, nullptr, nullptr, nullptr, nullptr, nullptr),
              SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGPKCS7EnvelopedDataParameters_Reset(nullptr), SG_PKI_ERR_ARGUMENT);
}

TEST_F(Enveloped, OpensslsKeyTransportOpens) {
    const Bytes m1000 = cmsFile("m1000");
    for (const char* c :
         {"seed-cbc", "aes-128-cbc", "aes-192-cbc", "aes-256-cbc", "des-ede3-cbc", "des-cbc"}) {
        Bytes back;
        EXPECT_EQ(open(&back, cmsFile(std::string("ktri-") + c + ".der"), rsaKey(kmKey())), 0) << c;
        EXPECT_EQ(back, m1000) << c;
    }
    for (const char* m : {"m0", "m1000", "m1M"}) {
        Bytes back;
        EXPECT_EQ(open(&back, cmsFile(std::string("ktri-seed-") + m + ".der"), rsaKey(kmKey())), 0);
        EXPECT_EQ(back, cmsFile(m)) << m;
    }
    Bytes back;
    EXPECT_EQ(open(&back, cmsFile("oaep.der"), rsaKey(kmKey())), 0);
    EXPECT_EQ(back, m1000);
    EXPECT_EQ(open(&back, cmsFile("oaep256.der"), rsaKey(kmKey())), SG_PKI_ERR_NOT_IMPLEMENTED);
    // Indefinite lengths open in memory.
    back.clear();
    EXPECT_EQ(open(&back, cmsFile("stream.der"), rsaKey(kmKey())), 0);
    EXPECT_EQ(back, m1000);
}

TEST_F(Enveloped, OnlyTheFirstRecipientsKeyOpens) {
    const Bytes two = cmsFile("two.der");
    const Bytes signKey = cmsFile("sign-rsa.der");
    Bytes back;
    EXPECT_EQ(open(&back, two, rsaKey(signKey)), 0);
    EXPECT_EQ(back, cmsFile("m1000"));
    EXPECT_NE(open(&back, two, rsaKey(kmKey())), 0);
    // A key of the wrong kind for the first recipient.
    EXPECT_EQ(open(&back, two, bytesKey(SG_PKCS7_RECIPIENT_KEY_PASSWORD, kPassword)),
              SG_PKCS7_ERR_RECIPIENT_KEY);
}

TEST_F(Enveloped, OpensslsPasswordRecipientsOpen) {
    const Bytes m1000 = cmsFile("m1000");
    for (const char* c :
         {"seed-cbc", "aes-128-cbc", "aes-192-cbc", "aes-256-cbc", "des-ede3-cbc", "des-cbc"}) {
        SCOPED_TRACE(c);
        const Bytes der = cmsFile(std::string("pwri-") + c + ".der");
        Bytes back;
        EXPECT_EQ(open(&back, der, bytesKey(SG_PKCS7_RECIPIENT_KEY_PASSWORD, kPassword)), 0);
        EXPECT_EQ(back, m1000);
        EXPECT_EQ(open(&back, der, bytesKey(SG_PKCS7_RECIPIENT_KEY_PASSWORD, "wrong")),
                  SG_PKCS7_ERR_WRAP_CHECK);
        EXPECT_EQ(open(&back, der, rsaKey(kmKey())), SG_PKCS7_ERR_RECIPIENT_KEY);
    }
}

// The envelope decoded, changed in place and written again as a ContentInfo.
template <typename Change>
Bytes rewritten(const Bytes& der, Change&& change) {
    SGBinary in = viewOf(der);
    SGPKCS7ContentInfo info{};
    EXPECT_EQ(SGPKCS7ContentInfo_Decode(&info, &in), 0);
    void* structure = nullptr;
    EXPECT_EQ(SGPKCS7Content_Decode(&structure, info.content, SG_PKCS7_ENVELOPED_DATA), 0);
    if (structure) change(static_cast<EnvelopedData_t*>(structure));
    SGBinary content{};
    EXPECT_EQ(SGPKCS7Content_Encode(&content, structure, SG_PKCS7_ENVELOPED_DATA), 0);
    SGPKCS7Content_Reset(&structure, SG_PKCS7_ENVELOPED_DATA);
    SGPKCS7ContentInfo wrapped{SG_PKCS7_ENVELOPED_DATA, &content};
    SGBinary out{};
    EXPECT_EQ(SGPKCS7ContentInfo_Encode(&out, &wrapped), 0);
    Bytes result = bytesOf(out);
    SGBinary_Reset(&out);
    SGBinary_Reset(&content);
    SGPKCS7ContentInfo_Reset(&info);
    return result;
}

struct Wrapped {
    int result;
    Bytes bytes;
};
Wrapped pwri(bool unwrap, const Bytes& in, const Bytes& kek, int cipherId, const Bytes& iv,
             size_t room);

// openssl's password envelope with its PBKDF2 naming another PRF and the content key wrapped
// again under the key openssl derives with that PRF.
Bytes withPrf(const Bytes& der, const char* prfOid, const char* opensslDigest) {
    Bytes back;
    SGPKCS7EnvelopedDataParameters p{};
    p.flags = SG_PKCS7_ENVELOPE_RETURN_KEY;
    EXPECT_EQ(open(&back, der, bytesKey(SG_PKCS7_RECIPIENT_KEY_PASSWORD, kPassword), &p), 0);
    const Bytes contentKey = p.key ? bytesOf(*p.key) : Bytes{};
    SGPKCS7EnvelopedDataParameters_Reset(&p);
    return rewritten(der, [&](EnvelopedData_t* ed) {
        PasswordRecipientInfo_t& recipient = ed->recipientInfos.list.array[0]->choice.pwri;
        ANY_t* kdfParameters = recipient.keyDerivationAlgorithm->parameters;
        void* decoded = nullptr;
        SGBinary kdfView{kdfParameters->buf, static_cast<uint32_t>(kdfParameters->size)};
        EXPECT_EQ(SGASN1CObject_Decode(&decoded, &asn_DEF_PBKDF2_params, &kdfView), 0);
        auto* kdf = static_cast<PBKDF2_params_t*>(decoded);
        kdf->prf =
            static_cast<AlgorithmIdentifier_t*>(SGASN1C_calloc(1, sizeof(AlgorithmIdentifier_t)));
        EXPECT_EQ(SGASN1CObjectIdentifier_FromString(prfOid, &kdf->prf->algorithm), 0);
        const Bytes salt(kdf->salt.choice.specified.buf,
                         kdf->salt.choice.specified.buf + kdf->salt.choice.specified.size);
        long iterations = 0;
        SGASN1CInteger_Get(&iterations, &kdf->iterationCount);
        SGASN1CObject_Free(kdfParameters, &asn_DEF_ANY);
        recipient.keyDerivationAlgorithm->parameters =
            static_cast<ANY_t*>(SGASN1C_calloc(1, sizeof(ANY_t)));
        EXPECT_EQ(SGASN1CAny_SetFromASN1CType(recipient.keyDerivationAlgorithm->parameters, kdf,
                                              &asn_DEF_PBKDF2_params),
                  0);
        SGASN1CObject_Free(kdf, &asn_DEF_PBKDF2_params);
        // The KEK as openssl derives it with that digest (AES-128: 16 bytes), the IV from the
        // parameters of the inner algorithm (its last 16 bytes).
        const std::string kek =
            testkit::run("openssl kdf -keylen 16 -kdfopt digest:" + std::string(opensslDigest) +
                         " -kdfopt pass:" + quote(kPassword) + " -kdfopt hexsalt:" + hex(salt) +
                         " -kdfopt iter:" + std::to_string(iterations) + " PBKDF2");
        const ANY_t* inner = recipient.keyEncryptionAlgorithm.parameters;
        const Bytes iv(inner->buf + inner->size - 16, inner->buf + inner->size);
        const Bytes wrapped = pwri(false, contentKey, unhex(kek), SG_CIPHER_AES128, iv, 64).bytes;
        EXPECT_EQ(SGASN1COctetString_SetFromBuf(&recipient.encryptedKey, wrapped.data(),
                                                static_cast<int>(wrapped.size())),
                  0);
    });
}

TEST_F(Enveloped, PasswordRecipientsHonourThePrf) {
    const Bytes der = cmsFile("pwri-aes-128-cbc.der");
    Bytes back;
    const Bytes sha256 = withPrf(der, "1.2.840.113549.2.9", "SHA256");
    EXPECT_EQ(open(&back, sha256, bytesKey(SG_PKCS7_RECIPIENT_KEY_PASSWORD, kPassword)), 0);
    EXPECT_EQ(back, cmsFile("m1000"));
    // HMAC with MD5 is refused.
    const Bytes md5 = withPrf(der, "1.2.840.113549.2.6", "MD5");
    EXPECT_EQ(open(&back, md5, bytesKey(SG_PKCS7_RECIPIENT_KEY_PASSWORD, kPassword)),
              SG_PKI_ERR_UNKNOWN_ALGORITHM);
}

TEST_F(Enveloped, OpensslsKekRecipient) {
    Bytes der = cmsFile("kek.der");
    const std::string kek(
        reinterpret_cast<const char*>(unhex("000102030405060708090A0B0C0D0E0F").data()), 16);
    Bytes back;
    // id-aes128-wrap is not in the OID table.
    EXPECT_EQ(open(&back, der, bytesKey(SG_PKCS7_RECIPIENT_KEY_KEK, kek)), 20903);
    // Named AES-128-CBC (the same OID length), the RFC 3394 wrap opens.
    const Bytes wrapOid = unhex("0609608648016503040105");
    auto at = std::search(der.begin(), der.end(), wrapOid.begin(), wrapOid.end());
    ASSERT_NE(at, der.end());
    at[wrapOid.size() - 1] = 0x02;
    EXPECT_EQ(open(&back, der, bytesKey(SG_PKCS7_RECIPIENT_KEY_KEK, kek)), 0);
    EXPECT_EQ(back, cmsFile("m1000"));
    EXPECT_EQ(open(&back, der, bytesKey(SG_PKCS7_RECIPIENT_KEY_PASSWORD, kPassword)),
              SG_PKCS7_ERR_RECIPIENT_KEY);
    const std::string other(16, 'k');
    EXPECT_EQ(open(&back, der, bytesKey(SG_PKCS7_RECIPIENT_KEY_KEK, other)),
              SG_PKCS7_ERR_WRAP_CHECK);
}

// The envelope with other content-encryption parameters (none for an empty DER) and, when an
// OID id is given, another content-encryption algorithm.
Bytes withContentParameters(const Bytes& der, const Bytes& parameters, int algorithmOid = 0) {
    return rewritten(der, [&](EnvelopedData_t* ed) {
        AlgorithmIdentifier_t& algorithm = ed->encryptedContentInfo.contentEncryptionAlgorithm;
        if (algorithmOid)
            EXPECT_EQ(SGASN1CObjectIdentifier_Set(&algorithm.algorithm, algorithmOid), 0);
        SGASN1CObject_Free(algorithm.parameters, &asn_DEF_ANY);
        algorithm.parameters = nullptr;
        if (!parameters.empty()) {
            algorithm.parameters = static_cast<ANY_t*>(SGASN1C_calloc(1, sizeof(ANY_t)));
            SGBinary p = viewOf(parameters);
            EXPECT_EQ(SGASN1CAny_SetCopied(algorithm.parameters, &p), 0);
        }
    });
}

TEST_F(Enveloped, DamagedInput) {
    ParsedCertificate km(chain() / "km.der");
    const Bytes content = cmsFile("m1000");
    Bytes der, back;
    ASSERT_EQ(envelope(&der, content, SG_PKCS7_CIPHER_SEED_CBC, nullptr, &km.handle), 0);
    // The last ciphertext byte changed: bad padding.
    Bytes bad = der;
    bad.back() ^= 0x01;
    EXPECT_EQ(open(&back, bad, rsaKey(kmKey())), 410);
    // Cut short.
    EXPECT_EQ(open(&back, Bytes(der.begin(), der.begin() + 100), rsaKey(kmKey())), 20901);
    // A ContentInfo of another type.
    EXPECT_EQ(open(&back, unhex("300F06092A864886F70D010701A0020400"), rsaKey(kmKey())),
              SG_PKCS7_ERR_UNMATCHED_TYPE);
    // IV parameters that are not an OCTET STRING of one block.
    for (const char* parameters :
         {"040F000102030405060708090A0B0C0D0E", "0500", "0411000102030405060708090A0B0C0D0E0F10"}) {
        SCOPED_TRACE(parameters);
        EXPECT_EQ(open(&back, withContentParameters(der, unhex(parameters)), rsaKey(kmKey())),
                  SG_PKCS7_ERR_WRAP_LENGTH);
    }
    EXPECT_EQ(open(&back, withContentParameters(der, Bytes{}), rsaKey(kmKey())),
              SG_PKCS7_ERR_WRAP_LENGTH);
    // The 16-byte key transported is no key of AES-256 or DES: refused, not cut or padded.
    const Bytes iv16 = unhex("0410000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(open(&back, withContentParameters(der, iv16, SG_OID_AES256_CBC), rsaKey(kmKey())),
              SG_PKCS7_ERR_WRAP_LENGTH);
    EXPECT_EQ(open(&back, withContentParameters(der, unhex("04080001020304050607"), SG_OID_DES_CBC),
                   rsaKey(kmKey())),
              SG_PKCS7_ERR_WRAP_LENGTH);
    // The same key as AES-128: it opens to something, or fails the padding, never overruns.
    const int asAes =
        open(&back, withContentParameters(der, iv16, SG_OID_AES128_CBC), rsaKey(kmKey()));
    EXPECT_TRUE(asAes == 0 || asAes == 410) << asAes;
}

// ---------------------------------------------------------------------------------------------
// Key wraps.

Wrapped kekWrap(bool unwrap, const Bytes& in, const Bytes& kek, int cipherId, size_t room) {
    Bytes out(room);
    SGBinary o{out.data(), static_cast<uint32_t>(room)}, i = viewOf(in), k = viewOf(kek);
    const int r = unwrap ? SGCMSKek_UnWrap(&o, &i, &k, cipherId, nullptr)
                         : SGCMSKek_Wrap(&o, &i, &k, cipherId, nullptr);
    out.resize(r == 0 ? o.length : 0);
    return {r, out};
}

TEST_F(Enveloped, Rfc3394Vectors) {
    struct Vector {
        const char* kek;
        int cipherId;
        const char* key;
        const char* wrapped;
    };
    const Vector vectors[] = {
        {"000102030405060708090A0B0C0D0E0F", SG_CIPHER_AES128, "00112233445566778899AABBCCDDEEFF",
         "1FA68B0A8112B447AEF34BD8FB5A7B829D3E862371D2CFE5"},
        {"000102030405060708090A0B0C0D0E0F1011121314151617", SG_CIPHER_AES192,
         "00112233445566778899AABBCCDDEEFF", "96778B25AE6CA435F92B5B97C050AED2468AB8A17AD84E5D"},
        {"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F", SG_CIPHER_AES256,
         "00112233445566778899AABBCCDDEEFF0001020304050607",
         "A8F9BC1612C68B3FF6E6F4FBE30E71E4769C8B80A32CB8958CD5D17D6B254DA1"},
        {"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F", SG_CIPHER_AES256,
         "00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F",
         "28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21"},
    };
    for (const Vector& v : vectors) {
        const Bytes kek = unhex(v.kek), key = unhex(v.key), wrapped = unhex(v.wrapped);
        const Wrapped w = kekWrap(false, key, kek, v.cipherId, key.size() + 8);
        EXPECT_EQ(w.result, 0);
        EXPECT_EQ(hex(w.bytes), v.wrapped);
        const Wrapped u = kekWrap(true, wrapped, kek, v.cipherId, wrapped.size() - 8);
        EXPECT_EQ(u.result, 0);
        EXPECT_EQ(u.bytes, key);
        for (size_t i : {size_t{0}, wrapped.size() / 2, wrapped.size() - 1}) {
            Bytes changed = wrapped;
            changed[i] ^= 0x40;
            EXPECT_EQ(kekWrap(true, changed, kek, v.cipherId, wrapped.size()).result,
                      SG_PKCS7_ERR_WRAP_CHECK);
        }
    }
    const Bytes kek(16, 1);
    EXPECT_EQ(kekWrap(false, Bytes(20, 0), kek, SG_CIPHER_AES128, 64).result,
              SG_PKCS7_ERR_WRAP_LENGTH);
    EXPECT_EQ(kekWrap(false, Bytes(8, 0), kek, SG_CIPHER_AES128, 64).result,
              SG_PKCS7_ERR_WRAP_LENGTH);
    EXPECT_EQ(kekWrap(true, Bytes(16, 0), kek, SG_CIPHER_AES128, 64).result,
              SG_PKCS7_ERR_WRAP_LENGTH);
    // No room: refused, never written past.
    EXPECT_EQ(kekWrap(false, Bytes(16, 0), kek, SG_CIPHER_AES128, 23).result,
              SG_PKI_ERR_OUT_OF_RANGE);
    EXPECT_EQ(kekWrap(false, Bytes(16, 0), Bytes(24, 1), SG_CIPHER_TDES, 64).result,
              SG_PKI_ERR_UNKNOWN_ALGORITHM);
}

Wrapped pwri(bool unwrap, const Bytes& in, const Bytes& kek, int cipherId, const Bytes& iv,
             size_t room) {
    Bytes out(room);
    SGCipherParameter p{};
    p.mode = SG_CIPHER_MODE_CBC;
    p.padding = SG_CIPHER_PADDING_NONE;
    std::memcpy(p.iv, iv.data(), iv.size());
    p.ivLength = static_cast<int>(iv.size());
    SGBinary o{out.data(), static_cast<uint32_t>(room)}, i = viewOf(in), k = viewOf(kek);
    const int r = unwrap ? SGCMSPwri_Unwrap(&o, &i, &k, cipherId, &p)
                         : SGCMSPwri_Wrap(&o, &i, &k, cipherId, &p);
    out.resize(r == 0 ? o.length : 0);
    return {r, out};
}

TEST_F(Enveloped, Rfc3211Wrap) {
    const Bytes kek(16, 0x33), iv(16, 0x44);
    struct Case {
        int cipherId;
        size_t keyLength, wrappedLength;
        Bytes kek, iv;
    };
    const Case cases[] = {
        {SG_CIPHER_AES128, 16, 32, kek, iv},
        {SG_CIPHER_AES128, 24, 32, kek, iv},  // as openssl writes a 24-byte key under AES
        {SG_CIPHER_AES128, 32, 48, kek, iv},
        {SG_CIPHER_SEED, 16, 32, kek, iv},
        {SG_CIPHER_TDES, 24, 32, Bytes(24, 0x21), Bytes(8, 0x55)},
        {SG_CIPHER_DES, 8, 16, Bytes(8, 0x21), Bytes(8, 0x55)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cipherId);
        Bytes key(c.keyLength);
        for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(0xA0 + i);
        const Wrapped w = pwri(false, key, c.kek, c.cipherId, c.iv, 64);
        ASSERT_EQ(w.result, 0);
        EXPECT_EQ(w.bytes.size(), c.wrappedLength);
        const Wrapped u = pwri(true, w.bytes, c.kek, c.cipherId, c.iv, c.keyLength);
        EXPECT_EQ(u.result, 0);
        EXPECT_EQ(u.bytes, key);
        // The length byte must be the expected key length.
        EXPECT_EQ(pwri(true, w.bytes, c.kek, c.cipherId, c.iv, c.keyLength - 1).result,
                  SG_PKCS7_ERR_WRAP_CHECK);
        // A wrong key fails the check bytes; a short or ragged input is refused.
        Bytes otherKek = c.kek;
        otherKek[0] ^= 0x02;  // not a DES parity bit
        EXPECT_EQ(pwri(true, w.bytes, otherKek, c.cipherId, c.iv, c.keyLength).result,
                  SG_PKCS7_ERR_WRAP_CHECK);
        const size_t block = c.iv.size();
        EXPECT_EQ(pwri(true, Bytes(w.bytes.begin(), w.bytes.begin() + block), c.kek, c.cipherId,
                       c.iv, c.keyLength)
                      .result,
                  SG_PKCS7_ERR_WRAP_LENGTH);
        EXPECT_EQ(pwri(true, Bytes(w.bytes.begin(), w.bytes.end() - 1), c.kek, c.cipherId, c.iv,
                       c.keyLength)
                      .result,
                  SG_PKCS7_ERR_WRAP_LENGTH);
    }
    // A key-encryption key below the cipher's minimum; no room.
    EXPECT_EQ(pwri(false, Bytes(16, 1), Bytes(4, 1), SG_CIPHER_AES128, iv, 64).result,
              SG_PKCS7_ERR_WRAP_LENGTH);
    EXPECT_EQ(pwri(false, Bytes(16, 1), kek, SG_CIPHER_AES128, iv, 31).result,
              SG_PKI_ERR_OUT_OF_RANGE);
}

// ---------------------------------------------------------------------------------------------
// Stream forms.

// A stream over bytes held by the object (reads, and writes appended).
struct Buffer {
    SGBinary bytes{};
    SGStream stream{};
    Buffer() { SGStream_InitWithBinary(&stream, &bytes); }
    explicit Buffer(const Bytes& b) {
        SGBinary_Set(&bytes, b.data(), static_cast<uint32_t>(b.size()));
        SGStream_InitWithBinary(&stream, &bytes);
    }
    ~Buffer() {
        SGStream_Reset(&stream);
        SGBinary_Reset(&bytes);
    }
    Bytes get() const { return bytesOf(bytes); }
};

int envelopeStream(Bytes* der, const Bytes& content, SGPKCS7EnvelopedDataParameters* p,
                   const SGX509Certificate* certificate, int cipherId = SG_PKCS7_CIPHER_SEED_CBC) {
    Buffer in(content), out;
    SGPKCS7Recipient recipient{SG_PKCS7_RECIPIENT_CERTIFICATE, certificate};
    const int r =
        SGPKCS7EnvelopedData_EnvelopeStream(&out.stream, &in.stream, cipherId, &recipient, p);
    *der = out.get();
    return r;
}

int openStream(Bytes* content, const Bytes& der, const SGCryptoHandlerKey& key,
               SGPKCS7EnvelopedDataParameters* p = nullptr) {
    Buffer in(der), out;
    const int r = SGPKCS7EnvelopedData_DeenvelopeStream(&out.stream, &in.stream, &key, p);
    *content = out.get();
    return r;
}

// Identifier and length of every node in document order.
void outline(SGSimpleASN* node, std::vector<std::pair<int, uint64_t>>* out) {
    out->emplace_back(node->identifier, node->length);
    for (SGSimpleASN* c = node->firstChild; c; c = c->next) outline(c, out);
}
std::vector<std::pair<int, uint64_t>> outlineOf(const Bytes& der) {
    Buffer in(der);
    SGSimpleASN root{};
    EXPECT_EQ(SGSimpleASN_Parse(&root, &in.stream), 0);
    std::vector<std::pair<int, uint64_t>> o;
    outline(&root, &o);
    SGSimpleASN_Reset(&root);
    return o;
}

// The same TLVs (DER in) with every length in the four-octet long form: BER that DER writes
// shorter.
Bytes longForm(const unsigned char* p, size_t n) {
    Bytes out;
    for (size_t i = 0; i < n;) {
        const unsigned char id = p[i++];
        size_t length = p[i++];
        if (length & 0x80) {
            size_t octets = length & 0x7F;
            for (length = 0; octets > 0; --octets) length = length << 8 | p[i++];
        }
        const Bytes value = (id & 0x20) ? longForm(p + i, length) : Bytes(p + i, p + i + length);
        i += length;
        out.insert(out.end(), {id, 0x84});
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<unsigned char>(value.size() >> shift));
        out.insert(out.end(), value.begin(), value.end());
    }
    return out;
}

TEST_F(Enveloped, LongFormLengthsOpenStreamedAsInMemory) {
    const Bytes der = cmsFile("ktri-seed-m1000.der");
    const Bytes ber = longForm(der.data(), der.size());
    ASSERT_GT(ber.size(), der.size());
    Bytes back;
    ASSERT_EQ(open(&back, ber, rsaKey(kmKey())), 0);
    EXPECT_EQ(back, cmsFile("m1000"));
    back.clear();
    EXPECT_EQ(openStream(&back, ber, rsaKey(kmKey())), 0);
    EXPECT_EQ(back, cmsFile("m1000"));
}

TEST_F(Enveloped, StreamedEnvelopeMatchesTheInMemoryOne) {
    ParsedCertificate km(chain() / "km.der");
    const Bytes m1M = cmsFile("m1M");
    SGPKCS7EnvelopedDataParameters p{};
    p.flags = SG_PKCS7_ENVELOPE_RETURN_KEY;
    Bytes streamed;
    ASSERT_EQ(envelopeStream(&streamed, m1M, &p, &km.handle), 0);
    ASSERT_NE(p.key, nullptr);
    ASSERT_NE(p.iv, nullptr);
    EXPECT_TRUE(opensslOpens(streamed, m1M));
    // The encrypted content is openssl enc's under the key and IV handed back.
    testkit::Scratch scratch;
    testkit::writeBytes(scratch / "m", m1M);
    ASSERT_TRUE(testkit::succeeds("openssl enc" + kLegacy + " -seed-cbc -K " +
                                  hex(bytesOf(*p.key)) + " -iv " + hex(bytesOf(*p.iv)) + " -in " +
                                  quote((scratch / "m").string()) + " -out " +
                                  quote((scratch / "c").string())));
    const Bytes expected = testkit::readBytes(scratch / "c");
    ASSERT_GT(streamed.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), streamed.end() - expected.size()));
    // Tags and lengths are those of the in-memory envelope of the same content.
    Bytes inMemory;
    ASSERT_EQ(envelope(&inMemory, m1M, SG_PKCS7_CIPHER_SEED_CBC, nullptr, &km.handle), 0);
    EXPECT_EQ(outlineOf(streamed), outlineOf(inMemory));
    SGPKCS7EnvelopedDataParameters_Reset(&p);
    // Opened streamed.
    Bytes back;
    EXPECT_EQ(openStream(&back, streamed, rsaKey(kmKey())), 0);
    EXPECT_EQ(back, m1M);
    // In small chunks both ways.
    SGPKCS7EnvelopedDataParameters small{};
    small.chunkSize = 100;
    const Bytes m1000 = cmsFile("m1000");
    ASSERT_EQ(envelopeStream(&streamed, m1000, &small, &km.handle), 0);
    EXPECT_EQ(openStream(&back, streamed, rsaKey(kmKey()), &small), 0);
    EXPECT_EQ(back, m1000);
}

TEST_F(Enveloped, OpensslsEnvelopesOpenStreamed) {
    for (const char* m : {"m0", "m1000", "m1M"}) {
        Bytes back;
        EXPECT_EQ(
            openStream(&back, cmsFile(std::string("ktri-seed-") + m + ".der"), rsaKey(kmKey())), 0)
            << m;
        EXPECT_EQ(back, cmsFile(m)) << m;
    }
    Bytes back;
    EXPECT_EQ(openStream(&back, cmsFile("pwri-aes-256-cbc.der"),
                         bytesKey(SG_PKCS7_RECIPIENT_KEY_PASSWORD, kPassword)),
              0);
    EXPECT_EQ(back, cmsFile("m1000"));
    EXPECT_EQ(openStream(&back, cmsFile("ktri-des-ede3-cbc.der"), rsaKey(kmKey())), 0);
    EXPECT_EQ(back, cmsFile("m1000"));
    // Indefinite lengths: the streaming reader refuses them.
    EXPECT_EQ(openStream(&back, cmsFile("stream.der"), rsaKey(kmKey())), SG_ASN_ERR_DECODE);
    // The first recipient only; a damaged last block; bare input.
    EXPECT_NE(openStream(&back, cmsFile("two.der"), rsaKey(kmKey())), 0);
    ParsedCertificate km(chain() / "km.der");
    Bytes der;
    SGPKCS7EnvelopedDataParameters bare{};
    bare.flags = SG_PKCS7_ENVELOPE_BARE;
    ASSERT_EQ(envelopeStream(&der, cmsFile("m1000"), &bare, &km.handle), 0);
    EXPECT_EQ(openStream(&back, der, rsaKey(kmKey()), &bare), 0);
    EXPECT_EQ(back, cmsFile("m1000"));
    der.back() ^= 1;
    EXPECT_EQ(openStream(&back, der, rsaKey(kmKey()), &bare), 410);
    EXPECT_EQ(openStream(&back, unhex("300F06092A864886F70D010701A0020400"), rsaKey(kmKey())),
              SG_PKCS7_ERR_UNMATCHED_TYPE);
    EXPECT_EQ(openStream(&back,
                         unhex("3011"
                               "06092A864886F70D010703"
                               "A0043002"
                               "0500"),
                         rsaKey(kmKey())),
              SG_ASN_ERR_MALFORMED);
    // Refusals of the stream forms.
    Buffer in, out;
    EXPECT_EQ(SGPKCS7EnvelopedData_EnvelopeStream(&out.stream, &in.stream, SG_PKCS7_CIPHER_SEED_CBC,
                                                  nullptr, nullptr),
              SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(SGPKCS7EnvelopedData_DeenvelopeStream(&out.stream, &in.stream, nullptr, nullptr),
              SG_PKCS7_ERR_NO_RECIPIENT_KEY);
    SGPKCS7EnvelopedDataParameters none{};
    EXPECT_EQ(envelopeStream(&der, cmsFile("m1000"), &none, &km.handle, SG_PKCS7_CIPHER_AES256_CBC),
              10120);
}

}  // namespace
