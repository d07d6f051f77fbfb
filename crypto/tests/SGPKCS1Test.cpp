// PKCS #1: the published RSA vectors (RSA Laboratories' PKCS #1 v2.1 examples, NIST CAVP
// SigGen/SigVer for v1.5 and PSS, OAEP with SHA-2 and labels), interoperability with OpenSSL
// both ways, the padding and size errors, external signers and DigestInfo.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <openssl/err.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RSATestUtil.h"
#include "SGCrypto.h"
#include "SGCryptoTable.h"
#include "SGDigest.h"

using namespace cryptotest;
using namespace rsatest;

namespace {

const std::string kRsaVectors = kVectors + "/asymmetric/RSA";

class SGPKCS1Test : public ::testing::Test {
  protected:
    void SetUp() override { SGCrypto_Initialize(); }
};

SGPKCS1Parameter v15Signature(KeyPair& k, int hashId) {
    SGPKCS1Parameter p{};
    p.signatureScheme = SG_PKCS1_V15_SIGNATURE;
    p.hashId = hashId;
    p.privateKey = &k.priv;
    p.publicKey = &k.pub;
    return p;
}

SGPKCS1Parameter pss(KeyPair& k, int hashId, int mgfHashId, int saltLength) {
    SGPKCS1Parameter p{};
    p.signatureScheme = SG_PKCS1_PSS;
    p.hashId = hashId;
    p.pssMaskGeneration = SG_PKCS1_MGF1;
    p.pssMaskHashId = mgfHashId;
    p.pssSaltLength = saltLength;
    p.privateKey = &k.priv;
    p.publicKey = &k.pub;
    return p;
}

SGPKCS1Parameter v15Encryption(KeyPair& k) {
    SGPKCS1Parameter p{};
    p.encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
    p.privateKey = &k.priv;
    p.publicKey = &k.pub;
    return p;
}

SGPKCS1Parameter oaep(KeyPair& k, int hashId, int mgfHashId) {
    SGPKCS1Parameter p{};
    p.encryptionScheme = SG_PKCS1_OAEP;
    p.hashId = hashId;
    p.oaepMaskGeneration = SG_PKCS1_MGF1;
    p.oaepMaskHashId = mgfHashId;
    p.privateKey = &k.priv;
    p.publicKey = &k.pub;
    return p;
}

// The signature after a size query; a failure is expected only when result asks for it.
Bytes sign(SGPKCS1Parameter& p, const Bytes& message, int* result = nullptr) {
    unsigned length = 0;
    int r =
        SGPKCS1_Sign(nullptr, &length, message.data(), static_cast<unsigned>(message.size()), &p);
    Bytes out(length);
    if (r == 0)
        r = SGPKCS1_Sign(out.data(), &length, message.data(), static_cast<unsigned>(message.size()),
                         &p);
    if (result) {
        *result = r;
    } else {
        EXPECT_EQ(r, 0);
    }
    out.resize(r == 0 ? length : 0);
    return out;
}

int verify(SGPKCS1Parameter& p, const Bytes& signature, const Bytes& message) {
    return SGPKCS1_Verify(signature.data(), static_cast<unsigned>(signature.size()), message.data(),
                          static_cast<unsigned>(message.size()), &p);
}

Bytes encrypt(SGPKCS1Parameter& p, const Bytes& message, int* result = nullptr) {
    Bytes out(p.publicKey ? BN_num_bytes(p.publicKey->n) : 512);
    unsigned length = static_cast<unsigned>(out.size());
    const int r = SGPKCS1_Encrypt(out.data(), &length, message.data(),
                                  static_cast<unsigned>(message.size()), &p);
    if (result) {
        *result = r;
    } else {
        EXPECT_EQ(r, 0);
    }
    out.resize(r == 0 ? length : 0);
    return out;
}

Bytes decrypt(SGPKCS1Parameter& p, const Bytes& ciphertext, int* result = nullptr) {
    Bytes out(p.privateKey ? BN_num_bytes(p.privateKey->n) : 512);
    unsigned length = static_cast<unsigned>(out.size());
    const int r = SGPKCS1_Decrypt(out.data(), &length, ciphertext.data(),
                                  static_cast<unsigned>(ciphertext.size()), &p);
    if (result) {
        *result = r;
    } else {
        EXPECT_EQ(r, 0);
    }
    out.resize(r == 0 ? length : 0);
    return out;
}

Bytes text(const char* s) {
    return Bytes(s, s + std::strlen(s));
}

// Keys of the vector files, loaded once per modulus.
class KeyCache {
  public:
    KeyPair& get(const VectorKey& key) {
        auto& slot = keys_[hex(key.n) + hex(key.e)];
        if (!slot) {
            slot = std::make_unique<KeyPair>();
            VectorKey complete = key;
            if (complete.p.empty() && !complete.d.empty()) completeFromPrivateExponent(complete);
            loadKey(*slot, complete);
        }
        return *slot;
    }

  private:
    std::map<std::string, std::unique_ptr<KeyPair>> keys_;
};

// The raw RSA operations of OpenSSL, to build blocks the schemes would never produce.
Bytes rawPublic(EVP_PKEY* key, const Bytes& block) {
    EvpCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    EXPECT_EQ(EVP_PKEY_encrypt_init(ctx.get()), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING), 1);
    size_t n = block.size();
    Bytes out(n);
    EXPECT_EQ(EVP_PKEY_encrypt(ctx.get(), out.data(), &n, block.data(), block.size()), 1);
    return out;
}

Bytes rawPrivate(EVP_PKEY* key, const Bytes& block) {
    EvpCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    EXPECT_EQ(EVP_PKEY_decrypt_init(ctx.get()), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING), 1);
    size_t n = block.size();
    Bytes out(n);
    EXPECT_EQ(EVP_PKEY_decrypt(ctx.get(), out.data(), &n, block.data(), block.size()), 1);
    return out;
}

// A shared 2048-bit key and its OpenSSL twin.
struct SharedKey {
    SharedKey() : evp(generateEvp(2048)) { loadFromEvp(pair, evp.get()); }
    EvpKey evp;
    KeyPair pair;
};

SharedKey& sharedKey() {
    static SharedKey* key = new SharedKey;  // kept for the whole run
    return *key;
}

}  // namespace

// ---- Published vectors ----

TEST_F(SGPKCS1Test, V15SignatureVectors) {
    auto vectors = readHashVectors(kRsaVectors + "/pkcs1v15sign-vectors.txt");
    ASSERT_EQ(vectors.size(), 300u);
    KeyCache keys;
    for (const auto& v : vectors) {
        KeyPair& k = keys.get(v.key);
        SGPKCS1Parameter p = v15Signature(k, SG_DIGEST_SHA1);
        EXPECT_EQ(hex(sign(p, v.message)), hex(v.output)) << v.header;
        EXPECT_EQ(verify(p, v.output, v.message), 0) << v.header;
        Bytes other = v.message;
        other[0] ^= 1;
        EXPECT_EQ(verify(p, v.output, other), 551) << v.header;
    }
}

