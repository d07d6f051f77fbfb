// The compiled modules against files made by the openssl command line: every structure decodes
// through the generated types and encodes back byte for byte, down to the nested contents.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "AuthenticatedSafe.h"
#include "AuthorityInfoAccessSyntax.h"
#include "AuthorityKeyIdentifier.h"
#include "BasicConstraints.h"
#include "CRLDistributionPoints.h"
#include "CRLReason.h"
#include "CertBag.h"
#include "Certificate.h"
#include "CertificateList.h"
#include "CertificatePolicies.h"
#include "CertificationRequest.h"
#include "ContentInfo.h"
#include "EncryptedData.h"
#include "EncryptedPrivateKeyInfo.h"
#include "EnvelopedData.h"
#include "ExtKeyUsageSyntax.h"
#include "IdentifyData.h"
#include "KeyUsage.h"
#include "NameConstraints.h"
#include "PBES2-params.h"
#include "PBEParameter.h"
#include "PBKDF2-params.h"
#include "PFX.h"
#include "PrivateKeyInfo.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SafeContents.h"
#include "SignedData.h"
#include "SubjectAltName.h"
#include "SubjectKeyIdentifier.h"
#include "UserNotice.h"
#include "VID.h"
#include "ServiceTestUtil.h"

namespace {

using namespace servicetest;

// A decoded structure with its descriptor.
struct Value {
    void* p = nullptr;
    asn_TYPE_descriptor_t* td = nullptr;
    ~Value() {
        if (p) SGASN1CObject_Free(p, td);
    }
    template <typename T>
    T* as() const {
        return static_cast<T*>(p);
    }
};

// Decodes der as the type and checks that it encodes back to the same bytes.
std::unique_ptr<Value> roundTrip(asn_TYPE_descriptor_t* td, const Bytes& der,
                                 const std::string& what) {
    auto v = std::make_unique<Value>();
    v->td = td;
    SGBinary in = viewOf(der);
    EXPECT_EQ(SGASN1CObject_Decode(&v->p, td, &in), 0) << what << " as " << td->name;
    if (!v->p) return v;
    SGBinary out{};
    EXPECT_EQ(SGASN1CObject_Encode(&out, td, v->p), 0) << what;
    EXPECT_EQ(hex(out), hex(der)) << what << " as " << td->name;
    SGBinary_Reset(&out);
    return v;
}

Bytes anyBytes(const ANY_t& any) {
    return Bytes(any.buf, any.buf + any.size);
}

Bytes octets(const ANY_t& any) {
    SGBinary out{};
    EXPECT_EQ(SGASN1CAny_GetValueAsOctetString(&out, &any), 0);
    Bytes b = bytesOf(out);
    SGBinary_Reset(&out);
    return b;
}

int oidOf(const OBJECT_IDENTIFIER_t& oid) {
    int id = 0;
    SGASN1CObjectIdentifier_Get(&id, &oid);
    return id;
}

std::string dotted(const OBJECT_IDENTIFIER_t& oid) {
    char text[128] = "";
    SGASN1CObjectIdentifier_ToString(text, sizeof text, &oid);
    return text;
}

// Files made once for the whole suite.
class OpenSSLFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new ScratchDir;
        const ScratchDir& d = *dir_;
        ok_ =
            run(d,
                "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                "-keyout ca.key -out ca.pem -subj '/C=KR/O=Acme/CN=Test CA' -days 30 "
                "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign,cRLSign") &&
            run(d,
                "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                "-keyout user.key -out user.pem -subj '/C=KR/O=Acme/CN=User' -days 30") &&
            run(d,
                "openssl req -x509 -newkey rsa:2048 -nodes -keyout rsa.key -out rsa.pem "
                "-subj '/CN=RSA recipient' -days 30") &&
            run(d, "printf 'message body' > msg") &&
            run(d,
                "openssl pkcs12 -export -in user.pem -inkey user.key -certfile ca.pem "
                "-name '김철수의 키' -passout pass:secret -out default.p12") &&
            run(d,
                "openssl pkcs12 -export -in user.pem -inkey user.key -certfile ca.pem "
                "-name '김철수의 키' -passout pass:secret -keypbe NONE -certpbe NONE "
                "-out plain.p12") &&
            run(d,
                "openssl pkcs12 -export -legacy -in user.pem -inkey user.key "
                "-passout pass:secret -out legacy.p12") &&
            run(d, "openssl pkcs8 -topk8 -nocrypt -in user.key -outform DER -out plain.p8") &&
            run(d,
                "openssl pkcs8 -topk8 -v2 aes-128-cbc -in user.key -passout pass:secret "
                "-outform DER -out aes.p8") &&
            run(d,
                "openssl pkcs8 -topk8 -v2 seed-cbc -provider legacy -provider default "
                "-in user.key -passout pass:secret -outform DER -out seed.p8") &&
            run(d,
                "openssl pkcs8 -topk8 -v1 PBE-SHA1-3DES -in user.key -passout pass:secret "
                "-outform DER -out pbe.p8") &&
            run(d,
                "openssl req -new -key user.key -subj '/C=KR/CN=Request' -outform DER "
                "-out req.der") &&
            run(d,
                "openssl cms -sign -binary -nodetach -in msg -signer user.pem -inkey user.key "
                "-certfile ca.pem -outform DER -out signed.der") &&
            run(d,
                "openssl cms -encrypt -binary -aes128 -in msg -recip rsa.pem -outform DER "
                "-out ktri.der") &&
            run(d,
                "openssl cms -encrypt -binary -aes128 -in msg -recip user.pem -outform DER "
                "-out kari.der") &&
            run(d,
                "openssl cms -encrypt -binary -aes128 -in msg -pwri_password secret "
                "-outform DER -out pwri.der") &&
            run(d,
                "openssl cms -EncryptedData_encrypt -binary -aes128 "
                "-secretkey 000102030405060708090A0B0C0D0E0F -in msg -outform DER "
                "-out encrypted.der");
        // A CRL of the CA that revokes the user certificate.
        writeFile(d / "ca.cnf",
                  "[ca]\ndefault_ca = ca_default\n[ca_default]\ndatabase = index.txt\n"
                  "crlnumber = crlnumber\ndefault_md = sha256\ndefault_crl_days = 30\n"
                  "crl_extensions = crl_ext\n[crl_ext]\nauthorityKeyIdentifier = keyid:always\n");
        ok_ = ok_ && run(d, "touch index.txt && echo 01 > crlnumber") &&
              run(d,
                  "openssl ca -config ca.cnf -keyfile ca.key -cert ca.pem -revoke user.pem "
                  "-crl_reason keyCompromise") &&
              run(d,
                  "openssl ca -config ca.cnf -keyfile ca.key -cert ca.pem -gencrl "
                  "-out crl.pem && openssl crl -in crl.pem -outform DER -out crl.der") &&
              run(d, "openssl x509 -in user.pem -outform DER -out user.der");
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(ok_) << "openssl could not make the files"; }
    static Bytes file(const std::string& name) { return readFile(*dir_ / name); }

