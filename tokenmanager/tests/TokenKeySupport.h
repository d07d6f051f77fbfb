// Material and a token of the key tests: key files and certificates made by the openssl command
// line once per build folder (testkit/KitCache.h), a KCDSA key of the standard's examples, and a
// token that signs and exports like the disk token does, over keys and certificates it is given.
#pragma once

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "KitCache.h"
#include "SGBaseTable.h"
#include "SGOS.h"
#include "SGCryptoHandler.h"
#include "SGDSKey.h"
#include "SGX509Certificate.h"
#include "TestKit.h"
#include "Token.h"
#include "TokenTestSupport.h"

namespace keytest {

namespace fs = std::filesystem;
using testkit::Bytes;

inline const std::string kPassword = "q1w2e3r4!@";
// The password of "km-other/key.der", the key-management key under a password of its own.
inline const std::string kOtherPassword = "another#Pass1";
// The randomNum attribute of the key file "random/key.der".
inline const std::string kRandomHex = "1F2E3D4C5B6A79880011223344556677A1B2C3D4";

// One example of the KCDSA standard's appendix, as hex: II.2 (2048-bit p, 224-bit q, SHA-256)
// unless another set is named.
struct KcdsaExample {
    std::string p, q, g, x, y, message;
};

inline const KcdsaExample& kcdsaExample(const std::string& set = "II.2") {
    static const std::map<std::string, KcdsaExample> examples = [] {
        std::map<std::string, KcdsaExample> sets;
        const std::string text = testkit::readText(std::string(BRINDLOW_TESTKIT_DIR) +
                                                   "/../crypto/tests/data/kcdsa_ttak.vec");
        std::istringstream in(text);
        std::string message, name;
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find(" = ");
            if (eq == std::string::npos) continue;
            const std::string key = line.substr(0, eq), value = line.substr(eq + 3);
            if (key == "M") message = value;
            if (key == "Set") {
                name = value;
                sets[name].message = message;
            }
            if (name.empty()) continue;
            KcdsaExample& e = sets[name];
            if (key == "P") e.p = value;
            if (key == "Q") e.q = value;
            if (key == "G") e.g = value;
            if (key == "X") e.x = value;
            if (key == "Y") e.y = value;
        }
        return sets;
    }();
    return examples.at(set);
}

