// PKCS #7 EncryptedData under the PKCS #12 password schemes: ours opened by openssl (key and IV
// from openssl's own PKCS #12 derivation, the ciphertext by openssl enc), openssl's RC4 safe of a
// PKCS #12 file opened here, the PBEParameter written, the salt handed back, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "EncryptedContentInfo.h"
#include "EncryptedData.h"
#include "PBEParameter.h"
#include "PkiMaterial.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGPKCS7EnvelopedData.h"
#include "SGPKCSError.h"
#include "SGServiceTable.h"

namespace {

using namespace pkitest;
using testkit::hex;
using testkit::quote;
using testkit::unhex;

const std::string kPassword = "q1w2e3r4!@";
const std::string kLegacy = " -provider legacy -provider default";

class EncryptedData : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
};

struct Decoded {
    void* structure = nullptr;
    explicit Decoded(const Bytes& der) {
        SGBinary view = viewOf(der);
        EXPECT_EQ(SGPKCS7Content_Decode(&structure, &view, SG_PKCS7_ENCRYPTED_DATA), 0);
    }
    ~Decoded() { SGPKCS7Content_Reset(&structure, SG_PKCS7_ENCRYPTED_DATA); }
    EncryptedData_t* get() const { return static_cast<EncryptedData_t*>(structure); }
};

Bytes encrypt(const Bytes& content, int cipherId, int64_t iterations = 0, SGBinary salt = {},
              int* result = nullptr) {
    SGPKCS7EncryptedDataParameters p{};
    p.cipherId = cipherId;
    p.iterations = iterations;
    p.salt = salt;
    SGBinary in = viewOf(content), password = viewOf(kPassword), out{};
    const int r = SGPKCS7EncryptedData_Encrypt(&out, &in, &password, nullptr, &p);
    if (result)
        *result = r;
    else
        EXPECT_EQ(r, 0) << cipherId;
    Bytes der = bytesOf(out);
    SGBinary_Reset(&out);
    return der;
}

int decrypt(Bytes* content, const EncryptedData_t* ed, const std::string& pw = kPassword) {
    SGBinary password = viewOf(pw), out{};
    const int r = SGPKCS7EncryptedData_Decrypt(&out, ed, &password, nullptr);
    if (r == 0) *content = bytesOf(out);
    SGBinary_Reset(&out);
    return r;
}

struct PbeParameter {
    Bytes salt;
    long iterations = 0;
};
PbeParameter pbeParameterOf(const EncryptedData_t* ed) {
    PbeParameter out;
    const ANY_t* p = ed->encryptedContentInfo.contentEncryptionAlgorithm.parameters;
    if (!p) return out;
    void* decoded = nullptr;
    SGBinary view{p->buf, static_cast<uint32_t>(p->size)};
    EXPECT_EQ(SGASN1CObject_Decode(&decoded, &asn_DEF_PBEParameter, &view), 0);
    if (!decoded) return out;
    auto* pbe = static_cast<PBEParameter_t*>(decoded);
    out.salt.assign(pbe->salt.buf, pbe->salt.buf + pbe->salt.size);
    SGASN1CInteger_Get(&out.iterations, &pbe->iterationCount);
    SGASN1CObject_Free(decoded, &asn_DEF_PBEParameter);
    return out;
}

// openssl's PKCS #12 derivation: the password as BMPString with its terminating zeros.
Bytes opensslPkcs12Kdf(int id, int length, const PbeParameter& pbe) {
    Bytes bmp;
    for (char c : kPassword) {
        bmp.push_back(0);
        bmp.push_back(static_cast<unsigned char>(c));
    }
    bmp.push_back(0);
    bmp.push_back(0);
    int status = -1;
    const std::string out = testkit::run("openssl kdf -keylen " + std::to_string(length) +
                                             " -kdfopt digest:SHA1 -kdfopt hexpass:" + hex(bmp) +
                                             " -kdfopt hexsalt:" + hex(pbe.salt) +
                                             " -kdfopt iter:" + std::to_string(pbe.iterations) +
                                             " -kdfopt id:" + std::to_string(id) + " PKCS12KDF",
                                         &status);
    EXPECT_EQ(status, 0) << out;
    return unhex(out);
}