    static ScratchDir* dir_;
    static bool ok_;
};
ScratchDir* OpenSSLFiles::dir_ = nullptr;
bool OpenSSLFiles::ok_ = false;

// ------------------------------------------------------------------------------------------
// Certificates and their extensions

// Every extension of a certificate decodes with its type and encodes back.
void extensionsRoundTrip(const Certificate_t* cert, const std::string& what, int* seen) {
    const Extensions_t* exts = cert->tbsCertificate.extensions;
    ASSERT_NE(exts, nullptr) << what;
    struct Known {
        int oid;
        asn_TYPE_descriptor_t* td;
    } known[] = {
        {SG_OID_BASIC_CONSTRAINTS, &asn_DEF_BasicConstraints},
        {SG_OID_KEY_USAGE, &asn_DEF_KeyUsage},
        {SG_OID_SUBJECT_KEY_IDENTIFIER, &asn_DEF_SubjectKeyIdentifier},
        {SG_OID_AUTHORITY_KEY_IDENTIFIER, &asn_DEF_AuthorityKeyIdentifier},
        {SG_OID_SUBJECT_ALT_NAME, &asn_DEF_SubjectAltName},
        {SG_OID_CERTIFICATE_POLICIES, &asn_DEF_CertificatePolicies},
        {SG_OID_CRL_DISTRIBUTION_POINTS, &asn_DEF_CRLDistributionPoints},
        {129, &asn_DEF_AuthorityInfoAccessSyntax},
        {SG_OID_NAME_CONSTRAINTS, &asn_DEF_NameConstraints},
        {SG_OID_EXT_KEY_USAGE, &asn_DEF_ExtKeyUsageSyntax},
    };
    for (int i = 0; i < exts->list.count; ++i) {
        const Extension_t* ext = exts->list.array[i];
        const int id = oidOf(ext->extnID);
        bool found = false;
        for (const Known& k : known) {
            if (k.oid != id) continue;
            found = true;
            ++*seen;
            roundTrip(k.td, Bytes(ext->extnValue.buf, ext->extnValue.buf + ext->extnValue.size),
                      what + " extension " + std::to_string(id));
        }
        EXPECT_TRUE(found) << what << ": extension " << dotted(ext->extnID);
    }
}