TEST_F(SGPKCS1Test, V15EncryptionVectors) {
    auto vectors = readHashVectors(kRsaVectors + "/pkcs1v15crypt-vectors.txt");
    ASSERT_EQ(vectors.size(), 300u);
    KeyCache keys;
    for (const auto& v : vectors) {
        KeyPair& k = keys.get(v.key);
        SGPKCS1Parameter p = v15Encryption(k);
        p.paddingSource = v.salt.data();  // the vector's padding string
        EXPECT_EQ(hex(encrypt(p, v.message)), hex(v.output)) << v.header;
        EXPECT_EQ(hex(decrypt(p, v.output)), hex(v.message)) << v.header;
    }
}

TEST_F(SGPKCS1Test, PssVectors) {
    auto vectors = readHashVectors(kRsaVectors + "/pkcs-1v2-1d2-vec/pss-vect.txt");
    ASSERT_EQ(vectors.size(), 60u);
    KeyCache keys;
    for (const auto& v : vectors) {
        KeyPair& k = keys.get(v.key);
        SGPKCS1Parameter p =
            pss(k, SG_DIGEST_SHA1, SG_DIGEST_SHA1, static_cast<int>(v.salt.size()));
        p.pssSalt = v.salt.data();
        EXPECT_EQ(hex(sign(p, v.message)), hex(v.output)) << v.header;
        EXPECT_EQ(verify(p, v.output, v.message), 0) << v.header;
        p.pssSalt = nullptr;  // a random salt signs differently and still verifies
        Bytes random = sign(p, v.message);
        EXPECT_NE(hex(random), hex(v.output));
        EXPECT_EQ(verify(p, random, v.message), 0) << v.header;
    }
}

TEST_F(SGPKCS1Test, OaepVectors) {
    auto vectors = readHashVectors(kRsaVectors + "/pkcs-1v2-1d2-vec/oaep-vect.txt");
    ASSERT_EQ(vectors.size(), 60u);
    KeyCache keys;
    for (const auto& v : vectors) {
        KeyPair& k = keys.get(v.key);
        SGPKCS1Parameter p = oaep(k, SG_DIGEST_SHA1, SG_DIGEST_SHA1);
        p.oaepSeed = v.salt.data();
        EXPECT_EQ(hex(encrypt(p, v.message)), hex(v.output)) << v.header;
        EXPECT_EQ(hex(decrypt(p, v.output)), hex(v.message)) << v.header;
    }
    // SHA-2 combinations of hash and mask hash; these files give no seeds.
    int files = 0;
    for (const char* alg : {"sha1", "sha224", "sha256", "sha384", "sha512"}) {
        for (const char* mgf : {"sha1", "sha224", "sha256", "sha384", "sha512"}) {
            const std::string name = std::string("oaep-") + alg + "-" + mgf + ".txt";
            if (!std::ifstream(kRsaVectors + "/oaep-custom/" + name)) continue;  // sha1-sha1: above
            auto custom = readHashVectors(kRsaVectors + "/oaep-custom/" + name);
            ++files;
            for (const auto& v : custom) {
                const auto a = v.header.find("alg="), m = v.header.find("mgf1=");
                ASSERT_NE(a, std::string::npos) << v.header;
                const int hashId = hashIdOf(v.header.substr(a + 4, v.header.find(' ', a) - a - 4));
                const int mgfId = hashIdOf(v.header.substr(m + 5));
                KeyPair& k = keys.get(v.key);
                SGPKCS1Parameter p = oaep(k, hashId, mgfId);
                EXPECT_EQ(hex(decrypt(p, v.output)), hex(v.message)) << name << " " << v.header;
            }
        }
    }
    EXPECT_EQ(files, 24);
}