TEST_F(EncryptedData, OpensslDecryptsEveryScheme) {
    struct Case {
        int id;
        const char* cipher;
        int keyLength;
        bool iv;
    };
    const Case cases[] = {
        {SG_PKCS7_PBE_SHA_RC4_128, "rc4", 16, false},
        {SG_PKCS7_PBE_SHA_3DES, "des-ede3-cbc", 24, true},
        {SG_PKCS7_PBE_SHA_2DES, "des-ede-cbc", 16, true},
        {SG_PKCS7_PBE_SHA_RC2_128, "rc2-cbc", 16, true},
        {SG_PKCS7_PBE_SHA_RC2_40, "rc2-40-cbc", 5, true},
    };
    testkit::Scratch scratch;
    Bytes content(1000);
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<unsigned char>(i * 7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cipher);
        const Bytes der = encrypt(content, c.id);
        Decoded ed(der);
        ASSERT_NE(ed.get(), nullptr);
        const PbeParameter pbe = pbeParameterOf(ed.get());
        EXPECT_EQ(pbe.salt.size(), 8u);
        EXPECT_EQ(pbe.iterations, 2048);  // 0 asks for the default
        const OCTET_STRING_t* ct = ed.get()->encryptedContentInfo.encryptedContent;
        ASSERT_NE(ct, nullptr);
        // RC4 runs as a stream: no padding.
        EXPECT_EQ(static_cast<size_t>(ct->size), c.iv ? 1000u + 8 - 1000 % 8 : 1000u);
        const fs::path in = scratch.path() / "ct", out = scratch.path() / "pt";
        testkit::writeBytes(in, Bytes(ct->buf, ct->buf + ct->size));
        std::string command = "openssl enc" + kLegacy + " -d -" + c.cipher + " -K " +
                              hex(opensslPkcs12Kdf(1, c.keyLength, pbe));
        if (c.iv) command += " -iv " + hex(opensslPkcs12Kdf(2, 8, pbe));
        command += " -in " + quote(in.string()) + " -out " + quote(out.string());
        ASSERT_TRUE(testkit::succeeds(command)) << command;
        EXPECT_EQ(testkit::readBytes(out), content);
        Bytes back;
        EXPECT_EQ(decrypt(&back, ed.get()), 0);
        EXPECT_EQ(back, content);
    }
}

TEST_F(EncryptedData, OpensslsRc4SafeOpens) {
    // A PKCS #12 file whose certificates lie in an RC4 EncryptedData: take the safe out of the
    // AuthenticatedSafe and open it.
    testkit::Scratch scratch;
    const fs::path p12 = scratch.path() / "rc4.p12";
    ASSERT_TRUE(testkit::succeeds("openssl pkcs12 -export" + kLegacy +
                                  " -certpbe PBE-SHA1-RC4-128 -keypbe PBE-SHA1-3DES" + " -in " +
                                  quote((chain() / "km.pem").string()) + " -inkey " +
                                  quote((chain() / "km.key").string()) + " -passout " +
                                  quote("pass:" + kPassword) + " -out " + quote(p12.string())));
    const Bytes pfx = testkit::readBytes(p12);
    SGPKCS7Element outer, version, authSafe;
    ASSERT_EQ(SGPKCS7Element_Read(&outer, pfx.data(), pfx.size()), 0);
    const unsigned char* at = outer.at + outer.header;
    ASSERT_EQ(SGPKCS7Element_Read(&version, at, outer.content), 0);
    ASSERT_EQ(SGPKCS7Element_Read(&authSafe, at + version.length, outer.content - version.length),
              0);
    SGBinary authView{const_cast<unsigned char*>(authSafe.at),
                      static_cast<uint32_t>(authSafe.length)};
    SGPKCS7ContentInfo info{};
    ASSERT_EQ(SGPKCS7ContentInfo_Decode(&info, &authView), 0);
    ASSERT_EQ(info.type, SG_PKCS7_DATA);
    SGPKCS7Element octets, safes;
    ASSERT_EQ(SGPKCS7Element_Read(&octets, info.content->data, info.content->length), 0);
    ASSERT_EQ(SGPKCS7Element_Read(&safes, octets.at + octets.header, octets.content), 0);
    int opened = 0;
    for (size_t off = 0; off < safes.content;) {
        SGPKCS7Element safe;
        ASSERT_EQ(SGPKCS7Element_Read(&safe, safes.at + safes.header + off, safes.content - off),
                  0);
        off += safe.length;
        SGBinary safeView{const_cast<unsigned char*>(safe.at), static_cast<uint32_t>(safe.length)};
        SGPKCS7ContentInfo inner{};
        ASSERT_EQ(SGPKCS7ContentInfo_Decode(&inner, &safeView), 0);
        if (inner.type == SG_PKCS7_ENCRYPTED_DATA) {
            Decoded ed(bytesOf(*inner.content));
            SGPKCS7EncryptedContentInfo record{};
            ASSERT_EQ(
                SGPKCS7ASN1C_GetEncryptedContentInfo(&record, &ed.get()->encryptedContentInfo), 0);
            EXPECT_EQ(record.cipherId, SG_PKCS7_PBE_SHA_RC4_128);
            SGPKCS7EncryptedContentInfo_Clear(&record);
            Bytes plain;
            ASSERT_EQ(decrypt(&plain, ed.get()), 0);
            // SafeContents holding the certificate's DER.
            const Bytes cert = testkit::readBytes(chain() / "km.der");
            EXPECT_NE(std::search(plain.begin(), plain.end(), cert.begin(), cert.end()),
                      plain.end());
            ++opened;
        }
        SGPKCS7ContentInfo_Reset(&inner);
    }
    SGPKCS7ContentInfo_Reset(&info);
    EXPECT_EQ(opened, 1);
}