TEST_F(OpenSSLFiles, CertificatesRoundTripWithEveryExtension) {
    int seen = 0;
    for (const char* name : {"certificate/root.der", "certificate/user.der"}) {
        auto cert = roundTrip(&asn_DEF_Certificate,
                              readFile(std::string(BRINDLOW_TEST_DATA) + "/" + name), name);
        ASSERT_NE(cert->p, nullptr);
        extensionsRoundTrip(cert->as<Certificate_t>(), name, &seen);
    }
    EXPECT_EQ(seen, 3 + 10);  // root: 3 extensions; user: 10
    auto made = roundTrip(&asn_DEF_Certificate, file("user.der"), "user.der");
    ASSERT_NE(made->p, nullptr);
}

TEST_F(OpenSSLFiles, CertificateWithoutVersionKeepsItAbsent) {
    auto cert = roundTrip(&asn_DEF_Certificate,
                          readFile(BRINDLOW_TEST_DATA "/certificate/rsa_v1.der"), "rsa_v1.der");
    ASSERT_NE(cert->p, nullptr);
    const TBSCertificate_t& tbs = cert->as<Certificate_t>()->tbsCertificate;
    EXPECT_EQ(tbs.version, nullptr);
    EXPECT_EQ(tbs.extensions, nullptr);
    EXPECT_EQ(oidOf(tbs.subjectPublicKeyInfo.algorithm.algorithm), SG_OID_RSA_ENCRYPTION);
    EXPECT_EQ(oidOf(tbs.signature.algorithm), SG_OID_SHA256_WITH_RSA);
}

TEST_F(OpenSSLFiles, KisaIdentifyDataAndVid) {
    auto cert = roundTrip(&asn_DEF_Certificate,
                          readFile(BRINDLOW_TEST_DATA "/certificate/user.der"), "user.der");
    ASSERT_NE(cert->p, nullptr);
    const Extensions_t* exts = cert->as<Certificate_t>()->tbsCertificate.extensions;
    const Extension_t* san = nullptr;
    for (int i = 0; i < exts->list.count; ++i)
        if (oidOf(exts->list.array[i]->extnID) == SG_OID_SUBJECT_ALT_NAME)
            san = exts->list.array[i];
    ASSERT_NE(san, nullptr);
    auto names = roundTrip(&asn_DEF_SubjectAltName,
                           Bytes(san->extnValue.buf, san->extnValue.buf + san->extnValue.size),
                           "subjectAltName");
    const GeneralNames_t* list = names->as<GeneralNames_t>();
    ASSERT_EQ(list->list.count, 6);
    const GeneralName_t* other = list->list.array[5];
    ASSERT_EQ(other->present, GeneralName_PR_otherName);
    EXPECT_EQ(oidOf(other->choice.otherName.type_id), SG_OID_KISA_IDENTIFY_DATA);
    auto identify =
        roundTrip(&asn_DEF_IdentifyData, anyBytes(other->choice.otherName.value), "identifyData");
    const IdentifyData_t* data = identify->as<IdentifyData_t>();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data->realName.buf), data->realName.size),
              "김철수");
    ASSERT_NE(data->userInfo, nullptr);
    ASSERT_EQ(data->userInfo->list.count, 1);
    const AttributeTypeAndValue_t* vidAva = data->userInfo->list.array[0];
    EXPECT_EQ(oidOf(vidAva->type), SG_OID_KISA_VID);
    auto vid = roundTrip(&asn_DEF_VID, anyBytes(vidAva->value), "VID");
    EXPECT_EQ(oidOf(vid->as<VID_t>()->hashAlg.algorithm), SG_OID_SHA256);
    const OCTET_STRING_t& id = vid->as<VID_t>()->virtualID;
    EXPECT_EQ(hex(id.buf, id.size),
              "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF");
}