inline bool makeMaterial(const fs::path& work) {
    std::string output;
    auto fail = [&](const std::string& what) {
        ADD_FAILURE() << "making the key material failed (" << what << "):\n" << output;
        return false;
    };
    if (!testkit::pki("chain", work / "chain", {kPassword}, &output)) return fail("chain");
    const std::string pki = "bash " + testkit::quote(std::string(BRINDLOW_TESTKIT_DIR) + "/pki.sh");
    const std::string signKey = testkit::quote((work / "chain" / "sign.key").string());
    const std::string kmKey = testkit::quote((work / "chain" / "km.key").string());
    const std::string pw = testkit::quote(kPassword);
    auto at = [&](const std::string& name) { return testkit::quote((work / name).string()); };
    const KcdsaExample& k = kcdsaExample();
    const std::string domain = k.p + " " + k.q + " " + k.g + " " + k.x;
    std::string command = "pids=''; ";
    auto add = [&](const std::string& call) { command += "(" + call + ") & pids=\"$pids $!\"; "; };
    add(pki + " pkcs8 " + at("plain") + " seed-cbc " + pw + " " + signKey);
    add(pki + " pkcs8 " + at("des3") + " des3 " + pw + " " + signKey);
    add(pki + " pkcs8 " + at("ceiling") + " aes-128-cbc:hmacWithSHA1@1000001 " + pw + " " +
        signKey);
    add("mkdir -p " + at("ec") + " && openssl genpkey -algorithm EC -pkeyopt " +
        "ec_paramgen_curve:P-256 -out " + at("ec/key.pem") + " && " + pki + " pkcs8 " + at("ec") +
        " seed-cbc " + pw + " " + at("ec/key.pem"));
    add(pki + " kisa_key " + at("random") + " npki " + pw + " " + signKey + " " + kRandomHex);
    add(pki + " kcdsa_key " + at("kcdsa1") + " " + domain + " 1.2.410.200004.1.1 " + pw);
    add(pki + " kcdsa_key " + at("kcdsa2") + " " + domain + " 1.2.410.200004.1.21 " + pw);
    // A GPKI certificate of the example's key, issued by a government CA (the chain CA's key
    // under "O=Government of Korea", as listings of GPKI folders want), one of p - y instead
    // (outside the subgroup of order q; the example's x is even, so x takes it to g all the
    // same), and keys that are not the example's: another x in its domain (set II.1's), and set
    // II.1's own pair of another domain.
    add("mkdir -p " + at("gov-ca") + " && cp " + at("chain/ca.key") + " " + at("gov-ca/ca.key") +
        " && openssl req -x509 -new -key " + at("gov-ca/ca.key") +
        " -subj '/C=KR/O=Government of Korea/CN=GPKI Test CA' -days 3650 -out " +
        at("gov-ca/ca.pem") + " && " + pki + " kcdsa-cert " + at("kcdsa-gov") + " " + at("gov-ca") +
        " " + k.p + " " + k.q + " " + k.g + " " + k.y +
        " 1.2.410.200004.1.1 4C 'Government of Korea' 'KCDSA Signer' && " + pki + " kcdsa-cert " +
        at("kcdsa-negated") + " " + at("gov-ca") + " " + k.p + " " + k.q + " " + k.g +
        " $(python3 -c 'print(\"%x\" % (int(\"" + k.p + "\", 16) - int(\"" + k.y +
        "\", 16)))') 1.2.410.200004.1.1 4D 'Government of Korea' 'KCDSA Signer' && " + pki +
        " kcdsa-forged " + at("kcdsa-forged") + " " + at("gov-ca") + " " + k.p + " " + k.q + " " +
        k.g + " " + k.y);
    const KcdsaExample& other = kcdsaExample("II.1");
    add(pki + " kcdsa_key " + at("kcdsa-otherx") + " " + k.p + " " + k.q + " " + k.g + " " +
        other.x);
    add(pki + " kcdsa_key " + at("kcdsa-otherdomain") + " " + other.p + " " + other.q + " " +
        other.g + " " + other.x);
    add(pki + " cert_variants " + at("certs"));
    // A certificate of the signing key whose serial number has 21 bytes, which the library
    // does not read.
    add("mkdir -p " + at("serial21") + " && openssl req -new -key " + signKey +
        " -subj '/C=KR/O=Brindlow Test/OU=personal/CN=Long Serial' -out " + at("serial21/req.csr") +
        " && openssl x509 -req -in " + at("serial21/req.csr") + " -CA " + at("chain/ca.pem") +
        " -CAkey " + at("chain/ca.key") +
        " -set_serial 0x7F0102030405060708090A0B0C0D0E0F1011121314 -days 3650 -out " +
        at("serial21/cert.pem"));
    // A KCDSA PrivateKeyInfo whose privateKey holds no INTEGER.
    add("mkdir -p " + at("cut-kcdsa") + " && cd " + at("cut-kcdsa") + " && printf '%s\\n' " +
        "'asn1=SEQUENCE:info' '[info]' 'version=INTEGER:0' 'algorithm=SEQUENCE:kcdsa' " +
        "'key=FORMAT:HEX,OCTETSTRING:0401FF' '[kcdsa]' 'oid=OID:1.2.410.200004.1.1' " +
        "'domain=SEQUENCE:domain' '[domain]' 'p=INTEGER:0x" + k.p + "' 'q=INTEGER:0x" + k.q +
        "' 'g=INTEGER:0x" + k.g + "' > plain.cnf && openssl asn1parse -genconf plain.cnf " +
        "-noout -out plain.der");
    // A PrivateKeyInfo whose RSA key is cut after its version.
    add("mkdir -p " + at("cut-rsa") + " && cd " + at("cut-rsa") + " && printf '%s\\n' " +
        "'asn1=SEQUENCE:info' '[info]' 'version=INTEGER:0' 'algorithm=SEQUENCE:rsa' " +
        "'key=FORMAT:HEX,OCTETSTRING:3003020100' '[rsa]' 'oid=OID:rsaEncryption' " +
        "'parameters=NULL' > plain.cnf && openssl asn1parse -genconf plain.cnf -noout -out " +
        "plain.der");
    // A PrivateKeyInfo with an attribute of a type outside the library's OID table, as a key file.
    add("mkdir -p " + at("attribute") + " && cd " + at("attribute") + " && openssl rsa -in " +
        signKey + " -traditional -outform DER -out rsa.der && printf '%s\\n' " +
        "'asn1=SEQUENCE:info' '[info]' 'version=INTEGER:0' 'algorithm=SEQUENCE:rsa' " +
        "\"key=FORMAT:HEX,OCTETSTRING:$(od -An -tx1 -v rsa.der | tr -d ' \\n')\" " +
        "'attributes=IMPLICIT:0,SET:attributes' '[rsa]' 'oid=OID:rsaEncryption' " +
        "'parameters=NULL' '[attributes]' 'other=SEQUENCE:other' '[other]' " +
        "'type=OID:1.2.3.4.5.6.7' 'values=SET:values' '[values]' 'value=UTF8:unknown' " +
        "> plain.cnf && openssl asn1parse -genconf plain.cnf -noout -out plain.der && " + pki +
        " kisa_encrypt " + at("attribute") + " npki " + pw);
    // The signing key as RSAPrivateKey, its public half as PEM and as RSAPublicKey.
    add("openssl rsa -in " + signKey + " -traditional -outform DER -out " + at("sign-rsa.der") +
        " && openssl pkey -in " + signKey + " -pubout -out " + at("sign-pub.pem") +
        " && openssl rsa -in " + signKey + " -RSAPublicKey_out -outform DER -out " +
        at("sign-rsapub.der"));
    // Key files under other schemes, and the key-management key under a password of its own.
    add(pki + " pkcs8 " + at("aes256") + " aes-256-cbc " + pw + " " + signKey);
    add(pki + " pkcs8 " + at("3des") + " PBE-SHA1-3DES " + pw + " " + kmKey);
    add(pki + " pkcs8 " + at("km-other") + " seed-cbc " + testkit::quote(kOtherPassword) + " " +
        kmKey);
    // The key-management key's PrivateKeyInfo, RSAPrivateKey and public half; the signing key's
    // PrivateKeyInfo.
    add("openssl pkcs8 -topk8 -nocrypt -in " + kmKey + " -outform DER -out " + at("km-plain.der") +
        " && openssl pkcs8 -topk8 -nocrypt -in " + signKey + " -outform DER -out " +
        at("sign-plain.der") + " && openssl rsa -in " + kmKey + " -traditional -outform DER -out " +
        at("km-rsa.der") + " && openssl pkey -in " + kmKey + " -pubout -out " + at("km-pub.pem"));
    // GPKI certificates: the issuer's O= must be the government's, so they sign themselves.
    const std::string gov = "/C=KR/O=Government of Korea/OU=Ministry of Testing/CN=Kim Chulsoo";
    add("mkdir -p " + at("gpki") + " && openssl req -x509 -new -key " + signKey + " -subj '" + gov +
        "' -days 3650 -addext keyUsage=critical,digitalSignature,nonRepudiation " +
        "-outform DER -out " + at("gpki/sig.cer") + " && openssl req -x509 -new -key " + kmKey +
        " -subj '" + gov + "' -days 3650 -addext keyUsage=critical,keyEncipherment " +
        "-outform DER -out " + at("gpki/env.cer"));
    command += "s=0; for p in $pids; do wait $p || s=1; done; exit $s";
    if (!testkit::succeeds(command, &output)) return fail("recipes");
    return true;
}