TEST_F(EncryptedData, SaltGoesOnlyIntoABufferOfItsLength) {
    const Bytes content = {'a', 'b', 'c'};
    unsigned char eight[8] = {}, four[4] = {1, 2, 3, 4};
    unsigned char guard[12] = {};
    std::memcpy(guard, four, 4);
    const Bytes der = encrypt(content, SG_PKCS7_PBE_SHA_3DES, 5, SGBinary{eight, 8});
    Decoded ed(der);
    const PbeParameter pbe = pbeParameterOf(ed.get());
    EXPECT_EQ(pbe.iterations, 5);
    EXPECT_EQ(pbe.salt, Bytes(eight, eight + 8));
    // A short buffer stays as it was; the salt is fresh each time.
    const Bytes again = encrypt(content, SG_PKCS7_PBE_SHA_3DES, 5, SGBinary{guard, 4});
    EXPECT_EQ(std::memcmp(guard, four, 4), 0);
    EXPECT_EQ(Bytes(guard + 4, guard + 12), Bytes(8, 0));
    Decoded ed2(again);
    EXPECT_NE(pbeParameterOf(ed2.get()).salt, pbe.salt);
    Bytes back;
    EXPECT_EQ(decrypt(&back, ed2.get()), 0);
    EXPECT_EQ(back, content);
}

TEST_F(EncryptedData, Refusals) {
    const Bytes content = {'x'};
    int r = 0;
    for (int id : {int{SG_PKCS7_CIPHER_SEED_CBC}, int{SG_PKCS7_CIPHER_RC2_CBC}, 114, 0}) {
        encrypt(content, id, 0, {}, &r);
        EXPECT_EQ(r, SG_PKI_ERR_UNKNOWN_ALGORITHM) << id;
    }
    encrypt(content, SG_PKCS7_PBE_SHA_RC4_40, 0, {}, &r);
    EXPECT_EQ(r, 414);  // RC4 keys below 8 bytes
    for (int64_t it : {int64_t{-1}, int64_t{1} << 40}) {
        encrypt(content, SG_PKCS7_PBE_SHA_3DES, it, {}, &r);
        EXPECT_EQ(r, SG_PKI_ERR_ARGUMENT) << it;
    }
    SGBinary out{}, in = viewOf(content), password = viewOf(kPassword);
    EXPECT_EQ(SGPKCS7EncryptedData_Encrypt(&out, &in, &password, nullptr, nullptr),
              SG_PKI_ERR_ARGUMENT);

    const Bytes der = encrypt(Bytes(40, 'z'), SG_PKCS7_PBE_SHA_3DES);
    Decoded ed(der);
    Bytes back;
    EXPECT_EQ(decrypt(&back, ed.get(), "wrong password"), 410);
    EXPECT_EQ(decrypt(&back, nullptr), SG_PKI_ERR_ARGUMENT);
    // Without its PBEParameter.
    ANY_t* parameters = ed.get()->encryptedContentInfo.contentEncryptionAlgorithm.parameters;
    ed.get()->encryptedContentInfo.contentEncryptionAlgorithm.parameters = nullptr;
    EXPECT_EQ(decrypt(&back, ed.get()), SG_PKCS7_ERR_NO_PBE_PARAMETERS);
    ed.get()->encryptedContentInfo.contentEncryptionAlgorithm.parameters = parameters;
    // A content cipher where a password-based one belongs.
    OBJECT_IDENTIFIER_t& algorithm =
        ed.get()->encryptedContentInfo.contentEncryptionAlgorithm.algorithm;
    ASSERT_EQ(SGASN1CObjectIdentifier_Set(&algorithm, SG_OID_SEED_CBC), 0);
    EXPECT_EQ(decrypt(&back, ed.get()), SG_PKI_ERR_UNKNOWN_ALGORITHM);
    ASSERT_EQ(SGASN1CObjectIdentifier_Set(&algorithm, SG_OID_SHA1), 0);
    EXPECT_EQ(decrypt(&back, ed.get()), SG_PKCS7_ERR_ALGORITHM);
}