TEST_F(OpenSSLFiles, PolicyNoticeInBmpString) {
    auto cert = roundTrip(&asn_DEF_Certificate,
                          readFile(BRINDLOW_TEST_DATA "/certificate/user.der"), "user.der");
    const Extensions_t* exts = cert->as<Certificate_t>()->tbsCertificate.extensions;
    for (int i = 0; i < exts->list.count; ++i) {
        const Extension_t* ext = exts->list.array[i];
        if (oidOf(ext->extnID) != SG_OID_CERTIFICATE_POLICIES) continue;
        auto policies = roundTrip(
            &asn_DEF_CertificatePolicies,
            Bytes(ext->extnValue.buf, ext->extnValue.buf + ext->extnValue.size), "policies");
        const PolicyInformation_t* info = policies->as<CertificatePolicies_t>()->list.array[0];
        EXPECT_EQ(dotted(info->policyIdentifier), "1.2.410.200004.5.2.1.2");
        ASSERT_NE(info->policyQualifiers, nullptr);
        ASSERT_EQ(info->policyQualifiers->list.count, 2);
        const PolicyQualifierInfo_t* cps = info->policyQualifiers->list.array[0];
        const PolicyQualifierInfo_t* notice = info->policyQualifiers->list.array[1];
        EXPECT_EQ(oidOf(cps->policyQualifierId), SG_OID_CPS_QUALIFIER);
        EXPECT_EQ(oidOf(notice->policyQualifierId), SG_OID_USER_NOTICE_QUALIFIER);
        auto userNotice = roundTrip(&asn_DEF_UserNotice, anyBytes(notice->qualifier), "notice");
        const DisplayText_t* text = userNotice->as<UserNotice_t>()->explicitText;
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->present, DisplayText_PR_bmpString);
        EXPECT_EQ(text->choice.bmpString.size, 26);  // 13 characters
        return;
    }
    FAIL() << "no certificatePolicies";
}

// ------------------------------------------------------------------------------------------
// PKCS #12