TEST_F(SGPKCS1Test, OaepLabelVectors) {
    auto records = readRecords(kRsaVectors + "/oaep-label.txt");
    int checked = 0;
    for (const auto& rec : records) {
        if (!rec.count("KEY")) continue;
        // The key is PKCS #8; OpenSSL unwraps it to the PKCS #1 form our decoder reads.
        Bytes pkcs8 = unhex(rec.at("KEY"));
        const unsigned char* der = pkcs8.data();
        EvpKey evp(d2i_AutoPrivateKey(nullptr, &der, static_cast<long>(pkcs8.size())));
        ASSERT_TRUE(evp);
        KeyPair k;
        loadFromEvp(k, evp.get());
        const int hashId = hashIdOf(rec.at("OAEPDigest"));
        SGPKCS1Parameter p = oaep(k, hashId, hashId);
        Bytes label = unhex(rec.at("OAEPLabel"));
        p.oaepLabel = label.data();
        p.oaepLabelLength = static_cast<int>(label.size());
        std::string output = rec.at("Output");
        Bytes want(output.begin() + 1, output.end() - 1);  // quoted text
        EXPECT_EQ(hex(decrypt(p, unhex(rec.at("Input")))), hex(want)) << rec.at("COUNT");
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST_F(SGPKCS1Test, FipsV15SignatureGeneration) {
    // The file with the private keys: our signatures equal the published ones.
    auto vectors = readFips(kRsaVectors + "/FIPS_186-2/SigGen15_186-2.txt", false);
    ASSERT_EQ(vectors.size(), 250u);
    KeyCache keys;
    int signedCount = 0;
    for (const auto& v : vectors) {
        KeyPair& k = keys.get({v.n, v.e, v.d});
        SGPKCS1Parameter p = v15Signature(k, hashIdOf(v.sha));
        if (v.sha == "SHA224") {  // no DigestInfo identifier for SHA-224
            int r = 0;
            sign(p, v.msg, &r);
            EXPECT_EQ(r, 558);
            EXPECT_EQ(verify(p, v.s, v.msg), 558);
            continue;
        }
        EXPECT_EQ(hex(sign(p, v.msg)), hex(v.s)) << v.sha << " " << v.n.size() * 8;
        EXPECT_EQ(verify(p, v.s, v.msg), 0);
        ++signedCount;
    }
    EXPECT_EQ(signedCount, 200);
    // The newer file gives public keys only: its signatures verify.
    int verified = 0;
    for (const auto& v : readFips(kRsaVectors + "/FIPS_186-2/SigGen15_186-3.rsp", false)) {
        if (v.sha == "SHA224") continue;
        KeyPair k;
        loadKey(k, {v.n, v.e});
        SGPKCS1Parameter p = v15Signature(k, hashIdOf(v.sha));
        EXPECT_EQ(verify(p, v.s, v.msg), 0) << v.sha;
        ++verified;
    }
    EXPECT_EQ(verified, 200);
}

TEST_F(SGPKCS1Test, FipsV15SignatureVerification) {
    auto vectors = readFips(kRsaVectors + "/FIPS_186-2/SigVer15_186-3.rsp", true);
    ASSERT_EQ(vectors.size(), 450u);
    int passes = 0, fails = 0;
    for (const auto& v : vectors) {
        KeyPair k;
        loadKey(k, {v.n, v.e});
        SGPKCS1Parameter p = v15Signature(k, hashIdOf(v.sha));
        const int r = verify(p, v.s, v.msg);
        if (v.sha == "SHA224") {
            EXPECT_EQ(r, 558);
            continue;
        }
        if (v.result == "P") {
            EXPECT_EQ(r, 0) << v.sha;
            ++passes;
        } else {
            EXPECT_EQ(r, 551) << v.sha << " " << v.result;
            ++fails;
        }
    }
    EXPECT_EQ(passes, 60);
    EXPECT_EQ(fails, 300);
}

TEST_F(SGPKCS1Test, FipsPssSignatureGeneration) {
    // With the private keys and a fixed 20-byte salt: our signatures equal the published ones.
    auto vectors = readFips(kRsaVectors + "/FIPS_186-2/SigGenPSS_186-2.txt", false);
    ASSERT_EQ(vectors.size(), 250u);
    KeyCache keys;
    for (const auto& v : vectors) {
        ASSERT_EQ(v.salt.size(), 20u);
        KeyPair& k = keys.get({v.n, v.e, v.d});
        const int hashId = hashIdOf(v.sha);
        SGPKCS1Parameter p = pss(k, hashId, hashId, 20);
        p.pssSalt = v.salt.data();
        EXPECT_EQ(hex(sign(p, v.msg)), hex(v.s)) << v.sha << " " << v.n.size() * 8;
        EXPECT_EQ(verify(p, v.s, v.msg), 0) << v.sha;
    }
    // Public keys only, salt length 0: the signatures verify.
    vectors = readFips(kRsaVectors + "/FIPS_186-2/SigGenPSS_186-3.rsp", false);
    ASSERT_EQ(vectors.size(), 250u);
    for (const auto& v : vectors) {
        KeyPair k;
        loadKey(k, {v.n, v.e});
        const int hashId = hashIdOf(v.sha);
        SGPKCS1Parameter p = pss(k, hashId, hashId, 0);
        EXPECT_EQ(verify(p, v.s, v.msg), 0) << v.sha;
    }
}

TEST_F(SGPKCS1Test, FipsPssSignatureVerification) {
    auto vectors = readFips(kRsaVectors + "/FIPS_186-2/SigVerPSS_186-3.rsp", true);
    ASSERT_EQ(vectors.size(), 450u);
    int passes = 0;
    for (const auto& v : vectors) {
        KeyPair k;
        loadKey(k, {v.n, v.e});
        const int hashId = hashIdOf(v.sha);
        SGPKCS1Parameter p = pss(k, hashId, hashId, static_cast<int>(v.salt.size()));
        const int r = verify(p, v.s, v.msg);
        if (v.result == "P") {
            EXPECT_EQ(r, 0) << v.sha;
            ++passes;
        } else {
            EXPECT_NE(r, 0) << v.sha << " " << v.result;
        }
    }
    EXPECT_EQ(passes, 75);
}

// ---- OpenSSL both ways ----

TEST_F(SGPKCS1Test, SignaturesInteroperateWithOpenSSL) {
    SharedKey& key = sharedKey();
    for (int hashId : {SG_DIGEST_SHA1, SG_DIGEST_SHA256, SG_DIGEST_SHA512}) {
        for (bool usePss : {false, true}) {
            SCOPED_TRACE(std::to_string(hashId) + (usePss ? " PSS" : " v1.5"));
            SGPKCS1Parameter p =
                usePss ? pss(key.pair, hashId, hashId, 32) : v15Signature(key.pair, hashId);
            const Bytes message = text("Message signed on one side, verified on the other");
            auto evpContext = [&](bool signing, EVP_MD_CTX* md) {
                EVP_PKEY_CTX* pctx = nullptr;
                EXPECT_EQ(signing ? EVP_DigestSignInit(md, &pctx, evpDigest(hashId), nullptr,
                                                       key.evp.get())
                                  : EVP_DigestVerifyInit(md, &pctx, evpDigest(hashId), nullptr,
                                                         key.evp.get()),
                          1);
                if (usePss) {
                    EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING);
                    EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, 32);
                    EVP_PKEY_CTX_set_rsa_mgf1_md(pctx, evpDigest(hashId));
                }
            };
            // Ours, checked there.
            Bytes ours = sign(p, message);
            EVP_MD_CTX* md = EVP_MD_CTX_new();
            evpContext(false, md);
            EXPECT_EQ(
                EVP_DigestVerify(md, ours.data(), ours.size(), message.data(), message.size()), 1);
            EVP_MD_CTX_free(md);
            // Theirs, checked here.
            md = EVP_MD_CTX_new();
            evpContext(true, md);
            size_t n = 512;
            Bytes theirs(n);
            ASSERT_EQ(EVP_DigestSign(md, theirs.data(), &n, message.data(), message.size()), 1);
            theirs.resize(n);
            EVP_MD_CTX_free(md);
            EXPECT_EQ(verify(p, theirs, message), 0);
            theirs[10] ^= 0x40;
            EXPECT_NE(verify(p, theirs, message), 0);
        }
    }
}

TEST_F(SGPKCS1Test, EncryptionInteroperatesWithOpenSSL) {
    SharedKey& key = sharedKey();
    Bytes label = text("label");
    for (int scheme : {SG_PKCS1_V15_ENCRYPTION, SG_PKCS1_OAEP}) {
        SGPKCS1Parameter p = scheme == SG_PKCS1_OAEP
                                 ? oaep(key.pair, SG_DIGEST_SHA256, SG_DIGEST_SHA1)
                                 : v15Encryption(key.pair);
        if (scheme == SG_PKCS1_OAEP) {
            p.oaepLabel = label.data();
            p.oaepLabelLength = static_cast<int>(label.size());
        }
        auto setUp = [&](EVP_PKEY_CTX* ctx) {
            if (scheme == SG_PKCS1_OAEP) {
                EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING);
                EVP_PKEY_CTX_set_rsa_oaep_md(ctx, EVP_sha256());
                EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, EVP_sha1());
                unsigned char* l =
                    static_cast<unsigned char*>(OPENSSL_memdup(label.data(), label.size()));
                EVP_PKEY_CTX_set0_rsa_oaep_label(ctx, l, static_cast<int>(label.size()));
            } else {
                EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
            }
        };
        for (size_t length : {size_t{0}, size_t{1}, size_t{32}, size_t{190}}) {
            SCOPED_TRACE(std::to_string(scheme) + " " + std::to_string(length));
            Bytes message(length);
            for (size_t i = 0; i < length; ++i) message[i] = static_cast<unsigned char>(i * 7 + 1);
            // Theirs, decrypted here.
            EvpCtx enc(EVP_PKEY_CTX_new(key.evp.get(), nullptr));
            ASSERT_EQ(EVP_PKEY_encrypt_init(enc.get()), 1);
            setUp(enc.get());
            size_t n = 256;
            Bytes theirs(n);
            ASSERT_EQ(EVP_PKEY_encrypt(enc.get(), theirs.data(), &n, message.data(), length), 1);
            EXPECT_EQ(hex(decrypt(p, theirs)), hex(message));
            // Ours, decrypted there.
            Bytes ours = encrypt(p, message);
            ASSERT_EQ(ours.size(), 256u);
            EvpCtx dec(EVP_PKEY_CTX_new(key.evp.get(), nullptr));
            ASSERT_EQ(EVP_PKEY_decrypt_init(dec.get()), 1);
            setUp(dec.get());
            n = 256;
            Bytes plain(n);
            ASSERT_EQ(EVP_PKEY_decrypt(dec.get(), plain.data(), &n, ours.data(), ours.size()), 1);
            plain.resize(n);
            EXPECT_EQ(hex(plain), hex(message));
        }
    }
}

