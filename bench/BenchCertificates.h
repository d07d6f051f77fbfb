// Certificates the PKI benchmarks make with OpenSSL: a small hierarchy and the many other CA
// certificates it hides among.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace benchpki {

using Bytes = std::vector<unsigned char>;

inline void addExtension(X509* x, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
}

// A distribution point of one URI, built directly: an LDAP URL holds commas, which the text
// form of the extension would split at.
inline void addDistributionPoint(X509* x, const std::string& url) {
    ASN1_IA5STRING* text = ASN1_IA5STRING_new();
    ASN1_STRING_set(text, url.data(), static_cast<int>(url.size()));
    GENERAL_NAME* name = GENERAL_NAME_new();
    GENERAL_NAME_set0_value(name, GEN_URI, text);
    DIST_POINT* point = DIST_POINT_new();
    point->distpoint = DIST_POINT_NAME_new();
    point->distpoint->type = 0;
    point->distpoint->name.fullname = sk_GENERAL_NAME_new_null();
    sk_GENERAL_NAME_push(point->distpoint->name.fullname, name);
    CRL_DIST_POINTS* points = sk_DIST_POINT_new_null();
    sk_DIST_POINT_push(points, point);
    X509_add1_ext_i2d(x, NID_crl_distribution_points, points, 0, X509V3_ADD_DEFAULT);
    CRL_DIST_POINTS_free(points);
}

// "C=KR, O=<organization>, CN=<cn>".
inline X509_NAME* nameOf(const std::string& organization, const std::string& cn) {
    X509_NAME* name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("KR"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(organization.c_str()), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    return name;
}

// A certificate of the subject CN for the key, signed by the issuer (itself when null), valid
// from a day ago for ten years; with a distribution point when one is given.
inline X509* makeCertificate(const std::string& cn, long serial, EVP_PKEY* key, X509* issuer,
                             EVP_PKEY* issuerKey, bool ca, const std::string& keyIdentifier,
                             const std::string& distributionPoint = "",
                             const std::string& organization = "KISA") {
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -86400);
    X509_gmtime_adj(X509_getm_notAfter(x), 3650L * 86400);
    X509_NAME* name = nameOf(organization, cn);
    X509_set_subject_name(x, name);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name);
    X509_NAME_free(name);
    X509_set_pubkey(x, key);
    X509* signer = issuer ? issuer : x;
    addExtension(x, signer, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
    addExtension(x, signer, NID_key_usage,
                 ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    addExtension(x, signer, NID_subject_key_identifier, keyIdentifier);
    if (issuer) addExtension(x, issuer, NID_authority_key_identifier, "keyid");
    if (!distributionPoint.empty()) addDistributionPoint(x, distributionPoint);
    X509_sign(x, issuerKey, EVP_sha256());
    return x;
}

inline Bytes derOf(X509* x) {
    unsigned char* out = nullptr;
    const int n = i2d_X509(x, &out);
    Bytes bytes(out, out + (n > 0 ? n : 0));
    OPENSSL_free(out);
    return bytes;
}

inline Bytes derOf(X509_CRL* crl) {
    unsigned char* out = nullptr;
    const int n = i2d_X509_CRL(crl, &out);
    Bytes bytes(out, out + (n > 0 ? n : 0));
    OPENSSL_free(out);
    return bytes;
}

// count - 2 CA certificates "Other CA <i>" for the subject key, each with its own explicit key
// identifier, from an issuer outside the set with a P-256 key (so that making them is quick),
// handed to add in order; middle runs halfway, where the callers put their own chain's CAs.
inline void otherCertificates(int count, EVP_PKEY* subjectKey,
                              const std::function<void(X509*)>& add,
                              const std::function<void()>& middle) {
    EVP_PKEY* otherKey = EVP_EC_gen("P-256");
    X509* otherIssuer =
        makeCertificate("Other Issuer", 4, otherKey, nullptr, otherKey, true, "hash");
    for (int i = 0; i < count - 2; ++i) {
        if (i == count / 2) middle();
        char ski[64];
        std::snprintf(ski, sizeof ski, "%040X", i + 0x100);
        X509* other = makeCertificate("Other CA " + std::to_string(i), 100 + i, subjectKey,
                                      otherIssuer, otherKey, true, ski);
        add(other);
        X509_free(other);
    }
    X509_free(otherIssuer);
    EVP_PKEY_free(otherKey);
}

}  // namespace benchpki