// Walks a PFX: every level decodes and encodes back. Returns the number of bags.
int walkPfx(const Bytes& der, const std::string& what, bool* sawFriendlyName) {
    auto pfx = roundTrip(&asn_DEF_PFX, der, what);
    if (!pfx->p) return 0;
    const PFX_t* p = pfx->as<PFX_t>();
    EXPECT_EQ(oidOf(p->authSafe.contentType), SG_OID_DATA);
    EXPECT_NE(p->macData, nullptr) << what;
    if (p->macData) {
        EXPECT_EQ(p->macData->macSalt.size, 8) << what;
        // OpenSSL writes the count even where it equals the default.
        EXPECT_NE(p->macData->iterations, nullptr) << what;
        long iterations = 0;
        if (p->macData->iterations) {
            EXPECT_EQ(SGASN1CInteger_Get(&iterations, p->macData->iterations), 0);
        }
        EXPECT_EQ(iterations, 2048) << what;
    }
    auto authSafe =
        roundTrip(&asn_DEF_AuthenticatedSafe, octets(p->authSafe.content), what + " authSafe");
    int bags = 0;
    const AuthenticatedSafe_t* safes = authSafe->as<AuthenticatedSafe_t>();
    for (int i = 0; safes && i < safes->list.count; ++i) {
        const ContentInfo_t* info = safes->list.array[i];
        const int type = oidOf(info->contentType);
        if (type == SG_OID_ENCRYPTED_DATA) {
            auto enc = roundTrip(&asn_DEF_EncryptedData, anyBytes(info->content),
                                 what + " encrypted safe");
            if (!enc->p) continue;
            const AlgorithmIdentifier_t& alg =
                enc->as<EncryptedData_t>()->encryptedContentInfo.contentEncryptionAlgorithm;
            if (oidOf(alg.algorithm) == SG_OID_PBES2 && alg.parameters)
                roundTrip(&asn_DEF_PBES2_params, anyBytes(*alg.parameters), what + " PBES2");
            continue;
        }
        EXPECT_EQ(type, SG_OID_DATA) << what;
        auto contents = roundTrip(&asn_DEF_SafeContents, octets(info->content), what + " safe");
        const SafeContents_t* sc = contents->as<SafeContents_t>();
        for (int j = 0; sc && j < sc->list.count; ++j, ++bags) {
            const SafeBag_t* bag = sc->list.array[j];
            const int bagId = oidOf(bag->bagId);
            if (bagId == SG_OID_CERT_BAG) {
                auto certBag = roundTrip(&asn_DEF_CertBag, anyBytes(bag->bagValue), what + " cert");
                EXPECT_EQ(oidOf(certBag->as<CertBag_t>()->certId), SG_OID_X509_CERTIFICATE);
                roundTrip(&asn_DEF_Certificate, octets(certBag->as<CertBag_t>()->certValue),
                          what + " bag certificate");
            } else if (bagId == SG_OID_PKCS8_SHROUDED_KEY_BAG) {
                roundTrip(&asn_DEF_EncryptedPrivateKeyInfo, anyBytes(bag->bagValue),
                          what + " shrouded key");
            } else if (bagId == SG_OID_KEY_BAG) {
                roundTrip(&asn_DEF_PrivateKeyInfo, anyBytes(bag->bagValue), what + " key");
            } else {
                ADD_FAILURE() << what << ": bag " << dotted(bag->bagId);
            }
            for (int k = 0; bag->bagAttributes && k < bag->bagAttributes->list.count; ++k) {
                SGBinaryList* values = SGBinaryList_New();
                int id = 0;
                EXPECT_EQ(SGASN1CAttribute_Decode(values, &id, bag->bagAttributes->list.array[k]),
                          0);
                if (id == SG_OID_FRIENDLY_NAME) {
                    *sawFriendlyName = true;
                    EXPECT_EQ(std::string(reinterpret_cast<char*>(values->value.data),
                                          values->value.length),
                              "김철수의 키");
                } else {
                    EXPECT_EQ(id, SG_OID_LOCAL_KEY_ID);
                    EXPECT_EQ(values->value.length, 20u);  // OpenSSL's key hash
                }
                SGBinaryList_Free(values);
            }
        }
    }
    return bags;
}

TEST_F(OpenSSLFiles, Pkcs12FilesRoundTripAtEveryLevel) {
    bool friendly = false;
    // Plain safes: the key bag, the user certificate and the CA certificate.
    EXPECT_EQ(walkPfx(file("plain.p12"), "plain.p12", &friendly), 3);
    EXPECT_TRUE(friendly);
    friendly = false;
    // Default and legacy: the certificates are in an encrypted safe, the key is shrouded.
    EXPECT_EQ(walkPfx(file("default.p12"), "default.p12", &friendly), 1);
    EXPECT_TRUE(friendly);
    walkPfx(file("legacy.p12"), "legacy.p12", &friendly);
}

// ------------------------------------------------------------------------------------------
// PKCS #8 and PKCS #5 parameters

