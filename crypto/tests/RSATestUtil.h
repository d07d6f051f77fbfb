// Helpers of the RSA tests: key records that free themselves, keys from and to OpenSSL, and
// readers of the published RSA vector files.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CryptoTestUtil.h"
#include "SGPKCS1.h"
#include "SGRSA.h"

namespace rsatest {

using cryptotest::Bytes;

struct EvpKeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using EvpKey = std::unique_ptr<EVP_PKEY, EvpKeyFree>;
struct EvpCtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using EvpCtx = std::unique_ptr<EVP_PKEY_CTX, EvpCtxFree>;

// A private and a public record that are released with the test.
struct KeyPair {
    KeyPair() = default;
    KeyPair(const KeyPair&) = delete;
    KeyPair& operator=(const KeyPair&) = delete;
    ~KeyPair() {
        SGRSAPrivateKey_Free(&priv);
        SGRSAPublicKey_Free(&pub);
    }
    int bytes() const { return BN_num_bytes(pub.n); }
    SGRSAPrivateKey priv{};
    SGRSAPublicKey pub{};
};

inline Bytes i2dPrivate(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int n = i2d_PrivateKey(key, &der);  // PKCS #1 RSAPrivateKey for RSA keys
    EXPECT_GT(n, 0);
    Bytes out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    return out;
}

inline Bytes i2dPublic(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int n = i2d_PublicKey(key, &der);  // PKCS #1 RSAPublicKey
    EXPECT_GT(n, 0);
    Bytes out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    return out;
}

inline Bytes i2dSubjectPublicKeyInfo(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int n = i2d_PUBKEY(key, &der);
    EXPECT_GT(n, 0);
    Bytes out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    return out;
}

inline EvpKey generateEvp(unsigned bits, unsigned exponent = 65537) {
    EvpCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    BIGNUM* e = BN_new();
    BN_set_word(e, exponent);
    EXPECT_EQ(EVP_PKEY_keygen_init(ctx.get()), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e), 1);
    EXPECT_EQ(EVP_PKEY_keygen(ctx.get(), &key), 1);
    BN_free(e);
    return EvpKey(key);
}

// Our records decoded from OpenSSL's DER of the key.
inline void loadFromEvp(KeyPair& pair, EVP_PKEY* key) {
    Bytes priv = i2dPrivate(key), pub = i2dPublic(key);
    ASSERT_EQ(SGRSAPrivateKey_Decode(&pair.priv, priv.data(), static_cast<int>(priv.size())), 0);
    ASSERT_EQ(SGRSAPublicKey_Decode(&pair.pub, pub.data(), static_cast<int>(pub.size())), 0);
}

// OpenSSL's key from our record's DER.
inline EvpKey evpFromPrivate(const SGRSAPrivateKey& key) {
    unsigned n = 0;
    EXPECT_EQ(SGRSAPrivateKey_Encode(nullptr, &n, &key), 0);
    Bytes der(n);
    EXPECT_EQ(SGRSAPrivateKey_Encode(der.data(), &n, &key), 0);
    const unsigned char* p = der.data();
    return EvpKey(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size())));
}

inline EvpKey evpFromPublic(const SGRSAPublicKey& key) {
    unsigned n = 0;
    EXPECT_EQ(SGRSAPublicKey_Encode(nullptr, &n, &key), 0);
    Bytes der(n);
    EXPECT_EQ(SGRSAPublicKey_Encode(der.data(), &n, &key), 0);
    const unsigned char* p = der.data();
    return EvpKey(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size())));
}

// The items of a key as the vector files give them.
struct VectorKey {
    Bytes n, e, d = {}, p = {}, q = {}, dP = {}, dQ = {}, qInv = {};
};

inline void loadKey(KeyPair& pair, const VectorKey& k) {
    ASSERT_EQ(SGRSAPublicKey_SetItem(&pair.pub, k.n.data(), k.n.size(), SG_RSA_PUBLIC_N), 0);
    ASSERT_EQ(SGRSAPublicKey_SetItem(&pair.pub, k.e.data(), k.e.size(), SG_RSA_PUBLIC_E), 0);
    const Bytes* items[] = {&k.n, &k.e, &k.d, &k.p, &k.q, &k.dP, &k.dQ, &k.qInv};
    for (int i = 0; i < 8; ++i) {
        if (items[i]->empty()) continue;
        ASSERT_EQ(SGRSAPrivateKey_SetItem(&pair.priv, items[i]->data(),
                                          static_cast<int>(items[i]->size()), i),
                  0);
    }
}