TEST_F(EncryptedData, EncryptedContentInfoRecordBothWays) {
    // Only SEED and the password-based ids are written; AES is read.
    EncryptedContentInfo_t eci{};
    const Bytes iv = unhex("041000112233445566778899AABBCCDDEEFF"), ciphertext = {1, 2, 3};
    SGBinary ivView = viewOf(iv), ct = viewOf(ciphertext);
    SGPKCS7EncryptedContentInfo record{SG_PKCS7_DATA, SG_PKCS7_CIPHER_AES128_CBC, &ivView, &ct};
    EXPECT_EQ(SGPKCS7ASN1C_SetEncryptedContentInfo(&eci, &record), SG_PKCS7_ERR_ALGORITHM);
    record.contentType = 7;
    EXPECT_EQ(SGPKCS7ASN1C_SetEncryptedContentInfo(&eci, &record), SG_PKCS7_ERR_CONTENT_TYPE);
    SGASN1CObject_Clear(&eci, &asn_DEF_EncryptedContentInfo);
    record.contentType = SG_PKCS7_DATA;
    record.cipherId = SG_PKCS7_CIPHER_SEED_CBC;
    ASSERT_EQ(SGPKCS7ASN1C_SetEncryptedContentInfo(&eci, &record), 0);
    ASSERT_EQ(
        SGASN1CObjectIdentifier_Set(&eci.contentEncryptionAlgorithm.algorithm, SG_OID_AES128_CBC),
        0);
    SGPKCS7EncryptedContentInfo read{};
    ASSERT_EQ(SGPKCS7ASN1C_GetEncryptedContentInfo(&read, &eci), 0);
    EXPECT_EQ(read.cipherId, SG_PKCS7_CIPHER_AES128_CBC);
    EXPECT_EQ(read.contentType, SG_PKCS7_DATA);
    EXPECT_EQ(bytesOf(*read.parameters), iv);
    EXPECT_EQ(bytesOf(*read.encryptedContent), (Bytes{1, 2, 3}));
    SGPKCS7EncryptedContentInfo_Clear(&read);
    EXPECT_EQ(read.parameters, nullptr);
    SGASN1CObject_Clear(&eci, &asn_DEF_EncryptedContentInfo);
    EXPECT_EQ(SGPKCS7_GetKeyLength(SG_PKCS7_CIPHER_AES256_CBC), 32);
    EXPECT_EQ(SGPKCS7_GetKeyLength(SG_PKCS7_CIPHER_RC2_CBC), 0);
    int crypto = -1;
    EXPECT_EQ(SGPKCS7_GetCipherID(&crypto, SG_PKCS7_CIPHER_DES_EDE3_CBC), 0);
    EXPECT_EQ(crypto, 8);
    EXPECT_EQ(SGPKCS7_GetCipherID(&crypto, SG_PKCS7_PBE_SHA_3DES), SG_PKCS7_ERR_ALGORITHM);
}

}  // namespace