// ---- Sizes, buffers and padding errors ----

TEST_F(SGPKCS1Test, SignatureSizeQueriesAndShortBuffers) {
    SharedKey& key = sharedKey();
    SGPKCS1Parameter p = v15Signature(key.pair, SG_DIGEST_SHA256);
    const Bytes message = text("abc");
    unsigned length = 0;
    EXPECT_EQ(SGPKCS1_Sign(nullptr, &length, message.data(), 3, &p), 0);
    EXPECT_EQ(length, 256u);
    std::unique_ptr<unsigned char[]> shortBuffer(new unsigned char[255]);
    length = 255;
    EXPECT_EQ(SGPKCS1_Sign(shortBuffer.get(), &length, message.data(), 3, &p), 557);
    EXPECT_EQ(length, 256u);
    SGPKCS1Parameter q = pss(key.pair, SG_DIGEST_SHA256, SG_DIGEST_SHA256, 32);
    length = 255;
    EXPECT_EQ(SGPKCS1_Sign(shortBuffer.get(), &length, message.data(), 3, &q), 557);
    EXPECT_EQ(length, 256u);

    // The padding of a SHA-256 signature over a 2048-bit key: 256 - 51 - 3 bytes of FF.
    Bytes signature = sign(p, message);
    Bytes em = rawPublic(key.evp.get(), signature);
    EXPECT_EQ(hex(Bytes(em.begin(), em.begin() + 2)), "0001");
    size_t ff = 0;
    while (em[2 + ff] == 0xFF) ++ff;
    EXPECT_EQ(ff, 202u);
    EXPECT_EQ(em[2 + ff], 0x00);

    Bytes shortSignature(signature.begin(), signature.end() - 1);
    EXPECT_EQ(verify(p, shortSignature, message), 551);
    Bytes aboveN(256, 0xFF);
    EXPECT_EQ(verify(p, aboveN, message), 551);
    EXPECT_EQ(verify(q, shortSignature, message), 551);
    // Signatures are the same at every call: the blinding cancels out.
    EXPECT_EQ(hex(sign(p, message)), hex(signature));
}

TEST_F(SGPKCS1Test, EncryptionBuffersAndMessageLimits) {
    SharedKey& key = sharedKey();
    SGPKCS1Parameter p = v15Encryption(key.pair);
    // Output shorter than k: refused, nothing written past the exact heap block.
    std::unique_ptr<unsigned char[]> shortOut(new unsigned char[255]);
    unsigned length = 255;
    const Bytes message = text("secret");
    EXPECT_EQ(SGPKCS1_Encrypt(shortOut.get(), &length, message.data(), 6, &p), 557);
    EXPECT_EQ(length, 256u);
    length = 0;
    EXPECT_EQ(SGPKCS1_Encrypt(nullptr, &length, message.data(), 6, &p), 557);
    EXPECT_EQ(length, 256u);
    SGPKCS1Parameter o = oaep(key.pair, SG_DIGEST_SHA256, SG_DIGEST_SHA256);
    length = 255;
    EXPECT_EQ(SGPKCS1_Encrypt(shortOut.get(), &length, message.data(), 6, &o), 557);

    // Decryption outputs must hold the longest message: k - 11, or k - 2hLen - 2.
    Bytes c = encrypt(p, message);
    std::unique_ptr<unsigned char[]> out(new unsigned char[245]);
    length = 244;
    EXPECT_EQ(SGPKCS1_Decrypt(out.get(), &length, c.data(), 256, &p), 557);
    EXPECT_EQ(length, 245u);
    length = 245;
    ASSERT_EQ(SGPKCS1_Decrypt(out.get(), &length, c.data(), 256, &p), 0);
    EXPECT_EQ(hex(out.get(), length), hex(message));
    Bytes co = encrypt(o, message);
    std::unique_ptr<unsigned char[]> oaepOut(new unsigned char[190]);
    length = 189;
    EXPECT_EQ(SGPKCS1_Decrypt(oaepOut.get(), &length, co.data(), 256, &o), 557);
    EXPECT_EQ(length, 190u);
    length = 190;
    ASSERT_EQ(SGPKCS1_Decrypt(oaepOut.get(), &length, co.data(), 256, &o), 0);
    EXPECT_EQ(hex(oaepOut.get(), length), hex(message));

    // Message limits: OAEP with SHA-1 over 1024 bits carries 86 bytes; v1.5 carries k - 11.
    KeyPair small;
    loadFromEvp(small, generateEvp(1024).get());
    SGPKCS1Parameter o1 = oaep(small, SG_DIGEST_SHA1, SG_DIGEST_SHA1);
    int r = 0;
    EXPECT_EQ(hex(decrypt(o1, encrypt(o1, Bytes(86, 0x42)))), hex(Bytes(86, 0x42)));
    encrypt(o1, Bytes(87, 0x42), &r);
    EXPECT_EQ(r, 555);
    SGPKCS1Parameter v1 = v15Encryption(small);
    EXPECT_EQ(decrypt(v1, encrypt(v1, Bytes(117, 0))).size(), 117u);
    encrypt(v1, Bytes(118, 0), &r);
    EXPECT_EQ(r, 555);
}

