// PKCS #12 files with several certificate-and-key pairs, built with libcrypto (the openssl
// command line puts one key into a file). Each pair's certificate and key bag carry the same
// localKeyId; the certificates go into a triple-DES EncryptedData safe, the keys shrouded with
// triple DES into a plain safe, and the MAC is HMAC-SHA-1 with 2048 iterations, as
// `openssl pkcs12 -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -iter 2048` writes.
// A key of an algorithm libcrypto does not know (KCDSA) is given as its PrivateKeyInfo DER and
// shrouded as it is. Tests that include this link libcrypto.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "TestKit.h"

namespace testkit {

struct Pkcs12Pair {
    fs::path certificatePem;   // PEM or DER
    fs::path keyPem;           // PEM or PrivateKeyInfo DER; empty: a certificate without its key
    std::string localKeyId;    // bytes of the attribute; empty: none
    std::string friendlyName;  // empty: none
};

// A PrivateKeyInfo DER as libcrypto's record, whatever its algorithm; null when it does not
// decode.
inline PKCS8_PRIV_KEY_INFO* pkcs8Of(const Bytes& der) {
    const unsigned char* p = der.data();
    return der.empty() ? nullptr
                       : d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size()));
}

// The DER of the file, empty when libcrypto refused something.
inline Bytes buildPkcs12(const std::vector<Pkcs12Pair>& pairs, const std::string& password) {
    constexpr int kIterations = 2048;
    const int pbe = NID_pbe_WithSHA1And3_Key_TripleDES_CBC;
    STACK_OF(PKCS12_SAFEBAG)* certBags = nullptr;
    STACK_OF(PKCS12_SAFEBAG)* keyBags = nullptr;
    bool ok = true;
    for (const auto& pair : pairs) {
        // PEM or DER.
        const Bytes certBytes = readBytes(pair.certificatePem);
        BIO* bio = BIO_new_mem_buf(certBytes.data(), static_cast<int>(certBytes.size()));
        X509* x = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
        BIO_free(bio);
        if (!x) {
            const unsigned char* p = certBytes.data();
            x = d2i_X509(nullptr, &p, static_cast<long>(certBytes.size()));
        }
        PKCS12_SAFEBAG* certBag = x ? PKCS12_add_cert(&certBags, x) : nullptr;
        PKCS12_SAFEBAG* keyBag = nullptr;
        if (!pair.keyPem.empty()) {
            FILE* f = std::fopen(pair.keyPem.c_str(), "r");
            EVP_PKEY* key = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
            if (f) std::fclose(f);
            if (key) {
                keyBag = PKCS12_add_key(&keyBags, key, 0, kIterations, pbe, password.c_str());
            } else if (PKCS8_PRIV_KEY_INFO* info = pkcs8Of(readBytes(pair.keyPem))) {
                keyBag = PKCS12_SAFEBAG_create_pkcs8_encrypt(pbe, password.c_str(), -1, nullptr, 0,
                                                             kIterations, info);
                if (keyBag && !keyBags) keyBags = sk_PKCS12_SAFEBAG_new_null();
                if (keyBag && (!keyBags || !sk_PKCS12_SAFEBAG_push(keyBags, keyBag))) {
                    PKCS12_SAFEBAG_free(keyBag);
                    keyBag = nullptr;
                }
                PKCS8_PRIV_KEY_INFO_free(info);
            }
            EVP_PKEY_free(key);
            ok = ok && keyBag;
        }
        ok = ok && certBag;
        for (PKCS12_SAFEBAG* bag : {certBag, keyBag}) {
            if (!bag) continue;
            if (!pair.localKeyId.empty())
                ok = ok && PKCS12_add_localkeyid(bag,
                                                 reinterpret_cast<unsigned char*>(
                                                     const_cast<char*>(pair.localKeyId.data())),
                                                 static_cast<int>(pair.localKeyId.size()));
            if (!pair.friendlyName.empty())
                ok = ok && PKCS12_add_friendlyname_utf8(bag, pair.friendlyName.c_str(), -1);
        }
        X509_free(x);
    }
    STACK_OF(PKCS7)* safes = nullptr;
    if (ok && certBags)
        ok = PKCS12_add_safe(&safes, certBags, pbe, kIterations, password.c_str()) == 1;
    if (ok && keyBags) ok = PKCS12_add_safe(&safes, keyBags, -1, 0, nullptr) == 1;
    PKCS12* p12 = ok ? PKCS12_add_safes(safes, 0) : nullptr;
    Bytes der;
    if (p12 && PKCS12_set_mac(p12, password.c_str(), -1, nullptr, 0, kIterations, EVP_sha1())) {
        unsigned char* out = nullptr;
        const int length = i2d_PKCS12(p12, &out);
        if (length > 0) der.assign(out, out + length);
        OPENSSL_free(out);
    }
    PKCS12_free(p12);
    sk_PKCS7_pop_free(safes, PKCS7_free);
    sk_PKCS12_SAFEBAG_pop_free(certBags, PKCS12_SAFEBAG_free);
    sk_PKCS12_SAFEBAG_pop_free(keyBags, PKCS12_SAFEBAG_free);
    return der;
}

}  // namespace testkit