// The primes of a key given by n, e and d, and its CRT values.
inline void completeFromPrivateExponent(VectorKey& k) {
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM *n = BN_bin2bn(k.n.data(), k.n.size(), nullptr),
           *e = BN_bin2bn(k.e.data(), k.e.size(), nullptr),
           *d = BN_bin2bn(k.d.data(), k.d.size(), nullptr);
    BIGNUM *t = BN_new(), *g = BN_new(), *x = BN_new(), *y = BN_new(), *n1 = BN_new(),
           *p = BN_new(), *q = BN_new(), *tmp = BN_new();
    // d e - 1 = 2^s t: some g^(t 2^i) is a non-trivial square root of 1, revealing a factor.
    BN_mul(t, d, e, ctx);
    BN_sub_word(t, 1);
    int s = 0;
    while (!BN_is_odd(t)) {
        BN_rshift1(t, t);
        ++s;
    }
    BN_copy(n1, n);
    BN_sub_word(n1, 1);
    bool found = false;
    for (BN_ULONG base = 2; base < 200 && !found; ++base) {
        BN_set_word(g, base);
        BN_mod_exp(x, g, t, n, ctx);
        for (int i = 0; i < s && !found; ++i) {
            BN_mod_sqr(y, x, n, ctx);
            if (BN_is_one(y) && !BN_is_one(x) && BN_cmp(x, n1) != 0) {
                BN_sub(tmp, x, BN_value_one());
                BN_gcd(p, tmp, n, ctx);
                BN_div(q, nullptr, n, p, ctx);
                found = true;
            }
            if (BN_is_one(y)) break;
            BN_copy(x, y);
        }
    }
    EXPECT_TRUE(found);
    auto bytes = [](const BIGNUM* b) {
        Bytes out(BN_num_bytes(b));
        BN_bn2bin(b, out.data());
        return out;
    };
    k.p = bytes(p);
    k.q = bytes(q);
    BN_sub(tmp, p, BN_value_one());
    BN_mod(x, d, tmp, ctx);
    k.dP = bytes(x);
    BN_sub(tmp, q, BN_value_one());
    BN_mod(x, d, tmp, ctx);
    k.dQ = bytes(x);
    BN_mod_inverse(x, q, p, ctx);
    k.qInv = bytes(x);
    for (BIGNUM* b : {n, e, d, t, g, x, y, n1, p, q, tmp}) BN_clear_free(b);
    BN_CTX_free(ctx);
}

// Hex of any length: an odd digit count ("10001") has an implied leading zero.
inline Bytes unhexOdd(const std::string& hex) {
    return cryptotest::unhex(hex.size() % 2 ? "0" + hex : hex);
}

inline std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

// One example of the "# Label:" vector files: its key, the example's header line and its
// message, salt or seed, and signature or ciphertext.
struct HashVector {
    VectorKey key;
    std::string header;
    Bytes message, salt, output;
};

inline std::vector<HashVector> readHashVectors(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::vector<HashVector> out;
    VectorKey key;
    HashVector current;
    std::string label, value, header;
    bool privateSection = false;
    auto finish = [&] {
        if (label.empty()) return;
        Bytes bytes = unhexOdd(value);
        if (label == "Modulus") {
            if (!privateSection) key = VectorKey{};
            key.n = bytes;
        } else if (label == "Exponent") {
            (privateSection ? key.d : key.e) = bytes;
        } else if (label == "Public exponent") {
            key.e = bytes;
        } else if (label == "Prime 1") {
            key.p = bytes;
        } else if (label == "Prime 2") {
            key.q = bytes;
        } else if (label == "Prime exponent 1") {
            key.dP = bytes;
        } else if (label == "Prime exponent 2") {
            key.dQ = bytes;
        } else if (label == "Coefficient") {
            key.qInv = bytes;
        } else if (label.rfind("Message", 0) == 0) {
            current = HashVector{};
            current.message = bytes;
        } else if (label == "Salt" || label == "Seed") {
            current.salt = bytes;
        } else if (label == "Signature" || label == "Encryption") {
            current.output = bytes;
            current.key = key;
            current.header = header;
            out.push_back(current);
        }
        label.clear();
        value.clear();
    };
    std::string line;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.rfind("#", 0) == 0) {
            finish();
            const std::string text = line.size() > 2 ? line.substr(2) : "";
            if (text == "Public key") privateSection = false;
            if (text == "Private key") privateSection = true;
            if (text.find("Example") != std::string::npos) header = text;
            if (!text.empty() && text.back() == ':' && text.find(' ') != 0)
                label = text.substr(0, text.size() - 1);
            continue;
        }
        if (label.empty()) continue;
        for (char c : line)
            if (std::isxdigit(static_cast<unsigned char>(c))) value += c;
    }
    finish();
    return out;
}

// One record of a NIST CAVP .rsp file, with the key in force at that point.
struct FipsVector {
    Bytes n, e, d;
    std::string sha, result;
    Bytes msg, s, salt;
};

inline std::vector<FipsVector> readFips(const std::string& path, bool verification) {
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::vector<FipsVector> out;
    FipsVector current;
    std::string line;
    while (std::getline(in, line)) {
        line = trimmed(line);
        const auto eq = line.find(" = ");
        if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq), value = line.substr(eq + 3);
        if (name == "n") current.n = unhexOdd(value);
        if (name == "e") current.e = unhexOdd(value);
        if (name == "d") current.d = unhexOdd(value);
        if (name == "SHAAlg") current.sha = value;
        if (name == "Msg") current.msg = unhexOdd(value);
        if (name == "SaltVal") current.salt = unhexOdd(value);
        if (name == "S") {
            current.s = unhexOdd(value);
            if (!verification) out.push_back(current);
        }
        if (name == "Result") {
            current.result = value;
            out.push_back(current);
        }
    }
    return out;
}

inline int hashIdOf(const std::string& name) {
    static const std::map<std::string, int> ids = {
        {"SHA1", 3},   {"sha1", 3},   {"SHA224", 4}, {"sha224", 4}, {"SHA256", 5},
        {"sha256", 5}, {"SHA384", 6}, {"sha384", 6}, {"SHA512", 7}, {"sha512", 7}};
    auto it = ids.find(name);
    return it == ids.end() ? 0 : it->second;
}

inline const EVP_MD* evpDigest(int hashId) {
    switch (hashId) {
        case 3:
            return EVP_sha1();
        case 4:
            return EVP_sha224();
        case 5:
            return EVP_sha256();
        case 6:
            return EVP_sha384();
        case 7:
            return EVP_sha512();
        default:
            return nullptr;
    }
}

}  // namespace rsatest