TEST_F(SGPKCS1Test, V15DecryptionPaddingErrors) {
    SharedKey& key = sharedKey();
    SGPKCS1Parameter p = v15Encryption(key.pair);
    // 00 02 PS 00 M with PS of the given length, each field overridable.
    auto block = [](size_t psLength, unsigned char first, unsigned char type, bool separator) {
        Bytes em(256, 0x5A);
        em[0] = first;
        em[1] = type;
        if (separator) em[2 + psLength] = 0x00;
        return em;
    };
    const struct {
        const char* name;
        Bytes em;
        int want;
        size_t messageLength;
    } cases[] = {
        {"valid", block(8, 0, 2, true), 0, 256 - 11},
        {"long padding", block(200, 0, 2, true), 0, 256 - 203},
        {"empty message", block(253, 0, 2, true), 0, 0},
        {"first byte", block(8, 1, 2, true), 581, 0},
        {"block type 1", block(8, 0, 1, true), 582, 0},
        {"padding of 7 bytes", block(7, 0, 2, true), 583, 0},
        {"no separator", block(8, 0, 2, false), 583, 0},
        {"separator first", block(0, 0, 2, true), 583, 0},
    };
    for (const auto& c : cases) {
        Bytes ciphertext = rawPublic(key.evp.get(), c.em);
        Bytes out(245, 0xEE);
        unsigned length = 245;
        EXPECT_EQ(SGPKCS1_Decrypt(out.data(), &length, ciphertext.data(), 256, &p), c.want)
            << c.name;
        if (c.want == 0) {
            EXPECT_EQ(length, c.messageLength) << c.name;
            EXPECT_EQ(hex(out.data(), length), hex(c.em.data() + 256 - length, length)) << c.name;
        } else {
            EXPECT_EQ(hex(out), hex(Bytes(245, 0xEE))) << c.name << ": output untouched";
        }
    }
    Bytes c = encrypt(p, text("x"));
    Bytes out(256);
    unsigned length = 256;
    EXPECT_EQ(SGPKCS1_Decrypt(out.data(), &length, c.data(), 255, &p), 556);
    Bytes aboveN(256, 0xFF);
    EXPECT_EQ(SGPKCS1_Decrypt(out.data(), &length, aboveN.data(), 256, &p), 586);
}

TEST_F(SGPKCS1Test, OaepDecryptionErrorsAreOneCode) {
    SharedKey& key = sharedKey();
    SGPKCS1Parameter p = oaep(key.pair, SG_DIGEST_SHA256, SG_DIGEST_SHA256);
    Bytes label = text("label");
    p.oaepLabel = label.data();
    p.oaepLabelLength = 5;
    const Bytes message = text("the message");
    Bytes c = encrypt(p, message);
    EXPECT_EQ(hex(decrypt(p, c)), hex(message));
    int r = 0;
    Bytes tampered = c;
    tampered[100] ^= 1;
    decrypt(p, tampered, &r);
    EXPECT_EQ(r, 569);
    SGPKCS1Parameter other = p;
    Bytes otherLabel = text("lab3l");
    other.oaepLabel = otherLabel.data();
    decrypt(other, c, &r);
    EXPECT_EQ(r, 569);
    other.oaepLabelLength = -1;
    decrypt(other, c, &r);
    EXPECT_EQ(r, 569);
    decrypt(p, Bytes(c.begin(), c.end() - 1), &r);
    EXPECT_EQ(r, 569);
    decrypt(p, Bytes(256, 0xFF), &r);
    EXPECT_EQ(r, 569);
    other = p;
    other.oaepMaskGeneration = 1101;
    decrypt(other, c, &r);
    EXPECT_EQ(r, 558);
    encrypt(other, message, &r);
    EXPECT_EQ(r, 558);
}

TEST_F(SGPKCS1Test, PssEdges) {
    // A modulus of 8k + 1 bits: the encoded message is one byte shorter than the modulus.
    EvpKey evp = generateEvp(1025);
    KeyPair k;
    loadFromEvp(k, evp.get());
    ASSERT_EQ(BN_num_bits(k.pub.n), 1025);
    const Bytes message = text("odd modulus");
    for (int salt : {0, 20, 64}) {
        SGPKCS1Parameter p = pss(k, SG_DIGEST_SHA256, SG_DIGEST_SHA1, salt);
        Bytes s = sign(p, message);
        ASSERT_EQ(s.size(), 129u);
        EXPECT_EQ(verify(p, s, message), 0) << salt;
        EVP_MD_CTX* md = EVP_MD_CTX_new();
        EVP_PKEY_CTX* pctx = nullptr;
        EVP_DigestVerifyInit(md, &pctx, EVP_sha256(), nullptr, evp.get());
        EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING);
        EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, salt);
        EVP_PKEY_CTX_set_rsa_mgf1_md(pctx, EVP_sha1());
        EXPECT_EQ(EVP_DigestVerify(md, s.data(), s.size(), message.data(), message.size()), 1);
        EVP_MD_CTX_free(md);
    }
    int r = 0;
    SGPKCS1Parameter tooLong = pss(k, SG_DIGEST_SHA512, SG_DIGEST_SHA512, 64);
    sign(tooLong, message, &r);
    EXPECT_EQ(r, 559);  // 128 < 64 + 64 + 2
    SGPKCS1Parameter otherMgf = pss(k, SG_DIGEST_SHA256, SG_DIGEST_SHA256, 0);
    otherMgf.pssMaskGeneration = 1101;
    sign(otherMgf, message, &r);
    EXPECT_EQ(r, 580);

    // Blocks that fail each step of verification, signed raw (emLen = 128 here).
    SGPKCS1Parameter p = pss(k, SG_DIGEST_SHA256, SG_DIGEST_SHA256, 0);
    Bytes good = rawPublic(evp.get(), sign(p, message));  // 00 || EM
    ASSERT_EQ(good[0], 0x00);
    Bytes em(good.begin() + 1, good.end());
    auto signedBlock = [&](const Bytes& block) {
        Bytes full(1, 0x00);
        full.insert(full.end(), block.begin(), block.end());
        return rawPrivate(evp.get(), full);
    };
    EXPECT_EQ(verify(p, signedBlock(em), message), 0);
    Bytes trailer = em;
    trailer.back() = 0xBD;
    EXPECT_EQ(verify(p, signedBlock(trailer), message), 565);
    Bytes hashChanged = em;
    hashChanged[128 - 2] ^= 1;  // H: the mask changes, so the padding no longer unmasks to 0
    EXPECT_EQ(verify(p, signedBlock(hashChanged), message), 566);
    Bytes separator = em;
    separator[128 - 32 - 2] ^= 1;  // the 01 separator
    EXPECT_EQ(verify(p, signedBlock(separator), message), 567);
    EXPECT_EQ(verify(p, signedBlock(em), text("other message")), 568);
    SGPKCS1Parameter longSalt = pss(k, SG_DIGEST_SHA256, SG_DIGEST_SHA256, 95);
    EXPECT_EQ(verify(longSalt, signedBlock(em), message), 564);

    // Over 2048 bits the top bit of the encoding lies above emBits: a block with it set is a
    // second, non-canonical signature of the same message and is refused.
    SharedKey& key = sharedKey();
    SGPKCS1Parameter q = pss(key.pair, SG_DIGEST_SHA256, SG_DIGEST_SHA256, 32);
    int tried = 0;
    for (int i = 0; i < 64 && tried == 0; ++i) {
        Bytes m = message;
        m.push_back(static_cast<unsigned char>(i));
        Bytes block = rawPublic(key.evp.get(), sign(q, m));
        ASSERT_EQ(block[0] & 0x80, 0);
        block[0] |= 0x80;
        BIGNUM* b = BN_bin2bn(block.data(), 256, nullptr);
        const bool belowN = BN_cmp(b, key.pair.pub.n) < 0;
        BN_free(b);
        if (!belowN) continue;
        EXPECT_EQ(verify(q, rawPrivate(key.evp.get(), block), m), 566);
        ++tried;
    }
    EXPECT_EQ(tried, 1);
}