// Changed whenever makeMaterial makes something new.
inline const std::string kMaterialVersion = "7";

inline const fs::path& material() {
    static const fs::path dir = testkit::madeOnce(
        "token-keys",
        testkit::recipeKey({"chain", "pkcs8", "kisa_encrypt", "kisa_key", "kcdsa_key", "kcdsa-cert",
                            "kcdsa-forged", "cert_variants"}) +
            kRandomHex + kcdsaExample().x + kMaterialVersion,
        makeMaterial);
    return dir;
}

inline Bytes materialFile(const std::string& relative) {
    if (material().empty()) return {};
    return testkit::readBytes(material() / relative);
}

inline unsigned char* data(Bytes& b) {
    return b.empty() ? nullptr : b.data();
}

inline unsigned char* text(const std::string& s) {
    return reinterpret_cast<unsigned char*>(const_cast<char*>(s.data()));
}

inline Bytes bytesOf(const SGBinary& b) {
    return b.data ? Bytes(b.data, b.data + b.length) : Bytes();
}

inline Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// DER INTEGER of a positive big-endian value given as hex.
inline Bytes derInteger(const std::string& hex) {
    Bytes value = testkit::unhex(hex);
    if (!value.empty() && (value[0] & 0x80)) value.insert(value.begin(), 0);
    Bytes out = {0x02};
    if (value.size() < 128) {
        out.push_back(static_cast<unsigned char>(value.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<unsigned char>(value.size() >> 8));
        out.push_back(static_cast<unsigned char>(value.size()));
    }
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

// The SHA-256 DigestInfo of a message, the digest by openssl dgst.
inline Bytes sha256DigestInfo(const Bytes& message) {
    testkit::Scratch dir("keys");
    testkit::writeBytes(dir / "m", message);
    testkit::succeeds("openssl dgst -sha256 -binary -out " + testkit::quote((dir / "d").string()) +
                      " " + testkit::quote((dir / "m").string()));
    Bytes info = testkit::unhex("3031300d060960864801650304020105000420");
    const Bytes digest = testkit::readBytes(dir / "d");
    info.insert(info.end(), digest.begin(), digest.end());
    return digest.size() == 32 ? info : Bytes();
}

// openssl pkeyutl's verdict on a PKCS #1 v1.5 signature over the data as given.
inline bool opensslVerifies(const std::string& publicPem, const Bytes& input,
                            const Bytes& signature, std::string* output = nullptr) {
    testkit::Scratch dir("keys");
    testkit::writeBytes(dir / "in", input);
    testkit::writeBytes(dir / "sig", signature);
    return testkit::succeeds("openssl pkeyutl -verify -pubin -inkey " + testkit::quote(publicPem) +
                                 " -in " + testkit::quote((dir / "in").string()) + " -sigfile " +
                                 testkit::quote((dir / "sig").string()),
                             output);
}

// openssl pkeyutl's encryption of the message to the public key (PKCS #1 v1.5 unless the options
// say otherwise).
inline Bytes opensslEncrypt(const std::string& pem, const Bytes& message,
                            const testkit::Scratch& dir, const std::string& options = "") {
    testkit::writeBytes(dir / "message", message);
    if (!testkit::succeeds("openssl pkeyutl -encrypt -pubin -inkey " + testkit::quote(pem) + " " +
                           options + " -in " + testkit::quote((dir / "message").string()) +
                           " -out " + testkit::quote((dir / "cipher").string())))
        return {};
    return testkit::readBytes(dir / "cipher");
}

// A signature made by the PKI layer's crypto handler through the key callbacks of a context.
struct Signed {
    int rc;
    Bytes signature;
};

inline Signed signThroughHandler(TokenKeyCallbackContext& context, const Bytes& message,
                                 unsigned int algorithm, const int* options = nullptr,
                                 int direct = 0) {
    SGCryptoHandlerKey key{};
    key.type = SG_CRYPTO_HANDLER_CALLBACK;
    key.form.signer.keySize = P1GetKeySizeCallback;
    key.form.signer.sign = P1SignCallback;
    key.form.signer.userData = &context;
    key.form.signer.direct = direct;
    Bytes buffer(512);
    SGBinary signature{buffer.data(), static_cast<uint32_t>(buffer.size())};
    const SGBinary in{const_cast<unsigned char*>(message.data()),
                      static_cast<uint32_t>(message.size())};
    const int rc = SGCryptoHandler_Sign(&signature, &in, algorithm, &key, options);
    buffer.resize(rc == 0 ? signature.length : 0);
    return {rc, buffer};
}

// The crypto library's verdict on a KCDSA signature (SHA-256) of the standard's example key.
inline int kcdsaVerify(const Bytes& signature, const Bytes& message) {
    const KcdsaExample& k = kcdsaExample();
    const Bytes y = derInteger(k.y);
    const Bytes domain = materialFile("kcdsa1/domain.der");
    SGDSKey key{};
    int rc = SGDSKey_Decode(&key, y.data(), static_cast<int>(y.size()), SG_DSKEY_KCDSA_PUBLIC);
    if (rc != 0) return rc;
    SGDSParameter p{};
    p.kind = SG_DS_KCDSA;
    p.key = &key;
    p.kcdsaHashId = 5;
    p.kcdsaDomainParameters = domain.data();
    p.kcdsaDomainParametersLength = static_cast<uint32_t>(domain.size());
    rc = SGDS_Verify(signature.data(), static_cast<int>(signature.size()), message.data(),
                     static_cast<int>(message.size()), &p);
    SGDSKey_Clear(&key);
    return rc;
}

// Every buffer the token manager releases through the Base table can be checked for secrets:
// the table's allocation slots are hooked while a BaseAllocationHook lives, and each released
// buffer (its whole usable size) is searched for every byte string in gReleased.secrets.
struct Released {
    std::vector<Bytes> secrets;
    int checked = 0;
    int allocations = 0;
    std::vector<std::string> hits;
};
inline Released gReleased;

inline void* trackingCalloc(uint32_t count, uint32_t size) {
    ++gReleased.allocations;
    return SGOS_calloc(count, size);
}

inline void trackingFree(void* p) {
    if (p) {
        const size_t size = malloc_usable_size(p);
        const auto* bytes = static_cast<const unsigned char*>(p);
        ++gReleased.checked;
        for (const Bytes& s : gReleased.secrets)
            if (std::search(bytes, bytes + size, s.begin(), s.end()) != bytes + size)
                gReleased.hits.push_back(testkit::hex(Bytes(s.begin(), s.begin() + 4)));
    }
    SGOS_free(p);
}

class BaseAllocationHook {
  public:
    BaseAllocationHook() {
        saved_[0] = Base[SGBaseSlot_SGOS_calloc];
        saved_[1] = Base[SGBaseSlot_SGOS_free];
        Base[SGBaseSlot_SGOS_calloc] = reinterpret_cast<void*>(&trackingCalloc);
        Base[SGBaseSlot_SGOS_free] = reinterpret_cast<void*>(&trackingFree);
    }
    ~BaseAllocationHook() {
        Base[SGBaseSlot_SGOS_calloc] = saved_[0];
        Base[SGBaseSlot_SGOS_free] = saved_[1];
    }
    BaseAllocationHook(const BaseAllocationHook&) = delete;
    BaseAllocationHook& operator=(const BaseAllocationHook&) = delete;

  private:
    void* saved_[2];
};

// Answers every password request with its password, or cancels.
class Password : public InputPINHandler {
  public:
    explicit Password(std::string pin) : pin_(std::move(pin)) {}
    int inputPIN(char* out, TokenType, InputPINPurpose purpose) override {
        ++asked;
        lastPurpose = purpose;
        std::strncpy(out, pin_.c_str(), 127);
        return answer;
    }
    int inputDoublePin(char* out, TokenType type, InputPINPurpose purpose) override {
        return inputPIN(out, type, purpose);
    }
    int inputTriplePin(char* oldOut, char* newOut, TokenType type,
                       InputPINPurpose purpose) override {
        std::strncpy(newOut, pin_.c_str(), 127);
        return inputPIN(oldOut, type, purpose);
    }
    int inputTokenPIN(char* out, const char*, TokenType type, InputPINPurpose purpose) override {
        return inputPIN(out, type, purpose);
    }

    int answer = 0;
    int asked = 0;
    int lastPurpose = 0;

  private:
    std::string pin_;
};

// A token over key files and certificates in memory that signs like the disk token: the item id
// of a stored pair asks the password and opens its key file; any other id signs with the local
// pair of that id. Its export hands out a PrivateKeyInfo and a certificate, and its import of a
// key pair records what it got.
class KeyToken final : public Token {
  public:
    struct Stored {
        Bytes keyFile;
        PKIType pkiType;
    };

    KeyToken() : Token("keys", "TEST TOKEN", InputPINHandler::TOKEN_TYPE_DISK) {}

    int initToken(unsigned char*, unsigned long, unsigned char*) override { return 1306; }
    int setPIN(unsigned char*, unsigned long, unsigned char*, unsigned long) override {
        return 1308;
    }
    int setCertificatePIN(const char*, unsigned char*, unsigned long, unsigned char*,
                          unsigned long) override {
        return 1307;
    }
    int verifyPin(const char*, unsigned char*, unsigned long) override { return 1307; }
    int finalizeToken() override { return 0; }
    int getTokenGrade() override { return 0; }
    int getTokenStatus() override { return 0; }
    int getCertificateList(ShortCertificate**, unsigned int*, int, InputPINHandler*,
                           const char*) override {
        return 1307;
    }
    int getCertificate(const char*, unsigned char**, unsigned long*) override { return 1307; }
    int getPrivateKey(const char*, unsigned char**, unsigned long*, InputPINHandler*) override {
        return 1307;
    }
    int getPath(const char*, unsigned char**, unsigned long*) override { return 1307; }
    int deleteCertificate(const char*, InputPINHandler*) override { return 1307; }
    int changeCertificatePIN(const char*, InputPINHandler*) override { return 1307; }
    int importEncryptedPrivateKeyInfo(unsigned char*, unsigned long, unsigned char*, unsigned long,
                                      unsigned char*, unsigned long, unsigned char*, unsigned long,
                                      InputPINHandler*) override {
        return 1307;
    }
    int importInit(unsigned char*, unsigned long, InputPINHandler*,
                   InputPINHandler::InputPINPurpose) override {
        return 0;
    }
    using Token::import;
    int import(unsigned char* privateKey, unsigned long privateKeyLength, unsigned char* cert,
               unsigned long certLength, unsigned char* vidRandom, unsigned long vidRandomLength,
               unsigned char* dsParameters, unsigned long dsParametersLength,
               unsigned int keepNewer, const bool& replaceKM) override {
        imported.privateKey.assign(privateKey, privateKey + privateKeyLength);
        imported.certificate.assign(cert, cert + certLength);
        imported.vidRandom.assign(vidRandom, vidRandom + vidRandomLength);
        imported.dsParameters = dsParameters != nullptr || dsParametersLength != 0;
        imported.keepNewer = keepNewer;
        imported.replaceKM = replaceKM;
        ++imported.calls;
        return importResult;
    }
    int importCAPubs(unsigned char*, unsigned long) override { return 1307; }
    int importFinal() override { return 0; }
    int setTokenOptions(void*) override { return 0; }
    int exportCertificateAndKey(unsigned char** key, unsigned long* keyLength, unsigned char** cert,
                                unsigned long* certLength, InputPINHandler* handler, const char*,
                                const char*) override {
        *key = nullptr;
        *cert = nullptr;
        *keyLength = *certLength = 0;
        if (exportResult != 0) return exportResult;
        *key = duplicateMemory(data(exportKey), static_cast<unsigned>(exportKey.size()));
        *keyLength = exportKey.size();
        *cert = duplicateMemory(data(exportCertificate),
                                static_cast<unsigned>(exportCertificate.size()));
        *certLength = exportCertificate.size();
        return 0;
    }
    int getVIDRandom(unsigned char**, unsigned long*, InputPINHandler*, const char*) override {
        return 1307;
    }
    int getKMID(char**, char**, const char*) override { return 1311; }
    int certificateSynchronize(const char*, unsigned char*, unsigned long, unsigned char*,
                               unsigned long) override {
        return 1307;
    }

    int getKeySize(unsigned long* size, InputPINHandler* handler, const char* keyId) override {
        const auto found = stored.find(keyId ? keyId : "");
        if (found == stored.end()) return Token::getKeySize(size, handler, keyId);
        *size = found->second.pkiType == PKI_TYPE_GPKI ? 69 : 256;
        return 0;
    }

    int decrypt(unsigned char** out, unsigned long* outLength, unsigned char* in,
                unsigned long inLength, InputPINHandler* handler, const char* keyId,
                TokenDecryptParameters* parameters) override {
        ++decryptCalls;
        return Token::decrypt(out, outLength, in, inLength, handler, keyId, parameters);
    }

    int generateSignatureRAW(unsigned char* out, unsigned long* outLength, InputPINHandler* handler,
                             unsigned char* in, unsigned long inLength, const char* keyId,
                             const char* itemId,
                             TokenGenerateSignatureParameters* parameters) override {
        ++signCalls;
        const auto found = stored.find(itemId ? itemId : "");
        if (found == stored.end())
            return generateSignatureLocal(out, outLength, in, inLength, nullptr, keyId, itemId,
                                          parameters, PKI_TYPE_NPKI);
        char pin[128] = {};
        if (!handler ||
            handler->inputPIN(pin, tokenType, InputPINHandler::PURPOSE_PRIVATE_KEY) != 0)
            return 1302;
        TokenGenerateSignatureParameters none{};
        if (!parameters) parameters = &none;
        Stored& s = found->second;
        const bool gpki = s.pkiType == PKI_TYPE_GPKI;
        SGRSAPrivateKey rsa{};
        SGDSKey ds{};
        void* key = gpki ? static_cast<void*>(&ds) : static_cast<void*>(&rsa);
        int rc = decryptPrivateKeyFromPKCS8(key, nullptr, &parameters->dsParameters,
                                            &parameters->dsParametersLength, data(s.keyFile),
                                            s.keyFile.size(), reinterpret_cast<unsigned char*>(pin),
                                            std::strlen(pin), TOKEN_KEY_RECORD, s.pkiType);
        if (rc == 0) {
            rc = generateSignatureLocal(out, outLength, in, inLength, key, keyId, itemId,
                                        parameters, s.pkiType);
            if (rc == 0 && reportLonger) ++*outLength;
            if (gpki)
                SGDSKey_Clear(&ds);
            else
                SGRSAPrivateKey_Free(&rsa);
        }
        freeMemory(parameters->dsParameters, 0);
        parameters->dsParameters = nullptr;
        parameters->dsParametersLength = 0;
        return rc;
    }

    TokenLocalKeyStorage* storage() { return localKeyStorage; }

    std::map<std::string, Stored> stored;
    int exportResult = 0;
    Bytes exportKey, exportCertificate;
    int importResult = 0;
    struct {
        Bytes privateKey, certificate, vidRandom;
        bool dsParameters = false;
        unsigned int keepNewer = 9;
        bool replaceKM = true;
        int calls = 0;
    } imported;
    bool reportLonger = false;
    int signCalls = 0;
    int decryptCalls = 0;
};

}  // namespace keytest