TEST_F(OpenSSLFiles, Pkcs8KeysAndTheirParameters) {
    auto plain = roundTrip(&asn_DEF_PrivateKeyInfo, file("plain.p8"), "plain.p8");
    ASSERT_NE(plain->p, nullptr);
    EXPECT_EQ(oidOf(plain->as<PrivateKeyInfo_t>()->privateKeyAlgorithm.algorithm),
              SG_OID_EC_PUBLIC_KEY);

    struct Case {
        const char* file;
        int scheme;    // encryption-scheme OID id inside PBES2, or 0 for PBES1
        int cipherId;  // crypto cipher id of that scheme
    } cases[] = {{"aes.p8", SG_OID_AES128_CBC, 0}, {"seed.p8", SG_OID_SEED_CBC, 3}};
    for (const Case& c : cases) {
        auto epki = roundTrip(&asn_DEF_EncryptedPrivateKeyInfo, file(c.file), c.file);
        ASSERT_NE(epki->p, nullptr);
        const AlgorithmIdentifier_t& alg =
            epki->as<EncryptedPrivateKeyInfo_t>()->encryptionAlgorithm;
        ASSERT_EQ(oidOf(alg.algorithm), SG_OID_PBES2);
        ASSERT_NE(alg.parameters, nullptr);
        auto pbes2 = roundTrip(&asn_DEF_PBES2_params, anyBytes(*alg.parameters), c.file);
        const PBES2_params_t* params = pbes2->as<PBES2_params_t>();
        EXPECT_EQ(oidOf(params->keyDerivationFunc.algorithm), SG_OID_PBKDF2);
        auto kdf = roundTrip(&asn_DEF_PBKDF2_params,
                             anyBytes(*params->keyDerivationFunc.parameters), c.file);
        const PBKDF2_params_t* pbkdf2 = kdf->as<PBKDF2_params_t>();
        EXPECT_EQ(pbkdf2->salt.present, PBKDF2_params__salt_PR_specified);
        long iterations = 0;
        ASSERT_EQ(SGASN1CInteger_Get(&iterations, &pbkdf2->iterationCount), 0);
        EXPECT_EQ(iterations, 2048);
        EXPECT_EQ(oidOf(params->encryptionScheme.algorithm), c.scheme);
        int cipher = -1, mode = -1;
        EXPECT_EQ(SGASN1CAlgorithmIdentifier_ToCrypto(&cipher, nullptr, nullptr, &mode,
                                                      &params->encryptionScheme),
                  0);
        EXPECT_EQ(cipher, c.cipherId);
        EXPECT_EQ(mode, 2);
        SGBinary iv{};
        ASSERT_EQ(SGASN1CAny_GetValueAsOctetString(&iv, params->encryptionScheme.parameters), 0);
        EXPECT_EQ(iv.length, 16u);
        SGBinary_Reset(&iv);
    }

    auto pbe = roundTrip(&asn_DEF_EncryptedPrivateKeyInfo, file("pbe.p8"), "pbe.p8");
    const AlgorithmIdentifier_t& alg = pbe->as<EncryptedPrivateKeyInfo_t>()->encryptionAlgorithm;
    EXPECT_EQ(oidOf(alg.algorithm), SG_OID_PBE_SHA_3DES);
    auto param = roundTrip(&asn_DEF_PBEParameter, anyBytes(*alg.parameters), "pbe.p8 parameter");
    EXPECT_EQ(param->as<PBEParameter_t>()->salt.size, 8);
}

// ------------------------------------------------------------------------------------------
// PKCS #10, CMS and CRLs

TEST_F(OpenSSLFiles, CertificationRequest) {
    auto req = roundTrip(&asn_DEF_CertificationRequest, file("req.der"), "req.der");
    ASSERT_NE(req->p, nullptr);
    EXPECT_EQ(req->as<CertificationRequest_t>()->certificationRequestInfo.subject.present,
              Name_PR_rdnSequence);
}