// ---- External signers ----

namespace {

struct SignerLog {
    Bytes input;
    unsigned algorithm = 0;
    unsigned lengthSeen = 0;
    int sizeResult = 0;
    unsigned size = 256;
};

int keySize(unsigned* size, void* user) {
    auto* log = static_cast<SignerLog*>(user);
    *size = log->size;
    return log->sizeResult;
}

int signer(unsigned char* signature, unsigned* length, const unsigned char* input,
           unsigned inputLength, unsigned algorithm, void* user) {
    auto* log = static_cast<SignerLog*>(user);
    log->input.assign(input, input + inputLength);
    log->algorithm = algorithm;
    log->lengthSeen = *length;
    std::memset(signature, 0xA5, *length);
    return 4242;  // passed back as it is
}

}  // namespace

TEST_F(SGPKCS1Test, ExternalSignerReceivesTheDigestInfoOrTheBlock) {
    SignerLog log;
    SGPKCS1Parameter p{};
    p.signatureScheme = SG_PKCS1_V15_SIGNATURE;
    p.hashId = SG_DIGEST_SHA256;
    p.keySizeCallback = &keySize;
    p.signCallback = &signer;
    p.callbackUserData = &log;
    const Bytes message = text("abc");
    Bytes signature(256);
    unsigned length = 256;
    EXPECT_EQ(SGPKCS1_Sign(signature.data(), &length, message.data(), 3, &p), 4242);
    ASSERT_EQ(log.input.size(), 256u);
    EXPECT_EQ(hex(Bytes(log.input.begin(), log.input.begin() + 3)), "0001ff");
    EXPECT_EQ(log.algorithm, 0x00050001u);
    EXPECT_EQ(log.lengthSeen, 256u);

    p.externalSignerInput = 1;
    EXPECT_EQ(SGPKCS1_Sign(signature.data(), &length, message.data(), 3, &p), 4242);
    EXPECT_EQ(hex(log.input),
              "3031300d060960864801650304020105000420"
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(log.algorithm, 0x00050001u);

    // The input as given, even longer than the signature: handed over, never copied into it.
    p.hashId = SG_PKCS1_HASH_AS_GIVEN;
    Bytes longInput(600, 0x31);
    EXPECT_EQ(SGPKCS1_Sign(signature.data(), &length, longInput.data(), 600, &p), 4242);
    EXPECT_EQ(log.input.size(), 600u);
    EXPECT_EQ(log.algorithm, 0x000A0001u);

    // Without the flag, hash id 10 pads the given DigestInfo; a k-byte input is the block.
    p.externalSignerInput = 0;
    p.alreadyHashed = 1;
    Bytes block(256, 0x01);
    block[0] = 0;
    EXPECT_EQ(SGPKCS1_Sign(signature.data(), &length, block.data(), 256, &p), 4242);
    EXPECT_EQ(hex(log.input), hex(block));

    log.sizeResult = 77;
    EXPECT_EQ(SGPKCS1_Sign(signature.data(), &length, message.data(), 3, &p), 77);
    p.keySizeCallback = nullptr;
    EXPECT_EQ(SGPKCS1_Sign(signature.data(), &length, message.data(), 3, &p), 553);
    p.signCallback = nullptr;
    EXPECT_EQ(SGPKCS1_Sign(signature.data(), &length, message.data(), 3, &p), 553);
    EXPECT_EQ(SGPKCS1_Sign(signature.data(), &length, message.data(), 3, nullptr), 553);

    // PSS needs the key itself.
    SGPKCS1Parameter q{};
    q.signatureScheme = SG_PKCS1_PSS;
    q.hashId = SG_DIGEST_SHA256;
    q.pssMaskGeneration = SG_PKCS1_MGF1;
    q.pssMaskHashId = SG_DIGEST_SHA256;
    q.keySizeCallback = &keySize;
    q.signCallback = &signer;
    EXPECT_EQ(SGPKCS1_Sign(signature.data(), &length, message.data(), 3, &q), 588);
}

TEST_F(SGPKCS1Test, V15SignatureWithGivenDigestAndParameters) {
    SharedKey& key = sharedKey();
    unsigned char digest[32];
    ASSERT_EQ(SGDigest(digest, SG_DIGEST_SHA256, reinterpret_cast<const unsigned char*>("abc"), 3),
              0);
    SGPKCS1Parameter hashed = v15Signature(key.pair, SG_DIGEST_SHA256);
    hashed.alreadyHashed = 1;
    SGPKCS1Parameter plain = v15Signature(key.pair, SG_DIGEST_SHA256);
    const Bytes d(digest, digest + 32);
    EXPECT_EQ(hex(sign(hashed, d)), hex(sign(plain, text("abc"))));
    int r = 0;
    sign(hashed, Bytes(31, 0), &r);
    EXPECT_EQ(r, 11);  // not a SHA-256 digest

    // Explicit AlgorithmIdentifier parameters replace NULL, on both sides.
    const unsigned char parameters[] = {0x04, 0x02, 0xAB, 0xCD};
    SGPKCS1Parameter withParameters = v15Signature(key.pair, SG_DIGEST_SHA256);
    withParameters.digestInfoParameters = parameters;
    withParameters.digestInfoParametersLength = 4;
    Bytes s = sign(withParameters, text("abc"));
    EXPECT_EQ(verify(withParameters, s, text("abc")), 0);
    EXPECT_EQ(verify(plain, s, text("abc")), 551);
    Bytes em = rawPublic(key.evp.get(), s);
    EXPECT_NE(hex(em).find("300f06096086480165030402010402abcd"), std::string::npos);
}

// ---- Keys that cannot sign ----

TEST_F(SGPKCS1Test, PrivateOperationNeedsItsItems) {
    SharedKey& key = sharedKey();
    const Bytes message = text("abc");
    KeyPair partial;
    unsigned length = 0;
    Bytes item(512);
    for (int i : {SG_RSA_PRIVATE_N, SG_RSA_PRIVATE_D}) {
        length = 512;
        ASSERT_EQ(SGRSAPrivateKey_GetItem(item.data(), &length, &key.pair.priv, i), 0);
        ASSERT_EQ(SGRSAPrivateKey_SetItem(&partial.priv, item.data(), static_cast<int>(length), i),
                  0);
    }
    SGPKCS1Parameter p = v15Signature(partial, SG_DIGEST_SHA256);
    int r = 0;
    sign(p, message, &r);
    EXPECT_EQ(r, 588);  // no public exponent for the message blinding
    length = 512;
    ASSERT_EQ(SGRSAPrivateKey_GetItem(item.data(), &length, &key.pair.priv, SG_RSA_PRIVATE_E), 0);
    ASSERT_EQ(SGRSAPrivateKey_SetItem(&partial.priv, item.data(), static_cast<int>(length),
                                      SG_RSA_PRIVATE_E),
              0);
    sign(p, message, &r);
    EXPECT_EQ(r, 589);  // the exponent blinding needs p and q
    for (int i : {SG_RSA_PRIVATE_P, SG_RSA_PRIVATE_Q}) {
        length = 512;
        ASSERT_EQ(SGRSAPrivateKey_GetItem(item.data(), &length, &key.pair.priv, i), 0);
        ASSERT_EQ(SGRSAPrivateKey_SetItem(&partial.priv, item.data(), static_cast<int>(length), i),
                  0);
    }
    // Without the CRT values the whole exponent is blinded; the signature is the same.
    SGPKCS1Parameter full = v15Signature(key.pair, SG_DIGEST_SHA256);
    EXPECT_EQ(hex(sign(p, message)), hex(sign(full, message)));
    SGPKCS1Parameter noKey = v15Encryption(partial);
    noKey.privateKey = nullptr;
    decrypt(noKey, Bytes(256, 1), &r);
    EXPECT_EQ(r, 553);
    noKey.publicKey = nullptr;
    encrypt(noKey, message, &r);
    EXPECT_EQ(r, 553);
    EXPECT_EQ(verify(noKey, Bytes(256), message), 553);
}

TEST_F(SGPKCS1Test, ConcurrentSigningAndVerification) {
    SharedKey& key = sharedKey();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 8; ++i) {
                SGPKCS1Parameter p = (i % 2) ? pss(key.pair, SG_DIGEST_SHA256, SG_DIGEST_SHA256, 32)
                                             : v15Signature(key.pair, SG_DIGEST_SHA256);
                Bytes message = text("thread message");
                message.push_back(static_cast<unsigned char>(t * 16 + i));
                unsigned length = 256;
                Bytes s(256);
                if (SGPKCS1_Sign(s.data(), &length, message.data(),
                                 static_cast<unsigned>(message.size()), &p) != 0 ||
                    SGPKCS1_Verify(s.data(), length, message.data(),
                                   static_cast<unsigned>(message.size()), &p) != 0)
                    ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

// ---- DigestInfo ----

TEST_F(SGPKCS1Test, DigestInfoCreation) {
    const unsigned char digest[64] = {};
    const struct {
        int hashId;
        const char* prefix;  // RFC 8017, section 9.2, note 1
    } cases[] = {
        {1, "3020300c06082a864886f70d020205000410"},
        {2, "3020300c06082a864886f70d020505000410"},
        {3, "3021300906052b0e03021a05000414"},
        {5, "3031300d060960864801650304020105000420"},
        {6, "3041300d060960864801650304020205000430"},
        {7, "3051300d060960864801650304020305000440"},
    };
    for (const auto& c : cases) {
        unsigned char out[128];
        unsigned length = sizeof out;
        ASSERT_EQ(SGPKCS1_CreateDigestInfo(out, &length, c.hashId, digest, nullptr, 0), 0);
        const std::string prefix = c.prefix;
        EXPECT_EQ(hex(out, prefix.size() / 2), prefix) << c.hashId;
        EXPECT_EQ(length, prefix.size() / 2 + (c.hashId <= 2   ? 16
                                               : c.hashId == 3 ? 20
                                                               : (c.hashId - 3) * 16))
            << c.hashId;
        unsigned shortLength = length - 1;
        EXPECT_EQ(SGPKCS1_CreateDigestInfo(out, &shortLength, c.hashId, digest, nullptr, 0), 14);
        EXPECT_EQ(shortLength, length - 1);  // not updated
    }
    unsigned char out[128];
    unsigned length = sizeof out;
    EXPECT_EQ(SGPKCS1_CreateDigestInfo(out, &length, 8, digest, nullptr, 0), 558);
    EXPECT_EQ(SGPKCS1_CreateDigestInfo(out, &length, 4, digest, nullptr, 0), 558);
    EXPECT_EQ(SGPKCS1_CreateDigestInfo(out, &length, 10, digest, nullptr, 0), 11);
    const unsigned char parameters[] = {0x02, 0x01, 0x07};
    ASSERT_EQ(SGPKCS1_CreateDigestInfo(out, &length, 3, digest, parameters, 3), 0);
    EXPECT_EQ(hex(out, 14), "3022300a06052b0e03021a020107");
}

TEST_F(SGPKCS1Test, DigestInfoDecoding) {
    const Bytes sha256 = unhex(
        "3031300d060960864801650304020105000420"
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    int id = 0;
    unsigned char digest[64], parameters[16];
    unsigned digestLength = sizeof digest, parameterLength = sizeof parameters;
    ASSERT_EQ(SGPKCS1_DecodeDigestInfo(&id, digest, &digestLength, parameters, &parameterLength,
                                       sha256.data(), static_cast<int>(sha256.size())),
              0);
    EXPECT_EQ(id, 5);
    EXPECT_EQ(hex(digest, digestLength), hex(Bytes(sha256.end() - 32, sha256.end())));
    EXPECT_EQ(hex(parameters, parameterLength), "0500");  // with its tag and length
    digestLength = 31;
    EXPECT_EQ(SGPKCS1_DecodeDigestInfo(&id, digest, &digestLength, nullptr, nullptr, sha256.data(),
                                       static_cast<int>(sha256.size())),
              14);
    EXPECT_EQ(digestLength, 32u);
    parameterLength = 1;
    EXPECT_EQ(SGPKCS1_DecodeDigestInfo(&id, nullptr, nullptr, parameters, &parameterLength,
                                       sha256.data(), static_cast<int>(sha256.size())),
              14);
    EXPECT_EQ(parameterLength, 2u);

    Bytes sha224 = unhex("302d300d06096086480165030402040500041c");
    sha224.resize(sha224.size() + 28, 0x11);
    EXPECT_EQ(SGPKCS1_DecodeDigestInfo(&id, nullptr, nullptr, nullptr, nullptr, sha224.data(),
                                       static_cast<int>(sha224.size())),
              558);
    Bytes md5 = unhex("3020300c06082a864886f70d020505000410");
    md5.resize(md5.size() + 16, 0x22);
    EXPECT_EQ(SGPKCS1_DecodeDigestInfo(&id, nullptr, nullptr, nullptr, nullptr, md5.data(),
                                       static_cast<int>(md5.size())),
              558);
    testing::internal::CaptureStdout();
    for (size_t keep : {size_t{1}, size_t{5}, size_t{17}, size_t{20}, sha256.size() - 1}) {
        std::unique_ptr<unsigned char[]> exact(new unsigned char[keep]);
        std::memcpy(exact.get(), sha256.data(), keep);
        digestLength = sizeof digest;
        EXPECT_EQ(SGPKCS1_DecodeDigestInfo(&id, digest, &digestLength, nullptr, nullptr,
                                           exact.get(), static_cast<int>(keep)),
                  20)
            << keep;
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(SGPKCS1_DecodeDigestInfo(&id, nullptr, nullptr, nullptr, nullptr, nullptr, 4), 11);
}

// While a validated module is current, PSS and OAEP over SHA-224 and SHA-256, generation of
// 2048- and 3072-bit keys with exponent 65537, and the operations on its key records go to it.
TEST_F(SGPKCS1Test, ModuleTakesPssOaepAndItsKeyRecords) {
    SharedKey& key = sharedKey();
    void* handle = dlopen(CRYPTO_TEST_MODULE, RTLD_NOW);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto calls = reinterpret_cast<int (*)(int)>(dlsym(handle, "testModuleCalls"));
    reinterpret_cast<void (*)(const char*, int, int)>(dlsym(handle, "testModuleConfigure"))(
        "QUENDRIL 1.0", 0, 0);
    ASSERT_EQ(SGCrypto_SetKCMVPModule(handle), 0);

    const Bytes message = text("to the module");
    Bytes out(256);
    unsigned length = 256;
    SGPKCS1Parameter p = pss(key.pair, SG_DIGEST_SHA256, SG_DIGEST_SHA224, 32);
    EXPECT_EQ(SGPKCS1_Sign(out.data(), &length, message.data(), 13, &p), 0);
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(&p.marker), 0);  // marked for the module
    EXPECT_EQ(SGPKCS1_Verify(out.data(), 256, message.data(), 13, &p), 0);
    SGPKCS1Parameter o = oaep(key.pair, SG_DIGEST_SHA224, SG_DIGEST_SHA256);
    EXPECT_EQ(SGPKCS1_Encrypt(out.data(), &length, message.data(), 13, &o), 0);
    EXPECT_EQ(SGPKCS1_Decrypt(out.data(), &length, out.data(), 256, &o), 0);
    // Each operation: the key object made (31 private, 26 public), used, and released (29, 24).
    const struct {
        int slot, count;
    } expected[] = {{19, 1}, {20, 1}, {21, 1}, {22, 1}, {31, 2}, {26, 2}, {29, 2}, {24, 2}};
    for (const auto& e : expected) EXPECT_EQ(calls(e.slot), e.count) << "slot " << e.slot;

    // Other schemes and hashes stay in the library and give real results.
    SGPKCS1Parameter v15 = v15Signature(key.pair, SG_DIGEST_SHA256);
    EXPECT_EQ(verify(v15, sign(v15, message), message), 0);
    SGPKCS1Parameter pss1 = pss(key.pair, SG_DIGEST_SHA1, SG_DIGEST_SHA256, 20);
    EXPECT_EQ(verify(pss1, sign(pss1, message), message), 0);
    SGPKCS1Parameter oaep1 = oaep(key.pair, SG_DIGEST_SHA256, SG_DIGEST_SHA1);
    EXPECT_EQ(hex(decrypt(oaep1, encrypt(oaep1, message))), hex(message));
    EXPECT_EQ(calls(19) + calls(20) + calls(21) + calls(22), 4);

    // Generation: only 2048 and 3072 bits with 65537 go to the module.
    KeyPair own;
    ASSERT_EQ(SGRSA_GenerateKeyPair(&own.priv, &own.pub, 1024, 65537), 0);
    EXPECT_EQ(SGRSA_ProveKeyPair(&own.priv, &own.pub), 0);
    EXPECT_EQ(calls(34), 0);
    SGRSAPrivateKey priv{};
    SGRSAPublicKey pub{};
    ASSERT_EQ(SGRSA_GenerateKeyPair(&priv, &pub, 2048, 65537), 0);
    EXPECT_EQ(calls(34), 1);
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(&priv.marker), 0);
    EXPECT_EQ(SGCrypto_Structure_IsLegacy(&pub.marker), 0);
    int size = 0;
    unsigned char item[8];
    unsigned itemLength = sizeof item;
    EXPECT_EQ(SGRSAPublicKey_Encode(nullptr, &itemLength, &pub), 0);
    EXPECT_EQ(SGRSAPrivateKey_Encode(nullptr, &itemLength, &priv), 0);
    EXPECT_EQ(SGRSAPublicKey_SetItem(&pub, item, 1, SG_RSA_PUBLIC_E), 0);
    EXPECT_EQ(SGRSAPublicKey_GetItem(item, &itemLength, &pub, SG_RSA_PUBLIC_E), 0);
    EXPECT_EQ(SGRSAPublicKey_GetKeySize(&size, &pub), 0);
    EXPECT_EQ(SGRSAPrivateKey_GetItem(item, &itemLength, &priv, SG_RSA_PRIVATE_E), 0);
    EXPECT_EQ(SGRSAPrivateKey_GetKeySize(&size, &priv), 0);
    SGRSAPublicKey_Free(&pub);
    SGRSAPrivateKey_Free(&priv);
    const struct {
        int slot, count;
    } keys[] = {{25, 1}, {30, 1}, {27, 1}, {28, 2}, {33, 2}, {24, 3}, {29, 3}};
    for (const auto& e : keys) EXPECT_EQ(calls(e.slot), e.count) << "slot " << e.slot;

    SGCrypto_Finalize();
    SGCrypto_Initialize();
    dlclose(handle);
}

TEST_F(SGPKCS1Test, TableSlotsHoldTheSchemes) {
    void* t[SG_CRYPTO_TABLE_SLOTS];
    ASSERT_EQ(SGCryptoWrapper_GetList(t), 0);
    EXPECT_EQ(t[98], reinterpret_cast<void*>(&SGPKCS1_Sign));
    EXPECT_EQ(t[99], reinterpret_cast<void*>(&SGPKCS1_Verify));
    EXPECT_EQ(t[100], reinterpret_cast<void*>(&SGPKCS1_Encrypt));
    EXPECT_EQ(t[101], reinterpret_cast<void*>(&SGPKCS1_Decrypt));
    EXPECT_EQ(t[102], reinterpret_cast<void*>(&SGPKCS1_CreateDigestInfo));
    EXPECT_EQ(t[103], reinterpret_cast<void*>(&SGPKCS1_DecodeDigestInfo));
}