TEST_F(OpenSSLFiles, CmsSignedEnvelopedAndEncryptedData) {
    auto signedInfo = roundTrip(&asn_DEF_ContentInfo, file("signed.der"), "signed.der");
    ASSERT_NE(signedInfo->p, nullptr);
    EXPECT_EQ(oidOf(signedInfo->as<ContentInfo_t>()->contentType), SG_OID_SIGNED_DATA);
    auto sd = roundTrip(&asn_DEF_SignedData, anyBytes(signedInfo->as<ContentInfo_t>()->content),
                        "SignedData");
    const SignedData_t* signedData = sd->as<SignedData_t>();
    ASSERT_NE(signedData, nullptr);
    ASSERT_NE(signedData->certificates, nullptr);
    EXPECT_EQ(signedData->certificates->list.count, 2);
    ASSERT_EQ(signedData->signerInfos.list.count, 1);
    const SignerInfo_t* signer = signedData->signerInfos.list.array[0];
    ASSERT_NE(signer->signedAttrs, nullptr);
    EXPECT_GE(signer->signedAttrs->list.count, 3);
    ASSERT_NE(signedData->encapContentInfo.eContent, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(signedData->encapContentInfo.eContent->buf),
                          signedData->encapContentInfo.eContent->size),
              "message body");

    struct Case {
        const char* file;
        RecipientInfo_PR kind;
    } cases[] = {{"ktri.der", RecipientInfo_PR_ktri},
                 {"kari.der", RecipientInfo_PR_kari},
                 {"pwri.der", RecipientInfo_PR_pwri}};
    for (const Case& c : cases) {
        auto info = roundTrip(&asn_DEF_ContentInfo, file(c.file), c.file);
        ASSERT_NE(info->p, nullptr);
        EXPECT_EQ(oidOf(info->as<ContentInfo_t>()->contentType), SG_OID_ENVELOPED_DATA);
        auto env =
            roundTrip(&asn_DEF_EnvelopedData, anyBytes(info->as<ContentInfo_t>()->content), c.file);
        ASSERT_NE(env->p, nullptr);
        const EnvelopedData_t* e = env->as<EnvelopedData_t>();
        ASSERT_EQ(e->recipientInfos.list.count, 1);
        EXPECT_EQ(e->recipientInfos.list.array[0]->present, c.kind) << c.file;
        EXPECT_EQ(oidOf(e->encryptedContentInfo.contentEncryptionAlgorithm.algorithm),
                  SG_OID_AES128_CBC);
    }

    auto encInfo = roundTrip(&asn_DEF_ContentInfo, file("encrypted.der"), "encrypted.der");
    ASSERT_NE(encInfo->p, nullptr);
    EXPECT_EQ(oidOf(encInfo->as<ContentInfo_t>()->contentType), SG_OID_ENCRYPTED_DATA);
    roundTrip(&asn_DEF_EncryptedData, anyBytes(encInfo->as<ContentInfo_t>()->content),
              "EncryptedData");
}

TEST_F(OpenSSLFiles, CertificateRevocationList) {
    auto crl = roundTrip(&asn_DEF_CertificateList, file("crl.der"), "crl.der");
    ASSERT_NE(crl->p, nullptr);
    const TBSCertList_t& tbs = crl->as<CertificateList_t>()->tbsCertList;
    ASSERT_NE(tbs.revokedCertificates, nullptr);
    ASSERT_EQ(tbs.revokedCertificates->list.count, 1);
    const RevokedCertificate_t* entry = tbs.revokedCertificates->list.array[0];
    ASSERT_NE(entry->crlEntryExtensions, nullptr);
    const Extension_t* reason = entry->crlEntryExtensions->list.array[0];
    EXPECT_EQ(oidOf(reason->extnID), SG_OID_CRL_REASON);
    auto code = roundTrip(
        &asn_DEF_CRLReason,
        Bytes(reason->extnValue.buf, reason->extnValue.buf + reason->extnValue.size), "reasonCode");
    long value = -1;
    ASSERT_EQ(asn_INTEGER2long(code->as<CRLReason_t>(), &value), 0);
    EXPECT_EQ(value, CRLReason_keyCompromise);
    // The revoked serial is the user certificate's.
    auto user = roundTrip(&asn_DEF_Certificate, file("user.der"), "user.der");
    const CertificateSerialNumber_t& serial =
        user->as<Certificate_t>()->tbsCertificate.serialNumber;
    EXPECT_EQ(hex(entry->userCertificate.buf, entry->userCertificate.size),
              hex(serial.buf, serial.size));
    ASSERT_NE(tbs.crlExtensions, nullptr);
    EXPECT_EQ(oidOf(tbs.crlExtensions->list.array[0]->extnID), SG_OID_AUTHORITY_KEY_IDENTIFIER);
}

}  // namespace
